#include "script/scripting.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "util/cmdids.h"
#include "util/commands.h"
#include "console/editor.h"
#include "platform/report.h"
#include "console/screenbuf.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "util/cmdline.h"
#include "script/eval.h"
#include "script/expand.h"
#include "script/bmpview_cmd.h"
#include "script/dialog_cmd.h"
#include "script/file_cmd.h"
#include "script/host_cmds.h"
#include "script/lua_glue.h"
#include "script/script_cmds.h"
#include "script/scriptthread.h"
#include "config/shellvar.h"
#include "script/socket_cmd.h"
#include "script/window_cmds.h"

#define OXEL_MODULE "scripting"

constexpr int kMaxRunDepth = 15;
constexpr int kMaxGosub = 15;
constexpr size_t kMaxScriptLine = 2045;
constexpr off_t kMaxScriptBytes = 16 << 20;   // far beyond any hand-written script
constexpr size_t kLastLineMax = 510;
constexpr int kForcedHaltMs = 4000;

// Menu command ids.

// One run level. The file is read whole when the level starts: the loop's
// re-reads from the top and seeks then cost nothing, and the level never
// holds a descriptor.
struct RunContext {
    std::string name;       // as given, with "@tag"
    std::string path;
    std::string text;
    std::vector<size_t> lineStart;  // offset of each line
    size_t pos = 0;                 // offset of the next line to read
    int line = 0;                   // number of the line read last
    std::array<size_t, kMaxGosub> returnPos{};
    std::array<int, kMaxGosub> returnLine{};
    int gosubDepth = 0;
    std::atomic<bool> stop{false}, paused{false}, step{false};
    bool returned = false;
    int returnTo = 0;
    std::optional<std::string> jump;
    std::string startTag;
    uint64_t generation = 0;
    bool lua = false;
    std::unordered_map<std::string, int> tagLines;  // jump text -> index of its tag line
};

namespace {

struct Cmd {
    std::string name;
    ScriptCmdHandler handler;
};

// Process-wide state, never destroyed: a stuck script thread may still be
// running when the program exits.
struct Runner {
    std::mutex mu;  // levels, generation, halting
    std::vector<std::shared_ptr<RunContext>> levels;
    uint64_t generation = 0;
    std::condition_variable idle;
    std::atomic<bool> halting{false};  // set by Halt until the runner is idle again
    std::atomic<bool> debug{false};
    std::atomic<unsigned> failures{0};  // scripts stopped by an error, ever

    // The wake and data events, and the stop signals every wait honours.
    std::mutex evMu;
    std::condition_variable ev;
    bool wake = false, data = false, quietWaiting = false, shutdown = false;

    std::mutex blockMu;
    std::vector<char> block;
    size_t widx = 0;
    uint64_t total = 0;
    bool noWrap = false, full = false;

    std::mutex patMu;  // the scripting lock: prompt pattern and LASTLINE
    std::optional<std::string> pattern;
    size_t matchIdx = 0;
    bool countMode = false;
    int countLeft = 0;
    std::string lastLine;
    std::atomic<int> recvFlags{0};

