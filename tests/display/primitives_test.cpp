#include "display/graph_primitives.h"

#include <QImage>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "core/settings.h"
#include "display/greek.h"
#include "display/layout.h"
#include "display/views.h"
#include "platform/qt/image_canvas.h"
#include "tests/display/text_log.h"

using namespace graph;

namespace {

constexpr Color kWhiteC{255, 255, 255};

PulseHeader makeEtalon(uint16_t number, const std::vector<int16_t>& samples, uint16_t allocated = 0) {
    PulseHeader e;
    e.wNumber = number;
    e.wSize = static_cast<uint16_t>(samples.size());
    e.wAllocatedSize = std::max<uint16_t>(allocated, e.wSize);
    e.lpData = std::make_unique<int16_t[]>(e.wAllocatedSize);
    std::copy(samples.begin(), samples.end(), e.lpData.get());
    return e;
}

/// N samples and etalons 1 (+50), 2 (-50), 3 (+100) of five samples; pulses as the test adds.
struct Pulses {
    std::array<PulseHeader, 3> etalons{makeEtalon(1, std::vector<int16_t>(5, 50)),
                                       makeEtalon(2, std::vector<int16_t>(5, -50)),
                                       makeEtalon(3, std::vector<int16_t>(5, 100))};
    std::vector<int16_t> noisy, pos[2], et[2], cs[2], ce[2], groupFirst, groupLast;
    SeriesHeader h;
    explicit Pulses(int32_t N) : noisy(static_cast<size_t>(N)) {
        h.dwSeriesSize = N;
        h.wImpulseSize = 5;
        h.lpPulsesList = std::make_unique<const PulseHeader*[]>(3);
        for (size_t k = 0; k < 3; ++k) h.lpPulsesList[k] = &etalons[k];
        h.wPulsesListSize = 3;
    }
    /// found 0: a true pulse, 1: a detected one.
    Pulses& add(int found, int16_t p, int16_t e, int16_t cutStart = 0, int16_t cutEnd = 4) {
        pos[found].push_back(p), et[found].push_back(e), cs[found].push_back(cutStart), ce[found].push_back(cutEnd);
        return *this;
    }
    const SeriesHeader* bind() {
        h.lpNoisyData = noisy.data();
        h.lpTruePosition = pos[0].data(), h.lpTrueEtalon = et[0].data();
        h.lpTrueCutStart = cs[0].data(), h.lpTrueCutEnd = ce[0].data();
        h.lpFoundPosition = pos[1].data(), h.lpFoundEtalon = et[1].data();
        h.lpFoundCutStart = cs[1].data(), h.lpFoundCutEnd = ce[1].data();
        h.wImpulseQuantity = static_cast<uint16_t>(pos[0].size());
        h.wFoundPulses = static_cast<uint16_t>(pos[1].size());
        h.lpFoundGroupPosition = groupFirst.data(), h.lpFoundGroupValue = groupLast.data();
        h.wFoundGroups = static_cast<int16_t>(groupFirst.size());
        h.wAllocatedPulses = 20;
        return &h;
    }
};

/// A white 1000 x 700 image; `field` maps one pixel to a sample for N = 101 (W = H = 100).
class PrimitivesTest : public ::testing::Test {
protected:
    PrimitivesTest() : image(1000, 700, QImage::Format_RGB32), canvas((image.fill(Qt::white), image)) {}
    Color at(int x, int y) const { return canvas.pixel(x, y); }
    int count(const Rect& r, Color c) const {
        int n = 0;
        for (int y = r.top; y <= r.bottom; ++y)
            for (int x = r.left; x <= r.right; ++x) n += at(x, y) == c;
        return n;
    }
    QImage image;
    QImageCanvas canvas;
    const Rect field{10, 20, 110, 120};
    const int L = 10, T = 20, ymid = 70;
};

}  // namespace

TEST_F(PrimitivesTest, CurvesDrawWholeEtalonsOrTheKeptPartAndTheSeriesInBlue) {
    Pulses s(101);
    s.add(0, 20, 3, 2, 3).add(1, 60, 3);
    s.noisy[40] = 100;
    s.bind();
    drawTruePulses(canvas, field, 100, &s.h);
    EXPECT_EQ(count({L + 20, T, L + 24, T}, kBlack), 5);   // +100 runs along the top
    image.fill(Qt::white);
    drawTruePulseParts(canvas, field, 100, &s.h);
    EXPECT_EQ(at(L + 21, T), kWhiteC);                      // before the cut start
    EXPECT_EQ(at(L + 22, T), kBlack);
    EXPECT_EQ(at(L + 23, T + 20), kBlack);                  // back down at the cut end
    image.fill(Qt::white);
    drawFoundPulses(canvas, field, 100, &s.h);
    EXPECT_EQ(at(L + 60, T), kBlack);
    EXPECT_EQ(at(L + 20, T), kWhiteC);
    drawNoisySeries(canvas, field, 100, &s.h);
    EXPECT_EQ(at(L + 40, T), kBlue);
    EXPECT_EQ(at(L + 10, ymid), kBlue);
    canvas.moveTo(200, 200);   // the pen is black again
    canvas.lineTo(300, 200);
    EXPECT_EQ(at(250, 200), kBlack);
}

