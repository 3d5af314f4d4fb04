#include "xfer/filexfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "backend/backend.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/report.h"
#include "platform/ui.h"
#include "script/script_cmds.h"
#include "script/scripting.h"
#include "util/cmdids.h"
#include "util/cmdline.h"
#include "util/commands.h"
#include "util/utils.h"
#include "util/worker.h"
#include "xfer/xmodem.h"

#define OXEL_MODULE "filexfer"

namespace {

constexpr size_t kPiece = 512;
constexpr size_t kTextMax = 256;
constexpr size_t kExpandedMax = 512;

std::atomic<bool> g_running{false}, g_delay{false};
std::atomic<long> g_bytes{0}, g_total{0};
std::mutex g_startMu;
WorkerThread g_worker;
std::mutex g_doneMu;
std::condition_variable g_doneCv;

void CharDelay() {
    if (g_cfg.DELAY_BETWEEN_CHARS > 0) hiresSleep(static_cast<unsigned>(g_cfg.DELAY_BETWEEN_CHARS));
}

// Byte by byte with the character delay: what text and hex sending do.
bool WriteSlowly(const char* p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (BackendWrite(p + i, 1) <= 0) return false;
        CharDelay();
    }
    return true;
}

void RawThread(const std::string& path, int fd, const std::atomic<bool>& stop) {
    struct stat st {};
    fstat(fd, &st);
    g_total = static_cast<long>(st.st_size);
    g_bytes = 0;
    ui().StatusRefresh();
    TracePrintf(TRC_XMODEM, "Transferring file %s (rsize=%d)...", path.c_str(), static_cast<int>(st.st_size));
    char buf[kPiece];
    long left = g_total;
    while (left > 0 && !stop) {
        size_t want = std::min<size_t>(kPiece, static_cast<size_t>(left));
        ssize_t n = read(fd, buf, want);
        if (n != static_cast<ssize_t>(want)) {
            ERROR_REPORT("read failure");
            break;
        }
        bool ok = g_delay ? WriteSlowly(buf, want) : BackendWrite(buf, want) > 0;
        if (!ok) break;   // the backend has said why
        g_bytes += static_cast<long>(want);
        left -= static_cast<long>(want);
    }
    close(fd);
    ui().StatusRefresh();
}

void Reply(const XferReply& reply, const char* text) {
    if (reply) reply(std::string(text) + "\n");
    else ERROR_REPORT("%s", text);
}

}  // namespace

int FileXferStart(const char* path, const XferReply& reply) {
    std::lock_guard lock(g_startMu);
    if (g_running) return 0;
    if (path) CFG_SET_STRING(g_cfg.XMODEM_FILE, path);
    std::string file = g_cfg.XMODEM_FILE;
    int fd = file.empty() ? -1 : open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Reply(reply, "file open failure");
        return 0;
    }
    g_running = true;
    ui().MenuEnable(CMD_XMODEM, false);
    ui().MenuEnable(CMD_XFER_FILE, false);
    auto finished = [] {
        ui().MenuEnable(CMD_XMODEM, true);
        ui().MenuEnable(CMD_XFER_FILE, true);
        std::lock_guard done(g_doneMu);
        g_running = false;
        g_doneCv.notify_all();
    };
    if (g_worker.Start([file, fd, finished](const std::atomic<bool>& stop) {
            RawThread(file, fd, stop);
            finished();
        }))
        return 1;
    close(fd);
    finished();
    Reply(reply, "CreatThread()");
    return 0;
}

void FileXferWait(const XferReply& reply, bool (*stopWhen)()) {
    for (int i = 0;; i++) {
        std::unique_lock lock(g_doneMu);
        if (g_doneCv.wait_for(lock, std::chrono::seconds(1), [] { return !g_running; })) break;
        lock.unlock();
        if (stopWhen && stopWhen()) g_worker.RequestStop();
        XferSpinner(reply, i);
    }
}

void FileXferCancel() {
    if (!g_running) return;
    if (!g_worker.Stop(3000)) {
        XmodemDivert(false);
        TracePrintf(TRC_XMODEM, "thread did not end in time.");
    }
}

void FileXferShutdown() {
    if (!g_worker.Stop(5000)) TracePrintf(TRC_XMODEM, "thread did not end in time.");
}

void FileXferSetDelay(bool on) { g_delay = on; }
bool FileXferDelay() { return g_delay; }

FileXferProgress FileXferStatus() { return {g_running.load(), g_bytes.load(), g_total.load()}; }
long FileXferByteCount() { return g_running ? g_bytes.load() : -1; }

std::optional<std::string> SendTextBytes(const std::string& text, bool cr, bool lf) {
    if (text.size() >= kTextMax) return std::nullopt;
    if (text.empty()) return std::string();
    char out[kExpandedMax];
    int n = ExpandEscapes(text.data(), text.size(), out, sizeof out);
    if (n < 0) return std::nullopt;
    std::string bytes(out, static_cast<size_t>(n));
    if (cr) bytes += '\r';
    if (lf) bytes += '\n';
    return bytes;
}

int SendText(const std::string& text, bool cr, bool lf) {
    if (text.empty()) return 0;
    if (text.size() >= kTextMax) {
        OxelMessageBox("textXfer", "Buffer size max=%d", static_cast<int>(kTextMax));
        return -1;
    }
    auto bytes = SendTextBytes(text, cr, lf);
    if (!bytes || !WriteSlowly(bytes->data(), bytes->size())) return -1;
    return static_cast<int>(bytes->size());
}

std::optional<std::string> HexTextBytes(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    if (digits.empty() || digits.size() % 2) return std::nullopt;
    return HexToBytes(digits);
}

int SendHexText(const std::string& text) {
    auto bytes = HexTextBytes(text);
    if (!bytes) {
        // A non-hex digit is refused as well: it would send a wrong byte.
        OxelMessageBox("Error", "Invalid AsciiCodedHex string length");
        return 0;
    }
    return WriteSlowly(bytes->data(), bytes->size()) ? 1 : 0;
}

// FSEND [-d] FILE: the raw transfer, waited for.
static int cmd_fsend(int argc, char** argv) {
    bool delay = false;
    for (int opt; (opt = script_getopt(argc, argv, "d")) != -1;) {
        if (opt != 'd') return -2;
        delay = true;
    }
    if (argc - script_optind != 1) return -2;
    bool before = g_delay;
    g_delay = delay;
    int started = FileXferStart(argv[script_optind]);
    if (started) FileXferWait({}, ScriptHalting);
    g_delay = before;
    return started ? 0 : -1;
}

void FileXferInit() {
    ScriptSetHandler("FSEND", cmd_fsend);
    CommandRegister({CMD_XFER_FILE, "&Transfer", "&File...", [] { ui().ShowDialog("Raw File Transfer..."); }});
    CommandRegister({CMD_XFER_BINARY, "&Transfer", "&Binary...",
                     [] { ui().ShowDialog("Transfer ASCII Coded Hex as Binary..."); }});
    CommandRegister({CMD_XFER_TEXT, "&Transfer", "Te&xt...", [] { ui().ShowDialog("Send text..."); }});
}
