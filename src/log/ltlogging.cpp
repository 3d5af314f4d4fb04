#include "log/ltlogging.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "util/utils.h"
#include "platform/report.h"
#include "config/configrecord.h"
#include "log/logging.h"
#include "platform/clock.h"

#define OXEL_MODULE "ltlogging"

namespace {

constexpr long kMaxPurgeMb = 2000;
constexpr uint64_t kMegabyte = 1000000;

// Guards the day's descriptor: readers of several backends and tag writers
// may write at once, and a day change must close and open exactly once.
std::mutex g_mu;
int g_fd = -1;
int g_date = 0;   // yyyymmdd of the open file
std::atomic<bool> g_writeFailTold{false};

int DateKey(const LocalTime& t) { return t.year * 10000 + t.month * 100 + t.day; }

const char* BannerFormat(LtlogReason reason) {
    switch (reason) {
    case LTLOG_STOP: return "\n##### OXELLOG STOP:  %b_%d,%Y@%H:%M:%S\n";
    case LTLOG_NEXTDAY: return "\n##### OXELLOG STOP (NEXTDAY): %b_%d,%Y@%H:%M:%S\n";
    case LTLOG_NEWFILE: return "\n##### OXELLOG STOP (NEWFILE): %b_%d,%Y@%H:%M:%S\n";
    case LTLOG_TERMINATE: return "\n##### OXELLOG STOP (TERMINATE): %b_%d,%Y@%H:%M:%S\n";
    default: return "\n##### OXELLOG ERROR (DEFAULT): %b_%d,%Y@%H:%M:%S\n";
    }
}
constexpr const char* kStartBanner = "\n##### OXELLOG START: %b_%d,%Y@%H:%M:%S\n";

std::string Banner(const char* fmt) {
    struct tm tm;
    LocalTimeToTm(ClockNow(), &tm);
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, fmt, &tm);
    return std::string(buf, n);
}

void WriteLocked(const std::string& s, int& err) {
    if (g_fd >= 0 && !s.empty() && !WriteAll(g_fd, s.data(), s.size()) && !err) err = errno;
}

void WriteHeaderLocked(int& err) {
    if (!g_cfg.LOGGING_OMITHDR) WriteLocked(LogHeaderLine(), err);
}

void CloseLocked(LtlogReason reason) {
    if (g_fd < 0) return;
    int err = 0;
    WriteLocked(Banner(BannerFormat(reason)), err);
    ::close(g_fd);
    g_fd = -1;
}

// Opens today's file for the configured directory and prefix; 0 or errno.
int OpenTodayLocked(std::string& name) {
    LocalTime now = ClockNow();
    name = LtlogFileName(CFG_GET_STRING(g_cfg.LTLOG_DIR), CFG_GET_STRING(g_cfg.LTLOG_PREFIX));
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return errno ? errno : EIO;
    g_fd = fd;
    g_date = DateKey(now);
    g_writeFailTold = false;
    return 0;
}

void TellOpenFailure(const std::string& name, int err) {
    errno = err;
    ERROR_REPORT("Can't open long-term log file: %s", name.c_str());
}

void TellWriteFailureOnce(int err) {
    if (g_writeFailTold.exchange(true)) return;
    errno = err;
    ERROR_REPORT("Write to long-term log failed: %s", CFG_GET_STRING(g_cfg.LTLOG_DIR).c_str());
}

struct LogFile {
    std::string path;
    uint64_t size;
};

// The prefix's files, oldest date first.
std::vector<LogFile> ListFiles() {
    std::vector<LogFile> files;
    const std::string dir = CFG_GET_STRING(g_cfg.LTLOG_DIR);
    const std::string lead = CFG_GET_STRING(g_cfg.LTLOG_PREFIX) + "_";
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return files;
    while (struct dirent* e = ::readdir(d)) {
        if (std::strncmp(e->d_name, lead.c_str(), lead.size()) != 0) continue;
        std::string path = dir.empty() ? e->d_name : dir + "/" + e->d_name;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files.push_back({path, static_cast<uint64_t>(st.st_size)});
    }
    ::closedir(d);
    std::sort(files.begin(), files.end(), [](const LogFile& a, const LogFile& b) { return a.path < b.path; });
    return files;
}

}  // namespace

std::string LtlogFileName(const std::string& dir, const std::string& prefix) {
    LocalTime now = ClockNow();
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", now.year, now.month, now.day);
    std::string name = dir;
    if (!name.empty() && name.back() != '/') name += '/';
    return name + prefix + "_" + date;
}

