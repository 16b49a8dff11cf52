// The workbench's start-up and commands through the headless shell: state, check marks, the
// commands each command sends, invalidations and failure messages.

#include "workbench/workbench.h"

#include <gtest/gtest.h>

#include "tests/display/text_log.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/dialog_form.h"
#include "platform/headless/headless_shell.h"

namespace {
class WorkbenchTest : public ::testing::Test {
protected:
    void SetUp() override {
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

TEST_F(WorkbenchTest, StartUpLeavesJointDetectionOnCutOffSeriesWithEveryEtalonRequired) {
    EXPECT_EQ(s.seriesType, SeriesType::unfixedCutoffs);
    EXPECT_EQ(s.wTaskType, TaskType::jointDetection);
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
    EXPECT_TRUE(shell.menuChecks[CM_UNFIXED_CUTOFFS]);
    EXPECT_TRUE(shell.menuChecks[CM_JOINT_DETECTION]);
    for (int id : {CM_FIXED_WHOLE, CM_UNFIXED_WHOLE, CM_FIXED_CUTOFFS, CM_FIXED_TUPLES, CM_UNFIXED_TUPLES, CM_DETECTION,
                   CM_RECOGNITION, CM_SERIES_PROCESSING})
        EXPECT_FALSE(shell.menuChecks[id]) << id;
    EXPECT_EQ(shell.editContents, "Tmin Text");
    EXPECT_EQ(s.viewMode, ViewMode::etalons);
}

TEST_F(WorkbenchTest, ProcessingNextDataRunsThePipeline) {
    workbench.onCommand(CM_PROCESSING_NEXT_DATA);
    EXPECT_EQ(shell.commands, std::vector<int>{CM_NEXT_DATA});
    EXPECT_EQ(workbench.processingRuns, 1);
    EXPECT_EQ(workbench.lastRoutine, Routine::detectPulsesUnfixed);
    EXPECT_EQ(s.viewMode, ViewMode::results);
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
    workbench.onCommand(CM_PROCESSING_SAME_DATA);
    EXPECT_EQ(s.noiseSeed, noise);
    EXPECT_EQ(workbench.processingRuns, 2);
}

TEST_F(WorkbenchTest, TaskCommandsKeepOneCheckAndDeriveTheTask) {
    workbench.onCommand(CM_RECOGNITION);
    EXPECT_EQ(s.wTaskType, TaskType::recognition);
    EXPECT_TRUE(shell.menuChecks[CM_RECOGNITION]);
    EXPECT_FALSE(shell.menuChecks[CM_JOINT_DETECTION]);

    workbench.onCommand(CM_FIXED_WHOLE);
    workbench.onCommand(CM_DETECTION);
    EXPECT_EQ(s.wTaskType, TaskType::detection);
    EXPECT_EQ(s.wRequiredCount, 1);  // only the current etalon
    EXPECT_EQ(s.lpRequiredList[0], s.currentEtalon);

    workbench.onCommand(CM_UNFIXED_TUPLES);
    workbench.onCommand(CM_RECOGNITION);
    EXPECT_EQ(s.wTaskType, TaskType::tupleRecognition);
    workbench.onCommand(CM_DETECTION);
    EXPECT_EQ(s.wTaskType, TaskType::tupleDetection);
    EXPECT_EQ(s.wRequiredCount, 1);  // left alone on a tuple series

    workbench.onCommand(CM_SERIES_PROCESSING);
    EXPECT_EQ(s.wTaskType, TaskType::seriesProcessing);
    EXPECT_EQ(std::count_if(shell.menuChecks.begin(), shell.menuChecks.end(),
                            [](const auto& c) { return c.second && c.first >= 40005 && c.first <= 40007; }),
              0);
}

TEST_F(WorkbenchTest, SeriesTypeCommandsResetTheLostLevelForWholePulses) {
    workbench.onCommand(CM_FIXED_WHOLE);
    EXPECT_EQ(s.seriesType, SeriesType::fixedWhole);
    EXPECT_EQ(s.wLostLevel, 0);
    EXPECT_EQ(s.wSavedEnergyCreate, 100);
    EXPECT_EQ(s.wSavedEnergyProcessBase, 100);
    EXPECT_TRUE(shell.menuChecks[CM_FIXED_WHOLE]);
    EXPECT_FALSE(shell.menuChecks[CM_UNFIXED_CUTOFFS]);
    workbench.onCommand(CM_FIXED_CUTOFFS);
    EXPECT_EQ(s.seriesType, SeriesType::fixedCutoffs);
    EXPECT_EQ(s.wSavedEnergyCreate, 100);  // the cut-off types keep the levels
    // " Fixed case" leaves the check marks alone.
    workbench.onCommand(CM_FIXED_CASE);
    EXPECT_EQ(s.seriesType, SeriesType::fixedWhole);
    EXPECT_TRUE(shell.menuChecks[CM_FIXED_CUTOFFS]);
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
    workbench.onCommand(CM_FIXED_WHOLE);
    workbench.onCommand(CM_CREATE_SERIES);
    EXPECT_EQ(s.dwSeriesSizeBase, 600u);
    EXPECT_EQ(s.wTmin, 30);
    EXPECT_EQ(s.wTmax, 100);
    EXPECT_EQ(s.wPulsesQuantity, 8);
    EXPECT_EQ(s.wNoiseLevelBase, 15);
    EXPECT_EQ(s.seriesType, SeriesType::fixedWholeTyped);  // a typed sequence
    EXPECT_TRUE(shell.menuChecks[CM_FIXED_WHOLE]);
    // The two dialogs, their values returned to the command that commits them.
    ASSERT_GE(shell.dialogs.size(), 2u);
    EXPECT_EQ(shell.dialogs[shell.dialogs.size() - 2].resource, 105);
    EXPECT_EQ(shell.dialogs.back().resource, 106);
    EXPECT_TRUE(sent(CM_MAKE_SERIES));
    EXPECT_EQ(s.lpSeriesHeader->dwSeriesSize, 600);
    EXPECT_EQ(s.lpSeriesHeader->wImpulseQuantity, 8);
    EXPECT_EQ(s.lpSeriesHeader->wNoiseSigma, 15);
    EXPECT_EQ(s.lpChainsHeader->wMaxPulses, std::max<int>(30, s.wMaxPulses));
}

// The pulses dialog shows the sequence of the current series, also after a new one was drawn
// (not the copy an earlier dialog left behind).
TEST_F(WorkbenchTest, CreateSeriesShowsTheCurrentEtalonSequence) {
    for (int round = 0; round < 2; ++round) {
        workbench.onCommand(CM_PROCESSING_NEXT_DATA);
        const std::vector<uint16_t> current = s.lpEtalonSequence;
        answer({});  // both dialogs accepted as shown
        workbench.onCommand(CM_CREATE_SERIES);
        ASSERT_GE(shell.dialogs.size(), 2u);
        const DialogForm& pulses = shell.dialogs.back();
        ASSERT_EQ(pulses.resource, 106);
        const DialogControl* sequence = pulses.find(1010);
        ASSERT_NE(sequence, nullptr);
        std::string expected;
        for (int i = 0; i < s.wPulsesQuantity; ++i)
            expected += (i ? "," : "") + std::to_string(current[static_cast<size_t>(i)]);
        EXPECT_EQ(sequence->text, expected) << "round " << round;
    }
}

// Series processing of a typed series has no series view: the view says why instead of
// staying blank.
TEST_F(WorkbenchTest, SeriesProcessingOfATypedSeriesSaysWhyNothingIsDrawn) {
    answer({});
    for (const int id : {40027, 40008, 40001}) workbench.onCommand(id);
    ASSERT_EQ(s.wTaskType, TaskType::seriesProcessing);
    TextLog canvas;
    workbench.onPaint(canvas, Rect{0, 0, 2000, 2000});
    const bool said = std::any_of(canvas.texts.begin(), canvas.texts.end(), [](const TextLog::Entry& e) {
        return e.text.find("The series view draws series of types 1, 2, 4 and 8 only") != std::string::npos;
    });
    EXPECT_TRUE(said);
}

// A tuple once laid keeps shaping later series of any type (on purpose); the status bar and the
// Create series dialog name it.
TEST_F(WorkbenchTest, AnActiveTupleIsNamedWhereItShapesTheSeries) {
    // The subset panel as the user leaves it: 3,5,7 composed and stored.
    SubsetPanelState& panel = workbench.panel;
    ASSERT_TRUE(prepareSubsetPanel(panel, workbench.subsetMarks).ok);
    const int32_t tuple[] = {3, 5, 7};
    std::copy(std::begin(tuple), std::end(tuple), panel.selectedSubset.begin());
    std::copy(std::begin(tuple), std::end(tuple), panel.selectedSubsetArray[0].begin());
    panel.wSelectedCount = 3;
    panel.selectedSubsetArraySize[0] = 3;
    panel.wStoredSubsets = 1;
    panel.currentPatternTuple = 1;
    answer({});
    for (const int id : {40032, 40006, 40029, 40018, 40011, 40007, 40018}) workbench.onCommand(id);
    EXPECT_NE(shell.statusText.find("  |  Tuple 3,5,7 laid into every series"), std::string::npos) << shell.statusText;
    workbench.onCommand(CM_CREATE_SERIES);
    const DialogControl* label = shell.dialogs.back().find(1009);
    ASSERT_NE(label, nullptr);
    EXPECT_NE(label->text.find("; the active tuple 3,5,7 is laid over it"), std::string::npos) << label->text;
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
        workbench.onCommand(CM_CREATE_SERIES);
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
    workbench.onCommand(CM_CREATE_SERIES);
    EXPECT_EQ(s.dwSeriesSizeBase, 1200u);
    EXPECT_EQ(s.etalonNumber, 1);
    EXPECT_FALSE(sent(CM_MAKE_SERIES));
}

TEST_F(WorkbenchTest, RequiredListEditRefusesNumbersThatNameNoEtalon) {
    answer({{1014, "3"}, {1013, "4,2,9"}});
    workbench.onCommand(CM_NEW_PULSES);
    EXPECT_EQ(s.wRequiredCount, 3);
    EXPECT_EQ(s.lpRequiredList[1], 2);
    EXPECT_EQ(s.requiredFlags[3], 1);
    EXPECT_EQ(s.requiredFlags[0], 0);

    // Every entry outside 1..20 is refused with the whole edit, whatever its size.
    for (const char* list : {"4,25,9", "1,2,21", "0,5,6", "7,65535,1", "7,70000,1", "1,-2,3"}) {
        SCOPED_TRACE(list);
        shell.messages.clear();
        answer({{1014, "3"}, {1013, list}});
        workbench.onCommand(CM_NEW_PULSES);
        ASSERT_EQ(shell.messages.size(), 1u);
        EXPECT_NE(shell.messages[0].text.find("etalon numbers lie between 1 and 20"), std::string::npos)
            << shell.messages[0].text;
        EXPECT_EQ(s.wRequiredCount, 3);
        EXPECT_EQ(s.lpRequiredList[0], 4);
        EXPECT_EQ(s.lpRequiredList[1], 2);
        EXPECT_EQ(s.lpRequiredList[2], 9);
    }
}

TEST_F(WorkbenchTest, TupleDetectionWithoutASubsetShowsThePanel) {
    workbench.onCommand(CM_FIXED_TUPLES);
    workbench.onCommand(CM_DETECTION);
    const int runs = workbench.processingRuns;
    workbench.onCommand(CM_PROCESSING_SAME_DATA);
    EXPECT_TRUE(sent(CM_SELECT_SET_OF_PULSES));
    EXPECT_EQ(s.viewMode, ViewMode::subsetPanel);
    EXPECT_EQ(workbench.processingRuns, runs);

    workbench.panel.selectedSubset = {3, 5};
    workbench.panel.wSelectedCount = 2;
    workbench.onCommand(CM_PROCESSING_NEXT_DATA);
    EXPECT_EQ(workbench.processingRuns, runs + 1);
    EXPECT_EQ(workbench.lastRoutine, Routine::detectTuplesFixed);
    EXPECT_EQ(s.viewMode, ViewMode::results);
}

TEST_F(WorkbenchTest, SimulationRunsAndShowsItsGraphs) {
    answer({{1000, "400"}, {1015, "3"}, {1016, "5"}, {1018, "2"}, {1020, "30"}, {1021, "3"}});
    workbench.onCommand(CM_STATISTICAL_SIMULATION);
    ASSERT_FALSE(shell.messages.empty());
    EXPECT_EQ(shell.messages[0].caption, "getPulseEstAsRepeats");
    EXPECT_NE(shell.messages[0].text.find("pulses: 3, from 3 to 5 incr 1 \n"), std::string::npos);
    ASSERT_NE(s.lpRestErrorHeader, nullptr);
    EXPECT_EQ(s.lpRestErrorHeader->ifComplete, 1);
    EXPECT_EQ(s.wDisplayContent, 2);
    EXPECT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(s.simGraphKind, 0);
    EXPECT_EQ(shell.progressTitles.size(), 1u);

    // Recognition error, summary view, bounds included: graph kind 13.
    s.wTaskTypeSel = TaskType::recognition;
    answer({{1034, "1"}, {1031, "1"}, {1042, "1"}});
    workbench.onCommand(CM_SHOW_SIMULATION);
    EXPECT_EQ(s.simGraphKind, 13);
}

TEST_F(WorkbenchTest, SimulationProposesAtLeastOnePulseForASeriesShorterThanTmax) {
    // 100 samples with Tmax 181: (100 + 19) / 181 is 0, yet every series holds a pulse. The
    // proposed range, taken as shown, runs.
    answer({{1000, "100"}, {1018, "1"}, {1021, "1"}});
    workbench.onCommand(CM_STATISTICAL_SIMULATION);
    ASSERT_FALSE(shell.messages.empty());
    EXPECT_EQ(shell.messages[0].caption, "getPulseEstAsRepeats");
    EXPECT_NE(shell.messages[0].text.find("MinPulses: 1 -> 1\nMaxPulses: 3 -> 3"), std::string::npos)
        << shell.messages[0].text;
    ASSERT_NE(s.lpRestErrorHeader, nullptr);
    EXPECT_EQ(s.lpRestErrorHeader->ifComplete, 1);
    EXPECT_EQ(s.lpRestErrorHeader->wPulseValues[0], 1);
}

TEST_F(WorkbenchTest, SimulationRangesThatGiveNoGridAreRefused) {
    answer({{1015, "10"}, {1016, "5"}});
    workbench.onCommand(CM_STATISTICAL_SIMULATION);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find("Number of Pulses in Series"), std::string::npos);
    EXPECT_EQ(s.lpRestErrorHeader, nullptr);
    answer({{1021, "0"}});
    shell.messages.clear();
    workbench.onCommand(CM_STATISTICAL_SIMULATION);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find("Number of Repeats"), std::string::npos);
    EXPECT_EQ(s.repeats, 100);
    // Show does nothing before a complete run.
    workbench.onCommand(CM_SHOW_SIMULATION);
    EXPECT_EQ(s.wDisplayContent, 1);
}

TEST_F(WorkbenchTest, ExitAndKeys) {
    workbench.onKeyDown(65);
    EXPECT_TRUE(shell.invalidations.empty());
    workbench.onKeyDown(1);
    ASSERT_EQ(shell.invalidations.size(), 1u);
    EXPECT_FALSE(shell.invalidations[0].rect.has_value());
    workbench.onCommand(CM_CLOSE);
    workbench.onCommand(CM_EXIT);
    EXPECT_EQ(shell.closeCount, 2);
}

TEST_F(WorkbenchTest, ProcessingGrowsTheChainsTableWhenTheLimitsAllowLongerChains) {
    // A smaller Tmin (as the parameter panel commits it) allows more pulses than the table made
    // at start-up holds; the run makes room instead of refusing.
    s.wTmin = 25;
    workbench.onCommand(CM_PROCESSING_NEXT_DATA);
    EXPECT_TRUE(shell.messages.empty()) << shell.messages.front().text;
    EXPECT_EQ(workbench.processingRuns, 1);
    EXPECT_GE(s.lpChainsHeader->wMaxPulses, (1200 - 20) / 25 + 1);
}

TEST_F(WorkbenchTest, SimulationAfterAShorterSeriesRunsOnFullCopies) {
    // The start-up record holds up to 30 pulses; a simulation of 600 samples holds 15.
    answer({{1000, "600"}, {1015, "6"}, {1016, "8"}, {1021, "2"}, {1018, "2"}, {1020, "60"}});
    workbench.onCommand(CM_STATISTICAL_SIMULATION);
    ASSERT_EQ(shell.messages.size(), 1u) << shell.messages.back().text;  // the report only
    EXPECT_EQ(shell.messages[0].caption, "getPulseEstAsRepeats");
    ASSERT_NE(s.lpRestErrorHeader, nullptr);
    EXPECT_EQ(s.lpRestErrorHeader->ifComplete, 1);
    // The second noise level (60) leaves a restoring error in every column.
    for (int j = 0; j < 3; ++j) EXPECT_GT(s.lpRestErrorHeader->lpErrors[1][j], 0) << j;
    EXPECT_EQ(s.lpSeriesHeader->dwSeriesSize, 600);
    EXPECT_EQ(s.lpSeriesHeader->wImpulseSize, 20);
    EXPECT_EQ(s.wDisplayContent, 2);
}

TEST_F(WorkbenchTest, AFailedSimulationKeepsThePreviousResultsSeriesAndView) {
    answer({{1000, "400"}, {1015, "3"}, {1016, "5"}, {1018, "2"}, {1020, "30"}, {1021, "3"}});
    workbench.onCommand(CM_STATISTICAL_SIMULATION);
    RestErrorHeader* previous = s.lpRestErrorHeader.get();
    ASSERT_NE(previous, nullptr);
    ASSERT_EQ(previous->ifComplete, 1);
    const int32_t error = previous->lpErrors[1][0];
    workbench.onCommand(CM_PROCESSING_NEXT_DATA);  // the results view of a fresh series
    ASSERT_EQ(s.wDisplayContent, 1);
    const std::vector<int16_t> shownSeries(s.lpSeriesHeader->lpNoisyData,
                                           s.lpSeriesHeader->lpNoisyData + s.lpSeriesHeader->dwSeriesSize);
    const int32_t shownLength = s.lpSeriesHeader->dwSeriesSize;

    // A tuple series with task Detection and no subset: the driver refuses the run.
    workbench.onCommand(CM_FIXED_TUPLES);
    workbench.onCommand(CM_DETECTION);
    s.viewMode = ViewMode::results;
    s.wDisplayContent = 1;
    shell.messages.clear();
    answer({{1000, "600"}, {1015, "6"}, {1016, "8"}, {1018, "2"}, {1021, "2"}});
    workbench.onCommand(CM_STATISTICAL_SIMULATION);
    ASSERT_EQ(shell.messages.size(), 2u);  // the report, then why the run did not happen
    EXPECT_NE(shell.messages[1].text.find("selected Subset is absence"), std::string::npos);
    EXPECT_EQ(s.lpRestErrorHeader.get(), previous);
    EXPECT_EQ(s.lpRestErrorHeader->ifComplete, 1);
    EXPECT_EQ(s.lpRestErrorHeader->lpErrors[1][0], error);
    EXPECT_EQ(s.wDisplayContent, 1);
    EXPECT_EQ(s.viewMode, ViewMode::results);
    ASSERT_EQ(s.lpSeriesHeader->dwSeriesSize, shownLength);
    EXPECT_TRUE(std::equal(shownSeries.begin(), shownSeries.end(), s.lpSeriesHeader->lpNoisyData));
}

TEST_F(WorkbenchTest, TupleRecognitionWithoutStoredTuplesShowsThePanelAndRunsNothing) {
    workbench.onCommand(CM_FIXED_TUPLES);
    workbench.onCommand(CM_DETECTION);
    workbench.panel.selectedSubset = {3, 7, 5};
    workbench.panel.wSelectedCount = 3;
    workbench.onCommand(CM_PROCESSING_NEXT_DATA);
    ASSERT_EQ(workbench.lastRoutine, Routine::detectTuplesFixed);
    ASSERT_GT(s.lpChainsHeader->wPretenders, 0);
    const int runs = workbench.processingRuns;

    workbench.onCommand(CM_RECOGNITION);
    shell.commands.clear();
    workbench.onCommand(CM_PROCESSING_NEXT_DATA);
    EXPECT_TRUE(sent(CM_SELECT_SET_OF_PULSES));
    EXPECT_EQ(s.viewMode, ViewMode::subsetPanel);
    EXPECT_EQ(workbench.processingRuns, runs);
    // The chains of the earlier series are gone: no results view can show them with this one.
    EXPECT_EQ(s.lpChainsHeader->wPretenders, 0);
}

TEST_F(WorkbenchTest, RefusedDialogsAskAgainWithWhatWasTyped) {
    // The first OK names the one field to correct and the dialog stays open; the corrected
    // answer is taken.
    int asked = 0;
    shell.setDialogAnswer([&](const DialogForm& form) {
        ++asked;
        if (form.resource != 105) return scriptedAnswer(form, {}, false);
        if (asked == 1) return scriptedAnswer(form, {{1000, "600"}, {1001, "0"}}, false);
        // The form shows what was typed.
        EXPECT_EQ(form.find(1000)->text, "600");
        EXPECT_EQ(form.find(1001)->text, "0");
        return scriptedAnswer(form, {{1001, "30"}}, false);
    });
    workbench.onCommand(CM_CREATE_SERIES);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find("Min Length of Interval"), std::string::npos);
    EXPECT_EQ(s.dwSeriesSizeBase, 600u);
    EXPECT_EQ(s.wTmin, 30);
    EXPECT_TRUE(sent(CM_MAKE_SERIES));

