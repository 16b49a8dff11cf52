#include <QApplication>

#include <gtest/gtest.h>

#include "../qt_fatal_warnings.h"

int main(int argc, char** argv) {
    // Every test runs on the offscreen platform, also when the build lists the tests.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's notes about what it cannot do are let through; any other warning
    // fails the run under QT_FATAL_WARNINGS.
    qt_test::installFatalWarnings();
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
