// The script runner: files, tags, flow control, nesting, errors, debug mode,
// halt, and the receive block.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "console/screenbuf.h"
#include "util/commands.h"
#include "app/oxel.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "wait.h"
#include "proc.h"
#include "script/scripting.h"
#include "config/shellvar.h"

namespace {

std::mutex g_mu;
std::vector<std::string> g_echo;

int Echo(int argc, char** argv) {
    std::lock_guard l(g_mu);
    std::string s;
    for (int i = 1; i < argc; i++) s += (i > 1 ? "|" : "") + std::string(argv[i]);
    g_echo.push_back(s);
    return 0;
}

std::vector<std::string> Echoed() {
    std::lock_guard l(g_mu);
    return g_echo;
}

// Waits the way a prompt wait does: until the wake event (or Halt).
std::atomic<bool> g_sleeping{false};
int WaitForever(int, char**) {
    g_sleeping = true;
    script_sleep(0);
    g_sleeping = false;
    return 0;
}

// A handler stuck outside every wait the runner knows, until the test lets go.
std::mutex g_stuckMu;
std::condition_variable g_stuckCv;
bool g_stuckIn = false, g_release = false;
int Stuck(int, char**) {
    std::unique_lock l(g_stuckMu);
    g_stuckIn = true;
    g_stuckCv.notify_all();
    g_stuckCv.wait(l, [] { return g_release; });
    g_stuckIn = false;
    g_stuckCv.notify_all();
    return 0;
}

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir((home.path() + "/scripts").c_str(), 0755);
        SetInstallDir(home.path());
        InitScripting();
        ScriptSetHandler("ECHO", Echo);
        ScriptSetHandler("SLEEP", WaitForever);
        ScriptSetHandler("SOCKET", Stuck);
        ScriptSetDebug(false);
        std::lock_guard l(g_mu);
        g_echo.clear();
    }
    void TearDown() override { EXPECT_TRUE(ScriptWaitIdle(20000)); }
    void Script(const std::string& name, const std::string& text) { home.Write("scripts/" + name, text); }
    // Runs a script to its end.
    void Run(const char* name, const char* tag = nullptr) {
        EXPECT_EQ(run_script(name, tag), 1) << name;
        EXPECT_TRUE(ScriptWaitIdle(20000));
    }
    std::vector<FakeBox> Boxes() { return ui.Boxes(); }
    TempDir home;
    FakeUi ui;
};

std::string ErrorBox(const char* script, int line, const char* error) {
    return std::string("Script: ") + script + "\n\nLine " + std::to_string(line) + "\n\nError: " + error + "\n";
}

}  // namespace

TEST_F(RunnerTest, LinesCommentsAndQuotes) {
    std::string w32 = "ECHO", w33;
    for (int i = 1; i < 32; i++) w32 += " w";
    w33 = w32 + " w";
    Script("q.scr",
           "# header comment\r\n"
           "\r\n"
           "   ECHO \"a b\" c\\#d # trailing comment\r\n"
           "\tECHO ab\"c d\"e\n" +
               w32 + "\n" + w33 + "\n" + "ECHO not reached\n");
    Run("q.scr");
    auto e = Echoed();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0], "a b|c#d");
    EXPECT_EQ(e[1], "abc de");
    EXPECT_EQ(std::count(e[2].begin(), e[2].end(), '|'), 30);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Script Execution Error");
    EXPECT_EQ(boxes[0].text, ErrorBox("q.scr", 6, "Command line did not parse properly"));
}

TEST_F(RunnerTest, UnclosedQuoteFailsToParse) {
    Script("u.scr", "ECHO \"a b\nECHO after\n");
    Run("u.scr");
    EXPECT_TRUE(Echoed().empty());
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, ErrorBox("u.scr", 1, "Command line did not parse properly"));
}

