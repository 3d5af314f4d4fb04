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

// Adds a line (or lines) when the category is enabled; returns the number of
// characters added, 0 when filtered.
int TracePrintf(uint32_t mask, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

void TraceInit();
void TraceInsertBlank();
void TraceClear();
void TraceToggleVisible();
// Opens (creates, truncates) the trace copy file; sets every category but DEBUG.
int TraceOpenFile(const char* path);
// The pane's whole text (for tests and the desktop pane).
std::string TraceText();
// Rebuilds the tab caption from the running servers.
void TraceRefreshCaption();
