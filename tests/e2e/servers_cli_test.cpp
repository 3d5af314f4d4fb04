// oxel-cli's telnet and MONCMD servers with real peers on 127.0.0.1: busybox
// telnet and plain sockets for the telnet server, a python3 UDP socket for
// the MONCMD server, a pseudo-terminal pair for the board.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "../unit/loopback_peer.h"
#include "proc.h"
#include "pty_board.h"
#include "telnet_client.h"

namespace {

constexpr int kRun = 10;   // ports the telnet server tries

std::string Config(const std::vector<std::string>& lines) {
    std::string s = "###################################################\n#\n# Oxel configuration file\n#\n";
    for (const auto& l : lines) s += l + "\n";
    return s;
}

// A TCP port free on every interface, with the next nine free as well.
uint16_t FreePortRun(int run) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        uint16_t base = FreeTcpPort();
        if (base == 0 || base > 65000) continue;
        bool ok = true;
        for (int i = 0; i < run && ok; ++i) {
            int fd = NetListenTcp(static_cast<uint16_t>(base + i), false);
            ok = fd >= 0;
            NetClose(fd);
        }
        if (ok) return base;
    }
    return 0;
}

// Board output reaches clients only once start-up is done: say it until the
// program shows it.
bool WaitShown(Proc& p, PtyBoard& b, const std::string& probe) {
    for (int i = 0; i < 60; ++i) {
        b.Send(probe);
        if (p.WaitOutput(probe, 250)) return true;
    }
    return false;
}

class CliServers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(board.path.empty()); }
    // oxel-cli on the board as COM3 with the given extra configuration lines.
    std::unique_ptr<Proc> Run(const std::vector<std::string>& extra, const std::vector<std::string>& args = {}) {
        std::vector<std::string> lines = {"BACKEND 1", "COMPORT 3", "BAUDRATE 115200", "DELAY_BETWEEN_CHARS 0"};
        lines.insert(lines.end(), extra.begin(), extra.end());
        home.Write("s.ct", Config(lines));
        std::vector<std::string> a = {"-D", "COMDEV_3=" + board.path, "-d", home.File("trace.txt")};
        a.insert(a.end(), args.begin(), args.end());
        a.push_back(home.File("s.ct"));
        return std::make_unique<Proc>(CliPath(), a, std::vector<std::string>{"OXEL_HOME=" + home.path()});
    }
    std::string Trace() { return home.Read("trace.txt"); }
    TempDir home;
    PtyBoard board;
};

TEST_F(CliServers, BusyboxTelnetAndASocketShareTheBoard) {
    const uint16_t port = FreePortRun(1);
    auto p = Run({"TELNET_ENABLED TRUE", "TELNET_PORT " + std::to_string(port)});
    ASSERT_TRUE(WaitShown(*p, board, "ready>"));
    TelnetClient raw(port);
    std::string head = raw.ReadFor("active connection)\r\n");
    ASSERT_FALSE(head.empty()) << raw.got;
    EXPECT_EQ(head.substr(0, 6), "\xff\xfd\x22\xff\xfb\x01");
    EXPECT_NE(head.find("You are connected in read-write mode"), std::string::npos);
    EXPECT_TRUE(raw.Expect("\r\nConnection to COM3 @ 115200baud\r\n"));

    Proc bb("/usr/bin/busybox", {"telnet", "127.0.0.1", std::to_string(port)});
    EXPECT_TRUE(bb.WaitOutput("(2 active connections)", 10000)) << bb.Out() << bb.Err();
    EXPECT_TRUE(bb.WaitOutput("Connection to COM3", 10000));
    board.Send("target says hi\r\n");
    EXPECT_TRUE(bb.WaitOutput("target says hi", 10000));
    EXPECT_TRUE(raw.Expect("target says hi\r\n"));
    // What the busybox user types reaches the board, its line end as CR.
    bb.Write("status\n");
    EXPECT_TRUE(board.Expect("status\r", 10000)) << board.got;
    raw.Send("raw\r\n");
    EXPECT_TRUE(board.Expect("raw\r", 10000));
    bb.Signal(SIGTERM);
    bb.Wait(5000);
    p->Signal(SIGTERM);
    EXPECT_EQ(p->Wait(15000), 0);
    EXPECT_NE(Trace().find("accepted connection with 127.0.0.1"), std::string::npos);
}

