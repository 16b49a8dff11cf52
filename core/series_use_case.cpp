#include "core/series_use_case.h"

#include <algorithm>

#include "model/random.h"

void takeBaseValues(Settings& s) {
    s.dwSeriesSize = s.dwSeriesSizeBase;
    PulseCountBounds b{};
    if (pulseCountBounds(s.dwSeriesSizeBase, s.wImpulseSize, s.wTmin, s.wTmax, b)) {
        s.wMinPulses = b.minimum;
        s.wMaxPulses = b.maximum;
    }
    s.wNoiseLevel = s.wNoiseLevelBase;
    s.wLostLevel = s.wLostLevelBase;
    s.wSavedEnergyCreate = s.wSavedEnergyCreateBase;
    s.wSavedEnergyProcess = s.wSavedEnergyProcessBase;
    if (s.lpEtalonSequence.size() < s.wMaxPulses)
        s.lpEtalonSequence.resize(s.wMaxPulses, static_cast<uint16_t>(s.etalonNumber));
    if (s.wTaskType == TaskType::detection || s.wTaskType == TaskType::recognition)
        std::fill_n(s.lpEtalonSequence.begin(), s.wMaxPulses, s.lpEtalonSequence[0]);
}

uint16_t requestedOrMiddleCount(const Settings& s) {
    if (s.wPulsesQuantity > s.wMaxPulses || s.wPulsesQuantity < s.wMinPulses)
        return static_cast<uint16_t>((s.wMaxPulses + s.wMinPulses) / 2);
    return s.wPulsesQuantity;
}

bool drawNewSequence(Settings& s, MessageSink& messages) {
    s.wTaskType = effectiveTaskType(s.wTaskTypeSel, s.seriesType);
    s.wSeriesPulses = s.wPulsesQuantity;
    PulseCountBounds bounds{};
    if (!pulseCountBounds(s.dwSeriesSizeBase, s.wImpulseSize, s.wTmin, s.wTmax, bounds)) return false;
    s.wMaxPulses = bounds.maximum;
    // The sequence must hold a number for every pulse the series may have.
    if (s.lpEtalonSequence.size() < s.wMaxPulses)
        s.lpEtalonSequence.resize(s.wMaxPulses, static_cast<uint16_t>(s.etalonNumber));
    if (s.wRequiredCount == 0 || !s.lpRequiredList) {
        messages.messageBox("The list of required etalons is empty: choose at least one etalon.", " New pulses ",
                            MessageIcon::Warning);
        return false;
    }
    for (int i = 0; i < s.wMaxPulses; ++i)
        s.lpEtalonSequence[i] = s.lpRequiredList[(libraryRandom(s.seeds.libraryState) >> 3) % s.wRequiredCount];
    return true;
}

ProcessResult processCurrentSeries(const Settings& s, MessageSink& messages, const ProcessingInput& input,
                                   ChainsHeader* chains) {
    ProcessResult result;
    result.routine = selectRoutine(code(s.wTaskType), code(s.seriesType));
    result.answer = runRoutine(result.routine, messages, s.alphabet, input, chains, *s.lpSeriesHeader);
    result.recorded = addToChainsHeader(messages, code(s.seriesType), code(s.wTaskType), s.wSavedEnergyCreate,
                                        input.pct, chains) != 0;
    return result;
}
