// The backend layer and the COM port backend, in process: pseudo-terminal
// pairs stand in for boards, a small fake of the serial operations refuses
// chosen rates and raises modem-line and BREAK events.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "console/screenbuf.h"
#include "util/commands.h"
#include "app/oxel.h"
#include "backend/backend.h"
#include "backend/comport.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "wait.h"
#include "pty_board.h"
#include "log/srvrtrace.h"
#include "platform/serial.h"
#include "config/shellvar.h"

namespace {


// The trace holds this text at the end of one of its lines.
bool TraceHas(const std::string& text) { return (TraceText() + "\r\n").find(text + "\r\n") != std::string::npos; }

size_t Count(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

using Pty = PtyBoard;

// ---- a fake serial layer -------------------------------------------------

struct FakePort {
    std::string path;
    bool cancelled = false;
};

struct FakeSerial {
    std::mutex mu;
    std::condition_variable cv;
    std::set<std::string> present;                 // paths that open
    std::function<bool(int)> refuse = [](int) { return false; };
    std::deque<std::pair<int, unsigned>> waits;    // (result, events or errno)
    std::string rx, tx;
    unsigned modem = 0;
    unsigned errorFlags = 0;
    bool dtr = false, rts = false;
    int breakOn = 0, breakOff = 0;
    SerialLine line;
    std::vector<FakePort*> open;

    void Event(int result, unsigned evOrErrno) {
        std::lock_guard l(mu);
        waits.push_back({result, evOrErrno});
        cv.notify_all();
    }
    void Receive(const std::string& s) {
        std::lock_guard l(mu);
        rx += s;
        waits.push_back({1, SEV_RXCHAR});
        cv.notify_all();
    }
    std::string Sent() {
        std::lock_guard l(mu);
        return tx;
    }
};
FakeSerial* g_fake = nullptr;

FakePort* FP(SerialPort* p) { return reinterpret_cast<FakePort*>(p); }

const SerialOps kFakeOps = {
    [](const char* path, int* err) -> SerialPort* {
        std::lock_guard l(g_fake->mu);
        if (!g_fake->present.count(path)) {
            *err = ENOENT;
            return nullptr;
        }
        auto* p = new FakePort{path};
        g_fake->open.push_back(p);
        return reinterpret_cast<SerialPort*>(p);
    },
    [](SerialPort* p) {
        std::lock_guard l(g_fake->mu);
        std::erase(g_fake->open, FP(p));
        delete FP(p);
    },
    [](SerialPort*, SerialLine* line) {
        std::lock_guard l(g_fake->mu);
        *line = g_fake->line;
        return 1;
    },
    [](SerialPort*, const SerialLine* line) {
        std::lock_guard l(g_fake->mu);
        if (g_fake->refuse(line->baud)) {
            errno = EINVAL;
            return 0;
        }
        g_fake->line = *line;
        g_fake->dtr = line->dtrControl != LINE_DISABLE;
        g_fake->rts = line->rtsControl != LINE_DISABLE;
        return 1;
    },
    [](SerialPort*, void* buf, size_t max) -> long {
        std::lock_guard l(g_fake->mu);
        size_t n = std::min(max, g_fake->rx.size());
        std::memcpy(buf, g_fake->rx.data(), n);
        g_fake->rx.erase(0, n);
        return static_cast<long>(n);
    },
    [](SerialPort*, const void* data, size_t len) -> long {
        std::lock_guard l(g_fake->mu);
        g_fake->tx.append(static_cast<const char*>(data), len);
        return static_cast<long>(len);
    },
    [](SerialPort* p, unsigned* events) {
        std::unique_lock l(g_fake->mu);
        g_fake->cv.wait(l, [&] { return FP(p)->cancelled || !g_fake->waits.empty(); });
        if (FP(p)->cancelled) return 0;
        auto [r, v] = g_fake->waits.front();
        g_fake->waits.pop_front();
        if (r < 0) errno = static_cast<int>(v);
        else *events = v;
        return r;
    },
    [](SerialPort* p) {
        std::lock_guard l(g_fake->mu);
        FP(p)->cancelled = true;
        g_fake->cv.notify_all();
    },
    [](SerialPort*) -> long {
        std::lock_guard l(g_fake->mu);
        return static_cast<long>(g_fake->rx.size());
    },
    [](SerialPort*, unsigned* bits) {
        std::lock_guard l(g_fake->mu);
        *bits = g_fake->modem;
        return 1;
    },
    [](SerialPort*, bool on) {
        std::lock_guard l(g_fake->mu);
        g_fake->dtr = on;
        return 1;
    },
    [](SerialPort*, bool on) {
        std::lock_guard l(g_fake->mu);
        g_fake->rts = on;
        return 1;
    },
    [](SerialPort*, bool on) {
        std::lock_guard l(g_fake->mu);
        ++(on ? g_fake->breakOn : g_fake->breakOff);
        return 1;
    },
    [](SerialPort*) { return 1; },
    [](SerialPort*) {
        std::lock_guard l(g_fake->mu);
        unsigned f = g_fake->errorFlags;
        g_fake->errorFlags = 0;
        return f;
    },
};

// ---- fixture ---------------------------------------------------------------

class ComPort : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigInitDefaults();
        g_cfg.BACKEND = BACKEND_COM;
        g_cfg.TRACEFLAGS = 0xFFFF;
        g_cfg.TRACE_TSTAMP_ENABLE = 0;
        SetFrameInitialised(true);
        TraceClear();
        // No real device of this machine takes part: every port is absent
        // unless a test names one.
        for (int n = 1; n < 1024; ++n) Dev(n, "/nonexistent/tty" + std::to_string(n));
    }
    void TearDown() override {
        CloseConnection();
        SerialSetOps(nullptr);
        g_fake = nullptr;
        for (int n = 1; n < 1024; ++n) shell_unsetenv(("COMDEV_" + std::to_string(n)).c_str());
        for (const char* v : {"INLINE_CTSSTR", "INLINE_BRKSTR", "COMPORT", "COMPORTALT"}) shell_unsetenv(v);
        SetFrameInitialised(false);
    }
    static void Dev(int n, const std::string& path) { shell_setenv(("COMDEV_" + std::to_string(n)).c_str(), path.c_str()); }
    void UseFake() {
        g_fake = &fake;
        fake.present = {"/fake/1", "/fake/2"};
        Dev(1, "/fake/1");
        Dev(2, "/fake/2");
        SerialSetOps(&kFakeOps);
    }
    std::string Var(const char* name) { return shell_getenv(name).value_or(""); }
    FakeUi ui;
    FakeSerial fake;
};

