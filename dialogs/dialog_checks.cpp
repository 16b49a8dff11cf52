#include "dialogs/dialog_checks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "dialogs/dialog_fields.h"
#include "model/subsets.h"

// The checks a dialog's values pass before a commit: every number within its range, and the
// rules between fields; a refusal names the one field to correct.

using namespace dialog_fields;

namespace {

std::string trimmed(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::string quoted(const std::string& label) {
    return "\"" + label + "\"";
}

// The refusal of a number outside [low, high], or "" when it lies inside.
std::string outside(const std::string& field, int64_t value, int64_t low, int64_t high, const std::string& typed) {
    if (value >= low && value <= high) return {};
    return quoted(field) + " must lie between " + decimal(low) + " and " + decimal(high) + " (got \"" +
           trimmed(typed) + "\").";
}

FieldRefusal checkNumber(const DialogResult& result, int id, const std::string& field, int64_t low, int64_t high) {
    return {id, outside(field, numberOf(result, id), low, high, textOf(result, id))};
}

// Every entry of a list field that will be stored lies in [low, high]; the message names the
// etalon numbers 1..alphabetSize.
FieldRefusal checkList(const DialogResult& result, int id, const std::string& field, int count, int64_t low,
                       int64_t high, int64_t alphabetSize) {
    const std::vector<int32_t> list = parseNumberList(textOf(result, id), count);
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] < low || list[i] > high)
            return {id, quoted(field) + ": entry " + decimal(static_cast<int64_t>(i) + 1) + " is " + decimal(list[i]) +
                   "; etalon numbers lie between 1 and " + decimal(alphabetSize) + "."};
    return {};
}

FieldRefusal seriesEnergyRefusal(const DialogResult& r, const Settings& s) {
    FieldRefusal why = checkNumber(r, 1000, "Samples Length", s.wImpulseSize, int64_t{32767} + s.wImpulseSize);
    if (why.empty()) why = checkNumber(r, 1001, "Min Length of Interval", 1, 65535);
    if (why.empty())
        why = checkNumber(r, 1003, "Max Length of Interval",
                          std::max<int64_t>(numberOf(r, 1001), s.wImpulseSize), 65535);
    if (why.empty()) why = checkNumber(r, 1005, "Saved Energy Level (from 0 to 100)\" for \"creating series", 0, 100);
    if (why.empty()) why = checkNumber(r, 1004, "Etalon Number", 1, s.wAlphabetSize);
    if (why.empty())
        why = checkNumber(r, 1006, "Saved Energy Level (from 0 to 100)\" for \"processing series", 0, 100);
    return why;
}

// The pulse counts the pulses dialog states ("Number of Pulses in Series (from %d to %d)"); the
// whole 16-bit range when the form states none.
std::pair<int64_t, int64_t> statedPulseRange(const DialogForm& form) {
    int low = 0, high = 0;
    if (const DialogControl* stated = form.find(1008);
        stated && std::sscanf(stated->text.c_str(), "Number of Pulses in Series (from %d to %d)", &low, &high) == 2)
        return {low, high};
    return {0, 65535};
}

FieldRefusal pulsesRefusal(const DialogForm& form, const DialogResult& r, const Settings& s) {
    const auto [low, high] = statedPulseRange(form);
    FieldRefusal why = checkNumber(r, 1007, "Number of Pulses in Series", low, high);
    if (why.empty())
        why = checkList(r, 1010, "Sequence of Etalons in Series",
                        static_cast<int>(std::min<size_t>(s.wPulsesQuantity, s.lpEtalonSequenceDlg.size())), 0,
                        65535, s.wAlphabetSize);
    if (why.empty()) why = checkNumber(r, 1011, "Noise Level", 0, gaussSigmaLimit);
    return why;
}

FieldRefusal requiredListRefusal(const DialogResult& r, const Settings& s) {
    FieldRefusal why = checkNumber(r, 1014, "Number of Required Etalons", 1, s.wRequiredCapacity);
    if (why.empty())
        why = checkList(r, 1013, "List of Required Etalons",
                        s.lpRequiredList ? std::min<int>(numberOf(r, 1014), s.wRequiredCapacity) : 0, 1,
                        s.wAlphabetSize, s.wAlphabetSize);
    return why;
}

FieldRefusal simulationRangesRefusal(const DialogResult& r) {
    FieldRefusal why = checkNumber(r, 1015, "Number of Pulses in Series\" \"from", 0, 65535);
    if (why.empty()) why = checkNumber(r, 1016, "Number of Pulses in Series\" \"to", 0, 65535);
    if (why.empty()) why = checkNumber(r, 1017, "Number of Pulses in Series\" \"incr.", 0, 65535);
    if (why.empty()) why = checkNumber(r, 1021, "Number of Repeats", 1, 65535);
    if (why.empty()) why = checkNumber(r, 1019, "Initial Level", 0, gaussSigmaLimit);
    if (why.empty()) why = checkNumber(r, 1018, "Number of Steps in Simulation", 1, 65535);
    if (why.empty()) why = checkNumber(r, 1020, "Noise Increment per Step", 0, 65535);
    if (!why.empty()) return why;
    // The results of every cell are held in memory (six 32-bit matrices): at most 1 GB.
    const int64_t increment = std::max<int64_t>(numberOf(r, 1017), 1);
    const int64_t pulseCounts = std::max<int64_t>((int64_t{numberOf(r, 1016)} - numberOf(r, 1015)) / increment + 1, 0);
    const int64_t bytes = pulseCounts * numberOf(r, 1018) * 24;
    if (bytes > (int64_t{1} << 30))
        return {1018, "\"Number of Pulses in Series\" and \"Number of Steps in Simulation\": a grid of " +
               decimal(pulseCounts) + " pulse counts by " + decimal(numberOf(r, 1018)) + " noise levels needs " +
               decimal(bytes >> 20) + " MB for its results; at most 1024 MB."};
    // The last noise level, computed in 64 bits so that no product wraps.
    const int64_t last = int64_t{numberOf(r, 1019)} + (int64_t{numberOf(r, 1018)} - 1) * numberOf(r, 1020);
    if (last > gaussSigmaLimit)
        return {1020, "\"Number of Steps in Simulation\" and \"Noise Increment per Step\": the last noise level, " +
               decimal(last) + ", must not exceed " + decimal(gaussSigmaLimit) + "."};
    return {};
}

}  // namespace

FieldRefusal fieldRefusal(const DialogForm& form, const DialogResult& result, const Settings& s) {
    if (!result.accepted) return {};
    switch (form.resource) {
    case dialogSeriesEnergy: return seriesEnergyRefusal(result, s);
    case dialogPulses: return pulsesRefusal(form, result, s);
    case dialogRequiredList: return requiredListRefusal(result, s);
    case dialogSimulationRanges: return simulationRangesRefusal(result);
    case dialogSubsetSettings: return checkNumber(result, 1020, "Subset init position", 0, 65535);
    default: return {};
    }
}

std::string dialogRefusal(const DialogForm& form, const DialogResult& result, const Settings& s) {
    return fieldRefusal(form, result, s).text;
}
