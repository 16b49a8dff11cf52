// Randomized comparison of the production local match and processing routines with the plain
// reference versions of reference_processing.h: on every random case both must leave identical
// results (return value, found fields of the series, groups, result code, the whole chains
// header).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/random.h"
#include "model/series.h"
#include "processing/chains.h"
#include "processing/local_match.h"
#include "processing/routines.h"
#include "reference_processing.h"

namespace {

constexpr uint16_t kAlphabetSize = 20;
constexpr uint16_t kEtalonLength = 20;
constexpr int kMaxReportedFailures = 3;  // stop a test after this many disagreeing cases

// ---- Random choices of the test ----------------------------------------------------------------

int uniform(std::mt19937& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}
bool chance(std::mt19937& rng, int percent) { return uniform(rng, 0, 99) < percent; }

template <class T>
std::string listText(const std::vector<T>& v) {
    std::ostringstream out;
    out << "{";
    for (size_t i = 0; i < v.size(); ++i) out << (i ? "," : "") << v[i];
    out << "}";
    return out.str();
}

uint16_t drawEnergy(std::mt19937& rng) {
    static constexpr uint16_t levels[] = {0, 50, 75, 100};
    return levels[uniform(rng, 0, 3)];
}

// Series geometry valid for the builder: 1 <= Tmin <= Tmax, L <= Tmax, at least one admissible
// pulse count. Most series are short; a smaller share is long.
//   Normal: gaps drawn freely.
//   Sparse: long gaps, hence few pulses (tuples may be longer than wMaxPulses).
//   Tight:  Tmin = Tmax = T and N = (K - 1) T + L + d with d <= 3, so that with K pulses every
//           pulse range is only d + 1 positions wide (known count); `K` is then that count.
enum class Shape { Normal, Sparse, Tight };

struct Geometry {
    uint32_t N = 0;
    uint16_t L = kEtalonLength, Tmin = 0, Tmax = 0;
    PulseBounds bounds{0, 0};
    int K = 0;  // the pulse count a Tight geometry is made for, else 0
};

Geometry drawGeometry(std::mt19937& rng, Shape shape) {
    Geometry g;
    for (;;) {
        g.N = chance(rng, 85) ? static_cast<uint32_t>(uniform(rng, 200, 400))
                              : static_cast<uint32_t>(uniform(rng, 401, 1200));
        g.L = chance(rng, 75) ? kEtalonLength : static_cast<uint16_t>(uniform(rng, 6, kEtalonLength - 1));
        g.K = 0;
        const int N = static_cast<int>(g.N);
        if (shape == Shape::Sparse) {
            g.Tmax = static_cast<uint16_t>(uniform(rng, std::max(20, N / 3), N));
            g.Tmin = static_cast<uint16_t>(uniform(rng, std::max(1, g.Tmax / 2), g.Tmax));
        } else if (shape == Shape::Tight) {
            // T < 2L keeps Kmin = K, so that Last is narrow too.
            const int lowestT = std::max<int>(20, g.L + 1);
            const int T = uniform(rng, lowestT, chance(rng, 50) ? std::max(lowestT, 2 * g.L - 1) : 100);
            const int d = chance(rng, 50) ? 0 : uniform(rng, 0, std::min(3, T - g.L));
            const int lowest = (200 - g.L - d + T - 1) / T + 1;
            g.K = uniform(rng, lowest, std::max(lowest, (400 - g.L - d) / T + 1));
            g.N = static_cast<uint32_t>((g.K - 1) * T + g.L + d);
            g.Tmin = g.Tmax = static_cast<uint16_t>(T);
        } else {
            g.Tmax = static_cast<uint16_t>(uniform(rng, 20, std::min(N, 200)));
            g.Tmin = chance(rng, 75)
                         ? static_cast<uint16_t>(uniform(rng, std::max(1, g.Tmax / 4), g.Tmax))
                         : static_cast<uint16_t>(uniform(rng, 1, g.Tmax));
            // Keep the known-count programmes (one layer per pulse) affordable in long series.
            if (N > 400 && g.Tmin < 8) continue;
        }
        if (g.L > g.Tmax) continue;
        g.bounds = seriesPulseBounds(g.L, g.Tmin, g.Tmax, g.N);
        if (g.bounds.wMinPulses > g.bounds.wMaxPulses) continue;
        if (g.K && (g.K < g.bounds.wMinPulses || g.K > g.bounds.wMaxPulses)) continue;
        return g;
    }
}

Shape drawShape(std::mt19937& rng, int sparsePercent, int tightPercent) {
    const int roll = uniform(rng, 0, 99);
    return roll < sparsePercent ? Shape::Sparse
           : roll < sparsePercent + tightPercent ? Shape::Tight
                                                 : Shape::Normal;
}

std::vector<uint16_t> drawCandidates(std::mt19937& rng) {
    const int roll = uniform(rng, 0, 99);
    const int count = roll < 50 ? uniform(rng, 1, 4) : roll < 85 ? uniform(rng, 5, 10) : uniform(rng, 11, 20);
    std::vector<uint16_t> list;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && chance(rng, 20))
            list.push_back(list[static_cast<size_t>(uniform(rng, 0, i - 1))]);  // a repeated etalon
        else
            list.push_back(static_cast<uint16_t>(uniform(rng, 1, kAlphabetSize)));
    }
    return list;
}

