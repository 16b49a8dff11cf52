#include "simulation/rest_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {
using HeaderPtr = std::unique_ptr<RestErrorHeader>;

HeaderPtr makeHeader(RecordingMessageSink& sink, int pulses, int levels, int repeats = 100) {
    HeaderPtr header = getRestErrHeader(sink, pulses, levels, repeats, nullptr);
    EXPECT_NE(header, nullptr);
    return header;
}

std::vector<int32_t**> tablesOf(const RestErrorHeader& h) {
    return {h.lpErrors,          h.lpDetectErrors,    h.lpReservedErrors1,
            h.lpRecognErrors,    h.lpReservedErrors2, h.lpReservedErrors3};
}

// The views must point into the three blocks as documented: axes, six consecutive row tables,
// matrix m at m * P * L and row i P * i further on, P and L being the capacities.
::testing::AssertionResult laidOut(const RestErrorHeader& h) {
    const std::ptrdiff_t P = h.wReservedPulses, L = h.wReservedLevels;
    if (h.lpNoiseLevels != h.axisBlock.get() || h.wPulseValues != h.lpNoiseLevels + L)
        return ::testing::AssertionFailure() << "axis block";
    const auto tables = tablesOf(h);
    for (std::ptrdiff_t m = 0; m < 6; ++m) {
        if (tables[m] != h.rowBlock.get() + m * L) return ::testing::AssertionFailure() << "table " << m;
        for (std::ptrdiff_t i = 0; i < L; ++i)
            if (tables[m][i] != h.dataBlock.get() + m * P * L + P * i)
                return ::testing::AssertionFailure() << "matrix " << m << " row " << i;
    }
    return ::testing::AssertionSuccess();
}

// Every row of every matrix, wReservedPulses wide, lies inside a data block of
// 6 * wReservedPulses * wReservedLevels integers, and no two rows share an integer.
::testing::AssertionResult rowsApart(const RestErrorHeader& h) {
    const int32_t* begin = h.dataBlock.get();
    const int32_t* end = begin + 6 * h.wReservedPulses * h.wReservedLevels;
    std::vector<std::pair<const int32_t*, const int32_t*>> rows;
    for (int32_t** table : tablesOf(h))
        for (int i = 0; i < h.wReservedLevels; ++i) rows.emplace_back(table[i], table[i] + h.wReservedPulses);
    std::sort(rows.begin(), rows.end());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (rows[r].first < begin || rows[r].second > end)
            return ::testing::AssertionFailure() << "row outside the data block";
        if (r > 0 && rows[r].first < rows[r - 1].second)
            return ::testing::AssertionFailure() << "rows overlap";
    }
    return ::testing::AssertionSuccess();
}

// Writes a distinct value to every reserved cell through the row tables, every axis entry and
// the descriptor; under the address sanitizer this also proves every row writable.
void dirty(RecordingMessageSink& sink, RestErrorHeader& h) {
    const auto tables = tablesOf(h);
    for (int m = 0; m < 6; ++m)
        for (int i = 0; i < h.wReservedLevels; ++i)
            for (int j = 0; j < h.wReservedPulses; ++j) tables[m][i][j] = 100000 * (m + 1) + 100 * i + j + 1;
    std::fill_n(h.axisBlock.get(), h.wReservedLevels + h.wReservedPulses, int16_t{-7});
    ASSERT_EQ(addInitRestErrHeader(sink, 36, 40, 90, 80, &h), 1);
    h.ifComplete = 1;
}

// Everything a display or a refused call could see: counters, axes and all reserved cells.
struct Snapshot {
    std::vector<int> fields;
    std::vector<int16_t> axes;
    std::vector<int32_t> cells;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const RestErrorHeader& h) {
    Snapshot s{{h.wReservedPulses, h.wVariousPulses, h.wReservedLevels, h.wNoiseLevels, h.repeats,
                h.ifComplete, h.wDescriptorCount, h.wSeriesType, h.wTaskType},
               {h.axisBlock.get(), h.axisBlock.get() + h.wReservedLevels + h.wReservedPulses},
               {}};
    for (int32_t** table : tablesOf(h))
        for (int i = 0; i < h.wReservedLevels; ++i)
            s.cells.insert(s.cells.end(), table[i], table[i] + h.wReservedPulses);
    return s;
}

bool allZero(const Snapshot& s) {
    auto zero = [](auto v) { return v == 0; };
    return std::all_of(s.axes.begin(), s.axes.end(), zero) && std::all_of(s.cells.begin(), s.cells.end(), zero);
}

