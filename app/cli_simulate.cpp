// `pulsebench-cli simulate`: the statistical simulation without a window.

#include <chrono>
#include <cstdio>
#include <sstream>
#include <iostream>

#include "app/cli_commands.h"
#include "app/cli_mpi.h"
#include "app/cli_progress.h"
#include "app/render.h"
#include "workbench/workbench.h"
#include "io/output_file.h"
#include "core/settings.h"
#include "core/simulation_report.h"
#include "core/simulation_use_case.h"
#include "core/startup_model.h"
#include "core/version.h"
#include "model/random.h"
#include "model/subsets.h"
#include "simulation/driver.h"
#include "simulation/rest_error.h"

using nlohmann::ordered_json;

namespace {
ordered_json matrix(int32_t** rows, int levels, int pulses) {
    ordered_json m = ordered_json::array();
    for (int k = 0; k < levels; ++k) m.push_back(std::vector<int32_t>(rows[k], rows[k] + pulses));
    return m;
}

std::string isoTime(std::time_t t) {
    char buffer[32];
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}

// The menu choices from the options: series type and task, with the saved energy the series
// type brings, and the required list. False after a refusal (already reported).
bool applyChoices(const SimulateOptions& o, Settings& s, StderrMessageSink& window) {
    s.seriesType = static_cast<SeriesType>(o.type);
    s.wTaskTypeSel = static_cast<TaskType>(o.task);
    s.wTaskType = effectiveTaskType(s.wTaskTypeSel, s.seriesType);
    const bool cutoffs = isCutOffSeries(o.type);
    s.wSavedEnergyCreate = o.savedEnergyCreate.value_or(cutoffs ? s.wSavedEnergyCreate : 100);
    s.wSavedEnergyProcess = o.savedEnergyProcess.value_or(s.wSavedEnergyCreate);
    if (o.candidates.empty()) return true;
    s.requiredFlags.fill(0);
    for (const uint16_t v : o.candidates) {
        if (v < 1 || v > s.wAlphabetSize) {
            window.messageBox("Etalon " + std::to_string(v) + " is not in the alphabet (1 to " +
                                  std::to_string(s.wAlphabetSize) + ").",
                              " simulate ", MessageIcon::Warning);
            return false;
        }
        s.requiredFlags[v - 1] = 1;
    }
    rebuildRequiredList(s);
    return true;
}

// The energy and ranges dialogs' values from the options, committed after the checks the
// window's dialogs make. Returns the number of pulse counts of the grid, or 0 after a refusal.
int32_t applyGrid(const SimulateOptions& o, Settings& s, StderrMessageSink& window) {
    s.dwSeriesSizeBase = s.dwSeriesSize = o.length.value_or(s.dwSeriesSize);
    s.wTmin = o.tmin.value_or(s.wTmin);
    s.wTmax = o.tmax.value_or(s.wTmax);
    if (!checkSeriesParameters(window, " simulate ", s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSize)) return 0;
    // The grid's parts, checked in their full width before they are narrowed to 16 bits.
    const int64_t lastLevel = int64_t{o.noiseFirst} + (int64_t{o.noiseSteps} - 1) * o.noiseIncrement;
    if (o.pulsesMin < 1 || o.pulsesMin > 65535 || o.pulsesMax < 1 || o.pulsesMax > 65535 || o.pulsesStep < 0 ||
        o.pulsesStep > 65535 || o.noiseFirst < 0 || o.noiseSteps < 1 || o.noiseSteps > 65535 ||
        o.noiseIncrement < 0 || o.noiseIncrement > 65535 || o.repeats < 1 || o.repeats > 65535 ||
        lastLevel > gaussSigmaLimit) {
        window.messageBox("The grid lies outside what a simulation takes: pulse counts 1 to 65535 with a step of 0 to "
                          "65535, 1 to 65535 noise levels from 0 to " + std::to_string(gaussSigmaLimit) +
                              ", 1 to 65535 repeats.",
                          " simulate ", MessageIcon::Warning);
        return 0;
    }
    s.wMinPulses = static_cast<uint16_t>(o.pulsesMin);
    s.wMaxPulses = static_cast<uint16_t>(o.pulsesMax);
    s.wPulsesIncrement = static_cast<uint16_t>(o.pulsesStep == 0 ? 1 : o.pulsesStep);
    const int32_t steps = (o.pulsesMax - o.pulsesMin) / s.wPulsesIncrement + 1;
    s.wPulsesSteps = static_cast<uint16_t>(std::max(steps, 0));
    s.wNoiseInitial = static_cast<uint16_t>(o.noiseFirst);
    s.wNoiseSteps = static_cast<uint16_t>(o.noiseSteps);
    s.wNoiseIncrement = static_cast<uint16_t>(o.noiseIncrement);
    s.repeats = static_cast<uint16_t>(o.repeats);
    s.subsetProceeding = o.proceeding;

    // A grid that cannot run is refused before anything is reported.
    if (steps < 1 || o.repeats < 1 || o.noiseSteps < 1) {
        window.messageBox("The grid is empty: it needs at least one pulse count, one noise level and one repeat.",
                          " simulate ", MessageIcon::Warning);
        return 0;
    }
    const PulseBounds bounds = seriesPulseBounds(s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSize);
    const int32_t lastPulses = o.pulsesMin + (steps - 1) * s.wPulsesIncrement;
    if (o.pulsesMin < bounds.wMinPulses || lastPulses > bounds.wMaxPulses) {
        window.messageBox("A series of " + std::to_string(s.dwSeriesSize) + " samples holds " +
                              std::to_string(bounds.wMinPulses) + " to " + std::to_string(bounds.wMaxPulses) +
                              " pulses; the grid asks for " + std::to_string(o.pulsesMin) + " to " +
                              std::to_string(lastPulses) + ".",
                          " simulate ", MessageIcon::Warning);
        return 0;
    }
    // The results of every cell are held in memory (six 32-bit matrices): a grid beyond 1 GB is
    // refused rather than left to fail in the middle of its allocation.
    const int64_t cells = int64_t{steps} * o.noiseSteps;
    if (cells * 24 > (int64_t{1} << 30)) {
        window.messageBox("The grid of " + std::to_string(steps) + " pulse counts by " + std::to_string(o.noiseSteps) +
                              " noise levels needs " + std::to_string(cells * 24 >> 20) +
                              " MB for its results; at most 1024 MB.",
                          " simulate ", MessageIcon::Warning);
        return 0;
    }
    return steps;
}

// The series record sized for the grid, with the tuple of a tuple series and, for tuple
// recognition, the stored tuples. False after a refusal (already reported).
bool prepareSimulatedSeries(const SimulateOptions& o, Settings& s, StderrMessageSink& window) {
    s.lpSeriesHeader = getCutOffSeriesHeader(window, s.wAlphabetSize, s.wImpulseSize, s.wTmin, s.wTmax,
                                             s.dwSeriesSize, std::move(s.lpSeriesHeader));
    if (!s.lpSeriesHeader) return false;
    if (!o.tuples.empty()) {
        size_t longest = 1;
        for (const auto& t : o.tuples) longest = std::max(longest, t.size());
        std::vector<int32_t> sizes;
        std::vector<std::span<const int32_t>> lists;
        for (const auto& t : o.tuples) {
            sizes.push_back(static_cast<int32_t>(t.size()));
            lists.emplace_back(t);
        }
        if (!addSomeSelectedSubsetToSeriesHeader(window, sizes, lists, static_cast<int>(std::max<size_t>(10, o.tuples.size())),
                                                 static_cast<int>(longest), 1, s.subsetEmployment,
                                                 s.subsetInitPosition, s.lpSeriesHeader.get()))
            return false;
    }
    if (!o.tuple.empty() &&
        !setSelectedSubset(window, o.tuple, s.subsetEmployment, s.subsetInitPosition, s.lpSeriesHeader.get()))
        return false;
    return window.count == 0;
}

std::string resultJson(const Settings& s, const RestErrorHeader& acc) {
    const int P = acc.wVariousPulses, V = acc.wNoiseLevels;
    ordered_json doc = {
        {"version", pulsebenchVersion},
        {"descriptor",
         {{"seriesType", acc.wSeriesType},
          {"seriesTypeName", acc.lpSeriesTypeName ? acc.lpSeriesTypeName : ""},
          {"taskType", acc.wTaskType},
          {"taskName", acc.lpTaskName ? acc.lpTaskName : ""},
          {"makingEnergy", acc.wMakingEnergy},
          {"processingEnergy", acc.wProcessingEnergy},
          {"length", s.dwSeriesSize},
          {"tmin", s.wTmin},
          {"tmax", s.wTmax},
          {"impulseSize", s.wImpulseSize}}},
        {"pulses", std::vector<int16_t>(acc.wPulseValues, acc.wPulseValues + P)},
        {"noiseLevels", std::vector<int16_t>(acc.lpNoiseLevels, acc.lpNoiseLevels + V)},
        {"repeats", acc.repeats},
        {"errors", matrix(acc.lpErrors, V, P)},
        {"detectErrors", matrix(acc.lpDetectErrors, V, P)},
        {"recognErrors", matrix(acc.lpRecognErrors, V, P)},
        {"startTime", isoTime(acc.startTime)},
        {"endTime", isoTime(acc.endTime)}};
    return formatJson(doc);
}

bool writeResultCsv(const std::string& path, const RestErrorHeader& acc, StderrMessageSink& window) {
    std::ostringstream csv;
    csv << "noise_level,pulses,restoring_error,detection_error,recognition_errors\n";
    for (int k = 0; k < acc.wNoiseLevels; ++k)
        for (int j = 0; j < acc.wVariousPulses; ++j)
            csv << acc.lpNoiseLevels[k] << ',' << acc.wPulseValues[j] << ',' << acc.lpErrors[k][j] << ','
                << acc.lpDetectErrors[k][j] << ',' << acc.lpRecognErrors[k][j] << '\n';
    const std::string text = csv.str();
    OutputFile file(path);
    if (!file.isOpen() || !file.write(text.data(), text.size()) || !file.commit()) {
        window.messageBox("--csv: cannot write " + file.error() + ".", " simulate ", MessageIcon::Warning);
        return false;
    }
    return true;
}

// The graphs as the window shows them after the run: the accumulator and the last series move
// into a workbench in the simulation view (which then owns them).
bool renderResultPlot(const SimulateOptions& o, Settings& s, std::unique_ptr<RestErrorHeader> acc,
                      StderrMessageSink& window) {
    Workbench view;
    Settings& v = view.settings;
    deriveStartupSettings(v);
    v.seriesType = s.seriesType;
    v.dwSeriesSize = s.dwSeriesSize;
    v.wNoiseLevel = s.wNoiseLevel;
    v.wLostLevel = s.wLostLevel;
    v.wTaskType = s.wTaskType;
    v.wTaskTypeSel = s.wTaskTypeSel;
    v.requiredFlags = s.requiredFlags;
    rebuildRequiredList(v);
    v.viewMode = 6;
    v.wDisplayContent = 2;
    v.handlingCase = o.graph;
    v.viewCase = o.view;
    v.boundsIncluded = o.bounds ? 1 : 0;
    v.simGraphKind = simulationGraphKind(o.graph, o.view, o.bounds);
    v.lpRestErrorHeader = std::move(acc);
    v.lpSeriesHeader = std::move(s.lpSeriesHeader);
    return saveImage(window, o.plot, renderWorkbench(view, o.width, o.height));
}
int simulateCommand(const SimulateOptions& o, Settings& s, std::ostream& out, StderrMessageSink& window) {
    deriveStartupSettings(s);
    prepareStartupModel(s, window);
    if (window.count || !applyChoices(o, s, window)) return 1;
    const int32_t steps = applyGrid(o, s, window);
    if (steps == 0) return 1;
    // The outputs, before any work.
    if (!o.csv.empty() && !checkFileOutput(window, "--csv", o.csv)) return 1;
    if (!o.plot.empty() && !checkImageOutput(window, "--plot", o.plot)) return 1;
    if (!prepareSimulatedSeries(o, s, window)) return 1;

    AccumulatorFailure failure = AccumulatorFailure::none;
    std::unique_ptr<RestErrorHeader> acc = newSimulationAccumulator(s, window, failure);
    if (!acc) return 1;
    // Everything the driver would refuse, refused before the report.
    if (!checkSimulation(window, acc.get(), s.wAlphabetSize, s.alphabet, s.wRequiredCount, s.lpRequiredList.get(),
                         code(s.seriesType), code(s.wTaskType), s.lpSeriesHeader.get()))
        return 1;

    const std::string report = simulationReport(s, steps);
    // The report goes beside the result: on standard error when the JSON takes standard output.
    // On standard output it is held back until the run has succeeded.
    ResultStream stream(out);
    if (o.progress) {
        // A library caller shows its own progress and has no use for the report.
    } else if (o.json)
        std::cerr << report << std::flush;
    else
        stream.write(report);

    Progress progress;
    if (!o.progress) progress.start(static_cast<long>(acc->wVariousPulses) * acc->wNoiseLevels);
    const int messagesBefore = window.count;
    SimulationRequest request;
    request.threads = o.threads;
    if (o.progress)
        request.progress = o.progress;
    else
        request.progress = [&](int done, int total) { progress(done, total); };
    request.cancel = o.cancel;
    request.run = simulateOnRanks;
    const SimulationResult run = runSimulation(s, window, acc.get(), request);
    // A routine that refused a repeat leaves cells computed from nothing: the run failed.
    if (!run.complete || window.count != messagesBefore) return 1;
    // Under mpirun only rank 0 holds the whole result; the other ranks write nothing.
    if (quietRank()) return 0;

    if (o.json) stream.write(resultJson(s, *acc));
    if (!o.csv.empty() && !writeResultCsv(o.csv, *acc, window)) return 1;
    int status = 0;
    if (!o.plot.empty() && !renderResultPlot(o, s, std::move(acc), window)) status = 1;
    if (status == 0 && window.count == 0) stream.finish();
    if (window.count) status = 1;
    return status;
}
}  // namespace

int runSimulate(const SimulateOptions& o, std::ostream& out, StderrMessageSink& window, SeedCells& seeds) {
    return runWithSeeds(seeds, [&](Settings& s) { return simulateCommand(o, s, out, window); });
}

int runSimulate(const SimulateOptions& o, std::ostream& out, StderrMessageSink& window) {
    SeedCells own;
    return runSimulate(o, out, window, own);
}
