#include <gtest/gtest.h>

#include <string>

#include "app/oxel.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "config/shellvar.h"

namespace {

constexpr int kRows = 60, kCols = 100;

class ScreenBuf : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        g_cfg.TRACEFLAGS = 0xFFFF;
        SetFrameInitialised(true);
        ConsoleInit(kRows, kCols);
        ConsoleSetMetrics(8, 16);
        ConsoleResizeChars(25, 80);
        ConsoleClear();
        TraceClear();
        ui.Reset();
    }
    void TearDown() override { ConsoleScrollView(SCROLL_BOTTOM); }
    void Write(const std::string& s) { ConsoleWritePlain(s.data(), s.size()); }
    static std::string Row(int fromBottom) {
        std::string r = ConsoleRowText(kRows - 1 - fromBottom);
        r.erase(r.find_last_not_of(' ') + 1);
        return r;
    }
    FakeUi ui;
};

TEST_F(ScreenBuf, WriterTable) {
    struct Case {
        const char* name;
        int newline, autowrap, tabstop;
        std::string input;
        std::string above, last;   // the row above the cursor row and the cursor row
        int col;
    } cases[] = {
        {"CR alone returns without moving down", 0, 1, 8, "abc\rX", "", "Xbc", 1},
        {"LF alone moves down without returning", 0, 1, 8, "ab\ncd", "ab", "  cd", 4},
        {"NEWLINE: CR also feeds a line", 1, 1, 8, "ab\rcd", "ab", "cd", 2},
        {"tab at column 5 writes three blanks", 0, 1, 8, "abcde\tX", "", "abcde   X", 9},
        {"tab at column 8 writes eight blanks", 0, 1, 8, "abcdefgh\tX", "", "abcdefgh        X", 17},
        {"backspace stops at column 0", 0, 1, 8, "a\b\b\bZ", "", "Z", 1},
        {"NUL is ignored, BEL shows nothing", 0, 1, 8, std::string("a\0b\ac", 5), "", "abc", 3},
        {"bytes 0x80-0xFF are printable", 0, 1, 8, "\xe9\x01", "", "\xe9\x01", 2},
        {"wrap at COLS moves to the next row", 0, 1, 8, std::string(80, 'x') + "yz", std::string(80, 'x'), "yz", 2},
    };
    for (const Case& c : cases) {
        g_cfg.NEWLINE = c.newline;
        g_cfg.AUTOWRAP = c.autowrap;
        g_cfg.TABSTOP = c.tabstop;
        ConsoleClear();
        Write(c.input);
        EXPECT_EQ(Row(1), c.above) << c.name;
        EXPECT_EQ(Row(0), c.last) << c.name;
        EXPECT_EQ(ConsoleGetCursor().col, c.col) << c.name;
        EXPECT_EQ(ConsoleGetCursor().row, kRows - 1) << c.name;
    }
}

TEST_F(ScreenBuf, WrapOffOverwritesTheCellAtCols) {
    g_cfg.AUTOWRAP = 0;
    std::string line;
    for (int i = 0; i < 299; ++i) line += static_cast<char>('a' + i % 26);
    Write(line + "#");
    EXPECT_EQ(ConsoleGetCursor().col, 80);
    std::string row = ConsoleRowText(kRows - 1);
    EXPECT_EQ(row.substr(0, 80), line.substr(0, 80));
    EXPECT_EQ(row[80], '#');
    EXPECT_EQ(row.substr(81), std::string(kCols - 81, ' '));
    EXPECT_EQ(Row(1), "");
    // A tab at COLS with wrap off must not spin.
    Write("\t");
    EXPECT_EQ(ConsoleGetCursor().col, 80);
}

TEST_F(ScreenBuf, LineFeedsScrollHistoryLikeABlockMove) {
    for (int i = 0; i < kRows + 7; ++i) Write("line " + std::to_string(i) + "\r\n");
    // The newest line sits just above the cursor row; the oldest seven are gone.
    EXPECT_EQ(Row(0), "");
    EXPECT_EQ(Row(1), "line " + std::to_string(kRows + 6));
    EXPECT_EQ(ConsoleRowText(0).substr(0, 7), "line 8 ");
    std::string text = ConsoleBufferText("\n");
    EXPECT_EQ(text.substr(0, 7), "line 8\n");
    EXPECT_EQ(text.substr(text.size() - 7), "line 66");
}

