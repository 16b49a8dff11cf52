#pragma once

// Reading a dialog's returned fields, shared by the dialogs' forms (dialogs/dialogs.cpp) and
// their checks (dialogs/dialog_checks.cpp). Not part of the dialogs' interface.

#include <cstdint>
#include <string>

#include "dialogs/dialogs.h"

namespace dialog_fields {

/// A blank as the number fields skip it.
inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/// The text of edit control `id`; empty when the result does not hold it.
inline std::string textOf(const DialogResult& result, int id) {
    const auto it = result.texts.find(id);
    return it == result.texts.end() ? std::string() : it->second;
}

/// The number edit control `id` holds, read as parseDialogNumber reads it.
inline int32_t numberOf(const DialogResult& result, int id) {
    return parseDialogNumber(textOf(result, id));
}

inline std::string decimal(int64_t value) {
    return std::to_string(value);
}

}  // namespace dialog_fields
