#include "io/text_lines.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "model/text_format.h"

namespace {
constexpr size_t blockSize = 1 << 20;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}
}  // namespace

LineReader::~LineReader() {
    if (file_) std::fclose(file_);
}

bool LineReader::open(const std::string& path, std::string& error) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(::fileno(file_), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            error = "cannot read " + path + ": " + std::strerror(EISDIR);
            return false;
        }
        if (S_ISREG(info.st_mode)) fileSize_ = static_cast<uint64_t>(info.st_size);
    }
    buffer_.resize(blockSize);
    return true;
}

bool LineReader::fill(std::string& error) {
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // a line longer than a block
    const size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
    end_ += got;
    if (got == 0) {
        if (std::ferror(file_)) {
            error = "cannot read " + path_ + ": " + std::strerror(errno ? errno : EIO);
            return false;
        }
        eof_ = true;
    }
    return true;
}

std::string LineReader::openAtFirstLine(const std::string& path, std::string_view& line, int64_t& lineNumber,
                                        const std::string& ifEmpty) {
    std::string error;
    if (!open(path, error)) return error;
    if (!next(line, lineNumber, error)) return error.empty() ? path + ": " + ifEmpty : error;
    return "";
}

bool LineReader::next(std::string_view& line, int64_t& lineNumber, std::string& error) {
    if (!file_) return false;
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const size_t available = end_ - begin_;
        // A line ends at LF, CR LF or a lone CR (old Mac files).
        const void* lf = available > 0 ? std::memchr(start, '\n', available) : nullptr;
        const size_t lfAt = lf ? static_cast<size_t>(static_cast<const char*>(lf) - start) : available;
        const void* cr = lfAt > 0 ? std::memchr(start, '\r', lfAt) : nullptr;
        std::string_view raw;
        if (cr) {
            const size_t length = static_cast<size_t>(static_cast<const char*>(cr) - start);
            if (length + 1 == available && !eof_) {  // CR LF may be split between two blocks
                if (!fill(error)) return false;
                continue;
            }
            const size_t ending = length + 1 < available && start[length + 1] == '\n' ? 2 : 1;
            raw = std::string_view(start, length);
            begin_ += length + ending;
            consumed_ += length + ending;
        } else if (lf) {
            raw = std::string_view(start, lfAt);
            begin_ += lfAt + 1;
            consumed_ += lfAt + 1;
        } else if (eof_) {
            if (begin_ == end_) return false;
            raw = std::string_view(start, end_ - begin_);
            consumed_ += end_ - begin_;
            begin_ = end_;
        } else {
            if (!fill(error)) return false;
            continue;
        }
        ++lineNumber_;
        if (lineNumber_ == 1 && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
        if (const auto hash = raw.find('#'); hash != std::string_view::npos) raw = raw.substr(0, hash);
        raw = trim(raw);
        if (raw.empty()) continue;
        line = raw;
        lineNumber = lineNumber_;
        return true;
    }
}

char chooseSeparator(std::string_view firstLine) {
    for (const char c : {',', ';', '\t'})
        if (firstLine.find(c) != std::string_view::npos) return c;
    return 0;
}

std::vector<std::string_view> splitFields(std::string_view line, char separator) {
    std::vector<std::string_view> fields;
    if (separator == 0) {
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && isBlank(line[i])) ++i;
            if (i == line.size()) break;
            const size_t from = i;
            while (i < line.size() && !isBlank(line[i])) ++i;
            fields.push_back(line.substr(from, i - from));
        }
        return fields;
    }
    size_t from = 0;
    for (;;) {
        const size_t to = line.find(separator, from);
        fields.push_back(trim(line.substr(from, to == std::string_view::npos ? std::string_view::npos : to - from)));
        if (to == std::string_view::npos) break;
        from = to + 1;
    }
    return fields;
}

bool fieldAt(std::string_view line, char separator, size_t index, std::string_view& field) {
    if (separator == 0) {
        size_t i = 0, k = 0;
        for (;;) {
            while (i < line.size() && isBlank(line[i])) ++i;
            if (i == line.size()) return false;
            const size_t from = i;
            while (i < line.size() && !isBlank(line[i])) ++i;
            if (k++ == index) {
                field = line.substr(from, i - from);
                return true;
            }
        }
    }
    size_t from = 0;
    for (size_t k = 0; k < index; ++k) {
        const size_t to = line.find(separator, from);
        if (to == std::string_view::npos) return false;
        from = to + 1;
    }
    const size_t to = line.find(separator, from);
    field = trim(line.substr(from, to == std::string_view::npos ? std::string_view::npos : to - from));
    return true;
}

std::string unquote(std::string_view field) {
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') field = field.substr(1, field.size() - 2);
    return std::string(field);
}

std::string quoteForMessage(std::string_view text) {
    constexpr size_t limit = 60;
    std::string shown(text.substr(0, limit));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    // Messages reach terminals, JSON and Python strings: bytes that are no UTF-8 become '?'.
    shown = withValidUtf8(std::move(shown));
    return "\"" + shown + (text.size() > limit ? "...\"" : "\"");
}

std::string at(const std::string& path, int64_t line) { return path + ":" + std::to_string(line) + ": "; }

std::string fileEnding(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ending = path.substr(dot + 1);
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ending;
}
