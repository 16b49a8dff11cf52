// pulsebench: the workbench window.

#include <clocale>

#include <QApplication>

#include "core/workbench.h"
#include "platform/qt/main_window.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Numbers in dialogs and reports are read and written with a decimal point, whatever the
    // user's locale says.
    std::setlocale(LC_NUMERIC, "C");
    Workbench workbench;
    MainWindow window(workbench);
    if (!window.created()) return 0;
    window.showMaximized();
    return application.exec();
}
