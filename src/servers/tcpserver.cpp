#include "servers/tcpserver.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "log/srvrtrace.h"
#include "platform/net.h"

namespace {

int OpenListener(TcpServer& s, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        TracePrintf(TRC_ALWAYS, "%s: socket failed\n", s.name);
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    in_addr any{};
    any.s_addr = htonl(INADDR_ANY);
    sockaddr_in sa = NetAddress(any, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        int e = errno;
        TracePrintf(TRC_ALWAYS, "%s: bind (port=%d) failed\n", s.name, port);
        if (e == EACCES && port < 1024)
            TracePrintf(TRC_ALWAYS, "%s: ports below 1024 need privileges: run with CAP_NET_BIND_SERVICE "
                        "or pick a port above 1023\n", s.name);
        close(fd);
        return -1;
    }
    if (listen(fd, 1) != 0) {
        TracePrintf(TRC_ALWAYS, "%s: listen failed\n", s.name);
        close(fd);
        return -1;
    }
    return fd;
}

void RunConnection(TcpServer& s, ConnSlot& slot) {
    s.serve(slot);
    std::lock_guard l(s.fdMu);
    int fd = slot.fd.exchange(-1);
    if (fd >= 0) close(fd);
    slot.busy = false;
}

// A free record, its finished thread joined; null when all 16 are in use.
ConnSlot* ClaimSlot(TcpServer& s) {
    for (ConnSlot& slot : s.slots) {
        if (slot.busy) continue;
        if (slot.thread.joinable()) slot.thread.join();
        return &slot;
    }
    return nullptr;
}

void Listen(TcpServer& s) {
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        int fd = accept4(s.listenFd, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            TracePrintf(TRC_ALWAYS, "Error: %s accept failed.\n", s.name);
            if (s.stopping) {
                TracePrintf(TRC_ALWAYS, "Error: %s terminating...\n", s.name);
                return;
            }
            poll(nullptr, 0, 100);   // out of descriptors: do not spin
            continue;
        }
        ConnSlot* slot = ClaimSlot(s);
        if (!slot) {
            TracePrintf(TRC_ALWAYS, "Error: %s connection overflow.\n", s.name);
            close(fd);
            continue;
        }
        char addr[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
        // A peer that stops reading must not hold a thread in send for ever.
        timeval tv{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        slot->peer = addr;
        slot->number = s.counter++;
        slot->busy = true;
        slot->fd = fd;
        slot->thread = std::thread(RunConnection, std::ref(s), std::ref(*slot));
    }
}

}  // namespace

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int RecvUntil(int fd, char* buf, size_t cap, int64_t deadlineMs) {
    for (;;) {
        int64_t left = deadlineMs - NowMs();
        if (left <= 0) return -2;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) return -2;
        ssize_t n = recv(fd, buf, cap, 0);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? -1 : static_cast<int>(n);
    }
}

int TcpServerStart(TcpServer& s, uint16_t port) {
    if (TcpServerRunning(s)) return 1;
    int fd = OpenListener(s, port);
    if (fd < 0) return 0;
    s.stopping = false;
    s.counter = 0;
    s.port = NetLocalPort(fd);
    s.listenFd = fd;
    s.listener = std::thread(Listen, std::ref(s));
    return 1;
}

void TcpServerStop(TcpServer& s) {
    if (!s.listener.joinable()) return;
    s.stopping = true;
    NetShutdown(s.listenFd);
    s.listener.join();
    int lfd = s.listenFd.exchange(-1);
    if (lfd >= 0) close(lfd);
    {
        std::lock_guard l(s.fdMu);
        for (ConnSlot& slot : s.slots) NetShutdown(slot.fd);
    }
    for (ConnSlot& slot : s.slots)
        if (slot.thread.joinable()) slot.thread.join();
    s.port = 0;
}

bool TcpServerRunning(const TcpServer& s) { return s.listenFd >= 0; }
