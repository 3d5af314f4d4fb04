// The backend layer: the one active connection to the target. Every writer
// goes through BackendWrite; opening, closing and reconfiguring dispatch on
// BACKEND (0 none, 1 COM port, 2 telnet, 3 MONCMD, 4 plink).
#pragma once

#include <cstddef>
#include <string>

enum : int { BACKEND_NONE = 0, BACKEND_COM = 1, BACKEND_TELNET = 2, BACKEND_MONCMD = 3, BACKEND_PLINK = 4 };

// Sends bytes to the active backend: 1 sent (or taken by TEST/LPBK), 0 failed.
// The loopback pseudo-port receives on its own thread: waits up to ms until
// everything written has been delivered; the stop ends that thread.
bool BackendLoopbackDrain(int ms);
void BackendLoopbackStop();
// Bytes to be received as if the target sent them (@@@TEST), delivered on
// the loopback receiver's thread: the caller never waits for the
// received-data lock.
void BackendInjectReceived(const char* data, size_t len);

int BackendWrite(const char* data, size_t len);
// An answer the console itself sends (terminal replies): goes out only while
// connected, never asks or reconnects, never echoed; safe on a reader thread
// while another thread closes the connection. 1 sent, 0 dropped or failed.
int BackendReply(const char* data, size_t len);
// 1/0. A failed COM port open leaves errno: ENOENT not found, EBUSY in use,
// EACCES no permission (ENODEV: COMPORT 1026 found no port).
int OpenConnection();
int ReopenConnection();
int CloseConnection();
// Applies the configured serial settings to the open port (1/0).
int ApplyCommSettings();
bool BackendConnected();
// The telnet, MONCMD and plink backends report a connection that came up or
// dropped on its own (the COM port keeps its own state).
void BackendMarkConnected(bool up);

// True after the backend noticed the connection was lost (a typed key then
// tries to reconnect, through ReopenConnection).
bool BackendLostConnection();
// The Reconnect tool-bar command.
void BackendReconnectCommand();

// Status-bar field 0.
std::string BackendStatusText();
// Tool-tip of a connection tool-bar button (950-962) for the current backend.
std::string BackendToolTip(int id);
// Bytes written through BackendWrite (the About box).
unsigned long long BackendSentBytes();

// What the COM port dialog's OK hands over.
struct ComPortChoice {
    int port = 0;            // COMPORT value, pseudo-ports included
    int rate = 19200;        // a row of the rate list
    bool userDefined = false;
    int userRate = 0;        // the "User defined: " number
    int dataBits = 8, parity = 0, stopBits = 0;
    int flow = 0;            // 0x01 DTR/DSR, 0x02 RTS/CTS, 0x04 XON/XOFF
};
// Stores the choice, switches to the COM port backend and (re)connects.
void ComPortConfigure(const ComPortChoice& c);

// Registers the connection commands; start-up calls it once.
void BackendInit();
