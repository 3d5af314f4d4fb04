#include "console/rxpath.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/report.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "console/vt100.h"
#include "log/logging.h"
#include "log/srvrtrace.h"

#define OXEL_MODULE "rxpath"

namespace {

// Until start-up installs the consumers above this layer, received data
// reaches only the log and the screen.
RxHooks NoConsumers() {
    return RxHooks{
        [] { return false; },                           // avrActive
        [](const char*, size_t) {},                     // avrBytes
        [] { return false; },                           // xmodemActive
        [](const char*, size_t) {},                     // xmodemBytes
        [] {},                                          // activity
        [](const char*, size_t) {},                     // tunnel
        [](const char*, int) { return 0; },             // scriptOffer
        [] {},                                          // scriptWake
        LogBinaryCapture,
        [](const char*, size_t) {},                     // telnetClients
        TimestampInsert,
        LogWrite,
        [](const char*, size_t) {},                     // websocClients
        [] { return false; },                           // catchActive
        [](char) {},                                    // catchByte
        [](const char*, size_t) { return -1; },         // backendWrite
        [](const char*, size_t) { return 0; },          // backendReply
        [] { return false; },                           // backendConnected
        [] { return false; },                           // backendLost
        [] { return 0; },                               // reconnect
    };
}

RxHooks g_installed = NoConsumers();
RxHooks g_hooks = g_installed;

// The received-data lock ("BFBE"): one delivery at a time from every reader.
std::recursive_mutex g_bfbe;   // recursive: a display step may deliver again (alternate port echo)
std::atomic<uint32_t> g_received{0};
std::atomic<bool> g_screenOn{true};
std::atomic<bool> g_tagPending{false};
std::atomic<RxFilterFn> g_filter{nullptr};
std::once_flag g_filterOnce;
void* g_filterLib = nullptr;

// The lock is always taken. Nothing that holds it waits for anything, so a
// delivery that has waited 10 seconds means something is wrong: it says so
// in the trace and goes on waiting. Inside, nothing may ask the user.
class BfbeLock {
public:
    BfbeLock() {
        if (g_bfbe.try_lock()) return;
        // Held by another delivery: short waits, and a trace line if it takes
        // longer than any delivery should.
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!g_bfbe.try_lock()) {
            if (std::chrono::steady_clock::now() > end) {
                TracePrintf(TRC_ALWAYS, "WaitforBFBE: received-data lock held for over 10 s");
                g_bfbe.lock();
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    ~BfbeLock() { g_bfbe.unlock(); }
    BfbeLock(const BfbeLock&) = delete;
    BfbeLock& operator=(const BfbeLock&) = delete;

private:
    NoWaitScope noWait_;
};

bool Printable(uint8_t b) {
    return (b >= 0x20 && b <= 0x7E) || b == 0x07 || b == 0x08 || b == 0x09 || b == 0x0A || b == 0x0D ||
           b == 0x1B;
}

const char kHex[] = "0123456789abcdef";

size_t HexDisplay(const uint8_t* in, size_t len, uint8_t* out, size_t outSize) {
    const int mode = g_cfg.HEXMODE;
    const bool space = g_cfg.HEXMODE_WITH_SPACE != 0;
    size_t n = 0;
    for (size_t i = 0; i < len && n + 5 <= outSize; ++i) {
        uint8_t b = in[i];
        bool plain = false, bracket = false;
        if (mode == 2)
            plain = b == '\r' || b == '\n';
        else if (mode == 3) {
            plain = b < 0x80 && ((b >= 0x20 && b <= 0x7E) || (b >= 0x09 && b <= 0x0D) || b == 0x08);
            bracket = !plain;
        }
        if (plain) {
            out[n++] = b;
        } else {
            if (bracket) out[n++] = '<';
            out[n++] = static_cast<uint8_t>(kHex[b >> 4]);
            out[n++] = static_cast<uint8_t>(kHex[b & 15]);
            if (bracket) out[n++] = '>';
        }
        // A line end shown as itself gets no spacing blank: after a CR it
        // would overwrite the line's first column.
        if (space && !(plain && (b == '\r' || b == '\n'))) out[n++] = ' ';
    }
    return n;
}

size_t AppendCr(const uint8_t* in, size_t len, uint8_t* out, size_t outSize) {
    size_t n = 0;
    for (size_t i = 0; i < len && n + 2 <= outSize; ++i) {
        if (in[i] == '\n') out[n++] = '\r';
        out[n++] = in[i];
    }
    return n;
}

size_t AppendLf(const uint8_t* in, size_t len, uint8_t* out, size_t outSize) {
    size_t n = 0;
    for (size_t i = 0; i < len && n + 2 <= outSize; ++i) {
        out[n++] = in[i];
        if (in[i] == '\r') out[n++] = '\n';
    }
    return n;
}

size_t DropNonPrintables(uint8_t* buf, size_t len) {
    size_t n = 0;
    for (size_t i = 0; i < len; ++i) {
        if (Printable(buf[i]))
            buf[n++] = buf[i];
        else
            TracePrintf(TRC_DEBUG, "Dropped 0x%02x", buf[i]);
    }
    return n;
}

void LoadFilterOnce() {
    std::call_once(g_filterOnce, [] { RxLoadFilter(InstallDir()); });
}

void Display(const char* data, size_t len) {
    if (g_cfg.VT100_EMULATION)
        Vt100Feed(data, len);
    else
        ConsoleWritePlain(data, len);
}

void WriteLineTag() {
    const int target = ConsoleCols() - 5;
    while (ConsoleGetCursor().col < target) ConsoleWritePlain(" ", 1);
    ConsoleWritePlain("<<**", 4);
    g_tagPending = false;
}

// Steps 10 and 11: the screen, byte by byte while catch strings are active.
void DisplayBlock(const char* data, size_t len) {
    if (!g_hooks.catchActive()) {
        if (g_screenOn) Display(data, len);
        return;
    }
    for (size_t i = 0; i < len; ++i) {
        if (g_screenOn) {
            if (data[i] == '\r' && g_tagPending) WriteLineTag();
            Display(data + i, 1);
        }
        g_hooks.catchByte(data[i]);
    }
}

// Step 8's time stamps, into a buffer large enough for a stamp per line (one
// per delivery: a loop-back reply may deliver again from inside this one).
const char* Stamp(const char* data, size_t* len, std::vector<char>& buf) {
    if (!g_cfg.TSTAMP_ENABLED) return data;
    size_t lines = 1;
    for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', data + *len - p)));
         ++p)
        ++lines;
    const size_t capacity = *len + lines * 128;
    buf.resize(capacity);
    std::memcpy(buf.data(), data, *len);
    *len = g_hooks.stamp(buf.data(), *len, capacity);
    return buf.data();
}

}  // namespace

RxHooks& RxHooksRef() { return g_hooks; }
void RxHooksInstall(const RxHooks& hooks) {
    g_installed = hooks;
    g_hooks = hooks;
}
void RxHooksReset() { g_hooks = g_installed; }

int RxBackendWrite(const char* data, size_t len) { return g_hooks.backendWrite(data, len); }
int RxBackendReply(const char* data, size_t len) { return g_hooks.backendReply(data, len); }

int RxLoadFilter(const std::string& dir) {
    if (g_filterLib) {
        dlclose(g_filterLib);
        g_filterLib = nullptr;
    }
    g_filter = nullptr;
    std::string path = dir + "/oxel_ftf.so";
    g_filterLib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!g_filterLib) {
        TracePrintf(TRC_DEBUG, "LoadLibrary(%s.so) failed", "oxel_ftf");
        return 0;
    }
    void* entry = dlsym(g_filterLib, "oxel_ftf");
    if (!entry) {
        ERROR_REPORT("GetProcAddress()oxel_ftf");
        return 0;
    }
    // dlsym hands out an object pointer; copy its bits into the function pointer.
    RxFilterFn fn;
    static_assert(sizeof fn == sizeof entry);
    std::memcpy(&fn, &entry, sizeof fn);
    g_filter = fn;
    return 1;
}

