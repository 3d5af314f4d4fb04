// The AVR boot-loader download.
#pragma once

#include <cstddef>

// True while a download owns the line; the received-data path then hands
// every block to AvrLoaderBytes.
bool AvrLoaderActive();
void AvrLoaderBytes(const char* data, size_t len);
