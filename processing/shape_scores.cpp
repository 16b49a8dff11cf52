#include "processing/shape_scores.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "processing/vector_builds.h"


// The vector helpers below are always inlined into the kernel of their width, never called
// across a function boundary, so the vector calling convention of a build does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {
// A value as it stands, rounded to its type: the compiler may not fuse the multiplication that
// made it with the addition that takes it (the file is built to contract them elsewhere), so a
// gain term is the same rounded steps in every kernel, build and in the straightforward
// version of the tests.
template <class T>
__attribute__((always_inline)) inline T rounded(T v) {
#if defined(__x86_64__) && defined(__GNUC__)
    asm("" : "+v"(v));
#endif
    return v;
}

// Adding 1.5 * 2^52 to a double below 2^51 in magnitude rounds it to the nearest integer (ties
// to even, as std::nearbyint) and leaves that integer in the low bits of the sum: taking it away
// again, or subtracting its bits as an integer, gives the integer. Every score is rounded so.
constexpr double kRoundingShift = 6755399441055744.0;
constexpr double kRoundingLimit = 2251799813685248.0;  // 2^51
}  // namespace

GainTerm gainTerm(double xx, double xy, double gainMin, double gainMax) {
    double g = xx > 0 ? xy * rounded(1.0 / xx) : 0.0;
    g = g < gainMin ? gainMin : g;
    g = g > gainMax ? gainMax : g;
    return {g, rounded(g * rounded(g * xx)) - rounded((2.0 * g) * xy)};
}

void ShapeScores::prepare(std::span<const std::span<const int16_t>> shapes, int32_t pct, const Model& model,
                          int channels) {
    model_ = model;
    nMax_ = 0;
    channels_ = channels;
    shapes_.clear();
    shapes_.reserve(shapes.size());
    for (const std::span<const int16_t> samples : shapes) {
        Shape s;
        const int n = static_cast<int>(samples.size()) / channels;
        const int16_t* x = samples.data();
        s.n = n;
        s.x = x;
        nMax_ = std::max(nMax_, n);
        std::vector<int64_t> P(static_cast<size_t>(n) + 1, 0);
        for (int c = 0; c < n; ++c) {
            P[c + 1] = P[c];
            for (int ch = 0; ch < channels; ++ch) P[c + 1] += int64_t{x[ch * n + c]} * x[ch * n + c];
        }
        const int64_t E = P[n], thr = E * pct / 100;
        s.energy.assign(P.begin(), P.end());
        for (int c = 0; c < n * channels; ++c) s.minusTwoX.push_back(-2.0 * x[c]);
        // The admissible starts are those keeping more than thr after them; their ends, those
        // keeping more than thr from the start on. The energies never fall, so the starts form
        // a prefix and each start's ends a suffix t >= tMin(s) with tMin growing with s: the
        // starts allowed to end at t are the prefix of those with tMin(s) <= t.
        std::vector<int32_t> lastStart(static_cast<size_t>(n) + 1, -1);
        for (int start = 0; start < n && E - P[start] > thr; ++start) {
            int t = start;
            while (t < n && !(P[t + 1] - P[start] > thr)) ++t;
            if (t == n) break;
            s.starts = start + 1;
            for (int e = t + 1; e <= n; ++e) lastStart[e] = start;
        }
        if (s.starts > 0) {
            s.firstEnd = static_cast<int32_t>(std::find_if(lastStart.begin(), lastStart.end(), [](int32_t v) { return v >= 0; }) -
                                              lastStart.begin());
            s.lastStart = std::move(lastStart);
        }
        shapes_.push_back(std::move(s));
    }
}

