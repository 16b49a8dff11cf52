#include "processing/local_match.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>

#include "processing/vector_builds.h"

namespace {
// E * pct / 100 as the processing defines it: the product in 32-bit two's complement.
int32_t threshold(int32_t E, int32_t pct) {
    return static_cast<int32_t>(static_cast<uint32_t>(E) * static_cast<uint32_t>(pct)) / 100;
}
}  // namespace

template <class Sum>
void BasicLocalMatcher<Sum>::prepare(const Alphabet& alphabet, std::span<const uint16_t> candidates, int n,
                                     uint16_t pct) {
    prepareEach(
        candidates.size(),
        [&](size_t i) { return std::pair<const int16_t*, int32_t>(alphabet[candidates[i] - 1].lpData.get(), candidates[i]); },
        n, pct);
}

template <class Sum>
void BasicLocalMatcher<Sum>::prepareShapes(std::span<const int16_t* const> shapes, std::span<const int32_t> numbers,
                                           int n, int32_t pct) {
    prepareEach(
        shapes.size(), [&](size_t i) { return std::pair<const int16_t*, int32_t>(shapes[i], numbers[i]); }, n, pct);
}

template <class Sum>
template <class ShapeAt>
void BasicLocalMatcher<Sum>::prepareEach(size_t count, ShapeAt&& shapeAt, int n, int32_t pct) {
    n_ = n;
    etalons_.clear();
    etalons_.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        Prepared e;
        std::tie(e.x, e.number) = shapeAt(i);
        e.P.assign(static_cast<size_t>(n) + 1, 0);
        int64_t bound = 0;
        for (int c = 0; c < n; ++c) {
            const int32_t x = e.x[c];
            e.P[c + 1] = addSum(e.P[c], static_cast<Sum>(x * x));
            bound += static_cast<int64_t>(std::abs(x)) * (std::abs(x) + 2 * 32768);
        }
        const Sum E = e.E = e.P[n];
        const Sum thr = e.thr = threshold(E, pct);

        // Admissible cuts, with the Sum arithmetic. For ordinary etalons the ends admissible for
        // a start form a suffix t >= tMin[s]; the prefix-sum method relies on it.
        e.tMin.assign(static_cast<size_t>(n), -1);
        bool suffixes = true;
        e.sCount = 0;
        for (int s = 0; s < n; ++s) {
            if (!(subSum(E, e.P[s]) > thr)) continue;
            int first = -1;
            for (int t = s; t < n; ++t) {
                const bool admissible = subSum(e.P[t + 1], e.P[s]) > thr;
                if (admissible && first < 0) first = t;
                if (!admissible && first >= 0) suffixes = false;
            }
            e.tMin[s] = first;
            if (first >= 0) e.sCount = s + 1;
        }
        // No score of this etalon can leave Sum when |x| (|x| + 2 |y|) summed over the etalon
        // stays below its range for the largest |y|; then exact prefix sums give the same
        // scores as the wrapping sums.
        // The sweep of matchPrepared also needs the admissible starts to be a prefix and their
        // smallest ends to grow with the start, as they do whenever the energies do not wrap.
        bool monotone = true;
        for (int s = 0; s < n; ++s) {
            if (s < e.sCount && e.tMin[s] < 0) monotone = false;
            if (s >= e.sCount && e.tMin[s] >= 0) monotone = false;
            if (s > 0 && s < e.sCount && e.tMin[s] < e.tMin[s - 1]) monotone = false;
        }
        constexpr int64_t range = sizeof(Sum) == 4 ? int64_t{1} << 31 : int64_t{1} << 62;
        e.exactFits = suffixes && monotone && bound < range;
        e.xx.resize(static_cast<size_t>(n));
        for (int c = 0; c < n; ++c) e.xx[c] = static_cast<int32_t>(e.x[c]) * e.x[c];
        e.lowestEnd = n - 1;
        for (int s = 0; s < e.sCount; ++s)
            if (e.tMin[s] >= 0 && e.tMin[s] < e.lowestEnd) e.lowestEnd = e.tMin[s];
        etalons_.push_back(std::move(e));
    }
    block_.F.assign((static_cast<size_t>(n) + 1) * kBlockLanes, 0);
    block_.bestScore.assign(kBlock + kBlockLanes, 0);
    for (auto* row : {&block_.bestEtalon, &block_.bestS, &block_.bestT}) row->assign(kBlock + kBlockLanes, 0);
    block_.tailSamples.assign(static_cast<size_t>(kBlockLanes + n), 0);
    term_.assign(static_cast<size_t>(n) + 1, 0);
    fStart_.assign(static_cast<size_t>(n) + 1, 0);
}

