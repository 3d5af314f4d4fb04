#include "script/catchstr.h"

#include "app/oxel.h"

#include <gtest/gtest.h>

#include "config/configrecord.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "fake_ui.h"
#include "script/scripting.h"
#include "config/shellvar.h"

namespace {

struct CatchFixture : ::testing::Test {
    FakeUi ui;
    void SetUp() override {
        CatchClear();
        CatchSetTagging(false);
    }
    void TearDown() override {
        CatchClear();
        CatchSetTagging(false);
    }
    static void Set(std::vector<std::string> strings, bool tagging = false) {
        CatchConfig c;
        c.strings = std::move(strings);
        CatchSet(c);
        CatchSetTagging(tagging);
    }
    static std::string Caught() { return shell_getenv("CATCHSTRING").value_or("<unset>"); }
};

TEST_F(CatchFixture, MatchesAndCaptures) {
    struct Case {
        const char* pattern;
        const char* stream;
        const char* caught;
    } cases[] = {
        {"ERR", "xxERRyy", "ERR"},
        {"E.R", "aE-Rb", "E-R"},               // "." matches any byte
        {"ab", "aab", "ab"},                   // first character restarts the match
        {"FAIL*\\n", "ok\r\nFAIL: disk 3\r\n", "FAIL: disk 3"},  // rest of the line
        {"\\x41B", "zzAB", "AB"},              // the pattern takes the send escapes
        {"abc", "abxabc", "abc"},
    };
    for (const auto& c : cases) {
        shell_unsetenv("CATCHSTRING");
        Set({c.pattern}, true);  // tagging keeps the table after a catch
        CatchFeed(c.stream, strlen(c.stream));
        EXPECT_EQ(Caught(), c.caught) << c.pattern;
    }
}

TEST_F(CatchFixture, OneCatchWithoutScriptOrTagging) {
    Set({"OK"});
    EXPECT_TRUE(CatchActive());
    CatchFeed("..OK..", 6);
    EXPECT_EQ(Caught(), "OK");
    EXPECT_FALSE(CatchActive());
}

TEST_F(CatchFixture, CaughtLineIsTaggedThroughTheReceivePath) {
    ConfigInitDefaults();
    g_cfg.VT100_EMULATION = 0;
    SetFrameInitialised(true);
    ConsoleInit(100, 80);
    ConsoleSetMetrics(8, 16);
    ConsoleResizeChars(25, 80);
    ConsoleClear();
    RxHooksReset();
    CatchInstallHooks();
    Set({"boom"}, true);
    auto deliver = [](const std::string& s) {
        std::vector<uint8_t> out(s.size() * 5 + 16);
        RxDeliver(reinterpret_cast<const uint8_t*>(s.data()), out.data(), s.size(), out.size());
    };
    deliver("a boom here\r\nquiet line\r\n");
    EXPECT_TRUE(CatchActive());  // tagging keeps catching
    std::string tagged, quiet;
    for (int r = 0; r < 100; r++) {
        std::string row = ConsoleRowText(r);
        if (row.rfind("a boom here", 0) == 0) tagged = row;
        if (row.rfind("quiet line", 0) == 0) quiet = row;
    }
    EXPECT_EQ(tagged.substr(0, 79), "a boom here" + std::string(64, ' ') + "<<**");
    EXPECT_EQ(quiet.find("<<**"), std::string::npos);
    RxHooksReset();
}

TEST_F(CatchFixture, LongCaptureIsCut) {
    Set({"S*\\n"}, true);
    std::string line = "S" + std::string(400, 'q') + "\n";
    CatchFeed(line.data(), line.size());
    EXPECT_EQ(Caught().size(), kCatchMaxCapture);
}

TEST_F(CatchFixture, EscapedCatchString) {
    CatchConfig c;
    c.strings = {"say*\\n"};
    c.escapeQuotes = true;
    CatchSet(c);
    const char* s = "say \"hi\\\"\n";
    CatchFeed(s, strlen(s));
    EXPECT_EQ(Caught(), "say \\\"hi\\\\\\\"");
}

TEST_F(CatchFixture, ScriptThatCannotStartClearsTheTable) {
    CatchConfig c;
    c.strings = {"GO"};
    c.script = "/nonexistent/catch.scr";
    CatchSet(c);
    CatchFeed("GO", 2);
    ASSERT_TRUE(ScriptWaitIdle(5000));
    auto boxes = ui.Boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().title, "Catch script failed to run");
    EXPECT_EQ(boxes.back().text, "/nonexistent/catch.scr");
    EXPECT_FALSE(CatchActive());
}

