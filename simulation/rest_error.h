#pragma once

#include <cstdint>
#include <ctime>
#include <memory>

#include "model/message_sink.h"

/// The error accumulator of a statistical simulation: a grid of pulse counts (columns) by noise
/// levels (rows), the number of simulated series per cell, a descriptor of what was simulated
/// and six equally shaped matrices of averaged error figures.
///
/// All six matrices are indexed [row = noise level][column = pulse count]: lpErrors[k][j]
/// belongs to the noise level lpNoiseLevels[k] and the pulse count wPulseValues[j]. Only the
/// first wNoiseLevels rows and wVariousPulses columns are in use.
///
/// Storage: three blocks owned by the record, made together and always of one shape, with
/// P = wReservedPulses and L = wReservedLevels:
/// - `axisBlock`: L + P values; lpNoiseLevels points to its start, wPulseValues L values on.
/// - `rowBlock`: 6 * L row pointers; the six row tables are consecutive runs of L pointers, in
///   field order (lpErrors first, lpReservedErrors3 last).
/// - `dataBlock`: 6 * P * L integers; matrix m (0..5, field order) starts at m * P * L and its
///   row i at P * i further on, so every row holds exactly P integers and no two rows overlap.
/// The lp...Name texts are constants, never owned.
struct RestErrorHeader {
    uint16_t wReservedPulses = 0;    ///< pulse counts (columns) the blocks can hold
    uint16_t wVariousPulses = 0;     ///< pulse counts in use, at most wReservedPulses
    uint16_t wReservedLevels = 0;    ///< noise levels (rows) the blocks can hold
    uint16_t wNoiseLevels = 0;       ///< noise levels in use, at most wReservedLevels
    int32_t repeats = 0;             ///< series simulated per cell; meaningful up to 65535
    int16_t* wPulseValues = nullptr;  ///< per column: the number of pulses in the series
    int16_t* lpNoiseLevels = nullptr; ///< per row: standard deviation of the added noise
    int32_t** lpErrors = nullptr;          ///< restoring error: mean over the repeats of the
                                           ///< squared distance between pure and restored series
    int32_t** lpDetectErrors = nullptr;    ///< detection error: summed over the repeats, the mean
                                           ///< squared position error per pulse
    int32_t** lpReservedErrors1 = nullptr; ///< always 0
    int32_t** lpRecognErrors = nullptr;    ///< tuple misrecognitions among the repeats
    int32_t** lpReservedErrors2 = nullptr; ///< always 0
    int32_t** lpReservedErrors3 = nullptr; ///< always 0
    uint16_t wDescriptorCount = 0;   ///< 2 once the descriptor below is filled
    uint16_t wSeriesType = 0;        ///< series-type code of the simulated series
    uint16_t wTaskType = 0;          ///< task-type code of the simulated processing
    const char* lpTaskName = nullptr;       ///< name of the task, or null for an unnamed code
    const char* lpSeriesTypeName = nullptr; ///< name of the series type, or null
    uint16_t wMakingEnergy = 0;      ///< saved energy the series were made with, percent
    uint16_t wProcessingEnergy = 0;  ///< saved energy the processing assumed, percent
    uint16_t ifComplete = 0;         ///< 0 after initRestErrHeader, 1 once a simulation ran through
    std::time_t startTime = 0;       ///< calendar time (seconds) the simulation's first cell began
    std::time_t endTime = 0;         ///< calendar time it ended (or was cancelled)

    std::unique_ptr<int16_t[]> axisBlock;
    std::unique_ptr<int32_t*[]> rowBlock;
    std::unique_ptr<int32_t[]> dataBlock;
};

/// Shapes the accumulator for a grid of `pulseCount` columns by `levelCount` rows and returns
/// it: a new zeroed header when `header` is null, otherwise `header` itself, reusing its blocks
/// when they are large enough (P * L and P + L within the capacities' product and sum, and L
/// within the level capacity) and replacing all three by blocks of exactly P by L otherwise.
/// Sets wVariousPulses, wNoiseLevels and repeats and clears both axes and all six matrices; the
/// descriptor and ifComplete are kept.
///
/// Because only the product and the sum are compared, a kept header may have fewer columns than
/// `pulseCount` (10 x 5 asked for 11 x 4); initRestErrHeader then refuses the grid.
///
/// After a message captioned " getRestErrHeader ":
/// - a grid of fewer than 1 or more than 65535 pulse counts or noise levels returns `header`
///   exactly as it was (null when none was given): nothing is allocated;
/// - a failed allocation returns null: `header` and all its blocks are released.
std::unique_ptr<RestErrorHeader> getRestErrHeader(MessageSink& messages, int32_t pulseCount,
                                                  int32_t levelCount, int32_t repeats,
                                                  std::unique_ptr<RestErrorHeader> header);

/// Frees the three blocks and the record; null is accepted. Returns 1.
int releaseRestErrHeader(MessageSink& messages, std::unique_ptr<RestErrorHeader> header);

/// Fills the axes of a shaped accumulator: wPulseValues[i] = firstPulses + pulsesStep * i for
/// i < pulseCount and lpNoiseLevels[k] = firstLevel + levelStep * k for k < levelCount, each
/// kept to 16 bits; sets wVariousPulses, wNoiseLevels, repeats, ifComplete = 0 and clears the
/// used cells of lpErrors (the other matrices stay as getRestErrHeader cleared them).
/// Returns 1, or 0 after a message captioned " initRestErrHeader " with the header unchanged:
/// no header, more pulse counts or levels than reserved, or fewer than 1 pulse count, level or
/// repeat.
int initRestErrHeader(MessageSink& messages, int32_t pulseCount, int32_t firstPulses,
                      int32_t pulsesStep, int32_t levelCount, int32_t firstLevel,
                      int32_t levelStep, int32_t repeats, RestErrorHeader* header);

/// Fills the descriptor: wDescriptorCount = 2, the series and task codes with their names (null
/// for codes without one) and the two energy levels. Returns 1, or 0 with
/// "Не определен lpErrorHeader!" for a null header.
int addInitRestErrHeader(MessageSink& messages, uint16_t seriesType, uint16_t taskType,
                         uint16_t makingEnergy, uint16_t processingEnergy,
                         RestErrorHeader* header);
