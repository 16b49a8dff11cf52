#include "processing/chains.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace {
using HeaderPtr = std::unique_ptr<ChainsHeader>;

using Pulse = std::array<int, 4>;  // position, etalon, cut start, cut end
using Pulses = std::vector<Pulse>;

struct Row {
    int distance;
    Pulses pulses;
    bool operator==(const Row&) const = default;
};

HeaderPtr makeHeader(RecordingMessageSink& sink, uint16_t rows, uint16_t pulses) {
    HeaderPtr header = getChainsHeader(sink, rows, pulses, nullptr);
    EXPECT_NE(header, nullptr);
    return header;
}

int insert(ChainsHeader& h, int32_t distance, const Pulses& pulses) {
    std::vector<ChainPulse> chain;
    for (const Pulse& p : pulses)
        chain.push_back({static_cast<int16_t>(p[0]), static_cast<int16_t>(p[1]),
                         static_cast<int16_t>(p[2]), static_cast<int16_t>(p[3])});
    return insertChain(h, distance, chain);
}

// The valid rows as the display reads them.
std::vector<Row> rowsOf(const ChainsHeader& h) {
    std::vector<Row> rows;
    for (int i = 0; i < h.wPretenders; ++i) {
        Row row{h.distance[i], {}};
        for (int j = 0; j < h.chainPulses[i]; ++j)
            row.pulses.push_back({h.positionsList[i][j], h.pulsesList[i][j], h.cutStartList[i][j],
                                  h.cutEndList[i][j]});
        rows.push_back(row);
    }
    return rows;
}

// The list pointers must be views into the three blocks, in the documented order.
::testing::AssertionResult laidOut(const ChainsHeader& h) {
    const int rows = h.wMaxSize, perRow = h.wMaxPulses;
    if (h.distance != h.distanceBlock.get() || h.chainPulses != h.distance + rows)
        return ::testing::AssertionFailure() << "distance block";
    int16_t** pointers = h.rowBlock.get();
    if (h.pulsesList != pointers || h.positionsList != pointers + rows ||
        h.cutStartList != pointers + 2 * rows || h.cutEndList != pointers + 3 * rows)
        return ::testing::AssertionFailure() << "row-pointer block";
    for (int r = 0; r < 4 * rows; ++r)
        if (pointers[r] != h.pulseBlock.get() + r * perRow) return ::testing::AssertionFailure() << "row " << r;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult cleared(const ChainsHeader& h) {
    if (h.wPretenders || h.wQuanPulses || h.wSeekingPulsesQuantity)
        return ::testing::AssertionFailure() << "counters";
    const int rows = h.wMaxSize;
    if (std::any_of(h.distanceBlock.get(), h.distanceBlock.get() + 2 * rows, [](int32_t v) { return v; }))
        return ::testing::AssertionFailure() << "distance block";
    if (std::any_of(h.pulseBlock.get(), h.pulseBlock.get() + 4 * rows * h.wMaxPulses, [](int16_t v) { return v; }))
        return ::testing::AssertionFailure() << "pulse block";
    return ::testing::AssertionSuccess();
}

// Fills every entry of a header with non-zero values and labels it.
void dirty(RecordingMessageSink& sink, ChainsHeader& h) {
    std::fill_n(h.distanceBlock.get(), 2 * h.wMaxSize, 77);
    std::fill_n(h.pulseBlock.get(), 4 * h.wMaxSize * h.wMaxPulses, int16_t{5});
    h.wPretenders = h.wMaxSize;
    h.wQuanPulses = 9;
    h.wSeekingPulsesQuantity = 3;
    ASSERT_EQ(addToChainsHeader(sink, 2, 4, 80, 60, &h), 1);
}
}  // namespace

TEST(ChainsHeaderTest, NewHeaderIsEmptyAndLaidOut) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 3, 4);
    EXPECT_EQ(h->wMaxSize, 3);
    EXPECT_EQ(h->wMaxPulses, 4);
    EXPECT_TRUE(laidOut(*h));
    EXPECT_TRUE(cleared(*h));
    EXPECT_EQ(h->wDescriptorCount, 0);
    EXPECT_EQ(h->lpTaskName, nullptr);
    EXPECT_EQ(h->lpSeriesTypeName, nullptr);
    EXPECT_TRUE(sink.messages.empty());
}

