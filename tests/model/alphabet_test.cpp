#include "model/alphabet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "model/random.h"

namespace {
std::vector<int> samples(const PulseHeader& p) {
    return std::vector<int>(p.lpData.get(), p.lpData.get() + p.wSize);
}
}  // namespace

class AlphabetTest : public ::testing::Test {
protected:
    int16_t seed = SeedCells{}.alphabetSeed;  ///< the test's own alphabet cell
    RecordingMessageSink sink;
    Alphabet alphabet;
};

TEST_F(AlphabetTest, DefaultShapesMatchTheirWorkedValues) {
    ASSERT_EQ(buildAlphabet(sink, 128, 20, 20, alphabet, seed), 1);
    EXPECT_TRUE(sink.messages.empty());
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(alphabet[i].wNumber, i + 1);
        EXPECT_EQ(alphabet[i].wSize, 20);
        EXPECT_EQ(alphabet[i].wAllocatedSize, 20);
    }
    EXPECT_EQ(samples(alphabet[0]), std::vector<int>(20, 60));
    EXPECT_EQ(samples(alphabet[1]), std::vector<int>(20, -60));

    const auto e3 = samples(alphabet[2]);
    EXPECT_EQ((std::vector<int>{e3[0], e3[1], e3[2]}), (std::vector<int>{12, 24, 36}));
    EXPECT_EQ((std::vector<int>{e3[17], e3[18], e3[19]}), (std::vector<int>{36, 24, 12}));

    const auto e5 = samples(alphabet[4]);
    EXPECT_EQ((std::vector<int>{e5[0], e5[1], e5[2]}), (std::vector<int>{24, 47, 65}));
    EXPECT_EQ((std::vector<int>{e5[17], e5[18], e5[19]}), (std::vector<int>{-65, -47, -24}));
    EXPECT_EQ(*std::max_element(e5.begin(), e5.end()), 83);  // amplitude 84, never reached exactly

    const auto e7 = samples(alphabet[6]);
    for (int zero : {0, 5, 10, 15}) EXPECT_EQ(e7[zero], 0) << "sample " << zero;
    EXPECT_EQ(e7[4], -147);
    EXPECT_LE(*std::max_element(e7.begin(), e7.end()), 155);

    const auto e9 = samples(alphabet[8]);
    EXPECT_EQ((std::vector<int>{e9[0], e9[1], e9[2]}), (std::vector<int>{0, 102, 115}));
    EXPECT_EQ(std::max_element(e9.begin(), e9.end()) - e9.begin(), 4);
    EXPECT_EQ(e9[4], 118);
    EXPECT_EQ(e9[19], 2);  // decayed to exp(-4) of the peak, truncated

    const auto e11 = samples(alphabet[10]);
    EXPECT_EQ((std::vector<int>{e11[0], e11[1], e11[2]}), (std::vector<int>{-55, 66, -105}));
}

TEST_F(AlphabetTest, NegationsMirrorTheFinishedPreviousEtalon) {
    ASSERT_EQ(buildAlphabet(sink, 128, 20, 20, alphabet, seed), 1);
    for (int odd : {0, 2, 4, 6, 8})
        for (int k = 0; k < 20; ++k) EXPECT_EQ(alphabet[odd + 1].lpData[k], -alphabet[odd].lpData[k]);
}

TEST_F(AlphabetTest, RandomEtalonsDrawInOrderAndAreClamped) {
    ASSERT_EQ(buildAlphabet(sink, 128, 20, 20, alphabet, seed), 1);
    int16_t cell = 123;
    for (int j = 10; j < 20; ++j)
        for (int k = 0; k < 20; ++k) {
            const int s = std::clamp(gaussRandom(cell, 0, 64), -128, 127);
            ASSERT_EQ(alphabet[j].lpData[k], s) << "etalon " << j + 1 << " sample " << k;
        }
    EXPECT_EQ(seed, cell);
    // Clamping is reached: with sigma 64, -128 and 127 both occur among 200 samples.
    bool low = false, high = false;
    for (int j = 10; j < 20; ++j)
        for (int k = 0; k < 20; ++k) {
            low |= alphabet[j].lpData[k] == -128;
            high |= alphabet[j].lpData[k] == 127;
        }
    EXPECT_TRUE(low);
    EXPECT_TRUE(high);
}

TEST_F(AlphabetTest, FixedLevelsDoNotFollowTheAmplitude) {
    ASSERT_EQ(buildAlphabet(sink, 64, 20, 20, alphabet, seed), 1);
    EXPECT_EQ(alphabet[0].lpData[5], 60);
    const auto e5 = samples(alphabet[4]);
    EXPECT_EQ(e5[0], 24);  // amplitude 60 * 1414 / 1000 = 84 whatever the parameter
    // The half sine does follow it: 2 * 64 / 3 - 1 = 41.
    const auto e3 = samples(alphabet[2]);
    EXPECT_LT(*std::max_element(e3.begin(), e3.end()), 42);
    for (int j = 10; j < 20; ++j)
        for (int k = 0; k < 20; ++k) {
            EXPECT_GE(alphabet[j].lpData[k], -64);
            EXPECT_LE(alphabet[j].lpData[k], 63);
        }
}

