#include "servers/moncmdsrvr.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "util/utils.h"
#include "config/configrecord.h"
#include "log/srvrtrace.h"
#include "config/shellvar.h"
#include "servers/loccmd.h"
#include "servers/remotepress.h"
#include "util/worker.h"
#include "platform/report.h"
#include "platform/ui.h"

#define OXEL_MODULE "moncmdsrvr"

namespace {

struct Prefix {
    const char* text;
    MoncmdKind kind;
};
const Prefix kPrefixes[] = {
    {"SCRCMD: ", MoncmdKind::Scrcmd}, {"BUTTON: ", MoncmdKind::Button}, {"FKEY: ", MoncmdKind::Fkey}};

// The receiver owns the socket and closes it as its last act, so a receiver
// busy in a long command when Stop gives up waiting never has its descriptor
// closed (and reused) under it.
std::mutex g_mu;                // start, stop and the dialog
WorkerThread g_receiver;
std::atomic<int> g_fd{-1};      // the running socket, -1 when stopped
std::atomic<uint16_t> g_port{0};
std::atomic<int> g_lookups{0};

// The one-entry name cache, used by the receiver thread only.
uint32_t g_cachedAddr = 0;
std::string g_cachedName;

int LeadingDecimal(const std::string& s) {
    size_t i = s.find_first_not_of(' ');
    long n = 0;
    for (; i != std::string::npos && i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        if (n < 1000000) n = n * 10 + (s[i] - '0');
    return static_cast<int>(n);
}

const std::string& SenderName(const sockaddr_in& from) {
    if (!g_cachedName.empty() && g_cachedAddr == from.sin_addr.s_addr) return g_cachedName;
    char host[NI_MAXHOST];
    g_lookups++;
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&from), sizeof from, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) == 0) {
        g_cachedName = host;
    } else {
        const auto* b = reinterpret_cast<const uint8_t*>(&from.sin_addr.s_addr);
        std::snprintf(host, sizeof host, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
        g_cachedName = host;
    }
    g_cachedAddr = from.sin_addr.s_addr;
    return g_cachedName;
}

void Carry(const MoncmdRequest& r) {
    switch (r.kind) {
    case MoncmdKind::Scrcmd:
        TracePrintf(TRC_MONCMD, "MONCMD script cmd: <%s>", r.rest.c_str());
        RemoteDocmd(r.rest.c_str());
        break;
    case MoncmdKind::Button:
        TracePrintf(TRC_MONCMD, "MONCMD button: <%s>", r.rest.c_str());
        if (r.number >= 1 && r.number <= 16) RemotePressButton(r.number);
        break;
    case MoncmdKind::Fkey:
        TracePrintf(TRC_MONCMD, "MONCMD funckey: <%s>", r.rest.c_str());
        if (r.number >= 1 && r.number <= 12) RemotePressFkey(r.number);
        break;
    case MoncmdKind::Unknown: TracePrintf(TRC_MONCMD, "MONCMD unknown command"); break;
    }
}

void Receiver(int fd, const std::atomic<bool>& stop) {
    uint8_t buf[kMoncmdDatagram];
    while (!stop) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 250);   // the stop flag is looked at between waits
        if (r == 0 || (r < 0 && errno == EINTR)) continue;
        std::memset(buf, 0, sizeof buf);
        sockaddr_in from{};
        socklen_t flen = sizeof from;
        ssize_t n = r < 0 ? -1 : recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &flen);
        if (stop) break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            ERROR_REPORT("MONCMD SERVER recvfrom()");
            if (!g_cfg.MONCMDSRVR_ENABLED) break;
            continue;
        }
        MoncmdRequest req = MoncmdParse(buf, static_cast<size_t>(n));
        TracePrintf(TRC_MONCMD, "MONCMD (from %s): <%s>", SenderName(from).c_str(), req.text.c_str());
        Carry(req);
        static const char kAck = 0;
        if (sendto(fd, &kAck, 1, 0, reinterpret_cast<sockaddr*>(&from), flen) < 1)
            ERROR_REPORT("MONCMD SERVER sendto()");
    }
    if (close(fd) != 0) ERROR_REPORT("MONCMD SERVER closesocket()");
}

