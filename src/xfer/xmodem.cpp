#include "xfer/xmodem.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "backend/backend.h"
#include "config/configrecord.h"
#include "config/shellvar.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/report.h"
#include "platform/ui.h"
#include "script/scripting.h"
#include "util/checksum.h"
#include "util/cmdids.h"
#include "util/cmdline.h"
#include "util/commands.h"
#include "util/utils.h"
#include "util/worker.h"

#define OXEL_MODULE "xmodem"

// ---- Framing -------------------------------------------------------------------

namespace {

void AppendTrailer(std::string& out, const uint8_t* data, size_t len, bool crc) {
    if (crc) {
        uint16_t c = Crc16Xmodem(data, len);
        out += static_cast<char>(c >> 8);
        out += static_cast<char>(c & 0xFF);
    } else {
        out += static_cast<char>(Sum8(data, len));
    }
}

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

}  // namespace

std::string XmodemPacket(uint8_t seq, const uint8_t* data, size_t len, bool crc) {
    std::string out;
    out.reserve(len + 5);
    out += static_cast<char>(len == 1024 ? XM_STX : XM_SOH);
    out += static_cast<char>(seq);
    out += static_cast<char>(~seq & 0xFF);
    out.append(reinterpret_cast<const char*>(data), len);
    AppendTrailer(out, data, len, crc);
    return out;
}

std::string YmodemBlock0(const std::string& path, long size, bool crc) {
    std::array<uint8_t, 128> data{};
    size_t slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string sizeText = std::to_string(size);
    // Name, NUL, size, NUL must fit the block; a longer name is cut.
    size_t room = data.size() - sizeText.size() - 2;
    if (base.size() > room) base.resize(room);
    std::memcpy(data.data(), base.data(), base.size());
    std::memcpy(data.data() + base.size() + 1, sizeText.data(), sizeText.size());
    return XmodemPacket(0, data.data(), data.size(), crc);
}

std::string YmodemEndBlock(bool crc) {
    std::array<uint8_t, 128> zeros{};
    return XmodemPacket(0, zeros.data(), zeros.size(), crc);
}

std::string XmodemTargetCommand(const std::string& cmd, long size, bool autosize, bool crlf) {
    if (cmd.empty()) return {};
    std::string line = cmd;
    if (size > 0 && autosize && cmd.compare(0, 7, "xmodem ") == 0)
        line = Format("xmodem -s %ld %s", size, cmd.c_str() + 7);
    if (line.find("\\r") != std::string::npos || line.find("\\n") != std::string::npos) return ExpandEscapes(line);
    return line + (crlf ? "\r\n" : "\r");
}

XrAction XmodemRxFeed(XmodemRx& rx, uint8_t byte) {
    rx.trace.clear();
    switch (rx.phase) {
    case XrPhase::Header:
        switch (byte) {
        case XM_SOH:
        case XM_STX:
            rx.size = byte == XM_SOH ? 128 : 1024;
            rx.seqBytes = 0;
            rx.phase = XrPhase::Seq;
            return XrAction::None;
        case XM_EOT: rx.done = true; return XrAction::Ack;
        case XM_NAK: rx.trace = "rcvd NAK"; return XrAction::End;
        case XM_CAN: rx.trace = "rcvd CAN"; return XrAction::End;
        case XM_ESC: rx.trace = "rcvd ESC"; return XrAction::End;
        default: rx.trace = Format("rcvd unexpected: <%02x>", byte); return XrAction::None;
        }
    case XrPhase::Seq: {
        if (rx.seqBytes++ == 0) {
            rx.seq = byte;
            return XrAction::None;
        }
        if (static_cast<uint8_t>(~byte) != rx.seq) {
            rx.error = Format("Packet %d seqno inconsistency 0x%x 0x%x", rx.packets + 1, rx.seq, byte);
            return XrAction::Fail;
        }
        if (rx.seq == static_cast<uint8_t>(rx.lastSeq + 1)) {
            if (rx.limit && rx.image.size() + rx.size > rx.limit) {
                rx.error = "realloc_SOH/STX failure";
                return XrAction::Fail;
            }
            rx.at = rx.image.size();
            rx.isNew = true;
        } else if (rx.seq == rx.lastSeq) {
            rx.trace = Format("Packet (%d) retransmission.", rx.packets);
            rx.isNew = false;
        } else {
            rx.error = Format("Out-of-sequence error at pkt %d (%02x %02x).", rx.packets, rx.seq, rx.lastSeq);
            return XrAction::Fail;
        }
        rx.data.clear();
        rx.phase = XrPhase::Data;
        return XrAction::None;
    }
    case XrPhase::Data:
        rx.data.push_back(byte);
        if (rx.data.size() == rx.size) {
            rx.trailerBytes = 0;
            rx.phase = XrPhase::Trailer;
        }
        return XrAction::None;
    case XrPhase::Trailer: {
        rx.trailer[rx.trailerBytes++] = byte;
        if (rx.crc && rx.trailerBytes < 2) return XrAction::None;
        rx.phase = XrPhase::Header;
        bool ok = rx.crc ? Crc16Xmodem(rx.data.data(), rx.data.size()) == (rx.trailer[0] << 8 | rx.trailer[1])
                         : Sum8(rx.data.data(), rx.data.size()) == rx.trailer[0];
        if (!ok) {
            rx.error = Format(rx.crc ? "Packet %d CRC failure" : "Packet %d CSUM failure", rx.packets + 1);
            return XrAction::NakFail;
        }
        const bool isNew = rx.isNew;
        if (!isNew && rx.packets == 0) return XrAction::Ack;   // a repeat with nothing before it
        if (!isNew && rx.limit && rx.at + rx.data.size() > rx.limit) {
            rx.error = "realloc_SOH/STX failure";
            return XrAction::Fail;
        }
        rx.image.resize(rx.at);
        rx.image.insert(rx.image.end(), rx.data.begin(), rx.data.end());
        if (isNew) {
            rx.packets++;
            rx.lastSeq = rx.seq;
        }
        return XrAction::Ack;
    }
    }
    return XrAction::None;
}

