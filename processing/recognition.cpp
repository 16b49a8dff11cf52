#include <algorithm>
#include <new>

#include "processing/routine_common.h"
#include "processing/routines.h"

using namespace processing_detail;

namespace {
constexpr int32_t kUnset = 99999999;
constexpr int32_t kRecognise = 9999999;  // unknown count: a candidate must total less
constexpr int32_t kFar = 999999999;      // known count: start of every search

// The candidates of a recognition share the series, the walks or ranges and every window of
// the programme; only their scores differ. So the programmes run for kSeriesLanes candidates at
// once, one candidate per vector lane: each lane takes exactly the decisions the one-candidate
// programme takes.
constexpr int kLanes = kSeriesLanes;

// Work rows of kLanes entries per position, kept by each thread between runs (fresh pages for
// every run would cost more than the programme).
struct LaneWork {
    std::vector<int32_t> Q, R, B;
    WindowMinimum<int32_t, kLanes> window;
    std::vector<std::vector<LocalMatch>> match;  // per lane: the candidate's match per position
};
}  // namespace

int16_t recognizePulsesUnfixed(MessageSink& messages, const Alphabet& alphabet,
                               std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                               uint16_t pct, ChainsHeader* chains, SeriesHeader& series) {
    const char* caption = " recognizePulsesUnfixed ";
    SeriesView view{};
    if (!checkSeries(messages, caption, series, Tmin, Tmax, view) ||
        !checkEtalons(messages, caption, alphabet, list, view.n))
        return -1;
    if (!chains) {
        refuse(messages, caption, "Recognition with an unknown pulse count needs a chains table.");
        return -1;
    }
    if (!checkChains(messages, caption, chains, std::max(view.Kmax, view.maxChain))) return -1;

    LocalMatcher matcher;
    Walks walks;
    try {
        matcher.prepare(alphabet, list, view.n, pct);
    } catch (const std::bad_alloc&) {
        messages.messageBox("Нет памяти для indexes!", "", MessageIcon::None);
        return -1;
    }
    chains->wPretenders = 0;
    chains->wQuanPulses = series.wImpulseQuantity;
    chains->wSeekingPulsesQuantity = 0;

    static thread_local LaneWork work;
    const size_t rows = static_cast<size_t>(view.N) * kLanes;
    try {
        work.Q.resize(rows);
        work.R.resize(rows);
        work.B.resize(rows);
        work.match.resize(kLanes);
        for (auto& m : work.match) m.resize(static_cast<size_t>(view.N));
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
    for (size_t c0 = 0; c0 < list.size(); c0 += kLanes) {
        const int lanes = static_cast<int>(std::min<size_t>(kLanes, list.size() - c0));
        // The local scores of these candidates at every walked position (other positions of q
        // and lanes without a candidate are never read into a result).
        for (int lane = 0; lane < lanes; ++lane) {
            std::vector<LocalMatch>& q = work.match[static_cast<size_t>(lane)];
            if (!walks.any.empty())
                matcher.matchRange(y, walks.any.front(), walks.any.back(), q.data() + walks.any.front(),
                                   static_cast<int>(c0) + lane);
        }
        for (const int32_t l : walks.any)  // one row of Q at a time, for locality
            for (int lane = 0; lane < lanes; ++lane)
                work.Q[static_cast<size_t>(l) * kLanes + static_cast<size_t>(lane)] =
                    work.match[static_cast<size_t>(lane)][static_cast<size_t>(l)].score;
        walkPulseChainsLanes(walks.firstOnly, walks.both, walks.laterOnly, work.Q.data(), Tmin, Tmax, kUnset,
                             work.R.data(), work.B.data(), view.N, work.window);

        for (int lane = 0; lane < lanes; ++lane) {
            const int16_t v = static_cast<int16_t>(list[c0 + static_cast<size_t>(lane)]);
            const std::vector<LocalMatch>& q = work.match[static_cast<size_t>(lane)];
            auto r = [&](int32_t l) { return work.R[static_cast<size_t>(l) * kLanes + lane]; };
            auto b = [&](int32_t l) { return work.B[static_cast<size_t>(l) * kLanes + lane]; };
            int32_t total = kUnset;
            for (const int32_t l : walks.last)
                if (r(l) < total) total = r(l);
            if (total < bestSoFar) {
                bestSoFar = total;
                recognised = v;
            }

            // The chain goes into the table with no acceptance bound.
            int32_t distance = kFar, end = -1;
            for (const int32_t l : walks.last)
                if (r(l) < distance) {
                    distance = r(l);
                    end = l;
                }
            chain.clear();
            // Last lies within First ∪ Later, so every end was walked; the bounds only guard the
            // walk back.
            for (int32_t p = end; p >= 0 && p < view.N; p = b(p))
                chain.push_back(chainPulse(p, {q[p].score, v, q[p].cutStart, q[p].cutEnd}));
            std::reverse(chain.begin(), chain.end());
            insertChain(*chains, distance, chain);
            chains->wSeekingPulsesQuantity = static_cast<uint16_t>(chains->chainPulses[0]);
        }
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

int32_t recognizePulsesFixed(MessageSink& messages, const Alphabet& alphabet,
                             std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                             uint16_t pct, ChainsHeader* chains, SeriesHeader& series) {
    const char* caption = " recognizePulsesFixed ";
    SeriesView view{};
    if (!checkSeries(messages, caption, series, Tmin, Tmax, view) ||
        !checkRanges(messages, caption, series, Tmin, Tmax, view) ||
        !checkEtalons(messages, caption, alphabet, list, view.n) ||
        !checkChains(messages, caption, chains, view.K))
        return -1;

    const Ranges ranges = readRanges(series, view.K);
    const int32_t lo = *std::min_element(ranges.lo.begin(), ranges.lo.end());
    const int32_t hi = *std::max_element(ranges.hi.begin(), ranges.hi.end());
    LocalMatcher matcher;
    // Work rows kept by each thread between runs (fresh pages for every run would cost more than
    // the programme).
    static thread_local std::vector<MatchTable> tables(kLanes);
    static thread_local std::vector<int32_t> Q;
    static thread_local LayeredWork<int32_t, kLanes> work;
    std::vector<int32_t> position, distanceOf;
    std::vector<ChainPulse> chain, bestChain;
    try {
        matcher.prepare(alphabet, list, view.n, pct);
        Q.resize(static_cast<size_t>(hi - lo + 1) * kLanes);
    } catch (const std::bad_alloc&) {
        messages.messageBox("Нет памяти для ppDw!", "", MessageIcon::None);
        return -1;
    }
    if (chains) {
        const uint16_t K = static_cast<uint16_t>(view.K);
        resetChainsForRun(*chains, K, K, K);
    }

    // The candidates share the ranges and every window: their programmes run kLanes at a time,
    // one per lane; the chains are then followed and inserted candidate by candidate, in order.
    int32_t bestSoFar = kFar, recognised = -1;
    for (size_t c0 = 0; c0 < list.size(); c0 += kLanes) {
        const int lanes = static_cast<int>(std::min<size_t>(kLanes, list.size() - c0));
        for (int lane = 0; lane < lanes; ++lane)
            fillMatchTable(matcher, static_cast<int>(c0) + lane, series.lpNoisyData, lo, hi,
                           tables[static_cast<size_t>(lane)]);
        for (int32_t k = lo; k <= hi; ++k)  // one row of Q at a time, for locality
            for (int lane = 0; lane < lanes; ++lane)
                Q[static_cast<size_t>(k - lo) * kLanes + static_cast<size_t>(lane)] =
                    tables[static_cast<size_t>(lane)].at[static_cast<size_t>(k - lo)].score;
        const std::span<const int32_t> los(ranges.lo), his(ranges.hi);
        layeredTotalsLanes(los, his, Q.data(), lo, Tmin, Tmax, kFar, work);
        followLayers<int32_t, kLanes>(los, his, work, lanes, Tmin, Tmax, kFar, kFar, position, distanceOf);
        for (int lane = 0; lane < lanes; ++lane) {
            const int32_t distance = distanceOf[static_cast<size_t>(lane)];
            chain.resize(static_cast<size_t>(view.K));
            for (int32_t j = 0; j < view.K; ++j) {
                const int32_t p = position[static_cast<size_t>(lane * view.K + j)];
                chain[static_cast<size_t>(j)] = chainPulse(p, tables[static_cast<size_t>(lane)][p]);
            }
            insertIfGiven(chains, distance, chain);
            if (distance < bestSoFar) {
                bestSoFar = distance;
                recognised = list[c0 + static_cast<size_t>(lane)];
                bestChain = chain;
            }
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
