#pragma once

#include <cstdint>
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
