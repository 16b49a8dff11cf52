#pragma once

#include <QFont>
#include <QImage>
#include <QRegion>

#include <vector>

#include "platform/canvas.h"

/// The Canvas on a QImage (Format_RGB32). Lines, pixels, rectangles and ellipses are rasterised
/// here, pixel by pixel, so that their pixels are exact and do not depend on the toolkit's
/// rasteriser; text and images go through QPainter with antialiasing off. Every operation keeps
/// to the image and to the clip region, if one is set, and costs at most what the image holds,
/// however far out its coordinates are.
///
/// Lines: from (x0, y0) to (x1, y1) the canvas paints max(|dx|, |dy|) pixels, one per step along
/// the longer axis, the end pixel excluded; the other coordinate is the exact one rounded to the
/// nearest integer, a tie going to the smaller coordinate, so that a line and its reverse share
/// every pixel but their end points. A dotted pen paints runs of three pixels with gaps of
/// three, starting afresh with every line, rectangle or ellipse (an ellipse's runs go clockwise
/// from three o'clock).
///
/// Text uses the application font with antialiasing off; it needs a QGuiApplication (without
/// one, text draws nothing and measures zero).
class QImageCanvas : public Canvas {
public:
    /// Draws on `image`, which must outlive the canvas. An image of another format is converted
    /// to Format_RGB32 in place.
    explicit QImageCanvas(QImage& image);

    /// Restricts drawing to `region` (and the image); clearClip lifts the restriction.
    void setClip(const QRegion& region);
    void clearClip();

    void setPen(Color color, PenStyle style = PenStyle::Solid) override;
    void setBrush(Color color, BrushStyle style = BrushStyle::Solid) override;
    void moveTo(int32_t x, int32_t y) override;
    void lineTo(int32_t x, int32_t y) override;
    void setPixel(int32_t x, int32_t y, Color color) override;
    /// White outside the image.
    Color pixel(int32_t x, int32_t y) const override;
    /// The rectangle is normalised first. Without a pen the brush fills one pixel less to the
    /// right and at the bottom, as if the missing outline still took its place there.
    void rectangle(const Rect& r) override;
    /// Fills left..right-1, top..bottom-1; nothing when right <= left or bottom <= top.
    void fillRect(const Rect& r, Color color) override;
    /// The ellipse inscribed in the normalised rectangle, right and bottom edges excluded,
    /// symmetric both ways and touching all four sides; the pixels of the shape with a
    /// neighbour outside it are the pen's outline, the others the brush's.
    /// Without a pen it loses one pixel to the right and at the bottom, like a rectangle.
    void ellipse(const Rect& r) override;
    void setTextColor(Color color) override;
    void textOut(int32_t x, int32_t y, const std::string& text) override;
    int32_t textWidth(const std::string& text) const override;
    TextMetrics metrics() const override;
    /// Unknown resource ids draw nothing.
    void drawImage(int resource, int32_t x, int32_t y) override;
    int32_t width() const override;
    int32_t height() const override;

    /// The number of pixels in a run and in a gap of the dotted pen.
    static constexpr int dotRun = 3;

private:
    bool inside(int64_t x, int64_t y) const;
    void plot(int64_t x, int64_t y, uint32_t rgb);
    void plotPenPixel(int64_t x, int64_t y, int64_t patternIndex);
    void plotLine(int64_t x0, int64_t y0, int64_t x1, int64_t y1);
    void plotHorizontal(int64_t xFrom, int64_t xTo, int64_t y, int64_t patternStart);
    void plotVertical(int64_t x, int64_t yFrom, int64_t yTo, int64_t patternStart);
    void fill(int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t rgb);
    bool hasFont() const;

    QImage& image_;
    std::vector<QRect> areas_;   // where drawing may go: the clip rectangles within the image
    QRegion clipRegion_;
    bool clipped_ = false;
    Color pen_{0, 0, 0};
    PenStyle penStyle_ = PenStyle::Solid;
    Color brush_{255, 255, 255};
    BrushStyle brushStyle_ = BrushStyle::Solid;
    Color textColor_{0, 0, 0};
    int64_t currentX_ = 0;
    int64_t currentY_ = 0;
    QFont font_;
};
