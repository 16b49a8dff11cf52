#include "core/simulation_request.h"

#include <algorithm>
#include <span>
#include <string>

#include "core/request_rules.h"
#include "core/simulation_use_case.h"
#include "core/startup_model.h"
#include "model/random.h"
#include "model/series.h"
#include "model/subsets.h"
#include "simulation/driver.h"

namespace {
constexpr const char* caption = " simulate ";

Refusal refusal(RequestField field, std::string after) {
    return Refusal{field, "", std::move(after)};
}

// The menu choices: series type and task, with the saved energy the series type brings, and the
// required list. False after a refusal.
bool applyChoices(const SimulationGridRequest& o, Settings& s, MessageSink& messages) {
    s.seriesType = static_cast<SeriesType>(o.type);
    s.wTaskTypeSel = static_cast<TaskType>(o.task);
    s.wTaskType = effectiveTaskType(s.wTaskTypeSel, s.seriesType);
    const bool cutoffs = isCutOffSeries(o.type);
    s.wSavedEnergyCreate = o.savedEnergyCreate.value_or(cutoffs ? s.wSavedEnergyCreate : 100);
    s.wSavedEnergyProcess = o.savedEnergyProcess.value_or(s.wSavedEnergyCreate);
    if (!o.candidates) return true;
    s.requiredFlags.fill(0);
    for (const uint16_t v : *o.candidates) {
        if (v < 1 || v > s.wAlphabetSize) {
            messages.messageBox("Etalon " + std::to_string(v) + " is not in the alphabet (1 to " +
                                    std::to_string(s.wAlphabetSize) + ").",
                                caption, MessageIcon::Warning);
            return false;
        }
        s.requiredFlags[v - 1] = 1;
    }
    rebuildRequiredList(s);
    return true;
}

// The energy and ranges dialogs' values, committed after the checks of the series they need.
// False after a refusal.
bool applyGrid(const SimulationGridRequest& o, Settings& s, MessageSink& messages) {
    s.dwSeriesSizeBase = s.dwSeriesSize = o.length.value_or(s.dwSeriesSize);
    s.wTmin = o.tmin.value_or(s.wTmin);
    s.wTmax = o.tmax.value_or(s.wTmax);
    if (!checkSeriesParameters(messages, caption, s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSize)) return false;
    const int32_t steps = pulseCountSteps(o.pulsesMin, o.pulsesMax, o.pulsesStep);
    s.wMinPulses = static_cast<uint16_t>(o.pulsesMin);
    s.wMaxPulses = static_cast<uint16_t>(o.pulsesMax);
    s.wPulsesIncrement = static_cast<uint16_t>(o.pulsesStep == 0 ? 1 : o.pulsesStep);
    s.wPulsesSteps = static_cast<uint16_t>(steps);
    s.wNoiseInitial = static_cast<uint16_t>(o.noiseFirst);
    s.wNoiseSteps = static_cast<uint16_t>(o.noiseSteps);
    s.wNoiseIncrement = static_cast<uint16_t>(o.noiseIncrement);
    s.repeats = static_cast<uint16_t>(o.repeats);
    s.subsetProceeding = o.proceeding;

    const PulseBounds bounds = seriesPulseBounds(s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSize);
    const int64_t lastPulses = o.pulsesMin + (steps - 1) * int64_t{s.wPulsesIncrement};
    if (o.pulsesMin < bounds.wMinPulses || lastPulses > bounds.wMaxPulses) {
        messages.messageBox("A series of " + std::to_string(s.dwSeriesSize) + " samples holds " +
                                std::to_string(bounds.wMinPulses) + " to " + std::to_string(bounds.wMaxPulses) +
                                " pulses; the grid asks for " + std::to_string(o.pulsesMin) + " to " +
                                std::to_string(lastPulses) + ".",
                            caption, MessageIcon::Warning);
        return false;
    }
    return true;
}

// The series record sized for the grid, with the tuple of a tuple series and, for tuple
// recognition, the stored tuples. False after a refusal.
bool prepareSimulatedSeries(const SimulationGridRequest& o, Settings& s, MessageSink& messages) {
    s.lpSeriesHeader = getCutOffSeriesHeader(messages, s.wAlphabetSize, s.wImpulseSize, s.wTmin, s.wTmax,
                                             s.dwSeriesSize, std::move(s.lpSeriesHeader));
    if (!s.lpSeriesHeader) return false;
    RecordingMessageSink laid;
    bool fine = true;
    if (!o.tuples.empty()) {
        size_t longest = 1;
        std::vector<int32_t> sizes;
        std::vector<std::span<const int32_t>> lists;
        for (const auto& t : o.tuples) {
            longest = std::max(longest, t.size());
            sizes.push_back(static_cast<int32_t>(t.size()));
            lists.emplace_back(t);
        }
        fine = addSomeSelectedSubsetToSeriesHeader(laid, sizes, lists,
                                                   static_cast<int>(std::max<size_t>(10, o.tuples.size())),
                                                   static_cast<int>(longest), 1, s.subsetEmployment,
                                                   s.subsetInitPosition, s.lpSeriesHeader.get()) != 0;
    }
    if (fine && !o.tuple.empty())
        fine = setSelectedSubset(laid, o.tuple, s.subsetEmployment, s.subsetInitPosition, s.lpSeriesHeader.get()) != 0;
    for (const auto& m : laid.messages) messages.messageBox(m.text, m.caption, m.icon);
    return fine && laid.messages.empty();
}
}  // namespace

