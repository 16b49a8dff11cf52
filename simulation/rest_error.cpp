#include "simulation/rest_error.h"

#include "model/codes.h"
#include "model/owned.h"
#include "processing/chains.h"

#include <algorithm>
#include <cstddef>
#include <string>

namespace {
const char* kGetCaption = " getRestErrHeader ";
const char* kInitCaption = " initRestErrHeader ";
const char* kAddCaption = " addInitRestErrHeader ";

// The axis counts are kept in 16-bit fields.
constexpr int32_t kMaxAxisCount = 65535;
constexpr std::size_t kMatrices = 6;

// The six row tables in field order, which is also their order in the row-pointer block and
// the order of the matrices in the data block.
int32_t** RestErrorHeader::* const kTables[kMatrices] = {
    &RestErrorHeader::lpErrors,          &RestErrorHeader::lpDetectErrors,
    &RestErrorHeader::lpReservedErrors1, &RestErrorHeader::lpRecognErrors,
    &RestErrorHeader::lpReservedErrors2, &RestErrorHeader::lpReservedErrors3,
};

// Refuses a grid axis without entries, or with more than its 16-bit field can count.
bool axisCountAccepted(MessageSink& messages, int32_t count, const char* singular,
                       const char* plural, const char* caption) {
    if (count < 1) {
        messages.messageBox("The simulation grid needs at least one " + std::string(singular) +
                              " (got " + std::to_string(count) + ").",
                          caption, MessageIcon::None);
        return false;
    }
    if (count > kMaxAxisCount) {
        messages.messageBox("The simulation grid holds at most " + std::to_string(kMaxAxisCount) +
                              " " + plural + " (got " + std::to_string(count) + ").",
                          caption, MessageIcon::None);
        return false;
    }
    return true;
}

// Reports a failed allocation; the header goes with every block it still holds.
std::unique_ptr<RestErrorHeader> failAllocation(MessageSink& messages, const char* text,
                                                std::unique_ptr<RestErrorHeader> header) {
    header.reset();
    messages.messageBox(text, kGetCaption, MessageIcon::None);
    return nullptr;
}

// Replaces all three blocks by zeroed blocks for exactly `pulses` columns and `levels` rows and
// points the axes and the row tables into them. The blocks are only ever made together: rows
// are laid out with the pulse capacity, so the data block always holds 6 x wReservedPulses x
// wReservedLevels integers and each row exactly wReservedPulses of them. Re-making the axis
// block alone (a larger pulse capacity with fewer levels) would leave rows narrower than the
// pulse capacity, and re-making the data block alone (a larger product within the same sum)
// would lay rows out wider than the capacity the axes report; either way rows would overlap.
// On failure the header is released and null returned.
std::unique_ptr<RestErrorHeader> makeBlocks(MessageSink& messages, std::size_t pulses,
                                            std::size_t levels,
                                            std::unique_ptr<RestErrorHeader> header) {
    header->dataBlock.reset();
    header->rowBlock.reset();
    header->axisBlock.reset();
    header->lpNoiseLevels = header->wPulseValues = nullptr;
    for (auto table : kTables) (*header).*table = nullptr;

    header->axisBlock = tryMakeArray<int16_t>(levels + pulses);
    if (!header->axisBlock)
        return failAllocation(messages, "Нет памяти для newRestErrorHeader->lpNoiseLevel!", std::move(header));
    header->lpNoiseLevels = header->axisBlock.get();
    header->wPulseValues = header->lpNoiseLevels + levels;
    header->wReservedLevels = static_cast<uint16_t>(levels);
    header->wReservedPulses = static_cast<uint16_t>(pulses);

    header->rowBlock = tryMakeArray<int32_t*>(kMatrices * levels);
    if (!header->rowBlock)
        return failAllocation(messages, "Нет памяти для newRestErrorHeader->lpErrors!", std::move(header));
    for (std::size_t m = 0; m < kMatrices; ++m) (*header).*kTables[m] = header->rowBlock.get() + m * levels;

    header->dataBlock = tryMakeArray<int32_t>(kMatrices * pulses * levels);
    if (!header->dataBlock)
        return failAllocation(messages, "Нет памяти для newRestErrorHeader->lpErrors[]!", std::move(header));
    for (std::size_t m = 0; m < kMatrices; ++m) {
        int32_t* matrix = header->dataBlock.get() + m * pulses * levels;
        for (std::size_t row = 0; row < levels; ++row) ((*header).*kTables[m])[row] = matrix + pulses * row;
    }
    return header;
}
}  // namespace

