#include "app/mainlayout.h"

#include <algorithm>

namespace {

int Around(const LayoutParts& p) { return p.toolBar + p.fkeyBand + p.buttonBand + p.statusBar + p.tracePane; }

}  // namespace

WindowSize ConfigMainWindowSize(const WindowSizeInput& in) {
    WindowSize out;
    out.rows = in.rows;
    out.width = in.cols * in.charWidth + in.scrollBarWidth + 2 * in.leftOffset;
    out.height = in.rows * in.charHeight + in.leftOffset + in.topOffset + Around(in.parts);
    while (out.height >= in.screenClientHeight && out.rows > 1) {
        out.height -= in.charHeight;
        out.rows--;
        out.rowsTaken++;
    }
    return out;
}

int FkeyBandHeight(int fontHeight) { return 2 * fontHeight + 4; }
int ButtonBandHeight(int fontHeight) { return 2 * FkeyBandHeight(fontHeight) + 8; }
int TracePaneHeight(int rows, int lineHeight, int scrollBarWidth) { return rows * lineHeight + scrollBarWidth + 25; }

LayoutResult LayoutMainWindow(const LayoutInput& in) {
    LayoutResult r;
    const int cw = std::max(1, in.charWidth), ch = std::max(1, in.charHeight);
    const int consoleH = in.clientHeight - Around(in.parts);
    const int textW = in.clientWidth - in.scrollBarWidth;
    if (in.bufferCols * cw < textW) {
        r.shrink = true;
        r.dw = textW - in.bufferCols * cw;
        return r;
    }
    if (consoleH > 0 && textW > 0 && (consoleH % ch != 0 || textW % cw != 0)) {
        r.shrink = true;
        r.dw = textW % cw;
        r.dh = consoleH % ch;
        return r;
    }
    int y = 0;
    auto place = [&](Rect& rect, int h) {
        rect = {0, y, in.clientWidth, h};
        y += h;
    };
    place(r.toolBar, in.parts.toolBar);
    place(r.fkeyBand, in.parts.fkeyBand);
    place(r.buttonBand, in.parts.buttonBand);
    place(r.console, std::max(0, consoleH));
    place(r.tracePane, in.parts.tracePane);
    place(r.statusBar, in.parts.statusBar);
    r.consoleRows = std::max(0, consoleH) / ch;
    r.consoleCols = std::max(0, textW) / cw;
    return r;
}

BandSplit SplitBand(int width) {
    BandSplit s;
    const int base = width / kBandHeaders, extra = width % kBandHeaders;
    int x = 0;
    for (int i = 0; i < kBandHeaders; ++i) {
        s.x[i] = x;
        s.w[i] = base + (i < extra ? 1 : 0);
        x += s.w[i];
    }
    return s;
}