std::vector<int32_t> drawTuple(std::mt19937& rng, int maxLength = 6) {
    std::vector<int32_t> tuple(static_cast<size_t>(uniform(rng, 1, maxLength)));
    for (auto& v : tuple) v = uniform(rng, 1, kAlphabetSize);
    if (tuple.size() > 1 && chance(rng, 15)) tuple[1] = tuple[0];
    return tuple;
}

// ---- Snapshots of what a routine leaves behind -------------------------------------------------

struct FoundState {
    int wFoundPulses = 0, wFoundGroups = 0, wResultCode = 0;
    std::vector<int16_t> position, etalon, cutStart, cutEnd, groupFirst, groupLast;
};

FoundState foundOf(const SeriesHeader& s) {
    FoundState f;
    f.wFoundPulses = s.wFoundPulses;
    f.wFoundGroups = s.wFoundGroups;
    f.wResultCode = s.wResultCode;
    const size_t P = s.wAllocatedPulses;
    auto copy = [P](const int16_t* p) { return std::vector<int16_t>(p, p + P); };
    f.position = copy(s.lpFoundPosition);
    f.etalon = copy(s.lpFoundEtalon);
    f.cutStart = copy(s.lpFoundCutStart);
    f.cutEnd = copy(s.lpFoundCutEnd);
    f.groupFirst = copy(s.lpFoundGroupPosition);
    f.groupLast = copy(s.lpFoundGroupValue);
    return f;
}

void restoreFound(SeriesHeader& s, const FoundState& f) {
    s.wFoundPulses = static_cast<uint16_t>(f.wFoundPulses);
    s.wFoundGroups = static_cast<int16_t>(f.wFoundGroups);
    s.wResultCode = static_cast<int16_t>(f.wResultCode);
    std::copy(f.position.begin(), f.position.end(), s.lpFoundPosition);
    std::copy(f.etalon.begin(), f.etalon.end(), s.lpFoundEtalon);
    std::copy(f.cutStart.begin(), f.cutStart.end(), s.lpFoundCutStart);
    std::copy(f.cutEnd.begin(), f.cutEnd.end(), s.lpFoundCutEnd);
    std::copy(f.groupFirst.begin(), f.groupFirst.end(), s.lpFoundGroupPosition);
    std::copy(f.groupLast.begin(), f.groupLast.end(), s.lpFoundGroupValue);
}

// Leftovers of an earlier run, so that "left as it was" is visible.
void scribbleFound(std::mt19937& rng, SeriesHeader& s) {
    const int P = s.wAllocatedPulses;
    s.wFoundPulses = static_cast<uint16_t>(uniform(rng, 0, P));
    s.wFoundGroups = static_cast<int16_t>(uniform(rng, 0, P));
    s.wResultCode = static_cast<int16_t>(uniform(rng, 0, 9));
    for (int j = 0; j < P; ++j) {
        s.lpFoundPosition[j] = static_cast<int16_t>(uniform(rng, -1, 1200));
        s.lpFoundEtalon[j] = static_cast<int16_t>(uniform(rng, 0, kAlphabetSize));
        s.lpFoundCutStart[j] = static_cast<int16_t>(uniform(rng, 0, 19));
        s.lpFoundCutEnd[j] = static_cast<int16_t>(uniform(rng, 0, 19));
        s.lpFoundGroupPosition[j] = static_cast<int16_t>(uniform(rng, 0, 50));
        s.lpFoundGroupValue[j] = static_cast<int16_t>(uniform(rng, 0, 50));
    }
}

struct FoundCompare {
    bool groups = false;
    bool resultCode = false;
};

// The first difference between two found states, or empty.
std::string firstFoundDifference(const FoundState& fast, const FoundState& ref, FoundCompare what) {
    std::ostringstream out;
    if (fast.wFoundPulses != ref.wFoundPulses) {
        out << "wFoundPulses: fast " << fast.wFoundPulses << ", reference " << ref.wFoundPulses;
        return out.str();
    }
    const int P = std::min<int>(fast.wFoundPulses, static_cast<int>(fast.position.size()));
    const struct {
        const char* name;
        const std::vector<int16_t>& a;
        const std::vector<int16_t>& b;
    } lists[] = {{"lpFoundPosition", fast.position, ref.position},
                 {"lpFoundEtalon", fast.etalon, ref.etalon},
                 {"lpFoundCutStart", fast.cutStart, ref.cutStart},
                 {"lpFoundCutEnd", fast.cutEnd, ref.cutEnd}};
    for (int j = 0; j < P; ++j)
        for (const auto& l : lists)
            if (l.a[j] != l.b[j]) {
                out << l.name << "[" << j << "]: fast " << l.a[j] << ", reference " << l.b[j];
                return out.str();
            }
    if (what.groups) {
        if (fast.wFoundGroups != ref.wFoundGroups) {
            out << "wFoundGroups: fast " << fast.wFoundGroups << ", reference " << ref.wFoundGroups;
            return out.str();
        }
        const int G = std::clamp<int>(fast.wFoundGroups, 0, static_cast<int>(fast.groupFirst.size()));
        for (int g = 0; g < G; ++g) {
            if (fast.groupFirst[g] != ref.groupFirst[g] || fast.groupLast[g] != ref.groupLast[g]) {
                out << "group " << g << ": fast " << fast.groupFirst[g] << "-" << fast.groupLast[g]
                    << ", reference " << ref.groupFirst[g] << "-" << ref.groupLast[g];
                return out.str();
            }
        }
    }
    if (what.resultCode && fast.wResultCode != ref.wResultCode) {
        out << "wResultCode: fast " << fast.wResultCode << ", reference " << ref.wResultCode;
        return out.str();
    }
    return {};
}

