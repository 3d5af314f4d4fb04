#include "platform/netinfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string Dotted(const in_addr& a) {
    char buf[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &a, buf, sizeof buf) ? buf : "";
}

// /proc/net/route prints each address as the hex of its 32-bit value in
// memory, i.e. already in network byte order.
std::optional<std::string> HexAddr(const std::string& hex) {
    if (hex.empty() || hex.size() > 8) return std::nullopt;
    char* end = nullptr;
    unsigned long v = std::strtoul(hex.c_str(), &end, 16);
    if (*end) return std::nullopt;
    in_addr a{};
    a.s_addr = static_cast<in_addr_t>(v);
    return Dotted(a);
}

bool IsDefault(const NetRoute& r) {
    return (r.flags & RTF_UP) && r.dest == "0.0.0.0" && r.mask == "0.0.0.0";
}

// Default routes, lowest metric first (table order among equals).
std::vector<NetRoute> DefaultRoutes(const std::vector<NetRoute>& routes) {
    std::vector<NetRoute> d;
    for (const auto& r : routes)
        if (IsDefault(r)) d.push_back(r);
    std::stable_sort(d.begin(), d.end(),
                     [](const NetRoute& a, const NetRoute& b) { return a.metric < b.metric; });
    return d;
}

}  // namespace

std::vector<NetIface> NetInterfaces() {
    std::vector<NetIface> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        NetIface n;
        n.name = i->ifa_name ? i->ifa_name : "";
        n.addr = Dotted(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr);
        if (i->ifa_netmask && i->ifa_netmask->sa_family == AF_INET)
            n.mask = Dotted(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr);
        n.up = (i->ifa_flags & IFF_UP) != 0;
        n.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        out.push_back(n);
    }
    freeifaddrs(list);
    return out;
}

std::vector<NetRoute> NetParseRouteTable(const std::string& text) {
    std::vector<NetRoute> out;
    std::istringstream in(text);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            continue;
        }
        std::istringstream f(line);
        std::string iface, dest, gw, flags, refcnt, use, metric, mask;
        if (!(f >> iface >> dest >> gw >> flags >> refcnt >> use >> metric >> mask)) continue;
        auto d = HexAddr(dest), g = HexAddr(gw), m = HexAddr(mask);
        if (!d || !g || !m) continue;
        NetRoute r;
        r.iface = iface;
        r.dest = *d;
        r.gateway = *g;
        r.mask = *m;
        r.flags = static_cast<unsigned>(std::strtoul(flags.c_str(), nullptr, 16));
        r.metric = std::atoi(metric.c_str());
        out.push_back(r);
    }
    return out;
}

std::vector<NetRoute> NetRoutes() {
    std::ifstream f("/proc/net/route");
    std::stringstream ss;
    ss << f.rdbuf();
    return NetParseRouteTable(ss.str());
}

std::optional<std::string> NetPrimaryAddress(const std::vector<NetIface>& ifaces,
                                             const std::vector<NetRoute>& routes) {
    for (const auto& r : DefaultRoutes(routes))
        for (const auto& i : ifaces)
            if (i.name == r.iface && i.up && !i.addr.empty()) return i.addr;
    for (const auto& i : ifaces)
        if (i.up && !i.loopback && !i.addr.empty()) return i.addr;
    for (const auto& i : ifaces)
        if (i.up && !i.addr.empty()) return i.addr;
    return std::nullopt;
}

std::optional<std::string> NetMaskOf(const std::vector<NetIface>& ifaces, const std::string& addr) {
    for (const auto& i : ifaces)
        if (i.addr == addr && !i.mask.empty()) return i.mask;
    return std::nullopt;
}

std::optional<std::string> NetDefaultGateway(const std::vector<NetRoute>& routes,
                                             const std::string& myip) {
    std::vector<NetRoute> hops;
    for (const auto& r : DefaultRoutes(routes))
        if ((r.flags & RTF_GATEWAY) && r.gateway != "0.0.0.0") hops.push_back(r);
    if (hops.empty()) return std::nullopt;
    for (const auto& r : hops)
        if (myip.size() >= 4 && r.gateway.compare(0, 4, myip, 0, 4) == 0) return r.gateway;
    return hops.front().gateway;
}
