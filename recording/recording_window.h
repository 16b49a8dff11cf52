#pragma once

// The recording view: a window of ordinary Qt widgets beside the workbench, in which a
// researcher opens a recording, looks at it at any zoom, cuts pulse shapes from it with the
// mouse, runs a detection (or learns the shapes from the recording first) and reads and exports
// the results.

#include <QMainWindow>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "io/signal_reader.h"
#include "core/detect_setup.h"
#include "recording/recording_detector.h"
#include "recording/signal_view.h"
#include "recording/view_geometry.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTableWidget;
class QTimer;

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
    /// Starts `rounds` rounds of learning the checked shapes from the recording with the panel's
    /// settings, then their detection, on the worker thread; once done the user may save the old
    /// shapes before the learned ones replace them.
    bool startLearning(int32_t rounds);
    void cancelDetection();
    bool detectionRunning() const { return job_ != nullptr; }

    const RecordingDocument& document() const { return document_; }
    SignalView* signalView() const { return signalView_; }

private:
    struct DetectJob;

    void buildWidgets();
    QWidget* buildSignalArea(QWidget* parent);
    QWidget* buildShapesBox(QWidget* parent);
    QWidget* buildDetectBox(QWidget* parent);
    /// The widgets' signals to the window's handlers.
    void connectWidgets();
    void buildMenus();
    void refreshShapes();
    void refreshResults();
    void refreshScrollBar();
    void refreshEnabled();
    /// Shows the channel weights' field for a recording of several channels only.
    void refreshChannelWeights();
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
    /// Asks for a file name and saves the shapes; whether they were saved.
    bool askSaveShapes();
    void askLearnShapes();
    /// The panel's fields checked against the recording and the shapes; nothing (and a message
    /// naming what is wrong) when they do not hold.
    std::optional<DetectSettings> panelSettings();
    /// Prepares and starts a detection job (after `learnRounds` rounds of learning; 0: none).
    bool startJob(int32_t learnRounds);
    /// After a learning run: offers to save the listed shapes, then puts the learned ones in
    /// their place. False when the user cancelled (nothing changed).
    bool takeLearnedShapes(const DetectJob& job);
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
    QLineEdit* gain_ = nullptr;
    QComboBox* pulseCost_ = nullptr;  ///< editable: a number, or its item "Auto"
    QLineEdit* channelWeights_ = nullptr;  ///< "w1,w2,...", shown with several channels
    QFormLayout* detectForm_ = nullptr;
    QCheckBox* confidence_ = nullptr;  ///< each pulse's confidence and each position's probability
    QPushButton* detectButton_ = nullptr;
    QPushButton* learnButton_ = nullptr;
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
    QAction* learnShapesAction_ = nullptr;  ///< "Learn shapes...", as the button beside Detect
};

/// Adds the recording view to the workbench's window: a "&Recording" menu in its menu bar with
/// "Show recording view" and the four file actions, and the recording window itself (a separate
/// top-level window owned by `workbench`). Returns the recording window.
RecordingWindow* addRecordingView(QMainWindow& workbench, std::shared_ptr<RecordingDetector> detector = {});
