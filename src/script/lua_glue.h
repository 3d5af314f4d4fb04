// Lua 5.2 scripting: the LUA command (the stand-alone interpreter's command
// line, written for this program), the `oxel` library and the hand-off of
// ".lua" scripts from the runner.
#pragma once

#include <string>

// Installs LUA in the runner's command table.
void LuaInit();
// Runs a ".lua" script file to its end on the calling thread, as the runner
// does: LUA "path" through docmd, then "END path" in the trace. The LUA
// command's result.
int LuaRunScript(const char* path);
// The LUA command itself: 0 when the interpreter ran without error, else 1.
int LuaMain(int argc, char** argv);
// Text for the console: every LF as CR LF.
std::string LuaConsoleText(const char* text, size_t len);
