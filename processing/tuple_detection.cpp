#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "processing/routine_common.h"
#include "processing/routines.h"

using namespace processing_detail;

namespace {
constexpr int32_t kUnset = 99999999;
constexpr int32_t kAccept = 9999999;
constexpr int32_t kPenalty = 999999;

// One report line of a layer over a set: " %d" for the smallest negative total (the first
// among equals), " -" for other negative totals, " +" otherwise, then "[%d]" with the
// predecessor when there is one.
void reportLayer(std::string& text, const std::vector<int32_t>& positions, const std::vector<int32_t>& G,
                 const std::vector<int32_t>& B) {
    int32_t smallest = -1;
    for (const int32_t l : positions)
        if (smallest < 0 || G[l] < G[smallest]) smallest = l;
    char buffer[32];
    for (const int32_t l : positions) {
        if (G[l] < 0 && l == smallest) {
            std::snprintf(buffer, sizeof buffer, " %d", G[l]);
            text += buffer;
        } else {
            text += G[l] < 0 ? " -" : " +";
        }
        if (B[l] >= 0) {
            std::snprintf(buffer, sizeof buffer, "[%d]", B[l]);
            text += buffer;
        }
    }
}

std::string reportHeading(const char* title, const std::vector<std::pair<int32_t, int32_t>>& intervals) {
    std::string text = title;
    char buffer[48];
    for (const auto& [a, b] : intervals) {
        std::snprintf(buffer, sizeof buffer, " [%d..%d] ", a, b);
        text += buffer;
    }
    return text + "\n";
}
}  // namespace

