// Costs of the processing routines at the workbench's defaults: 1200 samples, Tmin 40,
// Tmax 181, every etalon a candidate, noise 20; saved energy 75 for cut-off series, 100 for
// whole ones. The local match, the inner loop of everything, is also timed against the
// straightforward version that sums every cut afresh.

#include <benchmark/benchmark.h>

#include <vector>

#include "core/settings.h"
#include "core/startup_model.h"
#include "model/subsets.h"
#include "processing/dispatch.h"
#include "processing/local_match.h"
#include "tests/processing/reference_processing.h"

namespace {
struct Fixture {
    Settings s;
    RecordingMessageSink sink;
    ChainsHeader* chains = nullptr;
    std::vector<uint16_t> candidates;
    std::vector<int32_t> tuple{3, 5, 7};
    std::vector<int32_t> other{2, 4};
    std::vector<std::span<const int32_t>> tuples{tuple, other};

    Fixture(uint32_t seriesType, uint16_t savedEnergy) {
        seedCells = SeedCells{};
        deriveStartupSettings(s);
        prepareStartupModel(s, sink);
        s.seriesType = seriesType;
        s.wSavedEnergyCreate = savedEnergy;
        s.wSeriesPulses = 18;
        if (seriesType == 36 || seriesType == 40) {
            s.lpSeriesHeader = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 1200, nullptr);
            setSelectedSubset(sink, tuple, 4, 1, s.lpSeriesHeader);
        }
        makeSeriesOfCurrentType(s, sink);
        addNoise(sink, s.lpSeriesHeader, 20, s.noiseSeed);
        candidates.assign(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCount);
        chains = getChainsHeader(sink, 10, s.wMaxPulses, nullptr);
    }
    ~Fixture() { releaseChainsHeader(chains); }
};

void runRoutineBench(benchmark::State& state, uint16_t task, uint32_t seriesType, uint16_t pct) {
    Fixture f(seriesType, pct);
    ProcessingInput in;
    in.candidates = f.candidates;
    in.tuple = f.tuple;
    in.tuples = f.tuples;
    in.mode = 2;
    in.Tmin = 40;
    in.Tmax = 181;
    in.pct = pct;
    const Routine routine = selectRoutine(task, seriesType);
    for (auto _ : state)
        benchmark::DoNotOptimize(runRoutine(routine, f.sink, f.s.alphabet, in, f.chains, *f.s.lpSeriesHeader));
    state.SetLabel(routineName(routine));
}

BENCHMARK_CAPTURE(runRoutineBench, detectPulsesUnfixed, 4, 8, 75)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runRoutineBench, detectPulsesFixed, 4, 2, 75)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runRoutineBench, detectPulsesUnfixedWhole, 4, 4, 100)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runRoutineBench, recognizePulsesUnfixed, 2, 8, 75)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runRoutineBench, recognizePulsesFixed, 2, 2, 75)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runRoutineBench, detectTuplesUnfixed, 36, 40, 100)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runRoutineBench, detectTuplesFixed, 36, 36, 100)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runRoutineBench, recognizeTuplesUnfixed, 40, 40, 100)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runRoutineBench, recognizeTuplesFixed, 40, 36, 100)->Unit(benchmark::kMillisecond);

// One local match per position of the series, every etalon a candidate.
void BM_MatchFast(benchmark::State& state) {
    Fixture f(8, 75);
    LocalMatcher matcher;
    matcher.prepare(f.s.alphabet, f.candidates, 20, static_cast<uint16_t>(state.range(0)));
    const SeriesHeader& h = *f.s.lpSeriesHeader;
    for (auto _ : state)
        for (int32_t l = 0; l + 20 <= h.dwSeriesSize; ++l) benchmark::DoNotOptimize(matcher.match(h.lpNoisyData, l));
}
BENCHMARK(BM_MatchFast)->Arg(100)->Arg(75)->Arg(0)->Unit(benchmark::kMillisecond);

// The same matches a block of positions at a time, as the routines compute them.
void BM_MatchRange(benchmark::State& state) {
    Fixture f(8, 75);
    LocalMatcher matcher;
    matcher.prepare(f.s.alphabet, f.candidates, 20, static_cast<uint16_t>(state.range(0)));
    const SeriesHeader& h = *f.s.lpSeriesHeader;
    std::vector<LocalMatch> out(static_cast<size_t>(h.dwSeriesSize));
    for (auto _ : state) {
        matcher.matchRange(h.lpNoisyData, 0, h.dwSeriesSize - 20, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_MatchRange)->Arg(100)->Arg(75)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_MatchStraightforward(benchmark::State& state) {
    Fixture f(8, 75);
    const SeriesHeader& h = *f.s.lpSeriesHeader;
    const uint16_t pct = static_cast<uint16_t>(state.range(0));
    for (auto _ : state)
        for (int32_t l = 0; l + 20 <= h.dwSeriesSize; ++l)
            benchmark::DoNotOptimize(referenceMatchLocally(f.s.alphabet, f.candidates, 20, pct, h.lpNoisyData, l));
}
BENCHMARK(BM_MatchStraightforward)->Arg(100)->Arg(75)->Arg(0)->Unit(benchmark::kMillisecond);
}  // namespace
