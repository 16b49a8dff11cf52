// The recording picture: what is drawn where, read back from the written PNG and SVG.

#include "plot/recording_plot.h"

#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cmath>
#include <stdlib.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/version.h"
#include "tests/io/temp_dir.h"

namespace {
using ::testing::HasSubstr;

QRgb rgb(uint32_t colour) { return qRgb(colour >> 16 & 0xFF, colour >> 8 & 0xFF, colour & 0xFF); }

// Columns of the image holding at least one pixel of `colour`.
std::vector<int> columnsWith(const QImage& image, uint32_t colour) {
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if ((image.pixel(x, y) & 0xFFFFFF) == (rgb(colour) & 0xFFFFFF)) {
                columns.push_back(x);
                break;
            }
    return columns;
}

// The topmost and bottommost rows of `colour` in column x, or {-1, -1}.
std::pair<int, int> rowsWith(const QImage& image, int x, uint32_t colour) {
    int top = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        if ((image.pixel(x, y) & 0xFFFFFF) == (rgb(colour) & 0xFFFFFF)) {
            if (top < 0) top = y;
            bottom = y;
        }
    return {top, bottom};
}

class RecordingPlot : public ::testing::Test {
protected:
    // 1000 silent samples at 100 Hz; shape "box" (six samples of 50) found at 400, "step" at 700 cut
    // to its samples 2..5 and taken with gain -2 (60 to 120).
    RecordingPlot() : signal(1000, 0.0f) {
        shapes = {{"box", {50, 50, 50, 50, 50, 50}}, {"step", {-10, -20, -30, -40, -50, -60}}};
        pulses = {{400, 0, 0, 5}, {700, 1, 2, 5, -2}};
    }
    std::vector<float> signal;
    std::vector<Shape> shapes;
    std::vector<PlotPulse> pulses;
    TempDir dir;
};
}  // namespace

TEST_F(RecordingPlot, PngShowsEachPulseInItsShapesColourAtItsPlace) {
    RecordingPlotOptions options;
    options.width = 1088;  // a plot area 1000 pixels wide: one column per sample
    options.height = 400;
    const auto path = dir.file("r.png");
    const auto status = writeRecordingPlot(path, signal, 100, shapes, pulses, options);
    ASSERT_TRUE(status.ok()) << status.error;
    QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(1088, 400));
    EXPECT_EQ(image.text("Software").toStdString(), pulsebenchSoftware);

    // The plot area starts at x = 72; sample i is column 72 + i.
    const auto box = columnsWith(image, plotShapeColour(0));
    ASSERT_FALSE(box.empty());
    EXPECT_GE(box.front(), 72 + 400 - 1);  // the pulse (the label starts at its first sample too)
    EXPECT_LE(box.back(), 72 + 400 + 40);  // the label "box" is about 20 pixels wide
    const auto step = columnsWith(image, plotShapeColour(1));
    ASSERT_FALSE(step.empty());
    EXPECT_GE(step.front(), 72 + 702 - 1);  // cut: kept samples 2..5 only
    // The box lies above the silent signal; the step, negative but taken with gain -2, above the box.
    const auto [signalTop, signalBottom] = rowsWith(image, 72 + 100, plotSignalColour);
    ASSERT_GE(signalTop, 0);
    EXPECT_LE(signalBottom - signalTop, 1);
    const auto [boxTop, boxBottom] = rowsWith(image, 72 + 403, plotShapeColour(0));
    EXPECT_LT(boxBottom, signalTop);
    const auto [stepTop, stepBottom] = rowsWith(image, 72 + 704, plotShapeColour(1));
    EXPECT_GE(stepTop, 0);
    EXPECT_LT(stepBottom, boxTop);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"r.png"});
}

