#pragma once

// How sure each pulse is: every admissible chain of a detection (the chains it chooses among:
// gaps of Tmin to Tmax between starts, the first pulse ending within Tmax of the beginning, the
// last starting within Tmax of the end, each pulse a candidate shape, cut and gained as the
// detection allows) weighs exp(-D / T), D its distance; forward and backward sums over the
// same chains give each position's probability that a pulse starts there. For Gaussian noise
// of deviation s this is the posterior under a uniform prior over the admissible chains with
// T = 2 s² on the integer scale (the distance is the squared residual less the signal's energy).
// Where a pulse's cut and gain are chosen by minimising, its weight uses the minimised term (a
// profile over cuts and gains, not an integral); the shapes are summed over.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/detect.h"

/// How sure one found pulse is.
struct PulseConfidence {
    /// The probability that some pulse starts within the window around the pulse's start.
    double confidence = 0;
    /// The expected number of pulses of the pulse's shape in the window over the expected number
    /// of pulses there: the probability that a pulse there is of that shape, given one is there
    /// (when the window holds at most one pulse, as it does below Tmin).
    double kindConfidence = 0;
};

/// What the posterior gives.
struct PosteriorResult {
    bool completed = true;  ///< false when cancelled (nothing else counts then)
    std::string error;      ///< a refusal (e.g. the memory a known count would need); empty on success
    std::vector<PulseConfidence> pulses;  ///< one per pulse asked about, in order
    double expectedCount = 0;             ///< the expected number of pulses
    double countDeviation = 0;            ///< its standard deviation
    /// With perPosition: each position's probability that a pulse starts there (positions
    /// 0..N - L, L the longest shape); else empty.
    std::vector<double> posterior;
};

/// The posterior of the chains of `request` (its count, shapes, candidates, cuts, gains and
/// pulse cost) at temperature T > 0 (on the request's integer scale, squared units) for the
/// found `pulses` (in position order, as a detection gives them; others are refused), with the
/// window +-window samples (0 <= window <= Tmax) around each. The
/// positions' weights (every shape scored, a soft minimum over them) are taken in chunks on
/// request.threads threads (0: every core); forward and backward passes over weights kept as
/// a double mantissa and a 64-bit power of two, the sliding sums over the gap windows taken in
/// a fixed order (block prefix and suffix sums), so the result is the same for any thread count
/// and on every run. A temperature so small that a chain's exponent could leave 64 bits is
/// refused; so are a known count's layered passes that would need more than
/// kKnownCountMemoryBudget, with the memory they would need.
PosteriorResult posteriorOf(const DetectRequest& request, const std::vector<DetectedPulse>& pulses, double temperature,
                            int64_t window, bool perPosition, const std::function<void(double)>& progress,
                            const std::atomic<bool>& cancel);

/// A detection and its posterior: detectInRecording, then posteriorOf on the pulses it found,
/// with the same numbers; where the match scores the best over every shape (joint detection or
/// one shape, an unknown count) the posterior's weights are taken along with the detection's
/// scores, the shapes scored once for both. The posterior is left empty when the detection does
/// not complete or refuses.
struct DetectionAndPosterior {
    DetectResult detection;
    PosteriorResult posterior;
};
DetectionAndPosterior detectWithPosterior(const DetectRequest& request, double temperature, int64_t window,
                                          bool perPosition, const std::function<void(double)>& progress,
                                          const std::atomic<bool>& cancel);
