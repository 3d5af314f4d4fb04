// The telnet server's input handling as bytes in, bytes out; then the server
// itself on 127.0.0.1 with plain sockets and a pseudo-terminal board.
#include "servers/telnetd.h"
#include "servers/loccmd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/wiring.h"
#include "console/screenbuf.h"
#include "platform/report.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"
#include "pty_board.h"
#include "config/shellvar.h"
#include "telnet_client.h"

namespace {

std::string Bytes(const std::string& in, bool crlf = false) {
    TelnetInput s;
    return TelnetTargetBytes(s, reinterpret_cast<const uint8_t*>(in.data()), in.size(), crlf);
}

TEST(TelnetInputTest, WhatReachesTheTarget) {
    const struct {
        std::string typed;
        bool enterIsCrLf;
        std::string target;
    } cases[] = {
        {"ls\r\n", false, "ls\r"},
        {"ls\r\n", true, "ls\r\n"},
        {"a\n\rb", false, "a\nb"},
        {"\r\r", false, "\r\r"},
        {"\r\n\r\n", false, "\r\r"},
        {std::string("x\r\0y", 4), false, "x\ry"},                      // NUL dropped
        {"\xff\xfb\x01q", false, "q"},                                  // WILL ECHO
        {"\xff\xfd\x22\xff\xfe\x03z", false, "z"},                      // DO, DONT
        {"\xff\xfa\x18\x01\xff\xff\x02\xff\xf0ok", false, "ok"},          // SB ... SE, doubled IAC inside
        {"a\xff\xff" "b", false, "ab"},                                 // a doubled IAC is dropped
        {"\xff\xf1" "after", false, "after"},                           // NOP does not eat typing
        {"\xff\xf6" "ayt", false, "ayt"},
        {"\x10" "p", false, "\x10p"},                                   // Ctrl-P passed on when not taken
    };
    for (const auto& c : cases) EXPECT_EQ(Bytes(c.typed, c.enterIsCrLf), c.target) << c.typed;
}

TEST(TelnetInputTest, CtrlPOnlyAtTheStartOfALine) {
    TelnetInput s;
    EXPECT_EQ(TelnetInputByte(s, 0x10), TelnetIn::Data);   // the very first byte is ordinary
    EXPECT_EQ(TelnetInputByte(s, 'a'), TelnetIn::Data);
    EXPECT_EQ(TelnetInputByte(s, '\r'), TelnetIn::Data);
    EXPECT_EQ(TelnetInputByte(s, 0x10), TelnetIn::CtrlP);
    EXPECT_EQ(TelnetInputByte(s, '\n'), TelnetIn::Fold);   // a taken Ctrl-P leaves the flags: CR LF still folds
    EXPECT_EQ(TelnetInputByte(s, 0x10), TelnetIn::CtrlP);
    EXPECT_EQ(TelnetInputByte(s, 'x'), TelnetIn::Data);
    EXPECT_EQ(TelnetInputByte(s, 0x10), TelnetIn::Data);
}

TEST(TelnetInputTest, EndlessSubnegotiationIsSkippedWithoutGrowth) {
    TelnetInput s;
    std::string storm = "\xff\xfa";
    storm += std::string(1 << 20, 'A');
    EXPECT_EQ(TelnetTargetBytes(s, reinterpret_cast<const uint8_t*>(storm.data()), storm.size(), false), "");
    std::string end = "\xff\xf0" "back";
    EXPECT_EQ(TelnetTargetBytes(s, reinterpret_cast<const uint8_t*>(end.data()), end.size(), false), "back");
}

std::vector<PasswordStep> Enter(PasswordEntry& e, const std::string& typed) {
    std::vector<PasswordStep> steps;
    for (char ch : typed) steps.push_back(PasswordByte(e, static_cast<uint8_t>(ch)));
    return steps;
}

TEST(TelnetPasswordTest, EntryEndsAtTheLineEndAndNotCountedBytesAreSkipped) {
    PasswordEntry e;
    auto steps = Enter(e, std::string("s\0e\xff\xfb\x01" "c\r", 8));
    EXPECT_EQ(e.typed, "sec");
    EXPECT_EQ(steps.back(), PasswordStep::Done);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), PasswordStep::Echo), 3);

    PasswordEntry longer;
    auto many = Enter(longer, std::string(65, 'x'));
    EXPECT_EQ(many[63], PasswordStep::Echo);
    EXPECT_EQ(many[64], PasswordStep::TooLong);
}

