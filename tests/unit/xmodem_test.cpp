// The XMODEM framing and the receiver's stream logic; the raw, text and hex
// sending; Cancel of a running send on a pseudo-terminal board.
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>

#include "app/wiring.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "config/shellvar.h"
#include "console/screenbuf.h"
#include "fake_ui.h"
#include "platform/ui.h"
#include "proc.h"
#include "pty_board.h"
#include "script/scripting.h"
#include "servers/loccmd.h"
#include "util/checksum.h"
#include "xfer/filexfer.h"
#include "xfer/xmodem.h"

namespace {

template <size_t N>
std::string Bytes(const char (&s)[N]) { return std::string(s, N - 1); }

TEST(XmodemFrame, CrcAndChecksumPackets) {
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16Xmodem(check, sizeof check), 0x31C3);
    std::string data(128, '\0');
    data[0] = 1;
    data[127] = 2;
    auto d = reinterpret_cast<const uint8_t*>(data.data());
    std::string crc = XmodemPacket(0xFF, d, 128, true);
    ASSERT_EQ(crc.size(), 133u);
    EXPECT_EQ(crc.substr(0, 3), Bytes("\x01\xff\x00"));
    uint16_t c = Crc16Xmodem(d, 128);
    EXPECT_EQ(static_cast<uint8_t>(crc[131]), c >> 8);
    EXPECT_EQ(static_cast<uint8_t>(crc[132]), c & 0xFF);
    std::string sum = XmodemPacket(3, d, 128, false);
    ASSERT_EQ(sum.size(), 132u);
    EXPECT_EQ(sum.back(), '\x03');
    std::string k(1024, 'k');
    EXPECT_EQ(XmodemPacket(1, reinterpret_cast<const uint8_t*>(k.data()), 1024, true)[0], '\x02');
}

TEST(XmodemFrame, YmodemBlocks) {
    std::string b0 = YmodemBlock0("/tmp/dir/image.bin", 1000, true);
    ASSERT_EQ(b0.size(), 133u);
    EXPECT_EQ(b0.substr(0, 3), Bytes("\x01\x00\xff"));
    EXPECT_EQ(b0.substr(3, 20), Bytes("image.bin\0" "1000\0\0\0\0\0\0"));
    std::string end = YmodemEndBlock(true);
    EXPECT_EQ(end.substr(0, 3), Bytes("\x01\x00\xff"));
    EXPECT_EQ(end.substr(3, 128), std::string(128, '\0'));
}

