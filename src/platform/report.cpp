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

#include "platform/ui.h"
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
        ui().MessageBox(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL, caption, sys.empty() ? text : sys);
    errno = err;
}

void ErrorReportCode(int code, const char* text) {
    if (code > 0)
        ui().MessageBox(MB_OK | MB_ICONERROR, std::string("ERROR: ") + text, std::strerror(code));
    else
        ui().MessageBox(MB_OK | MB_ICONERROR, "ERROR", text);
}

int OxelMessageBox(const char* title, const char* fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) buf[0] = 0;
    ui().MessageBox(MB_OK | MB_SYSTEMMODAL, title, buf);
    return n < 0 ? 0 : std::min<int>(n, sizeof buf - 1);
}

int OxelMessageBoxStyle(unsigned style, const char* title, const char* fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    if (std::vsnprintf(buf, sizeof buf, fmt, ap) < 0) buf[0] = 0;
    va_end(ap);
    return ui().MessageBox(style | MB_SYSTEMMODAL, title, buf);
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
