#include "model/codes.h"

const char* seriesTypeName(uint32_t seriesType) {
    switch (seriesType) {
        case code(SeriesType::fixedWhole): return "known number of whole pulses";
        case code(SeriesType::fixedCutoffs): return "known number of cut-off pulses";
        case code(SeriesType::unfixedWhole): return "unknown number of whole pulses";
        case code(SeriesType::unfixedCutoffs): return "unknown number of cut-off pulses";
        case code(SeriesType::fixedTuples): return "known number of whole pulses tuples";
        case code(SeriesType::unfixedTuples): return "unknown number of whole pulses tuples";
        default: return nullptr;
    }
}

const char* chainsTaskName(uint32_t taskType) {
    switch (taskType) {
        case code(TaskType::detection):
        case code(TaskType::blindDetection):
        case code(TaskType::tupleDetection): return "detection";
        case code(TaskType::recognition):
        case code(TaskType::tupleRecognition): return "recognition";
        case code(TaskType::jointDetection): return "joint detection and identification";
        default: return nullptr;
    }
}

const char* simulationTaskName(uint32_t taskType) {
    switch (taskType) {
        case code(TaskType::detection):
        case code(TaskType::tupleDetection): return "detection";
        case code(TaskType::recognition):
        case code(TaskType::tupleRecognition): return "recognition";
        case code(TaskType::jointDetection): return "joint detection and identification";
        case code(TaskType::jointEstimation):
        case code(TaskType::typedJointEstimation): return "joint detection and estimation";
        case code(TaskType::blindDetection): return "blind detection";
        default: return nullptr;
    }
}
