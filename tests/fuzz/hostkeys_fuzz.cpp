// libFuzzer target for the host terminal's function-key sequences.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/hostkeys_fuzz.cpp src/console/hostkeys.cpp -o hostkeys_fuzz
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "console/hostkeys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* p = reinterpret_cast<const char*>(data);
    // Scan as the reader does: a key, or one byte, at a time.
    for (size_t i = 0; i < size;) {
        HostKey k = ScanHostKey(p + i, size - i);
        if (k.fkey < 0 || k.fkey > 12 || (k.fkey == 0) != (k.length == 0) || k.length > size - i) std::abort();
        i += k.fkey ? k.length : 1;
    }
    return 0;
}
