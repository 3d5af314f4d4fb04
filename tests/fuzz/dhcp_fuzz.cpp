// libFuzzer target for DHCP/BOOTP: the input is read as a request (and
// answered from a fixed entry, then dumped) and as configuration text.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/dhcp_fuzz.cpp src/*/*.cpp -llua5.2 -lcjson -lcrypto -lz -ldl -lutil \
//     -o dhcp_fuzz
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "servers/dhcp_cfg.h"
#include "servers/dhcp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DhcpRequest r = DhcpReadRequest(data, size);
    if (r.valid) {
        DhcpEntry e;
        e.options = {1, 4, 255, 255, 255, 0, 255};
        std::vector<uint8_t> reply = DhcpBuildReply(data, size, r, e);
        if (reply.size() < kDhcpHeader) std::abort();
        DhcpDump("OUTGOING", reply.data(), reply.size());
    }
    DhcpDump("INCOMING", data, size);
    DhcpConfig c = DhcpParseConfig(std::string(reinterpret_cast<const char*>(data), size), "f",
                                   [](std::string&) { return true; });
    for (const DhcpEntry& e : c.entries)
        if (e.options.empty() || e.options.back() != 255 || e.serverName.size() > 63 || e.bootFile.size() > 127)
            std::abort();
    return 0;
}
