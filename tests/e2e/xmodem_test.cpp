// XMODEM and YMODEM through oxel-cli against lrzsz (sx, rx, rb) on the far
// side of a pseudo-terminal pair that stands in for the COM port.
#include <fcntl.h>
#include <poll.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "proc.h"
#include "pty_board.h"

namespace {

// An lrzsz program talking through the board's side of the pair. It gets
// pipes, not the pty: lrzsz sets its line's modes, and on a master those
// would be the program's own side.
class Peer {
public:
    Peer(PtyBoard& board, const std::string& dir, const std::vector<std::string>& argv) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            if (chdir(dir.c_str()) != 0) _exit(126);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        // What the board already read past its last expectation is the peer's.
        if (!board.got.empty() && write(toChild[1], board.got.data(), board.got.size()) < 0) return;
        board.got.clear();
        relay_ = std::thread([this, m = board.master, in = toChild[1], out = fromChild[0]] { Relay(m, in, out); });
    }
    ~Peer() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        stop_ = true;
        if (relay_.joinable()) relay_.join();
    }
    // Exit status, or -1 when it did not end in time.
    int Wait(int ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

private:
    void Relay(int master, int in, int out) {
        char buf[8192];
        while (!stop_) {
            pollfd pf[2] = {{master, POLLIN, 0}, {out, POLLIN, 0}};
            if (poll(pf, 2, 50) <= 0) continue;
            if (pf[0].revents & POLLIN) {
                ssize_t n = read(master, buf, sizeof buf);
                if (n > 0 && write(in, buf, static_cast<size_t>(n)) != n) break;
            }
            if (pf[1].revents & (POLLIN | POLLHUP)) {
                ssize_t n = read(out, buf, sizeof buf);
                if (n <= 0) break;   // the program ended
                for (ssize_t done = 0; done < n;) {
                    ssize_t w = write(master, buf + done, static_cast<size_t>(n - done));
                    if (w <= 0) break;
                    done += w;
                }
            }
        }
        close(in);
        close(out);
    }

    pid_t pid_ = -1;
    bool exited_ = false;
    std::atomic<bool> stop_{false};
    std::thread relay_;
};

