#pragma once

// The recording view's document and the two widgets that draw it: the signal area and the
// overview strip. What they draw is computed by view_geometry.h and painted by signal_paint.h.

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "io/signal_reader.h"
#include "core/detect_setup.h"
#include "recording/signal_paint.h"
#include "recording/view_geometry.h"

/// Zoom in or out by this factor per step (a wheel notch, `+`, `-`).
inline constexpr double signalZoomStep = 1.5;

/// What the recording view shows: the signal and its summary, the shape list, the selection and
/// the last detection's report. Changed only by the window's actions, never while painting.
struct RecordingDocument {
    std::shared_ptr<const Signal> signal;  ///< shared with a running detection
    std::vector<SignalSummary> summaries;  ///< of each channel of `signal`
    std::vector<MinMax> values;            ///< each channel's value axis range (of the trace drawn)
    std::vector<ListedShape> shapes;
    std::optional<SampleSpan> selection;
    std::optional<DetectReport> report;
    int highlighted = -1;  ///< the pulse chosen in the results table
    /// The signal less its baseline that the last detection saw (its shapes in `report` were
    /// matched against it); null when the detection saw the raw signal.
    std::shared_ptr<const std::vector<float>> corrected;
    std::vector<SignalSummary> correctedSummaries;  ///< of each channel of `corrected`
    /// Each position's probability of a pulse start by the last detection (asked with its
    /// confidence); null when not computed.
    std::shared_ptr<const std::vector<float>> posterior;
    SignalSummary posteriorSummary;  ///< of `posterior`
    bool showRaw = false;            ///< draw the raw signal rather than what the detection saw

    /// The trace drawn: what the last detection saw, unless the raw signal is asked for.
    bool drawsCorrected() const { return corrected && !showRaw; }
    /// Samples per channel (0 without a signal) and the channels.
    int64_t length() const { return signal ? signal->length() : 0; }
    int channels() const { return signal ? signal->channels : 0; }
    /// The trace drawn, every channel one after the other as in `signal`, and channel c of it.
    std::span<const float> shownSamples() const;
    std::span<const float> shownChannel(int c) const;
    const std::vector<SignalSummary>& shownSummaries() const { return drawsCorrected() ? correctedSummaries : summaries; }
    /// Puts the found pulses on the trace drawn, in channel c.
    PulseLift pulseLift(int c) const;
    /// Sets each channel's value range to the trace drawn.
    void refreshValues();
};

/// The signal area: a lane per channel, one over the other on a common time axis, each with
/// min/max columns or single samples, its value axis and name, the found pulses (a tool tip names
/// the one under the pointer); the selection across every lane, the posterior lane, axes in
/// seconds and samples. Wheel, `+`, `-` zoom; `0` zooms to fit; the arrow keys, a right- or
/// middle-button drag and the scroll bar scroll; a left-button drag selects a stretch.
class SignalView : public QWidget {
public:
    SignalView(const RecordingDocument& document, QWidget* parent = nullptr);

    const ViewState& view() const { return view_; }
    /// What the view draws now: the shown trace, the selection, the found pulses on the trace.
    SignalPicture picture() const;
    void setView(const ViewState& view);
    /// Fits the whole signal (after a new signal was opened).
    void zoomToFit();
    void zoomBy(double factor);
    void centreOn(double sample);

    /// Called whenever the shown range changes.
    std::function<void()> onViewChanged;
    /// Called when a drag has selected a stretch (or cleared the selection).
    std::function<void(std::optional<SampleSpan>)> onSelected;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double areaX(double widgetX) const;

    const RecordingDocument& document_;
    ViewState view_;
    enum class Drag { none, select, pan } drag_ = Drag::none;
    double dragFrom_ = 0;
    std::optional<SampleSpan> dragSpan_;
};

/// The overview strip: the whole recording, the visible stretch marked; a click or drag centres
/// the view there.
class OverviewStrip : public QWidget {
public:
    OverviewStrip(const RecordingDocument& document, const SignalView& view, QWidget* parent = nullptr);
    std::function<void(double sample)> onCentre;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    const RecordingDocument& document_;
    const SignalView& view_;
};

