#include "core/posterior.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "processing/programmes.h"
#include "processing/shape_scores.h"

namespace {
constexpr double kNone = -std::numeric_limits<double>::infinity();

// log(e^a + e^b), exact for a or b = -inf.
double logAdd(double a, double b) {
    if (a < b) std::swap(a, b);
    if (b == kNone) return a;
    return a + std::log1p(std::exp(b - a));
}

// A weight of chains, m 2^e with m = 0 (none) or 1 <= m < 2: sums and products of weights that
// span thousands of orders of magnitude, in a few multiplications where their logarithms would
// take an exponential and a logarithm each.
struct Weight {
    double m = 0;
    int64_t e = 0;

    static Weight ofLog(double log) {
        if (log == kNone) return {};
        const double e2 = std::floor(log / std::numbers::ln2);
        return normal(std::exp(log - e2 * std::numbers::ln2), static_cast<int64_t>(e2));
    }
    double log() const { return m == 0 ? kNone : std::log(m) + static_cast<double>(e) * std::numbers::ln2; }
    bool none() const { return m == 0; }
    /// m 2^(e - exponent), the weight on a scale of 2^exponent.
    double at(int64_t exponent) const { return m == 0 ? 0.0 : std::ldexp(m, static_cast<int>(std::max<int64_t>(e - exponent, -2000))); }
    static Weight normal(double m, int64_t e) {
        if (m == 0) return {};
        int shift = 0;
        m = std::frexp(m, &shift);  // m in [0.5, 1)
        return {m * 2, e + shift - 1};
    }
};
Weight operator+(const Weight& a, const Weight& b) {
    if (b.none()) return a;
    if (a.none()) return b;
    const Weight& hi = a.e >= b.e ? a : b;
    const Weight& lo = a.e >= b.e ? b : a;
    return Weight::normal(hi.m + lo.at(hi.e), hi.e);
}
Weight operator*(const Weight& a, const Weight& b) {
    if (a.none() || b.none()) return {};
    return Weight::normal(a.m * b.m, a.e + b.e);
}
// a / b as a plain number (b not none).
double ratio(const Weight& a, const Weight& b) { return a.none() ? 0.0 : std::ldexp(a.m / b.m, static_cast<int>(std::clamp<int64_t>(a.e - b.e, -2000, 2000))); }

// A weighted set of chains: its total weight and the weighted means of the chains' pulse counts
// and their squares.
struct Chains {
    Weight w;
    double count = 0, square = 0;
};

Chains operator+(const Chains& a, const Chains& b) {
    if (b.w.none()) return a;
    if (a.w.none()) return b;
    const Weight total = a.w + b.w;
    const double wa = ratio(a.w, total), wb = ratio(b.w, total);
    return {total, wa * a.count + wb * b.count, wa * a.square + wb * b.square};
}

// The sum of the values at the positions of the window [to - width + 1, to] (cut at 0), for a
// `to` that never decreases and values final once reached: blocks of `width`, the window the
// suffix sum of one block and the prefix sum of the next, every sum taken in the same order
// whatever came before (so the result does not depend on how the work is split).
template <class T>
class SlidingSum {
public:
    SlidingSum(const std::vector<T>& values, int64_t width) : values_(values), width_(width) {
        suffix_.resize(static_cast<size_t>(std::min<int64_t>(width, static_cast<int64_t>(values.size())) + 1));
    }
    T upTo(int64_t to) {
        for (; next_ <= to; ++next_) {
            const T& v = values_[static_cast<size_t>(next_)];
            prefix_ = inBlock_ == 0 ? v : prefix_ + v;
            if (++inBlock_ == width_) {
                // The block is complete: its suffix sums, from its end back.
                const int64_t first = next_ - width_ + 1;
                T s{};
                for (int64_t k = next_; k >= first; --k) {
                    s = values_[static_cast<size_t>(k)] + s;
                    suffix_[static_cast<size_t>(k - first)] = s;
                }
                inBlock_ = 0;
            }
        }
        if (to < 0) return T{};
        const int64_t from = to - width_ + 1;
        const int64_t blockStart = next_ - (inBlock_ == 0 ? width_ : inBlock_);
        if (from >= blockStart || (from <= 0 && blockStart == 0)) return prefix_;
        // The window reaches into the block before: its suffix from `from`, then the prefix.
        const int64_t earlier = blockStart - width_;
        return suffix_[static_cast<size_t>(from - earlier)] + prefix_;
    }

private:
    const std::vector<T>& values_;
    int64_t width_;
    int64_t next_ = 0, inBlock_ = 0;
    T prefix_{};
    std::vector<T> suffix_;
};

// The weight (over Z) of the chains whose neighbouring pulses l < a and m > b lie Tmin to Tmax
// apart, l from lFirst on and m up to mLast: head(l) is the weight of the chains up to l's
// pulse, tail(m) that of m's pulse and what follows. For each m the heads of its gap window
// below a come from prefix sums, so a window costs O(Tmax).
template <class Head, class Tail>
double pairsAround(int64_t a, int64_t b, int64_t Tmin, int64_t Tmax, int64_t lFirst, int64_t mLast, Head&& head,
                   Tail&& tail, const Weight& Z) {
    const int64_t lo = std::max(lFirst, a - Tmax);
    if (lo > a - 1) return 0;
    int64_t top = std::numeric_limits<int64_t>::min();
    for (int64_t l = lo; l < a; ++l)
        if (!head(l).none()) top = std::max(top, head(l).e);
    if (top == std::numeric_limits<int64_t>::min()) return 0;
    std::vector<double> prefix(static_cast<size_t>(a - lo + 1), 0.0);
    for (int64_t l = lo; l < a; ++l) prefix[static_cast<size_t>(l - lo + 1)] = prefix[static_cast<size_t>(l - lo)] + head(l).at(top);
    double sum = 0;
    for (int64_t m = b + 1; m <= mLast && m - Tmax <= a - 1; ++m) {
        const int64_t from = std::max(lo, m - Tmax), to = std::min(a - 1, m - Tmin);
        const Weight t = tail(m);
        if (from > to || t.none()) continue;
        const double heads = prefix[static_cast<size_t>(to - lo + 1)] - prefix[static_cast<size_t>(from - lo)];
        if (heads > 0) sum += ratio(Weight::normal(heads * t.m, top + t.e), Z);
    }
    return sum;
}

// The layered passes of a known count K: layer j holds the positions pulse j may take
// (pulseRange), F[j] the weight of the chains of pulses 0..j ending there, B[j] that of pulses
// j+1..K-1 after it.
struct Layers {
    std::vector<int64_t> lo, hi;
    std::vector<std::vector<Weight>> F, B;
    Weight Z;

