// The WebSocket server's pure pieces: the handshake's accept value, the
// frame reader and writer, the outgoing JSON messages and the meaning of an
// incoming text message. Bytes in, results out; no sockets, no globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t kWsRecvMax = 2048;        // one frame, header included, at most
constexpr size_t kWsTextMax = 511;         // what is taken of a text payload
constexpr size_t kWsDatChunk = 1022;       // target bytes per "dat" message

// Sec-WebSocket-Accept for a key; nullopt when key and GUID exceed 128 characters.
std::optional<std::string> WsAcceptValue(std::string_view key);

enum WsFrameStatus { WS_NEED_MORE, WS_FRAME, WS_BAD };
struct WsFrame {
    WsFrameStatus status = WS_NEED_MORE;
    bool fin = false;
    int opcode = 0;
    size_t headerLen = 0;
    size_t payloadLen = 0;   // what the header declares (checked against the limit)
    uint8_t mask[4] = {0, 0, 0, 0};
    const char* why = "";    // WS_BAD: the trace text
};
// Reads the frame header at the front of data. A frame whose header and
// payload exceed maxFrame, that sets reserved bits, or that a client sent
// without a mask is WS_BAD; nothing is ever sized by the declared length.
WsFrame WsParseFrame(const uint8_t* data, size_t len, size_t maxFrame = kWsRecvMax);
// The frame's payload, unmasked (the bytes must all be present).
std::string WsPayload(const uint8_t* data, const WsFrame& f);

// An unmasked text frame carrying the whole payload.
std::string WsTextFrame(std::string_view payload);

// Target bytes as JSON text: CR removed, valid UTF-8 kept, every other byte
// taken as the Latin-1 character of its value, NUL as U+2400.
std::string WsDatMessage(std::string_view data);
// {"type": "btn"/"fkey", "num": n, "label": text}
std::string WsLabelMessage(bool button, int n, std::string_view label);
// Where to cut a block so that no UTF-8 sequence is split: at most limit.
size_t WsCutPoint(std::string_view data, size_t limit);
// Bytes at the end of data that begin a UTF-8 sequence not yet complete.
size_t WsIncompleteTail(std::string_view data);

enum WsActionKind { WS_REPLY, WS_TYPE_LINE, WS_FKEY, WS_BUTTON, WS_IGNORE };
struct WsAction {
    WsActionKind kind = WS_IGNORE;
    int number = 0;               // WS_FKEY, WS_BUTTON
    std::string text;             // WS_REPLY: the reply; WS_TYPE_LINE: the line
    std::vector<std::string> trace;   // lines for the system trace
};
// What an incoming text message asks for.
WsAction WsParseMessage(std::string_view text);
