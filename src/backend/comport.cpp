#include "backend/comport.h"
#include "util/cmdids.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>

#include <thread>

#include "platform/report.h"
#include "console/screenbuf.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "console/rxpath.h"
#include "log/logging.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/ui.h"
#include "config/shellvar.h"

#define OXEL_MODULE "comport"

const BaudRateRow BaudRateTable[18] = {
    {110, 0, "110"},       {300, 0, "300"},         {600, 0, "600"},       {1200, 0, "1200"},
    {2400, 0, "2400"},     {4800, 0, "4800"},       {9600, 0, "9600"},     {14400, 0, "14.4K"},
    {19200, 0, "19.2K"},   {28800, 0, "28.8K"},     {38400, 0, "38.4K"},   {57600, 0, "57.6K"},
    {115200, 0, "115.2K"}, {230400, 0, "230.4K"},   {256000, 0, "256K"},   {460800, 1, "460.8K"},
    {576000, 1, "576K"},   {921600, 1, "921.6K"},
};

namespace {

// One open port with the operations that opened it; the last holder closes it,
// so a writer still inside a write never sees a closed descriptor.
struct Port {
    const SerialOps* ops;
    SerialPort* p;
    Port(const SerialOps* o, SerialPort* s) : ops(o), p(s) {}
    ~Port() { ops->close(p); }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
};
using PortRef = std::shared_ptr<Port>;

// Reads take whatever is waiting, up to this many bytes; measured against the
// traditional 80-byte reads on a flooded pseudo-terminal (bench/comport_bench):
// same latency for single bytes, far fewer wake-ups under load.
constexpr size_t kReadChunk = 4096;
constexpr size_t kMarkerMax = 64;

// Never destroyed: a port still open when the process ends must not be torn
// down under a running watcher, nor a running watcher end the process.
std::mutex g_portMu;              // guards the two references below
PortRef& g_main = *new PortRef;
PortRef& g_alt = *new PortRef;
std::recursive_mutex g_lifeMu;    // open and close, from any thread
std::atomic<bool> g_connected{false}, g_altOpen{false}, g_reconnect{false};
std::thread& g_watch = *new std::thread;
std::thread& g_watchAlt = *new std::thread;
std::atomic<bool> g_watchRunning{false}, g_watchAltRunning{false};
std::atomic<unsigned long long> g_altSent{0};
std::atomic<int> g_breakTicks{0};

std::mutex g_scanMu;
bool g_rescan = true;
std::vector<bool> g_listed;

PortRef MainPort() {
    std::lock_guard l(g_portMu);
    return g_main;
}
PortRef AltPort() {
    std::lock_guard l(g_portMu);
    return g_alt;
}

// A watcher that ended by itself is joined here; one that is asked to join
// itself (a close from its own thread) is let go, it is on its way out.
void Reap(std::thread& t) {
    if (!t.joinable()) return;
    if (t.get_id() == std::this_thread::get_id()) t.detach();
    else t.join();
}

void Inject(const char* text, size_t len) {
    std::vector<uint8_t> out(len * 5 + 16);
    RxDeliver(reinterpret_cast<const uint8_t*>(text), out.data(), len, out.size());
}

// A marker variable, at most 64 characters; every "%d" becomes the level.
// Only "%d" is expanded so that a stray conversion in a user's text is shown,
// never interpreted.
std::string MarkerText(const char* var, const char* dflt, int level) {
    auto v = shell_getenv(var);
    std::string fmt = v ? v->substr(0, kMarkerMax) : std::string(dflt);
    std::string out;
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] == '%' && i + 1 < fmt.size() && fmt[i + 1] == 'd') {
            out += static_cast<char>('0' + level);
            ++i;
        } else {
            out += fmt[i];
        }
    }
    return out;
}

