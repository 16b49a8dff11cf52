#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/random.h"

/// One series: pure and noisy samples, the true layout of every pulse, the layout found by
/// processing, the etalon pointer list, the active selected subset and the stored subsets.
///
/// Ownership: one block (`block`) holds, in this order, lpPureData and lpNoisyData
/// (dwAllocatedSize entries each) and thirteen per-pulse arrays of wAllocatedPulses entries
/// (lpTrueEtalon, lpFoundEtalon, lpTruePosition, lpFoundPosition, lpPositionMin, lpPositionMax,
/// lpTrueCutStart, lpTrueCutEnd, lpFoundCutStart, lpFoundCutEnd, lpSelectedSubset,
/// lpFoundGroupPosition, lpFoundGroupValue); the lp... pointers are views into it. The pulse
/// list and the stored subsets are separate allocations. The etalons the list points to belong
/// to the alphabet. Pulse j (0-based, in order of position) uses entry j of every per-pulse array.
struct SeriesHeader {
    uint32_t dwAllocatedSize = 0;  ///< samples allocated for each of the pure and noisy series
    int32_t dwSeriesSize = 0;      ///< N, samples in the series
    uint16_t wTmin = 0;            ///< minimum distance between starts of neighbouring pulses
    uint16_t wTmax = 0;            ///< maximum distance
    int16_t* lpPureData = nullptr;  ///< the series without noise
    int16_t* lpNoisyData = nullptr; ///< the series with noise; processing reads this one
    uint16_t wImpulseSize = 0;     ///< L, etalon length of the build
    uint16_t wImpulseQuantity = 0; ///< K, pulses placed
    uint16_t wMaxPulses = 0;       ///< (N + wTmin - L) / wTmin
    uint16_t wMinPulses = 0;       ///< (N + L - 1) / wTmax, at least 1
    int16_t wNoiseSigma = 0;       ///< standard deviation of the noise in lpNoisyData
    int16_t wAmplitude = 0;        ///< amplitude parameter of the build
    int16_t* lpTruePosition = nullptr;  ///< start sample of pulse j
    int16_t* lpFoundPosition = nullptr; ///< start found by processing; -1 after a build
    int16_t* lpPositionMin = nullptr;   ///< lower bound of the start from the global constraints
    int16_t* lpPositionMax = nullptr;   ///< upper bound of the start from the global constraints
    const PulseHeader* lpFirstEtalon = nullptr; ///< etalon of pulse 0
    int16_t* lpTrueEtalon = nullptr;    ///< 1-based etalon number of pulse j
    int16_t* lpFoundEtalon = nullptr;   ///< found by processing; 0 after a build
    uint16_t wPulsesListCapacity = 0;   ///< entries allocated in lpPulsesList
    uint16_t wPulsesListSize = 0;       ///< entries in use (the alphabet size)
    uint16_t wAllocatedPulses = 0;      ///< entries allocated in each per-pulse array
    std::unique_ptr<const PulseHeader*[]> lpPulsesList; ///< entry i points to alphabet[i]
    uint16_t wFoundPulses = 0;          ///< pulses found by processing
    int16_t wCutStartMin = 0;           ///< 0, the smallest first kept sample
    int16_t wCutEndMax = 0;             ///< L - 1, the largest last kept sample
    int16_t* lpTrueCutStart = nullptr;  ///< first etalon sample written for pulse j
    int16_t* lpTrueCutEnd = nullptr;    ///< last etalon sample written for pulse j
    int16_t* lpFoundCutStart = nullptr; ///< found by processing; 0 after a build
    int16_t* lpFoundCutEnd = nullptr;   ///< found by processing; 0 after a build
    int16_t* lpSelectedSubset = nullptr; ///< the active selected subset (etalon numbers)
    uint16_t wSelectedSubsetSize = 0;   ///< its length; 0 = no active subset
    uint16_t wSubsetMode = 0;           ///< how it is laid into the sequence, 1..5
    uint16_t wSubsetStart = 0;          ///< 1-based pulse index where the layout starts
    int16_t wFoundGroups = 0;           ///< detected groups (tuples)
    int16_t* lpFoundGroupPosition = nullptr; ///< per group: 1-based index of its first pulse
    int16_t* lpFoundGroupValue = nullptr;    ///< per group: 1-based index of its last pulse
    uint16_t wSubsetsCapacity = 0;      ///< stored subsets allocated
    uint16_t wSubsetsCount = 0;         ///< stored subsets in use
    uint16_t wSubsetCapacity = 0;       ///< entries allocated per stored subset
    int16_t wResultCode = 0;            ///< recognised tuple number (0 when none)
    /// Sizes of the stored subsets, followed in the same allocation by their entries.
    std::unique_ptr<int16_t[]> selectedSubsetSize;
    /// Entry i points at the entries of stored subset i (inside selectedSubsetSize's allocation).
    std::unique_ptr<int16_t*[]> selectedSubsetList;