    // Each dialog's refusal names its own field.
    struct Case {
        int command, resource, field;
        std::map<int, std::string> typed;
    };
    const Case cases[] = {
        {CM_CREATE_SERIES, 105, 1003, {{1003, "10"}}},
        {CM_CREATE_SERIES, 105, 1004, {{1004, "21"}}},
        {CM_CREATE_SERIES, 106, 1010, {{1010, "1,0,3"}}},
        {CM_CREATE_SERIES, 106, 1011, {{1011, "20000"}}},
        {CM_NEW_PULSES, 107, 1013, {{1014, "2"}, {1013, "0,5"}}},
        {CM_STATISTICAL_SIMULATION, 110, 1021, {{1021, "0"}}},
        {CM_STATISTICAL_SIMULATION, 110, 1016, {{1015, "10"}, {1016, "5"}}},
        {CM_STATISTICAL_SIMULATION, 110, 1016, {{1015, "30"}, {1016, "6"}, {1017, "30"}}},  // reversed, one "step"
        {CM_CREATE_SERIES, 106, 1007, {{1007, "50"}}},  // beyond the count the dialog states
        {CM_CREATE_SERIES, 106, 1007, {{1007, "-5"}}},
        {CM_NEW_PULSES, 107, 1013, {{1014, "3"}, {1013, "1,2,21"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        std::optional<DialogRefusal> refusal;
        shell.setDialogAnswer([&](const DialogForm& form) {
            if (form.resource != c.resource) return scriptedAnswer(form, {}, false);
            const DialogResult typed = scriptedAnswer(form, c.typed, false);
            EXPECT_TRUE(form.validate);
            if (form.validate && !refusal) refusal = form.validate(typed);
            return scriptedAnswer(form, {}, true);
        });
        workbench.onCommand(c.command);
        ASSERT_TRUE(refusal.has_value());
        EXPECT_EQ(refusal->field, c.field);
        EXPECT_FALSE(refusal->text.empty());
        if (c.field == 1007) {  // the range the dialog states: "(from 3 to 20)" for 600 samples, Tmin 30
            EXPECT_NE(refusal->text.find("between 3 and 20"), std::string::npos) << refusal->text;
        }
        if (c.resource == 110 && c.typed.count(1017)) {
            EXPECT_NE(refusal->text.find("\"from\" 30 is greater than \"to\" 6"), std::string::npos) << refusal->text;
        }
    }
    // The checks ran on the typed values and put the settings back.
    EXPECT_EQ(s.wTmin, 30);
    EXPECT_EQ(s.repeats, 100);
}

TEST_F(WorkbenchTest, SaysWhyNothingHappened) {
    // Series Processing on a tuple series.
    workbench.onCommand(CM_FIXED_TUPLES);
    workbench.onCommand(CM_SERIES_PROCESSING);
    const int runs = workbench.processingRuns;
    workbench.onCommand(CM_PROCESSING_NEXT_DATA);
    ASSERT_FALSE(shell.messages.empty());
    EXPECT_EQ(shell.messages.back().caption, " Series Processing ");
    EXPECT_EQ(workbench.processingRuns, runs);

    // Next with no etalon selected says what the menu path says.
    workbench.onCommand(CM_JOINT_DETECTION);
    workbench.onCommand(CM_UNFIXED_CUTOFFS);
    s.requiredFlags.fill(0);
    rebuildRequiredList(s);
    s.viewMode = ViewMode::etalons;
    workbench.layout.rcNextButton = {1000, 10, 1040, 40};
    shell.messages.clear();
    workbench.onLeftButtonDown(1020, 20);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find("choose at least one etalon"), std::string::npos);
    workbench.onCommand(CM_PROCESSING_NEXT_DATA);
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(shell.messages[1].text, shell.messages[0].text);
    EXPECT_EQ(workbench.processingRuns, runs);
}

TEST_F(WorkbenchTest, StatusLineFollowsTheModes) {
    EXPECT_EQ(shell.statusText, workbench.statusText());
    EXPECT_NE(shell.statusText.find("Joint Detection and Identification"), std::string::npos);
    EXPECT_NE(shell.statusText.find("unfixed number of cut-off pulses"), std::string::npos);
    EXPECT_NE(shell.statusText.find("Length: 1200"), std::string::npos);
    EXPECT_NE(shell.statusText.find("Noise: 20"), std::string::npos);
    workbench.onCommand(CM_RECOGNITION);
    workbench.onCommand(CM_FIXED_WHOLE);
    EXPECT_NE(shell.statusText.find("Task: Recognition"), std::string::npos);
    EXPECT_NE(shell.statusText.find("fixed number of whole pulses"), std::string::npos);
    EXPECT_EQ(shell.statusText.find("Last simulation"), std::string::npos);
    answer({{1000, "400"}, {1015, "3"}, {1016, "4"}, {1018, "2"}, {1021, "2"}});
    workbench.onCommand(CM_STATISTICAL_SIMULATION);
    EXPECT_NE(shell.statusText.find("Last simulation: "), std::string::npos);
    EXPECT_EQ(shell.statusText.find("cancelled"), std::string::npos);
}

TEST_F(WorkbenchTest, KeysActAsTheButtonsAndEscapeLeavesThePanels) {
    // Without a paint there is no Next button to act as.
    workbench.onKeyDown(0x20);
    EXPECT_EQ(workbench.processingRuns, 0);
    workbench.layout.rcNextButton = {1000, 10, 1040, 40};
    workbench.onKeyDown(0x20);  // Space
    EXPECT_EQ(workbench.processingRuns, 1);
    workbench.onKeyDown(0x0D);  // Enter
    EXPECT_EQ(workbench.processingRuns, 2);

    workbench.onCommand(CM_VIEW_SERIES_PARAMETERS);
    ASSERT_EQ(s.viewMode, ViewMode::parametersPanel);
    shell.editRect = {5, 5, 50, 20};  // where the panel's paint put the Tmin box
    workbench.onKeyDown(0x1B);  // Esc: " Cancel "
    EXPECT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(s.wTmin, 40);
    EXPECT_EQ(shell.editRect.right - shell.editRect.left, 0);
    EXPECT_EQ(workbench.processingRuns, 3);

    workbench.onCommand(CM_SELECT_SET_OF_PULSES);
    ASSERT_EQ(s.viewMode, ViewMode::subsetPanel);
    workbench.onKeyDown(0x1B);
    EXPECT_EQ(s.viewMode, ViewMode::results);

    // In the parameter panel Enter is " OK ": it takes the typed Tmin, or refuses it.
    workbench.onCommand(CM_VIEW_SERIES_PARAMETERS);
    shell.editContents = "6";
    shell.messages.clear();
    workbench.onKeyDown(0x0D);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(s.viewMode, ViewMode::parametersPanel);
    shell.editContents = "35";
    workbench.onKeyDown(0x0D);
    EXPECT_EQ(s.wTmin, 35);
    EXPECT_EQ(s.viewMode, ViewMode::results);
}

TEST_F(WorkbenchTest, LeavingTheParameterPanelByAnyPathHidesTheTminBox) {
    for (int leave : {CM_PROCESSING_NEXT_DATA, CM_SELECT_SET_OF_PULSES, CM_STATISTICAL_SIMULATION}) {
        SCOPED_TRACE(leave);
        workbench.onCommand(CM_VIEW_SERIES_PARAMETERS);
        ASSERT_EQ(s.viewMode, ViewMode::parametersPanel);
        shell.editRect = {5, 5, 50, 20};  // where the panel's paint put the Tmin box
        answer({{1000, "400"}, {1015, "3"}, {1016, "4"}, {1018, "2"}, {1021, "2"}});
        workbench.onCommand(leave);
        EXPECT_NE(s.viewMode, ViewMode::parametersPanel);
        EXPECT_EQ(shell.editRect.right - shell.editRect.left, 0);
    }
}

TEST_F(WorkbenchTest, ModeCommandsThatChangeTheButtonColumnRepaintTheWholeWindow) {
    auto wholeRepaint = [&] {
        return std::any_of(shell.invalidations.begin(), shell.invalidations.end(),
                           [](const HeadlessShell::Invalidation& i) { return !i.rect && i.erase; });
    };
    struct Step {
        int command;
        bool repaints;
    };
    // Start-up: task 4 (toggle shown), cut-off series (lost data box shown), etalon view.
    const Step steps[] = {{CM_RECOGNITION, false},   {CM_FIXED_TUPLES, true},  {CM_DETECTION, true},
                          {CM_UNFIXED_CUTOFFS, true}, {CM_FIXED_CUTOFFS, false}, {CM_FIXED_CASE, true},
                          {CM_JOINT_DETECTION, true}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        shell.invalidations.clear();
        workbench.onCommand(step.command);
        EXPECT_EQ(wholeRepaint(), step.repaints);
    }
}