    std::mutex cmdMu;
    std::vector<Cmd> table;
};

Runner& R() {
    static Runner* r = new Runner;
    return *r;
}

thread_local RunContext* t_ctx = nullptr;

int NotAvailable(int, char**) {
    script_error("%s", kNotAvailable);
    return -1;
}

int ExitCmd(int argc, char** argv);
int GosubCmd(int argc, char** argv);
int GotoCmd(int argc, char** argv);
int IfCmd(int argc, char** argv);
int ReturnCmd(int argc, char** argv);
int RunCmd(int argc, char** argv);

// The names in their documented order; handlers arrive by name.
void BuildNames() {
    static std::once_flag once;
    std::call_once(once, [] {
        static const char* const names[] = {
            "AUXCOM", "BEEP", "BACKUP", "BMPVIEW", "CATCH", "CD", "CLS", "COMPORT", "CONFIG",
            "CONNECT", "DIALOG", "ECHO", "EVENT", "EXIT", "FILE", "FKEY", "FSEND", "GOSUB", "GOTO",
            "IF", "LOG", "LUA", "MONCMD", "NEWMON", "AVRLOADER", "RECV", "REGEX", "RETURN", "RUN",
            "SEND", "SENDINPUT", "SET", "SHELLEXEC", "SLEEP", "SOCKET", "SRVRSETUP", "STRING",
            "SYSTEM", "TCP", "TIME", "TITLE", "TFTP", "WOL", "XMODEM",
        };
        std::lock_guard l(R().cmdMu);
        for (const char* n : names) R().table.push_back({n, nullptr});
    });
}

void BuildTable() {
    static std::once_flag once;
    std::call_once(once, [] {
        ScriptSetHandler("EXIT", ExitCmd);
        ScriptSetHandler("GOSUB", GosubCmd);
        ScriptSetHandler("GOTO", GotoCmd);
        ScriptSetHandler("IF", IfCmd);
        ScriptSetHandler("RETURN", ReturnCmd);
        ScriptSetHandler("RUN", RunCmd);
        ScriptSetHandler("SET", SetCmd);
    });
}

ScriptCmdHandler FindHandler(const std::string& name, bool* found) {
    std::lock_guard l(R().cmdMu);
    for (const auto& c : R().table)
        if (strcasecmp(c.name.c_str(), name.c_str()) == 0) {
            *found = true;
            return c.handler ? c.handler : NotAvailable;
        }
    *found = false;
    return nullptr;
}

// ---- Levels ---------------------------------------------------------------

std::shared_ptr<RunContext> Deepest() {
    std::lock_guard l(R().mu);
    return R().levels.empty() ? nullptr : R().levels.back();
}

// The level a flow-control command acts on: this thread's own, else the
// deepest running one (a remote EXIT stops the running script).
RunContext* CurrentLevel(std::shared_ptr<RunContext>& hold) {
    if (t_ctx) return t_ctx;
    hold = Deepest();
    return hold.get();
}

void StopAll() {
    std::lock_guard l(R().mu);
    for (auto& c : R().levels) c->stop = true;
}

void WakeWaits() {
    std::lock_guard l(R().evMu);
    R().ev.notify_all();
}

void MenusRunning() {
    ui().MenuEnable(CMD_SCRIPT_RUN, false);
    ui().MenuEnable(CMD_SCRIPT_HALT, true);
    ui().MenuEnable(CMD_SCRIPT_PAUSE, true);
    ui().StatusRefresh();
}

// Back to idle: called with R().mu held, after the last level went.
void GoIdleLocked() {
    LocalTime now = ClockNow();
    struct tm tm {};
    LocalTimeToTm(now, &tm);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%b_%d,%Y@%H:%M:%S", &tm);
    shell_setenv("SCRIPTSTART", stamp);
    ScriptSetPattern(nullptr);
    R().halting = false;
    ui().MenuEnable(CMD_SCRIPT_RUN, true);
    ui().MenuEnable(CMD_SCRIPT_HALT, false);
    ui().MenuEnable(CMD_SCRIPT_PAUSE, false);
    ui().MenuEnable(CMD_SCRIPT_RESUME, false);
    ui().MenuEnable(CMD_SCRIPT_STEP, false);
    ui().StatusRefresh();
    R().idle.notify_all();
}

// THISSCRIPTDIR and THISSCRIPTNAME follow the deepest level. R().mu held.
void PublishPathLocked() {
    ShellSetScriptPath(R().levels.empty() ? nullptr : R().levels.back()->path.c_str());
}

// Removes a finished level; a level that forced termination already
// released is left alone.
void EndLevel(const std::shared_ptr<RunContext>& ctx) {
    std::lock_guard l(R().mu);
    if (ctx->generation != R().generation) return;
    auto& lv = R().levels;
    for (auto it = lv.begin(); it != lv.end(); ++it)
        if (it->get() == ctx.get()) {
            lv.erase(it);
            break;
        }
    PublishPathLocked();
    if (lv.empty()) GoIdleLocked();
}

// ---- Reading the script ----------------------------------------------------

void IndexLines(RunContext& c) {
    c.lineStart.clear();
    for (size_t p = 0; p < c.text.size();) {
        c.lineStart.push_back(p);
        size_t nl = c.text.find('\n', p);
        p = nl == std::string::npos ? c.text.size() : nl + 1;
    }
}

// The line at an index, without CR and LF.
std::string LineAt(const RunContext& c, size_t index) {
    size_t b = c.lineStart[index];
    size_t e = index + 1 < c.lineStart.size() ? c.lineStart[index + 1] : c.text.size();
    std::string s;
    s.reserve(e - b);
    for (size_t i = b; i < e; i++)
        if (c.text[i] != '\r' && c.text[i] != '\n') s += c.text[i];
    return s;
}

size_t IndexOfOffset(const RunContext& c, size_t pos) {
    auto it = std::lower_bound(c.lineStart.begin(), c.lineStart.end(), pos);
    return static_cast<size_t>(it - c.lineStart.begin());
}

// Continues after line index (0-based): the next line read is index + 1.
void SeekAfter(RunContext& c, int index) {
    c.line = index + 1;
    size_t next = static_cast<size_t>(index) + 1;
    c.pos = next < c.lineStart.size() ? c.lineStart[next] : c.text.size();
}

// First line that begins with the jump text (so LOOP also finds LOOP2).
int FindJump(RunContext& c, const std::string& target) {
    auto it = c.tagLines.find(target);
    if (it != c.tagLines.end()) return it->second;
    int found = -1;
    for (size_t i = 0; i < c.lineStart.size() && found < 0; i++) {
        size_t b = c.lineStart[i];
        if (c.text.compare(b, target.size(), target) == 0) found = static_cast<int>(i);
    }
    c.tagLines.emplace(target, found);
    return found;
}

// Start tags: the text from the third character up to the first ":".
int FindStartTag(const RunContext& c, const std::string& tag) {
    for (size_t i = 0; i < c.lineStart.size(); i++) {
        std::string s = LineAt(c, i);
        size_t colon = s.find(':');
        if (colon == std::string::npos || colon < 2) continue;
        if (s.compare(2, colon - 2, tag) == 0) return static_cast<int>(i);
    }
    return -1;
}

// Waits while paused; true when a line may run.
bool WaitWhilePaused(RunContext& c) {
    if (!c.paused) return true;
    ui().MenuEnable(CMD_SCRIPT_STEP, true);
    std::unique_lock l(R().evMu);
    while (c.paused && !c.step && !c.stop && !R().shutdown)
        R().ev.wait_for(l, std::chrono::milliseconds(300));
    if (c.step) c.step = false;
    return !c.stop;
}

void RunLoop(const std::shared_ptr<RunContext>& ctxp) {
    RunContext& c = *ctxp;
    RunContext* prev = t_ctx;
    t_ctx = &c;
    TracePrintf(TRC_SCRIPT, "BEGIN %s", c.path.c_str());
    c.paused = false;
    c.step = false;
    bool go = true;
    if (c.lua) {
        LuaRunScript(c.path.c_str());
        go = false;
    } else if (!c.startTag.empty()) {
        int at = FindStartTag(c, c.startTag);
        if (at < 0) {
            OxelMessageBox("Script Execution Error", "Start-tag '%s' not found\n", c.startTag.c_str());
            R().failures++;
            go = false;
        } else {
            SeekAfter(c, at);
        }
    }
    if (go) c.stop = R().halting.load();
    while (go && !c.stop) {
        bool stepping = c.paused;
        if (!WaitWhilePaused(c)) break;
        if (c.pos >= c.text.size()) break;
        size_t index = IndexOfOffset(c, c.pos);
        std::string raw = LineAt(c, index);
        SeekAfter(c, static_cast<int>(index));
        if (raw.size() > kMaxScriptLine) {
            OxelMessageBox("Script Execution Error", "Script: %s\n\nLine %d\n\nError: line too long\n",
                           c.name.c_str(), c.line);
            R().failures++;
            c.gosubDepth = 0;
            break;
        }
        size_t first = raw.find_first_not_of(" \t");
        if (first == std::string::npos || raw[first] == '#') continue;
        c.jump.reset();
        if (R().debug) {
            int a = OxelMessageBoxStyle(MB_YESNOCANCEL, ("SCRIPT_DEBUG: " + c.name).c_str(), "Line %d: %s",
                                        c.line, raw.c_str());
            if (a == IDCANCEL) break;
            if (a == IDNO) continue;
        }
        int rc = script_exec_line(raw.c_str() + first, c.line, &c);
        if (stepping && c.paused) ui().MenuEnable(CMD_SCRIPT_STEP, true);
        if (rc != 0) break;
        if (c.returned) {
            c.line = c.returnTo;
            c.returned = false;
        }
        if (c.stop) {
            c.gosubDepth = 0;
            break;
        }
        if (c.jump) {
            int at = FindJump(c, *c.jump);
            if (at < 0) {
                OxelMessageBox("Script Execution Error", "Tag '%s' not found\n", c.jump->c_str() + 2);
                R().failures++;
                c.jump.reset();
                break;
            }
            SeekAfter(c, at);
            c.jump.reset();
        }
    }
    if (c.gosubDepth != 0) OxelMessageBox("Script Error", "Warning: missing return.\n");
    TracePrintf(TRC_SCRIPT, "END %s", c.path.c_str());
    t_ctx = prev;
    EndLevel(ctxp);
}

// Reads a script file whole; empty on success, else why not. Only regular
// files of bounded size: a device or pipe may never end (and a read of it
// could not be stopped), a huge file would fill memory. The descriptor is
// opened without waiting, so a pipe with no writer is refused, not waited on.
std::string ReadScriptFile(const std::string& path, std::string& out) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "open failed";
    struct stat st {};
    std::string why;
    if (fstat(fd, &st) != 0) why = "open failed";
    else if (!S_ISREG(st.st_mode)) why = "not a regular file";
    else if (st.st_size > kMaxScriptBytes) why = "file too big";
    char buf[65536];
    while (why.empty()) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) why = "read failed";
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > static_cast<size_t>(kMaxScriptBytes)) why = "file too big";   // it grew meanwhile
    }
    close(fd);
    if (!why.empty()) out.clear();
    return why;
}