int32_t pulseCountSteps(int64_t minPulses, int64_t maxPulses, int64_t increment) {
    if (increment == 0) increment = 1;
    const int64_t steps = (maxPulses - minPulses) / increment + 1;
    return static_cast<int32_t>(std::clamp<int64_t>(steps, -1, 65536));
}

std::optional<Refusal> checkSimulationRequest(const SimulationGridRequest& o) {
    if (auto refused = taskRefusal(RequestField::task, o.task)) return refused;
    if (auto refused = seriesTypeRefusal(RequestField::type, o.type)) return refused;
    if (auto refused = percentRefusal(RequestField::savedEnergyCreate, o.savedEnergyCreate)) return refused;
    if (auto refused = percentRefusal(RequestField::savedEnergyProcess, o.savedEnergyProcess)) return refused;
    if (auto refused = proceedingRefusal(o.proceeding)) return refused;
    if (auto refused = candidatesRefusal(o.candidates)) return refused;
    if (auto refused = tuplesRefusal(o.tuples)) return refused;

    const int64_t lastLevel = o.noiseFirst + (o.noiseSteps - 1) * o.noiseIncrement;
    if (o.pulsesMin < 1 || o.pulsesMin > 65535 || o.pulsesMax < 1 || o.pulsesMax > 65535 || o.pulsesStep < 0 ||
        o.pulsesStep > 65535 || o.noiseFirst < 0 || o.noiseSteps < 1 || o.noiseSteps > 65535 ||
        o.noiseIncrement < 0 || o.noiseIncrement > 65535 || o.repeats < 1 || o.repeats > 65535 ||
        lastLevel > gaussSigmaLimit)
        return refusal(RequestField::none,
                       "The grid lies outside what a simulation takes: pulse counts 1 to 65535 with a step of 0 to "
                       "65535, 1 to 65535 noise levels from 0 to " +
                           std::to_string(gaussSigmaLimit) + ", 1 to 65535 repeats.");
    const int32_t steps = pulseCountSteps(o.pulsesMin, o.pulsesMax, o.pulsesStep);
    // A grid that cannot run is refused before anything is reported.
    if (steps < 1)
        return refusal(RequestField::none,
                       "The grid is empty: it needs at least one pulse count, one noise level and one repeat.");
    // The results of every cell are held in memory (six 32-bit matrices): a grid beyond 1 GB is
    // refused rather than left to fail in the middle of its allocation.
    const int64_t cells = int64_t{steps} * o.noiseSteps;
    if (cells * 24 > (int64_t{1} << 30))
        return refusal(RequestField::none, "The grid of " + std::to_string(steps) + " pulse counts by " +
                                               std::to_string(o.noiseSteps) + " noise levels needs " +
                                               std::to_string(cells * 24 >> 20) + " MB for its results; at most 1024 MB.");
    return std::nullopt;
}

std::unique_ptr<RestErrorHeader> prepareSimulation(const SimulationGridRequest& o, Settings& s,
                                                   MessageSink& messages, const SeedCells& seeds) {
    s.seeds = seeds;
    deriveStartupSettings(s);
    RecordingMessageSink startup;
    prepareStartupModel(s, startup);
    for (const auto& m : startup.messages) messages.messageBox(m.text, m.caption, m.icon);
    if (!startup.messages.empty() || !applyChoices(o, s, messages) || !applyGrid(o, s, messages) ||
        !prepareSimulatedSeries(o, s, messages))
        return nullptr;
    AccumulatorFailure failure = AccumulatorFailure::none;
    RecordingMessageSink made;
    std::unique_ptr<RestErrorHeader> accumulator = newSimulationAccumulator(s, made, failure);
    for (const auto& m : made.messages) messages.messageBox(m.text, m.caption, m.icon);
    if (!accumulator || !made.messages.empty()) return nullptr;
    // Everything the driver would refuse, refused before the run.
    RecordingMessageSink driver;
    const int fine = checkSimulation(driver, accumulator.get(), s.wAlphabetSize, s.alphabet, s.wRequiredCount,
                                     s.lpRequiredList.get(), code(s.seriesType), code(s.wTaskType),
                                     s.lpSeriesHeader.get());
    for (const auto& m : driver.messages) messages.messageBox(m.text, m.caption, m.icon);
    if (!fine || !driver.messages.empty()) return nullptr;
    return accumulator;
}
