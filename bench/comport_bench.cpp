// COM port reception speed on a pseudo-terminal pair.
//  - BM_ReadChunk/<size>: the watcher's read loop (wait, queue count, read)
//    with reads of at most <size> bytes; how the read size was chosen.
//  - BM_ReadLatency/<size>: one byte from the far end to the reader.
//  - BM_ComportFlood: the whole backend for 10 s, far end writing as fast as
//    it can; every byte is checked on arrival at the display.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/oxel.h"
#include "backend/backend.h"
#include "backend/comport.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "platform/serial.h"
#include "platform/ui.h"
#include "config/shellvar.h"

namespace {

struct Pair {
    int master = -1;
    std::string path;
    Pair() {
        int slave = -1;
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            path = name;
            close(slave);
        }
    }
    ~Pair() {
        if (master >= 0) close(master);
    }
};

char Pattern(uint64_t i) { return static_cast<char>('0' + i % 61); }

// The far end: writes the pattern until told to stop; returns the count.
void Flood(int fd, std::atomic<bool>& stop, std::atomic<uint64_t>& sent) {
    std::vector<char> block(65536);
    uint64_t n = 0;
    while (!stop.load()) {
        for (size_t i = 0; i < block.size(); ++i) block[i] = Pattern(n + i);
        size_t off = 0;
        while (off < block.size() && !stop.load()) {
            pollfd pf{fd, POLLOUT, 0};
            if (poll(&pf, 1, 50) <= 0) continue;
            ssize_t w = write(fd, block.data() + off, block.size() - off);
            if (w > 0) off += static_cast<size_t>(w);
        }
        n += off;
    }
    sent = n;
}

void BM_ReadChunk(benchmark::State& state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const SerialOps& ops = SerialPosixOps();
    for (auto _ : state) {
        Pair pair;
        int err = 0;
        SerialPort* port = ops.open(pair.path.c_str(), &err);
        SerialLine line;
        line.baud = 115200;
        ops.setLine(port, &line);
        const uint64_t total = 64ull << 20;
        std::thread writer([&] {
            std::vector<char> block(65536, 'x');
            uint64_t done = 0;
            while (done < total) {
                ssize_t w = write(pair.master, block.data(), block.size());
                if (w > 0) done += static_cast<uint64_t>(w);
            }
        });
        std::vector<char> buf(chunk);
        uint64_t got = 0, reads = 0;
        while (got < total) {
            unsigned ev = 0;
            if (ops.wait(port, &ev) != 1) break;
            for (;;) {
                long q = ops.inQueue(port);
                if (q <= 0) break;
                long n = ops.read(port, buf.data(), std::min(chunk, static_cast<size_t>(q)));
                if (n <= 0) break;
                got += static_cast<uint64_t>(n);
                ++reads;
            }
        }
        writer.join();
        ops.close(port);
        state.SetBytesProcessed(static_cast<int64_t>(got));
        state.counters["reads"] = static_cast<double>(reads);
    }
}
BENCHMARK(BM_ReadChunk)->Arg(80)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadLatency(benchmark::State& state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const SerialOps& ops = SerialPosixOps();
    Pair pair;
    int err = 0;
    SerialPort* port = ops.open(pair.path.c_str(), &err);
    SerialLine line;
    ops.setLine(port, &line);
    std::vector<char> buf(chunk);
    for (auto _ : state) {
        char c = 'a';
        if (write(pair.master, &c, 1) != 1) break;
        unsigned ev = 0;
        long n = 0;
        while (n <= 0) {
            if (ops.wait(port, &ev) != 1) break;
            long q = ops.inQueue(port);
            if (q > 0) n = ops.read(port, buf.data(), std::min(chunk, static_cast<size_t>(q)));
        }
    }
    ops.close(port);
}
BENCHMARK(BM_ReadLatency)->Arg(80)->Arg(4096)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A face that checks the pattern of every displayed byte.
class CountingUi : public QuietUi {
public:
    std::atomic<uint64_t> bytes{0};
    std::atomic<uint64_t> wrong{0};
    void ConsoleBytes(const char* data, size_t len) override {
        uint64_t at = bytes.load();
        for (size_t i = 0; i < len; ++i)
            if (data[i] != Pattern(at + i)) ++wrong;
        bytes += len;
    }
};

void BM_ComportFlood(benchmark::State& state) {
    for (auto _ : state) {
        CountingUi face;
        UiSet(&face);
        ShellVarInit();
        ConsoleInit(1200, 250);
        ConfigInitDefaults();
        SetFrameInitialised(true);
        Pair pair;
        shell_setenv("COMDEV_3", pair.path.c_str());
        g_cfg.BACKEND = BACKEND_COM;
        g_cfg.COMPORT = 3;
        g_cfg.BAUDRATE = 921600;
        if (!OpenConnection()) {
            state.SkipWithError("open failed");
            break;
        }
        std::atomic<bool> stop{false};
        std::atomic<uint64_t> sent{0};
        std::thread writer(Flood, pair.master, std::ref(stop), std::ref(sent));
        std::this_thread::sleep_for(std::chrono::seconds(10));
        stop = true;
        writer.join();
        // Let the reader drain what is still queued.
        for (int i = 0; i < 200 && face.bytes.load() < sent.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        CloseConnection();
        SetFrameInitialised(false);
        UiSet(nullptr);
        state.counters["MB/s"] = static_cast<double>(face.bytes.load()) / 10.0 / 1e6;
        state.counters["lost"] = static_cast<double>(sent.load() - face.bytes.load());
        state.counters["wrong"] = static_cast<double>(face.wrong.load());
        state.SetBytesProcessed(static_cast<int64_t>(face.bytes.load()));
    }
}
BENCHMARK(BM_ComportFlood)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
