#include "platform/xinput.h"

#include <dlfcn.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The few Xlib types the calls below need, as the X protocol defines them.
using Display = struct _XDisplay;
using XWindow = unsigned long;
using KeySym = unsigned long;
using XAtom = unsigned long;
using KeyCode = unsigned char;
struct XClassHint {
    char* res_name;
    char* res_class;
};

constexpr KeySym kShiftL = 0xffe1, kControlL = 0xffe3, kAltL = 0xffe9;
constexpr long kAnyPropertyType = 0;
constexpr int kRevertToParent = 2;

struct XApi {
    Display* (*openDisplay)(const char*);
    int (*closeDisplay)(Display*);
    int (*flush)(Display*);
    XWindow (*defaultRoot)(Display*);
    int (*queryTree)(Display*, XWindow, XWindow*, XWindow*, XWindow**, unsigned*);
    int (*fetchName)(Display*, XWindow, char**);
    int (*getClassHint)(Display*, XWindow, XClassHint*);
    int (*free)(void*);
    int (*mapRaised)(Display*, XWindow);
    int (*lowerWindow)(Display*, XWindow);
    int (*setInputFocus)(Display*, XWindow, int, unsigned long);
    int (*getInputFocus)(Display*, XWindow*, int*);
    int (*iconify)(Display*, XWindow, int);
    int (*defaultScreen)(Display*);
    int (*moveResize)(Display*, XWindow, int, int, unsigned, unsigned);
    int (*displayWidth)(Display*, int);
    int (*displayHeight)(Display*, int);
    KeyCode (*keysymToKeycode)(Display*, KeySym);
    KeySym (*keycodeToKeysym)(Display*, KeyCode, int);
    XAtom (*internAtom)(Display*, const char*, int);
    int (*getProperty)(Display*, XWindow, XAtom, long, long, int, XAtom, XAtom*, int*, unsigned long*,
                       unsigned long*, unsigned char**);
    int (*fakeKey)(Display*, unsigned, int, unsigned long);
};

// Loads the libraries once; null when either is missing.
const XApi* Api() {
    static std::once_flag once;
    static XApi api{};
    static bool ok = false;
    std::call_once(once, [] {
        void* x = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        void* t = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!x || !t) return;
        ok = true;
        auto get = [&](void* lib, const char* name, auto& fn) {
            // A data pointer to a function pointer, bit for bit, as dlsym means it.
            void* sym = dlsym(lib, name);
            static_assert(sizeof sym == sizeof fn);
            std::memcpy(&fn, &sym, sizeof fn);
            ok = ok && sym;
        };
        get(x, "XOpenDisplay", api.openDisplay);
        get(x, "XCloseDisplay", api.closeDisplay);
        get(x, "XFlush", api.flush);
        get(x, "XDefaultRootWindow", api.defaultRoot);
        get(x, "XQueryTree", api.queryTree);
        get(x, "XFetchName", api.fetchName);
        get(x, "XGetClassHint", api.getClassHint);
        get(x, "XFree", api.free);
        get(x, "XMapRaised", api.mapRaised);
        get(x, "XLowerWindow", api.lowerWindow);
        get(x, "XSetInputFocus", api.setInputFocus);
        get(x, "XGetInputFocus", api.getInputFocus);
        get(x, "XIconifyWindow", api.iconify);
        get(x, "XDefaultScreen", api.defaultScreen);
        get(x, "XMoveResizeWindow", api.moveResize);
        get(x, "XDisplayWidth", api.displayWidth);
        get(x, "XDisplayHeight", api.displayHeight);
        get(x, "XKeysymToKeycode", api.keysymToKeycode);
        get(x, "XKeycodeToKeysym", api.keycodeToKeysym);
        get(x, "XInternAtom", api.internAtom);
        get(x, "XGetWindowProperty", api.getProperty);
        get(t, "XTestFakeKeyEvent", api.fakeKey);
    });
    return ok ? &api : nullptr;
}

bool Matches(const XApi& x, Display* d, XWindow w, const XTypeRequest& req) {
    bool ok = true;
    if (!req.title.empty()) {
        char* name = nullptr;
        ok = x.fetchName(d, w, &name) && name && req.title == name;
        if (name) x.free(name);
    }
    if (ok && !req.cls.empty()) {
        XClassHint hint{};
        ok = x.getClassHint(d, w, &hint) && hint.res_class && req.cls == hint.res_class;
        if (hint.res_name) x.free(hint.res_name);
        if (hint.res_class) x.free(hint.res_class);
    }
    return ok;
}

// Depth-first over the window tree; 0 when nothing matches.
XWindow Find(const XApi& x, Display* d, XWindow w, const XTypeRequest& req, int depth) {
    if (depth > 0 && Matches(x, d, w, req)) return w;
    if (depth > 3) return 0;
    XWindow root = 0, parent = 0, *kids = nullptr;
    unsigned n = 0;
    if (!x.queryTree(d, w, &root, &parent, &kids, &n)) return 0;
    XWindow found = 0;
    for (unsigned i = 0; i < n && !found; i++) found = Find(x, d, kids[i], req, depth + 1);
    if (kids) x.free(kids);
    return found;
}

