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
#include "core/learn.h"
#include "core/posterior.h"
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

// 256 shapes: the 20 of the alphabet and mixtures of two of them, on the recording's scale.
const std::vector<std::vector<int16_t>>& manyShapes(const Recording& r) {
    static std::vector<std::vector<int16_t>> shapes;
    if (!shapes.empty()) return shapes;
    shapes = r.shapes;
    for (size_t k = 0; shapes.size() < 256; ++k) {
        const auto& a = r.shapes[k % kShapes];
        const auto& b = r.shapes[(k * 7 + 3) % kShapes];
        std::vector<int16_t> mix(kLength);
        for (int c = 0; c < kLength; ++c) mix[static_cast<size_t>(c)] = static_cast<int16_t>((a[static_cast<size_t>(c)] + b[static_cast<size_t>(c)]) / 2);
        shapes.push_back(mix);
    }
    return shapes;
}

// The model a run asks for beyond the shapes.
enum Model { kPlain = 0, kGainAndCost = 1, kManyShapes = 2, kLearnOneRound = 3, kConfidence = 4 };

void runDetect(benchmark::State& state, DetectTask task, Model model = kPlain) {
    const Recording& r = recording(state.range(0));
    DetectRequest request;
    request.task = task;
    request.signal = r.signal;
    const auto& shapes = model == kManyShapes ? manyShapes(r) : r.shapes;
    for (const auto& shape : shapes) request.shapes.emplace_back(shape);
    for (size_t e = 0; e < shapes.size(); ++e) request.candidates.push_back(static_cast<int32_t>(e));
    request.tmin = 40;
    request.tmax = 181;
    request.savedEnergy = static_cast<int32_t>(state.range(2));
    request.threads = static_cast<int32_t>(state.range(1));
    if (model == kGainAndCost) {
        request.gainMin = 0.5;
        request.gainMax = 2;
        request.pulseCost = 2000000;
    }
    const std::atomic<bool> cancel{false};
    size_t pulses = 0;
    for (auto _ : state) {
        if (model == kLearnOneRound) {
            const LearnResult learned = learnShapes(request, 1, {}, {}, cancel);
            pulses = learned.result.pulses.size();
            benchmark::DoNotOptimize(learned.result.distance);
            continue;
        }
        if (model == kConfidence) {
            // The recording's noise: 1500 on its scale.
            const DetectionAndPosterior both = detectWithPosterior(request, 2.0 * 1500 * 1500, 10, false, {}, cancel);
            pulses = both.detection.pulses.size();
            benchmark::DoNotOptimize(both.posterior.expectedCount);
            continue;
        }
        const DetectResult result = detectInRecording(request, {}, cancel);
        pulses = result.pulses.size();
        benchmark::DoNotOptimize(result.distance);
    }
    state.counters["pulses"] = static_cast<double>(pulses);
    state.counters["peak_MB"] = peakMegabytes();
}

// A recording of C channels (the recording's signal on every channel, so that every channel
// holds pulses), each shape on every channel; cut pulses.
void BM_DetectChannels(benchmark::State& state) {
    const Recording& r = recording(state.range(0));
    const auto C = static_cast<size_t>(state.range(1));
    std::vector<int16_t> signal;
    for (size_t ch = 0; ch < C; ++ch) signal.insert(signal.end(), r.signal.begin(), r.signal.end());
    std::vector<std::vector<int16_t>> shapes;
    for (const auto& x : r.shapes) {
        shapes.emplace_back();
        for (size_t ch = 0; ch < C; ++ch) shapes.back().insert(shapes.back().end(), x.begin(), x.end());
    }
    DetectRequest request;
    request.signal = signal;
    request.channels = static_cast<int32_t>(C);
    for (const auto& shape : shapes) request.shapes.emplace_back(shape);
    for (size_t e = 0; e < shapes.size(); ++e) request.candidates.push_back(static_cast<int32_t>(e));
    request.tmin = 40;
    request.tmax = 181;
    request.savedEnergy = 75;
    request.threads = 1;
    const std::atomic<bool> cancel{false};
    for (auto _ : state) benchmark::DoNotOptimize(detectInRecording(request, {}, cancel).distance);
    state.counters["peak_MB"] = peakMegabytes();
}

