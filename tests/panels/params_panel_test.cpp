#include "panels/params_panel.h"

#include <gtest/gtest.h>

#include <QImage>

#include <memory>

#include "core/settings.h"
#include "platform/headless/headless_shell.h"
#include "platform/qt/image_canvas.h"

namespace {

using RecordPtr = std::unique_ptr<ParamsHeader>;

/// The parameters a series carries into the panel.
SeriesHeader series(int32_t N, uint16_t L, uint16_t tmin, uint16_t tmax, uint16_t K) {
    SeriesHeader s;
    s.dwSeriesSize = N;
    s.wImpulseSize = L;
    s.wTmin = tmin;
    s.wTmax = tmax;
    s.wImpulseQuantity = K;
    return s;
}

/// A record of N 1200, L 20, Tmin 40, Tmax 181 and K pulses over a 300 x 200 graph at (100, 50).
RecordPtr standardRecord(uint16_t K = 14) {
    RecordingMessageSink sink;
    const SeriesHeader s = series(1200, 20, 40, 181, K);
    RecordPtr r = getParamsHeader(sink, &s, nullptr);
    r->rcGraph = {100, 50, 400, 250};
    return r;
}

/// Lays out a 1600 x 1000 window as the painter does.
LayoutState windowLayout(const QImageCanvas& canvas) {
    LayoutState l;
    const TextMetrics m = canvas.metrics();
    l.aveCharWidth = m.averageWidth;
    l.maxCharWidth = m.maxWidth;
    layOutWindow({0, 0, 1600, 1000}, m.height - 1, 20, true, l);
    return l;
}

bool inside(const Rect& r, int32_t x, int32_t y) { return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// The record.

TEST(ParamsHeaderTest, TakesTheBoundsOfTheSeries) {
    HeadlessShell shell;
    const SeriesHeader s = series(1200, 20, 40, 181, 14);
    RecordPtr r = getParamsHeader(shell, &s, nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->dwSeriesSize, 1200u);
    EXPECT_EQ(r->aLow, 0);
    EXPECT_EQ(r->aHigh, 161);
    EXPECT_EQ(r->bLow, 1019);
    EXPECT_EQ(r->bHigh, 1180);
    EXPECT_EQ(r->wMinPulses, 6);
    EXPECT_EQ(r->wMaxPulses, 30);
    EXPECT_EQ(r->wAreasCount, 25);
    EXPECT_GE(r->wAreasCapacity, 25);
    EXPECT_EQ(r->wImpulseQuantity, 14);
    // The bracketed bounds of the edited values agree with the series' own while nothing is edited.
    EXPECT_EQ(editedMinPulses(*r), 6);
    EXPECT_EQ(editedMaxPulses(*r), 30);
    EXPECT_EQ(r->lastValues, (std::array<int32_t, 7>{14, 161, 1019, 40, 181, 30, 6}));
    EXPECT_EQ(r->redrawOnly, 0);
    EXPECT_EQ(shell.editContents, "40");
    EXPECT_TRUE(shell.messages.empty());
}

TEST(ParamsHeaderTest, RefreshReusesTheRecordAndGrowsTheAreasOnlyWhenNeeded) {
    RecordingMessageSink sink;
    const SeriesHeader big = series(1200, 20, 40, 181, 14);
    RecordPtr record = getParamsHeader(sink, &big, nullptr);
    ASSERT_TRUE(record);
    const ParamsHeader* first = record.get();
    record->wTmin = 77;
    record->dragLineTmin = 1;
    record->redrawOnly = 1;
    const Rect* areas = record->pulsesSelectedAreas.data();

    // Fewer areas: the same record and allocation, every edited value and flag reset.
    const SeriesHeader small = series(600, 20, 40, 181, 5);
    record = getParamsHeader(sink, &small, std::move(record));
    const ParamsHeader* second = record.get();
    ASSERT_EQ(second, first);
    EXPECT_EQ(second->pulsesSelectedAreas.data(), areas);
    EXPECT_EQ(second->wTmin, 40);
    EXPECT_EQ(second->dragLineTmin, 0);
    EXPECT_EQ(second->redrawOnly, 0);
    EXPECT_EQ(second->wAreasCount, (600 + 40 - 20) / 40 - (600 + 19) / 181 + 1);
    EXPECT_EQ(second->dwAllocatedSize, 1200u);

    // More areas than allocated: the areas grow and the record remembers the length.
    const SeriesHeader dense = series(1200, 5, 10, 181, 14);
    record = getParamsHeader(sink, &dense, std::move(record));
    const ParamsHeader* third = record.get();
    ASSERT_EQ(third, first);
    EXPECT_EQ(third->wAreasCount, (1200 + 10 - 5) / 10 - (1200 + 4) / 181 + 1);
    EXPECT_GE(third->wAreasCapacity, third->wAreasCount);
    EXPECT_EQ(third->dwAllocatedSize, 1200u);
    EXPECT_TRUE(sink.messages.empty());
}

TEST(ParamsHeaderTest, NullSeriesAndSeriesWithoutLimitsKeepTheOldRecord) {
    RecordingMessageSink sink;
    EXPECT_EQ(getParamsHeader(sink, nullptr, nullptr), nullptr);
    RecordPtr r = standardRecord();
    const ParamsHeader* kept = r.get();
    r = getParamsHeader(sink, nullptr, std::move(r));
    EXPECT_EQ(r.get(), kept);
    const SeriesHeader noLimits = series(1200, 20, 0, 0, 14);
    r = getParamsHeader(sink, &noLimits, std::move(r));
    EXPECT_EQ(r.get(), kept);
    EXPECT_EQ(r->wTmin, 40);
}

TEST(ParamsHeaderTest, ShortSeriesGivesNoClickAreas) {
    // N below L: no pulse count fits; nothing may be read or written beyond the areas.
    RecordingMessageSink sink;
    const SeriesHeader s = series(10, 20, 40, 181, 0);
    RecordPtr r = getParamsHeader(sink, &s, nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->wAreasCount, 0);
    EXPECT_EQ(pulseCountAreaAt(*r, 0, 0), -1);
}

// ---------------------------------------------------------------------------------------------
// Feasibility.

TEST(FeasibilityTest, TminBetweenLAndTmaxWithKWithinTheBounds) {
    RecordPtr r = standardRecord();
    EXPECT_FALSE(tminFeasible(*r, 19));   // below L
    EXPECT_TRUE(tminFeasible(*r, 20));
    EXPECT_TRUE(tminFeasible(*r, 90));    // 1180 / 90 + 1 = 14 pulses still fit
    EXPECT_FALSE(tminFeasible(*r, 91));   // 1180 / 91 + 1 = 13 < 14
    EXPECT_FALSE(tminFeasible(*r, 182));  // above Tmax
    EXPECT_FALSE(tminFeasible(*r, 0));
    EXPECT_FALSE(tminFeasible(*r, -40));
    // K below the count a+ and b- need: (1019 - 161 + 180) / 181 + 1 = 6.
    r->wImpulseQuantity = 5;
    EXPECT_FALSE(tminFeasible(*r, 40));
    // With b- at or below a+ one pulse suffices.
    r->bLow = r->aHigh;
    EXPECT_TRUE(tminFeasible(*r, 40));
}

TEST(FeasibilityTest, TmaxAboveTminUpToBMinusWithKWithinTheBounds) {
    RecordPtr r = standardRecord(6);
    EXPECT_FALSE(tmaxFeasible(*r, 40));    // not above Tmin
    EXPECT_FALSE(tmaxFeasible(*r, 1020));  // above b-
    EXPECT_TRUE(tmaxFeasible(*r, 181));
    // Six pulses need Tmax >= 172: (1019 - 161 + v - 1) / v + 1 <= 6.
    EXPECT_TRUE(tmaxFeasible(*r, 172));
    EXPECT_FALSE(tmaxFeasible(*r, 171));
    r->wImpulseQuantity = 31;  // above (1180 - 0) / 40 + 1 = 30
    EXPECT_FALSE(tmaxFeasible(*r, 181));
    r->wImpulseQuantity = 14;
    r->wTmin = 0;  // no division by zero
    EXPECT_FALSE(tmaxFeasible(*r, 181));
}

// ---------------------------------------------------------------------------------------------
// Mappings and hit tests.

TEST(MappingTest, PulseIndexAndPositionMapBothWays) {
    RecordPtr r = standardRecord();
    EXPECT_EQ(pulseX(*r, 1), 100);
    EXPECT_EQ(pulseX(*r, 30), 400);
    EXPECT_EQ(halfStepX(*r, 3), 100 + 300 / 58);
    for (int32_t j = 1; j <= 30; ++j) EXPECT_EQ(pulseIndexAtX(*r, pulseX(*r, j)), j) << j;
    EXPECT_EQ(positionY(*r, 0), 250);
    EXPECT_EQ(positionY(*r, 1180), 50);
    EXPECT_EQ(positionY(*r, 590), 150);
    EXPECT_EQ(markerValueAtY(*r, 250), 0);
    EXPECT_EQ(markerValueAtY(*r, 150), 100 * 1180 / 201);
    // Beyond the graph the markers stop at a and b.
    EXPECT_EQ(markerValueAtY(*r, 400), 0);
    EXPECT_EQ(markerValueAtY(*r, -100), 1180);
}

TEST(MappingTest, DegenerateGraphsDoNotDivideByZero) {
    RecordPtr r = standardRecord();
    r->wMaxPulses = 1;
    EXPECT_EQ(pulseX(*r, 1), 100);
    r->rcGraph = {100, 50, 100, 50};
    EXPECT_EQ(pulseIndexAtX(*r, 300), 1);
    EXPECT_EQ(markerValueAtY(*r, 0), 1180);
    r->bHigh = r->aLow;
    EXPECT_EQ(positionY(*r, 500), 50);
    r->hoverLineTmax = r->hoverLineTmin = 1;
    EXPECT_EQ(tmaxFromPoint(*r, 300, 10), 0);
    EXPECT_EQ(tminFromPoint(*r, 300, 10), 0);
}

TEST(MappingTest, SlopesFromPointsRecoverTheLineValues) {
    RecordPtr r = standardRecord();
    // Without the hover flag the point gives nothing.
    EXPECT_EQ(tmaxFromPoint(*r, 200, 100), 0);
    EXPECT_EQ(tminFromPoint(*r, 200, 100), 0);
    r->hoverLineTmax = r->hoverLineTmin = 1;
    // A point of the Tmax line a+ + (j - 1) 181 at j = 5: value 885.
    const int32_t x5 = pulseX(*r, 5);
    EXPECT_NEAR(tmaxFromPoint(*r, x5, positionY(*r, 885)), 181, 3);
    // A point of the Tmin line 1180 - (14 - j) 40 at j = 9: value 980.
    const int32_t x9 = pulseX(*r, 9);
    EXPECT_NEAR(tminFromPoint(*r, x9, positionY(*r, 980)), 40, 2);
    // Points on the wrong side of the anchors give no slope.
    EXPECT_EQ(tmaxFromPoint(*r, 100, 100), 0);
    EXPECT_EQ(tminFromPoint(*r, pulseX(*r, 14) + 1, 100), 0);
    EXPECT_EQ(tminFromPoint(*r, pulseX(*r, 20), 100), 0);
}

TEST(BoundingLinesTest, PairsAreCutAtTheHalfStepOfTheirCrossing) {
    RecordPtr r = standardRecord();
    const BoundingLines l = boundingLines(*r);
    ASSERT_TRUE(l.valid);
    // Upper: (1180 - 161 + 181 - 14 * 40) / 141 = 4.54, so the Tmax line ends at 4.5.
    EXPECT_EQ(l.upperCrossing, 9);
    // Lower: (0 - 40 + 14 * 181 - 1019) / 141 = 10.46, so the Tmin line ends at 10.
    EXPECT_EQ(l.lowerCrossing, 20);
    EXPECT_EQ(l.upperTmax.x0, halfStepX(*r, 1));
    // Both end at the crossing itself, between half steps 9 and 10.
    EXPECT_GE(l.upperTmax.x1, halfStepX(*r, 9));
    EXPECT_LE(l.upperTmax.x1, halfStepX(*r, 10));
    EXPECT_EQ(l.upperTmin.x0, l.upperTmax.x1);
    EXPECT_EQ(l.upperTmin.x1, halfStepX(*r, 29));
    // Heights of half steps are mapped from the exact half values: 2 v Hg / (2 (b - a)).
    EXPECT_EQ(l.upperTmax.y0, 250 - (2 * 161 - 181) * 200 / 2360);  // a+ - Tmax / 2
    EXPECT_EQ(l.upperTmin.y1, positionY(*r, 1180 + 20));            // b + Tmin / 2
    EXPECT_NEAR(l.lowerTmin.y1, 250 - (1475.0 / 141 - 1) * 40 * 200 / 1180, 1.0);  // at the crossing
    EXPECT_EQ(l.lowerTmax.y1, 250 - (2 * 1019 + 181) * 200 / 2360);  // b- + Tmax / 2
}

TEST(BoundingLinesTest, PartnersMeetAtTheirCrossingPoint) {
    int checked = 0;
    for (uint16_t K : {6, 10, 14, 20}) {
        SCOPED_TRACE(K);
        RecordPtr r = standardRecord(K);
        const BoundingLines l = boundingLines(*r);
        ASSERT_TRUE(l.valid);
        // Where a pair crosses inside the diagram, both lines end at the crossing point: the
        // upper Tmax line at 4.54 steps for K = 14 is a+ + 3.54 Tmax, which is the upper Tmin
        // line's b - 9.46 Tmin there.
        const double j = (1180.0 - 161 + 181 - K * 40.0) / 141;
        if (j > 0.5 && j < K + 0.5) {
            EXPECT_EQ(l.upperTmax.x1, l.upperTmin.x0);
            EXPECT_EQ(l.upperTmax.y1, l.upperTmin.y0);
            EXPECT_NEAR(l.upperTmax.y1, 250 - (161 + (j - 1) * 181) * 200 / 1180, 1.0);
            EXPECT_NEAR(l.upperTmin.y0, 250 - (1180 - (K - j) * 40) * 200 / 1180, 1.0);
        }
        const double i = (0 - 40.0 + K * 181 - 1019) / 141;
        if (i > 0.5 && i < K + 0.5) {
            EXPECT_EQ(l.lowerTmin.x1, l.lowerTmax.x0);
            EXPECT_EQ(l.lowerTmin.y1, l.lowerTmax.y0);
            EXPECT_NEAR(l.lowerTmin.y1, 250 - (i - 1) * 40 * 200 / 1180, 1.0);
        }
        ++checked;
    }
    EXPECT_EQ(checked, 4);
}

TEST(BoundingLinesTest, FirstLinesRunToTheEndWhenTminIsNotBelowTmaxAndNothingWithoutPulses) {
    RecordPtr r = standardRecord(6);
    r->wTmin = 181;
    const BoundingLines l = boundingLines(*r);
    ASSERT_TRUE(l.valid);
    EXPECT_EQ(l.upperCrossing, 13);
    EXPECT_EQ(l.lowerCrossing, 13);
    EXPECT_EQ(l.upperTmax.x1, halfStepX(*r, 13));
    EXPECT_EQ(l.upperTmin.x0, l.upperTmin.x1);
    r->wImpulseQuantity = 0;
    EXPECT_FALSE(boundingLines(*r).valid);
}

TEST(LineHitTest, WithinToleranceBetweenTheEndPoints) {
    const std::array<int32_t, 5> line{10, 100, 110, 50, 3};
    EXPECT_TRUE(onPanelLine(line, 60, 75));
    EXPECT_TRUE(onPanelLine(line, 60, 78));
    EXPECT_FALSE(onPanelLine(line, 60, 79));
    EXPECT_TRUE(onPanelLine(line, 10, 97));
    EXPECT_FALSE(onPanelLine(line, 9, 100));
    EXPECT_FALSE(onPanelLine(line, 111, 50));
    // Reversed end points and a single-column line.
    EXPECT_TRUE(onPanelLine({110, 50, 10, 100, 3}, 60, 72));
    EXPECT_TRUE(onPanelLine({40, 10, 40, 90, 2}, 40, 12));
    // A line that was not drawn is never hit.
    EXPECT_FALSE(onPanelLine({0, 0, 0, 0, -1}, 0, 0));
}

// ---------------------------------------------------------------------------------------------
// Editing.

TEST(PanelEditingTest, PressPicksPulseCountMarkersAndLinesInOrder) {
    RecordPtr r = standardRecord();
    r->rcCancelButton = {10, 300, 60, 320};
    r->rcOkButton = {70, 300, 120, 320};
    r->pulsesSelectedAreas[3] = {150, 260, 160, 275};
    r->rcHandleHigh = {95, 200, 300, 210};
    r->rcHandleLow = {95, 205, 300, 215};
    r->lineTmin = {200, 100, 300, 100, 3};
    r->lineTmax = {200, 100, 300, 140, 3};

    EXPECT_EQ(pressParameterPanel(*r, 20, 310), PanelPress::Cancel);
    EXPECT_EQ(pressParameterPanel(*r, 80, 310), PanelPress::Ok);
    EXPECT_EQ(r->wImpulseQuantity, 14);

    EXPECT_EQ(pressParameterPanel(*r, 155, 270), PanelPress::PulseCount);
    EXPECT_EQ(r->wImpulseQuantity, 6 + 3);
    EXPECT_EQ(r->redrawOnly, 1);

    // Where the bands overlap the a+ marker wins.
    EXPECT_EQ(pressParameterPanel(*r, 150, 207), PanelPress::HandleHigh);
    EXPECT_EQ(r->dragHandleHigh, 1);
    EXPECT_EQ(r->dragHandleLow, 0);
    EXPECT_EQ(pressParameterPanel(*r, 150, 214), PanelPress::HandleLow);
    EXPECT_EQ(r->dragHandleLow, 1);

    // Where both lines are hit the Tmin line wins.
    EXPECT_EQ(pressParameterPanel(*r, 200, 100), PanelPress::LineTmin);
    EXPECT_EQ(r->dragLineTmin, 1);
    EXPECT_EQ(r->dragLineTmax, 0);
    EXPECT_EQ(pressParameterPanel(*r, 300, 140), PanelPress::LineTmax);
    EXPECT_EQ(r->dragLineTmax, 1);
    EXPECT_EQ(pressParameterPanel(*r, 5, 5), PanelPress::None);
}

TEST(PanelEditingTest, DraggingTheTminLineStopsAtTheFirstInfeasibleSlope) {
    RecordPtr r = standardRecord();
    r->hoverLineTmin = 1;
    r->dragLineTmin = 1;
    const int32_t x9 = pulseX(*r, 9);
    // A steeper slope within the limits is taken.
    ASSERT_TRUE(dragParameterPanel(*r, x9, positionY(*r, 1180 - 5 * 60)));
    EXPECT_NEAR(r->wTmin, 60, 2);
    EXPECT_EQ(r->dragLineTmin, 1);
    EXPECT_EQ(r->redrawOnly, 1);
    const int32_t kept = r->wTmin;
    // A slope below L ends the drag and keeps the last feasible value.
    ASSERT_TRUE(dragParameterPanel(*r, x9, positionY(*r, 1180 - 5 * 10)));
    EXPECT_EQ(r->wTmin, kept);
    EXPECT_EQ(r->dragLineTmin, 0);
    EXPECT_FALSE(dragParameterPanel(*r, x9, 60));
}

TEST(PanelEditingTest, DraggingTheTmaxLineAndTheMarkers) {
    RecordPtr r = standardRecord();
    r->hoverLineTmax = 1;
    r->dragLineTmax = 1;
    const int32_t x5 = pulseX(*r, 5);
    ASSERT_TRUE(dragParameterPanel(*r, x5, positionY(*r, 161 + 4 * 150)));
    EXPECT_NEAR(r->wTmax, 150, 3);
    // Not above Tmin: refused, drag over.
    ASSERT_TRUE(dragParameterPanel(*r, x5, positionY(*r, 161 + 4 * 30)));
    EXPECT_NEAR(r->wTmax, 150, 3);
    EXPECT_EQ(r->dragLineTmax, 0);

    r->dragHandleLow = 1;
    ASSERT_TRUE(dragParameterPanel(*r, 0, 150));
    EXPECT_EQ(r->bLow, markerValueAtY(*r, 150));
    EXPECT_EQ(r->aHigh, 161);
    // Release ends the drag at the release point.
    EXPECT_TRUE(releaseParameterPanel(*r, 0, 100));
    EXPECT_EQ(r->bLow, markerValueAtY(*r, 100));
    EXPECT_EQ(r->dragHandleLow, 0);
    EXPECT_FALSE(releaseParameterPanel(*r, 0, 50));
}

TEST(PanelEditingTest, ReleaseTakesOnlyFeasibleSlopes) {
    RecordPtr r = standardRecord();
    r->hoverLineTmin = 1;
    r->dragLineTmin = 1;
    EXPECT_TRUE(releaseParameterPanel(*r, pulseX(*r, 9), positionY(*r, 1180 - 5 * 5)));
    EXPECT_EQ(r->wTmin, 40);
    EXPECT_EQ(r->dragLineTmin, 0);
    EXPECT_EQ(r->redrawOnly, 1);
}

TEST(PanelEditingTest, HoverReportsEachEntryAndExitOnce) {
    RecordPtr r = standardRecord();
    r->rcHandleHigh = {100, 200, 300, 210};
    r->lineTmax = {100, 100, 300, 100, 2};
    auto changes = trackPanelHover(*r, 150, 205);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].target, PanelTarget::HandleHigh);
    EXPECT_TRUE(changes[0].entered);
    EXPECT_TRUE(trackPanelHover(*r, 151, 205).empty());
    changes = trackPanelHover(*r, 150, 101);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].target, PanelTarget::HandleHigh);
    EXPECT_FALSE(changes[0].entered);
    EXPECT_EQ(changes[1].target, PanelTarget::LineTmax);
    EXPECT_TRUE(changes[1].entered);
    EXPECT_EQ(r->hoverHandleHigh, 0);
    EXPECT_EQ(r->hoverLineTmax, 1);
}

