#include "script/file_cmd.h"

#include <fcntl.h>
#include <glob.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "console/editor.h"
#include "console/screenbuf.h"
#include "platform/report.h"
#include "util/utils.h"
#include "console/screenbuf.h"
#include "platform/net.h"
#include "platform/ui.h"
#include "util/cmdline.h"
#include "script/scripting.h"
#include "config/shellvar.h"

#define OXEL_MODULE "file_cmd"

namespace {

constexpr size_t kHttpHostMax = 128;
constexpr size_t kHttpPathMax = 128;
constexpr int kHttpRecvMs = 1000;
constexpr size_t kMktempPrefixMax = 1000;
constexpr size_t kLinePiece = 1023;

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// One FILE command: the result variable, verbosity and the words after CMD.
struct FileCall {
    std::string var = "FILE";
    int verbose = 0;
    const char* cmd = "";
    std::vector<const char*> args;
    const char* arg(size_t i) const { return i < args.size() ? args[i] : nullptr; }
};

void SetResult(const FileCall& c, const std::string& value) { shell_setenv(c.var.c_str(), value.c_str()); }

bool StatPath(const char* path, struct stat* st) { return stat(path, st) == 0; }

// Reads a whole file; false (errno set) when it cannot.
bool ReadFile(const char* path, std::string& out) {
    struct stat st {};
    if (StatPath(path, &st) && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return !in.bad();
}

// Writes through a temporary file beside path and renames it over path, so
// a failure never leaves half a file.
bool ReplaceFile(const std::string& path, const std::string& data, const char** failed) {
    std::string tmp = path + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        *failed = "could not create tmpfile";
        return false;
    }
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
    bool ok = WriteAll(fd, data.data(), data.size());
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        *failed = "could not overwrite %s";
        return false;
    }
    return true;
}

// ---- the lines of a text file -----------------------------------------------

// The lines as fgets gives them in pieces of kLinePiece bytes (a longer line
// counts more than once), line ends removed.
bool ReadLines(const char* path, std::vector<std::string>& lines) {
    std::string text;
    if (!ReadFile(path, text)) return false;
    size_t i = 0;
    while (i < text.size()) {
        size_t nl = text.find('\n', i);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        if (end - i > kLinePiece) end = i + kLinePiece;
        std::string line = text.substr(i, end - i);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        lines.push_back(line);
        i = end;
    }
    return true;
}

int NotFound(const char* path) {
    script_error("%s: not found.", path);
    return -1;
}

// ---- sub-commands -------------------------------------------------------------

int FileKnownPaths(const FileCall& c) {
    const char* home = std::getenv("HOME");
    std::string h = home ? home : "";
    auto xdg = [&](const char* var, const std::string& fallback) {
        const char* v = std::getenv(var);
        std::string s = v && *v ? v : fallback;
        size_t colon = s.find(':');
        return colon == std::string::npos ? s : s.substr(0, colon);
    };
    std::string docs = h + "/Documents";
    std::ifstream dirs(xdg("XDG_CONFIG_HOME", h + "/.config") + "/user-dirs.dirs");
    for (std::string line; std::getline(dirs, line);)
        if (line.rfind("XDG_DOCUMENTS_DIR=\"", 0) == 0 && line.size() > 20) {
            docs = line.substr(19, line.size() - 20);
            if (docs.rfind("$HOME", 0) == 0) docs = h + docs.substr(5);
        }
    const std::pair<const char*, std::string> paths[] = {
        {"APPDATA", xdg("XDG_CONFIG_HOME", h + "/.config")},
        {"LOCAL_APPDATA", xdg("XDG_DATA_HOME", h + "/.local/share")},
        {"COMMON_APPDATA", xdg("XDG_CONFIG_DIRS", "/etc/xdg")},
        {"COMMON_DOCUMENTS", docs},
    };
    console_printf("Known Paths...\r\n");
    for (const auto& [name, path] : paths) {
        console_printf("  %s: %s\r\n", name, path.c_str());
        shell_setenv(name, path.c_str());
    }
    return 0;
}

int FileStatKind(const FileCall& c, const char* path) {
    struct stat st {};
    if (!StatPath(path, &st)) SetResult(c, "NULL");
    else SetResult(c, S_ISDIR(st.st_mode) ? "DIR" : "FILE");
    return 0;
}

int FileSize(const FileCall& c, const char* path) {
    struct stat st {};
    SetResult(c, StatPath(path, &st) ? std::to_string(st.st_size) : "NULL");
    return 0;
}

