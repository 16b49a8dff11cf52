// Randomized comparison of the production local match and processing routines with the plain
// reference versions of reference_processing.h: on every random case both must leave identical
// results (return value, found fields of the series, groups, result code, the whole chains
// header).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
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
// pulse count. Most series are short; a smaller share is long. `sparse` gives few pulses.
struct Geometry {
    uint32_t N = 0;
    uint16_t L = kEtalonLength, Tmin = 0, Tmax = 0;
    PulseBounds bounds{0, 0};
};

Geometry drawGeometry(std::mt19937& rng, bool sparse) {
    Geometry g;
    for (;;) {
        g.N = chance(rng, 85) ? static_cast<uint32_t>(uniform(rng, 200, 400))
                              : static_cast<uint32_t>(uniform(rng, 401, 1200));
        g.L = chance(rng, 75) ? kEtalonLength : static_cast<uint16_t>(uniform(rng, 6, kEtalonLength - 1));
        const int N = static_cast<int>(g.N);
        if (sparse) {
            g.Tmax = static_cast<uint16_t>(uniform(rng, std::max(20, N / 3), N));
            g.Tmin = static_cast<uint16_t>(uniform(rng, std::max(1, g.Tmax / 2), g.Tmax));
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
        if (g.bounds.wMinPulses <= g.bounds.wMaxPulses) return g;
    }
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

std::vector<int32_t> drawTuple(std::mt19937& rng) {
    std::vector<int32_t> tuple(static_cast<size_t>(uniform(rng, 1, 6)));
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
ChainsHeader* makeChains(uint16_t rows, uint16_t rowPulses, uint32_t seed) {
    RecordingMessageSink sink;
    ChainsHeader* h = getChainsHeader(sink, rows, rowPulses, nullptr);
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

struct ChainsDeleter {
    void operator()(ChainsHeader* h) const { releaseChainsHeader(h); }
};
using ChainsPtr = std::unique_ptr<ChainsHeader, ChainsDeleter>;

struct SeriesDeleter {
    void operator()(SeriesHeader* h) const { freeSeriesHeader(h); }
};
using SeriesPtr = std::unique_ptr<SeriesHeader, SeriesDeleter>;

// ---- The fixture ---------------------------------------------------------------------------------

class FastVsReference : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const SeedCells saved = seedCells;
        seedCells = SeedCells{};
        RecordingMessageSink sink;
        built_ = buildAlphabet(sink, 128, kAlphabetSize, kEtalonLength, alphabet_) == 1;
        seedCells = saved;
    }
    static void TearDownTestSuite() { releaseAlphabet(kAlphabetSize, alphabet_); }

    void SetUp() override {
        ASSERT_TRUE(built_);
        savedSeeds_ = seedCells;
    }
    void TearDown() override {
        seedCells = savedSeeds_;
        const auto& b = referenceBranchCounts;
        std::printf("branches: backTrackWithoutBound %ld endWithoutBound %ld chainRejected %ld endNeverWalked %ld noRecognition %ld tupleLongerThanKmax %ld penaltyUsed %ld\n",
                    b.backTrackWithoutBound - start_.backTrackWithoutBound, b.endWithoutBound - start_.endWithoutBound,
                    b.chainRejected - start_.chainRejected, b.endNeverWalked - start_.endNeverWalked,
                    b.noRecognition - start_.noRecognition, b.tupleLongerThanKmax - start_.tupleLongerThanKmax,
                    b.penaltyUsed - start_.penaltyUsed);
    }
    ReferenceBranchCounts start_ = referenceBranchCounts;

    // One random series. `sequence` gives the etalon of every pulse; K = 0 draws the count with
    // getRandomCutOffSeries, otherwise getCutOffSeries builds K pulses.
    struct Built {
        SeriesPtr series;
        std::string text;
    };
    Built buildSeries(std::mt19937& rng, const Geometry& g, int K,
                      const std::function<uint16_t(int)>& etalonOfPulse) {
        seedCells.pulseCountSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
        seedCells.positionSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
        seedCells.cutStartSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
        seedCells.cutEndSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
        std::vector<uint16_t> sequence(g.bounds.wMaxPulses);
        for (size_t j = 0; j < sequence.size(); ++j) sequence[j] = etalonOfPulse(static_cast<int>(j));
        const uint16_t making = drawEnergy(rng);
        const int16_t sigma = chance(rng, 30) ? int16_t{0} : static_cast<int16_t>(uniform(rng, 1, 100));
        int16_t noiseCell = static_cast<int16_t>(uniform(rng, 0, 32767));

        std::ostringstream text;
        text << "N=" << g.N << " L=" << g.L << " Tmin=" << g.Tmin << " Tmax=" << g.Tmax
             << " Kmin=" << g.bounds.wMinPulses << " Kmax=" << g.bounds.wMaxPulses
             << " makingEnergy=" << making << " sigma=" << sigma << " seeds(count,pos,cs,ce,noise)="
             << seedCells.pulseCountSeed << "," << seedCells.positionSeed << ","
             << seedCells.cutStartSeed << "," << seedCells.cutEndSeed << "," << noiseCell;

        RecordingMessageSink sink;
        SeriesHeader* h =
            K == 0 ? getRandomCutOffSeries(sink, kAlphabetSize, alphabet_, g.L, g.Tmin, g.Tmax, g.N,
                                           sequence, 128, making, nullptr)
                   : getCutOffSeries(sink, kAlphabetSize, alphabet_, g.L, g.Tmin, g.Tmax, g.N,
                                     static_cast<uint16_t>(K), sequence, 128, making, nullptr);
        Built b{SeriesPtr(h), {}};
        if (h && sink.messages.empty()) {
            addNoise(sink, h, sigma, noiseCell);
            text << " K=" << h->wImpulseQuantity;
        }
        if (!sink.messages.empty()) b.series.reset();
        b.text = text.str();
        return b;
    }

    // Runs `fast` and `reference` on the same series from the same starting state, each with its
    // own copy of the chains header (none when rows = 0), and records the first difference.
    // Returns false once too many cases disagreed.
    using Routine = std::function<int64_t(SeriesHeader&, ChainsHeader*, MessageSink&)>;
    bool compare(std::mt19937& rng, SeriesHeader& series, uint16_t rows, uint16_t rowPulses,
                 FoundCompare what, const Routine& fast, const Routine& reference) {
        scribbleFound(rng, series);
        const FoundState start = foundOf(series);
        const std::vector<int16_t> noisy(series.lpNoisyData, series.lpNoisyData + series.dwSeriesSize);
        const uint32_t chainsSeed = static_cast<uint32_t>(rng());

        ChainsPtr fastChains(rows ? makeChains(rows, rowPulses, chainsSeed) : nullptr);
        ChainsPtr refChains(rows ? makeChains(rows, rowPulses, chainsSeed) : nullptr);
        if (rows) {
            EXPECT_TRUE(fastChains && refChains);
            if (!fastChains || !refChains) return ++failures_ < kMaxReportedFailures;
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
            difference = "the production routine reported: " + fastSink.messages.front().text;
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
        if (rows) dump = "\nfast chains:\n" + chainsText(*fastChains) + "reference chains:\n" + chainsText(*refChains);
        ADD_FAILURE() << difference << dump;
        return ++failures_ < kMaxReportedFailures;
    }

    static inline Alphabet alphabet_{};
    static inline bool built_ = false;
    SeedCells savedSeeds_{};
    int failures_ = 0;
    int cases_ = 0;
};

std::string caseText(const char* routine, const std::string& seriesText, uint16_t pct,
                     uint16_t rows, uint16_t rowPulses) {
    std::ostringstream out;
    out << routine << ": " << seriesText << " pct=" << pct << " chains=" << rows << "x" << rowPulses;
    return out.str();
}

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
        const std::vector<int16_t> y = drawSamples(rng, alphabet_, 64 + static_cast<size_t>(n), sigma);
        SCOPED_TRACE("case " + std::to_string(c) + ": list=" + listText(list) + " n=" +
                     std::to_string(n) + " pct=" + std::to_string(pct) + " sigma=" + std::to_string(sigma));
        compareMatcher(rng, alphabet_, list, n, pct, y, 12);
    }
}

// Etalons and series at the ends of the 16-bit range: scores, and for some etalons the partial
// energies too, leave the 32-bit range and must wrap exactly as described.
TEST_F(FastVsReference, WrappingMatchAgreesWithReference) {
    std::mt19937 rng(77031);
    auto extreme = [&](int amplitude) -> int16_t {
        const int roll = uniform(rng, 0, 9);
        if (roll == 0) return -32768;
        if (roll == 1) return 32767;
        if (roll == 2) return -32767;
        return static_cast<int16_t>(uniform(rng, -amplitude, amplitude));
    };
    int wrappedScores = 0;
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
}

// ---- Detection ---------------------------------------------------------------------------------

TEST_F(FastVsReference, DetectPulsesUnfixedAgreesWithReference) {
    std::mt19937 rng(1001);
    for (int c = 0; c < 220; ++c) {
        const Geometry g = drawGeometry(rng, chance(rng, 10));
        const std::vector<uint16_t> list = drawCandidates(rng);
        auto built = buildSeries(rng, g, 0, [&](int) {
            return chance(rng, 70) ? list[static_cast<size_t>(uniform(rng, 0, static_cast<int>(list.size()) - 1))]
                                   : static_cast<uint16_t>(uniform(rng, 1, kAlphabetSize));
        });
        ASSERT_TRUE(built.series) << built.text;
        SeriesHeader& s = *built.series;
        const uint16_t pct = drawEnergy(rng);
        const uint16_t rows = chance(rng, 10) ? 0 : static_cast<uint16_t>(uniform(rng, 1, 10));
        const uint16_t rowPulses = static_cast<uint16_t>(s.wMaxPulses + uniform(rng, 0, 3));
        SCOPED_TRACE("case " + std::to_string(c) + ": " +
                     caseText("detectPulsesUnfixed", built.text, pct, rows, rowPulses) +
                     " list=" + listText(list));
        if (!compare(rng, s, rows, rowPulses, {},
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return detectPulsesUnfixed(w, alphabet_, list, s.wTmin, s.wTmax, pct, ch, h);
                     },
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return referenceDetectPulsesUnfixed(w, alphabet_, list, s.wTmin, s.wTmax, pct, ch, h);
                     }))
            break;
    }
    if (failures_ == 0) {
        EXPECT_GE(cases_, 200);
    }
}

