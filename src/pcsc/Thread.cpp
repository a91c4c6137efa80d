#include "pcsc/Thread.h"

#include <stdexcept>
#include <utility>

namespace pcsc {

// ---- ThreadHandle ------------------------------------------------------------

void ThreadHandle::Terminate() {
    std::lock_guard lock(mutex_);
    terminated_.store(true, std::memory_order_release);
    changed_.notify_all();
}

bool ThreadHandle::Ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

bool ThreadHandle::WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return ended_; });
}

void ThreadHandle::Wait() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ended_; });
}

std::exception_ptr ThreadHandle::FatalException() const {
    std::lock_guard lock(mutex_);
    return fatal_;
}

bool ThreadHandle::Pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, duration, [this] { return Terminated(); });
    return !Terminated();
}

void ThreadHandle::Finish(std::exception_ptr fatal) {
    std::lock_guard lock(mutex_);
    fatal_ = std::move(fatal);
    ended_ = true;
    changed_.notify_all();
}

// ---- TThread -----------------------------------------------------------------

TThread::TThread()
    : handle_(std::shared_ptr<ThreadHandle>(new ThreadHandle)),
      owner_(MainThreadDispatcher::NewOwner()) {}

TThread::~TThread() {
    if (!started_) {
        // Nothing will run any more: whoever waits for this thread may go on.
        handle_->Finish(nullptr);
        return;
    }
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // deleted from its own body; the caller's fault
        } else {
            handle_->Terminate();
            thread_.join();
        }
    }
}

void TThread::SetFreeOnTerminate(bool value) {
    if (started_) {
        throw std::logic_error("TThread::SetFreeOnTerminate after Start");
    }
    freeOnTerminate_ = value;
}

void TThread::SetHandOverOwner(OwnerId owner) {
    if (started_) {
        throw std::logic_error("TThread::SetHandOverOwner after Start");
    }
    owner_ = owner;
}

void TThread::Start() {
    if (started_) {
        throw std::logic_error("TThread::Start called twice");
    }
    const bool freeSelf = freeOnTerminate_;
    started_ = true;
    std::thread thread;
    try {
        thread = std::thread(&TThread::Run, this);
    } catch (...) {
        started_ = false;
        throw;
    }
    // A self-freeing object may already be deleted here: touch no member.
    if (freeSelf) {
        thread.detach();
    } else {
        thread_ = std::move(thread);
    }
}

void TThread::WaitFor() {
    if (!started_) {
        return;
    }
    if (freeOnTerminate_) {
        throw std::logic_error("TThread::WaitFor on a self-freeing thread; wait on its Handle()");
    }
    if (thread_.get_id() == std::this_thread::get_id()) {
        throw std::logic_error("TThread::WaitFor from the thread itself");
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

MainThreadDispatcher::HandOver TThread::Synchronize(std::function<void()> call) {
    return SynchronizeWithMainThread(owner_, std::move(call));
}

void TThread::Run() noexcept {
    // Ours, since the object may be deleted below.
    const std::shared_ptr<ThreadHandle> handle = handle_;
    std::exception_ptr fatal;
    if (!handle->Terminated()) {
        executeCalled_.store(true, std::memory_order_release);
        try {
            Execute();
        } catch (...) {
            fatal = std::current_exception();
        }
    }
    if (freeOnTerminate_) {
        delete this;
    }
    handle->Finish(std::move(fatal));
}

}  // namespace pcsc
