// The recordings' score kernels against every cut scored one by one, on random shapes and
// signals including the extreme 16-bit values, every saved-energy level and ranges over several
// blocks of positions.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "processing/shape_scores.h"

namespace {
// The best score of shape x at position l: the whole shape, then every admissible cut.
int64_t straightforwardScore(const std::vector<int16_t>& x, const std::vector<int16_t>& y, int64_t l, int pct) {
    const int n = static_cast<int>(x.size());
    std::vector<int64_t> P(static_cast<size_t>(n) + 1, 0);
    for (int c = 0; c < n; ++c) P[c + 1] = P[c] + int64_t{x[c]} * x[c];
    const int64_t thr = P[n] * pct / 100;
    auto score = [&](int s, int t) {
        int64_t sum = 0;
        for (int c = s; c <= t; ++c) sum += int64_t{x[c]} * (int64_t{x[c]} - 2 * int64_t{y[l + c]});
        return sum;
    };
    int64_t best = score(0, n - 1);
    for (int s = 0; s < n; ++s)
        for (int t = s; t < n; ++t)
            if (P[n] - P[s] > thr && P[t + 1] - P[s] > thr) best = std::min(best, score(s, t));
    return best;
}

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
    for (int trial = 0; trial < 300; ++trial) {
        const int n = std::uniform_int_distribution<int>(1, 24)(rng);
        const int count = std::uniform_int_distribution<int>(1, 4)(rng);
        const int pct = trial % 3 == 0 ? 100 : std::uniform_int_distribution<int>(0, 100)(rng);
        const int amplitude = trial % 2 ? 32767 : 300;
        // Most signals are short; some span several blocks of positions.
        const int64_t length = n + (trial % 25 == 0 ? 5000 : std::uniform_int_distribution<int>(0, 150)(rng));
        std::vector<std::vector<int16_t>> shapes(static_cast<size_t>(count), std::vector<int16_t>(static_cast<size_t>(n)));
        std::vector<const int16_t*> pointers;
        for (auto& shape : shapes) {
            for (int16_t& v : shape) v = randomSample(rng, amplitude);
            pointers.push_back(shape.data());
        }
        std::vector<int16_t> y(static_cast<size_t>(length));
        for (int16_t& v : y) v = randomSample(rng, amplitude);

        ShapeScores scores;
        scores.prepare(pointers, n, pct);
        const int64_t lo = std::uniform_int_distribution<int64_t>(0, (length - n) / 2)(rng), hi = length - n;
        std::vector<int> indices{-1};
        for (int e = 0; e < count; ++e) indices.push_back(e);
        const int64_t stride = static_cast<int64_t>(indices.size());
        std::vector<int64_t> out(static_cast<size_t>((hi - lo + 1) * stride));
        scores.scoreRange(y.data(), lo, hi, indices, out.data(), stride);
        std::vector<int64_t> positions;
        for (int64_t l = lo; l <= hi; ++l) {
            int64_t best = INT64_MAX;
            for (int e = 0; e < count; ++e) {
                const int64_t one = straightforwardScore(shapes[static_cast<size_t>(e)], y, l, pct);
                ASSERT_EQ(out[static_cast<size_t>((l - lo) * stride + e + 1)], one)
                        << "trial " << trial << " shape " << e << " position " << l;
                best = std::min(best, one);
            }
            ASSERT_EQ(out[static_cast<size_t>((l - lo) * stride)], best) << "trial " << trial << " position " << l;
            if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) positions.push_back(l);
        }
        // The scores of every shape at scattered positions, in groups wider than one tile.
        std::vector<int64_t> each(positions.size() * static_cast<size_t>(count));
        scores.scoreEach(y.data(), positions, each.data());
        for (size_t i = 0; i < positions.size(); ++i)
            for (int e = 0; e < count; ++e)
                ASSERT_EQ(each[i * static_cast<size_t>(count) + static_cast<size_t>(e)],
                          out[static_cast<size_t>((positions[i] - lo) * stride + e + 1)])
                        << "trial " << trial << " position " << positions[i];
    }
}
