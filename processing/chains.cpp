#include "processing/chains.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "model/codes.h"
#include "model/owned.h"
#include "model/text_format.h"

namespace {
const char* kGetCaption = " getChainsHeader ";
const char* kAddCaption = " addToChainsHeader ";

// Reports a failed allocation; the header goes with everything it held.
std::unique_ptr<ChainsHeader> failAllocation(MessageSink& window, const char* text,
                                             std::unique_ptr<ChainsHeader> header) {
    header.reset();
    window.messageBox(text, kGetCaption, MessageIcon::None);
    return nullptr;
}

// Replaces the three blocks by zeroed blocks of exactly the given dimensions and points the
// list views into them. On failure the header is released and null returned.
std::unique_ptr<ChainsHeader> reallocateBlocks(MessageSink& window, uint16_t maxSize,
                                               uint16_t maxPulses,
                                               std::unique_ptr<ChainsHeader> header) {
    const std::size_t rows = maxSize;
    const std::size_t perRow = maxPulses;

    header->distanceBlock.reset();
    header->distance = nullptr;
    header->chainPulses = nullptr;
    header->distanceBlock = tryMakeArray<int32_t>(2 * rows);
    if (!header->distanceBlock)
        return failAllocation(window, "Нет памяти для newChainsHeader->distance!", std::move(header));

    header->pulseBlock.reset();
    header->rowBlock.reset();
    header->pulsesList = header->positionsList = header->cutStartList = header->cutEndList = nullptr;
    header->rowBlock = tryMakeArray<int16_t*>(4 * rows);
    if (!header->rowBlock)
        return failAllocation(window, "Нет памяти для newChainsHeader->pulsesList!", std::move(header));
    header->pulseBlock = tryMakeArray<int16_t>(4 * rows * perRow);
    if (!header->pulseBlock)
        return failAllocation(window, "Нет памяти для newChainsHeader->pulsesList[0]!", std::move(header));

    header->wMaxSize = maxSize;
    header->wMaxPulses = maxPulses;
    header->distance = header->distanceBlock.get();
    header->chainPulses = header->distance + rows;
    int16_t** pointers = header->rowBlock.get();
    for (std::size_t r = 0; r < 4 * rows; ++r) pointers[r] = header->pulseBlock.get() + r * perRow;
    header->pulsesList = pointers;
    header->positionsList = pointers + rows;
    header->cutStartList = pointers + 2 * rows;
    header->cutEndList = pointers + 3 * rows;
    return header;
}

// Rows that can be read safely: the rows in use, bounded by the allocated ones.
int validRows(const ChainsHeader& h) {
    if (!h.distance || !h.chainPulses || !h.pulsesList) return 0;
    return std::min(h.wPretenders, h.wMaxSize);
}

int pulsesOfRow(const ChainsHeader& h, int row) {
    return std::clamp<int>(h.chainPulses[row], 0, h.wMaxPulses);
}

// Moves row `from` whole onto row `to`: distance, pulse count and every pulse entry.
void moveRow(ChainsHeader& h, int from, int to) {
    h.distance[to] = h.distance[from];
    h.chainPulses[to] = h.chainPulses[from];
    int16_t** lists[] = {h.pulsesList, h.positionsList, h.cutStartList, h.cutEndList};
    for (int16_t** list : lists) std::copy_n(list[from], h.wMaxPulses, list[to]);
}
}  // namespace

std::unique_ptr<ChainsHeader> getChainsHeader(MessageSink& window, uint16_t wMaxSize,
                                              uint16_t wMaxPulses,
                                              std::unique_ptr<ChainsHeader> header) {
    if (!header) {
        header = tryMakeRecord<ChainsHeader>();
        if (!header) {
            window.messageBox("Нет памяти для newChainsHeader!", kGetCaption, MessageIcon::None);
            return nullptr;
        }
    }

    // A header is only ever grown: when both dimensions suffice its blocks stay as they are.
    if (header->wMaxSize < wMaxSize || header->wMaxPulses < wMaxPulses) {
        header = reallocateBlocks(window, wMaxSize, wMaxPulses, std::move(header));
        if (!header) return nullptr;
    }

    header->wPretenders = 0;
    header->wQuanPulses = 0;
    header->wSeekingPulsesQuantity = 0;
    const std::size_t rows = header->wMaxSize;
    if (header->distanceBlock) std::fill_n(header->distanceBlock.get(), 2 * rows, 0);
    if (header->pulseBlock) std::fill_n(header->pulseBlock.get(), 4 * rows * header->wMaxPulses, 0);
    return header;
}

