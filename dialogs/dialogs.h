#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "dialogs/dialog_form.h"

class Shell;

/// The eight parameter dialogs as plain logic. For each dialog a form builder fills a DialogForm
/// from the settings, and a commit function does what OK or Cancel does with the DialogResult the
/// window (or a script) returns. The commit functions store values as the field's width gives;
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
/// required count outside 1 to wRequiredCapacity and a noise grid beyond gaussSigmaLimit are
/// refused. Returns the message naming the field at fault and its allowed range, or an empty
/// string when the values may be committed (always for Cancel and for the dialogs without
/// number fields). `s` is the state the form was built from. The window may call it before the
/// dialog closes; the runners below call it after.
std::string dialogRefusal(const DialogForm& form, const DialogResult& result, const Settings& s);

/// Series energy (105, "Create Series"): series length, interval limits, etalon number and both
/// saved energy levels. OK writes dlgSeriesSize, dlgTmin, dlgTmax, dlgSavedEnergyCreate,
/// dlgSavedEnergyProcess, etalonNumber (directly) and dialogAccepted = 1; Cancel only
/// dialogAccepted = 0.
DialogForm seriesEnergyForm(const Settings& s);
void commitSeriesEnergy(const DialogResult& result, Settings& s);

/// Pulses (106, "Create Series"): pulse count, etalon sequence (the first wPulsesQuantity
/// entries of lpEtalonSequenceDlg, as many as it holds) and noise level. OK writes
/// wPulsesQuantityDlg, dlgNoiseLevel, the sequence entries and dialogAccepted = 1; Cancel only
/// dialogAccepted = 0.
DialogForm pulsesForm(const Settings& s);
/// `countShown` is the wPulsesQuantity the form was built with: the list is read with that many
/// numbers whatever count was typed, and at most lpEtalonSequenceDlg.size() entries are written.
void commitPulses(const DialogResult& result, uint16_t countShown, Settings& s);

/// Required list (107, "List of Required Etalons"). OK: the typed count n becomes wRequiredCount
/// when 0 < n <= wRequiredCapacity (otherwise the count stays), then the list is read with that
/// count into lpRequiredList, never beyond wRequiredCapacity entries; dialogAccepted = 1.
/// Cancel only dialogAccepted = 0.
DialogForm requiredListForm(const Settings& s);
void commitRequiredList(const DialogResult& result, Settings& s);

/// Simulation ranges (110, " Location Parameters"): dlgMinPulses, dlgMaxPulses,
/// wPulsesIncrement, repeats, wNoiseInitial, wNoiseSteps, wNoiseIncrement, and dialogAccepted.
DialogForm simulationRangesForm(const Settings& s);
void commitSimulationRanges(const DialogResult& result, Settings& s);

/// Subset settings (111, "Subset settings"): subsetEmployment, subsetProceeding (through
/// clicks) and, on OK, subsetInitPosition from its disabled field. Leaves dialogAccepted alone.
DialogForm subsetSettingsForm(const Settings& s);
void commitSubsetSettings(const DialogResult& result, Settings& s);

/// Drawing settings (112, "Drawing settings"): highlightDetectedPulses, shadeOriginalPulses,
/// highlightTuples, specialGraphSize, frameGraphFields. Leaves dialogAccepted alone.
DialogForm drawingSettingsForm(const Settings& s);
void commitDrawingSettings(const DialogResult& result, Settings& s);

/// Graph choice: 113 (" Show Statistical Simulation parameters") or, with `recognition`, 114
/// ("Show Statistical Simulation") which adds "recognition error" and "bounds incl.".
/// handlingCase, viewCase, fixedUpperBound, upperBound (read only when the working
/// fixedUpperBound is set; std::strtod on the first 99 characters, 0.0 when no number) and in
/// 114 boundsIncluded. Leaves dialogAccepted alone.
DialogForm graphChoiceForm(const Settings& s, bool recognition);
void commitGraphChoice(const DialogResult& result, Settings& s, bool recognition);

/// The check a command makes of a dialog's values once they are committed to the settings: a
/// refusal names the one field to correct.
using DialogCheck = std::function<std::optional<DialogRefusal>(const Settings& s)>;

/// Open a dialog through the shell and commit its result; return whether it ended with OK.
/// OK first runs dialogRefusal and then, with a `check`, the check on what was typed, before the
/// dialog closes (the values are committed for the check and put back), so a refused dialog
/// stays open with its values. An OK that a shell returns without running the form's validation
/// and that dialogRefusal does not pass shows its message and is taken as Cancel.
bool runSeriesEnergyDialog(Shell& shell, Settings& s, const DialogCheck& check = {});
bool runPulsesDialog(Shell& shell, Settings& s, const DialogCheck& check = {});
bool runRequiredListDialog(Shell& shell, Settings& s, const DialogCheck& check = {});
bool runSimulationRangesDialog(Shell& shell, Settings& s, const DialogCheck& check = {});
bool runSubsetSettingsDialog(Shell& shell, Settings& s);
bool runDrawingSettingsDialog(Shell& shell, Settings& s);
bool runGraphChoiceDialog(Shell& shell, Settings& s, bool recognition);
