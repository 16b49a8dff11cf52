#include "processing/interval_set.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "model/owned.h"

namespace {
constexpr int32_t kLastPosition = 65535;

// Narrows [a, b] to the positions a set can hold. False when nothing is left (or a > b).
bool clipToPositions(int32_t& a, int32_t& b) {
    if (a > b) return false;
    a = std::max<int32_t>(a, 0);
    b = std::min<int32_t>(b, kLastPosition);
    return a <= b;
}

int count(const IntervalSet& set) { return std::min(set.wCount, set.wCapacity); }

// First entry that ends at or after `a`: every entry before it lies wholly below a.
int firstEndingFrom(const IntervalSet& set, int32_t a) {
    const uint16_t* found = std::lower_bound(set.lpEnds, set.lpEnds + count(set), a,
                                             [](uint16_t end, int32_t value) { return end < value; });
    return static_cast<int>(found - set.lpEnds);
}

// First entry from `from` on that starts after `b`: it and every later entry lie wholly above b.
int firstStartingAfter(const IntervalSet& set, int from, int32_t b) {
    const uint16_t* found = std::upper_bound(set.lpStarts + from, set.lpStarts + count(set), b,
                                             [](int32_t value, uint16_t start) { return value < start; });
    return static_cast<int>(found - set.lpStarts);
}

// Moves entries [from, count) so that they start at `to`, adjusting the count.
void shiftTail(IntervalSet& set, int from, int to) {
    const int n = count(set);
    if (to < from) {
        std::copy(set.lpStarts + from, set.lpStarts + n, set.lpStarts + to);
        std::copy(set.lpEnds + from, set.lpEnds + n, set.lpEnds + to);
    } else if (to > from) {
        std::copy_backward(set.lpStarts + from, set.lpStarts + n, set.lpStarts + n + (to - from));
        std::copy_backward(set.lpEnds + from, set.lpEnds + n, set.lpEnds + n + (to - from));
    }
    set.wCount = static_cast<uint16_t>(n + (to - from));
}

void setEntry(IntervalSet& set, int i, int32_t start, int32_t end) {
    set.lpStarts[i] = static_cast<uint16_t>(start);
    set.lpEnds[i] = static_cast<uint16_t>(end);
}

// Adds [lo, hi] to a set when the interval holds at least one position. A full set first grows
// (doubling), so the interval is never dropped. False when the set cannot grow.
bool addIfNotEmpty(IntervalSet& set, int64_t lo, int64_t hi) {
    lo = std::max<int64_t>(lo, 0);
    hi = std::min<int64_t>(hi, kLastPosition);
    if (lo > hi) return true;
    if (count(set) >= set.wCapacity) {
        if (set.wCapacity >= kLastPosition) return false;
        const int32_t grown = std::min<int32_t>(2 * std::max<int32_t>(set.wCapacity, 1), kLastPosition);
        if (!growIntervalSet(&set, static_cast<uint16_t>(grown))) return false;
    }
    return addInterval(&set, static_cast<int32_t>(lo), static_cast<int32_t>(hi)) == 1;
}
}  // namespace

IntervalSet* newIntervalSet(IntervalSet* set, uint16_t capacity) {
    // Owned here until handed back: a failed allocation releases the set, also one passed in.
    std::unique_ptr<IntervalSet> owned(set);
    if (!owned) {
        owned = tryMakeRecord<IntervalSet>();
        if (!owned) return nullptr;
    }
    if (!owned->block) owned->wCapacity = 0;
    if (owned->wCapacity < capacity) {
        owned->block.reset();
        owned->block = tryMakeArray<uint16_t>(2 * std::size_t{capacity});
        if (!owned->block) return nullptr;
        owned->wCapacity = capacity;
    }
    uint16_t* block = owned->block.get();
    owned->lpStarts = block;
    owned->lpEnds = block ? block + owned->wCapacity : nullptr;
    owned->wCount = 0;
    if (block) std::fill_n(block, 2 * std::size_t{owned->wCapacity}, uint16_t{0});
    return owned.release();
}

IntervalSet* freeIntervalSet(IntervalSet* set) {
    std::unique_ptr<IntervalSet> released(set);
    return nullptr;
}

int growIntervalSet(IntervalSet* set, uint16_t capacity) {
    if (!set) return 0;
    if (set->block && set->wCapacity >= capacity) return 1;
    std::unique_ptr<uint16_t[]> block = tryMakeArray<uint16_t>(2 * std::size_t{capacity});
    if (!block) return 0;
    const int n = set->block ? count(*set) : 0;
    if (n > 0) {
        std::copy_n(set->lpStarts, n, block.get());
        std::copy_n(set->lpEnds, n, block.get() + capacity);
    }
    set->block = std::move(block);
    set->wCapacity = capacity;
    set->wCount = static_cast<uint16_t>(n);
    set->lpStarts = set->block.get();
    set->lpEnds = set->block.get() + capacity;
    return 1;
}

int addInterval(IntervalSet* set, int32_t a, int32_t b) {
    if (!set || !clipToPositions(a, b)) return 0;
    const int first = firstEndingFrom(*set, a);
    const int past = firstStartingAfter(*set, first, b);
    if (first == past) {
        // Nothing shares a position with [a, b]: it needs an entry of its own.
        if (count(*set) >= set->wCapacity) return 0;
        shiftTail(*set, first, first + 1);
        setEntry(*set, first, a, b);
        return 1;
    }
    // Entries first..past-1 overlap [a, b]; they become one entry.
    setEntry(*set, first, std::min<int32_t>(a, set->lpStarts[first]),
             std::max<int32_t>(b, set->lpEnds[past - 1]));
    shiftTail(*set, past, first + 1);
    return 1;
}

