#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/shell.h"

/// The Shell of the command-line tool and the tests: no window, no toolkit. It records every
/// call in the public fields below, prints each message box on standard error as
/// `caption: text` (the caption with its surrounding blanks trimmed, and no `caption: ` part
/// when that leaves it empty), runs commands through the dispatcher it is given, answers dialogs
/// and the save dialog from scripts, and runs long work on the calling thread.
class HeadlessShell : public Shell {
public:
    using Dispatcher = std::function<void(int id)>;
    using DialogAnswer = std::function<DialogResult(const DialogForm& form)>;

    struct Invalidation {
        std::optional<Rect> rect;   ///< nothing: the whole client area
        bool erase = false;
    };
    struct Message {
        std::string text;
        std::string caption;        ///< as given, untrimmed
        MessageIcon icon = MessageIcon::None;
    };

    HeadlessShell();

    /// Where sendCommand goes; without one a command is only recorded.
    void setDispatcher(Dispatcher dispatcher);
    /// How dialogs are answered; the default is OK with the texts and checks the form shows.
    void setDialogAnswer(DialogAnswer answer);
    /// What chooseSaveFile returns (every time); the default is nothing, as if cancelled.
    void setSaveFileAnswer(std::optional<std::string> fileName);

    /// OK with the texts of the edits and the states of the radio buttons and check boxes as
    /// the form shows them, no clicks.
    static DialogResult acceptAsShown(const DialogForm& form);

    void messageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void invalidate(const Rect* rect, bool erase) override;
    void sendCommand(int id) override;
    void checkMenuItem(int id, bool checked) override;
    /// Answers the dialog. When the form refuses an OK, its message is shown and the answer is
    /// asked again on the form as it then shows (recorded in `dialogs` too); the same refused
    /// answer twice ends the dialog as Cancel without a second message.
    DialogResult runDialog(const DialogForm& form) override;
    void close() override;
    void setCapture(bool captured) override;
    void setCursor(CursorShape shape) override;
    void moveEdit(const Rect& rect) override;
    void setEditText(const std::string& text) override;
    std::string editText() override;
    std::optional<std::string> chooseSaveFile(const std::string& title) override;
    void setStatusText(const std::string& text) override { statusText = text; }
    int runWithProgress(const std::string& title,
                        const std::function<int(const std::function<void(int, int)>& progress,
                                                const std::atomic<bool>& cancel)>& work) override;

    // What happened, in order.
    std::vector<Invalidation> invalidations;
    std::vector<int> commands;                          ///< every sendCommand id
    std::map<int, bool> menuChecks;                     ///< the current check mark of each item
    std::vector<std::pair<int, bool>> menuCheckLog;     ///< every checkMenuItem call
    std::vector<Message> messages;
    std::vector<DialogForm> dialogs;                    ///< every form shown
    std::vector<DialogResult> dialogResults;            ///< how each of them ended
    int closeCount = 0;
    bool captured = false;
    std::vector<bool> captureLog;
    CursorShape cursor = CursorShape::Arrow;
    std::vector<CursorShape> cursorLog;
    Rect editRect;                                      ///< where the edit control is
    std::vector<Rect> editMoves;
    std::string editContents = "Tmin Text";             ///< the edit control's text
    std::vector<std::string> editTexts;                 ///< every setEditText call
    std::vector<std::string> saveFileTitles;
    std::vector<std::string> progressTitles;
    std::string statusText;                             ///< the status bar's line

private:
    Dispatcher dispatcher_;
    DialogAnswer dialogAnswer_;
    std::optional<std::string> saveFileAnswer_;
};
