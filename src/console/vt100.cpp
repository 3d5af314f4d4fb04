#include "console/vt100.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/report.h"
#include "config/configrecord.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "log/srvrtrace.h"
#include "platform/ui.h"

namespace {

constexpr int kArgSize = 48;
constexpr char ESC = 0x1B;

// Emulator state: one per process, kept across blocks and connections.
struct Vt100 {
    int state = VTSTATE_NULL;
    char arg[kArgSize + 1] = {};
    int argIndex = 0;
    int rowArg = 0;
    char charset = 0;
    bool oneBased = true;
    int anchor = -1;
    int savedRow = 0, savedCol = 0;
    bool discarding = false;   // the rest of an overflowed sequence is dropped
};
Vt100 g_vt;
std::atomic<bool> g_menuOpen{false};

const char* const kStateNames[] = {
    "VTSTATE_NULL",     "VTSTATE_ESCAPE",          "VTSTATE_OBRACKET", "VTSTATE_COUNTROW",
    "VTSTATE_COLUMN",   "VTSTATE_NONSTANDARDFONT", "VTSTATE_NEWMODE",  "VTSTATE_CBRACKET",
    "VTSTATE_XSEMI",    "VTSTATE_XSTRING",         "VTSTATE_VALIGN",
};

void Trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Trace(const char* fmt, ...) {
    if (!(g_cfg.TRACEFLAGS & TRC_VT100)) return;
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    TracePrintf(TRC_VT100, "%s", buf);
}

void Reply(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Reply(const char* fmt, ...) {
    char buf[128];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n <= 0) return;
    RxBackendReply(buf, static_cast<size_t>(std::min<int>(n, sizeof buf - 1)));
}

// A parameter's leading digits, saturated: a target may send any number of
// digits, and cursor arithmetic must never overflow. Far beyond any screen.
constexpr int kParamMax = 1 << 20;
int ParamValue(const char* p) {
    int v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) v = std::min(kParamMax, v * 10 + (*p - '0'));
    return v;
}

int ArgNumber() { return ParamValue(g_vt.arg); }

void Confused(int handler, unsigned char b) {
    Trace("VTState confused at %d. State: %s, input: %02x", handler, Vt100StateName(g_vt.state), b);
    g_vt.state = VTSTATE_NULL;
}

void RowColError(const char* where, int row) { Trace("Row/Col error: %s ROW (%d) out of range", where, row); }

int ScreenTop() { return g_vt.anchor - ConsoleLines() + 1; }

void FixAnchor() {
    if (g_vt.anchor < 0) g_vt.anchor = ConsoleGetCursor().row;
}

void ClearScreen() {
    Trace("screenClear");
    ConsoleFillAll(' ', true);
}

void PositionCursor(int r, int c) {
    Trace("forceCursorPosition(row=%d,col=%d)", r, c);
    if (g_vt.oneBased) {
        if (r == 0 && c == 0) g_vt.oneBased = false;
        --r;
        --c;
    }
    if (r < 0) r = 0;
    if (c < 0) c = 0;
    const int lines = ConsoleLines();
    if (r > lines - 1) r = lines - 2;
    if (r < 0) r = 0;
    FixAnchor();
    const int row = g_vt.anchor - lines + 1 + r;
    if (row < 0 || row >= ConsoleBufferRows()) {
        RowColError("forceCursorPosition", row);
        return;
    }
    ConsoleSetCursor(row, c);
    if (r == 0 && c == 0) ConsoleBlankRange(0, 0, row, 0, false);
}

void CursorTopLeft() {
    int origin = g_vt.oneBased ? 1 : 0;
    PositionCursor(origin, origin);
}

void CursorUp(int n) {
    Trace("CursorUp(%d)", n);
    ConsoleCursor c = ConsoleGetCursor();
    if (c.row - n < 0) {
        RowColError("cursorUp", c.row - n);
        return;
    }
    ConsoleSetCursor(c.row - n, c.col);
}

void CursorDown(int n) {
    Trace("CursorDown(%d)", n);
    ConsoleCursor c = ConsoleGetCursor();
    long row = static_cast<long>(c.row) + n;
    ConsoleSetCursor(static_cast<int>(std::min<long>(row, ConsoleBufferRows() - 1)), c.col);
}

