// POSIX serial ports. termios2 (through <asm/termbits.h>) so that any rate
// can be asked for with BOTHER; <termios.h> must not be included here.
#include "platform/serial.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

struct SerialPort {
    int fd = -1;
    int wake[2] = {-1, -1};
    std::atomic<bool> closing{false};
    bool haveCounts = false;              // the driver keeps line counters
    serial_icounter_struct events{};      // counters at the last wait
    serial_icounter_struct errs{};        // counters at the last errors()
};

namespace {

std::atomic<const SerialOps*> g_ops{nullptr};

// A UART-less line still polls its counters now and then so modem-line and
// BREAK events are seen; pseudo-terminals have none and wait on data only.
constexpr int kCounterPollMs = 20;

bool GetCounts(int fd, serial_icounter_struct* c) { return ioctl(fd, TIOCGICOUNT, c) == 0; }

SerialPort* PosixOpen(const char* path, int* err) {
    int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // A path that names no serial device (gone, or a directory) is "not found".
        *err = (errno == ENXIO || errno == ENODEV || errno == EIO || errno == EISDIR) ? ENOENT : errno;
        return nullptr;
    }
    if (!isatty(fd)) {
        ::close(fd);
        *err = ENOENT;
        return nullptr;
    }
    // TIOCEXCL keeps other users out, flock also keeps out a privileged
    // process that ignores TIOCEXCL.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        *err = EBUSY;
        return nullptr;
    }
    auto* p = new SerialPort;
    p->fd = fd;
    if (pipe2(p->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *err = errno;
        ::close(fd);
        delete p;
        return nullptr;
    }
    p->haveCounts = GetCounts(fd, &p->events);
    p->errs = p->events;
    return p;
}

void PosixClose(SerialPort* p) {
    if (!p) return;
    ioctl(p->fd, TIOCNXCL);
    ::close(p->fd);
    ::close(p->wake[0]);
    ::close(p->wake[1]);
    delete p;
}

int RateOf(const termios2& t) { return static_cast<int>(t.c_ospeed); }

int PosixGetLine(SerialPort* p, SerialLine* line) {
    termios2 t{};
    if (ioctl(p->fd, TCGETS2, &t) != 0) return 0;
    line->baud = RateOf(t);
    switch (t.c_cflag & CSIZE) {
        case CS5: line->dataBits = 5; break;
        case CS6: line->dataBits = 6; break;
        case CS7: line->dataBits = 7; break;
        default: line->dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB)) line->parity = 0;
    else if (t.c_cflag & CMSPAR) line->parity = (t.c_cflag & PARODD) ? 3 : 4;
    else line->parity = (t.c_cflag & PARODD) ? 1 : 2;
    line->stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    line->ctsOutFlow = (t.c_cflag & CRTSCTS) != 0;
    line->rtsControl = line->ctsOutFlow ? LINE_HANDSHAKE : line->rtsControl;
    line->xonXoff = (t.c_iflag & IXON) != 0;
    line->xonChar = static_cast<char>(t.c_cc[VSTART]);
    line->xoffChar = static_cast<char>(t.c_cc[VSTOP]);
    int bits = 0;
    if (ioctl(p->fd, TIOCMGET, &bits) == 0) {
        if (line->dtrControl != LINE_HANDSHAKE) line->dtrControl = (bits & TIOCM_DTR) ? LINE_ENABLE : LINE_DISABLE;
        if (line->rtsControl != LINE_HANDSHAKE) line->rtsControl = (bits & TIOCM_RTS) ? LINE_ENABLE : LINE_DISABLE;
    }
    return 1;
}

