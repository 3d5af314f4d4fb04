#include "servers/dhcpsrvr.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "config/configrecord.h"
#include "config/shellvar.h"
#include "console/editor.h"
#include "console/screenbuf.h"
#include "log/srvrtrace.h"
#include "platform/net.h"
#include "platform/report.h"
#include "script/expand.h"
#include "script/scripting.h"
#include "servers/dhcp_cfg.h"
#include "servers/dhcp_packet.h"
#include "servers/udpserver.h"
#include "util/cmdline.h"
#include "util/utils.h"
#include "util/worker.h"

#define OXEL_MODULE "dhcpsrvr"

namespace {

const UdpServerSpec kSocket{"DHCP SERVER", "DHCPSRVR_BIND_ADDR", TRC_DHCP};

std::mutex g_mu;          // start, stop, the dialog and SRVRSETUP
WorkerThread g_receiver;
std::atomic<int> g_fd{-1};
std::atomic<uint16_t> g_port{0};
// The table is replaced by the user-interface or script thread while the
// receiver reads it: the receiver takes a copy of the pointer under the lock.
std::mutex g_tableMu;
std::shared_ptr<const std::vector<DhcpEntry>> g_table = std::make_shared<std::vector<DhcpEntry>>();

const char kTemplate[] =
    "# DHCP/BOOTP server client table.\n"
    "# One entry per client; a CLIENT_MAC (DHCP and BOOTP), BOOTP_CLIENT_MAC or\n"
    "# DHCP_CLIENT_MAC line starts an entry. Lines are NAME: VALUE; '#' starts a\n"
    "# comment line. Shell variables ($NAME) are expanded.\n"
    "#   CLIENT_IP, SERVER_IP, RLYAGNT_IP   dotted IPv4 address\n"
    "#   SERVER_NAME (63 chars), BOOTFILE (127 chars)\n"
    "#   NETMASK, GATEWAY                   options 1 and 3, in file order\n"
    "#   IPA_OPTNO_n: a.b.c.d,e.f.g.h       option n, up to 32 addresses\n"
    "#   STR_OPTNO_n: text                  option n, text and its NUL\n"
    "#   HEX_OPTNO_n: 0a0b0c                option n, the bytes\n"
    "#   IPA_VSOPTNO_n, STR_VSOPTNO_n, HEX_VSOPTNO_n: sub-option n of option 43\n"
    "# An all-zero MAC (00:00:00:00:00:00) is the default entry.\n"
    "\n"
    "CLIENT_MAC: 00:11:22:33:44:55\n"
    "CLIENT_IP: 192.168.1.100\n"
    "SERVER_IP: 192.168.1.1\n"
    "RLYAGNT_IP: 0.0.0.0\n"
    "SERVER_NAME: benchpc\n"
    "BOOTFILE: target.bin\n"
    "NETMASK: 255.255.255.0\n"
    "GATEWAY: 192.168.1.1\n"
    "IPA_OPTNO_6: 192.168.1.1\n"
    "STR_OPTNO_12: target1\n"
    "HEX_OPTNO_51: 00015180\n"
    "IPA_OPTNO_54: 192.168.1.1\n"
    "STR_VSOPTNO_1: hello\n"
    "\n"
    "BOOTP_CLIENT_MAC: 00:11:22:33:44:56\n"
    "CLIENT_IP: 192.168.1.101\n"
    "SERVER_IP: 192.168.1.1\n"
    "BOOTFILE: boot.img\n"
    "NETMASK: 255.255.255.0\n"
    "\n"
    "# An embedded Linux board booting over PXE.\n"
    "DHCP_CLIENT_MAC: 00:11:22:33:44:57\n"
    "CLIENT_IP: 192.168.1.102\n"
    "SERVER_IP: 192.168.1.1\n"
    "BOOTFILE: pxelinux.0\n"
    "NETMASK: 255.255.255.0\n"
    "GATEWAY: 192.168.1.1\n"
    "IPA_OPTNO_54: 192.168.1.1\n"
    "STR_OPTNO_17: /srv/nfs/rootfs\n";

bool Expand(std::string& s) { return cmdline_expand(s) == 0; }

void ShowBoxes(const DhcpConfig& c) {
    for (const DhcpBox& b : c.boxes) OxelMessageBox(b.title.c_str(), "%s", b.text.c_str());
}

DhcpConfig ReadTable() {
    if (!g_cfg.DHCP_CFGFILE_MODE) {
        DhcpSingle f{CFG_GET_STRING(g_cfg.DHCP_CLIENT_MAC), CFG_GET_STRING(g_cfg.DHCP_CLIENT_IP),
                     CFG_GET_STRING(g_cfg.DHCP_SRVR_IP),    CFG_GET_STRING(g_cfg.DHCP_NETMASK),
                     CFG_GET_STRING(g_cfg.DHCP_GATEWAY),    CFG_GET_STRING(g_cfg.DHCP_BOOTFILE)};
        return DhcpSingleConfig(f, Expand);
    }
    std::string path = CFG_GET_STRING(g_cfg.DHCP_CFG_FILE);
    DhcpConfig c;
    if (!Expand(path)) {
        c.boxes.push_back({"DHCP ERROR", "Shellvar expansion err in cfg file\n"});
        return c;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        c.boxes.push_back({"DHCP ERROR", "Config file '" + path + "' not found.\n"});
        return c;
    }
    std::stringstream text;
    text << in.rdbuf();
    return DhcpParseConfig(text.str(), path, Expand);
}

std::shared_ptr<const std::vector<DhcpEntry>> Table() {
    std::lock_guard l(g_tableMu);
    return g_table;
}

void Trace(const std::vector<std::string>& lines) {
    for (const auto& l : lines) TracePrintf(TRC_DHCP, "%s", l.c_str());
}

void Answer(int fd, const uint8_t* buf, size_t n, const sockaddr_in& from) {
    DhcpRequest req = DhcpReadRequest(buf, n);
    if (!req.valid) {
        TracePrintf(TRC_DHCP, "%s", req.drop.c_str());
        return;
    }
    auto table = Table();
    DhcpMatch m = DhcpFindEntry(*table, req);
    if (m.index < 0) {
        TracePrintf(TRC_DHCP, "%s", m.why.c_str());
        Trace(DhcpDump("INCOMING", buf, n));
        TracePrintf(TRC_DHCP, "    IGNORED");
        return;
    }
    const DhcpEntry& e = (*table)[static_cast<size_t>(m.index)];
    if (m.isDefault && req.type != kDhcpDiscover) TracePrintf(TRC_DHCP, "Using default configuration.");
    std::vector<uint8_t> reply = DhcpBuildReply(buf, n, req, e);
    Trace(DhcpDump("INCOMING", buf, n));
    Trace(DhcpDump("OUTGOING", reply.data(), reply.size()));
    sockaddr_in to = from;
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    if (sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        TracePrintf(TRC_DHCP, "sendto failed (%d)", errno);
        return;
    }
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &e.clientIp, ip, sizeof ip);
    shell_setenv("DHCP_CLIENT_IP", ip);
}

