#include "backend/plinkfe.h"
int PlinkOpen() { return 0; }
int ClosePlinkConnection() { return 1; }
int PlinkWrite(const char*, size_t) { return -1; }
