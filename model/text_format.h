#pragma once

#include <cstdint>
#include <optional>
#include <string>

/// printf-style formatting into a std::string of whatever length the text needs.
[[gnu::format(printf, 1, 2)]] std::string formatted(const char* format, ...);

/// Appends the printf-style formatted text to `out`.
[[gnu::format(printf, 2, 3)]] void appendFormatted(std::string& out, const char* format, ...);

/// Whether `text` ends in `ending`, letters compared without case ("A.PNG" ends in ".png").
bool endsWithIgnoringCase(const std::string& text, const char* ending);

/// The shortest decimal text that reads back as the same double ("1000", "0.25").
std::string shortestNumber(double value);

/// The byte offset (0-based) of the first byte of `text` that does not belong to well-formed
/// UTF-8 (overlong forms, surrogates and code points beyond U+10FFFF are not well-formed), or -1
/// when all of it is.
long invalidUtf8Offset(const std::string& text);

/// `text` with every byte that does not belong to well-formed UTF-8 replaced by '?': for
/// messages that quote a file's or a library's bytes.
std::string withValidUtf8(std::string text);

/// A message box's caption without the blanks around it (" Create Series " -> "Create Series"),
/// as a message printed on one line shows it.
std::string trimmedCaption(const std::string& caption);

/// A decimal whole number as typed: `strict` reads an optional sign and digits and nothing else
/// (an option of the batch tool); otherwise leading blanks are skipped and the number ends at
/// the first character that is not a digit (a dialog field, "12 samples" is 12). `digits` says
/// whether any digit was read; the value saturates at +-2^40, far beyond every range checked,
/// and `huge` says that it did. `end` is the index just after the last digit read.
struct DecimalText {
    std::optional<int64_t> value;  ///< unset when no number was read
    bool huge = false;
    size_t end = 0;
};
DecimalText readDecimal(const std::string& text, bool strict);