TEST(XmodemFrame, TargetCommand) {
    struct Case {
        const char* cmd;
        long size;
        bool autosize, crlf;
        const char* want;
    } cases[] = {
        {"", 1000, true, false, ""},
        {"xmodem -d", 1000, true, false, "xmodem -s 1000 -d\r"},
        {"xmodem -d", 1000, false, true, "xmodem -d\r\n"},
        {"xmodem -d", 0, true, false, "xmodem -d\r"},
        {"ymodem -d", 1000, true, false, "ymodem -d\r"},
        {"xmodem -d\\r\\n", 10, false, false, "xmodem -d\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(XmodemTargetCommand(c.cmd, c.size, c.autosize, c.crlf), c.want) << c.cmd;
}

// Feeds a stream; returns the last action.
XrAction Feed(XmodemRx& rx, const std::string& bytes) {
    XrAction last = XrAction::None;
    for (char c : bytes) {
        last = XmodemRxFeed(rx, static_cast<uint8_t>(c));
        if (last == XrAction::Fail || last == XrAction::NakFail || last == XrAction::End) break;
    }
    return last;
}

std::string Pkt(uint8_t seq, char fill, size_t len = 128, bool crc = true) {
    std::string d(len, fill);
    return XmodemPacket(seq, reinterpret_cast<const uint8_t*>(d.data()), len, crc);
}

TEST(XmodemRx, SequenceWrapsAndMixedSizes) {
    XmodemRx rx;
    std::string want;
    for (int n = 1; n <= 300; n++) {
        size_t len = n % 7 ? 128 : 1024;
        ASSERT_EQ(Feed(rx, Pkt(static_cast<uint8_t>(n), static_cast<char>(n), len)), XrAction::Ack) << n;
        want += std::string(len, static_cast<char>(n));
    }
    EXPECT_EQ(Feed(rx, "\x04"), XrAction::Ack);
    EXPECT_TRUE(rx.done);
    EXPECT_EQ(rx.packets, 300);
    EXPECT_EQ(std::string(rx.image.begin(), rx.image.end()), want);
}

TEST(XmodemRx, Faults) {
    struct Case {
        const char* name;
        std::string stream;
        bool crc;
        XrAction action;
        const char* error;
    } cases[] = {
        {"bad crc", Pkt(1, 'a').substr(0, 132) + std::string(1, '\0'), true, XrAction::NakFail, "Packet 1 CRC failure"},
        {"bad sum", Pkt(1, 'a', 128, false).substr(0, 131) + "\x01", false, XrAction::NakFail, "Packet 1 CSUM failure"},
        {"complement", "\x01\x01\x01", true, XrAction::Fail, "Packet 1 seqno inconsistency 0x1 0x1"},
        {"out of sequence", Pkt(1, 'a') + Pkt(3, 'b'), true, XrAction::Fail, "Out-of-sequence error at pkt 1 (03 01)."},
        {"cancel", "junk\x18", true, XrAction::End, ""},
    };
    for (const auto& c : cases) {
        XmodemRx rx;
        rx.crc = c.crc;
        EXPECT_EQ(Feed(rx, c.stream), c.action) << c.name;
        EXPECT_EQ(rx.error, c.error) << c.name;
        EXPECT_TRUE(rx.image.empty() || std::string(c.name) == "out of sequence") << c.name;
    }
}

TEST(XmodemRx, NeverGrowsPastItsLimit) {
    XmodemRx rx;
    rx.limit = 1024;
    for (int n = 1; n <= 8; n++) ASSERT_EQ(Feed(rx, Pkt(static_cast<uint8_t>(n), 'z')), XrAction::Ack);
    EXPECT_EQ(Feed(rx, Pkt(9, 'z')), XrAction::Fail);
    EXPECT_EQ(rx.error, "realloc_SOH/STX failure");
    EXPECT_EQ(rx.image.size(), 1024u);
}

TEST(SendText, EscapesLineEndsAndLimits) {
    EXPECT_EQ(SendTextBytes("go\\r", false, true), std::optional<std::string>("go\r\n"));
    EXPECT_EQ(SendTextBytes("a\\x41", true, false), std::optional<std::string>("aA\r"));
    EXPECT_EQ(SendTextBytes("", true, true), std::optional<std::string>(""));
    EXPECT_EQ(SendTextBytes(std::string(256, 'x'), false, false), std::nullopt);
    EXPECT_EQ(SendTextBytes(std::string(255, 'x'), false, false)->size(), 255u);
}

TEST(SendHex, PairsOfDigits) {
    EXPECT_EQ(HexTextBytes("0d 0a"), std::optional<std::string>("\r\n"));
    EXPECT_EQ(HexTextBytes("414"), std::nullopt);
    EXPECT_EQ(HexTextBytes(" "), std::nullopt);
    EXPECT_EQ(HexTextBytes("zz"), std::nullopt);
}

// ---- on a pseudo-terminal board ----------------------------------------------

class XferBoard : public ::testing::Test {
protected:
    void SetUp() override {
        UiSet(&ui);
        AppWireHooks();
        ConfigInitDefaults();
        g_cfg.BACKEND = BACKEND_COM;
        g_cfg.COMPORT = 3;
        g_cfg.BAUDRATE = 115200;
        g_cfg.DELAY_BETWEEN_CHARS = 0;
        SetFrameInitialised(true);
        ASSERT_FALSE(board.path.empty());
        shell_setenv("COMDEV_3", board.path.c_str());
        ASSERT_EQ(OpenConnection(), 1);
    }
    void TearDown() override {
        XmodemShutdown();
        FileXferShutdown();
        CloseConnection();
        shell_unsetenv("COMDEV_3");
        SetFrameInitialised(false);
        UiSet(nullptr);
    }
    FakeUi ui;
    PtyBoard board;
    TempDir dir;
};

TEST_F(XferBoard, CancelSendsTheCancelSequenceAndFrees) {
    dir.Write("f.bin", std::string(4096, 'q'));
    XmodemSetPacketSize(128);
    ASSERT_EQ(XmodemStartSend("", dir.File("f.bin").c_str()), 1);
    std::string got;
    for (int i = 0; i < 50 && got.empty(); i++) {
        board.Send("C");
        got = board.Receive(1, 200);
    }
    got += board.Receive(133 - got.size());
    std::string q(128, 'q');
    EXPECT_EQ(got.substr(0, 133), XmodemPacket(1, reinterpret_cast<const uint8_t*>(q.data()), 128, true));
    XmodemAbort();
    EXPECT_FALSE(XmodemStatus().running);
    got = board.Receive(8, 3000);
    EXPECT_EQ(got.substr(got.size() >= 8 ? got.size() - 8 : 0), std::string(8, '\x18'));
    EXPECT_EQ(XmodemWait(), XSTATE_FAIL);
    // The program goes on: the next transfer starts.
    ASSERT_EQ(XmodemStartSend("", dir.File("f.bin").c_str()), 1);
    XmodemAbort();
}

TEST_F(XferBoard, AutosizeCommandThenHexLogOfBothDirections) {
    dir.Write("k.bin", std::string(1000, 'k'));
    ASSERT_EQ(XmodemSetXlog(" " + dir.File("x.log")), 1);
    g_cfg.XMODEM_AUTOSIZE = 1;
    XmodemSetPacketSize(1024);
    ASSERT_EQ(XmodemStartSend("xmodem -d", dir.File("k.bin").c_str()), 1);
    EXPECT_TRUE(board.Expect("xmodem -s 1000 -d\r", 10000, true));
    // One 'C': the line is diverted before the command is typed, so it is
    // never lost, and a second one would ask for packet 1 again.
    board.Send("C");
    std::string got = board.Receive(1029, 10000);
    EXPECT_EQ(got.substr(0, 3), Bytes("\x02\x01\xfe"));
    board.Send("\x06");
    EXPECT_EQ(board.Receive(1), "\x04");
    board.Send("\x06");
    EXPECT_EQ(XmodemWait(), XSTATE_IDLE);
    EXPECT_EQ(shell_getenv("XSTATE").value_or(""), "IDLE");
    ASSERT_EQ(XmodemSetXlog(""), 1);
    std::string log = dir.Read("x.log");
    EXPECT_EQ(log.rfind("\n###\n### XMODEM Send file: " + dir.File("k.bin") + "...\n###\n", 0), 0u) << log;
    EXPECT_NE(log.find("\nRCV:\n43 \nSND:\n02 01 fe 6b "), std::string::npos) << log;
    EXPECT_NE(log.find("\nRCV:\n06 \nSND:\n04 \nRCV:\n06 "), std::string::npos) << log;
}

TEST_F(XferBoard, ScriptCommandArguments) {
    InitScripting();
    XmodemInit();
    FileXferInit();
    dir.Write("a.bin", "a");
    const std::string f = dir.File("a.bin");
    shell_unsetenv("PROMPT");
    struct Case {
        std::string line;
        int rc;
        const char* error;
    } cases[] = {
        {"XMODEM send", -3, ""},
        {"XMODEM send a b " + f, -3, ""},
        {"XMODEM put " + f, -2, ""},
        {"XMODEM -y recv " + f, -2, ""},
        {"XMODEM -n -t 5 send " + f, -2, "Invalid use of -n and -t (they contradict each other)."},
        {"XMODEM send " + f, -1, "PROMPT shell variable must be set"},
        {"XMODEM -n send /nonexistent/file.bin", -1, "Can't open file"},
        {"FSEND", -2, ""},
        {"FSEND /nonexistent/file.bin", -1, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(docmd(c.line.c_str()), c.rc) << c.line;
        if (*c.error) {
            EXPECT_EQ(ScriptErrorText(), c.error) << c.line;
        }
    }
}

TEST_F(XferBoard, HaltEndsAScriptWaitingForATransfer) {
    InitScripting();
    XmodemInit();
    dir.Write("a.bin", std::string(300, 'a'));
    dir.Write("x.scr", "XMODEM -n send " + dir.File("a.bin") + "\n");
    ASSERT_EQ(run_script(dir.File("x.scr").c_str(), nullptr), 1);
    for (int i = 0; i < 200 && !XmodemStatus().running; i++) board.Receive(1, 10);
    ASSERT_TRUE(XmodemStatus().running);
    script_halt();
    EXPECT_TRUE(ScriptWaitIdle(10000));
    EXPECT_FALSE(XmodemStatus().running);
    EXPECT_NE(board.Receive(8, 3000).find(std::string(8, '\x18')), std::string::npos);
}

// The telnet server's xrecv: the target command is typed, the transfer runs
// and the client sees the texts meant for it.
TEST_F(XferBoard, TelnetLocalXrecv) {
    const std::string in = "Oxel xrecv rx " + dir.File("r.bin") + "\r";
    size_t at = 0;
    std::mutex mu;
    std::string said;
    LocalCmdClient client;
    client.readByte = [&] { return at < in.size() ? static_cast<unsigned char>(in[at++]) : -1; };
    client.send = [&](const std::string& b) {
        std::lock_guard lock(mu);
        said += b;
    };
    client.gone = [] { return false; };
    auto run = std::async(std::launch::async, [&] { return doLocalCmd(client); });
    ASSERT_TRUE(board.Expect("rx\r", 10000, true));
    ASSERT_TRUE(board.Expect("C", 10000, true));
    std::string data(128, 'r');
    board.Send(XmodemPacket(1, reinterpret_cast<const uint8_t*>(data.data()), 128, true));
    ASSERT_TRUE(board.Expect("\x06", 10000, true));
    board.Send("\x04");
    ASSERT_EQ(run.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(run.get(), 0);
    EXPECT_EQ(dir.Read("r.bin"), data);
    std::lock_guard lock(mu);
    EXPECT_NE(said.find("Xrecv local cmd: 'rx', file: '" + dir.File("r.bin") + "'"), std::string::npos) << said;
    EXPECT_EQ(shell_getenv("XSTATE").value_or(""), "IDLE");
}

TEST_F(XferBoard, RawFileGoesOutWholeAndCounts) {
    std::string data;
    for (int i = 0; i < 1025; i++) data += static_cast<char>(i * 7);
    dir.Write("raw.bin", data);
    ASSERT_EQ(FileXferStart(dir.File("raw.bin").c_str()), 1);
    EXPECT_EQ(board.Receive(1025), data);
    FileXferWait();
    EXPECT_EQ(FileXferStatus().bytes, 1025);
    EXPECT_EQ(FileXferStatus().total, 1025);
    EXPECT_STREQ(g_cfg.XMODEM_FILE, dir.File("raw.bin").c_str());
    EXPECT_EQ(FileXferStart("/nonexistent/raw.bin"), 0);
}

// Without the character delay a raw file leaves in pieces of at most 512.
std::mutex g_piecesMu;
std::vector<size_t> g_pieces;
int RecordPiece(const char*, size_t n) {
    std::lock_guard l(g_piecesMu);
    g_pieces.push_back(n);
    return static_cast<int>(n);
}

TEST_F(XferBoard, RawFileLeavesInPiecesOf512) {
    dir.Write("raw.bin", std::string(1025, 'r'));
    FileXferSetWriter(RecordPiece);
    ASSERT_EQ(FileXferStart(dir.File("raw.bin").c_str()), 1);
    FileXferWait();
    FileXferSetWriter(nullptr);
    std::lock_guard l(g_piecesMu);
    EXPECT_EQ(g_pieces, (std::vector<size_t>{512, 512, 1}));
}

TEST_F(XferBoard, TextAndHexByteByByte) {
    EXPECT_EQ(SendText("go\\r", false, true), 4);
    EXPECT_EQ(board.Receive(4), "go\r\n");
    EXPECT_EQ(SendHexText("0d 0a"), 1);
    EXPECT_EQ(board.Receive(2), "\r\n");
    EXPECT_EQ(SendHexText("0d0"), 0);
    EXPECT_EQ(board.Receive(1, 300), "");
}

}  // namespace
