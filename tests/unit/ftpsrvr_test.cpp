// The FTP server in process on 127.0.0.1, driven by curl and by a raw
// control connection; and its pure parts (command lines, PORT, paths).
#include "servers/ftpsrvr.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/wiring.h"
#include "config/configrecord.h"
#include "config/shellvar.h"
#include "console/screenbuf.h"
#include "fake_ui.h"
#include "log/srvrtrace.h"
#include "loopback_peer.h"
#include "platform/net.h"
#include "proc.h"
#include "servers/ftp_proto.h"
#include "servers/tftpsrvr.h"

namespace {

TEST(FtpProtoTest, CommandsPortsAndPaths) {
    EXPECT_EQ(FtpParseCommand("retr a b").verb, "RETR");
    EXPECT_EQ(FtpParseCommand("retr a b").arg, "a b");
    EXPECT_EQ(FtpParseCommand("pwd").verb, "PWD");
    EXPECT_EQ(FtpParseCommand("xyzzy 1").verb, "XYZZ");
    auto hp = FtpParsePort("127,0,0,1,4,1");
    ASSERT_TRUE(hp);
    EXPECT_EQ(hp->port, 1025);
    EXPECT_EQ(hp->addr, htonl(INADDR_LOOPBACK));
    for (const char* bad : {"127,0,0,1,4", "127,0,0,1,4,256", "1,2,3,4,5,6,7", "a,b,c,d,e,f", ""})
        EXPECT_FALSE(FtpParsePort(bad)) << bad;
    const struct {
        std::string cwd, name;
        bool relOnly;
        std::optional<std::string> path;
    } cases[] = {
        {"/srv/ftp", "a.txt", true, "/srv/ftp/a.txt"},
        {"/srv/ftp/sub", "..", true, "/srv/ftp"},
        {"/srv/ftp", "..", true, std::nullopt},
        {"/srv/ftp", "../ftp2/x", true, std::nullopt},
        {"/srv/ftp/sub", "../../etc/passwd", true, std::nullopt},
        {"/srv/ftp", "/etc/passwd", true, "/srv/ftp/etc/passwd"},
        {"/srv/ftp", "/../x", true, std::nullopt},
        {"/srv/ftp", "sub\\..\\b", true, "/srv/ftp/b"},
        {"/srv/ftp", "./a/./b", true, "/srv/ftp/a/b"},
        {"/srv/ftp", "", true, "/srv/ftp"},
        {"/srv/ftp", "a\nb", true, std::nullopt},
        {"/srv/ftp", "/etc/passwd", false, "/etc/passwd"},
        {"/srv/ftp", "../x", false, std::nullopt},
        {"/etc", "..", false, std::nullopt},   // moved out by an absolute name: no climbing from there
    };
    for (const auto& c : cases)
        EXPECT_EQ(FtpResolve("/srv/ftp", c.cwd, c.name, c.relOnly), c.path) << c.cwd << " " << c.name;
    EXPECT_EQ(FtpShownDir("/srv/ftp", "/srv/ftp"), "/");
    EXPECT_EQ(FtpShownDir("/srv/ftp", "/srv/ftp/sub"), "/sub");
    EXPECT_EQ(FtpShownDir("/srv/ftp", "/srv/ftp2"), "/srv/ftp2");
    EXPECT_EQ(FtpReplyText(999), nullptr);
}

class FtpServer : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        AppWireHooks();
        g_cfg.TRACEFLAGS = 0xFFFF;
        g_cfg.TRACE_TSTAMP_ENABLE = 0;
        SetFrameInitialised(true);
        TraceClear();
        dir.Write("hello.txt", "hello ftp\r\n");
        CFG_SET_STRING(g_cfg.FTP_START_DIR, dir.path().c_str());
        g_cfg.FTP_RELATIVE_ONLY = 1;
        shell_setenv("FTPSRVR_PORT", "0");
    }
    void TearDown() override {
        FtpsrvrStop();
        shell_unsetenv("FTPSRVR_PORT");
        shell_unsetenv("FTPSRVR_MAX_STORE");
        SetFrameInitialised(false);
    }
    void Start() {
        int fd = NetListenTcp(0, true);
        port = NetLocalPort(fd);
        NetClose(fd);
        shell_setenv("FTPSRVR_PORT", std::to_string(port).c_str());
        g_cfg.FTPSRVR_ENABLED = 1;
        ASSERT_EQ(FtpsrvrStart(), 1);
    }
    std::string Url(const std::string& path) { return "ftp://127.0.0.1:" + std::to_string(port) + "/" + path; }
    ProcResult Curl(std::vector<std::string> args) {
        args.insert(args.begin(), {"-s", "-S", "--max-time", "20"});
        return RunProgram("/usr/bin/curl", args, {}, "", 30000);
    }
    // A raw control connection from the given local address.
    int Control(const char* from = "127.0.0.1") {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local = NetAddress(in_addr{inet_addr(from)}, 0);
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in to = NetAddress(in_addr{htonl(INADDR_LOOPBACK)}, port);
        if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) ADD_FAILURE() << "connect";
        return fd;
    }
    // Sends a command (none when empty) and returns the reply line.
    std::string Ask(int fd, const std::string& cmd) {
        if (!cmd.empty()) NetSendAll(fd, (cmd + "\r\n").data(), cmd.size() + 2);
        std::string line;
        char c;
        while (NetWaitReadable(fd, 10000) == 1 && recv(fd, &c, 1, 0) == 1) {
            line += c;
            if (c == '\n') break;
        }
        return line;
    }
    int Login(const char* from = "127.0.0.1") {
        int fd = Control(from);
        EXPECT_EQ(Ask(fd, ""), "220 FTP server ready.\r\n");
        EXPECT_EQ(Ask(fd, "USER anonymous"), "331 Password required.\r\n");
        EXPECT_EQ(Ask(fd, "PASS x@y"), "230 User logged in.\r\n");
        return fd;
    }
    FakeUi ui;
    TempDir dir;
    uint16_t port = 0;
};

