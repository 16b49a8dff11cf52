#pragma once

#include <cstdint>
#include <span>

#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/series.h"
#include "processing/chains.h"

// The eight processing routines. Each reads the series' noisy samples and writes its answer into
// the series' found fields and, where a chains header is given, its ranked chains.
//
// Common arguments: `list` holds 1-based candidate etalon numbers in the order they are tried;
// Tmin/Tmax bound the distance between neighbouring pulse starts; pct is the saved-energy
// percentage assumed by processing (a cut must keep more than that share of its etalon's
// energy). Tuples are 1-based etalon numbers; `mode` is 1 for complete tuples, anything else
// allows shifted ones.
//
// Refusals: an empty list or tuple, an etalon number outside the built alphabet, limits that
// do not fit the series, a chains header with rows shorter than the chain needs, and (known
// pulse count) position ranges that do not chain are reported through `messages` and return the
// routine's failure value with nothing written.
//
// The unknown-count tuple routines show their diagnostic reports while *debugRepeat is set and
// clear it at their end.

/// Detection, unknown pulse count (series types 4, 8). Returns 1, or 0 on failure.
int detectPulsesUnfixed(MessageSink& messages, const Alphabet& alphabet, std::span<const uint16_t> list,
                        uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                        SeriesHeader& series);

/// Detection, known pulse count wImpulseQuantity, pulse j within [lpPositionMin[j],
/// lpPositionMax[j]]. Returns 1, or 0 on failure.
int detectPulsesFixed(MessageSink& messages, const Alphabet& alphabet, std::span<const uint16_t> list,
                      uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                      SeriesHeader& series);

/// Recognition of the one etalon of the series, unknown pulse count. Needs a chains header.
/// Returns the recognised etalon number, or -1.
int16_t recognizePulsesUnfixed(MessageSink& messages, const Alphabet& alphabet,
                               std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                               uint16_t pct, ChainsHeader* chains, SeriesHeader& series);

/// Recognition of the one etalon of the series, known pulse count. Returns the recognised
/// etalon number, or -1.
int32_t recognizePulsesFixed(MessageSink& messages, const Alphabet& alphabet,
                             std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                             uint16_t pct, ChainsHeader* chains, SeriesHeader& series);

/// Detection of a cyclically repeated tuple, unknown pulse count; the chain starts with member
/// 0. Writes the groups too. Returns 1, or 0 on failure.
int detectTuplesUnfixed(MessageSink& messages, const Alphabet& alphabet, std::span<const int32_t> tuple,
                        uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct,
                        ChainsHeader* chains, SeriesHeader& series, int* debugRepeat = nullptr);

/// Detection of a cyclically repeated tuple, known pulse count, tried from every allowed
/// starting member. Returns 1, or 0 on failure.
int detectTuplesFixed(MessageSink& messages, const Alphabet& alphabet, std::span<const int32_t> tuple,
                      uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct,
                      ChainsHeader* chains, SeriesHeader& series);

/// Recognition of which stored tuple built the series, unknown pulse count. Returns the 1-based
/// tuple number, or 0.
int32_t recognizeTuplesUnfixed(MessageSink& messages, const Alphabet& alphabet,
                               std::span<const std::span<const int32_t>> tuples, uint16_t mode,
                               uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                               SeriesHeader& series, int* debugRepeat = nullptr);

/// Recognition of which stored tuple built the series, known pulse count. Returns the 1-based
/// tuple number, or 0.
int32_t recognizeTuplesFixed(MessageSink& messages, const Alphabet& alphabet,
                             std::span<const std::span<const int32_t>> tuples, uint16_t mode,
                             uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                             SeriesHeader& series);

/// Groups of a chain of `pulses` pulses whose first pulse is member s of a tuple of m: group 0
/// covers pulses 1..min(m - s, P), each further group up to m pulses, the last ending at P.
/// Writes 1-based first and last pulse indices; returns the number of groups.
int formGroups(int pulses, int m, int s, int16_t* firstOut, int16_t* lastOut);