void RxSetFilter(RxFilterFn fn) {
    std::call_once(g_filterOnce, [] {});
    g_filter = fn;
}

void RxSetScreenOutput(bool on) { g_screenOn = on; }
bool RxScreenOutput() { return g_screenOn; }
void RxSetLineTagPending() { g_tagPending = true; }
uint32_t RxByteCount() { return g_received; }

size_t RxTransform(const uint8_t* in, size_t len, uint8_t* out, size_t outSize, bool useFilter) {
    size_t n;
    RxFilterFn filter = useFilter ? g_filter.load() : nullptr;
    if (g_cfg.HEXMODE) {
        return HexDisplay(in, len, out, outSize);
    } else if (g_cfg.APPEND_CR) {
        n = AppendCr(in, len, out, outSize);
    } else if (g_cfg.APPEND_LF) {
        n = AppendLf(in, len, out, outSize);
    } else if (filter) {
        // The result is a signed 8-bit count; anything below 1 hides the block.
        int8_t r = static_cast<int8_t>(filter(in, static_cast<int>(std::min<size_t>(len, INT32_MAX)), out,
                                              static_cast<int>(std::min<size_t>(outSize, INT32_MAX))));
        n = r > 0 ? std::min<size_t>(static_cast<size_t>(r), outSize) : 0;
    } else {
        n = std::min(len, outSize);
        std::memcpy(out, in, n);
    }
    if (g_cfg.DROP_NON_PRINTABLES) n = DropNonPrintables(out, n);
    return n;
}

