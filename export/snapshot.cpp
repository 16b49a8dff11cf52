#include "export/snapshot.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <utility>

#include "io/output_file.h"
#include "model/text_format.h"
#include "export/png_writer.h"
#include "platform/shell.h"

namespace {

constexpr const char* kBitmapCaption = "About Bitmap";
constexpr const char* kPcxCaption = "About PCX";
constexpr const char* kPngCaption = "About PNG";

// File header (14 bytes) and information header (40 bytes); a 32-bit bitmap has no colour table.
constexpr uint32_t kBitmapHeadersSize = 14 + 40;
constexpr std::size_t kPcxHeaderSize = 128;

void putLe16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void putLe32(std::vector<uint8_t>& out, uint32_t value) {
    putLe16(out, value & 0xFFFF);
    putLe16(out, value >> 16);
}

void setLe16(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Writes a block of bytes to the file.
bool put(OutputFile& file, const std::vector<uint8_t>& bytes) {
    return file.write(bytes.data(), bytes.size());
}


// Run-length encodes one packed PCX row on its own: a run of k equal bytes (at most 63) is the
// byte itself when k is 1 and the byte is below 0xC0, else the count byte 0xC0 + k and the byte.
void encodePcxRow(const std::vector<uint8_t>& row, std::vector<uint8_t>& codes) {
    codes.clear();
    for (std::size_t i = 0; i < row.size();) {
        const uint8_t byte = row[i];
        std::size_t run = 1;
        while (run < 63 && i + run < row.size() && row[i + run] == byte) ++run;
        if (run == 1 && byte < 0xC0) {
            codes.push_back(byte);
        } else {
            codes.push_back(static_cast<uint8_t>(0xC0 + run));
            codes.push_back(byte);
        }
        i += run;
    }
}

} // namespace

bool hasAllPixels(const SnapshotImage& image) {
    return image.width > 0 && image.height > 0 &&
           image.pixels.size() == static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
}

std::optional<BitmapInfoHeader> makeBitmapInfo(MessageSink& sink, const SnapshotImage& image) {
    const uint64_t sizeImage =
        hasAllPixels(image) ? (static_cast<uint64_t>(image.width) + 7) / 8 * static_cast<uint64_t>(image.height) * 32 : 0;
    if (sizeImage == 0 || sizeImage > std::numeric_limits<uint32_t>::max() - kBitmapHeadersSize) {
        sink.messageBox("Проблемы при выполнении GetObject", kBitmapCaption, MessageIcon::None);
        return std::nullopt;
    }
    BitmapInfoHeader info;
    info.width = image.width;
    info.height = image.height;
    info.planes = 1;
    info.bitCount = 32;
    info.sizeImage = static_cast<uint32_t>(sizeImage);
    return info;
}

int writeBmpFile(MessageSink& sink, const std::string& fileName, const BitmapInfoHeader& info,
                 const SnapshotImage& image) {
    const auto fail = [&sink](const std::string& text) {
        sink.messageBox(text, kBitmapCaption, MessageIcon::None);
        return 0;
    };
    const uint64_t fileSize = uint64_t{kBitmapHeadersSize} + info.sizeImage;
    if (fileSize > std::numeric_limits<uint32_t>::max()) return fail("GlobalAlloc ERROR!");
    std::vector<uint8_t> bits;
    try {
        bits.assign(info.sizeImage, 0);
    } catch (const std::bad_alloc&) {
        return fail("GlobalAlloc ERROR!");
    }

    // The pixels in the layout the description asks for; only the image's own 32-bit layout
    // can be delivered.
    const std::size_t width = static_cast<std::size_t>(std::max(image.width, 0));
    const std::size_t height = static_cast<std::size_t>(std::max(image.height, 0));
    if (!hasAllPixels(image) || info.width != image.width || info.height != image.height || info.planes != 1 ||
        info.bitCount != 32 || info.compression != 0 || info.clrUsed != 0 || info.sizeImage < 4 * width * height)
        return fail("GetDIBits ERROR!");
    for (std::size_t row = 0; row < height; ++row) {
        const uint32_t* pixel = image.pixels.data() + width * (height - 1 - row);
        uint8_t* out = bits.data() + 4 * width * row;
        for (std::size_t x = 0; x < width; ++x, out += 4) {
            out[0] = static_cast<uint8_t>(pixel[x]);
            out[1] = static_cast<uint8_t>(pixel[x] >> 8);
            out[2] = static_cast<uint8_t>(pixel[x] >> 16);
        }
    }

    OutputFile file(fileName);
    if (!file.isOpen()) return fail("CreateFile ERROR!\n" + file.error());
    std::vector<uint8_t> fileHeader{'B', 'M'};
    putLe32(fileHeader, static_cast<uint32_t>(fileSize));
    putLe32(fileHeader, 0);  // two reserved words
    putLe32(fileHeader, kBitmapHeadersSize);
    if (!put(file, fileHeader)) return fail("ERROR while writing BITMAPFILEHEADER!\n" + file.error());
    std::vector<uint8_t> infoHeader;
    for (uint32_t value : {info.size, static_cast<uint32_t>(info.width), static_cast<uint32_t>(info.height)})
        putLe32(infoHeader, value);
    putLe16(infoHeader, info.planes);
    putLe16(infoHeader, info.bitCount);
    for (uint32_t value : {info.compression, info.sizeImage, static_cast<uint32_t>(info.xPelsPerMeter),
                           static_cast<uint32_t>(info.yPelsPerMeter), info.clrUsed, info.clrImportant})
        putLe32(infoHeader, value);
    if (!put(file, infoHeader)) return fail("ERROR while writing BITMAPINFOHEADER!\n" + file.error());
    if (!put(file, bits)) return fail("ERROR while writing bitmap bits!\n" + file.error());
    if (!file.commit()) return fail("CloseHandle ERROR!\n" + file.error());
    return 1;
}

int writePcxFile(MessageSink& sink, const std::string& fileName, const SnapshotImage& image) {
    const auto fail = [&sink](const std::string& text) {
        sink.messageBox(text, kPcxCaption, MessageIcon::None);
        return 0;
    };
    // The header holds the last column and row in 16 bits each.
    if (!hasAllPixels(image) || image.width > 65536 || image.height > 65536)
        return fail("Snapshot image cannot be written as PCX!");
    const std::size_t width = static_cast<std::size_t>(image.width);
    const std::size_t bytesPerLine = (width + 31) / 32 * 4;
    std::vector<uint8_t> row, codes;
    try {
        row.resize(bytesPerLine);
    } catch (const std::bad_alloc&) {
        return fail("Нет памяти для буфера строки!");
    }
    try {
        codes.reserve(2 * bytesPerLine);  // the worst case: every byte needs a count byte
    } catch (const std::bad_alloc&) {
        return fail("Нет памяти для кодов строки!");
    }

    OutputFile file(fileName);
    if (!file.isOpen()) return fail("CreateFile ERROR!\n" + file.error());
    const uint32_t background = image.background & 0x00FFFFFF;
    std::vector<uint8_t> header(kPcxHeaderSize, 0);
    header[0] = 0x0A;
    header[1] = 5;   // version
    header[2] = 1;   // run-length encoded
    header[3] = 1;   // bits per pixel
    setLe16(header, 8, static_cast<uint32_t>(image.width - 1));
    setLe16(header, 10, static_cast<uint32_t>(image.height - 1));
    setLe16(header, 12, 640);
    setLe16(header, 14, 480);
    // Colour map: entry 0 black, entry 1 the background.
    header[16 + 3] = static_cast<uint8_t>(background >> 16);
    header[16 + 4] = static_cast<uint8_t>(background >> 8);
    header[16 + 5] = static_cast<uint8_t>(background);
    header[65] = 1;  // colour planes
    setLe16(header, 66, static_cast<uint32_t>(bytesPerLine));
    setLe16(header, 68, 1);  // palette information
    if (!put(file, header)) return fail("ERROR while writing PCXHEADER!\n" + file.error());

    for (int32_t y = 0; y < image.height; ++y) {
        // Leftmost pixel in the top bit; positions past the width stay background (1).
        std::fill(row.begin(), row.end(), uint8_t{0xFF});
        const uint32_t* pixel = image.pixels.data() + width * static_cast<std::size_t>(y);
        for (std::size_t x = 0; x < width; ++x)
            if ((pixel[x] & 0x00FFFFFF) != background) row[x / 8] &= static_cast<uint8_t>(~(0x80u >> (x % 8)));
        encodePcxRow(row, codes);
        if (!put(file, codes)) return fail("ERROR while writing PCX codes!\n" + file.error());
    }
    if (!file.commit()) return fail("CloseHandle ERROR!\n" + file.error());
    return 1;
}

int writePngFile(MessageSink& sink, const std::string& fileName, const SnapshotImage& image) {
    const auto fail = [&sink](const std::string& text) {
        sink.messageBox(text, kPngCaption, MessageIcon::None);
        return 0;
    };
    if (!hasAllPixels(image)) return fail("Snapshot image cannot be written as PNG!");
    // Encoded before the file is created, so that a failure leaves no empty file behind.
    const std::optional<std::vector<uint8_t>> png = encodePng(image);
    if (!png) return fail("ERROR while compressing PNG data!");
    OutputFile file(fileName);
    if (!file.isOpen()) return fail("CreateFile ERROR!\n" + file.error());
    if (!put(file, *png)) return fail("ERROR while writing PNG data!\n" + file.error());
    if (!file.commit()) return fail("CloseHandle ERROR!\n" + file.error());
    return 1;
}

std::optional<std::string> chooseSnapshotFile(Shell& shell) {
    std::optional<std::string> name = shell.chooseSaveFile("Snapshot File Name");
    if (!name || name->empty()) return std::nullopt;
    const std::size_t separator = name->find_last_of("/\\");
    const std::size_t lastComponent = separator == std::string::npos ? 0 : separator + 1;
    if (name->find('.', lastComponent) == std::string::npos) *name += ".bmp";
    return name;
}

int MakeSnapshot(Shell& shell, const SnapshotImage& image) {
    const std::optional<std::string> chosen = chooseSnapshotFile(shell);
    // Cancelled, or a file name (without its folder) too short to hold anything before the
    // ending, such as ".bmp" alone: nothing is written.
    if (!chosen) return 1;
    const size_t slash = chosen->find_last_of("/\\");
    const size_t nameLength = slash == std::string::npos ? chosen->size() : chosen->size() - slash - 1;
    if (nameLength <= 4) return 1;
    const std::string& name = *chosen;
    if (endsWithIgnoringCase(name, ".pcx")) {
        if (!writePcxFile(shell, name, image))
            shell.messageBox("PCX file is not created", kBitmapCaption, MessageIcon::None);
    } else if (endsWithIgnoringCase(name, ".bmp")) {
        const std::optional<BitmapInfoHeader> info = makeBitmapInfo(shell, image);
        if (!info || !writeBmpFile(shell, name, *info, image))
            shell.messageBox("Bitmap file is not created", kBitmapCaption, MessageIcon::None);
    } else if (endsWithIgnoringCase(name, ".png")) {
        if (!writePngFile(shell, name, image))
            shell.messageBox("PNG file is not created", kBitmapCaption, MessageIcon::None);
    } else {
        shell.messageBox("Image file is not created: the name must end in \".bmp\", \".pcx\" or \".png\"",
                         kBitmapCaption, MessageIcon::None);
    }
    return 1;
}
