#include "config/shellvar.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "util/commands.h"
#include "platform/report.h"
#include "config/configrecord.h"
#include "platform/netinfo.h"
#include "platform/ui.h"
#include "util/cmdline.h"
#include "util/strformat.h"

namespace {

// Entries keep their place for the whole run: a removed variable leaves its
// entry free, and the next new variable takes the first free entry, so the
// listing order stays stable.
struct ShellVar {
    std::string name;   // empty: free entry
    std::string value;  // never empty while the entry is in use
    int flags = 0;
};

std::mutex g_mu;
std::vector<ShellVar> g_vars;
std::string g_scriptPath;

const char* const kReadOnly[] = {"THISSCRIPTDIR", "THISSCRIPTNAME", "OXEL_BACKEND"};

bool IsReadOnly(const char* name) {
    for (const char* r : kReadOnly)
        if (std::strcmp(name, r) == 0) return true;
    return false;
}

ShellVar* FindLocked(const char* name) {
    for (auto& v : g_vars)
        if (!v.name.empty() && v.name == name) return &v;
    return nullptr;
}

std::optional<std::string> Computed(const char* name) {
    if (std::strcmp(name, "THISSCRIPTDIR") == 0 || std::strcmp(name, "THISSCRIPTNAME") == 0) {
        std::string path;
        {
            std::lock_guard l(g_mu);
            path = g_scriptPath;
        }
        if (path.empty()) return std::nullopt;
        size_t sep = path.find_last_of("/\\");
        bool wantDir = std::strcmp(name, "THISSCRIPTDIR") == 0;
        if (sep == std::string::npos) return wantDir ? std::string(".") : path;
        return wantDir ? path.substr(0, sep) : path.substr(sep + 1);
    }
    static const char* const kinds[] = {"NONE", "COMPORT", "TELNET", "MONCMD", "PLINK"};
    int b = g_cfg.BACKEND;
    return std::string(b >= 0 && b <= 4 ? kinds[b] : "???");
}

int SetFlag(const char* name, int bit, bool on) {
    std::lock_guard l(g_mu);
    ShellVar* v = name ? FindLocked(name) : nullptr;
    if (!v) return 0;
    v->flags = on ? (v->flags | bit) : (v->flags & ~bit);
    return 1;
}

}  // namespace

