// `detect`: the round trip make -> write -> read -> detect gives exactly what `process` found in
// memory, for every task; shapes cut from the recording; the files it writes; refusals that
// write nothing; signals beyond 16-bit positions; Ctrl-C.

#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/version.h"
#include "io/file_batch.h"
#include "io/series_files.h"

#include "tests/cli/cli_run.h"

namespace {
using nlohmann::json;

class DetectCli : public ::testing::Test {
protected:
    DetectCli()
        : dir(std::filesystem::temp_directory_path() /
              ("pulsebench-cli-detect-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
               "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        const CliRun alphabet = runCli("alphabet --json");
        EXPECT_EQ(alphabet.status, 0);
        std::ofstream(file("alphabet.json")) << alphabet.out;
    }
    ~DetectCli() override { std::filesystem::remove_all(dir); }
    std::string file(const char* name) const { return (dir / name).string(); }
    std::vector<std::string> filesLeft() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().filename() != "alphabet.json" && entry.path().filename() != "s.csv" &&
                entry.path().filename() != "s.wav" && entry.path().filename() != "bad.csv" &&
                entry.path().filename().string().rfind("in-", 0) != 0)
                names.push_back(entry.path().filename().string());
        return names;
    }
    std::filesystem::path dir;
};

// What `process` found for the series the options make, and what `detect` finds in the same
// series written by `series` to `format` ("csv" or "wav") and read back.
struct RoundTrip {
    std::string series;         // series options, shared by series and process
    std::string processOptions; // --task, --candidates, ...
    std::string detectOptions;  // the same question put to detect
    const char* format;
};

TEST_F(DetectCli, RoundTripGivesWhatProcessFoundForEveryTask) {
    const RoundTrip trips[] = {
        // joint detection and identification, unknown and known count
        {"--type 8 --noise 40", "--task 4", "--task joint --saved-energy 75", "csv"},
        {"--type 2 --count 9 --noise 40 --sequence 1,3,5,3,1,5,5,3,1", "--task 4 --candidates 1,3,5",
         "--task joint --count 9 --saved-energy 75 --candidates 1,3,5", "wav"},
        // detection of one shape
        {"--type 4 --noise 30 --sequence 3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3,3", "--task 1 --candidates 3",
         "--task detect --candidates 3", "wav"},
        {"--type 2 --count 8 --noise 25", "--task 1 --candidates 1", "--task detect --count 8 --saved-energy 75 --candidates 1",
         "csv"},
        // recognition of the one shape of the series, unknown and known count
        {"--type 8 --noise 30 --sequence 9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9", "--task 2 --candidates 3,9,14",
         "--task recognize --saved-energy 75 --candidates 3,9,14", "csv"},
        {"--type 1 --count 7 --noise 20 --sequence 5,5,5,5,5,5,5", "--task 2 --candidates 2,5,9",
         "--task recognize --count 7 --candidates 2,5,9", "wav"},
    };
    for (const RoundTrip& trip : trips) {
        SCOPED_TRACE(trip.series + " " + trip.processOptions);
        const CliRun process = runCli("process " + trip.series + " " + trip.processOptions + " --json");
        ASSERT_EQ(process.status, 0);
        const json made = json::parse(process.out).at(0);
        const std::string signal = file(trip.format == std::string("csv") ? "s.csv" : "s.wav");
        ASSERT_EQ(runCli("series " + trip.series + " --" + trip.format + " " + signal).status, 0);
        const CliRun detect = runCli("detect --signal " + signal + " --etalons " + file("alphabet.json") + " --tmin " +
                                     std::to_string(made["tmin"].get<int>()) + " --tmax " +
                                     std::to_string(made["tmax"].get<int>()) + " " + trip.detectOptions + " --json");
        ASSERT_EQ(detect.status, 0);
        const json found = json::parse(detect.out);
        EXPECT_EQ(found["scale"], 1.0);
        EXPECT_EQ(found["samples"], made["length"]);
        const json& expected = made["found"]["pulses"];
        ASSERT_GT(expected.size(), 0u);
        ASSERT_EQ(found["pulses"].size(), expected.size()) << detect.out;
        for (size_t j = 0; j < expected.size(); ++j) {
            const json &a = found["pulses"][j], &b = expected[j];
            EXPECT_EQ(a["position"], b["position"]);
            EXPECT_EQ(a["time"].get<double>(), b["position"].get<double>());
            EXPECT_EQ(a["etalon"], std::to_string(b["etalon"].get<int>()));
            EXPECT_EQ(a["cutStart"], b["cutStart"]);
            EXPECT_EQ(a["cutEnd"], b["cutEnd"]);
        }
        EXPECT_EQ(found["distance"], made["chains"]["rows"][0]["distance"]);
    }
}