const char* XmodemStateName(int state) {
    static const char* const names[] = {"IDLE", "RECV", "SEND", "FAIL"};
    return state >= 0 && state <= 3 ? names[state] : "IDLE";
}

// ---- Transfers -------------------------------------------------------------------

namespace {

constexpr size_t kRingSize = 4096;
constexpr int kFirstAnswerMs = 14000;
constexpr int kAnswerMs = 7000;
constexpr int kFirstAnswerLimitMs = 60000;   // chatter never keeps a sender waiting longer
constexpr int kRecvStartTries = 60;          // one 'C' or NAK a second
constexpr size_t kRecvLimit = 256u << 20;    // a target that never stops cannot exhaust memory

// The input ring, filled under the received-data lock: the writer only copies.
std::mutex g_ringMu;
std::condition_variable g_ringCv;
std::array<uint8_t, kRingSize> g_ring;
size_t g_rd = 0, g_wr = 0;
std::atomic<bool> g_divert{false};

std::atomic<bool> g_stop{false};
std::atomic<bool> g_running{false};
std::atomic<int> g_state{XSTATE_IDLE};
std::atomic<long> g_packets{0}, g_total{-1};
std::atomic<bool> g_timedOut{false};
std::mutex g_startMu;    // one start at a time
WorkerThread g_worker;
std::mutex g_doneMu;
std::condition_variable g_doneCv;

// Settings for the next start.
std::atomic<int> g_pktSize{128};
std::atomic<bool> g_crcRecv{true}, g_ymodem{false}, g_delay{false};
std::atomic<int> g_retryLimit{10};
std::atomic<long> g_expected{0};

// The hex log.
std::mutex g_xlogMu;
FILE* g_xlog = nullptr;
char g_xlogDir = 0;
int g_xlogCount = 0;

void XlogBytes(char dir, const uint8_t* p, size_t n) {
    std::lock_guard lock(g_xlogMu);
    if (!g_xlog) return;
    bool ok = true;
    for (size_t i = 0; i < n && ok; i++) {
        if (dir != g_xlogDir) {
            ok = std::fputs(dir == 'R' ? "\nRCV:\n" : "\nSND:\n", g_xlog) >= 0;
            g_xlogDir = dir;
            g_xlogCount = 0;
        }
        ok = ok && std::fprintf(g_xlog, "%02x ", p[i]) > 0;
        if (ok && ++g_xlogCount % 32 == 0) ok = std::fputc('\n', g_xlog) != EOF;
    }
    if (!ok || std::fflush(g_xlog) != 0) {
        std::fclose(g_xlog);
        g_xlog = nullptr;
    }
}

void XlogBanner(const char* what, const std::string& path) {
    std::lock_guard lock(g_xlogMu);
    if (g_xlog) std::fprintf(g_xlog, "\n###\n### %s file: %s...\n###\n", what, path.c_str());
}

void RingClear() {
    std::lock_guard lock(g_ringMu);
    g_rd = g_wr = 0;
}

// One byte from the ring within ms; -1 on timeout or stop.
int ReadByte(int ms) {
    std::unique_lock lock(g_ringMu);
    bool got = g_ringCv.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_rd != g_wr || g_stop; });
    if (!got || g_rd == g_wr) return -1;
    uint8_t b = g_ring[g_rd];
    g_rd = (g_rd + 1) % kRingSize;
    lock.unlock();
    XlogBytes('R', &b, 1);
    return b;
}

