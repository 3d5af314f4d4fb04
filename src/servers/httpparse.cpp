#include "servers/httpparse.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string LowerCase(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), Lower);
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// %XX at s[i]: the byte, or -1.
int PercentByte(std::string_view s, size_t i) {
    if (i + 2 >= s.size()) return -1;
    int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

struct MethodRow {
    const char* prefix;
    HttpMethod method;
};
const MethodRow kMethods[] = {{"GET /", HTTP_GET}, {"HEAD /", HTTP_HEAD}, {"POST /", HTTP_POST}};

std::string ResourceName(std::string_view rest) {
    if (rest.empty() || Blank(rest[0])) return "index.html";
    size_t lineEnd = 0;
    while (lineEnd < rest.size() && !Blank(rest[lineEnd])) ++lineEnd;
    std::string_view word = rest.substr(0, lineEnd);
    size_t vid = word.find("?version-id=");
    if (vid != std::string_view::npos) return std::string(word.substr(0, std::min(vid, kHttpNameMax)));
    if (word[0] == '/' || word[0] == '\\') word.remove_prefix(1);
    return std::string(word.substr(0, kHttpNameMax));
}

struct TypeRow {
    const char* ext;
    size_t compare;   // characters compared; 0 = the whole extension
    const char* line;
};
// First match wins. The last five rows serve the web console's scripts and styles.
const TypeRow kTypes[] = {
    {"htm", 3, "Content-Type: text/html\r\n"},
    {"png", 0, "Content-Type: image/png\r\n"},
    {"ppt", 3, "Content-Type: application/vnd.ms-powerpoint\r\n"},
    {"jp", 2, "Content-Type: image/jpeg\r\n"},
    {"wmv", 0, "Content-Type: video/x-ms-wmv\r\n"},
    {"ico", 0, "Content-Type: image/gif\r\n"},
    {"bmp", 0, "Content-Type: image/gif\r\n"},
    {"gif", 0, "Content-Type: image/gif\r\n"},
    {"zip", 0, "Content-Type: application/zip\r\n"},
    {"pdf", 0, "Content-Type: application/pdf\r\n"},
    {"mp4", 0, "Content-Type: video/mp4\r\n"},
    {"class", 0, "Content-Type: application/octet-stream\r\n"},
    {"js", 0, "Content-Type: text/javascript\r\n"},
    {"css", 0, "Content-Type: text/css\r\n"},
    {"json", 0, "Content-Type: application/json\r\n"},
    {"txt", 0, "Content-Type: text/plain\r\n"},
    {"svg", 0, "Content-Type: image/svg+xml\r\n"},
};

// The host part of "name", "name:port" or "[v6]:port", lower case; *port
// gets the port (0 when none or not a number).
std::string HostPart(std::string_view hostPort, unsigned* port) {
    *port = 0;
    size_t colon = std::string_view::npos;
    std::string_view host = hostPort;
    if (StartsWith(hostPort, "[")) {
        size_t close = hostPort.find(']');
        if (close == std::string_view::npos) return "";
        host = hostPort.substr(0, close + 1);
        if (close + 1 < hostPort.size() && hostPort[close + 1] == ':') colon = close + 1;
    } else {
        colon = hostPort.rfind(':');
        if (colon != std::string_view::npos) host = hostPort.substr(0, colon);
    }
    if (colon != std::string_view::npos) {
        unsigned p = 0;
        std::string_view digits = hostPort.substr(colon + 1);
        for (char c : digits) {
            if (c < '0' || c > '9' || p > 65535) return "";
            p = p * 10 + static_cast<unsigned>(c - '0');
        }
        *port = p;
    }
    return LowerCase(host);
}

bool IsLocal(const std::string& host, const std::vector<std::string>& localNames) {
    return !host.empty() && std::find(localNames.begin(), localNames.end(), host) != localNames.end();
}

// ---- server-side includes ----

struct Ssi {
    const SsiSource& src;
    std::vector<std::string> stack;   // files being included, to stop cycles
    std::string out;
};

void Expand(Ssi& s, std::string_view text);

// "${NAME}" / "${NAME:default}" replaced; "$x" copied.
void Substitute(Ssi& s, std::string_view text, SsiValueKind kind) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '$') {
            s.out += text[i];
            continue;
        }
        size_t close = text.find('}', i);
        if (i + 1 < text.size() && text[i + 1] == '{' && close != std::string_view::npos) {
            std::string_view inner = text.substr(i + 2, close - i - 2);
            size_t colon = inner.find(':');
            std::string name(inner.substr(0, colon));
            std::string value = s.src.value ? s.src.value(kind, name) : "";
            if (value.empty()) value = colon == std::string_view::npos ? name : std::string(inner.substr(colon + 1));
            s.out += value;
            i = close;
            continue;
        }
        s.out += text[i];
        if (i + 1 < text.size()) s.out += text[++i];
    }
}

