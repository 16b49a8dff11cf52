// Exact detection in long recordings: joint detection and identification of cut-off pulses
// (saved energy 75 %) with 20 shapes of 20 samples, unknown count, gaps 40..181, on one thread,
// beside a plain matched filter (the correlation of every shape at every position) on the same
// signal. The ratio of the two is printed at the end; the peak memory of the process is a
// counter.
//
//   build/release/bench/detect_bench                       (10^6 and 10^7 samples)
//   build/release/bench/detect_bench --benchmark_filter=/1000000$

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <random>
#include <vector>

#include "core/detect.h"
#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/random.h"

namespace {
constexpr int kShapes = 20, kLength = 20;

struct Recording {
    std::vector<std::vector<int16_t>> shapes;
    std::vector<int16_t> signal;
};

// The workbench's alphabet at amplitude 8000, and a signal of n samples holding its shapes, cut
// to keep at least 75 % of their energy, at gaps of 40..181 samples, in Gaussian noise.
const Recording& recording(int64_t n) {
    static std::map<int64_t, Recording> made;
    if (auto it = made.find(n); it != made.end()) return it->second;
    Recording& r = made[n];
    RecordingMessageSink sink;
    Alphabet alphabet{};
    int16_t alphabetCell = SeedCells{}.alphabetSeed;
    buildAlphabet(sink, 8000, kShapes, kLength, alphabet, alphabetCell);
    for (int e = 0; e < kShapes; ++e) r.shapes.emplace_back(alphabet[e].lpData.get(), alphabet[e].lpData.get() + kLength);
    releaseAlphabet(kShapes, alphabet);

    std::mt19937 rng(2024);
    std::normal_distribution<double> noise(0.0, 1500.0);
    std::vector<double> y(static_cast<size_t>(n));
    for (double& v : y) v = noise(rng);
    for (int64_t p = std::uniform_int_distribution<int64_t>(0, 150)(rng); p + kLength <= n;
         p += std::uniform_int_distribution<int64_t>(40, 181)(rng)) {
        const auto& x = r.shapes[std::uniform_int_distribution<size_t>(0, kShapes - 1)(rng)];
        const int s = std::uniform_int_distribution<int>(0, 2)(rng), t = std::uniform_int_distribution<int>(16, 19)(rng);
        for (int c = s; c <= t; ++c) y[static_cast<size_t>(p + c)] += x[static_cast<size_t>(c)];
    }
    r.signal.resize(y.size());
    for (size_t i = 0; i < y.size(); ++i) r.signal[i] = static_cast<int16_t>(std::clamp(std::lround(y[i]), -32767L, 32767L));
    return r;
}

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

std::map<int64_t, double> detectSeconds, filterSeconds;

void runDetect(benchmark::State& state, DetectTask task) {
    const Recording& r = recording(state.range(0));
    DetectRequest request;
    request.task = task;
    request.signal = r.signal;
    for (const auto& shape : r.shapes) request.shapes.emplace_back(shape);
    for (int e = 0; e < kShapes; ++e) request.candidates.push_back(e);
    request.tmin = 40;
    request.tmax = 181;
    request.savedEnergy = 75;
    request.threads = static_cast<int32_t>(state.range(1));
    const std::atomic<bool> cancel{false};
    size_t pulses = 0;
    for (auto _ : state) {
        const DetectResult result = detectInRecording(request, {}, cancel);
        pulses = result.pulses.size();
        benchmark::DoNotOptimize(result.distance);
    }
    state.counters["pulses"] = static_cast<double>(pulses);
    state.counters["peak_MB"] = peakMegabytes();
}

void BM_Detect(benchmark::State& state) { runDetect(state, DetectTask::joint); }

// Recognition of the one shape the recording holds, every shape a candidate in turn (the
// recording holds them all, so this is the cost of the programme per candidate, not a finding).
void BM_Recognize(benchmark::State& state) { runDetect(state, DetectTask::recognize); }

// The plain matched filter: the correlation of every shape at every position (64-bit sums),
// the largest over the shapes kept per position. Blocks of positions stay in cache while the
// shapes' samples pass over them, so the compiler vectorises along the positions.
void BM_MatchedFilter(benchmark::State& state) {
    const Recording& r = recording(state.range(0));
    const int64_t positions = static_cast<int64_t>(r.signal.size()) - kLength + 1;
    constexpr int64_t kBlock = 4096;
    std::vector<int64_t> best(static_cast<size_t>(positions));
    std::vector<int64_t> acc(kBlock);
    for (auto _ : state) {
        for (int64_t b0 = 0; b0 < positions; b0 += kBlock) {
            const int64_t count = std::min(kBlock, positions - b0);
            const int16_t* y = r.signal.data() + b0;
            int64_t* out = best.data() + b0;
            for (int64_t i = 0; i < count; ++i) out[i] = INT64_MIN;
            for (const auto& x : r.shapes) {
                std::fill(acc.begin(), acc.begin() + count, 0);
                for (int c = 0; c < kLength; ++c) {
                    const int32_t xc = x[static_cast<size_t>(c)];
                    const int16_t* yc = y + c;
                    for (int64_t i = 0; i < count; ++i) acc[static_cast<size_t>(i)] += xc * static_cast<int32_t>(yc[i]);
                }
                for (int64_t i = 0; i < count; ++i) out[i] = std::max(out[i], acc[static_cast<size_t>(i)]);
            }
        }
        benchmark::DoNotOptimize(best.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_MatchedFilter)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Detect)
    ->Args({1000000, 1})
    ->Args({10000000, 1})
    ->Args({10000000, 2})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Recognize)
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(3);

// Collects the times of the runs and prints detect against the matched filter.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const std::string& args = run.run_name.args;  // "N" or "N/threads"
            const int64_t n = std::stoll(args);
            const double seconds = run.GetAdjustedCPUTime() / 1e3;  // milliseconds of processor time
            if (run.run_name.function_name == "BM_MatchedFilter") filterSeconds[n] = seconds;
            if (run.run_name.function_name == "BM_Detect" && args.size() > 2 && args.compare(args.size() - 2, 2, "/1") == 0)
                detectSeconds[n] = seconds;
        }
    }
};
}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-12s %14s %18s %8s\n", "samples", "detect (s)", "matched filter (s)", "ratio");
    for (const auto& [n, seconds] : detectSeconds)
        if (filterSeconds.count(n))
            std::printf("%-12lld %14.3f %18.3f %8.2f\n", static_cast<long long>(n), seconds, filterSeconds[n],
                        seconds / filterSeconds[n]);
    benchmark::Shutdown();
    return 0;
}
