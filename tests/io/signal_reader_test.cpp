#include "io/signal_reader.h"

#include <sndfile.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "tests/io/temp_dir.h"

namespace {
using ::testing::HasSubstr;

std::vector<float> values(std::initializer_list<float> v) { return v; }

// Writes an audio file of `frames` interleaved frames through libsndfile.
void writeAudio(const std::string& path, int format, int channels, int rate, const std::vector<float>& interleaved,
                bool normalised = false) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_command(f, SFC_SET_NORM_FLOAT, nullptr, normalised ? SF_TRUE : SF_FALSE);
    ASSERT_EQ(sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size()) / channels),
              static_cast<sf_count_t>(interleaved.size()) / channels);
    sf_close(f);
}

SignalReadOptions column(const std::string& c) {
    SignalReadOptions o;
    o.column = c;
    return o;
}
SignalReadOptions channel(int c) {
    SignalReadOptions o;
    o.channel = c;
    return o;
}

std::string errorOf(const std::string& path, const SignalReadOptions& o = {}) {
    const auto r = readSignal(path, o);
    EXPECT_FALSE(r.ok()) << "read " << r.value.samples.size() << " samples from " << path;
    return r.error;
}
}  // namespace

TEST(TextSignal, OneNumberPerLineWithCommentsBlankLinesAndCrLf) {
    TempDir dir;
    const auto path = dir.write("a.txt", "\xEF\xBB\xBF# a recording\r\n1\r\n\r\n-2.5  # inline\r\n+3e2\n 4 \n-0\n");
    const auto r = readSignal(path);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value.samples, values({1, -2.5f, 300, 4, 0}));
    EXPECT_EQ(r.value.rate, 1.0);
    EXPECT_EQ(r.value.file, path);
    // Lone CRs end lines as well (old Mac files), also where a CR LF or a CR ends a block.
    const auto mac = dir.write("mac.csv", "value\r1\r\r-2.5\r+3e2\r4\r-0");
    ASSERT_TRUE(readSignal(mac).ok()) << readSignal(mac).error;
    EXPECT_EQ(readSignal(mac).value.samples, values({1, -2.5f, 300, 4, 0}));
    std::string mixed(1 << 20, ' ');  // a blank first line of exactly one block, then CR LF
    mixed.back() = '\r';
    mixed += "\n7\r8\n";
    const auto block = readSignal(dir.write("block.csv", mixed));
    ASSERT_TRUE(block.ok()) << block.error;
    EXPECT_EQ(block.value.samples, values({7, 8}));
}

TEST(TextSignal, ColumnsByNumberAndByHeaderNameInEverySeparator) {
    TempDir dir;
    const auto csv = dir.write("a.csv", "time,\"ecg\",resp\n0,10,7\n0.5,11.25,8\n1,-12,9\n");
    const auto tsv = dir.write("a.tsv", "time\tecg\n0\t10\n0.5\t11.25\n1\t-12\n");
    const auto semi = dir.write("b.csv", "time;ecg\n0;10\n0.5;11.25\n1;-12\n");
    const auto blanks = dir.write("a.dat", "0   10\n0.5 \t 11.25\n1 -12\n");
    for (const auto& path : {csv, tsv, semi}) {
        const auto byName = readSignal(path, column("ecg"));
        ASSERT_TRUE(byName.ok()) << byName.error;
        EXPECT_EQ(byName.value.samples, values({10, 11.25f, -12})) << path;
        const auto byNumber = readSignal(path, column("1"));
        ASSERT_TRUE(byNumber.ok()) << byNumber.error;
        EXPECT_EQ(byNumber.value.samples, values({0, 0.5f, 1})) << path;
    }
    const auto r = readSignal(blanks, column("2"));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value.samples, values({10, 11.25f, -12}));
}

TEST(TextSignal, DecimalPointWhateverTheLocaleAndTheGivenRate) {
    TempDir dir;
    const auto path = dir.write("a.csv", "0.25\n1.5\n");
    // A locale with a decimal comma, where the C library would misread "0.25", if one exists.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name)) break;
    SignalReadOptions o;
    o.rate = 250;
    const auto r = readSignal(path, o);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value.samples, values({0.25f, 1.5f}));
    EXPECT_EQ(r.value.rate, 250.0);
}

