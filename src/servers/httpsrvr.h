// The HTTP server: files from a home directory (with server-side includes),
// optional Basic authentication, and REST requests that drive the console.
// The WebSocket server starts and stops with it.
#pragma once

#include <cstdint>
#include <string>

// Starts the listener (port 0 picks one) and, when websocPort is not 0, the
// WebSocket server. 1 started (or running), 0 failed (traced).
int HttpStart(uint16_t httpPort, uint16_t websocPort, const std::string& home);
// Closes every connection and the listener, and stops the WebSocket server.
void HttpStop();
bool HttpRunning();
uint16_t HttpPort();

// Start-up, once the servers may start: runs the server when HTTPSRVR_ENABLED.
void HttpStartFromConfig();

// What OK in the "HTTP Server..." dialog hands over.
struct HttpSettings {
    std::string home;
    bool enabled = false;
    uint32_t httpPort = 0, websocPort = 0;
    std::string user, pswd;
};
// Applies the dialog; nullptr when done, else the text of the "HTTP SERVER"
// message box (the dialog then stays open).
const char* HttpApplySettings(const HttpSettings& s);
