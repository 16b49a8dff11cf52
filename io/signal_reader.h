#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/io_result.h"

/// A recording as read from a file, in the file's own units: text values as written, integer
/// audio (PCM WAV, FLAC) as its integer sample values (a 16-bit file gives -32768..32767), float
/// audio (float WAV, Ogg Vorbis) as stored.
///
/// Samples are kept as 4-byte floats: 10^8 samples take 400 MB (the quantised 16-bit copy made
/// for matching another 200 MB). A float holds every integer up to 2^24 exactly, so 16- and
/// 24-bit audio and integer text signals keep their exact values; other values keep about seven
/// significant digits, far finer than the 16-bit quantisation that follows.
///
/// A recording of several channels holds them one after the other, each of the recording's
/// length: sample i of channel c at samples[c * length() + i].
struct Signal {
    std::vector<float> samples;
    double rate = 1.0;  ///< samples per second
    std::string file;   ///< the file it was read from
    int channels = 1;   ///< 1..maxSignalChannels
    /// Each channel's name as the file gives it (a text column's header name, else its 1-based
    /// number); empty for a recording read as one channel.
    std::vector<std::string> channelNames;

    /// Samples per channel.
    int64_t length() const { return static_cast<int64_t>(samples.size()) / channels; }
    /// The samples of channel c (0-based).
    std::span<const float> channel(int c) const {
        return std::span<const float>(samples).subspan(static_cast<size_t>(c * length()), static_cast<size_t>(length()));
    }
};

/// The most channels a recording may have: the exact sums of the detection hold this many.
inline constexpr int maxSignalChannels = 64;

/// The sample rates a signal may have (samples per second): every time a report gives (a
/// position over the rate) stays a finite number with many digits to spare.
inline constexpr double minSampleRate = 1e-6;
inline constexpr double maxSampleRate = 1e12;
/// Whether `rate` is one of them (NaN is not).
inline bool isSampleRate(double rate) { return rate >= minSampleRate && rate <= maxSampleRate; }

/// How to read a signal file.
struct SignalReadOptions {
    /// Text: the column, as a 1-based number ("2") or a header name ("ecg"). Unset: the file
    /// must have one column.
    std::optional<std::string> column;
    /// Audio: the 1-based channel. Unset: the file must have one channel.
    std::optional<int> channel;
    /// Text: samples per second (default 1). Audio files carry their own rate; a rate given for
    /// one must agree with it.
    std::optional<double> rate;
    /// Several channels at once (not with column or channel): text columns as "all" or numbers
    /// and names with commas ("1,3,ecg"); audio channels as "all" or 1-based numbers with commas.
    /// The signal holds them in the order given.
    std::optional<std::string> columns;
    std::optional<std::string> channels;
};

/// How a file is read, from its ending (case-insensitive).
enum class SignalFormat {
    text,   ///< .csv .tsv .txt .dat
    audio,  ///< .wav .flac .ogg .oga .aif .aiff .au
    unsupported,
};
SignalFormat signalFormatOf(const std::string& path);

/// Reads a signal by the file's ending: text (readTextSignal) or audio (readAudioSignal); any
/// other ending is refused as an unsupported format. With columns or channels every one named
/// is read as readTextSignal or readAudioSignal read it alone, and they are kept side by side.
/// Refused besides: columns with channel or column, channels with column or channel, a column
/// or channel named twice or not at all, more than maxSignalChannels.
IoResult<Signal> readSignal(const std::string& path, const SignalReadOptions& options = {});

/// Where a reader hands a signal's samples when they are not to be kept: `begin` (may be empty)
/// hears the rate once, before the first block; `take` each block of samples in order (up to one
/// block of the file, valid during the call).
struct SampleBlocks {
    std::function<void(double rate)> begin;
    std::function<void(std::span<const float> block)> take;
};

/// readSignal handing the samples to `blocks` instead of keeping them: the same checks and
/// messages, the Signal returned without samples (its rate and file only). Memory does not grow
/// with the signal; one channel only (columns or channels are refused). A refusal may come after
/// some blocks were handed on (a malformed number at
/// the end of the file); what was handed on is then void.
IoResult<Signal> streamSignal(const std::string& path, const SignalReadOptions& options, const SampleBlocks& blocks);

/// Text: one number per line, or one column of comma-, semicolon-, tab- or blank-separated
/// values (the separator is the first of ',', ';', tab found in the first line; blanks
/// otherwise). A first line with a field that is not a number is the header, naming the
/// columns. `#` starts a comment to the end of the line; blank lines are skipped; CR LF line
/// ends and a UTF-8 byte-order mark are accepted. Numbers use a decimal point whatever the
/// locale ("1.5", "-2e-3", "+7"). The file is read in blocks, never whole.
/// Refused, with file and line: a missing or unreadable file, a file without samples, a
/// malformed number, NaN or infinity, a number beyond the float range, a column that does not
/// exist (also on a short line), a file of several columns when none is chosen, a channel
/// option, a rate outside minSampleRate..maxSampleRate.
IoResult<Signal> readTextSignal(const std::string& path, const SignalReadOptions& options = {});

/// Audio through libsndfile (WAV, FLAC, Ogg and the other formats it reads), one channel, the
/// rate from the file. Refused: a missing or unreadable file, a file libsndfile cannot read, no
/// samples, a channel that does not exist, several channels when none is chosen, a column
/// option, a rate option other than the file's, NaN or infinity in a float file.
IoResult<Signal> readAudioSignal(const std::string& path, const SignalReadOptions& options = {});

/// A count of samples written as whole samples ("1200") or seconds with an `s` suffix ("0.3s",
/// rounded to the nearest sample at `rate`). Negative, malformed or overflowing values are
/// refused; `what` names the value in the message (e.g. "--tmin").
IoResult<int64_t> parseSamplesOrSeconds(const std::string& text, double rate, const std::string& what);

/// "A:B" with A and B as parseSamplesOrSeconds takes them and A < B.
struct SampleRange {
    int64_t first = 0;  ///< first sample
    int64_t last = 0;   ///< one past the last sample
};
IoResult<SampleRange> parseSampleRange(const std::string& text, double rate, const std::string& what);

/// The text of a number as the readers parse it: blanks around it and a leading '+' allowed, a
/// decimal point whatever the locale. Returns false for anything else (NaN and infinity parse;
/// callers check finiteness).
bool parseNumber(std::string_view text, double& value);
