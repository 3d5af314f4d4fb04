// Command-line expansion and SET: what reaches a command after expansion,
// what the store holds, and the boxes a user sees.
#include <gtest/gtest.h>

#include <mutex>

#include "fake_ui.h"
#include "proc.h"
#include "script/expand.h"
#include "script/scripting.h"
#include "config/shellvar.h"

namespace {

std::mutex g_mu;
std::vector<std::string> g_args;

// Stands in for ECHO: records the words it was given, joined by "|".
int Capture(int argc, char** argv) {
    std::lock_guard l(g_mu);
    std::string s;
    for (int i = 1; i < argc; i++) s += (i > 1 ? "|" : "") + std::string(argv[i]);
    g_args.push_back(s);
    return 0;
}

std::string LastArgs() {
    std::lock_guard l(g_mu);
    return g_args.empty() ? "<none>" : g_args.back();
}

class ExpandTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitScripting();
        ScriptSetHandler("ECHO", Capture);
        g_args.clear();
    }
    FakeUi ui;
};

}  // namespace

TEST_F(ExpandTest, ExpansionTable) {
    TempDir dir;
    dir.Write("syms", "SYM1 0x1000\nNOVALUE\nSYM2\t \tvalue two\r\nSYM10 ten\n");
    struct Case {
        const char* line;
        int rc;
        const char* args;   // words reaching the command (null: not run)
        const char* title;  // the one box shown, if any
        const char* text;
    };
    std::string big2041(2041, 'b'), big2042(2042, 'b');
    shell_setenv("A", "1");
    shell_setenv("B", "two");
    shell_setenv("Atwo", "nested");
    shell_setenv("SELF", "$SELF");
    shell_setenv("SELFISH", "$SELFIS!");
    shell_setenv("CHAIN", "$A$B");
    shell_setenv("BIG1", big2041.c_str());
    shell_setenv("BIG2", big2042.c_str());
    shell_setenv("SYMFILE", dir.File("syms").c_str());
    const Case cases[] = {
        {"ECHO $A ${B}", 0, "1|two", nullptr, nullptr},
        {"ECHO x$A.$B-", 0, "x1.two-", nullptr, nullptr},
        {"ECHO ${A${B}}", 0, "nested", nullptr, nullptr},
        {"ECHO $CHAIN", 0, "1two", nullptr, nullptr},
        {"ECHO $NOPE ${NOPE} %", 0, "$NOPE|${NOPE}|%", nullptr, nullptr},
        {"ECHO \\$A", 0, "$A", nullptr, nullptr},
        {"ECHO a\\\\b $A", 0, "a\\b|1", nullptr, nullptr},
        {"ECHO a\\\\b", 0, "a\\\\b", nullptr, nullptr},
        {"ECHO \\{x\\} $A", 0, "{x}|1", nullptr, nullptr},
        {"ECHO \\q $A", 0, "\\q|1", nullptr, nullptr},
        {"ECHO $SELF $A", 0, "$SELF|$A", nullptr, nullptr},
        {"ECHO $A $SELF $A", 0, "1|$SELF|$A", nullptr, nullptr},
        {"ECHO $SELFISH", 0, "$SELFISH", nullptr, nullptr},
        {"ECHO }$A", 0, "}1", nullptr, nullptr},
        {"ECHO ${NAME", -4, nullptr, "Script Error", "Brace imbalance @ char 11.\n"},
        {"ECHO ${A} ${B", -4, nullptr, "Script Error", "Brace imbalance @ char 13.\n"},
        {"ECHO $BIG1", 0, big2041.c_str(), nullptr, nullptr},
        {"ECHO $BIG2", -4, nullptr, "Script Error", "Cmd line expansion overflow\n"},
        {"ECHO ${BIG2}", 0, big2042.c_str(), nullptr, nullptr},
        {"ECHO ${BIG2}xx", -4, nullptr, "Script Error", "Cmd line expansion overflow"},
        {"ECHO %SYM1 %{SYM2}", 0, "0x1000|value|two", nullptr, nullptr},
        {"ECHO %SYM10", 0, "ten", nullptr, nullptr},
        {"ECHO %NOVALUE", 0, "%NOVALUE", "getsym()", "Symbol 'NOVALUE' not found\n"},
        {"ECHO %MISSING %MISSING", 0, "%MISSING|%MISSING", "getsym()", "Symbol 'MISSING' not found\n"},
        {"ECHO $THISSCRIPTDIR", 0, "$THISSCRIPTDIR", nullptr, nullptr},
        {"ECHO \"$A $B\" # comment $NOPE", 0, "1 two", nullptr, nullptr},
        {"ECHO 50\\#", 0, "50#", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        ui.Reset();
        g_args.clear();
        EXPECT_EQ(docmd(c.line), c.rc) << c.line;
        if (c.args) {
            EXPECT_EQ(LastArgs(), c.args) << c.line;
        } else {
            EXPECT_EQ(LastArgs(), "<none>") << c.line;
        }
        auto boxes = ui.Boxes();
        if (c.title) {
            ASSERT_EQ(boxes.size(), 1u) << c.line;
            EXPECT_EQ(boxes[0].title, c.title) << c.line;
            EXPECT_EQ(boxes[0].text, c.text) << c.line;
        } else {
            EXPECT_TRUE(boxes.empty()) << c.line << ": " << (boxes.empty() ? "" : boxes[0].text);
        }
    }
    shell_setenv("SYMFILE", dir.File("absent").c_str());
    ui.Reset();
    EXPECT_EQ(docmd("ECHO %SYM1"), 0);
    EXPECT_EQ(LastArgs(), "%SYM1");
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].title, "getsym()");
    EXPECT_EQ(ui.Boxes()[0].text, "Symbol file '" + dir.File("absent") + "' open failed\n");
    for (const char* v : {"A", "B", "Atwo", "SELF", "SELFISH", "CHAIN", "BIG1", "BIG2", "SYMFILE"})
        shell_setenv(v, nullptr);
}

