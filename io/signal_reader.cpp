#include "io/signal_reader.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <exception>
#include <new>
#include <string_view>
#include <vector>

#include "io/text_lines.h"

namespace {
constexpr double floatLimit = static_cast<double>(std::numeric_limits<float>::max());

std::string formatRate(double rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", rate);
    return text;
}

bool isWholeNumber(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string checkRate(const std::string& path, const std::optional<double>& rate) {
    if (rate && !isSampleRate(*rate))
        return path + ": the sample rate must lie from " + formatRate(minSampleRate) + " to " +
               formatRate(maxSampleRate) + " samples per second, got " + formatRate(*rate);
    return "";
}

// Why a field is no sample value, or empty when it is one (stored in `value`).
std::string sampleProblem(std::string_view field, float& value) {
    double v = 0;
    if (field.empty()) return "empty field where a number belongs";
    if (!parseNumber(field, v)) return "malformed number " + quoteForMessage(field);
    const bool literal = field.find_first_of("nNiI") != std::string_view::npos;  // nan, inf, infinity
    if (!std::isfinite(v) && literal) return "not a finite number: " + quoteForMessage(field);
    if (!(std::fabs(v) <= floatLimit)) return "number out of range: " + quoteForMessage(field);
    value = static_cast<float>(v);
    return "";
}

// The number that starts at `from` if it is a plain one, the usual case: from_chars reads it, and
// it is finite and within the float range. Then `value` is the float sampleProblem would give
// (parsed as a double, then rounded to float: parsing to float directly rounds some numbers
// differently) and the result is the number's end; nullptr otherwise.
const char* plainNumber(const char* from, const char* stop, float& value) {
    // Most numbers are short decimals ("-12", "0.25"), read here without from_chars, which took
    // half the time: up to 15 digits make a whole number m below 2^53, and m and 10^f (f digits
    // after the point) are exact doubles, so m / 10^f is rounded once, to the double from_chars
    // gives. Anything else (more digits, an exponent, no digit before or after the point) goes on.
    static constexpr double powersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const bool negative = from != stop && *from == '-';
    const char* p = from + negative;
    const char* const whole = p;
    uint64_t m = 0;
    while (p != stop && isDigit(*p)) m = m * 10 + static_cast<uint64_t>(*p++ - '0');
    ptrdiff_t digits = p - whole, fraction = 0;
    if (digits > 0 && p != stop && *p == '.') {
        const char* const after = ++p;
        while (p != stop && isDigit(*p)) m = m * 10 + static_cast<uint64_t>(*p++ - '0');
        fraction = p - after;
        digits = fraction > 0 ? digits + fraction : 0;
    }
    if (digits > 0 && digits <= 15 && (p == stop || (*p != '.' && *p != 'e' && *p != 'E'))) {
        // Times -1.0 rather than a branch on the sign, which random signs mispredict (-0 stays -0).
        static constexpr double signs[] = {1.0, -1.0};
        value = static_cast<float>(static_cast<double>(m) / powersOfTen[fraction] * signs[negative]);
        return p;
    }

    double v = 0;
    const auto [end, ec] = std::from_chars(from, stop, v);
    if (ec != std::errc() || !(std::fabs(v) <= floatLimit)) return nullptr;
    value = static_cast<float>(v);
    return end;
}

// The file's size in bytes, or -1.
int64_t fileBytes(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

// What libsndfile noticed of a damaged file while opening it, from its log: a stream
// that ends before its end mark, or a data chunk whose header claims more bytes than the file
// holds (the reader then silently gives only what is there). The streaming placeholders 0 and
// 0xFFFFFFFF (a length not yet known when the header was written) are no damage. "" when none.
std::string damageInLog(SNDFILE* file) {
    std::vector<char> log(16384, '\0');
    sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size() - 1));
    std::string_view text(log.data());
    if (text.find("ended unexpectedly") != std::string_view::npos) return "the stream ends before its end mark";
    for (const std::string_view tag : {std::string_view("data : "), std::string_view("SSND : ")}) {
        for (size_t at = text.find(tag); at != std::string_view::npos; at = text.find(tag, at + 1)) {
            if (at > 0 && text[at - 1] != '\n') continue;
            long long claimed = 0, held = 0;
            const std::string line(text.substr(at + tag.size(), text.find('\n', at) - at - tag.size()));
            if (std::sscanf(line.c_str(), "%lld (should be %lld)", &claimed, &held) == 2 && claimed > held &&
                claimed != 0 && claimed < 0xFFFFFF00LL)
                return "the header promises " + std::to_string(claimed) + " bytes of samples, the file holds " +
                       std::to_string(held);
        }
    }
    return "";
}
}  // namespace

