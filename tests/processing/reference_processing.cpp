#include "reference_processing.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>


ReferenceBranchCounts referenceBranchCounts;

namespace {

// The routines' own "not yet found" values and bounds. They differ between routines on purpose.
constexpr int32_t kUnset8 = 99999999;     // 8 nines: unknown-count tables and their end search
constexpr int32_t kAccept7 = 9999999;     // 7 nines: acceptance bound / known-count end search
constexpr int32_t kPenalty6 = 999999;     // 6 nines: known-count predecessor penalty
constexpr int32_t kFar9 = 999999999;      // 9 nines: recognition bounds

// Wrapping 32-bit two's complement arithmetic, without signed overflow.
int32_t add32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t mul32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// A total of a programme: wrapping like every sum, counted when it leaves the 32-bit range.
int32_t addTotal(int32_t a, int32_t b) {
    const int64_t exact = int64_t{a} + int64_t{b};
    if (exact != static_cast<int32_t>(exact)) ++referenceBranchCounts.totalWrapped;
    return add32(a, b);
}

// A local match record and a chain pulse, whatever the widths of their fields.
LocalMatch makeMatch(int32_t score, int etalon, int cutStart, int cutEnd) {
    LocalMatch m{};
    m.score = score;
    m.etalon = static_cast<decltype(m.etalon)>(etalon);
    m.cutStart = static_cast<decltype(m.cutStart)>(cutStart);
    m.cutEnd = static_cast<decltype(m.cutEnd)>(cutEnd);
    return m;
}
ChainPulse makePulse(int32_t position, int etalon, int cutStart, int cutEnd) {
    return {static_cast<int16_t>(position), static_cast<int16_t>(etalon),
            static_cast<int16_t>(cutStart), static_cast<int16_t>(cutEnd)};
}

// S(e, l, s, t) = sum over c = s..t of x[c] * (x[c] - 2 y[l + c]), summed afresh.
int32_t cutScore(const int16_t* x, const int16_t* y, int32_t l, int s, int t) {
    int32_t sum = 0;
    for (int c = s; c <= t; ++c) {
        const int32_t xc = x[c];
        const int32_t diff = xc - 2 * static_cast<int32_t>(y[l + c]);
        sum = add32(sum, mul32(xc, diff));
    }
    return sum;
}

// Visits the positions of a walk in ascending order.
template <class Visit>
void walk(const std::vector<int32_t>& positions, Visit visit) {
    for (const int32_t p : positions) visit(p);
}

// First, Later, Last and the four sets derived from them, as ascending position lists. Each set
// is built from a count per position of the ranges [lo(i,k), hi(i,k)] that cover it, so that no
// range is ever lost, however many disjoint ranges narrow gap windows give.
struct DerivedSets {
    std::vector<int32_t> firstOrLater, firstOnly, firstAndLater, laterOnly, last;
};

void buildSets(const SeriesHeader& series, uint16_t Tmin, uint16_t Tmax, DerivedSets& sets) {
    const int64_t N = series.dwSeriesSize, n = series.wImpulseSize;
    const int64_t Kmin = series.wMinPulses, Kmax = series.wMaxPulses;
    std::vector<int64_t> first(static_cast<size_t>(N) + 1, 0), later(first), last(first);
    sets = {};
    auto cover = [&](std::vector<int64_t>& count, int64_t i, int64_t k) {
        const int64_t lo = i == 0 ? std::max<int64_t>(N - int64_t{Tmax} * k, 0)
                                  : std::max<int64_t>(N - int64_t{Tmax} * (k - i), int64_t{Tmin} * i);
        const int64_t hi = std::min<int64_t>(int64_t{Tmax} * (i + 1) - n, N - n - int64_t{Tmin} * (k - 1 - i));
        if (hi < lo) return;
        count[static_cast<size_t>(lo)] += 1;  // a difference array: summed below
        count[static_cast<size_t>(hi) + 1] -= 1;
    };
    if (Kmin < 1 || Kmin > Kmax) return;
    for (int64_t k = Kmin; k <= Kmax; ++k) {
        cover(first, 0, k);
        for (int64_t i = 1; i < k; ++i) cover(later, i, k);
        cover(last, k - 1, k);
    }
    int64_t inFirst = 0, inLater = 0, inLast = 0;
    for (int32_t p = 0; p < N; ++p) {
        inFirst += first[static_cast<size_t>(p)];
        inLater += later[static_cast<size_t>(p)];
        inLast += last[static_cast<size_t>(p)];
        if (inFirst > 0 || inLater > 0) sets.firstOrLater.push_back(p);
        if (inFirst > 0 && inLater == 0) sets.firstOnly.push_back(p);
        if (inFirst > 0 && inLater > 0) sets.firstAndLater.push_back(p);
        if (inFirst == 0 && inLater > 0) sets.laterOnly.push_back(p);
        if (inLast > 0) sets.last.push_back(p);
    }
}

// The local match of a fixed candidate list at every position, each computed on first use.
class MatchTable {
public:
    MatchTable(const Alphabet& alphabet, std::vector<uint16_t> candidates, const SeriesHeader& series,
               uint16_t pct)
        : alphabet_(alphabet), candidates_(std::move(candidates)), n_(series.wImpulseSize),
          pct_(pct), y_(series.lpNoisyData),
          done_(static_cast<size_t>(series.dwSeriesSize), false),
          value_(static_cast<size_t>(series.dwSeriesSize)) {}

