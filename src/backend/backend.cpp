#include "backend/backend.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "util/worker.h"
#include "util/cmdids.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

#include "util/commands.h"
#include "platform/report.h"
#include "backend/comport.h"
#include "backend/moncmdc.h"
#include "backend/plinkfe.h"
#include "backend/telnetc.h"
#include "config/configrecord.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "log/srvrtrace.h"
#include "platform/ui.h"
#include "config/shellvar.h"

#define OXEL_MODULE "backend"

namespace {

// One row per backend kind; adding a kind is adding a row.
struct BackendRow {
    int (*open)();
    int (*close)();
    int (*reopen)();
    int (*apply)();
    int (*write)(const char* data, size_t len);
};

int Success() { return 1; }
int ReopenByClose() {
    if (BackendConnected()) CloseConnection();
    return OpenConnection();
}

const BackendRow kBackends[] = {
    /* NONE   */ {ComOpen, ComClose, ReopenByClose, ComApplySettings, ComWrite},
    /* COM    */ {ComOpen, ComClose, ReopenByClose, ComApplySettings, ComWrite},
    /* TELNET */ {TelnetOpen, CloseTelnetConnection, Success, Success, TelnetWrite},
    /* MONCMD */ {MoncmdOpen, MoncmdClose, MoncmdReopen, Success, MoncmdWrite},
    /* PLINK  */ {PlinkOpen, ClosePlinkConnection, ReopenByClose, Success, PlinkWrite},
};

const BackendRow& Row() {
    int k = g_cfg.BACKEND;
    if (k < 0 || k >= static_cast<int>(sizeof kBackends / sizeof kBackends[0])) k = BACKEND_NONE;
    return kBackends[k];
}

bool IsComKind() { return g_cfg.BACKEND == BACKEND_NONE || g_cfg.BACKEND == BACKEND_COM; }

std::atomic<bool> g_otherUp{false};   // a telnet, MONCMD or plink connection is up
std::atomic<unsigned long long> g_sent{0};

// What is being typed, for the CLIHIST trace.
std::mutex g_lineMu;
char g_line[128];
size_t g_lineLen = 0;

void CliHistory(const char* data, size_t len) {
    std::lock_guard l(g_lineMu);
    for (size_t i = 0; i < len; ++i) {
        char c = data[i];
        if (c == '\r' || c == '\n') {
            if (g_lineLen) TracePrintf(TRC_CLIHIST, "%.*s", static_cast<int>(g_lineLen), g_line);
            g_lineLen = 0;
        } else if (c == '\b') {
            if (g_lineLen) --g_lineLen;
        } else {
            if (g_lineLen == sizeof g_line) g_lineLen = 0;
            g_line[g_lineLen++] = c;
        }
    }
}

void LocalEcho(const char* data, size_t len) {
    if (!g_cfg.LOCALECHO) return;
    if (!g_cfg.LOCALECHOACH) {
        ConsoleWritePlain(data, len);
    } else {
        std::string hex;
        char two[4];
        for (size_t i = 0; i < len; ++i) {
            std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(data[i]));
            hex += two;
        }
        ConsoleWritePlain(hex.data(), hex.size());
    }
    ui().ConsoleInvalidate();
}

// The loopback pseudo-port behaves like a port: written bytes are received on
// its own thread, in small blocks, so a writer (the window typing, a script,
// the emulator answering a query) never delivers itself and never waits for
// the received-data lock.
struct LoopbackPort {
    std::mutex mu;
    std::condition_variable cv;
    std::string pending;
    bool delivering = false;
    WorkerThread worker;
};
constexpr size_t kLoopbackMax = 4 << 20;   // what a writer may run ahead of delivery

LoopbackPort& Lp() {
    static LoopbackPort* p = new LoopbackPort;   // the thread may outlive static destruction
    return *p;
}

void LoopbackReceiver(const std::atomic<bool>& stop) {
    LoopbackPort& lp = Lp();
    std::unique_lock l(lp.mu);
    while (!stop) {
        if (lp.pending.empty()) {
            lp.cv.wait_for(l, std::chrono::milliseconds(200));
            continue;
        }
        std::string data;
        data.swap(lp.pending);
        lp.delivering = true;
        l.unlock();
        uint8_t scratch[64 * 5 + 16];
        for (size_t at = 0; at < data.size(); at += 64) {
            size_t n = std::min<size_t>(64, data.size() - at);
            RxDeliver(reinterpret_cast<const uint8_t*>(data.data() + at), scratch, n, sizeof scratch);
        }
        l.lock();
        lp.delivering = false;
        lp.cv.notify_all();
    }
}

