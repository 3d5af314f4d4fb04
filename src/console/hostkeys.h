// The function keys of the terminal oxel-cli runs in, as the escape
// sequences that terminal sends for them.
#pragma once

#include <cstddef>

struct HostKey {
    int fkey = 0;       // 1..12, 0 when the bytes do not begin with a function key
    size_t length = 0;  // bytes the key took
};

// Looks at the start of data: F1-F4 as ESC O P..S (xterm) or ESC [ [ A..E
// (Linux console, F1-F5), F5-F12 as ESC [ 15~ .. 24~ (modifier forms such
// as ESC [ 15;2~ and ESC [ 1;2P included). A sequence cut short is no key.
HostKey ScanHostKey(const char* data, size_t len);
