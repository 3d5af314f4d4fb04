#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <chrono>

int NetResolveIPv4(const char* host, in_addr* out) {
    if (!host || !*host) return 0;
    if (inet_pton(AF_INET, host, out) == 1) return 1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return 0;
    *out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
    return 1;
}

sockaddr_in NetAddress(in_addr addr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = addr;
    return sa;
}

int NetConnectTcp(const sockaddr_in& to, int timeoutMs, const std::atomic<bool>* stop) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            int e = errno;
            close(fd);
            errno = e;
            return -1;
        }
        // Wait in short slices so a stop request ends the wait promptly.
        // Real time, not the pinnable tick: this wait must end even in tests.
        auto start = std::chrono::steady_clock::now();
        for (;;) {
            if (stop && stop->load()) {
                close(fd);
                errno = ECANCELED;
                return -1;
            }
            int slice = 100;
            if (timeoutMs >= 0) {
                auto spent = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start).count());
                if (spent >= static_cast<uint64_t>(timeoutMs)) {
                    close(fd);
                    errno = ETIMEDOUT;
                    return -1;
                }
                slice = static_cast<int>(std::min<uint64_t>(100, timeoutMs - spent));
            }
            pollfd p{fd, POLLOUT, 0};
            int r = poll(&p, 1, slice);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                int e = errno;
                close(fd);
                errno = e;
                return -1;
            }
            if (r > 0) break;
        }
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err) {
            close(fd);
            errno = err;
            return -1;
        }
    }
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

int NetListenTcp(uint16_t port, bool loopbackOnly, int backlog) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    in_addr a{};
    a.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
    sockaddr_in sa = NetAddress(a, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, backlog) != 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

uint16_t NetLocalPort(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

int NetSendAll(int fd, const void* data, size_t len) {
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < len) {
        ssize_t n = send(fd, p + done, len - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(len);
}

int NetUdpSocket(uint16_t port, bool loopbackOnly) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // Always bound, so that NetLocalPort names the port even when 0 picked it.
    in_addr a{};
    a.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
    sockaddr_in sa = NetAddress(a, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int NetPending(int fd) {
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0) return -1;
    return n;
}

int NetWaitReadable(int fd, int timeoutMs) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
}

void NetShutdown(int fd) {
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

void NetClose(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}