TEST_F(AlphabetTest, SmallAlphabetDrawsNothing) {
    ASSERT_EQ(buildAlphabet(sink, 128, 10, 20, alphabet, seed), 1);
    EXPECT_EQ(seed, 123);
    EXPECT_EQ(alphabet[10].lpData, nullptr);
}

TEST_F(AlphabetTest, ShortestLengthBuildsAndShorterIsRefused) {
    ASSERT_EQ(buildAlphabet(sink, 128, 20, minImpulseSize, alphabet, seed), 1);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(alphabet[6].wSize, 6);

    const int16_t cell = seed;
    Alphabet fresh;
    for (uint16_t n : {0, 1, 5}) {
        sink.messages.clear();
        EXPECT_EQ(buildAlphabet(sink, 128, 20, n, fresh, seed), 0);
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].caption, " buildAlphabet ");
        EXPECT_EQ(sink.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(fresh[0].lpData, nullptr);
    }
    EXPECT_EQ(seed, cell);  // a refused build draws nothing
}

TEST_F(AlphabetTest, OversizedAlphabetAndAmplitudeAreRefused) {
    EXPECT_EQ(buildAlphabet(sink, 128, 21, 20, alphabet, seed), 0);
    EXPECT_EQ(alphabet[0].lpData, nullptr);
    // A/2 above the generator's sigma limit would overflow its 32-bit product.
    const int16_t before = seed;
    EXPECT_EQ(buildAlphabet(sink, 21846, 20, 20, alphabet, seed), 0);
    EXPECT_EQ(seed, before);
    EXPECT_EQ(sink.messages.size(), 2u);
    // Without random etalons the amplitude is harmless.
    EXPECT_EQ(buildAlphabet(sink, 21846, 10, 20, alphabet, seed), 1);
}

TEST_F(AlphabetTest, RebuildReusesOrWarnsOnceAndReallocates) {
    ASSERT_EQ(buildAlphabet(sink, 128, 20, 20, alphabet, seed), 1);
    const int16_t* first = alphabet[3].lpData.get();
    ASSERT_EQ(buildAlphabet(sink, 128, 20, 12, alphabet, seed), 1);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(alphabet[3].lpData.get(), first);  // large enough: reused
    EXPECT_EQ(alphabet[3].wAllocatedSize, 20);
    EXPECT_EQ(alphabet[3].wSize, 12);

    ASSERT_EQ(buildAlphabet(sink, 128, 20, 30, alphabet, seed), 1);
    ASSERT_EQ(sink.messages.size(), 1u);  // once, not per etalon
    EXPECT_EQ(sink.messages[0].text, "Предварительное освобождение памяти!");
    EXPECT_EQ(sink.messages[0].caption, "Отладка");
    EXPECT_EQ(sink.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(alphabet[3].wAllocatedSize, 30);
    EXPECT_EQ(alphabet[3].wSize, 30);
    EXPECT_EQ(alphabet[0].lpData[29], 60);

    releaseAlphabet(20, alphabet);
    for (const auto& p : alphabet) EXPECT_EQ(p.lpData, nullptr);
}

TEST(WaveformTest, GeneratorsOnOddLengths) {
    // Half sine: symmetric, first and last equal and non-zero.
    std::vector<int16_t> out(7);
    halfSineWave(100, 7, out.data());
    EXPECT_EQ(out.front(), out.back());
    EXPECT_NE(out.front(), 0);
    EXPECT_EQ(out[3], 100);  // the middle phase is pi/2 to double precision: sin gives 1.0
    // Full sine: positive half first, antisymmetric.
    sineWave(100, 7, out.data());
    for (int i = 0; i < 7; ++i) EXPECT_EQ(out[i], -out[6 - i]) << i;
    EXPECT_GT(out[0], 0);
    // Envelope: zero at the start, peak at `rise`.
    std::vector<int16_t> env(12);
    envelopeWave(50, 3, 12, env.data());
    EXPECT_EQ(env[0], 0);
    EXPECT_EQ(std::max_element(env.begin(), env.end()) - env.begin(), 3);
    EXPECT_EQ(env[3], 50);
    // negatedCopy of the most negative sample wraps as 16-bit arithmetic does.
    const int16_t source[3] = {1, -2, 300};
    int16_t neg[3];
    negatedCopy(3, source, neg);
    EXPECT_EQ(neg[0], -1);
    EXPECT_EQ(neg[1], 2);
    EXPECT_EQ(neg[2], -300);
}
