#include "console/screenbuf.h"
#include "util/cmdids.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "util/commands.h"
#include "log/logging.h"
#include "platform/report.h"
#include "util/strformat.h"
#include "config/configrecord.h"
#include "console/keyboard.h"
#include "log/srvrtrace.h"
#include "platform/ui.h"
#include "config/shellvar.h"

#define OXEL_MODULE "screenbuf"

namespace {

constexpr uint32_t kSystemText = 0x000000;
constexpr uint32_t kSystemWindow = 0xFFFFFF;
constexpr int kMinRing = 0x8000;

// The console state: buffer, colours, cursor and view. Guarded by g_mu (the
// console write mutex) except the view fields, which the UI thread owns.
std::mutex g_mu;
int g_rows = 0, g_cols = 0;
int g_top = 0;                      // physical row of logical row 0
std::vector<char> g_cells;
std::vector<uint32_t> g_fg, g_bg;
int g_curRow = 0, g_curCol = 0;
uint32_t g_curFg = kSystemText, g_curBg = kSystemWindow;
std::atomic<bool> g_perCell{false};
std::atomic<int> g_lines{40}, g_colsVisible{80};
std::atomic<uint64_t> g_generation{0}, g_beeps{0};

// View, in pixels.
std::atomic<int> g_charW{8}, g_charH{16};
std::atomic<int> g_clientW{0}, g_clientH{0};
std::atomic<int> g_scrollPos{0}, g_scrollMax{0};
std::atomic<bool> g_minimised{false};

// Scroll-capture ring, guarded by g_ringMu (taken before g_mu, never after).
std::mutex g_ringMu;
std::vector<char> g_ring;
size_t g_ringIndex = 0;
uint64_t g_ringCount = 0;
bool g_capturing = false, g_warned = false;
std::atomic<bool> g_ringBusy{false};   // capturing, or bytes waiting

// Bytes that the plain writer treats specially; everything else (0x80-0xFF
// included) is printable.
bool IsPlainControl(unsigned char b) {
    return b == 0x00 || b == 0x07 || b == 0x08 || b == 0x09 || b == 0x0A || b == 0x0D;
}

size_t Cell(int row, int col) {
    int phys = g_top + row;
    if (phys >= g_rows) phys -= g_rows;
    return static_cast<size_t>(phys) * g_cols + col;
}

void Touch() {
    g_generation.fetch_add(1, std::memory_order_relaxed);
    ui().ConsoleInvalidate();
}

void FillRowColours(int row) {
    size_t i = Cell(row, 0);
    std::fill_n(g_fg.begin() + i, g_cols, ConsoleTextColour());
    std::fill_n(g_bg.begin() + i, g_cols, ConsoleBackgroundColour());
}

// Line feed (g_mu held): down one row, or on the last row advance the ring
// top and blank the row that comes in at the bottom.
void LineFeedLocked() {
    if (g_curRow < g_rows - 1) {
        ++g_curRow;
        return;
    }
    g_top = g_top + 1 == g_rows ? 0 : g_top + 1;
    size_t last = Cell(g_rows - 1, 0);
    std::memset(&g_cells[last], ' ', g_cols);
    if (g_perCell.load(std::memory_order_relaxed)) FillRowColours(g_rows - 1);
}

void PutLocked(unsigned char b) {
    int col = std::min(g_curCol, g_cols - 1);   // a column at COLS == buffer columns stays in its row
    size_t i = Cell(g_curRow, col);
    g_fg[i] = g_curFg;
    g_bg[i] = g_curBg;
    g_cells[i] = static_cast<char>(b);
    if (g_curCol < g_colsVisible.load(std::memory_order_relaxed)) ++g_curCol;
}

// A printable byte as the writer's table has it: wrap first when the cursor
// sits at COLS and AUTOWRAP is on ("\r\n" through the writer).
void PrintableLocked(unsigned char b) {
    if (g_cfg.AUTOWRAP && g_curCol == g_colsVisible.load(std::memory_order_relaxed)) {
        g_curCol = 0;
        if (g_cfg.NEWLINE) LineFeedLocked();
        LineFeedLocked();
    }
    PutLocked(b);
}

void WriteScreenLocked(const unsigned char* p, size_t len) {
    const int colsVisible = g_colsVisible.load(std::memory_order_relaxed);
    const bool autowrap = g_cfg.AUTOWRAP != 0;
    const bool newline = g_cfg.NEWLINE != 0;
    for (size_t k = 0; k < len; ++k) {
        unsigned char b = p[k];
        if (!IsPlainControl(b)) {
            if (autowrap && g_curCol == colsVisible) {
                g_curCol = 0;
                if (newline) LineFeedLocked();
                LineFeedLocked();
            }
            // A run of printables within the row goes in one sweep.
            size_t i = Cell(g_curRow, std::min(g_curCol, g_cols - 1));
            if (g_curCol < colsVisible) {
                size_t room = static_cast<size_t>(colsVisible - g_curCol);
                size_t n = 1;
                while (n < room && k + n < len && !IsPlainControl(p[k + n])) ++n;
                std::memcpy(&g_cells[i], p + k, n);
                std::fill_n(g_fg.begin() + i, n, g_curFg);
                std::fill_n(g_bg.begin() + i, n, g_curBg);
                g_curCol += static_cast<int>(n);
                k += n - 1;
            } else {
                PutLocked(b);
            }
            continue;
        }
        switch (b) {
        case 0x00:
            break;
        case 0x07:
            if (!g_cfg.NOBEEP) g_beeps.fetch_add(1, std::memory_order_relaxed);
            break;
        case 0x08:
            if (g_curCol > 0) --g_curCol;
            break;
        case 0x09: {
            int tab = g_cfg.TABSTOP > 0 ? g_cfg.TABSTOP : 1;
            PrintableLocked(' ');
            // Stops when the column no longer moves (wrap off, cursor at COLS).
            while (g_curCol % tab != 0) {
                int before = g_curCol;
                PrintableLocked(' ');
                if (g_curCol == before) break;
            }
            break;
        }
        case 0x0A:
            LineFeedLocked();
            break;
        case 0x0D:
            g_curCol = 0;
            if (newline) LineFeedLocked();
            break;
        }
    }
}

void WriteScreen(const char* data, size_t len) {
    {
        std::lock_guard l(g_mu);
        if (g_cells.empty()) return;
        WriteScreenLocked(reinterpret_cast<const unsigned char*>(data), len);
    }
    Touch();
}

void CaptureLocked(const char* data, size_t len) {
    const size_t size = g_ring.size();
    if (g_ringCount + len > size && !g_warned) {
        TracePrintf(TRC_DEBUG, "NOTICE: Active vertical scroll causing buffer overflow");
        g_warned = true;
    }
    g_ringCount += len;
    while (len > 0) {
        if (g_ringIndex == size) g_ringIndex = 0;
        size_t n = std::min(len, size - g_ringIndex);
        std::memcpy(&g_ring[g_ringIndex], data, n);
        g_ringIndex += n;
        data += n;
        len -= n;
    }
}

void FlushLocked() {
    g_capturing = false;
    if (g_ringCount > 0) {
        const size_t size = g_ring.size();
        if (g_ringCount >= size) {
            char note[200];
            int n = std::snprintf(note, sizeof note,
                                  "\r\n*****\r\n***** Oxel msg: Buffer overflow (%d bytes lost) during vertical "
                                  "scroll *****\r\n*****\r\n",
                                  static_cast<int>(g_ringCount - size));
            ui().ConsoleBytes(note, static_cast<size_t>(n));
            WriteScreen(note, static_cast<size_t>(n));
            WriteScreen(g_ring.data() + g_ringIndex, size - g_ringIndex);
            WriteScreen(g_ring.data(), g_ringIndex);
        } else {
            WriteScreen(g_ring.data(), static_cast<size_t>(g_ringCount));
        }
    }
    g_ringIndex = 0;
    g_ringCount = 0;
    g_ringBusy = false;
}

void AllocRingLocked(size_t size) {
    try {
        g_ring.assign(size, 0);
    } catch (const std::bad_alloc&) {
        ERROR_REPORT("VScroll malloc");
        ProgramExit(1);
    }
    g_ringIndex = 0;
    g_ringCount = 0;
}

void SetVisibleSize(int lines, int cols) {
    lines = std::clamp(lines, 1, std::max(1, g_rows));
    cols = std::clamp(cols, 1, std::max(1, g_cols));
    g_lines = lines;
    g_colsVisible = cols;
    shell_sprintf("LINES", "%d", lines);
    shell_sprintf("COLS", "%d", cols);
}

void SetFontDefault() {
    CFG_SET_STRING(g_cfg.FONTINFO, "0,0,0,0");
    ui().Relayout();
}

void RegisterCommands() {
    CommandRegister({CMD_CLEAR_CONSOLE, "&Edit", "ClearConsole", [] { ConsoleClear(); }});
    CommandRegister({CMD_FONT_SET, "&Config/Console &Font", "Set Font", [] { ui().ShowDialog("Console Font"); }});
    CommandRegister({CMD_FONT_DEFAULT, "&Config/Console &Font", "Restore Default", [] { SetFontDefault(); }});
    KeyboardRegisterCommands();
}

}  // namespace

