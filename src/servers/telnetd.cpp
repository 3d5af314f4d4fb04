#include "servers/telnetd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "util/utils.h"
#include "backend/backend.h"
#include "backend/comport.h"
#include "config/configrecord.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "config/shellvar.h"
#include "servers/loccmd.h"
#include "util/worker.h"
#include "platform/report.h"
#include "platform/ui.h"

#define OXEL_MODULE "telnetd"

namespace {

constexpr const char* kDefaultWelcome = "\\n\\n*** Oxel Telnet Server ***\\n\\n";
constexpr uint8_t kIac = 0xFF, kSb = 0xFA, kSe = 0xF0, kWill = 0xFB, kDont = 0xFE;
constexpr int kPasswordMax = 65;
constexpr int kPasswordEntryMs = 60000;     // a login prompt is not held open for ever
constexpr int kSendTimeoutMs = 1000;        // a stuck send is retried, or given up when closing
constexpr size_t kSendChunk = 16384;

// One connected client. The table holds it while the slot is in use; its
// session thread holds it until that thread ends, so nothing ever reaches a
// freed record. The descriptor is closed only by the session thread, after
// its writer has left and under the queue lock, so no send or shutdown can
// reach a reused descriptor.
struct Client {
    int index = 0;
    int fd = -1;
    sockaddr_in address{};
    int access = 0;             // 1 read-only user, 2 the 'write' user (read-only all but one)
    int lcmdRefused = 0;
    std::atomic<bool> joined{false};    // past the password: receives target output

    std::mutex mu;              // guards everything below
    std::condition_variable cv;
    std::string queue;          // bytes for the client, oldest first from head
    size_t head = 0;
    bool closing = false;       // the writer flushes what is queued and leaves
    bool failed = false;        // gone, dropped or stopped: nothing more is sent
    bool fdOpen = true;
    std::chrono::steady_clock::time_point progress = std::chrono::steady_clock::now();   // last send that went out

    char rbuf[4096];
    size_t rpos = 0, rlen = 0;

    size_t Pending() const { return queue.size() - head; }
};

struct Failures {
    int count = 0;
    uint64_t lastMs = 0;
};

std::mutex g_tableMu;
std::condition_variable g_tableCv;          // a slot freed, a session ended, stop
std::array<std::shared_ptr<Client>, kTelnetSlots> g_slots;
int g_liveSessions = 0;                     // session threads not yet ended

std::atomic<int> g_count{0};
std::atomic<bool> g_stop{false};
std::atomic<bool> g_running{false};
std::atomic<bool> g_localCmds{false};
std::atomic<uint16_t> g_boundPort{0};
std::atomic<int> g_listenFd{-1};
WorkerThread g_listener;

std::mutex g_failMu;
std::map<uint32_t, Failures> g_failures;    // recent wrong passwords per address

std::string Peer(const Client& c) {
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &c.address.sin_addr, ip, sizeof ip);
    return ip;
}
int PeerPort(const Client& c) { return ntohs(c.address.sin_port); }

void PublishCount() {
    shell_setenv("TELNETCLIENTS", std::to_string(g_count.load()).c_str());
}

void StatusRefresh() { ui().StatusRefresh(); }

void ShowCaption() {
    TraceSetServerRunning("Telnet", false);
    if (g_running) TraceSetServerRunning(g_localCmds ? "Telnet&Lcmd" : "Telnet", true);
}

// ---- Output: per-client queues ----------------------------------------------

// Marks the client gone and wakes its session (blocked in recv) and writer.
void FailLocked(Client& c) {
    c.failed = true;
    if (c.fdOpen) shutdown(c.fd, SHUT_RDWR);
    c.cv.notify_all();
}

