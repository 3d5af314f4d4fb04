// The screen buffer and scroll-back: rows x columns one-byte cells with two
// parallel colour arrays, the cursor, the plain text writer, view scrolling,
// the scroll-capture ring and the text extraction used by copy and edit.
//
// Rows are kept as a ring (a top-row offset) so that a line feed on the last
// row costs one row of work, not a move of the whole history. Row numbers in
// this interface are logical: 0 is the oldest buffer row, rows-1 the last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Allocates the buffer (rows x cols cells) once at start-up and registers the
// console's main-window commands.
int ConsoleInit(int bufferRows, int bufferCols);
// True once ConsoleInit allocated the buffer.
bool ConsoleReady();
// Takes the loaded configuration: per-cell colour mode from CHAR_ATTRIBUTES,
// the cell colours when the configured colours changed, the ring size.
void ConsoleApplyConfig();

// The console output entry for text without VT100 processing. Returns 0 when
// the main window is not initialised (bytes dropped), else 1.
int ConsoleWritePlain(const char* data, size_t len);
// Writes to the console without VT100 processing, after the standard log.
// Returns the length, or -1 when memory is short.
int console_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// True between the end of start-up and the start of shutdown; console output
// is discarded while it is false.
bool FrameInitialised();
void SetFrameInitialised(bool on);
// The same writer without handing the bytes to the display face again: for
// the VT100 emulator, whose input the face has already seen.
int ConsoleWriteInternal(const char* data, size_t len);

// The program's own text (console_printf): what is written before the main
// window is initialised (a start-up script printing while the frame is still
// being set up) is kept, up to 256 KB, and shown first once it is.
int ConsoleWriteText(const char* data, size_t len);
// Shows the kept text; start-up calls it once the frame is initialised.
void ConsoleShowHeld();

// Clear: flush capture, blank the buffer, reset the colours, cursor at column
// 0 of the last buffer row.
void ConsoleClear();
// The view jumps to the bottom, the cursor row becomes the last buffer row.
void ConsoleScrollToBottom();
// A key press or a paste ends an active capture: bottom, offset 0, flush.
void ConsoleEndCapture();

// Geometry.
int ConsoleBufferRows();
int ConsoleBufferCols();
int ConsoleLines();   // visible rows (LINES)
int ConsoleCols();    // visible columns (COLS)

// Cursor (logical buffer row; column may equal COLS).
struct ConsoleCursor {
    int row, col;
};
ConsoleCursor ConsoleGetCursor();
void ConsoleSetCursor(int row, int col);

// The one indexing helper: the cell index of a logical (row, col) in the
// arrays (row-major storage, rotated by the ring offset).
size_t ConsoleCellIndex(int row, int col);
size_t ConsoleCellCount();

// Colours (0x00BBGGRR). The configured ones fall back to the system colours.
uint32_t ConsoleTextColour();
uint32_t ConsoleBackgroundColour();
uint32_t ConsoleCurrentFg();
uint32_t ConsoleCurrentBg();
void ConsoleSetCurrentColours(uint32_t fg, uint32_t bg);
// Per-cell colour mode (CHAR_ATTRIBUTES, or a highlighted selection).
bool ConsolePerCellColours();
void ConsoleSetPerCellColours(bool on);
// Cell colours = current colours / the two swapped; an index past the cell
// count is ignored.
void ConsoleSetCellColours(size_t cell);
void ConsoleSetCellInverse(size_t cell);
// Every cell and the current colours back to the configured colours.
void ConsoleResetColours();

// Editing primitives for the emulator (each takes the console write mutex).
// Blanks the cells from (row0, col0) up to, not including, (row1, col1) in
// reading order; resetBg also sets their backgrounds to the configured one.
void ConsoleBlankRange(int row0, int col0, int row1, int col1, bool resetBg);
// Fills the whole buffer with ch (the video alignment test, clear screen).
void ConsoleFillAll(char ch, bool resetBg);

// One row's text (buffer columns wide); for tests and extraction.
std::string ConsoleRowText(int row);
// Copies a row's cells and colours out under the write mutex; cols cells.
void ConsoleCopyRow(int row, char* text, uint32_t* fg, uint32_t* bg, int cols);
// Bumped on every change; the view repaints when it moved.
uint64_t ConsoleGeneration();
// BEL bytes written while NOBEEP was off; the view beeps when it moved.
uint64_t ConsoleBeeps();

// Scroll-capture ring.
void ConsoleCaptureBegin();
void ConsoleCaptureFlush();
bool ConsoleCapturing();
size_t ConsoleCapturedCount();
std::string ConsoleCopyCaptured();
void ConsoleResizeRing(int size);

// View scrolling and sizing, in pixels.
enum ConsoleScrollRequest {
    SCROLL_LINEUP,
    SCROLL_LINEDOWN,
    SCROLL_PAGEUP,
    SCROLL_PAGEDOWN,
    SCROLL_THUMB,
    SCROLL_TOP,
    SCROLL_BOTTOM,
};
void ConsoleScrollView(ConsoleScrollRequest req, int thumbPos = 0);
// One mouse-wheel notch: down for a negative delta, else up.
void ConsoleWheel(int delta);
int ConsoleScrollPos();
int ConsoleScrollMax();
int ConsoleScrollOffset();
// Character metrics (the face measures its font).
void ConsoleSetMetrics(int charWidth, int charHeight);
int ConsoleCharWidth();
int ConsoleCharHeight();
// Console area resize (0 x 0 reuses the last size): LINES/COLS follow.
void ConsoleResize(int width, int height);
// A face without pixels (the terminal) sizes in characters.
void ConsoleResizeChars(int lines, int cols);
// The main window is minimised: LINES/COLS are kept.
void ConsoleSetMinimised(bool on);
int ConsoleClientWidth();
int ConsoleClientHeight();

// Text extraction. Whole buffer: rows joined by eol, trailing blanks cut,
// followed by the captured ring bytes. Visible screen: "\n" between rows;
// an all-blank screen shows "Nothing To Edit" and returns false.
std::string ConsoleBufferText(const char* eol = "\r\n");
bool ConsoleScreenText(std::string* out);

// FONTINFO "height,width,weight,face"; "0,0,0,0" is the system fixed font.
struct ConsoleFontInfo {
    int height = 0, width = 0, weight = 0;
    std::string face;
};
bool ConsoleParseFontInfo(const char* text, ConsoleFontInfo* out);
std::string ConsoleFormatFontInfo(const ConsoleFontInfo& f);
bool ConsoleFontIsDefault(const ConsoleFontInfo& f);