// After Halt, a level that is still running after 4000 ms is released:
// its waits have ended, but a handler may be stuck outside them.
void ForceWatch(uint64_t generation) {
    std::thread([generation] {
        std::unique_lock l(R().mu);
        bool idle = R().idle.wait_for(l, std::chrono::milliseconds(kForcedHaltMs), [&] {
            return R().levels.empty() || R().generation != generation;
        });
        if (idle) return;
        TracePrintf(TRC_ALWAYS, "Forced script termination");
        ScriptThreadAbandon();
        for (auto& c : R().levels) c->stop = true;
        R().levels.clear();
        R().generation++;
        PublishPathLocked();
        GoIdleLocked();
    }).detach();
}

// ---- Flow-control commands ---------------------------------------------------

int ExitCmd(int argc, char** argv) {
    if (argc > 2) return -3;
    std::shared_ptr<RunContext> hold;
    if (argc == 1) {
        if (RunContext* c = CurrentLevel(hold)) c->stop = true;
        return 0;
    }
    const char* a = argv[1];
    if (strcasecmp(a, "ALLSCRIPTS") == 0) {
        StopAll();
    } else if (strcasecmp(a, "OXEL") == 0 || strcasecmp(a, "OXELREMOTE") == 0) {
        StopAll();
        RequestShutdown(strcasecmp(a, "OXEL") == 0 ? 2 : 99);
    } else {
        return -2;
    }
    return 0;
}

