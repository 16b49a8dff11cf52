#include "core/posterior.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <thread>

#include "core/chain_weight.h"
#include "core/position_weights.h"
#include "processing/programmes.h"
#include "processing/shape_scores.h"

namespace {
using namespace posterior_detail;

// log(e^a + e^b), exact for a or b = -inf.
double logAdd(double a, double b) {
    if (a < b) std::swap(a, b);
    if (b == kNone) return a;
    return a + std::log1p(std::exp(b - a));
}

// A weighted set of chains: its total weight m 2^e (m = 0: none), and about a base count the
// sums of the weights times each chain's count's offset from it (first) and times the offset's
// square (second), on the same scale: the mean count is base + first / m, the variance
// second / m less the square of first / m. A pulse more raises the base by one and leaves the
// sums; a sum of sets takes each set's sums to the first one's base. No step divides (nothing
// waits on a quotient), and where one chain outweighs the rest its count stays an exact integer
// and the variance 0.
struct Chains {
    double m = 0;
    int64_t e = 0;
    double base = 0, first = 0, second = 0;
    bool none() const { return m == 0; }
    Weight weight() const { return {m, e}; }
    double count() const { return base + first / m; }
    double variance() const { return std::max(0.0, second / m - (first / m) * (first / m)); }
};
// s += v, s on its own scale (see kHeadroom).
__attribute__((always_inline)) inline void accumulate(Chains& s, const Chains& v) {
    if (v.none()) return;
    if (s.none()) {
        s = v;
        return;
    }
    if (v.e > s.e + kHeadroom) {
        const double down = downBy(v.e - s.e);
        s = {s.m * down, v.e, s.base, s.first * down, s.second * down};
    }
    const double scale = scaleBy(v.e - s.e), w = v.m * scale, d = v.base - s.base;
    // v's sums moved to s's base: (o + d)^2 = o^2 + 2 d o + d^2 for each offset o.
    s.m += w;
    s.first += v.first * scale + w * d;
    s.second += v.second * scale + 2 * d * (v.first * scale) + w * d * d;
}
// The set with its weight's mantissa in [1, 2) (its sums scaled alike, exactly).
Chains normalized(const Chains& c) {
    if (c.none()) return {};
    const Weight w = Weight::positive(c.m, c.e);
    const double down = powerOfTwo(c.e - w.e);
    return {w.m, w.e, c.base, c.first * down, c.second * down};
}
__attribute__((always_inline)) inline Chains operator+(const Chains& a, const Chains& b) {
    Chains s = a;
    accumulate(s, b);
    return normalized(s);
}
// Every chain of c followed by one more pulse of weight w.
__attribute__((always_inline)) inline Chains extended(const Weight& w, const Chains& c) {
    if (w.none() || c.none()) return {};
    return {w.m * c.m, w.e + c.e, c.base + 1, w.m * c.first, w.m * c.second};
}

// The values a sliding sum reads, by position: all of them (`whole`), or only the last ones in a
// ring as long as the window reaches back (a power of two at least `reach` + 1), which is all a
// pass needs when nothing reads them later.
template <class T>
class History {
public:
    History(int64_t count, int64_t reach, bool whole)
        : values_(static_cast<size_t>(whole ? count : static_cast<int64_t>(std::bit_ceil(static_cast<uint64_t>(reach) + 1)))),
          mask_(whole ? ~int64_t{0} : static_cast<int64_t>(values_.size()) - 1) {}
    T& operator[](int64_t k) { return values_[static_cast<size_t>(k & mask_)]; }
    const T& operator[](int64_t k) const { return values_[static_cast<size_t>(k & mask_)]; }

private:
    std::vector<T> values_;
    int64_t mask_;
};

// The sum of the values at the positions of the window [to - width + 1, to] (cut at 0), for a
// `to` that never decreases and values final once reached: blocks of `width`, the window the
// suffix sum of one block and the prefix sum of the next, every sum taken in the same order
// whatever came before (so the result does not depend on how the work is split). `values` may
// still be filling (up to `count` values): the window reads only positions up to `to`, at most
// `width` back.
template <class T, class Sum = T>
class SlidingSum {
public:
    SlidingSum(const History<T>& values, int64_t width, int64_t count) : values_(values), width_(width) {
        suffix_.resize(static_cast<size_t>(std::min(width, count) + 1));
    }
    /// The window's sum, normalised.
    T upTo(int64_t to) {
        for (; next_ <= to; ++next_) {
            const T& v = values_[next_];
            if (inBlock_ == 0) prefix_ = Sum{};
            accumulate(prefix_, v);
            if (++inBlock_ == width_) {
                // The block is complete: its suffix sums, from its end back.
                const int64_t first = next_ - width_ + 1;
                Sum s{};
                for (int64_t k = next_; k >= first; --k) {
                    accumulate(s, values_[k]);
                    suffix_[static_cast<size_t>(k - first)] = s;
                }
                inBlock_ = 0;
            }
        }
        if (to < 0) return T{};
        const int64_t from = to - width_ + 1;
        const int64_t blockStart = next_ - (inBlock_ == 0 ? width_ : inBlock_);
        if (from >= blockStart || (from <= 0 && blockStart == 0)) return normalized(prefix_);
        // The window reaches into the block before: its suffix from `from`, then the prefix.
        const int64_t earlier = blockStart - width_;
        Sum window = suffix_[static_cast<size_t>(from - earlier)];
        accumulate(window, prefix_);
        return normalized(window);
    }

private:
    const History<T>& values_;
    int64_t width_;
    int64_t next_ = 0, inBlock_ = 0;
    Sum prefix_{};
    std::vector<Sum> suffix_;
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
    std::string build(int64_t N, int64_t n, int64_t Tmin, int64_t Tmax, int64_t K, const WeightRow& W, Stop&& stop) {
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
                for (int64_t l = lo[0]; l <= hi[0]; ++l) F[0][static_cast<size_t>(l - lo[0])] = W[l];
                continue;
            }
            // The previous layer from its start on, padded with no chains up to the last window.
            const int64_t span = std::max<int64_t>(1, hi[j] - Tmin - lo[j - 1] + 1);
            History<Weight> before(span, 0, true);
            for (int64_t m = lo[j - 1]; m <= std::min(hi[j - 1], hi[j] - Tmin); ++m)
                before[m - lo[j - 1]] = F[j - 1][static_cast<size_t>(m - lo[j - 1])];
            SlidingSum<Weight> sums(before, width, span);
            for (int64_t l = lo[j]; l <= hi[j]; ++l)
                F[j][static_cast<size_t>(l - lo[j])] = W[l] * sums.upTo(l - Tmin - lo[j - 1]);
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
            const int64_t span = std::max<int64_t>(1, top - (lo[j] + Tmin) + 1);
            History<Weight> after(span, 0, true);
            for (int64_t m = top; m >= std::max(lo[j + 1], lo[j] + Tmin); --m)
                after[top - m] = W[m] * B[j + 1][static_cast<size_t>(m - lo[j + 1])];
            SlidingSum<Weight> sums(after, width, span);
            for (int64_t l = hi[j]; l >= lo[j]; --l) B[j][static_cast<size_t>(l - lo[j])] = sums.upTo(top - (l + Tmin));
        }
        return {};
    }
    double probability(int64_t l) const {
        // The layers' ranges rise with j: those holding l follow each other.
        double p = 0;
        for (auto j = static_cast<size_t>(std::lower_bound(hi.begin(), hi.end(), l) - hi.begin()); j < F.size() && lo[j] <= l; ++j)
            p += ratio(F[j][static_cast<size_t>(l - lo[j])] * B[j][static_cast<size_t>(l - lo[j])], Z);
        return p;
    }
    // The weight over Z of the chains with no pulse in [a, b].
    double noneIn(int64_t a, int64_t b, int64_t Tmin, int64_t Tmax, const WeightRow& W) const {
        const size_t J = F.size();
        const auto at = [](const std::vector<Weight>& row, int64_t first, int64_t l) {
            return l < first || l >= first + static_cast<int64_t>(row.size()) ? Weight{} : row[static_cast<size_t>(l - first)];
        };
        double none = 0;
        // All K pulses before a, or all after b.
        for (int64_t l = lo[J - 1]; l <= std::min(hi[J - 1], a - 1); ++l) none += ratio(at(F[J - 1], lo[J - 1], l), Z);
        for (int64_t m = std::max(lo[0], b + 1); m <= hi[0]; ++m)
            none += ratio(W[m] * at(B[0], lo[0], m), Z);
        // Pulse j - 1 before a and pulse j after b.
        for (size_t j = 1; j < J; ++j) {
            if (lo[j - 1] > a - 1 || hi[j] < b + 1 || hi[j - 1] < a - Tmax) continue;
            none += pairsAround(
                    a, b, Tmin, Tmax, lo[j - 1], hi[j], [&](int64_t l) { return at(F[j - 1], lo[j - 1], l); },
                    [&](int64_t m) { return W[m] * at(B[j], lo[j], m); }, Z);
        }
        return none;
    }
};

