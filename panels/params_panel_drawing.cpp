#include "panels/params_panel.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "panels/params_panel_arithmetic.h"

using namespace params_panel_detail;

// The panel's drawing: the buttons, the whole panel and the update drawing that repaints only
// what changed since the last one.

namespace {

constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};
constexpr Color kButtonShadow{125, 125, 125};
constexpr Color kButtonShade{165, 170, 165};

std::array<int32_t, 4> asArray(const PanelSegment& s) { return {s.x0, s.y0, s.x1, s.y1}; }
std::array<int32_t, 4> asArray(const Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

template <size_t N>
bool sameAt(const std::array<int32_t, N>& stored, size_t offset, const std::array<int32_t, 4>& now) {
    for (size_t i = 0; i < 4; ++i)
        if (stored[offset + i] != now[i]) return false;
    return true;
}

template <size_t N>
void storeAt(std::array<int32_t, N>& stored, size_t offset, const std::array<int32_t, 4>& now) {
    for (size_t i = 0; i < 4; ++i) stored[offset + i] = now[i];
}

void line(Canvas& c, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    c.moveTo(x0, y0);
    c.lineTo(x1, y1);
}

/// A line with its end pixel drawn too.
void segment(Canvas& c, const PanelSegment& s) {
    line(c, s.x0, s.y0, s.x1, s.y1);
    c.lineTo(s.x1 + 1, s.y1);
}

/// A horizontal guide with every second pixel set.
void dottedGuide(Canvas& c, const PanelSegment& s) {
    const int32_t from = std::min(s.x0, s.x1), to = std::max(s.x0, s.x1);
    for (int32_t x = from; x <= to; x += 2) c.setPixel(x, s.y0, kBlack);
}

/// Frames an inclusive rectangle with the current pen.
void frameRect(Canvas& c, const Rect& r) {
    c.setBrush(kWhite, Canvas::BrushStyle::None);
    c.rectangle({r.left, r.top, r.right + 1, r.bottom + 1});
}

/// Fills an inclusive rectangle.
void fillInclusive(Canvas& c, const Rect& r, Color color) {
    c.fillRect({r.left, r.top, r.right + 1, r.bottom + 1}, color);
}

/// Box of a value label right-aligned at xRight and centred on y.
Rect labelBox(const Canvas& c, const std::string& text, int32_t xRight, int32_t y, int32_t th) {
    const int32_t w = c.textWidth(text);
    return {xRight - w, y - th / 2, xRight - 1, y - th / 2 + th - 1};
}

}  // namespace

void drawPanelButton(Canvas& c, const Rect& r, const std::string& label, int32_t lineHeight) {
    if (r.right - r.left < 5 || r.bottom - r.top < 5) return;
    fillInclusive(c, r, kPanelBackground);
    c.setPen(kBlack);
    frameRect(c, r);
    // Outer top and left edges.
    c.setPen(kButtonShadow);
    line(c, r.left + 1, r.bottom - 1, r.left + 1, r.top + 1);
    c.lineTo(r.right, r.top + 1);
    // Bottom and right edges, in two steps.
    line(c, r.left + 1, r.bottom - 1, r.right - 1, r.bottom - 1);
    c.lineTo(r.right - 1, r.top);
    c.setPen(kButtonShade);
    line(c, r.left + 2, r.bottom - 2, r.right - 2, r.bottom - 2);
    c.lineTo(r.right - 2, r.top + 1);
    // Inner highlight.
    c.setPen(kWhite);
    line(c, r.left + 2, r.bottom - 2, r.left + 2, r.top + 2);
    c.lineTo(r.right - 2, r.top + 2);

    c.setTextColor(kBlack);
    const int32_t w = c.textWidth(label);
    c.textOut(r.left + (r.right - r.left + 1 - w) / 2, r.top + (lineHeight - 2) / 2, label);
    c.setPen(kBlack);
}

