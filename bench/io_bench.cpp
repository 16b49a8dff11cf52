// Reading and preparing long recordings: text and WAV signals, the baseline, the quantisation.
// The files are written once per size into the temporary directory and removed at the end.
//
//   build/release/bench/io_bench --benchmark_filter=Text/100000000   (10^8 samples, ~0.6 GB file)

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <span>
#include <vector>

#include "io/file_batch.h"
#include "io/quantise.h"
#include "io/series_files.h"
#include "io/signal_reader.h"

namespace {
const std::filesystem::path directory =
    std::filesystem::temp_directory_path() / ("pulsebench-io-bench-" + std::to_string(::getpid()));

struct Cleanup {
    ~Cleanup() { std::filesystem::remove_all(directory); }
} cleanup;

std::filesystem::path benchDir() {
    std::filesystem::create_directories(directory);
    return directory;
}

// A noisy integer signal of n samples, the same every time.
std::vector<int16_t> samples(int64_t n) {
    std::vector<int16_t> s(static_cast<size_t>(n));
    uint32_t state = 12345;
    for (auto& v : s) {
        state = state * 1103515245u + 12345u;
        v = static_cast<int16_t>(static_cast<int>(state >> 16 & 0x3FF) - 512);
    }
    return s;
}

std::string fileOf(int64_t n, const char* ending) {
    static std::map<std::string, std::string> made;
    const std::string key = std::to_string(n) + ending;
    if (auto it = made.find(key); it != made.end()) return it->second;
    const std::string path = (benchDir() / ("signal-" + key)).string();
    const auto s = samples(n);
    FileBatch batch;
    const IoStatus status = std::string(ending) == ".wav" ? writeSamplesWav(batch, path, s, 44100)
                                                          : writeSamplesCsv(batch, path, s);
    if (!status || !batch.commit()) std::fprintf(stderr, "cannot prepare %s\n", path.c_str());
    made[key] = path;
    return path;
}

void readText(benchmark::State& state) {
    const std::string path = fileOf(state.range(0), ".csv");
    for (auto _ : state) {
        auto r = readSignal(path);
        if (!r) state.SkipWithError(r.error.c_str());
        benchmark::DoNotOptimize(r.value.samples.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["MB_samples"] = static_cast<double>(state.range(0)) * sizeof(float) / 1e6;
}
BENCHMARK(readText)->Name("Text")->Arg(1'000'000)->Arg(10'000'000)->Arg(100'000'000)->Unit(benchmark::kMillisecond)->Iterations(1);

void readWav(benchmark::State& state) {
    const std::string path = fileOf(state.range(0), ".wav");
    for (auto _ : state) {
        auto r = readSignal(path);
        if (!r) state.SkipWithError(r.error.c_str());
        benchmark::DoNotOptimize(r.value.samples.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(readWav)->Name("Wav")->Arg(1'000'000)->Arg(10'000'000)->Arg(100'000'000)->Unit(benchmark::kMillisecond)->Iterations(1);

void baseline(benchmark::State& state) {
    const auto s = samples(state.range(0));
    const std::vector<float> original(s.begin(), s.end());
    const auto method = state.range(1) ? BaselineMethod::median : BaselineMethod::mean;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<float> v = original;
        state.ResumeTiming();
        // A window of 0.1 s at 44.1 kHz: 4411 samples.
        if (!removeBaseline(v, 44100, 0.1, method)) state.SkipWithError("refused");
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(baseline)->Name("Baseline")->ArgNames({"n", "median"})->Args({1'000'000, 0})->Args({1'000'000, 1})
    ->Args({10'000'000, 0})->Args({10'000'000, 1})->Unit(benchmark::kMillisecond)->Iterations(1);

void quantiseFractions(benchmark::State& state) {
    const auto s = samples(state.range(0));
    std::vector<float> v(s.begin(), s.end());
    for (auto& x : v) x *= 0.001f;
    const std::vector<Shape> shapes{{"a", {0.1, 0.2, 0.3, 0.2, 0.1, 0.05}}};
    for (auto _ : state) {
        auto q = quantise(v, shapes);
        benchmark::DoNotOptimize(q.value.signal.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(quantiseFractions)->Name("Quantise")->Arg(10'000'000)->Unit(benchmark::kMillisecond)->Iterations(1);
}  // namespace
