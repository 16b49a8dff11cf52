#include "panels/params_panel.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "core/settings.h"

namespace {

constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};
constexpr Color kButtonShadow{125, 125, 125};
constexpr Color kButtonShade{165, 170, 165};

/// num / den rounded to nearest (halves away from zero); den must be positive.
int64_t roundDiv(int64_t num, int64_t den) {
    return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

/// num / den rounded down; den must be positive.
int64_t floorDiv(int64_t num, int64_t den) {
    int64_t q = num / den;
    if (num % den != 0 && num < 0) --q;
    return q;
}

int32_t clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

bool contains(const Rect& r, int32_t x, int32_t y) {
    return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}

/// The pulse count that a+ and b- need with maximum distance tmax.
int64_t neededPulses(const ParamsHeader& r, int64_t tmax) {
    if (r.bLow <= r.aHigh) return 1;
    return (int64_t{r.bLow} - r.aHigh + tmax - 1) / tmax + 1;
}

int64_t divisorOfSteps(const ParamsHeader& r) {
    return std::max<int64_t>(int64_t{r.wMaxPulses} - 1, 1);
}

std::string format(const char* fmt, int64_t a) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, static_cast<int>(a));
    return buffer;
}

std::string format(const char* fmt, int64_t a, int64_t b) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, static_cast<int>(a), static_cast<int>(b));
    return buffer;
}

std::string format(const char* fmt, int64_t a, int64_t b, int64_t c, int64_t d) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, fmt, static_cast<int>(a), static_cast<int>(b), static_cast<int>(c),
                  static_cast<int>(d));
    return buffer;
}

/// Reads a decimal number as the dialogs do: leading blanks, an optional sign, digits.
/// `digits` tells whether any digit was read.
int64_t readDecimal(const std::string& text, bool& digits) {
    const std::string field = text.substr(0, std::min<size_t>(text.size(), 100));
    size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t' || field[i] == '\n' || field[i] == '\v' ||
                                field[i] == '\f' || field[i] == '\r'))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    constexpr int64_t limit = int64_t{1} << 40;  // far beyond any value accepted
    int64_t magnitude = 0;
    digits = false;
    while (i < field.size() && field[i] >= '0' && field[i] <= '9') {
        magnitude = std::min(magnitude * 10 + (field[i] - '0'), limit);
        digits = true;
        ++i;
    }
    return negative ? -magnitude : magnitude;
}

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

// ---------------------------------------------------------------------------------------------
// Feasibility, mappings and hit tests.

bool tminFeasible(const ParamsHeader& r, int32_t v) {
    if (v <= 0 || v < r.wImpulseSize || v > r.wTmax || r.wTmax <= 0) return false;
    const int64_t K = r.wImpulseQuantity;
    return neededPulses(r, r.wTmax) <= K && K <= (int64_t{r.bHigh} - r.aLow) / v + 1;
}

bool tmaxFeasible(const ParamsHeader& r, int32_t v) {
    if (v <= r.wTmin || v > r.bLow || v <= 0 || r.wTmin <= 0) return false;
    const int64_t K = r.wImpulseQuantity;
    return neededPulses(r, v) <= K && K <= (int64_t{r.bHigh} - r.aLow) / r.wTmin + 1;
}

int32_t tmaxFromPoint(const ParamsHeader& r, int32_t x, int32_t y) {
    if (r.hoverLineTmax != 1) return 0;
    const Rect& g = r.rcGraph;
    const int64_t wg = int64_t{g.right} - g.left, hg = int64_t{g.bottom} - g.top;
    const int64_t span = int64_t{r.bHigh} - r.aLow;
    const int64_t num = (span * (int64_t{g.bottom} - y + 1) - (int64_t{r.aHigh} - r.aLow) * hg) * wg;
    const int64_t den = (int64_t{x} - g.left) * (int64_t{r.wMaxPulses} - 1) * hg;
    if (den <= 0) return 0;
    return clamp32(roundDiv(num, den));
}

int32_t tminFromPoint(const ParamsHeader& r, int32_t x, int32_t y) {
    if (r.hoverLineTmin != 1) return 0;
    const Rect& g = r.rcGraph;
    const int64_t wg = int64_t{g.right} - g.left, hg = int64_t{g.bottom} - g.top;
    const int64_t span = int64_t{r.bHigh} - r.aLow;
    const int64_t num = (int64_t{y} - g.top) * span * wg;
    const int64_t den = ((int64_t{r.wImpulseQuantity} - 1) * wg - (int64_t{x} - g.left) * (int64_t{r.wMaxPulses} - 1)) * hg;
    if (den <= 0) return 0;
    return clamp32(roundDiv(num, den));
}

bool onPanelLine(const std::array<int32_t, 5>& l, int32_t x, int32_t y) {
    const int64_t x0 = l[0], y0 = l[1], x1 = l[2], y1 = l[3], tolerance = l[4];
    if (tolerance < 0) return false;  // no line drawn
    if (x < std::min(x0, x1) || x > std::max(x0, x1)) return false;
    int64_t height = y0;
    if (x1 != x0) {
        const int64_t dx = x1 - x0;
        height = y0 + (dx > 0 ? roundDiv((x - x0) * (y1 - y0), dx) : roundDiv((x0 - x) * (y1 - y0), -dx));
    }
    return std::abs(y - height) <= tolerance;
}

bool onLineTmax(const ParamsHeader& r, int32_t x, int32_t y) { return onPanelLine(r.lineTmax, x, y); }
bool onLineTmin(const ParamsHeader& r, int32_t x, int32_t y) { return onPanelLine(r.lineTmin, x, y); }

