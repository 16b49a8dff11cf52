#include "display/simulation_graphs.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/startup_model.h"
#include "display/layout.h"
#include "display/views.h"
#include "platform/qt/image_canvas.h"
#include "simulation/driver.h"

using namespace simgraph;

namespace {

using Errors = std::unique_ptr<RestErrorHeader>;

// An accumulator of P pulse counts 8, 12, ... and V noise levels 5, 10, ..., all zero.
Errors makeErrors(int P, int V, int repeats) {
    RecordingMessageSink sink;
    Errors e = getRestErrHeader(sink, P, V, repeats, nullptr);
    initRestErrHeader(sink, P, 8, 4, V, 5, 5, repeats, e.get());
    return e;
}

// A plot at (100, 50), 200 pixels high, its bottom at 250, with 20-pixel level steps.
GraphGeometry plot(int V) {
    GraphGeometry g;
    g.valid = true;
    g.plotLeft = 100;
    g.plotTop = 50;
    g.gridStep = 20;
    g.plotH = 200;
    g.levelStep = 20;
    g.plotW = (V - 1) * 20;
    return g;
}

std::vector<int32_t> ys(const Curve& c) {
    std::vector<int32_t> out;
    for (const GraphPoint& p : c.points) out.push_back(p.y);
    return out;
}

}  // namespace

TEST(ValueAxisTest, FixedBoundOrTheRoundNumberReachingQ) {
    EXPECT_EQ(tickUnit(37, true, 0.25), 250);
    EXPECT_EQ(pixelScaleOf(250), 4);
    EXPECT_EQ(valueLabels(250), (std::array<std::string, 6>{"0.00", "0.05", "0.10", "0.15", "0.20", "0.25"}));
    EXPECT_EQ(tickUnit(37, true, 0.0), 50);  // a bound of 0 is no bound
    EXPECT_EQ(tickUnit(37, false, 0), 50);   // 100, halved once: 50 < 74
    EXPECT_EQ(valueLabels(50)[1], "0.01");
    EXPECT_EQ(tickUnit(11, false, 0), 20);
    EXPECT_EQ(valueLabels(20)[1], "0.004");  // three decimals below 50
    EXPECT_EQ(tickUnit(1234, false, 0), 2000);
    EXPECT_EQ(pixelScaleOf(2000), 0);
    EXPECT_EQ(pixelScaleOf(0), 0);
    for (int32_t Q = 1; Q <= 20000; ++Q) {
        const int32_t Z = tickUnit(Q, false, 0);
        ASSERT_TRUE(Z >= Q && Z < 2 * Q) << Q << " -> " << Z;
        int32_t m = Z;
        while (m % 10 == 0 && m > 100) m /= 10;
        ASSERT_TRUE(m == 1 || m == 2 || m == 5 || m == 10 || m == 20 || m == 25 || m == 50 || m == 100) << Z;
    }
}

TEST(ValueAxisTest, UpperValueFollowsTheKindWithItsFloors) {
    Errors e = makeErrors(2, 3, 4);
    Normalizers n{{1000, 1000}, {100, 100}};
    EXPECT_EQ(upperValue(0, *e, n), 50);
    EXPECT_EQ(upperValue(1, *e, n), 490);
    EXPECT_EQ(upperValue(2, *e, n), 300);
    EXPECT_EQ(upperValue(3, *e, n), 240);
    for (int kind : {4, 5, 12, 13}) EXPECT_EQ(upperValue(kind, *e, n), 500);
    EXPECT_EQ(upperValue(7, *e, n), 0);
    e->lpErrors[2][1] = 700;
    EXPECT_EQ(upperValue(0, *e, n), 700);
    n.restoreNorm[1] = 0;  // a column that cannot be normalised does not count
    EXPECT_EQ(upperValue(0, *e, n), 50);
    e->lpDetectErrors[1][0] = 3600;  // rounded mean (4 + 7200) / 8 = 900; sqrt(900 / 100) = 3
    EXPECT_EQ(upperValue(2, *e, n), 3000);
}

