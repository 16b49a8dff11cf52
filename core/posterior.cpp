#include "core/posterior.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "processing/shape_scores.h"

namespace {
constexpr double kNone = -std::numeric_limits<double>::infinity();

// log(e^a + e^b), exact for a or b = -inf.
double logAdd(double a, double b) {
    if (a < b) std::swap(a, b);
    if (b == kNone) return a;
    return a + std::log1p(std::exp(b - a));
}

// A weighted set of chains: the log of its total weight and the weighted means of the chains'
// pulse counts and their squares.
struct Chains {
    double log = kNone;
    double count = 0, square = 0;
};

Chains operator+(const Chains& a, const Chains& b) {
    if (b.log == kNone) return a;
    if (a.log == kNone) return b;
    // One exponential: the smaller weight relative to the larger.
    const bool aLarger = a.log >= b.log;
    const Chains& hi = aLarger ? a : b;
    const Chains& lo = aLarger ? b : a;
    const double e = std::exp(lo.log - hi.log), whi = 1 / (1 + e), wlo = e * whi;
    return {hi.log + std::log1p(e), whi * hi.count + wlo * lo.count, whi * hi.square + wlo * lo.square};
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

// A log-weight as a sliding-sum value.
struct LogSum {
    double log = kNone;
};
LogSum operator+(const LogSum& a, const LogSum& b) { return {logAdd(a.log, b.log)}; }
}  // namespace

PosteriorResult posteriorOf(const DetectRequest& request, const std::vector<DetectedPulse>& pulses, double temperature,
                            int64_t window, bool perPosition, const std::function<void(double)>& progress,
                            const std::atomic<bool>& cancel) {
    PosteriorResult out;
    if (!(temperature > 0) || !std::isfinite(temperature)) {
        out.error = "The temperature of the posterior must be a positive number.";
        return out;
    }
    const int64_t N = static_cast<int64_t>(request.signal.size());
    int64_t nMax = 0;
    std::vector<std::span<const int16_t>> shapes;
    for (const int32_t c : request.candidates) {
        shapes.push_back(request.shapes[static_cast<size_t>(c)]);
        nMax = std::max<int64_t>(nMax, static_cast<int64_t>(shapes.back().size()));
    }
    const int64_t Tmin = std::min(request.tmin, N), Tmax = std::min(request.tmax, N);
    if (shapes.empty() || nMax > N || window < 0 || window > request.tmax) {
        out.error = "The confidence window must lie from 0 to Tmax samples.";
        return out;
    }
    if (request.count) {
        out.error = "The confidence of a detection with a known count is not available; leave the count unknown.";
        return out;
    }
    const int64_t P = N - nMax + 1;
    const size_t S = shapes.size();
    try {
        // Each position's weight, the shapes summed: w = log sum exp(-score / T).
        ShapeScores scores;
        scores.prepare(shapes, request.savedEnergy,
                       ShapeScores::Model{request.gainMin, request.gainMax, request.pulseCost});
        std::vector<double> w(static_cast<size_t>(P));
        {
            std::vector<int> indices(S);
            for (size_t e = 0; e < S; ++e) indices[e] = static_cast<int>(e);
            constexpr int64_t kChunk = 8192;
            std::vector<int64_t> block(static_cast<size_t>(kChunk) * S);
            for (int64_t lo = 0; lo < P; lo += kChunk) {
                if (cancel.load(std::memory_order_relaxed)) {
                    out.completed = false;
                    return out;
                }
                const int64_t hi = std::min(P - 1, lo + kChunk - 1);
                scores.scoreRange(request.signal.data(), lo, hi, indices, block.data(), static_cast<int64_t>(S));
                for (int64_t l = lo; l <= hi; ++l) {
                    const int64_t* row = block.data() + (l - lo) * static_cast<int64_t>(S);
                    const int64_t least = *std::min_element(row, row + S);
                    double sum = 0;
                    for (size_t e = 0; e < S; ++e) {
                        // Beyond 745 the exponential is 0 in double precision: skipping it changes nothing.
                        const double x = static_cast<double>(row[e] - least) / temperature;
                        if (x < 746) sum += std::exp(-x);
                    }
                    w[static_cast<size_t>(l)] = -static_cast<double>(least) / temperature + std::log(sum);
                }
                if (progress) progress(0.4 * static_cast<double>(hi + 1) / static_cast<double>(P));
            }
        }
        const auto first = [&](int64_t l) { return l + nMax <= Tmax; };
        const auto last = [&](int64_t l) { return N - l <= Tmax; };

        // Forward: the chains ending at l (weight, mean count, mean squared count).
        std::vector<Chains> forward(static_cast<size_t>(P));
        {
            SlidingSum<Chains> before(forward, Tmax - Tmin + 1);
            for (int64_t l = 0; l < P; ++l) {
                if ((l & 0xFFFF) == 0 && cancel.load(std::memory_order_relaxed)) {
                    out.completed = false;
                    return out;
                }
                Chains pred = before.upTo(l - Tmin);
                if (first(l)) pred = pred + Chains{0.0, 0.0, 0.0};
                Chains& f = forward[static_cast<size_t>(l)];
                if (pred.log == kNone) continue;
                f = {w[static_cast<size_t>(l)] + pred.log, pred.count + 1, pred.square + 2 * pred.count + 1};
            }
        }
        if (progress) progress(0.6);
        // Backward: the continuations after l, in reversed positions k = P - 1 - l, as the weight
        // of l's pulse and what follows it: after[k] = w[l] + B[l].
        std::vector<LogSum> after(static_cast<size_t>(P));
        std::vector<double> B(static_cast<size_t>(P), kNone);
        {
            SlidingSum<LogSum> later(after, Tmax - Tmin + 1);
            for (int64_t k = 0; k < P; ++k) {
                if ((k & 0xFFFF) == 0 && cancel.load(std::memory_order_relaxed)) {
                    out.completed = false;
                    return out;
                }
                const int64_t l = P - 1 - k;
                double b = later.upTo(k - Tmin).log;
                if (last(l)) b = logAdd(b, 0.0);
                B[static_cast<size_t>(l)] = b;
                after[static_cast<size_t>(k)] = {b == kNone ? kNone : w[static_cast<size_t>(l)] + b};
            }
        }
        if (progress) progress(0.8);
        Chains all;
        for (int64_t l = 0; l < P; ++l)
            if (last(l)) all = all + forward[static_cast<size_t>(l)];
        if (all.log == kNone) {
            out.error = "No chain of pulses fits the recording.";
            return out;
        }
        const double Z = all.log;
        out.expectedCount = all.count;
        out.countDeviation = std::sqrt(std::max(0.0, all.square - all.count * all.count));
        const auto probability = [&](int64_t l) {
            const double f = forward[static_cast<size_t>(l)].log, b = B[static_cast<size_t>(l)];
            return f == kNone || b == kNone ? 0.0 : std::exp(f + b - Z);
        };
        if (perPosition) {
            out.posterior.resize(static_cast<size_t>(P));
            for (int64_t l = 0; l < P; ++l) out.posterior[static_cast<size_t>(l)] = probability(l);
        }

        // Each pulse: the probability that no chain has a pulse in [a, b], and the shares of its
        // shape among the pulses there.
        for (const DetectedPulse& pulse : pulses) {
            const int64_t a = std::max<int64_t>(0, pulse.position - window), b = std::min(P - 1, pulse.position + window);
            const auto head = [&](int64_t l) { return forward[static_cast<size_t>(l)].log - Z; };
            const auto tail = [&](int64_t m) {
                const double bm = B[static_cast<size_t>(m)];
                return bm == kNone ? kNone : w[static_cast<size_t>(m)] + bm;
            };
            double none = 0;
            // Chains wholly before the window, and wholly after it.
            for (int64_t l = std::max<int64_t>(0, N - Tmax); l < a; ++l)
                if (last(l) && forward[static_cast<size_t>(l)].log != kNone) none += std::exp(head(l));
            for (int64_t m = b + 1; m < P && first(m); ++m)
                if (tail(m) != kNone) none += std::exp(tail(m) - Z);
            // Chains with neighbours l < a and m > b: for each m, the l of its gap window below a,
            // summed through prefix sums of the heads from a - Tmax on.
            const int64_t lo = std::max<int64_t>(0, a - Tmax);
            std::vector<double> prefix(static_cast<size_t>(a - lo + 1), 0.0);
            double top = kNone;
            for (int64_t l = lo; l < a; ++l) top = std::max(top, forward[static_cast<size_t>(l)].log);
            if (top != kNone) {
                for (int64_t l = lo; l < a; ++l)
                    prefix[static_cast<size_t>(l - lo + 1)] =
                            prefix[static_cast<size_t>(l - lo)] +
                            (forward[static_cast<size_t>(l)].log == kNone ? 0.0 : std::exp(forward[static_cast<size_t>(l)].log - top));
                for (int64_t m = b + 1; m < P && m - Tmax <= a - 1; ++m) {
                    const int64_t from = std::max(lo, m - Tmax), to = std::min(a - 1, m - Tmin);
                    if (from > to || tail(m) == kNone) continue;
                    const double heads = prefix[static_cast<size_t>(to - lo + 1)] - prefix[static_cast<size_t>(from - lo)];
                    if (heads > 0) none += std::exp(std::log(heads) + top + tail(m) - Z);
                }
            }
            PulseConfidence c;
            c.confidence = std::clamp(1.0 - none, 0.0, 1.0);
            // The shape's share: its weight among the shapes at each position, by the position's
            // probability.
            const auto found = std::find(request.candidates.begin(), request.candidates.end(), pulse.shape);
            const size_t shape = static_cast<size_t>(found - request.candidates.begin());
            std::vector<int64_t> positions;
            for (int64_t l = a; l <= b; ++l) positions.push_back(l);
            std::vector<int64_t> each(positions.size() * S);
            scores.scoreEach(request.signal.data(), positions, each.data());
            double there = 0, ofShape = 0;
            for (size_t i = 0; i < positions.size(); ++i) {
                const double p = probability(positions[i]);
                there += p;
                if (shape < S)
                    ofShape += p * std::exp(-static_cast<double>(each[i * S + shape] + request.pulseCost) / temperature -
                                            w[static_cast<size_t>(positions[i])]);
            }
            c.kindConfidence = there > 0 ? std::clamp(ofShape / there, 0.0, 1.0) : 0.0;
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
