#include "processing/local_match.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

void LocalMatcher::prepare(const Alphabet& alphabet, std::span<const uint16_t> candidates, int n,
                           uint16_t pct) {
    n_ = n;
    etalons_.clear();
    etalons_.reserve(candidates.size());
    for (const uint16_t number : candidates) {
        Prepared e;
        e.number = static_cast<int16_t>(number);
        e.x = alphabet[number - 1].lpData.get();
        e.P.assign(static_cast<size_t>(n) + 1, 0);
        int64_t bound = 0;
        for (int c = 0; c < n; ++c) {
            const int32_t x = e.x[c];
            e.P[c + 1] = wrapAdd(e.P[c], x * x);
            bound += static_cast<int64_t>(std::abs(x)) * (std::abs(x) + 2 * 32768);
        }
        const int32_t E = e.E = e.P[n];
        const int32_t thr = e.thr =
            static_cast<int32_t>(static_cast<uint32_t>(E) * static_cast<uint32_t>(pct)) / 100;

        // Admissible cuts, with the described 32-bit arithmetic. For ordinary etalons the ends
        // admissible for a start form a suffix t >= tMin[s]; the prefix-sum method relies on it.
        e.tMin.assign(static_cast<size_t>(n), -1);
        bool suffixes = true;
        e.sCount = 0;
        for (int s = 0; s < n; ++s) {
            if (!(wrapSub(E, e.P[s]) > thr)) continue;
            int first = -1;
            for (int t = s; t < n; ++t) {
                const bool admissible = wrapSub(e.P[t + 1], e.P[s]) > thr;
                if (admissible && first < 0) first = t;
                if (!admissible && first >= 0) suffixes = false;
            }
            e.tMin[s] = static_cast<int16_t>(first);
            if (first >= 0) e.sCount = s + 1;
        }
        // No score of this etalon can leave 32 bits when |x| (|x| + 2 |y|) summed over the
        // etalon stays below 2^31 for the largest |y|; then exact 64-bit prefix sums give the
        // described 32-bit scores.
        // The sweep of matchPrepared also needs the admissible starts to be a prefix and their
        // smallest ends to grow with the start, as they do whenever the energies do not wrap.
        bool monotone = true;
        for (int s = 0; s < n; ++s) {
            if (s < e.sCount && e.tMin[s] < 0) monotone = false;
            if (s >= e.sCount && e.tMin[s] >= 0) monotone = false;
            if (s > 0 && s < e.sCount && e.tMin[s] < e.tMin[s - 1]) monotone = false;
        }
        e.exactFits = suffixes && monotone && bound < (int64_t{1} << 31);
        e.xx.resize(static_cast<size_t>(n));
        for (int c = 0; c < n; ++c) e.xx[c] = static_cast<int32_t>(e.x[c]) * e.x[c];
        e.lowestEnd = n - 1;
        for (int s = 0; s < e.sCount; ++s)
            if (e.tMin[s] >= 0 && e.tMin[s] < e.lowestEnd) e.lowestEnd = e.tMin[s];
        etalons_.push_back(std::move(e));
    }
    block_.F.assign((static_cast<size_t>(n) + 1) * kBlockLanes, 0);
    for (auto* row : {&block_.bestScore, &block_.bestEtalon, &block_.bestS, &block_.bestT})
        row->assign(kBlock + kBlockLanes, 0);
    block_.tailSamples.assign(static_cast<size_t>(kBlockLanes + n), 0);
    term_.assign(static_cast<size_t>(n) + 1, 0);
    fStart_.assign(static_cast<size_t>(n) + 1, 0);
}

