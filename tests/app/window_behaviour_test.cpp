// The window as a desktop user meets it, on the offscreen platform: messages of long work,
// buttons that do what they show, dialogs that keep a refused entry, keys, tooltips, the status
// bar and the menus.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "workbench/menu.h"
#include "workbench/workbench.h"
#include "dialogs/dialogs.h"
#include "platform/qt/form_dialog.h"
#include "platform/qt/image_canvas.h"
#include "platform/qt/main_window.h"

namespace {
QPoint centre(const Rect& r) {
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// Answers every modal window that shows up: form dialogs get the values listed for their
// resource and OK, message boxes are recorded (with whether they live on the GUI thread) and
// closed.
class Answerer {
public:
    explicit Answerer(std::map<int, std::map<int, QString>> values = {}) : values_(std::move(values)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(5);
    }
    std::vector<std::string> texts;
    bool onGuiThread = true;
    bool answerForms = true;      ///< answer form dialogs (else only message boxes)
    bool cancelProgress = false;  ///< press Cancel in a progress dialog
    int progressCancels = 0;

private:
    void poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            // Marked on the widget itself: a later window may reuse a closed one's address.
            if (!w->isVisible() || w->property("answered").toBool()) continue;
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                w->setProperty("answered", true);
                texts.push_back(box->text().toStdString());
                onGuiThread = onGuiThread && box->thread() == QApplication::instance()->thread();
                QMetaObject::invokeMethod(box, "accept", Qt::QueuedConnection);
            } else if (cancelProgress && w->objectName() == QStringLiteral("progress")) {
                w->setProperty("answered", true);
                ++progressCancels;
                QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
            } else if (auto* form = dynamic_cast<FormDialog*>(w); form && answerForms) {
                w->setProperty("answered", true);
                const int resource = form->objectName().mid(4).toInt();
                for (const auto& [id, text] : values_[resource])
                    if (auto* edit = qobject_cast<QLineEdit*>(form->control(id))) edit->setText(text);
                QMetaObject::invokeMethod(form, "accept", Qt::QueuedConnection);
            }
        }
    }

    std::map<int, std::map<int, QString>> values_;
    QTimer timer_;
};

class WindowBehaviourTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(workbench);
        ASSERT_TRUE(window->created());
        window->resize(1400, 900);
        window->show();
        settle();
    }
    void TearDown() override { window->close(); }

    // Lets the window draw what is pending, the way a display would.
    void settle() {
        QApplication::processEvents();
        window->clientArea()->paintPending();
        QApplication::processEvents();
    }
    void click(const Rect& r) {
        QTest::mouseClick(window->clientArea(), Qt::LeftButton, Qt::NoModifier, centre(r));
        settle();
    }
    void command(int id) {
        window->commandAction(id)->trigger();
        settle();
    }

    // The button image shown with its top-left corner at that of `r`, or 0.
    int buttonShownAt(const Rect& r) const {
        const QImage& buffer = window->clientArea()->backBuffer();
        for (int resource : {101, 102, 103, 108, 109}) {
            QImage button(143, 31, QImage::Format_RGB32);
            button.fill(Qt::white);
            {
                QImageCanvas canvas(button);
                canvas.drawImage(resource, 0, 0);
            }
            const QImage shown = buffer.copy(r.left, r.top, button.width(), button.height())
                                     .convertToFormat(QImage::Format_RGB32);
            if (shown == button) return resource;
        }
        return 0;
    }

    Workbench workbench;
    std::unique_ptr<MainWindow> window;
    Settings& s = workbench.settings;
    LayoutState& layout = workbench.layout;
};
}  // namespace

