// Exact detection in long recordings: joint detection and identification of whole pulses and of
// cut-off pulses (saved energy 75 %) with 20 shapes of 20 samples, unknown count, gaps 40..181,
// on one and two threads, and recognition, beside a plain matched filter (the correlation of
// every shape at every position) on the same signal. The ratios to the filter and of one thread
// to two are printed at the end; the peak memory of the process is a counter.
//
//   scripts/bench detect_bench                              (10^6 and 10^7 samples)
//   scripts/bench detect_bench --benchmark_filter=/1000000/

#include <benchmark/benchmark.h>

#include "bench/ratio_report.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
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

void runDetect(benchmark::State& state, DetectTask task) {
    const Recording& r = recording(state.range(0));
    DetectRequest request;
    request.task = task;
    request.signal = r.signal;
    for (const auto& shape : r.shapes) request.shapes.emplace_back(shape);
    for (int e = 0; e < kShapes; ++e) request.candidates.push_back(e);
    request.tmin = 40;
    request.tmax = 181;
    request.savedEnergy = static_cast<int32_t>(state.range(2));
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

// The yardstick: a plain matched filter, the correlation of every shape at every position and
// the largest over the shapes per position, as one would write it in straightforward C++:
// positions in blocks of 4096 so that the sums stay in cache while the shapes' samples pass over
// them, and the compiler (-O3 -march=native for this file) vectorises along the positions. The
// sums are floats, the fastest plain choice (they round where the detection's sums are exact).
void BM_MatchedFilter(benchmark::State& state) {
    const Recording& r = recording(state.range(0));
    const int64_t positions = static_cast<int64_t>(r.signal.size()) - kLength + 1;
    constexpr int64_t kBlock = 4096;
    std::vector<float> best(static_cast<size_t>(positions)), acc(kBlock), y(kBlock + kLength);
    for (auto _ : state) {
        for (int64_t b0 = 0; b0 < positions; b0 += kBlock) {
            const int64_t count = std::min(kBlock, positions - b0);
            for (int64_t i = 0; i < count + kLength - 1; ++i) y[static_cast<size_t>(i)] = r.signal[static_cast<size_t>(b0 + i)];
            float* out = best.data() + b0;
            std::fill(out, out + count, -HUGE_VALF);
            for (const auto& x : r.shapes) {
                std::fill(acc.begin(), acc.begin() + count, 0.0f);
                for (int c = 0; c < kLength; ++c) {
                    const float xc = x[static_cast<size_t>(c)];
                    const float* yc = y.data() + c;
                    for (int64_t i = 0; i < count; ++i) acc[static_cast<size_t>(i)] += xc * yc[i];
                }
                for (int64_t i = 0; i < count; ++i) out[i] = std::max(out[i], acc[static_cast<size_t>(i)]);
            }
        }
        benchmark::DoNotOptimize(best.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_MatchedFilter)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
// Arguments: samples, threads, saved energy (100: whole pulses, 75: cut pulses).
BENCHMARK(BM_Detect)
    ->Args({1000000, 1, 100})
    ->Args({1000000, 1, 75})
    ->Args({10000000, 1, 75})
    ->Args({10000000, 2, 75})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Recognize)
    ->Args({1000000, 1, 100})
    ->Args({1000000, 1, 75})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(3);
}  // namespace

int main(int argc, char** argv) {
    const std::string t = "/process_time/real_time", filter = "BM_MatchedFilter/1000000" + t;
    return bench_ratio::runWithRatios(
            argc, argv,
            {{"whole pulses / matched filter", "BM_Detect/1000000/1/100/iterations:3" + t, filter},
             {"cut pulses / matched filter", "BM_Detect/1000000/1/75/iterations:3" + t, filter},
             {"cut pulses / matched filter, 10^7", "BM_Detect/10000000/1/75/iterations:3" + t,
              "BM_MatchedFilter/10000000" + t},
             {"recognition, whole / matched filter", "BM_Recognize/1000000/1/100/iterations:3" + t, filter},
             {"recognition, cut / matched filter", "BM_Recognize/1000000/1/75/iterations:3" + t, filter},
             {"one thread / two threads, 10^7", "BM_Detect/10000000/1/75/iterations:3" + t,
              "BM_Detect/10000000/2/75/iterations:3" + t}});
}
