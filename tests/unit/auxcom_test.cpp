#include "script/auxcom_cmd.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "fake_ui.h"
#include "pty_board.h"
#include "util/cmdline.h"
#include "script/script_cmds.h"
#include "script/scripting.h"
#include "config/shellvar.h"

namespace {

int Cmd(const std::string& line) {
    std::vector<std::string> words;
    if (!SplitArgs(line, words)) return -4;
    auto argv = ArgvOf(words);
    script_getopt_reset();
    script_error("%s", "");
    return ScriptCmdsFind(argv[0])(static_cast<int>(words.size()), argv.data());
}

std::string Var(const char* name) { return shell_getenv(name).value_or("<unset>"); }

// A pseudo-terminal pair whose slave is COM port `port` for AUXCOM.
struct Pty : PtyBoard {
    explicit Pty(int port) {
        EXPECT_FALSE(path.empty());
        shell_setenv(("COMDEV_" + std::to_string(port)).c_str(), path.c_str());
    }
    // What the program sent until `needle` arrived (or 10 s).
    std::string ReadUntil(const std::string& needle) {
        got.clear();
        Expect(needle, 10000);
        return got;
    }
    void Write(const std::string& s) { Send(s); }
};

struct AuxcomFixture : ::testing::Test {
    FakeUi ui;
    void TearDown() override { AuxcomCloseAll(); }
};

TEST_F(AuxcomFixture, OpenWriteWithPromptAndClose) {
    Pty pty(7);
    ASSERT_EQ(Cmd("AUXCOM OPEN 7 115200 8 NONE 1 NONE"), 0);
    EXPECT_EQ(Cmd("AUXCOM OPEN 7 9600 8 none 1 none"), -1);
    EXPECT_EQ(ScriptErrorText(), "AUXCOM port 7 already assigned.");

    std::thread target([&] {
        std::string cmd = pty.ReadUntil("\r");
        EXPECT_EQ(cmd, "status\r");
        pty.Write("status\r\nline one\r\nresult=42\r\nOK> ");
    });
    EXPECT_EQ(Cmd("AUXCOM -p \"OK> \" -t 10 WRITE 7 status\\r"), 0);
    target.join();
    EXPECT_EQ(Var("SCR_TIMEOUT"), "FALSE");
    EXPECT_EQ(Var("AUXLASTLINE"), "result=42");

    // The prompt never comes: the wait ends at the limit.
    EXPECT_EQ(Cmd("AUXCOM -p never -t 1 WRITE 7 x"), 0);
    EXPECT_EQ(Var("SCR_TIMEOUT"), "TRUE");
    EXPECT_EQ(pty.ReadUntil("x"), "x");

    // Escapes are expanded; without -p there is no wait and SCR_TIMEOUT stays removed.
    EXPECT_EQ(Cmd("AUXCOM WRITE 7 \\x41\\x42"), 0);
    EXPECT_EQ(Var("SCR_TIMEOUT"), "<unset>");
    EXPECT_EQ(pty.ReadUntil("AB"), "AB");

    EXPECT_EQ(Cmd("AUXCOM DTRSET 7"), 0);  // no modem lines on a pty: accepted
    EXPECT_EQ(Cmd("AUXCOM RTSCLR 7"), 0);
    EXPECT_EQ(Cmd("AUXCOM CLOSE 7"), 0);
    EXPECT_EQ(Cmd("AUXCOM CLOSE 7"), -1);
    EXPECT_EQ(ScriptErrorText(), "AUXCOM port 7 not assigned.");
    EXPECT_EQ(Cmd("AUXCOM WRITE 7 x"), -1);
    EXPECT_EQ(ScriptErrorText(), "AUXCOM port 7 not assigned.");
}

TEST_F(AuxcomFixture, SlotsAndArguments) {
    std::vector<std::unique_ptr<Pty>> ptys;
    for (int port = 11; port <= 19; port++) ptys.push_back(std::make_unique<Pty>(port));
    for (int port = 11; port <= 18; port++)
        EXPECT_EQ(Cmd("AUXCOM OPEN " + std::to_string(port) + " 9600 7 EVEN 2 RTSCTS"), 0) << port;
    EXPECT_EQ(Cmd("AUXCOM OPEN 19 9600 8 NONE 1 NONE"), -1);
    EXPECT_EQ(ScriptErrorText(), "Max AUXCOM ports assigned.");
    EXPECT_EQ(Cmd("AUXCOM CLOSE 11"), 0);
    EXPECT_EQ(Cmd("AUXCOM OPEN 19 9600 8 NONE 1 NONE 1"), 0);

    struct Case {
        std::string line;
        int rc;
    } cases[] = {
        {"AUXCOM", -3},
        {"AUXCOM OPEN 20 9600 8 NONE 1", -3},
        {"AUXCOM OPEN 20 9600 8 BAD 1 NONE", -2},
        {"AUXCOM OPEN 20 9600 8 NONE 3 NONE", -2},
        {"AUXCOM OPEN 20 9600 8 NONE 1 MAYBE", -2},
        {"AUXCOM FLIP 12", -2},
        {"AUXCOM CLOSE", -3},
        {"AUXCOM WRITE 12 " + std::string(129, 'a'), -2},  // beyond 128 bytes
    };
    for (const auto& c : cases) EXPECT_EQ(Cmd(c.line), c.rc) << c.line;
}

TEST_F(AuxcomFixture, MissingDeviceFailsToOpen) {
    shell_setenv("COMDEV_30", "/nonexistent/tty");
    EXPECT_EQ(Cmd("AUXCOM OPEN 30 9600 8 NONE 1 NONE"), -1);
    EXPECT_EQ(ScriptErrorText(), "AUXCOM port COM30, failed to open.");
}

}  // namespace
