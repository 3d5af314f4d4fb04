// The keyboard path: key-down messages, typed characters (LINEMODE, the
// hex-entry editor, read-only), pastes and the byte-by-byte character delay.
#pragma once

#include <cstdint>

#include <cstddef>

// Keys of the key-down table, as the faces report them.
enum ConsoleKeyCode {
    CK_UP = 1,
    CK_DOWN,
    CK_RIGHT,
    CK_LEFT,
    CK_HOME,
    CK_END,
    CK_PRIOR,
    CK_NEXT,
    CK_DELETE,
    CK_PAUSE,
    CK_F1,
    CK_F12 = CK_F1 + 11,
    CK_OTHER,
};

// A key-down in the console. Returns true when the key was handled and sent:
// the character the same key produces is then ignored.
bool KeyboardKeyDown(int key);
// A typed character.
void KeyboardChar(char ch);

// Paste (command 432) and paste with newline (477) from the clipboard.
void KeyboardPaste(bool withNewline);
bool KeyboardPasteBusy();
// Waits for a running paste to finish (shutdown, tests).
void KeyboardPasteWait();

// Byte-by-byte send with DELAY_BETWEEN_CHARS between bytes; stops at the
// first failed write. Returns the number of bytes written.
size_t SendDelayed(const char* data, size_t len);

// A key-down that a waiting script (SLEEP -K) takes: returns true to consume.
using KeyConsumerFn = bool (*)(int key);
void KeyboardSetKeyConsumer(KeyConsumerFn fn);
// Mouse clicks in the console, counted for SLEEP -M.
void KeyboardNoteClick();
uint64_t KeyboardClicks();
// Function keys F1-F12 (n = 1..12) are run by the function-key module.
using FkeyFn = void (*)(int n);
void KeyboardSetFkeyHandler(FkeyFn fn);

// Registers Paste, PasteWithNewline, RtBtnIsPaste and Readonly.
void KeyboardRegisterCommands();
// Empties the typed-line and hex-entry buffers (tests).
void KeyboardReset();
