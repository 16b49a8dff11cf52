#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "platform/dialog_form.h"

class Shell;

/// The eight parameter dialogs as plain logic. For each dialog a form builder fills a DialogForm
/// from the settings. The four dialogs of numbers (105, 106, 107, 110) return what OK typed as a
/// record of values (nothing for Cancel), which the command that opened the dialog checks and
/// commits; the radio and check-box dialogs (111 to 114) commit what OK or Cancel does to the
/// settings they edit. Values are stored as the field's width gives;
/// `dialogRefusal` checks beforehand that every number fits its field (no negative value or value
/// beyond the width is ever narrowed), and the runners refuse an OK that it does not pass. The
/// commands that open the dialogs repair or refuse what depends on the model.
///
/// Working and saved copies of the radio and check-box dialogs (111 to 114) are replayed from
/// `DialogResult::clicks`: a setting changes only through a click, so a radio button shown
/// checked for an out-of-range value leaves that value alone unless it is clicked. After a click
/// on a check box its working copy is the box's final state in `DialogResult::checked`.
///
/// An edit control missing from `DialogResult::texts` is read as an empty text, i.e. as 0.
///
/// Group boxes are controls of kind Group with ids -2, -3, ... (-1 keeps meaning "no group"),
/// their caption in `label`; the controls inside carry that id in `group`.

/// Resource ids of the dialogs.
enum : int {
    dialogSeriesEnergy = 105,
    dialogPulses = 106,
    dialogRequiredList = 107,
    dialogSimulationRanges = 110,
    dialogSubsetSettings = 111,
    dialogDrawingSettings = 112,
    dialogGraphChoice = 113,
    dialogGraphChoiceRecognition = 114,
};

/// Room the single-number edit fields are read back with: characters beyond it are not seen.
/// The number-list fields are read whole, so that they return every entry they show.
inline constexpr size_t dialogFieldRoom = 99;

/// A decimal integer as the edit fields are read: only the first 99 characters; leading blanks
/// skipped, an optional sign, then digits up to the first other character; 0 when there are no
/// digits. A value beyond the int32 range saturates.
int32_t parseDialogNumber(const std::string& text);

/// The numbers joined by "," ("4,4,7"); empty for a count of 0 or less.
std::string formatNumberList(const uint16_t* values, int count);

/// Exactly `count` numbers from the whole of `text` (a list field holds every entry it shows). Each number is read as by
/// parseDialogNumber; the read position then moves past the first "," or blank after the
/// characters the number took (or to the end of the text), so one comma or one blank separates
/// two numbers: "3 5,7" reads 3, 5, 7 and "3,,5" reads 3, 0, 5. Numbers the text no longer holds
/// are 0.
std::vector<int32_t> parseNumberList(const std::string& text, int count);

/// Checks the numbers of an accepted dialog in the full width they were typed with, before
/// anything of it is committed: a negative value, a value beyond what the setting holds, a
/// pulse count outside the range the pulses dialog states, a required count outside 1 to
/// wRequiredCapacity, a required etalon outside 1 to wAlphabetSize and a noise grid beyond
/// gaussSigmaLimit are refused. Returns the message naming the field at fault and its allowed range, or an empty
/// string when the values may be committed (always for Cancel and for the dialogs without
/// number fields). `s` is the state the form was built from. The window may call it before the
/// dialog closes; the runners below call it after.
std::string dialogRefusal(const DialogForm& form, const DialogResult& result, const Settings& s);

/// Series energy (105, "Create Series"): series length, interval limits, etalon number and both
/// saved energy levels.
struct SeriesEnergyValues {
    uint32_t seriesSize = 0;
    uint16_t tmin = 0;
    uint16_t tmax = 0;
    int32_t etalonNumber = 0;
    uint16_t savedEnergyCreate = 0;
    uint16_t savedEnergyProcess = 0;
};
DialogForm seriesEnergyForm(const Settings& s);
/// The values an OK typed; nothing for Cancel.
std::optional<SeriesEnergyValues> seriesEnergyValues(const DialogResult& result);

