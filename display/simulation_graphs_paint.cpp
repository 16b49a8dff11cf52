// The statistical-simulation graphs painted: frames, texts, the tuple boxes and the curves that
// display/simulation_graphs.cpp computes.

#include "display/simulation_graphs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <new>

#include "display/graph_primitives.h"
#include "display/greek.h"
#include "display/views.h"
#include "model/codes.h"
#include "model/text_format.h"
#include "simulation/driver.h"

namespace simgraph {

namespace {

constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};

// A title that sits on a frame line: the line is blanked behind it, so that it reads as a gap in
// the frame rather than as text struck through.
void textOnEdge(Canvas& canvas, int32_t x, int32_t y, const std::string& text) {
    canvas.fillRect({x, y, x + canvas.textWidth(text), y + canvas.metrics().height}, kWhite);
    canvas.textOut(x, y, text);
}

// The box of the stored tuples (task 40) with its top-left corner at (x0, y), `cx` the width of
// its caption; false when there are none. `m` receives their number.
bool storedTupleBox(const SeriesViewLayout& v, const SeriesHeader& series, int32_t cx, int32_t x0, int32_t y,
                    PatternBox& box, int32_t& m) {
    m = series.selectedSubsetSize && series.selectedSubsetList ? series.wSubsetsCount : 0;
    int32_t longest = 0;
    for (int32_t t = 0; t < m; ++t) longest = std::max<int32_t>(longest, series.selectedSubsetSize[t]);
    if (m <= 0 || longest <= 0) return false;
    box.gy = v.topOff / 8 + 1;
    box.gx = v.leftOff / 8 + 1;
    box.cw = v.cellW;
    box.bw = std::max((box.cw + box.gx) * longest + box.gx + 1, cx + 20);
    box.ch = (8 * (v.cellH + 2 * box.gy + v.lh) + 5) / 9;
    box.bh = (box.ch + box.gy) * m + box.gy;
    box.left = x0;
    box.top = y;
    return true;
}

// The texts left of the plot whose extent depends on the font: the value labels (moved left
// where their digits are wider than the average) and the separation figures broken into lines
// that stop short of them.
struct SideTexts {
    int32_t Z = 0;
    std::vector<AxisLabel> values;
    std::vector<std::string> figureLines;
};

SideTexts layOutSideTexts(const Canvas& canvas, const Settings& settings, const Rect& main, int32_t x0,
                          const GraphGeometry& g, int32_t kind, const RestErrorHeader& errors,
                          const Normalizers& norms, const SeparationFigures& figures) {
    SideTexts t;
    const TextMetrics fm = canvas.metrics();
    const int32_t fw = fm.averageWidth, sh = fm.height;
    t.Z = tickUnit(upperValue(kind, errors, norms), settings.fixedUpperBound != 0, settings.upperBound);
    t.values = valueAxisLabels(t.Z, g, fw, sh);
    int32_t textRoom = main.right - x0;
    for (AxisLabel& label : t.values) {
        label.at.x = std::min(label.at.x, g.plotLeft - 3 - canvas.textWidth(label.text));
        textRoom = std::min(textRoom, label.at.x - fw - x0);
    }
    const auto width = [&](const std::string& text) { return canvas.textWidth(text); };
    t.figureLines = splitToWidth(separationText(figures), textRoom, width);
    return t;
}

// The top of the pattern tuple box: under the separation figures and the run's three time lines.
int32_t patternBoxTop(const Rect& main, int32_t lh, size_t figureLines) {
    int32_t y = main.top + 10 * lh + 1 + static_cast<int32_t>(figureLines) * (lh + 1);
    y += 2 * lh + 2;
    y += lh + 1;
    y += 2 * lh + 2;
    return y + 3 * lh + 3;
}

// The pattern tuple box under the texts, with its top-left corner at (x0, y): the stored
// tuples (task 40) at their full width, or the active tuple fitted into the room left of the
// plot. Returns the box height, 0 when there is no box.
int32_t drawPatternTupleBox(Canvas& canvas, const RestErrorHeader& errors,
                            const SeriesHeader& series, const SeriesViewLayout& v, const GraphGeometry& g,
                            int16_t amplitude, int32_t x0, int32_t y) {
    const int32_t lh = v.lh;
    const bool stored = isTask(errors.wTaskType, TaskType::tupleRecognition);
    const char* caption = stored ? " pattern tuples " : " pattern tuple ";
    const int32_t cx = canvas.textWidth(caption), cy = canvas.metrics().height;
    PatternBox box;
    if (stored) {
        int32_t m = 0;
        if (!storedTupleBox(v, series, cx, x0, y, box, m)) return 0;
        canvas.rectangle(box.outline(lh));
        for (int32_t t = 0; t < m; ++t) {
            const int32_t rowTop = storedRowTop(box, t);
            for (int32_t k = 0; k < series.selectedSubsetSize[t]; ++k)
                graph::drawEtalonGlyph(canvas, lh, etalonOf(series, series.selectedSubsetList[t][k]), amplitude, 0,
                                       box.glyphCell(k, rowTop, lh));
        }
    } else {
        const int32_t s = series.lpSelectedSubset ? series.wSelectedSubsetSize : 0;
        // The box may take the room between the texts' left edge and the plot.
        SeriesViewLayout room = v;
        room.plotW = g.plotLeft - 2 * (v.leftOff / 4 + 1) - x0;
        if (!singlePatternBox(room, s, cx, box)) return 0;
        box.left = x0;
        box.top = y;
        canvas.rectangle(box.outline(lh));
        for (int32_t k = 0; k < s; ++k)
            graph::drawEtalonGlyph(canvas, lh, etalonOf(series, series.lpSelectedSubset[k]), amplitude, 0,
                                   box.glyphCell(k, box.top + box.gy, lh));
    }
    textOnEdge(canvas, box.left + box.bw - cx - 10, box.top - (cy / 2 + cy / 4), caption);
    return box.bh;
}

// A curve drawn `strokes` times, each stroke kept between the plot's top and bottom edges (a
// fixed upper bound below the data would otherwise send it over the texts above the plot).
void drawCurve(Canvas& canvas, const Curve& c, int32_t top, int32_t bottom) {
    static constexpr GraphPoint shifts3[] = {{0, 0}, {1, 0}, {0, 1}};
    static constexpr GraphPoint shifts2[] = {{0, 0}, {0, 1}};
    const GraphPoint* shifts = c.strokes == 3 ? shifts3 : shifts2;
    for (int s = 0; s < c.strokes; ++s) {
        const GraphPoint d = shifts[s];
        for (size_t k = 1; k < c.points.size(); ++k) {
            GraphPoint a = c.points[k - 1], b = c.points[k];
            if (a.y < top && b.y < top) continue;
            // Cut a segment that leaves the plot upwards at the top edge.
            auto cut = [&](GraphPoint& out, const GraphPoint& in) {
                out.x = in.x + static_cast<int32_t>(int64_t{out.x - in.x} * (top - in.y) / (out.y - in.y));
                out.y = top;
            };
            if (a.y < top) cut(a, b);
            if (b.y < top) cut(b, a);
            a.y = std::min(a.y, bottom);
            b.y = std::min(b.y, bottom);
            canvas.moveTo(a.x + d.x, a.y + d.y);
            canvas.lineTo(b.x + d.x, b.y + d.y);
        }
    }
}

}  // namespace

}  // namespace simgraph

