#include "backend/moncmdc.h"
int MoncmdOpen() { return 0; }
int MoncmdReopen() { return 0; }
int MoncmdClose() { return 1; }
int MoncmdWrite(const char*, size_t) { return -1; }
