#include "panels/subset_panel.h"

#include <QImage>

#include <gtest/gtest.h>

#include <vector>

#include "core/settings.h"
#include "core/startup_model.h"
#include "display/graph_primitives.h"
#include "display/layout.h"
#include "platform/qt/image_canvas.h"

namespace {

using namespace subset_panel;

bool inside(const Rect& inner, const Rect& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

bool disjoint(const Rect& a, const Rect& b) {
    return a.right < b.left || b.right < a.left || a.bottom < b.top || b.bottom < a.top;
}

Rect centreSpot(const Rect& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2, 0, 0};
}

SubsetPanelGeometryInput input(bool tuple, int32_t maxPulses = 30, Rect rcMain = {10, 10, 1434, 987}) {
    SubsetPanelGeometryInput in;
    in.rcMain = rcMain;
    in.lineHeight = 13;
    in.aveCharWidth = 6;
    in.widestLabel = 60;
    in.offeredCapacity = 20;
    in.maxPulses = maxPulses;
    in.tuple = tuple;
    return in;
}

SubsetPanelState preparedPanel(SubsetPanelMarks& marks) {
    SubsetPanelState panel;
    EXPECT_TRUE(prepareSubsetPanel(panel, marks).ok);
    return panel;
}

std::vector<int32_t> entries(const SubsetPanelState& panel) {
    return {panel.selectedSubset.begin(), panel.selectedSubset.begin() + panel.wSelectedCount};
}

// ---- Geometry ----

TEST(SubsetPanelGeometry, TwentyEtalonsFillTwoRowsOfTenInsideTheGrid) {
    const SubsetPanelLayout g = layOutSubsetPanel(input(false));
    ASSERT_EQ(g.rcOfferedCells.size(), 20u);
    EXPECT_EQ(g.gridRows, 2);
    EXPECT_EQ(g.mx, 1425 / 170);
    EXPECT_EQ(g.my, 978 / 131);
    // Cell 10 starts the second row under cell 0, one margin below it.
    EXPECT_EQ(g.rcOfferedCells[10].left, g.rcOfferedCells[0].left);
    EXPECT_EQ(g.rcOfferedCells[10].top, g.rcOfferedCells[0].bottom + 1 + g.my);
    EXPECT_EQ(g.rcOfferedCells[1].left, g.rcOfferedCells[0].right + 1 + g.mx);
    for (size_t i = 0; i < g.rcOfferedCells.size(); ++i) {
        EXPECT_TRUE(inside(g.rcOfferedCells[i], g.gridArea)) << i;
        for (size_t j = i + 1; j < g.rcOfferedCells.size(); ++j)
            EXPECT_TRUE(disjoint(g.rcOfferedCells[i], g.rcOfferedCells[j])) << i << " " << j;
    }
}

TEST(SubsetPanelGeometry, StripCellsFollowMaxPulsesInThePlainVersionOnly) {
    EXPECT_EQ(layOutSubsetPanel(input(false, 3)).possibleSubsetRect.size(), 3u);
    EXPECT_EQ(layOutSubsetPanel(input(false, 40)).possibleSubsetRect.size(), 10u);
    EXPECT_EQ(layOutSubsetPanel(input(false, 0)).possibleSubsetRect.size(), 0u);
    EXPECT_EQ(layOutSubsetPanel(input(true, 3)).possibleSubsetRect.size(), 10u);

    const SubsetPanelLayout g = layOutSubsetPanel(input(true));
    EXPECT_EQ(g.rcSubsetStrip.top, g.gridArea.bottom + g.my + 13);
    for (const Rect& cell : g.possibleSubsetRect) EXPECT_TRUE(inside(cell, g.rcSubsetStrip));
    EXPECT_EQ(g.possibleSubsetRect[0].top, g.rcSubsetStrip.top + g.my);
}

TEST(SubsetPanelGeometry, ButtonsOfBothVersions) {
    const SubsetPanelLayout plain = layOutSubsetPanel(input(false));
    ASSERT_EQ(plain.wPanelButtons, 4);
    const int32_t width = 60 + 4 * 6, gap = 2 * 6;
    for (int b = 0; b < 4; ++b) {
        const Rect& r = plain.buttons[static_cast<size_t>(b)];
        EXPECT_EQ(r.right - r.left + 1, width);
        EXPECT_EQ(r.bottom - r.top + 1, 2 * 13 - 1);
        EXPECT_EQ(r.top, plain.rcSubsetStrip.bottom + 13 / 2);
        EXPECT_EQ(r.left, plain.rcSubsetStrip.left + b * (width + gap));
    }
    EXPECT_EQ(plain.buttons[Accept].right, 0);

    const SubsetPanelLayout tuple = layOutSubsetPanel(input(true));
    ASSERT_EQ(tuple.wPanelButtons, 6);
    EXPECT_EQ(tuple.buttons[Cancel].left, tuple.rcSubsetStrip.right - 2 * (width + 6));
    EXPECT_LE(tuple.buttons[Ok].right, tuple.rcSubsetStrip.right);
    EXPECT_EQ(tuple.buttons[Accept].left, tuple.buttons[Delete].right + 1 + gap);
    for (int a = 0; a < 6; ++a)
        for (int b = a + 1; b < 6; ++b)
            EXPECT_TRUE(disjoint(tuple.buttons[static_cast<size_t>(a)], tuple.buttons[static_cast<size_t>(b)]))
                << a << " " << b;
}

TEST(SubsetPanelGeometry, TenStoredSubsetsFillTwoColumnsOfFiveBelowTheHeading) {
    const SubsetPanelLayout g = layOutSubsetPanel(input(true));
    ASSERT_EQ(g.storedRows.size(), 10u);
    ASSERT_EQ(g.storedCells.size(), 10u);
    EXPECT_GT(g.storedArea.top, g.headingY + 13);  // below the heading's line
    EXPECT_EQ(g.storedArea.bottom, 987 - g.my);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(g.storedRows[static_cast<size_t>(i)].left, g.storedArea.left);
        EXPECT_EQ(g.storedRows[static_cast<size_t>(i + 5)].top, g.storedRows[static_cast<size_t>(i)].top);
        EXPECT_GT(g.storedRows[static_cast<size_t>(i + 5)].left, g.storedRows[static_cast<size_t>(i)].right);
        if (i > 0) {
            EXPECT_GT(g.storedRows[static_cast<size_t>(i)].top, g.storedRows[static_cast<size_t>(i - 1)].bottom);
        }
    }
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_TRUE(inside(g.storedRows[i], g.storedArea)) << i;
        for (int k = 0; k < kEntries; ++k) {
            EXPECT_TRUE(inside(g.storedCells[i][static_cast<size_t>(k)], g.storedRows[i])) << i << " " << k;
            if (k > 0) {
                EXPECT_TRUE(disjoint(g.storedCells[i][static_cast<size_t>(k - 1)], g.storedCells[i][static_cast<size_t>(k)]));
            }
        }
    }
}

