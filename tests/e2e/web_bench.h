// oxel-cli on a pseudo-terminal board with the HTTP and WebSocket servers
// on loopback ports, for the web servers' e2e tests and benchmarks.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/net.h"
#include "proc.h"
#include "pty_board.h"

inline uint16_t FreeLoopbackPort() {
    int fd = NetListenTcp(0, true);
    uint16_t port = NetLocalPort(fd);
    NetClose(fd);
    return port;
}

struct WebBench {
    TempDir dir;   // the configuration; dir/http is the server's home
    PtyBoard board;
    uint16_t http = FreeLoopbackPort();
    uint16_t ws = FreeLoopbackPort();
    std::unique_ptr<Proc> cli;

    std::string Home() const { return dir.File("http"); }
    void Page(const std::string& name, const std::string& text) const { dir.Write("http/" + name, text); }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(http) + path; }
    std::string WsUrl() const { return "ws://127.0.0.1:" + std::to_string(ws) + "/"; }

    WebBench() { mkdir(Home().c_str(), 0755); }
    ~WebBench() {
        if (!cli) return;
        cli->Signal(SIGTERM);
        cli->Wait(15000);
    }

    // Starts the program with both servers; extra lines go into the
    // configuration. True once the HTTP server answers.
    bool Start(const std::vector<std::string>& extra = {}) {
        std::string cfg = "########\nBACKEND 1\nCOMPORT 3\nHTTPSRVR_ENABLED TRUE\nHTTPSRVR_PORT " +
                          std::to_string(http) + "\nWEBSOCSRVR_PORT " + std::to_string(ws) + "\nHTTP_START_DIR \"" +
                          Home() + "\"\nTRACEFLAGS 0x1FFF\n";
        for (const std::string& l : extra) cfg += l + "\n";
        dir.Write("web.ct", cfg);
        cli = std::make_unique<Proc>(CliPath(), std::vector<std::string>{"-D", "COMDEV_3=" + board.path, dir.File("web.ct")},
                                     std::vector<std::string>{"OXEL_HOME=" + dir.path()});
        for (int i = 0; i < 100; ++i) {
            if (Curl({"-o", "/dev/null", "-w", "%{http_code}", "--connect-timeout", "1", Url("/")}).out != "000")
                return true;
            poll(nullptr, 0, 100);
        }
        return false;
    }

    // Target output is shown only once start-up has finished: the board
    // repeats a probe until the program shows it.
    bool BoardConnected(const std::string& probe = "board-ready\r\n") {
        for (int i = 0; i < 60; ++i) {
            board.Send(probe);
            if (cli->WaitOutput(probe, 250)) return true;
        }
        return false;
    }

    static ProcResult Curl(std::vector<std::string> args) {
        args.insert(args.begin(), {"-s", "--max-time", "15"});
        return RunProgram("/usr/bin/curl", args, {}, "", 30000);
    }
};

// The WebSocket peer in tests/support.
inline std::string WsClientScript() { return SourceDir() + "/tests/support/ws_client.py"; }