    // The passes over the positions' weights W; a message when they do not fit (or "stopped").
    template <class Stop>
    std::string build(int64_t N, int64_t n, int64_t Tmin, int64_t Tmax, int64_t K, const std::vector<Weight>& W, Stop&& stop) {
        double cells = 0;
        for (int64_t j = 0; j < K; ++j) {
            const auto [a, b] = pulseRange(N, n, Tmin, Tmax, j, K);
            if (b < a) return std::to_string(K) + " pulses cannot cover the recording with these gaps.";
            lo.push_back(a);
            hi.push_back(b);
            cells += static_cast<double>(b - a + 1);
        }
        const double bytes = cells * 2 * sizeof(Weight);
        if (bytes > static_cast<double>(kKnownCountMemoryBudget))
            return "The confidence of a known count of " + std::to_string(K) + " pulses in " + std::to_string(N) +
                   " samples would need " + std::to_string(static_cast<int64_t>(std::ceil(bytes / 1e6))) +
                   " MB of working memory (more than " + std::to_string(kKnownCountMemoryBudget / 1000000) +
                   " MB); leave the count unknown.";
        const auto J = static_cast<size_t>(K);
        F.resize(J);
        B.resize(J);
        const int64_t width = Tmax - Tmin + 1;
        for (size_t j = 0; j < J; ++j) {
            if (stop(static_cast<int64_t>(j) << 16)) return "stopped";
            F[j].assign(static_cast<size_t>(hi[j] - lo[j] + 1), Weight{});
            if (j == 0) {
                for (int64_t l = lo[0]; l <= hi[0]; ++l) F[0][static_cast<size_t>(l - lo[0])] = W[static_cast<size_t>(l)];
                continue;
            }
            // The previous layer from its start on, padded with no chains up to the last window.
            std::vector<Weight> before(static_cast<size_t>(std::max<int64_t>(1, hi[j] - Tmin - lo[j - 1] + 1)));
            for (int64_t m = lo[j - 1]; m <= std::min(hi[j - 1], hi[j] - Tmin); ++m)
                before[static_cast<size_t>(m - lo[j - 1])] = F[j - 1][static_cast<size_t>(m - lo[j - 1])];
            SlidingSum<Weight> sums(before, width);
            for (int64_t l = lo[j]; l <= hi[j]; ++l)
                F[j][static_cast<size_t>(l - lo[j])] = W[static_cast<size_t>(l)] * sums.upTo(l - Tmin - lo[j - 1]);
        }
        for (const Weight& f : F[J - 1]) Z = Z + f;
        if (Z.none()) return "No chain of " + std::to_string(K) + " pulses fits the recording.";
        for (size_t j = J; j-- > 0;) {
            if (stop(static_cast<int64_t>(j) << 16)) return "stopped";
            B[j].assign(static_cast<size_t>(hi[j] - lo[j] + 1), Weight{});
            if (j + 1 == J) {
                std::fill(B[j].begin(), B[j].end(), Weight{1, 0});
                continue;
            }
            // The next layer from its end back (reversed positions), padded likewise.
            const int64_t top = hi[j + 1];
            std::vector<Weight> after(static_cast<size_t>(std::max<int64_t>(1, top - (lo[j] + Tmin) + 1)));
            for (int64_t m = top; m >= std::max(lo[j + 1], lo[j] + Tmin); --m)
                after[static_cast<size_t>(top - m)] = W[static_cast<size_t>(m)] * B[j + 1][static_cast<size_t>(m - lo[j + 1])];
            SlidingSum<Weight> sums(after, width);
            for (int64_t l = hi[j]; l >= lo[j]; --l) B[j][static_cast<size_t>(l - lo[j])] = sums.upTo(top - (l + Tmin));
        }
        return {};
    }
    double probability(int64_t l) const {
        double p = 0;
        for (size_t j = 0; j < F.size(); ++j)
            if (l >= lo[j] && l <= hi[j])
                p += ratio(F[j][static_cast<size_t>(l - lo[j])] * B[j][static_cast<size_t>(l - lo[j])], Z);
        return p;
    }
    // The weight over Z of the chains with no pulse in [a, b].
    double noneIn(int64_t a, int64_t b, int64_t Tmin, int64_t Tmax, const std::vector<Weight>& W) const {
        const size_t J = F.size();
        const auto at = [](const std::vector<Weight>& row, int64_t first, int64_t l) {
            return l < first || l >= first + static_cast<int64_t>(row.size()) ? Weight{} : row[static_cast<size_t>(l - first)];
        };
        double none = 0;
        // All K pulses before a, or all after b.
        for (int64_t l = lo[J - 1]; l <= std::min(hi[J - 1], a - 1); ++l) none += ratio(at(F[J - 1], lo[J - 1], l), Z);
        for (int64_t m = std::max(lo[0], b + 1); m <= hi[0]; ++m)
            none += ratio(W[static_cast<size_t>(m)] * at(B[0], lo[0], m), Z);
        // Pulse j - 1 before a and pulse j after b.
        for (size_t j = 1; j < J; ++j) {
            if (lo[j - 1] > a - 1 || hi[j] < b + 1 || hi[j - 1] < a - Tmax) continue;
            none += pairsAround(
                    a, b, Tmin, Tmax, lo[j - 1], hi[j], [&](int64_t l) { return at(F[j - 1], lo[j - 1], l); },
                    [&](int64_t m) { return W[static_cast<size_t>(m)] * at(B[j], lo[j], m); }, Z);
        }
        return none;
    }
};

// The passes of an unknown count: forward[l] the chains ending at l (weight and count moments),
// B[l] the weight of what may follow l's pulse.
struct ChainPasses {
    int64_t N = 0, n = 0, Tmin = 1, Tmax = 1, P = 0;
    std::vector<Chains> forward;
    std::vector<Weight> B;
    Weight Z;
    double count = 0, deviation = 0;

