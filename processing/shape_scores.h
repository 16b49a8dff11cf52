#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

/// The best score of every position of a recording over a set of shapes, without the shape or
/// the cut that gives it: what the recordings' programmes need of the local match. A pulse the
/// programme chooses is matched again in full (shape, cut and gain) by pulseAt, whose scores
/// these are, integer for integer.
///
/// The score of samples s..t of shape x placed at position l is sum over c = s..t of
/// x[c] (x[c] - 2 y[l + c]); a position's score over one shape is the smallest of the whole
/// shape's and every admissible cut's (E - P[s] > thr and P[t+1] - P[s] > thr, P the partial
/// energies, E = P[n], thr = E * pct / 100), over several shapes the smallest of theirs.
///
/// The sums run in double precision, which is exact here: every sample and shape value is a
/// 16-bit integer, so every product is below 2^31 and every partial sum of at most 32767 terms
/// stays below 2^47, far inside the 53 bits of a double. Each kernel is therefore an exact
/// integer computation that the vector units (fused multiply-add on eight or four lanes) run
/// at the speed of a plain correlation, and every build and processor gives the same integers.
/// The cost of a pulse whose gain is chosen from [gainMin, gainMax] (see ShapeScores): the term
/// g (g Σx²) − (2g) Σxy at the clamped least-squares gain g = clamp(Σxy · (1 / Σx²), gainMin,
/// gainMax), each step one correctly rounded double operation in exactly this order (no
/// contraction; the reciprocal rather than a division, which the kernels take once per stretch
/// instead of once per position): the same on every build and in every kernel. Σx² = 0 takes
/// g = clamp(0). The term is an
/// integer once rounded to the nearest (ties to even); with gainMin = gainMax = 1 it is exactly
/// Σx² − 2 Σxy.
struct GainTerm {
    double gain;
    double term;  ///< before rounding
};
GainTerm gainTerm(double xx, double xy, double gainMin, double gainMax);

/// A recording's samples as the kernels read them: sample i of channel c at data[c * stride + i]
/// (one channel: the stride is not read). The caller's memory.
struct ChannelSamples {
    ChannelSamples(const int16_t* samples, int64_t channelStride = 0) : data(samples), stride(channelStride) {}
    const int16_t* data;
    int64_t stride;
};

/// The most channels a recording's pulses may span: the exact double sums of the kernels hold
/// every channel's products (64 channels of 32767 taps of products below 2^31 stay below 2^52).
inline constexpr int kMostScoreChannels = 64;

class ShapeScores {
public:
    /// The scores' model beyond the shapes: the gain range of a pulse ({1, 1}: the shapes as they
    /// are) and the cost every pulse adds, on the integer scale (>= 0).
    struct Model {
        double gainMin = 1, gainMax = 1;
        int64_t pulseCost = 0;
        bool plain() const { return gainMin == 1 && gainMax == 1; }
    };

    /// Prepares the shapes (each of its own length, 1..32767 samples; the caller's memory, read
    /// for the object's life); pct is 0..100 (100: whole shapes only). With several channels
    /// (1..kMostScoreChannels) every shape holds its channels one after the other, each of the
    /// shape's length: a pulse is one start, cut and gain on every channel at once, and its term
    /// is the sum of the channels' terms (Σx² and Σxy summed over the channels, the energies of
    /// the cut rule too).
    void prepare(std::span<const std::span<const int16_t>> shapes, int32_t pct, const Model& model, int channels = 1);

    /// For every position p = lo..hi and every j, out[(p - lo) * stride + j]: the best score plus
    /// the pulse cost over every shape when indices[j] < 0, else of shape indices[j] alone. y
    /// holds at least hi + (the longest shape's length) samples. Safe to call from several
    /// threads at once.
    void scoreRange(ChannelSamples y, int64_t lo, int64_t hi, std::span<const int> indices, int64_t* out,
                    int64_t stride) const;

    /// As scoreRange, one row per index, each value as the kernels leave it: before rounding to
    /// the nearest integer (ties to even) and without the pulse cost, so that scoreRange's score
    /// is the rounded value plus the cost. out[j * rowStride + (p - lo)] for p = lo..hi (rowStride
    /// >= hi - lo + 1). The samples are taken once for all the rows. Safe to call from several
    /// threads at once.
    void scoreRows(ChannelSamples y, int64_t lo, int64_t hi, std::span<const int> indices, double* out,
                   int64_t rowStride) const;

    /// The best of `rows` rows of scoreRows' values (rowStride apart) at each of `count` positions,
    /// rounded and plus the pulse cost into out[0..count): exactly scoreRange's scores with the
    /// index -1 when the rows are every shape's.
    void bestOfRows(const double* rows, size_t rowCount, int64_t rowStride, int64_t count, int64_t* out) const;

    /// The best score of every shape at each of the positions, without the pulse cost:
    /// out[i * size() + shape] for positions[i]. Safe to call from several threads at once.
    void scoreEach(ChannelSamples y, std::span<const int64_t> positions, int64_t* out) const;

    /// The best explanation by shape `shape` at position p: the whole shape first, then the
    /// admissible cuts, s ascending, t ascending, each replacing the best only when its rounded
    /// term is strictly smaller; its score (the rounded term, without the pulse cost), cut and
    /// gain. The score is scoreEach's.
    struct Pulse {
        int64_t score;
        int32_t cutStart, cutEnd;
        double gain;
    };
    Pulse pulseAt(size_t shape, ChannelSamples y, int64_t p) const;

    size_t size() const { return shapes_.size(); }
    int channels() const { return channels_; }
    const Model& model() const { return model_; }

    /// The working form of one shape, as the kernels read it.
    struct Shape {
        int n = 0;                      ///< samples per channel
        const int16_t* x = nullptr;     ///< the channels one after the other
        std::vector<double> minusTwoX;  ///< -2 x[c], channel after channel
        std::vector<double> energy;     ///< P[c], the energy of samples 0..c-1 of every channel (n + 1 entries)
        /// Per end e = t + 1 (n + 1 entries): the largest start s whose cut may end at t, so that
        /// every start 0..s may (-1: none). Empty when no cut is admissible: whole shapes only.
        std::vector<int32_t> lastStart;
        int32_t starts = 0;    ///< admissible starts are 0..starts-1
        int32_t firstEnd = 0;  ///< the smallest e with lastStart[e] >= 0
    };

private:
    std::pair<size_t, size_t> shapesOf(int index) const;
    template <class Target, class Finish>
    void scoreBlocks(ChannelSamples y, int64_t lo, int64_t hi, std::span<const int> indices, int part, Target&& target,
                     Finish&& finish) const;

    int nMax_ = 0;
    int channels_ = 1;
    Model model_;
    std::vector<Shape> shapes_;
};
