#include "script/scripting.h"

// The runner lands with the script engine; until then nothing runs.
int docmd(const char*) { return -5; }
int run_script(const char*, const char*) { return 0; }
void script_error(const char*, ...) {}
void InitScripting() {}
void script_receive(const char*, int) {}
void script_halt() {}
bool ScriptRunning() { return false; }
void ScriptSetHandler(const char*, ScriptCmdHandler) {}
std::string ScriptErrorText() { return ""; }
bool ScriptWaitIdle(int) { return true; }
int script_sleep(unsigned) { return 0; }
int script_wait_quiet(unsigned, unsigned) { return 1; }
void recvBlockInit(int, bool) {}
int recvBlockRead(std::string& dest) { dest.clear(); return 0; }
void ScriptSetRecvFlags(int) {}
void ScriptSetPattern(const char*) {}
void ScriptSetPatternCount(const std::string&, int) {}