// Target output: never waits. A client that has stopped reading is dropped
// rather than allowed to stall the console and the others.
bool EnqueueOrDrop(Client& c, const char* data, size_t len) {
    std::lock_guard l(c.mu);
    if (c.failed || c.closing) return true;
    const size_t after = c.Pending() + len;
    if (after > kTelnetQueueLimit &&
        (after > kTelnetQueueHardLimit ||
         std::chrono::steady_clock::now() - c.progress > std::chrono::milliseconds(kTelnetStallMs))) {
        FailLocked(c);
        return false;
    }
    c.queue.append(data, len);
    c.cv.notify_all();
    return true;
}

// The session's own replies: waits for room, so a long host-command output
// is paced by the client instead of dropping it.
void SlotSend(Client& c, const std::string& bytes) {
    std::unique_lock l(c.mu);
    c.cv.wait(l, [&] { return c.failed || c.closing || c.Pending() + bytes.size() <= kTelnetQueueLimit; });
    if (c.failed || c.closing) return;
    c.queue += bytes;
    c.cv.notify_all();
}

void WriterLoop(Client* c) {
    std::unique_lock l(c->mu);
    for (;;) {
        c->cv.wait(l, [&] { return c->failed || c->closing || c->Pending() > 0; });
        if (c->failed || c->Pending() == 0) break;
        std::string chunk = c->queue.substr(c->head, kSendChunk);
        l.unlock();
        ssize_t n = send(c->fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        int err = errno;
        l.lock();
        if (n > 0) {
            c->progress = std::chrono::steady_clock::now();
            c->head += static_cast<size_t>(n);
            if (c->head == c->queue.size() || c->head > kSendChunk * 4) {
                c->queue.erase(0, c->head);
                c->head = 0;
            }
            c->cv.notify_all();
            continue;
        }
        if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) && !c->closing) continue;
        FailLocked(*c);
        break;
    }
    c->cv.notify_all();
}

void sockPrintfTo(Client& c, const std::string& text) { SlotSend(c, text); }

// ---- Input --------------------------------------------------------------------