std::string rowText(const ChainsHeader& h, int i) {
    std::ostringstream out;
    out << "distance " << h.distance[i] << ", " << h.chainPulses[i] << " pulses:";
    const int P = std::clamp<int>(h.chainPulses[i], 0, h.wMaxPulses);
    for (int j = 0; j < P; ++j)
        out << " " << h.positionsList[i][j] << "(" << h.pulsesList[i][j] << ")["
            << h.cutStartList[i][j] << " " << h.cutEndList[i][j] << "]";
    return out.str();
}

std::string chainsText(const ChainsHeader& h) {
    std::ostringstream out;
    out << "  wPretenders " << h.wPretenders << ", wQuanPulses " << h.wQuanPulses
        << ", wSeekingPulsesQuantity " << h.wSeekingPulsesQuantity << "\n";
    for (int i = 0; i < h.wPretenders; ++i) out << "  " << i << ": " << rowText(h, i) << "\n";
    return out.str();
}

// The first difference between two chains headers, or empty.
std::string firstChainsDifference(const ChainsHeader& fast, const ChainsHeader& ref) {
    std::ostringstream out;
    if (fast.wPretenders != ref.wPretenders) {
        out << "wPretenders: fast " << fast.wPretenders << ", reference " << ref.wPretenders;
        return out.str();
    }
    if (fast.wQuanPulses != ref.wQuanPulses) {
        out << "wQuanPulses: fast " << fast.wQuanPulses << ", reference " << ref.wQuanPulses;
        return out.str();
    }
    if (fast.wSeekingPulsesQuantity != ref.wSeekingPulsesQuantity) {
        out << "wSeekingPulsesQuantity: fast " << fast.wSeekingPulsesQuantity << ", reference "
            << ref.wSeekingPulsesQuantity;
        return out.str();
    }
    for (int i = 0; i < fast.wPretenders; ++i) {
        bool same = fast.distance[i] == ref.distance[i] && fast.chainPulses[i] == ref.chainPulses[i];
        const int P = std::clamp<int>(fast.chainPulses[i], 0, fast.wMaxPulses);
        for (int j = 0; same && j < P; ++j)
            same = fast.positionsList[i][j] == ref.positionsList[i][j] &&
                   fast.pulsesList[i][j] == ref.pulsesList[i][j] &&
                   fast.cutStartList[i][j] == ref.cutStartList[i][j] &&
                   fast.cutEndList[i][j] == ref.cutEndList[i][j];
        if (!same) {
            out << "chains row " << i << ":\n  fast      " << rowText(fast, i) << "\n  reference "
                << rowText(ref, i);
            return out.str();
        }
    }
    return {};
}

// A chains header of `rows` rows of `rowPulses` pulses holding leftovers of an earlier run; the
// same seed gives the same header.
std::unique_ptr<ChainsHeader> makeChains(uint16_t rows, uint16_t rowPulses, uint32_t seed) {
    RecordingMessageSink sink;
    std::unique_ptr<ChainsHeader> h = getChainsHeader(sink, rows, rowPulses, nullptr);
    if (!h) return nullptr;
    std::mt19937 rng(seed);
    const int leftovers = uniform(rng, 0, 3);
    for (int i = 0; i < leftovers; ++i) {
        std::vector<ChainPulse> pulses(static_cast<size_t>(uniform(rng, 0, rowPulses)));
        for (auto& p : pulses)
            p = {static_cast<int16_t>(uniform(rng, 0, 1000)), static_cast<int16_t>(uniform(rng, 1, 20)),
                 static_cast<int16_t>(uniform(rng, 0, 5)), static_cast<int16_t>(uniform(rng, 6, 19))};
        insertChain(*h, uniform(rng, -100000, 100000), pulses);
    }
    h->wQuanPulses = static_cast<uint16_t>(uniform(rng, 0, 30));
    h->wSeekingPulsesQuantity = static_cast<uint16_t>(uniform(rng, 0, 30));
    return h;
}

using ChainsPtr = std::unique_ptr<ChainsHeader>;
using SeriesPtr = std::unique_ptr<SeriesHeader>;

// Stored tuples; the series is usually built from one of them.
struct StoredTuples {
    std::vector<std::vector<int32_t>> tuples;
    std::vector<std::span<const int32_t>> views;
    int truth = -1;  // 0-based; -1 when the series follows none of them
    std::string text() const {
        std::string t = "tuples=";
        for (const auto& v : tuples) t += listText(v);
        return t + " truth=" + std::to_string(truth + 1);
    }
};

StoredTuples drawStoredTuples(std::mt19937& rng, int count, int maxLength) {
    StoredTuples st;
    for (int t = 0; t < count; ++t) st.tuples.push_back(drawTuple(rng, maxLength));
    if (count > 1 && chance(rng, 20)) st.tuples[1] = st.tuples[0];  // equal distances: the first wins
    for (const auto& v : st.tuples) st.views.emplace_back(v);
    st.truth = chance(rng, 85) ? uniform(rng, 0, count - 1) : -1;
    return st;
}

// ---- The fixture ---------------------------------------------------------------------------------

// The etalons of a case: the quiet alphabet (amplitude 128) with noise up to 100, or the loud one
// (amplitude 20000) with noise up to the generator's limit, whose scores and totals leave the
// 32-bit range and wrap.
struct Signal {
    const Alphabet* alphabet;
    int16_t amplitude;
    int maxSigma;
    const char* name;
};