// The passes of an unknown count: F[l] the weight of the chains ending at l (their count
// moments only while the window reads them); tails[P - 1 - m] the weight of m's pulse and what may
// follow it (kept whole only when asked: the chains without a pulse in a wide window need
// them); each position's probability, taken as the backward pass reaches it and kept for every
// position when asked. With `windows` only what the confidences read is kept, a fraction of the
// memory: each window's sums of its positions' probabilities, plain and times `kindShare` (the
// pulse's shape's share at each position, window j's from j * windowStride), taken down the
// window as the backward pass reaches it; and the windows' F unless the tails are kept whole (the
// chains without a pulse in a window read F everywhere).
struct ChainPasses {
    int64_t N = 0, n = 0, Tmin = 1, Tmax = 1, P = 0;
    std::vector<Weight> F;
    std::optional<History<Weight>> tails;
    std::vector<double> probabilities;
    const PulseWindows* windows = nullptr;  // set (with windowStride) to keep the windows only
    int64_t windowStride = 0;
    const double* kindShare = nullptr;  // with windows, in joint detection
    std::vector<double> expected, expectedOfKind;  // per window
    std::vector<Weight> headsInWindows;  // F in the windows, when F is not kept whole
    Weight Z;
    double count = 0, deviation = 0;

    bool first(int64_t l) const { return l + n <= Tmax; }
    bool last(int64_t l) const { return N - l <= Tmax; }

