// Standard logging and time stamps.
#pragma once

#include <cstddef>

// Local time in one of the configured formats: 0-6 a table row, 99 the custom
// format, anything else TSTAMP_FORMAT_IDX. Returns buf.
char* TimestampFormat(char* buf, size_t size, int which);
// Inserts stamps at line starts into data (which holds len bytes in a buffer of
// capacity bytes); returns the new length.
size_t TimestampInsert(char* data, size_t len, size_t capacity);

// 1 written (or offered), 0 when neither logging is on.
int LogWrite(const char* data, size_t len);
// 1 when raw capture took the bytes; the received-data path then stops.
int LogBinaryCapture(const char* data, size_t len);
int LogOpen();
void LogClose();
int LogTruncate();
void LogInsertTag(const char* text);
void LogToggle();
void LogStartup();
