// Telnet client backend.
#pragma once
#include <cstddef>
int TelnetOpen();
int CloseTelnetConnection();
int TelnetWrite(const char* data, size_t len);
