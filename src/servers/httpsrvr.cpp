#include "servers/httpsrvr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "config/configrecord.h"
#include "config/shellvar.h"
#include "log/srvrtrace.h"
#include "platform/net.h"
#include "platform/netinfo.h"
#include "script/scripting.h"
#include "servers/httpparse.h"
#include "servers/remotepress.h"
#include "servers/tcpserver.h"
#include "servers/websocsrvr.h"

namespace {

constexpr int kRequestMs = 10000;            // to receive one whole request
constexpr size_t kPostFollowMax = 1024;
constexpr off_t kPageMax = 16 << 20;         // ".html" pages are read whole

const char kNotFound[] =
    "<HTML><HEAD><TITLE>SYSTEM ERROR</TITLE></HEAD><BODY><H1>NOT FOUND</H1>The requested object does not exist "
    "on this server.</BODY></HTML>\r\n";
const char kDenied[] = "<HTML><HEAD><TITLE>SYSTEM ERROR</TITLE></HEAD><BODY><H1>ACCESS DENIED</H1></BODY></HTML>\r\n";
const char kForbidden[] =
    "<HTML><HEAD><TITLE>SYSTEM ERROR</TITLE></HEAD><BODY><H1>FORBIDDEN</H1>The request is not allowed.</BODY></HTML>\r\n";
const char kTooLong[] =
    "<HTML><HEAD><TITLE>SYSTEM ERROR</TITLE></HEAD><BODY><H1>BAD REQUEST</H1>The request is too long.</BODY></HTML>\r\n";
const char kRestOk[] =
    "<HTML><HEAD><TITLE>REST SUCCESS</TITLE></HEAD><BODY><H1>REST SUCCESS</H1>The RESTful request was processed by "
    "Oxel.</BODY></HTML>\r\n";
const char kRestFail[] =
    "<HTML><HEAD><TITLE>REST FAILURE</TITLE></HEAD><BODY><H1>REST FAILURE</H1>The RESTful request was not processed "
    "by Oxel.</BODY></HTML>\r\n";
const char kHtmlType[] = "Content-type: text/html\r\n";

const struct {
    int code;
    const char* reason;
} kStatus[] = {{200, "OK"},
               {201, "Created"},
               {202, "Accepted"},
               {204, "No Content"},
               {301, "Moved Permanently"},
               {302, "Moved Temporarily"},
               {304, "Not Modified"},
               {400, "Bad Request"},
               {401, "Unauthorized"},
               {403, "Forbidden"},
               {404, "Not Found"},
               {500, "Internal Server Error"},
               {501, "Not Implemented"},
               {502, "Bad Gateway"},
               {503, "Service Unavailable"},
               {100, "Continue"}};

const char* Reason(int code) {
    for (const auto& s : kStatus)
        if (s.code == code) return s.reason;
    return "";
}

void Serve(ConnSlot& slot);

TcpServer g_srv{"httpsrvr", Serve};

// What the connections read, fixed at start.
struct Settings {
    std::string home;       // as configured
    std::string realHome;   // resolved, for the containment check
    std::string user, pswd;
    std::vector<std::string> localNames;
};
std::mutex g_mu;
Settings g_set;

Settings Snapshot() {
    std::lock_guard l(g_mu);
    return g_set;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Names a browser may use for this machine: loopback, the host name, the
// interfaces' addresses, and the extra names in the shell variable HTTP_HOSTS.
std::vector<std::string> LocalNames() {
    std::vector<std::string> names = {"localhost", "127.0.0.1"};
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) == 0 && host[0]) names.push_back(Lower(host));
    for (const NetIface& i : NetInterfaces()) names.push_back(i.addr);
    if (std::optional<std::string> extra = shell_getenv("HTTP_HOSTS")) {
        std::string word;
        for (char c : *extra + " ") {
            if (c == ' ' || c == ',') {
                if (!word.empty()) names.push_back(Lower(word));
                word.clear();
            } else {
                word += c;
            }
        }
    }
    return names;
}

std::string Field(const char* field, size_t cap) { return std::string(field, strnlen(field, cap)); }

// ---- sending ----

