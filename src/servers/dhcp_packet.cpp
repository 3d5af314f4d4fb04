#include "servers/dhcp_packet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t kCookie[4] = {99, 130, 83, 99};
constexpr size_t kMacAt = 28, kCookieAt = 236, kBootpSize = 300;


std::string Fmt(const char* fmt, int a, int b = 0) {
    char t[96];
    std::snprintf(t, sizeof t, fmt, a, b);
    return t;
}

// Length an option with this code must have, 0 when any length will do;
// -4 means a non-empty multiple of 4.
int RequiredLength(int code) {
    switch (code) {
    case 1: case 51: case 54: return 4;
    case 3: return -4;
    case 53: return 1;
    default: return 0;
    }
}

std::string Ip(const uint8_t* p) {
    char t[20];
    std::snprintf(t, sizeof t, "%d.%d.%d.%d", p[0], p[1], p[2], p[3]);
    return t;
}

const char* TypeName(int t) {
    static const char* const kNames[] = {"DISCOVER", "OFFER   ", "REQUEST ", "DECLINE ", "ACK     ", "NACK    ", "RELEASE "};
    return t >= 1 && t <= 7 ? kNames[t - 1] : "???     ";
}

void DumpOption(std::vector<std::string>& out, int code, const uint8_t* v, int len) {
    std::string line = Fmt("    option %3d: ", code);
    if (code == 53 && len >= 1) {
        line += std::string("DHCP") + TypeName(v[0]);
    } else if (code == 43) {
        out.push_back(line);
        for (int i = 0; i + 1 < len && v[i] != 255;) {
            int sub = v[i], sl = v[i + 1];
            if (i + 2 + sl > len) break;
            std::string s = Fmt("       vso %3d: 0x", sub);
            for (int k = 0; k < sl; ++k) s += Fmt("%02x", v[i + 2 + k]);
            out.push_back(s);
            i += 2 + sl;
        }
        return;
    } else if ((code >= 1 && code <= 11) || code == 28 || code == 50 || code == 54 || code == 65) {
        for (int i = 0; i < len; ++i) line += Fmt("%d ", v[i]);
    } else if (code == 60 || code == 64) {
        for (int i = 0; i < len; ++i) line += (v[i] >= 0x20 && v[i] < 0x7F) ? static_cast<char>(v[i]) : '.';
    } else {
        line += "0x";
        for (int i = 0; i < len; ++i) line += Fmt("%02x", v[i]);
    }
    out.push_back(line);
}

std::string Printable(const uint8_t* p, size_t max) {
    std::string s;
    for (size_t i = 0; i < max && p[i]; ++i) s += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '.';
    return s;
}

}  // namespace

DhcpRequest DhcpReadRequest(const uint8_t* p, size_t n) {
    DhcpRequest r;
    if (n < kDhcpHeader) {
        r.drop = Fmt("short datagram (%d bytes) dropped", static_cast<int>(n));
        return r;
    }
    if (p[0] != 1) {
        r.drop = Fmt("not a request (op %d) dropped", p[0]);
        return r;
    }
    std::copy(p + kMacAt, p + kMacAt + 6, r.mac.begin());
    if (std::memcmp(p + kCookieAt, kCookie, 4) != 0) {
        static const uint8_t kZero[4] = {};
        // A plain BOOTP client may leave its vendor field empty.
        if (std::memcmp(p + kCookieAt, kZero, 4) != 0) {
            r.drop = "bad magic cookie: dropped";
            return r;
        }
        r.valid = true;
        return r;
    }
    n = std::min(n, kDhcpDatagram);
    bool ended = false;
    for (size_t i = kDhcpHeader; i < n && !ended;) {
        const int code = p[i];
        if (code == 0) { ++i; continue; }
        if (code == 255) { ended = true; break; }
        if (i + 1 >= n || i + 2 + p[i + 1] > n) {
            r.drop = Fmt("option %d runs past the end: dropped", code);
            return r;
        }
        const int len = p[i + 1];
        const int want = RequiredLength(code);
        if ((want > 0 && len != want) || (want < 0 && (len == 0 || len % 4))) {
            r.drop = Fmt("option %d of length %d: dropped", code, len);
            return r;
        }
        if (code == 53) r.type = p[i + 2];
        i += 2 + static_cast<size_t>(len);
    }
    if (!ended) {
        r.drop = "no end option: dropped";
        return r;
    }
    r.valid = true;
    return r;
}

