#pragma once

#include <array>
#include <cstdint>

#include "core/settings.h"
#include "display/layout.h"
#include "platform/canvas.h"

/// What every view reads: the settings, the layout of the window and the stored pattern tuple
/// picked in the subset panel (1-based, 0 for none), which the results view shows on red.
struct PaintContext {
    const Settings& settings;
    const LayoutState& layout;
    int32_t currentPatternTuple = 0;
};

/// The layout pass of the main window: lays the client rectangle (client = (0, 0, width,
/// height)) out for the state, with the font's metrics: buttons, view area, etalon cells, the
/// state of the Select All / Unselect All toggle and the option boxes with their entries. Hit
/// tests and paint both read what it writes; it never draws. Rectangles of elements the state
/// does not show keep their last values.
void layOutMainWindow(const Rect& client, const TextMetrics& metrics, const Settings& settings, LayoutState& layout);

/// Paints the controls around the view: the Restart button (view mode 6), the Next, Exit and
/// toggle buttons (view modes 5, 6, 9, 10) and the option boxes, at the places the layout pass
/// gave them. The content of the view is painted before, by the view the current mode shows.
void paintWindowControls(Canvas& canvas, const Settings& settings, const LayoutState& layout);

/// The entries of an option box of `count` values (at most 3) laid out in `box` with text pitch
/// `lineHeight`: the click area of each entry.
std::array<Rect, 3> optionBoxItems(const Rect& box, int32_t lineHeight, int count);

/// One option box: its outline, the title on its top edge, one circle and value per entry (at
/// the places optionBoxItems gives), and the mark on entry markedIndex (1-based; out of range
/// marks the first), black when currentValue equals that entry's value, else grey.
void drawOptionBox(Canvas& canvas, int32_t lineHeight, const Rect& box, const char* title, int count,
                   const int32_t* values, int markedIndex, int32_t currentValue);

/// The whole window as it shows a simulation's graphs (view mode 6 with the results of a run):
/// the layout pass, the pattern tuple rows, the graphs and the controls, drawn on `canvas` (the
/// client area) with no stored pattern tuple chosen. For pictures of a run made without a window.
/// False when the graphs could not be drawn (no memory for their normalisers).
bool paintSimulationWindow(Canvas& canvas, const Settings& settings);
