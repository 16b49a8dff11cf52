// pulsebench: the workbench window.

#include <algorithm>
#include <clocale>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStringList>

#include "app/about.h"
#include "app/window_arguments.h"
#include "core/version.h"
#include "workbench/workbench.h"
#include "platform/qt/main_window.h"
#include "recording/recording_window.h"

namespace {
// A recording named on the command line opens in the recording view at start-up, with its pulse
// shapes when they are named too.
void openRecordingFromArguments(RecordingWindow& recording, const WindowArguments& arguments) {
    if (arguments.recording.empty()) return;
    recording.show();
    SignalReadOptions options;
    options.rate = arguments.rate;
    if (!recording.openRecording(QString::fromStdString(arguments.recording), options)) return;
    if (!arguments.shapes.empty()) recording.loadShapes(QString::fromStdString(arguments.shapes));
}

// Help > About PulseBench: the version, the licence and the libraries the program is built with.
void addAboutBox(QMainWindow& window) {
    QMenu* help = window.menuBar()->addMenu(QObject::tr("&Help"));
    QAction* about = help->addAction(QObject::tr("&About PulseBench..."));
    QObject::connect(about, &QAction::triggered, &window, [&window] {
        QString libraries;
        for (const auto& [name, version] : libraryVersions())
            libraries += QStringLiteral("<li>%1 %2</li>").arg(QString::fromStdString(name).toHtmlEscaped(),
                                                             QString::fromStdString(version).toHtmlEscaped());
        QMessageBox::about(&window, QObject::tr("About PulseBench"),
                           QObject::tr("<h3>PulseBench %1</h3>"
                                       "<p>A research workbench for the a-posteriori detection and recognition "
                                       "of pulse sequences in noisy signals.</p>"
                                       "<p>Licence: %2</p><p>Built with:</p><ul>%3</ul>")
                               .arg(QString::fromUtf8(pulsebenchVersion), QString::fromUtf8(pulsebenchLicence),
                                    libraries));
    });
}
}  // namespace

int main(int argc, char** argv) {
    // --help and --version are answered before anything needs a display.
    const std::vector<std::string> raw(argv + 1, argv + argc);
    const auto given = [&raw](const char* option) { return std::find(raw.begin(), raw.end(), option) != raw.end(); };
    if (given("--help") || given("-h")) {
        std::cout << windowHelpText();
        return 0;
    }
    if (given("--version")) {
        std::cout << versionText("pulsebench") << '\n';
        return 0;
    }
    QApplication application(argc, argv);
    // Numbers in dialogs and reports are read and written with a decimal point, whatever the
    // user's locale says.
    std::setlocale(LC_NUMERIC, "C");
    // The arguments left once Qt has taken its own (-platform, -style, ...).
    std::vector<std::string> rest;
    const QStringList arguments = application.arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) rest.push_back(arguments[i].toStdString());
    const WindowArguments parsed = parseWindowArguments(rest);
    if (!parsed.error.empty()) {
        std::cerr << "pulsebench: " << parsed.error << "\nRun with --help for more information.\n";
        return 2;
    }
    Workbench workbench;
    MainWindow window(workbench);
    if (!window.created()) return 0;
    // The recording view: its own window, reached from the workbench's "Recording" menu, with
    // the exact detection of the engine behind its "Detect".
    RecordingWindow* recording = addRecordingView(window, std::make_shared<EngineRecordingDetector>());
    addAboutBox(window);
    window.showMaximized();
    openRecordingFromArguments(*recording, parsed);
    return application.exec();
}
