// oxel-cli: the program in a terminal or with no terminal at all.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <mutex>
#include <thread>

#include "app/oxel.h"
#include "platform/cli/cli_console.h"
#include "platform/cli/cli_ui.h"
#include "platform/signals.h"

namespace {

// A fatal exit still restores the terminal and writes the screen dump. It may
// come from the input thread itself, which the console's exit step joins, so
// that step runs on a thread of its own and gets a bounded time.
void AtFatalExit() {
    struct Done {
        std::mutex mu;
        std::condition_variable cv;
        bool done = false;
    };
    auto d = std::make_shared<Done>();
    std::thread([d] {
        CliAtExit();
        std::lock_guard l(d->mu);
        d->done = true;
        d->cv.notify_all();
    }).detach();
    std::unique_lock l(d->mu);
    d->cv.wait_for(l, std::chrono::seconds(2), [&] { return d->done; });
}

}  // namespace

int main(int argc, char** argv) {
    ShutdownOnSignals();
    static CliUi face;
    ProgramExitAddStep(AtFatalExit);
    int status = OxelStart(argc, argv, face, {true, !isatty(STDIN_FILENO)});
    if (status >= 0) return status;
    CliStartInput();
    // Tests and wrappers that drive oxel-cli wait for this line, never on a delay.
    if (std::getenv("OXEL_READY")) std::fputs("oxel-cli: ready\n", stderr);
    // The main thread is this face's user-interface thread: it delivers the
    // one-second frame tick until the run is asked to end.
    auto next = std::chrono::steady_clock::now();
    std::optional<int> quit;
    while (!quit) {
        next += std::chrono::seconds(1);
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - std::chrono::steady_clock::now());
        quit = face.WaitForQuit(std::max(wait, std::chrono::milliseconds(0)));
        if (!quit) OxelFrameTick();
    }
    status = *quit;
    CliStopInput();
    OxelShutdown();
    CliAtExit();
    // Reader, server and script threads are detached: end without running
    // static destructors under them.
    std::fflush(nullptr);
    std::_Exit(status);
}
