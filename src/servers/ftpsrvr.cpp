#include "servers/ftpsrvr.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "config/configrecord.h"
#include "config/shellvar.h"
#include "log/srvrtrace.h"
#include "platform/net.h"
#include "platform/report.h"
#include "servers/ftp_proto.h"
#include "servers/tcpserver.h"
#include "servers/tftp_file.h"
#include "servers/tftpclient.h"
#include "util/utils.h"

#define OXEL_MODULE "ftpsrvr"

namespace {

constexpr int kIdleMs = 80000;        // a quiet control connection ends
constexpr int kDataWaitMs = 30000;    // for the client's data connection
constexpr size_t kPiece = 512;

void Serve(ConnSlot& slot);
TcpServer g_server("ftpsrvr", Serve);
std::mutex g_mu;                      // start, stop and the dialog

// The one client host allowed while sessions are open.
std::mutex g_hostMu;
int g_sessions = 0;
std::string g_host;

struct Session {
    int fd = -1;
    sockaddr_in peer{}, local{};
    int state = 1;                    // 1 not logged in, 2 user given, 3 logged in
    std::string user;
    char type = 'A';
    std::string root, cwd;
    bool relativeOnly = true;
    int pasvFd = -1;                  // passive listener, -1 in active mode
    sockaddr_in dataAddr{};           // active mode target
};

bool Stopping() { return g_server.stopping; }

void Send(Session& s, const std::string& text) {
    TracePrintf(TRC_FTP, "reply: %.*s", static_cast<int>(text.size() - 2), text.c_str());
    NetSendAll(s.fd, text.data(), text.size());
}

void Reply(Session& s, int code) {
    const char* text = FtpReplyText(code);
    if (!text) {
        TracePrintf(TRC_FTP, "reply: invalid request: %d", code);
        return;
    }
    Send(s, std::to_string(code) + " " + text + ".\r\n");
}

void Reply(Session& s, int code, const std::string& text) { Send(s, std::to_string(code) + " " + text + "\r\n"); }

void ClosePassive(Session& s) {
    if (s.pasvFd >= 0) close(s.pasvFd);
    s.pasvFd = -1;
}

void DefaultDataAddress(Session& s) {
    ClosePassive(s);
    s.dataAddr = s.peer;
    s.dataAddr.sin_port = htons(20);
}

// The data connection: the passive listener's first connection from the
// client's own address, or a connection to the PORT address. -1 on failure.
int OpenData(Session& s) {
    if (s.pasvFd < 0) {
        int fd = NetConnectTcp(s.dataAddr, kDataWaitMs, &g_server.stopping);
        if (fd < 0) TracePrintf(TRC_FTP, "FTPdtp connect failed");
        return fd;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDataWaitMs);
    while (!Stopping() && std::chrono::steady_clock::now() < deadline) {
        if (NetWaitReadable(s.pasvFd, 250) != 1) continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        int fd = accept4(s.pasvFd, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (from.sin_addr.s_addr != s.peer.sin_addr.s_addr) {
            TracePrintf(TRC_FTP, "data connection from another address closed");
            close(fd);
            continue;
        }
        ClosePassive(s);
        timeval tv{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        return fd;
    }
    TracePrintf(TRC_FTP, "FTPdtp accept failed");
    ClosePassive(s);
    return -1;
}

// Receives the data connection's bytes into fd (CRs dropped in ASCII).
// 226, 426 (connection lost), 452 (ceiling or full disk) or 451.
int ReceiveInto(Session& s, int data, int out, uint64_t& total) {
    uint64_t limit = kFtpDefaultMaxStore;
    if (auto v = shell_getenv("FTPSRVR_MAX_STORE"); v)
        if (auto n = ParseUnsigned(v->c_str())) limit = *n;
    char buf[kPiece * 8];
    for (;;) {
        int n = RecvUntil(data, buf, sizeof buf, NowMs() + kIdleMs);
        if (n == 0) return 226;
        if (n < 0 || Stopping()) return 426;
        size_t keep = static_cast<size_t>(n);
        if (s.type == 'A') keep = static_cast<size_t>(std::remove(buf, buf + n, '\r') - buf);
        total += keep;
        if (total > limit) return 452;
        if (!WriteAll(out, buf, keep)) return errno == ENOSPC || errno == EDQUOT ? 452 : 451;
    }
}

void Store(Session& s, const std::string& name, int data) {
    std::string target = name, tftpHost, tftpName;
    const bool forward = !s.relativeOnly && name.compare(0, 5, "TFTP:") == 0 && name.find(':', 5) != std::string::npos;
    if (forward) {
        tftpHost = name.substr(5, name.find(':', 5) - 5);
        tftpName = name.substr(name.find(':', 5) + 1);
        target = "/tmp/oxel-ftp-" + std::to_string(getpid()) + "-" + std::to_string(s.fd);
    }
    std::string tmp;
    int out = TftpTempCreate(target, tmp);
    if (out < 0) {
        Reply(s, 451, "open(" + target + ") failed: " + std::strerror(errno) + ".");
        return;
    }
    uint64_t total = 0;
    int code = ReceiveInto(s, data, out, total);
    if (code != 226) {
        TftpTempDiscard(out, tmp);
        Reply(s, code);
        return;
    }
    if (!TftpTempCommit(out, tmp, target)) {
        TracePrintf(TRC_FTP, "write failed");
        Reply(s, 451);
        return;
    }
    TracePrintf(TRC_FTP, "File %s rcvd, size %llu bytes", name.c_str(), static_cast<unsigned long long>(total));
    if (forward) {
        TracePrintf(TRC_FTP, "FTP/TFTP proxy. Sending %s to %s", tftpName.c_str(), tftpHost.c_str());
        int rc = tftpc(tftpHost.c_str(), "put", target.c_str(), tftpName.c_str(), "octet", 0);
        unlink(target.c_str());
        if (rc < 0) {
            Reply(s, 451);
            return;
        }
    }
    Reply(s, 226);
}

void Retrieve(Session& s, const std::string& path, int data) {
    int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        Reply(s, 451, "open(" + path + ") failed: " + std::strerror(errno) + ".");
        return;
    }
    char buf[kPiece * 8];
    ssize_t n;
    while ((n = read(in, buf, sizeof buf)) > 0)
        if (NetSendAll(data, buf, static_cast<size_t>(n)) < 0 || Stopping()) {
            TracePrintf(TRC_FTP, "FTPcmd RETR send failed");
            close(in);
            Reply(s, 426);
            return;
        }
    close(in);
    Reply(s, n < 0 ? 451 : 226);
}

void List(Session& s, const std::string& path, int data) {
    std::string text;
    struct stat st{};
    if (stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        text = path.substr(path.find_last_of('/') + 1) + "\r\n";
    } else if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) text += std::string(e->d_name) + "\r\n";
        closedir(d);
    }
    Reply(s, NetSendAll(data, text.data(), text.size()) < 0 ? 426 : 226);
}

