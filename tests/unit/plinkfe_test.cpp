#include "console/screenbuf.h"
#include "backend/plinkfe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "app/oxel.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"
#include "proc.h"
#include "config/shellvar.h"

namespace {

// A stand-in "ssh" early on PATH, so the external-client path runs a script
// of the test's choosing.
class PlinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        SetFrameInitialised(true);
        g_cfg.TRACEFLAGS |= TRC_TELNET;
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (dir_.path() + ":" + oldPath_).c_str(), 1);
        shell_setenv("PLINKVERIFY", "");
    }
    void TearDown() override {
        ClosePlinkConnection();
        setenv("PATH", oldPath_.c_str(), 1);
        shell_setenv("PLINKVERIFY", "");
        SetFrameInitialised(false);
    }
    void FakeSsh(const std::string& body) {
        dir_.Write("ssh", "#!/bin/sh\n" + body + "\n");
        chmod(dir_.File("ssh").c_str(), 0755);
    }
    void Start(const char* args) {
        CFG_SET_STRING(g_cfg.BACKENT_PLINK_ARGS, args);
        g_cfg.BACKEND = 4;
    }
    bool ConsoleHas(const std::string& s, int ms = 10000) {
        return WaitFor([&] { return ui.Console().find(s) != std::string::npos; }, ms);
    }
    FakeUi ui;
    TempDir dir_;
    std::string oldPath_;
};

// First in the file: the first-CR rule holds once per program run.
TEST_F(PlinkTest, FirstCarriageReturnOfTheRunBecomesLineFeed) {
    FakeSsh("stty raw -echo; echo READY; head -c 6 | od -An -c");
    Start("board");
    ASSERT_EQ(PlinkOpen(), 1);
    ASSERT_TRUE(ConsoleHas("READY"));  // the terminal is raw: bytes pass unchanged
    PlinkWrite("a\rb\r", 4);
    PlinkWrite("c\r", 2);
    EXPECT_TRUE(ConsoleHas("a  \\n   b  \\r   c  \\r")) << ui.Console();
}

TEST_F(PlinkTest, CommandLines) {
    FakeSsh("exit 0");
    struct {
        const char* args;
        std::vector<std::string> argv;
        bool shell;
    } cases[] = {
        {"SHELL:  \t/bin/sh", {"sh", "-c", "/bin/sh"}, true},
        {"SHELL:", {"sh"}, true},
        {"-v user@board:2222", {"ssh", "-p", "2222", "-v", "user@board"}, false},
        {"-v user@board", {"ssh", "-v", "user@board"}, false},
    };
    for (const auto& c : cases) {
        PlinkCommand cmd = PlinkBuildCommand(c.args);
        EXPECT_EQ(cmd.argv, c.argv) << c.args;
        EXPECT_EQ(cmd.shellMode, c.shell) << c.args;
    }
    EXPECT_EQ(PlinkBuildCommand("x").exePath, dir_.File("ssh"));
    PlinkCommand login = PlinkBuildCommand("CMD");
    EXPECT_TRUE(login.shellMode);
    ASSERT_EQ(login.argv.size(), 1u);
    EXPECT_EQ(login.argv[0][0], '-');  // started as a login shell
}

