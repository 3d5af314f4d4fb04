#include "servers/websocproto.h"

#include <cjson/cJSON.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "servers/httpparse.h"

namespace {

const char kGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

bool Continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at s[i], 0 when it is not one.
size_t ValidSequence(std::string_view s, size_t i) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data()) + i;
    size_t left = s.size() - i;
    uint8_t b = p[0];
    if (b < 0x80) return 1;
    size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (n == 0 || b > 0xF4 || left < n) return 0;
    for (size_t k = 1; k < n; ++k)
        if (!Continuation(p[k])) return 0;
    if (n == 3 && ((b == 0xE0 && p[1] < 0xA0) || (b == 0xED && p[1] > 0x9F))) return 0;   // overlong, surrogate
    if (n == 4 && ((b == 0xF0 && p[1] < 0x90) || (b == 0xF4 && p[1] > 0x8F))) return 0;   // overlong, > U+10FFFF
    return n;
}

// Valid UTF-8 for any bytes: see WsDatMessage.
std::string Utf8Text(std::string_view in, bool dropCr) {
    std::string out;
    out.reserve(in.size() + 16);
    for (size_t i = 0; i < in.size();) {
        auto b = static_cast<uint8_t>(in[i]);
        size_t n = ValidSequence(in, i);
        if (b == '\r' && dropCr) {
            ++i;
        } else if (b == 0) {
            out += "\xE2\x90\x80";
            ++i;
        } else if (n) {
            out.append(in.substr(i, n));
            i += n;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
            ++i;
        }
    }
    return out;
}

std::string Printed(cJSON* obj) {
    std::unique_ptr<char, void (*)(void*)> text(cJSON_Print(obj), cJSON_free);
    cJSON_Delete(obj);
    return text ? std::string(text.get()) : std::string();
}

bool Prefix(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// Decimal from the fifth character on: blanks skipped, digits to the first
// other character, none gives 0.
int NumberAfter4(std::string_view s) {
    size_t i = 4;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && v < 100000000; ++i) v = v * 10 + (s[i] - '0');
    return static_cast<int>(v);
}

std::string Fmt(const char* fmt, std::string_view s) {
    std::string arg(s);
    int n = std::snprintf(nullptr, 0, fmt, arg.c_str());
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), fmt, arg.c_str());
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string FmtInt(const char* fmt, int v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

WsAction NumberAction(WsActionKind kind, int n, WsAction a = {}) {
    a.kind = kind;
    a.number = n;
    a.trace.push_back(FmtInt(kind == WS_FKEY ? "FKEY: <%d>" : "BUTN: <%d>", n));
    return a;
}

// "cmd": the printed JSON text without its quotes and one \n at either end.
std::string CmdLine(cJSON* line) {
    std::string printed = Printed(cJSON_Duplicate(line, true));
    if (printed.size() > 2 && printed.front() == '"' && printed.back() == '"')
        printed = printed.substr(1, printed.size() - 2);
    if (Prefix(printed, "\\n")) printed.erase(0, 2);
    if (printed.size() >= 2 && printed.compare(printed.size() - 2, 2, "\\n") == 0) printed.resize(printed.size() - 2);
    return printed;
}

WsAction JsonAction(std::string_view text) {
    WsAction a;
    std::string copy(text);
    std::unique_ptr<cJSON, void (*)(cJSON*)> root(cJSON_Parse(copy.c_str()), cJSON_Delete);
    cJSON* type = root ? cJSON_GetObjectItemCaseSensitive(root.get(), "type") : nullptr;
    if (type) a.trace.push_back(Fmt("TYPE: <%s>", Printed(cJSON_Duplicate(type, true))));
    const char* t = cJSON_IsString(type) ? type->valuestring : "";
    cJSON* nmbr = root ? cJSON_GetObjectItemCaseSensitive(root.get(), "nmbr") : nullptr;
    int number = cJSON_IsNumber(nmbr) ? nmbr->valueint : 0;
    cJSON* line = root ? cJSON_GetObjectItemCaseSensitive(root.get(), "line") : nullptr;
    if (std::strcmp(t, "fkey") == 0) return NumberAction(WS_FKEY, number, a);
    if (std::strcmp(t, "btn") == 0) return NumberAction(WS_BUTTON, number, a);
    if (std::strcmp(t, "cmd") == 0 && line) {
        a.kind = WS_TYPE_LINE;
        a.text = CmdLine(line);
        return a;
    }
    a.kind = WS_REPLY;
    a.text = "server-to-client response";
    a.trace.push_back(Fmt("UNEXPECTED_MSG_RCVD: <%s>", text));
    return a;
}

}  // namespace

