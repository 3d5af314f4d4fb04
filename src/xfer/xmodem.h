// XMODEM/YMODEM transfers over the backend: the packet format and the
// receiver's stream logic as plain functions, and the one transfer thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// ---- Framing (pure) ----------------------------------------------------------

enum : uint8_t { XM_SOH = 0x01, XM_STX = 0x02, XM_EOT = 0x04, XM_ACK = 0x06, XM_NAK = 0x15,
                 XM_CAN = 0x18, XM_ESC = 0x1B, XM_SUB = 0x1A, XM_CRC = 'C' };

// One packet: SOH (128 data bytes) or STX (1024), seq, ~seq, the data and the
// CRC-16 high byte first (crc) or the 8-bit sum. len must be 128 or 1024.
std::string XmodemPacket(uint8_t seq, const uint8_t* data, size_t len, bool crc);
// YMODEM block 0: the file's base name, NUL, the size in decimal, NUL, zeros.
std::string YmodemBlock0(const std::string& path, long size, bool crc);
// YMODEM's end block: an empty block 0.
std::string YmodemEndBlock(bool crc);
// The target command before a transfer: with autosize and a file size the
// "xmodem " prefix becomes "xmodem -s SIZE "; commands holding \r or \n are
// escape-expanded and sent as they are, others get "\r\n" (crlf) or "\r".
std::string XmodemTargetCommand(const std::string& cmd, long size, bool autosize, bool crlf);

// Where a receive stands; the receiver reads one byte at a time with a
// timeout whose message depends on the phase.
enum class XrPhase { Header, Seq, Data, Trailer };

// What one received byte made the receiver do.
enum class XrAction {
    None,         // keep reading
    Ack,          // answer ACK (a packet was taken, or EOT)
    NakFail,      // answer NAK, the transfer ends failed (bad CRC/sum)
    Fail,         // the transfer ends failed (message in `error`)
    End,          // the transfer ends (NAK, CAN or ESC from the target)
};

// The receiver's whole stream logic: fed the target's bytes one by one, it
// keeps the file image and says what to answer. No I/O, no clock.
struct XmodemRx {
    bool crc = true;
    size_t limit = 0;            // the image never grows past this (0: no limit)
    std::vector<uint8_t> image;  // the received data, padding included
    int packets = 0;             // new packets taken
    XrPhase phase = XrPhase::Header;
    bool done = false;           // EOT seen
    std::string error;           // message of a failed end
    std::string trace;           // trace line of this byte ("" none)
    // Current packet.
    uint8_t lastSeq = 0;
    size_t size = 0, at = 0;     // packet length, where it goes in the image
    bool isNew = false;          // false: it replaces the previous packet
    uint8_t seq = 0;
    int seqBytes = 0;
    std::vector<uint8_t> data;
    uint8_t trailer[2] = {0, 0};
    int trailerBytes = 0;
};
XrAction XmodemRxFeed(XmodemRx& rx, uint8_t byte);

// ---- Transfers ---------------------------------------------------------------

// Where a transfer's start failures and its spinner go: a remote client's
// send (the telnet server's xsend, xrecv), or, empty, the error report and
// the console.
using XferReply = std::function<void(const std::string&)>;
// One step of the spinner ("|", "/", "-", "\\" and a backspace).
void XferSpinner(const XferReply& reply, int step);

enum XState : int { XSTATE_IDLE = 0, XSTATE_RECV = 1, XSTATE_SEND = 2, XSTATE_FAIL = 3 };
const char* XmodemStateName(int state);

// Starts a send of path (cmd: the target command; null leaves the configured
// one). 1 started, 0 refused (file missing, a transfer running); reply
// receives the failure text instead of the error report.
int XmodemStartSend(const char* cmd, const char* path, const XferReply& reply = {});
// Starts a receive into path (created or truncated).
int XmodemStartRecv(const char* cmd, const char* path, const XferReply& reply = {});
// Waits for the transfer, showing a spinner to reply or the console; sets
// XSTATE and returns the final state (0 IDLE, 3 FAIL). When stopWhen says
// so (a halted script) the transfer is cancelled and the wait goes on.
int XmodemWait(const XferReply& reply = {}, bool (*stopWhen)() = nullptr);
// Cancel: the stop flag, then up to 4 s for the thread to finish.
void XmodemAbort();
// The stop flag alone (the dialogs' Cancel: the thread ends by itself).
void XmodemCancel();
// Stops any transfer and joins its thread (shutdown).
void XmodemShutdown();

// The transfer's settings for the next start.
void XmodemSetPacketSize(int size);   // 128 or 1024
void XmodemSetCrcReceive(bool crc);
void XmodemSetYmodem(bool on);
void XmodemSetDelay(bool on);
void XmodemSetRetryLimit(int n);      // 0 or less: 10
void XmodemSetExpectedSize(long n);   // 0: unknown
bool XmodemDelay();

// What the dialogs and the status bar show.
struct XmodemProgress {
    bool running;
    int state;
    long packets;
    long total;      // -1 unknown
    bool timedOut;   // the last transfer ended by a timeout
};
XmodemProgress XmodemStatus();
// Packets of the running transfer, -1 when none runs.
long XmodemPacketCount();

// The hex log: "" closes it. 1 opened (or disabled), 0 failed.
int XmodemSetXlog(const std::string& path);

// Registers the Transfer menu's Xmodem and Ymodem commands.
void XmodemInit();

// True while a transfer owns the line; the received-data path then hands
// every block to XmodemReceiveBytes (under its lock: it only copies).
bool XmodemReceiving();
void XmodemReceiveBytes(const char* data, size_t len);
// The diversion (bytes to the ring) on and off; off passes what is left in
// the ring to the console path.
void XmodemDivert(bool on);