/// Pulses (106, "Create Series"): pulse count (the form names the range minPulses..maxPulses),
/// etalon sequence (the first wPulsesQuantity entries of lpEtalonSequenceDlg, as many as it
/// holds) and noise level.
struct PulsesValues {
    uint16_t count = 0;
    std::vector<uint16_t> sequence;  ///< lpEtalonSequenceDlg with the entries typed
    uint16_t noiseLevel = 0;
};
DialogForm pulsesForm(const Settings& s, uint16_t minPulses, uint16_t maxPulses);
/// `countShown` is the wPulsesQuantity the form was built with: the list is read with that many
/// numbers whatever count was typed, and at most lpEtalonSequenceDlg.size() entries are taken.
/// Nothing for Cancel.
std::optional<PulsesValues> pulsesValues(const DialogResult& result, uint16_t countShown, const Settings& s);

/// Required list (107, "List of Required Etalons"). OK: the typed count n becomes the count
/// when 0 < n <= wRequiredCapacity (otherwise wRequiredCount stays), then the list is read with
/// that count into a copy of lpRequiredList, never beyond wRequiredCapacity entries. Nothing for
/// Cancel.
struct RequiredListValues {
    uint16_t count = 0;
    std::vector<uint16_t> list;  ///< wRequiredCapacity entries (none without a list)
};
DialogForm requiredListForm(const Settings& s);
std::optional<RequiredListValues> requiredListValues(const DialogResult& result, const Settings& s);

/// Simulation ranges (110, " Location Parameters"): the pulse counts (the form shows minPulses
/// and maxPulses), their increment, the repeats and the noise grid.
struct SimulationRanges {
    uint16_t minPulses = 0;
    uint16_t maxPulses = 0;
    uint16_t pulsesIncrement = 0;
    uint16_t repeats = 0;
    uint16_t noiseInitial = 0;
    uint16_t noiseSteps = 0;
    uint16_t noiseIncrement = 0;
};
DialogForm simulationRangesForm(const Settings& s, uint16_t minPulses, uint16_t maxPulses);
std::optional<SimulationRanges> simulationRangesValues(const DialogResult& result);

/// Subset settings (111, "Subset settings"): subsetEmployment, subsetProceeding (through
/// clicks) and, on OK, subsetInitPosition from its disabled field.
DialogForm subsetSettingsForm(const Settings& s);
void commitSubsetSettings(const DialogResult& result, Settings& s);

/// Drawing settings (112, "Drawing settings"): highlightDetectedPulses, shadeOriginalPulses,
/// highlightTuples, specialGraphSize, frameGraphFields.
DialogForm drawingSettingsForm(const Settings& s);
void commitDrawingSettings(const DialogResult& result, Settings& s);

/// Graph choice: 113 (" Show Statistical Simulation parameters") or, with `recognition`, 114
/// ("Show Statistical Simulation") which adds "recognition error" and "bounds incl.".
/// handlingCase, viewCase, fixedUpperBound, upperBound (read only when the working
/// fixedUpperBound is set; std::strtod on the first 99 characters, 0.0 when no number) and in
/// 114 boundsIncluded.
DialogForm graphChoiceForm(const Settings& s, bool recognition);
void commitGraphChoice(const DialogResult& result, Settings& s, bool recognition);

/// The check a command makes of a dialog's values: a refusal names the one field to correct.
template <class Values>
using DialogCheck = std::function<std::optional<DialogRefusal>(const Values& values)>;

/// Open a dialog through the shell. The dialogs of numbers return the values of an OK and
/// nothing for Cancel; the others commit to the settings and return whether they ended with OK.
/// OK first runs dialogRefusal and then, with a `check`, the check on the values typed, before
/// the dialog closes, so a refused dialog stays open with its values. An OK that a shell returns
/// without running the form's validation and that dialogRefusal does not pass shows its message
/// and is taken as Cancel.
std::optional<SeriesEnergyValues> runSeriesEnergyDialog(Shell& shell, const Settings& s,
                                                        const DialogCheck<SeriesEnergyValues>& check = {});
std::optional<PulsesValues> runPulsesDialog(Shell& shell, const Settings& s, uint16_t minPulses, uint16_t maxPulses,
                                            const DialogCheck<PulsesValues>& check = {});
std::optional<RequiredListValues> runRequiredListDialog(Shell& shell, const Settings& s,
                                                        const DialogCheck<RequiredListValues>& check = {});
std::optional<SimulationRanges> runSimulationRangesDialog(Shell& shell, const Settings& s, uint16_t minPulses,
                                                          uint16_t maxPulses,
                                                          const DialogCheck<SimulationRanges>& check = {});
bool runSubsetSettingsDialog(Shell& shell, Settings& s);
bool runDrawingSettingsDialog(Shell& shell, Settings& s);
bool runGraphChoiceDialog(Shell& shell, Settings& s, bool recognition);
