#include "util/utils.h"

#include <openssl/evp.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One escape at in[i] (which is a backslash); returns bytes consumed and sets out.
size_t OneEscape(const char* in, size_t i, size_t len, std::string& out) {
    if (i + 1 >= len) { out = "\\"; return 1; }
    switch (in[i + 1]) {
    case 'b': out = "\b"; return 2;
    case 'n': out = "\n"; return 2;
    case 'r': out = "\r"; return 2;
    case 't': out = "\t"; return 2;
    case '\\': out = "\\"; return 2;
    case 'x':
        if (i + 3 < len && HexDigit(in[i + 2]) >= 0 && HexDigit(in[i + 3]) >= 0) {
            out = std::string(1, static_cast<char>(HexDigit(in[i + 2]) * 16 + HexDigit(in[i + 3])));
            return 4;
        }
        break;
    }
    out = "\\";
    return 1;
}

}  // namespace

int ExpandEscapes(const char* in, size_t inLen, char* out, size_t outCap) {
    size_t o = 0;
    std::string piece;
    for (size_t i = 0; i < inLen;) {
        size_t used = 1;
        if (in[i] == '\\') used = OneEscape(in, i, inLen, piece);
        else piece.assign(1, in[i]);
        if (o + piece.size() > outCap) return -1;
        std::memcpy(out + o, piece.data(), piece.size());
        o += piece.size();
        i += used;
    }
    return static_cast<int>(o);
}

std::string ExpandEscapes(const std::string& in) {
    std::vector<char> buf(in.size() + 1);
    int n = ExpandEscapes(in.data(), in.size(), buf.data(), buf.size());
    return std::string(buf.data(), n < 0 ? 0 : n);
}

std::optional<uint32_t> ParseUnsigned(const char* text, bool strict) {
    if (!text) return std::nullopt;
    while (*text == ' ' || *text == '\t') text++;
    if (*text == '-' || *text == 0) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 0);
    if (end == text || errno == ERANGE) return std::nullopt;
    if (strict) {
        while (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n') end++;
        if (*end) return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

std::optional<int32_t> ParseSigned(const char* text, bool strict) {
    if (!text) return std::nullopt;
    while (*text == ' ' || *text == '\t') text++;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 0);
    if (end == text || errno == ERANGE) return std::nullopt;
    if (strict) {
        while (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n') end++;
        if (*end) return std::nullopt;
    }
    return static_cast<int32_t>(v);
}

uint32_t ParseUnsignedLoose(const char* text) { return ParseUnsigned(text, false).value_or(0); }
int32_t ParseSignedLoose(const char* text) { return ParseSigned(text, false).value_or(0); }

uint32_t Crc32(const void* data, size_t len, uint32_t crc) {
    const auto* p = static_cast<const Bytef*>(data);
    while (len > 0) {
        uInt chunk = len > 0x40000000u ? 0x40000000u : static_cast<uInt>(len);
        crc = static_cast<uint32_t>(crc32(crc, p, chunk));
        p += chunk;
        len -= chunk;
    }
    return crc;
}

std::optional<uint32_t> Crc32File(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    std::vector<unsigned char> buf(65536);
    uint32_t crc = 0;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) crc = Crc32(buf.data(), n, crc);
    bool bad = std::ferror(f);
    std::fclose(f);
    if (bad) return std::nullopt;
    return crc;
}

namespace {
std::string DigestHex(EVP_MD_CTX* ctx) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, md, &len);
    EVP_MD_CTX_free(ctx);
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < len; i++) {
        s += hex[md[i] >> 4];
        s += hex[md[i] & 15];
    }
    return s;
}
}  // namespace

std::string Md5Hex(const void* data, size_t len) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    EVP_DigestUpdate(ctx, data, len);
    return DigestHex(ctx);
}

std::optional<std::string> Md5FileHex(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    std::vector<unsigned char> buf(65536);
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) EVP_DigestUpdate(ctx, buf.data(), n);
    bool bad = std::ferror(f);
    std::fclose(f);
    std::string hex = DigestHex(ctx);
    if (bad) return std::nullopt;
    return hex;
}

bool WriteAll(int fd, const void* data, size_t len) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t w = ::write(fd, p, len);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = ENOSPC;
            return false;
        }
        p += w;
        len -= static_cast<size_t>(w);
    }
    return true;
}

std::string TempFileName(const std::string& prefix) {
    const char* dir = std::getenv("TMPDIR");
    std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    int fd = mkstemp(buf.data());
    if (fd < 0) return {};
    close(fd);
    return buf.data();
}
