// One grid of the statistical simulation's repeats (make a series, add noise, detect, score),
// with the fast routine and with the straightforward one, for the ratio between them. The whole
// default simulation is timed as a command by simulate_timing.sh.

#include <benchmark/benchmark.h>

#include <vector>

#include "core/settings.h"
#include "core/startup_model.h"
#include "processing/chains.h"
#include "processing/routines.h"
#include "simulation/driver.h"
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
}  // namespace
