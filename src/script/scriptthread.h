// The script thread: every script, and every command line that another
// thread hands over (catch scripts, timers, buttons, remote requests), runs
// here, one job at a time and in the order given. Other threads never run a
// script themselves: they post it and go on.
#pragma once

#include <functional>

// Queues a job; never blocks. The thread starts at the first job.
void ScriptThreadPost(std::function<void()> job);
// Queues a job and waits up to timeoutMs for it to finish (0: no limit).
// False on time-out or when the thread is stopping; the job may still run.
bool ScriptThreadCall(std::function<void()> job, int timeoutMs);
// True on the script thread itself.
bool OnScriptThread();
// True while a job waits, or runs on behalf of another thread (a job does
// not count itself).
bool ScriptThreadPending();
// Drops the jobs that have not started (Halt).
void ScriptThreadDropQueued();
// Ends the thread after its current job: queued jobs are dropped. Waits at
// most waitMs; true when the thread ended.
bool ScriptThreadStop(int waitMs);
// A job that does not return (a stuck command after Halt's grace time) is
// left behind: its thread ends when the job returns, and queued and later
// jobs get a new script thread.
void ScriptThreadAbandon();