int addIntervalSet(IntervalSet* set, const IntervalSet* other) {
    if (!set || !other) return 0;
    if (set == other) return 1;  // a union with itself changes nothing
    for (int i = 0; i < count(*other); ++i) addInterval(set, other->lpStarts[i], other->lpEnds[i]);
    return 1;
}

int removeInterval(IntervalSet* set, int32_t a, int32_t b) {
    if (!set || !clipToPositions(a, b)) return 0;
    const int first = firstEndingFrom(*set, a);
    const int past = firstStartingAfter(*set, first, b);
    if (first == past) return 1;

    const int32_t start = set->lpStarts[first];
    const int32_t end = set->lpEnds[past - 1];
    const bool keepLeft = start < a;
    const bool keepRight = end > b;
    if (past - first == 1 && keepLeft && keepRight) {
        // [a, b] lies strictly inside one entry, which splits in two.
        if (count(*set) >= set->wCapacity) return 0;
        shiftTail(*set, first + 1, first + 2);
        setEntry(*set, first, start, a - 1);
        setEntry(*set, first + 1, b + 1, end);
        return 1;
    }
    int next = first;
    if (keepLeft) setEntry(*set, next++, start, a - 1);
    if (keepRight) setEntry(*set, next++, b + 1, end);
    shiftTail(*set, past, next);
    return 1;
}

int removeIntervalSet(IntervalSet* set, const IntervalSet* other) {
    if (!set || !other) return 0;
    if (set == other) {  // a difference with itself leaves nothing
        set->wCount = 0;
        return 1;
    }
    for (int i = 0; i < count(*other); ++i) removeInterval(set, other->lpStarts[i], other->lpEnds[i]);
    return 1;
}

IntervalSet* copyIntervalSet(IntervalSet* destination, const IntervalSet* source) {
    if (!source) return nullptr;
    if (destination == source) return destination;
    destination = newIntervalSet(destination, source->wCapacity);
    if (!destination) return nullptr;
    const int n = std::min<int>(count(*source), destination->wCapacity);
    std::copy_n(source->lpStarts, n, destination->lpStarts);
    std::copy_n(source->lpEnds, n, destination->lpEnds);
    destination->wCount = static_cast<uint16_t>(n);
    return destination;
}

int clipToInterval(IntervalSet* set, int32_t a, int32_t b) {
    if (!set || !clipToPositions(a, b)) return 0;
    const int first = firstEndingFrom(*set, a);
    const int past = firstStartingAfter(*set, first, b);
    int next = 0;
    for (int i = first; i < past; ++i, ++next)
        setEntry(*set, next, std::max<int32_t>(set->lpStarts[i], a), std::min<int32_t>(set->lpEnds[i], b));
    set->wCount = static_cast<uint16_t>(next);
    return 1;
}

int intersectIntervalSet(IntervalSet* set, const IntervalSet* other) {
    if (!set || !other) return 0;
    if (set == other) return 1;  // an intersection with itself changes nothing

    // Each interval of `other` takes its share of the set as it stood; the shares are added
    // back one by one, so shares that do not fit are dropped like any other addition.
    const OwnedIntervalSet saved(copyIntervalSet(nullptr, set));
    const OwnedIntervalSet work(newIntervalSet(nullptr, set->wCapacity));
    if (!saved || !work) return 0;
    set->wCount = 0;
    for (int i = 0; i < count(*other); ++i) {
        copyIntervalSet(work.get(), saved.get());  // fits: work has the capacity of saved
        clipToInterval(work.get(), other->lpStarts[i], other->lpEnds[i]);
        addIntervalSet(set, work.get());
    }
    return 1;
}

int makePositionSets(int32_t N, int32_t n, int32_t Tmin, int32_t Tmax, int32_t Kmin, int32_t Kmax,
                     PositionSets& sets) {
    const bool usable = Kmin >= 1 && Kmax >= 1 && Kmin <= Kmax;
    const int32_t kLast = std::min<int32_t>(Kmax, 65535);
    const auto capacity = static_cast<uint16_t>(std::clamp<int32_t>(Kmax, 1, 65535));

    // newIntervalSet releases a set it cannot size: the holder then holds nothing.
    sets.First.reset(newIntervalSet(sets.First.release(), capacity));
    sets.Later.reset(newIntervalSet(sets.Later.release(), capacity));
    sets.Last.reset(newIntervalSet(sets.Last.release(), capacity));
    if (!sets.First || !sets.Later || !sets.Last) return 0;
    if (!usable) return 1;

    // Products are taken in 64 bits so that large gaps times many pulses cannot wrap.
    const int64_t size = N, width = n, gapMin = Tmin, gapMax = Tmax;
    const auto lo = [&](int64_t i, int64_t k) {
        return i == 0 ? std::max<int64_t>(size - gapMax * k, 0)
                      : std::max<int64_t>(size - gapMax * (k - i), gapMin * i);
    };
    const auto hi = [&](int64_t i, int64_t k) {
        return std::min<int64_t>(gapMax * (i + 1) - width, size - width - gapMin * (k - 1 - i));
    };

    // Narrow gap windows give more disjoint ranges than Kmax (Later collects one range per
    // pulse of every count): the sets grow rather than drop a range.
    bool whole = true;
    for (int64_t k = Kmin; k <= kLast; ++k) whole = addIfNotEmpty(*sets.First, lo(0, k), hi(0, k)) && whole;
    for (int64_t k = Kmin; k <= kLast; ++k)
        for (int64_t i = 1; i < k; ++i) whole = addIfNotEmpty(*sets.Later, lo(i, k), hi(i, k)) && whole;
    for (int64_t k = Kmin; k <= kLast; ++k) whole = addIfNotEmpty(*sets.Last, lo(k - 1, k), hi(k - 1, k)) && whole;
    return whole ? 1 : 0;
}