int ConsoleInit(int bufferRows, int bufferCols) {
    bufferRows = std::max(bufferRows, 2);
    bufferCols = std::max(bufferCols, 2);
    {
        std::lock_guard l(g_mu);
        if (g_cells.empty()) {
            const size_t n = static_cast<size_t>(bufferRows) * bufferCols;
            g_rows = bufferRows;
            g_cols = bufferCols;
            g_cells.assign(n, ' ');
            g_fg.assign(n, ConsoleTextColour());
            g_bg.assign(n, ConsoleBackgroundColour());
        }
        g_top = 0;
        g_curRow = g_rows - 1;
        g_curCol = 0;
        g_curFg = ConsoleTextColour();
        g_curBg = ConsoleBackgroundColour();
    }
    g_lines = std::clamp(g_cfg.CONSOLE_ROWS > 0 ? g_cfg.CONSOLE_ROWS : 40, 1, g_rows);
    g_colsVisible = std::clamp(g_cfg.CONSOLE_COLS > 0 ? g_cfg.CONSOLE_COLS : 80, 1, g_cols);
    g_perCell = g_cfg.CHAR_ATTRIBUTES != 0;
    RegisterCommands();
    return 1;
}

void ConsoleApplyConfig() {
    static uint32_t appliedFg = 0, appliedBg = 0;
    static bool applied = false;
    g_perCell = g_cfg.CHAR_ATTRIBUTES != 0;
    if (!applied || appliedFg != ConsoleTextColour() || appliedBg != ConsoleBackgroundColour()) {
        applied = true;
        appliedFg = ConsoleTextColour();
        appliedBg = ConsoleBackgroundColour();
        ConsoleResetColours();
    }
    // Zero: no configuration has been read yet (the defaults give 32768).
    if (g_cfg.VSCROLL_BUFSIZ > 0) ConsoleResizeRing(g_cfg.VSCROLL_BUFSIZ);
}