TEST(GraphTextsTest, TimesOfTheRun) {
    EXPECT_EQ(elapsedTimeText(3725), "elapsed time 1:02:05");
    EXPECT_EQ(elapsedTimeText(36 * 3600 + 59 * 60 + 9), "elapsed time 36:59:09");
    EXPECT_EQ(elapsedTimeText(-5), "elapsed time 0:00:00");
    for (std::time_t t : {std::time_t{0}, std::time_t{86400 * 3 + 3725}, std::time_t{1700000000}}) {
        std::string classic = std::ctime(&t);
        classic.pop_back();
        EXPECT_EQ(calendarText(t), classic);
    }
}

TEST(GraphTextsTest, HeaderLinesDescribeTheRun) {
    const int16_t counts[] = {2, 4, 6, 8, 10};
    EXPECT_EQ(involvesLine(counts, 3, 3, 9), " involves  2, 4, 6 pulses from [3-9],");
    EXPECT_EQ(involvesLine(counts, 5, 3, 9), " involves  2, 4,..., 10 pulses from [3-9],");

    Errors e = makeErrors(2, 30, 100);  // no descriptor: the names print empty
    SeriesHeader s;
    s.wImpulseSize = 20;
    const std::vector<std::string> lines = headerLines(*e, s, 128, 2);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], " statistical simulation for  in series with  ");
    EXPECT_EQ(lines[3], " with length 20, amplitude 128");
    EXPECT_EQ(lines[6], " from 5 to 150 with step 5");
    EXPECT_EQ(lines[7], " detection error, componentwise case");
    EXPECT_EQ(lines[8], " for volume of  100 repeats");
    e->wNoiseLevels = 1;  // no step to show
    EXPECT_EQ(headerLines(*e, s, 128, 2)[6], "");
    // A line too long for its room breaks after a comma, never inside an item.
    const auto chars = [](const std::string& t) { return static_cast<int32_t>(t.size()); };
    EXPECT_EQ(splitToWidth("etEnergy=98277, Rmin=-72834, Rmax=61778", 30, chars),
              (std::vector<std::string>{"etEnergy=98277, Rmin=-72834,", "Rmax=61778"}));
}

class SeparationTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<std::vector<int16_t>> samples{{3, 0, 0}, {0, 0, -1}, {0, 0, 2}, {2, -2, 2}};
        etalons.resize(samples.size());
        series.lpPulsesList = std::make_unique<const PulseHeader*[]>(samples.size());
        for (size_t k = 0; k < samples.size(); ++k) {
            etalons[k].wSize = 3;
            etalons[k].lpData = std::make_unique<int16_t[]>(3);
            std::copy(samples[k].begin(), samples[k].end(), etalons[k].lpData.get());
            series.lpPulsesList[k] = &etalons[k];
        }
        series.wPulsesListSize = static_cast<uint16_t>(samples.size());
        series.wImpulseSize = 3;
        series.lpFirstEtalon = &etalons[3];
    }
    std::vector<PulseHeader> etalons;
    SeriesHeader series;
    RestErrorHeader errors;
};

TEST_F(SeparationTest, FirstEtalonEnergyAndTheShortenedCorrelationOfTheRequiredPair) {
    const uint16_t one[] = {1};
    const SeparationFigures f = separationFigures(errors, series, 1, one);
    EXPECT_EQ(f.etEnergy, 12);
    EXPECT_EQ(f.minSquare, 4);
    EXPECT_EQ(f.rMin, 0);  // (3, 0, 0) against itself
    // (3, 0, 0) against (0, 0, -1): the full overlap at shift -2 would give -3, but a negative
    // shift sums only u < L - |m|, the first etalon counting 0 before its start.
    const uint16_t pair[] = {1, 2};
    EXPECT_EQ(separationFigures(errors, series, 2, pair).rMin, 0);
    const uint16_t reversed[] = {2, 1};  // shift +2 pairs the -1 with the 3
    EXPECT_EQ(separationFigures(errors, series, 2, reversed).rMin, -3);
    const uint16_t outside[] = {0, 9};  // the first etalon (2, -2, 2) instead: shift 1 gives -8
    EXPECT_EQ(separationFigures(errors, series, 2, outside).rMin, -8);
}

