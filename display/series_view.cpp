#include "display/series_view.h"

#include <algorithm>

#include "display/graph_primitives.h"
#include "display/views.h"
#include "model/codes.h"
#include "model/text_format.h"

namespace {

/// Whether row r of the chains can be read.
bool hasRow(const ChainsHeader& c, int32_t r) {
    return r >= 0 && r < c.wMaxSize && c.distance && c.chainPulses && c.pulsesList && c.positionsList &&
           c.cutStartList && c.cutEndList;
}

/// The pulses of a chain-table row: "  %d" position, "%c" letter when `names`, " [%d..%d] " cuts
/// when `cuts`; at most 19 pulses, then " ... ".
std::string pulseRowText(int32_t count, const int16_t* position, const int16_t* etalon, const int16_t* cutStart,
                         const int16_t* cutEnd, bool names, bool cuts) {
    std::string text;
    for (int32_t p = 0; p < count; ++p) {
        if (p >= 19) {
            text += " ... ";
            break;
        }
        appendFormatted(text, "  %d", position[p]);
        if (names) appendFormatted(text, "%c", etalon[p] + 96);
        if (cuts) appendFormatted(text, " [%d..%d] ", cutStart[p], cutEnd[p]);
    }
    return text;
}

/// Whether the chain table shows the etalon letters beside the positions.
bool tableNames(const ChainsHeader& c, bool showNames) {
    return (c.wDescriptorCount > 1 && isTask(c.wTaskType, TaskType::jointDetection)) || (c.wDescriptorCount <= 1 && showNames);
}

/// Whether the chain table has the column of the row's first etalon letter (recognition).
bool tableLetterColumn(const ChainsHeader& c) { return c.wDescriptorCount > 1 && isTask(c.wTaskType, TaskType::recognition); }

/// Sum of squares in 64-bit arithmetic: exact for any series of 16-bit samples.
struct ExactSum {
    int64_t value = 0;
    void addSquare(int32_t d) { value += int64_t{d} * d; }
    int64_t result() const { return value; }
};

}  // namespace

// ---- Derived figures -------------------------------------------------------------------------

SeriesFigures deriveSeriesFigures(const SeriesHeader& s, const ChainsHeader& chains) {
    SeriesFigures f;
    const int32_t N = s.dwSeriesSize;
    if (s.lpPureData && s.lpNoisyData) {
        ExactSum pure, noise, pulseNoise;
        for (int32_t k = 0; k < N; ++k) {
            pure.addSquare(s.lpPureData[k]);
            noise.addSquare(s.lpNoisyData[k] - s.lpPureData[k]);
        }
        if (s.lpTruePosition) {
            for (int32_t i = 0; i < s.wImpulseQuantity; ++i) {
                for (int32_t j = 0; j < s.wImpulseSize; ++j) {
                    const int32_t k = s.lpTruePosition[i] + j;
                    if (k < 0 || k >= N) continue;
                    pulseNoise.addSquare(s.lpNoisyData[k] - s.lpPureData[k]);
                }
            }
        }
        f.pureEnergy = pure.result();
        f.noiseEnergy = noise.result();
        f.pulseNoiseEnergy = pulseNoise.result();
    }

    uint16_t amplitude = static_cast<uint16_t>(s.wAmplitude);
    if (amplitude == 0) {
        amplitude = 128;
        const uint16_t sigma = static_cast<uint16_t>(s.wNoiseSigma);
        // Doubling wraps to 0 past 32768; stop there instead of doubling 0 for ever.
        while (amplitude != 0 && amplitude < sigma) amplitude = static_cast<uint16_t>(amplitude * 2);
    }
    f.amplitude = amplitude;
    const int32_t noiseBound = s.wNoiseSigma * 8 / 3;
    const uint16_t a = static_cast<uint16_t>(std::max<int32_t>(amplitude, noiseBound));
    f.graphScale = static_cast<uint16_t>(a + a / 8);

    f.showNames = s.lpFoundEtalon != nullptr && s.wAllocatedPulses > 0 && s.lpFoundEtalon[0] != 0;
    if (chains.wDescriptorCount > 1) f.showNames = !isTask(chains.wTaskType, TaskType::detection);
    return f;
}