bool ConsoleReady() {
    std::lock_guard l(g_mu);
    return !g_cells.empty();
}

int ConsoleWritePlain(const char* data, size_t len) {
    if (!FrameInitialised()) return 0;
    ui().ConsoleBytes(data, len);
    return ConsoleWriteInternal(data, len);
}

namespace {

constexpr size_t kHeldMax = 256 * 1024;
std::mutex g_heldMu;                   // taken before the screen's own locks
std::string g_held;
std::atomic<bool> g_heldAny{false};    // cleared only after the text is shown

// With g_heldMu held. Writers that find text kept wait on the lock, so what
// was kept is always shown before anything written later.
void ShowHeldLocked() {
    if (!g_heldAny.load() || !FrameInitialised()) return;
    std::string text;
    text.swap(g_held);
    ConsoleWritePlain(text.data(), text.size());
    g_heldAny = false;
}

}  // namespace

int ConsoleWriteText(const char* data, size_t len) {
    if (FrameInitialised() && !g_heldAny.load()) return ConsoleWritePlain(data, len);
    std::lock_guard l(g_heldMu);
    if (!FrameInitialised()) {
        g_held.append(data, std::min(len, kHeldMax - std::min(kHeldMax, g_held.size())));
        g_heldAny = true;
        return 1;
    }
    ShowHeldLocked();
    return ConsoleWritePlain(data, len);
}

