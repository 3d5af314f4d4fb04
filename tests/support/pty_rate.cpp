// Apart from pty_board.cpp: the kernel's termios2 cannot share a file with
// the C library's termios.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "pty_board.h"

unsigned PtyBoard::LineRate() const {
    struct termios2 t {};
    return ioctl(master, TCGETS2, &t) == 0 ? t.c_ospeed : 0;
}

unsigned PtyBoard::LineCflag() const {
    struct termios2 t {};
    return ioctl(master, TCGETS2, &t) == 0 ? t.c_cflag : 0;
}
