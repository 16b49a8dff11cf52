#include "simulation/shard.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/codes.h"
#include "model/random.h"
#include "simulation/driver.h"

namespace {
// Noise level from which a run costs no more (about 1.5 times a noiseless run).
constexpr double kNoiseCostSaturation = 140.0;
}  // namespace

int reachSimulationCell(const RestErrorHeader& acc, uint16_t n, const uint16_t* requiredList,
                        uint16_t taskType, SeriesHeader& series, int cell, SeedCells& seeds,
                        int16_t& noiseSeed) {
    const int32_t u = acc.repeats & 0xFFFF;
    const int P = acc.wVariousPulses, V = acc.wNoiseLevels;
    if (u < 1 || P < 1 || V < 1 || !acc.wPulseValues || cell < 0 || cell > P * V || !series.block || n < 1 ||
        !requiredList)
        return 0;
    const int wAllocated = series.wAllocatedPulses;
    for (int c = 0; c < cell; c += V)
        if (acc.wPulseValues[c / V] < 1 || acc.wPulseValues[c / V] > wAllocated) return 0;

    // The subset layout, the one step whose draws are not a fixed count per series: laid out
    // again for every earlier repeat, as the driver sets the subset up for each cell.
    if (!isTask(taskType, TaskType::detection) && !isTask(taskType, TaskType::recognition) && cell > 0) {
        const uint16_t savedSize = series.wSelectedSubsetSize;
        const std::vector<int16_t> savedSubset(series.lpSelectedSubset, series.lpSelectedSubset + wAllocated);
        std::vector<uint16_t> counters(static_cast<size_t>(wAllocated)), scratch(static_cast<size_t>(wAllocated));
        const std::span<uint16_t> sequence(scratch);
        if (isTask(taskType, TaskType::tupleRecognition)) {
            const int32_t T = series.wSubsetsCount;
            if (T < 1 || !series.selectedSubsetSize || !series.selectedSubsetList) return 0;
            for (int t = 0; t < T; ++t)
                if (series.selectedSubsetSize[t] < 1 || series.selectedSubsetSize[t] > series.wMaxPulses ||
                    series.selectedSubsetSize[t] > series.wSubsetCapacity ||
                    series.selectedSubsetSize[t] > wAllocated)
                    return 0;
            auto copyTuple = [&](int e) {
                const int32_t length = series.selectedSubsetSize[e - 1];
                std::copy_n(series.selectedSubsetList[e - 1], length, series.lpSelectedSubset);
                series.wSelectedSubsetSize = static_cast<uint16_t>(length);
            };
            for (int c = 0; c < cell; ++c) {
                const int32_t K = acc.wPulseValues[c / V];
                RepeatSchedule schedule(taskType, requiredList, n, u, K, T, counters.data(), scratch.data());
                copyTuple(schedule.e);
                for (int l = 0; l < u; ++l) {
                    if (schedule.advance(l)) copyTuple(schedule.e);
                    layOutSubset(series, static_cast<uint16_t>(K), sequence, seeds);
                }
            }
        } else {
            const int mode = series.wSubsetMode;
            const bool draws = series.wSelectedSubsetSize > 0 && (mode == 1 || mode == 3 || mode == 5);
            for (int c = 0; draws && c < cell; ++c) {
                const int32_t K = acc.wPulseValues[c / V];
                for (int l = 0; l < u; ++l) layOutSubset(series, static_cast<uint16_t>(K), sequence, seeds);
            }
        }
        std::copy(savedSubset.begin(), savedSubset.end(), series.lpSelectedSubset);
        series.wSelectedSubsetSize = savedSize;
    }

    // Fixed counts per series: K + 1 starts (the first placed pulse, then every pulse), K first
    // and K last kept samples, twelve noise draws per sample.
    uint64_t pulses = 0;
    for (int c = 0; c < cell; ++c) pulses += static_cast<uint64_t>(acc.wPulseValues[c / V]);
    const uint64_t made = static_cast<uint64_t>(cell) * static_cast<uint64_t>(u);
    const uint64_t K = pulses * static_cast<uint64_t>(u);
    const uint64_t N = static_cast<uint64_t>(std::max(series.dwSeriesSize, 0));
    seeds.positionSeed = uniformJump(seeds.positionSeed, K + made);
    seeds.cutStartSeed = uniformJump(seeds.cutStartSeed, K);
    seeds.cutEndSeed = uniformJump(seeds.cutEndSeed, K);
    // Reduced modulo the period before the product so that no count can overflow.
    noiseSeed = uniformJump(noiseSeed, ((12 * (N % 32768)) % 32768) * (made % 32768));
    return 1;
}

double simulationCellCost(int16_t sigma, int32_t N) {
    const double level = std::min(std::abs(static_cast<double>(sigma)), kNoiseCostSaturation);
    return static_cast<double>(std::max(N, 1)) * (1.0 + level / (2.0 * kNoiseCostSaturation));
}

std::vector<int> shareCells(std::span<const double> cost, int parts) {
    const int cells = static_cast<int>(cost.size());
    parts = std::max(parts, 1);
    std::vector<int> bounds(static_cast<size_t>(parts) + 1, 0);
    bounds[parts] = cells;
    if (cells < parts) {
        for (int r = 0; r <= parts; ++r) bounds[r] = std::max(0, cells - parts + r);
        return bounds;
    }
    std::vector<double> prefix(static_cast<size_t>(cells) + 1, 0.0);
    for (int c = 0; c < cells; ++c) prefix[c + 1] = prefix[c] + std::max(cost[c], 0.0);
    const double total = prefix[cells];
    for (int r = 1; r < parts; ++r) {
        const double target = total * r / parts;
        // The boundary whose prefix comes nearest the target, leaving every range a cell.
        int b = static_cast<int>(std::lower_bound(prefix.begin(), prefix.end(), target) - prefix.begin());
        if (b > 0 && target - prefix[b - 1] < prefix[std::min(b, cells)] - target) --b;
        bounds[r] = std::clamp(b, bounds[r - 1] + 1, cells - (parts - r));
    }
    return bounds;
}

double shareImbalance(std::span<const double> cost, std::span<const int> bounds) {
    if (bounds.size() < 2) return 1.0;
    double total = 0.0, largest = 0.0;
    for (size_t r = 0; r + 1 < bounds.size(); ++r) {
        double part = 0.0;
        for (int c = bounds[r]; c < bounds[r + 1]; ++c) part += cost[c];
        total += part;
        largest = std::max(largest, part);
    }
    const double mean = total / static_cast<double>(bounds.size() - 1);
    return mean > 0.0 ? largest / mean : 1.0;
}
