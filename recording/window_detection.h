#pragma once

// The recording view's detection job: what the worker thread is given, does and leaves for the
// window (recording/window_detection.cpp also holds the window's side of a detection: start,
// progress, cancel and the results, and learned shapes, taken over).

#include <QString>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/detect_setup.h"
#include "recording/recording_window.h"

/// The refusal and tool tip of the Detect button in a build without a detection.
QString detectionNotAvailable();

// Everything the worker thread uses; the window reads it only after `finished` is set (or the
// progress, an atomic, at any time). No Qt object is touched from the worker.
struct RecordingWindow::DetectJob {
    std::shared_ptr<const Signal> signal;
    std::vector<ListedShape> shapes;
    DetectSettings settings;
    std::shared_ptr<RecordingDetector> detector;
    uint64_t generation = 0;
    std::atomic<bool> cancel{false};
    std::atomic<double> progress{0};
    /// While learning (settings.learnRounds > 0): the last finished round (-1: none yet; 0: the
    /// given shapes' detection) and its distance, stored before the round.
    std::atomic<int32_t> roundsDone{-1};
    std::atomic<int64_t> roundDistance{0};
    std::atomic<bool> finished{false};
    std::string error;
    DetectResult result;
    std::shared_ptr<const std::vector<float>> corrected;  ///< set when a baseline was removed
    std::vector<SignalSummary> correctedSummaries;  ///< of each channel of `corrected`
    /// Each position's probability of a pulse start, when the confidence was asked for.
    std::shared_ptr<const std::vector<float>> posterior;
    SignalSummary posteriorSummary;
    DetectReport report;  ///< filled once the detection was prepared
    std::thread thread;

    /// Prepares the detection, runs it and fills the report; sets `finished` last.
    void run();
};
