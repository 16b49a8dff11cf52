#include "model/series.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "model/random.h"
#include "model/subsets.h"

namespace {
// Start-up geometry: 1200 samples, etalons of 20, gaps 40..181, hence 6 to 30 pulses.
constexpr uint32_t kN = 1200;
constexpr uint16_t kL = 20, kTmin = 40, kTmax = 181;
using Seq = std::vector<uint16_t>;

int16_t advanced(int16_t cell, int steps) {
    for (int i = 0; i < steps; ++i) uniformRandom(cell);
    return cell;
}

auto seedsOf(const SeedCells& s) {
    return std::tuple(s.pulseCountSeed, s.positionSeed, s.cutStartSeed, s.cutEndSeed, s.subsetSeed,
                      s.subsetRepeatSeed);
}

// Energy of the samples from..to (inclusive) of an etalon.
int64_t energy(const PulseHeader& e, int from, int to) {
    int64_t sum = 0;
    for (int k = from; k <= to; ++k) sum += int64_t{e.lpData[k]} * e.lpData[k];
    return sum;
}

// The first placed pulse, then the later ones forward, then the earlier ones backward.
std::vector<int> placementOrder(int K, int j0) {
    std::vector<int> order{j0};
    for (int j = j0 + 1; j < K; ++j) order.push_back(j);
    for (int j = j0 - 1; j >= 0; --j) order.push_back(j);
    return order;
}

std::vector<int16_t> copyOf(const int16_t* p, size_t n) { return {p, p + n}; }

// Everything a refused call must leave as it was.
auto stateOf(const SeriesHeader& h) {
    const size_t P = h.wAllocatedPulses;
    return std::tuple(h.dwSeriesSize, h.dwAllocatedSize, h.wTmin, h.wTmax, h.wImpulseSize,
                      h.wImpulseQuantity, h.wMaxPulses, h.wMinPulses, P, h.wPulsesListSize,
                      h.wSelectedSubsetSize, h.wNoiseSigma, h.lpPureData,
                      copyOf(h.lpPureData, h.dwAllocatedSize), copyOf(h.lpNoisyData, h.dwAllocatedSize),
                      copyOf(h.lpTruePosition, P), copyOf(h.lpTrueCutStart, P),
                      copyOf(h.lpTrueCutEnd, P), copyOf(h.lpTrueEtalon, P));
}
}  // namespace

class SeriesTest : public ::testing::Test {
protected:
    void SetUp() override {
        int16_t alphabetCell = SeedCells{}.alphabetSeed;
        ASSERT_EQ(buildAlphabet(sink, 128, 20, 20, alphabet, alphabetCell), 1);
        sink.messages.clear();
    }
    void TearDown() override { freeSeriesHeader(std::move(header)); }

    // Builds into `header`; true when a header came back and nothing was reported.
    bool build(uint16_t K, Seq& seq, uint16_t saved = 75, uint32_t N = kN, uint16_t L = kL,
               uint16_t tmin = kTmin, uint16_t tmax = kTmax) {
        const size_t before = sink.messages.size();
        header = getCutOffSeries(sink, 20, alphabet, L, tmin, tmax, N, K, seq, 128, saved, std::move(header), streams);
        return header && sink.messages.size() == before;
    }

