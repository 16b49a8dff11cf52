#include "app/cli_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "core/series_use_case.h"
#include "core/settings.h"
#include "core/startup_model.h"
#include "core/version.h"
#include "model/subsets.h"
#include "processing/chains.h"
#include "app/cli_progress.h"
#include "app/render.h"
#include "workbench/menu.h"
#include "workbench/workbench.h"
#include "io/output_file.h"
#include "platform/dialog_form.h"
#include "platform/headless/headless_shell.h"
#include "processing/dispatch.h"

using nlohmann::ordered_json;

void StderrMessageSink::messageBox(const std::string& text, const std::string& caption, MessageIcon) {
    const auto first = caption.find_first_not_of(' ');
    const std::string trimmed =
        first == std::string::npos ? "" : caption.substr(first, caption.find_last_not_of(' ') - first + 1);
    std::string body = text;
    while (!body.empty() && body.back() == '\n') body.pop_back();
    const std::string tool = command.empty() ? "pulsebench-cli" : "pulsebench-cli " + command;
    const bool repeats = trimmed.empty() || trimmed == command || trimmed == "pulsebench-cli";
    std::cerr << tool << ": " << (repeats ? "" : trimmed + ": ") << body << '\n';
    ++count;
}

void ResultStream::write(const std::string& text) {
    held_ += text;
    if (held_.size() > holdLimit) {
        out_ << held_;
        held_.clear();
    }
}

void ResultStream::finish() {
    out_ << held_;
    held_.clear();
    out_.flush();
}

int finishOutput(int status, StderrMessageSink& window) {
    errno = 0;
    std::cout.flush();
    int code = 0;
    if (!std::cout.good() || std::fflush(stdout) != 0 || std::ferror(stdout)) code = errno ? errno : EIO;
    // A standard output closed from the start fails only its close when nothing was written.
    if (std::fclose(stdout) != 0 && !code && errno != EBADF) code = errno ? errno : EIO;
    if (code == 0) return status;
    window.messageBox(std::string("Cannot write standard output: ") + std::strerror(code) + ".", " pulsebench-cli ",
                      MessageIcon::Warning);
    return status ? status : 1;
}

