// The telnet server: shares the console with remote users.
#pragma once

#include <cstddef>

// Received target bytes for every connected client.
void TelnetdBroadcast(const char* data, size_t len);