// The next byte from the client, -1 when the connection failed or closed, or
// (deadlineMs != 0) the time ran out.
int ReadByte(Client& c, uint64_t deadlineMs = 0) {
    if (c.rpos < c.rlen) return static_cast<uint8_t>(c.rbuf[c.rpos++]);
    for (;;) {
        if (deadlineMs) {
            uint64_t now = ClockTickMs();
            if (now >= deadlineMs) return -1;
            pollfd p{c.fd, POLLIN, 0};
            int r = poll(&p, 1, static_cast<int>(deadlineMs - now));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return -1;
        }
        ssize_t n = recv(c.fd, c.rbuf, sizeof c.rbuf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        c.rpos = 1;
        c.rlen = static_cast<size_t>(n);
        return static_cast<uint8_t>(c.rbuf[0]);
    }
}

bool ClientGone(Client& c) {
    std::lock_guard l(c.mu);
    return c.failed || g_stop;
}

// ---- The session ---------------------------------------------------------------

// Waits ms, or less when the server stops.
void PauseMs(int ms) {
    std::unique_lock l(g_tableMu);
    g_tableCv.wait_for(l, std::chrono::milliseconds(ms), [] { return g_stop.load(); });
}

int RecentFailures(uint32_t addr) {
    std::lock_guard l(g_failMu);
    auto it = g_failures.find(addr);
    if (it == g_failures.end()) return 0;
    if (ClockTickMs() - it->second.lastMs > 5 * 60 * 1000) {
        g_failures.erase(it);
        return 0;
    }
    return it->second.count;
}

int NoteFailure(uint32_t addr) {
    std::lock_guard l(g_failMu);
    if (g_failures.size() > 4096) g_failures.clear();   // bounded, whatever the senders
    Failures& f = g_failures[addr];
    f.count++;
    f.lastMs = ClockTickMs();
    return f.count;
}

// Step 3: 1 accepted, 0 refused (the connection is then closed).
int PasswordExchange(Client& c, const std::string& password) {
    const uint32_t addr = c.address.sin_addr.s_addr;
    // Tries from an address that just failed wait before they are even asked.
    if (int recent = RecentFailures(addr)) PauseMs(PasswordFailureDelayMs(recent));
    sockPrintfTo(c, SockText("\n\n%s", "OxelPassword: "));
    PasswordEntry e;
    const uint64_t deadline = ClockTickMs() + kPasswordEntryMs;
    for (;;) {
        int b = ReadByte(c, deadline);
        if (b < 0) return 0;
        PasswordStep step = PasswordByte(e, static_cast<uint8_t>(b));
        if (step == PasswordStep::Echo) sockPrintfTo(c, " ");
        if (step == PasswordStep::TooLong) break;
        if (step != PasswordStep::Done) continue;
        if (PasswordMatches(e.typed, password.c_str())) {
            sockPrintfTo(c, "\r\n");
            return 1;
        }
        break;
    }
    int n = NoteFailure(addr);
    TracePrintf(TRC_TELNET, "wrong password from %s, port %d", Peer(c).c_str(), PeerPort(c));
    PauseMs(PasswordFailureDelayMs(n));
    return 0;
}

bool ReadOnlyClient(const Client& c) {
    return g_cfg.TELNET_READONLY || (g_cfg.TELNET_READONLYABO && (c.access & 1));
}

// Steps 4 and 5.
void Welcome(Client& c) {
    std::string welcome = ExpandEscapes(std::string(g_cfg.TELNET_WELCOME));
    if (welcome.size() > 127) welcome.resize(127);
    if (!welcome.empty()) {
        sockPrintfTo(c, SockText("\n\n%s\n\n", welcome.c_str()));
        sockPrintfTo(c, ReadOnlyClient(c) ? SockText("You are connected in read-only mode\n")
                                          : SockText("You are connected in read-write mode\n"));
        int n = g_count.load();
        sockPrintfTo(c, SockText("(%d active connection%s)\n", n, n > 1 ? "s" : ""));
    }
    sockPrintfTo(c, SockText("\nConnection to %s\n", TelnetBackendText(g_cfg, ComConnected()).c_str()));
}

void RunLocalCommand(Client& c) {
    LocalCmdClient io;
    io.readByte = [&c] { return ReadByte(c); };
    io.send = [&c](const std::string& s) { SlotSend(c, s); };
    io.gone = [&c] { return ClientGone(c); };
    io.peer = Peer(c);
    io.port = PeerPort(c);
    int r = doLocalCmd(io);
    if (r < 0) OxelMessageBox("doLocalCmd", "%d", r);
}

// Step 6: 0 when the loop ends.
void SessionLoop(Client& c) {
    TelnetInput st;
    for (;;) {
        int got = ReadByte(c);
        if (got < 0) return;
        const uint8_t b = static_cast<uint8_t>(got);
        const char ch = static_cast<char>(b);
        TelnetIn k = TelnetInputByte(st, b);
        if (k == TelnetIn::Skip) continue;
        if (g_cfg.LOCALECHO) TelnetdBroadcast(&ch, 1);
        if (k == TelnetIn::CtrlP) {
            if (g_localCmds && !g_cfg.TELNET_READONLY) {
                if (!g_cfg.TELNET_READONLYABO || c.access == 2) {
                    RunLocalCommand(c);
                    continue;
                }
            } else if (!c.lcmdRefused) {
                c.lcmdRefused = 1;
                sockPrintfTo(c, SockText("\nLocal cmd execution not enabled\n"));
                TracePrintf(TRC_TELNET, "Local command request denied");
                continue;
            }
            k = TelnetInputOrdinary(st, b);
        }
        if (k == TelnetIn::Fold || ReadOnlyClient(c)) continue;
        if (BackendWrite(&ch, 1) <= 0) return;
        if (g_cfg.DELAY_BETWEEN_CHARS > 0) hiresSleep(static_cast<unsigned>(g_cfg.DELAY_BETWEEN_CHARS));
        if (b == '\r' && g_cfg.ENTER_IS_CRLF && BackendWrite("\n", 1) <= 0) return;
    }
}

// The 'write' user left in read-only-all-but-one mode: everybody else goes.
void DropReadOnlyClients(const Client& writer) {
    TracePrintf(TRC_TELNET, "ABO cleanup");
    static const char kNotice[] = "\n*** Connection terminated because 'write' user dropped off ***\n";
    TelnetdBroadcast(kNotice, sizeof kNotice - 1);
    PauseMs(1000);
    int dropped = 0;
    std::lock_guard t(g_tableMu);
    for (auto& other : g_slots) {
        if (!other || other.get() == &writer || (other->access & 2)) continue;
        TracePrintf(TRC_TELNET, "Dropping tcon %d", other->index);
        // The writer still sends the notice; the session sees its end of input.
        std::lock_guard l(other->mu);
        other->closing = true;
        other->cv.notify_all();
        if (other->fdOpen) shutdown(other->fd, SHUT_RD);
        dropped++;
    }
    TracePrintf(TRC_TELNET, "tcon droptot: %d", dropped);
}

// Step 8: flush, close, free the slot.
void CloseSession(const std::shared_ptr<Client>& c, std::thread& writer) {
    {
        std::lock_guard l(c->mu);
        c->closing = true;
        c->cv.notify_all();
    }
    if (writer.joinable()) writer.join();
    {
        std::lock_guard l(c->mu);
        c->fdOpen = false;
        close(c->fd);
    }
    if (g_cfg.TELNET_READONLYABO && c->access == 2 && !g_stop) DropReadOnlyClients(*c);
    TracePrintf(TRC_TELNET, "connection with %s, port %d dropped", Peer(*c).c_str(), PeerPort(*c));
    // Counted out before the slot is offered again, so a newcomer's
    // welcome never counts the one who left.
    g_count--;
    PublishCount();
    {
        std::lock_guard t(g_tableMu);
        if (g_slots[c->index] == c) g_slots[c->index].reset();
        g_tableCv.notify_all();
    }
    StatusRefresh();
}

void Session(std::shared_ptr<Client> c) {
    TracePrintf(TRC_TELNET, "accepted connection with %s, port %d, slot %d", Peer(*c).c_str(), PeerPort(*c),
                c->index);
    g_count++;
    PublishCount();
    StatusRefresh();
    std::thread writer;
    try {
        writer = std::thread(WriterLoop, c.get());
    } catch (const std::system_error&) {
        ERROR_REPORT("CreatThread()");
    }
    if (writer.joinable()) {
        static const char kNegotiate[] = "\xff\xfd\x22\xff\xfb\x01";   // DO LINEMODE, WILL ECHO
        SlotSend(*c, std::string(kNegotiate, 6));
        const std::string password = g_cfg.TELNET_PASSWORD;
        if (password.empty() || PasswordExchange(*c, password)) {
            c->joined = true;
            Welcome(*c);
            SessionLoop(*c);
        }
    }
    CloseSession(c, writer);
    std::lock_guard t(g_tableMu);
    g_liveSessions--;
    g_tableCv.notify_all();
}

// ---- The listener ----------------------------------------------------------------

in_addr BindAddress() {
    in_addr a{};
    a.s_addr = htonl(INADDR_ANY);
    if (auto v = shell_getenv("TELNET_BIND_ADDR"); v && !v->empty() && inet_pton(AF_INET, v->c_str(), &a) != 1) {
        TracePrintf(TRC_TELNET, "TELNET_BIND_ADDR '%s' is not an IPv4 address; using all interfaces", v->c_str());
        a.s_addr = htonl(INADDR_ANY);
    }
    return a;
}

// Step 3: the port that bound, or 0.
uint16_t BindWithFallback(int fd, uint16_t port) {
    const in_addr addr = BindAddress();
    for (int i = 0; i < kTelnetBindTries; ++i, ++port) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr = addr;
        sa.sin_port = htons(port);
        if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return port;
        if (errno == EACCES)
            TracePrintf(TRC_TELNET, "Port %d needs privileges (CAP_NET_BIND_SERVICE); pick a port above 1023", port);
        TracePrintf(TRC_TELNET, "Bind to port %d failed, trying %d", port, port + 1);
    }
    return 0;
}

