// The POSIX serial operations on a pseudo-terminal: every line setting goes
// through termios and reads back the same, any rate through BOTHER.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "backend/comport.h"
#include "platform/serial.h"

namespace {

struct PtyPort {
    int master = -1;
    std::string path;
    SerialPort* port = nullptr;
    const SerialOps& ops = SerialPosixOps();
    PtyPort() {
        int slave = -1;
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        path = name;
        close(slave);
        int err = 0;
        port = ops.open(path.c_str(), &err);
    }
    ~PtyPort() {
        if (port) ops.close(port);
        if (master >= 0) close(master);
    }
};

TEST(Serial, EveryTableRateAndOthersReadBack) {
    PtyPort p;
    ASSERT_NE(p.port, nullptr);
    std::vector<int> rates;
    for (const auto& row : BaudRateTable) rates.push_back(row.rate);
    for (int r : {250000, 1000000, 1234567, 3000000, 75}) rates.push_back(r);
    for (int rate : rates) {
        SerialLine line;
        line.baud = rate;
        ASSERT_EQ(p.ops.setLine(p.port, &line), 1) << rate;
        SerialLine back;
        ASSERT_EQ(p.ops.getLine(p.port, &back), 1);
        EXPECT_EQ(back.baud, rate);
    }
}

TEST(Serial, StopBitsAndFlowReadBack) {
    PtyPort p;
    ASSERT_NE(p.port, nullptr);
    struct Case { int bits, parity, stop; bool xon, cts; int wantStop; };
    const Case cases[] = {
        {8, 0, 0, false, false, 0}, {7, 1, 0, false, false, 0}, {7, 2, 2, true, false, 2},
        {8, 3, 0, false, true, 0},  {5, 4, 1, false, false, 2},  // 1.5 runs as 2
        {6, 0, 2, true, true, 2},
    };
    for (const auto& c : cases) {
        SerialLine line;
        line.dataBits = c.bits;
        line.parity = c.parity;
        line.stopBits = c.stop;
        line.xonXoff = c.xon;
        line.ctsOutFlow = c.cts;
        ASSERT_EQ(p.ops.setLine(p.port, &line), 1);
        SerialLine back;
        ASSERT_EQ(p.ops.getLine(p.port, &back), 1);
        // A pseudo-terminal always runs 8 bits without parity (the kernel
        // forces it); the other settings are kept as set.
        EXPECT_EQ(back.stopBits, c.wantStop);
        EXPECT_EQ(back.xonXoff, c.xon);
        EXPECT_EQ(back.ctsOutFlow, c.cts);
    }
    SerialLine bad;
    bad.dataBits = 9;
    EXPECT_EQ(p.ops.setLine(p.port, &bad), 0);
}

TEST(Serial, PseudoTerminalHasNoModemLinesButWorks) {
    PtyPort p;
    ASSERT_NE(p.port, nullptr);
    unsigned bits = 0;
    EXPECT_EQ(p.ops.modemStatus(p.port, &bits), 0);
    EXPECT_EQ(p.ops.setDtr(p.port, true), 1);
    EXPECT_EQ(p.ops.setRts(p.port, false), 1);
    EXPECT_EQ(p.ops.setBreak(p.port, true), 1);
    EXPECT_EQ(p.ops.setBreak(p.port, false), 1);
    EXPECT_EQ(p.ops.errors(p.port), 0u);
    EXPECT_EQ(p.ops.purge(p.port), 1);
}

TEST(Serial, ExclusiveOpenAndMissingDevices) {
    PtyPort p;
    ASSERT_NE(p.port, nullptr);
    int err = 0;
    EXPECT_EQ(p.ops.open(p.path.c_str(), &err), nullptr);
    EXPECT_EQ(err, EBUSY);
    EXPECT_EQ(p.ops.open("/nonexistent/ttyX", &err), nullptr);
    EXPECT_EQ(err, ENOENT);
    EXPECT_EQ(p.ops.open("/dev/null", &err), nullptr);   // not a serial device
    EXPECT_EQ(err, ENOENT);
    EXPECT_TRUE(SerialDevicePresent(p.path));
    EXPECT_FALSE(SerialDevicePresent("/nonexistent/ttyX"));
    EXPECT_FALSE(SerialDevicePresent("/etc/passwd"));
}

TEST(Serial, DefaultDevicePaths) {
    struct Case { int n; const char* path; };
    const Case cases[] = {{1, "/dev/ttyS0"}, {99, "/dev/ttyS98"}, {100, "/dev/ttyUSB0"}, {199, "/dev/ttyUSB99"},
                          {200, "/dev/ttyACM0"}, {300, "/dev/ttyAMA0"}, {399, "/dev/ttyAMA99"}, {400, ""}, {0, ""}};
    for (const auto& c : cases) EXPECT_EQ(SerialDefaultPath(c.n), c.path) << c.n;
}

TEST(Serial, WaitEndsOnCancelAndReportsHangUp) {
    PtyPort p;
    ASSERT_NE(p.port, nullptr);
    SerialLine line;
    ASSERT_EQ(p.ops.setLine(p.port, &line), 1);
    ASSERT_EQ(write(p.master, "hi", 2), 2);
    unsigned ev = 0;
    ASSERT_EQ(p.ops.wait(p.port, &ev), 1);
    EXPECT_TRUE(ev & SEV_RXCHAR);
    char buf[8];
    EXPECT_EQ(p.ops.inQueue(p.port), 2);
    EXPECT_EQ(p.ops.read(p.port, buf, sizeof buf), 2);
    EXPECT_EQ(p.ops.write(p.port, "out", 3), 3);
    close(p.master);
    p.master = -1;
    EXPECT_EQ(p.ops.wait(p.port, &ev), -1);
    EXPECT_EQ(errno, EIO);
    p.ops.cancelWait(p.port);
    EXPECT_EQ(p.ops.wait(p.port, &ev), 0);
}

}  // namespace
