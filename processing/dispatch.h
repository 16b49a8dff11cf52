#pragma once

#include <cstdint>
#include <span>

#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/series.h"
#include "processing/chains.h"

/// The eight processing routines, as chosen by task type and series type.
enum class Routine {
    detectPulsesUnfixed,
    detectPulsesFixed,
    recognizePulsesUnfixed,
    recognizePulsesFixed,
    detectTuplesUnfixed,
    detectTuplesFixed,
    recognizeTuplesUnfixed,
    recognizeTuplesFixed,
};

/// The routine for an effective task type (1, 2, 4, 36, 40, 64) and a series type:
///   task 2: recognizePulsesUnfixed on types 4 and 8, recognizePulsesFixed otherwise;
///   task 36: detectTuplesUnfixed on types 4, 8 and 40, detectTuplesFixed otherwise;
///   task 40: recognizeTuplesUnfixed on types 4, 8 and 40, recognizeTuplesFixed otherwise;
///   any other task: detectPulsesUnfixed on types 4 and 8, detectPulsesFixed otherwise.
Routine selectRoutine(uint16_t taskType, uint32_t seriesType);

/// The routine's name as it is written in the code.
const char* routineName(Routine routine);

/// What the routines take besides the alphabet, the chains header and the series.
struct ProcessingInput {
    std::span<const uint16_t> candidates;              ///< pulse routines: etalons tried, in order
    std::span<const int32_t> tuple;                    ///< tuple detection: the current subset
    std::span<const std::span<const int32_t>> tuples;  ///< tuple recognition: the stored subsets
    uint16_t mode = 1;                                 ///< tuple proceeding: 1 complete, 2 shifted
    uint16_t Tmin = 0;
    uint16_t Tmax = 0;
    uint16_t pct = 0;                                  ///< saved energy assumed by processing
    int* debugRepeat = nullptr;                        ///< diagnostic reports of the tuple routines
};

/// Runs `routine` and returns its answer: 1/0 for detection, the etalon number or -1 for pulse
/// recognition, the tuple number or 0 for tuple recognition.
int32_t runRoutine(Routine routine, MessageSink& messages, const Alphabet& alphabet,
                   const ProcessingInput& input, ChainsHeader* chains, SeriesHeader& series);
