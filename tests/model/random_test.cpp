#include "model/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

class RandomTest : public ::testing::Test {};

TEST_F(RandomTest, SeedCellsStartFromTheirFixedValues) {
    const SeedCells cells;
    EXPECT_EQ(cells.alphabetSeed, 123);
    EXPECT_EQ(cells.pulseCountSeed, 13579);
    EXPECT_EQ(cells.positionSeed, 12345);
    EXPECT_EQ(cells.cutStartSeed, 7737);
    EXPECT_EQ(cells.cutEndSeed, 3373);
    // Two separate cells that start from the same value.
    EXPECT_EQ(cells.subsetSeed, 11357);
    EXPECT_EQ(cells.subsetRepeatSeed, 11357);
    EXPECT_EQ(cells.libraryState, 1);
    EXPECT_EQ(initialNoiseSeed, 10597);
}

TEST_F(RandomTest, UniformSequenceAndCellUpdate) {
    int16_t cell = 12345;
    EXPECT_EQ(uniformRandom(cell), 15466);
    EXPECT_EQ(cell, 15466);
    EXPECT_EQ(uniformRandom(cell), 6047);
    EXPECT_EQ(uniformRandom(cell), 1768);

    int16_t zero = 0;
    EXPECT_EQ(uniformRandom(zero), 6925);

    // Negative cell values (never produced, but a cell is a signed 16-bit integer) stay in range.
    int16_t negative = -1;
    const int16_t value = uniformRandom(negative);
    EXPECT_GE(value, 0);
    EXPECT_LE(value, 32767);
}

TEST_F(RandomTest, UniformHasFullPeriod) {
    int16_t cell = 0;
    std::set<int16_t> seen;
    for (int i = 0; i < 32768; ++i) seen.insert(uniformRandom(cell));
    EXPECT_EQ(seen.size(), 32768u);
    EXPECT_EQ(cell, 0);  // back at the start after one period
}

TEST_F(RandomTest, GaussFromAlphabetSeed) {
    int16_t cell = 123;
    EXPECT_EQ(gaussRandom(cell, 0, 64), -55);
    EXPECT_EQ(gaussRandom(cell, 0, 64), 66);
    EXPECT_EQ(gaussRandom(cell, 0, 64), -105);
    EXPECT_EQ(cell, 1431);
}

TEST_F(RandomTest, GaussAdvancesTwelveStepsWhateverSigma) {
    int16_t gauss = 4711;
    int16_t uniform = 4711;
    EXPECT_EQ(gaussRandom(gauss, 17, 0), 17);
    for (int i = 0; i < 12; ++i) uniformRandom(uniform);
    EXPECT_EQ(gauss, uniform);
}

TEST_F(RandomTest, GaussStaysWithinSixSigmaAndRoundsTowardMinusInfinity) {
    int16_t cell = 999;
    for (int i = 0; i < 20000; ++i) {
        const int v = gaussRandom(cell, 100, 50);
        ASSERT_GE(v, 100 - 6 * 50);
        ASSERT_LE(v, 100 + 6 * 50);
    }
    // The scaled value is the centred sum times sigma shifted arithmetically, which rounds
    // toward minus infinity: a negative product that is not a multiple of 32768 gives the floor,
    // one below what a truncating division would give.
    int checked = 0;
    for (int16_t start = 0; start < 2000 && checked < 50; ++start) {
        int16_t probe = start;
        int32_t sum = 0;
        for (int i = 0; i < 12; ++i) sum += uniformRandom(probe);
        const int32_t product = (sum - 196608) * 3;
        if (product >= 0 || product % 32768 == 0) continue;
        int16_t cell2 = start;
        const int floorValue = static_cast<int>(std::floor(product / 32768.0));
        ASSERT_EQ(gaussRandom(cell2, 0, 3), floorValue);
        ASSERT_EQ(floorValue, product / 32768 - 1);
        ++checked;
    }
    EXPECT_EQ(checked, 50);
}

TEST_F(RandomTest, GaussAtTheSigmaLimitIsDefined) {
    // At |sigma| = 10922 the 32-bit product cannot overflow; the extremes stay within 6 sigma.
    int16_t cell = 1;
    for (int i = 0; i < 5000; ++i) {
        const int v = gaussRandom(cell, 0, gaussSigmaLimit);
        ASSERT_LE(v, 6 * gaussSigmaLimit);
        ASSERT_GE(v, -6 * gaussSigmaLimit);
        const int w = gaussRandom(cell, 0, -gaussSigmaLimit);
        ASSERT_LE(w, 6 * gaussSigmaLimit);
        ASSERT_GE(w, -6 * gaussSigmaLimit);
    }
}

TEST_F(RandomTest, LibraryGeneratorFirstValuesAndState) {
    int32_t state = SeedCells{}.libraryState;
    EXPECT_EQ(libraryRandom(state), 41);
    EXPECT_EQ(libraryRandom(state), 18467);
    EXPECT_EQ(libraryRandom(state), 6334);
    // The state wraps modulo 2^32 and the output is always 15 bits.
    for (int i = 0; i < 100000; ++i) {
        const int r = libraryRandom(state);
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

TEST_F(RandomTest, JumpAheadEqualsSteppingOneDrawAtATime) {
    // Random counts (from a generator of the test's own), every start value kind, and the counts
    // around the period.
    uint64_t x = 88172645463325252ull;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    for (int trial = 0; trial < 200; ++trial) {
        const auto start = static_cast<int16_t>(next() & 0xFFFF);  // negative values included
        const uint64_t draws = trial < 100 ? next() % 5000 : next() % 70000;
        int16_t stepped = start;
        for (uint64_t i = 0; i < draws; ++i) uniformRandom(stepped);
        ASSERT_EQ(uniformJump(start, draws), stepped) << "from " << start << " by " << draws;
    }
    for (const uint64_t draws : {0ull, 1ull, 12ull, 32767ull, 32768ull, 32769ull, 65536ull}) {
        int16_t stepped = 12345;
        for (uint64_t i = 0; i < draws; ++i) uniformRandom(stepped);
        EXPECT_EQ(uniformJump(12345, draws), stepped) << draws;
    }
    // Counts beyond any loop: the period divides them out.
    EXPECT_EQ(uniformJump(12345, 32768ull * 1000003ull + 3), 1768);
    EXPECT_EQ(uniformJump(-5, 0), -5);
    // A Gaussian draw is twelve uniform ones.
    int16_t cell = 123;
    gaussRandom(cell, 0, 64);
    EXPECT_EQ(uniformJump(123, 12), cell);
}
