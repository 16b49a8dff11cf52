#include "processing/interval_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {
using Intervals = std::vector<std::pair<int, int>>;
using Positions = std::set<int>;

using SetPtr = OwnedIntervalSet;

// A set of the given capacity holding exactly `intervals`, written entry by entry so that the
// operations under test are not needed to build it.
SetPtr makeSet(uint16_t capacity, const Intervals& intervals) {
    SetPtr set(newIntervalSet(nullptr, capacity));
    EXPECT_NE(set, nullptr);
    EXPECT_LE(intervals.size(), capacity);
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        set->lpStarts[i] = static_cast<uint16_t>(intervals[i].first);
        set->lpEnds[i] = static_cast<uint16_t>(intervals[i].second);
    }
    set->wCount = static_cast<uint16_t>(intervals.size());
    return set;
}

Intervals entriesOf(const IntervalSet& set) {
    Intervals out;
    for (int i = 0; i < set.wCount; ++i) out.emplace_back(set.lpStarts[i], set.lpEnds[i]);
    return out;
}

Positions positionsOf(const IntervalSet& set) {
    Positions out;
    for (int i = 0; i < set.wCount; ++i)
        for (int p = set.lpStarts[i]; p <= set.lpEnds[i]; ++p) out.insert(p);
    return out;
}

::testing::AssertionResult wellFormed(const IntervalSet& set) {
    if (set.wCount > set.wCapacity) return ::testing::AssertionFailure() << "count above capacity";
    if (set.lpStarts != set.block.get() || set.lpEnds != set.block.get() + set.wCapacity)
        return ::testing::AssertionFailure() << "arrays do not lie in the block";
    for (int i = 0; i < set.wCount; ++i) {
        if (set.lpStarts[i] > set.lpEnds[i]) return ::testing::AssertionFailure() << "entry " << i << " reversed";
        if (i + 1 < set.wCount && set.lpEnds[i] >= set.lpStarts[i + 1])
            return ::testing::AssertionFailure() << "entries " << i << " and " << i + 1 << " overlap or are unsorted";
    }
    return ::testing::AssertionSuccess();
}

Positions range(int a, int b) {
    Positions out;
    for (int p = a; p <= b; ++p) out.insert(p);
    return out;
}
}  // namespace

TEST(IntervalSetTest, NewSetsAndReuseNeverShrink) {
    SetPtr set(newIntervalSet(nullptr, 10));
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->wCapacity, 10);
    EXPECT_TRUE(wellFormed(*set));
    for (int i = 0; i < 10; ++i) set->lpStarts[i] = set->lpEnds[i] = static_cast<uint16_t>(i + 1);
    set->wCount = 10;
    const uint16_t* block = set->block.get();
    for (auto [asked, kept] : {std::pair{4, 10}, std::pair{12, 12}}) {
        ASSERT_EQ(newIntervalSet(set.get(), asked), set.get());
        EXPECT_EQ(set->wCapacity, kept);
        EXPECT_EQ(set->wCount, 0);
        EXPECT_TRUE(wellFormed(*set));
        EXPECT_TRUE(std::all_of(set->block.get(), set->block.get() + 2 * kept, [](uint16_t v) { return v == 0; }));
        if (kept == 10) {
            EXPECT_EQ(set->block.get(), block);  // kept, not reallocated
        }
    }
    EXPECT_EQ(freeIntervalSet(nullptr), nullptr);
    EXPECT_EQ(freeIntervalSet(set.release()), nullptr);
}

namespace {
enum class Op { Add, Remove, Clip };
struct Example {
    Op op;
    Intervals before;
    int a, b, result;
    Intervals after;
    uint16_t capacity = 5;
};
}  // namespace

