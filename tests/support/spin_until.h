#pragma once
// The bounded wait of the tests: runs the calling thread's events (queued
// calls, socket and timer notifications of objects living in that thread)
// until a condition holds or the bound passes. Never a fixed sleep: a loaded
// CI machine only makes the wait longer, up to the bound.

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <functional>
#include <thread>

namespace test_support {

inline bool SpinUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        // processEvents returns at once when nothing is pending: yield, so that
        // the threads the condition waits for get the core (sanitizer builds
        // on two cores).
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace test_support
