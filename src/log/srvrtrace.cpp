#include "log/srvrtrace.h"
#include "util/cmdids.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "util/utils.h"
#include "util/commands.h"
#include "platform/report.h"
#include "config/configrecord.h"
#include "log/logging.h"
#include "platform/ui.h"

#define OXEL_MODULE "srvrtrace"

namespace {

constexpr size_t kFormatSize = 2046;
constexpr size_t kMaxLine = 1024;
// How long the pane may lag behind a burst of lines; one refresh per burst.
constexpr int kPushDelayMs = 30;

struct Category {
    uint32_t bit;
    const char* name;   // text after the stamp, before the line
};

constexpr Category kCategories[] = {
    {TRC_ALWAYS, ""},         {TRC_TFTP, "TFTP: "},     {TRC_FTP, "FTP: "},
    {TRC_TELNET, "TELNET: "}, {TRC_SCRIPT, "SCRIPT: "}, {TRC_DHCP, "DHCP: "},
    {TRC_DEBUG, "DEBUG: "},   {TRC_XMODEM, "XMODEM: "}, {TRC_CLIHIST, "CLIHIST: "},
    {TRC_SYSLOG, "SYSLOG: "}, {TRC_MONCMD, "MONCMD: "}, {TRC_VT100, "VT100: "},
    {TRC_HTTP, "HTTP: "},
};

// The trace lock serialises all trace output, the text and the copy file.
std::mutex g_mu;
std::array<std::string, kTraceLines> g_lines;   // each begins with CR LF
int g_oldest = 0;
bool g_linesReady = false;
int g_fd = -1;
std::string g_fileName;

// The pane refresher: a burst of lines costs one refresh.
struct Refresher {
    std::mutex mu;
    std::condition_variable cv;
    std::thread thread;
    bool running = false, dirty = false, stop = false;
    // A program that never called TraceShutdown still ends cleanly.
    ~Refresher() {
        {
            std::lock_guard l(mu);
            stop = true;
        }
        cv.notify_all();
        if (thread.joinable()) thread.join();
    }
} g_refresh;

// Servers shown in the caption, in display order.
struct ServerSlot {
    const char* key;
    std::string shown;   // empty when not running
};
std::mutex g_capMu;
std::array<ServerSlot, 6> g_servers = {{{"Telnet", {}}, {"Dhcp", {}}, {"Ftp", {}}, {"Tftp", {}},
                                        {"Syslog", {}}, {"Moncmd", {}}}};

const char* CategoryName(uint32_t mask) {
    for (const auto& c : kCategories)
        if (c.bit == mask) return c.name;
    return nullptr;
}

void EnsureLinesLocked() {
    if (g_linesReady) return;
    for (auto& l : g_lines) l = "\r\n";
    g_oldest = 0;
    g_linesReady = true;
}

std::string JoinLinesLocked() {
    EnsureLinesLocked();
    std::string text;
    size_t total = 0;
    for (const auto& l : g_lines) total += l.size();
    text.reserve(total);
    for (int i = 0; i < kTraceLines; ++i) text += g_lines[(g_oldest + i) % kTraceLines];
    return text;
}

// Called with the trace lock held after the text changed.
void PaneChangedLocked() {
    {
        std::lock_guard l(g_refresh.mu);
        if (g_refresh.running) {
            g_refresh.dirty = true;
            g_refresh.cv.notify_one();
            return;
        }
    }
    ui().TraceText(JoinLinesLocked());
}

void RefresherLoop() {
    std::unique_lock l(g_refresh.mu);
    for (;;) {
        g_refresh.cv.wait(l, [] { return g_refresh.dirty || g_refresh.stop; });
        if (g_refresh.stop) return;
        // Let the burst finish; stop ends the wait at once.
        if (g_refresh.cv.wait_for(l, std::chrono::milliseconds(kPushDelayMs), [] { return g_refresh.stop; }))
            return;   // the stopper pushes what is pending
        g_refresh.dirty = false;
        l.unlock();
        std::string text = TraceText();
        ui().TraceText(text);
        l.lock();
    }
}

void AddLineLocked(const std::string& line) {
    EnsureLinesLocked();
    g_lines[g_oldest] = line;
    g_oldest = (g_oldest + 1) % kTraceLines;
    // A full disk loses the copy, never the pane.
    if (g_fd >= 0) WriteAll(g_fd, line.data(), line.size());
}

std::string StampText() {
    if (!g_cfg.TRACE_TSTAMP_ENABLE) return {};
    return TimestampBracketed(-1) + " ";
}

int OpenFile(const char* path) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        ERROR_REPORT("Can't open trace file: %s", path);
        return 0;
    }
    std::lock_guard l(g_mu);
    if (g_fd >= 0) ::close(g_fd);
    g_fd = fd;
    g_fileName = path;
    return 1;
}

void PushCaption(const std::string& caption) { ui().TraceCaption(caption); }

}  // namespace