int FirstFreeSlot() {
    for (int i = 0; i < kTelnetSlots; ++i)
        if (!g_slots[i]) return i;
    return -1;
}

// Step 5's wait: a free slot, or -1 when stopping. A full table is looked at
// again every second; connections wait in the backlog meanwhile.
int WaitFreeSlot() {
    std::unique_lock l(g_tableMu);
    for (;;) {
        if (g_stop) return -1;
        int i = FirstFreeSlot();
        if (i >= 0) return i;
        g_tableCv.wait_for(l, std::chrono::milliseconds(1000));
    }
}

int SlotsInUseLocked() {
    int n = 0;
    for (const auto& s : g_slots) n += s ? 1 : 0;
    return n;
}

void AcceptLoop(int fd) {
    for (;;) {
        int slot = WaitFreeSlot();
        if (slot < 0) return;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int cfd = accept4(fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (g_stop) {
            if (cfd >= 0) close(cfd);
            return;
        }
        if (cfd < 0) {
            // A peer that gave up before the accept is not the server's failure.
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
            ERROR_REPORT("accept() failed");
            return;
        }
        timeval tv{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
        setsockopt(cfd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        auto c = std::make_shared<Client>();
        c->index = slot;
        c->fd = cfd;
        c->address = peer;
        {
            std::lock_guard t(g_tableMu);
            g_slots[slot] = c;
            if (g_cfg.TELNET_READONLYABO) c->access = SlotsInUseLocked() == 1 ? 2 : 1;
            g_liveSessions++;
        }
        try {
            std::thread(Session, c).detach();
        } catch (const std::system_error&) {
            {
                std::lock_guard t(g_tableMu);
                g_slots[slot].reset();
                g_liveSessions--;
            }
            close(cfd);
            ERROR_REPORT("CreatThread()");
            return;
        }
    }
}

void Listener(uint16_t port) {
    g_count = 0;
    PublishCount();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ERROR_REPORT("socket() error");
    } else {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        g_listenFd = fd;
        uint16_t bound = BindWithFallback(fd, port);
        if (bound == 0) {
            OxelMessageBox("TELNET SERVER", "Bind failed, server disabled");
        } else {
            if (bound != g_cfg.TELNET_PORT) {
                g_cfg.TELNET_PORT = bound;
                StatusRefresh();
            }
            if (listen(fd, 5) != 0) {
                ERROR_REPORT("listen() failed");
            } else {
                g_boundPort = bound;
                AcceptLoop(fd);
            }
        }
    }
    g_boundPort = 0;
    if (!g_stop) {
        // Ended on its own: nothing listens any more.
        int lfd = g_listenFd.exchange(-1);
        if (lfd >= 0) close(lfd);
        g_running = false;
        ShowCaption();
        StatusRefresh();
    }
}

}  // namespace

// ---- Pure pieces -------------------------------------------------------------------

bool TelnetSkipCommand(TelnetInput& s, uint8_t b) {
    using I = TelnetInput::Iac;
    switch (s.iac) {
    case I::None:
        if (b != kIac) return false;
        s.iac = I::Command;
        return true;
    case I::Command:
        // SB opens a subnegotiation, WILL/WONT/DO/DONT take an option byte;
        // a doubled IAC and the one-byte commands (NOP, AYT, ...) end here,
        // so typing after them is not swallowed.
        if (b == kSb) s.iac = I::Sub;
        else if (b >= kWill && b <= kDont) s.iac = I::Option;
        else s.iac = I::None;
        return true;
    case I::Option: s.iac = I::None; return true;
    case I::Sub:
        if (b == kIac) s.iac = I::SubIac;
        return true;
    case I::SubIac: s.iac = b == kSe ? I::None : I::Sub; return true;
    }
    return true;
}

TelnetIn TelnetInputOrdinary(TelnetInput& s, uint8_t b) {
    if (b == '\r' || b == '\n') {
        s.atLineStart = true;
        const uint8_t other = b == '\r' ? '\n' : '\r';
        if (s.lastEnd == other) {
            s.lastEnd = 0;
            return TelnetIn::Fold;
        }
        s.lastEnd = b;
        return TelnetIn::Data;
    }
    s.lastEnd = 0;
    s.atLineStart = false;
    return TelnetIn::Data;
}

TelnetIn TelnetInputByte(TelnetInput& s, uint8_t b) {
    if (TelnetSkipCommand(s, b) || b == 0) return TelnetIn::Skip;
    if (b == 0x10 && s.atLineStart) return TelnetIn::CtrlP;
    return TelnetInputOrdinary(s, b);
}

std::string TelnetTargetBytes(TelnetInput& s, const uint8_t* data, size_t len, bool enterIsCrLf) {
    std::string out;
    for (size_t i = 0; i < len; ++i) {
        TelnetIn k = TelnetInputByte(s, data[i]);
        if (k == TelnetIn::CtrlP) k = TelnetInputOrdinary(s, data[i]);
        if (k != TelnetIn::Data) continue;
        out += static_cast<char>(data[i]);
        if (data[i] == '\r' && enterIsCrLf) out += '\n';
    }
    return out;
}

PasswordStep PasswordByte(PasswordEntry& e, uint8_t b) {
    if (TelnetSkipCommand(e.telnet, b) || b == 0) return PasswordStep::More;
    if (b == '\r' || b == '\n') return PasswordStep::Done;
    e.typed += static_cast<char>(b);
    return ++e.counted >= kPasswordMax ? PasswordStep::TooLong : PasswordStep::Echo;
}

bool PasswordMatches(const std::string& typed, const char* password) {
    const size_t n = std::strlen(password);
    // Every comparison walks the whole field, whatever matched.
    unsigned diff = static_cast<unsigned>(typed.size() ^ n);
    for (size_t i = 0; i < kPasswordMax; ++i) {
        unsigned a = i < typed.size() ? static_cast<uint8_t>(typed[i]) : 0;
        unsigned b = i < n ? static_cast<uint8_t>(password[i]) : 0;
        diff |= a ^ b;
    }
    return diff == 0 && n < kPasswordMax;
}

int PasswordFailureDelayMs(int recentFailures) {
    if (recentFailures <= 0) return 0;
    int shift = std::min(recentFailures - 1, 4);
    return 1000 << shift;   // 1, 2, 4, 8, then 16 seconds
}

std::string TelnetBackendText(const ConfigRecord& c, bool comOpen) {
    char buf[256];
    switch (c.BACKEND) {
    case 1:
        if (comOpen) std::snprintf(buf, sizeof buf, "COM%d @ %dbaud", c.COMPORT.get(), c.BAUDRATE.get());
        else if (c.COMPORT == 1025) std::snprintf(buf, sizeof buf, "Internal Loopback");
        else std::snprintf(buf, sizeof buf, "COM%d (currently disconnected)", c.COMPORT.get());
        break;
    case 2: std::snprintf(buf, sizeof buf, "TELNET %s:%d", c.BACKENT_TELNET_SYS, c.BACKEND_TELNET_PORT.get()); break;
    case 3: std::snprintf(buf, sizeof buf, "MONCMD %s:%d", c.BACKENT_MONCMD_SYS, c.BACKEND_MONCMD_PORT.get()); break;
    case 4: std::snprintf(buf, sizeof buf, "PLINK %s\n", c.BACKENT_PLINK_ARGS); break;
    default: std::snprintf(buf, sizeof buf, "???"); break;
    }
    return buf;
}

std::string TelnetCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char ch : text) {
        if (ch == '\n') out += '\r';
        out += ch;
    }
    return out;
}

