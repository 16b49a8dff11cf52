#pragma once

// A recording prepared for a detection straight from its file, never held as floats: a first
// reading finds its length, rate, shapes and the survey of its common scale, a second reads it
// again into the 16-bit signal the detection matches on. The same checks, messages, numbers and
// result as reading the recording whole (readRecordingFiles, prepareDetection); the memory is
// 2 bytes a sample (8 more while the noise level is estimated, for an automatic pulse cost or
// the confidence) instead of 4 for the floats, 2 for their 16-bit copy and 4 for the signal less
// its baseline. Reading twice costs a second reading (and a second baseline removal).

#include <cstdint>
#include <optional>
#include <vector>

#include "core/detect_setup.h"
#include "core/recording_files.h"
#include "io/quantise.h"

/// What the first reading of a recording found (scanRecordingFiles).
struct ScannedRecording {
    RecordingFiles files;
    std::optional<double> baselineSeconds;
    double rate = 1;
    int64_t samples = 0;
    /// The shapes as listed: loaded, or cut from the signal as read (remembering where).
    std::vector<ListedShape> shapes;
    /// The shapes as a detection seeks them: templates cut again after the baseline removal.
    std::vector<Shape> detected;
    /// The signal as detected (less its baseline), surveyed for the common scale.
    CommonScale signalScale;
    /// The samples as read, folded into one number: the second reading must give the same.
    uint64_t fingerprint = 0;
};

/// readRecordingFiles without keeping the signal: the same checks and messages in the same order;
/// the baseline, when asked, removed as the samples pass so that templates are also cut from the
/// signal as detected.
IoResult<ScannedRecording> scanRecordingFiles(const RecordingFiles& files, const std::optional<double>& baselineSeconds);

/// prepareDetection for a scanned recording: reads the signal again, removes the baseline again
/// and quantises each sample as it passes. `prepared` gets what prepareDetection gives for the
/// recording read whole (the quantised signal and shapes, the request, the noise level, the
/// cost), except `corrected`, which stays empty. `settings.baselineSeconds` must be the scan's.
/// Refused besides prepareDetection's refusals: a file that cannot be read again, or that
/// changed since the first reading (another length, other samples).
IoStatus prepareScannedDetection(const ScannedRecording& scan, const DetectSettings& settings,
                                 PreparedDetection& prepared);