void RefreshToolbar() {
    bool com = g_cfg.BACKEND == BACKEND_COM || g_cfg.BACKEND == BACKEND_NONE;
    ui().MenuEnable(CMD_TB_DISCONNECT, g_connected.load());
    ui().MenuEnable(CMD_TB_RECONNECT, !g_connected.load());
    for (int id : {952, 957, 958}) ui().MenuEnable(id, com && g_connected.load());
    ui().MenuCheck(CMD_COMPORT_BACKEND, com);
    ui().MenuCheck(CMD_TELNET_BACKEND, g_cfg.BACKEND == BACKEND_TELNET);
    ui().MenuCheck(CMD_MONCMD_BACKEND, g_cfg.BACKEND == BACKEND_MONCMD);
    ui().MenuCheck(CMD_PLINK_BACKEND, g_cfg.BACKEND == BACKEND_PLINK);
}

int SetLineControlOn(Port& port) {
    SerialLine line;
    if (!port.ops->getLine(port.p, &line)) {
        OxelMessageBox("Comport Setup Error", "Initial GetCommState() failed");
        return 0;
    }
    if (g_cfg.FLOWCTRL & 0x01) {
        line.dtrControl = LINE_HANDSHAKE;
        line.dsrOutFlow = true;
        ui().MenuCheck(CMD_TB_DTR, false);
    } else {
        line.dsrOutFlow = false;
        line.dtrControl = (g_cfg.FLOWCTRL & 0x08) ? LINE_ENABLE : LINE_DISABLE;
        ui().MenuCheck(CMD_TB_DTR, line.dtrControl == LINE_ENABLE);
    }
    if (g_cfg.FLOWCTRL & 0x02) {
        line.rtsControl = LINE_HANDSHAKE;
        line.ctsOutFlow = true;
        ui().MenuCheck(CMD_TB_RTS, false);
    } else {
        line.ctsOutFlow = false;
        line.rtsControl = (g_cfg.FLOWCTRL & 0x10) ? LINE_ENABLE : LINE_DISABLE;
        ui().MenuCheck(CMD_TB_RTS, line.rtsControl == LINE_ENABLE);
    }
    if (!port.ops->setLine(port.p, &line)) {
        ERROR_REPORT("Initial SetCommState() Failed");
        return 0;
    }
    return 1;
}

int ApplyCommSettingsOn(Port& port) {
    if (!SetLineControlOn(port)) return 0;
    SerialLine line;
    if (!port.ops->getLine(port.p, &line)) return 0;
    // getLine cannot see a handshake mode; restate what SetLineControl chose.
    line.dtrControl = (g_cfg.FLOWCTRL & 0x01) ? LINE_HANDSHAKE : (g_cfg.DTR_STATE ? LINE_ENABLE : LINE_DISABLE);
    line.dsrOutFlow = (g_cfg.FLOWCTRL & 0x01) != 0;
    line.rtsControl = (g_cfg.FLOWCTRL & 0x02) ? LINE_HANDSHAKE : (g_cfg.RTS_STATE ? LINE_ENABLE : LINE_DISABLE);
    line.ctsOutFlow = (g_cfg.FLOWCTRL & 0x02) != 0;
    line.baud = g_cfg.BAUDRATE;
    line.dataBits = g_cfg.BYTESIZE;
    line.parity = g_cfg.PARITY;
    line.stopBits = g_cfg.STOPBITS;
    if (g_cfg.STOPBITS == 1) TracePrintf(TRC_ALWAYS, "1.5 stop bits run as 2 stop bits on this system");
    if (g_cfg.FLOWCTRL & 0x01)
        TracePrintf(TRC_ALWAYS, "DTR/DSR flow control is not available on this system: DTR is held on");
    line.xonXoff = (g_cfg.FLOWCTRL & 0x04) != 0;
    line.xonChar = 0x11;
    line.xoffChar = 0x13;
    line.xonLimit = line.xoffLimit = 100;
    ui().MenuCheck(CMD_TB_DTR, line.dtrControl == LINE_ENABLE);
    ui().MenuCheck(CMD_TB_RTS, line.rtsControl == LINE_ENABLE);
    return port.ops->setLine(port.p, &line);
}

int ChangeBaudRateOn(Port& port, int rate) {
    SerialLine line;
    if (!port.ops->getLine(port.p, &line)) return 0;
    line.baud = rate;
    if (!port.ops->setLine(port.p, &line)) return 0;
    g_cfg.BAUDRATE = rate;
    ui().StatusRefresh();
    return 1;
}