bool isTupleResult(const ChainsHeader& chains) {
    return isTupleTask(chains.wTaskType) && isTupleSeries(chains.wSeriesType);
}

// ---- Layout ----------------------------------------------------------------------------------

SeriesViewLayout layOutSeriesView(const Rect& rcMain, int32_t lh, int32_t n, bool specialGraphSize) {
    SeriesViewLayout g;
    g.main = rcMain;
    g.lh = lh;
    const int32_t L = rcMain.left, T = rcMain.top;
    const int32_t W = rcMain.right - rcMain.left + 1, H = rcMain.bottom - rcMain.top + 1;
    g.W = W;
    g.H = H;

    g.plotW = W * 800 / 1000;
    g.plotH = (H - 18 * lh) * 330 / 1000;
    if (specialGraphSize) {
        g.plotW = 618;
        g.plotH = 112;
    }
    // An even height puts the zero level on a whole pixel in the middle.
    if (g.plotH % 2 != 0) g.plotH += 1;

    g.leftOff = W * 12 / 1000;
    g.x0 = L + g.leftOff;
    g.topOff = (H * 15 + 500) / 1000;
    g.topHalf = (H * 15 + 1000) / 2000;
    g.gap = lh + lh / 4 - 3;

    int32_t y = T + 4 * lh + 1;
    for (Rect& field : g.fields) {
        field = {g.x0, y, g.x0 + g.plotW, y + g.plotH};
        y += g.plotH + lh;
    }
    g.textTop = g.fields[2].top + g.plotH + lh + lh / 2;

    g.rows = (2 + 2 * n) / 4;
    g.cellW = W * 50 / 1000;
    g.boxW = (g.cellW + 2 * g.leftOff) * 2 + g.leftOff / 2;
    g.boxLeft = rcMain.right - g.boxW - g.leftOff + 1;
    g.boxTop = T + g.topOff + lh / 2;
    const int32_t avail = rcMain.bottom - g.boxTop - g.gap;
    g.cellH = (avail - 2 * g.topOff) / 8 - (g.topHalf + lh);
    g.boxH = (g.cellH + g.topHalf + lh) * g.rows + 2 * g.topOff;
    if (g.boxH > avail && g.rows > 0) {
        g.cellH = (avail - 2 * g.topOff) / g.rows - (g.topHalf + lh);
        g.boxH = avail;
    }
    return g;
}

Rect alphabetCell(const SeriesViewLayout& g, int32_t k) {
    const int32_t rows = std::max(g.rows, 1);
    const int32_t column = k / rows, row = k % rows;
    const int32_t left = g.boxLeft + g.leftOff + (g.cellW + 2 * g.leftOff) * column;
    const int32_t top = g.boxTop + g.topOff + (g.cellH + g.topHalf + g.lh) * row;
    return {left, top, left + g.cellW, top + g.cellH};
}

Rect PatternBox::glyphCell(int32_t k, int32_t y, int32_t lh) const {
    const int32_t x = left + gx + k * (cw + gx);
    return {x + gx, y - gy - 1, x + cw - 2 * gx, y + ch - 2 * gy - lh};
}

Rect PatternBox::outline(int32_t lh) const { return {left, top - lh / 4 + 1, left + bw, top + bh}; }

bool singlePatternBox(const SeriesViewLayout& g, int32_t s, int32_t cx, PatternBox& b) {
    if (s <= 0) return false;
    b.gy = g.topOff / 4 + 1;
    b.gx = g.leftOff / 4 + 1;
    b.cw = g.cellW + 2 * b.gx;
    b.bw = (b.cw + b.gx) * s + b.gx + 1;
    b.ch = g.cellH + 2 * b.gy + g.lh;
    b.bh = b.ch + 2 * b.gy;
    if (g.plotW < b.bw) {
        b.bw = g.plotW;
        b.cw = (b.bw - b.gx - 1) / s - b.gx;
        b.bw = (b.cw + b.gx) * s + b.gx + 1;
    }
    if (b.bw < cx + 20) b.bw = cx + 20;
    b.left = g.x0 + g.plotW - b.bw + 1;
    b.top = g.rows < 8 ? g.main.bottom - b.bh - g.gap : g.boxTop + g.boxH + 1 - b.bh;
    return true;
}