    // Checks the last build against its sequence: layout, cuts, samples and the draws it made
    // from the seed cells, which held `before` when it started.
    void expectConsistentBuild(const Seq& seq, uint16_t saved, const SeedCells& before) {
        const SeriesHeader& h = *header;
        const int N = h.dwSeriesSize, L = h.wImpulseSize, K = h.wImpulseQuantity;
        for (int j = 0; j < K; ++j) {
            SCOPED_TRACE("pulse " + std::to_string(j));
            const int s = h.lpTruePosition[j], c0 = h.lpTrueCutStart[j], c1 = h.lpTrueCutEnd[j];
            EXPECT_EQ(h.lpTrueEtalon[j], seq[j]);
            EXPECT_TRUE(h.lpPositionMin[j] <= s && s <= h.lpPositionMax[j]);
            EXPECT_TRUE(s >= 0 && s + L <= N) << s;
            if (j > 0) {
                EXPECT_GE(s - h.lpTruePosition[j - 1], h.wTmin);
                EXPECT_LE(s - h.lpTruePosition[j - 1], h.wTmax);
            }
            EXPECT_EQ(std::tuple(h.lpFoundPosition[j], h.lpFoundEtalon[j], h.lpFoundCutStart[j],
                                 h.lpFoundCutEnd[j]), std::tuple(-1, 0, 0, 0));
            ASSERT_TRUE(0 <= c0 && c0 <= c1 && c1 < L) << c0 << ".." << c1;
            // The kept stretch holds more than the saved share, unless it is the whole pulse.
            const PulseHeader& e = alphabet[seq[j] - 1];
            const int64_t total = energy(e, 0, L - 1), t = saved * total / 100;
            if (total > t)
                EXPECT_GT(energy(e, c0, c1), t) << c0 << ".." << c1;
            else
                EXPECT_TRUE(c0 == 0 && c1 == L - 1);
        }
        // The first pulse ends within Tmax of the series start, the last starts within Tmax of its end.
        EXPECT_LE(h.lpTruePosition[0] + L, h.wTmax);
        EXPECT_GE(h.lpTruePosition[K - 1], N - h.wTmax);

        // Re-render independently: where kept stretches overlap, the pulse placed later wins.
        int16_t cell = before.positionSeed;
        const int j0 = (uniformRandom(cell) >> 2) % K;
        std::vector<int16_t> expected(N, 0);
        for (int j : placementOrder(K, j0))
            for (int k = h.lpTrueCutStart[j]; k <= h.lpTrueCutEnd[j]; ++k)
                expected[h.lpTruePosition[j] + k] = alphabet[seq[j] - 1].lpData[k];
        EXPECT_EQ(copyOf(h.lpPureData, N), expected);
        EXPECT_EQ(copyOf(h.lpNoisyData, N), expected);
        EXPECT_EQ(h.wNoiseSigma, 0);
        EXPECT_EQ(h.lpFirstEtalon, &alphabet[seq[0] - 1]);
        // One draw picks the first pulse; then one start and one draw per cut end for every pulse.
        EXPECT_EQ(streams.positionSeed, advanced(before.positionSeed, K + 1));
        EXPECT_EQ(streams.cutStartSeed, advanced(before.cutStartSeed, K));
        EXPECT_EQ(streams.cutEndSeed, advanced(before.cutEndSeed, K));
    }

    // What processing leaves behind; a build must clear it.
    void dirtyFoundArrays() {
        for (int16_t* a : {header->lpFoundPosition, header->lpFoundEtalon, header->lpFoundCutStart,
                           header->lpFoundCutEnd})
            std::fill_n(a, header->wAllocatedPulses, int16_t{77});
    }

    RecordingMessageSink sink;
    Alphabet alphabet;
    std::unique_ptr<SeriesHeader> header;
    SeedCells streams;  ///< the test's own random streams
};

TEST_F(SeriesTest, PulseCountOutsideTheBoundsIsRefusedWithTheValues) {
    EXPECT_EQ(std::tuple(seriesPulseBounds(kL, kTmin, kTmax, kN).wMinPulses,
                         seriesPulseBounds(kL, kTmin, kTmax, kN).wMaxPulses), std::tuple(6, 30));
    Seq seq(31, 3);
    ASSERT_TRUE(build(6, seq));
    const auto built = stateOf(*header);
    const SeedCells seeds = streams;
    for (uint16_t K : {5, 31}) {
        SCOPED_TRACE(K);
        sink.messages.clear();
        SeriesHeader* const same = header.get();
        EXPECT_FALSE(build(K, seq));
        EXPECT_EQ(header.get(), same);
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text,
                  "Несовместимые входные параметры!\n\ndwSeriesSize: 1200 [1200]\n"
                  "wImpulseSize: 20 [20]\nwMinPulses: 6 [6]\nwMaxPulses: 30 [30]\n"
                  "wImpulseQuantity: " + std::to_string(K) + "\n\n");
        EXPECT_EQ(sink.messages[0].caption, " makeExtSeries ");
        EXPECT_EQ(sink.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(stateOf(*header), built);
        EXPECT_EQ(seedsOf(streams), seedsOf(seeds));
    }
    ASSERT_TRUE(build(30, seq));
    EXPECT_EQ(header->wImpulseQuantity, 30);
}

TEST_F(SeriesTest, GlobalWindowsAtTheExtremePulseCounts) {
    // 30 pulses: pulse j starts in 40j..40j+20.
    Seq seq(30, 3);
    ASSERT_TRUE(build(30, seq));
    for (int j = 0; j < 30; ++j)
        EXPECT_EQ(std::tuple(header->lpPositionMin[j], header->lpPositionMax[j]),
                  std::tuple(40 * j, 40 * j + 20)) << j;
    // 6 pulses: the windows come from the series end and Tmax, 47 samples each.
    ASSERT_TRUE(build(6, seq));
    const int lo[] = {114, 295, 476, 657, 838, 1019}, hi[] = {161, 342, 523, 704, 885, 1066};
    for (int j = 0; j < 6; ++j)
        EXPECT_EQ(std::tuple(header->lpPositionMin[j], header->lpPositionMax[j]),
                  std::tuple(lo[j], hi[j])) << j;
}