enum class Transfer { Store, Retrieve, List };

void RunTransfer(Session& s, Transfer kind, const std::string& path, const std::string& name) {
    Reply(s, 150);
    int data = OpenData(s);
    if (data < 0) {
        Reply(s, 425);
        return;
    }
    if (kind == Transfer::Store) Store(s, name, data);
    if (kind == Transfer::Retrieve) Retrieve(s, path, data);
    if (kind == Transfer::List) List(s, path, data);
    shutdown(data, SHUT_RDWR);
    close(data);
}

std::optional<std::string> PathOf(Session& s, const std::string& name) {
    return FtpResolve(s.root, s.cwd, name, s.relativeOnly);
}

void Pass(Session& s, const std::string& arg) {
    const std::string password = CFG_GET_STRING(g_cfg.FTP_PASSWORD);
    bool ok = s.state == 2 && (s.user == "anonymous" || password.empty() || arg == password);
    if (s.state == 2 && !ok) std::this_thread::sleep_for(std::chrono::seconds(3));
    s.state = ok ? 3 : 1;
    Reply(s, ok ? 230 : 530);
}

void Cwd(Session& s, const std::string& arg) {
    auto path = PathOf(s, arg);
    struct stat st{};
    if (!path || stat(path->c_str(), &st) != 0) {
        Reply(s, 550, arg + ": no such file or directory");
    } else if (!S_ISDIR(st.st_mode)) {
        Reply(s, 550, arg + ": not a directory");
    } else {
        s.cwd = *path;
        Reply(s, 250);
    }
}

void Passive(Session& s) {
    ClosePassive(s);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = s.local;
    sa.sin_port = 0;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 1) != 0) {
        if (fd >= 0) close(fd);
        Reply(s, 425);
        return;
    }
    s.pasvFd = fd;
    const uint16_t port = NetLocalPort(fd);
    const auto* b = reinterpret_cast<const uint8_t*>(&s.local.sin_addr.s_addr);
    char text[96];
    std::snprintf(text, sizeof text, "Entering passive mode (%u,%u,%u,%u,%u,%u).", b[0], b[1], b[2], b[3], port >> 8,
                  port & 0xFF);
    Reply(s, 227, text);
}