TEST_F(WindowBehaviourTest, SimulationMessagesAreShownOnTheGuiThread) {
    // A tuple series with task Detection and no subset: the driver, on the worker thread,
    // refuses the run with a message.
    command(CM_FIXED_TUPLES);
    command(CM_DETECTION);
    const std::map<int, std::map<int, QString>> small{{105, {{1000, "400"}}},
                                                      {110, {{1015, "3"}, {1016, "4"}, {1018, "2"}, {1021, "2"}}}};
    {
        Answerer answerer(small);
        command(CM_STATISTICAL_SIMULATION);
        ASSERT_EQ(answerer.texts.size(), 2u);
        EXPECT_NE(answerer.texts[0].find("Create series parameters"), std::string::npos);
        EXPECT_NE(answerer.texts[1].find("selected Subset is absence"), std::string::npos);
        EXPECT_TRUE(answerer.onGuiThread);
        EXPECT_EQ(s.lpRestErrorHeader, nullptr);
        EXPECT_EQ(s.wDisplayContent, 1);
    }

    // A run that completes shows its graphs and its time in the status bar.
    command(CM_JOINT_DETECTION);
    command(CM_UNFIXED_CUTOFFS);
    {
        Answerer answerer(small);
        command(CM_STATISTICAL_SIMULATION);
        EXPECT_TRUE(answerer.onGuiThread);
    }
    RestErrorHeader* complete = s.lpRestErrorHeader.get();
    ASSERT_NE(complete, nullptr);
    EXPECT_EQ(complete->ifComplete, 1);
    EXPECT_EQ(s.wDisplayContent, 2);
    EXPECT_TRUE(window->statusLine().contains("Last simulation: "));
    EXPECT_FALSE(window->statusLine().contains("cancelled"));

    // A long run cancelled from its progress dialog keeps the results shown and says so.
    {
        Answerer answerer({{105, {{1000, "1200"}}},
                           {110, {{1015, "6"}, {1016, "30"}, {1018, "29"}, {1021, "500"}}}});
        answerer.cancelProgress = true;
        command(CM_STATISTICAL_SIMULATION);
        EXPECT_EQ(answerer.progressCancels, 1);
    }
    EXPECT_EQ(s.lpRestErrorHeader.get(), complete);
    EXPECT_EQ(s.wDisplayContent, 2);
    EXPECT_TRUE(window->statusLine().contains("simulation cancelled")) << window->statusLine().toStdString();
    // ...until later work starts.
    command(CM_PROCESSING_NEXT_DATA);
    EXPECT_FALSE(window->statusLine().contains("cancelled")) << window->statusLine().toStdString();
}

TEST_F(WindowBehaviourTest, EveryVisibleButtonDoesWhatItShowsAfterEveryModeChange) {
    Answerer answerer;
    const int series[] = {CM_UNFIXED_CUTOFFS, CM_FIXED_TUPLES, CM_FIXED_WHOLE, CM_UNFIXED_TUPLES, CM_FIXED_CUTOFFS};
    const int tasks[] = {CM_DETECTION, CM_RECOGNITION, CM_JOINT_DETECTION, CM_SERIES_PROCESSING, CM_RECOGNITION};
    // A current and a stored subset of etalon 1, composed as the subset panel holds them, so
    // that Next on a tuple series runs.
    auto compose = [&] {
        SubsetPanelState& p = workbench.panel;
        p.wSubsetEntries = 10;
        p.selectedSubset.assign(10, 0);
        p.selectedSubset[0] = p.selectedSubset[1] = 1;
        p.wSelectedCount = 2;
        p.wReservedSubsets = 10;
        p.selectedSubsetArray.assign(10, std::vector<int32_t>(10, 0));
        p.selectedSubsetArray[0][0] = p.selectedSubsetArray[0][1] = 1;
        p.selectedSubsetArraySize.assign(10, 0);
        p.selectedSubsetArraySize[0] = 2;
        p.wStoredSubsets = 1;
    };
    int checked = 0;
    for (int type : series)
        for (int task : tasks) {
            SCOPED_TRACE(testing::Message() << "series " << type << ", task " << task);
            command(type);
            command(task);
            // Each button in the column, from the top: what it shows is what a click does.
            for (const Rect* r : {&layout.rcRestartButton, &layout.rcSelectAllButton, &layout.rcNextButton}) {
                settle();
                const int shown = buttonShownAt(*r);
                if (shown == 0) continue;
                const int runs = workbench.processingRuns;
                const size_t messages = answerer.texts.size();
                const bool tuples = isTupleSeries(s.seriesType);
                compose();
                click(*r);
                ++checked;
                switch (shown) {
                    case 101:  // Next: a run, or the reason why none
                        EXPECT_TRUE(workbench.processingRuns > runs || answerer.texts.size() > messages);
                        break;
                    case 103:  // Restart
                        EXPECT_EQ(s.viewMode, tuples ? ViewMode::subsetPanel : ViewMode::etalons);
                        break;
                    case 109:  // Select All
                        EXPECT_EQ(s.wRequiredCount, 20);
                        break;
                    case 108:  // Unselect All
                        EXPECT_EQ(s.wRequiredCount, 0);
                        break;
                    default:
                        ADD_FAILURE() << "unexpected button " << shown;
                }
                if (s.wRequiredCount == 0) {
                    // Etalons again for the next button, shown as a user would see them.
                    s.requiredFlags.fill(1);
                    rebuildRequiredList(s);
                    window->clientArea()->invalidate(nullptr, true);
                }
            }
            // The lost data box is shown only where it answers: on cut-off series.
            const bool cutoffs = isCutOffSeries(s.seriesType);
            if (!cutoffs && layout.rcLostLevelBox.right > layout.rcLostLevelBox.left) {
                const Rect& box = layout.rcLostLevelBox;
                const QImage area = window->clientArea()
                                        ->backBuffer()
                                        .copy(box.left, box.top, box.right - box.left + 1, box.bottom - box.top + 1)
                                        .convertToFormat(QImage::Format_RGB32);
                QImage white(area.size(), QImage::Format_RGB32);
                white.fill(Qt::white);
                EXPECT_TRUE(area == white) << "a lost data box that does not answer";
            }
        }
    EXPECT_GT(checked, 40);
}