void Include(Ssi& s, const std::string& name) {
    std::optional<std::string> safe = HttpSafeName(name);
    if (!safe) {
        s.out += "[include refused: " + name + "]";
        return;
    }
    if (static_cast<int>(s.stack.size()) >= kSsiDepthMax ||
        std::find(s.stack.begin(), s.stack.end(), *safe) != s.stack.end()) {
        s.out += "[include loop: " + name + "]";
        return;
    }
    std::optional<std::string> body = s.src.readFile ? s.src.readFile(*safe) : std::nullopt;
    if (!body) {
        s.out += "[include not found: " + name + "]";
        return;
    }
    s.stack.push_back(*safe);
    Expand(s, *body);
    s.stack.pop_back();
}

// "include virtual=" followed by blanks and "name" ending right before "-->".
std::optional<std::string> QuotedName(std::string_view arg) {
    size_t i = 0;
    while (i < arg.size() && (arg[i] == ' ' || arg[i] == '\t')) ++i;
    arg.remove_prefix(i);
    if (arg.size() < 2 || arg.front() != '"' || arg.back() != '"') return std::nullopt;
    std::string_view name = arg.substr(1, arg.size() - 2);
    if (name.find('"') != std::string_view::npos) return std::nullopt;
    return std::string(name);
}

void Expand(Ssi& s, std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && s.out.size() < kSsiOutputMax) {
        size_t open = text.find("<!--#", pos);
        size_t close = open == std::string_view::npos ? open : text.find("-->", open + 5);
        if (close == std::string_view::npos) break;
        s.out.append(text.substr(pos, open - pos));
        std::string_view body = text.substr(open + 5, close - open - 5);
        if (StartsWith(body, "title")) {
            if (s.src.title) s.out += s.src.title();
        } else if (StartsWith(body, "include virtual=")) {
            std::optional<std::string> name = QuotedName(body.substr(16));
            if (!name) {
                // Not quoted as it must be: the directive shows literally.
                s.out += '<';
                pos = open + 1;
                continue;
            }
            Include(s, *name);
        } else if (StartsWith(body, "echo:")) {
            Substitute(s, body.substr(5), SSI_ECHO);
        } else if (StartsWith(body, "flbl")) {
            Substitute(s, body.substr(4), SSI_FLBL);
        } else if (StartsWith(body, "blbl")) {
            Substitute(s, body.substr(4), SSI_BLBL);
        } else {
            pos = open;
            break;
        }
        pos = close + 3;
    }
    if (pos < text.size()) s.out.append(text.substr(pos));
    if (s.out.size() > kSsiOutputMax) {
        s.out.resize(kSsiOutputMax);
        s.out += "[page too large]";
    }
}

}  // namespace

const char* HttpMethodName(HttpMethod m) {
    static const char* const kNames[] = {"???", "GET", "HEAD", "POST"};
    return kNames[m];
}

size_t HttpHeaderEnd(std::string_view text) {
    size_t p = text.find("\r\n\r\n");
    return p == std::string_view::npos ? p : p + 4;
}

std::optional<std::string> HttpHeader(std::string_view request, std::string_view name) {
    size_t line = request.find("\r\n");
    while (line != std::string_view::npos) {
        line += 2;
        size_t end = request.find("\r\n", line);
        std::string_view l = request.substr(line, end == std::string_view::npos ? std::string_view::npos : end - line);
        if (l.empty()) break;
        size_t colon = l.find(':');
        if (colon != std::string_view::npos && EqualNoCase(l.substr(0, colon), name)) {
            std::string_view v = l.substr(colon + 1);
            while (!v.empty() && Blank(v.front())) v.remove_prefix(1);
            while (!v.empty() && Blank(v.back())) v.remove_suffix(1);
            return std::string(v);
        }
        line = end;
    }
    return std::nullopt;
}

HttpRequest HttpParseRequest(std::string_view request) {
    HttpRequest r;
    r.keepAlive = request.find("Connection: keep-alive") != std::string_view::npos;
    size_t v = request.find("HTTP/");
    if (v != std::string_view::npos) {
        size_t e = v;
        while (e < request.size() && !Blank(request[e]) && e - v < kHttpVersionMax) ++e;
        r.versionText = std::string(request.substr(v, e - v));
    }
    if (v != std::string_view::npos && r.versionText != "HTTP/0.9") {
        r.version = 2;
        r.replyVersion = "HTTP/1.1";
    }
    for (const MethodRow& m : kMethods) {
        if (!StartsWith(request, m.prefix)) continue;
        r.method = m.method;
        r.name = ResourceName(request.substr(std::strlen(m.prefix)));
        r.rest = StartsWith(r.name, "OXEL?");
        break;
    }
    return r;
}

std::optional<std::string> HttpSafeName(std::string_view name) {
    name = name.substr(0, name.find('?'));
    std::string decoded;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            decoded += name[i];
            continue;
        }
        int b = PercentByte(name, i);
        if (b < 0) return std::nullopt;
        decoded += static_cast<char>(b);
        i += 2;
    }
    if (decoded.empty()) return "index.html";
    if (decoded[0] == '/' || decoded.find('\0') != std::string::npos || decoded.find('\\') != std::string::npos)
        return std::nullopt;
    size_t start = 0;
    while (start <= decoded.size()) {
        size_t slash = decoded.find('/', start);
        std::string_view seg = std::string_view(decoded).substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (seg.empty() || seg == "." || seg == "..") return std::nullopt;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return decoded;
}

