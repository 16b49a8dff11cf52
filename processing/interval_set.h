#pragma once

#include <cstdint>
#include <memory>

/// A small set of positions kept as sorted, pairwise disjoint, inclusive intervals
/// [lpStarts[i], lpEnds[i]], i < wCount, with lpEnds[i] < lpStarts[i+1]. Intervals that only
/// touch stay separate entries. Both arrays live in `block` (starts first).
struct IntervalSet {
    uint16_t wCapacity = 0; ///< intervals the arrays can hold
    uint16_t wCount = 0;    ///< intervals in use
    uint16_t* lpStarts = nullptr;
    uint16_t* lpEnds = nullptr;
    std::unique_ptr<uint16_t[]> block; ///< 2 * wCapacity entries
};

/// With null makes a new set; with a set smaller than `capacity` replaces its arrays; then
/// empties it (wCount 0, entries 0). Returns the set, or null when an allocation fails (a set
/// passed in is then released).
IntervalSet* newIntervalSet(IntervalSet* set, uint16_t capacity);

/// Frees the arrays and the set; returns null.
IntervalSet* freeIntervalSet(IntervalSet* set);

/// Enlarges the arrays of `set` to hold at least `capacity` intervals, keeping the intervals in
/// use. Returns 1, or 0 when the set is null or memory ran out (the set is then unchanged).
int growIntervalSet(IntervalSet* set, uint16_t capacity);

/// Union with [a, b]: intervals sharing a position with it merge with it, touching ones stay
/// separate. Returns 0 without change if a > b or if one more entry is needed in a full set.
int addInterval(IntervalSet* set, int32_t a, int32_t b);

/// Adds the intervals of `other` one by one (results ignored). 0 if either set is null.
int addIntervalSet(IntervalSet* set, const IntervalSet* other);

/// Difference with [a, b]; an interval holding [a, b] strictly inside is split. Returns 0
/// without change if a > b or if a split needs one more entry in a full set.
int removeInterval(IntervalSet* set, int32_t a, int32_t b);

/// Removes the intervals of `other` one by one (results ignored). 0 if either set is null.
int removeIntervalSet(IntervalSet* set, const IntervalSet* other);

/// Prepares `destination` with newIntervalSet(destination, source capacity) and copies the
/// source into it. Null when the source is null (the destination is then left alone, so a
/// caller that stores the result must keep its own pointer) or the preparation failed.
IntervalSet* copyIntervalSet(IntervalSet* destination, const IntervalSet* source);

/// Intersection with [a, b]. Returns 0 without change if a > b, else 1.
int clipToInterval(IntervalSet* set, int32_t a, int32_t b);

/// set = set ∩ other, built interval by interval of `other`. 0 if either set is null or its
/// temporary sets cannot be allocated (the set is then unchanged).
int intersectIntervalSet(IntervalSet* set, const IntervalSet* other);

/// The admissible start positions of the pulses of a chain of Kmin..Kmax pulses in a series of
/// N samples with etalons of n samples and gaps Tmin..Tmax: `First` (first pulse), `Later`
/// (any later pulse), `Last` (last pulse). Each set starts with capacity Kmax and grows when an
/// interval needs an entry more, so that no interval is dropped. Owned by the record.
struct IntervalSetDeleter {
    void operator()(IntervalSet* set) const { freeIntervalSet(set); }
};
/// An interval set owned by its holder (released with freeIntervalSet).
using OwnedIntervalSet = std::unique_ptr<IntervalSet, IntervalSetDeleter>;

struct PositionSets {
    OwnedIntervalSet First;
    OwnedIntervalSet Later;
    OwnedIntervalSet Last;
};

/// Builds the three sets (lo(i,k) = max(N - Tmax(k-i), Tmin i), hi(i,k) = min(Tmax(i+1) - n,
/// N - n - Tmin(k-1-i)), empty intervals skipped; Kmax is capped at 65535). Returns 1, or 0
/// when memory ran out or a set would need more than 65535 intervals.
int makePositionSets(int32_t N, int32_t n, int32_t Tmin, int32_t Tmax, int32_t Kmin, int32_t Kmax,
                     PositionSets& sets);