TEST_F(RunnerTest, LineNumbersAfterJumps) {
    struct Case {
        const char* name;
        const char* text;
        int line;  // where the failing command BAD stands
    };
    const std::string longText = "ECHO\n" + std::string(2046, 'x') + "\n";
    const Case cases[] = {
        {"goto.scr", "GOTO T\nBAD\n# T:\nBAD\n", 4},
        {"ret.scr", "GOSUB S\nBAD\n# S:\nRETURN\n", 2},
        {"sub.scr", "GOSUB S\nECHO x\n# S:\n\nBAD\n", 5},
        {"twice.scr", "GOSUB S\nGOSUB S\nBAD\n# S:\nECHO s\nRETURN\n", 3},
        {"prefix.scr", "GOTO LOOP\nBAD\n# LOOP2:\nBAD\n# LOOP:\n", 4},
        {"blank.scr", "\n# c\n  \n\tBAD\n", 4},
        {"back.scr", "SET n 0\n# TOP:\nSET n=n+1\nIF $n lt 3 GOTO TOP\nBAD\n", 5},
        {"case.scr", "goto t\n# T:\nBAD\n# t:\nbad\n", 5},
        {"long.scr", longText.c_str(), 2},
    };
    for (const auto& c : cases) {
        ui.Reset();
        Script(c.name, c.text);
        Run(c.name);
        auto boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        if (std::string(c.name) == "long.scr")
            EXPECT_EQ(boxes[0].text, std::string("Script: long.scr\n\nLine 2\n\nError: line too long\n"));
        else
            EXPECT_EQ(boxes[0].text, ErrorBox(c.name, c.line, "Command not found")) << c.name;
    }
    // 2045 characters is still a line.
    ui.Reset();
    Script("max.scr", "ECHO " + std::string(2040, 'y') + "\n");
    Run("max.scr");
    EXPECT_TRUE(Boxes().empty());
    shell_setenv("n", nullptr);
}

TEST_F(RunnerTest, StartTagsAndMissingTags) {
    Script("t.scr", "ECHO top\n# START: here\nECHO started\nGOTO NOWHERE\nECHO never\n");
    Run("t.scr@START");
    EXPECT_EQ(Echoed(), std::vector<std::string>{"started"});
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].title, "Script Execution Error");
    EXPECT_EQ(Boxes()[0].text, "Tag 'NOWHERE' not found\n");
    // The runner is idle again: a new script starts; a tag passed separately works too.
    ui.Reset();
    Run("t.scr", "MISSING");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Start-tag 'MISSING' not found\n");
    ui.Reset();
    EXPECT_EQ(run_script("absent.scr", nullptr), 0);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, home.path() + "/scripts/absent.scr: open failed");
    ui.Reset();
    EXPECT_EQ(run_script("", nullptr), 0);  // the scripts directory itself
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, home.path() + "/scripts/: not a regular file");
    EXPECT_FALSE(ScriptRunning());
}

TEST_F(RunnerTest, MissingReturnWarnedOnce) {
    Script("m.scr", "GOSUB S\nECHO back\n# S:\nECHO in\n");
    Run("m.scr");
    EXPECT_EQ(Echoed(), std::vector<std::string>{"in"});
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "Warning: missing return.\n");
}

TEST_F(RunnerTest, SixteenthGosubFails) {
    Script("g.scr", "GOSUB S\n# S:\nGOSUB S\n");
    Run("g.scr");
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);  // the failure clears the pending GOSUBs: no warning
    EXPECT_EQ(boxes[0].text, ErrorBox("g.scr", 3, "GOSUB: Max return-to depth reached"));
    ui.Reset();
    Script("r.scr", "RETURN\n");
    Run("r.scr");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, ErrorBox("r.scr", 1, "RETURN with no GOSUB"));
}

TEST_F(RunnerTest, SixteenthNestedRunShownAndCallerContinues) {
    shell_setenv("depth", "0");
    Script("rec.scr", "SET depth=depth+1\nECHO $THISSCRIPTNAME $depth\nRUN rec.scr\nECHO back\n");
    Run("rec.scr");
    auto e = Echoed();
    ASSERT_EQ(e.size(), 30u);
    EXPECT_EQ(e[0], "rec.scr|1");
    EXPECT_EQ(e[14], "rec.scr|15");
    EXPECT_EQ(e[15], "back");
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Script Error");
    EXPECT_EQ(boxes[0].text, "Maximum Run Depth Exceeded");
    shell_setenv("depth", nullptr);
}

