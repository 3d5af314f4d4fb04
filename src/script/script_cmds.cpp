#include "script/script_cmds.h"
void ScriptCmdsInit() {}