    const LocalMatch& at(int32_t l) {
        const auto i = static_cast<size_t>(l);
        if (!done_[i]) {
            value_[i] = referenceMatchLocally(alphabet_, candidates_, n_, pct_, y_, l);
            done_[i] = true;
        }
        return value_[i];
    }

private:
    const Alphabet& alphabet_;
    std::vector<uint16_t> candidates_;
    int n_;
    uint16_t pct_;
    const int16_t* y_;
    std::vector<bool> done_;
    std::vector<LocalMatch> value_;
};

// Match tables of single etalons, by etalon number.
class SingleTables {
public:
    SingleTables(const Alphabet& alphabet, const SeriesHeader& series, uint16_t pct)
        : alphabet_(alphabet), series_(series), pct_(pct) {}

    MatchTable& of(int etalon) {
        auto it = tables_.find(etalon);
        if (it == tables_.end())
            it = tables_
                     .emplace(etalon, MatchTable(alphabet_, {static_cast<uint16_t>(etalon)}, series_,
                                                 pct_))
                     .first;
        return it->second;
    }

private:
    const Alphabet& alphabet_;
    const SeriesHeader& series_;
    uint16_t pct_;
    std::map<int, MatchTable> tables_;
};

struct Chain {
    int32_t distance = 0;
    std::vector<ChainPulse> pulses;
};

void writeFound(SeriesHeader& series, const std::vector<ChainPulse>& pulses) {
    series.wFoundPulses = static_cast<uint16_t>(pulses.size());
    for (size_t j = 0; j < pulses.size(); ++j) {
        series.lpFoundPosition[j] = pulses[j].position;
        series.lpFoundEtalon[j] = pulses[j].etalon;
        series.lpFoundCutStart[j] = pulses[j].cutStart;
        series.lpFoundCutEnd[j] = pulses[j].cutEnd;
    }
}

struct Groups {
    std::vector<int16_t> first, last;
};

Groups groupsOf(int pulses, int m, int s) {
    Groups g;
    g.first.resize(static_cast<size_t>(std::max(pulses, 1)));
    g.last.resize(g.first.size());
    const int count = referenceFormGroups(pulses, m, s, g.first.data(), g.last.data());
    g.first.resize(static_cast<size_t>(count));
    g.last.resize(static_cast<size_t>(count));
    return g;
}

void writeGroups(SeriesHeader& series, const Groups& groups) {
    series.wFoundGroups = static_cast<int16_t>(groups.first.size());
    for (size_t g = 0; g < groups.first.size(); ++g) {
        series.lpFoundGroupPosition[g] = groups.first[g];
        series.lpFoundGroupValue[g] = groups.last[g];
    }
}

// ---- The unknown-count programme of detection (steps 3 to 7) --------------------------------

struct UnknownCountTables {
    std::vector<int32_t> q, r, b;
    std::vector<LocalMatch> kept;
};

void runUnknownCount(const DerivedSets& sets, MatchTable& match, const SeriesHeader& series,
                     int32_t Tmin, int32_t Tmax, UnknownCountTables& t) {
    const auto N = static_cast<size_t>(series.dwSeriesSize);
    const int n = series.wImpulseSize;
    t.q.assign(N, kUnset8);
    t.r.assign(N, kUnset8);
    t.b.assign(N, kUnset8);
    t.kept.assign(N, makeMatch(kUnset8, 0, 0, n - 1));

    walk(sets.firstOrLater, [&](int32_t l) {
        t.kept[l] = match.at(l);
        t.q[l] = t.kept[l].score;
    });
    walk(sets.firstOnly, [&](int32_t l) {
        t.r[l] = t.q[l];
        t.b[l] = -1;
    });
    auto extend = [&](int32_t l, int32_t start) {
        int32_t best = start;
        int32_t from = -2;
        for (int32_t m = l - Tmax; m <= l - Tmin; ++m) {
            if (m < 0) continue;
            if (t.r[m] < best) {
                best = t.r[m];
                from = m;
            }
        }
        t.r[l] = addTotal(best, t.q[l]);
        t.b[l] = from;
    };
    walk(sets.firstAndLater, [&](int32_t l) { extend(l, 0); });
    walk(sets.laterOnly, [&](int32_t l) { extend(l, kUnset8); });
}

// The position of Last with the strictly smallest r, starting from `start`; -1 when none.
int32_t pickEnd(const std::vector<int32_t>& last, const std::vector<int32_t>& r, int32_t start, int32_t& value) {
    value = start;
    int32_t end = -1;
    walk(last, [&](int32_t l) {
        if (r[l] < value) {
            value = r[l];
            end = l;
        }
    });
    return end;
}

std::vector<ChainPulse> followBack(const UnknownCountTables& t, int32_t end) {
    std::vector<ChainPulse> pulses;
    const auto N = static_cast<int32_t>(t.b.size());
    for (int32_t p = end; p >= 0 && p < N; p = t.b[p]) {
        const LocalMatch& k = t.kept[p];
        pulses.push_back(makePulse(p, k.etalon, k.cutStart, k.cutEnd));
        if (static_cast<int32_t>(pulses.size()) > N) break;  // a cycle would be a reference bug
    }
    std::reverse(pulses.begin(), pulses.end());
    return pulses;
}

// ---- The layered known-count programme (steps 2 to 4 of detectPulsesFixed) ------------------

struct KnownCountBounds {
    int32_t predecessorStart;  // start of the predecessor search of layers 1..K-1
    int32_t endStart;          // start of the search for the last pulse
    int32_t backStart;         // start of each back-tracking search
};

// The m of [p - Tmax, p - Tmin] ∩ [lo, hi] with the strictly smallest value below `start`; when
// none is below it, the first m with the smallest value of that window.
int32_t searchWindow(const std::vector<int32_t>& D, int32_t lo, int32_t hi, int32_t from, int32_t to,
                     int32_t start) {
    int32_t best = start;
    int32_t chosen = -1;
    for (int32_t m = from; m <= to; ++m) {
        if (m < lo || m > hi) continue;
        if (D[m - lo] < best) {
            best = D[m - lo];
            chosen = m;
        }
    }
    if (chosen >= 0) return chosen;
    ++referenceBranchCounts.backTrackWithoutBound;
    for (int32_t m = from; m <= to; ++m) {
        if (m < lo || m > hi) continue;
        if (chosen < 0 || D[m - lo] < best) {
            best = D[m - lo];
            chosen = m;
        }
    }
    return chosen;
}

template <class TableOfLayer>
Chain runKnownCount(const SeriesHeader& series, int32_t Tmin, int32_t Tmax, TableOfLayer tableOf,
                    const KnownCountBounds& bounds) {
    const int K = series.wImpulseQuantity;
    std::vector<int32_t> lo(K), hi(K);
    for (int j = 0; j < K; ++j) {
        lo[j] = series.lpPositionMin[j];
        hi[j] = series.lpPositionMax[j];
    }
    std::vector<std::vector<int32_t>> D(K);
    std::vector<std::vector<LocalMatch>> kept(K);
    for (int j = 0; j < K; ++j) {
        const int32_t width = std::max(hi[j] - lo[j] + 1, 0);
        D[j].assign(static_cast<size_t>(width), 0);
        kept[j].assign(static_cast<size_t>(width), makeMatch(0, 0, 0, 0));
        MatchTable& table = tableOf(j);
        for (int32_t k = lo[j]; k <= hi[j]; ++k) {
            int32_t cost = 0;
            if (j > 0) {
                cost = bounds.predecessorStart;
                for (int32_t m = k - Tmax; m <= k - Tmin; ++m) {
                    if (m < lo[j - 1] || m > hi[j - 1]) continue;
                    if (D[j - 1][m - lo[j - 1]] < cost) cost = D[j - 1][m - lo[j - 1]];
                }
                if (cost == bounds.predecessorStart) ++referenceBranchCounts.penaltyUsed;
            }
            const LocalMatch& match = table.at(k);
            D[j][k - lo[j]] = addTotal(cost, match.score);
            kept[j][k - lo[j]] = match;
        }
    }

    Chain chain;
    std::vector<int32_t> position(K, -1);
    {
        int32_t best = bounds.endStart;
        int32_t end = -1;
        for (int32_t k = lo[K - 1]; k <= hi[K - 1]; ++k) {
            if (D[K - 1][k - lo[K - 1]] < best) {
                best = D[K - 1][k - lo[K - 1]];
                end = k;
            }
        }
        chain.distance = best;
        if (end < 0) {
            ++referenceBranchCounts.endWithoutBound;
            --referenceBranchCounts.backTrackWithoutBound;  // counted above as the end's fallback
            end = searchWindow(D[K - 1], lo[K - 1], hi[K - 1], lo[K - 1], hi[K - 1], best);
        }
        position[K - 1] = end;
    }
    for (int j = K - 2; j >= 0; --j) {
        const int32_t p = position[j + 1];
        position[j] = searchWindow(D[j], lo[j], hi[j], p - Tmax, p - Tmin, bounds.backStart);
    }
    for (int j = 0; j < K; ++j) {
        const int32_t p = position[j];
        LocalMatch k = makeMatch(0, 0, 0, 0);
        if (p >= lo[j] && p <= hi[j]) k = kept[j][p - lo[j]];
        chain.pulses.push_back(makePulse(p, k.etalon, k.cutStart, k.cutEnd));
    }
    return chain;
}

// ---- The cyclic layered programme of tuple detection (steps 3 to 9) -------------------------

Chain runTupleUnknownCount(const DerivedSets& sets, SingleTables& tables, const SeriesHeader& series,
                           std::span<const int32_t> tuple, int L, int32_t Tmin, int32_t Tmax,
                           int32_t unset) {
    const auto N = static_cast<size_t>(series.dwSeriesSize);
    const int n = series.wImpulseSize;
    std::vector<std::vector<int32_t>> G(L, std::vector<int32_t>(N, unset));
    std::vector<std::vector<int32_t>> B(L, std::vector<int32_t>(N, unset));
    std::vector<std::vector<LocalMatch>> kept(
        L, std::vector<LocalMatch>(N, makeMatch(unset, 0, 0, n - 1)));
    auto previous = [L](int layer) { return layer == 0 ? L - 1 : layer - 1; };

    walk(sets.firstOnly, [&](int32_t l) {
        kept[0][l] = tables.of(tuple[0]).at(l);
        G[0][l] = kept[0][l].score;
        B[0][l] = -1;
    });
    walk(sets.firstAndLater, [&](int32_t l) {
        for (int layer = 0; layer < L; ++layer) {
            const int before = previous(layer);
            int32_t best = 0;
            int32_t from = -2;
            for (int32_t p = l - Tmax; p <= l - Tmin; ++p) {
                if (p < 0) continue;
                if (G[before][p] < best) {
                    best = G[before][p];
                    from = p;
                }
            }
            if (best < 0) {
                kept[layer][l] = tables.of(tuple[layer]).at(l);
                G[layer][l] = addTotal(best, kept[layer][l].score);
                B[layer][l] = from;
            } else if (layer == 0) {
                kept[0][l] = tables.of(tuple[0]).at(l);
                G[0][l] = kept[0][l].score;
                B[0][l] = -1;
            } else {
                G[layer][l] = unset;
                B[layer][l] = -2;
            }
        }
    });
    walk(sets.laterOnly, [&](int32_t l) {
        for (int layer = 0; layer < L; ++layer) {
            const int before = previous(layer);
            int32_t best = unset;
            int32_t from = -2;
            for (int32_t p = l - Tmax; p <= l - Tmin; ++p) {
                if (p < 0) continue;
                if (G[before][p] < best) {
                    best = G[before][p];
                    from = p;
                }
            }
            kept[layer][l] = tables.of(tuple[layer]).at(l);
            G[layer][l] = addTotal(best, kept[layer][l].score);
            B[layer][l] = from;
        }
    });

    Chain chain;
    int32_t best = unset;
    int32_t endPosition = -1;
    int endLayer = 0;
    walk(sets.last, [&](int32_t l) {
        for (int layer = 0; layer < L; ++layer) {
            if (G[layer][l] < best) {
                best = G[layer][l];
                endPosition = l;
                endLayer = layer;
            }
        }
    });
    chain.distance = best;
    int32_t p = endPosition;
    int layer = endLayer;
    while (p >= 0 && p < static_cast<int32_t>(N)) {
        const LocalMatch& k = kept[layer][p];
        chain.pulses.push_back(makePulse(p, tuple[layer], k.cutStart, k.cutEnd));
        if (chain.pulses.size() > N) break;  // a cycle would be a reference bug
        p = B[layer][p];
        layer = previous(layer);
    }
    std::reverse(chain.pulses.begin(), chain.pulses.end());
    return chain;
}

std::vector<uint16_t> asList(std::span<const uint16_t> list) {
    return std::vector<uint16_t>(list.begin(), list.end());
}

}  // namespace

