// libFuzzer target for the XMODEM receiver's stream logic.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/xmodem_fuzz.cpp src/xfer/*.cpp src/app/*.cpp src/console/*.cpp \
//     src/config/*.cpp src/log/*.cpp src/script/*.cpp src/backend/*.cpp \
//     src/platform/*.cpp src/servers/*.cpp -llua5.2 -lcjson -lcrypto -lz -ldl -lutil \
//     -o xmodem_fuzz
// The first input byte picks CRC or checksum mode; the rest is the target's
// byte stream. The image must stay within its limit and every action must
// leave the receiver consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "xfer/xmodem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    XmodemRx rx;
    rx.crc = data[0] & 1;
    rx.limit = 64 * 1024;
    for (size_t i = 1; i < size; i++) {
        XrAction a = XmodemRxFeed(rx, data[i]);
        if (rx.image.size() > rx.limit) std::abort();
        if (a == XrAction::Fail || a == XrAction::NakFail || a == XrAction::End || rx.done) break;
    }
    return 0;
}
