#include "dialogs/dialogs.h"
#include "model/text_format.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "dialogs/dialog_checks.h"
#include "dialogs/dialog_fields.h"
#include "model/random.h"
#include "model/subsets.h"
#include "platform/shell.h"

using namespace dialog_fields;

namespace {

using Kind = DialogControl::Kind;

/// Reads a number of `text` from `pos`; `end` becomes the position after its last digit, or
/// `pos` when there are no digits.
int32_t readNumber(const std::string& text, size_t pos, size_t& end) {
    end = pos;
    const DecimalText read = readDecimal(text.substr(std::min(pos, text.size())), false);
    if (!read.value) return 0;
    end = pos + read.end;
    return static_cast<int32_t>(std::clamp<int64_t>(*read.value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::string fieldText(const std::string& text) {
    return text.substr(0, std::min(text.size(), dialogFieldRoom));
}

bool checkedOf(const DialogResult& result, int id) {
    const auto it = result.checked.find(id);
    return it != result.checked.end() && it->second;
}

DialogControl group(int id, const std::string& label) {
    DialogControl c;
    c.id = id;
    c.kind = Kind::Group;
    c.label = label;
    return c;
}

DialogControl edit(int id, const std::string& label, const std::string& text, int inGroup = -1) {
    DialogControl c;
    c.id = id;
    c.kind = Kind::Edit;
    c.label = label;
    c.text = text;
    c.group = inGroup;
    return c;
}

DialogControl staticText(int id, const std::string& text, int inGroup = -1) {
    DialogControl c;
    c.id = id;
    c.kind = Kind::Static;
    c.text = text;
    c.group = inGroup;
    return c;
}

DialogControl button(Kind kind, int id, const std::string& label, bool checked, int inGroup = -1) {
    DialogControl c;
    c.id = id;
    c.kind = kind;
    c.label = label;
    c.checked = checked;
    c.group = inGroup;
    return c;
}

DialogControl radio(int id, const std::string& label, bool checked, int inGroup) {
    return button(Kind::Radio, id, label, checked, inGroup);
}

DialogControl check(int id, const std::string& label, bool checked, int inGroup = -1) {
    return button(Kind::Check, id, label, checked, inGroup);
}

DialogForm makeForm(int resource, const std::string& caption) {
    DialogForm form;
    form.resource = resource;
    form.caption = caption;
    return form;
}

void addOkCancel(DialogForm& form) {
    form.controls.push_back(button(Kind::Button, 1, "OK", false));
    form.controls.push_back(button(Kind::Button, 2, "Cancel", false));
}

std::string formatted(const char* format, int a) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, a);
    return buffer;
}

std::string formatted(const char* format, int a, int b) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

} // namespace

int32_t parseDialogNumber(const std::string& text) {
    size_t end = 0;
    return readNumber(fieldText(text), 0, end);
}

std::string formatNumberList(const uint16_t* values, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i > 0) text += ',';
        text += decimal(values[i]);
    }
    return text;
}

std::vector<int32_t> parseNumberList(const std::string& text, int count) {
    const std::string& field = text;
    std::vector<int32_t> numbers(static_cast<size_t>(std::max(count, 0)), 0);
    size_t pos = 0;
    for (int32_t& number : numbers) {
        if (pos >= field.size()) break;
        size_t end = pos;
        number = readNumber(field, pos, end);
        const size_t separator = field.find_first_of(", ", end);
        pos = separator == std::string::npos ? field.size() : separator + 1;
    }
    return numbers;
}

// ---- Series energy (105) ----

DialogForm seriesEnergyForm(const Settings& s) {
    DialogForm form = makeForm(dialogSeriesEnergy, "Create Series");
    const int creating = -2, processing = -3;
    form.controls.push_back(group(creating, "Parameters for creating series"));
    form.controls.push_back(edit(1000, "Samples Length", decimal(s.dwSeriesSize), creating));
    form.controls.push_back(edit(1001, "Min Length of Interval", decimal(s.wTmin), creating));
    form.controls.push_back(edit(1003, "Max Length of Interval", decimal(s.wTmax), creating));
    form.controls.push_back(edit(1004, "Etalon Number", decimal(s.currentEtalon), creating));
    form.controls.push_back(edit(1005, "Saved Energy Level (from 0 to 100)",
                                 decimal(s.wSavedEnergyCreate), creating));
    form.controls.push_back(group(processing, "Parameters for processing series"));
    form.controls.push_back(edit(1006, "Saved Energy Level (from 0 to 100)",
                                 decimal(s.wSavedEnergyProcess), processing));
    addOkCancel(form);
    return form;
}

