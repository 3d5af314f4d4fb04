// The live controls of oxel-cli: the test is the terminal (a pseudo-terminal
// around the program) and a second pseudo-terminal is the board.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "proc.h"
#include "pty_board.h"

namespace {

// oxel-cli on a terminal of its own.
class Terminal {
public:
    Terminal(const std::vector<std::string>& args, const std::string& home) {
        winsize ws{};
        ws.ws_row = 30;
        ws.ws_col = 100;
        pid_ = forkpty(&master_, nullptr, nullptr, &ws);
        if (pid_ == 0) {
            setenv("OXEL_HOME", home.c_str(), 1);
            static std::string program = CliPath();
            std::vector<char*> argv{program.data()};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Terminal() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }
    void Type(const std::string& keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }
    // Waits for needle (without CRs) in what the program wrote since the
    // last Expect.
    bool Expect(const std::string& needle, int ms = 15000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            size_t at = out_.find(needle);
            if (at != std::string::npos) {
                seen_ += out_.substr(0, at + needle.size());
                out_.erase(0, at + needle.size());
                return true;
            }
            if (std::chrono::steady_clock::now() > end) return false;
            pollfd pf{master_, POLLIN, 0};
            char buf[4096];
            if (poll(&pf, 1, 50) > 0) {
                ssize_t r = read(master_, buf, sizeof buf);
                // The terminal turns each LF into CR LF: compare without CRs.
                for (ssize_t i = 0; i < r; ++i)
                    if (buf[i] != '\r') out_ += buf[i];
            }
        }
    }
    // Waits for needle anywhere in the output so far, in any order with
    // what other Expects consumed (a script's output races its confirmation).
    bool Shown(const std::string& needle, int ms = 15000) {
        for (int waited = 0; waited < ms; waited += 50) {
            if ((seen_ + out_).find(needle) != std::string::npos) return true;
            Expect("\x01never", 50);
        }
        return (seen_ + out_).find(needle) != std::string::npos;
    }
    int WaitExit(int ms) {
        for (int i = 0; i < ms / 50; ++i) {
            int status = 0;
            Expect("\x01never", 50);
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return -1;
    }
    const std::string& Pending() const { return out_; }

private:
    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string out_, seen_;
};

struct Session {
    TempDir home;
    PtyBoard board;
    std::unique_ptr<Terminal> term;
    explicit Session(const std::string& defcfg = "") {
        if (!defcfg.empty()) home.Write("defcfg.ct", "########\n" + defcfg);
        term = std::make_unique<Terminal>(std::vector<std::string>{board.path}, home.path());
        EXPECT_TRUE(term->Expect("(Ctrl-] ? for help)\n", 20000)) << term->Pending();
    }
    // A control and its one-line confirmation.
    bool Control(const std::string& keys, const std::string& confirmation) {
        term->Type("\x1d" + keys);
        return term->Expect("[oxel] " + confirmation + "\n");
    }
};

TEST(CliControls, HelpListsEveryControl) {
    Session s;
    s.term->Type("\x1d?");
    ASSERT_TRUE(s.term->Expect("F1-F12 run the function keys.\n")) << s.term->Pending();
    s.term->Type("\x1dq");
    EXPECT_EQ(s.term->WaitExit(15000), 0);
}

TEST(CliControls, BaudRateUpDownAndTypedReachTheLine) {
    Session s;
    ASSERT_EQ(s.board.LineRate(), 115200u);
    ASSERT_TRUE(s.Control("-", "Baud rate 57600")) << s.term->Pending();
    EXPECT_EQ(s.board.LineRate(), 57600u);
    ASSERT_TRUE(s.Control("+", "Baud rate 115200")) << s.term->Pending();
    EXPECT_EQ(s.board.LineRate(), 115200u);
    s.term->Type("\x1d" "B9600\r");
    ASSERT_TRUE(s.term->Expect("[oxel] Baud rate 9600\n")) << s.term->Pending();
    EXPECT_EQ(s.board.LineRate(), 9600u);
    s.term->Type("\x1d" "Bfast\r");
    ASSERT_TRUE(s.term->Expect("[oxel] Baud rate unchanged: not a rate\n")) << s.term->Pending();
    EXPECT_EQ(s.board.LineRate(), 9600u);
}

TEST(CliControls, HexViewShowsTheBoardsBytesInHex) {
    Session s;
    ASSERT_TRUE(s.Control("h", "Hex view all bytes")) << s.term->Pending();
    s.board.Send("AZ");
    EXPECT_TRUE(s.term->Expect("415a")) << s.term->Pending();
    ASSERT_TRUE(s.Control("h", "Hex view all but CR and LF"));
    ASSERT_TRUE(s.Control("h", "Hex view non-printables only"));
    ASSERT_TRUE(s.Control("h", "Hex view off"));
    s.board.Send("plain\n");
    EXPECT_TRUE(s.term->Expect("plain\n")) << s.term->Pending();
}

TEST(CliControls, LoggingTimeStampsBreakClearAndTheWrongKey) {
    TempDir logs;
    const std::string log = logs.File("board.log");
    logs.Write("board.log", "");
    Session s("LOGGING_FILENAME \"" + log + "\"\nLOGGING_NOWARNING TRUE\n");
    ASSERT_TRUE(s.Control("l", "Logging on: " + log)) << s.term->Pending();
    s.board.Send("into the log\n");
    ASSERT_TRUE(s.term->Expect("into the log\n"));
    ASSERT_TRUE(s.Control("l", "Logging off")) << s.term->Pending();
    EXPECT_NE(logs.Read("board.log").find("into the log"), std::string::npos);
    ASSERT_TRUE(s.Control("t", "Time stamps on")) << s.term->Pending();
    ASSERT_TRUE(s.Control("t", "Time stamps off")) << s.term->Pending();
    ASSERT_TRUE(s.Control("b", "Break sent")) << s.term->Pending();
    ASSERT_TRUE(s.Control("c", "Screen cleared")) << s.term->Pending();
    ASSERT_TRUE(s.Control("x", "Unknown control; Ctrl-] ? lists them")) << s.term->Pending();
    // Typing still reaches the board after the controls.
    s.term->Type("ok\r");
    EXPECT_TRUE(s.board.Expect("ok\r")) << s.board.got;
}

TEST(CliControls, RunAndHaltAScriptAndPressAButton) {
    Session s;
    s.home.Write("wait.scr", "ECHO waiting\nRECV -t 60 \"never\"\nECHO not reached\n");
    s.term->Type("\x1d" "r" + s.home.File("wait.scr") + "\r");
    ASSERT_TRUE(s.term->Expect("[oxel] Script " + s.home.File("wait.scr") + " started\n")) << s.term->Pending();
    ASSERT_TRUE(s.term->Shown("waiting\n")) << s.term->Pending();
    ASSERT_TRUE(s.Control("s", "Script halted")) << s.term->Pending();
    // The halted level ends on the script thread a moment later.
    bool idle = false;
    for (int i = 0; i < 50 && !idle; ++i) {
        s.term->Type("\x1ds");
        idle = s.term->Expect("[oxel] No script running\n", 200);
    }
    ASSERT_TRUE(idle) << s.term->Pending();
    s.term->Type("\x1d" "3\r");
    EXPECT_TRUE(s.term->Expect("[oxel] Button 3 pressed\n")) << s.term->Pending();
    s.term->Type("\x1d" "17\r");
    EXPECT_TRUE(s.term->Expect("[oxel] No button 17\n")) << s.term->Pending();
    s.term->Type("\x1dq");
    EXPECT_EQ(s.term->WaitExit(15000), 0);
    EXPECT_EQ(s.term->Pending().find("not reached"), std::string::npos);
}

// The host terminal's function keys (xterm and Linux console forms) run the
// function-key press: the key's text reaches the board.
TEST(CliControls, HostFunctionKeysSendTheirText) {
    Session s("FKEY_2 \"status\\r\"\nFKEY_12 \"reboot\\r\"\n");
    s.term->Type("\x1bOQ");
    EXPECT_TRUE(s.board.Expect("status\r", 15000, true)) << s.board.got;
    s.term->Type("\x1b[24~");
    EXPECT_TRUE(s.board.Expect("reboot\r", 15000, true)) << s.board.got;
    // An arrow key is no function key: it goes to the board as typed.
    s.term->Type("\x1b[A");
    EXPECT_TRUE(s.board.Expect("\x1b[A", 15000)) << s.board.got;
}

}  // namespace