TEST_F(SeparationTest, TupleRecognitionComparesEtalonsOfDifferentStoredTuples) {
    // Sizes 1 and 2, then the entries: tuple 1 is etalon 1, tuple 2 etalons 2 and 3.
    series.selectedSubsetSize.reset(new int16_t[5]{1, 2, 1, 2, 3});
    series.selectedSubsetList.reset(new int16_t*[2]{&series.selectedSubsetSize[2], &series.selectedSubsetSize[3]});
    series.wSubsetsCount = 2;
    errors.wSeriesType = 36;
    errors.wTaskType = 40;
    const SeparationFigures f = separationFigures(errors, series, 0, nullptr);
    EXPECT_EQ(f.etEnergy, 9);  // etalon 1's, not the series' first etalon's
    EXPECT_EQ(f.rMin, -3);
    EXPECT_EQ(f.rMax, 6);
    errors.wTaskType = 36;
    EXPECT_EQ(separationFigures(errors, series, 0, nullptr).rMax, 0);
}

TEST(ErrorCurvesTest, ComponentwiseCurvesPerColumn) {
    Errors e = makeErrors(2, 3, 4);
    for (int i = 0; i < 3; ++i) e->lpErrors[i][0] = 250 * i;
    const std::vector<Curve> restoring = errorCurves(0, *e, {{1000, 0}, {1, 1}}, plot(3), 500, 14);
    ASSERT_EQ(restoring.size(), 1u);  // the column without a normaliser has no curve
    EXPECT_EQ(restoring[0].points, (std::vector<GraphPoint>{{100, 250}, {100, 250}, {120, 150}, {140, 50}}));
    EXPECT_EQ(restoring[0].strokes, 2);
    EXPECT_EQ(restoring[0].label, "8");
    EXPECT_EQ(restoring[0].labelAt, (GraphPoint{160, 50 - 8}));

    e->lpDetectErrors[2][1] = 64;  // sqrt(64 / 4 / 64) = 0.5
    const std::vector<Curve> detection = errorCurves(2, *e, {{1, 1}, {64, 64}}, plot(3), 1000, 14);
    ASSERT_EQ(detection.size(), 2u);
    EXPECT_EQ(ys(detection[1]), (std::vector<int32_t>{250, 250, 250, 150}));
    EXPECT_EQ(detection[1].strokes, 3);
    EXPECT_EQ(detection[1].labelAt, (GraphPoint{160, 150 - 8}));
}

TEST(ErrorCurvesTest, SummaryCurvesAverageTheColumns) {
    Errors e = makeErrors(2, 2, 4);
    e->lpErrors[1][0] = 500;
    e->lpErrors[1][1] = 250;  // (0.5 + 0.5) / 2
    const std::vector<Curve> restoring = errorCurves(1, *e, {{1000, 500}, {1, 1}}, plot(2), 1000, 14);
    ASSERT_EQ(restoring.size(), 1u);
    EXPECT_EQ(ys(restoring[0]), (std::vector<int32_t>{250, 250, 150}));
    EXPECT_TRUE(restoring[0].label.empty());

    e->lpRecognErrors[1][0] = 1;
    e->lpRecognErrors[1][1] = 2;  // 3 * 2 * 200 / (4 * 2) = 150
    const std::vector<Curve> recognition = errorCurves(13, *e, {}, plot(2), 500, 14);
    ASSERT_EQ(recognition.size(), 1u);
    EXPECT_EQ(ys(recognition[0]), (std::vector<int32_t>{250, 250, 100}));
    EXPECT_EQ(recognition[0].label, "S");
}

