// A script talks to a board through oxel-cli: the test plays the board on a
// pseudo-terminal pair that stands in for the COM port.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <string>

#include "proc.h"
#include "pty_board.h"

namespace {

// The script's board reads each expected command once.
struct Board : PtyBoard {
    bool Expect(const std::string& needle, int ms = 30000) { return PtyBoard::Expect(needle, ms, true); }
};

// A home with a board configuration whose start-up script is `script`.
void MakeHome(const TempDir& home, const std::string& script) {
    home.Write("board.ct",
               "########\nBACKEND 1\nCOMPORT 3\nBAUDRATE 115200\nDELAY_BETWEEN_CHARS 0\nSTARTUP_SCRIPT \"e2e.scr\"\n");
    std::string dir = home.File("scripts");
    mkdir(dir.c_str(), 0755);
    home.Write("scripts/e2e.scr", script);
}

TEST(TargetScript, SendRecvRegexString) {
    TempDir home;
    Board board;
    ASSERT_FALSE(board.path.empty());
    MakeHome(home,
             "SET PROMPT \"board> \"\n"
             "SEND -t 60 hello\n"
             "ECHO FIRST=$SCR_TIMEOUT\n"
             "RECV blkinit 1024\n"
             "SEND -n \"show temp\"\n"
             "RECV -c -t 60 \"board> \"\n"
             "REGEX \"temp=([0-9.]+)C\" \"$RECVBLOCK\"\n"
             "STRING postcut $RM_2 2\n"
             "ECHO VALUE=$STRING TIMEOUT=$SCR_TIMEOUT\n"
             "EXIT OXEL\n");
    Proc p(CliPath(), {"-D", "COMDEV_3=" + board.path, home.File("board.ct")}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(board.Expect("hello\r"));
    board.Send("hello\r\nboard> ");
    ASSERT_TRUE(board.Expect("show temp\r"));
    // SEND -n does not wait: give the script time to reach its RECV, whose
    // pattern wait starts then, as a real board's reply takes a while.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    board.Send("show temp\r\ntemp=42.5C\r\nboard> ");
    EXPECT_TRUE(p.WaitOutput("VALUE=42 TIMEOUT=FALSE", 30000)) << p.Out() << p.Err();
    EXPECT_NE(p.Out().find("FIRST=FALSE"), std::string::npos);
    EXPECT_EQ(p.Wait(30000), 2);
}

TEST(TargetScript, PromptThatNeverComesTimesOut) {
    TempDir home;
    Board board;
    ASSERT_FALSE(board.path.empty());
    MakeHome(home,
             "SET PROMPT \"board> \"\n"
             "SEND -t 2 ping\n"
             "ECHO TIMEOUT=$SCR_TIMEOUT\n"
             "EXIT OXEL\n");
    Proc p(CliPath(), {"-D", "COMDEV_3=" + board.path, home.File("board.ct")}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(board.Expect("ping\r"));
    auto sent = std::chrono::steady_clock::now();
    board.Send("ping\r\nno prompt\r\n");
    ASSERT_TRUE(p.WaitOutput("TIMEOUT=TRUE", 60000)) << p.Out() << p.Err();
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(1500));
    EXPECT_EQ(p.Wait(30000), 2);
}

TEST(TargetScript, CaughtLineIsTaggedAtTheRightColumn) {
    TempDir home;
    Board board;
    ASSERT_FALSE(board.path.empty());
    MakeHome(home,
             "CATCH tagon\n"
             "CATCH -n ALARM\n"
             "SET PROMPT done\n"
             "SEND -t 60 ready\n"
             "ECHO CAUGHT=$CATCHSTRING\n"
             "EXIT OXEL\n");
    std::string dump = home.File("screen.txt");
    Proc p(CliPath(), {"-D", "COMDEV_3=" + board.path, home.File("board.ct")},
           {"OXEL_HOME=" + home.path(), "OXEL_SCREEN_DUMP=" + dump});
    ASSERT_TRUE(board.Expect("ready\r"));
    board.Send("x ALARM high\r\nquiet\r\ndone\r\n");
    EXPECT_TRUE(p.WaitOutput("CAUGHT=ALARM", 30000)) << p.Out() << p.Err();
    EXPECT_EQ(p.Wait(30000), 2);
    std::string screen = home.Read("screen.txt");
    // COLS is 80 without a terminal: the tag starts in column 75.
    EXPECT_NE(screen.find("x ALARM high" + std::string(63, ' ') + "<<**"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("quiet "), std::string::npos);
}

}  // namespace