int addToChainsHeader(MessageSink& window, uint16_t seriesType, uint16_t taskType,
                      uint16_t makingEnergy, uint16_t processingEnergy, ChainsHeader* header) {
    if (!header) {
        window.messageBox("Не определен lpChainsHeader!", kAddCaption, MessageIcon::None);
        return 0;
    }
    header->wDescriptorCount = 2;
    header->wSeriesType = seriesType;
    header->lpSeriesTypeName = seriesTypeName(seriesType);
    header->wTaskType = taskType;
    header->lpTaskName = chainsTaskName(taskType);
    header->wMakingEnergy = makingEnergy;
    header->wProcessingEnergy = processingEnergy;
    return 1;
}

int releaseChainsHeader(std::unique_ptr<ChainsHeader> header) {
    header.reset();
    return 1;
}

std::string aboutChainsHeaderText(const ChainsHeader& header) {
    // Built in a growing string: a table with many or long chains is reported in full.
    std::string text = "ChainsHeader:\n";
    appendFormatted(text, "wMaxSize: %d\n", header.wMaxSize);
    appendFormatted(text, "wPretenders: %d\n", header.wPretenders);
    appendFormatted(text, "wMaxPulses: %d\n", header.wMaxPulses);
    appendFormatted(text, "wQuanPulses: %d\n", header.wQuanPulses);
    appendFormatted(text, "wSeekingPulsesQuantity: %d\n", header.wSeekingPulsesQuantity);

    const int rows = validRows(header);
    for (int i = 0; i < rows; ++i) {
        appendFormatted(text, " %d.", i + 1);
        appendFormatted(text, " %d", header.distance[i]);
        const int pulses = pulsesOfRow(header, i);
        for (int j = 0; j < pulses; ++j) {
            appendFormatted(text, " %d", header.positionsList[i][j]);
            appendFormatted(text, " (%d)", header.pulsesList[i][j]);
            appendFormatted(text, " [%d", header.cutStartList[i][j]);
            appendFormatted(text, " %d]", header.cutEndList[i][j]);
        }
        text += '\n';
    }
    return text;
}

int aboutChainsHeader(MessageSink& window, const ChainsHeader& header) {
    window.messageBox(aboutChainsHeaderText(header), "aboutChainsHeader Info", MessageIcon::None);
    return 1;
}

void resetChainsForRun(ChainsHeader& header, uint16_t quanPulses, uint16_t seekingPulses,
                       int entries) {
    header.wPretenders = 0;
    header.wQuanPulses = quanPulses;
    header.wSeekingPulsesQuantity = seekingPulses;
    if (!header.distance || !header.pulsesList) return;
    const int cleared = std::clamp<int>(entries, 0, header.wMaxPulses);
    int16_t** lists[] = {header.pulsesList, header.positionsList, header.cutStartList,
                         header.cutEndList};
    for (int row = 0; row < header.wMaxSize; ++row) {
        header.distance[row] = 0;
        for (int16_t** list : lists) std::fill_n(list[row], cleared, 0);
    }
}

int insertChain(ChainsHeader& header, int32_t distance, std::span<const ChainPulse> pulses) {
    if (!header.distance || !header.chainPulses || !header.pulsesList) return -1;
    const int capacity = header.wMaxSize;
    const int used = std::min<int>(header.wPretenders, capacity);

    // The new chain goes after every row that is at least as good.
    int k = 0;
    while (k < used && header.distance[k] <= distance) ++k;
    if (k >= capacity) return -1;

    const int lastMoved = used < capacity ? used : capacity - 1;
    for (int row = lastMoved; row > k; --row) moveRow(header, row - 1, row);

    const int stored = static_cast<int>(std::min<std::size_t>(pulses.size(), header.wMaxPulses));
    header.distance[k] = distance;
    header.chainPulses[k] = stored;
    for (int j = 0; j < stored; ++j) {
        header.positionsList[k][j] = pulses[j].position;
        header.pulsesList[k][j] = pulses[j].etalon;
        header.cutStartList[k][j] = pulses[j].cutStart;
        header.cutEndList[k][j] = pulses[j].cutEnd;
    }
    if (used < capacity) header.wPretenders = static_cast<uint16_t>(used + 1);
    return k;
}