TEST(SubsetPanelGeometry, DegenerateInputGivesEmptyButWellFormedLayout) {
    // Before the first paint rcMain is all zero; without a series there is nothing to offer.
    SubsetPanelGeometryInput in = input(true, 0, Rect{});
    in.offeredCapacity = 0;
    in.lineHeight = 0;
    const SubsetPanelLayout g = layOutSubsetPanel(in);
    EXPECT_TRUE(g.rcOfferedCells.empty());
    EXPECT_EQ(g.gridRows, 1);
    EXPECT_EQ(g.storedRows.size(), 10u);

    in.offeredCapacity = 60000;  // never more than the alphabet's 20 cells
    EXPECT_EQ(layOutSubsetPanel(in).rcOfferedCells.size(), 20u);
}

TEST(SubsetPanelGeometry, HitTestsFindTheirTargetsOnly) {
    const SubsetPanelLayout g = layOutSubsetPanel(input(true));
    const Rect c7 = centreSpot(g.rcOfferedCells[7]);
    EXPECT_EQ(offeredCellAt(g, 20, c7.left, c7.top), 7);
    EXPECT_EQ(offeredCellAt(g, 5, c7.left, c7.top), -1);  // cell 7 offers nothing with 5 required
    const Rect ok = centreSpot(g.buttons[Ok]);
    EXPECT_EQ(buttonAt(g, ok.left, ok.top), Ok);
    EXPECT_EQ(buttonAt(g, g.buttons[ClearAll].right, g.buttons[ClearAll].bottom), ClearAll);
    EXPECT_EQ(buttonAt(g, g.buttons[ClearAll].right + 1, g.buttons[ClearAll].bottom), NoButton);
    const Rect row6 = centreSpot(g.storedRows[6]);
    EXPECT_EQ(storedRowAt(g, row6.left, row6.top), 6);
    EXPECT_EQ(storedRowAt(g, 0, 0), -1);
    EXPECT_TRUE(stripContains(g, g.rcSubsetStrip.left, g.rcSubsetStrip.bottom));
    EXPECT_FALSE(stripContains(layOutSubsetPanel(input(false, 0)), g.rcSubsetStrip.left, g.rcSubsetStrip.top));
}