bool storedPatternBox(const SeriesViewLayout& g, int32_t m, int32_t longest, int32_t cx, PatternBox& b) {
    if (m <= 0 || longest <= 0) return false;
    b.gy = g.topOff / 8 + 1;
    b.gx = g.leftOff / 8 + 1;
    b.cw = g.cellW;
    b.bw = (b.cw + b.gx) * longest + b.gx + 1;
    b.ch = (8 * (g.cellH + 2 * b.gy + g.lh) + 5) / 9;
    b.bh = (b.ch + b.gy) * m + b.gy;
    const int32_t avail = g.main.right - g.x0 - g.leftOff - 1;
    if (avail < b.bw) {
        b.bw = avail;
        b.cw = (b.bw - b.gx - 1) / longest - b.gx;
        b.bw = (b.cw + b.gx) * longest + b.gx + 1;
    }
    if (b.bw < cx + 20) b.bw = cx + 20;
    b.left = g.main.right - g.leftOff - b.bw;
    b.top = g.main.bottom - b.bh - b.gy;
    return true;
}

int32_t storedRowTop(const PatternBox& b, int32_t t) { return b.top + b.gy / 2 + t * (b.ch + b.gy); }

Rect storedRowRect(const PatternBox& b, int32_t t) {
    const int32_t y = storedRowTop(b, t);
    return {b.left + b.gx, y, b.left + b.gx + b.bw, y + b.ch + b.gy};
}

// ---- The two measures ------------------------------------------------------------------------

int32_t restorationError(const SeriesHeader& s, const ChainsHeader& c) {
    PulseLayoutView best;
    if (hasRow(c, 0)) {
        best.count = std::min<int32_t>(c.wSeekingPulsesQuantity, c.wMaxPulses);
        best.position = c.positionsList[0];
        best.etalon = c.pulsesList[0];
        best.cutStart = c.cutStartList[0];
        best.cutEnd = c.cutEndList[0];
    }
    return restorationError(s, best);
}

int32_t trueLayoutMeasure(const SeriesHeader& s) {
    if (!s.lpNoisyData || !s.lpTruePosition || !s.lpTrueEtalon || !s.lpTrueCutStart || !s.lpTrueCutEnd) return 0;
    const int32_t N = s.dwSeriesSize;
    uint32_t sum = 0;
    for (int32_t i = 0; i < s.wImpulseQuantity; ++i) {
        const PulseHeader* e = etalonOf(s, s.lpTrueEtalon[i]);
        if (e == nullptr) continue;
        const int32_t p = s.lpTruePosition[i];
        const int32_t first = std::max<int32_t>(s.lpTrueCutStart[i], 0);
        const int32_t last = std::min<int32_t>(s.lpTrueCutEnd[i], e->wSize - 1);
        for (int32_t j = first; j <= last; ++j) {
            if (p + j < 0 || p + j >= N) continue;
            const int64_t v = e->lpData[j];
            sum += static_cast<uint32_t>((v - 2 * int64_t{s.lpNoisyData[p + j]}) * v);
        }
    }
    return static_cast<int32_t>(sum);
}

// ---- Texts -----------------------------------------------------------------------------------

std::string taskTitleText(const ChainsHeader& c) {
    std::string text;
    if (c.wDescriptorCount > 1)
        appendFormatted(text, " %s for series with %s ", c.lpTaskName ? c.lpTaskName : "",
               c.lpSeriesTypeName ? c.lpSeriesTypeName : "");
    return text;
}

std::string seriesInfoText(const SeriesHeader& s, const SeriesFigures& f) {
    std::string text;
    appendFormatted(text, " series length %d, ", s.dwSeriesSize);
    appendFormatted(text, "Tmin=%d, Tmax=%d, ", s.wTmin, s.wTmax);
    double all = 0.0, under = 0.0;
    if (f.pureEnergy >= 1) {
        all = static_cast<double>(f.noiseEnergy) / f.pureEnergy;
        under = static_cast<double>(f.pulseNoiseEnergy) / f.pureEnergy;
    }
    appendFormatted(text, " amplitude %d, noise level %d, allN/S %.3g,  N/S %.3g", f.amplitude, s.wNoiseSigma, all, under);
    return text;
}

