// printf-style formatting into a std::string: the one formatter the program uses.
#pragma once

#include <cstdarg>
#include <string>

std::string StrFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string VStrFormat(const char* fmt, va_list ap);
