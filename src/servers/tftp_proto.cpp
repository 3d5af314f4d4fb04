#include "servers/tftp_proto.h"

#include <algorithm>
#include <cstring>

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutString(std::vector<uint8_t>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

// The NUL-ended string at p[pos]; false when no NUL comes before n.
bool TakeString(const uint8_t* p, size_t n, size_t& pos, std::string& out) {
    const void* nul = pos < n ? std::memchr(p + pos, 0, n - pos) : nullptr;
    if (!nul) return false;
    size_t end = static_cast<size_t>(static_cast<const uint8_t*>(nul) - p);
    out.assign(reinterpret_cast<const char*>(p + pos), end - pos);
    pos = end + 1;
    return true;
}

std::vector<TftpOption> TakeOptions(const uint8_t* p, size_t n, size_t pos) {
    std::vector<TftpOption> options;
    while (options.size() < kTftpMaxOptions) {
        TftpOption o;
        if (!TakeString(p, n, pos, o.name) || !TakeString(p, n, pos, o.value)) break;
        options.push_back(std::move(o));
    }
    return options;
}

}  // namespace

uint16_t TftpOpcodeOf(const uint8_t* p, size_t n) {
    return n < 2 ? 0 : static_cast<uint16_t>(p[0] << 8 | p[1]);
}

std::optional<uint16_t> TftpNumberOf(const uint8_t* p, size_t n) {
    if (n < 4) return std::nullopt;
    return static_cast<uint16_t>(p[2] << 8 | p[3]);
}

const char* TftpOpcodeName(uint16_t opcode) {
    static const char* const names[] = {"???", "RRQ", "WRQ", "DAT", "ACK", "ERR", "OACK"};
    return opcode < 7 ? names[opcode] : names[0];
}

bool TftpParseRequest(const uint8_t* p, size_t n, TftpRequest& out) {
    out = TftpRequest{};
    out.opcode = TftpOpcodeOf(p, n);
    if (out.opcode != TFTP_RRQ && out.opcode != TFTP_WRQ) return false;
    size_t pos = 2;
    if (!TakeString(p, n, pos, out.file) || !TakeString(p, n, pos, out.mode)) return false;
    if (out.file.empty()) return false;
    out.options = TakeOptions(p, n, pos);
    return true;
}

bool TftpParseError(const uint8_t* p, size_t n, uint16_t& code, std::string& text) {
    auto number = TftpNumberOf(p, n);
    if (TftpOpcodeOf(p, n) != TFTP_ERR || !number) return false;
    code = *number;
    const uint8_t* start = p + 4;
    const void* nul = std::memchr(start, 0, n - 4);
    size_t len = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - start) : n - 4;
    text.assign(reinterpret_cast<const char*>(start), len);
    return true;
}

std::vector<TftpOption> TftpParseOack(const uint8_t* p, size_t n) {
    if (TftpOpcodeOf(p, n) != TFTP_OACK) return {};
    return TakeOptions(p, n, 2);
}

std::optional<uint64_t> TftpOptionNumber(const std::string& value, uint64_t limit) {
    if (value.empty() || value.size() > 20) return std::nullopt;
    uint64_t v = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        if (v > (limit - static_cast<uint64_t>(c - '0')) / 10) return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    return v;
}

std::optional<int> TftpClampBlksize(const std::string& value, int cap) {
    bool digits = !value.empty() && value.size() <= 64;
    for (char c : value) digits = digits && c >= '0' && c <= '9';
    if (!digits) return std::nullopt;
    auto v = TftpOptionNumber(value, UINT64_MAX / 10);
    // Too many digits to hold is simply "very large": clamp it like any other.
    uint64_t asked = v ? *v : UINT64_MAX;
    if (asked < static_cast<uint64_t>(kTftpMinBlksize)) return std::nullopt;
    return static_cast<int>(std::min<uint64_t>(asked, static_cast<uint64_t>(cap)));
}

std::vector<uint8_t> TftpBuildRequest(uint16_t opcode, const std::string& file, const std::string& mode,
                                      const std::vector<TftpOption>& options) {
    std::vector<uint8_t> out;
    Put16(out, opcode);
    PutString(out, file);
    PutString(out, mode);
    for (const auto& o : options) {
        PutString(out, o.name);
        PutString(out, o.value);
    }
    return out;
}

std::vector<uint8_t> TftpBuildOack(const std::vector<TftpOption>& options) {
    std::vector<uint8_t> out;
    Put16(out, TFTP_OACK);
    for (const auto& o : options) {
        PutString(out, o.name);
        PutString(out, o.value);
    }
    return out;
}

std::vector<uint8_t> TftpBuildError(uint16_t code, const std::string& text) {
    std::vector<uint8_t> out;
    Put16(out, TFTP_ERR);
    Put16(out, code);
    PutString(out, text);
    return out;
}

std::vector<uint8_t> TftpBuildAck(uint16_t block) {
    std::vector<uint8_t> out;
    Put16(out, TFTP_ACK);
    Put16(out, block);
    return out;
}

void TftpPutHeader(uint8_t* buf, uint16_t opcode, uint16_t number) {
    buf[0] = static_cast<uint8_t>(opcode >> 8);
    buf[1] = static_cast<uint8_t>(opcode);
    buf[2] = static_cast<uint8_t>(number >> 8);
    buf[3] = static_cast<uint8_t>(number);
}

int64_t TftpUnwrapBlock(uint16_t block, int64_t expected) {
    auto delta = static_cast<int16_t>(static_cast<uint16_t>(block - static_cast<uint16_t>(expected)));
    return expected + delta;
}

std::optional<std::string> TftpLocalPath(const std::string& dir, const std::string& name, bool relativeOnly) {
    if (name.empty()) return std::nullopt;
    std::string n = name;
    for (char& c : n) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return std::nullopt;
        if (c == '\\') c = '/';
    }
    // Any ".." component could climb out of the directory, whatever comes after it.
    for (size_t start = 0; start <= n.size();) {
        size_t end = n.find('/', start);
        if (end == std::string::npos) end = n.size();
        if (n.compare(start, end - start, "..") == 0 && end - start == 2) return std::nullopt;
        start = end + 1;
    }
    std::string path;
    if (!relativeOnly && n[0] == '/') {
        path = n;
    } else {
        path = dir;
        bool sep = !path.empty() && path.back() == '/';
        if (!sep && n[0] != '/') path += '/';
        if (sep && n[0] == '/') path.pop_back();
        path += n;
    }
    if (path.size() > kTftpMaxPath) return std::nullopt;
    return path;
}
