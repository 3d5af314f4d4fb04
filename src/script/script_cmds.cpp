#include "script/script_cmds.h"

#include <regex.h>
#include <strings.h>
#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "util/checksum.h"
#include "util/cmdids.h"
#include "util/commands.h"
#include "platform/report.h"
#include "console/screenbuf.h"
#include "util/utils.h"
#include "backend/backend.h"
#include "backend/comport.h"
#include "backend/moncmdc.h"
#include "config/configrecord.h"
#include "log/logging.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "script/auxcom_cmd.h"
#include "script/banner.h"
#include "script/catchstr.h"
#include "script/log_cmd.h"
#include "util/cmdline.h"
#include "config/shellvar.h"

#define OXEL_MODULE "script_cmds"

namespace {

constexpr size_t kSendMax = 2048;
constexpr size_t kEchoMax = 510;
constexpr size_t kPromptMax = 127;

std::atomic<uint64_t> g_timeRef{0};
int g_recvBlockSize = 256;

struct CmdEntry {
    const char* name;
    ScriptCmdHandler handler;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A wait limit in seconds as the runner's 10 ms ticks; nullopt when not a number.
std::optional<int> SecondsToTicks(const char* text) {
    if (!text) return 0;
    char* end = nullptr;
    double s = std::strtod(text, &end);
    if (end == text || *end || s < 0 || s > 1e7) return std::nullopt;
    return static_cast<int>(s * 100 + 0.5);
}

void SetTimeout(bool timedOut) { shell_setenv("SCR_TIMEOUT", timedOut ? "TRUE" : "FALSE"); }

// Waits for the prompt pattern already set; SCR_TIMEOUT tells how it ended.
void WaitPrompt(int ticks) {
    shell_unsetenv("SCR_TIMEOUT");
    int woken = script_sleep(static_cast<unsigned>(ticks));
    SetTimeout(!woken);
    ScriptSetPattern(nullptr);
}

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// ---- SEND ---------------------------------------------------------------

int WriteBytes(const std::string& bytes, bool whole, int delayMs) {
    if (bytes.empty()) return 1;
    if (whole) return BackendWrite(bytes.data(), bytes.size()) > 0;
    for (char c : bytes) {
        if (BackendWrite(&c, 1) <= 0) return 0;
        if (delayMs > 0) hiresSleep(static_cast<unsigned>(delayMs));
    }
    return 1;
}

// ---- REGEX --------------------------------------------------------------

std::string RegexLiteral(const char* text, bool extended) {
    const char* special = extended ? ".[]{}()\\*+?^$|" : ".[]\\*^$";
    std::string out;
    for (const char* p = text; *p; p++) {
        if (std::strchr(special, *p)) out += '\\';
        out += *p;
    }
    return out;
}

void RegexCleanup() {
    shell_unsetenv("REGEX");
    char name[32];
    for (int n = 1;; n++) {
        std::snprintf(name, sizeof name, "RM_%d", n);
        bool rm = shell_getenv(name).has_value();
        std::snprintf(name, sizeof name, "RS_%d", n);
        bool rs = shell_getenv(name).has_value();
        if (!rm && !rs) break;
        for (const char* fmt : {"RM_%d", "RS_%d", "RE_%d"}) {
            std::snprintf(name, sizeof name, fmt, n);
            shell_unsetenv(name);
        }
    }
}

// ---- STRING -------------------------------------------------------------

std::optional<long> Number(const char* arg) {
    if (!arg) return std::nullopt;
    auto v = ParseSigned(arg);
    if (!v) return std::nullopt;
    return *v;
}

// ---- tables ---------------------------------------------------------------

const CmdEntry kCommands[] = {
    {"AUXCOM", cmd_auxcom}, {"CATCH", cmd_catch},   {"COMPORT", cmd_comport}, {"CONNECT", cmd_connect},
    {"ECHO", cmd_echo},     {"LOG", cmd_log},       {"MONCMD", cmd_moncmd}, {"RECV", cmd_recv},       {"REGEX", cmd_regex},
    {"SEND", cmd_send},     {"STRING", cmd_string},
};

}  // namespace

void ScriptCmdsInit() {
    for (const auto& c : kCommands) ScriptSetHandler(c.name, c.handler);
    CatchInstallHooks();
    bool haveCatchItem = false;
    for (const auto& e : CommandTable()) haveCatchItem |= e.id == CMD_CATCH_SETUP;
    if (!haveCatchItem)
        CommandRegister({CMD_CATCH_SETUP, "&Scripts", "&Catch...", [] { ui().ShowDialog("Catch Script Setup..."); }});
    recvBlockInit(g_recvBlockSize, false);
}

ScriptCmdHandler ScriptCmdsFind(const char* name) {
    for (const auto& c : kCommands)
        if (Is(c.name, name)) return c.handler;
    return nullptr;
}

void ScriptTimeRefSet(uint64_t tickMs) { g_timeRef = tickMs; }
uint64_t ScriptTimeRef() { return g_timeRef; }

std::optional<int> ParseParity(const char* text) {
    const char* names[] = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};
    for (int i = 0; i < 5; i++)
        if (Is(text, names[i])) return i;
    return std::nullopt;
}

