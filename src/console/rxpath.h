// The received-data path: the one entry for every byte from the target.
#pragma once

#include <cstddef>
#include <cstdint>

// Delivers one received block. out must hold at least 5 bytes per input byte;
// outSize is passed on to the filter library only.
void RxDeliver(const uint8_t* in, uint8_t* out, size_t len, size_t outSize);
// The alternate COM port's display path.
void RxDeliverAlt(const uint8_t* in, uint8_t* out, size_t len, size_t outSize);
