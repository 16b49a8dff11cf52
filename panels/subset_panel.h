#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "panels/subset_panel_state.h"
#include "display/layout.h"
#include "model/series.h"
#include "platform/canvas.h"
#include "platform/shell.h"

/// The subset-selection panel (view mode 9): the required etalons offered in a grid, the current
/// subset as a strip of cells below it, the panel's buttons and, in the tuple version (task 40),
/// the stored subsets under the heading " reserved subsets %d ".
///
/// The subset data the commands read lives in SubsetPanelState (panels/subset_panel_state.h).
/// What the panel needs besides lives here: the entry marks (SubsetPanelMarks) and the
/// rectangles of the layout pass (SubsetPanelLayout), which the mouse handlers hit-test and the
/// drawing reads. Every rectangle is inclusive (right and bottom are its last pixel).

namespace subset_panel {

inline constexpr int kEntries = 10;         ///< entries per subset
inline constexpr int kReservedSubsets = 10; ///< capacity of the stored collection
inline constexpr int kColumns = 10;         ///< offered cells per grid row
inline constexpr int kMaxOfferedCells = 20; ///< the alphabet never has more etalons

inline constexpr Color kBackground{235, 240, 225};
inline constexpr Color kStripCellPen{160, 160, 160};
inline constexpr Color kStoredRowPen{215, 220, 205};

/// The panel's buttons; their index in SubsetPanelLayout::buttons. The plain version has the
/// first four, the tuple version all six.
enum Button : int { DeleteAll = 0, Delete = 1, Cancel = 2, Ok = 3, Accept = 4, ClearAll = 5, NoButton = -1 };

/// The caption of each button, in Button order.
inline constexpr std::array<const char*, 6> kButtonLabels = {" Delete All ", " Delete ", " Cancel ",
                                                              " OK ",         " Accept ", " Clear All "};

}  // namespace subset_panel

/// Entry marks of the current subset and the mark-all request; edited with the subset.
struct SubsetPanelMarks {
    std::array<int32_t, subset_panel::kEntries> selectedMarks{};  ///< 1 = entry marked
    /// 1 = draw every entry of the current subset marked on the next paint of the tuple version
    /// (set by " Accept " and " Clear All "); the paint clears it.
    int32_t markAllEntries = 0;
};

/// Everything the panel's paint lays out. Computed by layOutSubsetPanel from rcMain, the font
/// and the series; drawn by drawSubsetPanel / drawTupleSubsetPanel; hit-tested by the mouse
/// handlers.
struct SubsetPanelLayout {
    bool tuple = false;            ///< laid out for the tuple version
    int32_t mx = 0, my = 0;        ///< margins: rcMain width / 170, height / 131
    Rect gridArea;                 ///< frame around the offered cells
    int32_t gridRows = 0;
    int32_t cellWidth = 0, cellHeight = 0;
    std::vector<Rect> rcOfferedCells;    ///< offered etalon i (lpRequiredList[i]) in cell i
    Rect rcSubsetStrip;                  ///< the current subset's strip
    std::vector<Rect> possibleSubsetRect;  ///< cells of the strip, entry k in cell k
    int32_t wPanelButtons = 0;           ///< 4 (plain) or 6 (tuple)
    std::array<Rect, 6> buttons{};       ///< indexed by subset_panel::Button; unused ones zero
    int32_t headingX = 0, headingY = 0;  ///< top-left of " reserved subsets %d " (tuple only)
    Rect storedArea;                     ///< area of the stored-subset rows (tuple only)
    std::vector<Rect> storedRows;        ///< frame of stored-subset row i (tuple only)
    std::vector<std::array<Rect, subset_panel::kEntries>> storedCells;  ///< entry k of row i
};

/// What layOutSubsetPanel needs to know.
struct SubsetPanelGeometryInput {
    Rect rcMain;
    int32_t lineHeight = 0;
    int32_t aveCharWidth = 0;
    int32_t widestLabel = 0;        ///< pixel width of the widest button caption of the version
    int32_t offeredCapacity = 0;    ///< the series' wPulsesListCapacity (0 without a series)
    int32_t maxPulses = 0;          ///< the series' wMaxPulses (0 without a series)
    int32_t reservedSubsets = subset_panel::kReservedSubsets;
    bool tuple = false;
};

/// The panel's geometry. Pure: no canvas, no state. Offered cells are laid out for
/// min(offeredCapacity, 20) etalons, 10 to a row; the plain strip has min(10, maxPulses) cells,
/// the tuple strip always 10. A degenerate rcMain (as before the first paint) gives degenerate
/// but well-formed rectangles.
SubsetPanelLayout layOutSubsetPanel(const SubsetPanelGeometryInput& input);

/// Result of prepareSubsetPanel: ok, or the text of the allocation that failed.
struct SubsetPanelPrepareResult {
    bool ok = true;
    std::string message;
};

/// Makes the panel's storage ready: the current subset (10 entries) with its marks, the stored
/// collection (wReservedSubsets rows of 10 entries and their lengths). Storage already in shape
/// is kept as it is, so the current subset and the stored collection survive leaving and
/// re-entering the panel. Fresh storage is zeroed; a wReservedSubsets of 0 (or above 10)
/// becomes 10. On an allocation failure the panel's storage is released and the result carries
/// the message to show (no caption).
SubsetPanelPrepareResult prepareSubsetPanel(SubsetPanelState& panel, SubsetPanelMarks& marks);

