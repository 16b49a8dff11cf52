#pragma once

// The dynamic programmes of detection and recognition, written once for both kinds of input:
// the workbench's series (32-bit positions, 32-bit wrapping sums) and recordings (64-bit
// positions, 64-bit sums that the caller keeps far from overflow). The routines of processing/
// and the recordings' use case instantiate them with their own index and sum types.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "processing/local_match.h"

/// The first smallest value of the window [max(to - width + 1, 0), to] of a row of values, for
/// a `to` that never decreases and values that are final once `to` has reached them. The row is
/// cut into blocks of `width`: a full window is the end of one block and the start of the next,
/// so its minimum is the smaller of a suffix minimum of the earlier block (computed once, when
/// that block is complete) and the running prefix minimum of the later one. Equal values keep
/// the earlier position. About three steps per position and no data-dependent branch in the
/// query, where a monotone queue mispredicts on noisy data.
template <class V>
class BasicFixedWindowMinimum {
public:
    void reset(const V* values, int64_t width, int64_t size) {
        values_ = values;
        width_ = width;
        next_ = 0;
        inBlock_ = 0;
        if (static_cast<int64_t>(suffixArg_.size()) < size) {
            suffixValue_.resize(static_cast<size_t>(size));
            suffixArg_.resize(static_cast<size_t>(size));
        }
    }
    /// The position of the first smallest value of the window ending at `to`; -1 when to < 0.
    int64_t minimumUpTo(int64_t to) {
        for (; next_ <= to; ++next_) {
            const V v = values_[next_];
            const bool lower = inBlock_ == 0 || v < prefixValue_;
            prefixValue_ = lower ? v : prefixValue_;
            prefixArg_ = lower ? next_ : prefixArg_;
            if (++inBlock_ == width_) {
                V sv = v;
                int64_t sa = next_;
                for (int64_t k = next_; k > next_ - width_; --k) {
                    const bool take = values_[k] <= sv;
                    sv = take ? values_[k] : sv;
                    sa = take ? k : sa;
                    suffixValue_[static_cast<size_t>(k)] = sv;
                    suffixArg_[static_cast<size_t>(k)] = sa;
                }
                inBlock_ = 0;
            }
        }
        if (to < 0) return -1;
        const int64_t from = to - width_ + 1;
        const int64_t blockStart = next_ - (inBlock_ == 0 ? width_ : inBlock_);
        if (from <= 0 && blockStart == 0) return prefixArg_;
        if (from >= blockStart) return prefixArg_;
        const size_t f = static_cast<size_t>(from);
        return suffixValue_[f] <= prefixValue_ ? suffixArg_[f] : prefixArg_;
    }

private:
    const V* values_ = nullptr;
    int64_t width_ = 1, next_ = 0, inBlock_ = 0;
    V prefixValue_ = 0;
    int64_t prefixArg_ = 0;
    std::vector<V> suffixValue_;
    std::vector<int64_t> suffixArg_;
};

/// Visits every position of a walk in order: a list of positions, or a list of inclusive
/// intervals (ascending, disjoint).
template <class Index, class F>
void forEachPosition(const std::vector<Index>& walk, F&& f) {
    for (const Index l : walk) f(l);
}
template <class Index, class F>
void forEachPosition(const std::vector<std::pair<Index, Index>>& walk, F&& f) {
    for (const auto& [a, b] : walk)
        for (Index l = a; l <= b; ++l) f(l);
}

