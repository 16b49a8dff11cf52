#pragma once

// The recording view's own small dialogs: a message, a question and a line of text. Each is a
// QDialog with an object name ("recordingMessage", "recordingQuestion", "recordingPrompt") and
// named parts, so that the window tests can read and answer it on the offscreen platform.

#include <QDialogButtonBox>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

/// The caption of the recording view's window and dialogs.
QString recordingTitle();

/// A message box: a warning sign, the message (the label "message"), OK.
void showRecordingMessage(QWidget* parent, const QString& text);

/// A question with the answers Yes, No and Cancel (buttons "yes", "no", "cancel"); closing the
/// box counts as Cancel. `yes` and `no`, when given, are the texts of the first two buttons
/// ("Save...", "Don't save").
QDialogButtonBox::StandardButton askRecordingQuestion(QWidget* parent, const QString& text, const QString& yes = {},
                                                      const QString& no = {});

/// Asks for a line of text (the edit "answer"); nothing when the user cancels. `check`, when
/// given, runs on OK: an answer it refuses is named in a message and the prompt stays open with
/// the text typed, to be corrected.
std::optional<QString> askRecordingText(QWidget* parent, const QString& title, const QString& prompt,
                                        const QString& initial,
                                        std::function<std::optional<QString>(const QString&)> check = {});
