#include "model/codes.h"

#include <gtest/gtest.h>

#include <string>

TEST(CodesTest, TupleTasksReplaceDetectionAndRecognitionOnTupleSeriesOnly) {
    for (SeriesType series : {SeriesType::fixedTuples, SeriesType::unfixedTuples}) {
        EXPECT_EQ(effectiveTaskType(TaskType::detection, series), TaskType::tupleDetection);
        EXPECT_EQ(effectiveTaskType(TaskType::recognition, series), TaskType::tupleRecognition);
        EXPECT_EQ(effectiveTaskType(TaskType::jointDetection, series), TaskType::jointDetection);
        EXPECT_EQ(effectiveTaskType(TaskType::seriesProcessing, series), TaskType::seriesProcessing);
    }
    for (SeriesType series : seriesTypes) {
        if (isTupleSeries(series)) continue;
        for (TaskType task : {TaskType::detection, TaskType::recognition, TaskType::jointDetection,
                              TaskType::seriesProcessing})
            EXPECT_EQ(effectiveTaskType(task, series), task);
    }
}

TEST(CodesTest, SeriesPredicatesSortEveryTypeByItsCode) {
    std::string unknown, cutoff, tuples;
    for (SeriesType series : seriesTypes) {
        const std::string c = std::to_string(code(series)) + " ";
        if (isUnknownCountSeries(series)) unknown += c;
        if (isCutOffSeries(series)) cutoff += c;
        if (isTupleSeries(series)) tuples += c;
    }
    EXPECT_EQ(unknown, "4 8 40 ");
    EXPECT_EQ(cutoff, "2 8 ");
    EXPECT_EQ(tuples, "36 40 ");
    // Codes no series type has (a corrupt record) satisfy no predicate.
    for (uint32_t c : {0u, 3u, 64u, 65535u}) {
        EXPECT_FALSE(isUnknownCountSeries(c) || isCutOffSeries(c) || isTupleSeries(c) || isPlainPulseSeries(c)) << c;
    }
}

TEST(CodesTest, OnlyDetectionAndTheTupleTasksTakeOneEtalonOrTuple) {
    for (TaskType task : selectableTaskTypes)
        EXPECT_EQ(triesCandidateList(task), task == TaskType::recognition || task == TaskType::jointDetection ||
                                                task == TaskType::seriesProcessing)
            << code(task);
}

TEST(CodesTest, RecordsNameTheirCodesAsBefore) {
    EXPECT_STREQ(seriesTypeName(code(SeriesType::unfixedTuples)), "unknown number of whole pulses tuples");
    EXPECT_STREQ(seriesTypeName(code(SeriesType::fixedCutoffs)), "known number of cut-off pulses");
    EXPECT_EQ(seriesTypeName(code(SeriesType::fixedWholeTyped)), nullptr);
    // The chains table counts code 32 as a detection; the accumulator names it blind detection
    // and codes 8 and 16 joint estimation.
    EXPECT_STREQ(chainsTaskName(32), "detection");
    EXPECT_STREQ(simulationTaskName(32), "blind detection");
    EXPECT_EQ(chainsTaskName(8), nullptr);
    EXPECT_STREQ(simulationTaskName(8), "joint detection and estimation");
    EXPECT_STREQ(simulationTaskName(16), "joint detection and estimation");
    for (TaskType task : {TaskType::jointDetection, TaskType::tupleRecognition})
        EXPECT_STREQ(chainsTaskName(code(task)), simulationTaskName(code(task)));
    EXPECT_EQ(chainsTaskName(code(TaskType::seriesProcessing)), nullptr);
}
