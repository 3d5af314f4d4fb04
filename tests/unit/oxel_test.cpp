#include "app/wiring.h"
#include "console/screenbuf.h"
#include "app/oxel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "util/commands.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "fake_ui.h"
#include "proc.h"
#include "config/shellvar.h"

namespace {

const char* kHeader = "###################################################\n#\n# Oxel configuration file\n#\n";

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("OXEL_HOME", home.path().c_str(), 1);
        ShellVarClear();
    }
    void TearDown() override {
        OxelShutdown();
        ShellVarClear();
        SetCurrentConfigFile("");
        unsetenv("OXEL_HOME");
        SetInstallDir("");
    }
    int Start(std::vector<std::string> args) {
        args.insert(args.begin(), "oxel");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        return OxelStart(static_cast<int>(args.size()), argv.data(), ui);
    }
    // Runs the initialisation again on the living frame, as File -> Open does
    // after the record was changed.
    void Reinitialise() {
        ui.Reset();
        ASSERT_TRUE(CommandDispatch(998));
    }
    TempDir home;
    FakeUi ui;
};

TEST_F(Startup, NoWordsStartsWithDefaultsAndTitleOxel) {
    EXPECT_EQ(Start({}), -1);
    EXPECT_TRUE(ui.Boxes().empty());
    EXPECT_EQ(ui.Title(), "Oxel");
    EXPECT_TRUE(FrameInitialised());
    EXPECT_EQ(BufferRows(), 1200);
    EXPECT_EQ(BufferCols(), 250);
    EXPECT_EQ(ForcedCharHeight(), -1);
    EXPECT_EQ(g_cfg.CONSOLE_COLS, 80);
    EXPECT_EQ(g_cfg.BACKEND, 1);
    EXPECT_EQ(CurrentConfigFile(), "");
    EXPECT_EQ(InstallDir(), home.path());
    EXPECT_EQ(shell_getenv("INSTALLDIR").value_or(""), home.path());
    EXPECT_EQ(shell_getenv("SVNREV").value_or(""), "1437");
    EXPECT_EQ(shell_getenv("WEBSOCPORT").value_or(""), "50080");
}

TEST_F(Startup, CommandLineErrors) {
    std::vector<std::string> many(32, "w");
    struct { std::vector<std::string> args; const char* title; const char* text; } cases[] = {
        {{"-D", "FOO"}, "COMMAND LINE ERROR", "-D requires equality"},
        {{"-O", "x"}, "COMMAND LINE ERROR", "Invalid option."},
        {{"-Ox"}, "COMMAND LINE ERROR", "Invalid option."},
        {{"-Z"}, "COMMAND LINE ERROR", "Invalid option."},
        {{"-C"}, "COMMAND LINE ERROR", "Invalid option."},
        {{"-C", "0"}, "COMMAND LINE ERROR", "Invalid option."},
        {{"-R", "100000", "-C", "100000"}, "COMMAND LINE ERROR", "Invalid option."},
        {{"a.ct", "b.ct"}, "COMMAND LINE ERROR", "Invalid argument count"},
        {many, "CMDLINE ERROR", "Could not process argument list."},
        {{"-b", "fast"}, "COMMAND LINE ERROR", "Invalid option."},
        {{"-b", "0"}, "COMMAND LINE ERROR", "Invalid option."},
        {{"--verbose"}, "COMMAND LINE ERROR", "Invalid option."},
    };
    for (const auto& c : cases) {
        ui.Reset();
        EXPECT_EQ(Start(c.args), 64) << c.args[0];
        auto boxes = ui.Boxes();
        ASSERT_EQ(boxes.size(), 1u) << c.args[0];
        EXPECT_EQ(boxes[0].title, c.title) << c.args[0];
        EXPECT_EQ(boxes[0].text, c.text) << c.args[0];
        EXPECT_FALSE(FrameInitialised());
    }
}