TEST_F(SeriesTest, RandomBuildsKeepLayoutCutAndSampleInvariants) {
    std::mt19937 rng(2024);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int built = 0; built < 300 && !HasFailure();) {
        const uint32_t N = pick(200, 3000);
        const uint16_t L = pick(6, 20), tmin = pick(1, 120);
        const uint16_t tmax = pick(std::max<int>(L, tmin), std::max<int>(L, tmin) + 200);
        const PulseBounds b = seriesPulseBounds(L, tmin, tmax, N);
        if (b.wMaxPulses < b.wMinPulses) continue;
        const uint16_t K = pick(b.wMinPulses, b.wMaxPulses), saved = pick(0, 100);
        Seq seq(K);
        for (uint16_t& e : seq) e = pick(1, 20);
        SCOPED_TRACE("N " + std::to_string(N) + " L " + std::to_string(L) + " T " +
                     std::to_string(tmin) + ".." + std::to_string(tmax) + " K " +
                     std::to_string(K) + " saved " + std::to_string(saved));
        if (header) dirtyFoundArrays();
        const SeedCells before = streams;
        ASSERT_TRUE(build(K, seq, saved, N, L, tmin, tmax));
        expectConsistentBuild(seq, saved, before);
        ++built;
    }
}

TEST_F(SeriesTest, DrawsFollowThePlacementOrder) {
    const int K = 12, L = kL, N = kN, saved = 60;
    Seq seq(K);
    for (int j = 0; j < K; ++j) seq[j] = static_cast<uint16_t>((j * 7) % 20 + 1);
    SeedCells cells = streams;
    ASSERT_TRUE(build(K, seq, saved));
    const int j0 = (uniformRandom(cells.positionSeed) >> 2) % K;
    const int16_t* s = header->lpTruePosition;
    for (int j : placementOrder(K, j0)) {
        SCOPED_TRACE("pulse " + std::to_string(j) + ", first placed " + std::to_string(j0));
        int lo = std::max(j * kTmin, N - kTmax * (K - j));
        int hi = std::min((j + 1) * kTmax - L, N - L - kTmin * (K - j - 1));
        if (j > j0) lo = std::max(lo, s[j - 1] + kTmin), hi = std::min(hi, s[j - 1] + kTmax);
        if (j < j0) lo = std::max(lo, s[j + 1] - kTmax), hi = std::min(hi, s[j + 1] - kTmin);
        EXPECT_EQ(s[j], lo + (uniformRandom(cells.positionSeed) >> 2) % (hi - lo + 1));

        const PulseHeader& e = alphabet[seq[j] - 1];
        const int64_t t = saved * energy(e, 0, L - 1) / 100;
        int latest = L - 1;  // latest first sample whose tail still holds more than t
        while (latest > 0 && energy(e, latest, L - 1) <= t) --latest;
        const int c0 = uniformRandom(cells.cutStartSeed) % (latest + 1);
        int shortest = c0;  // earliest last sample that keeps more than t
        while (shortest < L - 1 && energy(e, c0, shortest) <= t) ++shortest;
        EXPECT_EQ(header->lpTrueCutStart[j], c0);
        EXPECT_EQ(header->lpTrueCutEnd[j], shortest + uniformRandom(cells.cutEndSeed) % (L - shortest));
    }
    EXPECT_EQ(seedsOf(streams), seedsOf(cells));
}

