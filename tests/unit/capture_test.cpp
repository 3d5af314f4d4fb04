#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "app/oxel.h"
#include "config/configrecord.h"
#include "console/capture.h"
#include "console/screenbuf.h"
#include "fake_ui.h"
#include "proc.h"

namespace {

constexpr int kRows = 60, kCols = 100, kCw = 8, kCh = 16;

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        SetFrameInitialised(true);
        ConsoleInit(kRows, kCols);
        ConsoleSetMetrics(kCw, kCh);
        ConsoleResize(80 * kCw, 25 * kCh);
        ConsoleClear();
        ui.Reset();
    }
    void Write(const std::string& s) { ConsoleWritePlain(s.data(), s.size()); }
    // The centre of a visible cell.
    static int X(int col) { return col * kCw + kCw / 2; }
    static int Y(int viewRow) { return viewRow * kCh + kCh / 2; }
    // An editor that copies the file it is given (or "-" without one) to out.
    std::string FakeEditor(const TempDir& dir) {
        dir.Write("ed.sh", "#!/bin/sh\nif [ -n \"$1\" ]; then cat \"$1\"; else echo -; fi > \"" + dir.File("seen.tmp") +
                               "\"\nmv \"" + dir.File("seen.tmp") + "\" \"" + dir.File("seen") + "\"\n");
        chmod(dir.File("ed.sh").c_str(), 0755);
        return dir.File("ed.sh");
    }
    static bool WaitFile(const std::string& path) {
        for (int i = 0; i < 1000; ++i) {
            struct stat st;
            if (stat(path.c_str(), &st) == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    FakeUi ui;
};

TEST_F(Capture, ClipboardCopiesOfBufferAndScreen) {
    ui.SetClipboard("old");
    EXPECT_EQ(CpyScrnBfrToClipbrd(), 1);
    EXPECT_EQ(ui.Clipboard(), "");   // a freshly cleared console empties it

    Write("abc");
    CpyScrnBfrToClipbrd();
    EXPECT_EQ(ui.Clipboard(), "abc");   // last row only: no line break

    Write("\r\nxyz  ");
    CpyScrnBfrToClipbrd();
    EXPECT_EQ(ui.Clipboard(), "abc\r\nxyz");
    EXPECT_EQ(CpyScrnOnlyToClipbrd(), 1);
    EXPECT_NE(ui.Clipboard().find("abc\nxyz"), std::string::npos);
}

TEST_F(Capture, BlankScreenHasNothingToEdit) {
    TempDir dir;
    CFG_SET_STRING(g_cfg.EDITOR, FakeEditor(dir).c_str());
    EXPECT_EQ(EditScreenOnly(), 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].title, "Nothing To Edit");
    EXPECT_EQ(ui.Boxes()[0].text, "Current viewable screen is blank");
    EXPECT_EQ(CpyScrnOnlyToClipbrd(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    struct stat st;
    EXPECT_NE(stat(dir.File("seen").c_str(), &st), 0);   // no editor started
}

TEST_F(Capture, EditorGetsTheBufferInATemporaryFile) {
    TempDir dir;
    CFG_SET_STRING(g_cfg.EDITOR, FakeEditor(dir).c_str());
    Write("boot> ver   \r\nv1.2");
    EXPECT_EQ(EditScreenBuffer(), 1);
    ASSERT_TRUE(WaitFile(dir.File("seen")));
    EXPECT_EQ(dir.Read("seen"), "boot> ver\nv1.2");
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(Capture, SaveBufferTextForTheFileCommand) {
    TempDir dir;
    dir.Write("keep.txt", "untouched");
    EXPECT_EQ(SaveBufferText(dir.File("keep.txt")), 1);   // blank buffer: file left alone
    EXPECT_EQ(dir.Read("keep.txt"), "untouched");
    Write("one\r\ntwo");
    EXPECT_EQ(SaveBufferText(dir.File("keep.txt")), 1);
    EXPECT_EQ(dir.Read("keep.txt"), "one\ntwo");
    EXPECT_EQ(SaveBufferText(dir.File("no/such/dir.txt")), 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].title, "ERROR:");
    EXPECT_EQ(ui.Boxes()[0].text, "Can't open create/open '" + dir.File("no/such/dir.txt") + "'");
}

TEST_F(Capture, DragCopiesAcrossRowsWithoutTrailingBlanks) {
    Write("aaaa bbbb\r\ncccc dddd");
    // Visible rows 23 and 24 are the last two buffer rows.
    CaptureMouseDown(X(5), Y(23));
    EXPECT_TRUE(CaptureSelecting());
    CaptureMouseMove(X(2), Y(24));
    EXPECT_TRUE(ConsolePerCellColours());
    CaptureMouseUp();
    EXPECT_EQ(ui.Clipboard(), "bbbb\nccc\n");

    // Within one row the cells are copied as they are.
    CaptureMouseDown(X(3), Y(24));
    CaptureMouseMove(X(6), Y(24));
    CaptureMouseUp();
    EXPECT_EQ(ui.Clipboard(), "c dd");
    // Backwards works the same.
    CaptureMouseDown(X(6), Y(24));
    CaptureMouseMove(X(3), Y(24));
    CaptureMouseUp();
    EXPECT_EQ(ui.Clipboard(), "c dd");
}

TEST_F(Capture, DragHighlightsAndTheNextPressRemovesIt) {
    Write("0123456789");
    const size_t cell = ConsoleCellIndex(kRows - 1, 4);
    const uint32_t fg = ConsoleCurrentFg(), bg = ConsoleCurrentBg();
    CaptureMouseDown(X(2), Y(24));
    CaptureMouseMove(X(6), Y(24));
    uint32_t cfg = 0, cbg = 0;
    char text[kCols];
    uint32_t fgs[kCols], bgs[kCols];
    ConsoleCopyRow(kRows - 1, text, fgs, bgs, kCols);
    cfg = fgs[4];
    cbg = bgs[4];
    EXPECT_EQ(cfg, bg);
    EXPECT_EQ(cbg, fg);
    CaptureMouseUp();
    CaptureMouseDown(X(0), Y(0));
    ConsoleCopyRow(kRows - 1, text, fgs, bgs, kCols);
    EXPECT_EQ(fgs[4], fg);
    EXPECT_EQ(bgs[4], bg);
    CaptureMouseUp();
    (void)cell;
}

TEST_F(Capture, DoubleClickCopiesTheWord) {
    Write("load addr=0x8000 now");
    ui.SetClipboard("before");
    CaptureMouseDown(X(8), Y(24));
    CaptureMouseUp();
    CaptureDoubleClick(X(8), Y(24));
    EXPECT_EQ(ui.Clipboard(), "addr=0x8000");
    CaptureMouseUp();   // ends the double click without copying again
    EXPECT_EQ(ui.Clipboard(), "addr=0x8000");
    // A blank does nothing.
    ui.SetClipboard("kept");
    CaptureDoubleClick(X(4), Y(24));
    EXPECT_EQ(ui.Clipboard(), "kept");
    EXPECT_EQ(CaptureWordAt(-1), "");
}

}  // namespace