TEST_F(ScreenBuf, PerCellColoursMoveWithTheirRows) {
    g_cfg.CHAR_ATTRIBUTES = 1;
    ConsoleSetPerCellColours(true);
    ConsoleSetCurrentColours(0x0000FF, 0x00FF00);
    Write("red");
    ConsoleSetCurrentColours(ConsoleTextColour(), ConsoleBackgroundColour());
    Write("\r\nplain\r\n");
    uint32_t fg[kCols], bg[kCols];
    ConsoleCopyRow(kRows - 3, nullptr, fg, bg, kCols);
    EXPECT_EQ(fg[0], 0x0000FFu);
    EXPECT_EQ(bg[2], 0x00FF00u);
    EXPECT_EQ(fg[3], ConsoleTextColour());
    // The row that came in at the bottom has the configured colours.
    ConsoleCopyRow(kRows - 1, nullptr, fg, bg, kCols);
    EXPECT_EQ(bg[0], ConsoleBackgroundColour());
    ConsoleSetPerCellColours(false);
    g_cfg.CHAR_ATTRIBUTES = 0;
}

TEST_F(ScreenBuf, ClearPutsCursorOnLastRowColumnZero) {
    Write("hello\r\nworld");
    ConsoleClear();
    EXPECT_EQ(ConsoleGetCursor().row, kRows - 1);
    EXPECT_EQ(ConsoleGetCursor().col, 0);
    EXPECT_EQ(ConsoleBufferText(), "");
}

TEST_F(ScreenBuf, ResizePublishesLinesAndCols) {
    ConsoleResize(8 * 90 + 5, 16 * 30 + 3);
    EXPECT_EQ(ConsoleLines(), 30);
    EXPECT_EQ(ConsoleCols(), 90);
    EXPECT_EQ(shell_getenv("LINES").value_or(""), "30");
    EXPECT_EQ(shell_getenv("COLS").value_or(""), "90");
    EXPECT_EQ(ConsoleScrollMax(), kRows * 16 - (16 * 30 + 3));
    ConsoleResizeChars(25, 80);
}

std::string Pattern(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('A' + (i * 7 + i / 26) % 26);
    return s;
}

TEST_F(ScreenBuf, CaptureRingOverflowReportsLostBytes) {
    struct Case {
        size_t bytes;
        int lost;
    } cases[] = {{40000, 7232}, {32768, 0}};
    ConsoleResizeRing(32768);
    for (const Case& c : cases) {
        ConsoleClear();
        TraceClear();
        ConsoleScrollView(SCROLL_LINEUP);
        ASSERT_TRUE(ConsoleCapturing());
        const std::string data = Pattern(c.bytes);
        // Several writes, as blocks arrive.
        for (size_t off = 0; off < data.size(); off += 1000) Write(data.substr(off, 1000));
        EXPECT_EQ(ConsoleCapturedCount(), 32768u);
        EXPECT_EQ(ConsoleCopyCaptured(), data.substr(data.size() - 32768));
        std::string trace = TraceText();
        size_t first = trace.find("NOTICE: Active vertical scroll causing buffer overflow");
        if (c.lost > 0) {
            ASSERT_NE(first, std::string::npos);
            EXPECT_EQ(trace.find("NOTICE", first + 1), std::string::npos) << "one notice only";
        } else {
            EXPECT_EQ(first, std::string::npos);
        }
        ui.Reset();
        ConsoleScrollView(SCROLL_BOTTOM);
        EXPECT_FALSE(ConsoleCapturing());
        std::string note = "***** Oxel msg: Buffer overflow (" + std::to_string(c.lost) +
                           " bytes lost) during vertical scroll *****";
        EXPECT_NE(ui.Console().find(note), std::string::npos) << ui.Console();
        // The last bytes of the data are what the screen now ends with.
        std::string tail = data.substr(data.size() - 20);
        std::string last = Row(0);
        EXPECT_EQ(last.substr(last.size() - 20), tail);
    }
}