TEST_F(CatchFixture, ShowText) {
    EXPECT_EQ(CatchShowText(), "");
    CatchConfig c;
    c.strings = {"a", "b"};
    c.script = "/s/x.scr";
    CatchSet(c);
    std::string t = CatchShowText();
    EXPECT_NE(t.find("  Oxel Catch Configuration:\r\n"), std::string::npos);
    EXPECT_NE(t.find("  Script: '/s/x.scr'\r\n  Strings (2):\r\n    'a'\r\n    'b'\r\n  Line tagging: off\r\n"),
              std::string::npos);
}

}  // namespace

namespace {

TEST_F(CatchFixture, SetupDialogOk) {
    // A string without a script needs line tagging.
    EXPECT_EQ(CatchDialogApply("", "ERR", false), 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].title, "Error");
    EXPECT_EQ(ui.Boxes()[0].text, "Must specify scriptname");
    EXPECT_FALSE(CatchActive());

    EXPECT_EQ(CatchDialogApply("/no/such.scr", "ERR", false), 0);
    EXPECT_EQ(ui.Boxes()[1].title, "File open error");
    EXPECT_EQ(ui.Boxes()[1].text, "/no/such.scr: not found");

    EXPECT_EQ(CatchDialogApply("", "ERR", true), 1);
    EXPECT_TRUE(CatchActive());
    auto cfg = CatchGetConfig();
    EXPECT_TRUE(cfg.tagging);
    ASSERT_EQ(cfg.strings.size(), 1u);
    EXPECT_EQ(cfg.strings[0], "ERR");

    EXPECT_EQ(CatchDialogApply("", "", false), 1);  // no string: nothing to catch
    EXPECT_FALSE(CatchActive());
}

}  // namespace

#include <chrono>
#include <filesystem>

#include "app/oxel.h"
#include "proc.h"
#include "script/scripting.h"

namespace {

// Catch scripts run through the real runner from a scripts directory.
struct CatchScriptFixture : CatchFixture {
    TempDir home;
    void SetUp() override {
        CatchFixture::SetUp();
        InitScripting();
        SetInstallDir(home.path());
        std::filesystem::create_directories(home.File("scripts"));
        // Quiet for 300 ms before it ends: long enough to see who waits.
        home.Write("scripts/slow.scr", "RECV idleline 300\nECHO done $CATCHSTRING\n");
    }
    void TearDown() override {
        ScriptWaitIdle(10000);
        CatchFixture::TearDown();
    }
};

TEST_F(CatchScriptFixture, WithoutAsyncTheReaderGoesOnAndCatchingWaitsForTheScript) {
    ASSERT_EQ(docmd("CATCH -n tagon"), 0);  // a lone -n word is a string, not a keyword
    ASSERT_EQ(docmd("CATCH ALARM slow.scr"), 0);
    SetFrameInitialised(true);
    auto start = std::chrono::steady_clock::now();
    CatchFeed("ALARM", 5);
    // The reader is back at once: the script runs on the script thread.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_TRUE(ScriptRunning());
    // While it runs, a second match is not taken.
    CatchFeed("ALARM", 5);
    ASSERT_TRUE(ScriptWaitIdle(10000));
    EXPECT_EQ(ui.Console(), "done ALARM\r\n");
    EXPECT_EQ(Caught(), "ALARM");
    EXPECT_TRUE(CatchActive());  // goes on catching
    SetFrameInitialised(false);
}

TEST_F(CatchScriptFixture, AsyncStopsCatchingWhenTheScriptStarts) {
    ASSERT_EQ(docmd("CATCH -a ALARM slow.scr"), 0);
    CatchFeed("ALARM", 5);
    EXPECT_TRUE(ScriptRunning());  // the reader did not wait
    EXPECT_FALSE(CatchActive());
    EXPECT_TRUE(ScriptWaitIdle(10000));
}

}  // namespace
