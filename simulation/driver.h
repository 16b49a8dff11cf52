#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>

#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/series.h"
#include "simulation/rest_error.h"

/// How a simulation runs besides its parameters.
struct SimulationControl {
    int threads = 0;  ///< processing threads including the caller's; 0 = every core
    /// Called on the calling thread after every grid cell with (cells done, cells in all).
    std::function<void(int done, int total)> progress;
    /// When it becomes true the run stops soon, between two series of the cell in progress,
    /// and returns 0.
    const std::atomic<bool>* cancel = nullptr;
    /// A share of the grid: only cells firstCell .. endCell - 1 run (cell c is pulse count
    /// c / V, noise level c % V, V noise levels), the caller having moved the cells it passes to
    /// their state at firstCell (see simulation/shard.h). endCell < 0 means the end of the grid.
    /// Progress then counts the share's cells; the other cells of the accumulator stay 0.
    int firstCell = 0;
    int endCell = -1;
    /// Called on the calling thread with every cell's exact sums once the cell is stored: R the
    /// summed restoring errors, D the summed 128-fold position errors, M the misses.
    std::function<void(int cell, int64_t R, int64_t D, int32_t M)> cellSums;
};

/// Parameters the driver reads from the settings besides its arguments.
struct SimulationSettings {
    int16_t wAmplitude = 128;
    uint16_t subsetProceeding = 1;
};

/// The statistical simulation: for every pulse count K (column j) and noise level σ (row k) of
/// the accumulator, `repeats` series of K pulses are made with noise σ, processed by the routine
/// of the task and series type, and scored against their truth; the cell receives the rounded
/// mean restoring error, the summed per-pulse mean squared position error (times 1/128 of 128)
/// and the count of tuple misrecognitions.
///
/// Series making owns every random draw and runs in the one fixed order on the calling thread;
/// processing and scoring draw nothing and run on `control.threads` threads, each repeat on its
/// own copy of the series, and the exact integer sums are merged per cell, so the results are
/// the same for any thread count. `series` must be sized for the grid (getCutOffSeriesHeader
/// with the simulation's length and limits); it holds the last simulated series afterwards.
/// Every series is made from the caller's `seeds` and noised from `noiseSeed`, which the run
/// advances as one process making the grid's cells in order would.
///
/// The accumulator's startTime and endTime receive the calendar times of the run's first cell
/// and of its end (also of a cancel or a failure once cells ran).
///
/// Returns 1 with ifComplete set when the whole grid ran; 0 after a refusal or a cancel, with
/// ifComplete left 0. A step that fails during the run (a series that cannot be made or copied,
/// a routine that refuses a repeat) stops it with one message.
int statCutoffSighting(MessageSink& messages, RestErrorHeader* accumulator, uint16_t alphabetSize,
                       const Alphabet& alphabet, uint16_t n, const uint16_t* requiredList,
                       uint16_t seriesType, uint16_t taskType, uint16_t makingEnergy,
                       uint16_t processingEnergy, SeriesHeader* series, int16_t& noiseSeed,
                       SeedCells& seeds, const SimulationSettings& settings,
                       const SimulationControl& control = {});

/// Everything statCutoffSighting checks before it runs, callable beforehand with the same
/// arguments: the accumulator's grid, the required list, the task against the series type, the
/// series limits and pulse counts, the noise levels, and for a tuple series its tuple and (task
/// 40) the stored tuples, every etalon of them in the alphabet. Returns 1, or 0 after one
/// message saying what is wrong.
int checkSimulation(MessageSink& messages, const RestErrorHeader* accumulator, uint16_t alphabetSize,
                    const Alphabet& alphabet, uint16_t n, const uint16_t* requiredList, uint16_t seriesType,
                    uint16_t taskType, const SeriesHeader* series);

/// The etalons (or the tuple) each repeat of a grid cell is made with. For task 2 all pulses
/// walk through the required list in n blocks of about u / n repeats; for task 4 the pulses'
/// etalons advance as an odometer over the required list whenever K × repeat reaches the next
/// step; for task 40 the stored tuples take turns in blocks of about u / T repeats; other tasks
/// keep requiredList[0] for every pulse.
struct RepeatSchedule {
    /// Sets up a cell: the step B of the task, every pulse on requiredList[0], tuple 1.
    /// `counters` and `sequence` hold at least K entries.
    RepeatSchedule(uint16_t taskType, const uint16_t* requiredList, int32_t n, int32_t u, int32_t K, int32_t T,
                   uint16_t* counters, uint16_t* sequence);
    /// Moves to repeat l (called for l = 0, 1, ... in order). Returns true when the tuple changed.
    bool advance(int32_t l);

    uint16_t taskType;
    const uint16_t* requiredList;
    int32_t n, K, T;
    int64_t B;  ///< the step
    int64_t E;  ///< where the next change happens
    int32_t e;  ///< 1-based tuple of task 40
    uint16_t* counters;
    uint16_t* sequence;
};

/// Squared distance between the pure series and the series restored from its found pulses
/// (restorationError of the found layout: 32-bit wrapping sums). With no found pulses it is the
/// energy of the pure series.
int32_t seriesRestorationError(const SeriesHeader& series);
