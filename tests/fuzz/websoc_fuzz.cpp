// libFuzzer target for the WebSocket server's frame reader, message parser
// and outgoing messages.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/websoc_fuzz.cpp src/servers/websocproto.cpp src/servers/httpparse.cpp \
//     -lcjson -lcrypto -o websoc_fuzz
// The input is a stream of frames as the server would receive it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "servers/websocproto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view all(reinterpret_cast<const char*>(data), size);
    size_t at = 0;
    while (at < size) {
        WsFrame f = WsParseFrame(data + at, size - at);
        if (f.status != WS_FRAME) break;
        WsParseMessage(WsPayload(data + at, f).substr(0, kWsTextMax));
        at += f.headerLen + f.payloadLen;
    }
    size_t cut = WsCutPoint(all, kWsDatChunk);
    WsDatMessage(all.substr(0, cut));
    WsIncompleteTail(all);
    WsAcceptValue(all.substr(0, 64));
    return 0;
}