// Only the client's own address and an unprivileged port: anything else
// would let a client aim this machine at a third host.
void Port(Session& s, const std::string& arg) {
    auto hp = FtpParsePort(arg);
    if (!hp) {
        Reply(s, 501);
        return;
    }
    if (hp->addr != s.peer.sin_addr.s_addr || hp->port < 1024) {
        Reply(s, 504, "PORT must name your own address and a port above 1023.");
        return;
    }
    ClosePassive(s);
    s.dataAddr = NetAddress(in_addr{hp->addr}, hp->port);
    Reply(s, 200);
}

void TypeModeStru(Session& s, const FtpCommand& c) {
    std::string a = c.arg;
    for (char& ch : a) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    int code = 501;
    if (c.verb == "TYPE") {
        if (a == "A" || a == "A N") s.type = 'A', code = 200;
        else if (a == "I") s.type = 'I', code = 200;
        else if (a == "A C" || a == "A T" || a[0] == 'E' || a[0] == 'L') code = 504;
    } else if (c.verb == "MODE") {
        code = a == "S" ? 200 : (a == "B" || a == "C") ? 504 : 501;
    } else {
        code = a == "F" ? 200 : (a == "P" || a == "R") ? 504 : 501;
    }
    Reply(s, code);
}

// One command; false ends the session.
bool Command(Session& s, const FtpCommand& c) {
    if (c.verb == "USER") {
        s.user = c.arg;
        s.state = 2;
        Reply(s, 331);
        return true;
    }
    if (c.verb == "PASS") {
        Pass(s, c.arg);
        return true;
    }
    if (c.verb == "QUIT") {
        Reply(s, 221);
        return false;
    }
    if (s.state != 3) {
        Reply(s, 530);
        return true;
    }
    if (c.verb == "PWD" || c.verb == "XPWD") {
        Reply(s, 257, "\"" + FtpShownDir(s.root, s.cwd) + "\" is current directory.");
    } else if (c.verb == "CWD") {
        Cwd(s, c.arg);
    } else if (c.verb == "CDUP") {
        Cwd(s, "..");
    } else if (c.verb == "SYST") {
        Reply(s, 215);
    } else if (c.verb == "DELE") {
        auto path = PathOf(s, c.arg);
        Reply(s, path && unlink(path->c_str()) == 0 ? 250 : 550);
    } else if (c.verb == "PASV") {
        Passive(s);
    } else if (c.verb == "PORT") {
        Port(s, c.arg);
    } else if (c.verb == "REIN") {
        DefaultDataAddress(s);
        s.state = 1;
        Reply(s, 200);
    } else if (c.verb == "TYPE" || c.verb == "MODE" || c.verb == "STRU") {
        TypeModeStru(s, c);
    } else if (c.verb == "NOOP") {
        Reply(s, 200);
    } else if (c.verb == "LIST" || c.verb == "NLST") {
        // Options such as "-l" or "-a" from some clients name no path.
        const std::string arg = !c.arg.empty() && c.arg[0] == '-' ? "" : c.arg;
        auto path = PathOf(s, arg);
        struct stat st{};
        if (!path || stat(path->c_str(), &st) != 0) Reply(s, 550);
        else RunTransfer(s, Transfer::List, *path, arg);
    } else if (c.verb == "RETR") {
        auto path = PathOf(s, c.arg);
        struct stat st{};
        if (path) TracePrintf(TRC_FTP, "(%s)", path->c_str());
        if (!path || stat(path->c_str(), &st) != 0) Reply(s, 550);
        else if (S_ISDIR(st.st_mode)) Reply(s, 550, c.arg + ": is a directory");
        else RunTransfer(s, Transfer::Retrieve, *path, c.arg);
    } else if (c.verb == "STOR") {
        const bool forward = !s.relativeOnly && c.arg.compare(0, 5, "TFTP:") == 0;
        auto path = forward ? std::optional<std::string>(c.arg) : PathOf(s, c.arg);
        if (!path || c.arg.empty()) Reply(s, 550);
        else RunTransfer(s, Transfer::Store, *path, forward ? c.arg : *path);
    } else {
        Reply(s, 502);
    }
    return true;
}

