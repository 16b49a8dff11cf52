// The window's statistical simulation: the series and ranges dialogs, the report, the run with
// progress and cancel, and the graphs shown when it completes.

#include <algorithm>
#include <optional>
#include <string>

#include "core/simulation_report.h"
#include "core/simulation_request.h"
#include "core/simulation_use_case.h"
#include "dialogs/dialogs.h"
#include "model/random.h"
#include "workbench/workbench.h"

namespace {
// The simulation ranges: the grid must have steps, pulse counts the series admits, repeats and
// noise levels the generator takes.
std::optional<DialogRefusal> simulationRangesRefusal(const Settings& s, const SeriesEnergyValues& series,
                                                     const SimulationRanges& r) {
    const char* caption = " Location Parameters";
    const int32_t increment = r.pulsesIncrement == 0 ? 1 : r.pulsesIncrement;
    const int32_t steps = pulseCountSteps(r.minPulses, r.maxPulses, r.pulsesIncrement);
    PulseBounds bounds{0, 0};
    if (series.tmin >= 1 && series.tmax >= series.tmin && series.tmax >= s.wImpulseSize &&
        series.seriesSize >= s.wImpulseSize)
        bounds = seriesPulseBounds(s.wImpulseSize, series.tmin, series.tmax, series.seriesSize);
    const int32_t last = r.minPulses + (steps - 1) * increment;
    // A reversed range is refused whatever the increment (an increment beyond the span would
    // otherwise make it one step).
    if (r.minPulses > r.maxPulses)
        return DialogRefusal{1016,
                             "\"Number of Pulses in Series\": \"from\" " + std::to_string(r.minPulses) +
                                 " is greater than \"to\" " + std::to_string(r.maxPulses) + ".",
                             caption};
    if (steps < 1)
        return DialogRefusal{1016,
                             "\"Number of Pulses in Series\": \"from\" " + std::to_string(r.minPulses) + " to " +
                                 std::to_string(r.maxPulses) + " with \"incr.\" " + std::to_string(increment) +
                                 " gives no step.",
                             caption};
    if (r.minPulses < bounds.wMinPulses || last > bounds.wMaxPulses)
        return DialogRefusal{r.minPulses < bounds.wMinPulses ? 1015 : 1016,
                             "\"Number of Pulses in Series\" must lie between " + std::to_string(bounds.wMinPulses) +
                                 " and " + std::to_string(bounds.wMaxPulses) + " for this series.",
                             caption};
    if (r.repeats < 1) return DialogRefusal{1021, "\"Number of Repeats\" must be at least 1.", caption};
    if (r.noiseSteps < 1) return DialogRefusal{1018, "\"Number of Steps in Simulation\" must be at least 1.", caption};
    if (r.noiseInitial + int64_t{r.noiseSteps - 1} * r.noiseIncrement > gaussSigmaLimit)
        return DialogRefusal{r.noiseInitial > gaussSigmaLimit ? 1019 : 1020,
                             "The noise levels must stay below " + std::to_string(gaussSigmaLimit + 1) + ".", caption};
    return std::nullopt;
}
}  // namespace


bool Workbench::simulationParameters() {
    Settings& s = settings;
    const std::optional<SeriesEnergyValues> series = seriesParameters();
    if (!series) return false;
    const PulseBounds range = seriesPulseBounds(s.wImpulseSize, series->tmin, series->tmax, series->seriesSize);
    if (s.resetSequence) {
        std::fill_n(s.lpEtalonSequence.begin(), std::min<size_t>(s.wMaxPulses, s.lpEtalonSequence.size()),
                    static_cast<uint16_t>(s.etalonNumber));
        s.resetSequence = 0;
    }
    // The ranges are checked before they are committed: the grid must have steps, repeats and
    // noise levels the generator takes.
    const auto check = [&s, &series](const SimulationRanges& r) { return simulationRangesRefusal(s, *series, r); };
    const std::optional<SimulationRanges> ranges =
        runSimulationRangesDialog(*shell_, s, range.wMinPulses, range.wMaxPulses, check);
    if (!ranges) return false;
    if (const auto refused = check(*ranges)) {
        shell_->messageBox(refused->text, refused->caption, MessageIcon::Warning);
        return false;
    }
    const int32_t increment = ranges->pulsesIncrement == 0 ? 1 : ranges->pulsesIncrement;
    const int32_t steps = pulseCountSteps(ranges->minPulses, ranges->maxPulses, ranges->pulsesIncrement);
    s.repeats = ranges->repeats;
    s.wNoiseInitial = ranges->noiseInitial;
    s.wNoiseSteps = ranges->noiseSteps;
    s.wNoiseIncrement = ranges->noiseIncrement;
    s.dwSeriesSizeBase = s.dwSeriesSize = series->seriesSize;
    s.wTmin = series->tmin;
    s.wTmax = series->tmax;
    s.wSavedEnergyCreate = series->savedEnergyCreate;
    s.wSavedEnergyProcess = series->savedEnergyProcess;
    s.wMinPulses = ranges->minPulses;
    s.wMaxPulses = ranges->maxPulses;
    s.wPulsesIncrement = static_cast<uint16_t>(increment);
    s.wPulsesSteps = static_cast<uint16_t>(steps);
    return true;
}

