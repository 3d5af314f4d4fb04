#include "xfer/avrloader.h"

// The loader lands with the transfer module; until then it never runs.
bool AvrLoaderActive() { return false; }
void AvrLoaderBytes(const char*, size_t) {}