namespace {
bool isNumberArray(const ordered_json& v) {
    return v.is_array() && std::all_of(v.begin(), v.end(), [](const ordered_json& e) { return e.is_number(); });
}

void writeJson(const ordered_json& v, int indent, std::string& out) {
    const std::string pad(static_cast<size_t>(indent) * 2, ' ');
    const std::string inner(static_cast<size_t>(indent + 1) * 2, ' ');
    if (v.is_object() && !v.empty()) {
        out += "{\n";
        bool first = true;
        for (const auto& [key, item] : v.items()) {
            if (!first) out += ",\n";
            first = false;
            out += inner + ordered_json(key).dump() + ": ";
            writeJson(item, indent + 1, out);
        }
        out += "\n" + pad + "}";
    } else if (v.is_array() && !v.empty() && !isNumberArray(v)) {
        out += "[\n";
        for (size_t i = 0; i < v.size(); ++i) {
            if (i) out += ",\n";
            out += inner;
            writeJson(v[i], indent + 1, out);
        }
        out += "\n" + pad + "]";
    } else if (v.is_array()) {
        out += "[";
        for (size_t i = 0; i < v.size(); ++i) {
            if (i) out += ',';
            out += v[i].dump();
        }
        out += "]";
    } else {
        out += v.dump();
    }
}

ordered_json seriesJson(const SeriesHeader& h) {
    ordered_json pulses = ordered_json::array();
    for (int j = 0; j < h.wImpulseQuantity; ++j)
        pulses.push_back({{"position", h.lpTruePosition[j]},
                          {"etalon", h.lpTrueEtalon[j]},
                          {"cutStart", h.lpTrueCutStart[j]},
                          {"cutEnd", h.lpTrueCutEnd[j]},
                          {"positionMin", h.lpPositionMin[j]},
                          {"positionMax", h.lpPositionMax[j]}});
    return {{"length", h.dwSeriesSize},
            {"tmin", h.wTmin},
            {"tmax", h.wTmax},
            {"impulseSize", h.wImpulseSize},
            {"minPulses", h.wMinPulses},
            {"maxPulses", h.wMaxPulses},
            {"noiseSigma", h.wNoiseSigma},
            {"pulses", pulses},
            {"pure", std::vector<int16_t>(h.lpPureData, h.lpPureData + h.dwSeriesSize)},
            {"noisy", std::vector<int16_t>(h.lpNoisyData, h.lpNoisyData + h.dwSeriesSize)}};
}

// One character per stretch of the series: '#' where a pulse lies, '.' where the pure series
// is silent, so a reader sees the layout at a glance.
std::string layoutStrip(const SeriesHeader& h, int width) {
    std::string strip;
    const int n = h.dwSeriesSize;
    width = std::min(width, n);
    for (int c = 0; c < width; ++c) {
        const int from = static_cast<int>(static_cast<int64_t>(c) * n / width);
        const int to = static_cast<int>(static_cast<int64_t>(c + 1) * n / width);
        bool busy = false;
        for (int i = from; i < to && !busy; ++i) busy = h.lpPureData[i] != 0;
        strip += busy ? '#' : '.';
    }
    return strip;
}

void printSeriesText(const SeriesHeader& h, int number, std::ostream& out) {
    out << "Series " << number << ": " << h.dwSeriesSize << " samples, Tmin " << h.wTmin << ", Tmax "
        << h.wTmax << ", etalon length " << h.wImpulseSize << ", " << h.wImpulseQuantity
        << " pulses (admissible " << h.wMinPulses << ".." << h.wMaxPulses << "), noise "
        << h.wNoiseSigma << "\n";
    out << "  |" << layoutStrip(h, 100) << "|\n";
    out << "  pulse  start  etalon    kept   start range\n";
    for (int j = 0; j < h.wImpulseQuantity; ++j) {
        std::ostringstream kept, range;
        kept << h.lpTrueCutStart[j] << ".." << h.lpTrueCutEnd[j];
        range << h.lpPositionMin[j] << ".." << h.lpPositionMax[j];
        out << "  " << std::setw(5) << j + 1 << "  " << std::setw(5) << h.lpTruePosition[j] << "  "
            << std::setw(6) << h.lpTrueEtalon[j] << "  " << std::setw(6) << kept.str() << "  "
            << std::setw(12) << range.str() << "\n";
    }
}
}  // namespace

void JsonArrayStream::add(const ordered_json& element) {
    std::string text = empty_ ? "[\n  " : ",\n  ";
    writeJson(element, 1, text);
    out_.write(text);
    empty_ = false;
}

void JsonArrayStream::close() {
    out_.write(empty_ ? "[]\n" : "\n]\n");
}

std::string formatJson(const ordered_json& value) {
    std::string out;
    writeJson(value, 0, out);
    return out + "\n";
}

int runAlphabet(bool json, std::ostream& out, StderrMessageSink& window) {
    Settings s;
    deriveStartupSettings(s);
    prepareStartupModel(s, window);
    if (window.count) return 1;
    if (json) {
        ordered_json etalons = ordered_json::array();
        for (int i = 0; i < s.wAlphabetSize; ++i) {
            const PulseHeader& p = s.alphabet[i];
            etalons.push_back({{"number", p.wNumber},
                               {"size", p.wSize},
                               {"samples", std::vector<int16_t>(p.lpData.get(), p.lpData.get() + p.wSize)}});
        }
        out << formatJson({{"version", pulsebenchVersion}, {"etalons", etalons}});
        return 0;
    }
    for (int i = 0; i < s.wAlphabetSize; ++i) {
        const PulseHeader& p = s.alphabet[i];
        out << "etalon " << std::setw(2) << p.wNumber << ":";
        for (int k = 0; k < p.wSize; ++k) out << ' ' << std::setw(4) << p.lpData[k];
        out << "\n";
    }
    return 0;
}

