#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Every test runs on the offscreen platform, also when the build lists the tests.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's notes about what it cannot do are noise here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg && !message.startsWith("This plugin does not support") &&
            !message.startsWith("QStandardPaths:"))
            fprintf(stderr, "%s\n", qPrintable(message));
    });
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
