// A request to stop, made from any thread (the watchdog, on SIGINT/SIGTERM)
// and seen by the main thread: it is set once, and it ends the main loop's
// current and later runs at once.
#pragma once

#include <atomic>
#include <mutex>

#include "pcsc/MainThread.h"

namespace cli {

class StopRequest {
public:
    // Any thread. The first request's signal number is kept (0: none given).
    void Request(int signal);
    bool Requested() const { return requested_.load(std::memory_order_acquire); }
    int Signal() const { return signal_.load(std::memory_order_acquire); }

    // The main loop a request must end; Attach while it lives, Detach before
    // it goes. A request made before Attach ends the loop as it is attached.
    void Attach(pcsc::PlainMainLoop& loop);
    void Detach();

private:
    std::atomic<bool> requested_{false};
    std::atomic<int> signal_{0};
    std::mutex mutex_;
    pcsc::PlainMainLoop* loop_ = nullptr;
};

// Attach for the life of a scope.
class StopAttachment {
public:
    StopAttachment(StopRequest& stop, pcsc::PlainMainLoop& loop) : stop_(stop) {
        stop_.Attach(loop);
    }
    ~StopAttachment() { stop_.Detach(); }
    StopAttachment(const StopAttachment&) = delete;
    StopAttachment& operator=(const StopAttachment&) = delete;

private:
    StopRequest& stop_;
};

}  // namespace cli