bool parseNumber(std::string_view text, double& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) return false;
    }
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size()) return false;
    if (ec == std::errc::result_out_of_range) {
        // Beyond the double range: a negative exponent underflows to zero, any other overflows.
        const auto e = text.find_first_of("eE");
        const bool underflow = e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
        value = underflow ? 0.0 : (text.front() == '-' ? -HUGE_VAL : HUGE_VAL);
        return true;
    }
    return ec == std::errc();
}

SignalFormat signalFormatOf(const std::string& path) {
    const std::string e = fileEnding(path);
    if (e == "csv" || e == "tsv" || e == "txt" || e == "dat") return SignalFormat::text;
    if (e == "wav" || e == "flac" || e == "ogg" || e == "oga" || e == "aif" || e == "aiff" || e == "au")
        return SignalFormat::audio;
    return SignalFormat::unsupported;
}

namespace {
// The columns of a text file's first line: their header names, or their numbers without one.
IoResult<std::vector<std::string>> textColumnNames(const std::string& path) {
    using Result = IoResult<std::vector<std::string>>;
    LineReader reader;
    std::string_view line;
    int64_t number = 0;
    if (std::string e = reader.openAtFirstLine(path, line, number, "no samples (the file holds no numbers)"); !e.empty())
        return Result::failure(e);
    const std::vector<std::string_view> first = splitFields(line, chooseSeparator(line));
    bool header = false;
    for (const std::string_view f : first) {
        double v = 0;
        if (!parseNumber(f, v)) header = true;
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < first.size(); ++i) names.push_back(header ? unquote(first[i]) : std::to_string(i + 1));
    return Result::success(std::move(names));
}

// Several channels: each read alone, as one channel, then kept one after the other.
IoResult<Signal> readChannels(const std::string& path, const SignalReadOptions& options) {
    using Result = IoResult<Signal>;
    const bool text = options.columns.has_value();
    const std::string option = text ? "--columns" : "--channels";
    if (options.columns && options.channels)
        return Result::failure(path + ": columns and channels cannot both be chosen");
    if (options.column || options.channel)
        return Result::failure(path + ": " + option + " chooses every channel; leave out the single " +
                               (options.column ? "column" : "channel"));
    const SignalFormat format = signalFormatOf(path);
    if (text && format == SignalFormat::audio)
        return Result::failure(path + ": columns apply to text files; this one is read as audio (use --channels)");
    if (!text && format == SignalFormat::text)
        return Result::failure(path + ": channels apply to audio files; this one is read as text (use --columns)");
    const std::string& list = text ? *options.columns : *options.channels;
    // A table's header (its names, or the columns' numbers without one), read once.
    std::vector<std::string> header;
    if (text) {
        IoResult<std::vector<std::string>> names = textColumnNames(path);
        if (!names) return Result::failure(names.error);
        header = std::move(names.value);
    }
    std::vector<std::string> items;
    if (list == "all") {
        int count = static_cast<int>(header.size());
        if (!text) {
            SF_INFO info{};
            SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
            if (!file) return readAudioSignal(path, {});  // the single reader's message for a bad file
            sf_close(file);
            count = info.channels;
        }
        for (int i = 1; i <= count; ++i) items.push_back(std::to_string(i));
    } else {
        for (const std::string_view item : splitFields(list, ',')) {
            if (item.empty())
                return Result::failure(option + ": an empty entry in " + quoteForMessage(list) +
                                       " (give \"all\" or numbers" + (text ? " and names" : "") + " with commas)");
            items.emplace_back(item);
        }
    }
    if (items.size() > static_cast<size_t>(maxSignalChannels))
        return Result::failure(path + ": " + std::to_string(items.size()) + " channels; at most " +
                               std::to_string(maxSignalChannels) + " are read at once");
    // Each channel's name (text: the header's name for a column given by number), checked for
    // repeats before anything is read.
    std::vector<std::string> names = items;
    for (std::string& name : names)
        if (text && isWholeNumber(name)) {
            const size_t k = std::strtoull(name.c_str(), nullptr, 10);
            if (k >= 1 && k <= header.size()) name = header[k - 1];
        }
    for (size_t a = 0; a < names.size(); ++a)
        for (size_t b = 0; b < a; ++b)
            if (names[a] == names[b])
                return Result::failure(option + ": " + quoteForMessage(names[a]) + " is chosen twice");
    Signal signal;
    size_t length = 0;
    for (size_t k = 0; k < items.size(); ++k) {
        SignalReadOptions one;
        one.rate = options.rate;
        if (text) {
            one.column = items[k];
        } else {
            double number = 0;
            if (!isWholeNumber(items[k]) || !parseNumber(items[k], number) || number < 1 || number > 1e6)
                return Result::failure(option + ": expected \"all\" or channel numbers from 1 with commas, got " +
                                       quoteForMessage(list));
            one.channel = static_cast<int>(number);
        }
        IoResult<Signal> part = text ? readTextSignal(path, one) : readAudioSignal(path, one);
        if (!part) return part;
        if (k == 0) {
            signal.file = part.value.file;
            signal.rate = part.value.rate;
            length = part.value.samples.size();
            signal.samples.reserve(length * items.size());
        } else if (part.value.samples.size() != length) {
            return Result::failure(path + ": " + (text ? "column " : "channel ") + items[k] + " has " +
                                   std::to_string(part.value.samples.size()) + " samples, the first " +
                                   std::to_string(length));
        }
        signal.samples.insert(signal.samples.end(), part.value.samples.begin(), part.value.samples.end());
    }
    signal.channels = static_cast<int>(items.size());
    signal.channelNames = std::move(names);
    return Result::success(std::move(signal));
}

// Where a reader puts its samples: into the Signal it returns, or, with `blocks`, handed on
// block by block through `samples` as a buffer (begun with the rate before the first block).
struct SampleOut {
    const SampleBlocks* blocks = nullptr;
    double rate = 1;
    int64_t handed = 0;  // samples handed on so far
    bool begun = false;
    void flush(std::vector<float>& samples) {
        if (!blocks || samples.empty()) return;
        if (!begun && blocks->begin) blocks->begin(rate);
        begun = true;
        blocks->take(samples);
        handed += static_cast<int64_t>(samples.size());
        samples.clear();
    }
    int64_t total(const std::vector<float>& samples) const { return handed + static_cast<int64_t>(samples.size()); }
};

IoResult<Signal> readText(const std::string& path, const SignalReadOptions& options, SampleOut& out);
IoResult<Signal> readAudio(const std::string& path, const SignalReadOptions& options, SampleOut& out);

IoResult<Signal> readAny(const std::string& path, const SignalReadOptions& options, SampleOut& out) {
    switch (signalFormatOf(path)) {
    case SignalFormat::text: return readText(path, options, out);
    case SignalFormat::audio: return readAudio(path, options, out);
    case SignalFormat::unsupported: break;
    }
    const std::string e = fileEnding(path);
    return IoResult<Signal>::failure(
        path + ": unsupported format" + (e.empty() ? std::string(" (the name has no ending)") : " \"." + e + "\"") +
        "; signals are read from text (.csv, .tsv, .txt, .dat) and audio (.wav, .flac, .ogg, .oga, .aif, .aiff, .au)");
}
}  // namespace

