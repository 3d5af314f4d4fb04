// The backend layer: the one active connection to the target.
#pragma once

#include <cstddef>

// Sends bytes to the active backend; returns the count written or -1.
int BackendWrite(const char* data, size_t len);
int OpenConnection();
int ReopenConnection();
int CloseConnection();
bool BackendConnected();
// True after the backend noticed the connection was lost (a typed key then
// tries to reconnect).
bool BackendLostConnection();
