#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "console/editor.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "proc.h"

namespace {

bool WaitForFile(const std::string& path, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        std::ifstream f(path);
        std::string line;
        if (f && std::getline(f, line) && !line.empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(Editor, StartsTheConfiguredProgramOnTheFile) {
    FakeUi fake;
    TempDir dir;
    std::string script = dir.File("fake editor.sh");
    dir.Write("fake editor.sh", "#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" > \"$(dirname \"$0\")/args.tmp\"\n"
                                "mv \"$(dirname \"$0\")/args.tmp\" \"$(dirname \"$0\")/args\"\n");
    chmod(script.c_str(), 0755);
    CFG_SET_STRING(g_cfg.EDITOR, script.c_str());
    EXPECT_EQ(StartEditor(dir.File("my board.ct")), 1);
    ASSERT_TRUE(WaitForFile(dir.File("args"), 20000));
    EXPECT_EQ(dir.Read("args"), "1|" + dir.File("my board.ct") + "\n");
    EXPECT_TRUE(fake.Boxes().empty());
}

TEST(Editor, FailuresAreReported) {
    FakeUi fake;
    CFG_SET_STRING(g_cfg.EDITOR, "/nonexistent/editor");
    EXPECT_EQ(StartEditor("/tmp/x.ct"), 0);
    ASSERT_EQ(fake.Boxes().size(), 1u);
    EXPECT_EQ(fake.Boxes()[0].title, "EDITOR ERROR");
    EXPECT_EQ(fake.Boxes()[0].text, "/nonexistent/editor failed: No such file or directory");

    // The desktop opener needs a file.
    fake.Reset();
    CFG_SET_STRING(g_cfg.EDITOR, "");
    EXPECT_EQ(StartEditor(""), 0);
    ASSERT_EQ(fake.Boxes().size(), 1u);
    EXPECT_EQ(fake.Boxes()[0].text, "xdg-open failed: no file to open");
}

}  // namespace
