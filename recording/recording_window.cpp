#include "recording/recording_window.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QScreen>
#include <QGuiApplication>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>
#include <stdexcept>
#include <cmath>
#include <thread>

#include "plot/recording_plot.h"
#include "recording/signal_paint.h"
#include "recording/view_dialogs.h"

namespace {
const QString notAvailable = QStringLiteral("Detection is not available in this build.");
constexpr WindowSize preferredWindow{1200, 760};
constexpr WindowSize minimumWindow{720, 480};
// What a window system typically adds around the client area: borders and the title bar.
constexpr WindowSize windowFrame{16, 40};

}  // namespace

// ---- the detection job ----

// Everything the worker thread uses; the window reads it only after `finished` is set (or the
// progress, an atomic, at any time). No Qt object is touched from the worker.
struct RecordingWindow::DetectJob {
    std::shared_ptr<const Signal> signal;
    std::vector<ListedShape> shapes;
    DetectSettings settings;
    std::shared_ptr<RecordingDetector> detector;
    uint64_t generation = 0;
    std::atomic<bool> cancel{false};
    std::atomic<double> progress{0};
    std::atomic<bool> finished{false};
    std::string error;
    DetectResult result;
    std::shared_ptr<const std::vector<float>> corrected;  ///< set when a baseline was removed
    SignalSummary correctedSummary;
    std::vector<Shape> sought;  ///< the shapes as matched
    double scale = 1;
    double seconds = 0;
    std::thread thread;

    void run() {
        const auto start = std::chrono::steady_clock::now();
        PreparedDetection prepared;
        if (IoStatus ready = prepareDetection(*signal, shapes, settings, prepared); !ready) {
            error = ready.error;
        } else if (cancel.load()) {
            result.completed = false;
        } else {
            scale = prepared.quantised.scale;
            sought = prepared.shapes;
            if (!prepared.corrected.empty()) {
                auto trace = std::make_shared<const std::vector<float>>(std::move(prepared.corrected));
                correctedSummary = SignalSummary(*trace);
                corrected = std::move(trace);
            }
            // Nothing may leave the thread: a failure of the detection becomes its message.
            try {
                result = detector->run(prepared.request, [this](double done) { progress.store(done); }, cancel);
            } catch (const std::bad_alloc&) {
                error = "There is not enough memory for this detection.";
            } catch (const std::exception& failure) {
                error = std::string("The detection failed: ") + failure.what();
            }
            if (cancel.load()) result.completed = false;
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        finished.store(true);
    }
};

// ---- window ----

RecordingWindow::RecordingWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("recordingWindow"));
    setWindowTitle(recordingTitle());
    buildWidgets();
    buildMenus();
    poll_ = new QTimer(this);
    poll_->setInterval(20);
    connect(poll_, &QTimer::timeout, this, [this] { pollDetection(); });
    refreshShapes();
    refreshResults();
    refreshEnabled();
    // The window's limits are set once, before it is shown (as the view's dialogs are), and fit
    // the room the screen leaves beside its panels and task bars.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    const QRect room = (screen() ? screen() : QGuiApplication::primaryScreen())->availableGeometry();
    const WindowSize available{room.width(), room.height()};
    const WindowSize least = fittedMinimumSize(minimumWindow, available, windowFrame);
    const WindowSize size = fittedWindowSize(preferredWindow, minimumWindow, available, windowFrame);
    setMinimumSize(least.width, least.height);
    resize(size.width, size.height);
}

RecordingWindow::~RecordingWindow() {
    if (job_) {
        job_->cancel.store(true);
        job_->thread.join();
    }
}

void RecordingWindow::setDetector(std::shared_ptr<RecordingDetector> detector) {
    detector_ = std::move(detector);
    refreshEnabled();
}