TEST(PanelCommitTest, OkTakesTheTypedTminAndLeaves) {
    Settings s;
    s.viewMode = ViewMode::parametersPanel;
    HeadlessShell shell;
    const PanelCommit c = commitParameterPanel("  +55xyz", s, &shell);
    EXPECT_TRUE(c.accepted);
    EXPECT_EQ(c.value, 55);
    EXPECT_EQ(s.wTmin, 55);
    EXPECT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(s.dirtyPanelArea, 1);
    EXPECT_EQ(shell.editRect.right - shell.editRect.left, 0);
}

TEST(PanelCommitTest, ZeroTextAndOutOfRangeAreRefusedWithAMessageAndNothingChanges) {
    // Below the etalon length (pulses would overlap) and above Tmax, as a drag refuses them.
    for (const char* text : {"0", "   -0", "abc", "", "  ", "-12", "70000", "+", "6", "19", "182"}) {
        Settings s;
        s.viewMode = ViewMode::parametersPanel;
        HeadlessShell shell;
        shell.moveEdit({5, 5, 40, 20});
        const PanelCommit c = commitParameterPanel(text, s, &shell);
        EXPECT_FALSE(c.accepted) << text;
        EXPECT_FALSE(c.message.empty()) << text;
        EXPECT_NE(c.message.find("Tmin"), std::string::npos) << text;
        EXPECT_EQ(s.wTmin, 40) << text;
        EXPECT_EQ(s.viewMode, ViewMode::parametersPanel) << text;
        EXPECT_EQ(s.dirtyPanelArea, 0) << text;
        EXPECT_EQ(shell.editRect.right, 40) << text;
    }
    // Only the first 100 characters count.
    Settings s;
    EXPECT_FALSE(commitParameterPanel(std::string(100, ' ') + "7", s, nullptr).accepted);
}

