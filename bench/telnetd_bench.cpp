// Telnet server fan-out: target blocks go through the received-data path to
// 31 reading clients for three seconds, without (arg 0) and with (arg 1) a
// 32nd client that never reads. The console's rate with the sleeper over the
// rate without it is the slow-down a stalled client costs.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/wiring.h"
#include "config/configrecord.h"
#include "config/shellvar.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "platform/net.h"
#include "platform/ui.h"
#include "servers/telnetd.h"

namespace {

class CountingUi : public QuietUi {
public:
    std::atomic<uint64_t> bytes{0};
    void ConsoleBytes(const char*, size_t len) override { bytes += len; }
};

int Connect(uint16_t port) {
    in_addr lo{};
    lo.s_addr = htonl(INADDR_LOOPBACK);
    return NetConnectTcp(NetAddress(lo, port), 5000);
}

// Reads every client's socket until stop; returns the bytes read.
uint64_t DrainAll(const std::vector<int>& fds, const std::atomic<bool>& stop) {
    uint64_t total = 0;
    std::vector<pollfd> p;
    for (int fd : fds) p.push_back({fd, POLLIN, 0});
    char buf[65536];
    while (!stop) {
        if (poll(p.data(), p.size(), 50) <= 0) continue;
        for (auto& e : p)
            if (e.revents & POLLIN) {
                ssize_t n = recv(e.fd, buf, sizeof buf, 0);
                if (n > 0) total += static_cast<uint64_t>(n);
            }
    }
    return total;
}

void BM_TelnetdFanOut(benchmark::State& state) {
    const bool sleeper = state.range(0) != 0;
    std::string block;
    while (block.size() < 16384) block += "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ log line\r\n";
    std::vector<uint8_t> out(block.size() * 5);
    for (auto _ : state) {
        CountingUi face;
        UiSet(&face);
        ShellVarInit();
        ConsoleInit(1200, 250);
        ConfigInitDefaults();
        AppWireHooks();
        SetFrameInitialised(true);
        int probe = NetListenTcp(0, true);
        uint16_t port = NetLocalPort(probe);
        NetClose(probe);
        TelnetdStart(port);
        while (TelnetdBoundPort() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::vector<int> readers;
        for (int i = 0; i < 31; ++i) readers.push_back(Connect(port));
        int stalled = sleeper ? Connect(port) : -1;
        while (TelnetdClientCount() < (sleeper ? 32 : 31)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));   // welcomes sent
        std::atomic<bool> stop{false};
        uint64_t received = 0;
        std::thread drain([&] { received = DrainAll(readers, stop); });
        auto start = std::chrono::steady_clock::now();
        auto end = start + std::chrono::seconds(3);
        uint64_t fed = 0;
        while (std::chrono::steady_clock::now() < end) {
            RxDeliver(reinterpret_cast<const uint8_t*>(block.data()), out.data(), block.size(), out.size());
            fed += block.size();
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        stop = true;
        drain.join();
        TelnetdStop();
        for (int& fd : readers) NetClose(fd);
        NetClose(stalled);
        SetFrameInitialised(false);
        UiSet(nullptr);
        state.SetIterationTime(seconds);
        state.counters["console MB/s"] = static_cast<double>(fed) / 1e6 / seconds;
        state.counters["per client MB/s"] = static_cast<double>(received) / 31 / 1e6 / seconds;
    }
}
BENCHMARK(BM_TelnetdFanOut)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The client-input handling alone: typing with line ends and a few commands.
void BM_TelnetInput(benchmark::State& state) {
    std::string typed;
    while (typed.size() < 65536) typed += "show version\r\n\xff\xfd\x01" "ls -l\r\n";
    for (auto _ : state) {
        TelnetInput s;
        std::string t = TelnetTargetBytes(s, reinterpret_cast<const uint8_t*>(typed.data()), typed.size(), false);
        benchmark::DoNotOptimize(t.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * typed.size()));
}
BENCHMARK(BM_TelnetInput);

}  // namespace

BENCHMARK_MAIN();
