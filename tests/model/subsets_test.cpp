#include "model/subsets.h"

#include <gtest/gtest.h>

#include <climits>

#include <memory>
#include <span>
#include <vector>

#include "model/series.h"

namespace {
using Entries = std::vector<int32_t>;

// The stored collection and the active subset, copied out for before/after comparisons.
struct SubsetState {
    uint16_t count, capacity, perSubset;
    const int16_t* allocation;
    const int16_t* const* pointers;
    std::vector<std::vector<int16_t>> stored;
    std::vector<int16_t> active;
    uint16_t mode, start;
    bool operator==(const SubsetState&) const = default;
};

SubsetState stateOf(const SeriesHeader& h) {
    SubsetState s{h.wSubsetsCount, h.wSubsetsCapacity, h.wSubsetCapacity,
                  h.selectedSubsetSize.get(), h.selectedSubsetList.get(), {},
                  {h.lpSelectedSubset, h.lpSelectedSubset + h.wSelectedSubsetSize},
                  h.wSubsetMode, h.wSubsetStart};
    for (int i = 0; i < h.wSubsetsCount; ++i)
        s.stored.emplace_back(h.selectedSubsetList[i], h.selectedSubsetList[i] + h.selectedSubsetSize[i]);
    return s;
}
}  // namespace

TEST(RequiredListTest, CountsFromOneAndReplacesTheOldList) {
    RecordingMessageSink sink;
    auto old = std::make_unique<uint16_t[]>(3);
    auto list = getRequiredList(sink, 5, std::move(old));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(std::vector<uint16_t>(list.get(), list.get() + 5), (std::vector<uint16_t>{1, 2, 3, 4, 5}));
    list = getRequiredList(sink, 20, std::move(list));
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(list[i], i + 1);
    EXPECT_NE(getRequiredList(sink, 1, nullptr), nullptr);
    EXPECT_TRUE(sink.messages.empty());
}

class SubsetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        header = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 1200, nullptr);  // up to 30 pulses
        ASSERT_NE(header, nullptr);
        ASSERT_EQ(header->wMaxPulses, 30);
    }
    void TearDown() override { freeSeriesHeader(std::move(header)); }

    int add(const std::vector<Entries>& lists, int capacity, int perSubset, int active, int mode = 4,
            int start = 1) {
        Entries sizes;
        std::vector<std::span<const int32_t>> spans;
        for (const Entries& l : lists) {
            sizes.push_back(static_cast<int32_t>(l.size()));
            spans.emplace_back(l);
        }
        return addSomeSelectedSubsetToSeriesHeader(sink, sizes, spans, capacity, perSubset, active,
                                                   mode, start, header.get());
    }
    std::vector<int16_t> active() const {
        return {header->lpSelectedSubset, header->lpSelectedSubset + header->wSelectedSubsetSize};
    }

    RecordingMessageSink sink;
    std::unique_ptr<SeriesHeader> header;
    const std::vector<Entries> three{{3, 4}, {5, 6, 7}, {8}};
};