TEST_F(SeriesTest, ConstantEtalonAtThreeQuartersKeepsAtLeastSixteenSamples) {
    // Etalon 1 is 20 samples of 60: 75 % of its energy is exactly 15 samples, so 16 are needed.
    std::set<int> starts, endsFromZero;
    for (int round = 0; round < 40; ++round) {
        Seq seq(30, 1);
        ASSERT_TRUE(build(30, seq, 75));
        for (int j = 0; j < 30; ++j) {
            const int c0 = header->lpTrueCutStart[j], c1 = header->lpTrueCutEnd[j];
            EXPECT_LE(c0, 4);
            EXPECT_GE(c1 - c0 + 1, 16);
            EXPECT_TRUE(c0 != 4 || c1 == 19) << c1;
            starts.insert(c0);
            if (c0 == 0) endsFromZero.insert(c1);
        }
    }
    EXPECT_EQ(starts, (std::set<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(endsFromZero, (std::set<int>{15, 16, 17, 18, 19}));
}

TEST_F(SeriesTest, ExtremeEnergyLevels) {
    // 100 writes whole pulses and still draws both cut ends; 0 keeps some energy, also for
    // etalons 7 to 10, whose zero samples (at the start and inside) a cut may begin on.
    for (uint16_t saved : {0, 100})
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE(saved);
            Seq seq(30);
            for (int j = 0; j < 30; ++j) seq[j] = static_cast<uint16_t>(j % 2 ? 7 + (j / 2) % 4 : j % 20 + 1);
            const SeedCells before = streams;
            ASSERT_TRUE(build(30, seq, saved));
            expectConsistentBuild(seq, saved, before);
        }
}

TEST_F(SeriesTest, BoundaryLimitsStillBuild) {
    // A series exactly one etalon long holds one pulse at sample 0.
    Seq one{5};
    ASSERT_TRUE(build(1, one, 75, 20));
    EXPECT_EQ(std::tuple(header->wMinPulses, header->wMaxPulses, header->lpTruePosition[0]),
              std::tuple(1, 1, 0));
    // The longest accepted series: the last start can reach 32767.
    Seq seq(820, 3);
    const SeedCells before = streams;
    ASSERT_TRUE(build(820, seq, 75, 32787));
    expectConsistentBuild(seq, 75, before);
}

TEST_F(SeriesTest, RefusedLimitsLeaveHeaderSamplesAndSeedsAlone) {
    struct Limits { uint16_t L, tmin, tmax; uint32_t N; const char* why; };
    const Limits cases[] = {
        {20, 0, 181, 1200, "Tmin 0"},      {20, 40, 0, 1200, "Tmax 0"},
        {20, 50, 49, 1200, "Tmin > Tmax"}, {50, 40, 49, 1200, "L > Tmax"},
        {0, 40, 181, 1200, "L 0"},         {20, 40, 181, 19, "N < L"},
        {20, 40, 181, 32788, "N - L above 32767"}};
    Seq seq(30, 4);
    ASSERT_TRUE(build(10, seq));
    const auto built = stateOf(*header);
    const SeedCells seeds = streams;
    const Seq seqBefore = seq;
    for (const Limits& c : cases) {
        SCOPED_TRACE(c.why);
        auto expectRefused = [&](const char* routine) {
            SCOPED_TRACE(routine);
            ASSERT_EQ(sink.messages.size(), 1u);
            EXPECT_NE(sink.messages[0].caption.find(routine), std::string::npos);
            EXPECT_EQ(stateOf(*header), built);
            EXPECT_EQ(seedsOf(streams), seedsOf(seeds));
            EXPECT_EQ(seq, seqBefore);
            sink.messages.clear();
        };
        SeriesHeader* const record = header.get();
        header = getCutOffSeriesHeader(sink, 20, c.L, c.tmin, c.tmax, c.N, std::move(header));
        EXPECT_EQ(header.get(), record);
        expectRefused("getCutOffSeriesHeader");
        header = getCutOffSeries(sink, 20, alphabet, c.L, c.tmin, c.tmax, c.N, 10, seq, 128, 75,
                                 std::move(header), streams);
        EXPECT_EQ(header.get(), record);
        expectRefused("getCutOffSeries");
        header = getRandomCutOffSeries(sink, 20, alphabet, c.L, c.tmin, c.tmax, c.N, seq, 128, 75,
                                       std::move(header), streams);
        EXPECT_EQ(header.get(), record);
        expectRefused("getRandomCutOffSeries");
        EXPECT_EQ(makeExtSeries(sink, 20, alphabet, c.L, c.tmin, c.tmax, c.N, 10, seq, 128, 75,
                                header.get(), streams), 0);
        expectRefused("makeExtSeries");
        EXPECT_EQ(getCutOffSeriesHeader(sink, 20, c.L, c.tmin, c.tmax, c.N, nullptr), nullptr);
        expectRefused("getCutOffSeriesHeader");
    }
}

TEST_F(SeriesTest, SequenceShorterThanThePulseCountIsRefused) {
    Seq seq(10, 3);
    ASSERT_TRUE(build(10, seq));
    const auto built = stateOf(*header);
    const SeedCells seeds = streams;
    Seq shortSeq(9, 0);  // 0 would be rewritten by a build
    EXPECT_EQ(makeExtSeries(sink, 20, alphabet, kL, kTmin, kTmax, kN, 10, shortSeq, 128, 75, header.get(), streams), 0);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].caption, " makeExtSeries ");
    EXPECT_EQ(stateOf(*header), built);
    EXPECT_EQ(seedsOf(streams), seedsOf(seeds));
    EXPECT_EQ(shortSeq, Seq(9, 0));
}

