#include "plot/recording_plot.h"

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QSvgGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <memory>

#include "core/version.h"

#include <unistd.h>

#include "io/file_batch.h"
#include "platform/qt/offscreen_application.h"
#include "io/text_lines.h"
#include "plot/lanes.h"

namespace {

// Writes all of `bytes` to `descriptor` and closes it: "" or the system's reason.
std::string writeAll(int descriptor, const QByteArray& bytes) {
    const char* data = bytes.constData();
    auto left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t wrote = ::write(descriptor, data, left);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            const int code = wrote < 0 ? errno : ENOSPC;
            ::close(descriptor);
            return std::strerror(code);
        }
        data += wrote;
        left -= static_cast<size_t>(wrote);
    }
    if (::close(descriptor) != 0) return std::strerror(errno);
    return "";
}

// 1, 2 or 5 times a power of ten, near `rough`.
double niceStep(double rough) {
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double f = rough / power;
    return (f < 1.5 ? 1 : f < 3.5 ? 2 : f < 7.5 ? 5 : 10) * power;
}

QString tickLabel(double value, double step) {
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(value) < step * 1e-6 ? 0.0 : value);
    return QString::fromLatin1(text);
}

// The posterior lane's height and the gap between it and the plot area; the gap between the
// lanes of several channels.
constexpr int laneHeight = 40, laneGap = 6, channelGap = 12;

struct Frame {
    int left, top, width, height;  // the plot area
    int64_t first, count;          // samples drawn
    double low, high;              // values at the bottom and top
    bool lane = false;             // the posterior lane under the plot area

    int laneTop() const { return top + height + laneGap; }
    // Where the time axis starts: under the lane when there is one.
    int axisTop() const { return lane ? laneTop() + laneHeight : top + height; }

    double x(double sample) const { return left + (sample - static_cast<double>(first)) * width / count; }
    double y(double value) const { return top + (high - value) * (height - 1) / (high - low); }
};

// The frames and the axes: each lane's value ticks on the left, time ticks in seconds under the
// last lane, the time grid through every lane.
void drawAxes(QPainter& p, const std::vector<Frame>& frames, const QFontMetrics& metrics, double rate) {
    const Frame& f = frames.back();
    const int64_t first = f.first, last = f.first + f.count;
    p.setPen(QColor(0xC8, 0xC8, 0xC8));
    for (const Frame& g : frames) {
        const double valueStep = niceStep((g.high - g.low) / std::max(2, g.height / 60));
        for (double v = std::ceil(g.low / valueStep) * valueStep; v <= g.high; v += valueStep) {
            const int y = static_cast<int>(std::lround(g.y(v)));
            p.setPen(QColor(0xE4, 0xE4, 0xE4));
            p.drawLine(g.left, y, g.left + g.width - 1, y);
            p.setPen(Qt::black);
            const QString label = tickLabel(v, valueStep);
            p.drawText(g.left - 6 - metrics.horizontalAdvance(label), y + metrics.ascent() / 2, label);
        }
    }
    const double seconds = static_cast<double>(f.count) / rate;
    const double timeStep = niceStep(seconds / std::max(2, f.width / 110));
    for (double t = std::ceil(static_cast<double>(first) / rate / timeStep) * timeStep;
         t * rate <= static_cast<double>(last); t += timeStep) {
        const int x = static_cast<int>(std::lround(f.x(t * rate)));
        if (x >= f.left + f.width) break;
        p.setPen(QColor(0xE4, 0xE4, 0xE4));
        for (const Frame& g : frames) p.drawLine(x, g.top, x, g.top + g.height - 1);
        p.setPen(Qt::black);
        p.drawLine(x, f.axisTop(), x, f.axisTop() + 4);
        const QString label = tickLabel(t, timeStep);
        p.drawText(x - metrics.horizontalAdvance(label) / 2, f.axisTop() + 6 + metrics.ascent(), label);
    }
    p.setPen(Qt::black);
    const QString axis = QStringLiteral("time, s");
    p.drawText(f.left + f.width - metrics.horizontalAdvance(axis), f.axisTop() + 24 + metrics.ascent(), axis);
    for (const Frame& g : frames) p.drawRect(g.left - 1, g.top - 1, g.width + 1, g.height + 1);
}

