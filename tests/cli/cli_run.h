#pragma once

// Runs the built pulsebench-cli (PULSEBENCH_CLI) through the shell and collects its standard
// output and exit status; standard error goes to `stderrTo`.

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

struct CliRun {
    int status;
    std::string out;
};

inline CliRun runCli(const std::string& args, const char* stderrTo = "/dev/null") {
    const std::string command = std::string(PULSEBENCH_CLI) + " " + args + " 2>" + stderrTo;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, ""};
    std::string out;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
    return {pclose(pipe), out};
}

/// The whole content of a file ("" when it cannot be read).
inline std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
