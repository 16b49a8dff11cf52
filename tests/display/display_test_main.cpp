// The display tests draw text, which needs a GUI application; the offscreen platform needs no
// display (set here too, so that test discovery at build time works anywhere).

#include <gtest/gtest.h>

#include <QGuiApplication>

#include "../qt_fatal_warnings.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qt_test::installFatalWarnings();
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
