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
#include "recording/window_detection.h"

namespace {
constexpr WindowSize preferredWindow{1200, 760};
constexpr WindowSize minimumWindow{720, 480};
// What a window system typically adds around the client area: borders and the title bar.
constexpr WindowSize windowFrame{16, 40};

// The columns of the results table, in order.
enum ResultColumn {
    columnNumber,
    columnSeconds,
    columnSample,
    columnShape,
    columnCut,
    columnMeasure,
    columnGain,
    columnConfidence,
    columnKindConfidence,
    columnCount
};

// The length of the longest listed shape (0 when none is listed).
int64_t longestLength(const std::vector<ListedShape>& shapes) {
    int64_t longest = 0;
    for (const ListedShape& listed : shapes) longest = std::max(longest, listed.shape.length());
    return longest;
}

}  // namespace

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
    refreshChannelWeights();
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
    buildSignalArea(splitter);
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
    rightLayout->addWidget(buildShapesBox(right), 1);
    rightLayout->addWidget(buildDetectBox(right));
    // Never narrower than the panel, with room for its scroll bar.
    sidePanel->setMinimumWidth(right->minimumSizeHint().width() + sidePanel->verticalScrollBar()->sizeHint().width());
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    connectWidgets();
}

// The trace with its overview and scroll bar, the selection, the summary and the results table.
QWidget* RecordingWindow::buildSignalArea(QWidget* parent) {
    auto* left = new QWidget(parent);
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
    results_ = new QTableWidget(0, columnCount, left);
    results_->setObjectName(QStringLiteral("resultsTable"));
    results_->setHorizontalHeaderLabels({tr("No."), tr("Start (s)"), tr("Start (samples)"), tr("Shape"), tr("Cut"),
                                         tr("Measure"), tr("Gain"), tr("Confidence"), tr("Kind conf.")});
    results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    results_->verticalHeader()->hide();
    results_->horizontalHeader()->setStretchLastSection(true);
    // Every heading shown whole; once filled, the columns take their contents' widths (see
    // refreshResults), so that all of them fit beside the trace on a small screen.
    results_->resizeColumnsToContents();
    leftLayout->addWidget(overview_);
    leftLayout->addWidget(signalView_, 3);
    leftLayout->addWidget(scrollBar_);
    leftLayout->addWidget(selectionLabel_);
    leftLayout->addWidget(summaryLabel_);
    leftLayout->addWidget(results_, 1);
    return left;
}

// The list of pulse shapes and its buttons.
QWidget* RecordingWindow::buildShapesBox(QWidget* parent) {
    auto* shapesBox = new QGroupBox(tr("Pulse shapes (checked: candidates)"), parent);
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
    return shapesBox;
}

// The detection's settings, the Detect and Cancel buttons and the progress.
QWidget* RecordingWindow::buildDetectBox(QWidget* parent) {
    auto* detectBox = new QGroupBox(tr("Detection"), parent);
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
    gain_ = new QLineEdit(QStringLiteral("1:1"), detectBox);
    gain_->setToolTip(tr("The factor each found pulse may take its shape with, as MIN:MAX: e.g. 0.5:2, or -1.5:1.5 "
                         "for pulses of either polarity. 1:1 takes the shapes as they are."));
    pulseCost_ = new QComboBox(detectBox);
    pulseCost_->setEditable(true);
    pulseCost_->setInsertPolicy(QComboBox::NoInsert);
    pulseCost_->addItems({QStringLiteral("0"), tr("Auto")});
    pulseCost_->setToolTip(tr("What each pulse adds to the distance, in the signal's units squared: a number of at "
                              "least 0, or Auto to derive it from the recording's noise level. A pulse is kept "
                              "when it explains more than its cost."));
    for (auto [edit, name] : {std::pair{tmin_, "tmin"}, {tmax_, "tmax"}, {count_, "count"}, {savedEnergy_, "savedEnergy"},
                              {baselineSeconds_, "baselineSeconds"}, {gain_, "gain"}})
        edit->setObjectName(QString::fromLatin1(name));
    pulseCost_->setObjectName(QStringLiteral("pulseCost"));
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
    form->addRow(tr("&Gain"), gain_);
    form->addRow(tr("&Pulse cost"), pulseCost_);
    channelWeights_ = new QLineEdit(detectBox);
    channelWeights_->setObjectName(QStringLiteral("channelWeights"));
    channelWeights_->setPlaceholderText(tr("equal"));
    channelWeights_->setToolTip(tr("What each channel's squared residual counts, one number per channel with commas "
                                   "(e.g. 1,0.5,2); only their ratios matter. Empty: every channel counts the same."));
    form->addRow(tr("Channel &weights"), channelWeights_);
    detectForm_ = form;
    confidence_ = new QCheckBox(tr("C&onfidence"), detectBox);
    confidence_->setObjectName(QStringLiteral("confidence"));
    confidence_->setToolTip(tr("Weigh every chain the detection chooses among: each found pulse's probability, and "
                               "that of its shape, and each position's probability of a pulse start (drawn under "
                               "the signal). Takes about as long again as the detection."));
    form->addRow(confidence_);
    detectButton_ = new QPushButton(tr("&Detect"), detectBox);
    detectButton_->setObjectName(QStringLiteral("detectButton"));
    learnButton_ = new QPushButton(tr("Learn s&hapes..."), detectBox);
    learnButton_->setObjectName(QStringLiteral("learnButton"));
    cancelButton_ = new QPushButton(tr("&Cancel"), detectBox);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(detectButton_);
    buttons->addWidget(learnButton_);
    buttons->addWidget(cancelButton_);
    form->addRow(buttons);
    progress_ = new QProgressBar(detectBox);
    progress_->setObjectName(QStringLiteral("detectProgress"));
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    form->addRow(progress_);
    return detectBox;
}