void ConsoleShowHeld() {
    std::lock_guard l(g_heldMu);
    ShowHeldLocked();
}

int ConsoleWriteInternal(const char* data, size_t len) {
    if (!FrameInitialised()) return 0;
    if (g_ringBusy.load(std::memory_order_acquire)) {
        std::lock_guard r(g_ringMu);
        if (g_capturing) {
            CaptureLocked(data, len);
            return 1;
        }
        if (g_ringCount > 0) FlushLocked();
        WriteScreen(data, len);
        return 1;
    }
    WriteScreen(data, len);
    return 1;
}

void ConsoleClear() {
    ConsoleCaptureFlush();
    {
        std::lock_guard l(g_mu);
        if (g_cells.empty()) return;
        std::fill(g_cells.begin(), g_cells.end(), ' ');
        std::fill(g_fg.begin(), g_fg.end(), ConsoleTextColour());
        std::fill(g_bg.begin(), g_bg.end(), ConsoleBackgroundColour());
        g_curFg = ConsoleTextColour();
        g_curBg = ConsoleBackgroundColour();
        g_curRow = g_rows - 1;
        g_curCol = 0;
    }
    Touch();
}

void ConsoleScrollToBottom() {
    g_scrollPos = g_scrollMax.load();
    {
        std::lock_guard l(g_mu);
        g_curRow = std::max(0, g_rows - 1);
    }
    Touch();
}

void ConsoleEndCapture() {
    if (!ConsoleCapturing() && ConsoleScrollOffset() == 0) return;
    ConsoleScrollToBottom();
    ConsoleCaptureFlush();
}

int ConsoleBufferRows() { return g_rows; }
int ConsoleBufferCols() { return g_cols; }
int ConsoleLines() { return g_lines; }
int ConsoleCols() { return g_colsVisible; }

ConsoleCursor ConsoleGetCursor() {
    std::lock_guard l(g_mu);
    return {g_curRow, g_curCol};
}

void ConsoleSetCursor(int row, int col) {
    {
        std::lock_guard l(g_mu);
        g_curRow = std::clamp(row, 0, std::max(0, g_rows - 1));
        g_curCol = std::clamp(col, 0, g_colsVisible.load());
    }
    Touch();
}

size_t ConsoleCellIndex(int row, int col) {
    std::lock_guard l(g_mu);
    if (row < 0 || row >= g_rows || col < 0 || col >= g_cols) return g_cells.size();
    return Cell(row, col);
}

size_t ConsoleCellCount() { return static_cast<size_t>(g_rows) * g_cols; }

uint32_t ConsoleTextColour() { return g_cfg.TEXT_COLOR ? g_cfg.TEXT_COLOR : kSystemText; }
uint32_t ConsoleBackgroundColour() { return g_cfg.BACKGROUND_COLOR ? g_cfg.BACKGROUND_COLOR : kSystemWindow; }

