#include "app/window_arguments.h"

#include <gtest/gtest.h>

// The window's command line: what each form opens, and every refusal.
TEST(WindowArguments, EachFormOpensItsFileOrIsRefused) {
    struct Case {
        std::vector<std::string> arguments;
        std::string recording, shapes, error;
        std::optional<double> rate;
    };
    const std::vector<Case> cases = {
        {{}, "", "", "", {}},
        {{"r.wav"}, "r.wav", "", "", {}},
        {{"--recording", "r.csv", "--rate", "250", "--shapes", "s.json"}, "r.csv", "s.json", "", 250.0},
        {{"--shapes", "s.csv", "r.flac"}, "r.flac", "s.csv", "", {}},
        {{"--", "-odd.wav"}, "-odd.wav", "", "", {}},
        {{"a.wav", "b.wav"}, "b.wav", "", "one recording at a time: \"a.wav\" and \"b.wav\"", {}},
        {{"--recording", "a.wav", "b.wav"}, "b.wav", "", "one recording at a time: \"a.wav\" and \"b.wav\"", {}},
        {{"--rate"}, "", "", "--rate needs a value", {}},
        {{"r.csv", "--rate", "0"}, "r.csv", "", "--rate: expected a positive number of samples per second, got \"0\"", {}},
        {{"--rate", "8k"}, "", "", "--rate: expected a positive number of samples per second, got \"8k\"", {}},
        {{"--rate", "nan"}, "", "", "--rate: expected a positive number of samples per second, got \"nan\"", {}},
        {{"--fullscreen", "r.wav"}, "r.wav", "", "unknown option --fullscreen", {}},
    };
    for (const Case& c : cases) {
        const WindowArguments parsed = parseWindowArguments(c.arguments);
        const std::string line = c.arguments.empty() ? "(none)" : c.arguments.front() + " ...";
        EXPECT_EQ(parsed.recording, c.recording) << line;
        EXPECT_EQ(parsed.shapes, c.shapes) << line;
        EXPECT_EQ(parsed.error, c.error) << line;
        EXPECT_EQ(parsed.rate, c.rate) << line;
    }
    EXPECT_TRUE(parseWindowArguments({"r.wav", "--version"}).version);
    EXPECT_TRUE(parseWindowArguments({"-h"}).help);
}