TEST_F(SubsetsTest, StoresEverySubsetInOneAllocationAndActivatesOne) {
    ASSERT_EQ(add(three, 4, 5, 2, 3, 7), 1);
    EXPECT_EQ(header->wSubsetsCount, 3);
    EXPECT_EQ(header->wSubsetsCapacity, 4);
    EXPECT_EQ(header->wSubsetCapacity, 5);
    // Sizes first (room for 4), then 5 entries per subset.
    const int16_t* base = header->selectedSubsetSize.get();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(header->selectedSubsetList[i], base + 4 + 5 * i);
    EXPECT_EQ(std::vector<int16_t>(base, base + 4), (std::vector<int16_t>{2, 3, 1, 0}));
    EXPECT_EQ(std::vector<int16_t>(base + 4, base + 24),
              (std::vector<int16_t>{3, 4, 0, 0, 0, 5, 6, 7, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(active(), (std::vector<int16_t>{5, 6, 7}));
    EXPECT_EQ(header->wSubsetMode, 3);
    EXPECT_EQ(header->wSubsetStart, 7);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SubsetsTest, ActiveIndexOutsideTheCountTakesTheLastSubset) {
    const std::vector<std::vector<int16_t>> expected{{3, 4}, {5, 6, 7}, {8}};
    for (int index : {INT_MIN, -7, 0, 1, 2, 3, 4, 100, INT_MAX}) {
        SCOPED_TRACE(index);
        ASSERT_EQ(add(three, 3, 3, index), 1);
        EXPECT_EQ(active(), expected[index >= 1 && index <= 3 ? index - 1 : 2]);
    }
}

TEST_F(SubsetsTest, NoSubsetsOrNoHeader) {
    ASSERT_EQ(add(three, 3, 3, 1), 1);
    const SubsetState before = stateOf(*header);
    EXPECT_EQ(add({}, 3, 3, 1), 0);
    EXPECT_EQ(stateOf(*header), before);
    const Entries sizes{1};
    const Entries entries{2};
    const std::vector<std::span<const int32_t>> lists{entries};
    EXPECT_EQ(addSomeSelectedSubsetToSeriesHeader(sink, sizes, lists, 1, 1, 1, 4, 1, nullptr), 1);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SubsetsTest, SmallerRequestReusesTheAllocations) {
    ASSERT_EQ(add(three, 4, 5, 1), 1);
    const int16_t* sizes = header->selectedSubsetSize.get();
    int16_t* const* pointers = header->selectedSubsetList.get();
    ASSERT_EQ(add({{9, 10, 11, 12}, {13}}, 3, 4, 0), 1);
    EXPECT_EQ(header->selectedSubsetSize.get(), sizes);
    EXPECT_EQ(header->selectedSubsetList.get(), pointers);
    EXPECT_EQ(header->wSubsetsCapacity, 4);  // the larger room is kept
    EXPECT_EQ(header->wSubsetCapacity, 5);
    const SubsetState s = stateOf(*header);
    EXPECT_EQ(s.count, 2);
    EXPECT_EQ(s.stored, (std::vector<std::vector<int16_t>>{{9, 10, 11, 12}, {13}}));
    EXPECT_EQ(s.active, (std::vector<int16_t>{13}));
}

TEST_F(SubsetsTest, LargerRequestReallocatesAndDropsTheOldSubsets) {
    ASSERT_EQ(add(three, 3, 3, 1), 1);
    // More subsets than before: a fresh zeroed allocation with the new layout.
    ASSERT_EQ(add({{1}}, 6, 3, 1), 1);
    EXPECT_EQ(header->wSubsetsCapacity, 6);
    EXPECT_EQ(header->wSubsetCapacity, 3);
    const int16_t* base = header->selectedSubsetSize.get();
    std::vector<int16_t> fresh(24, 0);
    fresh[0] = 1, fresh[6] = 1;  // size and entry of the one subset
    EXPECT_EQ(std::vector<int16_t>(base, base + 24), fresh);
    EXPECT_EQ(header->selectedSubsetList[5], base + 6 + 15);
    // Longer subsets than before: the stride grows.
    ASSERT_EQ(add({{1, 2, 3, 4, 5, 6, 7}, {8}}, 6, 8, 1), 1);
    EXPECT_EQ(header->wSubsetCapacity, 8);
    base = header->selectedSubsetSize.get();
    EXPECT_EQ(header->selectedSubsetList[1], base + 6 + 8);
    EXPECT_EQ(stateOf(*header).stored, (std::vector<std::vector<int16_t>>{{1, 2, 3, 4, 5, 6, 7}, {8}}));
    EXPECT_EQ(base[2], 0);
}

TEST_F(SubsetsTest, RefusedCollectionsLeaveEverythingAlone) {
    ASSERT_EQ(add(three, 4, 4, 2, 3, 2), 1);
    const SubsetState before = stateOf(*header);
    auto expectRefused = [&](int result, const char* why) {
        SCOPED_TRACE(why);
        EXPECT_EQ(result, 0);
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].caption, " addSomeSelectedSubsetToSeriesHeader ");
        EXPECT_EQ(stateOf(*header), before);
        sink.messages.clear();
    };
    expectRefused(add({{1}, {2}, {3}, {4}, {5}}, 4, 4, 1), "more subsets than capacity");
    expectRefused(add({{1}, {2, 3}}, 1, 4, 1), "more subsets than a smaller capacity");
    expectRefused(add({{1}, {1, 2, 3, 4, 5}}, 4, 4, 1), "a subset longer than its room");
    expectRefused(add({{1}}, 4, 4, 1, 4, 0), "start 0");

    const Entries entries{1, 2};
    const std::vector<std::span<const int32_t>> one{entries};
    expectRefused(addSomeSelectedSubsetToSeriesHeader(sink, Entries{2, 1}, one, 4, 4, 1, 4, 1, header.get()),
                  "fewer lists than sizes");
    expectRefused(addSomeSelectedSubsetToSeriesHeader(sink, Entries{-1}, one, 4, 4, 1, 4, 1, header.get()),
                  "negative size");
    expectRefused(addSomeSelectedSubsetToSeriesHeader(sink, Entries{3}, one, 4, 4, 1, 4, 1, header.get()),
                  "size beyond the list");
}

TEST_F(SubsetsTest, ActiveSubsetIsClippedToTheAdmissiblePulses) {
    Entries longest(35);
    for (int k = 0; k < 35; ++k) longest[k] = k + 1;
    ASSERT_EQ(add({{2}, longest}, 2, 40, 2), 1);
    EXPECT_EQ(header->selectedSubsetSize[1], 35);  // the stored copy is whole
    EXPECT_EQ(header->selectedSubsetList[1][34], 35);
    EXPECT_EQ(header->wSelectedSubsetSize, 30);
    EXPECT_EQ(active().back(), 30);
    EXPECT_EQ(header->lpFoundGroupPosition[0], 0);  // the array behind the slot is untouched

    ASSERT_EQ(setSelectedSubset(sink, longest, 2, 1, header.get()), 1);
    EXPECT_EQ(header->wSelectedSubsetSize, 30);
    EXPECT_EQ(header->lpFoundGroupPosition[0], 0);

    // A reused block with fewer admissible pulses than it holds: the limit is wMaxPulses.
    SeriesHeader* const record = header.get();
    header = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 600, std::move(header));
    ASSERT_EQ(header.get(), record);
    ASSERT_EQ(header->wMaxPulses, 15);
    ASSERT_EQ(header->wAllocatedPulses, 30);
    ASSERT_EQ(setSelectedSubset(sink, longest, 2, 1, header.get()), 1);
    EXPECT_EQ(header->wSelectedSubsetSize, 15);
    EXPECT_EQ(active().back(), 15);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SubsetsTest, SetSelectedSubsetKeepsTheLow16BitsModeAndStart) {
    ASSERT_EQ(setSelectedSubset(sink, Entries{65536 + 3, 65535, -2, 7}, 5, 4, header.get()), 1);
    EXPECT_EQ(active(), (std::vector<int16_t>{3, -1, -2, 7}));
    EXPECT_EQ(header->wSubsetMode, 5);
    EXPECT_EQ(header->wSubsetStart, 4);
    ASSERT_EQ(setSelectedSubset(sink, Entries{}, 2, 1, header.get()), 1);
    EXPECT_EQ(header->wSelectedSubsetSize, 0);
    EXPECT_EQ(setSelectedSubset(sink, Entries{1}, 4, 1, nullptr), 1);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SubsetsTest, SetSelectedSubsetRefusesStartZero) {
    ASSERT_EQ(setSelectedSubset(sink, Entries{3, 4}, 3, 2, header.get()), 1);
    const SubsetState before = stateOf(*header);
    EXPECT_EQ(setSelectedSubset(sink, Entries{9, 9, 9}, 4, 0, header.get()), 0);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].caption, " setSelectedSubset ");
    EXPECT_EQ(stateOf(*header), before);
}