namespace {
// Puts a fresh start-up state into `s` and applies the series options to it, as the workbench's
// dialogs would before its makers run. Returns false after a refusal (already reported).
bool prepareSeriesSettings(const SeriesOptions& o, Settings& s, StderrMessageSink& window) {
    deriveStartupSettings(s);
    prepareStartupModel(s, window);
    if (window.count) return false;

    // The options become the base values the window's dialogs would set.
    s.seriesType = static_cast<SeriesType>(o.type);
    // Whole-pulse types keep all the energy, cut-off types the start-up 75 %.
    const bool cutoffs = isCutOffSeries(o.type);
    s.wSavedEnergyCreateBase = o.savedEnergy.value_or(cutoffs ? s.wSavedEnergyCreate : 100);
    s.dwSeriesSizeBase = o.length.value_or(s.dwSeriesSize);
    s.wTmin = o.tmin.value_or(s.wTmin);
    s.wTmax = o.tmax.value_or(s.wTmax);
    if (!checkSeriesParameters(window, " series ", s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSizeBase))
        return false;
    s.lpEtalonSequence = o.sequence;
    takeBaseValues(s);

    // The count is the option's as given (the maker refuses one outside the bounds), else the
    // middle of the bounds.
    s.wSeriesPulses = static_cast<uint16_t>((s.wMinPulses + s.wMaxPulses) / 2);
    if (o.count) {
        if (isUnknownCountSeries(o.type)) {
            window.messageBox("--count applies to the fixed-count series types 1, 2, 16, 32 and 36; "
                              "types 4, 8 and 40 draw their count.",
                              " series ", MessageIcon::Warning);
            return false;
        }
        s.wSeriesPulses = *o.count;
    }

    if (!o.subset.empty() && o.subsetStart) {
        // A subset that starts after the last pulse would be dropped without a word.
        const bool drawn = isUnknownCountSeries(o.type);
        const int pulses = drawn ? s.wMinPulses : s.wSeriesPulses;
        if (*o.subsetStart > pulses) {
            window.messageBox("--subset-start " + std::to_string(*o.subsetStart) + " lies beyond the series: it has " +
                                  (drawn ? "at least " : "") + std::to_string(pulses) + " pulses.",
                              " series ", MessageIcon::Warning);
            return false;
        }
    }
    if (!o.subset.empty()) {
        s.lpSeriesHeader = getCutOffSeriesHeader(window, s.wAlphabetSize, s.wImpulseSize, s.wTmin,
                                                 s.wTmax, s.dwSeriesSize, std::move(s.lpSeriesHeader));
        if (!s.lpSeriesHeader ||
            !setSelectedSubset(window, o.subset, o.subsetMode.value_or(s.subsetEmployment),
                               o.subsetStart.value_or(s.subsetInitPosition), s.lpSeriesHeader.get()))
            return false;
    }
    return true;
}

// Makes the next series and its noise. Returns false after a refusal (already reported).
bool nextSeries(const SeriesOptions& o, Settings& s, StderrMessageSink& window) {
    makeSeriesOfCurrentType(s, window);
    if (!s.lpSeriesHeader) {
        window.messageBox("No pulse count fits these parameters (the smallest admissible count "
                          "exceeds the largest).",
                          " series ", MessageIcon::Warning);
        return false;
    }
    if (window.count) return false;
    return o.noise == 0 || addNoise(window, s.lpSeriesHeader.get(), o.noise, s.noiseSeed);
}

ordered_json pulsesJson(int count, const int16_t* position, const int16_t* etalon, const int16_t* cutStart,
                        const int16_t* cutEnd) {
    ordered_json pulses = ordered_json::array();
    for (int j = 0; j < count; ++j)
        pulses.push_back({{"position", position[j]},
                          {"etalon", etalon[j]},
                          {"cutStart", cutStart[j]},
                          {"cutEnd", cutEnd[j]}});
    return pulses;
}

bool isKnownCountRoutine(Routine r) {
    return r == Routine::detectPulsesFixed || r == Routine::recognizePulsesFixed || r == Routine::detectTuplesFixed ||
           r == Routine::recognizeTuplesFixed;
}

// The size of a known-count programme: one cell per position of every pulse's range.
struct ProgrammeSize {
    int64_t cells = 0;
};

ProgrammeSize knownCountSize(const SeriesHeader& h) {
    ProgrammeSize size;
    for (int j = 0; j < h.wImpulseQuantity; ++j)
        size.cells += std::max<int64_t>(0, int64_t{h.lpPositionMax[j]} - h.lpPositionMin[j] + 1);
    return size;
}

bool isTupleRoutine(Routine r) {
    return r == Routine::detectTuplesUnfixed || r == Routine::detectTuplesFixed ||
           r == Routine::recognizeTuplesUnfixed || r == Routine::recognizeTuplesFixed;
}

ordered_json processingJson(const SeriesHeader& h, const ChainsHeader& c, Routine routine, int32_t answer) {
    ordered_json groups = ordered_json::array();
    if (isTupleRoutine(routine))
        for (int g = 0; g < h.wFoundGroups; ++g)
            groups.push_back({{"first", h.lpFoundGroupPosition[g]}, {"last", h.lpFoundGroupValue[g]}});
    ordered_json rows = ordered_json::array();
    for (int i = 0; i < c.wPretenders; ++i)
        rows.push_back({{"distance", c.distance[i]},
                        {"pulses", pulsesJson(c.chainPulses[i], c.positionsList[i], c.pulsesList[i],
                                              c.cutStartList[i], c.cutEndList[i])}});
    ordered_json result = seriesJson(h);
    result["routine"] = routineName(routine);
    result["answer"] = answer;
    result["found"] = {{"pulses", pulsesJson(h.wFoundPulses, h.lpFoundPosition, h.lpFoundEtalon,
                                             h.lpFoundCutStart, h.lpFoundCutEnd)},
                       {"groups", groups},
                       {"resultCode", h.wResultCode}};
    result["chains"] = {{"quanPulses", c.wQuanPulses},
                        {"seekingPulsesQuantity", c.wSeekingPulsesQuantity},
                        {"rows", rows}};
    return result;
}

void printProcessingText(const SeriesHeader& h, const ChainsHeader& c, Routine routine, int32_t answer,
                         int number, std::ostream& out) {
    printSeriesText(h, number, out);
    out << "  " << routineName(routine) << " answered " << answer << "; found " << h.wFoundPulses
        << " pulses";
    if (isTupleRoutine(routine)) out << " in " << h.wFoundGroups << " groups";
    out << "\n  found  start  etalon    kept\n";
    for (int j = 0; j < h.wFoundPulses; ++j) {
        std::ostringstream kept;
        kept << h.lpFoundCutStart[j] << ".." << h.lpFoundCutEnd[j];
        out << "  " << std::setw(5) << j + 1 << "  " << std::setw(5) << h.lpFoundPosition[j] << "  "
            << std::setw(6) << h.lpFoundEtalon[j] << "  " << std::setw(6) << kept.str() << "\n";
    }
    out << "  chains:";
    for (int i = 0; i < c.wPretenders; ++i) out << " " << c.distance[i] << " (" << c.chainPulses[i] << ")";
    out << "\n";
}

// The commands on settings the caller has given their streams (see runWithSeeds).
int seriesCommand(const SeriesOptions& o, Settings& s, std::ostream& out, StderrMessageSink& window) {
    if (!prepareSeriesSettings(o, s, window)) return 1;
    ResultStream stream(out);
    JsonArrayStream array(stream);
    for (int r = 1; r <= o.repeat; ++r) {
        if (!nextSeries(o, s, window)) return 1;
        if (o.json) {
            array.add(seriesJson(*s.lpSeriesHeader));
        } else {
            std::ostringstream text;
            printSeriesText(*s.lpSeriesHeader, r, text);
            stream.write(text.str());
        }
    }
    // Any message box is a refusal: nothing is printed then.
    if (window.count) return 1;
    // The files are written before the held text is passed on, so a failed write prints nothing.
    if (!writeSeriesFiles(o.files, *s.lpSeriesHeader, window)) return 1;
    if (o.json) array.close();
    stream.finish();
    return 0;
}

int processCommand(const ProcessOptions& p, Settings& s, std::ostream& out, StderrMessageSink& window) {
    const TaskType task = effectiveTaskType(static_cast<TaskType>(p.task), static_cast<SeriesType>(p.series.type));
    const Routine routine = selectRoutine(code(task), p.series.type);

    // The tuple a tuple series is laid from: --subset, else the tuple processed.
    SeriesOptions o = p.series;
    if (o.subset.empty()) {
        if (task == TaskType::tupleDetection) o.subset = p.tuple;
        if (task == TaskType::tupleRecognition && !p.tuples.empty()) o.subset = p.tuples.front();
    }
    if (task == TaskType::tupleDetection && p.tuple.empty()) {
        window.messageBox("Tuple detection needs --tuple.", " process ", MessageIcon::Warning);
        return 1;
    }
    if (task == TaskType::tupleRecognition && p.tuples.empty()) {
        window.messageBox("Tuple recognition needs --tuples.", " process ", MessageIcon::Warning);
        return 1;
    }

    if (!prepareSeriesSettings(o, s, window)) return 1;
    s.wTaskTypeSel = static_cast<TaskType>(p.task);
    s.wTaskType = task;
    std::vector<uint16_t> candidates = p.candidates;
    if (candidates.empty()) candidates.assign(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCount);
    std::vector<std::span<const int32_t>> tuples(p.tuples.begin(), p.tuples.end());

    std::unique_ptr<ChainsHeader> chains = getChainsHeader(window, s.wChainsCapacity, s.wMaxPulses, nullptr);
    if (!chains) return 1;
    ProcessingInput input;
    input.candidates = candidates;
    input.tuple = p.tuple;
    input.tuples = tuples;
    input.mode = p.proceeding;
    input.Tmin = s.wTmin;
    input.Tmax = s.wTmax;
    input.pct = p.savedEnergyProcess.value_or(s.wSavedEnergyCreate);

    int status = 0;
    ResultStream stream(out);
    JsonArrayStream array(stream);
    // The known-count programmes are linear in their position cells; what grows is the memory.
    constexpr int64_t largeProgrammeCells = 50'000'000;
    bool largeAnnounced = false;
    Progress progress("series");
    for (int r = 1; r <= o.repeat && status == 0; ++r) {
        if (!nextSeries(o, s, window)) {
            status = 1;
            break;
        }
        if (isKnownCountRoutine(routine)) {
            // A large known-count problem (its table holds the pulse count times the position
            // ranges) says how large it is before it starts, and then how far the series went.
            const ProgrammeSize size = knownCountSize(*s.lpSeriesHeader);
            if (size.cells >= largeProgrammeCells && !largeAnnounced) {
                largeAnnounced = true;
                std::cerr << "process: a known-count problem of " << s.lpSeriesHeader->wImpulseQuantity << " pulses: "
                          << size.cells << " position cells (about " << (size.cells * 4 + (1 << 20) - 1) / (1 << 20)
                          << " MB) per series; it may take a while.\n";
                progress.start(o.repeat);
            }
        }
        const int32_t answer = processCurrentSeries(s, window, input, chains.get()).answer;
        if (largeAnnounced) progress(r, o.repeat);
        if (window.count) {
            status = 1;
            break;
        }
        if (p.series.json) {
            array.add(processingJson(*s.lpSeriesHeader, *chains, routine, answer));
        } else {
            std::ostringstream text;
            printProcessingText(*s.lpSeriesHeader, *chains, routine, answer, r, text);
            stream.write(text.str());
        }
    }
    // Any message box is a refusal: nothing is printed then.
    if (window.count) status = 1;
    if (status == 0) {
        if (p.series.json) array.close();
        stream.finish();
    }
    return status;
}

}  // namespace