namespace processing_detail {


int32_t cyclicTupleChain(MessageSink& messages, const LocalMatcher& matcher, const int16_t* y,
                         const SeriesView& view, const Walks& walks, uint16_t Tmin, uint16_t Tmax,
                         int32_t unset, bool report, CyclicWork& work, std::vector<ChainPulse>& chain) {
    const int L = static_cast<int>(matcher.size());
    const size_t positions = static_cast<size_t>(view.N - view.n + 1);
    work.G.resize(static_cast<size_t>(L));
    work.B.resize(static_cast<size_t>(L));
    work.match.resize(static_cast<size_t>(L));
    for (int lambda = 0; lambda < L; ++lambda) {
        work.G[lambda].assign(positions, unset);
        work.B[lambda].assign(positions, unset);
        work.match[lambda].assign(positions, LocalMatch{unset, 0, 0, static_cast<int16_t>(view.n - 1)});
    }
    // The members' matches over every walked position, computed once per layer.
    int32_t lo = view.N, hi = -1;
    for (const std::vector<int32_t>* walk : {&walks.firstOnly, &walks.both, &walks.laterOnly})
        if (!walk->empty()) {
            lo = std::min(lo, walk->front());
            hi = std::max(hi, walk->back());
        }
    if (lo <= hi)
        for (int lambda = 0; lambda < L; ++lambda)
            matcher.matchRange(y, lo, hi, work.match[lambda].data() + lo, lambda);
    auto score = [&](int lambda, int32_t l) -> const LocalMatch& { return work.match[lambda][l]; };

    for (const int32_t l : walks.firstOnly) {
        work.G[0][l] = score(0, l).score;
        work.B[0][l] = -1;
    }
    if (report) {
        std::string text = reportHeading("omega_minus - omega_tilda: ", walks.firstOnlyIntervals);
        reportLayer(text, walks.firstOnly, work.G[0], work.B[0]);
        messages.messageBox(text + "\n ", " About TuplesDetection ", MessageIcon::None);
    }

    // Each layer's best predecessor in [l - Tmax, l - Tmin] (first smallest G below the start),
    // from one sliding minimum per layer: the walks write G only at l, behind every window.
    std::vector<SlidingMinimum> windows(static_cast<size_t>(L));
    auto startPass = [&] {
        for (int lambda = 0; lambda < L; ++lambda) windows[lambda].reset(work.G[lambda].data());
    };
    auto slideTo = [&](int32_t l) {
        for (int lambda = 0; lambda < L; ++lambda) windows[lambda].advance(int64_t{l} - Tmax, int64_t{l} - Tmin);
    };
    auto window_best = [&](int previous, int32_t start, int32_t& from) {
        const SlidingMinimum& w = windows[previous];
        from = -2;
        if (w.empty() || work.G[previous][static_cast<size_t>(w.front())] >= start) return start;
        from = static_cast<int32_t>(w.front());
        return work.G[previous][static_cast<size_t>(from)];
    };

    startPass();
    for (const int32_t l : walks.both) {
        slideTo(l);
        for (int lambda = 0; lambda < L; ++lambda) {
            const int previous = lambda == 0 ? L - 1 : lambda - 1;
            int32_t from;
            const int32_t best = window_best(previous, 0, from);
            if (best < 0) {
                work.G[lambda][l] = wrapAdd(best, score(lambda, l).score);
                work.B[lambda][l] = from;
            } else if (lambda == 0) {
                work.G[0][l] = score(0, l).score;  // a chain begins here with member 0
                work.B[0][l] = -1;
            } else {
                work.G[lambda][l] = unset;  // a chain cannot begin with another member
                work.B[lambda][l] = -2;
            }
        }
    }
    if (report) {
        std::string text = reportHeading("omega_minus x omega_tilda: ", walks.bothIntervals);
        char buffer[32];
        for (int lambda = 0; lambda < L; ++lambda) {
            std::snprintf(buffer, sizeof buffer, "l=%d\n ", lambda + 1);
            text += buffer;
            reportLayer(text, walks.both, work.G[lambda], work.B[lambda]);
            text += "\n ";
        }
        messages.messageBox(text, " About TuplesDetection ", MessageIcon::None);
    }

    startPass();
    for (const int32_t l : walks.laterOnly) {
        slideTo(l);
        for (int lambda = 0; lambda < L; ++lambda) {
            const int previous = lambda == 0 ? L - 1 : lambda - 1;
            int32_t from;
            const int32_t best = window_best(previous, unset, from);
            work.G[lambda][l] = wrapAdd(best, score(lambda, l).score);
            work.B[lambda][l] = from;
        }
    }

    int32_t distance = unset, end = -1;
    int endLayer = 0;
    for (const int32_t l : walks.last)
        for (int lambda = 0; lambda < L; ++lambda)
            if (work.G[lambda][l] < distance) {
                distance = work.G[lambda][l];
                end = l;
                endLayer = lambda;
            }

    chain.clear();
    for (int32_t p = end, lambda = endLayer; p >= 0 && p < static_cast<int32_t>(positions);) {
        const LocalMatch& m = work.match[lambda][p];
        chain.push_back(chainPulse(p, m));
        const int32_t previousPosition = work.B[lambda][p];
        lambda = lambda == 0 ? L - 1 : lambda - 1;
        p = previousPosition;
    }
    std::reverse(chain.begin(), chain.end());
    return distance;
}

void fillMemberTables(const Alphabet& alphabet, std::span<const uint16_t> members, int32_t n,
                      uint16_t pct, const int16_t* y, int32_t lo, int32_t hi, MemberTables& out) {
    std::vector<uint16_t> distinct;
    for (const uint16_t v : members)
        if (std::find(distinct.begin(), distinct.end(), v) == distinct.end()) distinct.push_back(v);
    LocalMatcher matcher;
    matcher.prepare(alphabet, distinct, n, pct);
    out.tables.resize(distinct.size());
    for (size_t i = 0; i < distinct.size(); ++i)
        fillMatchTable(matcher, static_cast<int>(i), y, lo, hi, out.tables[i]);
    out.ofMember.clear();
    for (const uint16_t v : members)
        out.ofMember.push_back(
            &out.tables[static_cast<size_t>(std::find(distinct.begin(), distinct.end(), v) - distinct.begin())]);
}

}  // namespace processing_detail

int formGroups(int pulses, int m, int s, int16_t* firstOut, int16_t* lastOut) {
    if (pulses <= 0 || m <= 0) return 0;
    int count = 0;
    int last = std::min(std::max(m - s, 1), pulses);
    firstOut[count] = 1;
    lastOut[count++] = static_cast<int16_t>(last);
    while (last < pulses) {
        const int first = last + 1;
        last = std::min(last + m, pulses);
        firstOut[count] = static_cast<int16_t>(first);
        lastOut[count++] = static_cast<int16_t>(last);
    }
    return count;
}

namespace {
void writeGroups(SeriesHeader& series, int pulses, int m, int s) {
    series.wFoundGroups = static_cast<int16_t>(
        formGroups(pulses, m, s, series.lpFoundGroupPosition, series.lpFoundGroupValue));
}
}  // namespace

