// The system trace: categorised diagnostic lines shown in the SysTrace pane
// and copied to the trace file.
#pragma once

#include <cstdint>
#include <string>

// Categories are the bits of TRACEFLAGS.
enum : uint32_t {
    TRC_ALWAYS = 1,
    TRC_TFTP = 2,
    TRC_FTP = 4,
    TRC_TELNET = 8,
    TRC_SCRIPT = 16,
    TRC_DHCP = 32,
    TRC_DEBUG = 64,
    TRC_XMODEM = 128,
    TRC_CLIHIST = 256,
    TRC_SYSLOG = 512,
    TRC_MONCMD = 1024,
    TRC_VT100 = 2048,
    TRC_HTTP = 4096,
};
// Every category the dialog and the start-up option know.
constexpr uint32_t TRC_ALL = 0x1FFF;

// Number of lines the pane holds.
constexpr int kTraceLines = 128;

// Adds a line (or lines) when the category is enabled; returns the number of
// characters added, 0 when filtered.
int TracePrintf(uint32_t mask, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Registers the trace commands and starts the pane refresher. Without it the
// pane is refreshed on every line.
void TraceInit();
// Stops the pane refresher (pushing what is pending) and closes the trace file.
void TraceShutdown();
void TraceInsertBlank();
void TraceClear();
void TraceToggleVisible();
// Shift+F12: toggles the DEBUG category.
void TraceToggleDebug();
// Opens (creates, truncates) the trace copy file; sets every category but DEBUG.
int TraceOpenFile(const char* path);
// Opens the copy file without touching TRACEFLAGS (the dialog); 1/0.
int TraceCopyToFile(const char* path);
void TraceCloseFile();
// The name of the open copy file, empty when none.
std::string TraceFileName();
// The dialog "System Trace Config..." on OK: the ticked categories, the stamp
// box, the pane height, and the copy file (opened when copy is set, else
// closed). Returns 0 when the copy file could not be opened.
int TraceApplyConfig(uint32_t flags, bool stamps, int rows, bool copy, const char* file);
// The pane's whole text (for tests and the desktop pane); always current.
std::string TraceText();
// Rebuilds the tab caption from the running servers.
void TraceRefreshCaption();
// Servers report their state here: "Telnet" (or "Telnet&Lcmd" with local
// commands), "Dhcp", "Ftp", "Tftp", "Syslog", "Moncmd". Refreshes the caption.
void TraceSetServerRunning(const char* name, bool on);
// The caption as it is now.
std::string TraceCaptionText();