// The signal: a line through the samples, or the extremes of each pixel column.
void drawTrace(QPainter& p, const Frame& f, std::span<const float> signal) {
    const int64_t first = f.first, last = f.first + f.count;
    p.setClipRect(f.left, f.top, f.width, f.height);
    p.setPen(QPen(QColor::fromRgb(plotSignalColour), 1));
    if (f.count > f.width) {
        double previous = signal[static_cast<size_t>(first)];
        for (int c = 0; c < f.width; ++c) {
            const int64_t from = first + f.count * c / f.width, to = first + f.count * (c + 1) / f.width;
            double lo = previous, hi = previous;
            for (int64_t i = from; i < to; ++i) {
                lo = std::min(lo, static_cast<double>(signal[static_cast<size_t>(i)]));
                hi = std::max(hi, static_cast<double>(signal[static_cast<size_t>(i)]));
            }
            if (to > from) previous = signal[static_cast<size_t>(to - 1)];
            const int x = f.left + c;
            p.drawLine(QPointF(x + 0.5, f.y(hi)), QPointF(x + 0.5, f.y(lo)));
        }
    } else {
        QPolygonF line;
        for (int64_t i = first; i < last; ++i)
            line << QPointF(f.x(static_cast<double>(i) + 0.5), f.y(signal[static_cast<size_t>(i)]));
        if (line.size() == 1) line << line.front() + QPointF(1, 0);
        p.drawPolyline(line);
    }
}

// The posterior lane: each pixel column filled from the lane's foot up to the greatest
// probability of the positions it covers (zoomed in, of the position under it).
void drawLane(QPainter& p, const Frame& f, const QFontMetrics& metrics, std::span<const double> posterior) {
    const int top = f.laneTop();
    p.setClipping(false);
    p.fillRect(f.left, top, f.width, laneHeight, QColor(0xF6, 0xF6, 0xF6));
    const auto size = static_cast<int64_t>(posterior.size());
    QPolygonF outline;
    outline << QPointF(f.left, top + laneHeight);
    for (int c = 0; c < f.width; ++c) {
        const int64_t from = f.first + f.count * c / f.width;
        const int64_t to = std::min(size, std::max(from + 1, f.first + f.count * (c + 1) / f.width));
        double most = 0;
        for (int64_t i = from; i < to; ++i) most = std::max(most, posterior[static_cast<size_t>(i)]);
        const double y = top + (1 - std::min(most, 1.0)) * (laneHeight - 1);
        outline << QPointF(f.left + c, y) << QPointF(f.left + c + 1, y);
    }
    outline << QPointF(f.left + f.width, top + laneHeight);
    const QColor line = QColor::fromRgb(plotPosteriorColour);
    p.setPen(QPen(line, 1));
    p.setBrush(line.lighter(180));
    p.drawPolygon(outline);
    p.setBrush(Qt::NoBrush);
    p.setPen(Qt::black);
    p.drawRect(f.left - 1, top - 1, f.width + 1, laneHeight + 1);
    // "1" at the top, the lane's name in the middle, "0" at the foot.
    const int rows[] = {top + metrics.ascent(), top + (laneHeight + metrics.ascent()) / 2, top + laneHeight};
    const QString labels[] = {QStringLiteral("1"), QStringLiteral("P(start)"), QStringLiteral("0")};
    for (int k = 0; k < 3; ++k) p.drawText(f.left - 6 - metrics.horizontalAdvance(labels[k]), rows[k], labels[k]);
}

// A lane's name at its top left, on a pale ground so that the trace under it stays legible.
void drawLaneName(QPainter& p, const Frame& f, const QFontMetrics& metrics, const QString& name) {
    p.setClipping(false);
    const QRect box(f.left + 1, f.top + 1, metrics.horizontalAdvance(name) + 8, metrics.height() + 2);
    if (box.bottom() >= f.top + f.height) return;
    p.fillRect(box, QColor(0xFF, 0xFF, 0xFF, 0xD0));
    p.setPen(QColor(0x20, 0x20, 0x60));
    p.drawText(box.left() + 4, box.top() + 1 + metrics.ascent(), name);
}

