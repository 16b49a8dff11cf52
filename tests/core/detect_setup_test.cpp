#include "core/detect_setup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "../io/temp_dir.h"
#include "core/recording_files.h"
#include "core/version.h"

namespace {

using ::testing::HasSubstr;

Signal rampSignal(int n, double rate = 1) {
    Signal signal;
    signal.rate = rate;
    for (int i = 0; i < n; ++i) signal.samples.push_back(static_cast<float>((i % 50) - 25));
    return signal;
}

ListedShape named(const Signal& signal, int64_t from, int64_t length, const char* name) {
    IoResult<ListedShape> cut = cutShape(signal, from, from + length, name, {});
    EXPECT_TRUE(cut.ok()) << cut.error;
    return cut.value;
}

TEST(CutShape, RefusesStretchesThatCannotBeAShape) {
    const Signal signal = rampSignal(1000);
    std::vector<ListedShape> shapes;
    EXPECT_THAT(cutShape(signal, 10, 15, "a", shapes).error, HasSubstr("holds 5 samples; a pulse shape needs at least 6"));
    EXPECT_THAT(cutShape(signal, 990, 1010, "a", shapes).error, HasSubstr("outside the signal"));
    EXPECT_THAT(cutShape(signal, 10, 30, "a,b", shapes).error, HasSubstr("comma"));
    EXPECT_THAT(cutShape(signal, 10, 30, "", shapes).error, HasSubstr("needs a name"));
    Signal flat = signal;
    std::fill(flat.samples.begin(), flat.samples.end(), 0.0f);
    EXPECT_THAT(cutShape(flat, 10, 30, "a", shapes).error, HasSubstr("zero throughout"));

    IoResult<ListedShape> first = cutShape(signal, 10, 30, "a", shapes);
    ASSERT_TRUE(first.ok()) << first.error;
    EXPECT_EQ(first.value.cutFrom, std::optional<int64_t>(10));
    EXPECT_EQ(first.value.shape.samples.front(), -15);
    shapes.push_back(first.value);
    // Shapes of several lengths are taken.
    EXPECT_TRUE(cutShape(signal, 40, 61, "b", shapes).ok());
    EXPECT_THAT(cutShape(signal, 40, 60, "a", shapes).error, HasSubstr("already a shape named \"a\""));
    EXPECT_EQ(nextShapeName(shapes), "t1");
    shapes.back().shape.name = "t1";
    EXPECT_EQ(nextShapeName(shapes), "t2");
    // Renaming a shape to its own name is no clash.
    EXPECT_TRUE(checkShapeName("t1", shapes, 0).ok());
    while (shapes.size() < static_cast<size_t>(maxShapeCount)) shapes.push_back(named(signal, 40, 20, "x"));
    EXPECT_THAT(cutShape(signal, 40, 60, "new", shapes).error, HasSubstr("already holds 256 shapes"));
}

class DetectFieldsTest : public ::testing::Test {
protected:
    Signal signal = rampSignal(2000, 100);
    std::vector<ListedShape> shapes = {named(signal, 10, 20, "a"), named(signal, 60, 20, "b")};
    DetectFields fields = [] {
        DetectFields f;
        f.tmin = "40";
        f.tmax = "181";
        return f;
    }();