namespace {

struct PanelDrawing {
    PanelLayout layout;
    DiagramGeometry geometry;
    int32_t th = 0;
    Rect labelHigh, labelLow;  ///< boxes of the a+ and b- values
    int32_t textBottom = 0;    ///< below the last line of the value column
};

constexpr int kTextLines = 15;

// The panel's layout for the record's values, measured with the canvas's font. Pure: the layout
// pass stores what of it the mouse handlers need, the drawing only reads it.
PanelDrawing planPanel(const Canvas& c, const LayoutState& layout, const ParamsHeader& r) {
    PanelDrawing d;
    const TextMetrics m = c.metrics();
    d.th = layout.lineHeight > 0 ? layout.lineHeight : m.height;
    PanelTextSizes sizes;
    sizes.lineHeight = d.th;
    sizes.aveCharWidth = layout.aveCharWidth > 0 ? layout.aveCharWidth : m.averageWidth;
    sizes.valueBWidth = c.textWidth(format("%d", r.bHigh));
    sizes.buttonLabelWidth = std::max(c.textWidth(kPanelCancelLabel), c.textWidth(kPanelOkLabel));
    sizes.editWidth = c.textWidth(" 9999");
    sizes.tminLabelWidth = c.textWidth(kPanelTminLabel);
    d.layout = layOutParameterPanel(layout.rcMain, sizes);
    d.textBottom = d.layout.textY + kTextLines * d.th;
    return d;
}

/// Stores the hit areas of the geometry in the record.
void storeHitAreas(ParamsHeader& r, const DiagramGeometry& g) {
    const int32_t n = std::min<int32_t>(std::min(r.wAreasCount, r.wAreasCapacity), static_cast<int32_t>(g.countAreas.size()));
    if (!r.pulsesSelectedAreas.empty()) {
        std::fill(r.pulsesSelectedAreas.begin(), r.pulsesSelectedAreas.end(), Rect{});
        for (int32_t i = 0; i < n; ++i) r.pulsesSelectedAreas[i] = g.countAreas[static_cast<size_t>(i)];
    }
    r.rcHandleHigh = g.handleHigh;
    r.rcHandleLow = g.handleLow;
    if (g.hasK && g.lines.valid) {
        const PanelSegment& u = g.lines.upperTmax;
        const PanelSegment& t = g.lines.upperTmin;
        r.lineTmax = {u.x0, u.y0, u.x1, u.y1, g.tolerance};
        r.lineTmin = {t.x0, t.y0, t.x1, t.y1, g.tolerance};
    } else {
        r.lineTmax = r.lineTmin = {0, 0, 0, 0, -1};
    }
}

/// Draws a string right-aligned so that it ends just before xRight.
void textRight(Canvas& c, int32_t xRight, int32_t y, const std::string& text) {
    c.textOut(xRight - c.textWidth(text), y, text);
}

void drawDiagram(Canvas& c, const ParamsHeader& r, PanelDrawing& d) {
    const DiagramGeometry& g = d.geometry;
    const Rect& gr = r.rcGraph;
    const int32_t th = d.th, mx = d.layout.mx;
    c.setPen(kBlack);
    c.setTextColor(kBlack);
    if (!g.drawable) return;

    // Axes.
    line(c, gr.left, gr.bottom, gr.left, gr.bottom - g.Hg - 1);
    line(c, gr.left, gr.bottom, gr.left + g.Wg + mx + 1, gr.bottom);
    for (int32_t x : g.pulseTicks) line(c, x, gr.bottom, x, gr.bottom - 3);
    for (int32_t x : g.countTicks) line(c, x, gr.bottom, x, gr.bottom + 3);

    if (g.hasK) {
        segment(c, g.topLine);
        segment(c, g.kLine);
        dottedGuide(c, g.guideHigh);
        dottedGuide(c, g.guideLow);
    }

    // Labels under the ticks, right-aligned to them; one that would run into its left
    // neighbour is left out.
    int32_t freeFrom = std::numeric_limits<int32_t>::min();
    for (size_t i = 0; i < g.pulseTicks.size(); ++i) {
        const std::string text = format("%d", static_cast<int64_t>(i) + 1);
        const int32_t left = g.pulseTicks[i] - c.textWidth(text);
        if (left < freeFrom) continue;
        c.textOut(left, g.pulseLabelY, text);
        freeFrom = g.pulseTicks[i] + 2;
    }
    freeFrom = std::numeric_limits<int32_t>::min();
    for (size_t i = 0; i < g.countTicks.size(); ++i) {
        const std::string text = format("%d", int64_t{r.wMinPulses} + static_cast<int64_t>(i));
        const int32_t left = g.countTicks[i] - c.textWidth(text);
        if (left < freeFrom) continue;
        c.textOut(left, g.countLabelY, text);
        freeFrom = g.countTicks[i] + 2;
    }

    // Values left of the vertical axis at their heights.
    const int32_t xRight = gr.left - mx;
    textRight(c, xRight, positionY(r, r.aLow) - th / 2, format("%d", r.aLow));
    textRight(c, xRight, positionY(r, r.bHigh) - th / 2, format("%d", r.bHigh));
    if (g.hasK) {
        const std::string high = format("%d", r.aHigh), low = format("%d", r.bLow);
        d.labelHigh = labelBox(c, high, xRight, positionY(r, r.aHigh), th);
        d.labelLow = labelBox(c, low, xRight, positionY(r, r.bLow), th);
        c.textOut(d.labelHigh.left, d.labelHigh.top, high);
        c.textOut(d.labelLow.left, d.labelLow.top, low);
    }

    if (g.hasK && g.lines.valid) {
        segment(c, g.lines.upperTmax);
        segment(c, g.lines.upperTmin);
        segment(c, g.lines.lowerTmin);
        segment(c, g.lines.lowerTmax);
    }
}

void drawValueTexts(Canvas& c, const ParamsHeader& r, const PanelDrawing& d) {
    const int32_t th = d.th;
    const int32_t x = d.layout.textX;
    int32_t y = d.layout.textY;
    c.setTextColor(kBlack);
    const std::array<int32_t, 5>& t = r.lineTmin;
    c.textOut(x, y, format(" (%d,%d) - (%d,%d) ", t[0], t[1], t[2], t[3]));
    c.textOut(x, y += th, format(" h = %d", t[4]));
    c.textOut(x, y += th, format(" (%d,%d) - (%d,%d) ", r.rcGraph.left, r.rcGraph.top, r.rcGraph.right, r.rcGraph.bottom));
    c.textOut(x, y += th, format(" w %d, h %d", d.geometry.Wg, d.geometry.Hg));
    y += th;

    struct Row {
        const char* label;
        std::string value;
    };
    auto block = [&](const std::vector<Row>& rows) {
        int32_t column = 0;
        for (const Row& row : rows) column = std::max(column, c.textWidth(row.label));
        for (const Row& row : rows) {
            y += th;
            c.textOut(x, y, row.label);
            c.textOut(x + column, y, row.value);
        }
        y += th;
    };
    block({{" a   = ", format("%d     ", r.aLow)},
           {" a+ = ", format("%d     ", r.aHigh)},
           {" b-  = ", format("%d     ", r.bLow)},
           {" b   = ", format("%d     ", r.bHigh)}});
    block({{" Tmin = ", format("%d [%d]    ", r.wTmin, r.lastValues[3])},
           {" Tmax = ", format("%d     ", r.wTmax)},
           {" pulses = ", format("%d     ", r.wImpulseQuantity)},
           {" Mmin = ", format("%d [%d]     ", r.wMinPulses, editedMinPulses(r))},
           {" Mmax = ", format("%d [%d]     ", r.wMaxPulses, editedMaxPulses(r))}});
}

void drawControls(Canvas& c, const ParamsHeader& r, const PanelDrawing& d) {
    c.setTextColor(kBlack);
    c.textOut(d.layout.tminLabelX, d.layout.tminLabelY, kPanelTminLabel);
    drawPanelButton(c, r.rcCancelButton, kPanelCancelLabel, d.th);
    drawPanelButton(c, r.rcOkButton, kPanelOkLabel, d.th);
}

/// Remembers what was drawn, for the next update drawing.
void rememberDrawing(ParamsHeader& r, const PanelDrawing& d) {
    const DiagramGeometry& g = d.geometry;
    const BoundingLines& l = g.lines;
    const bool lines = g.drawable && g.hasK && l.valid;
    const bool marks = g.drawable && g.hasK;
    storeAt(r.lastLines, 0, lines ? asArray(l.upperTmax) : std::array<int32_t, 4>{});
    storeAt(r.lastLines, 4, lines ? asArray(l.upperTmin) : std::array<int32_t, 4>{});
    storeAt(r.lastLines, 8, lines ? asArray(l.lowerTmin) : std::array<int32_t, 4>{});
    storeAt(r.lastLines, 12, lines ? asArray(l.lowerTmax) : std::array<int32_t, 4>{});
    storeAt(r.lastMarks, 0, marks ? asArray(g.guideHigh) : std::array<int32_t, 4>{});
    storeAt(r.lastMarks, 4, marks ? asArray(g.guideLow) : std::array<int32_t, 4>{});
    storeAt(r.lastMarks, 8, marks ? asArray(d.labelHigh) : std::array<int32_t, 4>{});
    storeAt(r.lastMarks, 12, marks ? asArray(d.labelLow) : std::array<int32_t, 4>{});
    if (marks)
        r.lastTopLines = {g.topLine.x1, g.topLine.y1, g.kLine.x0, g.kLine.y1, g.kLine.x1, g.kLine.y0};
    else
        r.lastTopLines = {};
    r.lastValues = {r.wImpulseQuantity, r.aHigh, r.bLow, r.wTmin, r.wTmax, r.wMaxPulses, r.wMinPulses};
    r.redrawOnly = 0;
}

bool isEmpty(const std::array<int32_t, 4>& a) { return a == std::array<int32_t, 4>{}; }

/// Redraws, in the fade pen, every element whose geometry differs from the last drawing.
void fadeChanged(Canvas& c, const ParamsHeader& r, const PanelDrawing& d) {
    const DiagramGeometry& g = d.geometry;
    const bool lines = g.drawable && g.hasK && g.lines.valid;
    const bool marks = g.drawable && g.hasK;
    // The old lines are erased with the background the panel really has.
    c.setPen(kPanelBackground);
    auto fadeSegment = [&](const std::array<int32_t, 16>& stored, size_t offset, const std::array<int32_t, 4>& now,
                           bool exists) {
        std::array<int32_t, 4> old{stored[offset], stored[offset + 1], stored[offset + 2], stored[offset + 3]};
        if (isEmpty(old) || (exists && old == now)) return;
        segment(c, {old[0], old[1], old[2], old[3]});
    };
    fadeSegment(r.lastLines, 0, asArray(g.lines.upperTmax), lines);
    fadeSegment(r.lastLines, 4, asArray(g.lines.upperTmin), lines);
    fadeSegment(r.lastLines, 8, asArray(g.lines.lowerTmin), lines);
    fadeSegment(r.lastLines, 12, asArray(g.lines.lowerTmax), lines);
    fadeSegment(r.lastMarks, 0, asArray(g.guideHigh), marks);
    fadeSegment(r.lastMarks, 4, asArray(g.guideLow), marks);
    // The value labels of the markers are cleared to the background (text cannot be redrawn in a pen).
    for (size_t offset : {size_t{8}, size_t{12}}) {
        const std::array<int32_t, 4> old{r.lastMarks[offset], r.lastMarks[offset + 1], r.lastMarks[offset + 2],
                                         r.lastMarks[offset + 3]};
        const std::array<int32_t, 4> now = asArray(offset == 8 ? d.labelHigh : d.labelLow);
        if (!isEmpty(old) && !(marks && old == now)) fillInclusive(c, {old[0], old[1], old[2], old[3]}, kPanelBackground);
    }
    const std::array<int32_t, 6>& t = r.lastTopLines;
    const std::array<int32_t, 6> nowTop = marks ? std::array<int32_t, 6>{g.topLine.x1, g.topLine.y1, g.kLine.x0,
                                                                          g.kLine.y1, g.kLine.x1, g.kLine.y0}
                                                : std::array<int32_t, 6>{};
    if (t != std::array<int32_t, 6>{} && t != nowTop) {
        const Rect& gr = r.rcGraph;
        segment(c, {gr.left, t[1], t[0], t[1]});
        segment(c, {t[2], t[3], t[4], t[5]});
    }
    c.setPen(kBlack);
}

}  // namespace

