// `detect --manifest`: every recording gives exactly what `detect --signal` gives for it alone,
// in manifest order and byte for byte the same for any thread count; a bad recording fails alone;
// a bad manifest or option is refused before any work and writes nothing.

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/version.h"
#include "tests/cli/cli_run.h"

namespace {
int exitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

class ManifestCli : public ::testing::Test {
protected:
    ManifestCli()
        : dir(std::filesystem::temp_directory_path() /
              ("pulsebench-cli-manifest-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(::getpid()))) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::ofstream(file("alphabet.json")) << runCli("alphabet --json").out;
        EXPECT_EQ(runCli("series --type 8 --noise 40 --csv " + file("a.csv")).status, 0);
        EXPECT_EQ(runCli("series --type 2 --count 9 --noise 30 --wav " + file("b.wav")).status, 0);
        // A table of two columns at 2 samples per second: the row names its column and rate.
        EXPECT_EQ(runCli("series --type 4 --noise 20 --csv " + file("plain.csv")).status, 0);
        std::ifstream plain(file("plain.csv"));
        std::ofstream table(file("c.csv"));
        std::string line;
        std::getline(plain, line);
        table << "time,sig\n";
        for (int i = 0; std::getline(plain, line); ++i) table << i * 0.5 << "," << line << "\n";
    }
    ~ManifestCli() override { std::filesystem::remove_all(dir); }
    std::string file(const std::string& name) const { return (dir / name).string(); }
    std::filesystem::path dir;
    const std::string common = " --etalons " + file("alphabet.json") + " --tmin 40 --tmax 181 --saved-energy 75";
};

TEST_F(ManifestCli, EachRecordingAsAloneInManifestOrderForAnyThreadCount) {
    std::ofstream(file("list.csv")) << "file,column,rate\na.csv,,\nb.wav,,\nmissing.csv,,\nc.csv,sig,2\n";
    const std::string signals[] = {file("a.csv"), file("b.wav"), "", file("c.csv") + " --column sig --rate 2"};
    const std::string names[] = {"a.csv", "b.wav", "missing.csv", "c.csv"};

    std::string outputs[2], tables[2];
    for (const int threads : {1, 2}) {
        const std::string csv = file("out" + std::to_string(threads) + ".csv");
        const CliRun run = runCli("detect --manifest " + file("list.csv") + common + " --json --csv " + csv +
                                          " --threads " + std::to_string(threads),
                                  file("err.txt").c_str());
        EXPECT_EQ(exitStatus(run.status), 3) << contentOf(file("err.txt"));
        const std::string err = contentOf(file("err.txt"));
        EXPECT_NE(err.find("detect: row 3 (missing.csv): "), std::string::npos) << err;
        EXPECT_NE(err.find("4 recordings: 3 done, 1 failed;"), std::string::npos) << err;
        outputs[threads - 1] = run.out;
        tables[threads - 1] = contentOf(csv);
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(tables[0], tables[1]);

    // Each line and each row of the table against the recording detected alone.
    std::istringstream lines(outputs[0]);
    std::string line, expectedTable;
    const std::string head = "{\"version\":\"" + std::string(pulsebenchVersion) + "\"";
    for (size_t i = 0; i < std::size(names); ++i) {
        SCOPED_TRACE(names[i]);
        ASSERT_TRUE(std::getline(lines, line));
        if (signals[i].empty()) {
            EXPECT_EQ(line.rfind(head + ",\"file\":\"missing.csv\",\"error\":\"", 0), 0u) << line;
            EXPECT_NE(line.find("missing.csv: "), std::string::npos) << line;
            continue;
        }
        const CliRun alone = runCli("detect --signal " + signals[i] + common + " --json --csv " + file("alone.csv"));
        ASSERT_EQ(alone.status, 0);
        ASSERT_EQ(alone.out.rfind(head, 0), 0u);
        EXPECT_EQ(line + "\n", head + ",\"file\":\"" + names[i] + "\"" + alone.out.substr(head.size()));
        std::istringstream rows(contentOf(file("alone.csv")));
        std::string row;
        std::getline(rows, row);
        if (expectedTable.empty()) expectedTable = "file," + row + "\n";
        while (std::getline(rows, row)) expectedTable += names[i] + "," + row + "\n";
    }
    EXPECT_FALSE(std::getline(lines, line));
    EXPECT_EQ(tables[0], expectedTable);

    // The text form: each recording's report under its name.
    const CliRun text = runCli("detect --manifest " + file("list.csv") + common);
    const CliRun b = runCli("detect --signal " + file("b.wav") + common);
    EXPECT_NE(text.out.find("\nfile: b.wav\n" + b.out + "\nfile: missing.csv\nerror: "), std::string::npos)
            << text.out;
}

TEST_F(ManifestCli, BadManifestsAndOptionsAreRefusedBeforeAnyWork) {
    const std::string out = file("out.csv");
    const std::string list = file("list.csv");
    const std::string good = "file\na.csv\nb.wav\n";
    const struct {
        std::string manifest;  // written to list.csv
        std::string args;
        std::string message;
    } cases[] = {
        {"rate\n250\n", common, "no column named \"file\""},
        {"", common, "the manifest is empty"},
        {"file,rate\na.csv,1\nb.wav\n", common, "row 2: 1 field(s), the header names 2"},
        {"file,rate\na.csv,\nb.wav,fast\n", common, "row 2 (b.wav): --rate: expected samples per second"},
        {"file\na.csv\n", " --tmin 40 --tmax 181", "no pulse shapes: give --etalons"},
        {"file,shapes\na.csv,alphabet.json\nb.wav,\n", " --tmin 40 --tmax 181", "row 2 (b.wav): no pulse shapes"},
        {good, common + " --csv " + list, "--csv names an input file"},
        {good, common + " --csv " + file("b.wav"), "--csv names an input file of row 2 (b.wav)"},
        {good, common + " --csv " + file("no/such/dir.csv"), "--csv: cannot write"},
        {good, common + " --task guess", "--task: expected one of"},
        {good, common + " --plot " + file("p.png"), "--plot writes one recording's file: not with --manifest"},
        {good, common + " --signal " + file("a.csv"), "excludes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.manifest + " |" + c.args);
        std::ofstream(list) << c.manifest;
        const std::string csv = c.args.find("--csv") == std::string::npos ? " --csv " + out : "";
        const CliRun run = runCli("detect --manifest " + list + c.args + " --json" + csv, file("err.txt").c_str());
        EXPECT_EQ(exitStatus(run.status), 1);
        EXPECT_EQ(run.out, "");
        const std::string err = contentOf(file("err.txt"));
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_EQ(contentOf(list), c.manifest);
    }
    const CliRun none = runCli("detect" + common, file("err.txt").c_str());
    EXPECT_EQ(exitStatus(none.status), 1);
    EXPECT_NE(contentOf(file("err.txt")).find("no recording: give --signal FILE, or --manifest FILE"), std::string::npos);
}
}  // namespace
