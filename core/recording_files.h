#pragma once

// A recording and its shapes named by files, as the batch tool takes them, read into what the
// detection's preparation (prepareDetection) starts from.

#include <optional>
#include <string>
#include <vector>

#include "core/detect_setup.h"
#include "io/io_result.h"
#include "io/signal_reader.h"

/// The files of a detection: the signal file and how to read it, and the shapes from a file or
/// cut from the recording.
struct RecordingFiles {
    std::string signalFile;
    SignalReadOptions read;
    std::string shapesFile;              ///< shapes from this file (readShapes), or
    std::vector<std::string> templates;  ///< shapes cut from the recording, START:LENGTH[:NAME] each
};

/// The signal as read and its shapes as a detection's list holds them.
struct RecordingInput {
    Signal signal;
    std::vector<ListedShape> shapes;  ///< every one a candidate; templates remember where they were cut
};

/// Whether the shapes come from exactly one place: a shapes file or templates.
IoStatus checkShapeSource(const RecordingFiles& files);

/// Reads the signal, checks a baseline window of `baselineSeconds` against its rate (the removal
/// itself is prepareDetection's, which also cuts the templates again from the corrected signal),
/// reads the shapes file or cuts the templates, and checks the shapes as an alphabet. Exactly one
/// of shapesFile and templates must be given. The first failure is returned (see the readers for
/// the messages); a lack of memory is "FILE: not enough memory for the recording". The shapes'
/// length against Tmax is the caller's check (checkShapesFitTmax).
IoResult<RecordingInput> readRecordingFiles(const RecordingFiles& files, const std::optional<double>& baselineSeconds);
