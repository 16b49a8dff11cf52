#include "simulation/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/startup_model.h"
#include "model/subsets.h"

TEST(RepeatScheduleTest, RecognitionWalksTheListInBlocks) {
    const uint16_t list[] = {4, 9};
    std::vector<uint16_t> counters(5), sequence(5);
    RepeatSchedule schedule(2, list, 2, 100, 5, 0, counters.data(), sequence.data());
    EXPECT_EQ(schedule.B, 50);
    for (int l = 0; l < 100; ++l) {
        schedule.advance(l);
        for (int i = 0; i < 5; ++i) ASSERT_EQ(sequence[i], l < 50 ? 4 : 9) << "repeat " << l;
    }
}

TEST(RepeatScheduleTest, JointDetectionAdvancesAnOdometer) {
    const uint16_t list[] = {1, 2, 3};
    std::vector<uint16_t> counters(3), sequence(3);
    RepeatSchedule schedule(4, list, 3, 100, 3, 0, counters.data(), sequence.data());
    EXPECT_EQ(schedule.B, 37);  // 300 >> 3
    std::vector<int> changes;
    std::vector<uint16_t> previous = sequence;
    for (int l = 0; l < 40; ++l) {
        schedule.advance(l);
        if (sequence != previous) changes.push_back(l);
        previous = sequence;
    }
    EXPECT_EQ(changes, (std::vector<int>{13, 25, 37}));
    // Three advances from (1, 1, 1): (2, 1, 1), (3, 1, 1), then the carry: (1, 2, 1).
    EXPECT_EQ(sequence, (std::vector<uint16_t>{1, 2, 1}));
    // The carry out of the last counter is dropped: from (3, 3, 3) the odometer returns to (1, 1, 1).
    counters = {3, 3, 3};
    schedule.E = 0;
    schedule.advance(1000);
    EXPECT_EQ(sequence, (std::vector<uint16_t>{1, 1, 1}));
}

TEST(RepeatScheduleTest, TupleRecognitionTakesTurns) {
    const uint16_t list[] = {1};
    std::vector<uint16_t> counters(4), sequence(4);
    RepeatSchedule schedule(40, list, 1, 100, 4, 3, counters.data(), sequence.data());
    EXPECT_EQ(schedule.B, 33);
    std::vector<int> tupleOf;
    for (int l = 0; l < 100; ++l) {
        schedule.advance(l);
        tupleOf.push_back(schedule.e);
    }
    EXPECT_EQ(tupleOf[0], 1);
    EXPECT_EQ(tupleOf[32], 1);
    EXPECT_EQ(tupleOf[33], 2);
    EXPECT_EQ(tupleOf[65], 2);
    EXPECT_EQ(tupleOf[66], 3);
    EXPECT_EQ(tupleOf[98], 3);
    EXPECT_EQ(tupleOf[99], 1);
}

