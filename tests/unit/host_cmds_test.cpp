// Host commands through the runner: SYSTEM, SHELLEXEC, TIME, EVENT, SLEEP,
// BEEP, CD, WOL, and the window commands TITLE, CLS, CONFIG, FKEY,
// SENDINPUT, SRVRSETUP.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <regex>
#include <thread>

#include "app/buttons.h"
#include "app/fkey_cmd.h"
#include "config/configrecord.h"
#include "console/keyboard.h"
#include "console/screenbuf.h"
#include "platform/clock.h"
#include "platform/globalevent.h"
#include "platform/net.h"
#include "script/host_cmds.h"
#include "script/scripting.h"
#include "config/shellvar.h"
#include "script/window_cmds.h"
#include "proc.h"
#include "script_run.h"

namespace {

struct ErrCase {
    const char* script;
    const char* error;  // the "Error:" text of the box, "" for none
};

void RunTable(ScriptHome& h, const std::vector<ErrCase>& cases) {
    for (const auto& c : cases) EXPECT_EQ(h.Run(c.script), c.error) << c.script;
}

TEST(HostCmds, ErrorTexts) {
    ScriptHome h;
    RunTable(h, {
        {"BEEP 36 100\n", "Parameter error\n"},
        {"BEEP 32768 100\n", "Parameter error\n"},
        {"BEEP 440\n", "Parameter error\n"},
        {"BEEP 440 10\n", ""},
        {"EVENT 9 SET\n", "Event idx (9) out of range 1-8\n\n"},
        {"EVENT 0 SET\n", "Event idx (0) out of range 1-8\n\n"},
        {"EVENT 1 SHOUT\n", "Event request (SHOUT) unknown\n\n"},
        {"EVENT 1\n", "Incorrect number of arguments\n"},
        {"SLEEP\n", "Parameter error\n"},
        {"SLEEP -M 5\n", "Parameter error\n"},
        {"SLEEP abc\n", "Parameter error\n"},
        {"TIME bogus\n", "Parameter error\n"},
        {"SHELLEXEC Open x\n", "Parameter error\n"},
        {"SHELLEXEC open\n", "Incorrect number of arguments\n"},
        {"SYSTEM\n", "Incorrect number of arguments\n"},
        {"SYSTEM -p \"\"\n", "Parameter error\n"},
        {"WOL 00:11:22:33:44:55\n", "Parameter error\n"},
        {"WOL 00:11:22:33:44:55 999.1.1.1\n", "Parameter error\n"},
        {"WOL 00:11:22:33:44 127.0.0.1\n", "Parameter error\n"},
        {"CLS rgbrestore\n", "Must save prior to restore.\n\n"},
        {"CLS bkgd=purple\n", "Parameter error\n"},
        {"CONFIG achin\n", "Parameter error\n"},
        {"CONFIG bogus 1\n", "Parameter error\n"},
        {"CONFIG keepalive 5\n", "Keepalive non-zero interval requires a script\n"},
        {"CONFIG keepalive -5 x.scr\n", "Keepalive interval cannot be negative\n"},
        {"CONFIG color bkgnd_restore\n", "Restore requires prior save\r\n\n"},
        {"SRVRSETUP TFTP\n", "Command failed\n"},
        {"TITLE a b\n", "Incorrect number of arguments\n"},
    });
}

TEST(HostCmds, NegativeSleepShowsItsBoxAndGoesOn) {
    ScriptHome h;
    EXPECT_EQ(h.Run("SLEEP -5\nSET after=1\n"), "");
    auto boxes = h.Boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].title, "hiresSleep()");
    EXPECT_EQ(boxes[0].text, "Invalid argument: -5\n");
    EXPECT_EQ(h.Var("after"), "1");
}

TEST(HostCmds, SrvrsetupNamesWhatItCannotDo) {
    ScriptHome h;
    struct {
        const char* script;
        const char* text;
    } cases[] = {
        {"SRVRSETUP TFTP\n", "Use 'TFTP SRVRSETUP' for this."},
        {"SRVRSETUP SYSLOG\n", "No support for SYSLOG at this time."},
    };
    for (const auto& c : cases) {
        h.Run(c.script);
        auto boxes = h.Boxes();
        ASSERT_GE(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, "SRVRSETUP");
        EXPECT_EQ(boxes[0].text, c.text);
    }
    EXPECT_EQ(h.Run("SRVRSETUP DHCP off\n"), "SRVRSETUP DHCP: DHCP server not available in this build\n");
}

