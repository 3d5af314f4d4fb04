#include "servers/syslogsrvr.h"

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

#include "config/configrecord.h"
#include "log/srvrtrace.h"
#include "platform/report.h"
#include "servers/udpserver.h"
#include "util/worker.h"

#define OXEL_MODULE "syslogsrvr"

namespace {

const char* const kSeverities[] = {"emerg", "alert", "critical", "error", "warning", "notice", "info", "debug"};

struct Facility {
    int code;
    const char* name;
};
const Facility kFacilities[] = {
    {0, "kernel"},    {8, "user"},    {16, "mail"},    {24, "daemon"},  {32, "authorize"}, {40, "syslog"},
    {48, "lpr"},      {56, "news"},   {64, "uucp"},    {72, "cron"},    {80, "authpriv"},  {88, "ftp"},
    {128, "local0"},  {136, "local1"}, {144, "local2"}, {152, "local3"}, {160, "local4"},  {168, "local5"},
    {176, "local6"},  {184, "local7"},
};

// The highest valid priority: local7.debug.
constexpr long kMaxPriority = 191;

std::mutex g_mu;   // start, stop and the dialog
WorkerThread g_receiver;
std::atomic<int> g_fd{-1};
std::atomic<uint16_t> g_port{0};

std::string Neutralised(const uint8_t* p, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F) {
            out += static_cast<char>(p[i]);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", p[i]);
            out += hex;
        }
    }
    return out;
}

// The trace refuses overlong lines, so a line is cut to fit with room for
// the time stamp and the category.
std::string Capped(std::string line) {
    if (line.size() <= kSyslogLineMax) return line;
    line.resize(kSyslogLineMax - 6);
    return line + " [cut]";
}

std::string SenderName(const sockaddr_in& from) {
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&from), sizeof from, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) == 0)
        return Neutralised(reinterpret_cast<const uint8_t*>(host), std::strlen(host));
    const auto* b = reinterpret_cast<const uint8_t*>(&from.sin_addr.s_addr);
    std::snprintf(host, sizeof host, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return host;
}

void TraceCategory(bool on) {
    if (on)
        g_cfg.TRACEFLAGS |= TRC_SYSLOG;
    else
        g_cfg.TRACEFLAGS &= ~TRC_SYSLOG;
}

void Receiver(int fd, const std::atomic<bool>& stop) {
    // One byte more than is shown, so a longer datagram is seen to be cut.
    uint8_t buf[kSyslogDatagram + 1];
    while (!stop) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 250);   // the stop flag is looked at between waits
        if (r == 0 || (r < 0 && errno == EINTR)) continue;
        sockaddr_in from{};
        socklen_t flen = sizeof from;
        ssize_t n = r < 0 ? -1 : recvfrom(fd, buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &flen);
        if (stop) break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            ERROR_REPORT("SYSLOG SERVER recvfrom()");
            break;
        }
        if (n == 0) continue;
        std::string line = SyslogLine(SenderName(from), buf, std::min(static_cast<size_t>(n), kSyslogDatagram));
        if (static_cast<size_t>(n) > kSyslogDatagram) line += " [datagram of " + std::to_string(n) + " bytes]";
        TracePrintf(TRC_SYSLOG, "%s", line.c_str());
    }
    if (close(fd) != 0) ERROR_REPORT("SYSLOG SERVER closesocket()");
    if (!stop) {
        // The receiver ended by itself: the server is off from now on.
        TracePrintf(TRC_SYSLOG, "Thread terminating");
        g_fd = -1;
        g_port = 0;
        g_cfg.SYSLOGSRVR_ENABLED = 0;
        g_cfg.SYSLOG_TOLOG_ENABLED = 0;
        TraceCategory(false);
        TraceSetServerRunning("Syslog", false);
    }
}

// Targets log in bursts at boot: a larger receive queue loses fewer of
// them (the kernel caps it at net.core.rmem_max).
const UdpServerSpec kSocket{"SYSLOG SERVER", "SYSLOGSRVR_BIND_ADDR", TRC_SYSLOG, 4 << 20};

