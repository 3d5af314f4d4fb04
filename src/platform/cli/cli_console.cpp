#include "platform/cli/cli_console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/oxel.h"
#include "platform/cli/cli_controls.h"
#include "config/configrecord.h"
#include "console/keyboard.h"
#include "console/screenbuf.h"
#include "platform/process.h"

namespace {

struct CliInput {
    std::thread reader;
    int stopPipe[2] = {-1, -1};
    int winchPipe[2] = {-1, -1};   // the terminal was resized
    bool rawMode = false;
    termios saved{};
    std::atomic<bool> stop{false}, done{false};
};
CliInput g_in;

void SizeFromTerminal() {
    winsize ws{};
    int fd = isatty(STDOUT_FILENO) ? STDOUT_FILENO : STDIN_FILENO;
    if (isatty(fd) && ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0)
        ConsoleResizeChars(ws.ws_row, ws.ws_col);
    else
        ConsoleResizeChars(g_cfg.CONSOLE_ROWS, g_cfg.CONSOLE_COLS);
}

void EnterRawMode() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_in.saved) != 0) return;
    termios raw = g_in.saved;
    cfmakeraw(&raw);
    raw.c_oflag |= OPOST | ONLCR;   // target text keeps its own line ends; our own lines stay readable
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) g_in.rawMode = true;
}

void LeaveRawMode() {
    if (g_in.rawMode) tcsetattr(STDIN_FILENO, TCSANOW, &g_in.saved);
    g_in.rawMode = false;
}

void OnWinch(int) {
    ssize_t w = write(g_in.winchPipe[1], "w", 1);
    (void)w;
}

// Reads standard input into the typed-character path until end of file or
// the stop pipe. End of file only stops reading: a run without input (CI,
// a closed pipe) goes on until it is told to end.
void ReadInput(int stopFd) {
    bool open = true;
    char buf[256];
    for (;;) {
        pollfd fds[3] = {{open ? STDIN_FILENO : -1, POLLIN, 0}, {stopFd, POLLIN, 0}, {g_in.winchPipe[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) continue;
        if (fds[1].revents) return;
        if (fds[2].revents) {
            ssize_t r = read(g_in.winchPipe[0], buf, sizeof buf);
            (void)r;
            SizeFromTerminal();
        }
        if (!fds[0].revents) continue;
        ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            open = false;   // end of input: keep following resizes until stopped
            continue;
        }
        if (g_in.stop.load()) return;
        if (!g_in.rawMode) {
            for (ssize_t i = 0; i < n && !g_in.stop.load(); ++i) KeyboardChar(buf[i]);
        } else if (!CliControlsInput(buf, static_cast<size_t>(n))) {
            return;
        }
    }
}

}  // namespace

void CliStartInput() {
    if (!ConsoleReady()) ConsoleInit(1200, 250);
    ConsoleApplyConfig();
    SizeFromTerminal();
    if (g_in.reader.joinable()) return;
    if (pipe(g_in.stopPipe) != 0) return;
    if (pipe2(g_in.winchPipe, O_NONBLOCK | O_CLOEXEC) == 0) signal(SIGWINCH, OnWinch);
    EnterRawMode();
    g_in.reader = std::thread([fd = g_in.stopPipe[0]] {
        ReadInput(fd);
        g_in.done = true;
    });
}

void CliStopInput() {
    if (!g_in.reader.joinable()) return;
    g_in.stop = true;
    ssize_t w = write(g_in.stopPipe[1], "x", 1);
    (void)w;
    // A key still being written to a stuck line (a peer that never reads)
    // is ended by the backend's close, which must not wait for this thread.
    if (!JoinThreadWithin(g_in.reader, g_in.done, 1000)) return;
    close(g_in.stopPipe[0]);
    close(g_in.stopPipe[1]);
    signal(SIGWINCH, SIG_DFL);
}

void CliAtExit() {
    CliStopInput();
    LeaveRawMode();
    KeyboardPasteWait();
    const char* dump = std::getenv("OXEL_SCREEN_DUMP");
    if (!dump || !*dump) return;
    std::string text = ConsoleBufferText("\n");
    if (FILE* f = std::fopen(dump, "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}
