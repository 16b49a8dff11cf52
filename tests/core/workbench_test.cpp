// The workbench's start-up and commands through the headless shell: state, check marks, the
// commands each command sends, invalidations and failure messages.

#include "core/workbench.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "dialogs/dialog_form.h"
#include "platform/headless/headless_shell.h"

namespace {
class WorkbenchTest : public ::testing::Test {
protected:
    void SetUp() override {
        seedCells = SeedCells{};
        shell.setDispatcher([this](int id) { workbench.onCommand(id); });
        shell.setDialogAnswer([this](const DialogForm& form) { return scriptedAnswer(form, answers, cancel); });
        ASSERT_TRUE(workbench.onCreate(shell));
        shell.messages.clear();
    }
    void TearDown() override { workbench.onDestroy(); }

    void answer(std::map<int, std::string> values, bool cancelled = false) {
        answers = std::move(values);
        cancel = cancelled;
    }
    bool sent(int id) const { return std::count(shell.commands.begin(), shell.commands.end(), id) > 0; }

    HeadlessShell shell;
    Workbench workbench;
    Settings& s = workbench.settings;
    std::map<int, std::string> answers;
    bool cancel = false;
};
}  // namespace

TEST_F(WorkbenchTest, StartUpLeavesTheDescribedState) {
    EXPECT_EQ(s.seriesType, 8u);
    EXPECT_EQ(s.wTaskType, 4);
    EXPECT_EQ(s.wRequiredCount, 20);
    EXPECT_EQ(s.dwSeriesSize, 1200u);
    EXPECT_EQ(s.wMinPulses, 6);
    EXPECT_EQ(s.wMaxPulses, 30);
    EXPECT_EQ(s.wPulsesQuantity, 18);
    EXPECT_EQ(s.wNoiseLevel, 20);
    EXPECT_EQ(s.wLostLevel, 25);
    EXPECT_EQ(s.wSavedEnergyCreate, 75);
    ASSERT_NE(s.lpChainsHeader, nullptr);
    EXPECT_EQ(s.lpChainsHeader->wMaxSize, 10);
    EXPECT_EQ(s.lpChainsHeader->wMaxPulses, 30);
    ASSERT_NE(s.lpSeriesHeader, nullptr);
    EXPECT_EQ(s.lpSeriesHeader->wNoiseSigma, 0);
    EXPECT_EQ(s.wSeriesPulses, s.lpSeriesHeader->wImpulseQuantity);
    // Exactly one item of each check group is checked.
    EXPECT_TRUE(shell.menuChecks[cmUnfixedCutoffs]);
    EXPECT_TRUE(shell.menuChecks[cmJointDetection]);
    for (int id : {cmFixedWhole, cmUnfixedWhole, cmFixedCutoffs, cmFixedTuples, cmUnfixedTuples, cmDetection,
                   cmRecognition, cmSeriesProcessing})
        EXPECT_FALSE(shell.menuChecks[id]) << id;
    EXPECT_EQ(shell.editContents, "Tmin Text");
    EXPECT_EQ(s.viewMode, 5);
}

TEST_F(WorkbenchTest, ProcessingNextDataRunsThePipeline) {
    workbench.onCommand(cmProcessingNextData);
    EXPECT_EQ(shell.commands, std::vector<int>{CM_NEXT_DATA});
    EXPECT_EQ(workbench.processingRuns, 1);
    EXPECT_EQ(workbench.lastRoutine, Routine::detectPulsesUnfixed);
    EXPECT_EQ(s.viewMode, 6);
    EXPECT_EQ(s.wDisplayContent, 1);
    EXPECT_EQ(s.lpSeriesHeader->wNoiseSigma, 20);
    EXPECT_EQ(s.lpChainsHeader->wPretenders, 1);
    EXPECT_EQ(s.lpChainsHeader->wTaskType, 4);
    EXPECT_STREQ(s.lpChainsHeader->lpSeriesTypeName, "unknown number of cut-off pulses");
    // The sequence was drawn from the required list: 30 numbers of 1..20.
    for (int i = 0; i < 30; ++i) {
        EXPECT_GE(s.lpEtalonSequence[i], 1);
        EXPECT_LE(s.lpEtalonSequence[i], 20);
    }
    ASSERT_FALSE(shell.invalidations.empty());
    EXPECT_TRUE(shell.invalidations.front().erase);
    EXPECT_TRUE(shell.messages.empty());

    // Processing the same data again changes neither the series nor the seeds.
    const int16_t noise = s.noiseSeed;
    workbench.onCommand(cmProcessingSameData);
    EXPECT_EQ(s.noiseSeed, noise);
    EXPECT_EQ(workbench.processingRuns, 2);
}