TEST(IntervalSetTest, SingleIntervalOperations) {
    const Intervals three{{0, 5}, {10, 15}, {20, 25}};
    const Intervals full{{0, 5}, {10, 15}, {20, 25}, {30, 35}};
    const Intervals high{{0, 3}, {65530, 65535}};
    const std::vector<Example> examples{
        {Op::Add, {{0, 5}, {10, 15}}, 5, 8, 1, {{0, 8}, {10, 15}}},
        {Op::Add, {{0, 5}, {10, 15}}, 6, 8, 1, {{0, 5}, {6, 8}, {10, 15}}},  // touching stays apart
        {Op::Add, three, 3, 30, 1, {{0, 30}}},
        {Op::Add, {{5, 6}, {10, 12}, {20, 25}}, 3, 11, 1, {{3, 12}, {20, 25}}},
        {Op::Add, {{10, 15}}, 0, 9, 1, {{0, 9}, {10, 15}}},
        {Op::Add, {{0, 5}, {10, 15}}, 6, 9, 0, {{0, 5}, {10, 15}}, 2},  // full, needs an entry
        {Op::Add, {{0, 5}, {10, 15}}, 5, 10, 1, {{0, 15}}, 2},          // full, merges
        {Op::Add, three, 9, 3, 0, three},
        {Op::Add, {}, 1, 2, 0, {}, 0},
        {Op::Remove, three, 5, 10, 1, {{0, 4}, {11, 15}, {20, 25}}},
        {Op::Remove, three, 12, 13, 1, {{0, 5}, {10, 11}, {14, 15}, {20, 25}}},
        {Op::Remove, three, 11, 21, 1, {{0, 5}, {10, 10}, {22, 25}}},
        {Op::Remove, full, 2, 3, 0, full, 4},  // the split does not fit
        {Op::Remove, full, 0, 3, 1, {{4, 5}, {10, 15}, {20, 25}, {30, 35}}, 4},
        {Op::Remove, {{0, 5}, {6, 10}}, 5, 6, 1, {{0, 4}, {7, 10}}, 2},
        {Op::Remove, three, 8, 1, 0, three},
        {Op::Clip, three, 5, 10, 1, {{5, 5}, {10, 10}}},
        {Op::Clip, three, 15, 15, 1, {{15, 15}}},
        {Op::Clip, three, 6, 9, 1, {}},
        {Op::Clip, three, 12, 3, 0, three},
        // Arguments beyond 0..65535 are cut to that range first.
        {Op::Add, {{0, 3}}, 65530, 70000, 1, high},
        {Op::Add, {{10, 20}}, -5, 3, 1, {{0, 3}, {10, 20}}},
        {Op::Add, high, -10, -1, 0, high},
        {Op::Remove, high, -5, 1, 1, {{2, 3}, {65530, 65535}}},
        {Op::Remove, high, 65535, 90000, 1, {{0, 3}, {65530, 65534}}},
        {Op::Remove, high, 65536, 90000, 0, high},
        {Op::Clip, high, -1, 65531, 1, {{0, 3}, {65530, 65531}}},
        {Op::Clip, high, 70000, 80000, 0, high},
    };
    for (const Example& e : examples) {
        SCOPED_TRACE(::testing::Message() << "operation " << static_cast<int>(e.op) << " [" << e.a
                                          << ", " << e.b << "] on " << ::testing::PrintToString(e.before));
        auto set = makeSet(e.capacity, e.before);
        const int result = e.op == Op::Add      ? addInterval(set.get(), e.a, e.b)
                           : e.op == Op::Remove ? removeInterval(set.get(), e.a, e.b)
                                                : clipToInterval(set.get(), e.a, e.b);
        EXPECT_EQ(result, e.result);
        EXPECT_EQ(entriesOf(*set), e.after);
    }
    EXPECT_EQ(addInterval(nullptr, 1, 2), 0);
    EXPECT_EQ(removeInterval(nullptr, 1, 2), 0);
    EXPECT_EQ(clipToInterval(nullptr, 1, 2), 0);
}

