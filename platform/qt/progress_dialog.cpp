#include "platform/qt/progress_dialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString clockText(long long seconds) {
    seconds = std::max(seconds, 0LL);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString progressText(int done, int total, std::chrono::milliseconds elapsed) {
    total = std::max(total, 0);
    done = std::clamp(done, 0, total);
    const long long ms = std::max<long long>(elapsed.count(), 0);
    QString left = QStringLiteral("-");
    if (done > 0) {
        // The remaining cells at the average pace so far, rounded to the nearest second.
        const long double remaining = static_cast<long double>(ms) * (total - done) / done;
        left = clockText(static_cast<long long>((remaining + 500) / 1000));
    }
    return QStringLiteral("Cells done: %1 of %2\nElapsed: %3\nTime left: %4")
        .arg(done)
        .arg(total)
        .arg(clockText(ms / 1000))
        .arg(left);
}

ProgressDialog::ProgressDialog(const QString& title, std::atomic<bool>& cancel, QWidget* parent)
    : QDialog(parent),
      cancel_(cancel),
      start_(std::chrono::steady_clock::now()),
      label_(new QLabel),
      bar_(new QProgressBar),
      cancelButton_(new QPushButton(QStringLiteral("Cancel"))),
      clock_(new QTimer(this)) {
    setWindowTitle(title);
    setObjectName(QStringLiteral("progress"));
    setModal(true);
    label_->setObjectName(QStringLiteral("progressText"));
    label_->setTextFormat(Qt::PlainText);
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(cancelButton_, 0, Qt::AlignRight);
    connect(cancelButton_, &QPushButton::clicked, this, &ProgressDialog::reject);
    // The elapsed time goes on even while no cell completes.
    connect(clock_, &QTimer::timeout, this, &ProgressDialog::refresh);
    clock_->start(1000);
    bar_->setRange(0, 1);
    bar_->setValue(0);
    refresh();
}

void ProgressDialog::setProgress(int done, int total) {
    done_ = done;
    total_ = total;
    refresh();
}

void ProgressDialog::reject() {
    cancel_.store(true);
    cancelButton_->setEnabled(false);
    refresh();
}

void ProgressDialog::refresh() {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
    QString text = progressText(done_, total_, elapsed);
    if (cancel_.load()) text += QStringLiteral("\nCancelling...");
    label_->setText(text);
    const int total = std::max(total_, 1);
    bar_->setRange(0, total);
    bar_->setValue(std::clamp(done_, 0, total));
}
