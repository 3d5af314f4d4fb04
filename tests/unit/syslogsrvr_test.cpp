// SYSLOG datagrams as bytes in, and the collector in process on 127.0.0.1
// fed by logger(1) and by a raw socket.
#include "servers/syslogsrvr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/wiring.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "fake_ui.h"
#include "log/logging.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"
#include "proc.h"

namespace {

std::string Line(const std::string& datagram) {
    return SyslogLine("h", reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size());
}

TEST(SyslogLineTest, PrioritiesNamesAndHostilePayloads) {
    const struct {
        std::string datagram, line;
    } cases[] = {
        {"<13>hello", "(from h) PRIO: user.notice, MSG: <hello>"},
        {"<0>boot", "(from h) PRIO: kernel.emerg, MSG: <boot>"},
        {"<191>x", "(from h) PRIO: local7.debug, MSG: <x>"},
        {"<96>x", "(from h) PRIO: ???.emerg, MSG: <x>"},
        {"<34>a>b", "(from h) PRIO: authorize.critical, MSG: <a>b>"},
        {"no prefix", "(from h) <no prefix>"},
        {"<13 no close", "(from h) <<13 no close>"},
        {"x<13>", "(from h) <x<13>>"},
        {"<192>x", "(from h) PRIO: invalid <192>, MSG: <x>"},
        {"<99999999999999999999>x", "(from h) PRIO: invalid <99999999999999999999>, MSG: <x>"},
        {"<-1>x", "(from h) PRIO: invalid <-1>, MSG: <x>"},
        {"<>x", "(from h) PRIO: invalid <>, MSG: <x>"},
        {std::string("<13>a\0b", 7), "(from h) PRIO: user.notice, MSG: <a\\x00b>"},
        {"<13>\x1b[2J\x1b]0;t\x07\r\n\x9b" "1m\x7f", "(from h) PRIO: user.notice, MSG: <\\x1B[2J\\x1B]0;t\\x07\\x0D\\x0A\\x9B1m\\x7F>"},
    };
    for (const auto& c : cases) EXPECT_EQ(Line(c.datagram), c.line) << c.datagram;
    EXPECT_STREQ(SyslogFacilityName(1000), "???");
    EXPECT_STREQ(SyslogSeverityName(11), "error");
    const std::string big(70000, '\x01');
    const std::string cut = Line(big);
    EXPECT_EQ(cut.size(), kSyslogLineMax);
    EXPECT_EQ(cut.substr(cut.size() - 6), " [cut]");
}

class SyslogServer : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        AppWireHooks();
        g_cfg.TRACEFLAGS = 0;
        g_cfg.TRACE_TSTAMP_ENABLE = 0;
        SetFrameInitialised(true);
        TraceClear();
        client = NetUdpSocket(0, true);
    }
    void TearDown() override {
        SyslogsrvrStop();
        LogClose();
        NetClose(client);
        SetFrameInitialised(false);
    }
    uint16_t FreeUdpPort() {
        int fd = NetUdpSocket(0, true);
        uint16_t p = NetLocalPort(fd);
        NetClose(fd);
        return p;
    }
    void Send(const std::string& d) {
        sockaddr_in to = NetAddress(in_addr{htonl(INADDR_LOOPBACK)}, SyslogsrvrPort());
        sendto(client, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // Waits (bounded) until the trace holds needle.
    bool TraceShows(const std::string& needle, int timeoutMs = 5000) {
        for (int i = 0; i < timeoutMs / 10; ++i) {
            if (TraceText().find(needle) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    bool HasBox(const std::string& title, const std::string& text) {
        for (const auto& b : ui.Boxes())
            if (b.title == title && b.text == text) return true;
        return false;
    }
    void StartOnFreePort() {
        g_cfg.SYSLOGSRVR_PORT = FreeUdpPort();
        g_cfg.SYSLOGSRVR_ENABLED = 1;
        ASSERT_EQ(SyslogsrvrStart(), 1);
    }
    // Opens the standard log without a header and starts the server copying to it.
    void StartCopyingTo(const std::string& path) {
        g_cfg.LOGGING_OMITHDR = 1;
        CFG_SET_STRING(g_cfg.LOGGING_FILENAME, path.c_str());
        ASSERT_EQ(LogOpen(), 1);
        StartOnFreePort();
        g_cfg.SYSLOG_TOLOG_ENABLED = 1;
    }
    FakeUi ui;
    int client = -1;
};

TEST_F(SyslogServer, LoggerLinesReachTheTraceAndTheLogCopy) {
    TempDir dir;
    StartCopyingTo(dir.File("std.log"));
    EXPECT_TRUE(g_cfg.TRACEFLAGS & TRC_SYSLOG);
    EXPECT_NE(TraceCaptionText().find("Syslog"), std::string::npos);
    ProcResult r = RunProgram("/usr/bin/logger", {"-n", "127.0.0.1", "-P", std::to_string(SyslogsrvrPort()), "-d",
                                         "--rfc3164", "-t", "bench", "board up"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(TraceShows("board up>"));
    const std::string trace = TraceText();
    EXPECT_NE(trace.find("SYSLOG: (from "), std::string::npos) << trace;
    EXPECT_NE(trace.find(") PRIO: user.notice, MSG: <"), std::string::npos) << trace;
    ProcResult r2 = RunProgram("/usr/bin/logger", {"-n", "127.0.0.1", "-P", std::to_string(SyslogsrvrPort()), "-d", "-p",
                                          "local3.err", "second"});
    ASSERT_EQ(r2.status, 0) << r2.err;
    ASSERT_TRUE(TraceShows("second>"));
    EXPECT_NE(TraceText().find("PRIO: local3.error"), std::string::npos);
    LogClose();
    const std::string log = dir.Read("std.log");
    EXPECT_NE(log.find("PRIO: user.notice"), std::string::npos) << log;
    EXPECT_NE(log.find("board up>"), std::string::npos) << log;
}

TEST_F(SyslogServer, HostileDatagramsAreShownNeutralisedAndStopTurnsTheCategoryOff) {
    StartOnFreePort();
    Send(std::string("<13>nul\0inside\x1b[31m", 19));
    Send("<200>too high");
    Send(std::string(65000, 'Z'));
    Send("");   // skipped
    Send("<13>last");
    ASSERT_TRUE(TraceShows("MSG: <last>"));
    const std::string trace = TraceText();
    EXPECT_NE(trace.find("MSG: <nul\\x00inside\\x1B[31m>"), std::string::npos) << trace;
    EXPECT_NE(trace.find("PRIO: invalid <200>, MSG: <too high>"), std::string::npos);
    EXPECT_NE(trace.find("<ZZZZ"), std::string::npos);
    EXPECT_NE(trace.find("Z [cut] [datagram of 65000 bytes]"), std::string::npos) << trace;
    EXPECT_EQ(trace.find('\x1b'), std::string::npos);
    SyslogsrvrStop();
    EXPECT_FALSE(SyslogsrvrRunning());
    EXPECT_EQ(g_cfg.SYSLOGSRVR_ENABLED, 0);
    EXPECT_FALSE(g_cfg.TRACEFLAGS & TRC_SYSLOG);
    EXPECT_EQ(TraceCaptionText().find("Syslog"), std::string::npos);
}

// The trace pane keeps the last lines only: the log copy holds them all.
TEST_F(SyslogServer, BurstArrivesWholeAndInOrder) {
    TempDir dir;
    StartCopyingTo(dir.File("std.log"));
    const int n = 10000;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) Send("<14>burst " + std::to_string(i));
    // The socket may drop some of a burst: a marker sent until seen ends it.
    bool ended = false;
    for (int i = 0; i < 50 && !ended; ++i) {
        Send("<14>end of burst");
        ended = TraceShows("end of burst", 200);
    }
    ASSERT_TRUE(ended);
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    LogClose();
    const std::string log = dir.Read("std.log");
    size_t at = 0;
    int seen = 0, last = -1;
    while ((at = log.find("burst ", at)) != std::string::npos) {
        at += 6;
        if (log.compare(at, 3, "of ") == 0) continue;
        const int v = std::atoi(log.c_str() + at);
        EXPECT_GT(v, last);
        last = v;
        ++seen;
    }
    EXPECT_GT(seen, n / 10);   // loopback delivers most of a burst
    std::printf("syslog burst: %d of %d datagrams logged in %.2f s (%.0f lines/s)\n", seen, n, secs, seen / secs);
}

TEST_F(SyslogServer, PortInUseAndTheDialog) {
    g_cfg.SYSLOGSRVR_PORT = FreeUdpPort();
    int holder = NetUdpSocket(g_cfg.SYSLOGSRVR_PORT, false);
    ASSERT_GE(holder, 0);
    g_cfg.SYSLOGSRVR_ENABLED = 1;
    g_cfg.TRACEFLAGS = TRC_SYSLOG;
    EXPECT_EQ(SyslogsrvrStart(), 0);
    EXPECT_EQ(g_cfg.SYSLOGSRVR_ENABLED, 0);
    EXPECT_FALSE(g_cfg.TRACEFLAGS & TRC_SYSLOG);
    EXPECT_TRUE(HasBox("SYSLOG SERVER", "port " + std::to_string(g_cfg.SYSLOGSRVR_PORT.get()) + " in use"));
    // The dialog stays open on a failed start.
    EXPECT_EQ(SyslogsrvrDialogApply(true, true, false, std::to_string(g_cfg.SYSLOGSRVR_PORT.get())), 0);
    NetClose(holder);

    const uint16_t port = FreeUdpPort();
    EXPECT_EQ(SyslogsrvrDialogApply(true, true, true, std::to_string(port) + "xyz"), 1);
    EXPECT_TRUE(SyslogsrvrRunning());
    EXPECT_EQ(SyslogsrvrPort(), port);
    EXPECT_EQ(g_cfg.SYSLOG_TOLOG_ENABLED, 1);
    EXPECT_EQ(g_cfg.SYSLOGSRVR_TOCONSOLE, 1);
    Send("<13>via dialog");
    EXPECT_TRUE(TraceShows("MSG: <via dialog>"));
    EXPECT_EQ(SyslogsrvrDialogApply(false, true, true, "1"), 1);
    EXPECT_FALSE(SyslogsrvrRunning());
    EXPECT_EQ(g_cfg.SYSLOG_TOLOG_ENABLED, 0);
    EXPECT_EQ(g_cfg.SYSLOGSRVR_PORT, port);   // the port is kept while stopping
    // Unchecked while stopped: the switches and the port are stored.
    EXPECT_EQ(SyslogsrvrDialogApply(false, true, false, "5140"), 1);
    EXPECT_EQ(g_cfg.SYSLOGSRVR_PORT, 5140);
    EXPECT_EQ(g_cfg.SYSLOG_TOLOG_ENABLED, 1);
    EXPECT_FALSE(SyslogsrvrRunning());
    EXPECT_EQ(SyslogsrvrDialogApply(false, false, false, "abc"), 0);
    EXPECT_TRUE(HasBox("SYSLOG SERVER", "Port 'abc' not valid"));
}

}  // namespace
