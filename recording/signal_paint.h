#pragma once

// Drawing of the recording view's signal area and overview strip. Everything drawn is computed
// by the functions of view_geometry.h; these functions only paint it.

#include <QColor>
#include <QRect>

#include <optional>
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

/// The signal area inside a widget of this size (at least one pixel each way), with room for
/// the posterior lane under it when `lane` is set.
QRect signalAreaOf(int widgetWidth, int widgetHeight, bool lane = false);
/// The posterior lane in a widget of this size: the signal area's columns, under it.
QRect posteriorLaneOf(int widgetWidth, int widgetHeight);

/// What the signal area shows.
struct SignalPicture {
    std::span<const float> samples;        ///< the trace drawn (raw, or less its baseline)
    const SignalSummary* summary = nullptr; ///< of `samples`
    double rate = 1;
    ViewState view;               ///< its width is the area's
    MinMax values;                ///< the value range of the vertical axis
    std::optional<SampleSpan> selection;
    const std::vector<Shape>* shapes = nullptr;   ///< the shapes the pulses refer to
    std::span<const DetectedPulse> pulses;        ///< in order of position, each drawn as gain times its shape
    int highlighted = -1;                         ///< index of the pulse chosen in the table
    PulseLift lift;                               ///< puts the pulses on the trace drawn
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