TEST(IntervalSetTest, WholeSetOperations) {
    // Intersection: one share per interval of the other set; shares cut by touching intervals
    // stay separate entries and a share that does not fit is dropped.
    struct Case { uint16_t capacity; Intervals set, other, after; };
    for (const Case& c : {Case{6, {{0, 10}, {20, 30}}, {{5, 25}, {40, 41}}, {{5, 10}, {20, 25}}},
                          Case{3, {{0, 10}}, {{0, 4}, {5, 10}}, {{0, 4}, {5, 10}}},
                          Case{1, {{0, 100}}, {{0, 5}, {10, 15}}, {{0, 5}}}}) {
        auto set = makeSet(c.capacity, c.set);
        auto other = makeSet(3, c.other);
        EXPECT_EQ(intersectIntervalSet(set.get(), other.get()), 1);
        EXPECT_EQ(entriesOf(*set), c.after);
        EXPECT_EQ(set->wCapacity, c.capacity);
    }

    auto set = makeSet(4, {{0, 3}, {10, 12}});
    auto other = makeSet(3, {{2, 5}, {7, 8}, {11, 20}});
    EXPECT_EQ(addIntervalSet(set.get(), other.get()), 1);
    EXPECT_EQ(entriesOf(*set), (Intervals{{0, 5}, {7, 8}, {10, 20}}));
    other = makeSet(2, {{4, 7}, {12, 12}});
    EXPECT_EQ(removeIntervalSet(set.get(), other.get()), 1);
    EXPECT_EQ(entriesOf(*set), (Intervals{{0, 3}, {8, 8}, {10, 11}, {13, 20}}));

    // A set combined with itself.
    const Intervals own = entriesOf(*set);
    EXPECT_EQ(addIntervalSet(set.get(), set.get()), 1);
    EXPECT_EQ(intersectIntervalSet(set.get(), set.get()), 1);
    EXPECT_EQ(entriesOf(*set), own);
    EXPECT_EQ(removeIntervalSet(set.get(), set.get()), 1);
    EXPECT_EQ(set->wCount, 0);

    for (auto operation : {addIntervalSet, removeIntervalSet, intersectIntervalSet}) {
        EXPECT_EQ(operation(nullptr, other.get()), 0);
        EXPECT_EQ(operation(set.get(), nullptr), 0);
    }
}

TEST(IntervalSetTest, CopyPreparesTheDestination) {
    auto source = makeSet(3, {{1, 2}, {5, 9}});
    SetPtr fresh(copyIntervalSet(nullptr, source.get()));
    auto larger = makeSet(8, {{0, 0}, {3, 3}, {6, 6}, {9, 9}, {12, 12}});
    auto smaller = makeSet(1, {{4, 4}});
    EXPECT_EQ(copyIntervalSet(larger.get(), source.get()), larger.get());
    EXPECT_EQ(copyIntervalSet(smaller.get(), source.get()), smaller.get());
    EXPECT_EQ(copyIntervalSet(source.get(), source.get()), source.get());
    for (auto [copy, capacity] : {std::pair{fresh.get(), 3}, std::pair{larger.get(), 8},
                                  std::pair{smaller.get(), 3}, std::pair{source.get(), 3}}) {
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->wCapacity, capacity);
        EXPECT_TRUE(wellFormed(*copy));
        EXPECT_EQ(entriesOf(*copy), (Intervals{{1, 2}, {5, 9}}));
    }
    EXPECT_EQ(larger->lpStarts[2], 0);  // the rest of a reused destination is cleared
    EXPECT_EQ(copyIntervalSet(larger.get(), nullptr), nullptr);
}

