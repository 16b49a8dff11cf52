#include "core/detect.h"

const char* detectTaskName(DetectTask task) {
    switch (task) {
    case DetectTask::detect: return "detect";
    case DetectTask::joint: return "joint";
    case DetectTask::recognize: return "recognize";
    }
    return "joint";
}

DetectResult detectInRecording(const DetectRequest&, const std::function<void(double)>&,
                               const std::atomic<bool>&) {
    DetectResult result;
    result.error = "The exact detection is not built yet.";
    return result;
}