in_addr BindAddress() {
    in_addr a{};
    a.s_addr = htonl(INADDR_ANY);
    if (auto v = shell_getenv("MONCMDSRVR_BIND_ADDR"); v && !v->empty() && inet_pton(AF_INET, v->c_str(), &a) != 1) {
        TracePrintf(TRC_MONCMD, "MONCMDSRVR_BIND_ADDR '%s' is not an IPv4 address; using all interfaces", v->c_str());
        a.s_addr = htonl(INADDR_ANY);
    }
    return a;
}

// The bound socket, or -1 (the failure has been reported).
int OpenSocket(uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ERROR_REPORT("MONCMD SERVER socket()");
        return -1;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = BindAddress();
    sa.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
    if (errno == EADDRINUSE) {
        OxelMessageBox("MONCMD SERVER", "port %d in use", port);
    } else if (errno == EACCES) {
        OxelMessageBox("MONCMD SERVER", "port %d needs privileges: run with CAP_NET_BIND_SERVICE, or pick a port above 1023",
                       port);
    } else {
        ERROR_REPORT("MONCMD SERVER bind()");
    }
    close(fd);
    return -1;
}

void StopLocked() {
    if (g_fd < 0) return;
    g_fd = -1;
    g_receiver.Stop(5000);
    g_port = 0;
    TraceSetServerRunning("Moncmd", false);
}

int StartLocked() {
    if (!g_cfg.MONCMDSRVR_ENABLED) return 0;
    if (g_fd >= 0) return 1;
    const uint16_t port = g_cfg.MONCMDSRVR_PORT;
    int fd = OpenSocket(port);
    if (fd < 0) {
        g_cfg.MONCMDSRVR_ENABLED = 0;
        TraceRefreshCaption();
        return 0;
    }
    if (!g_receiver.Start([fd](const std::atomic<bool>& stop) { Receiver(fd, stop); })) {
        close(fd);
        g_cfg.MONCMDSRVR_ENABLED = 0;
        ERROR_REPORT("CreatThread()");
        return 0;
    }
    g_fd = fd;
    g_port = port;
    TraceSetServerRunning("Moncmd", true);
    return 1;
}

}  // namespace

MoncmdRequest MoncmdParse(const uint8_t* data, size_t len) {
    MoncmdRequest r;
    len = std::min(len, kMoncmdDatagram);
    const void* nul = std::memchr(data, 0, len);
    size_t n = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : len;
    r.text.assign(reinterpret_cast<const char*>(data), n);
    for (const Prefix& p : kPrefixes) {
        size_t plen = std::strlen(p.text);
        if (r.text.compare(0, plen, p.text) != 0) continue;
        r.kind = p.kind;
        r.rest = r.text.substr(plen);
        if (p.kind != MoncmdKind::Scrcmd) r.number = LeadingDecimal(r.rest);
        break;
    }
    return r;
}

int MoncmdsrvrStart() {
    std::lock_guard l(g_mu);
    return StartLocked();
}

void MoncmdsrvrStop() {
    std::lock_guard l(g_mu);
    StopLocked();
    g_cfg.MONCMDSRVR_ENABLED = 0;
}

bool MoncmdsrvrRunning() { return g_fd >= 0; }
uint16_t MoncmdsrvrPort() { return g_port; }
int MoncmdsrvrLookups() { return g_lookups; }

void MoncmdsrvrDialogApply(bool enabled, const std::string& portText) {
    std::lock_guard l(g_mu);
    if (enabled) {
        auto port = ParseUnsigned(portText.c_str());
        if (!port || *port == 0 || *port > 65535) {
            OxelMessageBox("MONCMD SERVER", "Port '%s' not valid", portText.c_str());
            return;
        }
        if (g_fd >= 0 && *port == g_port) {
            OxelMessageBox("MONCMD SERVER", "already running");
            return;
        }
        StopLocked();
        g_cfg.MONCMDSRVR_PORT = static_cast<uint16_t>(*port);
        g_cfg.MONCMDSRVR_ENABLED = 1;
        StartLocked();
    } else if (g_fd >= 0) {
        StopLocked();
        g_cfg.MONCMDSRVR_ENABLED = 0;
    }
    TraceRefreshCaption();
}