template <class Sum>
BasicLocalMatch<Sum> BasicLocalMatcher<Sum>::matchPrepared(const Prepared& e, const int16_t* y, int64_t l) const {
    // Every partial sum of this etalon's terms fits Sum (checked when prepared), so the sums
    // below are exact. term[c] = x[c] (x[c] - 2 y[l + c]); the score of a cut (s, t) is
    // F[t + 1] - F[s] with F the prefix sums of the terms.
    const int n = n_;
    const int16_t* __restrict x = e.x;
    const int32_t* __restrict xx = e.xx.data();
    const int16_t* __restrict w = y + l;
    Sum* __restrict term = term_.data();
    Sum total = 0;
    for (int c = 0; c < n; ++c) {
        const Sum t = xx[c] - 2 * (static_cast<Sum>(x[c]) * static_cast<Sum>(w[c]));
        term[c] = t;
        total += t;
    }
    Match best{total, e.number, 0, n - 1};
    if (e.sCount == 0) return best;

    // F[s] for the admissible starts.
    Sum* __restrict Fstart = fStart_.data();
    Sum Fs = 0;
    for (int s = 0; s < e.sCount; ++s) {
        Fstart[s] = Fs;
        Fs += term[s];
    }
    // One descending sweep over the ends: F[c] = total - (sum of the terms from c on), with the
    // running minimum of F over [c, n] (the smallest c among equals, so the shortest cut).
    // The admissible ends of start s are t >= tMin[s], and tMin grows with s, so start s is
    // settled when the sweep reaches c = tMin[s] + 1. Starts are settled from the last to the
    // first, keeping the first start among equal scores.
    const int32_t* __restrict tMin = e.tMin.data();
    Sum tail = 0, runningMin = total, cutScore = 0;
    int32_t runningArg = n, cutS = -1, cutT = 0;
    int s = e.sCount - 1;
    for (int c = n; c >= e.lowestEnd + 1; --c) {
        if (c < n) {
            tail += term[c];
            const Sum F = total - tail;
            const bool take = F <= runningMin;
            runningMin = take ? F : runningMin;
            runningArg = take ? c : runningArg;
        }
        for (; s >= 0 && tMin[s] + 1 == c; --s) {
            const Sum score = runningMin - Fstart[s];
            if (cutS < 0 || score <= cutScore) {
                cutScore = score;
                cutS = s;
                cutT = runningArg - 1;
            }
        }
    }
    // The whole etalon was examined first: a cut replaces it only when strictly better.
    if (cutS >= 0 && cutScore < best.score) {
        best.score = cutScore;
        best.cutStart = cutS;
        best.cutEnd = cutT;
    }
    return best;
}

template <class Sum>
bool BasicLocalMatcher<Sum>::isAdmissible(const Prepared& e, int s, int t) {
    return subSum(e.E, e.P[s]) > e.thr && subSum(e.P[t + 1], e.P[s]) > e.thr;
}

template <class Sum>
BasicLocalMatch<Sum> BasicLocalMatcher<Sum>::matchWrapping(const Prepared& e, const int16_t* y, int64_t l) const {
    // Scores that may wrap: every admissible cut in examination order, each score the two's-
    // complement sum of the Sum width (a difference of wrapping prefix sums is that sum exactly).
    using Unsigned = std::make_unsigned_t<Sum>;
    const int n = n_;
    std::vector<Unsigned> F(static_cast<size_t>(n) + 1, 0);
    for (int c = 0; c < n; ++c) {
        const Sum xc = e.x[c];
        const Unsigned term = static_cast<Unsigned>(xc) *
                              (static_cast<Unsigned>(xc) - Unsigned{2} * static_cast<Unsigned>(static_cast<Sum>(y[l + c])));
        F[c + 1] = F[c] + term;
    }
    Match best{static_cast<Sum>(F[n]), e.number, 0, n - 1};
    for (int s = 0; s < n; ++s) {
        if (e.tMin[s] < 0) continue;
        for (int t = s; t < n; ++t) {
            if (!isAdmissible(e, s, t)) continue;
            const Sum score = static_cast<Sum>(F[t + 1] - F[s]);
            if (score < best.score) {
                best.score = score;
                best.cutStart = s;
                best.cutEnd = t;
            }
        }
    }
    return best;
}

template <class Sum>
BasicLocalMatch<Sum> BasicLocalMatcher<Sum>::matchOne(size_t index, const int16_t* y, int64_t l) const {
    const Prepared& e = etalons_[index];
    return e.exactFits ? matchPrepared(e, y, l) : matchWrapping(e, y, l);
}

