#pragma once

#include <optional>
#include <string>
#include <vector>

#include "io/io_result.h"
#include "io/quantise.h"
#include "io/shapes.h"
#include "io/signal_reader.h"

/// What a detection in a recording starts from: the signal file and how to read it, the shapes
/// (from a file, or cut from the recording), an optional baseline removal.
struct RecordingRequest {
    std::string signalFile;
    SignalReadOptions read;
    std::string shapesFile;              ///< shapes from this file (readShapes), or
    std::vector<std::string> templates;  ///< shapes cut from the recording, START:LENGTH[:NAME] each
    std::optional<double> baselineSeconds;  ///< remove a running baseline over this window first
    BaselineMethod baselineMethod = BaselineMethod::median;
    int32_t targetPeak = fullPeak;       ///< see quantise
};

/// A recording ready for matching.
struct Recording {
    Signal signal;             ///< as read, less the baseline when one was removed
    std::vector<Shape> shapes; ///< checked as an alphabet (checkShapes), in the signal's units
    QuantisedRecording quantised;  ///< signal and shapes on their common integer scale
};

/// Reads the signal, removes the baseline, reads or cuts the shapes (templates are cut after the
/// baseline removal, so that they match the signal they are sought in), checks them as an
/// alphabet and quantises both on one scale. Exactly one of shapesFile and templates must be
/// given. The first failure is returned (see the readers for the messages). The shapes' length
/// against Tmax is the caller's check (checkShapesFitTmax).
IoResult<Recording> loadRecording(const RecordingRequest& request);
