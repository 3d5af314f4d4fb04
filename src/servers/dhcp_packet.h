// DHCP/BOOTP datagrams as bytes: reading a request (never past its end),
// choosing the client entry, building the reply and the trace dump.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "servers/dhcp_cfg.h"

constexpr size_t kDhcpHeader = 240;      // fixed fields and the magic cookie
constexpr size_t kDhcpDatagram = 1024;   // longest request read
enum DhcpType { kDhcpNone = 0, kDhcpDiscover = 1, kDhcpOffer = 2, kDhcpRequest = 3, kDhcpAck = 5 };

struct DhcpRequest {
    bool valid = false;
    std::string drop;                    // why an invalid datagram is dropped
    int type = kDhcpNone;                // option 53, kDhcpNone for BOOTP
    std::array<uint8_t, 6> mac{};
};
DhcpRequest DhcpReadRequest(const uint8_t* data, size_t len);

struct DhcpMatch {
    int index = -1;                      // entry taken, -1 when ignored
    bool isDefault = false;
    std::string why;                     // trace text when ignored
};
DhcpMatch DhcpFindEntry(const std::vector<DhcpEntry>& table, const DhcpRequest& req);

// The reply to a valid request of len bytes answered from entry e.
std::vector<uint8_t> DhcpBuildReply(const uint8_t* req, size_t len, const DhcpRequest& r, const DhcpEntry& e);

// The trace lines for a datagram ("INCOMING"/"OUTGOING"); the options are
// dumped only as far as they lie inside the datagram.
std::vector<std::string> DhcpDump(const char* direction, const uint8_t* data, size_t len);
