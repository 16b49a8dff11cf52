#include <algorithm>
#include <new>

#include "processing/routine_common.h"
#include "processing/routines.h"

using namespace processing_detail;

namespace {
constexpr int32_t kUnset = 99999999;
constexpr int32_t kRecognise = 9999999;  // unknown count: a candidate must total less
constexpr int32_t kFar = 999999999;      // known count: start of every search
}  // namespace

int16_t recognizePulsesUnfixed(MessageSink& window, const Alphabet& alphabet,
                               std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                               uint16_t pct, ChainsHeader* chains, SeriesHeader& series) {
    const char* caption = " recognizePulsesUnfixed ";
    SeriesView view{};
    if (!checkSeries(window, caption, series, Tmin, Tmax, view) ||
        !checkEtalons(window, caption, alphabet, list, view.n))
        return -1;
    if (!chains) {
        refuse(window, caption, "Recognition with an unknown pulse count needs a chains table.");
        return -1;
    }
    if (!checkChains(window, caption, chains, std::max(view.Kmax, view.maxChain))) return -1;

    LocalMatcher matcher;
    Walks walks;
    try {
        matcher.prepare(alphabet, list, view.n, pct);
    } catch (const std::bad_alloc&) {
        window.messageBox("Нет памяти для indexes!", "", MessageIcon::None);
        return -1;
    }
    chains->wPretenders = 0;
    chains->wQuanPulses = series.wImpulseQuantity;
    chains->wSeekingPulsesQuantity = 0;

    std::vector<LocalMatch> q;
    std::vector<int32_t> r, b;
    try {
        q.resize(static_cast<size_t>(view.N));
        r.resize(static_cast<size_t>(view.N));
        b.resize(static_cast<size_t>(view.N));
        if (!makeWalks(view, Tmin, Tmax, walks)) throw std::bad_alloc();
    } catch (const std::bad_alloc&) {
        // Without work memory no candidate is processed.
        series.wFoundPulses = 0;
        return -1;
    }

    const int16_t* y = series.lpNoisyData;
    int32_t bestSoFar = kRecognise;
    int16_t recognised = -1;
    std::vector<ChainPulse> chain;
    for (size_t i = 0; i < list.size(); ++i) {
        const int16_t v = static_cast<int16_t>(list[i]);
        // Only positions of the walks are read from q and b, and every one of them is written
        // below (the matches of the whole span of First ∪ Later go straight into q); r must
        // hold "not reached" everywhere else, since the predecessor windows read it.
        std::fill(r.begin(), r.end(), kUnset);
        if (!walks.any.empty())
            matcher.matchRange(y, walks.any.front(), walks.any.back(), q.data() + walks.any.front(),
                               static_cast<int>(i));
        walkPulseChains(walks, q, Tmin, Tmax, kUnset, r, b);

        int32_t total = kUnset;
        for (const int32_t l : walks.last)
            if (r[l] < total) total = r[l];
        if (total < bestSoFar) {
            bestSoFar = total;
            recognised = v;
        }

        // The chain goes into the table with no acceptance bound.
        int32_t distance = kFar, end = -1;
        for (const int32_t l : walks.last)
            if (r[l] < distance) {
                distance = r[l];
                end = l;
            }
        chain.clear();
        // Last lies within First ∪ Later, so every end was walked; the bounds only guard the
        // walk back.
        for (int32_t p = end; p >= 0 && p < view.N; p = b[p])
            chain.push_back(chainPulse(p, {q[p].score, v, q[p].cutStart, q[p].cutEnd}));
        std::reverse(chain.begin(), chain.end());
        insertChain(*chains, distance, chain);
        chains->wSeekingPulsesQuantity = static_cast<uint16_t>(chains->chainPulses[0]);
    }

    // The series receives the best row.
    series.wFoundPulses = chains->wSeekingPulsesQuantity;
    for (int j = 0; j < series.wFoundPulses; ++j) {
        series.lpFoundPosition[j] = chains->positionsList[0][j];
        series.lpFoundEtalon[j] = chains->pulsesList[0][j];
        series.lpFoundCutStart[j] = chains->cutStartList[0][j];
        series.lpFoundCutEnd[j] = chains->cutEndList[0][j];
    }
    return recognised;
}

int32_t recognizePulsesFixed(MessageSink& window, const Alphabet& alphabet,
                             std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                             uint16_t pct, ChainsHeader* chains, SeriesHeader& series) {
    const char* caption = " recognizePulsesFixed ";
    SeriesView view{};
    if (!checkSeries(window, caption, series, Tmin, Tmax, view) ||
        !checkRanges(window, caption, series, Tmin, Tmax, view) ||
        !checkEtalons(window, caption, alphabet, list, view.n) ||
        !checkChains(window, caption, chains, view.K))
        return -1;

    const Ranges ranges = readRanges(series, view.K);
    const int32_t lo = *std::min_element(ranges.lo.begin(), ranges.lo.end());
    const int32_t hi = *std::max_element(ranges.hi.begin(), ranges.hi.end());
    LocalMatcher matcher;
    MatchTable table;
    std::vector<std::vector<int32_t>> D;
    std::vector<ChainPulse> chain, bestChain;
    std::vector<const MatchTable*> layers(static_cast<size_t>(view.K), &table);
    try {
        matcher.prepare(alphabet, list, view.n, pct);
        table.at.reserve(static_cast<size_t>(hi - lo + 1));
        D.assign(static_cast<size_t>(view.K), {});
    } catch (const std::bad_alloc&) {
        window.messageBox("Нет памяти для ppDw!", "", MessageIcon::None);
        return -1;
    }
    if (chains) {
        const uint16_t K = static_cast<uint16_t>(view.K);
        resetChainsForRun(*chains, K, K, K);
    }

    int32_t bestSoFar = kFar, recognised = -1;
    for (size_t i = 0; i < list.size(); ++i) {
        fillMatchTable(matcher, static_cast<int>(i), series.lpNoisyData, lo, hi, table);
        const int32_t distance = layeredChain(ranges, layers, Tmin, Tmax, kFar, kFar, kFar, D, chain);
        insertIfGiven(chains, distance, chain);
        if (distance < bestSoFar) {
            bestSoFar = distance;
            recognised = list[i];
            bestChain = chain;
        }
    }

    series.wFoundPulses = static_cast<uint16_t>(view.K);
    // Without a recognised candidate there is no best chain: the found lists stay as they were.
    if (recognised > 0) {
        writeFound(series, bestChain);
        for (int j = 0; j < view.K; ++j) series.lpFoundEtalon[j] = static_cast<int16_t>(recognised);
    }
    return recognised;
}