TEST_F(SeriesTest, InvalidSequenceEntriesBecomeEtalonOne) {
    Seq seq{0, 21, 65535, 5, 20, 0, 7, 8, 9, 10};
    ASSERT_TRUE(build(10, seq));
    const Seq expected{1, 1, 1, 5, 20, 1, 7, 8, 9, 10};
    EXPECT_EQ(seq, expected);
    EXPECT_EQ(copyOf(header->lpTrueEtalon, 10), std::vector<int16_t>(expected.begin(), expected.end()));
    EXPECT_EQ(header->lpFirstEtalon, &alphabet[0]);

    // The limit is the alphabet size of the build; entries past K stay as they are.
    Seq small{11, 10, 3, 12, 1, 1, 1, 1, 1, 1, 0, 99};
    header = getCutOffSeries(sink, 10, alphabet, kL, kTmin, kTmax, kN, 10, small, 128, 75, std::move(header), streams);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(small, (Seq{1, 10, 3, 1, 1, 1, 1, 1, 1, 1, 0, 99}));
    EXPECT_EQ(header->wPulsesListSize, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(header->lpPulsesList[i], &alphabet[i]);

    // Entries laid in by the active subset are checked the same way.
    ASSERT_EQ(setSelectedSubset(sink, std::vector<int32_t>{25, 0, 6}, 2, 1, header.get()), 1);
    Seq laid(10, 4);
    ASSERT_TRUE(build(10, laid));
    EXPECT_EQ(laid, (Seq{1, 1, 6, 4, 4, 4, 4, 4, 4, 4}));
}

TEST_F(SeriesTest, NoiseIsAddedAfreshToThePureSeries) {
    Seq seq(10, 3);
    ASSERT_TRUE(build(10, seq));
    const std::vector<int16_t> pure = copyOf(header->lpPureData, kN);
    int16_t noise = initialNoiseSeed;
    EXPECT_EQ(addNoise(sink, header.get(), 0, noise), 1);
    EXPECT_EQ(copyOf(header->lpNoisyData, kN), pure);
    EXPECT_EQ(noise, advanced(initialNoiseSeed, 12 * kN));

    // Twice in a row: each call starts again from the pure series.
    for (int round = 0; round < 2; ++round) {
        int16_t copy = noise;
        EXPECT_EQ(addNoise(sink, header.get(), 30, noise), 1);
        EXPECT_EQ(header->wNoiseSigma, 30);
        int differing = 0;
        for (uint32_t i = 0; i < kN; ++i) {
            const int delta = header->lpNoisyData[i] - pure[i];
            ASSERT_EQ(delta, gaussRandom(copy, 0, 30)) << "sample " << i;
            differing += delta != 0;
        }
        EXPECT_GT(differing, 1000);
        EXPECT_EQ(noise, copy);
    }
    EXPECT_EQ(copyOf(header->lpPureData, kN), pure);
    EXPECT_TRUE(sink.messages.empty());
    // A rebuild clears the noise.
    ASSERT_TRUE(build(10, seq));
    EXPECT_EQ(header->wNoiseSigma, 0);
    EXPECT_EQ(copyOf(header->lpNoisyData, kN), copyOf(header->lpPureData, kN));
}

TEST_F(SeriesTest, OversizedNoiseLevelIsRefused) {
    Seq seq(10, 3);
    ASSERT_TRUE(build(10, seq));
    int16_t noise = initialNoiseSeed;
    ASSERT_EQ(addNoise(sink, header.get(), 12, noise), 1);
    const auto noisy = stateOf(*header);
    const int16_t cell = noise;
    for (int16_t sigma : {10923, -10923, 32767, -32768}) {
        SCOPED_TRACE(sigma);
        EXPECT_EQ(addNoise(sink, header.get(), sigma, noise), 0);
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_NE(sink.messages[0].caption.find("addNoise"), std::string::npos);
        EXPECT_EQ(stateOf(*header), noisy);
        EXPECT_EQ(noise, cell);
        sink.messages.clear();
    }
    for (int16_t sigma : {10922, -10922}) {
        EXPECT_EQ(addNoise(sink, header.get(), sigma, noise), 1);
        EXPECT_EQ(header->wNoiseSigma, sigma);
    }
    const int16_t after = noise;
    EXPECT_EQ(addNoise(sink, nullptr, 30, noise), 1);
    EXPECT_EQ(noise, after);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SeriesTest, BlockIsReusedWhileItHoldsTheBuild) {
    Seq seq(30, 9);
    ASSERT_TRUE(build(10, seq));
    const int16_t* block = header->lpPureData;
    ASSERT_TRUE(build(12, seq));
    EXPECT_EQ(header->lpPureData, block);
    // Smaller: the block and its sizes stay, the build's sizes follow the new limits.
    dirtyFoundArrays();
    const SeedCells before = streams;
    ASSERT_TRUE(build(10, seq, 75, 800));
    EXPECT_EQ(header->lpPureData, block);
    EXPECT_EQ(std::tuple(header->dwAllocatedSize, header->wAllocatedPulses, header->dwSeriesSize,
                         header->wMaxPulses, header->wMinPulses), std::tuple(1200u, 30, 800, 20, 4));
    expectConsistentBuild(seq, 75, before);
}

TEST_F(SeriesTest, GrownBlockStartsZeroedAndKeepsAFittingSubset) {
    // Small sizes: under AddressSanitizer a fresh block this small is pre-filled with non-zero
    // bytes, so any entry the header code fails to zero shows up.
    header = getCutOffSeriesHeader(sink, 20, kL, kTmin, kTmax, 200, nullptr);
    ASSERT_EQ(setSelectedSubset(sink, std::vector<int32_t>{3, 5, 7}, 3, 2, header.get()), 1);
    Seq seq(5, 9);
    ASSERT_TRUE(build(5, seq, 75, 200));
    dirtyFoundArrays();
    SeriesHeader* const record = header.get();
    for (const auto& [tmin, pulses] : {std::pair<uint16_t, uint16_t>{40, 8}, {20, 15}}) {
        SCOPED_TRACE(tmin);  // more samples, then more pulses
        header = getCutOffSeriesHeader(sink, 20, kL, tmin, kTmax, 300, std::move(header));
        ASSERT_EQ(header.get(), record);
        EXPECT_EQ(std::tuple(header->dwAllocatedSize, header->wAllocatedPulses, header->wMaxPulses),
                  std::tuple(300u, pulses, pulses));
        std::vector<int16_t> subset(pulses, 0);
        subset[0] = 3, subset[1] = 5, subset[2] = 7;
        EXPECT_EQ(copyOf(header->lpSelectedSubset, pulses), subset);
        EXPECT_EQ(std::tuple(header->wSelectedSubsetSize, header->wSubsetMode, header->wSubsetStart),
                  std::tuple(3, 3, 2));
        EXPECT_EQ(copyOf(header->lpPureData, 600), std::vector<int16_t>(600, 0));
        for (const int16_t* a : {header->lpTrueEtalon, header->lpFoundEtalon, header->lpTruePosition,
                                 header->lpFoundPosition, header->lpTrueCutEnd, header->lpFoundCutEnd,
                                 header->lpFoundGroupValue})
            EXPECT_EQ(copyOf(a, pulses), std::vector<int16_t>(pulses, 0));
    }
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SeriesTest, GrownBlockKeepsTheActiveSubsetOnlyWhenItFits) {
    // 2000 samples with Tmin 100 grow the block but admit only 20 pulses.
    for (int size : {20, 21}) {
        SCOPED_TRACE(size);
        freeSeriesHeader(std::move(header));
        header = getCutOffSeriesHeader(sink, 20, kL, kTmin, kTmax, kN, nullptr);
        ASSERT_EQ(setSelectedSubset(sink, std::vector<int32_t>(size, 6), 4, 1, header.get()), 1);
        header = getCutOffSeriesHeader(sink, 20, kL, 100, kTmax, 2000, std::move(header));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->wSelectedSubsetSize, size == 20 ? 20 : 0);
        Seq seq(15, 2);
        ASSERT_TRUE(build(15, seq, 75, 2000, kL, 100, kTmax));
        EXPECT_EQ(seq, Seq(15, size == 20 ? 6 : 2));
    }
}