TEST(PanelCommitTest, CancelLeavesWithoutTakingTmin) {
    Settings s;
    s.viewMode = ViewMode::parametersPanel;
    s.dirtySeriesLength = s.dirtyNoiseLevel = s.dirtyLostLevel = 1;
    cancelParameterPanel(s, nullptr);
    EXPECT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(s.dirtySeriesLength, 0);
    EXPECT_EQ(s.dirtyNoiseLevel, 0);
    EXPECT_EQ(s.dirtyLostLevel, 1);
    EXPECT_EQ(s.wTmin, 40);
}

// ---------------------------------------------------------------------------------------------
// Drawing.

TEST(PanelLayoutTest, FramesGraphButtonsAndEdit) {
    PanelTextSizes sizes;
    sizes.lineHeight = 15;
    sizes.aveCharWidth = 6;
    sizes.valueBWidth = 28;
    sizes.buttonLabelWidth = 50;
    sizes.editWidth = 30;
    sizes.tminLabelWidth = 35;
    const PanelLayout p = layOutParameterPanel({10, 10, 1709, 1319}, sizes);  // 1700 x 1310
    EXPECT_EQ(p.mx, 10);
    EXPECT_EQ(p.my, 10);
    EXPECT_EQ(p.frame.left, 20);
    EXPECT_EQ(p.frame.bottom, 1319 - 30 - 29);
    const int32_t fw = p.frame.right - p.frame.left, fh = p.frame.bottom - p.frame.top;
    EXPECT_EQ(p.rcFrame.left, 20 + fw / 4);
    EXPECT_EQ(p.rcFrame.top, 20 + fh / 8);
    EXPECT_EQ(p.rcGraph.left, p.rcFrame.left + 28 + 20);
    EXPECT_EQ(p.rcGraph.bottom, p.rcFrame.bottom - 45);
    EXPECT_EQ(p.cancelButton.top, p.frame.bottom + 7);
    EXPECT_EQ(p.cancelButton.right - p.cancelButton.left + 1, 50 + 24);
    EXPECT_EQ(p.okButton.left, p.cancelButton.right + 1 + 12);
    EXPECT_EQ(p.okButton.bottom - p.okButton.top + 1, 29);
    EXPECT_EQ(p.tminEdit.bottom - p.tminEdit.top + 1, 17);
    EXPECT_GT(p.tminEdit.left, p.tminLabelX + 35);
    EXPECT_LT(p.tminEdit.bottom, p.frame.bottom);
}

