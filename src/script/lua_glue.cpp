#include "script/lua_glue.h"

#include <lua5.2/lauxlib.h>
#include <lua5.2/lua.h>
#include <lua5.2/lualib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/screenbuf.h"
#include "platform/report.h"
#include "log/srvrtrace.h"
#include "script/scripting.h"
#include "config/shellvar.h"

#define OXEL_MODULE "lua_glue"

namespace {

constexpr size_t kMessageMax = 1024;
constexpr int kHookCount = 1000;  // instructions between halt checks

const char kUsage[] =
    "usage: %s [options] [script [args]]\n"
    "Available options are:\n"
    "  -e stat  execute string 'stat'\n"
    "  -l name  require library 'name'\n"
    "  -v       show version information\n"
    "  -E       ignore environment variables\n"
    "  --       stop handling options\n";

// ---- output ---------------------------------------------------------------------

void Out(const char* text, size_t len) {
    for (size_t at = 0; at < len; at += kMessageMax) {
        std::string piece = LuaConsoleText(text + at, std::min(kMessageMax, len - at));
        console_printf("%.*s", static_cast<int>(piece.size()), piece.data());
    }
}

void Message(const char* prog, const char* msg) {
    char buf[kMessageMax + 1];
    int n = std::snprintf(buf, sizeof buf, "%s: %s\n", prog, msg);
    Out(buf, std::min(static_cast<size_t>(n), kMessageMax));
}

// print: its arguments through tostring, tab-separated, then a line feed.
int LuaPrint(lua_State* L) {
    int n = lua_gettop(L);
    std::string line;
    lua_getglobal(L, "tostring");
    for (int i = 1; i <= n; i++) {
        lua_pushvalue(L, -1);
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        size_t len = 0;
        const char* s = lua_tolstring(L, -1, &len);
        if (!s) return luaL_error(L, "'tostring' must return a string to 'print'");
        if (i > 1) line += '\t';
        line.append(s, len);
        lua_pop(L, 1);
    }
    line += '\n';
    Out(line.data(), line.size());
    return 0;
}

// The console writer for standard output: each argument as io.write writes it.
int LuaWriteOut(lua_State* L) {
    int n = lua_gettop(L);
    for (int i = 1; i <= n; i++) {
        size_t len = 0;
        const char* s = luaL_checklstring(L, i, &len);
        Out(s, len);
    }
    return 0;
}

// A line "read" from standard input: the answer to DIALOG Q_AND_A "IO.READ";
// nil when there is none.
int LuaAsk(lua_State* L) {
    if (docmd("DIALOG Q_AND_A \"IO.READ\"") != 0) {
        lua_pushnil(L);
        return 1;
    }
    auto answer = shell_getenv("DIALOG");
    lua_pushstring(L, answer ? answer->c_str() : "");
    return 1;
}

// Standard input and output of the io library, moved to the console and the
// question dialog; files keep the library's own functions.
const char kStdioGlue[] = R"(
local out, ask = ...
local stdin, stdout, stderr = io.stdin, io.stdout, io.stderr
local methods = getmetatable(stdout).__index
local fwrite, fread, flines = methods.write, methods.read, methods.lines
local function readstd(fmt)
  local line = ask()
  if line == nil then return nil end
  fmt = fmt or "*l"
  if type(fmt) == "number" then return line:sub(1, fmt) end
  local f = fmt:sub(1, 2)
  if f == "*n" then return tonumber(line) end
  if f == "*L" then return line .. "\n" end
  return line
end
local function reads(n, ...)
  if n == 0 then return readstd() end
  local r = {}
  for i = 1, n do r[i] = readstd((select(i, ...))) end
  return table.unpack(r, 1, n)
end
methods.write = function(f, ...)
  if f == stdout or f == stderr then out(...) return f end
  return fwrite(f, ...)
end
methods.read = function(f, ...)
  if f == stdin then return reads(select('#', ...), ...) end
  return fread(f, ...)
end
methods.lines = function(f, ...)
  if f == stdin then return function() return readstd() end end
  return flines(f, ...)
end
local iowrite, ioread, iolines = io.write, io.read, io.lines
io.write = function(...) return io.output():write(...) end
io.read = function(...) return io.input():read(...) end
io.lines = function(name, ...)
  if name == nil then return io.input():lines(...) end
  return iolines(name, ...)
end
)";

// ---- the oxel library ------------------------------------------------------------

int OxelDocmd(lua_State* L) {
    lua_pushinteger(L, docmd(luaL_checkstring(L, 1)));
    return 1;
}

int OxelGetenv(lua_State* L) {
    auto v = shell_getenv(luaL_checkstring(L, 1));
    if (v) lua_pushstring(L, v->c_str());
    else lua_pushnil(L);
    return 1;
}

