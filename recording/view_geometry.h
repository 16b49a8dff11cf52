#pragma once

// The arithmetic of the recording view, free of any toolkit: the multi-resolution summary of a
// long signal, the mapping between samples and pixel columns, zoom and scroll, axis ticks. The
// widgets only draw what these functions compute.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/detect.h"
#include "plot/lanes.h"  // stackedLanes: the lanes of several channels

/// Minimum and maximum of a stretch of samples.
struct MinMax {
    float low = 0;
    float high = 0;
};

/// Minimum and maximum of every aligned block of 2^k samples, k = firstLevel .. (the signal's
/// length), so that the extremes of any stretch come from O(log N) blocks and a few samples at
/// its ends. Keeps a view of the samples (they must outlive the summary) and about one byte of
/// its own per sample.
class SignalSummary {
public:
    /// Blocks of the finest stored level hold 2^firstLevel samples.
    static constexpr int firstLevel = 4;

    SignalSummary() = default;
    explicit SignalSummary(std::span<const float> samples);

    int64_t size() const { return static_cast<int64_t>(samples_.size()); }
    /// Extremes of samples [first, last), cut to the signal; {0, 0} for an empty stretch.
    MinMax range(int64_t first, int64_t last) const;
    /// Extremes of the whole signal.
    MinMax whole() const { return range(0, size()); }

private:
    std::span<const float> samples_;
    std::vector<std::vector<MinMax>> levels_;  // levels_[i]: blocks of 2^(firstLevel + i) samples
};

/// What the signal area shows: `width` pixel columns starting at sample `first` (fractional),
/// `samplesPerPixel` samples per column (below 1 when zoomed in beyond single samples).
struct ViewState {
    int64_t total = 0;  ///< samples in the signal
    int width = 1;      ///< pixel columns of the signal area
    double first = 0;
    double samplesPerPixel = 1;
};

/// The closest zoom: this many pixels per sample.
inline constexpr double maxPixelsPerSample = 32;

/// Samples per pixel that shows the whole signal in the width (zoom to fit).
double fitSamplesPerPixel(int64_t total, int width);
/// The view showing the whole signal.
ViewState fittedView(int64_t total, int width);
/// Keeps the zoom between maxPixelsPerSample and the fitted zoom, and the visible stretch
/// inside the signal (starting at 0 when the whole signal fits).
ViewState clampedView(ViewState view);
/// Zooms in by `factor` (> 1 in, < 1 out) keeping the sample under pixel `anchor` in place.
ViewState zoomedView(const ViewState& view, double factor, double anchor);
/// Moves the view by `pixels` columns (positive: later samples).
ViewState scrolledView(const ViewState& view, double pixels);
/// Puts `sample` at the middle of the view, keeping the zoom.
ViewState centredView(const ViewState& view, double sample);
/// The same zoom and start, for a new width (the start stays; the zoom is clamped).
ViewState resizedView(const ViewState& view, int width);

/// The pixel position (fractional, from the area's left edge) of a sample position.
double sampleToPixel(const ViewState& view, double sample);
/// The sample position (fractional) under a pixel position.
double pixelToSample(const ViewState& view, double pixel);

/// The whole samples that are at least partly visible: [first, last).
struct SampleSpan {
    int64_t first = 0;
    int64_t last = 0;
};
SampleSpan visibleSamples(const ViewState& view);

/// The scroll bar of a view: position = first visible sample, page = visible samples; the
/// maximum is total - page. Samples above 2^31 are beyond what the readers take.
struct ScrollBarState {
    int maximum = 0;
    int page = 1;
    int value = 0;
};
ScrollBarState scrollBarOf(const ViewState& view);
/// The view with its first sample at a scroll bar value.
ViewState viewAtScrollValue(const ViewState& view, int value);

/// The samples a drag from pixel `from` to pixel `to` covers (in either direction), whole
/// samples in [first, last), cut to the signal.
SampleSpan dragToSamples(const ViewState& view, double from, double to);

/// Extremes of each pixel column of a view zoomed out to at least one sample per column: column
/// c covers samples [floor(first + c s), floor(first + (c + 1) s)), at least one. Columns
/// beyond the signal's end are left out (the result may be shorter than the width).
std::vector<MinMax> columnExtremes(const SignalSummary& summary, const ViewState& view);

