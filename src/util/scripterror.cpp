// The running command's error text, per thread. Kept apart from the option
// parser's plain per-thread integers: a thread_local with a constructor in
// the same file makes every access to those go through an initialiser that
// the undefined-behaviour checker trips over.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "util/cmdline.h"

namespace {
thread_local std::string t_error;
}  // namespace

void script_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char buf[2048];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    t_error = buf;
}

std::string ScriptErrorText() { return t_error; }
void ScriptErrorClear() { t_error.clear(); }
