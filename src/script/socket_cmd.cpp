#include "script/socket_cmd.h"

#include <strings.h>
#include <sys/socket.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "console/screenbuf.h"
#include "platform/report.h"
#include "util/utils.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "util/cmdline.h"
#include "script/script_cmds.h"
#include "script/scripting.h"
#include "config/shellvar.h"

#define OXEL_MODULE "socket_cmd"

namespace {

constexpr int kSlots = 4;
constexpr size_t kNameMax = 63;
constexpr size_t kHostMax = 63;
constexpr size_t kReadBlock = 4096;
constexpr size_t kTcpLineMax = 256;
constexpr int kConnectMs = 10000;

struct Slot {
    std::string name;  // empty: free
    bool udp = false;
    sockaddr_in peer{};
    int fd = -1;
};

// The table is shared by the script thread and server threads running
// command lines; a slot is used under the lock only for lookups, and one
// socket is never read by two commands at once in practice (the script owns it).
std::mutex g_mu;
std::array<Slot, kSlots> g_slots;

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// The descriptor and peer of a named slot; false when there is none.
bool Find(const char* name, Slot& out) {
    std::lock_guard l(g_mu);
    for (const auto& s : g_slots)
        if (!s.name.empty() && s.name == name) {
            out = s;
            return true;
        }
    script_error("Socket '%s' not found.", name);
    return false;
}

struct ReadOptions {
    bool hex = false, console = false;
    const char* file = nullptr;
    int waitMs = 5000;
};

int Open(const char* name, int n, char** w) {
    if (n != 4) return -3;
    const char* host = w[1];
    auto port = ParseUnsigned(w[2]);
    bool udp = Is(w[3], "UDP");
    if (!udp && !Is(w[3], "TCP")) return -2;
    if (!port || *port == 0 || *port > 65535 || std::strlen(host) > kHostMax || !name ||
        std::strlen(name) > kNameMax || !*name)
        return -2;
    in_addr addr{};
    if (!NetResolveIPv4(host, &addr)) {
        script_error("gethostbyname failed");
        return -1;
    }
    Slot s;
    s.name = name;
    s.udp = udp;
    s.peer = NetAddress(addr, static_cast<uint16_t>(*port));
    {
        std::lock_guard l(g_mu);
        bool free = false;
        for (const auto& t : g_slots) free |= t.name.empty();
        if (!free) {
            script_error("No available soctbl slots.");
            return -1;
        }
    }
    s.fd = udp ? NetUdpSocket() : NetConnectTcp(s.peer, kConnectMs, ScriptHaltFlag());
    if (s.fd < 0) {
        script_error(udp ? "socket failed\n" : "connect failed\n");
        return -1;
    }
    std::lock_guard l(g_mu);
    for (auto& t : g_slots)
        if (t.name.empty()) {
            t = s;
            return 0;
        }
    NetClose(s.fd);
    script_error("No available soctbl slots.");
    return -1;
}

int Write(const Slot& s, const char* text) {
    size_t len = std::strlen(text);
    if (!s.udp) {
        if (NetSendAll(s.fd, text, len) < 0) {
            script_error("send failed\n");
            return -1;
        }
        return 0;
    }
    ssize_t n = sendto(s.fd, text, len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&s.peer), sizeof s.peer);
    if (n != static_cast<ssize_t>(len)) {
        script_error("sendto failed\n");
        return -1;
    }
    return 0;
}

