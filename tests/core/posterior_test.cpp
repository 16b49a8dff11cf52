// The posterior over the chains of a detection against every admissible chain enumerated on
// small random recordings (shapes of two lengths, cuts, gains, costs, one or two channels), and
// its limits: a noiseless series peaks at its true starts, and as the temperature falls the found pulses
// become certain. The positions' weights read back exactly as written, however far their powers
// spread.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "core/position_weights.h"
#include "core/posterior.h"
#include "tests/processing/reference_processing.h"

namespace {
const std::atomic<bool> notCancelled{false};
int uniform(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
}  // namespace

TEST(Posterior, EqualsEveryChainEnumerated) {
    std::mt19937 rng(404);
    const double gains[][2] = {{1, 1}, {0.5, 2}, {-1.5, 1.5}};
    int compared = 0;
    for (int trial = 0; trial < 60; ++trial) {
        // Every fifth problem on two channels.
        const int C = trial % 5 == 4 ? 2 : 1;
        std::vector<std::vector<int16_t>> shapes{std::vector<int16_t>(static_cast<size_t>(uniform(rng, 6, 8) * C)),
                                                 std::vector<int16_t>(static_cast<size_t>(uniform(rng, 6, 8) * C))};
        int nMax = 0;
        for (auto& x : shapes) {
            for (int16_t& v : x) v = static_cast<int16_t>(uniform(rng, -300, 300));
            nMax = std::max(nMax, static_cast<int>(x.size()) / C);
        }
        const int64_t N = uniform(rng, 30, 52), Tmin = uniform(rng, 5, 10), Tmax = Tmin + uniform(rng, 0, 8);
        if (Tmax < nMax) continue;
        std::vector<int16_t> y(static_cast<size_t>(N * C));
        for (int16_t& v : y) v = static_cast<int16_t>(uniform(rng, -150, 150));
        const size_t n0 = shapes[0].size() / static_cast<size_t>(C);
        for (int64_t p = uniform(rng, 0, 3); p + nMax <= N; p += uniform(rng, static_cast<int>(Tmin), static_cast<int>(Tmax)))
            for (size_t ch = 0; ch < static_cast<size_t>(C); ++ch)
                for (size_t c = 0; c < n0; ++c) {
                    int16_t& at = y[ch * static_cast<size_t>(N) + static_cast<size_t>(p) + c];
                    at = static_cast<int16_t>(at + shapes[0][ch * n0 + c]);
                }
        DetectRequest request;
        request.signal = y;
        request.channels = C;
        for (const auto& x : shapes) request.shapes.emplace_back(x);
        request.candidates = {0, 1};
        request.tmin = Tmin;
        request.tmax = Tmax;
        request.savedEnergy = trial % 2 ? 75 : 100;
        request.gainMin = gains[trial % 3][0];
        request.gainMax = gains[trial % 3][1];
        request.pulseCost = trial % 4 == 0 ? uniform(rng, 0, 200000) : 0;
        // Every third problem with a known count: the chains of exactly K pulses.
        int64_t K = 0;
        if (trial % 3 == 2) {
            K = uniform(rng, 2, static_cast<int>(std::max<int64_t>(2, (N - nMax) / Tmin + 1)));
            request.count = K;
        }
        // Every fourth problem recognises: each chain is all of one shape.
        const bool recognize = trial % 4 == 3;
        if (recognize) request.task = DetectTask::recognize;
        const DetectResult found = detectInRecording(request, {}, notCancelled);
        if (!found.error.empty()) continue;
        const double T = std::pow(10.0, uniform(rng, 40, 60) / 10.0);
        const int64_t W = uniform(rng, 0, static_cast<int>(Tmax));

        // Every position's weight per shape, and every admissible chain's log weight.
        const int64_t P = N - nMax + 1;
        std::vector<std::vector<double>> logShape(static_cast<size_t>(P));
        std::vector<double> logWeight(static_cast<size_t>(P));
        for (int64_t l = 0; l < P; ++l) {
            double total = -INFINITY;
            for (const auto& x : shapes) {
                const double v = -static_cast<double>(referenceShapeScore(x, y, l, request.savedEnergy, request.gainMin,
                                                                          request.gainMax, C).score + request.pulseCost) / T;
                logShape[static_cast<size_t>(l)].push_back(v);
                total = std::max(total, v) + std::log1p(std::exp(std::min(total, v) - std::max(total, v)));
            }
            logWeight[static_cast<size_t>(l)] = total;
        }
        // The chains with their log weights; in recognition once per shape (the kind of all its
        // pulses), else with every shape summed at each pulse (kind -1).
        std::vector<std::vector<int64_t>> chains;
        std::vector<double> chainLog;
        std::vector<int> chainKind;
        std::vector<int64_t> chain;
        int kind = -1;
        const auto weightAt = [&](int64_t l) {
            return kind < 0 ? logWeight[static_cast<size_t>(l)] : logShape[static_cast<size_t>(l)][static_cast<size_t>(kind)];
        };
        std::function<void(double)> extend = [&](double sum) {
            const int64_t l = chain.back();
            if (N - l <= Tmax && (K == 0 || static_cast<int64_t>(chain.size()) == K)) {
                chains.push_back(chain);
                chainLog.push_back(sum);
                chainKind.push_back(kind);
            }
            if (K > 0 && static_cast<int64_t>(chain.size()) >= K) return;
            for (int64_t m = l + Tmin; m <= std::min(P - 1, l + Tmax); ++m) {
                chain.push_back(m);
                extend(sum + weightAt(m));
                chain.pop_back();
            }
        };
        for (kind = recognize ? 0 : -1; kind < (recognize ? 2 : 0); ++kind)
            for (int64_t l = 0; l < P && l + nMax <= Tmax && chains.size() <= 3000000; ++l) {
                chain = {l};
                extend(weightAt(l));
            }
        if (chains.empty() || chains.size() > 3000000) continue;
        const double top = *std::max_element(chainLog.begin(), chainLog.end());
        double Z = 0;
        for (const double v : chainLog) Z += std::exp(v - top);
        std::vector<double> marginal(static_cast<size_t>(P), 0.0);
        double count = 0, square = 0;
        for (size_t i = 0; i < chains.size(); ++i) {
            const double p = std::exp(chainLog[i] - top) / Z;
            for (const int64_t l : chains[i]) marginal[static_cast<size_t>(l)] += p;
            count += p * static_cast<double>(chains[i].size());
            square += p * static_cast<double>(chains[i].size() * chains[i].size());
        }

        const PosteriorResult got = posteriorOf(request, found.pulses, T, W, true, {}, notCancelled);
        ASSERT_TRUE(got.error.empty()) << got.error;
        ++compared;
        ASSERT_EQ(got.posterior.size(), marginal.size());
        for (int64_t l = 0; l < P; ++l)
            ASSERT_NEAR(got.posterior[static_cast<size_t>(l)], marginal[static_cast<size_t>(l)], 1e-9)
                << "trial " << trial << " position " << l;
        EXPECT_NEAR(got.expectedCount, count, 1e-9) << "trial " << trial;
        EXPECT_NEAR(got.countDeviation, std::sqrt(std::max(0.0, square - count * count)), 1e-6) << "trial " << trial;
        ASSERT_EQ(got.pulses.size(), found.pulses.size());
        for (size_t j = 0; j < found.pulses.size(); ++j) {
            const int64_t a = std::max<int64_t>(0, found.pulses[j].position - W), b = std::min(P - 1, found.pulses[j].position + W);
            // The chances of a pulse in the window, and of one of the pulse's shape (its own
            // kind's chains in recognition, its share among the shapes at each position else).
            double some = 0, there = 0, ofShape = 0;
            const int shape = found.pulses[j].shape;
            for (size_t i = 0; i < chains.size(); ++i) {
                const double p = std::exp(chainLog[i] - top) / Z;
                for (const int64_t l : chains[i]) {
                    if (l < a || l > b) continue;
                    there += p;
                    ofShape += chainKind[i] < 0 ? p * std::exp(logShape[static_cast<size_t>(l)][static_cast<size_t>(shape)] -
                                                               logWeight[static_cast<size_t>(l)])
                                                : (chainKind[i] == shape ? p : 0.0);
                }
                if (std::any_of(chains[i].begin(), chains[i].end(), [&](int64_t l) { return l >= a && l <= b; })) some += p;
            }
            EXPECT_NEAR(got.pulses[j].confidence, some, 1e-9) << "trial " << trial << " pulse " << j;
            EXPECT_NEAR(got.pulses[j].kindConfidence, there > 0 ? ofShape / there : 0.0, 1e-9) << "trial " << trial;
        }
        // Without the positions' row the pulses' windows alone are kept: the same numbers.
        const PosteriorResult lean = posteriorOf(request, found.pulses, T, W, false, {}, notCancelled);
        ASSERT_EQ(lean.pulses.size(), got.pulses.size());
        for (size_t j = 0; j < got.pulses.size(); ++j) {
            EXPECT_EQ(lean.pulses[j].confidence, got.pulses[j].confidence) << "trial " << trial << " pulse " << j;
            EXPECT_EQ(lean.pulses[j].kindConfidence, got.pulses[j].kindConfidence) << "trial " << trial;
        }
    }
    EXPECT_GT(compared, 25);
}

TEST(Posterior, PeaksAtTheTrueStartsAndGrowsCertainAsTheTemperatureFalls) {
    const std::vector<int16_t> bump{0, 900, 1800, 2400, 1800, 900, 0, -600};
    // Several chunks of positions long, so that threads share the weights.
    std::vector<int16_t> y(20000, 0);
    std::vector<int64_t> starts;
    for (int64_t p = 30; p + 8 <= 20000; p += 97) {
        starts.push_back(p);
        std::copy(bump.begin(), bump.end(), y.begin() + p);
    }
    DetectRequest request;
    request.signal = y;
    request.shapes = {bump};
    request.candidates = {0};
    request.tmin = 80;
    request.tmax = 120;
    request.threads = 1;
    const DetectResult found = detectInRecording(request, {}, notCancelled);
    ASSERT_TRUE(found.error.empty());
    const PosteriorResult warm = posteriorOf(request, found.pulses, 2.0 * 300 * 300, 20, true, {}, notCancelled);
    ASSERT_TRUE(warm.error.empty()) << warm.error;
    // The same numbers, bit for bit, on any number of threads.
    request.threads = 3;
    const PosteriorResult threaded = posteriorOf(request, found.pulses, 2.0 * 300 * 300, 20, true, {}, notCancelled);
    EXPECT_EQ(threaded.posterior, warm.posterior);
    EXPECT_EQ(threaded.expectedCount, warm.expectedCount);
    for (size_t j = 0; j < warm.pulses.size(); ++j) {
        EXPECT_EQ(threaded.pulses[j].confidence, warm.pulses[j].confidence);
        EXPECT_EQ(threaded.pulses[j].kindConfidence, warm.pulses[j].kindConfidence);
    }
    for (const int64_t p : starts) {
        const auto near = warm.posterior.begin() + std::max<int64_t>(0, p - 40);
        const auto far = warm.posterior.begin() + std::min<int64_t>(static_cast<int64_t>(warm.posterior.size()), p + 41);
        EXPECT_EQ(std::max_element(near, far) - warm.posterior.begin(), p);
    }
    EXPECT_NEAR(warm.expectedCount, static_cast<double>(starts.size()), 1e-6);
    const PosteriorResult cold = posteriorOf(request, found.pulses, 1.0, 0, false, {}, notCancelled);
    for (const PulseConfidence& c : cold.pulses) {
        EXPECT_NEAR(c.confidence, 1.0, 1e-12);
        EXPECT_NEAR(c.kindConfidence, 1.0, 1e-12);
    }
    EXPECT_NEAR(cold.countDeviation, 0.0, 1e-9);
    // Refusals: a temperature that is not a positive number, or so small that the weights'
    // exponents would overflow; a window beyond Tmax.
    const struct {
        double temperature;
        int64_t window;
        const char* says;
    } refused[] = {{0.0, 5, "must be a positive number"},     {-1.0, 5, "must be a positive number"},
                   {NAN, 5, "must be a positive number"},     {INFINITY, 5, "must be a positive number"},
                   {1e-300, 5, "too small for the scores"},   {1e-320, 5, "too small for the scores"},
                   {1.0, 121, "window must lie from 0 to Tmax"}};
    for (const auto& r : refused) {
        const PosteriorResult got = posteriorOf(request, found.pulses, r.temperature, r.window, false, {}, notCancelled);
        EXPECT_NE(got.error.find(r.says), std::string::npos) << r.temperature << ": " << got.error;
        EXPECT_TRUE(got.pulses.empty());
    }
    // Pulses out of position order.
    std::vector<DetectedPulse> reversed(found.pulses.rbegin(), found.pulses.rend());
    const PosteriorResult unordered = posteriorOf(request, reversed, 2.0 * 300 * 300, 20, false, {}, notCancelled);
    EXPECT_NE(unordered.error.find("position order"), std::string::npos) << unordered.error;
}

TEST(Posterior, WeightRowReadsBackEveryWeightWritten) {
    using posterior_detail::Weight;
    using posterior_detail::WeightRow;
    std::mt19937 rng(7);
    // Per chunk: the spread of its powers of two (4095 still fits beside the mantissas, 4096 not)
    // and their least; the last chunk is cut short.
    const struct {
        int64_t spread, least;
    } chunks[] = {{0, 0}, {4095, -2000}, {4096, 5}, {1 << 20, -(int64_t{1} << 49)}, {30, int64_t{1} << 49}, {4095, 7}};
    const int64_t P = 5 * WeightRow::kChunk + 77;
    WeightRow row(P);
    std::vector<Weight> written;
    for (size_t c = 0; c < std::size(chunks); ++c) {
        const size_t count = static_cast<size_t>(std::min(WeightRow::kChunk, P - static_cast<int64_t>(c) * WeightRow::kChunk));
        std::vector<double> m(count);
        std::vector<int64_t> e(count);
        for (size_t i = 0; i < count; ++i) {
            m[i] = 1.0 + std::uniform_real_distribution<double>(0.0, 1.0)(rng);
            // Both ends of the spread taken, the rest anywhere between.
            const int64_t offset = i == 0 ? 0 : i == 1 ? chunks[c].spread : std::uniform_int_distribution<int64_t>(0, chunks[c].spread)(rng);
            e[i] = chunks[c].least + offset;
            written.push_back({m[i], e[i]});
        }
        row.writeChunk(static_cast<int64_t>(c) * WeightRow::kChunk, count, m.data(), e.data());
    }
    ASSERT_EQ(static_cast<int64_t>(written.size()), P);
    for (int64_t l = 0; l < P; ++l) {
        ASSERT_EQ(row[l].m, written[static_cast<size_t>(l)].m) << l;
        ASSERT_EQ(row[l].e, written[static_cast<size_t>(l)].e) << l;
    }
}

TEST(Posterior, DetectionWithItsPosteriorEqualsTheTwoApart) {
    // Two bumps of their own lengths over noise, several chunks of positions long, so that the
    // detection's stretches and threads share the weights.
    const std::vector<int16_t> wide{0, 700, 1500, 2100, 1500, 700, 0, -500, -300}, narrow{0, -900, -1800, -900, 0, 400};
    std::mt19937 rng(11);
    std::vector<int16_t> y(70000);
    for (int16_t& v : y) v = static_cast<int16_t>(uniform(rng, -400, 400));
    for (int64_t p = 20; p + 9 <= 70000; p += uniform(rng, 60, 110)) {
        const auto& x = uniform(rng, 0, 1) ? wide : narrow;
        for (size_t c = 0; c < x.size(); ++c) y[static_cast<size_t>(p) + c] = static_cast<int16_t>(y[static_cast<size_t>(p) + c] + x[c]);
    }
    const struct {
        DetectTask task;
        std::vector<int32_t> candidates;
        int32_t savedEnergy;
        double gainMin, gainMax;
        int32_t threads;
        bool perPosition;
    } cases[] = {{DetectTask::joint, {0, 1}, 100, 1, 1, 1, false},  {DetectTask::joint, {0, 1}, 75, 1, 1, 3, true},
                 {DetectTask::joint, {1, 0}, 80, 0.5, 2, 2, false}, {DetectTask::detect, {1}, 75, 1, 1, 1, true}};
    for (const auto& c : cases) {
        DetectRequest request;
        request.signal = y;
        request.shapes = {wide, narrow};
        request.task = c.task;
        request.candidates = c.candidates;
        request.tmin = 60;
        request.tmax = 110;
        request.savedEnergy = c.savedEnergy;
        request.gainMin = c.gainMin;
        request.gainMax = c.gainMax;
        request.threads = c.threads;
        const double T = 2.0 * 400 * 400;
        const DetectResult alone = detectInRecording(request, {}, notCancelled);
        ASSERT_TRUE(alone.error.empty()) << alone.error;
        const PosteriorResult apart = posteriorOf(request, alone.pulses, T, 15, c.perPosition, {}, notCancelled);
        const DetectionAndPosterior both = detectWithPosterior(request, T, 15, c.perPosition, {}, notCancelled);
        ASSERT_TRUE(apart.error.empty() && both.posterior.error.empty()) << apart.error << both.posterior.error;
        EXPECT_EQ(both.detection.distance, alone.distance);
        ASSERT_EQ(both.detection.pulses.size(), alone.pulses.size());
        ASSERT_EQ(both.posterior.pulses.size(), apart.pulses.size());
        for (size_t j = 0; j < alone.pulses.size(); ++j) {
            EXPECT_EQ(both.detection.pulses[j].position, alone.pulses[j].position);
            EXPECT_EQ(both.detection.pulses[j].shape, alone.pulses[j].shape);
            EXPECT_EQ(both.posterior.pulses[j].confidence, apart.pulses[j].confidence) << j;
            EXPECT_EQ(both.posterior.pulses[j].kindConfidence, apart.pulses[j].kindConfidence) << j;
        }
        EXPECT_EQ(both.posterior.expectedCount, apart.expectedCount);
        EXPECT_EQ(both.posterior.countDeviation, apart.countDeviation);
        EXPECT_EQ(both.posterior.posterior, apart.posterior);
        // The chains' positions end where the detection's do: the longest shape, candidate or not.
        if (c.perPosition) {
            EXPECT_EQ(apart.posterior.size(), y.size() - wide.size() + 1);
        }
        // A temperature too small for the scores: the detection stands, the posterior refuses.
        const DetectionAndPosterior cold = detectWithPosterior(request, 1e-300, 15, false, {}, notCancelled);
        EXPECT_EQ(cold.detection.distance, alone.distance);
        EXPECT_NE(cold.posterior.error.find("too small for the scores"), std::string::npos) << cold.posterior.error;
    }
}