std::optional<SeriesEnergyValues> seriesEnergyValues(const DialogResult& result) {
    if (!result.accepted) return std::nullopt;
    SeriesEnergyValues v;
    v.seriesSize = static_cast<uint32_t>(numberOf(result, 1000));
    v.tmin = static_cast<uint16_t>(numberOf(result, 1001));
    v.tmax = static_cast<uint16_t>(numberOf(result, 1003));
    v.savedEnergyCreate = static_cast<uint16_t>(numberOf(result, 1005));
    v.etalonNumber = numberOf(result, 1004);
    v.savedEnergyProcess = static_cast<uint16_t>(numberOf(result, 1006));
    return v;
}

// ---- Pulses (106) ----

namespace {

size_t sequenceEntriesShown(const Settings& s, uint16_t count) {
    return std::min<size_t>(count, s.lpEtalonSequenceDlg.size());
}

} // namespace

DialogForm pulsesForm(const Settings& s, uint16_t minPulses, uint16_t maxPulses) {
    DialogForm form = makeForm(dialogPulses, "Create Series");
    const int structure = -2;
    form.controls.push_back(group(structure, " Series structure "));
    form.controls.push_back(staticText(1008,
                                       formatted("Number of Pulses in Series (from %d to %d)",
                                                 minPulses, maxPulses),
                                       structure));
    form.controls.push_back(edit(1007, "", decimal(s.wPulsesQuantity), structure));
    // An active tuple is laid over the sequence typed here: the label says so.
    const std::string tuple = s.lpSeriesHeader ? activeSubsetText(*s.lpSeriesHeader) : std::string();
    form.controls.push_back(staticText(
        1009,
        formatted("Sequence of Etalons in Series (values from 1 to %d)", s.wAlphabetSize) +
            (tuple.empty() ? std::string() : "; the active tuple " + tuple + " is laid over it"),
        structure));
    const size_t shown = sequenceEntriesShown(s, s.wPulsesQuantity);
    form.controls.push_back(edit(1010, "",
                                 formatNumberList(s.lpEtalonSequenceDlg.data(), static_cast<int>(shown)),
                                 structure));
    form.controls.push_back(edit(1011, "Noise Level", decimal(s.wNoiseLevel)));
    addOkCancel(form);
    return form;
}

std::optional<PulsesValues> pulsesValues(const DialogResult& result, uint16_t countShown, const Settings& s) {
    if (!result.accepted) return std::nullopt;
    PulsesValues v;
    v.count = static_cast<uint16_t>(numberOf(result, 1007));
    const std::vector<int32_t> sequence = parseNumberList(textOf(result, 1010), countShown);
    v.sequence = s.lpEtalonSequenceDlg;
    const size_t written = sequenceEntriesShown(s, countShown);
    for (size_t i = 0; i < written; ++i) v.sequence[i] = static_cast<uint16_t>(sequence[i]);
    v.noiseLevel = static_cast<uint16_t>(numberOf(result, 1011));
    return v;
}

// ---- Required list (107) ----

namespace {

size_t requiredEntriesUsable(const Settings& s) {
    if (!s.lpRequiredList) return 0;
    return std::min(s.wRequiredCount, s.wRequiredCapacity);
}

} // namespace

DialogForm requiredListForm(const Settings& s) {
    DialogForm form = makeForm(dialogRequiredList, "List of Required Etalons");
    form.controls.push_back(edit(1014, "Number of Required Etalons", decimal(s.wRequiredCount)));
    form.controls.push_back(
        staticText(1012, formatted("List of Required Etalons (from 1 to %d)", s.wAlphabetSize)));
    form.controls.push_back(
        edit(1013, "",
             formatNumberList(s.lpRequiredList.get(), static_cast<int>(requiredEntriesUsable(s)))));
    addOkCancel(form);
    return form;
}

