#pragma once

// Plain, slow versions of the local match and of the eight processing routines, written the
// straightforward way: every cut's score is summed afresh over its samples, every position array
// is filled and walked step by step with the routine's own "not yet found" values. The tests run
// them beside the production routines on random series and ask for identical results.
//
// Where the processing leaves a behaviour open, the references make the production code's
// choices:
// - Back-tracking in the known-count routines: when no m of the window
//   [p - Tmax, p - Tmin] ∩ [lo_j, hi_j] has a value strictly below the search's starting bound,
//   the m of that window with the smallest value (first among equals) is taken, as if there were
//   no bound. The same rule picks the last pulse when no position of the last layer is below the
//   end search's bound; the chain's distance is then that bound.
// - recognizePulsesFixed with no candidate below 999999999: returns -1, wFoundPulses = K, the
//   found lists are left as they were.
// - recognizeTuplesFixed with nothing below 9999999: returns 0, wResultCode 0, wFoundPulses = K,
//   the found lists and the groups are left as they were.
// - The diagnostic reports are not produced; *debugRepeat is still cleared at the end.
//
// The references expect valid input (a non-empty list of built etalons, a chains header with rows
// long enough, position ranges as the series builder stores them) and do not check it.

#include <cstdint>
#include <span>

#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/series.h"
#include "processing/chains.h"
#include "processing/local_match.h"

/// How often the references took their rarely used branches. The randomized tests read them to
/// make sure their cases reach those branches.
struct ReferenceBranchCounts {
    long backTrackWithoutBound = 0;   ///< a back-tracking window had nothing below its bound
    long endWithoutBound = 0;         ///< the last pulse had nothing below the end search's bound
    long chainRejected = 0;           ///< an unknown-count chain was not accepted (0 pulses result)
    long noRecognition = 0;           ///< a recognition routine recognised nothing
    long tupleLongerThanKmax = 0;     ///< an unknown-count tuple run with m > wMaxPulses
    long penaltyUsed = 0;             ///< a known-count predecessor search kept its starting bound
    long totalWrapped = 0;            ///< a programme's total left the 32-bit range and wrapped
};
extern ReferenceBranchCounts referenceBranchCounts;

/// The best (score, 1-based etalon, cut) at position l over the candidates, in list order: the
/// first candidate's whole etalon first, each later whole etalon and every admissible cut
/// (s ascending, t ascending) replacing the best only when strictly smaller. Partial energies and
/// the threshold in wrapping 32-bit arithmetic; each score summed afresh in wrapping 32-bit
/// arithmetic.
LocalMatch referenceMatchLocally(const Alphabet& alphabet, std::span<const uint16_t> candidates,
                                 int n, uint16_t pct, const int16_t* y, int32_t l);

/// Groups of a chain of `pulses` pulses whose first pulse is member s of a tuple of m.
int referenceFormGroups(int pulses, int m, int s, int16_t* firstOut, int16_t* lastOut);

int referenceDetectPulsesUnfixed(MessageSink& window, const Alphabet& alphabet,
                                 std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                                 uint16_t pct, ChainsHeader* chains, SeriesHeader& series);

int referenceDetectPulsesFixed(MessageSink& window, const Alphabet& alphabet,
                               std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                               uint16_t pct, ChainsHeader* chains, SeriesHeader& series);

int16_t referenceRecognizePulsesUnfixed(MessageSink& window, const Alphabet& alphabet,
                                        std::span<const uint16_t> list, uint16_t Tmin,
                                        uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                                        SeriesHeader& series);

int32_t referenceRecognizePulsesFixed(MessageSink& window, const Alphabet& alphabet,
                                      std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                                      uint16_t pct, ChainsHeader* chains, SeriesHeader& series);

int referenceDetectTuplesUnfixed(MessageSink& window, const Alphabet& alphabet,
                                 std::span<const int32_t> tuple, uint16_t mode, uint16_t Tmin,
                                 uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                                 SeriesHeader& series, int* debugRepeat = nullptr);

int referenceDetectTuplesFixed(MessageSink& window, const Alphabet& alphabet,
                               std::span<const int32_t> tuple, uint16_t mode, uint16_t Tmin,
                               uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                               SeriesHeader& series);

int32_t referenceRecognizeTuplesUnfixed(MessageSink& window, const Alphabet& alphabet,
                                        std::span<const std::span<const int32_t>> tuples,
                                        uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct,
                                        ChainsHeader* chains, SeriesHeader& series,
                                        int* debugRepeat = nullptr);

int32_t referenceRecognizeTuplesFixed(MessageSink& window, const Alphabet& alphabet,
                                      std::span<const std::span<const int32_t>> tuples,
                                      uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct,
                                      ChainsHeader* chains, SeriesHeader& series);

/// The best explanation by one shape of a recording at position l, straight from the
/// definitions: every cut's sums afresh, the clamped least-squares gain g = Σxy · (1 / Σx²)
/// held to [gMin, gMax], the term g (g Σx²) - (2g) Σxy in those rounded steps, rounded to the nearest integer (ties to
/// even); the whole shape first, then the admissible cuts (s, then t, ascending), each
/// replacing the best only when strictly smaller. With several channels x and y hold theirs one
/// after the other, and every sum runs over all of them.
struct ReferenceShapeScore {
    int64_t score;
    int cutStart, cutEnd;
    double gain;
};
ReferenceShapeScore referenceShapeScore(std::span<const int16_t> x, std::span<const int16_t> y, int64_t l, int pct,
                                        double gMin, double gMax, int channels = 1);
