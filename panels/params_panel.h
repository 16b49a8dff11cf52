#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "display/layout.h"
#include "model/message_sink.h"
#include "model/series.h"
#include "platform/canvas.h"
#include "platform/shell.h"

struct Settings;

/// The parameter panel (view mode 10): a diagram of the constraints a series of K pulses was
/// built under. Over the pulse index j (horizontal) and the start position (vertical) it shows
/// the four lines that bound the start of every pulse:
///   lower: a + (j - 1) Tmin and b- - (K - j) Tmax,  upper: a+ + (j - 1) Tmax and b - (K - j) Tmin,
/// with a = 0, a+ = Tmax - L, b- = N - Tmax, b = N - L. The user picks K on the horizontal axis,
/// drags the upper Tmax and Tmin lines and the a+ and b- markers, and types Tmin.
///
/// Every rectangle of the record is inclusive (right and bottom are its last pixel).
struct ParamsHeader {
    uint32_t dwAllocatedSize = 0;  ///< series length for which the record was allocated
    uint32_t dwSeriesSize = 0;     ///< N
    int32_t wTmin = 0;             ///< Tmin shown and edited
    int32_t wTmax = 0;             ///< Tmax shown and edited
    int32_t wImpulseSize = 0;      ///< L
    int32_t wImpulseQuantity = 0;  ///< K, the pulse count shown and edited
    int32_t wMaxPulses = 0;        ///< Mmax = (N + Tmin - L) / Tmin of the series
    int32_t wMinPulses = 0;        ///< Mmin = (N + L - 1) / Tmax of the series (at least 1)
    int32_t aLow = 0;              ///< a = 0
    int32_t aHigh = 0;             ///< a+ = Tmax - L
    int32_t bLow = 0;              ///< b- = N - Tmax
    int32_t bHigh = 0;             ///< b = N - L
    int32_t wAreasCapacity = 0;    ///< entries held in pulsesSelectedAreas
    int32_t wAreasCount = 0;       ///< Mmax - Mmin + 1, entries in use
    Rect rcFrame;                  ///< the inner frame of the diagram
    std::vector<Rect> pulsesSelectedAreas;  ///< entry i: click area of pulse count Mmin + i
    Rect rcHandleHigh;             ///< drag band of the a+ marker
    Rect rcHandleLow;              ///< drag band of the b- marker
    Rect rcGraph;                  ///< the plotting area
    int32_t hoverHandleHigh = 0, hoverHandleLow = 0;  ///< pointer rests on a marker band
    int32_t dragHandleHigh = 0, dragHandleLow = 0;    ///< a marker is being dragged
    int32_t redrawOnly = 0;        ///< 0: next paint draws everything; 1: update the diagram only
    std::array<int32_t, 7> lastValues{};  ///< K, a+, b-, Tmin, Tmax, Mmax, Mmin as drawn last
    std::array<int32_t, 5> lineTmax{};    ///< upper line of slope Tmax: x0, y0, x1, y1, tolerance
    int32_t hoverLineTmax = 0, dragLineTmax = 0;
    std::array<int32_t, 5> lineTmin{};    ///< upper line of slope Tmin: x0, y0, x1, y1, tolerance
    int32_t hoverLineTmin = 0, dragLineTmin = 0;
    std::array<int32_t, 16> lastLines{};  ///< upper Tmax, upper Tmin, lower Tmin, lower Tmax lines
    std::array<int32_t, 16> lastMarks{};  ///< a+ and b- guides (x0, y, x1, y), then their label boxes
    std::array<int32_t, 6> lastTopLines{};  ///< end of the top line (x, y); line at K (x, y0, x, y1)

    // Written by the drawing for the mouse handlers: the panel's two buttons.
    Rect rcCancelButton;
    Rect rcOkButton;
};

/// The panel's own texts.
inline constexpr const char* kPanelCancelLabel = " Cancel ";
inline constexpr const char* kPanelOkLabel = " OK ";
inline constexpr const char* kPanelTminLabel = " Tmin ";
inline constexpr const char* kGetParamsHeaderCaption = " getParamsHeader ";
/// Child id of the Tmin edit control.
inline constexpr int kTminEditId = 225;

/// Background of the panel.
inline constexpr Color kPanelBackground{235, 240, 225};

// ---------------------------------------------------------------------------------------------
// The record.

/// Refreshes the record from `series`. Takes the old record (or null) and returns the one to
/// keep: with a null series the old one unchanged; after a memory failure (message with caption
/// " getParamsHeader ") null, the old record released. The values of the series replace every
/// edited value; hover and drag flags are cleared, the click areas zeroed, lastValues set to the
/// new values and the next paint draws the whole panel.
std::unique_ptr<ParamsHeader> getParamsHeader(MessageSink& window, const SeriesHeader* series,
                                              std::unique_ptr<ParamsHeader> old);
/// As above, and writes Tmin ("%d") into the Tmin edit control of the window.
std::unique_ptr<ParamsHeader> getParamsHeader(Shell& window, const SeriesHeader* series,
                                              std::unique_ptr<ParamsHeader> old);