// Random operations over small positions against a plain set of positions. With room for every
// position as its own entry no operation can be refused.
TEST(IntervalSetTest, RandomOperationsMatchAPositionModel) {
    std::mt19937 random(20240611);
    const auto draw = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    const auto randomPair = [&](int& a, int& b) {
        a = draw(-3, 63);
        b = draw(0, 8) == 0 ? a - draw(1, 5) : a + draw(0, 15);
    };
    // A second operand built from single positions, so its model is exact.
    const auto randomOther = [&](Positions& model) {
        SetPtr other(newIntervalSet(nullptr, 64));
        for (int p = 0; p <= 60; ++p)
            if (draw(0, 2) == 0) {
                EXPECT_EQ(addInterval(other.get(), p, p), 1);
                model.insert(p);
            }
        return other;
    };

    for (int round = 0; round < 200; ++round) {
        SetPtr set(newIntervalSet(nullptr, 128));
        Positions model;
        for (int step = 0; step < 40; ++step) {
            const int op = draw(0, 5);
            int a = 0, b = 0;
            randomPair(a, b);
            const bool valid = a <= b && b >= 0 && a <= 65535;
            const Positions span = valid ? range(std::max(a, 0), b) : Positions{};
            std::string what;
            int result = 1, expected = valid ? 1 : 0;
            if (op == 0 || op == 1) {
                what = "add";
                result = addInterval(set.get(), a, b);
                model.insert(span.begin(), span.end());
            } else if (op == 2) {
                what = "remove";
                result = removeInterval(set.get(), a, b);
                for (int p : span) model.erase(p);
            } else if (op == 3) {
                what = "clip";
                result = clipToInterval(set.get(), a, b);
                if (valid) std::erase_if(model, [&](int p) { return !span.contains(p); });
            } else {
                Positions otherModel;
                auto other = randomOther(otherModel);
                expected = 1;
                if (op == 4) {
                    what = "intersect";
                    result = intersectIntervalSet(set.get(), other.get());
                    std::erase_if(model, [&](int p) { return !otherModel.contains(p); });
                } else {
                    what = "remove set";
                    result = removeIntervalSet(set.get(), other.get());
                    for (int p : otherModel) model.erase(p);
                }
            }
            SCOPED_TRACE(::testing::Message() << "round " << round << " step " << step << ": " << what
                                              << " [" << a << ", " << b << "]");
            EXPECT_EQ(result, expected);
            ASSERT_TRUE(wellFormed(*set));
            ASSERT_EQ(positionsOf(*set), model);
        }
    }
}

// With little room, an operation is refused exactly when it needs one more entry in a full set:
// an addition sharing no position with the set, or a removal strictly inside one entry.
TEST(IntervalSetTest, RefusalsOnlyWhenAFullSetNeedsAnEntry) {
    std::mt19937 random(77);
    const auto draw = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        const auto capacity = static_cast<uint16_t>(draw(1, 4));
        SetPtr set(newIntervalSet(nullptr, capacity));
        for (int step = 0; step < 30; ++step) {
            const int a = draw(0, 60), b = a + draw(0, 6);
            const Intervals before = entriesOf(*set);
            const Positions held = positionsOf(*set);
            const bool full = before.size() == capacity;
            const bool adding = draw(0, 2) != 0;
            bool needsEntry = false;
            int overlapping = 0;
            for (auto [s, e] : before) {
                if (s <= b && e >= a) ++overlapping;
                if (!adding && s < a && b < e) needsEntry = true;
            }
            if (adding) needsEntry = overlapping == 0;

            const int result = adding ? addInterval(set.get(), a, b) : removeInterval(set.get(), a, b);
            SCOPED_TRACE(::testing::Message() << (adding ? "add [" : "remove [") << a << ", " << b
                                              << "] capacity " << capacity);
            ASSERT_TRUE(wellFormed(*set));
            if (full && needsEntry) {
                ++refused;
                EXPECT_EQ(result, 0);
                EXPECT_EQ(entriesOf(*set), before);
                continue;
            }
            EXPECT_EQ(result, 1);
            Positions model = held;
            for (int p = a; p <= b; ++p) adding ? (void)model.insert(p) : (void)model.erase(p);
            EXPECT_EQ(positionsOf(*set), model);
            if (adding) {
                EXPECT_EQ(set->wCount, before.size() + 1 - overlapping);  // no touching merge
            }
        }
    }
    EXPECT_GT(refused, 100);
}

