#include "core/recording_stream.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/io/temp_dir.h"

namespace {
using ::testing::HasSubstr;

// A recording of `n` samples: pulses of 20 samples every 50 to 89 samples on noise and a slow
// drift, from a fixed linear congruential stream.
std::vector<double> recording(int64_t n) {
    std::vector<double> y(static_cast<size_t>(n));
    uint32_t state = 11;
    const auto next = [&] {
        state = state * 1103515245u + 12345u;
        return static_cast<int>(state >> 16 & 0x7fff);
    };
    int64_t pulse = 10;
    for (int64_t i = 0; i < n; ++i) {
        double v = (next() % 601 - 300) + 400.0 * std::sin(static_cast<double>(i) * 1e-4);
        if (i >= pulse && i < pulse + 20) v += 3000 * std::sin(3.14159 * (static_cast<double>(i - pulse) + 0.5) / 20);
        if (i == pulse + 19) pulse += 50 + next() % 40;
        y[static_cast<size_t>(i)] = v;
    }
    return y;
}

// As a mono 16-bit WAV at 1000 Hz.
std::string writeWav(const TempDir& dir, const std::string& name, const std::vector<double>& y) {
    std::string bytes;
    const auto put = [&](uint32_t v, int size) {
        for (int b = 0; b < size; ++b) bytes += static_cast<char>(v >> (8 * b) & 0xff);
    };
    const auto data = static_cast<uint32_t>(2 * y.size());
    bytes += "RIFF";
    put(36 + data, 4);
    bytes += "WAVEfmt ";
    for (const auto& [v, size] : {std::pair{16u, 4}, {1u, 2}, {1u, 2}, {1000u, 4}, {2000u, 4}, {2u, 2}, {16u, 2}}) put(v, size);
    bytes += "data";
    put(data, 4);
    for (const double v : y) put(static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))), 2);
    return dir.write(name, bytes);
}

// As text with a header, in tenths: not integers, so the common scale is not 1.
std::string writeText(const TempDir& dir, const std::string& name, const std::vector<double>& y) {
    std::string text = "level\n";
    char line[32];
    for (const double v : y) {
        std::snprintf(line, sizeof line, "%.1f\n", v / 3);
        text += line;
    }
    return dir.write(name, text);
}

DetectSettings settingsFor(size_t shapes, const std::optional<double>& baseline, bool autoCost) {
    DetectSettings settings;
    settings.tmin = 40;
    settings.tmax = 120;
    settings.savedEnergy = 75;
    settings.baselineSeconds = baseline;
    settings.pulseCost.automatic = autoCost;
    for (size_t i = 0; i < shapes; ++i) settings.candidates.push_back(static_cast<int32_t>(i));
    return settings;
}

// The recording prepared after reading it whole, or the refusal.
IoStatus readWhole(const RecordingFiles& files, const DetectSettings& settings, PreparedDetection& prepared) {
    IoResult<RecordingInput> input = readRecordingFiles(files, settings.baselineSeconds);
    if (!input) return IoStatus::failure(input.error);
    return prepareDetection(input.value.signal, input.value.shapes, settings, prepared);
}

// The recording prepared from two readings, or the refusal.
IoStatus readTwice(const RecordingFiles& files, const DetectSettings& settings, PreparedDetection& prepared) {
    IoResult<ScannedRecording> scan = scanRecordingFiles(files, settings.baselineSeconds);
    if (!scan) return IoStatus::failure(scan.error);
    return prepareScannedDetection(scan.value, settings, prepared);
}

std::string reportOf(PreparedDetection& prepared) {
    prepared.request.threads = 2;
    const std::atomic<bool> go{false};
    DetectResult result = runDetection(prepared, 0, {}, {}, go);
    EXPECT_TRUE(result.error.empty()) << result.error;
    return detectReportJson(detectReportOf(1000, prepared, std::move(result), 0));
}
}  // namespace

