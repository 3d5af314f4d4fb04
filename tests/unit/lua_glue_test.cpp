// Lua through the runner: the LUA command line, the oxel library, console
// output, io.read through the Q&A dialog, errors, and Halt.
#include <gtest/gtest.h>
#include <lua5.2/lua.h>

#include <chrono>
#include <thread>

#include "script/lua_glue.h"
#include "script/scripting.h"
#include "config/shellvar.h"
#include "script_run.h"

namespace {

class Lua : public ::testing::Test {
protected:
    // Runs a .lua file through the runner; what the console showed.
    std::string RunLua(const std::string& text) {
        h.home.Write("scripts/t.lua", text);
        error = h.Run("RUN t.lua\n");
        return h.ui.Console();
    }
    ScriptHome h;
    std::string error;
};

TEST_F(Lua, VersionAndCommandLine) {
    EXPECT_EQ(h.Run("LUA -v\n"), "");
    EXPECT_EQ(h.ui.Console(), std::string(LUA_COPYRIGHT) + "\r\n");
    h.home.Write("args.lua", "print(#arg, arg[0], ...)\n");
    EXPECT_EQ(h.Run("LUA -e \"x=6*7\" -e \"print(x)\" -- " + h.home.File("args.lua") + " a b\n"), "");
    EXPECT_EQ(h.ui.Console(), "42\r\n2\t" + h.home.File("args.lua") + "\ta\tb\r\n");
    EXPECT_EQ(h.Run("LUA -q\n"), "Command failed\n");
    EXPECT_NE(h.ui.Console().find("usage: LUA [options] [script [args]]\r\n"), std::string::npos);
    EXPECT_EQ(h.Run("LUA -e \"error('boom')\"\n"), "Command failed\n");
    EXPECT_EQ(h.ui.Console().rfind("LUA: (command line):1: boom\r\nstack traceback:", 0), 0u);
    EXPECT_EQ(h.Run("LUA -i\n"), "Command failed\n");
}

TEST_F(Lua, InitVariableAndLibraries) {
    setenv("LUA_INIT", "x_init = 5", 1);
    EXPECT_EQ(h.Run("LUA -e \"print(x_init)\"\n"), "");
    EXPECT_EQ(h.ui.Console(), "5\r\n");
    EXPECT_EQ(h.Run("LUA -E -e \"print(x_init)\"\n"), "");
    EXPECT_EQ(h.ui.Console(), "nil\r\n");
    unsetenv("LUA_INIT");
    h.home.Write("mymod.lua", "return { v = 'from module' }\n");
    EXPECT_EQ(h.Run("LUA -e \"package.path='" + h.home.path() + "/?.lua'\" -l mymod -e \"print(mymod.v)\"\n"), "");
    EXPECT_EQ(h.ui.Console(), "from module\r\n");
    // Every library is there without a require, oxel among them.
    EXPECT_EQ(h.Run("LUA -e \"print(type(bit32.band), type(oxel.docmd), type(string.rep), type(os.time))\"\n"), "");
    EXPECT_EQ(h.ui.Console(), "function\tfunction\tfunction\tfunction\r\n");
}

TEST_F(Lua, ScriptsReachTheProgramThroughOxel) {
    shell_setenv("FROM_SCRIPT", "bench");
    std::string out = RunLua(
        "print(oxel.getenv('FROM_SCRIPT'), oxel.getenv('NO_SUCH_VAR_Q'))\n"
        "print(oxel.setenv('THISSCRIPTNAME', 'x'), oxel.setenv('LUA_SET', 'v'))\n"
        "print(oxel.docmd('NO_SUCH_COMMAND'), oxel.docmd('SET LUA_TWO 2'))\n"
        "io.write('no newline', '|')\n"
        "oxel.setenv('FROM_SCRIPT', nil)\n");
    EXPECT_EQ(error, "");
    EXPECT_EQ(out, "bench\tnil\r\n-1\t0\r\n-5\t0\r\nno newline|");
    EXPECT_EQ(h.Var("LUA_SET"), "v");
    EXPECT_EQ(h.Var("LUA_TWO"), "2");
    EXPECT_EQ(h.Var("FROM_SCRIPT"), "<unset>");
    EXPECT_TRUE(h.Boxes().empty());  // docmd's failure shows no box
}

TEST_F(Lua, IoReadAsksTheUser) {
    h.ui.AnswerText("first");
    h.ui.AnswerText("41");
    std::string out = RunLua("local a = io.read()\nlocal n = io.read('*n')\nprint(a, n + 1)\n");
    EXPECT_EQ(out, "first\t42\r\n");
    auto q = h.ui.Questions();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].prompt, "IO.READ");
    EXPECT_EQ(q[0].title, "Oxel Q & A dialog...");
    // Files are still read as files.
    h.home.Write("data.txt", "l1\nl2\n");
    out = RunLua("for l in io.lines('" + h.home.File("data.txt") + "') do io.write(l, ';') end\n");
    EXPECT_EQ(out, "l1;l2;");
}

TEST_F(Lua, SyntaxErrorIsPrintedAndTheRunnerIdles) {
    std::string out = RunLua("print('a'\n");
    EXPECT_NE(out.find("LUA: " + h.home.File("scripts/t.lua") + ":2:"), std::string::npos) << out;
    EXPECT_FALSE(ScriptRunning());
    EXPECT_EQ(error, "");  // the runner goes on: no Script Execution Error box
}

TEST_F(Lua, HaltEndsABusyLoop) {
    h.home.Write("scripts/spin.lua", "oxel.setenv('SPINNING', '1')\nwhile true do end\n");
    shell_unsetenv("SPINNING");
    h.ui.ClearRecorded();
    ASSERT_TRUE(run_script("spin.lua", nullptr));
    for (int i = 0; i < 1000 && !shell_getenv("SPINNING"); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(shell_getenv("SPINNING"));
    auto t0 = std::chrono::steady_clock::now();
    script_halt();
    EXPECT_TRUE(ScriptWaitIdle(1000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_NE(h.ui.Console().find("interrupted!"), std::string::npos);
}

TEST(LuaText, LineFeedsBecomeCrLf) { EXPECT_EQ(LuaConsoleText("a\nb\r\n", 5), "a\r\nb\r\r\n"); }

}  // namespace
