#include "script/scriptthread.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "log/srvrtrace.h"
#include "util/worker.h"

namespace {

struct Queue {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<std::function<void()>> jobs;
    bool running = false;   // the current thread runs a job
    bool stopping = false;
    uint64_t generation = 0;   // a new thread after an abandoned one
    std::unique_ptr<WorkerThread> worker = std::make_unique<WorkerThread>();
};

// Never destroyed: a job may still be finishing when the program exits.
Queue& Q() {
    static Queue* q = new Queue;
    return *q;
}

thread_local bool t_scriptThread = false;

void Body(uint64_t generation, const std::atomic<bool>& stop) {
    t_scriptThread = true;
    Queue& q = Q();
    std::unique_lock l(q.mu);
    auto mine = [&] { return !stop.load() && !q.stopping && q.generation == generation; };
    while (true) {
        q.cv.wait(l, [&] { return !mine() || !q.jobs.empty(); });
        if (!mine()) return;
        auto job = std::move(q.jobs.front());
        q.jobs.pop_front();
        q.running = true;
        l.unlock();
        job();
        job = nullptr;   // a waiter's guard goes now, not at the next job
        l.lock();
        if (q.generation != generation) return;   // abandoned while inside the job
        q.running = false;
        q.cv.notify_all();
    }
}

// Starts a thread for the queue when none runs. q.mu held.
void EnsureThreadLocked(Queue& q) {
    if (q.worker->Running()) return;
    const uint64_t generation = q.generation;
    if (!q.worker->Start([generation](const std::atomic<bool>& stop) { Body(generation, stop); }))
        TracePrintf(TRC_ALWAYS, "Script thread create failed");
}

}  // namespace

void ScriptThreadPost(std::function<void()> job) {
    Queue& q = Q();
    std::lock_guard l(q.mu);
    if (q.stopping) return;
    q.jobs.push_back(std::move(job));
    EnsureThreadLocked(q);
    q.cv.notify_all();
}

bool ScriptThreadCall(std::function<void()> job, int timeoutMs) {
    if (OnScriptThread()) {
        job();
        return true;
    }
    struct Done {
        std::mutex mu;
        std::condition_variable cv;
        bool ran = false, gone = false;
    };
    auto d = std::make_shared<Done>();
    // The guard goes when the job has run or was dropped at a stop, so a
    // waiter never waits for a job that will not come.
    std::shared_ptr<void> guard(nullptr, [d](void*) {
        std::lock_guard l(d->mu);
        d->gone = true;
        d->cv.notify_all();
    });
    ScriptThreadPost([d, guard, job = std::move(job)] {
        job();
        std::lock_guard l(d->mu);
        d->ran = true;
    });
    guard.reset();
    std::unique_lock l(d->mu);
    auto finished = [&] { return d->gone; };
    if (timeoutMs <= 0) d->cv.wait(l, finished);
    else d->cv.wait_for(l, std::chrono::milliseconds(timeoutMs), finished);
    return d->ran;
}

bool OnScriptThread() { return t_scriptThread; }

bool ScriptThreadPending() {
    const bool self = OnScriptThread();
    Queue& q = Q();
    std::lock_guard l(q.mu);
    return !q.jobs.empty() || (q.running && !self);
}

void ScriptThreadDropQueued() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard l(Q().mu);
        dropped.swap(Q().jobs);
    }
    // Destroyed outside the lock: a waiter's guard notifies as it goes.
}

bool ScriptThreadStop(int waitMs) {
    Queue& q = Q();
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard l(q.mu);
        q.stopping = true;
        dropped.swap(q.jobs);
        q.cv.notify_all();
    }
    dropped.clear();
    bool ended = q.worker->Stop(waitMs);
    std::lock_guard l(q.mu);
    q.stopping = false;   // a later start-up (tests) may post again
    q.running = false;
    if (!ended) {
        ++q.generation;
        q.worker = std::make_unique<WorkerThread>();
    }
    return ended;
}

void ScriptThreadAbandon() {
    Queue& q = Q();
    std::lock_guard l(q.mu);
    ++q.generation;
    q.running = false;
    q.worker->RequestStop();
    q.worker = std::make_unique<WorkerThread>();   // the old one is let go; it ends when its job returns
    if (!q.jobs.empty()) EnsureThreadLocked(q);
    q.cv.notify_all();
}