// ---- pseudo-terminal boards ----------------------------------------------

TEST_F(ComPort, BytesFlowBothWaysAndStatusNamesThePort) {
    Pty board;
    ASSERT_FALSE(board.path.empty());
    Dev(3, board.path);
    g_cfg.COMPORT = 3;
    g_cfg.BAUDRATE = 115200;
    g_cfg.CONSOLE_READONLY = 1;
    g_cfg.INLINE_SIGNALING = 1;   // a pseudo-terminal has no modem lines: no markers, no failure
    ASSERT_EQ(OpenConnection(), 1);
    EXPECT_EQ(Var("COMPORT"), "3");
    EXPECT_TRUE(BackendConnected());
    EXPECT_EQ(BackendStatusText(), "COM3 115200 8-N-1 (readonly)");

    EXPECT_EQ(BackendWrite("typed\r", 6), 1);
    EXPECT_EQ(board.Receive(6), "typed\r");
    std::string big(100000, 'x');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    std::thread sender([&] { board.Send(big); });
    EXPECT_TRUE(WaitFor([&] { return ui.Console().find(big) != std::string::npos; }));
    sender.join();
    EXPECT_EQ(ui.Console(), big);   // nothing else: no markers without modem lines

    EXPECT_EQ(CloseConnection(), 1);
    EXPECT_FALSE(BackendConnected());
    EXPECT_EQ(Var("COMPORT"), "NONE");
    EXPECT_EQ(BackendStatusText(), "Disconnected (readonly)");
    // The port is free again: it opens at once.
    EXPECT_EQ(OpenConnection(), 1);
}