// ---- Local match --------------------------------------------------------------------------------

LocalMatch referenceMatchLocally(const Alphabet& alphabet, std::span<const uint16_t> candidates,
                                 int n, uint16_t pct, const int16_t* y, int32_t l) {
    LocalMatch best = makeMatch(0, 0, 0, n - 1);
    bool first = true;
    std::vector<int32_t> P(static_cast<size_t>(n) + 1);
    for (const uint16_t v : candidates) {
        const int16_t* x = alphabet[v - 1].lpData.get();
        P[0] = 0;
        for (int c = 0; c < n; ++c) P[c + 1] = add32(P[c], mul32(x[c], x[c]));
        const int32_t E = P[n];
        const int32_t thr = mul32(E, pct) / 100;

        const int32_t whole = cutScore(x, y, l, 0, n - 1);
        if (first || whole < best.score) {
            best = makeMatch(whole, v, 0, n - 1);
            first = false;
        }
        for (int s = 0; s < n; ++s) {
            if (!(sub32(E, P[s]) > thr)) continue;
            for (int t = s; t < n; ++t) {
                if (!(sub32(P[t + 1], P[s]) > thr)) continue;
                const int32_t score = cutScore(x, y, l, s, t);
                if (score < best.score) best = makeMatch(score, v, s, t);
            }
        }
    }
    return best;
}