std::optional<RequiredListValues> requiredListValues(const DialogResult& result, const Settings& s) {
    if (!result.accepted) return std::nullopt;
    RequiredListValues v;
    v.count = s.wRequiredCount;
    const int32_t count = numberOf(result, 1014);
    if (count > 0 && count <= s.wRequiredCapacity) v.count = static_cast<uint16_t>(count);
    const std::vector<int32_t> list = parseNumberList(textOf(result, 1013), v.count);
    if (s.lpRequiredList) v.list.assign(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCapacity);
    const size_t written = s.lpRequiredList ? std::min(v.count, s.wRequiredCapacity) : 0;
    for (size_t i = 0; i < written; ++i) v.list[i] = static_cast<uint16_t>(list[i]);
    return v;
}

// ---- Simulation ranges (110) ----

DialogForm simulationRangesForm(const Settings& s, uint16_t minPulses, uint16_t maxPulses) {
    DialogForm form = makeForm(dialogSimulationRanges, " Location Parameters");
    const int pulses = -2, noise = -3;
    form.controls.push_back(group(pulses, " Number of Pulses in Series "));
    form.controls.push_back(edit(1015, "from", decimal(minPulses), pulses));
    form.controls.push_back(edit(1016, "to", decimal(maxPulses), pulses));
    form.controls.push_back(edit(1017, "incr.", decimal(s.wPulsesIncrement), pulses));
    form.controls.push_back(edit(1021, "Number of Repeats", decimal(s.repeats)));
    form.controls.push_back(group(noise, " Noise parameters "));
    form.controls.push_back(edit(1019, "Initial Level", decimal(s.wNoiseInitial), noise));
    form.controls.push_back(
        edit(1018, "Number of Steps in Simulation", decimal(s.wNoiseSteps), noise));
    form.controls.push_back(
        edit(1020, "Noise Increment per Step", decimal(s.wNoiseIncrement), noise));
    addOkCancel(form);
    return form;
}

std::optional<SimulationRanges> simulationRangesValues(const DialogResult& result) {
    if (!result.accepted) return std::nullopt;
    SimulationRanges v;
    v.minPulses = static_cast<uint16_t>(numberOf(result, 1015));
    v.maxPulses = static_cast<uint16_t>(numberOf(result, 1016));
    v.pulsesIncrement = static_cast<uint16_t>(numberOf(result, 1017));
    v.noiseInitial = static_cast<uint16_t>(numberOf(result, 1019));
    v.noiseSteps = static_cast<uint16_t>(numberOf(result, 1018));
    v.noiseIncrement = static_cast<uint16_t>(numberOf(result, 1020));
    v.repeats = static_cast<uint16_t>(numberOf(result, 1021));
    return v;
}

// ---- Subset settings (111) ----

DialogForm subsetSettingsForm(const Settings& s) {
    DialogForm form = makeForm(dialogSubsetSettings, "Subset settings");
    const int employment = -2, proceeding = -3;
    // Values outside 1..5 show "Complete " checked.
    const int shown = s.subsetEmployment >= 1 && s.subsetEmployment <= 5 ? s.subsetEmployment : 4;
    form.controls.push_back(group(employment, " Subset employment "));
    form.controls.push_back(radio(1015, "Single random ", shown == 1, employment));
    form.controls.push_back(radio(1016, "Single fixed", shown == 2, employment));
    form.controls.push_back(radio(1017, "Multiple random", shown == 3, employment));
    form.controls.push_back(radio(1018, "Complete ", shown == 4, employment));
    form.controls.push_back(radio(1019, "Shifted complete", shown == 5, employment));
    DialogControl position =
        edit(1020, "Subset init position", decimal(s.subsetInitPosition), employment);
    position.enabled = false;
    form.controls.push_back(position);
    form.controls.push_back(group(proceeding, " Subset proceeding "));
    form.controls.push_back(radio(1021, "Complete ", s.subsetProceeding != 2, proceeding));
    form.controls.push_back(
        radio(1022, "Probably shifted complete", s.subsetProceeding == 2, proceeding));
    addOkCancel(form);
    return form;
}

void commitSubsetSettings(const DialogResult& result, Settings& s) {
    if (!result.accepted) return; // the saved copies are the settings as they are
    uint16_t employment = s.subsetEmployment;
    uint16_t proceeding = s.subsetProceeding;
    for (int id : result.clicks) {
        if (id >= 1015 && id <= 1019) employment = static_cast<uint16_t>(id - 1014);
        if (id == 1021 || id == 1022) proceeding = static_cast<uint16_t>(id - 1020);
    }
    s.subsetEmployment = employment;
    s.subsetProceeding = proceeding;
    s.subsetInitPosition = static_cast<uint16_t>(numberOf(result, 1020));
}