bool ByteWaiting(int ms) {
    std::unique_lock lock(g_ringMu);
    return g_ringCv.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_rd != g_wr || g_stop; }) &&
           g_rd != g_wr;
}

// Sends bytes as the delay switch says; a failed write sets the stop flag.
bool Send(const std::string& bytes) {
    XlogBytes('S', reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    bool ok = true;
    if (!g_delay) {
        ok = BackendWrite(bytes.data(), bytes.size()) > 0;
    } else {
        for (size_t i = 0; i < bytes.size() && ok; i++) {
            ok = BackendWrite(&bytes[i], 1) > 0;
            if (g_cfg.DELAY_BETWEEN_CHARS > 0) hiresSleep(static_cast<unsigned>(g_cfg.DELAY_BETWEEN_CHARS));
        }
    }
    if (!ok) g_stop = true;
    return ok;
}

bool SendByte(uint8_t b) { return Send(std::string(1, static_cast<char>(b))); }

void SendCancel() {
    for (int i = 0; i < 8; i++)
        if (BackendWrite("\x18", 1) <= 0) break;
}

// The failure texts of a start go to the requesting client or the error report.
void StartFailure(const XferReply& reply, const char* text) {
    if (reply) reply(std::string(text) + "\n");
    else ERROR_REPORT("%s", text);
}

void ErrorBox(const std::string& text) { OxelMessageBox("XMODEM Error", "%s", text.c_str()); }

// A timeout the user should see: on the console while a script runs.
void TimeoutMessage(const char* text) {
    g_timedOut = true;
    if (ScriptRunning()) console_printf("XMODEM Error: %s\r\n", text);
    else ErrorBox(text);
}

void SetState(int s) {
    g_state = s;
    TracePrintf(TRC_XMODEM, "State: '%s'", XmodemStateName(s));
    ui().StatusRefresh();
}

void Buttons(bool running) {
    // The dialogs follow XmodemStatus; the menu items are greyed meanwhile.
    ui().MenuEnable(CMD_XMODEM, !running);
    ui().MenuEnable(CMD_YMODEM, !running);
    ui().MenuEnable(CMD_XFER_FILE, !running);
}

// Types the target's command; false when the write failed.
bool Xcommand(long size) {
    std::string cmd = XmodemTargetCommand(g_cfg.XMODEM_CMD, size, g_cfg.XMODEM_AUTOSIZE, g_cfg.ENTER_IS_CRLF);
    if (cmd.empty()) return true;
    TracePrintf(TRC_XMODEM, "Xcommand: '%s'", cmd.c_str());
    for (char c : cmd) {
        if (BackendWrite(&c, 1) <= 0) {
            TracePrintf(TRC_XMODEM, "Xcommand->comport_write() failed");
            return false;
        }
        hiresSleep(30);
    }
    hiresSleep(500);
    return true;
}

// The whole file, padded with SUB to a multiple of pad (1: no padding).
bool LoadFile(const std::string& path, size_t pad, std::vector<uint8_t>& buf, size_t& size) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ERROR_REPORT("file open failure");
        return false;
    }
    struct stat st {};
    fstat(fd, &st);
    size = static_cast<size_t>(st.st_size);
    if (size == 0) {
        close(fd);
        ERROR_REPORT("file is empty");
        return false;
    }
    size_t padded = (size + pad - 1) / pad * pad;
    buf.assign(padded + 1024, XM_SUB);
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, buf.data() + got, size - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (got != size) {
        ERROR_REPORT("read failure");
        return false;
    }
    buf.resize(padded);
    return true;
}

// Waits for the receiver's NAK or 'C'; 1 CRC, 0 checksum, -1 none.
int WaitForStart() {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFirstAnswerLimitMs);
    while (std::chrono::steady_clock::now() < until) {
        int b = ReadByte(kFirstAnswerMs);
        if (b == XM_CRC) return 1;
        if (b == XM_NAK) return 0;
        if (b < 0) break;
    }
    if (!g_stop) TimeoutMessage("Timeout waiting for NAK/C");
    return -1;
}

// Nothing was sent: the waiter must not take it for a good transfer.
void Refused() {
    g_state = XSTATE_FAIL;
    Buttons(false);
}

void Finish(bool failed) {
    if (g_stop) SendCancel();
    XmodemDivert(false);
    SetState(failed ? XSTATE_FAIL : XSTATE_IDLE);
    Buttons(false);
}

