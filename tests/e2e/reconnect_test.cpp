// A serial device that goes away and comes back (a USB adapter unplugged and
// plugged in again): the port is reopened at once, without a key, and what
// the board says first is shown and logged. The board's device is a link
// the test moves, as udev does with the by-id names.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "proc.h"
#include "pty_board.h"

namespace {

size_t Count(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

// Waits until needle has been shown n times.
bool WaitCount(Proc& p, const std::string& needle, size_t n, int ms = 15000) {
    for (int waited = 0; waited < ms; waited += 50) {
        if (Count(p.Out(), needle) >= n) return true;
        p.WaitOutput("\x01 never shown", 50);
    }
    return Count(p.Out(), needle) >= n;
}

// Points link at target in one step, as a rename does.
void MoveLink(const std::string& link, const std::string& target) {
    std::string tmp = link + ".new";
    std::remove(tmp.c_str());
    ASSERT_EQ(symlink(target.c_str(), tmp.c_str()), 0);
    ASSERT_EQ(std::rename(tmp.c_str(), link.c_str()), 0);
}

size_t Entries(const std::string& dir) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) (void)e, ++n;
    return n;
}

struct Bench {
    TempDir home;
    std::string link = home.File("board-tty");
    std::string log = home.File("board.log");
    std::unique_ptr<PtyBoard> board = std::make_unique<PtyBoard>();
    std::unique_ptr<Proc> p;

    Bench() {
        MoveLink(link, board->path);
        home.Write("board.ct", "########\nBACKEND 1\nCOMPORT 3\nCOMPORT_AUTORECONNECT TRUE\nLOGGING_ENABLED TRUE\n"
                               "LOGGING_NOWARNING TRUE\nLOGGING_FILENAME \"" + log + "\"\n");
        home.Write("board.log", "");
        p = std::make_unique<Proc>(CliPath(), std::vector<std::string>{"-D", "COMDEV_3=" + link, home.File("board.ct")},
                                   std::vector<std::string>{"OXEL_HOME=" + home.path()});
    }
    bool Connected() {
        for (int i = 0; i < 60; ++i) {
            board->Send("ready>");
            if (p->WaitOutput("ready>", 250)) return true;
        }
        return false;
    }
    // Unplug: the board closes its side. Replug: a new board under the same link.
    void Unplug() {
        board->Close();
        board = std::make_unique<PtyBoard>();
    }
    void Replug() { MoveLink(link, board->path); }
};

TEST(Reconnect, ReturningDeviceIsReopenedAtOnceAndItsBannerShownAndLogged) {
    Bench b;
    ASSERT_TRUE(b.Connected()) << b.p->Err();
    b.Unplug();
    ASSERT_TRUE(b.p->WaitOutput("\r\nDisconnected from " + b.link + "\r\n", 15000)) << b.p->Out();
    b.Replug();
    ASSERT_TRUE(b.p->WaitOutput("\r\nReconnected to " + b.link + "\r\n", 15000)) << b.p->Out();
    b.board->Send("U-Boot 2026.01 (boot banner)\r\n");
    EXPECT_TRUE(b.p->WaitOutput("U-Boot 2026.01 (boot banner)\r\n", 15000));
    // Nothing was sent to the board to bring it back, and no banner about keys.
    EXPECT_EQ(b.board->Receive(1, 300), "");
    EXPECT_EQ(b.p->Out().find("COMPORT error"), std::string::npos);
    b.p->Signal(SIGTERM);
    EXPECT_EQ(b.p->Wait(15000), 0);
    std::string log = b.home.Read("board.log");
    EXPECT_NE(log.find("U-Boot 2026.01 (boot banner)"), std::string::npos) << log;
    EXPECT_NE(log.find("[Disconnected from " + b.link + " at "), std::string::npos) << log;
    EXPECT_NE(log.find("[Reconnected to " + b.link + " at "), std::string::npos) << log;
}

TEST(Reconnect, FiftyUnplugsLeaveDescriptorsAndThreadsAsTheyWere) {
    Bench b;
    ASSERT_TRUE(b.Connected()) << b.p->Err();
    const std::string proc = "/proc/" + std::to_string(b.p->pid());
    const size_t fds = Entries(proc + "/fd"), threads = Entries(proc + "/task");
    for (size_t i = 1; i <= 50; ++i) {
        b.Unplug();
        ASSERT_TRUE(WaitCount(*b.p, "Disconnected from ", i)) << i;
        b.Replug();
        ASSERT_TRUE(WaitCount(*b.p, "Reconnected to ", i)) << i;
    }
    b.board->Send("still here\r\n");
    ASSERT_TRUE(b.p->WaitOutput("still here\r\n", 15000));
    EXPECT_EQ(Entries(proc + "/fd"), fds);
    EXPECT_EQ(Entries(proc + "/task"), threads);
    b.p->Signal(SIGTERM);
    EXPECT_EQ(b.p->Wait(15000), 0);
}

// The shipped defcfg.ct turns the setting on: the quick-start form reconnects.
TEST(Reconnect, ShippedDefaultsReconnectAQuickStartDevice) {
    TempDir home, src;
    std::filesystem::copy_file(SourceDir() + "/home/defcfg.ct", home.File("defcfg.ct"));
    const std::string link = src.File("adapter");
    auto board = std::make_unique<PtyBoard>();
    MoveLink(link, board->path);
    Proc p(CliPath(), {link}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(p.WaitOutput("Connected to " + link + " at 115200 8N1", 20000)) << p.Err();
    board->Close();
    board = std::make_unique<PtyBoard>();
    ASSERT_TRUE(p.WaitOutput("Disconnected from " + link + "\r\n", 15000)) << p.Out();
    MoveLink(link, board->path);
    ASSERT_TRUE(p.WaitOutput("Reconnected to " + link + "\r\n", 15000)) << p.Out();
    EXPECT_EQ(board->LineRate(), 115200u);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
}

// With the setting off the port waits for a key, as before; a terminal's
// banner names no tool-bar button.
TEST(Reconnect, SettingOffKeepsTheKeyReconnectAndTheBannerFitsATerminal) {
    TempDir home;
    PtyBoard board;
    Proc p(CliPath(), {board.path}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(p.WaitOutput("8N1 (Ctrl-] ? for help)\r\n", 20000)) << p.Err();
    board.Close();
    ASSERT_TRUE(p.WaitOutput("# if you want to reconnect to the same port.\r\n", 15000)) << p.Out();
    EXPECT_EQ(p.Out().find("toolbar"), std::string::npos) << p.Out();
    EXPECT_EQ(p.Out().find("Disconnected from"), std::string::npos);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
}

}  // namespace
