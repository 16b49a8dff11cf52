#include "display/graph_primitives.h"

#include <cstdio>
#include <limits>
#include <string>

#include "model/codes.h"

namespace graph {

namespace {

/// Restores the paint's defaults after a routine that selected a pen or brush of its own.
void restoreDefaults(Canvas& dc) {
    dc.setPen(kBlack);
    dc.setBrush(kWhite);
}

/// One pulse curve: from the zero level at sample `first` through samples first..last of the
/// etalon and back down to the zero level at `last`. Samples outside the etalon are skipped.
void pulseCurve(Canvas& dc, const FieldMapping& m, int32_t position, const PulseHeader& e, int32_t first,
                int32_t last) {
    if (first < 0) first = 0;
    if (last > e.wSize - 1) last = e.wSize - 1;
    if (first > last) return;
    const int32_t ymid = m.ymid();
    dc.moveTo(m.x(position + first), ymid);
    for (int32_t j = first; j <= last; ++j) dc.lineTo(m.x(position + j), m.y(e.lpData[j]));
    dc.lineTo(m.x(position + last), ymid);
}

bool drawable(const FieldMapping& m, const SeriesHeader* series) {
    return series != nullptr && m.hasX() && m.hasY();
}

/// Dotted vertical mark at column L + a: pixels every second step from the zero level up and
/// down while k < limit. Returns the first k that reached the limit.
int32_t dottedVertical(Canvas& dc, const FieldMapping& m, int32_t a, int32_t limit) {
    const int32_t ymid = m.ymid();
    int32_t k = 0;
    for (; k < limit; k += 2) {
        dc.setPixel(m.L + a, ymid - k, kBlack);
        dc.setPixel(m.L + a, ymid + k, kBlack);
    }
    return k;
}

/// Dotted horizontal lines at ymid -/+ k from column a to b (inclusive) in steps of 2.
void dottedHorizontalPair(Canvas& dc, const FieldMapping& m, int32_t a, int32_t b, int32_t k) {
    const int32_t ymid = m.ymid();
    for (int32_t x = a; x <= b; x += 2) {
        dc.setPixel(m.L + x, ymid - k, kBlack);
        dc.setPixel(m.L + x, ymid + k, kBlack);
    }
}

/// Column offsets a (first pulse's start) and b (last pulse's end) of detected tuple t, or false
/// when the tuple's pulse indices do not name detected pulses.
bool tupleSpan(const SeriesHeader& s, const FieldMapping& m, int32_t t, int32_t& a, int32_t& b) {
    if (!s.lpFoundGroupPosition || !s.lpFoundGroupValue || !s.lpFoundPosition) return false;
    const int32_t f = s.lpFoundGroupPosition[t];
    const int32_t l = s.lpFoundGroupValue[t];
    if (f < 1 || l < 1 || f > s.wFoundPulses || l > s.wFoundPulses) return false;
    a = s.lpFoundPosition[f - 1] * m.W / (m.N - 1);
    b = (s.lpFoundPosition[l - 1] + s.wImpulseSize - 1) * m.W / (m.N - 1);
    return true;
}

/// Widens a tuple's span by up to two columns each way, staying within columns 0..W - 1, so that
/// its frame or band clears the pulses' own marks.
void widenTuple(const FieldMapping& m, int32_t& a, int32_t& b) {
    for (int step = 0; step < 2 && b < m.W - 1; ++step) ++b;
    for (int step = 0; step < 2 && a > 0; ++step) --a;
}

int32_t tupleCount(const SeriesHeader& s) {
    int32_t n = s.wFoundGroups;
    if (n > s.wAllocatedPulses) n = s.wAllocatedPulses;
    return n < 0 ? 0 : n;
}

}  // namespace

FieldMapping fieldMapping(const Rect& field, int32_t N, int32_t S) {
    return FieldMapping{field.left, field.top, field.right, field.bottom,
                        field.right - field.left, field.bottom - field.top, N, S};
}

void textOutOpaque(Canvas& dc, int32_t x, int32_t y, const std::string& text) {
    if (text.empty()) return;
    dc.fillRect({x, y, x + dc.textWidth(text), y + dc.metrics().height}, kWhite);
    dc.textOut(x, y, text);
}

void outlineInclusive(Canvas& dc, const Rect& r) {
    const int32_t w = r.right - r.left + 1, h = r.bottom - r.top + 1;
    dc.moveTo(r.left, r.top);
    dc.lineTo(r.left, r.top + h);
    dc.lineTo(r.left + w, r.top + h);
    dc.lineTo(r.left + w, r.top);
    dc.lineTo(r.left, r.top);
}

void drawGraphAxes(Canvas& dc, Rect field) {
    const int32_t ymid = field.top + (field.bottom - field.top) / 2;
    dc.moveTo(field.left, field.top);
    dc.lineTo(field.left, field.bottom);
    dc.moveTo(field.left, ymid);
    dc.lineTo(field.right, ymid);
}

void drawNoisySeries(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series) {
    if (series == nullptr || series->lpNoisyData == nullptr) return;
    const FieldMapping m = fieldMapping(field, series->dwSeriesSize, S);
    if (!drawable(m, series)) return;
    dc.setPen(kBlue);
    dc.moveTo(m.L, m.ymid());
    for (int32_t i = 0; i < m.N; ++i) dc.lineTo(m.x(i), m.y(series->lpNoisyData[i]));
    restoreDefaults(dc);
}

void drawTruePulses(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series) {
    if (series == nullptr || !series->lpTruePosition || !series->lpTrueEtalon) return;
    const FieldMapping m = fieldMapping(field, series->dwSeriesSize, S);
    if (!drawable(m, series)) return;
    for (int32_t i = 0; i < series->wImpulseQuantity; ++i) {
        const PulseHeader* e = etalonOf(*series, series->lpTrueEtalon[i]);
        if (e == nullptr) continue;
        pulseCurve(dc, m, series->lpTruePosition[i], *e, 0, e->wSize - 1);
    }
}

void drawTruePulseParts(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series) {
    if (series == nullptr || !series->lpTruePosition || !series->lpTrueEtalon || !series->lpTrueCutStart ||
        !series->lpTrueCutEnd)
        return;
    const FieldMapping m = fieldMapping(field, series->dwSeriesSize, S);
    if (!drawable(m, series)) return;
    for (int32_t i = 0; i < series->wImpulseQuantity; ++i) {
        const PulseHeader* e = etalonOf(*series, series->lpTrueEtalon[i]);
        if (e == nullptr) continue;
        pulseCurve(dc, m, series->lpTruePosition[i], *e, series->lpTrueCutStart[i], series->lpTrueCutEnd[i]);
    }
}

void drawFoundPulses(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series) {
    if (series == nullptr || !series->lpFoundPosition || !series->lpFoundEtalon) return;
    const FieldMapping m = fieldMapping(field, series->dwSeriesSize, S);
    if (!drawable(m, series)) return;
    for (int32_t i = 0; i < series->wFoundPulses; ++i) {
        const PulseHeader* e = etalonOf(*series, series->lpFoundEtalon[i]);
        if (e == nullptr) continue;
        pulseCurve(dc, m, series->lpFoundPosition[i], *e, 0, e->wSize - 1);
    }
}

void shadeTruePulses(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series) {
    if (series == nullptr || !series->lpTruePosition || !series->lpTrueEtalon || !series->lpTrueCutStart ||
        !series->lpTrueCutEnd)
        return;
    const FieldMapping m = fieldMapping(field, series->dwSeriesSize, S);
    if (!drawable(m, series)) return;
    const int32_t W = m.W, N = m.N, Hs = m.H, s = S;
    // Offset from T of value v.
    auto g = [&](int32_t v) { return Hs - (v + s) * Hs / (2 * s); };
    int32_t phase = 0;  // alternates column by column through the whole call: a checkered shade
    for (int32_t i = 0; i < series->wImpulseQuantity; ++i) {
        const PulseHeader* e = etalonOf(*series, series->lpTrueEtalon[i]);
        if (e == nullptr) continue;
        const int32_t p = series->lpTruePosition[i];
        int32_t first = series->lpTrueCutStart[i];
        const int32_t cutEnd = series->lpTrueCutEnd[i];
        int32_t last = cutEnd;
        if (first < 0) first = 0;
        if (last > e->wSize - 1) last = e->wSize - 1;
        for (int32_t j = first; j <= last; ++j) {
            const int32_t k0 = (j + p) * W / (N - 1);
            // The last kept sample gets no column: the shade ends where its curve ends.
            const int32_t k1 = j < cutEnd ? (p + j + 1) * W / (N - 1) : k0;
            const int32_t n = k1 - k0;
            int32_t edge = g(e->lpData[j]);
            const int32_t next = j + 1 < e->wSize ? e->lpData[j + 1] : 0;
            const int32_t step = g(next) - g(e->lpData[j]);
            for (int32_t k = k0; k < k1; ++k) {
                if (Hs / 2 < edge) {
                    for (int32_t l = phase + Hs / 2; l < edge; l += 2) dc.setPixel(m.L + k, m.T + l, kBlack);
                } else {
                    for (int32_t l = Hs / 2 - phase; l > edge; l -= 2) dc.setPixel(m.L + k, m.T + l, kBlack);
                }
                if (n > 0) edge = (step + edge * n) / n;
                phase = 1 - phase;
            }
        }
    }
}

void markFoundPulses(Canvas& dc, const SeriesHeader* series, Rect field) {
    if (series == nullptr || !series->lpFoundPosition || !series->lpFoundCutStart || !series->lpFoundCutEnd) return;
    const FieldMapping m = fieldMapping(field, series->dwSeriesSize, 1);
    if (!m.hasX()) return;
    const int32_t h3 = m.H / 3;
    for (int32_t i = 0; i < series->wFoundPulses; ++i) {
        const int32_t p = series->lpFoundPosition[i];
        const int32_t a = p * m.W / (m.N - 1);
        const int32_t b = (p + series->wImpulseSize - 1) * m.W / (m.N - 1);
        dottedVertical(dc, m, a, h3);
        const int32_t k = dottedVertical(dc, m, b, h3);
        dottedHorizontalPair(dc, m, a, b, k);
        const int32_t c = (p + series->lpFoundCutStart[i]) * m.W / (m.N - 1);
        const int32_t d = (p + series->lpFoundCutEnd[i]) * m.W / (m.N - 1);
        dottedVertical(dc, m, c, h3);
        dottedVertical(dc, m, d, h3);
    }
}

void frameTuplesDotted(Canvas& dc, const SeriesHeader* series, Rect field) {
    if (series == nullptr) return;
    const FieldMapping m = fieldMapping(field, series->dwSeriesSize, 1);
    if (!m.hasX()) return;
    const int32_t h = 3 * m.H / 8;
    const int32_t groups = tupleCount(*series);
    for (int32_t t = 0; t < groups; ++t) {
        int32_t a = 0, b = 0;
        if (!tupleSpan(*series, m, t, a, b)) continue;
        widenTuple(m, a, b);
        dottedVertical(dc, m, a, h);
        const int32_t k = dottedVertical(dc, m, b, h);
        dottedHorizontalPair(dc, m, a, b, k);
    }
}

void fillTuplesColoured(Canvas& dc, const SeriesHeader* series, Rect field) {
    if (series == nullptr) return;
    const FieldMapping m = fieldMapping(field, series->dwSeriesSize, 1);
    if (!m.hasX()) return;
    const int32_t h = 3 * m.H / 8;
    const int32_t groups = tupleCount(*series);
    bool selected = false;
    for (int32_t t = 0; t < groups; ++t) {
        int32_t a = 0, b = 0;
        if (!tupleSpan(*series, m, t, a, b)) continue;
        widenTuple(m, a, b);
        if (!selected) {
            dc.setPen(kTupleFill);
            dc.setBrush(kTupleFill);
            selected = true;
        }
        dc.rectangle({m.L + a, m.ymid() - h, m.L + b, m.ymid() + h});
    }
    if (selected) restoreDefaults(dc);
}

std::string pulseLabelText(int32_t position, int32_t etalon, int32_t cutStart, int32_t cutEnd, int32_t seriesType,
                           bool showNames) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d", position);
    std::string text = buffer;
    if (showNames) text.push_back(static_cast<char>(etalon + 96));
    if (isCutOffSeries(static_cast<uint32_t>(seriesType))) {
        std::snprintf(buffer, sizeof buffer, "[%d..%d] ", cutStart, cutEnd);
        text += buffer;
    }
    return text;
}