TEST(TelnetPasswordTest, ExactCaseSensitiveMatch) {
    static const std::string longest(64, 'p');
    const struct {
        std::string typed;
        const char* password;
        bool match;
    } cases[] = {
        {"secret", "secret", true}, {"Secret", "secret", false}, {"secre", "secret", false},
        {"secrets", "secret", false}, {"", "secret", false},     {longest, longest.c_str(), true},
    };
    for (const auto& c : cases) EXPECT_EQ(PasswordMatches(c.typed, c.password), c.match) << c.typed;
}

TEST(TelnetPasswordTest, RepeatedFailuresWaitLonger) {
    EXPECT_EQ(PasswordFailureDelayMs(0), 0);
    int previous = 0;
    for (int n = 1; n <= 5; ++n) {
        EXPECT_GT(PasswordFailureDelayMs(n), previous);
        previous = PasswordFailureDelayMs(n);
    }
    EXPECT_EQ(PasswordFailureDelayMs(50), previous);   // capped: a slot is not held for minutes
}

TEST(TelnetTextTest, ConnectionDescriptionPerBackend) {
    ConfigRecord c{};
    c.BACKEND = 1;
    c.COMPORT = 3;
    c.BAUDRATE = 115200;
    EXPECT_EQ(TelnetBackendText(c, true), "COM3 @ 115200baud");
    EXPECT_EQ(TelnetBackendText(c, false), "COM3 (currently disconnected)");
    c.COMPORT = 1025;
    EXPECT_EQ(TelnetBackendText(c, false), "Internal Loopback");
    c.BACKEND = 2;
    CFG_SET_STRING(c.BACKENT_TELNET_SYS, "10.0.0.5");
    c.BACKEND_TELNET_PORT = 23;
    EXPECT_EQ(TelnetBackendText(c, false), "TELNET 10.0.0.5:23");
    c.BACKEND = 3;
    CFG_SET_STRING(c.BACKENT_MONCMD_SYS, "board");
    c.BACKEND_MONCMD_PORT = 777;
    EXPECT_EQ(TelnetBackendText(c, false), "MONCMD board:777");
    c.BACKEND = 4;
    CFG_SET_STRING(c.BACKENT_PLINK_ARGS, "-ssh pi@board");
    EXPECT_EQ(TelnetBackendText(c, false), "PLINK -ssh pi@board\n");
    c.BACKEND = 0;
    EXPECT_EQ(TelnetBackendText(c, false), "???");
    EXPECT_EQ(SockText("a\nb%d\n", 7), "a\r\nb7\r\n");
    EXPECT_EQ(SockText("%s", std::string(400, 'z').c_str()).size(), 255u);
}

// ---- the server on 127.0.0.1 -------------------------------------------------------

// The local address (hex, as the kernel lists it) of the socket listening on port.
std::string ListenAddress(uint16_t port) {
    std::ifstream tcp("/proc/net/tcp");
    char want[8];
    std::snprintf(want, sizeof want, ":%04X", port);
    for (std::string line; std::getline(tcp, line);) {
        std::istringstream f(line);
        std::string slot, local, remote, state;
        f >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == want) return local.substr(0, 8);
    }
    return "";
}

class TelnetServer : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        AppWireHooks();
        g_cfg.TRACEFLAGS = 0xFFFF;
        g_cfg.TRACE_TSTAMP_ENABLE = 0;
        g_cfg.DELAY_BETWEEN_CHARS = 0;
        SetFrameInitialised(true);
        TraceClear();
    }
    void TearDown() override {
        TelnetdStop();
        TelnetdSetLocalCommands(false);
        CloseConnection();
        shell_unsetenv("COMDEV_3");
        SetFrameInitialised(false);
    }
    // Opens the board as COM3 and starts the server on a free port.
    void StartWithBoard() {
        ASSERT_FALSE(board.path.empty());
        shell_setenv("COMDEV_3", board.path.c_str());
        g_cfg.BACKEND = 1;
        g_cfg.COMPORT = 3;
        g_cfg.BAUDRATE = 115200;
        ASSERT_EQ(OpenConnection(), 1);
        Start();
    }
    void Start() {
        g_cfg.TELNET_PORT = FreeTcpPort();
        ASSERT_EQ(TelnetdStart(g_cfg.TELNET_PORT), 1);
        ASSERT_TRUE(WaitFor([] { return TelnetdBoundPort() != 0; }));
    }
    std::string Clients() { return shell_getenv("TELNETCLIENTS").value_or(""); }
    bool TraceHas(const std::string& s) { return TraceText().find(s) != std::string::npos; }
    FakeUi ui;
    PtyBoard board;
};

