#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "model/message_sink.h"
#include "model/series.h"

/// Frees `oldList` and returns a new list of `count` entries 1, 2, ..., count (every etalon
/// required). Returns null after "Нет памяти для newList!".
std::unique_ptr<uint16_t[]> getRequiredList(MessageSink& messages, uint16_t count,
                                            std::unique_ptr<uint16_t[]> oldList);

/// Makes one subset active in `header`: copies entries (low 16 bits) up to the header's
/// wMaxPulses, records their number, the layout mode (1..5) and the 1-based start. A null header
/// does nothing. Returns 1; returns 0 with a message and the header unchanged for a start of 0.
int setSelectedSubset(MessageSink& messages, std::span<const int32_t> entries, int mode, int start,
                      SeriesHeader* header);

/// Stores `sizes.size()` subsets (subset i: its first sizes[i] entries of lists[i]) in `header`,
/// reusing the stored-subset allocations when they hold `capacity` subsets of `entriesPerSubset`
/// entries, and makes subset `activeIndex` (1-based; out of range = the last one) active with
/// the given mode and start. Returns 1 (also for a null header); 0 for no subsets, after a
/// memory message, or with a message and the header unchanged when the subsets do not fit the
/// capacities asked for or the start is 0.
int addSomeSelectedSubsetToSeriesHeader(MessageSink& messages, std::span<const int32_t> sizes,
                                        std::span<const std::span<const int32_t>> lists,
                                        int capacity, int entriesPerSubset, int activeIndex,
                                        int mode, int start, SeriesHeader* header);

/// The header's active subset as text ("3,5,7"), or "" when it has none: the tuple every new
/// series of the header is laid from.
std::string activeSubsetText(const SeriesHeader& header);