TEST_F(PrimitivesTest, DegenerateSeriesOrScaleDrawsNothing) {
    Pulses one(1), normal(101);
    one.add(0, 0, 1).add(1, 0, 1);
    normal.add(0, 10, 1).add(1, 10, 1);
    normal.groupFirst = normal.groupLast = {1};
    one.bind(), normal.bind();
    for (const SeriesHeader* s : std::array<const SeriesHeader*, 2>{&one.h, nullptr}) {
        drawNoisySeries(canvas, field, 100, s);
        drawTruePulses(canvas, field, 100, s);
        drawFoundPulses(canvas, field, 100, s);
        shadeTruePulses(canvas, field, 100, s);
        markFoundPulses(canvas, s, field);
        fillTuplesColoured(canvas, s, field);
        frameTuplesDotted(canvas, s, field);
        drawPulseLabels(canvas, field, 2, 0, 1, s);
    }
    drawNoisySeries(canvas, field, 0, &normal.h);
    drawTruePulseParts(canvas, field, 0, &normal.h);
    shadeTruePulses(canvas, field, 0, &normal.h);
    EXPECT_EQ(count({0, 0, 999, 699}, kWhiteC), 1000 * 700);
}

TEST_F(PrimitivesTest, ShadingIsCheckeredAndSkipsTheLastKeptSample) {
    Pulses s(101);
    s.add(0, 10, 1);         // +50: dots from the zero level (50 below T) up to the edge at 25
    s.add(0, 40, 2, 1, 3);   // -50: dots from the zero level down to 75; samples 1..3 kept
    shadeTruePulses(canvas, field, 100, s.bind());
    EXPECT_EQ(at(L + 10, T + 50), kBlack);
    EXPECT_EQ(at(L + 10, T + 49), kWhiteC);
    EXPECT_EQ(at(L + 11, T + 49), kBlack);   // the phase alternates column by column
    EXPECT_EQ(at(L + 11, T + 50), kWhiteC);
    EXPECT_EQ(at(L + 13, T + 27), kBlack);
    EXPECT_EQ(at(L + 12, T + 25), kWhiteC);  // not on the edge itself
    EXPECT_EQ(count({L + 14, T, L + 14, T + 100}, kBlack), 0);   // last kept sample
    EXPECT_EQ(count({L + 41, T + 51, L + 42, T + 74}, kBlack), 24);
    EXPECT_EQ(count({L + 40, T, L + 40, T + 100}, kBlack), 0);
    EXPECT_EQ(count({L + 43, T, L + 43, T + 100}, kBlack), 0);
}

TEST_F(PrimitivesTest, DetectionsGetDottedBoxesAndCutMarks) {
    Pulses s(101);
    s.add(1, 20, 1, 1, 3);   // a = 20, b = 24, cuts at 21 and 23; H / 3 = 33
    markFoundPulses(canvas, s.bind(), field);
    for (int x : {20, 21, 23, 24}) {
        EXPECT_EQ(at(L + x, ymid - 32), kBlack) << x;
        EXPECT_EQ(at(L + x, ymid + 32), kBlack) << x;
        EXPECT_EQ(at(L + x, ymid - 31), kWhiteC) << x;
    }
    EXPECT_EQ(at(L + 22, ymid - 34), kBlack);   // the box, one dot step past the marks
    EXPECT_EQ(at(L + 21, ymid - 34), kWhiteC);
    EXPECT_EQ(at(L + 24, ymid + 34), kBlack);
    EXPECT_EQ(at(L + 25, ymid + 34), kWhiteC);
}