    bool first(int64_t l) const { return l + n <= Tmax; }
    bool last(int64_t l) const { return N - l <= Tmax; }

    template <class Stop>
    std::string build(int64_t N_, int64_t n_, int64_t Tmin_, int64_t Tmax_, const std::vector<Weight>& W, Stop&& stop) {
        N = N_, n = n_, Tmin = Tmin_, Tmax = Tmax_, P = static_cast<int64_t>(W.size());
        forward.assign(static_cast<size_t>(P), Chains{});
        SlidingSum<Chains> before(forward, Tmax - Tmin + 1);
        for (int64_t l = 0; l < P; ++l) {
            if (stop(l)) return "stopped";
            Chains pred = before.upTo(l - Tmin);
            if (first(l)) pred = pred + Chains{Weight{1, 0}, 0.0, 0.0};
            if (pred.w.none()) continue;
            forward[static_cast<size_t>(l)] = {W[static_cast<size_t>(l)] * pred.w, pred.count + 1,
                                               pred.square + 2 * pred.count + 1};
        }
        // Backward in reversed positions k = P - 1 - l, as the weight of l's pulse and what
        // follows it: after[k] = W[l] B[l].
        std::vector<Weight> after(static_cast<size_t>(P));
        B.assign(static_cast<size_t>(P), Weight{});
        SlidingSum<Weight> later(after, Tmax - Tmin + 1);
        for (int64_t k = 0; k < P; ++k) {
            if (stop(k)) return "stopped";
            const int64_t l = P - 1 - k;
            Weight b = later.upTo(k - Tmin);
            if (last(l)) b = b + Weight{1, 0};
            B[static_cast<size_t>(l)] = b;
            after[static_cast<size_t>(k)] = W[static_cast<size_t>(l)] * b;
        }
        Chains all;
        for (int64_t l = 0; l < P; ++l)
            if (last(l)) all = all + forward[static_cast<size_t>(l)];
        if (all.w.none()) return "No chain of pulses fits the recording.";
        Z = all.w;
        count = all.count;
        deviation = std::sqrt(std::max(0.0, all.square - all.count * all.count));
        return {};
    }
    double probability(int64_t l) const { return ratio(forward[static_cast<size_t>(l)].w * B[static_cast<size_t>(l)], Z); }
    // The weight over Z of the chains with no pulse in [a, b].
    double noneIn(int64_t a, int64_t b, const std::vector<Weight>& W) const {
        const auto head = [&](int64_t l) { return forward[static_cast<size_t>(l)].w; };
        const auto tail = [&](int64_t m) { return W[static_cast<size_t>(m)] * B[static_cast<size_t>(m)]; };
        double none = 0;
        // Chains wholly before the window, and wholly after it.
        for (int64_t l = std::max<int64_t>(0, N - Tmax); l < a; ++l) none += ratio(head(l), Z);
        for (int64_t m = b + 1; m < P && first(m); ++m) none += ratio(tail(m), Z);
        // Chains with neighbours l < a and m > b.
        return none + pairsAround(a, b, Tmin, Tmax, 0, P - 1, head, tail, Z);
    }
};
}  // namespace

