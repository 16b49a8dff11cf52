// `series --csv --wav --truth`: the files hold exactly the series the JSON shows, and read back
// through the signal readers as the same samples.

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/recording_files.h"

#include "tests/cli/cli_run.h"

namespace {
class SeriesFilesCli : public ::testing::Test {
protected:
    SeriesFilesCli()
        : dir(std::filesystem::temp_directory_path() /
              ("pulsebench-cli-files-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
               "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~SeriesFilesCli() override { std::filesystem::remove_all(dir); }
    std::string file(const char* name) const { return (dir / name).string(); }
    std::filesystem::path dir;
};
}  // namespace

TEST_F(SeriesFilesCli, TheLastSeriesNoisySamplesAndTruthReadBackExactly) {
    const CliRun run = runCli("series --type 2 --length 900 --count 9 --noise 40 --repeat 3 --json --csv " +
                              file("s.csv") + " --wav " + file("s.wav") + " --truth " + file("t.csv"));
    ASSERT_EQ(run.status, 0);
    const auto all = nlohmann::json::parse(run.out);
    ASSERT_EQ(all.size(), 3u);
    const auto& last = all.back();
    const auto noisy = last["noisy"].get<std::vector<float>>();
    ASSERT_NE(noisy, all.front()["noisy"].get<std::vector<float>>());
    for (const char* name : {"s.csv", "s.wav"}) {
        const auto r = readSignal(file(name));
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(r.value.samples, noisy) << name;
    }
    std::string truth = "position,etalon,cutStart,cutEnd\n";
    for (const auto& p : last["pulses"])
        truth += std::to_string(p["position"].get<int>()) + "," + std::to_string(p["etalon"].get<int>()) + "," +
                 std::to_string(p["cutStart"].get<int>()) + "," + std::to_string(p["cutEnd"].get<int>()) + "\n";
    EXPECT_EQ(contentOf(file("t.csv")), truth);
}

TEST_F(SeriesFilesCli, AFailedWriteLeavesNoFileAndPrintsNothing) {
    const CliRun run =
        runCli("series --csv " + file("s.csv") + " --truth " + file("missing/t.csv") + " --wav " + file("s.wav"));
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST_F(SeriesFilesCli, TheWorkbenchsSeriesAndAlphabetLoadAsARecordingOfScaleOne) {
    const CliRun alphabet = runCli("alphabet --json");
    ASSERT_EQ(alphabet.status, 0);
    std::ofstream(file("alphabet.json")) << alphabet.out;
    const CliRun series = runCli("series --noise 30 --json --wav " + file("s.wav"));
    ASSERT_EQ(series.status, 0);
    const auto noisy = nlohmann::json::parse(series.out).back()["noisy"].get<std::vector<int16_t>>();

    RecordingFiles files;
    files.signalFile = file("s.wav");
    files.shapesFile = file("alphabet.json");
    const auto read = readRecordingFiles(files, std::nullopt);
    ASSERT_TRUE(read.ok()) << read.error;
    DetectSettings settings;
    settings.tmax = static_cast<int64_t>(read.value.signal.samples.size());
    settings.candidates = {0};
    PreparedDetection r;
    const IoStatus prepared = prepareDetection(read.value.signal, read.value.shapes, settings, r);
    ASSERT_TRUE(prepared.ok()) << prepared.error;
    EXPECT_EQ(r.quantised.scale, 1.0);
    EXPECT_EQ(r.quantised.signal, noisy);
    ASSERT_EQ(r.shapes.size(), 20u);
    const auto etalons = nlohmann::json::parse(alphabet.out)["etalons"];
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(r.shapes[i].name, std::to_string(i + 1));
        EXPECT_EQ(r.quantised.shapes[i], etalons[i]["samples"].get<std::vector<int16_t>>());
    }
}
