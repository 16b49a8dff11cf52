#pragma once

// Drawing of the recording view's signal area and overview strip. Everything drawn is computed
// by the functions of view_geometry.h; these functions only paint it.

#include <QColor>
#include <QRect>

#include <optional>
#include <string>
#include <span>
#include <vector>

#include "io/shapes.h"
#include "recording/recording_detector.h"
#include "recording/view_geometry.h"

class QPainter;

/// Room around the signal area for the axes: values on the left, seconds and samples below.
inline constexpr int signalAxisLeft = 64;
inline constexpr int signalAxisBottom = 40;
inline constexpr int signalMarginTop = 8;
inline constexpr int signalMarginRight = 12;

/// The posterior lane under the signal area: its height and the gap above it.
inline constexpr int posteriorLaneHeight = 40;
inline constexpr int posteriorLaneGap = 6;

/// Lanes of a recording of several channels: the gap between neighbours, and the least height
/// each keeps (the view asks for room for that many).
inline constexpr int signalLaneGap = 10;
inline constexpr int signalLaneMinimum = 60;

/// The signal area inside a widget of this size (at least one pixel each way), with room for
/// the posterior lane under it when `lane` is set. The channels' lanes share it (signalLanesOf).
QRect signalAreaOf(int widgetWidth, int widgetHeight, bool lane = false);
/// The posterior lane in a widget of this size: the signal area's columns, under it.
QRect posteriorLaneOf(int widgetWidth, int widgetHeight);
/// The lanes of `channels` channels in the signal area `area`, top to bottom (stackedLanes).
std::vector<QRect> signalLanesOf(const QRect& area, int channels);
/// The least height of a signal view of `channels` lanes on a screen `screenHeight` pixels high:
/// room for signalLaneMinimum pixels a lane, but never more than half the screen (many lanes are
/// then thinner rather than pushing the rest of the window off it) nor less than 160.
int signalViewMinimumHeight(int channels, int screenHeight);

/// One channel as a lane of the signal area draws it.
struct SignalLane {
    std::span<const float> samples;         ///< the channel's trace (raw, or less its baseline)
    const SignalSummary* summary = nullptr;  ///< of `samples`
    MinMax values;                           ///< the value range of the lane's vertical axis
    std::string name;                        ///< drawn at the lane's top left; empty: none
    PulseLift lift;                          ///< puts the pulses on the trace drawn
};

/// What the signal area shows: one lane per channel over one time axis.
struct SignalPicture {
    std::vector<SignalLane> lanes;  ///< lane c draws channel c of the pulses' shapes
    double rate = 1;
    ViewState view;               ///< its width is the area's
    std::optional<SampleSpan> selection;  ///< drawn across every lane
    const std::vector<Shape>* shapes = nullptr;   ///< the shapes the pulses refer to
    std::span<const DetectedPulse> pulses;        ///< in order of position, each drawn as gain times its shape
    int highlighted = -1;                         ///< index of the pulse chosen in the table
    /// Each position's probability of a pulse start, drawn in a lane under the signal; null: no lane.
    const SignalSummary* posterior = nullptr;
};

/// The value range drawn for a signal: its extremes with a little room, never empty.
MinMax paddedValues(MinMax extremes);

/// The colour of shape `index` in the view (the same as in exported pictures).
QColor shapeColour(int index);

/// Draws the signal area and its axes into `widget` (the whole widget's rectangle).
void paintSignalPicture(QPainter& painter, const QRect& widget, const SignalPicture& picture);

/// Draws the overview strip: the whole signal in `rect`, the visible stretch marked.
void paintOverview(QPainter& painter, const QRect& rect, const SignalSummary& summary, MinMax values,
                   SampleSpan visible);

/// A small picture of a shape (for the shape list), drawn to the scale in which the longest
/// listed shape (`longest` samples) fills the picture (see thumbnailWidth).
void paintShapeThumbnail(QPainter& painter, const QRect& rect, const Shape& shape, const QColor& colour,
                         int64_t longest);