void expectOnlyMessage(const RecordingMessageSink& sink, const std::string& text, const std::string& caption) {
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, text);
    EXPECT_EQ(sink.messages[0].caption, caption);
    EXPECT_EQ(sink.messages[0].icon, MessageIcon::None);
}
}  // namespace

// A first call makes a zeroed header of exactly the grid. Later calls keep the blocks when the
// product, the sum and the rows fit; otherwise all three are made anew for exactly the grid,
// including when only the sum or only the product would fail.
TEST(RestErrHeaderShapeTest, ShapesKeepOrRemakeBlocksAndClear) {
    struct Reshape {
        int fromPulses, fromLevels, toPulses, toLevels;
        bool keepsBlocks;
        int reservedPulses, reservedLevels;
    };
    const Reshape cases[] = {
        {10, 5, 4, 3, true, 10, 5},    // smaller on both axes
        {10, 5, 10, 5, true, 10, 5},   // the same grid
        {10, 5, 11, 4, true, 10, 5},   // 44 <= 50 and 15 <= 15: columns stay short
        {5, 4, 8, 4, false, 8, 4},     // same levels, more pulses
        {10, 5, 12, 4, false, 12, 4},  // product fits, sum does not
        {2, 10, 6, 6, false, 6, 6},    // sum and rows fit, product does not
        {10, 5, 2, 6, false, 2, 6},    // product and sum fit, rows do not
    };
    for (const Reshape& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.fromPulses << " x " << c.fromLevels << " then "
                                          << c.toPulses << " x " << c.toLevels);
        RecordingMessageSink sink;
        auto h = makeHeader(sink, c.fromPulses, c.fromLevels);
        ASSERT_EQ(h->wReservedPulses, c.fromPulses);  // a new header is exactly the grid
        ASSERT_EQ(h->wReservedLevels, c.fromLevels);
        EXPECT_TRUE(laidOut(*h));
        EXPECT_TRUE(allZero(snapshot(*h)));
        EXPECT_EQ(h->wDescriptorCount + h->ifComplete, 0);
        dirty(sink, *h);
        const int32_t* data = h->dataBlock.get();
        const int32_t* const* rows = h->rowBlock.get();
        const int16_t* axes = h->axisBlock.get();

        {
            RestErrorHeader* const record = h.get();
            h = getRestErrHeader(sink, c.toPulses, c.toLevels, 33, std::move(h));
            ASSERT_EQ(h.get(), record);
        }
        EXPECT_EQ(h->wReservedPulses, c.reservedPulses);
        EXPECT_EQ(h->wReservedLevels, c.reservedLevels);
        EXPECT_EQ(h->wVariousPulses, c.toPulses);
        EXPECT_EQ(h->wNoiseLevels, c.toLevels);
        EXPECT_EQ(h->repeats, 33);
        if (c.keepsBlocks) {
            EXPECT_EQ(h->dataBlock.get(), data);
            EXPECT_EQ(h->rowBlock.get(), rows);
            EXPECT_EQ(h->axisBlock.get(), axes);
        }
        EXPECT_TRUE(laidOut(*h));
        EXPECT_TRUE(rowsApart(*h));
        EXPECT_TRUE(allZero(snapshot(*h)));
        EXPECT_EQ(h->wDescriptorCount, 2);  // the descriptor and the completion flag survive
        EXPECT_STREQ(h->lpTaskName, "recognition");
        EXPECT_EQ(h->ifComplete, 1);
        EXPECT_TRUE(sink.messages.empty());
    }
}

TEST(RestErrHeaderShapeTest, KeptHeaderWithShortColumnsIsRefusedByInit) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 10, 5);
    {
        RestErrorHeader* const record = h.get();
        h = getRestErrHeader(sink, 11, 4, 100, std::move(h));
        ASSERT_EQ(h.get(), record);
    }
    ASSERT_TRUE(rowsApart(*h));
    const Snapshot before = snapshot(*h);
    EXPECT_EQ(initRestErrHeader(sink, 11, 1, 1, 4, 0, 10, 100, h.get()), 0);
    expectOnlyMessage(sink, "Неверно задан wVariousPulsesNumber!", " initRestErrHeader ");
    EXPECT_EQ(snapshot(*h), before);

    sink.messages.clear();
    EXPECT_EQ(initRestErrHeader(sink, 10, 1, 1, 4, 0, 10, 100, h.get()), 1);
    EXPECT_TRUE(sink.messages.empty());
}