TEST_F(RunnerTest, NestedLevelsAndExitForms) {
    Script("outer.scr", "ECHO $THISSCRIPTDIR\nRUN inner.scr\nECHO outer after\nRUN all.scr\nECHO never\n");
    Script("inner.scr", "ECHO inner\nEXIT\nECHO never\n");
    Script("all.scr", "EXIT ALLSCRIPTS\nECHO never\n");
    Run("outer.scr");
    EXPECT_EQ(Echoed(), (std::vector<std::string>{home.path() + "/scripts", "inner", "outer|after"}));
    EXPECT_TRUE(Boxes().empty());
    Script("bad.scr", "EXIT NOW\n");
    Run("bad.scr");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, ErrorBox("bad.scr", 1, "Parameter error"));
    EXPECT_EQ(docmd("EXIT a b"), -3);
    EXPECT_EQ(docmd("GOTO"), -3);
    EXPECT_EQ(docmd("RUN"), -3);
    EXPECT_EQ(docmd("NOSUCH"), -5);
    EXPECT_EQ(docmd("   "), 0);
    EXPECT_EQ(docmd("# only a comment"), 0);
}

TEST_F(RunnerTest, ExitOxelRequestsShutdown) {
    Script("x.scr", "EXIT OXEL\nECHO never\n");
    Run("x.scr");
    EXPECT_EQ(ui.quitStatus, 2);
    EXPECT_TRUE(Echoed().empty());
    ui.quitStatus = -1;
    EXPECT_EQ(docmd("exit oxelremote"), 0);
    EXPECT_EQ(ui.quitStatus, 99);
}

TEST_F(RunnerTest, DebugModeYesNoCancel) {
    Script("d.scr", "ECHO 1\n\n  ECHO 2\nECHO 3\nECHO 4\n");
    ScriptSetDebug(true);
    ui.Answer(IDYES);
    ui.Answer(IDNO);
    ui.Answer(IDCANCEL);
    Run("d.scr");
    ScriptSetDebug(false);
    EXPECT_EQ(Echoed(), std::vector<std::string>{"1"});
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 3u);  // Cancel ends the script without an error box
    EXPECT_EQ(boxes[0].title, "SCRIPT_DEBUG: d.scr");
    EXPECT_EQ(boxes[0].text, "Line 1: ECHO 1");
    EXPECT_EQ(boxes[1].text, "Line 3:   ECHO 2");  // the skipped blank line still counts
    EXPECT_EQ(boxes[2].text, "Line 4: ECHO 3");
    EXPECT_EQ(boxes[0].style & MB_TYPEMASK, unsigned(MB_YESNOCANCEL));
}