int referenceFormGroups(int pulses, int m, int s, int16_t* firstOut, int16_t* lastOut) {
    if (pulses <= 0) return 0;
    int count = 0;
    int end = std::min(m - s, pulses);
    firstOut[count] = 1;
    lastOut[count] = static_cast<int16_t>(end);
    ++count;
    while (end < pulses) {
        const int start = end + 1;
        end = std::min(end + m, pulses);
        firstOut[count] = static_cast<int16_t>(start);
        lastOut[count] = static_cast<int16_t>(end);
        ++count;
    }
    return count;
}

// ---- Detection ----------------------------------------------------------------------------------

int referenceDetectPulsesUnfixed(MessageSink&, const Alphabet& alphabet,
                                 std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                                 uint16_t pct, ChainsHeader* chains, SeriesHeader& series) {
    const int Kmax = series.wMaxPulses;
    if (chains) resetChainsForRun(*chains, 0, 0, Kmax);
    DerivedSets sets;
    buildSets(series, Tmin, Tmax, sets);
    MatchTable match(alphabet, asList(list), series, pct);
    UnknownCountTables t;
    runUnknownCount(sets, match, series, Tmin, Tmax, t);

    int32_t total = 0;
    const int32_t end = pickEnd(sets.last, t.r, kUnset8, total);
    Chain chain;
    if (end >= 0 && total < kAccept7) {
        chain.distance = total;
        chain.pulses = followBack(t, end);
    } else {
        chain.distance = kAccept7;
        ++referenceBranchCounts.chainRejected;
    }
    writeFound(series, chain.pulses);
    if (chains) {
        insertChain(*chains, chain.distance, chain.pulses);
        chains->wSeekingPulsesQuantity = static_cast<uint16_t>(chains->chainPulses[0]);
    }
    return 1;
}

