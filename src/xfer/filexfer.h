// Pushing bytes to the target without a protocol: a whole file raw, one line
// of text with escapes, and hex text sent as the bytes it spells.
#pragma once

#include <optional>
#include <string>

#include "xfer/xmodem.h"

// Starts the raw transfer of path (null: XMODEM_FILE; a path replaces it) on
// its own thread. 1 started, 0 refused; reply gets the failure text.
int FileXferStart(const char* path, const XferReply& reply = {});
// Waits for the raw transfer with a spinner to reply or the console; when
// stopWhen says so (a halted script) the transfer is cancelled.
void FileXferWait(const XferReply& reply = {}, bool (*stopWhen)() = nullptr);
// Cancel: the flag, then up to 3 s for the thread to end.
void FileXferCancel();
void FileXferShutdown();
// The "DBC:" switch: byte by byte with the character delay.
void FileXferSetDelay(bool on);
bool FileXferDelay();
// The dialog's counters; bytes is -1 while idle for the status bar.
struct FileXferProgress {
    bool running;
    long bytes, total;
};
FileXferProgress FileXferStatus();
long FileXferByteCount();

// Send text: the bytes for text (escapes expanded into at most 512 bytes),
// then CR and LF as asked. nullopt when the text is too long.
std::optional<std::string> SendTextBytes(const std::string& text, bool cr, bool lf);
// Writes them byte by byte with the character delay; the count, or -1.
int SendText(const std::string& text, bool cr, bool lf);
// Hex text: blanks removed, an even, non-zero number of hex digits.
std::optional<std::string> HexTextBytes(const std::string& text);
// Writes them byte by byte with the character delay; 1/0 (bad text: the
// "Invalid AsciiCodedHex string length" box, 0).
int SendHexText(const std::string& text);

// Registers the Transfer menu's File, Binary and Text commands.
void FileXferInit();
