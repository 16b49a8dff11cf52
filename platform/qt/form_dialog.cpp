#include "platform/qt/form_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <map>

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

FormDialog::FormDialog(const DialogForm& form, QWidget* parent) : QDialog(parent), validate_(form.validate) {
    using Kind = DialogControl::Kind;
    setWindowTitle(fromUtf8(form.caption));
    setObjectName(QStringLiteral("form%1").arg(form.resource));
    setModal(true);

    auto* outer = new QVBoxLayout(this);
    auto* top = new QFormLayout;
    outer->addLayout(top);

    // Group boxes first, so that a control may name a group box that stands after it.
    struct Box {
        QGroupBox* box;
        QFormLayout* layout;
    };
    std::map<int, Box> boxes;
    for (const DialogControl& c : form.controls) {
        if (c.kind != Kind::Group || c.id == -1 || boxes.count(c.id)) continue;
        auto* box = new QGroupBox(fromUtf8(c.label));
        boxes[c.id] = Box{box, new QFormLayout(box)};
    }

    std::map<int, QButtonGroup*> radioSets;
    bool hasOk = false, hasCancel = false;
    for (const DialogControl& c : form.controls) {
        if (c.kind == Kind::Button) {
            hasOk = hasOk || c.id == 1;
            hasCancel = hasCancel || c.id == 2;
        }
    }
    const bool standardButtons = !hasOk && !hasCancel;
    auto* buttonBox = new QDialogButtonBox;
    if (standardButtons) {
        buttonBox->addButton(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
        buttonBox->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("2"));
    }
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    for (const DialogControl& c : form.controls) {
        const auto owner = c.kind == Kind::Group ? boxes.end() : boxes.find(c.group);
        const int setId = owner == boxes.end() ? -1 : c.group;
        QFormLayout* layout = owner == boxes.end() ? top : owner->second.layout;
        QWidget* widget = nullptr;
        switch (c.kind) {
        case Kind::Group: {
            const auto it = boxes.find(c.id);
            if (c.id != -1 && it != boxes.end() && !it->second.box->parent()) {
                widget = it->second.box;
            } else {
                widget = new QGroupBox(fromUtf8(c.label));   // an empty frame nobody refers to
            }
            top->addRow(widget);
            break;
        }
        case Kind::Edit: {
            auto* edit = new QLineEdit(fromUtf8(c.text));
            widget = edit;
            if (c.label.empty()) {
                layout->addRow(edit);
            } else {
                auto* label = new QLabel(fromUtf8(c.label));
                label->setTextFormat(Qt::PlainText);
                label->setBuddy(edit);
                label->setEnabled(c.enabled);
                layout->addRow(label, edit);
            }
            break;
        }
        case Kind::Static: {
            auto* label = new QLabel(fromUtf8(c.text.empty() ? c.label : c.text));
            label->setTextFormat(Qt::PlainText);
            widget = label;
            layout->addRow(label);
            break;
        }
        case Kind::Radio:
        case Kind::Check: {
            QAbstractButton* button = nullptr;
            if (c.kind == Kind::Radio) {
                button = new QRadioButton(fromUtf8(c.label));
                QButtonGroup*& set = radioSets[setId];
                if (!set) set = new QButtonGroup(this);
                set->addButton(button);
            } else {
                button = new QCheckBox(fromUtf8(c.label));
            }
            button->setChecked(c.checked);
            const int id = c.id;
            connect(button, &QAbstractButton::clicked, this, [this, id] { clicks_.push_back(id); });
            widget = button;
            layout->addRow(button);
            break;
        }
        case Kind::Button: {
            auto* button = new QPushButton(fromUtf8(c.label));
            widget = button;
            if (c.id == 1) {
                buttonBox->addButton(button, QDialogButtonBox::AcceptRole);
                button->setDefault(true);
            } else if (c.id == 2) {
                buttonBox->addButton(button, QDialogButtonBox::RejectRole);
            } else {
                layout->addRow(button);
            }
            break;
        }
        }
        widget->setObjectName(QString::number(c.id));
        widget->setEnabled(c.enabled);
        entries_.push_back(Entry{c.id, c.kind, widget});
    }
    outer->addWidget(buttonBox);
}

DialogResult FormDialog::outcome() const {
    using Kind = DialogControl::Kind;
    DialogResult result;
    result.accepted = QDialog::result() == QDialog::Accepted;
    for (const Entry& e : entries_) {
        if (e.kind == Kind::Edit)
            result.texts[e.id] = static_cast<QLineEdit*>(e.widget)->text().toStdString();
        else if (e.kind == Kind::Radio || e.kind == Kind::Check)
            result.checked[e.id] = static_cast<QAbstractButton*>(e.widget)->isChecked();
    }
    result.clicks = clicks_;
    return result;
}

QWidget* FormDialog::control(int id) const {
    for (const Entry& e : entries_)
        if (e.id == id) return e.widget;
    return nullptr;
}

void FormDialog::accept() {
    if (validate_) {
        DialogResult typed = outcome();
        typed.accepted = true;
        if (const std::optional<DialogRefusal> refusal = validate_(typed)) {
            QMessageBox box(QMessageBox::Warning, fromUtf8(refusal->caption), fromUtf8(refusal->text),
                            QMessageBox::Ok, this);
            box.setObjectName(QStringLiteral("refusal"));
            box.setTextFormat(Qt::PlainText);
            box.exec();
            if (QWidget* field = control(refusal->field)) {
                field->setFocus(Qt::OtherFocusReason);
                if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
            }
            return;
        }
    }
    QDialog::accept();
}

DialogResult FormDialog::run(const DialogForm& form, QWidget* parent) {
    FormDialog dialog(form, parent);
    dialog.exec();
    return dialog.outcome();
}