TEST_F(PrimitivesTest, TupleHighlightsWidenByTwoColumnsWithinTheField) {
    Pulses s(101);
    s.add(1, 0, 1).add(1, 10, 1).add(1, 50, 1);
    s.groupFirst = {1, 3};   // pulses 1..2 (columns 0..14) and pulse 3 (50..54)
    s.groupLast = {2, 3};
    fillTuplesColoured(canvas, s.bind(), field);   // 3 H / 8 = 37
    EXPECT_EQ(at(L, ymid), kTupleFill);
    EXPECT_EQ(at(L - 1, ymid), kWhiteC);
    EXPECT_EQ(at(L + 15, ymid), kTupleFill);
    EXPECT_EQ(at(L + 16, ymid), kWhiteC);
    EXPECT_EQ(at(L + 48, ymid - 37), kTupleFill);
    EXPECT_EQ(at(L + 47, ymid), kWhiteC);
    EXPECT_EQ(at(L + 48, ymid + 37), kWhiteC);
    image.fill(Qt::white);
    frameTuplesDotted(canvas, &s.h, field);
    EXPECT_EQ(at(L + 56, ymid + 36), kBlack);
    EXPECT_EQ(at(L + 50, ymid - 38), kBlack);
    EXPECT_EQ(at(L + 51, ymid - 38), kWhiteC);
}

TEST(PulseLabelsTest, TextAndPlaceFollowTheSettings) {
    EXPECT_EQ(pulseLabelText(120, 3, 2, 17, 4, true), "120c");
    EXPECT_EQ(pulseLabelText(120, 1, 2, 17, 2, true), "120a[2..17] ");
    EXPECT_EQ(pulseLabelText(7, 26, 0, 19, 8, false), "7[0..19] ");
    Pulses s(101);
    s.add(0, 30, 1).add(0, 80, 2, 1, 3).add(1, 31, 3);
    s.bind();
    TextLog dc;
    drawPulseLabels(dc, {10, 20, 210, 120}, 8, 0, 1, &s.h);   // two pixels a sample
    ASSERT_EQ(dc.texts.size(), 2u);
    EXPECT_EQ(dc.texts[0].x, 10 + 60 - 5);
    EXPECT_EQ(dc.texts[0].y, 119);
    EXPECT_EQ(dc.texts[1].text, "80b[1..3] ");
    EXPECT_EQ(dc.texts[1].x, 210 - 70);  // at 10 + 160 - 5 it would end past the right edge
    dc.texts.clear();
    drawPulseLabels(dc, {10, 20, 210, 120}, 4, 2, 0, &s.h);
    ASSERT_EQ(dc.texts.size(), 1u);
    EXPECT_EQ(dc.texts[0].text, "31");
}

TEST(PulseLabelsTest, ALabelThatWouldOverprintThePreviousOneIsSkippedAndNoneRunsPastTheEdge) {
    Pulses s(101);
    // Labels of 10 characters (70 pixels) at 2 pixels a sample: those at 60 and 64 would
    // overprint the one at 30.
    s.add(0, 30, 1).add(0, 60, 2, 1, 3).add(0, 64, 1);
    s.bind();
    TextLog dc;
    drawPulseLabels(dc, {10, 20, 210, 120}, 8, 0, 1, &s.h);
    ASSERT_EQ(dc.texts.size(), 1u);
    EXPECT_EQ(dc.texts[0].text.substr(0, 3), "30a");
    Pulses apart(101);
    apart.add(0, 30, 1).add(0, 65, 2);
    apart.bind();
    dc.texts.clear();
    drawPulseLabels(dc, {10, 20, 210, 120}, 8, 0, 1, &apart.h);
    EXPECT_EQ(dc.texts.size(), 2u);  // the second starts where the first ends
    // The last pulse's label ends at the field's right edge rather than past it.
    Pulses last(101);
    last.add(0, 10, 1).add(0, 95, 2);
    last.bind();
    dc.texts.clear();
    drawPulseLabels(dc, {10, 20, 210, 120}, 8, 0, 1, &last.h);
    ASSERT_EQ(dc.texts.size(), 2u);
    EXPECT_EQ(dc.texts[1].x + 7 * static_cast<int>(dc.texts[1].text.size()), 210) << dc.texts[1].text;
}

TEST_F(PrimitivesTest, GlyphHighlightsDifferOnlyInTheBackground) {
    const PulseHeader e = makeEtalon(3, {0, 40, 80, 40, 0, -40});
    const Rect cell{50, 50, 110, 110};
    const int y0 = 50 + 1 + 14 + 3;   // one line and a quarter below the top
    drawEtalonGlyph(canvas, 14, &e, 100, 0, cell);
    EXPECT_EQ(at(50, y0), kBlack);
    EXPECT_EQ(at(74, y0 + 60 - 54), kBlack);   // the peak, 80 of 100
    EXPECT_EQ(count({47, y0 - 1, 116, y0 + 61}, kLightGrey), 0);
    image.fill(Qt::white);
    drawEtalonGlyph(canvas, 14, &e, 100, 1, cell);
    const QImage grey = image.copy();
    image.fill(Qt::white);
    drawEtalonGlyph(canvas, 14, &e, 100, 2, cell);
    for (int y = 40; y < 140; ++y)
        for (int x = 40; x < 130; ++x)
            ASSERT_EQ(image.pixel(x, y), grey.pixel(x, y) == qRgb(163, 163, 163) ? qRgb(255, 0, 0) : grey.pixel(x, y))
                << x << "," << y;
    EXPECT_EQ(at(47, y0 - 1), kRed);
    EXPECT_EQ(at(74, y0 + 6), kWhiteC);
    EXPECT_EQ(at(74, y0 + 4), kRed);
    // A single sample or a zero scale: no curve.
    image.fill(Qt::white);
    const PulseHeader single = makeEtalon(2, {80});
    drawEtalonGlyph(canvas, 14, &single, 100, 0, cell);
    drawEtalonGlyph(canvas, 14, &e, 0, 0, cell);
    EXPECT_EQ(at(74, y0 + 6), kWhiteC);
}

