// `pulsebench-cli simulate`: the statistical simulation without a window.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "app/cli_commands.h"
#include "app/cli_mpi.h"
#include "app/render.h"
#include "core/workbench.h"
#include "core/settings.h"
#include "core/startup_model.h"
#include "model/subsets.h"
#include "simulation/driver.h"
#include "simulation/rest_error.h"

using nlohmann::ordered_json;

namespace {
std::string clock(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return buffer;
}

// Progress on standard error: a bar redrawn in place on a terminal, otherwise a line at every
// tenth of the grid.
class Progress {
public:
    Progress() : terminal_(isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}

    void operator()(int done, int total) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double left = done > 0 ? elapsed * (total - done) / done : 0.0;
        if (terminal_) {
            const int width = 30, filled = width * done / total;
            std::fprintf(stderr, "\r[%s%s] %d/%d cells, elapsed %s, left %s ", std::string(filled, '#').c_str(),
                         std::string(width - filled, '.').c_str(), done, total, clock(elapsed).c_str(),
                         clock(left).c_str());
            if (done == total) std::fputc('\n', stderr);
        } else if (done * 10 / total != lastTenth_ || done == total) {
            lastTenth_ = done * 10 / total;
            std::fprintf(stderr, "%d/%d cells, elapsed %s, left %s\n", done, total, clock(elapsed).c_str(),
                         clock(left).c_str());
        }
        std::fflush(stderr);
    }

private:
    bool terminal_;
    int lastTenth_ = 0;
    std::chrono::steady_clock::time_point start_;
};

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
}  // namespace

