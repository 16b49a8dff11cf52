// Runs the built pulsebench-cli with random options and dialog answers (a fixed seed, a bounded
// number of runs and a time budget) and checks what every run must keep: it ends by itself
// without a signal or a sanitizer report; a non-zero exit says why on standard error and prints
// nothing on standard output (a refused experiment command prints only its refusal entry); an
// exit of 0 shows nothing but progress and the simulation's report on standard error.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
    bool finished = false;  ///< ended by itself within the time limit
    int status = 0;         ///< wait status
    std::string out, err;
};

// Runs the tool with `args`, collecting both streams; kills it after `limit`.
Outcome run(const std::vector<std::string>& args, std::chrono::seconds limit) {
    int outPipe[2], errPipe[2];
    Outcome o;
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return o;
    const pid_t child = fork();
    if (child == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        close(outPipe[0]);
        close(errPipe[0]);
        close(outPipe[1]);
        close(errPipe[1]);
        std::vector<char*> argv;
        std::string program = PULSEBENCH_CLI;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? o.out : o.err).append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& f : fds)
        if (f.fd >= 0) close(f.fd);
    o.finished = open == 0;
    if (!o.finished) kill(child, SIGKILL);
    waitpid(child, &o.status, 0);
    return o;
}

std::string joined(const std::vector<std::string>& args) {
    std::string text = "pulsebench-cli";
    for (const std::string& a : args) text += " '" + a + "'";
    return text;
}

// What standard error may hold after a successful run: progress lines, the size of a large
// problem and the simulation's report; everything else is returned.
std::string unexpectedOnSuccess(const std::string& err) {
    std::istringstream in(err);
    std::string line, rest;
    bool inReport = false;
    while (std::getline(in, line)) {
        if (line.find("Create series parameters:") != std::string::npos) inReport = true;
        if (inReport) {
            if (line.rfind("number of repeats:", 0) == 0) inReport = false;
            continue;
        }
        if (line.empty() || line.find(", elapsed ") != std::string::npos ||
            line.rfind("process: a known-count problem of ", 0) == 0)
            continue;
        rest += line + "\n";
    }
    return rest;
}

class Fuzzer {
public:
    explicit Fuzzer(uint32_t seed) : random_(seed) {}