int runWithSeeds(SeedCells& seeds, const std::function<int(Settings&)>& command) {
    Settings s;
    s.seeds = seeds;
    s.seeds.alphabetSeed = SeedCells{}.alphabetSeed;  // the start-up alphabet
    const int code = command(s);
    if (code == 0) {
        const int16_t alphabetSeed = seeds.alphabetSeed;
        seeds = s.seeds;
        seeds.alphabetSeed = alphabetSeed;
    }
    return code;
}

int runSeries(const SeriesOptions& o, std::ostream& out, StderrMessageSink& window, SeedCells& seeds) {
    return runWithSeeds(seeds, [&](Settings& s) { return seriesCommand(o, s, out, window); });
}

int runSeries(const SeriesOptions& o, std::ostream& out, StderrMessageSink& window) {
    SeedCells own;
    return runSeries(o, out, window, own);
}

int runProcess(const ProcessOptions& p, std::ostream& out, StderrMessageSink& window, SeedCells& seeds) {
    return runWithSeeds(seeds, [&](Settings& s) { return processCommand(p, s, out, window); });
}

int runProcess(const ProcessOptions& p, std::ostream& out, StderrMessageSink& window) {
    SeedCells own;
    return runProcess(p, out, window, own);
}

namespace {
// The headless shell of `experiment`: long work shows its progress on standard error, as
// `simulate` does.
class ExperimentShell : public HeadlessShell {
public:
    const Settings* settings = nullptr;  ///< where the size of a simulation's grid is read

