// pulsebench-cli: the workbench's engine without a window, for scripts and long runs.

#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "app/cli_commands.h"

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

    try {
        app.parse(argc, argv);
        for (const std::string& text : tuples)
            for (auto& tuple : parseTuples(text)) p.tuples.push_back(std::move(tuple));
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    StderrMessageSink window;
    if (*alphabet) return runAlphabet(alphabetJson, std::cout, window);
    if (*process) return runProcess(p, std::cout, window);
    return runSeries(seriesOptions, std::cout, window);
}