ShapeScores::Pulse ShapeScores::pulseAt(size_t index, ChannelSamples y, int64_t p) const {
    const Shape& s = shapes_[index];
    const int n = s.n;
    // Prefix correlations over every channel, exact integers (on the stack for shapes of up to
    // 256 samples: a pulse of a long chain is matched in well under a microsecond).
    constexpr int kOnStack = 256;
    double onStack[kOnStack + 1];
    std::vector<double> onHeap(n > kOnStack ? static_cast<size_t>(n) + 1 : 0);
    double* const C = n > kOnStack ? onHeap.data() : onStack;
    C[0] = 0.0;
    for (int c = 0; c < n; ++c) {
        int64_t product = 0;
        for (int ch = 0; ch < channels_; ++ch) product += int64_t{s.x[ch * n + c]} * y.data[ch * y.stride + p + c];
        C[c + 1] = C[c] + static_cast<double>(product);
    }
    // To the nearest integer, ties to even, as std::nearbyint and as the kernels round (the
    // library call cost more than the rest).
    const auto rounded = [](double v) {
        return std::abs(v) < kRoundingLimit ? static_cast<int64_t>((v + kRoundingShift) - kRoundingShift)
                                            : static_cast<int64_t>(std::nearbyint(v));
    };
    const bool plain = model_.plain();
    const auto termOf = [&](int first, int end) {
        const double xx = s.energy[end] - s.energy[first], xy = C[end] - C[first];
        // Without a gain range the gain is 1 whatever the division gives: the same exact term.
        return plain ? GainTerm{1.0, xx - 2.0 * xy} : gainTerm(xx, xy, model_.gainMin, model_.gainMax);
    };
    GainTerm whole = termOf(0, n);
    Pulse best{rounded(whole.term), 0, n - 1, whole.gain};
    for (int start = 0; start < s.starts; ++start)
        for (int e = start + 1; e <= n; ++e) {
            if (s.lastStart[static_cast<size_t>(e)] < start) continue;
            const GainTerm t = termOf(start, e);
            const int64_t score = rounded(t.term);
            if (score < best.score) best = {score, start, e - 1, t.gain};
        }
    return best;
}