int OxelSetenv(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    const char* value = lua_isnoneornil(L, 2) ? nullptr : luaL_checkstring(L, 2);
    lua_pushinteger(L, shell_setenv(name, value));
    return 1;
}

int OpenOxel(lua_State* L) {
    static const luaL_Reg fns[] = {
        {"docmd", OxelDocmd}, {"getenv", OxelGetenv}, {"setenv", OxelSetenv}, {nullptr, nullptr}};
    luaL_newlib(L, fns);
    return 1;
}

void OpenLibraries(lua_State* L) {
    static const luaL_Reg libs[] = {
        {"_G", luaopen_base},         {LUA_LOADLIBNAME, luaopen_package}, {LUA_COLIBNAME, luaopen_coroutine},
        {LUA_TABLIBNAME, luaopen_table}, {LUA_IOLIBNAME, luaopen_io},      {"oxel", OpenOxel},
        {LUA_OSLIBNAME, luaopen_os},  {LUA_STRLIBNAME, luaopen_string},   {LUA_BITLIBNAME, luaopen_bit32},
        {LUA_MATHLIBNAME, luaopen_math}, {LUA_DBLIBNAME, luaopen_debug},
    };
    for (const auto& lib : libs) {
        luaL_requiref(L, lib.name, lib.func, 1);
        lua_pop(L, 1);
    }
    lua_register(L, "print", LuaPrint);
    if (luaL_loadstring(L, kStdioGlue) == LUA_OK) {
        lua_pushcfunction(L, LuaWriteOut);
        lua_pushcfunction(L, LuaAsk);
        lua_call(L, 2, 0);
    }
}

// Halt reaches a running Lua script here: the script ends with an error.
void HaltHook(lua_State* L, lua_Debug*) {
    if (ScriptHalting()) luaL_error(L, "interrupted!");
}

// ---- the interpreter --------------------------------------------------------------

int Traceback(lua_State* L) {
    const char* msg = lua_tostring(L, 1);
    if (!msg) {
        if (luaL_callmeta(L, 1, "__tostring") && lua_type(L, -1) == LUA_TSTRING) return 1;
        msg = lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
    }
    luaL_traceback(L, L, msg, 1);
    return 1;
}

// Calls the function below nargs arguments with a traceback on error;
// prints the error. True when it ran.
bool Call(lua_State* L, const char* prog, int nargs) {
    int base = lua_gettop(L) - nargs;
    lua_pushcfunction(L, Traceback);
    lua_insert(L, base);
    int rc = lua_pcall(L, nargs, 0, base);
    lua_remove(L, base);
    if (rc == LUA_OK) return true;
    const char* msg = lua_tostring(L, -1);
    Message(prog, msg ? msg : "(error object is not a string)");
    lua_pop(L, 1);
    return false;
}

bool RunChunk(lua_State* L, const char* prog, int loadRc) {
    if (loadRc != LUA_OK) {
        Message(prog, lua_tostring(L, -1));
        lua_pop(L, 1);
        return false;
    }
    return Call(L, prog, 0);
}

bool RunInit(lua_State* L, const char* prog) {
    const char* name = "=LUA_INIT_5_2";
    const char* init = std::getenv("LUA_INIT_5_2");
    if (!init) {
        name = "=LUA_INIT";
        init = std::getenv("LUA_INIT");
    }
    if (!init) return true;
    if (init[0] == '@') return RunChunk(L, prog, luaL_loadfile(L, init + 1));
    return RunChunk(L, prog, luaL_loadbuffer(L, init, std::strlen(init), name));
}

bool Require(lua_State* L, const char* prog, const char* name) {
    lua_getglobal(L, "require");
    lua_pushstring(L, name);
    int base = lua_gettop(L) - 1;
    lua_pushcfunction(L, Traceback);
    lua_insert(L, base);
    int rc = lua_pcall(L, 1, 1, base);
    lua_remove(L, base);
    if (rc != LUA_OK) {
        Message(prog, lua_tostring(L, -1));
        lua_pop(L, 1);
        return false;
    }
    lua_setglobal(L, name);
    return true;
}

// The options before the script: their index range and the flags.
struct Options {
    bool version = false, noEnv = false, interactive = false, stdinScript = false;
    int script = 0;  // index of the script name, 0 when none
    bool bad = false;
};