uint32_t ConsoleCurrentFg() {
    std::lock_guard l(g_mu);
    return g_curFg;
}
uint32_t ConsoleCurrentBg() {
    std::lock_guard l(g_mu);
    return g_curBg;
}
void ConsoleSetCurrentColours(uint32_t fg, uint32_t bg) {
    std::lock_guard l(g_mu);
    g_curFg = fg;
    g_curBg = bg;
}

bool ConsolePerCellColours() { return g_perCell; }
void ConsoleSetPerCellColours(bool on) {
    g_perCell = on;
    Touch();
}

void ConsoleSetCellColours(size_t cell) {
    std::lock_guard l(g_mu);
    if (cell >= g_cells.size()) return;
    g_fg[cell] = g_curFg;
    g_bg[cell] = g_curBg;
}

void ConsoleSetCellInverse(size_t cell) {
    std::lock_guard l(g_mu);
    if (cell >= g_cells.size()) return;
    g_fg[cell] = g_curBg;
    g_bg[cell] = g_curFg;
}

void ConsoleResetColours() {
    {
        std::lock_guard l(g_mu);
        std::fill(g_fg.begin(), g_fg.end(), ConsoleTextColour());
        std::fill(g_bg.begin(), g_bg.end(), ConsoleBackgroundColour());
        g_curFg = ConsoleTextColour();
        g_curBg = ConsoleBackgroundColour();
    }
    Touch();
}

void ConsoleBlankRange(int row0, int col0, int row1, int col1, bool resetBg) {
    {
        std::lock_guard l(g_mu);
        if (g_cells.empty()) return;
        auto linear = [](int r, int c) {
            r = std::clamp(r, 0, g_rows);
            c = std::clamp(c, 0, g_cols);
            return static_cast<long>(r) * g_cols + c;
        };
        long from = linear(row0, col0), to = std::min(linear(row1, col1), static_cast<long>(g_cells.size()));
        const uint32_t bg = ConsoleBackgroundColour();
        while (from < to) {
            int r = static_cast<int>(from / g_cols), c = static_cast<int>(from % g_cols);
            long n = std::min<long>(to - from, g_cols - c);
            size_t i = Cell(r, c);
            std::memset(&g_cells[i], ' ', static_cast<size_t>(n));
            if (resetBg) std::fill_n(g_bg.begin() + i, n, bg);
            from += n;
        }
    }
    Touch();
}

void ConsoleFillAll(char ch, bool resetBg) {
    {
        std::lock_guard l(g_mu);
        std::fill(g_cells.begin(), g_cells.end(), ch);
        if (resetBg) std::fill(g_bg.begin(), g_bg.end(), ConsoleBackgroundColour());
    }
    Touch();
}

std::string ConsoleRowText(int row) {
    std::lock_guard l(g_mu);
    if (row < 0 || row >= g_rows) return {};
    return std::string(&g_cells[Cell(row, 0)], g_cols);
}

void ConsoleCopyRow(int row, char* text, uint32_t* fg, uint32_t* bg, int cols) {
    std::lock_guard l(g_mu);
    if (row < 0 || row >= g_rows) return;
    size_t n = static_cast<size_t>(std::clamp(cols, 0, g_cols));
    size_t i = Cell(row, 0);
    if (text) std::memcpy(text, &g_cells[i], n);
    if (fg) std::memcpy(fg, &g_fg[i], n * sizeof(uint32_t));
    if (bg) std::memcpy(bg, &g_bg[i], n * sizeof(uint32_t));
}

uint64_t ConsoleGeneration() { return g_generation.load(std::memory_order_relaxed); }
uint64_t ConsoleBeeps() { return g_beeps.load(std::memory_order_relaxed); }

