#pragma once

#include <QDialog>

#include <vector>

#include "platform/dialog_form.h"

class QAbstractButton;
class QLineEdit;

/// A modal dialog built from a DialogForm: the caption, then the controls in their order. Group
/// boxes hold the controls that name them in `group` (in the members' order, wherever the group
/// box itself stands); radio buttons are exclusive within their group box (those outside any
/// group box form one set of their own); edits are line edits with their label beside them;
/// disabled controls are disabled. Buttons 1 and 2 are OK and Cancel; a form without either
/// gets both. Every control widget is named by its id (QObject::objectName).
class FormDialog : public QDialog {
public:
    explicit FormDialog(const DialogForm& form, QWidget* parent = nullptr);

    /// The final texts and check states, the clicks so far and whether the dialog was accepted.
    DialogResult outcome() const;

    /// The widget of the first control with this id, or null.
    QWidget* control(int id) const;

    /// Shows the form modally and returns how it ended.
    static DialogResult run(const DialogForm& form, QWidget* parent);

    /// OK: closes the dialog unless the form's validation refuses what was typed; then the
    /// dialog stays open with it, shows the message and puts the focus on the field named.
    void accept() override;

private:
    DialogForm::Validation validate_;
    struct Entry {
        int id;
        DialogControl::Kind kind;
        QWidget* widget;
    };
    std::vector<Entry> entries_;
    std::vector<int> clicks_;
};