TEST_F(ComPort, FarEndGoneClosesOnceAndNextKeyReconnects) {
    auto board = std::make_unique<Pty>();
    Dev(3, board->path);
    g_cfg.COMPORT = 3;
    ASSERT_EQ(OpenConnection(), 1);
    board->Close();
    const std::string banner = "# COMPORT error, connection closed automatically.\r\n";
    ASSERT_TRUE(WaitFor([&] { return ui.Console().find(banner) != std::string::npos; }));
    EXPECT_TRUE(WaitFor([&] { return !BackendConnected(); }));
    EXPECT_EQ(Var("COMPORT"), "NONE");
    EXPECT_TRUE(BackendLostConnection());
    EXPECT_EQ(g_cfg.COMPORT, 3);   // the same port comes back
    std::string console = ui.Console();
    EXPECT_NE(console.find("#   click the 'Reconnect' toolbar button\r\n"), std::string::npos);

    // The board still away: the key's attempt (a reopen) fails, the flag stays.
    // (Its old /dev/pts number may already serve another test's terminal.)
    Dev(3, "/dev/oxel-no-such-board");
    EXPECT_EQ(ReopenConnection(), 0);
    EXPECT_TRUE(BackendLostConnection());

    // Back (on a new device node): the next key reconnects.
    board = std::make_unique<Pty>();
    Dev(3, board->path);
    EXPECT_EQ(ReopenConnection(), 1);
    EXPECT_FALSE(BackendLostConnection());
    EXPECT_EQ(Var("COMPORT"), "3");
    EXPECT_EQ(BackendWrite("k", 1), 1);
    EXPECT_EQ(board->Receive(1), "k");
    EXPECT_EQ(Count(ui.Console(), banner), 1u);
}

TEST_F(ComPort, AnyOpensTheFirstPortThatOpens) {
    Pty board;
    Dev(3, board.path);
    g_cfg.COMPORT = COMPORT_ANY;
    ASSERT_EQ(OpenConnection(), 1);
    EXPECT_EQ(g_cfg.COMPORT, 3);
    EXPECT_EQ(Var("COMPORT"), "3");
}

// A failed open leaves the reason in errno, for start-up to word its message.
TEST_F(ComPort, FailedOpenSaysWhy) {
    g_cfg.COMPORT = COMPORT_ANY;
    EXPECT_EQ(OpenConnection(), 0);
    EXPECT_EQ(errno, ENODEV);
    g_cfg.COMPORT = 5;
    EXPECT_EQ(OpenConnection(), 0);
    EXPECT_EQ(errno, ENOENT);

    Pty board;
    Dev(6, board.path);
    int other = open(board.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);   // another program holds it
    g_cfg.COMPORT = 6;
    EXPECT_EQ(OpenConnection(), 0);
    EXPECT_EQ(errno, EBUSY);
    close(other);
    EXPECT_TRUE(ui.Boxes().empty());
    EXPECT_EQ(OpenConnection(), 1);
}

TEST_F(ComPort, PassthroughCarriesBothWays) {
    Pty main, alt;
    Dev(1, main.path);
    Dev(2, alt.path);
    g_cfg.COMPORT = 1;
    g_cfg.COMPORTALT = 2;
    g_cfg.COMPORT_PASSTHROUGH = 1;
    ASSERT_EQ(OpenConnection(), 1);
    EXPECT_TRUE(ComAltOpen());
    EXPECT_EQ(Var("COMPORTALT"), "2");
    main.Send("from-main");
    EXPECT_EQ(alt.Receive(9), "from-main");
    alt.Send("from-alt");
    EXPECT_EQ(main.Receive(8), "from-alt");
    // The main port's bytes are shown; with passthrough the alternate port's
    // bytes only cross to the other wire.
    EXPECT_TRUE(WaitFor([&] { return ui.Console().find("from-main") != std::string::npos; }));
    EXPECT_EQ(ui.Console().find("from-alt"), std::string::npos);
    EXPECT_EQ(CloseConnection(), 1);
    EXPECT_FALSE(ComAltOpen());
    EXPECT_TRUE(TraceHas("CommWatchProcAlt terminating"));
}

TEST_F(ComPort, PseudoPorts) {
    struct Case { int port; const char* var; const char* status; const char* shown; };
    const Case cases[] = {
        {COMPORT_LPBK, "LPBK", "Disconnected (LPBK)", "echo me"},
        {COMPORT_TEST, "TEST", "Disconnected (TEST)", ""},
        {COMPORT_NONE, "NONE", "Disconnected", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.var);
        ui.Reset();
        g_cfg.BACKEND = BACKEND_COM;
        g_cfg.COMPORT = c.port;
        ASSERT_EQ(OpenConnection(), 1);
        EXPECT_EQ(Var("COMPORT"), c.var);
        EXPECT_FALSE(BackendConnected());
        EXPECT_EQ(BackendStatusText(), c.status);
        if (!c.shown) continue;
        std::string big(1000, 'z');
        EXPECT_EQ(BackendWrite("echo me", 7), 1);
        EXPECT_EQ(BackendWrite(big.data(), big.size()), 1);
        EXPECT_TRUE(BackendLoopbackDrain(5000));
        EXPECT_EQ(ui.Console(), *c.shown ? std::string(c.shown) + big : std::string());
        EXPECT_TRUE(ui.Boxes().empty());
    }
}