    std::vector<std::string> next() {
        switch (pick(5)) {
            case 0: return seriesOrProcess("series");
            case 1: return seriesOrProcess("process");
            case 2: return simulate();
            case 3: return experiment();
            default: return pick(2) ? std::vector<std::string>{"alphabet", "--json"} : malformed();
        }
    }

private:
    int pick(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
    bool chance(int percent) { return pick(100) < percent; }
    template <typename T>
    const T& oneOf(const std::vector<T>& values) {
        return values[static_cast<size_t>(pick(static_cast<int>(values.size())))];
    }

    // Numbers that break parsers: signs, widths, bases, blanks, nothing.
    std::string edgeNumber() {
        return oneOf<std::string>({"0", "-1", "1", "-5", "65535", "65536", "65537", "131072", "-65536", "32767",
                                   "32768", "2147483647", "-2147483648", "4294967296", "99999999999999999999",
                                   "", " ", "abc", "010", "0x10", "1e3", "+7", "1.5", "12abc", ",", "-0"});
    }
    std::string edgeList() {
        return oneOf<std::string>({"", ",", ",,", "1,,2", "3,5,7", "0", "21", "-3", "1,2,3,4,5,6,7,8,9,10,11,12",
                                   "65536", "3;5", "2,4,", "20"});
    }

    void add(std::vector<std::string>& a, const std::string& option, const std::string& value) {
        a.push_back(option);
        a.push_back(value);
    }

    std::vector<std::string> seriesOrProcess(const std::string& command) {
        std::vector<std::string> a{command};
        // Cheap, mostly valid values first; an edge value now and then.
        if (chance(40)) add(a, "--type", chance(80) ? oneOf<std::string>({"1", "2", "4", "8", "16", "32", "36", "40"}) : edgeNumber());
        if (chance(40)) add(a, "--length", chance(70) ? std::to_string(20 + pick(1500)) : edgeNumber());
        if (chance(30)) add(a, "--tmin", chance(70) ? std::to_string(1 + pick(120)) : edgeNumber());
        if (chance(30)) add(a, "--tmax", chance(70) ? std::to_string(20 + pick(250)) : edgeNumber());
        if (chance(20)) add(a, "--count", chance(60) ? std::to_string(pick(40)) : edgeNumber());
        if (chance(20)) add(a, "--noise", chance(60) ? std::to_string(pick(200)) : edgeNumber());
        if (chance(15)) add(a, "--saved-energy", chance(60) ? std::to_string(pick(101)) : edgeNumber());
        if (chance(15)) add(a, "--sequence", edgeList());
        if (chance(20)) add(a, "--subset", chance(60) ? oneOf<std::string>({"3,5", "3,5,7", "1"}) : edgeList());
        if (chance(15)) add(a, "--subset-mode", chance(60) ? std::to_string(1 + pick(5)) : edgeNumber());
        if (chance(15)) add(a, "--subset-start", chance(60) ? std::to_string(1 + pick(12)) : edgeNumber());
        if (chance(20)) add(a, "--repeat", chance(80) ? std::to_string(1 + pick(3)) : edgeNumber());
        if (command == "process") {
            if (chance(40)) add(a, "--task", chance(80) ? oneOf<std::string>({"1", "2", "4", "36", "40", "64"}) : edgeNumber());
            if (chance(25)) add(a, "--candidates", chance(50) ? oneOf<std::string>({"1,3,5", "2", "7,11"}) : edgeList());
            if (chance(25)) add(a, "--tuple", chance(60) ? oneOf<std::string>({"3,5", "3,5,7", "2"}) : edgeList());
            if (chance(25)) add(a, "--tuples", chance(60) ? oneOf<std::string>({"3,5;2,4", "3,5,7", "1;2"}) : edgeList());
            if (chance(15)) add(a, "--proceeding", chance(60) ? oneOf<std::string>({"1", "2"}) : edgeNumber());
            if (chance(15)) add(a, "--saved-energy-process", chance(60) ? std::to_string(pick(101)) : edgeNumber());
        }
        if (chance(50)) a.push_back("--json");
        return a;
    }

    std::vector<std::string> simulate() {
        std::vector<std::string> a{"simulate"};
        // The grid stays tiny unless a part of it is a value to be refused.
        add(a, "--pulses", chance(80) ? oneOf<std::string>({"6:7:1", "6:6:0", "7:6:1", "6:8:2"})
                                      : oneOf<std::string>({"6:30:65536", "6:30:131072", "6:30:-65536",
                                                            "6:30:-2147483648", "-1:2147483647:1", "6:30:65537",
                                                            "6:6", "::", "6:6:1:1", "0:0:0", "a:b:c", "",
                                                            "1:65535:1", "010:012:01"}));
        add(a, "--noise", chance(80) ? oneOf<std::string>({"0:1:5", "0:2:30", "10922:1:0", "100:1:7"})
                                     : oneOf<std::string>({"70000:1:0", "0:2:65535", "0:3:10922", "-1:1:1",
                                                           "0:65536:0", "0:0:1", "0:1", "x", "0:65535:0"}));
        add(a, "--repeats", chance(85) ? std::to_string(1 + pick(3)) : oneOf<std::string>({"0", "-1", "65536", "", "abc"}));
        if (chance(30)) add(a, "--task", chance(80) ? oneOf<std::string>({"1", "2", "4", "36", "40", "64"}) : edgeNumber());
        if (chance(30)) add(a, "--type", chance(80) ? oneOf<std::string>({"1", "2", "4", "8", "16", "32", "36", "40"}) : edgeNumber());
        if (chance(20)) add(a, "--length", chance(70) ? std::to_string(200 + pick(1000)) : edgeNumber());
        if (chance(15)) add(a, "--tmin", chance(70) ? std::to_string(20 + pick(60)) : edgeNumber());
        if (chance(15)) add(a, "--tmax", chance(70) ? std::to_string(60 + pick(200)) : edgeNumber());
        if (chance(20)) add(a, "--candidates", chance(50) ? oneOf<std::string>({"1,3,5", "2"}) : edgeList());
        if (chance(25)) add(a, "--tuple", chance(60) ? oneOf<std::string>({"3,5", "3,0,7", "2"}) : edgeList());
        if (chance(20)) add(a, "--tuples", chance(60) ? oneOf<std::string>({"3,5;2,4", "3,5,7"}) : edgeList());
        if (chance(10)) add(a, "--proceeding", chance(60) ? "2" : edgeNumber());
        if (chance(15)) add(a, "--threads", chance(70) ? std::to_string(pick(3)) : edgeNumber());
        if (chance(40)) a.push_back("--json");
        if (chance(15)) add(a, "--csv", oneOf<std::string>({"/proc/x", "/dev/full", "/nonexistent/dir/a.csv", "/"}));
        if (chance(10)) add(a, "--plot", oneOf<std::string>({"x.jpg", "/proc/x.png", "/dev/full", ""}));
        return a;
    }

    std::vector<std::string> experiment() {
        std::vector<std::string> a{"experiment"};
        static const std::vector<int> cheap = {40001, 40002, 40005, 40006, 40007, 40008, 40009, 40010, 40011,
                                               40016, 40017, 40018, 40019, 40020, 40021, 40022, 40023, 40024,
                                               40025, 40026, 40027, 40028, 40029, 40030, 40031, 40032, 40033,
                                               40013, 40014, 205, 206, 208, 209, 210, 211, 214, 215, 216, 218};
        std::string ids;
        const int count = 1 + pick(5);
        bool simulation = false;
        for (int i = 0; i < count; ++i) {
            int id = oneOf(cheap);
            if (chance(8)) id = oneOf<int>({40012, 40015});
            if (chance(4)) id = oneOf<int>({0, 1, 99999, 40034, 40004, 204, -1});
            simulation = simulation || id == 40012 || id == 214;
            ids += (i ? "," : "") + std::to_string(id);
        }
        if (chance(5)) ids = oneOf<std::string>({"", ",,", "40018,,40017", "x"});
        add(a, "--commands", ids);
        const int answers = pick(4);
        for (int i = 0; i < answers; ++i) {
            const int id = 1000 + pick(45);
            // The simulation's grid fields keep their tiny values below.
            if (simulation && id >= 1015 && id <= 1021) continue;
            add(a, "--dialog", std::to_string(id) + "=" + (chance(50) ? edgeNumber() : edgeList()));
        }
        if (chance(5)) add(a, "--dialog", "cancel");
        if (simulation)
            for (const char* item : {"1015=6", "1016=7", "1017=1", "1018=2", "1019=0", "1020=10", "1021=2"})
                add(a, "--dialog", item);
        if (chance(20)) add(a, "--tuple", chance(60) ? oneOf<std::string>({"3,5", "0"}) : edgeList());
        if (chance(15)) add(a, "--tuples", chance(60) ? oneOf<std::string>({"3,5;2,4"}) : edgeList());
        if (chance(50)) a.push_back("--json");
        if (chance(10)) add(a, "--snapshot", oneOf<std::string>({"x.jpg", "/proc/x.png", "/nonexistent/a.bmp"}));
        return a;
    }

    std::vector<std::string> malformed() {
        return oneOf<std::vector<std::string>>({{}, {"nothing"}, {"series", "--bogus"}, {"series", "--type"},
                                                {"series", "--type", "1", "--type", "2"}, {"--json"},
                                                {"experiment"}, {"process", "--tuples"}});
    }

    std::mt19937 random_;
};

}  // namespace