void paintPlot(QPainter& p, int width, int height, std::span<const float> signal, double rate,
               const std::vector<Shape>& shapes, std::span<const PlotPulse> pulses, int64_t first, int64_t last,
               const RecordingPlotOptions& options) {
    const std::span<const float> lift = options.pulseLift;
    const int channels = options.channels;
    const auto length = static_cast<int64_t>(signal.size()) / channels;
    // The level a pulse's shape sample is drawn at in channel c: times the pulse's gain, lifted
    // onto the trace.
    auto level = [&](const PlotPulse& pulse, int64_t at, int c) {
        const Shape& shape = shapes[static_cast<size_t>(pulse.shape)];
        const double value = pulse.gain * shape.samples[static_cast<size_t>(c * shape.length() + at - pulse.position)];
        return lift.empty() ? value : value + lift[static_cast<size_t>(c * length + at)];
    };
    p.fillRect(0, 0, width, height, Qt::white);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    const QFontMetrics metrics(font);

    Frame whole{};
    whole.left = 72;
    whole.top = 28;
    whole.width = std::max(1, width - whole.left - 16);
    const bool posteriorLane = !options.posterior.empty();
    whole.height = std::max(2, height - whole.top - 44 - (posteriorLane ? laneGap + laneHeight : 0));
    whole.first = first;
    whole.count = last - first;
    // One frame per channel, stacked; one channel keeps the whole area.
    std::vector<Frame> frames;
    for (const LaneRows& rows : stackedLanes(whole.height, channels, channelGap)) {
        Frame f = whole;
        f.top = whole.top + rows.top;
        f.height = std::max(2, rows.height);
        frames.push_back(f);
    }
    frames.back().lane = posteriorLane;

    for (int c = 0; c < channels; ++c) {
        Frame& f = frames[static_cast<size_t>(c)];
        const std::span<const float> trace = signal.subspan(static_cast<size_t>(c * length), static_cast<size_t>(length));
        // Value range: the drawn samples and the drawn pulses.
        double low = trace[static_cast<size_t>(first)], high = low;
        for (int64_t i = first; i < last; ++i) {
            low = std::min(low, static_cast<double>(trace[static_cast<size_t>(i)]));
            high = std::max(high, static_cast<double>(trace[static_cast<size_t>(i)]));
        }
        for (const PlotPulse& pulse : pulses)
            for (int k = pulse.cutStart; k <= pulse.cutEnd; ++k) {
                const int64_t at = pulse.position + k;
                if (at < first || at >= last) continue;
                low = std::min(low, level(pulse, at, c));
                high = std::max(high, level(pulse, at, c));
            }
        if (high - low < 1e-12 * std::max(1.0, std::fabs(high))) {
            low -= 1;
            high += 1;
        }
        const double pad = (high - low) * 0.05;
        f.low = low - pad;
        f.high = high + pad;
    }

    drawAxes(p, frames, metrics, rate);
    for (int c = 0; c < channels; ++c)
        drawTrace(p, frames[static_cast<size_t>(c)],
                  signal.subspan(static_cast<size_t>(c * length), static_cast<size_t>(length)));
    if (posteriorLane) drawLane(p, frames.back(), metrics, options.posterior);

    // The pulses, each as its shape's kept samples times its gain at its place, in every lane.
    struct Label {
        int left, right, row;
    };
    std::vector<Label> labels;
    const Frame& top = frames.front();
    for (const PlotPulse& pulse : pulses) {
        const int64_t from = std::max(first, pulse.position + pulse.cutStart);
        const int64_t to = std::min(last - 1, pulse.position + pulse.cutEnd);
        if (from > to) continue;
        const Shape& shape = shapes[static_cast<size_t>(pulse.shape)];
        const QColor colour = QColor::fromRgb(plotShapeColour(pulse.shape));
        for (int c = 0; c < channels; ++c) {
            const Frame& f = frames[static_cast<size_t>(c)];
            p.setClipRect(f.left, f.top, f.width, f.height);
            QColor stroke = colour;
            stroke.setAlphaF(static_cast<float>(plotPulseOpacity(pulse.confidence)));
            p.setPen(QPen(stroke, 2));
            QPolygonF line;
            for (int64_t i = from; i <= to; ++i) line << QPointF(f.x(static_cast<double>(i) + 0.5), f.y(level(pulse, i, c)));
            if (line.size() == 1) line << line.front() + QPointF(1, 0);
            p.drawPolyline(line);
        }

        // The name above the plot area, in the first of two rows where it covers no other label.
        p.setClipping(false);
        const QString name = QString::fromStdString(shape.name);
        const int left = static_cast<int>(std::lround(top.x(static_cast<double>(from))));
        const int right = left + metrics.horizontalAdvance(name);
        for (int row = 0; row < 2; ++row) {
            const bool free = std::none_of(labels.begin(), labels.end(), [&](const Label& l) {
                return l.row == row && left <= l.right + 3 && right >= l.left - 3;
            });
            if (!free) continue;
            labels.push_back({left, right, row});
            p.setPen(colour);
            p.drawText(left, 2 + metrics.ascent() + row * 12 - (row ? 2 : 0), name);
            break;
        }
    }
    if (channels > 1)
        for (int c = 0; c < channels; ++c)
            drawLaneName(p, frames[static_cast<size_t>(c)], metrics,
                         options.channelNames.empty() ? QString::number(c + 1)
                                                      : QString::fromStdString(options.channelNames[static_cast<size_t>(c)]));
}
}  // namespace