TEST_F(ComPort, WriteWhileDisconnectedAsksToReconnect) {
    g_cfg.COMPORT = 4;   // absent
    ui.Answer(IDNO);
    EXPECT_EQ(BackendWrite("a", 1), 0);
    ui.Answer(IDYES);
    EXPECT_EQ(BackendWrite("a", 1), 0);
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].title, "COM port currently disconnected");
    EXPECT_EQ(boxes[0].text, "Want to reconnect?");
    EXPECT_EQ(boxes[2].title, "Reconnect Failed");
    EXPECT_EQ(boxes[2].text, "Can't reconnect");
}

TEST_F(ComPort, CloseWhenNothingConnectedClearsTheBackend) {
    g_cfg.BACKEND_COMPORT_ENABLED = 1;
    EXPECT_EQ(CloseConnection(), 1);
    EXPECT_EQ(g_cfg.BACKEND, BACKEND_NONE);
    EXPECT_EQ(g_cfg.BACKEND_COMPORT_ENABLED, 0);
    // Opening again selects the COM port kind with no port.
    EXPECT_EQ(OpenConnection(), 1);
    EXPECT_EQ(g_cfg.BACKEND, BACKEND_COM);
    EXPECT_EQ(Var("COMPORT"), "NONE");
}

TEST_F(ComPort, PortListAndEntries) {
    Pty a, b;
    Dev(5, a.path);
    Dev(9, b.path);
    g_cfg.COMPORT = 9;
    ASSERT_EQ(OpenConnection(), 1);
    auto list = ComPortList();
    std::vector<std::string> want = {"COM5 (" + a.path + ")", "COM9 current (" + b.path + ")", "NONE", "TEST", "LBK", "ANY"};
    EXPECT_EQ(list, want);
    // A port some other program holds is listed as in use.
    CloseConnection();
    int other = open(b.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    list = ComPortList();
    EXPECT_EQ(list[1], "COM9 inuse (" + b.path + ")");
    close(other);

    struct Entry { const char* text; int port; };
    for (const auto& e : std::initializer_list<Entry>{{"NONE", 0}, {"TEST", 1024}, {"LBK", 1025}, {"ANY", 1026},
                                                      {"COM12 (/dev/ttyS11)", 12}, {"COM7 inuse (/x)", 7},
                                                      {"bogus", -1}, {"COM", -1}})
        EXPECT_EQ(ComPortFromEntry(e.text), e.port) << e.text;
}

TEST_F(ComPort, FindNextComPortWrapsAround) {
    Pty a, b;
    Dev(4, a.path);
    Dev(7, b.path);
    EXPECT_EQ(FindNextComPort(4), 7);
    EXPECT_EQ(FindNextComPort(7), 4);    // wraps to the start
    EXPECT_EQ(FindNextComPort(0), 4);
    EXPECT_EQ(FindNextComPort(1025), 4);
    EXPECT_EQ(FindNextComPort(900), 4);
    Dev(4, "/nonexistent/x");
    EXPECT_EQ(FindNextComPort(7), 7);    // nothing else: stays
}

// ---- the fake serial layer -------------------------------------------------

TEST_F(ComPort, UserRateSteppedUntilTheDriverTakesIt) {
    UseFake();
    struct Case { int request; int lo, hi; int accepted; };
    const Case cases[] = {
        {300000, 250001, 300000, 250000},   // above 115200: downward
        {100000, 99000, 100010, 100011},    // below: upward
        {115200, 115200, 115203, 115204},   // 115200 itself: upward
        {38400, 1, 0, 38400},               // taken at once: no warning
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        CloseConnection();
        ui.Reset();
        g_cfg.BACKEND = BACKEND_COM;
        g_cfg.COMPORT = 1;
        g_cfg.USRDEFBAUD = 1;
        g_cfg.BAUDRATE = c.request;
        fake.refuse = [c](int r) { return r >= c.lo && r <= c.hi; };
        ASSERT_EQ(OpenConnection(), 1);
        EXPECT_EQ(g_cfg.BAUDRATE, c.accepted);
        EXPECT_EQ(fake.line.baud, c.accepted);
        auto boxes = ui.Boxes();
        if (c.accepted == c.request) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].title, "Baud rate warning");
            EXPECT_EQ(boxes[0].text, "Driver set to " + std::to_string(c.accepted));
        }
    }
}

