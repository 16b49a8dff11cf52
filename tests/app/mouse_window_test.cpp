// Mouse editing through the real window on the offscreen platform: presses, moves and releases
// at the rectangles the last paint stored.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "display/paint.h"
#include "workbench/workbench.h"
#include "platform/qt/main_window.h"

namespace {
QPoint centre(const Rect& r) {
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

class MouseWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(workbench);
        ASSERT_TRUE(window->created());
        window->resize(1400, 900);
        window->show();
        settle();
    }
    void TearDown() override { window->close(); }

    // Lets the window repaint everything, so that the layout holds what the user sees.
    void settle() {
        QApplication::processEvents();
        window->clientArea()->invalidate(nullptr, true);
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

    Workbench workbench;
    std::unique_ptr<MainWindow> window;
    Settings& s = workbench.settings;
    LayoutState& layout = workbench.layout;
};
}  // namespace

TEST_F(MouseWindowTest, EtalonCellsToggleAndTheDetectionTaskKeepsExactlyOne) {
    ASSERT_EQ(s.viewMode, ViewMode::etalons);
    ASSERT_EQ(layout.rcEtalonCells.size(), 20u);
    click(layout.rcEtalonCells[2]);
    EXPECT_EQ(s.requiredFlags[2], 0);
    EXPECT_EQ(s.wRequiredCount, 19);
    EXPECT_EQ(s.currentEtalon, 3);
    click(layout.rcEtalonCells[2]);
    EXPECT_EQ(s.wRequiredCount, 20);

    command(CM_DETECTION);
    click(layout.rcEtalonCells[6]);
    EXPECT_EQ(s.wRequiredCount, 1);
    EXPECT_EQ(s.lpRequiredList[0], 7);
    click(layout.rcEtalonCells[6]);  // clicking the required one keeps it
    EXPECT_EQ(s.wRequiredCount, 1);
    EXPECT_EQ(s.previousEtalon, 7);
}

TEST_F(MouseWindowTest, NextProcessesAndRestartReturnsToTheEtalons) {
    click(layout.rcNextButton);
    EXPECT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(workbench.processingRuns, 1);
    click(layout.rcRestartButton);
    EXPECT_EQ(s.viewMode, ViewMode::etalons);
    // Unselect everything: Next then builds nothing and says why.
    click(layout.rcSelectAllButton);
    EXPECT_EQ(s.wRequiredCount, 0);
    QString said;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && said.isEmpty()) {
                said = box->text();
                QMetaObject::invokeMethod(box, "accept", Qt::QueuedConnection);
            }
    });
    closer.start(20);
    click(layout.rcNextButton);
    closer.stop();
    EXPECT_TRUE(said.contains("choose at least one etalon")) << said.toStdString();
    EXPECT_EQ(s.viewMode, ViewMode::etalons);
    EXPECT_EQ(workbench.processingRuns, 1);
}

// Hit tests read the state as it is now, not what the last paint left in the layout: presses
// and tooltips right after a state change, with no paint in between.
TEST_F(MouseWindowTest, PressesRightAfterAStateChangeHitWhatTheStateShows) {
    ASSERT_EQ(s.viewMode, ViewMode::etalons);
    ASSERT_EQ(s.wRequiredCount, 20);
    const QPoint toggle = centre(layout.rcSelectAllButton);
    const auto press = [&] {
        workbench.onLeftButtonDown(toggle.x(), toggle.y());
        workbench.onLeftButtonUp(toggle.x(), toggle.y());
    };
    // Every etalon is required: the toggle unselects them all.
    press();
    EXPECT_EQ(s.wRequiredCount, 0);
    // None is required now: the same place selects them all, painted or not.
    EXPECT_EQ(workbench.toolTipAt(toggle.x(), toggle.y()), "Select All: require every etalon");
    press();
    EXPECT_EQ(s.wRequiredCount, 20);
    EXPECT_EQ(workbench.toolTipAt(toggle.x(), toggle.y()), "Unselect All: require no etalon");

    // The lost data level box appears with the cut-off series: its entries are hit at once.
    command(CM_UNFIXED_WHOLE);
    window->resize(1300, 850);
    settle();
    s.seriesType = SeriesType::unfixedCutoffs;
    LayoutState shown = layout;
    layOutOptionBoxes({0, 0, window->clientArea()->width(), window->clientArea()->height()}, true, shown);
    const QPoint lost = centre(optionBoxItems(shown.rcLostLevelBox, shown.lineHeight, 3)[2]);
    EXPECT_NE(workbench.toolTipAt(lost.x(), lost.y()).find("Lost data level 50"), std::string::npos);
    workbench.onLeftButtonDown(lost.x(), lost.y());
    workbench.onLeftButtonUp(lost.x(), lost.y());
    EXPECT_EQ(s.lostLevelIndex, 3);
}

