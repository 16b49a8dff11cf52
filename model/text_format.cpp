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

long invalidUtf8Offset(const std::string& text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t more;
        unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) more = 1;
        else if (c == 0xE0) more = 2, low = 0xA0;
        else if (c == 0xED) more = 2, high = 0x9F;
        else if (c >= 0xE1 && c <= 0xEF) more = 2;
        else if (c == 0xF0) more = 3, low = 0x90;
        else if (c >= 0xF1 && c <= 0xF3) more = 3;
        else if (c == 0xF4) more = 3, high = 0x8F;
        else return static_cast<long>(i);
        if (i + more >= n) return static_cast<long>(i);  // the sequence runs past the end
        for (size_t k = 1; k <= more; ++k) {
            const unsigned char b = s[i + k];
            if (k == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return static_cast<long>(i);
        }
        i += more + 1;
    }
    return -1;
}

std::string withValidUtf8(std::string text) {
    for (long bad = invalidUtf8Offset(text); bad >= 0; bad = invalidUtf8Offset(text)) text[static_cast<size_t>(bad)] = '?';
    return text;
}

std::string trimmedCaption(const std::string& caption) {
    const auto first = caption.find_first_not_of(' ');
    return first == std::string::npos ? "" : caption.substr(first, caption.find_last_not_of(' ') - first + 1);
}

DecimalText readDecimal(const std::string& text, bool strict) {
    constexpr int64_t limit = int64_t{1} << 40;
    size_t i = 0;
    if (!strict)
        while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    DecimalText read;
    int64_t magnitude = 0;
    const size_t first = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) {
            magnitude = limit;
            read.huge = true;
        }
    }
    if (i == first || (strict && i != text.size())) return {};
    read.value = negative ? -magnitude : magnitude;
    read.end = i;
    return read;
}