TEST(HostCmds, SleepWaitsForAKeyOrAClick) {
    ScriptHome h;
    struct {
        const char* script;
        void (*act)();
    } cases[] = {
        {"SLEEP -K\n", [] { KeyboardKeyDown('a'); }},
        {"SLEEP -M\n", [] { KeyboardNoteClick(); }},
    };
    for (const auto& c : cases) {
        h.home.Write("scripts/w.scr", c.script);
        ASSERT_TRUE(run_script("w.scr", nullptr));
        EXPECT_FALSE(ScriptWaitIdle(150)) << c.script;  // still waiting
        // A press before the wait began is not for it: press until it ends.
        bool ended = false;
        for (int i = 0; i < 50 && !ended; i++) {
            c.act();
            ended = ScriptWaitIdle(100);
        }
        EXPECT_TRUE(ended) << c.script;
    }
}

TEST(HostCmds, BeepSoundsAndLasts) {
    ScriptHome h;
    EXPECT_EQ(h.Run("BEEP 440 100\nBEEP\n"), "");
    auto beeps = h.ui.Beeps();
    ASSERT_EQ(beeps.size(), 2u);
    EXPECT_EQ(beeps[0], std::make_pair(440, 100));
    EXPECT_EQ(beeps[1], std::make_pair(500, 250));
}

TEST(HostCmds, CdKeepsOldpwdOnFailure) {
    ScriptHome h;
    char start[PATH_MAX];
    ASSERT_TRUE(getcwd(start, sizeof start));
    shell_unsetenv("OLDPWD");
    EXPECT_EQ(h.Run("CD " + h.home.path() + "\n"), "");
    EXPECT_EQ(h.Var("OLDPWD"), start);
    EXPECT_NE(h.Run("CD " + h.home.path() + "/missing\n"), "");
    EXPECT_EQ(h.Var("OLDPWD"), start);
    EXPECT_EQ(h.Run("CD\n"), "");
    EXPECT_NE(h.ui.Console().find("CD: " + h.home.path() + "\r\n"), std::string::npos);
    ASSERT_EQ(chdir(start), 0);
}

TEST(HostCmds, TimeFormats) {
    ScriptHome h;
    EXPECT_EQ(TimeFormat("%Y:msec", 7), "%Y:007");
    EXPECT_EQ(h.Run("TIME -q -f %Y:msec\n"), "");
    EXPECT_TRUE(std::regex_match(h.Var("TIME"), std::regex("[0-9]{4}:[0-9]{3}"))) << h.Var("TIME");
    EXPECT_EQ(h.Run("TIME\n"), "");
    EXPECT_TRUE(std::regex_search(h.ui.Console(), std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}\r\n")));
    EXPECT_EQ(h.Run("TIME -s\nSLEEP 30\nTIME -e\n"), "");
    EXPECT_GE(std::stoi(h.Var("TIME")), 30);
    EXPECT_NE(h.ui.Console().find("elapsed: "), std::string::npos);
    EXPECT_EQ(h.Run("TIME hires-off\nTIME -r\n"), "");
    EXPECT_NE(h.ui.Console().find("High res timer resolution: 1 msec (currently disabled).\r\n"),
              std::string::npos);
}

TEST(HostCmds, SystemRunsThroughTheShellAndWaits) {
    ScriptHome h;
    std::string out = h.home.File("out.txt");
    EXPECT_EQ(h.Run("SYSTEM \"echo hi > " + out + "\"\n"), "");
    EXPECT_EQ(h.home.Read("out.txt"), "hi\n");
    EXPECT_EQ(h.Run("SYSTEM no-such-program-oxel\n").rfind("CreateProcess", 0), 0u);
    EXPECT_EQ(h.Run("SYSTEM -p no-such-program-oxel\n").rfind("CreateProcess", 0), 0u);
    // -p -w: the program runs without a shell and the command waits for it.
    EXPECT_EQ(h.Run("SYSTEM -p -w \"touch " + h.home.File("direct") + "\"\n"), "");
    EXPECT_EQ(access(h.home.File("direct").c_str(), F_OK), 0);
}

TEST(HostCmds, EventWaitTimesOutAndSeesSet) {
    ScriptHome h;
    GlobalEventReset(0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(h.Run("EVENT 1 WAIT 100\n"), "");
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
    EXPECT_EQ(h.Var("SCR_TIMEOUT"), "TRUE");
    std::thread setter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        GlobalEventSet(0);
    });
    EXPECT_EQ(h.Run("EVENT 1 WAIT 10000\n"), "");
    setter.join();
    EXPECT_EQ(h.Var("SCR_TIMEOUT"), "FALSE");
    // Manual reset: the event stays set until RESET.
    EXPECT_EQ(h.Run("EVENT 1 WAIT 10\n"), "");
    EXPECT_EQ(h.Var("SCR_TIMEOUT"), "FALSE");
    EXPECT_EQ(h.Run("EVENT 1 RESET\nEVENT 1 WAIT 10\n"), "");
    EXPECT_EQ(h.Var("SCR_TIMEOUT"), "TRUE");
}

