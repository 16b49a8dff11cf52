#include "export/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>
#include <string_view>

#include "core/version.h"

namespace {

void putBe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// One chunk: length, type, data, and the CRC-32 of type and data.
void putChunk(std::vector<uint8_t>& out, const char (&type)[5], const uint8_t* data, std::size_t size) {
    putBe32(out, static_cast<uint32_t>(size));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data() + typeAt, static_cast<uInt>(4 + size));
    putBe32(out, static_cast<uint32_t>(crc));
}

// Deflates the rows of `image` (each a filter byte 0 and the red, green, blue bytes of its
// pixels) into one zlib stream.
std::optional<std::vector<uint8_t>> deflateRows(const SnapshotImage& image) {
    const std::size_t width = static_cast<std::size_t>(image.width);
    if (width > (std::numeric_limits<uInt>::max() - 1) / 3) return std::nullopt;
    z_stream stream{};
    if (deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK) return std::nullopt;
    std::optional<std::vector<uint8_t>> result;
    try {
        std::vector<uint8_t> row(1 + 3 * width);
        std::vector<uint8_t> chunk(pngIdatChunkSize);
        std::vector<uint8_t> compressed;
        bool ok = true;
        for (int32_t y = 0; ok && y < image.height; ++y) {
            const uint32_t* pixel = image.pixels.data() + width * static_cast<std::size_t>(y);
            row[0] = 0;
            for (std::size_t x = 0; x < width; ++x) {
                row[1 + 3 * x] = static_cast<uint8_t>(pixel[x] >> 16);
                row[2 + 3 * x] = static_cast<uint8_t>(pixel[x] >> 8);
                row[3 + 3 * x] = static_cast<uint8_t>(pixel[x]);
            }
            stream.next_in = row.data();
            stream.avail_in = static_cast<uInt>(row.size());
            const int flush = y + 1 == image.height ? Z_FINISH : Z_NO_FLUSH;
            do {
                stream.next_out = chunk.data();
                stream.avail_out = static_cast<uInt>(chunk.size());
                const int rc = deflate(&stream, flush);
                if (rc == Z_STREAM_ERROR || (flush == Z_FINISH && rc != Z_STREAM_END && stream.avail_out != 0)) {
                    ok = false;
                    break;
                }
                compressed.insert(compressed.end(), chunk.data(), chunk.data() + (chunk.size() - stream.avail_out));
            } while (stream.avail_out == 0);
        }
        if (ok) result = std::move(compressed);
    } catch (const std::bad_alloc&) {
        result.reset();
    }
    deflateEnd(&stream);
    return result;
}

} // namespace

std::optional<std::vector<uint8_t>> encodePng(const SnapshotImage& image) {
    if (!hasAllPixels(image)) return std::nullopt;
    std::optional<std::vector<uint8_t>> data = deflateRows(image);
    if (!data) return std::nullopt;
    try {
        std::vector<uint8_t> png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        std::vector<uint8_t> header;
        putBe32(header, static_cast<uint32_t>(image.width));
        putBe32(header, static_cast<uint32_t>(image.height));
        // 8 bits per sample, colour type 2 (RGB), deflate, adaptive filtering, no interlace.
        header.insert(header.end(), {8, 2, 0, 0, 0});
        putChunk(png, "IHDR", header.data(), header.size());
        // The maker of the picture, as a text chunk: keyword, a zero byte, the text.
        const std::string_view software = pulsebenchSoftware;
        std::vector<uint8_t> text{'S', 'o', 'f', 't', 'w', 'a', 'r', 'e', 0};
        text.insert(text.end(), software.begin(), software.end());
        putChunk(png, "tEXt", text.data(), text.size());
        for (std::size_t at = 0; at < data->size(); at += pngIdatChunkSize)
            putChunk(png, "IDAT", data->data() + at, std::min(pngIdatChunkSize, data->size() - at));
        putChunk(png, "IEND", nullptr, 0);
        return png;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}