std::string pulsesNumberText(const SeriesHeader& s, const ChainsHeader& c) {
    std::string text;
    appendFormatted(text, " pulses number %d [%d-%d], length %d", s.wImpulseQuantity, s.wMinPulses, s.wMaxPulses,
           s.wImpulseSize);
    if (c.wDescriptorCount > 1 && isCutOffSeries(c.wSeriesType))
        appendFormatted(text, ", saved energy level for making/processing %d/%d", c.wMakingEnergy, c.wProcessingEnergy);
    return text;
}

std::string truePulsesText(const SeriesHeader& s, int32_t seriesType, bool showNames) {
    std::string text = " pulses:";
    if (!s.lpTruePosition || !s.lpTrueEtalon || !s.lpTrueCutStart || !s.lpTrueCutEnd) return text;
    for (int32_t i = 0; i < s.wImpulseQuantity; ++i) {
        if (i >= 19) {
            text += "...";
            break;
        }
        appendFormatted(text, " %d", s.lpTruePosition[i]);
        if (showNames) appendFormatted(text, "%c", s.lpTrueEtalon[i] + 96);
        if (isCutOffSeries(seriesType)) appendFormatted(text, "[%d..%d] ", s.lpTrueCutStart[i], s.lpTrueCutEnd[i]);
    }
    return text;
}

std::string detectedPulsesText(const SeriesHeader& s, int32_t taskType, int32_t seriesType, bool showNames) {
    std::string text;
    appendFormatted(text, "Detected %d", s.wFoundPulses);
    if (s.wFoundPulses != s.wImpulseQuantity) appendFormatted(text, " (%d)", s.wImpulseQuantity);
    text += s.wFoundPulses == 1 ? " pulse" : " pulses";
    text += ": ";
    if (!s.lpFoundPosition || !s.lpFoundEtalon || !s.lpFoundCutStart || !s.lpFoundCutEnd) return text;
    const bool cuts = isCutOffSeries(seriesType);
    auto pulse = [&](int32_t m) {
        appendFormatted(text, "%d", s.lpFoundPosition[m]);
        if (showNames) appendFormatted(text, "%c", s.lpFoundEtalon[m] + 96);
        if (cuts) appendFormatted(text, "[%d..%d]", s.lpFoundCutStart[m], s.lpFoundCutEnd[m]);
    };
    if (isTupleTask(taskType) && isTupleSeries(seriesType)) {
        if (!s.lpFoundGroupPosition || !s.lpFoundGroupValue) return text;
        const int32_t groups = std::min<int32_t>(s.wFoundGroups, s.wAllocatedPulses);
        for (int32_t t = 0; t < groups; ++t) {
            const int32_t first = s.lpFoundGroupPosition[t] - 1;
            const int32_t end = std::min<int32_t>(s.lpFoundGroupValue[t], s.wFoundPulses);
            if (first > 18) {
                text += " ... ";
                break;
            }
            text += " {";
            for (int32_t m = std::max(first, 0); m < end; ++m) {
                pulse(m);
                text += " ";
            }
            // The space after the tuple's last pulse becomes the closing brace.
            if (text.back() == ' ') text.pop_back();
            text += "} ";
        }
    } else {
        for (int32_t m = 0; m < s.wFoundPulses; ++m) {
            if (m > 8) {
                text += " ... ";
                break;
            }
            text += " ";
            pulse(m);
        }
    }
    return text;
}

std::string restoreErrorText(int32_t error) {
    std::string text;
    appendFormatted(text, "Restore Error %d. ", error);
    return text;
}

std::string alphabetTitleText(int32_t n, int32_t boxW) {
    std::string text;
    if (boxW < 100) {
        appendFormatted(text, " Alph: %d ", n);
        return text;
    }
    appendFormatted(text, " Alphabet, %d items ", n);
    // One item: "items " loses its plural "s".
    if (n == 1) text.replace(text.size() - 2, 2, " ");
    return text;
}

TableLine chainTableHeader(const ChainsHeader& c, bool showNames) {
    TableLine line;
    line.left = " n ";
    if (tableLetterColumn(c)) line.left += "et ";
    line.left += " measure ";
    line.right = "  positions";
    if (tableNames(c, showNames)) line.right += " and names";
    line.right += " of etalons in series";
    return line;
}