std::optional<int> ParseStopBits(const char* text) {
    const char* names[] = {"1", "1.5", "2"};
    for (int i = 0; i < 3; i++)
        if (Is(text, names[i])) return i;
    return std::nullopt;
}

std::optional<int> ParseFlow(const char* text) {
    struct {
        const char* name;
        int bits;
    } flows[] = {{"NONE", 0}, {"DTRDSR", 0x01}, {"RTSCTS", 0x02}, {"XONXOFF", 0x04}};
    for (const auto& f : flows)
        if (Is(text, f.name)) return f.bits;
    return std::nullopt;
}

std::optional<std::string> HexToBytes(const std::string& hex) {
    if (hex.size() % 2) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

int SendBuildBytes(const char* arg, bool hex, const char* eol, const char* csumName, std::string& out) {
    out.clear();
    ChecksumType csum = ChecksumType::None;
    if (csumName) {
        auto t = ChecksumByName(csumName);
        if (!t) return -2;
        csum = *t;
    }
    if (hex) {
        if (!arg) return -2;
        auto bytes = HexToBytes(arg);
        if (!bytes || bytes->size() > kSendMax) return -2;
        out = *bytes;
        auto sum = ChecksumBytes(csum, reinterpret_cast<const uint8_t*>(out.data()), out.size());
        out.append(sum.begin(), sum.end());
        return 0;
    }
    if (arg) {
        char buf[kSendMax];
        int n = ExpandEscapes(arg, std::strlen(arg), buf, sizeof buf);
        if (n < 0) return -2;
        out.assign(buf, n);
    }
    out += eol;
    return 0;
}

int cmd_send(int argc, char** argv) {
    bool noEol = false, crlf = false, noWait = false, whole = false, noteTime = false, hex = false;
    const char* prompt = nullptr;
    const char* limit = nullptr;
    const char* csum = nullptr;
    int delay = -1;
    for (int opt; (opt = script_getopt(argc, argv, "cC:d:np:qrt:Tx")) != -1;) {
        switch (opt) {
        case 'c': noEol = true; break;
        case 'C': csum = script_optarg; break;
        case 'd': {
            auto v = ParseUnsigned(script_optarg);
            if (!v) return -2;
            delay = static_cast<int>(*v);
            break;
        }
        case 'n': noWait = true; break;
        case 'p': prompt = script_optarg; break;
        case 'q': whole = true; break;
        case 'r': crlf = true; break;
        case 't': limit = script_optarg; break;
        case 'T': noteTime = true; break;
        case 'x': hex = true; break;
        default: return -2;
        }
    }
    int nargs = argc - script_optind;
    if (nargs > 1) return -3;
    auto ticks = SecondsToTicks(limit);
    if (!ticks) return -2;

    if (!noWait) {
        if (prompt) {
            ScriptSetPattern(std::string(prompt).substr(0, kPromptMax).c_str());
        } else {
            auto p = shell_getenv("PROMPT");
            if (!p || p->empty()) {
                script_error("PROMPT shell variable must be set");
                return -1;
            }
            ScriptSetPattern(p->substr(0, kPromptMax).c_str());
        }
    }

    std::string bytes;
    const char* eol = noEol ? "" : crlf ? "\r\n" : "\r";
    int rc = SendBuildBytes(nargs ? argv[script_optind] : nullptr, hex, eol, csum, bytes);
    if (rc) return rc;
    if (hex) TracePrintf(TRC_SCRIPT, "<%s> len=%d", argv[script_optind], static_cast<int>(bytes.size()));

    if (noteTime) ScriptTimeRefSet(ClockTickMs());
    int perChar = delay >= 0 ? delay : g_cfg.DELAY_BETWEEN_CHARS;
    if (!WriteBytes(bytes, whole, perChar)) return -1;
    if (delay > 0) hiresSleep(static_cast<unsigned>(delay));
    TracePrintf(TRC_ALWAYS, "cpwstat=TRUE");

    if (!noWait) WaitPrompt(*ticks);
    return 0;
}

std::string RecvBlockFormat(const std::string& raw, char format) {
    std::string out;
    char hex[3];
    for (char c : raw) {
        if (format == 'a') {
            std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(c));
            out += hex;
        } else if (format == 'A' && c == '\r') {
            out += 'C';
        } else if (format == 'A' && c == '\n') {
            out += 'L';
        } else if (format != 'A' && c == 0) {
            out += "<0>";
        } else {
            out += c;
        }
    }
    return out;
}

