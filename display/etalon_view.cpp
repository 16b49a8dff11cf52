#include <cstdio>

#include "display/graph_primitives.h"
#include "display/views.h"

namespace {

/// Outline from (x0, y0) to (x0 + cw, y0 + ch), current pen.
void outline(Canvas& dc, int32_t x0, int32_t y0, int32_t cw, int32_t ch) {
    dc.moveTo(x0, y0);
    dc.lineTo(x0, y0 + ch);
    dc.lineTo(x0 + cw, y0 + ch);
    dc.lineTo(x0 + cw, y0);
    dc.lineTo(x0, y0);
}

}  // namespace

void drawEtalonView(const PaintContext& context, Canvas& dc) {
    const Settings& s = context.settings;
    const LayoutState& layout = context.layout;
    const int32_t lh = layout.lineHeight;
    const int32_t A = static_cast<int16_t>(s.wAmplitude);

    dc.setPen(graph::kBlack);
    graph::outlineInclusive(dc, layout.rcMain);

    int32_t count = s.wAlphabetSize;
    if (count > alphabetCapacity) count = alphabetCapacity;
    if (count > static_cast<int32_t>(layout.rcEtalonCells.size())) count = static_cast<int32_t>(layout.rcEtalonCells.size());
    char text[64];
    for (int32_t k = 0; k < count; ++k) {
        const Rect& cell = layout.rcEtalonCells[static_cast<size_t>(k)];
        const PulseHeader& etalon = s.alphabet[static_cast<size_t>(k)];
        const bool required = s.requiredFlags[static_cast<size_t>(k)] == 1;
        const int32_t x = cell.left + 5;
        int32_t y = cell.top + 5;
        const int32_t w = layout.wPulseWidth;
        const int32_t h = layout.wPulseHeight - lh;

        // Energy of the samples in use, in 32-bit arithmetic that wraps rather than overflows.
        uint32_t sum = 0;
        if (etalon.lpData) {
            for (int32_t j = 0; j < etalon.wSize; ++j)
                sum += static_cast<uint32_t>(etalon.lpData[j] * etalon.lpData[j]);
        }
        const int32_t energy = static_cast<int32_t>(sum);
        std::snprintf(text, sizeof text, " pulse %d [%d]", etalon.wNumber, energy);
        dc.textOut(x, y, text);
        y += lh;

        dc.setPen(graph::kBlack);
        dc.moveTo(x, y);
        dc.lineTo(x, y + h);
        dc.moveTo(x, y + h / 2);
        dc.lineTo(x + w - 1, y + h / 2);

        // The curve, bold: in place, one pixel right and one pixel higher. Nothing for an etalon
        // of fewer than two samples or a zero scale (the mapping would divide by zero).
        const int32_t n = etalon.wSize;
        if (n >= 2 && A != 0 && etalon.lpData) {
            dc.setPen(required ? graph::kBlue : graph::kDarkBlue);
            static constexpr int32_t shifts[3][2] = {{0, 0}, {1, 0}, {0, -1}};
            for (const auto& shift : shifts) {
                const int32_t dx = shift[0], dy = shift[1];
                dc.moveTo(x + dx, y + h / 2 + dy);
                int32_t px = x;
                for (int32_t j = 0; j < n; ++j) {
                    px = x + j * (w - 6) / (n - 1);
                    dc.lineTo(px + dx, y + h - (etalon.lpData[j] + A) * h / (2 * A) + dy);
                }
                dc.lineTo(px + dx, y + h / 2 + dy);
            }
        }

        // Frame: three light-grey outlines (the cell's own, one pixel in, one pixel out) for a
        // required etalon, one dark-grey outline otherwise.
        const int32_t cw = layout.wCellWidth, ch = layout.wCellHeight;
        if (required) {
            dc.setPen(graph::kLightGrey);
            outline(dc, cell.left, cell.top, cw, ch);
            outline(dc, cell.left + 1, cell.top + 1, cw - 2, ch - 2);
            outline(dc, cell.left - 1, cell.top - 1, cw + 2, ch + 2);
        } else {
            dc.setPen(graph::kDarkGrey);
            outline(dc, cell.left, cell.top, cw, ch);
        }
        dc.setPen(graph::kBlack);
    }
}
