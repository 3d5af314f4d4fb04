#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/oxel.h"
#include "config/configrecord.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "console/vt100.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "proc.h"

namespace {

constexpr int kRows = 50, kCols = 100;

// What each consumer saw, in order.
std::vector<std::string> g_events;
bool g_avr = false, g_xmodem = false, g_raw = false, g_catch = false;
int g_scriptWants = 1;   // what the script's receive answers
std::string g_caught;

void Ev(const char* name, const char* d, size_t n) { g_events.push_back(std::string(name) + ":" + std::string(d, n)); }

RxHooks Recorder() {
    RxHooks h = RxHooksRef();
    h.avrActive = [] { return g_avr; };
    h.avrBytes = [](const char* d, size_t n) { Ev("avr", d, n); };
    h.xmodemActive = [] { return g_xmodem; };
    h.xmodemBytes = [](const char* d, size_t n) { Ev("xmodem", d, n); };
    h.activity = [] { g_events.push_back("activity"); };
    h.tunnel = [](const char* d, size_t n) { Ev("tunnel", d, n); };
    h.scriptOffer = [](const char* d, int n) {
        Ev("script", d, static_cast<size_t>(n));
        return g_scriptWants;
    };
    h.scriptWake = [] { g_events.push_back("wake"); };
    h.rawLog = [](const char* d, size_t n) {
        if (g_raw) Ev("raw", d, n);
        return g_raw ? 1 : 0;
    };
    h.telnetClients = [](const char* d, size_t n) { Ev("telnet", d, n); };
    h.stamp = [](char* d, size_t n, size_t cap) {
        std::string s = "[T]" + std::string(d, n);
        size_t m = std::min(s.size(), cap);
        std::memcpy(d, s.data(), m);
        return m;
    };
    h.log = [](const char* d, size_t n) {
        Ev("log", d, n);
        return 1;
    };
    h.websocClients = [](const char* d, size_t n) { Ev("websoc", d, n); };
    h.catchActive = [] { return g_catch; };
    h.catchByte = [](char c) { g_caught += c; };
    return h;
}

class RxPath : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        g_cfg.TRACEFLAGS = 0xFFFF;
        g_cfg.VT100_EMULATION = 0;
        SetFrameInitialised(true);
        ConsoleInit(kRows, kCols);
        ConsoleSetMetrics(8, 16);
        ConsoleResizeChars(25, 80);
        ConsoleClear();
        Vt100Reset();
        RxSetFilter(nullptr);
        RxHooksRef() = Recorder();
        RxSetScreenOutput(true);
        g_events.clear();
        g_caught.clear();
        g_avr = g_xmodem = g_raw = g_catch = false;
        g_scriptWants = 1;
        TraceClear();
        ui.Reset();
    }
    void TearDown() override {
        RxHooksReset();
        RxSetFilter(nullptr);
    }
    void Deliver(const std::string& s) {
        std::vector<uint8_t> out(s.size() * 5 + 16);
        RxDeliver(reinterpret_cast<const uint8_t*>(s.data()), out.data(), s.size(), out.size());
    }
    static std::string Row(int fromBottom) {
        std::string r = ConsoleRowText(kRows - 1 - fromBottom);
        r.erase(r.find_last_not_of(' ') + 1);
        return r;
    }
    FakeUi ui;
};

TEST_F(RxPath, ConsumersInTheirFixedOrder) {
    struct Case {
        const char* name;
        int localOnly, stamps;
        bool avr, xmodem, raw;
        std::vector<std::string> events;
        std::string screen;
    } cases[] = {
        {"plain block", 1, 0, false, false, false,
         {"activity", "tunnel:hi", "script:hi", "telnet:hi", "log:hi", "websoc:hi", "wake"}, "hi"},
        {"stamps after the clients", 1, 1, false, false, false,
         {"activity", "tunnel:hi", "script:hi", "telnet:hi", "log:[T]hi", "websoc:[T]hi", "wake"}, "[T]hi"},
        {"stamps before the clients", 0, 1, false, false, false,
         {"activity", "tunnel:hi", "script:hi", "telnet:[T]hi", "log:[T]hi", "websoc:[T]hi", "wake"}, "[T]hi"},
        {"the AVR loader takes the line", 1, 0, true, false, false, {"avr:hi"}, ""},
        {"the XMODEM receiver takes the line", 1, 0, false, true, false, {"xmodem:hi"}, ""},
        {"raw capture stops without waking", 1, 0, false, false, true,
         {"activity", "tunnel:hi", "script:hi", "raw:hi"}, ""},
    };
    for (const Case& c : cases) {
        g_events.clear();
        ConsoleClear();
        g_cfg.TSTAMP_LOCAL_ONLY = c.localOnly;
        g_cfg.TSTAMP_ENABLED = c.stamps;
        g_avr = c.avr;
        g_xmodem = c.xmodem;
        g_raw = c.raw;
        uint32_t before = RxByteCount();
        Deliver("hi");
        EXPECT_EQ(g_events, c.events) << c.name;
        EXPECT_EQ(Row(0), c.screen) << c.name;
        EXPECT_EQ(RxByteCount() - before, 2u) << c.name;
    }
}

