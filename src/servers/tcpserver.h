// The listener and the 16 connection records that the HTTP and WebSocket
// servers share: accept, claim a free record, run the connection on its own
// thread, free the record when it ends. Stop wakes every blocked thread by
// shutting its socket down, then joins them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

constexpr int kServerConnections = 16;

struct ConnSlot {
    std::atomic<int> fd{-1};         // -1 = free
    std::atomic<bool> busy{false};   // a connection thread owns the record
    int number = 0;                  // connection counter value
    std::string peer;                // dotted address
    std::thread thread;
};

struct TcpServer {
    TcpServer(const char* n, void (*fn)(ConnSlot&)) : name(n), serve(fn) {}
    const char* name;                // "httpsrvr", "websocsrvr": used in the trace lines
    // The connection's work; the record's socket is closed after it returns.
    void (*serve)(ConnSlot& slot);
    std::atomic<int> listenFd{-1};
    std::atomic<bool> stopping{false};
    std::atomic<uint16_t> port{0};
    int counter = 0;
    std::thread listener;
    std::mutex fdMu;                 // a record's socket is shut down or closed under it
    std::array<ConnSlot, kServerConnections> slots;
};

// Binds all interfaces on port (0 picks one) and starts the listener; 1 on
// success, 0 with the failure traced.
int TcpServerStart(TcpServer& s, uint16_t port);
// Closes the listener and every connection, waiting for their threads.
void TcpServerStop(TcpServer& s);
bool TcpServerRunning(const TcpServer& s);

// Waits for bytes on fd until deadlineMs (a CLOCK_MONOTONIC millisecond
// count) and reads what is there: >0 bytes, 0 peer closed, -1 failure,
// -2 time is up.
int RecvUntil(int fd, char* buf, size_t cap, int64_t deadlineMs);
int64_t NowMs();
