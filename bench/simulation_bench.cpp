// Cost per run of the statistical simulation (make a series, add noise, process, score), run by
// the simulation driver on one thread over a grid of 7 pulse counts x 6 noise levels at the
// workbench's defaults (1200 samples, Tmin 40, Tmax 181, all 20 etalons required), for the
// main tasks; beside them a floor: the least work any exact method does for one run of joint
// detection of cut-off pulses, and the same grid with the straightforward detection of the
// tests. The ratios to the floor are printed at the end. The whole default simulation is timed
// as a command by simulate_timing.sh.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "bench/ratio_report.h"
#include "core/settings.h"
#include "core/startup_model.h"
#include "processing/chains.h"
#include "processing/routines.h"
#include "model/subsets.h"
#include "simulation/driver.h"
#include "simulation/shard.h"
#include "simulation/rest_error.h"
#include "tests/processing/reference_processing.h"

namespace {
constexpr int kPulseCounts = 7, kFirstPulses = 6, kPulsesStep = 4;  // 6, 10, ..., 30
constexpr int kLevels = 6, kFirstLevel = 0, kLevelStep = 20;        // 0, 20, ..., 100
constexpr int kRepeats = 4;

struct Startup {
    Settings s;
    RecordingMessageSink sink;
    Startup() {
        deriveStartupSettings(s);
        prepareStartupModel(s, sink);
    }
};

// The driver over the grid, on one thread unless said otherwise, as " Statistical Simulation"
// runs it.
void BM_SimulationRun(benchmark::State& state, uint16_t task, uint16_t seriesType, int threads = 1,
                      int repeats = kRepeats) {
    Startup w;
    Settings& s = w.s;
    const uint16_t energy = isCutOffSeries(seriesType) ? 75 : 100;
    std::unique_ptr<SeriesHeader> series = getCutOffSeriesHeader(w.sink, 60, 20, 40, 181, 1200, nullptr);
    std::unique_ptr<RestErrorHeader> acc = getRestErrHeader(w.sink, kPulseCounts, kLevels, repeats, nullptr);
    initRestErrHeader(w.sink, kPulseCounts, kFirstPulses, kPulsesStep, kLevels, kFirstLevel, kLevelStep, repeats,
                      acc.get());
    SimulationControl control;
    control.threads = threads;
    const SimulationSettings settings{static_cast<int16_t>(s.wAmplitude), s.subsetProceeding};
    for (auto _ : state)
        benchmark::DoNotOptimize(statCutoffSighting(w.sink, acc.get(), s.wAlphabetSize, s.alphabet, s.wRequiredCount,
                                                    s.lpRequiredList.get(), seriesType, task, energy, energy, series.get(),
                                                    s.noiseSeed, s.seeds, settings, control));
    if (!w.sink.messages.empty()) state.SkipWithError(w.sink.messages.front().text.c_str());
    state.counters["runs"] = kPulseCounts * kLevels * repeats;
    releaseRestErrHeader(w.sink, std::move(acc));
    freeSeriesHeader(std::move(series));
}
BENCHMARK_CAPTURE(BM_SimulationRun, task4_type8_default, 4, 8)->Unit(benchmark::kMillisecond);
// The default task on one and on two threads, by the wall clock (the ratio is the speed-up),
// with cells of 40 repeats so that the threads share each cell's work.
BENCHMARK_CAPTURE(BM_SimulationRun, threads1, 4, 8, 1, 40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_SimulationRun, threads2, 4, 8, 2, 40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_SimulationRun, task4_type4, 4, 4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SimulationRun, task1_type2, 1, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SimulationRun, task2_type8, 2, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SimulationRun, task2_type4, 2, 4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SimulationRun, task2_type1, 2, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SimulationRun, task2_type2, 2, 2)->Unit(benchmark::kMillisecond);

// The same grid's repeats made and scored by hand, detected by the straightforward version.
void BM_SimulationRunStraightforward(benchmark::State& state) {
    Startup w;
    Settings& s = w.s;
    std::unique_ptr<SeriesHeader> series = getCutOffSeriesHeader(w.sink, 60, 20, 40, 181, 1200, nullptr);
    std::unique_ptr<ChainsHeader> chains = getChainsHeader(w.sink, 10, series->wMaxPulses, nullptr);
    const std::vector<uint16_t> candidates(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCount);
    std::vector<uint16_t> sequence(60, 1);
    int64_t restoring = 0;
    for (auto _ : state)
        for (int j = 0; j < kPulseCounts; ++j)
            for (int k = 0; k < kLevels; ++k) {
                series = getCutOffSeries(w.sink, 20, s.alphabet, 20, 40, 181, 1200,
                                         static_cast<uint16_t>(kFirstPulses + kPulsesStep * j), sequence, 128, 75,
                                         std::move(series), s.seeds);
                addNoise(w.sink, series.get(), static_cast<int16_t>(kFirstLevel + kLevelStep * k), s.noiseSeed);
                referenceDetectPulsesUnfixed(w.sink, s.alphabet, candidates, 40, 181, 75, chains.get(), *series.get());
                restoring += seriesRestorationError(*series);
            }
    benchmark::DoNotOptimize(restoring);
    state.counters["runs"] = kPulseCounts * kLevels;
    releaseChainsHeader(std::move(chains));
    freeSeriesHeader(std::move(series));
}
BENCHMARK(BM_SimulationRunStraightforward)->Unit(benchmark::kMillisecond)->Iterations(1);

// ---- The floor ------------------------------------------------------------------------------

// What an exact method cannot avoid for one run of joint detection of cut-off pulses: the noise,
// the best etalon and admissible cut at every start (prefix sums of the terms x (x - 2 y),
// vectorised over the starts, and for each admissible start the smallest prefix sum over its
// admissible ends), and one O(N) pass of the unknown-count programme with a sliding-window
// minimum over [l - Tmax, l - Tmin]. No interval sets, no chains table, no series making.
struct FloorEtalon {
    std::vector<int32_t> xx, x2;  // x[c]^2 and 2 x[c]
    std::vector<int> tMin;        // per admissible start: the smallest admissible end
    int lowestEnd;
};

std::vector<FloorEtalon> floorEtalons(const Alphabet& alphabet, const std::vector<uint16_t>& list, int n, int pct) {
    std::vector<FloorEtalon> out;
    for (const uint16_t v : list) {
        const int16_t* x = alphabet[v - 1].lpData.get();
        FloorEtalon e;
        std::vector<int32_t> P(static_cast<size_t>(n) + 1, 0);
        for (int c = 0; c < n; ++c) {
            e.xx.push_back(x[c] * x[c]);
            e.x2.push_back(2 * x[c]);
            P[c + 1] = P[c] + x[c] * x[c];
        }
        const int32_t thr = P[n] * pct / 100;
        e.lowestEnd = n - 1;
        for (int s = 0; s < n && P[n] - P[s] > thr; ++s) {
            int t = s;
            while (t < n && P[t + 1] - P[s] <= thr) ++t;
            if (t == n) break;
            e.tMin.push_back(t);
            e.lowestEnd = std::min(e.lowestEnd, t);
        }
        out.push_back(std::move(e));
    }
    return out;
}

// What a rank spends reaching the generators' state at its first cell, for the last cell of the
// default grid (25 pulse counts x 29 noise levels) with state.range(0) repeats per cell: 100 is
// the default grid, 10 000 a grid a hundred times larger. state.range(1) = 1 lays a tuple in
// "Multiple random" mode into every series (tuple detection), the one layout whose draws must be
// made again; 0 is the default task, reached by jumps alone.
void BM_ReachLastCell(benchmark::State& state) {
    Settings s;
    RecordingMessageSink sink;
    deriveStartupSettings(s);
    prepareStartupModel(s, sink);
    const int repeats = static_cast<int>(state.range(0));
    const bool tuples = state.range(1) != 0;
    std::unique_ptr<SeriesHeader> series = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 1200, nullptr);
    std::unique_ptr<RestErrorHeader> acc = getRestErrHeader(sink, 25, 29, repeats, nullptr);
    initRestErrHeader(sink, 25, 6, 1, 29, 0, 5, repeats, acc.get());
    if (tuples) setSelectedSubset(sink, std::vector<int32_t>{3, 5, 7}, 3, 1, series.get());
    const SeedCells start = s.seeds;
    const int16_t noiseStart = s.noiseSeed;
    for (auto _ : state) {
        SeedCells seeds = start;
        int16_t noise = noiseStart;
        reachSimulationCell(*acc, s.wRequiredCount, s.lpRequiredList.get(), tuples ? 36 : 4, *series, 25 * 29 - 1,
                            seeds, noise);
        benchmark::DoNotOptimize(noise);
    }
    state.counters["runs_skipped"] = static_cast<double>(25 * 29 - 1) * repeats;
    releaseRestErrHeader(sink, std::move(acc));
    freeSeriesHeader(std::move(series));
}
BENCHMARK(BM_ReachLastCell)->Args({100, 0})->Args({10000, 0})->Args({100, 1})->Args({10000, 1})
    ->Unit(benchmark::kMicrosecond);


