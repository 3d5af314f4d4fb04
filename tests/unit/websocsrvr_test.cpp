// The WebSocket server in this process on a loopback port, with Debian's
// python3-websockets (through ws_client.py) and a plain socket as clients:
// label changes, and a client that does not read while another keeps up.
#include "servers/websocsrvr.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <sstream>
#include <thread>

#include "config/configrecord.h"
#include "app/buttons.h"
#include "fake_ui.h"
#include "platform/net.h"
#include "proc.h"

namespace {

std::string Script() { return SourceDir() + "/tests/support/ws_client.py"; }

// The "data" of the session's dat messages, joined.
size_t DatBytes(const std::string& out) {
    size_t total = 0;
    std::istringstream lines(out);
    for (std::string l; std::getline(lines, l);) {
        if (l.rfind("MSG ", 0) != 0) continue;
        cJSON* s = cJSON_Parse(l.c_str() + 4);
        cJSON* o = cJSON_IsString(s) ? cJSON_Parse(s->valuestring) : nullptr;
        cJSON* d = cJSON_GetObjectItem(o, "data");
        if (cJSON_IsString(d)) total += std::strlen(d->valuestring);
        cJSON_Delete(o);
        cJSON_Delete(s);
    }
    return total;
}

// A client that shakes hands and then never reads.
int SilentClient(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    in_addr lo{};
    NetResolveIPv4("127.0.0.1", &lo);
    sockaddr_in to = NetAddress(lo, port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return -1;
    std::string hs = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    NetSendAll(fd, hs.data(), hs.size());
    std::string reply;
    char c;
    while (reply.find("\r\n\r\n") == std::string::npos && NetWaitReadable(fd, 5000) == 1 && recv(fd, &c, 1, 0) == 1)
        reply += c;
    return fd;
}

class WebsocLive : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        ButtonHooksReset();
        ASSERT_EQ(WebsocStart(0, 8080, {"127.0.0.1", "localhost"}), 1);
    }
    void TearDown() override { WebsocStop(); }
    std::string Url() const { return "ws://127.0.0.1:" + std::to_string(WebsocPort()) + "/"; }
    FakeUi fake;
};

TEST_F(WebsocLive, LabelChangesReachTheClients) {
    Proc client("/usr/bin/python3", {Script(), "session", Url()});
    ASSERT_TRUE(client.WaitOutput("OPEN", 10000)) << client.Err();
    SetLabel(true, 3, "  Boot  ");
    EXPECT_TRUE(client.WaitOutput("\\\"type\\\":\\t\\\"btn\\\",\\n\\t\\\"num\\\":\\t3,\\n\\t\\\"label\\\":\\t\\\"Boot\\\"",
                                  10000))
        << client.Out();
    SetLabel(false, 5, "Flash");
    EXPECT_TRUE(client.WaitOutput("\\\"type\\\":\\t\\\"fkey\\\",\\n\\t\\\"num\\\":\\t5", 10000)) << client.Out();
}

TEST_F(WebsocLive, AClientThatDoesNotReadIsDroppedAndTheOthersGetEverything) {
    Proc reader("/usr/bin/python3", {Script(), "session", Url()});
    ASSERT_TRUE(reader.WaitOutput("OPEN", 10000)) << reader.Err();
    int silent = SilentClient(WebsocPort());
    ASSERT_GE(silent, 0);
    // Wait until the server has both clients: a label reaches the reader
    // only after the silent one's handshake, which came first.
    SetLabel(true, 1, "go");
    ASSERT_TRUE(reader.WaitOutput("go", 10000));
    // 8 MB, more than the kernel and the queue hold for the silent client,
    // paced so that a reading client keeps up.
    const std::string block(2000, 'x');
    const size_t blocks = 4000;
    std::thread target([&] {
        for (size_t i = 0; i < blocks; ++i) {
            WebsocBroadcast(block.data(), block.size());
            if (i % 32 == 31) poll(nullptr, 0, 20);
        }
        WebsocBroadcast("|END|", 5);
    });
    bool done = reader.WaitOutput("|END|", 60000);
    target.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(DatBytes(reader.Out()), blocks * block.size() + 5);
    // The silent client's connection was closed: after what the kernel
    // held, it reads the end.
    char buf[65536];
    ssize_t n = 1;
    while (n > 0 && NetWaitReadable(silent, 10000) == 1) n = recv(silent, buf, sizeof buf, 0);
    EXPECT_EQ(n, 0);
    NetClose(silent);
}

}  // namespace