int cmd_recv(int argc, char** argv) {
    bool hexOut = false, crlfOut = false, copy = false, empty = false, noWrap = false;
    bool hexPattern = false, countMode = false;
    const char* limit = nullptr;
    for (int opt; (opt = script_getopt(argc, argv, "aAcCnt:xX")) != -1;) {
        switch (opt) {
        case 'a': hexOut = true; break;
        case 'A': crlfOut = true; break;
        case 'c': copy = true; break;
        case 'C': copy = empty = true; break;
        case 'n': noWrap = true; break;
        case 't': limit = script_optarg; break;
        case 'x': hexPattern = true; break;
        case 'X': countMode = true; break;
        default: return -2;
        }
    }
    int nargs = argc - script_optind;
    if (nargs < 1) return -3;
    char** args = argv + script_optind;
    auto ticks = SecondsToTicks(limit);
    if (!ticks) return -2;

    if (Is(args[0], "blkinit")) {
        if (nargs > 2) return -3;
        if (nargs == 2) {
            auto size = ParseUnsigned(args[1]);
            // The block becomes RECVBLOCK, so it stays a size a variable can hold.
            if (!size || *size < 1 || *size > (1u << 20)) return -2;
            g_recvBlockSize = static_cast<int>(*size);
        }
        recvBlockInit(g_recvBlockSize, noWrap);
        shell_unsetenv("RECVBLOCK");
        shell_unsetenv("RECVBLKTOT");
        return 0;
    }
    if (Is(args[0], "idleline")) {
        if (nargs != 2) return -3;
        auto quiet = ParseUnsigned(args[1]);
        if (!quiet) return -2;
        shell_unsetenv("SCR_TIMEOUT");
        int quietReached = script_wait_quiet(*quiet, static_cast<unsigned>(*ticks) * 10);
        SetTimeout(!quietReached);
        return 0;
    }
    if (Is(args[0], "blkcpy")) {
        if (nargs > 2) return -3;
        std::string raw;
        recvBlockRead(raw);
        std::string text = RecvBlockFormat(raw, hexOut ? 'a' : crlfOut ? 'A' : 0);
        if (nargs == 2) {
            std::ofstream f(args[1], std::ios::binary | std::ios::trunc);
            if (!f || !f.write(text.data(), static_cast<std::streamsize>(text.size()))) {
                script_error("RECV: can't write '%s'", args[1]);
                return -1;
            }
            return 0;
        }
        shell_setenv("RECVBLOCK", text.c_str());
        shell_sprintf("RECVBLKTOT", "%d", static_cast<int>(raw.size()));
        return 0;
    }

    if (nargs != 1) return -3;
    ScriptSetRecvFlags((copy ? 1 : 0) | (hexOut ? 2 : 0) | (empty ? 4 : 0));
    if (hexPattern) {
        // Exactly these bytes, NULs included.
        auto bytes = HexToBytes(args[0]);
        if (!bytes || bytes->empty() || bytes->size() > kPromptMax) {
            script_error("RECV: invalid hex pattern '%s'", args[0]);
            return -1;
        }
        ScriptSetPatternCount(*bytes, static_cast<int>(bytes->size()));
    } else if (countMode) {
        auto n = ParseUnsigned(args[0]);
        if (!n || *n < 1 || *n > 0x7fffffff) return -2;
        ScriptSetPatternCount("", static_cast<int>(*n));
    } else {
        ScriptSetPattern(std::string(args[0]).substr(0, kPromptMax).c_str());
    }
    shell_unsetenv("RECVBLOCK");
    WaitPrompt(*ticks);
    ScriptSetRecvFlags(0);
    return 0;
}

