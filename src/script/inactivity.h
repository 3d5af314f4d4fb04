// Inactivity timeout and keepalive, driven by the one-second frame tick.
// Idle time is measured on ClockTickMs, so a late tick loses nothing.
#pragma once

// At start-up: restarts both counts and applies INACTIVITY_TIMEOUT.
void TimerStart();
// Once a second, from the frame tick (UI thread).
void TimerTick();
// A key typed or bytes received (any thread): the idle count restarts,
// unless the timeout has already expired.
void ActivitySeen();

// 0 or less switches the timeout off; the count restarts.
void SetInactivityTimeout(int seconds);
// Script run after each idle period (null or empty: none). 0, or -1 when the
// name has 2048 characters or more.
int SetInactivityScript(const char* file);
// Keepalive script every seconds while connected (no file: off). 0 or -1.
int SetKeepalive(const char* file, int seconds);
// Switches keepalive off; with ask and a script set, asks first (No keeps it).
void StopKeepalive(bool ask = false);
// Prints the timer settings on the console when either timer is on.
void ShowTimerConfig();
// True once the timeout expired without a script (the backend was closed).
bool InactivityExpired();
