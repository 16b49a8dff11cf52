#pragma once

// The dynamic programmes of detection and recognition, written once for both kinds of input:
// the workbench's series (32-bit positions, 32-bit wrapping sums) and recordings (64-bit
// positions, 64-bit sums that the caller keeps far from overflow), one candidate at a time or
// several side by side in vector lanes. The routines of processing/ and the recordings' use case
// instantiate them with their own sum type and lane count.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "processing/local_match.h"

// Lane vectors are passed between the inline pieces below only; none crosses a call that is
// not inlined, so the note on the ABI of wide vectors does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

/// Width programmes side by side, one per lane: a lane's value is the Sum of its own programme.
/// With Width 1 a lane group is the plain Sum. Positions travel in lanes of the same Sum type
/// (a position fits the Sum of its kind of input: 32-bit on series, 64-bit on recordings), so
/// that a comparison of values selects positions lane by lane. Arrays of lane groups are
/// interleaved: entry `at` of lane i lives at [at * Width + i].
template <class Sum, int Width>
struct LaneGroup {
    static_assert(Width > 1 && (Width & (Width - 1)) == 0, "a power of two of lanes");
    typedef Sum Value __attribute__((vector_size(Width * sizeof(Sum))));
    typedef std::make_unsigned_t<Sum> Word __attribute__((vector_size(Width * sizeof(Sum))));
};
template <class Sum>
struct LaneGroup<Sum, 1> {
    using Value = Sum;
    using Word = std::make_unsigned_t<Sum>;
};
template <class Sum, int Width>
using Lanes = typename LaneGroup<Sum, Width>::Value;

// The lane group of an interleaved array at entry `at`, and back. One lane is a plain typed
// access: a copy of bytes may alias anything, so the compiler would reload every value it holds
// in memory (the window's state) after each store.
template <class V, class Sum>
inline void programmeLoad(V& v, const Sum* entry) {
    if constexpr (std::is_same_v<V, Sum>)
        v = *entry;
    else
        std::memcpy(&v, entry, sizeof v);
}
template <class V, class Sum>
inline void programmeStore(Sum* entry, const V& v) {
    if constexpr (std::is_same_v<V, Sum>)
        *entry = v;
    else
        std::memcpy(entry, &v, sizeof v);
}
#define PROGRAMME_LOAD(v, array, at, Width) programmeLoad((v), (array) + (at) * (Width))
#define PROGRAMME_STORE(array, at, Width, v) programmeStore((array) + (at) * (Width), (v))

/// The sum of two lane groups: wrapping (two's complement) in every lane, which is the
/// workbench's 32-bit arithmetic and, on recordings, the plain 64-bit sum (their totals are kept
/// far from overflow).
/// (Casts between signed and unsigned vectors of one size reinterpret their lanes, which only
/// the cast notation allows.)
#define PROGRAMME_ADD(Sum, Width, a, b)                                                 \
    ((Lanes<Sum, Width>)((typename LaneGroup<Sum, Width>::Word)(a) +                    \
                         (typename LaneGroup<Sum, Width>::Word)(b)))

/// The first smallest value of the window [max(to - width + 1, 0), to] of a row of values, lane
/// by lane, for a `to` that never decreases and values that are final once `to` has reached
/// them. The row is cut into blocks of `width`: a full window is the end of one block and the
/// start of the next, so its minimum is the smaller of a suffix minimum of the earlier block
/// (computed once, when that block is complete) and the running prefix minimum of the later
/// one. Equal values keep the earlier position. About three steps per position and no
/// data-dependent branch in the query, where a monotone queue mispredicts on noisy data. The
/// object keeps its work rows between uses.
template <class Sum, int Width>
class WindowMinimum {
public:
    using Value = Lanes<Sum, Width>;