TEST_F(DetectCli, JsonHasTheDocumentedFormatAndCsvOnePulseARow) {
    ASSERT_EQ(runCli("series --type 2 --count 9 --noise 40 --csv " + file("s.csv")).status, 0);
    const CliRun run = runCli("detect --signal " + file("s.csv") + " --etalons " + file("alphabet.json") +
                              " --tmin 40 --tmax 181 --count 9 --saved-energy 75 --candidates 1,2 --json --csv " +
                              file("found.csv") + " --plot " + file("found.svg") + " --plot-range 100:700 --size 800x300");
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(run.out.rfind("{\"version\":\"" + std::string(pulsebenchVersion) + "\",\"samples\":1200,\"rate\":1.0,\"scale\":1.0,\"etalons\":[{\"name\":\"1\",\"length\":20},", 0), 0u)
        << run.out;
    EXPECT_NE(run.out.find("],\"task\":\"joint\",\"distance\":"), std::string::npos);
    const nlohmann::ordered_json found = nlohmann::ordered_json::parse(run.out);
    ASSERT_EQ(found["pulses"].size(), 9u);
    const auto& first = found["pulses"][0];
    std::vector<std::string> keys;
    for (auto it = first.begin(); it != first.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"position", "time", "etalon", "cutStart", "cutEnd", "measure"}));
    int64_t total = 0;
    std::string csv = "position,time,etalon,cutStart,cutEnd,measure\n";
    for (const auto& p : found["pulses"]) {
        total += p["measure"].get<int64_t>();
        csv += std::to_string(p["position"].get<int64_t>()) + "," + std::to_string(p["position"].get<int64_t>()) + "," +
               p["etalon"].get<std::string>() + "," + std::to_string(p["cutStart"].get<int>()) + "," +
               std::to_string(p["cutEnd"].get<int>()) + "," + std::to_string(p["measure"].get<int64_t>()) + "\n";
    }
    EXPECT_LE(found["distance"].get<int64_t>(), 0);
    EXPECT_EQ(contentOf(file("found.csv")), csv);
    const std::string svg = contentOf(file("found.svg"));
    EXPECT_NE(svg.find("<svg"), std::string::npos);

    // The text form names every pulse.
    const CliRun text = runCli("detect --signal " + file("s.csv") + " --etalons " + file("alphabet.json") +
                               " --tmin 40 --tmax 181 --count 9 --saved-energy 75 --candidates 1,2");
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("9 pulses, distance " + std::to_string(found["distance"].get<int64_t>())), std::string::npos);

    // The plain model spelt out prints the same; a gain range and a pulse cost are stated, each
    // pulse with its gain, and the measures still sum to the distance.
    const std::string options = "detect --signal " + file("s.csv") + " --etalons " + file("alphabet.json") +
                                " --tmin 40 --tmax 181 --saved-energy 75 --candidates 1,2 --json";
    EXPECT_EQ(runCli(options + " --count 9 --gain 1:1 --pulse-cost 0").out, run.out);
    const CliRun extended = runCli(options + " --gain 0.5:2 --pulse-cost auto --csv " + file("gains.csv"));
    ASSERT_EQ(extended.status, 0) << extended.out;
    const nlohmann::ordered_json gains = nlohmann::ordered_json::parse(extended.out);
    EXPECT_EQ(gains["gain"], nlohmann::ordered_json::array({0.5, 2.0}));
    EXPECT_TRUE(gains["pulseCostAuto"].get<bool>());
    EXPECT_GT(gains["pulseCost"].get<double>(), 0);
    EXPECT_GT(gains["noiseSigma"].get<double>(), 0);
    int64_t sum = 0;
    for (const auto& p : gains["pulses"]) {
        EXPECT_GE(p["gain"].get<double>(), 0.5);
        EXPECT_LE(p["gain"].get<double>(), 2.0);
        sum += p["measure"].get<int64_t>();
    }
    EXPECT_EQ(sum, gains["distance"].get<int64_t>());
    EXPECT_EQ(contentOf(file("gains.csv")).rfind("position,time,etalon,cutStart,cutEnd,measure,gain\n", 0), 0u);

    // The confidence: every pulse's two probabilities, the expected count, and each position's
    // probability in the posterior file, which sum to the expected count.
    const CliRun sure = runCli(options + " --confidence --noise-sigma 40 --posterior " + file("posterior.csv"));
    ASSERT_EQ(sure.status, 0) << sure.out;
    const nlohmann::ordered_json confident = nlohmann::ordered_json::parse(sure.out);
    EXPECT_EQ(confident["noiseSigma"], 40.0);
    for (const auto& p : confident["pulses"])
        for (const char* key : {"confidence", "kindConfidence"}) {
            EXPECT_GE(p[key].get<double>(), 0.0);
            EXPECT_LE(p[key].get<double>(), 1.0);
        }
    std::istringstream rows(contentOf(file("posterior.csv")));
    std::string row;
    std::getline(rows, row);
    EXPECT_EQ(row, "position,time,probability");
    double expected = 0;
    size_t positions = 0;
    while (std::getline(rows, row)) {
        expected += std::stod(row.substr(row.rfind(',') + 1));
        ++positions;
    }
    EXPECT_EQ(positions, 1200u - 20 + 1);
    EXPECT_NEAR(expected, confident["expectedCount"].get<double>(), 1e-6 * expected);

    // What asks for the confidence: --noise-sigma alone only sets σ (an automatic cost's).
    const struct {
        std::string extra;
        bool confidence;
    } asks[] = {{" --noise-sigma 40", false},
                {" --noise-sigma 40 --pulse-cost auto", false},
                {" --confidence-window 10", true},
                {" --posterior " + file("p.csv"), true}};
    for (const auto& ask : asks) {
        const CliRun r = runCli(options + ask.extra);
        ASSERT_EQ(r.status, 0) << ask.extra << r.out;
        const nlohmann::ordered_json j = nlohmann::ordered_json::parse(r.out);
        EXPECT_EQ(j.contains("expectedCount"), ask.confidence) << ask.extra;
        EXPECT_EQ(j["pulses"][0].contains("confidence"), ask.confidence) << ask.extra;
        if (ask.extra.find("auto") != std::string::npos) {
            EXPECT_EQ(j["noiseSigma"], 40.0);
        }
    }
}

