// The DHCP/BOOTP server with a real client: busybox udhcpc in a network
// namespace joined to the server's own namespace by a veth pair. Needs root
// (namespaces, port 67); skipped with a message otherwise.
#include "servers/dhcpsrvr.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/wiring.h"
#include "config/configrecord.h"
#include "config/shellvar.h"
#include "console/screenbuf.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"
#include "proc.h"
#include "script/scripting.h"
#include "servers/dhcp_packet.h"

namespace {

const char kIp[] = "/usr/sbin/ip";
const char kBusybox[] = "/usr/bin/busybox";
const char kClientMac[] = "02:00:00:00:77:01";

bool RunIp(const std::vector<std::string>& args) {
    ProcResult r = RunProgram(kIp, args);
    if (r.status != 0) ADD_FAILURE() << "ip failed: " << r.err;
    return r.status == 0;
}

class DhcpServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0 || access(kBusybox, X_OK) != 0 || access(kIp, X_OK) != 0)
            GTEST_SKIP() << "needs root, busybox and ip to build a network namespace";
        home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        if (home < 0 || unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "network namespaces are not available here";
        ConfigInitDefaults();
        AppWireHooks();
        DhcpsrvrCmdsInit();
        g_cfg.TRACEFLAGS = 0xFFFF;
        g_cfg.TRACE_TSTAMP_ENABLE = 0;
        SetFrameInitialised(true);
        TraceClear();
        ns = "oxeldhcp" + std::to_string(getpid());
        ASSERT_TRUE(RunIp({"netns", "add", ns}));
        ASSERT_TRUE(RunIp({"link", "add", "oxs0", "type", "veth", "peer", "name", "oxc0", "netns", ns}));
        ASSERT_TRUE(RunIp({"addr", "add", "10.77.0.1/24", "dev", "oxs0"}));
        ASSERT_TRUE(RunIp({"link", "set", "oxs0", "up"}));
        ASSERT_TRUE(RunIp({"link", "set", "lo", "up"}));
        ASSERT_TRUE(RunIp({"route", "add", "255.255.255.255", "dev", "oxs0"}));
        ASSERT_TRUE(RunIp({"-n", ns, "link", "set", "oxc0", "address", kClientMac}));
        ASSERT_TRUE(RunIp({"-n", ns, "link", "set", "oxc0", "up"}));
        dir.Write("lease.sh", "#!/bin/sh\n[ \"$1\" = bound ] && env > \"$(dirname \"$0\")/lease.env\"\nexit 0\n");
        chmod(dir.File("lease.sh").c_str(), 0755);
    }
    void TearDown() override {
        DhcpsrvrStop();
        if (!ns.empty()) RunProgram(kIp, {"netns", "del", ns});
        if (home >= 0) {
            setns(home, CLONE_NEWNET);
            close(home);
        }
        SetFrameInitialised(false);
    }
    // One udhcpc run in the client namespace: the lease's variables, or "".
    std::string Lease() {
        unlink(dir.File("lease.env").c_str());
        ProcResult r = RunProgram(kIp, {"netns", "exec", ns, kBusybox, "udhcpc", "-i", "oxc0", "-f", "-q", "-n", "-t",
                                        "3", "-T", "1", "-A", "1", "-s", dir.File("lease.sh")},
                                  {}, "", 20000);
        return access(dir.File("lease.env").c_str(), F_OK) == 0 ? dir.Read("lease.env") : "";
    }
    void SingleClient(const char* mac) {
        g_cfg.DHCP_CFGFILE_MODE = 0;
        CFG_SET_STRING(g_cfg.DHCP_CLIENT_MAC, mac);
        CFG_SET_STRING(g_cfg.DHCP_CLIENT_IP, "10.77.0.50");
        CFG_SET_STRING(g_cfg.DHCP_SRVR_IP, "10.77.0.1,benchpc");
        CFG_SET_STRING(g_cfg.DHCP_NETMASK, "255.255.255.0");
        CFG_SET_STRING(g_cfg.DHCP_GATEWAY, "10.77.0.254");
        CFG_SET_STRING(g_cfg.DHCP_BOOTFILE, "board.bin");
    }
    FakeUi ui;
    TempDir dir;
    std::string ns;
    int home = -1;
};

bool Has(const std::string& text, const std::string& line) { return text.find(line) != std::string::npos; }

