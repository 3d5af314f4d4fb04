#include "console/capture.h"
#include "util/cmdids.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "util/commands.h"
#include "console/editor.h"
#include "platform/report.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "log/srvrtrace.h"
#include "platform/ui.h"

#define OXEL_MODULE "capture"

namespace {

constexpr int kWordReach = 80;

struct Selection {
    bool selecting = false;
    bool highlight = false;
    bool doubleClicked = false;   // the next button-up ends a double click
    long anchor = -1;             // logical cell index (row * cols + col)
    long end = -1;
    char preview[4] = {};         // the first characters, kept for the record
};
std::mutex g_mu;                  // UI thread only; the lock keeps tests honest
Selection g_sel;

long CellCount() { return static_cast<long>(ConsoleBufferRows()) * ConsoleBufferCols(); }

char CellAt(long index) {
    const int cols = ConsoleBufferCols();
    if (cols <= 0 || index < 0 || index >= CellCount()) return ' ';
    std::string row = ConsoleRowText(static_cast<int>(index / cols));
    char c = row.size() > static_cast<size_t>(index % cols) ? row[index % cols] : ' ';
    return c == 0 ? ' ' : c;
}

size_t Storage(long index) {
    const int cols = ConsoleBufferCols();
    return ConsoleCellIndex(static_cast<int>(index / cols), static_cast<int>(index % cols));
}

void MarkRange(long from, long to, bool inverse) {
    if (from > to) std::swap(from, to);
    from = std::max(0L, from);
    to = std::min(CellCount() - 1, to);
    for (long i = from; i <= to; ++i) {
        if (inverse) ConsoleSetCellInverse(Storage(i));
        else ConsoleSetCellColours(Storage(i));
    }
}

// The logical cell under a console-client point.
long CellFromPoint(int x, int y) {
    const int cw = std::max(1, ConsoleCharWidth()), ch = std::max(1, ConsoleCharHeight());
    const int cols = ConsoleBufferCols();
    int rem = ConsoleClientHeight() % ch;
    if (rem * 5 >= ch * 4) rem = 0;
    int col = std::clamp(x / cw, 0, std::max(0, cols - 1));
    int viewRow = static_cast<int>(std::lround(static_cast<double>(y - ch / 2 - rem) / ch));
    int row = ConsoleBufferRows() - ConsoleLines() + viewRow - ConsoleScrollOffset() / ch;
    row = std::clamp(row, 0, std::max(0, ConsoleBufferRows() - 1));
    return static_cast<long>(row) * cols + col;
}

void RemoveHighlightLocked() {
    if (g_sel.anchor >= 0 && g_sel.end >= 0) MarkRange(g_sel.anchor, g_sel.end, false);
    g_sel.highlight = false;
    ConsoleSetPerCellColours(g_cfg.CHAR_ATTRIBUTES != 0);
}

std::string RightTrim(std::string s) {
    size_t e = s.find_last_not_of(' ');
    s.resize(e == std::string::npos ? 0 : e + 1);
    return s;
}

// Writes text to a fresh temporary file and starts the editor on it.
int EditText(const std::string& text, const char* prefix) {
    std::string name = TempFileName(prefix);
    if (name.empty()) {
        OxelMessageBox("ERROR:", "Can't create temporary file '%s'", prefix);
        return 0;
    }
    int fd = open(name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        OxelMessageBox("ERROR:", "Can't open temporary file '%s'", name.c_str());
        unlink(name.c_str());
        return 0;
    }
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) != 0) ok = false;
    if (!ok) {
        OxelMessageBox("ERROR:", "Can't write to temporary file '%s'", name.c_str());
        unlink(name.c_str());
        return 0;
    }
    return StartEditor(name);
}

bool BufferBlank() { return ConsoleBufferText("\n").empty(); }

}  // namespace

int CpyScrnBfrToClipbrd() {
    std::string text = ConsoleBufferText("\r\n");
    TracePrintf(TRC_DEBUG, "CpyScrnBfrToClipbrd(): GlobalAlloc(%d)", static_cast<int>(text.size() + 1));
    ui().SetClipboard(text);
    return 1;
}

int CpyScrnOnlyToClipbrd() {
    std::string text;
    if (!ConsoleScreenText(&text)) return 0;
    ui().SetClipboard(text);
    return 1;
}

int EditScreenBuffer() {
    if (BufferBlank()) return EditorStart();
    return EditText(ConsoleBufferText("\n"), "esb");
}

int EditScreenOnly() {
    std::string text;
    if (!ConsoleScreenText(&text)) return 0;
    return EditText(text, "esbo");
}