bool drawSimulationGraphs(const PaintContext& context, Canvas& canvas, uint16_t wAmplitude, int32_t kind,
                          uint16_t wRequiredCount, const uint16_t* lpRequiredList, const RestErrorHeader* errors,
                          const SeriesHeader* series) {
    using namespace simgraph;
    const Rect& main = context.layout.rcMain;
    const int32_t lh = context.layout.lineHeight;
    canvas.setPen(kBlack);
    canvas.setBrush(kWhite);
    canvas.setTextColor(kBlack);

    const SeriesViewLayout v = layOutSeriesView(main, lh, wRequiredCount, false);
    if (!errors || !series) {
        graph::outlineInclusive(canvas, main);
        return true;
    }
    const int16_t amplitude16 = static_cast<int16_t>(wAmplitude);
    const SeparationFigures figures = separationFigures(*errors, *series, wRequiredCount, lpRequiredList);
    Normalizers norms;
    try {
        norms = makeNormalizers(kind, errors->wVariousPulses, *series, figures);
    } catch (const std::bad_alloc&) {
        return false;  // no room for the normalisers: nothing is drawn
    }

    graph::outlineInclusive(canvas, main);

    // Header lines on the top edge and down the left side.
    int32_t y = main.top - lh / 2;
    bool onEdge = true;
    for (const std::string& line : headerLines(*errors, *series, amplitude16, kind)) {
        if (onEdge)
            textOnEdge(canvas, main.left + 10, y, line);
        else if (!line.empty())
            canvas.textOut(main.left + 10, y, line);
        onEdge = false;
        y += lh + 1;
    }

    // The alphabet box of the etalons the run used.
    const int32_t a = glyphAmplitude(amplitude16, series->wNoiseSigma);
    canvas.rectangle({v.boxLeft, v.boxTop, v.boxLeft + v.boxW + 1, v.boxTop + v.boxH + 1});
    textOnEdge(canvas, v.boxLeft + 7, v.boxTop - v.topOff, alphabetTitleText(wRequiredCount, v.boxW));
    for (int32_t k = 0; lpRequiredList && k < wRequiredCount; ++k)
        graph::drawEtalonGlyph(canvas, lh, etalonOf(*series, lpRequiredList[k]), static_cast<int16_t>(a), 0,
                               alphabetCell(v, k));

    // Separation figures and the run's times. The figures are broken at their commas when the
    // line would reach the value labels left of the plot.
    const int32_t x0 = v.x0;
    const GraphGeometry g = graphGeometry(v, errors->wNoiseLevels);
    const TextMetrics fm = canvas.metrics();
    const int32_t fw = fm.averageWidth, sh = fm.height;
    const SideTexts side = layOutSideTexts(canvas, context.settings, main, x0, g, kind, *errors, norms, figures);
    const int32_t Z = side.Z;
    const std::vector<AxisLabel>& values = side.values;
    y = main.top + 10 * lh + 1;
    for (const std::string& line : side.figureLines) {
        canvas.textOut(x0, y, line);
        y += lh + 1;
    }
    y += 2 * lh + 2;
    canvas.textOut(x0, y, calendarText(errors->startTime));
    y += lh + 1;
    canvas.textOut(x0, y, calendarText(errors->endTime));
    y += 2 * lh + 2;
    canvas.textOut(x0, y, elapsedTimeText(static_cast<int64_t>(errors->endTime) - errors->startTime));
    y += 3 * lh + 3;

    if (isTupleSeries(errors->wSeriesType)) {
        const int32_t bh = drawPatternTupleBox(canvas, *errors, *series, v, g, static_cast<int16_t>(a), x0, y);
        if (bh > 0) y += bh + 2 * v.topOff;
    }

    // The measure's formula, in Greek letters.
    if (kind == 0 || kind == 1) canvas.textOut(x0, y, toGreek("e(s)=E||C-<C>||2/||C||2"));
    if (kind == 2 || kind == 3) canvas.textOut(x0, y, toGreek("e(s)=E||h-<h>||2/||h||2"));
    y += fm.height;

    // The labels' font: the height asked for and the height obtained.
    canvas.textOut(x0, y, formatted(" %d -> %d", g.fh, fm.height));

    if (!g.valid) return true;
    const int32_t base = g.plotTop + g.plotH;
    canvas.setPen(kBlack);
    graph::outlineInclusive(canvas, {g.plotLeft, g.plotTop, g.plotLeft + g.plotW - 1, base - 1});
    graph::outlineInclusive(canvas, {g.plotLeft - 1, g.plotTop - 1, g.plotLeft + g.plotW, base});
    for (int32_t gy = base; gy >= g.plotTop; gy -= g.gridStep)
        for (int32_t x = g.plotLeft; x <= g.plotLeft + g.plotW; x += 4) canvas.setPixel(x, gy, kBlack);
    for (int32_t gx = g.plotLeft; gx <= g.plotLeft + g.plotW; gx += 2 * g.levelStep)
        for (int32_t yy = base; yy >= g.plotTop; yy -= 4) canvas.setPixel(gx, yy, kBlack);

    const std::vector<AxisLabel> levels = levelLabels(*errors, g, lh, fw, sh);
    for (const AxisLabel& label : levels) canvas.textOut(label.at.x, label.at.y, toGreek(label.text));
    const AxisLabel sigmaLabel = levels.empty() ? AxisLabel{} : levels.back();
    for (const AxisLabel& label : values) canvas.textOut(label.at.x, label.at.y, label.text);

    std::vector<Curve> curves = errorCurves(kind, *errors, norms, g, Z, sh);
    // The labels stay one above the other between the plot's top edge and its bottom line, and
    // above the sigma under the axis when that one reaches into their column.
    int32_t lowest = base;
    const int32_t column = g.plotLeft + g.plotW + g.levelStep;
    int32_t columnWidth = 0;
    for (const Curve& c : curves) columnWidth = std::max(columnWidth, canvas.textWidth(toGreek(c.label)));
    if (!sigmaLabel.text.empty() && sigmaLabel.at.x < column + columnWidth &&
        sigmaLabel.at.x + canvas.textWidth(toGreek(sigmaLabel.text)) > column)
        lowest = std::min(lowest, sigmaLabel.at.y - sh);
    spreadLabels(curves, sh, g.plotTop - sh, lowest);
    for (const Curve& c : curves) {
        drawCurve(canvas, c, g.plotTop, base);
        if (!c.label.empty()) canvas.textOut(c.labelAt.x, c.labelAt.y, toGreek(c.label));
    }
    for (const Curve& c : boundCurves(kind, *errors, *series, figures, g, Z)) drawCurve(canvas, c, g.plotTop, base);
    return true;
}