int32_t pulseCountAreaAt(const ParamsHeader& r, int32_t x, int32_t y) {
    if (r.pulsesSelectedAreas.empty()) return -1;
    const int32_t n = std::min(r.wAreasCount, r.wAreasCapacity);
    for (int32_t i = 0; i < n; ++i)
        if (contains(r.pulsesSelectedAreas[i], x, y)) return i;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Editing.

PanelPress pressParameterPanel(ParamsHeader& r, int32_t x, int32_t y) {
    if (contains(r.rcCancelButton, x, y)) return PanelPress::Cancel;
    if (contains(r.rcOkButton, x, y)) return PanelPress::Ok;
    const int32_t area = pulseCountAreaAt(r, x, y);
    if (area >= 0) {
        r.wImpulseQuantity = r.wMinPulses + area;
        r.redrawOnly = 1;
        return PanelPress::PulseCount;
    }
    if (contains(r.rcHandleHigh, x, y)) {
        r.dragHandleHigh = 1;
        return PanelPress::HandleHigh;
    }
    if (contains(r.rcHandleLow, x, y)) {
        if (!r.dragHandleLow) r.dragHandleLow = 1;
        return PanelPress::HandleLow;
    }
    if (onLineTmin(r, x, y)) {
        r.dragLineTmin = 1;
        return PanelPress::LineTmin;
    }
    if (onLineTmax(r, x, y)) {
        r.dragLineTmax = 1;
        return PanelPress::LineTmax;
    }
    return PanelPress::None;
}

bool dragParameterPanel(ParamsHeader& r, int32_t x, int32_t y) {
    if (r.dragHandleHigh || r.dragHandleLow) {
        if (r.dragHandleHigh)
            r.aHigh = markerValueAtY(r, y);
        else
            r.bLow = markerValueAtY(r, y);
    } else if (r.dragLineTmin) {
        const int32_t v = tminFromPoint(r, x, y);
        if (tminFeasible(r, v))
            r.wTmin = v;
        else
            r.dragLineTmin = 0;
    } else if (r.dragLineTmax) {
        const int32_t v = tmaxFromPoint(r, x, y);
        if (tmaxFeasible(r, v))
            r.wTmax = v;
        else
            r.dragLineTmax = 0;
    } else {
        return false;
    }
    r.redrawOnly = 1;
    return true;
}

std::vector<PanelHoverChange> trackPanelHover(ParamsHeader& r, int32_t x, int32_t y) {
    std::vector<PanelHoverChange> changes;
    auto track = [&](int32_t& flag, bool inside, PanelTarget target) {
        if (inside && !flag) {
            flag = 1;
            changes.push_back({target, true});
        } else if (!inside && flag) {
            flag = 0;
            changes.push_back({target, false});
        }
    };
    track(r.hoverHandleHigh, contains(r.rcHandleHigh, x, y), PanelTarget::HandleHigh);
    track(r.hoverHandleLow, contains(r.rcHandleLow, x, y), PanelTarget::HandleLow);
    track(r.hoverLineTmin, onLineTmin(r, x, y), PanelTarget::LineTmin);
    track(r.hoverLineTmax, onLineTmax(r, x, y), PanelTarget::LineTmax);
    return changes;
}

bool releaseParameterPanel(ParamsHeader& r, int32_t x, int32_t y) {
    if (r.dragHandleHigh) {
        r.dragHandleHigh = 0;
        r.aHigh = markerValueAtY(r, y);
    } else if (r.dragHandleLow) {
        r.dragHandleLow = 0;
        r.bLow = markerValueAtY(r, y);
    } else if (r.dragLineTmin) {
        r.dragLineTmin = 0;
        const int32_t v = tminFromPoint(r, x, y);
        if (tminFeasible(r, v)) r.wTmin = v;
    } else if (r.dragLineTmax) {
        r.dragLineTmax = 0;
        const int32_t v = tmaxFromPoint(r, x, y);
        if (tmaxFeasible(r, v)) r.wTmax = v;
    } else {
        return false;
    }
    r.redrawOnly = 1;
    return true;
}

PanelCommit commitParameterPanel(const std::string& text, Settings& s, Shell* shell) {
    PanelCommit result;
    bool digits = false;
    const int64_t value = readDecimal(text, digits);
    if (!digits) {
        result.message = "Tmin must be a whole number; \"" + text.substr(0, 100) + "\" holds no digits.";
        return result;
    }
    if (value < 1 || value > 65535) {
        result.message = "Tmin must lie between 1 and 65535; " + std::to_string(value) + " was typed.";
        return result;
    }
    // As a dragged Tmin: pulses may not overlap, and Tmin may not pass Tmax.
    if (value < s.wImpulseSize) {
        result.message = "Tmin must be at least the etalon length " + std::to_string(s.wImpulseSize) + "; " +
                         std::to_string(value) + " was typed.";
        return result;
    }
    if (s.wTmax > 0 && value > s.wTmax) {
        result.message = "Tmin must not exceed Tmax " + std::to_string(s.wTmax) + "; " + std::to_string(value) +
                         " was typed.";
        return result;
    }
    result.accepted = true;
    result.value = static_cast<int32_t>(value);
    s.wTmin = static_cast<uint16_t>(value);
    if (shell) shell->moveEdit(Rect{});
    s.dirtyPanelArea = 1;
    s.viewMode = 6;
    return result;
}

void cancelParameterPanel(Settings& s, Shell* shell) {
    if (shell) shell->moveEdit(Rect{});
    s.viewMode = 6;
    s.dirtySeriesLength = 0;
    s.dirtyNoiseLevel = 0;
}

// ---------------------------------------------------------------------------------------------
// Drawing.

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
