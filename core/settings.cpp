#include "core/settings.h"

#include <algorithm>

Settings::~Settings() {
    freeSeriesHeader(lpSeriesHeader);
    releaseChainsHeader(lpChainsHeader);
    if (lpRestErrorHeader) {
        RecordingMessageSink quiet;
        releaseRestErrHeader(quiet, lpRestErrorHeader);
    }
}

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

int pulseCountBounds(uint32_t L, uint16_t P, uint16_t wTmin, uint16_t wTmax, PulseCountBounds& out) {
    if (wTmin == 0 || wTmax == 0 || P > L + wTmin) return 0;
    const uint32_t minimum = (L + P - 1) / wTmax;
    const uint32_t maximum = (L - P + wTmin) / wTmin;
    out.minimum = static_cast<uint16_t>(std::min<uint32_t>(minimum, 65535));
    out.maximum = static_cast<uint16_t>(std::min<uint32_t>(maximum, 65535));
    out.suggested = static_cast<uint16_t>((out.minimum + out.maximum) / 2);
    return 1;
}

uint16_t effectiveTaskType(uint16_t wTaskTypeSel, uint32_t seriesType) {
    const bool tuples = seriesType == seriesFixedTuples || seriesType == seriesUnfixedTuples;
    if (tuples && wTaskTypeSel == taskDetection) return taskTupleDetection;
    if (tuples && wTaskTypeSel == taskRecognition) return taskTupleRecognition;
    return wTaskTypeSel;
}

bool isUnfixedCountSeriesType(uint32_t seriesType) {
    return seriesType == seriesUnfixedWhole || seriesType == seriesUnfixedCutoffs ||
           seriesType == seriesUnfixedTuples;
}

void rebuildRequiredList(Settings& s) {
    const int size = std::min<int>(s.wAlphabetSize, alphabetCapacity);
    if (!s.lpRequiredList || s.wRequiredCapacity < size) {
        s.lpRequiredList.reset(new uint16_t[size]);
        s.wRequiredCapacity = static_cast<uint16_t>(size);
    }
    uint16_t count = 0;
    for (int n = 1; n <= size; ++n)
        if (s.requiredFlags[n - 1]) s.lpRequiredList[count++] = static_cast<uint16_t>(n);
    s.wRequiredCount = count;
}
