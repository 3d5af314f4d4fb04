#include "proc.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
uint64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

Proc::Proc(const std::string& program, const std::vector<std::string>& args,
           const std::vector<std::string>& env) {
    int pin[2], pout[2], perr[2];
    if (pipe(pin) || pipe(pout) || pipe(perr)) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pin[0], 0);
        dup2(pout[1], 1);
        dup2(perr[1], 2);
        for (int fd = 3; fd < 1024; fd++) close(fd);
        setpgid(0, 0);
        for (const auto& e : env) putenv(strdup(e.c_str()));
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pin[0]);
    close(pout[1]);
    close(perr[1]);
    in_ = pin[1];
    out_ = pout[0];
    err_ = perr[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    fcntl(err_, F_SETFL, O_NONBLOCK);
}

Proc::~Proc() {
    if (pid_ > 0 && !exited_) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_})
        if (fd >= 0) close(fd);
}

void Proc::Write(const std::string& bytes) {
    size_t off = 0;
    while (in_ >= 0 && off < bytes.size()) {
        ssize_t n = write(in_, bytes.data() + off, bytes.size() - off);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
}

void Proc::CloseStdin() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

void Proc::Pump(int timeoutMs) {
    struct pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) return;
    char buf[65536];
    for (int i = 0; i < 2; i++) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
        ssize_t n;
        while ((n = read(fds[i].fd, buf, sizeof buf)) > 0)
            (i == 0 ? outBuf_ : errBuf_).append(buf, static_cast<size_t>(n));
    }
}

bool Proc::WaitOutput(const std::string& needle, int timeoutMs) {
    uint64_t end = NowMs() + timeoutMs;
    while (outBuf_.find(needle) == std::string::npos) {
        if (NowMs() >= end) return false;
        Pump(20);
    }
    return true;
}

bool Proc::WaitError(const std::string& needle, int timeoutMs) {
    uint64_t end = NowMs() + timeoutMs;
    while (errBuf_.find(needle) == std::string::npos) {
        if (NowMs() >= end) return false;
        Pump(20);
    }
    return true;
}

void Proc::Signal(int sig) {
    if (pid_ > 0 && !exited_) kill(pid_, sig);
}

int Proc::Wait(int timeoutMs) {
    uint64_t end = NowMs() + timeoutMs;
    while (!exited_) {
        int st = 0;
        pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            exited_ = true;
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            break;
        }
        if (NowMs() >= end) return -1;
        Pump(20);
    }
    for (int i = 0; i < 5; i++) Pump(1);
    return status_;
}

std::string Proc::Out() { Pump(0); return outBuf_; }
std::string Proc::Err() { Pump(0); return errBuf_; }

ProcResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env, const std::string& input, int timeoutMs) {
    Proc p(program, args, env);
    p.Write(input);
    p.CloseStdin();
    ProcResult r;
    r.status = p.Wait(timeoutMs);
    r.out = p.Out();
    r.err = p.Err();
    return r;
}

// OXEL_CLI runs the same tests against another build of the program.
std::string CliPath() {
    const char* other = std::getenv("OXEL_CLI");
    return other && *other ? other : OXEL_CLI_PATH;
}
std::string SourceDir() { return OXEL_SOURCE_DIR; }

ProcResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env,
                  const std::string& input, int timeoutMs) {
    return RunProgram(CliPath(), args, env, input, timeoutMs);
}

TempDir::TempDir() {
    char tmpl[] = "/tmp/oxeltest-XXXXXX";
    path_ = mkdtemp(tmpl);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
    std::ofstream(File(name), std::ios::binary) << content;
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream f(File(name), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}