    /// `values` holds `size` interleaved lane groups; the object reads them, never writes.
    void reset(const Sum* values, int64_t width, int64_t size) {
        values_ = values;
        width_ = width;
        next_ = 0;
        inBlock_ = 0;
        // The suffix minima of the last completed block are all a window needs.
        const size_t entries = static_cast<size_t>(std::min(width, size)) * Width;
        if (suffixValue_.size() < entries) {
            suffixValue_.resize(entries);
            suffixArg_.resize(entries);
        }
    }
    /// The first smallest value of the window ending at `to` and its position, per lane; false
    /// (value and position untouched) when to < 0.
    bool minimumUpTo(int64_t to, Value& value, Value& position) {
        // The state in locals: the lane groups' stores below may alias anything, and would make
        // the compiler read every member again after each one.
        const Sum* const values = values_;
        const int64_t width = width_;
        int64_t next = next_, inBlock = inBlock_;
        Value prefixValue = prefixValue_, prefixArg = prefixArg_;
        Sum* const suffixValue = suffixValue_.data();
        Sum* const suffixArg = suffixArg_.data();
        for (; next <= to; ++next) {
            Value v;
            PROGRAMME_LOAD(v, values, next, Width);
            const Value at = Value{} + static_cast<Sum>(next);
            if (inBlock == 0) {
                prefixValue = v;
                prefixArg = at;
            } else {
                const auto lower = v < prefixValue;
                prefixValue = lower ? v : prefixValue;
                prefixArg = lower ? at : prefixArg;
            }
            if (++inBlock == width) {
                Value sv = v, sa = at;
                const int64_t blockFirst = next - width + 1;
                for (int64_t k = next; k >= blockFirst; --k) {
                    Value vk;
                    PROGRAMME_LOAD(vk, values, k, Width);
                    const auto take = vk <= sv;
                    sv = take ? vk : sv;
                    sa = take ? Value{} + static_cast<Sum>(k) : sa;
                    PROGRAMME_STORE(suffixArg, k - blockFirst, Width, sa);
                    PROGRAMME_STORE(suffixValue, k - blockFirst, Width, sv);
                }
                inBlock = 0;
            }
        }
        next_ = next;
        inBlock_ = inBlock;
        prefixValue_ = prefixValue;
        prefixArg_ = prefixArg;
        if (to < 0) return false;
        const int64_t from = to - width + 1;
        const int64_t blockStart = next - (inBlock == 0 ? width : inBlock);
        value = prefixValue;
        position = prefixArg;
        if (!(from >= blockStart || (from <= 0 && blockStart == 0))) {
            // from lies in the block before the current one.
            Value sv;
            PROGRAMME_LOAD(sv, suffixValue, from - (blockStart - width), Width);
            const auto earlier = sv <= prefixValue;
            value = earlier ? sv : prefixValue;
            Value sa;
            PROGRAMME_LOAD(sa, suffixArg, from - (blockStart - width), Width);
            position = earlier ? sa : prefixArg;
        }
        return true;
    }

private:
    const Sum* values_ = nullptr;
    int64_t width_ = 1, next_ = 0, inBlock_ = 0;
    Value prefixValue_{}, prefixArg_{};
    std::vector<Sum> suffixValue_, suffixArg_;
};

/// Visits every position of a walk in order: a list of positions, or a list of inclusive
/// intervals (ascending, disjoint).
template <class Index, class F>
void forEachPosition(const std::vector<Index>& walk, F&& f) {
    for (const Index l : walk) f(int64_t{l});
}
template <class Index, class F>
void forEachPosition(const std::vector<std::pair<Index, Index>>& walk, F&& f) {
    for (const auto& [a, b] : walk)
        for (int64_t l = a; l <= b; ++l) f(l);
}