std::string RandomBytes(size_t n, unsigned key) {
    std::mt19937 gen(key);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

std::string Padded(const std::string& data, size_t packet) {
    std::string s = data;
    s.resize((data.size() + packet - 1) / packet * packet, '\x1a');
    return s;
}

// A home whose start-up script tells the board it is ready, then runs `cmd`
// and prints the outcome.
struct Session {
    TempDir home;
    PtyBoard board;
    std::unique_ptr<Proc> cli;

    void Start(const std::string& cmd) {
        home.Write("board.ct",
                   "########\nBACKEND 1\nCOMPORT 3\nBAUDRATE 115200\nDELAY_BETWEEN_CHARS 0\n"
                   "STARTUP_SCRIPT \"x.scr\"\n");
        mkdir(home.File("scripts").c_str(), 0755);
        home.Write("scripts/x.scr", "SEND -n ready\n" + cmd +
                                        "\nECHO RESULT=$XSTATE/$SCR_TIMEOUT\n"
                                        // Stay until the test has seen the peer finish: closing the
                                        // port would drop the last answer still on its way.
                                        "RECV -t 30 bye\nEXIT OXEL\n");
        cli = std::make_unique<Proc>(CliPath(), std::vector<std::string>{"-d", home.File("trace.txt"), "-D", "COMDEV_3=" + board.path,
                                                                          home.File("board.ct")},
                                     std::vector<std::string>{"OXEL_HOME=" + home.path()});
        ASSERT_TRUE(board.Expect("ready\r", 30000, true));
    }
    std::string Result() {
        cli->WaitOutput("RESULT=", 60000);
        for (int i = 0; i < 50 && cli->Wait(200) == -1; i++) board.Send("bye");
        std::string out = cli->Out();
        size_t at = out.find("RESULT=");
        return at == std::string::npos ? out + cli->Err() : out.substr(at + 7, out.find('\r', at) - at - 7);
    }
};

struct SendCase {
    const char* op;      // XMODEM operation
    const char* rxOpt;   // rx's checksum option
    size_t size;
    size_t packet;
};

class XmodemSendTest : public testing::TestWithParam<SendCase> {};

TEST_P(XmodemSendTest, RxGetsThePaddedFile) {
    const SendCase& c = GetParam();
    Session s;
    ASSERT_FALSE(s.board.path.empty());
    std::string data = RandomBytes(c.size, static_cast<unsigned>(c.size));
    s.home.Write("out.bin", data);
    // As with a real target: the command Oxel types starts the far side.
    s.Start(std::string("XMODEM -n ") + c.op + " go " + s.home.File("out.bin"));
    ASSERT_TRUE(s.board.Expect("go\r", 30000, true));
    std::vector<std::string> argv = {"rx", "-q"};
    if (*c.rxOpt) argv.push_back(c.rxOpt);
    argv.push_back("got.bin");
    Peer rx(s.board, s.home.path(), argv);
    EXPECT_EQ(rx.Wait(120000), 0);
    EXPECT_EQ(s.Result(), "IDLE/FALSE");
    EXPECT_EQ(s.home.Read("got.bin"), Padded(data, c.packet));
    if (HasFailure()) std::cerr << s.home.Read("trace.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, XmodemSendTest,
    testing::Values(SendCase{"send", "-c", 1, 128}, SendCase{"send", "", 128, 128}, SendCase{"send", "-c", 130, 128},
                    SendCase{"send1k", "-c", 1024, 1024}, SendCase{"send1k", "", 1025, 1024},
                    // 300 packets: the sequence number wraps past 255.
                    SendCase{"send", "-c", 300 * 128 + 5, 128}, SendCase{"send1k", "-c", 1 << 20, 1024}));

TEST(XmodemSend, EmptyFileIsRefused) {
    Session s;
    ASSERT_FALSE(s.board.path.empty());
    s.home.Write("empty.bin", "");
    s.Start("XMODEM -n send " + s.home.File("empty.bin"));
    EXPECT_EQ(s.Result(), "FAIL/FALSE");
    EXPECT_NE(s.cli->Err().find("file is empty"), std::string::npos) << s.cli->Err();
}

struct RecvCase {
    const char* op;
    const char* sxOpt;   // "-k" for 1K packets
    size_t size;
    bool giveSize;       // -s with the real size
};

class XmodemRecvTest : public testing::TestWithParam<RecvCase> {};

TEST_P(XmodemRecvTest, FileFromSx) {
    const RecvCase& c = GetParam();
    Session s;
    ASSERT_FALSE(s.board.path.empty());
    std::string data = RandomBytes(c.size, static_cast<unsigned>(c.size) + 7);
    s.home.Write("src.bin", data);
    std::string opts = c.giveSize ? "-s " + std::to_string(c.size) + " " : "";
    s.Start("XMODEM -n " + opts + c.op + " go " + s.home.File("in.bin"));
    ASSERT_TRUE(s.board.Expect("go\r", 30000, true));
    std::vector<std::string> argv = {"sx", "-q"};
    if (*c.sxOpt) argv.push_back(c.sxOpt);
    argv.push_back("src.bin");
    Peer sx(s.board, s.home.path(), argv);
    EXPECT_EQ(sx.Wait(120000), 0);
    EXPECT_EQ(s.Result(), "IDLE/FALSE");
    size_t packet = *c.sxOpt && c.size >= 1024 ? 1024 : 128;
    std::string want = c.giveSize ? data : Padded(data, packet);
    std::string got = s.home.Read("in.bin");
    if (testing::Test::HasFailure()) std::cerr << s.home.Read("trace.txt");
    if (!c.giveSize && *c.sxOpt) {
        // sx may end a 1K transfer with 128-byte packets: padding up to 128.
        EXPECT_EQ(got.substr(0, data.size()), data);
        EXPECT_EQ(got.size() % 128, 0u);
    } else {
        EXPECT_EQ(got, want);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, XmodemRecvTest,
                         testing::Values(RecvCase{"recvcrc", "", 0, false}, RecvCase{"recv", "", 1, false},
                                         RecvCase{"recvcrc", "", 128, true}, RecvCase{"recvcrc", "", 130, false},
                                         RecvCase{"recv", "", 130, true}, RecvCase{"recvcrc", "-k", 1024, true},
                                         RecvCase{"recvcrc", "-k", 1025, true},
                                         RecvCase{"recvcrc", "", 300 * 128, false},
                                         RecvCase{"recvcrc", "-k", 1 << 20, true}));

TEST(YmodemSend, RbGetsNameAndExactSize) {
    for (size_t size : {size_t{1}, size_t{1025}, size_t{1} << 20}) {
        Session s;
        ASSERT_FALSE(s.board.path.empty());
        std::string data = RandomBytes(size, static_cast<unsigned>(size) + 3);
        s.home.Write("image.bin", data);
        mkdir(s.home.File("rb").c_str(), 0755);
        s.Start("XMODEM -n -y send1k go " + s.home.File("image.bin"));
        ASSERT_TRUE(s.board.Expect("go\r", 30000, true));
        Peer rb(s.board, s.home.File("rb"), {"rb", "-q"});
        EXPECT_EQ(rb.Wait(120000), 0) << size;
        EXPECT_EQ(s.Result(), "IDLE/FALSE") << size;
        EXPECT_EQ(s.home.Read("rb/image.bin"), data) << size;
        if (HasFailure()) std::cerr << s.home.Read("trace.txt");
    }
}

// ---- Faults, from a scripted board ----

// A receiver asks with 'C' until the packet starts coming.
std::string AskForPacket(PtyBoard& board, size_t len) {
    std::string got;
    for (int i = 0; i < 100 && got.empty(); i++) {
        board.Send("C");
        got = board.Receive(1, 200);
    }
    return got + board.Receive(len - got.size(), 10000);
}

std::string Packet128(uint8_t seq, char fill) {
    std::string data(128, fill);
    std::string p = {'\x01', static_cast<char>(seq), static_cast<char>(~seq)};
    p += data;
    // CRC-16/XMODEM, as a peer computes it.
    uint16_t crc = 0;
    for (unsigned char c : data) {
        crc ^= static_cast<uint16_t>(c << 8);
        for (int k = 0; k < 8; k++) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    p += static_cast<char>(crc >> 8);
    p += static_cast<char>(crc & 0xFF);
    return p;
}

struct FaultCase {
    const char* name;
    const char* command;   // the XMODEM command line (FILE appended)
    void (*board)(PtyBoard&);
    const char* result;    // XSTATE/SCR_TIMEOUT
    const char* trace;     // a line the trace must hold
};

const FaultCase kFaults[] = {
    {"NakResendsTheSamePacket", "XMODEM -n send",
     [](PtyBoard& b) {
         std::string first = AskForPacket(b, 133);
         b.Send("\x15");
         EXPECT_EQ(b.Receive(133), first);
         b.Send("\x06");
         EXPECT_EQ(b.Receive(1), "\x04");
         b.Send("\x06");
     },
     "IDLE/FALSE", "Rcv'd NAK from target."},
    {"RepeatedCBeforeTheFirstAckResends", "XMODEM -n send",
     [](PtyBoard& b) {
         std::string first = AskForPacket(b, 133);
         b.Send("C");
         EXPECT_EQ(b.Receive(133), first);
         b.Send("\x06");
         EXPECT_EQ(b.Receive(1), "\x04");
         b.Send("\x06");
     },
     "IDLE/FALSE", "Rcv'd 'C' again from target."},
    {"PromptAfterTheTransfer", "XMODEM -p \"board> \" -t 20 send",
     [](PtyBoard& b) {
         AskForPacket(b, 133);
         b.Send("\x06");
         EXPECT_EQ(b.Receive(1), "\x04");
         b.Send("\x06\r\nboard> ");
     },
     "IDLE/FALSE", "Prompt received"},
    {"NoPromptTimesOut", "XMODEM -p \"board> \" -t 1 send",
     [](PtyBoard& b) {
         AskForPacket(b, 133);
         b.Send("\x06");
         EXPECT_EQ(b.Receive(1), "\x04");
         b.Send("\x06\r\nbusy\r\n");
     },
     "IDLE/TRUE", "Timeout waiting for prompt"},
    {"CanEndsTheTransfer", "XMODEM -n send",
     [](PtyBoard& b) {
         AskForPacket(b, 133);
         b.Send("\x18");
     },
     "FAIL/FALSE", "Rcv'd CAN from target."},
    {"RetryLimitOnSilence", "XMODEM -n -r 2 send",
     [](PtyBoard& b) { AskForPacket(b, 133); },
     "FAIL/TRUE", "XsendFile retry MAX reached (pkt0)"},
    {"SilentTarget", "XMODEM -n send", [](PtyBoard&) {}, "FAIL/TRUE", "Timeout waiting for NAK/C"},
};

class XmodemFaultTest : public testing::TestWithParam<FaultCase> {};

TEST_P(XmodemFaultTest, EndsAsExpected) {
    const FaultCase& c = GetParam();
    Session s;
    ASSERT_FALSE(s.board.path.empty());
    s.home.Write("out.bin", std::string(100, 'x'));
    s.Start(std::string(c.command) + " " + s.home.File("out.bin"));
    c.board(s.board);
    EXPECT_EQ(s.Result(), c.result);
    std::string trace = s.home.Read("trace.txt") + s.cli->Out();
    EXPECT_NE(trace.find(c.trace), std::string::npos) << trace;
}

INSTANTIATE_TEST_SUITE_P(Board, XmodemFaultTest, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

TEST(Fsend, FileGoesOutRawAndAMissingFileStopsTheScript) {
    Session s;
    ASSERT_FALSE(s.board.path.empty());
    std::string data = RandomBytes(1025, 5);
    s.home.Write("raw.bin", data);
    s.Start("FSEND " + s.home.File("raw.bin") + "\nFSEND -d /nonexistent/raw.bin\nECHO UNREACHED");
    std::string got = s.board.got;
    EXPECT_EQ(got + s.board.Receive(1025 - got.size()), data);
    ASSERT_TRUE(s.cli->WaitError("file open failure", 30000)) << s.cli->Err();
    EXPECT_EQ(s.cli->Out().find("UNREACHED"), std::string::npos);
}

TEST(XmodemRecvFaults, DuplicatePacketDoesNotGrowTheFile) {
    Session s;
    ASSERT_FALSE(s.board.path.empty());
    s.Start("XMODEM -n recvcrc " + s.home.File("in.bin"));
    ASSERT_TRUE(s.board.Expect("C", 15000, true));
    for (const auto& p : {Packet128(1, 'a'), Packet128(1, 'b'), Packet128(2, 'c')}) {
        s.board.Send(p);
        ASSERT_TRUE(s.board.Expect("\x06", 10000, true));
    }
    s.board.Send("\x04");
    EXPECT_EQ(s.Result(), "IDLE/FALSE");
    EXPECT_EQ(s.home.Read("in.bin"), std::string(128, 'b') + std::string(128, 'c'));
    EXPECT_NE(s.home.Read("trace.txt").find("Packet (1) retransmission."), std::string::npos);
}

TEST(XmodemRecvFaults, ExpectedSizeBeyondWhatCameWritesWhatCame) {
    Session s;
    ASSERT_FALSE(s.board.path.empty());
    s.Start("XMODEM -n -s 100000 recvcrc " + s.home.File("in.bin"));
    ASSERT_TRUE(s.board.Expect("C", 15000, true));
    s.board.Send(Packet128(1, 'e'));
    ASSERT_TRUE(s.board.Expect("\x06", 10000, true));
    s.board.Send("\x04");
    EXPECT_EQ(s.Result(), "IDLE/FALSE");
    EXPECT_EQ(s.home.Read("in.bin"), std::string(128, 'e'));
}

TEST(XmodemRecvFaults, BadCrcIsNakedAndFails) {
    Session s;
    ASSERT_FALSE(s.board.path.empty());
    s.Start("XMODEM -n recvcrc " + s.home.File("in.bin"));
    ASSERT_TRUE(s.board.Expect("C", 15000, true));
    std::string p = Packet128(1, 'a');
    p.back() ^= 1;
    s.board.Send(p);
    EXPECT_TRUE(s.board.Expect("\x15", 10000));
    EXPECT_EQ(s.Result(), "FAIL/FALSE");
    EXPECT_NE(s.cli->Err().find("Packet 1 CRC failure"), std::string::npos) << s.cli->Err();
    EXPECT_EQ(s.home.Read("in.bin"), "");
}

}  // namespace