TEST_F(SeriesTest, StoredSubsetsAreUntouchedByHeaderGrowth) {
    header = getCutOffSeriesHeader(sink, 20, kL, kTmin, kTmax, kN, nullptr);
    const std::vector<int32_t> a{1, 2, 3}, b{4, 5};
    const std::vector<std::span<const int32_t>> lists{a, b};
    ASSERT_EQ(addSomeSelectedSubsetToSeriesHeader(sink, std::vector<int32_t>{3, 2}, lists, 4, 6, 1,
                                                  4, 1, header.get()), 1);
    const int16_t* sizes = header->selectedSubsetSize.get();
    header = getCutOffSeriesHeader(sink, 20, kL, 20, kTmax, 3000, std::move(header));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->selectedSubsetSize.get(), sizes);
    EXPECT_EQ(std::tuple(header->wSubsetsCount, sizes[0], sizes[1]), std::tuple(2, 3, 2));
    EXPECT_EQ(copyOf(header->selectedSubsetList[1], 2), (std::vector<int16_t>{4, 5}));
}

TEST_F(SeriesTest, RandomPulseCountIsDrawnBetweenTheBounds) {
    std::set<int> counts;
    Seq seq(30, 4);
    for (int round = 0; round < 40; ++round) {
        int16_t cell = streams.pulseCountSeed;
        const int K = 6 + (uniformRandom(cell) >> 2) % 25;
        header = getRandomCutOffSeries(sink, 20, alphabet, kL, kTmin, kTmax, kN, seq, 128, 75, std::move(header), streams);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->wImpulseQuantity, K);
        EXPECT_EQ(streams.pulseCountSeed, cell);
        counts.insert(K);
    }
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_GT(counts.size(), 10u);
}

TEST_F(SeriesTest, NoAdmissibleRandomCountReleasesTheHeaderSilently) {
    Seq seq(30, 4);
    ASSERT_TRUE(build(10, seq));
    const SeedCells seeds = streams;
    // 30 samples, etalons of 20, Tmin = Tmax = 20: at least 2 pulses needed, at most 1 fits.
    header = getRandomCutOffSeries(sink, 20, alphabet, 20, 20, 20, 30, seq, 128, 75, std::move(header), streams);
    EXPECT_EQ(header, nullptr);
    EXPECT_EQ(getRandomCutOffSeries(sink, 20, alphabet, 20, 20, 20, 30, seq, 128, 75, nullptr, streams), nullptr);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(seedsOf(streams), seedsOf(seeds));
}