/// The walks of the unknown-count pulse programme for Width programmes at once, given their
/// local scores (score(l, q) sets q to the lane group at position l): a pulse that can only be
/// first begins a chain (r = q, predecessor -1); one that may also be first extends only a chain
/// with a negative total in its window, else it begins one (predecessor -2); one that can only
/// follow extends the best chain in its window whatever its total (search from `unset`). The
/// smallest m among equal totals is taken. r and b hold `size` interleaved lane groups; r is set
/// to `unset` everywhere first, b only where a walk goes. Each lane takes exactly the decisions
/// of the one-programme walk on its own scores. When `stop` is given and becomes true the walk
/// ends within 65536 positions and returns false (r and b are then incomplete).
template <class Sum, int Width, class Walk, class Score>
bool walkPulseChainsOn(const Walk& firstOnly, const Walk& both, const Walk& laterOnly, Score&& score, int64_t Tmin,
                       int64_t Tmax, Sum unset, Sum* r, Sum* b, int64_t size, WindowMinimum<Sum, Width>& window,
                       const std::atomic<bool>* stop = nullptr) {
    using Value = Lanes<Sum, Width>;
    std::fill(r, r + size * Width, unset);
    const Value first = Value{} - 1, none = Value{} - 2;
    bool stopped = false;
    // Whether the walk has been stopped, looked at every 65536 positions.
    auto halted = [&](int64_t l) {
        if (stop && (l & 0xFFFF) == 0 && stop->load(std::memory_order_relaxed)) stopped = true;
        return stopped;
    };
    forEachPosition(firstOnly, [&](int64_t l) {
        if (halted(l)) return;
        Value q;
        score(l, q);
        PROGRAMME_STORE(r, l, Width, q);
        PROGRAMME_STORE(b, l, Width, first);
    });
    // The best predecessor of l is the first m of [l - Tmax, l - Tmin] with the smallest r below
    // the search's start. The window slides forward with l, and r[m] is final once l passes m
    // (the walk writes only r[l]), so a sliding minimum gives it in O(1) per position.
    auto extend = [&](const Walk& walk, Sum startValue) {
        const Value start = Value{} + startValue;
        window.reset(r, Tmax - Tmin + 1, size);
        forEachPosition(walk, [&](int64_t l) {
            if (halted(l)) return;
            Value best = start, from = none, value{}, at{};
            if (window.minimumUpTo(l - Tmin, value, at)) {
                const auto below = value < start;
                best = below ? value : start;
                from = below ? at : none;
            }
            Value q;
            score(l, q);
            const Value total = PROGRAMME_ADD(Sum, Width, best, q);
            PROGRAMME_STORE(r, l, Width, total);
            PROGRAMME_STORE(b, l, Width, from);
        });
    };
    extend(both, 0);
    extend(laterOnly, unset);
    return !stopped;
}

/// The totals of the layered programme of the known-count routines, kept between uses: per
/// layer, the interleaved lane groups of its positions.
template <class Sum, int Width>
struct LayeredWork {
    std::vector<std::vector<Sum>> D;
    std::vector<Sum> prefix, suffix;
};

