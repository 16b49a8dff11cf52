#pragma once

#include <CLI/CLI.hpp>

#include <string>

/// A file name option given as an empty text ("--csv ''") is refused rather than taken as "no
/// file": the user asked for a file and would otherwise get none without a word.
inline CLI::Validator NonEmptyFileName() {
    return CLI::Validator(
        [](std::string& text) -> std::string { return text.empty() ? "expected a file name, got an empty text" : ""; },
        "FILE");
}
