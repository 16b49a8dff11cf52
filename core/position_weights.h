#pragma once

// The weights of the positions of a recording for the posterior (core/posterior.h): each
// position's sum over the shapes of exp(-score / T), from the shapes' scores in chunks of
// positions, on several threads with the same numbers for any count.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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

/// The positions' weights, 8 bytes a position instead of a Weight's 16 (the passes read every one
/// of them twice, and a recording's row is megabytes the process touches for the first time):
/// each weight's mantissa bits, and in the 12 bits above them (where a mantissa in [1, 2) keeps a
/// constant exponent) its power of two less the least of its chunk of kChunk positions. A chunk
/// whose powers spread over 4096 or more keeps them in full beside. Written chunk by chunk, each
/// chunk by one thread; read as Weights, exactly the ones written.
class WeightRow {
public:
    static constexpr int kChunkBits = 11;
    static constexpr int64_t kChunk = int64_t{1} << kChunkBits;

    /// Room for P weights, none written yet.
    explicit WeightRow(int64_t P = 0);
    int64_t size() const { return size_; }
    /// Positions lo.. (lo a multiple of kChunk, count <= kChunk of them): mantissas in [1, 2).
    void writeChunk(int64_t lo, size_t count, const double* mantissas, const int64_t* exponents);
    Weight operator[](int64_t l) const {
        const uint64_t bits = packed_[static_cast<size_t>(l)];
        const auto c = static_cast<size_t>(l >> kChunkBits);
        const int64_t e = wide_[c].empty() ? base_[c] + static_cast<int64_t>(bits >> 52)
                                           : wide_[c][static_cast<size_t>(l & (kChunk - 1))];
        return {std::bit_cast<double>((bits & kMantissaBits) | (uint64_t{1023} << 52)), e};
    }

private:
    int64_t size_ = 0;
    std::unique_ptr<uint64_t[]> packed_;  // left unwritten until the chunks are weighed
    std::vector<int64_t> base_;
    std::vector<std::vector<int64_t>> wide_;
};

/// Each position l = 0..P - 1's weight over the prepared shapes `rows` of `scores` (indices
/// into them) on the signal y: W[l] = the sum over them of exp(-(score + pulse cost) / T), T =
/// 1 / inverseT, into W (made for P). On up to `threads` threads; `progress` gets the share done
/// from the calling thread. Returns "stopped" when cancelled, a refusal when a weight's power of
/// two could leave the range a chain of P of them may take (the temperature too small for the
/// scores), else "".
std::string positionWeights(const ShapeScores& scores, ChannelSamples y, int64_t P, const std::vector<int>& rows,
                            double inverseT, unsigned threads, WeightRow& W, const std::function<void(double)>& progress,
                            const std::atomic<bool>& cancel);

/// Each pulse j's shape's share of the weight at every position l of its window:
/// shares[j * shareStride + l - first[j]] (pulses whose shape is rows.size() or more are left as
/// they are). The shape's own weight over W[l], both taken the same way, so that a shape alone at
/// a position has share 1 exactly; only the pulse's own shape is scored, at its window alone.
void kindShares(const ShapeScores& scores, ChannelSamples y, const std::vector<int>& rows, double inverseT,
                const PulseWindows& pulses, const WeightRow& W, double* shares, int64_t shareStride);

/// The positions' weights taken along with a detection's scores, every shape scored once for
/// both: a detection whose match scores the best over all its shapes (joint detection, or one
/// shape, with an unknown count) calls begin() and hands its stretches of positions to score(),
/// which gives the detection its scores and weighs the chunks of positions they reach into, each
/// chunk once; finish() then completes the row. The weights are positionWeights' to the bit.
class WeighAlong {
public:
    explicit WeighAlong(double inverseT) : inverseT_(inverseT) {}
    /// For P positions and the detection's `shapes` shapes (all of them scored).
    void begin(int64_t P, size_t shapes);
    /// Whether a detection took the weights along (called begin()).
    bool taken() const { return claimed_ != nullptr; }
    /// Positions from..to: the best score over every shape plus the pulse cost into q[p - from]
    /// (exactly ShapeScores::scoreRange's with the index -1), and the weights of the chunks they
    /// reach into that no other call has taken. Safe from several threads at once.
    void score(const ShapeScores& scores, ChannelSamples y, int64_t from, int64_t to, int64_t* q);
    /// After the detection: the chunks no stretch reached hold no chain and weigh 1. A refusal
    /// when a weight's power of two could leave the range (positionWeights'), else "".
    std::string finish();
    const WeightRow& weights() const { return W_; }

private:
    double inverseT_;
    std::vector<int> all_;  // every shape
    WeightRow W_;
    std::unique_ptr<std::atomic<bool>[]> claimed_;
    std::vector<std::string> refusals_;
};
}  // namespace posterior_detail
