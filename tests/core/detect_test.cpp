// The detection use case on recordings: the programmes on 64-bit positions and sums against the
// straightforward reference routines on many random series, the position sets of long signals
// against the interval-set ones, signals beyond 16-bit positions, threads, progress, cancel and
// the refusals.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/detect.h"
#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/random.h"
#include "model/series.h"
#include "processing/chains.h"
#include "processing/programmes.h"
#include "processing/routine_common.h"
#include "tests/processing/reference_processing.h"

namespace {

constexpr uint16_t kAlphabetSize = 20;
constexpr uint16_t kEtalonLength = 20;

int uniform(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
bool chance(std::mt19937& rng, int percent) { return uniform(rng, 0, 99) < percent; }

const std::atomic<bool> notCancelled{false};

DetectResult run(const DetectRequest& request) { return detectInRecording(request, {}, notCancelled); }

std::string pulsesText(const std::vector<DetectedPulse>& pulses) {
    std::ostringstream out;
    for (const DetectedPulse& p : pulses)
        out << " " << p.position << "(" << p.shape << ")[" << p.cutStart << " " << p.cutEnd << "]";
    return out.str();
}

// ---- Position sets --------------------------------------------------------------------------

std::vector<int64_t> positionsOf(const PositionWalks::Intervals& intervals) {
    std::vector<int64_t> out;
    forEachPosition(intervals, [&](int64_t p) { out.push_back(p); });
    return out;
}

TEST(PositionWalks, EqualTheIntervalSetsOfTheWorkbench) {
    std::mt19937 rng(1402);
    for (int round = 0; round < 3000; ++round) {
        const int N = uniform(rng, 20, chance(rng, 80) ? 400 : 3000);
        const int n = uniform(rng, 1, 20);
        const int Tmax = uniform(rng, n, std::max(n, std::min(N, 300)));
        const int Tmin = uniform(rng, 1, Tmax);
        // The series' own bounds mostly, sometimes narrower ones.
        int Kmin = std::max(1, (N + n - 1) / Tmax), Kmax = (N + Tmin - n) / Tmin;
        if (chance(rng, 20) && Kmax > Kmin) Kmin = uniform(rng, Kmin, Kmax);
        if (chance(rng, 20) && Kmax > Kmin) Kmax = uniform(rng, Kmin, Kmax);
        if (Kmax > 2000) continue;
        processing_detail::SeriesView view{N, n, Kmin, Kmax, 0, 0};
        processing_detail::Walks expected;
        if (!processing_detail::makeWalks(view, static_cast<uint16_t>(Tmin), static_cast<uint16_t>(Tmax), expected))
            continue;
        const PositionWalks walks = positionWalks(N, n, Tmin, Tmax, Kmin, Kmax);
        const std::string what = "N=" + std::to_string(N) + " n=" + std::to_string(n) + " Tmin=" + std::to_string(Tmin) +
                                 " Tmax=" + std::to_string(Tmax) + " K=" + std::to_string(Kmin) + ".." + std::to_string(Kmax);
        auto widen = [](const std::vector<int32_t>& v) { return std::vector<int64_t>(v.begin(), v.end()); };
        ASSERT_EQ(positionsOf(walks.any), widen(expected.any)) << what;
        ASSERT_EQ(positionsOf(walks.firstOnly), widen(expected.firstOnly)) << what;
        ASSERT_EQ(positionsOf(walks.both), widen(expected.both)) << what;
        ASSERT_EQ(positionsOf(walks.laterOnly), widen(expected.laterOnly)) << what;
        ASSERT_EQ(positionsOf(walks.last), widen(expected.last)) << what;
    }
}

// ---- The programmes against the reference routines -------------------------------------------

class DetectVsReference : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RecordingMessageSink sink;
        int16_t alphabetCell = SeedCells{}.alphabetSeed;
        built_ = buildAlphabet(sink, 128, kAlphabetSize, kEtalonLength, alphabet_, alphabetCell) == 1;
    }
    static void TearDownTestSuite() { releaseAlphabet(kAlphabetSize, alphabet_); }
    void SetUp() override { ASSERT_TRUE(built_); }