int ApplyUserBaudRateOn(Port& port, std::optional<int> dialogRate) {
    int req;
    if (dialogRate) req = *dialogRate;
    else if (g_cfg.USRDEFBAUD) req = g_cfg.BAUDRATE;
    else return 1;
    const bool down = req > 115200;
    int rate = req;
    while (!ChangeBaudRateOn(port, rate)) {
        rate += down ? -1 : 1;
        if (down && rate <= 0) {
            OxelMessageBox("ChangeBaudRate Error", "Could not decrement to valid baudrate");
            ProgramExit(1);
        }
        if (!down && rate > 256000) {
            OxelMessageBox("ChangeBaudRate Error", "Could not increment to valid baudrate");
            ProgramExit(1);
        }
    }
    if (rate != req) OxelMessageBox("Baud rate warning", "Driver set to %d", rate);
    return 1;
}

int WriteOn(Port& port, const char* data, size_t len) {
    long n = port.ops->write(port.p, data, len);
    if (n < 0) {
        unsigned flags = port.ops->errors(port.p);
        if (flags && g_cfg.DISPLAY_ERRORS) TracePrintf(TRC_DEBUG, "<CE-%u>", flags);
        return 0;
    }
    if (static_cast<size_t>(n) != len)
        TracePrintf(TRC_DEBUG, "Probable Write Timeout: Total of %ld bytes sent", n);
    return 1;
}

long ComPortRead(Port& port, void* buf, size_t max) {
    long queued = port.ops->inQueue(port.p);
    if (queued == 0) return 0;
    size_t want = queued < 0 ? max : std::min(max, static_cast<size_t>(queued));
    long n = port.ops->read(port.p, buf, want);
    if (n >= 0) return n;
    unsigned flags = port.ops->errors(port.p);
    if (flags && g_cfg.DISPLAY_ERRORS) TracePrintf(TRC_DEBUG, "<CE-%u>", flags);
    return 0;
}

void ModemStatusSignalOn(Port& port, unsigned events) {
    unsigned status = 0;
    if (!port.ops->modemStatus(port.p, &status)) return;  // no modem lines
    struct Line { unsigned ev, on; const char* var; const char* dflt; int indicator; };
    static const Line kLines[] = {
        {SEV_CTS, MS_CTS_ON, "INLINE_CTSSTR", "<CTS%d>", 961},
        {SEV_DSR, MS_DSR_ON, "INLINE_DSRSTR", "<DSR%d>", 960},
        {SEV_RING, MS_RING_ON, "INLINE_RNGSTR", "<RNG%d>", 962},
        {SEV_RLSD, MS_RLSD_ON, "INLINE_DCDSTR", "<DCD%d>", 959},
    };
    for (const auto& l : kLines) {
        if (!(events & l.ev)) continue;
        int level = (status & l.on) ? 1 : 0;
        if (g_cfg.INLINE_SIGNALING) {
            std::string marker = MarkerText(l.var, l.dflt, level);
            Inject(marker.data(), marker.size());
        }
        ui().MenuCheck(l.indicator, level != 0);
    }
}

// Automatic reconnect: after the main port's device went away, one thread
// watches for the same device file to come back and reopens it at once. It
// is stopped by any open or close the user asks for, and at shutdown.
struct Reconnector {
    std::mutex threadMu;    // the thread object: started and stopped from different threads
    std::thread thread;
    std::mutex mu;
    std::condition_variable cv;
    bool stop = false;
};
Reconnector g_rc;
bool g_terminalFace = false;
constexpr int kReconnectPollMs = 100;

