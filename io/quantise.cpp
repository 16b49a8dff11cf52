#include "io/quantise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace {
// The median of a sliding window whose oldest sample always leaves first. `low_` is a max-heap
// of the smaller half (its top is the median of an odd count), `high_` a min-heap of the rest;
// the valid counts differ by 0 or 1. A leaving sample is only counted out; heap entries older
// than the window are dropped when they reach a top, and a heap holding more stale entries
// than valid ones is rebuilt, so its size stays within twice the window.
class WindowMedian {
public:
    explicit WindowMedian(size_t window) : side_(window) {}

    void insert(int64_t index, double value) {
        prune(low_, lowFirst);
        if (low_.empty() || value <= low_.front().value) {
            push(low_, {value, index}, lowFirst);
            sideOf(index) = 0;
            ++lowCount_;
        } else {
            push(high_, {value, index}, highFirst);
            sideOf(index) = 1;
            ++highCount_;
        }
        balance();
    }
    /// Removes the oldest sample of the window, `index`.
    void eraseOldest(int64_t index) {
        (sideOf(index) == 0 ? lowCount_ : highCount_) -= 1;
        expiredBelow_ = index + 1;
        balance();
    }
    double median() {
        prune(low_, lowFirst);
        prune(high_, highFirst);
        const double lower = low_.front().value;
        return lowCount_ > highCount_ ? lower : (lower + high_.front().value) / 2;
    }

private:
    struct Entry {
        double value;
        int64_t index;
    };
    static bool lowFirst(const Entry& a, const Entry& b) { return a.value < b.value; }   // max-heap
    static bool highFirst(const Entry& a, const Entry& b) { return a.value > b.value; }  // min-heap

    uint8_t& sideOf(int64_t index) { return side_[static_cast<size_t>(index) % side_.size()]; }
    template <class Less>
    static void push(std::vector<Entry>& heap, Entry e, Less less) {
        heap.push_back(e);
        std::push_heap(heap.begin(), heap.end(), less);
    }
    template <class Less>
    void prune(std::vector<Entry>& heap, Less less) {
        while (!heap.empty() && heap.front().index < expiredBelow_) {
            std::pop_heap(heap.begin(), heap.end(), less);
            heap.pop_back();
        }
    }
    template <class Less>
    void compact(std::vector<Entry>& heap, int64_t count, Less less) {
        if (static_cast<int64_t>(heap.size()) <= 2 * count + 64) return;
        std::erase_if(heap, [&](const Entry& e) { return e.index < expiredBelow_; });
        std::make_heap(heap.begin(), heap.end(), less);
    }
    // Moves the top of one heap to the other.
    template <class FromLess, class ToLess>
    void move(std::vector<Entry>& from, FromLess fromLess, std::vector<Entry>& to, ToLess toLess, uint8_t toSide) {
        prune(from, fromLess);
        const Entry e = from.front();
        std::pop_heap(from.begin(), from.end(), fromLess);
        from.pop_back();
        push(to, e, toLess);
        sideOf(e.index) = toSide;
    }
    void balance() {
        while (lowCount_ > highCount_ + 1) {
            move(low_, lowFirst, high_, highFirst, 1);
            --lowCount_;
            ++highCount_;
        }
        while (highCount_ > lowCount_) {
            move(high_, highFirst, low_, lowFirst, 0);
            --highCount_;
            ++lowCount_;
        }
        compact(low_, lowCount_, lowFirst);
        compact(high_, highCount_, highFirst);
    }

    std::vector<Entry> low_, high_;
    int64_t lowCount_ = 0, highCount_ = 0;
    int64_t expiredBelow_ = 0;   // every index below this has left the window
    std::vector<uint8_t> side_;  // per window slot: 0 in low_, 1 in high_
};

bool isIntegerIn(double v, double low, double high) { return v == std::floor(v) && v >= low && v <= high; }
}  // namespace

IoStatus checkBaselineWindow(double rate, double seconds) {
    if (!(std::isfinite(seconds) && seconds > 0 && std::isfinite(rate) && rate > 0))
        return IoStatus::failure("the baseline window must be a positive number of seconds");
    const double window = std::round(seconds * rate);
    if (window < 1) return IoStatus::failure("the baseline window is shorter than one sample");
    if (window > 2147483647.0) return IoStatus::failure("the baseline window is too long");
    return {};
}

IoStatus removeBaseline(std::vector<float>& samples, double rate, double seconds, BaselineMethod method) {
    if (IoStatus window = checkBaselineWindow(rate, seconds); !window) return window;
    const double window = std::round(seconds * rate);
    const auto n = static_cast<int64_t>(samples.size());
    const int64_t h = static_cast<int64_t>(window) / 2;
    try {
        // The window's samples as they were, while `samples` is overwritten behind it.
        std::vector<double> original(static_cast<size_t>(std::min<int64_t>(n, 2 * h + 1)));
        const auto ring = [&](int64_t i) -> double& { return original[static_cast<size_t>(i % static_cast<int64_t>(original.size()))]; };
        int64_t added = 0;  // samples 0 .. added-1 have entered the window
        WindowMedian median(original.size());
        double sum = 0;
        for (int64_t i = 0; i < n; ++i) {
            // The sample leaving the window goes first: the one entering takes its ring slot.
            if (const int64_t leaving = i - h - 1; leaving >= 0) {
                if (method == BaselineMethod::median)
                    median.eraseOldest(leaving);
                else
                    sum -= ring(leaving);
            }
            for (; added < n && added <= i + h; ++added) {
                const double v = samples[static_cast<size_t>(added)];
                ring(added) = v;
                if (method == BaselineMethod::median)
                    median.insert(added, v);
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
