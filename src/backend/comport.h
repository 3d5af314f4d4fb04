// The COM port backend: the main port, the optional alternate port, their
// watcher threads, line control, baud-rate stepping and port enumeration.
// Operations that the backend layer dispatches to return 1/0.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Pseudo-ports of COMPORT.
enum : int { COMPORT_NONE = 0, COMPORT_TEST = 1024, COMPORT_LPBK = 1025, COMPORT_ANY = 1026 };

struct BaudRateRow {
    int rate;
    int userOnly;       // a dialog shows it only as a user-defined number
    const char* label;
};
extern const BaudRateRow BaudRateTable[18];
constexpr size_t kBaudRateRows = 18;

// Backend-layer rows.
int ComOpen();
int ComClose();
int ComApplySettings();
int ComWrite(const char* data, size_t len);

// Joins watchers that have ended or are ending (after an automatic close).
void ComReap();
bool ComConnected();        // main port open
bool ComAltOpen();
bool ComReconnectPending();
// Also stops an automatic reconnect that is waiting for the device.
void ComClearReconnectPending();
// oxel-cli: the closed-port banner leaves out the tool-bar button.
void ComSetTerminalFace(bool terminal);

// The device file of port n: shell variable COMDEV_<n>, else the default.
std::string ComDevicePath(int n);
// The port number for a device file: the port whose device it is, else the
// first number from 400 up that names no device, given COMDEV_<n> = path.
int ComPortForDevice(const std::string& path);
// The lines of --list: each port found ("COM3 (/dev/ttyS2)"), then each USB
// adapter by its by-id name, product, vendor:product and serial number.
std::vector<std::string> ComListing();

int AltPortWrite(const char* data, size_t len);
int ChangeBaudRate(int rate);
int CycleBaudRate();
// Steps a rate the driver refuses until one is taken (see the COM port
// dialog): dialogRate is the dialog's "User defined: " number when its box is
// checked; without it, BAUDRATE when USRDEFBAUD is set. Ends the program when
// no rate can be found.
int ApplyUserBaudRate(std::optional<int> dialogRate = std::nullopt);
int SendBreak();
int ToggleDtr();
int SetDtr(bool on);
int ToggleRts();
int SetRts(bool on);
bool DtrOn();
bool RtsOn();
void ModemStatusSignal(unsigned events);

// Port enumeration.
void ComRequestRescan();
bool ScanSerialComm(int n);
// "COM%d", "COM%d current", "COM%d inuse" (each followed by its device in
// parentheses), then "NONE", "TEST", "LBK", "ANY".
std::vector<std::string> ComPortList();
// A list entry back to a port number; -1 when it is none of them.
int ComPortFromEntry(const std::string& entry);
int FindNextComPort(int current);

// Status-bar text while the main port is open (else empty).
std::string ComStatusText();
// The one-second frame tick: counts the BREAK indicator down.
void ComBreakIndicatorTick();
// Counters of bytes written to the alternate port (the About box).
unsigned long long ComAltSentBytes();
