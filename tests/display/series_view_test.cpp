#include "display/series_view.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/startup_model.h"
#include "display/layout.h"
#include "display/views.h"
#include "platform/qt/image_canvas.h"
#include "processing/dispatch.h"
#include "tests/display/text_log.h"

namespace {

/// Records texts and rectangles, ignores the rest; text is 7 pixels a character, 14 high.
struct Recorder : TextLog {
    std::vector<Rect> rectangles;
    void rectangle(const Rect& r) override { rectangles.push_back(r); }
    int32_t width() const override { return 4000; }
    int32_t height() const override { return 4000; }
    const Entry* find(const std::string& prefix) const {
        for (const Entry& e : texts)
            if (e.text.rfind(prefix, 0) == 0) return &e;
        return nullptr;
    }
};

PulseHeader makeEtalon(uint16_t number, std::vector<int16_t> samples) {
    PulseHeader e;
    e.wNumber = number;
    e.wSize = e.wAllocatedSize = static_cast<uint16_t>(samples.size());
    e.lpData = std::make_unique<int16_t[]>(e.wAllocatedSize);
    std::copy(samples.begin(), samples.end(), e.lpData.get());
    return e;
}

/// N samples, etalons 1 {10, 20, 30, 40} and 2 {-5, -5, -5, -5}, pulses as the test adds.
struct Series {
    std::array<PulseHeader, 2> etalons{makeEtalon(1, {10, 20, 30, 40}), makeEtalon(2, {-5, -5, -5, -5})};
    std::vector<int16_t> pure, noisy, pos[2], et[2], cs[2], ce[2], groupFirst, groupLast;
    SeriesHeader h;
    explicit Series(int32_t N) : pure(static_cast<size_t>(N)), noisy(static_cast<size_t>(N)) {
        h.dwSeriesSize = N;
        h.wImpulseSize = 4;
        h.wAmplitude = 128;
        h.lpPulsesList = std::make_unique<const PulseHeader*[]>(2);
        h.lpPulsesList[0] = &etalons[0], h.lpPulsesList[1] = &etalons[1];
        h.wPulsesListSize = 2;
    }
    /// found 0: a true pulse, 1: a detected one.
    Series& add(int found, int16_t p, int16_t e, int16_t cutStart = 0, int16_t cutEnd = 3) {
        pos[found].push_back(p), et[found].push_back(e), cs[found].push_back(cutStart), ce[found].push_back(cutEnd);
        return *this;
    }
    SeriesHeader& bind() {
        h.lpPureData = pure.data(), h.lpNoisyData = noisy.data();
        h.lpTruePosition = pos[0].data(), h.lpTrueEtalon = et[0].data();
        h.lpTrueCutStart = cs[0].data(), h.lpTrueCutEnd = ce[0].data();
        h.lpFoundPosition = pos[1].data(), h.lpFoundEtalon = et[1].data();
        h.lpFoundCutStart = cs[1].data(), h.lpFoundCutEnd = ce[1].data();
        h.wImpulseQuantity = static_cast<uint16_t>(pos[0].size());
        h.wFoundPulses = static_cast<uint16_t>(pos[1].size());
        h.lpFoundGroupPosition = groupFirst.data(), h.lpFoundGroupValue = groupLast.data();
        h.wFoundGroups = static_cast<int16_t>(groupFirst.size());
        h.wAllocatedPulses = 40;
        return h;
    }
};

using Chains = std::unique_ptr<ChainsHeader>;

Chains makeChains(uint16_t seriesType, uint16_t taskType, uint16_t descriptor = 2,
                  std::vector<ChainPulse> best = {}, int32_t distance = -100) {
    RecordingMessageSink sink;
    Chains c = getChainsHeader(sink, 6, 30, nullptr);
    c->wDescriptorCount = descriptor, c->wSeriesType = seriesType, c->wTaskType = taskType;
    c->lpTaskName = "detection", c->lpSeriesTypeName = "cut-off pulses";
    c->wMakingEnergy = 75, c->wProcessingEnergy = 60;
    if (!best.empty()) insertChain(*c, distance, best);
    c->wSeekingPulsesQuantity = static_cast<uint16_t>(best.size());
    return c;
}

}  // namespace

