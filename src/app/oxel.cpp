#include "app/oxel.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "log/logging.h"
#include "platform/ui.h"

#define OXEL_MODULE "oxel"

namespace {

std::string g_installDir;
std::atomic<bool> g_initialised{false};

std::string ExecutableDir() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = 0;
    std::string s(path);
    auto slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

std::string VFormat(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0) return {};
    std::string s(static_cast<size_t>(n), '\0');
    std::vsnprintf(s.data(), s.size() + 1, fmt, ap);
    return s;
}

}  // namespace

std::string InstallDir() {
    if (g_installDir.empty()) {
        const char* home = std::getenv("OXEL_HOME");
        g_installDir = home && *home ? home : ExecutableDir();
    }
    return g_installDir;
}

void SetInstallDir(const std::string& dir) { g_installDir = dir; }

bool FrameInitialised() { return g_initialised.load(); }
void SetFrameInitialised(bool on) { g_initialised.store(on); }

void OxelFrameTick() {}

void ErrorReport(const char* file, int line, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = VFormat(fmt, ap);
    va_end(ap);
    const char* sys = errno ? std::strerror(errno) : nullptr;
    char caption[512];
    if (sys)
        std::snprintf(caption, sizeof caption, "ERROR (%s %d SVN[%d]): %s", file, line, 1437, text.c_str());
    else
        std::snprintf(caption, sizeof caption, "ERROR (%s %d SVN[%d])", file, line, 1437);
    ui().MessageBox(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL, caption, sys ? sys : text);
}

void ErrorReportCode(int code, const char* text) {
    const char* sys = code ? std::strerror(code) : nullptr;
    if (sys)
        ui().MessageBox(MB_OK | MB_ICONERROR, std::string("ERROR: ") + text, sys);
    else
        ui().MessageBox(MB_OK | MB_ICONERROR, "ERROR", text);
}

int OxelMessageBox(const char* title, const char* fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    ui().MessageBox(MB_OK | MB_SYSTEMMODAL, title, buf);
    return n < 0 ? 0 : std::min<int>(n, sizeof buf - 1);
}

int OxelMessageBoxStyle(unsigned style, const char* title, const char* fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return ui().MessageBox(style | MB_SYSTEMMODAL, title, buf);
}

int console_printf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = VFormat(fmt, ap);
    va_end(ap);
    LogWrite(s.data(), s.size());
    ConsoleWritePlain(s.data(), s.size());
    return static_cast<int>(s.size());
}

void ProgramExit(int code) {
    SetFrameInitialised(false);
    LogClose();
    std::fflush(nullptr);
    std::_Exit(code);
}

void RequestShutdown(int code) {
    ui().Quit(code);
}

int OxelStart(int argc, char** argv, Ui& face) {
    UiSet(&face);
    InstallDir();
    ConfigInitDefaults();
    CFG_SET_STRING(g_cfg.TITLEBAR, "Oxel");
    face.SetTitle(g_cfg.TITLEBAR);
    SetFrameInitialised(true);
    return -1;
}

void OxelShutdown() {
    SetFrameInitialised(false);
    LogClose();
}