    template <class Stop>
    std::string build(int64_t N_, int64_t n_, int64_t Tmin_, int64_t Tmax_, const WeightRow& W,
                      bool keepTails, Stop&& stop) {
        N = N_, n = n_, Tmin = Tmin_, Tmax = Tmax_, P = W.size();
        const int64_t width = Tmax - Tmin + 1;
        History<Chains> chains(P, Tmax, false);
        const bool headsWhole = !windows || keepTails;
        const size_t J = windows ? windows->first.size() : 0, stride = static_cast<size_t>(windowStride);
        F.clear();
        if (headsWhole)
            F.reserve(static_cast<size_t>(P));
        else
            headsInWindows.assign(J * stride, Weight{});
        // The windows holding l, going up: from the first one ending at or after l on, while they
        // begin at or before it (both bounds rise with the window).
        size_t low = 0;
        SlidingSum<Chains> before(chains, width, P);
        for (int64_t l = 0; l < P; ++l) {
            if (stop(l)) return "stopped";
            Chains pred = before.upTo(l - Tmin);
            if (first(l)) pred = pred + Chains{1, 0, 0, 0, 0};  // the chain that starts here
            chains[l] = extended(W[l], pred);
            if (headsWhole) {
                F.push_back(chains[l].weight());
                continue;
            }
            while (low < J && windows->last[low] < l) ++low;
            for (size_t j = low; j < J && windows->first[j] <= l; ++j)
                headsInWindows[j * stride + static_cast<size_t>(l - windows->first[j])] = chains[l].weight();
        }
        // The chains that may end the recording: the last Tmax - n + 1 positions, still held.
        Chains all;
        for (int64_t l = std::max<int64_t>(0, N - Tmax); l < P; ++l) all = all + chains[l];
        if (all.none()) return "No chain of pulses fits the recording.";
        Z = all.weight();
        count = all.count();
        deviation = std::sqrt(all.variance());
        const double inverseZ = 1 / Z.m;
        // Backward in reversed positions k = P - 1 - l: B, the weight of what may follow l's
        // pulse, gives l's probability F B / Z and the tail W[l] B.
        History<Weight>& after = tails.emplace(P, Tmax, keepTails);
        if (windows)
            expected.assign(windows->first.size(), 0.0), expectedOfKind.assign(windows->first.size(), 0.0);
        else
            probabilities.assign(static_cast<size_t>(P), 0.0);
        // The windows holding l are those from the last one beginning at or before l back to the
        // first one ending at or after it (both bounds rise with the window).
        auto top = static_cast<ptrdiff_t>(windows ? windows->first.size() : 0) - 1;
        SlidingSum<Weight> later(after, width, P);
        for (int64_t k = 0; k < P; ++k) {
            if (stop(k)) return "stopped";
            const auto l = static_cast<size_t>(P - 1 - k);
            Weight b = later.upTo(k - Tmin);
            if (last(static_cast<int64_t>(l))) b = b + Weight{1, 0};
            if (!windows) {
                probabilities[l] = share(F[l], b, Z, inverseZ);
            } else {
                const auto at = static_cast<int64_t>(l);
                while (top >= 0 && windows->first[static_cast<size_t>(top)] > at) --top;
                for (ptrdiff_t j = top; j >= 0 && windows->last[static_cast<size_t>(j)] >= at; --j) {
                    const auto slot = static_cast<size_t>(j * windowStride + at - windows->first[static_cast<size_t>(j)]);
                    const double p = share(headsWhole ? F[l] : headsInWindows[slot], b, Z, inverseZ);
                    expected[static_cast<size_t>(j)] += p;
                    if (kindShare) expectedOfKind[static_cast<size_t>(j)] += p * kindShare[slot];
                }
            }
            after[k] = W[static_cast<int64_t>(l)] * b;
        }
        return {};
    }
    // The weight over Z of the chains with no pulse in [a, b] (the tails kept whole).
    double noneIn(int64_t a, int64_t b) const {
        const auto head = [&](int64_t l) { return F[static_cast<size_t>(l)]; };
        const auto tail = [&](int64_t m) { return (*tails)[P - 1 - m]; };
        double none = 0;
        // Chains wholly before the window, and wholly after it.
        for (int64_t l = std::max<int64_t>(0, N - Tmax); l < a; ++l) none += ratio(head(l), Z);
        for (int64_t m = b + 1; m < P && first(m); ++m) none += ratio(tail(m), Z);
        // Chains with neighbours l < a and m > b.
        return none + pairsAround(a, b, Tmin, Tmax, 0, P - 1, head, tail, Z);
    }
};

