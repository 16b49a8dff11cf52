#pragma once

// How the channels of a recording share a drawing's height: lanes stacked over one time axis,
// the same in the recording view and in the batch tool's picture. Free of any toolkit.

#include <algorithm>
#include <cstdint>
#include <vector>

/// One lane of an area stacked into lanes: rows [top, top + height) from the area's top.
struct LaneRows {
    int top = 0;
    int height = 1;
};

/// The lanes of `channels` channels (>= 1) stacked top to bottom in an area `height` pixels high,
/// `gap` pixels (>= 0) between neighbours: every lane equally high, the first lanes a pixel
/// higher where the room does not divide, at least one pixel each (lanes then run past the
/// area's foot). One channel: the whole area. Fewer than one: no lanes.
inline std::vector<LaneRows> stackedLanes(int height, int channels, int gap) {
    std::vector<LaneRows> lanes;
    if (channels < 1) return lanes;
    gap = std::max(gap, 0);
    const int64_t room =
        std::max<int64_t>(static_cast<int64_t>(height) - static_cast<int64_t>(gap) * (channels - 1), channels);
    const int64_t each = room / channels, extra = room % channels;
    lanes.reserve(static_cast<size_t>(channels));
    int64_t top = 0;
    for (int c = 0; c < channels; ++c) {
        const int64_t rows = each + (c < extra ? 1 : 0);
        lanes.push_back({static_cast<int>(top), static_cast<int>(rows)});
        top += rows + gap;
    }
    return lanes;
}

/// The least height of an area that gives each of `channels` lanes `laneHeight` pixels.
inline int stackedHeight(int channels, int laneHeight, int gap) {
    if (channels < 1) return 0;
    return channels * std::max(laneHeight, 1) + (channels - 1) * std::max(gap, 0);
}
