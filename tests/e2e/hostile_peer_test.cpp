// oxel-cli against targets, peers and users that misbehave: floods of
// queries, endless or oversized input, connections that drop at once. Each
// case drives the program as a user would meet it and looks at the exit,
// the screen, the wire or the file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "../unit/loopback_peer.h"
#include "proc.h"
#include "pty_board.h"

namespace {

const char kQuery[] = "\x1b[6n";

std::string Config(const std::vector<std::string>& lines) {
    std::string s = "########\n";
    for (const auto& l : lines) s += l + "\n";
    return s;
}

size_t Count(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

// Far-end bytes reach the program only once the port is open: the board
// repeats a probe until the program shows it (as shown, when it differs).
bool WaitConnected(Proc& p, PtyBoard& b, const std::string& probe, const std::string& shown = {}) {
    for (int i = 0; i < 60; ++i) {
        b.Send(probe);
        if (p.WaitOutput(shown.empty() ? probe : shown, 250)) return true;
    }
    return false;
}

// Keeps a descriptor full of cursor-position queries and drains what comes
// back, until stopped; counts the replies seen.
struct QueryFlood {
    std::atomic<bool> stop{false};
    std::atomic<size_t> replies{0};
    std::thread t;

    // drain false: the peer never reads what comes back.
    explicit QueryFlood(int fd, bool drain = true) {
        signal(SIGPIPE, SIG_IGN);   // the program may close its end first
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        t = std::thread([this, fd, drain] {
            std::string burst;
            for (int i = 0; i < 64; ++i) burst += kQuery;
            while (!stop.load()) {
                pollfd pf{fd, static_cast<short>(drain ? POLLIN | POLLOUT : POLLOUT), 0};
                if (poll(&pf, 1, 20) <= 0) continue;
                if (pf.revents & POLLIN) {
                    char buf[4096];
                    ssize_t r = read(fd, buf, sizeof buf);
                    if (r > 0) replies += Count(std::string(buf, static_cast<size_t>(r)), "R");
                }
                if (pf.revents & POLLOUT) (void)!write(fd, burst.data(), burst.size());
                if (pf.revents & (POLLHUP | POLLERR | POLLNVAL)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~QueryFlood() {
        stop = true;
        t.join();
    }
    bool WaitReplies(size_t n) {
        return WaitFor([&] { return replies.load() >= n; }, 10000);
    }
};

// oxel-cli on the telnet backend against a server of the test's own.
struct TelnetRun {
    TempDir home;
    TcpPeer server;
    std::unique_ptr<Proc> p;
    bool accepted = false;

    explicit TelnetRun(const std::vector<std::string>& lines) {
        std::vector<std::string> all = {"BACKEND 2", "BACKEND_TELNET_ENABLED TRUE", "BACKENT_TELNET_SYS \"127.0.0.1\"",
                                         "BACKEND_TELNET_PORT " + std::to_string(server.port)};
        all.insert(all.end(), lines.begin(), lines.end());
        home.Write("t.ct", Config(all));
        p = std::make_unique<Proc>(CliPath(), std::vector<std::string>{home.File("t.ct")},
                                   std::vector<std::string>{"OXEL_HOME=" + home.path()});
        accepted = server.Accept(20000);
    }
};

// The reader answers each query while the main thread closes the port: a
// reply must never ask to reconnect, nor wait for the close.
TEST(HostilePeer, QueryFloodOnComPortNeverHoldsUpShutdown) {
    for (int run = 0; run < 20 && !HasFailure(); ++run) {
        TempDir home;
        PtyBoard board;
        ASSERT_FALSE(board.path.empty());
        home.Write("b.ct", Config({"BACKEND 1", "COMPORT 3", "VT100_EMULATION TRUE"}));
        Proc p(CliPath(), {"-D", "COMDEV_3=" + board.path, home.File("b.ct")}, {"OXEL_HOME=" + home.path()});
        ASSERT_TRUE(WaitConnected(p, board, "ready>"));
        {
            QueryFlood flood(board.master);
            ASSERT_TRUE(flood.WaitReplies(10)) << "run " << run;
            p.Signal(SIGTERM);
            EXPECT_EQ(p.Wait(10000), 0) << "run " << run;
        }
        EXPECT_EQ(p.Err().find("Want to reconnect?"), std::string::npos) << "run " << run << ": " << p.Err();
    }
}

TEST(HostilePeer, QueryFloodOnTelnetNeverAsksToReconnect) {
    TelnetRun run({"VT100_EMULATION TRUE"});
    ASSERT_TRUE(run.accepted);
    {
        QueryFlood flood(run.server.client);
        ASSERT_TRUE(flood.WaitReplies(10));
        run.p->Signal(SIGTERM);
        EXPECT_EQ(run.p->Wait(10000), 0);
    }
    EXPECT_EQ(run.p->Err().find("Want to reconnect?"), std::string::npos) << run.p->Err();
}

// A server that floods queries and never reads the answers: once its socket
// is full the reader's reply and the typed keys wait, and a close must still
// end those waits.
TEST(HostilePeer, QueryFloodFromATelnetPeerThatNeverReads) {
    TelnetRun run({"VT100_EMULATION TRUE"});
    ASSERT_TRUE(run.accepted);
    QueryFlood flood(run.server.client, false);
    // The answers pile up unread until both socket buffers are full and the
    // program's reader waits in its send: the pile stops growing (for a
    // whole second, so a passing stall is not taken for it).
    int before = -1, queued = 0, still = 0;
    EXPECT_TRUE(WaitFor([&] {
        before = queued;
        ioctl(run.server.client, FIONREAD, &queued);
        run.p->WaitOutput("\x01", 100);   // keeps standard output flowing
        still = queued > 0 && queued == before ? still + 1 : 0;
        return still >= 10;
    }, 30000));
    // A key typed now waits behind the stuck answers.
    run.p->Write("typed\r");
    run.p->Signal(SIGTERM);
    EXPECT_EQ(run.p->Wait(10000), 0);
}

// Runs oxel-cli on a pseudo-terminal board with the given configuration
// lines (COMPORT 3 is the board), waits until the board's probe is shown.
struct BoardRun {
    TempDir home;
    PtyBoard board;
    std::unique_ptr<Proc> p;
    std::string dump = home.File("screen.txt");

    // shown: how the probe "ready>" appears; empty: do not wait for it.
    explicit BoardRun(const std::vector<std::string>& lines, const std::string& shown = "ready>") {
        std::vector<std::string> all = {"BACKEND 1", "COMPORT 3"};
        all.insert(all.end(), lines.begin(), lines.end());
        home.Write("b.ct", Config(all));
        p = std::make_unique<Proc>(CliPath(), std::vector<std::string>{"-D", "COMDEV_3=" + board.path, home.File("b.ct")},
                                   std::vector<std::string>{"OXEL_HOME=" + home.path(), "OXEL_SCREEN_DUMP=" + dump});
        if (!shown.empty()) EXPECT_TRUE(WaitConnected(*p, board, "ready>", shown));
    }
    // Ends the run with SIGTERM; the screen's rows without trailing blanks.
    std::vector<std::string> Finish() {
        p->Signal(SIGTERM);
        EXPECT_EQ(p->Wait(10000), 0);
        std::vector<std::string> rows;
        std::string text = home.Read("screen.txt"), row;
        for (size_t at = 0; at <= text.size(); ++at) {
            if (at < text.size() && text[at] != '\n') {
                row += text[at];
                continue;
            }
            row.erase(row.find_last_not_of(' ') + 1);
            rows.push_back(row);
            row.clear();
        }
        return rows;
    }
};

std::string LastNonEmpty(const std::vector<std::string>& rows) {
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        if (!it->empty()) return *it;
    return {};
}

// Cursor parameters beyond int saturate at the screen's edge.
TEST(HostilePeer, HugeCursorParametersStopAtTheEdge) {
    BoardRun run({"VT100_EMULATION TRUE"});
    run.board.Send("\r\nfirst\r\n\x1b[2147483648B" "down");
    ASSERT_TRUE(run.p->WaitOutput("down", 10000));
    auto rows = run.Finish();
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(LastNonEmpty(rows), "down");
    EXPECT_NE(std::find(rows.begin(), rows.end(), "first"), rows.end());
}

// With the hex view's spacing, a CR shown as itself is not followed by a
// blank that would wipe the line's first column.
TEST(HostilePeer, HexViewKeepsColumnZeroAfterCr) {
    BoardRun run({"HEXMODE 3", "HEXMODE_WITH_SPACE TRUE"}, "r e a d y >");
    run.board.Send("\r\nabc\rX\r\nend\r\n");
    ASSERT_TRUE(run.p->WaitOutput("e n d", 10000));
    auto rows = run.Finish();
    EXPECT_NE(std::find(rows.begin(), rows.end(), "X b c"), rows.end()) << LastNonEmpty(rows);
}

// LOG screenoff: received bytes still reach the log, but not the screen.
TEST(HostilePeer, LogScreenoffHidesReceivedDataButLogsIt) {
    TempDir scripts;
    const std::string log = scripts.File("board.log");
    scripts.Write("off.scr", "LOG screenoff\nECHO screen-is-off\n");
    BoardRun run({"LOGGING_ENABLED TRUE", "LOGGING_NOWARNING TRUE", "LOGGING_FILENAME \"" + log + "\"",
                  "STARTUP_SCRIPT \"" + scripts.File("off.scr") + "\""},
                 "");
    ASSERT_TRUE(WaitFor([&] { return scripts.Read("board.log").find("screen-is-off") != std::string::npos; }));
    run.board.Send("hidden-from-screen\r\n");
    EXPECT_TRUE(WaitFor([&] { return scripts.Read("board.log").find("hidden-from-screen") != std::string::npos; }));
    auto rows = run.Finish();
    EXPECT_EQ(run.p->Out().find("hidden-from-screen"), std::string::npos);
    for (const auto& r : rows) EXPECT_EQ(r.find("hidden-from-screen"), std::string::npos) << r;
}

// A COM device path that is a directory is a port that is not there.
TEST(HostilePeer, DirectoryAsComDeviceIsNotFound) {
    TempDir home;
    home.Write("d.ct", Config({"BACKEND 1", "COMPORT 3"}));
    Proc p(CliPath(), {"-D", "COMDEV_3=" + home.path(), home.File("d.ct")}, {"OXEL_HOME=" + home.path()});
    EXPECT_TRUE(p.WaitError("[Connection failed] COM3 not found on this system.", 15000)) << p.Err();
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
    EXPECT_EQ(p.Err().find("ERROR ("), std::string::npos) << p.Err();
}

// A directory named as the configuration is where a configuration would be
// chosen from; the terminal face goes on with the defaults.
TEST(HostilePeer, DirectoryAsConfigurationStartsWithDefaults) {
    TempDir home;
    Proc p(CliPath(), {home.path()}, {"OXEL_HOME=" + home.path()});
    EXPECT_EQ(p.Wait(1000), -1) << "ended by itself: " << p.Err();   // still running
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
    EXPECT_EQ(p.Err().find("ERROR"), std::string::npos) << p.Err();
}

// A value too big for a box keeps the box's words: the value is cut.
TEST(HostilePeer, OversizedConfigValueBoxKeepsItsMessage) {
    TempDir home;
    home.Write("v.ct", Config({"TITLEBAR \"" + std::string(2100, 'v') + "\""}));
    Proc p(CliPath(), {home.File("v.ct")}, {"OXEL_HOME=" + home.path()});
    EXPECT_TRUE(p.WaitError("' too big", 15000)) << p.Err().substr(0, 200);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
}

// Script files that never end or are huge are refused at once, and the
// program still stops when told to.
TEST(HostilePeer, UnboundedScriptFilesAreRefused) {
    TempDir home;
    const std::string fifo = home.File("pipe.scr"), sparse = home.File("sparse.scr");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(truncate((home.Write("sparse.scr", ""), sparse).c_str(), 1LL << 30), 0);
    const struct {
        std::string path, why;
    } cases[] = {
        {"/dev/zero", "not a regular file"},
        {fifo, "not a regular file"},
        {home.path(), "not a regular file"},
        {sparse, "file too big"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        home.Write("s.ct", Config({"STARTUP_SCRIPT \"" + c.path + "\""}));
        Proc p(CliPath(), {home.File("s.ct")}, {"OXEL_HOME=" + home.path()});
        EXPECT_TRUE(p.WaitError("[Script Execution Error] " + c.path + ": " + c.why, 10000)) << p.Err();
        // Standard input is a pipe (nobody at the keyboard): the start-up
        // script that could not run ends the run with status 1.
        EXPECT_EQ(p.Wait(10000), 1);
    }
}

// What the start-up script prints before the console is ready is shown once
// it is, in every run.
TEST(HostilePeer, StartupScriptOutputIsNeverLost) {
    for (int run = 0; run < 8 && !HasFailure(); ++run) {
        TempDir home;
        home.Write("start.scr", "ECHO first-words\nECHO second-words\n");
        home.Write("s.ct", Config({"STARTUP_SCRIPT \"" + home.File("start.scr") + "\""}));
        Proc p(CliPath(), {home.File("s.ct")}, {"OXEL_HOME=" + home.path()});
        EXPECT_TRUE(p.WaitOutput("second-words", 5000)) << "run " << run << ": " << p.Out();
        EXPECT_NE(p.Out().find("first-words"), std::string::npos) << "run " << run;
        p.Signal(SIGTERM);
        EXPECT_EQ(p.Wait(10000), 0);
    }
}

// Only a complete IAC SB TERMINAL-TYPE SEND IAC SE gets an answer: a flood
// of option bytes inside a subnegotiation gets none.
TEST(HostilePeer, TelnetSubnegotiationFloodGetsNoAnswers) {
    TelnetRun run({});
    ASSERT_TRUE(run.accepted);
    TcpPeer& server = run.server;
    Proc& p = *run.p;
    const std::string is = std::string("\xff\xfa\x18\x00", 4) + "vt100\xff\xf0";
    server.Send("\xff\xfa\x18" + std::string(100000, '\x18') + "\xff\xf0");
    bool shown = false;
    for (int i = 0; i < 20 && !shown; ++i) {
        server.Send("flood-done\r\n");
        shown = p.WaitOutput("flood-done", 1000);
    }
    ASSERT_TRUE(shown);
    std::string replies;
    while (!server.Quiet(300)) replies += server.ReadOnce(1000);
    EXPECT_EQ(Count(replies, is), 0u) << replies.size() << " bytes of replies";
    server.Send("\xff\xfa\x18\x01\xff\xf0");
    EXPECT_EQ(server.Read(is.size(), 5000), is);
    EXPECT_TRUE(server.Quiet(300));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
}

// A server that accepts and hangs up at once: the outage is told once and
// the waits between attempts grow (1 s, 1.5 s, 2 s, ...).
TEST(HostilePeer, TelnetReconnectsBackOffAfterQuickDrops) {
    TelnetRun run({"BACKEND_TELNET_AUTORESTART TRUE"});
    ASSERT_TRUE(run.accepted);
    TcpPeer& server = run.server;
    Proc& p = *run.p;
    server.Drop();
    int accepts = 1;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (std::chrono::steady_clock::now() < end) {
        if (!server.Accept(200)) continue;
        server.Drop();
        ++accepts;
    }
    // Without back-off this is about 30; with it 4 (at 0, 1, 2.5 and 4.5 s).
    EXPECT_LE(accepts, 6);
    EXPECT_GE(accepts, 2);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
    EXPECT_EQ(Count(p.Out(), "Remote connection dropped, retrying connection..."), 1u) << p.Out();
}

// SIGTERM while keys are still being typed to a shell child ends at once,
// with status 0.
TEST(HostilePeer, SigtermWhileTypingToShellChildEndsCleanly) {
    signal(SIGPIPE, SIG_IGN);
    TempDir home;
    home.Write("p.ct", Config({"BACKEND 4", "BACKEND_PLINK_ENABLED TRUE", "BACKENT_PLINK_ARGS \"SHELL: /bin/sh\""}));
    Proc p(CliPath(), {home.File("p.ct")}, {"OXEL_HOME=" + home.path()});
    bool ready = false;
    for (int i = 0; i < 20 && !ready; ++i) {
        p.Write("echo rea\"\"dy\r");
        ready = p.WaitOutput("ready", 500);
    }
    ASSERT_TRUE(ready);
    p.Write(std::string(32768, 'x'));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0) << p.Err();
    EXPECT_EQ(p.Err().find("ERROR"), std::string::npos) << p.Err();
}

}  // namespace
