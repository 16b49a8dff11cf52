#include "processing/routine_common.h"

#include <algorithm>
#include <climits>

namespace processing_detail {

void refuse(MessageSink& messages, const char* caption, const std::string& why) {
    messages.messageBox("Invalid processing input!\n\n" + why, caption, MessageIcon::Warning);
}

bool checkSeries(MessageSink& messages, const char* caption, const SeriesHeader& series,
                 uint16_t Tmin, uint16_t Tmax, SeriesView& view) {
    view.N = series.dwSeriesSize;
    view.n = series.wImpulseSize;
    view.Kmin = series.wMinPulses;
    view.Kmax = series.wMaxPulses;
    view.K = series.wImpulseQuantity;
    if (!series.lpNoisyData || view.N < 1 || view.N > 65536) {
        refuse(messages, caption, "There is no series to process (or it exceeds 65536 samples).");
        return false;
    }
    if (view.n < 1 || view.n > view.N) {
        refuse(messages, caption, "The etalon length " + std::to_string(view.n) +
                                    " does not fit the series of " + std::to_string(view.N) + " samples.");
        return false;
    }
    if (Tmin < 1 || Tmin > Tmax) {
        refuse(messages, caption, "Tmin must be at least 1 and not above Tmax (Tmin = " +
                                    std::to_string(Tmin) + ", Tmax = " + std::to_string(Tmax) + ").");
        return false;
    }
    view.maxChain = (view.N - view.n) / Tmin + 1;
    if (view.maxChain > series.wAllocatedPulses || view.Kmax > series.wAllocatedPulses) {
        refuse(messages, caption, "The series record holds " + std::to_string(series.wAllocatedPulses) +
                                    " pulses; with Tmin = " + std::to_string(Tmin) + " a chain may have " +
                                    std::to_string(view.maxChain) + ".");
        return false;
    }
    return true;
}

bool checkEtalons(MessageSink& messages, const char* caption, const Alphabet& alphabet,
                  std::span<const uint16_t> numbers, int32_t n) {
    if (numbers.empty()) {
        refuse(messages, caption, "The list of candidate etalons is empty.");
        return false;
    }
    for (const uint16_t v : numbers) {
        if (v < 1 || v > alphabetCapacity || !alphabet[v - 1].lpData || alphabet[v - 1].wSize < n) {
            refuse(messages, caption, "Etalon " + std::to_string(v) + " is not in the alphabet (1 to " +
                                        std::to_string(alphabetCapacity) + ", " + std::to_string(n) +
                                        " samples).");
            return false;
        }
    }
    return true;
}

bool checkChains(MessageSink& messages, const char* caption, const ChainsHeader* chains, int32_t pulses) {
    if (!chains) return true;
    if (chains->wMaxSize < 1 || chains->wMaxPulses < pulses) {
        refuse(messages, caption, "The chains table has " + std::to_string(chains->wMaxSize) + " rows of " +
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

bool checkRanges(MessageSink& messages, const char* caption, const SeriesHeader& series,
                 uint16_t Tmin, uint16_t Tmax, const SeriesView& view) {
    if (view.K < 1 || view.K > series.wAllocatedPulses) {
        refuse(messages, caption, "The series has no known pulse count to process (" +
                                    std::to_string(view.K) + " pulses).");
        return false;
    }
    const Ranges r = readRanges(series, view.K);
    for (int32_t j = 0; j < view.K; ++j) {
        bool ok = r.lo[j] >= 0 && r.lo[j] <= r.hi[j] && r.hi[j] <= view.N - view.n;
        // Every position of the range must have a non-empty window in the previous range.
        if (ok && j > 0) ok = r.lo[j] - Tmin >= r.lo[j - 1] && r.hi[j] - Tmax <= r.hi[j - 1];
        if (!ok) {
            refuse(messages, caption, "The position range of pulse " + std::to_string(j + 1) + " [" +
                                        std::to_string(r.lo[j]) + ".." + std::to_string(r.hi[j]) +
                                        "] does not chain with Tmin = " + std::to_string(Tmin) +
                                        " and Tmax = " + std::to_string(Tmax) + ".");
            return false;
        }
    }
    return true;
}

bool tupleNumbers(MessageSink& messages, const char* caption, std::span<const int32_t> tuple,
                  std::vector<uint16_t>& numbers) {
    if (tuple.empty()) {
        refuse(messages, caption, "The tuple is empty.");
        return false;
    }
    numbers.clear();
    for (const int32_t v : tuple) {
        if (v < 1 || v > alphabetCapacity) {
            refuse(messages, caption, "Etalon " + std::to_string(v) + " of the tuple is not in the alphabet.");
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
}  // namespace

bool makeWalks(const SeriesView& view, uint16_t Tmin, uint16_t Tmax, Walks& walks) {
    PositionSets sets;
    if (!makePositionSets(view.N, view.n, Tmin, Tmax, view.Kmin, view.Kmax, sets)) return false;
    const OwnedIntervalSet any(copyIntervalSet(nullptr, sets.First.get()));
    const OwnedIntervalSet firstOnly(copyIntervalSet(nullptr, sets.First.get()));
    const OwnedIntervalSet both(copyIntervalSet(nullptr, sets.First.get()));
    const OwnedIntervalSet laterOnly(copyIntervalSet(nullptr, sets.Later.get()));
    if (!any || !firstOnly || !both || !laterOnly) return false;
    // A union, difference or intersection of two sets has at most as many intervals as the two
    // together (a removal splits at most one interval), and at most one per position: with that
    // room no interval of a result is dropped.
    const int64_t room = std::min<int64_t>(int64_t{sets.First->wCount} + sets.Later->wCount,
                                           std::max<int64_t>(view.N - view.n + 1, 1));
    if (room > 65535) return false;
    for (IntervalSet* set : {any.get(), firstOnly.get(), both.get(), laterOnly.get()})
        if (!growIntervalSet(set, static_cast<uint16_t>(room))) return false;
    addIntervalSet(any.get(), sets.Later.get());
    removeIntervalSet(firstOnly.get(), sets.Later.get());
    intersectIntervalSet(both.get(), sets.Later.get());
    removeIntervalSet(laterOnly.get(), sets.First.get());
    positionsOf(any.get(), walks.any);
    positionsOf(firstOnly.get(), walks.firstOnly, &walks.firstOnlyIntervals);
    positionsOf(both.get(), walks.both, &walks.bothIntervals);
    positionsOf(laterOnly.get(), walks.laterOnly);
    positionsOf(sets.Last.get(), walks.last);
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
    static thread_local WindowMinimum<int32_t, 1> window;
    walkPulseChainsOn<int32_t, 1>(walks.firstOnly, walks.both, walks.laterOnly,
                                  [&](int64_t l, int32_t& score) { score = q[static_cast<size_t>(l)].score; }, Tmin,
                                  Tmax, unset, r.data(), b.data(), static_cast<int64_t>(r.size()), window);
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
                     int32_t backStart, LayeredWork<int32_t, 1>& D,
                     std::vector<ChainPulse>& chain) {
    static thread_local std::vector<int32_t> position;
    const int32_t distance = layeredPositions<int32_t, int32_t>(
        ranges.lo, ranges.hi,
        [&](size_t j) {
            return [at = layerTable[j]->at.data(), lo = int64_t{layerTable[j]->lo}](int64_t k, int32_t& score) {
                score = at[k - lo].score;
            };
        },
        Tmin, Tmax,
        predStart, endStart, backStart, D, position);
    const size_t K = layerTable.size();
    chain.resize(K);
    for (size_t j = 0; j < K; ++j) chain[j] = chainPulse(position[j], (*layerTable[j])[position[j]]);
    return distance;
}

}  // namespace processing_detail