int TracePrintf(uint32_t mask, const char* fmt, ...) {
    // The category test costs nothing more than this for a disabled category.
    if (mask != TRC_ALWAYS && !(mask & g_cfg.TRACEFLAGS)) return 0;

    // SYSLOG lines also go to the standard log, after the trace lock is
    // released: the log may have to ask the user about a failed write.
    std::string toLog;
    const bool logIt = mask == TRC_SYSLOG && g_cfg.SYSLOG_TOLOG_ENABLED;
    std::unique_lock l(g_mu);
    char text[kFormatSize];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (n < 0) return 0;
    size_t len = std::min(static_cast<size_t>(n), sizeof text - 1);

    const char* name = CategoryName(mask);
    std::string first;
    if (name) {
        first = "\r\n";
        first += StampText();
        first += name;
    }

    int added = 0;
    bool changed = false;
    size_t start = 0;
    bool firstPiece = true;
    for (;;) {
        size_t end = start;
        while (end < len && text[end] != '\r' && text[end] != '\n') ++end;
        std::string line = firstPiece ? first : std::string("\r\n   ");
        line.append(text + start, end - start);
        if (line.size() < kMaxLine) {
            AddLineLocked(line);
            if (logIt) toLog += line;
            added += static_cast<int>(line.size());
            changed = true;
        }
        if (end >= len) break;
        // CR LF and LF CR are one break.
        size_t next = end + 1;
        if (next < len && (text[next] == '\r' || text[next] == '\n') && text[next] != text[end]) ++next;
        start = next;
        firstPiece = false;
    }
    if (changed) PaneChangedLocked();
    l.unlock();
    if (!toLog.empty()) LogWrite(toLog.data(), toLog.size());
    return added;
}

void TraceInit() {
    {
        std::lock_guard l(g_mu);
        EnsureLinesLocked();
    }
    {
        std::lock_guard l(g_refresh.mu);
        if (!g_refresh.running) {
            g_refresh.stop = false;
            g_refresh.running = true;
            g_refresh.thread = std::thread(RefresherLoop);
        }
    }
    CommandRegister({CMD_CFG_TRACE, "&Config", "System &Trace...", [] { ui().ShowDialog("System Trace Config..."); }});
    CommandRegister({CMD_CLEAR_TRACE, "&Edit", "Clear&Trace", TraceClear});
    CommandRegister({CMD_VIEW_SYSTRACE, "&View", "&SysTrace", TraceToggleVisible, true});
    CommandRegister({CMD_TRACE_TOGGLE, "", "", TraceToggleVisible});
    CommandRegister({CMD_TRACE_DEBUG, "", "", TraceToggleDebug});
    ui().MenuCheck(CMD_VIEW_SYSTRACE, g_cfg.TRACE_VISIBLE != 0);
    TraceRefreshCaption();
    ui().TraceText(TraceText());
    ui().Relayout();
}

void TraceShutdown() {
    std::thread t;
    bool push = false;
    {
        std::lock_guard l(g_refresh.mu);
        if (g_refresh.running) {
            g_refresh.stop = true;
            g_refresh.cv.notify_all();
            t = std::move(g_refresh.thread);
            push = g_refresh.dirty;
        }
    }
    if (t.joinable()) t.join();
    {
        std::lock_guard l(g_refresh.mu);
        g_refresh.running = false;
        g_refresh.dirty = false;
        g_refresh.stop = false;
    }
    if (push) ui().TraceText(TraceText());
    TraceCloseFile();
}

void TraceInsertBlank() { TracePrintf(TRC_ALWAYS, "\n"); }

void TraceClear() {
    std::lock_guard l(g_mu);
    g_linesReady = false;
    EnsureLinesLocked();
    PaneChangedLocked();
}

void TraceToggleVisible() {
    g_cfg.TRACE_VISIBLE = !g_cfg.TRACE_VISIBLE;
    ui().MenuCheck(CMD_VIEW_SYSTRACE, g_cfg.TRACE_VISIBLE != 0);
    ui().Relayout();
}

void TraceToggleDebug() {
    if (g_cfg.TRACEFLAGS & TRC_DEBUG) {
        // Written first, while the category still shows.
        TracePrintf(TRC_DEBUG, "Debug disabled");
        g_cfg.TRACEFLAGS &= ~TRC_DEBUG;
    } else {
        g_cfg.TRACEFLAGS |= TRC_DEBUG;
        TracePrintf(TRC_DEBUG, "Debug enabled");
    }
}

int TraceOpenFile(const char* path) {
    if (!OpenFile(path)) return 0;
    g_cfg.TRACEFLAGS = TRC_ALL & ~TRC_DEBUG;
    return 1;
}

int TraceCopyToFile(const char* path) { return OpenFile(path); }

void TraceCloseFile() {
    std::lock_guard l(g_mu);
    if (g_fd >= 0) ::close(g_fd);
    g_fd = -1;
    g_fileName.clear();
}

int TraceApplyConfig(uint32_t flags, bool stamps, int rows, bool copy, const char* file) {
    g_cfg.TRACEFLAGS = flags & TRC_ALL;
    g_cfg.TRACE_TSTAMP_ENABLE = stamps;
    g_cfg.TRACE_ROWS = std::clamp(rows, 1, kTraceLines);
    int ok = 1;
    if (copy) ok = TraceCopyToFile(file);
    else TraceCloseFile();
    ui().Relayout();
    return ok;
}

std::string TraceFileName() {
    std::lock_guard l(g_mu);
    return g_fileName;
}

std::string TraceText() {
    std::lock_guard l(g_mu);
    return JoinLinesLocked();
}

std::string TraceCaptionText() {
    std::lock_guard l(g_capMu);
    std::string caption = "SysTrace";
    bool any = false;
    for (const auto& s : g_servers) {
        if (s.shown.empty()) continue;
        caption += any ? ", " : "  (srvrs: ";
        caption += s.shown;
        any = true;
    }
    if (any) caption += ")";
    return caption;
}

void TraceRefreshCaption() { PushCaption(TraceCaptionText()); }

void TraceSetServerRunning(const char* name, bool on) {
    {
        std::lock_guard l(g_capMu);
        for (auto& s : g_servers)
            if (std::strncmp(name, s.key, std::strlen(s.key)) == 0) s.shown = on ? name : "";
    }
    TraceRefreshCaption();
}
