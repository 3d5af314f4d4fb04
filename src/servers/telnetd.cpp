#include "servers/telnetd.h"

// The server lands with the servers module; until then there are no clients.
void TelnetdBroadcast(const char*, size_t) {}
