// The received-data path: the one entry for every byte from the target, and
// the hooks through which it reaches each consumer in its fixed order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Delivers one received block. out must hold at least 5 bytes per input byte;
// outSize is passed on to the filter library only.
void RxDeliver(const uint8_t* in, uint8_t* out, size_t len, size_t outSize);
// The alternate COM port's display path.
void RxDeliverAlt(const uint8_t* in, uint8_t* out, size_t len, size_t outSize);

// The user filter library's calling convention: (input, length, output,
// output size) -> bytes placed in the output (taken as a signed 8-bit count).
using RxFilterFn = int (*)(const uint8_t* in, int len, uint8_t* out, int outSize);

// Every consumer the path calls, in one table. Start-up installs the table
// (the consumers live in higher layers); until then every row does nothing.
// A module that is built later (the catch matcher) or a test sets its row,
// and RxHooksReset restores the installed table.
struct RxHooks {
    bool (*avrActive)();
    void (*avrBytes)(const char*, size_t);
    bool (*xmodemActive)();
    void (*xmodemBytes)(const char*, size_t);
    void (*activity)();
    void (*tunnel)(const char*, size_t);
    int (*scriptOffer)(const char*, int);   // 1: a waiting script must be woken
    void (*scriptWake)();
    int (*rawLog)(const char*, size_t);
    void (*telnetClients)(const char*, size_t);
    size_t (*stamp)(char*, size_t, size_t);
    int (*log)(const char*, size_t);
    void (*websocClients)(const char*, size_t);
    // Catch strings (script engine): active?, and one displayed byte offered.
    bool (*catchActive)();
    void (*catchByte)(char);
    // The backend write used for typed keys, pastes and emulator replies.
    int (*backendWrite)(const char*, size_t);
    // Terminal replies: never ask, never reconnect (BackendReply).
    int (*backendReply)(const char*, size_t);
    bool (*backendConnected)();
    bool (*backendLost)();
    int (*reconnect)();
};
RxHooks& RxHooksRef();
void RxHooksInstall(const RxHooks& hooks);
void RxHooksReset();

// The write every console-originated byte goes through (hooks.backendWrite).
int RxBackendWrite(const char* data, size_t len);
// The write the emulator's answers go through (hooks.backendReply).
int RxBackendReply(const char* data, size_t len);

// Filter library: loaded from dir/"oxel_ftf.so" at the first delivery; a
// test may load another directory or set the entry directly (nullptr: none).
int RxLoadFilter(const std::string& dir);
void RxSetFilter(RxFilterFn fn);

// The console output switch (LOG screenoff/screenon): while off, received
// bytes reach every consumer but the screen.
void RxSetScreenOutput(bool on);
bool RxScreenOutput();
// Set by the catch machinery when a catch string matched; the next CR on the
// screen is preceded by the line tag "<<**".
void RxSetLineTagPending();
// Bytes received since start.
uint32_t RxByteCount();

// The display transform of one block (hex display, CR/LF completion, filter,
// non-printable dropping) as the path applies it; returns the output length.
size_t RxTransform(const uint8_t* in, size_t len, uint8_t* out, size_t outSize, bool useFilter);