std::string SockText(const char* fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return {};
    return TelnetCrLf(buf);
}

// ---- Server ---------------------------------------------------------------------

int TelnetdStart(uint16_t port) {
    if (g_running) return 1;
    g_stop = false;
    g_running = true;
    if (!g_listener.Start([port](const std::atomic<bool>&) { Listener(port); })) {
        g_running = false;
        ERROR_REPORT("CreatThread()");
        return 0;
    }
    ShowCaption();
    return 1;
}

void TelnetdStop() {
    g_stop = true;
    {
        std::lock_guard t(g_tableMu);
        for (auto& c : g_slots) {
            if (!c) continue;
            std::lock_guard l(c->mu);
            FailLocked(*c);
        }
        g_tableCv.notify_all();
    }
    if (int fd = g_listenFd.load(); fd >= 0) shutdown(fd, SHUT_RDWR);
    g_listener.Stop(3000);
    {
        // A session busy in a local command may outlive the wait; it holds
        // its own record and leaves on its own.
        std::unique_lock t(g_tableMu);
        g_tableCv.wait_for(t, std::chrono::milliseconds(3000), [] { return g_liveSessions == 0; });
        for (auto& c : g_slots) c.reset();
    }
    if (int fd = g_listenFd.exchange(-1); fd >= 0) close(fd);
    g_running = false;
    g_count = 0;
    PublishCount();
    ShowCaption();
    StatusRefresh();
}