IoResult<Signal> readSignal(const std::string& path, const SignalReadOptions& options) {
    if (options.columns || options.channels) return readChannels(path, options);
    SampleOut out;
    return readAny(path, options, out);
}

IoResult<Signal> streamSignal(const std::string& path, const SignalReadOptions& options, const SampleBlocks& blocks) {
    if (options.columns || options.channels)
        return IoResult<Signal>::failure(path + ": several channels are read whole, not handed on in blocks");
    SampleOut out{&blocks};
    return readAny(path, options, out);
}

IoResult<Signal> readTextSignal(const std::string& path, const SignalReadOptions& options) {
    SampleOut out;
    return readText(path, options, out);
}

IoResult<Signal> readAudioSignal(const std::string& path, const SignalReadOptions& options) {
    SampleOut out;
    return readAudio(path, options, out);
}

namespace {

IoResult<Signal> readText(const std::string& path, const SignalReadOptions& options, SampleOut& out) {
    using Result = IoResult<Signal>;
    if (options.channel) return Result::failure(path + ": a channel applies to audio files; this one is read as text");
    if (std::string e = checkRate(path, options.rate); !e.empty()) return Result::failure(e);
    try {
        Signal signal;
        signal.file = path;
        signal.rate = options.rate.value_or(1.0);
        out.rate = signal.rate;
        std::string error;
        LineReader reader;
        std::string_view line;
        int64_t number = 0;
        error = reader.openAtFirstLine(path, line, number, "no samples (the file holds no numbers)");
        if (!error.empty()) return Result::failure(error);

        // The first line: the separator, the header, the column.
        const char separator = chooseSeparator(line);
        const std::vector<std::string_view> first = splitFields(line, separator);
        bool header = false;
        for (const std::string_view f : first) {
            double v = 0;
            if (!parseNumber(f, v)) header = true;
        }
        size_t column = 0;
        // A few names and the count: a table of many thousand columns must not flood the message.
        const auto listColumns = [&] {
            constexpr size_t shown = 8;
            std::string names;
            for (size_t i = 0; i < std::min(first.size(), shown); ++i)
                names += (i ? ", " : "") + (header ? unquote(first[i]) : std::to_string(i + 1));
            if (first.size() > shown) names += ", ... (" + std::to_string(first.size()) + " in all)";
            return names;
        };
        if (!options.column) {
            if (first.size() > 1)
                return Result::failure(path + ": " + std::to_string(first.size()) + " columns (" + listColumns() +
                                       "); choose one by number or name");
        } else if (isWholeNumber(*options.column)) {
            const size_t k = std::strtoull(options.column->c_str(), nullptr, 10);
            if (k < 1 || k > first.size())
                return Result::failure(path + ": no column " + *options.column + " (the file has " +
                                       std::to_string(first.size()) + (first.size() == 1 ? " column)" : " columns)"));
            column = k - 1;
        } else {
            if (!header)
                return Result::failure(path + ": no column named " + quoteForMessage(*options.column) +
                                       " (the file has no header line naming its columns)");
            const auto found = std::find_if(first.begin(), first.end(),
                                            [&](std::string_view f) { return unquote(f) == *options.column; });
            if (found == first.end())
                return Result::failure(path + ": no column named " + quoteForMessage(*options.column) +
                                       " (columns: " + listColumns() + ")");
            column = static_cast<size_t>(found - first.begin());
        }

        bool reserved = out.blocks != nullptr;  // handed on: no room for the whole file
        // Once a few thousand samples are read, room for the whole file from the bytes per sample so far.
        const auto reserve = [&] {
            const size_t read = signal.samples.size();
            if (reserved || read < 4096 || reader.fileSize() == 0) return;
            reserved = true;
            const double perSample = static_cast<double>(reader.bytesConsumed()) / static_cast<double>(read);
            signal.samples.reserve(static_cast<size_t>(static_cast<double>(reader.fileSize()) / perSample * 1.05) + 16);
        };
        const auto take = [&](std::string_view text) -> std::string {
            std::string_view field;
            if (!fieldAt(text, separator, column, field))
                return at(path, number) + "no column " + std::to_string(column + 1) + " in " + quoteForMessage(text);
            float value = 0;
            const char* const fieldEnd = field.data() + field.size();
            if (field.empty() || plainNumber(field.data(), fieldEnd, value) != fieldEnd)
                if (std::string problem = sampleProblem(field, value); !problem.empty())
                    return at(path, number) + problem;
            signal.samples.push_back(value);
            reserve();
            if (signal.samples.size() >= 65536) out.flush(signal.samples);
            return "";
        };
        if (!header)
            if (std::string problem = take(line); !problem.empty()) return Result::failure(problem);
        // One column of numbers, one a line, is the usual recording: its lines are parsed straight
        // from the reader's block, without splitting lines and fields, which took most of the time.
        // The first line that is anything else (a blank, a comment, blanks around the number, a
        // lone CR, no plain number, the end of the block) goes through next() and take() with
        // their checks and messages.
        const bool oneColumn = separator == 0 && column == 0;
        for (;;) {
            if (oneColumn) {
                // A short first run, so that reserve() soon knows the bytes per sample.
                const std::string_view block = reader.unread().substr(0, reserved ? std::string_view::npos : 65536);
                const char* p = block.data();
                const char* const stop = p + block.size();
                int64_t lines = 0;
                float value = 0;
                while (const char* end = plainNumber(p, stop, value)) {
                    if (end != stop && *end == '\n') {
                        p = end + 1;
                    } else if (stop - end >= 2 && end[0] == '\r' && end[1] == '\n') {
                        p = end + 2;
                    } else {
                        break;
                    }
                    signal.samples.push_back(value);
                    ++lines;
                }
                reader.skip(static_cast<size_t>(p - block.data()), lines);
                reserve();
                out.flush(signal.samples);
            }
            if (!reader.next(line, number, error)) break;
            if (std::string problem = take(line); !problem.empty()) return Result::failure(problem);
        }
        if (!error.empty()) return Result::failure(error);
        if (out.total(signal.samples) == 0) return Result::failure(path + ": no samples (the file holds only a header line)");
        out.flush(signal.samples);
        // The room reserved from the bytes per sample is a few percent more than the samples;
        // giving that back would copy them all (a fifth of the reading time). A vector grown
        // well past its samples (an estimate too low, or none) is shrunk.
        std::vector<float>& samples = signal.samples;
        if (samples.capacity() - samples.size() > samples.size() / 8) samples.shrink_to_fit();
        return Result::success(std::move(signal));
    } catch (const std::bad_alloc&) {
        return Result::failure(path + ": not enough memory to hold the signal (4 bytes per sample)");
    } catch (const std::exception& e) {
        return Result::failure("cannot read " + path + ": " + e.what());
    }
}

IoResult<Signal> readAudio(const std::string& path, const SignalReadOptions& options, SampleOut& out) {
    using Result = IoResult<Signal>;
    if (options.column) return Result::failure(path + ": a column applies to text files; this one is read as audio");
    if (std::string e = checkRate(path, options.rate); !e.empty()) return Result::failure(e);
    {
        // The system's reason for a missing or unreadable file, before libsndfile's own words.
        std::FILE* probe = std::fopen(path.c_str(), "rb");
        if (!probe) return Result::failure("cannot open " + path + ": " + std::strerror(errno));
        struct stat info {};
        const bool directory = ::fstat(::fileno(probe), &info) == 0 && S_ISDIR(info.st_mode);
        std::fclose(probe);
        if (directory) return Result::failure("cannot read " + path + ": " + std::strerror(EISDIR));
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return Result::failure(path + ": unsupported format or damaged audio file (" + sf_strerror(nullptr) + ")");
    struct Closer {
        SNDFILE* f;
        ~Closer() { sf_close(f); }
    } closer{file};

    const int channels = info.channels;
    int channel = 1;
    if (options.channel) {
        channel = *options.channel;
        if (channel < 1 || channel > channels)
            return Result::failure(path + ": no channel " + std::to_string(channel) + " (the file has " +
                                   std::to_string(channels) + (channels == 1 ? " channel)" : " channels)"));
    } else if (channels != 1) {
        return Result::failure(path + ": " + std::to_string(channels) + " channels; choose one (1 to " +
                               std::to_string(channels) + ")");
    }
    if (options.rate && *options.rate != static_cast<double>(info.samplerate))
        return Result::failure(path + ": the file's own rate is " + std::to_string(info.samplerate) +
                               " Hz; a different rate (" + formatRate(*options.rate) + ") applies to text signals only");
    if (info.frames <= 0) return Result::failure(path + ": no samples (the audio file is empty)");
    // The log as the file was opened (reading on to the end adds remarks of its own). A file
    // whose length cannot be found (an Ogg stream without its last page) is cut short.
    if (std::string damage = damageInLog(file); !damage.empty())
        return Result::failure(path + ": truncated or damaged: " + damage);
    if (info.frames == SF_COUNT_MAX)
        return Result::failure(path + ": truncated or damaged: the end of the stream is missing");

    try {
        Signal signal;
        signal.file = path;
        signal.rate = info.samplerate;
        out.rate = signal.rate;
        // Integer formats give their integer sample values, float formats their stored values.
        sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
        // The header's frame count is a promise, not a fact: room is reserved for at most what
        // the file's bytes could hold, and the reading below goes by what the file really gives.
        if (!out.blocks)
            signal.samples.reserve(static_cast<size_t>(
                    std::min<int64_t>(info.frames, std::max<int64_t>(fileBytes(path), 0) * 4 / channels + 4096)));
        constexpr sf_count_t framesPerBlock = 65536;
        std::vector<float> block(static_cast<size_t>(framesPerBlock) * static_cast<size_t>(channels));
        for (;;) {
            const sf_count_t got = sf_readf_float(file, block.data(), framesPerBlock);
            if (got <= 0) break;
            for (sf_count_t f = 0; f < got; ++f) {
                const float v = block[static_cast<size_t>(f) * static_cast<size_t>(channels) +
                                      static_cast<size_t>(channel - 1)];
                if (!std::isfinite(v))
                    return Result::failure(path + ": sample " + std::to_string(out.total(signal.samples)) +
                                           " is not a finite number");
                signal.samples.push_back(v);
            }
            out.flush(signal.samples);
        }
        if (sf_error(file) != SF_ERR_NO_ERROR)
            return Result::failure("cannot read " + path + ": " + sf_strerror(file));
        const auto got = out.total(signal.samples);
        if (got < info.frames)
            return Result::failure(path + ": truncated or damaged: the header promises " + std::to_string(info.frames) +
                                   " samples, the file holds " + std::to_string(got));
        if (got == 0) return Result::failure(path + ": no samples (the audio file is empty)");
        signal.samples.shrink_to_fit();
        return Result::success(std::move(signal));
    } catch (const std::bad_alloc&) {
        return Result::failure(path + ": not enough memory to hold the signal (4 bytes per sample)");
    } catch (const std::exception& e) {
        return Result::failure("cannot read " + path + ": " + e.what());
    }
}

}  // namespace

IoResult<int64_t> parseSamplesOrSeconds(const std::string& text, double rate, const std::string& what) {
    using Result = IoResult<int64_t>;
    std::string_view t = text;
    const bool seconds = !t.empty() && t.back() == 's';
    if (seconds) t.remove_suffix(1);
    double value = 0;
    if (!parseNumber(t, value) || !std::isfinite(value) || (!seconds && !isWholeNumber(t)))
        return Result::failure(what + ": expected whole samples (\"1200\") or seconds with an s (\"0.3s\"), got " +
                               quoteForMessage(text));
    if (value < 0) return Result::failure(what + ": must not be negative, got " + quoteForMessage(text));
    const double samples = seconds ? std::round(value * rate) : value;
    if (!(samples < 4.0e18))
        return Result::failure(what + ": too large, got " + quoteForMessage(text));
    if (!seconds) {
        int64_t exact = 0;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), exact);
        if (ec != std::errc() || end != t.data() + t.size())
            return Result::failure(what + ": too large, got " + quoteForMessage(text));
        return Result::success(exact);
    }
    return Result::success(static_cast<int64_t>(samples));
}

IoResult<SampleRange> parseSampleRange(const std::string& text, double rate, const std::string& what) {
    using Result = IoResult<SampleRange>;
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return Result::failure(what + ": expected A:B (samples, or seconds with an s), got " + quoteForMessage(text));
    const auto a = parseSamplesOrSeconds(text.substr(0, colon), rate, what);
    if (!a) return Result::failure(a.error);
    const auto b = parseSamplesOrSeconds(text.substr(colon + 1), rate, what);
    if (!b) return Result::failure(b.error);
    if (a.value >= b.value)
        return Result::failure(what + ": the range must end after it starts, got " + quoteForMessage(text));
    return Result::success(SampleRange{a.value, b.value});
}
