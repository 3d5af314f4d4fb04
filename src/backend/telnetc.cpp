#include "backend/telnetc.h"
int TelnetOpen() { return 0; }
int CloseTelnetConnection() { return 1; }
int TelnetWrite(const char*, size_t) { return -1; }
