#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog_form.h"
#include "model/message_sink.h"

/// A rectangle in client pixels: left and top inside, right and bottom outside.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

/// `r` grown by the given margins on each side (negative margins shrink it).
inline Rect grown(const Rect& r, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return {r.left - left, r.top - top, r.right + right, r.bottom + bottom};
}

/// The cursor shapes of the workbench: the arrow, a pointing hand, and the resize cursors the
/// parameter panel shows over its bands (vertical) and its lines (diagonal, top left to bottom
/// right).
enum class CursorShape { Arrow, Hand, ResizeVertical, ResizeDiagonal };

/// Window services the commands and handlers use. Implemented by the Qt window and by the
/// headless stand-in of the tests and the command-line tool. Message boxes (MessageSink) are
/// modal: the call returns when the user dismissed the box.
class Shell : public MessageSink {
public:
    /// Adds a rectangle (null: the whole client area) to the region the next paint redraws;
    /// `erase` asks for the white background first.
    virtual void invalidate(const Rect* rect, bool erase) = 0;
    /// Runs the command at once through the dispatcher and returns when it is done.
    virtual void sendCommand(int id) = 0;
    /// Sets or clears the check mark of a menu item.
    virtual void checkMenuItem(int id, bool checked) = 0;
    /// Shows a modal dialog and returns how it ended.
    virtual DialogResult runDialog(const DialogForm& form) = 0;
    /// Closes the window (the workbench then shuts down).
    virtual void close() = 0;
    /// Mouse capture and cursor shape.
    virtual void setCapture(bool captured) = 0;
    virtual void setCursor(CursorShape shape) = 0;
    /// The one child edit control ("Tmin Text", id 225).
    virtual void moveEdit(const Rect& rect) = 0;
    virtual void setEditText(const std::string& text) = 0;
    virtual std::string editText() = 0;
    /// The save dialog of the snapshot: a file name, or nothing when cancelled.
    virtual std::optional<std::string> chooseSaveFile(const std::string& title) = 0;
    /// The pixels the user sees (the client area's back buffer) as 0x00RRGGBB, row by row from
    /// the top; false when there is no such surface (the headless stand-in has none).
    virtual bool clientPixels(int32_t& width, int32_t& height, std::vector<uint32_t>& pixels) {
        (void)width;
        (void)height;
        (void)pixels;
        return false;
    }
    /// A message box shown once the event being handled is over: for a failure met while
    /// painting, where a modal box cannot open. The stand-ins without an event loop show it at
    /// once.
    virtual void postMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
        messageBox(text, caption, icon);
    }
    /// Shows a line in the window's status bar.
    virtual void setStatusText(const std::string& text) { (void)text; }
    /// Runs long work with a modal progress dialog (cells done, elapsed, time left, Cancel).
    /// `work` receives a progress callback (done, total) and the cancel flag the dialog sets.
    virtual int runWithProgress(const std::string& title,
                                const std::function<int(const std::function<void(int, int)>& progress,
                                                        const std::atomic<bool>& cancel)>& work) = 0;
};