TEST_F(MouseWindowTest, OptionBoxPicksBuildOrResetWithoutRequiredEtalons) {
    click(layout.rcNoiseLevelItems[1]);
    EXPECT_EQ(s.noiseLevelIndex, 2);
    EXPECT_EQ(s.wNoiseLevelBase, 35);
    EXPECT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(workbench.processingRuns, 1);
    EXPECT_EQ(s.lpSeriesHeader->wNoiseSigma, 35);

    click(layout.rcRestartButton);
    click(layout.rcSelectAllButton);  // no etalon required any more
    s.wNoiseLevelBase = 77;
    click(layout.rcNoiseLevelItems[2]);
    EXPECT_EQ(s.noiseLevelIndex, 3);
    EXPECT_EQ(s.wNoiseLevelBase, 50);  // reset from the tables, nothing built
    EXPECT_EQ(workbench.processingRuns, 1);
}

TEST_F(MouseWindowTest, TupleDetectionThroughTheSubsetPanel) {
    command(CM_FIXED_TUPLES);
    command(CM_DETECTION);
    click(layout.rcNextButton);
    ASSERT_EQ(s.viewMode, ViewMode::subsetPanel);
    const SubsetPanelLayout& panel = workbench.subsetLayout;
    ASSERT_GE(panel.rcOfferedCells.size(), 2u);
    // Detection keeps one required etalon: offer it twice.
    click(panel.rcOfferedCells[0]);
    click(panel.rcOfferedCells[0]);
    EXPECT_EQ(workbench.panel.wSelectedCount, 2);
    click(panel.buttons[subset_panel::Ok]);
    EXPECT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(workbench.lastRoutine, Routine::detectTuplesFixed);
    EXPECT_EQ(s.lpSeriesHeader->wSelectedSubsetSize, 2);
}

TEST_F(MouseWindowTest, TupleRecognitionAcceptsChoosesAndPicksAPatternRow) {
    command(CM_UNFIXED_TUPLES);
    command(CM_RECOGNITION);
    click(layout.rcNextButton);
    ASSERT_EQ(s.viewMode, ViewMode::subsetPanel);
    SubsetPanelLayout& panel = workbench.subsetLayout;
    click(panel.rcOfferedCells[2]);
    click(panel.rcOfferedCells[4]);
    click(panel.buttons[subset_panel::Accept]);
    click(panel.buttons[subset_panel::DeleteAll]);
    click(panel.rcOfferedCells[1]);
    click(panel.rcOfferedCells[3]);
    click(panel.rcOfferedCells[5]);
    click(panel.buttons[subset_panel::Accept]);
    EXPECT_EQ(workbench.panel.wStoredSubsets, 2);
    ASSERT_GE(panel.storedRows.size(), 2u);
    click(panel.storedRows[0]);
    EXPECT_EQ(workbench.panel.currentPatternTuple, 1);
    click(panel.buttons[subset_panel::Ok]);
    ASSERT_EQ(s.viewMode, ViewMode::results);
    EXPECT_EQ(workbench.lastRoutine, Routine::recognizeTuplesUnfixed);
    EXPECT_EQ(s.lpSeriesHeader->wSubsetsCount, 2);

    ASSERT_EQ(layout.rcPatternTuples.size(), 2u);
    const int runs = workbench.processingRuns;
    click(layout.rcPatternTuples[1]);
    EXPECT_EQ(workbench.panel.currentPatternTuple, 2);
    EXPECT_EQ(workbench.processingRuns, runs + 1);
    EXPECT_EQ(s.lpSeriesHeader->wSelectedSubsetSize, 3);
}

