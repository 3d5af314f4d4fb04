// Telnet client backend (BACKEND 2): a TCP connection to a telnet server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Opens the connection to BACKENT_TELNET_SYS:BACKEND_TELNET_PORT and starts
// the reader. 1 (also when the reader gave up and reported why; BACKEND is
// then 0), 0 when the reader cannot be started.
int TelnetOpen();
int CloseTelnetConnection();
// Sends (or, in line mode, collects) bytes. Always 1.
int TelnetWrite(const char* data, size_t len);
// True while the TCP connection is established.
bool TelnetUp();

// Status-bar text: "TELNET host:port", plus " (readonly)".
std::string TelnetStatusText();

// The option handler, kept apart from the socket so tests can feed it. It
// carries its state across blocks (an IAC may end one block and its option
// begin the next).
struct TelnetParser {
    enum State : uint8_t { Data, Command, Option, Sub, SubIac, SubTermType };
    State state = Data;
    uint8_t command = 0;
    bool sbFirst = false;     // the next subnegotiation byte names the option
    bool ttypeSend = false;   // the subnegotiation so far is TERMINAL-TYPE SEND
};

struct TelnetOutput {
    std::string display;                // bytes for the received-data path
    std::string replies;                // bytes to send back, in order
    std::vector<std::string> traces;    // TELNET trace lines, in order
    int localEcho = -1;                 // new LOCALECHO (0/1), -1 unchanged
    void Clear() {
        display.clear();
        replies.clear();
        traces.clear();
        localEcho = -1;
    }
};

// Feeds received bytes. interpretIac: TELNET_CLIENT_IAC; lineMode:
// BACKEND_TELNET_LINEMODE (WILL ECHO leaves the local echo on in line mode).
void TelnetParse(TelnetParser& p, const uint8_t* in, size_t len, bool interpretIac, bool lineMode,
                 TelnetOutput& out);

// The configuration dialog's field: "host:port", empty when no host.
std::string TelnetConfigText();
// Splits the field: the host up to ":", the port after it (base from its
// prefix); without ":" (or without a usable number) the port is 23.
void TelnetParseHostPort(const std::string& text, std::string* host, uint16_t* port);
// The dialog's OK: stores host, port and the two boxes, reconnects with the
// telnet backend. 1 done; an open that fails ends the program.
int TelnetConfigApply(const std::string& hostPort, bool autoRestart, bool lineMode);

// Menu commands of the network backends and the tunnel; call once at start-up.
void NetBackendsInit();
// After an automatic reconnect the start-up script may run again
// (RUN_STARTSCRIPT_ON_RESTART); start-up hands in how scripts are started.
void TelnetSetRestartScriptHook(void (*run)(const char* script));
