// Host commands in oxel-cli: a second instance ends the first one's EVENT
// WAIT, and a Lua script's io.read is answered from OXEL_ANSWERS (console text is
// checked by the unit tests: start-up scripts may print before the frame is up).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <unistd.h>

#include <chrono>
#include <thread>

#include "proc.h"

namespace {

void Home(const TempDir& home, const std::string& script) {
    mkdir((home.path() + "/scripts").c_str(), 0755);
    home.Write("scripts/start.scr", script);
    home.Write("test.ct", "########\nSTARTUP_SCRIPT \"start.scr\"\n");
}

}  // namespace

TEST(CliHostCmds, SecondInstanceEndsEventWait) {
    TempDir run, first, second;  // run: the events' directory, private to this test
    Home(first,
         "EVENT 1 RESET\nFILE append " + first.File("waiting") + " yes\nEVENT 1 WAIT 20000\n"
         "IF $SCR_TIMEOUT seq FALSE GOTO OK\nEXIT OXELREMOTE\n# OK:\nEXIT OXEL\n");
    Home(second, "EVENT 1 SET\nEXIT OXEL\n");
    std::vector<std::string> env1{"OXEL_HOME=" + first.path(), "XDG_RUNTIME_DIR=" + run.path()};
    Proc p(CliPath(), {first.File("test.ct")}, env1);
    // Console output may come before the frame is up; a file tells readiness.
    for (int i = 0; i < 2000 && access(first.File("waiting").c_str(), F_OK) != 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(access(first.File("waiting").c_str(), F_OK), 0) << p.Err();
    auto r = RunCli({second.File("test.ct")}, {"OXEL_HOME=" + second.path(), "XDG_RUNTIME_DIR=" + run.path()}, "",
                    20000);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(p.Wait(20000), 2) << p.Err();
}

TEST(CliHostCmds, EventWaitTimesOutAlone) {
    TempDir run, home;
    Home(home, "EVENT 2 WAIT 100\nIF $SCR_TIMEOUT seq TRUE GOTO OK\nEXIT OXELREMOTE\n# OK:\nEXIT OXEL\n");
    auto r = RunCli({home.File("test.ct")}, {"OXEL_HOME=" + home.path(), "XDG_RUNTIME_DIR=" + run.path()}, "", 20000);
    EXPECT_EQ(r.status, 2) << r.err;
}

TEST(CliHostCmds, LuaReadsAnswersFromTheAnswerList) {
    TempDir home;
    Home(home, "RUN t.lua\nIF $LUA_GOT seq hello GOTO OK\nEXIT OXELREMOTE\n# OK:\nEXIT OXEL\n");
    home.Write("scripts/t.lua", "local a = io.read()\noxel.setenv('LUA_GOT', a)\nprint('got ' .. a)\n");
    auto r = RunCli({home.File("test.ct")}, {"OXEL_HOME=" + home.path(), "OXEL_ANSWERS=hello"}, "", 20000);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("[Oxel Q & A dialog...] IO.READ"), std::string::npos) << r.err;
}

TEST(CliHostCmds, SystemCommandThatDoesNotExist) {
    TempDir home;
    Home(home, "SYSTEM no-such-program-oxel-e2e\nEXIT OXEL\n");
    Proc p(CliPath(), {home.File("test.ct")}, {"OXEL_HOME=" + home.path()});
    EXPECT_TRUE(p.WaitError("Error: CreateProcess: no-such-program-oxel-e2e", 20000)) << p.Err();
    // Unattended (standard input is not a terminal), a failed start-up script ends the run.
    EXPECT_EQ(p.Wait(10000), 1);
}

TEST(CliHostCmds, EventsDieWithTheirLastUser) {
    TempDir run, first, second;
    Home(first, "EVENT 3 SET\nFILE append " + first.File("set") + " yes\nEVENT 4 WAIT\n");
    Home(second, "EVENT 3 WAIT 100\nIF $SCR_TIMEOUT seq TRUE GOTO OK\nEXIT OXELREMOTE\n# OK:\nEXIT OXEL\n");
    Proc p(CliPath(), {first.File("test.ct")}, {"OXEL_HOME=" + first.path(), "XDG_RUNTIME_DIR=" + run.path()});
    for (int i = 0; i < 2000 && access(first.File("set").c_str(), F_OK) != 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(access(first.File("set").c_str(), F_OK), 0) << p.Err();
    p.Signal(SIGKILL);  // a crash: no clean-up runs
    p.Wait(10000);
    auto r = RunCli({second.File("test.ct")}, {"OXEL_HOME=" + second.path(), "XDG_RUNTIME_DIR=" + run.path()}, "",
                    20000);
    EXPECT_EQ(r.status, 2) << r.err;
}