    enum class Routine { detect, joint, recognize };

    // Random series of the workbench (known or unknown count, whole or cut pulses, noise, now and
    // then flat), each processed by the reference routine of the task and by detectInRecording
    // with the alphabet as shapes; the pulses found must be the same.
    void compareMany(Routine routine, bool knownCount, int cases) {
        std::mt19937 rng(static_cast<uint32_t>(1400 + 10 * static_cast<int>(routine) + knownCount));
        int compared = 0, withPulses = 0;
        for (int round = 0; round < cases; ++round) {
            const uint32_t N = static_cast<uint32_t>(uniform(rng, 150, chance(rng, 85) ? 400 : 900));
            const uint16_t L = chance(rng, 75) ? kEtalonLength : static_cast<uint16_t>(uniform(rng, 6, kEtalonLength - 1));
            const uint16_t Tmax = chance(rng, 8) ? static_cast<uint16_t>(N)
                                  : static_cast<uint16_t>(uniform(rng, std::max<int>(L, 20), std::min<int>(N, 200)));
            const uint16_t Tmin = static_cast<uint16_t>(uniform(rng, std::max(1, Tmax / 4), Tmax));
            const PulseBounds bounds = seriesPulseBounds(L, Tmin, Tmax, N);
            if (bounds.wMinPulses > bounds.wMaxPulses) continue;

            std::vector<uint16_t> candidates;
            // Up to twelve candidates in recognition: more than one lane group of the wide programme.
            const int count = routine == Routine::detect ? 1 : uniform(rng, 1, routine == Routine::recognize ? 12 : 6);
            for (int i = 0; i < count; ++i) candidates.push_back(static_cast<uint16_t>(uniform(rng, 1, kAlphabetSize)));
            std::vector<uint16_t> sequence(bounds.wMaxPulses);
            for (auto& v : sequence) v = candidates[static_cast<size_t>(uniform(rng, 0, count - 1))];
            if (routine == Routine::recognize) std::fill(sequence.begin(), sequence.end(), sequence[0]);
            static constexpr uint16_t energies[] = {0, 50, 75, 100};
            const uint16_t making = energies[uniform(rng, 0, 3)], pct = energies[uniform(rng, 0, 3)];
            seeds_.pulseCountSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
            seeds_.positionSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
            seeds_.cutStartSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
            seeds_.cutEndSeed = static_cast<int16_t>(uniform(rng, 0, 32767));
            RecordingMessageSink sink;
            std::unique_ptr<SeriesHeader> series =
                knownCount ? getCutOffSeries(sink, kAlphabetSize, alphabet_, L, Tmin, Tmax, N,
                                             static_cast<uint16_t>(uniform(rng, bounds.wMinPulses, bounds.wMaxPulses)),
                                             sequence, 128, making, nullptr, seeds_)
                           : getRandomCutOffSeries(sink, kAlphabetSize, alphabet_, L, Tmin, Tmax, N, sequence, 128,
                                                   making, nullptr, seeds_);
            SeriesHeader* h = series.get();
            if (!h || !sink.messages.empty()) continue;
            int16_t noiseCell = static_cast<int16_t>(uniform(rng, 0, 32767));
            addNoise(sink, h, static_cast<int16_t>(chance(rng, 25) ? 0 : uniform(rng, 1, 100)), noiseCell);
            if (chance(rng, 6))
                for (int32_t i = 0; i < h->dwSeriesSize; ++i) h->lpNoisyData[i] = static_cast<int16_t>(i % 2 == 0 ? 1 : 0);

            const std::unique_ptr<ChainsHeader> owned = getChainsHeader(sink, 25, h->wAllocatedPulses, nullptr);
            ChainsHeader* chains = owned.get();
            const ReferenceBranchCounts before = referenceBranchCounts;
            int64_t answer = 0;
            if (routine == Routine::recognize)
                answer = knownCount ? referenceRecognizePulsesFixed(sink, alphabet_, candidates, Tmin, Tmax, pct, chains, *h)
                                    : referenceRecognizePulsesUnfixed(sink, alphabet_, candidates, Tmin, Tmax, pct, chains, *h);
            else
                answer = knownCount ? referenceDetectPulsesFixed(sink, alphabet_, candidates, Tmin, Tmax, pct, chains, *h)
                                    : referenceDetectPulsesUnfixed(sink, alphabet_, candidates, Tmin, Tmax, pct, chains, *h);
            const ReferenceBranchCounts& after = referenceBranchCounts;
            // The workbench's bounds are 32-bit numbers of its own (9999999 and the like); where a
            // case depends on them, the wide programme's bounds legitimately differ.
            if (after.chainRejected != before.chainRejected || after.penaltyUsed != before.penaltyUsed ||
                after.noRecognition != before.noRecognition || after.totalWrapped != before.totalWrapped ||
                after.endWithoutBound != before.endWithoutBound || !sink.messages.empty())
                continue;

            DetectRequest request;
            request.task = routine == Routine::detect ? DetectTask::detect
                           : routine == Routine::joint ? DetectTask::joint
                                                       : DetectTask::recognize;
            request.signal = std::span<const int16_t>(h->lpNoisyData, static_cast<size_t>(h->dwSeriesSize));
            for (uint16_t e = 0; e < kAlphabetSize; ++e) request.shapes.emplace_back(alphabet_[e].lpData.get(), L);
            for (const uint16_t c : candidates) request.candidates.push_back(c - 1);
            request.tmin = Tmin;
            request.tmax = Tmax;
            // A Tmax of N allows every gap a signal of N samples has: any larger one is the same.
            if (Tmax == N) request.tmax = chance(rng, 50) ? INT64_MAX : N + uniform(rng, 1, 1 << 30);
            if (knownCount) request.count = h->wImpulseQuantity;
            request.savedEnergy = pct;
            request.threads = uniform(rng, 1, 3);
            const DetectResult result = run(request);
            ASSERT_TRUE(result.error.empty()) << result.error;

            std::vector<DetectedPulse> expected;
            for (int j = 0; j < h->wFoundPulses; ++j)
                expected.push_back(DetectedPulse{h->lpFoundPosition[j], h->lpFoundEtalon[j] - 1, h->lpFoundCutStart[j],
                                                 h->lpFoundCutEnd[j], 0});
            std::ostringstream what;
            what << "case " << round << ": N=" << N << " L=" << L << " Tmin=" << Tmin << " Tmax=" << Tmax
                 << " K=" << h->wImpulseQuantity << " pct=" << pct << " answer=" << answer
                 << "\n  reference" << pulsesText(expected) << "\n  wide     " << pulsesText(result.pulses);
            ASSERT_EQ(result.pulses.size(), expected.size()) << what.str();
            int64_t total = 0;
            for (size_t j = 0; j < expected.size(); ++j) {
                const DetectedPulse &a = result.pulses[j], &b = expected[j];
                ASSERT_TRUE(a.position == b.position && a.shape == b.shape && a.cutStart == b.cutStart &&
                            a.cutEnd == b.cutEnd)
                    << what.str();
                total += a.measure;
            }
            // Without a penalty the distance is the sum of the pulses' own shares.
            if (!expected.empty() && !knownCount) {
                EXPECT_EQ(result.distance, total) << what.str();
            }
            ++compared;
            withPulses += !expected.empty();
        }
        EXPECT_GT(compared, cases / 2);
        EXPECT_GT(withPulses, compared / 2);
    }