TEST_F(TelnetServer, NegotiationWelcomeAndTwoClientsSeeTheBoard) {
    StartWithBoard();
    TelnetClient a(TelnetdBoundPort());
    std::string head = a.ReadFor("active connection)\r\n");
    EXPECT_EQ(head.substr(0, 6), "\xff\xfd\x22\xff\xfb\x01");
    EXPECT_NE(head.find("*** Oxel Telnet Server ***"), std::string::npos) << head;
    EXPECT_NE(head.find("You are connected in read-write mode\r\n(1 active connection)\r\n"), std::string::npos);
    EXPECT_TRUE(a.Expect("\r\nConnection to COM3 @ 115200baud\r\n"));
    TelnetClient b(TelnetdBoundPort());
    EXPECT_TRUE(b.Expect("(2 active connections)\r\n"));
    EXPECT_TRUE(b.Expect("Connection to COM3"));
    EXPECT_EQ(Clients(), "2");
    EXPECT_TRUE(TraceHas("accepted connection with 127.0.0.1, port "));

    board.Send("hello from the board\r\n");
    EXPECT_TRUE(a.Expect("hello from the board\r\n"));
    EXPECT_TRUE(b.Expect("hello from the board\r\n"));

    a.Send("ver\r\n");
    EXPECT_EQ(board.Receive(4), "ver\r");
    // Switched only once a's line is wholly through: its session reads the
    // setting after each CR.
    a.Send("z");
    EXPECT_EQ(board.Receive(1), "z");
    g_cfg.ENTER_IS_CRLF = 1;
    b.Send("x\r\r");
    EXPECT_EQ(board.Receive(5), "x\r\n\r\n");

    a.Close();
    EXPECT_TRUE(WaitFor([&] { return Clients() == "1"; }));
    EXPECT_TRUE(WaitFor([&] { return TraceHas("dropped"); }));
}

TEST_F(TelnetServer, ReadOnlyModes) {
    StartWithBoard();
    g_cfg.TELNET_READONLY = 1;
    TelnetClient ro(TelnetdBoundPort());
    EXPECT_TRUE(ro.Expect("You are connected in read-only mode\r\n"));
    ro.Send("ignored\r");
    ro.Close();
    EXPECT_TRUE(WaitFor([&] { return Clients() == "0"; }));
    g_cfg.TELNET_READONLY = 0;

    g_cfg.TELNET_READONLYABO = 1;
    TelnetClient writer(TelnetdBoundPort());
    EXPECT_TRUE(writer.Expect("read-write mode"));
    TelnetClient reader(TelnetdBoundPort());
    EXPECT_TRUE(reader.Expect("read-only mode"));
    TelnetClient reader2(TelnetdBoundPort());
    EXPECT_TRUE(reader2.Expect("Connection to"));
    reader.Send("nope\r");
    writer.Send("yes\r");
    EXPECT_EQ(board.Receive(4, 3000), "yes\r");   // only the writer's bytes, the earlier ones dropped
    // A read-only client leaving disconnects nobody.
    reader2.Close();
    EXPECT_TRUE(WaitFor([&] { return Clients() == "2"; }));
    // The writer leaving takes everybody with it.
    writer.Close();
    EXPECT_TRUE(reader.Expect("*** Connection terminated because 'write' user dropped off ***"));
    EXPECT_TRUE(reader.WaitClosed());
    EXPECT_TRUE(WaitFor([&] { return Clients() == "0"; }));
    EXPECT_TRUE(TraceHas("ABO cleanup"));
    EXPECT_TRUE(TraceHas("tcon droptot: 1"));
}