TEST_F(PlinkTest, ShellRunsACommandAndShowsItsOutput) {
    Start("SHELL: /bin/sh");
    ASSERT_EQ(PlinkOpen(), 1);
    EXPECT_TRUE(PlinkRunning());
    EXPECT_EQ(g_cfg.LOCALECHO, 1);
    EXPECT_EQ(g_cfg.ENTER_IS_CRLF, 1);
    EXPECT_EQ(g_cfg.APPEND_CR, 1);
    EXPECT_EQ(g_cfg.BACKEND_PLINK_ENABLED, 1);
    EXPECT_EQ(shell_getenv("PLINKBACKEND_ARGS").value_or(""), "SHELL: /bin/sh");
    const char* cmd = "echo hel\"\"lo\r\n";
    EXPECT_EQ(PlinkWrite(cmd, strlen(cmd)), 1);
    EXPECT_TRUE(ConsoleHas("hello")) << ui.Console();

    EXPECT_EQ(ClosePlinkConnection(), 1);
    EXPECT_FALSE(PlinkRunning());
    EXPECT_EQ(g_cfg.BACKEND, 0);
    EXPECT_EQ(g_cfg.BACKEND_PLINK_ENABLED, 0);
    EXPECT_NE(TraceText().find("ClosePlinkConnection()"), std::string::npos);
    for (int id : {404, 449, 457, 450})
        EXPECT_NE(std::find(ui.menuChecked.begin(), ui.menuChecked.end(), std::make_pair(id, false)),
                  ui.menuChecked.end());
}

TEST_F(PlinkTest, ExternalClientGetsPortAndArgumentsAndItsEndIsNoticedAtTheNextWrite) {
    FakeSsh("echo \"ARGS:$*\"");
    Start("-v user@board:2222");
    ASSERT_EQ(PlinkOpen(), 1);
    EXPECT_TRUE(ConsoleHas("ARGS:-p 2222 -v user@board"));
    // The reader reports the end of the child's output ...
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& b : ui.Boxes())
            if (b.text == "PLINK client reader terminated" || b.title.find("PLINK client reader terminated") != std::string::npos)
                return true;
        return false;
    }));
    // ... and the next write finds it gone and offers a restart.
    ui.Answer(IDYES);
    EXPECT_EQ(PlinkWrite("x", 1), 1);
    bool asked = false;
    for (const auto& b : ui.Boxes()) asked |= b.text == "plink.exe terminated, want to restart?";
    EXPECT_TRUE(asked);
    EXPECT_EQ(g_cfg.BACKEND, 4);
    EXPECT_EQ(g_cfg.BACKEND_PLINK_ENABLED, 1);
}

TEST_F(PlinkTest, DecliningTheRestartEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FakeSsh("exit 0");
    Start("board");
    EXPECT_EXIT(
        {
            PlinkOpen();
            WaitFor([] { return false; }, 300);
            ui.Answer(IDNO);
            PlinkWrite("x", 1);
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(PlinkTest, ShellModeChildEndEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Start("SHELL: exit 0");
    EXPECT_EXIT(
        {
            PlinkOpen();
            WaitFor([] { return false; }, 300);
            PlinkWrite("x", 1);
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(PlinkTest, VerifyOverride) {
    FakeSsh("sleep 30");
    std::string right = Md5FileHex(dir_.File("ssh")).value_or("");
    struct {
        const char* verify;
        int answer;
        int result;
        bool sanityBox;
    } cases[] = {
        {"IGNORE", IDOK, 1, false},
        {"00000000000000000000000000000000", IDOK, 0, true},
        {right.c_str(), IDOK, 1, false},
        {"IGNORE", IDCANCEL, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.verify);
        ui.Reset();
        shell_setenv("PLINKVERIFY", c.verify);
        Start("board");
        ui.Answer(c.answer);
        EXPECT_EQ(PlinkOpen(), c.result);
        auto boxes = ui.Boxes();
        ASSERT_GE(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, "Plink sanity test override");
        EXPECT_EQ(boxes[0].text, std::string("Ok to continue using '") + c.verify + "'?");
        bool sanity = false;
        for (const auto& b : boxes) sanity |= b.title == "PLINK Error" && b.text == "Sanity check failed";
        EXPECT_EQ(sanity, c.sanityBox);
        ClosePlinkConnection();
    }
    // Unset: no question, no check.
    ui.Reset();
    shell_setenv("PLINKVERIFY", "");
    EXPECT_EQ(PlinkOpen(), 1);
    EXPECT_TRUE(ui.Boxes().empty());
}

}  // namespace