DhcpMatch DhcpFindEntry(const std::vector<DhcpEntry>& table, const DhcpRequest& req) {
    DhcpMatch m;
    static const std::array<uint8_t, 6> kZero{};
    const bool dhcp = req.type != kDhcpNone;
    for (size_t i = 0; i < table.size(); ++i) {
        const DhcpEntry& e = table[i];
        const bool isDefault = e.mac == kZero;
        if (e.mac != req.mac && !isDefault) continue;
        if (e.kind == DhcpKind::BootpOnly && dhcp) {
            m.why = "Received DHCP request, but .cfg is BOOTP";
            return m;
        }
        if (e.kind == DhcpKind::DhcpOnly && !dhcp) {
            m.why = "Received BOOTP request, but .cfg is DHCP";
            return m;
        }
        m.index = static_cast<int>(i);
        m.isDefault = isDefault;
        return m;
    }
    m.why = "No MAC address match found";
    return m;
}

std::vector<uint8_t> DhcpBuildReply(const uint8_t* req, size_t len, const DhcpRequest& r, const DhcpEntry& e) {
    std::vector<uint8_t> out(req, req + std::min(len, kDhcpHeader));
    out.resize(kDhcpHeader);
    out[0] = 2;
    std::memcpy(&out[16], &e.clientIp, 4);
    std::memcpy(&out[20], &e.serverIp, 4);
    if (e.relayIp) std::memcpy(&out[24], &e.relayIp, 4);
    std::memset(&out[44], 0, 64 + 128);
    std::memcpy(&out[44], e.serverName.data(), std::min<size_t>(e.serverName.size(), 63));
    std::memcpy(&out[108], e.bootFile.data(), std::min<size_t>(e.bootFile.size(), 127));
    std::memcpy(&out[kCookieAt], kCookie, 4);
    if (r.type == kDhcpNone) {
        // BOOTP: the entry's options fill the vendor field after the cookie.
        out.insert(out.end(), e.options.begin(), e.options.end());
        if (out.size() < kBootpSize) out.resize(kBootpSize, 0);
        return out;
    }
    const uint8_t type = r.type == kDhcpDiscover ? kDhcpOffer : kDhcpAck;
    out.insert(out.end(), {53, 1, type});
    out.insert(out.end(), e.options.begin(), e.options.end());
    return out;
}

std::vector<std::string> DhcpDump(const char* direction, const uint8_t* p, size_t n) {
    std::vector<std::string> out;
    if (n < kDhcpHeader) {
        out.push_back(std::string(direction) + Fmt(" (%d bytes, too short)", static_cast<int>(n)));
        return out;
    }
    const bool dhcp = std::memcmp(p + kCookieAt, kCookie, 4) == 0;
    if (dhcp)
        out.push_back(std::string(direction) + " DHCP " + (p[0] == 1 ? "REQUEST" : p[0] == 2 ? "REPLY  " : "  ???  ") + ":");
    else
        out.push_back(std::string(direction) + " BOOTP:");
    char t[128];
    std::snprintf(t, sizeof t, "    client_macaddr = %02x:%02x:%02x:%02x:%02x:%02x", p[28], p[29], p[30], p[31], p[32],
                  p[33]);
    out.push_back(t);
    std::snprintf(t, sizeof t, "    htype = %d, hlen = %d, hops = %d", p[1], p[2], p[3]);
    out.push_back(t);
    std::snprintf(t, sizeof t, "    xid = 0x%x", static_cast<uint32_t>(p[4]) << 24 | static_cast<uint32_t>(p[5]) << 16 | static_cast<uint32_t>(p[6]) << 8 | p[7]);
    out.push_back(t);
    std::snprintf(t, sizeof t, "    seconds = %d, flags = 0x%x", p[8] << 8 | p[9], p[10] << 8 | p[11]);
    out.push_back(t);
    out.push_back("    client_ip = " + Ip(p + 12));
    out.push_back("    your_ip = " + Ip(p + 16));
    out.push_back("    server_ip = " + Ip(p + 20));
    out.push_back("    router_ip = " + Ip(p + 24));
    if (p[108]) out.push_back("    bootfile: " + Printable(p + 108, 128));
    if (p[44]) out.push_back("    server_hostname: " + Printable(p + 44, 64));
    if (!dhcp) return out;
    int count = 0;
    for (size_t i = kDhcpHeader; i < n && p[i] != 255;) {
        if (p[i] == 0) { ++i; continue; }
        if (++count > 256) {
            out.push_back("Aborting, overflow likely");
            break;
        }
        if (i + 1 >= n || i + 2 + p[i + 1] > n) {
            out.push_back(Fmt("    option %3d: runs past the end", p[i]));
            break;
        }
        DumpOption(out, p[i], p + i + 2, p[i + 1]);
        i += 2 + p[i + 1];
    }
    return out;
}
