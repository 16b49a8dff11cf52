#pragma once

#include <QDialog>

#include <atomic>
#include <chrono>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

/// The label of the progress dialog: cells done of the total, the time elapsed and an estimate
/// of the time left (from the pace so far), each on its own line, times as h:mm:ss.
QString progressText(int done, int total, std::chrono::milliseconds elapsed);

/// The modal progress dialog of long work. Cancel (or closing the dialog) sets the cancel flag
/// and leaves the dialog up until the work ends; the owner closes it then.
class ProgressDialog : public QDialog {
public:
    ProgressDialog(const QString& title, std::atomic<bool>& cancel, QWidget* parent = nullptr);

    /// Shows `done` cells of `total`.
    void setProgress(int done, int total);
    bool cancelRequested() const { return cancel_.load(); }

    void reject() override;

private:
    void refresh();

    std::atomic<bool>& cancel_;
    std::chrono::steady_clock::time_point start_;
    int done_ = 0;
    int total_ = 0;
    QLabel* label_;
    QProgressBar* bar_;
    QPushButton* cancelButton_;
    QTimer* clock_;
};