int httpPrintf(ConnSlot& c, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int httpPrintf(ConnSlot& c, const char* fmt, ...) {
    char text[2048];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    n = std::min(n, static_cast<int>(sizeof text) - 1);
    TracePrintf(TRC_HTTP, "HTTPPRINTF[%d]: %s\n", c.number, text);
    if (NetSendAll(c.fd, text, static_cast<size_t>(n)) < 0) {
        TracePrintf(TRC_HTTP, "httpPrintf send(%d) failed %d\n", c.number, errno);
        return -1;
    }
    return n;
}

int SendBody(ConnSlot& c, const char* data, size_t len) {
    if (NetSendAll(c.fd, data, len) < 0) {
        TracePrintf(TRC_HTTP, "TCP send (lno=%d) failed. rc=%d\n", __LINE__, errno);
        return -1;
    }
    return 0;
}

int Reply(ConnSlot& c, const std::string& version, int code, const char* headers, const char* body) {
    return httpPrintf(c, "%s %d %s\r\n%sContent-length: %d\r\n\r\n%s", version.c_str(), code, Reason(code), headers,
                      static_cast<int>(std::strlen(body)), body);
}

// ---- files ----

// The file for a safe name: inside the home directory once links are
// resolved, and a regular file. errno tells a refusal (EACCES) from none (ENOENT).
std::optional<std::string> HomeFile(const Settings& s, const std::string& safeName, off_t* size) {
    std::string joined = s.home + "/" + safeName;
    char resolved[PATH_MAX];
    if (!realpath(joined.c_str(), resolved)) {
        errno = ENOENT;
        return std::nullopt;
    }
    std::string real = resolved;
    if (real.compare(0, s.realHome.size() + 1, s.realHome + "/") != 0) {
        errno = EACCES;
        return std::nullopt;
    }
    struct stat st{};
    if (stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = ENOENT;
        return std::nullopt;
    }
    *size = st.st_size;
    return real;
}

std::optional<std::string> ReadAll(const std::string& path, off_t limit) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        TracePrintf(TRC_ALWAYS, "HTTP readall-open failed\n");
        return std::nullopt;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0) {
        TracePrintf(TRC_ALWAYS, "HTTP readall-fstat failed\n");
        close(fd);
        return std::nullopt;
    }
    if (st.st_size > limit) {
        TracePrintf(TRC_ALWAYS, "HTTP readall-malloc failed\n");
        close(fd);
        return std::nullopt;
    }
    std::string out(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < out.size()) {
        ssize_t n = read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (got != out.size()) {
        TracePrintf(TRC_ALWAYS, "HTTP read failed\n");
        return std::nullopt;
    }
    return out;
}

int NumberIn(const std::string& text, int lo, int hi) {
    int v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() && end == text.data() + text.size() && v >= lo && v <= hi ? v : 0;
}

std::string SsiValue(SsiValueKind kind, const std::string& name) {
    if (kind == SSI_ECHO) return shell_getenv(name.c_str()).value_or("");
    if (kind == SSI_FLBL) {
        int n = NumberIn(name, 2, 9);
        return n ? Field(g_cfg.FKEY_LABEL[n - 2], sizeof g_cfg.FKEY_LABEL[0]) : "";
    }
    int n = NumberIn(name, 1, kRemoteButtons);
    return n ? Field(g_cfg.BUTTON_LABEL[n - 1], sizeof g_cfg.BUTTON_LABEL[0]) : "";
}

// A page with its includes done, or a plain file's bytes.
std::optional<std::string> LoadPage(const Settings& s, const std::string& path, const std::string& name) {
    std::optional<std::string> text = ReadAll(path, kPageMax);
    if (!text || path.find(".html") == std::string::npos) return text;
    SsiSource src;
    src.title = [] { return Field(g_cfg.TITLEBAR, sizeof g_cfg.TITLEBAR); };
    src.readFile = [&s](const std::string& name) -> std::optional<std::string> {
        off_t size = 0;
        std::optional<std::string> p = HomeFile(s, name, &size);
        return p ? ReadAll(*p, kPageMax) : std::nullopt;
    };
    src.value = SsiValue;
    return SsiExpand(*text, src, name);
}

// Plain files go out in pieces, so that their size costs no memory.
int SendFile(ConnSlot& c, const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        TracePrintf(TRC_ALWAYS, "HTTP readall-open failed\n");
        return -1;
    }
    std::vector<char> buf(64 * 1024);
    int rc = 0;
    for (;;) {
        ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) TracePrintf(TRC_ALWAYS, "HTTP read failed\n");
        if (n <= 0 || (rc = SendBody(c, buf.data(), static_cast<size_t>(n))) < 0) {
            rc = n < 0 ? -1 : rc;
            break;
        }
    }
    close(fd);
    return rc;
}