TEST(PanelDrawingTest, LayoutStoresTheHitAreasAndPlacesTheEditAndTheDrawingFollowsIt) {
    QImage image(1600, 1000, QImage::Format_RGB32);
    image.fill(Qt::white);
    QImageCanvas canvas(image);
    const LayoutState layout = windowLayout(canvas);
    HeadlessShell shell;
    const SeriesHeader s = series(1200, 20, 40, 181, 14);
    RecordPtr r = getParamsHeader(shell, &s, nullptr);
    const Rect edit = layOutParameterPanelView(canvas, layout, *r, &s);
    drawParameterPanel(canvas, layout, *r, &s);

    // Background, and the origin of the axes in black.
    EXPECT_EQ(canvas.pixel(layout.rcMain.left + 2, layout.rcMain.top + 2), kPanelBackground);
    EXPECT_EQ(canvas.pixel(r->rcGraph.left, r->rcGraph.bottom), (Color{0, 0, 0}));
    EXPECT_EQ(canvas.pixel(r->rcGraph.left, r->rcGraph.top), (Color{0, 0, 0}));
    // Every click area holds the tick of its pulse count, and they do not overlap.
    for (int32_t i = 0; i < r->wAreasCount; ++i) {
        const Rect& a = r->pulsesSelectedAreas[i];
        EXPECT_TRUE(inside(a, pulseX(*r, 6 + i), a.top)) << i;
        if (i > 0) {
            EXPECT_GT(a.left, r->pulsesSelectedAreas[i - 1].right) << i;
        }
    }
    // The marker bands lie around their guides and reach pulse K.
    EXPECT_TRUE(inside(r->rcHandleHigh, r->rcGraph.left, positionY(*r, 161)));
    EXPECT_EQ(r->rcHandleLow.right, pulseX(*r, 14));
    // The upper lines are stored as drawn: their end pixels are black.
    EXPECT_EQ(canvas.pixel(r->lineTmin[2], r->lineTmin[3]), (Color{0, 0, 0}));
    EXPECT_TRUE(onLineTmax(*r, (r->lineTmax[0] + r->lineTmax[2]) / 2,
                           (r->lineTmax[1] + r->lineTmax[3]) / 2));
    // Buttons inside the view area, the edit control placed inside the frame.
    EXPECT_GT(r->rcOkButton.left, r->rcCancelButton.right);
    EXPECT_LE(r->rcOkButton.bottom, layout.rcMain.bottom);
    EXPECT_GT(edit.right, edit.left);
    EXPECT_GT(edit.left, layout.rcMain.left);
    EXPECT_EQ(r->redrawOnly, 0);
    EXPECT_EQ(r->lastValues[0], 14);
}