void Loopback(const char* data, size_t len) {
    LoopbackPort& lp = Lp();
    std::lock_guard l(lp.mu);
    if (lp.pending.size() + len > kLoopbackMax) {
        TracePrintf(TRC_ALWAYS, "Loopback: %zu bytes dropped (receiver behind)", len);
        return;
    }
    lp.pending.append(data, len);
    if (!lp.worker.Running()) lp.worker.Start(LoopbackReceiver);
    lp.cv.notify_all();
}

// The TEST port takes everything, the loop-back port hands it straight back;
// -1 when the backend is neither.
int PseudoPortWrite(const char* data, size_t len) {
    if (g_cfg.BACKEND != BACKEND_COM) return -1;
    if (g_cfg.COMPORT == COMPORT_TEST) return 1;
    if (g_cfg.COMPORT != COMPORT_LPBK) return -1;
    Loopback(data, len);
    return 1;
}

}  // namespace

bool BackendLoopbackDrain(int ms) {
    LoopbackPort& lp = Lp();
    std::unique_lock l(lp.mu);
    return lp.cv.wait_for(l, std::chrono::milliseconds(ms), [&] { return lp.pending.empty() && !lp.delivering; });
}

void BackendLoopbackStop() { Lp().worker.Stop(2000); }

void BackendInjectReceived(const char* data, size_t len) { Loopback(data, len); }

bool BackendConnected() { return ComConnected() || g_otherUp.load(); }
void BackendMarkConnected(bool up) {
    g_otherUp = up;
    ui().StatusRefresh();
}

int OpenConnection() {
    // The network and child-process backends report their state themselves
    // (BackendMarkConnected): their connection may come up later.
    int ok = Row().open();
    ui().StatusRefresh();
    return ok;
}

int ReopenConnection() { return Row().reopen(); }

int CloseConnection() {
    if (!BackendConnected() && !ComAltOpen()) {
        g_cfg.BACKEND = BACKEND_NONE;
        g_cfg.BACKEND_COMPORT_ENABLED = g_cfg.BACKEND_TELNET_ENABLED = 0;
        g_cfg.BACKEND_MONCMD_ENABLED = g_cfg.BACKEND_PLINK_ENABLED = 0;
        ComClearReconnectPending();
        ComReap();
        return 1;
    }
    int ok = IsComKind() ? ComClose() : Row().close();
    g_otherUp = false;
    ui().StatusRefresh();
    (void)ok;  // closing steps report their own failures
    return 1;
}

int ApplyCommSettings() { return Row().apply(); }

int BackendWrite(const char* data, size_t len) {
    g_sent += len;
    if (int pseudo = PseudoPortWrite(data, len); pseudo >= 0) return pseudo;
    if (!BackendConnected()) {
        if (OxelMessageBoxStyle(MB_YESNO | MB_ICONQUESTION, "COM port currently disconnected",
                                "Want to reconnect?") != IDYES)
            return 0;
        if (!OpenConnection()) OxelMessageBox("Reconnect Failed", "Can't reconnect");
        ui().StatusRefresh();
    }
    CliHistory(data, len);
    LocalEcho(data, len);
    return Row().write(data, len) ? 1 : 0;
}

int BackendReply(const char* data, size_t len) {
    if (int pseudo = PseudoPortWrite(data, len); pseudo >= 0) return pseudo;
    // A closing connection is already marked down: the reply is dropped
    // instead of reopening what the closer is waiting to tear down.
    if (!BackendConnected()) return 0;
    g_sent += len;
    return Row().write(data, len) ? 1 : 0;
}

bool BackendLostConnection() { return ComReconnectPending(); }

void BackendReconnectCommand() {
    if (BackendConnected()) return;
    if (!OpenConnection()) OxelMessageBox("Reconnect Failed", "Can't reconnect");
    ui().StatusRefresh();
}

std::string BackendStatusText() {
    const char* ro = g_cfg.CONSOLE_READONLY ? " (readonly)" : "";
    switch (g_cfg.BACKEND) {
        case BACKEND_TELNET: return TelnetStatusText();
        case BACKEND_MONCMD: return MoncmdStatusText();
        case BACKEND_PLINK: return PlinkStatusText();
        default: break;
    }
    if (ComConnected()) return ComStatusText() + ro;
    if (g_cfg.COMPORT == COMPORT_LPBK) return std::string("Disconnected (LPBK)") + ro;
    if (g_cfg.COMPORT == COMPORT_TEST) return std::string("Disconnected (TEST)") + ro;
    return std::string("Disconnected") + ro;
}

