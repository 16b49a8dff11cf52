#include "core/position_weights.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

// The vector helpers below are always inlined into the kernel of their width, never called
// across a function boundary, so the vector calling convention of a build does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace posterior_detail {
WeightRow::WeightRow(int64_t P)
    : size_(P),
      packed_(new uint64_t[static_cast<size_t>(P)]),
      base_(static_cast<size_t>((P + kChunk - 1) / kChunk)),
      wide_(base_.size()) {}

void WeightRow::writeChunk(int64_t lo, size_t count, const double* mantissas, const int64_t* exponents) {
    const auto c = static_cast<size_t>(lo >> kChunkBits);
    const auto [least, most] = std::minmax_element(exponents, exponents + count);
    // The powers above the chunk's least in the 12 bits a mantissa in [1, 2) keeps constant, when
    // they fit there.
    const bool fits = static_cast<uint64_t>(*most - *least) < 4096;
    base_[c] = *least;
    if (!fits) wide_[c].assign(exponents, exponents + count);
    uint64_t* out = packed_.get() + lo;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t above = fits ? static_cast<uint64_t>(exponents[i] - *least) << 52 : 0;
        out[i] = (std::bit_cast<uint64_t>(mantissas[i]) & kMantissaBits) | above;
    }
}

namespace {
// The exponentials of the position weights, W lanes at a time. Every lane is the same operations
// in the same order, fused multiply-adds where the processor has them (the file is built to
// contract them): the four- and eight-lane builds give the same numbers, the two-lane one (for
// processors without) the same to the last bit or two; each build the same on every run.
template <int W>
struct Lanes {
    typedef double D __attribute__((vector_size(W * 8)));
    typedef int64_t I __attribute__((vector_size(W * 8)));
    static constexpr int width = W;
};

template <class V, class T>
__attribute__((always_inline)) inline V loadLanes(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class V, class T>
__attribute__((always_inline)) inline void storeLanes(T* p, V v) {
    std::memcpy(p, &v, sizeof v);
}
template <class To, class From>
__attribute__((always_inline)) inline To bitsOf(From v) {
    To t;
    std::memcpy(&t, &v, sizeof t);
    return t;
}

// The coefficients of 2^f = e^(f ln 2) as a power series in f: (ln 2)^j / j!.
constexpr std::array<double, 11> powersOfLn2() {
    std::array<double, 11> c{};
    long double term = 1;
    for (int j = 0; j < 11; ++j) {
        c[static_cast<size_t>(j)] = static_cast<double>(term);
        term *= std::numbers::ln2_v<long double> / (j + 1);
    }
    return c;
}

// 2^x for x <= 1022, lane by lane (2^-1021 below -1021: beside a sum of at least 1, or as a
// share of one, that is nothing either way): x = k + f with k the nearest integer, so |f| <= 1/2
// exactly, 2^f by its power series to f^10 (relative error below 1e-12), 2^k from its bits.
template <class L>
__attribute__((always_inline)) inline typename L::D exp2Lanes(typename L::D x) {
    using D = typename L::D;
    using I = typename L::I;
    constexpr double kRound = 0x1.8p52;  // adding it rounds a value below 2^51 to an integer
    constexpr std::array<double, 11> c = powersOfLn2();
    const D low = D{} - 1021.0;
    const D clamped = x < low ? low : x;
    const D shifted = clamped + kRound;
    const D k = shifted - kRound;
    const I kBits = bitsOf<I>(shifted) - bitsOf<int64_t>(kRound);
    const D f = clamped - k;
    D p = D{} + c[10];
    for (int j = 9; j >= 0; --j) p = p * f + c[static_cast<size_t>(j)];
    return p * bitsOf<D>((kBits + 1023) << 52);
}

// The position weights of `count` positions (a multiple of the width) from S rows of scores
// (row e from rows + e * stride; the kernels' values before rounding, which this rounds to the
// nearest integer, ties to even, as the scores are defined): each position's least score; per
// row e^(-(score - least) / T) in place of the score; their sum over the rows in row order; and
// the weight e^(-(least + cost) / T) times that sum as a mantissa in [1, 2) and a power of two,
// the exponent in base 2 split as k + f with 2^f taken like the rest. False when some |k| reaches
// `limit` (at most 2^50). Without a gain the kernels' values are integers already (`round`
// false).
template <class L>
__attribute__((always_inline)) inline bool softMinimum(double* rows, size_t S, size_t stride, size_t count, bool round,
                                                       double cost, double inverseT, double limit, double* sums,
                                                       double* mantissas, int64_t* exponents) {
    using D = typename L::D;
    using I = typename L::I;
    constexpr double kRound = 0x1.8p52;  // adding it rounds a value below 2^51 to an integer
    const double base2 = -inverseT * std::numbers::log2e;
    I outside{};  // lanes whose |k| reached the limit somewhere
    for (size_t i = 0; i < count; i += L::width) {
        D least = D{} + std::numeric_limits<double>::infinity();
        for (size_t e = 0; e < S; ++e) {
            D v = loadLanes<D>(rows + e * stride + i);
            if (round) {
                v = (v + kRound) - kRound;
                storeLanes(rows + e * stride + i, v);
            }
            least = v < least ? v : least;
        }
        // Exponents in base 2: e^(-d / T) = 2^(d c), c = -log2(e) / T.
        D sum{};
        for (size_t e = 0; e < S; ++e) {
            const D v = exp2Lanes<L>((loadLanes<D>(rows + e * stride + i) - least) * base2);
            storeLanes(rows + e * stride + i, v);
            sum += v;
        }
        storeLanes(sums + i, sum);
        const D exponent = (least + cost) * base2;
        const D shifted = exponent + kRound;
        const D k = shifted - kRound;
        const D magnitude = k < 0 ? -k : k;
        outside |= ~(magnitude < limit);  // NaN too (a temperature whose inverse overflows)
        const I kBits = bitsOf<I>(shifted) - bitsOf<int64_t>(kRound);
        const D m = exp2Lanes<L>(exponent - k) * sum;
        const I bits = bitsOf<I>(m);
        storeLanes(mantissas + i, bitsOf<D>((bits & static_cast<int64_t>(kMantissaBits)) | (int64_t{1023} << 52)));
        storeLanes(exponents + i, kBits + ((bits >> 52) - 1023));
    }
    for (int q = 0; q < L::width; ++q)
        if (outside[q]) return false;
    return true;
}
struct WeightKernels {
    bool (*softMinimum)(double*, size_t, size_t, size_t, bool, double, double, double, double*, double*, int64_t*);
    size_t width;
};
bool softMinimum2(double* r, size_t S, size_t stride, size_t n, bool round, double c, double t, double k, double* s,
                  double* m, int64_t* e) {
    return softMinimum<Lanes<2>>(r, S, stride, n, round, c, t, k, s, m, e);
}
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2,fma"))) bool softMinimum4(double* r, size_t S, size_t stride, size_t n, bool round, double c,
                                                      double t, double k, double* s, double* m, int64_t* e) {
    return softMinimum<Lanes<4>>(r, S, stride, n, round, c, t, k, s, m, e);
}
__attribute__((target("avx512f"))) bool softMinimum8(double* r, size_t S, size_t stride, size_t n, bool round, double c,
                                                     double t, double k, double* s, double* m, int64_t* e) {
    return softMinimum<Lanes<8>>(r, S, stride, n, round, c, t, k, s, m, e);
}
#endif

const WeightKernels& weightKernels() {
    static const WeightKernels chosen = [] {
#if defined(__x86_64__) && defined(__GNUC__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) return WeightKernels{softMinimum8, 8};
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return WeightKernels{softMinimum4, 4};
#endif
        return WeightKernels{softMinimum2, 2};
    }();
    return chosen;
}

// The working rows of one chunk of positions: the shapes' scores, then their exponentials;
// each position's sum of those, and its weight as a mantissa and a power of two.
struct ChunkBuffers {
    static constexpr int64_t kChunk = WeightRow::kChunk;  // a multiple of every vector width
    // The rows of a chunk's scores lie a cache line more than a chunk apart: a power of two
    // apart, the soft minimum's reads and writes down a column would share one cache set.
    static constexpr int64_t kRow = kChunk + 8;
    explicit ChunkBuffers(size_t S = 0) { fit(S); }
    void fit(size_t S) {
        if (block.size() < S * kRow) block.resize(S * kRow);
        sums.resize(kChunk), mantissas.resize(kChunk), exponents.resize(kChunk);
    }
    std::vector<double> block, sums, mantissas;
    std::vector<int64_t> exponents;
};

// The weights of `count` positions (at most a chunk) from the S rows of their scores in b.block
// (the kernels' values): each position's least score; per row e^(-(score - least) / T) in place
// of the score (the soft minimum, every term at most 1); their sum; and the least score's own
// exponential split into a power of two and a rest, so that no weight overflows, times the sum,
// into b.mantissas and b.exponents. Each position's numbers depend on its scores alone. False
// when an exponent would leave the range a chain of P weights may take.
bool softMinimumOf(const ShapeScores& scores, size_t S, size_t count, int64_t P, double inverseT, ChunkBuffers& b) {
    const WeightKernels& kernels = weightKernels();
    const size_t C = static_cast<size_t>(ChunkBuffers::kRow);
    const size_t padded = (count + kernels.width - 1) / kernels.width * kernels.width;
    // Padding repeats the last position, so that it refuses nothing the positions would not.
    for (size_t e = 0; e < S; ++e)
        std::fill(b.block.begin() + static_cast<std::ptrdiff_t>(e * C + count),
                  b.block.begin() + static_cast<std::ptrdiff_t>(e * C + padded), b.block[e * C + count - 1]);
    const double limit = std::min(0x1p50, 0x1p62 / static_cast<double>(P + 1));
    return kernels.softMinimum(b.block.data(), S, C, padded, !scores.model().plain(),
                               static_cast<double>(scores.model().pulseCost), inverseT, limit, b.sums.data(),
                               b.mantissas.data(), b.exponents.data());
}
// The weights of the chunk from lo, its `count` positions' S rows of scores in b.block, into W;
// a refusal when an exponent would leave the range a chain of W.size() weights may take, else "".
std::string weighScored(const ShapeScores& scores, size_t S, int64_t lo, size_t count, double inverseT, ChunkBuffers& b,
                        WeightRow& W) {
    if (!softMinimumOf(scores, S, count, W.size(), inverseT, b))
        return "The temperature of the posterior is too small for the scores of this recording.";
    W.writeChunk(lo, count, b.mantissas.data(), b.exponents.data());
    return {};
}

// The weights of one chunk of positions at a time: each position's weight over the shapes
// `rows` (indices into the prepared shapes), W[l] = the sum over them of exp(-score / T). A
// chunk's numbers depend on nothing but its positions.
struct ChunkWeights {
    static constexpr int64_t kChunk = ChunkBuffers::kChunk;