int detectTuplesUnfixed(MessageSink& messages, const Alphabet& alphabet, std::span<const int32_t> tuple,
                        uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct,
                        ChainsHeader* chains, SeriesHeader& series, int* debugRepeat) {
    (void)mode;  // the chain always begins with member 0
    const char* caption = " detectTuplesUnfixed ";
    SeriesView view{};
    std::vector<uint16_t> members;
    if (!checkSeries(messages, caption, series, Tmin, Tmax, view) ||
        !tupleNumbers(messages, caption, tuple, members) ||
        !checkEtalons(messages, caption, alphabet, members, view.n) ||
        !checkChains(messages, caption, chains, std::max(view.Kmax, view.maxChain)))
        return 0;
    const int m = static_cast<int>(members.size());
    // Only the first Kmax members can take part.
    members.resize(static_cast<size_t>(std::min(view.Kmax, m)));
    if (members.empty()) {
        refuse(messages, caption, "The series admits no pulses.");
        return 0;
    }

    LocalMatcher matcher;
    Walks walks;
    CyclicWork work;
    std::vector<ChainPulse> chain;
    int32_t distance;
    try {
        matcher.prepare(alphabet, members, view.n, pct);
        if (!makeWalks(view, Tmin, Tmax, walks)) throw std::bad_alloc();
        distance = cyclicTupleChain(messages, matcher, series.lpNoisyData, view, walks, Tmin, Tmax, kUnset,
                                    debugRepeat && *debugRepeat, work, chain);
    } catch (const std::bad_alloc&) {
        messages.messageBox("Нет памяти для G_on_layers!", "", MessageIcon::None);
        return 0;
    }
    if (chains) {
        resetChainsForRun(*chains, 0, 0, view.Kmax);
        insertChain(*chains, distance, chain);
    }
    if (distance < kUnset) {
        writeFound(series, chain);
        writeGroups(series, static_cast<int>(chain.size()), m, 0);
    } else {
        series.wFoundPulses = 0;
        series.wFoundGroups = 0;
    }
    if (chains) chains->wSeekingPulsesQuantity = series.wFoundPulses;
    if (debugRepeat) *debugRepeat = 0;
    return 1;
}

int detectTuplesFixed(MessageSink& messages, const Alphabet& alphabet, std::span<const int32_t> tuple,
                      uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct,
                      ChainsHeader* chains, SeriesHeader& series) {
    const char* caption = " detectTuplesFixed ";
    SeriesView view{};
    std::vector<uint16_t> members;
    if (!checkSeries(messages, caption, series, Tmin, Tmax, view) ||
        !checkRanges(messages, caption, series, Tmin, Tmax, view) ||
        !tupleNumbers(messages, caption, tuple, members) ||
        !checkEtalons(messages, caption, alphabet, members, view.n) ||
        !checkChains(messages, caption, chains, view.K))
        return 0;
    const int m = static_cast<int>(members.size());
    const int starts = mode == 1 ? 1 : m;
    const Ranges ranges = readRanges(series, view.K);

    MemberTables tables;
    LayeredWork<int32_t, 1> D;
    std::vector<const MatchTable*> layers(static_cast<size_t>(view.K));
    std::vector<std::vector<ChainPulse>> chainOf(static_cast<size_t>(starts));
    std::vector<int32_t> distanceOf(static_cast<size_t>(starts));
    try {
        const int32_t lo = *std::min_element(ranges.lo.begin(), ranges.lo.end());
        const int32_t hi = *std::max_element(ranges.hi.begin(), ranges.hi.end());
        fillMemberTables(alphabet, members, view.n, pct, series.lpNoisyData, lo, hi, tables);
        for (int s = 0; s < starts; ++s) {
            for (int32_t j = 0; j < view.K; ++j) layers[j] = tables.ofMember[(j + s) % m];
            distanceOf[s] = layeredChain(ranges, layers, Tmin, Tmax, kPenalty, kAccept, kPenalty, D, chainOf[s]);
        }
    } catch (const std::bad_alloc&) {
        messages.messageBox("Нет памяти для ppDw[m]!", "", MessageIcon::None);
        return 0;
    }

    if (chains) {
        const uint16_t K = static_cast<uint16_t>(view.K);
        resetChainsForRun(*chains, K, K, K);
    }
    int32_t bestSoFar = kAccept;
    for (int s = 0; s < starts; ++s) {
        insertIfGiven(chains, distanceOf[s], chainOf[s]);
        if (distanceOf[s] < bestSoFar) {
            bestSoFar = distanceOf[s];
            writeFound(series, chainOf[s]);
            writeGroups(series, view.K, m, s);
        }
    }
    series.wFoundPulses = static_cast<uint16_t>(view.K);
    return 1;
}