/// The text the Tmin edit control gets on entry.
std::string tminEditText(const ParamsHeader& record);

// ---------------------------------------------------------------------------------------------
// Geometry. Pure functions of the record (rcGraph, K, Mmax and the values).

/// Pulse count bounds of the edited values: (b- + Tmax - a+ - 1) / Tmax + 1 and
/// (b - a) / Tmin + 1; 0 when the divisor is 0.
int32_t editedMinPulses(const ParamsHeader& r);
int32_t editedMaxPulses(const ParamsHeader& r);

/// x of pulse index j: left + (j - 1) Wg / (Mmax - 1) over rcGraph (Mmax - 1 taken as 1 when
/// smaller). halfStepX takes j in half steps (h = 2 j).
int32_t pulseX(const ParamsHeader& r, int32_t j);
int32_t halfStepX(const ParamsHeader& r, int64_t h);
/// The pulse index nearest to x (may lie outside 1..Mmax).
int32_t pulseIndexAtX(const ParamsHeader& r, int32_t x);
/// y of start position v: bottom - (v - a) Hg / (b - a); bottom when b <= a.
int32_t positionY(const ParamsHeader& r, int64_t v);
/// The marker value of pointer height y: a + (bottom - y)(b - a) / (bottom - top + 1), kept
/// within a .. b.
int32_t markerValueAtY(const ParamsHeader& r, int32_t y);

/// A straight segment in pixels.
struct PanelSegment {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool operator==(const PanelSegment&) const = default;
};

/// The four bounding lines as drawn, each from or to half a pulse step beyond pulse 1 or K and
/// cut where it crosses its partner (both end at the crossing point; at the half step at or
/// before the crossing when that lies outside the diagram). `valid` is false when there
/// is nothing to draw (K < 1 or a degenerate diagram).
struct BoundingLines {
    bool valid = false;
    PanelSegment upperTmax, upperTmin, lowerTmin, lowerTmax;
    int32_t upperCrossing = 0;  ///< half step where the upper Tmax line ends and the Tmin line starts
    int32_t lowerCrossing = 0;  ///< likewise for the lower Tmin and Tmax lines
};
BoundingLines boundingLines(const ParamsHeader& r);

/// Everything the diagram draws, computed from the record (rcGraph must be laid out).
struct DiagramGeometry {
    bool drawable = false;             ///< false: nothing of the diagram is drawn
    int32_t Wg = 0, Hg = 0;
    std::vector<int32_t> pulseTicks;   ///< x of pulses 1 .. K
    std::vector<int32_t> countTicks;   ///< x of pulse counts Mmin .. Mmax
    std::vector<Rect> countAreas;      ///< click area of each pulse count
    int32_t pulseLabelY = 0, countLabelY = 0;  ///< tops of the two label rows
    bool hasK = false;                 ///< K >= 1: top line, K line, guides and lines exist
    PanelSegment topLine, kLine;       ///< at height b from pulse 1 to K; at K from a to b
    PanelSegment guideHigh, guideLow;  ///< dotted guides of a+ and b-
    Rect handleHigh, handleLow;        ///< their drag bands
    BoundingLines lines;
    int32_t tolerance = 0;             ///< hit tolerance of the upper lines: my / 2 + 1
};
DiagramGeometry diagramGeometry(const ParamsHeader& r, int32_t mx, int32_t my, int32_t textHeight);

/// The panel's frames, buttons and edit control within rcMain.
struct PanelTextSizes {
    int32_t lineHeight = 0;
    int32_t aveCharWidth = 0;
    int32_t valueBWidth = 0;    ///< width of the printed value b
    int32_t buttonLabelWidth = 0;  ///< the wider of " Cancel " and " OK "
    int32_t editWidth = 0;      ///< width of " 9999"
    int32_t tminLabelWidth = 0; ///< width of " Tmin "
};
struct PanelLayout {
    int32_t mx = 0, my = 0;
    Rect frame;                 ///< the outer frame
    Rect rcFrame;
    Rect rcGraph;
    Rect cancelButton, okButton;
    int32_t tminLabelX = 0, tminLabelY = 0;
    Rect tminEdit;              ///< inclusive
    int32_t textX = 0, textY = 0;  ///< top-left of the column of values
};
PanelLayout layOutParameterPanel(const Rect& rcMain, const PanelTextSizes& sizes);

// ---------------------------------------------------------------------------------------------
// Feasibility, position mappings and hit tests used while editing.