TEST_F(RunnerTest, IfOperatorsTable) {
    SetFrameInitialised(true);
    struct Case {
        const char* line;
        int rc;
        const char* result;  // "true"/"false", null when the command fails
    };
    const Case cases[] = {
        {"IF -v 5 gt 3 CONTINUE", 0, "true"},
        {"IF -v -5 lt 3 CONTINUE", 0, "true"},
        {"IF -v 0x10 eq 16 CONTINUE", 0, "true"},
        {"IF -v 010 eq 8 CONTINUE", 0, "true"},
        {"IF -v -b 10 010 eq 10 CONTINUE", 0, "true"},
        {"IF -v -b 16 ff eq FF CONTINUE", 0, "true"},
        {"IF -v 3 GE 3 CONTINUE", 0, "true"},
        {"IF -v 3 le 2 CONTINUE", 0, "false"},
        {"IF -v 3 ne 3 CONTINUE", 0, "false"},
        {"IF -v 4294967295 eq 2147483647 CONTINUE", 0, "true"},
        {"IF -v 6 and 1 CONTINUE", 0, "false"},
        {"IF -v 6 or 0 CONTINUE", 0, "true"},
        {"IF -v 6 xor 6 CONTINUE", 0, "false"},
        {"IF -v -f 2.5 gt 2.4 CONTINUE", 0, "true"},
        {"IF -f 1 and 1 CONTINUE", -1, nullptr},
        {"IF -v hello contains ell CONTINUE", 0, "true"},
        {"IF -v ABC sec abc CONTINUE", 0, "true"},
        {"IF -v ABC seq abc CONTINUE", 0, "false"},
        {"IF -v ABC sne abc CONTINUE", 0, "true"},
        {"IF -v 0123 isdec CONTINUE", 0, "true"},
        {"IF -v 12a isdec CONTINUE", 0, "false"},
        {"IF -v 0xBeef ishex CONTINUE", 0, "true"},
        {"IF -v 1.5.0 isfloat CONTINUE", 0, "true"},
        {"IF -v 1,5 isfloat CONTINUE", 0, "false"},
        {"IF -v 10.0.0.1 isip CONTINUE", 0, "true"},
        {"IF -v 10.0.0.256 isip CONTINUE", 0, "false"},
        {"IF -v 10.0.0 isip CONTINUE", 0, "false"},
        {"IF -v 00:1a:2B:3c:4d:5e ismac CONTINUE", 0, "true"},
        {"IF -v 00:1a:2B:3c:4d:5 ismac CONTINUE", 0, "false"},
        {"IF -v 1 eq 2 CONTINUE ELSE CONTINUE", 0, "false"},
        {"IF -v 1 eq 1 RETURN", -1, "true"},
        {"IF -v 1 eq 2 CONTINUE else RETURN", -1, "false"},
        {"IF 1 eq 1 RUN absent.scr", -1, nullptr},
        {"IF 1 bogus 1 CONTINUE", -2, nullptr},
        {"IF 1 eq 1 FROB", -2, nullptr},
        {"IF 1 eq 1", -2, nullptr},
        {"IF", -2, nullptr},
        {"IF -q 1 eq 1 CONTINUE", -2, nullptr},
    };
    for (const auto& c : cases) {
        ui.Reset();
        EXPECT_EQ(docmd(c.line), c.rc) << c.line;
        std::string out = ui.Console();
        if (c.result) {
            EXPECT_EQ(out, std::string("Test evaluates to: ") + c.result) << c.line;
        } else {
            EXPECT_EQ(out, "") << c.line;
        }
    }
    SetFrameInitialised(false);
}

TEST_F(RunnerTest, IfActionsInAScript) {
    Script("if.scr",
           "IF 1 eq 1 GOTO YES ELSE GOTO NO\n"
           "# NO:\nECHO no\nEXIT\n"
           "# YES:\nECHO yes\n"
           "IF a seq b GOSUB S else GOSUB T\n"
           "IF 1 eq 1 RUN sub.scr\n"
           "IF 1 eq 1 EXIT\nECHO never\n"
           "# S:\nECHO s\nRETURN\n"
           "# T:\nECHO t\nRETURN\n");
    Script("sub.scr", "ECHO sub\n");
    Run("if.scr");
    EXPECT_EQ(Echoed(), (std::vector<std::string>{"yes", "t", "sub"}));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(RunnerTest, FailedCommandShowsItsOwnText) {
    Script("f.scr", "ECHO one\nTFTP get x\nECHO never\n");
    Run("f.scr");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, ErrorBox("f.scr", 2, "not available in this build"));
    ui.Reset();
    EXPECT_EQ(script_exec_line("XMODEM -x", 0, nullptr), -1);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, ErrorBox("f.scr", 0, "not available in this build"));
    ui.Reset();
    EXPECT_EQ(docmd(std::string(2048, 'x').c_str()), -4);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "command line too long");
}

