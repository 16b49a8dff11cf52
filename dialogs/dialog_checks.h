#pragma once

// The checks a dialog's values pass before a commit (dialogRefusal in dialogs/dialogs.h gives
// their message alone).

#include <string>

#include "dialogs/dialogs.h"

/// A refusal of one field: the field to correct and the message naming it ("" when none).
struct FieldRefusal {
    int field = 0;
    std::string text;
    bool empty() const { return text.empty(); }
};

/// The first field of an accepted dialog whose value its command would refuse: a number outside
/// its range, a list entry outside its range, or a rule between fields broken. Nothing for a
/// cancelled dialog or one without checks.
FieldRefusal fieldRefusal(const DialogForm& form, const DialogResult& result, const Settings& s);
