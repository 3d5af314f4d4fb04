#include "script/scripting.h"

// The runner lands with the script engine; until then nothing runs.
int docmd(const char*) { return -5; }
int run_script(const char*, const char*) { return 0; }
void script_error(const char*, ...) {}
void InitScripting() {}
void script_receive(const char*, int) {}
void script_wake() {}
void script_halt() {}
bool ScriptRunning() { return false; }
void ScriptSetHandler(const char*, ScriptCmdHandler) {}
