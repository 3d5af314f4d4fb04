// libFuzzer target for BMPVIEW's decoders: a bitmap file, and the same bytes
// as a raw gray8 frame whose size the first two bytes choose.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/bmp_fuzz.cpp src/console/*.cpp src/app/*.cpp src/config/*.cpp \
//     src/log/*.cpp src/script/*.cpp src/backend/*.cpp src/platform/*.cpp \
//     src/servers/*.cpp src/xfer/*.cpp -llua5.2 -lcjson -lcrypto -lz -ldl -lutil \
//     -o bmp_fuzz
#include <cstddef>
#include <cstdint>
#include <string>

#include "script/bmpview_cmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string err;
    auto b = BmpDecode(bytes, &err);
    if (b && b->pixels.size() != static_cast<size_t>(b->width) * b->height * 3) __builtin_trap();
    if (size >= 2) {
        auto g = Gray8Decode(bytes.substr(2), data[0] % 64 + 1, data[1] % 64 + 1, data[0] >> 6, data[1] & 1, &err);
        if (g && g->pixels.size() != static_cast<size_t>(g->width) * g->height) __builtin_trap();
    }
    return 0;
}
