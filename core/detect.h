#pragma once

// Exact detection in a recording: the use case behind `pulsebench-cli detect`, the recording
// view's "Detect" and the Python module. The caller prepares the request (the quantised signal
// and shapes, the checked parameters); the run touches nothing but its arguments.

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

/// The routine: detection of one shape, joint detection and identification, or recognition of
/// the one shape the whole recording holds.
enum class DetectTask { detect, joint, recognize };

/// The task's name in reports ("detect", "joint", "recognize").
const char* detectTaskName(DetectTask task);

/// One detection in a recording. The spans stay valid for the whole run.
struct DetectRequest {
    DetectTask task = DetectTask::joint;
    /// The signal on its integer scale: its channels one after the other, each of the
    /// recording's length (signal.size() = channels × the length).
    std::span<const int16_t> signal;
    /// The recording's channels, 1..kMostChannels. A pulse is one start, shape, cut and gain on
    /// every channel at once; its term is the sum of the channels' terms (see ShapeScores).
    int32_t channels = 1;
    /// Every shape on the same scale, each of its own length (1 to 32767 samples, at most tmax),
    /// at most kMostShapes; each holds its `channels` channels one after the other (size() =
    /// channels × its length). With shapes of several lengths the chain's limits at the ends of
    /// the signal count the longest (every shape fits at every position a pulse may take).
    std::vector<std::span<const int16_t>> shapes;
    /// Indices into `shapes` the routine may use, in the order tried (at least one; exactly one
    /// for DetectTask::detect).
    std::vector<int32_t> candidates;
    /// Least and greatest distance between the starts of neighbouring pulses, in samples,
    /// 1 <= tmin <= tmax.
    int64_t tmin = 1;
    int64_t tmax = 1;
    /// The pulse count when it is known; unset: unknown count.
    std::optional<int64_t> count;
    /// Every kept stretch of a pulse holds more than this percentage of its shape's energy
    /// (100: whole pulses only), 1..100.
    int32_t savedEnergy = 100;
    /// Threads the match may run on (the result is the same for any count); 0: every core.
    int32_t threads = 0;
    /// The gain of a pulse: its shape times g, g in [gainMin, gainMax] (|g| <= kMostGain) chosen
    /// to explain the signal best (see gainTerm); {1, 1}: the shapes as they are.
    double gainMin = 1, gainMax = 1;
    /// What every pulse adds to the distance, on the signal's integer scale (squared), >= 0.
    int64_t pulseCost = 0;
};

/// The most shapes a detection takes, the most channels, and the largest gain in magnitude.
inline constexpr int32_t kMostShapes = 256;
inline constexpr int32_t kMostChannels = 64;
inline constexpr double kMostGain = 1000;

/// One pulse found.
struct DetectedPulse {
    int64_t position = 0;  ///< the sample where sample 0 of the shape falls
    int32_t shape = 0;     ///< index into DetectRequest::shapes
    int32_t cutStart = 0;  ///< first shape sample kept
    int32_t cutEnd = 0;    ///< last shape sample kept
    int64_t measure = 0;   ///< the pulse's own share of the distance (with the pulse cost)
    double gain = 1;       ///< the gain the pulse's shape is taken with
    /// With a posterior (see core/posterior.h): how sure the pulse is; else NaN.
    double confidence = std::numeric_limits<double>::quiet_NaN();
    double kindConfidence = std::numeric_limits<double>::quiet_NaN();
};

/// What a run gives: the pulses in order of position and the distance, or why there are none.
struct DetectResult {
    /// False when the run stopped because cancel was set (nothing else of the result counts).
    bool completed = true;
    /// A refusal or failure for the user (e.g. the memory a known count would need); empty on
    /// success.
    std::string error;
    int64_t distance = 0;
    std::vector<DetectedPulse> pulses;
};

/// Working memory a known count may take (bytes): above it the run is refused with a message
/// that names what it would need and suggests the unknown count.
inline constexpr int64_t kKnownCountMemoryBudget = int64_t{2} << 30;

/// Runs one detection with the workbench's exact programmes on wide positions and 64-bit sums.
/// `progress` takes the fraction done (0..1) from the calling thread; when `cancel` becomes true
/// the run returns soon with completed = false. A request that does not fit (bad limits, shapes,
/// candidates, a count that cannot be placed, too much memory) gives `error` and no pulses.
/// The match runs on `request.threads` threads; the result does not depend on their number.
DetectResult detectInRecording(const DetectRequest& request, const std::function<void(double)>& progress,
                               const std::atomic<bool>& cancel);

namespace posterior_detail {
class WeighAlong;
}
/// As above, and where the match scores the best over every shape (joint detection, or one
/// shape, with an unknown count) `along` takes the posterior's positions' weights with the same
/// scores, the shapes scored once for both (core/position_weights.h; along->taken() says whether
/// it did); the result is the same.
DetectResult detectInRecording(const DetectRequest& request, const std::function<void(double)>& progress,
                               const std::atomic<bool>& cancel, posterior_detail::WeighAlong* along);