void CursorForward(int n) {
    Trace("CursorForward(%d)", n);
    ConsoleCursor c = ConsoleGetCursor();
    long col = static_cast<long>(c.col) + n;
    ConsoleSetCursor(c.row, static_cast<int>(std::min<long>(col, ConsoleCols())));
}

void CursorBack(int n) {
    Trace("CursorBack(%d)", n);
    ConsoleCursor c = ConsoleGetCursor();
    ConsoleSetCursor(c.row, std::max(0, c.col - n));
}

void SaveCursor() {
    ConsoleCursor c = ConsoleGetCursor();
    g_vt.savedRow = c.row;
    g_vt.savedCol = c.col;
}

void RestoreCursor() { ConsoleSetCursor(g_vt.savedRow, g_vt.savedCol); }

void EraseEol() {
    Trace("EraseEOL");
    ConsoleCursor c = ConsoleGetCursor();
    ConsoleBlankRange(c.row, c.col, c.row + 1, 0, true);
}

void EraseSol() {
    Trace("EraseSOL");
    ConsoleCursor c = ConsoleGetCursor();
    ConsoleBlankRange(c.row, 0, c.row, c.col, false);
}

void EraseLine() {
    Trace("EraseLine");
    ConsoleCursor c = ConsoleGetCursor();
    ConsoleBlankRange(c.row, 0, c.row + 1, 0, false);
}

void EraseDown() {
    Trace("EraseDown");
    FixAnchor();
    ConsoleCursor c = ConsoleGetCursor();
    if (c.row < 0 || c.row >= ConsoleBufferRows()) {
        RowColError("eraseDown", c.row);
        return;
    }
    if (c.row == ScreenTop()) {
        ClearScreen();
        return;
    }
    ConsoleBlankRange(c.row, c.col, ConsoleBufferRows(), 0, false);
}

void EraseUp() {
    Trace("EraseUp");
    ConsoleCursor c = ConsoleGetCursor();
    ConsoleBlankRange(0, 0, c.row + 1, 0, false);
}

void EraseScreenHome() {
    Trace("Erase screen and move to home");
    ClearScreen();
    CursorTopLeft();
}

void ResetColours() {
    ConsoleSetCurrentColours(ConsoleTextColour(), ConsoleBackgroundColour());
}