    int runWithProgress(const std::string& title,
                        const std::function<int(const std::function<void(int, int)>& progress,
                                                const std::atomic<bool>& cancel)>& work) override {
        if (!work) return HeadlessShell::runWithProgress(title, work);
        Progress progress;
        if (settings) progress.start(static_cast<long>(settings->wPulsesSteps) * settings->wNoiseSteps);
        return HeadlessShell::runWithProgress(
            title, [&](const std::function<void(int, int)>& inner, const std::atomic<bool>& cancel) {
                return work(
                    [&](int done, int total) {
                        inner(done, total);
                        progress(done, total);
                    },
                    cancel);
            });
    }
};

// Ids the dispatcher knows: the menu's and the internal ones.
bool isKnownCommand(int id) {
    for (const MenuRow& row : mainMenu)
        if (row.id == id) return true;
    return (id >= cmCreateSeries && id <= cmDebuggingRepeat) || (id >= CM_CLOSE && id <= CM_REPAINT_SUBSET_CELLS);
}

bool isImageName(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ending = name.substr(name.size() - 4);
    std::transform(ending.begin(), ending.end(), ending.begin(), [](unsigned char c) { return std::tolower(c); });
    return ending == ".bmp" || ending == ".pcx" || ending == ".png";
}

std::string trimmedCaption(const std::string& caption) {
    const auto first = caption.find_first_not_of(' ');
    return first == std::string::npos ? "" : caption.substr(first, caption.find_last_not_of(' ') - first + 1);
}
}  // namespace

