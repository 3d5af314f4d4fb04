#include "platform/clock.h"

#include <time.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace {
std::mutex g_mu;
bool g_timePinned = false, g_tickPinned = false;
struct tm g_pinnedTm;
int g_pinnedMillis = 0;
uint64_t g_pinnedTick = 0;

LocalTime FromTm(const struct tm& tm, int millis) {
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
            millis, tm.tm_isdst, tm.tm_wday, tm.tm_yday};
}
}  // namespace

void LocalTimeToTm(const LocalTime& t, struct tm* out) {
    std::memset(out, 0, sizeof *out);
    out->tm_year = t.year - 1900;
    out->tm_mon = t.month - 1;
    out->tm_mday = t.day;
    out->tm_hour = t.hour;
    out->tm_min = t.minute;
    out->tm_sec = t.second;
    out->tm_isdst = t.isDst;
    out->tm_wday = t.weekday;
    out->tm_yday = t.yearday;
}

LocalTime ClockNow() {
    {
        std::lock_guard l(g_mu);
        if (g_timePinned) return FromTm(g_pinnedTm, g_pinnedMillis);
    }
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    localtime_r(&ts.tv_sec, &tm);
    return FromTm(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

uint64_t ClockTickMs() {
    {
        std::lock_guard l(g_mu);
        if (g_tickPinned) return g_pinnedTick;
    }
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void ClockPin(const LocalTime& t) {
    std::lock_guard l(g_mu);
    LocalTimeToTm(t, &g_pinnedTm);
    g_pinnedTm.tm_isdst = -1;
    mktime(&g_pinnedTm);  // fills weekday and yearday
    g_pinnedMillis = t.millis;
    g_timePinned = true;
}

void ClockAdvanceMs(uint64_t ms) {
    std::lock_guard l(g_mu);
    if (g_timePinned) {
        uint64_t total = g_pinnedMillis + ms;
        g_pinnedMillis = static_cast<int>(total % 1000);
        g_pinnedTm.tm_sec += static_cast<int>(total / 1000);
        g_pinnedTm.tm_isdst = -1;
        mktime(&g_pinnedTm);
    }
    if (g_tickPinned) g_pinnedTick += ms;
}

void ClockPinTick(uint64_t ms) {
    std::lock_guard l(g_mu);
    g_tickPinned = true;
    g_pinnedTick = ms;
}

void ClockUnpin() {
    std::lock_guard l(g_mu);
    g_timePinned = g_tickPinned = false;
}

void hiresSleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