    static inline Alphabet alphabet_{};
    static inline bool built_ = false;
    SeedCells seeds_{};  ///< the streams the series are made from
};

TEST_F(DetectVsReference, JointDetectionUnknownCount) { compareMany(Routine::joint, false, 250); }
TEST_F(DetectVsReference, JointDetectionKnownCount) { compareMany(Routine::joint, true, 120); }
TEST_F(DetectVsReference, DetectionOfOneShape) {
    compareMany(Routine::detect, false, 120);
    compareMany(Routine::detect, true, 60);
}
TEST_F(DetectVsReference, RecognitionUnknownCount) { compareMany(Routine::recognize, false, 120); }
TEST_F(DetectVsReference, RecognitionKnownCount) { compareMany(Routine::recognize, true, 60); }

// ---- Gains, pulse costs, shapes of several lengths, several channels ------------------------------

// The detection straight from its definition on small random recordings of one to three
// channels: every position's score from referenceShapeScore, and the best chain by a plain
// dynamic programme over the chains the rules allow (gaps Tmin..Tmax between starts, the first pulse ending within Tmax of the start,
// the last starting within Tmax of the end, the ends counting the longest shape), with and
// without a count. The distance must be the programme's; the pulses an allowed chain whose
// measures (each the reference's best for the first shape that reaches the position's score,
// with its cut and gain, plus the cost) sum to it.
TEST(DetectWithGainsAndCosts, EqualsAStraightforwardDetection) {
    std::mt19937 rng(2026);
    const double gains[][2] = {{1, 1}, {0.5, 2}, {-1.5, 1.5}, {-2, -0.25}, {0.75, 0.75}};
    constexpr int64_t kNone = INT64_MAX / 4;
    int compared = 0;
    for (int trial = 0; trial < 400; ++trial) {
        // One channel in half of the trials, else two or three, each shape on every one.
        const int C = trial % 2 == 0 ? 1 : uniform(rng, 2, 3);
        const int count = uniform(rng, 1, 4);
        std::vector<std::vector<int16_t>> shapes;
        int nMax = 0;
        for (int e = 0; e < count; ++e) {
            const int n = chance(rng, 50) ? 8 : uniform(rng, 6, 14);
            shapes.emplace_back(static_cast<size_t>(n * C));
            for (int16_t& v : shapes.back()) v = static_cast<int16_t>(uniform(rng, -1500, 1500));
            nMax = std::max(nMax, n);
        }
        const int64_t N = uniform(rng, nMax + 10, 260);
        const int64_t Tmax = uniform(rng, nMax, 70), Tmin = uniform(rng, 1, static_cast<int>(Tmax));
        std::vector<int16_t> y(static_cast<size_t>(N * C));
        for (int16_t& v : y) v = static_cast<int16_t>(uniform(rng, -400, 400));
        for (int64_t p = uniform(rng, 0, 20); p + nMax <= N; p += uniform(rng, static_cast<int>(Tmin), static_cast<int>(Tmax))) {
            const auto& x = shapes[static_cast<size_t>(uniform(rng, 0, count - 1))];
            const double g = uniform(rng, -150, 150) / 100.0;
            const size_t n = x.size() / static_cast<size_t>(C);
            for (size_t ch = 0; ch < static_cast<size_t>(C); ++ch)
                for (size_t c = 0; c < n; ++c) {
                    int16_t& at = y[ch * static_cast<size_t>(N) + static_cast<size_t>(p) + c];
                    at = static_cast<int16_t>(std::clamp<double>(at + g * x[ch * n + c], -32767, 32767));
                }
        }
        const auto& gain = gains[trial % 5];
        DetectRequest request;
        request.task = chance(rng, 30) ? DetectTask::recognize : DetectTask::joint;
        request.signal = y;
        request.channels = C;
        for (const auto& x : shapes) request.shapes.emplace_back(x);
        for (int e = 0; e < count; ++e) request.candidates.push_back(e);
        request.tmin = Tmin;
        request.tmax = Tmax;
        request.savedEnergy = std::array{100, 75, 50, 0}[static_cast<size_t>(uniform(rng, 0, 3))];
        request.gainMin = gain[0];
        request.gainMax = gain[1];
        request.pulseCost = chance(rng, 50) ? uniform(rng, 0, 3000000) : 0;
        request.threads = uniform(rng, 1, 2);

        // Every position's reference scores.
        const int64_t positions = N - nMax + 1;
        std::vector<std::vector<ReferenceShapeScore>> score(static_cast<size_t>(positions));
        for (int64_t p = 0; p < positions; ++p)
            for (const auto& x : shapes)
                score[static_cast<size_t>(p)].push_back(referenceShapeScore(x, y, p, request.savedEnergy, gain[0], gain[1], C));
        const auto first = [&](int64_t p) { return p + nMax <= Tmax; };
        const auto last = [&](int64_t p) { return N - p <= Tmax; };
        // The best chain of K pulses (0: any number) over the scores of `only` (-1: every shape).
        const auto bestChain = [&](int only, int64_t K) {
            const auto q = [&](int64_t p) {
                int64_t best = kNone;
                for (int e = 0; e < count; ++e)
                    if (only < 0 || only == e) best = std::min(best, score[static_cast<size_t>(p)][static_cast<size_t>(e)].score);
                return best + request.pulseCost;
            };
            const int64_t layers = K > 0 ? K : 1;
            std::vector<std::vector<int64_t>> f(static_cast<size_t>(layers), std::vector<int64_t>(static_cast<size_t>(positions), kNone));
            for (int64_t k = 0; k < layers; ++k)
                for (int64_t p = 0; p < positions; ++p) {
                    int64_t before = k == 0 && first(p) ? 0 : kNone;
                    const auto& from = f[static_cast<size_t>(K > 0 ? std::max<int64_t>(k - 1, 0) : 0)];
                    if (K == 0 || k > 0)
                        for (int64_t m = std::max<int64_t>(0, p - Tmax); m <= p - Tmin; ++m)
                            before = std::min(before, from[static_cast<size_t>(m)]);
                    if (before < kNone) f[static_cast<size_t>(k)][static_cast<size_t>(p)] = before + q(p);
                }
            int64_t best = kNone;
            for (int64_t p = 0; p < positions; ++p)
                if (last(p)) best = std::min(best, f[static_cast<size_t>(layers - 1)][static_cast<size_t>(p)]);
            return best;
        };
        const bool known = chance(rng, 30);
        int64_t K = 0;
        if (known) {
            K = uniform(rng, 1, static_cast<int>(std::max<int64_t>(1, (N - nMax) / Tmin + 1)));
            request.count = K;
        }
        int64_t want = kNone;
        int wantIndex = -1;
        if (request.task == DetectTask::recognize) {
            for (int e = 0; e < count; ++e)
                if (const int64_t d = bestChain(e, K); d < want) {
                    want = d;
                    wantIndex = e;
                }
        } else {
            want = bestChain(-1, K);
        }
        const DetectResult got = run(request);
        if (want >= kNone) continue;  // no allowed chain (the detection refuses or finds none)
        if (!known && want >= (int64_t{1} << 61)) continue;
        ASSERT_TRUE(got.error.empty()) << "trial " << trial << ": " << got.error;
        ++compared;
        ASSERT_EQ(got.distance, want) << "trial " << trial;
        int64_t total = 0;
        for (size_t j = 0; j < got.pulses.size(); ++j) {
            const DetectedPulse& pulse = got.pulses[j];
            if (j > 0) {
                const int64_t gap = pulse.position - got.pulses[j - 1].position;
                ASSERT_TRUE(gap >= Tmin && gap <= Tmax) << "trial " << trial;
            }
            const auto& here = score[static_cast<size_t>(pulse.position)];
            int shape = wantIndex;
            if (shape < 0)
                for (int e = 0; e < count; ++e)
                    if (shape < 0 || here[static_cast<size_t>(e)].score < here[static_cast<size_t>(shape)].score) shape = e;
            ASSERT_EQ(pulse.shape, shape) << "trial " << trial;
            const ReferenceShapeScore& s = here[static_cast<size_t>(shape)];
            ASSERT_EQ(pulse.measure, s.score + request.pulseCost) << "trial " << trial;
            ASSERT_EQ(pulse.cutStart, s.cutStart);
            ASSERT_EQ(pulse.cutEnd, s.cutEnd);
            ASSERT_EQ(pulse.gain, s.gain);
            total += pulse.measure;
        }
        ASSERT_TRUE(first(got.pulses.front().position) && last(got.pulses.back().position)) << "trial " << trial;
        if (known) {
            ASSERT_EQ(static_cast<int64_t>(got.pulses.size()), K);
        }
        ASSERT_EQ(total, got.distance) << "trial " << trial;
    }
    EXPECT_GT(compared, 260);
}