TEST_F(ComPort, UserRateThatCannotBeFoundEndsTheProgram) {
    UseFake();
    g_cfg.COMPORT = 1;
    g_cfg.USRDEFBAUD = 1;
    // Only the rate the port opened with is taken; stepping never reaches it.
    fake.line.baud = 300000;
    fake.refuse = [](int r) { return r != 300000; };
    g_cfg.BAUDRATE = 150000;
    EXPECT_EXIT(OpenConnection(), ::testing::ExitedWithCode(1), "");
    g_cfg.BAUDRATE = 100000;
    EXPECT_EXIT(OpenConnection(), ::testing::ExitedWithCode(1), "");
}

TEST_F(ComPort, CycleBaudRate) {
    UseFake();
    g_cfg.COMPORT = 1;
    ASSERT_EQ(OpenConnection(), 1);
    struct Case { int from; std::set<int> refused; int to; };
    const Case cases[] = {
        {921600, {}, 110},
        {9600, {}, 14400},
        {12345, {}, 110},              // not in the table: from the first row
        {57600, {115200, 230400}, 256000},
        {256000, {460800, 576000, 921600, 110}, 300},
    };
    for (const auto& c : cases) {
        g_cfg.BAUDRATE = c.from;
        fake.refuse = [&](int r) { return c.refused.count(r) > 0; };
        EXPECT_EQ(CycleBaudRate(), 1) << c.from;
        EXPECT_EQ(g_cfg.BAUDRATE, c.to) << c.from;
        EXPECT_EQ(fake.line.baud, c.to) << c.from;
    }
    fake.refuse = [](int) { return true; };
    g_cfg.BAUDRATE = 9600;
    EXPECT_EQ(CycleBaudRate(), 0);
    EXPECT_EQ(g_cfg.BAUDRATE, 9600);

    g_cfg.BACKEND = BACKEND_TELNET;
    EXPECT_EQ(ChangeBaudRate(9600), 0);
    EXPECT_EQ(ui.Boxes().back().title, "ChangeBaudRate Error");
    EXPECT_EQ(ui.Boxes().back().text, "Backend is not a COMPORT");
    g_cfg.BACKEND = BACKEND_COM;
}

TEST_F(ComPort, ModemMarkersAndBreak) {
    UseFake();
    g_cfg.COMPORT = 1;
    g_cfg.INLINE_SIGNALING = 1;
    fake.modem = MS_CTS_ON | MS_RLSD_ON;
    ASSERT_EQ(OpenConnection(), 1);
    // The initial levels, in the order CTS, DSR, RING, DCD.
    EXPECT_EQ(ui.Console(), "<CTS1><DSR0><RNG0><DCD1>");

    auto expect = [&](unsigned ev, const std::string& marker) {
        ui.Reset();
        fake.Event(1, ev);
        EXPECT_TRUE(WaitFor([&] { return ui.Console() == marker; })) << ui.Console() << " wanted " << marker;
    };
    fake.modem = 0;
    expect(SEV_CTS, "<CTS0>");
    shell_setenv("INLINE_CTSSTR", "[cts %d/%d]");
    fake.modem = MS_CTS_ON;
    expect(SEV_CTS, "[cts 1/1]");
    shell_setenv("INLINE_CTSSTR", "%s%n%x");    // shown as written, never interpreted
    expect(SEV_CTS, "%s%n%x");
    shell_setenv("INLINE_CTSSTR", std::string(100, 'c').c_str());
    expect(SEV_CTS, std::string(64, 'c'));
    fake.modem = MS_RING_ON | MS_DSR_ON;
    expect(SEV_RING | SEV_DSR, "<DSR1><RNG1>");
    expect(SEV_BREAK, "<BREAK>");
    shell_setenv("INLINE_BRKSTR", "*brk*");
    expect(SEV_BREAK, "*brk*");
    EXPECT_TRUE(TraceHas("CommEvent event=DSR RNG "));
    EXPECT_TRUE(TraceHas("CommEvent event=BRK "));

    // Received bytes and events interleave in order.
    shell_setenv("INLINE_CTSSTR", "|");
    ui.Reset();
    fake.Receive("ab");
    ASSERT_TRUE(WaitFor([&] { return ui.Console() == "ab"; }));
    fake.Event(1, SEV_CTS);
    fake.Receive("cd");
    EXPECT_TRUE(WaitFor([&] { return ui.Console() == "ab|cd"; })) << ui.Console();

    // Without inline signalling only the indicators change.
    g_cfg.INLINE_SIGNALING = 0;
    fake.modem = MS_CTS_ON;
    ui.Reset();
    fake.Event(1, SEV_CTS | SEV_BREAK);
    fake.Receive("z");
    EXPECT_TRUE(WaitFor([&] { return ui.Console() == "z"; }));
    bool ctsShown = false;
    for (auto [id, on] : ui.menuChecked) ctsShown |= id == 961 && on;
    EXPECT_TRUE(ctsShown);
}