TEST_F(RecordingPlot, ManySamplesPerColumnAreDrawnAsTheirMinimumAndMaximum) {
    // 100 000 samples alternating between -1000 and +1000, with one spike of 3000: each pixel
    // column spans the whole alternation; the spike reaches higher in its column only.
    std::vector<float> busy(100000);
    for (size_t i = 0; i < busy.size(); ++i) busy[i] = i % 2 ? 1000.0f : -1000.0f;
    busy[50000] = 3000;
    RecordingPlotOptions options;
    options.width = 488;  // 400 columns of 250 samples
    options.height = 400;
    const auto path = dir.file("busy.png");
    ASSERT_TRUE(writeRecordingPlot(path, busy, 1000, {}, {}, options).ok());
    QImage image(QString::fromStdString(path));
    const auto [top, bottom] = rowsWith(image, 72 + 10, plotSignalColour);
    const auto [spikeTop, spikeBottom] = rowsWith(image, 72 + 200, plotSignalColour);
    EXPECT_GT(bottom - top, 100);  // the full swing of the column
    EXPECT_LT(spikeTop, top - 50); // 3000 lies well above 1000
    EXPECT_EQ(spikeBottom, bottom);
}

// Also a pulse of confidence 0.3, drawn translucent, and the posterior lane under the signal.
TEST_F(RecordingPlot, SvgHoldsTheLabelsTheTimeAxisInSecondsAndTheConfidence) {
    RecordingPlotOptions options;
    options.width = 800;
    options.height = 300;
    options.range = SampleRange{300, 800};
    pulses.push_back({500, 0, 0, 5, 1, 0.3});
    std::vector<double> posterior(995, 0.0);
    posterior[400] = posterior[500] = 1;
    options.posterior = posterior;
    const auto path = dir.file("r.SVG");
    ASSERT_TRUE(writeRecordingPlot(path, signal, 100, shapes, pulses, options).ok());
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string svg = file.readAll().toStdString();
    EXPECT_THAT(svg, HasSubstr("<svg"));
    EXPECT_THAT(svg, HasSubstr("width=\"800"));
    EXPECT_THAT(svg, HasSubstr(">box</text>"));
    EXPECT_THAT(svg, HasSubstr(">step</text>"));
    EXPECT_THAT(svg, HasSubstr(">time, s</text>"));
    // The range 3 s to 8 s has whole-second ticks.
    EXPECT_THAT(svg, HasSubstr(">3</text>"));
    EXPECT_THAT(svg, HasSubstr(">7</text>"));
    EXPECT_THAT(svg, ::testing::Not(HasSubstr(">9</text>")));
    EXPECT_THAT(svg, HasSubstr("#d62728"));  // the first shape's colour
    EXPECT_THAT(svg, HasSubstr(std::string("<desc>Made by ") + pulsebenchSoftware + "</desc>"));
    EXPECT_THAT(svg, ::testing::ContainsRegex("stroke-opacity=\"0\\.47[45]"));  // 0.25 + 0.75 * 0.3
    EXPECT_THAT(svg, HasSubstr(">P(start)</text>"));
    EXPECT_THAT(svg, HasSubstr("#3a5a9a"));  // the lane's line
}

TEST_F(RecordingPlot, BadRequestsAreRefusedAndWriteNothing) {
    const auto refused = [&](const std::string& name, const std::vector<PlotPulse>& p, RecordingPlotOptions o) {
        const auto status = writeRecordingPlot(dir.file(name), signal, 100, shapes, p, o);
        EXPECT_FALSE(status.ok()) << name;
        return status.error;
    };
    EXPECT_THAT(refused("a.jpg", pulses, {}), HasSubstr("must end in \".png\" or \".svg\""));
    EXPECT_THAT(refused("a.png", pulses, {100, 600, {}, {}, {}, 1, {}}), HasSubstr("between 200x200 and 8000x8000, got 100x600"));
    EXPECT_THAT(refused("a.png", pulses, {800, 600, SampleRange{1000, 2000}, {}, {}, 1, {}}),
                HasSubstr("the plot range 1000:2000 lies outside the signal's 1000 samples"));
    const std::vector<float> shortLift(10, 0.0f);
    EXPECT_THAT(refused("a.png", pulses, {800, 600, {}, shortLift, {}, 1, {}}),
                HasSubstr("the pulses' lift holds 10 values for a signal of 1000 samples"));
    const std::vector<double> longPosterior(1001, 0.0);
    EXPECT_THAT(refused("a.png", pulses, {800, 600, {}, {}, longPosterior, 1, {}}),
                HasSubstr("the posterior holds 1001 values for a signal of 1000 samples"));
    EXPECT_THAT(refused("a.png", {{10, 2, 0, 5}}, {}), HasSubstr("pulse 1 (at 10) names shape 2 of 2"));
    EXPECT_THAT(refused("a.png", {{10, 0, 3, 6}}, {}), HasSubstr("keeps samples 3..6 of a shape of 6"));
    EXPECT_THAT(refused("a.png", {{10, 0, 4, 3}}, {}), HasSubstr("keeps samples 4..3"));
    EXPECT_THAT(refused("a.png", {{10, 0, 0, 5, std::nan("")}}, {}), HasSubstr("pulse 1 (at 10) has a gain that is not"));
    EXPECT_THAT(writeRecordingPlot(dir.file("e.png"), {}, 100, shapes, {}, {}).error, HasSubstr("no samples"));
    EXPECT_THAT(writeRecordingPlot(dir.file("no/dir.png"), signal, 100, shapes, pulses, {}).error,
                HasSubstr("no/dir.png: No such file or directory"));
    EXPECT_TRUE(dir.entries().empty());
}