TEST(PanelDrawingTest, UpdateFadesTheOldLineAndDrawsTheNewOne) {
    QImage image(1600, 1000, QImage::Format_RGB32);
    QImageCanvas canvas(image);
    const LayoutState layout = windowLayout(canvas);
    RecordingMessageSink sink;
    const SeriesHeader s = series(1200, 20, 40, 181, 14);
    RecordPtr r = getParamsHeader(sink, &s, nullptr);
    layOutParameterPanelView(canvas, layout, *r, &s);
    drawParameterPanel(canvas, layout, *r, &s);
    const std::array<int32_t, 5> oldTmax = r->lineTmax;
    const int32_t oldGuideY = positionY(*r, r->aHigh);

    r->wTmax = 150;
    r->aHigh = 400;
    r->redrawOnly = 1;
    layOutParameterPanelView(canvas, layout, *r, &s);
    drawParameterPanel(canvas, layout, *r, &s);
    EXPECT_EQ(r->redrawOnly, 0);
    EXPECT_EQ(r->lastValues[4], 150);
    // The old start of the Tmax line (left of the axis, where nothing else is drawn) is erased to
    // the panel's own background: no ghost line is left.
    EXPECT_EQ(canvas.pixel(oldTmax[0], oldTmax[1]), kPanelBackground);
    EXPECT_EQ(canvas.pixel(r->lineTmax[0], r->lineTmax[1]), (Color{0, 0, 0}));
    // The old a+ guide is erased between its dots; the background was not refilled.
    EXPECT_EQ(canvas.pixel(r->rcGraph.left + 41, oldGuideY), kPanelBackground);
    EXPECT_EQ(canvas.pixel(r->rcGraph.left + 40, positionY(*r, 400)), (Color{0, 0, 0}));
}

