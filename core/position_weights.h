#pragma once

// The weights of the positions of a recording for the posterior (core/posterior.h): each
// position's sum over the shapes of exp(-score / T), from the shapes' scores in chunks of
// positions, on several threads with the same numbers for any count.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/chain_weight.h"
#include "processing/shape_scores.h"

namespace posterior_detail {
// The pulses asked about: each one's window [first, last] of positions and its shape's index
// among the shapes scored (S or more: none).
struct PulseWindows {
    std::vector<int64_t> first, last;
    std::vector<size_t> shape;
};

/// Each position l = 0..P - 1's weight over the prepared shapes `rows` of `scores` (indices
/// into them) on the signal y: W[l] = the sum over them of exp(-(score + pulse cost) / T), T =
/// 1 / inverseT, into W (P entries). With `shares` (else null), also each pulse j's shape's share
/// of the weight at every position l of its window: shares[j * shareStride + l - first[j]]. On
/// up to `threads` threads; `progress` gets the share done from the calling thread. Returns
/// "stopped" when cancelled, a refusal when a weight's power of two could leave the range a chain
/// of P of them may take (the temperature too small for the scores), else "".
std::string positionWeights(const ShapeScores& scores, ChannelSamples y, int64_t P, const std::vector<int>& rows,
                            double inverseT, const PulseWindows& pulses, double* shares, int64_t shareStride,
                            unsigned threads, std::vector<Weight>& W, const std::function<void(double)>& progress,
                            const std::atomic<bool>& cancel);
}  // namespace posterior_detail