TEST_F(DhcpServer, UdhcpcGetsTheConfiguredLease) {
    SingleClient(kClientMac);
    g_cfg.DHCPSRVR_ENABLED = 1;
    ASSERT_EQ(DhcpsrvrStart(), 1);
    EXPECT_EQ(DhcpsrvrPort(), 67);
    const std::string lease = Lease();
    EXPECT_TRUE(Has(lease, "ip=10.77.0.50\n")) << lease << TraceText();
    EXPECT_TRUE(Has(lease, "subnet=255.255.255.0\n")) << lease;
    EXPECT_TRUE(Has(lease, "router=10.77.0.254")) << lease;
    EXPECT_TRUE(Has(lease, "boot_file=board.bin\n")) << lease;
    EXPECT_TRUE(Has(lease, "sname=benchpc\n")) << lease;
    EXPECT_TRUE(Has(lease, "serverid=10.77.0.1\n")) << lease;
    EXPECT_EQ(shell_getenv("DHCP_CLIENT_IP").value_or(""), "10.77.0.50");
    const std::string trace = TraceText();
    EXPECT_TRUE(Has(trace, "INCOMING DHCP REQUEST:")) << trace;
    EXPECT_TRUE(Has(trace, "option  53: DHCPACK     ")) << trace;
}

TEST_F(DhcpServer, UnknownClientIgnoredThenTheDefaultEntryAnswers) {
    SingleClient("02:00:00:00:99:99");
    g_cfg.DHCPSRVR_ENABLED = 1;
    ASSERT_EQ(DhcpsrvrStart(), 1);
    EXPECT_EQ(Lease(), "");
    EXPECT_TRUE(Has(TraceText(), "No MAC address match found"));
    EXPECT_TRUE(Has(TraceText(), "    IGNORED"));

    dir.Write("t.cfg",
              "DHCP_CLIENT_MAC: 02:00:00:00:99:99\nCLIENT_IP: 10.77.0.60\n"
              "CLIENT_MAC: 00:00:00:00:00:00\nCLIENT_IP: 10.77.0.70\nSERVER_IP: 10.77.0.1\n"
              "NETMASK: 255.255.255.0\nIPA_OPTNO_54: 10.77.0.1\nHEX_OPTNO_51: 00000e10\n");
    const std::string line = "SRVRSETUP DHCP on " + dir.File("t.cfg");
    ASSERT_EQ(ScriptRunLine(line.c_str(), 10000), 0);
    const std::string lease = Lease();
    EXPECT_TRUE(Has(lease, "ip=10.77.0.70\n")) << lease << TraceText();
    EXPECT_TRUE(Has(lease, "lease=3600\n")) << lease;
    EXPECT_TRUE(Has(TraceText(), "Using default configuration."));
}

// A BOOTP request from a socket in the server's namespace: the broadcast
// reply is looped back to it.
TEST_F(DhcpServer, BootpRequestGetsTheVendorField) {
    dir.Write("b.cfg", "BOOTP_CLIENT_MAC: 02:00:00:00:77:02\nCLIENT_IP: 10.77.0.80\nSERVER_IP: 10.77.0.1\n"
                       "BOOTFILE: boot.img\nNETMASK: 255.255.255.0\n");
    g_cfg.DHCP_CFGFILE_MODE = 1;
    CFG_SET_STRING(g_cfg.DHCP_CFG_FILE, dir.File("b.cfg").c_str());
    g_cfg.DHCPSRVR_ENABLED = 1;
    ASSERT_EQ(DhcpsrvrStart(), 1);
    int fd = NetUdpSocket(0, false);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    std::vector<uint8_t> req(300, 0);
    req[0] = 1;
    req[1] = 1;
    req[2] = 6;
    const uint8_t mac[6] = {2, 0, 0, 0, 0x77, 2};
    std::memcpy(&req[28], mac, 6);
    sockaddr_in to = NetAddress(in_addr{inet_addr("10.77.0.1")}, 67);
    ASSERT_EQ(sendto(fd, req.data(), req.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 300);
    ASSERT_EQ(NetWaitReadable(fd, 5000), 1) << TraceText();
    uint8_t reply[1500];
    ssize_t n = recv(fd, reply, sizeof reply, 0);
    ASSERT_EQ(n, 300);
    EXPECT_EQ(reply[0], 2);
    EXPECT_EQ(std::memcmp(reply + 16, "\x0a\x4d\x00\x50", 4), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(reply + 108), "boot.img");
    const uint8_t vendor[] = {99, 130, 83, 99, 1, 4, 255, 255, 255, 0, 255};
    EXPECT_EQ(std::memcmp(reply + 236, vendor, sizeof vendor), 0);
    NetClose(fd);
    EXPECT_EQ(Lease(), "");   // a DHCP request to a BOOTP-only entry is ignored
    EXPECT_TRUE(Has(TraceText(), "No MAC address match found") || Has(TraceText(), "IGNORED"));
}

}  // namespace