bool TelnetdRunning() { return g_running; }
uint16_t TelnetdBoundPort() { return g_boundPort; }
int TelnetdClientCount() { return g_count; }

void TelnetdSetLocalCommands(bool on) {
    g_localCmds = on;
    ShowCaption();
}
bool TelnetdLocalCommands() { return g_localCmds; }

void TelnetdBroadcast(const char* data, size_t len) {
    if (g_count == 0 || len == 0) return;
    std::vector<std::shared_ptr<Client>> dropped;
    {
        std::lock_guard t(g_tableMu);
        for (auto& c : g_slots)
            if (c && c->joined && !EnqueueOrDrop(*c, data, len)) dropped.push_back(c);
    }
    for (const auto& c : dropped)
        TracePrintf(TRC_TELNET, "client %s, port %d, slot %d not reading: dropped", Peer(*c).c_str(), PeerPort(*c),
                    c->index);
}

int TelnetdSetWelcome(const char* text) {
    if (!text || !*text) {
        CFG_SET_STRING(g_cfg.TELNET_WELCOME, kDefaultWelcome);
        return 1;
    }
    if (std::strlen(text) > 127) return 0;
    CFG_SET_STRING(g_cfg.TELNET_WELCOME, text);
    return 1;
}

void TelnetdDialogApply(const TelnetDialogValues& v) {
    CFG_SET_STRING(g_cfg.TELNET_WELCOME, v.welcome.c_str());
    CFG_SET_STRING(g_cfg.TELNET_PASSWORD, v.password.c_str());
    g_localCmds = v.localCommands;
    if (!g_running) {
        // The port and the modes are fixed while the server runs.
        g_cfg.TELNET_PORT = v.port;
        g_cfg.TELNET_READONLY = v.readOnly && !v.readOnlyAbo;
        g_cfg.TELNET_READONLYABO = v.readOnlyAbo && !v.readOnly;
    }
    if (v.enabled && !g_running) {
        g_count = 0;
        g_cfg.TELNET_ENABLED = 1;
        TelnetdStart(g_cfg.TELNET_PORT);
    } else if (!v.enabled && g_running) {
        TelnetdStop();
        g_cfg.TELNET_ENABLED = 0;
        g_count = 0;
    }
    PublishCount();
    ShowCaption();
    StatusRefresh();
}

void TelnetdInit() { PublishCount(); }