// ---- Storage and editing ----

TEST(SubsetPanelEditing, PrepareAllocatesOnceAndKeepsTheSubsetsAfterwards) {
    SubsetPanelState panel;
    panel.wReservedSubsets = 0;
    SubsetPanelMarks marks;
    EXPECT_FALSE(subsetPanelPrepared(panel));
    ASSERT_TRUE(prepareSubsetPanel(panel, marks).ok);
    EXPECT_EQ(panel.wReservedSubsets, 10);
    EXPECT_EQ(panel.selectedSubsetArray.size(), 10u);
    appendEntry(panel, marks, 4);
    acceptCurrentSubset(panel, marks);
    ASSERT_TRUE(prepareSubsetPanel(panel, marks).ok);
    EXPECT_EQ(entries(panel), std::vector<int32_t>{4});
    EXPECT_EQ(panel.wStoredSubsets, 1);
}

TEST(SubsetPanelEditing, EleventhEtalonIsRefusedUnlessAnEntryIsMarked) {
    SubsetPanelMarks marks;
    SubsetPanelState panel = preparedPanel(marks);
    for (int k = 1; k <= 10; ++k) EXPECT_TRUE(appendEntry(panel, marks, k));
    EXPECT_FALSE(appendEntry(panel, marks, 11));
    EXPECT_FALSE(offerEtalon(panel, marks, 11));
    EXPECT_EQ(entries(panel), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    marks.selectedMarks[3] = 1;
    EXPECT_TRUE(offerEtalon(panel, marks, 11));  // the marked entry makes room
    EXPECT_EQ(entries(panel), (std::vector<int32_t>{1, 2, 3, 5, 6, 7, 8, 9, 10, 11}));
    for (int32_t m : marks.selectedMarks) EXPECT_EQ(m, 0);
}

TEST(SubsetPanelEditing, DeleteMarkedMovesLaterEntriesAndTheirMarksDown) {
    SubsetPanelMarks marks;
    SubsetPanelState panel = preparedPanel(marks);
    for (int k : {5, 6, 7, 8, 9, 10}) appendEntry(panel, marks, k);
    marks.selectedMarks = {0, 1, 0, 1, 1, 0};
    EXPECT_EQ(deleteMarkedEntries(panel, marks), 3);
    EXPECT_EQ(entries(panel), (std::vector<int32_t>{5, 7, 10}));
    EXPECT_EQ(panel.selectedSubset[3], 0);
    for (int32_t m : marks.selectedMarks) EXPECT_EQ(m, 0);
    EXPECT_EQ(deleteMarkedEntries(panel, marks), 0);

    deleteAllEntries(panel, marks);
    EXPECT_EQ(panel.wSelectedCount, 0);
    for (int32_t e : panel.selectedSubset) EXPECT_EQ(e, 0);
}

TEST(SubsetPanelEditing, MarkingAPointMarksAtMostTheEntryUnderIt) {
    SubsetPanelMarks marks;
    SubsetPanelState panel = preparedPanel(marks);
    const SubsetPanelLayout g = layOutSubsetPanel(input(false));
    for (int k : {3, 4, 5}) appendEntry(panel, marks, k);
    const Rect c2 = centreSpot(g.possibleSubsetRect[2]);
    const Rect c0 = centreSpot(g.possibleSubsetRect[0]);
    EXPECT_EQ(markEntryAt(panel, marks, g, c2.left, c2.top), 2);
    EXPECT_EQ(markEntryAt(panel, marks, g, c0.left, c0.top), 0);
    EXPECT_EQ(marks.selectedMarks[0], 1);
    EXPECT_EQ(marks.selectedMarks[2], 0);
    // An empty cell or the gap between cells marks nothing and clears the old mark.
    const Rect c6 = centreSpot(g.possibleSubsetRect[6]);
    EXPECT_EQ(markEntryAt(panel, marks, g, c6.left, c6.top), -1);
    EXPECT_EQ(marks.selectedMarks[0], 0);
}

TEST(SubsetPanelEditing, AcceptStoresCopiesUntilTheCollectionIsFull) {
    SubsetPanelMarks marks;
    SubsetPanelState panel = preparedPanel(marks);
    EXPECT_FALSE(acceptCurrentSubset(panel, marks));  // an empty subset is not stored
    EXPECT_EQ(panel.wStoredSubsets, 0);
    for (int t = 1; t <= 10; ++t) {
        deleteAllEntries(panel, marks);
        for (int k = 0; k < t; ++k) appendEntry(panel, marks, t);
        marks.markAllEntries = 0;
        EXPECT_TRUE(acceptCurrentSubset(panel, marks));
        EXPECT_EQ(marks.markAllEntries, 1);
        EXPECT_EQ(panel.currentPatternTuple, t);
    }
    deleteAllEntries(panel, marks);
    appendEntry(panel, marks, 20);
    ASSERT_TRUE(chooseStoredSubset(panel, 2));
    EXPECT_FALSE(acceptCurrentSubset(panel, marks));
    EXPECT_EQ(panel.wStoredSubsets, 10);
    EXPECT_EQ(panel.currentPatternTuple, 10);
    EXPECT_EQ(panel.selectedSubsetArraySize[3], 4);
    EXPECT_EQ(panel.selectedSubsetArray[3][3], 4);
    EXPECT_EQ(panel.selectedSubsetArray[3][4], 0);
    EXPECT_EQ(panel.selectedSubsetArray[9][9], 10);

    EXPECT_FALSE(chooseStoredSubset(panel, 10));
    EXPECT_FALSE(chooseStoredSubset(panel, -1));
    clearStoredSubsets(panel, marks);
    EXPECT_EQ(panel.wStoredSubsets, 0);
    EXPECT_EQ(panel.currentPatternTuple, 0);
    EXPECT_FALSE(chooseStoredSubset(panel, 0));
}

TEST(SubsetPanelEditing, UnpreparedOrInconsistentStateIsRefusedWithoutHarm) {
    SubsetPanelState panel;  // no storage yet
    SubsetPanelMarks marks;
    EXPECT_FALSE(appendEntry(panel, marks, 1));
    EXPECT_EQ(deleteMarkedEntries(panel, marks), 0);
    deleteAllEntries(panel, marks);
    EXPECT_FALSE(acceptCurrentSubset(panel, marks));
    EXPECT_FALSE(chooseStoredSubset(panel, 0));
    EXPECT_EQ(markEntryAt(panel, marks, layOutSubsetPanel(input(true)), 0, 0), -1);

    // Counts that claim more than exists.
    panel.wSelectedCount = 50;
    panel.wStoredSubsets = 12;
    marks.selectedMarks.fill(1);
    EXPECT_EQ(deleteMarkedEntries(panel, marks), 0);
    EXPECT_FALSE(acceptCurrentSubset(panel, marks));
    EXPECT_FALSE(subsetPanelPrepared(panel));
    ASSERT_TRUE(prepareSubsetPanel(panel, marks).ok);
    EXPECT_EQ(panel.wSelectedCount, 0);
    EXPECT_EQ(panel.wStoredSubsets, 0);
}

// ---- Drawing ----

class SubsetPanelDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        deriveStartupSettings(settings);
        buildStartupModel(settings, sink);
        ASSERT_NE(settings.lpSeriesHeader, nullptr);
        image.fill(Qt::white);
        canvas.setPen({0, 0, 0});
        layout.lineHeight = canvas.metrics().height - 1;
        layout.aveCharWidth = canvas.metrics().averageWidth;
        layOutWindow({0, 0, 1600, 1000}, layout.lineHeight, settings.wAlphabetSize, false, layout);
        panel = preparedPanel(marks);
    }

    // The layout pass, then the drawing, as the paint of the workbench does them.
    void drawPlain(const SeriesHeader* series) {
        g = layOutSubsetPanelView(canvas, layout, panel, series, false);
        drawSubsetPanel(canvas, layout, g, panel, marks, static_cast<int16_t>(settings.wAmplitude),
                        settings.wRequiredCount, settings.lpRequiredList.get(), series);
    }
    void drawTuple(const SeriesHeader* series) {
        g = layOutSubsetPanelView(canvas, layout, panel, series, true);
        applyMarkAll(panel, marks);
        drawTupleSubsetPanel(canvas, layout, g, panel, marks, static_cast<int16_t>(settings.wAmplitude),
                             settings.wRequiredCount, settings.lpRequiredList.get(), series);
    }
    /// Pixels of `colour` inside an inclusive rectangle.
    int count(const Rect& r, Color colour) const {
        int n = 0;
        for (int32_t y = r.top; y <= r.bottom; ++y)
            for (int32_t x = r.left; x <= r.right; ++x) n += canvas.pixel(x, y) == colour;
        return n;
    }

    Settings settings;
    RecordingMessageSink sink;
    QImage image{1600, 1000, QImage::Format_RGB32};
    QImageCanvas canvas{image};
    LayoutState layout;
    SubsetPanelState panel;
    SubsetPanelMarks marks;
    SubsetPanelLayout g;
};

