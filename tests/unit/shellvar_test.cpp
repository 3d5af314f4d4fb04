#include "config/shellvar.h"
#include "script/expand.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "util/commands.h"
#include "app/oxel.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "fake_ui.h"

namespace {

class ShellVars : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        ConsoleInit(1200, 250);
        ShellVarClear();
        ASSERT_EQ(ShellVarInit(), 0);
        SetFrameInitialised(true);  // console_printf writes only then
    }
    void TearDown() override {
        SetFrameInitialised(false);
        ShellSetScriptPath(nullptr);
        ShellVarClear();
    }
    // Names in listing order, read back from what the console shows.
    std::vector<std::string> ListedNames() {
        ui.Reset();
        shell_list();
        std::vector<std::string> names;
        std::string text = ui.Console();
        size_t pos = 0;
        while ((pos = text.find(": ", pos)) != std::string::npos) {
            size_t start = text.rfind('\n', pos) + 1;
            std::string name = text.substr(start, pos - start);
            name.erase(0, name.find_first_not_of(' '));
            names.push_back(name);
            pos += 2;
        }
        return names;
    }
    FakeUi ui;
};

TEST_F(ShellVars, EmptyValueRemoves) {
    ASSERT_EQ(shell_setenv("FOO", "bar"), 0);
    EXPECT_EQ(shell_getenv("FOO").value_or(""), "bar");
    EXPECT_EQ(shell_setenv("FOO", ""), 0);
    EXPECT_FALSE(shell_getenv("FOO"));
    ASSERT_EQ(shell_setenv("FOO", "again"), 0);
    EXPECT_EQ(shell_setenv("FOO", nullptr), 0);
    EXPECT_FALSE(shell_getenv("FOO"));
    EXPECT_EQ(shell_unsetenv("FOO"), -1);
    EXPECT_EQ(ListedNames(), std::vector<std::string>{"SVNREV"});
}

TEST_F(ShellVars, NamesAreCaseSensitive) {
    shell_setenv("Foo", "1");
    EXPECT_FALSE(shell_getenv("FOO"));
    EXPECT_EQ(shell_getenv("Foo").value_or(""), "1");
}

TEST_F(ShellVars, RemovedEntryIsReusedInPlace) {
    shell_setenv("A", "1");
    shell_setenv("B", "2");
    shell_setenv("C", "3");
    shell_setenv("B", "");
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"SVNREV", "A", "C"}));
    shell_setenv("D", "4");
    shell_setenv("E", "5");
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"SVNREV", "A", "D", "C", "E"}));
    // Setting an existing variable keeps its place.
    shell_setenv("A", "changed");
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"SVNREV", "A", "D", "C", "E"}));
}

TEST_F(ShellVars, FlagsSurviveSetAndDieWithTheVariable) {
    EXPECT_EQ(shell_export("X", true), 0);  // no such variable
    shell_setenv("X", "1");
    EXPECT_EQ(shell_export("X", true), 1);
    EXPECT_EQ(shell_hide("X", true), 1);
    shell_setenv("X", "a much longer value than before");
    EXPECT_EQ(shell_flags("X"), SHELLVAR_EXPORTED | SHELLVAR_HIDDEN);
    shell_setenv("X", "");
    shell_setenv("Y", "reuses X's entry");
    EXPECT_EQ(shell_flags("Y"), 0);
    EXPECT_EQ(shell_flags("X"), -1);
}

TEST_F(ShellVars, HiddenValueStillReadsButIsNeitherListedNorSaved) {
    shell_setenv("PASS", "secret");
    shell_export("PASS", true);
    shell_hide("PASS", true);
    shell_setenv("PROMPT", "=> ");
    shell_export("PROMPT", true);
    EXPECT_EQ(shell_getenv("PASS").value_or(""), "secret");
    ui.Reset();
    shell_list();
    EXPECT_EQ(ui.Console().find("secret"), std::string::npos);
    EXPECT_NE(ui.Console().find("--HIDDEN--"), std::string::npos);
    auto saved = shell_exported();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].first, "PROMPT");
    EXPECT_EQ(saved[0].second, "=> ");
}

