#include "backend/telnetc.h"
#include "util/cmdids.h"

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "util/commands.h"
#include "platform/report.h"
#include "util/utils.h"
#include "backend/backend.h"
#include "config/configfile.h"
#include "config/configrecord.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "log/srvrtrace.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "config/shellvar.h"

#define OXEL_MODULE "telnetc"

namespace {

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t OPT_ECHO = 1, OPT_SGA = 3, OPT_TTYPE = 24;
constexpr size_t kLineCap = 256;
constexpr size_t kReadBlock = 16384;
constexpr size_t kDeliverChunk = 4096;
// Auto restart: waits grow by this step up to the cap; a connection counts
// as restored once it has stayed up this long.
constexpr int kRetryStepMs = 500, kRetryMaxMs = 10000;
constexpr auto kHeldUp = std::chrono::seconds(10);

// One reader per connection, with its own stop and done flags: a reader
// that a close could not wait for (it is showing a question) ends by itself
// without touching the next connection.
struct Reader {
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
};

std::mutex g_lifeMu;                 // open and close, one at a time
// Never destroyed: a reader still running at exit must not end the program.
std::thread& g_reader = *new std::thread;
std::shared_ptr<Reader> g_ctx;
std::atomic<bool> g_up{false};

// One connection's socket, closed when its last holder lets go: a sender
// keeps it open for the length of its send, so a descriptor is never used
// after it is freed, and no lock is held while a send waits on the peer.
struct Socket {
    int fd;
    explicit Socket(int f) : fd(f) {}
    ~Socket() { NetClose(fd); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
};
using SocketRef = std::shared_ptr<Socket>;

// The current socket: replaced by the reader on reconnect, dropped by close.
// The lock guards the reference only; a close can always take it to shut the
// socket down, which ends a send stuck on a peer that never reads.
std::mutex g_sockMu;
SocketRef g_sock;
std::mutex g_sendMu;   // sends go out whole, one at a time

// Wakes the reader's back-off sleep and the open's wait.
std::mutex g_waitMu;
std::condition_variable g_waitCv;

// Line mode: what has been typed since the last line end.
std::mutex g_lineMu;
char g_line[kLineCap];
size_t g_lineLen = 0;

void Trace(const std::string& s) { TracePrintf(TRC_TELNET, "%s", s.c_str()); }

void Notify() {
    std::lock_guard l(g_waitMu);
    g_waitCv.notify_all();
}

// Sleeps ms unless a close asks the reader to stop. True when stopping.
bool SleepOrStop(const Reader& r, int ms) {
    std::unique_lock l(g_waitMu);
    return g_waitCv.wait_for(l, std::chrono::milliseconds(ms), [&] { return r.stop.load(); });
}

SocketRef CurrentSocket() {
    std::lock_guard l(g_sockMu);
    return g_sock;
}

// Publishes a new connection's socket unless the reader was asked to stop
// meanwhile (then it is closed, and the result is empty).
SocketRef SetSocket(const Reader& r, int fd) {
    auto sock = std::make_shared<Socket>(fd);
    std::lock_guard l(g_sockMu);
    if (r.stop.load()) return nullptr;
    g_sock = sock;
    return sock;
}

// A reader lets go of its own socket only.
void CloseOwnSocket(SocketRef& sock) {
    {
        std::lock_guard l(g_sockMu);
        if (g_sock == sock) g_sock.reset();
    }
    sock.reset();
}

void CloseSocket() {
    std::lock_guard l(g_sockMu);
    g_sock.reset();
}

int SendAll(const char* data, size_t len) {
    SocketRef sock = CurrentSocket();
    if (!sock) return -1;
    std::lock_guard l(g_sendMu);
    return NetSendAll(sock->fd, data, len);
}

void SendReplies(const std::string& bytes) { SendAll(bytes.data(), bytes.size()); }

// Sends while the connection is up. Without auto-restart a failed send is
// fatal; with it the reader reconnects and the bytes are dropped.
void SendBytes(const char* data, size_t len) {
    if (!g_up.load() || len == 0) return;
    int r = SendAll(data, len);
    if (r < 0 && g_up.load() && !g_cfg.BACKEND_TELNET_AUTORESTART) {
        ERROR_REPORT("send");
        ProgramExit(1);
    }
}

void (*g_runStartupScript)(const char*) = [](const char*) {};

void RestartHook() {
    auto run = shell_getenv("RUN_STARTSCRIPT_ON_RESTART");
    const char* script = g_cfg.STARTUP_SCRIPT;
    if (run && *run == "TRUE" && script[0] && !std::isspace(static_cast<unsigned char>(script[0]))) {
        console_printf("Re-running startup script...\r\n");
        g_runStartupScript(script);
    }
}

// The reader gives up: the backend becomes NONE.
void Abort() {
    BackendMarkConnected(false);
    g_up = false;
    g_cfg.BACKEND_TELNET_ENABLED = 0;
    g_cfg.BACKEND = 0;
    ui().StatusRefresh();
}

void Deliver(const std::string& bytes, std::vector<uint8_t>& scratch) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    for (size_t off = 0; off < bytes.size(); off += kDeliverChunk) {
        size_t n = std::min(kDeliverChunk, bytes.size() - off);
        RxDeliver(p + off, scratch.data(), n, scratch.size());
    }
}

// Connects (with back-off while restarting). Returns the socket, or -1 when
// the reader must end (stopping, or a first connection that failed).
int Connect(Reader& r, int& delay) {
    for (;;) {
        if (r.stop.load()) return -1;
        if (delay) Trace("Telnet connection restart");
        in_addr addr{};
        if (!NetResolveIPv4(g_cfg.BACKENT_TELNET_SYS, &addr)) {
            if (r.stop.load()) return -1;
            ERROR_REPORT("gethostbyname failed");
            Abort();
            return -1;
        }
        int fd = NetConnectTcp(NetAddress(addr, g_cfg.BACKEND_TELNET_PORT), -1, &r.stop);
        if (fd >= 0) return fd;
        if (r.stop.load()) return -1;
        int e = errno;
        bool socketFault = e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM;
        if (delay) {
            if (delay < kRetryMaxMs) delay += kRetryStepMs;
            if (SleepOrStop(r, delay)) return -1;
            continue;
        }
        errno = e;
        ERROR_REPORT(socketFault ? "socket failed" : "connect failed");
        Abort();
        return -1;
    }
}

// Starts with the socket the open connected; reconnects itself.
void ReaderMain(std::shared_ptr<Reader> ctx, SocketRef sock) {
    Reader& r = *ctx;
    int delay = 0;
    std::vector<uint8_t> buf(kReadBlock);
    std::vector<uint8_t> scratch(kDeliverChunk * 5 + 64);
    TelnetParser parser;
    TelnetOutput out;
    out.display.reserve(kReadBlock);
    auto upSince = std::chrono::steady_clock::now();
    bool dropTold = false;   // this outage was announced
    for (;;) {
        if (!sock) {
            int fd = Connect(r, delay);
            if (fd < 0 || !(sock = SetSocket(r, fd))) break;
            g_up = true;
            upSince = std::chrono::steady_clock::now();
            if (delay) RestartHook();
        }
        parser = TelnetParser{};
        ssize_t n;
        for (;;) {
            n = recv(sock->fd, buf.data(), buf.size(), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            out.Clear();
            TelnetParse(parser, buf.data(), static_cast<size_t>(n), g_cfg.TELNET_CLIENT_IAC != 0,
                        g_cfg.BACKEND_TELNET_LINEMODE != 0, out);
            for (const auto& t : out.traces) Trace(t);
            if (!out.replies.empty()) SendReplies(out.replies);
            if (out.localEcho >= 0) g_cfg.LOCALECHO = out.localEcho;
            if (!out.display.empty()) Deliver(out.display, scratch);
        }
        int e = errno;
        // The connection is gone: typed bytes are not sent into a dead socket.
        g_up = false;
        if (r.stop.load()) {
            CloseOwnSocket(sock);
            break;
        }
        if (g_cfg.BACKEND_TELNET_AUTORESTART) {
            // A connection that drops soon after it came up counts as a
            // failed attempt: the waits keep growing and the outage is told
            // once, so a server that accepts and hangs up is not hammered.
            const bool brief = std::chrono::steady_clock::now() - upSince < kHeldUp;
            if (!brief) dropTold = false;
            if (!dropTold) console_printf("Remote connection dropped, retrying connection...\r\n");
            dropTold = true;
            CloseOwnSocket(sock);
            if (!brief) {
                delay = kRetryStepMs;
                continue;
            }
            delay = std::min(std::max(delay, kRetryStepMs) + kRetryStepMs, kRetryMaxMs);
            if (SleepOrStop(r, delay)) break;
            continue;
        }
        if (n < 0) {
            errno = e;
            ERROR_REPORT("recv failed");
        } else {
            OxelMessageBox("Telnet client closing", "The other end has dropped the connection\n");
        }
        if (r.stop.load() || OxelMessageBoxStyle(MB_YESNO, "Oxel", "Want to reconnect?") == IDYES) {
            CloseOwnSocket(sock);
            continue;  // a stopped reader leaves at the top
        }
        ProgramExit(1);
    }
    r.done = true;
    Notify();
}

// Ends the reader: it leaves its socket wait (shutdown) or back-off sleep.
void StopReader() {
    g_up = false;
    if (g_ctx) {
        g_ctx->stop = true;
        if (SocketRef sock = CurrentSocket()) NetShutdown(sock->fd);
        Notify();
        JoinThreadWithin(g_reader, g_ctx->done, 5000);
        g_ctx.reset();
    }
    CloseSocket();
}

}  // namespace

void TelnetParse(TelnetParser& p, const uint8_t* in, size_t len, bool interpretIac, bool lineMode,
                 TelnetOutput& out) {
    char line[64];
    auto traceRecv = [&](uint8_t c) {
        std::snprintf(line, sizeof line, "recv %u (%02x)", c, c);
        out.traces.emplace_back(line);
    };
    auto reply = [&](uint8_t cmd, uint8_t opt) {
        out.replies.push_back(static_cast<char>(IAC));
        out.replies.push_back(static_cast<char>(cmd));
        out.replies.push_back(static_cast<char>(opt));
    };
    auto done = [&] {
        out.traces.emplace_back("done");
        p.state = TelnetParser::Data;
    };
    for (size_t i = 0; i < len; ++i) {
        uint8_t c = in[i];
        switch (p.state) {
        case TelnetParser::Data: {
            // Plain data runs are copied whole; only NUL and IAC stop them.
            size_t j = i;
            while (j < len && in[j] != 0 && !(interpretIac && in[j] == IAC)) ++j;
            out.display.append(reinterpret_cast<const char*>(in + i), j - i);
            if (j == len) return;
            i = j;
            if (in[j] == IAC) p.state = TelnetParser::Command;
            break;
        }
        case TelnetParser::Command:
            traceRecv(c);
            if (c == SB) {
                out.traces.emplace_back("TELNET_SB");
                p.state = TelnetParser::Sub;
                p.sbFirst = true;
                p.ttypeSend = false;
            } else if (c == WILL || c == WONT || c == DO || c == DONT) {
                p.command = c;
                p.state = TelnetParser::Option;
            } else {
                done();
            }
            break;
        case TelnetParser::Option:
            if (p.command == WILL) {
                if (c == OPT_ECHO) {
                    out.traces.emplace_back("TELNET_WILL ECHO");
                    reply(DO, c);
                    if (!lineMode) out.localEcho = 0;
                } else if (c == OPT_TTYPE) {
                    out.traces.emplace_back("TELNET_WILL TERMTYPE");
                    reply(DO, c);
                } else if (c == OPT_SGA) {
                    out.traces.emplace_back("TELNET_WILL SUPPGOAHEAD");
                    reply(DO, c);
                } else {
                    std::snprintf(line, sizeof line, "TELNET_WILL %u", c);
                    out.traces.emplace_back(line);
                    reply(DONT, c);
                }
            } else if (p.command == WONT) {
                std::snprintf(line, sizeof line, "TELNET_WONT %u", c);
                out.traces.emplace_back(line);
            } else if (p.command == DO) {
                if (c == OPT_TTYPE) {
                    out.traces.emplace_back("TELNET_DO TERMTYPE");
                    reply(WILL, c);
                } else if (c == OPT_ECHO) {
                    out.traces.emplace_back("TELNET_DO ECHO");
                    reply(WILL, c);
                    out.localEcho = 1;
                } else {
                    std::snprintf(line, sizeof line, "TELNET_DO %u", c);
                    out.traces.emplace_back(line);
                    reply(WONT, c);
                }
            } else {
                std::snprintf(line, sizeof line, "TELNET_DONT %u", c);
                out.traces.emplace_back(line);
            }
            done();
            break;
        case TelnetParser::Sub:
            traceRecv(c);
            if (c == IAC) {
                p.state = TelnetParser::SubIac;
            } else if (p.sbFirst && c == OPT_TTYPE) {
                p.state = TelnetParser::SubTermType;
            } else {
                p.ttypeSend = false;   // not a bare TERMINAL-TYPE SEND
            }
            p.sbFirst = false;
            break;
        case TelnetParser::SubIac:
            if (c == SE) {
                out.traces.emplace_back("TELNET_SE");
                // One answer per complete IAC SB TERMINAL-TYPE SEND IAC SE
                // (RFC 1091): stray bytes inside a subnegotiation get none.
                if (p.ttypeSend) {
                    static const char kIs[] = {'\xff', '\xfa', '\x18', '\x00', 'v', 't', '1', '0', '0', '\xff', '\xf0'};
                    out.replies.append(kIs, sizeof kIs);
                    out.traces.emplace_back("TERMTYPE = VT100");
                }
                done();
            } else {
                std::snprintf(line, sizeof line, "TELNET_SB %u", c);
                out.traces.emplace_back(line);
                p.ttypeSend = false;
                p.state = TelnetParser::Sub;
            }
            break;
        case TelnetParser::SubTermType:
            // The byte after TERMINAL-TYPE: the SEND request is answered at SE.
            p.state = TelnetParser::Sub;
            if (c == IAC) {
                p.state = TelnetParser::SubIac;
            } else if (c == 1) {
                out.traces.emplace_back("TELNET_SB TERMTYPE");
                p.ttypeSend = true;
            }
            break;
        }
    }
}

int TelnetOpen() {
    std::lock_guard life(g_lifeMu);
    StopReader();
    {
        std::lock_guard l(g_lineMu);
        g_lineLen = 0;
    }
    g_up = false;
    // The first connection is made here, on the caller's thread, so its
    // failure reports are shown without waiting on another thread (the
    // caller is often the user-interface thread).
    auto ctx = std::make_shared<Reader>();
    int delay = 0;
    int fd = Connect(*ctx, delay);
    if (fd < 0) return 1;  // reported; BACKEND is NONE
    SocketRef sock = SetSocket(*ctx, fd);
    g_up = true;
    try {
        g_reader = std::thread(ReaderMain, ctx, sock);
    } catch (const std::system_error&) {
        g_up = false;
        CloseSocket();
        ERROR_REPORT("CreatThread()");
        return 0;
    }
    g_ctx = ctx;
    TraceRefreshCaption();
    BackendMarkConnected(true);
    g_cfg.BACKEND_TELNET_ENABLED = 1;
    ui().StatusRefresh();
    ui().MenuCheck(CMD_TELNET_BACKEND, true);
    shell_setenv("TELNETBACKEND_IP", g_cfg.BACKENT_TELNET_SYS);
    shell_sprintf("TELNETBACKEND_PORT", "%d", g_cfg.BACKEND_TELNET_PORT.get());
    return 1;
}

int CloseTelnetConnection() {
    std::lock_guard life(g_lifeMu);
    BackendMarkConnected(false);
    Trace("CloseTelnetConnection()");
    StopReader();
    g_up = false;
    g_cfg.BACKEND_TELNET_ENABLED = 0;
    ui().MenuCheck(CMD_TELNET_BACKEND, false);
    return 1;
}

int TelnetWrite(const char* data, size_t len) {
    if (!g_cfg.BACKEND_TELNET_LINEMODE) {
        SendBytes(data, len);
        return 1;
    }
    std::lock_guard l(g_lineMu);
    for (size_t i = 0; i < len; ++i) {
        char c = data[i];
        if (c == '\b') {
            if (g_lineLen) --g_lineLen;
            ConsoleWritePlain(" \b", 2);
            continue;
        }
        g_line[g_lineLen++] = c;
        // A line end sends the line; a full buffer is sent as it is, so
        // nothing typed is lost and the buffer never overflows.
        if (c == '\r' || c == '\n' || g_lineLen == kLineCap) {
            SendBytes(g_line, g_lineLen);
            g_lineLen = 0;
        }
    }
    return 1;
}

bool TelnetUp() { return g_up.load(); }

std::string TelnetStatusText() {
    char buf[160];
    std::snprintf(buf, sizeof buf, "TELNET %s:%d%s", g_cfg.BACKENT_TELNET_SYS, g_cfg.BACKEND_TELNET_PORT.get(),
                  g_cfg.CONSOLE_READONLY.get() ? " (readonly)" : "");
    return buf;
}

std::string TelnetConfigText() {
    if (!g_cfg.BACKENT_TELNET_SYS[0]) return {};
    return std::string(g_cfg.BACKENT_TELNET_SYS) + ":" + std::to_string(g_cfg.BACKEND_TELNET_PORT);
}

void TelnetParseHostPort(const std::string& text, std::string* host, uint16_t* port) {
    auto colon = text.find(':');
    *host = text.substr(0, colon);
    *port = 23;
    if (colon == std::string::npos) return;
    auto n = ParseUnsigned(text.c_str() + colon + 1, false);
    if (n && *n > 0 && *n <= 65535) *port = static_cast<uint16_t>(*n);
}

int TelnetConfigApply(const std::string& hostPort, bool autoRestart, bool lineMode) {
    std::string host;
    uint16_t port;
    TelnetParseHostPort(hostPort, &host, &port);
    CFG_SET_STRING(g_cfg.BACKENT_TELNET_SYS, host.c_str());
    g_cfg.BACKEND_TELNET_PORT = port;
    g_cfg.BACKEND_TELNET_AUTORESTART = autoRestart;
    g_cfg.BACKEND_TELNET_LINEMODE = lineMode;
    if (CloseConnection()) {
        g_cfg.BACKEND = 2;
        if (!OpenConnection()) ProgramExit(1);
        ui().MenuCheck(CMD_TELNET_BACKEND, true);
    }
    ConfigSetSessionOnlyBackend(false);
    return 1;
}

void TelnetSetRestartScriptHook(void (*run)(const char* script)) { g_runStartupScript = run; }

void NetBackendsInit() {
    CommandRegister({CMD_TELNET_BACKEND, "&Config/&Backend", "&Telnet...",
                     [] { ui().ShowDialog("Telnet Backend Config..."); }, true});
    CommandRegister({CMD_PLINK_BACKEND, "&Config/&Backend", "&Plink...", [] { ui().ShowDialog("PLINK Backend Config..."); }, true});
    CommandRegister({CMD_MONCMD_BACKEND, "&Config/&Backend", "&Moncmd...",
                     [] { ui().ShowDialog("Moncmd Backend Config..."); }, true});
    CommandRegister({CMD_SRV_TUNNEL, "&Servers", "T&unnel...", [] { ui().ShowDialog("OxelTunnel Connection..."); }, false});
}