#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define FLOOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define FLOOR_CLONES
#endif
constexpr int kFloorLanes = 16;
typedef int32_t FloorLanes __attribute__((vector_size(kFloorLanes * sizeof(int32_t))));
typedef int16_t FloorSamples __attribute__((vector_size(kFloorLanes * sizeof(int16_t))));

// q[l] = the smallest score over the etalons, whole or admissibly cut, at every start l: the
// starts in vector registers, the prefix sums of the terms stored once per etalon sample, the
// admissible ends swept once backward with a running minimum. Values only: the floor does not
// even keep which etalon and cut won.
FLOOR_CLONES void floorMatch(const std::vector<FloorEtalon>& etalons, const int16_t* y, int n, int positions,
                             int32_t* F, int32_t* q) {
    for (int i0 = 0; i0 + kFloorLanes <= positions + kFloorLanes - 1; i0 += kFloorLanes) {
        FloorLanes best = FloorLanes{} + INT32_MAX;
        for (const FloorEtalon& e : etalons) {
            FloorLanes acc = {};
            for (int c = 0; c < n; ++c) {
                std::memcpy(F + c * kFloorLanes, &acc, sizeof acc);
                FloorSamples ys;
                std::memcpy(&ys, y + i0 + c, sizeof ys);
                acc += e.xx[c] - e.x2[c] * __builtin_convertvector(ys, FloorLanes);
            }
            FloorLanes runMin = acc, cut = acc;
            size_t s = e.tMin.size();
            for (int c = n; c > e.lowestEnd; --c) {
                FloorLanes Fc;
                std::memcpy(&Fc, F + c * kFloorLanes, sizeof Fc);
                if (c < n) runMin = Fc < runMin ? Fc : runMin;
                for (; s > 0 && e.tMin[s - 1] + 1 == c; --s) {
                    FloorLanes Fs;
                    std::memcpy(&Fs, F + (s - 1) * kFloorLanes, sizeof Fs);
                    const FloorLanes score = runMin - Fs;
                    cut = score < cut ? score : cut;
                }
            }
            best = cut < best ? cut : best;
        }
        std::memcpy(q + i0, &best, sizeof best);
    }
}