// One line on the console and a marker with the time in the log.
void ConnectionNote(const char* what, const std::string& device) {
    console_printf("\r\n%s %s\r\n", what, device.c_str());
    LocalTime now = ClockNow();
    struct tm tm {};
    LocalTimeToTm(now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::string marker = std::string("\r\n[") + what + " " + device + " at " + stamp + "]\r\n";
    LogWrite(marker.data(), marker.size());
}

bool DeviceFilePresent(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

thread_local bool t_reconnector = false;

void ReconnectLoop(std::string device) {
    t_reconnector = true;
    for (;;) {
        {
            std::unique_lock l(g_rc.mu);
            if (g_rc.cv.wait_for(l, std::chrono::milliseconds(kReconnectPollMs), [] { return g_rc.stop; })) return;
        }
        if (!DeviceFilePresent(device) || g_cfg.BACKEND != BACKEND_COM) continue;
        if (ComOpen()) {
            ConnectionNote("Reconnected to", device);
            return;
        }
    }
}

// Stops and joins the thread. threadMu held.
void StopReconnectLocked() {
    if (!g_rc.thread.joinable()) return;
    {
        std::lock_guard l(g_rc.mu);
        g_rc.stop = true;
    }
    g_rc.cv.notify_all();
    g_rc.thread.join();
}

void StopReconnect() {
    if (t_reconnector) return;   // its own ComOpen; a stopper may hold threadMu while joining it
    std::lock_guard l(g_rc.threadMu);
    StopReconnectLocked();
}

void StartReconnect(const std::string& device) {
    std::lock_guard l(g_rc.threadMu);
    StopReconnectLocked();
    g_rc.stop = false;
    g_rc.thread = std::thread(ReconnectLoop, device);
}

void AutoCloseComPort(const PortRef& port, bool alt) {
    if (!alt) {
        g_connected = false;
        shell_setenv("COMPORT", "NONE");
        std::lock_guard l(g_portMu);
        if (g_main == port) g_main.reset();
    } else {
        g_altOpen = false;
        std::lock_guard l(g_portMu);
        if (g_alt == port) g_alt.reset();
    }
    // Writers still inside a write give up; the last reference closes it.
    port->ops->cancelWait(port->p);
    if (g_cfg.FLOWCTRL & 0x08) port->ops->setDtr(port->p, false);
    port->ops->purge(port->p);
    ui().StatusRefresh();
    RefreshToolbar();
    if (!alt && g_cfg.COMPORT_AUTORECONNECT) {
        std::string device = ComDevicePath(g_cfg.COMPORT);
        ConnectionNote("Disconnected from", device);
        StartReconnect(device);
        return;
    }
    g_reconnect = true;
    static const char* const kBanner[] = {
        "\r\n",
        "##################################################\r\n",
        "#\r\n",
        "# COMPORT error, connection closed automatically.\r\n",
        "# Fix the problem, then...\r\n",
        "#   type into this console\r\n",
        "# OR\r\n",
        "#   click the 'Reconnect' toolbar button\r\n",
        "# if you want to reconnect to the same port.\r\n",
        "#\r\n",
        "##################################################\r\n",
    };
    // A terminal has no tool bar: it leaves out the "OR" and the button.
    for (const char* line : kBanner) {
        if (g_terminalFace && (std::strstr(line, "toolbar") || std::strcmp(line, "# OR\r\n") == 0)) continue;
        console_printf("%s", line);
    }
}

bool DeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EACCES;
}

// The reader of one port: line events, then everything waiting, until the
// port's flag is cleared or the device goes away.
void CommWatch(PortRef port, bool alt) {
    std::atomic<bool>& up = alt ? g_altOpen : g_connected;
    std::atomic<bool>& running = alt ? g_watchAltRunning : g_watchRunning;
    const char* name = alt ? "CommAltEvent" : "CommEvent";
    if (alt) TracePrintf(TRC_ALWAYS, "CommWatchProcAlt running");
    std::vector<uint8_t> in(kReadChunk), out(kReadChunk * 5 + 16);
    int fails = 0;
    while (up.load()) {
        unsigned ev = 0;
        int r = port->ops->wait(port->p, &ev);
        if (r == 0) {
            if (up.load()) hiresSleep(10);   // woken without a close: do not spin
            continue;
        }
        if (r < 0) {
            int err = errno;
            if (DeviceGone(err)) fails = 11;
            port->ops->errors(port->p);
            if (++fails <= 10) {
                TracePrintf(TRC_ALWAYS, alt ? "WaitCommEventAlt failed (%d)" : "WaitCommEvent failed (%d)", fails);
                hiresSleep(100);
                continue;
            }
            if (up.load()) AutoCloseComPort(port, alt);
            break;
        }
        fails = 0;
        const unsigned lineEvents = SEV_CTS | SEV_DSR | SEV_RLSD | SEV_BREAK | SEV_ERR | SEV_RING;
        if (ev & lineEvents) {
            if (!alt) {
                ModemStatusSignalOn(*port, ev);
                if (ev & SEV_BREAK) {
                    g_breakTicks = 2;
                    ui().MenuCheck(CMD_TB_BREAK, true);
                    if (g_cfg.INLINE_SIGNALING) {
                        auto v = shell_getenv("INLINE_BRKSTR");
                        std::string marker = v ? v->substr(0, kMarkerMax) : std::string("<BREAK>");
                        Inject(marker.data(), marker.size());
                    }
                }
            }
            TracePrintf(TRC_ALWAYS, "%s event=%s%s%s%s%s%s", name, (ev & SEV_CTS) ? "CTS " : "",
                        (ev & SEV_DSR) ? "DSR " : "", (ev & SEV_RING) ? "RNG " : "",
                        (ev & SEV_RLSD) ? "RLSD " : "", (ev & SEV_BREAK) ? "BRK " : "",
                        (ev & SEV_ERR) ? "ERR " : "");
            if (ev & SEV_ERR) {
                TracePrintf(TRC_ALWAYS, "%s Err (rc=%lu%s)", name, 0UL, "=WAIT_OBJECT_0");
                unsigned f = port->ops->errors(port->p);
                TracePrintf(TRC_ALWAYS, "%s ERROR:%s%s%s%s", name, (f & CE_FRAME) ? "FRAME " : "",
                            (f & CE_OVERRUN) ? "OVERRUN " : "", (f & CE_RXOVER) ? "OVERFLOW " : "",
                            (f & CE_RXPARITY) ? "PARITY " : "");
            }
        }
        if (ev & SEV_RXCHAR) {
            while (up.load()) {
                long n = ComPortRead(*port, in.data(), in.size());
                if (n <= 0) break;
                size_t len = static_cast<size_t>(n);
                if (!alt) {
                    RxDeliver(in.data(), out.data(), len, out.size());
                    if (g_cfg.COMPORT_PASSTHROUGH) AltPortWrite(reinterpret_cast<const char*>(in.data()), len);
                } else {
                    RxDeliverAlt(in.data(), out.data(), len, out.size());
                    // Passthrough only to a live main backend: the watcher
                    // must never stop to ask about reconnecting, even when
                    // the main port closes under it (BackendReply drops).
                    if (g_cfg.COMPORT_PASSTHROUGH) BackendReply(reinterpret_cast<const char*>(in.data()), len);
                }
            }
        }
    }
    if (alt) TracePrintf(TRC_ALWAYS, "CommWatchProcAlt terminating");
    running = false;
}

PortRef OpenPort(int n, int* err) {
    std::string path = ComDevicePath(n);
    if (path.empty()) {
        *err = ENOENT;
        return nullptr;
    }
    const SerialOps* ops = &serial();
    SerialPort* p = ops->open(path.c_str(), err);
    if (!p) return nullptr;
    return std::make_shared<Port>(ops, p);
}

bool TestOpen(int n) {
    int err = 0;
    return OpenPort(n, &err) != nullptr;
}

// Closes one port after its watcher has ended (DTR drop, purge, close).
void FinishPort(PortRef& port, std::atomic<bool>& up, std::atomic<bool>& running, std::thread& t,
                const char* watcherName) {
    up = false;
    if (port) port->ops->cancelWait(port->p);
    // At most two seconds, looked at often so a close is quick.
    for (int i = 0; i < 400 && running.load(); ++i) hiresSleep(5);
    if (running.load()) TracePrintf(TRC_ALWAYS, "%s didn't die", watcherName);
    Reap(t);
    if (!port) return;
    if ((g_cfg.FLOWCTRL & 0x08) && !port->ops->setDtr(port->p, false))
        ERROR_REPORT("CloseConnection: EscapeCommFunction()");
    if (!port->ops->purge(port->p)) ERROR_REPORT("CloseConnection: PurgeComm()");
    port.reset();
}

bool StartWatcher(const PortRef& port, bool alt) {
    std::atomic<bool>& running = alt ? g_watchAltRunning : g_watchRunning;
    std::thread& t = alt ? g_watchAlt : g_watch;
    Reap(t);
    running = true;
    try {
        t = std::thread(CommWatch, port, alt);
    } catch (const std::system_error&) {
        running = false;
        return false;
    }
    return true;
}

}  // namespace

