#include "pty_board.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>

PtyBoard::PtyBoard() {
    int slave = -1;
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    path = name;
    close(slave);
}

PtyBoard::~PtyBoard() { Close(); }

void PtyBoard::Close() {
    if (master >= 0) close(master);
    master = -1;
}

void PtyBoard::Send(const std::string& bytes) const {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

void PtyBoard::ReadSome(std::string& out) const {
    pollfd pf{master, POLLIN, 0};
    if (poll(&pf, 1, 50) > 0 && (pf.revents & POLLIN)) {
        char buf[4096];
        ssize_t r = read(master, buf, sizeof buf);
        if (r > 0) out.append(buf, static_cast<size_t>(r));
    }
}

std::string PtyBoard::Receive(size_t n, int ms) const {
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < n && std::chrono::steady_clock::now() < end) ReadSome(out);
    return out;
}

bool PtyBoard::Expect(const std::string& needle, int ms, bool consume) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.find(needle) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end) return false;
        ReadSome(got);
    }
    if (consume) got.erase(0, got.find(needle) + needle.size());
    return true;
}
