// The lane forms of the dynamic programmes (many candidates side by side, one per vector lane)
// against the one-candidate form of the same programmes, lane by lane, on random problems full
// of ties, with 32-bit totals that wrap and 64-bit ones far from overflow.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "processing/programmes.h"

namespace {
int64_t uniform(std::mt19937& rng, int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); }

// A random score: few distinct values (many ties), now and then one near the type's limits so
// that 32-bit totals wrap.
template <class Sum>
Sum randomScore(std::mt19937& rng, int spread) {
    if (sizeof(Sum) == 4 && uniform(rng, 0, 40) == 0)
        return static_cast<Sum>(uniform(rng, 0, 1) ? std::numeric_limits<int32_t>::max() - uniform(rng, 0, 5)
                                                   : std::numeric_limits<int32_t>::min() + uniform(rng, 0, 5));
    return static_cast<Sum>(uniform(rng, -spread, spread));
}

// A random problem of the walks: signal length, pulse length, gaps and the pulse counts.
struct Problem {
    int64_t N, n, Tmin, Tmax;
    PositionWalks walks;
};
Problem randomProblem(std::mt19937& rng) {
    Problem p{};
    do {
        p.n = uniform(rng, 1, 12);
        p.Tmax = uniform(rng, p.n, 60);
        p.Tmin = uniform(rng, 1, p.Tmax);
        p.N = uniform(rng, p.n, 500);
        const int64_t Kmin = std::max<int64_t>(1, (p.N + p.n - 1) / p.Tmax), Kmax = (p.N + p.Tmin - p.n) / p.Tmin;
        p.walks = positionWalks(p.N, p.n, p.Tmin, p.Tmax, Kmin, Kmax);
    } while (p.walks.any.empty());
    return p;
}

std::vector<int32_t> listOf(const PositionWalks::Intervals& intervals) {
    std::vector<int32_t> out;
    forEachPosition(intervals, [&](int64_t p) { out.push_back(static_cast<int32_t>(p)); });
    return out;
}

// The walk of Width lanes against Width walks of one lane each: every total and predecessor
// the walks reach.
template <class Sum, int Width>
void compareWalks(int seed) {
    std::mt19937 rng(static_cast<uint32_t>(seed));
    WindowMinimum<Sum, Width> lanesWindow;
    WindowMinimum<Sum, 1> oneWindow;
    for (int round = 0; round < 150; ++round) {
        const Problem p = randomProblem(rng);
        const int64_t positions = p.N - p.n + 1;
        const int spread = static_cast<int>(uniform(rng, 1, 50));
        std::vector<Sum> Q(static_cast<size_t>(positions) * Width), R(Q.size()), B(Q.size(), -7);
        for (Sum& v : Q) v = randomScore<Sum>(rng, spread);
        const Sum unset = static_cast<Sum>(uniform(rng, 0, 1) ? 99999999 : 1000);
        if constexpr (sizeof(Sum) == 4)
            walkPulseChainsLanes(listOf(p.walks.firstOnly), listOf(p.walks.both), listOf(p.walks.laterOnly), Q.data(),
                                 p.Tmin, p.Tmax, unset, R.data(), B.data(), positions, lanesWindow);
        else
            walkPulseChainsLanes(p.walks.firstOnly, p.walks.both, p.walks.laterOnly, Q.data(), p.Tmin, p.Tmax, unset,
                                 R.data(), B.data(), positions, lanesWindow);
        for (int lane = 0; lane < Width; ++lane) {
            std::vector<Sum> r(static_cast<size_t>(positions)), b(r.size(), -7);
            walkPulseChainsOn<Sum, 1>(
                p.walks.firstOnly, p.walks.both, p.walks.laterOnly,
                [&](int64_t l, Sum& score) { score = Q[static_cast<size_t>(l * Width + lane)]; }, p.Tmin, p.Tmax,
                unset, r.data(), b.data(), positions, oneWindow);
            for (int64_t l = 0; l < positions; ++l) {
                const size_t at = static_cast<size_t>(l * Width + lane);
                ASSERT_EQ(R[at], r[static_cast<size_t>(l)])
                    << "round " << round << " lane " << lane << " position " << l << " N=" << p.N << " n=" << p.n
                    << " Tmin=" << p.Tmin << " Tmax=" << p.Tmax;
                ASSERT_EQ(B[at], b[static_cast<size_t>(l)]) << "round " << round << " lane " << lane << " position " << l;
            }
        }
    }
}

