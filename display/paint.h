#pragma once

#include <array>
#include <cstdint>

#include "core/settings.h"
#include "core/workbench_state.h"
#include "display/layout.h"
#include "panels/params_panel.h"
#include "panels/subset_panel.h"
#include "platform/canvas.h"

/// What every view reads and the layout it writes into.
struct PaintContext {
    const Settings& settings;
    LayoutState& layout;
    const SubsetPanelState& panel;
};

/// The panels' state the paint draws in view modes 9 (subset panel) and 10 (parameter panel).
struct PanelsForPaint {
    SubsetPanelState* panel = nullptr;
    SubsetPanelMarks* marks = nullptr;
    SubsetPanelLayout* subsetLayout = nullptr;
    ParamsHeader* params = nullptr;
    Shell* shell = nullptr;  ///< places the Tmin edit control of the parameter panel
};

/// The main window's paint: lays the client rectangle out afresh (client = (0, 0, width,
/// height)), draws the content of the view mode, blits the command buttons and draws the option
/// boxes. Clears noEraseOnInvalidate when the results view is painted (through `settings`, the
/// one field the paint writes).
void paintMainWindow(Canvas& canvas, const Rect& client, Settings& settings, LayoutState& layout,
                     const SubsetPanelState& panel, const PanelsForPaint* panels = nullptr);

/// One option box: its outline, the title on its top edge, one circle and value per entry
/// (item rectangles written into `items`), and the mark on entry markedIndex (1-based; out of
/// range marks the first), black when currentValue equals that entry's value, else grey.
void drawOptionBox(Canvas& canvas, int32_t lineHeight, const Rect& box, std::array<Rect, 3>& items,
                   const char* title, int count, const int32_t* values, int markedIndex, int32_t currentValue);
