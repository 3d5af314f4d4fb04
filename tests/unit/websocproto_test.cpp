// The WebSocket server's handshake value, frame reader and writer, JSON
// messages and incoming commands, fed directly.
#include "servers/websocproto.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

namespace {

std::string Masked(uint8_t first, const std::string& payload, bool mask = true) {
    std::string f(1, static_cast<char>(first));
    const uint8_t m[4] = {0x12, 0x34, 0x56, 0x78};
    size_t n = payload.size();
    uint8_t bit = mask ? 0x80 : 0;
    if (n <= 125) {
        f += static_cast<char>(bit | n);
    } else {
        f += static_cast<char>(bit | 126);
        f += static_cast<char>(n >> 8);
        f += static_cast<char>(n & 0xFF);
    }
    if (mask) f.append(reinterpret_cast<const char*>(m), 4);
    for (size_t i = 0; i < n; ++i) f += static_cast<char>(payload[i] ^ (mask ? m[i % 4] : 0));
    return f;
}

WsFrame Parse(const std::string& bytes) {
    return WsParseFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The "data" string of a dat message, after a JSON parser has read it.
std::string DatData(const std::string& message) {
    cJSON* o = cJSON_Parse(message.c_str());
    std::string out = o && cJSON_IsString(cJSON_GetObjectItem(o, "data")) ? cJSON_GetObjectItem(o, "data")->valuestring
                                                                        : "<invalid>";
    cJSON_Delete(o);
    return out;
}

TEST(WebsocProto, SampleKeyOfTheProtocolGivesItsAcceptValue) {
    EXPECT_EQ(WsAcceptValue("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_FALSE(WsAcceptValue(std::string(100, 'k')));
}

TEST(WebsocProto, FramesAreReadWholeSplitOrTogether) {
    std::string two = Masked(0x81, "CMD: ls") + Masked(0x81, std::string(300, 'z'));
    WsFrame f = Parse(two);
    ASSERT_EQ(f.status, WS_FRAME);
    EXPECT_EQ(WsPayload(reinterpret_cast<const uint8_t*>(two.data()), f), "CMD: ls");
    std::string second = two.substr(f.headerLen + f.payloadLen);
    f = Parse(second);
    ASSERT_EQ(f.status, WS_FRAME);
    EXPECT_EQ(WsPayload(reinterpret_cast<const uint8_t*>(second.data()), f), std::string(300, 'z'));
    for (size_t cut = 0; cut < second.size(); ++cut) EXPECT_EQ(Parse(second.substr(0, cut)).status, WS_NEED_MORE) << cut;
}

TEST(WebsocProto, HostileFramesAreRefusedBeforeAnythingIsSized) {
    std::string huge64("\x81\xFF\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10);
    std::string gigabyte("\x81\xFF\x00\x00\x00\x00\x40\x00\x00\x00", 10);
    std::string low32wraps("\x81\xFF\x00\x00\x00\x01\x00\x00\x00\x05", 10);
    std::string long16("\x81\xFE\x10\x00", 4);
    for (const std::string& h : {huge64, gigabyte, low32wraps, long16}) EXPECT_EQ(Parse(h).status, WS_BAD);
    EXPECT_EQ(Parse(Masked(0xC1, "x")).status, WS_BAD);        // RSV1
    EXPECT_EQ(Parse(Masked(0x81, "x", false)).status, WS_BAD); // not masked
    WsFrame ping = Parse(Masked(0x89, ""));
    EXPECT_EQ(ping.status, WS_FRAME);
    EXPECT_EQ(ping.opcode, 9);
}

TEST(WebsocProto, OutgoingFramesCarryTheWholeMessage) {
    for (size_t n : {0u, 125u, 126u, 1020u, 5000u, 70000u}) {
        std::string f = WsTextFrame(std::string(n, 'a'));
        EXPECT_EQ(static_cast<uint8_t>(f[0]), 0x81);
        size_t header = n <= 125 ? 2 : n <= 0xFFFF ? 4 : 10;
        EXPECT_EQ(f.size(), header + n) << n;
    }
}

TEST(WebsocProto, TargetBytesAlwaysMakeValidJson) {
    struct Case {
        std::string in, data;
    } cases[] = {
        {"ok\r\nnext", "ok\nnext"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},                 // valid UTF-8 kept
        {"\xB0" "C", "\xC2\xB0" "C"},                                // a stray byte is its Latin-1 character
        {std::string("a\0b", 3), "a\xE2\x90\x80" "b"},              // NUL shown as the NUL symbol
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},               // a surrogate is not UTF-8
        {"\x1B[1m\t\"q\"\\", "\x1B[1m\t\"q\"\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(DatData(WsDatMessage(c.in)), c.data);
    std::string label = WsLabelMessage(true, 3, "Pwr\xFF");
    EXPECT_NE(label.find("\"type\":\t\"btn\""), std::string::npos) << label;
    EXPECT_NE(label.find("\"num\":\t3"), std::string::npos) << label;
}

TEST(WebsocProto, BlocksAreCutBetweenCharacters) {
    std::string s = std::string(1021, 'a') + "\xE2\x82\xAC" + "b";
    EXPECT_EQ(WsCutPoint(s, 1022), 1021u);
    EXPECT_EQ(WsCutPoint("short", 1022), 5u);
    EXPECT_EQ(WsIncompleteTail("ab\xE2\x82"), 2u);
    EXPECT_EQ(WsIncompleteTail("ab\xE2\x82\xAC"), 0u);
    EXPECT_EQ(WsIncompleteTail("ab\xF0"), 1u);
    EXPECT_EQ(WsIncompleteTail("abc"), 0u);
}

TEST(WebsocProto, IncomingMessages) {
    struct Case {
        const char* text;
        WsActionKind kind;
        int number;
        const char* out;
    } cases[] = {
        {"WSCMD: hello", WS_REPLY, 0, "Hi! I got hello\n"},
        {"CMD: \r\nls -l\r\nrest", WS_TYPE_LINE, 0, "ls -l"},
        {"FKEY 7", WS_FKEY, 7, ""},
        {"FKEYx", WS_FKEY, 0, ""},
        {"BUTN12", WS_BUTTON, 12, ""},
        {"{\"type\":\"cmd\",\"line\":\"ls -l\"}", WS_TYPE_LINE, 0, "ls -l"},
        {"{\"type\":\"cmd\",\"line\":\"\\nreboot\\n\"}", WS_TYPE_LINE, 0, "reboot"},
        {"{\"type\":\"fkey\",\"nmbr\":4}", WS_FKEY, 4, ""},
        {"{\"type\":\"btn\",\"nmbr\":16}", WS_BUTTON, 16, ""},
        {"{\"type\":\"zap\"}", WS_REPLY, 0, "server-to-client response"},
        {"not json", WS_REPLY, 0, "server-to-client response"},
        {"{\"type\":5}", WS_REPLY, 0, "server-to-client response"},
    };
    for (const Case& c : cases) {
        WsAction a = WsParseMessage(c.text);
        EXPECT_EQ(a.kind, c.kind) << c.text;
        EXPECT_EQ(a.number, c.number) << c.text;
        if (c.kind == WS_REPLY || c.kind == WS_TYPE_LINE) {
            EXPECT_EQ(a.text, c.out) << c.text;
        }
    }
    EXPECT_EQ(WsParseMessage("{\"type\":\"btn\",\"nmbr\":2}").trace.front(), "TYPE: <\"btn\">");
}

}  // namespace