namespace {
class EtalonViewTest : public PrimitivesTest {
protected:
    void SetUp() override {
        for (uint16_t k = 0; k < 4; ++k) settings.alphabet[k] = makeEtalon(k + 1, {0, 60, 120, 60, 0, -60, -120}, 12);
        settings.alphabet[0].lpData[9] = 1000;   // allocated but not in use
        settings.wAlphabetSize = 4;
        settings.wAmplitude = 128;
        layOutWindow({0, 0, 1000, 700}, 14, 4, true, layout);
    }
    void draw(Canvas& dc) {
        PaintContext context{settings, layout, 0};
        drawEtalonView(context, dc);
    }
    void draw() {
        image.fill(Qt::white);
        draw(canvas);
    }
    Settings settings;
    LayoutState layout;
};
}  // namespace

TEST_F(EtalonViewTest, RequiredCellsHaveTripleLightFramesAndBlueCurves) {
    settings.requiredFlags = {1, 1, 1, 1};
    draw();
    for (const Rect& cell : layout.rcEtalonCells) {
        const int mid = (cell.top + cell.bottom) / 2;
        for (int dx : {-1, 0, 1}) EXPECT_EQ(at(cell.left + dx, mid), kLightGrey) << dx;
        EXPECT_EQ(at(cell.left + layout.wCellWidth + 1, mid), kLightGrey);
        EXPECT_EQ(at(cell.left + layout.wCellWidth + 2, mid), kWhiteC);
        EXPECT_GT(count(cell, kBlue), 50);
        EXPECT_EQ(count(cell, kDarkBlue), 0);
    }
}

TEST_F(EtalonViewTest, OtherCellsHaveOneDarkFrameAndDarkBlueCurves) {
    settings.requiredFlags = {0, 0, 2, 0};   // only 1 marks a required etalon
    settings.alphabet[1] = makeEtalon(2, {90});
    draw();
    for (const Rect& cell : layout.rcEtalonCells) {
        const int mid = (cell.top + cell.bottom) / 2;
        EXPECT_EQ(at(cell.left, mid), kDarkGrey);
        EXPECT_EQ(at(cell.left + layout.wCellWidth, mid), kDarkGrey);
        EXPECT_EQ(at(cell.left - 1, mid), kWhiteC);
        EXPECT_EQ(at(cell.left + 1, mid), kWhiteC);
        EXPECT_EQ(count(cell, kBlue), 0);
    }
    EXPECT_GT(count(layout.rcEtalonCells[0], kDarkBlue), 50);
    EXPECT_EQ(count(layout.rcEtalonCells[1], kDarkBlue), 0);   // one sample: no curve
    settings.wAmplitude = 0;
    draw();
    EXPECT_EQ(count(layout.rcEtalonCells[0], kDarkBlue), 0);
}

TEST_F(EtalonViewTest, CaptionsShowNumberAndEnergyOfTheSamplesInUse) {
    TextLog dc;
    draw(dc);
    ASSERT_EQ(dc.texts.size(), 4u);
    EXPECT_EQ(dc.texts[0].text, " pulse 1 [39600]");   // 3 * 60^2 + 2 * 120^2
    EXPECT_EQ(dc.texts[0].x, layout.rcEtalonCells[0].left + 5);
    EXPECT_EQ(dc.texts[3].text, " pulse 4 [39600]");
}

TEST(GreekTest, LatinLettersBecomeTheirGreekCounterparts) {
    EXPECT_EQ(toGreek("e, h"), "ε, η");
    EXPECT_EQ(toGreek("CES"), "ΧΕΣ");
    EXPECT_EQ(toGreek("abcdfgijklmnopqrstuvwxyz"), "αβχδφγιφκλμνοπθρστυϖωξψζ");
    EXPECT_EQ(toGreek("QWYJV 12.5%"), "ΘΩΨϑς 12.5%");
}
