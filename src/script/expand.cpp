#include "script/expand.h"
#include "util/cmdids.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <utility>

#include "platform/report.h"
#include "log/srvrtrace.h"
#include "util/cmdline.h"
#include "script/eval.h"
#include "script/scripting.h"
#include "config/shellvar.h"
#include "console/screenbuf.h"
#include "platform/ui.h"
#include "script/inactivity.h"
#include "util/commands.h"

namespace {

// Bounds the number of substitutions in one line, so that values that refer
// to each other in a cycle end with the overflow message instead of a hang.
constexpr int kMaxSubstitutions = 4096;

bool IsSigil(char c) { return c == '$' || c == '%'; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Lookups for one expansion. Values cannot change while a line expands, so
// each name is looked up once: a missing symbol shows its box once.
struct Lookups {
    std::map<std::pair<char, std::string>, std::optional<std::string>> seen;

    std::optional<std::string> Get(char sigil, const std::string& name) {
        auto key = std::make_pair(sigil, name);
        auto it = seen.find(key);
        if (it != seen.end()) return it->second;
        std::optional<std::string> v;
        if (sigil == '%') {
            v = GetSym(name);
        } else {
            v = shell_getenv(name.c_str());
        }
        seen.emplace(key, v);
        return v;
    }
};

int Overflow(const char* text) {
    OxelMessageBox("Script Error", "%s", text);
    return -1;
}

// Plain references: each pass replaces the first known reference and starts
// over. A value that begins like its own reference ends the expansion there.
int ExpandPlain(std::string& s, size_t limit, Lookups& lk, int& budget) {
    while (true) {
        TracePrintf(TRC_SCRIPT, "EX3: <%s>", s.c_str());
        bool replaced = false;
        for (size_t i = 0; i < s.size(); i++) {
            char c = s[i];
            if (c == '\\') {
                i++;
                continue;
            }
            if (!IsSigil(c)) continue;
            size_t j = i + 1;
            while (j < s.size() && IsNameChar(s[j])) j++;
            std::string name = s.substr(i + 1, j - i - 1);
            if (name.empty()) continue;
            auto v = lk.Get(c, name);
            if (!v) {
                i = j - 1;
                continue;
            }
            std::string ref = std::string(1, c) + name;
            if (v->compare(0, name.size(), ref, 0, name.size()) == 0) return 0;
            if (--budget < 0) return Overflow("Cmd line expansion overflow\n");
            std::string next = s.substr(0, i) + *v + s.substr(j);
            if (next.size() > limit) return Overflow("Cmd line expansion overflow\n");
            s = std::move(next);
            replaced = true;
            break;
        }
        if (!replaced) return 0;
    }
}

int BraceBalance(const std::string& s) {
    int depth = 0;
    size_t i = 0;
    for (; i < s.size(); i++) {
        char c = s[i];
        if (c == '\\') {
            i++;
            continue;
        }
        if (IsSigil(c) && i + 1 < s.size() && s[i + 1] == '{') {
            depth++;
            i++;
        } else if (c == '}' && depth > 0) {
            depth--;
        }
    }
    if (depth == 0) return 0;
    OxelMessageBox("Script Error", "Brace imbalance @ char %d.\n", static_cast<int>(std::min(i, s.size())));
    return -1;
}

// Brace references, innermost first. Unknown ones stay as they are.
int ExpandBraces(std::string& s, Lookups& lk, int& budget) {
    while (true) {
        bool replaced = false;
        std::vector<size_t> opens;
        for (size_t i = 0; i < s.size() && !replaced; i++) {
            char c = s[i];
            if (c == '\\') {
                i++;
                continue;
            }
            if (IsSigil(c) && i + 1 < s.size() && s[i + 1] == '{') {
                opens.push_back(i);
                i++;
                continue;
            }
            if (c != '}' || opens.empty()) continue;
            size_t start = opens.back();
            opens.pop_back();
            std::string inner = s.substr(start + 2, i - start - 2);
            if (ExpandPlain(inner, kCmdLineSize - 2, lk, budget) < 0) return -1;
            for (size_t k = 0; k + 1 < inner.size(); k++)
                if (inner[k] == '\\' && inner[k + 1] == '\\') inner.erase(k, 1);
            auto v = lk.Get(s[start], inner);
            if (!v) continue;
            if (--budget < 0) return Overflow("Cmd line expansion overflow");
            std::string next = s.substr(0, start) + *v + s.substr(i + 1);
            if (next.size() > kCmdLineSize - 1) return Overflow("Cmd line expansion overflow");
            s = std::move(next);
            replaced = true;
        }
        if (!replaced) return 0;
    }
}

// From the second character on: \\ becomes \, and \{ \} \$ \% lose the backslash.
void Unescape(std::string& s) {
    if (s.empty()) return;
    std::string out(1, s[0]);
    for (size_t i = 1; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size() && std::strchr("\\{}$%", s[i + 1])) {
            out += s[++i];
        } else {
            out += s[i];
        }
    }
    s = std::move(out);
}

}  // namespace