TEST_F(SubsetPanelDrawing, PlainPanelDrawsBackgroundFramesEntriesAndButtons) {
    for (int k : {4, 9, 16}) appendEntry(panel, marks, k);
    marks.selectedMarks[1] = 1;
    drawPlain(settings.lpSeriesHeader.get());

    EXPECT_EQ(layout.rcSubsetStrip.top, g.rcSubsetStrip.top);
    EXPECT_TRUE(layout.possibleSubsetArrayRect.empty());
    EXPECT_EQ(canvas.pixel(layout.rcMain.left, layout.rcMain.top), kBackground);
    EXPECT_EQ(canvas.pixel(layout.rcMain.right, layout.rcMain.bottom), kBackground);
    EXPECT_EQ(canvas.pixel(layout.rcMain.right + 1, layout.rcMain.bottom), (Color{255, 255, 255}));
    EXPECT_EQ(canvas.pixel(g.gridArea.left, g.gridArea.top + 20), (Color{0, 0, 0}));
    EXPECT_EQ(canvas.pixel(g.gridArea.right, g.gridArea.top + 20), (Color{0, 0, 0}));
    // Strip cells are framed in grey, the empty ones as well.
    const Rect& empty = g.possibleSubsetRect[7];
    EXPECT_EQ(canvas.pixel(empty.left, (empty.top + empty.bottom) / 2), kStripCellPen);
    EXPECT_EQ(count(empty, Color{0, 0, 0}), 0);
    // Only the marked entry stands on the grey glyph background.
    EXPECT_GT(count(g.possibleSubsetRect[1], graph::kLightGrey), 100);
    EXPECT_EQ(count(g.possibleSubsetRect[0], graph::kLightGrey), 0);
    EXPECT_GT(count(g.possibleSubsetRect[0], Color{0, 0, 0}), 20);
    // Every offered etalon is drawn; every button has its caption.
    for (const Rect& cell : g.rcOfferedCells) EXPECT_GT(count(cell, Color{0, 0, 0}), 100);
    for (int b = 0; b < 4; ++b) {
        Rect face = g.buttons[static_cast<size_t>(b)];
        face = {face.left + 3, face.top + 3, face.right - 3, face.bottom - 3};
        EXPECT_GT(count(face, Color{0, 0, 0}), 5) << b;
    }
}