void XsendThread(std::string path, size_t pktSize) {
    XlogBanner("XMODEM Send", path);
    std::vector<uint8_t> buf;
    size_t size = 0;
    if (!LoadFile(path, pktSize, buf, size)) return Refused();
    // The line is ours before the command is typed: a target that answers
    // it with its NAK or 'C' at once must not lose that to the console.
    XmodemDivert(true);
    if (!Xcommand(static_cast<long>(size))) {
        XmodemDivert(false);
        return Refused();
    }
    g_packets = 0;
    g_total = static_cast<long>(buf.size() / pktSize);
    SetState(XSTATE_SEND);
    TracePrintf(TRC_XMODEM, "Transferring file %s (%d bytes, rsize=%d)...", path.c_str(), static_cast<int>(buf.size()),
                static_cast<int>(size));
    int crc = WaitForStart();
    bool failed = crc < 0;
    if (!failed) {
        TracePrintf(TRC_XMODEM, "Starting XMODEM %s-mode download", crc ? "crc" : "cksum");
        uint8_t seq = 1;
        int retries = 0;
        size_t off = 0;
        while (off < buf.size() && !g_stop) {
            if (!Send(XmodemPacket(seq, buf.data() + off, pktSize, crc))) break;
            int b = ReadByte(kAnswerMs);
            if (b < 0) {
                if (g_stop) break;
                if (++retries < g_retryLimit) {
                    TracePrintf(TRC_XMODEM, "XsendFile retry %d (pkt%ld)", retries, g_packets.load());
                    continue;
                }
                TracePrintf(TRC_XMODEM, "XsendFile retry MAX reached (pkt%ld)", g_packets.load());
                g_timedOut = true;
                failed = true;
                break;
            }
            if (b == XM_ACK) {
                seq++;
                retries = 0;
                off += pktSize;
                g_packets++;
                continue;
            }
            if (b == XM_NAK) {
                TracePrintf(TRC_XMODEM, "Rcv'd NAK from target.");
                retries++;
                continue;
            }
            if (b == XM_CRC && off == 0) {
                // A receiver repeats its 'C' until data comes: one that crossed
                // the first packet asks for it again, it does not end the transfer.
                TracePrintf(TRC_XMODEM, "Rcv'd 'C' again from target.");
                retries++;
                continue;
            }
            // The target ended it: the file did not arrive whole.
            if (b == XM_EOT) TracePrintf(TRC_XMODEM, "Rcv'd EOT from target.");
            else if (b == XM_CAN) TracePrintf(TRC_XMODEM, "Rcv'd CAN from target.");
            else TracePrintf(TRC_XMODEM, "Rcv'd <%02x> from target.", b);
            failed = true;
            break;
        }
        // A receiver that NAKs the first EOT (to be sure of it) gets another.
        for (int i = 0; !failed && !g_stop && i < g_retryLimit; i++)
            if (!SendByte(XM_EOT) || ReadByte(kAnswerMs) != XM_NAK) break;
        if (g_stop && !failed) failed = true;
    }
    Finish(failed);
}

// The next 1K data packet of a YMODEM send.
std::string YData(const std::vector<uint8_t>& buf, size_t off, uint8_t seq, bool crc) {
    std::array<uint8_t, 1024> block;
    block.fill(XM_SUB);
    std::memcpy(block.data(), buf.data() + off, std::min<size_t>(1024, buf.size() - off));
    return XmodemPacket(seq, block.data(), block.size(), crc);
}

enum class YStep { Block0, Data, End };

// After the last data packet: EOT until the receiver asks for the next file.
bool YEndOfFile() {
    TracePrintf(TRC_XMODEM, "Send EOT1...");
    if (!SendByte(XM_EOT)) return false;
    for (int i = 0; i < 8 && !g_stop; i++) {
        int c = ReadByte(1000);
        if (c < 0) {
            if (g_stop) return false;
            TracePrintf(TRC_XMODEM, "Sent EOT waiting for 'C'.");
            if (!SendByte(XM_EOT)) return false;
            continue;
        }
        TracePrintf(TRC_XMODEM, "Rcv'd '%02x' waiting for 'C'.", c);
        if (c == XM_CRC) return true;
    }
    TracePrintf(TRC_XMODEM, "Timeout waiting for 'C'.");
    return false;
}

