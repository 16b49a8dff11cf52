// Random presses, moves, releases and menu commands over every view, from a fixed seed, with
// the model's invariants checked after each event.

#include <gtest/gtest.h>

#include <QImage>

#include <random>

#include "workbench/workbench.h"
#include "platform/dialog_form.h"
#include "platform/headless/headless_shell.h"
#include "platform/qt/image_canvas.h"

TEST(SoakTest, RandomEventsKeepTheModelConsistent) {
    HeadlessShell shell;
    Workbench workbench;
    std::mt19937 random(20261207);
    shell.setDispatcher([&](int id) { workbench.onCommand(id); });
    // Dialogs end with OK or Cancel at random, sometimes with odd values typed.
    shell.setDialogAnswer([&](const DialogForm& form) {
        std::map<int, std::string> values;
        for (const DialogControl& c : form.controls)
            if (c.kind == DialogControl::Kind::Edit && random() % 4 == 0)
                values[c.id] = std::to_string(static_cast<int>(random() % 300) - 20);
        return scriptedAnswer(form, values, random() % 3 == 0);
    });
    std::cerr.setstate(std::ios::failbit);  // the message boxes would flood the log
    ASSERT_TRUE(workbench.onCreate(shell));

    QImage buffer(1024, 700, QImage::Format_RGB32);
    auto paint = [&] {
        buffer.fill(Qt::white);
        QImageCanvas canvas(buffer);
        workbench.onPaint(canvas, {0, 0, buffer.width(), buffer.height()});
    };
    paint();
    // Cheap menu commands; the simulation and the required-list edit are tested elsewhere.
    const int menu[] = {40005, 40006, 40007, 40027, 40008, 40009, 40010, 40011, 40028, 40032, 40016, 40017,
                        40019, 40020, 40021, 40029, 40030, 40031, 40033, 40015, 40018};
    for (int event = 0; event < 20000; ++event) {
        const int kind = static_cast<int>(random() % 10);
        const int32_t x = static_cast<int32_t>(random() % 1100) - 30;
        const int32_t y = static_cast<int32_t>(random() % 760) - 30;
        if (kind < 5) {
            workbench.onLeftButtonDown(x, y);
        } else if (kind < 8) {
            workbench.onMouseMove(x, y);
        } else if (kind < 9) {
            workbench.onLeftButtonUp(x, y);
        } else {
            workbench.onCommand(menu[random() % std::size(menu)]);
        }
        if (event % 25 == 0) paint();

        const Settings& s = workbench.settings;
        int flagged = 0;
        for (int n = 1; n <= s.wAlphabetSize; ++n) flagged += s.requiredFlags[n - 1] != 0;
        ASSERT_EQ(s.wRequiredCount, flagged) << "event " << event;
        for (int i = 0; i < s.wRequiredCount; ++i) ASSERT_EQ(s.requiredFlags[s.lpRequiredList[i] - 1], 1);
        ASSERT_LE(s.wRequiredCount, 20);
        ASSERT_LE(workbench.panel.wSelectedCount, 10) << "event " << event;
        ASSERT_LE(workbench.panel.wStoredSubsets, 10) << "event " << event;
        ASSERT_TRUE(s.viewMode == ViewMode::etalons || s.viewMode == ViewMode::results || s.viewMode == ViewMode::subsetPanel || s.viewMode == ViewMode::parametersPanel)
            << "event " << event << " view " << code(s.viewMode);
        shell.commands.clear();
        shell.invalidations.clear();
        shell.messages.clear();
        shell.dialogs.clear();
        shell.dialogResults.clear();
    }
    std::cerr.clear();
    // The events reached every part: series were processed and the views were visited.
    EXPECT_GT(workbench.processingRuns, 50);
    workbench.onDestroy();
}