// Subset layout: the active subset is laid into a sequence of etalon 2 before a build of K pulses.
class SeriesSubsetLayoutTest : public SeriesTest {
protected:
    Seq layOut(std::vector<int32_t> subset, int mode, int start, uint16_t K = 10) {
        if (!header) header = getCutOffSeriesHeader(sink, 20, kL, kTmin, kTmax, kN, nullptr);
        EXPECT_EQ(setSelectedSubset(sink, subset, mode, start, header.get()), 1);
        Seq seq(K, 2);
        EXPECT_TRUE(build(K, seq));
        for (int j = 0; j < K; ++j) EXPECT_EQ(header->lpTrueEtalon[j], seq[j]);
        return seq;
    }
};

TEST_F(SeriesSubsetLayoutTest, FixedAndCompleteModesDrawNothing) {
    const SeedCells seeds = streams;
    EXPECT_EQ(layOut({3, 5, 7}, 2, 4), (Seq{2, 2, 2, 3, 5, 7, 2, 2, 2, 2}));
    EXPECT_EQ(layOut({3, 5, 7}, 2, 9), (Seq{2, 2, 2, 2, 2, 2, 2, 2, 3, 5}));
    EXPECT_EQ(layOut({3, 5, 7}, 2, 11), Seq(10, 2));  // starts beyond K: nothing laid
    EXPECT_EQ(layOut({9}, 4, 3), (Seq{2, 2, 9, 9, 9, 9, 9, 9, 9, 9}));
    EXPECT_EQ(layOut({4, 6}, 4, 1), (Seq{4, 6, 4, 6, 4, 6, 4, 6, 4, 6}));
    EXPECT_EQ(layOut({4, 6}, 4, 2), (Seq{2, 4, 6, 4, 6, 4, 6, 4, 6, 4}));
    EXPECT_EQ(layOut({4, 6}, 0, 1), Seq(10, 2));  // unknown modes lay nothing
    EXPECT_EQ(layOut({4, 6}, 6, 1), Seq(10, 2));
    EXPECT_EQ(std::tuple(streams.subsetSeed, streams.subsetRepeatSeed),
              std::tuple(seeds.subsetSeed, seeds.subsetRepeatSeed));
    // The active subset keeps shaping later builds.
    EXPECT_EQ(layOut({8, 1}, 2, 5), (Seq{2, 2, 2, 2, 8, 1, 2, 2, 2, 2}));
    Seq seq(10, 6);
    ASSERT_TRUE(build(10, seq));
    EXPECT_EQ(seq, (Seq{6, 6, 6, 6, 8, 1, 6, 6, 6, 6}));
}

TEST_F(SeriesSubsetLayoutTest, SingleRandomModeCopiesOnceAtADrawnOffset) {
    std::set<int> offsets;
    for (int round = 0; round < 60; ++round) {
        int16_t cell = streams.subsetSeed;
        const int16_t repeatCell = streams.subsetRepeatSeed;
        const int offset = (uniformRandom(cell) >> 1) % 7;  // R = 10 - 1 - 3 + 1
        Seq expected(10, 2);
        std::copy_n(Seq{3, 5, 7}.begin(), 3, expected.begin() + 1 + offset);
        ASSERT_EQ(layOut({3, 5, 7}, 1, 2), expected);
        EXPECT_EQ(std::tuple(streams.subsetSeed, streams.subsetRepeatSeed), std::tuple(cell, repeatCell));
        offsets.insert(offset);
    }
    EXPECT_EQ(offsets.size(), 7u);
    // No room for an offset: no draw, the pass is cut at K.
    const int16_t cell = streams.subsetSeed;
    EXPECT_EQ(layOut({3, 5, 7}, 1, 9), (Seq{2, 2, 2, 2, 2, 2, 2, 2, 3, 5}));
    EXPECT_EQ(streams.subsetSeed, cell);
}

TEST_F(SeriesSubsetLayoutTest, MultipleRandomModeRepeatsAfterDrawnGaps) {
    const Seq subset{3, 5, 7};
    for (int round = 0; round < 30; ++round) {
        int16_t cell = streams.subsetRepeatSeed;
        const int16_t singleCell = streams.subsetSeed;
        Seq expected(12, 2);
        int p = 1;  // start 2; R = 12 - 1 - 3 + 1 = 9
        do {
            p += (uniformRandom(cell) >> 1) % 9;
            for (int i = 0; i < 3 && p < 12; ++i) expected[p++] = subset[i];
        } while (p < 12);
        ASSERT_EQ(layOut({3, 5, 7}, 3, 2, 12), expected);
        EXPECT_EQ(std::tuple(streams.subsetSeed, streams.subsetRepeatSeed), std::tuple(singleCell, cell));
    }
}