TEST_F(DetectCli, ShapesCutFromTheRecordingInSamplesOrSeconds) {
    ASSERT_EQ(runCli("series --type 4 --noise 10 --wav " + file("s.wav") + " --truth " + file("t.csv")).status, 0);
    std::ifstream truth(file("t.csv"));
    std::string header, row;
    std::getline(truth, header);
    std::getline(truth, row);
    const std::string start = row.substr(0, row.find(','));
    const CliRun samples = runCli("detect --signal " + file("s.wav") + " --template " + start + ":20:beat --tmin 40 --tmax 181 --json");
    const CliRun seconds = runCli("detect --signal " + file("s.wav") + " --template " + start + "s:20s:beat --tmin 40s --tmax 181s --json");
    ASSERT_EQ(samples.status, 0);
    EXPECT_EQ(samples.out, seconds.out);
    const json found = json::parse(samples.out);
    EXPECT_EQ(found["etalons"], json::parse(R"([{"name":"beat","length":20}])"));
    bool atTemplate = false;
    for (const json& p : found["pulses"]) {
        EXPECT_EQ(p["etalon"], "beat");
        atTemplate = atTemplate || std::to_string(p["position"].get<int64_t>()) == start;
    }
    EXPECT_TRUE(atTemplate);
}

TEST_F(DetectCli, RefusalsNameTheProblemAndWriteNothing) {
    ASSERT_EQ(runCli("series --noise 20 --csv " + file("s.csv")).status, 0);
    std::ofstream(file("bad.csv")) << "value\n1\n2\nabc\n";
    const std::string base = "detect --signal " + file("s.csv") + " --etalons " + file("alphabet.json");
    const std::string outputs = " --csv " + file("out.csv") + " --plot " + file("out.png");
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        {"detect --signal " + file("missing.csv") + " --etalons " + file("alphabet.json") + " --tmin 40 --tmax 181",
         "missing.csv"},
        {"detect --signal " + file("bad.csv") + " --etalons " + file("alphabet.json") + " --tmin 4 --tmax 181",
         "bad.csv:4"},
        {base + " --column 3 --tmin 40 --tmax 181", "column"},
        {base + " --tmin 100 --tmax 50", "Tmin <= Tmax"},
        {base + " --tmin 40 --tmax 10", "Tmax"},
        {base + " --tmin 40 --tmax 181 --task detect", "--task detect looks for one shape"},
        {base + " --tmin 40 --tmax 181 --candidates 1,99", "no shape named \"99\""},
        {base + " --tmin 40 --tmax 181 --saved-energy 101", "--saved-energy"},
        {base + " --tmin 40 --tmax 181 --task guess", "--task"},
        {base + " --tmin 40 --tmax 181 --count 0", "--count"},
        {base + " --tmin 40 --tmax 181 --count 3", "cannot cover"},
        {base + " --tmin 4x --tmax 181", "--tmin"},
        {"detect --signal " + file("s.csv") + " --tmin 40 --tmax 181", "no pulse shapes"},
        {base + " --template 5:20 --tmin 40 --tmax 181", "exclude each other"},
        {"detect --signal " + file("s.csv") + " --template 1190:20 --tmin 40 --tmax 181", "1190:20"},
        {base + " --tmin 40 --tmax 181 --plot " + file("x.jpg"), "must end in \".png\" or \".svg\""},
        {base + " --tmin 40 --tmax 181 --csv " + file("no/such/dir.csv"), "--csv: cannot write"},
        {base + " --tmin 40 --tmax 181 --plot " + file("p.png") + " --plot-range 5000:6000", "--plot-range"},
        {base + " --tmin 40 --tmax 181 --size 10x10", "--size"},
        // Damaged files and names that are no UTF-8 are refused, never an abort.
        {"detect --signal " + file("in-cut.wav") + " --etalons " + file("alphabet.json") + " --tmin 40 --tmax 181",
         "truncated or damaged"},
        {"detect --signal " + file("s.csv") + " --template '99:20:\xf8' --tmin 40 --tmax 181 --json",
         "not valid UTF-8 (byte 1)"},
        {"detect --signal " + file("s.csv") + " --etalons " + file("in-latin1.csv") + " --tmin 40 --tmax 181 --json",
         "not valid UTF-8"},
        // No chain of gaps from Tmin to Tmax covers 46 samples.
        {"detect --signal " + file("in-46.csv") + " --template 0:20 --tmin 20 --tmax 20", "No chain of pulses fits"},
        // One file under two spellings, and empty file names.
        {base + " --tmin 40 --tmax 181 --csv " + file("x.png") + " --plot " + (dir / "." / "x.png").string(),
         "name the same file"},
        {base + " --tmin 40 --tmax 181 --csv ''", "--csv: expected a file name"},
        {base + " --tmin 40 --tmax 181 --plot ''", "--plot: expected a file name"},
        {"series --csv ''", "--csv: expected a file name"},
        {"simulate --pulses 6:7:1 --noise 0:1:1 --repeats 1 --csv ''", "--csv: expected a file name"},
        {"detect --signal " + file("s.csv") + " --rate 1e-308 --etalons " + file("alphabet.json") + " --tmin 40 --tmax 181",
         "--rate: expected samples per second from 1e-06"},
        // The parser's refusals in the style of every other, with exit status 1.
        {base + " --tmin 40 --tmin 50 --tmax 181", "pulsebench-cli detect: --tmin"},
        {base + " --tmin 40 --tmax 181 --count 9223372036854775807", "--count: expected a whole number of pulses from 1 to"},
        {base + " --tmin 40 --tmax 181 --count 99999999999999999999", "(too large)"},
        {base + " --tmin 40 --tmax 181 --saved-energy 99.999", "a whole number of percent"},
        {base + " --tmin 40 --tmax 181 --gain 2:1", "--gain: MIN must not be above MAX"},
        {base + " --tmin 40 --tmax 181 --gain 1:x", "--gain: expected MIN:MAX"},
        {base + " --tmin 40 --tmax 181 --gain 0:1e9", "--gain: a gain lies from -1000 to 1000"},
        {base + " --tmin 40 --tmax 181 --pulse-cost -1", "--pulse-cost: expected a number of at least 0"},
        {base + " --tmin 40 --tmax 181 --pulse-cost often", "--pulse-cost: expected a number of at least 0"},
        {base + " --tmin 40 --tmax 181 --learn 1001", "--learn: expected a whole number of rounds from 0 to 1000"},
        {base + " --tmin 40 --tmax 181 --noise-sigma 0", "--noise-sigma: expected a positive number"},
        {base + " --tmin 40 --tmax 181 --confidence-window 182", "--confidence-window: expected 1 to Tmax (181)"},
        {base + " --tmin 40 --tmax 181" + outputs + " --posterior " + file("out.png"), "--plot and --posterior name the same file"},
        {base + " --tmin 40 --tmax 181 --learn 2" + outputs + " --save-shapes " + (dir / "none" / "s.json").string(),
         "--save-shapes"},
        {base + " --tmin 40 --tmax 181" + outputs + " --save-shapes " + file("out.csv"),
         "--csv and --save-shapes name the same file"},
        {"detect --signal " + file("in-wide.csv") + " --etalons " + file("alphabet.json") + " --tmin 40 --tmax 181",
         "c1, c2, c3, c4, c5, c6, c7, c8, ... (100000 in all)"},
    };
    {
        // A WAV whose header promises more samples than it holds; a table with Latin-1 names;
        // a short signal; a table of very many columns.
        ASSERT_EQ(runCli("series --noise 20 --wav " + file("in-cut.wav")).status, 0);
        std::filesystem::resize_file(file("in-cut.wav"), std::filesystem::file_size(file("in-cut.wav")) - 4);
        std::ofstream(file("in-latin1.csv")) << "a,b\xf8\n1,2\n3,4\n5,6\n7,8\n9,10\n11,12\n";
        std::ofstream short46(file("in-46.csv"));
        for (int i = 0; i < 46; ++i) short46 << (i % 7) << "\n";
        std::ofstream wide(file("in-wide.csv"));
        for (int c = 1; c <= 100000; ++c) wide << (c > 1 ? "," : "") << "c" << c;
        wide << "\n";
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string err = file("err.txt");
        const CliRun run = runCli(c.args + (c.args.find("--csv") == std::string::npos && c.args.find("--plot") == std::string::npos ? outputs : ""),
                                  err.c_str());
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.status;
        EXPECT_EQ(run.out, "");
        const std::string message = contentOf(err);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_LT(message.size(), 1000u);
        std::filesystem::remove(err);
        EXPECT_EQ(filesLeft(), std::vector<std::string>{});
    }
}

