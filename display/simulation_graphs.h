#pragma once

// The computations behind the statistical-simulation graphs: texts, the separation figures of
// the alphabet, normalisers, the value axis and the curves in pixels. drawSimulationGraphs
// (display/views.h) only draws what these return.

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "display/series_view.h"
#include "model/series.h"
#include "platform/shell.h"
#include "simulation/rest_error.h"

namespace simgraph {

/// Title line of a graph kind; empty for a kind without a graph.
const char* graphKindTitle(int32_t kind);

/// The " involves ..." header line: " %d," per pulse count when there are at most three,
/// otherwise the first two and "..., %d " with the last, then " pulses from [min-max],"
/// written over the last character of that.
std::string involvesLine(const int16_t* pulseValues, int32_t P, uint16_t wMinPulses, uint16_t wMaxPulses);

/// The nine header lines, in drawing order (line 7 is empty with fewer than two noise levels:
/// there is no step to show).
std::vector<std::string> headerLines(const RestErrorHeader& errors, const SeriesHeader& series, int16_t wAmplitude,
                                     int32_t kind);

/// "elapsed time H:MM:SS" for a run of `seconds` (a negative span shows as 0).
std::string elapsedTimeText(int64_t seconds);

/// The calendar text of a time stamp in local time, as "Wed Jun  3 09:07:05 2020" (no line
/// break).
std::string calendarText(std::time_t t);

/// The amplitude the glyphs are drawn with: wAmplitude, or when it is 0, 128 doubled while it
/// is below the noise sigma.
int32_t glyphAmplitude(int16_t wAmplitude, int16_t noiseSigma);

/// Energy and cross-correlation figures of the etalons the simulation used.
struct SeparationFigures {
    int32_t etEnergy = 0;   ///< energy of the reference etalon (largest tuple etalon for task 40)
    int32_t minSquare = 0;  ///< smallest squared sample of the first etalon
    int32_t rMin = 0;       ///< most negative cross-correlation, 0 when none is negative
    int32_t rMax = 0;       ///< largest cross-correlation between stored tuples (task 40), else 0
};
SeparationFigures separationFigures(const RestErrorHeader& errors, const SeriesHeader& series,
                                    uint16_t wRequiredCount, const uint16_t* lpRequiredList);
/// "etEnergy=%d, Rmin=%d, Rmax=%d".
std::string separationText(const SeparationFigures& f);

/// `text` broken after its ", " separators into lines of at most `room` pixels as measured by
/// `width` (a piece wider than that gets a line of its own). Always at least one line.
std::vector<std::string> splitToWidth(const std::string& text, int32_t room,
                                      const std::function<int32_t(const std::string&)>& width);

/// Per-column normalisers of the error curves; entries a kind does not use stay 1.
struct Normalizers {
    std::vector<uint32_t> restoreNorm;  ///< kinds 0 and 1: 2 wMaxPulses (etEnergy - rMin)
    std::vector<uint32_t> detectNorm;   ///< kinds 2 and 3: (wTmax - L)^2
};
Normalizers makeNormalizers(int32_t kind, int32_t P, const SeriesHeader& series, const SeparationFigures& f);

/// Top of the value axis in thousandths (Q) for a graph kind; 0 for a kind without a graph.
int32_t upperValue(int32_t kind, const RestErrorHeader& errors, const Normalizers& norms);
/// The span Z of the value axis in thousandths: a round number at least Q, or upperBound
/// thousandths when a fixed bound is set and positive.
int32_t tickUnit(int32_t Q, bool fixedUpperBound, double upperBound);
/// 1000 / Z (integer): a value v (a fraction) lies v pixelScale plotH above the bottom; 0 when
/// Z is not positive.
int32_t pixelScaleOf(int32_t Z);
/// The six value labels from 0 to Z thousandths; three decimals when Z is below 50.
std::array<std::string, 6> valueLabels(int32_t Z);

/// The plot's place and grid.
struct GraphGeometry {
    bool valid = false;  ///< false with fewer than two noise levels or no room for a grid
    int32_t fh = 0, h0 = 0, w0 = 0;
    int32_t gridStep = 0, levelStep = 0;
    int32_t plotW = 0, plotH = 0, plotLeft = 0, plotTop = 0;
};
/// Placed left of the alphabet box of the series view's layout `v`, for V noise levels.
GraphGeometry graphGeometry(const SeriesViewLayout& v, int32_t V);

struct GraphPoint {
    int32_t x = 0, y = 0;
    bool operator==(const GraphPoint&) const = default;
};

/// A curve in pixels, from the plot's bottom-left corner through one point per noise level.
struct Curve {
    std::vector<GraphPoint> points;
    int strokes = 2;       ///< 2: drawn again one pixel lower; 3: also one pixel to the right
    std::string label;     ///< empty: no label; in the graph's letters ("S" is a sigma)
    GraphPoint labelAt;
};

/// The error curves of a kind on a value axis spanning 0 to Z thousandths: a value v (a
/// fraction) lies plotH v 1000 / Z above the bottom, in real arithmetic (where 1000 / Z is an
/// integer this is v pixelScale plotH). Points above the plot are cut at its top edge when the
/// curve is drawn. A column whose normaliser is 0, or a summary that would divide by 0 (no
/// columns, no repeats, a zero normaliser), gives no curve; so does a Z that is not positive.
/// `sh` is the line height of the labels' font.
std::vector<Curve> errorCurves(int32_t kind, const RestErrorHeader& errors, const Normalizers& norms,
                               const GraphGeometry& g, int32_t Z, int32_t sh);

/// Moves the curves' labels (all in one column right of the plot) apart so that consecutive ones
/// are at least `pitch` pixels apart vertically, keeping them between `top` and `bottom` as far
/// as they fit (when they do not, the upper ones go above `top`). Labels already apart keep
/// their places.
void spreadLabels(std::vector<Curve>& curves, int32_t pitch, int32_t top, int32_t bottom);

/// The two theoretical bounds of the recognition error at noise sigma (as a fraction, 0 to
/// 0.5): from the restoring distance 0.5 - 0.5 sqrt(1 - exp(-g / sigma^2)), and from the
/// separating distance 0.5 exp(-g / sigma^2). NaN when sigma is 0 (no value to show there).
double restoringBound(const SeparationFigures& f, uint16_t wMaxPulses, int32_t sigma);
double separatingBound(const SeparationFigures& f, const RestErrorHeader& errors, uint16_t wMinPulses,
                       int32_t sigma);
/// Both bounds as curves (kinds 12 and 13) on the value axis spanning 0 to Z thousandths; empty
/// for other kinds.
std::vector<Curve> boundCurves(int32_t kind, const RestErrorHeader& errors, const SeriesHeader& series,
                               const SeparationFigures& f, const GraphGeometry& g, int32_t Z);

/// The axis labels under the plot: the noise level of every fourth level, then "s" one line
/// higher at the next label position.
struct AxisLabel {
    GraphPoint at;
    std::string text;
};
std::vector<AxisLabel> levelLabels(const RestErrorHeader& errors, const GraphGeometry& g, int32_t lh, int32_t fw,
                                   int32_t sh);
/// The value labels with their positions left of the plot.
std::vector<AxisLabel> valueAxisLabels(int32_t Z, const GraphGeometry& g, int32_t fw, int32_t sh);

}  // namespace simgraph
