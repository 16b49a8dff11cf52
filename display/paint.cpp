#include "display/paint.h"

#include <cstdio>

#include "display/views.h"

namespace {
constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};
constexpr Color kMarkGrey{163, 163, 163};
}  // namespace

void drawOptionBox(Canvas& canvas, int32_t lh, const Rect& box, std::array<Rect, 3>& items, const char* title,
                   int count, const int32_t* values, int markedIndex, int32_t currentValue) {
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
    canvas.textOut(x - 5, T - lh / 2, title);

    int32_t y = T + lh + lh / 2;
    std::array<int32_t, 3> tops{};
    char text[32];
    for (int i = 0; i < count && i < 3; ++i) {
        canvas.setPen(kBlack);
        canvas.setBrush(kWhite);
        canvas.ellipse({x, y, x + lh, y + lh});
        std::snprintf(text, sizeof text, " %5d ", values[i]);
        canvas.textOut(x + 2 * lh, y, text);
        items[i] = {x, y, x + w - 20, y + lh + lh / 2 - 1};
        tops[i] = y;
        y += lh + lh / 2;
    }
    if (count <= 0) return;
    int k = markedIndex - 1;
    if (k < 0 || k >= count || k >= 3) k = 0;
    const Color mark = currentValue == values[k] ? kBlack : kMarkGrey;
    canvas.setPen(mark);
    canvas.setBrush(mark);
    canvas.ellipse({x + d, tops[k] + d, x + lh - d, tops[k] + lh - d});
    canvas.setPen(kBlack);
    canvas.setBrush(kWhite);
}

void paintMainWindow(Canvas& canvas, const Rect& R, Settings& s, LayoutState& layout,
                     const SubsetPanelState& panel, const PanelsForPaint* panels) {
    const TextMetrics metrics = canvas.metrics();
    layout.aveCharWidth = metrics.averageWidth;
    layout.maxCharWidth = metrics.maxWidth;
    const bool toggle = triesCandidateList(s.wTaskType);
    // The font's height includes its external leading here; the pitch is one pixel less.
    layOutWindow(R, metrics.height - 1, s.wAlphabetSize, toggle, layout);
    canvas.setPen(kBlack);
    canvas.setBrush(kWhite);
    canvas.setTextColor(kBlack);

    PaintContext context{s, layout, panel};
    const int mode = s.viewMode;
    switch (mode) {
        case 5:
            drawEtalonView(context, canvas);
            break;
        case 6:
            if (s.wDisplayContent == 2) {
                drawSimulationGraphs(context, canvas, s.wAmplitude, s.simGraphKind, s.wRequiredCount,
                                     s.lpRequiredList.get(), s.lpRestErrorHeader, s.lpSeriesHeader);
            } else {
                if (s.wTaskType != TaskType::seriesProcessing || isPlainPulseSeries(code(s.seriesType)))
                    drawSeriesView(context, canvas, s.wRequiredCount, s.lpRequiredList.get(), s.lpChainsHeader,
                                   s.lpSeriesHeader);
                s.noEraseOnInvalidate = 0;
            }
            canvas.drawImage(103, layout.rcRestartButton.left, layout.rcRestartButton.top);
            break;
        case 9:
            if (panels && panels->panel && panels->marks && panels->subsetLayout &&
                prepareSubsetPanel(*panels->panel, *panels->marks).ok) {
                if (s.wTaskType == TaskType::tupleRecognition)
                    drawTupleSubsetPanel(canvas, layout, *panels->subsetLayout, *panels->panel, *panels->marks,
                                         static_cast<int16_t>(s.wAmplitude), s.wRequiredCount, s.lpRequiredList.get(),
                                         s.lpSeriesHeader);
                else
                    drawSubsetPanel(canvas, layout, *panels->subsetLayout, *panels->panel, *panels->marks,
                                    static_cast<int16_t>(s.wAmplitude), s.wRequiredCount, s.lpRequiredList.get(),
                                    s.lpSeriesHeader);
            }
            break;
        case 10:
            if (panels && panels->params)
                drawParameterPanel(canvas, layout, *panels->params, s.lpSeriesHeader, panels->shell);
            break;
        default:
            break;
    }
    if (mode == 5 || mode == 6 || mode == 9 || mode == 10) {
        canvas.drawImage(101, layout.rcNextButton.left, layout.rcNextButton.top);
        canvas.drawImage(102, layout.rcExitButton.left, layout.rcExitButton.top);
        if (toggle) {
            int required = 0;
            for (int n = 1; n <= s.wAlphabetSize && n <= alphabetCapacity; ++n)
                if (s.requiredFlags[n - 1] == 1) ++required;
            layout.selectAllState = 2 * required > s.wAlphabetSize ? 0 : 1;
            canvas.drawImage(layout.selectAllState ? 109 : 108, layout.rcSelectAllButton.left,
                             layout.rcSelectAllButton.top);
        }
    }

    const bool cutoffs = isCutOffSeries(s.seriesType);
    layOutOptionBoxes(R, cutoffs, layout);
    const int32_t lh = layout.lineHeight;
    drawOptionBox(canvas, lh, layout.rcSeriesLengthBox, layout.rcSeriesLengthItems, " series length: ",
                  seriesSizeTable.count, seriesSizeTable.values.data(), s.seriesSizeIndex,
                  static_cast<int32_t>(s.dwSeriesSize));
    drawOptionBox(canvas, lh, layout.rcNoiseLevelBox, layout.rcNoiseLevelItems, " noise level: ",
                  noiseLevelTable.count, noiseLevelTable.values.data(), s.noiseLevelIndex, s.wNoiseLevel);
    if (cutoffs)
        drawOptionBox(canvas, lh, layout.rcLostLevelBox, layout.rcLostLevelItems, " lost data level: ",
                      lostLevelTable.count, lostLevelTable.values.data(), s.lostLevelIndex, s.wLostLevel);
}
