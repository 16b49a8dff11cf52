#pragma once

// `pulsebench-cli simulate` as one rank of an `mpirun` job: the ranks share the grid's cells,
// rank 0 gathers every cell's exact sums and alone prints and writes; the result is the one a
// single process gives.

#include <cstdint>
#include <ostream>
#include <string>

#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/series.h"
#include "simulation/driver.h"
#include "simulation/rest_error.h"

struct SimulateOptions;
struct DetectOptions;
class StderrMessageSink;

/// `simulate`: under `mpirun`, starts MPI, runs runSimulate on every rank with the output of
/// ranks other than 0 discarded, and ends the job so that every rank returns the job's status;
/// a rank that fails ends the job with one message from rank 0. Without `mpirun`, runSimulate.
int runSimulateOnRanks(const SimulateOptions& options, std::ostream& out, StderrMessageSink& window);

/// `detect`: under `mpirun`, `--manifest FILE` with its recordings shared among the ranks,
/// largest first (shareRows), rank 0 alone printing and writing the one-process output; a rank
/// that fails or is stopped ends the job with one message from rank 0 and nothing written.
/// Without `mpirun`, runDetect.
int runDetectOnRanks(const DetectOptions& options, std::ostream& out, StderrMessageSink& window);

/// True on a rank other than 0 of an `mpirun` job: it computes its share and writes nothing.
bool quietRank();

/// The simulation of runSimulate: statCutoffSighting over the whole grid in one process, or
/// under `mpirun` over this rank's share, rank 0 merging the other ranks' sums into the
/// accumulator (complete on rank 0 only). Same arguments and result as statCutoffSighting.
int simulateOnRanks(MessageSink& window, RestErrorHeader* accumulator, uint16_t alphabetSize,
                    const Alphabet& alphabet, uint16_t n, const uint16_t* requiredList, uint16_t seriesType,
                    uint16_t taskType, uint16_t makingEnergy, uint16_t processingEnergy, SeriesHeader* series,
                    int16_t& noiseSeed, SeedCells& seeds, const SimulationSettings& settings,
                    const SimulationControl& control);

