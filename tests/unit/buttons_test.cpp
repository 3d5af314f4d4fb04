#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/configrecord.h"
#include "app/buttons.h"
#include "console/keyboard.h"
#include "fake_ui.h"
#include "proc.h"

namespace {

// Everything a press reaches, recorded.
struct Seen {
    std::string sent;       // byte-by-byte sends
    std::string pasted;
    std::vector<std::string> docmds, tags, scripts, delivered;
    std::vector<unsigned> sleeps;
    bool running = false;
    int stops = 0;
    std::vector<std::string> labels;
};
Seen* g_seen = nullptr;

class Press : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        ButtonsResetCounters();
        g_seen = &seen;
        ButtonHooks& h = ButtonHooksRef();
        h.sendDelayed = [](const char* d, size_t n) { g_seen->sent.append(d, n); return n; };
        h.paste = [](const char* d, size_t n) { g_seen->pasted.append(d, n); return 1; };
        h.sleepMs = [](unsigned ms) { g_seen->sleeps.push_back(ms); };
        h.scriptRunning = [] { return g_seen->running; };
        h.scriptStop = [] { g_seen->stops++; g_seen->running = false; };
        h.runScript = [](const char* n) { g_seen->scripts.push_back(n); return 1; };
        h.docmd = [](const char* l) { g_seen->docmds.push_back(l); return 0; };
        h.logTag = [](const char* t) { g_seen->tags.push_back(t); };
        h.deliver = [](const char* d, size_t n) { g_seen->delivered.emplace_back(d, n); };
        h.labelChanged = [](bool b, int n, const char* l) {
            g_seen->labels.push_back((b ? "B" : "F") + std::to_string(n) + ":" + l);
        };
        h.headersChanged = [] {};
    }
    void TearDown() override {
        ButtonHooksReset();
        g_seen = nullptr;
    }
    FakeUi fake;
    Seen seen;
};