TEST_F(MouseWindowTest, ParameterPanelPicksDragsAndTakesATypedTmin) {
    command(CM_VIEW_SERIES_PARAMETERS);
    ASSERT_EQ(s.viewMode, ViewMode::parametersPanel);
    ASSERT_NE(workbench.lpParamsHeader, nullptr);
    ParamsHeader& p = *workbench.lpParamsHeader;
    ASSERT_GT(p.wAreasCount, 2);
    click(p.pulsesSelectedAreas[2]);
    EXPECT_EQ(p.wImpulseQuantity, p.wMinPulses + 2);

    // Drag the a+ marker down by a few pixels.
    const int32_t before = p.aHigh;
    const QPoint from = centre(p.rcHandleHigh);
    QTest::mousePress(window->clientArea(), Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(0, 30)), QPointF(from + QPoint(0, 30)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->clientArea(), &move);
    QTest::mouseRelease(window->clientArea(), Qt::LeftButton, Qt::NoModifier, from + QPoint(0, 30));
    settle();
    EXPECT_LT(p.aHigh, before);

    // A Tmin of 0 is refused and the panel stays; 35 is taken.
    auto* edit = window->findChild<QLineEdit*>("225");
    ASSERT_NE(edit, nullptr);
    edit->setText("0");
    const Rect ok = p.rcOkButton;
    // The refusal's message box is answered as soon as it shows.
    QTimer closer;
    int boxes = 0;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("QMessageBox") && w->isVisible()) {
                ++boxes;
                QMetaObject::invokeMethod(w, "accept", Qt::QueuedConnection);
            }
    });
    closer.start(20);
    click(ok);
    closer.stop();
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(s.viewMode, ViewMode::parametersPanel);
    EXPECT_EQ(s.wTmin, 40);
    edit->setText("35");
    click(ok);
    EXPECT_EQ(s.wTmin, 35);
    EXPECT_EQ(s.viewMode, ViewMode::results);
}

TEST_F(MouseWindowTest, DraggingTheTminLineStopsWhereItBecomesInfeasible) {
    command(CM_VIEW_SERIES_PARAMETERS);
    ASSERT_NE(workbench.lpParamsHeader, nullptr);
    ParamsHeader& p = *workbench.lpParamsHeader;
    // A point on the Tmin line, found the way the user finds it: by pointing along the graph.
    QPoint on(-1, -1);
    for (int32_t x = p.rcGraph.left; x <= p.rcGraph.right && on.x() < 0; ++x)
        for (int32_t y = p.rcGraph.top; y <= p.rcGraph.bottom; ++y)
            if (onLineTmin(p, x, y) && !onLineTmax(p, x, y)) {
                on = QPoint(x, y);
                break;
            }
    ASSERT_GE(on.x(), 0);
    // The pointer rests on the line first (it takes the mouse and shows the resize cursor).
    QMouseEvent hover(QEvent::MouseMove, QPointF(on), QPointF(on), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window->clientArea(), &hover);
    EXPECT_EQ(p.hoverLineTmin, 1);
    EXPECT_EQ(window->clientArea()->cursor().shape(), Qt::SizeFDiagCursor);  // a line: the diagonal resize
    QTest::mousePress(window->clientArea(), Qt::LeftButton, Qt::NoModifier, on);
    ASSERT_EQ(p.dragLineTmin, 1);
    // Pull the line down: its slope, Tmin, grows until the drawn pulse count would no longer fit
    // ((N - L) / (K - 1) = 1180 / 13 for 14 pulses); there the drag stops.
    for (int step = 1; step < 400 && p.dragLineTmin; ++step) {
        const QPoint to = on + QPoint(0, step * 2);
        QMouseEvent move(QEvent::MouseMove, QPointF(to), QPointF(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window->clientArea(), &move);
    }
    EXPECT_EQ(p.dragLineTmin, 0);
    EXPECT_TRUE(tminFeasible(p, p.wTmin));
    EXPECT_GT(p.wTmin, 40);
    EXPECT_LE(p.wTmin, (1200 - 20) / (p.wImpulseQuantity - 1));
    QTest::mouseRelease(window->clientArea(), Qt::LeftButton, Qt::NoModifier, on);
    settle();
    EXPECT_EQ(s.wTmin, 40);  // the settings change only through " OK "
}