void drawPulseLabels(Canvas& dc, Rect field, int32_t seriesType, int32_t which, int32_t showNames,
                     const SeriesHeader* series) {
    if (series == nullptr) return;
    const FieldMapping m = fieldMapping(field, series->dwSeriesSize, 1);
    if (!m.hasX()) return;
    const bool found = which == 1 || which == 2;
    const int32_t count = found ? series->wFoundPulses : series->wImpulseQuantity;
    const int16_t* position = found ? series->lpFoundPosition : series->lpTruePosition;
    const int16_t* etalon = found ? series->lpFoundEtalon : series->lpTrueEtalon;
    const int16_t* cutStart = found ? series->lpFoundCutStart : series->lpTrueCutStart;
    const int16_t* cutEnd = found ? series->lpFoundCutEnd : series->lpTrueCutEnd;
    if (!position || !etalon || !cutStart || !cutEnd) return;
    // A label that would overprint the one drawn before it is left out, so that the strip stays
    // readable however close the pulses are; one that would run past the field's right edge
    // ends at that edge.
    int32_t freeFrom = std::numeric_limits<int32_t>::min();
    for (int32_t i = 0; i < count; ++i) {
        const int32_t p = position[i];
        const std::string text = pulseLabelText(p, etalon[i], cutStart[i], cutEnd[i], seriesType, showNames != 0);
        const int32_t x = std::min(m.L + p * m.W / (m.N - 1) - 5, field.right - dc.textWidth(text));
        if (x < freeFrom) continue;
        textOutOpaque(dc, x, m.B - 1, text);
        freeFrom = x + dc.textWidth(text);
    }
}