TableLine chainRowText(const ChainsHeader& c, int32_t r, bool showNames) {
    TableLine line;
    if (!hasRow(c, r)) return line;
    appendFormatted(line.left, "%2d. ", r + 1);
    if (tableLetterColumn(c)) appendFormatted(line.left, " %c ", c.pulsesList[r][0] + 96);
    appendFormatted(line.left, "  %7d", c.distance[r]);
    const int32_t count = std::clamp<int32_t>(c.chainPulses[r], 0, c.wMaxPulses);
    line.right = pulseRowText(count, c.positionsList[r], c.pulsesList[r], c.cutStartList[r], c.cutEndList[r],
                              tableNames(c, showNames), isCutOffSeries(c.wSeriesType));
    return line;
}

TableLine trueLayoutRowText(const SeriesHeader& s, const ChainsHeader& c, int32_t measure, bool showNames) {
    TableLine line;
    appendFormatted(line.left, "%2d. ", 0);
    if (tableLetterColumn(c) && s.lpTrueEtalon) appendFormatted(line.left, " %c ", s.lpTrueEtalon[0] + 96);
    appendFormatted(line.left, "  %7d", measure);
    if (s.lpTruePosition && s.lpTrueEtalon && s.lpTrueCutStart && s.lpTrueCutEnd)
        line.right = pulseRowText(s.wImpulseQuantity, s.lpTruePosition, s.lpTrueEtalon, s.lpTrueCutStart,
                                  s.lpTrueCutEnd, tableNames(c, showNames), isCutOffSeries(c.wSeriesType));
    return line;
}

std::string fitText(const Canvas& dc, const std::string& text, int32_t maxWidth) {
    if (dc.textWidth(text) <= maxWidth) return text;
    // Longest prefix ending before a space that still fits; a space before "[" belongs to the
    // item before it (a position and its cuts) and is no place to cut.
    size_t best = std::string::npos;
    for (size_t i = text.find(' ', 1); i != std::string::npos; i = text.find(' ', i + 1)) {
        if (i + 1 < text.size() && text[i + 1] == '[') continue;
        if (dc.textWidth(text.substr(0, i)) > maxWidth) break;
        best = i;
    }
    if (best != std::string::npos) return text.substr(0, best);
    // No whole item fits: as many characters as fit.
    size_t n = 0;
    while (n < text.size() && dc.textWidth(text.substr(0, n + 1)) <= maxWidth) ++n;
    return text.substr(0, n);
}

// ---- Layout ----------------------------------------------------------------------------------

bool patternTupleRows(const Canvas& dc, const LayoutState& layout, bool specialGraphSize, uint16_t wRequiredCount,
                      const uint16_t* lpRequiredList, const ChainsHeader* chains, const SeriesHeader* series,
                      std::vector<Rect>& rows) {
    if (series == nullptr) return false;
    static const ChainsHeader noResults;
    const ChainsHeader& c = chains != nullptr ? *chains : noResults;
    if (!isTupleSeries(c.wSeriesType) || !isTask(c.wTaskType, TaskType::tupleRecognition)) return false;
    const SeriesHeader& s = *series;
    const int32_t n = lpRequiredList != nullptr ? wRequiredCount : 0;
    const SeriesViewLayout g = layOutSeriesView(layout.rcMain, layout.lineHeight, n, specialGraphSize);
    const int32_t m = s.selectedSubsetSize && s.selectedSubsetList ? s.wSubsetsCount : 0;
    int32_t longest = 0;
    for (int32_t t = 0; t < m; ++t) longest = std::max<int32_t>(longest, s.selectedSubsetSize[t]);
    PatternBox box;
    if (!storedPatternBox(g, m, longest, dc.textWidth(" pattern tuples "), box)) return false;
    rows.assign(static_cast<size_t>(m), Rect{});
    for (int32_t t = 0; t < m; ++t) rows[static_cast<size_t>(t)] = storedRowRect(box, t);
    return true;
}

// ---- Drawing ---------------------------------------------------------------------------------