void Receiver(int fd, const std::atomic<bool>& stop) {
    uint8_t buf[kDhcpDatagram];
    while (!stop) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 250);   // the stop flag is looked at between waits
        if (r == 0 || (r < 0 && errno == EINTR)) continue;
        sockaddr_in from{};
        socklen_t flen = sizeof from;
        ssize_t n = r < 0 ? -1 : recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &flen);
        if (stop) break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            ERROR_REPORT("DHCP SERVER recvfrom()");
            break;
        }
        if (!g_cfg.DHCPSRVR_ENABLED) continue;   // running but switched off: ignore
        Answer(fd, buf, static_cast<size_t>(n), from);
    }
    TracePrintf(TRC_DHCP, "DHCP server exiting");
    if (close(fd) != 0) ERROR_REPORT("DHCP SERVER closesocket()");
}

uint16_t ConfiguredPort() {
    if (auto v = shell_getenv("DHCPSRVR_PORT"); v && !v->empty()) {
        auto p = ParseUnsigned(v->c_str());
        if (p && *p <= 65535) return static_cast<uint16_t>(*p);   // 0 picks a free port
        TracePrintf(TRC_DHCP, "DHCPSRVR_PORT '%s' is not a port; using 67", v->c_str());
    }
    return 67;
}

int LoadLocked() {
    DhcpConfig c = ReadTable();
    ShowBoxes(c);
    if (!c.ok) return -1;
    auto table = std::make_shared<const std::vector<DhcpEntry>>(std::move(c.entries));
    std::lock_guard l(g_tableMu);
    g_table = table;
    return static_cast<int>(g_table->size());
}

