#include "model/subsets.h"

#include <algorithm>
#include <string>

#include "model/owned.h"

namespace {
const char* kAddCaption = " addSomeSelectedSubsetToSeriesHeader ";

// Copies a subset into the active slot. Entries beyond wMaxPulses are not stored, and the
// recorded length is the stored one, so the series builder never reads past what is there.
void activate(std::span<const int32_t> entries, int count, int mode, int start, SeriesHeader& h) {
    const int stored = std::clamp<int>(count, 0, std::min(h.wMaxPulses, h.wAllocatedPulses));
    for (int i = 0; i < stored; ++i) h.lpSelectedSubset[i] = static_cast<int16_t>(entries[i]);
    h.wSelectedSubsetSize = static_cast<uint16_t>(stored);
    h.wSubsetMode = static_cast<uint16_t>(mode);
    h.wSubsetStart = static_cast<uint16_t>(start);
}

bool startRefused(MessageSink& messages, const char* caption, int start) {
    if (start >= 1 && start <= 65535) return false;
    messages.messageBox("The subset start is a 1-based pulse number (got " + std::to_string(start) + ").",
                      caption, MessageIcon::Warning);
    return true;
}
}  // namespace

std::unique_ptr<uint16_t[]> getRequiredList(MessageSink& messages, uint16_t count,
                                            std::unique_ptr<uint16_t[]> oldList) {
    oldList.reset();
    std::unique_ptr<uint16_t[]> list = tryMakeArray<uint16_t>(count);
    if (!list) {
        messages.messageBox("Нет памяти для newList!", " getRequiredList ", MessageIcon::None);
        return nullptr;
    }
    for (uint16_t i = 0; i < count; ++i) list[i] = static_cast<uint16_t>(i + 1);
    return list;
}

int setSelectedSubset(MessageSink& messages, std::span<const int32_t> entries, int mode, int start,
                      SeriesHeader* header) {
    if (!header) return 1;
    if (startRefused(messages, " setSelectedSubset ", start)) return 0;
    activate(entries, static_cast<int>(entries.size()), mode, start, *header);
    return 1;
}

int addSomeSelectedSubsetToSeriesHeader(MessageSink& messages, std::span<const int32_t> sizes,
                                        std::span<const std::span<const int32_t>> lists,
                                        int capacity, int entriesPerSubset, int activeIndex,
                                        int mode, int start, SeriesHeader* header) {
    const int count = static_cast<int>(sizes.size());
    if (count <= 0) return 0;
    if (!header) return 1;

    // Everything is checked before the stored subsets are touched.
    if (count > capacity || capacity > 65535 || entriesPerSubset < 0 || entriesPerSubset > 65535 ||
        lists.size() < sizes.size()) {
        messages.messageBox("Cannot store " + std::to_string(count) + " subsets in room for " +
                              std::to_string(capacity) + ".",
                          kAddCaption, MessageIcon::Warning);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        if (sizes[i] < 0 || sizes[i] > entriesPerSubset ||
            static_cast<size_t>(sizes[i]) > lists[i].size()) {
            messages.messageBox("Subset " + std::to_string(i + 1) + " has " + std::to_string(sizes[i]) +
                                  " entries; a stored subset holds 0 to " +
                                  std::to_string(entriesPerSubset) + ".",
                              kAddCaption, MessageIcon::Warning);
            return 0;
        }
    }
    if (startRefused(messages, kAddCaption, start)) return 0;

    SeriesHeader& h = *header;
    if (h.wSubsetsCapacity < capacity || h.wSubsetCapacity < entriesPerSubset) {
        h.selectedSubsetSize.reset();
        h.selectedSubsetList.reset();
    }
    if (!h.selectedSubsetSize) {
        const size_t entries = static_cast<size_t>(capacity) * (static_cast<size_t>(entriesPerSubset) + 1);
        h.selectedSubsetSize = tryMakeArray<int16_t>(entries);
        if (!h.selectedSubsetSize) {
            messages.messageBox("Нет памяти для lpSeriesHeader->selectedSubsetSize!", kAddCaption,
                              MessageIcon::None);
            return 0;
        }
    }
    if (!h.selectedSubsetList) {
        h.selectedSubsetList = tryMakeArray<int16_t*>(capacity);
        if (!h.selectedSubsetList) {
            h.selectedSubsetSize.reset();
            messages.messageBox("Нет памяти для lpSeriesHeader->selectedSubsetList!", kAddCaption,
                              MessageIcon::None);
            return 0;
        }
        for (int i = 0; i < capacity; ++i)
            h.selectedSubsetList[i] = h.selectedSubsetSize.get() + capacity + i * entriesPerSubset;
        h.wSubsetsCapacity = static_cast<uint16_t>(capacity);
        h.wSubsetCapacity = static_cast<uint16_t>(entriesPerSubset);
    }

    h.wSubsetsCount = static_cast<uint16_t>(count);
    for (int i = 0; i < count; ++i) {
        h.selectedSubsetSize[i] = static_cast<int16_t>(sizes[i]);
        for (int k = 0; k < sizes[i]; ++k) h.selectedSubsetList[i][k] = static_cast<int16_t>(lists[i][k]);
    }

    // The index is 1-based; one outside 1..count (the most negative int included) means the last.
    const int active = activeIndex >= 1 && activeIndex <= count ? activeIndex - 1 : count - 1;
    activate(lists[active], sizes[active], mode, start, h);
    return 1;
}

std::string activeSubsetText(const SeriesHeader& header) {
    std::string text;
    if (!header.lpSelectedSubset) return text;
    for (int i = 0; i < header.wSelectedSubsetSize; ++i) {
        if (i) text += ',';
        text += std::to_string(header.lpSelectedSubset[i]);
    }
    return text;
}