// ---- Long signals, threads, progress and cancel ---------------------------------------------------

// A signal of `length` samples holding `shape` (whole) every `gap` samples from `first` on, with
// a little deterministic noise.
std::vector<int16_t> pulseTrain(int64_t length, const std::vector<int16_t>& shape, int64_t first, int64_t gap,
                                std::vector<int64_t>& starts) {
    std::vector<int16_t> signal(static_cast<size_t>(length));
    std::mt19937 rng(77);
    for (auto& v : signal) v = static_cast<int16_t>(uniform(rng, -20, 20));
    for (int64_t p = first; p + static_cast<int64_t>(shape.size()) <= length; p += gap) {
        starts.push_back(p);
        for (size_t c = 0; c < shape.size(); ++c) signal[static_cast<size_t>(p) + c] += shape[c];
    }
    return signal;
}

const std::vector<int16_t> kBump{0, 300, 800, 1500, 2000, 1500, 800, 300, 0, -200, -400, -200};
const std::vector<int16_t> kDip{0, -900, -1800, -900, 0, 900, 1800, 900, 0, -300, 0, 300};

TEST(DetectInRecording, FindsEveryPulseBeyondSixteenBitPositions) {
    std::vector<int64_t> starts;
    const std::vector<int16_t> signal = pulseTrain(200000, kBump, 37, 97, starts);
    DetectRequest request;
    request.signal = signal;
    request.shapes = {kDip, kBump};
    request.candidates = {0, 1};
    request.tmin = 90;
    request.tmax = 110;
    request.threads = 1;
    const DetectResult one = run(request);
    ASSERT_TRUE(one.error.empty()) << one.error;
    ASSERT_TRUE(one.completed);
    ASSERT_EQ(one.pulses.size(), starts.size());
    int64_t total = 0;
    for (size_t j = 0; j < starts.size(); ++j) {
        EXPECT_EQ(one.pulses[j].position, starts[j]);
        EXPECT_EQ(one.pulses[j].shape, 1);
        EXPECT_EQ(one.pulses[j].cutStart, 0);
        EXPECT_EQ(one.pulses[j].cutEnd, static_cast<int32_t>(kBump.size()) - 1);
        EXPECT_LT(one.pulses[j].measure, 0);
        total += one.pulses[j].measure;
    }
    EXPECT_GT(one.pulses.back().position, 65535);
    EXPECT_EQ(one.distance, total);

    // Any number of threads gives the same result, for every task and count.
    for (const DetectTask task : {DetectTask::joint, DetectTask::recognize}) {
        request.task = task;
        for (const bool known : {false, true}) {
            request.count = known ? std::optional<int64_t>(static_cast<int64_t>(starts.size())) : std::nullopt;
            request.threads = 1;
            const DetectResult base = run(request);
            ASSERT_TRUE(base.error.empty()) << base.error;
            for (const int threads : {2, 3, 0}) {
                request.threads = threads;
                const DetectResult other = run(request);
                ASSERT_EQ(other.distance, base.distance);
                ASSERT_EQ(pulsesText(other.pulses), pulsesText(base.pulses));
            }
            EXPECT_EQ(base.pulses.size(), starts.size());
        }
    }
}

