// The seams start-up fills, exercised together: target output, a catch script
// on the script thread, and presses from the window's thread at the same time.
#include "app/wiring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <vector>
#include <string>
#include <thread>

#include "app/buttons.h"
#include "backend/backend.h"
#include "config/configfile.h"
#include "config/configrecord.h"
#include "config/shellvar.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "fake_ui.h"
#include "log/logging.h"
#include "platform/report.h"
#include "proc.h"
#include "script/catchstr.h"
#include "script/scripting.h"
#include "wait.h"

namespace {

struct Wired : ::testing::Test {
    FakeUi ui;
    TempDir home;
    void SetUp() override {
        ShellVarInit();
        ConfigInitDefaults();
        g_cfg.COMPORT = 1025;   // the loop-back port: presses and typing come back as received data
        g_cfg.BACKEND = 1;
        AppWireHooks();
        InitScripting();
        SetInstallDir(home.path());
        std::filesystem::create_directories(home.File("scripts"));
        ConsoleInit(400, 80);
        ConsoleClear();   // one buffer for the whole run: each test starts blank
        SetFrameInitialised(true);
    }
    void TearDown() override {
        CatchClear();
        script_halt();
        ScriptWaitIdle(10000);
        BackendLoopbackDrain(5000);
        SetFrameInitialised(false);
    }
    // Every row of the buffer, trailing blanks cut.
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        std::vector<char> text(ConsoleBufferCols());
        for (int r = 0; r < ConsoleBufferRows(); ++r) {
            ConsoleCopyRow(r, text.data(), nullptr, nullptr, ConsoleBufferCols());
            std::string row(text.data(), text.size());
            row.erase(row.find_last_not_of(' ') + 1);
            rows.push_back(row);
        }
        return rows;
    }
    void Deliver(const std::string& text) {
        std::vector<uint8_t> out(text.size() * 5 + 16);
        RxDeliver(reinterpret_cast<const uint8_t*>(text.data()), out.data(), text.size(), out.size());
    }
};

// While a catch script waits for something that never comes, a @@@TEST press
// on the window's thread returns at once and its line reaches the screen
// whole, between whole lines of the flood.
TEST_F(Wired, TestPressWhileACatchScriptWaitsKeepsTheScreenWhole) {
    home.Write("scripts/slow.scr", "RECV -t 3 \"never-sent\"\n");
    ASSERT_EQ(docmd("CATCH ALARM slow.scr"), 0);
    ASSERT_EQ(SetFkey(2, "@@@TEST: injected line ABCDEFGHIJ\\r\\n", "T", false), 1);

    std::atomic<bool> stop{false};
    std::thread reader([&] {
        Deliver("ALARM\r\n");
        for (int n = 0; !stop; ++n) Deliver("flood line " + std::to_string(n % 1000) + " 0123456789\r\n");
    });
    ASSERT_TRUE(WaitFor([] { return ScriptRunning(); }));
    for (int i = 0; i < 20; ++i) {
        auto start = std::chrono::steady_clock::now();
        PressFkey(2);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));   // not held by the script
    }
    stop = true;
    reader.join();
    ASSERT_TRUE(BackendLoopbackDrain(5000));

    int injected = 0;
    for (const std::string& row : Rows()) {
        if (row.empty() || row == "ALARM") continue;
        if (row == "injected line ABCDEFGHIJ") {
            ++injected;
            continue;
        }
        EXPECT_EQ(row.rfind("flood line ", 0), 0u) << row;
        EXPECT_EQ(row.substr(row.size() - 11), " 0123456789") << row;
    }
    EXPECT_GT(injected, 0);
}

}  // namespace

namespace {

// File -> Open swaps a freshly loaded record in while the target floods with
// time stamps on: every stamp on the screen is one of the two formats whole,
// never a mix or a half-copied format.
TEST_F(Wired, LoadingAConfigurationDuringAFloodLeavesWholeStamps) {
    auto config = [&](const char* name, const char* format) {
        home.Write(name, std::string("########\nCOMPORT                 1025\nTSTAMP_ENABLED          TRUE\n"
                                     "TSTAMP_CUSTOM           TRUE\nTSTAMP_CUSTOM_FORMAT    \"") +
                             format + "\"\n");
        return home.File(name);
    };
    const std::string a = config("a.ct", "[AAAAAAAAAAAAAAAA] "), b = config("b.ct", "{bbbb} ");
    ASSERT_EQ(ConfigLoad(a.c_str()), 1);
    TimestampSetLineStart(true);   // the first line is stamped too
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    std::thread reader([&] {
        for (int n = 0; !stop; ++n, ++delivered) Deliver("line " + std::to_string(n % 1000) + "\r\n");
    });
    // Loads go on until the flood has really overlapped them.
    for (int i = 0; i < 5000 && (i < 200 || delivered < 100); ++i) ConfigLoad((i % 2 ? a : b).c_str());
    stop = true;
    reader.join();

    int stamped = 0;
    for (const std::string& row : Rows()) {
        if (row.empty()) continue;
        const bool whole = row.rfind("[AAAAAAAAAAAAAAAA] line ", 0) == 0 || row.rfind("{bbbb} line ", 0) == 0;
        EXPECT_TRUE(whole) << row;
        stamped += whole;
    }
    EXPECT_GT(stamped, 10);
}

}  // namespace
