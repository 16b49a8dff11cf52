#include "processing/routine_common.h"

#include <algorithm>
#include <climits>

namespace processing_detail {

void refuse(MessageSink& window, const char* caption, const std::string& why) {
    window.messageBox("Invalid processing input!\n\n" + why, caption, MessageIcon::Warning);
}

bool checkSeries(MessageSink& window, const char* caption, const SeriesHeader& series,
                 uint16_t Tmin, uint16_t Tmax, SeriesView& view) {
    view.N = series.dwSeriesSize;
    view.n = series.wImpulseSize;
    view.Kmin = series.wMinPulses;
    view.Kmax = series.wMaxPulses;
    view.K = series.wImpulseQuantity;
    if (!series.lpNoisyData || view.N < 1 || view.N > 65536) {
        refuse(window, caption, "There is no series to process (or it exceeds 65536 samples).");
        return false;
    }
    if (view.n < 1 || view.n > view.N) {
        refuse(window, caption, "The etalon length " + std::to_string(view.n) +
                                    " does not fit the series of " + std::to_string(view.N) + " samples.");
        return false;
    }
    if (Tmin < 1 || Tmin > Tmax) {
        refuse(window, caption, "Tmin must be at least 1 and not above Tmax (Tmin = " +
                                    std::to_string(Tmin) + ", Tmax = " + std::to_string(Tmax) + ").");
        return false;
    }
    view.maxChain = (view.N - view.n) / Tmin + 1;
    if (view.maxChain > series.wAllocatedPulses || view.Kmax > series.wAllocatedPulses) {
        refuse(window, caption, "The series record holds " + std::to_string(series.wAllocatedPulses) +
                                    " pulses; with Tmin = " + std::to_string(Tmin) + " a chain may have " +
                                    std::to_string(view.maxChain) + ".");
        return false;
    }
    return true;
}

bool checkEtalons(MessageSink& window, const char* caption, const Alphabet& alphabet,
                  std::span<const uint16_t> numbers, int32_t n) {
    if (numbers.empty()) {
        refuse(window, caption, "The list of candidate etalons is empty.");
        return false;
    }
    for (const uint16_t v : numbers) {
        if (v < 1 || v > alphabetCapacity || !alphabet[v - 1].lpData || alphabet[v - 1].wSize < n) {
            refuse(window, caption, "Etalon " + std::to_string(v) + " is not in the alphabet (1 to " +
                                        std::to_string(alphabetCapacity) + ", " + std::to_string(n) +
                                        " samples).");
            return false;
        }
    }
    return true;
}

bool checkChains(MessageSink& window, const char* caption, const ChainsHeader* chains, int32_t pulses) {
    if (!chains) return true;
    if (chains->wMaxSize < 1 || chains->wMaxPulses < pulses) {
        refuse(window, caption, "The chains table has " + std::to_string(chains->wMaxSize) + " rows of " +
                                    std::to_string(chains->wMaxPulses) + " pulses; this run needs rows of " +
                                    std::to_string(pulses) + ".");
        return false;
    }
    return true;
}

Ranges readRanges(const SeriesHeader& series, int32_t K) {
    Ranges r;
    r.lo.assign(series.lpPositionMin, series.lpPositionMin + K);
    r.hi.assign(series.lpPositionMax, series.lpPositionMax + K);
    return r;
}

bool checkRanges(MessageSink& window, const char* caption, const SeriesHeader& series,
                 uint16_t Tmin, uint16_t Tmax, const SeriesView& view) {
    if (view.K < 1 || view.K > series.wAllocatedPulses) {
        refuse(window, caption, "The series has no known pulse count to process (" +
                                    std::to_string(view.K) + " pulses).");
        return false;
    }
    const Ranges r = readRanges(series, view.K);
    for (int32_t j = 0; j < view.K; ++j) {
        bool ok = r.lo[j] >= 0 && r.lo[j] <= r.hi[j] && r.hi[j] <= view.N - view.n;
        // Every position of the range must have a non-empty window in the previous range.
        if (ok && j > 0) ok = r.lo[j] - Tmin >= r.lo[j - 1] && r.hi[j] - Tmax <= r.hi[j - 1];
        if (!ok) {
            refuse(window, caption, "The position range of pulse " + std::to_string(j + 1) + " [" +
                                        std::to_string(r.lo[j]) + ".." + std::to_string(r.hi[j]) +
                                        "] does not chain with Tmin = " + std::to_string(Tmin) +
                                        " and Tmax = " + std::to_string(Tmax) + ".");
            return false;
        }
    }
    return true;
}

bool tupleNumbers(MessageSink& window, const char* caption, std::span<const int32_t> tuple,
                  std::vector<uint16_t>& numbers) {
    if (tuple.empty()) {
        refuse(window, caption, "The tuple is empty.");
        return false;
    }
    numbers.clear();
    for (const int32_t v : tuple) {
        if (v < 1 || v > alphabetCapacity) {
            refuse(window, caption, "Etalon " + std::to_string(v) + " of the tuple is not in the alphabet.");
            return false;
        }
        numbers.push_back(static_cast<uint16_t>(v));
    }
    return true;
}

namespace {
void positionsOf(const IntervalSet* set, std::vector<int32_t>& out,
                 std::vector<std::pair<int32_t, int32_t>>* intervals = nullptr) {
    out.clear();
    if (intervals) intervals->clear();
    for (int i = 0; i < set->wCount; ++i) {
        if (intervals) intervals->emplace_back(set->lpStarts[i], set->lpEnds[i]);
        for (int32_t p = set->lpStarts[i]; p <= set->lpEnds[i]; ++p) out.push_back(p);
    }
}

struct SetHolder {
    IntervalSet* set = nullptr;
    ~SetHolder() { freeIntervalSet(set); }
};
}  // namespace

bool makeWalks(const SeriesView& view, uint16_t Tmin, uint16_t Tmax, Walks& walks) {
    PositionSets sets;
    if (!makePositionSets(view.N, view.n, Tmin, Tmax, view.Kmin, view.Kmax, sets)) return false;
    SetHolder any, firstOnly, both, laterOnly;
    any.set = copyIntervalSet(nullptr, sets.First);
    firstOnly.set = copyIntervalSet(nullptr, sets.First);
    both.set = copyIntervalSet(nullptr, sets.First);
    laterOnly.set = copyIntervalSet(nullptr, sets.Later);
    if (!any.set || !firstOnly.set || !both.set || !laterOnly.set) return false;
    // A union, difference or intersection of two sets has at most as many intervals as the two
    // together (a removal splits at most one interval), and at most one per position: with that
    // room no interval of a result is dropped.
    const int64_t room = std::min<int64_t>(int64_t{sets.First->wCount} + sets.Later->wCount,
                                           std::max<int64_t>(view.N - view.n + 1, 1));
    if (room > 65535) return false;
    for (IntervalSet* set : {any.set, firstOnly.set, both.set, laterOnly.set})
        if (!growIntervalSet(set, static_cast<uint16_t>(room))) return false;
    addIntervalSet(any.set, sets.Later);
    removeIntervalSet(firstOnly.set, sets.Later);
    intersectIntervalSet(both.set, sets.Later);
    removeIntervalSet(laterOnly.set, sets.First);
    positionsOf(any.set, walks.any);
    positionsOf(firstOnly.set, walks.firstOnly, &walks.firstOnlyIntervals);
    positionsOf(both.set, walks.both, &walks.bothIntervals);
    positionsOf(laterOnly.set, walks.laterOnly);
    positionsOf(sets.Last, walks.last);
    return true;
}

void matchWalked(const LocalMatcher& matcher, int index, const int16_t* y, const std::vector<int32_t>& walk,
                 MatchTable& table, std::vector<LocalMatch>& q) {
    if (walk.empty()) return;
    fillMatchTable(matcher, index, y, walk.front(), walk.back(), table);
    for (const int32_t l : walk) q[l] = table[l];
}

void walkPulseChains(const Walks& walks, const std::vector<LocalMatch>& q, uint16_t Tmin, uint16_t Tmax,
                     int32_t unset, std::vector<int32_t>& r, std::vector<int32_t>& b) {
    for (const int32_t l : walks.firstOnly) {
        r[l] = q[l].score;
        b[l] = -1;
    }
    // The best predecessor of l is the first m of [l - Tmax, l - Tmin] with the smallest r below
    // the search's start. The window slides forward with l, and r[m] is final once l passes m
    // (the walk writes only r[l]), so a sliding minimum gives it in O(1) per position.
    FixedWindowMinimum window;
    auto extend = [&](const std::vector<int32_t>& walk, int32_t start) {
        window.reset(r.data(), int64_t{Tmax} - Tmin + 1, static_cast<int64_t>(r.size()));
        for (const int32_t l : walk) {
            const int64_t m = window.minimumUpTo(int64_t{l} - Tmin);
            int32_t best = start, from = -2;
            if (m >= 0 && r[static_cast<size_t>(m)] < start) {
                from = static_cast<int32_t>(m);
                best = r[static_cast<size_t>(m)];
            }
            r[l] = wrapAdd(best, q[l].score);
            b[l] = from;
        }
    };
    extend(walks.both, 0);
    extend(walks.laterOnly, unset);
}

void writeFound(SeriesHeader& series, std::span<const ChainPulse> pulses) {
    series.wFoundPulses = static_cast<uint16_t>(pulses.size());
    for (size_t j = 0; j < pulses.size(); ++j) {
        series.lpFoundPosition[j] = pulses[j].position;
        series.lpFoundEtalon[j] = pulses[j].etalon;
        series.lpFoundCutStart[j] = pulses[j].cutStart;
        series.lpFoundCutEnd[j] = pulses[j].cutEnd;
    }
}

void fillMatchTable(const LocalMatcher& matcher, int index, const int16_t* y, int32_t lo, int32_t hi,
                    MatchTable& table) {
    table.lo = lo;
    table.at.resize(static_cast<size_t>(std::max(0, hi - lo + 1)));
    if (hi >= lo) matcher.matchRange(y, lo, hi, table.at.data(), index);
}

int32_t layeredChain(const Ranges& ranges, std::span<const MatchTable* const> layerTable,
                     uint16_t Tmin, uint16_t Tmax, int32_t predStart, int32_t endStart,
                     int32_t backStart, std::vector<std::vector<int32_t>>& D,
                     std::vector<ChainPulse>& chain) {
    const int32_t K = static_cast<int32_t>(layerTable.size());
    D.resize(static_cast<size_t>(K));
    // The predecessor cost is the smallest D_{j-1} of the window [k - Tmax, k - Tmin] within the
    // previous range, when below predStart. The previous layer is complete, so its window minima
    // come from blocks of the window's width W over D_{j-1} padded with INT32_MAX outside its
    // range (a padded value is never below predStart): every window is the end of one block and
    // the start of the next, whose suffix and prefix minima are taken in one pass each. Each
    // layer costs O(its range + W) without data-dependent branches.
    const int32_t W = static_cast<int32_t>(Tmax) - Tmin + 1;
    std::vector<int32_t> ext, prefix, suffix;
    for (int32_t j = 0; j < K; ++j) {
        const int32_t lo = ranges.lo[j], hi = ranges.hi[j];
        std::vector<int32_t>& Dj = D[j];
        Dj.resize(static_cast<size_t>(hi - lo + 1));
        const MatchTable& table = *layerTable[j];
        if (j == 0) {
            for (int32_t k = lo; k <= hi; ++k) Dj[k - lo] = table[k].score;
            continue;
        }
        const std::vector<int32_t>& Dp = D[j - 1];
        const int32_t plo = ranges.lo[j - 1], phi = ranges.hi[j - 1];
        // ext[i] = D_{j-1} at position base + i, for the positions of every window of the layer.
        const int64_t base = int64_t{lo} - Tmax, length = int64_t{hi} - Tmin - base + 1;
        ext.assign(static_cast<size_t>(length), INT32_MAX);
        for (int64_t m = std::max<int64_t>(plo, base); m <= std::min<int64_t>(phi, base + length - 1); ++m)
            ext[static_cast<size_t>(m - base)] = Dp[static_cast<size_t>(m - plo)];
        prefix.resize(ext.size());
        suffix.resize(ext.size());
        for (int64_t b0 = 0; b0 < length; b0 += W) {
            const int64_t b1 = std::min<int64_t>(b0 + W, length);
            int32_t run = INT32_MAX;
            for (int64_t i = b0; i < b1; ++i) prefix[static_cast<size_t>(i)] = run = std::min(run, ext[static_cast<size_t>(i)]);
            run = INT32_MAX;
            for (int64_t i = b1 - 1; i >= b0; --i) suffix[static_cast<size_t>(i)] = run = std::min(run, ext[static_cast<size_t>(i)]);
        }
        for (int32_t k = lo; k <= hi; ++k) {
            // The window of k is ext[k - lo .. k - lo + W - 1].
            const size_t a = static_cast<size_t>(k - lo), b = a + static_cast<size_t>(W) - 1;
            const int32_t smallest = std::min(suffix[a], prefix[b]);
            const int32_t pred = smallest < predStart ? smallest : predStart;
            Dj[k - lo] = wrapAdd(pred, table[k].score);
        }
    }

    // Strict minimum of D_j over [from, to] below `start`; where nothing lies below, the
    // smallest value (first among equals) is taken and the value held stays at the bound.
    auto pick = [&](int32_t j, int32_t from, int32_t to, int32_t start, int32_t& value) {
        const std::vector<int32_t>& Dj = D[j];
        const int32_t lo = ranges.lo[j];
        int32_t chosen = -1, held = start;
        for (int32_t m = from; m <= to; ++m)
            if (Dj[m - lo] < held) {
                held = Dj[m - lo];
                chosen = m;
            }
        value = held;
        if (chosen >= 0) return chosen;
        chosen = from;
        for (int32_t m = from + 1; m <= to; ++m)
            if (Dj[m - lo] < Dj[chosen - lo]) chosen = m;
        return chosen;
    };

    std::vector<int32_t> position(static_cast<size_t>(K));
    int32_t distance;
    position[K - 1] = pick(K - 1, ranges.lo[K - 1], ranges.hi[K - 1], endStart, distance);
    for (int32_t j = K - 2; j >= 0; --j) {
        const int32_t p = position[j + 1];
        int32_t unused;
        position[j] = pick(j, std::max(p - Tmax, ranges.lo[j]), std::min(p - Tmin, ranges.hi[j]),
                           backStart, unused);
    }
    chain.resize(static_cast<size_t>(K));
    for (int32_t j = 0; j < K; ++j) {
        const LocalMatch& m = (*layerTable[j])[position[j]];
        chain[j] = chainPulse(position[j], m);
    }
    return distance;
}

}  // namespace processing_detail
