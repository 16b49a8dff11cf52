#pragma once

// A main for the benchmark programs that, after the usual console table, prints the ratios
// asked for by the program: each as (label, numerator benchmark, denominator benchmark[, times the
// denominator is taken]), timed
// by CPU time (wall time for benchmarks timed by the wall clock) per iteration, or per run where
// a benchmark sets the counter "runs" (runs per iteration).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench_ratio {

struct Ratio {
    std::string label, numerator, denominator;
    double times = 1;  ///< the denominator's time is taken this many times
};

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0 || run.run_type != Run::RT_Iteration) continue;
            // Benchmarks timed by the wall clock (UseRealTime, named ".../real_time") keep it.
            const std::string name = run.benchmark_name();
            const bool wall = name.size() >= 10 && name.compare(name.size() - 10, 10, "/real_time") == 0;
            double seconds = (wall ? run.real_accumulated_time : run.cpu_accumulated_time) /
                             static_cast<double>(run.iterations);
            const auto items = run.counters.find("runs");  // runs per iteration
            if (items != run.counters.end() && items->second.value > 0) seconds /= items->second.value;
            perItem[run.benchmark_name()] = seconds;
        }
        benchmark::ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> perItem;  ///< CPU seconds per iteration (or per counted item)
};

inline int runWithRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-44s %14s %14s %9s\n", "ratio (time per run)", "numerator", "denominator", "ratio");
    for (const Ratio& r : ratios) {
        const auto a = reporter.perItem.find(r.numerator), b = reporter.perItem.find(r.denominator);
        if (a == reporter.perItem.end() || b == reporter.perItem.end() || b->second <= 0) continue;
        std::printf("%-44s %11.4f ms %11.4f ms %8.2fx\n", r.label.c_str(), a->second * 1e3, b->second * r.times * 1e3,
                    a->second / (b->second * r.times));
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench_ratio
