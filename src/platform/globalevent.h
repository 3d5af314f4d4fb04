// Manual-reset events shared by every Oxel process of the same user, so one
// instance can wake a script waiting in another.
//
// Each event is a small state file in a private per-user directory
// ($XDG_RUNTIME_DIR/oxel-events, else /tmp/oxel-events-<uid>, mode 0700).
// Every process that uses the events holds a shared lock on a "users" file;
// the first user after all others have gone (crashed ones included: the
// kernel drops their locks) resets every event, so a set event never
// outlives the processes that could see it.
#pragma once

#include <atomic>

constexpr int kGlobalEvents = 8;

// 1 done, 0 failed (index out of range, or the directory or file cannot be
// used; errno set).
int GlobalEventSet(int index);
int GlobalEventReset(int index);
// Wakes the processes waiting now and leaves the event reset.
int GlobalEventPulse(int index);
// Waits until the event is set or pulsed: 1 signalled, 0 time-out (ms < 0:
// no limit) or *stop became true, -1 failed.
int GlobalEventWait(int index, int ms, const std::atomic<bool>* stop = nullptr);
// The directory holding the event files (created on first use).
const char* GlobalEventDir();