int GotoCmd(int argc, char** argv) {
    if (argc != 2) return -3;
    if (t_ctx) t_ctx->jump = std::string("# ") + argv[1];
    return 0;
}

int GosubCmd(int argc, char** argv) {
    if (argc != 2) return -3;
    RunContext* c = t_ctx;
    if (!c) return 0;
    if (c->gosubDepth >= kMaxGosub) {
        script_error("GOSUB: Max return-to depth reached");
        return -1;
    }
    c->returnPos[c->gosubDepth] = c->pos;
    c->returnLine[c->gosubDepth] = c->line;
    c->gosubDepth++;
    c->jump = std::string("# ") + argv[1];
    return 0;
}

int ReturnCmd(int argc, char** argv) {
    if (argc != 1) return -3;
    RunContext* c = t_ctx;
    if (!c || c->gosubDepth == 0) {
        script_error("RETURN with no GOSUB");
        return -1;
    }
    c->gosubDepth--;
    c->pos = c->returnPos[c->gosubDepth];
    c->returnTo = c->returnLine[c->gosubDepth];
    c->returned = true;
    return 0;
}

int RunCmd(int argc, char** argv) {
    if (argc < 2 || argc > 3) return -3;
    run_script(argv[1], argc == 3 ? argv[2] : nullptr);
    return 0;
}

bool AllOf(const char* s, const char* extra, bool hex) {
    if (!*s) return false;
    for (; *s; s++) {
        unsigned char ch = static_cast<unsigned char>(*s);
        bool ok = std::isdigit(ch) || (hex && std::isxdigit(ch)) || std::strchr(extra, ch);
        if (!ok || !ch) return false;
    }
    return true;
}

bool IsIp(const char* s) {
    size_t n = std::strlen(s);
    if (n < 7 || n > 15) return false;
    int parts = 0;
    const char* p = s;
    while (true) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        int v = 0, digits = 0;
        while (std::isdigit(static_cast<unsigned char>(*p))) {
            v = v * 10 + (*p++ - '0');
            if (++digits > 3) return false;
        }
        if (v > 255) return false;
        parts++;
        if (*p == 0) break;
        if (*p++ != '.') return false;
    }
    return parts == 4;
}

bool IsMac(const char* s) {
    if (std::strlen(s) != 17) return false;
    for (int i = 0; i < 17; i++) {
        unsigned char ch = static_cast<unsigned char>(s[i]);
        if (i % 3 == 2 ? ch != ':' : !std::isxdigit(ch)) return false;
    }
    return true;
}

// An IF action, parsed from the end of the words: its length, or 0.
int ActionLength(const std::vector<std::string>& w, size_t end) {
    if (end >= 1) {
        const char* last = w[end - 1].c_str();
        if (!strcasecmp(last, "EXIT") || !strcasecmp(last, "RETURN") || !strcasecmp(last, "CONTINUE")) return 1;
    }
    if (end >= 2) {
        const char* verb = w[end - 2].c_str();
        if (!strcasecmp(verb, "GOTO") || !strcasecmp(verb, "GOSUB") || !strcasecmp(verb, "RUN")) return 2;
    }
    return 0;
}

int RunAction(const std::vector<std::string>& w, size_t at, int len) {
    std::string verb = w[at];
    for (char& ch : verb) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (verb == "CONTINUE") return 0;
    if (verb == "RUN") return run_script(w[at + 1].c_str(), nullptr) ? 0 : -1;
    std::vector<std::string> args(w.begin() + static_cast<long>(at), w.begin() + static_cast<long>(at + len));
    auto argv = ArgvOf(args);
    int argc = static_cast<int>(args.size());
    int rc = verb == "EXIT" ? ExitCmd(argc, argv.data())
             : verb == "RETURN" ? ReturnCmd(argc, argv.data())
             : verb == "GOTO" ? GotoCmd(argc, argv.data())
                              : GosubCmd(argc, argv.data());
    return rc == 0 ? 0 : -1;
}