// ---- requests ----

enum Next { NEXT_REQUEST, CLOSE_DONE, CLOSE_DROP };

// Where the request in buf ends: after CR LF CR LF, or after the first line
// when that line has no "HTTP/" (a 0.9 request has no headers); npos when
// it has not all come yet.
size_t RequestEnd(const std::string& buf) {
    size_t end = HttpHeaderEnd(buf);
    size_t lf = buf.find('\n');
    if (lf != std::string::npos && (end == std::string::npos || lf < end) &&
        buf.substr(0, lf).find("HTTP/") == std::string::npos)
        return lf + 1;
    return end;
}

// The next request into req; carry keeps bytes read past it. 1 done, 0 the
// connection ends (traced), -1 the request was too long.
int ReadRequest(ConnSlot& c, std::string& carry, std::string& req) {
    const int64_t deadline = NowMs() + kRequestMs;
    char buf[4096];
    for (;;) {
        size_t end = RequestEnd(carry);
        if (end != std::string::npos && end <= kHttpRequestMax) {
            req = carry.substr(0, end);
            carry.erase(0, end);
            return 1;
        }
        if (carry.size() >= kHttpRequestMax) return -1;
        int n = RecvUntil(c.fd, buf, sizeof buf, deadline);
        if (n == -2) {
            if (!carry.empty()) TracePrintf(TRC_HTTP, "HTTP[%d] request not complete in time\n", c.number);
            return 0;
        }
        if (n < 0) {
            TracePrintf(TRC_HTTP, "httpThread recv() %d\n", errno);
            return 0;
        }
        if (n == 0) {
            TracePrintf(TRC_HTTP, "httpThread peer shut down (connection dropped)");
            return 0;
        }
        carry.append(buf, static_cast<size_t>(n));
    }
}

constexpr int kRemoteLineMs = 30000;          // a REST line not done by then gets 400

// Runs one script command line for a remote caller on the script thread;
// the one place remote lines enter the script engine.
int RunRemoteLine(const std::string& line) { return ScriptRunLine(line.c_str(), kRemoteLineMs); }

bool RestAction(const RestRequest& r) {
    switch (r.kind) {
    case REST_SCRCMD:
        return RunRemoteLine(r.value) == 0;
    case REST_BUTTON: {
        int n = NumberIn(r.value, 1, kRemoteButtons);
        if (n) RemotePressButton(n);
        return n != 0;
    }
    case REST_FKEY: {
        int n = NumberIn(r.value, 2, 9);
        if (n) RemotePressFkey(n);
        return n != 0;
    }
    case REST_NONE:
        break;
    }
    return false;
}

Next DoRest(ConnSlot& c, const HttpRequest& r) {
    bool taken = RestAction(HttpParseRest(std::string_view(r.name).substr(5)));
    int rc = taken ? Reply(c, r.replyVersion, 202, kHtmlType, kRestOk) : Reply(c, r.replyVersion, 400, kHtmlType, kRestFail);
    if (rc < 0) return CLOSE_DROP;
    return r.keepAlive ? NEXT_REQUEST : CLOSE_DONE;
}

Next DoPost(ConnSlot& c, const HttpRequest& r, std::string& carry) {
    std::string body = carry.substr(0, kPostFollowMax);
    carry.clear();
    if (body.empty()) {
        char buf[kPostFollowMax];
        int n = RecvUntil(c.fd, buf, sizeof buf, NowMs() + kRequestMs);
        if (n > 0) body.assign(buf, static_cast<size_t>(n));
        TracePrintf(TRC_HTTP, "HTTP[%d] POST FOLLOW-UP (%d bytes): %s\n", c.number, std::max(n, 0), body.c_str());
    }
    TracePrintf(TRC_HTTP, "HTTP[%d]: action = %s\n", c.number, r.name.c_str());
    TracePrintf(TRC_HTTP, "HTTP[%d]: followup = %s\n", c.number, body.c_str());
    TracePrintf(TRC_HTTP, "HTTP[%d]: TakeAction feature does not work yet\n", c.number);
    if (httpPrintf(c, "%s %d %s\r\n\r\n", r.replyVersion.c_str(), 100, "Continue") < 0) return CLOSE_DROP;
    return NEXT_REQUEST;
}