bool checkImageOutput(MessageSink& window, const char* option, const std::string& fileName) {
    if (!isImageName(fileName)) {
        window.messageBox(std::string(option) + ": the picture's file name must end in \".bmp\", \".pcx\" or \".png\" (got \"" +
                              fileName + "\").",
                          " pulsebench-cli ", MessageIcon::Warning);
        return false;
    }
    return checkFileOutput(window, option, fileName);
}

bool checkFileOutput(MessageSink& window, const char* option, const std::string& fileName) {
    const std::string problem = outputFileProblem(fileName);
    if (problem.empty()) return true;
    window.messageBox(std::string(option) + ": cannot write " + problem + ".", " pulsebench-cli ", MessageIcon::Warning);
    return false;
}

int runExperiment(const ExperimentOptions& o, std::ostream& out, StderrMessageSink& window) {
    std::map<int, std::string> values;
    bool cancel = false;
    for (const std::string& item : o.dialog)
        if (!parseDialogScript(item, values, cancel)) {
            window.messageBox("--dialog expects items like 1001=50 or the word cancel, got \"" + item + "\".",
                              " experiment ", MessageIcon::Warning);
            return 1;
        }
    for (size_t i = 0; i < o.commands.size(); ++i) {
        const int id = o.commands[i];
        if (!isKnownCommand(id)) {
            window.messageBox("--commands: " + std::to_string(id) +
                                  " is not a command id (menu ids 40001 to 40033, internal ids 204 to 224).",
                              " experiment ", MessageIcon::Warning);
            return 1;
        }
        if ((id == cmExit || id == CM_CLOSE) && i + 1 < o.commands.size()) {
            window.messageBox("--commands: nothing runs after " + std::string(id == cmExit ? "Exit (40004)" : "close (204)") +
                                  "; " + std::to_string(o.commands.size() - i - 1) + " ids follow it.",
                              " experiment ", MessageIcon::Warning);
            return 1;
        }
    }
    if (!o.snapshot.empty() && !checkImageOutput(window, "--snapshot", o.snapshot)) return 1;

    ExperimentShell shell;
    Workbench workbench;
    shell.settings = &workbench.settings;
    shell.setDispatcher([&](int id) { workbench.onCommand(id); });
    shell.setDialogAnswer([&](const DialogForm& form) { return scriptedAnswer(form, values, cancel); });
    if (!workbench.onCreate(shell)) return 1;
    // The subset panel's state, as the user would have composed it with the mouse: in the
    // storage the panel prepares for itself (full rows), so that its first paint keeps it.
    SubsetPanelState& panel = workbench.panel;
    if (!o.tuple.empty() || !o.tuples.empty()) {
        if (const SubsetPanelPrepareResult prepared = prepareSubsetPanel(panel, workbench.subsetMarks); !prepared.ok) {
            window.messageBox(prepared.message, "", MessageIcon::None);
            return 1;
        }
        const auto entries = static_cast<size_t>(panel.wSubsetEntries);
        const std::vector<int32_t>& current = o.tuple.empty() ? o.tuples.front() : o.tuple;
        const size_t used = std::min(current.size(), entries);
        std::copy_n(current.begin(), used, panel.selectedSubset.begin());
        panel.wSelectedCount = static_cast<uint16_t>(used);
        const size_t rows = std::min<size_t>(o.tuples.size(), panel.wReservedSubsets);
        for (size_t t = 0; t < rows; ++t) {
            const size_t length = std::min(o.tuples[t].size(), entries);
            std::copy_n(o.tuples[t].begin(), length, panel.selectedSubsetArray[t].begin());
            panel.selectedSubsetArraySize[t] = static_cast<int32_t>(length);
        }
        panel.wStoredSubsets = static_cast<uint16_t>(rows);
        if (rows > 0) panel.currentPatternTuple = 1;
    }

    ResultStream stream(out);
    JsonArrayStream runs(stream);
    int number = 0;
    bool refused = false;
    for (const int id : o.commands) {
        const int before = workbench.processingRuns;
        const size_t shown = shell.messages.size();
        workbench.onCommand(id);
        // A message box other than the simulation's report and the tuple routines' diagnostic
        // reports (what the debugging repeat is for) means the command was refused (or failed):
        // its refusal takes the place of a result, never an earlier one.
        std::string refusal;
        std::vector<std::string> reports;
        for (size_t m = shown; m < shell.messages.size() && refusal.empty(); ++m) {
            if (shell.messages[m].caption == "getPulseEstAsRepeats") continue;
            const std::string caption = trimmedCaption(shell.messages[m].caption);
            std::string text = shell.messages[m].text;
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
            if (caption == "About TuplesDetection")
                reports.push_back(caption + ": " + text);
            else
                refusal = (caption.empty() ? "" : caption + ": ") + text;
        }
        const Settings& s = workbench.settings;
        if (!refusal.empty()) {
            refused = true;
            if (o.json)
                runs.add({{"command", id}, {"refused", refusal}});
            else
                stream.write("Command " + std::to_string(id) + " refused: " + refusal + "\n");
            continue;
        }
        if (workbench.processingRuns == before || !s.lpSeriesHeader || !s.lpChainsHeader) continue;
        if (o.json) {
            ordered_json run = processingJson(*s.lpSeriesHeader, *s.lpChainsHeader, workbench.lastRoutine,
                                              workbench.lastAnswer);
            run["command"] = id;
            run["taskType"] = code(s.wTaskType);
            run["seriesType"] = code(s.seriesType);
            run["viewMode"] = s.viewMode;
            if (!reports.empty()) run["messages"] = reports;
            runs.add(run);
        } else {
            for (const std::string& report : reports)
                stream.write("Command " + std::to_string(id) + " shows " + report + "\n");
            std::ostringstream text;
            text << "Command " << id << ": task " << code(s.wTaskType) << ", series type " << code(s.seriesType) << ", view "
                 << s.viewMode << "\n";
            printProcessingText(*s.lpSeriesHeader, *s.lpChainsHeader, workbench.lastRoutine, workbench.lastAnswer,
                                ++number, text);
            stream.write(text.str());
        }
    }
    if (o.json) runs.close();
    stream.finish();
    int status = refused ? 1 : 0;
    if (!o.snapshot.empty() &&
        !saveImage(window, o.snapshot, renderWorkbench(workbench, o.width, o.height)))
        status = 1;
    workbench.onDestroy();
    return status;
}