// Whatever fails after the work, a picture or result half written never stays: a file size
// limit while the SVG is written, a standard output that cannot take the result.
TEST_F(DetectCli, AFailedPictureOrStandardOutputLeavesNoFile) {
    ASSERT_EQ(runCli("series --type 8 --noise 40 --csv " + file("s.csv")).status, 0);
    const std::string base = "detect --signal " + file("s.csv") + " --etalons " + file("alphabet.json") +
                             " --tmin 40 --tmax 181 --saved-energy 75 --json";
    const std::string limited = "sh -c \"trap '' XFSZ; ulimit -f 1; " + std::string(PULSEBENCH_CLI) + " " + base +
                                " --plot " + file("d.svg") + " --csv " + file("d.csv") + "\" 2>" + file("err.txt");
    FILE* pipe = popen(limited.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096];
    std::string out;
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 1) << contentOf(file("err.txt"));
    EXPECT_NE(contentOf(file("err.txt")).find("d.svg: File too large"), std::string::npos) << contentOf(file("err.txt"));
    EXPECT_EQ(out, "");
    std::filesystem::remove(file("err.txt"));
    EXPECT_EQ(filesLeft(), std::vector<std::string>{});

    const CliRun full = runCli(base + " --plot " + file("d.svg") + " > /dev/full", file("err.txt").c_str());
    EXPECT_EQ(WEXITSTATUS(full.status), 1);
    EXPECT_NE(contentOf(file("err.txt")).find("Cannot write standard output"), std::string::npos);
    std::filesystem::remove(file("err.txt"));
    EXPECT_EQ(filesLeft(), std::vector<std::string>{});
}