TEST_F(ShellVars, ReadOnlyNames) {
    for (const char* name : {"THISSCRIPTDIR", "THISSCRIPTNAME", "OXEL_BACKEND"})
        EXPECT_EQ(shell_setenv(name, "x"), -1) << name;
    EXPECT_FALSE(shell_getenv("THISSCRIPTDIR"));
    EXPECT_FALSE(shell_getenv("THISSCRIPTNAME"));

    struct { const char* path; const char* dir; const char* name; } scripts[] = {
        {"/home/u/scripts/boot.scr", "/home/u/scripts", "boot.scr"},
        {"C:\\oxel\\scripts\\old.scr", "C:\\oxel\\scripts", "old.scr"},
        {"/mixed\\dir/x.scr", "/mixed\\dir", "x.scr"},
    };
    for (const auto& s : scripts) {
        ShellSetScriptPath(s.path);
        EXPECT_EQ(shell_getenv("THISSCRIPTDIR").value_or("?"), s.dir) << s.path;
        EXPECT_EQ(shell_getenv("THISSCRIPTNAME").value_or("?"), s.name) << s.path;
    }
    ShellSetScriptPath(nullptr);
    EXPECT_FALSE(shell_getenv("THISSCRIPTNAME"));

    const char* kinds[] = {"NONE", "COMPORT", "TELNET", "MONCMD", "PLINK", "???"};
    for (int b = 0; b <= 5; b++) {
        g_cfg.BACKEND = b == 5 ? 7 : b;
        EXPECT_EQ(shell_getenv("OXEL_BACKEND").value_or(""), kinds[b]);
    }
    // None of them reaches the list.
    EXPECT_EQ(ListedNames(), std::vector<std::string>{"SVNREV"});
}

TEST_F(ShellVars, SprintfAndSvnrev) {
    EXPECT_EQ(shell_getenv("SVNREV").value_or(""), "1437");
    EXPECT_EQ(shell_sprintf("LINES", "%d", 42), 2);
    EXPECT_EQ(shell_getenv("LINES").value_or(""), "42");
    EXPECT_EQ(shell_sprintf("LINES", "%s", ""), 0);
    EXPECT_FALSE(shell_getenv("LINES"));
}

TEST_F(ShellVars, InitKeepsWhatIsThere) {
    ShellVarClear();
    EXPECT_EQ(shell_setenv("A", "1"), 0);
    ASSERT_EQ(ShellVarInit(), 0);
    ASSERT_EQ(ShellVarInit(), 0);
    EXPECT_EQ(shell_getenv("A").value_or(""), "1");
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"A", "SVNREV"}));
    EXPECT_EQ(shell_setenv("", "x"), -1);
}

TEST_F(ShellVars, ListingLayout) {
    shell_setenv("A", "1");
    shell_export("A", true);
    shell_setenv("LONGNAME", "value");
    shell_setenv("SECRET", "pw");
    shell_hide("SECRET", true);
    ui.Reset();
    EXPECT_EQ(shell_list(), 4);
    EXPECT_EQ(ui.Console(),
              "\r\n\r\n"
              "************************************************\r\n"
              "  Oxel Shell Variables:\r\n"
              "************************************************\r\n\r\n"
              "    SVNREV: 1437  \r\n"
              "         A: 1     !\r\n"
              "  LONGNAME: value \r\n"
              "    SECRET: --HIDDEN-- \r\n"
              "\r\n*** ( '!' indicates shell var is exported) *****"
              "\r\n************************************************\r\n");
}

