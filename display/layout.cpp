#include "display/layout.h"

GridShape etalonGrid(int32_t alphabetSize) {
    int32_t r = 1;
    while (r * (r + 1) < alphabetSize) ++r;
    return {r, r + 1};
}

void layOutWindow(const Rect& R, int32_t lineHeight, int32_t alphabetSize, bool showToggle, LayoutState& l) {
    l.lineHeight = lineHeight;
    l.rcExitButton = {R.right - 154, R.bottom - 42, R.right - 154 + 143, R.bottom - 42 + 31};
    l.rcNextButton = {l.rcExitButton.left, l.rcExitButton.top - 42, l.rcExitButton.right, l.rcExitButton.bottom - 42};
    int32_t y = l.rcNextButton.top - 42;
    const int32_t yb = y + 31;
    if (showToggle) {
        l.rcSelectAllButton = {R.right - 154, y, R.right - 154 + 143, y + 31};
        l.rcSelectAllHit = l.rcSelectAllButton;
        y -= 42;
    }
    l.rcRestartButton = {R.right - 154, y, R.right - 154 + 143, y + 31};
    y -= 42;
    l.rcButtonColumn = {l.rcRestartButton.left, y, l.rcRestartButton.right, yb};

    l.rcMain.left = R.left + 10;
    l.rcMain.top = R.top + 10;
    const int32_t W0 = l.rcExitButton.left - 10 - l.rcMain.left + 1;
    const int32_t H0 = R.bottom - 10 - l.rcMain.top + 1;
    const GridShape g = etalonGrid(alphabetSize);
    l.wCellWidth = static_cast<uint16_t>((W0 - 10 * (g.columns + 1)) / g.columns);
    l.wCellHeight = static_cast<uint16_t>((H0 - 10 * (g.rows + 1)) / g.rows);
    l.rcMain.right = l.rcMain.left + l.wCellWidth * g.columns + 10 * (g.columns + 1) - 1;
    l.rcMain.bottom = l.rcMain.top + l.wCellHeight * g.rows + 10 * (g.rows + 1) - 1;
    l.wPulseWidth = static_cast<uint16_t>(l.wCellWidth - 10);
    l.wPulseHeight = static_cast<uint16_t>(l.wCellHeight - 10);
    l.rcEtalonCells.resize(static_cast<size_t>(alphabetSize > 0 ? alphabetSize : 0));
    for (int32_t k = 0; k < alphabetSize; ++k) {
        Rect& c = l.rcEtalonCells[k];
        c.left = l.rcMain.left + 10 + (k % g.columns) * (l.wCellWidth + 10);
        c.top = l.rcMain.top + 10 + (k / g.columns) * (l.wCellHeight + 10);
        c.right = c.left + l.wCellWidth - 1;
        c.bottom = c.top + l.wCellHeight - 1;
    }
}

void layOutOptionBoxes(const Rect& R, bool lostLevelBox, LayoutState& l) {
    const int32_t lh = l.lineHeight;
    l.rcSeriesLengthBox = {l.rcMain.right + 10, l.rcMain.top, R.right - 10, l.rcMain.top + 6 * lh};
    const int32_t noiseTop = l.rcSeriesLengthBox.bottom + lh;
    l.rcNoiseLevelBox = {l.rcSeriesLengthBox.left, noiseTop, l.rcSeriesLengthBox.right, noiseTop + 6 * lh};
    int32_t bottom = l.rcNoiseLevelBox.bottom;
    if (lostLevelBox) {
        const int32_t lostTop = l.rcNoiseLevelBox.bottom + lh;
        l.rcLostLevelBox = {l.rcSeriesLengthBox.left, lostTop, l.rcSeriesLengthBox.right, lostTop + 6 * lh};
        bottom = l.rcLostLevelBox.bottom;
    }
    l.rcOptionColumn = {l.rcMain.right + 10, l.rcMain.top, R.right - 10, bottom};
}
