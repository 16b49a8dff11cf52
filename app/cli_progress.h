#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

/// Progress of long work on standard error: a bar redrawn in place on a terminal, otherwise a
/// line at once when the work starts and then one at every tenth of it.
class Progress {
public:
    explicit Progress(std::string what = "cells")
        : what_(std::move(what)), terminal_(isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}

    /// The first line, as soon as the size of the work is known.
    void start(long total) { show(0, total); }

    void operator()(long done, long total) {
        if (total <= 0) return;
        if (terminal_ || done * 10 / total != lastTenth_ || done == total || !started_) show(done, total);
    }

private:
    static std::string clock(double seconds) {
        const long s = static_cast<long>(seconds + 0.5);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
        return buffer;
    }

    void show(long done, long total) {
        if (total <= 0) return;
        started_ = true;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const std::string left = done > 0 ? clock(elapsed * static_cast<double>(total - done) / done) : "unknown";
        if (terminal_) {
            const int width = 30, filled = static_cast<int>(width * done / total);
            std::fprintf(stderr, "\r[%s%s] %ld/%ld %s, elapsed %s, left %s ", std::string(filled, '#').c_str(),
                         std::string(width - filled, '.').c_str(), done, total, what_.c_str(),
                         clock(elapsed).c_str(), left.c_str());
            if (done == total) std::fputc('\n', stderr);
        } else {
            lastTenth_ = done * 10 / total;
            std::fprintf(stderr, "%ld/%ld %s, elapsed %s, left %s\n", done, total, what_.c_str(),
                         clock(elapsed).c_str(), left.c_str());
        }
        std::fflush(stderr);
    }

    std::string what_;
    bool terminal_;
    bool started_ = false;
    long lastTenth_ = 0;
    std::chrono::steady_clock::time_point start_;
};
