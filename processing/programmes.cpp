#include "processing/programmes.h"

#include "processing/vector_builds.h"

namespace {
int64_t ceilDiv(int64_t a, int64_t b) {  // b > 0
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// Appends positions from..to to a list of intervals, extending the last one when they follow it.
void append(PositionWalks::Intervals& list, int64_t from, int64_t to) {
    if (!list.empty() && list.back().second + 1 == from) list.back().second = to;
    else list.emplace_back(from, to);
}
}  // namespace

PositionWalks positionWalks(int64_t N, int64_t n, int64_t Tmin, int64_t Tmax, int64_t Kmin, int64_t Kmax) {
    PositionWalks walks;
    if (Kmin < 1 || Kmax < Kmin || Tmin < 1 || Tmax < Tmin || n < 1 || N < n) return walks;
    // For position p the pulse indices i (from the start) and d = k - i (pulses from p to the
    // end, p's own included) that the ranges allow are intervals of their own:
    //   Tmin i <= p <= Tmax (i + 1) - n           i in [iLo, iHi], i >= 0
    //   N - Tmax d <= p <= N - n - Tmin (d - 1)    d in [dLo, dHi], d >= 1
    // and k = i + d takes every value of [iLo + dLo, iHi + dHi]; the count must meet Kmin..Kmax.
    // First is i = 0, Later i >= 1, Last d = 1.
    // The four quotients below change only every Tmin or Tmax positions, so the positions are
    // taken in runs over which none of them changes (and with them none of the answers). Each
    // changes by one where a run ends: they are divided once and then followed.
    int64_t A = ceilDiv(n, Tmax), iHi = 0, B = ceilDiv(N, Tmax), D = (N - n) / Tmin;
    for (int64_t p = 0; p <= N - n;) {
        while (A * Tmax - n + 1 <= p) ++A;           // A = ceil((p + n) / Tmax)
        while ((iHi + 1) * Tmin <= p) ++iHi;         // iHi = p / Tmin
        while (p >= N - (B - 1) * Tmax) --B;         // B = ceil((N - p) / Tmax)
        while (p >= N - n - D * Tmin + 1) --D;       // D = (N - n - p) / Tmin
        const int64_t iLo = std::max<int64_t>(0, A - 1), dLo = std::max<int64_t>(1, B), dHi = D + 1;
        int64_t next = N - n + 1;
        next = std::min(next, (iHi + 1) * Tmin);       // where p / Tmin grows
        next = std::min(next, A * Tmax - n + 1);       // where ceil((p + n) / Tmax) grows
        next = std::min(next, N - (B - 1) * Tmax);     // where ceil((N - p) / Tmax) falls
        next = std::min(next, N - n - D * Tmin + 1);   // where (N - n - p) / Tmin falls
        const int64_t to = next - 1;
        if (iLo <= iHi && dLo <= dHi) {
            const bool first = iLo == 0 && std::max(dLo, Kmin) <= std::min(dHi, Kmax);
            const int64_t laterLo = std::max<int64_t>(iLo, 1);
            const bool later = laterLo <= iHi && std::max(laterLo + dLo, Kmin) <= std::min(iHi + dHi, Kmax);
            const bool last = dLo == 1 && std::max(iLo + 1, Kmin) <= std::min(iHi + 1, Kmax);
            if (first || later) append(walks.any, p, to);
            if (first && !later) append(walks.firstOnly, p, to);
            if (first && later) append(walks.both, p, to);
            if (later && !first) append(walks.laterOnly, p, to);
            if (last) append(walks.last, p, to);
        }
        p = next;
    }
    return walks;
}

// The lane forms: the programmes' templates, inlined whole into each build of the entry points.
#define PROGRAMME_CLONES PULSEBENCH_CLONES __attribute__((flatten))

// Lane groups pass only between inlined pieces, so the note on the ABI of wide vectors does not
// apply; it stays off to the end of the file, where the compiler instantiates the templates.
#pragma GCC diagnostic ignored "-Wpsabi"
namespace {
// The local scores of the lane groups at position `at`, from the interleaved row Q starting at
// position `from`.
template <class Sum, int Width>
auto rowScores(const Sum* Q, int64_t from) {
    return [Q, from](int64_t at, Lanes<Sum, Width>& q) { PROGRAMME_LOAD(q, Q, at - from, Width); };
}
}  // namespace

PROGRAMME_CLONES bool walkPulseChainsLanes(const std::vector<int32_t>& firstOnly, const std::vector<int32_t>& both,
                                           const std::vector<int32_t>& laterOnly, const int32_t* Q, int64_t Tmin,
                                           int64_t Tmax, int32_t unset, int32_t* r, int32_t* b, int64_t size,
                                           WindowMinimum<int32_t, kSeriesLanes>& window,
                                           const std::atomic<bool>* stop) {
    return walkPulseChainsOn<int32_t, kSeriesLanes>(firstOnly, both, laterOnly, rowScores<int32_t, kSeriesLanes>(Q, 0), Tmin,
                                             Tmax, unset, r, b, size, window, stop);
}

PROGRAMME_CLONES bool walkPulseChainsLanes(const PositionWalks::Intervals& firstOnly,
                                           const PositionWalks::Intervals& both,
                                           const PositionWalks::Intervals& laterOnly, const int64_t* Q, int64_t Tmin,
                                           int64_t Tmax, int64_t unset, int64_t* r, int64_t* b, int64_t size,
                                           WindowMinimum<int64_t, kRecordingLanes>& window,
                                           const std::atomic<bool>* stop) {
    return walkPulseChainsOn<int64_t, kRecordingLanes>(firstOnly, both, laterOnly, rowScores<int64_t, kRecordingLanes>(Q, 0),
                                                Tmin, Tmax, unset, r, b, size, window, stop);
}

namespace {
struct NoSteps {};

// c ? a : b lane by lane. For one programme it is kept a function: with both values evaluated
// as its arguments the compiler selects with a conditional move, where the same ternary written
// in place compiled to a branch on the window's comparison, which noisy totals take either way.
template <class Mask, class V>
__attribute__((always_inline)) inline V pick(Mask c, V a, V b) {
    return c ? a : b;
}

// The rows of a walk in one sweep; positions are ring entries of r (l & mask) and of Q (l & qMask).
template <int Width, class StepSum>
struct SweepRows {
    const int64_t* Q;
    int64_t qMask;
    int64_t* r;
    int64_t mask;
    StepSum* steps;
};

// Position l's total from the best of its window (value at position `at`) and the run's start,
// and its step back, from its score at q into its total at total and its step at step.
template <int Width, class StepSum>
__attribute__((always_inline)) inline void settle(int64_t l, const int64_t* q, int64_t* total, StepSum* step,
                                                  const Lanes<int64_t, Width>& start,
                                                  const Lanes<int64_t, Width>& value, const Lanes<int64_t, Width>& at) {
    using Value = Lanes<int64_t, Width>;
    Value score;
    PROGRAMME_LOAD(score, q, 0, Width);
    if constexpr (std::is_same_v<StepSum, NoSteps>) {
        // The smaller of the two, one instruction.
        PROGRAMME_STORE(total, 0, Width, PROGRAMME_ADD(int64_t, Width, (value < start ? value : start), score));
    } else {
        const auto below = value < start;
        PROGRAMME_STORE(total, 0, Width, PROGRAMME_ADD(int64_t, Width, pick(below, value, start), score));
        const Value back = pick(below, (Value{} + l) - at, Value{});
        if constexpr (Width == 1) {
            PROGRAMME_STORE(step, 0, Width, static_cast<StepSum>(back));
        } else {
            using Step = Lanes<StepSum, Width>;
            PROGRAMME_STORE(step, 0, Width, __builtin_convertvector(back, Step));
        }
    }
}
template <int Width, class StepSum>
__attribute__((always_inline)) inline void settle(const SweepRows<Width, StepSum>& rows, int64_t l,
                                                  const Lanes<int64_t, Width>& start,
                                                  const Lanes<int64_t, Width>& value, const Lanes<int64_t, Width>& at) {
    StepSum* step = nullptr;
    if constexpr (!std::is_same_v<StepSum, NoSteps>) step = rows.steps + l * Width;
    settle<Width, StepSum>(l, rows.Q + (l & rows.qMask) * Width, rows.r + (l & rows.mask) * Width, step, start,
                           value, at);
}

// Positions l..l+count-1 whose windows end inside one block after a complete one, and whose
// entries in the rings do not wrap around: the suffix minima of that block from the first
// window's start on, the running prefix minimum of the current block (value, then position,
// Width each) and the run's start. The prefix and the start are read from memory into locals
// and the prefix written back: a lane group that lives across the sweep's calls would be kept
// in memory throughout, and the prefix is the loop's one chain from position to position.
template <int Width, class StepSum>
__attribute__((always_inline)) inline void acrossBlock(const SweepRows<Width, StepSum> rows, int64_t l, int64_t count,
                                                       int64_t Tmin, const int64_t* suffix, const int64_t* suffixAt,
                                                       const int64_t* startIn, int64_t* prefix) {
    using Value = Lanes<int64_t, Width>;
    Value pv, pa, start;
    PROGRAMME_LOAD(pv, prefix, 0, Width);
    PROGRAMME_LOAD(pa, prefix, 1, Width);
    PROGRAMME_LOAD(start, startIn, 0, Width);
    const int64_t* const in = rows.r + ((l - Tmin) & rows.mask) * Width;
    const int64_t* const q = rows.Q + (l & rows.qMask) * Width;
    int64_t* const out = rows.r + (l & rows.mask) * Width;
    StepSum* steps = nullptr;
    if constexpr (!std::is_same_v<StepSum, NoSteps>) steps = rows.steps + l * Width;
    for (int64_t k = 0; k < count; ++k) {
        __builtin_prefetch(q + (k + 16) * Width);
        Value v, sv;
        PROGRAMME_LOAD(v, in, k, Width);
        PROGRAMME_LOAD(sv, suffix, k, Width);
        if constexpr (!std::is_same_v<StepSum, NoSteps>) {
            const int64_t t = l + k - Tmin;
            const auto lower = v < pv;
            pv = pick(lower, v, pv);
            pa = pick(lower, Value{} + t, pa);
            Value sa;
            PROGRAMME_LOAD(sa, suffixAt, k, Width);
            const auto earlier = sv <= pv;
            settle<Width, StepSum>(l + k, q + k * Width, out + k * Width, steps + k * Width, start,
                                   pick(earlier, sv, pv), pick(earlier, sa, pa));
        } else {
            pv = v < pv ? v : pv;
            settle<Width, StepSum>(l + k, q + k * Width, out + k * Width, steps, start, sv < pv ? sv : pv, pa);
        }
    }
    PROGRAMME_STORE(prefix, 0, Width, pv);
    PROGRAMME_STORE(prefix, 1, Width, pa);
}

// The walks in one sweep. The best predecessor of l is the first smallest total of the window
// [l - Tmax, l - Tmin] (clipped at 0), all of it final once the sweep is at l. The window's end
// t = l - Tmin runs through blocks of the window's width w: a window is the end of the block
// before t's (its suffix minima, taken once when that block is complete) and the start of t's
// own block (a running prefix minimum); equal totals keep the earlier position. Between a
// block's first and last position a step is a few loads, minima and one store without a
// data-dependent branch; a block's ends, a run's start (where the state is taken afresh from
// the ring), a chunk of scores and a look at `stop` are dealt with between such stretches.
template <int Width, class StepSum>
bool sweep(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
           const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin, int64_t Tmax, int64_t unset,
           int64_t* r, int64_t ring, StepSum* steps, int64_t size, const std::atomic<bool>* stop) {
    using Value = Lanes<int64_t, Width>;
    constexpr bool kSteps = !std::is_same_v<StepSum, NoSteps>;
    using Step = Lanes<std::conditional_t<kSteps, StepSum, int32_t>, Width>;
    const int64_t mask = ring - 1, w = Tmax - Tmin + 1;
    const Value unsetValue = Value{} + unset;
    std::fill(r, r + ring * Width, unset);
    // The window's state: the suffix minima of the block before t's (entry j, 1 <= j < w, the
    // first smallest of that block's positions j..w-1: values, then positions), the prefix
    // minimum of t's block (value, position) and the run's start.
    std::vector<int64_t> work(static_cast<size_t>((2 * w + 3) * Width));
    int64_t* const suffixValue = work.data();
    int64_t* const suffixArg = suffixValue + w * Width;
    int64_t* const prefix = suffixArg + w * Width;
    int64_t* const startIn = prefix + 2 * Width;
    int64_t blockStart = 0, i = 0;  // t = blockStart + i
    bool hasPrevious = false;
    auto totalAt = [&](int64_t t, Value& v) { PROGRAMME_LOAD(v, r, t & mask, Width); };
    // Suffix minima of the block from `first`, entries w-1 down to `low`.
    auto suffixes = [&](int64_t first, int64_t low) {
        Value sv, sa = Value{} + (first + w - 1), v;
        totalAt(first + w - 1, sv);
        for (int64_t j = w - 1; j >= low; --j) {
            totalAt(first + j, v);
            if constexpr (kSteps) {
                const auto take = v <= sv;
                sv = pick(take, v, sv);
                sa = pick(take, Value{} + (first + j), sa);
                PROGRAMME_STORE(suffixArg, j, Width, sa);
            } else {
                sv = v < sv ? v : sv;
            }
            PROGRAMME_STORE(suffixValue, j, Width, sv);
        }
    };
    // Position t's total taken into the prefix minimum (the first of its block when `fresh`);
    // the prefix's value and position after it.
    auto takeIn = [&](int64_t t, bool fresh, Value& value, Value& at) {
        Value v;
        totalAt(t, v);
        PROGRAMME_LOAD(value, prefix, 0, Width);
        PROGRAMME_LOAD(at, prefix, 1, Width);
        const auto lower = v < value;
        value = fresh ? v : pick(lower, v, value);
        at = fresh ? Value{} + t : pick(lower, Value{} + t, at);
        PROGRAMME_STORE(prefix, 0, Width, value);
        PROGRAMME_STORE(prefix, 1, Width, at);
    };
    // The state for a window ending at t0 (>= 0) from the ring: the block before t0's from the
    // first position a window from t0 on reads, t0's own block up to t0 - 1.
    auto rebuild = [&](int64_t t0) {
        blockStart = t0 / w * w;
        i = t0 - blockStart;
        hasPrevious = blockStart > 0;
        if (hasPrevious) suffixes(blockStart - w, i + 1);
        Value value, at;
        for (int64_t t = blockStart; t < t0; ++t) takeIn(t, t == blockStart, value, at);
    };
    const SweepRows<Width, StepSum> rows{Q, qMask, r, mask, steps};
    // One position whose window ends at t = l - Tmin >= 0, any place in its block.
    auto general = [&](int64_t l, const Value& start) {
        Value value, at;
        takeIn(l - Tmin, i == 0, value, at);
        if (hasPrevious && i < w - 1) {
            Value sv, sa;
            PROGRAMME_LOAD(sv, suffixValue, i + 1, Width);
            PROGRAMME_LOAD(sa, suffixArg, kSteps ? i + 1 : 0, Width);
            const auto earlier = sv <= value;
            value = pick(earlier, sv, value);
            at = pick(earlier, sa, at);
        }
        settle(rows, l, start, value, at);
        if (i == w - 1) {
            suffixes(blockStart, 1);
            hasPrevious = true;
            blockStart += w;
            i = 0;
        } else {
            ++i;
        }
    };
    // The three walks in position order; kind 0: first only, 1: both, 2: later only.
    struct Run {
        int64_t from, to;
        int kind;
    };
    std::vector<Run> runs;
    for (const auto& [a, z] : walks.firstOnly) runs.push_back({a, z, 0});
    for (const auto& [a, z] : walks.both) runs.push_back({a, z, 1});
    for (const auto& [a, z] : walks.laterOnly) runs.push_back({a, z, 2});
    std::sort(runs.begin(), runs.end(), [](const Run& x, const Run& y) { return x.from < y.from; });
    // Positions between the walks hold no chain; only the ring entries a window may still
    // read need saying so.
    int64_t written = 0, scored = -1, nextLook = stop ? 0 : std::numeric_limits<int64_t>::max();
    auto unsetUpTo = [&](int64_t end) {
        for (int64_t l = std::max(written, end - ring); l < end; ++l) PROGRAMME_STORE(r, l & mask, Width, unsetValue);
    };
    for (const Run& run : runs) {
        unsetUpTo(run.from);
        const Value start = Value{} + (run.kind == 1 ? int64_t{0} : unset);
        PROGRAMME_STORE(startIn, 0, Width, start);
        bool built = false;
        for (int64_t l = run.from; l <= run.to;) {
            if (l >= nextLook) {
                if (stop->load(std::memory_order_relaxed)) return false;
                nextLook = (l | 0xFFFF) + 1;
            }
            if (l > scored) scored = scoredThrough(l);
            const int64_t end = std::min({run.to, scored, nextLook - 1});
            if (run.kind == 0) {
                for (; l <= end; ++l) {
                    Value q;
                    PROGRAMME_LOAD(q, Q, l & qMask, Width);
                    PROGRAMME_STORE(r, l & mask, Width, q);
                    if constexpr (kSteps) PROGRAMME_STORE(steps, l, Width, Step{});
                }
                continue;
            }
            // A window that ends before position 0 holds nothing: the run's start.
            for (; l <= end && l < Tmin; ++l) settle(rows, l, start, start, Value{});
            if (l > end) continue;
            if (!built) {
                rebuild(l - Tmin);
                built = true;
            }
            while (l <= end) {
                if (hasPrevious && i >= 1 && i < w - 1) {
                    // Up to the block's last position, the chunk's end, and the first wrap of
                    // a ring entry read or written.
                    const int64_t count = std::min({w - 1 - i, end - l + 1, ring - (l & mask),
                                                    ring - ((l - Tmin) & mask),
                                                    qMask < 0 ? end - l + 1 : qMask + 1 - (l & qMask)});
                    acrossBlock(rows, l, count, Tmin, suffixValue + (i + 1) * Width, suffixArg + (i + 1) * Width,
                                startIn, prefix);
                    i += count;
                    l += count;
                } else {
                    general(l, start);
                    ++l;
                }
            }
        }
        written = run.to + 1;
    }
    unsetUpTo(size);
    return true;
}
}  // namespace

PROGRAMME_CLONES bool walkInOneSweepOn(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
                                       const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin,
                                       int64_t Tmax, int64_t unset, int64_t* r, int64_t ring, uint16_t* steps,
                                       int64_t size, const std::atomic<bool>* stop) {
    return sweep<1>(walks, Q, qMask, scoredThrough, Tmin, Tmax, unset, r, ring, steps, size, stop);
}

PROGRAMME_CLONES bool walkInOneSweepOn(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
                                       const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin,
                                       int64_t Tmax, int64_t unset, int64_t* r, int64_t ring, int32_t* steps,
                                       int64_t size, const std::atomic<bool>* stop) {
    return sweep<1>(walks, Q, qMask, scoredThrough, Tmin, Tmax, unset, r, ring, steps, size, stop);
}

PROGRAMME_CLONES bool walkInOneSweepOn(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
                                       const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin,
                                       int64_t Tmax, int64_t unset, int64_t* r, int64_t ring, int64_t size,
                                       const std::atomic<bool>* stop) {
    return sweep<kRecordingLanes>(walks, Q, qMask, scoredThrough, Tmin, Tmax, unset, r, ring,
                                  static_cast<NoSteps*>(nullptr), size, stop);
}

PROGRAMME_CLONES bool layeredTotalsLanes(std::span<const int32_t> lo, std::span<const int32_t> hi, const int32_t* Q,
                                         int64_t qlo, int64_t Tmin, int64_t Tmax, int32_t predStart,
                                         LayeredWork<int32_t, kSeriesLanes>& work, const std::atomic<bool>* stop) {
    return layeredTotals<int32_t, kSeriesLanes>(lo, hi, [&](size_t) { return rowScores<int32_t, kSeriesLanes>(Q, qlo); },
                                         Tmin, Tmax, predStart, work, stop);
}

PROGRAMME_CLONES bool layeredTotalsLanes(std::span<const int64_t> lo, std::span<const int64_t> hi, const int64_t* Q,
                                         int64_t qlo, int64_t Tmin, int64_t Tmax, int64_t predStart,
                                         LayeredWork<int64_t, kRecordingLanes>& work, const std::atomic<bool>* stop) {
    return layeredTotals<int64_t, kRecordingLanes>(lo, hi,
                                            [&](size_t) { return rowScores<int64_t, kRecordingLanes>(Q, qlo); },
                                            Tmin, Tmax, predStart, work, stop);
}
