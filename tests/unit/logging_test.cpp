#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/configrecord.h"
#include "fake_ui.h"
#include "console/rxpath.h"
#include "log/logging.h"
#include "log/ltlogging.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "script/log_cmd.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// LOG with words as a script would pass them.
int Log(std::vector<std::string> words) {
    words.insert(words.begin(), "LOG");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return cmd_log(static_cast<int>(words.size()), argv.data());
}

class Logging : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        LogClose();
        LtlogClose(LTLOG_DEFAULT);
        LogSetBinaryCapture(false);
        TimestampSetLineStart(false);
        ClockPin({2026, 12, 7, 9, 5, 3, 7, 0, 0, 0});
        char tmpl[] = "/tmp/oxellogXXXXXX";
        dir = mkdtemp(tmpl);
        path = dir + "/test.log";
    }
    void TearDown() override {
        LogClose();
        ClockUnpin();
        std::string cmd = "rm -rf " + dir;
        (void)!system(cmd.c_str());
    }
    // Opens path without a header so files hold exactly what was written.
    void OpenPlain() {
        g_cfg.LOGGING_OMITHDR = 1;
        CFG_SET_STRING(g_cfg.LOGGING_FILENAME, path.c_str());
        ASSERT_EQ(LogOpen(), 1);
    }
    std::string Stamped(const std::string& chunk, size_t capacity = 4096) {
        std::vector<char> buf(capacity);
        std::copy(chunk.begin(), chunk.end(), buf.begin());
        size_t n = TimestampInsert(buf.data(), chunk.size(), capacity);
        return std::string(buf.data(), n);
    }
    FakeUi fake;
    std::string dir, path;
};

TEST_F(Logging, StampRows) {
    g_cfg.TSTAMP_ENABLED = 1;
    struct { int idx; const char* stamp; } cases[] = {
        {0, "<09:05:03> "},
        {1, "<07/12/2026 @ 09:05:03> "},
        {2, "<07/12/2026 @ 09:05:03 AM> "},
        {3, "<Dec07@09:05:03> "},
        {4, "<Dec_07,2026@09:05:03> "},
        {5, "<09:05:03.007> "},
        {6, "<20261207-09:05:03.007> "},
        {7, "<09:05:03> "},      // outside the table: row 0
        {-4, "<09:05:03> "},
        {100000, "<09:05:03> "},
    };
    for (const auto& c : cases) {
        g_cfg.TSTAMP_FORMAT_IDX = c.idx;
        TimestampSetLineStart(true);
        EXPECT_EQ(Stamped("x"), std::string(c.stamp) + "x") << c.idx;
    }
    g_cfg.TSTAMP_CUSTOM = 1;
    CFG_SET_STRING(g_cfg.TSTAMP_CUSTOM_FORMAT, "[%H%M] ");
    TimestampSetLineStart(true);
    EXPECT_EQ(Stamped("x"), "[0905] x");
    // A custom stamp never grows past its room.
    CFG_SET_STRING(g_cfg.TSTAMP_CUSTOM_FORMAT, std::string(500, 'Z').c_str());
    TimestampSetLineStart(true);
    EXPECT_EQ(Stamped("x"), std::string(27, 'Z') + "x");
}

TEST_F(Logging, StampsAtLineStartsAcrossChunks) {
    g_cfg.TSTAMP_ENABLED = 1;
    g_cfg.TSTAMP_FORMAT_IDX = 6;
    const std::string s = "<20261207-09:05:03.007> ";
    // The first line after start is not stamped.
    EXPECT_EQ(Stamped("boot\r\n"), "boot\r\n");
    EXPECT_EQ(Stamped("x\r\ny\r\n"), s + "x\r\n" + s + "y\r\n");
    EXPECT_EQ(Stamped("\r\n"), "\r\n");
    EXPECT_EQ(Stamped("z"), s + "z");
    EXPECT_EQ(Stamped(std::string("\0q", 2)), std::string("\0", 1) + "q");
    EXPECT_EQ(Stamped("\n"), "\n");
    EXPECT_EQ(Stamped(std::string("\0w", 2)), std::string("\0", 1) + s + "w");
    g_cfg.TSTAMP_ENABLED = 0;
    EXPECT_EQ(Stamped("\na\nb"), "\na\nb");
}

