#include "model/text_format.h"

#include <strings.h>

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace {
void appendFormattedList(std::string& out, const char* format, va_list args) {
    char buffer[256];
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n > 0 && static_cast<size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<size_t>(n));
    } else if (n > 0) {
        // Longer than the buffer: formatted again straight into the string.
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, format, again);
        out.resize(at + static_cast<size_t>(n));
    }
    va_end(again);
}
}  // namespace

std::string formatted(const char* format, ...) {
    std::string out;
    va_list args;
    va_start(args, format);
    appendFormattedList(out, format, args);
    va_end(args);
    return out;
}

void appendFormatted(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    appendFormattedList(out, format, args);
    va_end(args);
}

bool endsWithIgnoringCase(const std::string& text, const char* ending) {
    const size_t n = std::char_traits<char>::length(ending);
    return text.size() >= n && strncasecmp(text.c_str() + text.size() - n, ending, n) == 0;
}

std::string shortestNumber(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}