TEST_F(ScreenBuf, SmallCaptureFlushesInOrderAndKeyEndsIt) {
    ConsoleScrollView(SCROLL_PAGEUP);
    Write("held back");
    EXPECT_EQ(Row(0), "");
    EXPECT_EQ(ConsoleCapturedCount(), 9u);
    EXPECT_EQ(ConsoleBufferText(), "held back");
    ConsoleEndCapture();
    EXPECT_EQ(ConsoleScrollOffset(), 0);
    EXPECT_EQ(Row(0), "held back");
}

TEST_F(ScreenBuf, RingBelowMinimumIsRaised) {
    ConsoleResizeRing(1000);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].title, "VScroll Size Error");
    EXPECT_EQ(ui.Boxes()[0].text, "Minimum VScroll Buf size is 32768.");
    EXPECT_EQ(g_cfg.VSCROLL_BUFSIZ, 32768);
}

TEST_F(ScreenBuf, ScrollViewClampsToRange) {
    ConsoleScrollView(SCROLL_TOP);
    EXPECT_EQ(ConsoleScrollPos(), 0);
    ConsoleScrollView(SCROLL_LINEUP);
    EXPECT_EQ(ConsoleScrollPos(), 0);
    ConsoleWheel(-120);
    EXPECT_EQ(ConsoleScrollPos(), 16);
    ConsoleScrollView(SCROLL_THUMB, 1 << 30);
    EXPECT_EQ(ConsoleScrollPos(), ConsoleScrollMax());
    EXPECT_FALSE(ConsoleCapturing());
}

TEST_F(ScreenBuf, ScreenTextAndBlankScreen) {
    std::string out;
    EXPECT_FALSE(ConsoleScreenText(&out));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].title, "Nothing To Edit");
    Write("one  \r\n\r\ntwo\r\n");
    ASSERT_TRUE(ConsoleScreenText(&out));
    EXPECT_EQ(out, "one\n\ntwo");
}

TEST_F(ScreenBuf, WritesBeforeInitialisationAreDropped) {
    SetFrameInitialised(false);
    EXPECT_EQ(ConsoleWritePlain("x", 1), 0);
    SetFrameInitialised(true);
    EXPECT_EQ(ui.Console(), "");
    EXPECT_EQ(Row(0), "");
}

TEST_F(ScreenBuf, FontInfoRoundTrip) {
    ConsoleFontInfo f;
    ASSERT_TRUE(ConsoleParseFontInfo("0,0,0,0", &f));
    EXPECT_TRUE(ConsoleFontIsDefault(f));
    ASSERT_TRUE(ConsoleParseFontInfo("-16,0,700,DejaVu Sans Mono", &f));
    EXPECT_EQ(f.height, -16);
    EXPECT_EQ(f.weight, 700);
    EXPECT_EQ(f.face, "DejaVu Sans Mono");
    EXPECT_EQ(ConsoleFormatFontInfo(f), "-16,0,700,DejaVu Sans Mono");
    EXPECT_FALSE(ConsoleParseFontInfo("junk", &f));
}

}  // namespace

namespace {

TEST_F(ScreenBuf, ApplyConfigTakesModeColoursAndRing) {
    g_cfg.VSCROLL_BUFSIZ = 0;   // nothing read yet
    ConsoleApplyConfig();
    EXPECT_TRUE(ui.Boxes().empty());
    g_cfg.CHAR_ATTRIBUTES = 1;
    g_cfg.TEXT_COLOR = 0x123456;
    g_cfg.VSCROLL_BUFSIZ = 1000;
    ConsoleApplyConfig();
    ConsoleApplyConfig();
    EXPECT_EQ(ui.Boxes().size(), 1u) << "one VScroll Size Error box";
    EXPECT_TRUE(ConsolePerCellColours());
    EXPECT_EQ(ConsoleCurrentFg(), 0x123456u);
    uint32_t fg[kCols];
    ConsoleCopyRow(0, nullptr, fg, nullptr, kCols);
    EXPECT_EQ(fg[0], 0x123456u);
    g_cfg.CHAR_ATTRIBUTES = 0;
    g_cfg.TEXT_COLOR = 0;
    ConsoleApplyConfig();
    EXPECT_FALSE(ConsolePerCellColours());
}

}  // namespace