void YsendThread(std::string path) {
    XlogBanner("YMODEM Send", path);
    std::vector<uint8_t> buf;
    size_t size = 0;
    if (!LoadFile(path, 1, buf, size)) return Refused();
    XmodemDivert(true);
    if (!Xcommand(static_cast<long>(size))) {
        XmodemDivert(false);
        return Refused();
    }
    g_packets = 0;
    g_total = static_cast<long>((size + 1023) / 1024);
    SetState(XSTATE_SEND);
    TracePrintf(TRC_XMODEM, "Transferring file %s (%d bytes)...", path.c_str(), static_cast<int>(size));
    int crcMode = WaitForStart();
    bool failed = crcMode < 0;
    if (!failed) {
        bool crc = crcMode == 1;
        RingClear();
        TracePrintf(TRC_XMODEM, "Starting YMODEM %s-mode download", crc ? "crc" : "cksum");
        uint8_t seq = 0;
        size_t off = 0;
        int retries = 0;
        YStep step = YStep::Block0;
        std::string last = YmodemBlock0(path, static_cast<long>(size), crc);
        std::string base = path.substr(path.find_last_of('/') + 1);
        TracePrintf(TRC_XMODEM, "Sending blk0: fname: %s, flen: %zu", base.c_str(), size);
        failed = true;
        auto sendData = [&] {
            TracePrintf(TRC_XMODEM, "Sending pkt %d", seq);
            last = YData(buf, off, seq, crc);
            return Send(last);
        };
        bool sent = Send(last);
        while (sent && !g_stop) {
            int b = ReadByte(kAnswerMs);
            if (b < 0) {
                if (g_stop) break;
                if (++retries < g_retryLimit) {
                    TracePrintf(TRC_XMODEM, "YsendFile retry %d (pkt%ld)", retries, g_packets.load());
                    sent = Send(last);
                    continue;
                }
                TracePrintf(TRC_XMODEM, "YsendFile retry MAX reached (pkt%ld)", g_packets.load());
                g_timedOut = true;
                break;
            }
            if (b == XM_ACK) {
                TracePrintf(TRC_XMODEM, "Rcv'd ACK (pktcnt=%ld,offset=%zu).", g_packets.load(), off);
                retries = 0;
                if (step == YStep::End) {
                    TracePrintf(TRC_XMODEM, "Transfer completed.");
                    failed = false;
                    break;
                }
                if (step == YStep::Block0) {
                    seq++;
                    // The receiver's 'C' for the first data packet; a busy one
                    // is given a second rather than 100 ms, so that a late 'C'
                    // does not cross that packet and have it sent twice.
                    int c = ReadByte(1000);
                    if (c >= 0) TracePrintf(TRC_XMODEM, "Purged %02x from target.", c);
                    else TracePrintf(TRC_XMODEM, "Timeout waiting for 'C' (ignored)");
                    step = YStep::Data;
                    sent = sendData();
                    continue;
                }
                seq++;
                g_packets++;
                off += 1024;
                if (off < size) {
                    sent = sendData();
                    continue;
                }
                if (!YEndOfFile()) break;
                TracePrintf(TRC_XMODEM, "Sending empty pathname");
                step = YStep::End;
                last = YmodemEndBlock(crc);
                sent = Send(last);
            } else if (b == XM_NAK) {
                TracePrintf(TRC_XMODEM, "Rcv'd NAK (sno=%d).", seq);
                if (seq == 0 && step == YStep::Block0) {
                    crc = false;   // a receiver without CRC skips block 0
                    seq = 1;
                    step = YStep::Data;
                    sent = sendData();
                } else {
                    sent = Send(last);
                }
            } else if (b == XM_CRC) {
                TracePrintf(TRC_XMODEM, "Rcv'd 'C' (sno=%d,pktcnt=%ld).", seq, g_packets.load());
                sent = Send(last);
            } else {
                if (b == XM_CAN) TracePrintf(TRC_XMODEM, "Rcv'd CAN.");
                else if (b == XM_EOT) TracePrintf(TRC_XMODEM, "Rcv'd EOT.");
                else TracePrintf(TRC_XMODEM, "Rcv'd <%02x>.", b);
                break;
            }
        }
    }
    Finish(failed);
    g_ymodem = false;
}

