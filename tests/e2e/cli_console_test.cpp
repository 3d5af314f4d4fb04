#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "proc.h"

// A closed standard input (a CI run) must not end the program; the screen
// dump is written at exit.
TEST(CliConsole, EndOfInputKeepsRunningAndDumpIsWritten) {
    TempDir home;
    const std::string dump = home.File("screen.txt");
    Proc p(CliPath(), {}, {"OXEL_HOME=" + home.path(), "OXEL_SCREEN_DUMP=" + dump});
    p.Write("typed while disconnected\r");
    p.CloseStdin();
    // Still running well after end of input.
    EXPECT_EQ(p.Wait(1500), -1);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
    struct stat st {};
    EXPECT_EQ(stat(dump.c_str(), &st), 0) << "dump file written";
}

// On a terminal, Ctrl-] then q ends the run in order; LINES/COLS follow the
// terminal's size.
TEST(CliConsole, CtrlBracketQuitsFromATerminal) {
    TempDir home;
    const std::string dump = home.File("screen.txt");
    winsize ws{};
    ws.ws_row = 30;
    ws.ws_col = 100;
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("OXEL_HOME", home.path().c_str(), 1);
        setenv("OXEL_SCREEN_DUMP", dump.c_str(), 1);
        execl(CliPath().c_str(), CliPath().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    usleep(500 * 1000);
    ASSERT_EQ(write(master, "\x1dq", 2), 2);
    int status = -1;
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) break;
        char buf[256];
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 50) > 0 && read(master, buf, sizeof buf) < 0) usleep(50 * 1000);
        status = -1;
    }
    if (status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "Ctrl-] q did not end the program";
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    close(master);
}