TEST_F(ComPort, ErrorEventsAreTraced) {
    UseFake();
    g_cfg.COMPORT = 1;
    ASSERT_EQ(OpenConnection(), 1);
    fake.errorFlags = CE_FRAME | CE_OVERRUN;
    fake.Event(1, SEV_ERR);
    EXPECT_TRUE(WaitFor([] { return TraceHas("CommEvent ERROR:FRAME OVERRUN "); }))
        << TraceText();
    EXPECT_TRUE(TraceHas("CommEvent Err (rc=0=WAIT_OBJECT_0)"));
}

TEST_F(ComPort, RepeatedWaitFailuresCloseAfterTen) {
    UseFake();
    g_cfg.COMPORT = 1;
    ASSERT_EQ(OpenConnection(), 1);
    for (int i = 0; i < 10; ++i) fake.Event(-1, EAGAIN);
    fake.Receive("still here");
    EXPECT_TRUE(WaitFor([&] { return ui.Console() == "still here"; }));
    EXPECT_TRUE(BackendConnected());
    EXPECT_TRUE(TraceHas("WaitCommEvent failed (10)"));
    for (int i = 0; i < 11; ++i) fake.Event(-1, EAGAIN);
    EXPECT_TRUE(WaitFor([] { return !BackendConnected(); }, 20000));
    EXPECT_TRUE(WaitFor([&] { return Count(ui.Console(), "closed automatically") == 1; }));
    EXPECT_EQ(Var("COMPORT"), "NONE");
}

TEST_F(ComPort, LineControlAndRefusals) {
    UseFake();
    g_cfg.COMPORT = 1;
    g_cfg.PARITY = 3;
    g_cfg.STOPBITS = 1;
    g_cfg.BYTESIZE = 7;
    g_cfg.FLOWCTRL = 0x04 | 0x08;
    g_cfg.DTR_STATE = 1;
    g_cfg.RTS_STATE = 0;
    ASSERT_EQ(OpenConnection(), 1);
    EXPECT_EQ(fake.line.parity, 3);
    EXPECT_EQ(fake.line.dataBits, 7);
    EXPECT_TRUE(fake.line.xonXoff);
    EXPECT_EQ(fake.line.xonChar, 0x11);
    EXPECT_EQ(fake.line.xoffChar, 0x13);
    EXPECT_TRUE(fake.dtr);
    EXPECT_FALSE(fake.rts);
    EXPECT_TRUE(TraceHas("1.5 stop bits run as 2 stop bits on this system"));
    EXPECT_EQ(BackendStatusText(), "COM1 19200 7-M-5");

    EXPECT_EQ(ToggleDtr(), 1);
    EXPECT_FALSE(fake.dtr);
    EXPECT_EQ(g_cfg.DTR_STATE, 0);
    EXPECT_EQ(ToggleRts(), 1);
    EXPECT_TRUE(fake.rts);
    EXPECT_TRUE(RtsOn());

    g_cfg.FLOWCTRL = 0x01 | 0x02;
    ui.Reset();
    EXPECT_EQ(ToggleDtr(), 0);
    EXPECT_EQ(ToggleRts(), 0);
    EXPECT_EQ(SetRts(false), 0);
    EXPECT_FALSE(fake.dtr);
    EXPECT_TRUE(fake.rts);
    auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].title, "Error");
    EXPECT_EQ(boxes[0].text, "Illegal operation when DTRDSR flowctrl enabled");
    EXPECT_EQ(boxes[1].text, "Illegal operation when RTSCTS flowctrl enabled");
    EXPECT_EQ(SetDtr(true), 1);   // the setter does not look at flow control
    EXPECT_TRUE(fake.dtr);

    EXPECT_EQ(SendBreak(), 1);
    EXPECT_EQ(fake.breakOn, 1);
    EXPECT_EQ(fake.breakOff, 1);
}