TEST(HostCmds, WolSendsTheMagicPacket) {
    ScriptHome h;
    int fd = NetUdpSocket(0, true);
    ASSERT_GE(fd, 0);
    uint16_t port = NetLocalPort(fd);
    EXPECT_EQ(h.Run("WOL -v -p " + std::to_string(port) + " 00-1a-2B-3c-4D-5e 127.0.0.1\n"), "");
    ASSERT_EQ(NetWaitReadable(fd, 5000), 1);
    char buf[200];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    NetClose(fd);
    ASSERT_EQ(n, 102);
    std::string mac("\x00\x1a\x2b\x3c\x4d\x5e", 6);
    std::string want(6, '\xff');
    for (int i = 0; i < 16; i++) want += mac;
    EXPECT_EQ(std::string(buf, 102), want);
    EXPECT_NE(h.ui.Console().find("Sending WAKE-ON-LAN request to IP:127.0.0.1, MAC:00-1a-2B-3c-4D-5e, PORT:" +
                                  std::to_string(port) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(WolPacket("00:11:22-33:44:55"), "");
}

TEST(WindowCmds, TitleConfigAndKeys) {
    ScriptHome h;
    FkeyCmdInit();
    EXPECT_EQ(h.Run("TITLE \"Bench 3\"\n"), "");
    EXPECT_EQ(h.ui.Title(), "Bench 3");
    EXPECT_EQ(h.Run("TITLE -t banner\n"), "TITLE -t: telnet server not available in this build\n");
    EXPECT_EQ(h.Run("CONFIG achin notcrlf TRUE\nCONFIG achin space true\n"), "");
    EXPECT_EQ(g_cfg.HEXMODE, 2);
    EXPECT_EQ(g_cfg.HEXMODE_WITH_SPACE, 1);
    EXPECT_EQ(h.Run("CONFIG achin notcrlf false\nCONFIG achin space no\n"), "");
    EXPECT_EQ(g_cfg.HEXMODE, 0);
    g_cfg.DELAY_BETWEEN_CHARS = 3;
    EXPECT_EQ(h.Run("CONFIG dbc 7\n"), "");
    EXPECT_EQ(h.Var("CONFIG"), "3");
    EXPECT_EQ(g_cfg.DELAY_BETWEEN_CHARS, 7);
    EXPECT_EQ(h.Run("CONFIG bringtofront\nCONFIG minimize\n"), "");
    EXPECT_EQ(h.ui.WindowStates(), (std::vector<UiWindowState>{UiWindowState::Raise, UiWindowState::Minimise}));
    EXPECT_EQ(h.Run("CONFIG -v inactivity 1:30 noscript\n"), "");
    EXPECT_NE(h.ui.Console().find("Inactivity timeout: 90 seconds with no script\r\n"), std::string::npos);
    EXPECT_EQ(h.Run("CONFIG inactivity 0\n"), "");
    EXPECT_EQ(h.Run("CONFIG trace on\nCONFIG timestamp enable\n"), "");
    EXPECT_EQ(g_cfg.TRACEFLAGS, 16u);
    EXPECT_EQ(g_cfg.TRACE_VISIBLE, 1);
    EXPECT_EQ(g_cfg.TSTAMP_ENABLED, 1);
    EXPECT_EQ(h.Run("CONFIG trace off\nCONFIG timestamp disable\n"), "");
    EXPECT_EQ(g_cfg.TRACEFLAGS, 0u);
    EXPECT_EQ(g_cfg.TSTAMP_ENABLED, 0);
    EXPECT_EQ(h.Run("CONFIG nicinfo\n"), "");
    std::string out = h.ui.Console();
    EXPECT_EQ(out.rfind("\r\nList of recognized network interfaces:\r\n", 0), 0u) << out;
    EXPECT_NE(out.find("\r\nList of gateways:\r\n"), std::string::npos) << out;
    EXPECT_EQ(h.Run("FKEY 3 Reset \"reset\\r\"\n"), "");
    EXPECT_STREQ(g_cfg.FKEY[2], "reset\\r");
    EXPECT_STREQ(g_cfg.FKEY_LABEL[1], "Reset");
    EXPECT_EQ(h.Run("FKEY -c 3\n"), "");
    EXPECT_EQ(h.Var("FKEY"), "0");
    // A disabled key is not pressed (nor counted) until it is enabled again.
    EXPECT_EQ(h.Run("FKEY 3 disable\n"), "");
    EXPECT_EQ(PressFkey(3), 0);
    EXPECT_EQ(h.Run("FKEY -c 3\n"), "");
    EXPECT_EQ(h.Var("FKEY"), "0");
    EXPECT_EQ(h.Run("FKEY 3 enable\n"), "");
    PressFkey(3);
    EXPECT_EQ(h.Run("FKEY -c 3\n"), "");
    EXPECT_EQ(h.Var("FKEY"), "1");
    EXPECT_EQ(h.Run("FKEY -b 17 disable\n"), "Parameter error\n");
    EXPECT_EQ(h.Run("FKEY -c 13\n"), "Parameter error\n");
    EXPECT_EQ(h.Var("FKEY"), "<unset>");
    EXPECT_EQ(ParsePeriod("2"), 120);
    EXPECT_EQ(ParsePeriod("1:75"), std::nullopt);
}

TEST(WindowCmds, ClsColoursTheTextFromNowOn) {
    ScriptHome h;
    ConsoleInit(30, 80);
    EXPECT_EQ(h.Run("CLS text=red bkgd=blue\n"), "");
    EXPECT_EQ(ConsoleCurrentFg(), 0x0000FFu);
    EXPECT_EQ(ConsoleCurrentBg(), 0xFF0000u);
    EXPECT_EQ(h.Run("CLS rgbsave text=invert\n"), "");
    EXPECT_EQ(ConsoleCurrentFg(), 0xFF0000u);
    EXPECT_EQ(h.Run("CLS rgbrestore fontrgb=0x00ff00\n"), "");
    EXPECT_EQ(ConsoleCurrentFg(), 0x00FF00u);
    EXPECT_EQ(ConsoleCurrentBg(), 0xFF0000u);
    EXPECT_EQ(h.Run("CLS text=reset\n"), "");
    EXPECT_EQ(ConsoleCurrentFg(), ConsoleTextColour());
    EXPECT_EQ(ConsoleCurrentBg(), ConsoleBackgroundColour());
}

TEST(WindowCmds, SendinputSaysWhyItCannotType) {
    ScriptHome h;
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    EXPECT_EQ(h.Run("SENDINPUT hello\n"), "SENDINPUT: no X display (DISPLAY is not set)\n");
    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    EXPECT_EQ(h.Run("SENDINPUT hello\n"),
              "SENDINPUT: typing into other programs' windows is not possible under Wayland\n");
    unsetenv("WAYLAND_DISPLAY");
}

}  // namespace

namespace {

// A private X server (Xvfb) and xev's window, which prints every key it gets.
TEST(WindowCmds, SendinputTypesIntoAnXWindow) {
    if (access("/usr/bin/Xvfb", X_OK) != 0 || access("/usr/bin/xev", X_OK) != 0) GTEST_SKIP() << "no Xvfb or xev";
    Proc xvfb("/usr/bin/Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
    ASSERT_TRUE(xvfb.WaitOutput("\n", 10000)) << xvfb.Err();
    std::string display = ":" + xvfb.Out().substr(0, xvfb.Out().find('\n'));
    Proc xev("/usr/bin/xev", {}, {"DISPLAY=" + display});
    ASSERT_TRUE(xev.WaitOutput("MapNotify", 10000)) << xev.Err();
    ScriptHome h;
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(h.Run("SENDINPUT -f \"NULL,Event Tester\" aB\\r\n"), "");
    EXPECT_TRUE(xev.WaitOutput("keysym 0x42, B", 10000)) << xev.Out();
    EXPECT_NE(xev.Out().find("keysym 0x61, a"), std::string::npos);
    EXPECT_NE(xev.Out().find("keysym 0xff0d, Return"), std::string::npos);
    EXPECT_EQ(h.Run("SENDINPUT -f \"NULL,No Such Window\" x\n"), "SENDINPUT: FindWindow\n");
    unsetenv("DISPLAY");
}

}  // namespace
