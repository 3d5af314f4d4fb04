#include "backend/plinkfe.h"
#include "util/cmdids.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/report.h"
#include "util/utils.h"
#include "backend/backend.h"
#include "config/configfile.h"
#include "config/configrecord.h"
#include "console/rxpath.h"
#include "log/srvrtrace.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "util/cmdline.h"
#include "config/shellvar.h"

#define OXEL_MODULE "plinkfe"

namespace {

constexpr int kBackendMenus[] = {404, 449, 457, 450};
constexpr size_t kReadBlock = 65536;
constexpr size_t kDeliverChunk = 4096;

std::mutex g_lifeMu;
ChildProcess g_child;
// Never destroyed: a reader still running at exit must not end the program.
std::thread& g_reader = *new std::thread;
std::atomic<bool> g_stopping{false};
std::atomic<bool> g_readerDone{true};
std::atomic<bool> g_running{false};
bool g_shellMode = false;
std::atomic<bool> g_firstCrDone{false};   // once per program run

std::string LoginShell() {
    const char* sh = std::getenv("SHELL");
    if (sh && *sh) return sh;
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_shell && *pw->pw_shell) return pw->pw_shell;
    return "/bin/sh";
}

// The reader works on its own copy of the descriptors, so a restart that
// replaces the child never changes what a late reader reads.
void ReaderMain(ChildProcess child) {
    std::vector<char> buf(kReadBlock);
    std::vector<uint8_t> scratch(kDeliverChunk * 5 + 64);
    for (;;) {
        // One byte is kept back, as the terminating NUL's room always was.
        int n = ProcRead(child, buf.data(), buf.size() - 1);
        if (n < 0) {
            if (!g_stopping.load()) ERROR_REPORT("ReadFile");
            break;
        }
        if (n == 0) break;
        const auto* p = reinterpret_cast<const uint8_t*>(buf.data());
        for (int off = 0; off < n; off += static_cast<int>(kDeliverChunk)) {
            size_t len = std::min<size_t>(kDeliverChunk, static_cast<size_t>(n - off));
            RxDeliver(p + off, scratch.data(), len, scratch.size());
        }
    }
    if (!g_stopping.load()) {
        errno = 0;
        ERROR_REPORT("PLINK client reader terminated");
    }
    g_readerDone = true;
}

// PLINKVERIFY: unset, no check (Linux has no one client digest to expect);
// "IGNORE" after the question skips it; any other value is the expected MD5.
int VerifyClient(const std::string& exe) {
    auto verify = shell_getenv("PLINKVERIFY");
    if (!verify) return 1;
    if (OxelMessageBoxStyle(MB_OKCANCEL, "Plink sanity test override", "Ok to continue using '%s'?",
                            verify->c_str()) != IDOK)
        return 0;
    if (*verify == "IGNORE") return 1;
    auto digest = Md5FileHex(exe);
    if (!digest || *digest != *verify) {
        OxelMessageBox("PLINK Error", "Sanity check failed");
        return 0;
    }
    return 1;
}

void StopChild() {
    g_stopping = true;
    ProcInterrupt(g_child);
    JoinThreadWithin(g_reader, g_readerDone, 5000);
    ProcClose(g_child);
    g_running = false;
}

}  // namespace

std::string PlinkClientPath() { return ProcFindOnPath("ssh"); }

PlinkCommand PlinkBuildCommand(const std::string& args) {
    PlinkCommand cmd;
    if (args == "CMD") {
        std::string sh = LoginShell();
        auto slash = sh.rfind('/');
        cmd.argv = {"-" + (slash == std::string::npos ? sh : sh.substr(slash + 1))};
        cmd.exePath = sh;
        cmd.shellMode = true;
        return cmd;
    }
    if (args.rfind("SHELL:", 0) == 0) {
        size_t i = 6;
        while (i < args.size() && (args[i] == ' ' || args[i] == '\t')) ++i;
        cmd.exePath = "/bin/sh";
        cmd.argv = {"sh"};
        if (i < args.size()) {
            cmd.argv.push_back("-c");
            cmd.argv.push_back(args.substr(i));
        }
        cmd.shellMode = true;
        return cmd;
    }
    cmd.exePath = PlinkClientPath();
    if (cmd.exePath.empty()) return cmd;
    std::string line;
    auto colon = args.find(':');
    if (colon != std::string::npos) line = "ssh -p " + args.substr(colon + 1) + " " + args.substr(0, colon);
    else line = "ssh " + args;
    if (!SplitArgs(line, cmd.argv)) cmd.argv.clear();
    return cmd;
}

