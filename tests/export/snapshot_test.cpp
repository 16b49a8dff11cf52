#include "export/snapshot.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <csignal>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/version.h"
#include "export/png_writer.h"
#include "platform/shell.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Bytes [from, to) of `b`, cut short where `b` ends.
Bytes slice(const Bytes& b, std::size_t from, std::size_t to) {
    to = std::min(to, b.size());
    return Bytes(b.begin() + std::min(from, to), b.begin() + to);
}

// Little-endian fields {value, size in bytes} laid end to end.
Bytes le(std::initializer_list<std::pair<uint32_t, int>> fields) {
    Bytes out;
    for (auto [value, size] : fields)
        for (int i = 0; i < size; ++i) out.push_back(uint8_t(value >> 8 * i));
    return out;
}

uint32_t be32(const Bytes& b, std::size_t at) {
    return uint32_t{b.at(at)} << 24 | uint32_t{b.at(at + 1)} << 16 | uint32_t{b.at(at + 2)} << 8 | b.at(at + 3);
}

SnapshotImage filled(int32_t width, int32_t height, uint32_t colour) {
    return {width, height, std::vector<uint32_t>(static_cast<std::size_t>(width) * height, colour)};
}

// Records message boxes as "caption|text" ("|warning" added for a warning icon) and answers the
// save dialog from a script, one answer per call.
class FakeShell : public Shell {
public:
    std::vector<std::optional<std::string>> answers;
    std::vector<std::string> titles, messages;

    void messageBox(const std::string& text, const std::string& caption, MessageIcon icon) override {
        messages.push_back(caption + "|" + text + (icon == MessageIcon::Warning ? "|warning" : ""));
    }
    std::optional<std::string> chooseSaveFile(const std::string& title) override {
        titles.push_back(title);
        return answers.at(titles.size() - 1);
    }
    // The snapshot uses nothing else of the window.
    void invalidate(const Rect*, bool) override {}
    void sendCommand(int) override {}
    void checkMenuItem(int, bool) override {}
    DialogResult runDialog(const DialogForm&) override { return {}; }
    void close() override {}
    void setCapture(bool) override {}
    void setCursor(CursorShape) override {}
    void moveEdit(const Rect&) override {}
    void setEditText(const std::string&) override {}
    std::string editText() override { return {}; }
    using Work = std::function<int(const std::function<void(int, int)>&, const std::atomic<bool>&)>;
    int runWithProgress(const std::string&, const Work&) override { return 0; }
};

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "snapshot_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir;
    FakeShell shell;
    const std::string missing = path("no/such/dir/out");  // a file that cannot be created
};

class BmpFile : public ExportTest {};
class PcxFile : public ExportTest {};
class PngFile : public ExportTest {};
class Snapshot : public ExportTest {};

} // namespace

TEST_F(BmpFile, HeadersDescribeA32BitBottomUpImageWithItsPaddedSizeImage) {
    const SnapshotImage image = filled(100, 3, 0xFFFFFF);
    ASSERT_EQ(writeBmpFile(shell, path("a.bmp"), *makeBitmapInfo(shell, image), image), 1);
    const Bytes b = readFile(path("a.bmp"));
    const uint32_t sizeImage = 13 * 3 * 32;  // ((100 + 7) / 8) · height · 32: 48 bytes past the rows
    ASSERT_EQ(b.size(), 54 + sizeImage);
    EXPECT_EQ(slice(b, 0, 54), le({{0x4D42, 2}, {54 + sizeImage, 4}, {0, 4}, {54, 4},  // file header
                                   {40, 4}, {100, 4}, {3, 4}, {1, 2}, {32, 2}, {0, 4}, {sizeImage, 4},
                                   {0, 4}, {0, 4}, {0, 4}, {0, 4}}));
    EXPECT_EQ(slice(b, 54 + 1200, b.size()), Bytes(sizeImage - 1200, 0));
    EXPECT_TRUE(shell.messages.empty());
}

