#include "platform/cli/cli_controls.h"

#include <cstdio>
#include <optional>
#include <string>

#include "app/buttons.h"
#include "backend/backend.h"
#include "backend/comport.h"
#include "config/configrecord.h"
#include "console/hostkeys.h"
#include "console/keyboard.h"
#include "console/screenbuf.h"
#include "platform/report.h"
#include "platform/ui.h"
#include "script/scripting.h"
#include "util/cmdids.h"
#include "util/commands.h"
#include "util/utils.h"

namespace {

constexpr char kCtrlBracket = 0x1D;

// A prompt line being typed: its question and what to do with the answer.
struct Prompt {
    const char* question;
    void (*done)(const std::string& answer);
    std::string text;
};

struct Controls {
    bool escape = false;            // Ctrl-] seen, the next key is a control
    std::optional<Prompt> prompt;
};
Controls g_ctl;

// One line of our own on the terminal, never sent to the board or logged.
void Say(const std::string& text) {
    std::string line = "\r\n[oxel] " + text + "\r\n";
    ui().ConsoleBytes(line.data(), line.size());
}

void Ask(const char* question, void (*done)(const std::string&), std::string start = {}) {
    g_ctl.prompt = Prompt{question, done, start};
    std::string shown = std::string("\r\n[oxel] ") + question + start;
    ui().ConsoleBytes(shown.data(), shown.size());
}

void SayBaudRate() { Say("Baud rate " + std::to_string(g_cfg.BAUDRATE)); }

// The next (step 1) or previous (step -1) rate of the table.
void StepBaudRate(int step) {
    if (g_cfg.BACKEND != 1 || !BackendConnected()) return Say("Baud rate: no COM port open");
    const int rows = static_cast<int>(kBaudRateRows);
    int row = -1;
    for (int i = 0; i < rows; ++i)
        if (BaudRateTable[i].rate == g_cfg.BAUDRATE) row = i;
    if (row < 0) row = step > 0 ? -1 : rows;
    for (int i = row + step; i >= 0 && i < rows; i += step)
        if (ChangeBaudRate(BaudRateTable[i].rate)) return SayBaudRate();
    SayBaudRate();
}

void TypedBaudRate(const std::string& answer) {
    auto rate = ParseUnsigned(answer.c_str());
    if (!rate || *rate < 1 || *rate > 100000000) return Say("Baud rate unchanged: not a rate");
    if (!ChangeBaudRate(static_cast<int>(*rate))) return Say("Baud rate unchanged");
    SayBaudRate();
}

void RunNamedScript(const std::string& name) {
    if (name.empty()) return Say("No script run");
    Say(run_script(name.c_str(), nullptr) ? "Script " + name + " started" : "Script " + name + " not started");
}

void PressNumberedButton(const std::string& answer) {
    auto n = ParseUnsigned(answer.c_str());
    if (!n || *n < 1 || *n > static_cast<unsigned>(kButtonCount)) return Say("No button " + answer);
    PressButton(static_cast<int>(*n));
    Say("Button " + answer + " pressed");
}

void Help();

void Break() {
    if (g_cfg.BACKEND != 1 || !BackendConnected()) return Say("Break: no COM port open");
    CommandDispatch(CMD_TB_BREAK);
    Say("Break sent");
}

void TimeStamps() {
    CommandDispatch(CMD_TB_TIMESTAMP);
    Say(g_cfg.TSTAMP_ENABLED ? "Time stamps on" : "Time stamps off");
}

void HexView() {
    static const char* const kModes[] = {"off", "all bytes", "all but CR and LF", "non-printables only"};
    g_cfg.HEXMODE = (g_cfg.HEXMODE + 1) % 4;
    Say(std::string("Hex view ") + kModes[g_cfg.HEXMODE]);
}

void Logging() {
    CommandDispatch(CMD_TB_LOG);
    Say(g_cfg.LOGGING_ENABLED ? std::string("Logging on: ") + g_cfg.LOGGING_FILENAME : "Logging off");
}

void Clear() {
    CommandDispatch(CMD_CLEAR_CONSOLE);
    const char kHome[] = "\x1b[H\x1b[2J";
    ui().ConsoleBytes(kHome, sizeof kHome - 1);
    Say("Screen cleared");
}

void Halt() {
    if (!ScriptRunning()) return Say("No script running");
    script_halt();
    Say("Script halted");
}

const struct {
    char key;
    const char* help;
    void (*run)();
} kControls[] = {
    {'?', "this list", Help},
    {'b', "send a break", Break},
    {'t', "time stamps on/off", TimeStamps},
    {'h', "hex view: all bytes, all but CR and LF, non-printables, off", HexView},
    {'l', "logging on/off", Logging},
    {'+', "baud rate up", [] { StepBaudRate(1); }},
    {'-', "baud rate down", [] { StepBaudRate(-1); }},
    {'B', "type a baud rate", [] { Ask("Baud rate: ", TypedBaudRate); }},
    {'c', "clear the screen", Clear},
    {'r', "run a script", [] { Ask("Script: ", RunNamedScript, g_cfg.LAST_SCRIPTNAME); }},
    {'s', "halt the script", Halt},
};

void Help() {
    std::string text = "Ctrl-] then:";
    for (const auto& c : kControls) text += std::string("\r\n  ") + c.key + "  " + c.help;
    text += "\r\n  1-16 then Enter  press that button\r\n  q  quit\r\n  Ctrl-]  send Ctrl-] itself"
            "\r\nF1-F12 run the function keys.";
    Say(text);
}

// A key of the prompt line: Enter ends it, Backspace takes one back,
// Ctrl-] or Escape drops it.
void PromptKey(char ch) {
    Prompt& p = *g_ctl.prompt;
    if (ch == '\r' || ch == '\n') {
        Prompt done = std::move(p);
        g_ctl.prompt.reset();
        done.done(done.text);
    } else if (ch == kCtrlBracket || ch == 0x1B) {
        g_ctl.prompt.reset();
        Say("Cancelled");
    } else if ((ch == 0x7F || ch == '\b') && !p.text.empty()) {
        p.text.pop_back();
        ui().ConsoleBytes("\b \b", 3);
    } else if (static_cast<unsigned char>(ch) >= ' ' && ch != 0x7F) {
        p.text += ch;
        ui().ConsoleBytes(&ch, 1);
    }
}

// The key after Ctrl-]; false for quit.
bool ControlKey(char ch) {
    if (ch == 'q' || ch == 'Q') {
        RequestShutdown(0);
        return false;
    }
    if (ch == kCtrlBracket) {
        KeyboardChar(ch);
        return true;
    }
    if (ch >= '1' && ch <= '9') {
        Ask("Button: ", PressNumberedButton, std::string(1, ch));
        return true;
    }
    for (const auto& c : kControls)
        if (c.key == ch) {
            c.run();
            return true;
        }
    Say(std::string("Unknown control; Ctrl-] ? lists them"));
    return true;
}

}  // namespace

bool CliControlsInput(const char* data, size_t len) {
    for (size_t i = 0; i < len;) {
        char ch = data[i];
        if (g_ctl.prompt) {
            PromptKey(ch);
            ++i;
        } else if (g_ctl.escape) {
            g_ctl.escape = false;
            ++i;
            if (!ControlKey(ch)) return false;
        } else if (ch == kCtrlBracket) {
            g_ctl.escape = true;
            ++i;
        } else if (HostKey k = ScanHostKey(data + i, len - i); k.fkey) {
            PressFkey(k.fkey);
            i += k.length;
        } else {
            KeyboardChar(ch);
            ++i;
        }
    }
    return true;
}