int referenceDetectPulsesFixed(MessageSink&, const Alphabet& alphabet, std::span<const uint16_t> list,
                               uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                               SeriesHeader& series) {
    const int K = series.wImpulseQuantity;
    if (chains) resetChainsForRun(*chains, K, K, K);
    MatchTable match(alphabet, asList(list), series, pct);
    const Chain chain = runKnownCount(series, Tmin, Tmax, [&](int) -> MatchTable& { return match; },
                                      {kPenalty6, kAccept7, kFar9});
    writeFound(series, chain.pulses);
    if (chains) insertChain(*chains, chain.distance, chain.pulses);
    return 1;
}

// ---- Recognition --------------------------------------------------------------------------------

int16_t referenceRecognizePulsesUnfixed(MessageSink&, const Alphabet& alphabet,
                                        std::span<const uint16_t> list, uint16_t Tmin,
                                        uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                                        SeriesHeader& series) {
    chains->wPretenders = 0;
    chains->wQuanPulses = series.wImpulseQuantity;
    chains->wSeekingPulsesQuantity = 0;
    DerivedSets sets;
    buildSets(series, Tmin, Tmax, sets);

    int32_t bestSoFar = kAccept7;
    int16_t recognised = -1;
    for (const uint16_t v : list) {
        MatchTable match(alphabet, {v}, series, pct);
        UnknownCountTables t;
        runUnknownCount(sets, match, series, Tmin, Tmax, t);

        int32_t smallest = 0;
        pickEnd(sets.last, t.r, kUnset8, smallest);
        if (smallest < bestSoFar) {
            bestSoFar = smallest;
            recognised = static_cast<int16_t>(v);
        }

        Chain chain;
        const int32_t end = pickEnd(sets.last, t.r, kFar9, chain.distance);
        if (end >= 0) chain.pulses = followBack(t, end);
        for (ChainPulse& pulse : chain.pulses) pulse.etalon = static_cast<int16_t>(v);
        insertChain(*chains, chain.distance, chain.pulses);
        chains->wSeekingPulsesQuantity = static_cast<uint16_t>(chains->chainPulses[0]);
    }

    if (recognised == -1) ++referenceBranchCounts.noRecognition;
    series.wFoundPulses = chains->wSeekingPulsesQuantity;
    for (int j = 0; j < series.wFoundPulses; ++j) {
        series.lpFoundPosition[j] = chains->positionsList[0][j];
        series.lpFoundEtalon[j] = chains->pulsesList[0][j];
        series.lpFoundCutStart[j] = chains->cutStartList[0][j];
        series.lpFoundCutEnd[j] = chains->cutEndList[0][j];
    }
    return recognised;
}

