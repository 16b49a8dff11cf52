#pragma once

#include <cstdint>
#include <string>

#include "platform/shell.h"

/// A colour as 8-bit red, green and blue.
struct Color {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Color&) const = default;
};

/// Text metrics of the current font, in pixels.
struct TextMetrics {
    int32_t height = 0;         ///< line height (ascent + descent)
    int32_t averageWidth = 0;   ///< average character width
    int32_t maxWidth = 0;       ///< widest character
};

/// The raster drawing operations the display uses, with the classic semantics: a line excludes
/// its end pixel, a rectangle or ellipse excludes its right and bottom edge, pens are one pixel
/// wide and solid (or dotted), nothing is antialiased, text is placed by its top-left corner
/// with a transparent background. Coordinates are client pixels.
class Canvas {
public:
    virtual ~Canvas() = default;

    enum class PenStyle { Solid, Dot, None };
    enum class BrushStyle { Solid, None };

    virtual void setPen(Color color, PenStyle style = PenStyle::Solid) = 0;
    virtual void setBrush(Color color, BrushStyle style = BrushStyle::Solid) = 0;
    virtual void moveTo(int32_t x, int32_t y) = 0;
    /// A line from the current point to (x, y), end pixel excluded; (x, y) becomes current.
    virtual void lineTo(int32_t x, int32_t y) = 0;
    virtual void setPixel(int32_t x, int32_t y, Color color) = 0;
    virtual Color pixel(int32_t x, int32_t y) const = 0;
    /// Outline with the pen, inside filled with the brush; right and bottom edges excluded.
    virtual void rectangle(const Rect& r) = 0;
    virtual void fillRect(const Rect& r, Color color) = 0;
    virtual void ellipse(const Rect& r) = 0;
    virtual void setTextColor(Color color) = 0;
    /// Draws text (UTF-8) with its top-left corner at (x, y).
    virtual void textOut(int32_t x, int32_t y, const std::string& text) = 0;
    virtual int32_t textWidth(const std::string& text) const = 0;
    virtual TextMetrics metrics() const = 0;
    /// Draws one of the shipped button images (resource ids 101, 102, 103, 108, 109) with its
    /// top-left corner at (x, y).
    virtual void drawImage(int resource, int32_t x, int32_t y) = 0;
    /// Size of the drawing surface.
    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
};
