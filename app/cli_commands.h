#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli_io.h"
#include "model/codes.h"
#include "model/message_sink.h"
#include "model/random.h"

struct Settings;

/// Prints every message box as "caption: text" on standard error (blanks round the caption
/// trimmed) and counts them, so that a command can tell that something was refused.
class StderrMessageSink : public MessageSink {
public:
    /// Every message is one line "pulsebench-cli COMMAND: CAPTION: text"; a caption that only
    /// repeats the command or the tool's name is left out.
    void messageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    std::string command;  ///< the command run ("detect"), set once it is known
    int count = 0;
};

/// What a command prints on standard output, held back so that a refusal leaves standard output
/// empty. Once more than `holdLimit` bytes are held they are passed on and later text streams
/// through, so that memory stays bounded whatever the repeat count.
class ResultStream {
public:
    static constexpr size_t holdLimit = size_t{1} << 22;
    explicit ResultStream(std::ostream& out) : out_(out) {}
    void write(const std::string& text);
    /// Passes on what is held; a stream that is never finished prints nothing more.
    void finish();

private:
    std::ostream& out_;
    std::string held_;
};

/// A JSON array written element by element, byte for byte as formatJson would write the whole.
class JsonArrayStream {
public:
    explicit JsonArrayStream(ResultStream& out) : out_(out) {}
    void add(const nlohmann::ordered_json& element);
    void close();

private:
    ResultStream& out_;
    bool empty_ = true;
};

/// The end of every command: flushes and closes standard output and checks that everything
/// reached it (a full disk, /dev/full). Returns `status`, or 1 after a message naming the
/// failure when the output was lost.
int finishOutput(int status, StderrMessageSink& window);

/// Checks before any work that an output file can be written (OutputFile's conditions); a
/// picture's name must also end in .bmp, .pcx or .png. Returns false after a message naming the
/// option, the path and the reason.
bool checkFileOutput(MessageSink& window, const char* option, const std::string& fileName);
bool checkImageOutput(MessageSink& window, const char* option, const std::string& fileName);

/// JSON with objects indented and arrays of numbers kept on one line, so that a sample array
/// reads as a row and a golden file's diff shows what changed.
std::string formatJson(const nlohmann::ordered_json& value);

/// `alphabet`: the alphabet as start-up builds it. Returns the process exit code.
int runAlphabet(bool json, std::ostream& out, StderrMessageSink& window);

/// The random streams of `series`, `process` and `simulate`. Each command owns its streams
/// through the settings it builds: called without `seeds` it starts from fresh ones, as a
/// process of the batch tool does. A caller that keeps streams across commands (a Python object)
/// passes its own `seeds`: the command's series are made from them, while the alphabet is always
/// built as at start-up (from a fresh alphabet cell; the caller's alphabet cell is neither read
/// nor changed). When the command succeeds `seeds` receive the streams as it left them; a refused
/// or cancelled command leaves them as they were. The noise cell is always the command's own.
///
/// runWithSeeds does that for `command`, run on new settings whose streams start from `seeds`;
/// it returns the command's exit code.
int runWithSeeds(SeedCells& seeds, const std::function<int(Settings&)>& command);

/// Options of `series`; an absent option keeps the workbench's start-up value.
struct SeriesOptions {
    uint32_t type = code(SeriesType::unfixedCutoffs);  ///< a series type's code
    std::optional<uint32_t> length;
    std::optional<uint16_t> tmin;
    std::optional<uint16_t> tmax;
    std::optional<uint16_t> count;
    std::optional<uint16_t> savedEnergy;
    int16_t noise = 0;
    std::vector<uint16_t> sequence;
    std::vector<int32_t> subset;
    std::optional<int> subsetMode;
    std::optional<int> subsetStart;
    int repeat = 1;
    bool json = false;
    SeriesFileOptions files;  ///< `series` only: files written for the last series
};

