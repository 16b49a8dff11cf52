#include "recording/window_detection.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
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

#include "core/learn.h"
#include "recording/view_dialogs.h"

QString detectionNotAvailable() {
    return QStringLiteral("Detection is not available in this build.");
}

namespace {
// The refusal of rounds of learning that are not a whole number from 1 to kMostLearnRounds.
QString learnRoundsRefusal(const QString& typed) {
    return QObject::tr("The rounds of learning must be a whole number from 1 to %1, not \"%2\".")
        .arg(kMostLearnRounds)
        .arg(typed);
}
}  // namespace

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
            for (int c = 0; c < signal->channels; ++c)
                correctedSummaries.emplace_back(std::span<const float>(*trace).subspan(
                    static_cast<size_t>(c) * static_cast<size_t>(signal->length()), static_cast<size_t>(signal->length())));
            corrected = std::move(trace);
        }
        // Nothing may leave the thread: a failure of the detection becomes its message.
        try {
            auto onProgress = [this](double done) { progress.store(done); };
            if (settings.learnRounds > 0 || settings.confidence)
                result = detector->runPrepared(prepared, settings.learnRounds, onProgress,
                                               [this](int32_t round, int64_t distance) {
                                                   roundDistance.store(distance);
                                                   roundsDone.store(round);
                                               },
                                               cancel);
            else
                result = detector->run(prepared.request, onProgress, cancel);
        } catch (const std::bad_alloc&) {
            error = "There is not enough memory for this detection.";
        } catch (const std::exception& failure) {
            error = std::string("The detection failed: ") + failure.what();
        }
        if (cancel.load()) result.completed = false;
        if (!prepared.posterior.empty()) {
            auto lane = std::make_shared<const std::vector<float>>(prepared.posterior.begin(), prepared.posterior.end());
            posteriorSummary = SignalSummary(*lane);
            posterior = std::move(lane);
        }
        report = detectReportOf(*signal, prepared, result,
                                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    finished.store(true);
}

bool RecordingWindow::startDetection() {
    return startJob(0);
}

bool RecordingWindow::startLearning(int32_t rounds) {
    if (rounds < 1 || rounds > kMostLearnRounds)
        return refuse(learnRoundsRefusal(QString::number(rounds))), false;
    return startJob(rounds);
}

void RecordingWindow::askLearnShapes() {
    // The panel is checked first, so that a bad field is named before the rounds are asked for.
    if (job_ || !panelSettings()) return;
    const auto check = [](const QString& text) -> std::optional<QString> {
        if (learnRoundsOf(text.toStdString())) return std::nullopt;
        return learnRoundsRefusal(text);
    };
    const std::optional<QString> answer =
        askRecordingText(this, tr("Learn shapes"),
                         tr("Rounds of learning (1 to %1; it stops early when the distance no longer falls):")
                             .arg(kMostLearnRounds),
                         QStringLiteral("10"), check);
    if (!answer) return;
    if (const std::optional<int32_t> rounds = learnRoundsOf(answer->toStdString())) startLearning(*rounds);
}

std::optional<DetectSettings> RecordingWindow::panelSettings() {
    if (!detector_) return refuse(detectionNotAvailable()), std::nullopt;
    if (!document_.signal) return refuse(tr("Open a recording first.")), std::nullopt;
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
    fields.channelWeights = channelWeights_->text().trimmed().toStdString();
    IoResult<DetectSettings> settings = checkDetectFields(fields, *document_.signal, document_.shapes);
    if (!settings) return refuse(QString::fromStdString(settings.error)), std::nullopt;
    // The confidence comes with each position's probability, drawn under the signal.
    settings.value.confidence = settings.value.posterior = confidence_->isChecked();
    return std::move(settings.value);
}

