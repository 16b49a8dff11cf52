#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "model/series.h"
#include "simulation/rest_error.h"

/// Sharing a simulation's grid between processes that each run a contiguous range of cells and
/// give back the cells' exact sums (see SimulationControl::firstCell).
///
/// Every draw of a simulation is made by series making, in the one fixed order of the cells.
/// A series of K pulses and N samples always makes K + 1 draws from `positionSeed`, K from
/// `cutStartSeed`, K from `cutEndSeed` and 12 N from the noise cell, so those cells are moved
/// to any cell by jumping ahead; only the subset layout makes a number of draws that depends
/// on the draws themselves ("Multiple random"), and it is laid out again, without the series.

/// Moves the caller's `seeds` and `noiseSeed` from their state at the start of the grid to their
/// state at the start of cell `cell` (cell c is pulse count c / V, noise level c % V), exactly as
/// if statCutoffSighting had made cells 0 .. cell - 1 with these arguments and these cells; a
/// shard then runs its cells from what it is given back. The series' active subset (entries and
/// size) is left as it was. Returns 1; 0 with nothing moved when the arguments are ones the
/// driver refuses (it then says why).
int reachSimulationCell(const RestErrorHeader& accumulator, uint16_t n, const uint16_t* requiredList,
                        uint16_t taskType, SeriesHeader& series, int cell, SeedCells& seeds,
                        int16_t& noiseSeed);

/// Relative cost of a cell with noise level `sigma` (each series of N samples): making,
/// processing and scoring its series. Timed on this build, a run costs about the same for any
/// pulse count but half as much again once the noise is high (the chains find more rivals), so
/// the cost grows with the noise up to sigma 140 and not with K. Only ratios between cells matter.
double simulationCellCost(int16_t sigma, int32_t N);

/// Splits cells with the given costs into `parts` contiguous ranges of about equal cost:
/// returns parts + 1 boundaries, range r being cells [b[r], b[r + 1]). Every range holds at
/// least one cell when there are enough; with fewer cells than parts the first ranges are empty.
std::vector<int> shareCells(std::span<const double> cost, int parts);

/// Largest range cost over the mean range cost (1 = perfectly even) of a split by shareCells.
double shareImbalance(std::span<const double> cost, std::span<const int> bounds);
