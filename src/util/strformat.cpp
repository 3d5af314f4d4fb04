#include "util/strformat.h"

#include <cstdio>

std::string VStrFormat(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0) return {};
    std::string s(static_cast<size_t>(n), '\0');
    std::vsnprintf(s.data(), s.size() + 1, fmt, ap);
    return s;
}

std::string StrFormat(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = VStrFormat(fmt, ap);
    va_end(ap);
    return s;
}
