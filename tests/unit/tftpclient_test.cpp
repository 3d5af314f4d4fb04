// The TFTP client against in.tftpd (tftpd-hpa) and against raw peers on
// 127.0.0.1; the TFTP and NEWMON script commands.
#include "servers/tftpclient.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

#include "console/screenbuf.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"
#include "proc.h"
#include "util/cmdline.h"
#include "script/scripting.h"
#include "config/shellvar.h"
#include "servers/tftp_cmds.h"
#include "servers/tftpsrvr.h"
#include "tftp_peer.h"

namespace {

std::string Var(const char* name) { return shell_getenv(name).value_or("<unset>"); }

int RunCmd(ScriptCmdHandler handler, const std::string& line) {
    std::vector<std::string> words;
    if (!SplitArgs(line, words)) return -4;
    auto argv = ArgvOf(words);
    script_getopt_reset();
    return handler(static_cast<int>(words.size()), argv.data());
}

class TftpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        SetFrameInitialised(true);
        g_cfg.TRACEFLAGS |= TRC_TFTP;
        TftpClientSetTsize(false);
        TftpClientSetTrace(false);
    }
    void TearDown() override { SetFrameInitialised(false); }
    std::string Server(uint16_t port) const { return "127.0.0.1:" + std::to_string(port); }

    FakeUi ui;
    TempDir local;
};

