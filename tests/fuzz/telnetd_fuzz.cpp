// libFuzzer target for what a telnet-server client types: the command
// skipping and line-end folding, password entry and the local-command line.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/telnetd_fuzz.cpp src/*/*.cpp -llua5.2 -lcjson -lcrypto -lz -ldl -lutil \
//     -o telnetd_fuzz
// The first byte picks the mode; the rest is what the client sent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "servers/loccmd.h"
#include "servers/telnetd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    TelnetInput s;
    std::string target = TelnetTargetBytes(s, data, size, mode & 1);
    // Nothing is ever added except the LF after a CR.
    if (target.size() > 2 * size) std::abort();

    PasswordEntry e;
    for (size_t i = 0; i < size; ++i) {
        PasswordStep step = PasswordByte(e, data[i]);
        if (e.typed.size() > 65) std::abort();
        if (step == PasswordStep::Done || step == PasswordStep::TooLong) {
            PasswordMatches(e.typed, "secret");
            e = PasswordEntry{};
        }
    }

    LocalLine line;
    for (size_t i = 0; i < size; ++i) {
        LineStep step = LocalLineByte(line, data[i]);
        if (line.text.size() > kLocalLineMax) std::abort();
        if (step == LineStep::Done || step == LineStep::TooLong) {
            LocalLineKind(line.text);
            line = LocalLine{};
        }
    }
    bool prevCr = false;
    HostOutputCrLf(reinterpret_cast<const char*>(data), size, prevCr);
    return 0;
}
