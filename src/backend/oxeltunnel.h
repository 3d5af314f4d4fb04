// The tunnel: a TCP client connection to a tunnel server that mirrors the
// backend. What the backend receives is copied to it; what it sends is
// written to the backend.
#pragma once

#include <cstddef>
#include <string>

// Starts the tunnel thread (nothing while it runs); 1 started, 0 not. The
// connection is made by the thread: a server that cannot be reached is
// reported and leaves the tunnel down.
int TunnelStart(const char* host, int port);
// Closes the tunnel when it is up.
void TunnelStop();
// Called for every received chunk: sends it on the tunnel when it is up.
void TunnelCopy(const char* data, size_t len);
bool TunnelUp();

// The dialog's fields (kept for the run, not saved): server and port
// (default 8001).
std::string TunnelHost();
int TunnelPort();
// The "OxelTunnel Connection..." dialog's OK: enabled starts, else stops.
void TunnelConfigApply(bool enabled, const std::string& host, int port);