// The test itself: 1 true, 0 false, negative for a failure code.
int IfTest(const std::vector<std::string>& cond, int base, bool floating) {
    const char* a = cond[0].c_str();
    const char* op = cond[1].c_str();
    if (cond.size() == 2) {
        if (!strcasecmp(op, "isdec")) return AllOf(a, "", false);
        if (!strcasecmp(op, "ishex")) return AllOf(a, "xX", true);
        if (!strcasecmp(op, "isfloat")) return AllOf(a, ".", false);
        if (!strcasecmp(op, "isip")) return IsIp(a);
        if (!strcasecmp(op, "ismac")) return IsMac(a);
        return -2;
    }
    const char* b = cond[2].c_str();
    if (!strcasecmp(op, "contains")) return std::strstr(a, b) != nullptr;
    if (!strcasecmp(op, "sec")) return strcasecmp(a, b) == 0;
    if (!strcasecmp(op, "seq")) return std::strcmp(a, b) == 0;
    if (!strcasecmp(op, "sne")) return std::strcmp(a, b) != 0;
    static const char* const cmp[] = {"gt", "lt", "le", "ge", "eq", "ne"};
    static const char* const bits[] = {"and", "or", "xor"};
    for (int i = 0; i < 3; i++)
        if (!strcasecmp(op, bits[i])) {
            if (floating) {
                script_error("Bit-wise operation on float is illegal.");
                return -1;
            }
            uint32_t x = static_cast<uint32_t>(EvalToInt32(a, base));
            uint32_t y = static_cast<uint32_t>(EvalToInt32(b, base));
            return (i == 0 ? x & y : i == 1 ? x | y : x ^ y) != 0;
        }
    for (int i = 0; i < 6; i++)
        if (!strcasecmp(op, cmp[i])) {
            double x, y;
            if (floating) {
                x = std::strtod(a, nullptr);
                y = std::strtod(b, nullptr);
            } else {
                x = EvalToInt32(a, base);
                y = EvalToInt32(b, base);
            }
            switch (i) {
                case 0: return x > y;
                case 1: return x < y;
                case 2: return x <= y;
                case 3: return x >= y;
                case 4: return x == y;
                default: return x != y;
            }
        }
    return -2;
}

int IfCmd(int argc, char** argv) {
    int base = 0;
    bool floating = false, verbose = false;
    int opt;
    while ((opt = script_getopt(argc, argv, "b:fv")) != -1) {
        switch (opt) {
            case 'b': {
                auto b = ParseSigned(script_optarg);
                if (!b || *b == 1 || *b < 0 || *b > 36) return -2;
                base = *b;
                break;
            }
            case 'f': floating = true; break;
            case 'v': verbose = true; break;
            default: return -2;
        }
    }
    std::vector<std::string> w(argv + script_optind, argv + argc);
    size_t end = w.size();
    int len = ActionLength(w, end);
    if (!len) return -2;
    size_t elseAt = end - static_cast<size_t>(len), thenAt = elseAt;
    int elseLen = 0;
    if (elseAt >= 1 && !strcasecmp(w[elseAt - 1].c_str(), "else")) {
        elseLen = len;
        len = ActionLength(w, elseAt - 1);
        if (!len) return -2;
        thenAt = elseAt - 1 - static_cast<size_t>(len);
    }
    if (thenAt != 2 && thenAt != 3) return -2;
    std::vector<std::string> cond(w.begin(), w.begin() + static_cast<long>(thenAt));
    int t = IfTest(cond, base, floating);
    if (t < 0) return t;
    if (verbose) console_printf("Test evaluates to: %s", t ? "true" : "false");
    if (t) return RunAction(w, thenAt, len);
    if (elseLen) return RunAction(w, elseAt, elseLen);
    return 0;
}

// ---- Menu commands ------------------------------------------------------------

void OpenInEditor(const std::string& path) { StartEditor(path); }

void RunMenu() {
    if (ScriptRunning()) return;
    if (ui().ShowDialog("Run Oxel Script...")) return;
    auto name = ui().AskText("Run Oxel Script...", "Script:", g_cfg.LAST_SCRIPTNAME);
    if (name && !name->empty()) run_script(name->c_str(), nullptr);
}

void EditMenu() {
    UiFileRequest req;
    req.title = "Edit Script:";
    req.startDir = InstallDir() + "/scripts";
    auto path = ui().ChooseFile(req);
    if (!path) return;
    OpenInEditor(*path);
    CFG_SET_STRING(g_cfg.LAST_SCRIPTNAME, path->c_str());
}

void NewMonMenu() {
    if (ScriptRunning()) {
        OxelMessageBox("Error", "Script currently running");
        return;
    }
    run_script("newmon.scr", nullptr);
}

void RegisterMenus() {
    CommandRegister({CMD_SCRIPT_RUN, "&Scripts", "&Run...", RunMenu});
    CommandRegister({CMD_SCRIPT_HALT, "&Scripts", "&Halt", script_halt});
    CommandRegister({CMD_SCRIPT_RESUME, "&Scripts", "Res&ume", script_resume});
    CommandRegister({CMD_SCRIPT_PAUSE, "&Scripts", "&Pause", script_pause});
    CommandRegister({CMD_SCRIPT_STEP, "&Scripts", "&Step", script_step});
    CommandRegister({CMD_SCRIPT_EDIT, "&Scripts", "&Edit...", EditMenu});
    CommandRegister({CMD_SCRIPT_NEW, "&Scripts", "&New...", OpenNewScript});
    CommandRegister({CMD_NEWMON, "", "", NewMonMenu});
}

void PatternReset() {
    R().matchIdx = 0;
    R().countMode = false;
    R().countLeft = 0;
}

