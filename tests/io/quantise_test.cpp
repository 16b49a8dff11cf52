#include "io/quantise.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {
using ::testing::HasSubstr;

Shape shape(const std::string& name, std::vector<double> samples) { return {name, std::move(samples)}; }
}  // namespace

TEST(Quantise, IntegersInTheSixteenBitRangeKeepScaleOneAndTheirValues) {
    const std::vector<float> signal{0, 1, -1, 32767, -32768, 120, -7};
    const auto q = quantise(signal, {shape("a", {60, 60, 60, -60, 0, 5})});
    ASSERT_TRUE(q.ok()) << q.error;
    EXPECT_EQ(q.value.scale, 1.0);
    EXPECT_EQ(q.value.signal, (std::vector<int16_t>{0, 1, -1, 32767, -32768, 120, -7}));
    EXPECT_EQ(q.value.shapes[0], (std::vector<int16_t>{60, 60, 60, -60, 0, 5}));
    EXPECT_EQ(q.value.peak, 32768);
}

TEST(Quantise, OtherValuesAreScaledSoThatTheLargestMagnitudeIsThePeak) {
    // Fractions: scale 32767 / 0.5, the shape's -0.5 becomes the negative peak; halves round away
    // from zero.
    const std::vector<float> signal{0.25f, -0.125f, 0.0f};
    auto q = quantise(signal, {shape("a", {0.5, -0.5, 0.1, 0, 0, 0})});
    ASSERT_TRUE(q.ok()) << q.error;
    EXPECT_DOUBLE_EQ(q.value.scale, 32767 / 0.5);
    EXPECT_EQ(q.value.signal, (std::vector<int16_t>{16384, -8192, 0}));  // 16383.5 and -8191.75 rounded
    EXPECT_EQ(q.value.shapes[0], (std::vector<int16_t>{32767, -32767, 6553, 0, 0, 0}));
    EXPECT_EQ(q.value.peak, 32767);

    // Integers beyond 16 bits (24-bit audio) are scaled down; one past the range already is.
    q = quantise(std::vector<float>{8388607, -8388608, 0}, {shape("a", {1, 1, 1, 1, 1, 1})});
    ASSERT_FALSE(q.ok());  // the shape vanishes beside such a signal
    EXPECT_THAT(q.error, HasSubstr("shape \"a\" is zero throughout at the common scale"));
    q = quantise(std::vector<float>{32768, -100}, {shape("a", {16384, 0, 0, 0, 0, 0})});
    ASSERT_TRUE(q.ok()) << q.error;
    EXPECT_DOUBLE_EQ(q.value.scale, 32767.0 / 32768.0);
    EXPECT_EQ(q.value.signal, (std::vector<int16_t>{32767, -100}));
    EXPECT_EQ(q.value.shapes[0][0], 16384);  // 16383.5 rounds away from zero
}

TEST(Quantise, ASmallerPeakForTheThirtyTwoBitPathAndItsBounds) {
    const int L = 20;
    const int32_t peak = peakFor32BitArithmetic(L);
    EXPECT_LE(3LL * L * peak * peak, std::numeric_limits<int32_t>::max());
    EXPECT_LE(100LL * L * peak * peak, std::numeric_limits<uint32_t>::max());
    EXPECT_GT(100LL * L * (peak + 1) * (peak + 1), std::numeric_limits<uint32_t>::max());
    EXPECT_EQ(peakFor32BitArithmetic(1), 6553);  // the threshold bound 100 P^2 < 2^32 binds
    EXPECT_EQ(peakFor32BitArithmetic(32767), 36);

    const std::vector<float> signal{100, -2000, 50};
    auto q = quantise(signal, {shape("a", {10, 20, 30, 40, 50, 60})}, peak);
    ASSERT_TRUE(q.ok()) << q.error;
    EXPECT_DOUBLE_EQ(q.value.scale, peak / 2000.0);
    EXPECT_EQ(q.value.peak, peak);
    // In range for a peak of 2000: kept.
    q = quantise(signal, {shape("a", {10, 20, 30, 40, 50, 60})}, 2000);
    EXPECT_EQ(q.value.scale, 1.0);
    EXPECT_THAT(quantise(signal, {}, 0).error, HasSubstr("must lie in 1..32767"));
    EXPECT_THAT(quantise(signal, {}, 32768).error, HasSubstr("must lie in 1..32767"));
    EXPECT_EQ(quantise(std::vector<float>{0, 0}, {}).value.scale, 1.0);
}

