#include "core/recording_files.h"

#include <gmock/gmock.h>
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

// The recording read from `files` and prepared for a detection of all its shapes.
IoStatus readAndPrepare(const RecordingFiles& files, const std::optional<double>& baselineSeconds,
                        PreparedDetection& prepared) {
    IoResult<RecordingInput> input = readRecordingFiles(files, baselineSeconds);
    if (!input) return IoStatus::failure(input.error);
    DetectSettings settings;
    settings.tmin = 6;
    settings.tmax = 60;
    settings.baselineSeconds = baselineSeconds;
    for (size_t i = 0; i < input.value.shapes.size(); ++i) settings.candidates.push_back(static_cast<int32_t>(i));
    return prepareDetection(input.value.signal, input.value.shapes, settings, prepared);
}
}  // namespace

TEST(RecordingFiles, TemplatesAreCutAfterTheBaselineAndQuantisedWithTheSignal) {
    TempDir dir;
    RecordingFiles files;
    files.signalFile = dir.write("r.csv", recordingText());
    files.read.rate = 10;
    files.templates = {"1s:6:up", "4s:0.6s"};
    PreparedDetection r;
    IoStatus s = readAndPrepare(files, std::nullopt, r);
    ASSERT_TRUE(s.ok()) << s.error;
    ASSERT_EQ(r.shapes.size(), 2u);
    EXPECT_EQ(r.shapes[0].name, "up");
    EXPECT_EQ(r.shapes[1].name, "t2");
    EXPECT_EQ(r.quantised.scale, 1.0);  // integers in range: kept
    EXPECT_EQ(r.quantised.shapes[0], (std::vector<int16_t>{1010, 1020, 1030, 1040, 1050, 1060}));
    EXPECT_EQ(r.quantised.signal.size(), 60u);

    // With the level removed first (a median over 2.1 s), the cut shapes are the bare pulses.
    PreparedDetection corrected;
    s = readAndPrepare(files, 2.1, corrected);
    ASSERT_TRUE(s.ok()) << s.error;
    EXPECT_EQ(corrected.quantised.shapes[0], (std::vector<int16_t>{10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(corrected.quantised.shapes[1], (std::vector<int16_t>{-5, -10, -15, -20, -25, -30}));
    EXPECT_EQ(corrected.quantised.signal[0], 0);
}

TEST(RecordingFiles, ShapesFromAFileAndEveryStepsRefusalComesBack) {
    TempDir dir;
    RecordingFiles files;
    files.signalFile = dir.write("r.csv", recordingText());
    EXPECT_THAT(readRecordingFiles(files, std::nullopt).error, HasSubstr("no pulse shapes given"));
    files.shapesFile = dir.write("s.json", R"({"etalons": [{"name": "a", "samples": [0.5, 1, 1, 1, 1, 0.5]}]})");
    PreparedDetection r;
    IoStatus s = readAndPrepare(files, std::nullopt, r);
    ASSERT_TRUE(s.ok()) << s.error;
    EXPECT_DOUBLE_EQ(r.quantised.scale, 32767.0 / 1060.0);  // fractions: the common scale
    EXPECT_EQ(r.quantised.peak, 32767);

    files.templates = {"0:6"};
    EXPECT_THAT(readRecordingFiles(files, std::nullopt).error, HasSubstr("not both"));
    files.templates.clear();
    files.shapesFile = dir.write("short.json", R"({"etalons": [{"name": "a", "samples": [1, 2]}]})");
    EXPECT_EQ(readRecordingFiles(files, std::nullopt).error, "shape \"a\" has 2 samples; a shape needs at least 6");
    files.signalFile = dir.file("none.csv");
    EXPECT_THAT(readRecordingFiles(files, std::nullopt).error, HasSubstr("cannot open"));
    files.signalFile = dir.write("r2.csv", recordingText());
    files.shapesFile.clear();
    files.templates = {"55:6"};
    EXPECT_THAT(readRecordingFiles(files, std::nullopt).error, HasSubstr("reaches beyond the signal's 60 samples"));
    // The baseline window is refused before the shapes are read.
    files.templates = {"1:6"};
    EXPECT_THAT(readRecordingFiles(files, 0.0).error, HasSubstr("baseline window"));
    files.templates = {"55:6"};
    EXPECT_THAT(readRecordingFiles(files, 0.01).error, HasSubstr("shorter than one sample"));
}
