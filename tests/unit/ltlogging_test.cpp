#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "config/configrecord.h"
#include "fake_ui.h"
#include "log/logging.h"
#include "log/ltlogging.h"
#include "platform/clock.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

const char* kHeader7 = "##### Log created (Dec_07,2026@09:05:03) with OXEL SVN: 1437\n";

class Ltlog : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        LogClose();
        LtlogClose(LTLOG_DEFAULT);
        ClockPin({2026, 12, 7, 9, 5, 3, 7, 0, 0, 0});
        char tmpl[] = "/tmp/oxelltXXXXXX";
        dir = mkdtemp(tmpl);
        CFG_SET_STRING(g_cfg.LTLOG_DIR, dir.c_str());
        CFG_SET_STRING(g_cfg.LTLOG_PREFIX, "board");
        today = dir + "/board_20261207";
    }
    void TearDown() override {
        LtlogClose(LTLOG_DEFAULT);
        ClockUnpin();
        std::string cmd = "rm -rf " + dir;
        (void)!system(cmd.c_str());
    }
    void MakeFile(const std::string& name, size_t size) {
        std::ofstream(dir + "/" + name, std::ios::binary) << std::string(size, 'o');
    }
    FakeUi fake;
    std::string dir, today;
};

TEST_F(Ltlog, NamedByDirectoryPrefixAndDate) {
    EXPECT_EQ(LtlogFileName("/var/logs", "board"), "/var/logs/board_20261207");
    EXPECT_EQ(LtlogFileName("/var/logs/", "board"), "/var/logs/board_20261207");
}

TEST_F(Ltlog, StartWritesHeaderAndBannerAndReceivesFilteredBytes) {
    g_cfg.LTLOG_ENABLED = 1;
    LtlogStart();
    ASSERT_TRUE(LtlogIsOpen());
    // Standard logging off: the long-term log still gets the filtered chunk.
    EXPECT_EQ(LogWrite("up\r\n\x1b", 5), 1);
    LtlogClose(LTLOG_STOP);
    EXPECT_EQ(ReadFile(today), std::string(kHeader7) +
                                   "\n##### OXELLOG START: Dec_07,2026@09:05:03\n" + "up\n" +
                                   "\n##### OXELLOG STOP:  Dec_07,2026@09:05:03\n");
}

TEST_F(Ltlog, MidnightMovesToTheNextDaysFile) {
    ClockPin({2026, 12, 7, 23, 59, 59, 500, 0, 0, 0});
    g_cfg.LTLOG_ENABLED = 1;
    LtlogStart();
    LogWrite("before\n", 7);
    ClockAdvanceMs(600);
    LogWrite("after\n", 6);
    LogWrite("more\n", 5);
    LtlogClose(LTLOG_TERMINATE);
    const std::string old = ReadFile(today);
    const std::string tail = "before\n\n##### OXELLOG STOP (NEXTDAY): Dec_08,2026@00:00:00\n";
    ASSERT_GE(old.size(), tail.size());
    EXPECT_EQ(old.substr(old.size() - tail.size()), tail);
    EXPECT_EQ(ReadFile(dir + "/board_20261208"),
              "##### Log created (Dec_08,2026@00:00:00) with OXEL SVN: 1437\nafter\nmore\n"
              "\n##### OXELLOG STOP (TERMINATE): Dec_08,2026@00:00:00\n");
}

TEST_F(Ltlog, PurgeDeletesOldestUntilBelowTheLimit) {
    MakeFile("board_20261203", 600000);
    MakeFile("board_20261201", 600000);
    MakeFile("board_20261202", 600000);
    MakeFile("other_20261101", 900000);
    g_cfg.LTLOG_PURGESIZE = 1;
    g_cfg.LTLOG_ENABLED = 1;
    LtlogStart();   // purges before opening today's file
    EXPECT_FALSE(Exists(dir + "/board_20261201"));
    EXPECT_FALSE(Exists(dir + "/board_20261202"));
    EXPECT_TRUE(Exists(dir + "/board_20261203"));
    EXPECT_TRUE(Exists(dir + "/other_20261101"));
    EXPECT_TRUE(Exists(today));
}

TEST_F(Ltlog, PurgeResults) {
    g_cfg.LTLOG_PURGESIZE = 1;
    EXPECT_EQ(LtlogPurge(), -1);
    MakeFile("board_20261201", 10);
    EXPECT_EQ(LtlogPurge(), 0);
    g_cfg.LTLOG_PURGESIZE = 0;
    MakeFile("board_20261202", 2000000);
    EXPECT_EQ(LtlogPurge(), 0);
    g_cfg.LTLOG_PURGESIZE = 1;
    EXPECT_EQ(LtlogPurge(), 1);
}

TEST_F(Ltlog, DialogRules) {
    LtlogConfigure(true, dir.c_str(), "board", 5000);
    EXPECT_EQ(g_cfg.LTLOG_PURGESIZE, 2000);
    ASSERT_EQ(fake.Boxes().size(), 1u);
    EXPECT_EQ(fake.Boxes()[0].title, "LongTermLogging");
    EXPECT_EQ(fake.Boxes()[0].text, "Max purge size is 2000 MgByte");
    EXPECT_TRUE(g_cfg.LTLOG_ENABLED);
    // Same directory and prefix: the file stays as it is.
    LtlogConfigure(true, dir.c_str(), "board", 50);
    EXPECT_EQ(Count(ReadFile(today), "OXELLOG START"), 1);
    // Another prefix: the old file ends, the new one starts.
    LtlogConfigure(true, dir.c_str(), "rack", 50);
    EXPECT_NE(ReadFile(today).find("##### OXELLOG STOP (NEWFILE): Dec_07,2026@09:05:03\n"), std::string::npos);
    EXPECT_EQ(ReadFile(dir + "/rack_20261207"),
              "\n##### OXELLOG START: Dec_07,2026@09:05:03\n" + std::string(kHeader7));
    LtlogConfigure(false, dir.c_str(), "rack", 50);
    EXPECT_FALSE(g_cfg.LTLOG_ENABLED);
    EXPECT_FALSE(LtlogIsOpen());
    EXPECT_NE(ReadFile(dir + "/rack_20261207").find("OXELLOG STOP:  "), std::string::npos);

    fake.Reset();
    LtlogConfigure(true, "", "rack", 50);
    LtlogConfigure(true, dir.c_str(), "", 50);
    ASSERT_EQ(fake.Boxes().size(), 2u);
    EXPECT_EQ(fake.Boxes()[0].text, "No dirname specified");
    EXPECT_EQ(fake.Boxes()[1].text, "No prefix specified");
    EXPECT_FALSE(g_cfg.LTLOG_ENABLED);

    LtlogConfigure(true, (dir + "/missing").c_str(), "rack", 50);
    EXPECT_FALSE(g_cfg.LTLOG_ENABLED);
    EXPECT_EQ(fake.Boxes().size(), 3u);
}

TEST_F(Ltlog, UnwritableDirectoryNeverStopsLogging) {
    g_cfg.LTLOG_ENABLED = 1;
    CFG_SET_STRING(g_cfg.LTLOG_DIR, (dir + "/nope").c_str());
    LtlogStart();
    EXPECT_FALSE(g_cfg.LTLOG_ENABLED);
    ASSERT_EQ(fake.Boxes().size(), 1u);
    EXPECT_NE(fake.Boxes()[0].title.find("board_20261207"), std::string::npos);
    EXPECT_EQ(LogWrite("x", 1), 0);
}

}  // namespace
