// Received-data path throughput: 100 MB of target output (80-column lines,
// some of them coloured) through RxDeliver with VT100 emulation, per-cell
// colours and standard logging on, beside a plain memcpy of the same blocks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/oxel.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "log/logging.h"

namespace {

constexpr size_t kTotal = 100u * 1000 * 1000;
constexpr size_t kBlock = 4096;

const std::string& Output() {
    static const std::string data = [] {
        std::string s;
        s.reserve(kTotal + 200);
        char line[200];
        for (unsigned n = 0; s.size() < kTotal; ++n) {
            int len;
            if (n % 10 == 0)
                len = std::snprintf(line, sizeof line,
                                    "[%6u.%03u] \x1b[1;32mOK\x1b[0m  service %-12s started, pid %5u, mem %7u kB ok\r\n",
                                    n / 1000, n % 1000, "netd", n % 32768, (n * 37) % 9999999);
            else if (n % 25 == 0)
                len = std::snprintf(line, sizeof line,
                                    "\x1b[31mERROR\x1b[0m: eth0 rx fifo overrun at 0x%08x (count=%u), retrying...\r\n",
                                    n * 4099, n % 1000);
            else
                len = std::snprintf(line, sizeof line,
                                    "[%6u.%03u] kernel: usb 1-1.%u: new high-speed device number %3u using ehci\r\n",
                                    n / 1000, n % 1000, n % 8, n % 128);
            s.append(line, static_cast<size_t>(len));
        }
        s.resize(kTotal);
        return s;
    }();
    return data;
}

const std::string& LogPath() {
    static const std::string path = TempFileName("oxel_bench_log");
    return path;
}

void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    ConfigInitDefaults();
    g_cfg.VT100_EMULATION = 1;
    g_cfg.CHAR_ATTRIBUTES = 1;
    g_cfg.LOGGING_ENABLED = 1;
    CFG_SET_STRING(g_cfg.LOGGING_FILENAME, LogPath().c_str());
    SetFrameInitialised(true);
    ConsoleInit(1200, 250);
    ConsoleResizeChars(40, 80);
    LogOpen();
}

void BM_RxPathVt100Logged(benchmark::State& state) {
    Setup();
    const std::string& data = Output();
    std::vector<uint8_t> out(kBlock * 5);
    for (auto _ : state) {
        for (size_t off = 0; off < data.size(); off += kBlock) {
            size_t n = std::min(kBlock, data.size() - off);
            RxDeliver(reinterpret_cast<const uint8_t*>(data.data() + off), out.data(), n, out.size());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_RxPathVt100Logged)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PlainWriter(benchmark::State& state) {
    Setup();
    const std::string& data = Output();
    for (auto _ : state) {
        for (size_t off = 0; off < data.size(); off += kBlock)
            ConsoleWritePlain(data.data() + off, std::min(kBlock, data.size() - off));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PlainWriter)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Memcpy(benchmark::State& state) {
    const std::string& data = Output();
    std::vector<uint8_t> out(kBlock * 5);
    for (auto _ : state) {
        for (size_t off = 0; off < data.size(); off += kBlock) {
            size_t n = std::min(kBlock, data.size() - off);
            std::memcpy(out.data(), data.data() + off, n);
            benchmark::DoNotOptimize(out.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    LogClose();
    std::remove(LogPath().c_str());
    return 0;
}
