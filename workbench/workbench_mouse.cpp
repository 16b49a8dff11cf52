// Mouse editing: presses in every view, and (in the parameter panel) moves and releases. The
// handlers hit-test the rectangles the last paint left in the layout, change the settings and
// the panels' state, and hand the rest to the dispatcher through an internal command.

#include <algorithm>

#include "workbench/workbench.h"
#include "model/subsets.h"
#include "panels/params_panel.h"
#include "panels/subset_panel.h"

namespace {
// The layout's rectangles are inclusive.
bool hit(const Rect& r, int32_t x, int32_t y) {
    return r.right > r.left && x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}
constexpr int kNoHandler = 207;
}  // namespace

void Workbench::record(int32_t x, int32_t y) {
    lastClickX = x;
    lastClickY = y;
}

void Workbench::clearDirtyFlags() {
    changedOptionBox = 0;
    settings.dirtySeriesLength = settings.dirtyNoiseLevel = settings.dirtyLostLevel = 0;
}

bool Workbench::tupleSeriesWithoutSubset() const {
    const bool tuples = isTupleSeries(settings.seriesType);
    return tuples && panel.wSelectedCount == 0;
}

void Workbench::goToSubsetPanel() {
    settings.viewMode = ViewMode::subsetPanel;
    shell_->sendCommand(CM_SELECT_SET_OF_PULSES);
}

// Lays the panel's subsets into the current series; false when there is nothing to apply.
bool Workbench::applyPanelSubsets() {
    Settings& s = settings;
    if (s.wTaskType == TaskType::tupleRecognition) {
        if (panel.wStoredSubsets == 0) {
            shell_->messageBox("No subset is stored yet: click etalons to compose a subset and press \" Accept \" "
                               "to store it, then \" OK \" or \" Next \".",
                               " Subset selection ", MessageIcon::Warning);
            return false;
        }
        const StoredSubsetRows stored = storedSubsetRows(panel);
        addSomeSelectedSubsetToSeriesHeader(*shell_, stored.sizes, stored.rows, 10, 10, panel.currentPatternTuple,
                                            s.subsetEmployment, s.subsetInitPosition, s.lpSeriesHeader.get());
        return true;
    }
    if (panel.wSelectedCount == 0) {
        shell_->messageBox("The subset is empty: click etalons to compose it, then \" OK \" or \" Next \".",
                           " Subset selection ", MessageIcon::Warning);
        return false;
    }
    setSelectedSubset(*shell_, currentSubset(panel), s.subsetEmployment, s.subsetInitPosition, s.lpSeriesHeader.get());
    return true;
}

bool Workbench::pressToggle(int32_t x, int32_t y, bool fromResults) {
    Settings& s = settings;
    if (!triesCandidateList(s.wTaskType)) return false;
    if (!hit(layout.rcSelectAllButton, x, y)) return false;
    if (layout.selectAllState == 1) {
        for (int n = 1; n <= s.wAlphabetSize && n <= alphabetCapacity; ++n) s.requiredFlags[n - 1] = 1;
    } else {
        s.requiredFlags.fill(0);
    }
    rebuildRequiredList(s);
    record(x, y);
    if (fromResults) s.dirtyPanelArea = 1;
    s.viewMode = ViewMode::etalons;
    shell_->sendCommand(CM_REPAINT_VIEW_BUTTONS);
    return true;
}