// Appends (READ: truncates first) bytes to the -f file; false on failure.
bool SaveTo(const char* file, const std::string& data, bool append) {
    FILE* f = std::fopen(file, append ? "ab" : "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

int Read(const Slot& s, const ReadOptions& o) {
    int ready = NetWaitReadable(s.fd, o.waitMs);
    if (ready < 0) {
        script_error("SOCKET READ: select failed");
        return -1;
    }
    if (ready == 0) return 0;  // nothing came: SOCKET stays removed
    std::string data(kReadBlock, '\0');
    ssize_t n = recvfrom(s.fd, data.data(), data.size(), 0, nullptr, nullptr);
    if (n < 0) {
        script_error("SOCKET READ: recvfrom failed");
        return -1;
    }
    if (n == 0 && !s.udp) {
        script_error("SOCKET READ: the peer closed the connection");
        return -1;
    }
    data.resize(static_cast<size_t>(n));
    if (o.console) console_printf("%.*s", static_cast<int>(data.size()), data.data());
    if (o.file) {
        if (!SaveTo(o.file, data, false)) {
            script_error("SOCKET READ: fopen(%s) failed.", o.file);
            return -1;
        }
        return 0;
    }
    shell_setenv("SOCKET", o.hex ? RecvBlockFormat(data, 'a').c_str() : data.c_str());
    return 0;
}

int Flush(const Slot& s, const ReadOptions& o) {
    size_t total = 0;
    std::string saved;
    while (true) {
        int ready = NetWaitReadable(s.fd, 0);
        if (ready < 0) {
            script_error("SOCKET FLUSH: select failed");
            return -1;
        }
        if (ready == 0) break;
        char buf[kReadBlock];
        ssize_t n = recvfrom(s.fd, buf, sizeof buf, 0, nullptr, nullptr);
        if (n < 0) {
            script_error("SOCKET FLUSH: recvfrom failed");
            return -1;
        }
        if (n == 0) break;
        total += static_cast<size_t>(n);
        if (o.console) console_printf("%.*s", static_cast<int>(n), buf);
        if (o.file) saved.append(buf, static_cast<size_t>(n));
    }
    if (o.file && !SaveTo(o.file, saved, true)) {
        script_error("SOCKET FLUSH fopen(%s) failed.", o.file);
        return -1;
    }
    shell_setenv("SOCKET", std::to_string(total).c_str());
    return 0;
}

int Close(const char* name) {
    std::lock_guard l(g_mu);
    for (auto& s : g_slots)
        if (!s.name.empty() && s.name == name) {
            NetClose(s.fd);
            s = Slot{};
            return 0;
        }
    script_error("Socket '%s' not found.", name);
    return -1;
}

int cmd_socket(int argc, char** argv) {
    shell_unsetenv("SOCKET");
    ReadOptions o;
    const char* name = nullptr;
    for (int c; (c = script_getopt(argc, argv, "acf:t:T:")) != -1;) {
        switch (c) {
        case 'a': o.hex = true; break;
        case 'c': o.console = true; break;
        case 'f': o.file = script_optarg; break;
        case 't': {
            auto t = ParseUnsigned(script_optarg);
            if (!t || *t > 86400) return -2;
            o.waitMs = static_cast<int>(*t) * 1000;
            break;
        }
        case 'T': name = script_optarg; break;
        default: return -2;
        }
    }
    int n = argc - script_optind;
    if (n < 1) return -3;
    char** w = argv + script_optind;
    if (Is(w[0], "OPEN")) return Open(name, n, w);
    if (Is(w[0], "CTRL")) return 0;
    bool write = Is(w[0], "WRITE");
    if (!write && !Is(w[0], "READ") && !Is(w[0], "FLUSH") && !Is(w[0], "CLOSE")) return -2;
    if (n != (write ? 3 : 2)) return -3;
    if (Is(w[0], "CLOSE")) return Close(w[1]);
    Slot s;
    if (!Find(w[1], s)) return -1;
    if (write) return Write(s, w[2]);
    return Is(w[0], "READ") ? Read(s, o) : Flush(s, o);
}

// ---- TCP ------------------------------------------------------------------

void Drain(int fd) {
    char buf[kReadBlock];
    while (NetWaitReadable(fd, 0) > 0 && recv(fd, buf, sizeof buf, 0) > 0) {}
}

int cmd_tcp(int argc, char** argv) {
    std::string host = shell_getenv("MYIP").value_or("127.0.0.1");
    unsigned port = 23, delayMs = 1000;
    const char* eol = "\n";
    bool flush = false;
    for (int c; (c = script_getopt(argc, argv, "cd:fh:p:r")) != -1;) {
        switch (c) {
        case 'c': eol = ""; break;
        case 'r': eol = "\r\n"; break;
        case 'f': flush = true; break;
        case 'h': host = script_optarg; break;
        case 'd':
        case 'p': {
            auto v = ParseUnsigned(script_optarg);
            if (!v || (c == 'p' && (*v == 0 || *v > 65535))) return -2;
            (c == 'p' ? port : delayMs) = *v;
            break;
        }
        default: return -2;
        }
    }
    if (argc - script_optind < 2) return -3;
    if (!Is(argv[script_optind], "SEND")) return -2;
    std::vector<std::string> lines;
    for (int i = script_optind + 1; i < argc; i++) {
        char buf[kTcpLineMax];
        int len = ExpandEscapes(argv[i], std::strlen(argv[i]), buf, sizeof buf);
        if (len < 0) return -2;
        lines.emplace_back(buf, static_cast<size_t>(len));
        lines.back() += eol;
    }
    in_addr addr{};
    if (!NetResolveIPv4(host.c_str(), &addr)) {
        script_error("gethostbyname failed");
        return -1;
    }
    int fd = NetConnectTcp(NetAddress(addr, static_cast<uint16_t>(port)), kConnectMs, ScriptHaltFlag());
    if (fd < 0) {
        script_error("connect failed\n");
        return -1;
    }
    for (size_t i = 0; i < lines.size(); i++) {
        if (NetSendAll(fd, lines[i].data(), lines[i].size()) < 0) {
            NetClose(fd);
            script_error("send failed\n");
            return -1;
        }
        if (i + 1 < lines.size()) hiresSleep(delayMs);
        if (flush) Drain(fd);
    }
    NetClose(fd);
    return 0;
}

}  // namespace

void SocketCloseAll() {
    std::lock_guard l(g_mu);
    for (auto& s : g_slots) {
        NetClose(s.fd);
        s = Slot{};
    }
}

void SocketCmdInit() {
    ScriptSetHandler("SOCKET", cmd_socket);
    ScriptSetHandler("TCP", cmd_tcp);
}
