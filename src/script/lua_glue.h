// The hand-off from the script runner to the Lua interpreter.
#pragma once

// Runs a ".lua" script file to its end on the calling thread; 0 on success.
int LuaRunScript(const char* path);
