#include "recording/view_geometry.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "core/learn.h"
#include "io/signal_reader.h"

SignalSummary::SignalSummary(std::span<const float> samples) : samples_(samples) {
    const int64_t n = size();
    int64_t block = int64_t{1} << firstLevel;
    // The finest stored level from the samples, each coarser one from the one below.
    if (n >= block) {
        std::vector<MinMax> level(static_cast<size_t>(n / block));
        for (size_t b = 0; b < level.size(); ++b) {
            const float* s = samples_.data() + b * block;
            float low = s[0], high = s[0];
            for (int64_t i = 1; i < block; ++i) {
                low = std::min(low, s[i]);
                high = std::max(high, s[i]);
            }
            level[b] = {low, high};
        }
        levels_.push_back(std::move(level));
    }
    while (!levels_.empty() && levels_.back().size() >= 2) {
        const std::vector<MinMax>& below = levels_.back();
        std::vector<MinMax> level(below.size() / 2);
        for (size_t b = 0; b < level.size(); ++b)
            level[b] = {std::min(below[2 * b].low, below[2 * b + 1].low),
                        std::max(below[2 * b].high, below[2 * b + 1].high)};
        levels_.push_back(std::move(level));
    }
}

MinMax SignalSummary::range(int64_t first, int64_t last) const {
    first = std::max<int64_t>(first, 0);
    last = std::min(last, size());
    if (first >= last) return {};
    float low = std::numeric_limits<float>::infinity(), high = -low;
    auto sample = [&](int64_t i) {
        low = std::min(low, samples_[i]);
        high = std::max(high, samples_[i]);
    };
    const int64_t fine = int64_t{1} << firstLevel;
    int64_t at = first;
    // Single samples up to the first boundary of a finest block.
    while (at < last && (at % fine != 0 || last - at < fine)) sample(at++);
    // Then the largest aligned block that fits, again and again: O(log N) blocks.
    while (last - at >= fine) {
        int level = 0;
        while (level + 1 < static_cast<int>(levels_.size()) && at % (fine << (level + 1)) == 0 &&
               last - at >= (fine << (level + 1)))
            ++level;
        const MinMax& block = levels_[level][at >> (firstLevel + level)];
        low = std::min(low, block.low);
        high = std::max(high, block.high);
        at += fine << level;
    }
    while (at < last) sample(at++);
    return {low, high};
}

double fitSamplesPerPixel(int64_t total, int width) {
    return std::max(static_cast<double>(total) / std::max(width, 1), 1.0 / maxPixelsPerSample);
}

ViewState fittedView(int64_t total, int width) {
    return ViewState{total, std::max(width, 1), 0.0, fitSamplesPerPixel(total, width)};
}

ViewState clampedView(ViewState view) {
    view.width = std::max(view.width, 1);
    view.total = std::max<int64_t>(view.total, 0);
    const double fit = fitSamplesPerPixel(view.total, view.width);
    if (!(view.samplesPerPixel >= 1.0 / maxPixelsPerSample)) view.samplesPerPixel = 1.0 / maxPixelsPerSample;
    view.samplesPerPixel = std::min(view.samplesPerPixel, fit);
    const double lastStart = std::max(0.0, static_cast<double>(view.total) - view.samplesPerPixel * view.width);
    if (!(view.first >= 0)) view.first = 0;
    view.first = std::min(view.first, lastStart);
    return view;
}

ViewState zoomedView(const ViewState& view, double factor, double anchor) {
    if (!(factor > 0)) return view;
    const double anchorSample = pixelToSample(view, anchor);
    ViewState zoomed = view;
    zoomed.samplesPerPixel = view.samplesPerPixel / factor;
    zoomed = clampedView(zoomed);
    zoomed.first = anchorSample - anchor * zoomed.samplesPerPixel;
    return clampedView(zoomed);
}