int cmd_catch(int argc, char** argv) {
    CatchConfig cfg;
    bool noScript = false;
    for (int opt; (opt = script_getopt(argc, argv, "afhn")) != -1;) {
        switch (opt) {
        case 'a': cfg.async = true; break;
        case 'f': cfg.escapeQuotes = true; break;
        case 'h': cfg.stopRunning = false; break;
        case 'n': noScript = true; break;
        default: return -2;
        }
    }
    int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs < 1) return -3;
    if (nargs == 1 && !noScript) {
        if (Is(args[0], "tagon")) CatchSetTagging(true);
        else if (Is(args[0], "tagoff")) CatchSetTagging(false);
        else if (Is(args[0], "off")) CatchClear();
        else if (Is(args[0], "show")) {
            std::string text = CatchShowText();
            if (!text.empty()) console_printf("%s", text.c_str());
        } else return -3;
        return 0;
    }
    int nstrings = noScript ? nargs : nargs - 1;
    for (int i = 0; i < nstrings; i++) {
        if (std::strlen(args[i]) > kCatchMaxText) {
            OxelMessageBox("String too long", "%s (max size = %d bytes)", args[i], 256);
            return -1;
        }
        cfg.strings.push_back(args[i]);
    }
    if (!noScript) {
        auto path = CatchResolveScript(args[nargs - 1]);
        struct stat st{};
        if (!path || stat(path->c_str(), &st) != 0) {
            OxelMessageBox("File open error", "%s: not found", path ? path->c_str() : args[nargs - 1]);
            CatchClear();
            return -1;
        }
        cfg.script = *path;
    }
    CatchSet(cfg);
    return 0;
}

