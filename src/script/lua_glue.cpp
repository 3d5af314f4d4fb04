#include "script/lua_glue.h"

#include "util/commands.h"
#include "platform/report.h"

int LuaRunScript(const char* path) {
    OxelMessageBox("Script Execution Error", "%s: Lua %s", path, kNotAvailable);
    return -1;
}