TEST_F(WorkbenchTest, TaskCommandsKeepOneCheckAndDeriveTheTask) {
    workbench.onCommand(cmRecognition);
    EXPECT_EQ(s.wTaskType, 2);
    EXPECT_TRUE(shell.menuChecks[cmRecognition]);
    EXPECT_FALSE(shell.menuChecks[cmJointDetection]);

    workbench.onCommand(cmFixedWhole);
    workbench.onCommand(cmDetection);
    EXPECT_EQ(s.wTaskType, 1);
    EXPECT_EQ(s.wRequiredCount, 1);  // only the current etalon
    EXPECT_EQ(s.lpRequiredList[0], s.currentEtalon);

    workbench.onCommand(cmUnfixedTuples);
    workbench.onCommand(cmRecognition);
    EXPECT_EQ(s.wTaskType, 40);
    workbench.onCommand(cmDetection);
    EXPECT_EQ(s.wTaskType, 36);
    EXPECT_EQ(s.wRequiredCount, 1);  // left alone on a tuple series

    workbench.onCommand(cmSeriesProcessing);
    EXPECT_EQ(s.wTaskType, 64);
    EXPECT_EQ(std::count_if(shell.menuChecks.begin(), shell.menuChecks.end(),
                            [](const auto& c) { return c.second && c.first >= 40005 && c.first <= 40007; }),
              0);
}

TEST_F(WorkbenchTest, SeriesTypeCommandsResetTheLostLevelForWholePulses) {
    workbench.onCommand(cmFixedWhole);
    EXPECT_EQ(s.seriesType, 1u);
    EXPECT_EQ(s.wLostLevel, 0);
    EXPECT_EQ(s.wSavedEnergyCreate, 100);
    EXPECT_EQ(s.wSavedEnergyProcessBase, 100);
    EXPECT_TRUE(shell.menuChecks[cmFixedWhole]);
    EXPECT_FALSE(shell.menuChecks[cmUnfixedCutoffs]);
    workbench.onCommand(cmFixedCutoffs);
    EXPECT_EQ(s.seriesType, 2u);
    EXPECT_EQ(s.wSavedEnergyCreate, 100);  // the cut-off types keep the levels
    // " Fixed case" leaves the check marks alone.
    workbench.onCommand(cmFixedCase);
    EXPECT_EQ(s.seriesType, 1u);
    EXPECT_TRUE(shell.menuChecks[cmFixedCutoffs]);
    EXPECT_EQ(workbench.lastRoutine, Routine::detectPulsesFixed);
}

TEST_F(WorkbenchTest, IgnoredIdsDoNothing) {
    const auto before = shell.invalidations.size();
    for (int id : {40013, 40014, 207, 217, 219, 220, 12345})
        workbench.onCommand(id);
    EXPECT_EQ(shell.invalidations.size(), before);
    EXPECT_TRUE(shell.commands.empty());
    EXPECT_EQ(workbench.processingRuns, 0);
}

