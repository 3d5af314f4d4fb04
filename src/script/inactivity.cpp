#include "script/inactivity.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/report.h"
#include "console/screenbuf.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "script/scripting.h"

namespace {

constexpr size_t kNameLimit = 2048;
const char* const kRule = "*****************************************\r\n";

// Written by readers and the keyboard, read by the tick.
std::atomic<uint64_t> g_lastActivityMs{0};
std::atomic<uint64_t> g_activityGen{0};   // bumped by every restart of the count
std::atomic<bool> g_expired{false};
// Tick-side state (UI thread only).
uint64_t g_countGen = ~0ULL;  // the restart the reported count belongs to
int g_reported = 0;         // idle seconds already acted on
uint64_t g_keepaliveStartMs = 0;
bool g_keepaliveOn = false;
std::atomic<bool> g_questionOpen{false};

void Touch(uint64_t now) {
    g_lastActivityMs = now;
    ++g_activityGen;
}

void RestartIdle() {
    g_expired = false;
    Touch(ClockTickMs());
}

void Warn(int remaining) {
    console_printf("\r\n%s", kRule);
    console_printf("* Inactivity timeout in %2d seconds...   *\r\n", remaining);
    if (remaining == 10) console_printf("*    (hit any key to reset timeout)     *\r\n");
    else console_printf("*        (you still have time!!)        *\r\n");
    console_printf("%s", kRule);
}

void Expire() {
    g_expired = true;
    CloseConnection();
    ui().StatusRefresh();
    console_printf("\r\n%s", kRule);
    console_printf("* To properly restart, terminate and    *\r\n");
    console_printf("* open a new Oxel session.              *\r\n");
    console_printf("%s", kRule);
}

// One idle second reached: the box, the script or the expiry due at c.
// Returns true when the inactivity script ran (the keepalive step is skipped).
bool IdleSecond(int c, int t, uint64_t now) {
    if (g_cfg.INACTIVITY_SCRIPT[0]) {
        if (c < t) return false;
        Touch(now);
        g_countGen = g_activityGen.load();
        g_reported = 0;
        run_script(g_cfg.INACTIVITY_SCRIPT, nullptr);
        return true;
    }
    int remaining = t - c;
    if (remaining == 10 || remaining == 5) {
        Warn(remaining);
    } else if (remaining == 2) {
        console_printf("\r\n%s", kRule);
        console_printf("* Dropping backend connection now...    *\r\n");
        console_printf("%s", kRule);
    } else if (remaining == 0) {
        Expire();
    }
    return false;
}

bool InactivityStep(uint64_t now) {
    int t = g_cfg.INACTIVITY_TIMEOUT;
    if (t <= 0 || g_expired.load()) return false;
    uint64_t gen = g_activityGen.load();
    uint64_t last = g_lastActivityMs.load();
    if (gen != g_countGen) {
        g_countGen = gen;
        g_reported = 0;
    }
    uint64_t idle = now > last ? (now - last) / 1000 : 0;
    int c = idle >= static_cast<uint64_t>(t) ? t : static_cast<int>(idle);
    // Every second since the last tick is acted on, so a late tick skips no box.
    while (g_reported < c) {
        ++g_reported;
        if (IdleSecond(g_reported, t, now)) return true;
        if (g_expired.load()) break;
    }
    return false;
}

void KeepaliveStep(uint64_t now) {
    int k = g_cfg.KEEPALIVE_TIMEOUT;
    if (k <= 0) {
        g_keepaliveOn = false;
        return;
    }
    if (!g_keepaliveOn) {
        g_keepaliveOn = true;
        g_keepaliveStartMs = now;
        return;
    }
    if (now - g_keepaliveStartMs < static_cast<uint64_t>(k) * 1000) return;
    g_keepaliveStartMs = now;
    if (!g_cfg.KEEPALIVE_SCRIPT[0] || ScriptRunning() || g_questionOpen.load() || !BackendConnected()) return;
    if (!run_script(g_cfg.KEEPALIVE_SCRIPT, nullptr)) StopKeepalive(true);
}

}  // namespace

void TimerStart() {
    g_keepaliveStartMs = ClockTickMs();
    g_keepaliveOn = g_cfg.KEEPALIVE_TIMEOUT > 0;
    SetInactivityTimeout(g_cfg.INACTIVITY_TIMEOUT);
}

void TimerTick() {
    uint64_t now = ClockTickMs();
    if (InactivityStep(now)) return;
    KeepaliveStep(now);
}

void ActivitySeen() {
    if (!g_expired.load()) Touch(ClockTickMs());
}

void SetInactivityTimeout(int seconds) {
    g_cfg.INACTIVITY_TIMEOUT = seconds > 0 ? seconds : 0;
    RestartIdle();
}

int SetInactivityScript(const char* file) {
    if (file && std::strlen(file) >= kNameLimit) return -1;
    CFG_SET_STRING(g_cfg.INACTIVITY_SCRIPT, file ? file : "");
    return 0;
}

int SetKeepalive(const char* file, int seconds) {
    if (!file || !*file) {
        StopKeepalive(false);
        g_keepaliveOn = false;
        return 0;
    }
    if (std::strlen(file) >= kNameLimit) return -1;
    CFG_SET_STRING(g_cfg.KEEPALIVE_SCRIPT, file);
    g_cfg.KEEPALIVE_TIMEOUT = seconds > 0 ? seconds : 0;
    g_keepaliveStartMs = ClockTickMs();
    g_keepaliveOn = g_cfg.KEEPALIVE_TIMEOUT > 0;
    return 0;
}

void StopKeepalive(bool ask) {
    if (ask && g_cfg.KEEPALIVE_SCRIPT[0]) {
        if (g_questionOpen.exchange(true)) return;
        int answer = OxelMessageBoxStyle(MB_YESNO, "Keepalive is active...", "Want to terminate keepalive?");
        g_questionOpen = false;
        if (answer != IDYES) return;
    }
    g_cfg.KEEPALIVE_SCRIPT[0] = 0;
    g_cfg.KEEPALIVE_TIMEOUT = 0;
}

void ShowTimerConfig() {
    bool inact = g_cfg.INACTIVITY_TIMEOUT > 0, keep = g_cfg.KEEPALIVE_TIMEOUT > 0;
    if (!inact && !keep) return;
    console_printf("  Oxel Timer Configuration:\r\n");
    console_printf("************************************************\r\n\r\n");
    if (inact)
        console_printf("  Inactivity interval: %3d sec (%s)\r\n", g_cfg.INACTIVITY_TIMEOUT.get(),
                       g_cfg.INACTIVITY_SCRIPT[0] ? g_cfg.INACTIVITY_SCRIPT : "none");
    if (keep)
        console_printf("  Keepalive interval:  %3d sec (%s)\r\n", g_cfg.KEEPALIVE_TIMEOUT.get(), g_cfg.KEEPALIVE_SCRIPT);
    console_printf("\r\n************************************************\r\n");
}

bool InactivityExpired() { return g_expired.load(); }
