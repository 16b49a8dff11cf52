// pulsebench-cli: the workbench's engine without a window, for scripts and long runs.

#include <algorithm>
#include <array>
#include <optional>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>
#include <CLI/Version.hpp>

#include "app/about.h"
#include "app/cli_commands.h"
#include "app/cli_detect.h"
#include "app/cli_mpi.h"
#include "app/cli_progress.h"
#include "app/cli_validators.h"
#include "app/render.h"
#include "model/text_format.h"
#include "model/random.h"

namespace {
// Numbers are read one way everywhere: decimal, an optional sign, digits and nothing else. Each
// is checked against its option's range in its full width before anything narrows it.
std::optional<int64_t> decimalValue(const std::string& text) {
    const DecimalText read = readDecimal(text, true);
    return read.huge ? std::nullopt : read.value;
}

std::string rangeText(int64_t low, int64_t high) {
    return "a decimal number from " + std::to_string(low) + " to " + std::to_string(high);
}

std::string listText(const std::vector<int64_t>& allowed) {
    std::string text;
    for (size_t i = 0; i < allowed.size(); ++i) text += (i ? ", " : "") + std::to_string(allowed[i]);
    return text;
}

// A number in [low, high]; rewrites the text to its plain decimal form so that the conversion
// that follows reads the same number ("010" is ten).
CLI::Validator Decimal(int64_t low, int64_t high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            const auto value = decimalValue(text);
            if (!value || *value < low || *value > high)
                return "expected " + rangeText(low, high) + ", got \"" + text + "\"";
            text = std::to_string(*value);
            return {};
        },
        "decimal " + std::to_string(low) + ".." + std::to_string(high));
}

// One of the listed numbers.
CLI::Validator OneOf(std::vector<int64_t> allowed) {
    return CLI::Validator(
        [allowed](std::string& text) -> std::string {
            const auto value = decimalValue(text);
            if (!value || std::find(allowed.begin(), allowed.end(), *value) == allowed.end())
                return "expected one of " + listText(allowed) + ", got \"" + text + "\"";
            text = std::to_string(*value);
            return {};
        },
        "one of " + listText(allowed));
}

// The codes of a list of task or series types.
template <typename Code, size_t n>
std::vector<int64_t> codesOf(const std::array<Code, n>& types) {
    std::vector<int64_t> codes;
    for (const Code type : types) codes.push_back(code(type));
    return codes;
}

// One of the listed words.
CLI::Validator OneWord(std::vector<std::string> allowed) {
    return CLI::Validator(
        [allowed](std::string& text) -> std::string {
            if (std::find(allowed.begin(), allowed.end(), text) != allowed.end()) return {};
            std::string names;
            for (size_t i = 0; i < allowed.size(); ++i) names += (i ? ", " : "") + allowed[i];
            return "expected one of " + names + ", got \"" + text + "\"";
        },
        "");
}

// "3,5,7" -> numbers in [low, high]; no empty entry, at least one number.
template <typename T>
std::vector<T> parseList(const std::string& option, const std::string& text, int64_t low, int64_t high) {
    std::vector<T> values;
    std::stringstream in(text);
    std::string part;
    bool bad = text.empty() || text.back() == ',';
    while (!bad && std::getline(in, part, ',')) {
        const auto value = decimalValue(part);
        if (!value || *value < low || *value > high)
            bad = true;
        else
            values.push_back(static_cast<T>(*value));
    }
    if (bad)
        throw CLI::ValidationError(option, "expected a list of decimal numbers from " + std::to_string(low) + " to " +
                                               std::to_string(high) + " separated by commas, got \"" + text + "\"");
    return values;
}

