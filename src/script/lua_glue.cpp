#include "script/lua_glue.h"

#include "app/commands.h"
#include "app/oxel.h"

int LuaRunScript(const char* path) {
    OxelMessageBox("Script Execution Error", "%s: Lua %s", path, kNotAvailable);
    return -1;
}