TEST_F(Startup, OptionsTakeEffect) {
    std::string trace = home.File("trace.txt");
    EXPECT_EQ(Start({"-C", "100", "-R", "50", "-A", "3", "-D", "FOO=a=b", "-D", "MYIP=10.1.2.3",
                     "-d", trace, "-h", "20", "-w", "9", "-H"}),
              -1);
    EXPECT_TRUE(ui.Boxes().empty());
    EXPECT_EQ(BufferCols(), 100);
    EXPECT_EQ(BufferRows(), 50);
    EXPECT_EQ(g_cfg.COMPORTALT, 3);
    EXPECT_EQ(g_cfg.COMPORT_PASSTHROUGH, 1);
    EXPECT_EQ(g_cfg.TRACEFLAGS, 0xFFFFFFBFu);
    EXPECT_EQ(shell_getenv("FOO").value_or(""), "a=b");
    EXPECT_EQ(shell_getenv("MYIP").value_or(""), "10.1.2.3");  // -D wins over the lookup
    EXPECT_EQ(ForcedCharHeight(), 20);
    EXPECT_EQ(ForcedCharWidth(), 9);
    EXPECT_TRUE(TmpDebugFunction());
    EXPECT_EQ(ui.Console(),
              "OrigCharHeight: 0, Forced: 20\r\n"
              "OrigCharWidth: 0, Forced: 9\r\n"
              "NOTE: tmp-debug-function enabled\r\n");
    OxelShutdown();
    EXPECT_EQ(Start({"-a", "4"}), -1);
    EXPECT_EQ(g_cfg.COMPORTALT, 4);
    EXPECT_EQ(g_cfg.COMPORT_PASSTHROUGH, 0);
}

TEST_F(Startup, CommandLineAlternatePortWinsOverTheFile) {
    home.Write("alt.ct", std::string(kHeader) + "COMPORTALT               5\nCOMPORT_PASSTHROUGH      FALSE\n");
    EXPECT_EQ(Start({"-A", "3", home.File("alt.ct")}), -1);
    EXPECT_EQ(g_cfg.COMPORTALT, 3);
    EXPECT_EQ(g_cfg.COMPORT_PASSTHROUGH, 1);
    OxelShutdown();
    EXPECT_EQ(Start({home.File("alt.ct")}), -1);
    EXPECT_EQ(g_cfg.COMPORTALT, 5);
}

TEST_F(Startup, ConfigurationThatCannotLoadEndsWithStatusOne) {
    std::string missing = home.File("missing.ct");
    EXPECT_EXIT(Start({missing}), ::testing::ExitedWithCode(1), "");
    home.Write("defcfg.ct", std::string(kHeader) + "NOSUCHKEY                1\n");
    ui.Answer(IDCANCEL);  // the per-line error box, then Cancel stops the load
    EXPECT_EXIT(Start({}), ::testing::ExitedWithCode(1), "");
}

TEST_F(Startup, NoConfigurationAsksForOneAndCancelEnds) {
    ui.runDialogAnswer = 1;   // OK: start-up goes on
    EXPECT_EQ(Start({}), -1);
    EXPECT_EQ(ui.Dialogs(), std::vector<std::string>{"run:Oxel Configuration"});
    ui.Reset();
    EXPECT_EQ(Start({home.File("")}), -1) << "a directory is no configuration";
    EXPECT_EQ(ui.Dialogs(), std::vector<std::string>{"run:Oxel Configuration"});
    ui.runDialogAnswer = 0;   // Cancel
    EXPECT_EXIT(Start({}), ::testing::ExitedWithCode(1), "");
}

TEST_F(Startup, PortNotFoundClearsThePort) {
    home.Write("com42.ct", std::string(kHeader) + "COMPORT                  42\n");
    ui.Answer(IDOK);
    EXPECT_EQ(Start({"-D", "COMDEV_42=" + home.File("none"), home.File("com42.ct")}), -1);
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Connection failed");
    EXPECT_EQ(boxes[0].text, "COM42 not found on this system.\nUse Config->Backend to reconfigure.");
    EXPECT_EQ(boxes[0].style & MB_TYPEMASK, MB_OKCANCEL);
    EXPECT_EQ(g_cfg.COMPORT, 0);
    EXPECT_TRUE(FrameInitialised());
}

