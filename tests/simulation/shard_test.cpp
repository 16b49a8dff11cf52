#include "simulation/shard.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "core/settings.h"
#include "core/startup_model.h"
#include "model/random.h"
#include "model/subsets.h"
#include "simulation/driver.h"

namespace {
struct Case {
    const char* name;
    uint16_t seriesType, taskType, making;
    std::vector<uint16_t> candidates;
    int subsetMode;  // 0: no tuples; else the layout mode of the active tuple
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

bool operator==(const SeedCells& a, const SeedCells& b) {
    return a.positionSeed == b.positionSeed && a.cutStartSeed == b.cutStartSeed && a.cutEndSeed == b.cutEndSeed &&
           a.subsetSeed == b.subsetSeed && a.subsetRepeatSeed == b.subsetRepeatSeed &&
           a.pulseCountSeed == b.pulseCountSeed && a.alphabetSeed == b.alphabetSeed &&
           a.libraryState == b.libraryState;
}
}  // namespace

class ShardTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        deriveStartupSettings(s);
        prepareStartupModel(s, sink);
        ASSERT_TRUE(sink.messages.empty());
        const Case& c = GetParam();
        s.requiredFlags.fill(0);
        for (uint16_t v : c.candidates) s.requiredFlags[v - 1] = 1;
        rebuildRequiredList(s);
        s.dwSeriesSize = 400;
        s.lpSeriesHeader = getCutOffSeriesHeader(sink, 20, 20, s.wTmin, s.wTmax, 400, std::move(s.lpSeriesHeader));
        ASSERT_NE(s.lpSeriesHeader, nullptr);
        // Pulse counts 2, 4, 6 (the costs differ) and noise levels 0, 40, 80, 7 repeats.
        acc = getRestErrHeader(sink, 3, 3, 7, nullptr);
        ASSERT_EQ(initRestErrHeader(sink, 3, 2, 2, 3, 0, 40, 7, acc.get()), 1);
        if (c.subsetMode) {
            const std::vector<int32_t> a{3, 5, 7}, b{2, 4}, t{9, 10, 11, 12};
            const std::vector<int32_t> sizes{3, 2, 4};
            const std::vector<std::span<const int32_t>> lists{a, b, t};
            ASSERT_EQ(addSomeSelectedSubsetToSeriesHeader(sink, sizes, lists, 10, 10, 1, c.subsetMode, 1,
                                                          s.lpSeriesHeader.get()),
                      1);
        }
    }
    void TearDown() override { releaseRestErrHeader(sink, std::move(acc)); }

    int run(int first, int end, std::vector<int64_t>* sums = nullptr) {
        const Case& c = GetParam();
        SimulationControl control;
        control.threads = 2;
        control.firstCell = first;
        control.endCell = end;
        if (sums)
            control.cellSums = [sums](int, int64_t R, int64_t D, int32_t M) { sums->insert(sums->end(), {R, D, M}); };
        return statCutoffSighting(sink, acc.get(), s.wAlphabetSize, s.alphabet, s.wRequiredCount, s.lpRequiredList.get(),
                                  c.seriesType, c.taskType, c.making, c.making, s.lpSeriesHeader.get(), s.noiseSeed,
                                  s.seeds, {128, 1}, control);
    }

    std::vector<int32_t> cells() const {
        std::vector<int32_t> values;
        for (int c = 0; c < 9; ++c) {
            const int j = c / 3, k = c % 3;
            values.insert(values.end(), {acc->lpErrors[k][j], acc->lpDetectErrors[k][j], acc->lpRecognErrors[k][j]});
        }
        return values;
    }

    // What the series record holds after a run: the last series, its findings, the subset.
    std::vector<int32_t> seriesState() const {
        const SeriesHeader& h = *s.lpSeriesHeader;
        std::vector<int32_t> v{h.dwSeriesSize, h.wImpulseQuantity, h.wFoundPulses, h.wSelectedSubsetSize,
                               h.lpFirstEtalon ? h.lpFirstEtalon->lpData[0] : -1};
        for (int j = 0; j < h.wImpulseQuantity; ++j)
            v.insert(v.end(), {h.lpTruePosition[j], h.lpTrueEtalon[j], h.lpTrueCutStart[j], h.lpTrueCutEnd[j],
                               h.lpFoundPosition[j], h.lpFoundEtalon[j]});
        v.insert(v.end(), h.lpSelectedSubset, h.lpSelectedSubset + h.wAllocatedPulses);
        v.insert(v.end(), h.lpNoisyData, h.lpNoisyData + h.dwSeriesSize);
        return v;
    }

    Settings s;
    RecordingMessageSink sink;
    std::unique_ptr<RestErrorHeader> acc;
};

