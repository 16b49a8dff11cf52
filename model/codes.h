#pragma once

#include <array>
#include <cstdint>

/// The tasks the workbench processes a series with. The values are the codes the results
/// records (chains, simulation accumulator) and the batch tool's options carry.
enum class TaskType : uint16_t {
    detection = 1,
    recognition = 2,
    jointDetection = 4,
    tupleDetection = 36,
    tupleRecognition = 40,
    seriesProcessing = 64,
    // Codes no command selects, which the results records still name.
    jointEstimation = 8,
    typedJointEstimation = 16,
    blindDetection = 32,
};

/// The kinds of series the makers build. Known ("fixed") counts are given, unknown ("unfixed")
/// counts are drawn by the maker; typed series carry an etalon sequence; tuple series lay a
/// selected subset into it.
enum class SeriesType : uint16_t {
    fixedWhole = 1,
    fixedCutoffs = 2,
    unfixedWhole = 4,
    unfixedCutoffs = 8,
    fixedWholeTyped = 16,
    unfixedWholeTyped = 32,
    fixedTuples = 36,
    unfixedTuples = 40,
};

/// The tasks a command or option selects, and every series type, in code order.
inline constexpr std::array<TaskType, 6> selectableTaskTypes = {
    TaskType::detection,      TaskType::recognition,      TaskType::jointDetection,
    TaskType::tupleDetection, TaskType::tupleRecognition, TaskType::seriesProcessing};
inline constexpr std::array<SeriesType, 8> seriesTypes = {
    SeriesType::fixedWhole,      SeriesType::fixedCutoffs,      SeriesType::unfixedWhole,
    SeriesType::unfixedCutoffs,  SeriesType::fixedWholeTyped,   SeriesType::unfixedWholeTyped,
    SeriesType::fixedTuples,     SeriesType::unfixedTuples};

/// The numeric code of a task or series type, as the records store it.
constexpr uint16_t code(TaskType t) { return static_cast<uint16_t>(t); }
constexpr uint16_t code(SeriesType t) { return static_cast<uint16_t>(t); }

// Predicates on the series codes. They take the code as the records store it, so that the
// display can ask them of a chains table or an accumulator as well as of the settings.

/// Series of tuples (36, 40).
constexpr bool isTupleSeries(uint32_t c) {
    return c == code(SeriesType::fixedTuples) || c == code(SeriesType::unfixedTuples);
}
constexpr bool isTupleSeries(SeriesType t) { return isTupleSeries(code(t)); }

/// Series of cut-off pulses (2, 8).
constexpr bool isCutOffSeries(uint32_t c) {
    return c == code(SeriesType::fixedCutoffs) || c == code(SeriesType::unfixedCutoffs);
}
constexpr bool isCutOffSeries(SeriesType t) { return isCutOffSeries(code(t)); }

/// Series whose pulse count the maker draws (4, 8, 40).
constexpr bool isUnknownCountSeries(uint32_t c) {
    return c == code(SeriesType::unfixedWhole) || c == code(SeriesType::unfixedCutoffs) ||
           c == code(SeriesType::unfixedTuples);
}
constexpr bool isUnknownCountSeries(SeriesType t) { return isUnknownCountSeries(code(t)); }

/// Series of single pulses with an unknown count (4, 8): the pulse routines that search the
/// count take them.
constexpr bool isUnknownCountPulseSeries(uint32_t c) {
    return c == code(SeriesType::unfixedWhole) || c == code(SeriesType::unfixedCutoffs);
}

/// The four series types without typed sequence or tuples (1, 2, 4, 8).
constexpr bool isPlainPulseSeries(uint32_t c) {
    return c == code(SeriesType::fixedWhole) || c == code(SeriesType::fixedCutoffs) ||
           c == code(SeriesType::unfixedWhole) || c == code(SeriesType::unfixedCutoffs);
}

/// The tuple tasks (36, 40).
constexpr bool isTupleTask(uint32_t c) {
    return c == code(TaskType::tupleDetection) || c == code(TaskType::tupleRecognition);
}
constexpr bool isTupleTask(TaskType t) { return isTupleTask(code(t)); }

/// Whether a code as a record stores it is the task `t` (the series type `t`).
constexpr bool isTask(uint32_t c, TaskType t) { return c == code(t); }
constexpr bool isSeries(uint32_t c, SeriesType t) { return c == code(t); }

/// The tasks that try every etalon of the required list as a candidate (recognition, joint
/// detection, series processing); detection and the tuple tasks take one etalon or tuple.
constexpr bool triesCandidateList(TaskType t) {
    return t != TaskType::detection && t != TaskType::tupleDetection && t != TaskType::tupleRecognition;
}

/// The task actually run: the tuple forms replace detection and recognition on tuple series.
constexpr TaskType effectiveTaskType(TaskType selected, SeriesType series) {
    if (isTupleSeries(series) && selected == TaskType::detection) return TaskType::tupleDetection;
    if (isTupleSeries(series) && selected == TaskType::recognition) return TaskType::tupleRecognition;
    return selected;
}

/// The name a chains table records for its series type; null for the typed series and any
/// other code.
const char* seriesTypeName(uint32_t seriesType);

/// The name a chains table records for its task (1, 32 and 36 are detections); null for any
/// other code.
const char* chainsTaskName(uint32_t taskType);

/// The name a simulation accumulator records for its task (8 and 16 are "joint detection and
/// estimation", 32 "blind detection"); null for any other code.
const char* simulationTaskName(uint32_t taskType);

