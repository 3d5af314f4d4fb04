#include "log/logging.h"
#include "util/cmdids.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "util/commands.h"
#include "platform/report.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "log/ltlogging.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "util/cmdline.h"

#define OXEL_MODULE "logging"

namespace {

constexpr int kBuildNumber = 1437;
// Room reserved per stamp when checking a chunk's buffer.
constexpr size_t kStampRoom = 32;
constexpr size_t kStampTimeMax = 27;

struct StampRow {
    const char* label;
    const char* format;
};

constexpr StampRow kRows[kTimestampRows] = {
    {"<hh:mm:ss>", "%H:%M:%S"},
    {"<dd/mm/yyyy_@_24hh:mm:ss>", "%d/%m/%Y @ %H:%M:%S"},
    {"<dd/mm/yyyy_@_12hh:mm:ss AM/PM>", "%d/%m/%Y @ %I:%M:%S %p"},
    {"<monthdd@hh:mm:ss>", "%b%d@%H:%M:%S"},
    {"<month_dd,yyyy@hh:mm:ss>", "%b_%d,%Y@%H:%M:%S"},
    {"<hh:mm:ss.msec>", "%H:%M:%S"},
    {"<yyyymmdd-hh:mm:ss.msec>", "%Y%m%d-%H:%M:%S"},
};

// The log mutex guards the descriptor and its name.
std::mutex g_mu;
int g_fd = -1;
std::atomic<bool> g_writeFailTold{false};
std::atomic<bool> g_binary{false};
std::atomic<XlogHandler> g_xlog{nullptr};
// Line-start flag of the stamp inserter; the received-data path serialises it.
bool g_lineStart = false;

int RowOf(int which) {
    if (which >= 0 && which < kTimestampRows) return which;
    int idx = g_cfg.TSTAMP_FORMAT_IDX;
    // A hand-edited file may hold anything here.
    return idx >= 0 && idx < kTimestampRows ? idx : 0;
}

bool RowHasMillis(int row) { return std::strstr(kRows[row].label, ".msec") != nullptr; }

// strftime into buf, cut to max characters; never fails.
void FormatAt(const LocalTime& t, const char* fmt, char* buf, size_t size, size_t max) {
    if (!buf || !size) return;
    struct tm tm;
    LocalTimeToTm(t, &tm);
    char wide[512];
    size_t n = std::strftime(wide, sizeof wide, fmt, &tm);
    if (n == 0) wide[0] = 0;
    n = std::min({std::strlen(wide), max, size - 1});
    std::memcpy(buf, wide, n);
    buf[n] = 0;
}

std::string Bracketed(const LocalTime& t, int row) {
    char when[kStampTimeMax + 1];
    FormatAt(t, kRows[row].format, when, sizeof when, kStampTimeMax);
    std::string s = "<";
    s += when;
    if (RowHasMillis(row)) {
        char ms[8];
        std::snprintf(ms, sizeof ms, ".%03d", t.millis % 1000);
        s += ms;
    }
    s += ">";
    return s;
}

// The one stamp of a chunk, at most kStampRoom bytes.
std::string ChunkStamp() {
    LocalTime t = ClockNow();
    std::string s;
    if (g_cfg.TSTAMP_CUSTOM) {
        char when[kStampTimeMax + 1];
        FormatAt(t, CFG_GET_STRING(g_cfg.TSTAMP_CUSTOM_FORMAT).c_str(), when, sizeof when, kStampTimeMax);
        s = when;
    } else {
        s = Bracketed(t, RowOf(-1)) + " ";
    }
    if (s.size() > kStampRoom) s.resize(kStampRoom);
    return s;
}

// Called without the log mutex: the box may wait for the user.
void TellWriteFailureOnce(int err) {
    if (g_writeFailTold.exchange(true)) return;
    errno = err;
    ERROR_REPORT("Write to log file failed: %s", CFG_GET_STRING(g_cfg.LOGGING_FILENAME).c_str());
}

void TellOpenFailure(const char* name, int err) {
    errno = err;
    ERROR_REPORT("Can't open log file: %s", name);
}

// Opens LOGGING_FILENAME with the given creation flags and writes the header.
// Returns 0 or the open's errno. Log mutex held.
int OpenLocked(int flags) {
    if (g_fd >= 0) ::close(g_fd);
    g_fd = -1;
    int fd = ::open(g_cfg.LOGGING_FILENAME, O_WRONLY | O_CLOEXEC | flags, 0666);
    if (fd < 0) return errno ? errno : EIO;
    g_fd = fd;
    g_writeFailTold = false;
    if (!g_cfg.LOGGING_OMITHDR) {
        std::string h = LogHeaderLine();
        WriteAll(g_fd, h.data(), h.size());
    }
    return 0;
}

int ModeFlags() { return g_cfg.LOGGING_APPEND ? O_CREAT | O_APPEND : O_CREAT | O_TRUNC; }

// Opens (per flags), reporting a failure and switching logging off; 1/0.
int OpenOrReport(int flags) {
    int err;
    {
        std::lock_guard l(g_mu);
        err = OpenLocked(flags);
    }
    if (err) {
        TellOpenFailure(g_cfg.LOGGING_FILENAME, err);
        g_cfg.LOGGING_ENABLED = 0;
    } else {
        g_cfg.LOGGING_ENABLED = 1;
    }
    ui().MenuCheck(CMD_TB_LOG, g_cfg.LOGGING_ENABLED != 0);
    return err ? 0 : 1;
}

bool KeepByte(unsigned char c, bool dos) {
    if (c >= 32 && c < 127) return true;
    return c == 8 || c == 9 || c == 10 || (c == 13 && dos);
}

void ToggleKey(CfgInt& key, int id) {
    key = !key;
    ui().MenuCheck(id, key != 0);
}


}  // namespace