TEST_F(WorkbenchTest, CreateSeriesCommitsTheDialogsAndMakesTheSeries) {
    answer({{1000, "600"}, {1001, "30"}, {1003, "100"}, {1007, "8"}, {1011, "15"}});
    workbench.onCommand(cmFixedWhole);
    workbench.onCommand(cmCreateSeries);
    EXPECT_EQ(s.dwSeriesSizeBase, 600u);
    EXPECT_EQ(s.wTmin, 30);
    EXPECT_EQ(s.wTmax, 100);
    EXPECT_EQ(s.wPulsesQuantity, 8);
    EXPECT_EQ(s.wNoiseLevelBase, 15);
    EXPECT_EQ(s.seriesType, 16u);  // a typed sequence
    EXPECT_TRUE(shell.menuChecks[cmFixedWhole]);
    EXPECT_TRUE(sent(CM_SERIES_PARAMETERS));
    EXPECT_TRUE(sent(CM_MAKE_SERIES));
    EXPECT_EQ(s.lpSeriesHeader->dwSeriesSize, 600);
    EXPECT_EQ(s.lpSeriesHeader->wImpulseQuantity, 8);
    EXPECT_EQ(s.lpSeriesHeader->wNoiseSigma, 15);
    EXPECT_EQ(s.lpChainsHeader->wMaxPulses, std::max<int>(30, s.wMaxPulses));
}

