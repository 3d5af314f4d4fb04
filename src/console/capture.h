// The console's text leaving the program: clipboard copies (whole buffer,
// visible screen, mouse selection, double-clicked word), the editor hand-off
// through temporary files, and the buffer saved for the FILE command.
#pragma once

#include <string>

// Copy Screen Buffer (429) / Copy Screen Only (438).
int CpyScrnBfrToClipbrd();
int CpyScrnOnlyToClipbrd();
// Edit Screen Buffer (466) / Edit Screen Only (467) / Editor (430).
int EditScreenBuffer();
int EditScreenOnly();
int EditorStart();
// FILE command: the whole buffer, "\n" between rows; a blank buffer leaves the
// file untouched. 1 written (or nothing to write), 0 failed.
int SaveBufferText(const std::string& path);

// Mouse selection in the console, in console-client pixels.
void CaptureMouseDown(int x, int y);
void CaptureMouseMove(int x, int y);
void CaptureMouseUp();
void CaptureDoubleClick(int x, int y);
bool CaptureSelecting();
// The text a selection between two logical cell indices copies.
std::string CaptureSelectionText(long from, long to);
// The word around a logical cell index ("" on a blank).
std::string CaptureWordAt(long index, long* first = nullptr, long* last = nullptr);

// Registers 429, 438, 466, 467 and 430.
void CaptureRegisterCommands();
