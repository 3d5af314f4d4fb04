// Telnet client throughput: a local server sends as fast as it can for ten
// seconds while the backend reads, parses and delivers. TCP flow control
// makes the server's rate the client's consuming rate.
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/oxel.h"
#include "backend/telnetc.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "platform/net.h"
#include "platform/ui.h"
#include "config/shellvar.h"

namespace {

std::string TargetText(size_t size) {
    std::string s;
    const std::string line = "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ boot log line\r\n";
    while (s.size() < size) s += line;
    s.resize(size);
    return s;
}

// Counts the bytes that reach the display.
class CountingUi : public QuietUi {
public:
    std::atomic<uint64_t> bytes{0};
    void ConsoleBytes(const char*, size_t len) override { bytes += len; }
};

// Arg 0: the frame is not up, so the received-data path stops before the
// screen (the backend's own cost); arg 1: through the screen buffer to the
// display, as at run time.
void BM_TelnetReceive(benchmark::State& state) {
    const std::string block = TargetText(64 * 1024);
    const bool display = state.range(0) != 0;
    for (auto _ : state) {
        CountingUi face;
        UiSet(&face);
        ShellVarInit();
        ConsoleInit(1200, 250);
        ConfigInitDefaults();
        SetFrameInitialised(display);
        int listenFd = NetListenTcp(0, true);
        CFG_SET_STRING(g_cfg.BACKENT_TELNET_SYS, "127.0.0.1");
        g_cfg.BACKEND_TELNET_PORT = NetLocalPort(listenFd);
        g_cfg.BACKEND = 2;
        std::atomic<uint64_t> sent{0};
        double seconds = 0;
        std::thread server([&] {
            if (NetWaitReadable(listenFd, 10000) != 1) return;
            int fd = accept(listenFd, nullptr, nullptr);
            // A little negotiation first, as a real server does.
            const char nego[] = {'\xff', '\xfb', '\x01', '\xff', '\xfb', '\x03'};
            NetSendAll(fd, nego, sizeof nego);
            auto start = std::chrono::steady_clock::now();
            auto end = start + std::chrono::seconds(10);
            while (std::chrono::steady_clock::now() < end) {
                if (NetSendAll(fd, block.data(), block.size()) < 0) break;
                sent += block.size();
            }
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            NetClose(fd);
        });
        TelnetOpen();
        server.join();
        CloseTelnetConnection();
        NetClose(listenFd);
        SetFrameInitialised(false);
        UiSet(nullptr);
        if (display) state.counters["shown MB/s"] = static_cast<double>(face.bytes.load()) / 1e6 / seconds;
        state.SetIterationTime(seconds);
        state.counters["MB/s"] = static_cast<double>(sent.load()) / 1e6 / (seconds > 0 ? seconds : 1);
        state.SetBytesProcessed(static_cast<int64_t>(sent.load()));
    }
}
BENCHMARK(BM_TelnetReceive)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The option handler alone over plain text with an occasional command.
void BM_TelnetParse(benchmark::State& state) {
    std::string block = TargetText(64 * 1024);
    for (size_t i = 4096; i + 3 < block.size(); i += 8192) block.replace(i, 3, "\xff\xfb\x01");
    TelnetParser p;
    TelnetOutput out;
    out.display.reserve(block.size());
    for (auto _ : state) {
        out.Clear();
        TelnetParse(p, reinterpret_cast<const uint8_t*>(block.data()), block.size(), true, false, out);
        benchmark::DoNotOptimize(out.display.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_TelnetParse);

}  // namespace

BENCHMARK_MAIN();
