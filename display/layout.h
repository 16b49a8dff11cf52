#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/shell.h"

/// What the layout pass laid out for the state. Every rectangle is inclusive (right and bottom
/// are its last pixel). Written by the layout pass before every paint and every hit test; read by
/// the paint, the commands (which invalidate the rectangles) and the mouse handlers (which
/// hit-test them). All zero before the first paint measured the font.
struct LayoutState {
    int32_t lineHeight = 0;    ///< text line pitch: font height plus external leading, minus 1
    int32_t aveCharWidth = 0;
    int32_t maxCharWidth = 0;
    Rect rcMain;               ///< the view area, trimmed to whole etalon cells
    uint16_t wCellWidth = 0, wCellHeight = 0;   ///< one etalon cell
    uint16_t wPulseWidth = 0, wPulseHeight = 0; ///< cell size minus 10
    std::vector<Rect> rcEtalonCells;            ///< cell of etalon n at n - 1, row by row
    Rect rcExitButton, rcNextButton, rcSelectAllButton, rcRestartButton;
    Rect rcSelectAllHit;       ///< copy of rcSelectAllButton, written with it
    Rect rcButtonColumn;       ///< band over the upper buttons
    int32_t selectAllState = 0;  ///< 1: the toggle shows "Select All"; 0: "Unselect All"
    Rect rcSeriesLengthBox, rcNoiseLevelBox, rcLostLevelBox;
    std::array<Rect, 3> rcSeriesLengthItems{}, rcNoiseLevelItems{}, rcLostLevelItems{};
    Rect rcOptionColumn;

    // Written by the layout pass of the results view or the simulation graphs.
    std::vector<Rect> rcPatternTuples;  ///< one row per stored pattern tuple (task 40)
    // Written by the subset panel's layout pass.
    Rect rcSubsetStrip;
    std::vector<Rect> possibleSubsetArrayRect;  ///< frame of each stored-subset row
};

/// The etalon grid of `alphabetSize` cells: r rows (the smallest r >= 1 with r (r + 1) >=
/// alphabetSize) and r + 1 columns.
struct GridShape {
    int32_t rows;
    int32_t columns;
};
GridShape etalonGrid(int32_t alphabetSize);

/// Lays the client rectangle out (steps of the paint before any drawing): buttons, button
/// column, view area trimmed to whole cells, the etalon cells. `showToggle` is false while the
/// task is 1, 36 or 40 (no Select All / Unselect All button; rcSelectAllButton keeps its value).
void layOutWindow(const Rect& client, int32_t lineHeight, int32_t alphabetSize, bool showToggle,
                  LayoutState& layout);

/// The option boxes' rectangles: series length, noise level and, for cut-off series, lost level.
void layOutOptionBoxes(const Rect& client, bool lostLevelBox, LayoutState& layout);
