// pulsebench: the workbench window.

#include <clocale>

#include <QApplication>

#include "core/workbench.h"
#include "platform/qt/main_window.h"
#include "recording/recording_window.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Numbers in dialogs and reports are read and written with a decimal point, whatever the
    // user's locale says.
    std::setlocale(LC_NUMERIC, "C");
    Workbench workbench;
    MainWindow window(workbench);
    if (!window.created()) return 0;
    // The recording view: its own window, reached from the workbench's "Recording" menu.
    addRecordingView(window);
    window.showMaximized();
    return application.exec();
}