TEST_F(FastVsReference, DetectPulsesFixedAgreesWithReference) {
    std::mt19937 rng(1002);
    for (int c = 0; c < 220; ++c) {
        const Geometry g = drawGeometry(rng, chance(rng, 10));
        const int K = uniform(rng, g.bounds.wMinPulses, g.bounds.wMaxPulses);
        const std::vector<uint16_t> list = drawCandidates(rng);
        auto built = buildSeries(rng, g, K, [&](int) {
            return chance(rng, 70) ? list[static_cast<size_t>(uniform(rng, 0, static_cast<int>(list.size()) - 1))]
                                   : static_cast<uint16_t>(uniform(rng, 1, kAlphabetSize));
        });
        ASSERT_TRUE(built.series) << built.text;
        SeriesHeader& s = *built.series;
        const uint16_t pct = drawEnergy(rng);
        const uint16_t rows = chance(rng, 10) ? 0 : static_cast<uint16_t>(uniform(rng, 1, 10));
        const uint16_t rowPulses = static_cast<uint16_t>(K + uniform(rng, 0, 3));
        SCOPED_TRACE("case " + std::to_string(c) + ": " +
                     caseText("detectPulsesFixed", built.text, pct, rows, rowPulses) +
                     " list=" + listText(list));
        if (!compare(rng, s, rows, rowPulses, {},
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return detectPulsesFixed(w, alphabet_, list, s.wTmin, s.wTmax, pct, ch, h);
                     },
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return referenceDetectPulsesFixed(w, alphabet_, list, s.wTmin, s.wTmax, pct, ch, h);
                     }))
            break;
    }
    if (failures_ == 0) {
        EXPECT_GE(cases_, 200);
    }
}

