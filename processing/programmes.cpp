#include "processing/programmes.h"

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
    // taken in runs over which none of them changes (and with them none of the answers).
    for (int64_t p = 0; p <= N - n;) {
        const int64_t A = ceilDiv(p + n, Tmax), iHi = p / Tmin, B = ceilDiv(N - p, Tmax), D = (N - n - p) / Tmin;
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
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PROGRAMME_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"), flatten))
#else
#define PROGRAMME_CLONES
#endif

#pragma GCC diagnostic push
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
// The scores of a walk that follows the match: position l is read once scoredThrough says so.
template <int Width>
auto streamedScores(const int64_t* Q, int64_t qMask, const std::function<int64_t(int64_t)>& scoredThrough) {
    return [Q, qMask, &scoredThrough, scored = int64_t{-1}](int64_t l, Lanes<int64_t, Width>& q) mutable {
        if (l > scored) scored = scoredThrough(l);
        PROGRAMME_LOAD(q, Q, l & qMask, Width);
    };
}
}  // namespace

PROGRAMME_CLONES bool walkInOneSweepOn(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
                                       const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin,
                                       int64_t Tmax, int64_t unset, int64_t* r, int64_t ring, uint16_t* steps,
                                       int64_t size, WindowMinimum<int64_t, 1>& window, const std::atomic<bool>* stop) {
    return walkInOneSweep<int64_t, 1>(walks, streamedScores<1>(Q, qMask, scoredThrough), Tmin, Tmax, unset, r, ring,
                                       steps, size, window, stop);
}

PROGRAMME_CLONES bool walkInOneSweepOn(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
                                       const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin,
                                       int64_t Tmax, int64_t unset, int64_t* r, int64_t ring, int32_t* steps,
                                       int64_t size, WindowMinimum<int64_t, 1>& window, const std::atomic<bool>* stop) {
    return walkInOneSweep<int64_t, 1>(walks, streamedScores<1>(Q, qMask, scoredThrough), Tmin, Tmax, unset, r, ring,
                                       steps, size, window, stop);
}

PROGRAMME_CLONES bool walkInOneSweepOn(const PositionWalks& walks, const int64_t* Q, int64_t qMask,
                                       const std::function<int64_t(int64_t)>& scoredThrough, int64_t Tmin,
                                       int64_t Tmax, int64_t unset, int64_t* r, int64_t ring, int64_t size,
                                       WindowMinimum<int64_t, kRecordingLanes, false>& window,
                                       const std::atomic<bool>* stop) {
    return walkInOneSweep<int64_t, kRecordingLanes>(walks, streamedScores<kRecordingLanes>(Q, qMask, scoredThrough),
                                                    Tmin, Tmax, unset, r, ring, static_cast<NoSteps*>(nullptr), size,
                                                    window, stop);
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
#pragma GCC diagnostic pop