TEST_F(BmpFile, PixelsReadBackBottomRowFirstAsBlueGreenRedZeroReplacingAnOlderFile) {
    std::ofstream(path("a.bmp")) << std::string(5000, 'x');
    const SnapshotImage image{3, 2, {0x112233, 0xFF445566, 0x778899, 0xAABBCC, 0x00DDEEFF, 0xFF010203}};
    ASSERT_EQ(writeBmpFile(shell, path("a.bmp"), *makeBitmapInfo(shell, image), image), 1);
    const Bytes b = readFile(path("a.bmp"));
    Bytes rows = le({{0xAABBCC, 4}, {0xDDEEFF, 4}, {0x010203, 4}, {0x112233, 4}, {0x445566, 4}, {0x778899, 4}});
    rows.resize(1 * 2 * 32);
    EXPECT_EQ(slice(b, 54, b.size()), rows);
}

TEST_F(BmpFile, EachFailedStepReportsItselfAndGivesZero) {
    EXPECT_FALSE(makeBitmapInfo(shell, {2, 2, {1, 2, 3}}));
    EXPECT_FALSE(makeBitmapInfo(shell, {0, 0, {}}));
    const SnapshotImage image = filled(4, 4, 0);
    EXPECT_EQ(writeBmpFile(shell, path("a.bmp"), *makeBitmapInfo(shell, filled(5, 4, 0)), image), 0);
    EXPECT_EQ(writeBmpFile(shell, missing, *makeBitmapInfo(shell, image), image), 0);
    EXPECT_EQ(writeBmpFile(shell, "/dev/full", *makeBitmapInfo(shell, image), image), 0);
    EXPECT_EQ(shell.messages, (std::vector<std::string>{
                                  "About Bitmap|Проблемы при выполнении GetObject",
                                  "About Bitmap|Проблемы при выполнении GetObject", "About Bitmap|GetDIBits ERROR!",
                                  "About Bitmap|CreateFile ERROR!\nno/such/dir/out: No such file or directory",
                                  "About Bitmap|ERROR while writing BITMAPFILEHEADER!\n/dev/full: No space left on device"}));
    EXPECT_TRUE(files().empty());
}

TEST_F(PcxFile, HeaderOfAWidth100ImageHasSixteenBytesPerLineAndTheBackgroundAsColourOne) {
    SnapshotImage image = filled(100, 2, 0xFF102030);  // the top byte plays no part
    image.background = 0x102030;
    ASSERT_EQ(writePcxFile(shell, path("a.pcx"), image), 1);
    const Bytes b = readFile(path("a.pcx"));
    Bytes header = le({{0x0A, 1}, {5, 1}, {1, 1}, {1, 1}, {0, 2}, {0, 2}, {99, 2}, {1, 2}, {640, 2}, {480, 2},
                       {0, 3}, {0x302010, 3}});
    header.resize(65);
    for (uint8_t byte : le({{1, 1}, {16, 2}, {1, 2}})) header.push_back(byte);
    header.resize(128);
    header.insert(header.end(), {0xD0, 0xFF, 0xD0, 0xFF});  // each background row on its own
    EXPECT_EQ(b, header);
}

