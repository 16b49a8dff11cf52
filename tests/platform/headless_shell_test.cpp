#include "platform/headless/headless_shell.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

std::string printed(const std::string& text, const std::string& caption) {
    HeadlessShell shell;
    testing::internal::CaptureStderr();
    shell.messageBox(text, caption, MessageIcon::Warning);
    return testing::internal::GetCapturedStderr();
}

DialogControl control(int id, DialogControl::Kind kind, const char* text, bool checked) {
    return DialogControl{id, kind, "", text, checked, true, -1};
}

} // namespace

TEST(HeadlessShell, MessagesPrintCaptionColonTextWithTheCaptionTrimmed) {
    EXPECT_EQ(printed("Tmin must be less than Tmax", " Error "), "Error: Tmin must be less than Tmax\n");
    EXPECT_EQ(printed("No pulses", "\tWarning  "), "Warning: No pulses\n");
    EXPECT_EQ(printed("Done", ""), "Done\n");
    EXPECT_EQ(printed("Done", "   "), "Done\n");
    HeadlessShell shell;
    testing::internal::CaptureStderr();
    shell.messageBox("one", " A ", MessageIcon::Warning);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].caption, " A ");   // recorded as given
}

TEST(HeadlessShell, SentCommandsRunAtOnceThroughTheDispatcher) {
    HeadlessShell shell;
    shell.sendCommand(40001);   // no dispatcher yet: only recorded
    std::vector<std::string> trace;
    shell.setDispatcher([&](int id) {
        trace.push_back("begin " + std::to_string(id));
        if (id == 40017) shell.sendCommand(40021);
        trace.push_back("end " + std::to_string(id));
        if (id == 40021) shell.setDispatcher(nullptr);   // replacing it while it runs is safe
    });
    shell.sendCommand(40017);
    shell.sendCommand(40002);
    EXPECT_EQ(trace, (std::vector<std::string>{"begin 40017", "begin 40021", "end 40021", "end 40017"}));
    EXPECT_EQ(shell.commands, (std::vector<int>{40001, 40017, 40021, 40002}));
}

TEST(HeadlessShell, RecordsInvalidationsChecksAndTheEditControl) {
    HeadlessShell shell;
    const Rect r{1, 2, 3, 4};
    shell.invalidate(&r, false);
    shell.invalidate(nullptr, true);
    ASSERT_EQ(shell.invalidations.size(), 2u);
    EXPECT_EQ(shell.invalidations[0].rect->bottom, 4);
    EXPECT_FALSE(shell.invalidations[0].erase);
    EXPECT_FALSE(shell.invalidations[1].rect.has_value());
    EXPECT_TRUE(shell.invalidations[1].erase);
    shell.checkMenuItem(40005, true);
    shell.checkMenuItem(40006, true);
    shell.checkMenuItem(40005, false);
    EXPECT_EQ(shell.menuChecks, (std::map<int, bool>{{40005, false}, {40006, true}}));
    EXPECT_EQ(shell.menuCheckLog.size(), 3u);
    EXPECT_EQ(shell.editText(), "Tmin Text");
    shell.setEditText("40");
    EXPECT_EQ(shell.editText(), "40");
}

TEST(HeadlessShell, DialogsAnswerOkAsShownUnlessScripted) {
    HeadlessShell shell;
    const DialogForm form{111, "Subset settings", {control(1015, DialogControl::Kind::Radio, "", true),
                                                   control(1023, DialogControl::Kind::Check, "", false),
                                                   control(1020, DialogControl::Kind::Edit, "3", false),
                                                   control(1008, DialogControl::Kind::Static, "note", false)}};
    const DialogResult shown = shell.runDialog(form);
    EXPECT_TRUE(shown.accepted);
    EXPECT_EQ(shown.texts, (std::map<int, std::string>{{1020, "3"}}));
    EXPECT_EQ(shown.checked, (std::map<int, bool>{{1015, true}, {1023, false}}));
    EXPECT_TRUE(shown.clicks.empty());
    shell.setDialogAnswer([](const DialogForm& f) { return DialogResult{false, {}, {}, {f.resource}}; });
    EXPECT_EQ(shell.runDialog(form).clicks, std::vector<int>{111});
    EXPECT_EQ(shell.dialogs.size(), 2u);
    EXPECT_EQ(shell.chooseSaveFile("Save image as"), std::nullopt);
    shell.setSaveFileAnswer("out.bmp");
    EXPECT_EQ(shell.chooseSaveFile("Save image as"), "out.bmp");
}

TEST(HeadlessShell, LongWorkRunsOnTheCallerWithoutCancel) {
    HeadlessShell shell;
    std::thread::id ran;
    bool cancelled = true;
    EXPECT_EQ(shell.runWithProgress("Statistical Simulation",
                                    [&](const std::function<void(int, int)>& progress, const std::atomic<bool>& cancel) {
                                        ran = std::this_thread::get_id();
                                        cancelled = cancel;
                                        progress(3, 4);
                                        return 9;
                                    }),
              9);
    EXPECT_EQ(ran, std::this_thread::get_id());
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(shell.runWithProgress("none", nullptr), 0);
}
