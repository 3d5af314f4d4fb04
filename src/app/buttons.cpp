#include "app/buttons.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "console/editor.h"
#include "app/oxel.h"
#include "util/utils.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "console/keyboard.h"
#include "console/rxpath.h"
#include "log/logging.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "script/scripting.h"
#include "servers/websocsrvr.h"

#define OXEL_MODULE "buttons"

namespace {

std::atomic<uint32_t> g_fkeyCount[kFkeyCount];
std::atomic<uint32_t> g_buttonCount[kButtonCount];

// Texts go out on their own short-lived thread, one at a time, byte by byte
// with the character delay, as pastes do.
struct SendWorker {
    std::mutex mu;
    std::thread thread;
    ~SendWorker() {
        if (thread.joinable()) thread.join();
    }
};
SendWorker& Sender() {
    static SendWorker w;
    return w;
}
int PasteDefault(const char* data, size_t len) {
    if (len > kPasteMaxLen) return 0;
    SendWorker& w = Sender();
    std::lock_guard l(w.mu);
    if (w.thread.joinable()) w.thread.join();
    w.thread = std::thread([text = std::string(data, len)] { SendDelayed(text.data(), text.size()); });
    return 1;
}
// The new script is queued behind the halted one: it starts when that has ended.
void ScriptStopDefault() { script_halt(); }
int RunScriptDefault(const char* name) { return run_script(name, nullptr); }
// A press runs on the window's thread: the line goes to the script thread.
int PostLine(const char* line) {
    ScriptPostLine(line);
    return 0;
}
void HeadersChangedDefault() { ui().Relayout(); }

const ButtonHooks kDefaults{SendDelayed, PasteDefault,     hiresSleep,           ScriptRunning,
                            ScriptStopDefault,  RunScriptDefault, PostLine,                LogInsertTag,
                            BackendInjectReceived,     WebsocLabelChanged, HeadersChangedDefault};
ButtonHooks g_hooks = kDefaults;

std::string Field(const char* s, size_t cap) { return std::string(s, strnlen(s, cap)); }

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// Steps 3 and 4 of a press, shared by keys and buttons.
int PressText(const std::string& text, bool script, bool isButton) {
    if (script) {
        if (g_hooks.scriptRunning()) {
            if (OxelMessageBoxStyle(MB_YESNO | MB_ICONQUESTION, "Script currentl running",
                                    "Ok to terminate running script?") != IDYES)
                return 0;
            g_hooks.scriptStop();
        }
        g_hooks.runScript(text.c_str());
        return 1;
    }
    // Expansion only ever shortens; the result is limited to the buffer less two.
    std::vector<char> buf(text.size() + 1);
    int n = ExpandEscapes(text.data(), text.size(), buf.data(), buf.size());
    std::string r(buf.data(), n < 0 ? 0 : static_cast<size_t>(n));
    if (r.size() > kPressBufSize - 2) r.resize(kPressBufSize - 2);

    if (StartsWith(r, "^P")) {
        static const char kCtrlP[] = {'\n', 0x10};
        if (g_hooks.sendDelayed(kCtrlP, 2) != 2) return 0;
        g_hooks.sleepMs(500);
        std::string rest = r.substr(2);
        if (g_hooks.sendDelayed(rest.data(), rest.size()) != rest.size()) return 0;
    } else if (StartsWith(r, "@@@SCRCMD: ")) {
        g_hooks.docmd(r.c_str() + 11);
    } else if (StartsWith(r, "@@@LTAG: ")) {
        g_hooks.logTag(r.c_str() + 9);
    } else if (StartsWith(r, "@@@TEST: ")) {
        if (r.size() > kTestBufSize) {
            OxelMessageBox("@@@TEST overflow", "%s",
                           isButton ? "Button string exceeds @@@TEST bufsiz." : "Fkey string exceeds @@@TEST bufsiz.");
            return 1;
        }
        char test[kTestBufSize] = {};
        std::memcpy(test, r.data() + 9, r.size() - 9);
        size_t len = r.size() - 9;
        TracePrintf(TRC_SCRIPT, "@@@TEST sent (%d): <%s>", static_cast<int>(len), test);
        g_hooks.deliver(test, len);
    } else if (r.size() <= kPasteMaxLen) {
        if (!g_hooks.paste(r.data(), r.size())) return 0;
    }
    return 1;
}

std::string Trim(const char* text) {
    std::string s = text ? text : "";
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// The record keeps the system button colour (or 0) for "standard button".
uint32_t HeaderColour(int32_t configured) {
    const uint32_t c = static_cast<uint32_t>(configured) & 0xFFFFFF;
    return c == static_cast<uint32_t>(kButtonFaceColor) ? 0 : c;
}

uint32_t TextColourFor(uint32_t colour) {
    const uint32_t red = colour & 0xFF, green = (colour >> 8) & 0xFF;
    return (red > 128 || green > 128) ? 0x010101 : 0xFFFFFF;
}

std::string ToolTipFor(const std::string& text, bool script) {
    if (text.empty()) return {};
    // The tool-tip holds at most 1018 characters.
    std::string tip = (script ? "SCR: " : "CMD: ") + text;
    if (tip.size() > 1018) tip.resize(1018);
    return tip;
}

void NotifyLabel(bool button, int n, const char* label) {
    g_hooks.labelChanged(button, n, label);
    g_hooks.headersChanged();
}

}  // namespace

ButtonHooks& ButtonHooksRef() { return g_hooks; }
void ButtonHooksReset() { g_hooks = kDefaults; }

void ButtonsResetCounters() {
    for (auto& c : g_fkeyCount) c = 0;
    for (auto& c : g_buttonCount) c = 0;
}

namespace {
std::atomic<bool> g_fkeyOff[kFkeyCount + 1], g_buttonOff[kButtonCount + 1];
}  // namespace

void SetPressEnabled(bool button, int n, bool on) {
    if (button ? (n < 1 || n > kButtonCount) : (n < 1 || n > kFkeyCount)) return;
    (button ? g_buttonOff : g_fkeyOff)[n] = !on;
}

bool PressEnabled(bool button, int n) {
    if (button ? (n < 1 || n > kButtonCount) : (n < 1 || n > kFkeyCount)) return false;
    return !(button ? g_buttonOff : g_fkeyOff)[n];
}

int PressFkey(int n) {
    if (n < 1 || n > kFkeyCount || g_fkeyOff[n]) return 0;
    g_fkeyCount[n - 1]++;
    std::string text = Field(g_cfg.FKEY[n - 1], sizeof g_cfg.FKEY[0]);
    if (n <= 4 && g_cfg.VT100_EMULATION && text.empty()) {
        const char seq[3] = {0x1b, 'O', static_cast<char>('P' + n - 1)};
        return g_hooks.sendDelayed(seq, 3) == 3 ? 1 : 0;
    }
    return PressText(text, g_cfg.FKEY_SCRIPT[n - 1] != 0, false);
}

int PressButton(int n) {
    if (n < 1 || n > kButtonCount || g_buttonOff[n]) return 0;
    g_buttonCount[n - 1]++;
    std::string text = Field(g_cfg.BUTTON[n - 1], sizeof g_cfg.BUTTON[0]);
    return PressText(text, g_cfg.BTN_SCRIPT[n - 1] != 0, true);
}

uint32_t FkeyPressCount(int n) { return n >= 1 && n <= kFkeyCount ? g_fkeyCount[n - 1].load() : 0; }
uint32_t ButtonPressCount(int n) { return n >= 1 && n <= kButtonCount ? g_buttonCount[n - 1].load() : 0; }

int SetLabel(bool button, int n, const char* text) {
    if (button ? (n < 1 || n > kButtonCount) : (n < 2 || n > 9)) return 0;
    std::string label = Trim(text);
    if (label.size() > kLabelMax) label.resize(kLabelMax);
    if (button) CFG_SET_STRING(g_cfg.BUTTON_LABEL[n - 1], label.c_str());
    else CFG_SET_STRING(g_cfg.FKEY_LABEL[n - 2], label.c_str());
    NotifyLabel(button, n, label.c_str());
    return 1;
}

int SetFkey(int n, const char* text, const char* label, bool script) {
    if (n < 2 || n > 9) return 0;
    CFG_SET_STRING(g_cfg.FKEY[n - 1], text ? text : "");
    g_cfg.FKEY_SCRIPT[n - 1] = script ? 1 : 0;
    return SetLabel(false, n, label);
}

int SetHeaderColour(int n, int red, int green, int blue) {
    if (n < 0 || n > kButtonCount) return 0;
    int32_t colour = (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
    if (colour == 0) colour = kButtonFaceColor;
    for (int i = 0; i < kButtonCount; ++i)
        if (n == 0 || n == i + 1) g_cfg.BUTTON_COLOR[i] = colour;
    g_hooks.headersChanged();
    return 1;
}

HeaderInfo FkeyHeader(int index) {
    HeaderInfo h{};
    if (index < 0 || index >= kFkeyHeaders) return h;
    const int key = index + 2;
    std::string label = Field(g_cfg.FKEY_LABEL[index], sizeof g_cfg.FKEY_LABEL[0]);
    char head[16];
    std::snprintf(head, sizeof head, "-- F%d --", key);
    h.text = label.empty() ? std::string(head) : std::string(head) + "\n" + label;
    h.line1 = head;
    h.line2 = label;
    h.script = g_cfg.FKEY_SCRIPT[key - 1] != 0;
    h.toolTip = ToolTipFor(Field(g_cfg.FKEY[key - 1], sizeof g_cfg.FKEY[0]), h.script);
    h.colour = HeaderColour(g_cfg.FKEY_COLOR[index]);
    h.textColour = TextColourFor(h.colour);
    return h;
}

HeaderInfo ButtonHeader(int index) {
    HeaderInfo h{};
    if (index < 0 || index >= kButtonCount) return h;
    std::string label = Field(g_cfg.BUTTON_LABEL[index], sizeof g_cfg.BUTTON_LABEL[0]);
    // A label splits at its first line break, written as such or as "\n".
    size_t nl = label.find('\n'), skip = 1;
    if (nl == std::string::npos && (nl = label.find("\\n")) != std::string::npos) skip = 2;
    h.line1 = label.substr(0, nl);
    if (nl != std::string::npos) h.line2 = label.substr(nl + skip);
    h.text = nl == std::string::npos ? label : h.line1 + "\n" + h.line2;
    h.script = g_cfg.BTN_SCRIPT[index] != 0;
    h.toolTip = ToolTipFor(Field(g_cfg.BUTTON[index], sizeof g_cfg.BUTTON[0]), h.script);
    h.colour = HeaderColour(g_cfg.BUTTON_COLOR[index]);
    h.textColour = TextColourFor(h.colour);
    return h;
}

int HeaderClick(bool button, int index) { return button ? PressButton(index + 1) : PressFkey(index + 2); }

std::string ScriptFilePath(const std::string& name) {
    std::string path = (!name.empty() && (name[0] == '/' || name[0] == '\\')) ? name
                                                                             : InstallDir() + "/scripts/" + name;
    return path.size() > 2047 ? std::string() : path;
}

int HeaderRightClick(bool button, int index) {
    const HeaderInfo h = button ? ButtonHeader(index) : FkeyHeader(index);
    if (h.script) {
        std::string name = button ? Field(g_cfg.BUTTON[index], sizeof g_cfg.BUTTON[0])
                                  : Field(g_cfg.FKEY[index + 1], sizeof g_cfg.FKEY[0]);
        std::string path = ScriptFilePath(name);
        return path.empty() ? 0 : StartEditor(path);
    }
    return ui().ShowDialog(button ? kButtonsDialog : kFkeysDialog) ? 1 : 0;
}

void ButtonsRefreshHeaders() { g_hooks.headersChanged(); }

int Fkey2Script(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        ERROR_REPORT("Can't open '%s'", path.c_str());
        return 0;
    }
    for (int i = 0; i < kButtonCount; ++i)
        std::fprintf(f, "FKEY -b%s %d \"%s\" \"%s\"\n", g_cfg.BTN_SCRIPT[i] ? "s" : "", i + 1,
                     Field(g_cfg.BUTTON_LABEL[i], sizeof g_cfg.BUTTON_LABEL[0]).c_str(),
                     Field(g_cfg.BUTTON[i], sizeof g_cfg.BUTTON[0]).c_str());
    for (int k = 1; k <= 9; ++k)
        std::fprintf(f, "FKEY %s %d \"%s\" \"%s\"\n", g_cfg.FKEY_SCRIPT[k - 1] ? "-s" : "", k,
                     k >= 2 ? Field(g_cfg.FKEY_LABEL[k - 2], sizeof g_cfg.FKEY_LABEL[0]).c_str() : "",
                     Field(g_cfg.FKEY[k - 1], sizeof g_cfg.FKEY[0]).c_str());
    bool ok = std::ferror(f) == 0;
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        ERROR_REPORT("Can't write '%s'", path.c_str());
        return 0;
    }
    return 1;
}

void Fkey2ScriptMenu() {
    UiFileRequest req;
    req.save = true;
    req.title = "Fkey2Script:";
    req.startDir = InstallDir() + "/scripts";
    std::optional<std::string> path = ui().ChooseFile(req);
    if (path && !path->empty()) Fkey2Script(*path);
}

void ButtonsInit() {
    KeyboardSetFkeyHandler([](int n) { PressFkey(n); });
}

void ButtonsWaitSend() {
    SendWorker& w = Sender();
    std::lock_guard l(w.mu);
    if (w.thread.joinable()) w.thread.join();
}
