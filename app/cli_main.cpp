// pulsebench-cli: the workbench's engine without a window, for scripts and long runs.

#include <iostream>

#include <CLI/CLI.hpp>

#include "app/cli_commands.h"

int main(int argc, char** argv) {
    CLI::App app{"PulseBench batch tool: etalon alphabet and pulse series from the workbench's engine"};
    app.require_subcommand(1);

    bool alphabetJson = false;
    auto* alphabet = app.add_subcommand("alphabet", "print the etalon alphabet as start-up builds it");
    alphabet->add_flag("--json", alphabetJson, "print JSON");

    SeriesOptions o;
    auto* series = app.add_subcommand(
        "series", "make series from the start-up state as the workbench's makers would");
    series->add_option("--type", o.type, "series type")
        ->check(CLI::IsMember({1u, 2u, 4u, 8u, 16u, 32u, 36u, 40u}))
        ->default_str("8");
    series->add_option("--length", o.length, "series length N in samples");
    series->add_option("--tmin", o.tmin, "minimum distance between pulse starts");
    series->add_option("--tmax", o.tmax, "maximum distance between pulse starts");
    series->add_option("--count", o.count, "pulse count K of a fixed-count type");
    series->add_option("--saved-energy", o.savedEnergy, "saved energy level, percent")
        ->check(CLI::Range(0, 100));
    series->add_option("--noise", o.noise, "noise level (standard deviation); 0 adds no noise");
    series->add_option("--sequence", o.sequence, "etalon number of each pulse, e.g. 1,3,5")
        ->delimiter(',');
    auto* subset = series->add_option("--subset", o.subset, "active selected subset, e.g. 3,5,7")
                       ->delimiter(',');
    series->add_option("--subset-mode", o.subsetMode, "subset layout mode 1..5")
        ->check(CLI::Range(1, 5))
        ->needs(subset);
    series->add_option("--subset-start", o.subsetStart, "1-based pulse where the subset starts")
        ->check(CLI::Range(1, 65535))
        ->needs(subset);
    series->add_option("--repeat", o.repeat, "number of series made one after the other")
        ->check(CLI::Range(1, 1000000));
    series->add_flag("--json", o.json, "print JSON");

    CLI11_PARSE(app, argc, argv);

    StderrMessageSink window;
    if (*alphabet) return runAlphabet(alphabetJson, std::cout, window);
    return runSeries(o, std::cout, window);
}
