#include "platform/globalevent.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int kPollMs = 5;

// An event file holds "<state> <pulse count>"; the count lets a pulse wake
// the waiters of that moment without leaving the event set.
struct EventState {
    int set = 0;
    unsigned long pulses = 0;
};

std::mutex g_mu;
std::string g_dir;
int g_usersFd = -1;

bool MakeDir(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) == 0) return true;
    struct stat st {};
    if (errno != EEXIST || lstat(dir.c_str(), &st) != 0) return false;
    // Another user's directory (or a link planted in /tmp) is never used.
    if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
        errno = EACCES;
        return false;
    }
    return true;
}

std::string EventPath(int index) { return g_dir + "/OxelGlobalEvent_" + std::to_string(index); }

// Joins the users; the first one resets every event. g_mu held.
bool OpenLocked() {
    if (g_usersFd >= 0) return true;
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = run && *run ? std::string(run) + "/oxel-events"
                                  : "/tmp/oxel-events-" + std::to_string(getuid());
    if (!MakeDir(dir)) return false;
    g_dir = dir;
    int init = open((dir + "/init.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (init < 0) return false;
    flock(init, LOCK_EX);  // one joiner at a time, so the reset cannot race a set
    int users = open((dir + "/users.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (users < 0) {
        close(init);
        return false;
    }
    if (flock(users, LOCK_EX | LOCK_NB) == 0) {
        for (int i = 0; i < kGlobalEvents; i++) unlink(EventPath(i).c_str());
    }
    flock(users, LOCK_SH);
    close(init);  // drops the init lock
    g_usersFd = users;
    return true;
}

bool Open() {
    std::lock_guard l(g_mu);
    return OpenLocked();
}

// Reads or changes one event under its own file lock.
template <typename Fn>
int WithEvent(int index, Fn fn) {
    if (index < 0 || index >= kGlobalEvents) {
        errno = EINVAL;
        return 0;
    }
    if (!Open()) return 0;
    int fd = open(EventPath(index).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    flock(fd, LOCK_EX);
    EventState st;
    char buf[64] = {};
    ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    if (n > 0) std::sscanf(buf, "%d %lu", &st.set, &st.pulses);
    EventState before = st;
    fn(st);
    int ok = 1;
    if (st.set != before.set || st.pulses != before.pulses) {
        int len = std::snprintf(buf, sizeof buf, "%d %lu\n", st.set, st.pulses);
        ok = ftruncate(fd, 0) == 0 && pwrite(fd, buf, static_cast<size_t>(len), 0) == len;
    }
    close(fd);
    return ok;
}

}  // namespace

int GlobalEventSet(int index) {
    return WithEvent(index, [](EventState& s) { s.set = 1; });
}

int GlobalEventReset(int index) {
    return WithEvent(index, [](EventState& s) { s.set = 0; });
}

int GlobalEventPulse(int index) {
    return WithEvent(index, [](EventState& s) {
        s.set = 0;
        s.pulses++;
    });
}

int GlobalEventWait(int index, int ms, const std::atomic<bool>* stop) {
    EventState start;
    if (!WithEvent(index, [&](EventState& s) { start = s; })) return -1;
    if (start.set) return 1;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    while (true) {
        if (stop && stop->load()) return 0;
        if (ms >= 0 && std::chrono::steady_clock::now() >= end) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        EventState now;
        if (!WithEvent(index, [&](EventState& s) { now = s; })) return -1;
        if (now.set || now.pulses != start.pulses) return 1;
    }
}

const char* GlobalEventDir() {
    std::lock_guard l(g_mu);
    OpenLocked();
    return g_dir.c_str();
}