char* TimestampFormat(char* buf, size_t size, int which) {
    const std::string fmt = which == 99 ? CFG_GET_STRING(g_cfg.TSTAMP_CUSTOM_FORMAT) : kRows[RowOf(which)].format;
    FormatAt(ClockNow(), fmt.c_str(), buf, size, size ? size - 1 : 0);
    return buf;
}

std::string TimestampBracketed(int which) { return Bracketed(ClockNow(), RowOf(which)); }

const char* TimestampLabel(int row) { return kRows[row >= 0 && row < kTimestampRows ? row : 0].label; }

void TimestampSetLineStart(bool on) { g_lineStart = on; }

size_t TimestampInsert(char* data, size_t len, size_t capacity) {
    if (!g_cfg.TSTAMP_ENABLED) return len;
    bool flag = g_lineStart;
    size_t inside = 0;
    for (size_t i = 0; i < len; ++i) {
        char c = data[i];
        if (c == '\r' || c == '\n') flag = true;
        else if (c && flag) {
            ++inside;
            flag = false;
        }
    }
    size_t positions = inside + (flag ? 1 : 0);
    if (positions == 0) return len;
    if (len + positions * kStampRoom >= capacity) {
        TracePrintf(TRC_DEBUG, "timestamp overflow (icnt=%d,max=%d)", static_cast<int>(positions),
                    static_cast<int>(capacity));
        g_lineStart = flag;
        return len;
    }
    const std::string stamp = ChunkStamp();
    thread_local std::string out;
    out.clear();
    out.reserve(len + inside * stamp.size());
    bool at = g_lineStart;
    for (size_t i = 0; i < len; ++i) {
        char c = data[i];
        if (c == '\r' || c == '\n') at = true;
        else if (c && at) {
            out += stamp;
            at = false;
        }
        out += c;
    }
    g_lineStart = at;
    // positions * kStampRoom bytes were free, so this always fits.
    std::memcpy(data, out.data(), out.size());
    return out.size();
}

