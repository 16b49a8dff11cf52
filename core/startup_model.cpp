#include "core/startup_model.h"

#include "model/subsets.h"

void prepareStartupModel(Settings& s, MessageSink& window) {
    for (int i = 0; i < s.wAlphabetSize && i < alphabetCapacity; ++i) s.alphabet[i].lpData.reset();
    if (buildAlphabet(window, static_cast<int16_t>(s.wAmplitude), s.wAlphabetSize, s.wImpulseSize,
                      s.alphabet, s.seeds.alphabetSeed))
        s.viewMode = ViewMode::etalons;

    s.wRequiredCount = s.wAlphabetSize;
    s.wRequiredCapacity = s.wAlphabetSize;
    s.lpRequiredList = getRequiredList(window, s.wRequiredCount, std::move(s.lpRequiredList));

    s.seriesType = SeriesType::unfixedCutoffs;
    s.wTaskTypeSel = TaskType::jointDetection;
    s.wTaskType = effectiveTaskType(s.wTaskTypeSel, s.seriesType);
    s.wDisplayContent = 1;

    if (s.wTaskType == TaskType::detection) {
        s.currentEtalon = s.etalonNumber;
        s.requiredFlags.fill(0);
        if (s.currentEtalon >= 1 && s.currentEtalon <= alphabetCapacity)
            s.requiredFlags[s.currentEtalon - 1] = 1;
    } else {
        s.requiredFlags.fill(0);
        for (int n = 1; n <= s.wAlphabetSize && n <= alphabetCapacity; ++n) s.requiredFlags[n - 1] = 1;
    }
    s.viewMode = isTupleTask(s.wTaskType) ? ViewMode::subsetPanel : ViewMode::etalons;
    rebuildRequiredList(s);

    s.seriesSizeIndex = seriesSizeTable.count;
    s.dwSeriesSizeBase = choiceEntry(seriesSizeTable, s.seriesSizeIndex);
    s.dwSeriesSize = s.dwSeriesSizeBase;

    PulseCountBounds bounds{};
    if (pulseCountBounds(s.dwSeriesSize, s.wImpulseSize, s.wTmin, s.wTmax, bounds)) {
        s.wMinPulses = bounds.minimum;
        s.wMaxPulses = bounds.maximum;
        s.wPulsesQuantity = bounds.suggested;
        s.wSeriesPulses = s.wPulsesQuantity;
    }

    const uint16_t etalon = static_cast<uint16_t>(s.etalonNumber);
    s.lpEtalonSequence.assign(s.wMaxPulses, etalon);
    s.lpEtalonSequenceDlg.assign(s.wMaxPulses, etalon);

    s.noiseLevelIndex = 1;
    s.wNoiseLevelBase = static_cast<int16_t>(choiceEntry(noiseLevelTable, s.noiseLevelIndex));
    s.wNoiseLevel = s.wNoiseLevelBase;

    s.wChainsCapacity = 10;
    s.wChainsPulses = s.wMaxPulses;

    s.lostLevelIndex = 2;
    s.wLostLevelBase = static_cast<int16_t>(choiceEntry(lostLevelTable, s.lostLevelIndex));
    if (!isCutOffSeries(s.seriesType)) {
        s.lostLevelIndex = 1;
        s.wLostLevelBase = 0;
    }
    s.wLostLevel = s.wLostLevelBase;
    s.wSavedEnergyCreateBase = s.wSavedEnergyCreate = static_cast<uint16_t>(100 - s.wLostLevel);
    s.wSavedEnergyProcessBase = s.wSavedEnergyProcess = static_cast<uint16_t>(100 - s.wLostLevel);
}

void makeSeriesOfCurrentType(Settings& s, MessageSink& window) {
    if (isUnknownCountSeries(s.seriesType)) {
        s.lpSeriesHeader = getRandomCutOffSeries(
            window, s.wAlphabetSize, s.alphabet, s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSize,
            s.lpEtalonSequence, static_cast<int16_t>(s.wAmplitude), s.wSavedEnergyCreate,
            std::move(s.lpSeriesHeader), s.seeds);
        if (s.lpSeriesHeader) s.wSeriesPulses = s.lpSeriesHeader->wImpulseQuantity;
    } else {
        s.lpSeriesHeader = getCutOffSeries(
            window, s.wAlphabetSize, s.alphabet, s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSize,
            s.wSeriesPulses, s.lpEtalonSequence, static_cast<int16_t>(s.wAmplitude),
            s.wSavedEnergyCreate, std::move(s.lpSeriesHeader), s.seeds);
    }
}

void buildStartupModel(Settings& s, MessageSink& window) {
    prepareStartupModel(s, window);
    makeSeriesOfCurrentType(s, window);
}

void releaseStartupModel(Settings& s) {
    releaseAlphabet(s.wAlphabetSize, s.alphabet);
    s.lpRequiredList.reset();
    s.wRequiredCount = 0;
    s.lpEtalonSequence.clear();
    s.lpEtalonSequenceDlg.clear();
    freeSeriesHeader(std::move(s.lpSeriesHeader));
    s.lpSeriesHeader = nullptr;
}