// The keysym of a character: Latin-1 characters are their own keysyms.
KeySym SymOf(unsigned char c) {
    switch (c) {
    case '\r':
    case '\n': return 0xff0d;
    case '\t': return 0xff09;
    case '\b': return 0xff08;
    case 0x1b: return 0xff1b;
    default: return c;
    }
}

bool Key(const XApi& x, Display* d, KeySym sym, bool down) {
    KeyCode kc = x.keysymToKeycode(d, sym);
    return kc && x.fakeKey(d, kc, down ? 1 : 0, 0);
}

// One character as key-down and key-up, with Shift when the layout puts the
// character on the shifted level.
const char* TypeChar(const XApi& x, Display* d, unsigned char c) {
    KeySym sym = SymOf(c);
    KeyCode kc = x.keysymToKeycode(d, sym);
    if (!kc) return "keydown";
    bool shifted = x.keycodeToKeysym(d, kc, 0) != sym && x.keycodeToKeysym(d, kc, 1) == sym;
    if (shifted) Key(x, d, kShiftL, true);
    if (!x.fakeKey(d, kc, 1, 0)) return "keydown";
    if (!x.fakeKey(d, kc, 0, 0)) return "keyup";
    if (shifted) Key(x, d, kShiftL, false);
    x.flush(d);
    return nullptr;
}

const char* TypeText(const XApi& x, Display* d, const XTypeRequest& req) {
    const KeySym mods[] = {req.alt ? kAltL : 0, req.ctrl ? kControlL : 0, req.shift ? kShiftL : 0};
    for (KeySym m : mods)
        if (m) Key(x, d, m, true);
    const char* failed = nullptr;
    for (unsigned char c : req.text)
        if ((failed = TypeChar(x, d, c))) break;
    for (KeySym m : mods)
        if (m) Key(x, d, m, false);
    x.flush(d);
    return failed;
}

// The focused window's program, through the window manager's _NET_WM_PID.
bool TerminateFocused(const XApi& x, Display* d) {
    XWindow focus = 0;
    int revert = 0;
    x.getInputFocus(d, &focus, &revert);
    XAtom pidAtom = x.internAtom(d, "_NET_WM_PID", 1);
    if (!focus || !pidAtom) return false;
    XAtom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool ok = false;
    if (x.getProperty(d, focus, pidAtom, 0, 1, 0, kAnyPropertyType, &type, &format, &count, &after, &data) == 0 &&
        data && count == 1 && format == 32) {
        long pid = *reinterpret_cast<long*>(data);
        ok = pid > 1 && kill(static_cast<pid_t>(pid), SIGTERM) == 0;
    }
    if (data) x.free(data);
    return ok;
}

}  // namespace

int XTypeInto(const XTypeRequest& req, std::string* error) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* display = std::getenv("DISPLAY");
    if (wayland && *wayland && !(display && *display)) {
        *error = "SENDINPUT: typing into other programs' windows is not possible under Wayland";
        return -1;
    }
    if (!display || !*display) {
        *error = "SENDINPUT: no X display (DISPLAY is not set)";
        return -1;
    }
    const XApi* x = Api();
    if (!x) {
        *error = "SENDINPUT: libX11 or libXtst is not installed";
        return -1;
    }
    Display* d = x->openDisplay(display);
    if (!d) {
        *error = std::string("SENDINPUT: cannot open the X display ") + display;
        return -1;
    }
    int rc = 0;
    if (req.find) {
        XWindow w = Find(*x, d, x->defaultRoot(d), req, 0);
        if (!w) {
            x->closeDisplay(d);
            *error = "SENDINPUT: FindWindow";
            return -1;
        }
        x->mapRaised(d, w);
        x->setInputFocus(d, w, kRevertToParent, 0);
        int screen = x->defaultScreen(d);
        if (req.maximise)
            x->moveResize(d, w, 0, 0, static_cast<unsigned>(x->displayWidth(d, screen)),
                          static_cast<unsigned>(x->displayHeight(d, screen)));
        if (req.minimise) x->iconify(d, w, screen);
        x->flush(d);
    }
    if (req.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(req.delayMs));
    if (req.haveText) {
        if (const char* failed = TypeText(*x, d, req)) {
            *error = failed;
            rc = -1;
        }
    }
    if (rc == 0 && req.terminate) {
        if (!TerminateFocused(*x, d)) {
            *error = "TerminateProcess failed";
            rc = -1;
        }
    } else if (rc == 0 && req.lower) {
        XWindow focus = 0;
        int revert = 0;
        x->getInputFocus(d, &focus, &revert);
        if (focus > 1) x->lowerWindow(d, focus);
    }
    x->flush(d);
    x->closeDisplay(d);
    return rc;
}
