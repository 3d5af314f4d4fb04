#include "console/screenbuf.h"
#include "backend/telnetc.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "app/oxel.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"
#include "proc.h"
#include "platform/process.h"
#include "config/shellvar.h"

namespace {

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

struct ParseCase {
    const char* name;
    std::string in;
    bool iac, lineMode;
    std::string display, replies;
    std::vector<std::string> traces;
    int echo;
};

TEST(TelnetParse, OptionTable) {
    const std::string ttypeIs = B({255, 250, 24, 0}) + "vt100" + B({255, 240});
    const ParseCase cases[] = {
        {"will echo", B({255, 251, 1}), true, false, "", B({255, 253, 1}),
         {"recv 251 (fb)", "TELNET_WILL ECHO", "done"}, 0},
        {"will echo in line mode", B({255, 251, 1}), true, true, "", B({255, 253, 1}),
         {"recv 251 (fb)", "TELNET_WILL ECHO", "done"}, -1},
        {"will termtype", B({255, 251, 24}), true, false, "", B({255, 253, 24}),
         {"recv 251 (fb)", "TELNET_WILL TERMTYPE", "done"}, -1},
        {"will sga", B({255, 251, 3}), true, false, "", B({255, 253, 3}),
         {"recv 251 (fb)", "TELNET_WILL SUPPGOAHEAD", "done"}, -1},
        {"will other", B({255, 251, 31}), true, false, "", B({255, 254, 31}),
         {"recv 251 (fb)", "TELNET_WILL 31", "done"}, -1},
        {"wont", B({255, 252, 1}), true, false, "", "", {"recv 252 (fc)", "TELNET_WONT 1", "done"}, -1},
        {"do termtype", B({255, 253, 24}), true, false, "", B({255, 251, 24}),
         {"recv 253 (fd)", "TELNET_DO TERMTYPE", "done"}, -1},
        {"do echo", B({255, 253, 1}), true, false, "", B({255, 251, 1}),
         {"recv 253 (fd)", "TELNET_DO ECHO", "done"}, 1},
        {"do other", B({255, 253, 34}), true, false, "", B({255, 252, 34}),
         {"recv 253 (fd)", "TELNET_DO 34", "done"}, -1},
        {"dont", B({255, 254, 5}), true, false, "", "", {"recv 254 (fe)", "TELNET_DONT 5", "done"}, -1},
        {"termtype subnegotiation", B({255, 250, 24, 1, 255, 240}), true, false, "", ttypeIs,
         {"recv 250 (fa)", "TELNET_SB", "recv 24 (18)", "TELNET_SB TERMTYPE", "recv 255 (ff)", "TELNET_SE",
          "TERMTYPE = VT100", "done"},
         -1},
        {"termtype bytes without SEND get no answer", B({255, 250, 24, 24, 24, 24, 255, 240}), true, false, "", "",
         {"recv 250 (fa)", "TELNET_SB", "recv 24 (18)", "recv 24 (18)", "recv 24 (18)", "recv 255 (ff)",
          "TELNET_SE", "done"},
         -1},
        {"termtype send with trailing bytes gets no answer", B({255, 250, 24, 1, 7, 255, 240}), true, false, "", "",
         {"recv 250 (fa)", "TELNET_SB", "recv 24 (18)", "TELNET_SB TERMTYPE", "recv 7 (07)", "recv 255 (ff)",
          "TELNET_SE", "done"},
         -1},
        {"termtype not first gets no answer", B({255, 250, 31, 24, 1, 255, 240}), true, false, "", "",
         {"recv 250 (fa)", "TELNET_SB", "recv 31 (1f)", "recv 24 (18)", "recv 1 (01)", "recv 255 (ff)",
          "TELNET_SE", "done"},
         -1},
        {"other subnegotiation", B({255, 250, 31, 0, 80, 255, 7, 255, 240}), true, false, "", "",
         {"recv 250 (fa)", "TELNET_SB", "recv 31 (1f)", "recv 0 (00)", "recv 80 (50)", "recv 255 (ff)",
          "TELNET_SB 7", "recv 255 (ff)", "TELNET_SE", "done"},
         -1},
        {"iac iac is consumed", "a" + B({255, 255}) + "b", true, false, "ab", "", {"recv 255 (ff)", "done"}, -1},
        {"other command ends at once", B({255, 241}) + "x", true, false, "x", "", {"recv 241 (f1)", "done"}, -1},
        {"nul dropped", std::string("a\0b", 3), true, false, "ab", "", {}, -1},
        {"iac off: all but nul", "a" + B({255, 251, 1, 0}) + "b", false, false, "a" + B({255, 251, 1}) + "b", "",
         {}, -1},
    };
    for (const auto& c : cases) {
        // Whole, and one byte at a time: the state carries across blocks.
        for (bool bytewise : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (bytewise ? " (bytewise)" : ""));
            TelnetParser p;
            TelnetOutput out;
            const auto* in = reinterpret_cast<const uint8_t*>(c.in.data());
            if (bytewise)
                for (size_t i = 0; i < c.in.size(); ++i) TelnetParse(p, in + i, 1, c.iac, c.lineMode, out);
            else
                TelnetParse(p, in, c.in.size(), c.iac, c.lineMode, out);
            EXPECT_EQ(out.display, c.display);
            EXPECT_EQ(out.replies, c.replies);
            EXPECT_EQ(out.traces, c.traces);
            EXPECT_EQ(out.localEcho, c.echo);
            EXPECT_EQ(p.state, TelnetParser::Data);
        }
    }
}