std::unique_ptr<RestErrorHeader> getRestErrHeader(MessageSink& messages, int32_t pulseCount,
                                                  int32_t levelCount, int32_t repeats,
                                                  std::unique_ptr<RestErrorHeader> header) {
    // A refused grid keeps the header (the caller stores the result in place of its pointer);
    // the following initRestErrHeader refuses the same grid again.
    if (!axisCountAccepted(messages, pulseCount, "pulse count", "pulse counts", kGetCaption) ||
        !axisCountAccepted(messages, levelCount, "noise level", "noise levels", kGetCaption))
        return header;

    if (!header) {
        header = tryMakeRecord<RestErrorHeader>();
        if (!header) {
            messages.messageBox("Нет памяти для newRestErrorHeader!", kGetCaption, MessageIcon::None);
            return nullptr;
        }
    }

    // The blocks are reused when the grid fits by product (data), by sum (axes) and by rows
    // (row tables). The columns alone are not compared, so a kept header may have fewer
    // columns than asked for; initRestErrHeader refuses such a grid.
    const std::size_t pulses = static_cast<std::size_t>(pulseCount);
    const std::size_t levels = static_cast<std::size_t>(levelCount);
    const std::size_t reservedPulses = header->wReservedPulses;
    const std::size_t reservedLevels = header->wReservedLevels;
    const bool blocksFit = header->axisBlock && header->rowBlock && header->dataBlock &&
                           reservedPulses * reservedLevels >= pulses * levels &&
                           reservedPulses + reservedLevels >= pulses + levels &&
                           reservedLevels >= levels;
    if (!blocksFit) {
        header = makeBlocks(messages, pulses, levels, std::move(header));
        if (!header) return nullptr;
    }

    header->wNoiseLevels = static_cast<uint16_t>(levelCount);
    header->wVariousPulses = static_cast<uint16_t>(pulseCount);
    header->repeats = repeats;
    // Whole blocks are cleared: with kept, larger blocks the cells of the new grid are spread
    // over the reserved rows of every matrix, not gathered at the start of the data block.
    const std::size_t columns = header->wReservedPulses;
    const std::size_t rows = header->wReservedLevels;
    std::fill_n(header->axisBlock.get(), rows + columns, int16_t{0});
    std::fill_n(header->dataBlock.get(), kMatrices * columns * rows, 0);
    return header;
}

int releaseRestErrHeader(MessageSink&, std::unique_ptr<RestErrorHeader> header) {
    header.reset();
    return 1;
}

int initRestErrHeader(MessageSink& messages, int32_t pulseCount, int32_t firstPulses,
                      int32_t pulsesStep, int32_t levelCount, int32_t firstLevel,
                      int32_t levelStep, int32_t repeats, RestErrorHeader* header) {
    if (!header) {
        messages.messageBox("Не определен lpErrorHeader!", kInitCaption, MessageIcon::None);
        return 0;
    }
    if (pulseCount > header->wReservedPulses) {
        messages.messageBox("Неверно задан wVariousPulsesNumber!", kInitCaption, MessageIcon::None);
        return 0;
    }
    if (levelCount > header->wReservedLevels) {
        messages.messageBox("Неверно задан wNoiseLevels!", kInitCaption, MessageIcon::None);
        return 0;
    }
    if (!axisCountAccepted(messages, pulseCount, "pulse count", "pulse counts", kInitCaption) ||
        !axisCountAccepted(messages, levelCount, "noise level", "noise levels", kInitCaption))
        return 0;
    // The driver averages every cell over the repeats.
    if (repeats < 1) {
        messages.messageBox("The simulation needs at least one series per grid cell (got " +
                              std::to_string(repeats) + ").",
                          kInitCaption, MessageIcon::None);
        return 0;
    }
    // Capacities without storage only come from a header not made by getRestErrHeader.
    if (!header->lpNoiseLevels || !header->wPulseValues || !header->lpErrors) {
        messages.messageBox("Не определен lpErrorHeader!", kInitCaption, MessageIcon::None);
        return 0;
    }

    header->wVariousPulses = static_cast<uint16_t>(pulseCount);
    header->wNoiseLevels = static_cast<uint16_t>(levelCount);
    header->repeats = repeats;
    header->ifComplete = 0;

    // Computed wide and then cut to 16 bits, so large starts and steps wrap instead of
    // overflowing.
    for (int32_t i = 0; i < pulseCount; ++i)
        header->wPulseValues[i] = static_cast<int16_t>(int64_t{firstPulses} + int64_t{pulsesStep} * i);
    for (int32_t k = 0; k < levelCount; ++k)
        header->lpNoiseLevels[k] = static_cast<int16_t>(int64_t{firstLevel} + int64_t{levelStep} * k);
    for (int32_t k = 0; k < levelCount; ++k) std::fill_n(header->lpErrors[k], pulseCount, 0);
    return 1;
}

int addInitRestErrHeader(MessageSink& messages, uint16_t seriesType, uint16_t taskType,
                         uint16_t makingEnergy, uint16_t processingEnergy,
                         RestErrorHeader* header) {
    if (!header) {
        messages.messageBox("Не определен lpErrorHeader!", kAddCaption, MessageIcon::None);
        return 0;
    }
    header->wDescriptorCount = 2;
    header->wSeriesType = seriesType;
    header->lpSeriesTypeName = seriesTypeName(seriesType);
    header->wTaskType = taskType;
    header->lpTaskName = simulationTaskName(taskType);
    header->wMakingEnergy = makingEnergy;
    header->wProcessingEnergy = processingEnergy;
    return 1;
}