// Runs a script as a new level on the script thread: nested when another
// level runs, else the first one. 1 ran, 0 refused (too deep).
int RunLevel(const std::shared_ptr<RunContext>& ctx) {
    bool first = false, tooDeep = false;
    {
        std::lock_guard l(R().mu);
        tooDeep = static_cast<int>(R().levels.size()) >= kMaxRunDepth;
        if (!tooDeep) {
            first = R().levels.empty();
            if (first) R().halting = false;
            ctx->generation = R().generation;
            R().levels.push_back(ctx);
            PublishPathLocked();
        }
    }
    if (tooDeep) {
        OxelMessageBox("Script Error", "Maximum Run Depth Exceeded");
        return 0;
    }
    if (first) MenusRunning();
    RunLoop(ctx);
    return 1;
}

}  // namespace

std::string ScriptPath(const std::string& name) {
    if (!name.empty() && name[0] == '/') return name;
    return InstallDir() + "/scripts/" + name;
}

// ---- Public entry points ----------------------------------------------------------

void InitScripting() {
    BuildTable();
    EvalReset();
    recvBlockInit(256, false);
    RegisterMenus();
    ScriptCmdsInit();
    HostCmdsInit();
    WindowCmdsInit();
    FileCmdInit();
    SocketCmdInit();
    DialogCmdInit();
    LuaInit();
    BmpviewCmdInit();
}

void ScriptSetHandler(const char* name, ScriptCmdHandler handler) {
    BuildNames();
    std::lock_guard l(R().cmdMu);
    for (auto& c : R().table)
        if (strcasecmp(c.name.c_str(), name) == 0) {
            c.handler = handler;
            return;
        }
    R().table.push_back({name, handler});
}

int docmd(const char* text) {
    BuildTable();
    if (std::strlen(text) >= kCmdLineSize) {
        OxelMessageBox("Script Execution Error", "command line too long");
        return -4;
    }
    TracePrintf(TRC_SCRIPT, "DOCMD: <%s>", text);
    std::string line = text;
    for (size_t i = 0; (i = line.find('#', i)) != std::string::npos;) {
        if (i > 0 && line[i - 1] == '\\') {
            line.erase(i - 1, 1);
            continue;
        }
        line.resize(i);
        break;
    }
    if (line.find_first_of("$%") != std::string::npos && cmdline_expand(line) < 0) return -4;
    std::vector<std::string> words;
    if (!SplitArgs(line, words)) return -4;
    if (words.empty()) return 0;
    {
        std::lock_guard l(R().evMu);
        R().wake = false;
        R().data = false;
    }
    {
        std::lock_guard l(R().blockMu);
        R().full = false;
    }
    R().recvFlags = 0;
    script_getopt_reset();
    auto prompt = shell_getenv("PROMPT");
    ScriptSetPattern(prompt ? prompt->c_str() : nullptr);
    bool found = false;
    ScriptCmdHandler h = FindHandler(words[0], &found);
    if (!found) return -5;
    auto argv = ArgvOf(words);
    return h(static_cast<int>(words.size()), argv.data());
}

int script_exec_line(const char* line, int lineNumber, RunContext* ctx) {
    ScriptErrorClear();
    if (lineNumber != 0) TracePrintf(TRC_SCRIPT, "%d %s", lineNumber, line);
    int rc = docmd(line);
    if (rc == 0) return 0;
    static const char* const texts[] = {"Command failed", "Parameter error", "Incorrect number of arguments",
                                        "Command line did not parse properly", "Command not found"};
    std::string err = ScriptErrorText();
    if (err.empty()) err = rc <= -1 && rc >= -5 ? texts[-rc - 1] : texts[0];
    std::string name = ctx ? ctx->name : std::string(g_cfg.LAST_SCRIPTNAME);
    OxelMessageBox("Script Execution Error", "Script: %s\n\nLine %d\n\nError: %s\n", name.c_str(), lineNumber,
                   err.c_str());
    R().failures++;
    if (ctx) {
        ctx->stop = true;
        ctx->gosubDepth = 0;
    }
    return rc;
}

int run_script(const char* nameIn, const char* tagIn) {
    if (!nameIn) return 0;
    if (ScriptDepth() >= kMaxRunDepth) {
        OxelMessageBox("Script Error", "Maximum Run Depth Exceeded");
        return 0;
    }
    auto ctx = std::make_shared<RunContext>();
    std::string full = nameIn, name = nameIn;
    size_t at = name.find('@');
    if (tagIn && *tagIn) {
        ctx->startTag = tagIn;
    } else if (at != std::string::npos) {
        ctx->startTag = name.substr(at + 1);
    }
    if (at != std::string::npos) name.resize(at);
    ctx->lua = name.size() >= 5 && strcasecmp(name.c_str() + name.size() - 4, ".lua") == 0;
    ctx->path = ScriptPath(name);
    ctx->name = full;
    // Lua reads the file itself; it is looked at the same way first.
    if (std::string why = ReadScriptFile(ctx->path, ctx->text); !why.empty()) {
        OxelMessageBox("Script Execution Error", "%s: %s", ctx->path.c_str(), why.c_str());
        R().failures++;
        return 0;
    }
    if (!ctx->lua) IndexLines(*ctx);
    CFG_SET_STRING(g_cfg.LAST_SCRIPTNAME, full.c_str());
    // A script started from the script thread nests in the caller's level;
    // from anywhere else it is handed to the script thread.
    if (OnScriptThread()) return RunLevel(ctx);
    ScriptThreadPost([ctx] { RunLevel(ctx); });
    return 1;
}

