// MONCMD requests as bytes in, and the server in process on 127.0.0.1.
#include "servers/moncmdsrvr.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/wiring.h"
#include "console/screenbuf.h"
#include "platform/report.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"
#include "config/shellvar.h"

namespace {

MoncmdRequest Parse(const std::string& s) {
    return MoncmdParse(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(MoncmdParseTest, PrefixesNumbersAndTheFirstNul) {
    const struct {
        std::string datagram;
        MoncmdKind kind;
        std::string rest;
        int number;
    } cases[] = {
        {"SCRCMD: SET A=1", MoncmdKind::Scrcmd, "SET A=1", 0},
        {std::string("SCRCMD: ECHO hi\0junk", 20), MoncmdKind::Scrcmd, "ECHO hi", 0},
        {"BUTTON: 17", MoncmdKind::Button, "17", 17},
        {"BUTTON:   4xyz", MoncmdKind::Button, "  4xyz", 4},
        {"BUTTON: none", MoncmdKind::Button, "none", 0},
        {"FKEY: 0", MoncmdKind::Fkey, "0", 0},
        {"FKEY: 99999999999999", MoncmdKind::Fkey, "99999999999999", 0},
        {"FKEY:1", MoncmdKind::Unknown, "", 0},
        {"scrcmd: SET A=1", MoncmdKind::Unknown, "", 0},
        {"", MoncmdKind::Unknown, "", 0},
    };
    for (const auto& c : cases) {
        MoncmdRequest r = Parse(c.datagram);
        EXPECT_EQ(r.kind, c.kind) << c.datagram;
        EXPECT_EQ(r.rest, c.rest) << c.datagram;
        if (c.number) EXPECT_EQ(r.number, c.number) << c.datagram;
    }
    EXPECT_GT(Parse("FKEY: 99999999999999").number, 12);   // large, never wrapped into range
    std::string big = "SCRCMD: " + std::string(600, 'x');
    EXPECT_EQ(Parse(big).text.size(), kMoncmdDatagram);
}

class MoncmdServer : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        AppWireHooks();
        g_cfg.TRACEFLAGS = 0xFFFF;
        g_cfg.TRACE_TSTAMP_ENABLE = 0;
        SetFrameInitialised(true);
        TraceClear();
        client = NetUdpSocket(0, true);
    }
    void TearDown() override {
        MoncmdsrvrStop();
        NetClose(client);
        SetFrameInitialised(false);
    }
    // Sends one request and waits for the one-byte answer.
    std::string Ask(const std::string& request) {
        sockaddr_in to = NetAddress(in_addr{htonl(INADDR_LOOPBACK)}, MoncmdsrvrPort());
        sendto(client, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (NetWaitReadable(client, 10000) != 1) return "timeout";
        char buf[16];
        ssize_t n = recv(client, buf, sizeof buf, 0);
        return n < 0 ? "error" : std::string(buf, static_cast<size_t>(n));
    }
    uint16_t FreeUdpPort() {
        int fd = NetUdpSocket(0, true);
        uint16_t p = NetLocalPort(fd);
        NetClose(fd);
        return p;
    }
    bool HasBox(const std::string& title, const std::string& text) {
        for (const auto& b : ui.Boxes())
            if (b.title == title && b.text == text) return true;
        return false;
    }
    FakeUi ui;
    int client = -1;
};

// The local address (hex, as the kernel lists it) of the UDP socket on port.
std::string BoundAddress(uint16_t port) {
    std::ifstream udp("/proc/net/udp");
    char want[8];
    std::snprintf(want, sizeof want, ":%04X", port);
    for (std::string line; std::getline(udp, line);) {
        std::istringstream f(line);
        std::string slot, local;
        f >> slot >> local;
        if (local.size() > 5 && local.substr(local.size() - 5) == want) return local.substr(0, 8);
    }
    return "";
}

TEST_F(MoncmdServer, RequestsAreCarriedOutThenAcknowledgedAndTheNameIsLookedUpOnce) {
    g_cfg.MONCMDSRVR_PORT = FreeUdpPort();
    g_cfg.MONCMDSRVR_ENABLED = 1;
    shell_setenv("MONCMDSRVR_BIND_ADDR", "127.0.0.1");
    ASSERT_EQ(MoncmdsrvrStart(), 1);
    shell_unsetenv("MONCMDSRVR_BIND_ADDR");
    EXPECT_EQ(BoundAddress(g_cfg.MONCMDSRVR_PORT), "0100007F");
    EXPECT_NE(TraceCaptionText().find("Moncmd"), std::string::npos);
    const int before = MoncmdsrvrLookups();
    EXPECT_EQ(Ask("SCRCMD: SET MCVAR=6*7"), std::string(1, '\0'));
    EXPECT_EQ(shell_getenv("MCVAR").value_or(""), "42");   // already set when the answer came
    EXPECT_EQ(Ask("BUTTON: 17"), std::string(1, '\0'));
    EXPECT_EQ(Ask("FKEY:1"), std::string(1, '\0'));
    EXPECT_EQ(MoncmdsrvrLookups(), before + 1);
    EXPECT_NE(TraceText().find("MONCMD button: <17>"), std::string::npos);
    EXPECT_NE(TraceText().find("MONCMD unknown command"), std::string::npos);
    EXPECT_NE(TraceText().find("MONCMD script cmd: <SET MCVAR=6*7>"), std::string::npos);
    shell_unsetenv("MCVAR");
}

TEST_F(MoncmdServer, PortInUseAndTheDialog) {
    g_cfg.MONCMDSRVR_PORT = FreeUdpPort();
    int holder = NetUdpSocket(g_cfg.MONCMDSRVR_PORT, false);
    ASSERT_GE(holder, 0);
    g_cfg.MONCMDSRVR_ENABLED = 1;
    EXPECT_EQ(MoncmdsrvrStart(), 0);
    EXPECT_EQ(g_cfg.MONCMDSRVR_ENABLED, 0);
    EXPECT_TRUE(HasBox("MONCMD SERVER", "port " + std::to_string(g_cfg.MONCMDSRVR_PORT) + " in use"));
    NetClose(holder);

    const std::string port = std::to_string(FreeUdpPort());
    MoncmdsrvrDialogApply(true, port);
    EXPECT_TRUE(MoncmdsrvrRunning());
    EXPECT_EQ(std::to_string(MoncmdsrvrPort()), port);
    EXPECT_EQ(BoundAddress(MoncmdsrvrPort()), "00000000");   // all interfaces by default
    MoncmdsrvrDialogApply(true, port);
    EXPECT_TRUE(HasBox("MONCMD SERVER", "already running"));
    EXPECT_EQ(Ask("FKEY: 0"), std::string(1, '\0'));
    MoncmdsrvrDialogApply(false, port);
    EXPECT_FALSE(MoncmdsrvrRunning());
    EXPECT_EQ(g_cfg.MONCMDSRVR_ENABLED, 0);
    MoncmdsrvrDialogApply(false, port);   // unchecked while stopped: stays stopped
    EXPECT_FALSE(MoncmdsrvrRunning());
    MoncmdsrvrDialogApply(true, "0x");
    EXPECT_TRUE(HasBox("MONCMD SERVER", "Port '0x' not valid"));
}

}  // namespace
