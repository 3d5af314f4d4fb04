#include <gtest/gtest.h>

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

namespace {

constexpr int kRows = 80, kCols = 120;
std::string g_sent;

int CaptureWrite(const char* d, size_t n) {
    g_sent.append(d, n);
    return static_cast<int>(n);
}

class Vt100Test : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        g_cfg.TRACEFLAGS = 0xFFFF;
        SetFrameInitialised(true);
        ConsoleInit(kRows, kCols);
        ConsoleSetMetrics(8, 16);
        ConsoleResizeChars(25, 80);
        ConsoleClear();
        Vt100Reset();
        RxHooksReset();
        RxHooksRef().backendReply = CaptureWrite;
        g_sent.clear();
        TraceClear();
        ui.Reset();
    }
    void TearDown() override {
        RxHooksReset();
        Vt100SetMenuOpen(false);
        ConsoleSetPerCellColours(false);
    }
    void Feed(const std::string& s) { Vt100Feed(s.data(), s.size()); }
    static std::string Row(int row) {
        std::string r = ConsoleRowText(row);
        r.erase(r.find_last_not_of(' ') + 1);
        return r;
    }
    static int ScreenTop() { return kRows - 25; }   // anchor (last row) - LINES + 1
    FakeUi ui;
};

TEST_F(Vt100Test, RepliesAndQueries) {
    struct Case {
        const char* name;
        std::vector<std::string> blocks;
        std::string reply;
        std::string trace;
    } cases[] = {
        {"ESC[6n gives the screen size", {"\x1b[6n"}, "\x1b[25;80R", "RESIZE request"},
        {"ESC[0c answers the terminal type", {"\x1b[0c"}, "\x1b[?1;0c", "Terminal type query"},
        {"ESC[c is rejected", {"\x1b[c"}, "", "VTState confused at 1128. State: VTSTATE_OBRACKET, input: 63"},
        {"a query split over two deliveries", {"ab\x1b[", "6n"}, "\x1b[25;80R", "->VTSTATE_COUNTROW"},
        {"split right after ESC", {"\x1b", "[0c"}, "\x1b[?1;0c", "->VTSTATE_OBRACKET"},
    };
    for (const Case& c : cases) {
        g_sent.clear();
        TraceClear();
        g_cfg.LOCALECHO = 1;
        for (const std::string& b : c.blocks) Feed(b);
        EXPECT_EQ(g_sent, c.reply) << c.name;
        EXPECT_NE(TraceText().find(c.trace), std::string::npos) << c.name << "\n" << TraceText();
        EXPECT_EQ(Vt100State(), VTSTATE_NULL) << c.name;
        EXPECT_EQ(g_cfg.LOCALECHO, 1) << c.name << ": echo restored after the reply";
    }
    // The display saw every byte exactly once; the screen only the text.
    EXPECT_EQ(ui.Console(), "\x1b[6n\x1b[0c\x1b[cab\x1b[6n\x1b[0c");
    EXPECT_EQ(Row(kRows - 1), "ab");
}

TEST_F(Vt100Test, EraseScreenBlanksScrollbackAndHomes) {
    for (int i = 0; i < kRows; ++i) Feed("text " + std::to_string(i) + "\r\n");
    Feed("\x1b[2J");
    EXPECT_EQ(ConsoleBufferText(), "");
    EXPECT_EQ(ConsoleGetCursor().row, ScreenTop());
    EXPECT_EQ(ConsoleGetCursor().col, 0);
    Feed("top");
    EXPECT_EQ(Row(ScreenTop()), "top");
}

TEST_F(Vt100Test, ZeroZeroSwitchesToZeroBasedCoordinates) {
    Feed("\x1b[3;5Hx");
    EXPECT_EQ(Row(ScreenTop() + 2), "    x");
    Feed("\x1b[0;0H");
    Feed("\x1b[1;1Hy");
    EXPECT_EQ(Row(ScreenTop() + 1), " y");
    Feed("\x1b[3;5Hz");
    EXPECT_EQ(Row(ScreenTop() + 3), "     z");
    // A row beyond the screen lands on the last row but one.
    Feed("\x1b[99;0Hw");
    EXPECT_EQ(ConsoleGetCursor().row, ScreenTop() + 23);
}