TEST(ErrorCurvesTest, ValuesLieOnThePrintedAxisWhatever1000OverZIs) {
    Errors e = makeErrors(1, 3, 4);
    e->lpErrors[1][0] = 600;
    e->lpErrors[2][0] = 3000;       // 3 on the fraction scale, beyond any axis below 3000
    e->lpDetectErrors[2][0] = 256;  // sqrt(256 / 4 / 16) = 2
    e->lpRecognErrors[1][0] = 1;    // 1 / 4 = 0.25
    e->lpRecognErrors[2][0] = 4;    // 1
    // An axis of 0 .. 2 (Z = 2000): 1000 / Z is 0 in integers, yet every curve is drawn to it.
    const std::vector<Curve> restoring = errorCurves(0, *e, {{1000}, {1}}, plot(3), 2000, 14);
    ASSERT_EQ(restoring.size(), 1u);
    EXPECT_EQ(ys(restoring[0]), (std::vector<int32_t>{250, 250, 250 - 60, 250 - 300}));
    const std::vector<Curve> detection = errorCurves(2, *e, {{1}, {16}}, plot(3), 2000, 14);
    ASSERT_EQ(detection.size(), 1u);
    EXPECT_EQ(ys(detection[0]), (std::vector<int32_t>{250, 250, 250, 50}));  // 2 at the axis's top
    const std::vector<Curve> summary = errorCurves(3, *e, {{1}, {16}}, plot(3), 2000, 14);
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0].points.back().y, 50);
    // A fixed upper bound of 0.4: a quarter lies 0.25 / 0.4 of the plot high, not 0.25 * 2 of it.
    const std::vector<Curve> recognition = errorCurves(4, *e, {}, plot(3), 400, 14);
    ASSERT_EQ(recognition.size(), 1u);
    EXPECT_EQ(recognition[0].points[2].y, 250 - 125);
    EXPECT_EQ(recognition[0].points[3].y, 250 - 500);  // above the plot: cut at its top when drawn
    // Where 1000 / Z is an integer the pixels are those of the integer scale.
    EXPECT_EQ(ys(errorCurves(0, *e, {{1000}, {1}}, plot(3), 250, 14)[0]),
              (std::vector<int32_t>{250, 250, 250 - 4 * 600 * 200 / 1000, 250 - 4 * 3000 * 200 / 1000}));
}

TEST(ErrorCurvesTest, NothingToDivideByDrawsNoCurve) {
    Errors e = makeErrors(2, 3, 4);
    const Normalizers n{{1000, 1000}, {100, 100}};
    GraphGeometry invalid = plot(3);
    invalid.valid = false;
    for (int kind : {0, 1, 2, 3, 4, 5, 12, 13}) {
        EXPECT_FALSE(errorCurves(kind, *e, n, plot(3), 500, 14).empty()) << kind;
        EXPECT_TRUE(errorCurves(kind, *e, n, plot(3), 0, 14).empty()) << kind;
        EXPECT_TRUE(errorCurves(kind, *e, n, invalid, 500, 14).empty()) << kind;
    }
    EXPECT_TRUE(errorCurves(1, *e, {{1000, 0}, {1, 1}}, plot(3), 500, 14).empty());
    EXPECT_TRUE(errorCurves(3, *e, {{1, 1}, {0, 0}}, plot(3), 500, 14).empty());
    e->repeats = 0;
    for (int kind : {2, 3, 4, 5}) EXPECT_TRUE(errorCurves(kind, *e, n, plot(3), 500, 14).empty()) << kind;
}