// posteriorOf, with the positions' weights `given` when a detection took them along (joint
// detection or one shape: one component), else weighed here.
PosteriorResult posteriorWith(const DetectRequest& request, const std::vector<DetectedPulse>& pulses, double temperature,
                              int64_t window, bool perPosition, const std::function<void(double)>& progress,
                              const std::atomic<bool>& cancel, const WeightRow* given) {
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
    // The chains' limits at the recording's ends count the longest of all the shapes, candidates
    // or not, as the detection's do: the posterior weighs the chains the detection chooses among.
    int64_t nMax = 0;
    for (const std::span<const int16_t> x : request.shapes) nMax = std::max<int64_t>(nMax, static_cast<int64_t>(x.size()) / C);
    std::vector<std::span<const int16_t>> shapes;
    for (const int32_t c : request.candidates) shapes.push_back(request.shapes[static_cast<size_t>(c)]);
    const int64_t Tmin = std::min(request.tmin, N), Tmax = std::min(request.tmax, N);
    if (shapes.empty() || nMax > N || window < 0 || window > request.tmax) {
        out.error = "The confidence window must lie from 0 to Tmax samples.";
        return out;
    }
    // The pulses' windows are taken in one sweep up the positions.
    for (size_t j = 1; j < pulses.size(); ++j)
        if (pulses[j].position < pulses[j - 1].position) {
            out.error = "The pulses asked about must be in position order.";
            return out;
        }
    const int64_t P = N - nMax + 1;
    const size_t S = shapes.size();
    const unsigned threads = request.threads > 0 ? static_cast<unsigned>(request.threads)
                                                 : std::max(1u, std::thread::hardware_concurrency());
    try {
        ShapeScores scores;
        scores.prepare(shapes, request.savedEnergy,
                       ShapeScores::Model{request.gainMin, request.gainMax, request.pulseCost}, request.channels);
        // Each pulse's window of positions and its shape among the candidates; in joint detection
        // its shape's share of the weight at each position of the window.
        PulseWindows windows;
        const int64_t widest = 2 * window + 1;
        std::vector<double> kindShare(pulses.size() * static_cast<size_t>(widest));
        for (size_t j = 0; j < pulses.size(); ++j) {
            windows.first.push_back(std::max<int64_t>(0, pulses[j].position - window));
            windows.last.push_back(std::min(P - 1, pulses[j].position + window));
            const auto found = std::find(request.candidates.begin(), request.candidates.end(), pulses[j].shape);
            windows.shape.push_back(static_cast<size_t>(found - request.candidates.begin()));
        }
        // A window as wide as Tmin may hold several pulses: its chance of some pulse needs the
        // chains with none there.
        bool wide = false;
        for (size_t j = 0; j < pulses.size(); ++j) wide = wide || windows.last[j] - windows.first[j] >= Tmin;
        // Joint detection weighs each pulse over every shape: one set of chains. Recognition
        // weighs the chains of each candidate alone: a mixture of one set per candidate, each by
        // its total weight.
        const bool recognize = request.task == DetectTask::recognize && S > 1;
        const size_t components = recognize ? S : 1;
        std::vector<double> logZ(components), count(components), square(components);
        // Per component: each pulse's probability of some pulse in its window, and its expected
        // number of pulses there; each position's probability.
        std::vector<std::vector<double>> some(components, std::vector<double>(pulses.size())),
                there(components, std::vector<double>(pulses.size()));
        std::vector<std::vector<double>> probabilities(perPosition ? components : 0);
        // Joint detection: each pulse's expected number of pulses of its shape in its window.
        std::vector<double> ofKind(pulses.size());
        WeightRow W;
        for (size_t k = 0; k < components; ++k) {
            std::vector<int> rows;
            for (size_t e = 0; e < S; ++e)
                if (!recognize || e == k) rows.push_back(static_cast<int>(e));
            const double base = 0.8 * static_cast<double>(k) / static_cast<double>(components),
                         span = 0.4 / static_cast<double>(components);
            const ChannelSamples y(request.signal.data(), N);
            const std::string weighed = given ? std::string{}
                                              : positionWeights(
                                                        scores, y, P, rows, 1.0 / temperature, threads, W,
                                                        [&](double done) {
                                                            if (progress) progress(base + span * done);
                                                        },
                                                        cancel);
            const WeightRow& weights = given ? *given : W;
            if (weighed.empty() && !recognize)
                kindShares(scores, y, rows, 1.0 / temperature, windows, weights, kindShare.data(), widest);
            // The passes look for a stop every 2^16 positions (or layers); each look moves the
            // progress on through the component's second share (two passes over P positions).
            int64_t looks = 0;
            const double perLook = 1.0 / (2.0 * static_cast<double>(P / 0x10000 + 1));
            const auto stop = [&](int64_t i) {
                if ((i & 0xFFFF) != 0) return false;
                if (progress) progress(base + span + span * std::min(1.0, static_cast<double>(++looks) * perLook));
                return cancel.load(std::memory_order_relaxed);
            };
            Layers layers;
            ChainPasses passes;
            if (!perPosition && static_cast<double>(pulses.size()) * static_cast<double>(widest) < static_cast<double>(P)) {
                passes.windows = &windows;
                passes.windowStride = widest;
                passes.kindShare = recognize ? nullptr : kindShare.data();
            }
            const std::string why = !weighed.empty()  ? weighed
                                    : request.count ? layers.build(N, nMax, Tmin, Tmax, *request.count, weights, stop)
                                                    : passes.build(N, nMax, Tmin, Tmax, weights, wide, stop);
            if (why == "stopped") {
                out.completed = false;
                return out;
            }
            if (!why.empty() && (!recognize || !weighed.empty())) {
                out.error = why;
                return out;
            }
            if (!why.empty()) {  // a candidate no chain fits weighs nothing
                logZ[k] = kNone;
                continue;
            }
            logZ[k] = (request.count ? layers.Z : passes.Z).log();
            count[k] = request.count ? static_cast<double>(*request.count) : passes.count;
            square[k] = request.count ? count[k] * count[k]
                                      : passes.deviation * passes.deviation + passes.count * passes.count;
            if (perPosition && request.count) {
                probabilities[k].resize(static_cast<size_t>(P));
                for (int64_t l = 0; l < P; ++l) probabilities[k][static_cast<size_t>(l)] = layers.probability(l);
            } else if (perPosition) {
                probabilities[k] = std::move(passes.probabilities);
            }
            const bool summed = !request.count && passes.windows;
            for (size_t j = 0; j < pulses.size(); ++j) {
                const int64_t a = windows.first[j], b = windows.last[j];
                if (summed) {
                    there[k][j] = passes.expected[j];
                    if (!recognize) ofKind[j] = passes.expectedOfKind[j];
                }
                // Down the window, as the backward pass sums it: the same numbers either way.
                for (int64_t l = b; !summed && l >= a; --l) {
                    const double p = perPosition     ? probabilities[k][static_cast<size_t>(l)]
                                     : request.count ? layers.probability(l)
                                                     : passes.probabilities[static_cast<size_t>(l)];
                    there[k][j] += p;
                    if (!recognize) ofKind[j] += p * kindShare[j * static_cast<size_t>(widest) + static_cast<size_t>(l - a)];
                }
                // A window narrower than Tmin holds at most one pulse: the probability of some
                // pulse there is its expected number of pulses, a sum of small terms that keeps
                // its precision where one less the weight of the chains without keeps none.
                some[k][j] = b - a < Tmin ? there[k][j]
                                          : 1.0 - (request.count ? layers.noneIn(a, b, Tmin, Tmax, weights) : passes.noneIn(a, b));
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
        if (perPosition && components == 1) {
            out.posterior = std::move(probabilities[0]);
        } else if (perPosition) {
            out.posterior.assign(static_cast<size_t>(P), 0.0);
            for (size_t k = 0; k < components; ++k)
                if (share[k] > 0)
                    for (int64_t l = 0; l < P; ++l)
                        out.posterior[static_cast<size_t>(l)] += share[k] * probabilities[k][static_cast<size_t>(l)];
        }
        if (progress) progress(0.85);

        // Each pulse: the probability of some pulse in its window; the share of its shape among
        // the pulses there: in recognition the share of its candidate's chains, in joint
        // detection its weight among the shapes at each position.
        for (size_t j = 0; j < pulses.size(); ++j) {
            const size_t shape = windows.shape[j];
            double somePulse = 0, expected = 0;
            for (size_t k = 0; k < components; ++k) {
                somePulse += share[k] * some[k][j];
                expected += share[k] * there[k][j];
            }
            const double ofShape = !recognize ? ofKind[j] : shape < S ? share[shape] * there[shape][j] : 0.0;
            PulseConfidence c;
            c.confidence = std::clamp(somePulse, 0.0, 1.0);
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
}  // namespace

PosteriorResult posteriorOf(const DetectRequest& request, const std::vector<DetectedPulse>& pulses, double temperature,
                            int64_t window, bool perPosition, const std::function<void(double)>& progress,
                            const std::atomic<bool>& cancel) {
    return posteriorWith(request, pulses, temperature, window, perPosition, progress, cancel, nullptr);
}

DetectionAndPosterior detectWithPosterior(const DetectRequest& request, double temperature, int64_t window,
                                          bool perPosition, const std::function<void(double)>& progress,
                                          const std::atomic<bool>& cancel) {
    DetectionAndPosterior out;
    const auto detectionProgress = [&](double done) {
        if (progress) progress(0.6 * done);
    };
    const auto posteriorProgress = [&](double done) {
        if (progress) progress(0.6 + 0.4 * done);
    };
    // A temperature that is no positive number is left to the posterior to refuse; where the
    // detection does not take the weights along, the posterior weighs on its own.
    WeighAlong weigher(1.0 / temperature);
    out.detection = detectInRecording(request, detectionProgress, cancel,
                                      std::isfinite(temperature) && temperature > 0 ? &weigher : nullptr);
    if (!out.detection.completed || !out.detection.error.empty()) return out;
    if (weigher.taken()) {
        if (std::string why = weigher.finish(); !why.empty()) {
            out.posterior.error = std::move(why);
            return out;
        }
    }
    out.posterior = posteriorWith(request, out.detection.pulses, temperature, window, perPosition, posteriorProgress,
                                  cancel, weigher.taken() ? &weigher.weights() : nullptr);
    return out;
}