TEST(CliFuzzTest, RandomOptionsAndDialogAnswersKeepTheRules) {
    // A fixed seed keeps the test repeatable; PULSEBENCH_FUZZ_SEED explores other sequences.
    const char* seed = std::getenv("PULSEBENCH_FUZZ_SEED");
    Fuzzer fuzzer(seed ? static_cast<uint32_t>(std::strtoul(seed, nullptr, 10)) : 20261207u);
    const auto budget = std::chrono::seconds(40);
    const auto start = std::chrono::steady_clock::now();
    int runs = 0, succeeded = 0, refused = 0;
    for (; runs < 300 && std::chrono::steady_clock::now() - start < budget; ++runs) {
        const std::vector<std::string> args = fuzzer.next();
        const Outcome o = run(args, std::chrono::seconds(30));
        SCOPED_TRACE(joined(args));
        ASSERT_TRUE(o.finished) << "did not end within 30 s";
        ASSERT_FALSE(WIFSIGNALED(o.status)) << "signal " << WTERMSIG(o.status) << "\n" << o.err;
        ASSERT_TRUE(WIFEXITED(o.status));
        for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:", "std::bad_alloc"})
            ASSERT_EQ(o.err.find(report), std::string::npos) << o.err;
        const int code = WEXITSTATUS(o.status);
        if (code != 0) {
            ++refused;
            EXPECT_NE(code, 127) << "could not start the tool";
            EXPECT_FALSE(o.err.empty()) << "a failure without a reason";
            // A refused experiment command prints its refusal entry; nothing else fails with output.
            if (!o.out.empty()) {
                EXPECT_EQ(args.front(), "experiment") << o.out.substr(0, 2000);
                EXPECT_NE(o.out.find("refused"), std::string::npos) << o.out.substr(0, 2000);
            }
        } else {
            ++succeeded;
            EXPECT_EQ(unexpectedOnSuccess(o.err), "") << "exit 0 with a refusal";
            if (args.front() == "experiment") {
                EXPECT_EQ(o.out.find("refused"), std::string::npos);
            }
        }
        if (HasFatalFailure()) break;
    }
    // The random choices reach both outcomes.
    EXPECT_GT(succeeded, 0);
    EXPECT_GT(refused, 0);
    std::printf("%d runs: %d succeeded, %d refused\n", runs, succeeded, refused);
}
