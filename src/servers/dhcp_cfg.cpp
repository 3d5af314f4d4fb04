#include "servers/dhcp_cfg.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr uint8_t kEnd = 255;
constexpr uint8_t kVendorOption = 43;

std::string Format(const char* fmt, const std::string& arg) {
    char text[512];
    std::snprintf(text, sizeof text, fmt, arg.c_str());
    return text;
}

// One file being read: the entries so far and the boxes to show.
struct Reader {
    DhcpConfig cfg;
    bool failed = false;
    void Box(const char* title, std::string text) { cfg.boxes.push_back({title, std::move(text)}); }
    void Fail(const char* title, std::string text) {
        Box(title, std::move(text));
        failed = true;
    }
};

bool AppendOption(std::vector<uint8_t>& list, int code, const std::vector<uint8_t>& value) {
    if (value.size() > 255) return false;
    list.push_back(static_cast<uint8_t>(code));
    list.push_back(static_cast<uint8_t>(value.size()));
    list.insert(list.end(), value.begin(), value.end());
    return true;
}

std::vector<uint8_t> IpBytes(uint32_t ip) {
    const auto* b = reinterpret_cast<const uint8_t*>(&ip);
    return {b[0], b[1], b[2], b[3]};
}

// "IPA_": up to 32 comma-separated addresses.
bool IpList(Reader& r, const std::string& value, std::vector<uint8_t>& out) {
    std::stringstream s(value);
    std::string one;
    int count = 0;
    while (std::getline(s, one, ',')) {
        one.erase(0, one.find_first_not_of(" \t"));
        one.erase(one.find_last_not_of(" \t") + 1);
        uint32_t ip;
        if (++count > 32 || !DhcpParseIp(one, ip)) {
            r.Fail("IP Address Error", Format("Misformed IP addr: %s\n", one));
            return false;
        }
        auto b = IpBytes(ip);
        out.insert(out.end(), b.begin(), b.end());
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool HexBytes(Reader& r, const std::string& value, std::vector<uint8_t>& out) {
    if (value.size() % 2) {
        r.Fail("DHCP Config Error", Format("Can't have odd-length hex-ascii string: %s\n", value));
        return false;
    }
    for (size_t i = 0; i < value.size(); i += 2) {
        int hi = HexDigit(value[i]), lo = HexDigit(value[i + 1]);
        if (hi < 0 || lo < 0) {
            r.Fail("DHCP Config Error",
                   Format("Illegal digit in hex-ascii string: %s\n", std::string(1, hi < 0 ? value[i] : value[i + 1])));
            return false;
        }
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

// IPA_/STR_/HEX_ OPTNO_ or VSOPTNO_ followed by the number.
bool NumberedOption(Reader& r, DhcpEntry& e, const std::string& name, const std::string& value) {
    static const char* const kTypes[] = {"IPA_", "STR_", "HEX_"};
    int type = -1;
    for (int i = 0; i < 3; ++i)
        if (name.compare(0, 4, kTypes[i]) == 0) type = i;
    if (type < 0) return false;
    std::string rest = name.substr(4);
    bool vendor = rest.compare(0, 8, "VSOPTNO_") == 0;
    if (!vendor && rest.compare(0, 6, "OPTNO_") != 0) return false;
    const std::string digits = rest.substr(vendor ? 8 : 6);
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    const int code = std::stoi(digits);
    if (code < 1 || code > 254) {
        char text[48];
        std::snprintf(text, sizeof text, "Option #%d out of range\n", code);
        r.Box("DHCP Config Error", text);
        return true;
    }
    std::vector<uint8_t> bytes;
    if (type == 0 && !IpList(r, value, bytes)) return true;
    if (type == 1) {
        bytes.assign(value.begin(), value.end());
        bytes.push_back(0);
    }
    if (type == 2 && !HexBytes(r, value, bytes)) return true;
    std::vector<uint8_t>& list = vendor ? e.vendor : e.options;
    if (!AppendOption(list, code, bytes) || list.size() > kDhcpMaxOptions)
        r.Fail("DHCP Config Error", Format("Field too big: %s\n", value));
    return true;
}

// Closes an entry: vendor sub-options become option 43, the list ends with 255.
void CloseEntry(Reader& r, DhcpEntry& e) {
    if (!e.vendor.empty()) {
        e.vendor.push_back(kEnd);
        if (!AppendOption(e.options, kVendorOption, e.vendor))
            r.Fail("DHCP Config Error", Format("Field too big: %s\n", "vendor sub-options (option 43)"));
        e.vendor.clear();
    }
    e.options.push_back(kEnd);
    if (e.options.size() > kDhcpMaxOptions + 1)
        r.Fail("DHCP Config Error", Format("Field too big: %s\n", "option list"));
    if (e.kind == DhcpKind::BootpOnly && e.options.size() > kBootpMaxOptions)
        r.Fail("DHCP Config Error", "Opt-list too big for BOOTP VSA[]\n");
}

void TextField(Reader& r, std::string& field, const std::string& value, size_t max) {
    if (value.size() > max)
        r.Fail("DHCP Config Error", Format("Field too big: %s\n", value));
    else
        field = value;
}

void IpField(Reader& r, uint32_t& field, const std::string& value) {
    if (!DhcpParseIp(value, field)) r.Fail("IP Address Error", Format("Misformed IP addr: %s\n", value));
}

void Line(Reader& r, const std::string& name, const std::string& value) {
    static const struct {
        const char* name;
        DhcpKind kind;
    } kStarts[] = {{"CLIENT_MAC", DhcpKind::Both}, {"BOOTP_CLIENT_MAC", DhcpKind::BootpOnly},
                   {"DHCP_CLIENT_MAC", DhcpKind::DhcpOnly}};
    for (const auto& s : kStarts) {
        if (name != s.name) continue;
        if (!r.cfg.entries.empty()) CloseEntry(r, r.cfg.entries.back());
        DhcpEntry e;
        e.kind = s.kind;
        if (!DhcpParseMac(value, e.mac)) r.Fail("MAC Address Error", Format("Misformed ethernet addr: %s\n", value));
        r.cfg.entries.push_back(e);
        return;
    }
    if (r.cfg.entries.empty()) {
        r.Fail("DHCP ERROR", "Config file error.\n");
        return;
    }
    DhcpEntry& e = r.cfg.entries.back();
    uint32_t ip = 0;
    if (name == "CLIENT_IP") IpField(r, e.clientIp, value);
    else if (name == "SERVER_IP") IpField(r, e.serverIp, value);
    else if (name == "RLYAGNT_IP") IpField(r, e.relayIp, value);
    else if (name == "SERVER_NAME") TextField(r, e.serverName, value, 63);
    else if (name == "BOOTFILE") TextField(r, e.bootFile, value, 127);
    else if (name == "NETMASK" || name == "GATEWAY") {
        IpField(r, ip, value);
        AppendOption(e.options, name == "NETMASK" ? 1 : 3, IpBytes(ip));
    } else if (!NumberedOption(r, e, name, value)) {
        r.Box("DHCP Config Error", Format("Unrecognized parameter name: %s\n", name));
    }
}

}  // namespace

bool DhcpParseMac(const std::string& text, std::array<uint8_t, 6>& mac) {
    unsigned b[6];
    char tail;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
    return true;
}

bool DhcpParseIp(const std::string& text, uint32_t& ip) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    ip = a.s_addr;
    return true;
}

DhcpConfig DhcpParseConfig(const std::string& text, const std::string& name, const DhcpExpand& expand) {
    Reader r;
    std::stringstream in(text);
    for (std::string line; !r.failed && std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        line.erase(0, line.find_first_not_of(" \t"));
        if (line.empty() || line[0] == '#') continue;
        if (!expand(line)) {
            r.Fail("DHCP ERROR", "Shellvar expansion err in cfg file\n");
            break;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            r.Fail("DHCP Config Error", "Error1 in '" + name + "' file at: " + line + "\n");
            break;
        }
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        if (value.empty()) {
            r.Fail("DHCP Config Error", "Error2 in '" + name + "' file at: " + line + "\n");
            break;
        }
        Line(r, line.substr(0, colon), value);
    }
    if (!r.failed && !r.cfg.entries.empty()) CloseEntry(r, r.cfg.entries.back());
    for (size_t i = 0; !r.failed && i < r.cfg.entries.size(); ++i)
        for (size_t j = i + 1; !r.failed && j < r.cfg.entries.size(); ++j)
            if (r.cfg.entries[i].mac == r.cfg.entries[j].mac) {
                char t[96];
                std::snprintf(t, sizeof t, "Duplicate CLIENT_MAC entries (#%zu & #%zu) in cfg file.\n", i + 1, j + 1);
                r.Fail("DHCP ERROR", t);
            }
    r.cfg.ok = !r.failed;
    if (!r.cfg.ok) r.cfg.entries.clear();
    return r.cfg;
}

DhcpConfig DhcpSingleConfig(DhcpSingle f, const DhcpExpand& expand) {
    DhcpConfig cfg;
    const struct {
        std::string* field;
        const char* what;
    } fields[] = {{&f.mac, "client MAC"}, {&f.clientIp, "client IP"}, {&f.serverIp, "server IP"},
                  {&f.netmask, "netmask"},  {&f.gateway, "gateway"},    {&f.bootFile, "bootfile"}};
    for (const auto& x : fields)
        if (!expand(*x.field)) {
            cfg.boxes.push_back({"DHCP ERROR", std::string("Shellvar expansion err (") + x.what + ")\n"});
            return cfg;
        }
    DhcpEntry e;
    std::string server = f.serverIp;
    if (size_t comma = server.find(','); comma != std::string::npos) {
        e.serverName = server.substr(comma + 1).substr(0, 63);
        server.resize(comma);
    }
    uint32_t mask = 0, gateway = 0;
    const struct {
        bool ok;
        const char* fmt;
        const std::string& text;
    } checks[] = {
        {DhcpParseMac(f.mac, e.mac), "Invalid MAC address: '%s'\n", f.mac},
        {DhcpParseIp(f.clientIp, e.clientIp), "Invalid Client IP address: '%s'\n", f.clientIp},
        {DhcpParseIp(server, e.serverIp), "Invalid Server IP address: '%s'\n", server},
        {DhcpParseIp(f.gateway, gateway), "Invalid Gateway IP address: '%s'\n", f.gateway},
        {DhcpParseIp(f.netmask, mask), "Invalid NetMask: '%s'\n", f.netmask},
    };
    for (const auto& c : checks)
        if (!c.ok) {
            cfg.boxes.push_back({"DHCP CFG ERROR", Format(c.fmt, c.text)});
            return cfg;
        }
    if (f.bootFile.size() > 127) {
        cfg.boxes.push_back({"DHCP CFG ERROR", Format("Field too big: %s\n", f.bootFile)});
        return cfg;
    }
    e.bootFile = f.bootFile;
    AppendOption(e.options, 1, IpBytes(mask));
    AppendOption(e.options, 3, IpBytes(gateway));
    AppendOption(e.options, 54, IpBytes(e.serverIp));
    e.options.push_back(kEnd);
    cfg.entries.push_back(e);
    cfg.ok = true;
    return cfg;
}
