#pragma once

#include <string>

/// printf-style formatting into a std::string of whatever length the text needs.
[[gnu::format(printf, 1, 2)]] std::string formatted(const char* format, ...);

/// Appends the printf-style formatted text to `out`.
[[gnu::format(printf, 2, 3)]] void appendFormatted(std::string& out, const char* format, ...);
