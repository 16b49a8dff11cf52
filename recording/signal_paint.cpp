#include "recording/signal_paint.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

#include "plot/recording_plot.h"

QRect signalAreaOf(int widgetWidth, int widgetHeight, bool lane) {
    const int below = signalAxisBottom + (lane ? posteriorLaneGap + posteriorLaneHeight : 0);
    return QRect(signalAxisLeft, signalMarginTop, std::max(1, widgetWidth - signalAxisLeft - signalMarginRight),
                 std::max(1, widgetHeight - signalMarginTop - below));
}

QRect posteriorLaneOf(int widgetWidth, int widgetHeight) {
    const QRect area = signalAreaOf(widgetWidth, widgetHeight, true);
    return QRect(area.left(), area.bottom() + 1 + posteriorLaneGap, area.width(), posteriorLaneHeight);
}

std::vector<QRect> signalLanesOf(const QRect& area, int channels) {
    std::vector<QRect> rects;
    for (const LaneRows& rows : stackedLanes(area.height(), channels, signalLaneGap))
        rects.emplace_back(area.left(), area.top() + rows.top, area.width(), rows.height);
    return rects;
}

int signalViewMinimumHeight(int channels, int screenHeight) {
    const int wanted = signalMarginTop + signalAxisBottom + posteriorLaneGap + posteriorLaneHeight +
                       stackedHeight(std::max(channels, 1), signalLaneMinimum, signalLaneGap);
    return std::max(160, std::min(wanted, screenHeight / 2));
}

MinMax paddedValues(MinMax extremes) {
    float low = extremes.low, high = extremes.high;
    if (!(high > low)) {
        low -= 1;
        high += 1;
    }
    const float room = (high - low) * 0.05f;
    return {low - room, high + room};
}

QColor shapeColour(int index) {
    return QColor::fromRgb(static_cast<QRgb>(plotShapeColour(index)));
}

