#include "recording/signal_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

// ---- the document ----

std::span<const float> RecordingDocument::shownSamples() const {
    if (drawsCorrected()) return *corrected;
    if (signal) return signal->samples;
    return {};
}

std::span<const float> RecordingDocument::shownChannel(int c) const {
    const auto n = static_cast<size_t>(length());
    return shownSamples().subspan(static_cast<size_t>(c) * n, n);
}

PulseLift RecordingDocument::pulseLift(int c) const {
    if (!corrected || !showRaw || !signal) return {};
    const auto n = static_cast<size_t>(length()), from = static_cast<size_t>(c) * n;
    return PulseLift{signal->channel(c), std::span<const float>(*corrected).subspan(from, n)};
}

void RecordingDocument::refreshValues() {
    values.clear();
    for (const SignalSummary& summary : shownSummaries()) values.push_back(paddedValues(summary.whole()));
}

// ---- signal view ----

SignalView::SignalView(const RecordingDocument& document, QWidget* parent) : QWidget(parent), document_(document) {
    setObjectName(QStringLiteral("signalView"));
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 160);
    setMouseTracking(false);
    view_ = fittedView(0, 1);
}

double SignalView::areaX(double widgetX) const {
    return widgetX - signalAreaOf(width(), height()).left();
}

void SignalView::setView(const ViewState& view) {
    view_ = clampedView(view);
    update();
    if (onViewChanged) onViewChanged();
}

void SignalView::zoomToFit() {
    setView(fittedView(document_.length(), signalAreaOf(width(), height()).width()));
}

void SignalView::zoomBy(double factor) {
    setView(zoomedView(view_, factor, view_.width / 2.0));
}

void SignalView::centreOn(double sample) {
    setView(centredView(view_, sample));
}

SignalPicture SignalView::picture() const {
    SignalPicture picture;
    const std::vector<SignalSummary>& summaries = document_.shownSummaries();
    const int lanes = std::min({document_.channels(), static_cast<int>(summaries.size()),
                                static_cast<int>(document_.values.size())});
    for (int c = 0; c < lanes; ++c) {
        SignalLane lane;
        lane.samples = document_.shownChannel(c);
        lane.summary = &summaries[static_cast<size_t>(c)];
        lane.values = document_.values[static_cast<size_t>(c)];
        // One channel needs no name; several are told apart by theirs.
        if (document_.channels() > 1 && c < static_cast<int>(document_.signal->channelNames.size()))
            lane.name = document_.signal->channelNames[static_cast<size_t>(c)];
        lane.lift = document_.pulseLift(c);
        picture.lanes.push_back(lane);
    }
    if (document_.signal) picture.rate = document_.signal->rate;
    picture.view = view_;
    picture.selection = dragSpan_ ? dragSpan_ : document_.selection;
    if (document_.report) {
        picture.shapes = &document_.report->shapes;
        picture.pulses = document_.report->pulses;
        picture.highlighted = document_.highlighted;
    }
    if (document_.posterior) picture.posterior = &document_.posteriorSummary;
    return picture;
}

bool SignalView::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    // The pulse under the pointer (within three pixels), named with its confidences when computed.
    const auto* help = static_cast<QHelpEvent*>(event);
    const std::optional<DetectReport>& report = document_.report;
    const bool overSignal = signalAreaOf(width(), height(), document_.posterior != nullptr).contains(help->pos());
    const std::optional<size_t> near =
        report && overSignal
            ? pulseNear(report->pulses, pixelToSample(view_, areaX(help->pos().x())), 3 * view_.samplesPerPixel)
            : std::nullopt;
    if (!near) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const DetectedPulse& pulse = report->pulses[*near];
    QString text = tr("%1 at sample %2 (%3 s)\nGain %4")
                       .arg(QString::fromStdString(report->shapes[static_cast<size_t>(pulse.shape)].name))
                       .arg(pulse.position)
                       .arg(QString::fromStdString(secondsText(pulse.position, report->rate)))
                       .arg(pulse.gain, 0, 'g', 4);
    if (!std::isnan(pulse.confidence))
        text += QStringLiteral("\n") + tr("Confidence %1, kind confidence %2")
                                           .arg(pulse.confidence, 0, 'f', 4)
                                           .arg(pulse.kindConfidence, 0, 'f', 4);
    QToolTip::showText(help->globalPos(), text, this);
    return true;
}

