// The SYSLOG collector: every UDP datagram (BSD syslog form, "<PRI>text")
// becomes one time-stamped line in the system trace under SYSLOG, copied to
// the standard log when SYSLOG_TOLOG_ENABLED is set. It never answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Longest datagram read; anything beyond is cut (and the line says so).
constexpr size_t kSyslogDatagram = 1024;
// Longest line made of one datagram; longer ones end in " [cut]".
constexpr size_t kSyslogLineMax = 900;

// Opens the socket and starts the receiver when SYSLOGSRVR_ENABLED is set,
// turning the SYSLOG trace category on; a failed start clears the key. 1/0.
int SyslogsrvrStart();
// Closes the socket, clears SYSLOGSRVR_ENABLED and SYSLOG_TOLOG_ENABLED and
// turns the SYSLOG trace category off.
void SyslogsrvrStop();
bool SyslogsrvrRunning();
uint16_t SyslogsrvrPort();   // the port it runs on, 0 when stopped

// "SYSLOG Server..." on Ok. The port text counts by its leading digits.
// Returns 1 when the dialog may close, 0 when a failed start keeps it open.
int SyslogsrvrDialogApply(bool enabled, bool toLog, bool toConsole, const std::string& portText);

// ---- Pure: one datagram ----------------------------------------------------
const char* SyslogFacilityName(int priority);
const char* SyslogSeverityName(int priority);
// The trace line for one datagram from sender (without time stamp and
// category). Control bytes, NULs, DEL and bytes above 0x7E are shown as
// \xHH so nothing in a datagram is ever interpreted by a display.
std::string SyslogLine(const std::string& sender, const uint8_t* data, size_t len);
