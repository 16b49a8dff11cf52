// Memory failures in the middle of making or growing the engine's records. This test program
// replaces the global allocation functions so that one chosen allocation fails; the leak checker
// then shows that every failure path released what it held, and the address checker that
// nothing was freed twice.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <map>
#include <string>
#include <vector>

#include "model/alphabet.h"
#include "model/series.h"
#include "processing/chains.h"
#include "platform/dialog_form.h"
#include "platform/headless/headless_shell.h"
#include "simulation/rest_error.h"
#include "tests/display/text_log.h"
#include "workbench/workbench.h"

namespace {
// The next allocation of exactly this many bytes fails; 0 = none. Atomic: the simulation's
// worker threads allocate too.
std::atomic<std::size_t> failingSize{0};

void* allocate(std::size_t n) {
    std::size_t expected = n;
    if (n != 0 && failingSize.compare_exchange_strong(expected, 0)) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {
void expectOneMessage(RecordingMessageSink& sink, const std::string& text, const std::string& caption) {
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, text);
    EXPECT_EQ(sink.messages[0].caption, caption);
    sink.messages.clear();
}

TEST(AllocationFailure, AChainsHeaderThatCannotGrowIsReleasedWithItsBlocksAndSaysWhich) {
    // Growing 5 x 4 to 7 x 9: distances 2 x 7 int32, 4 x 7 row pointers, 4 x 7 x 9 int16.
    const std::vector<std::pair<std::size_t, std::string>> blocks{
        {2 * 7 * sizeof(int32_t), "Нет памяти для newChainsHeader->distance!"},
        {4 * 7 * sizeof(int16_t*), "Нет памяти для newChainsHeader->pulsesList!"},
        {4 * 7 * 9 * sizeof(int16_t), "Нет памяти для newChainsHeader->pulsesList[0]!"}};
    for (const auto& [bytes, text] : blocks) {
        SCOPED_TRACE(text);
        RecordingMessageSink sink;
        std::unique_ptr<ChainsHeader> h = getChainsHeader(sink, 5, 4, nullptr);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(addToChainsHeader(sink, 8, 2, 75, 75, h.get()), 1);
        failingSize = bytes;
        h = getChainsHeader(sink, 7, 9, std::move(h));
        EXPECT_EQ(failingSize, 0u);
        EXPECT_EQ(h, nullptr);
        expectOneMessage(sink, text, " getChainsHeader ");
        // The next call starts afresh.
        h = getChainsHeader(sink, 7, 9, std::move(h));
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->wMaxSize, 7);
        EXPECT_TRUE(sink.messages.empty());
    }
    RecordingMessageSink sink;
    failingSize = sizeof(ChainsHeader);
    EXPECT_EQ(getChainsHeader(sink, 3, 3, nullptr), nullptr);
    expectOneMessage(sink, "Нет памяти для newChainsHeader!", " getChainsHeader ");
}

TEST(AllocationFailure, AnAccumulatorThatCannotBeReshapedIsReleasedWithItsBlocksAndSaysWhich) {
    // Reshaping 2 x 2 to 7 pulse counts by 3 levels replaces all three blocks.
    const std::vector<std::pair<std::size_t, std::string>> blocks{
        {(7 + 3) * sizeof(int16_t), "Нет памяти для newRestErrorHeader->lpNoiseLevel!"},
        {6 * 3 * sizeof(int32_t*), "Нет памяти для newRestErrorHeader->lpErrors!"},
        {6 * 7 * 3 * sizeof(int32_t), "Нет памяти для newRestErrorHeader->lpErrors[]!"}};
    for (const auto& [bytes, text] : blocks) {
        SCOPED_TRACE(text);
        RecordingMessageSink sink;
        std::unique_ptr<RestErrorHeader> h = getRestErrHeader(sink, 2, 2, 10, nullptr);
        ASSERT_NE(h, nullptr);
        failingSize = bytes;
        h = getRestErrHeader(sink, 7, 3, 10, std::move(h));
        EXPECT_EQ(failingSize, 0u);
        EXPECT_EQ(h, nullptr);
        expectOneMessage(sink, text, " getRestErrHeader ");
    }
    RecordingMessageSink sink;
    failingSize = sizeof(RestErrorHeader);
    EXPECT_EQ(getRestErrHeader(sink, 3, 3, 10, nullptr), nullptr);
    expectOneMessage(sink, "Нет памяти для newRestErrorHeader!", " getRestErrHeader ");
}

TEST(AllocationFailure, ASeriesHeaderThatCannotGrowIsReleasedOrEmptiedInPlace) {
    RecordingMessageSink sink;
    Alphabet alphabet;
    SeedCells seeds;
    ASSERT_EQ(buildAlphabet(sink, 128, 20, 20, alphabet, seeds.alphabetSeed), 1);
    std::vector<uint16_t> sequence(40, 1);
    // 200 samples with Tmin 40 and Tmax 181: at most 5 pulses; 400 samples: at most 10.
    const std::size_t grownBlock = (2 * 400 + 13 * 10) * sizeof(int16_t);

    std::unique_ptr<SeriesHeader> h = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 200, nullptr);
    ASSERT_NE(h, nullptr);
    failingSize = grownBlock;
    h = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 400, std::move(h));
    EXPECT_EQ(failingSize, 0u);
    EXPECT_EQ(h, nullptr);
    expectOneMessage(sink, "Нет памяти для newSeriesHeader->lpPureData!", " getExtSeriesHeader ");

    failingSize = sizeof(SeriesHeader);
    EXPECT_EQ(getCutOffSeriesHeader(sink, 20, 20, 40, 181, 200, nullptr), nullptr);
    expectOneMessage(sink, "Нет памяти для newSeriesHeader!", " getCutOffSeriesHeader ");

    // A record the caller keeps (the simulation's series) is emptied, not released: nothing
    // points into the block that could not be replaced, and it can be sized again.
    h = getCutOffSeries(sink, 20, alphabet, 20, 40, 181, 200, 3, sequence, 128, 75, nullptr, seeds);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(sink.messages.empty());
    failingSize = grownBlock;
    EXPECT_EQ(getCutOffSeriesInto(sink, 20, alphabet, 20, 40, 181, 400, 6, sequence, 128, 75, *h, seeds), 0);
    EXPECT_EQ(failingSize, 0u);
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[0].text, "Нет памяти для newSeriesHeader->lpPureData!");
    EXPECT_EQ(sink.messages[1].text, "Не могу выделить память для lpSeriesHeader!");
    sink.messages.clear();
    EXPECT_EQ(h->block, nullptr);
    EXPECT_EQ(h->lpPureData, nullptr);
    EXPECT_EQ(h->dwAllocatedSize, 0u);
    EXPECT_EQ(h->wAllocatedPulses, 0);
    EXPECT_EQ(getCutOffSeriesInto(sink, 20, alphabet, 20, 40, 181, 400, 6, sequence, 128, 75, *h, seeds), 1);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(h->wImpulseQuantity, 6);
    releaseAlphabet(20, alphabet);
}
// The workbench's own memory failures while simulating and painting are told in their boxes
// (a paint's after the paint), and nothing half made is used.
TEST(AllocationFailure, SimulationAndPaintingSayWhichMemoryWasMissing) {
    HeadlessShell shell;
    Workbench workbench;
    std::map<int, std::string> answers{{1015, "6"}, {1016, "30"}, {1018, "1"}, {1020, "30"}, {1021, "2"}};
    shell.setDispatcher([&](int id) { workbench.onCommand(id); });
    shell.setDialogAnswer([&](const DialogForm& form) { return scriptedAnswer(form, answers, false); });
    ASSERT_TRUE(workbench.onCreate(shell));
    const auto lastMessage = [&] { return shell.messages.empty() ? std::string() : shell.messages.back().text; };

    // The etalon numbers handed to the series maker: 3 x 30 16-bit counters and entries.
    failingSize = 3 * 30 * sizeof(uint16_t);
    workbench.onCommand(40012);
    EXPECT_EQ(failingSize, 0u);
    EXPECT_EQ(lastMessage(), "Ошибка lpEtalonNumbersList!");
    EXPECT_EQ(shell.messages.back().caption, " About statCutoffSighting ");

    // A complete run, then its graphs without room for their normalisers (25 pulse counts).
    workbench.onCommand(40012);
    ASSERT_NE(workbench.settings.lpRestErrorHeader, nullptr);
    ASSERT_EQ(workbench.settings.lpRestErrorHeader->ifComplete, 1);
    ASSERT_EQ(workbench.settings.viewMode, ViewMode::results);
    shell.messages.clear();
    TextLog canvas;
    failingSize = 25 * sizeof(uint32_t);
    workbench.onPaint(canvas, Rect{0, 0, 1600, 1000});
    EXPECT_EQ(failingSize, 0u);
    EXPECT_EQ(lastMessage(), "No memory to RestoredErrorNormalizer");
    EXPECT_EQ(shell.messages.back().caption, " ERROR in DrawDetectionArrayZ ");
    workbench.onPaint(canvas, Rect{0, 0, 1600, 1000});  // painted whole again: no second box
    EXPECT_EQ(shell.messages.size(), 1u);

    // The subset panel's current subset: ten entries.
    workbench.onCommand(40016);
    shell.messages.clear();
    workbench.panel = SubsetPanelState{};
    failingSize = 10 * sizeof(int32_t);
    workbench.onPaint(canvas, Rect{0, 0, 1600, 1000});
    EXPECT_EQ(failingSize, 0u);
    EXPECT_EQ(lastMessage(), "Нет памяти для selectedSubset!");
    workbench.onDestroy();
}
}  // namespace