int32_t referenceRecognizePulsesFixed(MessageSink&, const Alphabet& alphabet,
                                      std::span<const uint16_t> list, uint16_t Tmin, uint16_t Tmax,
                                      uint16_t pct, ChainsHeader* chains, SeriesHeader& series) {
    const int K = series.wImpulseQuantity;
    if (chains) resetChainsForRun(*chains, K, K, K);
    int32_t bestSoFar = kFar9;
    int32_t recognised = -1;
    Chain best;
    for (const uint16_t v : list) {
        MatchTable match(alphabet, {v}, series, pct);
        const Chain chain = runKnownCount(series, Tmin, Tmax,
                                          [&](int) -> MatchTable& { return match; },
                                          {kFar9, kFar9, kFar9});
        if (chains) insertChain(*chains, chain.distance, chain.pulses);
        if (chain.distance < bestSoFar) {
            bestSoFar = chain.distance;
            recognised = v;
            best = chain;
        }
    }
    series.wFoundPulses = static_cast<uint16_t>(K);
    if (recognised == -1) ++referenceBranchCounts.noRecognition;
    if (recognised != -1) {
        for (int j = 0; j < K; ++j) {
            series.lpFoundPosition[j] = best.pulses[j].position;
            series.lpFoundEtalon[j] = static_cast<int16_t>(recognised);
            series.lpFoundCutStart[j] = best.pulses[j].cutStart;
            series.lpFoundCutEnd[j] = best.pulses[j].cutEnd;
        }
    }
    return recognised;
}

