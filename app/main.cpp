// pulsebench: the workbench window.

#include <clocale>
#include <memory>

#include <QApplication>
#include <QStringList>

#include "workbench/workbench.h"
#include "platform/qt/main_window.h"
#include "recording/recording_window.h"

namespace {
// `--recording FILE [--rate HZ] [--shapes FILE]` opens the recording view on a recording (a
// text recording at HZ samples per second, default 1) and its pulse shapes at start-up.
void openRecordingFromArguments(RecordingWindow& recording, const QStringList& arguments) {
    const auto valueOf = [&](const QString& option) {
        const qsizetype at = arguments.indexOf(option);
        return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1] : QString();
    };
    const QString file = valueOf(QStringLiteral("--recording"));
    if (file.isEmpty()) return;
    recording.show();
    SignalReadOptions options;
    if (const QString rate = valueOf(QStringLiteral("--rate")); !rate.isEmpty()) options.rate = rate.toDouble();
    if (!recording.openRecording(file, options)) return;
    if (const QString shapes = valueOf(QStringLiteral("--shapes")); !shapes.isEmpty()) recording.loadShapes(shapes);
}
}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Numbers in dialogs and reports are read and written with a decimal point, whatever the
    // user's locale says.
    std::setlocale(LC_NUMERIC, "C");
    Workbench workbench;
    MainWindow window(workbench);
    if (!window.created()) return 0;
    // The recording view: its own window, reached from the workbench's "Recording" menu, with
    // the exact detection of the engine behind its "Detect".
    RecordingWindow* recording = addRecordingView(window, std::make_shared<EngineRecordingDetector>());
    window.showMaximized();
    openRecordingFromArguments(*recording, application.arguments());
    return application.exec();
}