const char* const kColourNames[] = {"black", "red", "green", "yellow", "blue", "magenta", "cyan", "white"};
const uint32_t kColours[] = {0x000000, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

void Attributes(const char* list) {
    Trace("setDisplayAttribute <%s>", list);
    const bool perCell = ConsolePerCellColours();
    if (*list == 0) {
        Trace("Attribute: RESET all attributes");
        if (perCell) ResetColours();
        return;
    }
    for (const char* p = list; *p;) {
        int code = ParamValue(p);
        switch (code) {
        case 0:
            Trace("Attribute: Reset all attributes");
            if (perCell) ResetColours();
            break;
        case 1:
            Trace("Attribute: Highlight");
            if (perCell) ConsoleSetCurrentColours(ConsoleCurrentFg(), 0x969696);
            break;
        case 2: Trace("Attribute: Dim"); break;
        case 4: Trace("Attribute: Underscore"); break;
        case 5: Trace("Attribute: Blink"); break;
        case 8: Trace("Attribute: Hidden"); break;
        case 7:
            Trace("Attribute: Reverse");
            if (perCell) ConsoleSetCurrentColours(ConsoleCurrentBg(), ConsoleCurrentFg());
            break;
        default:
            if (code < 30 || code > 49) Trace("Attribute: ???? (%d)", code);
            break;
        }
        if (perCell) {
            if (code >= 30 && code <= 37) {
                Trace("Attribute: Foreground color=%s", kColourNames[code - 30]);
                ConsoleSetCurrentColours(kColours[code - 30], ConsoleCurrentBg());
            } else if (code >= 40 && code <= 47) {
                Trace("Attribute: Background color=%s", kColourNames[code - 40]);
                ConsoleSetCurrentColours(ConsoleCurrentFg(), kColours[code - 40]);
            } else if (code == 49) {
                Trace("Attribute: default background color");
            } else {
                Trace("Attribute: ???? (%d)", code);
            }
        }
        const char* semi = std::strchr(p, ';');
        if (!semi) break;
        p = semi + 1;
    }
}

struct ModeText {
    int mode;
    const char* set;
    const char* reset;
};
const ModeText kModes[] = {
    {1, "cursorkey mode = application", "cursorkey mode = cursor"},
    {3, "columns = 132", "columns = 80"},
    {4, "scrollingmode = smooth", "scrollingmode = jump"},
    {5, "screenmode = reverse", "screenmode = normal"},
    {6, "origin = relative", "origin = absolute"},
    {7, "autowrap = on", "autowrap = off"},
    {8, "autorepeat on", "autorepeat off"},
    {18, "formfeedmode = addFF", "formfeedmode = dont_addFF"},
    {19, "printextentmode = wholepage", "printextentmode = scroll rgn"},
    {25, "cursor is visible", "cursor is invisible"},
    {42, "charset = LOCAL", "charset = ASCII"},
    {67, "backarrow = backspace", "backarrow = delete"},
};

void NewMode(bool set, const char* list) {
    Trace("newMode (set=%d) %s", set ? 1 : 0, list);
    for (const char* p = list; *p;) {
        int mode = ParamValue(p);
        const ModeText* m = nullptr;
        for (const ModeText& t : kModes)
            if (t.mode == mode) m = &t;
        if (m)
            Trace("%s", set ? m->set : m->reset);
        else
            Trace("newMode: ???? (%d)", mode);
        if (mode == 7) g_cfg.AUTOWRAP = set ? 1 : 0;
        const char* semi = std::strchr(p, ';');
        if (!semi) break;
        p = semi + 1;
    }
}

// Appends a parameter byte. A list longer than the argument text is dropped
// with a trace line: one malformed sequence must not end the program.
bool Append(unsigned char b) {
    if (g_vt.argIndex >= kArgSize) {
        const char* name = Vt100StateName(g_vt.state);
        TracePrintf(TRC_VT100, "%s array overflow", name);
        g_vt.state = VTSTATE_NULL;
        g_vt.discarding = true;
        g_vt.argIndex = 0;
        g_vt.arg[0] = 0;
        return false;
    }
    g_vt.arg[g_vt.argIndex++] = static_cast<char>(b);
    g_vt.arg[g_vt.argIndex] = 0;
    return true;
}

bool Overflowing() { return g_vt.argIndex >= kArgSize; }

void Escape(unsigned char b) {
    int next = VTSTATE_NULL;
    switch (b) {
    case '#': next = VTSTATE_VALIGN; break;
    case '(': Trace("setDefaultFont"); next = VTSTATE_NONSTANDARDFONT; break;
    case ')': Trace("setAlternateFont"); break;
    case '7': Trace("saveCursor_and_Attr"); SaveCursor(); break;
    case '8': Trace("restoreCursor_and_Attr"); RestoreCursor(); break;
    case '=': Trace("keypad = application"); break;
    case '>': Trace("keypad = numeric"); break;
    case 'D': Trace("scroll down one line"); CursorDown(1); break;
    case 'E': ConsoleWriteInternal("\r\n", 2); break;
    case 'M': Trace("scroll up one line"); CursorUp(1); break;
    case '[': g_vt.argIndex = 0; g_vt.arg[0] = 0; next = VTSTATE_OBRACKET; break;
    case ']': g_vt.argIndex = 0; g_vt.arg[0] = 0; next = VTSTATE_CBRACKET; break;
    case 'c': Trace("Reset terminal"); ConsoleResetColours(); break;
    default: Confused(1016, b); return;
    }
    g_vt.state = next;
}

void Obracket(unsigned char b) {
    if (Overflowing()) {
        Append(b);
        return;
    }
    int next = VTSTATE_NULL;
    if (b >= '0' && b <= '9') {
        g_vt.argIndex = 0;
        Append(b);
        g_vt.state = VTSTATE_COUNTROW;
        return;
    }
    switch (b) {
    case '?': g_vt.argIndex = 0; g_vt.arg[0] = 0; next = VTSTATE_NEWMODE; break;
    case 'A': CursorUp(1); break;
    case 'B': CursorDown(1); break;
    case 'C': CursorForward(1); break;
    case 'D': CursorBack(1); break;
    case 'H': Trace("cursorTopLeft"); CursorTopLeft(); break;
    case 'J': EraseDown(); break;
    case 'K': EraseEol(); break;
    case 'M': Trace("scroll up one line"); CursorUp(1); break;
    case 'm': Attributes(""); break;
    case 'r':
        Trace("VT100 rqst (0x%02x: %s) not supported (lno=%d).", b, "enable screen scrolling", 1121);
        break;
    case 's': Trace("CursorSave"); SaveCursor(); break;
    case 'u': Trace("CursorUnsave"); RestoreCursor(); break;
    default: Confused(1128, b); return;
    }
    g_vt.state = next;
}

void CountRow(unsigned char b) {
    Trace("COUNTROW arg[%d]: %c", g_vt.argIndex, b);
    if (Overflowing()) {
        Append(b);
        return;
    }
    if (b >= '0' && b <= '9') {
        Append(b);
        return;
    }
    const int n = ArgNumber();
    switch (b) {
    case ';':
        g_vt.rowArg = n;
        Trace("COUNTROW row: %d", n);
        g_vt.argIndex = 0;
        g_vt.arg[0] = 0;
        g_vt.state = VTSTATE_COLUMN;
        return;
    case 'A': CursorUp(n); break;
    case 'B': CursorDown(n); break;
    case 'C': CursorForward(n); break;
    case 'D': CursorBack(n); break;
    case 'J':
        if (n == 0)
            EraseDown();
        else if (n == 1)
            EraseUp();
        else if (n == 2)
            EraseScreenHome();
        else
            Trace("COUNTROW jval: %d", n);
        break;
    case 'K':
        if (n == 1)
            EraseSol();
        else if (n == 2)
            EraseLine();
        else
            EraseEol();
        break;
    case 'c':
        Trace("Terminal type query");
        g_vt.state = VTSTATE_NULL;   // a loop-back port hands the reply straight back
        Reply("%c[?%d;0c", ESC, 1);
        break;
    case 'i':
        Trace("localPrinting <%s>", g_vt.arg);
        if (n == 1) Trace("print current line");
        if (n == 4) Trace("print log stop");
        if (n == 5) Trace("print log start");
        break;
    case 'm': Attributes(g_vt.arg); break;
    case 'n':
        Trace("RESIZE request");
        g_vt.state = VTSTATE_NULL;
        Reply("%c[%d;%dR", ESC, ConsoleLines(), ConsoleCols());
        break;
    default: Confused(1255, b); return;
    }
    g_vt.state = VTSTATE_NULL;
}

void Column(unsigned char b) {
    if (Overflowing()) {
        Append(b);
        return;
    }
    if ((b >= '0' && b <= '9') || b == ';') {
        Append(b);
        return;
    }
    const int n = ArgNumber();
    switch (b) {
    case 'H':
        Trace("cursorHome(row=%d,col=%d)", g_vt.rowArg, n);
        PositionCursor(g_vt.rowArg, n);
        break;
    case 'f': PositionCursor(g_vt.rowArg, n); break;
    case 'm': Attributes(g_vt.arg); break;
    case 'r': Trace("enableScrollScreen(%d,%d)", g_vt.rowArg, n); break;
    default: Confused(1297, b); return;
    }
    g_vt.state = VTSTATE_NULL;
}

void NewModeState(unsigned char b) {
    if (Overflowing()) {
        Append(b);
        return;
    }
    if ((b >= '0' && b <= '9') || b == ';') {
        Append(b);
        return;
    }
    if (b == 'h' || b == 'l') {
        NewMode(b == 'h', g_vt.arg);
        g_vt.state = VTSTATE_NULL;
        return;
    }
    Confused(1163, b);
}

void XString(unsigned char b) {
    if (b == 0x07) {
        ui().SetTitle(std::string(g_vt.arg, g_vt.argIndex));
        g_vt.state = VTSTATE_NULL;
        return;
    }
    if (g_vt.argIndex < kArgSize - 1) {
        g_vt.arg[g_vt.argIndex++] = static_cast<char>(b);
        g_vt.arg[g_vt.argIndex] = 0;
        return;
    }
    g_vt.state = VTSTATE_NULL;
}

void Step(unsigned char b) {
    switch (g_vt.state) {
    case VTSTATE_ESCAPE: Escape(b); break;
    case VTSTATE_OBRACKET: Obracket(b); break;
    case VTSTATE_COUNTROW: CountRow(b); break;
    case VTSTATE_COLUMN: Column(b); break;
    case VTSTATE_NONSTANDARDFONT:
        g_vt.charset = static_cast<char>(b);
        g_vt.state = VTSTATE_NULL;
        break;
    case VTSTATE_NEWMODE: NewModeState(b); break;
    case VTSTATE_CBRACKET:
        g_vt.state = (b == '0' || b == '1' || b == '2') ? VTSTATE_XSEMI : VTSTATE_NULL;
        break;
    case VTSTATE_XSEMI:
        if (b == ';') {
            g_vt.argIndex = 0;
            g_vt.arg[0] = 0;
            g_vt.state = VTSTATE_XSTRING;
        } else {
            Confused(1052, b);
        }
        break;
    case VTSTATE_XSTRING: XString(b); break;
    case VTSTATE_VALIGN:
        if (b == '8') {
            Trace("Video alignment test");
            ConsoleFillAll('E', false);
            g_vt.state = VTSTATE_NULL;
        } else {
            Confused(1029, b);
        }
        break;
    default: g_vt.state = VTSTATE_NULL; break;
    }
}

bool GroundSpecial(unsigned char b) { return b == 0x1B || b == 0x0E || b == 0x0F || b == 0x18 || b == 0x1A; }

// Ground state: runs of plain text go to the writer in one call; the
// line-drawing set maps q and x.
size_t Ground(const unsigned char* p, size_t len) {
    size_t n = 0;
    while (n < len && !GroundSpecial(p[n])) ++n;
    if (n == 0) return 0;
    if (g_vt.charset == '0') {
        char buf[256];
        for (size_t done = 0; done < n;) {
            size_t k = std::min(n - done, sizeof buf);
            for (size_t i = 0; i < k; ++i) {
                char ch = static_cast<char>(p[done + i]);
                buf[i] = ch == 'q' ? '-' : ch == 'x' ? '|' : ch;
            }
            ConsoleWriteInternal(buf, k);
            done += k;
        }
    } else {
        ConsoleWriteInternal(reinterpret_cast<const char*>(p), n);
    }
    return n;
}

}  // namespace

