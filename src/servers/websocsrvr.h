// The WebSocket server.
#pragma once

#include <cstddef>

// Received (stamped) target bytes for every connected client.
void WebsocBroadcast(const char* data, size_t len);
// A function-key (button false, n = 2..9) or button (n = 1..16) label
// changed: the clients are told the new label.
void WebsocLabelChanged(bool button, int n, const char* label);
