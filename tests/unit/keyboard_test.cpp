#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "util/commands.h"
#include "app/oxel.h"
#include "config/configrecord.h"
#include "console/keyboard.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "fake_ui.h"

namespace {

std::vector<std::string> g_writes;   // one entry per backend write
bool g_connected = true, g_lost = false;
int g_reconnects = 0, g_breaks = 0, g_fkey = 0;

int Record(const char* d, size_t n) {
    g_writes.emplace_back(d, n);
    return static_cast<int>(n);
}

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        g_cfg.DELAY_BETWEEN_CHARS = 0;
        SetFrameInitialised(true);
        ConsoleInit(30, 90);
        ConsoleResizeChars(25, 80);
        ConsoleClear();
        KeyboardReset();
        RxHooksReset();
        RxHooks& h = RxHooksRef();
        h.backendWrite = Record;
        h.backendConnected = [] { return g_connected; };
        h.backendLost = [] { return g_lost; };
        h.reconnect = [] {
            ++g_reconnects;
            return 0;
        };
        g_writes.clear();
        g_connected = true;
        g_lost = false;
        g_reconnects = g_breaks = g_fkey = 0;
        ui.Reset();
    }
    void TearDown() override {
        KeyboardPasteWait();
        RxHooksReset();
    }
    void Type(const std::string& s) {
        for (char c : s) KeyboardChar(c);
    }
    std::string Sent() {
        std::string all;
        for (const auto& w : g_writes) all += w;
        return all;
    }
    FakeUi ui;
};

TEST_F(Keyboard, KeyTableSendsEscapeSequencesByteByByte) {
    struct Case {
        int key;
        std::string bytes;
        size_t writes;
    } cases[] = {
        {CK_UP, "\x1b[A", 3},  {CK_DOWN, "\x1b[B", 3},  {CK_RIGHT, "\x1b[C", 3}, {CK_LEFT, "\x1b[D", 3},
        {CK_HOME, "\x1b[1~", 4}, {CK_END, "\x1b[4~", 4}, {CK_PRIOR, "\x1b[5~", 4}, {CK_NEXT, "\x1b[6~", 4},
        {CK_DELETE, "\x7f", 1},
    };
    for (const auto& c : cases) {
        g_writes.clear();
        EXPECT_TRUE(KeyboardKeyDown(c.key));
        EXPECT_EQ(Sent(), c.bytes);
        EXPECT_EQ(g_writes.size(), c.writes);
    }
    g_writes.clear();
    EXPECT_FALSE(KeyboardKeyDown(CK_OTHER));
    EXPECT_TRUE(g_writes.empty());
}

TEST_F(Keyboard, PauseSendsABreakAndNothingElse) {
    CommandRegister({957, "", "", [] { ++g_breaks; }});
    EXPECT_TRUE(KeyboardKeyDown(CK_PAUSE));
    EXPECT_EQ(g_breaks, 1);
    EXPECT_TRUE(g_writes.empty());
    KeyboardSetFkeyHandler([](int n) { g_fkey = n; });
    EXPECT_TRUE(KeyboardKeyDown(CK_F1 + 2));
    EXPECT_EQ(g_fkey, 3);
    KeyboardSetFkeyHandler(nullptr);
}

TEST_F(Keyboard, ReadonlyBlocksTypingButNotKeys) {
    g_cfg.CONSOLE_READONLY = 1;
    Type("ls\r");
    EXPECT_TRUE(g_writes.empty());
    EXPECT_TRUE(KeyboardKeyDown(CK_UP));
    EXPECT_EQ(Sent(), "\x1b[A");
}

TEST_F(Keyboard, TypedCharacters) {
    struct Case {
        const char* name;
        int connected, comport, crlf, linemode;
        std::string typed;
        std::vector<std::string> writes;
    } cases[] = {
        {"connected", 1, 0, 0, 0, "ab\r", {"a", "b", "\r"}},
        {"ENTER_IS_CRLF", 1, 0, 1, 0, "a\r", {"a", "\r", "\n"}},
        {"disconnected drops", 0, 0, 0, 0, "ab", {}},
        {"loop-back port still sends", 0, 1025, 0, 0, "ab", {"a", "b"}},
        {"LINEMODE sends only after Enter", 1, 0, 0, 1, "ls", {}},
        {"LINEMODE Enter sends the line in order", 1, 0, 0, 1, "ls\r", {"l", "s", "\r"}},
    };
    for (const auto& c : cases) {
        g_writes.clear();
        KeyboardReset();
        g_connected = c.connected;
        g_cfg.COMPORT = c.comport;
        g_cfg.ENTER_IS_CRLF = c.crlf;
        g_cfg.LINEMODE = c.linemode;
        Type(c.typed);
        EXPECT_EQ(g_writes, c.writes) << c.name;
    }
}