void RecordingWindow::connectWidgets() {
    signalView_->onViewChanged = [this] {
        refreshScrollBar();
        overview_->update();
    };
    // Shapes have lengths of their own: a selection is the stretch dragged over.
    signalView_->onSelected = [this](std::optional<SampleSpan> span) {
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
    connect(learnButton_, &QPushButton::clicked, this, [this] { askLearnShapes(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelDetection(); });
    connect(results_, &QTableWidget::cellClicked, this, [this](int row, int) { selectPulse(row); });
    connect(results_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) { selectPulse(row); });
}

void RecordingWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&Recording"));
    openAction_ = file->addAction(tr("&Open recording..."), this, [this] { askOpenRecording(); });
    loadShapesAction_ = file->addAction(tr("&Load pulse shapes..."), this, [this] { askLoadShapes(); });
    learnShapesAction_ = file->addAction(tr("Learn s&hapes..."), this, [this] { askLearnShapes(); });
    learnShapesAction_->setObjectName(QStringLiteral("learnShapesAction"));
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
    const int64_t longest = longestLength(document_.shapes);
    for (size_t i = 0; i < document_.shapes.size(); ++i) {
        const ListedShape& listed = document_.shapes[i];
        QPixmap picture(shapeList_->iconSize());
        {
            QPainter painter(&picture);
            paintShapeThumbnail(painter, picture.rect(), listed.shape, shapeColour(static_cast<int>(i)), longest);
        }
        const QString name = QString::fromStdString(listed.shape.name);
        const QString text = listed.shape.channels > 1 ? tr("%1  (%2 samples, %3 channels)")
                                                             .arg(name)
                                                             .arg(listed.shape.length())
                                                             .arg(listed.shape.channels)
                                                       : QStringLiteral("%1  (%2 samples)").arg(name).arg(listed.shape.length());
        auto* item = new QListWidgetItem(QIcon(picture), text, shapeList_);
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
            QString::number(pulse.measure),
            QString::number(pulse.gain, 'g', 4),
            // Empty when the detection did not weigh its chains.
            std::isnan(pulse.confidence) ? QString() : QString::number(pulse.confidence, 'f', 4),
            std::isnan(pulse.kindConfidence) ? QString() : QString::number(pulse.kindConfidence, 'f', 4)};
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column == columnShape) item->setForeground(shapeColour(pulse.shape));
            results_->setItem(row, column, item);
        }
    }
    // The header's resize precision bounds the rows measured: cheap however many pulses are found.
    results_->resizeColumnsToContents();
    QString summary = tr("%n pulse(s) found, distance %1, time taken %2 s", nullptr, static_cast<int>(report.pulses.size()))
                          .arg(report.distance)
                          .arg(report.seconds, 0, 'f', 3);
    // A gain range or a pulse cost: the cost used, and the noise level an automatic one came from.
    if (report.extended()) {
        summary += QStringLiteral(", ") + tr("gain %1:%2, pulse cost %3")
                                              .arg(report.gain.min, 0, 'g', 6)
                                              .arg(report.gain.max, 0, 'g', 6)
                                              .arg(report.pulseCost, 0, 'g', 6);
        if (report.pulseCostChoice.automatic)
            summary += QStringLiteral(" ") + tr("(automatic, from a noise level of %1)").arg(report.noiseSigma, 0, 'g', 4);
    }
    if (report.confidence)
        summary += QStringLiteral(", ") + tr("expected count %1 ± %2, noise level %3")
                                              .arg(report.expectedCount, 0, 'f', 2)
                                              .arg(report.countDeviation, 0, 'f', 2)
                                              .arg(report.noiseSigma, 0, 'g', 4);
    if (!report.learnDistances.empty())
        summary += QStringLiteral("\n") + QString::fromStdString(learnedRoundsText(report.learnDistances, report.learnedRound));
    if (const std::optional<std::string> warning = detectReportWarning(report))
        summary += QStringLiteral("\n") + tr("Warning: ") + QString::fromStdString(*warning);
    summaryLabel_->setText(summary);
}

void RecordingWindow::suggestDistances() {
    if (!document_.signal || document_.shapes.empty() || !tmin_->text().isEmpty() || !tmax_->text().isEmpty()) return;
    // From the longest shape: Tmax must hold every shape.
    const SuggestedDistances suggested =
        suggestedDistances(longestLength(document_.shapes), document_.signal->length(),
                           document_.signal->rate, unit_->currentIndex() == 1);
    tmin_->setText(QString::fromStdString(suggested.tmin));
    tmax_->setText(QString::fromStdString(suggested.tmax));
}

void RecordingWindow::refreshChannelWeights() {
    // Weights mean something only with several channels; with one the field is hidden and empty.
    const bool several = document_.channels() > 1;
    if (!several) channelWeights_->clear();
    channelWeights_->setEnabled(several);
    detectForm_->setRowVisible(channelWeights_, several);
}

void RecordingWindow::refreshTrace() {
    document_.refreshValues();
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
    detectButton_->setToolTip(detector_ ? tr("Run the detection with these settings on the checked shapes") : detectionNotAvailable());
    learnButton_->setEnabled(detectButton_->isEnabled());
    learnShapesAction_->setEnabled(detectButton_->isEnabled());
    learnButton_->setToolTip(detector_ ? tr("Learn the checked shapes from the recording: detect, replace each by the "
                                            "least-squares shape of the stretches its pulses took, detect again")
                                       : detectionNotAvailable());
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