namespace {
struct PositionModel {
    Positions first, later, last;
    int laterAdds = 0;  // intervals offered to Later: one per later pulse of each feasible length
};

// Every chain of k pulses, Kmin <= k <= Kmax, obeying the start, gap and end constraints.
PositionModel enumerateChains(int N, int n, int Tmin, int Tmax, int Kmin, int Kmax) {
    PositionModel model;
    std::vector<int> chain;
    bool feasible = false;
    std::function<void(int)> extend = [&](int k) {
        if (static_cast<int>(chain.size()) == k) {
            const int p = chain.back();
            if (p > N - n || N - p > Tmax) return;
            feasible = true;
            model.first.insert(chain.front());
            model.last.insert(p);
            for (int i = 1; i < k; ++i) model.later.insert(chain[i]);
            return;
        }
        const int from = chain.back() + Tmin, to = std::min(chain.back() + Tmax, N - n);
        for (int p = from; p <= to; ++p) {
            chain.push_back(p);
            extend(k);
            chain.pop_back();
        }
    };
    for (int k = Kmin; k <= Kmax; ++k) {
        feasible = false;
        for (int p0 = 0; p0 + n <= Tmax && p0 <= N - n; ++p0) {
            chain = {p0};
            extend(k);
        }
        if (feasible) model.laterAdds += k - 1;
    }
    return model;
}
}  // namespace

TEST(PositionSetsTest, SinglePulseChains) {
    // First = Last = [max(N - Tmax, 0), min(Tmax - n, N - n)], Later empty.
    struct Case { int N, n, Tmax; Intervals expected; };
    for (const Case& c : {Case{100, 10, 120, {{0, 90}}}, Case{100, 10, 60, {{40, 50}}},
                          Case{50, 8, 30, {{20, 22}}}, Case{100, 10, 40, {}}}) {
        SCOPED_TRACE(::testing::Message() << "N " << c.N << " n " << c.n << " Tmax " << c.Tmax);
        PositionSets sets;
        ASSERT_EQ(makePositionSets(c.N, c.n, 3, c.Tmax, 1, 1, sets), 1);
        EXPECT_EQ(entriesOf(*sets.First), c.expected);
        EXPECT_EQ(entriesOf(*sets.Last), c.expected);
        EXPECT_EQ(sets.Later->wCount, 0);
        EXPECT_EQ(sets.First->wCapacity, 1);
    }
}

TEST(PositionSetsTest, FixedSpacingGivesSeparateIntervals) {
    PositionSets sets;
    ASSERT_EQ(makePositionSets(30, 5, 10, 10, 1, 3, sets), 1);
    EXPECT_EQ(entriesOf(*sets.First), (Intervals{{0, 5}}));
    EXPECT_EQ(entriesOf(*sets.Later), (Intervals{{10, 15}, {20, 25}}));
    EXPECT_EQ(entriesOf(*sets.Last), (Intervals{{20, 25}}));
    EXPECT_EQ(sets.Later->wCapacity, 3);

    // Remaking into the same record replaces the earlier contents.
    ASSERT_EQ(makePositionSets(100, 10, 20, 40, 3, 4, sets), 1);
    EXPECT_EQ(entriesOf(*sets.First), (Intervals{{0, 30}}));
    EXPECT_EQ(entriesOf(*sets.Later), (Intervals{{20, 90}}));
    EXPECT_EQ(entriesOf(*sets.Last), (Intervals{{60, 90}}));
    EXPECT_EQ(sets.Later->wCapacity, 4);
}

TEST(PositionSetsTest, UnusablePulseRangesGiveEmptySets) {
    struct Case { int Kmin, Kmax, capacity; };
    for (const Case c : {Case{0, 3, 3}, Case{4, 3, 3}, Case{1, 0, 1}, Case{-2, -1, 1}}) {
        PositionSets sets;
        ASSERT_EQ(makePositionSets(100, 10, 20, 40, c.Kmin, c.Kmax, sets), 1);
        for (const IntervalSet* set : {sets.First.get(), sets.Later.get(), sets.Last.get()}) {
            ASSERT_NE(set, nullptr);
            EXPECT_EQ(set->wCount, 0);
            EXPECT_EQ(set->wCapacity, c.capacity);
        }
    }
}