int EditorStart() { return StartEditor(""); }

int SaveBufferText(const std::string& path) {
    std::string text = ConsoleBufferText("\n");
    if (text.empty()) return 1;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        OxelMessageBox("ERROR:", "Can't open create/open '%s'", path.c_str());
        return 0;
    }
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) != 0) ok = false;
    if (!ok) {
        OxelMessageBox("ERROR:", "Can't write to file '%s'", path.c_str());
        unlink(path.c_str());
        return 0;
    }
    return 1;
}

std::string CaptureSelectionText(long from, long to) {
    if (from > to) std::swap(from, to);
    from = std::max(0L, from);
    to = std::min(CellCount() - 1, to);
    const int cols = ConsoleBufferCols();
    if (cols <= 0 || from > to) return {};
    if (from / cols == to / cols) {
        std::string s;
        for (long i = from; i <= to; ++i) s += CellAt(i);
        return s;
    }
    std::string out, line;
    for (long i = from; i <= to; ++i) {
        line += CellAt(i);
        if (i % cols == cols - 1 || i == to) {
            out += RightTrim(line) + "\n";
            line.clear();
        }
    }
    return out;
}

std::string CaptureWordAt(long index, long* first, long* last) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (index < 0 || index >= CellCount() || blank(CellAt(index))) return {};
    long a = index, b = index;
    while (a > 0 && index - (a - 1) <= kWordReach && !blank(CellAt(a - 1))) --a;
    while (b + 1 < CellCount() && (b + 1) - index <= kWordReach && !blank(CellAt(b + 1))) ++b;
    if (first) *first = a;
    if (last) *last = b;
    std::string s;
    for (long i = a; i <= b; ++i) s += CellAt(i);
    return s;
}

void CaptureMouseDown(int x, int y) {
    std::lock_guard l(g_mu);
    RemoveHighlightLocked();
    ui().ConsoleInvalidate();
    g_sel.anchor = g_sel.end = CellFromPoint(x, y);
    g_sel.selecting = true;
    g_sel.doubleClicked = false;
}

void CaptureMouseMove(int x, int y) {
    std::lock_guard l(g_mu);
    if (!g_sel.selecting) return;
    long now = CellFromPoint(x, y);
    if (now == g_sel.end) return;
    ConsoleSetPerCellColours(true);
    // Cells left behind get their colours back, then the current span is inverted.
    MarkRange(g_sel.anchor, g_sel.end, false);
    MarkRange(g_sel.anchor, now, true);
    g_sel.end = now;
    g_sel.highlight = true;
    ui().ConsoleInvalidate();
}

void CaptureMouseUp() {
    std::string text;
    {
        std::lock_guard l(g_mu);
        if (!g_sel.selecting) return;
        g_sel.selecting = false;
        if (g_sel.doubleClicked) {
            g_sel.doubleClicked = false;
            return;
        }
        text = CaptureSelectionText(g_sel.anchor, g_sel.end);
        for (size_t i = 0; i < sizeof g_sel.preview; ++i) g_sel.preview[i] = i < text.size() ? text[i] : 0;
    }
    ui().SetClipboard(text);
}

void CaptureDoubleClick(int x, int y) {
    std::string word;
    {
        std::lock_guard l(g_mu);
        long first = 0, last = 0;
        word = CaptureWordAt(CellFromPoint(x, y), &first, &last);
        if (word.empty()) return;
        RemoveHighlightLocked();
        ConsoleSetPerCellColours(true);
        MarkRange(first, last, true);
        g_sel.anchor = first;
        g_sel.end = last;
        g_sel.highlight = true;
        g_sel.selecting = true;
        g_sel.doubleClicked = true;
    }
    ui().ConsoleInvalidate();
    ui().SetClipboard(word);
}

bool CaptureSelecting() {
    std::lock_guard l(g_mu);
    return g_sel.selecting;
}

void CaptureRegisterCommands() {
    CommandRegister({CMD_COPY_BUFFER, "&Edit", "&Copy Screen Buffer", [] { CpyScrnBfrToClipbrd(); }});
    CommandRegister({CMD_COPY_SCREEN, "&Edit", "Copy Screen &Only", [] { CpyScrnOnlyToClipbrd(); }});
    CommandRegister({CMD_EDIT_BUFFER, "&Edit", "Edit Screen &Buffer", [] { EditScreenBuffer(); }});
    CommandRegister({CMD_EDIT_SCREEN, "&Edit", "Edit Screen On&ly", [] { EditScreenOnly(); }});
    CommandRegister({CMD_EDITOR, "&Edit", "&Editor", [] { EditorStart(); }});
}