TEST_F(ExpandTest, SetTable) {
    struct Case {
        const char* line;
        int rc;
        const char* name;
        const char* value;   // null: not set
        const char* error;   // the command's error text
    };
    const Case cases[] = {
        {"SET X 5", 0, "X", "5", ""},
        {"SET X", 0, "X", nullptr, ""},
        {"SET X 5", 0, "X", "5", ""},
        {"SET X \"\"", 0, "X", nullptr, ""},
        {"SET X 1 2 3", 0, "X", "1 2 3", ""},
        {"SET X=3*4", 0, "X", "12", ""},
        {"SET X=", 0, "X", "12", ""},
        {"SET X=1 + 2", 0, "X=1", "+ 2", ""},
        {"SET -e -h X 1", -1, "X", "12", "Can't export a hidden variable"},
        {"SET -eh X 1", -1, "X", "12", "Can't export a hidden variable"},
        {"SET -z X 1", -2, "X", "12", "Illegal 'SET' option: z.\n"},
        {"SET THISSCRIPTDIR x", -1, "THISSCRIPTDIR", nullptr, "Can't set read-only variable 'THISSCRIPTDIR'"},
        {"SET -f Y=1/2", 0, "Y", "0.500000", ""},
        {"SET -- -X 1", 0, "-X", "1", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(docmd(c.line), c.rc) << c.line;
        auto v = shell_getenv(c.name);
        if (c.value) {
            EXPECT_EQ(v.value_or("<none>"), c.value) << c.line;
        } else {
            EXPECT_FALSE(v) << c.line;
        }
        if (c.rc != 0) {
            EXPECT_EQ(ScriptErrorText(), c.error) << c.line;
        }
    }
    EXPECT_TRUE(ui.Boxes().empty());
    for (const char* v : {"X", "X=1", "Y", "-X"}) shell_setenv(v, nullptr);
}

TEST_F(ExpandTest, GetsymBufferForm) {
    TempDir dir;
    dir.Write("syms", "ADDR 0x2000\n");
    shell_setenv("SYMFILE", dir.File("syms").c_str());
    char buf[5];
    ASSERT_NE(getsym("ADDR", buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "0x20");  // cut to the buffer, never beyond it
    EXPECT_EQ(getsym("NONE", buf, sizeof buf), nullptr);
    shell_setenv("SYMFILE", nullptr);
    EXPECT_EQ(getsym("ADDR", buf, sizeof buf), nullptr);  // no SYMFILE: silent
    EXPECT_EQ(ui.Boxes().size(), 1u);
}

TEST_F(ExpandTest, CyclesEndWithOverflowNotHang) {
    shell_setenv("AB", "$CD");
    shell_setenv("CD", "$AB");
    shell_setenv("P", "${P}");
    EXPECT_EQ(docmd("ECHO $AB"), -4);
    EXPECT_EQ(docmd("ECHO ${P}"), -4);
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Cmd line expansion overflow\n");
    for (const char* v : {"AB", "CD", "P"}) shell_setenv(v, nullptr);
}