// The "<HEAD" ... "</HEAD>" part of a page, what a HEAD request without
// "HTTP/" is answered with.
std::string HeadSection(const std::string& page) {
    size_t from = page.find("<HEAD");
    size_t to = from == std::string::npos ? from : page.find("</HEAD>", from);
    return to == std::string::npos ? "" : page.substr(from, to + 7 - from);
}

Next DoFile(ConnSlot& c, const Settings& s, const HttpRequest& r, const std::string& req) {
    const char* method = HttpMethodName(r.method);
    std::optional<std::string> safe = HttpSafeName(r.name);
    off_t size = 0;
    std::optional<std::string> path = safe ? HomeFile(s, *safe, &size) : std::nullopt;
    if (!path) {
        TracePrintf(TRC_HTTP, "HTTP[%d] %s (from:%s) %s\n", c.number, method, c.peer.c_str(), r.name.c_str());
        if (!safe || errno == EACCES) {
            TracePrintf(TRC_HTTP, "HTTP[%d] refused, outside home: %s\n", c.number, r.name.c_str());
            return Reply(c, r.replyVersion, 403, kHtmlType, kForbidden) < 0 ? CLOSE_DROP : CLOSE_DONE;
        }
        TracePrintf(TRC_HTTP, "HTTP[%d] file not found: %s\n", c.number, r.name.c_str());
        if (Reply(c, r.replyVersion, 404, kHtmlType, kNotFound) < 0) return CLOSE_DROP;
        return r.keepAlive ? NEXT_REQUEST : CLOSE_DONE;
    }
    TracePrintf(TRC_HTTP, "HTTP[%d] %s (from:%s) %s (fsize=%d)\n", c.number, method, c.peer.c_str(), r.name.c_str(),
                static_cast<int>(size));
    if (!s.user.empty() || !s.pswd.empty()) {
        std::string token;
        bool ok = HttpAuthApproved(req, s.user, s.pswd, &token);
        TracePrintf(TRC_HTTP, "HTTP[%d] : authorization request: %s... %s", c.number, token.c_str(),
                    ok ? "approved\n" : "denied\n");
        if (!ok) {
            std::string headers = std::string("WWW-Authenticate: Basic realm=\"ias\"\r\n") + kHtmlType;
            if (Reply(c, r.replyVersion, 401, headers.c_str(), kDenied) < 0) return CLOSE_DROP;
            return r.keepAlive ? NEXT_REQUEST : CLOSE_DONE;
        }
    }
    int why = 0;
    std::string type = HttpContentType(*safe, &why);
    if (why) TracePrintf(TRC_ALWAYS, "Can't determine content type%d: %s\n", why, safe->c_str());
    const bool page = path->find(".html") != std::string::npos;
    std::optional<std::string> body;
    const bool headSection = r.method == HTTP_HEAD && r.version == 1;
    if (page || headSection) {
        body = headSection ? ReadAll(*path, kPageMax) : LoadPage(s, *path, *safe);
        if (!body) {
            TracePrintf(TRC_HTTP, "GET readall failed\n");
            return CLOSE_DROP;
        }
    }
    if (headSection) {
        std::string head = HeadSection(*body);
        return SendBody(c, head.data(), head.size()) < 0 ? CLOSE_DROP : CLOSE_DONE;
    }
    long long length = body ? static_cast<long long>(body->size()) : static_cast<long long>(size);
    if (httpPrintf(c, "%s 200 OK\r\n%s%sContent-Length: %lld\r\n\r\n", r.replyVersion.c_str(),
                   r.keepAlive ? "Connection: keep-alive\r\n" : "", type.c_str(), length) < 0)
        return CLOSE_DROP;
    if (r.method == HTTP_GET) {
        int rc = body ? SendBody(c, body->data(), body->size()) : SendFile(c, *path);
        if (rc < 0) return CLOSE_DROP;
    }
    return r.keepAlive ? NEXT_REQUEST : CLOSE_DONE;
}