void StopLocked() {
    if (g_fd >= 0) {
        g_fd = -1;
        g_receiver.Stop(5000);
        g_port = 0;
    }
    g_receiver.Stop(5000);
    TraceSetServerRunning("Dhcp", false);
}

int StartLocked() {
    if (!g_cfg.DHCPSRVR_ENABLED) return 0;
    if (LoadLocked() < 0) {
        g_cfg.DHCPSRVR_ENABLED = 0;
        TraceRefreshCaption();
        return 0;
    }
    if (g_fd >= 0) return 1;
    g_receiver.Stop(5000);   // a receiver that ended by itself
    const uint16_t port = ConfiguredPort();
    int fd = UdpServerOpen(kSocket, port);
    const int on = 1;
    if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        OxelMessageBox("DHCP ERROR", "Couldn't enable BROADCAST (err %d)\n", errno);
        close(fd);
        fd = -1;
    }
    bool started = fd >= 0 && g_receiver.Start([fd](const std::atomic<bool>& stop) { Receiver(fd, stop); });
    if (fd >= 0 && !started) {
        close(fd);
        ERROR_REPORT("CreatThread()");
    }
    if (!started) {
        g_cfg.DHCPSRVR_ENABLED = 0;
        TraceRefreshCaption();
        return 0;
    }
    g_fd = fd;
    g_port = NetLocalPort(fd);
    TraceSetServerRunning("Dhcp", true);
    return 1;
}

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// SRVRSETUP DHCP off | on | on CFGFILE | on MAC IP SERVERIP NETMASK GATEWAY BOOTFILE
// ("--" keeps a field).
int DhcpSetup(int nargs, char** args, bool verbose) {
    std::lock_guard l(g_mu);
    if (Is(args[1], "off")) {
        if (nargs != 2) return -3;
        g_cfg.DHCPSRVR_ENABLED = 0;
        TraceRefreshCaption();
        return 0;
    }
    if (!Is(args[1], "on")) return -2;
    if (nargs == 3) {
        g_cfg.DHCP_CFGFILE_MODE = 1;
        CFG_SET_STRING(g_cfg.DHCP_CFG_FILE, args[2]);
    } else if (nargs == 8) {
        g_cfg.DHCP_CFGFILE_MODE = 0;
        char* fields[] = {g_cfg.DHCP_CLIENT_MAC, g_cfg.DHCP_CLIENT_IP, g_cfg.DHCP_SRVR_IP,
                          g_cfg.DHCP_NETMASK,    g_cfg.DHCP_GATEWAY,   g_cfg.DHCP_BOOTFILE};
        const size_t sizes[] = {sizeof g_cfg.DHCP_CLIENT_MAC, sizeof g_cfg.DHCP_CLIENT_IP, sizeof g_cfg.DHCP_SRVR_IP,
                                sizeof g_cfg.DHCP_NETMASK,    sizeof g_cfg.DHCP_GATEWAY,   sizeof g_cfg.DHCP_BOOTFILE};
        for (int i = 0; i < 6; ++i)
            if (std::string(args[2 + i]) != "--") ConfigSetString(fields[i], sizes[i], args[2 + i]);
    } else if (nargs != 2) {
        return -3;
    }
    g_cfg.DHCPSRVR_ENABLED = 1;
    int rc = StartLocked();
    if (verbose && rc) console_printf("\r\nDHCP server running on port %d\r\n", g_port.load());
    TraceRefreshCaption();
    return rc ? 0 : -1;
}