TEST(BoundsTest, BoundsFromTheDistancesStartingAtTheSecondLevel) {
    SeparationFigures f;
    f.etEnergy = 100;
    f.rMin = -20;
    f.rMax = 30;
    f.minSquare = 4;
    // d1 = (4 * 120 + 4) / 8 = 60, g = 2 * 60 = 120.
    EXPECT_NEAR(restoringBound(f, 2, 10), 0.5 - 0.5 * std::sqrt(1 - std::exp(-1.2)), 1e-12);
    Errors e = makeErrors(1, 4, 4);
    e->wSeriesType = 8;
    e->wMakingEnergy = 75;
    // p = 75 with rMax taken as 0: d2 = (300 + 8) / 16 = 19, g = 3 * 19.
    EXPECT_NEAR(separatingBound(f, *e, 3, 10), 0.5 * std::exp(-0.57), 1e-12);
    e->wSeriesType = 36;  // p = etEnergy and rMax counts: d2 = (4 * 70 + 8) / 16 = 18
    EXPECT_NEAR(separatingBound(f, *e, 3, 10), 0.5 * std::exp(-0.54), 1e-12);

    SeriesHeader s;
    s.wMaxPulses = 2;
    s.wMinPulses = 3;
    EXPECT_TRUE(boundCurves(4, *e, s, f, plot(4), 500).empty());
    e->lpNoiseLevels[2] = 0;
    const std::vector<Curve> bounds = boundCurves(12, *e, s, f, plot(4), 500);
    ASSERT_EQ(bounds.size(), 2u);
    ASSERT_EQ(bounds[1].points.size(), 3u);  // corner, level 1, level 3
    EXPECT_EQ(bounds[1].points[0], (GraphPoint{100, 250}));
    const double b = separatingBound(f, *e, 3, 10);
    EXPECT_EQ(bounds[1].points[1], (GraphPoint{120, 250 - 2 * static_cast<int32_t>(200 * b)}));
    EXPECT_EQ(bounds[1].points[2].x, 160);
}

TEST(LabelsTest, SpreadLabelsKeepsThemApartAndWithinTheLimits) {
    auto spread = [](std::vector<int32_t> heights) {
        std::vector<Curve> curves(heights.size());
        for (size_t k = 0; k < heights.size(); ++k) {
            curves[k].label = "x";
            curves[k].labelAt = {0, heights[k]};
        }
        spreadLabels(curves, 14, 0, 400);
        for (size_t k = 0; k < heights.size(); ++k) heights[k] = curves[k].labelAt.y;
        return heights;
    };
    EXPECT_EQ(spread({300, 100, 200}), (std::vector<int32_t>{300, 100, 200}));
    EXPECT_EQ(spread({105, 100, 300}), (std::vector<int32_t>{114, 100, 300}));
    EXPECT_EQ(spread({398, 395}), (std::vector<int32_t>{400, 386}));
    EXPECT_EQ(spread({-40, -40, -40}), (std::vector<int32_t>{0, 14, 28}));
}

TEST(GraphGeometryTest, PlotSitsLeftOfTheAlphabetBoxOnItsGrid) {
    for (auto [w, h] : {std::pair{1600, 1000}, std::pair{1024, 700}, std::pair{640, 480}}) {
        LayoutState layout;
        layOutWindow({0, 0, w, h}, 13, 20, true, layout);
        const SeriesViewLayout v = layOutSeriesView(layout.rcMain, 13, 4, false);
        for (int V : {2, 5, 30, 100}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << ", V " << V);
            const GraphGeometry g = graphGeometry(v, V);
            ASSERT_TRUE(g.valid);
            EXPECT_EQ(g.gridStep % 4, 0);
            EXPECT_EQ(g.levelStep % 2, 0);
            EXPECT_EQ(g.plotLeft + g.plotW, v.boxLeft - 6 * v.leftOff + 1);
            EXPECT_GT(g.plotTop, layout.rcMain.top);
            EXPECT_LT(g.plotTop + g.plotH, layout.rcMain.bottom);
        }
        EXPECT_FALSE(graphGeometry(v, 1).valid);
    }
}