bool Workbench::pressOptionBoxes(int32_t x, int32_t y) {
    Settings& s = settings;
    const ViewMode previousView = s.viewMode;
    for (int e = 0; e < 3; ++e) {
        int box = 0;
        if (hit(layout.rcSeriesLengthItems[e], x, y)) box = 1;
        else if (hit(layout.rcNoiseLevelItems[e], x, y)) box = 2;
        else if (isCutOffSeries(s.seriesType) &&
                 hit(layout.rcLostLevelItems[e], x, y))
            box = 3;
        if (box == 0) continue;
        const int32_t index = e + 1;
        if (box == 1) {
            const bool changed = s.seriesSizeIndex != index;
            s.seriesSizeIndex = index;
            if (s.wRequiredCount == 0) {
                shell_->sendCommand(CM_RESET_PARAMETERS);
                return true;
            }
            s.dwSeriesSizeBase = choiceEntry(seriesSizeTable, index);
            PulseCountBounds b{};
            if (pulseCountBounds(s.dwSeriesSizeBase, s.wImpulseSize, s.wTmin, s.wTmax, b)) {
                s.wMinPulses = b.minimum;
                s.wMaxPulses = b.maximum;
                s.wPulsesQuantity = b.suggested;
            }
            changedOptionBox = 1;
            if (changed) s.dirtySeriesLength = 1;
        } else if (box == 2) {
            const bool changed = s.noiseLevelIndex != index;
            s.noiseLevelIndex = index;
            if (s.wRequiredCount == 0) {
                shell_->sendCommand(CM_RESET_PARAMETERS);
                return true;
            }
            s.wNoiseLevelBase = static_cast<int16_t>(choiceEntry(noiseLevelTable, index));
            changedOptionBox = 2;
            if (changed) s.dirtyNoiseLevel = 1;
        } else {
            const bool changed = s.lostLevelIndex != index;
            s.lostLevelIndex = index;
            if (s.wRequiredCount == 0) {
                shell_->sendCommand(CM_RESET_PARAMETERS);
                return true;
            }
            s.wLostLevelBase = static_cast<int16_t>(choiceEntry(lostLevelTable, index));
            s.wSavedEnergyCreateBase = s.wSavedEnergyProcessBase = static_cast<uint16_t>(100 - s.wLostLevelBase);
            if (previousView != ViewMode::results) s.dirtyPanelArea = 1;
            s.viewMode = ViewMode::results;
            changedOptionBox = 3;
            if (changed) s.dirtyLostLevel = 1;
            shell_->sendCommand(CM_NEXT_DATA);
            return true;
        }
        if (tupleSeriesWithoutSubset()) {
            goToSubsetPanel();
            return true;
        }
        if (previousView == ViewMode::subsetPanel && !applyPanelSubsets()) {
            shell_->sendCommand(CM_REPAINT_SUBSET_CELLS);
            return true;
        }
        if (previousView != ViewMode::results) s.dirtyPanelArea = 1;
        s.viewMode = ViewMode::results;
        shell_->sendCommand(CM_NEXT_DATA);
        return true;
    }
    return false;
}

void Workbench::pressEtalonView(int32_t x, int32_t y) {
    Settings& s = settings;
    for (int i = 1; i <= static_cast<int>(layout.rcEtalonCells.size()) && i <= s.wAlphabetSize; ++i) {
        if (!hit(layout.rcEtalonCells[i - 1], x, y)) continue;
        record(x, y);
        if (s.wTaskType == TaskType::detection) {
            if (!s.requiredFlags[i - 1]) s.requiredFlags.fill(0);
            s.requiredFlags[i - 1] = 1;
            s.dirtyPanelArea = 1;
            clearDirtyFlags();
        } else {
            s.requiredFlags[i - 1] = s.requiredFlags[i - 1] ? 0 : 1;
        }
        s.viewMode = ViewMode::etalons;
        rebuildRequiredList(s);
        s.previousEtalon = s.currentEtalon;
        s.currentEtalon = i;
        shell_->sendCommand(CM_REPAINT_ETALON);
        return;
    }
    if (hit(layout.rcNextButton, x, y)) {
        rebuildRequiredList(s);
        if (tupleSeriesWithoutSubset()) {
            s.viewMode = ViewMode::subsetPanel;
            shell_->sendCommand(kNoHandler);
            // Show the panel at once rather than at some later repaint.
            repaintView(true);
        } else if (s.wRequiredCount > 0) {
            record(x, y);
            if (s.viewMode != ViewMode::results) s.dirtyPanelArea = 1;
            clearDirtyFlags();
            s.viewMode = ViewMode::results;
            shell_->sendCommand(CM_NEXT_DATA);
        } else {
            // Nothing to make a series of: said as the menu path says it.
            s.viewMode = ViewMode::etalons;
            shell_->messageBox("The list of required etalons is empty: choose at least one etalon.", " New pulses ",
                               MessageIcon::Warning);
            shell_->sendCommand(kNoHandler);
        }
        return;
    }
    if (hit(layout.rcExitButton, x, y)) {
        record(x, y);
        shell_->sendCommand(CM_CLOSE);
        return;
    }
    if (pressToggle(x, y, false)) return;
    if (!pressOptionBoxes(x, y)) shell_->sendCommand(kNoHandler);
}

bool Workbench::pressButtons(int32_t x, int32_t y, bool fromSubsetPanel) {
    Settings& s = settings;
    if (hit(layout.rcRestartButton, x, y)) {
        record(x, y);
        if (isTupleSeries(s.seriesType)) {
            goToSubsetPanel();
        } else {
            s.viewMode = ViewMode::etalons;
            s.dirtyPanelArea = 1;
            shell_->sendCommand(CM_REPAINT_VIEW_BUTTONS);
        }
        return true;
    }
    if (hit(layout.rcNextButton, x, y)) {
        record(x, y);
        // From the subset panel Next hands its subsets over (or says why it cannot); elsewhere a
        // fixed tuple series without a subset opens the panel first.
        if (fromSubsetPanel) {
            if (!applyPanelSubsets()) {
                shell_->sendCommand(CM_REPAINT_SUBSET_CELLS);
                return true;
            }
        } else if (s.seriesType == SeriesType::fixedTuples && panel.wSelectedCount == 0) {
            goToSubsetPanel();
            return true;
        }
        s.viewMode = ViewMode::results;
        clearDirtyFlags();
        s.dirtyPanelArea = 1;
        shell_->sendCommand(CM_NEXT_DATA);
        return true;
    }
    if (hit(layout.rcExitButton, x, y)) {
        record(x, y);
        shell_->sendCommand(CM_CLOSE);
        return true;
    }
    return pressToggle(x, y, true);
}