void addSeriesOptions(CLI::App* command, SeriesRequest& o, bool& json, std::string& sequence, std::string& subset) {
    command->add_option("--type", o.type, "series type")->transform(OneOf(codesOf(seriesTypes)))->default_str(std::to_string(o.type));
    command->add_option("--length", o.length, "series length N in samples")->transform(Decimal(0, 4294967295));
    command->add_option("--tmin", o.tmin, "minimum distance between pulse starts")->transform(Decimal(0, 65535));
    command->add_option("--tmax", o.tmax, "maximum distance between pulse starts")->transform(Decimal(0, 65535));
    command->add_option("--count", o.count, "pulse count K of a fixed-count type")->transform(Decimal(0, 65535));
    command->add_option("--saved-energy", o.savedEnergy, "saved energy level of the series, percent")
        ->transform(Decimal(0, 100));
    command->add_option("--noise", o.noise, "noise level (standard deviation); 0 adds no noise")
        ->transform(Decimal(-32768, 32767));
    command->add_option("--sequence", sequence, "etalon number of each pulse, e.g. 1,3,5");
    auto* subsetOption = command->add_option("--subset", subset, "active selected subset, e.g. 3,5,7");
    command->add_option("--subset-mode", o.subsetMode, "subset layout mode 1..5")
        ->transform(Decimal(1, 5))
        ->needs(subsetOption);
    command->add_option("--subset-start", o.subsetStart, "1-based pulse where the subset starts")
        ->transform(Decimal(1, 65535))
        ->needs(subsetOption);
    command->add_option("--repeat", o.repeat, "number of series made one after the other")
        ->transform(Decimal(1, 1000000));
    command->add_flag("--json", json, "print JSON");
}

// "3,5,7;2,4" -> {{3,5,7},{2,4}}
std::vector<std::vector<int32_t>> parseTuples(const std::string& text) {
    std::vector<std::vector<int32_t>> tuples;
    std::stringstream all(text);
    std::string one;
    if (text.empty() || text.back() == ';') throw CLI::ValidationError("--tuples", "an empty tuple in \"" + text + "\"");
    while (std::getline(all, one, ';')) {
        if (one.empty()) throw CLI::ValidationError("--tuples", "an empty tuple in \"" + text + "\"");
        try {
            tuples.push_back(parseList<int32_t>("--tuples", one, -2147483648LL, 2147483647LL));
        } catch (const CLI::ValidationError&) {
            throw CLI::ValidationError("--tuples", "not a list of etalon numbers: \"" + text + "\"");
        }
    }
    return tuples;
}
// "A:B:C" -> three decimal integers, each checked in full width.
std::array<int64_t, 3> parseTriple(const std::string& option, const std::string& text) {
    std::array<int64_t, 3> values{};
    std::stringstream in(text);
    std::string part;
    int count = 0;
    bool bad = text.empty() || text.back() == ':';
    while (!bad && std::getline(in, part, ':')) {
        const auto value = decimalValue(part);
        if (!value || count >= 3)
            bad = true;
        else
            values[static_cast<size_t>(count++)] = *value;
    }
    if (bad || count != 3)
        throw CLI::ValidationError(option, "expected three integers A:B:C (decimal), got \"" + text + "\"");
    return values;
}

// One part of a triple, in [low, high].
int32_t tripleEntry(const std::string& option, const char* name, int64_t value, int64_t low, int64_t high) {
    if (value < low || value > high)
        throw CLI::ValidationError(option, std::string(name) + " must be " + rangeText(low, high) + ", got " +
                                               std::to_string(value));
    return static_cast<int32_t>(value);
}
// The options typed as text, turned into numbers once the command line is parsed.
struct TypedTexts {
    std::string seriesSequence, seriesSubset;
    std::string processSequence, processSubset, processCandidates, processTuple;
    std::vector<std::string> tuples;
    std::string experimentSize = "1600x1000", plotSize = "1600x1000", graph = "restoring", view = "componentwise";
    std::string pulses = "6:30:1", noise = "0:29:5";
    std::string simCandidates, simTuple;
    std::vector<std::string> simTuples;
    std::string experimentCommands, experimentTuple;
    std::vector<std::string> experimentTuples;
};

// The commands, to tell which one the command line chose.
struct Commands {
    CLI::App* alphabet = nullptr;
    CLI::App* series = nullptr;
    CLI::App* process = nullptr;
    CLI::App* simulate = nullptr;
    CLI::App* experiment = nullptr;
    CLI::App* detect = nullptr;
};

