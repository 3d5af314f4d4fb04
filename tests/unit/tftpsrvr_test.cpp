// The TFTP server on 127.0.0.1, driven packet by packet by raw peers.
#include "servers/tftpsrvr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "console/screenbuf.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "loopback_peer.h"
#include "log/srvrtrace.h"
#include "proc.h"
#include "config/shellvar.h"
#include "servers/tab_tftp.h"
#include "tftp_peer.h"

namespace {

bool Exists(const std::string& path) {
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

class TftpSrvrTest : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        SetFrameInitialised(true);
        g_cfg.TRACEFLAGS |= TRC_TFTP;
        shell_setenv("TFTPSRVR_PORT", "0");
        top = outside.path() + "/top";
        mkdir(top.c_str(), 0755);
        Start(false);
    }
    void TearDown() override {
        TftpSrvrStop();
        SetFrameInitialised(false);
    }
    void Start(bool relativeOnly) {
        TftpSrvrStop();
        CFG_SET_STRING(g_cfg.TFTP_START_DIR, top.c_str());
        g_cfg.TFTP_RELATIVE_ONLY = relativeOnly;
        g_cfg.TFTPSRVR_ENABLED = 1;
        ASSERT_EQ(TftpSrvrStart(), 1);
        port = TftpSrvrPort();
    }
    void Put(const std::string& name, const std::string& body) const { outside.Write("top/" + name, body); }
    // Reads a whole file with plain 512-byte blocks; the packets' payload sizes in sizes.
    std::string Get(TftpPeer& peer, const std::string& name, std::vector<size_t>* sizes = nullptr) {
        peer.SendTo(port, Rrq(name));
        std::string body;
        for (;;) {
            auto pkt = peer.Recv();
            if (!pkt || Op(*pkt) != 3) return "<" + (pkt ? Text(*pkt) : std::string("no answer")) + ">";
            body += Payload(*pkt);
            if (sizes) sizes->push_back(Payload(*pkt).size());
            peer.Reply(Ack(Num(*pkt)));
            if (Payload(*pkt).size() < 512) return body;
        }
    }

    FakeUi ui;
    TempDir outside;
    std::string top;
    uint16_t port = 0;
};

TEST_F(TftpSrvrTest, FileOfTwoBlocksEndsWithAnEmptyBlock) {
    std::string body = Pattern(1024);
    Put("a.bin", body);
    TftpPeer peer;
    std::vector<size_t> sizes;
    EXPECT_TRUE(Get(peer, "a.bin", &sizes) == body);
    EXPECT_EQ(sizes, (std::vector<size_t>{512, 512, 0}));
    EXPECT_TRUE(WaitFor([] { return TftpPaneText().find("xfer completed") != std::string::npos; }, 3000));
    EXPECT_NE(TftpPaneText().find("[00] RRQ (1) from <127.0.0.1> sending: " + top + "/a.bin (octet)"),
              std::string::npos)
        << TftpPaneText();
    EXPECT_EQ(TftpSrvrTotalsText(), "Totals: rcvd=0, sent=1");
}

TEST_F(TftpSrvrTest, TsizeIsAnsweredWithAnOackAndDataWaitsForAckZero) {
    Put("a.bin", Pattern(1000));
    TftpPeer peer;
    peer.SendTo(port, Rrq("a.bin", "octet", {"tsize", "0"}));
    auto oack = peer.Recv();
    ASSERT_TRUE(oack);
    EXPECT_EQ(Text(*oack), std::string("\0\6tsize\0" "1000\0", 13));
    EXPECT_FALSE(peer.Recv(300));
    peer.Reply(Ack(0));
    auto data = peer.Recv();
    ASSERT_TRUE(data);
    EXPECT_EQ(Op(*data), 3);
    EXPECT_EQ(Num(*data), 1);
}

TEST_F(TftpSrvrTest, RepeatedAckAfterAWhileResendsTheLastData) {
    Put("a.bin", Pattern(600));
    TftpPeer peer;
    peer.SendTo(port, Rrq("a.bin"));
    ASSERT_TRUE(peer.Recv());
    peer.Reply(Ack(1));
    auto second = peer.Recv();
    ASSERT_TRUE(second);
    EXPECT_EQ(Num(*second), 2);
    // The client lost DATA 2 and, after its own timeout, repeats ACK 1.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    peer.Reply(Ack(1));
    auto again = peer.Recv(500);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *second);
    EXPECT_NE(TftpPaneText().find("rcv'd ACK with last blockno, resending last DAT."), std::string::npos);
}