// The recording read twice in blocks gives exactly what the recording read whole gives: the
// same 16-bit signal, scale, shapes, request, noise level and cost, and the same report.
TEST(ScannedRecording, EqualsTheRecordingReadWhole) {
    TempDir dir;
    const std::vector<double> y = recording(1000000);
    const std::string wav = writeWav(dir, "r.wav", y), text = writeText(dir, "r.csv", y);
    const std::string shapes = dir.write("s.json", R"({"etalons": [{"name": "a", "samples": [1, 400, 700, 900, 1000, 900, 700, 400, 1]},
                                                                  {"name": "b", "samples": [-300, 600, -900, 900, -600, 300]}]})");
    struct Case {
        std::string signal, shapesFile;
        std::vector<std::string> templates;
        std::optional<double> baseline;
        bool autoCost;
    };
    const Case cases[] = {
            {wav, "", {"10:20:beat", "0.5s:30"}, std::nullopt, false},
            {text, "", {"10:20:beat"}, 0.051, true},
            {text, shapes, {}, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signal + (c.baseline ? " with a baseline" : ""));
        RecordingFiles files;
        files.signalFile = c.signal;
        files.read.rate = c.signal == text ? std::optional<double>(1000) : std::nullopt;
        files.shapesFile = c.shapesFile;
        files.templates = c.templates;
        const DetectSettings settings = settingsFor(c.shapesFile.empty() ? c.templates.size() : 2, c.baseline, c.autoCost);
        PreparedDetection whole, twice;
        IoStatus s = readWhole(files, settings, whole);
        ASSERT_TRUE(s.ok()) << s.error;
        s = readTwice(files, settings, twice);
        ASSERT_TRUE(s.ok()) << s.error;
        EXPECT_EQ(twice.quantised.scale, whole.quantised.scale);
        EXPECT_EQ(twice.quantised.peak, whole.quantised.peak);
        EXPECT_TRUE(twice.quantised.signal == whole.quantised.signal);
        EXPECT_EQ(twice.quantised.shapes, whole.quantised.shapes);
        ASSERT_EQ(twice.shapes.size(), whole.shapes.size());
        for (size_t i = 0; i < whole.shapes.size(); ++i) EXPECT_EQ(twice.shapes[i].samples, whole.shapes[i].samples);
        EXPECT_EQ(twice.noiseSigma, whole.noiseSigma);
        EXPECT_EQ(twice.request.pulseCost, whole.request.pulseCost);
        EXPECT_TRUE(twice.corrected.empty());
        EXPECT_EQ(reportOf(twice), reportOf(whole));
    }
}

// A recording that cannot be read, or that changes between the two readings, is refused with a
// message saying so; the first reading refuses exactly what reading it whole refuses.
TEST(ScannedRecording, BadOrChangingFilesAreRefused) {
    TempDir dir;
    const std::vector<double> y = recording(300000), shorter(y.begin(), y.end() - 100);
    std::vector<double> other = y;
    other[123456] += 3;
    const auto appendTo = [](const std::string& path, const std::string& text) {
        std::FILE* f = std::fopen(path.c_str(), "ab");
        std::fputs(text.c_str(), f);
        std::fclose(f);
    };
    struct Case {
        const char* what;
        bool wav;
        std::string template_;
        std::function<void(const std::string& path)> change;  // between the readings; null: none
        std::string expected;  // the refusal; empty: the same as reading the file whole
    };
    const Case cases[] = {
            {"a malformed number after many blocks", false, "10:20", [&](const std::string& p) { appendTo(p, "1..5\n"); }, ""},
            {"a template beyond the end", false, "299990:20", nullptr, ""},
            {"shortened", false, "10:20", [&](const std::string&) { writeText(dir, "r.csv", shorter); },
             "changed while it was read: 300000 samples the first time, 299900 the second"},
            {"another sample", false, "10:20", [&](const std::string&) { writeText(dir, "r.csv", other); },
             "changed while it was read: its samples differ between the two readings"},
            {"removed", false, "10:20", [](const std::string& p) { std::filesystem::remove(p); },
             "a second time failed: cannot open"},
            {"cut short", true, "10:20", [](const std::string& p) { std::filesystem::resize_file(p, 3000); },
             "a second time failed: " + dir.file("r.wav") + ": truncated or damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingFiles files;
        files.signalFile = c.wav ? writeWav(dir, "r.wav", y) : writeText(dir, "r.csv", y);
        files.templates = {c.template_};
        const DetectSettings settings = settingsFor(1, std::nullopt, false);
        PreparedDetection whole, twice;
        if (c.expected.empty()) {
            if (c.change) c.change(files.signalFile);
            const IoStatus expected = readWhole(files, settings, whole);
            ASSERT_FALSE(expected.ok());
            EXPECT_EQ(readTwice(files, settings, twice).error, expected.error);
            continue;
        }
        IoResult<ScannedRecording> scan = scanRecordingFiles(files, std::nullopt);
        ASSERT_TRUE(scan.ok()) << scan.error;
        c.change(files.signalFile);
        const IoStatus s = prepareScannedDetection(scan.value, settings, twice);
        EXPECT_THAT(s.error, HasSubstr(c.expected));
        EXPECT_THAT(s.error, HasSubstr(files.signalFile));
    }
}