void drawEtalonGlyph(Canvas& dc, int32_t lh, const PulseHeader* etalon, int16_t S, int32_t highlight, Rect cell) {
    if (etalon == nullptr) return;
    const int32_t L = cell.left, T = cell.top;
    const int32_t W = cell.right - cell.left, H = cell.bottom - cell.top;
    char label[8];
    std::snprintf(label, sizeof label, " %c ", static_cast<char>(etalon->wNumber + 96));
    dc.textOut(L, T + 2, label);

    const int32_t y0 = T + 1 + lh + lh / 4;
    const int32_t ym = y0 + H / 2;
    const int32_t n = etalon->wSize;
    const int32_t s = S;
    const bool hasCurve = n >= 2 && s != 0 && etalon->lpData;
    // Axes and curve, shifted by (dx, dy).
    auto draw = [&](int32_t dx, int32_t dy) {
        dc.moveTo(L + dx, y0 + dy);
        dc.lineTo(L + dx, y0 + H + dy);
        dc.moveTo(L + dx, ym + dy);
        dc.lineTo(L + W + 5 + dx, ym + dy);
        if (!hasCurve) return;
        dc.moveTo(L + dx, ym + dy);
        int32_t x = L;
        for (int32_t i = 0; i < n; ++i) {
            x = L + i * W / (n - 1);
            dc.lineTo(x + dx, y0 + H - (s + etalon->lpData[i]) * H / (2 * s) + dy);
        }
        dc.lineTo(x + dx, ym + dy);
    };
    if (highlight == 0) {
        draw(0, 0);
        return;
    }
    const Color background = highlight == 2 ? kRed : kLightGrey;
    dc.setPen(background);
    dc.setBrush(background);
    dc.rectangle({L - 3, y0 - 1, L + W + 6, y0 + H + 1});
    dc.setPen(kWhite);
    draw(0, 0);
    draw(1, 0);
    draw(0, -1);
    restoreDefaults(dc);
}

}  // namespace graph