TEST_F(SubsetPanelDrawing, TuplePanelMarksTheChosenStoredSubsetAndConsumesMarkAll) {
    for (int t : {3, 7}) {
        deleteAllEntries(panel, marks);
        appendEntry(panel, marks, t);
        appendEntry(panel, marks, t + 1);
        acceptCurrentSubset(panel, marks);
    }
    ASSERT_TRUE(chooseStoredSubset(panel, 0));
    ASSERT_EQ(marks.markAllEntries, 1);
    drawTuple(settings.lpSeriesHeader.get());

    EXPECT_EQ(marks.markAllEntries, 0);
    EXPECT_EQ(marks.selectedMarks[0], 1);
    EXPECT_EQ(marks.selectedMarks[1], 1);
    EXPECT_EQ(marks.selectedMarks[2], 0);
    EXPECT_GT(count(g.possibleSubsetRect[1], graph::kLightGrey), 100);
    ASSERT_EQ(layout.possibleSubsetArrayRect.size(), 10u);
    EXPECT_EQ(layout.possibleSubsetArrayRect[4].top, g.storedRows[4].top);
    EXPECT_GT(count(g.storedRows[0], graph::kRed), 100);
    EXPECT_EQ(count(g.storedRows[1], graph::kRed), 0);
    EXPECT_GT(count(g.storedRows[1], Color{0, 0, 0}), 20);
    EXPECT_EQ(count(g.storedRows[2], Color{0, 0, 0}), 0);
    EXPECT_EQ(canvas.pixel(g.storedRows[2].left, g.storedRows[2].top + 5), kStoredRowPen);
    // The heading is printed between the buttons and the rows.
    const Rect heading{g.headingX, g.headingY, g.headingX + 200, g.headingY + layout.lineHeight};
    EXPECT_GT(count(heading, Color{0, 0, 0}), 20);
    for (int b = 0; b < 6; ++b) EXPECT_GT(count(g.buttons[static_cast<size_t>(b)], Color{0, 0, 0}), 5) << b;
}

