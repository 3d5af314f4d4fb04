// The desktop's plain parts: window size and layout arithmetic, status texts,
// the file check, help pages and the command layout.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "util/commands.h"
#include "app/filecheck.h"
#include "app/mainlayout.h"
#include "app/oxel.h"
#include "app/statusbar.h"
#include "app/toolbar.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "proc.h"
#include "config/shellvar.h"

namespace {

TEST(WindowSize, FitsTheScreenByTakingRowsOff) {
    WindowSizeInput in;
    in.charWidth = 8;
    in.charHeight = 16;
    in.scrollBarWidth = 16;
    in.topOffset = 20;
    in.parts = {29, 36, 80, 22, 0};
    in.cols = 100;
    in.rows = 40;
    in.screenClientHeight = 2000;
    WindowSize s = ConfigMainWindowSize(in);
    EXPECT_EQ(s.width, 100 * 8 + 16);
    EXPECT_EQ(s.height, 40 * 16 + 20 + 29 + 36 + 80 + 22);
    EXPECT_EQ(s.rowsTaken, 0);

    in.screenClientHeight = 600;   // 827 wanted
    s = ConfigMainWindowSize(in);
    EXPECT_LT(s.height, 600);
    EXPECT_GE(s.height + 16, 600);
    EXPECT_EQ(s.rows, 40 - s.rowsTaken);
    EXPECT_EQ(s.height, s.rows * 16 + 20 + 29 + 36 + 80 + 22);
}

TEST(Layout, ConsoleAlwaysEndsInWholeCells) {
    LayoutInput in;
    in.charWidth = 7;
    in.charHeight = 14;
    in.scrollBarWidth = 14;
    in.bufferCols = 250;
    in.parts = {29, 32, 72, 20, 0};
    for (int w = 300; w < 1200; w += 37)
        for (int h = 400; h < 900; h += 41) {
            in.clientWidth = w;
            in.clientHeight = h;
            LayoutResult r = LayoutMainWindow(in);
            int guard = 0;
            while (r.shrink && guard++ < 3) {
                in.clientWidth -= r.dw;
                in.clientHeight -= r.dh;
                r = LayoutMainWindow(in);
            }
            ASSERT_FALSE(r.shrink) << w << "x" << h;
            EXPECT_EQ(r.console.h % 14, 0);
            EXPECT_EQ((r.console.w - 14) % 7, 0);
            EXPECT_EQ(r.console.y, 29 + 32 + 72);
            EXPECT_EQ(r.statusBar.y + r.statusBar.h, in.clientHeight);
        }
    // Wider than the buffer: narrowed to it.
    in.bufferCols = 20;
    in.clientWidth = 20 * 7 + 14 + 30;
    in.clientHeight = 133 + 20 + 14 * 10;
    LayoutResult r = LayoutMainWindow(in);
    EXPECT_TRUE(r.shrink);
    EXPECT_EQ(r.dw, 30);
}

TEST(Layout, BandsSplitIntoEightWithTheFirstOnesWider) {
    for (int w : {640, 645, 647, 896, 1001}) {
        BandSplit s = SplitBand(w);
        int total = 0;
        for (int i = 0; i < kBandHeaders; ++i) {
            EXPECT_EQ(s.w[i], w / 8 + (i < w % 8 ? 1 : 0)) << w << " " << i;
            EXPECT_EQ(s.x[i], total);
            total += s.w[i];
        }
        EXPECT_EQ(total, w);
    }
    EXPECT_EQ(ButtonBandHeight(14), 2 * FkeyBandHeight(14) + 8);
    EXPECT_EQ(FkeyBandHeight(14), 32);
}

TEST(Status, FieldEdgesAndTexts) {
    auto e = StatusFieldEdges(600);
    EXPECT_EQ(e, (std::array<int, 5>{140, 260, 380, 480, 600}));

    FakeUi fake;
    ConfigInitDefaults();
    ShellVarInit();
    g_cfg.TELNET_ENABLED = 0;
    EXPECT_EQ(StatusFieldText(1), "TELNET SRVR OFF");
    g_cfg.TELNET_ENABLED = 1;
    g_cfg.TELNET_PORT = 8200;
    StatusSourcesRef().telnetClients = [] { return 3; };
    EXPECT_EQ(StatusFieldText(1), "TELNET CLIENTS (port 8200): 3");
    shell_setenv("MYIP", "10.1.2.3");
    EXPECT_EQ(StatusFieldText(2), "MYIP: 10.1.2.3");
    StatusSourcesRef().lines = [] { return 24; };
    StatusSourcesRef().cols = [] { return 80; };
    EXPECT_EQ(StatusFieldText(3), "ROW/COL: 24/80");
    EXPECT_EQ(StatusFieldText(4), " XFER: Idle");
    StatusSourcesRef().fsendBytes = [] { return 4096L; };
    EXPECT_EQ(StatusFieldText(4), "FSEND: 4096 bytes");
    StatusSourcesRef().tftpPkts = [] { return 12L; };
    EXPECT_EQ(StatusFieldText(4), "TFTP: 12 pkts");
    StatusSourcesRef().xmodemPkts = [] { return 7L; };
    EXPECT_EQ(StatusFieldText(4), "XMODEM: 7 pkts");
    StatusSourcesReset();
    ConfigInitDefaults();
}

TEST(FileCheck, EveryMessageAndTheComparison) {
    TempDir dir;
    dir.Write("f.bin", "123456789");   // CRC-32 cbf43926
    const std::string f = dir.File("f.bin");
    const std::string md5 = "25f9e794323b453885f5181f1b624d0b";
    struct Case {
        bool md5, crc;
        std::string path, expected, error, field;
    } cases[] = {
        {false, false, f, "", "Must select md5 or crc (or both)", ""},
        {true, true, "", "", "Must specify filename", ""},
        {true, false, dir.File("none"), "", "File not found", ""},
        {true, true, f, "", "", "CRC: 0xcbf43926, MD5: " + md5},
        {false, true, f, "", "", "CRC: 0xcbf43926"},
        {true, false, f, "", "", "MD5: " + md5},
        {false, true, f, "CBF43926", "", "--PASS--"},
        {false, true, f, "cbf43927", "", "--FAIL--"},
        {true, false, f, md5, "", "--PASS--"},
        {true, true, f, "cbf43926/" + md5, "", "--PASS--"},
        {true, true, f, "cbf43926/" + md5.substr(1) + "0", "", "--FAIL--"},
        {true, true, f, "cbf43926", "Syntax of FileChk box (HEXCRC/HEXMD5) invalid", ""},
        {true, true, f, "cbf43926-" + md5, "Syntax of FileChk box (HEXCRC/HEXMD5) invalid", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected + "|" + c.path);
        FileCheckResult r = FileCheckRun(c.md5, c.crc, c.path, c.expected);
        EXPECT_EQ(r.ok, c.error.empty());
        EXPECT_EQ(r.errorText, c.error);
        EXPECT_EQ(r.field, c.field);
    }
    // A file that cannot be read.
    if (geteuid() != 0) {
        dir.Write("locked", "x");
        chmod(dir.File("locked").c_str(), 0);
        EXPECT_EQ(FileCheckRun(false, true, dir.File("locked"), "").errorText, "CRC32 calculation error.");
        EXPECT_EQ(FileCheckRun(true, false, dir.File("locked"), "").errorText, "MD5 calculation error.");
    }
}

TEST(Help, LocalPagesAndTheFailureMessageOnce) {
    FakeUi fake;
    TempDir home;
    SetInstallDir(home.path());
    HelpResetForTest();
    HelpOpen(420);
    HelpOpen(424);
    ASSERT_EQ(fake.Boxes().size(), 1u);
    EXPECT_EQ(fake.Boxes()[0].title, "Failed to access web pages.");
    EXPECT_EQ(fake.Boxes()[0].text, "NOTE: Local help not up to date.");
    EXPECT_TRUE(fake.Urls().empty());

    mkdir(home.File("htmlhelp").c_str(), 0755);
    home.Write("htmlhelp/Topic2.htm", "<html></html>");
    HelpOpen(424);
    ASSERT_EQ(fake.Urls().size(), 1u);
    EXPECT_EQ(fake.Urls()[0], home.File("htmlhelp/Topic2.htm"));
    EXPECT_EQ(HelpPagePath(420), home.File("htmlhelp/Index.htm"));
    EXPECT_EQ(HelpPagePath(446), home.File("htmlhelp/WhatsNew.htm"));
    HelpOpen(471);   // online: no local fallback
    EXPECT_EQ(fake.Urls().size(), 2u);
}

TEST(Commands, EveryCommandOfTheMainWindowHasAnEntry) {
    FakeUi fake;
    MainCommandsInit();
    const int ids[] = {400, 475, 401, 402, 484, 448, 403, 432, 477, 429, 438, 466, 467, 430, 487, 435,
                       442, 459, 443, 445, 444, 473, 404, 449, 457, 450, 465, 458, 480, 481, 405, 460,
                       408, 406, 433, 474, 482, 407, 440, 462, 472, 485, 409, 410, 453, 452, 454, 468,
                       469, 411, 412, 413, 414, 415, 478, 439, 416, 463, 470, 417, 479, 418, 419, 441,
                       486, 427, 428, 455, 420, 421, 422, 423, 424, 425, 446, 471, 476, 483, 426,
                       950, 951, 952, 953, 954, 955, 956, 957, 958, 959, 960, 961, 962};
    std::set<int> have;
    for (const CommandEntry& e : CommandTable()) have.insert(e.id);
    for (int id : ids) EXPECT_TRUE(have.count(id)) << id;
    for (int id : ids) {
        if (id < 950) {
            EXPECT_GE(MainMenuIndex(id), 0) << id;
        }
    }

    // The desktop's own toggles flip their key and check the item.
    ConfigInitDefaults();
    const int32_t before = g_cfg.BUTTONS_VISIBLE;
    EXPECT_TRUE(CommandDispatch(459));
    EXPECT_EQ(g_cfg.BUTTONS_VISIBLE, !before);
    ASSERT_FALSE(fake.menuChecked.empty());
    EXPECT_EQ(fake.menuChecked.back(), std::make_pair(459, g_cfg.BUTTONS_VISIBLE != 0));
    EXPECT_TRUE(CommandDispatch(953));
    EXPECT_EQ(g_cfg.FUNCKEYS_VISIBLE, 0);
    EXPECT_TRUE(CommandDispatch(484));
    EXPECT_EQ(fake.Dialogs().back(), "File Check: MD5SUM/CRC32...");
    ConfigInitDefaults();
}

TEST(Commands, ToolTipsFollowTheState) {
    ConfigInitDefaults();
    g_cfg.TSTAMP_ENABLED = 0;
    EXPECT_EQ(ToolBarToolTip(954), "Enable timestamping");
    g_cfg.LOGGING_ENABLED = 1;
    EXPECT_EQ(ToolBarToolTip(955), "Disable standard logging");
    EXPECT_EQ(ToolBarToolTip(953), "Toggle state (presence) of function key window");
    ConfigInitDefaults();
}

}  // namespace
