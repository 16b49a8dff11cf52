// Worked cases, refusals and arithmetic of the processing routines. Their agreement with a
// straightforward version on random series is checked in fast_vs_reference_test.cpp.

#include "processing/routines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "model/random.h"
#include "processing/dispatch.h"
#include "processing/local_match.h"
#include "processing/routine_common.h"

namespace {
std::vector<std::pair<int, int>> groups(int pulses, int m, int s) {
    std::vector<int16_t> first(static_cast<size_t>(std::max(pulses, 1))), last(first.size());
    const int count = formGroups(pulses, m, s, first.data(), last.data());
    std::vector<std::pair<int, int>> out;
    for (int g = 0; g < count; ++g) out.emplace_back(first[g], last[g]);
    return out;
}

using Groups = std::vector<std::pair<int, int>>;
}  // namespace

TEST(GroupsTest, WorkedExamples) {
    EXPECT_EQ(groups(7, 3, 0), (Groups{{1, 3}, {4, 6}, {7, 7}}));
    EXPECT_EQ(groups(7, 3, 2), (Groups{{1, 1}, {2, 4}, {5, 7}}));
    EXPECT_EQ(groups(2, 3, 0), (Groups{{1, 2}}));
    EXPECT_EQ(groups(5, 1, 0), (Groups{{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}));
    EXPECT_EQ(groups(0, 3, 0), Groups{});
}

TEST(DispatchTest, RoutineSelectionTable) {
    EXPECT_EQ(selectRoutine(2, 4), Routine::recognizePulsesUnfixed);
    EXPECT_EQ(selectRoutine(2, 8), Routine::recognizePulsesUnfixed);
    EXPECT_EQ(selectRoutine(2, 40), Routine::recognizePulsesFixed);
    EXPECT_EQ(selectRoutine(2, 1), Routine::recognizePulsesFixed);
    EXPECT_EQ(selectRoutine(36, 40), Routine::detectTuplesUnfixed);
    EXPECT_EQ(selectRoutine(36, 8), Routine::detectTuplesUnfixed);
    EXPECT_EQ(selectRoutine(36, 36), Routine::detectTuplesFixed);
    EXPECT_EQ(selectRoutine(40, 40), Routine::recognizeTuplesUnfixed);
    EXPECT_EQ(selectRoutine(40, 2), Routine::recognizeTuplesFixed);
    for (uint16_t task : {1, 4, 64}) {
        EXPECT_EQ(selectRoutine(task, 8), Routine::detectPulsesUnfixed);
        EXPECT_EQ(selectRoutine(task, 40), Routine::detectPulsesFixed);
        EXPECT_EQ(selectRoutine(task, 16), Routine::detectPulsesFixed);
    }
    EXPECT_STREQ(routineName(Routine::recognizeTuplesFixed), "recognizeTuplesFixed");
}

class RoutinesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(buildAlphabet(sink, 128, 20, 20, alphabet, seeds.alphabetSeed), 1); }
    void TearDown() override {
        freeSeriesHeader(std::move(series));
        releaseChainsHeader(std::move(chains));
    }

    // A series of K pulses (whole when pct is 100) with the given etalons, cycled.
    void build(uint32_t N, uint16_t K, std::vector<uint16_t> etalons, uint16_t savedEnergy = 100,
               int16_t noise = 0) {
        sequence.resize(200);
        for (size_t i = 0; i < sequence.size(); ++i) sequence[i] = etalons[i % etalons.size()];
        series = getCutOffSeries(sink, 20, alphabet, 20, 40, 181, N, K, sequence, 128, savedEnergy, std::move(series), seeds);
        ASSERT_NE(series, nullptr);
        ASSERT_EQ(series->wImpulseQuantity, K);
        int16_t cell = initialNoiseSeed;
        if (noise) {
            ASSERT_EQ(addNoise(sink, series.get(), noise, cell), 1);
        }
        chains = getChainsHeader(sink, 10, series->wMaxPulses, std::move(chains));
        ASSERT_NE(chains, nullptr);
        sink.messages.clear();
    }

    void expectFoundIsTrueLayout(bool etalons = true) {
        ASSERT_EQ(series->wFoundPulses, series->wImpulseQuantity);
        for (int j = 0; j < series->wFoundPulses; ++j) {
            EXPECT_EQ(series->lpFoundPosition[j], series->lpTruePosition[j]) << "pulse " << j;
            if (etalons) {
                EXPECT_EQ(series->lpFoundEtalon[j], series->lpTrueEtalon[j]) << "pulse " << j;
            }
            EXPECT_EQ(series->lpFoundCutStart[j], series->lpTrueCutStart[j]) << "pulse " << j;
            EXPECT_EQ(series->lpFoundCutEnd[j], series->lpTrueCutEnd[j]) << "pulse " << j;
        }
    }

    // The series' found fields and the chains header, to check that a refusal wrote nothing.
    struct Snapshot {
        uint16_t found, pretenders, quan, seeking;
        int16_t groups, resultCode;
        std::vector<int16_t> positions;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() const {
        return {series->wFoundPulses, chains->wPretenders, chains->wQuanPulses, chains->wSeekingPulsesQuantity,
                series->wFoundGroups, series->wResultCode,
                std::vector<int16_t>(series->lpFoundPosition, series->lpFoundPosition + series->wAllocatedPulses)};
    }

    RecordingMessageSink sink;
    Alphabet alphabet;
    SeedCells seeds;  ///< the test's own random streams
    std::vector<uint16_t> sequence;
    std::unique_ptr<SeriesHeader> series;
    std::unique_ptr<ChainsHeader> chains;
    const std::vector<uint16_t> all{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
};

TEST_F(RoutinesTest, NoiselessWholePulsesAreRecoveredExactly) {
    build(1200, 12, {11, 14, 17, 12, 19});
    ASSERT_EQ(detectPulsesUnfixed(sink, alphabet, all, 40, 181, 100, chains.get(), *series), 1);
    expectFoundIsTrueLayout();
    EXPECT_EQ(chains->wPretenders, 1);
    EXPECT_EQ(chains->wSeekingPulsesQuantity, 12);
    EXPECT_EQ(chains->wQuanPulses, 0);
    // The total is minus the energy of the series: every pulse explained exactly.
    int32_t energy = 0;
    for (int i = 0; i < series->dwSeriesSize; ++i) energy += series->lpNoisyData[i] * series->lpNoisyData[i];
    EXPECT_EQ(chains->distance[0], -energy);

    series->wFoundPulses = 0;
    ASSERT_EQ(detectPulsesFixed(sink, alphabet, all, 40, 181, 100, chains.get(), *series), 1);
    expectFoundIsTrueLayout();
    EXPECT_EQ(chains->distance[0], -energy);
    EXPECT_EQ(chains->wQuanPulses, 12);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(RoutinesTest, WholeMatchesOnlyAtFullSavedEnergy) {
    build(1200, 10, {3}, 75, 20);
    ASSERT_EQ(detectPulsesUnfixed(sink, alphabet, all, 40, 181, 100, chains.get(), *series), 1);
    ASSERT_GT(series->wFoundPulses, 0);
    for (int j = 0; j < series->wFoundPulses; ++j) {
        EXPECT_EQ(series->lpFoundCutStart[j], 0);
        EXPECT_EQ(series->lpFoundCutEnd[j], 19);
    }
    // At 75 % the cut-off pulses are found with cuts.
    ASSERT_EQ(detectPulsesUnfixed(sink, alphabet, all, 40, 181, 75, chains.get(), *series), 1);
    bool anyCut = false;
    for (int j = 0; j < series->wFoundPulses; ++j)
        anyCut |= series->lpFoundCutStart[j] != 0 || series->lpFoundCutEnd[j] != 19;
    EXPECT_TRUE(anyCut);
}

TEST_F(RoutinesTest, NoAcceptableChainGivesAnEmptyRow) {
    build(1200, 14, {1});
    // Etalon 1 against a series at the most negative level scores far above the bound.
    std::fill_n(series->lpNoisyData, series->dwSeriesSize, int16_t{-32768});
    const std::vector<uint16_t> one{1};
    ASSERT_EQ(detectPulsesUnfixed(sink, alphabet, one, 40, 181, 100, chains.get(), *series), 1);
    EXPECT_EQ(series->wFoundPulses, 0);
    ASSERT_EQ(chains->wPretenders, 1);
    EXPECT_EQ(chains->distance[0], 9999999);
    EXPECT_EQ(chains->chainPulses[0], 0);
    EXPECT_EQ(chains->wSeekingPulsesQuantity, 0);
    // The known-count routine still reports K pulses, using its penalty where windows hold
    // nothing better.
    ASSERT_EQ(detectPulsesFixed(sink, alphabet, one, 40, 181, 100, chains.get(), *series), 1);
    EXPECT_EQ(series->wFoundPulses, 14);
    // Recognition finds no candidate below its bound (fourteen pulses of 78715200 each pass
    // even the known-count bound 999999999).
    EXPECT_EQ(recognizePulsesUnfixed(sink, alphabet, one, 40, 181, 100, chains.get(), *series), -1);
    EXPECT_EQ(recognizePulsesFixed(sink, alphabet, one, 40, 181, 100, chains.get(), *series), -1);
    EXPECT_EQ(series->wFoundPulses, 14);
}

TEST_F(RoutinesTest, TotalsWrapAsThirtyTwoBitArithmetic) {
    build(1200, 30, {1});
    // Every position scores q = 20 * 60 * (60 - 2 * 32767) = -78568800; thirty of them do not
    // fit 32 bits. Layers 0..27 accumulate (j + 1) q, layer 27 wraps to 2095040896, above the
    // 999999 penalty, so layer 28 restarts from the penalty and layer 29 adds one more q.
    std::fill_n(series->lpNoisyData, series->dwSeriesSize, int16_t{32767});
    const std::vector<uint16_t> one{1};
    ASSERT_EQ(detectPulsesFixed(sink, alphabet, one, 40, 181, 100, chains.get(), *series), 1);
    const int32_t q = -78568800;
    EXPECT_EQ(chains->distance[0], 999999 + q + q);
    EXPECT_EQ(series->wFoundPulses, 30);
    // The unknown-count routine runs over the same wrapping totals without undefined behaviour.
    ASSERT_EQ(detectPulsesUnfixed(sink, alphabet, one, 40, 181, 100, chains.get(), *series), 1);
    EXPECT_EQ(chains->wPretenders, 1);
}

TEST_F(RoutinesTest, SinglePulseSeries) {
    // 160 samples with Tmin 150: exactly one pulse fits.
    sequence.assign(10, 12);
    series = getCutOffSeries(sink, 20, alphabet, 20, 150, 181, 160, 1, sequence, 128, 100, nullptr, seeds);
    ASSERT_NE(series, nullptr);
    ASSERT_EQ(series->wMinPulses, 1);
    ASSERT_EQ(series->wMaxPulses, 1);
    chains = getChainsHeader(sink, 10, 1, nullptr);
    ASSERT_EQ(detectPulsesUnfixed(sink, alphabet, all, 150, 181, 100, chains.get(), *series), 1);
    ASSERT_EQ(series->wFoundPulses, 1);
    EXPECT_EQ(series->lpFoundPosition[0], series->lpTruePosition[0]);
    EXPECT_EQ(series->lpFoundEtalon[0], 12);
    EXPECT_LE(series->lpFoundPosition[0], 140);  // min(Tmax - n, N - n)
}

TEST_F(RoutinesTest, RecognitionPicksTheEtalonOfTheSeries) {
    build(1200, 14, {9}, 100, 20);
    const std::vector<uint16_t> candidates{3, 9, 5, 7};
    EXPECT_EQ(recognizePulsesFixed(sink, alphabet, candidates, 40, 181, 100, chains.get(), *series), 9);
    EXPECT_EQ(chains->wPretenders, 4);
    EXPECT_EQ(chains->pulsesList[0][0], 9);
    for (int j = 0; j < series->wFoundPulses; ++j) EXPECT_EQ(series->lpFoundEtalon[j], 9);
    for (int i = 1; i < chains->wPretenders; ++i) EXPECT_LE(chains->distance[i - 1], chains->distance[i]);

    EXPECT_EQ(recognizePulsesUnfixed(sink, alphabet, candidates, 40, 181, 100, chains.get(), *series), 9);
    EXPECT_EQ(chains->wQuanPulses, 14);
    EXPECT_EQ(series->wFoundPulses, chains->chainPulses[0]);
    for (int j = 0; j < series->wFoundPulses; ++j) EXPECT_EQ(series->lpFoundEtalon[j], 9);

    // A repeated candidate ties with itself: the first of the list wins and its row comes first.
    const std::vector<uint16_t> twice{9, 9};
    EXPECT_EQ(recognizePulsesFixed(sink, alphabet, twice, 40, 181, 100, chains.get(), *series), 9);
    EXPECT_EQ(chains->distance[0], chains->distance[1]);
}

TEST_F(RoutinesTest, TupleDetectionFindsTheTupleAndItsGroups) {
    build(1200, 10, {3, 5, 7});
    const std::vector<int32_t> tuple{3, 5, 7};
    ASSERT_EQ(detectTuplesFixed(sink, alphabet, tuple, 1, 40, 181, 100, chains.get(), *series), 1);
    expectFoundIsTrueLayout();
    EXPECT_EQ(series->wFoundGroups, 4);  // 1-3, 4-6, 7-9, 10-10
    EXPECT_EQ(series->lpFoundGroupValue[3], 10);

    // Shifted: the series starts with member 1; mode 2 tries every start and finds s = 1.
    build(1200, 10, {5, 7, 3});
    ASSERT_EQ(detectTuplesFixed(sink, alphabet, tuple, 2, 40, 181, 100, chains.get(), *series), 1);
    expectFoundIsTrueLayout();
    EXPECT_EQ(chains->wPretenders, 3);  // one row per starting member
    EXPECT_EQ(series->lpFoundGroupPosition[0], 1);
    EXPECT_EQ(series->lpFoundGroupValue[0], 2);  // group 0 holds members 1 and 2

    build(1200, 10, {3, 5, 7});
    ASSERT_EQ(detectTuplesUnfixed(sink, alphabet, tuple, 1, 40, 181, 100, chains.get(), *series), 1);
    expectFoundIsTrueLayout();
    EXPECT_EQ(chains->wSeekingPulsesQuantity, 10);
}

TEST_F(RoutinesTest, TupleRecognitionNamesTheTuple) {
    build(1200, 9, {2, 4});
    const std::vector<int32_t> a{3, 5, 7}, b{2, 4}, c{9, 10};
    const std::vector<std::span<const int32_t>> tuples{a, b, c};
    EXPECT_EQ(recognizeTuplesFixed(sink, alphabet, tuples, 1, 40, 181, 100, chains.get(), *series), 2);
    EXPECT_EQ(series->wResultCode, 2);
    expectFoundIsTrueLayout();
    EXPECT_EQ(recognizeTuplesUnfixed(sink, alphabet, tuples, 1, 40, 181, 100, chains.get(), *series), 2);
    EXPECT_EQ(series->wResultCode, 2);
    EXPECT_EQ(chains->wPretenders, 3);
    expectFoundIsTrueLayout();
    // Equal tuples tie: the first is recognised.
    const std::vector<std::span<const int32_t>> same{b, b};
    EXPECT_EQ(recognizeTuplesFixed(sink, alphabet, same, 1, 40, 181, 100, chains.get(), *series), 1);
}

TEST_F(RoutinesTest, DiagnosticReportsOnlyWhileDebugging) {
    build(600, 6, {3, 5});
    const std::vector<int32_t> tuple{3, 5};
    int debug = 0;
    ASSERT_EQ(detectTuplesUnfixed(sink, alphabet, tuple, 1, 40, 181, 100, chains.get(), *series, &debug), 1);
    EXPECT_TRUE(sink.messages.empty());
    debug = 1;
    ASSERT_EQ(detectTuplesUnfixed(sink, alphabet, tuple, 1, 40, 181, 100, chains.get(), *series, &debug), 1);
    EXPECT_EQ(debug, 0);
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[0].caption, " About TuplesDetection ");
    EXPECT_EQ(sink.messages[0].text.rfind("omega_minus - omega_tilda:  [", 0), 0u);
    EXPECT_EQ(sink.messages[1].text.rfind("omega_minus x omega_tilda: ", 0), 0u);
    EXPECT_NE(sink.messages[1].text.find("l=1\n "), std::string::npos);
    EXPECT_NE(sink.messages[1].text.find("l=2\n "), std::string::npos);

    sink.messages.clear();
    debug = 1;
    const std::vector<std::span<const int32_t>> tuples{tuple, tuple, tuple};
    recognizeTuplesUnfixed(sink, alphabet, tuples, 1, 40, 181, 100, chains.get(), *series, &debug);
    EXPECT_EQ(sink.messages.size(), 6u);  // two reports per tuple
    EXPECT_EQ(debug, 0);
}

TEST_F(RoutinesTest, BadInputIsRefusedAndNothingWritten) {
    build(1200, 10, {3});
    ASSERT_EQ(detectPulsesUnfixed(sink, alphabet, all, 40, 181, 100, chains.get(), *series), 1);
    const Snapshot before = snapshot();
    const std::vector<uint16_t> none, outside{3, 21}, zero{0};
    const std::vector<int32_t> emptyTuple, badTuple{3, 99};
    const std::vector<std::span<const int32_t>> noTuples, badTuples{badTuple};
    auto refused = [&](int64_t result, int64_t failure, const char* what) {
        EXPECT_EQ(result, failure) << what;
        ASSERT_EQ(sink.messages.size(), 1u) << what;
        EXPECT_EQ(sink.messages[0].icon, MessageIcon::Warning) << what;
        EXPECT_TRUE(snapshot() == before) << what;
        sink.messages.clear();
    };
    refused(detectPulsesUnfixed(sink, alphabet, none, 40, 181, 100, chains.get(), *series), 0, "empty list");
    refused(detectPulsesFixed(sink, alphabet, outside, 40, 181, 100, chains.get(), *series), 0, "etalon 21");
    refused(recognizePulsesUnfixed(sink, alphabet, zero, 40, 181, 100, chains.get(), *series), -1, "etalon 0");
    refused(recognizePulsesUnfixed(sink, alphabet, all, 40, 181, 100, nullptr, *series), -1, "no chains");
    refused(recognizePulsesFixed(sink, alphabet, all, 0, 181, 100, chains.get(), *series), -1, "Tmin 0");
    refused(detectTuplesUnfixed(sink, alphabet, emptyTuple, 1, 40, 181, 100, chains.get(), *series), 0, "tuple 0");
    refused(detectTuplesFixed(sink, alphabet, badTuple, 1, 40, 181, 100, chains.get(), *series), 0, "tuple etalon");
    refused(recognizeTuplesUnfixed(sink, alphabet, noTuples, 1, 40, 181, 100, chains.get(), *series), 0, "no tuples");
    refused(recognizeTuplesFixed(sink, alphabet, badTuples, 1, 40, 181, 100, chains.get(), *series), 0, "bad tuples");
    refused(detectPulsesUnfixed(sink, alphabet, all, 50, 40, 100, chains.get(), *series), 0, "Tmin > Tmax");
    // A smaller Tmin than the series was built with allows longer chains than it can hold.
    refused(detectPulsesUnfixed(sink, alphabet, all, 20, 181, 100, chains.get(), *series), 0, "Tmin 20");

    // Chains rows shorter than the chain needs.
    std::unique_ptr<ChainsHeader> narrow = getChainsHeader(sink, 10, 5, nullptr);
    refused(detectPulsesFixed(sink, alphabet, all, 40, 181, 100, narrow.get(), *series), 0, "narrow rows");
    refused(detectTuplesUnfixed(sink, alphabet, badTuple, 1, 40, 181, 100, narrow.get(), *series), 0, "narrow tuples");
    releaseChainsHeader(std::move(narrow));

    // Position ranges that do not chain.
    const int16_t saved = series->lpPositionMin[4];
    series->lpPositionMin[4] = static_cast<int16_t>(series->lpPositionMax[4] + 1);
    refused(detectPulsesFixed(sink, alphabet, all, 40, 181, 100, chains.get(), *series), 0, "empty range");
    series->lpPositionMin[4] = saved;
    series->lpPositionMin[6] = static_cast<int16_t>(series->lpPositionMin[5]);  // no room for Tmin
    refused(recognizeTuplesFixed(sink, alphabet, std::vector<std::span<const int32_t>>{std::span<const int32_t>(badTuple).first(1)},
                                 1, 40, 181, 100, chains.get(), *series),
            0, "ranges closer than Tmin");
}

TEST_F(RoutinesTest, BlockMatchesEqualSingleMatches) {
    // Every saved-energy level, one candidate and all, a noisy and a noiseless series, and
    // candidate lists with repeats; positions span several blocks.
    for (const int16_t noise : {0, 40}) {
        build(1200, 20, {1, 7, 9, 12}, 60, noise);
        for (const uint16_t pct : {0, 25, 50, 75, 90, 100}) {
            const std::vector<uint16_t> lists[] = {all, {7}, {9, 9, 1}, {20, 3, 3, 8}};
            for (const auto& list : lists) {
                LocalMatcher matcher;
                matcher.prepare(alphabet, list, 20, pct);
                const int32_t hi = series->dwSeriesSize - 20;
                std::vector<LocalMatch> block(static_cast<size_t>(hi + 1));
                matcher.matchRange(series->lpNoisyData, 0, hi, block.data());
                for (int32_t l = 0; l <= hi; ++l) {
                    const LocalMatch one = matcher.match(series->lpNoisyData, l);
                    ASSERT_EQ(block[l].score, one.score) << "pct " << pct << " position " << l;
                    ASSERT_EQ(block[l].etalon, one.etalon) << "pct " << pct << " position " << l;
                    ASSERT_EQ(block[l].cutStart, one.cutStart) << "pct " << pct << " position " << l;
                    ASSERT_EQ(block[l].cutEnd, one.cutEnd) << "pct " << pct << " position " << l;
                }
                // One candidate of the list alone, over a range that starts inside the series.
                matcher.matchRange(series->lpNoisyData, 300, 700, block.data(), static_cast<int>(list.size() - 1));
                for (int32_t l = 300; l <= 700; ++l) {
                    const LocalMatch one = matcher.matchOne(list.size() - 1, series->lpNoisyData, l);
                    ASSERT_EQ(block[l - 300].score, one.score);
                    ASSERT_EQ(block[l - 300].cutStart, one.cutStart);
                    ASSERT_EQ(block[l - 300].cutEnd, one.cutEnd);
                }
            }
        }
    }
}

// Narrow gap windows give more disjoint ranges of positions than a chain has pulses; every
// range must take part, so that every routine recovers every noiseless series of whole pulses
// exactly: the found pulses are the true ones and each chain totals minus the series energy.
TEST_F(RoutinesTest, NarrowGapWindowsRecoverNoiselessSeriesExactly) {
    const std::vector<int32_t> tuple{11, 14, 17};
    const std::vector<int32_t> otherTuple{2, 4};
    const std::vector<std::span<const int32_t>> tuples{otherTuple, tuple};
    const std::vector<uint16_t> few{3, 14, 7};
    int series_checked = 0;
    for (const uint32_t N : {200u, 451u, 1200u}) {
        for (const uint16_t Tmin : {20, 33, 50, 77}) {
            for (uint16_t width = 0; width <= 5; ++width) {
                const uint16_t Tmax = static_cast<uint16_t>(Tmin + width);
                const PulseBounds bounds = seriesPulseBounds(20, Tmin, Tmax, N);
                if (bounds.wMinPulses > bounds.wMaxPulses) continue;
                for (const int K : {int{bounds.wMinPulses}, (bounds.wMinPulses + bounds.wMaxPulses) / 2,
                                    int{bounds.wMaxPulses}}) {
                    for (const bool oneEtalon : {true, false}) {
                        SCOPED_TRACE("N=" + std::to_string(N) + " Tmin=" + std::to_string(Tmin) +
                                     " Tmax=" + std::to_string(Tmax) + " K=" + std::to_string(K) +
                                     (oneEtalon ? " etalon 14" : " tuple 11,14,17"));
                        sequence.assign(200, 14);
                        if (!oneEtalon)
                            for (size_t i = 0; i < sequence.size(); ++i)
                                sequence[i] = static_cast<uint16_t>(tuple[i % tuple.size()]);
                        series = getCutOffSeries(sink, 20, alphabet, 20, Tmin, Tmax, N, static_cast<uint16_t>(K),
                                                 sequence, 128, 100, std::move(series), seeds);
                        ASSERT_NE(series, nullptr);
                        ASSERT_EQ(series->wImpulseQuantity, K);
                        chains = getChainsHeader(sink, 10, series->wAllocatedPulses, std::move(chains));
                        ASSERT_NE(chains, nullptr);
                        int32_t energy = 0;
                        for (uint32_t i = 0; i < N; ++i)
                            energy += series->lpNoisyData[i] * series->lpNoisyData[i];
                        auto expectExact = [&](const char* routine) {
                            SCOPED_TRACE(routine);
                            expectFoundIsTrueLayout();
                            EXPECT_EQ(chains->distance[0], -energy);
                            series->wFoundPulses = 0;
                        };
                        if (oneEtalon) {
                            ASSERT_EQ(detectPulsesUnfixed(sink, alphabet, all, Tmin, Tmax, 100, chains.get(), *series), 1);
                            expectExact("detectPulsesUnfixed");
                            ASSERT_EQ(detectPulsesFixed(sink, alphabet, all, Tmin, Tmax, 100, chains.get(), *series), 1);
                            expectExact("detectPulsesFixed");
                            EXPECT_EQ(recognizePulsesUnfixed(sink, alphabet, few, Tmin, Tmax, 100, chains.get(), *series), 14);
                            expectExact("recognizePulsesUnfixed");
                            EXPECT_EQ(recognizePulsesFixed(sink, alphabet, few, Tmin, Tmax, 100, chains.get(), *series), 14);
                            expectExact("recognizePulsesFixed");
                        } else {
                            ASSERT_EQ(detectTuplesUnfixed(sink, alphabet, tuple, 1, Tmin, Tmax, 100, chains.get(), *series,
                                                          nullptr),
                                      1);
                            expectExact("detectTuplesUnfixed");
                            ASSERT_EQ(detectTuplesFixed(sink, alphabet, tuple, 1, Tmin, Tmax, 100, chains.get(), *series), 1);
                            expectExact("detectTuplesFixed");
                            EXPECT_EQ(recognizeTuplesUnfixed(sink, alphabet, tuples, 1, Tmin, Tmax, 100, chains.get(),
                                                             *series, nullptr),
                                      2);
                            expectExact("recognizeTuplesUnfixed");
                            EXPECT_EQ(recognizeTuplesFixed(sink, alphabet, tuples, 1, Tmin, Tmax, 100, chains.get(), *series), 2);
                            expectExact("recognizeTuplesFixed");
                        }
                        EXPECT_TRUE(sink.messages.empty()) << sink.messages.front().text;
                        sink.messages.clear();
                        ++series_checked;
                        if (HasFailure()) return;
                    }
                }
            }
        }
    }
    EXPECT_GT(series_checked, 200);
}

// The window minima behind every dynamic programme: for random rows full of ties, both the
// monotone queue and the block minimum give, for every window, the first position of its
// smallest value, as a scan of the window does.
TEST(WindowMinimumTest, FirstSmallestOfEveryWindow) {
    std::mt19937 rng(9031);
    for (int round = 0; round < 300; ++round) {
        const int size = std::uniform_int_distribution<int>(1, 400)(rng);
        const int width = std::uniform_int_distribution<int>(1, 60)(rng);
        const int spread = std::uniform_int_distribution<int>(1, 6)(rng);  // few values: many ties
        std::vector<int32_t> values(static_cast<size_t>(size));
        for (auto& v : values) v = std::uniform_int_distribution<int>(-spread, spread)(rng);
        if (round % 10 == 0) values.assign(values.size(), INT32_MAX);  // all equal, at the top
        WindowMinimum<int32_t, 1> block;
        processing_detail::SlidingMinimum queue;
        block.reset(values.data(), width, size);
        queue.reset(values.data());
        // Windows skip positions now and then, as the walks do.
        for (int to = -3; to < size; to += std::uniform_int_distribution<int>(1, 3)(rng)) {
            const int from = std::max(to - width + 1, 0);
            int expected = -1;
            for (int m = from; m <= to; ++m)
                if (expected < 0 || values[static_cast<size_t>(m)] < values[static_cast<size_t>(expected)]) expected = m;
            int32_t value = 0, at = -1;
            ASSERT_EQ(block.minimumUpTo(to, value, at) ? at : -1, expected) << "round " << round << " to " << to;
            if (expected >= 0) {
                ASSERT_EQ(value, values[static_cast<size_t>(expected)]);
            }
            queue.advance(to - width + 1, to);
            ASSERT_EQ(queue.empty() ? -1 : queue.front(), expected) << "round " << round << " to " << to;
        }
    }
}
