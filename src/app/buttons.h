// Function keys F1-F12 and the sixteen buttons: the press operations, the
// header texts and tool-tips of the two bands, label and colour setting, and
// Fkey2Script. The same presses serve the keyboard, header clicks, the
// telnet server's local commands and remote requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kFkeyCount = 12;
constexpr int kButtonCount = 16;
constexpr int kFkeyHeaders = 8;         // F2..F9
constexpr size_t kLabelMax = 32;
constexpr size_t kPressBufSize = 1024;  // escape expansion buffer
constexpr size_t kPasteMaxLen = 512;    // longer texts are not sent
constexpr size_t kTestBufSize = 128;

constexpr const char* kFkeysDialog = "Function Key Configuration";
constexpr const char* kButtonsDialog = "Buttons Configuration";

// Presses F1..F12 (n = 1..12) / button n (1..16): 1 when something was done,
// 0 otherwise (out of range, a refused script stop, a failed send).
int PressFkey(int n);
int PressButton(int n);
// FKEY N enable / disable: a disabled key or button does nothing when it is
// pressed (locally, remotely or by a script) until it is enabled again.
void SetPressEnabled(bool button, int n, bool on);
bool PressEnabled(bool button, int n);
uint32_t FkeyPressCount(int n);
uint32_t ButtonPressCount(int n);

// FKEY script command: text, label (trimmed) and script flag of F2..F9.
int SetFkey(int n, const char* text, const char* label, bool script);
// Label of F2..F9 (button false) or button 1..16: blanks trimmed at both ends,
// cut to 32 characters; the WebSocket clients hear of it.
int SetLabel(bool button, int n, const char* text);
// Colour of button n, or of all buttons when n is 0; 0/0/0 is the system colour.
int SetHeaderColour(int n, int red, int green, int blue);

// Header i of a band (function keys: 0..7 for F2..F9; buttons: 0..15).
struct HeaderInfo {
    std::string text;       // standard button text, or the drawn text's lines
    std::string line1, line2;  // the drawn form: first and second line ("" = none)
    std::string toolTip;    // "SCR: ..." / "CMD: ...", empty when no text
    uint32_t colour;        // 0x00BBGGRR, 0 = the system button colour (a standard button)
    uint32_t textColour;    // for drawn headers: 0x010101 or 0xFFFFFF
    bool script;
};
HeaderInfo FkeyHeader(int index);
HeaderInfo ButtonHeader(int index);
// Header click: presses the key (F(index + 2)) or button (index + 1).
int HeaderClick(bool button, int index);
// Right click: edit the script, or open the configuration dialog.
int HeaderRightClick(bool button, int index);
// A script name as a path: absolute names stay, others go under
// INSTALLDIR/scripts; "" when the result would exceed 2047 characters.
std::string ScriptFilePath(const std::string& name);
// Asks the face to refresh every header (after a configuration load).
void ButtonsRefreshHeaders();

// Scripts -> Fkey2Script: the definitions as FKEY commands.
int Fkey2Script(const std::string& path);
void Fkey2ScriptMenu();

// What a press reaches outside this module; tests replace rows.
struct ButtonHooks {
    // Byte-by-byte send with the character delay; returns bytes written.
    size_t (*sendDelayed)(const char* data, size_t len);
    // The paste sender (its own thread); 1 when started.
    int (*paste)(const char* data, size_t len);
    void (*sleepMs)(unsigned ms);
    bool (*scriptRunning)();
    // Stops the running scripts and waits for them to end.
    void (*scriptStop)();
    int (*runScript)(const char* name);
    int (*docmd)(const char* line);
    void (*logTag)(const char* text);
    void (*deliver)(const char* data, size_t len);
    void (*labelChanged)(bool button, int n, const char* label);
    void (*headersChanged)();
};
ButtonHooks& ButtonHooksRef();
void ButtonHooksReset();
void ButtonsResetCounters();

// Start-up: the keyboard's function keys come here.
void ButtonsInit();
// Waits for a text being sent by a press (shutdown, tests).
void ButtonsWaitSend();
