// The WebSocket server: target output, button and function-key labels pushed
// to browsers; lines, function keys and buttons taken from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Starts the listener on port (0 picks one). httpPort and localNames are the
// cross-site rule's: a browser's handshake must come from a page of this
// machine's HTTP server. 1 started (or running), 0 failed (traced).
int WebsocStart(uint16_t port, uint16_t httpPort, const std::vector<std::string>& localNames);
// Closes every connection and the listener, waiting for their threads.
void WebsocStop();
bool WebsocRunning();
uint16_t WebsocPort();

// Received (stamped) target bytes for every connected client. Called under
// the received-data lock: it only queues, never waits on a client. A client
// whose queue is full is dropped.
void WebsocBroadcast(const char* data, size_t len);
// A function-key (button false, n = 2..9) or button (n = 1..16) label
// changed: the clients are told the new label.
void WebsocLabelChanged(bool button, int n, const char* label);