std::optional<std::string> WsAcceptValue(std::string_view key) {
    std::string text = std::string(key) + kGuid;
    if (text.size() > 128) return std::nullopt;
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    return Base64Encode(digest, sizeof digest);
}

WsFrame WsParseFrame(const uint8_t* data, size_t len, size_t maxFrame) {
    WsFrame f;
    if (len < 2) return f;
    f.fin = data[0] & 0x80;
    f.opcode = data[0] & 0x0F;
    bool masked = data[1] & 0x80;
    uint64_t declared = data[1] & 0x7F;
    size_t at = 2;
    size_t extra = declared == 126 ? 2 : declared == 127 ? 8 : 0;
    if (len < at + extra) return f;
    if (extra) {
        declared = 0;
        for (size_t k = 0; k < extra; ++k) declared = (declared << 8) | data[at + k];
        at += extra;
    }
    f.status = WS_BAD;
    if (data[0] & 0x70) {
        f.why = "reserved bits set";
        return f;
    }
    if (!masked) {
        f.why = "WEBSOC warning 1";
        return f;
    }
    if (declared > maxFrame || at + 4 + declared > maxFrame) {
        f.why = "frame too long";
        return f;
    }
    f.status = WS_NEED_MORE;
    if (len < at + 4) return f;
    std::memcpy(f.mask, data + at, 4);
    f.headerLen = at + 4;
    f.payloadLen = static_cast<size_t>(declared);
    if (len >= f.headerLen + f.payloadLen) f.status = WS_FRAME;
    return f;
}

std::string WsPayload(const uint8_t* data, const WsFrame& f) {
    std::string out(reinterpret_cast<const char*>(data) + f.headerLen, f.payloadLen);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ f.mask[i % 4]);
    return out;
}

std::string WsTextFrame(std::string_view payload) {
    std::string f(1, '\x81');
    size_t n = payload.size();
    if (n <= 125) {
        f += static_cast<char>(n);
    } else if (n <= 0xFFFF) {
        f += '\x7E';
        f += static_cast<char>(n >> 8);
        f += static_cast<char>(n & 0xFF);
    } else {
        f += '\x7F';
        for (int shift = 56; shift >= 0; shift -= 8) f += static_cast<char>((static_cast<uint64_t>(n) >> shift) & 0xFF);
    }
    f.append(payload);
    return f;
}

std::string WsDatMessage(std::string_view data) {
    cJSON* o = cJSON_CreateObject();
    cJSON_AddStringToObject(o, "type", "dat");
    cJSON_AddStringToObject(o, "data", Utf8Text(data, true).c_str());
    return Printed(o);
}

std::string WsLabelMessage(bool button, int n, std::string_view label) {
    cJSON* o = cJSON_CreateObject();
    cJSON_AddStringToObject(o, "type", button ? "btn" : "fkey");
    cJSON_AddNumberToObject(o, "num", n);
    cJSON_AddStringToObject(o, "label", Utf8Text(label, false).c_str());
    return Printed(o);
}

size_t WsCutPoint(std::string_view data, size_t limit) {
    if (data.size() <= limit) return data.size();
    size_t cut = limit;
    while (cut > limit - 3 && Continuation(static_cast<uint8_t>(data[cut]))) --cut;
    return Continuation(static_cast<uint8_t>(data[cut])) ? limit : cut;
}

size_t WsIncompleteTail(std::string_view data) {
    for (size_t k = 1; k <= 3 && k <= data.size(); ++k) {
        auto b = static_cast<uint8_t>(data[data.size() - k]);
        if (Continuation(b)) continue;
        size_t need = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 1;
        return need > k ? k : 0;
    }
    return 0;
}

WsAction WsParseMessage(std::string_view text) {
    if (Prefix(text, "WSCMD: ")) {
        WsAction a;
        a.kind = WS_REPLY;
        a.text = Fmt("Hi! I got %s\n", text.substr(7));
        a.trace.push_back(Fmt("WEBSOC: doing command: %s", text.substr(7)));
        return a;
    }
    if (Prefix(text, "CMD: ")) {
        std::string_view line = text.substr(5);
        while (!line.empty() && (line.front() == '\r' || line.front() == '\n')) line.remove_prefix(1);
        WsAction a;
        a.kind = WS_TYPE_LINE;
        a.text = std::string(line.substr(0, line.find_first_of("\r\n")));
        return a;
    }
    if (Prefix(text, "FKEY")) return NumberAction(WS_FKEY, NumberAfter4(text));
    if (Prefix(text, "BUTN")) return NumberAction(WS_BUTTON, NumberAfter4(text));
    return JsonAction(text);
}
