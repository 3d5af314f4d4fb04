#include "console/hostkeys.h"

#include <cstring>

namespace {

// ESC [ n ~ numbers of F5..F12 (and F1..F4 on some terminals).
const struct { int code; int fkey; } kTildeCodes[] = {
    {11, 1}, {12, 2}, {13, 3}, {14, 4}, {15, 5}, {17, 6},
    {18, 7}, {19, 8}, {20, 9}, {21, 10}, {23, 11}, {24, 12},
};

int FkeyOfLetter(char c) { return c >= 'P' && c <= 'S' ? c - 'P' + 1 : 0; }

// After ESC [: digits, an optional ";modifier", then "~" or (for "1;m") P..S.
HostKey ScanCsi(const char* d, size_t len) {
    size_t i = 2;
    int code = 0;
    while (i < len && i < 6 && d[i] >= '0' && d[i] <= '9') code = code * 10 + (d[i++] - '0');
    if (i == 2) return {};
    if (i < len && d[i] == ';') {
        size_t m = ++i;
        while (i < len && i < m + 3 && d[i] >= '0' && d[i] <= '9') ++i;
        if (i == m) return {};
    }
    if (i >= len) return {};
    if (d[i] == '~') {
        for (const auto& t : kTildeCodes)
            if (t.code == code) return {t.fkey, i + 1};
        return {};
    }
    if (code == 1 && FkeyOfLetter(d[i])) return {FkeyOfLetter(d[i]), i + 1};
    return {};
}

}  // namespace

HostKey ScanHostKey(const char* d, size_t len) {
    if (len < 3 || d[0] != 0x1B) return {};
    if (d[1] == 'O' && FkeyOfLetter(d[2])) return {FkeyOfLetter(d[2]), 3};
    if (d[1] != '[') return {};
    if (d[2] == '[') {
        if (len >= 4 && d[3] >= 'A' && d[3] <= 'E') return {d[3] - 'A' + 1, 4};
        return {};
    }
    return ScanCsi(d, len);
}