TEST_F(TelnetServer, PasswordAcceptedAndRefused) {
    StartWithBoard();
    CFG_SET_STRING(g_cfg.TELNET_PASSWORD, "Sesame");
    TelnetClient good(TelnetdBoundPort());
    EXPECT_TRUE(good.Expect("\r\n\r\nOxelPassword: "));
    board.Send("before login\r\n");
    ASSERT_TRUE(WaitFor([&] { return ui.Console().find("before login") != std::string::npos; }));
    good.Send("Sesame\r\n");
    EXPECT_TRUE(good.Expect("      \r\n"));   // one blank per typed byte, then the line end
    EXPECT_TRUE(good.Expect("read-write mode"));
    board.Send("after login\r\n");
    std::string seen = good.ReadFor("after login");
    EXPECT_EQ(seen.find("before login"), std::string::npos);   // nothing shown before the password

    TelnetClient bad(TelnetdBoundPort());
    EXPECT_TRUE(bad.Expect("OxelPassword: "));
    bad.Send("sesame\r");
    EXPECT_TRUE(bad.WaitClosed(10000));
    EXPECT_EQ(bad.got.find("Oxel Telnet Server"), std::string::npos);
    EXPECT_TRUE(TraceHas("wrong password from 127.0.0.1"));
    // The next try from the same address is asked only after a pause.
    auto t0 = std::chrono::steady_clock::now();
    TelnetClient again(TelnetdBoundPort());
    EXPECT_TRUE(again.Expect("OxelPassword: "));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
}

TEST_F(TelnetServer, DialogStartsAndStopsAndTheCaptionFollows) {
    TelnetDialogValues v;
    v.welcome = "\\nBench 7\\n";
    v.port = FreeTcpPort();
    v.enabled = true;
    v.localCommands = true;
    TelnetdDialogApply(v);
    ASSERT_TRUE(WaitFor([] { return TelnetdBoundPort() != 0; }));
    EXPECT_EQ(g_cfg.TELNET_ENABLED, 1);
    EXPECT_EQ(TraceCaptionText(), "SysTrace  (srvrs: Telnet&Lcmd)");
    TelnetClient c(TelnetdBoundPort());
    EXPECT_TRUE(c.Expect("\r\nBench 7\r\n"));
    EXPECT_TRUE(WaitFor([&] { return Clients() == "1"; }));
    v.enabled = false;
    TelnetdDialogApply(v);
    EXPECT_TRUE(c.WaitClosed());
    EXPECT_FALSE(TelnetdRunning());
    EXPECT_EQ(g_cfg.TELNET_ENABLED, 0);
    EXPECT_EQ(Clients(), "0");
    EXPECT_EQ(TraceCaptionText(), "SysTrace");
    EXPECT_EQ(TelnetdSetWelcome(std::string(128, 'w').c_str()), 0);
    EXPECT_EQ(TelnetdSetWelcome("\\nhi"), 1);
    EXPECT_STREQ(g_cfg.TELNET_WELCOME, "\\nhi");
    EXPECT_EQ(TelnetdSetWelcome(nullptr), 1);
    EXPECT_STREQ(g_cfg.TELNET_WELCOME, "\\n\\n*** Oxel Telnet Server ***\\n\\n");
}