int FileMd5(const FileCall& c, const char* path) {
    auto md5 = Md5FileHex(path);
    if (!md5) {
        console_printf("%s can't be opened.\n", path);
        script_error("%s can't be opened.\n", path);
        return -1;
    }
    console_printf("MD5sum %s: %s\r\n", path, md5->c_str());
    SetResult(c, *md5);
    return 0;
}

int FileCrc(const FileCall& c, const char* path) {
    auto crc = Crc32File(path);
    if (!crc) {
        script_error("%s: open failed.", path);
        return -1;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(*crc));
    SetResult(c, buf);
    return 0;
}

int FileDump(const FileCall& c, const char* path, bool hex) {
    unsigned long count = hex ? 512 : 0, offset = 0;
    for (int i = 1; i <= 2; i++) {
        if (!c.arg(i)) break;
        auto v = ParseUnsigned(c.arg(i));
        if (!v) return -2;
        (i == 1 ? count : offset) = *v;
    }
    struct stat st {};
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        script_error("%s: open failed.", path);
        return -1;
    }
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        script_error("%s: stat failed.", path);
        return -1;
    }
    unsigned long size = static_cast<unsigned long>(st.st_size);
    if (count == 0 || count > size) count = size;
    if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        close(fd);
        script_error("%s: lseek failed.", path);
        return -1;
    }
    std::string bytes(count, '\0');
    ssize_t n = read(fd, bytes.data(), count);
    close(fd);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (!hex) {
        ConsoleWritePlain(bytes.data(), bytes.size());
        return 0;
    }
    console_printf("FILE: %s...\r\n", path);
    std::string text = HexdumpText(bytes);
    ConsoleWritePlain(text.data(), text.size());
    return 0;
}

int FileLineEnds(const char* path, bool toUnix) {
    std::string text;
    if (!ReadFile(path, text)) {
        script_error("%s: fopen failed.", path);
        return -1;
    }
    const char* failed = nullptr;
    if (!ReplaceFile(path, ConvertLineEnds(text, toUnix), &failed)) {
        script_error(failed, path);
        return -1;
    }
    return 0;
}

int FileWhat(const char* path) {
    std::string bytes;
    if (!ReadFile(path, bytes)) {
        script_error("%s: open failed.", path);
        return -1;
    }
    for (const auto& m : WhatMarks(bytes)) console_printf("\t%s\r\n", m.c_str());
    return 0;
}

int FileCopy(const char* from, const char* to) {
    std::string data;
    if (!ReadFile(from, data)) {
        script_error("%s: open failed.", from);
        return -1;
    }
    const char* failed = nullptr;
    if (!ReplaceFile(to, data, &failed)) {
        script_error("%s: fopen failed.", to);
        return -1;
    }
    return 0;
}

int FileMove(const char* from, const char* to) {
    if (rename(from, to) == 0) return 0;
    if (errno != EXDEV) {
        script_error("%s: move failed.", from);
        return -1;
    }
    if (int rc = FileCopy(from, to); rc != 0) return rc;
    unlink(from);
    return 0;
}

// ---- directory search -----------------------------------------------------

std::mutex g_searchMu;
std::vector<std::string> g_found;
size_t g_next = 0;

void SearchResult(const FileCall& c) {
    std::lock_guard l(g_searchMu);
    if (g_next >= g_found.size()) {
        shell_unsetenv(c.var.c_str());
        return;
    }
    const std::string& p = g_found[g_next++];
    size_t slash = p.rfind('/');
    SetResult(c, slash == std::string::npos ? p : p.substr(slash + 1));
}

int FileFirst(const FileCall& c, const char* pattern) {
    {
        std::lock_guard l(g_searchMu);
        g_found.clear();
        g_next = 0;
        glob_t g{};
        if (glob(pattern, 0, nullptr, &g) == 0)
            for (size_t i = 0; i < g.gl_pathc; i++) g_found.push_back(g.gl_pathv[i]);
        globfree(&g);
    }
    SearchResult(c);
    return 0;
}

// ---- text lookups ---------------------------------------------------------

int FileLine(const char* path, const char* num) {
    auto n = ParseSigned(num);
    if (!n || *n < 1) return -2;
    std::vector<std::string> lines;
    if (!ReadLines(path, lines)) return NotFound(path);
    shell_setenv("FILE", *n <= static_cast<int>(lines.size()) ? lines[*n - 1].c_str() : "_END_OF_FILE_");
    return 0;
}

