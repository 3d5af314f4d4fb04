// The telnet server: shares the console with up to 32 remote users. Target
// output reaches every client; what a client types goes to the target unless
// the server is read-only; Ctrl-P at the start of a line opens one local
// command (loccmd).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ConfigRecord;

constexpr int kTelnetSlots = 32;
constexpr int kTelnetBindTries = 10;
// A client with more than kTelnetQueueLimit bytes waiting that has taken
// nothing for kTelnetStallMs is not reading and is dropped; one that reads,
// however slowly, is dropped only past kTelnetQueueHardLimit.
constexpr size_t kTelnetQueueLimit = 1 << 20;
constexpr size_t kTelnetQueueHardLimit = 16 << 20;
constexpr int kTelnetStallMs = 5000;

// Starts the listener on the port (falling back over the next nine). 1
// started (the bind happens on the listener thread), 0 failed.
int TelnetdStart(uint16_t port);
// Closes every client and the listener and waits (bounded) for their threads.
void TelnetdStop();
bool TelnetdRunning();
// The port the listener is bound to, 0 while it is not (yet) bound.
uint16_t TelnetdBoundPort();
int TelnetdClientCount();

// The session-only local-commands switch (off at start, not saved).
void TelnetdSetLocalCommands(bool on);
bool TelnetdLocalCommands();

// Received target bytes (and notices) for every connected client. Never
// blocks: each client has a bounded queue; one that stops reading is dropped.
void TelnetdBroadcast(const char* data, size_t len);
// The name the received-data path and others know it by.
inline int telnetdSendAll(const char* data, size_t len) {
    TelnetdBroadcast(data, len);
    return static_cast<int>(len);
}

// TITLE -t: a new welcome text (at most 127 characters; longer text is
// ignored and 0 returned); null or empty restores the default.
int TelnetdSetWelcome(const char* text);

// "Telnet Server Config..." on Ok.
struct TelnetDialogValues {
    std::string welcome, password;
    uint16_t port = 8200;
    bool localCommands = false, readOnly = false, readOnlyAbo = false, enabled = false;
};
void TelnetdDialogApply(const TelnetDialogValues& v);

// Publishes TELNETCLIENTS (0) at start-up.
void TelnetdInit();

// ---- Pure pieces, fed by the client threads, the tests and the fuzzer ----

// What one byte a client typed means.
enum class TelnetIn {
    Skip,    // NUL, or part of a telnet command: nothing to do
    CtrlP,   // Ctrl-P at the start of a line: a local command may follow
    Fold,    // second half of CR LF or LF CR: echoed, not sent
    Data,    // goes to the target (and to the echo)
};

struct TelnetInput {
    enum class Iac : uint8_t { None, Command, Option, Sub, SubIac } iac = Iac::None;
    uint8_t lastEnd = 0;        // CR or LF last seen, 0 after other bytes
    bool atLineStart = false;
};

// Telnet-command skipping: true when the byte belongs to a command (the
// IAC that starts it included) and is to be dropped.
bool TelnetSkipCommand(TelnetInput& s, uint8_t b);
// One typed byte. Ctrl-P at the start of a line returns CtrlP and leaves
// the flags alone; when the caller treats it as an ordinary byte it passes
// it to TelnetInputOrdinary.
TelnetIn TelnetInputByte(TelnetInput& s, uint8_t b);
// The line-end folding for a byte that is not a telnet command.
TelnetIn TelnetInputOrdinary(TelnetInput& s, uint8_t b);
// A whole block as the target would receive it (Ctrl-P taken as ordinary),
// with an LF after each CR when enterIsCrLf.
std::string TelnetTargetBytes(TelnetInput& s, const uint8_t* data, size_t len, bool enterIsCrLf);

// Password entry: at most 65 bytes, NUL and telnet commands not counted.
struct PasswordEntry {
    TelnetInput telnet;
    std::string typed;
    int counted = 0;
};
enum class PasswordStep { More, Echo, Done, TooLong };
PasswordStep PasswordByte(PasswordEntry& e, uint8_t b);
// Compares in time that does not depend on where the texts differ.
bool PasswordMatches(const std::string& typed, const char* password);
// How long a wrong password waits before the connection closes, growing
// with the recent failures from the same address.
int PasswordFailureDelayMs(int recentFailures);

// The "Connection to %s" description of the active backend.
std::string TelnetBackendText(const ConfigRecord& c, bool comOpen);
// sockPrintf's conversion: every LF becomes CR LF.
std::string TelnetCrLf(const std::string& text);
// sockPrintf's text: formatted into 256 bytes (longer text is cut), then
// every LF as CR LF.
std::string SockText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
