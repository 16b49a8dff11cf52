// The real window on the offscreen platform with the workbench behind it.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenuBar>

#include "workbench/menu.h"
#include "workbench/workbench.h"
#include "platform/qt/main_window.h"

TEST(WindowSmokeTest, OpensWithItsMenuAndProcessesTheNextData) {
    Workbench workbench;
    MainWindow window(workbench);
    ASSERT_TRUE(window.created());
    window.showMaximized();
    QApplication::processEvents();
    EXPECT_EQ(window.windowTitle().toStdString(), mainWindowCaption);
    for (const MenuRow& row : mainMenu) {
        QAction* action = window.commandAction(row.id);
        ASSERT_NE(action, nullptr) << row.id;
        EXPECT_EQ(action->text().remove('&').toStdString(), row.text);  // with its mnemonic marked
    }
    EXPECT_TRUE(window.commandAction(CM_UNFIXED_CUTOFFS)->isChecked());
    EXPECT_TRUE(window.commandAction(CM_JOINT_DETECTION)->isChecked());

    window.commandAction(CM_PROCESSING_NEXT_DATA)->trigger();
    EXPECT_EQ(workbench.processingRuns, 1);
    EXPECT_EQ(workbench.settings.viewMode, ViewMode::results);
    EXPECT_EQ(workbench.settings.lpSeriesHeader->wNoiseSigma, 20);
    QApplication::processEvents();

    window.commandAction(CM_RECOGNITION)->trigger();
    EXPECT_TRUE(window.commandAction(CM_RECOGNITION)->isChecked());
    EXPECT_FALSE(window.commandAction(CM_JOINT_DETECTION)->isChecked());
    window.close();
}
