// XMODEM/YMODEM transfers over the backend.
#pragma once

#include <cstddef>

// True while a receive (or a send waiting for answers) owns the line; the
// received-data path then hands every block to XmodemReceiveBytes.
bool XmodemReceiving();
void XmodemReceiveBytes(const char* data, size_t len);
