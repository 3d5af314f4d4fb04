// Scripts in oxel-cli: the start-up script runs with no terminal and no
// window, and EXIT OXEL ends the program with status 2.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "proc.h"

namespace {

void Home(const TempDir& home, const std::string& script) {
    mkdir((home.path() + "/scripts").c_str(), 0755);
    home.Write("scripts/start.scr", script);
    home.Write("test.ct", "########\nSTARTUP_SCRIPT \"start.scr\"\n");
}

}  // namespace

TEST(CliScripts, ExitOxelEndsWithStatusTwo) {
    TempDir home;
    Home(home, "SET x=6*7\nIF $x ne 42 EXIT\nIF $MODE seq quit GOTO OUT\nEXIT\n# OUT:\nEXIT OXEL\n");
    auto r = RunCli({"-D", "MODE=quit", home.File("test.ct")}, {"OXEL_HOME=" + home.path()}, "", 30000);
    EXPECT_EQ(r.status, 2) << r.err;
}

TEST(CliScripts, ExitOxelRemoteEndsWith99) {
    TempDir home;
    Home(home, "EXIT OXELREMOTE\n");
    auto r = RunCli({home.File("test.ct")}, {"OXEL_HOME=" + home.path()}, "", 30000);
    EXPECT_EQ(r.status, 99) << r.err;
}

TEST(CliScripts, ScriptErrorsReachStandardError) {
    TempDir home;
    Home(home, "GOTO NOWHERE\n");
    Proc p(CliPath(), {home.File("test.ct")}, {"OXEL_HOME=" + home.path()});
    EXPECT_TRUE(p.WaitError("[Script Execution Error] Tag 'NOWHERE' not found\\n", 20000)) << p.Err();
    // Nobody is at the keyboard (standard input is a pipe): the failed
    // start-up script ends the run by itself.
    EXPECT_EQ(p.Wait(10000), 1);
}
