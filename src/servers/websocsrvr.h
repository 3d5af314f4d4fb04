// The WebSocket server.
#pragma once

#include <cstddef>

// Received (stamped) target bytes for every connected client.
void WebsocBroadcast(const char* data, size_t len);
