// Learning the shapes: the least-squares update on a hand-made case, and on random recordings
// that a round never raises the distance of whole pulses beyond what rounding the shapes to
// integers can cost, and that the kept round is the best.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <vector>

#include "core/learn.h"

namespace {
const std::atomic<bool> notCancelled{false};

int uniform(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
}  // namespace

TEST(LearnShapes, LeastSquaresWeighsEachPulseByItsGainWhereItIsKept) {
    const std::vector<int16_t> signal{0, 10, 20, 30, 0, 0, 4, 6, 8, 0};
    const std::vector<int16_t> a{1, 1, 1}, b{5, 5, 5};
    const std::vector<std::span<const int16_t>> shapes{a, b};
    // Shape a twice: at 1 with gain 1 (whole), at 6 with gain 2 keeping samples 1..2 only.
    const std::vector<DetectedPulse> pulses{{1, 0, 0, 2, 0, 1.0}, {6, 0, 1, 2, 0, 2.0}};
    const auto learned = leastSquaresShapes(signal, shapes, pulses);
    // Sample 0: 10 / 1; sample 1: (20 + 2 * 6) / 5 = 6.4 -> 6; sample 2: (30 + 2 * 8) / 5 = 9.2 -> 9.
    EXPECT_EQ(learned[0], (std::vector<int16_t>{10, 6, 9}));
    EXPECT_EQ(learned[1], b);  // no pulse took it

    // Two channels, each learned on its own: the second channel is the first times -2.
    std::vector<int16_t> both(signal);
    for (const int16_t v : signal) both.push_back(static_cast<int16_t>(-2 * v));
    const std::vector<int16_t> a2{1, 1, 1, 1, 1, 1};
    const auto twice = leastSquaresShapes(both, {a2}, pulses, 2);
    EXPECT_EQ(twice[0], (std::vector<int16_t>{10, 6, 9, -20, -13, -18}));
}

TEST(LearnShapes, RoundsNeverRaiseTheDistanceBeyondRoundingAndKeepTheBest) {
    std::mt19937 rng(31);
    for (int trial = 0; trial < 40; ++trial) {
        // Two true shapes; the given ones are noisy copies of them.
        const int n = uniform(rng, 8, 16);
        std::vector<std::vector<int16_t>> truth(2, std::vector<int16_t>(static_cast<size_t>(n))), given = truth;
        for (size_t e = 0; e < 2; ++e)
            for (size_t c = 0; c < truth[e].size(); ++c) {
                truth[e][c] = static_cast<int16_t>(uniform(rng, -3000, 3000));
                given[e][c] = static_cast<int16_t>(truth[e][c] + uniform(rng, -1500, 1500));
            }
        const int64_t N = 2000, Tmin = n + uniform(rng, 0, 20), Tmax = Tmin + uniform(rng, 5, 60);
        std::vector<int16_t> y(static_cast<size_t>(N));
        for (int16_t& v : y) v = static_cast<int16_t>(uniform(rng, -600, 600));
        for (int64_t p = uniform(rng, 0, 10); p + n <= N; p += uniform(rng, static_cast<int>(Tmin), static_cast<int>(Tmax))) {
            const auto& x = truth[static_cast<size_t>(uniform(rng, 0, 1))];
            const double g = trial % 2 ? uniform(rng, 70, 130) / 100.0 : 1.0;
            for (int c = 0; c < n; ++c) y[static_cast<size_t>(p + c)] = static_cast<int16_t>(y[static_cast<size_t>(p + c)] + g * x[static_cast<size_t>(c)]);
        }
        DetectRequest request;
        request.signal = y;
        for (const auto& x : given) request.shapes.emplace_back(x);
        request.candidates = {0, 1};
        request.tmin = Tmin;
        request.tmax = Tmax;
        request.threads = 1;
        if (trial % 2) {
            request.gainMin = 0.5;
            request.gainMax = 1.5;
        }
        // One round by hand: the chain found, the shapes fitted to it, the detection again.
        const DetectResult before = detectInRecording(request, {}, notCancelled);
        ASSERT_TRUE(before.error.empty()) << before.error;
        const auto fitted = leastSquaresShapes(y, request.shapes, before.pulses);
        double slack = 0;  // rounding the shapes (a quarter per sample and unit of squared gain) and the terms
        for (const DetectedPulse& p : before.pulses) slack += 0.25 * n * p.gain * p.gain + 1;
        DetectRequest again = request;
        again.shapes.assign(fitted.begin(), fitted.end());
        const DetectResult after = detectInRecording(again, {}, notCancelled);
        ASSERT_TRUE(after.error.empty());
        EXPECT_LE(static_cast<double>(after.distance), static_cast<double>(before.distance) + slack) << "trial " << trial;

        // The learning itself: the distances fall until the last round, the kept round is the best.
        const LearnResult learned = learnShapes(request, 8, {}, {}, notCancelled);
        ASSERT_TRUE(learned.completed && learned.error.empty()) << learned.error;
        ASSERT_EQ(learned.distances.front(), before.distance);
        ASSERT_EQ(learned.distances[1], after.distance);
        for (size_t r = 1; r + 1 < learned.distances.size(); ++r) EXPECT_LT(learned.distances[r], learned.distances[r - 1]);
        EXPECT_EQ(learned.result.distance, *std::min_element(learned.distances.begin(), learned.distances.end()));
        EXPECT_EQ(learned.distances[static_cast<size_t>(learned.bestRound)], learned.result.distance);
        EXPECT_LE(learned.result.distance, before.distance);
    }
}

TEST(LearnShapes, RefusesRoundsOutOfRangeAndAShapeThatBecameZero) {
    DetectRequest request;
    const std::vector<int16_t> y(400, 0), x{100, 200, 100, 0, -100, -200};
    request.signal = y;
    request.shapes = {x};
    request.candidates = {0};
    request.tmin = 20;
    request.tmax = 40;
    EXPECT_NE(learnShapes(request, 1001, {}, {}, notCancelled).error.find("from 0 to 1000"), std::string::npos);
    // A silent recording fits the shape with zeros.
    EXPECT_NE(learnShapes(request, 2, {}, {}, notCancelled).error.find("shape 1 zero throughout"), std::string::npos);
}
