#pragma once

#include <cstdint>
#include <string>

#include "model/alphabet.h"
#include "model/series.h"
#include "platform/canvas.h"
#include "platform/shell.h"

/// The small drawing routines the series view, the etalon view, the simulation graphs and the
/// subset panel are built from. A graph field is a rectangle (L, T, R, B) passed by value with
/// W = R - L and H = B - T; it spans the values -S (bottom) to +S (top) of a scale S. All
/// arithmetic is 32-bit integer arithmetic, each division done after its multiplication.
///
/// Pens: routines that name no colour draw with the canvas's current pen. Routines that set a
/// pen or brush of their own leave the canvas with the paint's defaults afterwards (black solid
/// pen, white solid brush), since the canvas cannot report what was selected before.
///
/// Degenerate input draws nothing for the element concerned: a series of fewer than two samples
/// (the x mapping divides by N - 1), a scale of 0 (the y mapping divides by 2 S), an etalon of
/// fewer than two samples (a glyph divides by wSize - 1), a null series or etalon.

namespace graph {

/// The paint's default pen and brush colours, restored by routines that change them.
inline constexpr Color kBlack{0, 0, 0};
inline constexpr Color kWhite{255, 255, 255};
inline constexpr Color kBlue{0, 0, 255};
inline constexpr Color kDarkBlue{0, 0, 127};
inline constexpr Color kRed{255, 0, 0};
inline constexpr Color kLightGrey{163, 163, 163};
inline constexpr Color kDarkGrey{127, 127, 127};
inline constexpr Color kTupleFill{192, 191, 178};

/// Sample-to-pixel mapping of one graph field for a series of N samples and a scale S.
struct FieldMapping {
    int32_t L, T, R, B;   ///< the field
    int32_t W, H;         ///< R - L and B - T
    int32_t N;            ///< samples in the series
    int32_t S;            ///< value scale

    /// Valid when N >= 2 (x mapping) ...
    bool hasX() const { return N >= 2; }
    /// ... and S != 0 (y mapping).
    bool hasY() const { return S != 0; }

    /// Offset of sample i from L: i W / (N - 1).
    int32_t dx(int32_t i) const { return i * W / (N - 1); }
    /// x(i) = L + i W / (N - 1).
    int32_t x(int32_t i) const { return L + dx(i); }
    /// y(v) = B - (v + S) H / (2 S).
    int32_t y(int32_t v) const { return B - (v + S) * H / (2 * S); }
    /// The zero level T + H / 2.
    int32_t ymid() const { return T + H / 2; }
};

/// The mapping of `field` for N samples and scale S.
FieldMapping fieldMapping(const Rect& field, int32_t N, int32_t S);

/// Axes of a field: (L, T)-(L, B) and (L, ymid)-(R, ymid), current pen.
void drawGraphAxes(Canvas& dc, Rect field);

/// The noisy series in a solid blue pen: from (L, ymid) through every sample.
void drawNoisySeries(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series);

/// The whole etalon of every true pulse, current pen.
void drawTruePulses(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series);
/// The kept samples (cut start to cut end) of every true pulse, current pen.
void drawTruePulseParts(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series);
/// The whole etalon of every detected pulse, current pen.
void drawFoundPulses(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series);

/// Black dots between the zero level and the kept part of every true pulse; the last kept
/// sample of a pulse gets no column.
void shadeTruePulses(Canvas& dc, Rect field, int16_t S, const SeriesHeader* series);

/// Dotted marks at the start, the end and the cuts of every detected pulse, with a dotted box.
void markFoundPulses(Canvas& dc, const SeriesHeader* series, Rect field);

/// Dotted frame around every detected tuple.
void frameTuplesDotted(Canvas& dc, const SeriesHeader* series, Rect field);
/// Filled (192, 191, 178) band under every detected tuple.
void fillTuplesColoured(Canvas& dc, const SeriesHeader* series, Rect field);

/// Label text of one pulse: "%d" position, "%c" etalon + 96 when showNames, "[%d..%d] " cuts
/// when the series type is one of cut-off pulses.
std::string pulseLabelText(int32_t position, int32_t etalon, int32_t cutStart, int32_t cutEnd, int32_t seriesType,
                           bool showNames);

/// One label per pulse under the field at (L + p W / (N - 1) - 5, B - 1), each on a white box so
/// that a label overlapping the one before it stays legible. `which` 1 or 2: the detected
/// pulses; otherwise the true pulses.
void drawPulseLabels(Canvas& dc, Rect field, int32_t seriesType, int32_t which, int32_t showNames,
                     const SeriesHeader* series);

/// One etalon in a cell of the alphabet box or of a pattern-tuple box: the letter label and the
/// curve. highlight 0: current pen on the background; 1: grey background, white curve drawn
/// three times; 2: the same on red. `lineHeight` is the layout's text pitch.
void drawEtalonGlyph(Canvas& dc, int32_t lineHeight, const PulseHeader* etalon, int16_t S, int32_t highlight,
                     Rect cell);

/// Text on a white box of its own extent, so that it reads clearly over lines it crosses (a
/// caption on a frame's edge, a label overlapping its neighbour).
void textOutOpaque(Canvas& dc, int32_t x, int32_t y, const std::string& text);

/// Draws a closed outline (L, T) -> (L, T + h) -> (L + w, T + h) -> (L + w, T) -> (L, T) with the
/// current pen, w and h being the inclusive width and height of `r` (so the outline covers the
/// pixel just past right and bottom).
void outlineInclusive(Canvas& dc, const Rect& r);

}  // namespace graph