// The next line, or nullopt when the client left, went quiet or the server stops.
std::optional<std::string> ReadLine(Session& s, std::string& pending) {
    const int64_t deadline = NowMs() + kIdleMs;
    for (;;) {
        size_t lf = pending.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending.substr(0, lf);
            pending.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > kFtpMaxLine) line.resize(kFtpMaxLine);
            return line;
        }
        if (pending.size() > 4 * kFtpMaxLine) pending.erase(kFtpMaxLine);   // an endless line is cut
        char buf[512];
        int n = RecvUntil(s.fd, buf, sizeof buf, deadline);
        if (n == -2) TracePrintf(TRC_FTP, "idle-connection timeout");
        if (n <= 0 || Stopping()) return std::nullopt;
        pending.append(buf, static_cast<size_t>(n));
    }
}

// The one-client-host rule: false when another host holds the server.
bool Admit(const std::string& host) {
    std::lock_guard l(g_hostMu);
    if (g_sessions > 0 && host != g_host) return false;
    g_host = host;
    ++g_sessions;
    return true;
}

void Leave() {
    std::lock_guard l(g_hostMu);
    --g_sessions;
}

void Serve(ConnSlot& slot) {
    Session s;
    s.fd = slot.fd;
    socklen_t len = sizeof s.peer;
    getpeername(s.fd, reinterpret_cast<sockaddr*>(&s.peer), &len);
    len = sizeof s.local;
    getsockname(s.fd, reinterpret_cast<sockaddr*>(&s.local), &len);
    if (!Admit(slot.peer)) {
        Reply(s, 421);
        return;
    }
    TracePrintf(TRC_FTP, "session started.");
    s.root = s.cwd = CFG_GET_STRING(g_cfg.FTP_START_DIR);
    if (s.root.empty()) s.root = s.cwd = "/";
    s.relativeOnly = g_cfg.FTP_RELATIVE_ONLY != 0;
    DefaultDataAddress(s);
    Reply(s, 220);
    std::string pending;
    while (auto line = ReadLine(s, pending)) {
        FtpCommand c = FtpParseCommand(*line);
        TracePrintf(TRC_FTP, "cmd: %s", c.verb == "PASS" ? "PASS ****" : line->c_str());
        if (!Command(s, c)) break;
    }
    ClosePassive(s);
    Leave();
    TracePrintf(TRC_FTP, "session terminated.");
}

uint16_t ConfiguredPort() {
    if (auto v = shell_getenv("FTPSRVR_PORT"); v && !v->empty()) {
        auto p = ParseUnsigned(v->c_str());
        if (p && *p <= 65535) return static_cast<uint16_t>(*p);   // 0 picks a free port
        TracePrintf(TRC_FTP, "FTPSRVR_PORT '%s' is not a port; using 21", v->c_str());
    }
    return 21;
}

int StartLocked() {
    if (!g_cfg.FTPSRVR_ENABLED) return 0;
    if (TcpServerRunning(g_server)) return 1;
    const uint16_t port = ConfiguredPort();
    if (!TcpServerStart(g_server, port)) {
        OxelMessageBox("FTP SERVER", port < 1024 ? "FTPsrvr bind failed: port %d needs privileges: run with "
                                                   "CAP_NET_BIND_SERVICE, or set FTPSRVR_PORT above 1023"
                                                 : "FTPsrvr bind failed: port %d",
                       port);
        g_cfg.FTPSRVR_ENABLED = 0;
        TraceRefreshCaption();
        return 0;
    }
    TraceSetServerRunning("Ftp", true);
    return 1;
}

}  // namespace

int FtpsrvrStart() {
    std::lock_guard l(g_mu);
    return StartLocked();
}

void FtpsrvrStop() {
    std::lock_guard l(g_mu);
    if (!TcpServerRunning(g_server)) return;
    TcpServerStop(g_server);
    TraceSetServerRunning("Ftp", false);
}

bool FtpsrvrRunning() { return TcpServerRunning(g_server); }
uint16_t FtpsrvrPort() { return g_server.port; }

void FtpsrvrDialogApply(bool enabled, bool relativeOnly, const std::string& password, const std::string& startDir) {
    std::lock_guard l(g_mu);
    CFG_SET_STRING(g_cfg.FTP_PASSWORD, password.c_str());
    CFG_SET_STRING(g_cfg.FTP_START_DIR, startDir.c_str());
    g_cfg.FTP_RELATIVE_ONLY = relativeOnly;
    struct stat st{};
    if (stat(startDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        OxelMessageBox("FTP SERVER", "Directory doesn't exist");
    if (!TcpServerRunning(g_server)) {
        g_cfg.FTPSRVR_ENABLED = enabled;
        StartLocked();
    }
    TraceRefreshCaption();
}