void Workbench::pressResultsView(int32_t x, int32_t y) {
    Settings& s = settings;
    const bool tuples = isTupleSeries(s.seriesType);
    if (tuples && s.wTaskType == TaskType::tupleRecognition) {
        for (size_t row = 0; row < layout.rcPatternTuples.size(); ++row) {
            if (!hit(layout.rcPatternTuples[row], x, y)) continue;
            record(x, y);
            panel.currentPatternTuple = static_cast<int32_t>(row) + 1;
            if (s.lpSeriesHeader && s.lpSeriesHeader->wSubsetsCount > 0) {
                // The stored subsets of the series, with the clicked one active.
                const SeriesHeader& h = *s.lpSeriesHeader;
                std::vector<int32_t> sizes;
                std::vector<std::vector<int32_t>> rows;
                for (int t = 0; t < h.wSubsetsCount; ++t) {
                    sizes.push_back(h.selectedSubsetSize[t]);
                    rows.emplace_back(h.selectedSubsetList[t], h.selectedSubsetList[t] + h.selectedSubsetSize[t]);
                }
                std::vector<std::span<const int32_t>> lists(rows.begin(), rows.end());
                addSomeSelectedSubsetToSeriesHeader(*shell_, sizes, lists, h.wSubsetsCapacity, h.wSubsetCapacity,
                                                    panel.currentPatternTuple, s.subsetEmployment,
                                                    s.subsetInitPosition, s.lpSeriesHeader.get());
            }
            shell_->sendCommand(CM_NEXT_DATA);
            return;
        }
    }
    if (pressButtons(x, y, false)) return;
    if (!pressOptionBoxes(x, y)) shell_->sendCommand(kNoHandler);
}

void Workbench::pressSubsetPanel(int32_t x, int32_t y) {
    Settings& s = settings;
    using subset_panel::Button;
    const int offered = offeredCellAt(subsetLayout, s.wRequiredCount, x, y);
    if (offered >= 0 && s.lpRequiredList && offered < s.wRequiredCount) {
        offerEtalon(panel, subsetMarks, s.lpRequiredList[offered]);
        record(x, y);
        shell_->sendCommand(CM_REPAINT_SUBSETS);
        return;
    }
    if (stripContains(subsetLayout, x, y)) {
        markEntryAt(panel, subsetMarks, subsetLayout, x, y);
        shell_->sendCommand(CM_REPAINT_SUBSETS);
        return;
    }
    switch (buttonAt(subsetLayout, x, y)) {
        case Button::DeleteAll:
            deleteAllEntries(panel, subsetMarks);
            shell_->sendCommand(CM_REPAINT_SUBSETS);
            return;
        case Button::Delete:
            deleteMarkedEntries(panel, subsetMarks);
            shell_->sendCommand(CM_REPAINT_SUBSETS);
            return;
        case Button::Cancel:
            deleteAllEntries(panel, subsetMarks);
            s.viewMode = ViewMode::results;
            s.dirtySeriesLength = s.dirtyNoiseLevel = s.dirtyLostLevel = 0;
            shell_->sendCommand(CM_NEXT_DATA);
            return;
        case Button::Ok:
            if (!applyPanelSubsets()) {
                shell_->sendCommand(CM_REPAINT_SUBSET_CELLS);
                return;
            }
            s.dirtyPanelArea = 1;
            s.viewMode = ViewMode::results;
            s.dirtyLostLevel = 0;
            shell_->sendCommand(CM_NEXT_DATA);
            return;
        case Button::Accept:
            if (s.wTaskType == TaskType::tupleRecognition) {
                acceptCurrentSubset(panel, subsetMarks);
                shell_->sendCommand(CM_REPAINT_SUBSET_CELLS);
                return;
            }
            break;
        case Button::ClearAll:
            if (s.wTaskType == TaskType::tupleRecognition) {
                clearStoredSubsets(panel, subsetMarks);
                shell_->sendCommand(CM_REPAINT_SUBSET_CELLS);
                return;
            }
            break;
        default:
            break;
    }
    if (s.wTaskType == TaskType::tupleRecognition) {
        const int row = storedRowAt(subsetLayout, x, y);
        if (row >= 0 && chooseStoredSubset(panel, row)) {
            shell_->sendCommand(CM_REPAINT_SUBSET_CELLS);
            return;
        }
    }
    if (pressButtons(x, y, true)) return;
    if (!pressOptionBoxes(x, y)) shell_->sendCommand(kNoHandler);
}