// " OK " and Next in the subset panel with nothing to hand over (an empty subset; for tuple
// recognition no stored one) say why nothing happens, and the panel stays.
TEST_F(WindowBehaviourTest, SubsetPanelSaysWhyOkAndNextDoNothing) {
    for (int task : {CM_DETECTION, CM_RECOGNITION}) {
        SCOPED_TRACE(task);
        command(task == CM_DETECTION ? CM_FIXED_TUPLES : CM_UNFIXED_TUPLES);
        command(task);
        s.viewMode = ViewMode::subsetPanel;
        window->clientArea()->invalidate(nullptr, true);
        settle();
        Answerer answerer;
        click(workbench.subsetLayout.buttons[subset_panel::Ok]);
        click(layout.rcNextButton);
        ASSERT_EQ(answerer.texts.size(), 2u);
        for (const std::string& text : answerer.texts)
            EXPECT_NE(text.find(task == CM_DETECTION ? "The subset is empty" : "No subset is stored"), std::string::npos)
                << text;
        EXPECT_EQ(s.viewMode, ViewMode::subsetPanel);
    }
}

TEST_F(WindowBehaviourTest, ParameterPanelKeepsTheTminBoxInStepAndHidesIt) {
    command(CM_VIEW_SERIES_PARAMETERS);
    ASSERT_NE(workbench.lpParamsHeader, nullptr);
    ParamsHeader& p = *workbench.lpParamsHeader;
    auto* edit = window->findChild<QLineEdit*>("225");
    ASSERT_NE(edit, nullptr);
    EXPECT_GT(edit->width(), 0);
    QPoint on(-1, -1);
    for (int32_t x = p.rcGraph.left; x <= p.rcGraph.right && on.x() < 0; ++x)
        for (int32_t y = p.rcGraph.top; y <= p.rcGraph.bottom; ++y)
            if (onLineTmin(p, x, y) && !onLineTmax(p, x, y)) {
                on = QPoint(x, y);
                break;
            }
    ASSERT_GE(on.x(), 0);
    QMouseEvent hover(QEvent::MouseMove, QPointF(on), QPointF(on), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window->clientArea(), &hover);
    QTest::mousePress(window->clientArea(), Qt::LeftButton, Qt::NoModifier, on);
    ASSERT_EQ(p.dragLineTmin, 1);
    QPoint to = on;
    for (int step = 1; step < 50 && p.dragLineTmin && p.wTmin == 40; ++step) {
        to = on + QPoint(0, 2 * step);
        QMouseEvent move(QEvent::MouseMove, QPointF(to), QPointF(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window->clientArea(), &move);
    }
    QTest::mouseRelease(window->clientArea(), Qt::LeftButton, Qt::NoModifier, to);
    settle();
    ASSERT_NE(p.wTmin, 40);
    // The box shows the dragged Tmin, so " OK " takes what the diagram shows.
    EXPECT_EQ(edit->text(), QString::number(p.wTmin));

    // A typed Tmin below the etalon length is refused: the pulses would overlap.
    Answerer answerer;
    edit->setText("6");
    click(p.rcOkButton);
    ASSERT_EQ(answerer.texts.size(), 1u);
    EXPECT_NE(answerer.texts[0].find("etalon length"), std::string::npos);
    EXPECT_EQ(s.viewMode, ViewMode::parametersPanel);
    EXPECT_EQ(s.wTmin, 40);

    // Leaving by Next hides the box, as " OK " and " Cancel " do.
    click(layout.rcNextButton);
    EXPECT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(edit->width(), 0);
    // So does leaving by a menu command; Esc leaves as " Cancel " does.
    command(CM_VIEW_SERIES_PARAMETERS);
    EXPECT_GT(edit->width(), 0);
    command(CM_SELECT_SET_OF_PULSES);
    EXPECT_EQ(edit->width(), 0);
    command(CM_VIEW_SERIES_PARAMETERS);
    QTest::keyClick(window->clientArea(), Qt::Key_Escape);
    settle();
    EXPECT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(edit->width(), 0);
}

TEST_F(WindowBehaviourTest, KeyboardMenusTitleTooltipsAndStatusBar) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("PulseBench"));
    // Only the two check groups show check boxes.
    for (const MenuRow& row : mainMenu) {
        QAction* action = window->commandAction(row.id);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->isCheckable(), checkableMenuItem(row.id)) << row.id;
        // Every item has a mnemonic, and shows its text otherwise unchanged.
        EXPECT_TRUE(action->text().contains('&')) << row.id;
        EXPECT_EQ(QString(action->text()).remove('&').toStdString(), row.text);
    }
    EXPECT_FALSE(window->commandAction(CM_EXIT)->isCheckable());
    for (QAction* popup : window->menuBar()->actions()) EXPECT_TRUE(popup->text().contains('&'));
    // Mnemonics are unique within each menu.
    for (QMenu* menu : window->findChildren<QMenu*>()) {
        std::set<QChar> letters;
        for (QAction* a : menu->actions()) {
            const qsizetype at = a->text().indexOf('&');
            if (a->isSeparator() || at < 0) continue;
            EXPECT_TRUE(letters.insert(a->text()[at + 1].toLower()).second) << a->text().toStdString();
        }
    }

    // F5 is " Processing Next Data "; Space and Enter press Next.
    EXPECT_EQ(window->commandAction(CM_PROCESSING_NEXT_DATA)->shortcut(), QKeySequence(Qt::Key_F5));
    window->activateWindow();
    window->clientArea()->setFocus();
    QTest::keyClick(window->clientArea(), Qt::Key_Space);
    settle();
    EXPECT_EQ(workbench.processingRuns, 1);
    QTest::keyClick(window->clientArea(), Qt::Key_Return);
    settle();
    EXPECT_EQ(workbench.processingRuns, 2);

    // F10 opens the menu bar; once it is left with Esc, Space presses Next again.
    QTest::keyClick(window->clientArea(), Qt::Key_F10);
    QApplication::processEvents();
    EXPECT_NE(window->menuBar()->activeAction(), nullptr);
    QTest::keyClick(window->menuBar(), Qt::Key_Escape);
    QTest::keyClick(window->menuBar(), Qt::Key_Escape);
    settle();
    EXPECT_EQ(QApplication::focusWidget(), window->clientArea());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    settle();
    EXPECT_EQ(workbench.processingRuns, 3);

    // Tooltips on the buttons and the option boxes.
    EXPECT_NE(workbench.toolTipAt(centre(layout.rcNextButton).x(), centre(layout.rcNextButton).y()).find("Next"),
              std::string::npos);
    EXPECT_NE(workbench.toolTipAt(centre(layout.rcRestartButton).x(), centre(layout.rcRestartButton).y())
                  .find("Restart"),
              std::string::npos);
    EXPECT_NE(workbench.toolTipAt(centre(layout.rcNoiseLevelItems[1]).x(), centre(layout.rcNoiseLevelItems[1]).y())
                  .find("Noise level 35"),
              std::string::npos);
    EXPECT_EQ(workbench.toolTipAt(layout.rcMain.left + 5, layout.rcMain.top + 5), "");

    // The status bar: task, series type, length, noise.
    const QString status = window->statusLine();
    EXPECT_TRUE(status.contains("Joint Detection and Identification")) << status.toStdString();
    EXPECT_TRUE(status.contains("Length: 1200"));
    EXPECT_TRUE(status.contains("Noise: 20"));
    command(CM_RECOGNITION);
    EXPECT_TRUE(window->statusLine().contains("Task: Recognition"));
}