void XrecvThread(std::string path, int fd) {
    XlogBanner("XMODEM Recv", path);
    if (!Xcommand(-1)) {
        close(fd);
        return Refused();
    }
    XmodemRx rx;
    rx.crc = g_crcRecv;
    long expected = g_expected;
    rx.limit = std::max<size_t>(kRecvLimit, expected > 0 ? static_cast<size_t>(expected) + 1024 : 0);
    g_packets = 0;
    g_total = -1;
    SetState(XSTATE_RECV);
    XmodemDivert(true);
    bool started = false;
    for (int i = 0; i < kRecvStartTries && !g_stop && !started; i++) {
        if (!SendByte(rx.crc ? XM_CRC : XM_NAK)) break;
        started = ByteWaiting(1000);
    }
    bool failed = true;
    if (started) {
        TracePrintf(TRC_XMODEM, "Starting %s-mode upload", rx.crc ? "crc" : "cksum");
        for (;;) {
            int b = ReadByte(kAnswerMs);
            if (b < 0) {
                if (g_stop) break;
                static const char* const texts[] = {"Timeout waiting for SOH/STX", "Timeout waiting for seqno",
                                                    "Timeout waiting for packet data", nullptr};
                const char* text = texts[static_cast<int>(rx.phase)];
                if (!text) {
                    text = rx.crc ? "Timeout waiting for CRC" : "Timeout waiting for CSUM";
                    if (!rx.crc) shell_setenv("SCR_TIMEOUT", "TRUE");
                }
                if (rx.phase == XrPhase::Header) TimeoutMessage(text);
                else {
                    g_timedOut = true;
                    ErrorBox(text);
                }
                break;
            }
            XrAction act = XmodemRxFeed(rx, static_cast<uint8_t>(b));
            if (!rx.trace.empty()) TracePrintf(TRC_XMODEM, "%s", rx.trace.c_str());
            g_packets = rx.packets;
            if (act == XrAction::None) continue;
            if (act == XrAction::Ack) {
                SendByte(XM_ACK);
                if (!rx.done) continue;
                int n = rx.packets;
                TracePrintf(TRC_XMODEM, "Rcvd %d pkt%c (%d bytes)", n, n < 2 ? ' ' : 's',
                            static_cast<int>(rx.image.size()));
                // An expected size beyond what came is cut to what came.
                size_t len = expected > 0 ? std::min<size_t>(static_cast<size_t>(expected), rx.image.size())
                                          : rx.image.size();
                if (WriteAll(fd, rx.image.data(), len)) {
                    TracePrintf(TRC_XMODEM, "New file: %s (%d bytes)", path.c_str(), static_cast<int>(len));
                    failed = false;
                } else {
                    TracePrintf(TRC_XMODEM, "write() failed");
                }
                break;
            }
            if (act == XrAction::NakFail) SendByte(XM_NAK);
            if (act != XrAction::End) ErrorBox(rx.error);
            break;
        }
    } else if (!g_stop) {
        TimeoutMessage("Timeout waiting for SOH/STX");
    }
    close(fd);
    XmodemDivert(false);
    SetState(failed ? XSTATE_FAIL : XSTATE_IDLE);
    Buttons(false);
    g_expected = 0;
}

template <typename Fn>
int Launch(Fn fn) {
    std::lock_guard lock(g_startMu);
    if (g_running) return 0;
    g_stop = false;
    g_timedOut = false;
    g_running = true;
    Buttons(true);
    auto finished = [] {
        std::lock_guard done(g_doneMu);
        g_running = false;
        g_doneCv.notify_all();
    };
    // The transfer watches g_stop, which write failures set as well.
    if (g_worker.Start([fn, finished](const std::atomic<bool>&) {
            fn();
            finished();
        }))
        return 1;
    finished();
    Buttons(false);
    return 0;
}

void CopyConfig(const char* cmd, const char* path) {
    CFG_SET_STRING(g_cfg.XMODEM_CMD, cmd ? cmd : "");
    CFG_SET_STRING(g_cfg.XMODEM_FILE, path ? path : "");
}

}  // namespace

int XmodemStartSend(const char* cmd, const char* path, const XferReply& reply) {
    if (g_running) return 0;
    CopyConfig(cmd, path);
    std::string file = g_cfg.XMODEM_FILE;
    struct stat st {};
    if (file.empty() || stat(file.c_str(), &st) != 0) {
        StartFailure(reply, "file open failure");
        return 0;
    }
    if (g_ymodem) return Launch([file] { YsendThread(file); });
    size_t pkt = g_pktSize == 1024 ? 1024 : 128;
    return Launch([file, pkt] { XsendThread(file, pkt); });
}

int XmodemStartRecv(const char* cmd, const char* path, const XferReply& reply) {
    if (g_running) return 0;
    CopyConfig(cmd, path);
    std::string file = g_cfg.XMODEM_FILE;
    int fd = file.empty() ? -1 : open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        StartFailure(reply, "file open failure");
        return 0;
    }
    int ok = Launch([file, fd] { XrecvThread(file, fd); });
    if (!ok) close(fd);
    return ok;
}