// ---- Recognition -------------------------------------------------------------------------------

// Every pulse the same etalon, usually one of the candidates.
uint16_t drawTruth(std::mt19937& rng, const std::vector<uint16_t>& list) {
    return chance(rng, 70) ? list[static_cast<size_t>(uniform(rng, 0, static_cast<int>(list.size()) - 1))]
                           : static_cast<uint16_t>(uniform(rng, 1, kAlphabetSize));
}

TEST_F(FastVsReference, RecognizePulsesUnfixedAgreesWithReference) {
    std::mt19937 rng(1003);
    for (int c = 0; c < 220; ++c) {
        const Geometry g = drawGeometry(rng, chance(rng, 10));
        const std::vector<uint16_t> list = drawCandidates(rng);
        const uint16_t truth = drawTruth(rng, list);
        auto built = buildSeries(rng, g, 0, [&](int) { return truth; });
        ASSERT_TRUE(built.series) << built.text;
        SeriesHeader& s = *built.series;
        if (c == 41) continue;
        const uint16_t pct = drawEnergy(rng);
        const uint16_t rows = static_cast<uint16_t>(uniform(rng, 1, 10));  // the routine needs a header
        const uint16_t rowPulses = static_cast<uint16_t>(s.wMaxPulses + uniform(rng, 0, 3));
        SCOPED_TRACE("case " + std::to_string(c) + ": " +
                     caseText("recognizePulsesUnfixed", built.text, pct, rows, rowPulses) +
                     " list=" + listText(list) + " truth=" + std::to_string(truth));
        if (!compare(rng, s, rows, rowPulses, {},
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return recognizePulsesUnfixed(w, alphabet_, list, s.wTmin, s.wTmax, pct, ch, h);
                     },
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return referenceRecognizePulsesUnfixed(w, alphabet_, list, s.wTmin, s.wTmax, pct, ch, h);
                     }))
            break;
    }
    if (failures_ == 0) {
        EXPECT_GE(cases_, 200);
    }
}