int cmd_srvrsetup(int argc, char** argv) {
    bool verbose = false;
    for (int opt; (opt = script_getopt(argc, argv, "v")) != -1;) {
        if (opt != 'v') return -2;
        verbose = true;
    }
    int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs < 1) return -3;
    if (Is(args[0], "DHCP")) return nargs < 2 ? -3 : DhcpSetup(nargs, args, verbose);
    if (Is(args[0], "TFTP")) {
        OxelMessageBox("SRVRSETUP", "Use 'TFTP SRVRSETUP' for this.");
        return -1;
    }
    OxelMessageBox("SRVRSETUP", "No support for %s at this time.", args[0]);
    return -1;
}

}  // namespace

int DhcpsrvrLoadTable() {
    std::lock_guard l(g_mu);
    return LoadLocked();
}

int DhcpsrvrStart() {
    std::lock_guard l(g_mu);
    return StartLocked();
}

void DhcpsrvrStop() {
    std::lock_guard l(g_mu);
    StopLocked();
    g_cfg.DHCPSRVR_ENABLED = 0;
}

bool DhcpsrvrRunning() { return g_fd >= 0; }
uint16_t DhcpsrvrPort() { return g_port; }

int DhcpsrvrDialogApply(const DhcpDialogFields& f) {
    std::lock_guard l(g_mu);
    g_cfg.DHCP_CFGFILE_MODE = f.fileMode;
    CFG_SET_STRING(g_cfg.DHCP_CFG_FILE, f.cfgFile.c_str());
    CFG_SET_STRING(g_cfg.DHCP_CLIENT_MAC, f.mac.c_str());
    CFG_SET_STRING(g_cfg.DHCP_CLIENT_IP, f.clientIp.c_str());
    CFG_SET_STRING(g_cfg.DHCP_SRVR_IP, f.serverIp.c_str());
    CFG_SET_STRING(g_cfg.DHCP_NETMASK, f.netmask.c_str());
    CFG_SET_STRING(g_cfg.DHCP_GATEWAY, f.gateway.c_str());
    CFG_SET_STRING(g_cfg.DHCP_BOOTFILE, f.bootFile.c_str());
    if (f.enabled && f.fileMode && f.cfgFile.empty()) {
        OxelMessageBox("ERROR", "Must specify cfg file");
        return 0;
    }
    g_cfg.DHCPSRVR_ENABLED = f.enabled;
    int rc = 1;
    if (f.enabled)
        rc = StartLocked();
    else if (LoadLocked() < 0)
        rc = 0;
    TraceRefreshCaption();
    return rc;
}

int DhcpsrvrNewCfgFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out || !(out << kTemplate) || !(out.flush())) {
        ERROR_REPORT("NewDhcpCfgFile()");
        return 0;
    }
    out.close();
    CFG_SET_STRING(g_cfg.DHCP_CFG_FILE, path.c_str());
    StartEditor(path);
    return 1;
}

int DhcpsrvrEditCfgFile(const std::string& path) {
    if (path.empty()) {
        OxelMessageBox("DHCP CFG ERROR", "Must specify config file in edit box");
        return 0;
    }
    if (access(path.c_str(), F_OK) != 0) {
        OxelMessageBox("DHCP CFG ERROR", "File '%s' does not exist", path.c_str());
        return 0;
    }
    StartEditor(path);
    return 1;
}

void DhcpsrvrCmdsInit() { ScriptSetHandler("SRVRSETUP", cmd_srvrsetup); }
