#include "cli/StopRequest.h"

namespace cli {

void StopRequest::Request(int signal) {
    std::lock_guard lock(mutex_);
    if (!requested_.load(std::memory_order_relaxed)) {
        signal_.store(signal, std::memory_order_release);
        requested_.store(true, std::memory_order_release);
    }
    if (loop_) loop_->Quit();
}

void StopRequest::Attach(pcsc::PlainMainLoop& loop) {
    std::lock_guard lock(mutex_);
    loop_ = &loop;
    if (requested_.load(std::memory_order_relaxed)) loop.Quit();
}

void StopRequest::Detach() {
    std::lock_guard lock(mutex_);
    loop_ = nullptr;
}

}  // namespace cli
