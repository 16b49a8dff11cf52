// The readers under damaged input: valid WAV, FLAC, Ogg, text and JSON files cut short, with
// bits flipped or emptied, a few hundred cases from a fixed seed. Every case must end in a
// signal of finite samples or in a message (valid UTF-8, naming the file), never in an abort,
// an exception or a leak (the suite runs under the sanitizers).

#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "io/shapes.h"
#include "io/signal_reader.h"
#include "model/text_format.h"
#include "tests/io/temp_dir.h"

namespace {

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAudio(const std::string& path, int format, const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_command(f, SFC_SET_NORM_FLOAT, nullptr, (format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS ? SF_TRUE : SF_FALSE);
    sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
}

// The damaged copies of `original`: emptied, cut at random lengths, bytes flipped.
std::vector<std::string> mutants(const std::string& original, std::mt19937& rng, int count) {
    std::vector<std::string> out{""};
    for (int k = 0; k < count; ++k) {
        std::string m = original;
        if (k % 2 == 0) {
            m.resize(std::uniform_int_distribution<size_t>(0, m.size() - 1)(rng));
        } else {
            const int flips = std::uniform_int_distribution<int>(1, 8)(rng);
            for (int f = 0; f < flips; ++f)
                m[std::uniform_int_distribution<size_t>(0, m.size() - 1)(rng)] ^=
                    static_cast<char>(1 << std::uniform_int_distribution<int>(0, 7)(rng));
        }
        out.push_back(std::move(m));
    }
    return out;
}

TEST(ReaderFuzz, DamagedFilesGiveSignalsOrMessagesNeverAnAbort) {
    TempDir dir;
    std::vector<float> samples;
    for (int i = 0; i < 6000; ++i) samples.push_back(std::round(6000 * std::sin(i * 0.07) + 300 * std::sin(i * 1.3)));
    std::vector<float> unit(samples);
    for (float& v : unit) v /= 32768;
    writeAudio(dir.file("a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples);
    writeAudio(dir.file("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, samples);
    writeAudio(dir.file("a.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, unit);
    std::string table = "time,ecg,resp\n";
    for (int i = 0; i < 300; ++i) table += std::to_string(i) + "," + std::to_string(samples[i]) + ",0.5\n";
    std::ofstream(dir.file("a.csv"), std::ios::binary) << table;
    std::ofstream(dir.file("s.json"), std::ios::binary)
        << R"({"etalons": [{"name": "beat", "samples": [0, 1.5, 3, 2, -1, -0.5]}, {"name": "b\u00f8", "samples": [1, 2, 3, 4, 5, 6]}]})";
    std::ofstream(dir.file("s.csv"), std::ios::binary) << "beat,dip\n0,0\n1,-1\n3,-3\n2,-2\n-1,1\n0,0\n";

    std::mt19937 rng(2207);
    int cases = 0, refused = 0;
    for (const char* name : {"a.wav", "a.flac", "a.ogg", "a.csv", "s.json", "s.csv"}) {
        const std::string original = contentOf(dir.file(name));
        const bool shapes = name[0] == 's';
        for (const std::string& mutant : mutants(original, rng, 60)) {
            const std::string path = dir.write(std::string("m-") + name, mutant);
            std::string error;
            if (shapes) {
                const auto r = readShapes(path);
                error = r.error;
                if (r) {
                    for (const Shape& s : r.value)
                        for (const double v : s.samples) ASSERT_TRUE(std::isfinite(v)) << name << " case " << cases;
                }
            } else {
                SignalReadOptions options;
                if (name == std::string("a.csv")) options.column = "ecg";
                const auto r = readSignal(path, options);
                error = r.error;
                if (r) {
                    ASSERT_FALSE(r.value.samples.empty());
                    for (const float v : r.value.samples) ASSERT_TRUE(std::isfinite(v)) << name << " case " << cases;
                }
            }
            if (!error.empty()) {
                ++refused;
                EXPECT_NE(error.find(path), std::string::npos) << error;
                EXPECT_EQ(invalidUtf8Offset(error), -1) << error;
            }
            ++cases;
        }
    }
    EXPECT_EQ(cases, 6 * 61);
    EXPECT_GT(refused, cases / 3);
}

}  // namespace