class FastVsReference : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RecordingMessageSink sink;
        int16_t alphabetCell = SeedCells{}.alphabetSeed;
        built_ = buildAlphabet(sink, kQuietAmplitude, kAlphabetSize, kEtalonLength, quiet_, alphabetCell) == 1 &&
                 buildAlphabet(sink, kLoudAmplitude, kAlphabetSize, kEtalonLength, loud_, alphabetCell) == 1;
    }
    static void TearDownTestSuite() {
        releaseAlphabet(kAlphabetSize, quiet_);
        releaseAlphabet(kAlphabetSize, loud_);
    }

    void SetUp() override {
        ASSERT_TRUE(built_);
        branchesAtStart_ = referenceBranchCounts;
    }

    // The reference's rare branches taken since the test began.
    ReferenceBranchCounts branches() const {
        const ReferenceBranchCounts& now = referenceBranchCounts;
        const ReferenceBranchCounts& then = branchesAtStart_;
        return {now.backTrackWithoutBound - then.backTrackWithoutBound,
                now.endWithoutBound - then.endWithoutBound,
                now.chainRejected - then.chainRejected,
                now.noRecognition - then.noRecognition,
                now.tupleLongerThanKmax - then.tupleLongerThanKmax,
                now.penaltyUsed - then.penaltyUsed,
                now.totalWrapped - then.totalWrapped};
    }

    // The cases of a test must reach the rarely used branches named here (checked only when
    // every case ran).
    void expectReached(std::initializer_list<std::pair<const char*, long>> branchCounts) const {
        if (failures_ != 0) return;
        for (const auto& [name, count] : branchCounts)
            EXPECT_GT(count, 0) << "no case of this test reached the branch " << name;
    }

    static Signal drawSignal(std::mt19937& rng, int loudPercent) {
        if (chance(rng, loudPercent)) return {&loud_, kLoudAmplitude, gaussSigmaLimit, "loud"};
        return {&quiet_, kQuietAmplitude, 100, "quiet"};
    }

    // One random series; etalonOfPulse(j) names the etalon of pulse j. K = 0 draws the count
    // with getRandomCutOffSeries, otherwise getCutOffSeries builds K pulses.
    struct Built {
        SeriesPtr series;
        std::string text;
    };
    Built buildSeries(std::mt19937& rng, const Geometry& g, int K, const Signal& signal,
                      const std::function<uint16_t(int)>& etalonOfPulse) {
        seeds_.pulseCountSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
        seeds_.positionSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
        seeds_.cutStartSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
        seeds_.cutEndSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
        std::vector<uint16_t> sequence(g.bounds.wMaxPulses);
        for (size_t j = 0; j < sequence.size(); ++j) sequence[j] = etalonOfPulse(static_cast<int>(j));
        const uint16_t making = drawEnergy(rng);
        const int roll = uniform(rng, 0, 99);
        const int16_t sigma = static_cast<int16_t>(roll < 30 ? 0
                                                   : roll < 80 ? uniform(rng, 1, std::min(100, signal.maxSigma))
                                                               : uniform(rng, 1, signal.maxSigma));
        int16_t noiseCell = static_cast<int16_t>(uniform(rng, 0, 32767));

        std::ostringstream text;
        text << signal.name << " N=" << g.N << " L=" << g.L << " Tmin=" << g.Tmin
             << " Tmax=" << g.Tmax << " Kmin=" << g.bounds.wMinPulses
             << " Kmax=" << g.bounds.wMaxPulses << " makingEnergy=" << making << " sigma=" << sigma
             << " seeds(count,pos,cutStart,cutEnd,noise)=" << seeds_.pulseCountSeed << ","
             << seeds_.positionSeed << "," << seeds_.cutStartSeed << ","
             << seeds_.cutEndSeed << "," << noiseCell << " sequence=" << listText(sequence);

        RecordingMessageSink sink;
        SeriesPtr made =
            K == 0 ? getRandomCutOffSeries(sink, kAlphabetSize, *signal.alphabet, g.L, g.Tmin, g.Tmax,
                                           g.N, sequence, signal.amplitude, making, nullptr, seeds_)
                   : getCutOffSeries(sink, kAlphabetSize, *signal.alphabet, g.L, g.Tmin, g.Tmax, g.N,
                                     static_cast<uint16_t>(K), sequence, signal.amplitude, making,
                                     nullptr, seeds_);
        SeriesHeader* const h = made.get();
        Built b{std::move(made), {}};
        if (h && sink.messages.empty()) {
            addNoise(sink, h, sigma, noiseCell);
            text << " K=" << h->wImpulseQuantity;
            // Now and then a flat or periodic series: many positions then have equal local
            // scores and equal totals, so every window minimum and every end is a tie that only
            // the first-minimum rule settles.
            if (chance(rng, 8)) {
                const int period = uniform(rng, 1, 3), level = uniform(rng, -2, 2);
                for (int32_t i = 0; i < h->dwSeriesSize; ++i)
                    h->lpNoisyData[i] = static_cast<int16_t>(i % period == 0 ? level : 0);
                text << " flat(period=" << period << ",level=" << level << ")";
            }
        }
        if (!sink.messages.empty()) b.series.reset();
        b.text = text.str();
        return b;
    }

    // Runs `fast` and `reference` on the same series from the same starting state (leftovers in
    // the found fields), each with its own copy of a chains header holding leftover rows (no
    // header when rows = 0), and reports the first difference. Returns false once too many cases
    // disagreed.
    using Routine = std::function<int64_t(SeriesHeader&, ChainsHeader*, MessageSink&)>;
    bool compare(std::mt19937& rng, SeriesHeader& series, uint16_t rows, uint16_t rowPulses,
                 FoundCompare what, const Routine& fast, const Routine& reference) {
        scribbleFound(rng, series);
        const FoundState start = foundOf(series);
        const std::vector<int16_t> noisy(series.lpNoisyData, series.lpNoisyData + series.dwSeriesSize);
        const uint32_t chainsSeed = static_cast<uint32_t>(rng());

        ChainsPtr fastChains(rows ? makeChains(rows, rowPulses, chainsSeed) : nullptr);
        ChainsPtr refChains(rows ? makeChains(rows, rowPulses, chainsSeed) : nullptr);
        if (rows && (!fastChains || !refChains)) {
            ADD_FAILURE() << "no chains header";
            return ++failures_ < kMaxReportedFailures;
        }

        RecordingMessageSink fastSink, refSink;
        const int64_t fastResult = fast(series, fastChains.get(), fastSink);
        const FoundState fastFound = foundOf(series);
        const bool noisyKept = std::equal(noisy.begin(), noisy.end(), series.lpNoisyData);
        restoreFound(series, start);
        const int64_t refResult = reference(series, refChains.get(), refSink);
        const FoundState refFound = foundOf(series);

        std::string difference;
        if (!fastSink.messages.empty())
            difference = "the production routine refused: " + fastSink.messages.front().text;
        else if (!noisyKept)
            difference = "the production routine changed lpNoisyData";
        else if (fastResult != refResult)
            difference = "return value: fast " + std::to_string(fastResult) + ", reference " +
                         std::to_string(refResult);
        if (difference.empty()) difference = firstFoundDifference(fastFound, refFound, what);
        if (difference.empty() && rows) difference = firstChainsDifference(*fastChains, *refChains);
        ++cases_;
        if (difference.empty()) return true;
        std::string dump;
        if (rows)
            dump = "\nfast chains:\n" + chainsText(*fastChains) + "reference chains:\n" +
                   chainsText(*refChains);
        ADD_FAILURE() << difference << dump;
        return ++failures_ < kMaxReportedFailures;
    }

    // Detection and recognition of pulses: `run(reference, window, alphabet, list, Tmin, Tmax,
    // pct, chains, series)` calls the production routine or its reference.
    template <class Run>
    void pulseCases(const char* routine, uint32_t seed, int count, bool knownCount, bool oneEtalon,
                    bool chainsRequired, Run run) {
        std::mt19937 rng(seed);
        for (int c = 0; c < count; ++c) {
            // Narrow ranges, loud signals and short lists let every total of a run exceed the
            // routines' bounds now and then.
            const Geometry g = drawGeometry(rng, drawShape(rng, 10, 12));
            const bool narrow = g.K != 0;
            const Signal signal = drawSignal(rng, narrow ? 75 : 15);
            const int K = !knownCount ? 0
                          : g.K       ? g.K
                                      : uniform(rng, g.bounds.wMinPulses, g.bounds.wMaxPulses);
            // The series' etalons; in an "opposed" case the list holds only their negations.
            std::vector<uint16_t> list;
            std::vector<uint16_t> present;
            if (chance(rng, 12)) {
                present.resize(oneEtalon ? 1 : static_cast<size_t>(uniform(rng, 1, 4)));
                for (auto& e : present) {
                    e = static_cast<uint16_t>(uniform(rng, 1, 10));
                    list.push_back(static_cast<uint16_t>(e % 2 ? e + 1 : e - 1));
                }
            } else {
                list = drawCandidates(rng);
                if (narrow && chance(rng, 50)) list.resize(std::min<size_t>(list.size(), 2));
                const int kinds = oneEtalon ? 1 : uniform(rng, 1, 4);
                for (int i = 0; i < kinds; ++i)
                    present.push_back(chance(rng, 70)
                                          ? list[static_cast<size_t>(uniform(rng, 0, static_cast<int>(list.size()) - 1))]
                                          : static_cast<uint16_t>(uniform(rng, 1, kAlphabetSize)));
            }
            auto built = buildSeries(rng, g, K, signal, [&](int) {
                return present[static_cast<size_t>(uniform(rng, 0, static_cast<int>(present.size()) - 1))];
            });
            ASSERT_TRUE(built.series) << built.text;
            SeriesHeader& s = *built.series;
            const uint16_t pct = drawEnergy(rng);
            const uint16_t rows = !chainsRequired && chance(rng, 10) ? 0 : static_cast<uint16_t>(uniform(rng, 1, 10));
            const uint16_t rowPulses =
                static_cast<uint16_t>((knownCount ? s.wImpulseQuantity : s.wMaxPulses) + uniform(rng, 0, 3));
            std::ostringstream text;
            text << "case " << c << ": " << routine << ": " << built.text << " pct=" << pct
                 << " chains=" << rows << "x" << rowPulses << " list=" << listText(list);
            SCOPED_TRACE(text.str());
            const Alphabet& alphabet = *signal.alphabet;
            const auto call = [&](bool reference) {
                return [&, reference](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                    return run(reference, w, alphabet, std::span<const uint16_t>(list), s.wTmin,
                               s.wTmax, pct, ch, h);
                };
            };
            if (!compare(rng, s, rows, rowPulses, {}, call(false), call(true))) break;
        }
        if (failures_ == 0) {
            EXPECT_EQ(cases_, count);
        }
    }

    // Tuple detection (one tuple) and tuple recognition (several stored tuples):
    // `run(reference, window, alphabet, tuples, mode, Tmin, Tmax, pct, chains, series)`.
    template <class Run>
    void tupleCases(const char* routine, uint32_t seed, int count, bool knownCount,
                    bool recognition, Run run) {
        std::mt19937 rng(seed);
        for (int c = 0; c < count; ++c) {
            const Geometry g = drawGeometry(rng, drawShape(rng, 20, 12));
            const bool narrow = g.K != 0;
            const Signal signal = drawSignal(rng, narrow ? 75 : 15);
            const int K = !knownCount ? 0
                          : g.K       ? g.K
                                      : uniform(rng, g.bounds.wMinPulses, g.bounds.wMaxPulses);
            const bool few = narrow && chance(rng, 50);
            const StoredTuples st =
                drawStoredTuples(rng, recognition && !few ? uniform(rng, 1, 5) : 1, few ? 2 : 6);
            const uint16_t mode = few || chance(rng, 50) ? 1 : 2;
            // The series repeats one of the tuples (or, now and then, a tuple of its own).
            const std::vector<int32_t> truth =
                st.truth >= 0 ? st.tuples[static_cast<size_t>(st.truth)] : drawTuple(rng);
            const int shift = mode == 1 ? 0 : uniform(rng, 0, static_cast<int>(truth.size()) - 1);
            auto built = buildSeries(rng, g, K, signal, [&](int j) {
                return static_cast<uint16_t>(truth[static_cast<size_t>(j + shift) % truth.size()]);
            });
            ASSERT_TRUE(built.series) << built.text;
            SeriesHeader& s = *built.series;
            const uint16_t pct = drawEnergy(rng);
            const uint16_t rows = chance(rng, 10) ? 0 : static_cast<uint16_t>(uniform(rng, 1, 10));
            const uint16_t rowPulses =
                static_cast<uint16_t>((knownCount ? s.wImpulseQuantity : s.wMaxPulses) + uniform(rng, 0, 3));
            std::ostringstream text;
            text << "case " << c << ": " << routine << ": " << built.text << " pct=" << pct
                 << " chains=" << rows << "x" << rowPulses << " " << st.text() << " mode=" << mode
                 << " shift=" << shift;
            SCOPED_TRACE(text.str());
            const Alphabet& alphabet = *signal.alphabet;
            const auto call = [&](bool reference) {
                return [&, reference](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                    return run(reference, w, alphabet, st, mode, s.wTmin, s.wTmax, pct, ch, h);
                };
            };
            if (!compare(rng, s, rows, rowPulses, {.groups = true, .resultCode = recognition},
                         call(false), call(true)))
                break;
        }
        if (failures_ == 0) {
            EXPECT_EQ(cases_, count);
        }
    }

    static constexpr int16_t kQuietAmplitude = 128;
    static constexpr int16_t kLoudAmplitude = 20000;
    static inline Alphabet quiet_{};
    static inline Alphabet loud_{};
    static inline bool built_ = false;
    SeedCells seeds_{};  ///< the streams the series are made from
    ReferenceBranchCounts branchesAtStart_{};
    int failures_ = 0;
    int cases_ = 0;
};

