// The workbench's layout pass and paint handler: the window laid out for the state, then the
// view the current mode shows and the controls around it.

#include "workbench/workbench.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>

#include "display/graph_primitives.h"
#include "display/paint.h"
#include "display/views.h"
#include "panels/subset_panel.h"

namespace {
// Whether the results show the series view: not while series processing runs on a tuple or
// typed series.
bool showsSeriesView(const Settings& s) {
    return s.wTaskType != TaskType::seriesProcessing || isPlainPulseSeries(code(s.seriesType));
}
// Series processing of a typed or tuple series has no series view: the view area says so
// instead of staying blank.
void drawNoSeriesViewNote(Canvas& canvas, const LayoutState& layout, uint32_t seriesType) {
    const int32_t lh = std::max(layout.lineHeight, 1);
    const int32_t x = layout.rcMain.left + lh, y = layout.rcMain.top + lh;
    canvas.setTextColor(graph::kBlack);
    canvas.textOut(x, y, "Series processing ran on a series of type " + std::to_string(seriesType) + ".");
    canvas.textOut(x, y + lh, "The series view draws series of types 1, 2, 4 and 8 only (pulses of a drawn sequence);");
    canvas.textOut(x, y + 2 * lh, "a typed sequence (types 16, 32) or a tuple series (36, 40) is processed without one.");
}
}  // namespace

void Workbench::layOut() {
    if (measured_) layOutMainWindow(client_, metrics_, settings, layout);
}

void Workbench::onPaint(Canvas& canvas, const Rect&) {
    client_ = {0, 0, canvas.width(), canvas.height()};
    metrics_ = canvas.metrics();
    measured_ = true;
    layOut();
    std::optional<PaintFailure> failure = layOutView(canvas);
    canvas.setPen(graph::kBlack);
    canvas.setBrush(graph::kWhite);
    canvas.setTextColor(graph::kBlack);
    if (!failure) failure = paintView(canvas);
    paintWindowControls(canvas, settings, layout);
    // A box cannot open inside a paint: it is posted to open right after it.
    if (!failure) {
        shownPaintFailure_.clear();
    } else if (failure->text != shownPaintFailure_ && shell_) {
        shownPaintFailure_ = failure->text;
        shell_->postMessageBox(failure->text, failure->caption, MessageIcon::None);
    }
}

// The layout pass of what the current mode shows, with the paint's font: the pattern tuples of
// the results view, the subset panel (its storage made ready first) or the parameter panel,
// whose Tmin edit control it places.
std::optional<Workbench::PaintFailure> Workbench::layOutView(const Canvas& canvas) {
    const Settings& s = settings;
    if (s.viewMode == ViewMode::results && s.wDisplayContent == 2)
        simulationPatternTupleRows(canvas, layout, s, s.simGraphKind, s.wRequiredCount, s.lpRequiredList.get(),
                                   s.lpRestErrorHeader.get(), s.lpSeriesHeader.get(), layout.rcPatternTuples);
    else if (s.viewMode == ViewMode::results && showsSeriesView(s))
        patternTupleRows(canvas, layout, s.specialGraphSize != 0, s.wRequiredCount, s.lpRequiredList.get(),
                         s.lpChainsHeader.get(), s.lpSeriesHeader.get(), layout.rcPatternTuples);
    if (s.viewMode == ViewMode::subsetPanel) {
        const SubsetPanelPrepareResult prepared = prepareSubsetPanel(panel, subsetMarks);
        if (!prepared.ok) return PaintFailure{prepared.message, ""};
        const bool tuple = s.wTaskType == TaskType::tupleRecognition;
        try {
            subsetLayout = layOutSubsetPanelView(canvas, layout, panel, s.lpSeriesHeader.get(), tuple);
        } catch (const std::bad_alloc&) {
            subsetLayout = SubsetPanelLayout{};
            return PaintFailure{"Нет памяти для possibleSubsetRect!", ""};
        }
        if (tuple) applyMarkAll(panel, subsetMarks);
    }
    if (s.viewMode == ViewMode::parametersPanel && lpParamsHeader) {
        const Rect edit = layOutParameterPanelView(canvas, layout, *lpParamsHeader, s.lpSeriesHeader.get());
        if (shell_) shell_->moveEdit(edit);
    }
    return std::nullopt;
}

// The content of the view the current mode shows, as the layout pass laid it out.
std::optional<Workbench::PaintFailure> Workbench::paintView(Canvas& canvas) {
    const Settings& s = settings;
    PaintContext context{s, layout, panel.currentPatternTuple};
    const int16_t amplitude = static_cast<int16_t>(s.wAmplitude);
    switch (s.viewMode) {
        case ViewMode::etalons: drawEtalonView(context, canvas); break;
        case ViewMode::results:
            if (s.wDisplayContent == 2) {
                if (!drawSimulationGraphs(context, canvas, s.wAmplitude, s.simGraphKind, s.wRequiredCount,
                                          s.lpRequiredList.get(), s.lpRestErrorHeader.get(), s.lpSeriesHeader.get()))
                    return PaintFailure{"No memory to RestoredErrorNormalizer", " ERROR in DrawDetectionArrayZ "};
            } else {
                if (showsSeriesView(s))
                    drawSeriesView(context, canvas, s.wRequiredCount, s.lpRequiredList.get(), s.lpChainsHeader.get(),
                                   s.lpSeriesHeader.get());
                else
                    drawNoSeriesViewNote(canvas, layout, code(s.seriesType));
            }
            break;
        case ViewMode::subsetPanel:
            if (!subsetPanelPrepared(panel)) break;
            if (s.wTaskType == TaskType::tupleRecognition)
                drawTupleSubsetPanel(canvas, layout, subsetLayout, panel, subsetMarks, amplitude, s.wRequiredCount,
                                     s.lpRequiredList.get(), s.lpSeriesHeader.get());
            else
                drawSubsetPanel(canvas, layout, subsetLayout, panel, subsetMarks, amplitude, s.wRequiredCount,
                                s.lpRequiredList.get(), s.lpSeriesHeader.get());
            break;
        case ViewMode::parametersPanel:
            if (lpParamsHeader) drawParameterPanel(canvas, layout, *lpParamsHeader, s.lpSeriesHeader.get());
            break;
        default: break;
    }
    return std::nullopt;
}
