#include "platform/headless/headless_shell.h"

#include <iostream>

namespace {

std::string trimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

} // namespace

namespace {

// The form as it shows after `result` was typed: edits hold their texts, radio buttons and
// check boxes their states.
DialogForm formShowing(const DialogForm& form, const DialogResult& result) {
    DialogForm shown = form;
    for (DialogControl& control : shown.controls) {
        if (control.kind == DialogControl::Kind::Edit) {
            if (const auto it = result.texts.find(control.id); it != result.texts.end()) control.text = it->second;
        } else if (control.kind == DialogControl::Kind::Radio || control.kind == DialogControl::Kind::Check) {
            if (const auto it = result.checked.find(control.id); it != result.checked.end())
                control.checked = it->second;
        }
    }
    return shown;
}

}  // namespace

HeadlessShell::HeadlessShell() : dialogAnswer_(&HeadlessShell::acceptAsShown) {}

void HeadlessShell::setDispatcher(Dispatcher dispatcher) {
    dispatcher_ = std::move(dispatcher);
}

void HeadlessShell::setDialogAnswer(DialogAnswer answer) {
    dialogAnswer_ = answer ? std::move(answer) : DialogAnswer(&HeadlessShell::acceptAsShown);
}

void HeadlessShell::setSaveFileAnswer(std::optional<std::string> fileName) {
    saveFileAnswer_ = std::move(fileName);
}

DialogResult HeadlessShell::acceptAsShown(const DialogForm& form) {
    DialogResult result;
    result.accepted = true;
    for (const DialogControl& control : form.controls) {
        if (control.kind == DialogControl::Kind::Edit)
            result.texts[control.id] = control.text;
        else if (control.kind == DialogControl::Kind::Radio || control.kind == DialogControl::Kind::Check)
            result.checked[control.id] = control.checked;
    }
    return result;
}

void HeadlessShell::messageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
    messages.push_back({text, caption, icon});
    const std::string shown = trimBlanks(caption);
    if (shown.empty())
        std::cerr << text << '\n';
    else
        std::cerr << shown << ": " << text << '\n';
    std::cerr.flush();
}

void HeadlessShell::invalidate(const Rect* rect, bool erase) {
    Invalidation entry;
    if (rect) entry.rect = *rect;
    entry.erase = erase;
    invalidations.push_back(entry);
}

void HeadlessShell::sendCommand(int id) {
    commands.push_back(id);
    if (dispatcher_) {
        // A command may replace the dispatcher while it runs; keep this one alive until it returns.
        const Dispatcher running = dispatcher_;
        running(id);
    }
}

void HeadlessShell::checkMenuItem(int id, bool checked) {
    menuChecks[id] = checked;
    menuCheckLog.emplace_back(id, checked);
}

DialogResult HeadlessShell::runDialog(const DialogForm& form) {
    dialogs.push_back(form);
    const DialogAnswer answer = dialogAnswer_;
    DialogResult result = answer(form);
    // A refused OK keeps the dialog open with what was typed: the answer is asked again on the
    // form as it now shows. The same refused answer a second time ends the dialog as Cancel.
    std::optional<DialogResult> refused;
    while (result.accepted && form.validate) {
        const std::optional<DialogRefusal> refusal = form.validate(result);
        if (!refusal) break;
        if (refused && refused->texts == result.texts && refused->checked == result.checked &&
            refused->clicks == result.clicks) {
            result.accepted = false;
            break;
        }
        messageBox(refusal->text, refusal->caption, MessageIcon::Warning);
        refused = result;
        const DialogForm shown = formShowing(form, result);
        dialogs.push_back(shown);
        result = answer(shown);
    }
    dialogResults.push_back(result);
    return result;
}

void HeadlessShell::close() {
    ++closeCount;
}

void HeadlessShell::setCapture(bool capture) {
    captured = capture;
    captureLog.push_back(capture);
}

void HeadlessShell::setCursor(CursorShape shape) {
    cursor = shape;
    cursorLog.push_back(shape);
}

void HeadlessShell::moveEdit(const Rect& rect) {
    editRect = rect;
    editMoves.push_back(rect);
}

void HeadlessShell::setEditText(const std::string& text) {
    editContents = text;
    editTexts.push_back(text);
}

std::string HeadlessShell::editText() {
    return editContents;
}

std::optional<std::string> HeadlessShell::chooseSaveFile(const std::string& title) {
    saveFileTitles.push_back(title);
    return saveFileAnswer_;
}

int HeadlessShell::runWithProgress(
    const std::string& title,
    const std::function<int(const std::function<void(int, int)>& progress,
                            const std::atomic<bool>& cancel)>& work) {
    progressTitles.push_back(title);
    if (!work) return 0;
    const std::function<void(int, int)> progress = [](int, int) {};
    const std::atomic<bool> cancel{false};
    return work(progress, cancel);
}
