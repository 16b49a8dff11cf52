#include "core/settings.h"

#include <algorithm>
#include <memory>

// The owned records go with their unique pointers.
Settings::~Settings() = default;

void deriveStartupSettings(Settings& s) {
    s.dwSeriesSizeBase = choiceEntry(seriesSizeTable, s.seriesSizeIndex);
    s.dwSeriesSize = s.dwSeriesSizeBase;
    s.wNoiseLevelBase = static_cast<int16_t>(choiceEntry(noiseLevelTable, s.noiseLevelIndex));
    s.wNoiseLevel = s.wNoiseLevelBase;
    s.wLostLevelBase = static_cast<int16_t>(choiceEntry(lostLevelTable, s.lostLevelIndex));
    s.wLostLevel = s.wLostLevelBase;
    s.wSavedEnergyCreateBase = static_cast<uint16_t>(100 - s.wLostLevel);
    s.wSavedEnergyCreate = s.wSavedEnergyCreateBase;
    s.wSavedEnergyProcessBase = static_cast<uint16_t>(100 - s.wLostLevel);
    s.wSavedEnergyProcess = s.wSavedEnergyProcessBase;
    s.currentEtalon = s.etalonNumber;
}

void rebuildRequiredList(Settings& s) {
    const int size = std::min<int>(s.wAlphabetSize, alphabetCapacity);
    if (!s.lpRequiredList || s.wRequiredCapacity < size) {
        s.lpRequiredList = std::make_unique<uint16_t[]>(size);
        s.wRequiredCapacity = static_cast<uint16_t>(size);
    }
    uint16_t count = 0;
    for (int n = 1; n <= size; ++n)
        if (s.requiredFlags[n - 1]) s.lpRequiredList[count++] = static_cast<uint16_t>(n);
    s.wRequiredCount = count;
}
