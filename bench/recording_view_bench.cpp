// Repaints of the recording view on a signal of 10^7 samples, at every zoom from the whole
// signal down to single samples: the signal area (min/max columns from the summary, or the
// samples themselves), its axes and the overview strip, drawn into an offscreen image of the
// view's usual size. The view stays fluid when one repaint takes at most 30 ms.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "recording/signal_paint.h"
#include "recording/view_geometry.h"

namespace {

constexpr int64_t signalLength = 10'000'000;
constexpr int viewWidth = 1600, viewHeight = 600;

const std::vector<float>& longSignal() {
    static const std::vector<float> samples = [] {
        std::vector<float> s(signalLength);
        std::mt19937 random(1);
        std::normal_distribution<float> noise(0, 20);
        for (int64_t i = 0; i < signalLength; ++i) s[i] = noise(random) + 100 * std::sin(i * 0.001f);
        return s;
    }();
    return samples;
}

const SignalSummary& summary() {
    static const SignalSummary built(longSignal());
    return built;
}

// Pulses every 500 samples, as a detection would have found them.
const std::vector<Shape>& shapes() {
    static const std::vector<Shape> list = {Shape{"a", std::vector<double>(20, 50)}, Shape{"b", std::vector<double>(20, -50)}};
    return list;
}
const std::vector<DetectedPulse>& pulses() {
    static const std::vector<DetectedPulse> found = [] {
        std::vector<DetectedPulse> p;
        for (int64_t at = 0; at + 20 <= signalLength; at += 500) p.push_back(DetectedPulse{at, static_cast<int32_t>(at / 500 % 2), 0, 19, 0});
        return p;
    }();
    return found;
}

void repaint(benchmark::State& state, double samplesPerPixel, bool withPulses) {
    const QRect widget(0, 0, viewWidth, viewHeight);
    QImage image(viewWidth, viewHeight + 60, QImage::Format_RGB32);
    SignalPicture picture;
    SignalLane lane;
    lane.samples = longSignal();
    lane.summary = &summary();
    lane.values = paddedValues(summary().whole());
    picture.lanes.push_back(lane);
    picture.rate = 44100;
    const int areaWidth = signalAreaOf(viewWidth, viewHeight).width();
    ViewState view = fittedView(signalLength, areaWidth);
    view.samplesPerPixel = samplesPerPixel;
    view = centredView(clampedView(view), signalLength / 3.0);
    picture.view = view;
    picture.selection = SampleSpan{static_cast<int64_t>(view.first) + 10, static_cast<int64_t>(view.first) + 200};
    if (withPulses) {
        picture.shapes = &shapes();
        picture.pulses = pulses();
    }
    for (auto _ : state) {
        QPainter painter(&image);
        paintOverview(painter, QRect(signalAxisLeft, 0, areaWidth, 56), summary(), lane.values, visibleSamples(view));
        painter.translate(0, 60);
        paintSignalPicture(painter, widget, picture);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["samplesPerPixel"] = view.samplesPerPixel;
}

void BM_SummaryOf10To7Samples(benchmark::State& state) {
    for (auto _ : state) {
        SignalSummary built(longSignal());
        benchmark::DoNotOptimize(built.whole());
    }
}
BENCHMARK(BM_SummaryOf10To7Samples)->Unit(benchmark::kMillisecond);

void BM_RepaintAtZoom(benchmark::State& state) {
    repaint(state, state.range(0) == 0 ? 1e9 : state.range(0) / 1000.0, false);
}
// Samples per pixel times 1000: the whole signal (0: fitted), 1000, 10, 1 sample per pixel,
// and 32 pixels per sample.
BENCHMARK(BM_RepaintAtZoom)->Arg(0)->Arg(1000000)->Arg(10000)->Arg(1000)->Arg(31)->Unit(benchmark::kMillisecond);

void BM_RepaintWithPulsesAtZoom(benchmark::State& state) {
    repaint(state, state.range(0) == 0 ? 1e9 : state.range(0) / 1000.0, true);
}
// 20 000 pulses found; at the whole signal every one of them is in view.
BENCHMARK(BM_RepaintWithPulsesAtZoom)->Arg(0)->Arg(100000)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
