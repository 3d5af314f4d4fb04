#include "log/srvrtrace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "config/configrecord.h"
#include "platform/ui.h"

// Minimal trace until the full pane lands: the category test, then one line.
namespace {
std::mutex g_mu;
std::string g_text;
}

int TracePrintf(uint32_t mask, const char* fmt, ...) {
    if (!(mask & (g_cfg.TRACEFLAGS | TRC_ALWAYS))) return 0;
    char buf[4096];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    std::lock_guard l(g_mu);
    g_text += buf;
    return n;
}

void TraceInit() {}
void TraceInsertBlank() { TracePrintf(TRC_ALWAYS, "\n"); }
void TraceClear() { std::lock_guard l(g_mu); g_text.clear(); }
void TraceToggleVisible() {}
int TraceOpenFile(const char*) { return 0; }
std::string TraceText() { std::lock_guard l(g_mu); return g_text; }
void TraceRefreshCaption() {}
