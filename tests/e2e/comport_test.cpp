// oxel-cli on a COM port: a pseudo-terminal pair stands in for the board.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "proc.h"
#include "pty_board.h"

namespace {

using Board = PtyBoard;

size_t Count(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

// Far-end bytes reach the program only once the port is open; the board
// repeats a probe until the program shows it.
bool WaitConnected(Proc& p, Board& b, const std::string& probe) {
    for (int i = 0; i < 60; ++i) {
        b.Send(probe);
        if (p.WaitOutput(probe, 250)) return true;
    }
    return false;
}

TEST(CliComPort, TypedBytesReachTheBoardAndItsAnswerIsShownAndLogged) {
    TempDir home;
    Board board;
    ASSERT_FALSE(board.path.empty());
    const std::string log = home.File("board.log");
    home.Write("board.ct", "########\nBACKEND 1\nCOMPORT 3\nBAUDRATE 115200\nLOGGING_ENABLED TRUE\nLOGGING_NOWARNING TRUE\n"
                           "LOGGING_FILENAME \"" + log + "\"\n");
    Proc p(CliPath(), {"-D", "COMDEV_3=" + board.path, home.File("board.ct")}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(WaitConnected(p, board, "ready>"));
    p.Write("version\r");
    EXPECT_TRUE(board.Expect("version\r"));
    board.Send("oxel board 1.2\r\n");
    EXPECT_TRUE(p.WaitOutput("oxel board 1.2\r\n", 15000));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
    EXPECT_NE(home.Read("board.log").find("oxel board 1.2"), std::string::npos);
}

TEST(CliComPort, BoardGoneClosesOnceAndTheNextKeyReconnects) {
    TempDir home;
    auto board = std::make_unique<Board>();
    // The port's device is a link, so the board can come back on a new node.
    const std::string link = home.File("board-tty");
    ASSERT_EQ(symlink(board->path.c_str(), link.c_str()), 0);
    home.Write("board.ct", "########\nBACKEND 1\nCOMPORT 3\n");
    Proc p(CliPath(), {"-D", "COMDEV_3=" + link, home.File("board.ct")}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(WaitConnected(p, *board, "ready>"));
    board->Close();
    const std::string banner = "# COMPORT error, connection closed automatically.\r\n";
    ASSERT_TRUE(p.WaitOutput(banner, 15000));

    board = std::make_unique<Board>();
    unlink(link.c_str());
    ASSERT_EQ(symlink(board->path.c_str(), link.c_str()), 0);
    p.Write("x");
    EXPECT_TRUE(p.WaitOutput("# Attempting to reconnect...\r\n", 15000));
    EXPECT_TRUE(board->Expect("x"));
    board->Send("back");
    EXPECT_TRUE(p.WaitOutput("back", 15000));
    EXPECT_EQ(Count(p.Out(), banner), 1u);
    EXPECT_EQ(p.Out().find("# No luck..."), std::string::npos);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
}

TEST(CliComPort, AnyOpensTheFirstPresentPort) {
    TempDir home;
    Board board;
    home.Write("any.ct", "########\nBACKEND 1\nCOMPORT 1026\n");
    Proc p(CliPath(),
           {"-D", "COMDEV_1=" + home.File("absent1"), "-D", "COMDEV_2=" + home.File("absent2"), "-D",
            "COMDEV_3=" + board.path, home.File("any.ct")},
           {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(WaitConnected(p, board, "ready>"));
    p.Write("k");
    EXPECT_TRUE(board.Expect("k"));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
}

TEST(CliComPort, PassthroughCarriesBothWays) {
    TempDir home;
    Board main, alt;
    home.Write("pair.ct", "########\nBACKEND 1\nCOMPORT 1\n");
    Proc p(CliPath(), {"-A", "2", "-D", "COMDEV_1=" + main.path, "-D", "COMDEV_2=" + alt.path, home.File("pair.ct")},
           {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(WaitConnected(p, main, "m>"));
    main.Send("from-main");
    EXPECT_TRUE(alt.Expect("from-main"));
    alt.Send("from-alt");
    EXPECT_TRUE(main.Expect("from-alt"));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
}

TEST(CliComPort, LoopbackEchoesTypedBytes) {
    TempDir home;
    home.Write("lpbk.ct", "########\nBACKEND 1\nCOMPORT 1025\n");
    Proc p(CliPath(), {home.File("lpbk.ct")}, {"OXEL_HOME=" + home.path()});
    p.Write("looped back");
    EXPECT_TRUE(p.WaitOutput("looped back", 15000));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
}

TEST(CliComPort, MissingPortIsReportedAndTheProgramGoesOn) {
    TempDir home;
    home.Write("gone.ct", "########\nBACKEND 1\nCOMPORT 7\n");
    Proc p(CliPath(), {"-D", "COMDEV_7=" + home.File("absent"), home.File("gone.ct")}, {"OXEL_HOME=" + home.path()});
    EXPECT_TRUE(p.WaitError("COM7 not found on this system.", 15000));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
}

}  // namespace
