// libFuzzer target for the VT100 emulator and the received-data path.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/vt100_fuzz.cpp src/console/*.cpp src/app/*.cpp src/config/*.cpp \
//     src/log/*.cpp src/script/*.cpp src/backend/*.cpp src/platform/*.cpp \
//     src/servers/*.cpp src/xfer/*.cpp -llua5.2 -lcjson -lcrypto -lz -ldl -lutil \
//     -o vt100_fuzz
// The first input byte picks settings; the rest is one or two received blocks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/oxel.h"
#include "config/configrecord.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "console/vt100.h"

namespace {
int Swallow(const char*, size_t n) { return static_cast<int>(n); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool init = [] {
        ConfigInitDefaults();
        SetFrameInitialised(true);
        ConsoleInit(60, 90);
        ConsoleResizeChars(24, 80);
        RxHooksRef().backendReply = Swallow;
        return true;
    }();
    (void)init;
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    g_cfg.VT100_EMULATION = 1;
    g_cfg.CHAR_ATTRIBUTES = mode & 1;
    ConsoleSetPerCellColours(mode & 1);
    g_cfg.AUTOWRAP = (mode >> 1) & 1;
    g_cfg.NEWLINE = (mode >> 2) & 1;
    g_cfg.HEXMODE = (mode >> 3) & 3;
    g_cfg.DROP_NON_PRINTABLES = (mode >> 5) & 1;
    g_cfg.TABSTOP = (mode >> 6) * 3;
    ++data;
    --size;
    std::vector<uint8_t> out(size * 5 + 8);
    const size_t half = size / 2;
    RxDeliver(data, out.data(), half, out.size());
    RxDeliver(data + half, out.data(), size - half, out.size());
    ConsoleCursor c = ConsoleGetCursor();
    if (c.row < 0 || c.row >= ConsoleBufferRows() || c.col < 0 || c.col > ConsoleCols()) __builtin_trap();
    return 0;
}