// ---- The local match ---------------------------------------------------------------------------

// A stretch of series samples around etalons of the alphabet: pasted etalons (whole or cut),
// zeros and noise, so that scores tie and differ.
std::vector<int16_t> drawSamples(std::mt19937& rng, const Alphabet& alphabet, size_t size, int sigma) {
    std::vector<int16_t> y(size, 0);
    for (int k = 0; k < 6; ++k) {
        const auto& e = alphabet[static_cast<size_t>(uniform(rng, 0, kAlphabetSize - 1))];
        const int at = uniform(rng, 0, static_cast<int>(size) - 1);
        const int from = chance(rng, 50) ? 0 : uniform(rng, 0, e.wSize - 1);
        const int to = chance(rng, 50) ? e.wSize - 1 : uniform(rng, from, e.wSize - 1);
        for (int c = from; c <= to && at + c < static_cast<int>(size); ++c) y[at + c] = e.lpData[c];
    }
    if (sigma > 0)
        for (auto& v : y) v = static_cast<int16_t>(v + uniform(rng, -sigma, sigma));
    return y;
}

void expectSameMatch(const LocalMatch& fast, const LocalMatch& ref, int32_t l, const char* what) {
    EXPECT_TRUE(fast.score == ref.score && fast.etalon == ref.etalon &&
                fast.cutStart == ref.cutStart && fast.cutEnd == ref.cutEnd)
        << what << " at l=" << l << ": fast (" << fast.score << ", " << fast.etalon << ", ["
        << fast.cutStart << " " << fast.cutEnd << "]), reference (" << ref.score << ", "
        << ref.etalon << ", [" << ref.cutStart << " " << ref.cutEnd << "])";
}