TEST_F(TftpSrvrTest, DuplicatedAcksDoNotDoubleTheTraffic) {
    std::string body = Pattern(100 * 512 + 7);
    Put("a.bin", body);
    TftpPeer peer;
    peer.SendTo(port, Rrq("a.bin"));
    std::string got;
    int dataPackets = 0;
    while (auto pkt = peer.Recv(1500)) {
        if (Op(*pkt) != 3) break;
        ++dataPackets;
        if (Num(*pkt) == static_cast<uint16_t>(dataPackets)) got += Payload(*pkt);
        peer.Reply(Ack(Num(*pkt)));
        peer.Reply(Ack(Num(*pkt)));  // every ACK arrives twice
    }
    EXPECT_TRUE(got == body);
    EXPECT_EQ(dataPackets, 101);
}

TEST_F(TftpSrvrTest, WriteInNetasciiIsRefused) {
    TftpPeer peer;
    peer.SendTo(port, Wrq("w.txt", "netascii"));
    auto err = peer.Recv();
    ASSERT_TRUE(err);
    EXPECT_EQ(Text(*err), std::string("\0\5\0\2Octet mode not supported\0", 29));
    EXPECT_FALSE(Exists(top + "/w.txt"));
}

TEST_F(TftpSrvrTest, WriteStoresBlocksArrivingOutOfOrder) {
    std::string body = Pattern(1300);
    TftpPeer peer;
    peer.SendTo(port, Wrq("w.bin"));
    auto ack0 = peer.Recv();
    ASSERT_TRUE(ack0);
    EXPECT_EQ(Text(*ack0), std::string("\0\4\0\0", 4));
    peer.Reply(Data(2, body.substr(512, 512)));
    ASSERT_TRUE(peer.Recv());
    peer.Reply(Data(1, body.substr(0, 512)));
    ASSERT_TRUE(peer.Recv());
    EXPECT_FALSE(Exists(top + "/w.bin"));  // nothing under the name until the end
    peer.Reply(Data(3, body.substr(1024)));
    auto last = peer.Recv();
    ASSERT_TRUE(last);
    EXPECT_EQ(Text(*last), std::string("\0\4\0\3", 4));
    EXPECT_TRUE(outside.Read("top/w.bin") == body);
    std::string pane = TftpPaneText();
    EXPECT_NE(pane.find("[00] out-of-order blockno (rcvd 2, expected 1)."), std::string::npos) << pane;
    EXPECT_NE(pane.find("[00] Transfer complete (1300 bytes)."), std::string::npos) << pane;
    // The client missed that last ACK and sends its last block again.
    peer.Reply(Data(3, body.substr(1024)));
    auto again = peer.Recv();
    ASSERT_TRUE(again);
    EXPECT_EQ(Text(*again), std::string("\0\4\0\3", 4));
}

TEST_F(TftpSrvrTest, AbandonedWriteLeavesTheOldFile) {
    Put("keep.bin", "old contents");
    TftpPeer peer;
    peer.SendTo(port, Wrq("keep.bin"));
    ASSERT_TRUE(peer.Recv());
    peer.Reply(Data(1, Pattern(512)));
    ASSERT_TRUE(peer.Recv());
    peer.Reply(Bytes{0, 5, 0, 0, 'x', 0});
    EXPECT_TRUE(WaitFor([] { return TftpPaneText().find("TFTP_ERR <0: x>") != std::string::npos; }, 3000));
    EXPECT_EQ(outside.Read("top/keep.bin"), "old contents");
}

TEST_F(TftpSrvrTest, RelativeOnlyReadsAbsoluteNamesBelowTheDirectory) {
    Start(true);
    mkdir((top + "/boot").c_str(), 0755);
    Put("boot/img", "image");
    TftpPeer peer;
    EXPECT_EQ(Get(peer, "/boot/img"), "image");
}

TEST_F(TftpSrvrTest, UnansweredDataIsResentAndTheSlotGivesUpAfterFiveTimeouts) {
    Put("a.bin", Pattern(700));
    TftpPeer peer;
    peer.SendTo(port, Rrq("a.bin", "octet", {"timeout", "1"}));
    int copies = 0;
    while (auto pkt = peer.Recv(2500)) copies += Op(*pkt) == 3 && Num(*pkt) == 1;
    EXPECT_EQ(copies, 5);  // the first and four resends
    std::string pane = TftpPaneText();
    EXPECT_NE(pane.find("[00] Setting TFTP timeout to 1"), std::string::npos);
    EXPECT_NE(pane.find("[00] TFTP ackrcv tmout, resending"), std::string::npos);
    EXPECT_NE(pane.find("[00] TFTP SERVER timeout"), std::string::npos);
}

