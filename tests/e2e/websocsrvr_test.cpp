// The WebSocket server end to end: oxel-cli on a pseudo-terminal board,
// Debian's python3-websockets (through ws_client.py) and curl on 127.0.0.1.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "web_bench.h"

namespace {

// A python3-websockets session: OPEN, then one "MSG <json>" line per message.
struct WsSession {
    Proc proc;
    explicit WsSession(const WebBench& b, const std::string& origin = "")
        : proc("/usr/bin/python3", origin.empty() ? std::vector<std::string>{WsClientScript(), "session", b.WsUrl()}
                                                  : std::vector<std::string>{WsClientScript(), "session", b.WsUrl(), origin}) {}
    void Send(const std::string& text) { proc.Write(text + "\n"); }
    // The messages received so far.
    std::vector<std::string> Messages() {
        std::vector<std::string> out;
        std::istringstream lines(proc.Out());
        for (std::string l; std::getline(lines, l);) {
            if (l.rfind("MSG ", 0) != 0) continue;
            cJSON* s = cJSON_Parse(l.c_str() + 4);
            if (cJSON_IsString(s)) out.push_back(s->valuestring);
            cJSON_Delete(s);
        }
        return out;
    }
};

// The "data" of every "dat" message, in order; *longest gets the largest piece.
std::string DatText(const std::vector<std::string>& messages, size_t* longest = nullptr) {
    std::string all;
    for (const std::string& m : messages) {
        cJSON* o = cJSON_Parse(m.c_str());
        cJSON* type = cJSON_GetObjectItem(o, "type");
        cJSON* data = cJSON_GetObjectItem(o, "data");
        if (cJSON_IsString(type) && std::string(type->valuestring) == "dat" && cJSON_IsString(data)) {
            all += data->valuestring;
            if (longest) *longest = std::max(*longest, std::strlen(data->valuestring));
        }
        cJSON_Delete(o);
    }
    return all;
}

// Waits until the session has shown the board's probe.
bool SessionSeesBoard(WebBench& b, WsSession& s) {
    for (int i = 0; i < 40; ++i) {
        b.board.Send("probe\r\n");
        if (s.proc.WaitOutput("probe", 250)) return true;
    }
    return false;
}

std::string Handshake(const WebBench& b, const std::string& key, const std::string& header = "X-None: 1") {
    return WebBench::Curl({"-i", "-N", "--max-time", "3", "-H", "Connection: Upgrade", "-H", "Upgrade: websocket",
                           "-H", "Sec-WebSocket-Version: 13", "-H", "Sec-WebSocket-Key: " + key, "-H", header,
                           "http://127.0.0.1:" + std::to_string(b.ws) + "/"})
        .out;
}

TEST(WebsocServer, SampleKeyGetsTheSampleAcceptValue) {
    WebBench b;
    ASSERT_TRUE(b.Start());
    std::string r = Handshake(b, "dGhlIHNhbXBsZSBub25jZQ==");
    EXPECT_EQ(r.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u) << r;
    EXPECT_NE(r.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos) << r;
}

TEST(WebsocServer, TargetOutputArrivesWholeAndInOrder) {
    WebBench b;
    ASSERT_TRUE(b.Start());
    ASSERT_TRUE(b.BoardConnected());
    WsSession s(b);
    ASSERT_TRUE(s.proc.WaitOutput("OPEN", 10000)) << s.proc.Err();
    ASSERT_TRUE(SessionSeesBoard(b, s));
    std::string block;
    for (int i = 0; block.size() < 5000; ++i) block += "<" + std::to_string(i) + ">";
    block.resize(5000);
    b.board.Send(block + "|END|");
    ASSERT_TRUE(s.proc.WaitOutput("|END|", 15000));
    size_t longest = 0;
    std::string text = DatText(s.Messages(), &longest);
    EXPECT_NE(text.find(block + "|END|"), std::string::npos);
    EXPECT_LE(longest, 1022u);
    // Bytes that are not UTF-8 still arrive as text: each as its Latin-1 character.
    b.board.Send("t=21\xB0" "C \xE2\x82\xAC|U|");
    ASSERT_TRUE(s.proc.WaitOutput("|U|", 15000));
    EXPECT_NE(DatText(s.Messages()).find("t=21\xC2\xB0" "C \xE2\x82\xAC|U|"), std::string::npos);
}

TEST(WebsocServer, ClientsTypeLinesAndPressKeys) {
    WebBench b;
    ASSERT_TRUE(b.Start({"BUTTON_3 \"b3go\\r\"", "FKEY_2 \"f2go\\r\""}));
    ASSERT_TRUE(b.BoardConnected());
    WsSession s(b);
    ASSERT_TRUE(s.proc.WaitOutput("OPEN", 10000)) << s.proc.Err();
    s.Send("CMD: ls -l");
    EXPECT_TRUE(b.board.Expect("ls -l\r", 15000, true));
    s.Send("{\"type\":\"cmd\",\"line\":\"uname -a\"}");
    EXPECT_TRUE(b.board.Expect("uname -a\r", 15000, true));
    s.Send("FKEY2");
    EXPECT_TRUE(b.board.Expect("f2go\r", 15000, true));
    s.Send("{\"type\":\"btn\",\"nmbr\":3}");
    EXPECT_TRUE(b.board.Expect("b3go\r", 15000, true));
    s.Send("WSCMD: hello");
    EXPECT_TRUE(s.proc.WaitOutput("MSG \"Hi! I got hello\\n\"", 10000)) << s.proc.Out();
    s.Send("{\"type\":\"nothing\"}");
    EXPECT_TRUE(s.proc.WaitOutput("MSG \"server-to-client response\"", 10000));
}

TEST(WebsocServer, PingAndHostileFramesCloseTheConnection) {
    WebBench b;
    ASSERT_TRUE(b.Start());
    const struct {
        const char* what;
        const char* hex;
    } frames[] = {
        {"ping", "898012345678"},
        {"2^63 bytes declared", "81ff7fffffffffffffff12345678"},
        {"1 GB declared", "81ff000000004000000012345678"},
        {"reserved bits", "c1811234567861"},
        {"unmasked", "810161"},
        {"not final", "018112345678aa"},
        {"binary", "828112345678aa"},
    };
    for (const auto& f : frames) {
        ProcResult r = RunProgram("/usr/bin/python3", {WsClientScript(), "raw", "127.0.0.1", std::to_string(b.ws), f.hex});
        EXPECT_EQ(r.out.rfind("CLOSED", 0), 0u) << f.what << ": " << r.out << r.err;
    }
    // The server is still there for the next client.
    WsSession s(b);
    EXPECT_TRUE(s.proc.WaitOutput("OPEN", 10000));
}

TEST(WebsocServer, CrossSiteHandshakesAreRefused) {
    WebBench b;
    ASSERT_TRUE(b.Start());
    WsSession evil(b, "http://evil.example");
    EXPECT_TRUE(evil.proc.WaitOutput("REFUSED 403", 10000)) << evil.proc.Out() << evil.proc.Err();
    WsSession own(b, "http://127.0.0.1:" + std::to_string(b.http));
    EXPECT_TRUE(own.proc.WaitOutput("OPEN", 10000)) << own.proc.Out();
    WsSession plain(b);
    EXPECT_TRUE(plain.proc.WaitOutput("OPEN", 10000));
    EXPECT_EQ(Handshake(b, "dGhlIHNhbXBsZSBub25jZQ==", "Sec-Fetch-Site: cross-site").rfind("HTTP/1.1 403", 0), 0u);
    EXPECT_EQ(Handshake(b, "dGhlIHNhbXBsZSBub25jZQ==", "Host: rebound.evil.example").rfind("HTTP/1.1 403", 0), 0u);
}

}  // namespace