int PlinkOpen() {
    std::lock_guard life(g_lifeMu);
    if (g_running.load()) StopChild();
    g_shellMode = false;
    std::string args = g_cfg.BACKENT_PLINK_ARGS;
    PlinkCommand cmd = PlinkBuildCommand(args);
    g_shellMode = cmd.shellMode;
    if (cmd.shellMode) {
        g_cfg.LOCALECHO = 1;
        g_cfg.ENTER_IS_CRLF = 1;
        g_cfg.APPEND_CR = 1;
    } else if (!cmd.exePath.empty() && !VerifyClient(cmd.exePath)) {
        return 0;
    }
    if (cmd.argv.empty()) {
        errno = cmd.exePath.empty() ? ENOENT : EINVAL;
        ERROR_REPORT("PLINK: CreateProcess");
        return 0;
    }
    // A pseudo-terminal makes shells interactive and lets ssh ask for
    // passwords. For a local shell the line is set up as pipes behaved: we
    // echo locally and send CR LF, the shell's LF is completed by APPEND_CR.
    SpawnOptions opt;
    opt.pty = true;
    opt.exePath = cmd.exePath;
    opt.env = {"TERM=vt100"};
    if (g_cfg.CONSOLE_ROWS > 0) opt.rows = static_cast<unsigned short>(g_cfg.CONSOLE_ROWS);
    if (g_cfg.CONSOLE_COLS > 0) opt.cols = static_cast<unsigned short>(g_cfg.CONSOLE_COLS);
    if (cmd.shellMode) {
        opt.ptyEcho = false;
        opt.ptyIgnoreCr = true;
        opt.ptyOutCrLf = false;
    }
    if (!ProcSpawn(cmd.argv, opt, &g_child)) {
        ERROR_REPORT("PLINK: CreateProcess");
        return 0;
    }
    g_stopping = false;
    g_readerDone = false;
    try {
        g_reader = std::thread(ReaderMain, g_child);
    } catch (const std::system_error&) {
        g_readerDone = true;
        ProcClose(g_child);
        ERROR_REPORT("PLINK: CreatThread");
        return 0;
    }
    g_running = true;
    TraceRefreshCaption();
    BackendMarkConnected(true);
    ui().StatusRefresh();
    g_cfg.BACKEND_PLINK_ENABLED = 1;
    shell_setenv("PLINKBACKEND_ARGS", args.c_str());
    ui().MenuCheck(CMD_PLINK_BACKEND, true);
    return 1;
}

int ClosePlinkConnection() {
    std::lock_guard life(g_lifeMu);
    TracePrintf(TRC_TELNET, "ClosePlinkConnection()");
    if (g_cfg.BACKEND_PLINK_ENABLED || g_running.load()) {
        g_cfg.BACKEND_PLINK_ENABLED = 0;
        StopChild();
    }
    BackendMarkConnected(false);
    g_cfg.BACKEND_PLINK_ENABLED = 0;
    g_cfg.BACKEND = 0;
    for (int id : kBackendMenus) ui().MenuCheck(id, false);
    ui().StatusRefresh();
    return 1;
}

int PlinkWrite(const char* data, size_t len) {
    int ended;
    bool closedByUs;
    {
        std::lock_guard life(g_lifeMu);
        closedByUs = !g_running.load() && g_stopping.load();
        ended = g_running.load() ? ProcExited(g_child) : 1;
    }
    // A write racing our own close (shutdown, a backend change) is dropped:
    // only a child that ended by itself ends the program.
    if (closedByUs) return 0;
    if (ended < 0) {
        ERROR_REPORT("Plink GetExitCodeProcess");
        ProgramExit(1);
    }
    if (ended) {
        bool shell = g_shellMode;
        ClosePlinkConnection();
        if (shell) ProgramExit(1);
        if (OxelMessageBoxStyle(MB_YESNO, "Oxel", "plink.exe terminated, want to restart?") != IDYES)
            ProgramExit(1);
        // The restarted child is the backend again (closing made it NONE).
        if (PlinkOpen()) g_cfg.BACKEND = 4;
        return 1;
    }
    const char* out = data;
    std::string copy;
    if (!g_firstCrDone.load()) {
        if (const void* cr = std::memchr(data, '\r', len)) {
            copy.assign(data, len);
            copy[static_cast<const char*>(cr) - data] = '\n';
            out = copy.data();
            g_firstCrDone = true;
        }
    }
    int n = ProcWrite(g_child, out, len);
    if (n < 0) {
        ERROR_REPORT("Plink pipe write");
        ProgramExit(1);
    }
    if (static_cast<size_t>(n) != len) TracePrintf(TRC_TELNET, "Plink write err %d != %d", n, static_cast<int>(len));
    return 1;
}

bool PlinkRunning() { return g_running.load(); }

std::string PlinkStatusText() {
    return std::string("PLINK ") + g_cfg.BACKENT_PLINK_ARGS + (g_cfg.CONSOLE_READONLY ? " (readonly)" : "");
}

bool PlinkConfigCanOpen() {
    if (!PlinkClientPath().empty()) return true;
    OxelMessageBox("PLINK Error", "Can't find executable");
    return false;
}

int PlinkConfigApply(const std::string& args) {
    CFG_SET_STRING(g_cfg.BACKENT_PLINK_ARGS, args.c_str());
    if (CloseConnection()) {
        g_cfg.BACKEND = 4;
        if (OpenConnection()) ui().MenuCheck(CMD_PLINK_BACKEND, true);
    } else {
        ERROR_REPORT("CloseConnection failed");
    }
    ConfigSetSessionOnlyBackend(false);
    return 1;
}