// Hostile or broken requests: each gets a sound answer (or none), nothing
// outside the directory is read or written, and the server goes on serving.
TEST_F(TftpSrvrTest, HostileRequests) {
    outside.Write("secret", "outside the directory");
    Put("ok.bin", Pattern(600));
    symlink((outside.path() + "/secret").c_str(), (top + "/link").c_str());
    symlink(outside.path().c_str(), (top + "/outdir").c_str());
    std::string many = std::string("\0\1ok.bin\0octet\0", 15);
    for (int i = 0; i < 300; ++i) many += std::string("x\0y\0", 4);
    std::string garbage = "\xde\xad" + Pattern(2046, 7);
    struct Case {
        const char* what;
        Bytes request;
        std::string answer;  // packet expected: whole bytes; "" = no answer
        size_t firstData = 0;  // when > 0: a DATA 1 of this size answers
    } cases[] = {
        {"../x", Rrq("../secret"), std::string("\0\5\0\2Access violation\0", 21)},
        {"a/../../x", Rrq("a/../../secret"), std::string("\0\5\0\2Access violation\0", 21)},
        {"..", Rrq(".."), std::string("\0\5\0\2Access violation\0", 21)},
        {"control byte", Rrq("ok\x01.bin"), std::string("\0\5\0\2Access violation\0", 21)},
        {"symlink out", Rrq("link"), std::string("\0\5\0\2Access violation\0", 21)},
        {"through a linked dir", Rrq("outdir/secret"), std::string("\0\5\0\2Access violation\0", 21)},
        {"write ../", Wrq("../new"), std::string("\0\5\0\2Access violation\0", 21)},
        {"write through a linked dir", Wrq("outdir/new"), std::string("\0\5\0\2Access violation\0", 21)},
        {"no NULs", Bytes{0, 1, 'o', 'k'}, std::string("\0\5\0\4Illegal TFTP operation\0", 27)},
        {"odd option count", Rrq("ok.bin", "octet", {"blksize"}), "", 512},
        {"blksize 0", Rrq("ok.bin", "octet", {"blksize", "0"}), "", 512},
        {"blksize 7", Rrq("ok.bin", "octet", {"blksize", "7"}), "", 512},
        {"blksize 65465", Rrq("ok.bin", "octet", {"blksize", "65465"}),
         std::string("\0\6" "blksize\0" "65464\0", 16)},
        {"blksize 2^40", Rrq("ok.bin", "octet", {"blksize", "1099511627776"}),
         std::string("\0\6" "blksize\0" "65464\0", 16)},
        {"300 options", Bytes(many.begin(), many.end()), "", 512},
        {"garbage", Bytes(garbage.begin(), garbage.end()), ""},
    };
    for (const auto& c : cases) {
        TftpPeer peer;
        peer.SendTo(port, c.request);
        auto got = peer.Recv(c.answer.empty() && !c.firstData ? 300 : 3000);
        if (c.firstData) {
            ASSERT_TRUE(got) << c.what;
            EXPECT_EQ(Op(*got), 3) << c.what;
            EXPECT_EQ(Payload(*got).size(), c.firstData) << c.what;
            peer.Reply(Bytes{0, 5, 0, 0, 0});  // end it
        } else if (c.answer.empty()) {
            EXPECT_FALSE(got) << c.what;
        } else {
            ASSERT_TRUE(got) << c.what;
            EXPECT_EQ(Text(*got), c.answer) << c.what;
            if (Op(*got) == 6) peer.Reply(Bytes{0, 5, 0, 0, 0});
        }
    }
    EXPECT_EQ(outside.Read("secret"), "outside the directory");
    EXPECT_FALSE(Exists(outside.path() + "/new"));
    TftpPeer last;
    EXPECT_TRUE(Get(last, "ok.bin") == Pattern(600));
}

