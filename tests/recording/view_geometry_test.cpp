#include "recording/view_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

MinMax bruteForce(const std::vector<float>& s, int64_t first, int64_t last) {
    const auto [low, high] = std::minmax_element(s.begin() + first, s.begin() + last);
    return {*low, *high};
}

TEST(SignalSummary, ExtremesOfEveryStretchMatchAPlainScan) {
    std::mt19937 random(7);
    for (int64_t n : {1, 15, 16, 17, 1000, 65537}) {
        std::vector<float> samples(n);
        std::uniform_real_distribution<float> value(-1000, 1000);
        for (float& s : samples) s = value(random);
        const SignalSummary summary(samples);
        EXPECT_EQ(summary.size(), n);
        const MinMax whole = summary.whole(), expected = bruteForce(samples, 0, n);
        EXPECT_EQ(whole.low, expected.low);
        EXPECT_EQ(whole.high, expected.high);
        std::uniform_int_distribution<int64_t> at(0, n);
        for (int trial = 0; trial < 400; ++trial) {
            int64_t a = at(random), b = at(random);
            if (a > b) std::swap(a, b);
            if (a == b) continue;
            const MinMax got = summary.range(a, b), want = bruteForce(samples, a, b);
            ASSERT_EQ(got.low, want.low) << n << ": " << a << ".." << b;
            ASSERT_EQ(got.high, want.high) << n << ": " << a << ".." << b;
        }
    }
}

TEST(SignalSummary, StretchesAreCutToTheSignal) {
    const std::vector<float> samples = {3, -2, 8, 1};
    const SignalSummary summary(samples);
    EXPECT_EQ(summary.range(-5, 2).low, -2);
    EXPECT_EQ(summary.range(2, 99).high, 8);
    EXPECT_EQ(summary.range(3, 3).low, 0);
    EXPECT_EQ(SignalSummary().size(), 0);
}

