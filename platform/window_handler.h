#pragma once

#include <string>

#include "platform/canvas.h"
#include "platform/menu.h"
#include "platform/shell.h"

/// What the main window calls: the workbench's start-up, shut-down, paint handler, command
/// dispatcher, mouse and key handlers. Coordinates are client pixels.
class WindowHandler {
public:
    virtual ~WindowHandler() = default;
    /// Window creation: build the model. False aborts the creation (the program ends).
    virtual bool onCreate(Shell& shell) = 0;
    /// Window destruction: release everything.
    virtual void onDestroy() = 0;
    /// Paint: draw into `canvas` (the persistent back buffer); `clip` is the region to redraw.
    virtual void onPaint(Canvas& canvas, const Rect& clip) = 0;
    virtual void onCommand(int id) = 0;
    virtual void onLeftButtonDown(int32_t x, int32_t y) = 0;
    virtual void onMouseMove(int32_t x, int32_t y) = 0;
    virtual void onLeftButtonUp(int32_t x, int32_t y) = 0;
    virtual void onKeyDown(int key) = 0;
    /// The window's title and menu; none by default.
    virtual MenuDescription menu() const { return {}; }
    /// The tooltip of what lies at a client point (a button, an option box); empty for none.
    virtual std::string toolTipAt(int32_t x, int32_t y) const {
        (void)x;
        (void)y;
        return {};
    }
};
