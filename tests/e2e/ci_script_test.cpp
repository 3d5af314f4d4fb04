// oxel-cli in a CI job: -s runs a script and the run ends with it, its
// outcome in the exit status; a failed start-up script ends an unattended run.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "proc.h"
#include "pty_board.h"

namespace {

struct Outcome {
    const char* name;
    const char* script;
    int status;
    const char* inOut;      // shown on the console ("" = nothing to look for)
    const char* notInOut;   // never shown: the script stopped before it
    const char* inErr;      // on standard error ("" = standard error empty)
};

TEST(CiScript, EndsTheRunWithTheScriptsOutcome) {
    const Outcome cases[] = {
        {"passes", "SEND -n \"ver\"\nECHO all done\n", 0, "all done", "", ""},
        // No PROMPT to wait for: SEND fails and the script stops there.
        {"send fails", "SEND \"ver\"\nECHO not reached\n", 1, "", "not reached",
         "[Script Execution Error] Script: "},
        {"exit oxel", "EXIT OXEL\nECHO not reached\n", 2, "", "not reached", ""},
        {"exit oxelremote", "EXIT OXELREMOTE\n", 99, "", "", ""},
        // A board that never answers: the wait ends at its limit and the
        // script decides.
        {"silent board",
         "SEND -t 1 -p \"=> \" \"ver\"\nIF $SCR_TIMEOUT seq TRUE GOTO NOANSWER\nECHO answered\nEXIT\n"
         "# NOANSWER\nEXIT OXEL\n",
         2, "", "answered", ""},
    };
    for (const auto& c : cases) {
        TempDir home;
        PtyBoard board;
        ASSERT_FALSE(board.path.empty());
        home.Write("job.scr", c.script);
        ProcResult r = RunCli({board.path, "-s", home.File("job.scr")}, {"OXEL_HOME=" + home.path()}, "", 20000);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out << r.err;
        if (*c.inOut) {
            EXPECT_NE(r.out.find(c.inOut), std::string::npos) << c.name << "\n" << r.out;
        }
        if (*c.notInOut) {
            EXPECT_EQ(r.out.find(c.notInOut), std::string::npos) << c.name << "\n" << r.out;
        }
        if (*c.inErr) {
            EXPECT_EQ(r.err.rfind(c.inErr, 0), 0u) << c.name << "\n" << r.err;
        } else {
            EXPECT_EQ(r.err, "") << c.name;
        }
    }
}

TEST(CiScript, PassingScriptSentItsLine) {
    TempDir home;
    PtyBoard board;
    home.Write("job.scr", "SEND -n \"reset\"\n");
    ProcResult r = RunCli({board.path, "-s", home.File("job.scr")}, {"OXEL_HOME=" + home.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(board.Expect("reset\r", 5000)) << board.got;
}

TEST(CiScript, MissingScriptEndsWithStatusOne) {
    TempDir home;
    PtyBoard board;
    ProcResult r = RunCli({board.path, "-s", home.File("nowhere.scr")}, {"OXEL_HOME=" + home.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nowhere.scr: open failed"), std::string::npos) << r.err;
}

// Standard input is a pipe here, so nobody is at the keyboard.
TEST(CiScript, FailedStartupScriptEndsAnUnattendedRun) {
    TempDir home;
    home.Write("bad.scr", "SEND \"ver\"\n");
    home.Write("good.scr", "ECHO started\n");
    home.Write("bad.ct", "########\nSTARTUP_SCRIPT \"" + home.File("bad.scr") + "\"\n");
    home.Write("good.ct", "########\nSTARTUP_SCRIPT \"" + home.File("good.scr") + "\"\n");
    ProcResult r = RunCli({home.File("bad.ct")}, {"OXEL_HOME=" + home.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("PROMPT shell variable must be set"), std::string::npos) << r.err;

    // A start-up script that passes leaves the run going.
    Proc p(CliPath(), {"-H", home.File("good.ct")}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(p.WaitOutput("started\r\n", 20000)) << p.Out() << p.Err();
    ASSERT_TRUE(p.WaitOutput("NOTE: tmp-debug-function enabled\r\n", 20000));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(15000), 0);
}

}  // namespace
