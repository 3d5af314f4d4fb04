#include "config/configfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/commands.h"
#include "platform/report.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "platform/ui.h"
#include "config/shellvar.h"

#define OXEL_MODULE "configfile"

namespace {

constexpr const char* kHeaderMark = "########";
constexpr size_t kMaxValue = 2048;       // longest string or ENVIRONMENT value
// Bytes of one line kept for parsing; the rest of a longer line is read and
// dropped so that it can never be taken for further lines.
constexpr size_t kLineKeep = 4096;
constexpr unsigned kLineBoxStyle = MB_OKCANCEL | MB_ICONEXCLAMATION | MB_SYSTEMMODAL;

// Older binary images.
constexpr uint32_t kImageVersion = 0x07770800;
constexpr uint32_t kImageBase = 0x07770000;
constexpr uint32_t kImageMax = 52232;


std::atomic<bool> g_sessionOnly{false};
std::atomic<bool> g_loaded{false}, g_saved{false};
std::mutex g_pathMu;
std::string g_currentPath;

void SetCurrentPath(const std::string& path) {
    std::lock_guard l(g_pathMu);
    g_currentPath = path;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsQuoted(std::string_view v) { return v.size() >= 2 && v.front() == '"' && v.back() == '"'; }

// ---- reading -------------------------------------------------------------

// One physical line, its newline removed. False at the end of the file.
// Keeps at most kLineKeep bytes and says whether more were dropped.
bool ReadLine(FILE* f, std::string& line, bool& truncated) {
    line.clear();
    truncated = false;
    int c;
    bool any = false;
    while ((c = getc_unlocked(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line.size() < kLineKeep) line.push_back(static_cast<char>(c));
        else truncated = true;
    }
    if (!any) return false;
    // Files written on other systems end lines with CR LF.
    if (!truncated && !line.empty() && line.back() == '\r') line.pop_back();
    // The line is text: a NUL ends it.
    auto nul = line.find('\0');
    if (nul != std::string::npos) line.erase(nul);
    return true;
}

// Unsigned keys read like strtoul: a leading minus wraps around, so a value
// written with "%d" reads back unchanged.
uint32_t ParseKeyNumber(const std::string& value) {
    const char* p = value.c_str();
    while (IsBlank(*p)) p++;
    if (*p == '-') return static_cast<uint32_t>(ParseSignedLoose(p));
    return ParseUnsignedLoose(p);
}

// What a line did besides setting a field: "Config" boxes to show first, and
// the line's error, if any.
struct LineResult {
    std::vector<std::string> valueBoxes;
    std::string error;
};

// A file is loaded into a copy of the record, swapped in when the load ends,
// so reader threads never see a half-loaded record.
thread_local ConfigRecord* t_target = nullptr;

// The field of the record being loaded that corresponds to the g_cfg field a key names.
void* TargetField(const ConfigKey& key) {
    auto offset = static_cast<const char*>(key.field) - reinterpret_cast<const char*>(&g_cfg);
    return reinterpret_cast<char*>(t_target ? t_target : &g_cfg) + offset;
}

// The box shows at most this much of the offending value, so that the words
// after it always fit in the box text.
constexpr size_t kBoxValueShown = 1024;

std::string ValueBox(const std::string& value, const char* verdict) {
    std::string shown = value.size() > kBoxValueShown ? value.substr(0, kBoxValueShown) + "..." : value;
    return "Value '" + shown + "' " + verdict;
}

// Stores a quoted string value; false when the line counts as unknown.
bool SetString(const ConfigKey& key, const std::string& value, bool truncated, LineResult& r) {
    if (!key.field) return true;  // accepted and ignored
    if (truncated || value.size() > kMaxValue) {
        r.valueBoxes.push_back(ValueBox(value, "too big"));
        return false;
    }
    if (!IsQuoted(value)) return false;
    std::string inner = value.substr(1, value.size() - 2);
    if (value.size() >= key.capacity) {
        r.valueBoxes.push_back(ValueBox(inner, "too long"));
        return false;
    }
    ConfigSetString(static_cast<char*>(TargetField(key)), key.capacity, inner.c_str());
    return true;
}

bool SetEnvironment(const std::string& value, bool truncated, LineResult& r) {
    if (truncated || value.size() > kMaxValue) {
        r.valueBoxes.push_back(ValueBox(value, "too big"));
        return false;
    }
    if (!IsQuoted(value)) return false;
    std::string inner = value.substr(1, value.size() - 2);
    auto space = inner.find(' ');
    if (space == std::string::npos || space == 0) return false;
    std::string name = inner.substr(0, space);
    shell_setenv(name.c_str(), inner.c_str() + space + 1);
    shell_export(name.c_str(), true);
    return true;
}

// Offers name/value to the typed tables in read order; false when no key
// takes it.
bool ApplyKey(const std::string& name, const std::string& value, bool truncated, LineResult& r) {
    size_t n = 0;
    const ConfigKeyTable* const* order = ConfigReadOrder(&n);
    for (size_t t = 0; t < n; t++) {
        const ConfigKeyTable& table = *order[t];
        for (size_t i = 0; i < table.count; i++) {
            const ConfigKey& key = table.keys[i];
            if (name != key.name) continue;
            if (table.type == KeyType::String) return SetString(key, value, truncated, r);
            if (!key.field) return true;
            if (truncated) {
                r.valueBoxes.push_back(ValueBox(value, "too big"));
                return false;
            }
            void* field = TargetField(key);
            switch (table.type) {
            case KeyType::Boolean:
                static_cast<CfgInt*>(field)->set(value == "TRUE" ? 1 : 0);
                break;
            case KeyType::Byte:
                static_cast<CfgByte*>(field)->set(static_cast<uint8_t>(ParseKeyNumber(value)));
                break;
            case KeyType::Word16:
                static_cast<CfgWord*>(field)->set(static_cast<uint16_t>(ParseKeyNumber(value)));
                break;
            case KeyType::Hex32:
                static_cast<CfgHex*>(field)->set(ParseKeyNumber(value));
                break;
            case KeyType::Decimal32:
                static_cast<CfgInt*>(field)->set(static_cast<int32_t>(ParseKeyNumber(value)));
                break;
            case KeyType::Signed32:
                static_cast<CfgInt*>(field)->set(ParseSignedLoose(value.c_str()));
                break;
            case KeyType::String:
                break;
            }
            return true;
        }
    }
    if (name == "ENVIRONMENT") return SetEnvironment(value, truncated, r);
    return false;
}

std::string LineError(const char* fmt, int lineNo) {
    char buf[96];
    std::snprintf(buf, sizeof buf, fmt, lineNo);
    return buf;
}

// One line of a text configuration file: sets its key or says what is wrong.
LineResult ParseLine(const std::string& line, int lineNo, bool truncated) {
    LineResult r;
    if (!line.empty() && line[0] == '#') return r;
    size_t blank = 0;
    while (blank < line.size() && !IsBlank(line[blank])) blank++;
    if (blank == line.size()) {
        r.error = LineError("Configfile error at line %d: no space", lineNo);
        return r;
    }
    if (blank == 0) {
        r.error = LineError("Configfile error at line %d: no name", lineNo);
        return r;
    }
    size_t start = blank;
    while (start < line.size() && IsBlank(line[start])) start++;
    if (start == line.size()) {
        r.error = LineError("Configfile error at line %d: no value", lineNo);
        return r;
    }
    std::string name = line.substr(0, blank);
    std::string value = line.substr(start);
    if (name == "LOGGING_FD" || name == "HIRES_TIMING") return r;
    if (!ApplyKey(name, value, truncated, r)) {
        r.error = LineError("Configfile error at line %d: invalid name '", lineNo) + name + "'";
    }
    return r;
}

// Tells the user about one line; false when the load is to stop.
bool ReportLine(const LineResult& r, const std::string& path) {
    for (const auto& text : r.valueBoxes) OxelMessageBox("Config", "%s", text.c_str());
    if (r.error.empty()) return true;
    return OxelMessageBoxStyle(kLineBoxStyle, path.c_str(), "%s", r.error.c_str()) == IDOK;
}

void AfterLoad(ConfigRecord& c, uint32_t traceBefore) {
    if (c.BACKEND_TELNET_ENABLED) c.BACKEND = 2;
    else if (c.BACKEND_MONCMD_ENABLED) c.BACKEND = 3;
    else if (c.BACKEND_COMPORT_ENABLED) c.BACKEND = 1;
    else if (c.BACKEND_PLINK_ENABLED) c.BACKEND = 4;
    if ((c.FLOWCTRL & 0x01) && (c.FLOWCTRL & 0x08)) c.FLOWCTRL &= ~0x01;
    if ((c.FLOWCTRL & 0x02) && (c.FLOWCTRL & 0x10)) c.FLOWCTRL &= ~0x02;
    c.TRACEFLAGS |= traceBefore;
    if (!c.LTLOG_PREFIX[0]) CFG_SET_STRING(c.LTLOG_PREFIX, "oxelLog");
}

int LoadText(FILE* f, const std::string& path) {
    auto rec = std::make_unique<ConfigRecord>();
    {
        std::lock_guard l(ConfigMutex());
        *rec = g_cfg;
    }
    const uint32_t traceBefore = rec->TRACEFLAGS;
    t_target = rec.get();
    std::string line;
    bool truncated = false;
    int lineNo = 0, ok = 1;
    while (ok && ReadLine(f, line, truncated)) {
        ++lineNo;
        if (!ReportLine(ParseLine(line, lineNo, truncated), path)) ok = 0;
    }
    t_target = nullptr;
    if (ok && std::ferror(f)) {
        ERROR_REPORT("%s", path.c_str());
        ok = 0;
    }
    // What was read before a refused line stays, as it always has.
    if (ok) AfterLoad(*rec, traceBefore);
    ConfigReplace(*rec);
    ui().SetTitle(CFG_GET_STRING(g_cfg.TITLEBAR));
    ui().StatusRefresh();
    return ok;
}

// Images of the older binary record. Their layout is not carried forward:
// the user is told and the file is refused, leaving the record untouched.
int LoadBinary(const unsigned char* head, size_t headLen) {
    if (headLen < 4) {
        OxelMessageBox("ERROR", "Invalid config file.");
        return 0;
    }
    OxelMessageBox("New configuration file format",
                   "Rev-4 (and later) Oxel uses an ASCII configuration file. Future saves will "
                   "convert this configfile to the newer ASCII format.");
    uint32_t version = head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24;
    uint32_t length = kImageMax;
    if (version != kImageVersion) {
        if (version - kImageBase > 0xFFFF) {
            OxelMessageBox("ERROR", "Invalid config file.");
            return 0;
        }
        length = version - kImageBase;
    }
    if (length > kImageMax) {
        OxelMessageBox("ERROR", "Invalid config file (too big).");
        return 0;
    }
    OxelMessageBox("ERROR", "Invalid config file.");
    return 0;
}

// The file a name refers to: as given, else (relative names) in the "config"
// directory. Empty after telling the user.
std::string ResolveLoadPath(const std::string& name) {
    struct stat st;
    std::string path = name;
    if (name.empty()) {
        errno = ENOENT;
        ERROR_REPORT("%s", name.c_str());
        return {};
    }
    if (stat(path.c_str(), &st) != 0) {
        int err = errno;
        std::string dir = InstallDir();
        if (dir.empty() || name[0] == '/') {
            errno = err;
            ERROR_REPORT("%s", name.c_str());
            return {};
        }
        path = dir + "/config/" + name;
        if (stat(path.c_str(), &st) != 0) {
            ERROR_REPORT("%s", name.c_str());
            return {};
        }
    }
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        ERROR_REPORT("%s", path.c_str());
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        // Pipes and devices would block or never end.
        errno = 0;
        ERROR_REPORT("%s: not a regular file", path.c_str());
        return {};
    }
    return path;
}

// ---- writing -------------------------------------------------------------

// The field of rec that corresponds to the g_cfg field a key names.
const void* FieldIn(const ConfigRecord& rec, const void* field) {
    auto offset = static_cast<const char*>(field) - reinterpret_cast<const char*>(&g_cfg);
    return reinterpret_cast<const char*>(&rec) + offset;
}

// String values are written as they are; a line break would start a new line
// in the file and be read as a key, so it is written as a blank.
std::string OneLine(const char* text, size_t cap) {
    std::string s(text, strnlen(text, cap));
    for (char& ch : s)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return s;
}

void AppendF(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void AppendF(std::string& out, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n > 0) {
        size_t at = out.size();
        out.resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, fmt, ap);
        out.resize(at + static_cast<size_t>(n));
    }
    va_end(ap);
}

std::string FormatFile(const ConfigRecord& rec) {
    std::string out;
    out += "###################################################\n#\n";
    out += "# Oxel configuration file\n";
    out += "# Oxel assumes this file is machine generated.\n";
    out += "# If you don't know what you're doing, don't touch!\n";
    out += "#\n";
    size_t n = 0;
    const ConfigKeyTable* tables = ConfigTables(&n);
    for (size_t t = 0; t < n; t++) {
        const ConfigKeyTable& table = tables[t];
        for (size_t i = 0; i < table.count; i++) {
            const ConfigKey& key = table.keys[i];
            if (!key.field) continue;
            const void* f = FieldIn(rec, key.field);
            switch (table.type) {
            case KeyType::Boolean:
                AppendF(out, "%-24s %s\n", key.name, static_cast<const CfgInt*>(f)->get() ? "TRUE" : "FALSE");
                break;
            case KeyType::Byte:
                AppendF(out, "%-24s 0x%02x\n", key.name, static_cast<const CfgByte*>(f)->get());
                break;
            case KeyType::Word16:
                AppendF(out, "%-24s %d\n", key.name, static_cast<const CfgWord*>(f)->get());
                break;
            case KeyType::Decimal32:
            case KeyType::Signed32:
                AppendF(out, "%-24s %d\n", key.name, static_cast<const CfgInt*>(f)->get());
                break;
            case KeyType::Hex32:
                AppendF(out, "%-24s 0x%08x\n", key.name, static_cast<const CfgHex*>(f)->get());
                break;
            case KeyType::String:
                AppendF(out, "%-24s \"%s\"\n", key.name,
                        OneLine(static_cast<const char*>(f), key.capacity).c_str());
                break;
            }
        }
    }
    for (const auto& [name, value] : shell_exported()) {
        std::string v = OneLine(value.c_str(), value.size());
        AppendF(out, "%-24s \"%s %s\"\n", "ENVIRONMENT", name.c_str(), v.c_str());
    }
    return out;
}

// Writes data to path through a new file in the same directory renamed over
// it, so a failed save never leaves a half-written configuration behind.
int WriteFileAtomically(const std::string& path, const std::string& data) {
    std::string target = path;
    struct stat st;
    bool exists = lstat(path.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        // Replace the file a link points to, not the link.
        char real[PATH_MAX];
        if (realpath(path.c_str(), real)) target = real;
        exists = stat(target.c_str(), &st) == 0;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ERROR_REPORT("%s", path.c_str());
        return 0;
    }
    static std::atomic<unsigned> serial{0};
    std::string temp = target + ".tmp" + std::to_string(getpid()) + "." + std::to_string(serial++);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        ERROR_REPORT("%s", path.c_str());
        return 0;
    }
    if (exists) fchmod(fd, st.st_mode & 07777);
    bool ok = WriteAll(fd, data.data(), data.size()) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        errno = err;
        ERROR_REPORT("%s", path.c_str());
        return 0;
    }
    return 1;
}