TEST_F(RxPath, DisplayTransforms) {
    struct Case {
        const char* name;
        int hexmode, space, cr, lf, drop;
        std::string in, logged;
    } cases[] = {
        {"HEXMODE 2 with spaces: none after line ends", 2, 1, 0, 0, 0, "A\r\nB", "41 \r\n42 "},
        {"HEXMODE 3 with spaces", 3, 1, 0, 0, 0, "ab\r\x01", "a b \r<01> "},
        {"HEXMODE 1", 1, 0, 0, 0, 0, "A\r", "410d"},
        {"HEXMODE 3", 3, 0, 0, 0, 0, "a\x01\xe9\t", "a<01><e9>\t"},
        {"APPEND_CR wins over APPEND_LF", 0, 0, 1, 1, 0, "a\nb\r", "a\r\nb\r"},
        {"APPEND_LF", 0, 0, 0, 1, 0, "a\rb", "a\r\nb"},
        {"DROP_NON_PRINTABLES keeps ESC", 0, 0, 0, 0, 1, "\xe9x\x7f\x1b[1m\x01", "x\x1b[1m"},
        {"hex display is not dropped", 1, 0, 0, 0, 1, "\x7f", "7f"},
    };
    for (const Case& c : cases) {
        g_events.clear();
        g_cfg.HEXMODE = c.hexmode;
        g_cfg.HEXMODE_WITH_SPACE = c.space;
        g_cfg.APPEND_CR = c.cr;
        g_cfg.APPEND_LF = c.lf;
        g_cfg.DROP_NON_PRINTABLES = c.drop;
        Deliver(c.in);
        ASSERT_GE(g_events.size(), 5u) << c.name;
        EXPECT_EQ(g_events[4], "log:" + c.logged) << c.name;
    }
    EXPECT_NE(TraceText().find("Dropped 0xe9"), std::string::npos);
    EXPECT_NE(TraceText().find("Dropped 0x7f"), std::string::npos);
}

int ZeroFilter(const uint8_t*, int, uint8_t*, int) { return 0; }
int HugeFilter(const uint8_t*, int, uint8_t* out, int size) {
    std::memset(out, 'z', static_cast<size_t>(std::min(size, 200)));
    return 200;   // as a signed 8-bit count this is negative: nothing passes
}

TEST_F(RxPath, FilterReturningZeroHidesTheBlockButWakesTheScript) {
    RxSetFilter(ZeroFilter);
    Deliver("secret");
    EXPECT_EQ(g_events, (std::vector<std::string>{"activity", "tunnel:secret", "script:secret", "wake"}));
    EXPECT_EQ(Row(0), "");
    g_events.clear();
    RxSetFilter(HugeFilter);
    Deliver(std::string(60, 'x'));
    EXPECT_EQ(g_events.back(), "wake");
    EXPECT_EQ(g_events.size(), 4u);
    // No script waiting: nothing to wake.
    g_events.clear();
    g_scriptWants = 0;
    Deliver("y");
    EXPECT_EQ(g_events, (std::vector<std::string>{"activity", "tunnel:y", "script:y"}));
}

