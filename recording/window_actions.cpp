// The recording view's file actions (open a recording, load and save shapes, export results and
// the picture) and its edits of the shape list, with the questions they ask first.

#include "recording/recording_window.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>

#include "plot/recording_plot.h"
#include "recording/view_dialogs.h"

namespace {
SignalReadOptions withAllChannels(const QString& path, SignalReadOptions options) {
    if (options.column || options.channel || options.columns || options.channels) return options;
    // Without a choice every channel is read: a recording of several is shown and searched whole,
    // and one of a single channel reads as it always did.
    switch (signalFormatOf(path.toStdString())) {
    case SignalFormat::audio: options.channels = "all"; break;
    case SignalFormat::text: options.columns = "all"; break;
    case SignalFormat::unsupported: break;  // refused by the reader, naming the formats
    }
    return options;
}
}  // namespace

bool RecordingWindow::openRecording(const QString& path, const SignalReadOptions& options) {
    if (job_) return refuse(tr("A detection is running; cancel it first.")), false;
    IoResult<Signal> read = readSignal(path.toStdString(), withAllChannels(path, options));
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
    document_.summaries.clear();
    for (int c = 0; c < signal->channels; ++c) document_.summaries.emplace_back(signal->channel(c));
    document_.signal = std::move(signal);
    document_.selection.reset();
    document_.report.reset();
    document_.highlighted = -1;
    document_.correctedSummaries.clear();
    document_.corrected.reset();
    document_.refreshValues();
    document_.posteriorSummary = SignalSummary();
    document_.posterior.reset();
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
    // Every lane keeps room enough to be read, as far as the screen allows.
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    signalView_->setMinimumHeight(signalViewMinimumHeight(document_.channels(), shown->availableGeometry().height()));
    refreshChannelWeights();
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
            pulses.push_back(
                PlotPulse{pulse.position, pulse.shape, pulse.cutStart, pulse.cutEnd, pulse.gain, pulse.confidence});
    }
    RecordingPlotOptions options;
    const SampleSpan visible = visibleSamples(signalView_->view());
    if (visible.last > visible.first) options.range = SampleRange{visible.first, visible.last};
    // The picture draws what the view draws: the same trace, the pulses on it.
    std::vector<float> lift;
    if (!document_.pulseLift(0).raw.empty()) {
        const std::span<const float> raw = document_.signal->samples, corrected = *document_.corrected;
        lift.resize(raw.size());
        for (size_t i = 0; i < lift.size(); ++i) lift[i] = raw[i] - corrected[i];
        options.pulseLift = lift;
    }
    options.channels = document_.channels();
    if (options.channels > 1) options.channelNames = document_.signal->channelNames;
    std::vector<double> posterior;
    if (document_.posterior) {
        posterior.assign(document_.posterior->begin(), document_.posterior->end());
        options.posterior = posterior;
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
    // The channels to show and search: every one unless the user names some (the batch tool's
    // --columns and --channels take the same text).
    if (const SignalFormat format = signalFormatOf(path.toStdString()); format != SignalFormat::unsupported) {
        const bool text = format == SignalFormat::text;
        const std::optional<QString> answer = askRecordingText(
            this, tr("Open recording"),
            text ? tr("Columns of %1 to read, each a channel: all, or numbers and header names with commas (1,3,ecg):")
                       .arg(path)
                 : tr("Channels of %1 to read: all, or numbers from 1 with commas (1,2):").arg(path),
            QStringLiteral("all"));
        if (!answer) return;
        const std::string chosen = answer->trimmed().toStdString();
        (text ? options.columns : options.channels) = chosen.empty() ? std::string("all") : chosen;
    }
    openRecording(path, options);
}

void RecordingWindow::askLoadShapes() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Load pulse shapes"), QString(),
                                                      tr("Pulse shapes (*.json *.csv *.tsv *.txt);;All files (*)"));
    if (!path.isEmpty()) loadShapes(path);
}

bool RecordingWindow::askSaveShapes() {
    const QString path = QFileDialog::getSaveFileName(this, tr("Save pulse shapes"), QStringLiteral("shapes.json"),
                                                      tr("Pulse shapes (*.json)"));
    return !path.isEmpty() && saveShapes(path);
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