int cmd_regex(int argc, char** argv) {
    int cflags = REG_EXTENDED;
    bool literal = false, verbose = false;
    for (int opt; (opt = script_getopt(argc, argv, "bcinv")) != -1;) {
        switch (opt) {
        case 'b': cflags &= ~REG_EXTENDED; break;
        case 'c': RegexCleanup(); return 0;
        case 'i': cflags |= REG_ICASE; break;
        case 'n': literal = true; break;
        case 'v': verbose = true; break;
        default: return -2;
        }
    }
    if (argc - script_optind != 2) return -3;
    const char* pattern = argv[script_optind];
    const char* text = argv[script_optind + 1];
    if (verbose) console_printf("Pattern: <%s>\r\nString : <%s>\r\n", pattern, text);
    std::string pat = literal ? RegexLiteral(pattern, cflags & REG_EXTENDED) : pattern;

    regex_t re;
    char msg[129];
    int rc = regcomp(&re, pat.c_str(), cflags);
    if (rc) {
        regerror(rc, &re, msg, sizeof msg);
        script_error("regcomp: %s\n", msg);
        return -1;
    }
    std::vector<regmatch_t> m(re.re_nsub + 1);
    rc = regexec(&re, text, m.size(), m.data(), 0);
    if (rc == REG_NOMATCH) {
        regfree(&re);
        shell_setenv("REGEX", "REGEX_NO_MATCH");
        return 0;
    }
    if (rc) {
        regerror(rc, &re, msg, sizeof msg);
        regfree(&re);
        script_error("regexec: %s\n", msg);
        return -1;
    }
    regfree(&re);
    shell_sprintf("REGEX", "%d", static_cast<int>(m.size()));
    char name[32];
    for (size_t i = 0; i < m.size(); i++) {
        int n = static_cast<int>(i) + 1;
        int so = static_cast<int>(m[i].rm_so), eo = static_cast<int>(m[i].rm_eo);
        int len = so >= 0 ? eo - so : 0;
        std::snprintf(name, sizeof name, "RM_%d", n);
        if (len > 0) shell_setenv(name, std::string(text + so, len).c_str());
        else shell_unsetenv(name);
        std::snprintf(name, sizeof name, "RS_%d", n);
        shell_sprintf(name, "%d", so);
        std::snprintf(name, sizeof name, "RE_%d", n);
        shell_sprintf(name, "%d", so >= 0 ? eo : -1);
        TracePrintf(TRC_SCRIPT, "%d[%d,%d] = %.*s", n, so, so >= 0 ? eo : -1, len, so >= 0 ? text + so : "");
    }
    return 0;
}

