#include "servers/tftpclient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "util/commands.h"
#include "platform/report.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "log/srvrtrace.h"
#include "platform/net.h"
#include "platform/ui.h"
#include "config/shellvar.h"
#include "servers/tftp_file.h"
#include "servers/tftp_proto.h"
#include "servers/tftpsrvr.h"
#include "util/worker.h"

#define OXEL_MODULE "tftpclient"

namespace {

constexpr size_t kBlock = 512;
constexpr size_t kMaxSend = 1023;
constexpr size_t kRecvMax = 1024;
constexpr int kStatusEvery = 8;

std::atomic<bool> g_cancel{false};
std::atomic<bool> g_trace{false}, g_tsize{false};
std::atomic<bool> g_busy{false};
std::atomic<long> g_pkts{0};
std::atomic<int64_t> g_bytes{0}, g_size{-1};

// One transfer's state, owned by the thread running tftpc.
struct Transfer {
    bool put = false;
    int fd = -1;                 // the local file (a get writes a temporary one)
    std::string tmp;             // a get's temporary file
    int sock = -1;
    sockaddr_in server{};        // where the request went
    sockaddr_in peer{};          // the server's transfer port, once it answered
    bool peerKnown = false;
    std::vector<uint8_t> last;   // the last packet sent, for resending
    sockaddr_in lastTo{};
    uint16_t block = 0;          // last block received (get) or sent (put)
    bool lastBlockSent = false;
    int timeouts = 0;
    bool done = false, failed = false;
};

int Fail(Transfer& t) {
    t.failed = true;
    return -1;
}

int SendPacket(Transfer& t, std::vector<uint8_t> pkt, const sockaddr_in& to) {
    if (pkt.size() > kMaxSend) {
        OxelMessageBox("TFTP Client Error", "sendto too big\n");
        return Fail(t);
    }
    t.last = std::move(pkt);
    t.lastTo = to;
    if (sendto(t.sock, t.last.data(), t.last.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
        ERROR_REPORT("TFTPC SendTo() failed");
        return Fail(t);
    }
    return 0;
}

void CountPacket() {
    if (++g_pkts % kStatusEvery == 0) ui().StatusRefresh();
}

// Reads the next piece of a put and sends it as block + 1.
void SendNextData(Transfer& t) {
    std::vector<uint8_t> pkt(4 + kBlock);
    size_t got = 0;
    while (got < kBlock) {
        ssize_t n = read(t.fd, pkt.data() + 4 + got, kBlock - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ERROR_REPORT("read failed");
            Fail(t);
            return;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    pkt.resize(4 + got);
    t.block = static_cast<uint16_t>(t.block + 1);
    TftpPutHeader(pkt.data(), TFTP_DAT, t.block);
    t.lastBlockSent = got < kBlock;
    g_bytes += static_cast<int64_t>(got);
    SendPacket(t, std::move(pkt), t.peer);
}

void OnData(Transfer& t, const uint8_t* p, size_t n) {
    uint16_t block = TftpNumberOf(p, n).value_or(0);
    size_t len = n - 4;
    bool next = block == static_cast<uint16_t>(t.block + 1);
    if (next && len && !WriteAll(t.fd, p + 4, len)) {
        ERROR_REPORT("write failed");
        Fail(t);
        return;
    }
    if (SendPacket(t, TftpBuildAck(block), t.peer) < 0 || !next) return;
    g_bytes += static_cast<int64_t>(len);
    t.block = block;
    t.done = len < kBlock;
}

void OnAck(Transfer& t, uint16_t acked) {
    // Only the ACK of the block just sent moves a put on. A repeated ACK is
    // left to the timeout: answering it would send every later block twice.
    if (acked != t.block) return;
    if (t.lastBlockSent) {
        t.done = true;
        return;
    }
    SendNextData(t);
}

void OnServerError(Transfer& t, const uint8_t* p, size_t n) {
    uint16_t code = 0;
    std::string text;
    TftpParseError(p, n, code, text);
    if (text.empty()) OxelMessageBox("Error Message from Server", "ERRNO %d\n", code);
    else OxelMessageBox("Error Message from Server", "ERRNO %d: %s\n", code, text.c_str());
    shell_sprintf("TFTPC_ERRNO", "%d", code);
    shell_setenv("TFTPC_ERRMSG", text.c_str());
    Fail(t);
}

// A datagram from the server. The first answer from the server's address
// fixes its transfer port; anything from another address or port is a
// stranger (RFC 1350 "unknown transfer ID") and is turned away.
void OnDatagram(Transfer& t, const uint8_t* p, size_t n, const sockaddr_in& from) {
    if (!t.peerKnown && from.sin_addr.s_addr == t.server.sin_addr.s_addr) {
        t.peer = from;
        t.peerKnown = true;
    }
    if (!t.peerKnown || from.sin_addr.s_addr != t.peer.sin_addr.s_addr || from.sin_port != t.peer.sin_port) {
        auto err = TftpBuildError(5, "Unknown transfer ID");
        sendto(t.sock, err.data(), err.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        return;
    }
    uint16_t op = TftpOpcodeOf(p, n);
    if (g_trace) TracePrintf(TRC_TFTP, "recv TFTP_%s (%d)", op <= TFTP_ERR ? TftpOpcodeName(op) : "???",
                             static_cast<int>(n));
    CountPacket();
    if (op == TFTP_ERR) {
        OnServerError(t, p, n);
    } else if (n < 4 && op != TFTP_OACK) {
        return;
    } else if (op == TFTP_DAT && !t.put) {
        OnData(t, p, n);
    } else if (op == TFTP_ACK && t.put) {
        OnAck(t, TftpNumberOf(p, n).value_or(0));
    } else if (op == TFTP_OACK && t.put) {
        OnAck(t, 0);
    } else {
        ERROR_REPORT("Unexpected opcode");
        Fail(t);
    }
}

void OnTimeout(Transfer& t, int retries) {
    if (++t.timeouts >= retries) {
        OxelMessageBox("TFTP Client Error", "Retries exhausted, giving up!\n");
        Fail(t);
        return;
    }
    uint16_t op = TftpOpcodeOf(t.last.data(), t.last.size());
    TracePrintf(TRC_TFTP, "Re-sending TFTP_%s (%d)", TftpOpcodeName(op), t.timeouts);
    if (sendto(t.sock, t.last.data(), t.last.size(), 0, reinterpret_cast<const sockaddr*>(&t.lastTo),
               sizeof t.lastTo) < 0) {
        ERROR_REPORT("TFTPC SendTo() failed");
        Fail(t);
    }
}

void Loop(Transfer& t, int retries) {
    std::vector<uint8_t> buf(kRecvMax);
    while (!t.done && !t.failed) {
        if (g_cancel) {
            TracePrintf(TRC_TFTP, "Transaction cancelled");
            Fail(t);
            return;
        }
        int waitMs = t.put && t.lastBlockSent ? 5000 : 2000;
        int r = NetWaitReadable(t.sock, waitMs);
        if (r < 0) {
            ERROR_REPORT("TFTPC select");
            Fail(t);
            return;
        }
        if (r == 0) {
            OnTimeout(t, retries);
            continue;
        }
        sockaddr_in from{};
        socklen_t flen = sizeof from;
        ssize_t n = recvfrom(t.sock, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &flen);
        if (n < 0) {
            // A refused earlier datagram shows up here; that is the server going away.
            ERROR_REPORT("recvfrom: SOCKET_ERROR");
            Fail(t);
            return;
        }
        t.timeouts = 0;
        OnDatagram(t, buf.data(), static_cast<size_t>(n), from);
    }
}

bool SplitServer(const char* server, std::string& host, uint16_t& port) {
    host = server;
    port = 69;
    size_t colon = host.rfind(':');
    if (colon == std::string::npos) return true;
    auto p = ParseUnsigned(host.c_str() + colon + 1);
    if (!p || *p == 0 || *p > 65535) return false;
    port = static_cast<uint16_t>(*p);
    host.resize(colon);
    return true;
}

// Step 2: the local file.
int OpenLocal(Transfer& t, const char* src, const char* dst) {
    if (t.put) {
        t.fd = open(src, O_RDONLY | O_CLOEXEC);
        struct stat st{};
        if (t.fd < 0 || fstat(t.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            OxelMessageBox("TFTP Client Error", "%s: open failed", src);
            return -1;
        }
        if (st.st_size == 0) {
            OxelMessageBox("TFTP Client Error", "%s: file is empty (size=0)", src);
            return -1;
        }
        g_size = st.st_size;
        return 0;
    }
    t.fd = TftpTempCreate(dst, t.tmp);
    if (t.fd < 0) {
        OxelMessageBox("TFTP Client Error", "%s: open failed", dst);
        return -1;
    }
    return 0;
}

void CloseAll(Transfer& t, const char* dst) {
    NetClose(t.sock);
    if (t.put) {
        if (t.fd >= 0) close(t.fd);
        t.fd = -1;
    } else if (!t.failed && t.done) {
        if (!TftpTempCommit(t.fd, t.tmp, dst)) {
            OxelMessageBox("TFTP Client Error", "%s: open failed", dst);
            t.failed = true;
        }
    } else {
        TftpTempDiscard(t.fd, t.tmp);
    }
}

int RunTransfer(Transfer& t, const std::string& host, uint16_t port, const char* src, const char* dst,
                const char* mode, int retries) {
    in_addr addr{};
    if (!NetResolveIPv4(host.c_str(), &addr)) {
        ERROR_REPORT("gethostbyname() failed");
        return -1;
    }
    t.sock = NetUdpSocket(0, false);
    if (t.sock < 0) {
        ERROR_REPORT("socket failed");
        return -1;
    }
    t.server = NetAddress(addr, port);
    std::vector<TftpOption> options;
    if (t.put && g_tsize) options.push_back({"tsize", std::to_string(g_size.load())});
    auto rq = TftpBuildRequest(t.put ? TFTP_WRQ : TFTP_RRQ, t.put ? dst : src, mode, options);
    if (SendPacket(t, std::move(rq), t.server) < 0) return -1;
    g_busy = true;
    Loop(t, retries);
    return t.failed ? -1 : 0;
}

std::mutex g_workerMu;
WorkerThread g_worker;

void OpenDialog() { ui().ShowDialog("TFTP Client..."); }

}  // namespace

int tftpc(const char* server, const char* op, const char* src, const char* dst, const char* mode, int retries) {
    shell_unsetenv("TFTPC_ERRNO");
    shell_unsetenv("TFTPC_ERRMSG");
    std::string host;
    uint16_t port = 69;
    g_cancel = false;
    TracePrintf(TRC_TFTP, "tftpc(%s %s %s %s %s %d)", server, op, src, dst, mode, retries);
    std::string lower = op;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower != "get" && lower != "put") {
        OxelMessageBox("TFTP Client Error", "%s invalid, specify 'get' or 'put'", op);
        return -1;
    }
    if (!SplitServer(server, host, port)) {
        ERROR_REPORT("gethostbyname() failed");
        return -1;
    }
    Transfer t;
    t.put = lower == "put";
    g_pkts = 0;
    g_bytes = 0;
    g_size = -1;
    int rc = OpenLocal(t, src, dst);
    if (rc == 0) rc = RunTransfer(t, host, port, src, dst, mode, retries > 0 ? retries : 5);
    if (rc < 0) t.failed = true;
    CloseAll(t, dst);
    g_busy = false;
    ui().StatusRefresh();
    return t.failed ? -1 : 0;
}

void TftpClientSetTrace(bool on) { g_trace = on; }
void TftpClientSetTsize(bool on) { g_tsize = on; }
void TftpClientCancel() { g_cancel = true; }

TftpClientProgress TftpClientProgressNow() {
    return {g_busy.load(), g_pkts.load(), g_bytes.load(), g_size.load()};
}

long TftpStatusPkts() {
    if (g_busy) return g_pkts;
    return TftpSrvrPkts();
}

int TftpRunFof(const char* listFile, const char* mode) {
    FILE* f = std::fopen(listFile, "r");
    if (!f) {
        OxelMessageBox("FOF Error", "fopen(%s) failed", listFile);
        return -1;
    }
    char line[2050];
    int lineNo = 0, rc = 0;
    std::string server = g_cfg.TFTPC_SRVR;
    while (rc == 0 && std::fgets(line, sizeof line, f)) {
        ++lineNo;
        size_t len = std::strlen(line);
        if (len && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = 0;
        if (len && line[len - 1] == '\r') line[--len] = 0;
        if (line[0] == '#' || len == 0) continue;
        std::string text = line;
        size_t a = text.find(' ');
        size_t b = a == std::string::npos ? a : text.find(' ', a + 1);
        if (b == std::string::npos || b + 1 >= text.size()) {
            OxelMessageBox("FOF Error", "line %d: %s\r\n%s", lineNo, "Bad token count", line);
            rc = -1;
            break;
        }
        std::string cmd = text.substr(0, a), src = text.substr(a + 1, b - a - 1), dst = text.substr(b + 1);
        if (cmd != "SEND" && cmd != "RECV") {
            OxelMessageBox("FOF Error", "line %d: %s\r\n%s", lineNo, "Bad command", line);
            rc = -1;
            break;
        }
        bool send = cmd == "SEND";
        TracePrintf(TRC_TFTP, send ? "FOF_SEND %s %s" : "FOF_RECV %s %s", src.c_str(), dst.c_str());
        rc = tftpc(server.c_str(), send ? "put" : "get", src.c_str(), dst.c_str(), mode, 5);
    }
    std::fclose(f);
    return rc;
}

int TftpClient(bool send, bool ascii, bool fof) {
    std::string server = g_cfg.TFTPC_SRVR, src = g_cfg.TFTPC_SRCFILE, dst = g_cfg.TFTPC_DSTFILE;
    const char* mode = ascii ? "ascii" : "octet";
    bool started;
    {
        std::lock_guard l(g_workerMu);
        if (g_worker.Running()) return 0;
        // The transfer watches the cancel flag; the worker's own flag is not needed.
        started = g_worker.Start([=](const std::atomic<bool>&) {
            if (fof) TftpRunFof(src.c_str(), mode);
            else tftpc(server.c_str(), send ? "put" : "get", src.c_str(), dst.c_str(), mode, 5);
        });
    }
    if (!started) ERROR_REPORT("TftpClient: CreatThread()");
    return started ? 1 : 0;
}

bool TftpClientWorkerRunning() { return g_worker.Running(); }

void TftpClientWorkerStop() {
    TftpClientCancel();
    std::lock_guard l(g_workerMu);
    // A transfer notices the cancel within one wait (at most five seconds).
    g_worker.Stop(6000);
}

void TftpClientInit() {
    static std::once_flag once;
    std::call_once(once, [] { CommandRegister({418, "&Transfer", "&TFTP...", OpenDialog}); });
}