// ---- Texts -----------------------------------------------------------------------------------

TEST(SeriesTextsTest, DetectedLineCountsAndSingular) {
    Series s(100);
    s.add(0, 10, 1).add(0, 40, 1).add(1, 10, 1).add(1, 41, 2);
    EXPECT_EQ(detectedPulsesText(s.bind(), 4, 4, false), "Detected 2 pulses:  10 41");
    EXPECT_EQ(detectedPulsesText(s.h, 4, 2, true), "Detected 2 pulses:  10a[0..3] 41b[0..3]");
    s.h.wFoundPulses = 1;
    EXPECT_EQ(detectedPulsesText(s.h, 4, 4, false), "Detected 1 (2) pulse:  10");
}

TEST(SeriesTextsTest, ListsStopAfterNinePulsesOrAtATupleStartingPastPulseNineteen) {
    Series s(2000);
    for (int16_t m = 0; m < 25; ++m) s.add(1, static_cast<int16_t>(10 * m), 1);
    s.groupFirst = {1, 4, 19, 20};
    s.groupLast = {3, 18, 19, 25};
    s.bind();
    EXPECT_EQ(detectedPulsesText(s.h, 4, 4, false), "Detected 25 (0) pulses:  0 10 20 30 40 50 60 70 80 ... ");
    const std::string tuples = detectedPulsesText(s.h, 36, 40, true);
    EXPECT_EQ(tuples.substr(0, 40), "Detected 25 (0) pulses:  {0a 10a 20a}  {");
    EXPECT_EQ(tuples.substr(tuples.size() - 19), "170a}  {180a}  ... ");
    EXPECT_EQ(detectedPulsesText(s.h, 4, 40, false).substr(0, 30), "Detected 25 (0) pulses:  0 10 ");
}

TEST(SeriesTextsTest, HeaderLines) {
    Series s(4000);
    for (int16_t i = 0; i < 20; ++i) s.add(0, static_cast<int16_t>(100 * i), static_cast<int16_t>(1 + i % 2), 1, 2);
    s.bind();
    const std::string pulses = truePulsesText(s.h, 8, true);
    EXPECT_EQ(pulses.substr(0, 30), " pulses: 0a[1..2]  100b[1..2] ");
    EXPECT_EQ(pulses.substr(pulses.size() - 16), " 1800a[1..2] ...");
    EXPECT_EQ(truePulsesText(s.h, 4, false).substr(0, 19), " pulses: 0 100 200 ");
    s.h.wMinPulses = 6, s.h.wMaxPulses = 30;
    EXPECT_EQ(pulsesNumberText(s.h, *makeChains(8, 4)),
              " pulses number 20 [6-30], length 4, saved energy level for making/processing 75/60");
    EXPECT_EQ(pulsesNumberText(s.h, *makeChains(4, 4)), " pulses number 20 [6-30], length 4");
    EXPECT_EQ(pulsesNumberText(s.h, *makeChains(8, 4, 0)), " pulses number 20 [6-30], length 4");
    EXPECT_EQ(taskTitleText(*makeChains(8, 4)), " detection for series with cut-off pulses ");
    SeriesFigures f;
    f.amplitude = 128;
    EXPECT_NE(seriesInfoText(s.h, f).find(" amplitude 128, noise level 0, allN/S 0,  N/S 0"), std::string::npos);
    f.pureEnergy = 3, f.noiseEnergy = 1, f.pulseNoiseEnergy = 2;
    EXPECT_NE(seriesInfoText(s.h, f).find("allN/S 0.333,  N/S 0.667"), std::string::npos);
}

TEST(SeriesTextsTest, AlphabetTitle) {
    EXPECT_EQ(alphabetTitleText(20, 150), " Alphabet, 20 items ");
    EXPECT_EQ(alphabetTitleText(1, 150), " Alphabet, 1 item ");
    EXPECT_EQ(alphabetTitleText(1, 99), " Alph: 1 ");
}

