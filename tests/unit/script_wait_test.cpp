// The target-interaction commands through the runner (docmd) with a
// pseudo-terminal as the COM port: the bytes SEND puts on the wire, and the
// waits of SEND and RECV ended by received data.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "console/screenbuf.h"
#include "app/oxel.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "pty_board.h"
#include "script/scripting.h"
#include "config/shellvar.h"

namespace {

std::string Var(const char* name) { return shell_getenv(name).value_or("<unset>"); }

// The board on COM port 41.
struct Board : PtyBoard {
    Board() { shell_setenv("COMDEV_41", path.c_str()); }
};

struct ScriptWait : ::testing::Test {
    FakeUi ui;
    Board board;
    void SetUp() override {
        InitScripting();
        SetFrameInitialised(true);
        g_cfg.BACKEND = 1;
        g_cfg.COMPORT = 41;
        g_cfg.BAUDRATE = 115200;
        g_cfg.BYTESIZE = 8;
        g_cfg.DELAY_BETWEEN_CHARS = 0;
        ASSERT_EQ(OpenConnection(), 1);
        shell_unsetenv("PROMPT");
        docmd("RECV blkinit 256");
    }
    void TearDown() override { CloseConnection(); }

    // Runs a waiting command on its own thread while `chunk` keeps arriving
    // from the target, the way the received-data path offers it; returns the
    // command's result.
    static int RunFed(const std::string& line, const std::string& chunk) {
        auto cmd = std::async(std::launch::async, [line] { return docmd(line.c_str()); });
        while (cmd.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            if (script_receive(chunk.data(), static_cast<int>(chunk.size()))) script_wake();
        }
        return cmd.get();
    }
};

TEST_F(ScriptWait, SendPutsTheBytesOnTheWire) {
    struct Case {
        const char* line;
        std::string wire;
    } cases[] = {
        {"SEND -n hello", "hello\r"},  // five letters and CR, no wait
        {"SEND -c -n -x 0102", std::string("\x01\x02", 2)},
        {"SEND -n -r -q two", "two\r\n"},
        {"SEND -n -d 1 \"a\\tb\"", "a\tb\r"},
        {"SEND -n", "\r"},
        {"SEND -c -n -x -C CCITT16BE 313233343536373839", "123456789\x29\xb1"},
        {"SEND -c -n -x -C fletcher16le 0102", std::string("\x01\x02\x03\x04", 4)},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(docmd(c.line), 0) << c.line << ": " << ScriptErrorText();
        EXPECT_EQ(board.Receive(c.wire.size()), c.wire) << c.line;
    }
}

TEST_F(ScriptWait, SendErrors) {
    struct Case {
        const char* line;
        int rc;
        const char* text;
    } cases[] = {
        {"SEND hello", -1, "PROMPT shell variable must be set"},
        {"SEND -n -x 123", -2, ""},
        {"SEND -n -x 12g4", -2, ""},
        {"SEND -n -x", -2, ""},
        {"SEND -n -C XOR8 -x 01", -2, ""},
        {"SEND -n one two", -3, ""},
        {"SEND -y x", -2, "Illegal 'SEND' option: y.\n"},
    };
    for (const auto& c : cases) {
        script_error("%s", "");  // docmd leaves clearing the text to its caller
        EXPECT_EQ(docmd(c.line), c.rc) << c.line;
        EXPECT_EQ(ScriptErrorText(), c.text) << c.line;
    }
    EXPECT_EQ(board.Receive(1, 300), "");  // nothing was sent
}

TEST_F(ScriptWait, SendWaitsForThePrompt) {
    shell_setenv("PROMPT", "uMON>");
    EXPECT_EQ(RunFed("SEND -t 20 version", "1.2.3\r\nuMON>"), 0);
    EXPECT_EQ(Var("SCR_TIMEOUT"), "FALSE");
    EXPECT_EQ(RunFed("SEND -p \"a.c\" -t 20 version", "xxabc"), 0);  // -p replaces PROMPT
    EXPECT_EQ(Var("SCR_TIMEOUT"), "FALSE");

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunFed("SEND -t 1 version", "no prompt here\r\n"), 0);
    EXPECT_EQ(Var("SCR_TIMEOUT"), "TRUE");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

TEST_F(ScriptWait, RecvPatterns) {
    struct Case {
        const char* line;
        std::string chunk;
        const char* timeout;
    } cases[] = {
        {"RECV -t 20 a.c", "zzabc", "FALSE"},          // "." matches any character
        {"RECV -t 20 -X 4", "wxyz", "FALSE"},          // any four bytes
        {"RECV -t 20 -x 000d", std::string("a\0\rb", 4), "FALSE"},
        {"RECV -t 1 never", "something else\r\n", "TRUE"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunFed(c.line, c.chunk), 0) << c.line;
        EXPECT_EQ(Var("SCR_TIMEOUT"), c.timeout) << c.line;
    }
}

TEST_F(ScriptWait, RecvCopiesAndRegexPicksTheValue) {
    ASSERT_EQ(RunFed("RECV -c -t 20 \"board> \"", "temp=42.5C\r\nboard> "), 0);
    EXPECT_EQ(Var("SCR_TIMEOUT"), "FALSE");
    std::string block = Var("RECVBLOCK");
    EXPECT_NE(block.find("temp=42.5C\r\nboard> "), std::string::npos) << block;
    EXPECT_EQ(Var("LASTLINE"), "temp=42.5C");

    ASSERT_EQ(docmd("REGEX \"temp=([0-9]+)\\.([0-9])C\" \"$LASTLINE\""), 0) << ScriptErrorText();
    EXPECT_EQ(Var("REGEX"), "3");
    EXPECT_EQ(Var("RM_2"), "42");
    ASSERT_EQ(docmd("STRING length $RM_2"), 0);
    EXPECT_EQ(Var("STRING"), "2");

    // blkcpy formats the whole block.
    ASSERT_EQ(docmd("RECV blkinit 8"), 0);
    script_receive("ab\r\n", 4);
    ASSERT_EQ(docmd("RECV -A blkcpy"), 0);
    EXPECT_EQ(Var("RECVBLOCK"), "abCL");
    EXPECT_EQ(Var("RECVBLKTOT"), "4");
    ASSERT_EQ(docmd("RECV -a blkcpy"), 0);
    EXPECT_EQ(Var("RECVBLOCK"), "61620d0a");
}

TEST_F(ScriptWait, IdleLine) {
    EXPECT_EQ(docmd("RECV idleline 100"), 0);
    EXPECT_EQ(Var("SCR_TIMEOUT"), "FALSE");
    // Data keeps coming faster than the quiet period: the limit ends the wait.
    EXPECT_EQ(RunFed("RECV -t 1 idleline 2000", "."), 0);
    EXPECT_EQ(Var("SCR_TIMEOUT"), "TRUE");
}

}  // namespace

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "backend/comport.h"

