#include "script/host_cmds.h"

#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "console/editor.h"
#include "console/screenbuf.h"
#include "platform/report.h"
#include "util/utils.h"
#include "console/keyboard.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/globalevent.h"
#include "platform/net.h"
#include "platform/ui.h"
#include "util/cmdline.h"
#include "script/script_cmds.h"
#include "script/scripting.h"
#include "config/shellvar.h"

extern char** environ;

#define OXEL_MODULE "host_cmds"

namespace {

constexpr int kSystemPollMs = 1000;
constexpr int kKeyPollMs = 100;
std::atomic<bool> g_hires{false};
std::atomic<bool> g_keyPressed{false};

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// Waits ms, ending early on Halt; false when halted.
bool WaitMs(long ms) {
    uint64_t end = ClockTickMs() + static_cast<uint64_t>(ms);
    while (!ScriptHalting()) {
        uint64_t now = ClockTickMs();
        if (now >= end) return true;
        hiresSleep(static_cast<unsigned>(std::min<uint64_t>(end - now, 50)));
    }
    return false;
}

// ---- SYSTEM ---------------------------------------------------------------

// Starts argv in a process of its own; 0 when it could not be started.
pid_t Start(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : 0;
}

// The exit status of a finished child (128 + signal), kRunning while it
// runs, or -1 when its state cannot be read.
constexpr int kRunning = -2;
int Reap(pid_t pid, bool wait) {
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, wait ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return kRunning;
    if (r < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A -p child not waited for is reaped whenever SYSTEM next runs, so none
// stays a zombie for long.
std::mutex g_unwaitedMu;
std::vector<pid_t> g_unwaited;

void ReapUnwaited() {
    std::lock_guard l(g_unwaitedMu);
    std::erase_if(g_unwaited, [](pid_t pid) { return Reap(pid, false) != kRunning; });
}

void Unwaited(pid_t pid) {
    std::lock_guard l(g_unwaitedMu);
    g_unwaited.push_back(pid);
}

int cmd_system(int argc, char** argv) {
    bool direct = false, verbose = false, wait = false;
    for (int c; (c = script_getopt(argc, argv, "pvw")) != -1;) {
        if (c == 'p') direct = true;
        else if (c == 'v') verbose = true;
        else if (c == 'w') wait = true;
        else return -2;
    }
    if (argc - script_optind != 1) return -3;
    const char* line = argv[script_optind];
    TracePrintf(TRC_SCRIPT, "system(%s)", line);
    if (verbose) console_printf("CMD: <%s>\r\n", line);
    ReapUnwaited();
    std::vector<std::string> words;
    if (direct) {
        if (!SplitArgs(line, words) || words.empty()) return -2;
    } else {
        words = {"/bin/sh", "-c", line};
    }
    pid_t pid = Start(words);
    if (pid == 0) {
        script_error("CreateProcess: %s: %s", words[0].c_str(), std::strerror(errno));
        return -1;
    }
    if (!direct) {
        // 127 and 126 are the shell's own "not found" and "cannot run".
        int code = Reap(pid, true);
        if (code == 127 || code == 126) {
            script_error("CreateProcess: %s: command not found or not runnable", line);
            return -1;
        }
        return 0;
    }
    if (!wait) {
        Unwaited(pid);
        return 0;
    }
    for (int state; (state = Reap(pid, false)) < 0;) {
        if (state != kRunning) {
            TracePrintf(TRC_SCRIPT, "SYSTEM GetExitCode() failed");
            break;
        }
        if (!WaitMs(kSystemPollMs)) {
            Unwaited(pid);
            break;
        }
    }
    return 0;
}

// ---- SHELLEXEC ------------------------------------------------------------

// The host shell's operations: the desktop's opener for the document or its
// folder, the print spooler, the editor.
int ShellOperation(const char* op, const std::string& file) {
    if (!std::strcmp(op, "open")) return ui().OpenUrl(file) ? 0 : -1;
    if (!std::strcmp(op, "explore") || !std::strcmp(op, "find")) {
        struct stat st {};
        std::string dir = file;
        if (stat(dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            size_t slash = dir.rfind('/');
            dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
        }
        return ui().OpenUrl(dir) ? 0 : -1;
    }
    if (!std::strcmp(op, "print")) {
        pid_t pid = Start({"lp", "--", file});
        return pid && Reap(pid, true) == 0 ? 0 : -1;
    }
    return StartEditor(file) ? 0 : -1;
}

int cmd_shellexec(int argc, char** argv) {
    for (int c; (c = script_getopt(argc, argv, "cvw")) != -1;)
        if (c == '?') return -2;
    int n = argc - script_optind;
    if (n < 2 || n > 4) return -3;
    const char* op = argv[script_optind];
    static const char* const ops[] = {"open", "explore", "find", "print", "edit"};
    bool known = false;
    for (const char* o : ops) known |= !std::strcmp(op, o);
    if (!known) return -2;
    std::string file = argv[script_optind + 1];
    if (n == 4 && file[0] != '/') file = std::string(argv[script_optind + 3]) + "/" + file;
    if (ShellOperation(op, file) != 0) {
        script_error("SHELLEXEC %s %s failed", op, file.c_str());
        return -1;
    }
    return 0;
}

// ---- TIME -----------------------------------------------------------------

int cmd_time(int argc, char** argv) {
    bool elapsed = false, quiet = false, resolution = false, start = false;
    std::string format = "%H:%M:%S";
    for (int c; (c = script_getopt(argc, argv, "ef:qrs")) != -1;) {
        switch (c) {
        case 'e': elapsed = true; break;
        case 'f': format = script_optarg; break;
        case 'q': quiet = true; break;
        case 'r': resolution = true; break;
        case 's': start = true; break;
        default: return -2;
        }
    }
    int rest = argc - script_optind;
    if (rest == 1) {
        const char* op = argv[script_optind];
        if (Is(op, "hires-on")) g_hires = true;
        else if (Is(op, "hires-off")) g_hires = false;
        else return -2;
        return 0;
    }
    if (rest > 1) return -3;
    uint64_t now = ClockTickMs();
    if (resolution) {
        shell_setenv("TIME", "1");
        if (!quiet)
            console_printf("High res timer resolution: %d msec (currently %s", 1,
                           g_hires ? "enabled).\r\n" : "disabled).\r\n");
    } else if (elapsed) {
        long ms = static_cast<long>(now - ScriptTimeRef());
        shell_setenv("TIME", std::to_string(ms).c_str());
        if (!quiet) console_printf("elapsed: %ld msec\r\n", ms);
    } else if (!start) {
        LocalTime t = ClockNow();
        std::string text = TimeFormat(format, t.millis);
        struct tm tm {};
        LocalTimeToTm(t, &tm);
        char buf[512];
        size_t len = text.empty() ? 0 : std::strftime(buf, sizeof buf, text.c_str(), &tm);
        buf[len] = 0;
        shell_setenv("TIME", buf);
        if (!quiet) console_printf("%s\r\n", buf);
    }
    if (start) ScriptTimeRefSet(now);
    return 0;
}

// ---- EVENT ----------------------------------------------------------------

int cmd_event(int argc, char** argv) {
    bool verbose = false;
    for (int c; (c = script_getopt(argc, argv, "v")) != -1;) {
        if (c == 'v') verbose = true;
        else return -2;
    }
    int n = argc - script_optind;
    if (n < 2 || n > 3) return -3;
    auto idx = ParseSigned(argv[script_optind]);
    if (!idx || *idx < 1 || *idx > kGlobalEvents) {
        script_error("Event idx (%d) out of range 1-%d\n", idx ? *idx : 0, kGlobalEvents);
        return -1;
    }
    const char* op = argv[script_optind + 1];
    int ev = *idx - 1;
    if (verbose) console_printf("EVENT %d %s\r\n", *idx, op);
    int ok = 1;
    if (Is(op, "SET")) ok = GlobalEventSet(ev);
    else if (Is(op, "RESET")) ok = GlobalEventReset(ev);
    else if (Is(op, "PULSE")) ok = GlobalEventPulse(ev);
    else if (Is(op, "WAIT")) {
        int ms = -1;
        if (n == 3) {
            auto v = ParseSigned(argv[script_optind + 2]);
            if (!v || *v < 0) return -2;
            ms = *v;
        }
        shell_unsetenv("SCR_TIMEOUT");
        int r = GlobalEventWait(ev, ms, ScriptHaltFlag());
        if (r < 0) {
            script_error("Event wait failed\n");
            return -1;
        }
        shell_setenv("SCR_TIMEOUT", r ? "FALSE" : "TRUE");
        return 0;
    } else {
        script_error("Event request (%s) unknown\n", op);
        return -1;
    }
    if (!ok) {
        char name[40];
        std::snprintf(name, sizeof name, "OxelGlobalEvent_%d", ev);
        script_error("CreateEvent (%s) failed\n", name);
        return -1;
    }
    return 0;
}

// ---- SLEEP ----------------------------------------------------------------

bool TakeKey(int) {
    g_keyPressed = true;
    return true;
}

int cmd_sleep(int argc, char** argv) {
    bool key = false, mouse = false;
    for (int c; (c = script_getopt(argc, argv, "KM")) != -1;) {
        if (c == 'K') key = true;
        else if (c == 'M') mouse = true;
        else return -2;
    }
    int n = argc - script_optind;
    if (key && n == 0) {
        g_keyPressed = false;
        KeyboardSetKeyConsumer(TakeKey);
        while (!g_keyPressed && WaitMs(kKeyPollMs)) {}
        KeyboardSetKeyConsumer(nullptr);
        return 0;
    }
    if (mouse && n == 0) {
        uint64_t clicks = KeyboardClicks();
        while (KeyboardClicks() == clicks && WaitMs(kKeyPollMs)) {}
        return 0;
    }
    if (key || mouse || n != 1) return -2;
    char* end = nullptr;
    long ms = std::strtol(argv[script_optind], &end, 0);
    if (end == argv[script_optind] || *end) return -2;
    if (ms < 0) {
        OxelMessageBox("hiresSleep()", "Invalid argument: %ld\n", ms);
        return 0;
    }
    g_hires = true;
    if (ms == 0) sched_yield();
    else WaitMs(ms);
    return 0;
}

// ---- BEEP -----------------------------------------------------------------

int cmd_beep(int argc, char** argv) {
    int freq = 500, ms = 250;
    if (argc == 3) {
        auto f = ParseSigned(argv[1]);
        auto d = ParseSigned(argv[2]);
        if (!f || !d || *f < 37 || *f > 32767 || *d < 0) return -2;
        freq = *f;
        ms = *d;
    } else if (argc != 1) {
        return -2;
    }
    ui().Beep(freq, ms);
    WaitMs(ms);  // a script's timing counts on the tone's length
    return 0;
}

// ---- CD -------------------------------------------------------------------

int cmd_cd(int argc, char** argv) {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
    if (argc == 1) {
        console_printf("CD: %s\r\n", cwd);
        return 0;
    }
    if (argc != 2) return -3;
    TracePrintf(TRC_SCRIPT, "chdir(%s)", argv[1]);
    if (chdir(argv[1]) != 0) {
        script_error("chdir(%s): %s", argv[1], std::strerror(errno));
        return -1;
    }
    shell_setenv("OLDPWD", cwd);
    return 0;
}

// ---- WOL ------------------------------------------------------------------

int cmd_wol(int argc, char** argv) {
    int port = 0;
    bool verbose = false;
    for (int c; (c = script_getopt(argc, argv, "p:v")) != -1;) {
        if (c == 'v') {
            verbose = true;
        } else if (c == 'p') {
            auto p = ParseSigned(script_optarg);
            if (!p || *p < 0 || *p > 65535) return -2;
            port = *p;
        } else {
            return -2;
        }
    }
    if (argc - script_optind != 2) return -2;
    const char* mac = argv[script_optind];
    const char* ip = argv[script_optind + 1];
    if (!ScriptIsIp(ip)) return -2;
    std::string packet = WolPacket(mac);
    if (packet.empty()) {
        console_printf("Misformed mac: <%s>\r\n", mac);
        return ScriptIsMac(mac) ? -1 : -2;
    }
    if (port == 0) port = 7;
    if (verbose) {
        console_printf("Sending WAKE-ON-LAN request to ");
        console_printf("IP:%s, MAC:%s, PORT:%d\r\n", ip, mac, port);
    }
    in_addr addr{};
    if (!NetResolveIPv4(ip, &addr)) {
        console_printf("gethostbyname failed\r\n");
        return -1;
    }
    int fd = NetUdpSocket();
    if (fd < 0) {
        console_printf("socket failed\r\n");
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in to = NetAddress(addr, static_cast<uint16_t>(port));
    ssize_t sent = sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    NetClose(fd);
    if (sent != static_cast<ssize_t>(packet.size())) {
        console_printf("sendto failed\r\n");
        return -1;
    }
    return 0;
}

struct CmdEntry {
    const char* name;
    ScriptCmdHandler handler;
};

const CmdEntry kCommands[] = {
    {"BEEP", cmd_beep},   {"CD", cmd_cd},         {"EVENT", cmd_event}, {"SHELLEXEC", cmd_shellexec},
    {"SLEEP", cmd_sleep}, {"SYSTEM", cmd_system}, {"TIME", cmd_time},   {"WOL", cmd_wol},
};

}  // namespace

std::string TimeFormat(const std::string& format, int millis) {
    std::string out = format;
    char ms[8];
    std::snprintf(ms, sizeof ms, ":%03d", millis % 1000);
    for (size_t at = 0; (at = out.find(":msec", at)) != std::string::npos; at += 4) out.replace(at, 5, ms);
    return out;
}

std::string WolPacket(const std::string& mac) {
    if (mac.size() != 17) return "";
    char sep = mac[2];
    if (sep != ':' && sep != '-') return "";
    std::string bytes;
    for (int i = 0; i < 6; i++) {
        if (i < 5 && mac[i * 3 + 2] != sep) return "";
        auto b = HexToBytes(mac.substr(i * 3, 2));
        if (!b) return "";
        bytes += *b;
    }
    std::string packet(6, '\xff');
    for (int i = 0; i < 16; i++) packet += bytes;
    return packet;
}

void HostCmdsInit() {
    for (const auto& c : kCommands) ScriptSetHandler(c.name, c.handler);
}