Rect layOutParameterPanelView(const Canvas& c, const LayoutState& layout, ParamsHeader& r,
                              const SeriesHeader* series) {
    const PanelDrawing d = planPanel(c, layout, r);
    r.rcFrame = d.layout.rcFrame;
    r.rcGraph = d.layout.rcGraph;
    r.rcCancelButton = d.layout.cancelButton;
    r.rcOkButton = d.layout.okButton;
    storeHitAreas(r, series ? diagramGeometry(r, d.layout.mx, d.layout.my, d.th) : DiagramGeometry{});
    const Rect& e = d.layout.tminEdit;
    return {e.left, e.top, e.right + 1, e.bottom + 1};
}

ParamsHeader& drawParameterPanel(Canvas& c, const LayoutState& layout, ParamsHeader& r, const SeriesHeader* series) {
    if (r.redrawOnly) return updateParameterPanel(c, layout, r, series);
    PanelDrawing d = planPanel(c, layout, r);
    const Rect& m = layout.rcMain;
    c.fillRect({m.left, m.top, m.right + 1, m.bottom + 1}, kPanelBackground);
    c.setPen(kBlack);
    frameRect(c, d.layout.frame);
    frameRect(c, d.layout.rcFrame);
    if (series) {
        d.geometry = diagramGeometry(r, d.layout.mx, d.layout.my, d.th);
        drawDiagram(c, r, d);
        drawValueTexts(c, r, d);
    }
    drawControls(c, r, d);
    rememberDrawing(r, d);
    return r;
}

