#include "console/rxpath.h"

#include "console/screenbuf.h"

void RxDeliver(const uint8_t* in, uint8_t*, size_t len, size_t) {
    ConsoleWritePlain(reinterpret_cast<const char*>(in), len);
}
void RxDeliverAlt(const uint8_t* in, uint8_t*, size_t len, size_t) {
    ConsoleWritePlain(reinterpret_cast<const char*>(in), len);
}