TEST_F(FtpServer, CurlGetsPutsListsAndDeletesPassiveAndActive) {
    Start();
    ProcResult r = Curl({Url("hello.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "hello ftp\r\n");   // image type: unchanged
    r = Curl({"--ftp-port", "127.0.0.1", Url("hello.txt")});
    EXPECT_EQ(r.out, "hello ftp\r\n") << r.err;
    dir.Write("up.src", std::string(100000, 'u') + "\r\nend\r\n");
    r = Curl({"-T", dir.File("up.src"), Url("up.bin")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.Read("up.bin"), dir.Read("up.src"));
    r = Curl({"--use-ascii", "-T", dir.File("up.src"), Url("up.txt")});
    EXPECT_EQ(dir.Read("up.txt"), std::string(100000, 'u') + "\nend\n");
    r = Curl({Url("")});
    EXPECT_NE(r.out.find("hello.txt\n"), std::string::npos) << r.out << r.err;
    r = Curl({"-l", Url("")});
    EXPECT_NE(r.out.find("up.bin\n"), std::string::npos) << r.out;
    r = Curl({"-Q", "DELE up.bin", Url("")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(access(dir.File("up.bin").c_str(), F_OK), 0);
    EXPECT_NE(TraceText().find("FTP: reply: 226 Transaction succeeded"), std::string::npos);
}

TEST_F(FtpServer, PasswordsAnonymousAndTheWrongPasswordDelay) {
    CFG_SET_STRING(g_cfg.FTP_PASSWORD, "secret");
    Start();
    EXPECT_EQ(Curl({"-u", "bob:secret", Url("hello.txt")}).out, "hello ftp\r\n");
    EXPECT_EQ(Curl({Url("hello.txt")}).out, "hello ftp\r\n");   // anonymous, any password
    int fd = Control();
    Ask(fd, "");
    EXPECT_EQ(Ask(fd, "PWD"), "530 Not logged in.\r\n");
    Ask(fd, "USER bob");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Ask(fd, "PASS wrong"), "530 Not logged in.\r\n");
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2900));
    EXPECT_EQ(Ask(fd, "QUIT"), "221 Goodbye.\r\n");
    close(fd);
}

TEST_F(FtpServer, PathsStayInsideAndPortCannotBounce) {
    mkdir(dir.File("sub").c_str(), 0755);
    Start();
    int fd = Login();
    EXPECT_EQ(Ask(fd, "PWD"), "257 \"/\" is current directory.\r\n");
    EXPECT_EQ(Ask(fd, "CWD .."), "550 ..: no such file or directory\r\n");
    EXPECT_EQ(Ask(fd, "CWD /etc"), "550 /etc: no such file or directory\r\n");
    EXPECT_EQ(Ask(fd, "CWD hello.txt"), "550 hello.txt: not a directory\r\n");
    EXPECT_EQ(Ask(fd, "CWD sub"), "250 Requested file action ok, completed.\r\n");
    EXPECT_EQ(Ask(fd, "PWD"), "257 \"/sub\" is current directory.\r\n");
    EXPECT_EQ(Ask(fd, "RETR ../../etc/passwd"), "550 File not found.\r\n");
    EXPECT_EQ(Ask(fd, "DELE ../hello.txt"), "250 Requested file action ok, completed.\r\n");
    EXPECT_EQ(Ask(fd, "DELE ../../hello.txt"), "550 File not found.\r\n");
    EXPECT_EQ(Ask(fd, "PORT 127,0,0,2,4,1"), "504 PORT must name your own address and a port above 1023.\r\n");
    EXPECT_EQ(Ask(fd, "PORT 127,0,0,1,0,25"), "504 PORT must name your own address and a port above 1023.\r\n");
    EXPECT_EQ(Ask(fd, "PORT 127,0,0,1"), "501 Syntax error in parameter or argument.\r\n");
    EXPECT_EQ(Ask(fd, "TYPE E"), "504 Command not implemented for parameter.\r\n");
    EXPECT_EQ(Ask(fd, "MODE S"), "200 Okay.\r\n");
    EXPECT_EQ(Ask(fd, "STRU X"), "501 Syntax error in parameter or argument.\r\n");
    EXPECT_EQ(Ask(fd, "SYST"), "215 UNIX Type: L8.\r\n");
    EXPECT_EQ(Ask(fd, "FEAT"), "502 Command not implemented.\r\n");
    // A second client host is refused while this session is open.
    int other = Control("127.0.0.2");
    EXPECT_EQ(Ask(other, ""), "421 Server busy, try later.\r\n");
    close(other);
    // The same host may open a second session.
    int again = Control();
    EXPECT_EQ(Ask(again, ""), "220 FTP server ready.\r\n");
    close(again);
    close(fd);
}

TEST_F(FtpServer, StoreCeilingLeavesNoFileAndStopEndsSessions) {
    shell_setenv("FTPSRVR_MAX_STORE", "1000");
    Start();
    dir.Write("big.src", std::string(50000, 'b'));
    ProcResult r = Curl({"-T", dir.File("big.src"), Url("big.bin")});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("452"), std::string::npos) << r.err;
    EXPECT_NE(access(dir.File("big.bin").c_str(), F_OK), 0);
    int fd = Login();
    const auto t0 = std::chrono::steady_clock::now();
    FtpsrvrStop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_FALSE(FtpsrvrRunning());
    EXPECT_EQ(Ask(fd, ""), "");   // the session was closed
    close(fd);
}

// The forwarded file reaches a TFTP server on port 69 (this program's own,
// so the test needs root) and no copy stays behind.
TEST_F(FtpServer, StoreToTftpNameForwardsTheFile) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a TFTP server on port 69";
    mkdir(dir.File("tftp").c_str(), 0755);
    g_cfg.TFTPSRVR_ENABLED = 1;
    CFG_SET_STRING(g_cfg.TFTP_START_DIR, dir.File("tftp").c_str());
    if (TftpSrvrStart() != 1) GTEST_SKIP() << "port 69 is taken";
    g_cfg.FTP_RELATIVE_ONLY = 0;
    Start();
    dir.Write("img.src", std::string(3000, 'i'));
    ProcResult r = Curl({"-T", dir.File("img.src"), Url("TFTP:127.0.0.1:img.bin")});
    TftpSrvrStop();
    EXPECT_EQ(r.status, 0) << r.err << TraceText();
    EXPECT_EQ(dir.Read("tftp/img.bin"), std::string(3000, 'i'));
    EXPECT_NE(TraceText().find("FTP/TFTP proxy. Sending img.bin to 127.0.0.1"), std::string::npos);
    ProcResult left = RunProgram("/bin/sh", {"-c", "ls /tmp/oxel-ftp-" + std::to_string(getpid()) + "-* 2>/dev/null"});
    EXPECT_EQ(left.out, "");
}

// The classic command-line client: login, then in active mode a listing,
// a get and a put.
TEST_F(FtpServer, FtpClientSession) {
    CFG_SET_STRING(g_cfg.FTP_PASSWORD, "pw");
    Start();
    const std::string script = "user bob pw\npassive\npwd\nls\nget hello.txt " + dir.File("got.txt") +
                               "\nput " + dir.File("hello.txt") + " copy.txt\nquit\n";
    ProcResult r = RunProgram("/bin/sh", {"-c", "printf '" + script + "' | /usr/bin/ftp -n 127.0.0.1 " + std::to_string(port)},
                   {}, "", 30000);
    EXPECT_NE(r.out.find("Passive mode: off"), std::string::npos) << r.out << r.err;   // active from here on
    EXPECT_NE(r.out.find("Remote directory: /\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("hello.txt"), std::string::npos) << r.out;
    EXPECT_EQ(dir.Read("got.txt"), "hello ftp\r\n");
    EXPECT_EQ(dir.Read("copy.txt"), "hello ftp\r\n");
}

}  // namespace