std::string ComDevicePath(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "COMDEV_%d", n);
    if (auto v = shell_getenv(name); v && !v->empty()) return *v;
    return SerialDefaultPath(n);
}

int ComPortForDevice(const std::string& path) {
    for (int n = 1; n < 1024; ++n)
        if (ComDevicePath(n) == path) return n;
    int n = 400;
    while (n < 1023 && !ComDevicePath(n).empty()) ++n;
    shell_setenv(("COMDEV_" + std::to_string(n)).c_str(), path.c_str());
    return n;
}

bool ComConnected() { return g_connected.load(); }
bool ComAltOpen() { return g_altOpen.load(); }
bool ComReconnectPending() { return g_reconnect.load(); }
void ComClearReconnectPending() {
    StopReconnect();
    g_reconnect = false;
}

void ComSetTerminalFace(bool terminal) { g_terminalFace = terminal; }
unsigned long long ComAltSentBytes() { return g_altSent.load(); }

void ComReap() {
    std::lock_guard life(g_lifeMu);
    if (!g_connected.load()) Reap(g_watch);
    if (!g_altOpen.load()) Reap(g_watchAlt);
}

int ComClose() {
    StopReconnect();   // before the lock: the reconnect thread may be waiting for it
    std::lock_guard life(g_lifeMu);
    g_connected = false;
    shell_setenv("COMPORT", "NONE");
    g_reconnect = false;
    PortRef main, alt;
    {
        std::lock_guard l(g_portMu);
        main = std::move(g_main);
        alt = std::move(g_alt);
    }
    FinishPort(main, g_connected, g_watchRunning, g_watch, "ComWatchProc");
    // The alternate port goes with the main one: a reopen must find both free.
    FinishPort(alt, g_altOpen, g_watchAltRunning, g_watchAlt, "ComWatchProcAlt");
    RefreshToolbar();
    ui().StatusRefresh();
    return 1;
}