double plotPulseOpacity(double confidence) {
    if (std::isnan(confidence)) return 1;
    return 0.25 + 0.75 * std::clamp(confidence, 0.0, 1.0);
}

uint32_t plotShapeColour(int index) {
    static const uint32_t palette[] = {0xD62728, 0x1F77B4, 0x2CA02C, 0xFF7F0E, 0x9467BD,
                                       0x8C564B, 0xE377C2, 0x17BECF, 0xBCBD22, 0x7F7F7F};
    const uint32_t base = palette[index % 10];
    if (index < 10) return base;
    // The second ten: the same hues, darker.
    const uint32_t r = (base >> 16 & 0xFF) * 3 / 5, g = (base >> 8 & 0xFF) * 3 / 5, b = (base & 0xFF) * 3 / 5;
    return r << 16 | g << 8 | b;
}

IoStatus writeRecordingPlot(const std::string& path, std::span<const float> signal, double rate,
                            const std::vector<Shape>& shapes, std::span<const PlotPulse> pulses,
                            const RecordingPlotOptions& options) {
    FileBatch batch;
    if (IoStatus status = addRecordingPlot(batch, path, signal, rate, shapes, pulses, options); !status) return status;
    return batch.commit();
}

IoStatus addRecordingPlot(FileBatch& batch, const std::string& path, std::span<const float> signal, double rate,
                          const std::vector<Shape>& shapes, std::span<const PlotPulse> pulses,
                          const RecordingPlotOptions& options) {
    const std::string ending = fileEnding(path);
    const bool svg = ending == "svg";
    if (!svg && ending != "png")
        return IoStatus::failure(path + ": a picture's name must end in \".png\" or \".svg\"");
    if (options.width < 200 || options.height < 200 || options.width > 8000 || options.height > 8000)
        return IoStatus::failure(path + ": the picture size must lie between 200x200 and 8000x8000, got " +
                                 std::to_string(options.width) + "x" + std::to_string(options.height));
    if (signal.empty()) return IoStatus::failure(path + ": the signal has no samples to draw");
    if (!(std::isfinite(rate) && rate > 0)) return IoStatus::failure(path + ": the sample rate must be positive");
    const int channels = options.channels;
    if (channels < 1 || channels > maxSignalChannels || signal.size() % static_cast<size_t>(channels) != 0)
        return IoStatus::failure(path + ": " + std::to_string(signal.size()) + " samples do not hold " +
                                 std::to_string(channels) + " channels of one length (1 to " +
                                 std::to_string(maxSignalChannels) + " channels)");
    if (!options.channelNames.empty() && options.channelNames.size() != static_cast<size_t>(channels))
        return IoStatus::failure(path + ": " + std::to_string(options.channelNames.size()) + " channel names for " +
                                 std::to_string(channels) + " channels");
    // Samples per channel.
    const auto n = static_cast<int64_t>(signal.size()) / channels;
    int64_t first = 0, last = n;
    if (options.range) {
        first = options.range->first;
        last = std::min(options.range->last, n);
        if (first < 0 || first >= n || first >= last)
            return IoStatus::failure(path + ": the plot range " + std::to_string(options.range->first) + ":" +
                                     std::to_string(options.range->last) + " lies outside the signal's " +
                                     std::to_string(n) + " samples");
    }
    if (!options.pulseLift.empty() && options.pulseLift.size() != signal.size())
        return IoStatus::failure(path + ": the pulses' lift holds " + std::to_string(options.pulseLift.size()) +
                                 " values for a signal of " + std::to_string(n) + " samples");
    if (options.posterior.size() > static_cast<size_t>(n))
        return IoStatus::failure(path + ": the posterior holds " + std::to_string(options.posterior.size()) +
                                 " values for a signal of " + std::to_string(n) + " samples");
    for (size_t j = 0; j < pulses.size(); ++j) {
        const PlotPulse& pulse = pulses[j];
        const std::string which = path + ": pulse " + std::to_string(j + 1) + " (at " + std::to_string(pulse.position) + ")";
        if (pulse.shape < 0 || static_cast<size_t>(pulse.shape) >= shapes.size())
            return IoStatus::failure(which + " names shape " + std::to_string(pulse.shape) + " of " +
                                     std::to_string(shapes.size()));
        const Shape& shape = shapes[static_cast<size_t>(pulse.shape)];
        if (shape.channels != channels)
            return IoStatus::failure(which + " has a shape of " + std::to_string(shape.channels) + " channel(s) for a signal of " +
                                     std::to_string(channels));
        const auto size = static_cast<int32_t>(shape.length());
        if (pulse.cutStart < 0 || pulse.cutStart > pulse.cutEnd || pulse.cutEnd >= size)
            return IoStatus::failure(which + " keeps samples " + std::to_string(pulse.cutStart) + ".." +
                                     std::to_string(pulse.cutEnd) + " of a shape of " + std::to_string(size));
        if (!std::isfinite(pulse.gain)) return IoStatus::failure(which + " has a gain that is not a finite number");
    }

    ensureOffscreenApplication();
    // The picture is made in memory and then written with the system's own calls, so that a
    // failed write (a full disk, a file size limit) is seen, named, and leaves nothing behind.
    return batch.addWithDescriptor(path, [&](int descriptor) -> std::string {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (svg) {
            QSvgGenerator generator;
            generator.setOutputDevice(&buffer);
            generator.setSize(QSize(options.width, options.height));
            generator.setViewBox(QRect(0, 0, options.width, options.height));
            generator.setTitle(QStringLiteral("Recording"));
            generator.setDescription(QStringLiteral("Made by %1").arg(QString::fromUtf8(pulsebenchSoftware)));
            QPainter painter;
            if (!painter.begin(&generator)) {
                ::close(descriptor);
                return "the SVG painter could not start";
            }
            paintPlot(painter, options.width, options.height, signal, rate, shapes, pulses, first, last, options);
            painter.end();
        } else {
            QImage image(options.width, options.height, QImage::Format_RGB32);
            {
                QPainter painter(&image);
                paintPlot(painter, options.width, options.height, signal, rate, shapes, pulses, first, last, options);
            }
            image.setText(QStringLiteral("Software"), QString::fromUtf8(pulsebenchSoftware));
            if (!image.save(&buffer, "PNG")) {
                ::close(descriptor);
                return "the PNG encoder failed";
            }
        }
        buffer.close();
        return writeAll(descriptor, bytes);
    });
}
