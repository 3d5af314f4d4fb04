#include "platform/report.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <condition_variable>
#include <deque>

#include "platform/ui.h"
#include "util/worker.h"
#include "util/strformat.h"

namespace {

std::mutex g_mu;   // guards the directory, the routes and the exit steps
std::string g_installDir;
ErrorReportRoutes g_routes{nullptr, nullptr};
std::vector<void (*)()> g_exitSteps;

std::string ExecutableDir() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = 0;
    std::string s(path);
    auto slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

std::string HomeFromEnvironment() {
    const char* home = std::getenv("OXEL_HOME");
    return home && *home ? home : ExecutableDir();
}

thread_local int t_noWait = 0;

struct PostedBox {
    unsigned style;
    std::string title, text;
};

struct BoxQueue {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<PostedBox> boxes;
    bool showing = false;
    WorkerThread worker;
};

BoxQueue& Boxes() {
    static BoxQueue* q = new BoxQueue;   // lives to the end: a box may be open at exit
    return *q;
}

void ShowPostedBoxes(const std::atomic<bool>& stop) {
    BoxQueue& q = Boxes();
    std::unique_lock l(q.mu);
    while (!stop) {
        if (q.boxes.empty()) {
            q.cv.wait_for(l, std::chrono::milliseconds(200));
            continue;
        }
        PostedBox b = std::move(q.boxes.front());
        q.boxes.pop_front();
        q.showing = true;
        l.unlock();
        ui().MessageBox(b.style, b.title, b.text);
        l.lock();
        q.showing = false;
        q.cv.notify_all();
    }
}

// The answer a question gets when nobody may be asked.
int NegativeAnswer(unsigned style) {
    switch (style & MB_TYPEMASK) {
    case MB_YESNO: return IDNO;
    case MB_OK: return IDOK;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    default: return IDCANCEL;
    }
}

// Every box goes through here.
int ShowBox(unsigned style, const std::string& title, const std::string& text) {
    if (!InNoWaitScope()) return ui().MessageBox(style, title, text);
    if ((style & MB_TYPEMASK) != MB_OK) {
        std::fprintf(stderr, "%s\n", UiBoxLine(title + " (not asked while receiving)", text).c_str());
        return NegativeAnswer(style);
    }
    PostMessageBox(style, title, text);
    return IDOK;
}

ErrorReportRoutes Routes() {
    std::lock_guard l(g_mu);
    return g_routes;
}

}  // namespace

std::string InstallDir() {
    std::lock_guard l(g_mu);
    if (g_installDir.empty()) g_installDir = HomeFromEnvironment();
    return g_installDir;
}

void SetInstallDir(const std::string& dir) {
    std::lock_guard l(g_mu);
    g_installDir = dir;
}

void SetErrorReportRoutes(ErrorReportRoutes routes) {
    std::lock_guard l(g_mu);
    g_routes = routes;
}

void ErrorReport(const char* file, int line, const char* fmt, ...) {
    int err = errno;
    va_list ap;
    va_start(ap, fmt);
    std::string text = VStrFormat(fmt, ap);
    va_end(ap);
    std::string sys = err ? std::strerror(err) : "";
    std::string head = StrFormat("ERROR (%s %d SVN[%d])", file, line, kSvnRevision);
    std::string caption = sys.empty() ? head : head + ": " + text;
    const ErrorReportRoutes routes = Routes();
    if (routes.remote) {
        // Remote users see the report too, framed so it stands out from target text.
        const std::string stars(52, '*');
        std::string remote = stars + "\r\n\r\n            ERROR on OXEL TELNET SERVER\r\n" + caption + "\r\n";
        if (!sys.empty()) remote += sys + "\r\n";
        remote += stars + "\r\n";
        routes.remote(remote.data(), remote.size());
    }
    if (!routes.console || !routes.console(caption, sys))
        ShowBox(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL, caption, sys.empty() ? text : sys);
    errno = err;
}

void ErrorReportCode(int code, const char* text) {
    if (code > 0)
        ShowBox(MB_OK | MB_ICONERROR, std::string("ERROR: ") + text, std::strerror(code));
    else
        ShowBox(MB_OK | MB_ICONERROR, "ERROR", text);
}

int OxelMessageBox(const char* title, const char* fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) buf[0] = 0;
    ShowBox(MB_OK | MB_SYSTEMMODAL, title, buf);
    return n < 0 ? 0 : std::min<int>(n, sizeof buf - 1);
}

int OxelMessageBoxStyle(unsigned style, const char* title, const char* fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    if (std::vsnprintf(buf, sizeof buf, fmt, ap) < 0) buf[0] = 0;
    va_end(ap);
    return ShowBox(style | MB_SYSTEMMODAL, title, buf);
}

NoWaitScope::NoWaitScope() { ++t_noWait; }
NoWaitScope::~NoWaitScope() { --t_noWait; }
bool InNoWaitScope() { return t_noWait > 0; }

void PostMessageBox(unsigned style, const std::string& title, const std::string& text) {
    BoxQueue& q = Boxes();
    std::lock_guard l(q.mu);
    q.boxes.push_back({style, title, text});
    if (!q.worker.Running()) q.worker.Start(ShowPostedBoxes);
    q.cv.notify_all();
}

bool FlushPostedBoxes(int ms) {
    BoxQueue& q = Boxes();
    std::unique_lock l(q.mu);
    return q.cv.wait_for(l, std::chrono::milliseconds(ms), [&] { return q.boxes.empty() && !q.showing; });
}

void ProgramExitAddStep(void (*step)()) {
    std::lock_guard l(g_mu);
    g_exitSteps.push_back(step);
}

void ProgramExit(int code) {
    std::vector<void (*)()> steps;
    {
        std::lock_guard l(g_mu);
        steps = g_exitSteps;
    }
    for (auto step : steps) step();
    std::fflush(nullptr);
    std::_Exit(code);
}

void RequestShutdown(int code) { ui().Quit(code); }