CLI::App* addProcessCommand(CLI::App& app, ProcessOptions& p, TypedTexts& t) {
    CLI::App* process = app.add_subcommand(
        "process", "make series as `series` does and run the processing routine of the task on each");
    addSeriesOptions(process, p.request.series, p.json, t.processSequence, t.processSubset);
    process->add_option("--task", p.request.task, "task: 1 detection, 2 recognition, 4 joint detection and "
                                          "identification, 36 tuple detection, 40 tuple recognition, "
                                          "64 series processing")
        ->transform(OneOf(codesOf(selectableTaskTypes)))
        ->default_str(std::to_string(p.request.task));
    process->add_option("--candidates", t.processCandidates, "etalons the processing may look for (default: all)");
    process->add_option("--tuple", t.processTuple, "the tuple of tuple detection, e.g. 3,5,7");
    process->add_option("--tuples", t.tuples,
                        "the stored tuples of tuple recognition, e.g. \"3,5,7;2,4\" (or the option repeated)");
    process->add_option("--proceeding", p.request.proceeding, "tuple proceeding: 1 complete, 2 probably shifted")
        ->transform(OneOf({1, 2}));
    process->add_flag("--quiet", Progress::silenced, "no progress on standard error");
    process->add_option("--saved-energy-process", p.request.savedEnergyProcess,
                        "saved energy level assumed by processing (default: as the series was made)")
        ->transform(Decimal(0, 100));
    return process;
}

CLI::App* addSimulateCommand(CLI::App& app, SimulateOptions& so, TypedTexts& t) {
    CLI::App* simulate = app.add_subcommand(
        "simulate", "run the statistical simulation over a grid of pulse counts and noise levels");
    simulate->add_option("--task", so.request.task, "task, as for process")->transform(OneOf(codesOf(selectableTaskTypes)));
    simulate->add_option("--type", so.request.type, "series type")->transform(OneOf(codesOf(seriesTypes)));
    simulate->add_option("--length", so.request.length, "series length N in samples")->transform(Decimal(0, 4294967295));
    simulate->add_option("--tmin", so.request.tmin, "minimum distance between pulse starts")->transform(Decimal(0, 65535));
    simulate->add_option("--tmax", so.request.tmax, "maximum distance between pulse starts")->transform(Decimal(0, 65535));
    simulate->add_option("--pulses", t.pulses, "pulse counts MIN:MAX:STEP")->default_str("6:30:1");
    simulate->add_option("--noise", t.noise, "noise levels FIRST:STEPS:INCREMENT")->default_str("0:29:5");
    simulate->add_option("--repeats", so.request.repeats, "series per grid cell")->transform(Decimal(1, 65535));
    simulate->add_option("--saved-energy-create", so.request.savedEnergyCreate, "saved energy level of the series, percent")
        ->transform(Decimal(0, 100));
    simulate->add_option("--saved-energy-process", so.request.savedEnergyProcess,
                         "saved energy level assumed by processing (default: as making)")
        ->transform(Decimal(0, 100));
    simulate->add_option("--candidates", t.simCandidates, "the required etalons (default: all)");
    simulate->add_option("--tuple", t.simTuple, "the tuple a tuple series is laid from");
    simulate->add_option("--tuples", t.simTuples, "the stored tuples of tuple recognition, e.g. \"3,5,7;2,4\"");
    simulate->add_option("--proceeding", so.request.proceeding, "tuple proceeding: 1 complete, 2 probably shifted")
        ->transform(OneOf({1, 2}));
    simulate->add_option("--threads", so.threads, "processing threads (default: every core)")
        ->transform(Decimal(0, 256));
    simulate->add_flag("--json", so.json, "print the result as JSON");
    simulate->add_option("--csv", so.csv, "write one row per grid cell to this file")->check(NonEmptyFileName());
    simulate->add_option("--plot", so.plot, "render the error graphs of the run (.bmp, .pcx, .png)")
        ->check(NonEmptyFileName());
    simulate->add_flag("--quiet", Progress::silenced, "no progress on standard error");
    simulate->add_option("--graph", t.graph, "restoring, detection or recognition")
        ->check(OneWord({"restoring", "detection", "recognition"}));
    simulate->add_option("--view", t.view, "componentwise or summary")->check(OneWord({"componentwise", "summary"}));
    simulate->add_flag("--bounds", so.bounds, "recognition error with its bounds");
    simulate->add_option("--size", t.plotSize, "client size of the rendering, WxH")->default_str("1600x1000");
    return simulate;
}

