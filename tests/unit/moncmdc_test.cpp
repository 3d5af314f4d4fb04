#include "console/screenbuf.h"
#include "backend/moncmdc.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "app/oxel.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"

namespace {

// A target monitor on 127.0.0.1: records the command datagram, then sends
// the given answer datagrams.
struct FakeMonitor {
    int fd = NetUdpSocket(0, true);
    uint16_t port = NetLocalPort(fd);
    std::string request;
    std::thread th;

    void Serve(std::vector<std::string> answers) {
        th = std::thread([this, answers] {
            if (NetWaitReadable(fd, 10000) != 1) return;
            char buf[2048];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n > 0) request.assign(buf, static_cast<size_t>(n));
            for (const auto& a : answers)
                sendto(fd, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        });
    }
    ~FakeMonitor() {
        if (th.joinable()) th.join();
        NetClose(fd);
    }
};

class MoncmdTest : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        SetFrameInitialised(true);
        g_cfg.TRACEFLAGS |= TRC_MONCMD;
        TraceClear();
        CFG_SET_STRING(g_cfg.BACKENT_MONCMD_SYS, "127.0.0.1");
    }
    void TearDown() override { SetFrameInitialised(false); }
    FakeUi ui;
};

TEST_F(MoncmdTest, TypedLineIsOneDatagramAndAnswersPrintUntilTheNul) {
    FakeMonitor mon;
    g_cfg.BACKEND_MONCMD_PORT = mon.port;
    g_cfg.BACKEND_MONCMD_WAIT = 300;
    mon.Serve({"Xamo 2.1\n", "built today\n", std::string(1, '\0'), "never shown"});
    for (char c : std::string("versionn\b")) EXPECT_EQ(MoncmdLineEdit(&c, 1), 1);
    EXPECT_EQ(MoncmdLineEdit("\r", 1), 1);
    mon.th.join();
    EXPECT_EQ(mon.request, std::string("version\0", 8));
    std::string console = ui.Console();
    EXPECT_NE(console.find("versionn\b \b\r\nXamo 2.1\nbuilt today\nMONCMD:"), std::string::npos) << console;
    EXPECT_EQ(console.find("never shown"), std::string::npos);
    std::string trace = TraceText();
    EXPECT_NE(trace.find("Sending <version> to 127.0.0.1..."), std::string::npos);
    EXPECT_NE(trace.find("Xamo 2.1"), std::string::npos);
    EXPECT_EQ(trace.find("timeout"), std::string::npos);
}

TEST_F(MoncmdTest, EmptyLineOnlyPrompts) {
    EXPECT_EQ(MoncmdLineEdit("\n", 1), 1);
    EXPECT_EQ(ui.Console(), "\r\nMONCMD:");
    EXPECT_EQ(TraceText().find("Sending"), std::string::npos);
}

TEST_F(MoncmdTest, ExchangeResultsAndTimeoutLines) {
    struct {
        const char* name;
        std::vector<std::string> answers;
        int polls;
        int result;
        const char* traceLine;
    } cases[] = {
        {"no wait", {}, 0, 0, nullptr},
        {"answer then silence", {"partial"}, 5, 0, "timeout, command received but not completed."},
        {"silence", {}, 5, 0, "timeout, command not received."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TraceClear();
        FakeMonitor mon;
        mon.Serve(c.answers);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(MoncmdExchange("127.0.0.1", "ver", mon.port, c.polls, false), c.result);
        if (c.polls == 0) {  // returns at once
            EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
        }
        mon.th.join();
        EXPECT_EQ(mon.request, std::string("ver\0", 4));
        if (c.traceLine) EXPECT_NE(TraceText().find(c.traceLine), std::string::npos) << TraceText();
        else EXPECT_EQ(TraceText().find("timeout"), std::string::npos);
    }
    EXPECT_TRUE(ui.Console().empty());  // print off: nothing shown
    EXPECT_EQ(MoncmdExchange("no.such.host.invalid", "ver", 777, 0, false), -1);
    EXPECT_NE(TraceText().find("gethostbyname failed"), std::string::npos);
}

TEST_F(MoncmdTest, LongLineAbortsWithTheOverflowTrace) {
    std::string line(255, 'a');
    EXPECT_EQ(MoncmdLineEdit(line.data(), line.size()), 1);
    EXPECT_EQ(TraceText().find("Line overflow"), std::string::npos);
    EXPECT_EQ(MoncmdLineEdit("b", 1), 0);  // the 256th character
    EXPECT_NE(TraceText().find("Line overflow, command aborted."), std::string::npos);
    // The line starts again empty: Enter sends nothing.
    TraceClear();
    EXPECT_EQ(MoncmdLineEdit("\r", 1), 1);
    EXPECT_EQ(TraceText().find("Sending"), std::string::npos);
}

TEST_F(MoncmdTest, OpenCloseAndStatus) {
    EXPECT_EQ(MoncmdOpen(), 1);
    EXPECT_TRUE(BackendConnected());
    EXPECT_EQ(MoncmdClose(), 1);
    EXPECT_FALSE(BackendConnected());
    g_cfg.BACKEND_MONCMD_PORT = 777;
    EXPECT_EQ(MoncmdStatusText(), "MONCMD 127.0.0.1:777");
    EXPECT_EQ(MoncmdConfigText(), "127.0.0.1:777");
    MoncmdConfigApply("10.1.2.3:0x30a", "25");
    EXPECT_STREQ(g_cfg.BACKENT_MONCMD_SYS, "10.1.2.3");
    EXPECT_EQ(g_cfg.BACKEND_MONCMD_PORT, 778);
    EXPECT_EQ(g_cfg.BACKEND_MONCMD_WAIT, 25);
    EXPECT_EQ(g_cfg.BACKEND, 3);
    EXPECT_TRUE(BackendConnected());
    MoncmdConfigApply("board", "10");
    EXPECT_EQ(g_cfg.BACKEND_MONCMD_PORT, 778);  // no colon: port unchanged
    EXPECT_NE(ui.Console().find("MONCMD:"), std::string::npos);
}

}  // namespace
