// oxel-cli's console ends: standard input into the typed-character path, and
// the screen dump at exit.
#pragma once

// Starts reading standard input (raw mode on a terminal; Ctrl-] then q quits).
void CliStartInput();
// At exit: writes the whole-buffer text to OXEL_SCREEN_DUMP when it is set.
void CliAtExit();
