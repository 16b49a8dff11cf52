// `pulsebench-cli simulate`: the statistical simulation without a window.

#include <chrono>
#include <cstdio>
#include <sstream>
#include <iostream>

#include "app/cli_commands.h"
#include "app/cli_mpi.h"
#include "app/cli_progress.h"
#include "app/render.h"
#include "display/paint.h"
#include "io/output_file.h"
#include "core/settings.h"
#include "core/simulation_report.h"
#include "core/simulation_request.h"
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
        {"startTime", utcTimeText(acc.startTime)},
        {"endTime", utcTimeText(acc.endTime)}};
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
// into the settings of a window in the simulation view (which then own them).
bool renderResultPlot(const SimulateOptions& o, Settings& s, std::unique_ptr<RestErrorHeader> acc,
                      StderrMessageSink& window) {
    Settings v;
    deriveStartupSettings(v);
    v.seriesType = s.seriesType;
    v.dwSeriesSize = s.dwSeriesSize;
    v.wNoiseLevel = s.wNoiseLevel;
    v.wLostLevel = s.wLostLevel;
    v.wTaskType = s.wTaskType;
    v.wTaskTypeSel = s.wTaskTypeSel;
    v.requiredFlags = s.requiredFlags;
    rebuildRequiredList(v);
    v.viewMode = ViewMode::results;
    v.wDisplayContent = 2;
    v.handlingCase = o.graph;
    v.viewCase = o.view;
    v.boundsIncluded = o.bounds ? 1 : 0;
    v.simGraphKind = simulationGraphKind(o.graph, o.view, o.bounds);
    v.lpRestErrorHeader = std::move(acc);
    v.lpSeriesHeader = std::move(s.lpSeriesHeader);
    bool drawn = true;
    const SnapshotImage image =
        renderImage(o.width, o.height, [&](Canvas& canvas) { drawn = paintSimulationWindow(canvas, v); });
    if (!drawn) {
        window.messageBox("No memory to RestoredErrorNormalizer", " ERROR in DrawDetectionArrayZ ", MessageIcon::None);
        return false;
    }
    return saveImage(window, o.plot, image);
}
}  // namespace

int runSimulate(const SimulateOptions& o, std::ostream& out, StderrMessageSink& window) {
    if (const auto refused = checkSimulationRequest(o.request)) {
        reportRefusal(window, *refused, " simulate ");
        return 1;
    }
    // The outputs, before any work.
    if (!o.csv.empty() && !checkFileOutput(window, "--csv", o.csv)) return 1;
    if (!o.plot.empty() && !checkImageOutput(window, "--plot", o.plot)) return 1;
    Settings s;
    std::unique_ptr<RestErrorHeader> acc = prepareSimulation(o.request, s, window);
    if (!acc) return 1;
    const int32_t steps = s.wPulsesSteps;

    const std::string report = simulationReport(s, steps);
    // The report goes beside the result: on standard error when the JSON takes standard output.
    // On standard output it is held back until the run has succeeded.
    ResultStream stream(out);
    if (o.json)
        std::cerr << report << std::flush;
    else
        stream.write(report);

    Progress progress;
    progress.start(static_cast<long>(acc->wVariousPulses) * acc->wNoiseLevels);
    const int messagesBefore = window.count;
    SimulationRequest request;
    request.threads = o.threads;
    request.progress = [&](int done, int total) { progress(done, total); };
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