    std::string refusal() { return checkDetectFields(fields, signal, shapes).error; }
};

TEST_F(DetectFieldsTest, GoodFieldsGiveTheSettings) {
    IoResult<DetectSettings> settings = checkDetectFields(fields, signal, shapes);
    ASSERT_TRUE(settings.ok()) << settings.error;
    EXPECT_EQ(settings.value.tmin, 40);
    EXPECT_EQ(settings.value.tmax, 181);
    EXPECT_FALSE(settings.value.count);
    EXPECT_EQ(settings.value.savedEnergy, 100);
    EXPECT_EQ(settings.value.candidates, (std::vector<int32_t>{0, 1}));

    // Seconds at 100 samples per second, rounded to the nearest sample.
    fields.inSeconds = true;
    fields.tmin = "0.404";
    fields.tmax = "1.5";
    fields.knownCount = true;
    fields.count = "7";
    fields.savedEnergy = "75";
    fields.baseline = true;
    fields.baselineSeconds = "0.5";
    shapes[0].candidate = false;
    settings = checkDetectFields(fields, signal, shapes);
    ASSERT_TRUE(settings.ok()) << settings.error;
    EXPECT_EQ(settings.value.tmin, 40);
    EXPECT_EQ(settings.value.tmax, 150);
    EXPECT_EQ(settings.value.count, std::optional<int64_t>(7));
    EXPECT_EQ(settings.value.savedEnergy, 75);
    EXPECT_EQ(settings.value.baselineSeconds, std::optional<double>(0.5));
    EXPECT_EQ(settings.value.candidates, (std::vector<int32_t>{1}));
}

TEST_F(DetectFieldsTest, GapLimitsAreChecked) {
    fields.tmin = "200";
    EXPECT_THAT(refusal(), HasSubstr("Tmin (200 samples) is greater than Tmax (181 samples)"));
    fields.tmin = "0";
    EXPECT_THAT(refusal(), HasSubstr("Tmin must be a whole number of samples"));
    fields.tmin = "4.5";
    EXPECT_THAT(refusal(), HasSubstr("Tmin must be a whole number"));
    fields.tmin = "40";
    fields.tmax = "";
    EXPECT_THAT(refusal(), HasSubstr("Tmax must be a whole number"));
    fields.tmax = "5000";
    EXPECT_THAT(refusal(), HasSubstr("longer than the signal"));
    fields.tmax = "19";
    fields.tmin = "10";
    EXPECT_THAT(refusal(), HasSubstr("19"));  // shapes of 20 samples do not fit Tmax 19
    fields.inSeconds = true;
    fields.tmin = "0.004";
    fields.tmax = "1";
    EXPECT_THAT(refusal(), HasSubstr("less than one sample"));
    fields.tmin = "-1";
    EXPECT_THAT(refusal(), HasSubstr("positive number of seconds"));
}

TEST_F(DetectFieldsTest, ShapesCountsEnergyAndBaselineAreChecked) {
    fields.task = DetectTask::detect;
    EXPECT_THAT(refusal(), HasSubstr("exactly one candidate"));
    shapes[1].candidate = false;
    EXPECT_TRUE(checkDetectFields(fields, signal, shapes).ok());
    shapes[0].candidate = false;
    fields.task = DetectTask::recognize;
    EXPECT_THAT(refusal(), HasSubstr("No shape is checked"));
    shapes[0].candidate = true;

    fields.knownCount = true;
    fields.count = "0";
    EXPECT_THAT(refusal(), HasSubstr("pulse count must be a whole number"));
    // 50 pulses at least 40 apart need 49 * 40 + 20 = 1980 samples: they fit in 2000; 51 do not.
    fields.count = "50";
    EXPECT_TRUE(checkDetectFields(fields, signal, shapes).ok());
    fields.count = "51";
    EXPECT_THAT(refusal(), HasSubstr("51 pulses"));
    fields.knownCount = false;

    for (const char* energy : {"-1", "101", "50.5", "x"}) {
        fields.savedEnergy = energy;
        EXPECT_THAT(refusal(), HasSubstr("saved energy")) << energy;
    }
    fields.savedEnergy = "0";  // the same range as the batch tool's and Python's
    EXPECT_EQ(checkDetectFields(fields, signal, shapes).value.savedEnergy, 0);
    fields.savedEnergy = "100";
    fields.baseline = true;
    fields.baselineSeconds = "0.001";
    EXPECT_THAT(refusal(), HasSubstr("shorter than one sample"));
    fields.baselineSeconds = "";
    EXPECT_THAT(refusal(), HasSubstr("baseline window"));

    shapes.clear();
    fields.baseline = false;
    EXPECT_THAT(refusal(), HasSubstr("no pulse shapes"));
}

TEST(PrepareDetection, IntegerSignalsKeepScaleOneAndBaselineRecutsShapes) {
    Signal signal = rampSignal(3000);
    for (float& s : signal.samples) s += 1000;  // an offset a baseline removes
    std::vector<ListedShape> shapes = {named(signal, 100, 20, "a")};
    shapes.push_back(ListedShape{Shape{"file", std::vector<double>(20, 7.0)}, std::nullopt, true});
    DetectSettings settings;
    settings.tmin = 40;
    settings.tmax = 181;
    settings.candidates = {0, 1};
    PreparedDetection prepared;
    ASSERT_TRUE(prepareDetection(signal, shapes, settings, prepared).ok());
    EXPECT_EQ(prepared.quantised.scale, 1);
    ASSERT_EQ(prepared.request.signal.size(), 3000u);
    EXPECT_EQ(prepared.request.signal[100], 975);
    ASSERT_EQ(prepared.request.shapes.size(), 2u);
    EXPECT_EQ(prepared.request.shapes[0][0], 975);
    EXPECT_EQ(prepared.request.tmin, 40);
    EXPECT_EQ(prepared.request.candidates, (std::vector<int32_t>{0, 1}));

    // With a baseline the cut shape is cut again from the corrected signal; the shape from a
    // file stays as it was.
    settings.baselineSeconds = 11;
    ASSERT_TRUE(prepareDetection(signal, shapes, settings, prepared).ok());
    EXPECT_EQ(prepared.request.signal[100], prepared.request.shapes[0][0]);
    EXPECT_EQ(prepared.request.signal[119], prepared.request.shapes[0][19]);
    EXPECT_NE(prepared.quantised.scale, 1);  // the corrected signal is no longer the file's integers
    std::vector<int16_t> fileShape(prepared.request.shapes[1].begin(), prepared.request.shapes[1].end());
    EXPECT_EQ(fileShape, std::vector<int16_t>(20, static_cast<int16_t>(std::lround(7 * prepared.quantised.scale))));
}

// Saving shapes and loading them again never changes a result: what is saved is what Detect
// used, also after a baseline removal (cut shapes recut there), and the batch tool reading the
// saved file with the same baseline quantises exactly the same shapes.
TEST(PrepareDetection, SavedShapesAreTheShapesDetectionUsed) {
    TempDir dir;
    Signal signal = rampSignal(3000);
    for (size_t i = 0; i < signal.samples.size(); ++i) signal.samples[i] += static_cast<float>(500 * std::sin(i * 0.003));
    const std::vector<ListedShape> cut = {named(signal, 100, 20, "a"), named(signal, 333, 20, "b")};
    DetectSettings settings;
    settings.tmin = 40;
    settings.tmax = 181;
    settings.candidates = {0, 1};
    settings.baselineSeconds = 11;
    PreparedDetection before;
    ASSERT_TRUE(prepareDetection(signal, cut, settings, before).ok());

    const IoResult<std::vector<Shape>> used = shapesAsDetected(signal, cut, settings.baselineSeconds);
    ASSERT_TRUE(used.ok()) << used.error;
    ASSERT_TRUE(writeShapesJson(dir.file("saved.json"), used.value).ok());
    const IoResult<std::vector<ListedShape>> loaded = loadShapes(dir.file("saved.json"));
    ASSERT_TRUE(loaded.ok()) << loaded.error;
    PreparedDetection after;
    ASSERT_TRUE(prepareDetection(signal, loaded.value, settings, after).ok());
    EXPECT_EQ(after.quantised.scale, before.quantised.scale);
    EXPECT_EQ(after.quantised.shapes, before.quantised.shapes);
    EXPECT_EQ(after.quantised.signal, before.quantised.signal);

    // The batch tool's path: the signal from a file, the saved shapes with --etalons.
    {
        std::ofstream out(dir.file("signal.csv"));
        out.precision(9);
        for (const float v : signal.samples) out << v << "\n";
    }
    RecordingFiles files;
    files.signalFile = dir.file("signal.csv");
    files.shapesFile = dir.file("saved.json");
    const IoResult<RecordingInput> read = readRecordingFiles(files, settings.baselineSeconds);
    ASSERT_TRUE(read.ok()) << read.error;
    PreparedDetection batch;
    ASSERT_TRUE(prepareDetection(read.value.signal, read.value.shapes, settings, batch).ok());
    EXPECT_EQ(batch.quantised.scale, before.quantised.scale);
    EXPECT_EQ(batch.quantised.shapes, before.quantised.shapes);

    // Without a baseline the saved shapes are the listed ones.
    const IoResult<std::vector<Shape>> plain = shapesAsDetected(signal, cut, std::nullopt);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value[1].samples, cut[1].shape.samples);
}

