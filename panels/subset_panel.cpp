#include "panels/subset_panel.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "display/graph_primitives.h"

using namespace subset_panel;

namespace {

constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};
constexpr Color kButtonShadow{125, 125, 125};
constexpr Color kButtonSoftShadow{165, 170, 165};

Rect makeRect(int32_t left, int32_t top, int32_t width, int32_t height) {
    return {left, top, left + width - 1, top + height - 1};
}

bool contains(const Rect& r, int32_t x, int32_t y) {
    return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}

/// Entries of the current subset that really exist (the count can never reach past storage).
int entryCount(const SubsetPanelState& panel) {
    return std::min<int>({panel.wSelectedCount, static_cast<int>(panel.selectedSubset.size()), kEntries});
}

/// Room for entries of the current subset.
int entryCapacity(const SubsetPanelState& panel) {
    return std::min<int>(static_cast<int>(panel.selectedSubset.size()), kEntries);
}

/// Stored subsets that really exist.
int storedCount(const SubsetPanelState& panel) {
    return std::min<int>({panel.wStoredSubsets, panel.wReservedSubsets,
                          static_cast<int>(panel.selectedSubsetArray.size()),
                          static_cast<int>(panel.selectedSubsetArraySize.size())});
}

/// Frame of an inclusive rectangle with the current pen, nothing filled.
void frame(Canvas& dc, const Rect& r) {
    dc.setBrush(kWhite, Canvas::BrushStyle::None);
    dc.rectangle({r.left, r.top, r.right + 1, r.bottom + 1});
}

void restoreDefaults(Canvas& dc) {
    dc.setPen(kBlack);
    dc.setBrush(kWhite);
}

/// The glyph's rectangle inside an offered or strip cell: the glyph draws its label line above
/// the curve and its marked background a little beyond the curve, so the cell is shrunk by mx at
/// the left, 2 mx at the right and 2 my + lineHeight at the bottom.
Rect glyphRect(const Rect& cell, int32_t mx, int32_t my, int32_t lh) {
    return {cell.left + mx, cell.top, cell.right - 2 * mx, cell.bottom - 2 * my - lh};
}

/// The glyph's rectangle inside a stored-subset cell: room for the label line above and for
/// the marked background's 3 pixels to the left and 6 to the right. The curve gets five sixths
/// of the height left, since oscillating etalons overshoot their amplitude and would otherwise
/// cross the row's frame.
Rect storedGlyphRect(const Rect& cell, int32_t lh) {
    const int32_t curveHeight = (cell.bottom - cell.top - lh - lh / 4 - 3) * 5 / 6;
    return {cell.left + 4, cell.top, cell.right - 6, cell.top + curveHeight};
}

bool glyphFits(const Rect& r) { return r.right - r.left >= 2 && r.bottom - r.top >= 2; }

int32_t widestLabel(const Canvas& dc, int buttons) {
    int32_t widest = 0;
    for (int b = 0; b < buttons; ++b) widest = std::max(widest, dc.textWidth(kButtonLabels[static_cast<size_t>(b)]));
    return widest;
}