template <class Sum>
BasicLocalMatch<Sum> BasicLocalMatcher<Sum>::match(const int16_t* y, int64_t l) const {
    Match best = matchOne(0, y, l);
    for (size_t i = 1; i < etalons_.size(); ++i) {
        const Match m = matchOne(i, y, l);
        if (m.score < best.score) best = m;
    }
    return best;
}

namespace {
// The block kernel keeps sixteen positions in vector registers and runs the whole sweep of
// matchPrepared on them: the forward pass sums the terms (storing F only at the admissible
// starts and at the possible ends), the backward pass keeps the running minimum of F over the
// ends and settles the starts. Everything stays in registers but the stored F, so a candidate
// costs about n + 3 (ends) + 4 (starts) vector operations per sixteen positions. With AVX2 or
// AVX-512 available a wider build of the same code runs; integer arithmetic makes every build
// give identical results.

constexpr int kLanes = 16;  // BasicLocalMatcher::kBlockLanes sizes the scratch for it

template <class Sum>
struct KernelArgs {
    int n;
    int count;  // positions: the kernel does the multiples of kLanes
    const int16_t* x;
    const int32_t* xx;
    const int16_t* y;  // series sample under etalon sample 0 of the first position
    int32_t number;    // the etalon's number
    int sCount;        // admissible starts 0..sCount-1
    const int32_t* tMin;  // per start: the smallest admissible end (non-decreasing)
    int lowestEnd;
    bool first;        // the first candidate: its match is the best so far
    Sum* F;            // scratch: (n + 1) * kLanes
    // The best match so far per position, merged with this candidate's.
    Sum* bestScore;
    int32_t* bestEtalon;
    int32_t* bestS;
    int32_t* bestT;
};

// One candidate over positions: its whole etalon's score, the best admissible cut (first start
// among equals, then the shortest cut) replacing it when strictly smaller, and the result
// replacing the best so far when strictly smaller (or being it, for the first candidate).
// The etalon's sums fit Sum (exactFits), so no lane overflows. The body is inlined into the
// entry below, built for every vector width.
// One 512-bit vector of sums: sixteen 32-bit positions at a time, with the samples and the
// 32-bit indices of as many positions.
template <class Sum>
struct KernelVectors;
template <>
struct KernelVectors<int32_t> {
    static constexpr int W = 16;
    typedef int32_t Lanes __attribute__((vector_size(64)));
    typedef int16_t Samples __attribute__((vector_size(32)));
    typedef int32_t Index __attribute__((vector_size(64)));
};

template <class Sum>
__attribute__((always_inline)) inline void candidateKernelBody(const KernelArgs<Sum>& a) {
    constexpr int W = KernelVectors<Sum>::W;
    static_assert(kLanes % W == 0);
    using Lanes = typename KernelVectors<Sum>::Lanes;
    using Samples = typename KernelVectors<Sum>::Samples;
    using Index = typename KernelVectors<Sum>::Index;
    const int n = a.n, sCount = a.sCount, firstEnd = a.lowestEnd + 1;
    for (int i0 = 0; i0 + W <= a.count; i0 += W) {
        const int16_t* y = a.y + i0;
        Lanes acc = {};
        for (int c = 0; c < n; ++c) {
            // acc holds F[c], the sum of the terms before c.
            if (c < sCount || c >= firstEnd) std::memcpy(a.F + static_cast<size_t>(c) * W, &acc, sizeof acc);
            Samples ys;
            std::memcpy(&ys, y + c, sizeof ys);
            // |x y| <= 2^30: the product is exact in 32-bit lanes, widened only for the sum.
            const Index product = static_cast<int32_t>(a.x[c]) * __builtin_convertvector(ys, Index);
            acc += static_cast<Sum>(a.xx[c]) - 2 * __builtin_convertvector(product, Lanes);
        }
        Lanes score = acc, cutS = Lanes{}, cutT = Lanes{} + (n - 1);
        if (sCount > 0) {
            // Backward over the ends: the running minimum of F[c..n] (smallest c among equals, so
            // the shortest cut); start s is settled when c reaches tMin[s] + 1, the starts from
            // the last to the first, keeping the first start among equal scores.
            Lanes runMin = acc, runArg = Lanes{} + n;
            Lanes best = Lanes{} + std::numeric_limits<Sum>::max(), bestS = Lanes{}, bestT = Lanes{};
            int s = sCount - 1;
            for (int c = n; c >= firstEnd; --c) {
                if (c < n) {
                    Lanes Fc;
                    std::memcpy(&Fc, a.F + static_cast<size_t>(c) * W, sizeof Fc);
                    const Lanes take = Fc <= runMin;
                    runMin = take ? Fc : runMin;
                    runArg = take ? Lanes{} + c : runArg;
                }
                for (; s >= 0 && a.tMin[s] + 1 == c; --s) {
                    Lanes Fs;
                    std::memcpy(&Fs, a.F + static_cast<size_t>(s) * W, sizeof Fs);
                    const Lanes cut = runMin - Fs;
                    const Lanes take = cut <= best;
                    best = take ? cut : best;
                    bestS = take ? Lanes{} + s : bestS;
                    bestT = take ? runArg - 1 : bestT;
                }
            }
            // The whole etalon was examined first: a cut replaces it only when strictly better.
            const Lanes better = best < acc;
            score = better ? best : acc;
            cutS = better ? bestS : cutS;
            cutT = better ? bestT : cutT;
        }
        Lanes etalon = Lanes{} + a.number;
        if (!a.first) {
            Lanes heldScore;
            Index heldEtalon, heldS, heldT;
            std::memcpy(&heldScore, a.bestScore + i0, sizeof heldScore);
            std::memcpy(&heldEtalon, a.bestEtalon + i0, sizeof heldEtalon);
            std::memcpy(&heldS, a.bestS + i0, sizeof heldS);
            std::memcpy(&heldT, a.bestT + i0, sizeof heldT);
            const Lanes lower = score < heldScore;
            score = lower ? score : heldScore;
            etalon = lower ? etalon : __builtin_convertvector(heldEtalon, Lanes);
            cutS = lower ? cutS : __builtin_convertvector(heldS, Lanes);
            cutT = lower ? cutT : __builtin_convertvector(heldT, Lanes);
        }
        const Index etalonOut = __builtin_convertvector(etalon, Index), sOut = __builtin_convertvector(cutS, Index),
                    tOut = __builtin_convertvector(cutT, Index);
        std::memcpy(a.bestScore + i0, &score, sizeof score);
        std::memcpy(a.bestEtalon + i0, &etalonOut, sizeof etalonOut);
        std::memcpy(a.bestS + i0, &sOut, sizeof sOut);
        std::memcpy(a.bestT + i0, &tOut, sizeof tOut);
    }
}

PULSEBENCH_CLONES void candidateKernel(const KernelArgs<int32_t>& a) { candidateKernelBody(a); }
}  // namespace