int ComOpen() {
    StopReconnect();   // before the lock: the reconnect thread may be waiting for it
    std::lock_guard life(g_lifeMu);
    if (g_cfg.BACKEND == BACKEND_NONE) {
        g_cfg.BACKEND = BACKEND_COM;
        g_cfg.COMPORT = COMPORT_NONE;
    }
    if (g_connected.load() || g_altOpen.load() || MainPort() || AltPort()) ComClose();
    switch (g_cfg.COMPORT) {
        case COMPORT_NONE: shell_setenv("COMPORT", "NONE"); RefreshToolbar(); return 1;
        case COMPORT_LPBK: shell_setenv("COMPORT", "LPBK"); RefreshToolbar(); return 1;
        case COMPORT_TEST: shell_setenv("COMPORT", "TEST"); RefreshToolbar(); return 1;
        default: break;
    }
    int err = 0;
    PortRef main, alt;
    if (g_cfg.COMPORT == COMPORT_ANY) {
        for (int n = 1; n < 1024 && !main; ++n) {
            main = OpenPort(n, &err);
            if (main) g_cfg.COMPORT = n;
        }
        if (!main) {
            errno = ENODEV;
            return 0;
        }
    } else {
        main = OpenPort(g_cfg.COMPORT, &err);
        if (!main) {
            errno = err;
            return 0;
        }
    }
    if (g_cfg.COMPORTALT != 0) {
        alt = OpenPort(g_cfg.COMPORTALT, &err);
        if (!alt) {
            errno = err;
            return 0;
        }
    }
    if (!SetLineControlOn(*main) || (alt && !SetLineControlOn(*alt))) {
        errno = EIO;
        return 0;
    }
    shell_sprintf("COMPORT", "%d", g_cfg.COMPORT.get());
    if (alt) shell_sprintf("COMPORTALT", "%d", g_cfg.COMPORTALT.get());
    main->ops->purge(main->p);
    if (alt) alt->ops->purge(alt->p);
    ApplyUserBaudRateOn(*main, std::nullopt);
    if (alt) ApplyUserBaudRateOn(*alt, std::nullopt);
    if (!ApplyCommSettingsOn(*main)) {
        errno = EIO;
        return 0;
    }
    {
        std::lock_guard l(g_portMu);
        g_main = main;
    }
    g_connected = true;
    if (!StartWatcher(main, false)) {
        ComClose();
        errno = EAGAIN;
        return 0;
    }
    int ok = 1;
    if (alt) {
        if (ApplyCommSettingsOn(*alt)) {
            {
                std::lock_guard l(g_portMu);
                g_alt = alt;
            }
            g_altOpen = true;
            g_cfg.CHAR_ATTRIBUTES = 1;
            if (!StartWatcher(alt, true)) {
                PortRef a;
                {
                    std::lock_guard l(g_portMu);
                    a = std::move(g_alt);
                }
                g_altOpen = false;
                ok = 0;
            }
        } else {
            ok = 0;
        }
        if (!ok) errno = EIO;
    }
    RefreshToolbar();
    ModemStatusSignalOn(*main, SEV_CTS | SEV_DSR | SEV_RLSD | SEV_RING);
    g_reconnect = false;
    ui().StatusRefresh();
    return ok;
}