TEST(RepeatScheduleTest, DetectionKeepsTheFirstEtalon) {
    const uint16_t list[] = {7, 8};
    std::vector<uint16_t> counters(6), sequence(6);
    RepeatSchedule schedule(1, list, 2, 100, 6, 0, counters.data(), sequence.data());
    for (int l = 0; l < 100; ++l) EXPECT_FALSE(schedule.advance(l));
    EXPECT_EQ(sequence, std::vector<uint16_t>(6, 7));
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        deriveStartupSettings(s);
        prepareStartupModel(s, sink);
        ASSERT_TRUE(sink.messages.empty());
    }
    void TearDown() override { releaseRestErrHeader(sink, std::move(acc)); }

    // A grid of pulse counts first..first + step * (P - 1) and noise levels 0, level, 2 level, ...
    void grid(uint32_t N, int P, int first, int step, int V, int level, int repeats) {
        s.dwSeriesSize = N;
        s.lpSeriesHeader = getCutOffSeriesHeader(sink, 20, 20, s.wTmin, s.wTmax, N, std::move(s.lpSeriesHeader));
        ASSERT_NE(s.lpSeriesHeader, nullptr);
        acc = getRestErrHeader(sink, P, V, repeats, std::move(acc));
        ASSERT_NE(acc, nullptr);
        ASSERT_EQ(initRestErrHeader(sink, P, first, step, V, 0, level, repeats, acc.get()), 1);
    }

    int run(uint16_t seriesType, uint16_t taskType, uint16_t making, uint16_t processing, int threads,
            const SimulationControl* custom = nullptr) {
        SimulationControl control;
        if (custom) control = *custom;
        control.threads = threads;
        return statCutoffSighting(sink, acc.get(), s.wAlphabetSize, s.alphabet, s.wRequiredCount, s.lpRequiredList.get(),
                                  seriesType, taskType, making, processing, s.lpSeriesHeader.get(), s.noiseSeed,
                                  s.seeds, {128, 2}, control);
    }

    struct Result {
        std::vector<int32_t> errors, detect, recogn;
        int16_t noiseSeed;
        bool operator==(const Result&) const = default;
    };
    Result result() const {
        Result r;
        for (int k = 0; k < acc->wNoiseLevels; ++k)
            for (int j = 0; j < acc->wVariousPulses; ++j) {
                r.errors.push_back(acc->lpErrors[k][j]);
                r.detect.push_back(acc->lpDetectErrors[k][j]);
                r.recogn.push_back(acc->lpRecognErrors[k][j]);
            }
        r.noiseSeed = s.noiseSeed;
        return r;
    }

    void useCandidates(std::initializer_list<uint16_t> numbers) {
        s.requiredFlags.fill(0);
        for (uint16_t v : numbers) s.requiredFlags[v - 1] = 1;
        rebuildRequiredList(s);
    }

    void storeTuples() {
        const std::vector<int32_t> a{3, 5, 7}, b{2, 4}, c{9, 10, 11, 12};
        const std::vector<int32_t> sizes{3, 2, 4};
        const std::vector<std::span<const int32_t>> lists{a, b, c};
        ASSERT_EQ(addSomeSelectedSubsetToSeriesHeader(sink, sizes, lists, 10, 10, 1, 4, 1, s.lpSeriesHeader.get()), 1);
    }

    Settings s;
    RecordingMessageSink sink;
    std::unique_ptr<RestErrorHeader> acc;
};

TEST_F(DriverTest, ResultsDoNotDependOnTheThreadCount) {
    struct Case {
        uint16_t seriesType, taskType, making, processing;
        std::initializer_list<uint16_t> candidates;
        bool tuples;
    };
    const Case cases[] = {
        {4, 1, 100, 100, {12}, false},
        {8, 2, 75, 75, {3, 9, 14}, false},
        {8, 4, 75, 50, {1, 2, 5, 7}, false},
        {40, 36, 100, 100, {1}, true},
        {36, 40, 100, 100, {1}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.taskType);
        std::vector<Result> results;
        for (int threads : {1, 2, 3}) {
            s.seeds = SeedCells{};
            s.noiseSeed = initialNoiseSeed;
            useCandidates(c.candidates);
            grid(400, 3, 2, 2, 3, 40, 12);
            if (c.tuples) storeTuples();
            ASSERT_EQ(run(c.seriesType, c.taskType, c.making, c.processing, threads), 1);
            EXPECT_EQ(acc->ifComplete, 1);
            results.push_back(result());
        }
        EXPECT_EQ(results[0], results[1]);
        EXPECT_EQ(results[0], results[2]);
        EXPECT_TRUE(sink.messages.empty()) << sink.messages.front().text;
        // The noise advanced: twelve steps per sample of every series made.
        EXPECT_NE(results[0].noiseSeed, initialNoiseSeed);
    }
}

TEST_F(DriverTest, NoiselessWholePulsesAreRestoredExactly) {
    useCandidates({12});
    grid(600, 3, 3, 1, 1, 0, 5);
    ASSERT_EQ(run(4, 1, 100, 100, 2), 1);
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(acc->lpErrors[0][j], 0);
        EXPECT_EQ(acc->lpDetectErrors[0][j], 0);
        EXPECT_EQ(acc->lpRecognErrors[0][j], 0);
    }
    EXPECT_EQ(acc->wTaskType, 1);
    EXPECT_STREQ(acc->lpTaskName, "detection");
}