/// L <= v <= Tmax and c <= K <= (b - a) / v + 1, c the pulse count a+ and b- need.
bool tminFeasible(const ParamsHeader& r, int32_t v);
/// Tmin < v <= b- and c <= K <= (b - a) / Tmin + 1, c computed with v.
bool tmaxFeasible(const ParamsHeader& r, int32_t v);
/// Slope of the line through (pulse 1, a+) and the point, while hoverLineTmax is set; else 0.
int32_t tmaxFromPoint(const ParamsHeader& r, int32_t x, int32_t y);
/// Slope of the line through (pulse K, b) and the point, while hoverLineTmin is set; else 0.
int32_t tminFromPoint(const ParamsHeader& r, int32_t x, int32_t y);
/// x between the end points and y within the tolerance of the line's height at x.
bool onPanelLine(const std::array<int32_t, 5>& line, int32_t x, int32_t y);
bool onLineTmax(const ParamsHeader& r, int32_t x, int32_t y);
bool onLineTmin(const ParamsHeader& r, int32_t x, int32_t y);
/// Index of the pulse-count click area holding the point, or -1.
int32_t pulseCountAreaAt(const ParamsHeader& r, int32_t x, int32_t y);

// ---------------------------------------------------------------------------------------------
// Editing operations for the mouse handlers.

/// What a press in the panel hit, in the order it is tested.
enum class PanelPress { None, Cancel, Ok, PulseCount, HandleHigh, HandleLow, LineTmin, LineTmax };

/// A press: the buttons are only reported (the caller then calls cancelParameterPanel or
/// commitParameterPanel); a pulse count becomes K (redrawOnly = 1, the caller asks for a redraw);
/// a marker band or an upper line starts its drag.
PanelPress pressParameterPanel(ParamsHeader& r, int32_t x, int32_t y);

/// A pointer move while a drag is on: a marker takes the value of y; a line takes the slope of
/// the point when feasible, else the drag ends and the value stays. Sets redrawOnly = 1 and
/// returns true (the caller asks for a redraw); returns false when no drag is on.
bool dragParameterPanel(ParamsHeader& r, int32_t x, int32_t y);

/// The four hover targets.
enum class PanelTarget { HandleHigh, HandleLow, LineTmin, LineTmax };
struct PanelHoverChange {
    PanelTarget target;
    bool entered;  ///< true: the pointer entered (capture, resize cursor); false: it left
};
/// Hover tracking when no drag is on: sets or clears the hover flag of each target the pointer
/// entered or left, and lists those changes in order.
std::vector<PanelHoverChange> trackPanelHover(ParamsHeader& r, int32_t x, int32_t y);

/// Release of the button: ends the first drag that is on (markers, then Tmin, then Tmax line),
/// taking the value of the point as a move does. Returns true (redraw) when a drag ended.
bool releaseParameterPanel(ParamsHeader& r, int32_t x, int32_t y);

/// Result of " OK ".
struct PanelCommit {
    bool accepted = false;
    int32_t value = 0;       ///< the Tmin taken
    std::string message;     ///< why it was refused; the caller shows it (caption " Tmin ")
};
/// Reads Tmin from `text` (at most 100 characters: leading blanks, an optional sign, digits).
/// Refuses text without digits and values outside 1..65535 with a message, changing nothing.
/// Accepted: wTmin of the settings takes it, the edit control moves out of sight (shell may be
/// null), dirtyPanelArea = 1 and viewMode = ViewMode::results. The caller then does the leaving step.
PanelCommit commitParameterPanel(const std::string& text, Settings& settings, Shell* shell);
/// " Cancel ": the edit control moves out of sight, viewMode = ViewMode::results, dirtySeriesLength and
/// dirtyNoiseLevel cleared. The caller then does the leaving step.
void cancelParameterPanel(Settings& settings, Shell* shell);

// ---------------------------------------------------------------------------------------------
// Drawing.

/// The layout pass of the panel: lays it out in layout.rcMain for the record's values, with the
/// canvas's font (text is only measured, nothing is drawn), and stores in the record what the
/// mouse handlers and the drawing read: the frame, the plotting area, the two buttons, the
/// pulse-count click areas, the marker bands and the upper lines (none of the diagram's with a
/// null series). Returns the place of the Tmin edit control (right and bottom outside).
Rect layOutParameterPanelView(const Canvas& canvas, const LayoutState& layout, ParamsHeader& record,
                              const SeriesHeader* series);
/// Draws the panel as the layout pass laid it out: everything when redrawOnly is 0, else the
/// update drawing (updateParameterPanel). Remembers what it drew (lastValues, the lines and
/// marks) for the next update drawing and clears redrawOnly. With a null series only the
/// background, the frames and the buttons are drawn.
ParamsHeader& drawParameterPanel(Canvas& canvas, const LayoutState& layout, ParamsHeader& record,
                                 const SeriesHeader* series);
/// The update drawing after an edit: no background fill; the elements whose geometry changed
/// since the last drawing are first redrawn in the panel's background colour (which erases
/// them), the texts are cleared, then the new state is drawn.
ParamsHeader& updateParameterPanel(Canvas& canvas, const LayoutState& layout, ParamsHeader& record,
                                   const SeriesHeader* series);
/// One flat three-dimensional button on the panel background (rect inclusive), its label
/// centred horizontally, (lineHeight - 2) / 2 below the top.
void drawPanelButton(Canvas& canvas, const Rect& rect, const std::string& label, int32_t lineHeight);
