// The VT100 emulator: a byte-at-a-time state machine between the received-
// data path and the screen buffer. Plain text goes to the plain writer; the
// two queries it answers are replied to through the backend.
#pragma once

#include <cstddef>

enum Vt100StateId {
    VTSTATE_NULL = 0,
    VTSTATE_ESCAPE,
    VTSTATE_OBRACKET,
    VTSTATE_COUNTROW,
    VTSTATE_COLUMN,
    VTSTATE_NONSTANDARDFONT,
    VTSTATE_NEWMODE,
    VTSTATE_CBRACKET,
    VTSTATE_XSEMI,
    VTSTATE_XSTRING,
    VTSTATE_VALIGN,
};

// Feeds bytes for display. With VT100_EMULATION off, or while the main
// window's menu is open, the block goes to the plain writer unchanged.
void Vt100Feed(const char* data, size_t len);
// The front end tells whether the main window's menu is open.
void Vt100SetMenuOpen(bool open);
int Vt100State();
const char* Vt100StateName(int state);
// Back to the start-of-run state (ground, 1-based, no anchor); for tests.
void Vt100Reset();