// The one-sweep walk on recordings against the three walks of walkPulseChainsOn: every
// predecessor the walks set (as a step back; lane groups keep none) and every total the ring
// keeps, wherever one sweep is allowed. The scores come all at once, or in chunks of random
// length into a ring of a few of them, as the match streams them: the walk stops and goes on
// anywhere in its windows' blocks and in its rings.
template <int Width, class StepSum>
void compareOneSweep(int seed) {
    std::mt19937 rng(static_cast<uint32_t>(seed));
    WindowMinimum<int64_t, 1> oneWindow;
    int allowed = 0, refused = 0;
    std::vector<int64_t> Q, streamed;
    int64_t qRing = 0, filled = -1;
    const std::function<int64_t(int64_t)> scoredThrough = [&](int64_t l) {
        if (qRing == 0) return std::numeric_limits<int64_t>::max();
        const int64_t through = std::min(l + uniform(rng, 0, qRing - 1), static_cast<int64_t>(Q.size()) / Width - 1);
        for (; filled < through; ++filled)
            std::copy_n(Q.begin() + (filled + 1) * Width, Width, streamed.begin() + ((filled + 1) & (qRing - 1)) * Width);
        return through;
    };
    for (int round = 0; round < 300; ++round) {
        const Problem p = randomProblem(rng);
        if (!oneSweepAllowed(p.walks, p.Tmin)) {
            ++refused;
            continue;
        }
        ++allowed;
        const int64_t positions = p.N - p.n + 1;
        int64_t ring = 1;
        while (ring < p.Tmax + 2) ring <<= 1;
        Q.assign(static_cast<size_t>(positions) * Width, 0);
        std::vector<int64_t> R(static_cast<size_t>(ring) * Width);
        std::vector<StepSum> steps(Q.size(), 7);
        for (int64_t& v : Q) v = randomScore<int64_t>(rng, static_cast<int>(uniform(rng, 1, 50)));
        const int64_t unset = uniform(rng, 0, 1) ? 99999999 : 1000;
        qRing = uniform(rng, 0, 1) ? 0 : int64_t{1} << uniform(rng, 0, 6);
        streamed.assign(static_cast<size_t>(std::max<int64_t>(qRing, 1)) * Width, 0);
        filled = -1;
        const int64_t* const scores = qRing ? streamed.data() : Q.data();
        const int64_t qMask = qRing ? qRing - 1 : -1;
        if constexpr (Width == 1)
            walkInOneSweepOn(p.walks, scores, qMask, scoredThrough, p.Tmin, p.Tmax, unset, R.data(), ring,
                             steps.data(), positions);
        else
            walkInOneSweepOn(p.walks, scores, qMask, scoredThrough, p.Tmin, p.Tmax, unset, R.data(), ring, positions);
        for (int lane = 0; lane < Width; ++lane) {
            std::vector<int64_t> r(static_cast<size_t>(positions)), b(r.size(), -7);
            walkPulseChainsOn<int64_t, 1>(
                p.walks.firstOnly, p.walks.both, p.walks.laterOnly,
                [&](int64_t l, int64_t& score) { score = Q[static_cast<size_t>(l * Width + lane)]; }, p.Tmin, p.Tmax,
                unset, r.data(), b.data(), positions, oneWindow);
            forEachPosition(p.walks.any, [&](int64_t l) {
                if (Width > 1) return;
                const int64_t from = b[static_cast<size_t>(l)];
                ASSERT_EQ(static_cast<int64_t>(steps[static_cast<size_t>(l * Width + lane)]), from < 0 ? 0 : l - from)
                    << "round " << round << " lane " << lane << " position " << l;
            });
            for (int64_t l = std::max<int64_t>(0, positions - ring); l < positions; ++l)
                ASSERT_EQ(R[static_cast<size_t>((l & (ring - 1)) * Width + lane)], r[static_cast<size_t>(l)])
                    << "round " << round << " lane " << lane << " position " << l;
        }
    }
    EXPECT_GT(allowed, 200) << refused << " refused";
}

