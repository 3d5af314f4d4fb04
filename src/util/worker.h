// The one way this program runs a thread of its own: a body that watches a
// stop flag, and a stop that sets the flag and joins within a time limit.
// Nothing kills a thread; a body that does not end in time is left to end on
// its own (detached) and the caller is told.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();

    // Starts body(stop). False when a thread is still running or cannot be created.
    bool Start(std::function<void(const std::atomic<bool>& stop)> body);
    // Sets the stop flag; the body ends at its next check.
    void RequestStop();
    // Sets the stop flag and waits up to ms for the body to end. True when it
    // ended and was joined.
    bool Stop(int ms);
    bool Running() const;
    bool IsThisThread() const;
    const std::atomic<bool>& StopFlag() const { return *stop_; }

private:
    std::thread thread_;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> done_ = std::make_shared<std::atomic<bool>>(true);
};

// Joins a thread that sets done as its last act, waiting at most ms. A thread
// still busy then (for example waiting for the user to answer its message box
// while the caller is the user-interface thread) is detached and ends on its
// own. True when it was joined.
bool JoinThreadWithin(std::thread& t, const std::atomic<bool>& done, int ms);
