// oxel-cli's console ends: standard input into the typed-character path, and
// the screen dump at exit.
#pragma once

// Starts reading standard input (raw mode on a terminal; Ctrl-] then q quits).
void CliStartInput();
// Stops taking keys: before shutdown, so that nothing typed meanwhile writes
// to (or asks to reopen) a backend that is being closed.
void CliStopInput();
// At exit (input stopped first): writes the whole-buffer text to OXEL_SCREEN_DUMP when it is set.
void CliAtExit();