TEST_F(SeriesSubsetLayoutTest, ShiftedCompleteModeStartsInsideTheSubset) {
    std::set<int> shifts;
    for (int round = 0; round < 30; ++round) {
        int16_t cell = streams.subsetSeed;
        const int16_t repeatCell = streams.subsetRepeatSeed;
        const int r = (uniformRandom(cell) >> 1) % 3;
        const int start = round % 2 ? 1 : 3;
        const Seq seq = layOut({3, 5, 7}, 5, start);
        for (int k = 0; k < 10; ++k)
            EXPECT_EQ(seq[k], (k < start - 1 ? 2 : Seq{3, 5, 7}[(r + k - (start - 1)) % 3])) << k;
        EXPECT_EQ(std::tuple(streams.subsetSeed, streams.subsetRepeatSeed), std::tuple(cell, repeatCell));
        shifts.insert(r);
    }
    EXPECT_EQ(shifts.size(), 3u);
}

TEST(SeriesBoundsTest, PulseCountBoundsAndTheMakersLeastCountOfOne) {
    PulseCountBounds b{};
    ASSERT_EQ(pulseCountBounds(1200, 20, 40, 181, b), 1);
    EXPECT_EQ(std::tuple(b.minimum, b.maximum, b.suggested), std::tuple(6, 30, 18));
    ASSERT_EQ(pulseCountBounds(200, 20, 40, 181, b), 1);
    EXPECT_EQ(std::tuple(b.minimum, b.maximum, b.suggested), std::tuple(1, 5, 3));  // (200 + 19) / 181

    // A series shorter than one gap: the bounds start at 0, the makers' least count at 1.
    ASSERT_EQ(pulseCountBounds(20, 20, 40, 181, b), 1);
    EXPECT_EQ(std::tuple(b.minimum, b.maximum), std::tuple(0, 1));
    const PulseBounds makers = seriesPulseBounds(20, 40, 181, 20);
    EXPECT_EQ(std::tuple(makers.wMinPulses, makers.wMaxPulses), std::tuple(1, 1));

    // No bounds exist for a zero limit or an etalon longer than the series and a gap: refused,
    // the previous values stay (and the makers' form gives no count instead of dividing by 0).
    const PulseCountBounds before = b;
    EXPECT_EQ(pulseCountBounds(1200, 20, 0, 181, b), 0);
    EXPECT_EQ(pulseCountBounds(1200, 20, 40, 0, b), 0);
    EXPECT_EQ(pulseCountBounds(10, 100, 40, 181, b), 0);  // would wrap below zero
    EXPECT_EQ(std::tuple(b.minimum, b.maximum), std::tuple(before.minimum, before.maximum));
    const PulseBounds none = seriesPulseBounds(20, 0, 181, 1200);
    EXPECT_EQ(std::tuple(none.wMinPulses, none.wMaxPulses), std::tuple(0, 0));
}

TEST_F(SeriesTest, RestorationErrorOfTheTrueLayoutIsZeroAndOfNoneTheEnergy) {
    Seq seq(30, 1);
    for (size_t i = 0; i < seq.size(); ++i) seq[i] = static_cast<uint16_t>(1 + i % 20);
    ASSERT_TRUE(build(12, seq));
    const SeriesHeader& h = *header;
    const PulseLayoutView truth{h.wImpulseQuantity, h.lpTruePosition, h.lpTrueEtalon, h.lpTrueCutStart,
                                h.lpTrueCutEnd};
    EXPECT_EQ(restorationError(h, truth), 0);
    uint32_t energy = 0;
    for (int32_t t = 0; t < h.dwSeriesSize; ++t)
        energy += static_cast<uint32_t>(h.lpPureData[t]) * static_cast<uint32_t>(h.lpPureData[t]);
    EXPECT_EQ(restorationError(h, PulseLayoutView{}), static_cast<int32_t>(energy));
    // An etalon number outside the list restores nothing: the pulse's energy remains.
    std::vector<int16_t> wrong(h.lpTrueEtalon, h.lpTrueEtalon + h.wImpulseQuantity);
    wrong[0] = 0;
    const PulseLayoutView missing{h.wImpulseQuantity, h.lpTruePosition, wrong.data(), h.lpTrueCutStart,
                                  h.lpTrueCutEnd};
    EXPECT_GT(restorationError(h, missing), 0);
    EXPECT_EQ(etalonOf(h, 0), nullptr);
    EXPECT_EQ(etalonOf(h, 21), nullptr);
    EXPECT_EQ(etalonOf(h, 20), &alphabet[19]);
    EXPECT_EQ(etalonOf(static_cast<const SeriesHeader*>(nullptr), 1), nullptr);
}