TEST_F(SubsetPanelDrawing, MissingSeriesListOrLayoutDrawsWithoutCrashing) {
    for (int k : {1, 2}) appendEntry(panel, marks, k);
    drawPlain(nullptr);
    EXPECT_TRUE(g.rcOfferedCells.empty());
    EXPECT_TRUE(g.possibleSubsetRect.empty());
    drawTuple(nullptr);  // the tuple strip keeps its 10 cells, with no etalon to draw
    EXPECT_EQ(g.possibleSubsetRect.size(), 10u);
    EXPECT_EQ(count(g.possibleSubsetRect[0], graph::kLightGrey), 0);

    g = layOutSubsetPanelView(canvas, layout, panel, settings.lpSeriesHeader.get(), false);
    drawSubsetPanel(canvas, layout, g, panel, marks, 128, 20, nullptr, settings.lpSeriesHeader.get());
    // Before the first paint: everything zero, an empty panel state.
    LayoutState zero;
    SubsetPanelState empty;
    SubsetPanelMarks noMarks;
    noMarks.markAllEntries = 1;
    empty.wSelectedCount = 7;
    empty.wStoredSubsets = 3;
    g = layOutSubsetPanelView(canvas, zero, empty, settings.lpSeriesHeader.get(), true);
    applyMarkAll(empty, noMarks);
    drawTupleSubsetPanel(canvas, zero, g, empty, noMarks, 128, settings.wRequiredCount,
                         settings.lpRequiredList.get(), settings.lpSeriesHeader.get());
    g = layOutSubsetPanelView(canvas, zero, empty, settings.lpSeriesHeader.get(), false);
    drawSubsetPanel(canvas, zero, g, empty, noMarks, 128, settings.wRequiredCount, settings.lpRequiredList.get(),
                    settings.lpSeriesHeader.get());
    EXPECT_EQ(noMarks.markAllEntries, 0);
}

}  // namespace