TEST_F(FastVsReference, RecognizePulsesFixedAgreesWithReference) {
    std::mt19937 rng(1004);
    for (int c = 0; c < 220; ++c) {
        const Geometry g = drawGeometry(rng, chance(rng, 10));
        const int K = uniform(rng, g.bounds.wMinPulses, g.bounds.wMaxPulses);
        const std::vector<uint16_t> list = drawCandidates(rng);
        const uint16_t truth = drawTruth(rng, list);
        auto built = buildSeries(rng, g, K, [&](int) { return truth; });
        ASSERT_TRUE(built.series) << built.text;
        SeriesHeader& s = *built.series;
        const uint16_t pct = drawEnergy(rng);
        const uint16_t rows = chance(rng, 10) ? 0 : static_cast<uint16_t>(uniform(rng, 1, 10));
        const uint16_t rowPulses = static_cast<uint16_t>(K + uniform(rng, 0, 3));
        SCOPED_TRACE("case " + std::to_string(c) + ": " +
                     caseText("recognizePulsesFixed", built.text, pct, rows, rowPulses) +
                     " list=" + listText(list) + " truth=" + std::to_string(truth));
        if (!compare(rng, s, rows, rowPulses, {},
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return recognizePulsesFixed(w, alphabet_, list, s.wTmin, s.wTmax, pct, ch, h);
                     },
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return referenceRecognizePulsesFixed(w, alphabet_, list, s.wTmin, s.wTmax, pct, ch, h);
                     }))
            break;
    }
    if (failures_ == 0) {
        EXPECT_GE(cases_, 200);
    }
}

// ---- Tuples --------------------------------------------------------------------------------------

// The tuple repeated cyclically from member `shift` on.
std::function<uint16_t(int)> cyclic(const std::vector<int32_t>& tuple, int shift) {
    return [tuple, shift](int j) {
        return static_cast<uint16_t>(tuple[static_cast<size_t>(j + shift) % tuple.size()]);
    };
}

uint16_t drawMode(std::mt19937& rng) { return chance(rng, 50) ? 1 : 2; }