ViewState scrolledView(const ViewState& view, double pixels) {
    ViewState moved = view;
    moved.first += pixels * view.samplesPerPixel;
    return clampedView(moved);
}

ViewState centredView(const ViewState& view, double sample) {
    ViewState moved = view;
    moved.first = sample - view.samplesPerPixel * view.width / 2.0;
    return clampedView(moved);
}

ViewState resizedView(const ViewState& view, int width) {
    ViewState resized = view;
    resized.width = width;
    return clampedView(resized);
}

double sampleToPixel(const ViewState& view, double sample) {
    return (sample - view.first) / view.samplesPerPixel;
}

double pixelToSample(const ViewState& view, double pixel) {
    return view.first + pixel * view.samplesPerPixel;
}

SampleSpan visibleSamples(const ViewState& view) {
    const double end = view.first + view.samplesPerPixel * view.width;
    SampleSpan span;
    span.first = std::clamp<int64_t>(static_cast<int64_t>(std::floor(view.first)), 0, view.total);
    span.last = std::clamp<int64_t>(static_cast<int64_t>(std::ceil(end)), span.first, view.total);
    return span;
}

ScrollBarState scrollBarOf(const ViewState& view) {
    const SampleSpan span = visibleSamples(view);
    const int64_t page = std::max<int64_t>(1, static_cast<int64_t>(std::llround(view.samplesPerPixel * view.width)));
    ScrollBarState bar;
    bar.page = static_cast<int>(std::min<int64_t>(page, INT_MAX));
    bar.maximum = static_cast<int>(std::clamp<int64_t>(view.total - page, 0, INT_MAX));
    bar.value = static_cast<int>(std::clamp<int64_t>(span.first, 0, bar.maximum));
    return bar;
}

ViewState viewAtScrollValue(const ViewState& view, int value) {
    ViewState moved = view;
    moved.first = value;
    return clampedView(moved);
}

SampleSpan dragToSamples(const ViewState& view, double from, double to) {
    const double a = pixelToSample(view, std::min(from, to));
    const double b = pixelToSample(view, std::max(from, to));
    SampleSpan span;
    span.first = std::clamp<int64_t>(static_cast<int64_t>(std::floor(a)), 0, view.total);
    span.last = std::clamp<int64_t>(static_cast<int64_t>(std::ceil(b)), span.first, view.total);
    return span;
}

std::vector<MinMax> columnExtremes(const SignalSummary& summary, const ViewState& view) {
    std::vector<MinMax> columns;
    const int64_t total = summary.size();
    columns.reserve(static_cast<size_t>(view.width));
    for (int c = 0; c < view.width; ++c) {
        const int64_t first = static_cast<int64_t>(std::floor(view.first + c * view.samplesPerPixel));
        if (first >= total) break;
        const int64_t last = std::max(first + 1, static_cast<int64_t>(std::floor(view.first + (c + 1) * view.samplesPerPixel)));
        columns.push_back(summary.range(first, last));
    }
    return columns;
}

std::vector<LaneColumn> laneColumns(const SignalSummary& probabilities, const ViewState& view, int height) {
    const auto row = [height](float probability) {
        const double p = probability >= 0 ? std::min(static_cast<double>(probability), 1.0) : 0.0;
        return static_cast<int>(std::lround((1 - p) * (height - 1)));
    };
    std::vector<LaneColumn> lane;
    for (const MinMax& column : columnExtremes(probabilities, view)) lane.push_back({row(column.high), row(column.low)});
    return lane;
}

std::optional<size_t> pulseNear(std::span<const DetectedPulse> pulses, double sample, double slack) {
    std::optional<size_t> nearest;
    double best = slack;
    for (size_t i = 0; i < pulses.size(); ++i) {
        const double from = static_cast<double>(pulses[i].position + pulses[i].cutStart);
        const double to = static_cast<double>(pulses[i].position + pulses[i].cutEnd + 1);
        const double distance = sample < from ? from - sample : sample > to ? sample - to : 0;
        // The first of equally near pulses is taken.
        if (distance < best || (!nearest && distance == best)) {
            best = distance;
            nearest = i;
        }
    }
    return nearest;
}