/// The layered programme of the known-count routines for Width programmes at once: K layers,
/// layer j over the positions lo[j]..hi[j] with local scores from rowOf(j) (rowOf(j) is taken
/// once per layer, so that the row's whereabouts stay in registers; rowOf(j)(k, q) sets q to the
/// lane group at position k). The predecessor cost of layer 0 is 0; later layers take the
/// smallest value of their window [k - Tmax, k - Tmin] in the previous range when below
/// `predStart`, else predStart. Fills w.D with every layer's totals; followLayers picks the
/// chains. When `stop` is given and becomes true the programme ends after the layer at hand and
/// returns false (w.D is then incomplete).
template <class Sum, int Width, class Index, class RowOf>
bool layeredTotals(std::span<const Index> lo, std::span<const Index> hi, RowOf&& rowOf, int64_t Tmin, int64_t Tmax,
                   Sum predStart, LayeredWork<Sum, Width>& w, const std::atomic<bool>* stop = nullptr) {
    using Value = Lanes<Sum, Width>;
    const Value bound = Value{} + predStart, padding = Value{} + std::numeric_limits<Sum>::max();
    const size_t K = lo.size();
    w.D.resize(K);
    // The predecessor cost is the smallest D_{j-1} of the window [k - Tmax, k - Tmin] within the
    // previous range, when below predStart. The previous layer is complete, so its window minima
    // come from blocks of the window's width W over D_{j-1} padded with the largest Sum outside
    // its range (a padded value is never below predStart): every window is the end of one block
    // and the start of the next, whose suffix and prefix minima are taken in one pass each. Each
    // layer costs O(its range + W) without data-dependent branches.
    const int64_t W = Tmax - Tmin + 1;
    for (size_t j = 0; j < K; ++j) {
        if (stop && stop->load(std::memory_order_relaxed)) return false;
        const int64_t l0 = lo[j], h0 = hi[j];
        std::vector<Sum>& Dj = w.D[j];
        Dj.resize(static_cast<size_t>(h0 - l0 + 1) * Width);
        const auto score = rowOf(j);
        if (j == 0) {
            for (int64_t k = l0; k <= h0; ++k) {
                Value q;
                score(k, q);
                PROGRAMME_STORE(Dj.data(), k - l0, Width, q);
            }
            continue;
        }
        const Sum* Dp = w.D[j - 1].data();
        const int64_t plo = lo[j - 1], phi = hi[j - 1];
        // Entry i stands for position base + i of the previous layer, padding outside its range.
        const int64_t base = l0 - Tmax, length = h0 - Tmin - base + 1;
        auto previous = [&](int64_t i, Value& v) {
            const int64_t m = base + i;
            if (m >= plo && m <= phi) PROGRAMME_LOAD(v, Dp, m - plo, Width);
            else v = padding;
        };
        w.prefix.resize(static_cast<size_t>(length) * Width);
        w.suffix.resize(w.prefix.size());
        for (int64_t b0 = 0; b0 < length; b0 += W) {
            const int64_t b1 = std::min<int64_t>(b0 + W, length);
            Value run = padding, v;
            for (int64_t i = b0; i < b1; ++i) {
                previous(i, v);
                run = v < run ? v : run;
                PROGRAMME_STORE(w.prefix.data(), i, Width, run);
            }
            run = padding;
            for (int64_t i = b1 - 1; i >= b0; --i) {
                previous(i, v);
                run = v < run ? v : run;
                PROGRAMME_STORE(w.suffix.data(), i, Width, run);
            }
        }
        for (int64_t k = l0; k <= h0; ++k) {
            // The window of k is entries k - l0 .. k - l0 + W - 1.
            const int64_t a = k - l0, e = a + W - 1;
            Value sv, pv, q;
            PROGRAMME_LOAD(sv, w.suffix.data(), a, Width);
            PROGRAMME_LOAD(pv, w.prefix.data(), e, Width);
            score(k, q);
            const Value smallest = sv < pv ? sv : pv;
            const Value pred = smallest < bound ? smallest : bound;
            const Value total = PROGRAMME_ADD(Sum, Width, pred, q);
            PROGRAMME_STORE(Dj.data(), a, Width, total);
        }
    }
    return true;
}

/// The chains of the first `lanes` lanes of a layered programme: the last pulse at the strict
/// minimum of the last layer below `endStart`, each earlier one at the strict minimum of its
/// window [p - Tmax, p - Tmin] (p the next pulse's position) below `backStart`. Where no value
/// lies below a search's starting bound the position with the smallest value (first among
/// equals) is taken and the distance stays at the bound. Layer by layer for every lane, so that
/// a layer's rows stay in cache while the lanes read them. Fills position[lane * K + j] and
/// distance[lane].
template <class Sum, int Width, class Index>
void followLayers(std::span<const Index> lo, std::span<const Index> hi, const LayeredWork<Sum, Width>& w, int lanes,
                  int64_t Tmin, int64_t Tmax, Sum endStart, Sum backStart, std::vector<Index>& position,
                  std::vector<Sum>& distance) {
    const size_t K = lo.size();
    position.resize(static_cast<size_t>(lanes) * K);
    distance.resize(static_cast<size_t>(lanes));
    auto pick = [&](size_t j, int lane, int64_t from, int64_t to, Sum start, Sum& held) {
        const Sum* row = w.D[j].data() + lane;
        const int64_t l0 = lo[j];
        auto value = [&](int64_t m) { return row[static_cast<size_t>(m - l0) * Width]; };
        int64_t chosen = -1;
        held = start;
        for (int64_t m = from; m <= to; ++m)
            if (value(m) < held) {
                held = value(m);
                chosen = m;
            }
        if (chosen >= 0) return static_cast<Index>(chosen);
        chosen = from;
        for (int64_t m = from + 1; m <= to; ++m)
            if (value(m) < value(chosen)) chosen = m;
        return static_cast<Index>(chosen);
    };
    for (int lane = 0; lane < lanes; ++lane)
        position[static_cast<size_t>(lane) * K + K - 1] =
            pick(K - 1, lane, lo[K - 1], hi[K - 1], endStart, distance[static_cast<size_t>(lane)]);
    for (size_t j = K - 1; j-- > 0;)
        for (int lane = 0; lane < lanes; ++lane) {
            const int64_t p = position[static_cast<size_t>(lane) * K + j + 1];
            Sum unused;
            position[static_cast<size_t>(lane) * K + j] =
                pick(j, lane, std::max<int64_t>(p - Tmax, lo[j]), std::min<int64_t>(p - Tmin, hi[j]), backStart, unused);
        }
}