TEST(ChainsHeaderTest, ReuseKeepsLargerDimensionsAndClears) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 5, 6);
    dirty(sink, *h);
    const int32_t* distances = h->distanceBlock.get();
    const int16_t* pulses = h->pulseBlock.get();
    for (auto [rows, perRow] : {std::pair{3, 4}, std::pair{5, 6}, std::pair{5, 2}, std::pair{0, 0}}) {
        SCOPED_TRACE(::testing::Message() << rows << " x " << perRow);
        {
            ChainsHeader* const record = h.get();
            h = getChainsHeader(sink, rows, perRow, std::move(h));
            ASSERT_EQ(h.get(), record);
        }
        EXPECT_EQ(h->wMaxSize, 5);
        EXPECT_EQ(h->wMaxPulses, 6);
        EXPECT_EQ(h->distanceBlock.get(), distances);
        EXPECT_EQ(h->pulseBlock.get(), pulses);
        EXPECT_TRUE(laidOut(*h));
        EXPECT_TRUE(cleared(*h));
        EXPECT_EQ(h->wDescriptorCount, 2);  // the descriptor survives
        EXPECT_STREQ(h->lpTaskName, "joint detection and identification");
        dirty(sink, *h);
    }
    EXPECT_TRUE(sink.messages.empty());
}

TEST(ChainsHeaderTest, OneDimensionTooSmallGivesExactlyTheRequestedOnes) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 5, 4);
    dirty(sink, *h);
    {
        ChainsHeader* const record = h.get();
        h = getChainsHeader(sink, 3, 8, std::move(h));  // rows shrink, pulses grow
        ASSERT_EQ(h.get(), record);
    }
    EXPECT_EQ(h->wMaxSize, 3);
    EXPECT_EQ(h->wMaxPulses, 8);
    EXPECT_TRUE(laidOut(*h));
    EXPECT_TRUE(cleared(*h));
    EXPECT_EQ(h->wSeriesType, 2);
    EXPECT_EQ(h->wMakingEnergy, 80);
    EXPECT_EQ(h->wProcessingEnergy, 60);

    dirty(sink, *h);
    {
        ChainsHeader* const record = h.get();
        h = getChainsHeader(sink, 7, 1, std::move(h));  // rows grow, pulses shrink
        ASSERT_EQ(h.get(), record);
    }
    EXPECT_EQ(h->wMaxSize, 7);
    EXPECT_EQ(h->wMaxPulses, 1);
    EXPECT_TRUE(laidOut(*h));
    EXPECT_TRUE(cleared(*h));
    EXPECT_EQ(insert(*h, 1, {{1, 2, 3, 4}}), 0);  // the new blocks are usable
    EXPECT_TRUE(sink.messages.empty());
}

TEST(ChainsHeaderTest, InsertionRanksAndKeepsEqualDistancesInOrder) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 4, 3);
    EXPECT_EQ(insert(*h, 50, {{10, 1, 0, 7}}), 0);
    EXPECT_EQ(insert(*h, 10, {{1, 2, 0, 7}, {20, 3, 1, 6}}), 0);
    EXPECT_EQ(insert(*h, 50, {{30, 4, 2, 5}, {40, 1, 0, 7}, {50, 2, 0, 7}}), 2);
    EXPECT_EQ(insert(*h, 30, {}), 1);
    EXPECT_EQ(h->wPretenders, 4);
    const std::vector<Row> expected{
        {10, {{1, 2, 0, 7}, {20, 3, 1, 6}}},
        {30, {}},
        {50, {{10, 1, 0, 7}}},
        {50, {{30, 4, 2, 5}, {40, 1, 0, 7}, {50, 2, 0, 7}}},
    };
    EXPECT_EQ(rowsOf(*h), expected);
}