void RxDeliver(const uint8_t* in, uint8_t* out, size_t len, size_t outSize) {
    LoadFilterOnce();
    BfbeLock lock;
    g_received += static_cast<uint32_t>(len);
    const char* raw = reinterpret_cast<const char*>(in);
    if (g_hooks.avrActive()) {
        g_hooks.avrBytes(raw, len);
        return;
    }
    if (g_hooks.xmodemActive()) {
        g_hooks.xmodemBytes(raw, len);
        return;
    }
    g_hooks.activity();
    g_hooks.tunnel(raw, len);
    const bool wake = g_hooks.scriptOffer(raw, static_cast<int>(std::min<size_t>(len, INT32_MAX))) == 1;
    if (g_hooks.rawLog(raw, len)) return;

    size_t n = RxTransform(in, len, out, outSize, true);
    if (n == 0) {
        if (wake) g_hooks.scriptWake();
        return;
    }
    const char* text = reinterpret_cast<const char*>(out);
    std::vector<char> stamped;
    if (g_cfg.TSTAMP_LOCAL_ONLY) {
        g_hooks.telnetClients(text, n);
        text = Stamp(text, &n, stamped);
    } else {
        text = Stamp(text, &n, stamped);
        g_hooks.telnetClients(text, n);
    }
    g_hooks.log(text, n);
    g_hooks.websocClients(text, n);
    DisplayBlock(text, n);
    if (wake) g_hooks.scriptWake();
}

void RxDeliverAlt(const uint8_t* in, uint8_t* out, size_t len, size_t outSize) {
    BfbeLock lock;
    g_received += static_cast<uint32_t>(len);
    g_hooks.activity();
    size_t n = RxTransform(in, len, out, outSize, false);
    if (n == 0 || g_cfg.COMPORT_PASSTHROUGH || !g_screenOn) return;
    const char* text = reinterpret_cast<const char*>(out);
    if (ConsolePerCellColours()) {
        const uint32_t fg = ConsoleCurrentFg(), bg = ConsoleCurrentBg();
        ConsoleSetCurrentColours(static_cast<uint32_t>(g_cfg.TEXT_COLOR_ALT), bg);
        ConsoleWritePlain(text, n);
        ConsoleSetCurrentColours(fg, ConsoleCurrentBg());
    } else {
        ConsoleWritePlain(text, n);
    }
}