void RecordingWindow::buildWidgets() {
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    setCentralWidget(splitter);

    auto* left = new QWidget(splitter);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(4, 4, 4, 4);
    signalView_ = new SignalView(document_, left);
    overview_ = new OverviewStrip(document_, *signalView_, left);
    scrollBar_ = new QScrollBar(Qt::Horizontal, left);
    scrollBar_->setObjectName(QStringLiteral("signalScrollBar"));
    selectionLabel_ = new QLabel(left);
    selectionLabel_->setObjectName(QStringLiteral("selectionLabel"));
    summaryLabel_ = new QLabel(left);
    summaryLabel_->setObjectName(QStringLiteral("summaryLabel"));
    summaryLabel_->setWordWrap(true);  // a warning may follow the summary
    results_ = new QTableWidget(0, 6, left);
    results_->setObjectName(QStringLiteral("resultsTable"));
    results_->setHorizontalHeaderLabels({tr("No."), tr("Start (s)"), tr("Start (samples)"), tr("Shape"), tr("Cut"),
                                         tr("Measure")});
    results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    results_->verticalHeader()->hide();
    results_->horizontalHeader()->setStretchLastSection(true);
    // Every heading shown whole: a column is at least as wide as its heading.
    for (int column = 0; column + 1 < results_->columnCount(); ++column)
        results_->setColumnWidth(column, std::max(results_->columnWidth(column),
                                                  results_->horizontalHeader()->sectionSizeHint(column) + 8));
    leftLayout->addWidget(overview_);
    leftLayout->addWidget(signalView_, 3);
    leftLayout->addWidget(scrollBar_);
    leftLayout->addWidget(selectionLabel_);
    leftLayout->addWidget(summaryLabel_);
    leftLayout->addWidget(results_, 1);

    // The side panel scrolls when the window is too low for it (a small screen).
    auto* sidePanel = new QScrollArea(splitter);
    sidePanel->setObjectName(QStringLiteral("sidePanel"));
    sidePanel->setWidgetResizable(true);
    sidePanel->setFrameShape(QFrame::NoFrame);
    sidePanel->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* right = new QWidget(sidePanel);
    sidePanel->setWidget(right);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(4, 4, 4, 4);
    auto* shapesBox = new QGroupBox(tr("Pulse shapes (checked: candidates)"), right);
    auto* shapesLayout = new QVBoxLayout(shapesBox);
    shapeList_ = new QListWidget(shapesBox);
    shapeList_->setObjectName(QStringLiteral("shapeList"));
    shapeList_->setIconSize(QSize(72, 28));
    useAsShapeButton_ = new QPushButton(tr("&Use as pulse shape"), shapesBox);
    useAsShapeButton_->setObjectName(QStringLiteral("useAsShapeButton"));
    renameButton_ = new QPushButton(tr("Re&name..."), shapesBox);
    removeButton_ = new QPushButton(tr("Remo&ve"), shapesBox);
    loadButton_ = new QPushButton(tr("&Load..."), shapesBox);
    saveButton_ = new QPushButton(tr("&Save..."), shapesBox);
    auto* shapeButtons = new QHBoxLayout;
    for (QPushButton* button : {renameButton_, removeButton_, loadButton_, saveButton_}) shapeButtons->addWidget(button);
    shapesLayout->addWidget(shapeList_);
    shapesLayout->addWidget(useAsShapeButton_);
    shapesLayout->addLayout(shapeButtons);
    rightLayout->addWidget(shapesBox, 1);

    auto* detectBox = new QGroupBox(tr("Detection"), right);
    auto* form = new QFormLayout(detectBox);
    task_ = new QComboBox(detectBox);
    task_->addItems({tr("detect"), tr("joint"), tr("recognise")});
    task_->setCurrentIndex(1);
    tmin_ = new QLineEdit(detectBox);
    tmax_ = new QLineEdit(detectBox);
    unit_ = new QComboBox(detectBox);
    unit_->addItems({tr("samples"), tr("seconds")});
    knownCount_ = new QCheckBox(tr("Known count"), detectBox);
    count_ = new QLineEdit(detectBox);
    savedEnergy_ = new QLineEdit(QStringLiteral("100"), detectBox);
    baseline_ = new QCheckBox(tr("Baseline window (s)"), detectBox);
    baselineSeconds_ = new QLineEdit(detectBox);
    for (auto [edit, name] : {std::pair{tmin_, "tmin"}, {tmax_, "tmax"}, {count_, "count"}, {savedEnergy_, "savedEnergy"},
                              {baselineSeconds_, "baselineSeconds"}})
        edit->setObjectName(QString::fromLatin1(name));
    task_->setObjectName(QStringLiteral("task"));
    unit_->setObjectName(QStringLiteral("unit"));
    knownCount_->setObjectName(QStringLiteral("knownCount"));
    baseline_->setObjectName(QStringLiteral("baseline"));
    form->addRow(tr("&Task"), task_);
    form->addRow(tr("T&min"), tmin_);
    form->addRow(tr("Tma&x"), tmax_);
    form->addRow(tr("Unit"), unit_);
    form->addRow(knownCount_, count_);
    form->addRow(tr("Saved &energy (%)"), savedEnergy_);
    form->addRow(baseline_, baselineSeconds_);
    detectButton_ = new QPushButton(tr("&Detect"), detectBox);
    detectButton_->setObjectName(QStringLiteral("detectButton"));
    cancelButton_ = new QPushButton(tr("&Cancel"), detectBox);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(detectButton_);
    buttons->addWidget(cancelButton_);
    form->addRow(buttons);
    progress_ = new QProgressBar(detectBox);
    progress_->setObjectName(QStringLiteral("detectProgress"));
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    form->addRow(progress_);
    rightLayout->addWidget(detectBox);
    // Never narrower than the panel, with room for its scroll bar.
    sidePanel->setMinimumWidth(right->minimumSizeHint().width() + sidePanel->verticalScrollBar()->sizeHint().width());
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);

    signalView_->onViewChanged = [this] {
        refreshScrollBar();
        overview_->update();
    };
    signalView_->onSelected = [this](std::optional<SampleSpan> span) {
        // Every shape needs the listed shapes' length: a selection takes it at once, since a
        // drag rarely hits an exact sample count.
        if (span && document_.signal && !document_.shapes.empty())
            span = snappedSelection(*span, static_cast<int64_t>(document_.shapes.front().shape.samples.size()),
                                    static_cast<int64_t>(document_.signal->samples.size()));
        document_.selection = span;
        showSelection();
        refreshEnabled();
    };
    overview_->onCentre = [this](double sample) { signalView_->centreOn(sample); };
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int value) {
        if (scrollBarOf(signalView_->view()).value != value)
            signalView_->setView(viewAtScrollValue(signalView_->view(), value));
    });
    connect(useAsShapeButton_, &QPushButton::clicked, this, [this] { askUseAsShape(); });
    connect(renameButton_, &QPushButton::clicked, this, [this] { askRename(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { removeShape(); });
    connect(loadButton_, &QPushButton::clicked, this, [this] { askLoadShapes(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { askSaveShapes(); });
    connect(shapeList_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int row = shapeList_->row(item);
        if (row >= 0 && row < static_cast<int>(document_.shapes.size()))
            document_.shapes[row].candidate = item->checkState() == Qt::Checked;
    });
    connect(shapeList_, &QListWidget::currentRowChanged, this, [this] { refreshEnabled(); });
    connect(knownCount_, &QCheckBox::toggled, this, [this] { refreshEnabled(); });
    // Tmin and Tmax follow the unit: a distance typed in samples is shown in seconds and back.
    connect(unit_, &QComboBox::currentIndexChanged, this, [this](int unit) {
        if (!document_.signal) return;
        for (QLineEdit* edit : {tmin_, tmax_})
            if (const std::optional<std::string> converted =
                    convertedDistance(edit->text().toStdString(), document_.signal->rate, unit == 1))
                edit->setText(QString::fromStdString(*converted));
    });
    connect(baseline_, &QCheckBox::toggled, this, [this] { refreshEnabled(); });
    connect(detectButton_, &QPushButton::clicked, this, [this] { startDetection(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelDetection(); });
    connect(results_, &QTableWidget::cellClicked, this, [this](int row, int) { selectPulse(row); });
    connect(results_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) { selectPulse(row); });
}

void RecordingWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&Recording"));
    openAction_ = file->addAction(tr("&Open recording..."), this, [this] { askOpenRecording(); });
    loadShapesAction_ = file->addAction(tr("&Load pulse shapes..."), this, [this] { askLoadShapes(); });
    file->addSeparator();
    exportResultsAction_ = file->addAction(tr("Export &results..."), this, [this] { askExportResults(); });
    exportPictureAction_ = file->addAction(tr("Export &picture..."), this, [this] { askExportPicture(); });
    file->addSeparator();
    file->addAction(tr("&Close"), this, [this] { close(); });
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(tr("Zoom &in\t+"), this, [this] { signalView_->zoomBy(signalZoomStep); });
    view->addAction(tr("Zoom &out\t-"), this, [this] { signalView_->zoomBy(1 / signalZoomStep); });
    view->addAction(tr("Zoom to &fit\t0"), this, [this] { signalView_->zoomToFit(); });
    view->addSeparator();
    showRawAction_ = view->addAction(tr("Show &raw signal"));
    showRawAction_->setObjectName(QStringLiteral("showRawAction"));
    showRawAction_->setCheckable(true);
    showRawAction_->setToolTip(tr("Draw the recording as read rather than less the baseline the detection removed"));
    connect(showRawAction_, &QAction::toggled, this, [this](bool raw) {
        document_.showRaw = raw;
        refreshTrace();
    });
}

void RecordingWindow::refuse(const QString& message) {
    // The readers' messages also follow a caption in the batch tool and may start in lower case;
    // a message box starts its sentence with a capital.
    QString text = message;
    if (!text.isEmpty() && text.front().isLower()) text.front() = text.front().toUpper();
    showRecordingMessage(this, text);
}

bool RecordingWindow::openRecording(const QString& path, const SignalReadOptions& options) {
    if (job_) return refuse(tr("A detection is running; cancel it first.")), false;
    IoResult<Signal> read = readSignal(path.toStdString(), options);
    if (!read) return refuse(QString::fromStdString(read.error)), false;
    // Shapes of another recording may be of another unit or scale: the user says whether they
    // belong to this one too.
    bool keepShapes = true;
    if (!document_.shapes.empty()) {
        const QDialogButtonBox::StandardButton answer = askRecordingQuestion(
            this, tr("Keep the %n listed pulse shape(s) for %1?\n\nThey were cut from or loaded for the previous "
                     "recording; if this one has another unit or scale they will fit nowhere. No removes them; Cancel "
                     "keeps the previous recording open.",
                     nullptr, static_cast<int>(document_.shapes.size()))
                      .arg(path));
        if (answer == QDialogButtonBox::Cancel) return false;
        keepShapes = answer == QDialogButtonBox::Yes;
    }
    if (!keepShapes) document_.shapes.clear();
    auto signal = std::make_shared<const Signal>(std::move(read.value));
    document_.summary = SignalSummary(signal->samples);
    document_.signal = std::move(signal);
    document_.values = paddedValues(document_.summary.whole());
    document_.selection.reset();
    document_.report.reset();
    document_.highlighted = -1;
    document_.correctedSummary = SignalSummary();
    document_.corrected.reset();
    // Shapes cut from the previous recording no longer have a place in this one.
    for (ListedShape& listed : document_.shapes) listed.cutFrom.reset();
    ++generation_;
    setWindowTitle(recordingTitle() + QStringLiteral(" - ") + path);
    // Until the user typed distances, they are shown in seconds when the recording has a rate
    // of its own (a text file without one counts samples at 1 per second).
    if (tmin_->text().isEmpty() && tmax_->text().isEmpty()) {
        const QSignalBlocker blocker(unit_);
        unit_->setCurrentIndex(document_.signal->rate != 1 ? 1 : 0);
    }
    suggestDistances();
    signalView_->zoomToFit();
    showSelection();
    refreshShapes();
    refreshResults();
    refreshEnabled();
    return true;
}

bool RecordingWindow::loadShapes(const QString& path) {
    if (job_) return refuse(tr("A detection is running; cancel it first.")), false;
    IoResult<std::vector<ListedShape>> loaded = ::loadShapes(path.toStdString());
    if (!loaded) return refuse(QString::fromStdString(loaded.error)), false;
    document_.shapes = std::move(loaded.value);
    suggestDistances();
    refreshShapes();
    refreshEnabled();
    return true;
}

bool RecordingWindow::saveShapes(const QString& path) {
    if (document_.shapes.empty()) return refuse(tr("There are no pulse shapes to save.")), false;
    // The shapes exactly as Detect uses them: with the baseline window on, those cut from the
    // signal are saved as cut after the baseline removal, so that loading them gives the same
    // result.
    std::optional<double> baseline;
    if (baseline_->isChecked() && document_.signal) {
        double seconds = 0;
        if (!parseNumber(baselineSeconds_->text().toStdString(), seconds) || !std::isfinite(seconds) || seconds <= 0)
            return refuse(tr("The baseline window must be a positive number of seconds: the shapes are saved as "
                             "Detect uses them, after the baseline removal.")),
                   false;
        baseline = seconds;
    }
    std::vector<Shape> shapes;
    if (document_.signal) {
        IoResult<std::vector<Shape>> used = shapesAsDetected(*document_.signal, document_.shapes, baseline);
        if (!used) return refuse(QString::fromStdString(used.error)), false;
        shapes = std::move(used.value);
    } else {
        for (const ListedShape& listed : document_.shapes) shapes.push_back(listed.shape);
    }
    if (IoStatus written = writeShapesJson(path.toStdString(), shapes); !written)
        return refuse(QString::fromStdString(written.error)), false;
    return true;
}

bool RecordingWindow::exportResults(const QString& path) {
    if (!document_.report) return refuse(tr("There are no results to export: run Detect first.")), false;
    if (IoStatus written = writeDetectReport(path.toStdString(), *document_.report); !written)
        return refuse(QString::fromStdString(written.error)), false;
    return true;
}

bool RecordingWindow::exportPicture(const QString& path) {
    if (!document_.signal) return refuse(tr("Open a recording first.")), false;
    std::vector<PlotPulse> pulses;
    std::vector<Shape> shapes;
    if (document_.report) {
        shapes = document_.report->shapes;
        for (const DetectedPulse& pulse : document_.report->pulses)
            pulses.push_back(PlotPulse{pulse.position, pulse.shape, pulse.cutStart, pulse.cutEnd});
    }
    RecordingPlotOptions options;
    const SampleSpan visible = visibleSamples(signalView_->view());
    if (visible.last > visible.first) options.range = SampleRange{visible.first, visible.last};
    // The picture draws what the view draws: the same trace, the pulses on it.
    std::vector<float> lift;
    if (const PulseLift raised = document_.pulseLift(); !raised.raw.empty()) {
        lift.resize(raised.raw.size());
        for (size_t i = 0; i < lift.size(); ++i) lift[i] = raised.raw[i] - raised.corrected[i];
        options.pulseLift = lift;
    }
    if (IoStatus written = writeRecordingPlot(path.toStdString(), document_.shownSamples(), document_.signal->rate,
                                              shapes, pulses, options);
        !written)
        return refuse(QString::fromStdString(written.error)), false;
    return true;
}

bool RecordingWindow::useSelectionAsShape(const QString& name) {
    if (job_) return refuse(tr("A detection is running; cancel it first.")), false;
    if (!document_.signal) return refuse(tr("Open a recording first.")), false;
    if (!document_.selection) return refuse(tr("Select a stretch of the signal first: drag over it.")), false;
    IoResult<ListedShape> cut = cutShape(*document_.signal, document_.selection->first, document_.selection->last,
                                         name.toStdString(), document_.shapes);
    if (!cut) return refuse(QString::fromStdString(cut.error)), false;
    document_.shapes.push_back(std::move(cut.value));
    suggestDistances();
    refreshShapes();
    shapeList_->setCurrentRow(static_cast<int>(document_.shapes.size()) - 1);
    refreshEnabled();
    return true;
}

void RecordingWindow::askUseAsShape() {
    if (!document_.signal || !document_.selection) {
        useSelectionAsShape(QString());  // names what is missing
        return;
    }
    // Check the stretch before asking for a name, so that a bad stretch is named at once.
    const std::string suggested = nextShapeName(document_.shapes);
    IoResult<ListedShape> trial = cutShape(*document_.signal, document_.selection->first, document_.selection->last,
                                           suggested, document_.shapes);
    if (!trial) return refuse(QString::fromStdString(trial.error));
    const std::optional<QString> name = askRecordingText(this, tr("Use as pulse shape"), tr("Name of the new shape:"),
                                                QString::fromStdString(suggested), shapeNameCheck(-1));
    if (name) useSelectionAsShape(name->trimmed());
}

std::function<std::optional<QString>(const QString&)> RecordingWindow::shapeNameCheck(int except) const {
    return [this, except](const QString& name) -> std::optional<QString> {
        if (IoStatus named = checkShapeName(name.toStdString(), document_.shapes, except); !named)
            return QString::fromStdString(named.error);
        return std::nullopt;
    };
}

void RecordingWindow::askRename() {
    const int row = shapeList_->currentRow();
    if (row < 0 || row >= static_cast<int>(document_.shapes.size())) return;
    const std::optional<QString> answer = askRecordingText(this, tr("Rename pulse shape"), tr("New name:"),
                                                  QString::fromStdString(document_.shapes[row].shape.name),
                                                  shapeNameCheck(row));
    if (!answer) return;
    const QString name = answer->trimmed();
    if (IoStatus named = checkShapeName(name.toStdString(), document_.shapes, row); !named)
        return refuse(QString::fromStdString(named.error));
    document_.shapes[row].shape.name = name.toStdString();
    refreshShapes();
    shapeList_->setCurrentRow(row);
}

void RecordingWindow::removeShape() {
    const int row = shapeList_->currentRow();
    if (job_ || row < 0 || row >= static_cast<int>(document_.shapes.size())) return;
    document_.shapes.erase(document_.shapes.begin() + row);
    refreshShapes();
    refreshEnabled();
}

void RecordingWindow::askOpenRecording() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open recording"), QString(),
        tr("Recordings (*.csv *.tsv *.txt *.dat *.wav *.flac *.ogg *.oga *.aif *.aiff *.au);;All files (*)"));
    if (path.isEmpty()) return;
    SignalReadOptions options;
    if (signalFormatOf(path.toStdString()) == SignalFormat::text) {
        const std::optional<QString> answer =
            askRecordingText(this, tr("Open recording"), tr("Samples per second of %1:").arg(path), QStringLiteral("1"));
        if (!answer) return;
        const QString rate = *answer;
        double value = 0;
        if (!parseNumber(rate.toStdString(), value) || !std::isfinite(value) || value <= 0)
            return refuse(tr("The sample rate must be a positive number, not \"%1\".").arg(rate));
        options.rate = value;
    }
    openRecording(path, options);
}