TEST(DetectInRecording, LoudSignalsSumInSixtyFourBits) {
    // Full-scale shapes on a full-scale signal: single scores pass 2^31.
    std::vector<int16_t> loud(40, 0);
    for (size_t c = 0; c < loud.size(); ++c) loud[c] = static_cast<int16_t>(c % 2 ? 32767 : -32767);
    std::vector<int64_t> starts;
    std::vector<int16_t> signal(20000, 0);
    for (int64_t p = 100; p + 40 <= 20000; p += 150) {
        starts.push_back(p);
        std::copy(loud.begin(), loud.end(), signal.begin() + p);
    }
    DetectRequest request;
    request.signal = signal;
    request.shapes = {loud};
    request.candidates = {0};
    request.tmin = 140;
    request.tmax = 160;
    const DetectResult result = run(request);
    ASSERT_TRUE(result.error.empty()) << result.error;
    ASSERT_EQ(result.pulses.size(), starts.size());
    for (size_t j = 0; j < starts.size(); ++j) {
        EXPECT_EQ(result.pulses[j].position, starts[j]);
        EXPECT_EQ(result.pulses[j].measure, -40 * int64_t{32767} * 32767);
    }
    EXPECT_EQ(result.distance, -static_cast<int64_t>(starts.size()) * 40 * 32767 * 32767);
}

