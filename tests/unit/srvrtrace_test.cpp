#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "util/commands.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while ((pos = text.find("\r\n", pos)) != std::string::npos) {
        size_t next = text.find("\r\n", pos + 2);
        out.push_back(text.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2));
        pos += 2;
    }
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

class Trace : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        g_cfg.TRACE_TSTAMP_ENABLE = 0;
        g_cfg.TRACEFLAGS = 0;
        TraceClear();
        char tmpl[] = "/tmp/oxeltraceXXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override {
        TraceShutdown();
        ClockUnpin();
        std::string cmd = "rm -rf " + dir;
        (void)!system(cmd.c_str());
    }
    FakeUi fake;
    std::string dir;
};

TEST_F(Trace, FilteredCategoryFormatsNothing) {
    const std::string before = TraceText();
    // Formatting this would read through a wild pointer.
    EXPECT_EQ(TracePrintf(TRC_TELNET, "%s", reinterpret_cast<const char*>(8)), 0);
    EXPECT_EQ(TraceText(), before);
    EXPECT_GT(TracePrintf(TRC_ALWAYS, "shown"), 0);
    EXPECT_EQ(Lines(TraceText()).back(), "shown");
}

TEST_F(Trace, LineBreaksSplitIntoIndentedLines) {
    g_cfg.TRACEFLAGS = TRC_TFTP;
    struct { const char* text; std::vector<std::string> lines; } cases[] = {
        {"a\r\nb", {"TFTP: a", "   b"}},
        {"a\n\rb", {"TFTP: a", "   b"}},
        {"a\n\nb", {"TFTP: a", "   ", "   b"}},
        {"a\rb\nc", {"TFTP: a", "   b", "   c"}},
        {"x", {"TFTP: x"}},
    };
    for (const auto& c : cases) {
        TraceClear();
        int added = TracePrintf(TRC_TFTP, "%s", c.text);
        auto lines = Lines(TraceText());
        ASSERT_EQ(lines.size(), 128u);
        std::vector<std::string> tail(lines.end() - c.lines.size(), lines.end());
        EXPECT_EQ(tail, c.lines) << c.text;
        int expect = 0;
        for (const auto& l : c.lines) expect += 2 + static_cast<int>(l.size());
        EXPECT_EQ(added, expect) << c.text;
    }
    EXPECT_EQ(fake.TraceTextNow(), TraceText());
}

TEST_F(Trace, KeepsTheLast128Lines) {
    for (int i = 0; i < 200; ++i) TracePrintf(TRC_ALWAYS, "line %d", i);
    auto lines = Lines(TraceText());
    ASSERT_EQ(lines.size(), 128u);
    EXPECT_EQ(lines.front(), "line 72");
    EXPECT_EQ(lines.back(), "line 199");
    TraceClear();
    std::string empty;
    for (int i = 0; i < 128; ++i) empty += "\r\n";
    EXPECT_EQ(TraceText(), empty);
}

TEST_F(Trace, StampAndPrefix) {
    g_cfg.TRACEFLAGS = TRC_DEBUG;
    g_cfg.TRACE_TSTAMP_ENABLE = 1;
    g_cfg.TSTAMP_FORMAT_IDX = 0;
    ClockPin({2026, 12, 7, 12, 0, 1, 0, 0, 0, 0});
    TracePrintf(TRC_DEBUG, "hello %d", 5);
    const std::string want = "\r\n<12:00:01> DEBUG: hello 5";
    std::string text = TraceText();
    EXPECT_EQ(text.substr(text.size() - want.size()), want);
}

TEST_F(Trace, OverlongLineDroppedAndUnknownMaskHasNoPrefix) {
    const std::string before = TraceText();
    EXPECT_EQ(TracePrintf(TRC_ALWAYS, "%s", std::string(1100, 'x').c_str()), 0);
    EXPECT_EQ(TraceText(), before);
    EXPECT_EQ(TracePrintf(TRC_ALWAYS, "%s", std::string(3000, 'y').c_str()), 0);
    g_cfg.TRACEFLAGS = TRC_TFTP;
    EXPECT_EQ(TracePrintf(TRC_TFTP | TRC_FTP, "raw"), 3);
    EXPECT_EQ(TraceText().substr(TraceText().size() - 5), "\r\nraw");
}

TEST_F(Trace, CaptionListsRunningServers) {
    TraceSetServerRunning("Dhcp", true);
    TraceSetServerRunning("Telnet&Lcmd", true);
    EXPECT_EQ(fake.Caption(), "SysTrace  (srvrs: Telnet&Lcmd, Dhcp)");
    TraceSetServerRunning("Telnet", false);
    TraceSetServerRunning("Dhcp", false);
    EXPECT_EQ(fake.Caption(), "SysTrace");
}

