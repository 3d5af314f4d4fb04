#include "backend/oxeltunnel.h"

#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/report.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/ui.h"

#define OXEL_MODULE "oxeltunnel"

namespace {

std::mutex g_lifeMu;
// Never destroyed: a thread still running at exit must not end the program.
std::thread& g_thread = *new std::thread;
std::atomic<bool> g_running{false};   // the thread exists (connecting or up)
std::atomic<bool> g_up{false};
std::atomic<bool> g_stop{false};
std::atomic<bool> g_done{true};
std::mutex g_sockMu;
int g_sock = -1;
std::mutex g_cfgMu;
std::string g_host;
int g_port = 8001;

void Down() {
    g_up = false;
    std::lock_guard l(g_sockMu);
    NetClose(g_sock);
}

void TunnelMain(std::string host, int port) {
    in_addr addr{};
    int fd = -1;
    const char* failed = nullptr;
    if (!NetResolveIPv4(host.c_str(), &addr)) {
        failed = "gethostbyname failed";
    } else {
        fd = NetConnectTcp(NetAddress(addr, static_cast<uint16_t>(port)), 30000, &g_stop);
        if (fd < 0 && !g_stop.load())
            failed = (errno == EMFILE || errno == ENFILE || errno == ENOBUFS) ? "socket failed" : "connect failed";
    }
    if (fd < 0) {
        // The user only asked for a mirror: a server that cannot be reached
        // is reported and leaves the tunnel down; the program goes on.
        int e = errno;
        g_running = false;
        if (failed) {
            errno = e;
            ERROR_REPORT("%s", failed);
        }
        g_done = true;
        return;
    }
    {
        std::lock_guard l(g_sockMu);
        g_sock = fd;
    }
    g_up = true;
    char buf[4096];
    std::vector<char> out;
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!g_stop.load()) {
                if (n < 0) ERROR_REPORT("recv failed");
                else OxelMessageBox("Tunnel closing", "Connection dropped\n");
            }
            break;
        }
        // Each byte goes to the target; a CR gains an LF when Enter means CR LF.
        out.clear();
        bool crlf = g_cfg.ENTER_IS_CRLF != 0;
        for (ssize_t i = 0; i < n; ++i) {
            out.push_back(buf[i]);
            if (buf[i] == '\r' && crlf) out.push_back('\n');
        }
        if (BackendWrite(out.data(), out.size()) <= 0) break;
    }
    {
        // Only this thread's socket: a late thread never closes a newer one.
        std::lock_guard l(g_sockMu);
        if (g_sock == fd) {
            g_sock = -1;
            g_up = false;
        }
        NetClose(fd);
    }
    g_running = false;
    g_done = true;
}

void Join() { JoinThreadWithin(g_thread, g_done, 5000); }

}  // namespace

int TunnelStart(const char* host, int port) {
    std::lock_guard life(g_lifeMu);
    if (g_running.load()) return 1;
    Join();
    {
        std::lock_guard l(g_cfgMu);
        g_host = host ? host : "";
        g_port = port;
    }
    g_stop = false;
    g_running = true;
    g_done = false;
    try {
        g_thread = std::thread(TunnelMain, std::string(host ? host : ""), port);
    } catch (const std::system_error&) {
        g_running = false;
        g_done = true;
        ERROR_REPORT("CreatThread()");
        return 0;
    }
    return 1;
}

void TunnelStop() {
    std::lock_guard life(g_lifeMu);
    g_stop = true;
    {
        std::lock_guard l(g_sockMu);
        NetShutdown(g_sock);
    }
    Join();
    Down();
}

void TunnelCopy(const char* data, size_t len) {
    if (!g_up.load() || len == 0) return;
    std::lock_guard l(g_sockMu);
    if (g_sock >= 0) NetSendAll(g_sock, data, len);
}

bool TunnelUp() { return g_up.load(); }

std::string TunnelHost() {
    std::lock_guard l(g_cfgMu);
    return g_host;
}

int TunnelPort() {
    std::lock_guard l(g_cfgMu);
    return g_port;
}

void TunnelConfigApply(bool enabled, const std::string& host, int port) {
    if (enabled) {
        TunnelStart(host.c_str(), port);
    } else {
        TunnelStop();
        std::lock_guard l(g_cfgMu);
        g_host = host;
        g_port = port;
    }
}