bool simulationPatternTupleRows(const Canvas& canvas, const LayoutState& layout, const Settings& settings,
                                int32_t kind, uint16_t wRequiredCount, const uint16_t* lpRequiredList,
                                const RestErrorHeader* errors, const SeriesHeader* series, std::vector<Rect>& rows) {
    using namespace simgraph;
    if (!errors || !series || errors->wTaskType != 40) return false;
    if (errors->wSeriesType != 36 && errors->wSeriesType != 40) return false;
    const Rect& main = layout.rcMain;
    const SeriesViewLayout v = layOutSeriesView(main, layout.lineHeight, wRequiredCount, false);
    const SeparationFigures figures = separationFigures(*errors, *series, wRequiredCount, lpRequiredList);
    Normalizers norms;
    try {
        norms = makeNormalizers(kind, errors->wVariousPulses, *series, figures);
    } catch (const std::bad_alloc&) {
        return false;  // nothing is drawn
    }
    const GraphGeometry g = graphGeometry(v, errors->wNoiseLevels);
    const SideTexts side = layOutSideTexts(canvas, settings, main, v.x0, g, kind, *errors, norms, figures);
    PatternBox box;
    int32_t m = 0;
    const int32_t y = patternBoxTop(main, layout.lineHeight, side.figureLines.size());
    if (!storedTupleBox(v, *series, canvas.textWidth(" pattern tuples "), v.x0, y, box, m)) return false;
    rows.assign(static_cast<size_t>(m), Rect{});
    for (int32_t t = 0; t < m; ++t) rows[static_cast<size_t>(t)] = storedRowRect(box, t);
    return true;
}
