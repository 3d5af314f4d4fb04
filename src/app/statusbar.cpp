#include "app/statusbar.h"

#include <cstdio>
#include <optional>

#include "backend/backend.h"
#include "config/configrecord.h"
#include "config/shellvar.h"

namespace {

bool TelnetEnabledDefault() { return g_cfg.TELNET_ENABLED != 0; }
int NoClients() { return 0; }
long Idle() { return -1; }
int CfgLines() { return g_cfg.CONSOLE_ROWS; }
int CfgCols() { return g_cfg.CONSOLE_COLS; }


const StatusSources kDefaults{TelnetEnabledDefault, NoClients, Idle, Idle, Idle, CfgLines, CfgCols};
StatusSources g_sources = kDefaults;

std::string Format(const char* fmt, long a, long b = 0) {
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

std::string TelnetField() {
    if (!g_sources.telnetEnabled()) return "TELNET SRVR OFF";
    return Format("TELNET CLIENTS (port %ld): %ld", g_cfg.TELNET_PORT, g_sources.telnetClients());
}

std::string MyIpField() {
    std::optional<std::string> ip = shell_getenv("MYIP");
    if (!ip) {
        ip = ShellHostAddress();
        if (ip) shell_setenv("MYIP", ip->c_str());
    }
    return "MYIP: " + (ip ? *ip : std::string("???"));
}

std::string XferField() {
    long n;
    if ((n = g_sources.xmodemPkts()) >= 0) return Format("XMODEM: %ld pkts", n);
    if ((n = g_sources.tftpPkts()) >= 0) return Format("TFTP: %ld pkts", n);
    if ((n = g_sources.fsendBytes()) >= 0) return Format("FSEND: %ld bytes", n);
    return " XFER: Idle";
}

}  // namespace

StatusSources& StatusSourcesRef() { return g_sources; }
void StatusSourcesReset() { g_sources = kDefaults; }

std::string StatusFieldText(int field) {
    switch (field) {
    case 0: return BackendStatusText();
    case 1: return TelnetField();
    case 2: return MyIpField();
    case 3: return Format("ROW/COL: %ld/%ld", static_cast<long>(g_sources.lines()), static_cast<long>(g_sources.cols()));
    case 4: return XferField();
    default: return {};
    }
}

std::array<std::string, kStatusFields> StatusTexts() {
    std::array<std::string, kStatusFields> t;
    for (int i = 0; i < kStatusFields; ++i) t[i] = StatusFieldText(i);
    return t;
}

std::array<int, kStatusFields> StatusFieldEdges(int clientWidth) {
    static const int kThirtieths[kStatusFields] = {7, 13, 19, 24, 30};
    std::array<int, kStatusFields> e;
    for (int i = 0; i < kStatusFields; ++i) e[i] = clientWidth * kThirtieths[i] / 30;
    return e;
}