void XferSpinner(const XferReply& reply, int step) {
    static const char spin[] = "|/-\\";
    char s[2] = {spin[step % 4], '\b'};
    if (reply) reply(std::string(s, 2));
    else ConsoleWritePlain(s, 2);
}

int XmodemWait(const XferReply& reply, bool (*stopWhen)()) {
    ui().MenuEnable(CMD_XMODEM, false);
    ui().MenuEnable(CMD_XFER_FILE, false);
    for (int i = 0;; i++) {
        std::unique_lock lock(g_doneMu);
        if (g_doneCv.wait_for(lock, std::chrono::seconds(1), [] { return !g_running; })) break;
        lock.unlock();
        if (stopWhen && stopWhen()) XmodemCancel();
        XferSpinner(reply, i);
    }
    ui().MenuEnable(CMD_XMODEM, true);
    ui().MenuEnable(CMD_XFER_FILE, true);
    int state = g_state;
    shell_setenv("XSTATE", XmodemStateName(state));
    return state;
}

void XmodemCancel() {
    g_stop = true;
    g_ringCv.notify_all();
}

void XmodemAbort() {
    if (!g_running) return;
    XmodemCancel();
    if (!g_worker.Stop(4000)) {
        // Still in a backend write: take the line back; the thread ends on its own.
        XmodemDivert(false);
        TracePrintf(TRC_XMODEM, "thread did not end in time.");
    }
}

void XmodemShutdown() {
    XmodemCancel();
    if (!g_worker.Stop(5000)) TracePrintf(TRC_XMODEM, "thread did not end in time.");
}

void XmodemSetPacketSize(int size) { g_pktSize = size == 1024 ? 1024 : 128; }
void XmodemSetCrcReceive(bool crc) { g_crcRecv = crc; }
void XmodemSetYmodem(bool on) { g_ymodem = on; }
void XmodemSetDelay(bool on) { g_delay = on; }
void XmodemSetRetryLimit(int n) { g_retryLimit = n > 0 ? n : 10; }
void XmodemSetExpectedSize(long n) { g_expected = n; }
bool XmodemDelay() { return g_delay; }

XmodemProgress XmodemStatus() {
    return {g_running.load(), g_state.load(), g_packets.load(), g_total.load(), g_timedOut.load()};
}

long XmodemPacketCount() { return g_running ? g_packets.load() : -1; }

int XmodemSetXlog(const std::string& path) {
    std::lock_guard lock(g_xlogMu);
    if (g_xlog) std::fclose(g_xlog);
    g_xlog = nullptr;
    g_xlogDir = 0;
    size_t start = path.find_first_not_of(' ');
    if (start == std::string::npos) {
        TracePrintf(TRC_XMODEM, "XLOG: disabled");
        return 1;
    }
    std::string file = path.substr(start);
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || !(g_xlog = fdopen(fd, "wb"))) {
        if (fd >= 0) close(fd);
        return 0;
    }
    TracePrintf(TRC_XMODEM, "XLOG: '%s'", file.c_str());
    return 1;
}

bool XmodemReceiving() { return g_divert; }

void XmodemReceiveBytes(const char* data, size_t len) {
    bool overflow = false;
    {
        std::lock_guard lock(g_ringMu);
        for (size_t i = 0; i < len; i++) {
            size_t next = (g_wr + 1) % kRingSize;
            if (next == g_rd) {
                overflow = true;
                g_rd = g_wr = 0;
                break;
            }
            g_ring[g_wr] = static_cast<uint8_t>(data[i]);
            g_wr = next;
        }
    }
    g_ringCv.notify_all();
    if (overflow) TracePrintf(TRC_XMODEM, "Xmodem IBUF overflow!");
}

void XmodemDivert(bool on) {
    if (on) {
        RingClear();
        g_divert = true;
        TracePrintf(TRC_XMODEM, "Reader -> XMODEM on");
        return;
    }
    g_divert = false;
    TracePrintf(TRC_XMODEM, "Reader -> XMODEM off");
    // What arrived after the transfer belongs to the console.
    std::vector<uint8_t> rest;
    {
        std::lock_guard lock(g_ringMu);
        for (; g_rd != g_wr; g_rd = (g_rd + 1) % kRingSize) rest.push_back(g_ring[g_rd]);
    }
    std::vector<uint8_t> out(256 * 5);
    for (size_t i = 0; i < rest.size(); i += 256) {
        size_t n = std::min<size_t>(256, rest.size() - i);
        RxDeliver(rest.data() + i, out.data(), n, out.size());
    }
}

// ---- The XMODEM script command and the menu ----------------------------------------