int StringOperation(const char* op, const std::string& text, const char* arg, bool hexInput,
                    std::optional<std::string>& result) {
    result.reset();
    auto needArg = [&] { return arg != nullptr; };
    if (Is(op, "precut") || Is(op, "postcut")) {
        if (!needArg()) return -3;
        auto n = Number(arg);
        if (!n || *n < 0) return -2;
        size_t k = static_cast<size_t>(*n);
        if (k >= text.size()) return 0;
        result = Is(op, "precut") ? text.substr(k) : text.substr(0, text.size() - k);
        return 0;
    }
    if (Is(op, "toupper") || Is(op, "tolower")) {
        std::string s = text;
        for (char& c : s)
            c = static_cast<char>(Is(op, "toupper") ? std::toupper(static_cast<unsigned char>(c))
                                                    : std::tolower(static_cast<unsigned char>(c)));
        result = s;
        return 0;
    }
    if (Is(op, "length")) {
        result = std::to_string(text.size());
        return 0;
    }
    if (Is(op, "firstchar") || Is(op, "lastchar")) {
        if (!text.empty()) result = std::string(1, Is(op, "firstchar") ? text.front() : text.back());
        return 0;
    }
    if (Is(op, "strstr")) {
        if (!needArg()) return -3;
        auto pos = std::string(arg).find(text);
        result = pos == std::string::npos ? "NULL" : std::to_string(pos);
        return 0;
    }
    if (Is(op, "token")) {
        if (!needArg()) return -3;
        auto n = Number(arg);
        if (!n) return -2;
        long i = 0;
        for (size_t p = 0; p < text.size();) {
            p = text.find_first_not_of(" \t\r\n", p);
            if (p == std::string::npos) break;
            size_t e = text.find_first_of(" \t\r\n", p);
            if (e == std::string::npos) e = text.size();
            if (++i == *n) {
                result = text.substr(p, e - p);
                break;
            }
            p = e;
        }
        return 0;
    }
    if (auto type = ChecksumByName(op)) {
        std::string bytes = text;
        if (hexInput) {
            auto b = HexToBytes(text);
            if (!b) return -2;
            bytes = *b;
        }
        std::string hex = ChecksumHex(*type, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        if (!hex.empty()) result = hex;
        return 0;
    }
    return -2;
}

int cmd_string(int argc, char** argv) {
    bool hexInput = false, verbose = false;
    for (int opt; (opt = script_getopt(argc, argv, "av")) != -1;) {
        switch (opt) {
        case 'a': hexInput = true; break;
        case 'v': verbose = true; break;
        default: return -2;
        }
    }
    int nargs = argc - script_optind;
    if (nargs < 2) return -3;
    char** args = argv + script_optind;
    if (verbose) console_printf("command = '%s', string = '%s'\r\n", args[0], args[1]);
    shell_unsetenv("STRING");
    std::optional<std::string> result;
    int rc = StringOperation(args[0], args[1], nargs > 2 ? args[2] : nullptr, hexInput, result);
    if (rc) return rc;
    if (result) shell_setenv("STRING", result->c_str());
    return 0;
}

std::string EchoEscapes(const std::string& in, bool* stopHere) {
    *stopHere = false;
    size_t cut = in.size();
    for (size_t i = 0; i + 1 < in.size(); i++) {
        if (in[i] != '\\') continue;
        if (in[i + 1] == '\\') {
            i++;
        } else if (in[i + 1] == 'c') {
            cut = i;
            *stopHere = true;
            break;
        }
    }
    return ExpandEscapes(in.substr(0, cut));
}

std::string EchoSpacing(const std::string& in, int every, const std::string& insert, bool before) {
    if (every <= 0) return in;
    std::string out;
    for (size_t i = 0; i < in.size(); i += static_cast<size_t>(every)) {
        std::string chunk = in.substr(i, static_cast<size_t>(every));
        if (before) out += insert + chunk;
        else out += chunk + (chunk.size() == static_cast<size_t>(every) ? insert : "");
    }
    return out;
}

std::string EchoCentre(const std::string& in, int cols) {
    int pad = (cols - static_cast<int>(in.size())) / 2;
    return pad > 0 ? std::string(static_cast<size_t>(pad), ' ') + in : in;
}

int cmd_echo(int argc, char** argv) {
    bool banner = false, centre = false, raw = false, before = false, trace = false;
    std::string insert = " ";
    int every = 0;
    for (int opt; (opt = script_getopt(argc, argv, "bcd:ips:t")) != -1;) {
        switch (opt) {
        case 'b': banner = true; break;
        case 'c': centre = true; break;
        case 'd': insert = script_optarg; break;
        case 'i': raw = true; break;
        case 'p': before = true; break;
        case 's': {
            auto v = ParseUnsigned(script_optarg);
            if (!v) return -2;
            every = static_cast<int>(*v);
            break;
        }
        case 't': trace = true; break;
        default: return -2;
        }
    }
    if (banner && trace) {
        script_error("ECHO: Can't banner to systrace.");
        return -1;
    }
    std::string text;
    for (int i = script_optind; i < argc; i++) {
        if (i > script_optind) text += ' ';
        text += argv[i];
    }
    bool stopHere = false;
    if (!raw) text = EchoEscapes(text, &stopHere);
    text = EchoSpacing(text, every, insert, before);
    int cols = g_cfg.CONSOLE_COLS > 0 ? g_cfg.CONSOLE_COLS : 80;
    if (banner) {
        for (auto& line : BannerLines(text, cols / kBannerCellWidth)) {
            std::string l = centre ? EchoCentre(line, cols) : line;
            console_printf("%s\r\n", l.c_str());
        }
        return 0;
    }
    if (centre) text = EchoCentre(text, cols);
    const char* eol = stopHere ? "" : "\r\n";
    if (text.size() + std::strlen(eol) > kEchoMax) text.resize(kEchoMax - std::strlen(eol));
    if (trace) {
        if (!g_cfg.TRACE_VISIBLE) TraceToggleVisible();
        TracePrintf(TRC_ALWAYS, "%s", text.c_str());
        return 0;
    }
    console_printf("%s%s", text.c_str(), eol);
    return 0;
}

namespace {

bool IsNumber(const char* s) { return ParseUnsigned(s).has_value(); }

std::string JoinArgs(int n, char** args) {
    std::string out;
    for (int i = 0; i < n; i++) {
        if (i) out += ' ';
        out += args[i];
    }
    return out;
}

}  // namespace

int cmd_comport(int argc, char** argv) {
    if (script_getopt(argc, argv, "") != -1) return -2;  // COMPORT takes no options
    int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs == 0) {
        shell_sprintf("BAUDRATE", "%d", g_cfg.BAUDRATE.get());
        if (g_cfg.BACKEND.get() == BACKEND_COM && ComConnected()) {
            shell_sprintf("COMPORT", "%d", g_cfg.COMPORT.get());
            console_printf("Com port %d running at %d baud\r\n", g_cfg.COMPORT.get(), g_cfg.BAUDRATE.get());
        } else {
            shell_setenv("COMPORT", "NONE");
            console_printf("Com port disconnected\r\n");
        }
        return 0;
    }
    const char* op = args[0];
    if (Is(op, "DBC")) {
        if (nargs != 2) return -3;
        auto ms = ParseUnsigned(args[1]);
        if (!ms || *ms > 60000) return -2;
        g_cfg.DELAY_BETWEEN_CHARS = static_cast<int32_t>(*ms);
        return 0;
    }
    if (IsNumber(op) || Is(op, "BAUDRATE")) {
        const char* rateText = IsNumber(op) ? op : nargs == 2 ? args[1] : nullptr;
        if (!rateText || nargs != (IsNumber(op) ? 1 : 2)) return -3;
        auto rate = ParseUnsigned(rateText);
        if (!rate || *rate == 0 || *rate > 0x7fffffff) return -2;
        return ChangeBaudRate(static_cast<int>(*rate)) ? 0 : -1;
    }
    if (nargs != 1) return -3;
    struct {
        const char* name;
        int (*fn)();
    } lines[] = {
        {"BREAK", [] { return SendBreak(); }},       {"DTRSET", [] { return SetDtr(true); }},
        {"DTRCLR", [] { return SetDtr(false); }},    {"DTRTGL", [] { return ToggleDtr(); }},
        {"RTSSET", [] { return SetRts(true); }},     {"RTSCLR", [] { return SetRts(false); }},
        {"RTSTGL", [] { return ToggleRts(); }},
    };
    for (const auto& l : lines)
        if (Is(op, l.name)) return l.fn() ? 0 : -1;
    return -2;
}

