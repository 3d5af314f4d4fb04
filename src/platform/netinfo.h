// The host's IPv4 interfaces and routes (getifaddrs and /proc/net/route), and
// the choices made from them: primary address, its netmask, default gateway.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct NetIface {
    std::string name;
    std::string addr;   // dotted decimal
    std::string mask;
    bool up = false;
    bool loopback = false;
};

struct NetRoute {
    std::string iface;
    std::string dest;       // dotted decimal
    std::string gateway;
    std::string mask;
    unsigned flags = 0;     // RTF_* bits
    int metric = 0;
};

// IPv4 addresses of the host's interfaces, in the system's order.
std::vector<NetIface> NetInterfaces();
// The kernel's IPv4 routing table.
std::vector<NetRoute> NetRoutes();
// Parses the text of /proc/net/route (header line first).
std::vector<NetRoute> NetParseRouteTable(const std::string& text);

// The address of the interface holding the default route (lowest metric
// first); else the first interface that is up and not loopback; else a
// loopback address. Never a name-resolution alias such as 127.0.1.1.
std::optional<std::string> NetPrimaryAddress(const std::vector<NetIface>& ifaces,
                                             const std::vector<NetRoute>& routes);
// The netmask of the interface whose address is addr.
std::optional<std::string> NetMaskOf(const std::vector<NetIface>& ifaces, const std::string& addr);
// The next hop of a default route, preferring one whose first four characters
// equal those of myip.
std::optional<std::string> NetDefaultGateway(const std::vector<NetRoute>& routes,
                                             const std::string& myip);