TEST_F(ComPort, WritePathEchoesAndRecordsTypedLines) {
    UseFake();
    g_cfg.COMPORT = 1;
    g_cfg.LOCALECHO = 1;
    g_cfg.LOCALECHOACH = 1;
    ASSERT_EQ(OpenConnection(), 1);
    const unsigned long long before = BackendSentBytes();
    EXPECT_EQ(BackendWrite("ab\bc\r", 5), 1);
    EXPECT_EQ(fake.Sent(), "ab\bc\r");
    EXPECT_EQ(ui.Console(), "616208630d");
    EXPECT_EQ(BackendSentBytes() - before, 5u);
    EXPECT_TRUE(TraceHas("ac"));
    // A line longer than the 128-byte buffer starts over instead of overflowing.
    std::string longLine(130, 'q');
    longLine += "\n";
    BackendWrite(longLine.data(), longLine.size());
    EXPECT_TRUE(TraceHas("qq"));
}

TEST_F(ComPort, CommandsAndToolTips) {
    BackendInit();
    bool have404 = false, have473 = false;
    for (const auto& e : CommandTable()) {
        have404 |= e.id == 404;
        have473 |= e.id == 473;
    }
    EXPECT_TRUE(have404 && have473);
    EXPECT_EQ(BackendToolTip(957), "Send BREAK on COM port");
    EXPECT_EQ(BackendToolTip(956), "Open Config->Backend->Comport");
    g_cfg.BACKEND = BACKEND_TELNET;
    EXPECT_EQ(BackendToolTip(958), "Toggle RTS on COM port (NA for other backends)");
    EXPECT_EQ(BackendToolTip(961), "Clear to send");
    g_cfg.BACKEND = BACKEND_COM;

    UseFake();
    g_cfg.COMPORT = 1;
    ASSERT_TRUE(CommandDispatch(951));   // Reconnect
    EXPECT_TRUE(BackendConnected());
    g_cfg.BAUDRATE = 921600;
    ASSERT_TRUE(CommandDispatch(956));
    EXPECT_EQ(g_cfg.BAUDRATE, 110);
    ASSERT_TRUE(CommandDispatch(950));
    EXPECT_FALSE(BackendConnected());
    ASSERT_TRUE(CommandDispatch(956));
    EXPECT_EQ(ui.Dialogs(), std::vector<std::string>{"COM Port Configuration..."});
}

}  // namespace

namespace {

TEST_F(ComPort, DialogChoiceSwitchesPorts) {
    UseFake();
    g_cfg.BACKEND = BACKEND_TELNET;
    ComPortChoice c;
    c.port = 1;
    c.rate = 57600;
    c.parity = 2;
    c.flow = 0x04 | 0x08;   // only the three flow boxes are kept
    ComPortConfigure(c);
    EXPECT_EQ(g_cfg.BACKEND, BACKEND_COM);
    EXPECT_TRUE(BackendConnected());
    EXPECT_EQ(g_cfg.FLOWCTRL, 0x04);
    EXPECT_EQ(BackendStatusText(), "COM1 57600 8-E-1");

    c.port = COMPORT_LPBK;
    ComPortConfigure(c);
    EXPECT_FALSE(BackendConnected());
    EXPECT_EQ(g_cfg.COMPORT, COMPORT_LPBK);
    EXPECT_EQ(BackendStatusText(), "Disconnected (LPBK)");
    ui.Reset();
    BackendWrite("x", 1);
    EXPECT_TRUE(BackendLoopbackDrain(5000));
    EXPECT_EQ(ui.Console(), "x");

    c.port = 2;
    c.userDefined = true;
    c.userRate = 250000;
    fake.refuse = [](int r) { return r > 200000 && r <= 250000; };
    ComPortConfigure(c);
    EXPECT_TRUE(BackendConnected());
    EXPECT_EQ(g_cfg.BAUDRATE, 200000);
    EXPECT_EQ(ui.Boxes().back().text, "Driver set to 200000");
}

}  // namespace
