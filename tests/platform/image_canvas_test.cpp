#include "platform/qt/image_canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <set>

namespace {

using Pixel = std::pair<int, int>;
using Pixels = std::set<Pixel>;
const Color white{255, 255, 255}, black{0, 0, 0}, red{255, 0, 0};

QImage blank(int w = 64, int h = 64) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

Pixels pixelsOf(const QImage& image, Color c) {
    Pixels found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == qRgb(c.r, c.g, c.b)) found.insert({x, y});
    return found;
}

Pixels box(int left, int top, int right, int bottom) {   // right and bottom excluded
    Pixels p;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) p.insert({x, y});
    return p;
}

Pixels line(int x0, int y0, int x1, int y1, Canvas::PenStyle style = Canvas::PenStyle::Solid) {
    QImage image = blank();
    QImageCanvas canvas(image);
    canvas.setPen(black, style);
    canvas.moveTo(x0, y0);
    canvas.lineTo(x1, y1);
    return pixelsOf(image, black);
}

Pixels shapeOf(void (Canvas::*draw)(const Rect&), Rect r, Canvas::PenStyle pen, Color* inside) {
    QImage image = blank(16, 16);
    QImageCanvas canvas(image);
    canvas.setPen(black, pen);
    canvas.setBrush(red, inside ? Canvas::BrushStyle::Solid : Canvas::BrushStyle::None);
    (canvas.*draw)(r);
    return pixelsOf(image, inside ? *inside : black);
}

} // namespace

TEST(QImageCanvasLine, EndPixelExcludedAndCurrentPointMoves) {
    EXPECT_EQ(line(2, 5, 9, 5), box(2, 5, 9, 6));
    EXPECT_EQ(line(4, 4, 4, 1), box(4, 2, 5, 5));
    EXPECT_TRUE(line(5, 5, 5, 5).empty());
    EXPECT_TRUE(line(0, 0, 20, 9, Canvas::PenStyle::None).empty());
    QImage image = blank();
    QImageCanvas canvas(image);
    canvas.moveTo(5, 5);
    canvas.lineTo(5, 5);
    canvas.lineTo(8, 5);
    canvas.lineTo(8, 7);
    EXPECT_EQ(pixelsOf(image, black), (Pixels{{5, 5}, {6, 5}, {7, 5}, {8, 5}, {8, 6}}));
}

TEST(QImageCanvasLine, EveryOctantOnePixelPerStepNearTheTrueLineSameBothWays) {
    const std::vector<Pixel> ends = {{7, 3}, {3, 7}, {-3, 7}, {-7, 3}, {-7, -3}, {-3, -7}, {3, -7},
                                     {7, -3}, {13, 1}, {-1, -13}, {9, 4}, {-9, 4}, {10, 0},
                                     {0, -10}, {6, 6}, {-6, 6}, {20, 7}, {5, -17}};
    for (const auto& [dx, dy] : ends) {
        SCOPED_TRACE(testing::Message() << "towards (" << dx << ", " << dy << ")");
        const int x0 = 32, y0 = 32, x1 = x0 + dx, y1 = y0 + dy;
        Pixels drawn = line(x0, y0, x1, y1);
        const bool xMajor = std::abs(dx) >= std::abs(dy);
        std::set<int> steps;
        for (const auto& [x, y] : drawn) {
            steps.insert(xMajor ? x : y);
            const double exact = xMajor ? y0 + double(dy) * (x - x0) / dx : x0 + double(dx) * (y - y0) / dy;
            EXPECT_LE(std::abs((xMajor ? y : x) - exact), 0.5) << x << "," << y;
        }
        EXPECT_EQ(drawn.size(), size_t(std::max(std::abs(dx), std::abs(dy))));
        EXPECT_EQ(steps.size(), drawn.size());
        EXPECT_TRUE(drawn.count({x0, y0}));
        EXPECT_FALSE(drawn.count({x1, y1}));
        Pixels back = line(x1, y1, x0, y0);
        drawn.insert({x1, y1});
        back.insert({x0, y0});
        EXPECT_EQ(drawn, back);
    }
}