void BM_Floor(benchmark::State& state) {
    Startup w;
    Settings& s = w.s;
    constexpr int N = 1200, n = 20, Tmin = 40, Tmax = 181, positions = N - n + 1;
    std::vector<uint16_t> sequence(60, 1);
    std::unique_ptr<SeriesHeader> series = getCutOffSeries(w.sink, 20, s.alphabet, n, Tmin, Tmax, N, 18, sequence, 128, 75, nullptr, s.seeds);
    const std::vector<uint16_t> list(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCount);
    const std::vector<FloorEtalon> etalons = floorEtalons(s.alphabet, list, n, 75);
    // The samples padded so that the last vector of starts reads inside the buffer.
    std::vector<int16_t> y(static_cast<size_t>(N + kFloorLanes), 0);
    std::vector<int32_t> F(static_cast<size_t>(n + 1) * kFloorLanes);
    std::vector<int32_t> q(positions + kFloorLanes), r(positions);
    std::deque<int32_t> window;
    int64_t total = 0;
    for (auto _ : state) {
        addNoise(w.sink, series.get(), 20, s.noiseSeed);
        std::copy(series->lpNoisyData, series->lpNoisyData + N, y.begin());
        floorMatch(etalons, y.data(), n, positions, F.data(), q.data());
        window.clear();
        for (int l = 0; l < positions; ++l) {
            if (l - Tmin >= 0) {
                while (!window.empty() && r[window.back()] > r[l - Tmin]) window.pop_back();
                window.push_back(l - Tmin);
            }
            while (!window.empty() && window.front() < l - Tmax) window.pop_front();
            r[l] = q[l] + (window.empty() ? 0 : std::min(0, r[window.front()]));
        }
        total += *std::min_element(r.begin() + (N - Tmax), r.end());
    }
    benchmark::DoNotOptimize(total);
    state.counters["runs"] = 1;
    freeSeriesHeader(std::move(series));
}
BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv) {
    std::vector<bench_ratio::Ratio> ratios;
    for (const char* c : {"task4_type8_default", "task4_type4", "task1_type2", "task2_type8", "task2_type4",
                          "task2_type1", "task2_type2"})
        ratios.push_back({std::string("per run / floor: ") + c, std::string("BM_SimulationRun/") + c, "BM_Floor"});
    ratios.push_back({"speed-up from 1 to 2 threads, task 4, type 8", "BM_SimulationRun/threads1/real_time",
                      "BM_SimulationRun/threads2/real_time"});
    ratios.push_back({"per run / floor: straightforward task 4, type 8",
                      "BM_SimulationRunStraightforward/iterations:1", "BM_Floor"});
    ratios.push_back({"straightforward / fast: task 4, type 8", "BM_SimulationRunStraightforward/iterations:1",
                      "BM_SimulationRun/task4_type8_default"});
    return bench_ratio::runWithRatios(argc, argv, ratios);
}
