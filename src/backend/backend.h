// The backend layer: the one active connection to the target.
#pragma once

#include <cstddef>
#include <string>

// Sends bytes to the active backend; returns the count written or -1.
int BackendWrite(const char* data, size_t len);
int OpenConnection();
int ReopenConnection();
int CloseConnection();
bool BackendConnected();
// Status-bar field 0.
std::string BackendStatusText();
// Tool-tip of a connection tool-bar button (950-962) for the current backend.
std::string BackendToolTip(int id);
// Bytes written through BackendWrite (the About box).
unsigned long long BackendSentBytes();
