#pragma once

#include <string>

#include "model/message_sink.h"
#include "model/series.h"

namespace CLI {
class App;
}

/// Files `series` writes for the last series it makes: the noisy samples as text and as audio,
/// and the true layout. Empty: not written.
struct SeriesFileOptions {
    std::string csv;    ///< one sample per line after the header line "sample"
    std::string wav;    ///< mono 16-bit PCM at 1 sample per second (time in seconds = sample)
    std::string truth;  ///< position,etalon,cutStart,cutEnd per pulse
};

/// Adds --csv, --wav and --truth to a command.
void addSeriesFileOptions(CLI::App* command, SeriesFileOptions& options);

/// Writes the files the options name for `series`' noisy samples and true layout: all or none
/// (each goes to a temporary name first; a failure removes them and names the path and the
/// system's reason). Returns 1, or 0 after a message (caption " series ").
int writeSeriesFiles(const SeriesFileOptions& options, const SeriesHeader& series, MessageSink& window);