    const ShapeScores& scores;
    ChannelSamples y;
    int64_t P;
    const std::vector<int>& rows;
    double inverseT;
    WeightRow& W;  // P entries

    // Positions lo.. of one chunk; a refusal when an exponent would leave the 64-bit range (a
    // chain's exponent is the sum of at most P pulses'), else "".
    std::string weigh(int64_t lo, ChunkBuffers& b) const {
        const int64_t hi = std::min(P - 1, lo + kChunk - 1);
        scores.scoreRows(y, lo, hi, rows, b.block.data(), ChunkBuffers::kRow);
        return weighScored(scores, rows.size(), lo, static_cast<size_t>(hi - lo + 1), inverseT, b, W);
    }
};

// Every chunk of `weights` on up to `threads` threads (the calling thread one of them), each
// taking the next chunk not yet taken; the numbers are the same for any count. Progress (the
// share of chunks done) from the calling thread. "stopped" when cancelled, else the first
// chunk's refusal in position order, else "".
std::string weighAll(const ChunkWeights& weights, unsigned threads, const std::function<void(double)>& progress,
                     const std::atomic<bool>& cancel) {
    const int64_t chunks = (weights.P + ChunkWeights::kChunk - 1) / ChunkWeights::kChunk;
    const size_t workers = std::clamp<size_t>(threads, 1, static_cast<size_t>(chunks));
    std::vector<ChunkBuffers> buffers(workers, ChunkBuffers(weights.rows.size()));
    std::vector<std::string> refusals(static_cast<size_t>(chunks));
    std::atomic<int64_t> next{0}, done{0};
    std::atomic<bool> failed{false};
    const auto work = [&](size_t worker, bool reports) {
        try {
            for (int64_t c; !cancel.load(std::memory_order_relaxed) && (c = next.fetch_add(1)) < chunks;) {
                refusals[static_cast<size_t>(c)] = weights.weigh(c * ChunkWeights::kChunk, buffers[worker]);
                const int64_t finished = done.fetch_add(1) + 1;
                if (reports) progress(static_cast<double>(finished) / static_cast<double>(chunks));
            }
        } catch (const std::bad_alloc&) {
            failed = true;
            next = chunks;
        }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < workers; ++t) pool.emplace_back(work, t, false);
    work(0, true);
    for (std::thread& t : pool) t.join();
    if (failed) throw std::bad_alloc();
    if (cancel.load(std::memory_order_relaxed)) return "stopped";
    for (const std::string& why : refusals)
        if (!why.empty()) return why;
    return {};
}
}  // namespace

