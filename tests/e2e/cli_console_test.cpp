#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
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

// Target output on a serial pseudo-terminal reaches standard output byte for
// byte, and the dump holds the screen as text.
TEST(CliConsole, SerialOutputIsShownAndDumped) {
    TempDir home;
    home.Write("defcfg.ct",
               "###################################################\n#\n# Oxel configuration file\n#\n"
               "COMPORT 3\nBAUDRATE 115200\n");
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    const std::string dev = ttyname(slave);
    const std::string dump = home.File("screen.txt");
    Proc p(CliPath(), {"-D", "COMDEV_3=" + dev},
           {"OXEL_HOME=" + home.path(), "OXEL_SCREEN_DUMP=" + dump, "CONSOLE_ROWS=24", "CONSOLE_COLS=80"});
    const std::string sent = "boot: ok   \r\n\x1b[31mred\x1b[0m line\r\n$ ";
    // Resend until the port is open and the text shows.
    bool shown = false;
    for (int i = 0; i < 20 && !shown; ++i) {
        ASSERT_EQ(write(master, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
        shown = p.WaitOutput("$ ", 1000);
    }
    ASSERT_TRUE(shown);
    EXPECT_NE(p.Out().find(sent), std::string::npos) << "bytes reach stdout unchanged";
    // Standard input is the keyboard: typed bytes reach the target.
    p.Write("ls\r");
    std::string typed;
    for (int i = 0; i < 100 && typed.find("ls\r") == std::string::npos; ++i) {
        pollfd fd{master, POLLIN, 0};
        char buf[64];
        if (poll(&fd, 1, 100) > 0) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) typed.append(buf, static_cast<size_t>(n));
        }
    }
    EXPECT_EQ(typed, "ls\r");
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
    std::string text = home.Read("screen.txt");
    // A resend may follow a first copy cut short when the port opened, so
    // look at the last copy: trailing blanks cut, escapes gone, rows joined.
    const size_t red = text.rfind("\nred line\n$");
    ASSERT_NE(red, std::string::npos) << text;
    EXPECT_TRUE(text.substr(0, red).ends_with("boot: ok")) << text;
    EXPECT_EQ(text.find("\x1b"), std::string::npos);
    close(master);
    close(slave);
}