std::optional<std::string> AskSaveName() {
    UiFileRequest req;
    req.save = true;
    req.title = kConfigFilePrompt;
    req.filter = kConfigFileFilter;
    std::string last = ConfigString(g_cfg.LAST_CFG_FILE, sizeof g_cfg.LAST_CFG_FILE);
    req.startDir = last.empty() ? InstallDir() + "/config" : last;
    return ui().ChooseFile(req);
}

}  // namespace

int ConfigLoad(const char* name) {
    if (!name) return 0;
    if (std::strcmp(name, "NULL") == 0) return 1;
    std::string path = ResolveLoadPath(name);
    if (path.empty()) return 0;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        ERROR_REPORT("%s", name);
        return 0;
    }
    unsigned char head[8];
    size_t got = std::fread(head, 1, sizeof head, f);
    int ok;
    if (got == sizeof head && std::memcmp(head, kHeaderMark, sizeof head) == 0) {
        std::rewind(f);
        ok = LoadText(f, path);
    } else if (std::ferror(f)) {
        ERROR_REPORT("%s", path.c_str());
        ok = 0;
    } else {
        ok = LoadBinary(head, got);
    }
    std::fclose(f);
    if (ok) {
        g_loaded = true;
        SetCurrentPath(path);
    }
    return ok;
}