    std::unique_ptr<int16_t[]> block; ///< owns the samples and the per-pulse arrays
};

/// The etalon of 1-based number `number` in the series' pulse list, or null when the number is
/// outside the list or the etalon has no samples.
const PulseHeader* etalonOf(const SeriesHeader& series, int32_t number);
/// The same for a series that may be absent (null then).
inline const PulseHeader* etalonOf(const SeriesHeader* series, int32_t number) {
    return series ? etalonOf(*series, number) : nullptr;
}

/// A layout of pulses given as parallel arrays of `count` entries (the found pulses of a series,
/// or a row of the chains table).
struct PulseLayoutView {
    int32_t count = 0;
    const int16_t* position = nullptr;  ///< start sample of each pulse, ascending
    const int16_t* etalon = nullptr;    ///< 1-based etalon number
    const int16_t* cutStart = nullptr;  ///< first etalon sample kept
    const int16_t* cutEnd = nullptr;    ///< last etalon sample kept
};

/// The squared distance between the pure series and the series restored from `pulses`, summed
/// with 32-bit wrapping. A sample outside every pulse restores to 0; a pulse is looked at only
/// from the sample after the end of the one before it. With no pulses it is the energy of the
/// pure series; 0 for a series without samples.
int32_t restorationError(const SeriesHeader& series, const PulseLayoutView& pulses);

/// Pulse-count bounds from a series length, an etalon length and the interval limits.
struct PulseCountBounds {
    uint16_t minimum;   ///< (N + L - 1) / Tmax; 0 when the series is shorter than Tmax - L + 1
    uint16_t maximum;   ///< (N - L + Tmin) / Tmin
    uint16_t suggested; ///< (minimum + maximum) / 2
};

/// The bounds for series length N and etalon length L, each at most 65535. Returns 0 and leaves
/// `out` unchanged when Tmin or Tmax is 0 or L exceeds N + Tmin (no bounds exist); otherwise
/// fills `out` and returns 1.
int pulseCountBounds(uint32_t N, uint16_t L, uint16_t wTmin, uint16_t wTmax, PulseCountBounds& out);

/// Pulse-count bounds of a series of N samples with etalons of L samples and gaps Tmin..Tmax,
/// as the makers take them: the least count is at least 1.
struct PulseBounds {
    uint16_t wMinPulses; ///< (N + L - 1) / Tmax, replaced by 1 when 0
    uint16_t wMaxPulses; ///< (N + Tmin - L) / Tmin
};

/// Checks the relations every series build needs: Tmin >= 1, Tmax >= 1, Tmin <= Tmax,
/// L <= Tmax, L <= N and N - L <= 32767 (pulse starts are 16-bit). On a violation shows a
/// message naming it (with `caption`) and returns 0; otherwise returns 1.
int checkSeriesParameters(MessageSink& messages, const char* caption, uint16_t L, uint16_t wTmin,
                          uint16_t wTmax, uint32_t N);

/// The bounds for parameters that passed checkSeriesParameters; {0, 0} when no bounds exist.
PulseBounds seriesPulseBounds(uint16_t L, uint16_t wTmin, uint16_t wTmax, uint32_t N);

/// Creates or resizes the record for a build. Reuses `header` when its block holds N samples and
/// the new wMaxPulses pulses; otherwise gives it a new zeroed block and carries the active
/// subset over when it fits (when it does not, the header has no active subset afterwards).
/// Takes the caller's header and returns the header to keep, or null after a memory failure (the
/// header passed in is then released). Refused parameters (see checkSeriesParameters) give a
/// message and hand `header` back unchanged.
std::unique_ptr<SeriesHeader> getCutOffSeriesHeader(MessageSink& messages, uint16_t wPulsesListSize,
                                                    uint16_t L, uint16_t wTmin, uint16_t wTmax,
                                                    uint32_t N, std::unique_ptr<SeriesHeader> header);