// Drawing needs no desktop session: without a runtime folder nothing reaches standard error.
TEST_F(DetectCli, PlottingOutsideASessionPrintsNothingOnStandardError) {
    ASSERT_EQ(runCli("series --type 8 --noise 40 --csv " + file("s.csv")).status, 0);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string kept = runtime ? runtime : "";
    ::unsetenv("XDG_RUNTIME_DIR");
    const CliRun run = runCli("detect --signal " + file("s.csv") + " --etalons " + file("alphabet.json") +
                                  " --tmin 40 --tmax 181 --quiet --plot " + file("p.png") + " --json",
                              file("err.txt").c_str());
    if (runtime) ::setenv("XDG_RUNTIME_DIR", kept.c_str(), 1);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(contentOf(file("err.txt")), "");
}

// Limits beyond the recording allow what its length allows; old Mac line ends read as lines.
TEST_F(DetectCli, HugeLimitsAndLoneCarriageReturnsAreRead) {
    ASSERT_EQ(runCli("series --type 2 --count 9 --noise 30 --csv " + file("s.csv")).status, 0);
    const std::string shapes = " --etalons " + file("alphabet.json") + " --saved-energy 75 --json";
    const CliRun wide = runCli("detect --signal " + file("s.csv") + shapes + " --tmin 40 --tmax 1152921504606846976 --count 9");
    const CliRun whole = runCli("detect --signal " + file("s.csv") + shapes + " --tmin 40 --tmax 1200 --count 9");
    ASSERT_EQ(wide.status, 0);
    EXPECT_EQ(wide.out, whole.out);

    std::string text = contentOf(file("s.csv"));
    std::replace(text.begin(), text.end(), '\n', '\r');
    std::ofstream(file("in-mac.csv"), std::ios::binary) << text;
    const CliRun mac = runCli("detect --signal " + file("in-mac.csv") + shapes + " --tmin 40 --tmax 181");
    const CliRun unix = runCli("detect --signal " + file("s.csv") + shapes + " --tmin 40 --tmax 181");
    ASSERT_EQ(mac.status, 0);
    EXPECT_EQ(mac.out, unix.out);
}