std::string positionWeights(const ShapeScores& scores, ChannelSamples y, int64_t P, const std::vector<int>& rows,
                            double inverseT, unsigned threads, WeightRow& W, const std::function<void(double)>& progress,
                            const std::atomic<bool>& cancel) {
    W = WeightRow(P);
    const ChunkWeights weights{scores, y, P, rows, inverseT, W};
    return weighAll(weights, threads, progress, cancel);
}

void kindShares(const ShapeScores& scores, ChannelSamples y, const std::vector<int>& rows, double inverseT,
                const PulseWindows& pulses, const WeightRow& W, double* shares, int64_t shareStride) {
    ChunkBuffers b(1);
    const int64_t P = W.size();
    std::vector<int> own(1);
    for (size_t j = 0; j < pulses.first.size(); ++j) {
        if (pulses.shape[j] >= rows.size()) continue;
        own[0] = rows[pulses.shape[j]];
        for (int64_t lo = pulses.first[j]; lo <= pulses.last[j]; lo += ChunkBuffers::kChunk) {
            const int64_t hi = std::min(pulses.last[j], lo + ChunkBuffers::kChunk - 1);
            const auto count = static_cast<size_t>(hi - lo + 1);
            scores.scoreRows(y, lo, hi, own, b.block.data(), ChunkBuffers::kRow);
            // The shape's own weight, taken as every weight is (alone at a position it is W).
            softMinimumOf(scores, 1, count, P, inverseT, b);
            for (size_t i = 0; i < count; ++i)
                shares[static_cast<int64_t>(j) * shareStride + (lo - pulses.first[j]) + static_cast<int64_t>(i)] =
                        ratio(Weight::positive(b.mantissas[i], b.exponents[i]), W[lo + static_cast<int64_t>(i)]);
        }
    }
}