namespace {
// The positions of one tile: kTileVectors vectors of the kernel's width, side by side.
constexpr int kTileVectors = 8;
// Positions scored together: their samples (as doubles) and their best scores stay in the
// first-level cache while every shape passes over them.
constexpr int kBlock = 2048;
// A block's row of scores: its positions padded to whole tiles of the widest build.
constexpr size_t kRowWidth = kBlock + kTileVectors * 8;

struct TileArgs {
    const ShapeScores::Shape* shape;
    int n;
    int tiles;
    // Sample c of lane j of tile k is y[k * tileStep + c * tapStride + j].
    const double* y;
    int64_t tileStep;
    int64_t tapStride;
    double* best;     // per position of the tiles: the best so far, lowered by this shape's
    bool first;       // the first shape: its scores are the best so far (best is not read)
    double* scratch;  // n * kTileVectors / 2 vectors
    const ShapeScores::Model* model;  // a gain range other than {1, 1}: the gain kernels
    // Channel ch of the samples and of the shape's -2 x: y + ch * channelStep, minusTwoX + ch * n.
    int channels;
    int64_t channelStep;
};

template <class V>
__attribute__((always_inline)) inline V load(const double* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class V>
__attribute__((always_inline)) inline void store(double* p, V v) {
    std::memcpy(p, &v, sizeof v);
}
template <class V>
__attribute__((always_inline)) inline V lower(V a, V b) {
    return a < b ? a : b;
}

// a * b + c: one fused instruction where the processor has it (the file is built to contract
// them); exact for the integer sums of the correlations either way.
template <class V>
__attribute__((always_inline)) inline V mulAdd(V a, V b, V c) {
    return a * b + c;
}

// The gain term of gainTerm, lane by lane, in the same steps, for a stretch of energy xx > 0
// (every admissible stretch has energy) whose reciprocal is inverse.
template <class V>
__attribute__((always_inline)) inline V gainTerms(V xx, double inverse, V xy, const ShapeScores::Model& m) {
    const V gMin = V{} + m.gainMin, gMax = V{} + m.gainMax;
    V g = xy * inverse;
    g = g < gMin ? gMin : g;
    g = g > gMax ? gMax : g;
    return rounded(g * rounded(g * xx)) - rounded((2.0 * g) * xy);
}

// acc[r] += sum over taps c = c0..c1-1 of x[c] y[c * tapStride + r * W] (x: -2 times a shape's
// channel, y: its samples), the correlation in fused multiply-adds on R independent vectors so
// that the adder's latency is hidden. Along a signal (tapStride 1) the vector of tap c + W of one
// vector is the vector of tap c of the next, so the taps are taken by phase (c mod W), kSpan at a
// time, and each vector loaded serves up to kSpan taps: most loads of samples cross a cache line,
// and this keeps them from limiting the multiply-adds. Every sum is an exact integer, so the
// order of the taps changes nothing.
template <class V, int R>
__attribute__((always_inline)) inline void correlate(const double* y, const double* x, int c0, int c1, int64_t tapStride,
                                                     V* acc) {
    constexpr int W = sizeof(V) / sizeof(double), kSpan = 3;
    if (tapStride == 1) {
        for (int phase = c0; phase < c0 + W && phase < c1; ++phase)
            for (int c = phase; c < c1; c += kSpan * W) {
                V held[R + kSpan - 1];
                for (int j = 0; j < R + kSpan - 1; ++j) held[j] = load<V>(y + c + j * W);
                for (int m = 0; m < kSpan && c + m * W < c1; ++m) {
                    const V xc = V{} + x[c + m * W];
                    for (int r = 0; r < R; ++r) acc[r] = mulAdd(xc, held[r + m], acc[r]);
                }
            }
    } else {
        for (int c = c0; c < c1; ++c) {
            const V xc = V{} + x[c];
            const double* yc = y + c * tapStride;
            for (int r = 0; r < R; ++r) acc[r] = mulAdd(xc, load<V>(yc + r * W), acc[r]);
        }
    }
}

// Whole shapes: E - 2 sum x y over the whole shape, on every vector of the tile at once.
template <class V, bool Many>
__attribute__((always_inline)) inline void wholeTiles(const TileArgs& a) {
    constexpr int W = sizeof(V) / sizeof(double), R = kTileVectors;
    const double* m2x = a.shape->minusTwoX.data();
    const double E = a.shape->energy[static_cast<size_t>(a.n)];
    for (int k = 0; k < a.tiles; ++k) {
        const double* y = a.y + k * a.tileStep;
        V acc[R];
        for (int r = 0; r < R; ++r) acc[r] = V{} + E;
        for (int ch = 0; ch < (Many ? a.channels : 1); ++ch)
            correlate<V, R>(y + ch * a.channelStep, m2x + ch * a.n, 0, a.n, a.tapStride, acc);
        if (a.model) {
            // acc = E - 2 sum x y: the correlation is exact, and so is (E - acc) / 2.
            const double inverse = E > 0 ? rounded(1.0 / E) : 0.0;
            for (int r = 0; r < R; ++r) acc[r] = gainTerms(V{} + E, inverse, (E - acc[r]) * 0.5, *a.model);
        }
        double* best = a.best + k * R * W;
        for (int r = 0; r < R; ++r) store(best + r * W, a.first ? acc[r] : lower(acc[r], load<V>(best + r * W)));
    }
}

// Cut shapes, R vectors of a tile at a time (their running sums, maxima and minima fill the
// registers: all eight vectors of the widest build, four of the others). One forward pass: G
// holds -2 sum x y over the samples so far, so that F[c] = G + P[c] is the score of samples
// 0..c-1.
// - Without a gain, F at the admissible starts is kept in scratch. At end e the best cut
//   ending there is F[e] - max F[s] over the starts that may end there, a prefix that only
//   grows with e: its maximum M is kept as it grows.
// - With a gain per pulse a cut's term is no longer a difference of two prefix sums, so every
//   admissible cut (start s, end e) is weighed: G at the starts is kept in scratch, and
//   Σxy = (G[s] - G[e]) / 2, Σx² = P[e] - P[s].
// The taps between the last start and the first end only add to G, in any order: they are taken
// as the whole shapes' are.
template <class V, bool Gain, bool Many>
__attribute__((always_inline)) inline void cutTiles(const TileArgs& a) {
    constexpr int W = sizeof(V) / sizeof(double), R = sizeof(V) == 64 ? kTileVectors : kTileVectors / 2;
    // The arguments in locals: the stores below may alias anything, and would make the compiler
    // read each argument again after every one.
    const ShapeScores::Shape& s = *a.shape;
    const double* const m2x = s.minusTwoX.data();
    const double* const P = s.energy.data();
    const int32_t* const lastStart = s.lastStart.data();
    const int n = a.n, starts = s.starts, firstEnd = s.firstEnd, tiles = a.tiles;
    const int channels = Many ? a.channels : 1;
    const int64_t tileStep = a.tileStep, tapStride = a.tapStride, channelStep = a.channelStep;
    double* const scratch = a.scratch;
    double* const bestOut = a.best;
    const bool first = a.first;
    const ShapeScores::Model model = a.model ? *a.model : ShapeScores::Model{};
    // Taps 0..prefix-1 keep starts, taps prefix..middle-1 only add, taps middle..n-1 end cuts
    // (and keep the starts there may be among them).
    const int middle = firstEnd - 1, prefix = std::min(starts, middle);
    for (int k = 0; k < tiles; ++k) {
        for (int part = 0; part < kTileVectors / R; ++part) {
            const double* const y = a.y + k * tileStep + part * R * W;
            V G[R];
            for (int r = 0; r < R; ++r) G[r] = V{};
            int c = 0;
            for (; c < prefix; ++c) {
                for (int r = 0; r < R; ++r) store(scratch + (c * R + r) * W, Gain ? G[r] : G[r] + P[c]);
                for (int ch = 0; ch < channels; ++ch) {
                    const V xc = V{} + m2x[ch * n + c];
                    const double* yc = y + ch * channelStep + c * tapStride;
                    for (int r = 0; r < R; ++r) G[r] = mulAdd(xc, load<V>(yc + r * W), G[r]);
                }
            }
            for (int ch = 0; ch < channels; ++ch)
                correlate<V, R>(y + ch * channelStep, m2x + ch * n, c, middle, tapStride, G);
            c = std::max(c, middle);
            V M[R], B[R];
            for (int r = 0; r < R; ++r) {
                M[r] = V{} - std::numeric_limits<double>::infinity();
                B[r] = V{} + std::numeric_limits<double>::infinity();
            }
            int admitted = 0;
            for (; c < n; ++c) {
                if (c < starts)
                    for (int r = 0; r < R; ++r) store(scratch + (c * R + r) * W, Gain ? G[r] : G[r] + P[c]);
                for (int ch = 0; ch < channels; ++ch) {
                    const V xc = V{} + m2x[ch * n + c];
                    const double* yc = y + ch * channelStep + c * tapStride;
                    for (int r = 0; r < R; ++r) G[r] = mulAdd(xc, load<V>(yc + r * W), G[r]);
                }
                const int e = c + 1;
                if constexpr (Gain) {
                    for (int from = 0; from <= lastStart[e]; ++from) {
                        const double energy = P[e] - P[from], inverse = rounded(1.0 / energy);
                        const V xx = V{} + energy;
                        for (int r = 0; r < R; ++r) {
                            const V xy = (load<V>(scratch + (from * R + r) * W) - G[r]) * 0.5;
                            B[r] = lower(gainTerms(xx, inverse, xy, model), B[r]);
                        }
                    }
                } else {
                    for (; admitted <= lastStart[e]; ++admitted)
                        for (int r = 0; r < R; ++r) {
                            const V f = load<V>(scratch + (admitted * R + r) * W);
                            M[r] = f > M[r] ? f : M[r];
                        }
                    const V Pe = V{} + P[e];
                    for (int r = 0; r < R; ++r) B[r] = lower(G[r] + Pe - M[r], B[r]);
                }
            }
            // The whole shape, whether or not it is itself an admissible cut.
            const V E = V{} + P[n];
            const double wholeInverse = Gain ? rounded(1.0 / P[n]) : 0.0;
            double* const best = bestOut + k * kTileVectors * W + part * R * W;
            for (int r = 0; r < R; ++r) {
                const V whole = Gain ? gainTerms(E, wholeInverse, G[r] * -0.5, model) : G[r] + E;
                const V score = lower(whole, B[r]);
                store(best + r * W, first ? score : lower(score, load<V>(best + r * W)));
            }
        }
    }
}

// With one channel the kernels are built with a channel loop of one known pass: a loop bound read
// at run time cost a tenth of a detection's time.
template <class V>
__attribute__((always_inline)) inline void shapeTiles(const TileArgs& a) {
    if (a.shape->lastStart.empty())
        a.channels > 1 ? wholeTiles<V, true>(a) : wholeTiles<V, false>(a);
    else if (a.model)
        a.channels > 1 ? cutTiles<V, true, true>(a) : cutTiles<V, true, false>(a);
    else
        a.channels > 1 ? cutTiles<V, false, true>(a) : cutTiles<V, false, false>(a);
}

// The integer vector of a double vector's size (a typedef of a size known only in a template is
// not taken as a vector where it is subscripted).
template <int Bytes>
struct WordsOf;
template <>
struct WordsOf<16> {
    typedef int64_t type __attribute__((vector_size(16)));
};
template <>
struct WordsOf<32> {
    typedef int64_t type __attribute__((vector_size(32)));
};
template <>
struct WordsOf<64> {
    typedef int64_t type __attribute__((vector_size(64)));
};

// The best scores of `count` positions (count a multiple of the width) as integers, plus
// `cost`, rounded by kRoundingShift: a few vector operations where a conversion per value would
// be slow.
template <class V>
__attribute__((always_inline)) inline void toIntegers(const double* best, int count, int64_t cost, int64_t* out) {
    constexpr int W = sizeof(V) / sizeof(double);
    using Words = typename WordsOf<sizeof(V)>::type;
    const V magic = V{} + kRoundingShift;
    Words bias;
    const V m = magic;
    std::memcpy(&bias, &m, sizeof bias);
    bias -= cost;
    for (int i = 0; i < count; i += W) {
        const V shifted = load<V>(best + i) + magic;
        Words w;
        std::memcpy(&w, &shifted, sizeof w);
        w -= bias;
        std::memcpy(out + i, &w, sizeof w);
    }
}

// Up to eight rows of the kernels' scores (row j from rows + j * width, `count` positions)
// interleaved into lane groups of eight (position i's from out + 8 i), each rounded to an integer
// as toIntegers does and plus `cost`; lanes past the rows repeat the last row. Blocks of W
// positions by W rows are turned over in registers, log2(W) rounds of shuffles, so that every
// load and store moves a whole vector.
template <class V>
__attribute__((always_inline)) inline void interleaveRows(const double* rows, size_t width, int used, int count,
                                                          int64_t cost, int64_t* out) {
    constexpr int W = sizeof(V) / sizeof(double), kRounds = W == 8 ? 3 : W == 4 ? 2 : 1;
    using Words = typename WordsOf<sizeof(V)>::type;
    const V magic = V{} + kRoundingShift;
    Words offset;
    std::memcpy(&offset, &magic, sizeof offset);
    offset -= cost;
    const double* row[8];
    for (int j = 0; j < 8; ++j) row[j] = rows + static_cast<size_t>(std::min(j, used - 1)) * width;
    // Round d swaps the d-blocks off the diagonal of every 2d-block: lane k of a takes b's lane
    // k - d where k has bit d, lane k of b takes a's lane k + d where it has not. The lane
    // choices are made once, outside the loop.
    Words low[kRounds], high[kRounds];
    for (int round = 0, d = 1; round < kRounds; ++round, d *= 2)
        for (int k = 0; k < W; ++k) {
            low[round][k] = (k & d) ? W + k - d : k;
            high[round][k] = (k & d) ? W + k : k + d;
        }
    for (int i = 0; i < count; i += W) {
        const int here = std::min(W, count - i);
#pragma GCC unroll 8
        for (int j0 = 0; j0 < 8; j0 += W) {
            V v[W];
#pragma GCC unroll 8
            for (int j = 0; j < W; ++j) v[j] = load<V>(row[j0 + j] + i) + magic;
#pragma GCC unroll 8
            for (int round = 0, d = 1; round < kRounds; ++round, d *= 2)
#pragma GCC unroll 8
                for (int j = 0; j < W; ++j)
                    if (!(j & d)) {
                        const V a = v[j], b = v[j + d];
                        v[j] = __builtin_shuffle(a, b, low[round]);
                        v[j + d] = __builtin_shuffle(a, b, high[round]);
                    }
            int64_t* const at = out + static_cast<size_t>(i) * 8 + static_cast<size_t>(j0);
            if (here == W) {
#pragma GCC unroll 8
                for (int p = 0; p < W; ++p) {
                    Words w;
                    std::memcpy(&w, &v[p], sizeof w);
                    w -= offset;
                    std::memcpy(at + p * 8, &w, sizeof w);
                }
            } else {
                for (int p = 0; p < here; ++p) {
                    Words w;
                    std::memcpy(&w, &v[p], sizeof w);
                    w -= offset;
                    std::memcpy(at + p * 8, &w, sizeof w);
                }
            }
        }
    }
}

// One build per vector width; the widest the processor has runs. Every build computes the same
// exact integers.
using Kernel = void (*)(const TileArgs&);
using Finish = void (*)(const double*, int, int64_t, int64_t*);
using Interleave = void (*)(const double*, size_t, int, int, int64_t, int64_t*);
typedef double Vector2 __attribute__((vector_size(16)));
void tiles128(const TileArgs& a) { shapeTiles<Vector2>(a); }
void integers128(const double* best, int count, int64_t cost, int64_t* out) {
    toIntegers<Vector2>(best, count, cost, out);
}
void interleave128(const double* rows, size_t width, int used, int count, int64_t cost, int64_t* out) {
    interleaveRows<Vector2>(rows, width, used, count, cost, out);
}
#if defined(__x86_64__) && defined(__GNUC__)
typedef double Vector4 __attribute__((vector_size(32)));
typedef double Vector8 __attribute__((vector_size(64)));
__attribute__((target("avx2,fma"))) void tiles256(const TileArgs& a) { shapeTiles<Vector4>(a); }
__attribute__((target("avx2,fma"))) void integers256(const double* best, int count, int64_t cost, int64_t* out) {
    toIntegers<Vector4>(best, count, cost, out);
}
__attribute__((target("avx2,fma"))) void interleave256(const double* rows, size_t width, int used, int count, int64_t cost,
                                                       int64_t* out) {
    interleaveRows<Vector4>(rows, width, used, count, cost, out);
}
__attribute__((target("avx512f,fma"))) void tiles512(const TileArgs& a) { shapeTiles<Vector8>(a); }
__attribute__((target("avx512f,fma"))) void integers512(const double* best, int count, int64_t cost, int64_t* out) {
    toIntegers<Vector8>(best, count, cost, out);
}
__attribute__((target("avx512f,fma"))) void interleave512(const double* rows, size_t width, int used, int count, int64_t cost,
                                                          int64_t* out) {
    interleaveRows<Vector8>(rows, width, used, count, cost, out);
}
#endif

struct Choice {
    Kernel run;
    Finish integers;
    Interleave interleave;  // eight rows
    int tile;               // positions per tile
};

Choice chooseKernel() {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return {tiles512, integers512, interleave512, kTileVectors * 8};
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return {tiles256, integers256, interleave256, kTileVectors * 4};
#endif
    return {tiles128, integers128, interleave128, kTileVectors * 2};
}

const Choice& kernel() {
    static const Choice chosen = chooseKernel();
    return chosen;
}
}  // namespace

// The shapes an index stands for, [first, last): -1 every shape, else that one.
std::pair<size_t, size_t> ShapeScores::shapesOf(int index) const {
    return index < 0 ? std::pair<size_t, size_t>{0, shapes_.size()}
                     : std::pair<size_t, size_t>{static_cast<size_t>(index), static_cast<size_t>(index) + 1};
}

namespace {
// The `held` samples of every channel from position b0 on, as doubles, each channel `step`
// apart, zeros after them up to `defined` (the kernels' loads past the last tile). (Built for the wider vector units too: with the baseline's the
// conversions cost as much as a cheap shape's kernel.)
PULSEBENCH_CLONES void loadBlock(ChannelSamples y, int64_t b0, int held, int defined, int channels, int64_t step, double* samples) {
    for (int ch = 0; ch < channels; ++ch) {
        double* into = samples + ch * step;
        const int16_t* from = y.data + ch * y.stride + b0;
        for (int i = 0; i < held; ++i) into[i] = from[i];
        std::fill(into + held, into + std::max(held, defined), 0.0);
    }
}
}  // namespace

namespace {
// The working rows of the scoring calls, kept by each thread between calls: a recording is
// scored in thousands of calls, and rows allocated afresh by each would be returned to the
// system and faulted in again every time.
struct Workspace {
    std::vector<double> samples, best, scratch;
    std::vector<int64_t> integers;
    static double* doubles(std::vector<double>& row, size_t size) {
        if (row.size() < size) row.resize(size);
        return row.data();
    }
};
Workspace& workspace() {
    thread_local Workspace kept;
    return kept;
}
}  // namespace

// The blocks of positions lo..hi in turn: the samples under each loaded once, then in parts of
// `part` positions (a multiple of the tile) every index j's kernels run into
// target(j, p0, whole, rows) (the part's positions padded to whole tiles; whole: the part's
// positions fill its tiles; rows: the workspace's row of every index, index j's from
// j * kRowWidth), then finish(p0, count, tiles, rows).
template <class Target, class Finish>
void ShapeScores::scoreBlocks(ChannelSamples y, int64_t lo, int64_t hi, std::span<const int> indices, int part,
                              Target&& target, Finish&& finish) const {
    const Choice& k = kernel();
    const int n = nMax_, T = k.tile, C = channels_;
    const ShapeScores::Model* gain = model_.plain() ? nullptr : &model_;
    // Each channel's samples, then room past the last tile for the vectors the correlations load
    // ahead (zeros, never used).
    const int64_t step = kBlock + 2 * T + n;
    Workspace& w = workspace();
    double* const samples = w.doubles(w.samples, static_cast<size_t>(step * C));
    double* const scratch = w.doubles(w.scratch, static_cast<size_t>(n) * static_cast<size_t>(T));
    double* const rows = w.doubles(w.best, indices.size() * kRowWidth);
    for (int64_t b0 = lo; b0 <= hi; b0 += kBlock) {
        const int count = static_cast<int>(std::min<int64_t>(kBlock, hi - b0 + 1));
        // The samples under the block's positions (every shape fits at each), then zeros under
        // the padded positions as far as the correlations load (a tile past the last tile's).
        loadBlock(y, b0, count + n - 1, static_cast<int>(std::min<int64_t>(step, (count + T - 1) / T * T + T + n)), C,
                  step, samples);
        for (int i0 = 0; i0 < count; i0 += part) {
            const int partCount = std::min(part, count - i0), partTiles = (partCount + T - 1) / T;
            const int64_t p0 = b0 + i0;
            for (size_t j = 0; j < indices.size(); ++j) {
                const auto [first, last] = shapesOf(indices[j]);
                double* const into = target(j, p0, partCount == partTiles * T, rows);
                for (size_t e = first; e < last; ++e)
                    k.run(TileArgs{&shapes_[e], shapes_[e].n, partTiles, samples + i0, T, 1, into, e == first, scratch,
                                   gain, C, step});
            }
            finish(p0, partCount, partTiles, rows);
        }
    }
}

void ShapeScores::scoreRange(ChannelSamples y, int64_t lo, int64_t hi, std::span<const int> indices, int64_t* out,
                             int64_t stride) const {
    const Choice& k = kernel();
    const int64_t cost = model_.pulseCost;
    // The kernels' scores of every index, each in its own row, then turned to integers together:
    // interleaved rows are then written one whole lane group at a time, not one lane across the
    // block at a time.
    Workspace& w = workspace();
    if (w.integers.size() < indices.size() * kRowWidth) w.integers.resize(indices.size() * kRowWidth);
    int64_t* const integers = w.integers.data();
    const auto ownRow = [](size_t j, int64_t, bool, double* rows) { return rows + j * kRowWidth; };
    // Several rows are scored in parts that keep them together about a block's size: they
    // stay in the first-level cache until they are turned into integers.
    const int part = std::max(k.tile, kBlock / static_cast<int>(indices.size()) / k.tile * k.tile);
    scoreBlocks(y, lo, hi, indices, part, ownRow, [&](int64_t b0, int count, int tiles, const double* rows) {
        int64_t* block = out + (b0 - lo) * stride;
        if (stride == 8 && indices.size() <= 8) {
            // A lane group of recognition (its lanes past the indices are never read).
            k.interleave(rows, kRowWidth, static_cast<int>(indices.size()), count, cost, block);
            return;
        }
        if (stride == 1 && indices.size() == 1 && count == tiles * k.tile) {
            // One row whose block fills its tiles: straight into the output.
            k.integers(rows, count, cost, block);
            return;
        }
        for (size_t j = 0; j < indices.size(); ++j)
            k.integers(rows + j * kRowWidth, tiles * k.tile, cost, integers + j * kRowWidth);
        for (int i = 0; i < count; ++i)
            for (size_t j = 0; j < indices.size(); ++j)
                block[i * stride + static_cast<int64_t>(j)] = integers[j * kRowWidth + static_cast<size_t>(i)];
    });
}

void ShapeScores::scoreRows(ChannelSamples y, int64_t lo, int64_t hi, std::span<const int> indices, double* out,
                            int64_t rowStride) const {
    const auto rowOut = [&](size_t j, int64_t b0) { return out + static_cast<int64_t>(j) * rowStride + (b0 - lo); };
    // Blocks that fill their tiles are scored straight into the rows; a last partial one through
    // the workspace.
    scoreBlocks(
            y, lo, hi, indices, kBlock,
            [&](size_t j, int64_t b0, bool whole, double* rows) { return whole ? rowOut(j, b0) : rows + j * kRowWidth; },
            [&](int64_t b0, int count, int tiles, const double* rows) {
                if (count == tiles * kernel().tile) return;
                for (size_t j = 0; j < indices.size(); ++j)
                    std::copy(rows + j * kRowWidth, rows + j * kRowWidth + count, rowOut(j, b0));
            });
}

namespace {
// The least of the rows at each position, in the widest vectors the processor has (minima and
// additions: every build the same numbers).
PULSEBENCH_CLONES void leastOfRows(const double* rows, size_t rowCount, int64_t rowStride, int64_t count, int64_t cost, int64_t* out) {
    // Rounded as the kernels' integers are (kRoundingShift). Row by row, so that the minima run
    // along the positions.
    constexpr int64_t kStep = 256;
    double best[kStep];
    for (int64_t i0 = 0; i0 < count; i0 += kStep) {
        const int64_t m = std::min(kStep, count - i0);
        for (int64_t i = 0; i < m; ++i) best[i] = rows[i0 + i];
        for (size_t j = 1; j < rowCount; ++j) {
            const double* row = rows + static_cast<int64_t>(j) * rowStride + i0;
            for (int64_t i = 0; i < m; ++i) best[i] = row[i] < best[i] ? row[i] : best[i];
        }
        for (int64_t i = 0; i < m; ++i)
            out[i0 + i] = std::bit_cast<int64_t>(best[i] + kRoundingShift) - std::bit_cast<int64_t>(kRoundingShift) + cost;
    }
}
}  // namespace

void ShapeScores::bestOfRows(const double* rows, size_t rowCount, int64_t rowStride, int64_t count, int64_t* out) const {
    leastOfRows(rows, rowCount, rowStride, count, model_.pulseCost, out);
}

void ShapeScores::scoreEach(ChannelSamples y, std::span<const int64_t> positions, int64_t* out) const {
    const Choice& k = kernel();
    const int n = nMax_, T = k.tile, C = channels_;
    const ShapeScores::Model* gain = model_.plain() ? nullptr : &model_;
    // The samples of T positions side by side: sample c of channel ch of position j at
    // (ch * n + c) * T + j.
    std::vector<double> samples(static_cast<size_t>(n) * static_cast<size_t>(T) * static_cast<size_t>(C)),
            best(static_cast<size_t>(T)),
            scratch(static_cast<size_t>(n) * static_cast<size_t>(T));
    std::vector<int64_t> integers(static_cast<size_t>(T));
    for (size_t g = 0; g < positions.size(); g += static_cast<size_t>(T)) {
        const size_t count = std::min(positions.size() - g, static_cast<size_t>(T));
        std::fill(samples.begin(), samples.end(), 0.0);
        for (size_t j = 0; j < count; ++j)
            for (int ch = 0; ch < C; ++ch)
                for (int c = 0; c < n; ++c)
                    samples[static_cast<size_t>((ch * n + c) * T) + j] = y.data[ch * y.stride + positions[g + j] + c];
        for (size_t e = 0; e < shapes_.size(); ++e) {
            k.run(TileArgs{&shapes_[e], shapes_[e].n, 1, samples.data(), 0, T, best.data(), true, scratch.data(), gain,
                           C, static_cast<int64_t>(n) * T});
            k.integers(best.data(), T, 0, integers.data());
            for (size_t j = 0; j < count; ++j) out[(g + j) * shapes_.size() + e] = integers[j];
        }
    }
}
