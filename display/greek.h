#pragma once

#include <string>
#include <string_view>

/// Texts meant for the Greek ("Symbol") face are written with Latin letters standing for Greek
/// ones (e for epsilon, s for sigma, S for capital sigma ...). The display draws them in the
/// application's font, so each such letter is replaced by the Greek letter it stands for.

/// The Greek letter (UTF-8) that the Latin letter `c` stands for, or an empty view when `c` has
/// no Greek counterpart (digits, punctuation and the rest pass through unchanged).
std::string_view greekLetter(char c);

/// `text` with every Latin letter replaced by its Greek counterpart; other bytes are copied.
std::string toGreek(std::string_view text);