TEST_F(FastVsReference, DetectTuplesUnfixedAgreesWithReference) {
    std::mt19937 rng(1005);
    for (int c = 0; c < 220; ++c) {
        const Geometry g = drawGeometry(rng, chance(rng, 20));
        const std::vector<int32_t> tuple = drawTuple(rng);
        const uint16_t mode = drawMode(rng);
        const int shift = mode == 1 ? 0 : uniform(rng, 0, static_cast<int>(tuple.size()) - 1);
        auto built = buildSeries(rng, g, 0, cyclic(tuple, shift));
        ASSERT_TRUE(built.series) << built.text;
        SeriesHeader& s = *built.series;
        const uint16_t pct = drawEnergy(rng);
        const uint16_t rows = chance(rng, 10) ? 0 : static_cast<uint16_t>(uniform(rng, 1, 10));
        const uint16_t rowPulses = static_cast<uint16_t>(s.wMaxPulses + uniform(rng, 0, 3));
        SCOPED_TRACE("case " + std::to_string(c) + ": " +
                     caseText("detectTuplesUnfixed", built.text, pct, rows, rowPulses) +
                     " tuple=" + listText(tuple) + " mode=" + std::to_string(mode) +
                     " shift=" + std::to_string(shift));
        if (!compare(rng, s, rows, rowPulses, {.groups = true},
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return detectTuplesUnfixed(w, alphabet_, tuple, mode, s.wTmin, s.wTmax, pct, ch, h, nullptr);
                     },
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return referenceDetectTuplesUnfixed(w, alphabet_, tuple, mode, s.wTmin, s.wTmax, pct, ch, h, nullptr);
                     }))
            break;
    }
    if (failures_ == 0) {
        EXPECT_GE(cases_, 200);
    }
}

TEST_F(FastVsReference, DetectTuplesFixedAgreesWithReference) {
    std::mt19937 rng(1006);
    for (int c = 0; c < 220; ++c) {
        const Geometry g = drawGeometry(rng, chance(rng, 15));
        const int K = uniform(rng, g.bounds.wMinPulses, g.bounds.wMaxPulses);
        const std::vector<int32_t> tuple = drawTuple(rng);
        const uint16_t mode = drawMode(rng);
        const int shift = mode == 1 ? 0 : uniform(rng, 0, static_cast<int>(tuple.size()) - 1);
        auto built = buildSeries(rng, g, K, cyclic(tuple, shift));
        ASSERT_TRUE(built.series) << built.text;
        SeriesHeader& s = *built.series;
        const uint16_t pct = drawEnergy(rng);
        const uint16_t rows = chance(rng, 10) ? 0 : static_cast<uint16_t>(uniform(rng, 1, 10));
        const uint16_t rowPulses = static_cast<uint16_t>(K + uniform(rng, 0, 3));
        SCOPED_TRACE("case " + std::to_string(c) + ": " +
                     caseText("detectTuplesFixed", built.text, pct, rows, rowPulses) +
                     " tuple=" + listText(tuple) + " mode=" + std::to_string(mode) +
                     " shift=" + std::to_string(shift));
        if (!compare(rng, s, rows, rowPulses, {.groups = true},
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return detectTuplesFixed(w, alphabet_, tuple, mode, s.wTmin, s.wTmax, pct, ch, h);
                     },
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return referenceDetectTuplesFixed(w, alphabet_, tuple, mode, s.wTmin, s.wTmax, pct, ch, h);
                     }))
            break;
    }
    if (failures_ == 0) {
        EXPECT_GE(cases_, 200);
    }
}

// Several stored tuples; the series is built from one of them (or from none of them).
struct StoredTuples {
    std::vector<std::vector<int32_t>> tuples;
    std::vector<std::span<const int32_t>> views;
    int truth = -1;  // 0-based, -1 when the series follows no stored tuple
    std::string text() const {
        std::string t = "tuples=";
        for (const auto& v : tuples) t += listText(v);
        return t + " truth=" + std::to_string(truth + 1);
    }
};

StoredTuples drawStoredTuples(std::mt19937& rng) {
    StoredTuples st;
    const int T = uniform(rng, 1, 5);
    for (int t = 0; t < T; ++t) st.tuples.push_back(drawTuple(rng));
    if (T > 1 && chance(rng, 20)) st.tuples[1] = st.tuples[0];  // equal distances: the first wins
    for (const auto& v : st.tuples) st.views.emplace_back(v);
    st.truth = chance(rng, 85) ? uniform(rng, 0, T - 1) : -1;
    return st;
}