void RecordingWindow::askLoadShapes() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Load pulse shapes"), QString(),
                                                      tr("Pulse shapes (*.json *.csv *.tsv *.txt);;All files (*)"));
    if (!path.isEmpty()) loadShapes(path);
}

void RecordingWindow::askSaveShapes() {
    const QString path = QFileDialog::getSaveFileName(this, tr("Save pulse shapes"), QStringLiteral("shapes.json"),
                                                      tr("Pulse shapes (*.json)"));
    if (!path.isEmpty()) saveShapes(path);
}

void RecordingWindow::askExportResults() {
    if (!document_.report) return refuse(tr("There are no results to export: run Detect first."));
    const QString path = QFileDialog::getSaveFileName(this, tr("Export results"), QStringLiteral("pulses.json"),
                                                      tr("JSON (*.json);;CSV (*.csv)"));
    if (!path.isEmpty()) exportResults(path);
}

void RecordingWindow::askExportPicture() {
    const QString path = QFileDialog::getSaveFileName(this, tr("Export picture"), QStringLiteral("recording.png"),
                                                      tr("PNG picture (*.png);;SVG picture (*.svg)"));
    if (!path.isEmpty()) exportPicture(path);
}

bool RecordingWindow::startDetection() {
    if (job_) return false;
    if (!detector_) return refuse(notAvailable), false;
    if (!document_.signal) return refuse(tr("Open a recording first.")), false;
    DetectFields fields;
    // The task box lists detect, joint, recognise in this order.
    constexpr DetectTask tasks[] = {DetectTask::detect, DetectTask::joint, DetectTask::recognize};
    fields.task = tasks[std::clamp(task_->currentIndex(), 0, 2)];
    fields.tmin = tmin_->text().toStdString();
    fields.tmax = tmax_->text().toStdString();
    fields.inSeconds = unit_->currentIndex() == 1;
    fields.knownCount = knownCount_->isChecked();
    fields.count = count_->text().toStdString();
    fields.savedEnergy = savedEnergy_->text().toStdString();
    fields.baseline = baseline_->isChecked();
    fields.baselineSeconds = baselineSeconds_->text().toStdString();
    IoResult<DetectSettings> settings = checkDetectFields(fields, *document_.signal, document_.shapes);
    if (!settings) return refuse(QString::fromStdString(settings.error)), false;

    job_ = std::make_unique<DetectJob>();
    job_->signal = document_.signal;
    job_->shapes = document_.shapes;
    job_->settings = std::move(settings.value);
    job_->detector = detector_;
    job_->generation = generation_;
    DetectJob* job = job_.get();
    job_->thread = std::thread([job] { job->run(); });
    progress_->setValue(0);
    summaryLabel_->setText(tr("Detecting..."));
    poll_->start();
    refreshEnabled();
    return true;
}