namespace {

TEST_F(ScriptWait, ComportAndConnect) {
    ui.Reset();
    ASSERT_EQ(docmd("COMPORT"), 0);
    EXPECT_NE(ui.Console().find("Com port 41 running at 115200 baud\r\n"), std::string::npos) << ui.Console();
    EXPECT_EQ(Var("COMPORT"), "41");
    EXPECT_EQ(Var("BAUDRATE"), "115200");

    ASSERT_EQ(docmd("COMPORT DBC 7"), 0);
    EXPECT_EQ(g_cfg.DELAY_BETWEEN_CHARS, 7);
    g_cfg.DELAY_BETWEEN_CHARS = 0;
    EXPECT_EQ(docmd("COMPORT 57600"), 0) << ScriptErrorText();
    EXPECT_EQ(g_cfg.BAUDRATE, 57600);

    // Reconnect with other settings, then to no port at all.
    ASSERT_EQ(docmd("CONNECT comport 41 9600 7 even 2 none"), 0) << ScriptErrorText();
    EXPECT_EQ(g_cfg.BAUDRATE, 9600);
    EXPECT_EQ(g_cfg.BYTESIZE, 7);
    EXPECT_EQ(g_cfg.PARITY, 2);
    EXPECT_EQ(g_cfg.STOPBITS, 2);
    EXPECT_EQ(Var("COMPORT"), "41");
    ASSERT_EQ(docmd("SEND -n again"), 0);
    EXPECT_EQ(board.Receive(6), "again\r");

    struct Case {
        const char* line;
        int rc;
    } cases[] = {
        {"CONNECT", -3},
        {"CONNECT comport 41", -3},
        {"CONNECT comport 41 9600 9", -2},
        {"CONNECT comport 41 9600 8 STRANGE", -2},
        {"CONNECT comport 41 9600 8 none 3", -2},
        {"CONNECT comport 41 9600 8 none 1 CTS", -2},
        {"CONNECT serial 41 9600", -2},
        {"COMPORT WIGGLE", -2},
        {"COMPORT DBC", -3},
    };
    for (const auto& c : cases) EXPECT_EQ(docmd(c.line), c.rc) << c.line;

    ASSERT_EQ(docmd("CONNECT comport NONE 9600"), 0);
    EXPECT_EQ(Var("COMPORT"), "NONE");
    ui.Reset();
    ASSERT_EQ(docmd("COMPORT"), 0);
    EXPECT_NE(ui.Console().find("Com port disconnected\r\n"), std::string::npos);
    EXPECT_EQ(docmd("CONNECT close"), 0);
}

// A target monitor on the loopback interface: answers one command with a
// text datagram and the closing NUL datagram.
TEST_F(ScriptWait, MoncmdExchange) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    int port = ntohs(a.sin_port);
    std::string asked;
    std::thread monitor([&] {
        char buf[512];
        sockaddr_in from{};
        socklen_t fl = sizeof from;
        pollfd pf{s, POLLIN, 0};
        if (poll(&pf, 1, 10000) <= 0) return;
        ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
        if (n > 0) asked.assign(buf, static_cast<size_t>(n));
        const char reply[] = "uMon 1.2\n";
        sendto(s, reply, sizeof reply - 1, 0, reinterpret_cast<sockaddr*>(&from), fl);
        sendto(s, "", 1, 0, reinterpret_cast<sockaddr*>(&from), fl);
    });
    ui.Reset();
    std::string line = "MONCMD -c -w 10 -p " + std::to_string(port) + " 127.0.0.1 version";
    EXPECT_EQ(docmd(line.c_str()), 0);
    monitor.join();
    close(s);
    EXPECT_EQ(asked, std::string("version\0", 8));
    EXPECT_NE(ui.Console().find("uMon 1.2"), std::string::npos) << ui.Console();
    EXPECT_EQ(docmd("MONCMD 127.0.0.1"), -3);
    EXPECT_EQ(docmd("MONCMD -p 0 127.0.0.1 x"), -2);
}

}  // namespace
