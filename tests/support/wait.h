// Waiting in tests on what a user would see, never on a bare sleep.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls pred every 5 ms for up to ms milliseconds; true as soon as it holds.
inline bool WaitFor(const std::function<bool()>& pred, int ms = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
