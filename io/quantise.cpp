#include "io/quantise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <set>

namespace {
// The median of a sliding window: `low` holds the smaller half (its largest is the median of
// an odd count), `high` the rest; |low| - |high| is 0 or 1.
class WindowMedian {
public:
    void insert(double v) {
        if (low_.empty() || v <= *low_.rbegin())
            low_.insert(v);
        else
            high_.insert(v);
        balance();
    }
    void erase(double v) {
        if (auto it = low_.find(v); it != low_.end())
            low_.erase(it);
        else
            high_.erase(high_.find(v));
        balance();
    }
    double median() const {
        const double lower = *low_.rbegin();
        return low_.size() > high_.size() ? lower : (lower + *high_.begin()) / 2;
    }

private:
    void balance() {
        if (low_.size() > high_.size() + 1) {
            high_.insert(*low_.rbegin());
            low_.erase(std::prev(low_.end()));
        } else if (high_.size() > low_.size()) {
            low_.insert(*high_.begin());
            high_.erase(high_.begin());
        }
    }
    std::multiset<double> low_, high_;
};

bool isIntegerIn(double v, double low, double high) { return v == std::floor(v) && v >= low && v <= high; }
}  // namespace

IoStatus removeBaseline(std::vector<float>& samples, double rate, double seconds, BaselineMethod method) {
    if (!(std::isfinite(seconds) && seconds > 0 && std::isfinite(rate) && rate > 0))
        return IoStatus::failure("the baseline window must be a positive number of seconds");
    const double window = std::round(seconds * rate);
    if (window < 1) return IoStatus::failure("the baseline window is shorter than one sample");
    if (window > 2147483647.0) return IoStatus::failure("the baseline window is too long");
    const auto n = static_cast<int64_t>(samples.size());
    const int64_t h = static_cast<int64_t>(window) / 2;
    try {
        // The window's samples as they were, while `samples` is overwritten behind it.
        std::vector<double> original(static_cast<size_t>(std::min<int64_t>(n, 2 * h + 1)));
        const auto ring = [&](int64_t i) -> double& { return original[static_cast<size_t>(i % static_cast<int64_t>(original.size()))]; };
        int64_t added = 0;  // samples 0 .. added-1 have entered the window
        WindowMedian median;
        double sum = 0;
        for (int64_t i = 0; i < n; ++i) {
            // The sample leaving the window goes first: the one entering takes its ring slot.
            if (const int64_t leaving = i - h - 1; leaving >= 0) {
                const double v = ring(leaving);
                if (method == BaselineMethod::median)
                    median.erase(v);
                else
                    sum -= v;
            }
            for (; added < n && added <= i + h; ++added) {
                const double v = samples[static_cast<size_t>(added)];
                ring(added) = v;
                if (method == BaselineMethod::median)
                    median.insert(v);
                else
                    sum += v;
            }
            const int64_t count = std::min(n - 1, i + h) - std::max<int64_t>(0, i - h) + 1;
            const double base = method == BaselineMethod::median ? median.median() : sum / static_cast<double>(count);
            samples[static_cast<size_t>(i)] = static_cast<float>(ring(i) - base);
        }
    } catch (const std::bad_alloc&) {
        return IoStatus::failure("not enough memory for the baseline window");
    }
    return {};
}

int32_t peakFor32BitArithmetic(int L) {
    if (L < 1) return fullPeak;
    const double scores = std::sqrt(2147483647.0 / (3.0 * L));
    const double thresholds = std::sqrt(4294967295.0 / (100.0 * L));
    const auto peak = static_cast<int32_t>(std::floor(std::min(scores, thresholds)));
    return std::clamp<int32_t>(peak, 1, fullPeak);
}

IoResult<QuantisedRecording> quantise(std::span<const float> signal, const std::vector<Shape>& shapes,
                                      int32_t targetPeak) {
    using Result = IoResult<QuantisedRecording>;
    if (targetPeak < 1 || targetPeak > fullPeak)
        return Result::failure("the quantisation peak must lie in 1.." + std::to_string(fullPeak));
    const double high = targetPeak, low = -static_cast<double>(targetPeak) - 1;
    bool integers = true;
    double magnitude = 0;
    for (const float v : signal) {
        integers = integers && isIntegerIn(v, low, high);
        magnitude = std::max(magnitude, static_cast<double>(std::fabs(v)));
    }
    for (const Shape& s : shapes)
        for (const double v : s.samples) {
            integers = integers && isIntegerIn(v, low, high);
            magnitude = std::max(magnitude, std::fabs(v));
        }
    if (!std::isfinite(magnitude)) return Result::failure("the signal or a shape holds a value that is not finite");

    QuantisedRecording q;
    q.scale = integers || magnitude == 0 ? 1.0 : high / magnitude;
    const auto toInteger = [&](double v) {
        const double scaled = integers ? v : std::round(v * q.scale);
        const auto value = static_cast<int32_t>(std::clamp(scaled, low, high));
        q.peak = std::max(q.peak, std::abs(value));
        return static_cast<int16_t>(value);
    };
    try {
        q.signal.resize(signal.size());
        std::transform(signal.begin(), signal.end(), q.signal.begin(), [&](float v) { return toInteger(v); });
        for (const Shape& s : shapes) {
            std::vector<int16_t> samples(s.samples.size());
            std::transform(s.samples.begin(), s.samples.end(), samples.begin(), toInteger);
            if (!s.samples.empty() && std::all_of(samples.begin(), samples.end(), [](int16_t v) { return v == 0; }))
                return Result::failure("shape \"" + s.name + "\" is zero throughout at the common scale " +
                                       std::to_string(q.scale) +
                                       " (it is too small beside the signal's largest value)");
            q.shapes.push_back(std::move(samples));
        }
    } catch (const std::bad_alloc&) {
        return Result::failure("not enough memory for the quantised signal (2 bytes per sample)");
    }
    return Result::success(std::move(q));
}
