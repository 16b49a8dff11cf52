// Runs the built pulsebench-cli and checks the shape and the consistency of its JSON.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/version.h"
#include "tests/cli/cli_run.h"

namespace {
std::vector<std::string> keys(const nlohmann::ordered_json& object) {
    std::vector<std::string> result;
    for (const auto& item : object.items()) result.push_back(item.key());
    return result;
}
}  // namespace

TEST(CliJsonTest, AlphabetShape) {
    const CliRun run = runCli("alphabet --json");
    ASSERT_EQ(run.status, 0);
    const auto doc = nlohmann::ordered_json::parse(run.out);
    ASSERT_EQ(keys(doc), (std::vector<std::string>{"version", "etalons"}));
    EXPECT_EQ(doc["version"], pulsebenchVersion);
    const auto& etalons = doc["etalons"];
    ASSERT_EQ(etalons.size(), 20u);
    for (size_t i = 0; i < etalons.size(); ++i) {
        EXPECT_EQ(keys(etalons[i]), (std::vector<std::string>{"number", "size", "samples"}));
        EXPECT_EQ(etalons[i]["number"], i + 1);
        EXPECT_EQ(etalons[i]["size"], 20);
        EXPECT_EQ(etalons[i]["samples"].size(), 20u);
    }
    EXPECT_EQ(etalons[10]["samples"][0], -55);
}

TEST(CliJsonTest, DefaultSeriesShapeAndConsistency) {
    const CliRun run = runCli("series --json");
    ASSERT_EQ(run.status, 0);
    const auto doc = nlohmann::ordered_json::parse(run.out);
    ASSERT_TRUE(doc.is_array());
    ASSERT_EQ(doc.size(), 1u);
    const auto& s = doc[0];
    EXPECT_EQ(keys(s), (std::vector<std::string>{"length", "tmin", "tmax", "impulseSize", "minPulses",
                                                 "maxPulses", "noiseSigma", "pulses", "pure", "noisy"}));
    EXPECT_EQ(s["length"], 1200);
    EXPECT_EQ(s["tmin"], 40);
    EXPECT_EQ(s["tmax"], 181);
    EXPECT_EQ(s["impulseSize"], 20);
    EXPECT_EQ(s["minPulses"], 6);
    EXPECT_EQ(s["maxPulses"], 30);
    EXPECT_EQ(s["noiseSigma"], 0);
    EXPECT_EQ(s["pure"].size(), 1200u);
    EXPECT_EQ(s["pure"], s["noisy"]);

    const auto& pulses = s["pulses"];
    ASSERT_GE(pulses.size(), 6u);
    ASSERT_LE(pulses.size(), 30u);
    int previous = -1000;
    for (const auto& p : pulses) {
        EXPECT_EQ(keys(p), (std::vector<std::string>{"position", "etalon", "cutStart", "cutEnd",
                                                     "positionMin", "positionMax"}));
        const int position = p["position"];
        EXPECT_GE(position, p["positionMin"].get<int>());
        EXPECT_LE(position, p["positionMax"].get<int>());
        EXPECT_EQ(p["etalon"], 1);
        if (previous >= 0) {
            EXPECT_GE(position - previous, 40);
            EXPECT_LE(position - previous, 181);
        }
        previous = position;
        // The kept stretch of etalon 1 is written with its level 60.
        for (int k = p["cutStart"].get<int>(); k <= p["cutEnd"].get<int>(); ++k)
            EXPECT_EQ(s["pure"][position + k], 60);
    }
}

TEST(CliJsonTest, RepeatedNoisySeriesDiffer) {
    const CliRun run = runCli("series --type 1 --length 600 --count 5 --noise 25 --repeat 3 --json");
    ASSERT_EQ(run.status, 0);
    const auto doc = nlohmann::ordered_json::parse(run.out);
    ASSERT_EQ(doc.size(), 3u);
    for (const auto& s : doc) {
        EXPECT_EQ(s["noiseSigma"], 25);
        EXPECT_EQ(s["pulses"].size(), 5u);
        EXPECT_NE(s["pure"], s["noisy"]);
        for (const auto& p : s["pulses"]) {  // whole pulses for a whole-pulse type
            EXPECT_EQ(p["cutStart"], 0);
            EXPECT_EQ(p["cutEnd"], 19);
        }
    }
    EXPECT_NE(doc[0]["pure"], doc[1]["pure"]);
    EXPECT_NE(doc[1]["noisy"], doc[2]["noisy"]);
}

TEST(CliJsonTest, SequenceAndSubsetReachTheSeries) {
    CliRun run = runCli("series --type 1 --count 4 --length 400 --sequence 3,0,25,7 --json");
    ASSERT_EQ(run.status, 0);
    auto doc = nlohmann::ordered_json::parse(run.out);
    std::vector<int> etalons;
    for (const auto& p : doc[0]["pulses"]) etalons.push_back(p["etalon"]);
    EXPECT_EQ(etalons, (std::vector<int>{3, 1, 1, 7}));  // invalid numbers become 1

    run = runCli("series --type 36 --count 5 --length 400 --subset 9,10 --subset-mode 2 "
                 "--subset-start 2 --json");
    ASSERT_EQ(run.status, 0);
    doc = nlohmann::ordered_json::parse(run.out);
    etalons.clear();
    for (const auto& p : doc[0]["pulses"]) etalons.push_back(p["etalon"]);
    EXPECT_EQ(etalons, (std::vector<int>{1, 9, 10, 1, 1}));
}

