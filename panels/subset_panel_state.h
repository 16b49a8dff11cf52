#pragma once

#include <cstdint>
#include <vector>

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
