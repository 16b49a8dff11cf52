#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "export/snapshot_image.h"

/// Encodes `image` as a complete PNG file in memory: signature, IHDR (8-bit RGB, no interlace),
/// the deflated rows (filter type 0 on every row) in IDAT chunks of at most pngIdatChunkSize
/// bytes, IEND. Nothing when the image has no pixels (see hasAllPixels), is too wide for one
/// row to be compressed in one piece, or the compressor fails.
std::optional<std::vector<uint8_t>> encodePng(const SnapshotImage& image);

/// The largest data part of one IDAT chunk: the compressed stream is split so that a reader
/// never needs one huge chunk.
inline constexpr std::size_t pngIdatChunkSize = 65536;
