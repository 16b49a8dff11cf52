#include "platform/dialog_form.h"

#include <string>

const DialogControl* DialogForm::find(int id) const {
    for (const DialogControl& control : controls)
        if (control.id == id) return &control;
    return nullptr;
}

DialogControl* DialogForm::find(int id) {
    for (DialogControl& control : controls)
        if (control.id == id) return &control;
    return nullptr;
}

DialogResult untouched(const DialogForm& form, bool accepted) {
    DialogResult result;
    result.accepted = accepted;
    for (const DialogControl& control : form.controls) {
        switch (control.kind) {
        case DialogControl::Kind::Edit:
            result.texts[control.id] = control.text;
            break;
        case DialogControl::Kind::Radio:
        case DialogControl::Kind::Check:
            result.checked[control.id] = control.checked;
            break;
        default:
            break;
        }
    }
    return result;
}

DialogResult scriptedAnswer(const DialogForm& form, const std::map<int, std::string>& values,
                            bool cancel) {
    DialogResult result = untouched(form, !cancel);
    for (const auto& [id, value] : values) {
        const DialogControl* control = form.find(id);
        // A disabled control cannot be typed into or clicked, as in the window.
        if (!control || !control->enabled) continue;
        switch (control->kind) {
        case DialogControl::Kind::Edit:
            result.texts[id] = value;
            break;
        case DialogControl::Kind::Radio:
            if (value == "0") break;
            for (const DialogControl& other : form.controls)
                if (other.kind == DialogControl::Kind::Radio && other.group == control->group)
                    result.checked[other.id] = false;
            result.checked[id] = true;
            result.clicks.push_back(id);
            break;
        case DialogControl::Kind::Check: {
            const bool state = value != "0";
            if (result.checked[id] != state) {
                result.checked[id] = state;
                result.clicks.push_back(id);
            }
            break;
        }
        default:
            break;
        }
    }
    return result;
}

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

bool parseDialogScript(const std::string& text, std::map<int, std::string>& values, bool& cancel) {
    std::map<int, std::string> read = values;
    bool cancelled = cancel;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(";\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string item = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (item.empty()) continue;
        if (item == "cancel") {
            cancelled = true;
            continue;
        }
        const size_t equals = item.find('=');
        if (equals == std::string::npos || equals == 0) return false;
        const std::string key = trimmed(item.substr(0, equals));
        if (key.empty() || key.size() > 9 || key.find_first_not_of("0123456789") != std::string::npos)
            return false;
        read[std::stoi(key)] = item.substr(equals + 1);
    }
    values = std::move(read);
    cancel = cancelled;
    return true;
}