TEST_F(Logging, StampOverflowSkipsChunk) {
    g_cfg.TSTAMP_ENABLED = 1;
    g_cfg.TRACEFLAGS = TRC_DEBUG;
    TimestampSetLineStart(true);
    // 4 bytes + 3 positions (a, b, the next chunk) * 32 is not below 68.
    EXPECT_EQ(Stamped("a\nb\n", 68), "a\nb\n");
    EXPECT_NE(TraceText().find("DEBUG: timestamp overflow (icnt=3,max=68)"), std::string::npos);
    // The line-start flag still follows the chunk.
    EXPECT_EQ(Stamped("c", 69).substr(0, 1), "<");
}

TEST_F(Logging, HeaderAndFilter) {
    CFG_SET_STRING(g_cfg.LOGGING_FILENAME, path.c_str());
    ASSERT_EQ(LogOpen(), 1);
    EXPECT_TRUE(g_cfg.LOGGING_ENABLED);
    LogClose();
    EXPECT_EQ(ReadFile(path), "##### Log created (Dec_07,2026@09:05:03) with OXEL SVN: 1437\n");

    struct { bool dos, raw; std::string in, out; } cases[] = {
        {false, false, "abc\r\n", "abc\n"},
        {true, false, "abc\r\n", "abc\r\n"},
        {false, false, std::string("a\0\x1b[1mb\x0b\x0c\x7f\xc3\xa9\b\t.\n", 16), "a[1mb\b\t.\n"},
        {false, true, std::string("\0\x1b\r\x0c\xff", 5), std::string("\0\x1b\r\x0c\xff", 5)},
    };
    for (const auto& c : cases) {
        ::unlink(path.c_str());
        OpenPlain();
        g_cfg.LOGGING_DOSMODE = c.dos;
        g_cfg.LOG_NON_PRINTABLES = c.raw;
        EXPECT_EQ(LogWrite(c.in.data(), c.in.size()), 1);
        LogClose();
        EXPECT_EQ(ReadFile(path), c.out) << c.in;
    }
    g_cfg.LOGGING_ENABLED = 0;
    EXPECT_EQ(LogWrite("x", 1), 0);
}

TEST_F(Logging, LongChunksAreFilteredWhole) {
    OpenPlain();
    std::string big;
    for (int i = 0; i < 20000; ++i) big += (i % 7 == 0) ? '\r' : static_cast<char>('a' + i % 26);
    LogWrite(big.data(), big.size());
    LogClose();
    std::string want;
    for (char c : big)
        if (c != '\r') want += c;
    EXPECT_EQ(ReadFile(path), want);
}

TEST_F(Logging, BinaryCaptureTakesRawBytes) {
    OpenPlain();
    const std::string raw("\0\x1b\xff\r", 4);
    EXPECT_EQ(LogBinaryCapture(raw.data(), raw.size()), 0);
    LogSetBinaryCapture(true);
    EXPECT_EQ(LogBinaryCapture(raw.data(), raw.size()), 1);
    LogClose();
    EXPECT_EQ(ReadFile(path), raw);
    g_cfg.LOGGING_ENABLED = 0;
    EXPECT_EQ(LogBinaryCapture(raw.data(), raw.size()), 0);
}

TEST_F(Logging, LogCommand) {
    struct { std::vector<std::string> words; int rc; } cases[] = {
        {{"bogus"}, -2}, {{"x", "y"}, -2}, {{}, -3}, {{"a", "b", "c"}, -3}, {{"-z", "off"}, -2},
        {{"trunc"}, -1},   // no log open
    };
    for (const auto& c : cases) EXPECT_EQ(Log(c.words), c.rc) << (c.words.empty() ? "" : c.words[0]);

    EXPECT_EQ(Log({"screenoff"}), 0);
    EXPECT_FALSE(RxScreenOutput());
    EXPECT_EQ(Log({"screenon"}), 0);
    EXPECT_TRUE(RxScreenOutput());

    g_cfg.LOGGING_OMITHDR = 1;
    EXPECT_EQ(Log({"-d", "1", "on", path}), 0);
    EXPECT_TRUE(g_cfg.LOGGING_ENABLED);
    EXPECT_TRUE(g_cfg.LOGGING_DOSMODE);
    EXPECT_FALSE(g_cfg.LOG_NON_PRINTABLES);
    LogWrite("one\r\n", 5);
    EXPECT_EQ(Log({"tag", std::string(100, 't')}), 0);
    EXPECT_FALSE(g_cfg.LOGGING_DOSMODE);   // every LOG sets both keys
    EXPECT_EQ(Log({"off"}), 0);
    EXPECT_FALSE(g_cfg.LOGGING_ENABLED);
    EXPECT_EQ(ReadFile(path), "one\r\n" + std::string(63, 't'));

    EXPECT_EQ(Log({"append", path}), 0);
    EXPECT_TRUE(g_cfg.LOGGING_APPEND);
    LogWrite("two", 3);
    EXPECT_EQ(ReadFile(path), "one\r\n" + std::string(63, 't') + "two");
    EXPECT_EQ(Log({"trunc"}), 0);
    LogWrite("three", 5);
    EXPECT_EQ(ReadFile(path), "three");
    EXPECT_TRUE(fake.Boxes().empty());
}