ParamsHeader& updateParameterPanel(Canvas& c, const LayoutState& layout, ParamsHeader& r, const SeriesHeader* series) {
    PanelDrawing d = planPanel(c, layout, r);
    if (series) {
        d.geometry = diagramGeometry(r, d.layout.mx, d.layout.my, d.th);
        // The label boxes of the new drawing, for comparison with the old ones.
        if (d.geometry.drawable && d.geometry.hasK) {
            const int32_t xRight = r.rcGraph.left - d.layout.mx;
            d.labelHigh = labelBox(c, format("%d", r.aHigh), xRight, positionY(r, r.aHigh), d.th);
            d.labelLow = labelBox(c, format("%d", r.bLow), xRight, positionY(r, r.bLow), d.th);
        }
    }
    fadeChanged(c, r, d);
    // Texts and ticks change with the values: clear the value column and the band of ticks and
    // labels under the diagram before they are drawn again.
    const Rect& f = d.layout.frame;
    fillInclusive(c, {f.left + 1, d.layout.textY, d.layout.rcFrame.left - 1, d.textBottom}, kPanelBackground);
    fillInclusive(c, {r.rcGraph.left + 1, r.rcGraph.bottom - 2, d.layout.rcFrame.right - 1, d.layout.rcFrame.bottom - 1},
                  kPanelBackground);
    if (series) {
        drawDiagram(c, r, d);
        drawValueTexts(c, r, d);
    }
    drawControls(c, r, d);
    rememberDrawing(r, d);
    return r;
}