// A signal of `length` samples with a bump every `gap` samples, as a 16-bit WAV at `rate`.
std::vector<int64_t> writePulseTrain(const std::string& path, int64_t length, int64_t gap, int rate) {
    std::vector<int16_t> samples(static_cast<size_t>(length));
    uint32_t state = 12345;
    for (auto& v : samples) {
        state = state * 1103515245u + 12345u;
        v = static_cast<int16_t>(static_cast<int>((state >> 16) % 41) - 20);
    }
    const int16_t bump[] = {0, 300, 800, 1500, 2000, 1500, 800, 300, 0, -200, -400, -200};
    std::vector<int64_t> starts;
    for (int64_t p = 50; p + 12 <= length; p += gap) {
        starts.push_back(p);
        for (int c = 0; c < 12; ++c) samples[static_cast<size_t>(p + c)] = static_cast<int16_t>(samples[static_cast<size_t>(p + c)] + bump[c]);
    }
    FileBatch batch;
    EXPECT_TRUE(writeSamplesWav(batch, path, samples, rate).ok());
    EXPECT_TRUE(batch.commit().ok());
    return starts;
}

TEST_F(DetectCli, FindsPulsesBeyondSixteenBitPositions) {
    const std::vector<int64_t> starts = writePulseTrain(file("long.wav"), 200000, 1000, 1000);
    const CliRun run = runCli("detect --signal " + file("long.wav") + " --template 0.05s:12:bump --tmin 0.9s --tmax 1.1s --json");
    ASSERT_EQ(run.status, 0);
    const json found = json::parse(run.out);
    EXPECT_EQ(found["rate"], 1000.0);
    ASSERT_EQ(found["pulses"].size(), starts.size());
    for (size_t j = 0; j < starts.size(); ++j) {
        EXPECT_EQ(found["pulses"][j]["position"], starts[j]);
        EXPECT_DOUBLE_EQ(found["pulses"][j]["time"].get<double>(), static_cast<double>(starts[j]) / 1000.0);
    }
    EXPECT_GT(found["pulses"].back()["position"].get<int64_t>(), 65535);
}