int ComApplySettings() {
    PortRef main = MainPort(), alt = AltPort();
    if (!main) return 0;
    int ok = ApplyCommSettingsOn(*main);
    if (alt && !ApplyCommSettingsOn(*alt)) ok = 0;
    ui().StatusRefresh();
    return ok;
}

int ComWrite(const char* data, size_t len) {
    PortRef port = MainPort();
    if (!port) return 0;
    return WriteOn(*port, data, len);
}

int AltPortWrite(const char* data, size_t len) {
    if (!g_altOpen.load()) return 0;
    PortRef port = AltPort();
    if (!port) return 0;
    g_altSent += len;
    return WriteOn(*port, data, len);
}

int ChangeBaudRate(int rate) {
    if (g_cfg.BACKEND != BACKEND_COM) {
        OxelMessageBox("ChangeBaudRate Error", "Backend is not a COMPORT");
        return 0;
    }
    PortRef port = MainPort();
    if (!port) return 0;
    return ChangeBaudRateOn(*port, rate);
}

int CycleBaudRate() {
    if (g_cfg.BACKEND != BACKEND_COM) return ChangeBaudRate(g_cfg.BAUDRATE);  // says why
    PortRef port = MainPort();
    if (!port) return 0;
    int row = -1;
    for (size_t i = 0; i < kBaudRateRows; ++i)
        if (BaudRateTable[i].rate == g_cfg.BAUDRATE) row = static_cast<int>(i);
    int ends = 0;
    for (;;) {
        if (++row == static_cast<int>(kBaudRateRows)) {
            row = 0;
            if (++ends == 2) return 0;
        }
        if (ChangeBaudRateOn(*port, BaudRateTable[row].rate)) return 1;
    }
}

int ApplyUserBaudRate(std::optional<int> dialogRate) {
    PortRef port = MainPort();
    if (!port) return 0;
    return ApplyUserBaudRateOn(*port, dialogRate);
}

int SendBreak() {
    PortRef port = MainPort();
    if (!port) return 0;
    port->ops->setBreak(port->p, true);
    hiresSleep(500);
    port->ops->setBreak(port->p, false);
    return 1;
}

int SetDtr(bool on) {
    g_cfg.DTR_STATE = on ? 1 : 0;
    ui().MenuCheck(CMD_TB_DTR, on);
    PortRef port = MainPort();
    if (!port) return 0;
    return port->ops->setDtr(port->p, on);
}

int SetRts(bool on) {
    if (g_cfg.FLOWCTRL & 0x02) {
        OxelMessageBox("Error", "Illegal operation when RTSCTS flowctrl enabled");
        return 0;
    }
    g_cfg.RTS_STATE = on ? 1 : 0;
    ui().MenuCheck(CMD_TB_RTS, on);
    PortRef port = MainPort();
    if (!port) return 0;
    return port->ops->setRts(port->p, on);
}

int ToggleDtr() {
    if (g_cfg.FLOWCTRL & 0x01) {
        OxelMessageBox("Error", "Illegal operation when DTRDSR flowctrl enabled");
        return 0;
    }
    return SetDtr(!g_cfg.DTR_STATE);
}