TEST_F(FastVsReference, RecognizeTuplesUnfixedAgreesWithReference) {
    std::mt19937 rng(1007);
    for (int c = 0; c < 220; ++c) {
        const Geometry g = drawGeometry(rng, chance(rng, 15));
        const StoredTuples st = drawStoredTuples(rng);
        const uint16_t mode = drawMode(rng);
        const std::vector<int32_t> truth = st.truth >= 0 ? st.tuples[static_cast<size_t>(st.truth)] : drawTuple(rng);
        const int shift = mode == 1 ? 0 : uniform(rng, 0, static_cast<int>(truth.size()) - 1);
        auto built = buildSeries(rng, g, 0, cyclic(truth, shift));
        ASSERT_TRUE(built.series) << built.text;
        SeriesHeader& s = *built.series;
        const uint16_t pct = drawEnergy(rng);
        const uint16_t rows = chance(rng, 10) ? 0 : static_cast<uint16_t>(uniform(rng, 1, 10));
        const uint16_t rowPulses = static_cast<uint16_t>(s.wMaxPulses + uniform(rng, 0, 3));
        SCOPED_TRACE("case " + std::to_string(c) + ": " +
                     caseText("recognizeTuplesUnfixed", built.text, pct, rows, rowPulses) + " " +
                     st.text() + " mode=" + std::to_string(mode) + " shift=" + std::to_string(shift));
        if (!compare(rng, s, rows, rowPulses, {.groups = true, .resultCode = true},
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return recognizeTuplesUnfixed(w, alphabet_, st.views, mode, s.wTmin, s.wTmax, pct, ch, h, nullptr);
                     },
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return referenceRecognizeTuplesUnfixed(w, alphabet_, st.views, mode, s.wTmin, s.wTmax, pct, ch, h, nullptr);
                     }))
            break;
    }
    if (failures_ == 0) {
        EXPECT_GE(cases_, 200);
    }
}

TEST_F(FastVsReference, RecognizeTuplesFixedAgreesWithReference) {
    std::mt19937 rng(1008);
    for (int c = 0; c < 220; ++c) {
        const Geometry g = drawGeometry(rng, chance(rng, 15));
        const int K = uniform(rng, g.bounds.wMinPulses, g.bounds.wMaxPulses);
        const StoredTuples st = drawStoredTuples(rng);
        const uint16_t mode = drawMode(rng);
        const std::vector<int32_t> truth = st.truth >= 0 ? st.tuples[static_cast<size_t>(st.truth)] : drawTuple(rng);
        const int shift = mode == 1 ? 0 : uniform(rng, 0, static_cast<int>(truth.size()) - 1);
        auto built = buildSeries(rng, g, K, cyclic(truth, shift));
        ASSERT_TRUE(built.series) << built.text;
        SeriesHeader& s = *built.series;
        const uint16_t pct = drawEnergy(rng);
        const uint16_t rows = chance(rng, 10) ? 0 : static_cast<uint16_t>(uniform(rng, 1, 10));
        const uint16_t rowPulses = static_cast<uint16_t>(K + uniform(rng, 0, 3));
        SCOPED_TRACE("case " + std::to_string(c) + ": " +
                     caseText("recognizeTuplesFixed", built.text, pct, rows, rowPulses) + " " +
                     st.text() + " mode=" + std::to_string(mode) + " shift=" + std::to_string(shift));
        if (!compare(rng, s, rows, rowPulses, {.groups = true, .resultCode = true},
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return recognizeTuplesFixed(w, alphabet_, st.views, mode, s.wTmin, s.wTmax, pct, ch, h);
                     },
                     [&](SeriesHeader& h, ChainsHeader* ch, MessageSink& w) -> int64_t {
                         return referenceRecognizeTuplesFixed(w, alphabet_, st.views, mode, s.wTmin, s.wTmax, pct, ch, h);
                     }))
            break;
    }
    if (failures_ == 0) {
        EXPECT_GE(cases_, 200);
    }
}

}  // namespace
