#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/snapshot_image.h"
#include "model/message_sink.h"

class Shell;

/// The 40-byte information header of a bitmap file, field by field, in file order.
struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;            ///< positive: rows are stored bottom-up
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;      ///< 0: uncompressed
    uint32_t sizeImage = 0;        ///< bytes of pixel data that follow the headers
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;          ///< colour-table entries; none at 32 bits per pixel
    uint32_t clrImportant = 0;
};

/// The description of `image` as a 32-bit bitmap (one plane, the display's depth): its size,
/// no compression, image size ((width + 7) / 8) · height · 32, resolutions and colours 0.
/// An image without pixels (non-positive size, pixel count other than width × height) or too
/// large for a bitmap file reports "Проблемы при выполнении GetObject" (caption "About Bitmap")
/// and gives nothing.
std::optional<BitmapInfoHeader> makeBitmapInfo(MessageSink& sink, const SnapshotImage& image);

/// Writes `image` as a bitmap file of the layout `info` describes, replacing any existing file:
/// the 14-byte file header, the information header, then info.sizeImage bytes of rows, bottom
/// row first, 4 bytes (blue, green, red, 0) per pixel, zero after the last row. Returns 1, or 0
/// after one message (caption "About Bitmap") naming the step that failed, then the path and the
/// system's reason. The file appears only when complete (OutputFile): after a failure no partly
/// written file stays and an older file of that name is left as it was.
int writeBmpFile(MessageSink& sink, const std::string& fileName, const BitmapInfoHeader& info,
                 const SnapshotImage& image);

/// Writes `image` as a two-colour, run-length encoded PCX file (version 5, one plane of one bit
/// per pixel), replacing any existing file: background pixels are colour 1 (the background),
/// every other pixel colour 0 (black). Returns 1, or 0 after one message (caption "About PCX")
/// naming the step, the path and the reason; as for bitmaps, only a complete file appears.
int writePcxFile(MessageSink& sink, const std::string& fileName, const SnapshotImage& image);

/// Writes `image` as a PNG file (8-bit RGB), replacing any existing file. Returns 1, or 0 after
/// one message (caption "About PNG") naming the step, the path and the reason; only a complete
/// file appears, and nothing is written when the image cannot be encoded.
int writePngFile(MessageSink& sink, const std::string& fileName, const SnapshotImage& image);

/// The save dialog of the snapshot ("Snapshot File Name"): the chosen name, with ".bmp" added
/// when its last path component has no extension, or nothing when the user cancels.
std::optional<std::string> chooseSnapshotFile(Shell& shell);

/// Saves `image` under a name the user chooses. The name's last four characters, ignoring case,
/// pick the format: ".bmp" a bitmap, ".pcx" a PCX image, ".png" a PNG image. A name of four
/// characters or fewer writes nothing; any other ending writes nothing and says which endings
/// are written. When a writer fails, its own message is followed by "<format> file is not
/// created" (caption "About Bitmap"). Cancelling shows nothing. Always returns 1.
int MakeSnapshot(Shell& shell, const SnapshotImage& image);