TEST(SeriesTextsTest, ChainTable) {
    EXPECT_EQ(chainTableHeader(*makeChains(8, 2), true).left, " n et  measure ");
    EXPECT_EQ(chainTableHeader(*makeChains(8, 2), true).right, "  positions of etalons in series");
    EXPECT_EQ(chainTableHeader(*makeChains(8, 4), false).right, "  positions and names of etalons in series");
    EXPECT_EQ(chainTableHeader(*makeChains(8, 2, 0), true).right, "  positions and names of etalons in series");

    auto c = makeChains(8, 2, 2, {{12, 2, 1, 3}, {50, 2, 0, 2}}, -4321);
    std::vector<ChainPulse> many;
    for (int16_t p = 0; p < 20; ++p) many.push_back({static_cast<int16_t>(10 * p), 1, 0, 3});
    insertChain(*c, 77, many);
    EXPECT_EQ(chainRowText(*c, 0, true).left, " 1.  b     -4321");
    EXPECT_EQ(chainRowText(*c, 0, true).right, "  12 [1..3]   50 [0..2] ");
    const TableLine second = chainRowText(*c, 1, true);
    EXPECT_EQ(second.left, " 2.  a        77");
    EXPECT_EQ(second.right.substr(second.right.size() - 18), "  180 [0..3]  ... ");
    EXPECT_EQ(chainRowText(*makeChains(4, 4, 2, {{12, 2, 1, 3}}), 0, false).right, "  12b");

    Series s(100);
    s.add(0, 5, 2).add(0, 30, 1, 1, 2);
    const TableLine truth = trueLayoutRowText(s.bind(), *makeChains(2, 2), 123, false);
    EXPECT_EQ(truth.left, " 0.  b       123");
    EXPECT_EQ(truth.right, "  5 [0..3]   30 [1..2] ");
}

TEST(SeriesTextsTest, FitTextCutsBetweenItems) {
    Recorder dc;
    EXPECT_EQ(fitText(dc, "  12 [1..3]   50 [0..2] ", 7 * 20), "  12 [1..3]  ");
    EXPECT_EQ(fitText(dc, "Detected 3 pulses:  10 20 30", 7 * 24), "Detected 3 pulses:  10");
    EXPECT_EQ(fitText(dc, "abcdefgh", 7 * 3), "abc");
}

// ---- Figures and measures --------------------------------------------------------------------

TEST(SeriesMeasuresTest, RestorationErrorAgainstTheBestChain) {
    Series s(20);
    s.pure[3] = 20, s.pure[4] = 30, s.pure[5] = 40;   // etalon 1 at 2, samples 1..3 kept
    std::fill(s.pure.begin() + 10, s.pure.begin() + 14, -5);   // etalon 2 at 10
    s.bind();
    EXPECT_EQ(restorationError(s.h, *makeChains(8, 4)), 400 + 900 + 1600 + 100);
    EXPECT_EQ(restorationError(s.h, *makeChains(8, 4, 2, {{2, 1, 1, 3}, {10, 2, 0, 3}})), 0);
    EXPECT_EQ(restorationError(s.h, *makeChains(8, 4, 2, {{2, 1, 0, 3}, {10, 2, 0, 3}})), 100);
    auto shifted = makeChains(8, 4, 2, {{2, 1, 1, 3}, {11, 2, 0, 3}});
    EXPECT_EQ(restorationError(s.h, *shifted), 25 + 25);
    shifted->wSeekingPulsesQuantity = 1;   // only the pulses of the run count
    EXPECT_EQ(restorationError(s.h, *shifted), 100);
    // An overlapping pulse is taken only from the sample after the one before it ends.
    Series z(12);
    EXPECT_EQ(restorationError(z.bind(), *makeChains(8, 4, 2, {{0, 2, 0, 3}, {2, 1, 0, 3}})),
              4 * 25 + 900 + 1600);   // samples 4 and 5 are samples 2 and 3 of the second
}

TEST(SeriesMeasuresTest, TrueLayoutMeasureOverTheKeptSamples) {
    Series s(20);
    s.add(0, 2, 1, 1, 2).add(0, 10, 2);
    s.noisy[3] = 7, s.noisy[4] = -1, s.noisy[10] = 3;
    const int32_t expected = (20 - 14) * 20 + (30 + 2) * 30 + (-5 - 6) * -5 + 3 * 25;
    EXPECT_EQ(trueLayoutMeasure(s.bind()), expected);
    s.add(0, 18, 1);   // runs past the end: only samples 18 and 19 count
    s.noisy[18] = 1;
    EXPECT_EQ(trueLayoutMeasure(s.bind()), expected + (10 - 2) * 10 + 20 * 20);
}