class SimulationGraphsTest : public ::testing::Test {
protected:
    void SetUp() override {
        deriveStartupSettings(s);
        prepareStartupModel(s, sink);
        s.requiredFlags.fill(0);
        s.requiredFlags[0] = s.requiredFlags[4] = 1;
        rebuildRequiredList(s);
        s.dwSeriesSize = 400;
        s.lpSeriesHeader = getCutOffSeriesHeader(sink, 20, 20, s.wTmin, s.wTmax, 400, std::move(s.lpSeriesHeader));
        s.lpRestErrorHeader = getRestErrHeader(sink, 3, 5, 4, nullptr);
        initRestErrHeader(sink, 3, 2, 1, 5, 0, 10, 4, s.lpRestErrorHeader.get());
        ASSERT_EQ(statCutoffSighting(sink, s.lpRestErrorHeader.get(), s.wAlphabetSize, s.alphabet, s.wRequiredCount,
                                     s.lpRequiredList.get(), 8, 4, 75, 75, s.lpSeriesHeader.get(), s.noiseSeed, s.seeds,
                                     {128, 2}),
                  1);
        layOutWindow({0, 0, 1024, 700}, 13, 20, true, layout);
    }

    // Whether drawing kind `kind` puts anything outside rcMain (but for half a line above it,
    // where the texts on its top edge reach).
    bool drawsOutsideTheView(int kind, const RestErrorHeader* errors, const SeriesHeader* series) {
        QImage image(1024, 700, QImage::Format_RGB32);
        image.fill(Qt::white);
        QImageCanvas canvas(image);
        PaintContext context{s, layout, 0};
        drawSimulationGraphs(context, canvas, 128, kind, s.wRequiredCount, s.lpRequiredList.get(), errors, series);
        const Rect& m = layout.rcMain;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const bool inside = x >= m.left && x <= m.right + 1 && y >= m.top - 7 && y <= m.bottom + 1;
                if (!inside && image.pixel(x, y) != qRgb(255, 255, 255)) return true;
            }
        return false;
    }

    Settings s;
    RecordingMessageSink sink;
    LayoutState layout;
};

TEST_F(SimulationGraphsTest, CurvesOfARealRunStayInsideThePlot) {
    const RestErrorHeader& e = *s.lpRestErrorHeader;
    const GraphGeometry g = graphGeometry(layOutSeriesView(layout.rcMain, 13, 2, false), e.wNoiseLevels);
    const SeparationFigures f = separationFigures(e, *s.lpSeriesHeader, s.wRequiredCount, s.lpRequiredList.get());
    for (int kind : {0, 1, 2, 3, 4, 5}) {
        const Normalizers n = makeNormalizers(kind, e.wVariousPulses, *s.lpSeriesHeader, f);
        const std::vector<Curve> curves =
            errorCurves(kind, e, n, g, tickUnit(upperValue(kind, e, n), false, 0), 14);
        EXPECT_FALSE(curves.empty()) << kind;
        for (const Curve& c : curves)
            for (const GraphPoint& p : c.points)
                EXPECT_TRUE(p.y >= g.plotTop && p.y <= g.plotTop + g.plotH) << "kind " << kind << ": " << p.y;
    }
}

TEST_F(SimulationGraphsTest, EveryKindDrawsInsideTheViewArea) {
    for (int kind : {0, 1, 2, 3, 4, 5, 12, 13})
        EXPECT_FALSE(drawsOutsideTheView(kind, s.lpRestErrorHeader.get(), s.lpSeriesHeader.get())) << kind;
    // A fixed bound far below the data keeps the curves in the plot too.
    s.fixedUpperBound = 1;
    s.upperBound = 0.001;
    EXPECT_FALSE(drawsOutsideTheView(0, s.lpRestErrorHeader.get(), s.lpSeriesHeader.get()));
}

