#pragma once

#include <cstdint>
#include <string>

#include "model/series.h"
#include "platform/canvas.h"
#include "platform/shell.h"
#include "processing/chains.h"

/// The pieces of the series-and-results view that do not draw: the figures it derives from the
/// series, its layout, and the texts of its lines. drawSeriesView (display/views.h) only places
/// and paints what these compute.

/// Figures derived from the series (and the results' descriptor) at the start of each drawing.
struct SeriesFigures {
    // Exact 64-bit sums: at the largest noise levels the squares of a series pass 32 bits.
    int64_t pureEnergy = 0;        ///< sum of the squared pure samples
    int64_t noiseEnergy = 0;       ///< sum of the squared noise (noisy - pure)
    int64_t pulseNoiseEnergy = 0;  ///< the same over the samples under the true pulses only
    uint16_t amplitude = 0;        ///< the series' amplitude, or 128 doubled up to the noise
    uint16_t graphScale = 0;       ///< value scale S of the three graph fields
    bool showNames = false;        ///< the etalon letters are shown beside positions
};
SeriesFigures deriveSeriesFigures(const SeriesHeader& series, const ChainsHeader& chains);

/// Whether the results are a tuple result: the task and the series type recorded with them are
/// each 36 or 40.
bool isTupleResult(const ChainsHeader& chains);

/// Geometry of the view inside rcMain for `requiredCount` glyphs in the alphabet box.
struct SeriesViewLayout {
    Rect main;                      ///< rcMain
    int32_t W = 0, H = 0;           ///< its width and height, inclusive
    int32_t lh = 0;                 ///< line pitch
    int32_t plotW = 0, plotH = 0;   ///< size of a graph field
    int32_t leftOff = 0, x0 = 0;    ///< left margin and left edge of the fields and texts
    int32_t topOff = 0, topHalf = 0, gap = 0;
    Rect fields[3];                 ///< the three graph fields, top to bottom
    int32_t textTop = 0;            ///< top of the result text block
    // Alphabet box.
    int32_t rows = 0;               ///< rows of the two-column box
    int32_t cellW = 0, cellH = 0;
    int32_t boxLeft = 0, boxTop = 0, boxW = 0, boxH = 0;
};
SeriesViewLayout layOutSeriesView(const Rect& rcMain, int32_t lineHeight, int32_t requiredCount,
                                  bool specialGraphSize);

/// Cell k of the alphabet box (the first column is filled top to bottom first).
Rect alphabetCell(const SeriesViewLayout& layout, int32_t k);

/// Geometry of a pattern-tuple box. Row t of a stored-tuple box starts at rowTop(t).
struct PatternBox {
    int32_t gx = 0, gy = 0;   ///< gaps between cells
    int32_t cw = 0, ch = 0;   ///< cell pitch and height
    int32_t bw = 0, bh = 0;   ///< box size
    int32_t left = 0, top = 0;
    /// The glyph cell of entry k in a row whose cells start at y; lh is the line pitch.
    Rect glyphCell(int32_t k, int32_t y, int32_t lh) const;
    /// The outline drawn around the box; lh is the line pitch.
    Rect outline(int32_t lh) const;
};
/// The single active tuple of `s` entries; cx is the caption's width. False when s is 0 (or the
/// refit would divide by zero).
bool singlePatternBox(const SeriesViewLayout& layout, int32_t s, int32_t cx, PatternBox& box);
/// The `m` stored tuples, the longest of `longest` entries; cx is the caption's width. False
/// when m or longest is 0.
bool storedPatternBox(const SeriesViewLayout& layout, int32_t m, int32_t longest, int32_t cx, PatternBox& box);
/// Top of row t of a stored-tuple box, and its click rectangle.
int32_t storedRowTop(const PatternBox& box, int32_t t);
Rect storedRowRect(const PatternBox& box, int32_t t);

/// The squared distance between the pure series and the series restored from the best chain
/// (row 0), as a 32-bit integer that wraps (restorationError of the series on that row).
int32_t restorationError(const SeriesHeader& series, const ChainsHeader& chains);

/// The objective value of the true layout in the measure of the chains' distance: the sum over
/// the kept samples j of every true pulse of (e[j] - 2 noisy[p + j]) e[j], wrapping at 32 bits.
int32_t trueLayoutMeasure(const SeriesHeader& series);

// Texts of the view. `seriesType` and `taskType` are those recorded with the results.

/// " %s for series with %s " (task and series names); empty without a filled descriptor.
std::string taskTitleText(const ChainsHeader& chains);
/// " series length ..., Tmin=..., Tmax=..., amplitude ..., noise level ..., allN/S ...,  N/S ...".
std::string seriesInfoText(const SeriesHeader& series, const SeriesFigures& figures);
/// " pulses number K [min-max], length L" and, for cut-off results, the saved energy levels.
std::string pulsesNumberText(const SeriesHeader& series, const ChainsHeader& chains);
/// " pulses:" and the true pulses, at most 19 of them followed by "...".
std::string truePulsesText(const SeriesHeader& series, int32_t seriesType, bool showNames);
/// "Detected F (K) pulses: " and the detected pulses (or tuples), at most 9 (or up to the tuple
/// starting after pulse 19).
std::string detectedPulsesText(const SeriesHeader& series, int32_t taskType, int32_t seriesType, bool showNames);
/// "Restore Error %d. ".
std::string restoreErrorText(int32_t error);
/// " Alphabet, n items " (singular for one), or " Alph: n " for a box under 100 pixels.
std::string alphabetTitleText(int32_t n, int32_t boxW);

/// `text` shortened, where it is wider than maxWidth pixels on `dc`, to its longest prefix that
/// fits and ends before a space that separates items (not one before "[", which belongs to a
/// position and its cuts), so that no item is cut; or else to the longest prefix that fits. Used to stop the lines of the view short of the alphabet box.
std::string fitText(const Canvas& dc, const std::string& text, int32_t maxWidth);

/// One line of the chain table: the left part at x0, the right part at x0 + 100.
struct TableLine {
    std::string left;
    std::string right;
};
TableLine chainTableHeader(const ChainsHeader& chains, bool showNames);
/// Row r (0-based) of the chain table.
TableLine chainRowText(const ChainsHeader& chains, int32_t r, bool showNames);
/// The true layout as row 0 of the table, with its measure.
TableLine trueLayoutRowText(const SeriesHeader& series, const ChainsHeader& chains, int32_t measure,
                            bool showNames);