void ConsoleCaptureBegin() {
    std::lock_guard r(g_ringMu);
    if (g_ring.empty()) AllocRingLocked(static_cast<size_t>(std::max(g_cfg.VSCROLL_BUFSIZ.get(), kMinRing)));
    if (!g_capturing) {
        g_capturing = true;
        g_warned = false;
        g_ringIndex = 0;
        g_ringCount = 0;
        g_ringBusy = true;
    }
}

void ConsoleCaptureFlush() {
    if (!g_ringBusy.load()) return;
    std::lock_guard r(g_ringMu);
    FlushLocked();
}

bool ConsoleCapturing() {
    std::lock_guard r(g_ringMu);
    return g_capturing;
}

size_t ConsoleCapturedCount() {
    std::lock_guard r(g_ringMu);
    return static_cast<size_t>(std::min<uint64_t>(g_ringCount, g_ring.size()));
}

std::string ConsoleCopyCaptured() {
    std::lock_guard r(g_ringMu);
    if (g_ringCount == 0) return {};
    if (g_ringCount < g_ring.size()) return std::string(g_ring.data(), static_cast<size_t>(g_ringCount));
    std::string s(g_ring.data() + g_ringIndex, g_ring.size() - g_ringIndex);
    s.append(g_ring.data(), g_ringIndex);
    return s;
}

void ConsoleResizeRing(int size) {
    {
        std::lock_guard r(g_ringMu);
        if (!g_ring.empty() && static_cast<size_t>(size) == g_ring.size()) return;
    }
    if (size < kMinRing) {
        OxelMessageBox("VScroll Size Error", "Minimum VScroll Buf size is %d.", kMinRing);
        size = kMinRing;
    }
    std::lock_guard r(g_ringMu);
    g_cfg.VSCROLL_BUFSIZ = size;
    AllocRingLocked(static_cast<size_t>(size));
    g_ringBusy = g_capturing;
}

void ConsoleScrollView(ConsoleScrollRequest req, int thumbPos) {
    const int pos = g_scrollPos, max = g_scrollMax;
    int change = 0;
    switch (req) {
    case SCROLL_LINEUP: change = -g_charH; break;
    case SCROLL_LINEDOWN: change = g_charH; break;
    case SCROLL_PAGEUP: change = -g_clientH; break;
    case SCROLL_PAGEDOWN: change = g_clientH; break;
    case SCROLL_THUMB: change = thumbPos - pos; break;
    case SCROLL_TOP: change = -pos; break;
    case SCROLL_BOTTOM: change = max - pos; break;
    }
    g_scrollPos = std::clamp(pos + change, 0, max);
    Touch();
    if (ConsoleScrollOffset() != 0)
        ConsoleCaptureBegin();
    else
        ConsoleCaptureFlush();
}

void ConsoleWheel(int delta) { ConsoleScrollView(delta < 0 ? SCROLL_LINEDOWN : SCROLL_LINEUP); }

int ConsoleScrollPos() { return g_scrollPos; }
int ConsoleScrollMax() { return g_scrollMax; }
int ConsoleScrollOffset() { return g_scrollMax - g_scrollPos; }

void ConsoleSetMetrics(int charWidth, int charHeight) {
    g_charW = std::max(1, charWidth);
    g_charH = std::max(1, charHeight);
}
int ConsoleCharWidth() { return g_charW; }
int ConsoleCharHeight() { return g_charH; }
int ConsoleClientWidth() { return g_clientW; }
int ConsoleClientHeight() { return g_clientH; }
void ConsoleSetMinimised(bool on) { g_minimised = on; }

void ConsoleResize(int width, int height) {
    if (width == 0 && height == 0) {
        width = g_clientW;
        height = g_clientH;
    }
    g_clientW = width;
    g_clientH = height;
    g_scrollMax = std::max(0, g_rows * g_charH - height);
    g_scrollPos = std::min(g_scrollPos.load(), g_scrollMax.load());
    if (!g_minimised) {
        if (FrameInitialised())
            SetVisibleSize(height / g_charH, width / g_charW);
        else
            SetVisibleSize(g_cfg.CONSOLE_ROWS, g_cfg.CONSOLE_COLS);
    }
    ConsoleScrollToBottom();
    ConsoleCaptureFlush();
}

