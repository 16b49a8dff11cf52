#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

/// Progress of long work on standard error. On a terminal: one line redrawn in place (a bar, the
/// count or percentage, elapsed and remaining time), at most ten times a second. Otherwise (a
/// log file, a pipe): a line when the work starts, then at most one every few seconds at a new
/// tenth of the work, and one at the end. Nothing at all while `silenced` is set (--quiet).
class Progress {
public:
    /// `what` names the units counted ("cells": "3/20 cells"); empty: the work is shown as a
    /// percentage of `total` ("11.6 %").
    explicit Progress(std::string what = "cells")
        : what_(std::move(what)), terminal_(isatty(STDERR_FILENO) != 0), start_(Clock::now()), shown_(start_) {}
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    /// A line left open on the terminal (work stopped early) is ended, so that what follows
    /// starts on a line of its own.
    ~Progress() {
        if (open_) std::fputc('\n', stderr);
    }

    /// Set once by the batch tool's --quiet.
    static inline bool silenced = false;

    /// The first line, as soon as the size of the work is known.
    void start(long total) { show(0, total); }

    void operator()(long done, long total) {
        if (total <= 0) return;
        const Clock::time_point now = Clock::now();
        const double since = std::chrono::duration<double>(now - shown_).count();
        const bool due = terminal_ ? since >= 0.1 : done * 10 / total != lastTenth_ && since >= kLogInterval;
        if (!started_ || done == total || due) show(done, total);
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr double kLogInterval = 5.0;  // seconds between lines in a log

    static std::string clock(double seconds) {
        const long s = static_cast<long>(seconds + 0.5);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
        return buffer;
    }

    std::string amount(long done, long total) const {
        char buffer[64];
        if (what_.empty())
            std::snprintf(buffer, sizeof buffer, "%5.1f %%", 100.0 * static_cast<double>(done) / static_cast<double>(total));
        else
            std::snprintf(buffer, sizeof buffer, "%ld/%ld %s", done, total, what_.c_str());
        return buffer;
    }

    void show(long done, long total) {
        if (total <= 0 || silenced) return;
        started_ = true;
        shown_ = Clock::now();
        const double elapsed = std::chrono::duration<double>(shown_ - start_).count();
        const std::string left = done > 0 ? clock(elapsed * static_cast<double>(total - done) / done) : "unknown";
        if (terminal_) {
            const int width = 30, filled = static_cast<int>(width * done / total);
            std::fprintf(stderr, "\r[%s%s] %s, elapsed %s, left %s ", std::string(filled, '#').c_str(),
                         std::string(width - filled, '.').c_str(), amount(done, total).c_str(),
                         clock(elapsed).c_str(), left.c_str());
            open_ = done != total;
            if (!open_) std::fputc('\n', stderr);
        } else {
            lastTenth_ = done * 10 / total;
            std::fprintf(stderr, "%s, elapsed %s, left %s\n", amount(done, total).c_str(), clock(elapsed).c_str(),
                         left.c_str());
        }
        std::fflush(stderr);
    }

    std::string what_;
    bool terminal_;
    bool started_ = false;
    bool open_ = false;
    long lastTenth_ = 0;
    Clock::time_point start_, shown_;
};
