#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli_commands.h"

namespace CLI {
class App;
}

/// Options of `detect`, as typed: every value is checked by runDetect before any work, so that a
/// refusal names the option and what it takes.
struct DetectOptions {
    std::string signal;                   ///< the recording (text or audio), or
    std::string manifest;                 ///< a table of recordings, each detected as --signal would be
    std::optional<std::string> column;    ///< text: 1-based column number or header name
    std::optional<std::string> channel;   ///< audio: 1-based channel
    std::optional<std::string> columns;   ///< text: several columns ("all", or numbers and names)
    std::optional<std::string> channels;  ///< audio: several channels ("all", or numbers)
    std::optional<std::string> channelWeights;  ///< one weight per channel, w1,w2,...
    std::optional<std::string> rate;      ///< text: samples per second (default 1)
    std::string etalons;                  ///< shapes file (table or JSON), or
    std::vector<std::string> templates;   ///< shapes cut from the recording, START:LENGTH[:NAME]
    std::string tmin, tmax;               ///< samples, or seconds with an `s` suffix
    std::optional<std::string> count;     ///< the known pulse count; absent: unknown
    std::string savedEnergy = "100";      ///< percent
    std::string task = "joint";           ///< detect, joint or recognize
    std::optional<std::string> candidates;  ///< shape names, comma-separated; absent: all
    std::optional<std::string> baseline;  ///< running-median window in seconds
    std::string threads = "0";            ///< 0: every core
    std::string gain = "1:1";             ///< MIN:MAX, the gain a pulse may take
    std::string pulseCost = "0";          ///< what every pulse adds (signal units squared), or "auto"
    std::string learn = "0";              ///< rounds of learning the shapes first
    std::string saveShapes;               ///< where the shapes used (learned or not) are written
    bool confidence = false;              ///< each pulse's posterior confidence
    std::optional<std::string> confidenceWindow;  ///< samples or seconds; default a quarter of Tmin
    std::optional<std::string> noiseSigma;        ///< the noise level in the signal's units
    std::string posterior;                ///< each position's probability of a pulse start (CSV)
    bool json = false;
    std::string csv;                      ///< one pulse a row
    std::string plot;                     ///< picture of the signal with the pulses (.png, .svg)
    std::optional<std::string> plotRange; ///< A:B, samples or seconds
    std::string size = "1600x600";        ///< picture size WxH
    /// Set while the run may stop early (Ctrl-C): the command then writes nothing.
    const std::atomic<bool>* cancel = nullptr;
};

/// Adds the `detect` command and its options to the batch tool.
CLI::App* addDetectCommand(CLI::App& app, DetectOptions& options);

/// `detect`: exact detection of the shapes in a recording. Prints the result (text or JSON) and
/// writes the files asked for, all or nothing; progress on standard error for long signals;
/// Ctrl-C stops the run at once with nothing written. Returns the process exit code (0, 1 after
/// a refusal, 130 when stopped).
int runDetect(const DetectOptions& options, std::ostream& out, StderrMessageSink& window);

/// Checks the options as `detect` does before it reads anything (the recording itself is not
/// opened). False after the refusal went to `window`; else true with the header line of the
/// pulses' CSV these options give (ended by a line end).
bool checkDetectOptions(const DetectOptions& options, MessageSink& window, std::string& csvHeader);

/// One recording's detection exactly as `detect --signal` runs it, with nothing printed or
/// written and on `threads` threads (>= 1): the outputs as text, JSON line and CSV, or the
/// reason it failed. Safe to call from several threads at once. Used by `detect --manifest`.
struct RecordingOutcome {
    int status = 1;      ///< 0 done, 1 failed (see `error`), 130 stopped by `cancel`
    std::string text;    ///< what `detect` prints
    std::string json;    ///< what `detect --json` prints (one line, with its line end)
    std::string csv;     ///< what `detect --csv` writes (header line, one pulse a line)
    std::string error;   ///< why it failed
    int64_t pulses = 0;  ///< pulses found
};
RecordingOutcome detectRecording(const DetectOptions& options, int32_t threads, const std::atomic<bool>& cancel);
