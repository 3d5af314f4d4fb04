#include "tftp_peer.h"

#include <arpa/inet.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/net.h"

extern char** environ;

TftpPeer::TftpPeer() : fd(NetUdpSocket(0, true)), port(NetLocalPort(fd)) {}
TftpPeer::~TftpPeer() { NetClose(fd); }

void TftpPeer::SendTo(uint16_t toPort, const Bytes& pkt) const {
    in_addr lo{};
    lo.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in to = NetAddress(lo, toPort);
    sendto(fd, pkt.data(), pkt.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void TftpPeer::Reply(const Bytes& pkt) const {
    sendto(fd, pkt.data(), pkt.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
}

std::optional<Bytes> TftpPeer::Recv(int ms) {
    if (NetWaitReadable(fd, ms) != 1) return std::nullopt;
    Bytes buf(70000);
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return std::nullopt;
    buf.resize(static_cast<size_t>(n));
    return buf;
}

uint16_t TftpPeer::FromPort() const { return ntohs(from.sin_port); }

namespace {
void Put(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
}
Bytes Head(uint16_t op, uint16_t n) {
    return {static_cast<uint8_t>(op >> 8), static_cast<uint8_t>(op), static_cast<uint8_t>(n >> 8),
            static_cast<uint8_t>(n)};
}
}  // namespace

Bytes Rrq(const std::string& file, const std::string& mode, const std::vector<std::string>& options) {
    Bytes b{0, 1};
    Put(b, file);
    Put(b, mode);
    for (const auto& o : options) Put(b, o);
    return b;
}

Bytes Wrq(const std::string& file, const std::string& mode) {
    Bytes b{0, 2};
    Put(b, file);
    Put(b, mode);
    return b;
}

Bytes Data(uint16_t block, const std::string& payload) {
    Bytes b = Head(3, block);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes Ack(uint16_t block) { return Head(4, block); }
uint16_t Op(const Bytes& p) { return p.size() < 2 ? 0 : static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint16_t Num(const Bytes& p) { return p.size() < 4 ? 0 : static_cast<uint16_t>(p[2] << 8 | p[3]); }
std::string Payload(const Bytes& p) { return p.size() < 4 ? "" : std::string(p.begin() + 4, p.end()); }
std::string Text(const Bytes& p) { return std::string(p.begin(), p.end()); }

std::string Pattern(size_t n, unsigned variant) {
    std::string s(n, 0);
    uint32_t x = variant * 2654435761u + 1;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

uint16_t FreeUdpPort() {
    int fd = NetUdpSocket(0, true);
    uint16_t p = NetLocalPort(fd);
    NetClose(fd);
    return p;
}

TftpdHpa::TftpdHpa(const std::string& dir) {
    for (int attempt = 0; attempt < 5 && !ready; ++attempt) {
        port = FreeUdpPort();
        std::string addr = "127.0.0.1:" + std::to_string(port);
        std::vector<std::string> args = {"/usr/sbin/in.tftpd", "-L", "-l", "-4", "-c", "-p", "-u", "root",
                                         "-a", addr, "-s", dir};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t child;
        if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return;
        pid = child;
        // Ready when a request for a missing file is answered.
        TftpPeer probe;
        for (int i = 0; i < 50 && !ready; ++i) {
            probe.SendTo(port, Rrq("no-such-file-probe"));
            ready = probe.Recv(100).has_value();
        }
        if (!ready) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
}

TftpdHpa::~TftpdHpa() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}