// The layered programme of Width lanes against Width programmes of one lane: every layer's
// totals, and the chains and distances followed from them for each pair of bounds the routines
// use.
template <class Sum, int Width>
void compareLayers(int seed) {
    std::mt19937 rng(static_cast<uint32_t>(seed));
    LayeredWork<Sum, Width> lanesWork;
    LayeredWork<Sum, 1> oneWork;
    int compared = 0;
    for (int round = 0; round < 200; ++round) {
        const int64_t n = uniform(rng, 1, 12), Tmax = uniform(rng, n, 60), Tmin = uniform(rng, 1, Tmax);
        const int64_t N = uniform(rng, n, 600);
        const int64_t K = uniform(rng, 1, std::max<int64_t>(1, (N - n) / Tmin + 1));
        std::vector<Sum> lo, hi;
        bool fits = true;
        for (int64_t j = 0; j < K; ++j) {
            const auto [a, b] = pulseRange(N, n, Tmin, Tmax, j, K);
            fits = fits && a <= b;
            lo.push_back(static_cast<Sum>(a));
            hi.push_back(static_cast<Sum>(b));
        }
        if (!fits) continue;
        ++compared;
        const Sum qlo = lo.front(), qhi = hi.back();
        const int spread = static_cast<int>(uniform(rng, 1, 50));
        std::vector<Sum> Q(static_cast<size_t>(qhi - qlo + 1) * Width);
        for (Sum& v : Q) v = randomScore<Sum>(rng, spread);
        const Sum predStart = static_cast<Sum>(uniform(rng, 0, 2) == 0 ? 3 : 999999999);
        const Sum endStart = static_cast<Sum>(uniform(rng, 0, 1) ? 9999999 : 999999999);
        const int lanes = static_cast<int>(uniform(rng, 1, Width));
        const std::span<const Sum> los(lo), his(hi);
        layeredTotalsLanes(los, his, Q.data(), qlo, Tmin, Tmax, predStart, lanesWork);
        std::vector<Sum> positions, distances;
        followLayers<Sum, Width>(los, his, lanesWork, lanes, Tmin, Tmax, endStart, predStart, positions, distances);
        for (int lane = 0; lane < lanes; ++lane) {
            layeredTotals<Sum, 1>(
                los, his,
                [&](size_t) {
                    return [&, lane](int64_t k, Sum& score) { score = Q[static_cast<size_t>((k - qlo) * Width + lane)]; };
                },
                Tmin, Tmax, predStart, oneWork);
            for (size_t j = 0; j < lo.size(); ++j)
                for (size_t i = 0; i < oneWork.D[j].size(); ++i)
                    ASSERT_EQ(lanesWork.D[j][i * Width + static_cast<size_t>(lane)], oneWork.D[j][i])
                        << "round " << round << " lane " << lane << " layer " << j << " entry " << i;
            std::vector<Sum> position, distance;
            followLayers<Sum, 1>(los, his, oneWork, 1, Tmin, Tmax, endStart, predStart, position, distance);
            ASSERT_EQ(distances[static_cast<size_t>(lane)], distance[0]) << "round " << round << " lane " << lane;
            for (size_t j = 0; j < lo.size(); ++j)
                ASSERT_EQ(positions[static_cast<size_t>(lane) * lo.size() + j], position[j])
                    << "round " << round << " lane " << lane << " pulse " << j;
        }
    }
    EXPECT_GT(compared, 100);
}
}  // namespace

