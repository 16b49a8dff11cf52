#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>

#include "core/settings.h"
#include "model/message_sink.h"
#include "simulation/driver.h"

// The statistical simulation as both front ends run it: the accumulator for the settings' grid,
// then the run with progress and cancel.

/// Why no accumulator could be made for the settings' grid.
enum class AccumulatorFailure { none, allocation, grid };

/// A new accumulator for the settings' grid (wPulsesSteps pulse counts from wMinPulses by
/// wPulsesIncrement, wNoiseSteps noise levels from wNoiseInitial by wNoiseIncrement, `repeats`
/// repeats), owned by the caller. Null when it cannot be made (the engine has said why through
/// `messages`), with `failure` saying which step failed.
std::unique_ptr<RestErrorHeader> newSimulationAccumulator(const Settings& s, MessageSink& messages, AccumulatorFailure& failure);

/// How to run: threads, progress and cancel as SimulationControl takes them, and the run itself.
struct SimulationRequest {
    using Runner = int (*)(MessageSink&, RestErrorHeader*, uint16_t, const Alphabet&, uint16_t, const uint16_t*,
                           uint16_t, uint16_t, uint16_t, uint16_t, SeriesHeader*, int16_t&, SeedCells&,
                           const SimulationSettings&, const SimulationControl&);
    int threads = 0;  ///< processing threads; 0 = every core
    std::function<void(int done, int total)> progress;
    const std::atomic<bool>* cancel = nullptr;
    Runner run = statCutoffSighting;  ///< statCutoffSighting, or a runner that shares the grid out
};

/// What a run gave. The accumulator holds the cells; its times are repeated here.
struct SimulationResult {
    bool complete = false;   ///< the whole grid ran and the accumulator is complete
    bool cancelled = false;  ///< the cancel flag was set when the run returned
    std::time_t startTime = 0;
    std::time_t endTime = 0;
    long long seconds() const { return static_cast<long long>(endTime - startTime); }
};

/// Runs the settings' simulation (task, series type, required list, saved-energy levels,
/// amplitude, tuple proceeding) into `accumulator` on the settings' series record, making the
/// series from the settings' `seeds` and noise cell and advancing both.
SimulationResult runSimulation(Settings& s, MessageSink& messages, RestErrorHeader* accumulator,
                               const SimulationRequest& request);
