#pragma once

#include "platform/shell.h"

class MainWindow;

/// The Shell of the Qt main window: message boxes, modal dialogs built from their forms, the
/// menu's check marks, the client area's pending region, capture and cursor, the edit control,
/// the save dialog and the progress dialog of long work.
class QtShell : public Shell {
public:
    explicit QtShell(MainWindow& window);

    /// A modal box with the text and caption as given, an OK button and, for Warning, the
    /// warning icon.
    void messageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void postMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void invalidate(const Rect* rect, bool erase) override;
    void sendCommand(int id) override;
    void checkMenuItem(int id, bool checked) override;
    DialogResult runDialog(const DialogForm& form) override;
    void close() override;
    void setCapture(bool captured) override;
    void setCursor(CursorShape shape) override;
    void moveEdit(const Rect& rect) override;
    void setEditText(const std::string& text) override;
    std::string editText() override;
    /// A save dialog offering "Bitmap (*.bmp)", "PCX (*.pcx)" and "PNG (*.png)", in that order.
    /// A name typed without an extension gets the one of the chosen filter.
    std::optional<std::string> chooseSaveFile(const std::string& title) override;
    /// Runs `work` on its own thread while a modal progress dialog shows the cells done, the
    /// time elapsed and the time left; Cancel sets the cancel flag. Returns what work returns
    /// (0 when it throws).
    int runWithProgress(const std::string& title,
                        const std::function<int(const std::function<void(int, int)>& progress,
                                                const std::atomic<bool>& cancel)>& work) override;

    /// The client area's back buffer.
    bool clientPixels(int32_t& width, int32_t& height, std::vector<uint32_t>& pixels) override;
    /// The permanent line of the window's status bar.
    void setStatusText(const std::string& text) override;

private:
    /// Runs `call` on the window's thread and returns what it returns: at once on that thread,
    /// otherwise as a blocking queued call, so that long work on another thread never creates
    /// or touches a widget itself.
    template <class Call>
    auto onGuiThread(Call&& call) -> decltype(call());
    void invalidateNow(const Rect* rect, bool erase);
    void setCaptureNow(bool captured);
    void moveEditNow(const Rect& rect);
    std::optional<std::string> chooseSaveFileNow(const std::string& title);

    MainWindow& window_;
};