TEST(SeriesMeasuresTest, FiguresEnergiesAmplitudeScaleAndNames) {
    Series s(10);
    s.pure[1] = 3, s.noisy[1] = 5, s.noisy[7] = -4;
    s.add(0, 0, 1).add(1, 0, 0);
    s.bind();
    auto plain = makeChains(8, 4, 0);
    SeriesFigures f = deriveSeriesFigures(s.h, *plain);
    EXPECT_EQ(f.pureEnergy, 9);
    EXPECT_EQ(f.noiseEnergy, 4 + 16);
    EXPECT_EQ(f.pulseNoiseEnergy, 4);
    EXPECT_EQ(f.graphScale, 128 + 16);
    EXPECT_FALSE(f.showNames);
    s.h.wAmplitude = 0, s.h.wNoiseSigma = 300;
    f = deriveSeriesFigures(s.h, *plain);
    EXPECT_EQ(f.amplitude, 512);
    EXPECT_EQ(f.graphScale, 800 + 100);   // 300 * 8 / 3 exceeds the amplitude
    s.et[1][0] = 2;
    EXPECT_TRUE(deriveSeriesFigures(s.h, *plain).showNames);
    EXPECT_FALSE(deriveSeriesFigures(s.h, *makeChains(8, 1)).showNames);
    s.et[1][0] = 0;
    EXPECT_TRUE(deriveSeriesFigures(s.h, *makeChains(8, 2)).showNames);
}

TEST(SeriesMeasuresTest, NoiseFiguresStayExactAtTheLargestNoiseLevels) {
    // Noise of about 5000 on 1200 samples: the squares sum to some 3e10, past 32 bits.
    Series s(1200);
    for (int k = 0; k < 1200; ++k) {
        s.pure[k] = static_cast<int16_t>(k % 2 ? 100 : -100);
        s.noisy[k] = static_cast<int16_t>(s.pure[k] + (k % 3 ? 5000 : -5000));
    }
    s.add(0, 0, 1);
    s.bind();
    const SeriesFigures f = deriveSeriesFigures(s.h, *makeChains(8, 4, 0));
    EXPECT_EQ(f.pureEnergy, int64_t{1200} * 100 * 100);
    EXPECT_EQ(f.noiseEnergy, int64_t{1200} * 5000 * 5000);
    s.h.wNoiseSigma = 5000;
    EXPECT_NE(seriesInfoText(s.h, f).find("noise level 5000, allN/S 2.5e+03"), std::string::npos)
        << seriesInfoText(s.h, f);
}

// ---- Layout ----------------------------------------------------------------------------------

TEST(SeriesLayoutTest, FieldsAlphabetBoxAndPatternBoxes) {
    const Rect main{10, 10, 1009, 809};   // 1000 x 800
    SeriesViewLayout g = layOutSeriesView(main, 15, 20, false);
    EXPECT_EQ(g.plotH, 174);               // (800 - 270) * 330 / 1000
    EXPECT_EQ(g.boxH, 809 - (10 + 12 + 7) - 15);   // ten rows do not fit: refitted to the height
    EXPECT_EQ(g.cellH, (g.boxH - 24) / 10 - 21);
    EXPECT_EQ(alphabetCell(g, 10).left, g.boxLeft + 12 + 74);   // column by column
    EXPECT_EQ(alphabetCell(g, 10).top, g.boxTop + 12);
    EXPECT_EQ(layOutSeriesView(main, 16, 3, true).plotH, 112);
    EXPECT_EQ(layOutSeriesView({0, 0, 999, 802}, 16, 3, false).plotH, 170);   // 169 made even

    g = layOutSeriesView(main, 15, 4, false);
    PatternBox b;
    ASSERT_TRUE(singlePatternBox(g, 3, 100, b));
    EXPECT_EQ(b.top, 809 - b.bh - g.gap);   // the alphabet box has fewer than 8 rows
    ASSERT_TRUE(singlePatternBox(g, 20, 100, b));
    EXPECT_EQ(b.bw, ((800 - 5) / 20 - 4 + 4) * 20 + 5);   // refitted to the field width
    ASSERT_TRUE(singlePatternBox(g, 1, 300, b));
    EXPECT_EQ(b.bw, 320);                  // at least the caption and 20
    EXPECT_FALSE(singlePatternBox(g, 0, 100, b));
    EXPECT_FALSE(storedPatternBox(g, 2, 0, 100, b));
}

