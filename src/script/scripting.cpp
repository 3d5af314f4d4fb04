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
int script_sleep(int) { return 0; }
int script_wait_quiet(int, int) { return 1; }
void recvBlockInit(int, bool) {}
int recvBlockRead(std::string& out) { out.clear(); return 0; }
void script_set_prompt(const char*, size_t) {}
void script_recv_mode(int, int) {}
