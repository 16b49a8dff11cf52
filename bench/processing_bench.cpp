// Costs of the processing routines at the workbench's defaults: 1200 samples, Tmin 40,
// Tmax 181, every etalon a candidate, noise 20; saved energy 75 for cut-off series, 100 for
// whole ones. Each routine is timed fast and straightforward (the tests' reference version),
// and so is the local match, the inner loop of everything; the ratios are printed at the end.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/ratio_report.h"

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
    std::unique_ptr<ChainsHeader> chains;
    std::vector<uint16_t> candidates;
    std::vector<int32_t> tuple{3, 5, 7};
    std::vector<int32_t> other{2, 4};
    std::vector<std::span<const int32_t>> tuples{tuple, other};

    Fixture(uint32_t seriesType, uint16_t savedEnergy) {
        deriveStartupSettings(s);
        prepareStartupModel(s, sink);
        s.seriesType = static_cast<SeriesType>(seriesType);
        s.wSavedEnergyCreate = savedEnergy;
        s.wSeriesPulses = 18;
        if (isTupleSeries(seriesType)) {
            s.lpSeriesHeader = getCutOffSeriesHeader(sink, 20, 20, 40, 181, 1200, nullptr);
            setSelectedSubset(sink, tuple, 4, 1, s.lpSeriesHeader.get());
        }
        makeSeriesOfCurrentType(s, sink);
        addNoise(sink, s.lpSeriesHeader.get(), 20, s.noiseSeed);
        candidates.assign(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCount);
        chains = getChainsHeader(sink, 10, s.wMaxPulses, nullptr);
    }
    ~Fixture() { releaseChainsHeader(std::move(chains)); }
};

int32_t runReference(Routine routine, MessageSink& w, const Alphabet& a, const ProcessingInput& in,
                     ChainsHeader* c, SeriesHeader& h) {
    switch (routine) {
        case Routine::detectPulsesUnfixed:
            return referenceDetectPulsesUnfixed(w, a, in.candidates, in.Tmin, in.Tmax, in.pct, c, h);
        case Routine::detectPulsesFixed:
            return referenceDetectPulsesFixed(w, a, in.candidates, in.Tmin, in.Tmax, in.pct, c, h);
        case Routine::recognizePulsesUnfixed:
            return referenceRecognizePulsesUnfixed(w, a, in.candidates, in.Tmin, in.Tmax, in.pct, c, h);
        case Routine::recognizePulsesFixed:
            return referenceRecognizePulsesFixed(w, a, in.candidates, in.Tmin, in.Tmax, in.pct, c, h);
        case Routine::detectTuplesUnfixed:
            return referenceDetectTuplesUnfixed(w, a, in.tuple, in.mode, in.Tmin, in.Tmax, in.pct, c, h);
        case Routine::detectTuplesFixed:
            return referenceDetectTuplesFixed(w, a, in.tuple, in.mode, in.Tmin, in.Tmax, in.pct, c, h);
        case Routine::recognizeTuplesUnfixed:
            return referenceRecognizeTuplesUnfixed(w, a, in.tuples, in.mode, in.Tmin, in.Tmax, in.pct, c, h);
        case Routine::recognizeTuplesFixed:
            return referenceRecognizeTuplesFixed(w, a, in.tuples, in.mode, in.Tmin, in.Tmax, in.pct, c, h);
    }
    return 0;
}

// One routine at the defaults, fast (the production routine) or straightforward (the tests'
// reference version, which sums every cut afresh and scans every window).
void runRoutineBench(benchmark::State& state, uint16_t task, uint32_t seriesType, uint16_t pct, bool fast) {
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
        benchmark::DoNotOptimize(fast ? runRoutine(routine, f.sink, f.s.alphabet, in, f.chains.get(), *f.s.lpSeriesHeader)
                                      : runReference(routine, f.sink, f.s.alphabet, in, f.chains.get(), *f.s.lpSeriesHeader));
    state.SetLabel(routineName(routine));
}

struct RoutineCase {
    const char* name;
    uint16_t task;
    uint32_t seriesType;
    uint16_t pct;
};
constexpr RoutineCase kRoutineCases[] = {
    {"detectPulsesUnfixed", 4, 8, 75},       {"detectPulsesUnfixedWhole", 4, 4, 100},
    {"detectPulsesFixed", 4, 2, 75},         {"recognizePulsesUnfixed", 2, 8, 75},
    {"recognizePulsesFixed", 2, 2, 75},      {"detectTuplesUnfixed", 36, 40, 100},
    {"detectTuplesFixed", 36, 36, 100},      {"recognizeTuplesUnfixed", 40, 40, 100},
    {"recognizeTuplesFixed", 40, 36, 100},
};

// The straightforward versions take up to seconds a call: a few iterations are enough.
const bool registered = [] {
    for (const RoutineCase& c : kRoutineCases) {
        benchmark::RegisterBenchmark((std::string("fast/") + c.name).c_str(), runRoutineBench, c.task, c.seriesType,
                                     c.pct, true)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("straightforward/") + c.name).c_str(), runRoutineBench, c.task,
                                     c.seriesType, c.pct, false)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
    }
    return true;
}();

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
BENCHMARK(BM_MatchStraightforward)->Arg(100)->Arg(75)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
}  // namespace

int main(int argc, char** argv) {
    std::vector<bench_ratio::Ratio> ratios;
    for (const RoutineCase& c : kRoutineCases)
        ratios.push_back({std::string("straightforward / fast: ") + c.name,
                          std::string("straightforward/") + c.name + "/iterations:2", std::string("fast/") + c.name});
    for (const char* pct : {"100", "75", "0"})
        ratios.push_back({std::string("straightforward / fast: local match, pct ") + pct,
                          std::string("BM_MatchStraightforward/") + pct + "/iterations:3",
                          std::string("BM_MatchRange/") + pct});
    return bench_ratio::runWithRatios(argc, argv, ratios);
}