TEST(ProgrammeLanesTest, WindowMinimaOfEveryLaneAreTheFirstSmallest) {
    std::mt19937 rng(5150);
    constexpr int Width = kRecordingLanes;
    WindowMinimum<int64_t, Width> window;
    for (int round = 0; round < 200; ++round) {
        const int64_t size = uniform(rng, 1, 300), width = uniform(rng, 1, 50);
        const int spread = static_cast<int>(uniform(rng, 1, 5));
        std::vector<int64_t> values(static_cast<size_t>(size) * Width);
        for (int64_t& v : values) v = uniform(rng, -spread, spread);
        window.reset(values.data(), width, size);
        for (int64_t to = -2; to < size; to += uniform(rng, 1, 3)) {
            Lanes<int64_t, Width> value{}, at{};
            const bool any = window.minimumUpTo(to, value, at);
            ASSERT_EQ(any, to >= 0);
            if (!any) continue;
            for (int lane = 0; lane < Width; ++lane) {
                int64_t expected = std::max<int64_t>(to - width + 1, 0);
                for (int64_t m = expected; m <= to; ++m)
                    if (values[static_cast<size_t>(m * Width + lane)] < values[static_cast<size_t>(expected * Width + lane)])
                        expected = m;
                ASSERT_EQ(at[lane], expected) << "round " << round << " to " << to << " lane " << lane;
                ASSERT_EQ(value[lane], values[static_cast<size_t>(expected * Width + lane)]);
            }
        }
    }
}

TEST(ProgrammeLanesTest, WalksOfSixteenWrappingLanesEqualOneCandidateWalks) { compareWalks<int32_t, kSeriesLanes>(71); }
TEST(ProgrammeLanesTest, WalksOfEightWideLanesEqualOneCandidateWalks) { compareWalks<int64_t, kRecordingLanes>(72); }
TEST(ProgrammeLanesTest, OneSweepWalksEqualTheThreeWalks) {
    compareOneSweep<1, int32_t>(75);
    compareOneSweep<1, uint16_t>(77);
    compareOneSweep<kRecordingLanes, int32_t>(78);  // lanes keep no steps
}
TEST(ProgrammeLanesTest, LayersOfSixteenWrappingLanesEqualOneCandidateLayers) { compareLayers<int32_t, kSeriesLanes>(73); }
TEST(ProgrammeLanesTest, LayersOfEightWideLanesEqualOneCandidateLayers) { compareLayers<int64_t, kRecordingLanes>(74); }

// A stop request ends a long walk within 65536 positions and a layered programme before its
// next layer, with false; without one they run to the end.
TEST(ProgrammeLanesTest, StopEndsTheProgrammesEarly) {
    const int64_t N = 300000, n = 10, Tmin = 40, Tmax = 100;
    const PositionWalks walks = positionWalks(N, n, Tmin, Tmax, (N + n - 1) / Tmax, (N + Tmin - n) / Tmin);
    const int64_t positions = N - n + 1;
    std::vector<int64_t> Q(static_cast<size_t>(positions) * kRecordingLanes, -5), R(Q.size()), B(Q.size());
    WindowMinimum<int64_t, kRecordingLanes> window;
    const int64_t unset = int64_t{1} << 62;
    std::atomic<bool> stop{false};
    EXPECT_TRUE(walkPulseChainsLanes(walks.firstOnly, walks.both, walks.laterOnly, Q.data(), Tmin, Tmax, unset, R.data(),
                                     B.data(), positions, window, &stop));
    EXPECT_LT(R[static_cast<size_t>(positions - n) * kRecordingLanes], 0);  // reached the end
    stop = true;
    EXPECT_FALSE(walkPulseChainsLanes(walks.firstOnly, walks.both, walks.laterOnly, Q.data(), Tmin, Tmax, unset,
                                      R.data(), B.data(), positions, window, &stop));
    for (int64_t l = 65536; l < positions; l += 997) ASSERT_EQ(R[static_cast<size_t>(l) * kRecordingLanes], unset) << l;

    std::vector<int64_t> lo, hi;
    for (int64_t j = 0; j < 3; ++j) {
        const auto [a, b] = pulseRange(250, n, Tmin, Tmax, j, 3);
        lo.push_back(a);
        hi.push_back(b);
    }
    LayeredWork<int64_t, 1> work;
    const auto rows = [](size_t) { return [](int64_t, int64_t& score) { score = -1; }; };
    const std::span<const int64_t> los(lo), his(hi);
    const auto layered = [&] { return layeredTotals<int64_t, 1>(los, his, rows, Tmin, Tmax, int64_t{0}, work, &stop); };
    EXPECT_FALSE(layered());
    stop = false;
    EXPECT_TRUE(layered());
    EXPECT_EQ(work.D[2][0], -3);
}
