#pragma once

// A canvas for tests that records the texts drawn and ignores everything else; text is 7 pixels
// a character.

#include <string>
#include <vector>

#include "platform/canvas.h"

struct TextLog : Canvas {
    struct Entry {
        int32_t x, y;
        std::string text;
    };
    std::vector<Entry> texts;
    void setPen(Color, PenStyle) override {}
    void setBrush(Color, BrushStyle) override {}
    void moveTo(int32_t, int32_t) override {}
    void lineTo(int32_t, int32_t) override {}
    void setPixel(int32_t, int32_t, Color) override {}
    Color pixel(int32_t, int32_t) const override { return Color{255, 255, 255}; }
    void rectangle(const Rect&) override {}
    void fillRect(const Rect&, Color) override {}
    void ellipse(const Rect&) override {}
    void setTextColor(Color) override {}
    void textOut(int32_t x, int32_t y, const std::string& t) override { texts.push_back({x, y, t}); }
    int32_t textWidth(const std::string& t) const override { return 7 * static_cast<int32_t>(t.size()); }
    TextMetrics metrics() const override { return {14, 7, 7}; }
    void drawImage(int, int32_t, int32_t) override {}
    int32_t width() const override { return 2000; }
    int32_t height() const override { return 2000; }
};
