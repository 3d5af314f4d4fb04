// oxel-cli: the program in a terminal or with no terminal at all.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/oxel.h"
#include "platform/cli/cli_console.h"
#include "platform/cli/cli_ui.h"

namespace {

// SIGINT and SIGTERM end the run in order, through the same shutdown as a
// closed window; a dedicated thread turns the signal into a request. A second
// signal ends a shutdown that hangs.
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
        sigwait(&set, &sig);
        std::fflush(nullptr);
        std::_Exit(0);
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    StartSignalThread();
    static CliUi face;
    SetExitHook(CliAtExit);
    int status = OxelStart(argc, argv, face);
    if (status >= 0) return status;
    CliStartInput();
    status = face.WaitForQuit();
    OxelShutdown();
    CliAtExit();
    // Reader, server and script threads are detached: end without running
    // static destructors under them.
    std::fflush(nullptr);
    std::_Exit(status);
}
