// libFuzzer target for the telnet client's option handler. The first byte
// picks IAC interpretation and line mode; the rest is split into two blocks
// so a state carried between receives is exercised.
#include <cstddef>
#include <cstdint>

#include "backend/telnetc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool iac = (data[0] & 1) == 0, lineMode = (data[0] & 2) != 0;
    const size_t half = (size - 1) / 2;
    TelnetParser p;
    TelnetOutput out;
    TelnetParse(p, data + 1, half, iac, lineMode, out);
    TelnetParse(p, data + 1 + half, size - 1 - half, iac, lineMode, out);
    // Replies never outgrow what came in: one answer per complete request.
    if (out.replies.size() > 3 * size + 16) __builtin_trap();
    return 0;
}
