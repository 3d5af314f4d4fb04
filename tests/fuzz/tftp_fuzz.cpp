// libFuzzer target for the TFTP packet parsers and the path rule.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/tftp_fuzz.cpp src/servers/tftp_proto.cpp -o tftp_fuzz
// Run: ./tftp_fuzz tests/fuzz/corpus/tftp
#include <cstddef>
#include <cstdint>
#include <string>

#include "servers/tftp_proto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TftpRequest rq;
    if (TftpParseRequest(data, size, rq)) {
        for (bool relativeOnly : {false, true}) {
            auto path = TftpLocalPath("/srv/tftp", rq.file, relativeOnly);
            // Whatever the name, a path below the directory never climbs out.
            if (path && path->find("/../") != std::string::npos) __builtin_trap();
        }
        for (const auto& o : rq.options) {
            auto b = TftpClampBlksize(o.value, kTftpMaxBlksize);
            if (b && (*b < kTftpMinBlksize || *b > kTftpMaxBlksize)) __builtin_trap();
            TftpOptionNumber(o.value, 255);
        }
        if (rq.options.size() > kTftpMaxOptions) __builtin_trap();
    }
    uint16_t code = 0;
    std::string text;
    TftpParseError(data, size, code, text);
    TftpParseOack(data, size);
    TftpNumberOf(data, size);
    TftpOpcodeName(TftpOpcodeOf(data, size));
    return 0;
}