TEST_F(Startup, TitleFromConfigurationName) {
    home.Write("lab.ct", kHeader);
    std::string path = home.File("lab.ct");
    EXPECT_EQ(Start({path}), -1);
    EXPECT_EQ(CurrentConfigFile(), path);
    EXPECT_EQ(ui.Title(), "Oxel [lab]:");
    EXPECT_STREQ(g_cfg.LAST_CFG_FILE, path.c_str());

    // Any other TITLEBAR is used as it is.
    CFG_SET_STRING(g_cfg.TITLEBAR, "Bench 3");
    Reinitialise();
    EXPECT_EQ(ui.Title(), "Bench 3");
}

TEST_F(Startup, NameLooksInTheConfigDirectory) {
    ASSERT_EQ(system(("mkdir -p " + home.File("config")).c_str()), 0);
    home.Write("config/board.v2.ct", kHeader);
    EXPECT_EQ(Start({"board.v2.ct"}), -1);
    EXPECT_EQ(ui.Title(), "Oxel [board.v2]:");
    EXPECT_EQ(std::string(g_cfg.LAST_CFG_FILE), home.File("config/board.v2.ct"));
}

TEST_F(Startup, StartupMessage) {
    home.Write("m.ct", kHeader);
    EXPECT_EQ(Start({home.File("m.ct")}), -1);
    struct { const char* msg; bool shown; } cases[] = {
        {"Board B, rev 2", true}, {" indented: not shown", false}, {"", false},
    };
    for (const auto& c : cases) {
        CFG_SET_STRING(g_cfg.STARTUP_MSG, c.msg);
        Reinitialise();
        auto boxes = ui.Boxes();
        ASSERT_EQ(boxes.size(), c.shown ? 1u : 0u) << c.msg;
        if (c.shown) {
            EXPECT_EQ(boxes[0].title, "Oxel: m.ct");
            EXPECT_EQ(boxes[0].text, c.msg);
        }
    }
}

TEST_F(Startup, ServerQuestionNoDisablesAll) {
    EXPECT_EQ(Start({}), -1);
    g_cfg.MONCMDSRVR_ENABLED = g_cfg.TFTPSRVR_ENABLED = 1;
    ui.Reset();
    ui.Answer(IDNO);
    ASSERT_TRUE(CommandDispatch(998));
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].title, "MONCMD TFTP Server auto-startup warning");
    EXPECT_EQ(boxes[0].text, "Ok to allow servers to start up?");
    EXPECT_EQ(boxes[0].style & MB_TYPEMASK, MB_YESNO);
    EXPECT_EQ(boxes[1].title, "All previously enabled servers disabled");
    EXPECT_EQ(boxes[1].text, "To avoid this warning next time, save current configuration");
    EXPECT_EQ(g_cfg.MONCMDSRVR_ENABLED + g_cfg.TFTPSRVR_ENABLED + g_cfg.DHCPSRVR_ENABLED +
                  g_cfg.SYSLOGSRVR_ENABLED + g_cfg.FTPSRVR_ENABLED + g_cfg.HTTPSRVR_ENABLED,
              0);
}