TEST_F(Logging, LogOnUnwritablePath) {
    const std::string bad = dir + "/missing/dir/x.log";
    EXPECT_EQ(Log({"on", bad}), -1);
    EXPECT_FALSE(g_cfg.LOGGING_ENABLED);
    auto boxes = fake.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].title.find("ERROR (logging"), std::string::npos);
    EXPECT_NE(boxes[0].title.find(bad), std::string::npos);
    EXPECT_EQ(LogWrite("x", 1), 0);
}

TEST_F(Logging, DiskFullIsToldOnce) {
    CFG_SET_STRING(g_cfg.LOGGING_FILENAME, "/dev/full");
    ASSERT_EQ(LogOpen(), 1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(LogWrite("line\n", 5), 1);
    EXPECT_EQ(fake.Boxes().size(), 1u);
    EXPECT_TRUE(g_cfg.LOGGING_ENABLED);
    // A new file starts a new notice.
    ASSERT_EQ(LogOpen(), 1);
    LogWrite("again\n", 6);
    EXPECT_EQ(fake.Boxes().size(), 2u);
}

TEST_F(Logging, ToggleAndTags) {
    // No name: a temporary one, with the notice.
    g_cfg.LOGGING_FILENAME[0] = 0;
    LogToggle();
    EXPECT_TRUE(g_cfg.LOGGING_ENABLED);
    ASSERT_EQ(fake.Boxes().size(), 1u);
    EXPECT_EQ(fake.Boxes()[0].title, "No filename specified");
    EXPECT_EQ(fake.Boxes()[0].text, "Using tmp filename (see menu-item 'Logging->Standard')");
    const std::string tmp = g_cfg.LOGGING_FILENAME;
    LogToggle();
    EXPECT_FALSE(g_cfg.LOGGING_ENABLED);
    ::unlink(tmp.c_str());

    // A named file must exist already.
    CFG_SET_STRING(g_cfg.LOGGING_FILENAME, path.c_str());
    LogToggle();
    EXPECT_FALSE(g_cfg.LOGGING_ENABLED);
    EXPECT_EQ(fake.Boxes().size(), 2u);
    { std::ofstream(path) << "old\n"; }
    g_cfg.LOGGING_OMITHDR = 1;
    LogToggle();
    EXPECT_TRUE(g_cfg.LOGGING_ENABLED);

    g_cfg.TSTAMP_ENABLED = 1;
    LogInsertTag("tagged\n");
    g_cfg.TSTAMP_AT_TOGGLE = 1;
    g_cfg.TSTAMP_FORMAT_IDX = 5;
    TimestampToggle();
    EXPECT_FALSE(g_cfg.TSTAMP_ENABLED);
    LogClose();
    EXPECT_EQ(ReadFile(path), "old\nDec_07,2026@09:05:03: tagged\n\n<09:05:03.007>\n");
}

TEST_F(Logging, StartupWarnsWhenBothLogsOn) {
    g_cfg.LOGGING_ENABLED = 1;
    g_cfg.LTLOG_ENABLED = 1;
    CFG_SET_STRING(g_cfg.LOGGING_FILENAME, path.c_str());
    CFG_SET_STRING(g_cfg.LTLOG_DIR, dir.c_str());
    CFG_SET_STRING(g_cfg.LTLOG_PREFIX, "lt");
    LogStartup();
    auto boxes = fake.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Logging notificatiion");
    EXPECT_EQ(boxes[0].text, "Be aware you have both standard and long-term logging enabled");
    EXPECT_TRUE(LogIsOpen());
    EXPECT_TRUE(LtlogIsOpen());
    LogWrite("both\r\n", 6);
    LogShutdown();
    const std::string lt = ReadFile(dir + "/lt_20261207");
    EXPECT_NE(lt.find("both\n\n##### OXELLOG STOP (TERMINATE): Dec_07,2026@09:05:03\n"), std::string::npos);
    EXPECT_EQ(ReadFile(path).substr(ReadFile(path).size() - 5), "both\n");
}

TEST_F(Logging, SyslogTraceGoesToLog) {
    OpenPlain();
    g_cfg.TRACEFLAGS = TRC_SYSLOG;
    g_cfg.TRACE_TSTAMP_ENABLE = 0;
    g_cfg.SYSLOG_TOLOG_ENABLED = 1;
    TracePrintf(TRC_SYSLOG, "kernel: up");
    LogClose();
    EXPECT_EQ(ReadFile(path), "\nSYSLOG: kernel: up");
}

TEST_F(Logging, ManyThreadsLoseAndInterleaveNoLine) {
    OpenPlain();
    constexpr int kThreads = 8, kLines = 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            char line[96];
            for (int i = 0; i < kLines; ++i) {
                int n = snprintf(line, sizeof line, "thread %d line %04d %s\r\n", t, i,
                                 "the quick brown fox jumps over the lazy dog");
                LogWrite(line, static_cast<size_t>(n));
            }
        });
    for (auto& th : threads) th.join();
    LogClose();
    std::istringstream in(ReadFile(path));
    std::set<std::string> seen;
    std::string line;
    while (std::getline(in, line)) {
        int t, i;
        ASSERT_EQ(sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line;
        char want[96];
        snprintf(want, sizeof want, "thread %d line %04d %s", t, i, "the quick brown fox jumps over the lazy dog");
        ASSERT_EQ(line, want);
        EXPECT_TRUE(seen.insert(line).second);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

}  // namespace

namespace {

std::string g_xlogSeen = "unset";
void SeeXlog(const char* path) { g_xlogSeen = path; }

TEST_F(Logging, StandardDialogApply) {
    LogSetXlogHandler(SeeXlog);
    CFG_SET_STRING(g_cfg.LOGGING_FILENAME, "keep.log");
    EXPECT_EQ(LogApplyConfig(true, false, false, false, false, "XLOG:   /tmp/x.xlog"), 1);
    EXPECT_EQ(g_xlogSeen, "/tmp/x.xlog");
    EXPECT_STREQ(g_cfg.LOGGING_FILENAME, "keep.log");
    EXPECT_FALSE(g_cfg.LOGGING_ENABLED);
    LogApplyConfig(true, false, false, false, false, "XLOG:");
    EXPECT_EQ(g_xlogSeen, "");
    LogSetXlogHandler(nullptr);

    { std::ofstream(path) << "old\n"; }
    g_cfg.LOGGING_OMITHDR = 1;
    EXPECT_EQ(LogApplyConfig(true, true, false, true, false, path.c_str()), 1);
    EXPECT_TRUE(g_cfg.LOGGING_ENABLED);
    EXPECT_TRUE(g_cfg.LOGGING_DOSMODE);
    LogWrite("new\r\n", 5);
    EXPECT_EQ(ReadFile(path), "old\nnew\r\n");
    LogTruncateButton();
    LogWrite("after\r\n", 7);
    EXPECT_EQ(ReadFile(path), "after\r\n");
    EXPECT_EQ(LogApplyConfig(false, false, false, false, false, g_cfg.LOGGING_FILENAME), 1);
    EXPECT_FALSE(LogIsOpen());
    LogTruncateButton();   // logging off: the file goes
    std::ifstream gone(path);
    EXPECT_FALSE(gone.good());
    EXPECT_EQ(LogApplyConfig(true, false, false, false, false, (dir + "/no/x").c_str()), 0);
    EXPECT_FALSE(g_cfg.LOGGING_ENABLED);
}

}  // namespace