TEST(TextSignal, BadInputIsRefusedNamingFileLineAndText) {
    TempDir dir;
    const auto missing = dir.file("missing.csv");
    EXPECT_EQ(errorOf(missing), "cannot open " + missing + ": No such file or directory");
    std::filesystem::create_directory(dir.file("folder.csv"));
    EXPECT_EQ(errorOf(dir.file("folder.csv")), "cannot read " + dir.file("folder.csv") + ": Is a directory");
    EXPECT_THAT(errorOf(dir.write("empty.csv", "")), HasSubstr("empty.csv: no samples"));
    EXPECT_THAT(errorOf(dir.write("comments.csv", "# nothing\n\n")), HasSubstr("comments.csv: no samples"));
    EXPECT_THAT(errorOf(dir.write("header.csv", "ecg\n")), HasSubstr("header.csv: no samples"));

    const auto bad = dir.write("bad.csv", "1\n2\n# note\n1.2.3\n");
    EXPECT_EQ(errorOf(bad), bad + ":4: malformed number \"1.2.3\"");
    const auto unit = dir.write("unit.csv", "v\n1\n2mV\n");
    EXPECT_EQ(errorOf(unit), unit + ":3: malformed number \"2mV\"");
    const auto nan = dir.write("nan.csv", "1\nNaN\n");
    EXPECT_EQ(errorOf(nan), nan + ":2: not a finite number: \"NaN\"");
    const auto inf = dir.write("inf.csv", "1\n-inf\n");
    EXPECT_EQ(errorOf(inf), inf + ":2: not a finite number: \"-inf\"");
    const auto huge = dir.write("huge.csv", "1\n1e39\n");
    EXPECT_EQ(errorOf(huge), huge + ":2: number out of range: \"1e39\"");
    const auto emptyField = dir.write("gap.csv", "a,b\n1,2\n3,\n");
    EXPECT_EQ(errorOf(emptyField, column("b")), emptyField + ":3: empty field where a number belongs");
}

TEST(TextSignal, ColumnsThatDoNotExistAreRefused) {
    TempDir dir;
    const auto two = dir.write("two.csv", "time,ecg\n0,1\n1,2\n");
    EXPECT_EQ(errorOf(two), two + ": 2 columns (time, ecg); choose one by number or name");
    EXPECT_EQ(errorOf(two, column("3")), two + ": no column 3 (the file has 2 columns)");
    EXPECT_EQ(errorOf(two, column("0")), two + ": no column 0 (the file has 2 columns)");
    EXPECT_EQ(errorOf(two, column("eeg")), two + ": no column named \"eeg\" (columns: time, ecg)");
    const auto plain = dir.write("plain.csv", "0,1\n1,2\n");
    EXPECT_EQ(errorOf(plain, column("ecg")),
              plain + ": no column named \"ecg\" (the file has no header line naming its columns)");
    const auto shortLine = dir.write("short.csv", "a,b\n0,1\n7\n");
    EXPECT_EQ(errorOf(shortLine, column("b")), shortLine + ":3: no column 2 in \"7\"");
}

TEST(TextSignal, OptionsThatDoNotApplyOrBadRatesAreRefused) {
    TempDir dir;
    const auto path = dir.write("a.csv", "1\n2\n");
    EXPECT_THAT(errorOf(path, channel(1)), HasSubstr("a channel applies to audio files"));
    for (const double rate : {0.0, -5.0, 1e-308, 2e12, std::numeric_limits<double>::infinity(), std::nan("")}) {
        SignalReadOptions o;
        o.rate = rate;
        EXPECT_THAT(errorOf(path, o), HasSubstr("the sample rate must lie from 1e-06 to 1e+12")) << rate;
    }
    EXPECT_THAT(errorOf(dir.path() + "/"), HasSubstr("unsupported format"));
}

TEST(TextSignal, LongLinesAndManySamplesStreamThroughTheBlocks) {
    TempDir dir;
    std::string content = "# " + std::string(3 << 20, 'x') + "\n";  // a comment longer than a block
    std::vector<float> expected;
    for (int i = 0; i < 300000; ++i) {
        content += std::to_string(i % 1000 - 500) + "\n";
        expected.push_back(static_cast<float>(i % 1000 - 500));
    }
    const auto r = readSignal(dir.write("long.txt", content));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value.samples, expected);
}