/// True when the storage is in the shape prepareSubsetPanel leaves it.
bool subsetPanelPrepared(const SubsetPanelState& panel);

/// The layout pass of the panel (the plain version, or with `tuple` the tuple version of task
/// 40) in rcMain (layout.rcMain), with the canvas's font (text is only measured): returns the
/// panel's own rectangles and writes the strip into layout.rcSubsetStrip and the frame of every
/// stored-subset row into layout.possibleSubsetArrayRect (emptied for the plain version, which
/// has none).
SubsetPanelLayout layOutSubsetPanelView(const Canvas& canvas, LayoutState& layout, const SubsetPanelState& panel,
                                        const SeriesHeader* series, bool tuple);

/// When marks.markAllEntries is 1 (a subset was accepted or the stored ones cleared), marks
/// every entry of the current subset, so that the tuple version shows them so; the request is
/// then cleared.
void applyMarkAll(const SubsetPanelState& panel, SubsetPanelMarks& marks);

/// Draws the plain version as the layout pass laid it out. Offered etalon i is
/// lpRequiredList[i], i < wRequiredCount, drawn at amplitude `amplitude`. A null series, a null
/// list or an unprepared panel draw what they can and never read outside what exists.
void drawSubsetPanel(Canvas& canvas, const LayoutState& layout, const SubsetPanelLayout& panelLayout,
                     const SubsetPanelState& panel, const SubsetPanelMarks& marks, int16_t amplitude,
                     uint16_t wRequiredCount, const uint16_t* lpRequiredList, const SeriesHeader* series);

/// The tuple version: as drawSubsetPanel, with six buttons, a strip of 10 cells, the heading
/// " reserved subsets %d " and the stored subsets (the chosen one, currentPatternTuple, drawn
/// on red).
void drawTupleSubsetPanel(Canvas& canvas, const LayoutState& layout, const SubsetPanelLayout& panelLayout,
                          const SubsetPanelState& panel, const SubsetPanelMarks& marks, int16_t amplitude,
                          uint16_t wRequiredCount, const uint16_t* lpRequiredList, const SeriesHeader* series);

/// One flat three-dimensional button with its caption centred, on the panel's background.
void drawSubsetPanelButton(Canvas& canvas, int32_t lineHeight, const Rect& rect, const std::string& label);

// ---- Hit tests (inclusive rectangles); -1 / NoButton when nothing is hit. ----

/// Index of the offered cell under (x, y) among the first `wRequiredCount`.
int offeredCellAt(const SubsetPanelLayout& layout, uint16_t wRequiredCount, int32_t x, int32_t y);
/// Whether (x, y) lies in the current subset's strip.
bool stripContains(const SubsetPanelLayout& layout, int32_t x, int32_t y);
/// The button under (x, y), among the wPanelButtons of the version laid out.
subset_panel::Button buttonAt(const SubsetPanelLayout& layout, int32_t x, int32_t y);
/// The stored-subset row (0-based) under (x, y).
int storedRowAt(const SubsetPanelLayout& layout, int32_t x, int32_t y);

// ---- Editing. Each refuses quietly (returns false / 0, state unchanged) what it cannot do. ----

/// Appends `etalon` unmarked when the current subset has fewer than 10 entries.
bool appendEntry(SubsetPanelState& panel, SubsetPanelMarks& marks, int32_t etalon);
/// Removes every marked entry, moving later entries and their marks down. Returns how many.
int deleteMarkedEntries(SubsetPanelState& panel, SubsetPanelMarks& marks);
/// Empties the current subset: count 0, entries and marks zeroed.
void deleteAllEntries(SubsetPanelState& panel, SubsetPanelMarks& marks);
/// A click on offered etalon `etalon`: deletes the marked entries, then appends it when there is
/// room. Returns true when it was appended.
bool offerEtalon(SubsetPanelState& panel, SubsetPanelMarks& marks, int32_t etalon);
/// Clears every mark, then marks the entry whose strip cell contains (x, y). Returns its index,
/// or -1 when the point is on no entry (the marks stay cleared).
int markEntryAt(SubsetPanelState& panel, SubsetPanelMarks& marks, const SubsetPanelLayout& layout, int32_t x,
                int32_t y);
/// " Accept ": stores a copy of the current subset as the next stored subset when fewer than
/// wReservedSubsets are stored and the current subset is not empty; in every case the last
/// stored subset becomes the chosen one (currentPatternTuple = wStoredSubsets) and the entries
/// are to be drawn marked on the next paint. Returns true when a subset was stored.
bool acceptCurrentSubset(SubsetPanelState& panel, SubsetPanelMarks& marks);
/// " Clear All ": no stored subset remains and none is chosen; the entries are to be drawn
/// marked on the next paint.
void clearStoredSubsets(SubsetPanelState& panel, SubsetPanelMarks& marks);
/// Makes stored subset `row` (0-based) the chosen one. Refuses a row that holds no subset.
bool chooseStoredSubset(SubsetPanelState& panel, int row);