TEST(ColumnExtremes, EachColumnCoversItsOwnSamples) {
    std::vector<float> samples(10000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>((i * 7919) % 1009);
    const SignalSummary summary(samples);
    ViewState view{10000, 300, 1234.5, 7.25};
    const std::vector<MinMax> columns = columnExtremes(summary, view);
    ASSERT_EQ(columns.size(), 300u);
    for (int c = 0; c < 300; ++c) {
        const int64_t first = static_cast<int64_t>(1234.5 + c * 7.25), last = static_cast<int64_t>(1234.5 + (c + 1) * 7.25);
        const MinMax want = bruteForce(samples, first, last);
        ASSERT_EQ(columns[c].low, want.low) << c;
        ASSERT_EQ(columns[c].high, want.high) << c;
    }
    // A view reaching past the end stops at the last sample.
    view = ViewState{10000, 300, 9000, 10};
    EXPECT_EQ(columnExtremes(summary, view).size(), 100u);
}

// The posterior lane: zoomed out a lone spike fills its own column only; zoomed in each column
// shows the position under it; probabilities beyond 0..1 are cut; columns past the last
// position are left out.
TEST(LaneColumns, EachColumnSpansTheRowsOfItsPositionsExtremes) {
    std::vector<float> posterior(1000, 0.0f);
    posterior[505] = 1;
    posterior[600] = 0.5f;
    posterior[700] = 1.5f;
    posterior[800] = -0.2f;
    posterior[900] = std::nanf("");
    const SignalSummary summary(posterior);
    const std::vector<LaneColumn> out = laneColumns(summary, ViewState{1000, 100, 0, 10}, 41);
    ASSERT_EQ(out.size(), 100u);
    EXPECT_EQ(out[50].top, 0);
    EXPECT_EQ(out[50].bottom, 40);
    EXPECT_EQ(out[49].top, 40);
    EXPECT_EQ(out[51].top, 40);
    EXPECT_EQ(out[60].top, 20);
    EXPECT_EQ(out[70].top, 0);
    for (int c : {80, 90}) {
        EXPECT_EQ(out[c].top, 40) << c;
        EXPECT_EQ(out[c].bottom, 40) << c;
    }
    // Four columns per position from position 503: columns 8..11 show position 505.
    const std::vector<LaneColumn> in = laneColumns(summary, ViewState{1000, 20, 503, 0.25}, 41);
    ASSERT_EQ(in.size(), 20u);
    for (int c = 0; c < 20; ++c) EXPECT_EQ(in[c].top, c >= 8 && c < 12 ? 0 : 40) << c;
    // Positions end before the signal does (the longest shape's length less one).
    EXPECT_EQ(laneColumns(summary, ViewState{1200, 100, 900, 2}, 41).size(), 50u);
}

TEST(PulseNear, TheNearestPulseWithinTheSlackCountingItsKeptSamples) {
    std::vector<DetectedPulse> pulses(2);
    pulses[0].position = 100;  // keeps 100..119
    pulses[0].cutEnd = 19;
    pulses[1].position = 130;  // keeps 135..149
    pulses[1].cutStart = 5;
    pulses[1].cutEnd = 19;
    EXPECT_EQ(pulseNear(pulses, 110.5, 0), 0u);
    EXPECT_EQ(pulseNear(pulses, 126, 10), 0u);
    EXPECT_EQ(pulseNear(pulses, 131, 10), 1u);
    EXPECT_FALSE(pulseNear(pulses, 131, 2));
    EXPECT_FALSE(pulseNear(pulses, 160, 3));
    EXPECT_FALSE(pulseNear({}, 0, 100));
}

TEST(ViewState, ZoomAndScrollStayInsideTheSignalAndKeepTheAnchor) {
    const ViewState fitted = fittedView(100000, 1000);
    EXPECT_DOUBLE_EQ(fitted.samplesPerPixel, 100);
    EXPECT_EQ(visibleSamples(fitted).first, 0);
    EXPECT_EQ(visibleSamples(fitted).last, 100000);
    // Zooming out of the fitted view changes nothing.
    const ViewState out = zoomedView(fitted, 0.5, 300);
    EXPECT_DOUBLE_EQ(out.samplesPerPixel, 100);
    EXPECT_DOUBLE_EQ(out.first, 0);

    ViewState v = zoomedView(fitted, 4, 300);
    EXPECT_DOUBLE_EQ(v.samplesPerPixel, 25);
    EXPECT_NEAR(pixelToSample(v, 300), 30000, 1e-9);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> factor(0.2, 5), pixel(-50, 1050), move(-3000, 3000);
    for (int step = 0; step < 2000; ++step) {
        const double before = pixelToSample(v, 500);
        switch (step % 3) {
        case 0: v = zoomedView(v, factor(random), pixel(random)); break;
        case 1: v = scrolledView(v, move(random)); break;
        default: v = viewAtScrollValue(v, scrollBarOf(v).value); break;
        }
        ASSERT_GE(v.samplesPerPixel, 1 / maxPixelsPerSample) << step;
        ASSERT_LE(v.samplesPerPixel, 100 + 1e-9) << step;
        ASSERT_GE(v.first, 0) << step;
        ASSERT_LE(v.first + v.samplesPerPixel * v.width, 100000 * (1 + 1e-12)) << step;
        const SampleSpan span = visibleSamples(v);
        ASSERT_LE(0, span.first);
        ASSERT_LE(span.first, span.last);
        ASSERT_LE(span.last, 100000);
        const ScrollBarState bar = scrollBarOf(v);
        ASSERT_GE(bar.value, 0);
        ASSERT_LE(bar.value, bar.maximum);
        ASSERT_EQ(bar.maximum + bar.page, std::max<int64_t>(100000, bar.page)) << step;
        if (step % 3 == 2) {
            ASSERT_NEAR(pixelToSample(v, 500), before, 1.0) << "a scroll bar round trip moved the view";
        }
    }
    // Centring on a sample near the end keeps the view inside the signal.
    v = centredView(zoomedView(fitted, 10, 0), 99990);
    EXPECT_EQ(visibleSamples(v).last, 100000);
    // A narrower area keeps the start and the zoom.
    ViewState narrow = resizedView(zoomedView(fitted, 10, 0), 500);
    EXPECT_DOUBLE_EQ(narrow.samplesPerPixel, 10);
    // A signal shorter than the width is fitted at the closest zoom or less.
    EXPECT_DOUBLE_EQ(fittedView(10, 1000).samplesPerPixel, 1 / maxPixelsPerSample);
}

TEST(ViewState, DragsSelectTheSamplesUnderThePointer) {
    const ViewState v{1000, 100, 200, 2};
    SampleSpan span = dragToSamples(v, 10, 20);
    EXPECT_EQ(span.first, 220);
    EXPECT_EQ(span.last, 240);
    span = dragToSamples(v, 20, 10);  // backwards
    EXPECT_EQ(span.first, 220);
    EXPECT_EQ(span.last, 240);
    span = dragToSamples(v, -200, 1000);  // cut to the signal
    EXPECT_EQ(span.first, 0);
    EXPECT_EQ(span.last, 1000);
    EXPECT_DOUBLE_EQ(sampleToPixel(v, pixelToSample(v, 37.5)), 37.5);
}

TEST(AxisTicks, StepsOfOneTwoOrFiveTimesAPowerOfTen) {
    AxisTicks t = axisTicks(0, 10, 5);
    EXPECT_DOUBLE_EQ(t.step, 2);
    EXPECT_EQ(t.values, (std::vector<double>{0, 2, 4, 6, 8, 10}));
    t = axisTicks(0.013, 0.061, 4);
    EXPECT_DOUBLE_EQ(t.step, 0.02);
    ASSERT_EQ(t.values.size(), 3u);
    EXPECT_EQ(tickText(t.values[0], t.step), "0.02");
    // Sample axes never tick between samples.
    t = axisTicks(10, 12, 10, 1);
    EXPECT_DOUBLE_EQ(t.step, 1);
    EXPECT_EQ(t.values, (std::vector<double>{10, 11, 12}));
    EXPECT_TRUE(axisTicks(5, 5, 4).values.empty());
    EXPECT_EQ(tickText(-1e-17, 0.5), "0.0");
    EXPECT_EQ(tickText(1200, 500), "1200");
}

TEST(SecondsText, ResolvesOneSampleAtTheRate) {
    struct Case {
        int64_t sample;
        double rate;
        const char* text;
    };
    for (const Case& c : {Case{1800, 1, "1800"}, Case{125, 1000, "0.125"}, Case{123456789, 44100, "2799.47367"},
                          Case{7, 0.5, "14"}, Case{3, 8000, "0.0004"}})
        EXPECT_EQ(secondsText(c.sample, c.rate), c.text) << c.sample << " at " << c.rate;
}

TEST(WindowSize, FitsTheRoomTheScreenLeaves) {
    const WindowSize preferred{1200, 760}, minimum{720, 480}, frame{16, 40};
    struct Case {
        WindowSize available, size, least;
    };
    for (const Case& c : {Case{{1920, 1050}, {1200, 760}, {720, 480}},    // room to spare
                          Case{{1024, 740}, {1008, 700}, {720, 480}},     // 1024x768 less a task bar
                          Case{{800, 560}, {784, 520}, {720, 480}},
                          Case{{640, 440}, {624, 400}, {624, 400}},       // below the minimum: the minimum shrinks too
                          Case{{10, 10}, {1, 1}, {1, 1}}}) {
        const WindowSize size = fittedWindowSize(preferred, minimum, c.available, frame);
        const WindowSize least = fittedMinimumSize(minimum, c.available, frame);
        EXPECT_EQ(size.width, c.size.width) << c.available.width;
        EXPECT_EQ(size.height, c.size.height) << c.available.height;
        EXPECT_EQ(least.width, c.least.width) << c.available.width;
        EXPECT_EQ(least.height, c.least.height) << c.available.height;
    }
}

// Thumbnails of shapes of their own lengths: one scale, the longest filling the room, a short
// one beside a very long one still visible.
TEST(ThumbnailWidth, ShapesAreDrawnToOneScale) {
    struct Case {
        int64_t length, longest;
        int room, width;
    };
    for (const Case& c : {Case{20, 20, 67, 67}, Case{10, 20, 67, 34}, Case{215, 430, 100, 50},
                          Case{6, 32767, 67, 8}, Case{6, 32767, 5, 5}, Case{20, 0, 67, 67}, Case{20, 20, 0, 0}})
        EXPECT_EQ(thumbnailWidth(c.length, c.longest, c.room), c.width) << c.length << " of " << c.longest << " in " << c.room;
}

// Lanes of several channels: equal heights, the first a pixel higher where the room does not
// divide, the gaps between them, at least a pixel each however small the room.
TEST(StackedLanes, ChannelsShareTheHeightInEqualLanes) {
    struct Case {
        int height, channels, gap;
        std::vector<LaneRows> lanes;
    };
    const Case cases[] = {
        {300, 1, 10, {{0, 300}}},
        {300, 3, 10, {{0, 94}, {104, 93}, {207, 93}}},  // 280 rows: 94, 93, 93
        {100, 2, 0, {{0, 50}, {50, 50}}},
        {5, 3, 10, {{0, 1}, {11, 1}, {22, 1}}},  // no room: a row each, past the foot
        {300, 0, 10, {}},
    };
    for (const Case& c : cases) {
        const std::vector<LaneRows> lanes = stackedLanes(c.height, c.channels, c.gap);
        ASSERT_EQ(lanes.size(), c.lanes.size()) << c.height << "/" << c.channels;
        for (size_t k = 0; k < lanes.size(); ++k) {
            EXPECT_EQ(lanes[k].top, c.lanes[k].top) << c.height << "/" << c.channels << " lane " << k;
            EXPECT_EQ(lanes[k].height, c.lanes[k].height) << c.height << "/" << c.channels << " lane " << k;
        }
    }
    EXPECT_EQ(stackedHeight(3, 60, 10), 200);
    EXPECT_EQ(stackedHeight(1, 60, 10), 60);
}

// The rounds of the "Learn shapes" prompt: whole numbers from 1 to 1000 only.
TEST(LearnRounds, WholeNumbersFromOneToTheMostAreTaken) {
    EXPECT_EQ(learnRoundsOf("1"), 1);
    EXPECT_EQ(learnRoundsOf(" 1000 "), 1000);
    for (const char* refused : {"0", "1001", "-3", "2.5", "", "ten", "nan", "1e9"})
        EXPECT_FALSE(learnRoundsOf(refused).has_value()) << refused;
}

// Every round's distance, large ones to 4 figures; a long run shows its ends.
TEST(LearnedRoundsText, NamesTheDistancesOfTheRoundsAndTheRoundKept) {
    EXPECT_EQ(learnedRoundsText({-402400000000, -740000000000}, 1),
              "Learned in 1 round: distance -4.024e+11 → -7.4e+11 (round 1 kept)");
    EXPECT_EQ(learnedRoundsText({-400, -700, -650}, 1), "Learned in 2 rounds: distance -400 → -700 → -650 (round 1 kept)");
    EXPECT_EQ(learnedRoundsText({-5, -5}, 0), "Learned in 1 round: distance -5 → -5 (round 0 kept: the given shapes)");
    std::vector<int64_t> distances;
    for (int64_t r = 0; r <= 11; ++r) distances.push_back(-r);
    EXPECT_EQ(learnedRoundsText(distances, 11),
              "Learned in 11 rounds: distance 0 → -1 → -2 → -3 → … → -9 → -10 → -11 (round 11 kept)");
}

}  // namespace
