#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli_io.h"
#include "app/cli_output.h"
#include "core/series_request.h"
#include "core/simulation_request.h"
#include "model/codes.h"
#include "model/message_sink.h"

/// `alphabet`: the alphabet as start-up builds it. Returns the process exit code.
int runAlphabet(bool json, std::ostream& out, StderrMessageSink& window);

/// Options of `series`: the request and how its result is printed.
struct SeriesOptions {
    SeriesRequest request;
    bool json = false;
    SeriesFileOptions files;  ///< files written for the last series
};

/// `series`: R series made one after the other from the start-up state, as the workbench's
/// makers would, each followed by noise when it is not 0. Returns the process exit code
/// (0, or 1 when a routine refused the parameters).
int runSeries(const SeriesOptions& options, std::ostream& out, StderrMessageSink& window);

/// Options of `process`: the request and how its result is printed.
struct ProcessOptions {
    ProcessRequest request;
    bool json = false;
};

/// `process`: series as `series` makes them, each processed by the routine its task and type
/// select. Returns the process exit code.
int runProcess(const ProcessOptions& options, std::ostream& out, StderrMessageSink& window);

/// Options of `simulate`: the request, how it runs and where its results go.
struct SimulateOptions {
    SimulationGridRequest request;
    int threads = 0;
    bool json = false;
    std::string csv;
    std::string plot;                 ///< render the graphs of the run to this file
    int graph = 1;                    ///< 1 restoring, 2 detection, 3 recognition error
    int view = 1;                     ///< 1 componentwise, 2 summary
    bool bounds = false;              ///< recognition error with its bounds
    int width = 1600, height = 1000;
};

/// `simulate`: the statistical simulation from the start-up state, with its report, progress on
/// standard error and the result as JSON and/or CSV. Returns the process exit code.
int runSimulate(const SimulateOptions& options, std::ostream& out, StderrMessageSink& window);

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
