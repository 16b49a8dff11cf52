// The main of every Qt test program: the offscreen platform (set here too, so that listing the
// tests at build time needs no display), a private runtime folder, every Qt warning fatal under
// QT_FATAL_WARNINGS=1 (the offscreen platform's notes about what it cannot do aside), and one
// application object for all tests.

#include <QApplication>

#include <gtest/gtest.h>

#include "qt_fatal_warnings.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qt_test::installFatalWarnings();
    int status = 0;
    {
        QApplication application(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    return status;
}
