// libFuzzer target for FILE httpget's parsers: the URL, the end of a reply's
// header and its status line.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/httpget_fuzz.cpp src/console/*.cpp src/app/*.cpp src/config/*.cpp \
//     src/log/*.cpp src/script/*.cpp src/backend/*.cpp src/platform/*.cpp \
//     src/servers/*.cpp src/xfer/*.cpp -llua5.2 -lcjson -lcrypto -lz -ldl -lutil \
//     -o httpget_fuzz
// The input is tried as a URL and as the start of a reply.
#include <cstddef>
#include <cstdint>
#include <string>

#include "script/file_cmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    HttpUrl u = HttpParseUrl(text);
    if (u.error == 0 && (u.host.empty() || u.path.empty() || u.path[0] != '/')) __builtin_trap();
    size_t end = HttpHeaderEnd(text);
    if (end != std::string::npos && end > text.size()) __builtin_trap();
    HttpStatus(text.substr(0, end == std::string::npos ? text.size() : end));
    return 0;
}