int cmd_connect(int argc, char** argv) {
    bool verbose = false;
    for (int opt; (opt = script_getopt(argc, argv, "v")) != -1;) {
        if (opt != 'v') return -2;
        verbose = true;
    }
    int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs < 1) return -3;
    const char* kind = args[0];
    if (Is(kind, "close")) {
        if (nargs != 1) return -3;
        if (verbose) console_printf("CONNECT: close\r\n");
        return CloseConnection() ? 0 : -1;
    }
    if (Is(kind, "telnet")) {
        if (nargs < 2) return -3;
        if (nargs > 3) return -3;
        uint32_t port = 23;
        if (nargs == 3) {
            auto p = ParseUnsigned(args[2]);
            if (!p || *p < 1 || *p > 65535) return -2;
            port = *p;
        }
        CloseConnection();
        CFG_SET_STRING(g_cfg.BACKENT_TELNET_SYS, args[1]);
        g_cfg.BACKEND_TELNET_PORT = static_cast<uint16_t>(port);
        g_cfg.BACKEND = BACKEND_TELNET;
        if (verbose) console_printf("CONNECT: telnet %s:%u\r\n", args[1], port);
        return OpenConnection() ? 0 : -1;
    }
    if (Is(kind, "plink")) {
        if (nargs < 2) return -3;
        std::string plinkArgs = JoinArgs(nargs - 1, args + 1);
        CloseConnection();
        CFG_SET_STRING(g_cfg.BACKENT_PLINK_ARGS, plinkArgs.c_str());
        g_cfg.BACKEND = BACKEND_PLINK;
        if (verbose) console_printf("CONNECT: plink %s\r\n", plinkArgs.c_str());
        return OpenConnection() ? 0 : -1;
    }
    if (!Is(kind, "comport")) return -2;
    if (nargs < 3) return -3;
    if (nargs > 7) return -3;
    int port;
    if (Is(args[1], "NONE")) {
        port = 0;
    } else if (Is(args[1], "NEXT")) {
        port = FindNextComPort(g_cfg.COMPORT);
        if (port <= 0) {
            script_error("CONNECT: no next COM port");
            return -1;
        }
    } else {
        auto p = ParseUnsigned(args[1]);
        if (!p || *p > 1026) return -2;
        port = static_cast<int>(*p);
    }
    auto baud = ParseUnsigned(args[2]);
    if (!baud || *baud == 0 || *baud > 0x7fffffff) return -2;
    int dataBits = 8, parity = 0, stopBits = 0, flow = 0;
    if (nargs > 3) {
        auto b = ParseUnsigned(args[3]);
        if (!b || *b < 5 || *b > 8) return -2;
        dataBits = static_cast<int>(*b);
    }
    if (nargs > 4) {
        auto v = ParseParity(args[4]);
        if (!v) return -2;
        parity = *v;
    }
    if (nargs > 5) {
        auto v = ParseStopBits(args[5]);
        if (!v) return -2;
        stopBits = *v;
    }
    if (nargs > 6) {
        auto v = ParseFlow(args[6]);
        if (!v) return -2;
        flow = *v;
    }
    CloseConnection();
    g_cfg.BACKEND = BACKEND_COM;
    g_cfg.COMPORT = port;
    g_cfg.BAUDRATE = static_cast<int32_t>(*baud);
    g_cfg.BYTESIZE = static_cast<uint8_t>(dataBits);
    g_cfg.PARITY = static_cast<uint8_t>(parity);
    g_cfg.STOPBITS = static_cast<uint8_t>(stopBits);
    if (nargs > 6) g_cfg.FLOWCTRL = static_cast<uint8_t>(flow ? flow : 0x08);
    if (port) shell_sprintf("COMPORT", "%d", port);
    else shell_setenv("COMPORT", "NONE");
    if (verbose) console_printf("CONNECT: COM%d %d baud\r\n", port, g_cfg.BAUDRATE.get());
    return OpenConnection() ? 0 : -1;
}

int cmd_moncmd(int argc, char** argv) {
    bool print = false, verbose = false;
    uint32_t port = 777, seconds = 10;
    for (int opt; (opt = script_getopt(argc, argv, "cp:vw:")) != -1;) {
        switch (opt) {
        case 'c': print = true; break;
        case 'p': {
            auto p = ParseUnsigned(script_optarg);
            if (!p || *p < 1 || *p > 65535) return -2;
            port = *p;
            break;
        }
        case 'v': verbose = true; break;
        case 'w': {
            auto w = ParseUnsigned(script_optarg);
            if (!w || *w > 86400) return -2;
            seconds = *w;
            break;
        }
        default: return -2;
        }
    }
    int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs < 2) return -3;
    std::string command = JoinArgs(nargs - 1, args + 1);
    if (verbose) console_printf("MONCMD %s:%u <%s>\r\n", args[0], port, command.c_str());
    return MoncmdExchange(args[0], command.c_str(), static_cast<uint16_t>(port), static_cast<int>(seconds * 100), print);
}
