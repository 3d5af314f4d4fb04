// libFuzzer target for FTP control lines: the command, a PORT argument and
// the path rule applied to the argument.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/ftp_fuzz.cpp src/*/*.cpp -llua5.2 -lcjson -lcrypto -lz -ldl -lutil \
//     -o ftp_fuzz
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "servers/ftp_proto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    FtpCommand c = FtpParseCommand(line);
    if (c.verb.size() > 4) std::abort();
    FtpParsePort(c.arg);
    for (bool relOnly : {true, false}) {
        auto p = FtpResolve("/srv/ftp", "/srv/ftp/sub", c.arg, relOnly);
        // With relative paths only, nothing leaves the start directory.
        if (p && relOnly && p->compare(0, 8, "/srv/ftp") != 0) std::abort();
        if (p) FtpShownDir("/srv/ftp", *p);
    }
    return 0;
}
