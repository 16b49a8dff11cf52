#include "recording/window_detection.h"

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
#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

QString detectionNotAvailable() {
    return QStringLiteral("Detection is not available in this build.");
}

void RecordingWindow::DetectJob::run() {
    const auto start = std::chrono::steady_clock::now();
    PreparedDetection prepared;
    if (IoStatus ready = prepareDetection(*signal, shapes, settings, prepared); !ready) {
        error = ready.error;
    } else if (cancel.load()) {
        result.completed = false;
    } else {
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
        report = detectReportOf(*signal, prepared, result,
                                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    finished.store(true);
}

bool RecordingWindow::startDetection() {
    if (job_) return false;
    if (!detector_) return refuse(detectionNotAvailable()), false;
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
    fields.gain = gain_->text().trimmed().toStdString();
    // The box's item "Auto" (or the word typed in any case) asks for the cost from the noise level.
    const QString cost = pulseCost_->currentText().trimmed();
    fields.pulseCost = cost.compare(QStringLiteral("auto"), Qt::CaseInsensitive) == 0 ||
                               cost.compare(pulseCost_->itemText(1), Qt::CaseInsensitive) == 0
                           ? std::string("auto")
                           : cost.toStdString();
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
    // The table, the drawing and the export rely on pulses that fit their own shapes (each of
    // its own length) and the signal, with a finite gain, in order of position: anything else is
    // refused whole.
    const int64_t total = static_cast<int64_t>(job->signal->samples.size());
    int64_t previous = std::numeric_limits<int64_t>::min();
    for (const DetectedPulse& pulse : job->report.pulses) {
        const bool known = pulse.shape >= 0 && pulse.shape < static_cast<int32_t>(job->shapes.size());
        const int64_t length = known ? static_cast<int64_t>(job->shapes[pulse.shape].shape.samples.size()) : 0;
        const bool fits = known && pulse.cutStart >= 0 && pulse.cutEnd >= pulse.cutStart && pulse.cutEnd < length &&
                          pulse.position + pulse.cutStart >= 0 && pulse.position + pulse.cutEnd < total &&
                          std::isfinite(pulse.gain) && pulse.position > previous;
        previous = pulse.position;
        if (!fits) {
            refreshResults();
            return refuse(tr("The detection returned a pulse at sample %1 that does not fit its shape, the signal "
                             "or the order of positions, or whose gain is not finite; no results were kept.")
                              .arg(pulse.position));
        }
    }
    document_.report = std::move(job->report);
    document_.highlighted = -1;
    document_.correctedSummary = std::move(job->correctedSummary);
    document_.corrected = std::move(job->corrected);
    refreshTrace();
    refreshResults();
    // Refreshed again now that the document holds the results: "Export results..." needs them.
    refreshEnabled();
    signalView_->update();
}
