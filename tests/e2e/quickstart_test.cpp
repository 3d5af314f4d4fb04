// A device named on the command line opens at once, without a configuration
// file; --list shows the ports the program would find.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <string>

#include "proc.h"
#include "pty_board.h"

namespace {

TEST(QuickStart, DeviceOpensAtTheGivenRateAndTypingReachesTheBoard) {
    TempDir home;
    PtyBoard board;
    ASSERT_FALSE(board.path.empty());
    Proc p(CliPath(), {board.path, "-b", "57600"}, {"OXEL_HOME=" + home.path()});
    const std::string line = "Connected to " + board.path + " at 57600 8N1 (Ctrl-] ? for help)\r\n";
    ASSERT_TRUE(p.WaitOutput(line, 20000)) << p.Out() << p.Err();
    EXPECT_EQ(board.LineRate(), 57600u);
    EXPECT_EQ(board.LineCflag() & (CSIZE | PARENB | CSTOPB), static_cast<unsigned>(CS8));
    p.Write("help\r");
    EXPECT_TRUE(board.Expect("help\r"));
    board.Send("boot> ");
    EXPECT_TRUE(p.WaitOutput("boot> ", 15000));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
    EXPECT_EQ(p.Err(), "");
}

TEST(QuickStart, DefaultRateIs115200) {
    TempDir home;
    PtyBoard board;
    Proc p(CliPath(), {board.path}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(p.WaitOutput(" at 115200 8N1", 20000)) << p.Out() << p.Err();
    EXPECT_EQ(board.LineRate(), 115200u);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
}

TEST(QuickStart, DeviceThatCannotOpenEndsWithStatusOne) {
    TempDir home;
    // A character device that is not a terminal.
    ProcResult r = RunCli({"/dev/null"}, {"OXEL_HOME=" + home.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("[Connection failed] /dev/null: ", 0), 0u) << r.err;
}

TEST(QuickStart, ListShowsAPortGivenByComdev) {
    TempDir home;
    PtyBoard board;
    ProcResult r = RunCli({"-D", "COMDEV_450=" + board.path, "--list"}, {"OXEL_HOME=" + home.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("COM450 (" + board.path + ")\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

}  // namespace