namespace {

constexpr size_t kPromptMax = 127;

struct XmodemOp {
    const char* name;
    bool send;
    int pktSize;   // send: 128/1024; receive: 1 CRC, 0 checksum
};
constexpr XmodemOp kOps[] = {{"send", true, 128}, {"send1k", true, 1024}, {"recv", false, 0}, {"recvcrc", false, 1}};

const XmodemOp* FindOp(const char* name) {
    for (const auto& op : kOps)
        if (strcasecmp(op.name, name) == 0) return &op;
    return nullptr;
}

// Waits for the prompt pattern already set; SCR_TIMEOUT says how it ended.
void WaitForPrompt(int seconds) {
    if (seconds > 0) TracePrintf(TRC_XMODEM, "Waiting for %d seconds for prompt...", seconds);
    else TracePrintf(TRC_XMODEM, "Waiting forever for prompt...");
    bool woken = script_sleep(static_cast<unsigned>(seconds) * 100) != 0;
    shell_setenv("SCR_TIMEOUT", woken ? "FALSE" : "TRUE");
    TracePrintf(TRC_XMODEM, woken ? "Prompt received" : "Timeout waiting for prompt");
}

// XMODEM [-dny] [-p PROMPT] [-r N] [-s N] [-t SECS] OP [CMD] FILE
int cmd_xmodem(int argc, char** argv) {
    bool ymodem = false, delay = false, noWait = false;
    const char* prompt = nullptr;
    int seconds = -1;
    long expected = 0;
    XmodemSetRetryLimit(10);
    for (int opt; (opt = script_getopt(argc, argv, "dnp:r:s:t:y")) != -1;) {
        std::optional<int32_t> v;
        switch (opt) {
        case 'd': delay = true; break;
        case 'n': noWait = true; break;
        case 'p': prompt = script_optarg; break;
        case 'y': ymodem = true; break;
        case 'r':
        case 's':
        case 't':
            if (!(v = ParseSigned(script_optarg))) return -2;
            if (opt == 'r') XmodemSetRetryLimit(*v);
            else if (opt == 's') expected = *v;
            else if (*v < 0) return -2;
            else seconds = *v;
            break;
        default: return -2;
        }
    }
    int nargs = argc - script_optind;
    if (nargs < 2 || nargs > 3) return -3;
    const XmodemOp* op = FindOp(argv[script_optind]);
    if (!op || (ymodem && !op->send)) return -2;
    const char* cmd = nargs == 3 ? argv[script_optind + 1] : nullptr;
    const char* file = argv[argc - 1];
    if (noWait && seconds >= 0) {
        script_error("Invalid use of -n and -t (they contradict each other).");
        return -2;
    }
    std::string pattern;
    if (!noWait) {
        auto p = prompt ? std::optional<std::string>(prompt) : shell_getenv("PROMPT");
        if (!p || p->empty()) {
            script_error("PROMPT shell variable must be set");
            return -1;
        }
        pattern = p->substr(0, kPromptMax);
    }
    shell_unsetenv("SCR_TIMEOUT");
    if (op->send && access(file, R_OK) != 0) {
        script_error("Can't open file");
        return -1;
    }
    XmodemSetDelay(delay);
    XmodemSetYmodem(ymodem);
    XmodemSetExpectedSize(expected);
    if (op->send) XmodemSetPacketSize(op->pktSize);
    else XmodemSetCrcReceive(op->pktSize == 1);
    // Set before the start: the prompt can come in with the transfer's last bytes.
    if (!noWait) ScriptSetPattern(pattern.c_str());
    int started = op->send ? XmodemStartSend(cmd, file) : XmodemStartRecv(cmd, file);
    if (!started) {
        ScriptSetPattern(nullptr);
        script_error(XmodemStatus().running ? "Transfer in progress" : "Can't open file");
        return -1;
    }
    if (XmodemWait({}, ScriptHalting) == XSTATE_FAIL) {
        shell_setenv("SCR_TIMEOUT", XmodemStatus().timedOut ? "TRUE" : "FALSE");
    } else if (noWait) {
        shell_setenv("SCR_TIMEOUT", "FALSE");
    } else {
        WaitForPrompt(std::max(seconds, 0));
    }
    ScriptSetPattern(nullptr);
    TracePrintf(TRC_XMODEM, "Done");
    return 0;
}

}  // namespace

void XmodemInit() {
    ScriptSetHandler("XMODEM", cmd_xmodem);
    CommandRegister({CMD_XMODEM, "&Transfer", "&Xmodem...", [] { ui().ShowDialog("XMODEM Transfer..."); }});
    CommandRegister({CMD_YMODEM, "&Transfer", "&Ymodem...", [] { ui().ShowDialog("YMODEM Transfer..."); }});
}
