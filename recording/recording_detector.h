#pragma once

// What the recording view asks of an exact detection in a recording, and what it gets back. The
// view prepares the request (the quantised signal and shapes, the checked parameters) and runs
// the detector on a worker thread; the detector touches nothing but its arguments. Learning the
// shapes first (hard expectation-maximisation with the detection as its expectation step) and
// the pulses' confidence are the engine's: a detector without them refuses.

#include <atomic>
#include <functional>

#include "core/detect.h"
#include "core/detect_setup.h"

/// The exact detection on recordings, as the view calls it (the request and result types are
/// the use case's, core/detect.h).
struct RecordingDetector {
    virtual ~RecordingDetector() = default;
    /// Runs one detection. Called on a worker thread; `progress` takes the fraction done
    /// (0..1, from the calling thread, as often as it likes); when `cancel` becomes true the run
    /// returns soon with completed = false.
    virtual DetectResult run(const DetectRequest& request, const std::function<void(double)>& progress,
                             const std::atomic<bool>& cancel) = 0;
    /// Runs `rounds` rounds (>= 0) of learning the shapes of a prepared detection, then the
    /// detection with the kept shapes and, when the preparation asks for it, the pulses'
    /// confidence (runDetection: the kept shapes replace `prepared.shapes`, with the distances in
    /// `prepared.learnDistances`; the posterior goes into `prepared`). Called on a worker thread
    /// as run(); `round` hears of each finished round (0: the given shapes) and its distance.
    virtual DetectResult runPrepared(PreparedDetection&, int32_t, const std::function<void(double)>&,
                                     const std::function<void(int32_t, int64_t)>&, const std::atomic<bool>&) {
        DetectResult refused;
        refused.error = "Learning the shapes and the confidence are not available with this detection.";
        return refused;
    }
};

/// The detector of a build with the engine: the use cases detectInRecording and runDetection.
struct EngineRecordingDetector : RecordingDetector {
    DetectResult run(const DetectRequest& request, const std::function<void(double)>& progress,
                     const std::atomic<bool>& cancel) override {
        return detectInRecording(request, progress, cancel);
    }
    DetectResult runPrepared(PreparedDetection& prepared, int32_t rounds, const std::function<void(double)>& progress,
                             const std::function<void(int32_t, int64_t)>& round,
                             const std::atomic<bool>& cancel) override {
        return runDetection(prepared, rounds, progress, round, cancel);
    }
};
