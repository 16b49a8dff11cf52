#include "platform/qt/qt_shell.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include "gui_test_support.h"
#include "platform/qt/form_dialog.h"
#include "platform/qt/main_window.h"
#include "platform/qt/progress_dialog.h"

namespace {

using Kind = DialogControl::Kind;

DialogControl control(int id, Kind kind, const char* label, const char* text = "", bool checked = false,
                      int group = -1, bool enabled = true) {
    return DialogControl{id, kind, label, text, checked, enabled, group};
}

// Two group boxes of radio buttons (one member listed before its box), a check box, an edit, a
// disabled edit, a static text and the form's own OK and Cancel.
DialogForm sampleForm() {
    return DialogForm{112, " Drawing settings ", {
        control(-2, Kind::Group, " Frame "),
        control(301, Kind::Radio, "solid", "", true, -2),
        control(302, Kind::Radio, "dotted frame", "", false, -2),
        control(311, Kind::Radio, "detection error", "", true, -3),
        control(-3, Kind::Group, " Handling case "),
        control(312, Kind::Radio, "recognition error", "", false, -3),
        control(303, Kind::Check, "grid"),
        control(304, Kind::Edit, "Samples Length", "100"),
        control(305, Kind::Edit, "Subset init position", "7", false, -1, false),
        control(1008, Kind::Static, "", "Number of Pulses (from 1 to 9)"),
        control(1, Kind::Button, "OK"),
        control(2, Kind::Button, "Cancel"),
    }};
}

template <class W>
W* child(QWidget* parent, int id) {
    return parent->findChild<W*>(QString::number(id));
}

// A click on the indicator: only the indicator and the label take clicks, not the whole row.
void click(QWidget* dialog, int id) {
    auto* button = child<QAbstractButton>(dialog, id);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(4, button->height() / 2));
}

struct Window {
    RecordingHandler handler;
    MainWindow window{handler};
    Shell& shell = window.shell();
};

} // namespace

TEST(QtShellDialog, BuildsGroupsLabelsStatesAndOnlyTheFormsButtons) {
    FormDialog dialog(sampleForm());
    EXPECT_EQ(dialog.windowTitle(), QString(" Drawing settings "));
    auto* frame = child<QGroupBox>(&dialog, -2);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->title(), QString(" Frame "));
    EXPECT_EQ(child<QWidget>(&dialog, 302)->parentWidget(), frame);
    EXPECT_EQ(child<QWidget>(&dialog, 311)->parentWidget(), child<QGroupBox>(&dialog, -3));
    EXPECT_FALSE(child<QLineEdit>(&dialog, 305)->isEnabled());
    EXPECT_EQ(child<QLabel>(&dialog, 1008)->text(), QString("Number of Pulses (from 1 to 9)"));
    EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 2);
    bool labelled = false;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        labelled |= label->text() == "Samples Length" && label->buddy() == child<QLineEdit>(&dialog, 304);
    EXPECT_TRUE(labelled);

    DialogForm bare{0, "Plain", {control(10, Kind::Radio, "alone", "", true, 99)}};
    FormDialog plain(bare);
    auto* box = plain.findChild<QDialogButtonBox*>();
    ASSERT_TRUE(box && box->button(QDialogButtonBox::Ok) && box->button(QDialogButtonBox::Cancel));
}

TEST(QtShellDialog, OkReturnsTextsStatesAndClicksInOrderRadiosExclusivePerGroup) {
    Window w;
    whenShown<FormDialog>([](FormDialog* dialog) {
        auto* edit = child<QLineEdit>(dialog, 304);
        edit->selectAll();
        QTest::keyClicks(edit, "250");
        for (const int id : {302, 303, 312, 302}) click(dialog, id);
        child<QPushButton>(dialog, 1)->click();
    });
    const DialogResult result = w.shell.runDialog(sampleForm());
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(result.texts, (std::map<int, std::string>{{304, "250"}, {305, "7"}}));
    EXPECT_EQ(result.checked,
              (std::map<int, bool>{{301, false}, {302, true}, {303, true}, {311, false}, {312, true}}));
    EXPECT_EQ(result.clicks, (std::vector<int>{302, 303, 312, 302}));

    whenShown<FormDialog>([](FormDialog* dialog) {
        click(dialog, 303);
        child<QPushButton>(dialog, 2)->click();
    });
    const DialogResult cancelled = w.shell.runDialog(sampleForm());
    EXPECT_FALSE(cancelled.accepted);
    EXPECT_EQ(cancelled.clicks, std::vector<int>{303});
}

