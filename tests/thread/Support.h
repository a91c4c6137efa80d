// Helpers shared by the thread tests: a host loop driven by hand, and a
// bounded wait for workers so that a deadlock fails a test instead of hanging
// the suite.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <future>
#include <mutex>
#include <ostream>
#include <thread>

#include "pcsc/MainThread.h"

namespace pcsc {
// Readable failure messages.
inline void PrintTo(MainThreadDispatcher::HandOver result, std::ostream* os) {
    *os << (result == MainThreadDispatcher::HandOver::Ran ? "Ran" : "Cancelled");
}
}  // namespace pcsc

namespace pcsc_test {

// Generous: only there to turn a deadlock into a failure.
inline constexpr std::chrono::seconds kGuard{30};

inline std::chrono::steady_clock::time_point GuardDeadline() {
    return std::chrono::steady_clock::now() + kGuard;
}

// A host loop of the simplest kind: Wake() only counts, and the test itself
// calls RunPending(), as a toolkit loop would from its own wake-up handler.
class ManualLoop : public pcsc::MainThreadDispatcher {
public:
    ~ManualLoop() override { Shutdown(); }

    std::size_t Wakes() const {
        std::lock_guard lock(mutex_);
        return wakes_;
    }
    // True once `count` wake-ups have been asked for, i.e. that many
    // hand-overs are queued (or were).
    bool WaitForWakes(std::size_t count) const {
        std::unique_lock lock(mutex_);
        return woken_.wait_for(lock, kGuard, [&] { return wakes_ >= count; });
    }

protected:
    void Wake() override {
        std::lock_guard lock(mutex_);
        ++wakes_;
        woken_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable woken_;
    std::size_t wakes_ = 0;
};

// Waits for a worker; on a deadlock, shuts the dispatcher down to release it
// and reports false.
inline bool Finishes(std::future<void>& worker, pcsc::MainThreadDispatcher& dispatcher) {
    if (worker.wait_for(kGuard) == std::future_status::ready) {
        worker.get();
        return true;
    }
    dispatcher.Shutdown();
    return false;
}

// Shuts `dispatcher` down if the scope is still running after kGuard, so
// that a caller stuck in a hand-over nobody will serve returns (Cancelled)
// and the test fails instead of hanging.
class Watchdog {
public:
    explicit Watchdog(pcsc::MainThreadDispatcher& dispatcher)
        : thread_([this, &dispatcher] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, kGuard, [this] { return finished_; })) {
                  dispatcher.Shutdown();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;  // last: starts once the rest is built
};

}  // namespace pcsc_test