int ToggleRts() { return SetRts(!g_cfg.RTS_STATE); }

bool DtrOn() { return !(g_cfg.FLOWCTRL & 0x01) && g_cfg.DTR_STATE; }
bool RtsOn() { return !(g_cfg.FLOWCTRL & 0x02) && g_cfg.RTS_STATE; }

void ModemStatusSignal(unsigned events) {
    PortRef port = MainPort();
    if (port) ModemStatusSignalOn(*port, events);
}

void ComRequestRescan() {
    std::lock_guard l(g_scanMu);
    g_rescan = true;
}

bool ScanSerialComm(int n) {
    std::lock_guard l(g_scanMu);
    if (g_rescan) {
        g_listed.assign(1024, false);
        for (int i = 1; i < 1024; ++i) g_listed[i] = SerialDevicePresent(ComDevicePath(i));
        g_rescan = false;
    }
    return n > 0 && n < 1024 && g_listed[n];
}

std::vector<std::string> ComPortList() {
    ComRequestRescan();
    std::vector<std::string> list;
    for (int n = 1; n < 1024; ++n) {
        std::string path = ComDevicePath(n);
        if (path.empty()) continue;
        char com[16];
        std::snprintf(com, sizeof com, "COM%d", n);
        if (g_connected.load() && n == g_cfg.COMPORT) list.push_back(std::string(com) + " current (" + path + ")");
        else if (TestOpen(n)) list.push_back(std::string(com) + " (" + path + ")");
        else if (ScanSerialComm(n)) list.push_back(std::string(com) + " inuse (" + path + ")");
    }
    for (const char* s : {"NONE", "TEST", "LBK", "ANY"}) list.emplace_back(s);
    return list;
}

std::vector<std::string> ComListing() {
    std::vector<std::string> lines;
    for (const std::string& e : ComPortList())
        if (e.rfind("COM", 0) == 0) lines.push_back(e);
    for (const SerialUsbAdapter& a : SerialByIdList()) {
        std::string line = a.byId + " -> " + a.device;
        for (const std::string* f : {&a.product, &a.vendorProduct, &a.serial})
            if (!f->empty() && *f != ":") line += "  " + *f;
        lines.push_back(line);
    }
    return lines;
}

int ComPortFromEntry(const std::string& entry) {
    if (entry == "NONE") return COMPORT_NONE;
    if (entry == "TEST") return COMPORT_TEST;
    if (entry == "LBK") return COMPORT_LPBK;
    if (entry == "ANY") return COMPORT_ANY;
    if (entry.rfind("COM", 0) == 0) {
        int n = 0;
        size_t i = 3;
        while (i < entry.size() && entry[i] >= '0' && entry[i] <= '9' && n < 100000) n = n * 10 + (entry[i++] - '0');
        if (i > 3) return n;
    }
    return -1;
}

int FindNextComPort(int current) {
    ComRequestRescan();
    int start = (current <= 0 || current >= 1024) ? 1 : current + 1;
    auto usable = [](int n) { return ScanSerialComm(n) && TestOpen(n); };
    for (int n = start; n < 1024; ++n)
        if (usable(n)) return n;
    if (start == 1) return current;
    for (int n = 1; n < start; ++n)
        if (usable(n)) return n;
    return current;
}

std::string ComStatusText() {
    if (!g_connected.load()) return {};
    static const char kParity[] = "NOEMS";
    static const char kStop[] = "152";
    char parity = g_cfg.PARITY < 5 ? kParity[g_cfg.PARITY] : '?';
    char stop = g_cfg.STOPBITS < 3 ? kStop[g_cfg.STOPBITS] : '?';
    char buf[96];
    std::snprintf(buf, sizeof buf, "COM%d %d %d-%c-%c", g_cfg.COMPORT.get(), g_cfg.BAUDRATE.get(), g_cfg.BYTESIZE.get(), parity, stop);
    return buf;
}

void ComBreakIndicatorTick() {
    int t = g_breakTicks.load();
    if (t > 0 && --g_breakTicks == 0) ui().MenuCheck(CMD_TB_BREAK, false);
}
