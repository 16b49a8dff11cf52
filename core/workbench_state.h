#pragma once

#include <cstdint>
#include <vector>

#include "platform/shell.h"

/// The subset panel's state that the commands read: the current subset being composed and the
/// stored subsets (tuples). The panel itself edits it.
struct SubsetPanelState {
    std::vector<int32_t> selectedSubset;                    ///< the current subset, etalon numbers
    uint16_t wSelectedCount = 0;                            ///< entries of it in use
    std::vector<std::vector<int32_t>> selectedSubsetArray;  ///< stored subsets
    std::vector<int32_t> selectedSubsetArraySize;           ///< their lengths
    uint16_t wStoredSubsets = 0;                            ///< stored subsets in use
    uint16_t wReservedSubsets = 10;                         ///< rows of stored subsets
    uint16_t wSubsetEntries = 10;                           ///< entries per subset
    int32_t currentPatternTuple = 0;                        ///< the stored subset picked, 1-based
};

/// The rectangles the last paint computed; the commands and the mouse handlers invalidate and
/// hit-test them. All empty until the first paint.
struct LayoutState {
    int32_t lineHeight = 0;
    Rect rcMain;              ///< the view area
    Rect rcButtonColumn;      ///< the column of command buttons
    Rect rcSelectAllButton;
    Rect rcSeriesLengthBox;
    Rect rcNoiseLevelBox;
    Rect rcLostLevelBox;
    Rect rcSubsetStrip;       ///< the current subset's strip in the subset panel
    std::vector<Rect> etalonCells;           ///< cell of etalon n at n - 1
    std::vector<Rect> possibleSubsetArrayRect;  ///< frame of each stored-subset row
};
