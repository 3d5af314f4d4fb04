#include "platform/signals.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/report.h"

void ShutdownOnSignals() {
    signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int sig = 0;
        sigwait(&set, &sig);
        RequestShutdown(0);
        // A second signal ends a shutdown that hangs.
        sigwait(&set, &sig);
        std::fflush(nullptr);
        std::_Exit(0);
    }).detach();
}
