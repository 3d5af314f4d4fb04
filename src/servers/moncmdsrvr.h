// The MONCMD server: small UDP requests from another machine or the target
// run one script command line, press a button or press a function key; each
// is answered with one 0x00 byte once it has been carried out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kMoncmdDatagram = 512;

// Opens the socket and starts the receiver when MONCMDSRVR_ENABLED is set;
// a failed start clears it. 1 running, 0 not.
int MoncmdsrvrStart();
// Closes the socket and clears MONCMDSRVR_ENABLED; the receiver ends.
void MoncmdsrvrStop();
bool MoncmdsrvrRunning();
uint16_t MoncmdsrvrPort();      // the port it runs on, 0 when stopped
// Reverse lookups made so far (the one-entry cache saves repeats).
int MoncmdsrvrLookups();

// "MONCMD Server..." on Ok: the box and the port text (0x hex, leading 0
// octal, else decimal).
void MoncmdsrvrDialogApply(bool enabled, const std::string& portText);

// ---- Pure: one request -----------------------------------------------------
enum class MoncmdKind { Scrcmd, Button, Fkey, Unknown };
struct MoncmdRequest {
    MoncmdKind kind = MoncmdKind::Unknown;
    std::string text;   // the whole request: what precedes the first NUL
    std::string rest;   // after the prefix
    int number = 0;     // BUTTON and FKEY: the leading decimal digits, 0 when none
};
MoncmdRequest MoncmdParse(const uint8_t* data, size_t len);
