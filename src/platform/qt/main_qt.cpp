// oxel: the desktop program.
#include <signal.h>

#include <QApplication>
#include <QTimer>
#include <thread>

#include "app/oxel.h"
#include "platform/qt/mainwindow.h"
#include "platform/qt/qt_ui.h"

namespace {
// SIGINT and SIGTERM close the window in order, like File -> Exit.
void StartSignalThread() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int sig = 0;
        sigwait(&set, &sig);
        RequestShutdown(0);
    }).detach();
}
}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    StartSignalThread();
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