std::string HttpContentType(std::string_view name, int* why) {
    size_t dot = name.rfind('.');
    size_t slash = name.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && slash > dot)) {
        *why = 1;
        return "";
    }
    std::string ext = LowerCase(name.substr(dot + 1));
    for (const TypeRow& t : kTypes) {
        bool match = t.compare ? ext.compare(0, t.compare, t.ext) == 0 && ext.size() >= t.compare : ext == t.ext;
        if (match) {
            *why = 0;
            return t.line;
        }
    }
    *why = 2;
    return "";
}

std::string RestDecodeValue(std::string_view raw) {
    std::string out;
    for (size_t i = 0; i < raw.size() && out.size() < kRestValueMax; ++i) {
        int c = static_cast<unsigned char>(raw[i]);
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            int b = PercentByte(raw, i);
            if (b >= 0) {
                c = b;
                i += 2;
            }
        }
        if (c == '\n') out += "\\n";
        else if (c == '\'') out += "\\'";
        else if (c == '\\') out += "\\\\";
        else out += static_cast<char>(c);
    }
    if (out.size() > kRestValueMax) out.resize(kRestValueMax);
    return out;
}

RestRequest HttpParseRest(std::string_view query) {
    static const struct {
        const char* name;
        RestKind kind;
    } kNames[] = {{"SCRCMD", REST_SCRCMD}, {"BUTTON", REST_BUTTON}, {"FKEY", REST_FKEY}};
    size_t start = 0;
    while (start <= query.size()) {
        size_t amp = query.find('&', start);
        std::string_view pair = query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
        size_t eq = pair.find('=');
        std::string_view key = pair.substr(0, eq);
        for (const auto& n : kNames)
            if (key == n.name)
                return {n.kind, eq == std::string_view::npos ? "" : RestDecodeValue(pair.substr(eq + 1))};
        if (amp == std::string_view::npos) break;
        start = amp + 1;
    }
    return {};
}

std::string Base64Encode(const void* data, size_t len) {
    std::string out(4 * ((len + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), static_cast<const unsigned char*>(data),
                            static_cast<int>(len));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text, size_t maxOut) {
    if (text.size() % 4 != 0 || text.size() / 4 * 3 > maxOut + 2) return std::nullopt;
    size_t pad = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool alpha = std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/';
        if (c == '=' && i + 2 >= text.size()) ++pad;
        else if (!alpha || pad) return std::nullopt;
    }
    std::string out(text.size() / 4 * 3 + 1, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0 || static_cast<size_t>(n) < pad) return std::nullopt;
    out.resize(static_cast<size_t>(n) - pad);
    if (out.size() > maxOut) return std::nullopt;
    return out;
}

bool HttpAuthApproved(std::string_view request, const std::string& user, const std::string& pswd,
                      std::string* token) {
    token->clear();
    std::optional<std::string> value = HttpHeader(request, "Authorization");
    if (!value) return false;
    std::string_view v = *value;
    size_t scheme = v.find_first_of(" \t");
    if (scheme == std::string_view::npos) return false;
    v.remove_prefix(scheme);
    while (!v.empty() && Blank(v.front())) v.remove_prefix(1);
    *token = std::string(v.substr(0, v.find_first_of(" \t")));
    std::optional<std::string> plain = Base64Decode(*token, 64);
    if (!plain) return false;
    size_t colon = plain->find(':');
    if (colon == std::string::npos) return false;
    if (!user.empty() && plain->substr(0, colon) != user) return false;
    if (!pswd.empty() && plain->substr(colon + 1) != pswd) return false;
    return true;
}

const char* HttpSiteRefusal(std::string_view request, uint16_t httpPort,
                            const std::vector<std::string>& localNames, bool checkOrigin) {
    unsigned port = 0;
    if (std::optional<std::string> host = HttpHeader(request, "Host"))
        if (!IsLocal(HostPart(*host, &port), localNames)) return "Host is not this machine";
    if (std::optional<std::string> site = HttpHeader(request, "Sec-Fetch-Site"))
        if (EqualNoCase(*site, "cross-site")) return "cross-site request";
    if (!checkOrigin) return nullptr;
    std::optional<std::string> origin = HttpHeader(request, "Origin");
    if (!origin) return nullptr;
    std::string o = LowerCase(*origin);
    if (!StartsWith(o, "http://")) return "foreign Origin";
    std::string host = HostPart(std::string_view(o).substr(7), &port);
    if (port == 0 && o.find(':', 7) == std::string::npos) port = 80;
    if (!IsLocal(host, localNames) || port != httpPort) return "foreign Origin";
    return nullptr;
}

std::string SsiExpand(std::string_view text, const SsiSource& src, const std::string& name) {
    Ssi s{src, {}, {}};
    if (!name.empty()) s.stack.push_back(name);
    Expand(s, text);
    return s.out;
}