// ---- Tuple detection ----------------------------------------------------------------------------

int referenceDetectTuplesUnfixed(MessageSink&, const Alphabet& alphabet,
                                 std::span<const int32_t> tuple, uint16_t, uint16_t Tmin,
                                 uint16_t Tmax, uint16_t pct, ChainsHeader* chains,
                                 SeriesHeader& series, int* debugRepeat) {
    const int Kmax = series.wMaxPulses;
    const int m = static_cast<int>(tuple.size());
    const int L = std::min(Kmax, m);
    if (chains) resetChainsForRun(*chains, 0, 0, Kmax);
    DerivedSets sets;
    buildSets(series, Tmin, Tmax, sets);
    SingleTables tables(alphabet, series, pct);

    const Chain chain = runTupleUnknownCount(sets, tables, series, tuple, L, Tmin, Tmax, kUnset8);
    Groups groups = groupsOf(static_cast<int>(chain.pulses.size()), m, 0);
    std::vector<ChainPulse> result;
    if (chain.distance < kUnset8) {
        result = chain.pulses;
    } else {
        groups = Groups{};
        ++referenceBranchCounts.chainRejected;
    }
    if (m > Kmax) ++referenceBranchCounts.tupleLongerThanKmax;
    if (chains) insertChain(*chains, chain.distance, chain.pulses);
    writeFound(series, result);
    writeGroups(series, groups);
    if (chains) chains->wSeekingPulsesQuantity = static_cast<uint16_t>(result.size());
    if (debugRepeat) *debugRepeat = 0;
    return 1;
}

int referenceDetectTuplesFixed(MessageSink&, const Alphabet& alphabet, std::span<const int32_t> tuple,
                               uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct,
                               ChainsHeader* chains, SeriesHeader& series) {
    const int K = series.wImpulseQuantity;
    const int m = static_cast<int>(tuple.size());
    const int starts = mode == 1 ? 1 : m;
    if (chains) resetChainsForRun(*chains, K, K, K);
    SingleTables tables(alphabet, series, pct);
    int32_t bestSoFar = kAccept7;
    for (int s = 0; s < starts; ++s) {
        const Chain chain = runKnownCount(
            series, Tmin, Tmax, [&](int j) -> MatchTable& { return tables.of(tuple[(j + s) % m]); },
            {kPenalty6, kAccept7, kPenalty6});
        const Groups groups = groupsOf(K, m, s);
        if (chains) insertChain(*chains, chain.distance, chain.pulses);
        if (chain.distance < bestSoFar) {
            bestSoFar = chain.distance;
            writeFound(series, chain.pulses);
            writeGroups(series, groups);
        }
    }
    series.wFoundPulses = static_cast<uint16_t>(K);
    return 1;
}

// ---- Tuple recognition --------------------------------------------------------------------------

int32_t referenceRecognizeTuplesUnfixed(MessageSink&, const Alphabet& alphabet,
                                        std::span<const std::span<const int32_t>> tuples, uint16_t,
                                        uint16_t Tmin, uint16_t Tmax, uint16_t pct,
                                        ChainsHeader* chains, SeriesHeader& series,
                                        int* debugRepeat) {
    const int Kmax = series.wMaxPulses;
    if (chains) resetChainsForRun(*chains, 0, 0, Kmax);
    DerivedSets sets;
    buildSets(series, Tmin, Tmax, sets);
    SingleTables tables(alphabet, series, pct);

    int32_t bestSoFar = kFar9;
    int32_t recognised = 0;
    std::vector<ChainPulse> result;
    Groups resultGroups;
    for (size_t t = 0; t < tuples.size(); ++t) {
        const std::span<const int32_t> tuple = tuples[t];
        const int m = static_cast<int>(tuple.size());
        const int L = std::min(Kmax, m);
        if (m > Kmax) ++referenceBranchCounts.tupleLongerThanKmax;
        const Chain chain = runTupleUnknownCount(sets, tables, series, tuple, L, Tmin, Tmax, kFar9);
        if (chain.distance < bestSoFar) {
            bestSoFar = chain.distance;
            recognised = static_cast<int32_t>(t) + 1;
            result = chain.pulses;
            resultGroups = groupsOf(static_cast<int>(chain.pulses.size()), m, 0);
        }
        if (chains) insertChain(*chains, chain.distance, chain.pulses);
    }
    if (recognised == 0) ++referenceBranchCounts.noRecognition;
    writeFound(series, result);
    writeGroups(series, resultGroups);
    series.wResultCode = static_cast<int16_t>(recognised);
    if (chains) chains->wSeekingPulsesQuantity = static_cast<uint16_t>(result.size());
    if (debugRepeat) *debugRepeat = 0;
    return recognised;
}

