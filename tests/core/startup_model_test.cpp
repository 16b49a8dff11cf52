#include "core/startup_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/series_use_case.h"

class StartupModelTest : public ::testing::Test {
protected:
    void SetUp() override { deriveStartupSettings(s); }
    Settings s;
    RecordingMessageSink sink;
};

TEST_F(StartupModelTest, StartUpRequiresEveryEtalonForJointDetectionOnCutOffSeries) {
    buildStartupModel(s, sink);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(s.seriesType, SeriesType::unfixedCutoffs);
    EXPECT_EQ(s.wTaskTypeSel, TaskType::jointDetection);
    EXPECT_EQ(s.wTaskType, TaskType::jointDetection);
    EXPECT_EQ(s.viewMode, ViewMode::etalons);
    EXPECT_EQ(s.wRequiredCount, 20);
    for (int n = 1; n <= 20; ++n) {
        EXPECT_EQ(s.requiredFlags[n - 1], 1);
        EXPECT_EQ(s.lpRequiredList[n - 1], n);
    }
    EXPECT_EQ(s.dwSeriesSize, 1200u);
    EXPECT_EQ(s.wMinPulses, 6);
    EXPECT_EQ(s.wMaxPulses, 30);
    EXPECT_EQ(s.wPulsesQuantity, 18);
    EXPECT_EQ(s.wNoiseLevel, 20);
    EXPECT_EQ(s.wLostLevel, 25);
    EXPECT_EQ(s.wSavedEnergyCreate, 75);
    EXPECT_EQ(s.wSavedEnergyProcess, 75);
    EXPECT_EQ(s.wChainsPulses, 30);
    EXPECT_EQ(s.lpEtalonSequence.size(), 30u);
    EXPECT_EQ(s.lpEtalonSequenceDlg.size(), 30u);
    EXPECT_TRUE(std::all_of(s.lpEtalonSequence.begin(), s.lpEtalonSequence.end(),
                            [](uint16_t e) { return e == 1; }));

    // The first series: drawn count, no noise, cut-off pulses of etalon 1.
    ASSERT_NE(s.lpSeriesHeader, nullptr);
    const SeriesHeader& h = *s.lpSeriesHeader;
    EXPECT_EQ(s.wSeriesPulses, h.wImpulseQuantity);
    int16_t cell = 13579;
    EXPECT_EQ(h.wImpulseQuantity, 6 + (uniformRandom(cell) >> 2) % 25);
    EXPECT_EQ(h.wNoiseSigma, 0);
    EXPECT_TRUE(std::equal(h.lpPureData, h.lpPureData + h.dwSeriesSize, h.lpNoisyData));
    for (int j = 0; j < h.wImpulseQuantity; ++j) EXPECT_EQ(h.lpTrueEtalon[j], 1);
    EXPECT_EQ(s.noiseSeed, 10597);  // no noise drawn
}

TEST_F(StartupModelTest, TheFirstSeriesIsReproducible) {
    buildStartupModel(s, sink);
    const SeriesHeader& first = *s.lpSeriesHeader;
    std::vector<int16_t> pure(first.lpPureData, first.lpPureData + first.dwSeriesSize);

    Settings again;
    deriveStartupSettings(again);
    buildStartupModel(again, sink);
    const SeriesHeader& second = *again.lpSeriesHeader;
    EXPECT_EQ(second.wImpulseQuantity, first.wImpulseQuantity);
    EXPECT_TRUE(std::equal(pure.begin(), pure.end(), second.lpPureData));
}

// Each owner of settings draws from its own streams: whatever another owner makes in between, an
// owner's etalon sequences and series are the ones it would make alone.
TEST_F(StartupModelTest, TwoOwnersStreamsAreIndependent) {
    auto next = [this](Settings& owner) {
        EXPECT_TRUE(drawNewSequence(owner, sink));
        makeSeriesOfCurrentType(owner, sink);
        const SeriesHeader& h = *owner.lpSeriesHeader;
        std::vector<int16_t> pulses;
        for (const int16_t* a : {h.lpTruePosition, h.lpTrueEtalon, h.lpTrueCutStart, h.lpTrueCutEnd})
            pulses.insert(pulses.end(), a, a + h.wImpulseQuantity);
        pulses.insert(pulses.end(), h.lpPureData, h.lpPureData + h.dwSeriesSize);
        return pulses;
    };
    Settings alone, first, second;
    for (Settings* owner : {&alone, &first, &second}) {
        deriveStartupSettings(*owner);
        prepareStartupModel(*owner, sink);
    }
    std::vector<std::vector<int16_t>> expected;
    for (int i = 0; i < 3; ++i) expected.push_back(next(alone));
    EXPECT_NE(expected[0], expected[1]);
    EXPECT_EQ(next(first), expected[0]);
    EXPECT_EQ(next(first), expected[1]);
    EXPECT_EQ(next(second), expected[0]);
    EXPECT_EQ(next(first), expected[2]);
    EXPECT_EQ(next(second), expected[1]);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(StartupModelTest, FixedTypeUsesTheRequestedCount) {
    prepareStartupModel(s, sink);
    s.seriesType = SeriesType::fixedWhole;
    s.wSavedEnergyCreate = 100;
    s.wSeriesPulses = 12;
    makeSeriesOfCurrentType(s, sink);
    ASSERT_NE(s.lpSeriesHeader, nullptr);
    EXPECT_EQ(s.lpSeriesHeader->wImpulseQuantity, 12);
    EXPECT_EQ(s.seeds.pulseCountSeed, 13579);  // nothing drawn for the count
    for (int j = 0; j < 12; ++j) {
        EXPECT_EQ(s.lpSeriesHeader->lpTrueCutStart[j], 0);
        EXPECT_EQ(s.lpSeriesHeader->lpTrueCutEnd[j], 19);
    }
}

TEST_F(StartupModelTest, ImpossibleRandomCountLeavesNoSeriesAndTheCountAlone) {
    prepareStartupModel(s, sink);
    makeSeriesOfCurrentType(s, sink);
    ASSERT_NE(s.lpSeriesHeader, nullptr);
    const uint16_t count = s.wSeriesPulses;
    // 30 samples, etalons of 20, gaps exactly 20: at least 2 pulses needed, at most 1 fits.
    s.dwSeriesSize = 30;
    s.wTmin = s.wTmax = 20;
    makeSeriesOfCurrentType(s, sink);
    EXPECT_EQ(s.lpSeriesHeader, nullptr);
    EXPECT_EQ(s.wSeriesPulses, count);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(StartupModelTest, ReleaseClearsEverythingOwned) {
    buildStartupModel(s, sink);
    releaseStartupModel(s);
    EXPECT_EQ(s.lpSeriesHeader, nullptr);
    EXPECT_EQ(s.lpRequiredList, nullptr);
    EXPECT_EQ(s.wRequiredCount, 0);
    EXPECT_TRUE(s.lpEtalonSequence.empty());
    for (const auto& p : s.alphabet) EXPECT_EQ(p.lpData, nullptr);
}