void RunScriptThen(const std::string& name, std::function<void(bool passed)> done) {
    ScriptThreadPost([name, done = std::move(done)] {
        unsigned before = R().failures.load();
        // On the script thread the script runs to its end before this returns.
        int started = run_script(name.c_str(), nullptr);
        done(started && R().failures.load() == before);
    });
}

int ScriptRunLine(const char* line, int timeoutMs) {
    if (OnScriptThread()) return docmd(line);
    auto rc = std::make_shared<std::atomic<int>>(-1);
    if (!ScriptThreadCall([rc, text = std::string(line)] { rc->store(docmd(text.c_str())); }, timeoutMs))
        TracePrintf(TRC_SCRIPT, "DOCMD not run in time: <%s>", line);
    return rc->load();
}

void ScriptPostLine(const std::string& line) {
    ScriptThreadPost([line] { docmd(line.c_str()); });
}

bool ScriptRunning() {
    {
        std::lock_guard l(R().mu);
        if (!R().levels.empty()) return true;
    }
    return ScriptThreadPending();
}

int ScriptDepth() {
    std::lock_guard l(R().mu);
    return static_cast<int>(R().levels.size());
}

bool ScriptWaitIdle(int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ScriptRunning()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::unique_lock l(R().mu);
        R().idle.wait_for(l, std::chrono::milliseconds(10), [] { return R().levels.empty(); });
    }
    return true;
}

void script_halt() {
    ScriptThreadDropQueued();
    uint64_t gen;
    {
        std::lock_guard l(R().mu);
        if (R().levels.empty()) return;
        R().halting = true;
        for (auto& c : R().levels) c->stop = true;
        gen = R().generation;
    }
    {
        std::lock_guard l(R().evMu);
        R().wake = true;
        R().ev.notify_all();
    }
    ForceWatch(gen);
}

void ScriptShutdown() {
    {
        std::lock_guard l(R().evMu);
        R().shutdown = true;
    }
    script_halt();
    WakeWaits();
    ScriptWaitIdle(kForcedHaltMs + 500);
    ScriptThreadStop(500);
}

void script_pause() {
    auto c = Deepest();
    if (!c) return;
    c->paused = true;
    ui().MenuEnable(CMD_SCRIPT_PAUSE, false);
    ui().MenuEnable(CMD_SCRIPT_RESUME, true);
    ui().MenuEnable(CMD_SCRIPT_STEP, true);
}

void script_resume() {
    {
        std::lock_guard l(R().mu);
        for (auto& c : R().levels) c->paused = false;
    }
    ui().MenuEnable(CMD_SCRIPT_PAUSE, true);
    ui().MenuEnable(CMD_SCRIPT_RESUME, false);
    ui().MenuEnable(CMD_SCRIPT_STEP, false);
    WakeWaits();
}

void script_step() {
    auto c = Deepest();
    if (!c || !c->paused) return;
    c->step = true;
    ui().MenuEnable(CMD_SCRIPT_STEP, false);
    WakeWaits();
}

void ScriptSetDebug(bool on) { R().debug = on; }
bool ScriptDebug() { return R().debug; }

void OpenNewScript() {
    UiFileRequest req;
    req.save = true;
    req.title = "New Script:";
    req.startDir = InstallDir() + "/scripts";
    auto path = ui().ChooseFile(req);
    if (!path) return;
    FILE* f = std::fopen(path->c_str(), "wb");
    if (!f) {
        ERROR_REPORT("OpenNewScript()");
        return;
    }
    std::fputs("# New script\r\n# Refer to menu item 'Help->Scripts' for details.\r\n", f);
    std::fclose(f);
    OpenInEditor(*path);
    CFG_SET_STRING(g_cfg.LAST_SCRIPTNAME, path->c_str());
}

// ---- Waits ----------------------------------------------------------------------

namespace {
bool Halting() { return R().halting; }
}  // namespace

bool ScriptHalting() { return Halting(); }
const std::atomic<bool>* ScriptHaltFlag() { return &R().halting; }
bool ScriptIsIp(const char* text) { return IsIp(text); }
bool ScriptIsMac(const char* text) { return IsMac(text); }

void script_wake() {
    std::lock_guard l(R().evMu);
    R().wake = true;
    R().ev.notify_all();
}

int script_sleep(unsigned ticks) {
    bool halting = Halting();
    std::unique_lock l(R().evMu);
    auto done = [&] { return R().wake || R().shutdown || halting || Halting(); };
    bool ended;
    if (ticks == 0) {
        while (!done()) R().ev.wait(l);
        ended = true;
    } else {
        ended = R().ev.wait_for(l, std::chrono::milliseconds(uint64_t{ticks} * 10), done);
    }
    if (R().wake && !halting) R().wake = false;
    return ended ? 1 : 0;
}