// Drives one modem line; a device without modem lines (a pseudo-terminal)
// is not an error.
int SetModemBit(SerialPort* p, int bit, bool on) {
    if (ioctl(p->fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 1;
    return (errno == ENOTTY || errno == EINVAL) ? 1 : 0;
}

int PosixSetLine(SerialPort* p, const SerialLine* line) {
    if (line->baud <= 0 || line->dataBits < 5 || line->dataBits > 8 || line->parity < 0 ||
        line->parity > 4 || line->stopBits < 0 || line->stopBits > 2) {
        errno = EINVAL;
        return 0;
    }
    termios2 t{};
    if (ioctl(p->fd, TCGETS2, &t) != 0) return 0;
    // Raw binary line: no translation, no echo, no signals; parity checked.
    t.c_iflag = (line->parity ? INPCK : IGNPAR);
    if (line->xonXoff) t.c_iflag |= IXON | IXOFF;
    t.c_oflag = 0;
    t.c_lflag = 0;
    tcflag_t cs = line->dataBits == 5 ? CS5 : line->dataBits == 6 ? CS6 : line->dataBits == 7 ? CS7 : CS8;
    t.c_cflag = CREAD | CLOCAL | cs | BOTHER | (BOTHER << IBSHIFT);
    switch (line->parity) {
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case 4: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
    }
    if (line->stopBits != 0) t.c_cflag |= CSTOPB;  // 1.5 runs as 2 on Linux
    if (line->ctsOutFlow || line->rtsControl == LINE_HANDSHAKE) t.c_cflag |= CRTSCTS;
    t.c_ospeed = t.c_ispeed = static_cast<speed_t>(line->baud);
    t.c_cc[VSTART] = static_cast<cc_t>(line->xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(line->xoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (ioctl(p->fd, TCSETS2, &t) != 0) return 0;
    // The driver may round a rate it cannot make; more than 2 % off is a refusal.
    termios2 back{};
    if (ioctl(p->fd, TCGETS2, &back) != 0) return 0;
    long got = RateOf(back), want = line->baud;
    if (got <= 0 || (got > want ? got - want : want - got) * 50 > want) {
        errno = EINVAL;
        return 0;
    }
    if (line->dtrControl != LINE_HANDSHAKE && !SetModemBit(p, TIOCM_DTR, line->dtrControl == LINE_ENABLE))
        return 0;
    if (line->dtrControl == LINE_HANDSHAKE && !SetModemBit(p, TIOCM_DTR, true)) return 0;
    if (line->rtsControl != LINE_HANDSHAKE && !SetModemBit(p, TIOCM_RTS, line->rtsControl == LINE_ENABLE))
        return 0;
    return 1;
}

long PosixInQueue(SerialPort* p) {
    int n = 0;
    if (ioctl(p->fd, FIONREAD, &n) != 0) return -1;
    return n;
}

long PosixRead(SerialPort* p, void* buf, size_t max) {
    ssize_t n = ::read(p->fd, buf, max);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EINTR) return 0;
    return -1;
}

long PosixWrite(SerialPort* p, const void* data, size_t len) {
    const char* d = static_cast<const char*>(data);
    size_t done = 0;
    while (done < len && !p->closing.load()) {
        ssize_t n = ::write(p->fd, d + done, len - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        // Output held (flow control or a full queue): wait, but look at the
        // closing flag now and then so a close never waits on a stuck line.
        pollfd pf{p->fd, POLLOUT, 0};
        if (poll(&pf, 1, 100) < 0 && errno != EINTR) break;
        if (pf.revents & (POLLERR | POLLHUP | POLLNVAL)) break;
    }
    if (done == 0 && len > 0) return -1;
    return static_cast<long>(done);
}

unsigned CounterEvents(const serial_icounter_struct& a, const serial_icounter_struct& b) {
    unsigned ev = 0;
    if (a.cts != b.cts) ev |= SEV_CTS;
    if (a.dsr != b.dsr) ev |= SEV_DSR;
    if (a.rng != b.rng) ev |= SEV_RING;
    if (a.dcd != b.dcd) ev |= SEV_RLSD;
    if (a.brk != b.brk) ev |= SEV_BREAK;
    if (a.frame != b.frame || a.overrun != b.overrun || a.parity != b.parity ||
        a.buf_overrun != b.buf_overrun)
        ev |= SEV_ERR;
    return ev;
}

int PosixWait(SerialPort* p, unsigned* events) {
    for (;;) {
        if (p->closing.load()) return 0;
        pollfd pf[2] = {{p->fd, POLLIN, 0}, {p->wake[0], POLLIN, 0}};
        int r = poll(pf, 2, p->haveCounts ? kCounterPollMs : -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (pf[1].revents) {
            char drain[16];
            while (::read(p->wake[0], drain, sizeof drain) > 0) {}
            return 0;
        }
        if (pf[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // What arrived before the hang-up is still read first.
            int queued = 0;
            if ((pf[0].revents & POLLIN) && ioctl(p->fd, FIONREAD, &queued) == 0 && queued > 0) {
                *events = SEV_RXCHAR;
                return 1;
            }
            errno = (pf[0].revents & POLLNVAL) ? EBADF : EIO;
            return -1;
        }
        unsigned ev = (pf[0].revents & POLLIN) ? unsigned{SEV_RXCHAR} : 0u;
        if (p->haveCounts) {
            serial_icounter_struct now{};
            if (!GetCounts(p->fd, &now)) {
                if (errno == EIO || errno == ENXIO || errno == ENODEV) return -1;
            } else {
                ev |= CounterEvents(now, p->events);
                p->events = now;
            }
        }
        if (ev) {
            *events = ev;
            return 1;
        }
    }
}

void PosixCancelWait(SerialPort* p) {
    p->closing.store(true);
    char c = 1;
    ssize_t n = ::write(p->wake[1], &c, 1);
    (void)n;
}

int PosixModemStatus(SerialPort* p, unsigned* bits) {
    int m = 0;
    if (ioctl(p->fd, TIOCMGET, &m) != 0) return 0;
    unsigned b = 0;
    if (m & TIOCM_CTS) b |= MS_CTS_ON;
    if (m & TIOCM_DSR) b |= MS_DSR_ON;
    if (m & TIOCM_RNG) b |= MS_RING_ON;
    if (m & TIOCM_CAR) b |= MS_RLSD_ON;
    *bits = b;
    return 1;
}

int PosixSetDtr(SerialPort* p, bool on) { return SetModemBit(p, TIOCM_DTR, on); }
int PosixSetRts(SerialPort* p, bool on) { return SetModemBit(p, TIOCM_RTS, on); }
int PosixSetBreak(SerialPort* p, bool on) { return ioctl(p->fd, on ? TIOCSBRK : TIOCCBRK) == 0 ? 1 : 0; }
int PosixPurge(SerialPort* p) { return ioctl(p->fd, TCFLSH, TCIOFLUSH) == 0 ? 1 : 0; }

unsigned PosixErrors(SerialPort* p) {
    serial_icounter_struct now{};
    if (!p->haveCounts || !GetCounts(p->fd, &now)) return 0;
    unsigned f = 0;
    if (now.buf_overrun != p->errs.buf_overrun) f |= CE_RXOVER;
    if (now.overrun != p->errs.overrun) f |= CE_OVERRUN;
    if (now.parity != p->errs.parity) f |= CE_RXPARITY;
    if (now.frame != p->errs.frame) f |= CE_FRAME;
    p->errs = now;
    return f;
}

const SerialOps kPosix = {
    PosixOpen, PosixClose, PosixGetLine, PosixSetLine, PosixRead, PosixWrite, PosixWait,
    PosixCancelWait, PosixInQueue, PosixModemStatus, PosixSetDtr, PosixSetRts, PosixSetBreak,
    PosixPurge, PosixErrors,
};

}  // namespace

const SerialOps& SerialPosixOps() { return kPosix; }

const SerialOps& serial() {
    const SerialOps* o = g_ops.load();
    return o ? *o : kPosix;
}

void SerialSetOps(const SerialOps* ops) { g_ops.store(ops); }

std::string SerialDefaultPath(int n) {
    struct Range { int first; const char* prefix; };
    static const Range kRanges[] = {
        {1, "/dev/ttyS"}, {100, "/dev/ttyUSB"}, {200, "/dev/ttyACM"}, {300, "/dev/ttyAMA"},
    };
    for (const auto& r : kRanges)
        if (n >= r.first && n < r.first + (r.first == 1 ? 99 : 100))
            return r.prefix + std::to_string(n - r.first);
    return {};
}

bool SerialDevicePresent(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    // Every ttyS line exists as a device file; only those with a UART (type
    // other than 0 "unknown") are real ports.
    auto slash = path.rfind('/');
    std::string name = path.substr(slash + 1);
    if (name.rfind("ttyS", 0) == 0) {
        std::ifstream type("/sys/class/tty/" + name + "/type");
        int t = 0;
        if (type >> t) return t != 0;
    }
    return true;
}

namespace {

std::string FirstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The USB device above a tty in sysfs: the first parent with an idVendor.
void FillUsbInfo(SerialUsbAdapter& a) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string name = fs::path(a.device).filename();
    fs::path dir = fs::canonical("/sys/class/tty/" + name + "/device", ec);
    for (int up = 0; !ec && up < 6 && dir.has_parent_path() && dir != dir.root_path(); ++up, dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec)) continue;
        a.product = FirstLine(dir / "product");
        a.vendorProduct = FirstLine(dir / "idVendor") + ":" + FirstLine(dir / "idProduct");
        a.serial = FirstLine(dir / "serial");
        return;
    }
}

}  // namespace

std::vector<SerialUsbAdapter> SerialByIdList() {
    namespace fs = std::filesystem;
    std::vector<SerialUsbAdapter> list;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/dev/serial/by-id", ec)) {
        SerialUsbAdapter a;
        a.byId = e.path().string();
        a.device = fs::canonical(e.path(), ec).string();
        if (ec) continue;
        FillUsbInfo(a);
        list.push_back(std::move(a));
    }
    std::sort(list.begin(), list.end(), [](const auto& x, const auto& y) { return x.byId < y.byId; });
    return list;
}

std::string SerialByIdName(const std::string& device) {
    std::error_code ec;
    std::string real = std::filesystem::canonical(device, ec).string();
    for (const auto& a : SerialByIdList())
        if (a.device == real) return a.byId;
    return {};
}