void RecordingWindow::cancelDetection() {
    if (job_) job_->cancel.store(true);
}

void RecordingWindow::pollDetection() {
    if (!job_) return poll_->stop();
    progress_->setValue(static_cast<int>(std::lround(std::clamp(job_->progress.load(), 0.0, 1.0) * 1000)));
    if (job_->finished.load()) finishDetection();
}

void RecordingWindow::finishDetection() {
    poll_->stop();
    job_->thread.join();
    std::unique_ptr<DetectJob> job = std::move(job_);
    refreshEnabled();
    progress_->setValue(0);
    if (job->generation != generation_) return refreshResults();
    if (!job->error.empty() || !job->result.error.empty()) {
        refreshResults();
        return refuse(QString::fromStdString(job->error.empty() ? job->result.error : job->error));
    }
    if (!job->result.completed) {
        refreshResults();
        if (document_.report)
            summaryLabel_->setText(summaryLabel_->text() + QStringLiteral("  ") +
                                   tr("(detection cancelled; the results shown are the previous ones)"));
        else
            summaryLabel_->setText(tr("Detection cancelled; no results yet."));
        return;
    }
    // The table, the drawing and the export rely on pulses that fit their shapes and the signal,
    // in order of position: anything else is refused whole.
    const int64_t length = static_cast<int64_t>(job->shapes.front().shape.samples.size());
    const int64_t total = static_cast<int64_t>(job->signal->samples.size());
    int64_t previous = std::numeric_limits<int64_t>::min();
    for (const DetectedPulse& pulse : job->result.pulses) {
        const bool fits = pulse.shape >= 0 && pulse.shape < static_cast<int32_t>(job->shapes.size()) &&
                          pulse.cutStart >= 0 && pulse.cutEnd >= pulse.cutStart && pulse.cutEnd < length &&
                          pulse.position + pulse.cutStart >= 0 && pulse.position + pulse.cutEnd < total &&
                          pulse.position > previous;
        previous = pulse.position;
        if (!fits) {
            refreshResults();
            return refuse(tr("The detection returned a pulse at sample %1 that does not fit its shape, the signal "
                             "or the order of positions; no results were kept.")
                              .arg(pulse.position));
        }
    }
    DetectReport report;
    report.samples = static_cast<int64_t>(job->signal->samples.size());
    report.rate = job->signal->rate;
    report.scale = job->scale;
    // The shapes as they were matched (cut again after a baseline removal): drawn on the trace
    // the detection saw, they lie on it.
    report.shapes = std::move(job->sought);
    report.task = job->settings.task;
    report.distance = job->result.distance;
    report.pulses = std::move(job->result.pulses);
    report.seconds = job->seconds;
    document_.report = std::move(report);
    document_.highlighted = -1;
    document_.correctedSummary = std::move(job->correctedSummary);
    document_.corrected = std::move(job->corrected);
    refreshTrace();
    refreshResults();
    // Refreshed again now that the document holds the results: "Export results..." needs them.
    refreshEnabled();
    signalView_->update();
}