TEST(CliJsonTest, RefusalsPrintNothingAndFail) {
    for (const char* args : {"series --tmin 0 --json", "series --tmax 10 --json",
                             "series --length 10 --json", "series --type 2 --count 99 --json",
                             "series --type 3", "series --subset-mode 2", "frobnicate"}) {
        const CliRun run = runCli(args);
        EXPECT_NE(run.status, 0) << args;
        EXPECT_EQ(run.out, "") << args;
    }
}

// Empty values are refused (not read as 0), naming the option and what it takes.
TEST(CliJsonTest, EmptyValuesAreRefusedNamingWhatTheOptionTakes) {
    const struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"process --task '' --json", "--task: expected one of 1, 2, 4, 36, 40, 64, got \"\""},
        {"series --type '' --json", "--type: expected one of 1, 2, 4, 8, 16, 32, 36, 40, got \"\""},
        {"series --length '' --json", "--length: expected a decimal number from 0 to 4294967295, got \"\""},
        {"simulate --repeats '' --json", "--repeats: expected a decimal number from 1 to 65535, got \"\""},
        {"process --candidates '' --json", "--candidates: expected a list of decimal numbers"},
    };
    for (const auto& c : cases) {
        const CliRun run = runCli(c.args);
        EXPECT_NE(run.status, 0) << c.args;
        EXPECT_EQ(run.out, "") << c.args;
        const CliRun both = runCli(c.args, "&1");
        EXPECT_NE(both.out.find(c.message), std::string::npos) << c.args << ": " << both.out;
    }
}

// A million series make gigabytes of JSON: the array streams out while the series are still
// being made (memory stays bounded), instead of appearing at the end or not at all.
TEST(CliJsonTest, LongJsonOutputStreamsWhileItIsMade) {
    for (const char* command : {"series", "process"}) {
        const std::string line = std::string("timeout 60 ") + PULSEBENCH_CLI + " " + command +
                                 " --length 300 --repeat 1000000 --json 2>/dev/null";
        FILE* pipe = popen(line.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string head;
        std::array<char, 65536> buffer;
        size_t n;
        while (head.size() < (size_t{6} << 20) && (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            head.append(buffer.data(), n);
        pclose(pipe);  // the tool ends on the closed pipe
        ASSERT_GE(head.size(), size_t{6} << 20) << command;
        EXPECT_EQ(head.substr(0, 4), "[\n  ") << command;
        // The first element is whole and parses as the one-series run prints it.
        const size_t end = head.find("\n  },\n  {");
        ASSERT_NE(end, std::string::npos);
        const auto first = nlohmann::ordered_json::parse(head.substr(2, end + 4 - 2));
        const auto single =
            nlohmann::ordered_json::parse(runCli(std::string(command) + " --length 300 --json").out);
        EXPECT_EQ(first, single[0]) << command;
    }
}

// What the workbench shows, not refusals: the debugging repeat's reports are its output, a
// subset panel composed from --tuples is drawn, recognition misses of single-etalon series are
// counted.
TEST(CliJsonTest, WorkbenchCornersShowWhatTheyMean) {
    const CliRun debug =
        runCli("experiment --commands 40032,40006,40029,40018,40033 --tuples '3,5,7;2,4' --json");
    ASSERT_EQ(debug.status, 0) << debug.out;
    const auto runs = nlohmann::json::parse(debug.out);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.back()["command"], 40033);
    ASSERT_TRUE(runs.back().contains("messages"));
    EXPECT_EQ(runs.back()["messages"][0].get<std::string>().rfind("About TuplesDetection: ", 0), 0u);

    const std::string dir = ::testing::TempDir();
    const auto pngOf = [&](const std::string& name, const std::string& args) {
        const std::string path = dir + "/" + name;
        EXPECT_EQ(runCli("experiment " + args + " --snapshot " + path + " --size 800x600").status, 0) << args;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        std::string bytes;
        if (f) {
            std::array<char, 4096> buffer;
            for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) bytes.append(buffer.data(), n);
            std::fclose(f);
        }
        std::remove(path.c_str());
        return bytes;
    };
    EXPECT_NE(pngOf("with.png", "--commands 40032,40006,40016 --tuples '3,5,7;2,4'"),
              pngOf("without.png", "--commands 40032,40006,40016"));

    const CliRun simulated =
        runCli("simulate --task 2 --type 1 --pulses 6:8:2 --noise 0:2:300 --repeats 20 --threads 1 --json");
    ASSERT_EQ(simulated.status, 0);
    const auto misses = nlohmann::json::parse(simulated.out)["recognErrors"];  // a row per noise level
    ASSERT_EQ(misses.size(), 2u);
    EXPECT_EQ(misses[0], nlohmann::json::parse("[0,0]"));
    EXPECT_GT(misses[1][0].get<int>() + misses[1][1].get<int>(), 0);
}
