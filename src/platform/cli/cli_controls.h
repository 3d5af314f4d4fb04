// The live controls of oxel-cli on a terminal: Ctrl-] then a key (Ctrl-] ?
// lists them), the host terminal's F1-F12 keys, and the one-line prompts a
// few controls ask (a baud rate, a script, a button number).
#pragma once

#include <cstddef>

// Takes what the terminal sent; bytes that are no control go to the typed-
// character path. False when the user asked to quit.
bool CliControlsInput(const char* data, size_t len);
