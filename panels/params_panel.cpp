#include "panels/params_panel.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "core/settings.h"
#include "panels/params_panel_arithmetic.h"

using namespace params_panel_detail;

namespace {

/// num / den rounded down; den must be positive.
int64_t floorDiv(int64_t num, int64_t den) {
    int64_t q = num / den;
    if (num % den != 0 && num < 0) --q;
    return q;
}

int64_t divisorOfSteps(const ParamsHeader& r) {
    return std::max<int64_t>(int64_t{r.wMaxPulses} - 1, 1);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The record.

std::unique_ptr<ParamsHeader> getParamsHeader(MessageSink& window, const SeriesHeader* series,
                                              std::unique_ptr<ParamsHeader> old) {
    if (!series) return old;
    const int64_t N = std::max<int32_t>(series->dwSeriesSize, 0);
    const int64_t L = series->wImpulseSize;
    const int64_t tmin = series->wTmin;
    const int64_t tmax = series->wTmax;
    // A series always passed its limits; without them there are no bounds to show.
    if (tmin == 0 || tmax == 0) return old;
    int64_t mmin = (N + L - 1) / tmax;
    if (mmin < 1) mmin = 1;  // a series holds at least one pulse
    const int64_t mmax = (N + tmin - L) / tmin;
    const int64_t areas = std::max<int64_t>(mmax - mmin + 1, 0);

    std::unique_ptr<ParamsHeader> record = std::move(old);
    if (!record) {
        try {
            record = std::make_unique<ParamsHeader>();
        } catch (const std::bad_alloc&) {
            window.messageBox("Нет памяти для newParamsHeader!", kGetParamsHeaderCaption, MessageIcon::None);
            return nullptr;
        }
    }
    if (areas > record->wAreasCapacity) {
        std::vector<Rect> grown;
        try {
            if (areas > std::numeric_limits<int32_t>::max()) throw std::bad_alloc();
            grown.resize(static_cast<size_t>(areas));
        } catch (const std::bad_alloc&) {
            window.messageBox("Нет памяти для newParamsHeader->pulsesSelectedAreas!", kGetParamsHeaderCaption,
                              MessageIcon::None);
            return nullptr;
        }
        record->pulsesSelectedAreas = std::move(grown);
        record->wAreasCapacity = static_cast<int32_t>(areas);
        record->dwAllocatedSize = static_cast<uint32_t>(N);
    }

    ParamsHeader& r = *record;
    r.dwSeriesSize = static_cast<uint32_t>(N);
    r.wTmin = static_cast<int32_t>(tmin);
    r.wTmax = static_cast<int32_t>(tmax);
    r.wImpulseSize = static_cast<int32_t>(L);
    r.wImpulseQuantity = series->wImpulseQuantity;
    r.wMaxPulses = clamp32(mmax);
    r.wMinPulses = clamp32(mmin);
    r.aLow = 0;
    r.aHigh = clamp32(tmax - L);
    r.bLow = clamp32(N - tmax);
    r.bHigh = clamp32(N - L);
    r.wAreasCount = static_cast<int32_t>(areas);
    r.lastValues = {r.wImpulseQuantity, r.aHigh, r.bLow, r.wTmin, r.wTmax, r.wMaxPulses, r.wMinPulses};
    std::fill(r.pulsesSelectedAreas.begin(), r.pulsesSelectedAreas.end(), Rect{});
    r.rcHandleHigh = r.rcHandleLow = Rect{};
    r.hoverHandleHigh = r.hoverHandleLow = r.dragHandleHigh = r.dragHandleLow = 0;
    r.hoverLineTmax = r.dragLineTmax = r.hoverLineTmin = r.dragLineTmin = 0;
    r.lineTmax = r.lineTmin = {0, 0, 0, 0, -1};
    r.redrawOnly = 0;
    return record;
}

std::unique_ptr<ParamsHeader> getParamsHeader(Shell& window, const SeriesHeader* series,
                                              std::unique_ptr<ParamsHeader> old) {
    std::unique_ptr<ParamsHeader> record = getParamsHeader(static_cast<MessageSink&>(window), series, std::move(old));
    if (record && series) window.setEditText(tminEditText(*record));
    return record;
}

std::string tminEditText(const ParamsHeader& record) { return format("%d", record.wTmin); }

// ---------------------------------------------------------------------------------------------
// Geometry.

int32_t editedMinPulses(const ParamsHeader& r) {
    if (r.wTmax == 0) return 0;
    return clamp32((int64_t{r.bLow} + r.wTmax - r.aHigh - 1) / r.wTmax + 1);
}

int32_t editedMaxPulses(const ParamsHeader& r) {
    if (r.wTmin == 0) return 0;
    return clamp32((int64_t{r.bHigh} - r.aLow) / r.wTmin + 1);
}

int32_t halfStepX(const ParamsHeader& r, int64_t h) {
    const int64_t wg = int64_t{r.rcGraph.right} - r.rcGraph.left;
    return clamp32(r.rcGraph.left + (h - 2) * wg / (2 * divisorOfSteps(r)));
}

int32_t pulseX(const ParamsHeader& r, int32_t j) { return halfStepX(r, 2 * int64_t{j}); }

int32_t pulseIndexAtX(const ParamsHeader& r, int32_t x) {
    const int64_t wg = int64_t{r.rcGraph.right} - r.rcGraph.left;
    if (wg <= 0) return 1;
    return clamp32(roundDiv((int64_t{x} - r.rcGraph.left) * divisorOfSteps(r), wg) + 1);
}

int32_t positionY(const ParamsHeader& r, int64_t v) {
    const int64_t span = int64_t{r.bHigh} - r.aLow;
    const int64_t hg = int64_t{r.rcGraph.bottom} - r.rcGraph.top;
    if (span <= 0) return r.rcGraph.bottom;
    return clamp32(r.rcGraph.bottom - (v - r.aLow) * hg / span);
}

int32_t markerValueAtY(const ParamsHeader& r, int32_t y) {
    const int64_t height = int64_t{r.rcGraph.bottom} - r.rcGraph.top + 1;
    if (height <= 0) return r.aLow;
    const int64_t v = r.aLow + (int64_t{r.rcGraph.bottom} - y) * (int64_t{r.bHigh} - r.aLow) / height;
    return clamp32(std::clamp<int64_t>(v, r.aLow, std::max(r.aLow, r.bHigh)));
}

namespace {

/// y of a doubled position value (2 v), so that half steps of the lines stay exact.
int32_t positionY2(const ParamsHeader& r, int64_t v2) {
    const int64_t span = int64_t{r.bHigh} - r.aLow;
    const int64_t hg = int64_t{r.rcGraph.bottom} - r.rcGraph.top;
    if (span <= 0) return r.rcGraph.bottom;
    return clamp32(r.rcGraph.bottom - (v2 - 2 * int64_t{r.aLow}) * hg / (2 * span));
}

/// The last half step at or before the crossing num / den, within 1 .. 2K + 1; 2K + 1 when the
/// lines do not close in (den <= 0).
int64_t crossingHalfStep(int64_t num, int64_t den, int64_t K) {
    if (den <= 0) return 2 * K + 1;
    return std::clamp<int64_t>(floorDiv(2 * num, den), 1, 2 * K + 1);
}

/// The pixel of the point where two bounding lines cross: half step hNum / hDen, doubled
/// position value vNum / vDen (both exact, rounded only here).
PanelSegment crossingPoint(const ParamsHeader& r, int64_t hNum, int64_t hDen, int64_t vNum, int64_t vDen) {
    const int64_t wg = int64_t{r.rcGraph.right} - r.rcGraph.left;
    const int64_t hg = int64_t{r.rcGraph.bottom} - r.rcGraph.top;
    const int64_t span = int64_t{r.bHigh} - r.aLow;
    const int64_t x = r.rcGraph.left + (hNum - 2 * hDen) * wg / (2 * divisorOfSteps(r) * hDen);
    const int64_t y = span <= 0 ? r.rcGraph.bottom
                                : r.rcGraph.bottom - (vNum - 2 * int64_t{r.aLow} * vDen) * hg / (2 * span * vDen);
    return {clamp32(x), clamp32(y), clamp32(x), clamp32(y)};
}

}  // namespace

BoundingLines boundingLines(const ParamsHeader& r) {
    BoundingLines out;
    const int64_t K = r.wImpulseQuantity;
    if (K < 1 || r.bHigh <= r.aLow) return out;
    const int64_t tmin = r.wTmin, tmax = r.wTmax, a = r.aLow, ap = r.aHigh, bm = r.bLow, b = r.bHigh;
    const int64_t last = 2 * K + 1;

    // Upper pair: a+ + (j - 1) Tmax meets b - (K - j) Tmin at j = (b - a+ + Tmax - K Tmin) / (Tmax - Tmin).
    const int64_t hu = crossingHalfStep(b - ap + tmax - K * tmin, tmax - tmin, K);
    auto upperTmax = [&](int64_t h) { return 2 * ap + (h - 2) * tmax; };
    auto upperTmin = [&](int64_t h) { return 2 * b - (2 * K - h) * tmin; };
    out.upperTmax = {halfStepX(r, 1), positionY2(r, upperTmax(1)), halfStepX(r, hu), positionY2(r, upperTmax(hu))};
    out.upperTmin = {halfStepX(r, hu), positionY2(r, upperTmin(hu)), halfStepX(r, last), positionY2(r, upperTmin(last))};
    // Where the lines cross inside the diagram, both end at the crossing itself: at half step
    // 2 num / den, where a+ + (j - 1) Tmax is the same as b - (K - j) Tmin.
    auto meet = [&](PanelSegment& first, PanelSegment& second, int64_t num, int64_t den, int64_t start2,
                    int64_t slope) {
        if (den <= 0 || 2 * num <= den || 2 * num >= last * den) return;
        // The first line's doubled value at the crossing: start2 + (h - 2) slope, h = 2 num / den.
        const PanelSegment p = crossingPoint(r, 2 * num, den, start2 * den + (2 * num - 2 * den) * slope, den);
        first.x1 = second.x0 = p.x0;
        first.y1 = second.y0 = p.y0;
    };
    meet(out.upperTmax, out.upperTmin, b - ap + tmax - K * tmin, tmax - tmin, 2 * ap, tmax);

    // Lower pair: a + (j - 1) Tmin meets b- - (K - j) Tmax at j = (a - Tmin + K Tmax - b-) / (Tmax - Tmin).
    const int64_t hl = crossingHalfStep(a - tmin + K * tmax - bm, tmax - tmin, K);
    auto lowerTmin = [&](int64_t h) { return 2 * a + (h - 2) * tmin; };
    auto lowerTmax = [&](int64_t h) { return 2 * bm - (2 * K - h) * tmax; };
    out.lowerTmin = {halfStepX(r, 1), positionY2(r, lowerTmin(1)), halfStepX(r, hl), positionY2(r, lowerTmin(hl))};
    out.lowerTmax = {halfStepX(r, hl), positionY2(r, lowerTmax(hl)), halfStepX(r, last), positionY2(r, lowerTmax(last))};
    meet(out.lowerTmin, out.lowerTmax, a - tmin + K * tmax - bm, tmax - tmin, 2 * a, tmin);

    out.upperCrossing = static_cast<int32_t>(hu);
    out.lowerCrossing = static_cast<int32_t>(hl);
    out.valid = true;
    return out;
}

DiagramGeometry diagramGeometry(const ParamsHeader& r, int32_t mx, int32_t my, int32_t textHeight) {
    DiagramGeometry g;
    const Rect& gr = r.rcGraph;
    g.Wg = gr.right - gr.left;
    g.Hg = gr.bottom - gr.top;
    g.tolerance = my / 2 + 1;
    g.pulseLabelY = gr.bottom + 3;
    g.countLabelY = gr.bottom + 3 + textHeight;
    // Nothing to plot without a positive area, a position range and at least one pulse count.
    g.drawable = g.Wg > 0 && g.Hg > 0 && r.bHigh > r.aLow && r.wMaxPulses >= 1 && r.wTmin > 0 && r.wTmax > 0;
    if (!g.drawable) return g;

    const int32_t K = std::max(r.wImpulseQuantity, 0);
    g.pulseTicks.reserve(static_cast<size_t>(K));
    for (int32_t j = 1; j <= K; ++j) g.pulseTicks.push_back(pulseX(r, j));
    const int32_t counts = std::max(r.wAreasCount, 0);
    for (int32_t i = 0; i < counts; ++i) {
        const int32_t M = r.wMinPulses + i;
        g.countTicks.push_back(pulseX(r, M));
        // From the midpoint to the previous tick to just before the midpoint to the next one.
        const int32_t left = halfStepX(r, 2 * int64_t{M} - 1);
        const int32_t right = std::max(left, halfStepX(r, 2 * int64_t{M} + 1) - 1);
        g.countAreas.push_back({left, g.countLabelY, right, g.countLabelY + textHeight - 1});
    }

    g.hasK = K >= 1;
    if (g.hasK) {
        const int32_t xK = pulseX(r, K), yB = positionY(r, r.bHigh), yA = positionY(r, r.aLow);
        g.topLine = {pulseX(r, 1), yB, xK, yB};
        g.kLine = {xK, yA, xK, yB};
        const int32_t yHigh = positionY(r, r.aHigh), yLow = positionY(r, r.bLow);
        g.guideHigh = {gr.left, yHigh, xK, yHigh};
        g.guideLow = {gr.left, yLow, xK, yLow};
        const int32_t band = my / 2 + 1;
        g.handleHigh = {gr.left - mx / 2, yHigh - band, xK, yHigh + band};
        g.handleLow = {gr.left - mx / 2, yLow - band, xK, yLow + band};
        g.lines = boundingLines(r);
    }
    return g;
}

PanelLayout layOutParameterPanel(const Rect& m, const PanelTextSizes& s) {
    PanelLayout p;
    const int32_t W = m.right - m.left + 1, H = m.bottom - m.top + 1;
    p.mx = W / 170;
    p.my = H / 131;
    const int32_t buttonHeight = 2 * s.lineHeight - 1;
    p.frame = {m.left + p.mx, m.top + p.my, m.right - p.mx, m.bottom - 3 * p.my - buttonHeight};
    const int32_t fw = p.frame.right - p.frame.left, fh = p.frame.bottom - p.frame.top;
    p.rcFrame = {p.frame.left + fw / 4, p.frame.top + fh / 8, p.frame.right - p.mx, p.frame.bottom - p.my};
    p.rcGraph = {p.rcFrame.left + s.valueBWidth + 2 * p.mx, p.rcFrame.top + 5 * p.my, p.rcFrame.right - 5 * p.mx,
                 p.rcFrame.bottom - 3 * s.lineHeight};

    // The values in a column left of the diagram, level with its frame.
    p.textX = p.frame.left + p.mx;
    p.textY = p.rcFrame.top;

    // " Tmin " and its edit control at the bottom left of the frame.
    const int32_t editHeight = s.lineHeight + 2;
    p.tminLabelX = p.frame.left + p.mx;
    p.tminEdit.top = p.frame.bottom - p.my - editHeight;
    p.tminLabelY = p.tminEdit.top + 1;
    p.tminEdit.left = p.tminLabelX + s.tminLabelWidth + s.aveCharWidth;
    p.tminEdit.right = p.tminEdit.left + s.editWidth - 1;
    p.tminEdit.bottom = p.tminEdit.top + editHeight - 1;

    const int32_t buttonWidth = s.buttonLabelWidth + 4 * s.aveCharWidth;
    const int32_t buttonTop = p.frame.bottom + s.lineHeight / 2;
    p.cancelButton = {p.frame.left, buttonTop, p.frame.left + buttonWidth - 1, buttonTop + buttonHeight - 1};
    const int32_t okLeft = p.cancelButton.right + 1 + 2 * s.aveCharWidth;
    p.okButton = {okLeft, buttonTop, okLeft + buttonWidth - 1, buttonTop + buttonHeight - 1};
    return p;
}