TEST_F(TftpSrvrTest, PacketFromAnotherPortDuringATransferIsNotServed) {
    std::string body = Pattern(1500);
    Put("a.bin", body);
    TftpPeer peer, stranger;
    peer.SendTo(port, Rrq("a.bin"));
    auto first = peer.Recv();
    ASSERT_TRUE(first);
    stranger.SendTo(port, Ack(1));
    stranger.SendTo(port, Data(1, "junk"));
    EXPECT_FALSE(stranger.Recv(300));
    std::string got = Payload(*first);
    peer.Reply(Ack(1));
    while (auto pkt = peer.Recv()) {
        got += Payload(*pkt);
        peer.Reply(Ack(Num(*pkt)));
        if (Payload(*pkt).size() < 512) break;
    }
    EXPECT_TRUE(got == body);
    EXPECT_NE(TraceText().find("TFTP getThisTSDP (4) failed"), std::string::npos);
}

TEST_F(TftpSrvrTest, SixteenTransfersAtOnceAndTheSeventeenthWaitsForASlot) {
    std::string body = Pattern(5000);
    Put("a.bin", body);
    std::vector<std::unique_ptr<TftpPeer>> peers;
    std::vector<std::string> got(kTftpSlots);
    for (int i = 0; i < kTftpSlots; ++i) {
        peers.push_back(std::make_unique<TftpPeer>());
        peers.back()->SendTo(port, Rrq("a.bin"));
        auto first = peers.back()->Recv();
        ASSERT_TRUE(first) << i;
        got[static_cast<size_t>(i)] = Payload(*first);
    }
    TftpPeer late;
    late.SendTo(port, Rrq("a.bin"));
    EXPECT_FALSE(late.Recv(500));
    EXPECT_EQ(TftpSrvrStatusText(), "Status: " + std::to_string(TftpSrvrPkts()) + " pkts\n");
    // Interleave the sixteen to their ends.
    std::vector<bool> done(kTftpSlots, false);
    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < kTftpSlots; ++i) {
            if (done[static_cast<size_t>(i)]) continue;
            TftpPeer& p = *peers[static_cast<size_t>(i)];
            p.Reply(Ack(static_cast<uint16_t>(round + 1)));
            auto pkt = p.Recv();
            ASSERT_TRUE(pkt);
            got[static_cast<size_t>(i)] += Payload(*pkt);
            if (Payload(*pkt).size() < 512) {
                p.Reply(Ack(Num(*pkt)));
                done[static_cast<size_t>(i)] = true;
            }
        }
    }
    for (const auto& g : got) EXPECT_TRUE(g == body);
    // A slot is free now: the late client's retry is served.
    EXPECT_TRUE(WaitFor([] { return TftpSrvrStatusText() == "Status: Idle"; }, 3000));
    EXPECT_TRUE(Get(late, "a.bin") == body);
}

TEST_F(TftpSrvrTest, DialogApplyChecksTheDirectoryAndStops) {
    EXPECT_EQ(TftpSrvrApply(true, false, outside.path() + "/missing"), 0);
    ASSERT_FALSE(ui.Boxes().empty());
    EXPECT_EQ(ui.Boxes().back().title, "TFTP SERVER");
    EXPECT_EQ(ui.Boxes().back().text, "Directory doesn't exist");
    EXPECT_STREQ(g_cfg.TFTP_START_DIR, top.c_str());
    EXPECT_NE(ui.Caption().find("Tftp"), std::string::npos) << ui.Caption();
    EXPECT_EQ(TftpSrvrApply(false, false, top), 1);
    EXPECT_FALSE(TftpSrvrRunning());
    EXPECT_EQ(g_cfg.TFTPSRVR_ENABLED, 0);
    EXPECT_EQ(ui.Caption().find("Tftp"), std::string::npos) << ui.Caption();
}

TEST_F(TftpSrvrTest, PortInUseIsSaidAndClearsTheSwitch) {
    TftpSrvrStop();
    shell_setenv("TFTPSRVR_PORT", std::to_string(port).c_str());
    TftpPeer holder;  // any socket on that port
    shell_setenv("TFTPSRVR_PORT", std::to_string(holder.port).c_str());
    g_cfg.TFTPSRVR_ENABLED = 1;
    EXPECT_EQ(TftpSrvrStart(), 0);
    EXPECT_EQ(g_cfg.TFTPSRVR_ENABLED, 0);
    ASSERT_FALSE(ui.Boxes().empty());
    EXPECT_EQ(ui.Boxes().back().text, "port " + std::to_string(holder.port) + " in use");
}

}  // namespace
