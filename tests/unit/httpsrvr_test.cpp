// What OK in the "HTTP Server..." dialog does: the checks, the stored
// settings, and starting and stopping the servers.
#include "servers/httpsrvr.h"

#include <gtest/gtest.h>

#include "config/configrecord.h"
#include "fake_ui.h"
#include "platform/net.h"
#include "proc.h"
#include "config/shellvar.h"
#include "servers/websocsrvr.h"

namespace {

class HttpDialog : public ::testing::Test {
protected:
    void SetUp() override { ConfigInitDefaults(); }
    void TearDown() override { HttpStop(); }
    HttpSettings Settings(uint32_t http, uint32_t ws, bool enabled) {
        HttpSettings s;
        s.home = home.path();
        s.enabled = enabled;
        s.httpPort = http;
        s.websocPort = ws;
        s.user = "u";
        s.pswd = "p";
        return s;
    }
    FakeUi fake;
    TempDir home;
};

TEST_F(HttpDialog, RefusesAMissingHomeAndBadPortsAndStoresNothing) {
    HttpSettings s = Settings(8080, 8081, true);
    s.home = home.File("missing");
    EXPECT_STREQ(HttpApplySettings(s), "Directory doesn't exist");
    for (auto ports : {std::pair<uint32_t, uint32_t>{8080, 8080}, {70000, 8081}, {8080, 0x10000}})
        EXPECT_STREQ(HttpApplySettings(Settings(ports.first, ports.second, true)), "Illegal port assignment.");
    EXPECT_EQ(g_cfg.HTTPSRVR_PORT, 80);
    EXPECT_FALSE(HttpRunning());
}

uint16_t FreePort() {
    int fd = NetListenTcp(0, true);
    uint16_t port = NetLocalPort(fd);
    NetClose(fd);
    return port;
}

TEST_F(HttpDialog, EnabledStartsBothServersAndUncheckedStopsThem) {
    EXPECT_EQ(HttpApplySettings(Settings(0x1F97, 0, false)), nullptr);   // stored, not started
    EXPECT_EQ(g_cfg.HTTPSRVR_PORT, 8087);
    EXPECT_STREQ(g_cfg.HTTP_AUTH_USER, "u");
    EXPECT_EQ(shell_getenv("WEBSOCPORT"), "0");
    EXPECT_FALSE(HttpRunning());
    const uint16_t http = FreePort(), ws = FreePort();
    EXPECT_EQ(HttpApplySettings(Settings(http, ws, true)), nullptr);
    EXPECT_TRUE(HttpRunning());
    EXPECT_TRUE(WebsocRunning());
    EXPECT_EQ(HttpPort(), http);
    EXPECT_EQ(WebsocPort(), ws);
    EXPECT_EQ(g_cfg.HTTPSRVR_ENABLED, 1);
    EXPECT_EQ(HttpApplySettings(Settings(http, ws, false)), nullptr);
    EXPECT_FALSE(HttpRunning());
    EXPECT_FALSE(WebsocRunning());
    EXPECT_EQ(g_cfg.HTTPSRVR_ENABLED, 0);
}

}  // namespace