TEST_F(Press, TextsReachTheTargetAsDocumented) {
    struct Case {
        int key;
        bool vt100;
        const char* text;
        std::string sent, pasted;
    } cases[] = {
        {1, true, "", std::string("\x1bOP"), ""},
        {4, true, "", std::string("\x1bOS"), ""},
        {1, true, "x", "", "x"},
        {5, true, "", "", ""},                       // only F1-F4 have the VT100 default
        {1, false, "", "", ""},
        {2, false, "abc\\r", "", "abc\r"},
        {3, false, "\\x1b[A", "", "\x1b[A"},
        {6, false, "\\q", "", "\\q"},
        {7, false, "@@@SCRCMD:send x", "", "@@@SCRCMD:send x"},  // no blank: plain text
        {8, false, "tail\\", "", "tail\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        seen = Seen{};
        g_cfg.VT100_EMULATION = c.vt100;
        CFG_SET_STRING(g_cfg.FKEY[c.key - 1], c.text);
        EXPECT_EQ(PressFkey(c.key), 1);
        EXPECT_EQ(seen.sent, c.sent);
        EXPECT_EQ(seen.pasted, c.pasted);
    }
    EXPECT_EQ(FkeyPressCount(1), 3u);
    EXPECT_EQ(PressFkey(0), 0);
    EXPECT_EQ(PressFkey(13), 0);
}

TEST_F(Press, PrefixesRunCommandsTagsAndTestInput) {
    CFG_SET_STRING(g_cfg.BUTTON[0], "@@@SCRCMD: SEND \"hi\"");
    CFG_SET_STRING(g_cfg.BUTTON[1], "@@@LTAG: marker");
    CFG_SET_STRING(g_cfg.BUTTON[2], "@@@TEST: ok\\r\\n");
    CFG_SET_STRING(g_cfg.BUTTON[3], "^Preset\\r");
    for (int b = 1; b <= 4; ++b) EXPECT_EQ(PressButton(b), 1);
    EXPECT_EQ(seen.docmds, std::vector<std::string>{"SEND \"hi\""});
    EXPECT_EQ(seen.tags, std::vector<std::string>{"marker"});
    EXPECT_EQ(seen.delivered, std::vector<std::string>{"ok\r\n"});
    EXPECT_EQ(seen.sent, std::string("\n\x10reset\r"));
    EXPECT_EQ(seen.sleeps, std::vector<unsigned>{500});
    EXPECT_TRUE(seen.pasted.empty());
    EXPECT_EQ(ButtonPressCount(3), 1u);
}

TEST_F(Press, TestInputOverflowShowsTheBox) {
    std::string longText = "@@@TEST: " + std::string(120, 'a');   // 129 bytes
    CFG_SET_STRING(g_cfg.BUTTON[4], longText.c_str());
    CFG_SET_STRING(g_cfg.FKEY[8], longText.c_str());
    PressButton(5);
    PressFkey(9);
    ASSERT_EQ(fake.Boxes().size(), 2u);
    EXPECT_EQ(fake.Boxes()[0].title, "@@@TEST overflow");
    EXPECT_EQ(fake.Boxes()[0].text, "Button string exceeds @@@TEST bufsiz.");
    EXPECT_EQ(fake.Boxes()[1].text, "Fkey string exceeds @@@TEST bufsiz.");
    EXPECT_TRUE(seen.delivered.empty());
    // 128 bytes in all still fits.
    CFG_SET_STRING(g_cfg.BUTTON[4], ("@@@TEST: " + std::string(119, 'b')).c_str());
    PressButton(5);
    ASSERT_EQ(seen.delivered.size(), 1u);
    EXPECT_EQ(seen.delivered[0], std::string(119, 'b'));
}

TEST_F(Press, LongTextsAreNotPasted) {
    CFG_SET_STRING(g_cfg.BUTTON[5], std::string(513, 'z').c_str());
    EXPECT_EQ(PressButton(6), 1);
    EXPECT_TRUE(seen.pasted.empty());
    CFG_SET_STRING(g_cfg.BUTTON[5], std::string(512, 'z').c_str());
    PressButton(6);
    EXPECT_EQ(seen.pasted.size(), 512u);
}

TEST_F(Press, ScriptKeysAskBeforeStoppingARunningScript) {
    CFG_SET_STRING(g_cfg.BUTTON[6], "boot.scr");
    g_cfg.BTN_SCRIPT[6] = 1;
    seen.running = true;
    fake.Answer(IDNO);
    EXPECT_EQ(PressButton(7), 0);
    EXPECT_TRUE(seen.running);
    EXPECT_TRUE(seen.scripts.empty());
    ASSERT_EQ(fake.Boxes().size(), 1u);
    EXPECT_EQ(fake.Boxes()[0].title, "Script currentl running");
    EXPECT_EQ(fake.Boxes()[0].text, "Ok to terminate running script?");

    fake.Answer(IDYES);
    EXPECT_EQ(PressButton(7), 1);
    EXPECT_EQ(seen.stops, 1);
    EXPECT_EQ(seen.scripts, std::vector<std::string>{"boot.scr"});
}

TEST_F(Press, LabelsAreTrimmedAndCut) {
    std::string forty(40, 'L');
    EXPECT_EQ(SetLabel(true, 3, ("  " + forty + " ").c_str()), 1);
    EXPECT_EQ(std::string(g_cfg.BUTTON_LABEL[2]), forty.substr(0, 32));
    EXPECT_EQ(SetLabel(false, 9, "  run  "), 1);
    EXPECT_EQ(std::string(g_cfg.FKEY_LABEL[7]), "run");
    EXPECT_EQ(seen.labels, (std::vector<std::string>{"B3:" + forty.substr(0, 32), "F9:run"}));
    EXPECT_EQ(SetLabel(false, 1, "x"), 0);
    EXPECT_EQ(SetLabel(true, 17, "x"), 0);

    EXPECT_EQ(SetFkey(5, "go\\r", " Go ", true), 1);
    EXPECT_STREQ(g_cfg.FKEY[4], "go\\r");
    EXPECT_EQ(g_cfg.FKEY_SCRIPT[4], 1);
    EXPECT_STREQ(g_cfg.FKEY_LABEL[3], "Go");
}

TEST_F(Press, HeadersShowLabelColourAndToolTip) {
    SetFkey(2, "ver\\r", "Version", false);
    HeaderInfo f = FkeyHeader(0);
    EXPECT_EQ(f.text, "-- F2 --\nVersion");
    EXPECT_EQ(f.toolTip, "CMD: ver\\r");
    EXPECT_EQ(f.colour, 0u);

    CFG_SET_STRING(g_cfg.BUTTON[0], "flash.scr");
    g_cfg.BTN_SCRIPT[0] = 1;
    SetLabel(true, 1, "Flash\\nboard");
    HeaderInfo b = ButtonHeader(0);
    EXPECT_EQ(b.toolTip, "SCR: flash.scr");
    EXPECT_EQ(b.line1, "Flash");
    EXPECT_EQ(b.line2, "board");
    EXPECT_TRUE(ButtonHeader(1).toolTip.empty());

    SetHeaderColour(0, 200, 10, 10);
    EXPECT_EQ(ButtonHeader(15).colour, 0x0A0AC8u);
    EXPECT_EQ(ButtonHeader(15).textColour, 0x010101u);
    SetHeaderColour(2, 0, 0, 255);
    EXPECT_EQ(ButtonHeader(1).textColour, 0xFFFFFFu);
    EXPECT_EQ(ButtonHeader(0).colour, 0x0A0AC8u);
    SetHeaderColour(1, 0, 0, 0);
    EXPECT_EQ(g_cfg.BUTTON_COLOR[0], kButtonFaceColor);
    EXPECT_EQ(ButtonHeader(0).colour, 0u);
}

TEST_F(Press, Fkey2ScriptWritesFkeyCommands) {
    TempDir dir;
    SetLabel(true, 2, "Two");
    CFG_SET_STRING(g_cfg.BUTTON[1], "b2.scr");
    g_cfg.BTN_SCRIPT[1] = 1;
    SetFkey(3, "hello", "Hi", false);
    ASSERT_EQ(Fkey2Script(dir.File("keys.scr")), 1);
    std::string text = dir.Read("keys.scr");
    EXPECT_NE(text.find("FKEY -b 1 \"--B1--\" \"\"\n"), std::string::npos);
    EXPECT_NE(text.find("FKEY -bs 2 \"Two\" \"b2.scr\"\n"), std::string::npos);
    EXPECT_NE(text.find("FKEY  3 \"Hi\" \"hello\"\n"), std::string::npos);
    EXPECT_NE(text.find("FKEY  9 "), std::string::npos);
    EXPECT_EQ(text.find("FKEY  10 "), std::string::npos);

    EXPECT_EQ(Fkey2Script(dir.File("missing/keys.scr")), 0);
    ASSERT_EQ(fake.Boxes().size(), 1u);
}

TEST_F(Press, TypedFunctionKeysArePressed) {
    ButtonsInit();
    CFG_SET_STRING(g_cfg.FKEY[4], "@@@LTAG: typed");
    KeyboardKeyDown(CK_F1 + 4);
    EXPECT_EQ(seen.tags, std::vector<std::string>{"typed"});
    EXPECT_EQ(FkeyPressCount(5), 1u);
}

TEST_F(Press, ScriptPathsGoUnderTheScriptsDirectory) {
    EXPECT_EQ(ScriptFilePath("/abs/x.scr"), "/abs/x.scr");
    EXPECT_NE(ScriptFilePath("x.scr").find("/scripts/x.scr"), std::string::npos);
    EXPECT_EQ(ScriptFilePath(std::string(2100, 'a')), "");
}

}  // namespace
