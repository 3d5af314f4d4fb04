// The DHCP/BOOTP server's client table and the text of its configuration
// file, read without touching anything outside: the caller supplies the
// shell-variable expansion and shows the boxes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class DhcpKind { Both = 0, BootpOnly = 1, DhcpOnly = 2 };

struct DhcpEntry {
    DhcpKind kind = DhcpKind::Both;
    std::array<uint8_t, 6> mac{};      // all zero: the default entry
    uint32_t clientIp = 0, serverIp = 0, relayIp = 0;   // network order
    std::string serverName;            // at most 63 characters
    std::string bootFile;              // at most 127 characters
    std::vector<uint8_t> options;      // code, length, value ...; ends with 255
    std::vector<uint8_t> vendor;       // sub-options of option 43 while reading
};

struct DhcpBox {
    std::string title, text;
};

struct DhcpConfig {
    bool ok = false;
    std::vector<DhcpEntry> entries;
    std::vector<DhcpBox> boxes;        // shown in order, also when the load succeeds
};

// Largest option list: the reply must fit one 1024-byte datagram.
constexpr size_t kDhcpMaxOptions = 1024 - 243;
// A BOOTP-only entry's options must fit the 64-byte vendor field after the cookie.
constexpr size_t kBootpMaxOptions = 60;

// Expands shell variables in place; false when the expansion fails.
using DhcpExpand = std::function<bool(std::string&)>;

// Reads the file's text (name is used in the messages).
DhcpConfig DhcpParseConfig(const std::string& text, const std::string& name, const DhcpExpand& expand);

// The single-client fields (server IP may be "ADDR,NAME").
struct DhcpSingle {
    std::string mac, clientIp, serverIp, netmask, gateway, bootFile;
};
DhcpConfig DhcpSingleConfig(DhcpSingle fields, const DhcpExpand& expand);

bool DhcpParseMac(const std::string& text, std::array<uint8_t, 6>& mac);
bool DhcpParseIp(const std::string& text, uint32_t& ip);