TEST_F(WorkbenchTest, CreateSeriesRefusesValuesThatBreakTheModel) {
    const uint32_t length = s.dwSeriesSizeBase;
    const struct {
        std::map<int, std::string> values;
        const char* field;
    } cases[] = {
        {{{1001, "0"}}, "Min Length of Interval"},
        {{{1003, "10"}}, "Max Length of Interval"},
        {{{1001, "50"}, {1003, "45"}}, "Max Length of Interval"},
        {{{1000, "40000"}}, "Samples Length"},
        {{{1004, "21"}}, "Etalon Number"},
        {{{1010, "1,0,3"}}, "Sequence of Etalons"},
        {{{1011, "20000"}}, "Noise Level"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        shell.messages.clear();
        answer(c.values);
        workbench.onCommand(cmCreateSeries);
        ASSERT_EQ(shell.messages.size(), 1u);
        EXPECT_NE(shell.messages[0].text.find(c.field), std::string::npos) << shell.messages[0].text;
        EXPECT_EQ(s.dwSeriesSizeBase, length);
        EXPECT_EQ(s.wTmin, 40);
        EXPECT_EQ(s.wTmax, 181);
        EXPECT_EQ(s.etalonNumber, 1);
        EXPECT_EQ(s.wPulsesQuantity, 18);
        EXPECT_FALSE(sent(CM_MAKE_SERIES));
    }
}

TEST_F(WorkbenchTest, CancelledDialogsCommitNothing) {
    answer({{1000, "600"}}, true);
    workbench.onCommand(cmCreateSeries);
    EXPECT_EQ(s.dwSeriesSizeBase, 1200u);
    EXPECT_EQ(s.dialogAccepted, 0);
    EXPECT_FALSE(sent(CM_MAKE_SERIES));
}

TEST_F(WorkbenchTest, RequiredListEditRepairsAndRefuses) {
    answer({{1014, "3"}, {1013, "4,25,9"}});
    workbench.onCommand(cmNewPulses);
    EXPECT_EQ(s.wRequiredCount, 3);
    EXPECT_EQ(s.lpRequiredList[0], 4);
    EXPECT_EQ(s.lpRequiredList[1], 2);  // above the alphabet: its position
    EXPECT_EQ(s.lpRequiredList[2], 9);
    EXPECT_EQ(s.requiredFlags[3], 1);
    EXPECT_EQ(s.requiredFlags[0], 0);

    answer({{1014, "2"}, {1013, "0,5"}});
    workbench.onCommand(cmNewPulses);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(s.wRequiredCount, 3);
    EXPECT_EQ(s.lpRequiredList[0], 4);
}

TEST_F(WorkbenchTest, TupleDetectionWithoutASubsetShowsThePanel) {
    workbench.onCommand(cmFixedTuples);
    workbench.onCommand(cmDetection);
    const int runs = workbench.processingRuns;
    workbench.onCommand(cmProcessingSameData);
    EXPECT_TRUE(sent(cmSelectSetOfPulses));
    EXPECT_EQ(s.viewMode, 9);
    EXPECT_EQ(workbench.processingRuns, runs);

    workbench.panel.selectedSubset = {3, 5};
    workbench.panel.wSelectedCount = 2;
    workbench.onCommand(cmProcessingNextData);
    EXPECT_EQ(workbench.processingRuns, runs + 1);
    EXPECT_EQ(workbench.lastRoutine, Routine::detectTuplesFixed);
    EXPECT_EQ(s.viewMode, 6);
}

TEST_F(WorkbenchTest, SimulationRunsAndShowsItsGraphs) {
    answer({{1000, "400"}, {1015, "3"}, {1016, "5"}, {1018, "2"}, {1020, "30"}, {1021, "3"}});
    workbench.onCommand(cmStatisticalSimulation);
    ASSERT_FALSE(shell.messages.empty());
    EXPECT_EQ(shell.messages[0].caption, "getPulseEstAsRepeats");
    EXPECT_NE(shell.messages[0].text.find("pulses: 3, from 3 to 5 incr 1 \n"), std::string::npos);
    ASSERT_NE(s.lpRestErrorHeader, nullptr);
    EXPECT_EQ(s.lpRestErrorHeader->ifComplete, 1);
    EXPECT_EQ(s.wDisplayContent, 2);
    EXPECT_EQ(s.viewMode, 6);
    EXPECT_EQ(s.simGraphKind, 0);
    EXPECT_EQ(shell.progressTitles.size(), 1u);

    // Recognition error, summary view, bounds included: graph kind 13.
    s.wTaskTypeSel = 2;
    answer({{1034, "1"}, {1031, "1"}, {1042, "1"}});
    workbench.onCommand(cmShowSimulation);
    EXPECT_EQ(s.simGraphKind, 13);
}

TEST_F(WorkbenchTest, SimulationRangesThatGiveNoGridAreRefused) {
    answer({{1015, "10"}, {1016, "5"}});
    workbench.onCommand(cmStatisticalSimulation);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find("Number of Pulses in Series"), std::string::npos);
    EXPECT_EQ(s.lpRestErrorHeader, nullptr);
    answer({{1021, "0"}});
    shell.messages.clear();
    workbench.onCommand(cmStatisticalSimulation);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find("Number of Repeats"), std::string::npos);
    EXPECT_EQ(s.repeats, 100);
    // Show does nothing before a complete run.
    workbench.onCommand(cmShowSimulation);
    EXPECT_EQ(s.wDisplayContent, 1);
}

TEST_F(WorkbenchTest, ExitAndKeys) {
    workbench.onKeyDown(65);
    EXPECT_TRUE(shell.invalidations.empty());
    workbench.onKeyDown(1);
    ASSERT_EQ(shell.invalidations.size(), 1u);
    EXPECT_FALSE(shell.invalidations[0].rect.has_value());
    workbench.onCommand(CM_CLOSE);
    workbench.onCommand(cmExit);
    EXPECT_EQ(shell.closeCount, 2);
}

TEST_F(WorkbenchTest, ProcessingGrowsTheChainsTableWhenTheLimitsAllowLongerChains) {
    // A smaller Tmin (as the parameter panel commits it) allows more pulses than the table made
    // at start-up holds; the run makes room instead of refusing.
    s.wTmin = 25;
    workbench.onCommand(cmProcessingNextData);
    EXPECT_TRUE(shell.messages.empty()) << shell.messages.front().text;
    EXPECT_EQ(workbench.processingRuns, 1);
    EXPECT_GE(s.lpChainsHeader->wMaxPulses, (1200 - 20) / 25 + 1);
}