int FileToken(const FileCall& c, const char* path) {
    if (c.args.size() < 3 || c.args.size() > 4) return -3;
    auto tnum = ParseSigned(c.arg(1)), lnum = ParseSigned(c.arg(2));
    if (!tnum || !lnum) return -2;
    std::optional<char> delim;
    if (c.arg(3)) {
        if (std::strlen(c.arg(3)) != 1) return -2;
        delim = c.arg(3)[0];
    }
    if (c.verbose) console_printf("tnum = %d, lnum = %d\r\n", *tnum, *lnum);
    std::vector<std::string> lines;
    if (!ReadLines(path, lines)) return NotFound(path);
    if (*tnum < 1 || *lnum < 1) SetResult(c, "_INTERNAL_ERROR_");
    else if (*lnum > static_cast<int>(lines.size())) SetResult(c, "_END_OF_FILE_");
    else SetResult(c, LineToken(lines[*lnum - 1], *tnum, delim));
    return 0;
}

int FileStrstr(const FileCall& c, const char* path) {
    const char* text = c.arg(1);
    if (!text) return -3;
    int want = 1;
    if (c.arg(2)) {
        auto n = ParseSigned(c.arg(2));
        if (!n || *n < 1) return -2;
        want = *n;
    }
    std::vector<std::string> lines;
    if (!ReadLines(path, lines)) return NotFound(path);
    for (size_t i = 0; i < lines.size(); i++)
        if (lines[i].find(text) != std::string::npos && --want == 0) {
            SetResult(c, "YES");
            shell_setenv("LINE", std::to_string(i + 1).c_str());
            return 0;
        }
    SetResult(c, "NO");
    shell_unsetenv("LINE");
    return 0;
}

int FileAppend(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        script_error("%s: fopen failed.", path);
        return -1;
    }
    bool ok = WriteAll(fd, text.data(), text.size());
    if (close(fd) != 0 || !ok) {
        script_error("%s: write failed.", path);
        return -1;
    }
    return 0;
}

int FileMktemp(const FileCall& c, const char* prefix) {
    if (std::strlen(prefix) > kMktempPrefixMax) {
        script_error("%s: too big.", prefix);
        return -1;
    }
    // The file is created as well, so no other program can take the name.
    std::string name = std::string(prefix) + "XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) {
        script_error("%s: mktemp failed.", prefix);
        return -1;
    }
    close(fd);
    SetResult(c, name);
    return 0;
}

int FileBasename(const FileCall& c, const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* back = std::strrchr(path, '\\');
    if (back > slash) slash = back;
    if (!slash) shell_unsetenv(c.var.c_str());
    else SetResult(c, slash + 1);
    return 0;
}

// ---- httpget ----------------------------------------------------------------

int HttpFail(const char* what) {
    script_error("%s", what);
    return -1;
}

int FileHttpGet(const FileCall& c, const char* url, const char* file) {
    if (std::strncmp(url, "http://", 7) != 0) return -2;
    HttpUrl u = HttpParseUrl(url);
    if (u.error == 2 || u.error == 5) {
        OxelMessageBox("HTTP error", "HTTP path (%s) did not parse correctly", url);
        return -1;
    }
    if (u.error == 3) return HttpFail("gethostbyname failed");
    if (u.error == 4) {
        script_error("HTTP filename (%s) too big", u.path.c_str());
        return -1;
    }
    in_addr addr{};
    if (!NetResolveIPv4(u.host.c_str(), &addr)) return HttpFail("gethostbyname failed");
    int fd = NetConnectTcp(NetAddress(addr, static_cast<uint16_t>(u.port)), 10000, ScriptHaltFlag());
    if (fd < 0) return HttpFail("connect failed");
    char req[512];
    std::snprintf(req, sizeof req, "GET %s HTTP/1.1\r\nAccept: */*\r\nAccept-Language: en-US\r\nHost: %s\r\n\r\n",
                  u.path.c_str(), u.host.c_str());
    if (c.verbose) console_printf("%s\r\n", req);
    if (NetSendAll(fd, req, std::strlen(req)) < 0) {
        NetClose(fd);
        return HttpFail("GET failed");
    }
    std::string header, body;
    bool inBody = false;
    while (true) {
        int ready = NetWaitReadable(fd, kHttpRecvMs);
        if (ready <= 0 || ScriptHalting()) break;
        char ch;
        ssize_t n = recv(fd, &ch, 1, 0);
        if (n <= 0) break;
        if (!inBody) {
            header += ch;
            inBody = HttpHeaderEnd(header) != std::string::npos;
            if (inBody && HttpStatus(header) == 404) {
                NetClose(fd);
                if (!file) return 0;
                script_error("HTTP file (%s) not found", u.path.c_str());
                return -1;
            }
            continue;
        }
        body += ch;
        if (c.verbose >= 2) console_printf(ch == '\n' ? "\r\n" : "%c", ch);
    }
    NetClose(fd);
    if (file) {
        const char* failed = nullptr;
        if (!ReplaceFile(file, body, &failed)) {
            script_error("%s: fopen failed.", file);
            return -1;
        }
    }
    SetResult(c, std::to_string(body.size()));
    return 0;
}

