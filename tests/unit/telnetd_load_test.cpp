// The telnet server under load and under hostile clients, on 127.0.0.1 with a
// pseudo-terminal board: every client gets every byte in order, a client
// that does not read is dropped without holding the others up, a full table
// makes newcomers wait, and connections that come and go leave nothing behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/wiring.h"
#include "console/screenbuf.h"
#include "platform/report.h"
#include "util/utils.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"
#include "pty_board.h"
#include "config/shellvar.h"
#include "servers/telnetd.h"
#include "telnet_client.h"

namespace {

using Clock = std::chrono::steady_clock;

int CountEntries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

class TelnetLoad : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        AppWireHooks();
        g_cfg.TRACEFLAGS = 0xFFFF;
        g_cfg.TRACE_TSTAMP_ENABLE = 0;
        g_cfg.DELAY_BETWEEN_CHARS = 0;
        SetFrameInitialised(true);
        TraceClear();
        ASSERT_FALSE(board.path.empty());
        shell_setenv("COMDEV_3", board.path.c_str());
        g_cfg.BACKEND = 1;
        g_cfg.COMPORT = 3;
        g_cfg.BAUDRATE = 115200;
        ASSERT_EQ(OpenConnection(), 1);
        ASSERT_EQ(TelnetdStart(FreeTcpPort()), 1);
        ASSERT_TRUE(WaitFor([] { return TelnetdBoundPort() != 0; }));
        port = TelnetdBoundPort();
    }
    void TearDown() override {
        TelnetdStop();
        CloseConnection();
        shell_unsetenv("COMDEV_3");
        SetFrameInitialised(false);
    }
    // A client past its welcome.
    std::unique_ptr<TelnetClient> Joined() {
        auto c = std::make_unique<TelnetClient>(port);
        EXPECT_TRUE(c->Expect("\r\nConnection to COM3 @ 115200baud\r\n"));
        return c;
    }
    bool TraceHas(const std::string& s) { return TraceText().find(s) != std::string::npos; }
    FakeUi ui;
    PtyBoard board;
    uint16_t port = 0;
};

// Lines of printable text with a running number, so any loss or reordering
// changes the checksum.
std::string BoardChunk(uint64_t& line) {
    std::string s;
    while (s.size() < 8192) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%010llu the quick brown fox jumps over the lazy dog 0123456789\r\n",
                      static_cast<unsigned long long>(line++));
        s += buf;
    }
    return s;
}

TEST_F(TelnetLoad, ThirtyTwoClientsGetEveryByteWhileOneThatDoesNotReadIsDropped) {
    std::vector<std::unique_ptr<TelnetClient>> clients;
    for (int i = 0; i < kTelnetSlots - 1; ++i) clients.push_back(Joined());
    auto sleeper = Joined();   // never reads again
    ASSERT_EQ(TelnetdClientCount(), kTelnetSlots);

    // The board talks at full speed for up to 10 seconds (or 24 MB).
    std::atomic<bool> sending{true};
    uint32_t sentCrc = 0;
    size_t sentBytes = 0;
    std::thread sender([&] {
        uint64_t line = 0;
        auto end = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < end && sentBytes < (24u << 20)) {
            std::string chunk = BoardChunk(line);
            board.Send(chunk);
            sentCrc = Crc32(chunk.data(), chunk.size(), sentCrc);
            sentBytes += chunk.size();
        }
        sending = false;
    });
    std::vector<uint32_t> crc(clients.size(), 0);
    std::vector<size_t> got(clients.size(), 0);
    auto drain = [&](int ms) {
        std::vector<pollfd> fds;
        for (auto& c : clients) fds.push_back({c->fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), ms) <= 0) return;
        for (size_t i = 0; i < clients.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[65536];
            ssize_t n = recv(clients[i]->fd, buf, sizeof buf, 0);
            if (n <= 0) continue;
            crc[i] = Crc32(buf, static_cast<size_t>(n), crc[i]);
            got[i] += static_cast<size_t>(n);
        }
    };
    while (sending) drain(50);
    sender.join();
    auto end = Clock::now() + std::chrono::seconds(60);
    auto allIn = [&] {
        for (size_t g : got)
            if (g < sentBytes) return false;
        return true;
    };
    while (!allIn() && Clock::now() < end) drain(200);
    std::printf("[ measure ] board sent %zu bytes; %zu clients each received all of it\n", sentBytes, clients.size());
    for (size_t i = 0; i < clients.size(); ++i) {
        EXPECT_EQ(got[i], sentBytes) << "client " << i;
        EXPECT_EQ(crc[i], sentCrc) << "client " << i;
    }
    // The console saw it all as well.
    EXPECT_NE(ui.Console().find(std::string("0000000000 the quick")), std::string::npos);
    // The sleeper has taken nothing for a while: the next output drops it.
    EXPECT_TRUE(WaitFor(
        [&] {
            board.Send("ping\r\n");
            return TraceHas("not reading: dropped");
        },
        30000));
    EXPECT_TRUE(sleeper->WaitClosed(20000));
    EXPECT_TRUE(WaitFor([] { return TelnetdClientCount() == kTelnetSlots - 1; }));
}