/// The walks of the unknown-count pulse programme, given the local scores (score(l)): a pulse
/// that can only be first begins a chain (r = q, predecessor -1); one that may also be first
/// extends only a chain with a negative total in its window, else it begins one (predecessor
/// -2); one that can only follow extends the best chain in its window whatever its total
/// (search from `unset`). The smallest m among equal totals is taken. r and b have `size`
/// entries, r holding `unset` wherever no walk has been; sums are the Sum type's (addSum).
template <class Index, class Sum, class Walk, class Score>
void walkPulseChainsOn(const Walk& firstOnly, const Walk& both, const Walk& laterOnly, Score&& score, int64_t Tmin,
                       int64_t Tmax, Sum unset, Sum* r, Index* b, int64_t size) {
    forEachPosition(firstOnly, [&](Index l) {
        r[l] = score(l);
        b[l] = -1;
    });
    // The best predecessor of l is the first m of [l - Tmax, l - Tmin] with the smallest r below
    // the search's start. The window slides forward with l, and r[m] is final once l passes m
    // (the walk writes only r[l]), so a sliding minimum gives it in O(1) per position.
    BasicFixedWindowMinimum<Sum> window;
    auto extend = [&](const Walk& walk, Sum start) {
        window.reset(r, Tmax - Tmin + 1, size);
        forEachPosition(walk, [&](Index l) {
            const int64_t m = window.minimumUpTo(int64_t{l} - Tmin);
            Sum best = start;
            Index from = -2;
            if (m >= 0 && r[m] < start) {
                from = static_cast<Index>(m);
                best = r[m];
            }
            r[l] = addSum(best, score(l));
            b[l] = from;
        });
    };
    extend(both, 0);
    extend(laterOnly, unset);
}

/// The layered programme of the known-count routines: K layers, layer j over the positions
/// lo[j]..hi[j] with local scores rowOf(j)(k) (rowOf(j) is taken once per layer, so that the
/// row's whereabouts stay in registers). The predecessor cost of layer 0 is 0; later
/// layers take the smallest value of their window [k - Tmax, k - Tmin] in the previous range
/// when below `predStart`, else predStart. The end is the strict minimum of the last layer from
/// `endStart`; back-tracking searches from `backStart`. Where no value lies below a search's
/// starting bound the position with the smallest value is taken (the distance then stays at the
/// bound). Fills one position per layer and returns the distance. D keeps the layers' totals.
template <class Index, class Sum, class RowOf>
Sum layeredPositions(std::span<const Index> lo, std::span<const Index> hi, RowOf&& rowOf, int64_t Tmin,
                     int64_t Tmax, Sum predStart, Sum endStart, Sum backStart, std::vector<std::vector<Sum>>& D,
                     std::vector<Index>& position) {
    constexpr Sum padding = std::numeric_limits<Sum>::max();
    const size_t K = lo.size();
    D.resize(K);
    // The predecessor cost is the smallest D_{j-1} of the window [k - Tmax, k - Tmin] within the
    // previous range, when below predStart. The previous layer is complete, so its window minima
    // come from blocks of the window's width W over D_{j-1} padded with the largest Sum outside
    // its range (a padded value is never below predStart): every window is the end of one block
    // and the start of the next, whose suffix and prefix minima are taken in one pass each. Each
    // layer costs O(its range + W) without data-dependent branches.
    const int64_t W = Tmax - Tmin + 1;
    std::vector<Sum> ext, prefix, suffix;
    for (size_t j = 0; j < K; ++j) {
        const int64_t l0 = lo[j], h0 = hi[j];
        std::vector<Sum>& Dj = D[j];
        Dj.resize(static_cast<size_t>(h0 - l0 + 1));
        const auto score = rowOf(j);
        if (j == 0) {
            for (int64_t k = l0; k <= h0; ++k) Dj[static_cast<size_t>(k - l0)] = score(static_cast<Index>(k));
            continue;
        }
        const std::vector<Sum>& Dp = D[j - 1];
        const int64_t plo = lo[j - 1], phi = hi[j - 1];
        // ext[i] = D_{j-1} at position base + i, for the positions of every window of the layer.
        const int64_t base = l0 - Tmax, length = h0 - Tmin - base + 1;
        ext.assign(static_cast<size_t>(length), padding);
        for (int64_t m = std::max<int64_t>(plo, base); m <= std::min<int64_t>(phi, base + length - 1); ++m)
            ext[static_cast<size_t>(m - base)] = Dp[static_cast<size_t>(m - plo)];
        prefix.resize(ext.size());
        suffix.resize(ext.size());
        for (int64_t b0 = 0; b0 < length; b0 += W) {
            const int64_t b1 = std::min<int64_t>(b0 + W, length);
            Sum run = padding;
            for (int64_t i = b0; i < b1; ++i) prefix[static_cast<size_t>(i)] = run = std::min(run, ext[static_cast<size_t>(i)]);
            run = padding;
            for (int64_t i = b1 - 1; i >= b0; --i) suffix[static_cast<size_t>(i)] = run = std::min(run, ext[static_cast<size_t>(i)]);
        }
        for (int64_t k = l0; k <= h0; ++k) {
            // The window of k is ext[k - l0 .. k - l0 + W - 1].
            const size_t a = static_cast<size_t>(k - l0), b = a + static_cast<size_t>(W) - 1;
            const Sum smallest = std::min(suffix[a], prefix[b]);
            const Sum pred = smallest < predStart ? smallest : predStart;
            Dj[a] = addSum(pred, score(static_cast<Index>(k)));
        }
    }

    // Strict minimum of D_j over [from, to] below `start`; where nothing lies below, the
    // smallest value (first among equals) is taken and the value held stays at the bound.
    auto pick = [&](size_t j, int64_t from, int64_t to, Sum start, Sum& value) {
        const std::vector<Sum>& Dj = D[j];
        const int64_t l0 = lo[j];
        int64_t chosen = -1;
        Sum held = start;
        for (int64_t m = from; m <= to; ++m)
            if (Dj[static_cast<size_t>(m - l0)] < held) {
                held = Dj[static_cast<size_t>(m - l0)];
                chosen = m;
            }
        value = held;
        if (chosen >= 0) return chosen;
        chosen = from;
        for (int64_t m = from + 1; m <= to; ++m)
            if (Dj[static_cast<size_t>(m - l0)] < Dj[static_cast<size_t>(chosen - l0)]) chosen = m;
        return chosen;
    };

    position.resize(K);
    Sum distance;
    position[K - 1] = static_cast<Index>(pick(K - 1, lo[K - 1], hi[K - 1], endStart, distance));
    for (size_t j = K - 1; j-- > 0;) {
        const int64_t p = position[j + 1];
        Sum unused;
        position[j] = static_cast<Index>(
            pick(j, std::max<int64_t>(p - Tmax, lo[j]), std::min<int64_t>(p - Tmin, hi[j]), backStart, unused));
    }
    return distance;
}

