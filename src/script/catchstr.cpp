#include "script/catchstr.h"

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/report.h"
#include "util/utils.h"
#include "console/rxpath.h"
#include "log/srvrtrace.h"
#include "script/scripting.h"
#include "script/scriptthread.h"
#include "config/shellvar.h"

namespace {

struct CatchString {
    std::string text;     // as given
    std::string pattern;  // after the send-text escapes
    std::string captured;
    size_t pos = 0;
    bool restOfLine = false;
};

std::mutex g_mu;
std::vector<CatchString> g_table;
CatchConfig g_cfg;
std::atomic<bool> g_active{false};
std::atomic<bool> g_scriptPending{false};   // a catch script without -a has not ended yet

void ResetMatch(CatchString& s) {
    s.pos = 0;
    s.restOfLine = false;
    s.captured.clear();
}

void ClearLocked() {
    g_table.clear();
    g_active = false;
}

// One byte against one string; true when the string is complete (its
// captured text is then what CATCHSTRING gets).
bool MatchByte(CatchString& s, char c) {
    const std::string& p = s.pattern;
    if (p.empty()) return false;
    if (p.compare(s.pos, std::string::npos, "*\n") == 0) s.restOfLine = true;
    if (s.restOfLine) {
        if ((c == '\r' || c == '\n') && !s.captured.empty()) return true;
    } else if (s.pos < p.size() && (p[s.pos] == '.' || c == p[s.pos])) {
        s.pos++;
    } else if (c == p[0]) {
        s.captured.clear();
        s.pos = 1;
    } else {
        ResetMatch(s);
        return false;
    }
    if (s.captured.size() >= kCatchMaxCapture) {
        TracePrintf(TRC_SCRIPT, "Catch string overflow (concatenated)");
    } else {
        s.captured += c;
    }
    return !s.restOfLine && s.pos >= p.size();
}

std::string EscapeQuotes(const std::string& in) {
    std::string out;
    for (char c : in) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// What happens when a string is complete. Called from the received-data
// path, so it never waits: the catch script is handed to the script thread
// (after a halt of the running script, which ends first). Without -a, no
// further string is matched until the catch script has ended.
void Completed(const std::string& captured, const CatchConfig& cfg) {
    if (cfg.tagging) RxSetLineTagPending();
    std::string value = cfg.escapeQuotes ? EscapeQuotes(captured) : captured;
    if (cfg.script.empty()) {
        if (!cfg.tagging) {
            std::lock_guard l(g_mu);
            ClearLocked();
        }
        shell_setenv("CATCHSTRING", value.c_str());
        return;
    }
    if (cfg.stopRunning && ScriptRunning()) script_halt();
    // Matching resumes when the job is gone: run, or dropped by a Halt.
    std::shared_ptr<void> pending;
    if (cfg.async) {
        std::lock_guard l(g_mu);
        ClearLocked();
    } else {
        g_scriptPending = true;
        pending = std::shared_ptr<void>(nullptr, [](void*) { g_scriptPending = false; });
    }
    ScriptThreadPost([script = cfg.script, value, pending] {
        shell_setenv("CATCHSTRING", value.c_str());
        if (!run_script(script.c_str(), nullptr)) {
            OxelMessageBox("Catch script failed to run", "%s", script.c_str());
            std::lock_guard l(g_mu);
            ClearLocked();
        }
    });
}

}  // namespace

void CatchSet(const CatchConfig& cfg) {
    std::lock_guard l(g_mu);
    bool tagging = g_cfg.tagging;
    g_cfg = cfg;
    g_cfg.tagging = tagging;
    g_table.clear();
    for (const auto& s : cfg.strings) {
        if (static_cast<int>(g_table.size()) >= kCatchMaxStrings) break;
        CatchString cs;
        cs.text = s.substr(0, kCatchMaxText);
        char buf[kCatchMaxText];
        int n = ExpandEscapes(cs.text.data(), cs.text.size(), buf, sizeof buf);
        cs.pattern.assign(buf, n < 0 ? 0 : n);
        g_table.push_back(cs);
    }
    g_active = !g_table.empty();
}

void CatchClear() {
    {
        std::lock_guard l(g_mu);
        ClearLocked();
        g_cfg.strings.clear();
        g_cfg.script.clear();
    }
    shell_unsetenv("CATCHSTRING");
}

void CatchSetTagging(bool on) {
    std::lock_guard l(g_mu);
    g_cfg.tagging = on;
}

CatchConfig CatchGetConfig() {
    std::lock_guard l(g_mu);
    CatchConfig c = g_cfg;
    c.strings.clear();
    for (const auto& s : g_table) c.strings.push_back(s.text);
    return c;
}

std::optional<std::string> CatchResolveScript(const std::string& name) {
    if (name.empty()) return std::string();
    std::string path = (name[0] == '/' || name.find(':') != std::string::npos)
                           ? name
                           : InstallDir() + "/scripts/" + name;
    if (path.size() >= 256) return std::nullopt;
    return path;
}

int CatchDialogApply(const std::string& script, const std::string& text, bool tagging) {
    CatchConfig cfg;
    if (!text.empty()) {
        if (script.empty() && !tagging) {
            OxelMessageBox("Error", "Must specify scriptname");
            return 0;
        }
        if (!script.empty()) {
            auto path = CatchResolveScript(script);
            struct stat st{};
            if (!path || stat(path->c_str(), &st) != 0) {
                OxelMessageBox("File open error", "%s: not found", path ? path->c_str() : script.c_str());
                return 0;
            }
            cfg.script = *path;
        }
        cfg.strings.push_back(text.substr(0, kCatchMaxText));
    }
    CatchSet(cfg);
    CatchSetTagging(tagging);
    return 1;
}

std::string CatchShowText() {
    CatchConfig c = CatchGetConfig();
    if (c.strings.empty()) return "";
    const std::string stars = "  **************************************\r\n";
    std::string out = "  Oxel Catch Configuration:\r\n" + stars;
    out += "  Script: '" + c.script + "'\r\n";
    out += "  Strings (" + std::to_string(c.strings.size()) + "):\r\n";
    for (const auto& s : c.strings) out += "    '" + s + "'\r\n";
    out += std::string("  Line tagging: ") + (c.tagging ? "on" : "off") + "\r\n";
    out += stars;
    return out;
}

bool CatchActive() { return g_active; }

void CatchFeedByte(char c) {
    if (!g_active || g_scriptPending) return;
    std::vector<std::string> done;
    CatchConfig cfg;
    {
        std::lock_guard l(g_mu);
        for (auto& s : g_table) {
            if (MatchByte(s, c)) {
                done.push_back(s.captured);
                ResetMatch(s);
            }
        }
        if (!done.empty()) cfg = g_cfg;
    }
    for (const auto& captured : done) {
        Completed(captured, cfg);
        if (!g_active) break;
    }
}

void CatchFeed(const char* data, size_t len) {
    for (size_t i = 0; i < len && g_active; i++) CatchFeedByte(data[i]);
}

void CatchInstallHooks() {
    RxHooksRef().catchActive = CatchActive;
    RxHooksRef().catchByte = CatchFeedByte;
}