void SignalView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintSignalPicture(painter, rect(), picture());
}

void SignalView::resizeEvent(QResizeEvent*) {
    const int width = signalAreaOf(this->width(), height()).width();
    const bool wasFitted = view_.first == 0 && view_.samplesPerPixel >= fitSamplesPerPixel(view_.total, view_.width);
    view_.total = document_.length();
    setView(wasFitted ? fittedView(view_.total, width) : resizedView(view_, width));
}

void SignalView::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) return;
    setView(zoomedView(view_, std::pow(signalZoomStep, steps), areaX(event->position().x())));
    event->accept();
}

void SignalView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoomBy(signalZoomStep); break;
    case Qt::Key_Minus: zoomBy(1 / signalZoomStep); break;
    case Qt::Key_0: zoomToFit(); break;
    case Qt::Key_Left: setView(scrolledView(view_, -view_.width / 10.0)); break;
    case Qt::Key_Right: setView(scrolledView(view_, view_.width / 10.0)); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void SignalView::mousePressEvent(QMouseEvent* event) {
    if (!document_.signal) return;
    setFocus();
    dragFrom_ = areaX(event->position().x());
    if (event->button() == Qt::LeftButton) {
        drag_ = Drag::select;
        dragSpan_ = dragToSamples(view_, dragFrom_, dragFrom_);
        update();
    } else if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        drag_ = Drag::pan;
    }
}

void SignalView::mouseMoveEvent(QMouseEvent* event) {
    const double x = areaX(event->position().x());
    if (drag_ == Drag::select) {
        dragSpan_ = dragToSamples(view_, dragFrom_, std::clamp(x, 0.0, static_cast<double>(view_.width)));
        update();
    } else if (drag_ == Drag::pan) {
        setView(scrolledView(view_, dragFrom_ - x));
        dragFrom_ = x;
    }
}

void SignalView::mouseReleaseEvent(QMouseEvent* event) {
    if (drag_ == Drag::select && event->button() == Qt::LeftButton) {
        const double x = std::clamp(areaX(event->position().x()), 0.0, static_cast<double>(view_.width));
        SampleSpan span = dragToSamples(view_, dragFrom_, x);
        dragSpan_.reset();
        drag_ = Drag::none;
        // A click without a drag clears the selection.
        const std::optional<SampleSpan> selected =
            std::abs(x - dragFrom_) < 2 || span.last <= span.first ? std::nullopt : std::optional<SampleSpan>(span);
        if (onSelected) onSelected(selected);
        update();
    } else if (drag_ == Drag::pan) {
        drag_ = Drag::none;
    }
}

// ---- overview strip ----

OverviewStrip::OverviewStrip(const RecordingDocument& document, const SignalView& view, QWidget* parent)
    : QWidget(parent), document_(document), view_(view) {
    setObjectName(QStringLiteral("overviewStrip"));
    setFixedHeight(56);
}

void OverviewStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect().adjusted(signalAxisLeft, 2, -signalMarginRight, -2);
    painter.fillRect(rect(), palette().window());
    // The first channel stands for the recording.
    if (document_.shownSummaries().empty() || document_.values.empty()) return painter.fillRect(area, QColor(0xf4, 0xf4, 0xf4));
    paintOverview(painter, area, document_.shownSummaries().front(), document_.values.front(), visibleSamples(view_.view()));
}

void OverviewStrip::mousePressEvent(QMouseEvent* event) {
    mouseMoveEvent(event);
}

void OverviewStrip::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || document_.length() == 0 || !onCentre) return;
    const int width = std::max(1, this->width() - signalAxisLeft - signalMarginRight);
    const ViewState whole = fittedView(document_.length(), width);
    onCentre(pixelToSample(whole, event->position().x() - signalAxisLeft));
}
