#include "core/learn.h"

#include <algorithm>
#include <cmath>

std::vector<std::vector<int16_t>> leastSquaresShapes(std::span<const int16_t> signal,
                                                     const std::vector<std::span<const int16_t>>& shapes,
                                                     const std::vector<DetectedPulse>& pulses, int32_t channels) {
    const size_t C = static_cast<size_t>(channels), N = signal.size() / C;
    std::vector<std::vector<double>> numerator(shapes.size()), denominator(shapes.size());
    for (size_t e = 0; e < shapes.size(); ++e) {
        numerator[e].assign(shapes[e].size(), 0.0);
        denominator[e].assign(shapes[e].size(), 0.0);
    }
    // Sums of products of 16-bit integers and gains: in doubles, in the pulses' order, so that
    // every run gives the same shapes.
    for (const DetectedPulse& pulse : pulses) {
        // Every channel on its own: with the pulses' starts, cuts and gains fixed, the channels'
        // squared residuals are separate sums.
        const auto e = static_cast<size_t>(pulse.shape);
        const size_t n = shapes[e].size() / C;
        for (size_t ch = 0; ch < C; ++ch)
            for (int32_t c = pulse.cutStart; c <= pulse.cutEnd; ++c) {
                const size_t at = ch * n + static_cast<size_t>(c);
                numerator[e][at] += pulse.gain * signal[ch * N + static_cast<size_t>(pulse.position + c)];
                denominator[e][at] += pulse.gain * pulse.gain;
            }
    }
    std::vector<std::vector<int16_t>> learned(shapes.size());
    for (size_t e = 0; e < shapes.size(); ++e) {
        learned[e].assign(shapes[e].begin(), shapes[e].end());
        for (size_t c = 0; c < shapes[e].size(); ++c)
            if (denominator[e][c] > 0)
                learned[e][c] = static_cast<int16_t>(
                        std::clamp(std::round(numerator[e][c] / denominator[e][c]), -32767.0, 32767.0));
    }
    return learned;
}

LearnResult learnShapes(const DetectRequest& request, int32_t rounds, const std::function<void(double)>& progress,
                        const std::function<void(int32_t, int64_t)>& round, const std::atomic<bool>& cancel) {
    LearnResult out;
    if (rounds < 0 || rounds > kMostLearnRounds) {
        out.error = "The rounds of learning must lie from 0 to " + std::to_string(kMostLearnRounds) + ", not " +
                    std::to_string(rounds) + ".";
        return out;
    }
    std::vector<std::vector<int16_t>> shapes;
    for (const auto& shape : request.shapes) shapes.emplace_back(shape.begin(), shape.end());
    DetectRequest current = request;
    const auto run = [&](int32_t at) {
        current.shapes.assign(shapes.begin(), shapes.end());
        return detectInRecording(
                current,
                [&](double done) {
                    if (progress) progress((at + done) / (rounds + 1));
                },
                cancel);
    };
    DetectResult result = run(0);
    if (!result.completed || !result.error.empty()) {
        out.completed = result.completed;
        out.error = result.error;
        return out;
    }
    out.distances.push_back(result.distance);
    out.shapes = shapes;
    out.result = result;
    if (round) round(0, result.distance);
    for (int32_t r = 1; r <= rounds; ++r) {
        shapes = leastSquaresShapes(request.signal, current.shapes, result.pulses, request.channels);
        for (size_t e = 0; e < shapes.size(); ++e)
            if (std::all_of(shapes[e].begin(), shapes[e].end(), [](int16_t v) { return v == 0; })) {
                out = LearnResult{};
                out.zeroShape = static_cast<int32_t>(e);
                out.error = "Learning made shape " + std::to_string(e + 1) +
                            " zero throughout (round " + std::to_string(r) + "); nothing is kept.";
                return out;
            }
        result = run(r);
        if (!result.completed || !result.error.empty()) {
            out = LearnResult{};
            out.completed = result.completed;
            out.error = result.error;
            return out;
        }
        out.distances.push_back(result.distance);
        if (round) round(r, result.distance);
        // A round that does not lower the distance ends the learning; the best round stays.
        if (result.distance >= out.result.distance) break;
        out.bestRound = r;
        out.shapes = shapes;
        out.result = result;
    }
    if (progress) progress(1.0);
    return out;
}