// Compares match and every matchOne at `positions` random positions of y.
void compareMatcher(std::mt19937& rng, const Alphabet& alphabet, const std::vector<uint16_t>& list,
                    int n, uint16_t pct, const std::vector<int16_t>& y, int positions) {
    LocalMatcher matcher;
    matcher.prepare(alphabet, list, n, pct);
    ASSERT_EQ(matcher.size(), list.size());
    for (int i = 0; i < positions; ++i) {
        const int32_t l = uniform(rng, 0, static_cast<int>(y.size()) - n);
        expectSameMatch(matcher.match(y.data(), l), referenceMatchLocally(alphabet, list, n, pct, y.data(), l),
                        l, "match");
        const size_t index = static_cast<size_t>(uniform(rng, 0, static_cast<int>(list.size()) - 1));
        const uint16_t one[] = {list[index]};
        expectSameMatch(matcher.matchOne(index, y.data(), l),
                        referenceMatchLocally(alphabet, one, n, pct, y.data(), l), l, "matchOne");
    }
}

TEST_F(FastVsReference, MatchLocallyAgreesWithReference) {
    std::mt19937 rng(20240611);
    for (int c = 0; c < 300 && !HasFailure(); ++c) {
        const std::vector<uint16_t> list = drawCandidates(rng);
        const int n = chance(rng, 70) ? kEtalonLength : uniform(rng, 1, kEtalonLength - 1);
        const uint16_t pct = chance(rng, 80) ? drawEnergy(rng) : static_cast<uint16_t>(uniform(rng, 0, 100));
        const int sigma = chance(rng, 30) ? 0 : uniform(rng, 1, 300);
        const std::vector<int16_t> y = drawSamples(rng, quiet_, 64 + static_cast<size_t>(n), sigma);
        SCOPED_TRACE("case " + std::to_string(c) + ": list=" + listText(list) + " n=" +
                     std::to_string(n) + " pct=" + std::to_string(pct) + " sigma=" + std::to_string(sigma));
        compareMatcher(rng, quiet_, list, n, pct, y, 24);
    }
}

