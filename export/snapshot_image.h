#pragma once

#include <cstdint>
#include <vector>

/// The main window's client area as captured for a snapshot. The window fills it from its back
/// buffer before the save dialog can cover anything.
struct SnapshotImage {
    int32_t width = 0;
    int32_t height = 0;
    /// width × height colours 0x00RRGGBB, row-major, top row first. The top byte is ignored
    /// everywhere (a back buffer may keep an opaque alpha there).
    std::vector<uint32_t> pixels;
    /// The window's background colour: the PCX writer keeps exactly these pixels as colour 1
    /// and blackens every other one.
    uint32_t background = 0x00FFFFFF;
};

/// True when the image has a positive size and exactly width × height pixels.
bool hasAllPixels(const SnapshotImage& image);