void Workbench::leaveParameterPanel() {
    Settings& s = settings;
    s.dirtyLostLevel = 0;
    if (tupleSeriesWithoutSubset())
        goToSubsetPanel();
    else
        shell_->sendCommand(CM_NEXT_DATA);
}

void Workbench::pressParameterPanelView(int32_t x, int32_t y) {
    Settings& s = settings;
    if (lpParamsHeader) {
        switch (pressParameterPanel(*lpParamsHeader, x, y)) {
            case PanelPress::Cancel:
                cancelParameterPanel(s, shell_);
                leaveParameterPanel();
                return;
            case PanelPress::Ok: {
                const PanelCommit commit = commitParameterPanel(shell_->editText(), s, shell_);
                if (!commit.accepted) {
                    // A Tmin that would break the model is refused; the panel stays.
                    shell_->messageBox(commit.message, " Tmin ", MessageIcon::Warning);
                    return;
                }
                leaveParameterPanel();
                return;
            }
            case PanelPress::PulseCount:
                shell_->sendCommand(CM_REDRAW_VIEW);
                return;
            case PanelPress::HandleHigh:
            case PanelPress::HandleLow:
            case PanelPress::LineTmin:
            case PanelPress::LineTmax:
                return;
            case PanelPress::None:
                break;
        }
    }
    if (hit(layout.rcNextButton, x, y)) {
        record(x, y);
        if (tupleSeriesWithoutSubset()) {
            goToSubsetPanel();
            return;
        }
        s.viewMode = ViewMode::results;
        clearDirtyFlags();
        s.dirtyPanelArea = 1;
        shell_->sendCommand(CM_NEXT_DATA);
        return;
    }
    if (!hit(layout.rcNextButton, x, y) && pressButtons(x, y, false)) return;
    if (!pressOptionBoxes(x, y)) shell_->sendCommand(kNoHandler);
}

void Workbench::onLeftButtonDown(int32_t x, int32_t y) {
    if (!shell_) return;
    // Hit tests see the window as the state lays it out now, painted or not.
    layOut();
    // What the press changed in the right-hand column is repainted once it is done.
    ++commandDepth_;
    struct Done {
        Workbench& w;
        ~Done() {
            --w.commandDepth_;
            w.repaintChangedColumn();
            w.updateStatus();
        }
    } done{*this};
    switch (settings.viewMode) {
        case ViewMode::etalons:
            pressEtalonView(x, y);
            break;
        case ViewMode::results:
            pressResultsView(x, y);
            break;
        case ViewMode::subsetPanel:
            pressSubsetPanel(x, y);
            break;
        case ViewMode::parametersPanel:
            pressParameterPanelView(x, y);
            break;
        default:
            if (pressButtons(x, y, false)) return;
            if (!pressOptionBoxes(x, y)) shell_->sendCommand(kNoHandler);
            break;
    }
}

void Workbench::onMouseMove(int32_t x, int32_t y) {
    if (!shell_ || settings.viewMode != ViewMode::parametersPanel || !lpParamsHeader) return;
    const int32_t tmin = lpParamsHeader->wTmin;
    if (dragParameterPanel(*lpParamsHeader, x, y)) {
        // The Tmin box shows the dragged Tmin, so that " OK " takes what the diagram shows.
        if (lpParamsHeader->wTmin != tmin) shell_->setEditText(tminEditText(*lpParamsHeader));
        shell_->sendCommand(CM_REDRAW_VIEW);
        return;
    }
    for (const PanelHoverChange& change : trackPanelHover(*lpParamsHeader, x, y)) {
        if (change.entered) {
            shell_->setCapture(true);
            const bool band = change.target == PanelTarget::HandleHigh || change.target == PanelTarget::HandleLow;
            shell_->setCursor(band ? CursorShape::ResizeVertical : CursorShape::ResizeDiagonal);
        } else {
            shell_->setCursor(CursorShape::Arrow);
            shell_->setCapture(false);
        }
    }
}

void Workbench::onLeftButtonUp(int32_t x, int32_t y) {
    if (!shell_ || settings.viewMode != ViewMode::parametersPanel || !lpParamsHeader) return;
    const int32_t tmin = lpParamsHeader->wTmin;
    if (releaseParameterPanel(*lpParamsHeader, x, y)) {
        if (lpParamsHeader->wTmin != tmin) shell_->setEditText(tminEditText(*lpParamsHeader));
        shell_->sendCommand(CM_REDRAW_VIEW);
    }
}