void Vt100Feed(const char* data, size_t len) {
    if (!g_cfg.VT100_EMULATION || g_menuOpen.load()) {
        ConsoleWritePlain(data, len);
        return;
    }
    if (!FrameInitialised()) return;
    ui().ConsoleBytes(data, len);
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    size_t i = 0;
    while (i < len) {
        if (g_vt.discarding) {
            // Parameter bytes and the final byte of the dropped sequence.
            unsigned char b = p[i];
            if (b >= 0x30 && b <= 0x7E) {
                ++i;
                if (b >= 0x40) g_vt.discarding = false;
                continue;
            }
            g_vt.discarding = false;
        }
        if (g_vt.state == VTSTATE_NULL) {
            size_t n = Ground(p + i, len - i);
            if (n) {
                i += n;
                continue;
            }
            unsigned char b = p[i++];
            if (b == 0x1B) {
                g_vt.state = VTSTATE_ESCAPE;
                Trace("->%s", Vt100StateName(g_vt.state));
            }
            continue;
        }
        int before = g_vt.state;
        Step(p[i++]);
        if (g_vt.state != before) Trace("->%s", Vt100StateName(g_vt.state));
    }
}

void Vt100SetMenuOpen(bool open) { g_menuOpen = open; }

int Vt100State() { return g_vt.state; }

const char* Vt100StateName(int state) {
    if (state < 0 || state > VTSTATE_VALIGN) return "???";
    return kStateNames[state];
}

void Vt100Reset() { g_vt = Vt100{}; }