DetectReport sampleReport() {
    DetectReport report;
    report.samples = 1200;
    report.rate = 8000;
    report.scale = 0.5;
    report.shapes = {Shape{"beat", std::vector<double>(20, 1)}, Shape{"echo", std::vector<double>(20, 2)}};
    report.task = DetectTask::recognize;
    report.distance = -31;
    report.pulses = {DetectedPulse{99, 0, 0, 19, -20}, DetectedPulse{300, 1, 3, 17, -11}};
    return report;
}

// The report of a run holds the shapes as they were sought (cut again after the baseline
// removal), not as they were listed, so that drawn on the trace the detection saw they lie on it.
TEST(DetectReport, FilledFromThePreparedDetectionAndTheResult) {
    Signal signal = rampSignal(3000, 8000);
    for (float& s : signal.samples) s += 1000;
    const std::vector<ListedShape> shapes = {named(signal, 100, 20, "a"), named(signal, 333, 20, "b")};
    DetectSettings settings;
    settings.task = DetectTask::recognize;
    settings.tmin = 40;
    settings.tmax = 181;
    settings.candidates = {0, 1};
    settings.baselineSeconds = 0.01;
    PreparedDetection prepared;
    ASSERT_TRUE(prepareDetection(signal, shapes, settings, prepared).ok());
    DetectResult result;
    result.distance = -31;
    result.pulses = {DetectedPulse{99, 0, 0, 19, -20}};
    const DetectReport report = detectReportOf(signal, prepared, result, 2.5);
    EXPECT_EQ(report.samples, 3000);
    EXPECT_EQ(report.rate, 8000);
    EXPECT_EQ(report.scale, prepared.quantised.scale);
    EXPECT_EQ(report.task, DetectTask::recognize);
    EXPECT_EQ(report.distance, -31);
    EXPECT_EQ(report.pulses.size(), 1u);
    EXPECT_EQ(report.seconds, 2.5);
    ASSERT_EQ(report.shapes.size(), 2u);
    EXPECT_EQ(report.shapes[1].name, "b");
    EXPECT_EQ(report.shapes[1].samples, prepared.shapes[1].samples);
    EXPECT_NE(report.shapes[1].samples, shapes[1].shape.samples);
}

