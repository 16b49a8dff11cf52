// The recordings' score kernels against every cut scored one by one, on random shapes of several
// lengths and signals including the extreme 16-bit values, every saved-energy level, gain
// ranges of either sign, pulse costs and ranges over several blocks of positions; in rows of one
// index each as in interleaved rows.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <span>
#include <vector>

#include "processing/shape_scores.h"
#include "tests/processing/reference_processing.h"

namespace {
int16_t randomSample(std::mt19937& rng, int amplitude) {
    // Now and then an extreme value, so that the largest products and sums are exercised.
    switch (std::uniform_int_distribution<int>(0, 19)(rng)) {
    case 0: return -32768;
    case 1: return 32767;
    default: return static_cast<int16_t>(std::uniform_int_distribution<int>(-amplitude, amplitude)(rng));
    }
}
}  // namespace

TEST(ShapeScores, EqualEveryCutScoredOneByOne) {
    std::mt19937 rng(7);
    const double gains[][2] = {{1, 1}, {0.5, 2}, {-1.5, 1.5}, {-2, -0.25}, {0.75, 0.75}, {0, 3}};
    for (int trial = 0; trial < 400; ++trial) {
        const int count = std::uniform_int_distribution<int>(1, 4)(rng);
        const int pct = trial % 3 == 0 ? 100 : std::uniform_int_distribution<int>(0, 100)(rng);
        const int amplitude = trial % 2 ? 32767 : 300;
        const double gMin = gains[trial % 6][0], gMax = gains[trial % 6][1];
        const int64_t cost = trial % 4 == 0 ? std::uniform_int_distribution<int64_t>(0, 1000000)(rng) : 0;
        // Shapes of one length or of several.
        const bool mixed = trial % 5 == 1;
        const int common = std::uniform_int_distribution<int>(1, 24)(rng);
        std::vector<std::vector<int16_t>> shapes;
        std::vector<std::span<const int16_t>> spans;
        int nMax = 0;
        for (int e = 0; e < count; ++e) {
            const int n = mixed ? std::uniform_int_distribution<int>(1, 24)(rng) : common;
            nMax = std::max(nMax, n);
            shapes.emplace_back(static_cast<size_t>(n));
            for (int16_t& v : shapes.back()) v = randomSample(rng, amplitude);
        }
        for (const auto& shape : shapes) spans.emplace_back(shape);
        // Most signals are short; some span several blocks of positions.
        const int64_t length = nMax + (trial % 25 == 0 ? 5000 : std::uniform_int_distribution<int>(0, 150)(rng));
        std::vector<int16_t> y(static_cast<size_t>(length));
        for (int16_t& v : y) v = randomSample(rng, amplitude);

        ShapeScores scores;
        scores.prepare(spans, pct, ShapeScores::Model{gMin, gMax, cost});
        const int64_t lo = std::uniform_int_distribution<int64_t>(0, (length - nMax) / 2)(rng), hi = length - nMax;
        std::vector<int> indices{-1};
        for (int e = 0; e < count; ++e) indices.push_back(e);
        const int64_t stride = static_cast<int64_t>(indices.size());
        std::vector<int64_t> out(static_cast<size_t>((hi - lo + 1) * stride));
        scores.scoreRange(y.data(), lo, hi, indices, out.data(), stride);
        std::vector<int64_t> positions;
        std::vector<std::vector<ReferenceShapeScore>> expected;
        for (int64_t l = lo; l <= hi; ++l) {
            int64_t best = INT64_MAX;
            expected.emplace_back();
            for (int e = 0; e < count; ++e) {
                const ReferenceShapeScore one = referenceShapeScore(shapes[static_cast<size_t>(e)], y, l, pct, gMin, gMax);
                expected.back().push_back(one);
                ASSERT_EQ(out[static_cast<size_t>((l - lo) * stride + e + 1)], one.score + cost)
                        << "trial " << trial << " shape " << e << " position " << l;
                best = std::min(best, one.score);
            }
            ASSERT_EQ(out[static_cast<size_t>((l - lo) * stride)], best + cost) << "trial " << trial << " position " << l;
            if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) positions.push_back(l);
        }
        // The same scores one row per index (rows wider than the range), before rounding and
        // without the cost.
        const int64_t width = hi - lo + 3;
        std::vector<double> rows(static_cast<size_t>(width * stride));
        scores.scoreRows(y.data(), lo, hi, indices, rows.data(), width);
        for (int64_t l = lo; l <= hi; ++l)
            for (int64_t j = 0; j < stride; ++j)
                ASSERT_EQ(static_cast<int64_t>(std::nearbyint(rows[static_cast<size_t>(j * width + l - lo)])) + cost,
                          out[static_cast<size_t>((l - lo) * stride + j)])
                        << "trial " << trial << " position " << l;
        // The scores of every shape at scattered positions, in groups wider than one tile, and
        // each shape's best cut and gain there.
        std::vector<int64_t> each(positions.size() * static_cast<size_t>(count));
        scores.scoreEach(y.data(), positions, each.data());
        for (size_t i = 0; i < positions.size(); ++i)
            for (int e = 0; e < count; ++e) {
                const ReferenceShapeScore& want = expected[static_cast<size_t>(positions[i] - lo)][static_cast<size_t>(e)];
                ASSERT_EQ(each[i * static_cast<size_t>(count) + static_cast<size_t>(e)], want.score)
                        << "trial " << trial << " position " << positions[i];
                const ShapeScores::Pulse pulse = scores.pulseAt(static_cast<size_t>(e), y.data(), positions[i]);
                ASSERT_EQ(pulse.score, want.score);
                ASSERT_EQ(pulse.cutStart, want.cutStart) << "trial " << trial << " position " << positions[i];
                ASSERT_EQ(pulse.cutEnd, want.cutEnd) << "trial " << trial << " position " << positions[i];
                ASSERT_EQ(pulse.gain, want.gain) << "trial " << trial << " position " << positions[i];
            }
    }
}