// Any split of a stream into blocks gives the same result as the whole.
TEST(TelnetParse, BlockBoundariesDoNotMatter) {
    std::mt19937 rng(1437);
    const int pool[] = {255, 255, 251, 252, 253, 254, 250, 240, 24, 1, 3, 0, 'a', 'z', '\r'};
    for (int round = 0; round < 300; ++round) {
        std::string in;
        size_t len = rng() % 200;
        for (size_t i = 0; i < len; ++i)
            in.push_back(static_cast<char>(rng() % 3 ? pool[rng() % std::size(pool)] : rng() % 256));
        const auto* p = reinterpret_cast<const uint8_t*>(in.data());
        TelnetParser whole, split;
        TelnetOutput a, b;
        TelnetParse(whole, p, in.size(), true, false, a);
        for (size_t off = 0; off < in.size();) {
            size_t n = std::min<size_t>(1 + rng() % 7, in.size() - off);
            TelnetParse(split, p + off, n, true, false, b);
            off += n;
        }
        ASSERT_EQ(a.display, b.display) << round;
        ASSERT_EQ(a.replies, b.replies) << round;
        ASSERT_EQ(a.traces, b.traces) << round;
        ASSERT_EQ(whole.state, split.state) << round;
    }
}

TEST(TelnetParse, HostPortField) {
    struct {
        const char* text;
        const char* host;
        uint16_t port;
    } cases[] = {{"board7:2323", "board7", 2323}, {"board7", "board7", 23}, {"board7:0x17", "board7", 23},
                 {"10.0.0.5:010", "10.0.0.5", 8}};
    for (const auto& c : cases) {
        std::string host;
        uint16_t port = 0;
        TelnetParseHostPort(c.text, &host, &port);
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

class TelnetLive : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        SetFrameInitialised(true);
        g_cfg.TRACEFLAGS |= TRC_TELNET;
        TraceClear();
        CFG_SET_STRING(g_cfg.BACKENT_TELNET_SYS, "127.0.0.1");
        g_cfg.BACKEND = 2;
    }
    void TearDown() override {
        CloseTelnetConnection();
        SetFrameInitialised(false);
    }
    FakeUi ui;
};