void ConsoleResizeChars(int lines, int cols) { ConsoleResize(cols * g_charW, lines * g_charH); }

std::string ConsoleBufferText(const char* eol) {
    std::string out;
    int nulls = 0;
    {
        std::lock_guard l(g_mu);
        int first = -1;
        for (int r = 0; r < g_rows && first < 0; ++r) {
            const char* row = &g_cells[Cell(r, 0)];
            for (int c = 0; c < g_cols; ++c)
                if (row[c] != ' ') {
                    first = r;
                    break;
                }
        }
        if (first >= 0) {
            std::string line;
            for (int r = first; r < g_rows; ++r) {
                line.assign(&g_cells[Cell(r, 0)], g_cols);
                for (char& ch : line)
                    if (ch == 0) {
                        ch = ' ';
                        ++nulls;
                    }
                line.erase(line.find_last_not_of(' ') + 1);
                out += line;
                if (r != g_rows - 1) out += eol;
            }
            // Trailing blanks and the empty rows below the last text go.
            out.erase(out.find_last_not_of(std::string(" ") + eol) + 1);
        }
    }
    if (nulls) TracePrintf(TRC_DEBUG, "CpyScrnBfrToClipbrd(): null tot=%d", nulls);
    out += ConsoleCopyCaptured();
    return out;
}

bool ConsoleScreenText(std::string* out) {
    out->clear();
    const int ch = g_charH, h = g_clientH;
    int visible = h / ch + ((h % ch) > ch / 2 ? 1 : 0);
    {
        std::lock_guard l(g_mu);
        int end = g_rows - ConsoleScrollOffset() / ch;
        end = std::clamp(end, 0, g_rows);
        int start = std::max(0, end - visible);
        int first = -1;
        for (int r = start; r < end && first < 0; ++r) {
            const char* row = &g_cells[Cell(r, 0)];
            for (int c = 0; c < g_cols; ++c)
                if (row[c] != ' ') {
                    first = r;
                    break;
                }
        }
        if (first >= 0) {
            for (int r = first; r < end; ++r) {
                std::string line(&g_cells[Cell(r, 0)], std::min(g_cols, g_colsVisible.load()));
                line.erase(line.find_last_not_of(' ') + 1);
                *out += line;
                if (r != end - 1) *out += "\n";
            }
            out->erase(out->find_last_not_of(" \n") + 1);
        }
    }
    if (out->empty()) {
        OxelMessageBox("Nothing To Edit", "Current viewable screen is blank");
        return false;
    }
    return true;
}

bool ConsoleParseFontInfo(const char* text, ConsoleFontInfo* out) {
    int h = 0, w = 0, wt = 0, used = 0;
    if (std::sscanf(text, "%d,%d,%d,%n", &h, &w, &wt, &used) < 3 || used == 0) return false;
    out->height = h;
    out->width = w;
    out->weight = wt;
    out->face = text + used;
    return true;
}

std::string ConsoleFormatFontInfo(const ConsoleFontInfo& f) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%d,%d,%d,%s", f.height, f.width, f.weight, f.face.c_str());
    return buf;
}

bool ConsoleFontIsDefault(const ConsoleFontInfo& f) {
    return f.height == 0 && f.width == 0 && f.weight == 0 && (f.face.empty() || f.face == "0");
}

namespace {
std::atomic<bool> g_frameReady{false};
}  // namespace

bool FrameInitialised() { return g_frameReady.load(); }
void SetFrameInitialised(bool on) { g_frameReady.store(on); }

int console_printf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = VStrFormat(fmt, ap);
    va_end(ap);
    LogWrite(text.data(), text.size());
    ConsoleWriteText(text.data(), text.size());
    return static_cast<int>(text.size());
}