TEST_F(TelnetServer, LocalCommandsRefusedWhenOffAndRunWhenOn) {
    StartWithBoard();
    TelnetClient c(TelnetdBoundPort());
    EXPECT_TRUE(c.Expect("Connection to"));
    c.Send("\r\x10");
    EXPECT_TRUE(c.Expect("\r\nLocal cmd execution not enabled\r\n"));
    EXPECT_TRUE(WaitFor([&] { return TraceHas("Local command request denied"); }));
    c.Send("\r\x10");   // the second time it is an ordinary byte
    EXPECT_EQ(board.Receive(3, 3000), "\r\r\x10");
    c.Close();

    TelnetdSetLocalCommands(true);
    TelnetClient d(TelnetdBoundPort());
    EXPECT_TRUE(d.Expect("Connection to"));
    d.Send("\r\x10" "Oxel\r");
    EXPECT_TRUE(d.Expect("\r\nLOCAL COMMAND: Oxel"));
    std::string list = d.ReadFor("  tftp\r\n");
    EXPECT_NE(list.find("\r\nValid functions are:\r\n  xsend\r\n  xrecv\r\n  dtrtgl\r\n  break\r\n  script\r\n"
                        "  scrcmd\r\n  fkey\r\n  button\r\n  tftp\r\n"),
              std::string::npos)
        << list;
    d.Send("\x10" "echo  two words\r");
    EXPECT_TRUE(d.Expect("Issuing command <echo  two words> from client at 127.0.0.1...\r\n"));
    EXPECT_TRUE(d.Expect("two words\r\n"));
    EXPECT_TRUE(d.Expect("(exit status 0)\r\n")) << d.got;
    LocalCmdSetLimitMs(300);
    d.Send("\x10" "sleep 30\r");
    EXPECT_TRUE(d.Expect("\r\nServer: command stopped after 300 ms\r\n"));
    LocalCmdSetLimitMs(60000);
    d.Send("\x10" "no-such-program-here\r");
    EXPECT_TRUE(d.Expect("\r\nServer error: cannot start 'no-such-program-here': "));
    d.Send("\x10" "false\r");
    EXPECT_TRUE(d.Expect("(exit status 1)\r\n"));
    d.Send("\x10" "?\r");
    EXPECT_TRUE(d.Expect("\r\nOxel built: "));
    EXPECT_TRUE(d.Expect("(type 'Oxel' for list of Oxel-specific cmds)\r\n"));
    d.Send("\x10" "Oxel scrcmd \"SET TNVAR=42\"\r");
    EXPECT_TRUE(d.Expect("Running command 'SET TNVAR=42' ...\r\n"));
    EXPECT_TRUE(WaitFor([] { return shell_getenv("TNVAR").value_or("") == "42"; }));
    d.Send("\x10" "Oxel fkey\r");
    EXPECT_TRUE(d.Expect("Bad arg count (1).  Usage: fkey {#}\r\n"));
    d.Send("\x10" "Oxel nosuch\r");
    EXPECT_TRUE(d.Expect("\r\nUnexpected function <nosuch>\r\n\r\nValid functions are:\r\n"));
    d.Send("\x10" "Oxel dtrtgl\r");
    EXPECT_TRUE(d.Expect("DTR toggled\r\n"));
    // 127 characters without a line end end the exchange.
    d.Send("\x10" + std::string(130, 'k'));
    EXPECT_TRUE(d.Expect("\r\nServer: loccmd terminated\r\n"));
    EXPECT_TRUE(WaitFor([&] {
        for (const auto& b : ui.Boxes())
            if (b.title == "doLocalCmd" && b.text == "-6") return true;
        return false;
    }));
    shell_unsetenv("TNVAR");
}

TEST_F(TelnetServer, TakenPortFallsBackToTheNextAndAllTakenDisables) {
    TcpPeer taken(0);
    ASSERT_NE(taken.port, 0);
    // NetListenTcp binds 127.0.0.1 only; the server must not share it.
    shell_setenv("TELNET_BIND_ADDR", "127.0.0.1");
    g_cfg.TELNET_PORT = taken.port;
    ASSERT_EQ(TelnetdStart(taken.port), 1);
    ASSERT_TRUE(WaitFor([] { return TelnetdBoundPort() != 0; }));
    EXPECT_NE(TelnetdBoundPort(), taken.port);
    EXPECT_EQ(g_cfg.TELNET_PORT, TelnetdBoundPort());
    EXPECT_TRUE(TraceHas("Bind to port " + std::to_string(taken.port) + " failed, trying " +
                         std::to_string(taken.port + 1)));
    EXPECT_EQ(ListenAddress(TelnetdBoundPort()), "0100007F");   // 127.0.0.1 only, as asked
    shell_unsetenv("TELNET_BIND_ADDR");
}

TEST_F(TelnetServer, ErrorReportsReachTheClients) {
    Start();
    EXPECT_EQ(ListenAddress(TelnetdBoundPort()), "00000000");   // all interfaces by default
    TelnetClient c(TelnetdBoundPort());
    EXPECT_TRUE(c.Expect("Connection to"));
    shell_setenv("SHOW_LASTERROR_TO_CONSOLE", "1");
    errno = 0;
    ErrorReport("telnetd", 42, "%s", "test report");
    EXPECT_TRUE(c.Expect("            ERROR on OXEL TELNET SERVER\r\nERROR (telnetd 42 SVN[1437])\r\n"));
    shell_unsetenv("SHOW_LASTERROR_TO_CONSOLE");
}

}  // namespace