int script_wait_quiet(unsigned quietMs, unsigned limitMs) {
    if (limitMs == 0) limitMs = quietMs > 0 ? quietMs : 1;  // no limit: one quiet period
    auto start = std::chrono::steady_clock::now();
    std::unique_lock l(R().evMu);
    R().quietWaiting = true;
    int result = 0;
    while (true) {
        R().data = false;
        bool ended = R().ev.wait_for(l, std::chrono::milliseconds(quietMs),
                                     [] { return R().data || R().shutdown || Halting(); });
        if (R().shutdown || Halting()) break;
        if (!ended) {
            result = 1;
            break;
        }
        if (std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(limitMs)) break;
    }
    R().quietWaiting = false;
    return result;
}

// ---- Receive block and prompt pattern ---------------------------------------------

void recvBlockInit(int size, bool noWrap) {
    if (size < 1) size = 1;
    std::lock_guard l(R().blockMu);
    try {
        R().block.assign(static_cast<size_t>(size), 'x');
    } catch (const std::bad_alloc&) {
        R().block.clear();
        ERROR_REPORT("recvBlockInit failed");
        return;
    }
    R().noWrap = noWrap;
    R().full = false;
    R().widx = 0;
    R().total = 0;
}

int recvBlockRead(std::string& dest) {
    std::lock_guard l(R().blockMu);
    auto& b = R().block;
    dest.clear();
    int n;
    if (R().total != R().widx) {
        dest.append(b.begin() + static_cast<long>(R().widx), b.end());
        dest.append(b.begin(), b.begin() + static_cast<long>(R().widx));
        TracePrintf(TRC_ALWAYS, "RECV buffer wrapped: more than %d bytes received.", static_cast<int>(b.size()));
        n = static_cast<int>(b.size());
    } else {
        dest.assign(b.begin(), b.begin() + static_cast<long>(R().widx));
        n = static_cast<int>(R().widx);
    }
    if (R().recvFlags & 4) {
        R().widx = 0;
        R().total = 0;
        R().full = false;
    }
    return n;
}

std::string RecvBlockText(bool hex) {
    std::string raw, out;
    recvBlockRead(raw);
    for (char ch : raw) {
        if (hex) {
            char h[3];
            std::snprintf(h, sizeof h, "%02x", static_cast<unsigned char>(ch));
            out += h;
        } else if (ch == 0) {
            out += "<0>";
        } else {
            out += ch;
        }
    }
    return out;
}

void ScriptSetRecvFlags(int flags) { R().recvFlags = flags; }
int ScriptRecvFlags() { return R().recvFlags; }

void ScriptSetPattern(const char* pattern) {
    std::lock_guard l(R().patMu);
    if (pattern && *pattern)
        R().pattern = pattern;
    else
        R().pattern.reset();
    PatternReset();
}

void ScriptSetPatternCount(const std::string& bytes, int count) {
    std::lock_guard l(R().patMu);
    R().pattern = bytes;
    PatternReset();
    R().countMode = true;
    R().countLeft = count;
}

int script_receive(const char* data, int count) {
    if (count <= 0) return 0;
    {
        std::lock_guard l(R().evMu);
        if (R().quietWaiting) {
            R().data = true;
            R().ev.notify_all();
        }
    }
    {
        std::lock_guard l(R().blockMu);
        auto& b = R().block;
        for (int i = 0; i < count && !b.empty(); i++) {
            if (R().widx >= b.size()) {
                if (R().noWrap) {
                    if (!R().full) TracePrintf(TRC_ALWAYS, "RECV buffer full (no-wrap enabled).");
                    R().full = true;
                    break;
                }
                R().widx = 0;
            }
            b[R().widx++] = data[i];
            R().total++;
        }
    }
    bool matched = false;
    std::optional<std::string> lastLine;
    {
        std::lock_guard l(R().patMu);
        if (!R().pattern) return 0;
        const std::string& pat = *R().pattern;
        for (int i = 0; i < count; i++) {
            char ch = data[i];
            if (R().countMode) {
                if (matched) break;
                if (pat.empty()) {
                    if (--R().countLeft <= 0) matched = true;
                } else {
                    if (ch == pat[R().matchIdx])
                        R().matchIdx++;
                    else
                        R().matchIdx = ch == pat[0] ? 1 : 0;
                    if (R().matchIdx >= pat.size()) matched = true;
                }
                continue;
            }
            if (ch == '\r' || ch == '\n' || R().lastLine.size() >= kLastLineMax) {
                if (!R().lastLine.empty()) lastLine = R().lastLine;
                R().lastLine.clear();
            }
            if (ch != '\r' && ch != '\n') R().lastLine += ch;
            if (pat[R().matchIdx] == '.' || ch == pat[R().matchIdx])
                R().matchIdx++;
            else
                R().matchIdx = (pat[0] == '.' || ch == pat[0]) ? 1 : 0;
            if (R().matchIdx >= pat.size()) {
                matched = true;
                R().matchIdx = 0;
            }
        }
    }
    if (lastLine) shell_setenv("LASTLINE", lastLine->c_str());
    if (matched && (R().recvFlags & 1))
        shell_setenv("RECVBLOCK", RecvBlockText((R().recvFlags & 2) != 0).c_str());
    return matched ? 1 : 0;
}
