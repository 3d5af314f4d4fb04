#include "app/wiring.h"
#include "console/screenbuf.h"
#include "backend/oxeltunnel.h"

#include <gtest/gtest.h>

#include <string>

#include "app/oxel.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "loopback_peer.h"

namespace {

class TunnelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        AppWireHooks();
        SetFrameInitialised(true);
    }
    void TearDown() override {
        TunnelStop();
        SetFrameInitialised(false);
    }
    bool HasBox(const std::string& titlePart, const std::string& text = "") {
        for (const auto& b : ui.Boxes())
            if (b.title.find(titlePart) != std::string::npos && (text.empty() || b.text == text)) return true;
        return false;
    }
    FakeUi ui;
};

TEST_F(TunnelTest, UnreachableServerIsReportedAndLeavesTheTunnelDown) {
    EXPECT_EQ(TunnelStart("127.0.0.1", FreeTcpPort()), 1);
    ASSERT_TRUE(WaitFor([&] { return HasBox("connect failed"); }));
    EXPECT_FALSE(TunnelUp());
    TunnelCopy("abc", 3);  // nothing to send to, nothing breaks
    // The program goes on, and the tunnel can be started again.
    TcpPeer server;
    EXPECT_EQ(TunnelStart("127.0.0.1", server.port), 1);
    ASSERT_TRUE(server.Accept());
    EXPECT_TRUE(WaitFor([] { return TunnelUp(); }));
    EXPECT_EQ(TunnelHost(), "127.0.0.1");
    EXPECT_EQ(TunnelPort(), server.port);
}

TEST_F(TunnelTest, ReceivedDataIsMirroredAndStopClosesQuietly) {
    TcpPeer server;
    EXPECT_EQ(TunnelStart("127.0.0.1", server.port), 1);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(WaitFor([] { return TunnelUp(); }));
    EXPECT_EQ(TunnelStart("127.0.0.1", server.port), 1);  // already up: nothing happens
    TunnelCopy("target says hi\r\n", 16);
    EXPECT_EQ(server.Read(16), "target says hi\r\n");
    TunnelStop();
    EXPECT_FALSE(TunnelUp());
    EXPECT_EQ(server.ReadOnce(5000), "");  // the server sees the close
    EXPECT_TRUE(ui.Boxes().empty());
}

// The loopback port stands in for the target: what the tunnel server sends
// is written to the backend and comes back as received data, which the
// received-data path copies to the tunnel.
TEST_F(TunnelTest, BytesFromTheServerReachTheBackend) {
    g_cfg.BACKEND = 1;
    g_cfg.COMPORT = 1025;
    g_cfg.ENTER_IS_CRLF = 1;
    TcpPeer server;
    ASSERT_EQ(TunnelStart("127.0.0.1", server.port), 1);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(WaitFor([] { return TunnelUp(); }));
    server.Send("ver\r");
    EXPECT_TRUE(WaitFor([&] { return ui.Console().find("ver\r\n") != std::string::npos; })) << ui.Console();
    // ... and the target's answer (here the same bytes) goes back to the server.
    EXPECT_EQ(server.Read(5), "ver\r\n");
}

TEST_F(TunnelTest, ServerDropIsShown) {
    TcpPeer server;
    TunnelConfigApply(true, "127.0.0.1", server.port);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(WaitFor([] { return TunnelUp(); }));
    server.Drop();
    ASSERT_TRUE(WaitFor([&] { return HasBox("Tunnel closing", "Connection dropped\n"); }));
    EXPECT_TRUE(WaitFor([] { return !TunnelUp(); }));
}

}  // namespace