/// Steps 1 to 4 shared by both versions: background, grid, offered etalons, strip, buttons.
void drawCommonPart(Canvas& dc, const LayoutState& layout, const SubsetPanelLayout& g, const SubsetPanelState& panel,
                    const std::array<int32_t, kEntries>& marks, int16_t amplitude, uint16_t wRequiredCount,
                    const uint16_t* lpRequiredList, const SeriesHeader* series) {
    const Rect& m = layout.rcMain;
    const int32_t lh = layout.lineHeight;
    dc.fillRect({m.left, m.top, m.right + 1, m.bottom + 1}, kBackground);
    dc.setPen(kBlack);
    dc.setTextColor(kBlack);
    frame(dc, g.gridArea);

    const int offered = lpRequiredList ? std::min<int>(wRequiredCount, static_cast<int>(g.rcOfferedCells.size())) : 0;
    for (int i = 0; i < offered; ++i) {
        const Rect& cell = g.rcOfferedCells[static_cast<size_t>(i)];
        dc.setPen(kBlack);
        frame(dc, cell);
        const Rect glyph = glyphRect(cell, g.mx, g.my, lh);
        if (glyphFits(glyph)) graph::drawEtalonGlyph(dc, lh, etalonOf(series, lpRequiredList[i]), amplitude, 0, glyph);
    }

    dc.setPen(kBlack);
    frame(dc, g.rcSubsetStrip);
    dc.setPen(kStripCellPen);
    for (const Rect& cell : g.possibleSubsetRect) frame(dc, cell);
    dc.setPen(kBlack);
    const int shown = std::min<int>(entryCount(panel), static_cast<int>(g.possibleSubsetRect.size()));
    for (int k = 0; k < shown; ++k) {
        const Rect glyph = glyphRect(g.possibleSubsetRect[static_cast<size_t>(k)], g.mx, g.my, lh);
        if (!glyphFits(glyph)) continue;
        graph::drawEtalonGlyph(dc, lh, etalonOf(series, panel.selectedSubset[static_cast<size_t>(k)]), amplitude,
                               marks[static_cast<size_t>(k)] == 1 ? 1 : 0, glyph);
    }

    for (int b = 0; b < g.wPanelButtons; ++b)
        drawSubsetPanelButton(dc, lh, g.buttons[static_cast<size_t>(b)], kButtonLabels[static_cast<size_t>(b)]);
    restoreDefaults(dc);
}

SubsetPanelGeometryInput geometryInput(const Canvas& dc, const LayoutState& layout, const SeriesHeader* series,
                                       int32_t reserved, bool tuple) {
    SubsetPanelGeometryInput in;
    in.rcMain = layout.rcMain;
    in.lineHeight = layout.lineHeight;
    in.aveCharWidth = layout.aveCharWidth;
    in.widestLabel = widestLabel(dc, tuple ? 6 : 4);
    in.offeredCapacity = series ? series->wPulsesListCapacity : 0;
    in.maxPulses = series ? series->wMaxPulses : 0;
    in.reservedSubsets = reserved;
    in.tuple = tuple;
    return in;
}

}  // namespace

