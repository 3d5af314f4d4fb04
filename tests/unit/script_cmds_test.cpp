#include "console/screenbuf.h"
#include "script/script_cmds.h"

#include <gtest/gtest.h>

#include "app/oxel.h"
#include "fake_ui.h"
#include "script/banner.h"
#include "script/catchstr.h"
#include "util/cmdline.h"
#include "config/shellvar.h"

namespace {

// Runs one command line through this module's handler, as docmd would.
int Cmd(const std::string& line) {
    std::vector<std::string> words;
    if (!SplitArgs(line, words) || words.empty()) return -4;
    auto argv = ArgvOf(words);
    ScriptCmdHandler h = ScriptCmdsFind(argv[0]);
    if (!h) return -5;
    script_getopt_reset();
    return h(static_cast<int>(words.size()), argv.data());
}

// Console output is shown only once the frame is up.
const bool g_frameUp = [] {
    SetFrameInitialised(true);
    return true;
}();

std::string Var(const char* name) { return shell_getenv(name).value_or("<unset>"); }

TEST(Send, BytesBuilt) {
    struct Case {
        const char* arg;
        bool hex;
        const char* eol;
        const char* csum;
        int rc;
        std::string bytes;
    } cases[] = {
        {"hello", false, "\r", nullptr, 0, "hello\r"},
        {"hello", false, "\r\n", nullptr, 0, "hello\r\n"},
        {nullptr, false, "\r", nullptr, 0, "\r"},
        {"a\\tb\\x41\\q", false, "", nullptr, 0, "a\tbA\\q"},
        {"0102", true, "", nullptr, 0, std::string("\x01\x02", 2)},
        {"0102", true, "\r", nullptr, 0, std::string("\x01\x02", 2)},  // hex never gets a line end
        {"313233343536373839", true, "", "CCITT16BE", 0, "123456789\x29\xb1"},
        {"313233343536373839", true, "", "modbusle", 0, "123456789\x37\x4b"},
        {"010", true, "", nullptr, -2, ""},      // odd number of digits
        {"0g", true, "", nullptr, -2, ""},       // not a hex digit
        {nullptr, true, "", nullptr, -2, ""},    // -x needs its argument
        {"01", true, "", "CRC99", -2, ""},       // unknown checksum type
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(SendBuildBytes(c.arg, c.hex, c.eol, c.csum, out), c.rc) << (c.arg ? c.arg : "(none)");
        if (c.rc == 0) {
            EXPECT_EQ(out, c.bytes) << (c.arg ? c.arg : "(none)");
        }
    }
    std::string big(2049, 'z'), out;
    EXPECT_EQ(SendBuildBytes(big.c_str(), false, "", nullptr, out), -2);
}

TEST(Send, CommandForms) {
    FakeUi ui;
    shell_unsetenv("PROMPT");
    EXPECT_EQ(Cmd("SEND hello"), -1);          // PROMPT must be set
    EXPECT_EQ(Cmd("SEND -n -x 010"), -2);
    EXPECT_EQ(Cmd("SEND -n -x 01zz"), -2);
    EXPECT_EQ(Cmd("SEND -n a b"), -3);
    EXPECT_EQ(Cmd("SEND -n -C bogus -x 01"), -2);
    EXPECT_EQ(Cmd("SEND -k hi"), -2);
}

TEST(Regex, GroupsAndVariables) {
    ASSERT_EQ(Cmd("REGEX \"([0-9]+)-([0-9]+)\" \"a 12-34\""), 0);
    EXPECT_EQ(Var("REGEX"), "3");
    EXPECT_EQ(Var("RM_1"), "12-34");
    EXPECT_EQ(Var("RM_2"), "12");
    EXPECT_EQ(Var("RS_2"), "2");
    EXPECT_EQ(Var("RE_2"), "4");
    EXPECT_EQ(Var("RM_3"), "34");

    ASSERT_EQ(Cmd("REGEX -c"), 0);
    for (const char* v : {"REGEX", "RM_1", "RS_1", "RE_1", "RM_3", "RE_3"}) EXPECT_EQ(Var(v), "<unset>") << v;

    ASSERT_EQ(Cmd("REGEX \"(x)?b\" ab"), 0);  // an unmatched group
    EXPECT_EQ(Var("REGEX"), "2");
    EXPECT_EQ(Var("RM_2"), "<unset>");
    EXPECT_EQ(Var("RS_2"), "-1");
    EXPECT_EQ(Var("RE_2"), "-1");

    struct Case {
        const char* line;
        int rc;
        const char* regex;
    } cases[] = {
        {"REGEX abc xyz", 0, "REGEX_NO_MATCH"},
        {"REGEX -i ABC xabcx", 0, "1"},
        {"REGEX -n a.c abc", 0, "REGEX_NO_MATCH"},   // literal: the dot is a dot
        {"REGEX -n a.c xa.c", 0, "1"},
        {"REGEX -b \"a+\" aa", 0, "REGEX_NO_MATCH"}, // basic: + is literal
        {"REGEX -b \"a\\{2\\}\" aa", 0, "1"},
        {"REGEX \"a(\" a", -1, nullptr},             // compile error
        {"REGEX onlyone", -3, nullptr},
    };
    for (const auto& c : cases) {
        shell_unsetenv("REGEX");
        EXPECT_EQ(Cmd(c.line), c.rc) << c.line;
        if (c.regex) {
            EXPECT_EQ(Var("REGEX"), c.regex) << c.line;
        }
    }
}

TEST(String, Operations) {
    struct Case {
        const char* line;
        int rc;
        const char* result;  // null: STRING stays unset
    } cases[] = {
        {"STRING postcut abcde 2", 0, "abc"},
        {"STRING precut abcde 2", 0, "cde"},
        {"STRING precut abcde 9", 0, nullptr},
        {"STRING postcut abc 5", 0, nullptr},
        {"STRING strstr lo hello", 0, "3"},
        {"STRING strstr zz hello", 0, "NULL"},
        {"STRING length abc", 0, "3"},
        {"STRING LENGTH \"\"", 0, "0"},
        {"STRING toupper aBc", 0, "ABC"},
        {"STRING tolower aBc", 0, "abc"},
        {"STRING firstchar xyz", 0, "x"},
        {"STRING lastchar xyz", 0, "z"},
        {"STRING token \"  one two\tthree \" 2", 0, "two"},
        {"STRING token \"one two\" 3", 0, nullptr},
        {"STRING token \"one two\" 0", 0, nullptr},
        {"STRING CCITT16BE 123456789", 0, "29b1"},
        {"STRING -a MODBUSBE 313233343536373839", 0, "4b37"},
        {"STRING m100 123456789", 0, "dd"},
        {"STRING crc32 123456789", 0, "cbf43926"},
        {"STRING -a M100 123", -2, nullptr},         // odd hex
        {"STRING reverse abc", -2, nullptr},
        {"STRING postcut abc", -3, nullptr},
        {"STRING length", -3, nullptr},
        {"STRING precut abc x", -2, nullptr},
    };
    for (const auto& c : cases) {
        shell_setenv("STRING", "stale");
        EXPECT_EQ(Cmd(c.line), c.rc) << c.line;
        if (c.rc == 0) {
            EXPECT_EQ(Var("STRING"), c.result ? c.result : "<unset>") << c.line;
        }
    }
}

TEST(Recv, BlockFormats) {
    std::string raw("a\r\n\0b", 5);
    EXPECT_EQ(RecvBlockFormat(raw, 'a'), "610d0a0062");
    EXPECT_EQ(RecvBlockFormat(raw, 'A'), std::string("aCL\0b", 5));
    EXPECT_EQ(RecvBlockFormat(raw, 0), "a\r\n<0>b");
}

TEST(Recv, ArgumentErrors) {
    EXPECT_EQ(Cmd("RECV"), -3);
    EXPECT_EQ(Cmd("RECV -X 0"), -2);
    EXPECT_EQ(Cmd("RECV -x 123"), -1);
    EXPECT_EQ(Cmd("RECV blkinit 0"), -2);
    EXPECT_EQ(Cmd("RECV idleline"), -3);
    EXPECT_EQ(Cmd("RECV -t abc x"), -2);
}

TEST(Echo, TextBuilding) {
    bool stop = false;
    EXPECT_EQ(EchoEscapes("a\\tb\\x41", &stop), "a\tbA");
    EXPECT_FALSE(stop);
    EXPECT_EQ(EchoEscapes("abc\\cdef", &stop), "abc");
    EXPECT_TRUE(stop);
    EXPECT_EQ(EchoEscapes("a\\\\cb", &stop), "a\\cb");  // an escaped backslash, then c
    EXPECT_FALSE(stop);
    EXPECT_EQ(EchoEscapes("q\\z", &stop), "q\\z");
    EXPECT_EQ(EchoSpacing("abcdef", 2, " ", false), "ab cd ef ");
    EXPECT_EQ(EchoSpacing("abcde", 2, "-", false), "ab-cd-e");
    EXPECT_EQ(EchoSpacing("abcde", 2, ":", true), ":ab:cd:e");
    EXPECT_EQ(EchoCentre("abcd", 10), "   abcd");
    EXPECT_EQ(EchoCentre("abcd", 3), "abcd");
}

TEST(Echo, ConsoleOutput) {
    FakeUi ui;
    EXPECT_EQ(Cmd("ECHO hello   world"), 0);
    EXPECT_EQ(Cmd("ECHO -s 2 -d . abcd"), 0);
    EXPECT_EQ(Cmd("ECHO \"no end\\c ignored\""), 0);
    EXPECT_EQ(Cmd("ECHO -i \"a\\tb\""), 0);
    EXPECT_EQ(ui.Console(), "hello world\r\nab.cd.\r\nno enda\\tb\r\n");
    EXPECT_EQ(Cmd("ECHO -b -t x"), -1);
}

TEST(Echo, Banner) {
    auto lines = BannerLines("Hi", 13);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "#   #  ###");
    EXPECT_EQ(lines[3], "#####   #");
    EXPECT_EQ(lines[6], "#   #  ###");
    auto wrapped = BannerLines("ABCDE", 3);
    EXPECT_EQ(wrapped.size(), 15u);  // two bands and an empty row between
    EXPECT_EQ(wrapped[7], "");
}