TEST_F(Startup, ServerQuestionTitleOrderAndYes) {
    EXPECT_EQ(Start({}), -1);
    g_cfg.HTTPSRVR_ENABLED = g_cfg.FTPSRVR_ENABLED = g_cfg.TFTPSRVR_ENABLED = 1;
    g_cfg.SYSLOGSRVR_ENABLED = g_cfg.DHCPSRVR_ENABLED = g_cfg.MONCMDSRVR_ENABLED = 1;
    // The servers that start get free ports and a client table that loads.
    g_cfg.SYSLOGSRVR_PORT = 0;
    shell_setenv("FTPSRVR_PORT", "0");
    shell_setenv("DHCPSRVR_PORT", "0");
    g_cfg.DHCP_CFGFILE_MODE = 0;
    CFG_SET_STRING(g_cfg.DHCP_CLIENT_MAC, "02:00:00:00:00:01");
    for (char* f : {g_cfg.DHCP_CLIENT_IP, g_cfg.DHCP_SRVR_IP, g_cfg.DHCP_NETMASK, g_cfg.DHCP_GATEWAY})
        ConfigSetString(f, sizeof g_cfg.DHCP_CLIENT_IP, "10.0.0.1");
    ui.Reset();
    ui.Answer(IDYES);
    ASSERT_TRUE(CommandDispatch(998));
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "MONCMD DHCP SYSLOG TFTP FTP HTTP Server auto-startup warning");
    EXPECT_EQ(g_cfg.HTTPSRVR_ENABLED, 1);
    // No server enabled: nothing is asked.
    g_cfg.HTTPSRVR_ENABLED = g_cfg.FTPSRVR_ENABLED = g_cfg.TFTPSRVR_ENABLED = 0;
    g_cfg.SYSLOGSRVR_ENABLED = g_cfg.DHCPSRVR_ENABLED = g_cfg.MONCMDSRVR_ENABLED = 0;
    Reinitialise();
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(Startup, WindowPlacement) {
    EXPECT_EQ(Start({}), -1);
    EXPECT_EQ(ui.posX, -1);  // -1: the system places the window
    ui.screenWidth = 1920;
    struct { int x, y; bool offscreen; int wantX; } cases[] = {
        {5000, 10, true, 0}, {1920, 20, false, 1920}, {100, 30, false, 100},
    };
    for (const auto& c : cases) {
        g_cfg.TOPLEFT_X = c.x;
        g_cfg.TOPLEFT_Y = c.y;
        Reinitialise();
        auto boxes = ui.Boxes();
        ASSERT_EQ(boxes.size(), c.offscreen ? 1u : 0u) << c.x;
        if (c.offscreen) {
            EXPECT_EQ(boxes[0].title, "PositionWindow");
            EXPECT_EQ(boxes[0].text, "Configured window position is offscreen");
        }
        EXPECT_EQ(ui.posX, c.wantX);
        EXPECT_EQ(ui.posY, c.y);
    }
}

TEST_F(Startup, BackendOutOfRangeBecomesComPort) {
    EXPECT_EQ(Start({}), -1);
    g_cfg.BACKEND = 7;
    Reinitialise();
    EXPECT_EQ(g_cfg.BACKEND, 1);
    EXPECT_EQ(shell_getenv("OXEL_BACKEND").value_or(""), "COMPORT");
    // The COM port menu entry is ticked, the others not.
    bool comTicked = false;
    for (auto [id, on] : ui.menuChecked) {
        if (id == 404) comTicked = on;
        if (id == 449 || id == 450 || id == 457) {
            EXPECT_FALSE(on) << id;
        }
    }
    EXPECT_TRUE(comTicked);
}

// The last state a face was told for a menu item, or -1.
int LastState(const std::vector<std::pair<int, bool>>& calls, int id) {
    int state = -1;
    for (auto [i, on] : calls)
        if (i == id) state = on;
    return state;
}

TEST_F(Startup, MenuStateFollowsTheConfiguration) {
    home.Write("menus.ct", std::string(kHeader) + "CONSOLE_READONLY         TRUE\nTOOLBAR_VISIBLE          FALSE\n");
    EXPECT_EQ(Start({home.File("menus.ct")}), -1);
    EXPECT_EQ(LastState(ui.menuEnabled, 448), 1);   // Edit Config: there is a file
    EXPECT_EQ(LastState(ui.menuEnabled, 417), 1);   // Xmodem: COM port backend
    for (int id : {410, 452, 453, 454}) EXPECT_EQ(LastState(ui.menuEnabled, id), 0) << id;
    EXPECT_EQ(LastState(ui.menuChecked, 482), 1);   // Readonly
    EXPECT_EQ(LastState(ui.menuChecked, 442), 0);   // ToolBar
    EXPECT_EQ(LastState(ui.menuChecked, 445), 1);   // StatusBar

    // A face that builds its menus later asks for the same state again.
    g_cfg.BACKEND = 2;
    ui.Reset();
    OxelSyncMenus();
    EXPECT_EQ(LastState(ui.menuEnabled, 417), 0);
    EXPECT_EQ(LastState(ui.menuChecked, 449), 1);
    EXPECT_EQ(LastState(ui.menuChecked, 404), 0);
    EXPECT_EQ(LastState(ui.menuChecked, 482), 1);

    OxelShutdown();
    ui.Reset();
    EXPECT_EQ(Start({}), -1);
    EXPECT_EQ(LastState(ui.menuEnabled, 448), 0);   // no file to edit
}

