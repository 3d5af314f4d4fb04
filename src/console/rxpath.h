// The received-data path: the one entry for every byte from the target.
#pragma once

#include <cstddef>
#include <cstdint>

// Delivers one received block. out must hold at least 5 bytes per input byte;
// outSize is passed on to the filter library only.
void RxDeliver(const uint8_t* in, uint8_t* out, size_t len, size_t outSize);
// The alternate COM port's display path.
void RxDeliverAlt(const uint8_t* in, uint8_t* out, size_t len, size_t outSize);
// Sends text through the paste sender (its own thread, byte by byte with the
// character delay); a text over 512 bytes is not sent. 1 started, 0 refused.
int RxPasteText(const char* data, size_t len);
// Bytes received since start.
uint32_t RxByteCount();