TEST(Catch, CommandForms) {
    FakeUi ui;
    std::string longText(255, 'x');
    EXPECT_EQ(Cmd("CATCH -n " + longText), -1);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].title, "String too long");
    EXPECT_EQ(ui.Boxes()[0].text, longText + " (max size = 256 bytes)");
    EXPECT_FALSE(CatchActive());

    EXPECT_EQ(Cmd("CATCH -n " + std::string(254, 'y')), 0);
    EXPECT_TRUE(CatchActive());
    EXPECT_EQ(Cmd("CATCH off"), 0);
    EXPECT_FALSE(CatchActive());

    ui.Reset();
    EXPECT_EQ(Cmd("CATCH ERR /no/such/script.scr"), -1);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].title, "File open error");
    EXPECT_EQ(ui.Boxes()[0].text, "/no/such/script.scr: not found");
    EXPECT_FALSE(CatchActive());

    ui.Reset();
    EXPECT_EQ(Cmd("CATCH tagon"), 0);
    EXPECT_EQ(Cmd("CATCH -n one two"), 0);
    EXPECT_EQ(Cmd("CATCH show"), 0);
    EXPECT_NE(ui.Console().find("  Strings (2):\r\n    'one'\r\n    'two'\r\n  Line tagging: on\r\n"),
              std::string::npos);
    EXPECT_EQ(Cmd("CATCH off"), 0);
    EXPECT_EQ(Cmd("CATCH tagoff"), 0);
    EXPECT_EQ(Cmd("CATCH"), -3);
}

}  // namespace

namespace {

TEST(Log, RegisteredWithTheCommands) {
    FakeUi ui;
    EXPECT_EQ(Cmd("LOG bogus"), -2);
    EXPECT_EQ(Cmd("LOG a b c"), -3);
    EXPECT_EQ(Cmd("LOG on /nonexistent-dir/x.log"), -1);
    EXPECT_EQ(Cmd("LOG off"), 0);
}

}  // namespace
