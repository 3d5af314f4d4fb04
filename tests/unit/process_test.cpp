#include "platform/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace {

std::string ReadUntil(ChildProcess& c, const std::string& needle) {
    std::string got;
    char buf[256];
    while (got.find(needle) == std::string::npos) {
        int n = ProcRead(c, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

TEST(Process, PipesAndPseudoTerminal) {
    for (bool pty : {false, true}) {
        SCOPED_TRACE(pty ? "pty" : "pipes");
        SpawnOptions opt;
        opt.pty = pty;
        opt.ptyEcho = false;
        ChildProcess c;
        ASSERT_EQ(ProcSpawn({"sh", "-c", "read x; echo got $x; [ -t 0 ] && echo tty; echo err >&2; exit 3"}, opt, &c), 1);
        ASSERT_EQ(ProcWrite(c, "abc\n", 4), 4);
        std::string out = ReadUntil(c, "err");
        EXPECT_NE(out.find("got abc"), std::string::npos) << out;
        EXPECT_EQ(out.find("tty") != std::string::npos, pty);
        char buf[64];
        while (ProcRead(c, buf, sizeof buf) > 0) {
        }
        for (int i = 0; i < 500 && ProcExited(c) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(ProcExited(c), 1);
        EXPECT_EQ(c.exitCode, 3);
        ProcClose(c);
    }
}

TEST(Process, CloseEndsARunningChildAndInterruptEndsARead) {
    ChildProcess c;
    ASSERT_EQ(ProcSpawn({"sleep", "60"}, SpawnOptions{}, &c), 1);
    int result = -2;
    std::thread reader([&] {
        char buf[16];
        result = ProcRead(c, buf, sizeof buf);
    });
    ProcInterrupt(c);
    reader.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ProcExited(c), 0);
    auto t0 = std::chrono::steady_clock::now();
    ProcClose(c);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_TRUE(c.reaped);
    EXPECT_EQ(c.outFd, -1);
}

TEST(Process, MissingProgram) {
    EXPECT_FALSE(ProcFindOnPath("sh").empty());
    EXPECT_TRUE(ProcFindOnPath("no-such-program-oxel").empty());
    ChildProcess c;
    EXPECT_EQ(ProcSpawn({"no-such-program-oxel"}, SpawnOptions{}, &c), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(c.pid, -1);
}

}  // namespace
