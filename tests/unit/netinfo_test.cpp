#include "platform/netinfo.h"

#include <gtest/gtest.h>

namespace {

// A host with a docker bridge and two default routes, as /proc/net/route shows it.
const char* kRoutes =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "wlan0\t00000000\t010A000A\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
    "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
    "docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
    "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";

std::vector<NetIface> Ifaces() {
    return {
        {"lo", "127.0.0.1", "255.0.0.0", true, true},
        {"docker0", "172.17.0.1", "255.255.0.0", true, false},
        {"eth0", "192.168.1.20", "255.255.255.0", true, false},
        {"wlan0", "10.0.10.5", "255.255.255.0", true, false},
    };
}

TEST(NetInfo, ParsesRouteTable) {
    auto routes = NetParseRouteTable(kRoutes);
    ASSERT_EQ(routes.size(), 4u);
    EXPECT_EQ(routes[1].iface, "eth0");
    EXPECT_EQ(routes[1].dest, "0.0.0.0");
    EXPECT_EQ(routes[1].gateway, "192.168.1.1");
    EXPECT_EQ(routes[1].metric, 100);
    EXPECT_EQ(routes[2].dest, "172.17.0.0");
    EXPECT_EQ(routes[2].mask, "255.255.0.0");
    EXPECT_TRUE(NetParseRouteTable("").empty());
    EXPECT_TRUE(NetParseRouteTable("header\ngarbage line\n").empty());
}

TEST(NetInfo, PrimaryAddressFollowsTheDefaultRoute) {
    auto routes = NetParseRouteTable(kRoutes);
    // The lowest-metric default route is on eth0, though docker0 comes first.
    EXPECT_EQ(NetPrimaryAddress(Ifaces(), routes).value_or(""), "192.168.1.20");
    EXPECT_EQ(NetMaskOf(Ifaces(), "192.168.1.20").value_or(""), "255.255.255.0");
    EXPECT_FALSE(NetMaskOf(Ifaces(), "10.1.1.1"));
    // Without routes: the first interface that is up and not loopback.
    EXPECT_EQ(NetPrimaryAddress(Ifaces(), {}).value_or(""), "172.17.0.1");
    // Only loopback: its address, never a hosts-file alias.
    EXPECT_EQ(NetPrimaryAddress({Ifaces()[0]}, {}).value_or(""), "127.0.0.1");
    EXPECT_FALSE(NetPrimaryAddress({}, {}));
}

TEST(NetInfo, GatewayPrefersTheOneMatchingMyIp) {
    auto routes = NetParseRouteTable(kRoutes);
    EXPECT_EQ(NetDefaultGateway(routes, "192.168.1.20").value_or(""), "192.168.1.1");
    EXPECT_EQ(NetDefaultGateway(routes, "10.0.10.5").value_or(""), "10.0.10.1");
    EXPECT_EQ(NetDefaultGateway(routes, "").value_or(""), "192.168.1.1");
    std::vector<NetRoute> noDefault{routes[2], routes[3]};
    EXPECT_FALSE(NetDefaultGateway(noDefault, ""));
}

TEST(NetInfo, ThisHost) {
    auto ifaces = NetInterfaces();
    auto routes = NetRoutes();
    auto ip = NetPrimaryAddress(ifaces, routes);
    if (!ip) GTEST_SKIP() << "no IPv4 interface";
    EXPECT_NE(*ip, "127.0.1.1");
    for (const auto& r : routes)
        if (r.dest == "0.0.0.0" && r.mask == "0.0.0.0") {
            EXPECT_NE(ip->rfind("127.", 0), 0u) << "a default route exists, yet loopback chosen";
            break;
        }
}

}  // namespace