/// The layered programme for one programme (Width 1): totals, then the chain. Returns the
/// distance and fills one position per layer.
template <class Sum, class Index, class RowOf>
Sum layeredPositions(std::span<const Index> lo, std::span<const Index> hi, RowOf&& rowOf, int64_t Tmin,
                     int64_t Tmax, Sum predStart, Sum endStart, Sum backStart, LayeredWork<Sum, 1>& work,
                     std::vector<Index>& position) {
    std::vector<Sum> distance;
    layeredTotals<Sum, 1>(lo, hi, rowOf, Tmin, Tmax, predStart, work);
    followLayers<Sum, 1>(lo, hi, work, 1, Tmin, Tmax, endStart, backStart, position, distance);
    return distance[0];
}

#pragma GCC diagnostic pop

/// The positions the pulses of a chain may take in a signal of N samples with pulses of n
/// samples, gaps Tmin..Tmax, first pulse within Tmax of the start (p_0 + n <= Tmax), last within
/// Tmax of the end (N - p_last <= Tmax), and Kmin..Kmax pulses: pulse i of a chain of k lies in
/// [max(N - Tmax (k - i), Tmin i), min(Tmax (i + 1) - n, N - n - Tmin (k - 1 - i))]. The sets
/// are the unions over k and i, as ascending disjoint intervals, split as the unknown-count
/// programme walks them. Computed run by run (the answers change only every Tmin or Tmax
/// positions) whatever the pulse counts.
struct PositionWalks {
    using Intervals = std::vector<std::pair<int64_t, int64_t>>;
    Intervals any;        // First ∪ Later
    Intervals firstOnly;  // First − Later
    Intervals both;       // First ∩ Later
    Intervals laterOnly;  // Later − First
    Intervals last;       // Last
};
PositionWalks positionWalks(int64_t N, int64_t n, int64_t Tmin, int64_t Tmax, int64_t Kmin, int64_t Kmax);

/// Whether walkInOneSweepOn gives walkPulseChainsOn's totals for these walks: walkPulseChainsOn
/// walks the positions that may be first or later before the later-only ones, so one ascending
/// sweep reads the same totals unless a later-only position lies in the window of one of them.
inline bool oneSweepAllowed(const PositionWalks& walks, int64_t Tmin) {
    return walks.both.empty() || walks.laterOnly.empty() ||
           walks.laterOnly.front().first > walks.both.back().second - Tmin;
}

/// The position range [lo, hi] of pulse i of a chain of k pulses (the formula above); empty
/// when hi < lo.
inline std::pair<int64_t, int64_t> pulseRange(int64_t N, int64_t n, int64_t Tmin, int64_t Tmax, int64_t i,
                                              int64_t k) {
    const int64_t lo = i == 0 ? std::max<int64_t>(N - Tmax * k, 0) : std::max(N - Tmax * (k - i), Tmin * i);
    const int64_t hi = std::min(Tmax * (i + 1) - n, N - n - Tmin * (k - 1 - i));
    return {lo, hi};
}