void RecordingWindow::selectPulse(int row) {
    if (!document_.report || row < 0 || row >= static_cast<int>(document_.report->pulses.size())) return;
    const DetectedPulse& pulse = document_.report->pulses[row];
    document_.highlighted = row;
    signalView_->centreOn(static_cast<double>(pulse.position) + (pulse.cutStart + pulse.cutEnd + 1) / 2.0);
}

void RecordingWindow::refreshShapes() {
    const QSignalBlocker blocker(shapeList_);
    const int current = shapeList_->currentRow();
    shapeList_->clear();
    for (size_t i = 0; i < document_.shapes.size(); ++i) {
        const ListedShape& listed = document_.shapes[i];
        QPixmap picture(shapeList_->iconSize());
        {
            QPainter painter(&picture);
            paintShapeThumbnail(painter, picture.rect(), listed.shape, shapeColour(static_cast<int>(i)));
        }
        auto* item = new QListWidgetItem(QIcon(picture),
                                         QStringLiteral("%1  (%2 samples)")
                                             .arg(QString::fromStdString(listed.shape.name))
                                             .arg(listed.shape.samples.size()),
                                         shapeList_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(listed.candidate ? Qt::Checked : Qt::Unchecked);
    }
    shapeList_->setCurrentRow(std::min(current, shapeList_->count() - 1));
}

void RecordingWindow::refreshResults() {
    const QSignalBlocker blocker(results_);
    results_->setRowCount(0);
    if (!document_.report) {
        summaryLabel_->setText(document_.signal ? tr("No results yet.") : QString());
        return;
    }
    const DetectReport& report = *document_.report;
    results_->setRowCount(static_cast<int>(report.pulses.size()));
    for (int row = 0; row < static_cast<int>(report.pulses.size()); ++row) {
        const DetectedPulse& pulse = report.pulses[row];
        const QStringList cells = {
            QString::number(row + 1),
            QString::fromStdString(secondsText(pulse.position, report.rate)),
            QString::number(pulse.position),
            QString::fromStdString(report.shapes[pulse.shape].name),
            QStringLiteral("%1..%2").arg(pulse.cutStart).arg(pulse.cutEnd),
            QString::number(pulse.measure)};
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column == 3) item->setForeground(shapeColour(pulse.shape));
            results_->setItem(row, column, item);
        }
    }
    QString summary = tr("%n pulse(s) found, distance %1, time taken %2 s", nullptr, static_cast<int>(report.pulses.size()))
                          .arg(report.distance)
                          .arg(report.seconds, 0, 'f', 3);
    if (const std::optional<std::string> warning = detectReportWarning(report))
        summary += QStringLiteral("\n") + tr("Warning: ") + QString::fromStdString(*warning);
    summaryLabel_->setText(summary);
}