TEST(ChainsHeaderTest, FullTableDropsItsWorstRowOrRefuses) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 3, 2);
    ASSERT_EQ(insert(*h, 10, {{1, 1, 0, 3}}), 0);
    ASSERT_EQ(insert(*h, 20, {{2, 2, 0, 3}, {9, 1, 0, 3}}), 1);
    ASSERT_EQ(insert(*h, 30, {{3, 3, 0, 3}}), 2);
    const std::vector<int32_t> distanceBlock(h->distanceBlock.get(), h->distanceBlock.get() + 6);
    const std::vector<int16_t> pulseBlock(h->pulseBlock.get(), h->pulseBlock.get() + 24);

    EXPECT_EQ(insert(*h, 30, {{7, 7, 0, 3}}), -1);  // only as good as the worst
    EXPECT_EQ(insert(*h, 99, {{7, 7, 0, 3}}), -1);
    EXPECT_EQ(std::vector<int32_t>(h->distanceBlock.get(), h->distanceBlock.get() + 6), distanceBlock);
    EXPECT_EQ(std::vector<int16_t>(h->pulseBlock.get(), h->pulseBlock.get() + 24), pulseBlock);
    EXPECT_EQ(h->wPretenders, 3);

    EXPECT_EQ(insert(*h, 15, {{4, 4, 1, 2}}), 1);
    EXPECT_EQ(insert(*h, -5, {{5, 5, 1, 1}, {8, 6, 0, 2}}), 0);
    EXPECT_EQ(h->wPretenders, 3);
    const std::vector<Row> expected{
        {-5, {{5, 5, 1, 1}, {8, 6, 0, 2}}},
        {10, {{1, 1, 0, 3}}},
        {15, {{4, 4, 1, 2}}},
    };
    EXPECT_EQ(rowsOf(*h), expected);
}

TEST(ChainsHeaderTest, InsertionStaysInsideTheRows) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 1, 2);  // a single row: any overrun leaves the pulse block
    EXPECT_EQ(insert(*h, 4, {{1, 1, 0, 1}, {2, 2, 0, 1}, {3, 3, 0, 1}}), 0);
    EXPECT_EQ(rowsOf(*h), (std::vector<Row>{{4, {{1, 1, 0, 1}, {2, 2, 0, 1}}}}));

    auto empty = makeHeader(sink, 0, 0);
    EXPECT_EQ(insert(*empty, 1, {}), -1);
    EXPECT_EQ(empty->wPretenders, 0);
}

TEST(ChainsHeaderTest, RunResetClearsTheLeadingEntriesOfEveryRow) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 2, 4);
    dirty(sink, *h);
    resetChainsForRun(*h, 12, 3, 2);
    EXPECT_EQ(h->wPretenders, 0);
    EXPECT_EQ(h->wQuanPulses, 12);
    EXPECT_EQ(h->wSeekingPulsesQuantity, 3);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(h->distance[r], 0);
        EXPECT_EQ(h->chainPulses[r], 77);
        for (int16_t** list : {h->pulsesList, h->positionsList, h->cutStartList, h->cutEndList})
            EXPECT_EQ(std::vector<int16_t>(list[r], list[r] + 4), (std::vector<int16_t>{0, 0, 5, 5}));
    }
    resetChainsForRun(*h, 0, 0, 1000);
    EXPECT_TRUE(std::all_of(h->pulseBlock.get(), h->pulseBlock.get() + 32, [](int16_t v) { return v == 0; }));

    dirty(sink, *h);
    resetChainsForRun(*h, 1, 1, -3);
    EXPECT_TRUE(std::all_of(h->pulseBlock.get(), h->pulseBlock.get() + 32, [](int16_t v) { return v == 5; }));
}

