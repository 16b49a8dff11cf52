#pragma once

// Shapes learned from the recording: hard expectation-maximisation with the exact detection as
// its expectation step. Detect; replace each shape by the least-squares shape of the stretches
// its pulses took (each pulse weighted by its gain); detect again; stop after the rounds asked
// for or as soon as the distance no longer falls, and keep the shapes of the best round, so that
// learning never returns a worse answer than it started from.

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/detect.h"

/// The most rounds of learning one run takes.
inline constexpr int32_t kMostLearnRounds = 1000;

/// What learning gives.
struct LearnResult {
    /// False when the run stopped because cancel was set (nothing else counts then).
    bool completed = true;
    /// A refusal or failure for the user (a detection's own, or a shape that became zero
    /// throughout); empty on success.
    std::string error;
    /// The distance of the detection with the given shapes, then after each round.
    std::vector<int64_t> distances;
    /// The round whose shapes are kept (0: the given shapes).
    int32_t bestRound = 0;
    /// The kept shapes on the request's integer scale, in the request's order.
    std::vector<std::vector<int16_t>> shapes;
    /// The detection with the kept shapes.
    DetectResult result;
    /// When a learned shape became zero throughout: its index in the request (else -1).
    int32_t zeroShape = -1;
};

/// The least-squares update of the shapes from one detection's pulses: for every shape and
/// sample c, sum g y[p + c] / sum g² over the pulses of that shape whose kept stretch holds c,
/// rounded to the nearest integer (halves away from zero) and held to the 16-bit range. A
/// sample no pulse keeps, and a shape no pulse uses, stay as they were. With several channels
/// (signal and shapes channel after channel, as in DetectRequest) each channel is learned on its
/// own.
std::vector<std::vector<int16_t>> leastSquaresShapes(std::span<const int16_t> signal,
                                                     const std::vector<std::span<const int16_t>>& shapes,
                                                     const std::vector<DetectedPulse>& pulses, int32_t channels = 1);

/// Runs `request` (its shapes are the starting shapes) and up to `rounds` rounds of learning
/// (0 <= rounds <= kMostLearnRounds). Every shape of the request is learned from the pulses
/// that took it; non-candidates stay as they are. A learned shape that became zero throughout
/// stops the run with an error naming it (by its 1-based place). `progress` takes the fraction
/// done (0..1) from the calling thread, `round` (may be empty) each finished round's number and
/// distance; when `cancel` becomes true the run returns soon with completed = false.
LearnResult learnShapes(const DetectRequest& request, int32_t rounds, const std::function<void(double)>& progress,
                        const std::function<void(int32_t, int64_t)>& round, const std::atomic<bool>& cancel);
