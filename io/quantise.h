#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "io/io_result.h"
#include "io/shapes.h"

/// How the baseline is estimated.
enum class BaselineMethod {
    median,  ///< running median: robust to the pulses themselves
    mean,    ///< running mean: faster, pulled by large pulses
};

/// The window removeBaseline refuses, checked without touching a sample: a window that is not
/// positive and finite (or a rate that is not), shorter than one sample, or longer than 2^31
/// samples. The same messages as removeBaseline.
IoStatus checkBaselineWindow(double rate, double seconds);

/// Subtracts a running baseline from `samples`: at sample i the median (or mean) of the samples
/// in the centred window i - h .. i + h, cut at the signal's ends, where 2h + 1 is the window
/// of `seconds` at `rate` rounded to the nearest sample and made odd. The median of an even
/// count (at the ends) is the mean of the two middle values. Computed in double precision.
/// Costs O(N log w) for the median (two heaps), O(N) for the mean, and O(w)
/// extra memory. A window that is not positive, not finite, or shorter than one sample is
/// refused, as is a window longer than the signal's 2^31 sample limit.
IoStatus removeBaseline(std::vector<float>& samples, double rate, double seconds,
                        BaselineMethod method = BaselineMethod::median);

/// removeBaseline on a signal that arrives in order, a sample at a time, without holding it:
/// push() takes the next sample, finish() says there are no more, and each hands `out` the
/// corrected samples (as float) whose windows are complete, in order, h samples behind the
/// input. The same arithmetic in the same order as removeBaseline, so both give the same floats.
/// Memory O(w), grown as samples arrive. The window must pass checkBaselineWindow.
class RunningBaseline {
public:
    RunningBaseline(double rate, double seconds, BaselineMethod method = BaselineMethod::median);
    ~RunningBaseline();
    RunningBaseline(const RunningBaseline&) = delete;
    RunningBaseline& operator=(const RunningBaseline&) = delete;

    template <class Out>
    void push(float value, Out&& out) {
        const int64_t i = added_ - half_;  // the sample whose window this one completes, when >= 0
        leave(i - half_ - 1);
        insert(static_cast<double>(value));
        if (i >= 0) out(correct(next_++));
    }
    template <class Out>
    void finish(Out&& out) {
        for (; next_ < added_; ++next_) {
            leave(next_ - half_ - 1);
            out(correct(next_));
        }
    }

private:
    void leave(int64_t index);  // sample `index` leaves the window (none when negative)
    void insert(double value);
    float correct(int64_t index);
    struct Median;

    BaselineMethod method_;
    int64_t half_ = 0;     // h: the window is 2h + 1 samples
    int64_t added_ = 0;    // samples taken so far
    int64_t next_ = 0;     // the next sample to correct
    double sum_ = 0;       // the mean's window sum
    std::vector<double> original_;  // the window's samples as taken, a ring of up to 2h + 1
    std::unique_ptr<Median> median_;
};

/// The largest quantised magnitude: samples are 16-bit.
inline constexpr int32_t fullPeak = 32767;

/// The largest peak P for which the series engine's 32-bit arithmetic stays exact with shapes
/// of L samples: a local score sum x (x - 2y) over L samples stays within 3 L P^2 < 2^31, and
/// an energy threshold E * pct stays within 100 L P^2 < 2^32. (The recordings path sums in 64
/// bits and can use fullPeak: 3 L P^2 < 2^47 for every L up to maxShapeLength.)
int32_t peakFor32BitArithmetic(int L);

/// A signal and its shapes on one integer scale.
struct QuantisedRecording {
    /// quantised = round(value * scale), halves away from zero.
    double scale = 1.0;
    /// The largest magnitude among the quantised samples.
    int32_t peak = 0;
    /// 2 bytes per sample: 10^8 samples take 200 MB.
    std::vector<int16_t> signal;
    std::vector<std::vector<int16_t>> shapes;
};

/// The common integer scale of quantise(), in two steps so that a signal too long to hold can be
/// surveyed block by block and quantised block by block on a second reading: survey() every
/// value of the signal and the shapes (in any order: the survey is whether all are integers in
/// range, and the largest magnitude), fix() the scale, then quantise values with operator().
/// quantise() is these steps on whole arrays, so both ways give the same integers.
class CommonScale {
public:
    CommonScale() : CommonScale(fullPeak) {}
    /// targetPeak in 1..fullPeak (quantise checks it).
    explicit CommonScale(int32_t targetPeak);
    void survey(std::span<const float> values);
    void survey(std::span<const double> values);
    /// Whether two surveys saw the same (a signal read twice must give the same).
    bool sameSurvey(const CommonScale& other) const {
        return integers_ == other.integers_ && magnitude_ == other.magnitude_;
    }
    /// Fixes the scale from the survey; refused when a value was not finite.
    IoStatus fix();
    /// quantised = round(value * scale), halves away from zero, clamped to the range (values
    /// kept as they are when every value surveyed was an integer in range); raises peak().
    int16_t operator()(double value) {
        const double scaled = integers_ ? value : std::round(value * scale_);
        const auto v = static_cast<int32_t>(std::clamp(scaled, low_, high_));
        peak_ = std::max(peak_, std::abs(v));
        return static_cast<int16_t>(v);
    }
    double scale() const { return scale_; }
    int32_t peak() const { return peak_; }

private:
    double high_, low_;
    bool integers_ = true;
    double magnitude_ = 0;
    double scale_ = 1.0;
    int32_t peak_ = 0;
};

/// Puts the signal and the shapes on one common integer scale, so that the matching works on
/// exact integers:
/// - when every value of both is an integer in -(targetPeak + 1) .. targetPeak (with the default,
///   the 16-bit range), the scale is 1 and the values are kept exactly (a series written by the
///   workbench reads back as its own samples);
/// - otherwise the scale is targetPeak / M, M the largest magnitude of all values, so that the
///   largest value becomes +-targetPeak and the full 16-bit resolution is used.
/// Refused, naming the shape: a shape that quantises to zeros throughout (it is too small beside
/// the signal); also a targetPeak outside 1..fullPeak.
IoResult<QuantisedRecording> quantise(std::span<const float> signal, const std::vector<Shape>& shapes,
                                      int32_t targetPeak = fullPeak);

/// The shapes on a fixed common scale, into `out` (one vector a shape). Refused, naming the
/// shape: a shape that quantises to zeros throughout.
IoStatus quantiseShapes(const std::vector<Shape>& shapes, CommonScale& scale, std::vector<std::vector<int16_t>>& out);