TEST_F(Keyboard, LinemodeEchoesWhileCollecting) {
    g_cfg.LINEMODE = 1;
    g_cfg.LOCALECHO = 1;
    Type("ls");
    EXPECT_TRUE(g_writes.empty());
    EXPECT_EQ(ui.Console(), "ls");
    Type("\r");
    EXPECT_EQ(g_writes, (std::vector<std::string>{"l", "s", "\r"}));
    // The line holds at most 128 characters.
    Type(std::string(200, 'x') + "\n");
    EXPECT_EQ(g_writes.size(), 3u + 128u + 1u);
}

TEST_F(Keyboard, HexEntryEditor) {
    struct Case {
        int method;
        std::string typed, sent, shown;
    } cases[] = {
        {0, "0d 0a\r", "\x0d\x0a", "0d 0a\r\n"},
        {1, "01-02\r", std::string("\x01\x02\x03", 3), "01-02 <03>\r\n"},
        {2, "3132333435363738397\b\r", "123456789\x29\xb1", "3132333435363738397\b \b <29b1>\r\n"},
        {4, "31 32 33\r", std::string("123\x88\x48\x63\xd2", 7), "31 32 33 <884863d2>\r\n"},
        {0, "0 1\r", "\x01", "01\r\n"},   // a separator after an odd digit count is ignored
        {0, "\r", "", "\r\n"},
    };
    g_cfg.ASCIICODEDHEX_ENTRYMODE = 1;
    for (const auto& c : cases) {
        g_writes.clear();
        ui.Reset();
        KeyboardReset();
        g_cfg.ACH_CSUM_METHOD = c.method;
        Type(c.typed);
        EXPECT_EQ(Sent(), c.sent) << c.typed;
        EXPECT_LE(g_writes.size(), 1u) << "one backend write";
        EXPECT_EQ(ui.Console(), c.shown) << c.typed;
    }
}

TEST_F(Keyboard, ReconnectAttemptOnTypingAfterALostConnection) {
    g_lost = true;
    g_connected = false;
    Type("a");
    EXPECT_EQ(g_reconnects, 1);
    EXPECT_EQ(ui.Console(), "\r\n# Attempting to reconnect...\r\n# No luck...\r\n");
    EXPECT_EQ(ui.StatusRefreshes(), 1);
    EXPECT_TRUE(g_writes.empty());
}

TEST_F(Keyboard, PasteSendsTheClipboardByteByByte) {
    ui.SetClipboard("hey");
    KeyboardPaste(true);
    KeyboardPasteWait();
    EXPECT_EQ(g_writes, (std::vector<std::string>{"h", "e", "y", "\n"}));
    g_writes.clear();
    g_cfg.ENTER_IS_CRLF = 1;
    g_cfg.CONSOLE_READONLY = 1;   // pastes still write
    KeyboardPaste(true);
    KeyboardPasteWait();
    EXPECT_EQ(Sent(), "hey\r\n");
    g_writes.clear();
    ui.SetClipboard(std::string(513, 'x'));
    KeyboardPaste(false);
    KeyboardPasteWait();
    EXPECT_TRUE(g_writes.empty());
    // Ctrl-V typed runs the paste.
    g_cfg.CONSOLE_READONLY = 0;
    ui.SetClipboard("v");
    KeyboardChar(0x16);
    KeyboardPasteWait();
    EXPECT_EQ(Sent(), "v");
}

TEST_F(Keyboard, CharacterDelayHoldsBetweenBytes) {
    g_cfg.DELAY_BETWEEN_CHARS = 20;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendDelayed("abcd", 4), 4u);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(ms.count(), 60);   // three gaps; no upper bound on a loaded machine
    RxHooksRef().backendWrite = [](const char*, size_t) { return -1; };
    EXPECT_EQ(SendDelayed("abcd", 4), 0u);
}

}  // namespace
