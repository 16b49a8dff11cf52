#include "display/layout.h"

#include <gtest/gtest.h>

#include <QImage>

#include "display/paint.h"
#include "platform/qt/image_canvas.h"

namespace {
bool same(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
}  // namespace

TEST(LayoutTest, EtalonGridRowsAndColumns) {
    const struct {
        int size, rows, columns;
    } cases[] = {{1, 1, 2}, {2, 1, 2}, {3, 2, 3}, {6, 2, 3}, {7, 3, 4}, {20, 4, 5}};
    for (const auto& c : cases) {
        const GridShape g = etalonGrid(c.size);
        EXPECT_EQ(g.rows, c.rows) << c.size;
        EXPECT_EQ(g.columns, c.columns) << c.size;
    }
}

TEST(LayoutTest, ButtonsWithAndWithoutTheToggle) {
    LayoutState l;
    const Rect client{0, 0, 1600, 1000};
    layOutWindow(client, 15, 20, true, l);
    EXPECT_TRUE(same(l.rcExitButton, {1446, 958, 1589, 989}));
    EXPECT_TRUE(same(l.rcNextButton, {1446, 916, 1589, 947}));
    EXPECT_TRUE(same(l.rcSelectAllButton, {1446, 874, 1589, 905}));
    EXPECT_TRUE(same(l.rcSelectAllHit, l.rcSelectAllButton));
    EXPECT_TRUE(same(l.rcRestartButton, {1446, 832, 1589, 863}));
    EXPECT_TRUE(same(l.rcButtonColumn, {1446, 790, 1589, 905}));

    // Without the toggle the Restart button moves into its slot; the toggle keeps its old place.
    const Rect toggle = l.rcSelectAllButton;
    layOutWindow(client, 15, 20, false, l);
    EXPECT_TRUE(same(l.rcRestartButton, {1446, 874, 1589, 905}));
    EXPECT_TRUE(same(l.rcButtonColumn, {1446, 832, 1589, 905}));
    EXPECT_TRUE(same(l.rcSelectAllButton, toggle));
}

TEST(LayoutTest, ViewAreaIsTrimmedToWholeCells) {
    LayoutState l;
    layOutWindow({0, 0, 1600, 1000}, 15, 20, true, l);
    // W0 = 1446 - 10 - 10 + 1 = 1427, H0 = 1000 - 10 - 10 + 1 = 981.
    EXPECT_EQ(l.wCellWidth, (1427 - 60) / 5);
    EXPECT_EQ(l.wCellHeight, (981 - 50) / 4);
    EXPECT_EQ(l.rcMain.left, 10);
    EXPECT_EQ(l.rcMain.right, 10 + l.wCellWidth * 5 + 60 - 1);
    EXPECT_EQ(l.rcMain.bottom, 10 + l.wCellHeight * 4 + 50 - 1);
    EXPECT_EQ(l.wPulseWidth, l.wCellWidth - 10);
    ASSERT_EQ(l.rcEtalonCells.size(), 20u);
    EXPECT_TRUE(same(l.rcEtalonCells[0], {20, 20, 20 + l.wCellWidth - 1, 20 + l.wCellHeight - 1}));
    const Rect& seventh = l.rcEtalonCells[6];  // row 1, column 1
    EXPECT_EQ(seventh.left, 20 + l.wCellWidth + 10);
    EXPECT_EQ(seventh.top, 20 + l.wCellHeight + 10);
    EXPECT_EQ(l.rcEtalonCells[19].right, l.rcMain.right - 10);
}

TEST(LayoutTest, OptionBoxesStackBelowEachOther) {
    LayoutState l;
    const Rect client{0, 0, 1600, 1000};
    layOutWindow(client, 15, 20, true, l);
    layOutOptionBoxes(client, true, l);
    EXPECT_TRUE(same(l.rcSeriesLengthBox, {l.rcMain.right + 10, l.rcMain.top, 1590, l.rcMain.top + 90}));
    EXPECT_EQ(l.rcNoiseLevelBox.top, l.rcSeriesLengthBox.bottom + 15);
    EXPECT_EQ(l.rcLostLevelBox.top, l.rcNoiseLevelBox.bottom + 15);
    EXPECT_EQ(l.rcOptionColumn.bottom, l.rcLostLevelBox.bottom);
    layOutOptionBoxes(client, false, l);
    EXPECT_EQ(l.rcOptionColumn.bottom, l.rcNoiseLevelBox.bottom);
}

TEST(OptionBoxTest, MarkIsBlackOnTheCurrentValueGreyOtherwiseAndFirstWhenOutOfRange) {
    QImage image(300, 200, QImage::Format_RGB32);
    const int32_t lh = 16;
    const int32_t values[3] = {200, 600, 1200};
    const Rect box{20, 30, 200, 30 + 6 * lh};
    auto markAt = [&](int markedIndex, int32_t current, int entry) {
        image.fill(Qt::white);
        QImageCanvas canvas(image);
        const std::array<Rect, 3> items = optionBoxItems(box, lh, 3);
        drawOptionBox(canvas, lh, box, " series length: ", 3, values, markedIndex, current);
        const int32_t x = box.left + 10 + lh / 2;
        const int32_t y = items[static_cast<size_t>(entry)].top + lh / 2;
        return canvas.pixel(x, y);
    };
    EXPECT_EQ(markAt(3, 1200, 2), (Color{0, 0, 0}));
    EXPECT_EQ(markAt(3, 600, 2), (Color{163, 163, 163}));
    EXPECT_EQ(markAt(3, 1200, 0), (Color{255, 255, 255}));  // only the marked entry is filled
    EXPECT_EQ(markAt(7, 200, 0), (Color{0, 0, 0}));          // out of range: the first entry
    EXPECT_EQ(markAt(0, 999, 0), (Color{163, 163, 163}));
}
