#include "servers/tftpsrvr.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "util/commands.h"
#include "platform/report.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/ui.h"
#include "util/worker.h"
#include "config/shellvar.h"
#include "servers/tab_tftp.h"
#include "servers/tftp_file.h"
#include "servers/tftp_proto.h"

#define OXEL_MODULE "tftpsrvr"

namespace {

enum SlotState { kTransferring = 1, kIdle = 2, kLastSent = 3 };
constexpr int kMaxTimeouts = 5;
// A repeated ACK makes the server resend its last DATA only when that DATA
// has been out this long: an ACK the client repeated because its own timer
// ran out. A duplicate that arrives sooner is a copy from the network, and
// answering it would send every following block twice (RFC 1123 4.2.3.1).
constexpr uint64_t kDupAckResendMs = 1000;
constexpr int kStatusEvery = 8;

struct Slot {
    int index = 0;
    int timeouts = 0;
    int state = kIdle;
    int blksize = kTftpDefaultBlksize;
    int timeout = 2;
    int readFd = -1;
    int writeFd = -1;
    int64_t total = 0;
    size_t lastLen = 0;
    bool lastWasData = false;
    uint16_t block = 0;
    int64_t fullBlock = 0;       // block counted past 65535
    bool wrqDone = false;        // the last write ended; its final DATA may come again
    sockaddr_in peer{};
    int64_t fileSize = 0;
    std::string path;
    std::string tmpPath;         // a write's temporary file
    std::string mode;
    uint64_t sentAtMs = 0;
    std::vector<uint8_t> send;   // header + one block
    std::vector<uint8_t> ahead;  // a read's file bytes not sent yet
    size_t aheadPos = 0;
};

// Reads run ahead in pieces this large, so a small block costs no system call.
constexpr size_t kReadAhead = 64 * 1024;

struct Settings {
    std::string dir;
    bool relativeOnly = false;
};

std::mutex g_lifeMu;             // start and stop, g_worker
std::mutex g_setMu;              // g_settings, read by the server thread per request
Settings g_settings;
WorkerThread g_worker;
std::atomic<bool> g_running{false};
std::atomic<int> g_fd{-1};
std::atomic<uint16_t> g_port{0};
std::atomic<int> g_rcvd{0}, g_sent{0};
std::atomic<long> g_pkts{0};
std::atomic<int> g_busySlots{0};

// ---- owned by the server thread ----
std::array<Slot, kTftpSlots> g_slots;
const std::atomic<bool>* g_stopping = nullptr;  // the thread's stop flag

bool Stopping() { return g_stopping && *g_stopping; }

Settings CurrentSettings() {
    std::lock_guard l(g_setMu);
    return g_settings;
}

std::string PeerText(const sockaddr_in& a) {
    char buf[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return buf;
}

bool SamePeer(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

void CountBusy() {
    int n = 0;
    for (const Slot& s : g_slots) n += s.state != kIdle;
    g_busySlots = n;
}

void RefreshStatus() { ui().StatusRefresh(); }

void CountPacket() {
    if (++g_pkts % kStatusEvery == 0) RefreshStatus();
}

void SendTo(int fd, const sockaddr_in& to, const void* data, size_t len, int which) {
    if (sendto(fd, data, len, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0 && !Stopping())
        ERROR_REPORT("TFTP SERVER sendto%d()", which);
}

void SendError(int fd, const sockaddr_in& to, uint16_t code, const char* text) {
    auto pkt = TftpBuildError(code, text);
    SendTo(fd, to, pkt.data(), pkt.size(), 2);
}

// Sends the slot's packet (its first lastLen bytes) and remembers when.
void SendSlot(int fd, Slot& s, bool data, int which) {
    s.lastWasData = data;
    s.sentAtMs = ClockTickMs();
    SendTo(fd, s.peer, s.send.data(), s.lastLen, which);
    CountPacket();
}

void MakeIdle(Slot& s) {
    if (s.readFd >= 0) close(s.readFd);
    s.readFd = -1;
    TftpTempDiscard(s.writeFd, s.tmpPath);
    bool wasBusy = s.state != kIdle;
    s.state = kIdle;
    CountBusy();
    if (wasBusy && g_busySlots == 0) RefreshStatus();
}

void ResetSlot(Slot& s, const sockaddr_in& peer) {
    MakeIdle(s);
    int index = s.index;
    s = Slot{};
    s.index = index;
    s.peer = peer;
}

Slot* NewSlot() {
    for (Slot& s : g_slots)
        if (s.state == kIdle) return &s;
    return nullptr;
}

// The slot of a packet's sender: a running transfer first, else the idle
// slot that last served that peer.
Slot* ThisSlot(const sockaddr_in& from) {
    Slot* idle = nullptr;
    for (Slot& s : g_slots) {
        if (!SamePeer(s.peer, from)) continue;
        if (s.state != kIdle) return &s;
        if (!idle) idle = &s;
    }
    return idle;
}

// A name joined below the directory must stay there once links are
// resolved: the real path of `existing` (the file, or for a write its
// directory) has to lie inside the directory's real path.
bool InsideTop(const std::string& top, const std::string& existing) {
    char realTop[PATH_MAX], realPath[PATH_MAX];
    if (!realpath(top.c_str(), realTop) || !realpath(existing.c_str(), realPath)) return false;
    size_t n = std::strlen(realTop);
    if (n == 1) return true;  // the directory is "/"
    return std::strncmp(realPath, realTop, n) == 0 && (realPath[n] == '/' || realPath[n] == 0);
}

std::string DirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The local path of a request, or nullopt (and the reason in the pane and
// an ERROR to the peer) when it may not be served.
std::optional<std::string> RequestPath(int fd, Slot& s, const TftpRequest& rq, const char* what) {
    Settings set = CurrentSettings();
    auto path = TftpLocalPath(set.dir, rq.file, set.relativeOnly);
    bool joined = path && (set.relativeOnly || rq.file[0] != '/');
    bool inside = path && (!joined || InsideTop(set.dir, rq.opcode == TFTP_RRQ ? *path : DirOf(*path)));
    if (path && inside) return path;
    bool refused = !path || access(rq.opcode == TFTP_RRQ ? path->c_str() : DirOf(*path).c_str(), F_OK) == 0;
    TftpPaneLine("[%02d] %s rqst from <%s>: '%s' refused, outside the directory or unusable",
                 s.index, what, PeerText(s.peer).c_str(), rq.file.c_str());
    if (refused) SendError(fd, s.peer, 2, "Access violation");
    else SendError(fd, s.peer, 1, "File not found");
    return std::nullopt;
}

// Refills the read-ahead when it holds less than a block; false on a read error.
bool FillAhead(Slot& s, size_t want) {
    if (s.ahead.size() - s.aheadPos >= want) return true;
    s.ahead.erase(s.ahead.begin(), s.ahead.begin() + static_cast<ptrdiff_t>(s.aheadPos));
    s.aheadPos = 0;
    size_t have = s.ahead.size();
    s.ahead.resize(std::max(kReadAhead, want));
    while (have < want) {
        ssize_t n = read(s.readFd, s.ahead.data() + have, s.ahead.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        have += static_cast<size_t>(n);
    }
    s.ahead.resize(have);
    return true;
}

bool ReadBlock(Slot& s, size_t& got) {
    size_t want = static_cast<size_t>(s.blksize);
    if (!FillAhead(s, want)) return false;
    got = std::min(want, s.ahead.size() - s.aheadPos);
    std::memcpy(s.send.data() + 4, s.ahead.data() + s.aheadPos, got);
    s.aheadPos += got;
    return true;
}

// Reads and sends the next DATA block of a read request.
void SendNextBlock(int fd, Slot& s) {
    s.block = static_cast<uint16_t>(s.block + 1);
    s.fullBlock++;
    s.send.resize(4 + static_cast<size_t>(s.blksize));
    size_t got = 0;
    if (!ReadBlock(s, got)) {
        TftpPaneLine("[%02d] RRQ %s read failed", s.index, s.path.c_str());
        SendError(fd, s.peer, 0, "File read failed");
        MakeIdle(s);
        return;
    }
    TftpPutHeader(s.send.data(), TFTP_DAT, s.block);
    s.lastLen = 4 + got;
    if (got < static_cast<size_t>(s.blksize)) {
        close(s.readFd);
        s.readFd = -1;
        std::vector<uint8_t>().swap(s.ahead);
        s.state = kLastSent;  // until the final ACK, so a lost last block is resent
    }
    SendSlot(fd, s, true, 1);
}

void StartSending(int fd, Slot& s) {
    int count = ++g_sent;
    TftpPaneLine("[%02d] RRQ (%d) from <%s> sending: %s (%s)", s.index, count, PeerText(s.peer).c_str(),
                 s.path.c_str(), s.mode.c_str());
    s.state = kTransferring;
    CountBusy();
    SendNextBlock(fd, s);
}

bool NameIs(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

void OnRrq(int fd, Slot& s, const TftpRequest& rq) {
    s.mode = rq.mode;
    auto path = RequestPath(fd, s, rq, "RRQ");
    if (!path) return;
    s.path = *path;
    struct stat st{};
    s.readFd = open(s.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (s.readFd < 0 || fstat(s.readFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        MakeIdle(s);
        TftpPaneLine("[%02d] RRQ rqst from <%s>: %s (%s) failed, file not found", s.index,
                     PeerText(s.peer).c_str(), s.path.c_str(), s.mode.c_str());
        SendError(fd, s.peer, 1, "File not found");
        return;
    }
    s.fileSize = st.st_size;
    std::vector<TftpOption> acked;
    bool haveTsize = false, haveBlksize = false;
    for (const TftpOption& o : rq.options) {
        if (NameIs(o.name, "tsize") && !haveTsize) {
            haveTsize = true;
            long asked = static_cast<long>(TftpOptionNumber(o.value, LONG_MAX).value_or(0));
            TftpPaneLine("[%02d] %s %s option: tsize=%ld, returning size=%lld", s.index, "RRQ", s.path.c_str(),
                         asked, static_cast<long long>(s.fileSize));
            acked.push_back({o.name, std::to_string(s.fileSize)});
        } else if (NameIs(o.name, "blksize") && !haveBlksize) {
            auto size = TftpClampBlksize(o.value, kTftpMaxBlksize);
            if (!size) continue;  // below the RFC range: plain 512-byte blocks
            haveBlksize = true;
            s.blksize = *size;
            TftpPaneLine("[%02d] %s %s option: blksize=%s, returning size=%d", s.index, "RRQ", s.path.c_str(),
                         o.value.substr(0, 24).c_str(), s.blksize);
            acked.push_back({o.name, std::to_string(s.blksize)});
        } else if (NameIs(o.name, "timeout")) {
            auto t = TftpOptionNumber(o.value, 255);
            if (!t || *t == 0) continue;
            s.timeout = static_cast<int>(*t);
            TftpPaneLine("[%02d] Setting TFTP timeout to %d", s.index, s.timeout);
        }
    }
    if (acked.empty()) {
        StartSending(fd, s);
        return;
    }
    s.send = TftpBuildOack(acked);
    s.lastLen = s.send.size();
    s.state = kTransferring;
    CountBusy();
    ++g_sent;
    SendSlot(fd, s, false, 3);
}

void OnWrq(int fd, Slot& s, const TftpRequest& rq) {
    s.mode = rq.mode;
    auto path = RequestPath(fd, s, rq, "WRQ");
    if (!path) return;
    s.path = *path;
    if (rq.mode != "octet") {
        TftpPaneLine("[%02d] WRQ %s: %s mode not supported", s.index, s.path.c_str(), rq.mode.c_str());
        SendError(fd, s.peer, 2, "Octet mode not supported");
        return;
    }
    int count = ++g_rcvd;
    TftpPaneLine("[%02d] WRQ (%d) from <%s> receiving: '%s'", s.index, count, PeerText(s.peer).c_str(),
                 s.path.c_str());
    struct stat st{};
    bool dirInTheWay = lstat(s.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    s.writeFd = dirInTheWay ? -1 : TftpTempCreate(s.path, s.tmpPath);
    if (s.writeFd < 0) {
        TftpPaneLine("[%02d] WRQ %s: open failed", s.index, s.path.c_str());
        SendError(fd, s.peer, 2, "File access failed");
        return;
    }
    s.state = kTransferring;
    CountBusy();
    s.send = TftpBuildAck(0);
    s.lastLen = s.send.size();
    SendSlot(fd, s, false, 4);
}

void OnAck(int fd, Slot& s, uint16_t block) {
    if (s.state == kIdle || s.writeFd >= 0) return;
    if (s.state == kTransferring && s.readFd < 0) return;
    if (block == s.block) {
        if (s.state == kLastSent) {
            TftpPaneLine("[%02d] RRQ %s xfer completed", s.index, s.path.c_str());
            MakeIdle(s);
            return;
        }
        SendNextBlock(fd, s);
        return;
    }
    if (block == static_cast<uint16_t>(s.block - 1)) {
        if (ClockTickMs() - s.sentAtMs < kDupAckResendMs) return;
        TftpPaneLine("[%02d] rcv'd ACK with last blockno, resending last DAT.", s.index);
        SendSlot(fd, s, true, 5);
        return;
    }
    SendError(fd, s.peer, 2, "Ack confused");
    MakeIdle(s);
}

void AckBlock(int fd, Slot& s, uint16_t block) {
    s.send = TftpBuildAck(block);
    s.lastLen = s.send.size();
    SendSlot(fd, s, false, 4);
}

void FinishWrite(int fd, Slot& s, uint16_t block) {
    bool ok = TftpTempCommit(s.writeFd, s.tmpPath, s.path);
    s.tmpPath.clear();
    MakeIdle(s);
    if (!ok || access(s.path.c_str(), F_OK) != 0) {
        TftpPaneLine("[%02d] Transfer complete (%lld bytes); creation failed.", s.index,
                     static_cast<long long>(s.total));
        SendError(fd, s.peer, 2, "File creation failed");
        return;
    }
    TftpPaneLine("[%02d] Transfer complete (%lld bytes).", s.index, static_cast<long long>(s.total));
    s.wrqDone = true;
    AckBlock(fd, s, block);
}

void OnData(int fd, Slot& s, const uint8_t* p, size_t n) {
    uint16_t block = TftpNumberOf(p, n).value_or(0);
    if (s.state == kIdle) {
        // The client did not see the ACK of its last block and sent it again.
        if (s.wrqDone && block == s.block) {
            AckBlock(fd, s, block);
            return;
        }
        SendError(fd, s.peer, 0, "Rcvd TFTP_DAT while IDLE");
        return;
    }
    if (s.writeFd < 0) {
        SendError(fd, s.peer, 4, "Illegal TFTP operation");
        return;
    }
    int64_t full = TftpUnwrapBlock(block, s.fullBlock + 1);
    if (full < 1) return;
    if (full != s.fullBlock + 1)
        TftpPaneLine("[%02d] out-of-order blockno (rcvd %d, expected %d).", s.index, block,
                     static_cast<uint16_t>(s.block + 1));
    size_t len = n - 4;
    off_t at = static_cast<off_t>(full - 1) * s.blksize;
    if (len && pwrite(s.writeFd, p + 4, len, at) != static_cast<ssize_t>(len)) {
        ERROR_REPORT("TFTP SERVER write()");
        SendError(fd, s.peer, 3, "Disk full or allocation exceeded");
        MakeIdle(s);
        return;
    }
    if (full > s.fullBlock) {
        s.fullBlock = full;
        s.block = block;
    }
    s.total = std::max<int64_t>(s.total, at + static_cast<int64_t>(len));
    if (len < static_cast<size_t>(s.blksize) && full == s.fullBlock) {
        FinishWrite(fd, s, block);
        return;
    }
    AckBlock(fd, s, block);
}

void OnError(Slot& s, const uint8_t* p, size_t n) {
    uint16_t code = 0;
    std::string text;
    TftpParseError(p, n, code, text);
    TftpPaneLine("[%02d] TFTP_ERR <%d: %s> from %s", s.index, code, text.substr(0, 128).c_str(),
                 PeerText(s.peer).c_str());
    MakeIdle(s);
}

void OnRequest(int fd, const uint8_t* p, size_t n, const sockaddr_in& from) {
    TftpRequest rq;
    if (!TftpParseRequest(p, n, rq)) {
        TracePrintf(TRC_TFTP, "TFTP malformed request from %s", PeerText(from).c_str());
        SendError(fd, from, 4, "Illegal TFTP operation");
        return;
    }
    Slot* s = NewSlot();
    if (!s) {
        TracePrintf(TRC_TFTP, "TFTP getNewTSDP failed");
        RefreshStatus();
        return;
    }
    ResetSlot(*s, from);
    if (rq.opcode == TFTP_RRQ) OnRrq(fd, *s, rq);
    else OnWrq(fd, *s, rq);
}

void Dispatch(int fd, const uint8_t* p, size_t n, const sockaddr_in& from) {
    uint16_t op = TftpOpcodeOf(p, n);
    if (op < TFTP_RRQ || op > TFTP_ERR) return;
    if (op == TFTP_RRQ || op == TFTP_WRQ) {
        OnRequest(fd, p, n, from);
        return;
    }
    Slot* s = ThisSlot(from);
    if (!s) {
        TracePrintf(TRC_TFTP, "TFTP getThisTSDP (%d) failed", op);
        RefreshStatus();
        return;
    }
    s->timeouts = 0;
    if (n < 4) return;
    if (op == TFTP_ACK) OnAck(fd, *s, TftpNumberOf(p, n).value_or(0));
    else if (op == TFTP_DAT) OnData(fd, *s, p, n);
    else OnError(*s, p, n);
}

// Charges every slot whose answer is overdue one timeout.
void ChargeTimeouts(int fd) {
    uint64_t now = ClockTickMs();
    for (Slot& s : g_slots) {
        if (s.state == kIdle || now - s.sentAtMs < static_cast<uint64_t>(s.timeout) * 1000) continue;
        if (++s.timeouts >= kMaxTimeouts) {
            TftpPaneLine("[%02d] TFTP SERVER timeout", s.index);
            MakeIdle(s);
            continue;
        }
        if (s.lastWasData) TftpPaneLine("[%02d] TFTP ackrcv tmout, resending", s.index);
        // Resending restarts the slot's clock; a slot waiting for DATA just waits again.
        if (s.lastWasData) SendSlot(fd, s, true, 5);
        else s.sentAtMs = now;
    }
}

// Milliseconds until the earliest slot deadline; -1 when nothing waits.
int NextDeadlineMs() {
    uint64_t now = ClockTickMs();
    int64_t best = -1;
    for (const Slot& s : g_slots) {
        if (s.state == kIdle) continue;
        int64_t left = static_cast<int64_t>(s.sentAtMs + static_cast<uint64_t>(s.timeout) * 1000) -
                       static_cast<int64_t>(now);
        left = std::max<int64_t>(left, 0);
        if (best < 0 || left < best) best = left;
    }
    return static_cast<int>(best);
}

void ServerThread(int fd, const std::atomic<bool>& stop) {
    g_stopping = &stop;
    for (int i = 0; i < kTftpSlots; ++i) {
        g_slots[static_cast<size_t>(i)] = Slot{};
        g_slots[static_cast<size_t>(i)].index = i;
    }
    CountBusy();
    std::vector<uint8_t> buf(kTftpRecvMax);
    while (!stop) {
        pollfd pfd{fd, POLLIN, 0};
        int r = poll(&pfd, 1, NextDeadlineMs());
        if (stop) break;
        if (r < 0 && errno != EINTR) {
            ERROR_REPORT("TFTP SERVER select()");
            break;
        }
        if (r > 0) {
            sockaddr_in from{};
            socklen_t flen = sizeof from;
            ssize_t n = recvfrom(fd, buf.data(), buf.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &flen);
            if (stop) break;
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                TftpPaneLine("%s: %s", "TFTP SERVER recvfrom failed", std::strerror(errno));
            if (n >= 0) Dispatch(fd, buf.data(), static_cast<size_t>(n), from);
        }
        ChargeTimeouts(fd);
    }
    for (Slot& s : g_slots) MakeIdle(s);
    RefreshStatus();
}

void OpenDialog() { ui().ShowDialog("TFTP Server..."); }

}  // namespace

int TftpSrvrStart() {
    int err = 0;
    uint32_t port = 69;
    {
        std::lock_guard l(g_lifeMu);
        if (g_running) return 1;
        if (!g_cfg.TFTPSRVR_ENABLED) return 0;
        if (auto v = shell_getenv("TFTPSRVR_PORT")) {
            auto p = ParseUnsigned(v->c_str());
            if (p && *p <= 65535) port = *p;
        }
        TracePrintf(TRC_TFTP, "TFTP SERVER socket init");
        int fd = NetUdpSocket(static_cast<uint16_t>(port), false);
        if (fd >= 0) {
            TracePrintf(TRC_TFTP, "TFTP SERVER socket init done");
            {
                std::lock_guard s(g_setMu);
                g_settings = {g_cfg.TFTP_START_DIR, g_cfg.TFTP_RELATIVE_ONLY != 0};
            }
            g_fd = fd;
            g_port = NetLocalPort(fd);
            g_running = g_worker.Start([fd](const std::atomic<bool>& stop) { ServerThread(fd, stop); });
            if (!g_running) {
                int dead = g_fd.exchange(-1);
                NetClose(dead);
                g_cfg.TFTPSRVR_ENABLED = 0;
                err = -1;
            }
        } else {
            err = errno ? errno : EIO;
            g_cfg.TFTPSRVR_ENABLED = 0;
        }
    }
    // The user is asked with no lock held.
    if (!err) {
        TraceSetServerRunning("Tftp", true);
        return 1;
    }
    if (err == -1) ERROR_REPORT("CreatThread()");
    else if (err == EADDRINUSE) OxelMessageBox("TFTP SERVER", "port %u in use", port);
    else if (err == EACCES)
        OxelMessageBox("TFTP SERVER",
                       "port %u needs privileges: grant the program CAP_NET_BIND_SERVICE, "
                       "or set TFTPSRVR_PORT to a port above 1023",
                       port);
    else {
        errno = err;
        ERROR_REPORT("TFTP SERVER bind()");
    }
    return 0;
}

void TftpSrvrStop() {
    {
    std::lock_guard l(g_lifeMu);
    g_cfg.TFTPSRVR_ENABLED = 0;
    if (!g_running) return;
    g_worker.RequestStop();
    NetShutdown(g_fd);
    int fd = g_fd.exchange(-1);
    // A thread that does not end in time (its error box still open) keeps
    // its socket; it ends on its own once the box is answered.
    if (g_worker.Stop(3000)) NetClose(fd);
    g_port = 0;
    g_running = false;
    g_busySlots = 0;
    }
    TraceSetServerRunning("Tftp", false);
}

bool TftpSrvrRunning() { return g_running; }
uint16_t TftpSrvrPort() { return g_port; }

namespace {
bool IsDirectory(const std::string& dir) {
    struct stat st{};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void StoreSettings(bool relativeOnly, const std::string& dir) {
    std::lock_guard l(g_setMu);
    CFG_SET_STRING(g_cfg.TFTP_START_DIR, dir.c_str());
    g_cfg.TFTP_RELATIVE_ONLY = relativeOnly;
    g_settings = {dir, relativeOnly};
}
}  // namespace

int TftpSrvrSetup(bool relativeOnly, const char* dir) {
    if (std::strlen(dir) >= 2048 || !IsDirectory(dir)) return 0;
    StoreSettings(relativeOnly, dir);
    g_cfg.TFTPSRVR_ENABLED = 1;
    return TftpSrvrStart();
}

int TftpSrvrApply(bool enabled, bool relativeOnly, const std::string& dir) {
    if (!g_running || enabled) {
        if (dir.size() >= 2048 || !IsDirectory(dir)) {
            OxelMessageBox("TFTP SERVER", "Directory doesn't exist");
            return 0;
        }
        StoreSettings(relativeOnly, dir);
    }
    if (enabled && !g_running) {
        g_cfg.TFTPSRVR_ENABLED = 1;
        TftpSrvrStart();
    } else if (!enabled && g_running) {
        TftpSrvrStop();
    }
    return 1;
}

std::string TftpSrvrTotalsText() {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Totals: rcvd=%d, sent=%d", g_rcvd.load(), g_sent.load());
    return buf;
}

std::string TftpSrvrStatusText() {
    if (g_busySlots == 0) return "Status: Idle";
    char buf[64];
    std::snprintf(buf, sizeof buf, "Status: %ld pkts\n", g_pkts.load());
    return buf;
}

long TftpSrvrPkts() { return g_busySlots ? g_pkts.load() : -1; }

void TftpSrvrInit() {
    static std::once_flag once;
    std::call_once(once, [] { CommandRegister({414, "Se&rvers", "&TFTP...", OpenDialog}); });
}