// Learning through the front ends' one run: the kept shapes replace the prepared ones on both
// scales and the report states the rounds; a shape learned to zeros is named and nothing kept.
TEST(RunDetection, LearnedShapesReplaceThePreparedOnesOrTheShapeIsNamed) {
    Signal signal = rampSignal(3000);
    for (size_t i = 0; i < signal.samples.size(); ++i) signal.samples[i] = (i % 100 < 10) ? 400.0f + static_cast<float>(i % 7) : 0.0f;
    ListedShape bump{Shape{"bump", {300, 380, 420, 380, 300, 200, 100, 50, 20, 10}}, std::nullopt, true};
    DetectSettings settings;
    settings.tmin = 90;
    settings.tmax = 110;
    settings.candidates = {0};
    PreparedDetection prepared;
    ASSERT_TRUE(prepareDetection(signal, {bump}, settings, prepared).ok());
    const std::atomic<bool> go{false};
    const DetectResult result = runDetection(prepared, 5, {}, {}, go);
    ASSERT_TRUE(result.error.empty()) << result.error;
    ASSERT_GE(prepared.learnDistances.size(), 2u);
    EXPECT_LT(prepared.learnDistances[1], prepared.learnDistances[0]);
    EXPECT_EQ(result.distance, prepared.learnDistances[static_cast<size_t>(prepared.learnedRound)]);
    EXPECT_EQ(prepared.shapes[0].name, "bump");
    EXPECT_NEAR(prepared.shapes[0].samples[0], 403, 4);  // the pulses' own level, not the given 300
    EXPECT_EQ(detectReportOf(signal, prepared, result, 0).learnDistances, prepared.learnDistances);

    std::fill(signal.samples.begin(), signal.samples.end(), 0.0f);
    signal.samples[5] = 1;
    PreparedDetection silent;
    ASSERT_TRUE(prepareDetection(signal, {bump}, settings, silent).ok());
    EXPECT_THAT(runDetection(silent, 2, {}, {}, go).error, HasSubstr("shape \"bump\" zero throughout"));
    EXPECT_EQ(silent.shapes[0].samples, bump.shape.samples);
}