SubsetPanelLayout layOutSubsetPanel(const SubsetPanelGeometryInput& in) {
    SubsetPanelLayout g;
    g.tuple = in.tuple;
    const Rect& m = in.rcMain;
    const int32_t W = m.right - m.left + 1, H = m.bottom - m.top + 1;
    const int32_t mx = std::max(W / 170, 0), my = std::max(H / 131, 0);
    const int32_t lh = in.lineHeight;
    g.mx = mx;
    g.my = my;

    // Grid of offered etalons over the top quarter of the view area.
    g.gridArea = {m.left + mx, m.top + my, m.right - mx, m.top + my + (H - 3 * my) / 4};
    const int capacity = std::clamp(in.offeredCapacity, 0, kMaxOfferedCells);
    g.gridRows = capacity > 0 ? (capacity - 1) / kColumns + 1 : 1;
    const int32_t gridWidth = g.gridArea.right - g.gridArea.left + 1;
    const int32_t gridHeight = g.gridArea.bottom - g.gridArea.top + 1;
    g.cellWidth = (gridWidth - (kColumns + 1) * mx) / kColumns;
    g.cellHeight = (gridHeight - (g.gridRows + 1) * my) / g.gridRows;
    for (int i = 0; i < capacity; ++i) {
        const int c = i % kColumns, r = i / kColumns;
        g.rcOfferedCells.push_back(makeRect(g.gridArea.left + mx + c * (g.cellWidth + mx),
                                            g.gridArea.top + my + r * (g.cellHeight + my), g.cellWidth, g.cellHeight));
    }

    // The current subset's strip, a line below the grid.
    const int32_t stripTop = g.gridArea.bottom + my + lh;
    g.rcSubsetStrip = makeRect(g.gridArea.left, stripTop, gridWidth, g.cellHeight + 2 * my);
    const int stripCells = in.tuple ? kEntries : std::clamp(in.maxPulses, 0, kEntries);
    for (int k = 0; k < stripCells; ++k)
        g.possibleSubsetRect.push_back(
            makeRect(g.rcSubsetStrip.left + mx + k * (g.cellWidth + mx), stripTop + my, g.cellWidth, g.cellHeight));

    // Buttons half a line below the strip.
    const int32_t bw = in.widestLabel + 4 * in.aveCharWidth;
    const int32_t bh = 2 * lh - 1;
    const int32_t bt = g.rcSubsetStrip.bottom + lh / 2;
    const int32_t step = bw + 2 * in.aveCharWidth;
    g.wPanelButtons = in.tuple ? 6 : 4;
    const int32_t x0 = g.rcSubsetStrip.left;
    g.buttons[DeleteAll] = makeRect(x0, bt, bw, bh);
    g.buttons[Delete] = makeRect(x0 + step, bt, bw, bh);
    if (!in.tuple) {
        g.buttons[Cancel] = makeRect(x0 + 2 * step, bt, bw, bh);
        g.buttons[Ok] = makeRect(x0 + 3 * step, bt, bw, bh);
        return g;
    }
    // Tuple version: " Cancel " and " OK " end at the strip's right; " Accept " and
    // " Clear All " follow " Delete ".
    const int32_t cancelLeft = g.rcSubsetStrip.right - 2 * (bw + in.aveCharWidth);
    g.buttons[Cancel] = makeRect(cancelLeft, bt, bw, bh);
    g.buttons[Ok] = makeRect(cancelLeft + step, bt, bw, bh);
    g.buttons[Accept] = makeRect(x0 + 2 * step, bt, bw, bh);
    g.buttons[ClearAll] = makeRect(x0 + 3 * step, bt, bw, bh);

    // The heading a line and a half below the buttons, the stored rows half a line under it.
    const int32_t buttonsBottom = bt + bh - 1;
    g.headingX = g.rcSubsetStrip.left;
    g.headingY = buttonsBottom + lh / 2 + lh;
    g.storedArea = {g.gridArea.left, g.headingY + lh + lh / 2, g.gridArea.right, m.bottom - my};

    const int reserved = std::max(in.reservedSubsets, 0);
    const int rows = std::max((reserved + 1) / 2, 1);
    const int32_t areaWidth = g.storedArea.right - g.storedArea.left + 1;
    const int32_t areaHeight = g.storedArea.bottom - g.storedArea.top + 1;
    const int32_t columnWidth = (areaWidth - mx) / 2;
    const int32_t rowHeight = (areaHeight - (rows - 1) * my) / rows;
    const int32_t e = (columnWidth - 2 * kEntries + 1) / kEntries;
    for (int i = 0; i < reserved; ++i) {
        const int column = i / rows, row = i % rows;
        const int32_t left = g.storedArea.left + column * (columnWidth + mx);
        const int32_t top = g.storedArea.top + row * (rowHeight + my);
        const Rect rowFrame = makeRect(left, top, columnWidth, rowHeight);
        g.storedRows.push_back(rowFrame);
        std::array<Rect, kEntries> cells{};
        for (int k = 0; k < kEntries; ++k)
            cells[static_cast<size_t>(k)] = {left + (e + 2) * k + 2, top + 2, left + (k + 1) * (e + 2) - 3,
                                             rowFrame.bottom - 2};
        g.storedCells.push_back(cells);
    }
    return g;
}