TEST_F(DetectCli, CtrlCStopsAtOnceAndWritesNothing) {
    writePulseTrain(file("long.wav"), 8000000, 997, 1000);
    // Interrupted as soon as the run reports progress: long before the run of ten shapes ends,
    // whatever the machine's speed or load (reading the file first takes a while of its own).
    std::string templates;
    for (int k = 0; k < 10; ++k) templates += " --template " + std::to_string(50 + 997 * k) + ":12:t" + std::to_string(k);
    const std::string err = file("err.txt");
    const std::string command = "sh -c '" + std::string(PULSEBENCH_CLI) + " detect --signal " + file("long.wav") +
                                templates + " --tmin 0.5s --tmax 1.5s --threads 1 --csv " + file("out.csv") +
                                " --plot " + file("out.png") + " --json 2>" + err + " & pid=$!; " +
                                "while kill -0 $pid 2>/dev/null && ! grep -q elapsed " + err +
                                "; do sleep 0.02; done; kill -INT $pid 2>/dev/null; wait $pid'";
    const auto started = std::chrono::steady_clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = pclose(pipe);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << contentOf(file("err.txt"));
    EXPECT_EQ(out, "");
    EXPECT_LT(seconds, 20);
    EXPECT_NE(contentOf(file("err.txt")).find("stopped; nothing written"), std::string::npos);
    std::filesystem::remove(file("err.txt"));
    std::filesystem::remove(file("long.wav"));
    EXPECT_EQ(filesLeft(), std::vector<std::string>{});
}
}  // namespace

// Several channels: a recording whose second column repeats the first gives the first's pulses
// at twice the distance (every term is the sum of two equal channel terms on the same scale);
// weights 1,0 give the first column alone exactly; what does not fit is refused.
TEST_F(DetectCli, ChannelsSumTheirTermsWithTheirWeights) {
    ASSERT_EQ(runCli("series --type 4 --noise 10 --csv " + file("s.csv")).status, 0);
    std::ifstream in(file("s.csv"));
    std::ofstream two(file("in-two.csv"));
    two << "ecg,copy\n";
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#' && (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-'))
            two << line << ',' << line << '\n';
    two.close();
    const std::string common = " --template 100:20:beat --tmin 40 --tmax 181 --saved-energy 75 --json";
    const CliRun one = runCli("detect --signal " + file("in-two.csv") + " --column ecg" + common);
    const CliRun both =
        runCli("detect --signal " + file("in-two.csv") + " --columns all --plot " + file("two.svg") + common);
    const CliRun weighted = runCli("detect --signal " + file("in-two.csv") + " --columns all --channel-weights 1,0" + common);
    ASSERT_EQ(one.status, 0);
    ASSERT_EQ(both.status, 0);
    ASSERT_EQ(weighted.status, 0);
    const json a = json::parse(one.out), b = json::parse(both.out), w = json::parse(weighted.out);
    ASSERT_GT(a["pulses"].size(), 10u);
    EXPECT_EQ(b["channels"], json::parse(R"(["ecg", "copy"])"));
    // The picture: a lane for each channel, named.
    std::ifstream picture(file("two.svg"));
    const std::string svg((std::istreambuf_iterator<char>(picture)), std::istreambuf_iterator<char>());
    EXPECT_NE(svg.find(">ecg</text>"), std::string::npos);
    EXPECT_NE(svg.find(">copy</text>"), std::string::npos);
    EXPECT_EQ(b["distance"].get<int64_t>(), 2 * a["distance"].get<int64_t>());
    ASSERT_EQ(b["pulses"].size(), a["pulses"].size());
    for (size_t i = 0; i < a["pulses"].size(); ++i) {
        EXPECT_EQ(b["pulses"][i]["position"], a["pulses"][i]["position"]);
        EXPECT_EQ(b["pulses"][i]["measure"].get<int64_t>(), 2 * a["pulses"][i]["measure"].get<int64_t>());
    }
    EXPECT_EQ(w["distance"], a["distance"]);
    EXPECT_EQ(w["pulses"], a["pulses"]);

    const std::pair<std::string, std::string> refused[] = {
            {" --columns all --channel-weights 1", "--channel-weights: 1 weight for 2 channels"},
            {" --columns all --channel-weights 1,-2", "the weight of channel 2 (-2)"},
            {" --columns all --channel-weights 0,0", "every weight is 0"},
            {" --columns ecg,ecg", "\"ecg\" is chosen twice"},
            {" --columns ecg,pulse", "no column named \"pulse\""},
            {" --columns all --etalons " + file("alphabet.json"), "has 1 channel, the recording 2"},
    };
    for (const auto& [options, message] : refused) {
        SCOPED_TRACE(options);
        const std::string err = file("err.txt");
        const bool own = options.find("--etalons") != std::string::npos;
        const CliRun r = runCli("detect --signal " + file("in-two.csv") + options + (own ? " --tmin 40 --tmax 181" : common),
                                err.c_str());
        EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 1) << r.status;
        EXPECT_NE(contentOf(err).find(message), std::string::npos) << contentOf(err);
        std::filesystem::remove(err);
    }
}