AxisTicks axisTicks(double low, double high, int maxTicks, double minStep) {
    AxisTicks ticks;
    if (!(high > low) || maxTicks < 1 || !std::isfinite(low) || !std::isfinite(high)) return ticks;
    const double rough = (high - low) / maxTicks;
    double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double f : {1.0, 2.0, 5.0, 10.0}) {
        step = f * power;
        if (step >= rough) break;
    }
    step = std::max(step, minStep);
    ticks.step = step;
    for (double k = std::ceil(low / step); k * step <= high; k += 1) ticks.values.push_back(k * step);
    return ticks;
}

std::string tickText(double value, double step) {
    const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 12);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(value) < step * 1e-6 ? 0.0 : value);
    return text;
}

WindowSize fittedMinimumSize(WindowSize minimum, WindowSize available, WindowSize frame) {
    const int roomWidth = std::max(1, available.width - frame.width);
    const int roomHeight = std::max(1, available.height - frame.height);
    return {std::min(minimum.width, roomWidth), std::min(minimum.height, roomHeight)};
}

WindowSize fittedWindowSize(WindowSize preferred, WindowSize minimum, WindowSize available, WindowSize frame) {
    const WindowSize least = fittedMinimumSize(minimum, available, frame);
    const int roomWidth = std::max(1, available.width - frame.width);
    const int roomHeight = std::max(1, available.height - frame.height);
    return {std::max(least.width, std::min(preferred.width, roomWidth)),
            std::max(least.height, std::min(preferred.height, roomHeight))};
}

int thumbnailWidth(int64_t length, int64_t longest, int room, int least) {
    if (room <= 0) return 0;
    const int narrowest = std::min(least, room);
    if (longest <= 0 || length >= longest) return room;
    const double scaled = std::round(static_cast<double>(room) * static_cast<double>(std::max<int64_t>(length, 0)) /
                                     static_cast<double>(longest));
    return std::clamp(static_cast<int>(scaled), narrowest, room);
}

std::string secondsText(int64_t sample, double rate) {
    const int decimals = rate > 1 ? std::clamp(static_cast<int>(std::ceil(std::log10(rate) - 1e-9)), 0, 9) : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(sample) / rate);
    return text;
}

std::optional<int32_t> learnRoundsOf(const std::string& text) {
    double rounds = 0;
    if (!parseNumber(text, rounds) || !std::isfinite(rounds) || rounds != std::floor(rounds) || rounds < 1 ||
        rounds > kMostLearnRounds)
        return std::nullopt;
    return static_cast<int32_t>(rounds);
}

std::string learnedRoundsText(const std::vector<int64_t>& distances, int32_t kept) {
    auto number = [](int64_t distance) {
        if (distance > -1000000 && distance < 1000000) return std::to_string(distance);
        char text[32];
        std::snprintf(text, sizeof text, "%.4g", static_cast<double>(distance));
        return std::string(text);
    };
    const size_t n = distances.size(), rounds = n == 0 ? 0 : n - 1;
    std::string text = "Learned in " + std::to_string(rounds) + (rounds == 1 ? " round" : " rounds") + ": distance ";
    // The given shapes' distance and 8 rounds, or the given shapes', the first 3 and the last 3.
    constexpr size_t mostShown = 9, endsShown = 3;
    for (size_t r = 0; r < n; ++r) {
        if (n > mostShown && r > endsShown && r + endsShown < n) {
            if (r == endsShown + 1) text += " → …";
            continue;
        }
        if (r > 0) text += " → ";
        text += number(distances[r]);
    }
    return text + " (round " + std::to_string(kept) + " kept" + (kept == 0 ? ": the given shapes" : "") + ")";
}
