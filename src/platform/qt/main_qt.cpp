// oxel: the desktop program.
#include <signal.h>

#include <QApplication>
#include <QTimer>

#include "app/oxel.h"
#include "platform/qt/mainwindow.h"
#include "platform/qt/qt_ui.h"

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    MainWindow window;
    QtUi face(&window);
    int status = OxelStart(argc, argv, face);
    if (status >= 0) return status;
    window.BuildMenus();
    OxelSyncMenus();
    window.show();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [] { OxelFrameTick(); });
    tick.start(1000);
    status = app.exec();
    OxelShutdown();
    return status;
}