TEST(DetectInRecording, ReportsProgressAndStopsWhenCancelled) {
    std::vector<int64_t> starts;
    const std::vector<int16_t> signal = pulseTrain(300000, kBump, 10, 100, starts);
    DetectRequest request;
    request.signal = signal;
    request.shapes = {kBump, kDip};
    request.candidates = {0, 1};
    request.tmin = 50;
    request.tmax = 150;
    request.threads = 2;
    std::vector<double> seen;
    const DetectResult done = detectInRecording(request, [&](double f) { seen.push_back(f); }, notCancelled);
    ASSERT_TRUE(done.completed);
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_DOUBLE_EQ(seen.back(), 1.0);

    std::atomic<bool> cancel{false};
    int calls = 0;
    const DetectResult stopped = detectInRecording(request, [&](double) {
        if (++calls == 2) cancel = true;
    }, cancel);
    EXPECT_FALSE(stopped.completed);
    EXPECT_TRUE(stopped.pulses.empty());
    EXPECT_TRUE(stopped.error.empty());
    EXPECT_LT(calls, 6);
}

// ---- Refusals -----------------------------------------------------------------------------------

TEST(DetectInRecording, RefusesWhatDoesNotFitWithAMessage) {
    std::vector<int16_t> signal(1000, 5);
    const std::vector<int16_t> shape{1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<int16_t> shorter{1, 2, 3, 4, 5, 6};
    auto base = [&] {
        DetectRequest r;
        r.signal = signal;
        r.shapes = {shape, shape};
        r.candidates = {0, 1};
        r.tmin = 10;
        r.tmax = 20;
        return r;
    };
    auto refusal = [&](DetectRequest r) {
        const DetectResult result = run(r);
        EXPECT_TRUE(result.pulses.empty());
        return result.error;
    };
    DetectRequest r = base();
    r.signal = {};
    EXPECT_NE(refusal(r).find("empty"), std::string::npos);
    // Shapes of several lengths are taken; gains, costs and alphabets beyond their ranges not.
    r = base();
    r.shapes[1] = shorter;
    EXPECT_TRUE(run(r).error.empty());
    r = base();
    r.gainMin = 2;
    r.gainMax = 1;
    EXPECT_NE(refusal(r).find("gain range"), std::string::npos);
    r = base();
    r.gainMax = std::numeric_limits<double>::infinity();
    EXPECT_NE(refusal(r).find("gain range"), std::string::npos);
    r = base();
    r.pulseCost = -1;
    EXPECT_NE(refusal(r).find("pulse cost"), std::string::npos);
    r = base();
    r.shapes.assign(257, shape);
    EXPECT_NE(refusal(r).find("at most 256"), std::string::npos);
    r = base();
    r.tmin = 30;
    EXPECT_NE(refusal(r).find("Tmin"), std::string::npos);
    r = base();
    r.tmax = 7;
    r.tmin = 5;
    EXPECT_NE(refusal(r).find("Tmax"), std::string::npos);
    r = base();
    r.candidates = {2};
    EXPECT_NE(refusal(r).find("Candidate 2"), std::string::npos);
    r = base();
    r.candidates = {};
    EXPECT_NE(refusal(r).find("no candidate"), std::string::npos);
    r = base();
    r.task = DetectTask::detect;
    EXPECT_NE(refusal(r).find("exactly one"), std::string::npos);
    r = base();
    r.savedEnergy = 101;
    EXPECT_NE(refusal(r).find("saved energy"), std::string::npos);
    r = base();
    r.count = 5;  // 5 pulses with gaps of at most 20 cannot cover 1000 samples
    EXPECT_NE(refusal(r).find("cannot cover"), std::string::npos);
    r = base();
    r.count = 0;
    EXPECT_NE(refusal(r).find("does not fit"), std::string::npos);
    // With an unknown count, a signal that no chain can cover is refused, not answered by none.
    // (starts within 2 of the beginning, 10 apart, never within 10 of the end of 15 samples)
    const std::vector<int16_t> short15(15, 5);
    r = base();
    r.signal = short15;
    r.tmin = r.tmax = 10;
    EXPECT_NE(refusal(r).find("No chain of pulses fits"), std::string::npos);
    r.task = DetectTask::recognize;
    EXPECT_NE(refusal(r).find("No chain of pulses fits"), std::string::npos);

    // Limits beyond the signal's length allow what the length allows, without overflow.
    for (const int64_t huge : {int64_t{1} << 60, INT64_MAX}) {
        for (const std::optional<int64_t> count : {std::optional<int64_t>{}, std::optional<int64_t>{9}}) {
            r = base();
            r.tmax = huge;
            r.count = count;
            const DetectResult wide = run(r);
            r.tmax = static_cast<int64_t>(signal.size());
            const DetectResult clamped = run(r);
            ASSERT_TRUE(wide.error.empty()) << wide.error;
            EXPECT_EQ(pulsesText(wide.pulses), pulsesText(clamped.pulses));
            EXPECT_EQ(wide.distance, clamped.distance);
            r.tmin = huge;
            r.tmax = huge;
            EXPECT_TRUE(run(r).error.empty() || count) << run(r).error;
        }
    }

    // A known count whose table passes the memory budget names the memory and the way out.
    std::vector<int16_t> longSignal(2000000, 3);
    r = base();
    r.signal = longSignal;
    r.tmin = 1;
    r.tmax = 2000000;
    r.count = 1000;
    const std::string memory = refusal(r);
    EXPECT_NE(memory.find(" MB of working memory"), std::string::npos) << memory;
    EXPECT_NE(memory.find("count unknown"), std::string::npos) << memory;

    // Totals that could leave exact 64-bit arithmetic.
    std::vector<int16_t> loudSignal(3000000, 32767);
    std::vector<int16_t> loudShape(200, 32767);
    r = base();
    r.signal = loudSignal;
    r.shapes = {loudShape};
    r.candidates = {0};
    r.tmin = 1;
    r.tmax = 400;
    EXPECT_NE(refusal(r).find("64-bit"), std::string::npos);
}

}  // namespace
