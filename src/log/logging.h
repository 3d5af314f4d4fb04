// Standard logging and time stamps.
#pragma once

#include <cstddef>
#include <string>

// Local time in one of the configured formats: 0-6 a table row, 99 the custom
// format, anything else TSTAMP_FORMAT_IDX (a value outside 0-6 there means
// row 0). Returns buf.
char* TimestampFormat(char* buf, size_t size, int which);
// "<time>" in table row which (anything outside 0-6: TSTAMP_FORMAT_IDX), with
// ".mmm" for the rows that show milliseconds.
std::string TimestampBracketed(int which);
// The seven rows' labels, for the dialog.
constexpr int kTimestampRows = 7;
const char* TimestampLabel(int row);
// Inserts stamps at line starts into data (which holds len bytes in a buffer of
// capacity bytes); returns the new length.
size_t TimestampInsert(char* data, size_t len, size_t capacity);
// The line-start flag of the inserter (kept between chunks).
void TimestampSetLineStart(bool on);
// Tool bar: toggles TSTAMP_ENABLED. With TSTAMP_AT_TOGGLE the marker is
// logged first and returned for the console to show (else "").
std::string TimestampToggle();

// 1 written (or offered), 0 when neither logging is on.
int LogWrite(const char* data, size_t len);
// 1 when raw capture took the bytes; the received-data path then stops.
int LogBinaryCapture(const char* data, size_t len);
void LogSetBinaryCapture(bool on);
bool LogBinaryCaptureOn();
// Limits of the LOG command's words.
constexpr size_t kLogTagMax = 63;
constexpr size_t kLogFileNameMax = 2048;
int LogOpen();
void LogClose();
int LogTruncate();
void LogInsertTag(const char* text);
void LogToggle();
void LogStartup();
// Program end: closes the standard log and ends the long-term log with the
// terminate banner.
void LogShutdown();
// Registers the logging menu commands.
void LogInit();
// The standard header line ("##### Log created ...").
std::string LogHeaderLine();
bool LogIsOpen();

// The dialog "Standard Logging Configuration..." on OK. An "XLOG:" file text
// goes to the transfer module; otherwise the settings are stored and the log
// opened or closed. Returns 1, or 0 when the open failed.
int LogApplyConfig(bool enabled, bool append, bool nonPrintables, bool dosMode, bool binary,
                   const char* file);
// The transfer module installs the handler of "XLOG:" names (an empty name
// closes its protocol log).
using XlogHandler = void (*)(const char* path);
void LogSetXlogHandler(XlogHandler handler);
// The dialog's Truncate button.
void LogTruncateButton();