TEST_F(Vt100Test, ColourAttributesOnlyInPerCellMode) {
    Feed("\x1b[1;31m");
    EXPECT_EQ(ConsoleCurrentFg(), ConsoleTextColour());
    ConsoleSetPerCellColours(true);
    Feed("\x1b[1;31mR");
    EXPECT_EQ(ConsoleCurrentFg(), 0x0000FFu);
    EXPECT_EQ(ConsoleCurrentBg(), ConsoleBackgroundColour()) << "the 1 is a row number, not highlight";
    uint32_t fg[kCols];
    ConsoleCopyRow(kRows - 1, nullptr, fg, nullptr, kCols);
    EXPECT_EQ(fg[0], 0x0000FFu);
    Feed("\x1b[44m");
    EXPECT_EQ(ConsoleCurrentBg(), 0xFF0000u);
    Feed("\x1b[7m");
    EXPECT_EQ(ConsoleCurrentFg(), 0xFF0000u);
    Feed("\x1b[m");
    EXPECT_EQ(ConsoleCurrentFg(), ConsoleTextColour());
    EXPECT_NE(TraceText().find("Attribute: Foreground color=red"), std::string::npos);
    EXPECT_NE(TraceText().find("Attribute: RESET all attributes"), std::string::npos);
}

TEST_F(Vt100Test, TitleLineDrawingAndMenuPassThrough) {
    Feed("\x1b]0;abc\x07");
    EXPECT_EQ(ui.Title(), "abc");
    Feed("\x1b(0qqx");
    EXPECT_EQ(Row(kRows - 1), "--|");
    Feed("\x1b(B\r\n");
    // A title longer than the argument text ends without a title.
    ui.Reset();
    Feed("\x1b]2;" + std::string(60, 't') + "\x07");
    EXPECT_EQ(ui.Title(), "");
    EXPECT_EQ(Row(kRows - 1), std::string(60 - 48, 't')) << "the 48th byte ends it, the rest shows as text";
    Feed("\r\n");
    Vt100SetMenuOpen(true);
    Feed("\x1b[2J");
    EXPECT_EQ(Row(kRows - 1), "\x1b[2J");
}

TEST_F(Vt100Test, CursorMovesAndErases) {
    Feed("0123456789");
    Feed("\x1b[4D\x1b[K");
    EXPECT_EQ(Row(kRows - 1), "012345");
    Feed("\x1b[3D\x1b[1K");
    EXPECT_EQ(Row(kRows - 1), "   345");
    Feed("\x1b[2K");
    EXPECT_EQ(Row(kRows - 1), "");
    Feed("\r\x1b[2Aup\x1b[Cx");
    EXPECT_EQ(Row(kRows - 3), "up x");
    Feed("\x1b[999A");
    EXPECT_NE(TraceText().find("Row/Col error: cursorUp ROW"), std::string::npos);
    EXPECT_EQ(ConsoleGetCursor().row, kRows - 3);
    Feed("\x1b[500C");
    EXPECT_EQ(ConsoleGetCursor().col, 80);
    Feed("\x1b" "7\x1b[5B\x1b" "8");
    EXPECT_EQ(ConsoleGetCursor().row, kRows - 3);
    Feed("\x1b#8");
    EXPECT_EQ(Row(0), std::string(kCols, 'E'));
}

