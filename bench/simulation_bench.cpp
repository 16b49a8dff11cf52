// One grid of the statistical simulation's repeats (make a series, add noise, detect, score),
// with the fast routine and with the straightforward one, for the ratio between them. The whole
// default simulation is timed as a command by simulate_timing.sh.

#include <benchmark/benchmark.h>

#include <vector>

#include "core/settings.h"
#include "core/startup_model.h"
#include "processing/chains.h"
#include "processing/routines.h"
#include "model/subsets.h"
#include "simulation/driver.h"
#include "simulation/shard.h"
#include "tests/processing/reference_processing.h"

namespace {
template <typename Detect>
void runGrid(benchmark::State& state, Detect detect) {
    Settings s;
    RecordingMessageSink sink;
    deriveStartupSettings(s);
    prepareStartupModel(s, sink);
    SeriesHeader* series = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 1200, nullptr);
    ChainsHeader* chains = getChainsHeader(sink, 10, series->wMaxPulses, nullptr);
    const std::vector<uint16_t> candidates(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCount);
    std::vector<uint16_t> sequence(60, 1);
    int64_t restoring = 0;
    for (auto _ : state) {
        for (uint16_t K : {6, 14, 22, 30})
            for (int16_t sigma : {0, 40, 80}) {
                series = getCutOffSeries(sink, 20, s.alphabet, 20, 40, 181, 1200, K, sequence, 128, 75, series);
                addNoise(sink, series, sigma, s.noiseSeed);
                detect(sink, s.alphabet, candidates, chains, *series);
                restoring += seriesRestorationError(*series);
            }
    }
    benchmark::DoNotOptimize(restoring);
    state.SetItemsProcessed(state.iterations() * 12);
    releaseChainsHeader(chains);
    freeSeriesHeader(series);
}

void BM_SimulationGridFast(benchmark::State& state) {
    runGrid(state, [](MessageSink& w, const Alphabet& a, std::span<const uint16_t> list, ChainsHeader* c,
                      SeriesHeader& s) { detectPulsesUnfixed(w, a, list, 40, 181, 75, c, s); });
}
BENCHMARK(BM_SimulationGridFast)->Unit(benchmark::kMillisecond);

void BM_SimulationGridStraightforward(benchmark::State& state) {
    runGrid(state, [](MessageSink& w, const Alphabet& a, std::span<const uint16_t> list, ChainsHeader* c,
                      SeriesHeader& s) { referenceDetectPulsesUnfixed(w, a, list, 40, 181, 75, c, s); });
}
BENCHMARK(BM_SimulationGridStraightforward)->Unit(benchmark::kMillisecond);

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
    SeriesHeader* series = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 1200, nullptr);
    RestErrorHeader* acc = getRestErrHeader(sink, 25, 29, repeats, nullptr);
    initRestErrHeader(sink, 25, 6, 1, 29, 0, 5, repeats, acc);
    if (tuples) setSelectedSubset(sink, std::vector<int32_t>{3, 5, 7}, 3, 1, series);
    const SeedCells start = seedCells;
    const int16_t noiseStart = s.noiseSeed;
    for (auto _ : state) {
        seedCells = start;
        int16_t noise = noiseStart;
        reachSimulationCell(*acc, s.wRequiredCount, s.lpRequiredList.get(), tuples ? 36 : 4, *series, 25 * 29 - 1,
                            noise);
        benchmark::DoNotOptimize(noise);
    }
    state.counters["runs_skipped"] = static_cast<double>(25 * 29 - 1) * repeats;
    releaseRestErrHeader(sink, acc);
    freeSeriesHeader(series);
}
BENCHMARK(BM_ReachLastCell)->Args({100, 0})->Args({10000, 0})->Args({100, 1})->Args({10000, 1})
    ->Unit(benchmark::kMicrosecond);
}  // namespace