int runSimulate(const SimulateOptions& o, std::ostream& out, StderrMessageSink& window) {
    Settings s;
    deriveStartupSettings(s);
    prepareStartupModel(s, window);
    if (window.count) return 1;

    // The menu choices: series type and task, with the lost level the series type brings.
    s.seriesType = o.type;
    s.wTaskTypeSel = o.task;
    s.wTaskType = effectiveTaskType(o.task, o.type);
    const bool cutoffs = o.type == seriesFixedCutoffs || o.type == seriesUnfixedCutoffs;
    s.wSavedEnergyCreate = o.savedEnergyCreate.value_or(cutoffs ? s.wSavedEnergyCreate : 100);
    s.wSavedEnergyProcess = o.savedEnergyProcess.value_or(s.wSavedEnergyCreate);
    if (!o.candidates.empty()) {
        s.requiredFlags.fill(0);
        for (const uint16_t v : o.candidates) {
            if (v < 1 || v > s.wAlphabetSize) {
                window.messageBox("Etalon " + std::to_string(v) + " is not in the alphabet (1 to " +
                                      std::to_string(s.wAlphabetSize) + ").",
                                  " simulate ", MessageIcon::Warning);
                return 1;
            }
            s.requiredFlags[v - 1] = 1;
        }
        rebuildRequiredList(s);
    }

    // The energy and ranges dialogs, committed.
    s.dwSeriesSizeBase = s.dwSeriesSize = o.length.value_or(s.dwSeriesSize);
    s.wTmin = o.tmin.value_or(s.wTmin);
    s.wTmax = o.tmax.value_or(s.wTmax);
    if (!checkSeriesParameters(window, " simulate ", s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSize)) return 1;
    s.dlgMinPulses = static_cast<uint16_t>(o.pulsesMin);
    s.dlgMaxPulses = static_cast<uint16_t>(o.pulsesMax);
    s.wMinPulses = s.dlgMinPulses;
    s.wMaxPulses = s.dlgMaxPulses;
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
        return 1;
    }
    const PulseBounds bounds = seriesPulseBounds(s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSize);
    const int32_t lastPulses = o.pulsesMin + (steps - 1) * s.wPulsesIncrement;
    if (o.pulsesMin < bounds.wMinPulses || lastPulses > bounds.wMaxPulses || o.pulsesMin > 65535 ||
        o.pulsesStep < 0) {
        window.messageBox("A series of " + std::to_string(s.dwSeriesSize) + " samples holds " +
                              std::to_string(bounds.wMinPulses) + " to " + std::to_string(bounds.wMaxPulses) +
                              " pulses; the grid asks for " + std::to_string(o.pulsesMin) + " to " +
                              std::to_string(lastPulses) + ".",
                          " simulate ", MessageIcon::Warning);
        return 1;
    }

    char report[1024];
    std::snprintf(report, sizeof report,
                  "Create series parameters:\nдлина серии: %d\nwTmin: %d\nwTmax: %d\nдлина эталона: %d\n"
                  "MinPulses: %d -> %d\nMaxPulses: %d -> %d\n\npulses: %d, from %d to %d incr %d \n"
                  "noise level: from %d to %d incr %d\nnumber of repeats: %d\n",
                  static_cast<int>(s.dwSeriesSize), s.wTmin, s.wTmax, s.wImpulseSize, s.dlgMinPulses, s.wMinPulses,
                  s.dlgMaxPulses, s.wMaxPulses, steps, s.wMinPulses, s.wMaxPulses, s.wPulsesIncrement,
                  s.wNoiseInitial, s.wNoiseSteps, s.wNoiseIncrement, s.repeats);
    // The report goes beside the result: on standard error when the JSON takes standard output.
    (o.json ? std::cerr : out) << report << std::flush;

    s.lpSeriesHeader = getCutOffSeriesHeader(window, s.wAlphabetSize, s.wImpulseSize, s.wTmin, s.wTmax,
                                             s.dwSeriesSize, s.lpSeriesHeader);
    if (!s.lpSeriesHeader) return 1;
    // The tuple of a tuple series and, for tuple recognition, the stored tuples.
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
                                                 s.subsetInitPosition, s.lpSeriesHeader))
            return 1;
    }
    if (!o.tuple.empty() &&
        !setSelectedSubset(window, o.tuple, s.subsetEmployment, s.subsetInitPosition, s.lpSeriesHeader))
        return 1;
    if (window.count) return 1;

    RestErrorHeader* acc = getRestErrHeader(window, s.wPulsesSteps, s.wNoiseSteps, s.repeats, nullptr);
    if (!acc || !initRestErrHeader(window, s.wPulsesSteps, s.wMinPulses, s.wPulsesIncrement, s.wNoiseSteps,
                                   s.wNoiseInitial, s.wNoiseIncrement, s.repeats, acc)) {
        releaseRestErrHeader(window, acc);
        return 1;
    }

    Progress progress;
    SimulationControl control;
    control.threads = o.threads;
    control.progress = [&](int done, int total) { progress(done, total); };
    SimulationSettings settings{static_cast<int16_t>(s.wAmplitude), s.subsetProceeding};
    const int complete =
        simulateOnRanks(window, acc, s.wAlphabetSize, s.alphabet, s.wRequiredCount, s.lpRequiredList.get(),
                           static_cast<uint16_t>(s.seriesType), s.wTaskType, s.wSavedEnergyCreate,
                           s.wSavedEnergyProcess, s.lpSeriesHeader, s.noiseSeed, settings, control);
    if (!complete || !acc->ifComplete) {
        releaseRestErrHeader(window, acc);
        return 1;
    }
    // Under mpirun only rank 0 holds the whole result; the other ranks write nothing.
    if (quietRank()) {
        releaseRestErrHeader(window, acc);
        return 0;
    }

    const int P = acc->wVariousPulses, V = acc->wNoiseLevels;
    if (o.json) {
        ordered_json doc = {
            {"descriptor",
             {{"seriesType", acc->wSeriesType},
              {"seriesTypeName", acc->lpSeriesTypeName ? acc->lpSeriesTypeName : ""},
              {"taskType", acc->wTaskType},
              {"taskName", acc->lpTaskName ? acc->lpTaskName : ""},
              {"makingEnergy", acc->wMakingEnergy},
              {"processingEnergy", acc->wProcessingEnergy},
              {"length", s.dwSeriesSize},
              {"tmin", s.wTmin},
              {"tmax", s.wTmax},
              {"impulseSize", s.wImpulseSize}}},
            {"pulses", std::vector<int16_t>(acc->wPulseValues, acc->wPulseValues + P)},
            {"noiseLevels", std::vector<int16_t>(acc->lpNoiseLevels, acc->lpNoiseLevels + V)},
            {"repeats", acc->repeats},
            {"errors", matrix(acc->lpErrors, V, P)},
            {"detectErrors", matrix(acc->lpDetectErrors, V, P)},
            {"recognErrors", matrix(acc->lpRecognErrors, V, P)},
            {"startTime", isoTime(simulationStartTime)},
            {"endTime", isoTime(simulationNowTime)}};
        out << formatJson(doc);
    }
    if (!o.csv.empty()) {
      // Written under a temporary name and renamed once complete.
      const bool written = writeThenRename(o.csv, [&](const std::string& temporary) {
        std::ofstream csv(temporary);
        csv << "noise_level,pulses,restoring_error,detection_error,recognition_errors\n";
        for (int k = 0; k < V; ++k)
            for (int j = 0; j < P; ++j)
                csv << acc->lpNoiseLevels[k] << ',' << acc->wPulseValues[j] << ',' << acc->lpErrors[k][j] << ','
                    << acc->lpDetectErrors[k][j] << ',' << acc->lpRecognErrors[k][j] << '\n';
        csv.close();
        return static_cast<bool>(csv);
      });
        if (!written) {
            window.messageBox("Cannot write " + o.csv + ".", " simulate ", MessageIcon::Warning);
            releaseRestErrHeader(window, acc);
            return 1;
        }
    }
    int status = 0;
    if (!o.plot.empty()) {
        // The graphs as the window shows them after the run: the accumulator and the last
        // series move into a workbench in the simulation view.
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
        static constexpr int kinds[3][2] = {{0, 1}, {2, 3}, {4, 5}};
        const int column = o.view == 2 ? 1 : 0;
        v.simGraphKind = o.graph == 3 && o.bounds ? (column ? 13 : 12) : kinds[std::clamp(o.graph, 1, 3) - 1][column];
        v.lpRestErrorHeader = acc;
        v.lpSeriesHeader = s.lpSeriesHeader;
        s.lpSeriesHeader = nullptr;
        acc = nullptr;
        const SnapshotImage image = renderWorkbench(view, o.width, o.height);
        const bool known = o.plot.ends_with(".png") || o.plot.ends_with(".pcx") || o.plot.ends_with(".bmp");
        if (!known ? !saveImage(window, o.plot, image)  // refused by its name, nothing written
                   : !writeThenRename(o.plot, [&](const std::string& temporary) {
                         return saveImage(window, temporary, image) != 0;
                     }))
            status = 1;
    }
    releaseRestErrHeader(window, acc);
    return status;
}