/// The positions the pulses of a chain may take in a signal of N samples with pulses of n
/// samples, gaps Tmin..Tmax, first pulse within Tmax of the start (p_0 + n <= Tmax), last within
/// Tmax of the end (N - p_last <= Tmax), and Kmin..Kmax pulses: pulse i of a chain of k lies in
/// [max(N - Tmax (k - i), Tmin i), min(Tmax (i + 1) - n, N - n - Tmin (k - 1 - i))]. The sets
/// are the unions over k and i, as ascending disjoint intervals, split as the unknown-count
/// programme walks them. Computed position by position in O(N) whatever the pulse counts.
struct PositionWalks {
    using Intervals = std::vector<std::pair<int64_t, int64_t>>;
    Intervals any;        // First ∪ Later
    Intervals firstOnly;  // First − Later
    Intervals both;       // First ∩ Later
    Intervals laterOnly;  // Later − First
    Intervals last;       // Last
};
PositionWalks positionWalks(int64_t N, int64_t n, int64_t Tmin, int64_t Tmax, int64_t Kmin, int64_t Kmax);

/// The position range [lo, hi] of pulse i of a chain of k pulses (the formula above); empty
/// when hi < lo.
inline std::pair<int64_t, int64_t> pulseRange(int64_t N, int64_t n, int64_t Tmin, int64_t Tmax, int64_t i,
                                              int64_t k) {
    const int64_t lo = i == 0 ? std::max<int64_t>(N - Tmax * k, 0) : std::max(N - Tmax * (k - i), Tmin * i);
    const int64_t hi = std::min(Tmax * (i + 1) - n, N - n - Tmin * (k - 1 - i));
    return {lo, hi};
}
