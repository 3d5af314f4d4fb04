#include "script/auxcom_cmd.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "app/utils.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "script/cmdline.h"
#include "script/script_cmds.h"
#include "script/scripting.h"
#include "script/shellvar.h"

namespace {

constexpr size_t kWriteMax = 128;
constexpr size_t kLineMax = 127;

struct AuxSlot {
    int port = 0;  // 0: free
    int fd = -1;
    bool dtr = false;
};

std::mutex g_mu;
AuxSlot g_slots[kAuxcomSlots];

AuxSlot* FindLocked(int port) {
    for (auto& s : g_slots)
        if (s.port == port) return &s;
    return nullptr;
}

// Port n's device: COMDEV_<n> when set, else the usual Linux names.
std::string DevicePath(int port) {
    if (auto dev = shell_getenv(("COMDEV_" + std::to_string(port)).c_str()); dev && !dev->empty()) return *dev;
    struct {
        int first;
        const char* prefix;
    } ranges[] = {{1, "/dev/ttyS"}, {100, "/dev/ttyUSB"}, {200, "/dev/ttyACM"}, {300, "/dev/ttyAMA"}};
    for (int i = 3; i >= 0; i--)
        if (port >= ranges[i].first && port < ranges[i].first + 100 - (i == 0))
            return ranges[i].prefix + std::to_string(port - ranges[i].first);
    return "";
}

std::optional<speed_t> Speed(int baud) {
    struct {
        int baud;
        speed_t speed;
    } rates[] = {{110, B110},     {300, B300},     {600, B600},       {1200, B1200},     {2400, B2400},
                 {4800, B4800},   {9600, B9600},   {19200, B19200},   {38400, B38400},   {57600, B57600},
                 {115200, B115200}, {230400, B230400}, {460800, B460800}, {576000, B576000}, {921600, B921600}};
    for (const auto& r : rates)
        if (r.baud == baud) return r.speed;
    return std::nullopt;
}

bool Configure(int fd, int baud, int dataBits, int parity, int stopBits, int flow) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    auto sp = Speed(baud);
    if (!sp || dataBits < 5 || dataBits > 8) return false;
    cfsetispeed(&t, *sp);
    cfsetospeed(&t, *sp);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag |= dataBits == 5 ? CS5 : dataBits == 6 ? CS6 : dataBits == 7 ? CS7 : CS8;
    if (parity == 1) t.c_cflag |= PARENB | PARODD;
    if (parity == 2) t.c_cflag |= PARENB;
    if (parity == 3) t.c_cflag |= PARENB | CMSPAR | PARODD;
    if (parity == 4) t.c_cflag |= PARENB | CMSPAR;
    if (stopBits != 0) t.c_cflag |= CSTOPB;  // 1.5 is two on Linux
    if (flow & 0x02) t.c_cflag |= CRTSCTS;
    if (flow & 0x04) t.c_iflag |= IXON | IXOFF;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Pseudo-terminals have no modem lines: a refused ioctl is not an error.
void SetLine(int fd, int bit, bool on) {
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
}

int Usage() { return -2; }

int PortArg(const char* text, int* port) {
    auto v = ParseUnsigned(text);
    if (!v || *v < 1 || *v > 1023) return -2;
    *port = static_cast<int>(*v);
    return 0;
}

int Open(int nargs, char** args, bool verbose) {
    if (nargs != 7 && nargs != 8) return -3;
    int port = 0;
    if (PortArg(args[1], &port)) return -2;
    auto baud = ParseUnsigned(args[2]);
    auto bits = ParseUnsigned(args[3]);
    auto parity = ParseParity(args[4]);
    auto stop = ParseStopBits(args[5]);
    auto flow = ParseFlow(args[6]);
    if (!baud || !bits || !parity || !stop || !flow) return -2;
    bool raiseDtr = nargs == 8 && std::strcmp(args[7], "1") == 0;

    std::lock_guard l(g_mu);
    if (FindLocked(port)) {
        script_error("AUXCOM port %d already assigned.", port);
        return -1;
    }
    AuxSlot* slot = FindLocked(0);
    if (!slot) {
        script_error("Max AUXCOM ports assigned.");
        return -1;
    }
    std::string path = DevicePath(port);
    int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 || !isatty(fd)) {
        if (fd >= 0) ::close(fd);
        script_error("AUXCOM port COM%d, failed to open.", port);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    TracePrintf(TRC_SCRIPT, "port=%d, baud=%d, datawidth=%d, parity=%d,stopbits=%d,flow=%d", port,
                static_cast<int>(*baud), static_cast<int>(*bits), *parity, *stop, *flow);
    if (!Configure(fd, static_cast<int>(*baud), static_cast<int>(*bits), *parity, *stop, *flow)) {
        ::close(fd);
        script_error("AUXCOM port COM%d, setup failure.", port);
        return -1;
    }
    SetLine(fd, TIOCM_DTR, raiseDtr);
    slot->port = port;
    slot->fd = fd;
    slot->dtr = raiseDtr;
    if (verbose) TracePrintf(TRC_SCRIPT, "AUXCOM COM%d open on %s", port, path.c_str());
    return 0;
}

// Reads until the prompt arrived (1), the limit passed (0) or the read failed (-1).
int ReadForPrompt(int fd, const std::string& prompt, int limitMs) {
    std::string line, tail;
    uint64_t start = ClockTickMs();
    for (;;) {
        int waitMs = 100;
        if (limitMs > 0) {
            uint64_t spent = ClockTickMs() - start;
            if (spent >= static_cast<uint64_t>(limitMs)) return 0;
            waitMs = static_cast<int>(std::min<uint64_t>(100, limitMs - spent));
        }
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, waitMs);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (p.revents & (POLLERR | POLLNVAL))) return -1;
        if (r == 0) continue;
        char c;
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return -1;
        if (c == '\r' || c == '\n') {
            if (!line.empty()) shell_setenv("AUXLASTLINE", line.c_str());
            line.clear();
        } else if (line.size() < kLineMax) {
            line += c;
        }
        tail += c;
        if (tail.size() > prompt.size()) tail.erase(0, tail.size() - prompt.size());
        if (tail == prompt) return 1;
    }
}

