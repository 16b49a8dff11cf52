// The window's series commands: the series-energy, pulses and required-list dialogs, their values
// checked before anything is committed, and the series made from them.

#include <algorithm>
#include <optional>
#include <string>

#include "dialogs/dialogs.h"
#include "model/random.h"
#include "model/subsets.h"
#include "workbench/menu.h"
#include "workbench/workbench.h"

// ---------------------------------------------------------------------------------------------
// Series commands

namespace {
DialogRefusal refusal(int field, const std::string& text, const char* caption) {
    return DialogRefusal{field, text, caption};
}

// The series-energy dialog's values that would break the model: the field to correct and a
// message naming it with its valid range.
std::optional<DialogRefusal> seriesValuesRefusal(const Settings& s, const SeriesEnergyValues& v) {
    const char* caption = " Create Series ";
    if (v.tmin < 1) return refusal(1001, "\"Min Length of Interval\" must be at least 1.", caption);
    if (v.tmax < v.tmin || v.tmax < s.wImpulseSize)
        return refusal(1003,
                       "\"Max Length of Interval\" must be at least \"Min Length of Interval\" (" +
                           std::to_string(v.tmin) + ") and the etalon length (" + std::to_string(s.wImpulseSize) +
                           ").",
                       caption);
    if (v.seriesSize < s.wImpulseSize || v.seriesSize - s.wImpulseSize > 32767)
        return refusal(1000,
                       "\"Samples Length\" must lie between " + std::to_string(s.wImpulseSize) + " and " +
                           std::to_string(32767 + s.wImpulseSize) + ".",
                       caption);
    if (v.savedEnergyCreate > 100)
        return refusal(1005, "\"Saved Energy Level\" must lie between 0 and 100.", caption);
    if (v.savedEnergyProcess > 100)
        return refusal(1006, "\"Saved Energy Level\" must lie between 0 and 100.", caption);
    if (v.etalonNumber < 1 || v.etalonNumber > s.wAlphabetSize)
        return refusal(1004, "\"Etalon Number\" must lie between 1 and " + std::to_string(s.wAlphabetSize) + ".",
                       caption);
    return std::nullopt;
}

// The pulse counts the makers accept for the dialog's values (at least one pulse).
PulseBounds pulseRangeOf(const Settings& s, const SeriesEnergyValues& v) {
    return seriesPulseBounds(s.wImpulseSize, v.tmin, v.tmax, v.seriesSize);
}

// The pulse count typed, or the middle of the range when it lies outside.
uint16_t repairedCount(uint16_t count, const PulseBounds& range) {
    if (count < range.wMinPulses || count > range.wMaxPulses)
        return static_cast<uint16_t>((range.wMinPulses + range.wMaxPulses) / 2);
    return count;
}

// The pulses dialog's values that would break the model (the pulse count is repaired, not
// refused).
std::optional<DialogRefusal> pulsesRefusal(const Settings& s, const PulseBounds& range, const PulsesValues& v) {
    const char* caption = " Create Series ";
    const uint16_t count = repairedCount(v.count, range);
    const int shown = std::min<int>(count, static_cast<int>(v.sequence.size()));
    for (int i = 0; i < shown; ++i)
        if (v.sequence[i] < 1 || v.sequence[i] > s.wAlphabetSize)
            return refusal(1010,
                           "\"Sequence of Etalons in Series\": entry " + std::to_string(i + 1) + " is " +
                               std::to_string(v.sequence[i]) + "; etalon numbers lie between 1 and " +
                               std::to_string(s.wAlphabetSize) + ".",
                           caption);
    if (v.noiseLevel > gaussSigmaLimit)
        return refusal(1011, "\"Noise Level\" must lie between 0 and " + std::to_string(gaussSigmaLimit) + ".",
                       caption);
    return std::nullopt;
}

// The required list's entries that name no etalon.
std::optional<DialogRefusal> requiredListRefusal(const Settings& s, const RequiredListValues& v) {
    for (size_t i = 0; i < v.count && i < v.list.size(); ++i)
        if (v.list[i] < 1 || v.list[i] > s.wAlphabetSize)
            return refusal(1013,
                           "\"List of Required Etalons\": entry " + std::to_string(i + 1) + " is " +
                               std::to_string(v.list[i]) + "; etalon numbers lie between 1 and " +
                               std::to_string(s.wAlphabetSize) + ".",
                           " List of Required Etalons ");
    return std::nullopt;
}

}  // namespace

std::optional<SeriesEnergyValues> Workbench::seriesParameters() {
    Settings& s = settings;
    if (s.wRequiredCount == 0) {
        s.wRequiredCount = 1;
        if (!s.lpRequiredList) s.lpRequiredList = getRequiredList(*shell_, s.wRequiredCapacity, nullptr);
        if (s.lpRequiredList) s.lpRequiredList[0] = 1;
        if (s.lpEtalonSequence.empty()) s.lpEtalonSequence.resize(1);
        s.lpEtalonSequence[0] = 1;
        s.currentEtalon = 1;
        s.requiredFlags[0] = 1;
    }
    const bool flagged = s.currentEtalon >= 1 && s.currentEtalon <= alphabetCapacity && s.requiredFlags[s.currentEtalon - 1];
    if (!flagged)
        for (int n = 1; n <= alphabetCapacity; ++n)
            if (s.requiredFlags[n - 1]) {
                s.currentEtalon = n;
                break;
            }
    const auto check = [&s](const SeriesEnergyValues& v) { return seriesValuesRefusal(s, v); };
    const std::optional<SeriesEnergyValues> values = runSeriesEnergyDialog(*shell_, s, check);
    if (!values) return std::nullopt;
    if (const auto refused = check(*values)) {
        // Nothing of the dialog is committed, the etalon number included.
        shell_->messageBox(refused->text, refused->caption, MessageIcon::Warning);
        return std::nullopt;
    }
    s.etalonNumber = values->etalonNumber;
    return values;
}

