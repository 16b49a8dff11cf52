#pragma once

// The line and field reading shared by the text readers of io/ (signals and shape tables).

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

/// Reads a text file a block at a time and hands out its content lines: the line end (LF, CR LF
/// or a lone CR) removed, everything from '#' on removed, blanks at both ends trimmed, blank lines
/// skipped, a UTF-8 byte-order mark at the start dropped. Line numbers are 1-based physical lines.
class LineReader {
public:
    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader();

    /// Opens `path`; false with `error` set ("cannot open PATH: reason") when it cannot.
    bool open(const std::string& path, std::string& error);

    /// The next content line (valid until the next call) and its number. False at the end of the
    /// file, or after a read error (then `error` is set).
    bool next(std::string_view& line, int64_t& lineNumber, std::string& error);

    /// open() and next() for the first content line: "" when there is one, else what is wrong
    /// (the reason it cannot be opened or read, or "PATH: " + `ifEmpty` for a file without one).
    std::string openAtFirstLine(const std::string& path, std::string_view& line, int64_t& lineNumber,
                                const std::string& ifEmpty);

    /// The bytes read from the file and not yet handed out, for a caller that reads the plainest
    /// lines itself (see skip); valid until the next call of next(). Empty once a block is used up.
    std::string_view unread() const { return {buffer_.data() + begin_, end_ - begin_}; }
    /// Hands out the first `bytes` of unread() as read: `lines` whole lines, each ended by LF or
    /// CR LF, none of them the file's first line (whose byte-order mark next() drops).
    void skip(size_t bytes, int64_t lines) {
        begin_ += bytes;
        consumed_ += bytes;
        lineNumber_ += lines;
    }

    /// Size of the file in bytes when it is a regular file, else 0.
    uint64_t fileSize() const { return fileSize_; }
    /// Bytes consumed so far.
    uint64_t bytesConsumed() const { return consumed_; }

private:
    bool fill(std::string& error);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
    int64_t lineNumber_ = 0;
    uint64_t fileSize_ = 0;
    uint64_t consumed_ = 0;
};

/// The separator of a table, chosen from its first content line: the first of ',', ';', tab
/// that occurs, else 0 (fields separated by runs of blanks).
char chooseSeparator(std::string_view firstLine);

/// Splits a line into fields at `separator` (0: runs of blanks), each trimmed of blanks.
std::vector<std::string_view> splitFields(std::string_view line, char separator);

/// Field `index` (0-based) of a line, trimmed, without splitting the rest; false when the line
/// has fewer fields.
bool fieldAt(std::string_view line, char separator, size_t index, std::string_view& field);

/// A header field without surrounding double quotes.
std::string unquote(std::string_view field);

/// `text` for a message: in double quotes, shortened to about 60 characters.
std::string quoteForMessage(std::string_view text);

/// "PATH:LINE: " for a message.
std::string at(const std::string& path, int64_t line);

/// Lower-case file ending without the dot ("csv"), or empty.
std::string fileEnding(const std::string& path);