TEST_F(DriverTest, TupleRecognitionCountsMisses) {
    grid(600, 2, 6, 2, 2, 60, 9);
    storeTuples();
    ASSERT_EQ(run(36, 40, 100, 100, 2), 1);
    // Noiseless tuples are recognised every time; the active subset size is put back.
    EXPECT_EQ(acc->lpRecognErrors[0][0], 0);
    EXPECT_EQ(acc->lpRecognErrors[0][1], 0);
    EXPECT_EQ(s.lpSeriesHeader->wSelectedSubsetSize, 3);
}

TEST_F(DriverTest, RestorationErrorOfEmptyAndPerfectResults) {
    std::vector<uint16_t> sequence(30, 11);
    s.lpSeriesHeader = getCutOffSeries(sink, 20, s.alphabet, 20, 40, 181, 1200, 10, sequence, 128, 75, std::move(s.lpSeriesHeader), s.seeds);
    SeriesHeader& h = *s.lpSeriesHeader;
    int32_t energy = 0;
    for (int i = 0; i < h.dwSeriesSize; ++i) energy += h.lpPureData[i] * h.lpPureData[i];
    h.wFoundPulses = 0;
    EXPECT_EQ(seriesRestorationError(h), energy);
    h.wFoundPulses = h.wImpulseQuantity;
    for (int j = 0; j < h.wImpulseQuantity; ++j) {
        h.lpFoundPosition[j] = h.lpTruePosition[j];
        h.lpFoundEtalon[j] = h.lpTrueEtalon[j];
        h.lpFoundCutStart[j] = h.lpTrueCutStart[j];
        h.lpFoundCutEnd[j] = h.lpTrueCutEnd[j];
    }
    EXPECT_EQ(seriesRestorationError(h), 0);
    // A pulse restored whole where only a cut was written leaves the cut-off samples as error.
    h.lpFoundCutStart[0] = 0;
    h.lpFoundCutEnd[0] = 19;
    int32_t missing = 0;
    const int16_t* x = s.alphabet[10].lpData.get();
    for (int q = 0; q < 20; ++q)
        if (q < h.lpTrueCutStart[0] || q > h.lpTrueCutEnd[0]) missing += x[q] * x[q];
    EXPECT_EQ(seriesRestorationError(h), missing);
    // An etalon number outside the list restores nothing there instead of reading astray.
    h.lpFoundEtalon[0] = 0;
    EXPECT_GT(seriesRestorationError(h), 0);
}

TEST_F(DriverTest, DegenerateRunsAreRefusedBeforeAnythingRuns) {
    auto expectRefused = [&](int result, const char* what) {
        EXPECT_EQ(result, 0) << what;
        EXPECT_EQ(sink.messages.size(), 1u) << what;
        if (acc) {
            EXPECT_EQ(acc->ifComplete, 0) << what;
        }
        sink.messages.clear();
    };
    std::unique_ptr<RestErrorHeader> none;
    std::swap(none, acc);
    expectRefused(run(8, 4, 75, 75, 1), "no accumulator");
    std::swap(none, acc);

    grid(400, 2, 3, 1, 2, 10, 4);
    acc->repeats = 0;
    expectRefused(run(8, 4, 75, 75, 1), "repeats 0");
    acc->repeats = 4;

    const uint16_t noCandidates = s.wRequiredCount;
    s.wRequiredCount = 0;
    expectRefused(run(8, 2, 75, 75, 1), "task 2 without candidates");
    s.wRequiredCount = noCandidates;

    expectRefused(run(8, 40, 100, 100, 1), "tuple task on a pulse series");
    expectRefused(run(40, 36, 100, 100, 1), "tuple series without a subset");
    const std::vector<int32_t> t{3, 5};
    ASSERT_EQ(setSelectedSubset(sink, t, 4, 1, s.lpSeriesHeader.get()), 1);
    expectRefused(run(40, 40, 100, 100, 1), "tuple recognition without stored tuples");

    // A stored tuple longer than a series of the grid can hold.
    std::vector<int32_t> longTuple(12, 3);
    const std::vector<int32_t> sizes{12};
    const std::vector<std::span<const int32_t>> lists{longTuple};
    ASSERT_EQ(addSomeSelectedSubsetToSeriesHeader(sink, sizes, lists, 10, 12, 1, 4, 1, s.lpSeriesHeader.get()), 1);
    expectRefused(run(40, 40, 100, 100, 1), "tuple longer than the series");

    // A pulse count the series length does not admit.
    ASSERT_EQ(initRestErrHeader(sink, 2, 10, 1, 2, 0, 10, 4, acc.get()), 1);  // 400 samples hold at most 10
    expectRefused(run(8, 4, 75, 75, 1), "pulse count above the bounds");

    // A grid with no pulse counts.
    acc->wVariousPulses = 0;
    expectRefused(run(8, 4, 75, 75, 1), "no pulse counts");
}