void StopLocked() {
    g_cfg.SYSLOGSRVR_ENABLED = 0;
    g_cfg.SYSLOG_TOLOG_ENABLED = 0;
    if (g_fd >= 0) {
        g_fd = -1;
        g_receiver.Stop(5000);
        g_port = 0;
    }
    g_receiver.Stop(5000);   // a receiver that ended by itself is joined here
    TraceCategory(false);
    TraceSetServerRunning("Syslog", false);
}

int StartLocked() {
    if (!g_cfg.SYSLOGSRVR_ENABLED) return 0;
    if (g_fd >= 0) return 1;
    g_receiver.Stop(5000);
    const uint16_t port = g_cfg.SYSLOGSRVR_PORT;
    int fd = UdpServerOpen(kSocket, port);
    bool started = fd >= 0 && g_receiver.Start([fd](const std::atomic<bool>& stop) { Receiver(fd, stop); });
    if (fd >= 0 && !started) {
        close(fd);
        ERROR_REPORT("CreatThread()");
    }
    if (!started) {
        g_cfg.SYSLOGSRVR_ENABLED = 0;
        TraceCategory(false);
        TraceRefreshCaption();
        return 0;
    }
    g_fd = fd;
    g_port = port;
    TraceCategory(true);
    TraceSetServerRunning("Syslog", true);
    return 1;
}

}  // namespace

const char* SyslogSeverityName(int priority) { return kSeverities[priority & 7]; }

const char* SyslogFacilityName(int priority) {
    for (const Facility& f : kFacilities)
        if (f.code == (priority & 0x3F8)) return f.name;
    return "???";
}

std::string SyslogLine(const std::string& sender, const uint8_t* data, size_t len) {
    len = std::min(len, kSyslogDatagram);
    const auto* close = len > 0 && data[0] == '<' ? static_cast<const uint8_t*>(std::memchr(data, '>', len)) : nullptr;
    std::string head = "(from " + sender + ") ";
    if (!close) return Capped(head + "<" + Neutralised(data, len) + ">");
    size_t i = 1;
    long pri = 0;
    const size_t end = static_cast<size_t>(close - data);
    for (; i < end && data[i] >= '0' && data[i] <= '9'; ++i)
        if (pri <= kMaxPriority) pri = pri * 10 + (data[i] - '0');
    const size_t bodyStart = end + 1;
    const std::string body = Neutralised(data + bodyStart, len - bodyStart);
    // A priority that is no number or lies outside 0..191 names nothing:
    // the line says so and shows the prefix as sent.
    if (i == 1 || i != end || pri > kMaxPriority)
        return Capped(head + "PRIO: invalid <" + Neutralised(data + 1, end - 1) + ">, MSG: <" + body + ">");
    const int p = static_cast<int>(pri);
    return Capped(head + "PRIO: " + SyslogFacilityName(p) + "." + SyslogSeverityName(p) + ", MSG: <" + body + ">");
}

int SyslogsrvrStart() {
    std::lock_guard l(g_mu);
    return StartLocked();
}

void SyslogsrvrStop() {
    std::lock_guard l(g_mu);
    StopLocked();
    TraceRefreshCaption();
}

bool SyslogsrvrRunning() { return g_fd >= 0; }
uint16_t SyslogsrvrPort() { return g_port; }

int SyslogsrvrDialogApply(bool enabled, bool toLog, bool toConsole, const std::string& portText) {
    std::lock_guard l(g_mu);
    if (!enabled && g_fd >= 0) {
        StopLocked();
        TraceRefreshCaption();
        return 1;
    }
    g_cfg.SYSLOGSRVR_ENABLED = enabled;
    g_cfg.SYSLOG_TOLOG_ENABLED = toLog;
    g_cfg.SYSLOGSRVR_TOCONSOLE = toConsole;
    if (g_fd < 0) {
        long port = 0;
        for (size_t i = 0; i < portText.size() && portText[i] >= '0' && portText[i] <= '9' && port <= 65535; ++i)
            port = port * 10 + (portText[i] - '0');
        if (port < 1 || port > 65535) {
            OxelMessageBox("SYSLOG SERVER", "Port '%s' not valid", portText.c_str());
            g_cfg.SYSLOGSRVR_ENABLED = 0;
            return 0;
        }
        g_cfg.SYSLOGSRVR_PORT = static_cast<uint16_t>(port);
    }
    if (enabled && !StartLocked()) return 0;
    TraceRefreshCaption();
    return 1;
}
