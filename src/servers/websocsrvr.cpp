#include "servers/websocsrvr.h"

// The server lands with the servers module; until then there are no clients.
void WebsocBroadcast(const char*, size_t) {}
void WebsocLabelChanged(bool, int, const char*) {}