void WeighAlong::begin(int64_t P, size_t shapes) {
    const auto chunks = static_cast<size_t>((P + WeightRow::kChunk - 1) / WeightRow::kChunk);
    all_.resize(shapes);
    for (size_t e = 0; e < shapes; ++e) all_[e] = static_cast<int>(e);
    W_ = WeightRow(P);
    claimed_.reset(new std::atomic<bool>[chunks]());
    refusals_.assign(chunks, {});
}

void WeighAlong::score(const ShapeScores& scores, ChannelSamples y, int64_t from, int64_t to, int64_t* q) {
    thread_local ChunkBuffers b;
    b.fit(all_.size());
    const int64_t K = WeightRow::kChunk;
    for (int64_t lo = from / K * K; lo <= to; lo += K) {
        const int64_t hi = std::min(W_.size() - 1, lo + K - 1), a = std::max(from, lo), z = std::min(to, hi);
        const auto c = static_cast<size_t>(lo / K);
        if (claimed_[c].exchange(true)) {
            // Another stretch of the detection weighs this chunk: the scores alone.
            const int all = -1;
            scores.scoreRange(y, a, z, std::span<const int>(&all, 1), q + (a - from), 1);
            continue;
        }
        scores.scoreRows(y, lo, hi, all_, b.block.data(), ChunkBuffers::kRow);
        // The detection's scores first: the soft minimum overwrites the rows.
        scores.bestOfRows(b.block.data() + (a - lo), all_.size(), ChunkBuffers::kRow, z - a + 1, q + (a - from));
        refusals_[c] = weighScored(scores, all_.size(), lo, static_cast<size_t>(hi - lo + 1), inverseT_, b, W_);
    }
}

std::string WeighAlong::finish() {
    // A chunk no stretch reached holds no position of any chain: its weights are never read.
    const std::vector<double> ones(static_cast<size_t>(WeightRow::kChunk), 1.0);
    const std::vector<int64_t> zeros(static_cast<size_t>(WeightRow::kChunk), 0);
    for (size_t c = 0; c < refusals_.size(); ++c) {
        if (!refusals_[c].empty()) return refusals_[c];
        const int64_t lo = static_cast<int64_t>(c) * WeightRow::kChunk;
        if (!claimed_[c].load())
            W_.writeChunk(lo, static_cast<size_t>(std::min(WeightRow::kChunk, W_.size() - lo)), ones.data(), zeros.data());
    }
    return {};
}
}  // namespace posterior_detail