TEST_F(Trace, CopyFileAndStartupOption) {
    const std::string path = dir + "/trace.txt";
    ASSERT_EQ(TraceOpenFile(path.c_str()), 1);
    EXPECT_EQ(g_cfg.TRACEFLAGS, TRC_ALL & ~TRC_DEBUG);
    TracePrintf(TRC_FTP, "one\ntwo");
    TracePrintf(TRC_DEBUG, "hidden");
    TraceCloseFile();
    EXPECT_EQ(ReadFile(path), "\r\nFTP: one\r\n   two");

    EXPECT_EQ(TraceOpenFile((dir + "/no/such/dir/t.txt").c_str()), 0);
    ASSERT_EQ(fake.Boxes().size(), 1u);
    EXPECT_NE(fake.Boxes()[0].title.find("ERROR (srvrtrace"), std::string::npos);
    EXPECT_GT(TracePrintf(TRC_ALWAYS, "still tracing"), 0);
}

TEST_F(Trace, CommandsToggleDebugAndPane) {
    TraceInit();
    ASSERT_TRUE(CommandDispatch(437));
    EXPECT_TRUE(g_cfg.TRACEFLAGS & TRC_DEBUG);
    EXPECT_EQ(Lines(TraceText()).back(), "DEBUG: Debug enabled");
    ASSERT_TRUE(CommandDispatch(437));
    EXPECT_FALSE(g_cfg.TRACEFLAGS & TRC_DEBUG);
    EXPECT_EQ(Lines(TraceText()).back(), "DEBUG: Debug disabled");
    const int visible = g_cfg.TRACE_VISIBLE;
    ASSERT_TRUE(CommandDispatch(436));
    EXPECT_EQ(g_cfg.TRACE_VISIBLE, !visible);
}

TEST_F(Trace, FloodIsPushedOnceCurrent) {
    TraceInit();
    for (int i = 0; i < 5000; ++i) TracePrintf(TRC_ALWAYS, "flood %d", i);
    EXPECT_EQ(Lines(TraceText()).back(), "flood 4999");
    // The pane catches up shortly after the burst.
    for (int i = 0; i < 500 && fake.TraceTextNow() != TraceText(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(fake.TraceTextNow(), TraceText());
}

TEST_F(Trace, ManyThreadsLoseAndInterleaveNoLine) {
    const std::string path = dir + "/stress.txt";
    ASSERT_EQ(TraceCopyToFile(path.c_str()), 1);
    TraceInit();
    g_cfg.TRACEFLAGS = TRC_SCRIPT;
    constexpr int kThreads = 8, kCalls = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kCalls; ++i) TracePrintf(TRC_SCRIPT, "t%d c%d first\nt%d c%d second", t, i, t, i);
        });
    for (auto& th : threads) th.join();
    TraceCloseFile();
    auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kCalls * 2));
    std::set<std::string> seen;
    for (size_t i = 0; i < lines.size(); i += 2) {
        int t = -1, c = -1;
        ASSERT_EQ(sscanf(lines[i].c_str(), "SCRIPT: t%d c%d first", &t, &c), 2) << lines[i];
        EXPECT_EQ(lines[i + 1], "   t" + std::to_string(t) + " c" + std::to_string(c) + " second");
        EXPECT_TRUE(seen.insert(lines[i]).second);
    }
}

}  // namespace

namespace {

TEST_F(Trace, DialogApply) {
    const std::string path = dir + "/copy.txt";
    g_cfg.TRACEFLAGS = TRC_SYSLOG;
    EXPECT_EQ(TraceApplyConfig(TRC_FTP | TRC_HTTP, true, 12, true, path.c_str()), 1);
    EXPECT_EQ(g_cfg.TRACEFLAGS, TRC_FTP | TRC_HTTP);
    EXPECT_TRUE(g_cfg.TRACE_TSTAMP_ENABLE);
    EXPECT_EQ(g_cfg.TRACE_ROWS, 12);
    EXPECT_EQ(TraceFileName(), path);
    EXPECT_EQ(TraceApplyConfig(TRC_FTP, false, 10, false, ""), 1);
    EXPECT_EQ(TraceFileName(), "");
    EXPECT_EQ(TraceApplyConfig(TRC_FTP, false, 10, true, (dir + "/x/y").c_str()), 0);
    EXPECT_EQ(fake.Boxes().size(), 1u);
}

}  // namespace