PosteriorResult posteriorOf(const DetectRequest& request, const std::vector<DetectedPulse>& pulses, double temperature,
                            int64_t window, bool perPosition, const std::function<void(double)>& progress,
                            const std::atomic<bool>& cancel) {
    PosteriorResult out;
    if (!(temperature > 0) || !std::isfinite(temperature)) {
        out.error = "The temperature of the posterior must be a positive number.";
        return out;
    }
    if (request.channels < 1 || request.channels > kMostChannels) {
        out.error = "The posterior takes 1 to " + std::to_string(kMostChannels) + " channels.";
        return out;
    }
    const int64_t C = request.channels, N = static_cast<int64_t>(request.signal.size()) / C;
    int64_t nMax = 0;
    std::vector<std::span<const int16_t>> shapes;
    for (const int32_t c : request.candidates) {
        shapes.push_back(request.shapes[static_cast<size_t>(c)]);
        nMax = std::max<int64_t>(nMax, static_cast<int64_t>(shapes.back().size()) / C);
    }
    const int64_t Tmin = std::min(request.tmin, N), Tmax = std::min(request.tmax, N);
    if (shapes.empty() || nMax > N || window < 0 || window > request.tmax) {
        out.error = "The confidence window must lie from 0 to Tmax samples.";
        return out;
    }
    const int64_t P = N - nMax + 1;
    const size_t S = shapes.size();
    try {
        ShapeScores scores;
        scores.prepare(shapes, request.savedEnergy,
                       ShapeScores::Model{request.gainMin, request.gainMax, request.pulseCost}, request.channels);
        // Each pulse's window [a, b] of positions, and (in joint detection) its shape's share of
        // the weight at each of them, taken while the shapes are scored.
        std::vector<int64_t> windowFirst(pulses.size()), windowLast(pulses.size());
        std::vector<size_t> pulseShape(pulses.size(), S);
        std::vector<std::vector<double>> kindShare(pulses.size());
        for (size_t j = 0; j < pulses.size(); ++j) {
            windowFirst[j] = std::max<int64_t>(0, pulses[j].position - window);
            windowLast[j] = std::min(P - 1, pulses[j].position + window);
            const auto found = std::find(request.candidates.begin(), request.candidates.end(), pulses[j].shape);
            pulseShape[j] = static_cast<size_t>(found - request.candidates.begin());
            kindShare[j].assign(static_cast<size_t>(std::max<int64_t>(0, windowLast[j] - windowFirst[j] + 1)), 0.0);
        }
        // Each position's log weight over the shapes `only` (-1: every shape summed; else that
        // shape alone): w = log sum exp(-score / T).
        const auto weights = [&](int only, double base, double span) {
            std::vector<double> w(static_cast<size_t>(P));
            std::vector<int> indices;
            for (size_t e = 0; e < S; ++e)
                if (only < 0 || only == static_cast<int>(e)) indices.push_back(static_cast<int>(e));
            const size_t width = indices.size();
            constexpr int64_t kChunk = 8192;
            std::vector<int64_t> block(static_cast<size_t>(kChunk) * width);
            size_t firstOpen = 0;  // the first pulse whose window may still hold the position
            for (int64_t lo = 0; lo < P; lo += kChunk) {
                if (cancel.load(std::memory_order_relaxed)) return std::vector<double>{};
                const int64_t hi = std::min(P - 1, lo + kChunk - 1);
                scores.scoreRange(ChannelSamples(request.signal.data(), N), lo, hi, indices, block.data(), static_cast<int64_t>(width));
                for (int64_t l = lo; l <= hi; ++l) {
                    const int64_t* row = block.data() + (l - lo) * static_cast<int64_t>(width);
                    const int64_t least = *std::min_element(row, row + width);
                    double sum = 0;
                    for (size_t e = 0; e < width; ++e) {
                        // Beyond 745 the exponential is 0 in double precision: skipping it changes nothing.
                        const double x = static_cast<double>(row[e] - least) / temperature;
                        if (x < 746) sum += std::exp(-x);
                    }
                    w[static_cast<size_t>(l)] = -static_cast<double>(least) / temperature + std::log(sum);
                    if (only >= 0) continue;
                    // The shares of the pulses' shapes where their windows hold this position (the
                    // windows are in order and of one width, so the open ones follow each other).
                    while (firstOpen < pulses.size() && windowLast[firstOpen] < l) ++firstOpen;
                    for (size_t j = firstOpen; j < pulses.size() && windowFirst[j] <= l; ++j)
                        if (pulseShape[j] < S)
                            kindShare[j][static_cast<size_t>(l - windowFirst[j])] =
                                    std::exp(-static_cast<double>(row[pulseShape[j]] - least) / temperature) / sum;
                }
                if (progress) progress(base + span * static_cast<double>(hi + 1) / static_cast<double>(P));
            }
            return w;
        };
        const auto stop = [&](int64_t i) { return (i & 0xFFFF) == 0 && cancel.load(std::memory_order_relaxed); };
        // Joint detection weighs each pulse over every shape: one set of chains. Recognition
        // weighs the chains of each candidate alone: a mixture of one set per candidate, each by
        // its total weight.
        const bool recognize = request.task == DetectTask::recognize && S > 1;
        const size_t components = recognize ? S : 1;
        std::vector<double> logZ(components), count(components), square(components);
        // Per component: each pulse's weight of chains without a pulse in its window, and its
        // expected number of pulses there; each position's probability.
        std::vector<std::vector<double>> none(components, std::vector<double>(pulses.size())),
                there(components, std::vector<double>(pulses.size()));
        std::vector<std::vector<double>> probabilities(perPosition ? components : 0);
        // Joint detection: each pulse's expected number of pulses of its shape in its window.
        std::vector<double> ofKind(pulses.size());
        for (size_t k = 0; k < components; ++k) {
            const double base = 0.8 * static_cast<double>(k) / static_cast<double>(components);
            const std::vector<double> w = weights(recognize ? static_cast<int>(k) : -1, base, 0.4 / static_cast<double>(components));
            if (w.empty()) {
                out.completed = false;
                return out;
            }
            Layers layers;
            ChainPasses passes;
            std::vector<Weight> W(w.size());
            for (size_t l = 0; l < w.size(); ++l) W[l] = Weight::ofLog(w[l]);
            const std::string why = request.count ? layers.build(N, nMax, Tmin, Tmax, *request.count, W, stop)
                                                  : passes.build(N, nMax, Tmin, Tmax, W, stop);
            if (why == "stopped") {
                out.completed = false;
                return out;
            }
            if (!why.empty() && !recognize) {
                out.error = why;
                return out;
            }
            if (!why.empty()) {  // a candidate no chain fits weighs nothing
                logZ[k] = kNone;
                continue;
            }
            const std::function<double(int64_t)> probability = [&](int64_t l) {
                return request.count ? layers.probability(l) : passes.probability(l);
            };
            logZ[k] = (request.count ? layers.Z : passes.Z).log();
            count[k] = request.count ? static_cast<double>(*request.count) : passes.count;
            square[k] = request.count ? count[k] * count[k]
                                      : passes.deviation * passes.deviation + passes.count * passes.count;
            for (size_t j = 0; j < pulses.size(); ++j) {
                const int64_t a = std::max<int64_t>(0, pulses[j].position - window), b = std::min(P - 1, pulses[j].position + window);
                none[k][j] = request.count ? layers.noneIn(a, b, Tmin, Tmax, W) : passes.noneIn(a, b, W);
                for (int64_t l = a; l <= b; ++l) there[k][j] += probability(l);
                if (recognize) continue;
                for (int64_t l = a; l <= b; ++l) ofKind[j] += probability(l) * kindShare[j][static_cast<size_t>(l - a)];
            }
            if (perPosition) {
                probabilities[k].resize(static_cast<size_t>(P));
                for (int64_t l = 0; l < P; ++l) probabilities[k][static_cast<size_t>(l)] = probability(l);
            }
        }
        // The components' shares.
        double total = kNone;
        for (const double z : logZ) total = logAdd(total, z);
        if (total == kNone) {
            out.error = "No chain of pulses fits the recording.";
            return out;
        }
        std::vector<double> share(components);
        for (size_t k = 0; k < components; ++k) share[k] = logZ[k] == kNone ? 0.0 : std::exp(logZ[k] - total);
        double mean = 0, meanSquare = 0;
        for (size_t k = 0; k < components; ++k) {
            mean += share[k] * count[k];
            meanSquare += share[k] * square[k];
        }
        out.expectedCount = mean;
        out.countDeviation = std::sqrt(std::max(0.0, meanSquare - mean * mean));
        if (perPosition) {
            out.posterior.assign(static_cast<size_t>(P), 0.0);
            for (size_t k = 0; k < components; ++k)
                if (share[k] > 0)
                    for (int64_t l = 0; l < P; ++l)
                        out.posterior[static_cast<size_t>(l)] += share[k] * probabilities[k][static_cast<size_t>(l)];
        }
        if (progress) progress(0.85);

        // Each pulse: one less the weight of the chains without a pulse in its window; the share
        // of its shape among the pulses there: in recognition the share of its candidate's
        // chains, in joint detection its weight among the shapes at each position.
        for (size_t j = 0; j < pulses.size(); ++j) {
            const DetectedPulse& pulse = pulses[j];
            const auto found = std::find(request.candidates.begin(), request.candidates.end(), pulse.shape);
            const size_t shape = static_cast<size_t>(found - request.candidates.begin());
            double noPulse = 0, expected = 0, ofShape = 0;
            for (size_t k = 0; k < components; ++k) {
                noPulse += share[k] * none[k][j];
                expected += share[k] * there[k][j];
            }
            if (recognize)
                ofShape = shape < S ? share[shape] * there[shape][j] : 0.0;
            else
                ofShape = ofKind[j];
            PulseConfidence c;
            c.confidence = std::clamp(1.0 - noPulse, 0.0, 1.0);
            c.kindConfidence = expected > 0 ? std::clamp(ofShape / expected, 0.0, 1.0) : 0.0;
            out.pulses.push_back(c);
        }
    } catch (const std::bad_alloc&) {
        out = PosteriorResult{};
        out.error = "Not enough memory for the posterior of " + std::to_string(N) + " samples.";
        return out;
    }
    if (progress) progress(1.0);
    return out;
}
