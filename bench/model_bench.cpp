// Costs of the signal model: a series build and the noise over it are made for every trial of
// a statistical simulation, so they must stay small beside the processing.

#include <benchmark/benchmark.h>

#include <vector>

#include "core/settings.h"
#include "core/startup_model.h"

namespace {
struct Model {
    Settings s;
    RecordingMessageSink sink;
    Model() {
        deriveStartupSettings(s);
        prepareStartupModel(s, sink);
    }
};

void BM_CutOffSeries(benchmark::State& state) {
    Model m;
    m.s.dwSeriesSize = static_cast<uint32_t>(state.range(0));
    PulseCountBounds b{};
    pulseCountBounds(m.s.dwSeriesSize, m.s.wImpulseSize, m.s.wTmin, m.s.wTmax, b);
    std::vector<uint16_t> sequence(b.maximum, 1);
    std::unique_ptr<SeriesHeader> h;
    for (auto _ : state) {
        h = getCutOffSeries(m.sink, m.s.wAlphabetSize, m.s.alphabet, m.s.wImpulseSize, m.s.wTmin,
                            m.s.wTmax, m.s.dwSeriesSize, b.maximum, sequence, 128, 75, std::move(h), m.s.seeds);
        benchmark::DoNotOptimize(h->lpPureData);
    }
    freeSeriesHeader(std::move(h));
    state.SetItemsProcessed(state.iterations() * b.maximum);
}
BENCHMARK(BM_CutOffSeries)->Arg(200)->Arg(1200)->Arg(12000);

void BM_AddNoise(benchmark::State& state) {
    Model m;
    m.s.dwSeriesSize = static_cast<uint32_t>(state.range(0));
    makeSeriesOfCurrentType(m.s, m.sink);
    for (auto _ : state) {
        addNoise(m.sink, m.s.lpSeriesHeader.get(), 50, m.s.noiseSeed);
        benchmark::DoNotOptimize(m.s.lpSeriesHeader->lpNoisyData);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AddNoise)->Arg(1200)->Arg(12000);

void BM_BuildAlphabet(benchmark::State& state) {
    RecordingMessageSink sink;
    Alphabet alphabet;
    SeedCells seeds;
    for (auto _ : state) benchmark::DoNotOptimize(buildAlphabet(sink, 128, 20, 20, alphabet, seeds.alphabetSeed));
}
BENCHMARK(BM_BuildAlphabet);
}  // namespace
