#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
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

/// The current subset's entries in use.
inline std::span<const int32_t> currentSubset(const SubsetPanelState& panel) {
    return std::span<const int32_t>(panel.selectedSubset)
        .first(std::min<size_t>(panel.wSelectedCount, panel.selectedSubset.size()));
}

/// The stored subsets in use as the series' stored subsets take them: their lengths and their
/// whole rows.
struct StoredSubsetRows {
    std::span<const int32_t> sizes;
    std::vector<std::span<const int32_t>> rows;
};
inline StoredSubsetRows storedSubsetRows(const SubsetPanelState& panel) {
    const size_t count = std::min<size_t>(
        panel.wStoredSubsets, std::min(panel.selectedSubsetArray.size(), panel.selectedSubsetArraySize.size()));
    StoredSubsetRows stored{std::span<const int32_t>(panel.selectedSubsetArraySize).first(count), {}};
    for (size_t t = 0; t < count; ++t) stored.rows.emplace_back(panel.selectedSubsetArray[t]);
    return stored;
}

/// The stored subsets in use, each cut to its length, as tuple recognition takes them.
inline std::vector<std::span<const int32_t>> storedSubsets(const SubsetPanelState& panel) {
    const StoredSubsetRows stored = storedSubsetRows(panel);
    std::vector<std::span<const int32_t>> subsets;
    for (size_t t = 0; t < stored.rows.size(); ++t)
        subsets.push_back(stored.rows[t].first(std::min<size_t>(std::max(stored.sizes[t], 0), stored.rows[t].size())));
    return subsets;
}