Options Scan(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (a[0] != '-') {
            o.script = i;
            return o;
        }
        switch (a[1]) {
        case '-':
            if (a[2]) o.bad = true;
            else if (i + 1 < argc) o.script = i + 1;
            return o;
        case '\0':
            o.stdinScript = true;
            o.script = i;
            return o;
        case 'E': o.noEnv = true; break;
        case 'i': o.interactive = true; [[fallthrough]];
        case 'v': o.version = true; break;
        case 'e':
        case 'l':
            if (a[2] == '\0' && ++i >= argc) o.bad = true;
            break;
        default: o.bad = true;
        }
        if (o.bad) return o;
        if ((a[1] == 'E' || a[1] == 'i' || a[1] == 'v') && a[2]) {
            o.bad = true;
            return o;
        }
    }
    return o;
}

// -e and -l in their order.
bool RunOptions(lua_State* L, const char* prog, int argc, char** argv, int end) {
    for (int i = 1; i < end; i++) {
        const char* a = argv[i];
        if (a[0] != '-' || (a[1] != 'e' && a[1] != 'l')) continue;
        const char* val = a[2] ? a + 2 : argv[++i];
        bool ok = a[1] == 'e' ? RunChunk(L, prog, luaL_loadbuffer(L, val, std::strlen(val), "=(command line)"))
                              : Require(L, prog, val);
        if (!ok) return false;
    }
    return true;
}

bool RunScript(lua_State* L, const char* prog, int argc, char** argv, int script) {
    lua_createtable(L, argc - script - 1, script + 1);
    for (int i = 0; i < argc; i++) {
        lua_pushstring(L, argv[i]);
        lua_rawseti(L, -2, i - script);
    }
    lua_setglobal(L, "arg");
    if (luaL_loadfile(L, argv[script]) != LUA_OK) return RunChunk(L, prog, LUA_ERRFILE);
    luaL_checkstack(L, argc - script, "too many arguments to script");
    for (int i = script + 1; i < argc; i++) lua_pushstring(L, argv[i]);
    return Call(L, prog, argc - script - 1);
}

struct MainArgs {
    int argc;
    char** argv;
};

int ProtectedMain(lua_State* L) {
    auto* m = static_cast<MainArgs*>(lua_touserdata(L, 1));
    const char* prog = m->argv[0];
    Options o = Scan(m->argc, m->argv);
    if (o.bad) {
        char usage[sizeof kUsage + 64];
        std::snprintf(usage, sizeof usage, kUsage, prog);
        Out(usage, std::strlen(usage));
        lua_pushboolean(L, 0);
        return 1;
    }
    lua_gc(L, LUA_GCSTOP, 0);
    OpenLibraries(L);
    lua_gc(L, LUA_GCRESTART, 0);
    if (o.version) {
        std::string v = std::string(LUA_COPYRIGHT) + "\n";
        Out(v.data(), v.size());
    }
    bool ok = o.noEnv || RunInit(L, prog);
    int end = o.script ? o.script : m->argc;
    ok = ok && RunOptions(L, prog, m->argc, m->argv, end);
    if (ok && (o.interactive || o.stdinScript)) {
        // The program's standard input is the target's keyboard, not Lua's.
        Message(prog, "interactive mode and scripts from standard input are not available here");
        ok = false;
    }
    if (ok && o.script && !o.stdinScript) ok = RunScript(L, prog, m->argc, m->argv, o.script);
    lua_pushboolean(L, ok);
    return 1;
}

int cmd_lua(int argc, char** argv) { return LuaMain(argc, argv); }

}  // namespace

std::string LuaConsoleText(const char* text, size_t len) {
    std::string out;
    out.reserve(len + len / 8);
    for (size_t i = 0; i < len; i++) {
        if (text[i] == '\n') out += '\r';
        out += text[i];
    }
    return out;
}

int LuaMain(int argc, char** argv) {
    lua_State* L = luaL_newstate();
    if (!L) {
        Message(argv[0], "cannot create state: not enough memory");
        return 1;
    }
    lua_sethook(L, HaltHook, LUA_MASKCOUNT, kHookCount);
    MainArgs m{argc, argv};
    lua_pushcfunction(L, ProtectedMain);
    lua_pushlightuserdata(L, &m);
    int rc = lua_pcall(L, 1, 1, 0);
    bool ok = rc == LUA_OK && lua_toboolean(L, -1);
    if (rc != LUA_OK) Message(argv[0], lua_tostring(L, -1) ? lua_tostring(L, -1) : "(error object is not a string)");
    lua_close(L);
    return ok ? 0 : 1;
}

int LuaRunScript(const char* path) {
    // Quotes and comment marks in the path stay part of the name.
    std::string line = "LUA \"";
    for (const char* p = path; *p; p++) {
        if (*p == '"' || *p == '#') line += '\\';
        line += *p;
    }
    line += '"';
    int rc = docmd(line.c_str());
    TracePrintf(TRC_SCRIPT, "END %s", path);
    return rc;
}

void LuaInit() { ScriptSetHandler("LUA", cmd_lua); }