int cmdline_expand(std::string& line) {
    if (line.find_first_of("$%") == std::string::npos) return 0;
    if (BraceBalance(line) < 0) return -1;
    Lookups lk;
    int budget = kMaxSubstitutions;
    if (ExpandBraces(line, lk, budget) < 0) return -1;
    if (ExpandPlain(line, kCmdLineSize - 2, lk, budget) < 0) return -1;
    Unescape(line);
    return 0;
}

std::optional<std::string> GetSym(const std::string& symbol) {
    auto path = shell_getenv("SYMFILE");
    if (!path) return std::nullopt;
    std::ifstream in(*path, std::ios::binary);
    if (!in) {
        OxelMessageBox("getsym()", "Symbol file '%s' open failed\n", path->c_str());
        return std::nullopt;
    }
    std::string text;
    while (std::getline(in, text)) {
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
        size_t blank = text.find_first_of(" \t");
        if (blank == std::string::npos) continue;
        if (text.compare(0, blank, symbol) != 0 || blank != symbol.size()) continue;
        size_t v = text.find_first_not_of(" \t", blank);
        return v == std::string::npos ? std::string() : text.substr(v);
    }
    OxelMessageBox("getsym()", "Symbol '%s' not found\n", symbol.c_str());
    return std::nullopt;
}

const char* getsym(const char* symbol, char* buffer, size_t size) {
    if (!symbol || !buffer || size == 0) return nullptr;
    auto v = GetSym(symbol);
    if (!v) return nullptr;
    std::snprintf(buffer, size, "%s", v->c_str());
    return buffer;
}

namespace {

int SetValue(const char* name, const std::string& value, bool exported, bool hidden) {
    if (shell_setenv(name, value.c_str()) < 0) return -1;
    shell_hide(name, hidden);
    shell_export(name, exported);
    return 0;
}

}  // namespace

int SetCmd(int argc, char** argv) {
    bool exported = false, hidden = false, floating = false;
    int c;
    while ((c = script_getopt(argc, argv, "efh")) != -1) {
        switch (c) {
            case 'e': exported = true; break;
            case 'h': hidden = true; break;
            case 'f': floating = true; break;
            default: return -2;
        }
    }
    if (exported && hidden) {
        script_error("Can't export a hidden variable");
        return -1;
    }
    int n = argc - script_optind;
    char** args = argv + script_optind;
    if (n == 0) {
        shell_list();
        return 0;
    }
    if (n == 1) {
        std::string arg = args[0];
        size_t eq = arg.find('=');
        if (eq == std::string::npos) return SetValue(arg.c_str(), "", false, false);
        std::string name = arg.substr(0, eq), expr = arg.substr(eq + 1);
        if (expr.empty()) return 0;
        std::string result;
        int err = floating ? EvalFloat(expr, result) : EvalInteger(expr, result);
        if (err) return -1;
        return SetValue(name.c_str(), result, exported, hidden);
    }
    std::string value = args[1];
    for (int i = 2; i < n; i++) value += std::string(" ") + args[i];
    return SetValue(args[0], value, exported, hidden);
}

int shell_list() {
    std::string text;
    const int n = ShellListText(text);
    // One write: the text may be long, and console_printf formats it whole.
    console_printf("%s", text.c_str());
    return n;
}

void ShellVarMenuInit() {
    CommandRegister({CMD_ENV_SET, "&Config/&Environment", "&Set...",
                     [] { ui().ShowDialog("Set Environment Variable..."); }});
    CommandRegister({CMD_ENV_DISPLAY, "&Config/&Environment", "&Display", [] {
                         shell_list();
                         ShowTimerConfig();
                     }});
}