// A share that starts at any cell, from the generators' state reached without making the cells
// before it, gives exactly the cells of the whole run, and the state reached after the last cell
// is the one the whole run leaves.
TEST_P(ShardTest, SharesFromAReachedStateEqualTheWholeRun) {
    const SeedCells start = s.seeds;
    const int16_t noiseStart = s.noiseSeed;
    std::vector<int64_t> wholeSums;
    ASSERT_EQ(run(0, -1, &wholeSums), 1);
    ASSERT_TRUE(sink.messages.empty()) << sink.messages.front().text;
    const std::vector<int32_t> whole = cells();
    const SeedCells endCells = s.seeds;
    const int16_t noiseEnd = s.noiseSeed;
    ASSERT_EQ(wholeSums.size(), 27u);
    const std::vector<int32_t> lastSeries = seriesState();

    for (int parts : {1, 2, 3, 4, 9}) {
        SCOPED_TRACE(parts);
        const std::vector<double> cost(9, 1.0);
        const std::vector<int> bounds = shareCells(cost, parts);
        for (int r = 0; r < parts; ++r) {
            for (int c = 0; c < 9; ++c) {
                const int j = c / 3, k = c % 3;
                acc->lpErrors[k][j] = acc->lpDetectErrors[k][j] = acc->lpRecognErrors[k][j] = -1;
            }
            s.seeds = start;
            s.noiseSeed = noiseStart;
            ASSERT_EQ(reachSimulationCell(*acc, s.wRequiredCount, s.lpRequiredList.get(), GetParam().taskType,
                                          *s.lpSeriesHeader, bounds[r], s.seeds, s.noiseSeed),
                      1);
            std::vector<int64_t> sums;
            ASSERT_EQ(run(bounds[r], bounds[r + 1], &sums), 1);
            const std::vector<int32_t> got = cells();
            for (int c = 0; c < 9; ++c)
                for (int m = 0; m < 3; ++m) {
                    const int32_t expected = c >= bounds[r] && c < bounds[r + 1] ? whole[3 * c + m] : -1;
                    EXPECT_EQ(got[3 * c + m], expected) << "cell " << c << " matrix " << m;
                }
            const std::vector<int64_t> expectedSums(wholeSums.begin() + 3 * bounds[r],
                                                    wholeSums.begin() + 3 * bounds[r + 1]);
            EXPECT_EQ(sums, expectedSums);
            if (r + 1 == parts) {
                EXPECT_TRUE(s.seeds == endCells);
                EXPECT_EQ(s.noiseSeed, noiseEnd);
                // The share that ends the grid leaves the record holding the grid's last series
                // with its findings, as the whole run does (the graphs' header draws it).
                EXPECT_EQ(seriesState(), lastSeries);
            }
        }
    }
    // Reaching the end of the grid directly gives the state the whole run leaves.
    s.seeds = start;
    s.noiseSeed = noiseStart;
    ASSERT_EQ(reachSimulationCell(*acc, s.wRequiredCount, s.lpRequiredList.get(), GetParam().taskType,
                                  *s.lpSeriesHeader, 9, s.seeds, s.noiseSeed),
              1);
    EXPECT_TRUE(s.seeds == endCells);
    EXPECT_EQ(s.noiseSeed, noiseEnd);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_P(ShardTest, AnEmptyShareIsRefusedBeforeAnyDraw) {
    const SeedCells start = s.seeds;
    const int16_t noiseStart = s.noiseSeed;
    EXPECT_EQ(run(4, 4), 0);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].text.find("The share of the grid is empty"), std::string::npos);
    EXPECT_TRUE(s.seeds == start);
    EXPECT_EQ(s.noiseSeed, noiseStart);
    EXPECT_EQ(acc->ifComplete, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tasks, ShardTest,
    ::testing::Values(Case{"JointDetection", 8, 4, 75, {1, 2, 5}, 0}, Case{"Recognition", 8, 2, 75, {3, 9, 14}, 0},
                      Case{"TupleRecognitionMultipleRandom", 36, 40, 100, {1}, 3},
                      Case{"TupleRecognitionSingleRandom", 40, 40, 100, {1}, 1},
                      Case{"TupleDetectionShifted", 40, 36, 100, {1}, 5},
                      Case{"JointDetectionWithTupleLayout", 8, 4, 75, {4, 6}, 3}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ShareCellsTest, RangesCoverTheGridInOrderAndBalanceTheCost) {
    // The default grid's cells: pulse counts 6..30 (columns) by 29 noise levels.
    std::vector<double> cost;
    for (int K = 6; K <= 30; ++K)
        for (int k = 0; k < 29; ++k) cost.push_back(simulationCellCost(static_cast<int16_t>(5 * k), 1200));
    for (int parts : {1, 2, 3, 8, 64, 512, 725}) {
        SCOPED_TRACE(parts);
        const std::vector<int> b = shareCells(cost, parts);
        ASSERT_EQ(b.size(), static_cast<size_t>(parts) + 1);
        EXPECT_EQ(b.front(), 0);
        EXPECT_EQ(b.back(), 725);
        for (int r = 0; r < parts; ++r) EXPECT_LT(b[r], b[r + 1]);
        const double imbalance = shareImbalance(cost, b);
        EXPECT_GE(imbalance, 1.0);
        // With many cells per range the largest range stays near the mean; with one or two cells
        // per range the dearest cell bounds it.
        if (parts <= 8) {
            EXPECT_LT(imbalance, 1.02);
        } else if (parts == 64) {
            EXPECT_LT(imbalance, 1.15);
        }
    }
    // Noisier cells cost more, up to a limit.
    EXPECT_LT(simulationCellCost(0, 1200), simulationCellCost(70, 1200));
    EXPECT_EQ(simulationCellCost(140, 1200), simulationCellCost(400, 1200));
    EXPECT_EQ(simulationCellCost(-70, 1200), simulationCellCost(70, 1200));
}

TEST(ShareCellsTest, RangesFollowTheCostNotTheCellCount) {
    const std::vector<double> cost{1, 1, 1, 1, 1, 1, 6};
    EXPECT_EQ(shareCells(cost, 2), (std::vector<int>{0, 6, 7}));
    EXPECT_DOUBLE_EQ(shareImbalance(cost, shareCells(cost, 2)), 1.0);
    // Every range keeps a cell even when one cell outweighs the rest.
    const std::vector<double> heavy{100, 1, 1};
    EXPECT_EQ(shareCells(heavy, 3), (std::vector<int>{0, 1, 2, 3}));
}

TEST(ShareCellsTest, FewerCellsThanRangesLeaveTheFirstRangesEmpty) {
    const std::vector<double> cost{1.0, 2.0};
    EXPECT_EQ(shareCells(cost, 4), (std::vector<int>{0, 0, 0, 1, 2}));
    EXPECT_EQ(shareCells({}, 2), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(shareImbalance(cost, std::vector<int>{0, 2}), 1.0);
}
