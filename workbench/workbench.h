#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/settings.h"
#include "dialogs/dialogs.h"
#include "panels/subset_panel_state.h"
#include "display/layout.h"
#include "panels/params_panel.h"
#include "panels/subset_panel.h"
#include "processing/dispatch.h"
#include "platform/window_handler.h"

/// Menu command ids.
enum MenuCommand : int {
    CM_CREATE_SERIES = 40001,
    CM_NEW_PULSES = 40002,
    CM_SAVE_IMAGE = 40003,
    CM_EXIT = 40004,
    CM_DETECTION = 40005,
    CM_RECOGNITION = 40006,
    CM_JOINT_DETECTION = 40007,
    CM_FIXED_WHOLE = 40008,
    CM_UNFIXED_WHOLE = 40009,
    CM_FIXED_CUTOFFS = 40010,
    CM_UNFIXED_CUTOFFS = 40011,
    CM_STATISTICAL_SIMULATION = 40012,
    CM_SHOW_SIMULATION = 40015,
    CM_SELECT_SET_OF_PULSES = 40016,
    CM_PROCESSING_SAME_DATA = 40017,
    CM_PROCESSING_NEXT_DATA = 40018,
    CM_MORE_DETAILS = 40019,
    CM_TYPE_MORE_DETAILS = 40020,
    CM_FIXED_CASE = 40021,
    CM_UNFIXED_CASE = 40022,
    CM_REPEAT_DETECTION = 40023,
    CM_REPEAT_RECOGNITION = 40024,
    CM_REPEAT_JOINT = 40025,
    CM_REPEAT_SERIES_PROCESSING = 40026,
    CM_SERIES_PROCESSING = 40027,
    CM_FIXED_TUPLES = 40028,
    CM_SUBSET_SETTINGS = 40029,
    CM_DRAWING_SETTINGS = 40030,
    CM_VIEW_SERIES_PARAMETERS = 40031,
    CM_UNFIXED_TUPLES = 40032,
    CM_DEBUGGING_REPEAT = 40033,
};

/// Internal command ids the workbench sends to itself.
enum InternalCommand : int {
    CM_CLOSE = 204,
    CM_NEXT_DATA = 205,
    CM_REPAINT_ALL = 206,
    CM_SAME_SEQUENCE = 208,
    CM_ADD_NOISE = 209,
    CM_PROCESS = 210,
    CM_RESET_PARAMETERS = 211,
    CM_REPAINT_ETALON = 212,
    CM_REPAINT_VIEW_BUTTONS = 213,
    CM_SIMULATION_PARAMETERS = 214,
    CM_SERIES_PARAMETERS = 215,
    CM_MAKE_SERIES = 216,
    CM_REPAINT_RESULTS = 218,
    CM_REPAINT_SUBSETS = 221,
    CM_REPAINT_VIEW = 222,
    CM_REDRAW_VIEW = 223,
    CM_REPAINT_SUBSET_CELLS = 224,
};

/// The workbench behind the main window: it owns the settings and every model object, builds
/// them at window creation, releases them at destruction, and runs every menu and internal
/// command. It reaches the window only through the Shell it is given at creation.
class Workbench : public WindowHandler {
public:
    bool onCreate(Shell& shell) override;
    void onDestroy() override;
    void onPaint(Canvas& canvas, const Rect& clip) override;
    void onCommand(int id) override;
    void onLeftButtonDown(int32_t x, int32_t y) override;
    void onMouseMove(int32_t x, int32_t y) override;
    void onLeftButtonUp(int32_t x, int32_t y) override;
    void onKeyDown(int key) override;
    std::string toolTipAt(int32_t x, int32_t y) const override;
    MenuDescription menu() const override;

    Settings settings;
    SubsetPanelState panel;
    LayoutState layout;
    int debugRepeat = 0;  ///< set by " Debugging repeat ", cleared by the tuple routines

    // The panels: the subset panel's marks and layout, the parameter panel's record.
    SubsetPanelMarks subsetMarks;
    SubsetPanelLayout subsetLayout;
    std::unique_ptr<ParamsHeader> lpParamsHeader;

    // Mouse state: the point of the last press that hit a button or an etalon cell, and the
    // option box picked last (1 series length, 2 noise level, 3 lost data level, 0 none).
    int32_t lastClickX = 0, lastClickY = 0;
    int32_t changedOptionBox = 0;

    /// Processing runs so far, and the routine and answer of the last one (for the tools that
    /// replay commands and report what each run found).
    int processingRuns = 0;
    Routine lastRoutine = Routine::detectPulsesUnfixed;
    int32_t lastAnswer = 0;

    /// Whether the last simulation was cancelled (the status line says so).
    bool simulationCancelled = false;
    /// How long the last complete simulation ran, in seconds; -1 before the first.
    long long lastSimulationSeconds = -1;
    /// The status line: task, series type, series length, noise level, the last simulation's
    /// time and whether it was cancelled.
    std::string statusText() const;

private:
    void dispatch(int id);
    enum class Stage { NewSequence, SameSequence, MakeSeries, AddNoise, Process, RepaintResults };
    void pipeline(Stage from);
    bool newSequence();
    void sameSequence();
    bool makeSeries();
    bool process();
    void repaintResults();

    void chooseTask(int id);
    void chooseSeriesType(int id);
    void createSeries();
    void editRequiredList();
    std::optional<SeriesEnergyValues> seriesParameters();
    bool simulationParameters();
    void statisticalSimulation();
    void showSimulation();
    void subsetSettings();
    void resetParameters();
    void repaintView(bool erase);
    void layOut();
    // A memory failure met while laying out or painting a view: its message box, shown once the
    // paint is over.
    struct PaintFailure {
        std::string text, caption;
    };
    std::optional<PaintFailure> layOutView(const Canvas& canvas);
    std::optional<PaintFailure> paintView(Canvas& canvas);
    // The text of the paint failure last shown: a failure that stays is not shown again at
    // every repaint, only once until a paint succeeds.
    std::string shownPaintFailure_;
    void invalidate(const Rect& r, bool erase);
    void updateStatus();

    // Mouse editing.
    void record(int32_t x, int32_t y);
    /// Hands the subset panel's subsets to the series; false, after saying why, when there is
    /// nothing to hand over (no stored subset for tuple recognition, else an empty subset).
    bool applyPanelSubsets();
    void clearDirtyFlags();
    bool pressButtons(int32_t x, int32_t y, bool fromResults);
    bool pressToggle(int32_t x, int32_t y, bool fromResults);
    bool pressOptionBoxes(int32_t x, int32_t y);
    void pressEtalonView(int32_t x, int32_t y);
    void pressResultsView(int32_t x, int32_t y);
    void pressSubsetPanel(int32_t x, int32_t y);
    void pressParameterPanelView(int32_t x, int32_t y);
    void leaveParameterPanel();
    bool tupleSeriesWithoutSubset() const;
    void goToSubsetPanel();

    // What the right-hand column shows, as last repainted whole; a command or press that
    // changes it repaints the whole client area.
    struct ColumnContents {
        bool toggle = false, restart = false, lostLevel = false, buttons = false, panelEdit = false;
        bool operator==(const ColumnContents&) const = default;
    };
    ColumnContents columnContents() const;
    void repaintChangedColumn();
    ColumnContents columnShown_;
    int commandDepth_ = 0;

    // The client area and the font's metrics as the last paint measured them: the layout pass
    // lays the window out with them whenever the state may have changed.
    Rect client_{};
    TextMetrics metrics_{};
    bool measured_ = false;

    Shell* shell_ = nullptr;
};