int LtlogPurge() {
    if (g_cfg.LTLOG_PURGESIZE <= 0) return 0;
    std::vector<LogFile> files = ListFiles();
    if (files.empty()) return -1;
    uint64_t total = 0;
    for (const auto& f : files) total += f.size;
    const uint64_t limit = static_cast<uint64_t>(g_cfg.LTLOG_PURGESIZE) * kMegabyte;
    int deleted = 0;
    for (const auto& f : files) {
        if (total < limit) break;
        if (::unlink(f.path.c_str()) == 0) deleted = 1;   // failures are passed over
        total -= f.size;
    }
    return deleted;
}

bool LtlogIsOpen() {
    std::lock_guard l(g_mu);
    return g_fd >= 0;
}

void LtlogStart() {
    if (!g_cfg.LTLOG_ENABLED) return;
    LtlogPurge();
    std::string name;
    int err, werr = 0;
    {
        std::lock_guard l(g_mu);
        CloseLocked(LTLOG_DEFAULT);
        err = OpenTodayLocked(name);
        if (!err) {
            WriteHeaderLocked(werr);
            WriteLocked(Banner(kStartBanner), werr);
        }
    }
    if (err) {
        TellOpenFailure(name, err);
        g_cfg.LTLOG_ENABLED = 0;
    } else if (werr) {
        TellWriteFailureOnce(werr);
    }
}

void LtlogWrite(const char* bytes, size_t count) {
    if (!g_cfg.LTLOG_ENABLED) return;
    std::string failed;
    int openErr = 0, writeErr = 0;
    {
        std::lock_guard l(g_mu);
        if (g_fd < 0) return;
        // The day change belongs to the write that first sees it.
        if (DateKey(ClockNow()) != g_date) {
            CloseLocked(LTLOG_NEXTDAY);
            LtlogPurge();
            openErr = OpenTodayLocked(failed);
            if (openErr) g_cfg.LTLOG_ENABLED = 0;
            else WriteHeaderLocked(writeErr);
        }
        if (g_fd >= 0 && count && !WriteAll(g_fd, bytes, count) && !writeErr) writeErr = errno;
    }
    if (openErr) TellOpenFailure(failed, openErr);
    if (writeErr) TellWriteFailureOnce(writeErr);
}

void LtlogClose(LtlogReason reason) {
    std::lock_guard l(g_mu);
    CloseLocked(reason);
}

void LtlogConfigure(bool enabled, const char* dirText, const char* prefixText, long purgeMb) {
    // Copies: the caller may pass the keys themselves.
    const std::string dirCopy = dirText ? dirText : "", prefixCopy = prefixText ? prefixText : "";
    const char* dir = dirCopy.c_str();
    const char* prefix = prefixCopy.c_str();
    if (purgeMb > kMaxPurgeMb) {
        purgeMb = kMaxPurgeMb;
        OxelMessageBox("LongTermLogging", "Max purge size is 2000 MgByte");
    }
    g_cfg.LTLOG_PURGESIZE = static_cast<int32_t>(std::max(purgeMb, -1L));
    const bool running = g_cfg.LTLOG_ENABLED && LtlogIsOpen();
    if (!enabled) {
        if (running) {
            g_cfg.LTLOG_ENABLED = 0;
            LtlogClose(LTLOG_STOP);
        }
        CFG_SET_STRING(g_cfg.LTLOG_DIR, dir);
        CFG_SET_STRING(g_cfg.LTLOG_PREFIX, prefix);
        return;
    }
    if (!*dir) {
        OxelMessageBox("LongTermLogging", "No dirname specified");
        return;
    }
    if (!*prefix) {
        OxelMessageBox("LongTermLogging", "No prefix specified");
        return;
    }
    const bool same = std::strcmp(dir, g_cfg.LTLOG_DIR) == 0 && std::strcmp(prefix, g_cfg.LTLOG_PREFIX) == 0;
    if (running && same) return;
    std::string name;
    int err, werr = 0;
    {
        std::lock_guard l(g_mu);
        if (running) CloseLocked(LTLOG_NEWFILE);
        CFG_SET_STRING(g_cfg.LTLOG_DIR, dir);
        CFG_SET_STRING(g_cfg.LTLOG_PREFIX, prefix);
        err = OpenTodayLocked(name);
        if (!err) {
            WriteLocked(Banner(kStartBanner), werr);
            WriteHeaderLocked(werr);
        }
    }
    if (err) {
        TellOpenFailure(name, err);
        g_cfg.LTLOG_ENABLED = 0;
        return;
    }
    g_cfg.LTLOG_ENABLED = 1;
    if (werr) TellWriteFailureOnce(werr);
}