Next ServeOne(ConnSlot& c, std::string& carry) {
    std::string req;
    int got = ReadRequest(c, carry, req);
    if (got == 0) return CLOSE_DROP;
    if (got < 0) {
        TracePrintf(TRC_HTTP, "HTTP[%d] request longer than %d bytes\n", c.number, static_cast<int>(kHttpRequestMax));
        Reply(c, "HTTP/1.1", 400, kHtmlType, kTooLong);
        return CLOSE_DROP;
    }
    TracePrintf(TRC_HTTP, "HTTP[%d] RCVD(%d): %s\n", c.number, static_cast<int>(req.size()), req.c_str());
    HttpRequest r = HttpParseRequest(req);
    if (r.method == HTTP_UNKNOWN) {
        TracePrintf(TRC_HTTP, "Incoming message did not parse properly\n");
        return CLOSE_DROP;
    }
    Settings s = Snapshot();
    if (const char* why = HttpSiteRefusal(req, g_srv.port, s.localNames, r.rest)) {
        TracePrintf(TRC_HTTP, "HTTP[%d] refused (from:%s): %s\n", c.number, c.peer.c_str(), why);
        Reply(c, r.replyVersion, 403, kHtmlType, kForbidden);
        return CLOSE_DROP;
    }
    if (r.rest) return DoRest(c, r);
    if (r.method == HTTP_POST) return DoPost(c, r, carry);
    return DoFile(c, s, r, req);
}

void Serve(ConnSlot& c) {
    TracePrintf(TRC_HTTP, "HCON: %d\n", c.number);
    std::string carry;
    Next next;
    while ((next = ServeOne(c, carry)) == NEXT_REQUEST) {
    }
    if (next == CLOSE_DONE) TracePrintf(TRC_HTTP, "HTTP[%d] connection completed.\n", c.number);
}

bool DirectoryExists(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int HttpStart(uint16_t httpPort, uint16_t websocPort, const std::string& home) {
    if (HttpRunning()) return 1;
    Settings s;
    s.home = home;
    char resolved[PATH_MAX];
    s.realHome = realpath(home.c_str(), resolved) ? resolved : home;
    s.user = Field(g_cfg.HTTP_AUTH_USER, sizeof g_cfg.HTTP_AUTH_USER);
    s.pswd = Field(g_cfg.HTTP_AUTH_PSWD, sizeof g_cfg.HTTP_AUTH_PSWD);
    s.localNames = LocalNames();
    {
        std::lock_guard l(g_mu);
        g_set = s;
    }
    if (!TcpServerStart(g_srv, httpPort)) return 0;
    TracePrintf(TRC_HTTP, "HTTP srvr running on %s, port %d\n", ShellHostAddress().value_or("127.0.0.1").c_str(),
                g_srv.port.load());
    TracePrintf(TRC_HTTP, "HTTP srvr using home: %s\n", home.c_str());
    if (websocPort != 0) WebsocStart(websocPort, g_srv.port, s.localNames);
    return 1;
}

void HttpStop() {
    TcpServerStop(g_srv);
    WebsocStop();
}

bool HttpRunning() { return TcpServerRunning(g_srv); }

uint16_t HttpPort() { return g_srv.port; }

void HttpStartFromConfig() {
    if (!g_cfg.HTTPSRVR_ENABLED) return;
    HttpStart(g_cfg.HTTPSRVR_PORT, g_cfg.WEBSOCSRVR_PORT, Field(g_cfg.HTTP_START_DIR, sizeof g_cfg.HTTP_START_DIR));
    TraceRefreshCaption();
}

const char* HttpApplySettings(const HttpSettings& s) {
    const bool running = HttpRunning();
    if (!running || s.enabled) {
        if (!DirectoryExists(s.home)) return "Directory doesn't exist";
        if (s.httpPort > 0xFFFF || s.websocPort > 0xFFFF || s.httpPort == s.websocPort) return "Illegal port assignment.";
        CFG_SET_STRING(g_cfg.HTTP_START_DIR, s.home.c_str());
        g_cfg.HTTPSRVR_PORT = static_cast<uint16_t>(s.httpPort);
        g_cfg.WEBSOCSRVR_PORT = static_cast<uint16_t>(s.websocPort);
        CFG_SET_STRING(g_cfg.HTTP_AUTH_USER, s.user.c_str());
        CFG_SET_STRING(g_cfg.HTTP_AUTH_PSWD, s.pswd.c_str());
        ShellSetWebsocPort();
        if (s.enabled && !running) {
            g_cfg.HTTPSRVR_ENABLED = 1;
            HttpStartFromConfig();
        }
    } else {
        HttpStop();
        g_cfg.HTTPSRVR_ENABLED = 0;
        TraceRefreshCaption();
    }
    return nullptr;
}
