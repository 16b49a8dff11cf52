#include "recording/view_dialogs.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

QString recordingTitle() {
    return QStringLiteral("PulseBench recording");
}

namespace {
// The dialogs of the view fix their size before their window exists and never let their layout
// change it afterwards: platforms that cannot take new size limits for a shown window (the
// offscreen one) then have nothing to warn about.
void fixSizeBeforeShowing(QDialog& dialog, QLayout* layout, int width) {
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    const QSize hint = dialog.sizeHint();
    dialog.resize(std::max(hint.width(), width), std::max(hint.height(), layout->totalHeightForWidth(width)));
}

// A prompt whose OK first checks the answer: a refused answer is named in a message and the
// prompt stays open with the text typed, to be corrected.
class PromptDialog : public QDialog {
public:
    using QDialog::QDialog;
    std::function<std::optional<QString>(const QString&)> check;  ///< the refusal, or nothing
    QLineEdit* edit = nullptr;

    void accept() override {
        if (check) {
            if (const std::optional<QString> refusal = check(edit->text().trimmed())) {
                showRecordingMessage(this, *refusal);
                edit->setFocus();
                return;
            }
        }
        QDialog::accept();
    }
};
// The row of a message box: the sign, then the message (the label named "message", returned).
QLabel* addSignAndMessage(QDialog& dialog, QVBoxLayout& layout, QStyle::StandardPixmap sign, const QString& text) {
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(&dialog);
    icon->setPixmap(dialog.style()->standardIcon(sign).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* label = new QLabel(text, &dialog);
    label->setObjectName(QStringLiteral("message"));
    label->setWordWrap(true);
    row->addWidget(icon);
    row->addWidget(label, 1);
    layout.addLayout(row);
    return label;
}
}  // namespace

// A message box: a warning sign, the message, OK.
void showRecordingMessage(QWidget* parent, const QString& text) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("recordingMessage"));
    dialog.setWindowTitle(recordingTitle());
    auto* layout = new QVBoxLayout(&dialog);
    addSignAndMessage(dialog, *layout, QStyle::SP_MessageBoxWarning, text)
        ->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    fixSizeBeforeShowing(dialog, layout, 420);
    dialog.exec();
}

// A question with the answers Yes, No and Cancel (the buttons are named "yes", "no", "cancel"
// whatever their texts).
QDialogButtonBox::StandardButton askRecordingQuestion(QWidget* parent, const QString& text, const QString& yes,
                                                      const QString& no) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("recordingQuestion"));
    dialog.setWindowTitle(recordingTitle());
    auto* layout = new QVBoxLayout(&dialog);
    addSignAndMessage(dialog, *layout, QStyle::SP_MessageBoxQuestion, text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel, &dialog);
    QDialogButtonBox::StandardButton answer = QDialogButtonBox::Cancel;
    for (auto [which, name] : {std::pair{QDialogButtonBox::Yes, "yes"}, {QDialogButtonBox::No, "no"},
                               {QDialogButtonBox::Cancel, "cancel"}}) {
        QPushButton* button = buttons->button(which);
        button->setObjectName(QString::fromLatin1(name));
        QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, &answer, which] {
            answer = which;
            dialog.done(which == QDialogButtonBox::Cancel ? QDialog::Rejected : QDialog::Accepted);
        });
    }
    if (!yes.isEmpty()) buttons->button(QDialogButtonBox::Yes)->setText(yes);
    if (!no.isEmpty()) buttons->button(QDialogButtonBox::No)->setText(no);
    buttons->button(QDialogButtonBox::Yes)->setDefault(true);
    layout->addWidget(buttons);
    fixSizeBeforeShowing(dialog, layout, 420);
    dialog.exec();
    return answer;
}

std::optional<QString> askRecordingText(QWidget* parent, const QString& title, const QString& prompt,
                                        const QString& initial, std::function<std::optional<QString>(const QString&)> check) {
    PromptDialog dialog(parent);
    dialog.check = std::move(check);
    dialog.setObjectName(QStringLiteral("recordingPrompt"));
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(prompt, &dialog));
    auto* edit = new QLineEdit(initial, &dialog);
    edit->setObjectName(QStringLiteral("answer"));
    edit->selectAll();
    dialog.edit = edit;
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    fixSizeBeforeShowing(dialog, layout, 320);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return edit->text();
}