// Each pulse its shape times a gain from 0.5 to 2, and a cost per pulse.
void BM_DetectGainCost(benchmark::State& state) { runDetect(state, DetectTask::joint, kGainAndCost); }
// 256 shapes instead of 20 (divide by 256 / 20 for the cost per shape).
void BM_Detect256Shapes(benchmark::State& state) { runDetect(state, DetectTask::joint, kManyShapes); }
// The detection and its posterior as --confidence gives it (the shapes scored once for both):
// every pulse's confidence and that of its kind (--posterior FILE adds every position's
// probability, a row of doubles).
void BM_DetectConfidence(benchmark::State& state) { runDetect(state, DetectTask::joint, kConfidence); }
// A detection, one round of learning (the least-squares shapes) and the detection again.
void BM_LearnOneRound(benchmark::State& state) { runDetect(state, DetectTask::joint, kLearnOneRound); }

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

// Every detection is timed alike: three runs, in milliseconds of wall time and of the process.
void threeRuns(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);
}

BENCHMARK(BM_MatchedFilter)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
// Arguments: samples, threads, saved energy (100: whole pulses, 75: cut pulses).
BENCHMARK(BM_Detect)
    ->Args({1000000, 1, 100})
    ->Args({1000000, 1, 75})
    ->Args({10000000, 1, 75})
    ->Args({10000000, 2, 75})
    ->Apply(threeRuns);
BENCHMARK(BM_DetectGainCost)
    ->Args({1000000, 1, 100})
    ->Args({1000000, 1, 75})
    ->Apply(threeRuns);
BENCHMARK(BM_DetectChannels)
    ->Args({1000000, 1})
    ->Args({1000000, 4})
    ->Args({1000000, 16})
    ->Apply(threeRuns);
BENCHMARK(BM_Detect256Shapes)->Args({1000000, 1, 100})->Apply(threeRuns);
BENCHMARK(BM_DetectConfidence)->Args({1000000, 1, 75})->Apply(threeRuns);
BENCHMARK(BM_LearnOneRound)->Args({1000000, 1, 100})->Apply(threeRuns);
BENCHMARK(BM_Recognize)
    ->Args({1000000, 1, 100})
    ->Args({1000000, 1, 75})
    ->Apply(threeRuns);
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
              "BM_Detect/10000000/2/75/iterations:3" + t},
             {"gain and cost / plain, whole", "BM_DetectGainCost/1000000/1/100/iterations:3" + t,
              "BM_Detect/1000000/1/100/iterations:3" + t},
             {"gain and cost / plain, cut", "BM_DetectGainCost/1000000/1/75/iterations:3" + t,
              "BM_Detect/1000000/1/75/iterations:3" + t},
             {"256 shapes / 20 shapes (at most 12.8)", "BM_Detect256Shapes/1000000/1/100/iterations:3" + t,
              "BM_Detect/1000000/1/100/iterations:3" + t},
             {"with confidence / without (at most 2.5)", "BM_DetectConfidence/1000000/1/75/iterations:3" + t,
              "BM_Detect/1000000/1/75/iterations:3" + t},
             {"4 channels / 4 x one channel (at most 1.2)", "BM_DetectChannels/1000000/4/iterations:3" + t,
              "BM_DetectChannels/1000000/1/iterations:3" + t, 4},
             {"16 channels / 16 x one channel (at most 1.2)", "BM_DetectChannels/1000000/16/iterations:3" + t,
              "BM_DetectChannels/1000000/1/iterations:3" + t, 16},
             {"a round of learning / a detection", "BM_LearnOneRound/1000000/1/100/iterations:3" + t,
              "BM_Detect/1000000/1/100/iterations:3" + t}});
}