bool subsetPanelPrepared(const SubsetPanelState& panel) {
    if (panel.wSubsetEntries < kEntries || panel.selectedSubset.size() < static_cast<size_t>(kEntries)) return false;
    if (panel.wReservedSubsets == 0 || panel.wReservedSubsets > kReservedSubsets) return false;
    if (panel.selectedSubsetArray.size() < panel.wReservedSubsets ||
        panel.selectedSubsetArraySize.size() < panel.wReservedSubsets)
        return false;
    for (const auto& row : panel.selectedSubsetArray)
        if (row.size() < static_cast<size_t>(kEntries)) return false;
    return panel.wSelectedCount <= kEntries && panel.wStoredSubsets <= panel.wReservedSubsets;
}

SubsetPanelPrepareResult prepareSubsetPanel(SubsetPanelState& panel, SubsetPanelMarks& marks) {
    if (subsetPanelPrepared(panel)) return {};
    const char* failed = "Нет памяти для selectedSubset!";
    try {
        panel.wSelectedCount = 0;
        panel.wSubsetEntries = kEntries;
        panel.selectedSubset.assign(kEntries, 0);
        marks = SubsetPanelMarks{};
        failed = "Нет памяти для selectedSubsetArraySize!";
        if (panel.wReservedSubsets == 0 || panel.wReservedSubsets > kReservedSubsets) {
            panel.wReservedSubsets = kReservedSubsets;
            panel.wStoredSubsets = 0;
        }
        panel.selectedSubsetArraySize.assign(panel.wReservedSubsets, 0);
        failed = "Нет памяти для possibleSubsetArrayRect!";
        panel.selectedSubsetArray.assign(panel.wReservedSubsets, std::vector<int32_t>(kEntries, 0));
        panel.wStoredSubsets = 0;
        panel.currentPatternTuple = 0;
    } catch (const std::bad_alloc&) {
        panel.selectedSubset.clear();
        panel.selectedSubsetArray.clear();
        panel.selectedSubsetArraySize.clear();
        panel.wSelectedCount = 0;
        panel.wStoredSubsets = 0;
        panel.currentPatternTuple = 0;
        marks = SubsetPanelMarks{};
        return {false, failed};
    }
    return {};
}

void drawSubsetPanelButton(Canvas& dc, int32_t lh, const Rect& r, const std::string& label) {
    if (r.right - r.left < 4 || r.bottom - r.top < 4) return;
    dc.setPen(kBlack);
    frame(dc, r);
    // Outer top and left edge in shadow grey, bottom and right in two steps (shadow, then a
    // softer grey further in), and a white highlight inside the top and left edge.
    dc.setPen(kButtonShadow);
    dc.moveTo(r.left, r.bottom);
    dc.lineTo(r.left, r.top);
    dc.lineTo(r.right + 1, r.top);
    dc.moveTo(r.left + 1, r.bottom - 1);
    dc.lineTo(r.right - 1, r.bottom - 1);
    dc.lineTo(r.right - 1, r.top);
    dc.setPen(kButtonSoftShadow);
    dc.moveTo(r.left + 2, r.bottom - 2);
    dc.lineTo(r.right - 2, r.bottom - 2);
    dc.lineTo(r.right - 2, r.top + 1);
    dc.setPen(kWhite);
    dc.moveTo(r.left + 1, r.bottom - 2);
    dc.lineTo(r.left + 1, r.top + 1);
    dc.lineTo(r.right - 1, r.top + 1);
    dc.setPen(kBlack);
    dc.setTextColor(kBlack);
    const int32_t width = r.right - r.left + 1;
    dc.textOut(r.left + (width - dc.textWidth(label)) / 2, r.top + (lh - 2) / 2, label);
}

SubsetPanelLayout layOutSubsetPanelView(const Canvas& dc, LayoutState& layout, const SubsetPanelState& panel,
                                        const SeriesHeader* series, bool tuple) {
    const int reserved = tuple ? std::min<int>(panel.wReservedSubsets, kReservedSubsets) : panel.wReservedSubsets;
    SubsetPanelLayout g = layOutSubsetPanel(geometryInput(dc, layout, series, reserved, tuple));
    layout.rcSubsetStrip = g.rcSubsetStrip;
    if (tuple)
        layout.possibleSubsetArrayRect = g.storedRows;
    else
        layout.possibleSubsetArrayRect.clear();
    return g;
}