/// `series`: R series made one after the other from the start-up state, as the workbench's
/// makers would, each followed by noise when it is not 0. Returns the process exit code
/// (0, or 1 when a routine refused the parameters).
int runSeries(const SeriesOptions& options, std::ostream& out, StderrMessageSink& window);
int runSeries(const SeriesOptions& options, std::ostream& out, StderrMessageSink& window, SeedCells& seeds);

/// Options of `process`: a series as `series` makes it, then the routine of the task.
struct ProcessOptions {
    SeriesOptions series;
    uint16_t task = code(TaskType::jointDetection);  ///< a selectable task's code
    std::vector<uint16_t> candidates;           ///< empty: every etalon
    std::vector<int32_t> tuple;                 ///< tuple detection
    std::vector<std::vector<int32_t>> tuples;   ///< tuple recognition
    uint16_t proceeding = 1;                    ///< 1 complete, 2 probably shifted complete
    std::optional<uint16_t> savedEnergyProcess; ///< empty: as the series was made
};

/// `process`: series as `series` makes them, each processed by the routine its task and type
/// select. Returns the process exit code.
int runProcess(const ProcessOptions& options, std::ostream& out, StderrMessageSink& window);
int runProcess(const ProcessOptions& options, std::ostream& out, StderrMessageSink& window, SeedCells& seeds);

/// Options of `simulate`; an absent option keeps the workbench's start-up value.
struct SimulateOptions {
    uint16_t task = code(TaskType::jointDetection);
    uint32_t type = code(SeriesType::unfixedCutoffs);
    std::optional<uint32_t> length;
    std::optional<uint16_t> tmin;
    std::optional<uint16_t> tmax;
    int32_t pulsesMin = 6, pulsesMax = 30, pulsesStep = 1;
    int32_t noiseFirst = 0, noiseSteps = 29, noiseIncrement = 5;
    int32_t repeats = 100;
    std::optional<uint16_t> savedEnergyCreate;
    std::optional<uint16_t> savedEnergyProcess;
    std::vector<uint16_t> candidates;
    std::vector<int32_t> tuple;
    std::vector<std::vector<int32_t>> tuples;
    uint16_t proceeding = 1;
    int threads = 0;
    bool json = false;
    std::string csv;
    std::string plot;                 ///< render the graphs of the run to this file
    int graph = 1;                    ///< 1 restoring, 2 detection, 3 recognition error
    int view = 1;                     ///< 1 componentwise, 2 summary
    bool bounds = false;              ///< recognition error with its bounds
    int width = 1600, height = 1000;
    /// When set, receives (cells done, cells in all) on the calling thread instead of the report
    /// and the progress lines on standard error (a library caller's own display).
    std::function<void(int done, int total)> progress;
    /// When it becomes true the run stops after the cell in progress; the command then returns 1
    /// without output.
    const std::atomic<bool>* cancel = nullptr;
};

/// `simulate`: the statistical simulation from the start-up state, with its report, progress on
/// standard error and the result as JSON and/or CSV. Returns the process exit code.
int runSimulate(const SimulateOptions& options, std::ostream& out, StderrMessageSink& window);
int runSimulate(const SimulateOptions& options, std::ostream& out, StderrMessageSink& window, SeedCells& seeds);

/// Options of `experiment`: menu or internal command ids run through the workbench's dispatcher
/// from its start-up state, with dialogs answered by a script of "id=value" items.
struct ExperimentOptions {
    std::vector<int> commands;
    std::vector<std::string> dialog;  ///< items "1001=50", or "cancel"
    bool json = false;
    std::vector<int32_t> tuple;                 ///< the subset panel's current subset
    std::vector<std::vector<int32_t>> tuples;   ///< the subset panel's stored subsets
    std::string snapshot;             ///< render the window after the last command to this file
    int width = 1600, height = 1000;  ///< client size of the rendering
};

/// `experiment`: the workbench without a window. The ids are checked first (known ids only,
/// nothing after Exit). A command that shows a message box (besides the simulation's report) is
/// refused: its entry holds the refusal instead of a result, and the exit code is 1 when any
/// command was refused. Returns the process exit code.
int runExperiment(const ExperimentOptions& options, std::ostream& out, StderrMessageSink& window);