TEST_F(PcxFile, RowsAreRunLengthEncodedInRunsOfAtMost63) {
    const uint32_t white = 0xFFFFFF;
    SnapshotImage image = filled(100, 3, white);
    for (int x : {2, 3, 4, 6}) image.pixels[x] = 0x000001;        // row 0 starts with 11000101 = C5
    for (int x : {0, 1, 10, 11, 12, 13, 14, 15}) image.pixels[100 + x] = 0xFFFFFE;  // row 1: 3F C0
    for (int x = 0; x < 100; ++x) image.pixels[200 + x] = 0;         // row 2: 96 black, then 0F
    ASSERT_EQ(writePcxFile(shell, path("a.pcx"), image), 1);
    const Bytes a = readFile(path("a.pcx"));
    EXPECT_EQ(slice(a, 128, a.size()),
              (Bytes{0xC1, 0xC5, 0xCF, 0xFF, 0x3F, 0xC1, 0xC0, 0xCE, 0xFF, 0xCC, 0x00, 0x0F, 0xC3, 0xFF}));

    // 544 pixels: 68 bytes of background split into a run of 63 (count byte FF) and one of 5.
    ASSERT_EQ(writePcxFile(shell, path("b.pcx"), filled(544, 1, white)), 1);
    const Bytes b = readFile(path("b.pcx"));
    EXPECT_EQ(slice(b, 66, 68), (Bytes{68, 0}));
    EXPECT_EQ(slice(b, 128, b.size()), (Bytes{0xFF, 0xFF, 0xC5, 0xFF}));
    EXPECT_TRUE(shell.messages.empty());
}

TEST_F(PcxFile, EachFailedStepReportsItselfAndGivesZero) {
    EXPECT_EQ(writePcxFile(shell, path("a.pcx"), {3, 1, {0, 0}}), 0);
    EXPECT_EQ(writePcxFile(shell, path("a.pcx"), filled(65537, 1, 0)), 0);
    EXPECT_EQ(writePcxFile(shell, missing, filled(4, 4, 0)), 0);
    EXPECT_EQ(writePcxFile(shell, "/dev/full", filled(4, 4, 0)), 0);
    EXPECT_EQ(shell.messages, (std::vector<std::string>{"About PCX|Snapshot image cannot be written as PCX!",
                                                        "About PCX|Snapshot image cannot be written as PCX!",
                                                        "About PCX|CreateFile ERROR!\nno/such/dir/out: No such file or directory",
                                                        "About PCX|ERROR while writing PCXHEADER!\n/dev/full: No space left on device"}));
    EXPECT_TRUE(files().empty());
}

