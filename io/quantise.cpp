#include "io/quantise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

// The median of a sliding window whose oldest sample always leaves first. `low_` is a max-heap
// of the smaller half (its top is the median of an odd count), `high_` a min-heap of the rest;
// the valid counts differ by 0 or 1. A leaving sample is only counted out; heap entries older
// than the window are dropped when they reach a top, and a heap holding more stale entries
// than valid ones is rebuilt, so its size stays within twice the window.
struct RunningBaseline::Median {
public:
    explicit Median(size_t window) : window_(window) {}

    void insert(int64_t index, double value) {
        // The slots grow with the first window's samples, so that a long window over a short
        // signal takes only what the signal fills.
        if (side_.size() < window_) side_.push_back(0);
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
    size_t window_;              // the most samples the window holds
    std::vector<uint8_t> side_;  // per window slot: 0 in low_, 1 in high_
};

namespace {

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

RunningBaseline::RunningBaseline(double rate, double seconds, BaselineMethod method)
    : method_(method), half_(static_cast<int64_t>(std::round(seconds * rate)) / 2) {
    if (method_ == BaselineMethod::median) median_ = std::make_unique<Median>(static_cast<size_t>(2 * half_ + 1));
}

RunningBaseline::~RunningBaseline() = default;

void RunningBaseline::leave(int64_t index) {
    if (index < 0) return;
    if (method_ == BaselineMethod::median)
        median_->eraseOldest(index);
    else
        sum_ -= original_[static_cast<size_t>(index % static_cast<int64_t>(original_.size()))];
}

void RunningBaseline::insert(double value) {
    // The ring grows with the first window, then the sample entering takes the slot of the one
    // that left.
    if (original_.size() < static_cast<size_t>(2 * half_ + 1))
        original_.push_back(value);
    else
        original_[static_cast<size_t>(added_ % static_cast<int64_t>(original_.size()))] = value;
    if (method_ == BaselineMethod::median)
        median_->insert(added_, value);
    else
        sum_ += value;
    ++added_;
}

float RunningBaseline::correct(int64_t i) {
    const int64_t count = std::min(added_ - 1, i + half_) - std::max<int64_t>(0, i - half_) + 1;
    const double base = method_ == BaselineMethod::median ? median_->median() : sum_ / static_cast<double>(count);
    return static_cast<float>(original_[static_cast<size_t>(i % static_cast<int64_t>(original_.size()))] - base);
}

IoStatus removeBaseline(std::vector<float>& samples, double rate, double seconds, BaselineMethod method) {
    if (IoStatus window = checkBaselineWindow(rate, seconds); !window) return window;
    try {
        // In place: a corrected sample is written only once its original is in the window's ring.
        RunningBaseline baseline(rate, seconds, method);
        size_t written = 0;
        const auto put = [&](float v) { samples[written++] = v; };
        for (const float v : samples) baseline.push(v, put);
        baseline.finish(put);
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

CommonScale::CommonScale(int32_t targetPeak) : high_(targetPeak), low_(-static_cast<double>(targetPeak) - 1) {}

void CommonScale::survey(std::span<const float> values) {
    for (const float v : values) {
        integers_ = integers_ && isIntegerIn(v, low_, high_);
        magnitude_ = std::max(magnitude_, static_cast<double>(std::fabs(v)));
    }
}

void CommonScale::survey(std::span<const double> values) {
    for (const double v : values) {
        integers_ = integers_ && isIntegerIn(v, low_, high_);
        magnitude_ = std::max(magnitude_, std::fabs(v));
    }
}

IoStatus CommonScale::fix() {
    if (!std::isfinite(magnitude_)) return IoStatus::failure("the signal or a shape holds a value that is not finite");
    scale_ = integers_ || magnitude_ == 0 ? 1.0 : high_ / magnitude_;
    return {};
}

IoResult<QuantisedRecording> quantise(std::span<const float> signal, const std::vector<Shape>& shapes,
                                      int32_t targetPeak) {
    using Result = IoResult<QuantisedRecording>;
    if (targetPeak < 1 || targetPeak > fullPeak)
        return Result::failure("the quantisation peak must lie in 1.." + std::to_string(fullPeak));
    CommonScale scale(targetPeak);
    scale.survey(signal);
    for (const Shape& s : shapes) scale.survey(s.samples);
    if (IoStatus fixed = scale.fix(); !fixed) return Result::failure(fixed.error);

    QuantisedRecording q;
    q.scale = scale.scale();
    try {
        q.signal.resize(signal.size());
        std::transform(signal.begin(), signal.end(), q.signal.begin(), [&](float v) { return scale(v); });
        if (IoStatus s = quantiseShapes(shapes, scale, q.shapes); !s) return Result::failure(s.error);
    } catch (const std::bad_alloc&) {
        return Result::failure("not enough memory for the quantised signal (2 bytes per sample)");
    }
    q.peak = scale.peak();
    return Result::success(std::move(q));
}

IoStatus quantiseShapes(const std::vector<Shape>& shapes, CommonScale& scale, std::vector<std::vector<int16_t>>& out) {
    out.clear();
    for (const Shape& s : shapes) {
        std::vector<int16_t> samples(s.samples.size());
        std::transform(s.samples.begin(), s.samples.end(), samples.begin(), [&](double v) { return scale(v); });
        if (!s.samples.empty() && std::all_of(samples.begin(), samples.end(), [](int16_t v) { return v == 0; }))
            return IoStatus::failure("shape \"" + s.name + "\" is zero throughout at the common scale " +
                                     std::to_string(scale.scale()) +
                                     " (it is too small beside the signal's largest value)");
        out.push_back(std::move(samples));
    }
    return {};
}