// ---- Drawing settings (112) ----

DialogForm drawingSettingsForm(const Settings& s) {
    DialogForm form = makeForm(dialogDrawingSettings, "Drawing settings");
    const int tuples = -2;
    form.controls.push_back(check(1023, "highlight detected pulses", s.highlightDetectedPulses != 0));
    form.controls.push_back(check(1024, "shaded original pulses", s.shadeOriginalPulses != 0));
    form.controls.push_back(group(tuples, " Highlight detected tuples "));
    form.controls.push_back(radio(1025, "dotted frame", s.highlightTuples == 1, tuples));
    form.controls.push_back(radio(1026, "coloured background",
                                  s.highlightTuples != 0 && s.highlightTuples != 1, tuples));
    form.controls.push_back(radio(1027, "none", s.highlightTuples == 0, tuples));
    form.controls.push_back(check(1043, "special graph size", s.specialGraphSize != 0));
    form.controls.push_back(check(1044, "frame graph fields", s.frameGraphFields != 0));
    addOkCancel(form);
    return form;
}

void commitDrawingSettings(const DialogResult& result, Settings& s) {
    if (!result.accepted) return;
    int32_t detected = s.highlightDetectedPulses;
    int32_t shaded = s.shadeOriginalPulses;
    uint16_t tuples = s.highlightTuples;
    int32_t special = s.specialGraphSize;
    int32_t frame = s.frameGraphFields;
    for (int id : result.clicks) {
        const int32_t state = checkedOf(result, id) ? 1 : 0;
        switch (id) {
        case 1023: detected = state; break;
        case 1024: shaded = state; break;
        case 1025: tuples = 1; break;
        case 1026: tuples = 2; break;
        case 1027: tuples = 0; break;
        case 1043: special = state; break;
        case 1044: frame = state; break;
        default: break;
        }
    }
    s.highlightDetectedPulses = detected;
    s.shadeOriginalPulses = shaded;
    s.highlightTuples = tuples;
    s.specialGraphSize = special;
    s.frameGraphFields = frame;
}

// ---- Graph choice (113, 114) ----

DialogForm graphChoiceForm(const Settings& s, bool recognition) {
    DialogForm form = recognition
                          ? makeForm(dialogGraphChoiceRecognition, "Show Statistical Simulation")
                          : makeForm(dialogGraphChoice, " Show Statistical Simulation parameters");
    const int handling = -2, view = -3, bound = -4;
    const bool third = recognition && s.handlingCase == 3;
    form.controls.push_back(group(handling, " Handling case "));
    form.controls.push_back(
        radio(1028, "restoring error", s.handlingCase != 2 && !third, handling));
    form.controls.push_back(radio(1029, "detection error", s.handlingCase == 2, handling));
    if (recognition) form.controls.push_back(radio(1034, "recognition error", third, handling));
    form.controls.push_back(group(view, " View case "));
    form.controls.push_back(radio(1030, "componentwise", s.viewCase != 2, view));
    form.controls.push_back(radio(1031, "summary view", s.viewCase == 2, view));
    form.controls.push_back(group(bound, " Upper bound case "));
    form.controls.push_back(check(1032, "fixed upper bound", s.fixedUpperBound != 0, bound));
    char shown[64];
    std::snprintf(shown, sizeof shown, "%.5g", s.upperBound);
    form.controls.push_back(edit(1033, "upper bound", shown, bound));
    if (recognition) form.controls.push_back(check(1042, "bounds incl.", s.boundsIncluded != 0));
    addOkCancel(form);
    return form;
}

void commitGraphChoice(const DialogResult& result, Settings& s, bool recognition) {
    if (!result.accepted) return;
    int32_t handling = s.handlingCase;
    int32_t view = s.viewCase;
    int32_t fixed = s.fixedUpperBound;
    int32_t bounds = s.boundsIncluded;
    for (int id : result.clicks) {
        switch (id) {
        case 1028: handling = 1; break;
        case 1029: handling = 2; break;
        case 1034: if (recognition) handling = 3; break;
        case 1030: view = 1; break;
        case 1031: view = 2; break;
        case 1032: fixed = checkedOf(result, id) ? 1 : 0; break;
        case 1042: if (recognition) bounds = checkedOf(result, id) ? 1 : 0; break;
        default: break;
        }
    }
    s.handlingCase = handling;
    s.viewCase = view;
    s.fixedUpperBound = fixed;
    if (fixed) {
        const std::string text = fieldText(textOf(result, 1033));
        s.upperBound = std::strtod(text.c_str(), nullptr); // 0.0 when no number is there
    }
    if (recognition) s.boundsIncluded = bounds;
}