TEST(ChainsHeaderTest, DescriptorNames) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 1, 1);
    const std::vector<std::pair<int, const char*>> series{
        {1, "known number of whole pulses"},        {2, "known number of cut-off pulses"},
        {4, "unknown number of whole pulses"},      {8, "unknown number of cut-off pulses"},
        {36, "known number of whole pulses tuples"}, {40, "unknown number of whole pulses tuples"},
        {16, nullptr}, {32, nullptr}, {0, nullptr}, {3, nullptr}};
    const std::vector<std::pair<int, const char*>> tasks{
        {1, "detection"}, {32, "detection"}, {36, "detection"}, {2, "recognition"},
        {40, "recognition"}, {4, "joint detection and identification"},
        {8, nullptr}, {16, nullptr}, {0, nullptr}};
    for (auto [code, name] : series) {
        ASSERT_EQ(addToChainsHeader(sink, code, 1, 90, 70, h.get()), 1);
        EXPECT_EQ(h->wSeriesType, code);
        if (name) EXPECT_STREQ(h->lpSeriesTypeName, name) << code;
        else EXPECT_EQ(h->lpSeriesTypeName, nullptr) << code;
    }
    for (auto [code, name] : tasks) {
        ASSERT_EQ(addToChainsHeader(sink, 4, code, 90, 70, h.get()), 1);
        EXPECT_EQ(h->wTaskType, code);
        if (name) EXPECT_STREQ(h->lpTaskName, name) << code;
        else EXPECT_EQ(h->lpTaskName, nullptr) << code;
    }
    EXPECT_EQ(h->wDescriptorCount, 2);
    EXPECT_EQ(h->wMakingEnergy, 90);
    EXPECT_EQ(h->wProcessingEnergy, 70);
    EXPECT_TRUE(sink.messages.empty());

    EXPECT_EQ(addToChainsHeader(sink, 1, 1, 90, 70, nullptr), 0);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "Не определен lpChainsHeader!");
    EXPECT_EQ(sink.messages[0].caption, " addToChainsHeader ");
    EXPECT_EQ(sink.messages[0].icon, MessageIcon::None);

    EXPECT_EQ(releaseChainsHeader(nullptr), 1);
    EXPECT_EQ(releaseChainsHeader(std::move(h)), 1);
}

TEST(ChainsHeaderTest, ReportWithoutRowsHasOnlyTheCounters) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 10, 20);
    h->wQuanPulses = 7;
    EXPECT_EQ(aboutChainsHeader(sink, *h), 1);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text,
              "ChainsHeader:\nwMaxSize: 10\nwPretenders: 0\nwMaxPulses: 20\nwQuanPulses: 7\n"
              "wSeekingPulsesQuantity: 0\n");
    EXPECT_EQ(sink.messages[0].caption, "aboutChainsHeader Info");
    EXPECT_EQ(sink.messages[0].icon, MessageIcon::None);
}

TEST(ChainsHeaderTest, ReportListsEveryRow) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 3, 3);
    resetChainsForRun(*h, 7, 2, 3);
    insert(*h, 70000, {});
    insert(*h, -1200, {{5, 2, 0, 9}, {-32768, 1, 2, 7}});
    insert(*h, 40, {{12, 3, 1, 4}});
    EXPECT_EQ(aboutChainsHeaderText(*h),
              "ChainsHeader:\nwMaxSize: 3\nwPretenders: 3\nwMaxPulses: 3\nwQuanPulses: 7\n"
              "wSeekingPulsesQuantity: 2\n"
              " 1. -1200 5 (2) [0 9] -32768 (1) [2 7]\n"
              " 2. 40 12 (3) [1 4]\n"
              " 3. 70000\n");

    // Counts that do not fit the table are read only as far as it goes.
    h->chainPulses[1] = 1000;
    h->chainPulses[2] = -4;
    h->wPretenders = 9;
    const std::string text = aboutChainsHeaderText(*h);
    EXPECT_NE(text.find("\n 2. 40 12 (3) [1 4] 0 (0) [0 0] 0 (0) [0 0]\n 3. 70000\n"), std::string::npos) << text;
}

TEST(ChainsHeaderTest, LongReportsAreComplete) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 20, 30);
    Pulses chain;
    for (int j = 0; j < 30; ++j) chain.push_back({1000 + 100 * j, 12, 10, 120});
    for (int i = 0; i < 20; ++i) insert(*h, -100000 + i, chain);

    const std::string text = aboutChainsHeaderText(*h);
    EXPECT_GT(text.size(), 2500u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 26);
    std::string last = " 20. -99981";
    for (int j = 0; j < 30; ++j) last += " " + std::to_string(1000 + 100 * j) + " (12) [10 120]";
    EXPECT_TRUE(text.ends_with(last + "\n")) << text.substr(text.size() - 200);
}