// ---- The view --------------------------------------------------------------------------------

namespace {
class SeriesViewTest : public ::testing::Test {
protected:
    SeriesViewTest() {
        layout.lineHeight = 15;
        layout.rcMain = {10, 10, 1009, 809};
    }
    void draw(Canvas& dc, const SeriesHeader* s, const ChainsHeader* c, std::vector<uint16_t> required = {1, 2}) {
        PaintContext context{settings, layout, 0};
        drawSeriesView(context, dc, static_cast<uint16_t>(required.size()), required.data(), c, s);
    }
    Settings settings;
    LayoutState layout;
};
}  // namespace

TEST_F(SeriesViewTest, PlacesHeaderResultTableAndAlphabet) {
    Series s(100);
    s.add(0, 5, 2).add(0, 30, 1, 1, 2).add(1, 5, 2).add(1, 31, 1);
    auto c = makeChains(8, 4, 2, {{5, 2, 0, 3}, {31, 1, 0, 3}});
    Recorder dc;
    draw(dc, &s.bind(), c.get());
    const SeriesViewLayout g = layOutSeriesView(layout.rcMain, 15, 2, false);
    const int top = 10 - 7;
    ASSERT_NE(dc.find(" detection for series"), nullptr);
    EXPECT_EQ(dc.find(" detection for series")->x, g.x0);
    EXPECT_EQ(dc.find(" detection for series")->y, top);
    EXPECT_EQ(dc.find(" pulses:")->y, top + 16 + 30);
    EXPECT_EQ(dc.find("Detected 2 pulses:")->y, g.textTop);
    ASSERT_NE(dc.find("Restore Error 3100. "), nullptr);   // the pure series is 0
    EXPECT_EQ(dc.find("Restore Error 3100. ")->y, g.textTop + 15);
    EXPECT_EQ(dc.find(" 1. ")->y, g.textTop + 30 + 16);
    EXPECT_EQ(dc.find(" 0. ")->y, g.textTop + 30 + 16 + 15 + 4);
    EXPECT_EQ(dc.find("  5b [0..3] ")->x, g.x0 + 100);
    ASSERT_NE(dc.find(" Alphabet, 2 items "), nullptr);
    EXPECT_EQ(dc.find(" Alphabet, 2 items ")->x, g.boxLeft + 7);
    EXPECT_EQ(dc.find(" Alphabet, 2 items ")->y, g.boxTop - g.topOff);
    EXPECT_EQ(dc.rectangles.size(), 4u);   // three framed fields and the alphabet box

    // A detection without an etalon drops the restored field; the special size drops frames.
    s.et[1][1] = 0;
    dc.rectangles.clear();
    draw(dc, &s.h, c.get());
    EXPECT_EQ(dc.rectangles.size(), 3u);
    settings.specialGraphSize = 1;
    dc.rectangles.clear();
    draw(dc, &s.h, c.get());
    EXPECT_EQ(dc.rectangles.size(), 1u);
}

