#include "platform/globalevent.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int kPollMs = 5;
constexpr int kStopCheckMs = 50;

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
    std::string dir = run && *run ? std::string(run) + "/oxel-events" : "";
    // A runtime directory that cannot be used falls back to /tmp, as for
    // every other process of this user in the same place.
    if (dir.empty() || !MakeDir(dir)) {
        dir = "/tmp/oxel-events-" + std::to_string(getuid());
        if (!MakeDir(dir)) return false;
    }
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
    // A write to an event file wakes the wait at once (reads, our own
    // included, do not); the poll's time-out
    // is only the bound for the stop flag and for a system without inotify.
    int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch >= 0 && inotify_add_watch(watch, g_dir.c_str(), IN_MODIFY) < 0) {
        close(watch);
        watch = -1;
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    int result = 0;
    while (true) {
        if (stop && stop->load()) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (ms >= 0 && left.count() <= 0) break;
        int slice = watch >= 0 ? kStopCheckMs : kPollMs;
        if (ms >= 0) slice = static_cast<int>(std::min<long>(slice, left.count()));
        if (watch >= 0) {
            pollfd p{watch, POLLIN, 0};
            if (poll(&p, 1, slice) > 0) {
                char buf[4096];
                while (read(watch, buf, sizeof buf) > 0) {}
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        }
        EventState now;
        if (!WithEvent(index, [&](EventState& s) { now = s; })) {
            result = -1;
            break;
        }
        if (now.set || now.pulses != start.pulses) {
            result = 1;
            break;
        }
    }
    if (watch >= 0) close(watch);
    return result;
}

const char* GlobalEventDir() {
    std::lock_guard l(g_mu);
    OpenLocked();
    return g_dir.c_str();
}
