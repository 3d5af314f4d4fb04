// oxel-cli with the network and child-process backends, end to end: a
// configuration file picks the backend, standard input is the keyboard and
// standard output shows what the target sent.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>

#include "../unit/loopback_peer.h"
#include "proc.h"

namespace {

std::string Config(const std::vector<std::string>& lines) {
    std::string s = "###################################################\n#\n# Oxel configuration file\n#\n";
    for (const auto& l : lines) s += l + "\n";
    return s;
}

TEST(CliNetBackends, TelnetTargetTalksThroughTheConsole) {
    TempDir home;
    TcpPeer server;
    home.Write("t.ct", Config({"BACKEND 2", "BACKEND_TELNET_ENABLED TRUE", "BACKENT_TELNET_SYS \"127.0.0.1\"",
                               "BACKEND_TELNET_PORT " + std::to_string(server.port)}));
    Proc p(CliPath(), {home.File("t.ct")}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(server.Accept(20000));
    server.Send("\xff\xfb\x01");
    EXPECT_EQ(server.Read(3), "\xff\xfd\x01");
    // Output before start-up has finished is not shown: say it until it is.
    bool shown = false;
    for (int i = 0; i < 20 && !shown; ++i) {
        server.Send("hello from target\r\n");
        shown = p.WaitOutput("hello from target", 1000);
    }
    EXPECT_TRUE(shown) << p.Out() << p.Err();
    p.Write("xyz");
    EXPECT_EQ(server.Read(3), "xyz");
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
}

TEST(CliNetBackends, ShellChildRunsTypedCommands) {
    TempDir home;
    home.Write("p.ct", Config({"BACKEND 4", "BACKEND_PLINK_ENABLED TRUE", "BACKENT_PLINK_ARGS \"SHELL: /bin/sh\""}));
    Proc p(CliPath(), {home.File("p.ct")}, {"OXEL_HOME=" + home.path(), "OXEL_READY=1"});
    ASSERT_TRUE(p.WaitError("oxel-cli: ready", 10000)) << p.Err();
    p.Write("echo hel\"\"lo\r");
    EXPECT_TRUE(p.WaitOutput("hello", 10000)) << p.Out() << p.Err();
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
}

TEST(CliNetBackends, MoncmdLineGoesAsOneDatagram) {
    TempDir home;
    int udp = NetUdpSocket(0, true);
    uint16_t port = NetLocalPort(udp);
    home.Write("m.ct", Config({"BACKEND 3", "BACKEND_MONCMD_ENABLED TRUE", "BACKENT_MONCMD_SYS \"127.0.0.1\"",
                               "BACKEND_MONCMD_PORT " + std::to_string(port), "BACKEND_MONCMD_WAIT 300"}));
    Proc p(CliPath(), {home.File("m.ct")}, {"OXEL_HOME=" + home.path(), "OXEL_READY=1"});
    std::string request;
    std::thread monitor([&] {
        if (NetWaitReadable(udp, 20000) != 1) return;
        char buf[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(udp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n > 0) request.assign(buf, static_cast<size_t>(n));
        for (std::string a : {std::string("Xamo v9\n"), std::string(1, '\0')})
            sendto(udp, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    });
    EXPECT_TRUE(p.WaitError("oxel-cli: ready", 10000)) << p.Err();
    p.Write("version\r");
    monitor.join();
    EXPECT_EQ(request, std::string("version\0", 8));
    EXPECT_TRUE(p.WaitOutput("Xamo v9", 10000)) << p.Out() << p.Err();
    EXPECT_TRUE(p.WaitOutput("MONCMD:", 10000));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10000), 0);
    NetClose(udp);
}

}  // namespace
