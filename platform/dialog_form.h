#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

/// One control of a modal dialog, as the dialog shows it.
struct DialogControl {
    enum class Kind { Edit, Static, Radio, Check, Group, Button };
    int id = 0;              ///< control id (1 = OK, 2 = Cancel; groups and labels may use -1)
    Kind kind = Kind::Static;
    std::string label;       ///< label beside or on the control ("Samples Length", "dotted frame")
    std::string text;        ///< text of an edit or static control
    bool checked = false;    ///< radio buttons and check boxes
    bool enabled = true;
    int group = -1;          ///< id of the group box the control sits in, -1 for none
};

struct DialogResult;

/// Why the values of a dialog cannot be committed: the one field to correct and the message
/// naming it (shown with `caption` and a warning icon).
struct DialogRefusal {
    int field = 0;
    std::string text;
    std::string caption;
};

/// A modal dialog ready to show: which resource it is, its caption and its controls in order.
/// The dialog logic fills it from the settings; a window shows it (or a script answers it) and
/// returns a DialogResult; the logic then commits the result to the settings.
///
/// `validate`, when set, runs on OK before the dialog closes: a refusal keeps the dialog open
/// with what was typed, shows its message and puts the focus on the field it names.
struct DialogForm {
    int resource = 0;        ///< 105, 106, 107, 110, 111, 112, 113, 114
    std::string caption;
    std::vector<DialogControl> controls;
    using Validation = std::function<std::optional<DialogRefusal>(const DialogResult&)>;
    Validation validate{};

    const DialogControl* find(int id) const;
    DialogControl* find(int id);
};

/// How a dialog ended.
struct DialogResult {
    bool accepted = false;            ///< OK (true) or Cancel (false)
    std::map<int, std::string> texts; ///< final text of every edit control, by id
    std::map<int, bool> checked;      ///< final state of every radio button and check box, by id
    std::vector<int> clicks;          ///< radio buttons and check boxes clicked, in order
};

/// The result of pressing OK (or Cancel) without touching anything: the texts and checks the
/// form shows, no clicks.
DialogResult untouched(const DialogForm& form, bool accepted);

/// The answer a headless tool gives in place of a user: starts from `untouched(form, !cancel)`
/// and applies `values` in ascending id order.
/// - an edit control gets the value as its text;
/// - a radio button with a value other than "0" is clicked: it becomes checked, the other radio
///   buttons of its group become unchecked, and the click is recorded (also when it was already
///   checked, as a real click would be);
/// - a check box takes the state (value != "0"); a click is recorded only when that changes it.
/// Ids of other controls and ids the form does not hold are ignored.
DialogResult scriptedAnswer(const DialogForm& form, const std::map<int, std::string>& values,
                            bool cancel);

/// Reads a dialog script: items separated by ";" or line breaks, blanks and tabs around an item
/// ignored, empty items skipped. An item is either "id=value" (id a decimal number, the value
/// everything after the first "=", possibly empty or holding blanks and commas, e.g.
/// "1010=3 5,7") or the word "cancel". A later value for the same id replaces an earlier one.
/// Returns false, leaving `values` and `cancel` as they were, when an item is malformed.
bool parseDialogScript(const std::string& text, std::map<int, std::string>& values, bool& cancel);
