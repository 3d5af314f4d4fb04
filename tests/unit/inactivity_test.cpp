#include "console/screenbuf.h"
#include "script/inactivity.h"

#include <gtest/gtest.h>

#include <string>

#include "app/oxel.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "platform/clock.h"

namespace {

class InactivityTest : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        SetFrameInitialised(true);
        ClockPinTick(1000000);
        BackendMarkConnected(false);
    }
    void TearDown() override {
        SetInactivityTimeout(0);
        SetInactivityScript(nullptr);
        StopKeepalive(false);
        ClockUnpin();
        SetFrameInitialised(false);
    }
    // Advances the pinned tick one second and runs the frame tick.
    std::string Second() {
        ui.Reset();
        ClockAdvanceMs(1000);
        TimerTick();
        return ui.Console();
    }
    FakeUi ui;
};

TEST_F(InactivityTest, WarnsAt20_25_28AndClosesAt30) {
    g_cfg.INACTIVITY_TIMEOUT = 30;
    TimerStart();
    const std::string rule = "*****************************************\r\n";
    for (int s = 1; s <= 35; ++s) {
        std::string out = Second();
        SCOPED_TRACE(s);
        switch (s) {
        case 20:
            EXPECT_EQ(out, "\r\n" + rule + "* Inactivity timeout in 10 seconds...   *\r\n" +
                               "*    (hit any key to reset timeout)     *\r\n" + rule);
            break;
        case 25:
            EXPECT_EQ(out, "\r\n" + rule + "* Inactivity timeout in  5 seconds...   *\r\n" +
                               "*        (you still have time!!)        *\r\n" + rule);
            break;
        case 28:
            EXPECT_EQ(out, "\r\n" + rule + "* Dropping backend connection now...    *\r\n" + rule);
            break;
        case 30:
            EXPECT_EQ(out, "\r\n" + rule + "* To properly restart, terminate and    *\r\n" +
                               "* open a new Oxel session.              *\r\n" + rule);
            EXPECT_TRUE(InactivityExpired());
            EXPECT_GE(ui.StatusRefreshes(), 1);
            break;
        default:
            EXPECT_EQ(out, "");
        }
        // After expiry, received data does not restart the count.
        if (s == 31) ActivitySeen();
    }
    EXPECT_TRUE(InactivityExpired());
}

TEST_F(InactivityTest, AKeyAt25RestartsTheCount) {
    g_cfg.INACTIVITY_TIMEOUT = 30;
    TimerStart();
    std::string all;
    for (int s = 1; s <= 25; ++s) all += Second();
    EXPECT_NE(all.find("in  5 seconds"), std::string::npos);
    ActivitySeen();
    all.clear();
    for (int s = 1; s <= 19; ++s) all += Second();
    EXPECT_EQ(all, "");
    EXPECT_NE(Second().find("in 10 seconds"), std::string::npos);
    EXPECT_FALSE(InactivityExpired());
}

TEST_F(InactivityTest, ALateTickSkipsNoBox) {
    g_cfg.INACTIVITY_TIMEOUT = 30;
    TimerStart();
    ClockAdvanceMs(26000);
    TimerTick();
    std::string out = ui.Console();
    EXPECT_NE(out.find("in 10 seconds"), std::string::npos);
    EXPECT_NE(out.find("in  5 seconds"), std::string::npos);
    EXPECT_EQ(out.find("Dropping"), std::string::npos);
}

TEST_F(InactivityTest, WithAScriptNothingIsPrintedAndNothingCloses) {
    g_cfg.INACTIVITY_TIMEOUT = 12;
    ASSERT_EQ(SetInactivityScript("idle.scr"), 0);
    TimerStart();
    std::string all;
    int runs = 0;  // the script does not exist: each run shows the runner's open error
    for (int s = 1; s <= 40; ++s) {
        all += Second();
        for (const auto& b : ui.Boxes()) runs += b.title == "Script Execution Error";
        if (s == 12 || s == 24 || s == 36) {
            EXPECT_EQ(runs, s / 12) << s;
        }
    }
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(all, "");
    EXPECT_FALSE(InactivityExpired());
    EXPECT_EQ(SetInactivityScript(std::string(2048, 'x').c_str()), -1);
}

TEST_F(InactivityTest, KeepaliveRunsOnlyWhileConnected) {
    // The script does not exist: each run attempt shows the runner's open
    // error, then asks whether to stop the keepalive.
    ASSERT_EQ(SetKeepalive("ka_missing.scr", 10), 0);
    auto count = [&](const char* title) {
        int n = 0;
        for (const auto& b : ui.Boxes()) n += b.title == title;
        return n;
    };
    auto seconds = [](int n) {
        for (int s = 0; s < n; ++s) {
            ClockAdvanceMs(1000);
            TimerTick();
        }
    };
    seconds(25);
    EXPECT_EQ(count("Script Execution Error"), 0);
    EXPECT_EQ(count("Keepalive is active..."), 0);
    BackendMarkConnected(true);
    for (int run = 0; run < 2; ++run) {
        ui.Answer(IDOK);
        ui.Answer(IDNO);  // keep it
    }
    seconds(20);
    EXPECT_EQ(count("Script Execution Error"), 2);
    EXPECT_EQ(count("Keepalive is active..."), 2);
    EXPECT_EQ(g_cfg.KEEPALIVE_TIMEOUT, 10);
    ui.Answer(IDOK);
    ui.Answer(IDYES);
    seconds(10);
    EXPECT_EQ(count("Keepalive is active..."), 3);
    EXPECT_EQ(g_cfg.KEEPALIVE_TIMEOUT, 0);
    EXPECT_STREQ(g_cfg.KEEPALIVE_SCRIPT, "");
    BackendMarkConnected(false);
}

TEST_F(InactivityTest, SettersAndTimerConfig) {
    ShowTimerConfig();
    EXPECT_EQ(ui.Console(), "");
    SetInactivityTimeout(-5);
    EXPECT_EQ(g_cfg.INACTIVITY_TIMEOUT, 0);
    SetInactivityTimeout(60);
    ASSERT_EQ(SetKeepalive("ka.scr", 15), 0);
    EXPECT_EQ(SetKeepalive(std::string(2048, 'k').c_str(), 15), -1);
    ShowTimerConfig();
    EXPECT_EQ(ui.Console(),
              "  Oxel Timer Configuration:\r\n************************************************\r\n\r\n"
              "  Inactivity interval:  60 sec (none)\r\n  Keepalive interval:   15 sec (ka.scr)\r\n"
              "\r\n************************************************\r\n");
    ASSERT_EQ(SetKeepalive(nullptr, 15), 0);  // no file: off, without asking
    EXPECT_EQ(g_cfg.KEEPALIVE_TIMEOUT, 0);
    EXPECT_TRUE(ui.Boxes().empty());
}

}  // namespace
