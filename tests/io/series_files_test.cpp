#include "io/series_files.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "io/file_batch.h"
#include "io/signal_reader.h"
#include "model/random.h"
#include "tests/io/temp_dir.h"

namespace {
using ::testing::HasSubstr;

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A noisy series of cut-off pulses, as the workbench makes one, with loud noise.
class SeriesFiles : public ::testing::Test {
protected:
    void SetUp() override {
        SeedCells seeds;
        ASSERT_EQ(buildAlphabet(sink, 128, 20, 20, alphabet, seeds.alphabetSeed), 1);
        std::vector<uint16_t> sequence{1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20};
        sequence.resize(40, 1);
        header = getCutOffSeries(sink, 20, alphabet, 20, 40, 181, 1200, 12, sequence, 128, 75, nullptr, seeds);
        ASSERT_NE(header, nullptr);
        int16_t seed = 5;
        ASSERT_EQ(addNoise(sink, header.get(), 9000, seed), 1);
        ASSERT_TRUE(sink.messages.empty());
        noisy.assign(header->lpNoisyData, header->lpNoisyData + header->dwSeriesSize);
    }
    void TearDown() override {
        freeSeriesHeader(std::move(header));
        releaseAlphabet(20, alphabet);
    }

    RecordingMessageSink sink;
    Alphabet alphabet;
    std::unique_ptr<SeriesHeader> header;
    std::vector<int16_t> noisy;
    TempDir dir;
};
}  // namespace

TEST_F(SeriesFiles, TextAndWavReadBackAsExactlyTheSamples) {
    noisy[0] = -32768;  // the extremes of the range
    noisy[1] = 32767;
    FileBatch batch;
    ASSERT_TRUE(writeSamplesCsv(batch, dir.file("s.csv"), noisy).ok());
    ASSERT_TRUE(writeSamplesWav(batch, dir.file("s.wav"), noisy).ok());
    ASSERT_TRUE(writeSamplesWav(batch, dir.file("r.wav"), noisy, 8000).ok());
    ASSERT_TRUE(batch.commit().ok());
    const std::vector<float> expected(noisy.begin(), noisy.end());
    for (const char* name : {"s.csv", "s.wav", "r.wav"}) {
        const auto r = readSignal(dir.file(name));
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(r.value.samples, expected) << name;
    }
    EXPECT_EQ(readSignal(dir.file("s.wav")).value.rate, 1.0);
    EXPECT_EQ(readSignal(dir.file("r.wav")).value.rate, 8000.0);
    EXPECT_EQ(contentOf(dir.file("s.csv")).substr(0, 7), "sample\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"r.wav", "s.csv", "s.wav"}));
}

TEST_F(SeriesFiles, TheTruthHoldsOneRowPerPulse) {
    FileBatch batch;
    ASSERT_TRUE(writeSeriesTruthCsv(batch, dir.file("t.csv"), *header).ok());
    ASSERT_TRUE(batch.commit().ok());
    std::ostringstream expected;
    expected << "position,etalon,cutStart,cutEnd\n";
    for (int j = 0; j < header->wImpulseQuantity; ++j)
        expected << header->lpTruePosition[j] << ',' << header->lpTrueEtalon[j] << ',' << header->lpTrueCutStart[j]
                 << ',' << header->lpTrueCutEnd[j] << '\n';
    EXPECT_EQ(contentOf(dir.file("t.csv")), expected.str());
    EXPECT_EQ(header->wImpulseQuantity, 12);
}

TEST_F(SeriesFiles, AFailedWriteLeavesNothingAndNamesThePathAndTheReason) {
    const std::string old = dir.write("old.csv", "keep me\n");
    const std::string nowhere = dir.file("no/such/dir/s.wav");
    {
        FileBatch batch;
        ASSERT_TRUE(writeSamplesCsv(batch, old, noisy).ok());
        EXPECT_EQ(writeSamplesWav(batch, nowhere, noisy).error, "cannot write " + nowhere + ": No such file or directory");
        EXPECT_EQ(writeSamplesWav(batch, dir.file("x.wav"), noisy, 0).error,
                  "cannot write " + dir.file("x.wav") + ": the sample rate must be at least 1");
    }  // not committed: the batch removes what it wrote
    EXPECT_EQ(contentOf(old), "keep me\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"old.csv"});

    // A directory in the way: reported before anything is written, nothing left behind.
    std::filesystem::create_directory(dir.file("taken.csv"));
    std::filesystem::create_directory(dir.file("taken.csv/inside"));
    FileBatch batch;
    EXPECT_THAT(writeSamplesCsv(batch, dir.file("taken.csv"), noisy).error,
                HasSubstr("cannot write " + dir.file("taken.csv") + ": Is a directory"));
    EXPECT_TRUE(batch.commit().ok());
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"old.csv", "taken.csv"}));
    EXPECT_THAT(writeTextFileAtomically(dir.file("d/"), [](std::FILE*) {}).error, HasSubstr("Is a directory"));
}

TEST(WrittenFiles, AStreamErrorFailsTheWriteAndRemovesThePartialFile) {
    TempDir dir;
    // The descriptor under the stream goes away: the buffered text cannot reach the file.
    const auto status = writeTextFileAtomically(dir.file("lost.csv"), [](std::FILE* f) {
        std::fputs("sample\n1\n", f);
        ::close(::fileno(f));
    });
    EXPECT_EQ(status.error, "cannot write " + dir.file("lost.csv") + ": Bad file descriptor");
    EXPECT_TRUE(dir.entries().empty());
}

TEST(WrittenFiles, KeepTheUmaskPermissions) {
    TempDir dir;
    const mode_t previous = ::umask(022);
    const auto status = writeTextFileAtomically(dir.file("a.txt"), [](std::FILE* f) { std::fputs("x\n", f); });
    ::umask(previous);
    ASSERT_TRUE(status.ok()) << status.error;
    struct stat info {};
    ASSERT_EQ(::stat(dir.file("a.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}