TEST_F(DriverTest, ProgressAndCancel) {
    grid(400, 2, 3, 1, 3, 10, 3);
    std::atomic<bool> cancel{false};
    std::vector<std::pair<int, int>> calls;
    SimulationControl control;
    control.cancel = &cancel;
    control.progress = [&](int done, int total) {
        calls.emplace_back(done, total);
        if (done == 2) cancel = true;
    };
    EXPECT_EQ(run(8, 4, 75, 75, 2, &control), 0);
    EXPECT_EQ(acc->ifComplete, 0);
    // The cell made while the second was processed is not stored once the run is cancelled.
    EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{1, 6}, {2, 6}}));

    // A cancel stops the run inside a cell: set before the first cell, nothing is stored.
    calls.clear();
    EXPECT_EQ(run(8, 4, 75, 75, 2, &control), 0);
    EXPECT_EQ(acc->ifComplete, 0);
    EXPECT_TRUE(calls.empty());

    cancel = false;
    calls.clear();
    control.progress = [&](int done, int total) { calls.emplace_back(done, total); };
    EXPECT_EQ(run(8, 4, 75, 75, 2, &control), 1);
    EXPECT_EQ(acc->ifComplete, 1);
    EXPECT_EQ(calls.size(), 6u);
    // The run's own times are kept with its result.
    EXPECT_GT(acc->startTime, 0);
    EXPECT_GE(acc->endTime, acc->startTime);
}

TEST_F(DriverTest, EveryTaskRunsOnARecordSizedForLongerSeries) {
    // The kept record was made for the start-up series (1200 samples, up to 30 pulses); the run's
    // own bounds are smaller, and every repeat's copy is sized for them.
    struct Limits {
        const char* what;
        uint32_t N;
        uint16_t Tmin, Tmax;
    };
    const Limits limits[] = {{"shorter series", 600, 40, 181}, {"larger Tmin", 1200, 60, 181},
                             {"smaller Tmax", 1200, 40, 100}};
    struct Task {
        uint16_t seriesType, taskType;
        bool tuples;
    };
    const Task tasks[] = {{8, 1, false}, {8, 2, false}, {8, 4, false}, {4, 64, false}, {40, 36, true}, {36, 40, true}};
    for (const Limits& l : limits)
        for (const Task& t : tasks) {
            SCOPED_TRACE(std::string(l.what) + ", task " + std::to_string(t.taskType));
            s.lpSeriesHeader = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 1200, std::move(s.lpSeriesHeader));
            ASSERT_EQ(s.lpSeriesHeader->wAllocatedPulses, 30);
            s.wTmin = l.Tmin;
            s.wTmax = l.Tmax;
            const PulseBounds b = seriesPulseBounds(20, l.Tmin, l.Tmax, l.N);
            grid(l.N, 2, std::max<int>(b.wMinPulses, 6), 1, 2, 40, 3);
            if (t.tuples) storeTuples();
            ASSERT_EQ(run(t.seriesType, t.taskType, 100, 100, 2), 1);
            EXPECT_TRUE(sink.messages.empty()) << sink.messages.front().text;
            EXPECT_EQ(acc->ifComplete, 1);
            // Noise leaves a restoring error: the repeats were really made and processed.
            EXPECT_GT(acc->lpErrors[1][0], 0);
            EXPECT_EQ(s.lpSeriesHeader->dwSeriesSize, static_cast<int32_t>(l.N));
            EXPECT_GT(s.lpSeriesHeader->wImpulseQuantity, 0);
            sink.messages.clear();
        }
}