std::string TimestampToggle() {
    std::string shown;
    if (g_cfg.TSTAMP_AT_TOGGLE) {
        std::string marker = "\r\n";
        if (g_cfg.TSTAMP_CUSTOM) {
            char when[kStampTimeMax + 1];
            TimestampFormat(when, sizeof when, 99);
            marker += when;
            marker += "\r\n";
        } else {
            marker += TimestampBracketed(-1) + "\r\n";
        }
        LogWrite(marker.data(), marker.size());
        shown = marker;
    }
    g_cfg.TSTAMP_ENABLED = !g_cfg.TSTAMP_ENABLED;
    ui().MenuCheck(CMD_TB_TIMESTAMP, g_cfg.TSTAMP_ENABLED != 0);
    return shown;
}

int LogWrite(const char* data, size_t len) {
    if (!g_cfg.LOGGING_ENABLED && !g_cfg.LTLOG_ENABLED) return 0;
    // The copy holds the whole chunk, however long.
    thread_local std::string filtered;
    const char* out = data;
    size_t n = len;
    if (!g_cfg.LOG_NON_PRINTABLES) {
        const bool dos = g_cfg.LOGGING_DOSMODE != 0;
        filtered.clear();
        filtered.reserve(len);
        for (size_t i = 0; i < len; ++i)
            if (KeepByte(static_cast<unsigned char>(data[i]), dos)) filtered += data[i];
        out = filtered.data();
        n = filtered.size();
    }
    int err = 0;
    {
        std::lock_guard l(g_mu);
        if (g_cfg.LOGGING_ENABLED && g_fd >= 0 && n && !WriteAll(g_fd, out, n)) err = errno;
    }
    if (err) TellWriteFailureOnce(err);
    LtlogWrite(out, n);
    return 1;
}

int LogBinaryCapture(const char* data, size_t len) {
    if (!g_binary || !g_cfg.LOGGING_ENABLED) return 0;
    int err = 0;
    {
        std::lock_guard l(g_mu);
        if (g_fd >= 0 && len && !WriteAll(g_fd, data, len)) err = errno;
    }
    if (err) TellWriteFailureOnce(err);
    return 1;
}

void LogSetBinaryCapture(bool on) { g_binary = on; }
bool LogBinaryCaptureOn() { return g_binary; }

std::string LogHeaderLine() {
    char when[64];
    TimestampFormat(when, sizeof when, 4);
    char line[160];
    std::snprintf(line, sizeof line, "##### Log created (%s) with OXEL SVN: %d\n", when, kBuildNumber);
    return line;
}

bool LogIsOpen() {
    std::lock_guard l(g_mu);
    return g_fd >= 0;
}

int LogOpen() { return OpenOrReport(ModeFlags()); }

void LogClose() {
    std::lock_guard l(g_mu);
    if (g_fd >= 0) ::close(g_fd);
    g_fd = -1;
}

int LogTruncate() {
    LogClose();
    if (::unlink(g_cfg.LOGGING_FILENAME) != 0 && errno != ENOENT)
        ERROR_REPORT("Can't delete log file: %s", g_cfg.LOGGING_FILENAME);
    return LogOpen();
}

void LogInsertTag(const char* text) {
    std::string s;
    if (g_cfg.TSTAMP_ENABLED) {
        char when[64];
        TimestampFormat(when, sizeof when, 4);
        s = when;
        s += ": ";
    }
    s += text;
    LogWrite(s.data(), s.size());
}

void LogToggle() {
    if (g_cfg.LOGGING_ENABLED) {
        LogClose();
        g_cfg.LOGGING_ENABLED = 0;
        ui().MenuCheck(CMD_TB_LOG, false);
        return;
    }
    int flags = O_APPEND;   // the named file must exist
    if (!g_cfg.LOGGING_FILENAME[0]) {
        std::string tmp = TempFileName("log");
        if (tmp.empty() || tmp.size() > kLogFileNameMax) {
            OxelMessageBox("No filename specified", "Go to menu-item 'Logging->Standard'");
            return;
        }
        CFG_SET_STRING(g_cfg.LOGGING_FILENAME, tmp.c_str());
        OxelMessageBox("No filename specified", "Using tmp filename (see menu-item 'Logging->Standard')");
        flags = O_CREAT | O_TRUNC;
    }
    OpenOrReport(flags);
}