TEST_F(RunnerTest, HaltEndsAWaitAtOnce) {
    Script("w.scr", "ECHO waiting\nSLEEP\nECHO never\n");
    ASSERT_EQ(run_script("w.scr", nullptr), 1);
    ASSERT_TRUE(WaitFor([&] { return !Echoed().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(ScriptRunning());
    script_halt();
    EXPECT_TRUE(ScriptWaitIdle(3900));
    EXPECT_EQ(Echoed(), std::vector<std::string>{"waiting"});
    // A later script runs normally.
    Script("n.scr", "ECHO next\n");
    Run("n.scr");
    EXPECT_EQ(Echoed().back(), "next");
}

TEST_F(RunnerTest, HaltReleasesAStuckLevelAfterFourSeconds) {
    {
        std::lock_guard l(g_stuckMu);
        g_release = false;
    }
    Script("s.scr", "SOCKET\nECHO never\n");
    ASSERT_EQ(run_script("s.scr", nullptr), 1);
    {
        std::unique_lock l(g_stuckMu);
        ASSERT_TRUE(g_stuckCv.wait_for(l, std::chrono::seconds(10), [] { return g_stuckIn; }));
    }
    script_halt();
    EXPECT_TRUE(ScriptWaitIdle(15000));  // forced after 4000 ms
    EXPECT_FALSE(ScriptRunning());
    // A new script runs while the stuck handler is still inside.
    Script("n.scr", "ECHO next\n");
    Run("n.scr");
    EXPECT_EQ(Echoed(), std::vector<std::string>{"next"});
    {
        std::unique_lock l(g_stuckMu);
        g_release = true;
        g_stuckCv.notify_all();
        ASSERT_TRUE(g_stuckCv.wait_for(l, std::chrono::seconds(10), [] { return !g_stuckIn; }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Echoed(), std::vector<std::string>{"next"});  // the released level did not go on
    EXPECT_FALSE(ScriptRunning());
}

TEST_F(RunnerTest, PauseStepResume) {
    Script("p.scr", "ECHO 1\nSLEEP\nECHO 2\nECHO 3\nECHO 4\n");
    ASSERT_EQ(run_script("p.scr", nullptr), 1);
    ASSERT_TRUE(WaitFor([&] { return !Echoed().empty(); }));
    script_pause();
    ASSERT_TRUE(WaitFor([&] { return g_sleeping.load(); }));
    script_wake();  // the SLEEP line ends; the loop then holds before line 3
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(Echoed().size(), 1u);
    script_step();
    ASSERT_TRUE(WaitFor([&] { return Echoed().size() >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(Echoed(), (std::vector<std::string>{"1", "2"}));
    script_resume();
    EXPECT_TRUE(ScriptWaitIdle(20000));
    EXPECT_EQ(Echoed(), (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST_F(RunnerTest, IdleSetsScriptStart) {
    shell_setenv("SCRIPTSTART", nullptr);
    Script("e.scr", "ECHO x\n");
    Run("e.scr");
    auto s = shell_getenv("SCRIPTSTART");
    ASSERT_TRUE(s);
    EXPECT_NE(s->find('@'), std::string::npos);
    EXPECT_NE(s->find(','), std::string::npos);
    EXPECT_STREQ(g_cfg.LAST_SCRIPTNAME, "e.scr");
}

TEST_F(RunnerTest, ReceiveBlockPromptAndLastLine) {
    recvBlockInit(8, false);
    std::string out;
    EXPECT_EQ(recvBlockRead(out), 0);
    ScriptSetPattern("ok.>");
    EXPECT_EQ(script_receive("line one\r\nsecond", 16), 0);
    EXPECT_EQ(shell_getenv("LASTLINE").value_or(""), "line one");
    EXPECT_EQ(script_receive("\nook!>", 6), 1);  // "." matches any; a restart keeps the first o
    EXPECT_EQ(shell_getenv("LASTLINE").value_or(""), "second");
    // 22 bytes into an 8-byte ring: the last 8, oldest first.
    EXPECT_EQ(recvBlockRead(out), 8);
    EXPECT_EQ(out, "nd\nook!>");
    // No-wrap keeps the first bytes; a RECV copy at the match, as hex.
    recvBlockInit(4, true);
    ScriptSetRecvFlags(1 | 2);
    ScriptSetPattern("Z");
    EXPECT_EQ(script_receive("abcdefZ", 7), 1);
    EXPECT_EQ(shell_getenv("RECVBLOCK").value_or(""), "61626364");
    ScriptSetPatternCount("", 3);
    EXPECT_EQ(script_receive("ab", 2), 0);
    EXPECT_EQ(script_receive("c", 1), 1);
    ScriptSetPatternCount(std::string("\0\1", 2), 2);
    EXPECT_EQ(script_receive(std::string("x\0\1", 3).data(), 3), 1);
    ScriptSetPattern(nullptr);
    ScriptSetRecvFlags(0);
    recvBlockInit(256, false);
    for (const char* v : {"LASTLINE", "RECVBLOCK"}) shell_setenv(v, nullptr);
}

TEST_F(RunnerTest, SleepAndQuietWaits) {
    EXPECT_EQ(script_sleep(2), 0);  // 20 ms, nothing woke it
    script_wake();
    EXPECT_EQ(script_sleep(100000), 1);
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        for (int i = 0; i < 400 && !stop; i++) {
            script_receive("x", 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    EXPECT_EQ(script_wait_quiet(2000, 50), 0);  // data kept coming past the limit
    stop = true;
    feeder.join();
    EXPECT_EQ(script_wait_quiet(30, 0), 1);
}

TEST_F(RunnerTest, ScriptsMenuCommands) {
    std::map<int, CommandEntry> byId;
    for (auto& e : CommandTable()) byId[e.id] = e;
    for (int id : {409, 410, 453, 452, 454, 411, 412}) {
        ASSERT_TRUE(byId.count(id)) << id;
        EXPECT_EQ(byId[id].menu, "&Scripts") << id;
    }
    ASSERT_TRUE(byId.count(451));
    EXPECT_TRUE(byId[451].text.empty());

    EXPECT_TRUE(CommandDispatch(409));
    EXPECT_EQ(ui.Dialogs(), std::vector<std::string>{"Run Oxel Script..."});

    // 451 runs newmon.scr, unless a script is running.
    Script("newmon.scr", "ECHO newmon\n");
    EXPECT_TRUE(CommandDispatch(451));
    EXPECT_TRUE(ScriptWaitIdle(20000));
    EXPECT_EQ(Echoed(), std::vector<std::string>{"newmon"});
    Script("w.scr", "SLEEP\n");
    ASSERT_EQ(run_script("w.scr", nullptr), 1);
    EXPECT_TRUE(CommandDispatch(451));
    script_halt();
    EXPECT_TRUE(ScriptWaitIdle(20000));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].title, "Error");
    EXPECT_EQ(Boxes()[0].text, "Script currently running");

    // New: the header is written, the file opened and made current.
    ui.Reset();
    home.Write("editor.sh", "#!/bin/sh\nd=$(dirname \"$0\")\necho \"$1\" > \"$d/part\" && mv \"$d/part\" \"$d/edited\"\n");
    chmod(home.File("editor.sh").c_str(), 0755);
    CFG_SET_STRING(g_cfg.EDITOR, home.File("editor.sh").c_str());
    std::string path = home.File("scripts/fresh.scr");
    ui.AnswerFile(path);
    EXPECT_TRUE(CommandDispatch(412));
    EXPECT_EQ(home.Read("scripts/fresh.scr"),
              "# New script\r\n# Refer to menu item 'Help->Scripts' for details.\r\n");
    EXPECT_EQ(std::string(g_cfg.LAST_SCRIPTNAME), path);
    for (int i = 0; i < 1000 && access(home.File("edited").c_str(), F_OK) != 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(home.Read("edited"), path + "\n");  // opened in the editor
    // Edit: the chosen file goes to the editor and becomes current.
    unlink(home.File("edited").c_str());
    std::string other = home.File("scripts/other.scr");
    Script("other.scr", "ECHO\n");
    ui.AnswerFile(other);
    EXPECT_TRUE(CommandDispatch(411));
    EXPECT_EQ(std::string(g_cfg.LAST_SCRIPTNAME), other);
    for (int i = 0; i < 1000 && access(home.File("edited").c_str(), F_OK) != 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(home.Read("edited"), other + "\n");
    CFG_SET_STRING(g_cfg.EDITOR, "");
    ui.AnswerFile(home.File("no/such/dir/x.scr"));
    OpenNewScript();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].title.rfind("ERROR (scripting ", 0), 0u);
}