TEST(QImageCanvasLine, HalfwayPixelsGoToTheSmallerCoordinate) {
    EXPECT_EQ(line(0, 0, 4, 2), (Pixels{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
    EXPECT_EQ(line(4, 2, 0, 0), (Pixels{{4, 2}, {3, 1}, {2, 1}, {1, 0}}));
    EXPECT_EQ(line(0, 0, 2, 4), (Pixels{{0, 0}, {0, 1}, {1, 2}, {1, 3}}));
}

TEST(QImageCanvasLine, FarEndPointsStayExact) {
    EXPECT_EQ(line(-1000000000, 10, 1000000000, 10), box(0, 10, 64, 11));
    Pixels diagonal;
    for (int i = 0; i < 64; ++i) diagonal.insert({i, i});
    EXPECT_EQ(line(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), diagonal);
    EXPECT_EQ(line(INT32_MIN, 0, INT32_MAX, 1), box(0, 1, 64, 2));   // y passes 1/2 just left of 0
}

TEST(QImageCanvasLine, DottedPenThreeOnThreeOffRestartingWithEachLine) {
    EXPECT_EQ(line(0, 0, 14, 0, Canvas::PenStyle::Dot),
              (Pixels{{0, 0}, {1, 0}, {2, 0}, {6, 0}, {7, 0}, {8, 0}, {12, 0}, {13, 0}}));
    QImage image = blank();
    QImageCanvas canvas(image);
    canvas.setPen(black, Canvas::PenStyle::Dot);
    canvas.moveTo(0, 0);
    canvas.lineTo(5, 0);
    canvas.lineTo(5, 5);
    EXPECT_EQ(pixelsOf(image, black), (Pixels{{0, 0}, {1, 0}, {2, 0}, {5, 0}, {5, 1}, {5, 2}}));
}

TEST(QImageCanvasRectangle, RightAndBottomEdgesExcluded) {
    Color inside = red;
    Pixels outline = box(2, 3, 8, 7);
    for (const Pixel& p : box(3, 4, 7, 6)) outline.erase(p);
    for (const Rect r : {Rect{2, 3, 8, 7}, Rect{8, 7, 2, 3}}) {
        EXPECT_EQ(shapeOf(&Canvas::rectangle, r, Canvas::PenStyle::Solid, nullptr), outline);
        EXPECT_EQ(shapeOf(&Canvas::rectangle, r, Canvas::PenStyle::Solid, &inside), box(3, 4, 7, 6));
    }
    // Without a pen the fill loses the right column and the bottom row.
    EXPECT_EQ(shapeOf(&Canvas::rectangle, Rect{2, 3, 8, 7}, Canvas::PenStyle::None, &inside), box(2, 3, 7, 6));
    EXPECT_TRUE(shapeOf(&Canvas::rectangle, Rect{4, 4, 4, 9}, Canvas::PenStyle::Solid, nullptr).empty());
    // Clockwise from the top-left, one pattern: top 0..4, right 5..8, bottom 9..12, left 13..15.
    EXPECT_EQ(shapeOf(&Canvas::rectangle, Rect{0, 0, 5, 5}, Canvas::PenStyle::Dot, nullptr),
              (Pixels{{0, 0}, {1, 0}, {2, 0}, {4, 2}, {4, 3}, {4, 4}, {0, 4}, {0, 3}, {0, 2}}));
}

TEST(QImageCanvasRectangle, FillRectAndFarCoordinates) {
    QImage image = blank(16, 16);
    QImageCanvas canvas(image);
    canvas.fillRect(Rect{5, 5, 2, 2}, red);
    EXPECT_TRUE(pixelsOf(image, red).empty());
    canvas.fillRect(Rect{2, 3, 5, 4}, red);
    EXPECT_EQ(pixelsOf(image, red), box(2, 3, 5, 4));
    canvas.setBrush(red);
    canvas.rectangle(Rect{INT32_MIN, 3, 6, INT32_MAX});   // only the top and right edges show
    Pixels edges = box(5, 3, 6, 16);
    edges.merge(box(0, 3, 6, 4));
    EXPECT_EQ(pixelsOf(image, black), edges);
    canvas.ellipse(Rect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX});
    canvas.fillRect(Rect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, white);
    EXPECT_EQ(pixelsOf(image, white).size(), 256u);
}

TEST(QImageCanvasEllipse, SymmetricTouchingEverySideOutlineClosed) {
    for (const Rect r : {Rect{1, 1, 15, 8}, Rect{15, 8, 1, 1}, Rect{2, 0, 9, 16}, Rect{7, 7, 9, 9}}) {
        SCOPED_TRACE(testing::Message() << r.left << "," << r.top << "," << r.right << "," << r.bottom);
        Color inside = red;
        const Pixels fill = shapeOf(&Canvas::ellipse, r, Canvas::PenStyle::Solid, &inside);
        Pixels shape = shapeOf(&Canvas::ellipse, r, Canvas::PenStyle::Solid, nullptr);
        shape.insert(fill.begin(), fill.end());
        const int left = std::min(r.left, r.right), right = std::max(r.left, r.right);
        const int top = std::min(r.top, r.bottom), bottom = std::max(r.top, r.bottom);
        int minX = INT_MAX, maxX = INT_MIN, minY = INT_MAX, maxY = INT_MIN;
        for (const auto& [x, y] : shape) {
            minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
            EXPECT_TRUE(shape.count({left + right - 1 - x, y}) && shape.count({x, top + bottom - 1 - y}));
        }
        EXPECT_EQ((std::vector<int>{minX, maxX, minY, maxY}), (std::vector<int>{left, right - 1, top, bottom - 1}));
        for (const auto& [x, y] : fill)
            for (const Pixel& n : {Pixel{x - 1, y}, Pixel{x + 1, y}, Pixel{x, y - 1}, Pixel{x, y + 1}})
                EXPECT_TRUE(shape.count(n)) << x << "," << y;
    }
    Color inside = red;
    EXPECT_EQ(shapeOf(&Canvas::ellipse, Rect{0, 0, 5, 5}, Canvas::PenStyle::Solid, &inside), box(1, 1, 4, 4));
    EXPECT_EQ(shapeOf(&Canvas::ellipse, Rect{0, 0, 5, 5}, Canvas::PenStyle::Solid, nullptr),
              (Pixels{{1, 0}, {2, 0}, {3, 0}, {0, 1}, {4, 1}, {0, 2}, {4, 2}, {0, 3}, {4, 3}, {1, 4}, {2, 4}, {3, 4}}));
    EXPECT_EQ(shapeOf(&Canvas::ellipse, Rect{0, 0, 6, 6}, Canvas::PenStyle::None, &inside).size(), 21u);
}

TEST(QImageCanvasClip, EveryOperationKeepsToTheClipRegionAndTheImage) {
    QImage image = blank(40, 40);
    QImageCanvas canvas(image);
    const QRegion clip = QRegion(10, 10, 5, 5) + QRegion(20, 20, 5, 5);
    canvas.setClip(clip);
    canvas.setBrush(black);
    canvas.ellipse(Rect{0, 0, 40, 40});
    canvas.drawImage(101, 0, 0);
    canvas.textOut(0, 0, "WWWWWWWW");
    canvas.fillRect(Rect{0, 0, 40, 40}, red);
    canvas.moveTo(0, 12);
    canvas.lineTo(40, 12);
    canvas.setPixel(0, 0, black);
    canvas.setPixel(-1, INT32_MAX, black);
    EXPECT_EQ(pixelsOf(image, red).size() + pixelsOf(image, black).size(), 50u);
    EXPECT_EQ(pixelsOf(image, black), box(10, 12, 15, 13));
    canvas.clearClip();
    canvas.setPixel(0, 0, black);
    EXPECT_EQ(canvas.pixel(0, 0), black);
    EXPECT_EQ(canvas.pixel(40, 0), white);   // outside the image
}

TEST(QImageCanvasText, TopLeftPlacedOverATransparentBackgroundWithoutBlending) {
    QImage image = blank(120, 40);
    image.fill(qRgb(255, 0, 0));
    QImageCanvas canvas(image);
    canvas.setTextColor(black);
    canvas.textOut(5, 7, "HgH");
    const Pixels ink = pixelsOf(image, black);
    ASSERT_FALSE(ink.empty());
    EXPECT_EQ(ink.size() + pixelsOf(image, red).size(), 120u * 40u);
    const TextMetrics m = canvas.metrics();
    int top = INT_MAX;
    for (const auto& [x, y] : ink) {
        top = std::min(top, y);
        EXPECT_TRUE(y >= 7 && y < 7 + m.height && x >= 5 && x < 5 + canvas.textWidth("HgH")) << x << "," << y;
    }
    EXPECT_LE(top, 7 + m.height / 3);   // the capital reaches near the top of the line
    EXPECT_GT(canvas.textWidth("WWWW"), canvas.textWidth("iiii"));   // variable pitch
    EXPECT_GE(m.maxWidth, m.averageWidth);
    EXPECT_GT(m.averageWidth, 0);
    canvas.textOut(0, 0, "\xff\xfe\xc3");   // not UTF-8
    canvas.textOut(INT32_MAX, INT32_MIN, "far");
}

TEST(QImageCanvasImage, ButtonsAre144By32GreyWithADarkFrameAndTheirWord) {
    for (const int id : {101, 102, 103, 108, 109}) {
        SCOPED_TRACE(id);
        QImage image = blank(160, 48);
        QImageCanvas canvas(image);
        canvas.drawImage(id, 3, 4);
        EXPECT_EQ(canvas.pixel(3, 4), black);
        EXPECT_EQ(canvas.pixel(3 + 143, 4 + 31), black);
        EXPECT_EQ(canvas.pixel(3 + 144, 4), white);
        EXPECT_EQ(canvas.pixel(3, 4 + 32), white);
        EXPECT_EQ(canvas.pixel(10, 10), (Color{192, 192, 192}));
        const Pixels ink = pixelsOf(image, black);
        EXPECT_TRUE(std::any_of(ink.begin(), ink.end(), [](const Pixel& p) {
            return p.first >= 20 && p.first < 130 && p.second >= 10 && p.second < 28;
        }));
    }
    QImage image = blank(160, 48);
    QImageCanvas canvas(image);
    for (const int id : {0, 104, 110, -1}) canvas.drawImage(id, 0, 0);
    canvas.drawImage(101, INT32_MIN, INT32_MIN);
    EXPECT_EQ(pixelsOf(image, white).size(), 160u * 48u);
}
