#include <algorithm>
#include <new>

#include "processing/routine_common.h"
#include "processing/routines.h"

using namespace processing_detail;

namespace {
constexpr int32_t kUnset = 99999999;   // a position not yet reached
constexpr int32_t kAccept = 9999999;   // a chain must total less to be accepted
constexpr int32_t kPenalty = 999999;   // predecessor cost where a window holds nothing better
constexpr int32_t kBackStart = 999999999;
}  // namespace

int detectPulsesUnfixed(MessageSink& messages, const Alphabet& alphabet, std::span<const uint16_t> list,
                        uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                        SeriesHeader& series) {
    const char* caption = " detectPulsesUnfixed ";
    SeriesView view{};
    if (!checkSeries(messages, caption, series, Tmin, Tmax, view) ||
        !checkEtalons(messages, caption, alphabet, list, view.n) ||
        !checkChains(messages, caption, chains, std::max(view.Kmax, view.maxChain)))
        return 0;

    LocalMatcher matcher;
    Walks walks;
    std::vector<LocalMatch> q;  // local match per position
    std::vector<int32_t> r, b;  // best total of a chain ending here, and its predecessor
    try {
        matcher.prepare(alphabet, list, view.n, pct);
        q.assign(static_cast<size_t>(view.N), LocalMatch{kUnset, 0, 0, static_cast<int16_t>(view.n - 1)});
        r.resize(static_cast<size_t>(view.N));  // the walk sets every total to kUnset first
        b.assign(static_cast<size_t>(view.N), kUnset);
        if (!makeWalks(view, Tmin, Tmax, walks)) throw std::bad_alloc();
    } catch (const std::bad_alloc&) {
        messages.messageBox("Нет памяти для indexes!", "", MessageIcon::None);
        return 0;
    }
    if (chains) resetChainsForRun(*chains, 0, 0, view.Kmax);

    const int16_t* y = series.lpNoisyData;
    {
        MatchTable table;
        matchWalked(matcher, -1, y, walks.any, table, q);
    }
    walkPulseChains(walks, q, Tmin, Tmax, kUnset, r, b);

    int32_t total = kUnset, end = -1;
    for (const int32_t l : walks.last)
        if (r[l] < total) {
            total = r[l];
            end = l;
        }

    std::vector<ChainPulse> chain;
    if (end >= 0 && total < kAccept) {
        for (int32_t p = end; p >= 0 && p < view.N; p = b[p])
            chain.push_back(chainPulse(p, q[p]));
        std::reverse(chain.begin(), chain.end());
    } else {
        total = kAccept;
    }
    writeFound(series, chain);
    if (chains) {
        insertChain(*chains, total, chain);
        chains->wSeekingPulsesQuantity = static_cast<uint16_t>(chains->chainPulses[0]);
    }
    return 1;
}

int detectPulsesFixed(MessageSink& messages, const Alphabet& alphabet, std::span<const uint16_t> list,
                      uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                      SeriesHeader& series) {
    const char* caption = " detectPulsesFixed ";
    SeriesView view{};
    if (!checkSeries(messages, caption, series, Tmin, Tmax, view) ||
        !checkRanges(messages, caption, series, Tmin, Tmax, view) ||
        !checkEtalons(messages, caption, alphabet, list, view.n) ||
        !checkChains(messages, caption, chains, view.K))
        return 0;

    const Ranges ranges = readRanges(series, view.K);
    LocalMatcher matcher;
    MatchTable table;
    LayeredWork<int32_t, 1> D;
    std::vector<ChainPulse> chain;
    int32_t distance;
    try {
        matcher.prepare(alphabet, list, view.n, pct);
        // The match at a position does not depend on the layer: computed once for every
        // position of any layer's range.
        const int32_t lo = *std::min_element(ranges.lo.begin(), ranges.lo.end());
        const int32_t hi = *std::max_element(ranges.hi.begin(), ranges.hi.end());
        fillMatchTable(matcher, -1, series.lpNoisyData, lo, hi, table);
        const std::vector<const MatchTable*> layers(static_cast<size_t>(view.K), &table);
        distance = layeredChain(ranges, layers, Tmin, Tmax, kPenalty, kAccept, kBackStart, D, chain);
    } catch (const std::bad_alloc&) {
        messages.messageBox("Нет памяти для ppDw[m]!", "", MessageIcon::None);
        return 0;
    }
    if (chains) {
        const uint16_t K = static_cast<uint16_t>(view.K);
        resetChainsForRun(*chains, K, K, K);
        insertChain(*chains, distance, chain);
    }
    writeFound(series, chain);
    return 1;
}
