#include "display/paint.h"

#include <cstdio>

#include "display/graph_primitives.h"
#include "display/views.h"

namespace {
constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};
constexpr Color kMarkGrey{163, 163, 163};

bool showsButtons(ViewMode mode) {
    return mode == ViewMode::etalons || mode == ViewMode::results || mode == ViewMode::subsetPanel || mode == ViewMode::parametersPanel;
}

}  // namespace

std::array<Rect, 3> optionBoxItems(const Rect& box, int32_t lh, int count) {
    std::array<Rect, 3> items{};
    const int32_t x = box.left + 10;
    const int32_t w = box.right - box.left + 1;
    int32_t y = box.top + lh + lh / 2;
    for (int i = 0; i < count && i < 3; ++i) {
        items[i] = {x, y, x + w - 20, y + lh + lh / 2 - 1};
        y += lh + lh / 2;
    }
    return items;
}

void drawOptionBox(Canvas& canvas, int32_t lh, const Rect& box, const char* title, int count, const int32_t* values,
                   int markedIndex, int32_t currentValue) {
    const int32_t L = box.left, T = box.top;
    const int32_t w = box.right - box.left + 1, h = box.bottom - box.top + 1;
    canvas.setPen(kBlack);
    canvas.moveTo(L, T);
    canvas.lineTo(L, T + h);
    canvas.lineTo(L + w, T + h);
    canvas.lineTo(L + w, T);
    canvas.lineTo(L, T);

    const int32_t x = L + 10;
    int32_t d = (lh + 1) / 8;
    if (d < 1) d = 1;
    canvas.setTextColor(kBlack);
    // The title sits on the top edge on the background colour, so that the frame stops at it.
    graph::textOutOpaque(canvas, x - 5, T - lh / 2, title);

    const std::array<Rect, 3> items = optionBoxItems(box, lh, count);
    char text[32];
    for (int i = 0; i < count && i < 3; ++i) {
        const int32_t y = items[i].top;
        canvas.setPen(kBlack);
        canvas.setBrush(kWhite);
        canvas.ellipse({x, y, x + lh, y + lh});
        std::snprintf(text, sizeof text, " %5d ", values[i]);
        canvas.textOut(x + 2 * lh, y, text);
    }
    if (count <= 0) return;
    int k = markedIndex - 1;
    if (k < 0 || k >= count || k >= 3) k = 0;
    const Color mark = currentValue == values[k] ? kBlack : kMarkGrey;
    canvas.setPen(mark);
    canvas.setBrush(mark);
    canvas.ellipse({x + d, items[k].top + d, x + lh - d, items[k].top + lh - d});
    canvas.setPen(kBlack);
    canvas.setBrush(kWhite);
}

void layOutMainWindow(const Rect& R, const TextMetrics& metrics, const Settings& s, LayoutState& layout) {
    layout.aveCharWidth = metrics.averageWidth;
    layout.maxCharWidth = metrics.maxWidth;
    const bool toggle = triesCandidateList(s.wTaskType);
    // The font's height includes its external leading here; the pitch is one pixel less.
    layOutWindow(R, metrics.height - 1, s.wAlphabetSize, toggle, layout);
    if (showsButtons(s.viewMode) && toggle) {
        int required = 0;
        for (int n = 1; n <= s.wAlphabetSize && n <= alphabetCapacity; ++n)
            if (s.requiredFlags[n - 1] == 1) ++required;
        layout.selectAllState = 2 * required > s.wAlphabetSize ? 0 : 1;
    }
    const bool cutoffs = isCutOffSeries(s.seriesType);
    layOutOptionBoxes(R, cutoffs, layout);
    const int32_t lh = layout.lineHeight;
    layout.rcSeriesLengthItems = optionBoxItems(layout.rcSeriesLengthBox, lh, seriesSizeTable.count);
    layout.rcNoiseLevelItems = optionBoxItems(layout.rcNoiseLevelBox, lh, noiseLevelTable.count);
    if (cutoffs) layout.rcLostLevelItems = optionBoxItems(layout.rcLostLevelBox, lh, lostLevelTable.count);
}

void paintWindowControls(Canvas& canvas, const Settings& s, const LayoutState& layout) {
    const ViewMode mode = s.viewMode;
    if (mode == ViewMode::results) canvas.drawImage(103, layout.rcRestartButton.left, layout.rcRestartButton.top);
    if (showsButtons(mode)) {
        canvas.drawImage(101, layout.rcNextButton.left, layout.rcNextButton.top);
        canvas.drawImage(102, layout.rcExitButton.left, layout.rcExitButton.top);
        if (triesCandidateList(s.wTaskType))
            canvas.drawImage(layout.selectAllState ? 109 : 108, layout.rcSelectAllButton.left,
                             layout.rcSelectAllButton.top);
    }
    const int32_t lh = layout.lineHeight;
    drawOptionBox(canvas, lh, layout.rcSeriesLengthBox, " series length: ", seriesSizeTable.count,
                  seriesSizeTable.values.data(), s.seriesSizeIndex, static_cast<int32_t>(s.dwSeriesSize));
    drawOptionBox(canvas, lh, layout.rcNoiseLevelBox, " noise level: ", noiseLevelTable.count,
                  noiseLevelTable.values.data(), s.noiseLevelIndex, s.wNoiseLevel);
    if (isCutOffSeries(s.seriesType))
        drawOptionBox(canvas, lh, layout.rcLostLevelBox, " lost data level: ", lostLevelTable.count,
                      lostLevelTable.values.data(), s.lostLevelIndex, s.wLostLevel);
}

bool paintSimulationWindow(Canvas& canvas, const Settings& s) {
    LayoutState layout;
    layOutMainWindow({0, 0, canvas.width(), canvas.height()}, canvas.metrics(), s, layout);
    simulationPatternTupleRows(canvas, layout, s, s.simGraphKind, s.wRequiredCount, s.lpRequiredList.get(),
                               s.lpRestErrorHeader.get(), s.lpSeriesHeader.get(), layout.rcPatternTuples);
    canvas.setPen(graph::kBlack);
    canvas.setBrush(graph::kWhite);
    canvas.setTextColor(graph::kBlack);
    const PaintContext context{s, layout, 0};
    const bool drawn = drawSimulationGraphs(context, canvas, s.wAmplitude, s.simGraphKind, s.wRequiredCount,
                                            s.lpRequiredList.get(), s.lpRestErrorHeader.get(), s.lpSeriesHeader.get());
    paintWindowControls(canvas, s, layout);
    return drawn;
}