int ConfigSave(const char* name) {
    // Written from a copy: the file gets one consistent record and the live
    // one keeps the session's values.
    auto rec = std::make_unique<ConfigRecord>(g_cfg);
    if (g_sessionOnly) {
        rec->BACKEND = 1;
        rec->COMPORT = 0;
        rec->BACKEND_COMPORT_ENABLED = 1;
        rec->BACKEND_TELNET_ENABLED = rec->BACKEND_MONCMD_ENABLED = rec->BACKEND_PLINK_ENABLED = 0;
    }
    if (rec->TOPLEFT_X < 0 && rec->TOPLEFT_X >= -16777215) rec->TOPLEFT_X = 0;
    if (rec->TOPLEFT_Y < 0 && rec->TOPLEFT_Y >= -16777215) rec->TOPLEFT_Y = 0;

    bool given = name && *name;
    std::string path;
    if (given) {
        path = name;
    } else {
        auto chosen = AskSaveName();
        if (!chosen || chosen->empty()) return 0;
        path = *chosen;
    }
    path = ConfigCtName(path);

    struct stat st;
    if (!given && stat(path.c_str(), &st) == 0 &&
        OxelMessageBoxStyle(MB_OKCANCEL, path.c_str(), "File exists, overwrite?") != IDOK)
        return 0;

    if (!WriteFileAtomically(path, FormatFile(*rec))) return 0;
    CFG_SET_STRING(g_cfg.LAST_CFG_FILE, path.c_str());
    g_saved = true;
    SetCurrentPath(path);
    return 1;
}

std::string ConfigCtName(const std::string& name) {
    const std::string ext = ".ct";
    if (name.size() >= ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
        return name;
    auto slash = name.rfind('/');
    size_t base = slash == std::string::npos ? 0 : slash + 1;
    auto dot = name.find('.', base);
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ext;
}


void ConfigSetSessionOnlyBackend(bool on) { g_sessionOnly = on; }
bool ConfigSessionOnlyBackend() { return g_sessionOnly; }

std::string ConfigString(const char* field, size_t cap) { return std::string(field, strnlen(field, cap)); }

std::string ConfigCurrentPath() {
    std::lock_guard l(g_pathMu);
    return g_currentPath;
}

bool ConfigWasLoaded() { return g_loaded; }
bool ConfigWasSaved() { return g_saved; }
