#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <chrono>
#include <thread>

extern char** environ;

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

std::vector<std::string> BuildEnv(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string s(*e);
        std::string name = s.substr(0, s.find('='));
        bool replaced = false;
        for (const auto& x : extra)
            if (x.substr(0, x.find('=')) == name) replaced = true;
        if (!replaced) env.push_back(s);
    }
    for (const auto& x : extra) env.push_back(x);
    return env;
}

std::vector<char*> CStrings(std::vector<std::string>& v) {
    std::vector<char*> out;
    for (auto& s : v) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int OpenPty(const SpawnOptions& opt, int* master, int* slave) {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) return 0;
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        close(m);
        return 0;
    }
    int s = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0) {
        close(m);
        return 0;
    }
    termios t{};
    if (tcgetattr(s, &t) == 0) {
        if (opt.ptyEcho) t.c_lflag |= ECHO;
        else t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        if (opt.ptyIgnoreCr) {
            t.c_iflag |= IGNCR;
            t.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
        }
        if (opt.ptyOutCrLf) t.c_oflag |= OPOST | ONLCR;
        else t.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
        tcsetattr(s, TCSANOW, &t);
    }
    winsize ws{};
    ws.ws_row = opt.rows;
    ws.ws_col = opt.cols;
    ioctl(s, TIOCSWINSZ, &ws);
    *master = m;
    *slave = s;
    return 1;
}

// Between fork and exec only async-signal-safe calls.
[[noreturn]] void ChildExec(const char* exe, char* const* argv, char* const* envp, int in, int out,
                            bool pty, const char* dir) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    signal(SIGQUIT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    if (pty) {
        setsid();
        ioctl(in, TIOCSCTTY, 0);
    } else {
        setpgid(0, 0);
    }
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    syscall(SYS_close_range, 3U, ~0U, 0U);
    if (dir && *dir && chdir(dir) != 0) _exit(127);
    execve(exe, argv, envp);
    _exit(127);
}

}  // namespace

std::string ProcFindOnPath(const std::string& name) {
    if (name.empty()) return {};
    auto runnable = [](const std::string& p) {
        struct stat st{};
        return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) return runnable(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t pos = 0;
    while (pos <= dirs.size()) {
        size_t end = dirs.find(':', pos);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = end > pos ? dirs.substr(pos, end - pos) : std::string(".");
        std::string full = dir + "/" + name;
        if (runnable(full)) return full;
        pos = end + 1;
    }
    return {};
}

int ProcSpawn(const std::vector<std::string>& argvIn, const SpawnOptions& opt, ChildProcess* child) {
    *child = ChildProcess{};
    if (argvIn.empty()) {
        errno = EINVAL;
        return 0;
    }
    std::string exe = opt.exePath.empty() ? ProcFindOnPath(argvIn[0]) : opt.exePath;
    if (exe.empty()) {
        errno = ENOENT;
        return 0;
    }
    std::vector<std::string> args = argvIn;
    std::vector<std::string> env = BuildEnv(opt.env);
    std::vector<char*> argv = CStrings(args);
    std::vector<char*> envp = CStrings(env);

    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0) return 0;
    int childIn = -1, childOut = -1;
    if (opt.pty) {
        int m, s;
        if (!OpenPty(opt, &m, &s)) {
            close(wake[0]);
            close(wake[1]);
            return 0;
        }
        child->outFd = child->inFd = m;
        childIn = childOut = s;
    } else {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0) {
            close(wake[0]);
            close(wake[1]);
            return 0;
        }
        if (pipe2(out, O_CLOEXEC) != 0) {
            close(in[0]);
            close(in[1]);
            close(wake[0]);
            close(wake[1]);
            return 0;
        }
        childIn = in[0];
        child->inFd = in[1];
        child->outFd = out[0];
        childOut = out[1];
    }
    pid_t pid = fork();
    if (pid == 0)
        ChildExec(exe.c_str(), argv.data(), envp.data(), childIn, childOut, opt.pty, opt.dir.c_str());
    int err = errno;
    close(childIn);
    if (childOut != childIn) close(childOut);
    if (pid < 0) {
        CloseFd(child->outFd);
        if (!opt.pty) CloseFd(child->inFd);
        close(wake[0]);
        close(wake[1]);
        *child = ChildProcess{};
        errno = err;
        return 0;
    }
    child->pid = pid;
    child->pty = opt.pty;
    child->wakeR = wake[0];
    child->wakeW = wake[1];
    return 1;
}

int ProcRead(ChildProcess& child, void* buf, size_t len) {
    if (child.outFd < 0) return -1;
    for (;;) {
        pollfd p[2] = {{child.outFd, POLLIN, 0}, {child.wakeR, POLLIN, 0}};
        int r = poll(p, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (p[1].revents) return 0;
        ssize_t n = read(child.outFd, buf, len);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        // A pseudo-terminal whose last slave closed reports EIO: the child's end.
        if (n < 0 && child.pty && errno == EIO) return 0;
        return n < 0 ? -1 : static_cast<int>(n);
    }
}

void ProcInterrupt(ChildProcess& child) {
    if (child.wakeW >= 0) {
        char c = 1;
        ssize_t n = write(child.wakeW, &c, 1);
        (void)n;
    }
}

int ProcWrite(ChildProcess& child, const void* data, size_t len) {
    if (child.inFd < 0) return -1;
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(child.inFd, p + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done ? static_cast<int>(done) : -1;
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(len);
}

int ProcExited(ChildProcess& child) {
    if (child.reaped) return 1;
    if (child.pid <= 0) return -1;
    int status = 0;
    pid_t r = waitpid(child.pid, &status, WNOHANG);
    if (r == 0) return 0;
    if (r < 0) return -1;
    child.reaped = true;
    child.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return 1;
}

void ProcClose(ChildProcess& child) {
    if (child.pid > 0 && !child.reaped) {
        if (child.pty) kill(-child.pid, SIGHUP);
        kill(child.pid, SIGTERM);
        // Real time, not the pinnable tick: this wait must end even in tests.
        auto start = std::chrono::steady_clock::now();
        while (ProcExited(child) == 0) {
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(500)) {
                kill(child.pid, SIGKILL);
                int status;
                if (waitpid(child.pid, &status, 0) == child.pid) {
                    child.reaped = true;
                    child.exitCode = 128 + SIGKILL;
                }
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (child.inFd != child.outFd) CloseFd(child.inFd);
    else child.inFd = -1;
    CloseFd(child.outFd);
    CloseFd(child.wakeR);
    CloseFd(child.wakeW);
}