int32_t referenceRecognizeTuplesFixed(MessageSink&, const Alphabet& alphabet,
                                      std::span<const std::span<const int32_t>> tuples,
                                      uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct,
                                      ChainsHeader* chains, SeriesHeader& series) {
    const int K = series.wImpulseQuantity;
    if (chains) resetChainsForRun(*chains, K, K, K);
    SingleTables tables(alphabet, series, pct);
    int32_t bestSoFar = kAccept7;
    int32_t recognised = 0;
    Chain result;
    Groups resultGroups;
    for (size_t t = 0; t < tuples.size(); ++t) {
        const std::span<const int32_t> tuple = tuples[t];
        const int m = static_cast<int>(tuple.size());
        const int starts = mode == 1 ? 1 : m;
        for (int s = 0; s < starts; ++s) {
            const Chain chain = runKnownCount(
                series, Tmin, Tmax,
                [&](int j) -> MatchTable& { return tables.of(tuple[(j + s) % m]); },
                {kPenalty6, kAccept7, kPenalty6});
            if (chain.distance < bestSoFar) {
                bestSoFar = chain.distance;
                recognised = static_cast<int32_t>(t) + 1;
                result = chain;
                resultGroups = groupsOf(K, m, s);
            }
            if (chains && insertChain(*chains, chain.distance, chain.pulses) == 0)
                chains->wSeekingPulsesQuantity = static_cast<uint16_t>(K);
        }
    }
    series.wFoundPulses = static_cast<uint16_t>(K);
    series.wResultCode = static_cast<int16_t>(recognised);
    if (recognised == 0) ++referenceBranchCounts.noRecognition;
    if (recognised != 0) {
        writeFound(series, result.pulses);
        writeGroups(series, resultGroups);
    }
    if (chains) chains->wSeekingPulsesQuantity = static_cast<uint16_t>(K);
    return recognised;
}

ReferenceShapeScore referenceShapeScore(std::span<const int16_t> x, std::span<const int16_t> y, int64_t l, int pct,
                                        double gMin, double gMax, int channels) {
    const int n = static_cast<int>(x.size()) / channels;
    const auto N = static_cast<int64_t>(y.size()) / channels;
    std::vector<int64_t> P(static_cast<size_t>(n) + 1, 0);
    for (int c = 0; c < n; ++c) {
        P[c + 1] = P[c];
        for (int ch = 0; ch < channels; ++ch) P[c + 1] += int64_t{x[ch * n + c]} * x[ch * n + c];
    }
    const int64_t thr = P[n] * pct / 100;
    auto term = [&](int s, int t) {
        int64_t xx = 0, xy = 0;
        for (int ch = 0; ch < channels; ++ch)
            for (int c = s; c <= t; ++c) {
                xx += int64_t{x[ch * n + c]} * x[ch * n + c];
                xy += int64_t{x[ch * n + c]} * y[ch * N + l + c];
            }
        const double dxx = static_cast<double>(xx), dxy = static_cast<double>(xy);
        const double g = std::min(std::max(dxx > 0 ? dxy * (1.0 / dxx) : 0.0, gMin), gMax);
        const double a = g * dxx, b = g * a, d = 2.0 * g, e = d * dxy;
        return ReferenceShapeScore{static_cast<int64_t>(std::nearbyint(b - e)), s, t, g};
    };
    ReferenceShapeScore best = term(0, n - 1);
    for (int s = 0; s < n; ++s)
        for (int t = s; t < n; ++t)
            if (P[n] - P[s] > thr && P[t + 1] - P[s] > thr) {
                const ReferenceShapeScore cut = term(s, t);
                if (cut.score < best.score) best = cut;
            }
    return best;
}