void Workbench::statisticalSimulation() {
    Settings& s = settings;
    s.wLostLevel = s.wLostLevelBase;
    s.wSavedEnergyCreate = s.wSavedEnergyCreateBase;
    s.wSavedEnergyProcess = s.wSavedEnergyProcessBase;
    if (!simulationParameters()) return;

    shell_->messageBox(simulationReport(s, s.wPulsesSteps), "getPulseEstAsRepeats", MessageIcon::None);

    // The series shown so far, put back when the run does not complete.
    RecordingMessageSink quiet;
    std::unique_ptr<SeriesHeader> shown;
    if (const SeriesHeader* h = s.lpSeriesHeader.get()) {
        shown = getCutOffSeriesHeader(quiet, h->wPulsesListSize, h->wImpulseSize, h->wTmin, h->wTmax,
                                      static_cast<uint32_t>(std::max(h->dwSeriesSize, 0)), nullptr);
        if (shown && !copySeriesBuild(*shown, *h)) shown.reset();
    }
    s.lpSeriesHeader = getCutOffSeriesHeader(*shell_, s.wAlphabetSize, s.wImpulseSize, s.wTmin, s.wTmax,
                                             s.dwSeriesSize, std::move(s.lpSeriesHeader));
    if (!s.lpSeriesHeader) {
        shell_->messageBox("Не могу выделить память для lpCutOffSeriesHeader!", " About getCutOffSeriesHeader ",
                           MessageIcon::Warning);
        return;
    }
    auto restoreShown = [&] {
        if (!shown) return;
        s.lpSeriesHeader = getCutOffSeriesHeader(quiet, shown->wPulsesListSize, shown->wImpulseSize, shown->wTmin,
                                                 shown->wTmax, static_cast<uint32_t>(shown->dwSeriesSize),
                                                 std::move(s.lpSeriesHeader));
        if (s.lpSeriesHeader) copySeriesBuild(*s.lpSeriesHeader, *shown);
    };
    // The run fills an accumulator of its own: the previous results stay until it completes.
    AccumulatorFailure failure = AccumulatorFailure::none;
    std::unique_ptr<RestErrorHeader> results = newSimulationAccumulator(s, *shell_, failure);
    if (!results) {
        shell_->messageBox(failure == AccumulatorFailure::allocation ? "Нет RestoreErrorHeader!"
                                                                     : "Ошибка initRestErrHeader!",
                           " About RestoreErrorHeader ", MessageIcon::None);
        restoreShown();
        return;
    }
    SimulationResult run;
    const int done = shell_->runWithProgress(
        " Statistical Simulation",
        [&](const std::function<void(int, int)>& progress, const std::atomic<bool>& cancel) {
            SimulationRequest request;
            request.progress = progress;
            request.cancel = &cancel;
            run = runSimulation(s, *shell_, results.get(), request);
            return run.complete ? 1 : 0;
        });
    if (done != 1 || !run.complete) {
        // A refused, failed or cancelled run: the previous results, series and view stay.
        results.reset();
        restoreShown();
        simulationCancelled = run.cancelled;
        updateStatus();
        return;
    }
    s.lpRestErrorHeader = std::move(results);
    simulationCancelled = false;
    lastSimulationSeconds = run.seconds();
    showSimulation();
}

void Workbench::showSimulation() {
    Settings& s = settings;
    if (!s.lpRestErrorHeader || !s.lpRestErrorHeader->ifComplete) return;
    s.wDisplayContent = 2;
    runGraphChoiceDialog(*shell_, s, s.wTaskTypeSel == TaskType::recognition);
    s.simGraphKind = simulationGraphKind(s.handlingCase, s.viewCase, s.boundsIncluded != 0);
    repaintView(true);
    invalidate(grown(layout.rcButtonColumn, 0, 0, 1, 1), true);
    s.dirtyPanelArea = 0;
    const struct {
        int32_t* flag;
        const Rect* box;
    } boxes[] = {{&s.dirtySeriesLength, &layout.rcSeriesLengthBox},
                 {&s.dirtyNoiseLevel, &layout.rcNoiseLevelBox},
                 {&s.dirtyLostLevel, &layout.rcLostLevelBox}};
    for (const auto& b : boxes)
        if (*b.flag) {
            invalidate(*b.box, true);
            *b.flag = 0;
        }
    s.viewMode = ViewMode::results;
}