void applyMarkAll(const SubsetPanelState& panel, SubsetPanelMarks& marks) {
    if (marks.markAllEntries == 1)
        for (int k = 0; k < entryCount(panel); ++k) marks.selectedMarks[static_cast<size_t>(k)] = 1;
    marks.markAllEntries = 0;
}

void drawSubsetPanel(Canvas& dc, const LayoutState& layout, const SubsetPanelLayout& g, const SubsetPanelState& panel,
                     const SubsetPanelMarks& marks, int16_t amplitude, uint16_t wRequiredCount,
                     const uint16_t* lpRequiredList, const SeriesHeader* series) {
    drawCommonPart(dc, layout, g, panel, marks.selectedMarks, amplitude, wRequiredCount, lpRequiredList, series);
}

void drawTupleSubsetPanel(Canvas& dc, const LayoutState& layout, const SubsetPanelLayout& g,
                          const SubsetPanelState& panel, const SubsetPanelMarks& marks, int16_t amplitude,
                          uint16_t wRequiredCount, const uint16_t* lpRequiredList, const SeriesHeader* series) {
    drawCommonPart(dc, layout, g, panel, marks.selectedMarks, amplitude, wRequiredCount, lpRequiredList, series);

    const int32_t lh = layout.lineHeight;
    char heading[40];
    std::snprintf(heading, sizeof heading, " reserved subsets %d ", static_cast<int>(panel.wReservedSubsets));
    dc.setTextColor(kBlack);
    dc.textOut(g.headingX, g.headingY, heading);

    dc.setPen(kStoredRowPen);
    for (const Rect& row : g.storedRows) frame(dc, row);
    dc.setPen(kBlack);
    const int stored = std::min<int>(storedCount(panel), static_cast<int>(g.storedCells.size()));
    for (int i = 0; i < stored; ++i) {
        const auto& entries = panel.selectedSubsetArray[static_cast<size_t>(i)];
        const int n = std::min<int>({panel.selectedSubsetArraySize[static_cast<size_t>(i)], kEntries,
                                     static_cast<int>(entries.size())});
        const int32_t highlight = i + 1 == panel.currentPatternTuple ? 2 : 0;
        for (int k = 0; k < n; ++k) {
            const Rect glyph = storedGlyphRect(g.storedCells[static_cast<size_t>(i)][static_cast<size_t>(k)], lh);
            if (glyphFits(glyph))
                graph::drawEtalonGlyph(dc, lh, etalonOf(series, entries[static_cast<size_t>(k)]), amplitude, highlight,
                                       glyph);
        }
    }
    restoreDefaults(dc);
}

int offeredCellAt(const SubsetPanelLayout& g, uint16_t wRequiredCount, int32_t x, int32_t y) {
    const int n = std::min<int>(wRequiredCount, static_cast<int>(g.rcOfferedCells.size()));
    for (int i = 0; i < n; ++i)
        if (contains(g.rcOfferedCells[static_cast<size_t>(i)], x, y)) return i;
    return -1;
}

bool stripContains(const SubsetPanelLayout& g, int32_t x, int32_t y) {
    return g.possibleSubsetRect.size() > 0 && contains(g.rcSubsetStrip, x, y);
}

Button buttonAt(const SubsetPanelLayout& g, int32_t x, int32_t y) {
    const int n = std::clamp(g.wPanelButtons, 0, static_cast<int>(g.buttons.size()));
    for (int b = 0; b < n; ++b)
        if (contains(g.buttons[static_cast<size_t>(b)], x, y)) return static_cast<Button>(b);
    return NoButton;
}

int storedRowAt(const SubsetPanelLayout& g, int32_t x, int32_t y) {
    for (size_t i = 0; i < g.storedRows.size(); ++i)
        if (contains(g.storedRows[i], x, y)) return static_cast<int>(i);
    return -1;
}