/// Builds K pulses into an existing header: the subset layout, the pulse starts, the cuts, the
/// pure and the noisy series (equal after a build). `sequence` holds the 1-based etalon number of
/// every pulse and is rewritten in place (subset layout; invalid entries become 1).
/// savedEnergy is a percentage: each kept stretch holds more than that share of the etalon's
/// energy. Returns 1 when the series was built; 0 after a message, with the header unchanged
/// for refused parameters (bad limits, a sequence shorter than K, an alphabet that does not fit
/// the header) and with the sizes of step one set when K lies outside the admissible bounds.
/// Draws from the caller's `seeds`: the subset layout (`subsetSeed`, `subsetRepeatSeed`), then
/// `positionSeed` K + 1 times and `cutStartSeed`, `cutEndSeed` K times each. Refused parameters
/// draw nothing.
int makeExtSeries(MessageSink& messages, uint16_t wAlphabetSize, const Alphabet& alphabet,
                  uint16_t L, uint16_t wTmin, uint16_t wTmax, uint32_t N, uint16_t K,
                  std::span<uint16_t> sequence, int16_t wAmplitude, uint16_t savedEnergy,
                  SeriesHeader* header, SeedCells& seeds);

/// Step 3 of makeExtSeries alone: lays the header's active subset into the first K entries of
/// `sequence` by its mode, with the subset draws from `seeds` (`subsetSeed`, `subsetRepeatSeed`)
/// that a build makes. Lets a caller reach the generators' state after many builds without
/// making them.
void layOutSubset(const SeriesHeader& header, uint16_t K, std::span<uint16_t> sequence, SeedCells& seeds);

/// getCutOffSeriesHeader, then makeExtSeries with `seeds`. Returns the header to keep (also when
/// the build itself refused K), or null after a memory failure. Refused limits leave `header`
/// unchanged and return it.
std::unique_ptr<SeriesHeader> getCutOffSeries(MessageSink& messages, uint16_t wAlphabetSize,
                                              const Alphabet& alphabet, uint16_t L, uint16_t wTmin,
                                              uint16_t wTmax, uint32_t N, uint16_t K,
                                              std::span<uint16_t> sequence, int16_t wAmplitude,
                                              uint16_t savedEnergy,
                                              std::unique_ptr<SeriesHeader> header, SeedCells& seeds);

/// getCutOffSeries on a record the caller keeps: the same messages and steps, the record sized in
/// place. Returns 1 when it was sized (also when the build itself refused K); 0 for refused
/// limits (the record unchanged) or after a memory failure (the record is then empty).
int getCutOffSeriesInto(MessageSink& messages, uint16_t wAlphabetSize, const Alphabet& alphabet,
                        uint16_t L, uint16_t wTmin, uint16_t wTmax, uint32_t N, uint16_t K,
                        std::span<uint16_t> sequence, int16_t wAmplitude, uint16_t savedEnergy,
                        SeriesHeader& header, SeedCells& seeds);

/// Draws K from `seeds.pulseCountSeed` between the admissible bounds, then getCutOffSeries.
/// When no K is admissible returns null without a message and releases `header` (callers store
/// the null result in place of the old header). Refused limits leave `header` unchanged and
/// return it.
std::unique_ptr<SeriesHeader> getRandomCutOffSeries(MessageSink& messages, uint16_t wAlphabetSize,
                                                    const Alphabet& alphabet, uint16_t L,
                                                    uint16_t wTmin, uint16_t wTmax, uint32_t N,
                                                    std::span<uint16_t> sequence,
                                                    int16_t wAmplitude, uint16_t savedEnergy,
                                                    std::unique_ptr<SeriesHeader> header,
                                                    SeedCells& seeds);

/// lpNoisyData = lpPureData + gaussRandom(seed, 0, sigma) per sample (wrapping to 16 bits, no
/// clamping), then wNoiseSigma = sigma. Returns 1. Returns 0 with a message and the header
/// unchanged when |sigma| exceeds the generator's limit; a null header does nothing (1).
int addNoise(MessageSink& messages, SeriesHeader* header, int16_t sigma, int16_t& seed);

/// Copies a build of `source` (sizes, pure and noisy samples, every per-pulse array, the pulse
/// list, the active subset, the found fields) into `destination`, whose block must hold the
/// build's samples and its wMaxPulses pulses (and the active subset), and whose pulse list must
/// be as large (for instance a header made by getCutOffSeriesHeader with the build's own
/// length and limits, even when `source` was allocated for longer series). Per-pulse entries
/// beyond those are not copied, nor are the stored subsets. Returns 1, or 0 when it does not fit.
int copySeriesBuild(SeriesHeader& destination, const SeriesHeader& source);

/// Frees the record and everything it owns. Null does nothing.
void freeSeriesHeader(std::unique_ptr<SeriesHeader> header);