// The store itself exists for the whole run, so a variable set before
// ShellVarInit (by a module's own start-up) is kept, never refused.
int ShellVarInit() {
    bool ok = true;
    {
        std::lock_guard l(g_mu);
        try {
            if (g_vars.empty()) g_vars.emplace_back();
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    if (!ok || shell_sprintf("SVNREV", "%d", kSvnRevision) < 0) {
        OxelMessageBox("ShellVarInit()", "No memory for environment initialization\n");
        return -1;
    }
    return 0;
}

void ShellVarClear() {
    std::lock_guard l(g_mu);
    g_vars.clear();
    g_scriptPath.clear();
}


std::optional<std::string> shell_getenv(const char* name) {
    if (!name) return std::nullopt;
    if (IsReadOnly(name)) return Computed(name);
    std::lock_guard l(g_mu);
    const ShellVar* v = FindLocked(name);
    if (!v) return std::nullopt;
    return v->value;
}

int shell_setenv(const char* name, const char* value) {
    if (!name) return -1;
    if (IsReadOnly(name)) {
        script_error("Can't set read-only variable '%s'", name);
        return -1;
    }
    if (!value || !*value) {
        shell_unsetenv(name);
        return 0;
    }
    std::lock_guard l(g_mu);
    if (!*name) return -1;
    try {
        if (ShellVar* v = FindLocked(name)) {
            v->value = value;   // flags stay
            return 0;
        }
        for (auto& v : g_vars)
            if (v.name.empty()) {
                v.value = value;
                v.name = name;
                v.flags = 0;
                return 0;
            }
        g_vars.push_back(ShellVar{name, value, 0});
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

int shell_unsetenv(const char* name) {
    std::lock_guard l(g_mu);
    ShellVar* v = name ? FindLocked(name) : nullptr;
    if (!v) return -1;
    v->name.clear();
    v->name.shrink_to_fit();
    v->value.clear();
    v->value.shrink_to_fit();
    v->flags = 0;
    return 0;
}

int shell_sprintf(const char* name, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string value = VStrFormat(fmt, ap);
    va_end(ap);
    return shell_setenv(name, value.c_str()) < 0 ? -1 : static_cast<int>(value.size());
}

int shell_export(const char* name, bool on) { return SetFlag(name, SHELLVAR_EXPORTED, on); }
int shell_hide(const char* name, bool on) { return SetFlag(name, SHELLVAR_HIDDEN, on); }

int shell_flags(const char* name) {
    std::lock_guard l(g_mu);
    const ShellVar* v = name ? FindLocked(name) : nullptr;
    return v ? v->flags : -1;
}


int ShellListText(std::string& text) {
    text.clear();
    std::vector<ShellVar> used;
    {
        std::lock_guard l(g_mu);
        for (const auto& v : g_vars)
            if (!v.name.empty()) used.push_back(v);
    }
    constexpr size_t kMaxWidth = 48;
    size_t nameWidth = 0, valueWidth = 0;
    bool capped = false, anyExported = false;
    for (const auto& v : used) {
        nameWidth = std::max(nameWidth, v.name.size());
        valueWidth = std::max(valueWidth, v.value.size());
        anyExported |= (v.flags & SHELLVAR_EXPORTED) != 0;
    }
    if (nameWidth > kMaxWidth) nameWidth = kMaxWidth, capped = true;
    if (valueWidth > kMaxWidth) valueWidth = kMaxWidth, capped = true;

    text += "\r\n\r\n";
    if (used.empty()) {
        text += "No variables currently set\r\n";
        return 0;
    }
    text += "************************************************\r\n";
    text += "  Oxel Shell Variables:\r\n";
    text += "************************************************\r\n\r\n";
    char fmt[64];
    std::snprintf(fmt, sizeof fmt, "  %%%ds: %%-%ds %%s\r\n", static_cast<int>(nameWidth),
                  static_cast<int>(valueWidth));
    for (const auto& v : used)
        text += StrFormat(fmt, v.name.c_str(), (v.flags & SHELLVAR_HIDDEN) ? "--HIDDEN--" : v.value.c_str(),
                          (v.flags & SHELLVAR_EXPORTED) ? "!" : "");
    if (capped) text += "\r\n*** At least one variable truncated due to size";
    if (anyExported) text += "\r\n*** ( '!' indicates shell var is exported) *****";
    text += "\r\n************************************************\r\n";
    return static_cast<int>(used.size());
}

std::vector<std::pair<std::string, std::string>> shell_exported() {
    std::vector<std::pair<std::string, std::string>> out;
    std::lock_guard l(g_mu);
    for (const auto& v : g_vars)
        if (!v.name.empty() && (v.flags & SHELLVAR_EXPORTED) && !(v.flags & SHELLVAR_HIDDEN))
            out.emplace_back(v.name, v.value);
    return out;
}

void ShellSetScriptPath(const char* path) {
    std::lock_guard l(g_mu);
    g_scriptPath = path ? path : "";
}

int ShellSetFromDialog(const std::string& name, const std::string& value, bool exported) {
    if (name.empty()) return 0;
    shell_setenv(name.c_str(), value.c_str());
    shell_export(name.c_str(), exported);
    return 1;
}

std::optional<std::string> ShellHostAddress() {
    if (auto ip = shell_getenv("MYIP")) return ip;
    auto ip = NetPrimaryAddress(NetInterfaces(), NetRoutes());
    if (ip) shell_setenv("MYIP", ip->c_str());
    return ip;
}

void ShellSetWebsocPort() { shell_sprintf("WEBSOCPORT", "%d", g_cfg.WEBSOCSRVR_PORT.get()); }

void ShellSetSystemVars() {
    shell_setenv("INSTALLDIR", InstallDir().c_str());
    auto ip = ShellHostAddress();
    if (ip) {
        if (auto mask = NetMaskOf(NetInterfaces(), *ip)) shell_setenv("MYNETMASK", mask->c_str());
    }
    if (!shell_getenv("MYGATEWAYIP")) {
        if (auto gw = NetDefaultGateway(NetRoutes(), ip.value_or("")))
            shell_setenv("MYGATEWAYIP", gw->c_str());
    }
    ShellSetWebsocPort();
}