TEST(FormDialogTest, ARefusedOkKeepsTheDialogOpenWithWhatWasTyped) {
    Settings settings;
    DialogForm form = seriesEnergyForm(settings);
    int checks = 0;
    form.validate = [&](const DialogResult& typed) -> std::optional<DialogRefusal> {
        ++checks;
        if (typed.texts.at(1001) == "0")
            return DialogRefusal{1001, "\"Min Length of Interval\" must be at least 1.", " Create Series "};
        return std::nullopt;
    };
    FormDialog dialog(form);
    dialog.show();
    auto* length = qobject_cast<QLineEdit*>(dialog.control(1000));
    auto* tmin = qobject_cast<QLineEdit*>(dialog.control(1001));
    ASSERT_NE(length, nullptr);
    ASSERT_NE(tmin, nullptr);
    length->setText("600");
    tmin->setText("0");
    Answerer answerer;
    answerer.answerForms = false;
    dialog.accept();
    QApplication::processEvents();
    ASSERT_EQ(answerer.texts.size(), 1u);
    EXPECT_NE(answerer.texts[0].find("Min Length of Interval"), std::string::npos);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(length->text(), QStringLiteral("600"));
    EXPECT_EQ(dialog.focusWidget(), tmin);

    tmin->setText("30");
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(checks, 2);
    const DialogResult result = dialog.outcome();
    EXPECT_EQ(result.texts.at(1000), "600");
    EXPECT_EQ(result.texts.at(1001), "30");
}