TEST(RestErrHeaderShapeTest, RefusedGridLeavesTheHeaderAlone) {
    const struct {
        int pulses, levels;
        const char* text;
    } cases[] = {
        {0, 5, "The simulation grid needs at least one pulse count (got 0)."},
        {4, -2, "The simulation grid needs at least one noise level (got -2)."},
        {65536, 1, "The simulation grid holds at most 65535 pulse counts (got 65536)."},
        {1, 70000, "The simulation grid holds at most 65535 noise levels (got 70000)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RecordingMessageSink sink;
        EXPECT_EQ(getRestErrHeader(sink, c.pulses, c.levels, 10, nullptr), nullptr);
        expectOnlyMessage(sink, c.text, " getRestErrHeader ");

        sink.messages.clear();
        auto h = makeHeader(sink, 6, 5);
        dirty(sink, *h);
        const Snapshot before = snapshot(*h);
        const int32_t* data = h->dataBlock.get();
        {
            RestErrorHeader* const record = h.get();
            h = getRestErrHeader(sink, c.pulses, c.levels, 10, std::move(h));
            EXPECT_EQ(h.get(), record);
        }
        expectOnlyMessage(sink, c.text, " getRestErrHeader ");
        EXPECT_EQ(h->dataBlock.get(), data);
        EXPECT_EQ(snapshot(*h), before);
    }
}

TEST(RestErrHeaderInitTest, FillsTheAxesAndClearsOnlyTheUsedRestoringErrors) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 6, 4);
    dirty(sink, *h);
    const Snapshot dirtied = snapshot(*h);

    ASSERT_EQ(initRestErrHeader(sink, 3, 2, 3, 3, 10, 5, 100, h.get()), 1);
    EXPECT_EQ(std::vector<int16_t>(h->wPulseValues, h->wPulseValues + 3), (std::vector<int16_t>{2, 5, 8}));
    EXPECT_EQ(std::vector<int16_t>(h->lpNoiseLevels, h->lpNoiseLevels + 3), (std::vector<int16_t>{10, 15, 20}));
    EXPECT_EQ(h->wVariousPulses, 3);
    EXPECT_EQ(h->wNoiseLevels, 3);
    EXPECT_EQ(h->repeats, 100);
    EXPECT_EQ(h->ifComplete, 0);
    EXPECT_EQ(h->wDescriptorCount, 2);

    // Only lpErrors[k][i] with k < 3 and i < 3 changed; every other cell is as dirtied.
    const Snapshot after = snapshot(*h);
    for (std::size_t n = 0; n < after.cells.size(); ++n) {
        const std::size_t matrix = n / 24, row = n % 24 / 6, column = n % 6;
        const bool used = matrix == 0 && row < 3 && column < 3;
        EXPECT_EQ(after.cells[n], used ? 0 : dirtied.cells[n]) << matrix << " " << row << " " << column;
    }
    EXPECT_EQ(h->wPulseValues[3], -7);
    EXPECT_EQ(h->lpNoiseLevels[3], -7);

    // Axis values are computed wide and kept to 16 bits.
    ASSERT_EQ(initRestErrHeader(sink, 3, 32766, 1, 3, 5, -10, 1, h.get()), 1);
    EXPECT_EQ(std::vector<int16_t>(h->wPulseValues, h->wPulseValues + 3), (std::vector<int16_t>{32766, 32767, -32768}));
    EXPECT_EQ(std::vector<int16_t>(h->lpNoiseLevels, h->lpNoiseLevels + 3), (std::vector<int16_t>{5, -5, -15}));

    ASSERT_EQ(initRestErrHeader(sink, 2, 2147483647, 2147483647, 1, -2147483647 - 1, 0, 1, h.get()), 1);
    EXPECT_EQ(h->wPulseValues[0], -1);
    EXPECT_EQ(h->wPulseValues[1], -2);
    EXPECT_EQ(h->lpNoiseLevels[0], 0);
    EXPECT_TRUE(sink.messages.empty());
}

