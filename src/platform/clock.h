// Wall-clock and tick sources. Tests pin them so stamps, day changes and
// timeouts are reproducible.
#pragma once

#include <cstdint>

struct LocalTime {
    int year, month, day;            // 2026, 1-12, 1-31
    int hour, minute, second, millis;
    int isDst;
    int weekday;                     // 0 = Sunday
    int yearday;                     // 0-365
};

// The local time now (or the pinned time).
LocalTime ClockNow();
// Milliseconds from an arbitrary start, never going back (or the pinned tick).
uint64_t ClockTickMs();

// Tests: pin the wall clock / tick, move them, and release them.
void ClockPin(const LocalTime& t);
void ClockAdvanceMs(uint64_t ms);    // moves both pinned sources
void ClockPinTick(uint64_t ms);
void ClockUnpin();

// Sleep with millisecond precision (not a 10 ms tick).
void hiresSleep(unsigned ms);

// struct tm view of a LocalTime, for strftime.
struct tm;
void LocalTimeToTm(const LocalTime& t, struct tm* out);
