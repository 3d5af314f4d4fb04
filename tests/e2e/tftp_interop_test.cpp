// The TFTP server against real clients on 127.0.0.1: tftp-hpa's tftp and
// atftp, get and put, several block sizes, and a transfer long enough for the
// block numbers to roll over.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>

#include "console/screenbuf.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "proc.h"
#include "config/shellvar.h"
#include "servers/tftpsrvr.h"
#include "tftp_peer.h"

namespace {

class TftpInterop : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        SetFrameInitialised(true);
        shell_setenv("TFTPSRVR_PORT", "0");
        CFG_SET_STRING(g_cfg.TFTP_START_DIR, top.path().c_str());
        g_cfg.TFTPSRVR_ENABLED = 1;
        ASSERT_EQ(TftpSrvrStart(), 1);
        port = std::to_string(TftpSrvrPort());
    }
    void TearDown() override {
        TftpSrvrStop();
        SetFrameInitialised(false);
    }
    // tftp-hpa: "get"/"put" of one file in binary mode.
    ProcResult Hpa(const std::string& op, const std::string& remote, const std::string& localPath, int ms = 20000) {
        return RunProgram("/usr/bin/tftp", {"-m", "binary", "127.0.0.1", port, "-c", op,
                                            op == "get" ? remote : localPath, op == "get" ? localPath : remote},
                          {}, "", ms);
    }
    ProcResult Atftp(bool get, const std::string& remote, const std::string& localPath, int blksize) {
        return RunProgram("/usr/bin/atftp", {"--option", "blksize " + std::to_string(blksize), "--option", "tsize",
                                             get ? "-g" : "-p", "-r", remote, "-l", localPath, "127.0.0.1", port});
    }

    FakeUi ui;
    TempDir top, client;
    std::string port;
};

const size_t kSizes[] = {0, 511, 512, 513, 1024};

TEST_F(TftpInterop, TftpHpaGetAndPutAreByteIdentical) {
    for (size_t size : kSizes) {
        std::string name = "f" + std::to_string(size), body = Pattern(size, static_cast<unsigned>(size) + 3);
        top.Write(name, body);
        ProcResult get = Hpa("get", name, client.File(name));
        EXPECT_EQ(get.status, 0) << size << get.err;
        EXPECT_TRUE(client.Read(name) == body) << size;
        ProcResult put = Hpa("put", name + ".up", client.File(name));
        EXPECT_EQ(put.status, 0) << size << put.err;
        EXPECT_TRUE(top.Read(name + ".up") == body) << size;
    }
}

TEST_F(TftpInterop, AtftpWithBlockSizesAndTsize) {
    for (int blksize : {512, 1468, 8192}) {
        for (size_t size : {size_t{0}, size_t{511}, size_t{512}, size_t{513}, size_t{1024}, size_t{20000}}) {
            std::string name = "a" + std::to_string(blksize) + "_" + std::to_string(size);
            std::string body = Pattern(size, static_cast<unsigned>(size + blksize));
            top.Write(name, body);
            ProcResult get = Atftp(true, name, client.File(name), blksize);
            EXPECT_EQ(get.status, 0) << name << get.err;
            EXPECT_TRUE(client.Read(name) == body) << name;
            // Writes are answered without options: the client falls back to 512-byte blocks.
            ProcResult put = Atftp(false, name + ".up", client.File(name), blksize);
            EXPECT_EQ(put.status, 0) << name << put.err;
            EXPECT_TRUE(top.Read(name + ".up") == body) << name;
        }
    }
}

// 40 MiB at 512-byte blocks is 81920 blocks: the 16-bit block number rolls
// over once each way.
TEST_F(TftpInterop, FortyMebibytesRollTheBlockNumberOver) {
    std::string body = Pattern(40u << 20, 40);
    top.Write("big.bin", body);
    ProcResult get = Hpa("get", "big.bin", client.File("big.bin"), 120000);
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_TRUE(client.Read("big.bin") == body);
    ProcResult put = Hpa("put", "big.up", client.File("big.bin"), 120000);
    EXPECT_EQ(put.status, 0) << put.err;
    EXPECT_TRUE(top.Read("big.up") == body);
}

// The program itself: the server starts after the start-up question is
// answered Yes, and not at all when it is answered No.
TEST(TftpCli, ServerStartsAfterTheStartupQuestion) {
    for (const char* answer : {"YES", "NO"}) {
        TempDir home, files;
        files.Write("hello.txt", "hello over tftp");
        home.Write("t.ct", "###################################################\n#\n# Oxel configuration file\n#\n"
                           "TFTPSRVR_ENABLED TRUE\nTFTP_START_DIR \"" + files.path() + "\"\n");
        uint16_t port = FreeUdpPort();
        Proc p(CliPath(), {"-D", "TFTPSRVR_PORT=" + std::to_string(port), home.File("t.ct")},
               {"OXEL_HOME=" + home.path(), std::string("OXEL_ANSWERS=") + answer});
        ASSERT_TRUE(p.WaitError("[TFTP Server auto-startup warning] Ok to allow servers to start up?", 20000));
        TftpPeer peer;
        std::optional<Bytes> data;
        for (int i = 0; i < 20 && !data; ++i) {
            peer.SendTo(port, Rrq("hello.txt"));
            data = peer.Recv(100);
        }
        if (std::string(answer) == "YES") {
            ASSERT_TRUE(data) << p.Err();
            EXPECT_EQ(Payload(*data), "hello over tftp");
            peer.Reply(Ack(1));
        } else {
            EXPECT_FALSE(data);
        }
        p.Signal(SIGTERM);
        EXPECT_EQ(p.Wait(10000), 0);
    }
}

}  // namespace