class Reports : public ::testing::Test {
protected:
    void SetUp() override {
        ShellVarClear();
        ShellVarInit();
        AppWireHooks();
    }
    void TearDown() override {
        SetFrameInitialised(false);
        ShellVarClear();
    }
    FakeUi ui;
};

TEST_F(Reports, ErrorReportBoxForms) {
    errno = ENOENT;
    ErrorReport("comport", 120, "COM%d connection failed", 3);
    errno = 0;
    ErrorReport("oxel", 7, "RegisterClass_%d", 1);
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].title, "ERROR (comport 120 SVN[1437]): COM3 connection failed");
    EXPECT_EQ(boxes[0].text, "No such file or directory");
    EXPECT_EQ(boxes[0].style, MB_OK | MB_ICONERROR | MB_SYSTEMMODAL);
    EXPECT_EQ(boxes[1].title, "ERROR (oxel 7 SVN[1437])");
    EXPECT_EQ(boxes[1].text, "RegisterClass_1");
}

TEST_F(Reports, ErrorReportToConsole) {
    SetFrameInitialised(true);
    shell_setenv("SHOW_LASTERROR_TO_CONSOLE", "1");
    errno = EACCES;
    ErrorReport("x", 1, "t");
    errno = 0;
    ErrorReport("y", 2, "u");
    EXPECT_TRUE(ui.Boxes().empty());
    EXPECT_EQ(ui.Console(),
              "###...\r\nERROR (x 1 SVN[1437]): t\r\nPermission denied\r\n###\r\n"
              "###...\r\nERROR (y 2 SVN[1437])\r\n###\r\n");
}

TEST_F(Reports, ErrorReportForCode) {
    ErrorReportCode(ECONNREFUSED, "connect");
    ErrorReportCode(0, "plain");
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].title, "ERROR: connect");
    EXPECT_EQ(boxes[0].text, "Connection refused");
    EXPECT_EQ(boxes[1].title, "ERROR");
    EXPECT_EQ(boxes[1].text, "plain");
}

TEST_F(Reports, MessageBoxes) {
    EXPECT_EQ(OxelMessageBox("T", "%d-%s", 12, "ab"), 5);
    std::string big(3000, 'z');
    EXPECT_EQ(OxelMessageBox("T", "%s", big.c_str()), 2047);
    ui.Answer(IDCANCEL);
    EXPECT_EQ(OxelMessageBoxStyle(MB_OKCANCEL, "Q", "sure %s?", "x"), IDCANCEL);
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "12-ab");
    EXPECT_EQ(boxes[0].style, MB_OK | MB_SYSTEMMODAL);
    EXPECT_EQ(boxes[1].text.size(), 2047u);
    EXPECT_EQ(boxes[2].style, MB_OKCANCEL | MB_SYSTEMMODAL);
    EXPECT_EQ(boxes[2].text, "sure x?");
}

// Text printed before the frame is initialised is kept and shown first.
TEST_F(Reports, ConsolePrintfOnlyOnceInitialised) {
    EXPECT_EQ(console_printf("early %d\r\n", 1), 9);
    EXPECT_EQ(ui.Console(), "");
    SetFrameInitialised(true);
    std::string big(5000, 'q');
    EXPECT_EQ(console_printf("%s|%d", big.c_str(), 7), 5002);
    EXPECT_EQ(ui.Console(), "early 1\r\n" + big + "|7");
    SetFrameInitialised(false);
    console_printf("held");
    SetFrameInitialised(true);
    ConsoleShowHeld();
    EXPECT_EQ(ui.Console(), "early 1\r\n" + big + "|7held");
}

void FirstStep() { fprintf(stderr, "first-"); }
void SecondStep() { fprintf(stderr, "second\n"); }

TEST(ProgramExitTest, EndsWithCodeAfterTheStepsInOrder) {
    EXPECT_EXIT(
        {
            ProgramExitAddStep(FirstStep);
            ProgramExitAddStep(SecondStep);
            ProgramExit(3);
        },
        ::testing::ExitedWithCode(3), "first-second");
}

}  // namespace