CLI::App* addExperimentCommand(CLI::App& app, ExperimentOptions& eo, TypedTexts& t) {
    CLI::App* experiment = app.add_subcommand(
        "experiment", "start the workbench without a window and run menu commands through its dispatcher");
    experiment->add_option("--commands", t.experimentCommands, "command ids, e.g. 40018,40017")->required();
    experiment->add_option("--dialog", eo.dialog,
                           "dialog answers: control id = value (e.g. 1001=50), or cancel; repeatable");
    experiment->add_flag("--json", eo.json, "print JSON");
    experiment->add_option("--tuple", t.experimentTuple, "the subset panel's current subset, e.g. 3,5,7");
    experiment->add_option("--tuples", t.experimentTuples,
                           "the subset panel's stored subsets, e.g. \"3,5,7;2,4\" (or the option repeated)");
    experiment->add_option("--snapshot", eo.snapshot, "render the window after the last command (.bmp, .pcx, .png)")
        ->check(NonEmptyFileName());
    experiment->add_flag("--quiet", Progress::silenced, "no progress on standard error");
    experiment->add_option("--size", t.experimentSize, "client size of the rendering, WxH")->default_str("1600x1000");
    return experiment;
}

// The texts of the chosen command as numbers, lists and tuples; a refusal is a
// CLI::ValidationError naming the option.
void convertTexts(const Commands& c, const TypedTexts& t, SeriesOptions& series, ProcessOptions& process,
                  SimulateOptions& simulate, ExperimentOptions& experiment) {
    // Lists: the option given (even as an empty text) must hold numbers.
    const auto list16 = [](CLI::App* command, const char* option, const std::string& text,
                           std::vector<uint16_t>& values) {
        if (command->count(option)) values = parseList<uint16_t>(option, text, 0, 65535);
    };
    const auto list32 = [](CLI::App* command, const char* option, const std::string& text,
                           std::vector<int32_t>& values) {
        if (command->count(option)) values = parseList<int32_t>(option, text, -2147483648LL, 2147483647LL);
    };
    list16(c.series, "--sequence", t.seriesSequence, series.request.sequence);
    list32(c.series, "--subset", t.seriesSubset, series.request.subset);
    list16(c.process, "--sequence", t.processSequence, process.request.series.sequence);
    list32(c.process, "--subset", t.processSubset, process.request.series.subset);
    if (c.process->count("--candidates"))
        process.request.candidates = parseList<uint16_t>("--candidates", t.processCandidates, 0, 65535);
    list32(c.process, "--tuple", t.processTuple, process.request.tuple);
    if (c.simulate->count("--candidates"))
        simulate.request.candidates = parseList<uint16_t>("--candidates", t.simCandidates, 0, 65535);
    list32(c.simulate, "--tuple", t.simTuple, simulate.request.tuple);
    list32(c.experiment, "--tuple", t.experimentTuple, experiment.tuple);
    if (c.experiment->count("--commands"))
        experiment.commands = parseList<int>("--commands", t.experimentCommands, 0, 2147483647);
    for (const std::string& text : t.tuples)
        for (auto& tuple : parseTuples(text)) process.request.tuples.push_back(std::move(tuple));
    for (const std::string& text : t.experimentTuples)
        for (auto& tuple : parseTuples(text)) experiment.tuples.push_back(std::move(tuple));
    for (const std::string& text : t.simTuples)
        for (auto& tuple : parseTuples(text)) simulate.request.tuples.push_back(std::move(tuple));
    // The grid: every part in its full width, then what the accumulator's 16-bit fields hold.
    const auto pp = parseTriple("--pulses", t.pulses);
    simulate.request.pulsesMin = tripleEntry("--pulses", "MIN", pp[0], 1, 65535);
    simulate.request.pulsesMax = tripleEntry("--pulses", "MAX", pp[1], 1, 65535);
    simulate.request.pulsesStep = tripleEntry("--pulses", "STEP", pp[2], 0, 65535);
    const auto nn = parseTriple("--noise", t.noise);
    simulate.request.noiseFirst = tripleEntry("--noise", "FIRST", nn[0], 0, gaussSigmaLimit);
    simulate.request.noiseSteps = tripleEntry("--noise", "STEPS", nn[1], 1, 65535);
    simulate.request.noiseIncrement = tripleEntry("--noise", "INCR", nn[2], 0, 65535);
    const int64_t lastLevel = nn[0] + (nn[1] - 1) * nn[2];
    if (lastLevel > gaussSigmaLimit)
        throw CLI::ValidationError("--noise", "the last level FIRST + (STEPS - 1) * INCR is " +
                                                  std::to_string(lastLevel) + "; noise levels lie from 0 to " +
                                                  std::to_string(gaussSigmaLimit));
    if (!parseSize(t.experimentSize, experiment.width, experiment.height))
        throw CLI::ValidationError("--size", "expected WxH between 200 and 8000, got \"" + t.experimentSize + "\"");
    if (!parseSize(t.plotSize, simulate.width, simulate.height))
        throw CLI::ValidationError("--size", "expected WxH between 200 and 8000, got \"" + t.plotSize + "\"");
    simulate.graph = t.graph == "detection" ? 2 : t.graph == "recognition" ? 3 : 1;
    simulate.view = t.view == "summary" ? 2 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"PulseBench batch tool: the workbench's engine without a window", "pulsebench-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", versionText("pulsebench-cli", {{"CLI11", CLI11_VERSION}}),
                         "Print the version, the licence and the libraries used, then exit");

    Commands c;
    TypedTexts t;
    bool alphabetJson = false;
    c.alphabet = app.add_subcommand("alphabet", "print the etalon alphabet as start-up builds it");
    c.alphabet->add_flag("--json", alphabetJson, "print JSON");

    SeriesOptions seriesOptions;
    c.series = app.add_subcommand(
        "series", "make series from the start-up state as the workbench's makers would");
    addSeriesOptions(c.series, seriesOptions.request, seriesOptions.json, t.seriesSequence, t.seriesSubset);
    addSeriesFileOptions(c.series, seriesOptions.files);
    ProcessOptions p;
    c.process = addProcessCommand(app, p, t);
    SimulateOptions so;
    c.simulate = addSimulateCommand(app, so, t);
    ExperimentOptions eo;
    c.experiment = addExperimentCommand(app, eo, t);
    DetectOptions detectOptions;
    c.detect = addDetectCommand(app, detectOptions);

    try {
        app.parse(argc, argv);
        convertTexts(c, t, seriesOptions, p, so, eo);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // Every refusal in one style and with one exit status, the parser's own ones too.
        std::string command;
        for (const CLI::App* sub : app.get_subcommands({}))
            if (argc > 1 && sub->get_name() == argv[1]) command = sub->get_name();
        std::cerr << "pulsebench-cli" << (command.empty() ? "" : " " + command) << ": " << e.what()
                  << "\nRun with --help for more information.\n";
        return 1;
    }

    StderrMessageSink window;
    for (const CLI::App* sub : app.get_subcommands())
        window.command = sub->get_name();
    if (*c.alphabet) return finishOutput(runAlphabet(alphabetJson, std::cout, window), window);
    if (*c.process) return finishOutput(runProcess(p, std::cout, window), window);
    if (*c.simulate) return finishOutput(runSimulateOnRanks(so, std::cout, window), window);
    if (*c.experiment) return finishOutput(runExperiment(eo, std::cout, window), window);
    if (*c.detect) return finishOutput(runDetectOnRanks(detectOptions, std::cout, window), window);
    return finishOutput(runSeries(seriesOptions, std::cout, window), window);
}