std::string BackendToolTip(int id) {
    struct Tip { int id; const char* text; bool comOnly; };
    static const Tip kTips[] = {
        {950, "Disconnect from COM port", true},
        {951, "Reconnect to COM port", true},
        {952, "Toggle DTR on COM port", true},
        {956, "Loop through baud rates", true},
        {957, "Send BREAK on COM port", true},
        {958, "Toggle RTS on COM port", true},
        {959, "Data carrier detect", false},
        {960, "Data set ready", false},
        {961, "Clear to send", false},
        {962, "Ring in", false},
    };
    for (const auto& t : kTips) {
        if (t.id != id) continue;
        if (id == 956 && IsComKind() && (g_cfg.USRDEFBAUD || !ComConnected())) return "Open Config->Backend->Comport";
        if (t.comOnly && !IsComKind()) return std::string(t.text) + " (NA for other backends)";
        return t.text;
    }
    return {};
}

void ComPortConfigure(const ComPortChoice& c) {
    const bool realBefore = g_cfg.COMPORT >= 1 && g_cfg.COMPORT <= 1023;
    g_cfg.COMPORT = c.port;
    if (!c.userDefined) g_cfg.BAUDRATE = c.rate;
    g_cfg.USRDEFBAUD = c.userDefined ? 1 : 0;
    g_cfg.BYTESIZE = static_cast<uint8_t>(c.dataBits);
    g_cfg.PARITY = static_cast<uint8_t>(c.parity);
    g_cfg.STOPBITS = static_cast<uint8_t>(c.stopBits);
    g_cfg.FLOWCTRL = static_cast<uint8_t>(c.flow & 0x07);
    if (g_cfg.BACKEND != BACKEND_COM) {
        if (g_cfg.BACKEND != BACKEND_NONE) CloseConnection();
        g_cfg.BACKEND = BACKEND_COM;
    }
    if (c.port == COMPORT_NONE || c.port == COMPORT_TEST || c.port == COMPORT_LPBK) {
        CloseConnection();
        // A close with nothing connected clears the backend kind; the
        // chosen pseudo-port must survive it.
        g_cfg.BACKEND = BACKEND_COM;
        g_cfg.COMPORT = c.port;
        OpenConnection();
    } else if (realBefore) {
        ReopenConnection();
    } else {
        OpenConnection();
    }
    if (c.userDefined && ComConnected()) ApplyUserBaudRate(c.userRate);
    ui().StatusRefresh();
}

unsigned long long BackendSentBytes() { return g_sent.load(); }

void BackendInit() {
    CommandRegister({CMD_COMPORT_BACKEND, "&Config/&Backend", "&COM Port...",
                     [] { ui().ShowDialog("COM Port Configuration..."); }});
    CommandRegister({CMD_VIEW_COMPORTCTL, "&View", "&ComPortControl", [] { ui().ShowDialog("COM Port Control"); }});
    CommandRegister({CMD_TB_DISCONNECT, "", "Disconnect from COM port", [] {
                         if (BackendConnected()) CloseConnection();
                     }});
    CommandRegister({CMD_TB_RECONNECT, "", "Reconnect to COM port", BackendReconnectCommand});
    CommandRegister({CMD_TB_DTR, "", "Toggle DTR on COM port", [] {
                         if (IsComKind()) ToggleDtr();
                     }});
    CommandRegister({CMD_TB_BAUD, "", "Loop through baud rates", [] {
                         if (!IsComKind()) return;
                         if (g_cfg.USRDEFBAUD || !ComConnected()) ui().ShowDialog("COM Port Configuration...");
                         else CycleBaudRate();
                     }});
    CommandRegister({CMD_TB_BREAK, "", "Send BREAK on COM port", [] {
                         if (IsComKind()) SendBreak();
                     }});
    CommandRegister({CMD_TB_RTS, "", "Toggle RTS on COM port", [] {
                         if (IsComKind()) ToggleRts();
                     }});
    // Line indicators: shown, never run.
    CommandRegister({CMD_TB_DCD, "", "Data carrier detect", [] {}, true});
    CommandRegister({CMD_TB_DSR, "", "Data set ready", [] {}, true});
    CommandRegister({CMD_TB_CTS, "", "Clear to send", [] {}, true});
    CommandRegister({CMD_TB_RI, "", "Ring in", [] {}, true});
}