void RecordingWindow::suggestDistances() {
    if (!document_.signal || document_.shapes.empty() || !tmin_->text().isEmpty() || !tmax_->text().isEmpty()) return;
    const SuggestedDistances suggested =
        suggestedDistances(static_cast<int64_t>(document_.shapes.front().shape.samples.size()),
                           static_cast<int64_t>(document_.signal->samples.size()), document_.signal->rate,
                           unit_->currentIndex() == 1);
    tmin_->setText(QString::fromStdString(suggested.tmin));
    tmax_->setText(QString::fromStdString(suggested.tmax));
}

void RecordingWindow::refreshTrace() {
    document_.values = paddedValues(document_.shownSummary().whole());
    signalView_->update();
    overview_->update();
}

void RecordingWindow::refreshScrollBar() {
    const QSignalBlocker blocker(scrollBar_);
    const ScrollBarState bar = scrollBarOf(signalView_->view());
    scrollBar_->setRange(0, bar.maximum);
    scrollBar_->setPageStep(bar.page);
    scrollBar_->setSingleStep(std::max(1, bar.page / 10));
    scrollBar_->setValue(bar.value);
}

void RecordingWindow::refreshEnabled() {
    const bool idle = !job_;
    const bool haveSignal = document_.signal != nullptr;
    const bool haveShape = shapeList_->currentRow() >= 0;
    openAction_->setEnabled(idle);
    loadShapesAction_->setEnabled(idle);
    loadButton_->setEnabled(idle);
    useAsShapeButton_->setEnabled(idle && haveSignal);
    renameButton_->setEnabled(idle && haveShape);
    removeButton_->setEnabled(idle && haveShape);
    saveButton_->setEnabled(!document_.shapes.empty());
    exportResultsAction_->setEnabled(document_.report.has_value());
    exportPictureAction_->setEnabled(haveSignal);
    // Raw and detected traces differ only when the detection removed a baseline.
    showRawAction_->setEnabled(document_.corrected != nullptr);
    count_->setEnabled(knownCount_->isChecked());
    baselineSeconds_->setEnabled(baseline_->isChecked());
    detectButton_->setEnabled(idle && detector_ && haveSignal);
    detectButton_->setToolTip(detector_ ? tr("Run the detection with these settings on the checked shapes") : notAvailable);
    cancelButton_->setEnabled(!idle);
    shapeList_->setEnabled(idle);
}