// Etalons and series at the ends of the 16-bit range: scores, and for some etalons the partial
// energies too, leave the 32-bit range and must wrap in 32-bit two's complement.
TEST_F(FastVsReference, WrappingMatchAgreesWithReference) {
    std::mt19937 rng(77031);
    auto extreme = [&](int amplitude) -> int16_t {
        const int roll = uniform(rng, 0, 9);
        if (roll == 0) return -32768;
        if (roll == 1) return 32767;
        if (roll == 2) return -32767;
        return static_cast<int16_t>(uniform(rng, -amplitude, amplitude));
    };
    int wrappedScores = 0, wrappedEnergies = 0;
    for (int c = 0; c < 200 && !HasFailure(); ++c) {
        Alphabet loud;
        const int amplitude = chance(rng, 50) ? 32767 : uniform(rng, 3000, 16000);
        for (int e = 0; e < kAlphabetSize; ++e) {
            PulseHeader& p = loud[static_cast<size_t>(e)];
            p.wAllocatedSize = p.wSize = kEtalonLength;
            p.wNumber = static_cast<uint16_t>(e + 1);
            p.lpData = std::make_unique<int16_t[]>(kEtalonLength);
            const bool spiky = chance(rng, 30);  // mostly small, a few extreme samples
            for (int k = 0; k < kEtalonLength; ++k)
                p.lpData[k] = spiky && chance(rng, 80) ? static_cast<int16_t>(uniform(rng, -50, 50))
                                                       : extreme(amplitude);
        }
        std::vector<int16_t> y(64 + kEtalonLength);
        for (auto& v : y) v = extreme(32767);
        const std::vector<uint16_t> list = drawCandidates(rng);
        const int n = chance(rng, 70) ? kEtalonLength : uniform(rng, 1, kEtalonLength - 1);
        const uint16_t pct = chance(rng, 80) ? drawEnergy(rng) : static_cast<uint16_t>(uniform(rng, 0, 100));

        for (const uint16_t v : list) {
            int64_t energy = 0;
            for (int k = 0; k < n; ++k) energy += int64_t{loud[v - 1].lpData[k]} * loud[v - 1].lpData[k];
            if (energy > std::numeric_limits<int32_t>::max()) ++wrappedEnergies;
        }
        for (int l = 0; l + n <= static_cast<int>(y.size()); ++l) {
            int64_t exact = 0;
            const int16_t* x = loud[list[0] - 1].lpData.get();
            for (int k = 0; k < n; ++k) exact += int64_t{x[k]} * (int64_t{x[k]} - 2 * int64_t{y[l + k]});
            if (exact != static_cast<int32_t>(exact)) ++wrappedScores;
        }
        SCOPED_TRACE("case " + std::to_string(c) + ": amplitude=" + std::to_string(amplitude) +
                     " list=" + listText(list) + " n=" + std::to_string(n) + " pct=" + std::to_string(pct));
        compareMatcher(rng, loud, list, n, pct, y, 24);
    }
    EXPECT_GT(wrappedScores, 1000) << "the cases should leave the 32-bit range often";
    EXPECT_GT(wrappedEnergies, 100) << "some etalons' energies should leave the 32-bit range";
}

// ---- Detection ---------------------------------------------------------------------------------

TEST_F(FastVsReference, DetectPulsesUnfixedAgreesWithReference) {
    pulseCases("detectPulsesUnfixed", 1001, 400, false, false, false,
               [](bool reference, auto&&... a) -> int64_t {
                   return reference ? referenceDetectPulsesUnfixed(a...) : detectPulsesUnfixed(a...);
               });
    const ReferenceBranchCounts b = branches();
    expectReached({{"totalWrapped", b.totalWrapped}, {"chainRejected", b.chainRejected}});
}

