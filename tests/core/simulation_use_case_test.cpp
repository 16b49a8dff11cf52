#include "core/simulation_use_case.h"

#include <gtest/gtest.h>

#include <atomic>

#include "core/simulation_report.h"
#include "core/startup_model.h"

namespace {
class SimulationUseCaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        deriveStartupSettings(s);
        buildStartupModel(s, sink);
        // A small grid: pulse counts 6 and 7, noise levels 0 and 30, 2 repeats.
        s.wMinPulses = 6, s.wPulsesIncrement = 1, s.wPulsesSteps = 2;
        s.wNoiseInitial = 0, s.wNoiseIncrement = 30, s.wNoiseSteps = 2, s.repeats = 2;
        s.lpSeriesHeader = getCutOffSeriesHeader(sink, s.wAlphabetSize, s.wImpulseSize, s.wTmin, s.wTmax,
                                                 s.dwSeriesSize, std::move(s.lpSeriesHeader));
    }
    Settings s;
    RecordingMessageSink sink;
};
}  // namespace

TEST_F(SimulationUseCaseTest, ACompleteRunKeepsItsTimesAndACancelledOneSaysSo) {
    AccumulatorFailure failure = AccumulatorFailure::grid;
    std::unique_ptr<RestErrorHeader> accumulator = newSimulationAccumulator(s, sink, failure);
    ASSERT_NE(accumulator, nullptr);
    EXPECT_EQ(failure, AccumulatorFailure::none);
    int calls = 0;
    SimulationRequest request;
    request.threads = 1;
    request.progress = [&](int, int) { ++calls; };
    const SimulationResult run = runSimulation(s, sink, accumulator.get(), request);
    EXPECT_TRUE(run.complete);
    EXPECT_FALSE(run.cancelled);
    EXPECT_EQ(calls, 4);
    EXPECT_GT(run.startTime, 0);
    EXPECT_EQ(run.startTime, accumulator->startTime);
    EXPECT_EQ(run.endTime, accumulator->endTime);
    EXPECT_GE(run.seconds(), 0);

    // Cancelled before it starts: the run stops incomplete before any cell is stored.
    const std::atomic<bool> cancel{true};
    request.cancel = &cancel;
    calls = 0;
    ASSERT_EQ(initRestErrHeader(sink, 2, 6, 1, 2, 0, 30, 2, accumulator.get()), 1);
    const SimulationResult stopped = runSimulation(s, sink, accumulator.get(), request);
    EXPECT_FALSE(stopped.complete);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SimulationUseCaseTest, AGridWithoutRepeatsGivesNoAccumulator) {
    s.repeats = 0;
    AccumulatorFailure failure = AccumulatorFailure::none;
    EXPECT_EQ(newSimulationAccumulator(s, sink, failure), nullptr);
    EXPECT_NE(failure, AccumulatorFailure::none);
    EXPECT_FALSE(sink.messages.empty());
}

TEST(SimulationReportTest, GraphKindFollowsTheGraphDialogsChoices) {
    // Handling case: 1 restoring, 2 detection, 3 recognition; view case 2 the aggregate form.
    EXPECT_EQ(simulationGraphKind(1, 1, true), 0);
    EXPECT_EQ(simulationGraphKind(1, 2, true), 1);
    EXPECT_EQ(simulationGraphKind(2, 1, true), 2);
    EXPECT_EQ(simulationGraphKind(2, 2, false), 3);
    EXPECT_EQ(simulationGraphKind(3, 1, false), 4);
    EXPECT_EQ(simulationGraphKind(3, 2, false), 5);
    EXPECT_EQ(simulationGraphKind(3, 1, true), 12);
    EXPECT_EQ(simulationGraphKind(3, 2, true), 13);
}