TEST(Baseline, RunningMeanAndMedianOverACentredWindow) {
    // A window of 3 samples at rate 1 (h = 1); the ends use the samples there are.
    std::vector<float> mean{1, 2, 3, 10, 5};
    ASSERT_TRUE(removeBaseline(mean, 1, 3, BaselineMethod::mean).ok());
    EXPECT_EQ(mean, (std::vector<float>{1 - 1.5f, 2 - 2, 3 - 5, 10 - 6, 5 - 7.5f}));
    std::vector<float> median{1, 2, 3, 10, 5};
    ASSERT_TRUE(removeBaseline(median, 1, 3, BaselineMethod::median).ok());
    EXPECT_EQ(median, (std::vector<float>{1 - 1.5f, 2 - 2, 3 - 3, 10 - 5, 5 - 7.5f}));

    // A slow drift is removed while a short pulse survives the median.
    std::vector<float> drift(2000);
    for (size_t i = 0; i < drift.size(); ++i) drift[i] = 1000 + 0.5f * static_cast<float>(i);
    for (size_t i = 1000; i < 1010; ++i) drift[i] += 300;
    ASSERT_TRUE(removeBaseline(drift, 100, 1.01, BaselineMethod::median).ok());  // 101 samples
    EXPECT_NEAR(drift[500], 0, 1e-3);
    EXPECT_NEAR(drift[1005], 300, 6);
    EXPECT_NEAR(drift[1500], 0, 1e-3);

    // A window wider than the signal uses the whole signal.
    std::vector<float> wide{4, 6};
    ASSERT_TRUE(removeBaseline(wide, 1, 99, BaselineMethod::median).ok());
    EXPECT_EQ(wide, (std::vector<float>{-1, 1}));
}

TEST(Baseline, TheSlidingMedianEqualsTheMedianOfEachWindow) {
    // Repeated values, even counts at the ends and windows of several widths, against sorting.
    std::vector<float> signal(500);
    uint32_t state = 7;
    for (auto& v : signal) {
        state = state * 1103515245u + 12345u;
        v = static_cast<float>(static_cast<int>(state >> 16 & 31) - 15);
    }
    for (const int window : {1, 2, 3, 8, 51, 499, 1200}) {
        std::vector<float> fast = signal;
        ASSERT_TRUE(removeBaseline(fast, 1, window, BaselineMethod::median).ok());
        const int h = (window | 1) / 2;
        for (int i = 0; i < static_cast<int>(signal.size()); ++i) {
            std::vector<double> w(signal.begin() + std::max(0, i - h),
                                  signal.begin() + std::min<int>(static_cast<int>(signal.size()), i + h + 1));
            std::sort(w.begin(), w.end());
            const double median = w.size() % 2 ? w[w.size() / 2] : (w[w.size() / 2 - 1] + w[w.size() / 2]) / 2;
            ASSERT_EQ(fast[static_cast<size_t>(i)], static_cast<float>(signal[static_cast<size_t>(i)] - median))
                << "window " << window << " at " << i;
        }
    }
}

TEST(Baseline, ARampLeavesOnlyItsEnds) {
    // Rising samples leave the smaller half's old entries deep in their heap: they must be
    // dropped as the window moves on, and every interior median is the sample itself.
    std::vector<float> ramp(20000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i);
    ASSERT_TRUE(removeBaseline(ramp, 1, 101, BaselineMethod::median).ok());
    EXPECT_EQ(ramp[0], -25);  // the window 0..50 has the median 25
    for (size_t i = 50; i < ramp.size() - 50; ++i) ASSERT_EQ(ramp[i], 0) << i;
    EXPECT_EQ(ramp.back(), 25);
}

TEST(Baseline, WindowsThatAreNoWindowsAreRefused) {
    std::vector<float> s{1, 2, 3};
    EXPECT_THAT(removeBaseline(s, 1000, 0).error, HasSubstr("positive number of seconds"));
    EXPECT_THAT(removeBaseline(s, 1000, -1).error, HasSubstr("positive number of seconds"));
    EXPECT_THAT(removeBaseline(s, 1000, std::nan("")).error, HasSubstr("positive number of seconds"));
    EXPECT_THAT(removeBaseline(s, 1000, 0.0001).error, HasSubstr("shorter than one sample"));
    EXPECT_THAT(removeBaseline(s, 1e9, 1e6).error, HasSubstr("too long"));
    EXPECT_EQ(s, (std::vector<float>{1, 2, 3}));
}