namespace {
struct ValueAxis {
    QRect area;
    MinMax values;
    double y(double value) const {
        return area.top() + (values.high - value) * (area.height() - 1) / (values.high - values.low);
    }
};

void drawSignal(QPainter& p, const QRect& area, const ViewState& view, const SignalLane& lane, const ValueAxis& axis) {
    p.setPen(QColor(0x30, 0x30, 0x30));
    if (view.samplesPerPixel >= 1) {
        const std::vector<MinMax> columns = columnExtremes(*lane.summary, view);
        float previousLow = 0, previousHigh = 0;
        for (size_t c = 0; c < columns.size(); ++c) {
            float low = columns[c].low, high = columns[c].high;
            // Join the column to its neighbour so that a steep edge stays one line.
            if (c > 0) {
                low = std::min(low, previousHigh);
                high = std::max(high, previousLow);
            }
            previousLow = columns[c].low;
            previousHigh = columns[c].high;
            const int x = area.left() + static_cast<int>(c);
            p.drawLine(x, static_cast<int>(std::lround(axis.y(high))), x, static_cast<int>(std::lround(axis.y(low))));
        }
        return;
    }
    const SampleSpan span = visibleSamples(view);
    const int64_t first = std::max<int64_t>(span.first - 1, 0);
    const int64_t last = std::min<int64_t>(span.last + 1, view.total);
    QPolygonF line;
    line.reserve(static_cast<qsizetype>(last - first));
    for (int64_t i = first; i < last; ++i)
        line.append(QPointF(area.left() + sampleToPixel(view, static_cast<double>(i)), axis.y(lane.samples[i])));
    p.drawPolyline(line);
    if (1.0 / view.samplesPerPixel >= 6) {
        p.setBrush(QColor(0x30, 0x30, 0x30));
        for (const QPointF& point : line) p.drawEllipse(point, 1.5, 1.5);
        p.setBrush(Qt::NoBrush);
    }
}

// The pulses in lane `channel`: each pulse as gain times that channel of its shape.
void drawPulses(QPainter& p, const QRect& area, const SignalPicture& picture, int channel, const ValueAxis& axis) {
    if (!picture.shapes || picture.pulses.empty()) return;
    const ViewState& view = picture.view;
    const PulseLift& lift = picture.lanes[static_cast<size_t>(channel)].lift;
    const SampleSpan span = visibleSamples(view);
    int64_t longest = 0;
    for (const Shape& shape : *picture.shapes) longest = std::max(longest, shape.length());
    // The samples of the lane's channel of a shape; empty for a shape without that channel.
    auto channelOf = [channel](const Shape& shape) {
        if (channel >= shape.channels) return std::span<const double>();
        const auto n = static_cast<size_t>(shape.length());
        return std::span<const double>(shape.samples).subspan(static_cast<size_t>(channel) * n, n);
    };
    // Pulses are in order of position: start at the first that may reach into the view.
    auto from = std::lower_bound(picture.pulses.begin(), picture.pulses.end(), span.first - longest,
                                 [](const DetectedPulse& pulse, int64_t at) { return pulse.position < at; });
    const int shapeCount = static_cast<int>(picture.shapes->size());
    if (longest < 3 * view.samplesPerPixel) {
        // A pulse narrower than three columns is, at this zoom, the extremes of its kept samples in
        // its columns: gather them per column and shape, then draw each column once per shape,
        // so that a repaint costs the same however many pulses are in view.
        std::vector<MinMax> extremes(static_cast<size_t>(view.width) * shapeCount);
        std::vector<char> used(extremes.size(), 0);
        // The most sure pulse of a column sets its opacity.
        std::vector<float> opacity(extremes.size(), 0);
        for (auto it = from; it != picture.pulses.end() && it->position < span.last; ++it) {
            if (it->shape < 0 || it->shape >= shapeCount) continue;
            const std::span<const double> samples = channelOf((*picture.shapes)[it->shape]);
            const int cutEnd = std::min<int>(it->cutEnd, static_cast<int>(samples.size()) - 1);
            for (int j = std::max(it->cutStart, 0); j <= cutEnd; ++j) {
                const int64_t column =
                    static_cast<int64_t>(std::floor(sampleToPixel(view, static_cast<double>(it->position + j))));
                if (column < 0 || column >= view.width) continue;
                const size_t cell = static_cast<size_t>(column) * shapeCount + it->shape;
                const float value = static_cast<float>(lift.level(it->gain * samples[j], it->position + j));
                if (!used[cell]) extremes[cell] = {value, value};
                extremes[cell] = {std::min(extremes[cell].low, value), std::max(extremes[cell].high, value)};
                used[cell] = 1;
                opacity[cell] = std::max(opacity[cell], static_cast<float>(plotPulseOpacity(it->confidence)));
            }
        }
        for (int shape = 0; shape < shapeCount; ++shape) {
            QColor colour = shapeColour(shape);
            for (int column = 0; column < view.width; ++column) {
                const size_t cell = static_cast<size_t>(column) * shapeCount + shape;
                if (!used[cell]) continue;
                colour.setAlphaF(opacity[cell]);
                p.setPen(QPen(colour, 2));
                const int x = area.left() + column;
                p.drawLine(x, static_cast<int>(std::lround(axis.y(extremes[cell].high))), x,
                           static_cast<int>(std::lround(axis.y(extremes[cell].low))));
            }
        }
        if (picture.highlighted >= 0 && picture.highlighted < static_cast<int>(picture.pulses.size())) {
            const DetectedPulse& chosen = picture.pulses[picture.highlighted];
            const double x = area.left() + sampleToPixel(view, static_cast<double>(chosen.position + chosen.cutStart));
            p.setPen(QPen(shapeColour(chosen.shape), 3));
            p.drawLine(QPointF(x, area.top()), QPointF(x, area.top() + 12));
        }
        return;
    }
    for (auto it = from; it != picture.pulses.end() && it->position < span.last; ++it) {
        if (it->shape < 0 || it->shape >= shapeCount) continue;
        const std::span<const double> shape = channelOf((*picture.shapes)[it->shape]);
        if (shape.empty()) continue;
        const int index = static_cast<int>(it - picture.pulses.begin());
        QColor colour = shapeColour(it->shape);
        colour.setAlphaF(static_cast<float>(plotPulseOpacity(it->confidence)));
        QPen pen(colour);
        pen.setWidth(index == picture.highlighted ? 3 : 2);
        p.setPen(pen);
        QPolygonF line;
        const int cutEnd = std::min<int>(it->cutEnd, static_cast<int>(shape.size()) - 1);
        for (int j = std::max(it->cutStart, 0); j <= cutEnd; ++j)
            line.append(QPointF(area.left() + sampleToPixel(view, static_cast<double>(it->position + j)),
                                axis.y(lift.level(it->gain * shape[j], it->position + j))));
        if (line.size() == 1) line.append(line.front() + QPointF(1, 0));
        p.drawPolyline(line);
        // A mark at the pulse's start along the top edge.
        const double x = area.left() + sampleToPixel(view, static_cast<double>(it->position + it->cutStart));
        p.drawLine(QPointF(x, area.top()), QPointF(x, area.top() + (index == picture.highlighted ? 12 : 6)));
    }
}

// The posterior lane: each column filled from the lane's foot up to its greatest probability,
// the column's least to greatest drawn as a line; "1", the lane's name and "0" on its left.
void drawLane(QPainter& p, const QRect& lane, const SignalPicture& picture) {
    p.fillRect(lane, QColor(0xf6, 0xf6, 0xf6));
    const QColor line = QColor::fromRgb(static_cast<QRgb>(plotPosteriorColour)), fill = line.lighter(180);
    const std::vector<LaneColumn> columns = laneColumns(*picture.posterior, picture.view, lane.height());
    for (size_t c = 0; c < columns.size(); ++c) {
        const int x = lane.left() + static_cast<int>(c);
        p.setPen(fill);
        p.drawLine(x, lane.top() + columns[c].top, x, lane.bottom());
        p.setPen(line);
        p.drawLine(x, lane.top() + columns[c].top, x, lane.top() + columns[c].bottom);
    }
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawRect(lane.adjusted(0, 0, -1, -1));
    p.setPen(Qt::black);
    const QFontMetrics metrics = p.fontMetrics();
    const int rows[] = {lane.top() + metrics.ascent() - 2, lane.center().y() + metrics.ascent() / 2, lane.bottom() + 1};
    const QString labels[] = {QStringLiteral("1"), QStringLiteral("P(start)"), QStringLiteral("0")};
    for (int k = 0; k < 3; ++k)
        p.drawText(QPointF(lane.left() - 6 - metrics.horizontalAdvance(labels[k]), rows[k]), labels[k]);
}

// The time axis under `axisTop`: seconds on the first row, samples on the second.
void drawTimeAxis(QPainter& p, const QRect& area, int widgetRight, const SignalPicture& picture, int axisTop) {
    const ViewState& view = picture.view;
    const QFontMetrics metrics = p.fontMetrics();
    p.setPen(Qt::black);
    const int firstRow = axisTop + 4;
    const int secondRow = firstRow + metrics.height();
    const double startSample = view.first, endSample = view.first + view.samplesPerPixel * view.width;
    const AxisTicks seconds = axisTicks(startSample / picture.rate, endSample / picture.rate, std::max(1, area.width() / 110));
    for (double t : seconds.values) {
        const double x = area.left() + sampleToPixel(view, t * picture.rate);
        p.drawLine(QPointF(x, axisTop + 1), QPointF(x, axisTop + 4));
        const QString text = QString::fromStdString(tickText(t, seconds.step)) + " s";
        // A label that would run past the widget's edge is left out; its tick stays.
        if (x + 2 + metrics.horizontalAdvance(text) <= widgetRight)
            p.drawText(QPointF(x + 2, firstRow + metrics.ascent()), text);
    }
    const AxisTicks samples = axisTicks(startSample, endSample, std::max(1, area.width() / 110), 1);
    p.setPen(QColor(0x50, 0x50, 0x90));
    for (double s : samples.values) {
        const double x = area.left() + sampleToPixel(view, s);
        p.drawLine(QPointF(x, secondRow), QPointF(x, secondRow + 3));
        const QString text = QString::fromStdString(tickText(s, samples.step));
        if (x + 2 + metrics.horizontalAdvance(text) <= widgetRight)
            p.drawText(QPointF(x + 2, secondRow + metrics.ascent()), text);
    }
}

// A lane's frame, its value ticks on the left and its channel's name at its top left. The
// lanes of several channels are lower than a lone signal area: their ticks stand closer.
void drawValueAxis(QPainter& p, const ValueAxis& axis, const std::string& name, int tickSpacing) {
    const QRect& lane = axis.area;
    const QFontMetrics metrics = p.fontMetrics();
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawRect(lane.adjusted(0, 0, -1, -1));
    p.setPen(Qt::black);
    const AxisTicks values = axisTicks(axis.values.low, axis.values.high, std::max(1, lane.height() / tickSpacing));
    for (double v : values.values) {
        const double y = axis.y(v);
        p.drawLine(QPointF(lane.left() - 4, y), QPointF(lane.left() - 1, y));
        const QString text = QString::fromStdString(tickText(v, values.step));
        p.drawText(QPointF(lane.left() - 6 - metrics.horizontalAdvance(text), y + metrics.ascent() / 2.0 - 1), text);
    }
    if (name.empty()) return;
    // Clear of the pulses' start marks along the lane's top edge.
    const QString text = QString::fromStdString(name);
    const QRect box(lane.left() + 1, lane.top() + 14, metrics.horizontalAdvance(text) + 8, metrics.height() + 2);
    if (box.bottom() >= lane.bottom()) return;
    QColor back(Qt::white);
    back.setAlpha(210);
    p.fillRect(box, back);
    p.setPen(QColor(0x20, 0x20, 0x60));
    p.drawText(box.adjusted(4, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
}
}  // namespace

void paintSignalPicture(QPainter& p, const QRect& widget, const SignalPicture& picture) {
    p.fillRect(widget, Qt::white);
    if (picture.lanes.empty() || !picture.lanes[0].summary || picture.lanes[0].summary->size() == 0) return;
    const bool lane = picture.posterior && picture.posterior->size() > 0;
    const QRect area = signalAreaOf(widget.width(), widget.height(), lane).translated(widget.topLeft());
    if (picture.selection && picture.selection->last > picture.selection->first) {
        const double a = sampleToPixel(picture.view, static_cast<double>(picture.selection->first));
        const double b = sampleToPixel(picture.view, static_cast<double>(picture.selection->last));
        const QRectF band(area.left() + std::max(a, -1.0), area.top(),
                          std::max(1.0, std::min(b, area.width() + 1.0) - std::max(a, -1.0)), area.height());
        p.fillRect(band.intersected(QRectF(area)), QColor(0xc8, 0xdc, 0xff));
    }
    const std::vector<QRect> lanes = signalLanesOf(area, static_cast<int>(picture.lanes.size()));
    for (size_t c = 0; c < lanes.size(); ++c) {
        const SignalLane& one = picture.lanes[c];
        if (!one.summary) continue;
        const ValueAxis axis{lanes[c], one.values};
        p.save();
        p.setClipRect(lanes[c]);
        drawSignal(p, lanes[c], picture.view, one, axis);
        drawPulses(p, lanes[c], picture, static_cast<int>(c), axis);
        p.restore();
        drawValueAxis(p, axis, one.name, lanes.size() > 1 ? 30 : 40);
    }
    int axisTop = area.bottom();
    if (lane) {
        const QRect laneRect = posteriorLaneOf(widget.width(), widget.height()).translated(widget.topLeft());
        drawLane(p, laneRect, picture);
        axisTop = laneRect.bottom();
    }
    drawTimeAxis(p, area, widget.right() + 1, picture, axisTop);
}

void paintOverview(QPainter& p, const QRect& rect, const SignalSummary& summary, MinMax values, SampleSpan visible) {
    p.fillRect(rect, QColor(0xf4, 0xf4, 0xf4));
    if (summary.size() == 0 || rect.width() < 1) return;
    const ViewState whole = fittedView(summary.size(), rect.width());
    const ValueAxis axis{rect.adjusted(0, 2, 0, -2), values};
    const double a = sampleToPixel(whole, static_cast<double>(visible.first));
    const double b = sampleToPixel(whole, static_cast<double>(visible.last));
    const QRectF marked(rect.left() + a, rect.top(), std::max(2.0, b - a), rect.height());
    p.fillRect(marked, QColor(0xff, 0xe8, 0xa0));
    p.setPen(QColor(0x60, 0x60, 0x60));
    if (whole.samplesPerPixel >= 1) {
        const std::vector<MinMax> columns = columnExtremes(summary, whole);
        for (size_t c = 0; c < columns.size(); ++c) {
            const int x = rect.left() + static_cast<int>(c);
            p.drawLine(x, static_cast<int>(std::lround(axis.y(columns[c].high))), x,
                       static_cast<int>(std::lround(axis.y(columns[c].low))));
        }
    } else {
        QPolygonF line;
        for (int64_t i = 0; i < summary.size(); ++i) {
            const MinMax v = summary.range(i, i + 1);
            line.append(QPointF(rect.left() + sampleToPixel(whole, static_cast<double>(i)), axis.y(v.high)));
        }
        p.drawPolyline(line);
    }
    p.setPen(QColor(0xc0, 0x80, 0x00));
    p.drawRect(marked.adjusted(0, 0, -1, -1));
}

void paintShapeThumbnail(QPainter& p, const QRect& rect, const Shape& shape, const QColor& colour, int64_t longest) {
    p.fillRect(rect, Qt::white);
    p.setPen(QColor(0xc0, 0xc0, 0xc0));
    p.drawRect(rect.adjusted(0, 0, -1, -1));
    const int64_t length = shape.length();
    if (length <= 0) return;
    const QRect inner = rect.adjusted(2, 2, -2, -2);
    const double n = static_cast<double>(length);
    const int width = thumbnailWidth(length, longest, rect.width() - 5);
    QPen pen(colour);
    pen.setWidth(shape.channels > 1 ? 1 : 2);
    p.setRenderHint(QPainter::Antialiasing, true);
    // Several channels stacked, each to its own scale.
    const std::vector<LaneRows> lanes = stackedLanes(inner.height(), shape.channels, 2);
    for (size_t c = 0; c < lanes.size(); ++c) {
        const auto from = shape.samples.begin() + static_cast<std::ptrdiff_t>(c * static_cast<size_t>(length));
        const auto [low, high] = std::minmax_element(from, from + length);
        const MinMax values = paddedValues({static_cast<float>(*low), static_cast<float>(*high)});
        const ValueAxis axis{QRect(inner.left(), inner.top() + lanes[c].top, inner.width(), lanes[c].height), values};
        QPolygonF line;
        for (int64_t i = 0; i < length; ++i)
            line.append(QPointF(rect.left() + 2 + width * (n > 1 ? i / (n - 1) : 0.5), axis.y(from[i])));
        p.setPen(pen);
        p.drawPolyline(line);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}