TEST_F(TelnetLive, NegotiatesAndSwitchesEcho) {
    TcpPeer server;
    g_cfg.BACKEND_TELNET_PORT = server.port;
    g_cfg.LOCALECHO = 1;
    ASSERT_EQ(TelnetOpen(), 1);
    ASSERT_TRUE(server.Accept());
    EXPECT_TRUE(TelnetUp());
    EXPECT_EQ(shell_getenv("TELNETBACKEND_IP").value_or(""), "127.0.0.1");
    EXPECT_EQ(shell_getenv("TELNETBACKEND_PORT").value_or(""), std::to_string(server.port));

    server.Send(B({255, 251, 1, 255, 251, 3, 255, 253, 24, 255, 250, 24, 1, 255, 240}) + "login: ");
    std::string expect = B({255, 253, 1, 255, 253, 3, 255, 251, 24, 255, 250, 24, 0}) + "vt100" + B({255, 240});
    EXPECT_EQ(server.Read(expect.size()), expect);
    EXPECT_TRUE(WaitFor([&] { return ui.Console().find("login: ") != std::string::npos; }));
    EXPECT_EQ(g_cfg.LOCALECHO, 0);
    std::string trace = TraceText();
    for (const char* line : {"TELNET_WILL ECHO", "TELNET_WILL SUPPGOAHEAD", "TELNET_DO TERMTYPE", "TELNET_SB TERMTYPE",
                             "TERMTYPE = VT100", "TELNET_SE", "recv 251 (fb)", "done"})
        EXPECT_NE(trace.find(line), std::string::npos) << line;

    server.Send(B({255, 253, 1}));
    EXPECT_EQ(server.Read(3), B({255, 251, 1}));
    EXPECT_TRUE(WaitFor([] { return g_cfg.LOCALECHO == 1; }));

    // Data written goes out unchanged when line mode is off.
    TelnetWrite("ab", 2);
    EXPECT_EQ(server.Read(2), "ab");

    EXPECT_EQ(CloseTelnetConnection(), 1);
    EXPECT_FALSE(TelnetUp());
    EXPECT_EQ(server.ReadOnce(5000), "");  // the far end sees the close
    EXPECT_NE(TraceText().find("CloseTelnetConnection()"), std::string::npos);
}

TEST_F(TelnetLive, LineModeSendsTheEditedLineInOneSend) {
    TcpPeer server;
    g_cfg.BACKEND_TELNET_PORT = server.port;
    g_cfg.BACKEND_TELNET_LINEMODE = 1;
    ASSERT_EQ(TelnetOpen(), 1);
    ASSERT_TRUE(server.Accept());
    for (char c : std::string("lss\b")) TelnetWrite(&c, 1);
    EXPECT_TRUE(server.Quiet(300));
    EXPECT_NE(ui.Console().find(" \b"), std::string::npos);
    TelnetWrite("\r", 1);
    EXPECT_EQ(server.ReadOnce(), "ls\r");

    // A full buffer is sent as it is; nothing typed is lost.
    std::string longLine(300, 'x');
    TelnetWrite(longLine.data(), longLine.size());
    EXPECT_EQ(server.Read(256), std::string(256, 'x'));
    EXPECT_TRUE(server.Quiet(200));
    TelnetWrite("\n", 1);
    EXPECT_EQ(server.Read(45), std::string(44, 'x') + "\n");
}

