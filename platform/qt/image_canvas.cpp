#include "platform/qt/image_canvas.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

// The button images are compiled into this static library; a static library's resource
// initialiser is only linked when something refers to it, hence the explicit call.
static void initButtonResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

__extension__ typedef __int128 Wide;

// Text further out than this is not handed to QPainter, whose integer geometry would overflow.
constexpr int64_t painterLimit = int64_t{1} << 24;

uint32_t rgbOf(Color c) {
    return qRgb(c.r, c.g, c.b);
}

QColor qcolorOf(Color c) {
    return QColor(c.r, c.g, c.b);
}

bool dotOn(int64_t index) {
    return (index / QImageCanvas::dotRun) % 2 == 0;
}

// Rounds numerator / (2 * denominator) down; both are non-negative.
int64_t halfSteps(Wide numerator, Wide denominator) {
    return static_cast<int64_t>(numerator / (2 * denominator));
}

const QImage* buttonImage(int resource) {
    static std::mutex mutex;
    static std::map<int, QImage> images;
    static bool initialised = false;
    if (resource != 101 && resource != 102 && resource != 103 && resource != 108 && resource != 109)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    if (!initialised) {
        initButtonResources();
        initialised = true;
    }
    auto it = images.find(resource);
    if (it == images.end()) {
        QImage image(QStringLiteral(":/buttons/%1.png").arg(resource));
        if (!image.isNull()) image = image.convertToFormat(QImage::Format_RGB32);
        it = images.emplace(resource, std::move(image)).first;
    }
    return it->second.isNull() ? nullptr : &it->second;
}

} // namespace

QImageCanvas::QImageCanvas(QImage& image) : image_(image) {
    if (!image_.isNull() && image_.format() != QImage::Format_RGB32)
        image_ = image_.convertToFormat(QImage::Format_RGB32);
    if (hasFont()) {
        font_ = QGuiApplication::font();
        font_.setStyleStrategy(QFont::NoAntialias);
    }
    clearClip();
}

void QImageCanvas::setClip(const QRegion& region) {
    clipRegion_ = region.intersected(image_.rect());
    clipped_ = true;
    areas_.assign(clipRegion_.begin(), clipRegion_.end());
}

void QImageCanvas::clearClip() {
    clipRegion_ = QRegion();
    clipped_ = false;
    areas_.clear();
    if (!image_.isNull()) areas_.push_back(image_.rect());
}

void QImageCanvas::setPen(Color color, PenStyle style) {
    pen_ = color;
    penStyle_ = style;
}

void QImageCanvas::setBrush(Color color, BrushStyle style) {
    brush_ = color;
    brushStyle_ = style;
}

void QImageCanvas::moveTo(int32_t x, int32_t y) {
    currentX_ = x;
    currentY_ = y;
}

void QImageCanvas::lineTo(int32_t x, int32_t y) {
    const int64_t x0 = currentX_, y0 = currentY_;
    currentX_ = x;
    currentY_ = y;
    if (penStyle_ != PenStyle::None) plotLine(x0, y0, x, y);
}

bool QImageCanvas::inside(int64_t x, int64_t y) const {
    for (const QRect& area : areas_)
        if (x >= area.left() && x <= area.right() && y >= area.top() && y <= area.bottom())
            return true;
    return false;
}

void QImageCanvas::plot(int64_t x, int64_t y, uint32_t rgb) {
    if (!inside(x, y)) return;
    reinterpret_cast<QRgb*>(image_.scanLine(static_cast<int>(y)))[x] = rgb;
}

void QImageCanvas::plotPenPixel(int64_t x, int64_t y, int64_t patternIndex) {
    if (penStyle_ == PenStyle::None) return;
    if (penStyle_ == PenStyle::Dot && !dotOn(patternIndex)) return;
    plot(x, y, rgbOf(pen_));
}

