#include <algorithm>
#include <new>

#include "processing/routine_common.h"
#include "processing/routines.h"

using namespace processing_detail;

namespace {
constexpr int32_t kFar = 999999999;    // unknown count: every "not yet found" value
constexpr int32_t kAccept = 9999999;   // known count: a chain must total less
constexpr int32_t kPenalty = 999999;

struct Result {
    std::vector<ChainPulse> chain;
    int m = 0;  // length of the tuple that gave it
    int s = 0;  // its starting member
};

bool checkTuples(MessageSink& messages, const char* caption, const Alphabet& alphabet,
                 std::span<const std::span<const int32_t>> tuples, int32_t n,
                 std::vector<std::vector<uint16_t>>& members) {
    if (tuples.empty()) {
        refuse(messages, caption, "There are no stored tuples to recognise.");
        return false;
    }
    members.resize(tuples.size());
    for (size_t t = 0; t < tuples.size(); ++t)
        if (!tupleNumbers(messages, caption, tuples[t], members[t]) ||
            !checkEtalons(messages, caption, alphabet, members[t], n))
            return false;
    return true;
}

void writeResult(SeriesHeader& series, const Result& result) {
    writeFound(series, result.chain);
    series.wFoundGroups = static_cast<int16_t>(formGroups(static_cast<int>(result.chain.size()), result.m,
                                                          result.s, series.lpFoundGroupPosition,
                                                          series.lpFoundGroupValue));
}
}  // namespace

int32_t recognizeTuplesUnfixed(MessageSink& messages, const Alphabet& alphabet,
                               std::span<const std::span<const int32_t>> tuples, uint16_t mode,
                               uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                               SeriesHeader& series, int* debugRepeat) {
    (void)mode;  // every tuple is tried from member 0
    const char* caption = " recognizeTuplesUnfixed ";
    SeriesView view{};
    std::vector<std::vector<uint16_t>> members;
    if (!checkSeries(messages, caption, series, Tmin, Tmax, view) ||
        !checkTuples(messages, caption, alphabet, tuples, view.n, members) ||
        !checkChains(messages, caption, chains, std::max(view.Kmax, view.maxChain)))
        return 0;
    if (view.Kmax < 1) {
        refuse(messages, caption, "The series admits no pulses.");
        return 0;
    }

    Walks walks;
    CyclicWork work;
    std::vector<ChainPulse> chain;
    std::vector<std::vector<ChainPulse>> chainOf(tuples.size());
    std::vector<int32_t> distanceOf(tuples.size());
    try {
        if (!makeWalks(view, Tmin, Tmax, walks)) throw std::bad_alloc();
        for (size_t t = 0; t < tuples.size(); ++t) {
            std::vector<uint16_t> layers = members[t];
            layers.resize(static_cast<size_t>(std::min<int32_t>(view.Kmax, static_cast<int32_t>(layers.size()))));
            LocalMatcher matcher;
            matcher.prepare(alphabet, layers, view.n, pct);
            distanceOf[t] = cyclicTupleChain(messages, matcher, series.lpNoisyData, view, walks, Tmin, Tmax, kFar,
                                             debugRepeat && *debugRepeat, work, chainOf[t]);
        }
    } catch (const std::bad_alloc&) {
        messages.messageBox("Нет памяти для G_on_layers!", "", MessageIcon::None);
        return 0;
    }

    if (chains) resetChainsForRun(*chains, 0, 0, view.Kmax);
    int32_t bestSoFar = kFar, recognised = 0;
    Result result;
    for (size_t t = 0; t < tuples.size(); ++t) {
        if (distanceOf[t] < bestSoFar) {
            bestSoFar = distanceOf[t];
            recognised = static_cast<int32_t>(t) + 1;
            result = {chainOf[t], static_cast<int>(members[t].size()), 0};
        }
        insertIfGiven(chains, distanceOf[t], chainOf[t]);
    }
    writeResult(series, result);
    series.wResultCode = static_cast<int16_t>(recognised);
    if (chains) chains->wSeekingPulsesQuantity = static_cast<uint16_t>(result.chain.size());
    if (debugRepeat) *debugRepeat = 0;
    return recognised;
}

int32_t recognizeTuplesFixed(MessageSink& messages, const Alphabet& alphabet,
                             std::span<const std::span<const int32_t>> tuples, uint16_t mode,
                             uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                             SeriesHeader& series) {
    const char* caption = " recognizeTuplesFixed ";
    SeriesView view{};
    std::vector<std::vector<uint16_t>> members;
    if (!checkSeries(messages, caption, series, Tmin, Tmax, view) ||
        !checkRanges(messages, caption, series, Tmin, Tmax, view) ||
        !checkTuples(messages, caption, alphabet, tuples, view.n, members) ||
        !checkChains(messages, caption, chains, view.K))
        return 0;

    const Ranges ranges = readRanges(series, view.K);
    const int32_t lo = *std::min_element(ranges.lo.begin(), ranges.lo.end());
    const int32_t hi = *std::max_element(ranges.hi.begin(), ranges.hi.end());
    struct Candidate {
        int32_t distance;
        std::vector<ChainPulse> chain;
        int t, s;
    };
    std::vector<Candidate> candidates;
    try {
        MemberTables tables;
        LayeredWork<int32_t, 1> D;
        std::vector<const MatchTable*> layers(static_cast<size_t>(view.K));
        for (size_t t = 0; t < tuples.size(); ++t) {
            const int m = static_cast<int>(members[t].size());
            fillMemberTables(alphabet, members[t], view.n, pct, series.lpNoisyData, lo, hi, tables);
            for (int s = 0; s < (mode == 1 ? 1 : m); ++s) {
                for (int32_t j = 0; j < view.K; ++j) layers[j] = tables.ofMember[(j + s) % m];
                Candidate c{0, {}, static_cast<int>(t), s};
                c.distance = layeredChain(ranges, layers, Tmin, Tmax, kPenalty, kAccept, kPenalty, D, c.chain);
                candidates.push_back(std::move(c));
            }
        }
    } catch (const std::bad_alloc&) {
        messages.messageBox("Нет памяти для ppDw[]!", "", MessageIcon::None);
        return 0;
    }

    if (chains) {
        const uint16_t K = static_cast<uint16_t>(view.K);
        resetChainsForRun(*chains, K, K, K);
    }
    int32_t bestSoFar = kAccept, recognised = 0;
    const Candidate* best = nullptr;
    for (const Candidate& c : candidates) {
        if (c.distance < bestSoFar) {
            bestSoFar = c.distance;
            recognised = c.t + 1;
            best = &c;
        }
        insertIfGiven(chains, c.distance, c.chain);
    }
    series.wFoundPulses = static_cast<uint16_t>(view.K);
    series.wResultCode = static_cast<int16_t>(recognised);
    // Without a recognised tuple there is no result chain: found lists and groups stay.
    if (best) writeResult(series, {best->chain, static_cast<int>(members[best->t].size()), best->s});
    if (chains) chains->wSeekingPulsesQuantity = static_cast<uint16_t>(view.K);
    return recognised;
}
