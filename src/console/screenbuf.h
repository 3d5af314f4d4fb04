// The screen buffer and scroll-back.
#pragma once

#include <cstddef>

// Allocates the buffer (rows x cols cells) once at start-up.
int ConsoleInit(int bufferRows, int bufferCols);

// The console output entry for text without VT100 processing. Returns 0 when
// the main window is not initialised (bytes dropped), else 1.
int ConsoleWritePlain(const char* data, size_t len);