LocalMatch LocalMatcher::matchPrepared(const Prepared& e, const int16_t* y, int32_t l) const {
    // Every partial sum of this etalon's terms fits 32 bits (checked when prepared), so the
    // sums below are exact. term[c] = x[c] (x[c] - 2 y[l + c]); the score of a cut (s, t) is
    // F[t + 1] - F[s] with F the prefix sums of the terms.
    const int n = n_;
    const int16_t* __restrict x = e.x;
    const int32_t* __restrict xx = e.xx.data();
    const int16_t* __restrict w = y + l;
    int32_t* __restrict term = term_.data();
    int32_t total = 0;
    for (int c = 0; c < n; ++c) {
        const int32_t t = xx[c] - 2 * (static_cast<int32_t>(x[c]) * static_cast<int32_t>(w[c]));
        term[c] = t;
        total += t;
    }
    LocalMatch best{total, e.number, 0, n - 1};
    if (e.sCount == 0) return best;

    // F[s] for the admissible starts.
    int32_t* __restrict Fstart = fStart_.data();
    int32_t Fs = 0;
    for (int s = 0; s < e.sCount; ++s) {
        Fstart[s] = Fs;
        Fs += term[s];
    }
    // One descending sweep over the ends: F[c] = total - (sum of the terms from c on), with the
    // running minimum of F over [c, n] (the smallest c among equals, so the shortest cut).
    // The admissible ends of start s are t >= tMin[s], and tMin grows with s, so start s is
    // settled when the sweep reaches c = tMin[s] + 1. Starts are settled from the last to the
    // first, keeping the first start among equal scores.
    const int16_t* __restrict tMin = e.tMin.data();
    int32_t tail = 0, runningMin = total, runningArg = n;
    int32_t cutScore = 0, cutS = -1, cutT = 0;
    int s = e.sCount - 1;
    for (int c = n; c >= e.lowestEnd + 1; --c) {
        if (c < n) {
            tail += term[c];
            const int32_t F = total - tail;
            const bool take = F <= runningMin;
            runningMin = take ? F : runningMin;
            runningArg = take ? c : runningArg;
        }
        for (; s >= 0 && tMin[s] + 1 == c; --s) {
            const int32_t score = runningMin - Fstart[s];
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

bool LocalMatcher::isAdmissible(const Prepared& e, int s, int t) {
    return wrapSub(e.E, e.P[s]) > e.thr && wrapSub(e.P[t + 1], e.P[s]) > e.thr;
}

LocalMatch LocalMatcher::matchWrapping(const Prepared& e, const int16_t* y, int32_t l) const {
    // Scores that may wrap: every admissible cut in examination order, each score the 32-bit
    // two's-complement sum (a difference of wrapping prefix sums is that sum exactly).
    const int n = n_;
    std::vector<uint32_t> F(static_cast<size_t>(n) + 1, 0);
    for (int c = 0; c < n; ++c) {
        const int32_t xc = e.x[c];
        const uint32_t term = static_cast<uint32_t>(xc) *
                              (static_cast<uint32_t>(xc) - 2u * static_cast<uint32_t>(static_cast<int32_t>(y[l + c])));
        F[c + 1] = F[c] + term;
    }
    LocalMatch best{static_cast<int32_t>(F[n]), e.number, 0, n - 1};
    for (int s = 0; s < n; ++s) {
        if (e.tMin[s] < 0) continue;
        for (int t = s; t < n; ++t) {
            if (!isAdmissible(e, s, t)) continue;
            const int32_t score = static_cast<int32_t>(F[t + 1] - F[s]);
            if (score < best.score) {
                best.score = score;
                best.cutStart = s;
                best.cutEnd = t;
            }
        }
    }
    return best;
}

LocalMatch LocalMatcher::matchOne(size_t index, const int16_t* y, int32_t l) const {
    const Prepared& e = etalons_[index];
    return e.exactFits ? matchPrepared(e, y, l) : matchWrapping(e, y, l);
}

LocalMatch LocalMatcher::match(const int16_t* y, int32_t l) const {
    LocalMatch best = matchOne(0, y, l);
    for (size_t i = 1; i < etalons_.size(); ++i) {
        const LocalMatch m = matchOne(i, y, l);
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
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PULSEBENCH_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define PULSEBENCH_CLONES
#endif

constexpr int kLanes = 16;  // LocalMatcher::kBlockLanes sizes the scratch for it
typedef int32_t Lanes __attribute__((vector_size(kLanes * sizeof(int32_t))));
typedef int16_t Samples __attribute__((vector_size(kLanes * sizeof(int16_t))));

struct KernelArgs {
    int n;
    int count;  // positions: the kernel does the multiples of kLanes
    const int16_t* x;
    const int32_t* xx;
    const int16_t* y;  // series sample under etalon sample 0 of the first position
    int16_t number;    // the etalon's number
    int sCount;        // admissible starts 0..sCount-1
    const int16_t* tMin;  // per start: the smallest admissible end (non-decreasing)
    int lowestEnd;
    bool first;        // the first candidate: its match is the best so far
    int32_t* F;        // scratch: (n + 1) * kLanes
    // The best match so far per position, merged with this candidate's.
    int32_t* bestScore;
    int32_t* bestEtalon;
    int32_t* bestS;
    int32_t* bestT;
};

// One candidate over positions: its whole etalon's score, the best admissible cut (first start
// among equals, then the shortest cut) replacing it when strictly smaller, and the result
// replacing the best so far when strictly smaller (or being it, for the first candidate).
// The etalon's sums fit 32 bits (exactFits), so no lane overflows.
PULSEBENCH_CLONES void candidateKernel(const KernelArgs& a) {
    const int n = a.n, sCount = a.sCount, firstEnd = a.lowestEnd + 1;
    for (int i0 = 0; i0 + kLanes <= a.count; i0 += kLanes) {
        const int16_t* y = a.y + i0;
        Lanes acc = {};
        for (int c = 0; c < n; ++c) {
            // acc holds F[c], the sum of the terms before c.
            if (c < sCount || c >= firstEnd) std::memcpy(a.F + static_cast<size_t>(c) * kLanes, &acc, sizeof acc);
            Samples ys;
            std::memcpy(&ys, y + c, sizeof ys);
            const Lanes yc = __builtin_convertvector(ys, Lanes);
            acc += a.xx[c] - 2 * (static_cast<int32_t>(a.x[c]) * yc);
        }
        Lanes score = acc, cutS = Lanes{}, cutT = Lanes{} + (n - 1);
        if (sCount > 0) {
            // Backward over the ends: the running minimum of F[c..n] (smallest c among equals, so
            // the shortest cut); start s is settled when c reaches tMin[s] + 1, the starts from
            // the last to the first, keeping the first start among equal scores.
            Lanes runMin = acc, runArg = Lanes{} + n;
            Lanes best = Lanes{} + INT32_MAX, bestS = Lanes{}, bestT = Lanes{};
            int s = sCount - 1;
            for (int c = n; c >= firstEnd; --c) {
                if (c < n) {
                    Lanes Fc;
                    std::memcpy(&Fc, a.F + static_cast<size_t>(c) * kLanes, sizeof Fc);
                    const Lanes take = Fc <= runMin;
                    runMin = take ? Fc : runMin;
                    runArg = take ? Lanes{} + c : runArg;
                }
                for (; s >= 0 && a.tMin[s] + 1 == c; --s) {
                    Lanes Fs;
                    std::memcpy(&Fs, a.F + static_cast<size_t>(s) * kLanes, sizeof Fs);
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
            Lanes heldScore, heldEtalon, heldS, heldT;
            std::memcpy(&heldScore, a.bestScore + i0, sizeof heldScore);
            std::memcpy(&heldEtalon, a.bestEtalon + i0, sizeof heldEtalon);
            std::memcpy(&heldS, a.bestS + i0, sizeof heldS);
            std::memcpy(&heldT, a.bestT + i0, sizeof heldT);
            const Lanes lower = score < heldScore;
            score = lower ? score : heldScore;
            etalon = lower ? etalon : heldEtalon;
            cutS = lower ? cutS : heldS;
            cutT = lower ? cutT : heldT;
        }
        std::memcpy(a.bestScore + i0, &score, sizeof score);
        std::memcpy(a.bestEtalon + i0, &etalon, sizeof etalon);
        std::memcpy(a.bestS + i0, &cutS, sizeof cutS);
        std::memcpy(a.bestT + i0, &cutT, sizeof cutT);
    }
}
}  // namespace

void LocalMatcher::matchRange(const int16_t* y, int32_t lo, int32_t hi, LocalMatch* out, int index) const {
    const size_t first = index < 0 ? 0 : static_cast<size_t>(index);
    const size_t last = index < 0 ? etalons_.size() : first + 1;
    const int n = n_;
    int32_t* bestScore = block_.bestScore.data();
    int32_t* bestEtalon = block_.bestEtalon.data();
    int32_t* bestS = block_.bestS.data();
    int32_t* bestT = block_.bestT.data();
    for (int32_t b0 = lo; b0 <= hi; b0 += kBlock) {
        const int count = std::min<int32_t>(kBlock, hi - b0 + 1);
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
                    const LocalMatch m = matchWrapping(e, y, b0 + i);
                    if (ci == first || m.score < bestScore[i]) {
                        bestScore[i] = m.score;
                        bestEtalon[i] = m.etalon;
                        bestS[i] = m.cutStart;
                        bestT[i] = m.cutEnd;
                    }
                }
                continue;
            }
            KernelArgs a{n,          vectored,   e.x,         e.xx.data(), y + b0,        e.number,
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