// The layout pass finds the stored pattern tuples (task 40) where the graphs draw them, so that
// a press picks the row it lands on.
TEST_F(SimulationGraphsTest, StoredPatternTuplesAreLaidOutWhereTheyAreDrawn) {
    RestErrorHeader& e = *s.lpRestErrorHeader;
    e.wTaskType = 40;
    e.wSeriesType = 40;
    SeriesHeader& h = *s.lpSeriesHeader;
    const std::vector<int16_t> storage = {2, 3, 1, 5, 1};  // the sizes, then the shared entries
    h.selectedSubsetSize = std::make_unique<int16_t[]>(storage.size());
    std::copy(storage.begin(), storage.end(), h.selectedSubsetSize.get());
    h.selectedSubsetList = std::make_unique<int16_t*[]>(2);
    h.selectedSubsetList[0] = h.selectedSubsetList[1] = h.selectedSubsetSize.get() + 2;
    h.wSubsetsCount = 2;

    QImage image(1024, 700, QImage::Format_RGB32);
    image.fill(Qt::white);
    QImageCanvas canvas(image);
    std::vector<Rect> rows;
    ASSERT_TRUE(simulationPatternTupleRows(canvas, layout, s, 0, s.wRequiredCount, s.lpRequiredList.get(), &e, &h,
                                           rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_GE(rows[1].top, rows[0].bottom);  // one under the other
    const PaintContext context{s, layout, 0};
    drawSimulationGraphs(context, canvas, 128, 0, s.wRequiredCount, s.lpRequiredList.get(), &e, &h);
    for (const Rect& row : rows) {
        int drawn = 0;
        for (int32_t y = row.top; y <= row.bottom; ++y)
            for (int32_t x = row.left; x <= row.right; ++x) drawn += image.pixel(x, y) != qRgb(255, 255, 255);
        EXPECT_GT(drawn, 20) << row.top;
    }

    // Other tasks show no stored tuples: nothing is laid out and the rows stay as they were.
    e.wTaskType = 36;
    EXPECT_FALSE(simulationPatternTupleRows(canvas, layout, s, 0, s.wRequiredCount, s.lpRequiredList.get(), &e, &h,
                                            rows));
    EXPECT_EQ(rows.size(), 2u);
}

TEST_F(SimulationGraphsTest, DegenerateResultsDrawWithoutFailing) {
    RestErrorHeader& e = *s.lpRestErrorHeader;
    EXPECT_FALSE(drawsOutsideTheView(0, nullptr, s.lpSeriesHeader.get()));
    EXPECT_FALSE(drawsOutsideTheView(0, &e, nullptr));
    e.repeats = 0;
    for (int kind : {2, 3, 5, 13}) EXPECT_FALSE(drawsOutsideTheView(kind, &e, s.lpSeriesHeader.get())) << kind;
    e.repeats = 4;
    e.wNoiseLevels = 1;
    for (int kind : {0, 12}) EXPECT_FALSE(drawsOutsideTheView(kind, &e, s.lpSeriesHeader.get())) << kind;
    e.wNoiseLevels = 5;
    e.wVariousPulses = 0;
    for (int kind : {1, 3, 5}) EXPECT_FALSE(drawsOutsideTheView(kind, &e, s.lpSeriesHeader.get())) << kind;
    e.wVariousPulses = 3;
    SeriesHeader empty;  // no etalons, Tmax = L: every normaliser is 0
    empty.wImpulseSize = empty.wTmax = 20;
    for (int kind : {0, 1, 2, 3, 12}) EXPECT_FALSE(drawsOutsideTheView(kind, &e, &empty)) << kind;
    layOutWindow({0, 0, 200, 150}, 13, 20, true, layout);  // no room for a grid
    for (int kind : {0, 13}) drawsOutsideTheView(kind, &e, s.lpSeriesHeader.get());  // draws, whatever it draws
}
