#pragma once

// The recording view: a window of ordinary Qt widgets beside the workbench, in which a
// researcher opens a recording, looks at it at any zoom, cuts pulse shapes from it with the
// mouse, runs a detection and reads and exports the results.

#include <QMainWindow>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "io/signal_reader.h"
#include "recording/detect_setup.h"
#include "recording/recording_detector.h"
#include "recording/signal_paint.h"
#include "recording/view_geometry.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTableWidget;
class QTimer;

/// What the recording view shows: the signal and its summary, the shape list, the selection and
/// the last detection's report. Changed only by the window's actions, never while painting.
struct RecordingDocument {
    std::shared_ptr<const Signal> signal;  ///< shared with a running detection
    SignalSummary summary;
    MinMax values;  ///< the value axis's range
    std::vector<ListedShape> shapes;
    std::optional<SampleSpan> selection;
    std::optional<DetectReport> report;
    int highlighted = -1;  ///< the pulse chosen in the results table
    /// The signal less its baseline that the last detection saw (its shapes in `report` were
    /// matched against it); null when the detection saw the raw signal.
    std::shared_ptr<const std::vector<float>> corrected;
    SignalSummary correctedSummary;  ///< of `corrected`
    bool showRaw = false;            ///< draw the raw signal rather than what the detection saw

    /// The trace drawn: what the last detection saw, unless the raw signal is asked for.
    bool drawsCorrected() const { return corrected && !showRaw; }
    std::span<const float> shownSamples() const;
    const SignalSummary& shownSummary() const { return drawsCorrected() ? correctedSummary : summary; }
    /// Puts the found pulses on the trace drawn.
    PulseLift pulseLift() const;
};

/// The signal area: min/max columns or single samples, the selection, the found pulses, axes in
/// seconds and samples. Wheel, `+`, `-` zoom; `0` zooms to fit; the arrow keys, a right- or
/// middle-button drag and the scroll bar scroll; a left-button drag selects a stretch.
class SignalView : public QWidget {
public:
    SignalView(const RecordingDocument& document, QWidget* parent = nullptr);

    const ViewState& view() const { return view_; }
    /// What the view draws now: the shown trace, the selection, the found pulses on the trace.
    SignalPicture picture() const;
    void setView(const ViewState& view);
    /// Fits the whole signal (after a new signal was opened).
    void zoomToFit();
    void zoomBy(double factor);
    void centreOn(double sample);

    /// Called whenever the shown range changes.
    std::function<void()> onViewChanged;
    /// Called when a drag has selected a stretch (or cleared the selection).
    std::function<void(std::optional<SampleSpan>)> onSelected;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double areaX(double widgetX) const;

    const RecordingDocument& document_;
    ViewState view_;
    enum class Drag { none, select, pan } drag_ = Drag::none;
    double dragFrom_ = 0;
    std::optional<SampleSpan> dragSpan_;
};

/// The overview strip: the whole recording, the visible stretch marked; a click or drag centres
/// the view there.
class OverviewStrip : public QWidget {
public:
    OverviewStrip(const RecordingDocument& document, const SignalView& view, QWidget* parent = nullptr);
    std::function<void(double sample)> onCentre;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    const RecordingDocument& document_;
    const SignalView& view_;
};

/// The recording view's window.
class RecordingWindow : public QMainWindow {
public:
    explicit RecordingWindow(QWidget* parent = nullptr);
    ~RecordingWindow() override;

    /// The detection the Detect button runs; null: none in this build (the button is disabled).
    void setDetector(std::shared_ptr<RecordingDetector> detector);

    /// The menu actions "Open recording...", "Load pulse shapes...", "Export results...",
    /// "Export picture...", each asking for a file name first.
    QAction* openRecordingAction() const { return openAction_; }
    QAction* loadShapesAction() const { return loadShapesAction_; }
    QAction* exportResultsAction() const { return exportResultsAction_; }
    QAction* exportPictureAction() const { return exportPictureAction_; }
    /// "Show raw signal": draws the recording as read rather than the trace the detection saw
    /// (they differ when the detection removed a baseline).
    QAction* showRawAction() const { return showRawAction_; }

    // What the actions do once they have their file names. Each shows a message box naming
    // what is wrong and changes nothing when it fails.
    bool openRecording(const QString& path, const SignalReadOptions& options = {});
    bool loadShapes(const QString& path);
    bool saveShapes(const QString& path);
    bool exportResults(const QString& path);
    bool exportPicture(const QString& path);
    /// Cuts the selected stretch as a new shape named `name`.
    bool useSelectionAsShape(const QString& name);
    /// Starts a detection with the panel's settings on a worker thread.
    bool startDetection();
    void cancelDetection();
    bool detectionRunning() const { return job_ != nullptr; }

    const RecordingDocument& document() const { return document_; }
    SignalView* signalView() const { return signalView_; }

private:
    struct DetectJob;

    void buildWidgets();
    void buildMenus();
    void refreshShapes();
    void refreshResults();
    void refreshScrollBar();
    void refreshEnabled();
    /// After the trace drawn changed: its value range, the view and the overview.
    void refreshTrace();
    /// Fills empty Tmin and Tmax with values for the listed shapes, in the unit shown.
    void suggestDistances();
    /// Refuses a name another listed shape has (`except`: the shape being renamed, or -1).
    std::function<std::optional<QString>(const QString&)> shapeNameCheck(int except) const;
    void showSelection();
    void askUseAsShape();
    void askRename();
    void removeShape();
    void askLoadShapes();
    void askSaveShapes();
    void askOpenRecording();
    void askExportResults();
    void askExportPicture();
    void pollDetection();
    void finishDetection();
    void selectPulse(int row);
    void refuse(const QString& message);

    RecordingDocument document_;
    std::shared_ptr<RecordingDetector> detector_;
    std::unique_ptr<DetectJob> job_;
    uint64_t generation_ = 0;  ///< counts documents opened, to drop results of an older one

    SignalView* signalView_ = nullptr;
    OverviewStrip* overview_ = nullptr;
    QScrollBar* scrollBar_ = nullptr;
    QLabel* selectionLabel_ = nullptr;
    QListWidget* shapeList_ = nullptr;
    QPushButton* useAsShapeButton_ = nullptr;
    QPushButton* renameButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* loadButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QComboBox* task_ = nullptr;
    QLineEdit* tmin_ = nullptr;
    QLineEdit* tmax_ = nullptr;
    QComboBox* unit_ = nullptr;
    QCheckBox* knownCount_ = nullptr;
    QLineEdit* count_ = nullptr;
    QLineEdit* savedEnergy_ = nullptr;
    QCheckBox* baseline_ = nullptr;
    QLineEdit* baselineSeconds_ = nullptr;
    QPushButton* detectButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* summaryLabel_ = nullptr;
    QTableWidget* results_ = nullptr;
    QTimer* poll_ = nullptr;
    QAction* openAction_ = nullptr;
    QAction* loadShapesAction_ = nullptr;
    QAction* exportResultsAction_ = nullptr;
    QAction* exportPictureAction_ = nullptr;
    QAction* showRawAction_ = nullptr;
};

/// Adds the recording view to the workbench's window: a "&Recording" menu in its menu bar with
/// "Show recording view" and the four file actions, and the recording window itself (a separate
/// top-level window owned by `workbench`). Returns the recording window.
RecordingWindow* addRecordingView(QMainWindow& workbench, std::shared_ptr<RecordingDetector> detector = {});