void Workbench::createSeries() {
    Settings& s = settings;
    const std::optional<SeriesEnergyValues> series = seriesParameters();
    if (!series) return;
    const PulseBounds range = pulseRangeOf(s, *series);
    const uint16_t countBefore = s.wPulsesQuantity;
    s.wPulsesQuantity = static_cast<uint16_t>((range.wMinPulses + range.wMaxPulses) / 2);
    // The dialog shows the current sequence every time (the etalon number beyond its end), not a
    // copy left from an earlier dialog.
    if (s.lpEtalonSequenceDlg.size() < range.wMaxPulses) s.lpEtalonSequenceDlg.resize(range.wMaxPulses);
    for (size_t i = 0; i < s.lpEtalonSequenceDlg.size(); ++i)
        s.lpEtalonSequenceDlg[i] =
            i < s.lpEtalonSequence.size() ? s.lpEtalonSequence[i] : static_cast<uint16_t>(s.etalonNumber);
    const auto check = [&s, range](const PulsesValues& v) { return pulsesRefusal(s, range, v); };
    const std::optional<PulsesValues> pulses = runPulsesDialog(*shell_, s, range.wMinPulses, range.wMaxPulses, check);
    if (!pulses) {
        s.wPulsesQuantity = countBefore;
        return;
    }
    // Values that would break the model are refused before anything is committed.
    if (const auto refused = check(*pulses)) {
        shell_->messageBox(refused->text, refused->caption, MessageIcon::Warning);
        s.wPulsesQuantity = countBefore;
        return;
    }
    s.lpEtalonSequenceDlg = pulses->sequence;

    s.dwSeriesSizeBase = series->seriesSize;
    s.wTmin = series->tmin;
    s.wTmax = series->tmax;
    s.currentEtalon = s.etalonNumber;
    s.wSavedEnergyCreate = series->savedEnergyCreate;
    s.wSavedEnergyProcess = series->savedEnergyProcess;
    s.wPulsesQuantity = repairedCount(pulses->count, range);
    s.wNoiseLevelBase = static_cast<int16_t>(pulses->noiseLevel);
    s.wMinPulses = range.wMinPulses;
    s.wMaxPulses = range.wMaxPulses;
    if (s.lpEtalonSequence.size() < range.wMaxPulses) {
        std::vector<uint16_t> grown(range.wMaxPulses, static_cast<uint16_t>(s.etalonNumber));
        std::copy_n(s.lpEtalonSequenceDlg.begin(), std::min(s.lpEtalonSequenceDlg.size(), grown.size()), grown.begin());
        s.lpEtalonSequence = std::move(grown);
    } else {
        std::copy_n(s.lpEtalonSequenceDlg.begin(), std::min(s.lpEtalonSequenceDlg.size(), s.lpEtalonSequence.size()),
                    s.lpEtalonSequence.begin());
    }
    s.wChainsPulses = range.wMaxPulses;
    s.lpChainsHeader = getChainsHeader(*shell_, s.wChainsCapacity, s.wChainsPulses, std::move(s.lpChainsHeader));
    s.dirtySeriesLength = s.dirtyNoiseLevel = s.dirtyLostLevel = 1;
    s.viewMode = ViewMode::results;
    if (s.seriesType == SeriesType::fixedWhole) s.seriesType = SeriesType::fixedWholeTyped;
    if (s.seriesType == SeriesType::unfixedWhole) s.seriesType = SeriesType::unfixedWholeTyped;
    shell_->sendCommand(CM_MAKE_SERIES);
}

void Workbench::editRequiredList() {
    Settings& s = settings;
    if (!s.lpRequiredList || s.wRequiredCapacity < s.wRequiredCount) {
        s.wRequiredCount = s.wAlphabetSize;
        s.lpRequiredList = getRequiredList(*shell_, s.wRequiredCount, std::move(s.lpRequiredList));
        s.wRequiredCapacity = s.wRequiredCount;
        if (!s.lpRequiredList) return;
    }
    const auto check = [&s](const RequiredListValues& v) { return requiredListRefusal(s, v); };
    const std::optional<RequiredListValues> values = runRequiredListDialog(*shell_, s, check);
    if (!values) return;
    // An entry that names no etalon is refused with the whole edit.
    if (const auto refused = check(*values)) {
        shell_->messageBox(refused->text, refused->caption, MessageIcon::Warning);
        return;
    }
    s.wRequiredCount = values->count;
    std::copy_n(values->list.begin(), std::min<size_t>(values->list.size(), s.wRequiredCapacity),
                s.lpRequiredList.get());
    for (int n = 1; n <= s.wRequiredCapacity && n <= alphabetCapacity; ++n)
        s.requiredFlags[n - 1] =
            std::find(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCount, n) !=
                    s.lpRequiredList.get() + s.wRequiredCount
                ? 1
                : 0;
}