namespace {

// The three graph fields (true pulses, the noisy series, the pulses found) with their labels,
// frames, highlights and axes; the third only when every found pulse has its etalon.
void drawGraphFields(Canvas& dc, const Settings& settings, const SeriesViewLayout& g, const SeriesHeader& s,
                     const SeriesFigures& f, int16_t S, int32_t seriesType, bool tuples) {
    bool restoredField = true;
    for (int32_t i = 0; i < s.wFoundPulses; ++i)
        if (s.lpFoundEtalon == nullptr || s.lpFoundEtalon[i] == 0) restoredField = false;

    for (int32_t k = 0; k < 3; ++k) {
        if (k == 2 && !restoredField) break;
        const Rect field = g.fields[k];
        graph::drawPulseLabels(dc, field, seriesType, k, f.showNames ? 1 : 0, &s);
        if (settings.frameGraphFields && !settings.specialGraphSize)
            dc.rectangle({field.left, field.top, field.right + 1, field.bottom + 1});
        if (tuples) {
            if (settings.highlightTuples == 1) graph::frameTuplesDotted(dc, &s, field);
            if (settings.highlightTuples == 2) graph::fillTuplesColoured(dc, &s, field);
        }
        if (settings.highlightDetectedPulses) graph::markFoundPulses(dc, &s, field);
        graph::drawGraphAxes(dc, field);
        switch (k) {
            case 0:
                graph::drawTruePulses(dc, field, S, &s);
                graph::drawTruePulseParts(dc, field, S, &s);
                if (settings.shadeOriginalPulses) graph::shadeTruePulses(dc, field, S, &s);
                break;
            case 1:
                graph::drawNoisySeries(dc, field, S, &s);
                break;
            default:
                graph::drawFoundPulses(dc, field, S, &s);
                break;
        }
    }
}

// The pattern tuples of a tuple series: the one tuple it was laid from, or the stored tuples of
// tuple recognition (the recognised one and the panel's current one highlighted).
void drawPatternTuples(const PaintContext& context, Canvas& dc, const SeriesViewLayout& g, const SeriesHeader& s,
                       const ChainsHeader& c, int16_t amplitude, int32_t lh) {
    const int32_t cy = dc.metrics().height;
    PatternBox box;
    const char* caption = nullptr;
    if (!isTask(c.wTaskType, TaskType::tupleRecognition)) {
        caption = " pattern tuple ";
        const int32_t count = s.lpSelectedSubset ? std::min(s.wSelectedSubsetSize, s.wAllocatedPulses) : 0;
        if (!singlePatternBox(g, count, dc.textWidth(caption), box)) return;
        dc.rectangle(box.outline(lh));
        const int32_t rowTop = box.top + box.gy;
        for (int32_t k = 0; k < count; ++k)
            graph::drawEtalonGlyph(dc, lh, etalonOf(s, s.lpSelectedSubset[k]), amplitude, 0, box.glyphCell(k, rowTop, lh));
    } else {
        caption = " pattern tuples ";
        const int32_t m = s.selectedSubsetSize && s.selectedSubsetList ? s.wSubsetsCount : 0;
        int32_t longest = 0;
        for (int32_t t = 0; t < m; ++t) longest = std::max<int32_t>(longest, s.selectedSubsetSize[t]);
        if (!storedPatternBox(g, m, longest, dc.textWidth(caption), box)) return;
        dc.rectangle(box.outline(lh));
        for (int32_t t = 0; t < m; ++t) {
            const int32_t rowTop = storedRowTop(box, t);
            const int32_t highlight = t + 1 == s.wResultCode                     ? 1
                                      : t + 1 == context.currentPatternTuple ? 2
                                                                                   : 0;
            for (int32_t k = 0; k < s.selectedSubsetSize[t]; ++k)
                graph::drawEtalonGlyph(dc, lh, etalonOf(s, s.selectedSubsetList[t][k]), amplitude, highlight,
                                       box.glyphCell(k, rowTop, lh));
        }
    }
    graph::textOutOpaque(dc, box.left + box.bw - dc.textWidth(caption) - 10, box.top - (cy / 2 + cy / 4), caption);
}

}  // namespace