void RecordingWindow::showSelection() {
    if (!document_.signal || !document_.selection) {
        selectionLabel_->setText(document_.signal ? tr("Drag over the signal to select a stretch.") : QString());
        return;
    }
    const SampleSpan& span = *document_.selection;
    const double rate = document_.signal->rate;
    QString text = tr("Selected: samples %1 to %2 (%3 samples, %4 s to %5 s)")
                       .arg(span.first)
                       .arg(span.last - 1)
                       .arg(span.last - span.first)
                       .arg(static_cast<double>(span.first) / rate, 0, 'g', 8)
                       .arg(static_cast<double>(span.last) / rate, 0, 'g', 8);
    if (!document_.shapes.empty())
        text += QStringLiteral(" ") + tr("- the length of the listed shapes");
    selectionLabel_->setText(text);
}

RecordingWindow* addRecordingView(QMainWindow& workbench, std::shared_ptr<RecordingDetector> detector) {
    auto* window = new RecordingWindow(&workbench);
    window->setWindowFlag(Qt::Window, true);
    // Closing the workbench ends the program, whether or not the recording view is open.
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setDetector(std::move(detector));
    QMenu* menu = workbench.menuBar()->addMenu(QObject::tr("&Recording"));
    auto showThen = [window](QAction* action) {
        return [window, action] {
            window->show();
            window->activateWindow();
            if (action) action->trigger();
        };
    };
    QAction* show = menu->addAction(QObject::tr("Show recording &view"));
    QObject::connect(show, &QAction::triggered, window, showThen(nullptr));
    menu->addSeparator();
    for (QAction* action : {window->openRecordingAction(), window->loadShapesAction(), window->exportResultsAction(),
                            window->exportPictureAction()}) {
        QAction* entry = menu->addAction(action->text());
        QObject::connect(entry, &QAction::triggered, window, showThen(action));
        // The entry is available exactly when the view's own action is.
        entry->setEnabled(action->isEnabled());
        QObject::connect(action, &QAction::changed, entry, [entry, action] { entry->setEnabled(action->isEnabled()); });
    }
    return window;
}
