#include "servers/tab_tftp.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "log/logging.h"
#include "log/srvrtrace.h"

namespace {

std::mutex g_mu;
std::array<std::string, kTftpPaneLines> g_lines;  // each begins with CR LF
int g_oldest = 0;
bool g_ready = false;

void ResetLocked() {
    g_lines.fill("\r\n");
    g_oldest = 0;
    g_ready = true;
}

}  // namespace

void TftpPaneLine(const char* fmt, ...) {
    char msg[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    std::string text(msg);
    size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    // A peer chooses the names and modes that end up here: a long one is cut,
    // never allowed to stop the server with a question.
    std::string line = "\r\n" + TimestampBracketed(-1) + ": " + text;
    if (line.size() > kTftpPaneLineMax) line.resize(kTftpPaneLineMax);
    {
        std::lock_guard l(g_mu);
        if (!g_ready) ResetLocked();
        g_lines[static_cast<size_t>(g_oldest)] = line;
        g_oldest = (g_oldest + 1) % kTftpPaneLines;
    }
    TracePrintf(TRC_TFTP, "%s", text.c_str());
}

std::string TftpPaneText() {
    std::lock_guard l(g_mu);
    if (!g_ready) ResetLocked();
    std::string all;
    for (int i = 0; i < kTftpPaneLines; ++i) all += g_lines[static_cast<size_t>((g_oldest + i) % kTftpPaneLines)];
    return all;
}

void TftpPaneClear() {
    std::lock_guard l(g_mu);
    ResetLocked();
}