void QImageCanvas::plotLine(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    const int64_t dx = x1 >= x0 ? x1 - x0 : x0 - x1;
    const int64_t dy = y1 >= y0 ? y1 - y0 : y0 - y1;
    const bool xMajor = dx >= dy;
    const int64_t steps = xMajor ? dx : dy;   // pixels painted: the end one is left out
    if (steps == 0) return;
    const int64_t minorDelta = xMajor ? dy : dx;
    const int64_t major0 = xMajor ? x0 : y0;
    const int64_t minor0 = xMajor ? y0 : x0;
    const int majorStep = (xMajor ? x1 >= x0 : y1 >= y0) ? 1 : -1;
    const int minorStep = (xMajor ? y1 >= y0 : x1 >= x0) ? 1 : -1;
    const int64_t limit = xMajor ? image_.width() : image_.height();

    // Only the steps whose major coordinate lies on the image are walked, so that a line of
    // any length costs at most one image side.
    int64_t from = 0, to = steps;
    if (majorStep > 0) {
        from = std::max<int64_t>(from, -major0);
        to = std::min<int64_t>(to, limit - major0);
    } else {
        from = std::max<int64_t>(from, major0 - limit + 1);
        to = std::min<int64_t>(to, major0 + 1);
    }
    for (int64_t i = from; i < to; ++i) {
        // The exact minor offset is i * minorDelta / steps; it is rounded to the nearest
        // integer, a tie going towards the smaller coordinate.
        const Wide twice = Wide{2} * i * minorDelta;
        const int64_t offset = minorStep > 0 ? halfSteps(twice + steps - 1, steps)
                                             : halfSteps(twice + steps, steps);
        const int64_t major = major0 + majorStep * i;
        const int64_t minor = minor0 + minorStep * offset;
        if (xMajor)
            plotPenPixel(major, minor, i);
        else
            plotPenPixel(minor, major, i);
    }
}

// Pixels xFrom, xFrom +- 1, ..., xTo (both included) of row y; the first one has pattern index
// patternStart.
void QImageCanvas::plotHorizontal(int64_t xFrom, int64_t xTo, int64_t y, int64_t patternStart) {
    if (y < 0 || y >= image_.height()) return;
    const int step = xTo >= xFrom ? 1 : -1;
    const int64_t count = (xTo - xFrom) * step + 1;
    const int64_t w = image_.width();
    int64_t from = 0, to = count;
    if (step > 0) {
        from = std::max<int64_t>(from, -xFrom);
        to = std::min<int64_t>(to, w - xFrom);
    } else {
        from = std::max<int64_t>(from, xFrom - w + 1);
        to = std::min<int64_t>(to, xFrom + 1);
    }
    for (int64_t i = from; i < to; ++i) plotPenPixel(xFrom + step * i, y, patternStart + i);
}

void QImageCanvas::plotVertical(int64_t x, int64_t yFrom, int64_t yTo, int64_t patternStart) {
    if (x < 0 || x >= image_.width()) return;
    const int step = yTo >= yFrom ? 1 : -1;
    const int64_t count = (yTo - yFrom) * step + 1;
    const int64_t h = image_.height();
    int64_t from = 0, to = count;
    if (step > 0) {
        from = std::max<int64_t>(from, -yFrom);
        to = std::min<int64_t>(to, h - yFrom);
    } else {
        from = std::max<int64_t>(from, yFrom - h + 1);
        to = std::min<int64_t>(to, yFrom + 1);
    }
    for (int64_t i = from; i < to; ++i) plotPenPixel(x, yFrom + step * i, patternStart + i);
}

// Fills left..right-1, top..bottom-1 within the drawing areas.
void QImageCanvas::fill(int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t rgb) {
    if (right <= left || bottom <= top) return;
    for (const QRect& area : areas_) {
        const int64_t l = std::max<int64_t>(left, area.left());
        const int64_t r = std::min<int64_t>(right, int64_t{area.right()} + 1);
        const int64_t t = std::max<int64_t>(top, area.top());
        const int64_t b = std::min<int64_t>(bottom, int64_t{area.bottom()} + 1);
        if (r <= l || b <= t) continue;
        for (int64_t y = t; y < b; ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(static_cast<int>(y)));
            std::fill(line + l, line + r, rgb);
        }
    }
}