/// The posterior lane's columns, as rows of a lane `height` pixels high (row 0 at the top:
/// probability 1; height - 1 at the bottom: 0): for each pixel column of `view`, the rows of the
/// least and greatest probability of the positions it covers (as columnExtremes takes them:
/// zoomed in, the position under the column). Probabilities are cut to 0..1 (anything not a
/// number counts as 0); columns beyond the last position are left out.
struct LaneColumn {
    int top = 0;
    int bottom = 0;
};
std::vector<LaneColumn> laneColumns(const SignalSummary& probabilities, const ViewState& view, int height);

/// The found pulse (index into `pulses`, in order of position) whose kept samples (position +
/// cutStart .. position + cutEnd) lie nearest to sample position `sample`, within `slack`
/// samples; nothing when none does.
std::optional<size_t> pulseNear(std::span<const DetectedPulse> pulses, double sample, double slack);

/// Tick values of an axis between `low` and `high`: every multiple of a step of 1, 2 or 5 times
/// a power of ten, chosen so that at most `maxTicks` fit (at least one step). `minStep` keeps
/// steps whole when the axis counts samples (1); 0 for none.
struct AxisTicks {
    double step = 1;
    std::vector<double> values;
};
AxisTicks axisTicks(double low, double high, int maxTicks, double minStep = 0);
/// A tick's label with as many decimals as the step needs ("0.25", "1200", "-3").
std::string tickText(double value, double step);

/// How high the samples of a found pulse are drawn. The detection matches the shapes against the
/// signal less its baseline; drawn over that trace a pulse sample keeps its value, drawn over
/// the raw signal it is lifted by the baseline removed there (raw - corrected), so that a pulse
/// lies on whichever trace is shown.
struct PulseLift {
    std::span<const float> raw;        ///< both empty: no lift
    std::span<const float> corrected;  ///< the same length as `raw`
    /// The level at which shape value `value` is drawn at signal sample `sample`.
    double level(double value, int64_t sample) const {
        if (raw.empty() || sample < 0 || sample >= static_cast<int64_t>(raw.size())) return value;
        return value + (static_cast<double>(raw[static_cast<size_t>(sample)]) - corrected[static_cast<size_t>(sample)]);
    }
};

/// A window size: the preferred one cut to the room the screen leaves, never below the minimum
/// the room allows. `frameWidth` and `frameHeight` are what the window system adds around the
/// client area (borders and title bar).
struct WindowSize {
    int width = 0;
    int height = 0;
};
WindowSize fittedWindowSize(WindowSize preferred, WindowSize minimum, WindowSize available, WindowSize frame);
/// The minimum size cut to the same room.
WindowSize fittedMinimumSize(WindowSize minimum, WindowSize available, WindowSize frame);

/// The width in pixels of a shape's line in a thumbnail whose drawing room is `room` pixels
/// wide: the longest listed shape (`longest` samples) fills the room and the others are drawn
/// to the same scale, so that shapes of their own lengths look their lengths; none is narrower
/// than `least` pixels (or the room, when that is narrower), so that a short shape beside a very
/// long one stays visible.
int thumbnailWidth(int64_t length, int64_t longest, int room, int least = 8);

/// The time of sample `sample` in seconds at `rate`, with as many decimals as tell neighbouring
/// samples apart ("1800" at 1 per second, "0.125" at 1000 per second, at most 9 decimals).
std::string secondsText(int64_t sample, double rate);

/// The rounds of learning typed in the "Learn shapes" prompt: a whole number from 1 to
/// kMostLearnRounds, blanks around it allowed; nothing for any other text.
std::optional<int32_t> learnRoundsOf(const std::string& text);

/// The distances of a learning run for the summary ("Learned in 4 rounds: distance -4.024e+11 →
/// ... → -7.4e+11 (round 4 kept)"): the distance with the given shapes, then after each round
/// (`distances`, at least one), and the round kept. Distances of 10^6 and more in magnitude are
/// shown to 4 figures; of a run of more than 8 rounds only the given shapes' distance and the
/// first and last 3 rounds are shown.
std::string learnedRoundsText(const std::vector<int64_t>& distances, int32_t kept);
