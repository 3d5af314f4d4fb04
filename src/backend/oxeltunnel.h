// The tunnel: a TCP mirror of everything received.
#pragma once
#include <cstddef>
int TunnelStart(const char* host, int port);
void TunnelStop();
void TunnelCopy(const char* data, size_t len);
