#include <algorithm>
#include <cstring>
#include <new>

#include "processing/routine_common.h"
#include "processing/routines.h"

using namespace processing_detail;

namespace {
constexpr int32_t kUnset = 99999999;
constexpr int32_t kRecognise = 9999999;  // unknown count: a candidate must total less
constexpr int32_t kFar = 999999999;      // known count: start of every search

// The candidates of recognizePulsesUnfixed share the series, the walks and every window of the
// programme; only their scores differ. So the programme runs for kLanes candidates at once, one
// candidate per vector lane, with the block sliding minimum of FixedWindowMinimum done lane by
// lane: each lane takes exactly the decisions the one-candidate walk takes.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define RECOGNITION_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define RECOGNITION_CLONES
#endif
constexpr int kLanes = 16;
typedef int32_t Lanes __attribute__((vector_size(kLanes * sizeof(int32_t))));
typedef uint32_t WrapLanes __attribute__((vector_size(kLanes * sizeof(uint32_t))));
#define LOAD_LANES(v, p) std::memcpy(&(v), (p), sizeof(Lanes))
#define STORE_LANES(p, v) std::memcpy((p), &(v), sizeof(Lanes))

// Work rows of kLanes entries per position, kept by each thread between runs.
struct LaneWork {
    std::vector<int32_t> Q, R, B, suffixValue, suffixArg;
    std::vector<std::vector<LocalMatch>> match;  // per lane: the candidate's match per position
};

struct LaneArgs {
    const Walks* walks;
    int64_t N, Tmin, Tmax;
    int32_t unset;
    const int32_t* Q;  // per position and lane: the local score
    int32_t* R;        // per position and lane: best total of a chain ending here
    int32_t* B;        // per position and lane: its predecessor (-1 first, -2 none)
    int32_t* suffixValue;
    int32_t* suffixArg;
};

// walkPulseChains for kLanes candidates at once (r "not reached" everywhere first).
RECOGNITION_CLONES void walkPulseChainsLanes(const LaneArgs& a) {
    const int64_t N = a.N, W = a.Tmax - a.Tmin + 1;
    const Lanes unset = Lanes{} + a.unset, first = Lanes{} - 1, none = Lanes{} - 2;
    for (int64_t l = 0; l < N; ++l) STORE_LANES(a.R + l * kLanes, unset);
    for (const int32_t l : a.walks->firstOnly) {
        Lanes q;
        LOAD_LANES(q, a.Q + int64_t{l} * kLanes);
        STORE_LANES(a.R + int64_t{l} * kLanes, q);
        STORE_LANES(a.B + int64_t{l} * kLanes, first);
    }
    for (int pass = 0; pass < 2; ++pass) {
        const std::vector<int32_t>& walk = pass == 0 ? a.walks->both : a.walks->laterOnly;
        const Lanes start = Lanes{} + (pass == 0 ? 0 : a.unset);
        int64_t next = 0, inBlock = 0;
        Lanes prefixValue = {}, prefixArg = {};
        for (const int32_t l : walk) {
            const int64_t to = int64_t{l} - a.Tmin;
            for (; next <= to; ++next) {
                Lanes v;
                LOAD_LANES(v, a.R + next * kLanes);
                const Lanes at = Lanes{} + static_cast<int32_t>(next);
                if (inBlock == 0) {
                    prefixValue = v;
                    prefixArg = at;
                } else {
                    const Lanes lower = v < prefixValue;
                    prefixValue = lower ? v : prefixValue;
                    prefixArg = lower ? at : prefixArg;
                }
                if (++inBlock == W) {
                    Lanes sv = v, sa = at;
                    for (int64_t k = next; k > next - W; --k) {
                        Lanes vk;
                        LOAD_LANES(vk, a.R + k * kLanes);
                        const Lanes take = vk <= sv;
                        sv = take ? vk : sv;
                        sa = take ? Lanes{} + static_cast<int32_t>(k) : sa;
                        STORE_LANES(a.suffixValue + k * kLanes, sv);
                        STORE_LANES(a.suffixArg + k * kLanes, sa);
                    }
                    inBlock = 0;
                }
            }
            Lanes best = start, from = none;
            if (to >= 0) {
                const int64_t windowStart = to - W + 1;
                const int64_t blockStart = next - (inBlock == 0 ? W : inBlock);
                Lanes value = prefixValue, arg = prefixArg;
                if (!(windowStart >= blockStart || (windowStart <= 0 && blockStart == 0))) {
                    Lanes sv, sa;
                    LOAD_LANES(sv, a.suffixValue + windowStart * kLanes);
                    LOAD_LANES(sa, a.suffixArg + windowStart * kLanes);
                    const Lanes earlier = sv <= prefixValue;
                    value = earlier ? sv : prefixValue;
                    arg = earlier ? sa : prefixArg;
                }
                const Lanes below = value < start;
                best = below ? value : start;
                from = below ? arg : none;
            }
            Lanes q;
            LOAD_LANES(q, a.Q + int64_t{l} * kLanes);
            const Lanes total = (Lanes)((WrapLanes)best + (WrapLanes)q);  // 32-bit wrapping sum
            STORE_LANES(a.R + int64_t{l} * kLanes, total);
            STORE_LANES(a.B + int64_t{l} * kLanes, from);
        }
    }
}
// The layered programme of recognizePulsesFixed for kLanes candidates at once: D[j] holds, per
// position of layer j's range and per lane, the best total of a chain whose pulse j lies there.
// The window minima of the previous layer come from block prefix and suffix minima over it,
// padded with INT32_MAX outside its range, as in layeredChain, lane by lane.
struct LayerLaneWork {
    std::vector<std::vector<int32_t>> D;
    std::vector<int32_t> prefix, suffix;
};

RECOGNITION_CLONES void layeredLanes(const Ranges& ranges, const int32_t* Q, int32_t qlo, int64_t Tmin,
                                     int64_t Tmax, int32_t predStart, LayerLaneWork& w) {
    const size_t K = ranges.lo.size();
    const int64_t W = Tmax - Tmin + 1;
    const Lanes bound = Lanes{} + predStart, padding = Lanes{} + INT32_MAX;
    w.D.resize(K);
    for (size_t j = 0; j < K; ++j) {
        const int64_t lo = ranges.lo[j], hi = ranges.hi[j];
        std::vector<int32_t>& Dj = w.D[j];
        Dj.resize(static_cast<size_t>(hi - lo + 1) * kLanes);
        if (j == 0) {
            std::memcpy(Dj.data(), Q + (lo - qlo) * kLanes, Dj.size() * sizeof(int32_t));
            continue;
        }
        const std::vector<int32_t>& Dp = w.D[j - 1];
        const int64_t plo = ranges.lo[j - 1], phi = ranges.hi[j - 1];
        const int64_t base = lo - Tmax, length = hi - Tmin - base + 1;
        w.prefix.resize(static_cast<size_t>(length) * kLanes);
        w.suffix.resize(w.prefix.size());
        // Row i stands for position base + i of the previous layer, INT32_MAX outside its range.
#define PREVIOUS_ROW(v, i)                                                              \
    do {                                                                                \
        const int64_t m_ = base + (i);                                                  \
        if (m_ >= plo && m_ <= phi) LOAD_LANES(v, Dp.data() + (m_ - plo) * kLanes);     \
        else v = padding;                                                               \
    } while (0)
        for (int64_t b0 = 0; b0 < length; b0 += W) {
            const int64_t b1 = std::min(b0 + W, length);
            Lanes run = padding;
            for (int64_t i = b0; i < b1; ++i) {
                Lanes v;
                PREVIOUS_ROW(v, i);
                run = v < run ? v : run;
                STORE_LANES(w.prefix.data() + i * kLanes, run);
            }
            run = padding;
            for (int64_t i = b1 - 1; i >= b0; --i) {
                Lanes v;
                PREVIOUS_ROW(v, i);
                run = v < run ? v : run;
                STORE_LANES(w.suffix.data() + i * kLanes, run);
            }
        }
#undef PREVIOUS_ROW
        for (int64_t k = lo; k <= hi; ++k) {
            const int64_t a = k - lo, b = a + W - 1;
            Lanes sv, pv, q;
            LOAD_LANES(sv, w.suffix.data() + a * kLanes);
            LOAD_LANES(pv, w.prefix.data() + b * kLanes);
            LOAD_LANES(q, Q + (k - qlo) * kLanes);
            const Lanes smallest = sv < pv ? sv : pv;
            const Lanes pred = smallest < bound ? smallest : bound;
            const Lanes total = (Lanes)((WrapLanes)pred + (WrapLanes)q);  // 32-bit wrapping sum
            STORE_LANES(Dj.data() + a * kLanes, total);
        }
    }
}

// The chains of the first `lanes` lanes, picked and followed back as layeredChain does: the
// last pulse at the strict minimum of the last layer below `endStart`, each earlier one at the
// strict minimum of its window below `backStart`; where nothing lies below, the window's
// smallest value (first among equals). Layer by layer for every lane, so that a layer's rows
// stay in cache while the lanes read them. Fills position[lane * K + j] and distance[lane].
void followLanes(const Ranges& ranges, const LayerLaneWork& w, int lanes, int32_t Tmin, int32_t Tmax,
                 int32_t endStart, int32_t backStart, std::vector<int32_t>& position,
                 std::vector<int32_t>& distance) {
    const int32_t K = static_cast<int32_t>(ranges.lo.size());
    position.resize(static_cast<size_t>(lanes) * static_cast<size_t>(K));
    distance.resize(static_cast<size_t>(lanes));
    auto pick = [&](int32_t j, int lane, int32_t from, int32_t to, int32_t start, int32_t& held) {
        const int32_t* row = w.D[static_cast<size_t>(j)].data() + lane;
        auto value = [&](int32_t m) { return row[static_cast<size_t>(m - ranges.lo[j]) * kLanes]; };
        int32_t chosen = -1;
        held = start;
        for (int32_t m = from; m <= to; ++m)
            if (value(m) < held) {
                held = value(m);
                chosen = m;
            }
        if (chosen >= 0) return chosen;
        chosen = from;
        for (int32_t m = from + 1; m <= to; ++m)
            if (value(m) < value(chosen)) chosen = m;
        return chosen;
    };
    for (int lane = 0; lane < lanes; ++lane)
        position[static_cast<size_t>(lane * K + K - 1)] =
            pick(K - 1, lane, ranges.lo[K - 1], ranges.hi[K - 1], endStart, distance[static_cast<size_t>(lane)]);
    for (int32_t j = K - 2; j >= 0; --j)
        for (int lane = 0; lane < lanes; ++lane) {
            const int32_t p = position[static_cast<size_t>(lane * K + j + 1)];
            int32_t unused;
            position[static_cast<size_t>(lane * K + j)] =
                pick(j, lane, std::max(p - Tmax, ranges.lo[j]), std::min(p - Tmin, ranges.hi[j]), backStart, unused);
        }
}
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
        work.suffixValue.resize(rows);
        work.suffixArg.resize(rows);
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
    const LaneArgs args{&walks, view.N, Tmin, Tmax, kUnset, work.Q.data(), work.R.data(), work.B.data(),
                        work.suffixValue.data(), work.suffixArg.data()};
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
        walkPulseChainsLanes(args);

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
    static thread_local LayerLaneWork work;
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
        layeredLanes(ranges, Q.data(), lo, Tmin, Tmax, kFar, work);
        followLanes(ranges, work, lanes, Tmin, Tmax, kFar, kFar, position, distanceOf);
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
