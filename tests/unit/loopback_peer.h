// Small peers on 127.0.0.1 for the network backend tests: a TCP server that
// accepts one client at a time and a UDP socket, with bounded waits.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/net.h"
#include "wait.h"


struct TcpPeer {
    int listenFd = -1;
    int client = -1;
    uint16_t port = 0;

    explicit TcpPeer(uint16_t wanted = 0) { Listen(wanted); }
    // The listener goes first, so a client reconnecting at once cannot land
    // in its backlog.
    ~TcpPeer() {
        NetClose(listenFd);
        NetClose(client);
    }
    bool Listen(uint16_t wanted) {
        listenFd = NetListenTcp(wanted, true);
        if (listenFd >= 0) port = NetLocalPort(listenFd);
        return listenFd >= 0;
    }
    void StopListening() { NetClose(listenFd); }
    bool Accept(int ms = 10000) {
        if (NetWaitReadable(listenFd, ms) != 1) return false;
        client = accept(listenFd, nullptr, nullptr);
        return client >= 0;
    }
    void Send(const std::string& s) { NetSendAll(client, s.data(), s.size()); }
    void Drop() { NetClose(client); }
    // Reads until n bytes arrived or ms passed.
    std::string Read(size_t n, int ms = 10000) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < n) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
            if (left <= 0 || NetWaitReadable(client, left) != 1) break;
            char buf[4096];
            ssize_t r = recv(client, buf, std::min(sizeof buf, n - got.size()), 0);
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }
    // One recv: what a single send of the other side delivered.
    std::string ReadOnce(int ms = 10000) {
        if (NetWaitReadable(client, ms) != 1) return {};
        char buf[4096];
        ssize_t r = recv(client, buf, sizeof buf, 0);
        return r > 0 ? std::string(buf, static_cast<size_t>(r)) : std::string();
    }
    bool Quiet(int ms) { return NetWaitReadable(client, ms) == 0; }
};

// A TCP port that nothing listens on (bound, then released).
inline uint16_t FreeTcpPort() {
    int fd = NetListenTcp(0, true);
    uint16_t p = NetLocalPort(fd);
    NetClose(fd);
    return p;
}
