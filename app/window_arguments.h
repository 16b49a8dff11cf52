#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line of the window: `pulsebench [FILE]`, `--recording FILE`, `--rate HZ`,
// `--shapes FILE`, `--help`, `--version`.

struct WindowArguments {
    bool help = false;
    bool version = false;
    /// The recording to open in the recording view at start-up (empty: none).
    std::string recording;
    /// Samples per second of a text recording.
    std::optional<double> rate;
    /// Pulse shapes to load with the recording.
    std::string shapes;
    /// Why the command line is refused (empty: it is not).
    std::string error;
};

/// Reads the arguments after the program's name. A lone FILE is the recording, as
/// `--recording FILE` is; an unknown option, a second recording, a missing value or a rate that
/// is not a positive number is refused.
WindowArguments parseWindowArguments(const std::vector<std::string>& arguments);

/// What `pulsebench --help` prints.
std::string windowHelpText();
