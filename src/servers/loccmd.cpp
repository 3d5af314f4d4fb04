#include "servers/loccmd.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "backend/comport.h"
#include "config/configrecord.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "util/cmdline.h"
#include "script/scripting.h"
#include "servers/remotepress.h"
#include "platform/report.h"
#include "platform/ui.h"
#include "xfer/xmodem.h"

#define OXEL_MODULE "loccmd"

namespace {

using Args = std::vector<std::string>;

std::atomic<int> g_limitMs{60000};

void Reply(LocalCmdClient& c, const std::string& text) { c.send(text); }

int BadCount(LocalCmdClient& c, int argc, const char* usage) {
    Reply(c, SockText("Bad arg count (%d).  Usage: %s\n", argc, usage));
    return -1;
}

void NotBuilt(LocalCmdClient& c) { Reply(c, SockText("%s\n", "not available in this build")); }

bool ComBackendOnly(LocalCmdClient& c) {
    if (g_cfg.BACKEND == 1) return true;
    Reply(c, SockText("Command only valid with comport backend.\n"));
    return false;
}

int FnXsend(LocalCmdClient& c, const Args& a) {
    if (a.size() != 3) return BadCount(c, static_cast<int>(a.size()), "xsend {xcmd} {xfile}");
    Reply(c, SockText("Xsend local cmd: '%s', file: '%s'\n", a[1].c_str(), a[2].c_str()));
    if (!XmodemStartSend(a[1].c_str(), a[2].c_str(), c.send)) return -1;
    XmodemWait(c.send);
    return 0;
}

int FnXrecv(LocalCmdClient& c, const Args& a) {
    if (a.size() != 3) return BadCount(c, static_cast<int>(a.size()), "xrecv {xcmd} {xfile}");
    Reply(c, SockText("Xrecv local cmd: '%s', file: '%s'\n", a[1].c_str(), a[2].c_str()));
    if (!XmodemStartRecv(a[1].c_str(), a[2].c_str(), c.send)) return -1;
    XmodemWait(c.send);
    return 0;
}

int FnDtrtgl(LocalCmdClient& c, const Args& a) {
    if (a.size() != 1) return BadCount(c, static_cast<int>(a.size()), "dtrtgl (no args)");
    if (!ComBackendOnly(c)) return -1;
    ToggleDtr();
    Reply(c, SockText("DTR toggled\n"));
    return 0;
}

int FnBreak(LocalCmdClient& c, const Args& a) {
    if (a.size() != 1) return BadCount(c, static_cast<int>(a.size()), "break (no args)");
    if (!ComBackendOnly(c)) return -1;
    SendBreak();
    Reply(c, SockText("BREAK state sent\n"));
    return 0;
}

int FnScript(LocalCmdClient& c, const Args& a) {
    if (a.size() != 2) return BadCount(c, static_cast<int>(a.size()), "script {filename}");
    std::string path = ScriptPath(a[1]);
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        Reply(c, SockText("%s: file not found\n", a[1].c_str()));
        return -1;
    }
    Reply(c, SockText("Running script '%s' ...\n", a[1].c_str()));
    run_script(a[1].c_str(), nullptr);
    return 0;
}

int FnScrcmd(LocalCmdClient& c, const Args& a) {
    if (a.size() != 2) return BadCount(c, static_cast<int>(a.size()), "scrcmd {\"cmdline\"}");
    Reply(c, SockText("Running command '%s' ...\n", a[1].c_str()));
    RemoteDocmd(a[1].c_str());
    return 0;
}

// Decimal from the leading digits, 0 when none.
int LeadingNumber(const std::string& s) {
    long n = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9' || n > 100000) break;
        n = n * 10 + (ch - '0');
    }
    return static_cast<int>(n);
}

int FnFkey(LocalCmdClient& c, const Args& a) {
    if (a.size() != 2) return BadCount(c, static_cast<int>(a.size()), "fkey {#}");
    Reply(c, SockText("Funckey '%s' ...\n", a[1].c_str()));
    int n = LeadingNumber(a[1]);
    if (n >= 2 && n <= 9) RemotePressFkey(n);
    return 0;
}

int FnButton(LocalCmdClient& c, const Args& a) {
    if (a.size() != 2) return BadCount(c, static_cast<int>(a.size()), "button {#}");
    Reply(c, SockText("Button '%s' ...\n", a[1].c_str()));
    int n = LeadingNumber(a[1]);
    if (n >= 1 && n <= 16) RemotePressButton(n);
    return 0;
}

int FnTftp(LocalCmdClient& c, const Args& a) {
    if (a.size() != 5) {
        Reply(c, SockText("Usage: tftp {ip} {get|put} {src} {dest}\n"));
        return -1;
    }
    Reply(c, SockText("Tftp local cmd: %s %s %s %s", a[1].c_str(), a[2].c_str(), a[3].c_str(), a[4].c_str()));
    Reply(c, "\r\n");
    NotBuilt(c);
    return -1;
}

struct LocalFunction {
    const char* name;
    int (*handler)(LocalCmdClient&, const Args&);
};
const LocalFunction kFunctions[] = {
    {"xsend", FnXsend}, {"xrecv", FnXrecv},   {"dtrtgl", FnDtrtgl}, {"break", FnBreak}, {"script", FnScript},
    {"scrcmd", FnScrcmd}, {"fkey", FnFkey}, {"button", FnButton}, {"tftp", FnTftp},
};

void SendList(LocalCmdClient& c) {
    Reply(c, SockText("\nValid functions are:\n"));
    for (const auto& f : kFunctions) Reply(c, SockText("  %s\n", f.name));
}