bool RecordingWindow::startJob(int32_t learnRounds) {
    if (job_) return false;
    std::optional<DetectSettings> settings = panelSettings();
    if (!settings) return false;
    settings->learnRounds = learnRounds;

    job_ = std::make_unique<DetectJob>();
    job_->signal = document_.signal;
    job_->shapes = document_.shapes;
    job_->settings = std::move(*settings);
    job_->detector = detector_;
    job_->generation = generation_;
    DetectJob* job = job_.get();
    job_->thread = std::thread([job] { job->run(); });
    progress_->setValue(0);
    summaryLabel_->setText(learnRounds > 0 ? tr("Learning the shapes...") : tr("Detecting..."));
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
    if (const int32_t round = job_->roundsDone.load(); round >= 0)
        summaryLabel_->setText(tr("Learning the shapes: %1 of %2 rounds done, distance %3")
                                   .arg(round)
                                   .arg(job_->settings.learnRounds)
                                   .arg(job_->roundDistance.load()));
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
    const bool learning = job->settings.learnRounds > 0;
    if (!job->result.completed) {
        refreshResults();
        if (document_.report)
            summaryLabel_->setText(summaryLabel_->text() + QStringLiteral("  ") +
                                   (learning ? tr("(learning cancelled; the shapes and results shown are the previous ones)")
                                             : tr("(detection cancelled; the results shown are the previous ones)")));
        else
            summaryLabel_->setText(learning ? tr("Learning cancelled; the shapes are the previous ones, no results yet.")
                                            : tr("Detection cancelled; no results yet."));
        return;
    }
    // The table, the drawing and the export rely on pulses that fit their own shapes (each of
    // its own length) and the signal, with a finite gain, in order of position: anything else is
    // refused whole.
    const int64_t total = job->signal->length();
    int64_t previous = std::numeric_limits<int64_t>::min();
    for (const DetectedPulse& pulse : job->report.pulses) {
        const bool known = pulse.shape >= 0 && pulse.shape < static_cast<int32_t>(job->shapes.size());
        const int64_t length = known ? job->shapes[pulse.shape].shape.length() : 0;
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
    if (learning && !takeLearnedShapes(*job)) {
        refreshResults();
        summaryLabel_->setText(summaryLabel_->text() + QStringLiteral("  ") +
                               tr("(learned shapes not taken; the shapes and results shown are the previous ones)"));
        return;
    }
    document_.report = std::move(job->report);
    document_.highlighted = -1;
    document_.correctedSummaries = std::move(job->correctedSummaries);
    document_.corrected = std::move(job->corrected);
    document_.posteriorSummary = std::move(job->posteriorSummary);
    document_.posterior = std::move(job->posterior);
    refreshTrace();
    refreshResults();
    // Refreshed again now that the document holds the results: "Export results..." needs them.
    refreshEnabled();
    signalView_->update();
}

bool RecordingWindow::takeLearnedShapes(const DetectJob& job) {
    const DetectReport& report = job.report;
    // The list is locked while a job runs; a list of another size is no longer the one learned.
    if (document_.shapes.size() != report.shapes.size()) return false;
    // Round 0 kept: no round did better than the given shapes, which stay.
    if (report.learnedRound == 0) return true;
    const QString question =
        QString::fromStdString(learnedRoundsText(report.learnDistances, report.learnedRound)) + QStringLiteral(".\n\n") +
        tr("Save the listed pulse shapes before the learned ones replace them? Loading the saved file brings them "
           "back. Cancel keeps the listed shapes and the previous results.");
    for (;;) {
        const QDialogButtonBox::StandardButton answer =
            askRecordingQuestion(this, question, tr("&Save..."), tr("Do&n't save"));
        if (answer == QDialogButtonBox::Cancel) return false;
        // A save cancelled or refused asks again.
        if (answer == QDialogButtonBox::No || askSaveShapes()) break;
    }
    // The checked shapes were learned (the others stay as they are); no longer cut from the
    // signal, they are not cut again after a baseline removal.
    for (const int32_t index : job.settings.candidates) {
        ListedShape& listed = document_.shapes[static_cast<size_t>(index)];
        listed.shape = report.shapes[static_cast<size_t>(index)];
        listed.cutFrom.reset();
    }
    refreshShapes();
    return true;
}