TEST_F(CliServers, TakenPortMovesTheServerToTheNextAndTenTakenDisableIt) {
    const uint16_t port = FreePortRun(kRun);
    ASSERT_NE(port, 0);
    int held = NetListenTcp(port, false);
    ASSERT_GE(held, 0);
    {
        auto p = Run({"TELNET_ENABLED TRUE", "TELNET_PORT " + std::to_string(port)});
        ASSERT_TRUE(WaitShown(*p, board, "up>"));
        TelnetClient c(static_cast<uint16_t>(port + 1));
        EXPECT_TRUE(c.Expect("read-write mode"));
        p->Signal(SIGTERM);
        EXPECT_EQ(p->Wait(15000), 0);
        EXPECT_NE(Trace().find("Bind to port " + std::to_string(port) + " failed, trying " +
                               std::to_string(port + 1)),
                  std::string::npos);
    }
    std::vector<int> all{held};
    for (int i = 1; i < kRun; ++i) all.push_back(NetListenTcp(static_cast<uint16_t>(port + i), false));
    auto p = Run({"TELNET_ENABLED TRUE", "TELNET_PORT " + std::to_string(port)});
    EXPECT_TRUE(p->WaitError("[TELNET SERVER] Bind failed, server disabled", 15000)) << p->Err();
    p->Signal(SIGTERM);
    EXPECT_EQ(p->Wait(15000), 0);
    for (int& fd : all) NetClose(fd);
}

// One python3 UDP client: each argument is a request; it prints, per
// request, the answer in hex and the milliseconds it took.
constexpr const char* kMoncmdClient = R"(
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(10)
port = int(sys.argv[1])
for req in sys.argv[2:]:
    data = req.encode().replace(b'<NUL>', b'\0').replace(b'<512>', b'x' * 504)
    t = time.monotonic()
    s.sendto(data, ('127.0.0.1', port))
    ans, _ = s.recvfrom(16)
    print('ACK', ans.hex(), int((time.monotonic() - t) * 1000), flush=True)
)";

TEST_F(CliServers, MoncmdRequestsFromPython) {
    int probe = NetUdpSocket(0, true);
    const uint16_t port = NetLocalPort(probe);
    NetClose(probe);
    home.Write("client.py", kMoncmdClient);
    auto p = Run({"MONCMDSRVR_ENABLED TRUE", "MONCMDSRVR_PORT " + std::to_string(port)});
    ASSERT_TRUE(WaitShown(*p, board, "go>"));
    ProcResult r = RunProgram("/usr/bin/python3", {home.File("client.py"), std::to_string(port),
                                          "SCRCMD: SEND -n -d 40 0123456789", "BUTTON: 17", "FKEY: 0", "FKEY:1",
                                          "SCRCMD: <512>", "SCRCMD: ECHO from python<NUL>ignored"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The answer to the SEND came after all of it had gone to the board.
    EXPECT_TRUE(board.Expect("0123456789\r", 1000)) << board.got;
    std::vector<std::string> acks;
    for (size_t at = 0; (at = r.out.find("ACK ", at)) != std::string::npos; at += 4)
        acks.push_back(r.out.substr(at, r.out.find('\n', at) - at));
    ASSERT_EQ(acks.size(), 6u) << r.out;
    for (const auto& a : acks) EXPECT_EQ(a.substr(0, 7), "ACK 00 ") << a;
    EXPECT_GE(std::stoi(acks[0].substr(7)), 400);   // ten characters 40 ms apart, then the answer
    EXPECT_TRUE(p->WaitOutput("from python", 10000));
    p->Signal(SIGTERM);
    EXPECT_EQ(p->Wait(15000), 0);
    std::string trace = Trace();
    EXPECT_NE(trace.find("MONCMD button: <17>"), std::string::npos) << trace;
    EXPECT_NE(trace.find("MONCMD funckey: <0>"), std::string::npos);
    EXPECT_NE(trace.find("MONCMD unknown command"), std::string::npos);
}

TEST_F(CliServers, MoncmdPortInUseIsSaid) {
    int probe = NetUdpSocket(0, true);
    const uint16_t port = NetLocalPort(probe);
    NetClose(probe);
    int held = NetUdpSocket(port, false);
    ASSERT_GE(held, 0);
    auto p = Run({"MONCMDSRVR_ENABLED TRUE", "MONCMDSRVR_PORT " + std::to_string(port)});
    EXPECT_TRUE(p->WaitError("[MONCMD SERVER] port " + std::to_string(port) + " in use", 15000)) << p->Err();
    p->Signal(SIGTERM);
    EXPECT_EQ(p->Wait(15000), 0);
    NetClose(held);
}

}  // namespace