TEST(PanelDrawingTest, NullSeriesAndEmptyRecordsDrawWithoutTheDiagram) {
    QImage image(1600, 1000, QImage::Format_RGB32);
    QImageCanvas canvas(image);
    const LayoutState layout = windowLayout(canvas);
    RecordPtr r = standardRecord();
    layOutParameterPanelView(canvas, layout, *r, nullptr);
    drawParameterPanel(canvas, layout, *r, nullptr);
    EXPECT_EQ(canvas.pixel(r->rcGraph.left, r->rcGraph.bottom), kPanelBackground);
    EXPECT_EQ(pulseCountAreaAt(*r, pulseX(*r, 6), r->pulsesSelectedAreas[0].top), -1);
    EXPECT_GT(r->rcCancelButton.right, r->rcCancelButton.left);

    // No pulses, no length, no window: nothing to plot, nothing to hit, no fault.
    ParamsHeader empty;
    layOutParameterPanelView(canvas, layout, empty, nullptr);
    drawParameterPanel(canvas, layout, empty, nullptr);
    const SeriesHeader zero = series(0, 0, 1, 1, 0);
    RecordingMessageSink sink;
    RecordPtr z = getParamsHeader(sink, &zero, nullptr);
    ASSERT_TRUE(z);
    layOutParameterPanelView(canvas, layout, *z, &zero);
    drawParameterPanel(canvas, layout, *z, &zero);
    EXPECT_FALSE(onLineTmin(*z, 0, 0));
    LayoutState none;
    layOutParameterPanelView(canvas, none, *r, &zero);
    drawParameterPanel(canvas, none, *r, &zero);
    r->redrawOnly = 1;
    layOutParameterPanelView(canvas, none, *r, &zero);
    drawParameterPanel(canvas, none, *r, &zero);
}

