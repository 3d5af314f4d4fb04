#include "console/keyboard.h"
#include "util/cmdids.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "util/commands.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "platform/clock.h"
#include "platform/ui.h"

namespace {

constexpr size_t kLineMax = 128;
constexpr size_t kHexMax = 252;
constexpr size_t kPasteMax = 512;

std::string g_line;        // LINEMODE's typed line (UI thread)
std::string g_hexLine;     // the hex-entry editor's line (UI thread)
int g_hexSeparators = 0;
std::atomic<KeyConsumerFn> g_keyConsumer{nullptr};
std::atomic<FkeyFn> g_fkeyHandler{nullptr};

// The paste worker: one short-lived thread at a time, joined before the next
// one starts and at exit.
struct PasteWorker {
    std::mutex mu;
    std::thread thread;
    std::atomic<bool> busy{false};
    ~PasteWorker() {
        if (thread.joinable()) thread.join();
    }
};
PasteWorker& Paster() {
    static PasteWorker w;
    return w;
}

void Echo(const char* text) { ConsoleWritePlain(text, std::char_traits<char>::length(text)); }

// The checksum ACH_CSUM_METHOD appends: its value is the byte count (1: the
// 8-bit sum, 2: CRC-16 CCITT high byte first, 4: CRC-32 high byte first).
std::vector<uint8_t> HexChecksum(const std::vector<uint8_t>& bytes) {
    switch (g_cfg.ACH_CSUM_METHOD) {
    case 1: {
        uint8_t sum = 0;
        for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
        return {sum};
    }
    case 2: {
        uint16_t crc = 0xFFFF;
        for (uint8_t b : bytes) {
            crc ^= static_cast<uint16_t>(b << 8);
            for (int i = 0; i < 8; ++i)
                crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        return {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    }
    case 4: {
        uint32_t crc = Crc32(bytes.data(), bytes.size());
        return {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 8),
                static_cast<uint8_t>(crc)};
    }
    default:
        return {};
    }
}

int HexDigits() {
    int n = 0;
    for (char c : g_hexLine)
        if (std::isxdigit(static_cast<unsigned char>(c))) ++n;
    return n;
}

void HexEnter() {
    if (g_hexLine.empty()) {
        Echo("\r\n");
        return;
    }
    std::vector<uint8_t> bytes;
    std::string digits;
    for (char c : g_hexLine)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    std::vector<uint8_t> sum = HexChecksum(bytes);
    if (!sum.empty()) {
        std::string shown = " <";
        char h[3];
        for (uint8_t b : sum) {
            std::snprintf(h, sizeof h, "%02x", b);
            shown += h;
        }
        shown += ">";
        Echo(shown.c_str());
    }
    Echo("\r\n");
    bytes.insert(bytes.end(), sum.begin(), sum.end());
    RxBackendWrite(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    g_hexLine.clear();
    g_hexSeparators = 0;
}

void HexEntry(char ch) {
    if (ch == '\b') {
        if (g_hexLine.empty()) return;
        char removed = g_hexLine.back();
        g_hexLine.pop_back();
        if (removed == ' ' || removed == '-') --g_hexSeparators;
        Echo("\b \b");
        return;
    }
    if (ch != '\r' && g_hexLine.size() >= kHexMax) return;
    if (std::isxdigit(static_cast<unsigned char>(ch))) {
        g_hexLine += ch;
        char e[2] = {ch, 0};
        Echo(e);
        return;
    }
    if (HexDigits() % 2) return;
    if (ch == ' ' || ch == '-') {
        g_hexLine += ch;
        ++g_hexSeparators;
        char e[2] = {ch, 0};
        Echo(e);
        return;
    }
    if (ch == '\r') HexEnter();
}

// Step 2 of a typed character: reconnect after an automatic close, then the
// read-only and connection checks, then the byte.
void SendChar(char ch) {
    RxHooks& h = RxHooksRef();
    if (h.backendLost()) {
        Echo("\r\n");
        Echo("# Attempting to reconnect...\r\n");
        if (!h.reconnect()) Echo("# No luck...\r\n");
        ui().StatusRefresh();
    }
    if (g_cfg.CONSOLE_READONLY || (!h.backendConnected() && g_cfg.COMPORT != 1025)) return;
    if (g_cfg.ASCIICODEDHEX_ENTRYMODE) {
        HexEntry(ch);
        return;
    }
    if (ch == 0x16 && g_cfg.CTRLV_IS_PASTE) {
        if (!CommandDispatch(CMD_PASTE)) KeyboardPaste(false);
        return;
    }
    RxBackendWrite(&ch, 1);
    if (ch == '\r' && g_cfg.ENTER_IS_CRLF) RxBackendWrite("\n", 1);
}

struct KeySeq {
    int key;
    const char* bytes;
};
const KeySeq kKeySeqs[] = {
    {CK_UP, "\x1b[A"},    {CK_DOWN, "\x1b[B"},  {CK_RIGHT, "\x1b[C"}, {CK_LEFT, "\x1b[D"},
    {CK_HOME, "\x1b[1~"}, {CK_END, "\x1b[4~"},  {CK_PRIOR, "\x1b[5~"}, {CK_NEXT, "\x1b[6~"},
};

void ToggleKey(CfgInt& key) { key = key ? 0 : 1; }

}  // namespace

size_t SendDelayed(const char* data, size_t len) {
    const int delay = g_cfg.DELAY_BETWEEN_CHARS;
    for (size_t i = 0; i < len; ++i) {
        if (RxBackendWrite(data + i, 1) <= 0) return i;
        if (delay > 0 && i + 1 < len) hiresSleep(static_cast<unsigned>(delay));
    }
    return len;
}

bool KeyboardKeyDown(int key) {
    if (KeyConsumerFn consumer = g_keyConsumer.load(); consumer && consumer(key)) return true;
    RxHooksRef().activity();
    ConsoleEndCapture();
    for (const KeySeq& k : kKeySeqs)
        if (k.key == key) {
            size_t n = std::char_traits<char>::length(k.bytes);
            return SendDelayed(k.bytes, n) == n;
        }
    if (key == CK_DELETE) return RxBackendWrite("\x7f", 1) > 0;
    if (key == CK_PAUSE) {
        CommandDispatch(CMD_TB_BREAK);   // BREAK on the COM port for 500 ms
        return true;
    }
    if (key >= CK_F1 && key <= CK_F12) {
        if (FkeyFn f = g_fkeyHandler.load()) f(key - CK_F1 + 1);
        return true;
    }
    return false;
}

void KeyboardChar(char ch) {
    if (!g_cfg.LINEMODE) {
        SendChar(ch);
        return;
    }
    if (ch == '\r' || ch == '\n') {
        std::string line;
        line.swap(g_line);
        for (char c : line) SendChar(c);
        SendChar(ch);
        return;
    }
    if (g_line.size() < kLineMax) {
        g_line += ch;
        if (g_cfg.LOCALECHO) ConsoleWritePlain(&ch, 1);
    }
}

void KeyboardPaste(bool withNewline) {
    std::optional<std::string> text = ui().GetClipboard();
    if (!text) return;
    ConsoleEndCapture();
    if (text->size() > kPasteMax) return;
    PasteWorker& w = Paster();
    std::lock_guard l(w.mu);
    // Waiting for the previous paste is joining its thread.
    if (w.thread.joinable()) w.thread.join();
    w.busy = true;
    w.thread = std::thread([t = std::move(*text), withNewline, &w] {
        if (SendDelayed(t.data(), t.size()) == t.size() && withNewline) {
            const char* nl = g_cfg.ENTER_IS_CRLF ? "\r\n" : "\n";
            SendDelayed(nl, std::char_traits<char>::length(nl));
        }
        w.busy = false;
    });
}

bool KeyboardPasteBusy() { return Paster().busy; }

void KeyboardPasteWait() {
    PasteWorker& w = Paster();
    std::lock_guard l(w.mu);
    if (w.thread.joinable()) w.thread.join();
}

void KeyboardSetKeyConsumer(KeyConsumerFn fn) { g_keyConsumer = fn; }
void KeyboardSetFkeyHandler(FkeyFn fn) { g_fkeyHandler = fn; }

void KeyboardRegisterCommands() {
    CommandRegister({CMD_PASTE, "&Edit", "Paste", [] { KeyboardPaste(false); }});
    CommandRegister({CMD_PASTE_NEWLINE, "&Edit", "PasteWithNewline", [] { KeyboardPaste(true); }});
    CommandRegister({CMD_RTBTNPASTE, "&Config", "RtBtnIsPaste", [] {
                         ToggleKey(g_cfg.RIGHT_BTTN_PASTE);
                         ui().MenuCheck(CMD_RTBTNPASTE, g_cfg.RIGHT_BTTN_PASTE != 0);
                     },
                     true});
    CommandRegister({CMD_READONLY, "&Config", "Readonly", [] {
                         ToggleKey(g_cfg.CONSOLE_READONLY);
                         ui().MenuCheck(CMD_READONLY, g_cfg.CONSOLE_READONLY != 0);
                         ui().StatusRefresh();
                     },
                     true});
}

void KeyboardReset() {
    g_line.clear();
    g_hexLine.clear();
    g_hexSeparators = 0;
}