// Parameters beyond int saturate: cursor moves stop at the edges, and the
// arithmetic never overflows (the sanitizer build runs this too).
TEST_F(Vt100Test, HugeParametersSaturate) {
    const std::string big = "2147483648", huge = "99999999999999999999";
    struct Case {
        std::string seq;
        int row, col;
    } cases[] = {
        {"\x1b[" + big + "A", kRows - 1, 5},   // refused: beyond the top
        {"\x1b[" + big + "B", kRows - 1, 5},
        {"\x1b[" + big + "C", kRows - 1, 80},
        {"\x1b[" + big + "D", kRows - 1, 0},
        {"\x1b[" + huge + "B", kRows - 1, 5},
        {"\x1b[" + huge + "C", kRows - 1, 80},
        {"\x1b[" + big + ";" + big + "H", kRows - 2, 80},
        {"\x1b[" + huge + ";" + huge + "f", kRows - 2, 80},
        {"\x1b[" + big + "m\x1b[?" + big + "h\x1b[" + big + "J", kRows - 1, 5},
    };
    for (const Case& c : cases) {
        ConsoleSetCursor(kRows - 1, 5);
        Feed(c.seq);
        EXPECT_EQ(ConsoleGetCursor().row, c.row) << c.seq;
        EXPECT_EQ(ConsoleGetCursor().col, c.col) << c.seq;
        EXPECT_EQ(Vt100State(), VTSTATE_NULL) << c.seq;
    }
}

TEST_F(Vt100Test, ModesAndUnsupportedSequencesAreTraced) {
    Feed("\x1b[?7l");
    EXPECT_EQ(g_cfg.AUTOWRAP, 0);
    Feed("\x1b[?7;25h");
    EXPECT_EQ(g_cfg.AUTOWRAP, 1);
    Feed("\x1b[r\x1b[5;10r\x1b[?99h");
    std::string t = TraceText();
    EXPECT_NE(t.find("autowrap = off"), std::string::npos);
    EXPECT_NE(t.find("cursor is visible"), std::string::npos);
    EXPECT_NE(t.find("VT100 rqst (0x72: enable screen scrolling) not supported (lno=1121)."), std::string::npos);
    EXPECT_NE(t.find("enableScrollScreen(5,10)"), std::string::npos);
    EXPECT_NE(t.find("newMode: ???? (99)"), std::string::npos);
    EXPECT_EQ(Row(kRows - 1), "");
}

TEST_F(Vt100Test, OverlongParameterListIsDroppedAndRunGoesOn) {
    Feed("\x1b[" + std::string(60, '7') + "mok");
    EXPECT_NE(TraceText().find("VTSTATE_COUNTROW array overflow"), std::string::npos);
    EXPECT_EQ(Vt100State(), VTSTATE_NULL);
    EXPECT_EQ(Row(kRows - 1), "ok");
    TraceClear();
    Feed("\x1b[1;" + std::string(60, '2') + "Hnext");
    EXPECT_NE(TraceText().find("VTSTATE_COLUMN array overflow"), std::string::npos);
    Feed("\x1b[?" + std::string(50, '1'));
    Feed("hdone");
    EXPECT_NE(TraceText().find("VTSTATE_NEWMODE array overflow"), std::string::npos);
    EXPECT_EQ(Row(kRows - 1), "oknextdone");
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(Vt100Test, EmulationOffWritesPlain) {
    g_cfg.VT100_EMULATION = 0;
    Feed("\x1b[6n");
    EXPECT_EQ(g_sent, "");
    EXPECT_EQ(Row(kRows - 1), "\x1b[6n");
    EXPECT_EQ(ui.Console(), "\x1b[6n");
}

// Random bytes, with escape-heavy mixes, never crash or write outside the
// buffer, and leave the cursor inside it.
TEST_F(Vt100Test, RandomInputKeepsTheBufferSound) {
    std::mt19937 rng(12345);
    const std::string alphabet = "\x1b[]();?#0123456789HJKmfhlcnrsu\x07\r\n\t\bABCDEM78qx";
    ConsoleSetPerCellColours(true);
    for (int round = 0; round < 400; ++round) {
        std::string block(rng() % 300, '\0');
        for (char& ch : block)
            ch = rng() % 3 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() % 256);
        Feed(block);
        ConsoleCursor c = ConsoleGetCursor();
        ASSERT_GE(c.row, 0);
        ASSERT_LT(c.row, kRows);
        ASSERT_GE(c.col, 0);
        ASSERT_LE(c.col, ConsoleCols());
        if (round % 50 == 0) Vt100Reset();
    }
    EXPECT_TRUE(ui.Boxes().empty());
}

}  // namespace
