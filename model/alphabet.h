#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "model/message_sink.h"

/// One etalon (reference pulse). Samples are signed 16-bit amplitudes; the energy of a stretch is
/// the sum of the squares of its samples.
struct PulseHeader {
    uint16_t wAllocatedSize = 0;       ///< samples allocated in lpData
    uint16_t wSize = 0;                ///< samples in use (the etalon length)
    uint16_t wNumber = 0;              ///< 1-based number: position in the alphabet plus one
    std::unique_ptr<int16_t[]> lpData; ///< the samples, owned; null when not allocated
};

/// Room for etalons in the alphabet; `wAlphabetSize` never exceeds it.
inline constexpr int alphabetCapacity = 20;

/// The alphabet: entry k-1 is etalon number k.
using Alphabet = std::array<PulseHeader, alphabetCapacity>;

/// Level of the constant etalons 1 and 2; it does not follow the amplitude parameter.
inline constexpr int16_t alphabetLevel = 60;

/// Shortest etalon the envelope shapes are defined for (rise >= 1 and n > rise).
inline constexpr int minImpulseSize = 6;

/// Half a period of a sine: the phase starts at 0 and grows by pi/(n+1) before each sample;
/// sample = trunc(sin(phase) * amplitude). Writes n samples.
void halfSineWave(int amplitude, int n, int16_t* out);

/// One full sine period, positive half first: as halfSineWave with the step 2pi/(n+1).
void sineWave(int amplitude, int n, int16_t* out);

/// A carrier of `periods` periods under a rise-then-decay envelope:
/// e(i) = 1 - exp(-8 i / rise) for i < rise, exp(-4 (i - rise) / (n - rise)) after;
/// sample = trunc(sin(phase) * (amplitude * e(i))), phase from 0, grown by periods*2pi/n after
/// each sample. Needs 1 <= rise < n.
void burstWave(int amplitude, int rise, int periods, int n, int16_t* out);

/// The envelope of burstWave without the carrier: sample = trunc(amplitude * e(i)).
void envelopeWave(int amplitude, int rise, int n, int16_t* out);

/// out[i] = -source[i] for i < n.
void negatedCopy(int n, const int16_t* source, int16_t* out);

/// Builds the first `wAlphabetSize` etalons of `alphabet`, each `wImpulseSize` samples long:
/// 1 constant, 3 half sine, 5 sine, 7 burst, 9 envelope, the even numbers up to 10 their
/// negations, 11 and up random (drawn from `seed`, the caller's `SeedCells::alphabetSeed`, which
/// every random sample advances).
/// Reuses buffers large enough, frees smaller ones first (warning once).
/// Returns 1 on success. Returns 0 with a message and the alphabet untouched when the size
/// exceeds the capacity of 20, the etalon length is below 6, or the amplitude would overflow the
/// random generator; returns 0 with a message and the etalons released when memory runs out.
int buildAlphabet(MessageSink& messages, int16_t wAmplitude, uint16_t wAlphabetSize,
                  uint16_t wImpulseSize, Alphabet& alphabet, int16_t& seed);

/// Frees the samples of the first `wAlphabetSize` etalons and clears their pointers.
void releaseAlphabet(uint16_t wAlphabetSize, Alphabet& alphabet);