int Write(int nargs, char** args, const char* prompt, const char* limit) {
    if (nargs != 3) return -3;
    int port = 0;
    if (PortArg(args[1], &port)) return -2;
    char buf[kWriteMax];
    int len = ExpandEscapes(args[2], std::strlen(args[2]), buf, sizeof buf);
    if (len < 0) return -2;
    int limitMs = 0;
    if (limit) {
        auto v = ParseUnsigned(limit);
        if (!v) return -2;
        limitMs = static_cast<int>(*v) * 1000;
    }
    int fd = -1;
    {
        std::lock_guard l(g_mu);
        AuxSlot* slot = FindLocked(port);
        if (!slot) {
            script_error("AUXCOM port %d not assigned.", port);
            return -1;
        }
        // A private descriptor: a CLOSE meanwhile must not hand ours to another file.
        fd = fcntl(slot->fd, F_DUPFD_CLOEXEC, 0);
    }
    if (fd < 0) return -1;
    // Stale input goes before the write, so that a quick answer is not lost.
    if (prompt && *prompt) tcflush(fd, TCIFLUSH);
    for (int off = 0; off < len;) {
        ssize_t n = ::write(fd, buf + off, len - off);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            script_error("AUXCOM port %d write failed.", port);
            return -1;
        }
        off += static_cast<int>(n);
    }
    int rc = 0;
    if (prompt && *prompt) {
        int got = ReadForPrompt(fd, prompt, limitMs);
        if (got < 0) {
            script_error("AuxCom readfile failed");
            rc = -1;
        } else {
            shell_setenv("SCR_TIMEOUT", got ? "FALSE" : "TRUE");
        }
    }
    ::close(fd);
    return rc;
}

int ModemOrClose(int nargs, char** args) {
    if (nargs != 2) return -3;
    int port = 0;
    if (PortArg(args[1], &port)) return -2;
    std::lock_guard l(g_mu);
    AuxSlot* slot = FindLocked(port);
    if (!slot) {
        script_error("AUXCOM port %d not assigned.", port);
        return -1;
    }
    const char* op = args[0];
    if (strcasecmp(op, "CLOSE") == 0) {
        ::close(slot->fd);
        *slot = AuxSlot{};
    } else if (strcasecmp(op, "DTRSET") == 0 || strcasecmp(op, "DTRCLR") == 0) {
        slot->dtr = strcasecmp(op, "DTRSET") == 0;
        SetLine(slot->fd, TIOCM_DTR, slot->dtr);
    } else {
        SetLine(slot->fd, TIOCM_RTS, strcasecmp(op, "RTSSET") == 0);
    }
    return 0;
}

}  // namespace

int cmd_auxcom(int argc, char** argv) {
    const char* prompt = nullptr;
    const char* limit = nullptr;
    bool verbose = false;
    shell_unsetenv("SCR_TIMEOUT");
    for (int opt; (opt = script_getopt(argc, argv, "p:t:v")) != -1;) {
        switch (opt) {
        case 'p': prompt = script_optarg; break;
        case 't': limit = script_optarg; break;
        case 'v': verbose = true; break;
        default: return -2;
        }
    }
    int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs < 1) return -3;
    const char* op = args[0];
    if (strcasecmp(op, "OPEN") == 0) return Open(nargs, args, verbose);
    if (strcasecmp(op, "WRITE") == 0) return Write(nargs, args, prompt, limit);
    for (const char* name : {"CLOSE", "DTRSET", "DTRCLR", "RTSSET", "RTSCLR"})
        if (strcasecmp(op, name) == 0) return ModemOrClose(nargs, args);
    return Usage();
}

void AuxcomCloseAll() {
    std::lock_guard l(g_mu);
    for (auto& s : g_slots) {
        if (s.port) ::close(s.fd);
        s = AuxSlot{};
    }
}