bool appendEntry(SubsetPanelState& panel, SubsetPanelMarks& marks, int32_t etalon) {
    const int n = entryCount(panel);
    if (n >= entryCapacity(panel)) return false;
    panel.selectedSubset[static_cast<size_t>(n)] = etalon;
    marks.selectedMarks[static_cast<size_t>(n)] = 0;
    panel.wSelectedCount = static_cast<uint16_t>(n + 1);
    return true;
}

int deleteMarkedEntries(SubsetPanelState& panel, SubsetPanelMarks& marks) {
    int n = entryCount(panel);
    int removed = 0;
    for (int k = n - 1; k >= 0; --k) {
        if (marks.selectedMarks[static_cast<size_t>(k)] != 1) continue;
        for (int j = k; j + 1 < n; ++j) {
            panel.selectedSubset[static_cast<size_t>(j)] = panel.selectedSubset[static_cast<size_t>(j + 1)];
            marks.selectedMarks[static_cast<size_t>(j)] = marks.selectedMarks[static_cast<size_t>(j + 1)];
        }
        --n;
        panel.selectedSubset[static_cast<size_t>(n)] = 0;
        marks.selectedMarks[static_cast<size_t>(n)] = 0;
        ++removed;
    }
    if (removed > 0) panel.wSelectedCount = static_cast<uint16_t>(n);
    return removed;
}

void deleteAllEntries(SubsetPanelState& panel, SubsetPanelMarks& marks) {
    panel.wSelectedCount = 0;
    std::fill(panel.selectedSubset.begin(), panel.selectedSubset.end(), 0);
    marks.selectedMarks.fill(0);
}

bool offerEtalon(SubsetPanelState& panel, SubsetPanelMarks& marks, int32_t etalon) {
    deleteMarkedEntries(panel, marks);
    return appendEntry(panel, marks, etalon);
}

int markEntryAt(SubsetPanelState& panel, SubsetPanelMarks& marks, const SubsetPanelLayout& g, int32_t x, int32_t y) {
    marks.selectedMarks.fill(0);
    const int n = std::min<int>(entryCount(panel), static_cast<int>(g.possibleSubsetRect.size()));
    for (int k = 0; k < n; ++k) {
        if (contains(g.possibleSubsetRect[static_cast<size_t>(k)], x, y)) {
            marks.selectedMarks[static_cast<size_t>(k)] = 1;
            return k;
        }
    }
    return -1;
}

bool acceptCurrentSubset(SubsetPanelState& panel, SubsetPanelMarks& marks) {
    const int stored = storedCount(panel);
    const int n = entryCount(panel);
    const bool room = stored < panel.wReservedSubsets && stored == panel.wStoredSubsets &&
                      static_cast<size_t>(stored) < panel.selectedSubsetArray.size() &&
                      panel.selectedSubsetArray[static_cast<size_t>(stored)].size() >= static_cast<size_t>(n);
    bool added = false;
    // An empty current subset would become a tuple of no etalons, which nothing can use.
    if (room && n > 0) {
        auto& row = panel.selectedSubsetArray[static_cast<size_t>(stored)];
        std::fill(row.begin(), row.end(), 0);
        std::copy_n(panel.selectedSubset.begin(), n, row.begin());
        panel.selectedSubsetArraySize[static_cast<size_t>(stored)] = n;
        panel.wStoredSubsets = static_cast<uint16_t>(stored + 1);
        added = true;
    }
    panel.currentPatternTuple = panel.wStoredSubsets;
    marks.markAllEntries = 1;
    return added;
}

void clearStoredSubsets(SubsetPanelState& panel, SubsetPanelMarks& marks) {
    panel.wStoredSubsets = 0;
    panel.currentPatternTuple = 0;
    marks.markAllEntries = 1;
}

bool chooseStoredSubset(SubsetPanelState& panel, int row) {
    if (row < 0 || row >= storedCount(panel)) return false;
    panel.currentPatternTuple = row + 1;
    return true;
}
