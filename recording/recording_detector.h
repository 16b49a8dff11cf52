#pragma once

// What the recording view asks of an exact detection in a recording, and what it gets back. The
// view prepares the request (the quantised signal and shapes, the checked parameters) and runs
// the detector on a worker thread; the detector touches nothing but its arguments.

#include <atomic>
#include <functional>

#include "core/detect.h"

/// The exact detection on recordings, as the view calls it (the request and result types are
/// the use case's, core/detect.h).
struct RecordingDetector {
    virtual ~RecordingDetector() = default;
    /// Runs one detection. Called on a worker thread; `progress` takes the fraction done
    /// (0..1, from the calling thread, as often as it likes); when `cancel` becomes true the run
    /// returns soon with completed = false.
    virtual DetectResult run(const DetectRequest& request, const std::function<void(double)>& progress,
                             const std::atomic<bool>& cancel) = 0;
};

/// The detector of a build with the engine: the use case detectInRecording.
struct EngineRecordingDetector : RecordingDetector {
    DetectResult run(const DetectRequest& request, const std::function<void(double)>& progress,
                     const std::atomic<bool>& cancel) override {
        return detectInRecording(request, progress, cancel);
    }
};