TEST_F(TelnetLoad, TheThirtyThirdWaitsUntilASlotFrees) {
    std::vector<std::unique_ptr<TelnetClient>> clients;
    for (int i = 0; i < kTelnetSlots; ++i) clients.push_back(Joined());
    TelnetClient late(port);
    ASSERT_TRUE(late.Connected());          // in the backlog
    late.Pump(1500);
    EXPECT_EQ(late.got, "");                // not accepted while the table is full
    clients.front()->Close();
    EXPECT_TRUE(late.Expect("\xff\xfd\x22\xff\xfb\x01", 10000));
    EXPECT_TRUE(late.Expect("(32 active connections)")) << late.got;
}

TEST_F(TelnetLoad, ConnectionsComingAndGoingLeaveDescriptorsAndThreadsAsTheyWere) {
    { auto warm = Joined(); }
    ASSERT_TRUE(WaitFor([] { return TelnetdClientCount() == 0; }));
    const int fds = CountEntries("/proc/self/fd"), threads = CountEntries("/proc/self/task");
    // The board keeps talking, so slots are freed while output is being
    // handed to them.
    std::atomic<bool> talking{true};
    std::thread chatter([&] {
        while (talking) {
            board.Send("tick tock tick tock\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 2000; ++i) {
        TelnetClient c(port);
        ASSERT_TRUE(c.Expect("\xff\xfd\x22\xff\xfb\x01", 10000)) << "cycle " << i;
        if (i % 2) c.Send("x");   // half of them leave mid-session with bytes in flight
        if (i % 3 == 0) c.Expect("tick", 2000);   // some leave while output is arriving
    }
    talking = false;
    chatter.join();
    EXPECT_TRUE(WaitFor([] { return TelnetdClientCount() == 0; }, 20000));
    EXPECT_TRUE(WaitFor([&] { return CountEntries("/proc/self/task") == threads; }, 20000))
        << CountEntries("/proc/self/task") << " threads, were " << threads;
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(shell_getenv("TELNETCLIENTS").value_or(""), "0");
}

TEST_F(TelnetLoad, HostileClientsAreBoundedAndOthersGoOn) {
    auto witness = Joined();
    // Subnegotiation without an end for 1 MB: swallowed; the end lets typing through.
    auto sb = Joined();
    std::string storm = "\xff\xfa\x18";
    storm += std::string(1 << 20, 'S');
    sb->Send(storm);
    sb->Send("\xff\xf0" "sb-ok\r");
    EXPECT_EQ(board.Receive(6, 20000), "sb-ok\r");
    // Option storm: never answered, nothing reaches the board.
    auto opts = Joined();
    std::string many;
    for (int i = 0; i < 100000; ++i) many += std::string("\xff\xfd") + static_cast<char>(i & 0xff);
    opts->Send(many);
    opts->Send("opt-ok\r");
    EXPECT_EQ(board.Receive(7, 20000), "opt-ok\r");
    opts->Pump(200);
    EXPECT_EQ(opts->got, "");   // the server does not negotiate back
    // A 64 KB line is passed on whole.
    auto longLine = Joined();
    std::string line(65536, 'L');
    longLine->Send(line + "\r");
    EXPECT_EQ(board.Receive(line.size() + 1, 30000), line + "\r");
    // Everybody is still served.
    board.Send("still here\r\n");
    EXPECT_TRUE(witness->Expect("still here\r\n"));
    EXPECT_TRUE(longLine->Expect("still here\r\n"));
    EXPECT_EQ(TelnetdClientCount(), 4);
}

}  // namespace