template <class Sum>
void BasicLocalMatcher<Sum>::matchRange(const int16_t* y, int64_t lo, int64_t hi, Match* out, int index) const {
    const size_t first = index < 0 ? 0 : static_cast<size_t>(index);
    const size_t last = index < 0 ? etalons_.size() : first + 1;
    const int n = n_;
    Sum* bestScore = block_.bestScore.data();
    int32_t* bestEtalon = block_.bestEtalon.data();
    int32_t* bestS = block_.bestS.data();
    int32_t* bestT = block_.bestT.data();
    for (int64_t b0 = lo; b0 <= hi; b0 += kBlock) {
        const int count = static_cast<int>(std::min<int64_t>(kBlock, hi - b0 + 1));
        const int vectored = count - count % kLanes;
        // The positions past the last full vector are matched as one more vector over a copy
        // of their samples padded with zeros; the padded lanes are not used.
        const bool tail = vectored < count;
        if (tail) {
            const int length = count - vectored + n - 1;
            std::fill(block_.tailSamples.begin(), block_.tailSamples.end(), int16_t{0});
            std::copy_n(y + b0 + vectored, length, block_.tailSamples.begin());
        }
        for (size_t ci = first; ci < last; ++ci) {
            const Prepared& e = etalons_[ci];
            if (!e.exactFits) {
                for (int i = 0; i < count; ++i) {
                    const Match m = matchWrapping(e, y, b0 + i);
                    if (ci == first || m.score < bestScore[i]) {
                        bestScore[i] = m.score;
                        bestEtalon[i] = m.etalon;
                        bestS[i] = m.cutStart;
                        bestT[i] = m.cutEnd;
                    }
                }
                continue;
            }
            KernelArgs<Sum> a{n,          vectored,   e.x,         e.xx.data(), y + b0,        e.number,
                         e.sCount,   e.tMin.data(), e.lowestEnd, ci == first, block_.F.data(), bestScore,
                         bestEtalon, bestS,      bestT};
            candidateKernel(a);
            if (tail) {
                a.count = kLanes;
                a.y = block_.tailSamples.data();
                a.bestScore += vectored;
                a.bestEtalon += vectored;
                a.bestS += vectored;
                a.bestT += vectored;
                candidateKernel(a);
            }
        }
        for (int i = 0; i < count; ++i) out[b0 - lo + i] = {bestScore[i], bestEtalon[i], bestS[i], bestT[i]};
    }
}

template class BasicLocalMatcher<int32_t>;