TEST(QtShellMessageBox, TextAndCaptionAsGivenOkOnlyWarningIcon) {
    Window w;
    for (const MessageIcon icon : {MessageIcon::Warning, MessageIcon::None}) {
        QString seen;
        whenShown<QMessageBox>([&seen](QMessageBox* box) {
            seen = box->text() + "|" + box->windowTitle() + "|" + QString::number(box->icon()) + "|" +
                   QString::number(box->standardButtons());
            box->button(QMessageBox::Ok)->click();
        });
        w.shell.messageBox("Tmin <b>less</b> than Tmax", " Error ", icon);
        EXPECT_EQ(seen, QString("Tmin <b>less</b> than Tmax| Error |%1|%2")
                            .arg(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon)
                            .arg(QMessageBox::Ok));
    }
}

TEST(QtShellSaveFile, ThreeFormatsBitmapFirstAndTheChosenFormatsExtension) {
    QTemporaryDir dir;
    Window w;
    QStringList filters;
    whenShown<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters() << dialog->selectedNameFilter() << dialog->windowTitle();
        dialog->reject();
    });
    EXPECT_EQ(w.shell.chooseSaveFile("Save image as"), std::nullopt);
    EXPECT_EQ(filters, (QStringList{"Bitmap (*.bmp)", "PCX (*.pcx)", "PNG (*.png)", "Bitmap (*.bmp)", "Save image as"}));
    for (const char* typed : {"snapshot", "picture.pcx"}) {
        whenShown<QFileDialog>([&](QFileDialog* dialog) {
            dialog->selectNameFilter("PNG (*.png)");
            dialog->selectFile(dir.filePath(typed));
            // selectFile leaves the name field alone while it has the focus (which the window
            // may or may not have given it yet): type the name there, as a user would.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!name) {
                ADD_FAILURE() << "the file dialog has no name field";
                return;
            }
            name->setText(QString::fromUtf8(typed));
            static_cast<QDialog*>(dialog)->accept();
        });
        EXPECT_EQ(w.shell.chooseSaveFile("Save"),
                  dir.filePath(typed == std::string("snapshot") ? "snapshot.png" : "picture.pcx").toStdString());
    }
}

TEST(QtShellProgress, WorkOnItsOwnThreadReportsToTheDialogAndSeesCancel) {
    Window w;
    std::atomic<bool> seen{false};
    whenShown<ProgressDialog>([&](ProgressDialog* dialog) {
        auto* poll = new QTimer(dialog);   // waits in the event loop for the work's report
        QObject::connect(poll, &QTimer::timeout, [&seen, poll, dialog] {
            if (!dialog->findChild<QLabel*>("progressText")->text().startsWith("Cells done: 5 of 10\n")) return;
            seen = true;
            poll->stop();
            dialog->findChild<QPushButton*>("cancel")->click();
        });
        poll->start(5);
    });
    std::thread::id worker;
    const int result = w.shell.runWithProgress(
        "Statistical Simulation", [&](const std::function<void(int, int)>& progress, const std::atomic<bool>& cancel) {
            worker = std::this_thread::get_id();
            progress(1, 10);
            progress(5, 10);
            for (int i = 0; i < 20000 && !cancel; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return seen && cancel ? 42 : -1;
        });
    EXPECT_EQ(result, 42);
    EXPECT_NE(worker, std::this_thread::get_id());
    auto throwing = [](const std::function<void(int, int)>&, const std::atomic<bool>&) -> int {
        throw std::runtime_error("out of memory");
    };
    EXPECT_EQ(w.shell.runWithProgress("x", throwing), 0);
    EXPECT_EQ(w.shell.runWithProgress("x", nullptr), 0);
}

TEST(ProgressText, CellsElapsedAndTimeLeftAtThePaceSoFar) {
    using std::chrono::milliseconds;
    EXPECT_EQ(progressText(0, 10, milliseconds(0)), QString("Cells done: 0 of 10\nElapsed: 0:00:00\nTime left: -"));
    EXPECT_EQ(progressText(1, 3, milliseconds(3723400)),
              QString("Cells done: 1 of 3\nElapsed: 1:02:03\nTime left: 2:04:07"));
    EXPECT_EQ(progressText(12, 10, milliseconds(-5)),
              QString("Cells done: 10 of 10\nElapsed: 0:00:00\nTime left: 0:00:00"));
}
