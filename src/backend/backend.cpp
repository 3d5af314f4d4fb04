#include "backend/backend.h"

// No backend is built yet: writes go nowhere.
int BackendWrite(const char*, size_t len) { return static_cast<int>(len); }
int OpenConnection() { return 1; }
int ReopenConnection() { return 1; }
int CloseConnection() { return 1; }
bool BackendConnected() { return false; }
std::string BackendStatusText() { return "Disconnected"; }
std::string BackendToolTip(int) { return {}; }
unsigned long long BackendSentBytes() { return 0; }
