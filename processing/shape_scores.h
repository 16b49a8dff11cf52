#pragma once

#include <cstdint>
#include <span>
#include <vector>

/// The best score of every position of a recording over a set of shapes, without the shape or
/// the cut that gives it: what the recordings' programmes need of the local match. A pulse the
/// programme chooses is matched again in full (shape and cut) by the WideLocalMatcher, whose
/// scores these are, integer for integer.
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
class ShapeScores {
public:
    /// Prepares the shapes (n samples each, 1 <= n <= 32767, the caller's memory, read for the
    /// object's life); pct is 0..100 (100: whole shapes only).
    void prepare(std::span<const int16_t* const> shapes, int n, int32_t pct);

    /// For every position p = lo..hi and every j, out[(p - lo) * stride + j]: the best score over
    /// every shape when indices[j] < 0, else of shape indices[j] alone. y holds at least hi + n
    /// samples. Safe to call from several threads at once.
    void scoreRange(const int16_t* y, int64_t lo, int64_t hi, std::span<const int> indices, int64_t* out,
                    int64_t stride) const;

    /// The best score of every shape at each of the positions: out[i * size() + shape] for
    /// positions[i]. Safe to call from several threads at once.
    void scoreEach(const int16_t* y, std::span<const int64_t> positions, int64_t* out) const;

    size_t size() const { return shapes_.size(); }

    /// The working form of one shape, as the kernels read it.
    struct Shape {
        std::vector<double> minusTwoX;  ///< -2 x[c]
        std::vector<double> energy;     ///< P[c], the energy of samples 0..c-1 (n + 1 entries)
        /// Per end e = t + 1 (n + 1 entries): the largest start s whose cut may end at t, so that
        /// every start 0..s may (-1: none). Empty when no cut is admissible: whole shapes only.
        std::vector<int32_t> lastStart;
        int32_t starts = 0;    ///< admissible starts are 0..starts-1
        int32_t firstEnd = 0;  ///< the smallest e with lastStart[e] >= 0
    };

private:
    int n_ = 0;
    std::vector<Shape> shapes_;
};
