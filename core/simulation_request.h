#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/refusal.h"
#include "core/settings.h"
#include "model/codes.h"
#include "model/message_sink.h"
#include "simulation/rest_error.h"

// The statistical simulation as the batch tool and the Python module ask for it: a grid of
// pulse counts and noise levels over the workbench's start-up state. The run itself is
// runSimulation (simulation_use_case.h), with the runner the caller chooses.

/// A request for a simulation: an absent field keeps the workbench's start-up value. The grid's
/// parts are held in full width so that the check sees them before anything narrows them.
struct SimulationGridRequest {
    uint16_t task = code(TaskType::jointDetection);    ///< a selectable task's code
    uint32_t type = code(SeriesType::unfixedCutoffs);  ///< a series type's code
    std::optional<uint32_t> length;
    std::optional<uint16_t> tmin;
    std::optional<uint16_t> tmax;
    int64_t pulsesMin = 6, pulsesMax = 30, pulsesStep = 1;       ///< step 0 is taken as 1
    int64_t noiseFirst = 0, noiseSteps = 29, noiseIncrement = 5;
    int64_t repeats = 100;
    std::optional<uint16_t> savedEnergyCreate;   ///< absent: 75 for cut-off types, 100 otherwise
    std::optional<uint16_t> savedEnergyProcess;  ///< absent: as making
    std::optional<std::vector<uint16_t>> candidates;  ///< the required etalons; absent: all
    std::vector<int32_t> tuple;                       ///< the tuple a tuple series is laid from
    std::vector<std::vector<int32_t>> tuples;         ///< the stored tuples of tuple recognition
    uint16_t proceeding = 1;                          ///< 1 complete, 2 probably shifted complete
};

/// The number of pulse counts from `minPulses` to `maxPulses` by `increment` (0 taken as 1);
/// 0 or less when the range is reversed. The window's ranges dialog and the batch tool share it.
int32_t pulseCountSteps(int64_t minPulses, int64_t maxPulses, int64_t increment);

/// The request's own rules: a selectable task and a series type, saved energies of 0..100,
/// proceeding 1 or 2, the candidates not empty when given and no stored tuple empty, then the
/// grid: pulse counts 1 to 65535 with a step of 0 to 65535, 1 to 65535 noise levels from 0 whose
/// last stays within the noise generator's limit, 1 to 65535 repeats, at least one step, and
/// results of at most 1 GB.
std::optional<Refusal> checkSimulationRequest(const SimulationGridRequest& request);

/// The settings of a simulation: the start-up state with the request's choices and grid
/// committed, the series record sized for the grid with the tuple (and the stored tuples) laid
/// in, and the accumulator of the grid's results. The request must have passed
/// checkSimulationRequest; refusals of the model (the series parameters, pulse counts the series
/// cannot hold, etalons outside the alphabet, everything the driver would refuse) go to
/// `messages` captioned " simulate ". `s` is a fresh record; its streams become `seeds` (the
/// start-up streams unless the caller carries its own on), from which the run then draws. Null
/// after a refusal.
std::unique_ptr<RestErrorHeader> prepareSimulation(const SimulationGridRequest& request, Settings& s,
                                                   MessageSink& messages, const SeedCells& seeds = SeedCells{});
