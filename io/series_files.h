#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "io/file_batch.h"
#include "io/io_result.h"
#include "model/series.h"

/// Writes samples as text, one per line after the header line "sample" (readTextSignal reads
/// them back exactly). The file goes into `batch` (see FileBatch).
IoStatus writeSamplesCsv(FileBatch& batch, const std::string& path, std::span<const int16_t> samples);

/// Writes samples as a mono 16-bit PCM WAV file at `rate` samples per second (readAudioSignal
/// reads the same integers back). A rate below 1 is refused.
IoStatus writeSamplesWav(FileBatch& batch, const std::string& path, std::span<const int16_t> samples, int rate = 1);

/// Writes the true layout of a series: the header line "position,etalon,cutStart,cutEnd", then
/// one row per pulse in order of position (etalon numbers 1-based, cuts in etalon samples).
IoStatus writeSeriesTruthCsv(FileBatch& batch, const std::string& path, const SeriesHeader& series);