void drawSeriesView(const PaintContext& context, Canvas& dc, uint16_t wRequiredCount,
                    const uint16_t* lpRequiredList, const ChainsHeader* chainsPointer,
                    const SeriesHeader* seriesPointer) {
    const Settings& settings = context.settings;
    const LayoutState& state = context.layout;
    const int32_t lh = state.lineHeight;

    dc.setPen(graph::kBlack);
    dc.setBrush(graph::kWhite);
    dc.setTextColor(graph::kBlack);
    graph::outlineInclusive(dc, state.rcMain);
    if (seriesPointer == nullptr) return;
    const SeriesHeader& s = *seriesPointer;
    // Without results the series is still shown; the result lines and the table need them.
    static const ChainsHeader noResults;
    const ChainsHeader& c = chainsPointer != nullptr ? *chainsPointer : noResults;

    const int32_t n = lpRequiredList != nullptr ? wRequiredCount : 0;
    const SeriesFigures f = deriveSeriesFigures(s, c);
    const SeriesViewLayout g = layOutSeriesView(state.rcMain, lh, n, settings.specialGraphSize != 0);
    const int16_t S = static_cast<int16_t>(f.graphScale);
    const int16_t amplitude = static_cast<int16_t>(f.amplitude);
    const int32_t seriesType = c.wSeriesType;
    const bool tuples = isTupleResult(c);
    // Texts are drawn on their own white box, and lines left of the alphabet box stop short of it.
    const int32_t textRight = g.boxLeft - 4;
    auto put = [&](int32_t x, int32_t y, const std::string& text, int32_t right) {
        graph::textOutOpaque(dc, x, y, fitText(dc, text, right - x));
    };

    // Header lines, the first on the top edge of the view area.
    int32_t y = state.rcMain.top - lh / 2;
    if (c.wDescriptorCount > 1) {
        put(g.x0, y, taskTitleText(c), state.rcMain.right - 4);
        y += lh + 1;
    }
    put(g.x0, y, seriesInfoText(s, f), textRight);
    y += lh;
    put(g.x0, y, pulsesNumberText(s, c), textRight);
    y += lh;
    put(g.x0, y, truePulsesText(s, seriesType, f.showNames), textRight);

    drawGraphFields(dc, settings, g, s, f, S, seriesType, tuples);

    // The alphabet box.
    dc.rectangle({g.boxLeft, g.boxTop, g.boxLeft + g.boxW + 1, g.boxTop + g.boxH + 1});
    graph::textOutOpaque(dc, g.boxLeft + 7, g.boxTop - g.topOff, alphabetTitleText(n, g.boxW));
    const int32_t bestFirst =
        hasRow(c, 0) && c.wMaxPulses > 0 ? c.pulsesList[0][0] : 0;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t number = lpRequiredList[k];
        const PulseHeader* e = etalonOf(s, number);
        const int32_t highlight = isTask(c.wTaskType, TaskType::recognition) && number == bestFirst ? 1 : 0;
        graph::drawEtalonGlyph(dc, lh, e, amplitude, highlight, alphabetCell(g, k));
    }

    // The result text block.
    y = g.textTop;
    put(g.x0, y, detectedPulsesText(s, c.wTaskType, seriesType, f.showNames), textRight);
    y += lh;
    if (chainsPointer != nullptr) {
        put(g.x0, y, restoreErrorText(restorationError(s, c)), textRight);
        y += lh;
        TableLine line = chainTableHeader(c, f.showNames);
        put(g.x0, y, line.left, textRight);
        put(g.x0 + 100, y, line.right, textRight);
        y += lh + 1;
        const int32_t rows = std::min<int32_t>(c.wPretenders, 6);
        for (int32_t r = 0; r < rows; ++r) {
            line = chainRowText(c, r, f.showNames);
            put(g.x0, y, line.left, textRight);
            put(g.x0 + 100, y, line.right, textRight);
            y += lh;
        }
        y += (lh + 3) / 4;
        line = trueLayoutRowText(s, c, trueLayoutMeasure(s), f.showNames);
        put(g.x0, y, line.left, textRight);
        put(g.x0 + 100, y, line.right, textRight);
    }

    // The pattern tuples of a tuple series.
    if (isTupleSeries(seriesType)) drawPatternTuples(context, dc, g, s, c, amplitude, lh);
}