// ---- dispatch ---------------------------------------------------------------

using SubFn = int (*)(const FileCall& c, const char* path);

int Mkdir(const FileCall&, const char* p) {
    if (mkdir(p, 0755) == 0) return 0;
    script_error("%s: mkdir failed.", p);
    return -1;
}
int Rmdir(const FileCall&, const char* p) {
    if (rmdir(p) == 0) return 0;
    script_error("%s: rmdir failed.", p);
    return -1;
}
int Hexdump(const FileCall& c, const char* p) { return FileDump(c, p, true); }
int Dump(const FileCall& c, const char* p) { return FileDump(c, p, false); }
int D2u(const FileCall&, const char* p) { return FileLineEnds(p, true); }
int U2d(const FileCall&, const char* p) { return FileLineEnds(p, false); }
int What(const FileCall&, const char* p) { return FileWhat(p); }
int Move(const FileCall& c, const char* p) { return c.arg(1) ? FileMove(p, c.arg(1)) : -3; }
int Copy(const FileCall& c, const char* p) { return c.arg(1) ? FileCopy(p, c.arg(1)) : -3; }
int Delete(const FileCall&, const char* p) {
    if (unlink(p) == 0) return 0;
    script_error("%s: delete failed.", p);
    return -1;
}
int HttpGet(const FileCall& c, const char* p) { return FileHttpGet(c, p, c.arg(1)); }
int CopyScreen(const FileCall&, const char* p) {
    std::string text = ConsoleBufferText();
    const char* failed = nullptr;
    if (ReplaceFile(p, text, &failed)) return 0;
    script_error("%s: fopen failed.", p);
    return -1;
}
int Edit(const FileCall&, const char* p) { return StartEditor(p) ? 0 : -1; }
int Lntot(const FileCall& c, const char* p) {
    std::vector<std::string> lines;
    if (!ReadLines(p, lines)) return NotFound(p);
    SetResult(c, std::to_string(lines.size()));
    return 0;
}
int Line(const FileCall& c, const char* p) { return c.arg(1) ? FileLine(p, c.arg(1)) : -3; }
int Append(const FileCall& c, const char* p) { return c.arg(1) ? FileAppend(p, std::string(c.arg(1)) + "\n") : -3; }
int Appendf(const FileCall& c, const char* p) { return c.arg(1) ? FileAppend(p, ExpandEscapes(std::string(c.arg(1)))) : -3; }
int Appendv(const FileCall& c, const char* p) {
    if (!c.arg(1)) return -3;
    auto v = shell_getenv(c.arg(1));
    if (!v) {
        script_error("%s: no such variable exists.", c.arg(1));
        return -1;
    }
    return FileAppend(p, *v);
}

const struct {
    const char* name;
    SubFn fn;
} kSubs[] = {
    {"fstat", FileStatKind}, {"size", FileSize},      {"mkdir", Mkdir},        {"rmdir", Rmdir},
    {"md5", FileMd5},        {"crc", FileCrc},        {"hexdump", Hexdump},    {"dump", Dump},
    {"d2u", D2u},            {"u2d", U2d},            {"what", What},          {"move", Move},
    {"copy", Copy},          {"delete", Delete},      {"httpget", HttpGet},    {"copyscreen", CopyScreen},
    {"edit", Edit},          {"first", FileFirst},    {"lntot", Lntot},        {"line", Line},
    {"token", FileToken},    {"strstr", FileStrstr},  {"append", Append},      {"appendf", Appendf},
    {"appendv", Appendv},    {"mktemp", FileMktemp},  {"basename", FileBasename},
};