TEST_F(SeriesViewTest, StoredTuplesAreLaidOutAsDrawnWithTheirCaption) {
    Series s(400);
    s.add(0, 5, 1).add(0, 50, 2);
    const std::vector<int16_t> storage = {2, 3, 1, 2, 1};   // the sizes, then the shared entries
    s.h.selectedSubsetSize = std::make_unique<int16_t[]>(storage.size());
    std::copy(storage.begin(), storage.end(), s.h.selectedSubsetSize.get());
    s.h.selectedSubsetList = std::make_unique<int16_t*[]>(2);
    s.h.selectedSubsetList[0] = s.h.selectedSubsetList[1] = s.h.selectedSubsetSize.get() + 2;
    s.h.wSubsetsCount = 2;
    auto c = makeChains(40, 40);
    Recorder dc;
    const std::vector<uint16_t> required = {1, 2};
    ASSERT_TRUE(patternTupleRows(dc, layout, false, 2, required.data(), c.get(), &s.bind(), layout.rcPatternTuples));
    draw(dc, &s.bind(), c.get());
    PatternBox b;
    ASSERT_TRUE(storedPatternBox(layOutSeriesView(layout.rcMain, 15, 2, false), 2, 3, 7 * 16, b));
    ASSERT_EQ(layout.rcPatternTuples.size(), 2u);
    EXPECT_EQ(layout.rcPatternTuples[1].top, storedRowRect(b, 1).top);
    EXPECT_EQ(layout.rcPatternTuples[0].right, storedRowRect(b, 0).right);
    ASSERT_NE(dc.find(" pattern tuples "), nullptr);
    EXPECT_EQ(dc.find(" pattern tuples ")->x, b.left + b.bw - 7 * 16 - 10);
    EXPECT_EQ(dc.find(" pattern tuples ")->y, b.top - (7 + 3));
}

TEST_F(SeriesViewTest, MissingOrDegenerateInputDrawsWithoutFailing) {
    Recorder dc;
    draw(dc, nullptr, nullptr);
    EXPECT_TRUE(dc.texts.empty());
    Series one(1);
    one.add(0, 0, 1).add(1, 0, 1);
    draw(dc, &one.bind(), nullptr, {});
    EXPECT_NE(dc.find(" Alphabet, 0 items "), nullptr);
    EXPECT_EQ(dc.find("Restore Error "), nullptr);
    Series zero(50);
    zero.h.wAmplitude = 0, zero.h.wNoiseSigma = -3;
    zero.h.wSelectedSubsetSize = 2;   // without entries
    draw(dc, &zero.bind(), makeChains(36, 1).get(), {1, 2, 9});   // etalon 9 is not in the list
}

TEST_F(SeriesViewTest, ProcessedSeriesPaintsItsCurvesAndFrame) {
    RecordingMessageSink sink;
    deriveStartupSettings(settings);
    buildStartupModel(settings, sink);
    addNoise(sink, settings.lpSeriesHeader.get(), 20, settings.noiseSeed);
    settings.lpChainsHeader = getChainsHeader(sink, settings.wChainsCapacity, settings.wChainsPulses, nullptr);
    const std::vector<uint16_t> required(settings.lpRequiredList.get(),
                                         settings.lpRequiredList.get() + settings.wRequiredCount);
    ProcessingInput input;
    input.candidates = required;
    input.Tmin = settings.wTmin, input.Tmax = settings.wTmax, input.pct = settings.wSavedEnergyProcess;
    runRoutine(Routine::detectPulsesUnfixed, sink, settings.alphabet, input, settings.lpChainsHeader.get(),
               *settings.lpSeriesHeader.get());
    addToChainsHeader(sink, 8, 4, 75, 75, settings.lpChainsHeader.get());
    const SeriesHeader& s = *settings.lpSeriesHeader;
    ASSERT_GT(s.wFoundPulses, 0);

    QImage image(1200, 800, QImage::Format_RGB32);
    image.fill(Qt::white);
    QImageCanvas dc(image);
    layOutWindow({0, 0, 1200, 800}, dc.metrics().height - 1, settings.wAlphabetSize, true, layout);
    draw(dc, &s, settings.lpChainsHeader.get(), required);
    const SeriesViewLayout g = layOutSeriesView(layout.rcMain, layout.lineHeight, settings.wRequiredCount, false);
    auto count = [&](const Rect& r, QRgb colour) {
        int n = 0;
        for (int y = r.top + 1; y < r.bottom; ++y)
            for (int x = r.left + 1; x < r.right; ++x) n += image.pixel(x, y) == colour;
        return n;
    };
    EXPECT_GT(count(g.fields[1], qRgb(0, 0, 255)), g.plotW);   // the noisy series
    EXPECT_GT(count(g.fields[0], qRgb(0, 0, 0)), 500);         // curves and shading
    EXPECT_EQ(image.pixel(g.fields[2].right, g.fields[2].top + 2), qRgb(0, 0, 0));   // the frame
    EXPECT_EQ(image.pixel(g.fields[2].right + 1, g.fields[2].top + 2), qRgb(255, 255, 255));
}
