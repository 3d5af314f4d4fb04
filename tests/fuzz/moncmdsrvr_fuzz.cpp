// libFuzzer target for MONCMD server requests (one datagram each).
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/moncmdsrvr_fuzz.cpp src/*/*.cpp -llua5.2 -lcjson -lcrypto -lz -ldl -lutil \
//     -o moncmdsrvr_fuzz
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "servers/moncmdsrvr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MoncmdRequest r = MoncmdParse(data, size);
    if (r.text.size() > kMoncmdDatagram || r.rest.size() > r.text.size() || r.number < 0) std::abort();
    return 0;
}