TEST_F(TftpClientTest, PutAndGetWithTftpdHpa) {
    TempDir remote;
    TftpdHpa tftpd(remote.path());
    ASSERT_TRUE(tftpd.ready);
    for (size_t size : {1u, 511u, 512u, 1024u, 70000u}) {
        std::string name = "f" + std::to_string(size);
        std::string body = Pattern(size, static_cast<unsigned>(size));
        local.Write(name, body);
        ASSERT_EQ(tftpc(Server(tftpd.port).c_str(), "PUT", local.File(name).c_str(), name.c_str(), "octet", 0), 0)
            << size;
        EXPECT_TRUE(remote.Read(name) == body) << size;
        ASSERT_EQ(tftpc(Server(tftpd.port).c_str(), "get", name.c_str(), local.File(name + ".back").c_str(),
                        "octet", 0),
                  0)
            << size;
        EXPECT_TRUE(local.Read(name + ".back") == body) << size;
    }
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(TftpClientTest, ServerErrorSetsTheVariablesAndKeepsTheLocalFile) {
    TempDir remote;
    TftpdHpa tftpd(remote.path());
    ASSERT_TRUE(tftpd.ready);
    local.Write("dst", "keep me");
    EXPECT_EQ(tftpc(Server(tftpd.port).c_str(), "get", "missing", local.File("dst").c_str(), "octet", 0), -1);
    EXPECT_EQ(Var("TFTPC_ERRNO"), "1");
    EXPECT_EQ(Var("TFTPC_ERRMSG"), "File not found");
    ASSERT_FALSE(ui.Boxes().empty());
    EXPECT_EQ(ui.Boxes().back().title, "Error Message from Server");
    EXPECT_EQ(ui.Boxes().back().text, "ERRNO 1: File not found\n");
    EXPECT_EQ(local.Read("dst"), "keep me");
    // The next transfer starts with the variables removed.
    local.Write("up", "x");
    EXPECT_EQ(tftpc(Server(tftpd.port).c_str(), "put", local.File("up").c_str(), "up", "octet", 0), 0);
    EXPECT_EQ(Var("TFTPC_ERRNO"), "<unset>");
}

TEST_F(TftpClientTest, LocalProblemsAreSaid) {
    struct Case {
        const char* op;
        std::string src;
        const char* text;
    } cases[] = {
        {"copy", "a", "copy invalid, specify 'get' or 'put'"},
        {"put", local.File("none"), "%s: open failed"},
        {"put", local.File("empty"), "%s: file is empty (size=0)"},
    };
    local.Write("empty", "");
    for (const auto& c : cases) {
        ui.Reset();
        EXPECT_EQ(tftpc("127.0.0.1:9", c.op, c.src.c_str(), "x", "octet", 0), -1) << c.op;
        ASSERT_EQ(ui.Boxes().size(), 1u) << c.op;
        EXPECT_EQ(ui.Boxes()[0].title, "TFTP Client Error");
        std::string want = c.text;
        if (size_t at = want.find("%s"); at != std::string::npos) want.replace(at, 2, c.src);
        EXPECT_EQ(ui.Boxes()[0].text, want);
    }
}

// A put of 1024 bytes: the server answers from a new port, a stranger's
// packet is turned away, and the blocks are 512, 512 and an empty one.
TEST_F(TftpClientTest, PutFollowsTheTransferPortAndTurnsStrangersAway) {
    TftpPeer listener, transfer, stranger;
    std::string body = Pattern(1024);
    local.Write("img", body);
    TftpClientSetTsize(true);
    auto result = std::async(std::launch::async, [&] {
        return tftpc(Server(listener.port).c_str(), "put", local.File("img").c_str(), "img", "octet", 0);
    });
    auto wrq = listener.Recv();
    ASSERT_TRUE(wrq);
    EXPECT_EQ(Text(*wrq), std::string("\0\2img\0octet\0tsize\0" "1024\0", 23));
    uint16_t clientPort = listener.FromPort();
    transfer.SendTo(clientPort, Ack(0));
    std::vector<size_t> sizes;
    std::string got;
    while (auto pkt = transfer.Recv(3000)) {
        ASSERT_EQ(Op(*pkt), 3);
        ASSERT_EQ(transfer.FromPort(), clientPort);
        sizes.push_back(Payload(*pkt).size());
        got += Payload(*pkt);
        if (sizes.size() == 1) {
            // Once the transfer port is known, any other port is a stranger.
            stranger.SendTo(clientPort, Ack(1));
            auto refused = stranger.Recv();
            ASSERT_TRUE(refused);
            EXPECT_EQ(Text(*refused), std::string("\0\5\0\5Unknown transfer ID\0", 24));
            EXPECT_FALSE(transfer.Recv(200));  // and it did not move the put on
        }
        transfer.Reply(Ack(Num(*pkt)));
        if (Payload(*pkt).size() < 512) break;
    }
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(sizes, (std::vector<size_t>{512, 512, 0}));
    EXPECT_TRUE(got == body);
    EXPECT_FALSE(stranger.Recv(200));  // nothing more went to the stranger
}

TEST_F(TftpClientTest, GetAcksEachBlockOnceAndStoresInOrder) {
    TftpPeer server;
    auto result = std::async(std::launch::async, [&] {
        return tftpc(Server(server.port).c_str(), "get", "img", local.File("img").c_str(), "octet", 0);
    });
    auto rrq = server.Recv();
    ASSERT_TRUE(rrq);
    EXPECT_EQ(Text(*rrq), std::string("\0\1img\0octet\0", 12));
    std::string a = Pattern(512, 1), b = "tail";
    server.Reply(Data(1, a));
    EXPECT_EQ(Text(*server.Recv()), Text(Ack(1)));
    server.Reply(Data(1, a));  // a repeat is acknowledged, not stored again
    EXPECT_EQ(Text(*server.Recv()), Text(Ack(1)));
    server.Reply(Data(2, b));
    EXPECT_EQ(Text(*server.Recv()), Text(Ack(2)));
    EXPECT_EQ(result.get(), 0);
    EXPECT_TRUE(local.Read("img") == a + b);
}

TEST_F(TftpClientTest, SilentServerExhaustsTheRetries) {
    TftpPeer server;
    local.Write("img", "data");
    auto result = std::async(std::launch::async, [&] {
        return tftpc(Server(server.port).c_str(), "put", local.File("img").c_str(), "img", "octet", 2);
    });
    ASSERT_TRUE(server.Recv());
    auto again = server.Recv(3000);
    ASSERT_TRUE(again);  // the request, resent after the first timeout
    EXPECT_EQ(Op(*again), 2);
    EXPECT_EQ(result.get(), -1);
    ASSERT_FALSE(ui.Boxes().empty());
    EXPECT_EQ(ui.Boxes().back().text, "Retries exhausted, giving up!\n");
    EXPECT_NE(TraceText().find("Re-sending TFTP_WRQ (1)"), std::string::npos);
}

TEST_F(TftpClientTest, CancelEndsTheTransfer) {
    TftpPeer server;
    auto result = std::async(std::launch::async, [&] {
        return tftpc(Server(server.port).c_str(), "get", "img", local.File("img").c_str(), "octet", 0);
    });
    ASSERT_TRUE(server.Recv());
    TftpClientCancel();
    EXPECT_EQ(result.get(), -1);
    EXPECT_NE(TraceText().find("Transaction cancelled"), std::string::npos);
}

TEST_F(TftpClientTest, ScriptCommandTransfersAndReportsFailure) {
    TempDir remote;
    TftpdHpa tftpd(remote.path());
    ASSERT_TRUE(tftpd.ready);
    remote.Write("boot.bin", Pattern(3000));
    std::string dst = local.File("boot.bin");
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP -v " + Server(tftpd.port) + " get boot.bin " + dst + " octet"), 0);
    EXPECT_TRUE(local.Read("boot.bin") == Pattern(3000));
    EXPECT_NE(ui.Console().find("\r\nTFTP get: sys=" + Server(tftpd.port) + ",src=boot.bin,dest=" + dst +
                                ",mode=octet\r\n"),
              std::string::npos);
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP " + Server(tftpd.port) + " get nothing " + dst + " octet"), -1);
    ASSERT_FALSE(ui.Boxes().empty());
    EXPECT_EQ(ui.Boxes().back().title, "TFTPC");
    EXPECT_EQ(ui.Boxes().back().text, "Failed -1");
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP a get b c"), -3);
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP -x a get b c d"), -2);
}

TEST_F(TftpClientTest, ScriptCommandSetsTheServerUpAndDown) {
    shell_setenv("TFTPSRVR_PORT", "0");
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP SRVRSETUP on on " + local.path()), 0);
    EXPECT_TRUE(TftpSrvrRunning());
    EXPECT_STREQ(g_cfg.TFTP_START_DIR, local.path().c_str());
    EXPECT_EQ(g_cfg.TFTP_RELATIVE_ONLY, 1);
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP SRVRSETUP off"), 0);
    EXPECT_FALSE(TftpSrvrRunning());
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP SRVRSETUP on on " + local.File("missing")), -1);
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP SRVRSETUP maybe x"), -2);
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP SRVRSETUP on on"), -3);
    EXPECT_EQ(RunCmd(cmd_tftp, "TFTP SRVRSETUP off now"), -3);
}

TEST_F(TftpClientTest, FileOfFilesRunsEachLineAndStopsAtABadOne) {
    TempDir remote;
    TftpdHpa tftpd(remote.path());
    ASSERT_TRUE(tftpd.ready);
    CFG_SET_STRING(g_cfg.TFTPC_SRVR, Server(tftpd.port).c_str());
    local.Write("a", "first");
    remote.Write("b", "second");
    local.Write("list", "# a batch\nSEND " + local.File("a") + " a.remote\nRECV b " + local.File("b.local") +
                            "\nCOPY x y\nSEND never reached\n");
    EXPECT_EQ(TftpRunFof(local.File("list").c_str(), "octet"), -1);
    EXPECT_EQ(remote.Read("a.remote"), "first");
    EXPECT_EQ(local.Read("b.local"), "second");
    ASSERT_FALSE(ui.Boxes().empty());
    EXPECT_EQ(ui.Boxes().back().title, "FOF Error");
    EXPECT_EQ(ui.Boxes().back().text, "line 4: Bad command\r\nCOPY x y");
    EXPECT_NE(TraceText().find("FOF_RECV b " + local.File("b.local")), std::string::npos);
}

TEST_F(TftpClientTest, DialogWorkerRunsOneTransferAtATime) {
    TempDir remote;
    TftpdHpa tftpd(remote.path());
    ASSERT_TRUE(tftpd.ready);
    local.Write("img", Pattern(2000000));
    CFG_SET_STRING(g_cfg.TFTPC_SRVR, Server(tftpd.port).c_str());
    CFG_SET_STRING(g_cfg.TFTPC_SRCFILE, local.File("img").c_str());
    CFG_SET_STRING(g_cfg.TFTPC_DSTFILE, "img.up");
    ASSERT_EQ(TftpClient(true, false, false), 1);
    EXPECT_EQ(TftpClient(true, false, false), 0);  // the first is still running
    EXPECT_TRUE(WaitFor([] { return !TftpClientWorkerRunning(); }, 10000));
    EXPECT_TRUE(remote.Read("img.up") == Pattern(2000000));
    TftpClientProgress p = TftpClientProgressNow();
    EXPECT_FALSE(p.busy);
    EXPECT_EQ(p.bytes, 2000000);
    EXPECT_EQ(p.size, 2000000);
    TftpClientWorkerStop();
}

// NEWMON against a pretend monitor: its commands arrive in order, and the
// image lands in the target's TFTP server (here our own) under the RAM address.
TEST_F(TftpClientTest, NewmonSendsTheImageAndTheFlashSteps) {
    TempDir target;
    shell_setenv("TFTPSRVR_PORT", "0");
    g_cfg.TFTPSRVR_ENABLED = 1;
    CFG_SET_STRING(g_cfg.TFTP_START_DIR, target.path().c_str());
    ASSERT_EQ(TftpSrvrStart(), 1);
    TftpPeer monitor;
    std::vector<std::string> commands;
    std::thread mon([&] {
        while (auto pkt = monitor.Recv(5000)) {
            std::string line = Text(*pkt);
            if (!line.empty() && line.back() == 0) line.pop_back();
            commands.push_back(line);
            monitor.Reply(Bytes{'o', 'k', '\n'});
            monitor.Reply(Bytes{0});
            if (line.rfind("flash ewrite", 0) == 0) break;
        }
    });
    local.Write("mon.bin", Pattern(1500));
    std::string target_ = "127.0.0.1:" + std::to_string(TftpSrvrPort());
    int rc = RunCmd(cmd_newmon, "NEWMON -p " + std::to_string(monitor.port) + " -b 1 -u -A 0x20000 " + target_ + " " +
                                 local.File("mon.bin"));
    mon.join();
    TftpSrvrStop();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(commands, (std::vector<std::string>{"version", "flash bank 1", "flash unlock", "flash opw",
                                                  "flash ewrite $BOOTROMBASE 0x20000 1500"}));
    EXPECT_TRUE(target.Read("0x20000") == Pattern(1500));
    EXPECT_EQ(RunCmd(cmd_newmon, "NEWMON 127.0.0.1 " + local.File("none")), -1);
    EXPECT_EQ(ui.Boxes().back().title, "NEWMON");
    EXPECT_EQ(ui.Boxes().back().text, "File not found: " + local.File("none") + "\n");
    EXPECT_EQ(RunCmd(cmd_newmon, "NEWMON 127.0.0.1"), -3);
}

}  // namespace