TEST_F(TelnetLive, AutoRestartReconnectsAndRerunsStartScriptOnlyWhenAsked) {
    for (bool rerun : {false, true}) {
        SCOPED_TRACE(rerun ? "RUN_STARTSCRIPT_ON_RESTART=TRUE" : "unset");
        ui.Reset();
        shell_setenv("RUN_STARTSCRIPT_ON_RESTART", rerun ? "TRUE" : "");
        CFG_SET_STRING(g_cfg.STARTUP_SCRIPT, "start.scr");
        g_cfg.BACKEND_TELNET_AUTORESTART = 1;
        auto server = std::make_unique<TcpPeer>();
        uint16_t port = server->port;
        g_cfg.BACKEND_TELNET_PORT = port;
        ASSERT_EQ(TelnetOpen(), 1);
        ASSERT_TRUE(server->Accept());

        // The server goes away entirely, then comes back on the same port.
        server.reset();
        const std::string retry = "Remote connection dropped, retrying connection...\r\n";
        ASSERT_TRUE(WaitFor([&] { return ui.Console().find(retry) != std::string::npos; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        TcpPeer back(port);
        ASSERT_EQ(back.port, port);
        ASSERT_TRUE(back.Accept(20000));
        ASSERT_TRUE(WaitFor([] { return TelnetUp(); }));
        back.Send("again");
        ASSERT_TRUE(WaitFor([&] { return ui.Console().find("again") != std::string::npos; }));

        std::string console = ui.Console();
        EXPECT_EQ(console.find(retry), console.rfind(retry));  // printed once
        EXPECT_EQ(console.find("Re-running startup script...\r\n") != std::string::npos, rerun);
        EXPECT_NE(TraceText().find("Telnet connection restart"), std::string::npos);
        CloseTelnetConnection();
    }
    shell_setenv("RUN_STARTSCRIPT_ON_RESTART", "");
}

TEST_F(TelnetLive, DropWithoutAutoRestartAsksAndReconnectsOnYes) {
    TcpPeer server;
    g_cfg.BACKEND_TELNET_PORT = server.port;
    ASSERT_EQ(TelnetOpen(), 1);
    ASSERT_TRUE(server.Accept());
    ui.Answer(IDOK);
    ui.Answer(IDYES);
    server.Drop();
    ASSERT_TRUE(server.Accept());
    auto boxes = ui.Boxes();
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].title, "Telnet client closing");
    EXPECT_EQ(boxes[0].text, "The other end has dropped the connection\n");
    EXPECT_EQ(boxes[1].text, "Want to reconnect?");
    server.Send("back");
    EXPECT_TRUE(WaitFor([&] { return ui.Console().find("back") != std::string::npos; }));
}

TEST_F(TelnetLive, RefusedFirstConnectionReportsAndLeavesNoBackend) {
    g_cfg.BACKEND_TELNET_PORT = FreeTcpPort();
    EXPECT_EQ(TelnetOpen(), 1);
    EXPECT_EQ(g_cfg.BACKEND, 0);
    EXPECT_FALSE(TelnetUp());
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].title.find("ERROR (telnetc"), std::string::npos);
    EXPECT_NE(boxes[0].title.find("connect failed"), std::string::npos);
}

TEST_F(TelnetLive, BusyboxTelnetdRunsATypedCommand) {
    std::string busybox = ProcFindOnPath("busybox");
    if (busybox.empty() || [&] { auto r = RunProgram(busybox, {"telnetd", "--help"}); return (r.out + r.err).find("Usage") == std::string::npos; }())
        GTEST_SKIP() << "busybox telnetd not installed";
    uint16_t port = FreeTcpPort();
    Proc daemon(busybox, {"telnetd", "-F", "-b", "127.0.0.1", "-p", std::to_string(port), "-l", "/bin/sh"});
    ASSERT_TRUE(WaitFor([&] {
        in_addr a{};
        inet_pton(AF_INET, "127.0.0.1", &a);
        int fd = NetConnectTcp(NetAddress(a, port), 500);
        if (fd < 0) return false;
        NetClose(fd);
        return true;
    }));
    g_cfg.BACKEND_TELNET_PORT = port;
    ASSERT_EQ(TelnetOpen(), 1);
    ASSERT_TRUE(TelnetUp());
    const char* cmd = "echo ox$((40+2))\r";
    TelnetWrite(cmd, strlen(cmd));
    EXPECT_TRUE(WaitFor([&] { return ui.Console().find("ox42") != std::string::npos; }, 15000)) << ui.Console();
    EXPECT_NE(TraceText().find("TELNET_WILL ECHO"), std::string::npos);
}

}  // namespace