TEST(RestErrHeaderInitTest, RefusalsComeInOrderAndChangeNothing) {
    const struct {
        int pulses, levels, repeats;
        const char* text;
    } cases[] = {
        {7, 3, 10, "Неверно задан wVariousPulsesNumber!"},
        {7, 9, 10, "Неверно задан wVariousPulsesNumber!"},  // pulses are checked first
        {6, 5, 10, "Неверно задан wNoiseLevels!"},
        {0, 4, 10, "The simulation grid needs at least one pulse count (got 0)."},
        {6, 0, 10, "The simulation grid needs at least one noise level (got 0)."},
        {6, 4, 0, "The simulation needs at least one series per grid cell (got 0)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RecordingMessageSink sink;
        auto h = makeHeader(sink, 6, 4);
        dirty(sink, *h);
        const Snapshot before = snapshot(*h);
        EXPECT_EQ(initRestErrHeader(sink, c.pulses, 1, 1, c.levels, 1, 1, c.repeats, h.get()), 0);
        expectOnlyMessage(sink, c.text, " initRestErrHeader ");
        EXPECT_EQ(snapshot(*h), before);
    }

    RecordingMessageSink sink;
    EXPECT_EQ(initRestErrHeader(sink, 1, 1, 1, 1, 1, 1, 1, nullptr), 0);
    expectOnlyMessage(sink, "Не определен lpErrorHeader!", " initRestErrHeader ");

    // A record with capacities but no storage is not a usable header.
    sink.messages.clear();
    auto owned = std::make_unique<RestErrorHeader>();
    RestErrorHeader& bare = *owned;
    bare.wReservedPulses = bare.wReservedLevels = 4;
    EXPECT_EQ(initRestErrHeader(sink, 2, 1, 1, 2, 1, 1, 1, &bare), 0);
    expectOnlyMessage(sink, "Не определен lpErrorHeader!", " initRestErrHeader ");
    EXPECT_EQ(bare.wVariousPulses, 0);

    // getRestErrHeader gives such a record storage of its own.
    sink.messages.clear();
    owned = getRestErrHeader(sink, 3, 2, 1, std::move(owned));
    ASSERT_EQ(owned.get(), &bare);
    EXPECT_EQ(bare.wReservedPulses, 3);
    EXPECT_EQ(bare.wReservedLevels, 2);
    EXPECT_TRUE(laidOut(bare));
    EXPECT_TRUE(sink.messages.empty());
}

TEST(RestErrHeaderDescriptorTest, CodesAndNames) {
    RecordingMessageSink sink;
    auto h = makeHeader(sink, 1, 1);
    const std::vector<std::pair<int, const char*>> series{
        {1, "known number of whole pulses"},        {2, "known number of cut-off pulses"},
        {4, "unknown number of whole pulses"},      {8, "unknown number of cut-off pulses"},
        {36, "known number of whole pulses tuples"}, {40, "unknown number of whole pulses tuples"},
        {16, nullptr}, {32, nullptr}, {0, nullptr}};
    const std::vector<std::pair<int, const char*>> tasks{
        {1, "detection"}, {36, "detection"}, {2, "recognition"}, {40, "recognition"},
        {4, "joint detection and identification"}, {8, "joint detection and estimation"},
        {16, "joint detection and estimation"}, {32, "blind detection"},
        {0, nullptr}, {3, nullptr}, {64, nullptr}};
    for (auto [code, name] : series) {
        ASSERT_EQ(addInitRestErrHeader(sink, code, 1, 90, 70, h.get()), 1);
        EXPECT_EQ(h->wSeriesType, code);
        if (name) EXPECT_STREQ(h->lpSeriesTypeName, name) << code;
        else EXPECT_EQ(h->lpSeriesTypeName, nullptr) << code;
    }
    for (auto [code, name] : tasks) {
        ASSERT_EQ(addInitRestErrHeader(sink, 4, code, 90, 70, h.get()), 1);
        EXPECT_EQ(h->wTaskType, code);
        if (name) EXPECT_STREQ(h->lpTaskName, name) << code;
        else EXPECT_EQ(h->lpTaskName, nullptr) << code;
    }
    EXPECT_EQ(h->wDescriptorCount, 2);
    EXPECT_EQ(h->wMakingEnergy, 90);
    EXPECT_EQ(h->wProcessingEnergy, 70);
    EXPECT_TRUE(sink.messages.empty());

    EXPECT_EQ(addInitRestErrHeader(sink, 1, 1, 90, 70, nullptr), 0);
    expectOnlyMessage(sink, "Не определен lpErrorHeader!", " addInitRestErrHeader ");

    sink.messages.clear();
    EXPECT_EQ(releaseRestErrHeader(sink, nullptr), 1);
    EXPECT_EQ(releaseRestErrHeader(sink, std::move(h)), 1);
    EXPECT_TRUE(sink.messages.empty());
}