namespace {
using Chunk = std::pair<std::string, Bytes>;  // type and data

// Splits a PNG file into its chunks, checking the signature, every CRC and that nothing trails.
std::vector<Chunk> chunksOf(const Bytes& png) {
    EXPECT_EQ(slice(png, 0, 8), (Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
    std::vector<Chunk> chunks;
    for (std::size_t at = 8; at < png.size();) {
        const std::size_t length = be32(png, at);
        const Bytes typeAndData = slice(png, at + 4, at + 8 + length);
        EXPECT_EQ(be32(png, at + 8 + length), crc32(0, typeAndData.data(), typeAndData.size())) << "at " << at;
        const Bytes type = slice(typeAndData, 0, 4);
        chunks.push_back({std::string(type.begin(), type.end()), slice(typeAndData, 4, 4 + length)});
        at += 12 + length;
        EXPECT_LE(at, png.size());
    }
    return chunks;
}

// Noise that does not compress, so that the stream needs several IDAT chunks.
SnapshotImage noise(int32_t width, int32_t height) {
    SnapshotImage image = filled(width, height, 0);
    uint32_t state = 12345;
    for (uint32_t& p : image.pixels) p = (state = state * 1664525 + 1013904223) >> 8 | 0xFF000000;
    return image;
}
} // namespace

TEST_F(PngFile, ChunksWithCorrectCrcsCarryTheRowsUnfilteredAsRgb) {
    for (const SnapshotImage& image : {noise(200, 150), filled(1, 1, 0x123456), filled(7, 3, 0xFFFFFF)}) {
        ASSERT_EQ(writePngFile(shell, path("a.png"), image), 1);
        const std::vector<Chunk> chunks = chunksOf(readFile(path("a.png")));
        ASSERT_GE(chunks.size(), 3u);
        EXPECT_EQ(chunks.front(), Chunk("IHDR", {0, 0, 0, uint8_t(image.width), 0, 0, 0, uint8_t(image.height), 8, 2, 0, 0, 0}));
        EXPECT_EQ(chunks.back(), Chunk("IEND", {}));
        const std::string software = std::string("Software") + '\0' + pulsebenchSoftware;
        EXPECT_EQ(chunks[1], Chunk("tEXt", Bytes(software.begin(), software.end())));
        Bytes stream;
        for (std::size_t i = 2; i + 1 < chunks.size(); ++i) {
            EXPECT_EQ(chunks[i].first, "IDAT");
            EXPECT_LE(chunks[i].second.size(), pngIdatChunkSize);
            stream.insert(stream.end(), chunks[i].second.begin(), chunks[i].second.end());
        }
        if (image.width == 200) {
            EXPECT_GE(chunks.size(), 4u);  // the noise needs several IDAT chunks
        }
        Bytes expected;
        for (int y = 0; y < image.height; ++y) {
            expected.push_back(0);
            for (int x = 0; x < image.width; ++x) {
                const uint32_t p = image.pixels[y * image.width + x];
                expected.insert(expected.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
            }
        }
        Bytes raw(expected.size() + 1);
        uLongf size = raw.size();
        ASSERT_EQ(uncompress(raw.data(), &size, stream.data(), stream.size()), Z_OK);
        raw.resize(size);
        EXPECT_EQ(raw, expected);
    }
}

TEST_F(PngFile, EachFailedStepReportsItselfAndGivesZero) {
    EXPECT_EQ(writePngFile(shell, path("a.png"), {2, 2, {0}}), 0);
    EXPECT_EQ(writePngFile(shell, missing, filled(4, 4, 0)), 0);
    EXPECT_EQ(writePngFile(shell, "/dev/full", filled(4, 4, 0)), 0);
    EXPECT_EQ(shell.messages, (std::vector<std::string>{"About PNG|Snapshot image cannot be written as PNG!",
                                                        "About PNG|CreateFile ERROR!\nno/such/dir/out: No such file or directory",
                                                        "About PNG|ERROR while writing PNG data!\n/dev/full: No space left on device"}));
    EXPECT_TRUE(files().empty());
}

TEST_F(Snapshot, NameWithoutExtensionGetsBmpOnlyInItsLastComponent) {
    fs::create_directory(dir / "v1.2");
    shell.answers = {path("v1.2/snap"), path("v1.2/snap.x"), path("v1.2/.hidden")};
    EXPECT_EQ(chooseSnapshotFile(shell), path("v1.2/snap.bmp"));
    EXPECT_EQ(chooseSnapshotFile(shell), path("v1.2/snap.x"));
    EXPECT_EQ(chooseSnapshotFile(shell), path("v1.2/.hidden"));
}

TEST_F(Snapshot, EndingPicksTheFormatIgnoringCase) {
    shell.answers = {path("snap"), path("a.PCX"), path("b.Bmp"), path("c.pNg")};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(MakeSnapshot(shell, filled(8, 8, 0)), 1);
    EXPECT_EQ(slice(readFile(path("snap.bmp")), 0, 2), (Bytes{'B', 'M'}));
    EXPECT_EQ(slice(readFile(path("a.PCX")), 0, 2), (Bytes{0x0A, 5}));
    EXPECT_EQ(slice(readFile(path("b.Bmp")), 0, 2), (Bytes{'B', 'M'}));
    EXPECT_EQ(slice(readFile(path("c.pNg")), 0, 4), (Bytes{0x89, 'P', 'N', 'G'}));
    EXPECT_TRUE(shell.messages.empty());
}

TEST_F(Snapshot, CancelEmptyChoiceAndNamesOfFourCharactersOrFewerWriteAndShowNothing) {
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    shell.answers = {std::nullopt, "", ".bmp", ".PCX", "a.pn", "abc"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(MakeSnapshot(shell, filled(8, 8, 0)), 1);
    fs::current_path(before);
    EXPECT_EQ(files(), std::vector<std::string>{"abc.bmp"});  // "abc" became seven characters long
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(shell.titles, std::vector<std::string>(6, "Snapshot File Name"));
}

TEST_F(Snapshot, AFileNameOfJustTheEndingWritesNothingInAnyFolder) {
    // The save dialog gives whole paths: the rule applies to the name without its folder.
    shell.answers = {path(".bmp"), path(".PCX"), path(".png"), path("a.bm"), path("ab.bmp")};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(MakeSnapshot(shell, filled(8, 8, 0)), 1);
    EXPECT_EQ(files(), std::vector<std::string>{"ab.bmp"});
    EXPECT_TRUE(shell.messages.empty());
}

TEST_F(Snapshot, OtherEndingWritesNothingAndNamesTheEndingsWritten) {
    shell.answers = {path("picture.gif")};
    EXPECT_EQ(MakeSnapshot(shell, filled(8, 8, 0)), 1);
    EXPECT_EQ(shell.messages, std::vector<std::string>{
                                  "About Bitmap|Image file is not created: the name must end in \".bmp\", \".pcx\" or \".png\""});
    EXPECT_TRUE(files().empty());
}

TEST_F(Snapshot, WriterFailureIsFollowedByFileNotCreated) {
    shell.answers = {missing + ".pcx", missing + ".bmp", missing + ".png", path("a.bmp")};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(MakeSnapshot(shell, filled(8, 8, 0)), 1);
    EXPECT_EQ(MakeSnapshot(shell, {}), 1);
    EXPECT_EQ(shell.messages, (std::vector<std::string>{
                                  "About PCX|CreateFile ERROR!\nno/such/dir/out.pcx: No such file or directory",
                                  "About Bitmap|PCX file is not created",
                                  "About Bitmap|CreateFile ERROR!\nno/such/dir/out.bmp: No such file or directory",
                                  "About Bitmap|Bitmap file is not created",
                                  "About PNG|CreateFile ERROR!\nno/such/dir/out.png: No such file or directory",
                                  "About Bitmap|PNG file is not created",
                                  "About Bitmap|Проблемы при выполнении GetObject", "About Bitmap|Bitmap file is not created"}));
    EXPECT_TRUE(files().empty());
}

// A file too large for the file-size limit fails in the middle of its pixels, as on a full disk:
// the message names the path and the reason, no partial file stays and an older file of the
// name is left whole.
TEST_F(BmpFile, AWriteFailingHalfwayLeavesNoPartialFileAndKeepsTheOlderOne) {
    std::ofstream(path("a.bmp")) << "older";
    std::ofstream(path("a.pcx")) << "older";
    struct rlimit before {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const SnapshotImage image = filled(200, 200, 0x123456);
    const int bmp = writeBmpFile(shell, path("a.bmp"), *makeBitmapInfo(shell, image), image);
    SnapshotImage noisy = filled(2000, 300, 0xFFFFFF);
    for (std::size_t i = 0; i < noisy.pixels.size(); i += 3) noisy.pixels[i] = 0;
    const int pcx = writePcxFile(shell, path("a.pcx"), noisy);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(bmp, 0);
    EXPECT_EQ(pcx, 0);
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(shell.messages[0], "About Bitmap|ERROR while writing bitmap bits!\n" + path("a.bmp") + ": File too large");
    EXPECT_EQ(shell.messages[1], "About PCX|ERROR while writing PCX codes!\n" + path("a.pcx") + ": File too large");
    std::vector<std::string> names = files();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.bmp", "a.pcx"}));
    EXPECT_EQ(readFile(path("a.bmp")), (Bytes{'o', 'l', 'd', 'e', 'r'}));
    EXPECT_EQ(readFile(path("a.pcx")), (Bytes{'o', 'l', 'd', 'e', 'r'}));
}