TEST(PanelButtonTest, FrameShadesHighlightAndLabel) {
    QImage image(200, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    QImageCanvas canvas(image);
    const Rect r{10, 10, 110, 38};
    drawPanelButton(canvas, r, " Cancel ", 15);
    EXPECT_EQ(canvas.pixel(10, 10), (Color{0, 0, 0}));
    EXPECT_EQ(canvas.pixel(110, 38), (Color{0, 0, 0}));
    EXPECT_EQ(canvas.pixel(30, 11), (Color{125, 125, 125}));
    EXPECT_EQ(canvas.pixel(30, 37), (Color{125, 125, 125}));
    EXPECT_EQ(canvas.pixel(30, 36), (Color{165, 170, 165}));
    EXPECT_EQ(canvas.pixel(30, 12), (Color{255, 255, 255}));
    EXPECT_EQ(canvas.pixel(111, 20), (Color{255, 255, 255}));  // nothing outside
    // The label is centred: dark pixels on both sides of the middle, face colour at the edges.
    int left = 0, right = 0;
    for (int y = 14; y < 34; ++y)
        for (int x = 14; x < 107; ++x)
            if (canvas.pixel(x, y) == Color{0, 0, 0}) (x < 60 ? left : right)++;
    EXPECT_GT(left, 0);
    EXPECT_GT(right, 0);
    EXPECT_EQ(canvas.pixel(16, 24), kPanelBackground);
}
