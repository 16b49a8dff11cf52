#include "io/recording.h"

#include <gtest/gtest.h>

#include "tests/io/temp_dir.h"

namespace {
using ::testing::HasSubstr;

// 60 samples at 10 Hz: a level of 1000 with two pulses of 6 samples on it.
std::string recordingText() {
    std::string text = "# a recording\nlevel\n";
    for (int i = 0; i < 60; ++i) {
        int v = 1000;
        if (i >= 10 && i < 16) v += 10 * (i - 9);
        if (i >= 40 && i < 46) v -= 5 * (i - 39);
        text += std::to_string(v) + "\n";
    }
    return text;
}
}  // namespace

TEST(Recording, TemplatesAreCutAfterTheBaselineAndQuantisedWithTheSignal) {
    TempDir dir;
    RecordingRequest request;
    request.signalFile = dir.write("r.csv", recordingText());
    request.read.rate = 10;
    request.templates = {"1s:6:up", "4s:0.6s"};
    auto r = loadRecording(request);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.shapes.size(), 2u);
    EXPECT_EQ(r.value.shapes[0].name, "up");
    EXPECT_EQ(r.value.shapes[1].name, "t2");
    EXPECT_EQ(r.value.quantised.scale, 1.0);  // integers in range: kept
    EXPECT_EQ(r.value.quantised.shapes[0], (std::vector<int16_t>{1010, 1020, 1030, 1040, 1050, 1060}));
    EXPECT_EQ(r.value.quantised.signal.size(), 60u);

    // With the level removed first (a median over 2.1 s), the cut shapes are the bare pulses.
    request.baselineSeconds = 2.1;
    r = loadRecording(request);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value.quantised.shapes[0], (std::vector<int16_t>{10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(r.value.quantised.shapes[1], (std::vector<int16_t>{-5, -10, -15, -20, -25, -30}));
    EXPECT_EQ(r.value.quantised.signal[0], 0);
}

TEST(Recording, ShapesFromAFileAndEveryStepsRefusalComesBack) {
    TempDir dir;
    RecordingRequest request;
    request.signalFile = dir.write("r.csv", recordingText());
    EXPECT_THAT(loadRecording(request).error, HasSubstr("no pulse shapes given"));
    request.shapesFile = dir.write("s.json", R"({"etalons": [{"name": "a", "samples": [0.5, 1, 1, 1, 1, 0.5]}]})");
    auto r = loadRecording(request);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_DOUBLE_EQ(r.value.quantised.scale, 32767.0 / 1060.0);  // fractions: the common scale
    EXPECT_EQ(r.value.quantised.peak, 32767);

    request.templates = {"0:6"};
    EXPECT_THAT(loadRecording(request).error, HasSubstr("not both"));
    request.templates.clear();
    request.shapesFile = dir.write("short.json", R"({"etalons": [{"name": "a", "samples": [1, 2]}]})");
    EXPECT_EQ(loadRecording(request).error, "shape \"a\" has 2 samples; a shape needs at least 6");
    request.signalFile = dir.file("none.csv");
    EXPECT_THAT(loadRecording(request).error, HasSubstr("cannot open"));
    request.signalFile = dir.write("r2.csv", recordingText());
    request.shapesFile.clear();
    request.templates = {"55:6"};
    EXPECT_THAT(loadRecording(request).error, HasSubstr("reaches beyond the signal's 60 samples"));
    request.templates = {"1:6"};
    request.baselineSeconds = 0;
    EXPECT_THAT(loadRecording(request).error, HasSubstr("baseline window"));
}
