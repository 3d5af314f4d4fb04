// Small socket helpers over POSIX sockets: name resolution, TCP connect with a
// time limit that a stop flag can end, UDP datagrams, and readiness waits.
// IPv4 only, as the program's addresses are.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// Dotted address first, then the resolver. 1 found, 0 not.
int NetResolveIPv4(const char* host, in_addr* out);
// Fills an IPv4 socket address.
sockaddr_in NetAddress(in_addr addr, uint16_t port);

// Connects a TCP socket; returns the descriptor or -1 (errno set). Gives up
// after timeoutMs (< 0: no limit) or as soon as *stop becomes true.
int NetConnectTcp(const sockaddr_in& to, int timeoutMs, const std::atomic<bool>* stop = nullptr);
// Listening TCP socket on 127.0.0.1 or any address; port 0 picks one. -1 on failure.
int NetListenTcp(uint16_t port, bool loopbackOnly, int backlog = 4);
// The local port a socket is bound to, 0 on failure.
uint16_t NetLocalPort(int fd);

// Sends every byte (no SIGPIPE); returns len, or -1 on failure.
int NetSendAll(int fd, const void* data, size_t len);

// UDP socket bound to the port (0: a free one; loopbackOnly: 127.0.0.1). -1 on failure.
int NetUdpSocket(uint16_t port = 0, bool loopbackOnly = false);
// Bytes waiting on a socket (FIONREAD), or -1.
int NetPending(int fd);

// Waits until fd is readable: 1 ready, 0 time out, -1 failure.
int NetWaitReadable(int fd, int timeoutMs);

// Wakes any thread blocked on the socket (shutdown) without freeing the
// descriptor; the owner closes it after the thread has left.
void NetShutdown(int fd);
// Closes and sets the descriptor to -1.
void NetClose(int& fd);