TEST_F(ShellVars, ListingCapsWidthsAndSaysSo) {
    std::string longName(49, 'N');
    std::string value48(48, 'v');
    shell_setenv(longName.c_str(), "x");
    shell_setenv("V", value48.c_str());
    ui.Reset();
    EXPECT_EQ(shell_list(), 3);
    std::string pad(47, ' ');
    EXPECT_EQ(ui.Console(),
              "\r\n\r\n"
              "************************************************\r\n"
              "  Oxel Shell Variables:\r\n"
              "************************************************\r\n\r\n"
              "  " + std::string(42, ' ') + "SVNREV: 1437" + std::string(44, ' ') + " \r\n"
              "  " + longName + ": x" + pad + " \r\n"
              "  " + std::string(47, ' ') + "V: " + value48 + " \r\n"
              "\r\n*** At least one variable truncated due to size"
              "\r\n************************************************\r\n");

    // A 48-character name alone is not capped.
    shell_setenv(longName.c_str(), "");
    ui.Reset();
    shell_list();
    EXPECT_EQ(ui.Console().find("truncated"), std::string::npos);
}

TEST_F(ShellVars, EmptyListing) {
    shell_setenv("SVNREV", "");
    ui.Reset();
    EXPECT_EQ(shell_list(), 0);
    EXPECT_EQ(ui.Console(), "\r\n\r\nNo variables currently set\r\n");
}

TEST_F(ShellVars, EnvironmentMenuAndDialog) {
    ShellVarMenuInit();
    ui.Reset();
    ASSERT_TRUE(CommandDispatch(465));
    EXPECT_EQ(ui.Dialogs(), std::vector<std::string>{"Set Environment Variable..."});
    ASSERT_TRUE(CommandDispatch(458));
    EXPECT_NE(ui.Console().find("  Oxel Shell Variables:\r\n"), std::string::npos);

    EXPECT_EQ(ShellSetFromDialog("", "v", true), 0);
    EXPECT_EQ(ShellSetFromDialog("NEWVAR", "v", true), 1);
    EXPECT_EQ(shell_flags("NEWVAR"), SHELLVAR_EXPORTED);
    EXPECT_EQ(ShellSetFromDialog("NEWVAR", "w", false), 1);
    EXPECT_EQ(shell_getenv("NEWVAR").value_or(""), "w");
    EXPECT_EQ(shell_flags("NEWVAR"), 0);
}

TEST_F(ShellVars, SystemVariablesAfterConfiguration) {
    SetInstallDir("/opt/oxel-test");
    g_cfg.WEBSOCSRVR_PORT = 50081;
    shell_setenv("MYIP", "10.99.98.97");
    shell_setenv("MYGATEWAYIP", "10.99.98.1");
    ShellSetSystemVars();
    EXPECT_EQ(shell_getenv("INSTALLDIR").value_or(""), "/opt/oxel-test");
    EXPECT_EQ(shell_getenv("WEBSOCPORT").value_or(""), "50081");
    // Values the user fixed stay; no interface has that address, so no netmask.
    EXPECT_EQ(shell_getenv("MYIP").value_or(""), "10.99.98.97");
    EXPECT_EQ(shell_getenv("MYGATEWAYIP").value_or(""), "10.99.98.1");
    EXPECT_FALSE(shell_getenv("MYNETMASK"));
    EXPECT_EQ(ShellHostAddress().value_or(""), "10.99.98.97");

    shell_setenv("MYIP", "");
    auto ip = ShellHostAddress();
    if (ip) {
        EXPECT_NE(*ip, "127.0.1.1");
        EXPECT_EQ(shell_getenv("MYIP").value_or(""), *ip);
    }
    SetInstallDir("");
}

// Many threads at once: a reader never sees a value another thread frees.
TEST_F(ShellVars, SafeFromSeveralThreads) {
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([t, &bad] {
            std::string mine = "T" + std::to_string(t);
            for (int i = 0; i < 2000; i++) {
                std::string v(static_cast<size_t>(1 + i % 97), static_cast<char>('a' + t));
                shell_setenv("SHARED", v.c_str());
                shell_setenv(mine.c_str(), v.c_str());
                auto got = shell_getenv("SHARED");
                if (got && got->find_first_not_of(got->front()) != std::string::npos) bad = true;
                if (shell_getenv(mine.c_str()) != v) bad = true;
                if (i % 3 == 0) shell_setenv(mine.c_str(), "");
                shell_exported();
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_FALSE(bad);
}

}  // namespace