// Candidates named by the user: the first shape of the name, nothing for an unknown one; the
// names listed for the message.
TEST(ShapeNames, LookedUpByNameAndListed) {
    const std::vector<Shape> shapes = {{"beat", {1}}, {"echo", {2}}, {"beat", {3}}};
    const struct {
        const char* name;
        std::optional<int32_t> index;
    } cases[] = {{"beat", 0}, {"echo", 1}, {"Beat", std::nullopt}, {"", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(shapeIndex(shapes, c.name), c.index) << c.name;
    EXPECT_EQ(shapeNameList(shapes), "beat, echo, beat");
    EXPECT_EQ(shapeNameList({}), "");
}

TEST(DetectReport, JsonAndCsvInTheDetectCommandsForm) {
    const DetectReport report = sampleReport();
    EXPECT_EQ(detectReportJson(report),
              R"({"version":")" + std::string(pulsebenchVersion) + R"(","samples":1200,"rate":8000.0,"scale":0.5,"etalons":[{"name":"beat","length":20},)"
              R"({"name":"echo","length":20}],"task":"recognize","distance":-31,"pulses":[)"
              R"({"position":99,"time":0.012375,"etalon":"beat","cutStart":0,"cutEnd":19,"measure":-20},)"
              R"({"position":300,"time":0.0375,"etalon":"echo","cutStart":3,"cutEnd":17,"measure":-11}]})"
              "\n");
    EXPECT_EQ(detectReportCsv(report),
              "position,time,etalon,cutStart,cutEnd,measure\n99,0.012375,beat,0,19,-20\n300,0.0375,echo,3,17,-11\n");
}

TEST(DetectReport, WrittenWholeByEndingOrRefused) {
    TempDir dir;
    const DetectReport report = sampleReport();
    ASSERT_TRUE(writeDetectReport(dir.file("r.JSON"), report).ok());
    ASSERT_TRUE(writeDetectReport(dir.file("r.csv"), report).ok());
    std::stringstream text;
    text << std::ifstream(dir.file("r.csv")).rdbuf();
    EXPECT_EQ(text.str(), detectReportCsv(report));
    EXPECT_THAT(writeDetectReport(dir.file("r.txt"), report).error, HasSubstr("unsupported format"));
    EXPECT_THAT(writeDetectReport(dir.file("no/such/dir/r.csv"), report).error, HasSubstr("r.csv"));
    EXPECT_THAT(dir.entries(), ::testing::UnorderedElementsAre("r.JSON", "r.csv"));
}

}  // namespace