void RunFunction(LocalCmdClient& c, const std::string& line) {
    Args args;
    if (!SplitArgs(line.substr(4), args) || args.empty()) {
        SendList(c);
        return;
    }
    for (const auto& f : kFunctions)
        if (args[0] == f.name) {
            Reply(c, "\r\n");
            f.handler(c, args);
            return;
        }
    Reply(c, SockText("\nUnexpected function <%s>\n", args[0].c_str()));
    SendList(c);
}

// Sends what the program prints until it ends, the time runs out or the
// client goes. The bytes sent, or -1 when the time ran out.
int PumpOutput(LocalCmdClient& c, ChildProcess& child, uint64_t deadline) {
    int sent = 0;
    bool prevCr = false;
    char buf[128];
    for (;;) {
        uint64_t now = ClockTickMs();
        if (now >= deadline || c.gone()) return now >= deadline ? -1 : sent;
        pollfd p{child.outFd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(std::min<uint64_t>(deadline - now, 200)));
        if (r == 0) continue;
        int n = r < 0 ? -1 : static_cast<int>(read(child.outFd, buf, sizeof buf));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ERROR_REPORT("ReadFile");
        if (n <= 0) return sent;
        std::string piece = HostOutputCrLf(buf, static_cast<size_t>(n), prevCr);
        c.send(piece);
        sent += static_cast<int>(piece.size());
    }
}

int RunHost(LocalCmdClient& c, const std::string& line) {
    TracePrintf(TRC_TELNET, "lcmd = '%s' (client @ %s, port %d)", line.c_str(), c.peer.c_str(), c.port);
    Reply(c, SockText("\nIssuing command <%s> from client at %s...\n", line.c_str(), c.peer.c_str()));
    Args argv;
    if (!SplitArgs(line, argv) || argv.empty()) {
        Reply(c, SockText("\nServer error: command line did not parse\n"));
        return 0;
    }
    SpawnOptions opt;
    opt.pty = false;
    ChildProcess child;
    if (!ProcSpawn(argv, opt, &child)) {
        Reply(c, SockText("\nServer error: cannot start '%s': %s\n", argv[0].c_str(), std::strerror(errno)));
        return 0;
    }
    // The program gets no input: a remote user is not its terminal.
    close(child.inFd);
    child.inFd = -1;
    const int limitMs = g_limitMs;
    const uint64_t deadline = ClockTickMs() + static_cast<uint64_t>(limitMs);
    int sent = PumpOutput(c, child, deadline);
    // Its output closed; its exit status follows shortly.
    while (sent >= 0 && ProcExited(child) == 0 && !c.gone()) {
        if (ClockTickMs() >= deadline) {
            sent = -1;
            break;
        }
        hiresSleep(5);
    }
    const bool timedOut = sent < 0;
    if (timedOut) sent = 0;
    ProcClose(child);
    if (timedOut) Reply(c, SockText("\nServer: command stopped after %d ms\n", limitMs));
    else Reply(c, SockText("\n(exit status %d)\n", child.exitCode));
    Reply(c, "\r\n");
    return sent + 2;
}

}  // namespace

LineStep LocalLineByte(LocalLine& line, uint8_t b) {
    if (TelnetSkipCommand(line.telnet, b) || b == 0) return LineStep::More;
    if (b == '\r' || b == '\n') return LineStep::Done;
    if (b == 0x08 || b == 0x7f) {
        if (!line.text.empty()) line.text.pop_back();
        return LineStep::Erase;
    }
    line.text += static_cast<char>(b);
    return line.text.size() >= kLocalLineMax ? LineStep::TooLong : LineStep::Echo;
}

LocalKind LocalLineKind(const std::string& line) {
    if (line.empty()) return LocalKind::Empty;
    if (line[0] == '?') return LocalKind::Version;
    if (line.compare(0, 4, "Oxel") == 0) return LocalKind::Function;
    return LocalKind::Host;
}

std::vector<std::string> LocalFunctionNames() {
    std::vector<std::string> names;
    for (const auto& f : kFunctions) names.emplace_back(f.name);
    return names;
}

std::string HostOutputCrLf(const char* data, size_t len, bool& prevCr) {
    std::string out;
    out.reserve(len + 8);
    for (size_t i = 0; i < len; ++i) {
        if (data[i] == '\n' && !prevCr) out += '\r';
        out += data[i];
        prevCr = data[i] == '\r';
    }
    return out;
}

// Scripts run on the script thread; the caller waits for the line to be
// done, so a MONCMD sender's answer still means "carried out".
int RemoteDocmd(const char* line) { return ScriptRunLine(line, 0); }

void LocalCmdSetLimitMs(int ms) { g_limitMs = ms; }


int doLocalCmd(LocalCmdClient& c) {
    Reply(c, SockText("\nLOCAL COMMAND: "));
    LocalLine line;
    for (bool done = false; !done;) {
        int b = c.readByte();
        if (b < 0) return -1;
        switch (LocalLineByte(line, static_cast<uint8_t>(b))) {
        case LineStep::Echo: c.send(std::string(1, static_cast<char>(b))); break;
        case LineStep::Erase: c.send("\b \b"); break;
        case LineStep::TooLong:
            Reply(c, SockText("\nServer: loccmd terminated\n"));
            return -6;
        case LineStep::Done: done = true; break;
        case LineStep::More: break;
        }
    }
    switch (LocalLineKind(line.text)) {
    case LocalKind::Empty: Reply(c, "\r\n"); return 0;
    case LocalKind::Version:
        Reply(c, SockText("\n%s built: %s @ %s\n%s\n", "Oxel", __DATE__, __TIME__,
                          "(type 'Oxel' for list of Oxel-specific cmds)"));
        return 0;
    case LocalKind::Function: RunFunction(c, line.text); return 0;
    case LocalKind::Host: return RunHost(c, line.text);
    }
    return 0;
}
