#include "console/rxpath.h"

#include "console/screenbuf.h"

void RxDeliver(const uint8_t* in, uint8_t*, size_t len, size_t) {
    ConsoleWritePlain(reinterpret_cast<const char*>(in), len);
}
void RxDeliverAlt(const uint8_t* in, uint8_t*, size_t len, size_t) {
    ConsoleWritePlain(reinterpret_cast<const char*>(in), len);
}
int RxPasteText(const char*, size_t len) { return len <= 512 ? 1 : 0; }
uint32_t RxByteCount() { return 0; }