int cmd_file(int argc, char** argv) {
    FileCall c;
    for (int o; (o = script_getopt(argc, argv, "vV:")) != -1;) {
        if (o == 'v') c.verbose++;
        else if (o == 'V') c.var = script_optarg;
        else return -2;
    }
    if (argc - script_optind < 1) return -3;
    c.cmd = argv[script_optind];
    for (int i = script_optind + 1; i < argc; i++) c.args.push_back(argv[i]);
    if (Is(c.cmd, "next")) {
        if (c.verbose) console_printf("cmd = %s\r\n", c.cmd);
        SearchResult(c);
        return 0;
    }
    if (Is(c.cmd, "known_path_test")) return FileKnownPaths(c);
    for (const auto& s : kSubs) {
        if (!Is(c.cmd, s.name)) continue;
        if (c.args.empty()) return -3;
        if (c.verbose) console_printf("file = %s, cmd = %s\r\n", c.args[0], c.cmd);
        return s.fn(c, c.args[0]);
    }
    script_error("Unrecognized 'file' command: %s", c.cmd);
    return -1;
}

}  // namespace

std::string HexdumpText(const std::string& bytes) {
    std::string out = "  Offset:   Hex:                                                Ascii:\r\n";
    char buf[32];
    for (size_t row = 0; row < bytes.size(); row += 16) {
        size_t n = std::min<size_t>(16, bytes.size() - row);
        std::snprintf(buf, sizeof buf, "  %06zx:   ", row);
        out += buf;
        for (size_t i = 0; i < 16; i++) {
            if (i < n) std::snprintf(buf, sizeof buf, "%02x ", static_cast<unsigned char>(bytes[row + i]));
            else std::snprintf(buf, sizeof buf, "   ");
            out += buf;
            if (i == 7 || i == 15) out += "  ";
        }
        for (size_t i = 0; i < n; i++) {
            unsigned char b = static_cast<unsigned char>(bytes[row + i]);
            out += b < 32 || b > 126 ? '.' : static_cast<char>(b);
        }
        out += "\r\n";
    }
    return out;
}

std::string LineToken(const std::string& line, int tnum, std::optional<char> delim) {
    std::vector<std::string> tokens;
    if (delim) {
        size_t start = 0;
        while (true) {
            size_t at = line.find(*delim, start);
            tokens.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
            if (at == std::string::npos) break;
            start = at + 1;
        }
    } else {
        std::istringstream in(line);
        for (std::string t; in >> t;) tokens.push_back(t);
    }
    if (tnum < 1) return "_INTERNAL_ERROR_";
    if (tnum > static_cast<int>(tokens.size())) return "_END_OF_LINE_";
    const std::string& t = tokens[tnum - 1];
    return t.empty() ? "_EMPTY_TOKEN_" : t;
}

std::string ConvertLineEnds(const std::string& text, bool toUnix) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); i++) {
        char ch = text[i];
        if (toUnix && ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (!toUnix && ch == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += ch;
    }
    return out;
}

std::vector<std::string> WhatMarks(const std::string& bytes) {
    std::vector<std::string> marks;
    for (size_t at = 0; (at = bytes.find("@(#)", at)) != std::string::npos;) {
        at += 4;
        size_t end = bytes.find_first_of(std::string("\0\"\n\r>\\", 6), at);
        if (end == std::string::npos) end = bytes.size();
        marks.push_back(bytes.substr(at, end - at));
        at = end;
    }
    return marks;
}

HttpUrl HttpParseUrl(const std::string& url) {
    HttpUrl u;
    if (url.rfind("http://", 0) != 0) {
        u.error = 1;
        return u;
    }
    size_t slash = url.find('/', 7);
    if (slash == std::string::npos) {
        u.error = 2;
        return u;
    }
    std::string host = url.substr(7, slash - 7);
    if (host.size() >= kHttpHostMax) {
        u.error = 3;
        return u;
    }
    u.path = url.substr(slash);
    if (u.path.size() >= kHttpPathMax) {
        u.error = 4;
        return u;
    }
    size_t colon = host.find(':');
    if (colon != std::string::npos) {
        auto port = ParseUnsigned(host.c_str() + colon + 1);
        if (!port || *port == 0 || *port > 65535) {
            u.error = 5;
            return u;
        }
        u.port = static_cast<int>(*port);
        host.resize(colon);
    }
    if (host.empty()) {
        u.error = 2;
        return u;
    }
    u.host = host;
    return u;
}

int HttpStatus(const std::string& header) {
    // Only the status line counts: a "404" in a date or a length is no miss.
    int code = 0;
    if (std::sscanf(header.c_str(), "HTTP/%*d.%*d %d", &code) != 1) return 0;
    return code;
}

size_t HttpHeaderEnd(const std::string& bytes) {
    int run = 0;
    for (size_t i = 0; i < bytes.size(); i++) {
        run = bytes[i] == '\r' || bytes[i] == '\n' ? run + 1 : 0;
        if (run == 4) return i + 1;
    }
    return std::string::npos;
}

void FileCmdInit() { ScriptSetHandler("FILE", cmd_file); }
