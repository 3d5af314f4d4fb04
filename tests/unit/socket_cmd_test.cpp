// SOCKET and TCP through the runner against echo servers on 127.0.0.1.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "config/shellvar.h"
#include "script/socket_cmd.h"
#include "script_run.h"

namespace {

// Echoes every TCP client and every UDP datagram back until destroyed; a
// client that sends "bye" is closed by the server. Keeps what TCP clients sent.
struct EchoServer {
    EchoServer() {
        tcp = NetListenTcp(0, true);
        udp = NetUdpSocket(0, true);
        port = NetLocalPort(tcp);
        udpPort = NetLocalPort(udp);
        thread = std::thread([this] { Loop(); });
    }
    ~EchoServer() {
        stop = true;
        thread.join();
        for (int& c : clients) NetClose(c);
        NetClose(tcp);
        NetClose(udp);
    }
    std::string Received() {
        std::lock_guard l(mu);
        return received;
    }
    void Loop() {
        while (!stop) {
            std::vector<pollfd> fds{{tcp, POLLIN, 0}, {udp, POLLIN, 0}};
            for (int c : clients) fds.push_back({c, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 50) <= 0) continue;
            if (fds[0].revents & POLLIN) clients.push_back(accept(tcp, nullptr, nullptr));
            if (fds[1].revents & POLLIN) {
                char buf[2048];
                sockaddr_in from{};
                socklen_t len = sizeof from;
                ssize_t n = recvfrom(udp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (n > 0) sendto(udp, buf, n, 0, reinterpret_cast<sockaddr*>(&from), len);
            }
            for (size_t i = 2; i < fds.size(); i++) {
                if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
                char buf[2048];
                ssize_t n = recv(fds[i].fd, buf, sizeof buf, 0);
                int& c = clients[i - 2];
                if (n <= 0 || std::string(buf, n) == "bye") {
                    NetClose(c);
                    continue;
                }
                {
                    std::lock_guard l(mu);
                    received.append(buf, n);
                }
                NetSendAll(c, buf, n);
            }
            std::erase(clients, -1);
        }
    }
    int tcp = -1, udp = -1;
    uint16_t port = 0, udpPort = 0;
    std::vector<int> clients;
    std::atomic<bool> stop{false};
    std::mutex mu;
    std::string received;
    std::thread thread;
};

// Waits (bounded) until text() equals want.
template <typename Fn>
bool WaitForText(Fn text, const std::string& want) {
    for (int i = 0; i < 500 && text() != want; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return text() == want;
}

class SocketCmd : public ::testing::Test {
protected:
    void TearDown() override { SocketCloseAll(); }
    std::string Tcp() { return std::to_string(srv.port); }
    std::string Udp() { return std::to_string(srv.udpPort); }
    ScriptHome h;
    EchoServer srv;
};

TEST_F(SocketCmd, TcpAndUdpRoundTrips) {
    EXPECT_EQ(h.Run("SOCKET -T t OPEN 127.0.0.1 " + Tcp() + " tcp\n"
                    "SOCKET WRITE t \"hello there\"\n"
                    "SOCKET -t 5 READ t\nSET got $SOCKET\n"
                    "SOCKET WRITE t AB\nSOCKET -a READ t\nSET hex $SOCKET\n"
                    "SOCKET -T u OPEN 127.0.0.1 " + Udp() + " UDP\n"
                    "SOCKET WRITE u ping\nSOCKET READ u\nSET ugot $SOCKET\n"
                    "SOCKET CTRL\nSOCKET CLOSE t\nSOCKET CLOSE u\n"),
              "");
    EXPECT_EQ(h.Var("got"), "hello there");
    EXPECT_EQ(h.Var("hex"), "4142");
    EXPECT_EQ(h.Var("ugot"), "ping");
}

TEST_F(SocketCmd, FlushCountsAndSaves) {
    EXPECT_EQ(h.Run("SOCKET -T t OPEN 127.0.0.1 " + Tcp() + " TCP\nSOCKET WRITE t 12345\n"
                    "SOCKET -t 5 -f " + h.home.File("r.bin") + " READ t\n"
                    "SOCKET WRITE t abc\nSLEEP 200\nSOCKET FLUSH t\nSET n $SOCKET\n"),
              "");
    EXPECT_EQ(h.home.Read("r.bin"), "12345");
    EXPECT_EQ(h.Var("n"), "3");
}

TEST_F(SocketCmd, TableLimitsAndErrors) {
    std::string open;
    for (const char* n : {"a", "b", "c", "d"}) open += "SOCKET -T " + std::string(n) + " OPEN 127.0.0.1 " + Udp() + " UDP\n";
    EXPECT_EQ(h.Run(open + "SOCKET -T e OPEN 127.0.0.1 " + Udp() + " UDP\n"), "No available soctbl slots.\n");
    SocketCloseAll();
    struct {
        std::string script, error;
    } cases[] = {
        {"SOCKET READ nobody", "Socket 'nobody' not found.\n"},
        {"SOCKET -T x OPEN 127.0.0.1 " + Tcp() + " SCTP", "Parameter error\n"},
        {"SOCKET -T x OPEN 127.0.0.1 0 TCP", "Parameter error\n"},
        {"SOCKET -T " + std::string(64, 'n') + " OPEN 127.0.0.1 " + Tcp() + " TCP", "Parameter error\n"},
        {"SOCKET -T x OPEN no.such.host.invalid " + Tcp() + " TCP", "gethostbyname failed\n"},
        {"SOCKET BOGUS x", "Parameter error\n"},
        {"SOCKET WRITE x", "Incorrect number of arguments\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(h.Run(c.script + "\n"), c.error) << c.script;
    // A port nobody listens on: the connection is refused.
    int fd = NetListenTcp(0, true);
    std::string dead = std::to_string(NetLocalPort(fd));
    NetClose(fd);
    EXPECT_EQ(h.Run("SOCKET -T x OPEN 127.0.0.1 " + dead + " TCP\n"), "connect failed\n\n");
}

TEST_F(SocketCmd, ReadOnAClosingPeerFailsClearly) {
    EXPECT_EQ(h.Run("SOCKET -T t OPEN 127.0.0.1 " + Tcp() + " TCP\nSOCKET WRITE t bye\nSOCKET -t 5 READ t\n"),
              "SOCKET READ: the peer closed the connection\n");
    shell_setenv("SOCKET", "old");
    EXPECT_EQ(h.Run("SOCKET -t 0 READ t\n"), "SOCKET READ: the peer closed the connection\n");
    EXPECT_EQ(h.Var("SOCKET"), "<unset>");
}

TEST_F(SocketCmd, TcpSendsLines) {
    EXPECT_EQ(h.Run("TCP -h 127.0.0.1 -p " + Tcp() + " -d 10 -r SEND one \"t\\x41o\"\n"), "");
    EXPECT_TRUE(WaitForText([&] { return srv.Received(); }, "one\r\ntAo\r\n"));
    EXPECT_EQ(h.Run("TCP -h 127.0.0.1 -p " + Tcp() + " SEND " + std::string(300, 'x') + "\n"), "Parameter error\n");
    EXPECT_EQ(h.Run("TCP -h 127.0.0.1 -p " + Tcp() + " GO x\n"), "Parameter error\n");
}

}  // namespace
