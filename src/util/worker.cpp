#include "util/worker.h"

#include <chrono>
#include <system_error>

bool JoinThreadWithin(std::thread& t, const std::atomic<bool>& done, int ms) {
    if (!t.joinable()) return true;
    if (t.get_id() == std::this_thread::get_id()) {
        t.detach();
        return false;
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (done.load()) {
        t.join();
        return true;
    }
    t.detach();
    return false;
}

WorkerThread::~WorkerThread() { Stop(0); }

bool WorkerThread::Start(std::function<void(const std::atomic<bool>& stop)> body) {
    if (Running()) return false;
    if (thread_.joinable()) thread_.join();
    // Fresh flags: a body left running by an earlier Stop still holds the old ones.
    stop_ = std::make_shared<std::atomic<bool>>(false);
    done_ = std::make_shared<std::atomic<bool>>(false);
    try {
        thread_ = std::thread([body = std::move(body), stop = stop_, done = done_] {
            body(*stop);
            done->store(true);
        });
    } catch (const std::system_error&) {
        done_->store(true);
        return false;
    }
    return true;
}

void WorkerThread::RequestStop() { stop_->store(true); }

bool WorkerThread::Stop(int ms) {
    RequestStop();
    return JoinThreadWithin(thread_, *done_, ms);
}

bool WorkerThread::Running() const { return !done_->load(); }

bool WorkerThread::IsThisThread() const { return thread_.get_id() == std::this_thread::get_id(); }