TEST_F(FastVsReference, DetectPulsesFixedAgreesWithReference) {
    pulseCases("detectPulsesFixed", 1002, 400, true, false, false,
               [](bool reference, auto&&... a) -> int64_t {
                   return reference ? referenceDetectPulsesFixed(a...) : detectPulsesFixed(a...);
               });
    const ReferenceBranchCounts b = branches();
    expectReached({{"totalWrapped", b.totalWrapped}, {"penaltyUsed", b.penaltyUsed},
                   {"backTrackWithoutBound", b.backTrackWithoutBound},
                   {"endWithoutBound", b.endWithoutBound}});
}

// ---- Recognition -------------------------------------------------------------------------------

TEST_F(FastVsReference, RecognizePulsesUnfixedAgreesWithReference) {
    pulseCases("recognizePulsesUnfixed", 1003, 400, false, true, true,
               [](bool reference, auto&&... a) -> int64_t {
                   return reference ? referenceRecognizePulsesUnfixed(a...) : recognizePulsesUnfixed(a...);
               });
    const ReferenceBranchCounts b = branches();
    expectReached({{"totalWrapped", b.totalWrapped}, {"noRecognition", b.noRecognition}});
}

TEST_F(FastVsReference, RecognizePulsesFixedAgreesWithReference) {
    pulseCases("recognizePulsesFixed", 1004, 400, true, true, false,
               [](bool reference, auto&&... a) -> int64_t {
                   return reference ? referenceRecognizePulsesFixed(a...) : recognizePulsesFixed(a...);
               });
    const ReferenceBranchCounts b = branches();
    expectReached({{"totalWrapped", b.totalWrapped},
                   {"backTrackWithoutBound", b.backTrackWithoutBound},
                   {"endWithoutBound", b.endWithoutBound}, {"noRecognition", b.noRecognition}});
}

// ---- Tuple detection ---------------------------------------------------------------------------

TEST_F(FastVsReference, DetectTuplesUnfixedAgreesWithReference) {
    tupleCases("detectTuplesUnfixed", 1005, 400, false, false,
               [](bool reference, MessageSink& w, const Alphabet& alphabet, const StoredTuples& st,
                  uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* ch,
                  SeriesHeader& h) -> int64_t {
                   return reference ? referenceDetectTuplesUnfixed(w, alphabet, st.views[0], mode, Tmin, Tmax, pct, ch, h, nullptr)
                                    : detectTuplesUnfixed(w, alphabet, st.views[0], mode, Tmin, Tmax, pct, ch, h, nullptr);
               });
    const ReferenceBranchCounts b = branches();
    expectReached({{"totalWrapped", b.totalWrapped}, {"tupleLongerThanKmax", b.tupleLongerThanKmax},
                   {"chainRejected", b.chainRejected}});
}

TEST_F(FastVsReference, DetectTuplesFixedAgreesWithReference) {
    tupleCases("detectTuplesFixed", 1006, 400, true, false,
               [](bool reference, MessageSink& w, const Alphabet& alphabet, const StoredTuples& st,
                  uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* ch,
                  SeriesHeader& h) -> int64_t {
                   return reference ? referenceDetectTuplesFixed(w, alphabet, st.views[0], mode, Tmin, Tmax, pct, ch, h)
                                    : detectTuplesFixed(w, alphabet, st.views[0], mode, Tmin, Tmax, pct, ch, h);
               });
    const ReferenceBranchCounts b = branches();
    expectReached({{"totalWrapped", b.totalWrapped}, {"penaltyUsed", b.penaltyUsed},
                   {"backTrackWithoutBound", b.backTrackWithoutBound},
                   {"endWithoutBound", b.endWithoutBound}});
}

// ---- Tuple recognition -------------------------------------------------------------------------

TEST_F(FastVsReference, RecognizeTuplesUnfixedAgreesWithReference) {
    tupleCases("recognizeTuplesUnfixed", 1007, 400, false, true,
               [](bool reference, MessageSink& w, const Alphabet& alphabet, const StoredTuples& st,
                  uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* ch,
                  SeriesHeader& h) -> int64_t {
                   return reference ? referenceRecognizeTuplesUnfixed(w, alphabet, st.views, mode, Tmin, Tmax, pct, ch, h, nullptr)
                                    : recognizeTuplesUnfixed(w, alphabet, st.views, mode, Tmin, Tmax, pct, ch, h, nullptr);
               });
    const ReferenceBranchCounts b = branches();
    expectReached({{"totalWrapped", b.totalWrapped}, {"tupleLongerThanKmax", b.tupleLongerThanKmax},
                   {"noRecognition", b.noRecognition}});
}

TEST_F(FastVsReference, RecognizeTuplesFixedAgreesWithReference) {
    tupleCases("recognizeTuplesFixed", 1008, 400, true, true,
               [](bool reference, MessageSink& w, const Alphabet& alphabet, const StoredTuples& st,
                  uint16_t mode, uint16_t Tmin, uint16_t Tmax, uint16_t pct, ChainsHeader* ch,
                  SeriesHeader& h) -> int64_t {
                   return reference ? referenceRecognizeTuplesFixed(w, alphabet, st.views, mode, Tmin, Tmax, pct, ch, h)
                                    : recognizeTuplesFixed(w, alphabet, st.views, mode, Tmin, Tmax, pct, ch, h);
               });
    const ReferenceBranchCounts b = branches();
    expectReached({{"totalWrapped", b.totalWrapped}, {"penaltyUsed", b.penaltyUsed},
                   {"backTrackWithoutBound", b.backTrackWithoutBound},
                   {"endWithoutBound", b.endWithoutBound}, {"noRecognition", b.noRecognition}});
}

}  // namespace