/// Candidates programmed side by side: sixteen 32-bit lanes on the workbench's series, eight
/// 64-bit lanes on recordings (one 512-bit vector either way).
inline constexpr int kSeriesLanes = 16;
inline constexpr int kRecordingLanes = 8;

/// The lane forms of the programmes, for candidates that share the walks or ranges and differ
/// only in their scores. Q holds the interleaved lane groups of the local scores: from position
/// 0 for the walks, from position `qlo` for the layers. Each is the template above compiled
/// also for the wider vector units (AVX2, AVX-512) where the processor has them; integer
/// arithmetic makes every build give identical results. `stop` as in the templates.
bool walkPulseChainsLanes(const std::vector<int32_t>& firstOnly, const std::vector<int32_t>& both,
                          const std::vector<int32_t>& laterOnly, const int32_t* Q, int64_t Tmin, int64_t Tmax,
                          int32_t unset, int32_t* r, int32_t* b, int64_t size,
                          WindowMinimum<int32_t, kSeriesLanes>& window, const std::atomic<bool>* stop = nullptr);
bool walkPulseChainsLanes(const PositionWalks::Intervals& firstOnly, const PositionWalks::Intervals& both,
                          const PositionWalks::Intervals& laterOnly, const int64_t* Q, int64_t Tmin, int64_t Tmax,
                          int64_t unset, int64_t* r, int64_t* b, int64_t size,
                          WindowMinimum<int64_t, kRecordingLanes>& window, const std::atomic<bool>* stop = nullptr);
/// The walks of walkPulseChainsOn (its rules, totals and predecessors) on recordings in one
/// ascending sweep over the positions 0..size-1, for walks where oneSweepAllowed and
/// Tmax < 2^31: one programme, or kRecordingLanes side by side that keep the totals alone. The
/// local scores come from Q (interleaved lane groups, position l at entry l & qMask) as they are
/// made: before reading position l beyond the last one known to be scored, the walk asks
/// scoredThrough(l), which returns once l is scored and gives the last position it may read then.
/// The totals are kept only as long as a window may read them: r is a ring of `ring` lane groups
/// (a power of two above Tmax + 1), position l at entry l & (ring - 1); after the walk it holds
/// the totals of the last `ring` positions (positions outside the walks read `unset`). One
/// programme keeps each position's predecessor as the step back to it (a step is at most Tmax:
/// 16 bits where Tmax < 2^16, else 32) in `steps`, `size` entries: l - b[l] where
/// walkPulseChainsOn's b[l] is a position, 0 where a chain begins. When `stop` is given and
/// becomes true the walk ends within 65536 positions and returns false.
bool walkInOneSweepOn(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
                      const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin, int64_t Tmax, int64_t unset,
                      int64_t* r, int64_t ring, uint16_t* steps, int64_t size, const std::atomic<bool>* stop = nullptr);
bool walkInOneSweepOn(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
                      const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin, int64_t Tmax, int64_t unset,
                      int64_t* r, int64_t ring, int32_t* steps, int64_t size, const std::atomic<bool>* stop = nullptr);
bool walkInOneSweepOn(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
                      const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin, int64_t Tmax, int64_t unset,
                      int64_t* r, int64_t ring, int64_t size, const std::atomic<bool>* stop = nullptr);
bool layeredTotalsLanes(std::span<const int32_t> lo, std::span<const int32_t> hi, const int32_t* Q, int64_t qlo,
                        int64_t Tmin, int64_t Tmax, int32_t predStart, LayeredWork<int32_t, kSeriesLanes>& work,
                        const std::atomic<bool>* stop = nullptr);
bool layeredTotalsLanes(std::span<const int64_t> lo, std::span<const int64_t> hi, const int64_t* Q, int64_t qlo,
                        int64_t Tmin, int64_t Tmax, int64_t predStart, LayeredWork<int64_t, kRecordingLanes>& work,
                        const std::atomic<bool>* stop = nullptr);
