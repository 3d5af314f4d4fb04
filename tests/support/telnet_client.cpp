#include "telnet_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "platform/net.h"

namespace {
using Clock = std::chrono::steady_clock;
int LeftMs(Clock::time_point end) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
}
}  // namespace

TelnetClient::TelnetClient(uint16_t port) {
    in_addr lo{};
    lo.s_addr = htonl(INADDR_LOOPBACK);
    fd = NetConnectTcp(NetAddress(lo, port), 10000);
}

TelnetClient::~TelnetClient() { Close(); }

void TelnetClient::Send(const std::string& bytes) {
    if (fd >= 0) NetSendAll(fd, bytes.data(), bytes.size());
}

bool TelnetClient::Pump(int ms) {
    if (fd < 0 || closed) return false;
    if (NetWaitReadable(fd, ms) != 1) return true;
    char buf[65536];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
        closed = true;
        return false;
    }
    got.append(buf, static_cast<size_t>(n));
    return true;
}

std::string TelnetClient::ReadFor(const std::string& needle, int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        size_t at = got.find(needle);
        if (at != std::string::npos) {
            std::string upto = got.substr(0, at + needle.size());
            got.erase(0, at + needle.size());
            return upto;
        }
        int left = LeftMs(end);
        if (left <= 0 || !Pump(left)) return {};
    }
}

bool TelnetClient::Expect(const std::string& needle, int ms) { return !ReadFor(needle, ms).empty(); }

bool TelnetClient::WaitClosed(int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!closed) {
        int left = LeftMs(end);
        if (left <= 0) return false;
        Pump(left);
    }
    return true;
}

void TelnetClient::Close() {
    if (fd >= 0) close(fd);
    fd = -1;
}