// ---- Runners ----

namespace {

// Shows the dialog; an OK whose values dialogRefusal does not pass (a shell that does not run the
// form's validation) is reported and becomes Cancel.
DialogResult shownAndChecked(Shell& shell, const DialogForm& form, const Settings& s) {
    DialogResult result = shell.runDialog(form);
    const std::string why = dialogRefusal(form, result, s);
    if (!why.empty()) {
        shell.messageBox(why, form.caption, MessageIcon::Warning);
        result.accepted = false;
    }
    return result;
}

// The form with a validation that runs before the dialog closes: first every number must fit its
// field (dialogRefusal), then, with a `check`, the command's own check is asked about the values
// typed. A refused dialog stays open with its values, refused by exactly the checks the command
// makes after it.
template <class Values, class Read>
DialogForm checkedForm(DialogForm form, const Settings& s, const DialogCheck<Values>& check, Read read) {
    const DialogForm shown = form;
    form.validate = [&s, shown, check, read](const DialogResult& typed) -> std::optional<DialogRefusal> {
        if (FieldRefusal why = fieldRefusal(shown, typed, s); !why.empty())
            return DialogRefusal{why.field, std::move(why.text), shown.caption};
        if (!check) return std::nullopt;
        const std::optional<Values> values = read(typed);
        return values ? check(*values) : std::nullopt;
    };
    return form;
}

} // namespace

std::optional<SeriesEnergyValues> runSeriesEnergyDialog(Shell& shell, const Settings& s,
                                                        const DialogCheck<SeriesEnergyValues>& check) {
    const DialogForm form = checkedForm(seriesEnergyForm(s), s, check, seriesEnergyValues);
    return seriesEnergyValues(shownAndChecked(shell, form, s));
}

std::optional<PulsesValues> runPulsesDialog(Shell& shell, const Settings& s, uint16_t minPulses, uint16_t maxPulses,
                                            const DialogCheck<PulsesValues>& check) {
    const uint16_t countShown = s.wPulsesQuantity;
    const auto read = [countShown, &s](const DialogResult& typed) { return pulsesValues(typed, countShown, s); };
    const DialogForm form = checkedForm(pulsesForm(s, minPulses, maxPulses), s, check, read);
    return read(shownAndChecked(shell, form, s));
}

std::optional<RequiredListValues> runRequiredListDialog(Shell& shell, const Settings& s,
                                                        const DialogCheck<RequiredListValues>& check) {
    const auto read = [&s](const DialogResult& typed) { return requiredListValues(typed, s); };
    const DialogForm form = checkedForm(requiredListForm(s), s, check, read);
    return read(shownAndChecked(shell, form, s));
}

std::optional<SimulationRanges> runSimulationRangesDialog(Shell& shell, const Settings& s, uint16_t minPulses,
                                                          uint16_t maxPulses,
                                                          const DialogCheck<SimulationRanges>& check) {
    const DialogForm form =
        checkedForm(simulationRangesForm(s, minPulses, maxPulses), s, check, simulationRangesValues);
    return simulationRangesValues(shownAndChecked(shell, form, s));
}

bool runSubsetSettingsDialog(Shell& shell, Settings& s) {
    const DialogForm form = checkedForm(subsetSettingsForm(s), s, DialogCheck<bool>{},
                                        [](const DialogResult&) { return std::optional<bool>{}; });
    const DialogResult result = shownAndChecked(shell, form, s);
    commitSubsetSettings(result, s);
    return result.accepted;
}

bool runDrawingSettingsDialog(Shell& shell, Settings& s) {
    const DialogResult result = shell.runDialog(drawingSettingsForm(s));
    commitDrawingSettings(result, s);
    return result.accepted;
}

bool runGraphChoiceDialog(Shell& shell, Settings& s, bool recognition) {
    const DialogResult result = shell.runDialog(graphChoiceForm(s, recognition));
    commitGraphChoice(result, s, recognition);
    return result.accepted;
}