TEST_F(RxPath, FilterLibraryLoadedFromTheProgramDirectory) {
    TempDir dir;
    dir.Write("f.c",
              "int oxel_ftf(const unsigned char* in, int len, unsigned char* out, int size) {\n"
              "  int n = 0;\n"
              "  for (int i = 0; i < len && n < size && n < 127; ++i)\n"
              "    out[n++] = (in[i] >= 'a' && in[i] <= 'z') ? in[i] - 32 : in[i];\n"
              "  return n;\n"
              "}\n");
    std::string cmd = "cc -shared -fPIC -o " + dir.File("oxel_ftf.so") + " " + dir.File("f.c") + " 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "no C compiler";
    ASSERT_EQ(RxLoadFilter(dir.path()), 1);
    Deliver("shout");
    EXPECT_EQ(Row(0), "SHOUT");
    TempDir empty;
    EXPECT_EQ(RxLoadFilter(empty.path()), 0);
    EXPECT_NE(TraceText().find("LoadLibrary(oxel_ftf.so) failed"), std::string::npos);
    ConsoleClear();
    Deliver("quiet");
    EXPECT_EQ(Row(0), "quiet");
}

TEST_F(RxPath, CatchStringsSeeEachByteAndTheLineTag) {
    g_catch = true;
    Deliver("abc");
    RxSetLineTagPending();
    Deliver("d\r\n");
    EXPECT_EQ(g_caught, "abcd\r\n");
    EXPECT_EQ(Row(1), "abcd" + std::string(75 - 4, ' ') + "<<**");
    Deliver("e\r\n");
    EXPECT_EQ(Row(1), "e");
}

TEST_F(RxPath, ScreenOffStillFeedsEveryOtherConsumer) {
    RxSetScreenOutput(false);
    Deliver("hidden");
    EXPECT_EQ(Row(0), "");
    EXPECT_EQ(g_events[4], "log:hidden");
    EXPECT_EQ(g_events.back(), "wake");
    RxSetScreenOutput(true);
}

TEST_F(RxPath, AlternatePortDisplaysInTheAlternateColour) {
    g_cfg.TEXT_COLOR_ALT = 0x00AA00;
    ConsoleSetPerCellColours(true);
    const std::string s = "alt";
    std::vector<uint8_t> out(32);
    RxDeliverAlt(reinterpret_cast<const uint8_t*>(s.data()), out.data(), s.size(), out.size());
    EXPECT_EQ(Row(0), "alt");
    uint32_t fg[kCols];
    ConsoleCopyRow(kRows - 1, nullptr, fg, nullptr, kCols);
    EXPECT_EQ(fg[0], 0x00AA00u);
    EXPECT_EQ(ConsoleCurrentFg(), ConsoleTextColour());
    EXPECT_EQ(g_events, (std::vector<std::string>{"activity"}));
    g_cfg.COMPORT_PASSTHROUGH = 1;
    RxDeliverAlt(reinterpret_cast<const uint8_t*>(s.data()), out.data(), s.size(), out.size());
    EXPECT_EQ(Row(0), "alt");
    ConsoleSetPerCellColours(false);
}

TEST_F(RxPath, RandomBlocksUnderRandomSettingsNeverBreakTheBuffer) {
    RxHooksReset();
    std::mt19937 rng(777);
    for (int round = 0; round < 300; ++round) {
        g_cfg.VT100_EMULATION = rng() % 2;
        g_cfg.HEXMODE = rng() % 5 == 0 ? static_cast<int>(rng() % 4) : 0;
        g_cfg.HEXMODE_WITH_SPACE = rng() % 2;
        g_cfg.APPEND_CR = rng() % 4 == 0;
        g_cfg.APPEND_LF = rng() % 4 == 0;
        g_cfg.DROP_NON_PRINTABLES = rng() % 4 == 0;
        g_cfg.AUTOWRAP = rng() % 2;
        g_cfg.NEWLINE = rng() % 2;
        g_cfg.TABSTOP = static_cast<int>(rng() % 10);
        std::string block(rng() % 600, '\0');
        for (char& ch : block) ch = static_cast<char>(rng() % 4 ? "\x1b[;0123456789mHJ\r\n\t"[rng() % 19] : rng());
        Deliver(block);
        ConsoleCursor c = ConsoleGetCursor();
        ASSERT_LT(c.row, kRows);
        ASSERT_LE(c.col, ConsoleCols());
    }
    EXPECT_TRUE(ui.Boxes().empty());
}

}  // namespace