// Two channels: a lane each, one above the other, the pulses in both (the second channel's shape
// upside down, so drawn low in the lower lane), each lane named; channel counts that do not fit
// are refused.
TEST_F(RecordingPlot, SeveralChannelsAreDrawnInLanesOfTheirOwn) {
    std::vector<float> two(signal);
    two.insert(two.end(), signal.begin(), signal.end());
    std::vector<Shape> twoShapes = shapes;
    for (Shape& shape : twoShapes) {
        for (size_t i = 0, n = shape.samples.size(); i < n; ++i) shape.samples.push_back(-shape.samples[i]);
        shape.channels = 2;
    }
    RecordingPlotOptions options;
    options.width = 800;
    options.height = 600;
    options.channels = 2;
    options.channelNames = {"left", "right"};
    const std::string png = dir.file("two.png");
    ASSERT_TRUE(writeRecordingPlot(png, two, 100, twoShapes, pulses, options).ok());
    const QImage image(QString::fromStdString(png));
    const std::vector<int> box = columnsWith(image, plotShapeColour(0));
    ASSERT_FALSE(box.empty());
    // The box: drawn in the upper lane (rows 28..285) and in the lower one (rows 298..555).
    bool upper = false, lower = false;
    for (int x : box)
        for (int y = 0; y < image.height(); ++y)
            if ((image.pixel(x, y) & 0xFFFFFF) == (rgb(plotShapeColour(0)) & 0xFFFFFF)) {
                upper = upper || (y > 28 && y < 280);
                lower = lower || (y > 300 && y < 560);
            }
    EXPECT_TRUE(upper);
    EXPECT_TRUE(lower);

    const std::string svg = dir.file("two.svg");
    ASSERT_TRUE(writeRecordingPlot(svg, two, 100, twoShapes, pulses, options).ok());
    QFile file(QString::fromStdString(svg));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string text = file.readAll().toStdString();
    EXPECT_THAT(text, HasSubstr(">left</text>"));
    EXPECT_THAT(text, HasSubstr(">right</text>"));

    const auto refusal = [&](std::span<const float> samples, const std::vector<Shape>& s, RecordingPlotOptions o) {
        return writeRecordingPlot(dir.file("bad.png"), samples, 100, s, pulses, o).error;
    };
    RecordingPlotOptions three = options;
    three.channels = 3;
    three.channelNames.clear();
    EXPECT_THAT(refusal(two, twoShapes, three), HasSubstr("2000 samples do not hold 3 channels"));
    RecordingPlotOptions named = options;
    named.channelNames = {"left"};
    EXPECT_THAT(refusal(two, twoShapes, named), HasSubstr("1 channel names for 2 channels"));
    EXPECT_THAT(refusal(two, shapes, options), HasSubstr("pulse 1 (at 400) has a shape of 1 channel(s) for a signal of 2"));
}