// Random files in every layout the reader takes (a header or none, one column or several with a
// chosen one, each separator, blanks, comments, blank lines, LF, CR LF or lone CR line ends, files
// past the first block) with numbers of every form (integers, decimals, exponents, signs, long
// digit strings, underflow, decimals just above a tie between two floats, where parsing to float
// directly would round the other way): every sample is, bit for bit, the float of the double
// parseNumber reads from its field, whichever way through the reader its line takes.
TEST(TextSignal, RandomFilesGiveTheFloatOfEachParsedFieldBitForBit) {
    TempDir dir;
    std::mt19937 rng(20261208);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    const auto digits = [&](int length) {
        std::string s;
        for (int i = 0; i < length; ++i) s += static_cast<char>('0' + pick(10));
        return s;
    };
    const auto sign = [&] { return std::string(pick(3) == 0 ? "-" : pick(8) == 0 ? "+" : ""); };
    const auto number = [&]() -> std::string {
        switch (pick(7)) {
        case 0: return std::to_string(pick(2001) - 1000);
        case 1: return sign() + digits(1 + pick(4)) + "." + digits(1 + pick(8));
        case 2: return sign() + digits(1 + pick(20)) + (pick(2) ? "." + digits(1 + pick(20)) : "");
        case 3: {
            const std::string exponentSign = pick(2) ? "-" : pick(2) ? "+" : "";  // below 1e36 to stay a float
            return sign() + digits(1 + pick(3)) + (pick(2) ? "." + digits(1 + pick(5)) : "") + (pick(2) ? "e" : "E") +
                   exponentSign + std::to_string(pick(exponentSign == "-" ? 46 : 33));
        }
        case 4: {
            // Just above the midpoint of two neighbouring floats: the double is the midpoint itself.
            const float low = std::ldexp(static_cast<float>(1 + pick(1 << 23)) / (1 << 23), pick(30) - 10);
            const double mid = (static_cast<double>(low) + std::nextafter(low, 2 * low)) / 2;
            char text[128];
            std::snprintf(text, sizeof text, "%.70f", mid);
            return sign() + text + "000000000001";
        }
        case 5: {
            static const char* const odd[] = {"+5", ".5", "-.25", "5.", "007", "-0", "0.000", "+0.5e-3", "-1e-400",
                                              "1e-50", "123456789012345", "1234567890123456", "9007199254740993"};
            return odd[pick(std::size(odd))];
        }
        default: return sign() + digits(1 + pick(3));
        }
    };

    for (int file = 0; file < 16; ++file) {
        const int columns = file % 2 == 0 ? 1 : 2 + pick(3);
        const int chosen = pick(columns);
        const char separator = columns == 1 ? 0 : ",;\t "[pick(4)];
        const bool header = pick(2) == 1;
        const int rows = file < 3 ? 150000 : 300;
        const auto join = [&](const std::vector<std::string>& fields) {
            std::string line;
            for (size_t i = 0; i < fields.size(); ++i) {
                if (i > 0) line += separator == ' ' ? std::string(1 + pick(3), ' ') : std::string(1, separator);
                const bool padded = separator != '\t' && pick(4) == 0;
                line += (padded ? "  " : "") + fields[i] + (padded ? " " : "");
            }
            return line;
        };
        const auto lineEnd = [&] { return std::string(pick(3) == 0 ? "\r" : pick(2) ? "\r\n" : "\n"); };

        std::string content = pick(2) ? "# a recording\n\n" : "";
        std::vector<std::string> names;
        for (int c = 0; c < columns; ++c) names.push_back(pick(2) ? "\"c" + std::to_string(c) + "\"" : "c" + std::to_string(c));
        if (header) content += join(names) + lineEnd();
        std::vector<std::string> texts;
        std::vector<uint32_t> expected;
        for (int r = 0; r < rows; ++r) {
            std::vector<std::string> fields;
            for (int c = 0; c < columns; ++c) fields.push_back(number());
            double v = 0;
            ASSERT_TRUE(parseNumber(fields[chosen], v)) << fields[chosen];
            texts.push_back(fields[chosen]);
            expected.push_back(std::bit_cast<uint32_t>(static_cast<float>(v)));
            content += join(fields) + (pick(20) == 0 ? " # note" : "") + lineEnd();
            if (pick(50) == 0) content += pick(2) ? "\n" : "  # a remark\r\n";
        }

        SignalReadOptions options;
        if (columns > 1) options.column = header && pick(2) ? "c" + std::to_string(chosen) : std::to_string(chosen + 1);
        const auto r = readSignal(dir.write("random.csv", content), options);
        ASSERT_TRUE(r.ok()) << "file " << file << ": " << r.error;
        ASSERT_EQ(r.value.samples.size(), expected.size()) << "file " << file;
        for (size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(std::bit_cast<uint32_t>(r.value.samples[i]), expected[i])
                    << "file " << file << ", sample " << i << ": " << texts[i];
    }
}

TEST(Formats, UnsupportedEndingsAreRefused) {
    TempDir dir;
    const auto mp3 = dir.write("a.mp3", "ID3");
    EXPECT_EQ(errorOf(mp3), mp3 + ": unsupported format \".mp3\"; signals are read from text (.csv, .tsv, .txt, "
                                  ".dat) and audio (.wav, .flac, .ogg, .oga, .aif, .aiff, .au)");
    EXPECT_THAT(errorOf(dir.write("noending", "1\n")), HasSubstr("unsupported format (the name has no ending)"));
    EXPECT_EQ(signalFormatOf("X.WAV"), SignalFormat::audio);
    EXPECT_EQ(signalFormatOf("dir.v2/x"), SignalFormat::unsupported);
    EXPECT_EQ(signalFormatOf("a.Csv"), SignalFormat::text);
}

TEST(AudioSignal, IntegerFormatsGiveTheirIntegerSamplesAndTheirRate) {
    TempDir dir;
    const std::vector<float> samples{0, 1, -1, 32767, -32768, 1234, -4321};
    for (const auto& [name, format] : {std::pair{"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                       std::pair{"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                       std::pair{"a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16}}) {
        writeAudio(dir.file(name), format, 1, 8000, samples);
        const auto r = readSignal(dir.file(name));
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(r.value.samples, samples) << name;
        EXPECT_EQ(r.value.rate, 8000.0) << name;
    }
}

TEST(AudioSignal, FloatFormatsKeepTheirValues) {
    TempDir dir;
    std::vector<float> samples;
    for (int i = 0; i < 4000; ++i) samples.push_back(0.5f * std::sin(i * 0.05f));
    writeAudio(dir.file("f.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, samples);
    const auto wav = readSignal(dir.file("f.wav"));
    ASSERT_TRUE(wav.ok()) << wav.error;
    EXPECT_EQ(wav.value.samples, samples);

    writeAudio(dir.file("v.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 44100, samples, true);
    const auto ogg = readSignal(dir.file("v.ogg"));
    ASSERT_TRUE(ogg.ok()) << ogg.error;
    ASSERT_EQ(ogg.value.samples.size(), samples.size());
    EXPECT_EQ(ogg.value.rate, 44100.0);
    double largest = 0;  // lossy, but the same waveform in the same units
    for (size_t i = 0; i < samples.size(); ++i)
        largest = std::max(largest, std::fabs(static_cast<double>(ogg.value.samples[i] - samples[i])));
    EXPECT_LT(largest, 0.05);
}

TEST(AudioSignal, ChannelsAreChosenAndCheckedAndBadFilesRefused) {
    TempDir dir;
    const auto stereo = dir.file("s.wav");
    writeAudio(stereo, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 1000, {1, -1, 2, -2, 3, -3});
    const auto right = readSignal(stereo, channel(2));
    ASSERT_TRUE(right.ok()) << right.error;
    EXPECT_EQ(right.value.samples, values({-1, -2, -3}));
    EXPECT_EQ(errorOf(stereo), stereo + ": 2 channels; choose one (1 to 2)");
    EXPECT_EQ(errorOf(stereo, channel(3)), stereo + ": no channel 3 (the file has 2 channels)");
    EXPECT_EQ(errorOf(stereo, channel(0)), stereo + ": no channel 0 (the file has 2 channels)");
    EXPECT_THAT(errorOf(stereo, column("1")), HasSubstr("a column applies to text files"));
    SignalReadOptions rate = channel(1);
    rate.rate = 44100;
    EXPECT_EQ(errorOf(stereo, rate),
              stereo + ": the file's own rate is 1000 Hz; a different rate (44100) applies to text signals only");
    rate.rate = 1000;
    EXPECT_TRUE(readSignal(stereo, rate).ok());

    const auto empty = dir.file("empty.wav");
    writeAudio(empty, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 1000, {});
    EXPECT_EQ(errorOf(empty), empty + ": no samples (the audio file is empty)");
    const auto text = dir.write("text.wav", "1\n2\n3\n");
    EXPECT_THAT(errorOf(text), HasSubstr(text + ": unsupported format or damaged audio file ("));
    std::filesystem::create_directory(dir.file("folder.wav"));
    EXPECT_EQ(errorOf(dir.file("folder.wav")), "cannot read " + dir.file("folder.wav") + ": Is a directory");
    const auto missing = dir.file("missing.flac");
    EXPECT_EQ(errorOf(missing), "cannot open " + missing + ": No such file or directory");

    const auto nan = dir.file("nan.wav");
    writeAudio(nan, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 1000, {0, 1, std::nanf(""), 2});
    EXPECT_EQ(errorOf(nan), nan + ": sample 2 is not a finite number");
}

// Handed on in blocks, a signal arrives whole and in order, with the rate first, and a file is
// refused with the words readSignal uses, also after blocks were handed on: one-column text
// (through the plain-number path and the checked one), a chosen column of a table, a chosen
// audio channel, a bad number and a NaN late in the file, an empty file.
TEST(StreamedSignal, HandsOnWhatReadSignalKeeps) {
    TempDir dir;
    std::string plain = "# comment\nlevel\n", table = "a;b\n";
    std::vector<float> interleaved;
    for (int i = 0; i < 200000; ++i) {
        plain += std::to_string(i % 977 - 400) + (i % 5000 == 0 ? " \r\n\n" : "\n");
        table += std::to_string(i) + ";" + std::to_string(i % 31) + ".5\n";
        interleaved.insert(interleaved.end(), {static_cast<float>(i % 301), static_cast<float>(-(i % 89))});
    }
    const auto stereo = dir.file("s.wav");
    writeAudio(stereo, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 8000, interleaved);
    std::vector<float> late(150000, 0.5f);
    late[140000] = std::nanf("");
    const auto nan = dir.file("nan.wav");
    writeAudio(nan, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 1000, late);
    const std::pair<std::string, SignalReadOptions> files[] = {
            {dir.write("plain.txt", plain), {}},
            {dir.write("table.csv", table), column("b")},
            {stereo, channel(2)},
            {dir.write("bad.txt", plain + "1.2.3\n"), {}},
            {nan, {}},
            {dir.write("header.csv", "level\n"), {}},
    };
    for (const auto& [path, options] : files) {
        SCOPED_TRACE(path);
        const IoResult<Signal> whole = readSignal(path, options);
        std::vector<float> handed;
        double rate = 0;
        SampleBlocks blocks;
        blocks.begin = [&](double r) { rate = handed.empty() ? r : -1; };
        blocks.take = [&](std::span<const float> block) { handed.insert(handed.end(), block.begin(), block.end()); };
        const IoResult<Signal> streamed = streamSignal(path, options, blocks);
        EXPECT_EQ(streamed.error, whole.error);
        if (!whole.ok()) continue;
        EXPECT_TRUE(streamed.value.samples.empty());
        EXPECT_EQ(rate, whole.value.rate);
        EXPECT_EQ(handed, whole.value.samples);
    }
}

// A file cut short is refused as truncated, whatever its header promised (an Ogg file's header
// claims 2^63 - 1 frames when its end is missing).
TEST(AudioSignal, TruncatedFilesAreRefusedNotReadInPart) {
    TempDir dir;
    std::vector<float> samples;
    for (int i = 0; i < 48000; ++i) samples.push_back(std::round(8000 * std::sin(i * 0.05)));
    for (const auto& [name, format] : {std::pair{"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                       std::pair{"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                       std::pair{"a.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS}}) {
        writeAudio(dir.file(name), format, 1, 8000, samples, format == (SF_FORMAT_OGG | SF_FORMAT_VORBIS));
        ASSERT_TRUE(readSignal(dir.file(name)).ok()) << name;
        const auto size = std::filesystem::file_size(dir.file(name));
        for (const uintmax_t cut : {uintmax_t{4}, uintmax_t{1000}, size / 2}) {
            const std::string shorter = dir.file("cut-" + std::to_string(cut) + "-" + name);
            std::filesystem::copy_file(dir.file(name), shorter);
            std::filesystem::resize_file(shorter, size - cut);
            const auto r = readSignal(shorter);
            EXPECT_FALSE(r.ok()) << shorter << " read as " << r.value.samples.size() << " samples";
            EXPECT_THAT(r.error, ::testing::StartsWith(shorter + ": ")) << r.error;
            EXPECT_THAT(r.error, ::testing::AnyOf(HasSubstr("truncated or damaged"), HasSubstr("damaged audio file")))
                << r.error;
        }
    }
}

TEST(SamplesOrSeconds, WholeSamplesOrSecondsAtTheRate) {
    EXPECT_EQ(parseSamplesOrSeconds("1200", 1, "--tmin").value, 1200);
    EXPECT_EQ(parseSamplesOrSeconds("0.3s", 1000, "--tmin").value, 300);
    EXPECT_EQ(parseSamplesOrSeconds("0.0005s", 1000, "--tmin").value, 1);  // rounded to the nearest sample
    EXPECT_EQ(parseSamplesOrSeconds("2s", 44100, "--tmin").value, 88200);
    EXPECT_EQ(parseSamplesOrSeconds("0", 1, "x").value, 0);
    for (const char* bad : {"", "s", "1.5", "-3", "-0.1s", "3x", "1e3", "nans", "infs", "99999999999999999999"}) {
        const auto r = parseSamplesOrSeconds(bad, 1000, "--tmax");
        EXPECT_FALSE(r.ok()) << bad;
        EXPECT_THAT(r.error, HasSubstr("--tmax: ")) << bad;
    }
    const auto range = parseSampleRange("1s:3000", 1000, "--plot-range");
    ASSERT_TRUE(range.ok()) << range.error;
    EXPECT_EQ(range.value.first, 1000);
    EXPECT_EQ(range.value.last, 3000);
    EXPECT_THAT(parseSampleRange("5:5", 1, "--plot-range").error, HasSubstr("must end after it starts"));
    EXPECT_THAT(parseSampleRange("5", 1, "--plot-range").error, HasSubstr("expected A:B"));
}

// Several channels: each read as the single reader reads it, side by side in the order named;
// every way of naming them that is wrong is refused before anything is kept.
TEST(Channels, TextColumnsAndAudioChannelsSideBySideOrRefused) {
    TempDir dir;
    const auto table = dir.write("t.csv", "ecg,resp,emg\n1,10,100\n2,20,200\n3,30,300\n");
    const auto stereo = dir.file("s.wav");
    writeAudio(stereo, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 1000, {1, -1, 7, 2, -2, 8, 3, -3, 9});
    const auto read = [](const std::string& path, const char* columns, const char* channels) {
        SignalReadOptions o;
        if (columns) o.columns = columns;
        if (channels) o.channels = channels;
        return readSignal(path, o);
    };
    struct Case {
        std::string path;
        const char *columns, *channels;
        std::vector<float> samples;
        std::vector<std::string> names;
    };
    const Case good[] = {
            {table, "all", nullptr, {1, 2, 3, 10, 20, 30, 100, 200, 300}, {"ecg", "resp", "emg"}},
            {table, "emg,1", nullptr, {100, 200, 300, 1, 2, 3}, {"emg", "ecg"}},
            {table, "2", nullptr, {10, 20, 30}, {"resp"}},
            {stereo, nullptr, "all", {1, 2, 3, -1, -2, -3, 7, 8, 9}, {"1", "2", "3"}},
            {stereo, nullptr, "3,1", {7, 8, 9, 1, 2, 3}, {"3", "1"}},
    };
    for (const Case& c : good) {
        const auto r = read(c.path, c.columns, c.channels);
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(r.value.samples, c.samples);
        EXPECT_EQ(r.value.channels, static_cast<int>(c.names.size()));
        EXPECT_EQ(r.value.channelNames, c.names);
        EXPECT_EQ(r.value.length(), 3);
        EXPECT_EQ(r.value.channel(r.value.channels - 1).front(), c.samples[c.samples.size() - 3]);
    }
    const Case bad[] = {
            {table, "1,ecg", nullptr, {}, {"--columns: \"ecg\" is chosen twice"}},
            {table, "1,,2", nullptr, {}, {"--columns: an empty entry"}},
            {table, "1,pulse", nullptr, {}, {"no column named \"pulse\""}},
            {table, "4", nullptr, {}, {"no column 4 (the file has 3 columns)"}},
            {table, nullptr, "1", {}, {"channels apply to audio files"}},
            {stereo, "1", nullptr, {}, {"columns apply to text files"}},
            {stereo, nullptr, "1,4", {}, {"no channel 4 (the file has 3 channels)"}},
            {stereo, nullptr, "x", {}, {"--channels: expected \"all\" or channel numbers"}},
            {stereo, "1", "1", {}, {"columns and channels cannot both be chosen"}},
    };
    for (const Case& c : bad) {
        const auto r = read(c.path, c.columns, c.channels);
        EXPECT_FALSE(r.ok());
        EXPECT_THAT(r.error, HasSubstr(c.names[0]));
    }
    SignalReadOptions both;
    both.columns = "all";
    both.column = "1";
    EXPECT_THAT(errorOf(table, both), HasSubstr("leave out the single column"));
}