TEST(PositionSetsTest, LongChainsWithWideGapsDoNotWrap) {
    // Tmax * k is beyond 32 bits here; every pulse i still has room [i, 25535 + i].
    PositionSets sets;
    ASSERT_EQ(makePositionSets(65535, 1, 1, 65535, 40000, 40000, sets), 1);
    EXPECT_EQ(entriesOf(*sets.First), (Intervals{{0, 25535}}));
    EXPECT_EQ(entriesOf(*sets.Later), (Intervals{{1, 65534}}));
    EXPECT_EQ(entriesOf(*sets.Last), (Intervals{{39999, 65534}}));
    EXPECT_EQ(sets.Later->wCapacity, 40000);
}

TEST(PositionSetsTest, MatchEnumeratedChains) {
    std::mt19937 random(4242);
    const auto draw = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    int crowded = 0, nonEmpty = 0;
    for (int round = 0; round < 400; ++round) {
        const int N = draw(4, 26), n = draw(1, 6);
        const int Tmax = draw(n, 14), Tmin = draw(1, Tmax);
        const int Kmin = draw(1, 5), Kmax = Kmin + draw(0, 3);
        SCOPED_TRACE(::testing::Message() << "N " << N << " n " << n << " T " << Tmin << ".." << Tmax
                                          << " K " << Kmin << ".." << Kmax);
        PositionSets sets;
        ASSERT_EQ(makePositionSets(N, n, Tmin, Tmax, Kmin, Kmax, sets), 1);
        const PositionModel model = enumerateChains(N, n, Tmin, Tmax, Kmin, Kmax);
        for (const IntervalSet* set : {sets.First.get(), sets.Later.get(), sets.Last.get()}) {
            EXPECT_TRUE(wellFormed(*set));
            EXPECT_GE(set->wCapacity, Kmax);
        }
        // Later receives one interval per later pulse of every feasible length, more than Kmax
        // when the gap window is narrow: the set grows and keeps every one of them.
        if (model.laterAdds > Kmax) ++crowded;
        EXPECT_EQ(positionsOf(*sets.First), model.first);
        EXPECT_EQ(positionsOf(*sets.Later), model.later);
        EXPECT_EQ(positionsOf(*sets.Last), model.last);
        if (!model.first.empty()) ++nonEmpty;
    }
    EXPECT_GT(crowded, 20);
    EXPECT_GT(nonEmpty, 100);
}

TEST(PositionSetsTest, NarrowWindowsKeepEveryRange) {
    // Gaps of 7 or 8 in 40 samples with pulses of 5, chains of 5 or 6 pulses: every later pulse
    // of each count has a narrow range of its own, 8 disjoint ranges for chains of at most 6.
    PositionSets sets;
    ASSERT_EQ(makePositionSets(40, 5, 7, 8, 5, 6, sets), 1);
    EXPECT_EQ(sets.Later->wCount, 8);
    EXPECT_TRUE(wellFormed(*sets.Later));
    const PositionModel model = enumerateChains(40, 5, 7, 8, 5, 6);
    EXPECT_EQ(positionsOf(*sets.Later), model.later);
    EXPECT_EQ(positionsOf(*sets.First), model.first);
    EXPECT_EQ(positionsOf(*sets.Last), model.last);
}

TEST(IntervalSetTest, GrowingKeepsTheIntervals) {
    SetPtr set = makeSet(2, {{0, 5}, {10, 15}});
    EXPECT_EQ(addInterval(set.get(), 20, 25), 0);  // full
    ASSERT_EQ(growIntervalSet(set.get(), 5), 1);
    EXPECT_EQ(set->wCapacity, 5);
    EXPECT_TRUE(wellFormed(*set));
    EXPECT_EQ(entriesOf(*set), (Intervals{{0, 5}, {10, 15}}));
    EXPECT_EQ(addInterval(set.get(), 20, 25), 1);
    // Asking for less keeps the arrays; a null set is refused.
    ASSERT_EQ(growIntervalSet(set.get(), 3), 1);
    EXPECT_EQ(set->wCapacity, 5);
    EXPECT_EQ(entriesOf(*set), (Intervals{{0, 5}, {10, 15}, {20, 25}}));
    EXPECT_EQ(growIntervalSet(nullptr, 3), 0);
}
