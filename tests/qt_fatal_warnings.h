#pragma once

// Fatal Qt warnings for the window tests, set up by their main() before the application object.
//
// With QT_FATAL_WARNINGS=1 any Qt warning ends the test program, so that misuse such as a widget
// made off the GUI thread fails a test. The offscreen platform itself warns that it cannot
// propagate size hints whenever a window with a layout is shown; those notes, and only those,
// are let through. Qt's own handling of the variable is switched off here and done by the
// message handler instead.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace qt_test {

inline bool& fatalWarnings() {
    static bool fatal = false;
    return fatal;
}

/// Call first thing in main(). Also gives Qt a private runtime folder of its own (readable by
/// the test program alone, removed at its end), so that it has nothing to warn about at start-up
/// whatever folder the environment names.
inline void installFatalWarnings() {
    static std::unique_ptr<QTemporaryDir> runtime;
    runtime = std::make_unique<QTemporaryDir>();
    if (runtime->isValid()) qputenv("XDG_RUNTIME_DIR", runtime->path().toUtf8());
    fatalWarnings() = qEnvironmentVariableIntValue("QT_FATAL_WARNINGS") != 0;
    qunsetenv("QT_FATAL_WARNINGS");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtDebugMsg || type == QtInfoMsg) return;
        if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
        std::fprintf(stderr, "%s\n", qPrintable(message));
        if (type == QtFatalMsg || (fatalWarnings() && (type == QtWarningMsg || type == QtCriticalMsg))) {
            std::fprintf(stderr, "A Qt warning is fatal in the window tests (QT_FATAL_WARNINGS).\n");
            std::abort();
        }
    });
}

}  // namespace qt_test
