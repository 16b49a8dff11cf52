#include "workbench/workbench.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "core/series_use_case.h"
#include "core/simulation_report.h"
#include "core/simulation_use_case.h"
#include "core/startup_model.h"
#include "dialogs/dialogs.h"
#include "display/paint.h"
#include "export/snapshot.h"
#include "model/random.h"
#include "model/subsets.h"
#include "panels/subset_panel.h"
#include "processing/dispatch.h"
#include "simulation/driver.h"
#include "workbench/menu.h"

namespace {
constexpr int kTaskItems[] = {CM_DETECTION, CM_RECOGNITION, CM_JOINT_DETECTION, CM_SERIES_PROCESSING};
constexpr int kSeriesItems[] = {CM_UNFIXED_CUTOFFS, CM_UNFIXED_WHOLE, CM_FIXED_WHOLE, CM_FIXED_CUTOFFS, CM_FIXED_TUPLES,
                                CM_UNFIXED_TUPLES};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Window creation, destruction, painting, input

bool Workbench::onCreate(Shell& shell) {
    shell_ = &shell;
    Settings& s = settings;
    deriveStartupSettings(s);
    // The alphabet, the required list, the modes, the sequences and the lost level; then the
    // menu checks of the two modes, the results container and the first noiseless series.
    prepareStartupModel(s, shell);
    for (int id : kSeriesItems) shell.checkMenuItem(id, false);
    shell.checkMenuItem(CM_UNFIXED_CUTOFFS, true);
    for (int id : kTaskItems) shell.checkMenuItem(id, false);
    shell.checkMenuItem(CM_JOINT_DETECTION, true);
    s.lpChainsHeader = getChainsHeader(shell, s.wChainsCapacity, s.wChainsPulses, std::move(s.lpChainsHeader));
    makeSeriesOfCurrentType(s, shell);
    shell.moveEdit({0, 0, 0, 0});
    shell.setEditText("Tmin Text");
    columnShown_ = columnContents();
    updateStatus();
    return true;
}

void Workbench::onDestroy() {
    Settings& s = settings;
    releaseStartupModel(s);
    releaseChainsHeader(std::move(s.lpChainsHeader));
    s.lpChainsHeader = nullptr;
    s.lpRestErrorHeader.reset();
    panel = SubsetPanelState{};
    subsetMarks = SubsetPanelMarks{};
    lpParamsHeader.reset();
}

void Workbench::onKeyDown(int key) {
    if (!shell_) return;
    layOut();
    if (key == 0 || key == 1) shell_->invalidate(nullptr, true);
    Settings& s = settings;
    constexpr int kEnter = 0x0D, kEscape = 0x1B, kSpace = 0x20;
    if (key == kEnter && s.viewMode == ViewMode::parametersPanel && lpParamsHeader) {
        // In the parameter panel Enter takes the typed Tmin, as " OK " does.
        ++commandDepth_;
        const PanelCommit commit = commitParameterPanel(shell_->editText(), s, shell_);
        if (commit.accepted)
            leaveParameterPanel();
        else
            shell_->messageBox(commit.message, " Tmin ", MessageIcon::Warning);
        --commandDepth_;
        repaintChangedColumn();
        return;
    }
    if (key == kSpace || key == kEnter) {
        // The Next button, as a click on it.
        const Rect& next = layout.rcNextButton;
        if (next.right > next.left && next.bottom > next.top)
            onLeftButtonDown((next.left + next.right) / 2, (next.top + next.bottom) / 2);
        return;
    }
    if (key != kEscape) return;
    ++commandDepth_;
    if (s.viewMode == ViewMode::parametersPanel) {
        // Leaves the parameter panel as " Cancel " does.
        cancelParameterPanel(s, shell_);
        leaveParameterPanel();
    } else if (s.viewMode == ViewMode::subsetPanel) {
        // Leaves the subset panel as its " Cancel " does.
        deleteAllEntries(panel, subsetMarks);
        s.viewMode = ViewMode::results;
        s.dirtySeriesLength = s.dirtyNoiseLevel = s.dirtyLostLevel = 0;
        shell_->sendCommand(CM_NEXT_DATA);
    }
    --commandDepth_;
    repaintChangedColumn();
}

namespace {
bool inside(const Rect& r, int32_t x, int32_t y) {
    return r.right > r.left && x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}
}  // namespace

MenuDescription Workbench::menu() const {
    return mainMenuDescription();
}

std::string Workbench::toolTipAt(int32_t x, int32_t y) const {
    const Settings& s = settings;
    // Laid out for the state as it is now, not as the last paint found it.
    LayoutState layout = this->layout;
    if (measured_) layOutMainWindow(client_, metrics_, s, layout);
    const ViewMode mode = s.viewMode;
    const bool buttons = mode == ViewMode::etalons || mode == ViewMode::results || mode == ViewMode::subsetPanel || mode == ViewMode::parametersPanel;
    if (buttons && inside(layout.rcNextButton, x, y)) return "Next: make a new series and process it (Space, Enter, F5)";
    if (buttons && inside(layout.rcExitButton, x, y)) return "Exit the workbench";
    if (mode == ViewMode::results && inside(layout.rcRestartButton, x, y)) return "Restart: back to the etalons";
    const bool toggle = triesCandidateList(s.wTaskType);
    if (buttons && toggle && inside(layout.rcSelectAllButton, x, y))
        return layout.selectAllState ? "Select All: require every etalon" : "Unselect All: require no etalon";
    for (int e = 0; e < 3; ++e) {
        if (inside(layout.rcSeriesLengthItems[e], x, y))
            return "Series length " + std::to_string(seriesSizeTable.values[e]) + " samples: make and process a series";
        if (inside(layout.rcNoiseLevelItems[e], x, y))
            return "Noise level " + std::to_string(noiseLevelTable.values[e]) + ": make and process a series";
        if (isCutOffSeries(s.seriesType) && inside(layout.rcLostLevelItems[e], x, y))
            return "Lost data level " + std::to_string(lostLevelTable.values[e]) + " %: make and process a series";
    }
    if (mode == ViewMode::etalons)
        for (size_t i = 0; i < layout.rcEtalonCells.size(); ++i)
            if (inside(layout.rcEtalonCells[i], x, y))
                return "Etalon " + std::to_string(i + 1) + ": click to require it or not";
    return {};
}

Workbench::ColumnContents Workbench::columnContents() const {
    const Settings& s = settings;
    const ViewMode mode = s.viewMode;
    ColumnContents c;
    c.buttons = mode == ViewMode::etalons || mode == ViewMode::results || mode == ViewMode::subsetPanel || mode == ViewMode::parametersPanel;
    c.toggle = c.buttons && triesCandidateList(s.wTaskType);
    c.restart = mode == ViewMode::results;
    c.lostLevel = isCutOffSeries(s.seriesType);
    c.panelEdit = mode == ViewMode::parametersPanel;
    return c;
}

void Workbench::repaintChangedColumn() {
    if (!shell_ || commandDepth_ > 0) return;
    const ColumnContents now = columnContents();
    if (now == columnShown_) return;
    // The Tmin edit control belongs to the parameter panel: it goes whichever way the panel
    // was left.
    if (columnShown_.panelEdit && !now.panelEdit) shell_->moveEdit(Rect{});
    // Buttons and option boxes of the old column would stay (and be hit) where the new one
    // has none: the whole client area is repainted.
    shell_->invalidate(nullptr, true);
    columnShown_ = now;
}

std::string Workbench::statusText() const {
    const Settings& s = settings;
    std::string task = "Joint Detection and Identification";
    switch (s.wTaskTypeSel) {
        case TaskType::detection: task = "Detection"; break;
        case TaskType::recognition: task = "Recognition"; break;
        case TaskType::seriesProcessing: task = "Series Processing"; break;
        default: break;
    }
    std::string type;
    switch (s.seriesType) {
        case SeriesType::fixedWhole:
        case SeriesType::fixedWholeTyped: type = "fixed number of whole pulses"; break;
        case SeriesType::unfixedWhole:
        case SeriesType::unfixedWholeTyped: type = "unfixed number of whole pulses"; break;
        case SeriesType::fixedCutoffs: type = "fixed number of cut-off pulses"; break;
        case SeriesType::unfixedCutoffs: type = "unfixed number of cut-off pulses"; break;
        case SeriesType::fixedTuples: type = "fixed number of whole pulses tuples"; break;
        case SeriesType::unfixedTuples: type = "unfixed number of whole pulses tuples"; break;
        default: type = "series type " + std::to_string(code(s.seriesType)); break;
    }
    std::string text = "Task: " + task + "  |  Series: " + type + "  |  Length: " +
                       std::to_string(s.dwSeriesSizeBase) + "  |  Noise: " + std::to_string(s.wNoiseLevelBase);
    if (lastSimulationSeconds >= 0) text += "  |  Last simulation: " + std::to_string(lastSimulationSeconds) + " s";
    if (simulationCancelled) text += "  |  simulation cancelled";
    // A tuple once active is laid into every later series, whatever the series type: said here.
    if (s.lpSeriesHeader)
        if (const std::string tuple = activeSubsetText(*s.lpSeriesHeader); !tuple.empty())
            text += "  |  Tuple " + tuple + " laid into every series";
    return text;
}

void Workbench::updateStatus() {
    if (shell_) shell_->setStatusText(statusText());
}

void Workbench::invalidate(const Rect& r, bool erase) {
    shell_->invalidate(&r, erase);
}

void Workbench::repaintView(bool erase) {
    // The caption line above the view area is redrawn with it.
    invalidate(grown(layout.rcMain, 0, 10, 0, 0), erase);
}

// ---------------------------------------------------------------------------------------------
// The dispatcher

void Workbench::onCommand(int id) {
    // A cancelled simulation is news until the user starts something else.
    if (commandDepth_ == 0) simulationCancelled = false;
    ++commandDepth_;
    dispatch(id);
    --commandDepth_;
    repaintChangedColumn();
    updateStatus();
}

void Workbench::dispatch(int id) {
    Settings& s = settings;
    switch (id) {
        case CM_CREATE_SERIES: createSeries(); break;
        case CM_NEW_PULSES: editRequiredList(); break;
        case CM_SAVE_IMAGE: {
            SnapshotImage image;
            shell_->clientPixels(image.width, image.height, image.pixels);
            if (!MakeSnapshot(*shell_, image))
                shell_->messageBox("Проблемы при выполнении MakeSnapshot", "Open File Name", MessageIcon::None);
            break;
        }
        case CM_EXIT:
        case CM_CLOSE: shell_->close(); break;
        case CM_DETECTION:
        case CM_RECOGNITION:
        case CM_JOINT_DETECTION:
        case CM_SERIES_PROCESSING: chooseTask(id); break;
        case CM_FIXED_WHOLE:
        case CM_UNFIXED_WHOLE:
        case CM_FIXED_CUTOFFS:
        case CM_UNFIXED_CUTOFFS:
        case CM_FIXED_TUPLES:
        case CM_UNFIXED_TUPLES: chooseSeriesType(id); break;
        case CM_STATISTICAL_SIMULATION: statisticalSimulation(); break;
        case CM_SHOW_SIMULATION: showSimulation(); break;
        case CM_SELECT_SET_OF_PULSES:
            s.viewMode = ViewMode::subsetPanel;
            repaintView(true);
            break;
        case CM_PROCESSING_SAME_DATA:
            s.wDisplayContent = 1;
            shell_->sendCommand(CM_PROCESS);
            break;
        case CM_PROCESSING_NEXT_DATA:
            s.wDisplayContent = 1;
            shell_->sendCommand(CM_NEXT_DATA);
            break;
        case CM_MORE_DETAILS: shell_->sendCommand(CM_PROCESS); break;
        case CM_TYPE_MORE_DETAILS:
            // The results are drawn again over what is shown.
            s.noEraseOnInvalidate = 1;
            shell_->sendCommand(CM_REPAINT_RESULTS);
            break;
        case CM_FIXED_CASE:
        case CM_UNFIXED_CASE:
            s.seriesType = id == CM_FIXED_CASE ? SeriesType::fixedWhole : SeriesType::unfixedWhole;
            s.wDisplayContent = 1;
            shell_->sendCommand(CM_NEXT_DATA);
            break;
        case CM_REPEAT_DETECTION:
        case CM_REPEAT_RECOGNITION:
        case CM_REPEAT_JOINT:
        case CM_REPEAT_SERIES_PROCESSING: {
            static constexpr TaskType tasks[] = {TaskType::detection, TaskType::recognition, TaskType::jointDetection,
                                                 TaskType::seriesProcessing};
            s.wTaskTypeSel = tasks[id - CM_REPEAT_DETECTION];
            s.wDisplayContent = 1;
            shell_->sendCommand(CM_NEXT_DATA);
            break;
        }
        case CM_SUBSET_SETTINGS: subsetSettings(); break;
        case CM_DRAWING_SETTINGS: runDrawingSettingsDialog(*shell_, s); break;
        case CM_VIEW_SERIES_PARAMETERS:
            s.viewMode = ViewMode::parametersPanel;
            lpParamsHeader = getParamsHeader(*shell_, s.lpSeriesHeader.get(), std::move(lpParamsHeader));
            repaintView(true);
            break;
        case CM_DEBUGGING_REPEAT:
            debugRepeat = 1;
            s.wDisplayContent = 1;
            shell_->sendCommand(CM_PROCESS);
            break;
        case CM_NEXT_DATA: pipeline(Stage::NewSequence); break;
        case CM_REPAINT_ALL: shell_->invalidate(nullptr, true); break;
        case CM_SAME_SEQUENCE: pipeline(Stage::SameSequence); break;
        case CM_ADD_NOISE: pipeline(Stage::AddNoise); break;
        case CM_PROCESS: pipeline(Stage::Process); break;
        case CM_RESET_PARAMETERS: resetParameters(); break;
        case CM_REPAINT_ETALON: {
            auto cell = [&](int32_t etalon) {
                if (etalon >= 1 && etalon <= static_cast<int32_t>(layout.rcEtalonCells.size()))
                    invalidate(grown(layout.rcEtalonCells[etalon - 1], 1, 1, 3, 3), true);
            };
            cell(s.currentEtalon);
            if (s.wTaskType == TaskType::detection)
                cell(s.previousEtalon);
            else
                invalidate(layout.rcSelectAllButton, true);
            break;
        }
        case CM_REPAINT_VIEW_BUTTONS:
            repaintView(true);
            if (s.wTaskType != TaskType::detection) invalidate(layout.rcSelectAllButton, true);
            if (s.dirtyPanelArea == 1) {
                invalidate(grown(layout.rcButtonColumn, 0, 0, 1, 1), true);
                s.dirtyPanelArea = 0;
            }
            break;
        case CM_SIMULATION_PARAMETERS: simulationParameters(); break;
        case CM_SERIES_PARAMETERS: seriesParameters(); break;
        case CM_MAKE_SERIES: pipeline(Stage::MakeSeries); break;
        case CM_REPAINT_RESULTS: repaintResults(); break;
        case CM_REPAINT_SUBSETS: invalidate(layout.rcSubsetStrip, true); break;
        case CM_REPAINT_VIEW: repaintView(true); break;
        case CM_REDRAW_VIEW: repaintView(false); break;
        case CM_REPAINT_SUBSET_CELLS:
            for (int i = 0; i < panel.wReservedSubsets && i < static_cast<int>(layout.possibleSubsetArrayRect.size()); ++i)
                invalidate(layout.possibleSubsetArrayRect[i], true);
            invalidate(layout.rcSubsetStrip, true);
            break;
        default:
            // 40013, 40014, 207, 217, 219, 220 and every other id do nothing.
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Mode commands

void Workbench::chooseTask(int id) {
    Settings& s = settings;
    for (int item : kTaskItems) shell_->checkMenuItem(item, item == id);
    const bool tuples = isTupleSeries(s.seriesType);
    switch (id) {
        case CM_DETECTION:
            s.wTaskTypeSel = TaskType::detection;
            if (tuples) {
                s.wTaskType = TaskType::tupleDetection;
            } else {
                s.wTaskType = TaskType::detection;
                s.requiredFlags.fill(0);
                if (s.currentEtalon >= 1 && s.currentEtalon <= alphabetCapacity) s.requiredFlags[s.currentEtalon - 1] = 1;
                rebuildRequiredList(s);
            }
            break;
        case CM_RECOGNITION:
            s.wTaskTypeSel = s.wTaskType = TaskType::recognition;
            if (tuples) s.wTaskType = TaskType::tupleRecognition;
            break;
        case CM_JOINT_DETECTION:
            s.wTaskTypeSel = s.wTaskType = TaskType::jointDetection;
            break;
        case CM_SERIES_PROCESSING:
            s.wTaskTypeSel = s.wTaskType = TaskType::seriesProcessing;
            s.wDisplayContent = 1;
            break;
    }
}

void Workbench::chooseSeriesType(int id) {
    Settings& s = settings;
    struct Choice {
        int id;
        SeriesType type;
        bool lostLevelReset;
    };
    static constexpr Choice choices[] = {{CM_FIXED_WHOLE, SeriesType::fixedWhole, true},
                                         {CM_UNFIXED_WHOLE, SeriesType::unfixedWhole, true},
                                         {CM_FIXED_CUTOFFS, SeriesType::fixedCutoffs, false},
                                         {CM_UNFIXED_CUTOFFS, SeriesType::unfixedCutoffs, false},
                                         {CM_FIXED_TUPLES, SeriesType::fixedTuples, true},
                                         {CM_UNFIXED_TUPLES, SeriesType::unfixedTuples, true}};
    for (int item : kSeriesItems) shell_->checkMenuItem(item, item == id);
    for (const Choice& c : choices) {
        if (c.id != id) continue;
        s.seriesType = c.type;
        if (c.lostLevelReset) {
            s.lostLevelIndex = 1;
            s.wLostLevelBase = s.wLostLevel = 0;
            s.wSavedEnergyCreateBase = s.wSavedEnergyCreate = 100;
            s.wSavedEnergyProcessBase = s.wSavedEnergyProcess = 100;
        }
    }
}

void Workbench::resetParameters() {
    Settings& s = settings;
    s.dwSeriesSizeBase = choiceEntry(seriesSizeTable, s.seriesSizeIndex);
    PulseCountBounds b{};
    if (pulseCountBounds(s.dwSeriesSizeBase, s.wImpulseSize, s.wTmin, s.wTmax, b)) {
        s.wMinPulses = b.minimum;
        s.wMaxPulses = b.maximum;
        s.wPulsesQuantity = b.suggested;
    }
    s.wNoiseLevelBase = static_cast<int16_t>(choiceEntry(noiseLevelTable, s.noiseLevelIndex));
    s.wLostLevelBase = static_cast<int16_t>(choiceEntry(lostLevelTable, s.lostLevelIndex));
    s.wSavedEnergyCreateBase = s.wSavedEnergyProcessBase = static_cast<uint16_t>(100 - s.wLostLevelBase);
    shell_->invalidate(nullptr, true);
}

void Workbench::subsetSettings() {
    Settings& s = settings;
    runSubsetSettingsDialog(*shell_, s);
    // Whatever the outcome, the selected subset is laid into the current series with the
    // settings now in force.
    if (s.wTaskType == TaskType::tupleRecognition) {
        const StoredSubsetRows stored = storedSubsetRows(panel);
        addSomeSelectedSubsetToSeriesHeader(*shell_, stored.sizes, stored.rows, panel.wReservedSubsets,
                                            panel.wSubsetEntries, panel.currentPatternTuple, s.subsetEmployment,
                                            s.subsetInitPosition, s.lpSeriesHeader.get());
    } else {
        setSelectedSubset(*shell_, currentSubset(panel), s.subsetEmployment, s.subsetInitPosition, s.lpSeriesHeader.get());
    }
}

// ---------------------------------------------------------------------------------------------
// The pipeline: new sequence → same-sequence preparation → make series → add noise → process →
// store result → repaint results; the commands enter it at different stages.

void Workbench::pipeline(Stage from) {
    Settings& s = settings;
    switch (from) {
        case Stage::NewSequence:
            if (!newSequence()) return;
            [[fallthrough]];
        case Stage::SameSequence:
            sameSequence();
            [[fallthrough]];
        case Stage::MakeSeries:
            if (!makeSeries()) return;
            [[fallthrough]];
        case Stage::AddNoise:
            if (!addNoise(*shell_, s.lpSeriesHeader.get(), s.wNoiseLevel, s.noiseSeed)) return;
            [[fallthrough]];
        case Stage::Process:
            if (!process()) return;
            [[fallthrough]];
        case Stage::RepaintResults:
            repaintResults();
    }
}

bool Workbench::newSequence() { return drawNewSequence(settings, *shell_); }

void Workbench::sameSequence() {
    takeBaseValues(settings);
    settings.wSeriesPulses = requestedOrMiddleCount(settings);
}

bool Workbench::makeSeries() {
    Settings& s = settings;
    s.dwSeriesSize = s.dwSeriesSizeBase;
    s.wSeriesPulses = requestedOrMiddleCount(s);
    s.wNoiseLevel = s.wNoiseLevelBase;
    makeSeriesOfCurrentType(s, *shell_);
    if (!s.lpSeriesHeader) {
        shell_->messageBox("Не могу создать ряд!", "CM_INFO", MessageIcon::None);
        return false;
    }
    return true;
}

bool Workbench::process() {
    Settings& s = settings;
    if (!s.lpSeriesHeader) return false;
    const std::vector<uint16_t> candidates(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCount);
    const std::span<const int32_t> current = currentSubset(panel);
    const std::vector<std::span<const int32_t>> stored = storedSubsets(panel);

    ProcessingInput input;
    input.candidates = candidates;
    input.tuple = current;
    input.tuples = stored;
    input.mode = s.subsetProceeding;
    input.Tmin = s.wTmin;
    input.Tmax = s.wTmax;
    input.pct = s.wSavedEnergyProcess;
    input.debugRepeat = &debugRepeat;

    // The chains table must hold the longest chain of this series: the limits may have changed
    // since it was made (an option box, the parameter panel).
    if (s.wTmin > 0 && s.lpSeriesHeader->dwSeriesSize >= s.lpSeriesHeader->wImpulseSize) {
        const int32_t longest = std::max<int32_t>(
            s.lpSeriesHeader->wMaxPulses,
            (s.lpSeriesHeader->dwSeriesSize - s.lpSeriesHeader->wImpulseSize) / s.wTmin + 1);
        if (!s.lpChainsHeader || s.lpChainsHeader->wMaxPulses < longest) {
            s.wChainsPulses = static_cast<uint16_t>(std::min<int32_t>(longest, 65535));
            s.lpChainsHeader = getChainsHeader(*shell_, s.wChainsCapacity, s.wChainsPulses, std::move(s.lpChainsHeader));
            if (!s.lpChainsHeader) return false;
        }
    }

    if (s.wTaskType == TaskType::seriesProcessing && isTupleSeries(s.seriesType)) {
        // The results view shows series processing of single pulses only: say so rather than
        // process a series whose results nothing shows.
        shell_->messageBox("Series Processing works on series of single pulses; choose a series type without tuples.",
                           " Series Processing ", MessageIcon::Warning);
        return false;
    }
    if (isTupleTask(s.wTaskType)) {
        const bool missing = current.empty() || (s.wTaskType == TaskType::tupleRecognition && stored.empty());
        if (missing) {
            // The subset panel is shown and the routine does not run. The chains of an earlier
            // series are dropped, so that no results view shows them with this one.
            s.lpChainsHeader = getChainsHeader(*shell_, s.wChainsCapacity, s.wChainsPulses, std::move(s.lpChainsHeader));
            shell_->sendCommand(CM_SELECT_SET_OF_PULSES);
            return false;
        }
    }
    const ProcessResult result = processCurrentSeries(s, *shell_, input, s.lpChainsHeader.get());
    lastAnswer = result.answer;
    lastRoutine = result.routine;
    ++processingRuns;
    if (!result.recorded) {
        shell_->messageBox("Ошибка addToChainsHeader!", " About ChainsHeader ", MessageIcon::None);
        return false;
    }
    s.viewMode = ViewMode::results;
    s.wDisplayContent = 1;
    return true;
}

void Workbench::repaintResults() {
    Settings& s = settings;
    repaintView(s.noEraseOnInvalidate == 0);
    // The request not to erase holds for one repaint of the series view.
    if (s.viewMode == ViewMode::results && s.wDisplayContent != 2) s.noEraseOnInvalidate = 0;
    if (s.dirtySeriesLength) {
        invalidate(layout.rcSeriesLengthBox, true);
        s.dirtySeriesLength = 0;
    }
    if (s.dirtyNoiseLevel) {
        invalidate(layout.rcNoiseLevelBox, true);
        s.dirtyNoiseLevel = 0;
    }
    if (s.dirtyLostLevel) {
        invalidate(layout.rcLostLevelBox, true);
        s.dirtyLostLevel = 0;
    }
    if (s.dirtyPanelArea == 1) {
        invalidate(grown(layout.rcButtonColumn, 0, 0, 1, 1), true);
        s.dirtyPanelArea = 0;
    }
}
