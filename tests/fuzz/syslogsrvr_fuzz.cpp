// libFuzzer target for SYSLOG datagrams (one datagram each).
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/syslogsrvr_fuzz.cpp src/*/*.cpp -llua5.2 -lcjson -lcrypto -lz -ldl -lutil \
//     -o syslogsrvr_fuzz
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "servers/syslogsrvr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line = SyslogLine("10.0.0.7", data, size);
    if (line.size() > kSyslogLineMax) std::abort();
    for (char c : line)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) std::abort();
    return 0;
}
