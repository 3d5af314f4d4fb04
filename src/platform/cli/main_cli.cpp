// oxel-cli: the program in a terminal or with no terminal at all.
#include <signal.h>

#include <cstdio>
#include <thread>

#include "app/oxel.h"
#include "platform/cli/cli_console.h"
#include "platform/cli/cli_ui.h"

namespace {

// SIGINT and SIGTERM end the run in order, through the same shutdown as a
// closed window; a dedicated thread turns the signal into a request.
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
    static CliUi face;
    int status = OxelStart(argc, argv, face);
    if (status >= 0) return status;
    CliStartInput();
    status = face.WaitForQuit();
    OxelShutdown();
    CliAtExit();
    std::fflush(nullptr);
    return status;
}
