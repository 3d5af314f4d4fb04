#include "script/shellvar.h"

#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

// A plain map until the full store lands.
namespace {
std::mutex g_mu;
std::map<std::string, std::string> g_vars;
}

int ShellVarInit() { return 0; }
std::optional<std::string> shell_getenv(const char* name) {
    std::lock_guard l(g_mu);
    auto it = g_vars.find(name);
    if (it == g_vars.end()) return std::nullopt;
    return it->second;
}
int shell_setenv(const char* name, const char* value) {
    std::lock_guard l(g_mu);
    if (!value || !*value) g_vars.erase(name);
    else g_vars[name] = value;
    return 0;
}
int shell_unsetenv(const char* name) {
    std::lock_guard l(g_mu);
    return g_vars.erase(name) ? 0 : -1;
}
int shell_sprintf(const char* name, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char buf[4096];
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    shell_setenv(name, buf);
    return n;
}
int shell_export(const char*, bool) { return 0; }
int shell_hide(const char*, bool) { return 0; }
int shell_list() { return 0; }
std::vector<std::pair<std::string, std::string>> shell_exported() { return {}; }
