// Main-window geometry as plain arithmetic: the size from the configuration
// (ConfigMainWindowSize) and the layout on every resize. The face measures,
// calls these, and applies the result.
#pragma once

#include <array>

constexpr int kToolBarHeight = 29;
constexpr int kBandHeaders = 8;

// Heights of the parts around the console (0 for a hidden part).
struct LayoutParts {
    int toolBar = 0, fkeyBand = 0, buttonBand = 0, statusBar = 0, tracePane = 0;
};

struct WindowSizeInput {
    int charWidth = 8, charHeight = 16;
    int scrollBarWidth = 16;
    int screenClientHeight = 1080;  // the tallest client area the screen allows
    int leftOffset = 0, topOffset = 0;
    int cols = 80, rows = 25;       // CONSOLE_COLS, CONSOLE_ROWS
    LayoutParts parts;
};
struct WindowSize {
    int width = 0, height = 0;
    int rows = 0;                   // CONSOLE_ROWS after fitting the screen
    int rowsTaken = 0;              // rows taken off (the trace line says so)
};
WindowSize ConfigMainWindowSize(const WindowSizeInput& in);

// Band heights from the variable-pitch system font's height.
int FkeyBandHeight(int fontHeight);
int ButtonBandHeight(int fontHeight);
// SysTrace pane: TRACE_ROWS lines, the scroll bar and the tab caption.
int TracePaneHeight(int rows, int lineHeight, int scrollBarWidth);

struct LayoutInput {
    int clientWidth = 0, clientHeight = 0;  // below the menu bar
    int charWidth = 8, charHeight = 16;
    int scrollBarWidth = 16;
    int bufferCols = 250;
    LayoutParts parts;
};
struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};
struct LayoutResult {
    bool shrink = false;                    // resize the window by (dw, dh) and lay out again
    int dw = 0, dh = 0;
    Rect toolBar, fkeyBand, buttonBand, console, tracePane, statusBar;
    int consoleRows = 0, consoleCols = 0;
};
LayoutResult LayoutMainWindow(const LayoutInput& in);

// x offsets and widths of the eight headers of a band of this width: equal
// parts, the first (width mod 8) one pixel wider.
struct BandSplit {
    std::array<int, kBandHeaders> x{}, w{};
};
BandSplit SplitBand(int width);