void QImageCanvas::setPixel(int32_t x, int32_t y, Color color) {
    plot(x, y, rgbOf(color));
}

Color QImageCanvas::pixel(int32_t x, int32_t y) const {
    if (image_.isNull() || x < 0 || y < 0 || x >= image_.width() || y >= image_.height())
        return Color{255, 255, 255};
    const QRgb rgb = reinterpret_cast<const QRgb*>(image_.constScanLine(y))[x];
    return Color{static_cast<uint8_t>(qRed(rgb)), static_cast<uint8_t>(qGreen(rgb)),
                 static_cast<uint8_t>(qBlue(rgb))};
}

void QImageCanvas::rectangle(const Rect& r) {
    const int64_t left = std::min(r.left, r.right), right = std::max(r.left, r.right);
    const int64_t top = std::min(r.top, r.bottom), bottom = std::max(r.top, r.bottom);
    if (right == left || bottom == top) return;
    if (penStyle_ == PenStyle::None) {
        if (brushStyle_ == BrushStyle::Solid) fill(left, top, right - 1, bottom - 1, rgbOf(brush_));
        return;
    }
    if (brushStyle_ == BrushStyle::Solid) fill(left + 1, top + 1, right - 1, bottom - 1, rgbOf(brush_));
    // The outline clockwise from the top-left corner, one pattern running all the way round.
    const int64_t w = right - left, h = bottom - top;
    plotHorizontal(left, right - 1, top, 0);
    if (h > 1) plotVertical(right - 1, top + 1, bottom - 1, w);
    if (h > 1 && w > 1) plotHorizontal(right - 2, left, bottom - 1, w + h - 1);
    if (h > 2 && w > 1) plotVertical(left, bottom - 2, top + 1, 2 * w + h - 2);
}

void QImageCanvas::fillRect(const Rect& r, Color color) {
    fill(r.left, r.top, r.right, r.bottom, rgbOf(color));
}

