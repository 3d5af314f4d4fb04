// Keystrokes into another program's window on X11, through the XTest
// extension. libX11 and libXtst are loaded when first needed, so the
// program runs (and says why it cannot type) where they are missing.
#pragma once

#include <string>

struct XTypeRequest {
    bool find = false;            // look the window up by class and title
    std::string cls, title;       // empty: any
    bool maximise = false, minimise = false;
    int delayMs = 0;              // once, before typing
    bool alt = false, ctrl = false, shift = false;
    bool haveText = false;
    std::string text;
    bool terminate = false;       // end the focused window's program afterwards
    bool lower = false;           // send the focused window to the bottom
};

// 0 done; -1 with error set ("FindWindow", "keydown", "keyup", "no X
// display ...", "TerminateProcess failed").
int XTypeInto(const XTypeRequest& req, std::string* error);
