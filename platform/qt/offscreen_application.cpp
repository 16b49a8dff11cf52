#include "platform/qt/offscreen_application.h"

#include <QGuiApplication>

#include <clocale>
#include <cstdio>
#include <memory>

void ensureOffscreenApplication() {
    if (QCoreApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "pulsebench";
    static char* argv[] = {name, nullptr};
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR"))) return;
        if (previous)
            previous(type, context, text);
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
    static std::unique_ptr<QGuiApplication> application = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(previous);
    std::setlocale(LC_NUMERIC, "C");
}
