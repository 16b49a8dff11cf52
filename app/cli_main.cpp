// pulsebench-cli: the workbench's engine without a window, for scripts and long runs.

#include <array>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "app/cli_commands.h"
#include "app/cli_mpi.h"
#include "app/render.h"

namespace {
void addSeriesOptions(CLI::App* command, SeriesOptions& o) {
    command->add_option("--type", o.type, "series type")
        ->check(CLI::IsMember({1u, 2u, 4u, 8u, 16u, 32u, 36u, 40u}))
        ->default_str("8");
    command->add_option("--length", o.length, "series length N in samples");
    command->add_option("--tmin", o.tmin, "minimum distance between pulse starts");
    command->add_option("--tmax", o.tmax, "maximum distance between pulse starts");
    command->add_option("--count", o.count, "pulse count K of a fixed-count type");
    command->add_option("--saved-energy", o.savedEnergy, "saved energy level of the series, percent")
        ->check(CLI::Range(0, 100));
    command->add_option("--noise", o.noise, "noise level (standard deviation); 0 adds no noise");
    command->add_option("--sequence", o.sequence, "etalon number of each pulse, e.g. 1,3,5")->delimiter(',');
    auto* subset =
        command->add_option("--subset", o.subset, "active selected subset, e.g. 3,5,7")->delimiter(',');
    command->add_option("--subset-mode", o.subsetMode, "subset layout mode 1..5")
        ->check(CLI::Range(1, 5))
        ->needs(subset);
    command->add_option("--subset-start", o.subsetStart, "1-based pulse where the subset starts")
        ->check(CLI::Range(1, 65535))
        ->needs(subset);
    command->add_option("--repeat", o.repeat, "number of series made one after the other")
        ->check(CLI::Range(1, 1000000));
    command->add_flag("--json", o.json, "print JSON");
}

// "3,5,7;2,4" -> {{3,5,7},{2,4}}
std::vector<std::vector<int32_t>> parseTuples(const std::string& text) {
    std::vector<std::vector<int32_t>> tuples;
    std::stringstream all(text);
    std::string one;
    while (std::getline(all, one, ';')) {
        std::vector<int32_t> tuple;
        std::stringstream members(one);
        std::string member;
        while (std::getline(members, member, ',')) {
            size_t used = 0;
            int value = 0;
            try {
                value = std::stoi(member, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != member.size())
                throw CLI::ValidationError("--tuples", "not a list of etalon numbers: \"" + text + "\"");
            tuple.push_back(value);
        }
        if (tuple.empty()) throw CLI::ValidationError("--tuples", "an empty tuple in \"" + text + "\"");
        tuples.push_back(tuple);
    }
    return tuples;
}
// "A:B:C" -> three integers.
std::array<int32_t, 3> parseTriple(const std::string& option, const std::string& text) {
    std::array<int32_t, 3> values{};
    std::stringstream in(text);
    std::string part;
    int count = 0;
    while (std::getline(in, part, ':')) {
        size_t used = 0;
        try {
            if (count < 3) values[static_cast<size_t>(count)] = std::stoi(part, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != part.size()) count = 99;
        ++count;
    }
    if (count != 3) throw CLI::ValidationError(option, "expected three integers A:B:C, got \"" + text + "\"");
    return values;
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"PulseBench batch tool: the workbench's engine without a window"};
    app.require_subcommand(1);

    bool alphabetJson = false;
    auto* alphabet = app.add_subcommand("alphabet", "print the etalon alphabet as start-up builds it");
    alphabet->add_flag("--json", alphabetJson, "print JSON");

    SeriesOptions seriesOptions;
    auto* series = app.add_subcommand(
        "series", "make series from the start-up state as the workbench's makers would");
    addSeriesOptions(series, seriesOptions);
    addSeriesFileOptions(series, seriesOptions.files);

    ProcessOptions p;
    std::vector<std::string> tuples;
    auto* process = app.add_subcommand(
        "process", "make series as `series` does and run the processing routine of the task on each");
    addSeriesOptions(process, p.series);
    process->add_option("--task", p.task, "task: 1 detection, 2 recognition, 4 joint detection and "
                                          "identification, 36 tuple detection, 40 tuple recognition, "
                                          "64 series processing")
        ->check(CLI::IsMember({1, 2, 4, 36, 40, 64}))
        ->default_str("4");
    process->add_option("--candidates", p.candidates, "etalons the processing may look for (default: all)")
        ->delimiter(',');
    process->add_option("--tuple", p.tuple, "the tuple of tuple detection, e.g. 3,5,7")->delimiter(',');
    process->add_option("--tuples", tuples,
                        "the stored tuples of tuple recognition, e.g. \"3,5,7;2,4\" (or the option repeated)");
    process->add_option("--proceeding", p.proceeding, "tuple proceeding: 1 complete, 2 probably shifted")
        ->check(CLI::IsMember({1, 2}));
    process->add_option("--saved-energy-process", p.savedEnergyProcess,
                        "saved energy level assumed by processing (default: as the series was made)")
        ->check(CLI::Range(0, 100));

    SimulateOptions so;
    std::string experimentSize = "1600x1000", plotSize = "1600x1000", graph = "restoring", view = "componentwise";
    std::string pulses = "6:30:1", noise = "0:29:5";
    std::vector<std::string> simTuples;
    auto* simulate = app.add_subcommand(
        "simulate", "run the statistical simulation over a grid of pulse counts and noise levels");
    simulate->add_option("--task", so.task, "task, as for process")->check(CLI::IsMember({1, 2, 4, 36, 40, 64}));
    simulate->add_option("--type", so.type, "series type")->check(CLI::IsMember({1u, 2u, 4u, 8u, 16u, 32u, 36u, 40u}));
    simulate->add_option("--length", so.length, "series length N in samples");
    simulate->add_option("--tmin", so.tmin, "minimum distance between pulse starts");
    simulate->add_option("--tmax", so.tmax, "maximum distance between pulse starts");
    simulate->add_option("--pulses", pulses, "pulse counts MIN:MAX:STEP")->default_str("6:30:1");
    simulate->add_option("--noise", noise, "noise levels FIRST:STEPS:INCREMENT")->default_str("0:29:5");
    simulate->add_option("--repeats", so.repeats, "series per grid cell")->check(CLI::Range(1, 65535));
    simulate->add_option("--saved-energy-create", so.savedEnergyCreate, "saved energy level of the series, percent")
        ->check(CLI::Range(0, 100));
    simulate->add_option("--saved-energy-process", so.savedEnergyProcess,
                         "saved energy level assumed by processing (default: as making)")
        ->check(CLI::Range(0, 100));
    simulate->add_option("--candidates", so.candidates, "the required etalons (default: all)")->delimiter(',');
    simulate->add_option("--tuple", so.tuple, "the tuple a tuple series is laid from")->delimiter(',');
    simulate->add_option("--tuples", simTuples, "the stored tuples of tuple recognition, e.g. \"3,5,7;2,4\"");
    simulate->add_option("--proceeding", so.proceeding, "tuple proceeding: 1 complete, 2 probably shifted")
        ->check(CLI::IsMember({1, 2}));
    simulate->add_option("--threads", so.threads, "processing threads (default: every core)")->check(CLI::Range(0, 256));
    simulate->add_flag("--json", so.json, "print the result as JSON");
    simulate->add_option("--csv", so.csv, "write one row per grid cell to this file");
    simulate->add_option("--plot", so.plot, "render the error graphs of the run (.bmp, .pcx, .png)");
    simulate->add_option("--graph", graph, "restoring, detection or recognition")
        ->check(CLI::IsMember({"restoring", "detection", "recognition"}));
    simulate->add_option("--view", view, "componentwise or summary")->check(CLI::IsMember({"componentwise", "summary"}));
    simulate->add_flag("--bounds", so.bounds, "recognition error with its bounds");
    simulate->add_option("--size", plotSize, "client size of the rendering, WxH")->default_str("1600x1000");

    ExperimentOptions eo;
    auto* experiment = app.add_subcommand(
        "experiment", "start the workbench without a window and run menu commands through its dispatcher");
    experiment->add_option("--commands", eo.commands, "command ids, e.g. 40018,40017")
        ->delimiter(',')
        ->required();
    experiment->add_option("--dialog", eo.dialog,
                           "dialog answers: control id = value (e.g. 1001=50), or cancel; repeatable");
    experiment->add_flag("--json", eo.json, "print JSON");
    std::vector<std::string> experimentTuples;
    experiment->add_option("--tuple", eo.tuple, "the subset panel's current subset, e.g. 3,5,7")->delimiter(',');
    experiment->add_option("--tuples", experimentTuples,
                           "the subset panel's stored subsets, e.g. \"3,5,7;2,4\" (or the option repeated)");
    experiment->add_option("--snapshot", eo.snapshot, "render the window after the last command (.bmp, .pcx, .png)");
    experiment->add_option("--size", experimentSize, "client size of the rendering, WxH")->default_str("1600x1000");

    try {
        app.parse(argc, argv);
        for (const std::string& text : tuples)
            for (auto& tuple : parseTuples(text)) p.tuples.push_back(std::move(tuple));
        for (const std::string& text : experimentTuples)
            for (auto& tuple : parseTuples(text)) eo.tuples.push_back(std::move(tuple));
        for (const std::string& text : simTuples)
            for (auto& tuple : parseTuples(text)) so.tuples.push_back(std::move(tuple));
        const auto pp = parseTriple("--pulses", pulses);
        so.pulsesMin = pp[0];
        so.pulsesMax = pp[1];
        so.pulsesStep = pp[2];
        if (!parseSize(experimentSize, eo.width, eo.height))
            throw CLI::ValidationError("--size", "expected WxH between 200 and 8000, got \"" + experimentSize + "\"");
        if (!parseSize(plotSize, so.width, so.height))
            throw CLI::ValidationError("--size", "expected WxH between 200 and 8000, got \"" + plotSize + "\"");
        so.graph = graph == "detection" ? 2 : graph == "recognition" ? 3 : 1;
        so.view = view == "summary" ? 2 : 1;
        const auto nn = parseTriple("--noise", noise);
        so.noiseFirst = nn[0];
        so.noiseSteps = nn[1];
        so.noiseIncrement = nn[2];
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    StderrMessageSink window;
    if (*alphabet) return runAlphabet(alphabetJson, std::cout, window);
    if (*process) return runProcess(p, std::cout, window);
    if (*simulate) return runSimulateOnRanks(so, std::cout, window);
    if (*experiment) return runExperiment(eo, std::cout, window);
    return runSeries(seriesOptions, std::cout, window);
}