void QImageCanvas::ellipse(const Rect& r) {
    int64_t left = std::min(r.left, r.right), right = std::max(r.left, r.right);
    int64_t top = std::min(r.top, r.bottom), bottom = std::max(r.top, r.bottom);
    const bool outline = penStyle_ != PenStyle::None;
    const bool inside = brushStyle_ == BrushStyle::Solid;
    if (!outline) {
        // As with rectangles, no pen takes one pixel off the right and the bottom.
        --right;
        --bottom;
    }
    if (right <= left || bottom <= top || image_.isNull() || (!outline && !inside)) return;

    // Each row spans the ellipse's chord at the point of the row nearest the centre, both ends
    // rounded to the nearest pixel (a tie outwards): the shape is symmetric both ways and
    // touches all four sides of its box. Coordinates are those of pixel centres.
    const long double cx = (left + right - 1) / 2.0L, cy = (top + bottom - 1) / 2.0L;
    const long double a = (right - left - 1) / 2.0L, b = (bottom - top - 1) / 2.0L;
    struct Span {
        int64_t from, to;   // both included; from > to: empty
    };
    auto span = [&](int64_t y) -> Span {
        if (y < top || y >= bottom) return {1, 0};
        long double half = a;
        const long double dy = std::max<long double>(std::fabs(y - cy) - 0.5L, 0);
        if (dy > 0) half = a * std::sqrt(std::max<long double>(1 - (dy / b) * (dy / b), 0));
        return {static_cast<int64_t>(std::ceil(cx - half - 0.5L)),
                static_cast<int64_t>(std::floor(cx + half + 0.5L))};
    };

    const uint32_t brushRgb = rgbOf(brush_);
    const int64_t w = image_.width();
    struct Dot {
        long double angle;
        int64_t x, y;
    };
    std::vector<Dot> dots;   // the outline of a dotted pen, to be ordered round the centre
    const int64_t firstRow = std::max<int64_t>(top, 0);
    const int64_t lastRow = std::min<int64_t>(bottom - 1, image_.height() - 1);
    for (int64_t y = firstRow; y <= lastRow; ++y) {
        const Span row = span(y);
        if (!outline) {
            fill(row.from, y, row.to + 1, y + 1, brushRgb);
            continue;
        }
        // Inner pixels have all four neighbours in the ellipse; the others are the outline.
        const Span above = span(y - 1), below = span(y + 1);
        const int64_t innerFrom = std::max({row.from + 1, above.from, below.from});
        const int64_t innerTo = std::min({row.to - 1, above.to, below.to});
        Span runs[2] = {{row.from, row.to}, {1, 0}};
        if (innerFrom <= innerTo) {
            if (inside) fill(innerFrom, y, innerTo + 1, y + 1, brushRgb);
            runs[0] = {row.from, innerFrom - 1};
            runs[1] = {innerTo + 1, row.to};
        }
        for (const Span& run : runs) {
            const int64_t from = std::max<int64_t>(run.from, 0), to = std::min<int64_t>(run.to, w - 1);
            for (int64_t x = from; x <= to; ++x) {
                if (penStyle_ == PenStyle::Dot)
                    dots.push_back({std::atan2(static_cast<long double>(y - cy), static_cast<long double>(x - cx)), x, y});
                else
                    plot(x, y, rgbOf(pen_));
            }
        }
    }
    if (dots.empty()) return;
    // A dotted outline runs clockwise from three o'clock.
    std::sort(dots.begin(), dots.end(), [](const Dot& p, const Dot& q) {
        auto turn = [](long double angle) { return angle < 0 ? angle + 2 * 3.14159265358979323846L : angle; };
        return turn(p.angle) < turn(q.angle);
    });
    for (size_t i = 0; i < dots.size(); ++i) plotPenPixel(dots[i].x, dots[i].y, static_cast<int64_t>(i));
}

void QImageCanvas::setTextColor(Color color) {
    textColor_ = color;
}

bool QImageCanvas::hasFont() const {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

void QImageCanvas::textOut(int32_t x, int32_t y, const std::string& text) {
    if (text.empty() || image_.isNull() || !hasFont()) return;
    if (x >= image_.width() || y >= image_.height() || x < -painterLimit || y < -painterLimit) return;
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    if (clipped_) painter.setClipRegion(clipRegion_);
    painter.setFont(font_);
    painter.setPen(qcolorOf(textColor_));
    const QFontMetrics fm(font_, &image_);
    painter.drawText(QPoint(x, y + fm.ascent()), QString::fromStdString(text));
}

int32_t QImageCanvas::textWidth(const std::string& text) const {
    if (text.empty() || !hasFont()) return 0;
    return QFontMetrics(font_, &image_).horizontalAdvance(QString::fromStdString(text));
}

TextMetrics QImageCanvas::metrics() const {
    if (!hasFont()) return TextMetrics{};
    const QFontMetrics fm(font_, &image_);
    return TextMetrics{fm.height(), fm.averageCharWidth(), fm.maxWidth()};
}

void QImageCanvas::drawImage(int resource, int32_t x, int32_t y) {
    if (image_.isNull()) return;
    const QImage* button = buttonImage(resource);
    if (!button) return;
    if (x >= image_.width() || y >= image_.height() || int64_t{x} + button->width() <= 0 ||
        int64_t{y} + button->height() <= 0)
        return;
    QPainter painter(&image_);
    if (clipped_) painter.setClipRegion(clipRegion_);
    painter.drawImage(QPoint(x, y), *button);
}

int32_t QImageCanvas::width() const {
    return image_.width();
}

int32_t QImageCanvas::height() const {
    return image_.height();
}