void LogStartup() {
    if (g_cfg.LOGGING_ENABLED && g_cfg.LTLOG_ENABLED && !g_cfg.LOGGING_NOWARNING)
        OxelMessageBoxStyle(MB_OK | MB_ICONINFORMATION, "Logging notificatiion",
                            "Be aware you have both standard and long-term logging enabled");
    if (g_cfg.LOGGING_ENABLED) LogOpen();
    LtlogStart();
    ui().MenuCheck(CMD_TB_LOG, g_cfg.LOGGING_ENABLED != 0);
    ui().MenuCheck(CMD_TB_TIMESTAMP, g_cfg.TSTAMP_ENABLED != 0);
}

void LogShutdown() {
    LogClose();
    LtlogClose(LTLOG_TERMINATE);
}

void LogInit() {
    CommandRegister({CMD_LOG_STANDARD, "&Logging", "&Standard...", [] { ui().ShowDialog("Standard Logging Configuration..."); }});
    CommandRegister({CMD_LOG_LONGTERM, "&Logging", "&LongTerm...", [] { ui().ShowDialog("LongTerm Logging Configuration..."); }});
    CommandRegister({CMD_LOG_TAG, "&Logging", "Insert &Tag...", [] { ui().ShowDialog("Logging Tag..."); }});
    CommandRegister({CMD_OMITHDR, "&Logging", "&OmitHeader", [] { ToggleKey(g_cfg.LOGGING_OMITHDR, 472); }, true});
    CommandRegister({CMD_NOWARN, "&Logging", "&NoWarn", [] { ToggleKey(g_cfg.LOGGING_NOWARNING, 485); }, true});
    CommandRegister({CMD_CFG_TIMESTAMP, "&Config", "T&imestamp...", [] { ui().ShowDialog("Timestamp Config..."); }});
    CommandRegister({CMD_TB_LOG, "", "", LogToggle});
    ui().MenuCheck(CMD_OMITHDR, g_cfg.LOGGING_OMITHDR != 0);
    ui().MenuCheck(CMD_NOWARN, g_cfg.LOGGING_NOWARNING != 0);
}

void LogSetXlogHandler(XlogHandler handler) { g_xlog = handler; }

int LogApplyConfig(bool enabled, bool append, bool nonPrintables, bool dosMode, bool binary,
                   const char* fileText) {
    // A copy: the caller may pass the key itself.
    const std::string fileCopy = fileText ? fileText : "";
    const char* file = fileCopy.c_str();
    if (std::strncmp(file, "XLOG:", 5) == 0) {
        const char* rest = file + 5;
        while (*rest == ' ' || *rest == '\t') ++rest;
        if (XlogHandler h = g_xlog.load()) h(rest);
        return 1;
    }
    g_cfg.LOGGING_APPEND = append;
    g_cfg.LOG_NON_PRINTABLES = nonPrintables;
    g_cfg.LOGGING_DOSMODE = dosMode;
    g_binary = binary;
    CFG_SET_STRING(g_cfg.LOGGING_FILENAME, file);
    if (enabled) return OpenOrReport(ModeFlags());
    LogClose();
    g_cfg.LOGGING_ENABLED = 0;
    ui().MenuCheck(CMD_TB_LOG, false);
    return 1;
}

void LogTruncateButton() {
    if (g_cfg.LOGGING_ENABLED) {
        OpenOrReport(O_CREAT | O_TRUNC);
        return;
    }
    if (::unlink(g_cfg.LOGGING_FILENAME) != 0) ERROR_REPORT("Can't delete log file: %s", g_cfg.LOGGING_FILENAME);
}
