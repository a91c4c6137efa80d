// Worker threads: created suspended, started by Start(), asked to stop by
// Terminate(), handing calls over to the main thread with Synchronize().
//
// A thread that frees itself (FreeOnTerminate) may vanish at any moment once
// started, so its owner must not keep talking to the object. It takes the
// thread's Handle() before Start() instead: a shared record that outlives the
// object, through which it can still ask the thread to terminate, wait for its
// end with a time limit, and read the exception that ended it. A reader
// manager that stops its watcher therefore does, on the main thread:
//     handle->Terminate();
//     dispatcher.Cancel(owner);   // a hand-over in progress returns at once,
//                                 // and the body then sees Terminated()
//     handle->WaitFor(1000ms);    // true once the object is gone
// After Cancel no call of that owner runs any more, even from a thread that
// outlives the wait.
//
// Lifetime of the object:
//   - never started: the owner deletes it (Handle()->Ended() turns true then);
//   - started, FreeOnTerminate: the thread deletes it after the body has
//     returned or thrown, or at once if Terminate() came before the body
//     started (Execute is then never called); the handle's end is signalled
//     after the delete, so a waiter may free what the destructor still uses;
//   - started, not FreeOnTerminate: the owner calls WaitFor(), then deletes it.
// A derived class's destructor therefore always runs, on the ending thread or
// on the owner's; ExecuteCalled() tells it whether Execute ran (for example,
// to release what Execute would have released).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "pcsc/MainThread.h"

namespace pcsc {

// The part of a thread its owner may keep: shared, any thread.
class ThreadHandle {
public:
    ThreadHandle(const ThreadHandle&) = delete;
    ThreadHandle& operator=(const ThreadHandle&) = delete;

    // Asks the thread to stop; its body sees Terminated() and returns.
    void Terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

    // True once the thread has ended (and a self-freeing object is deleted),
    // or the object was deleted without ever running.
    bool Ended() const;
    // Waits for the end at most `timeout`; true if it has ended.
    bool WaitFor(std::chrono::milliseconds timeout) const;
    void Wait() const;
    // The exception that escaped Execute, once Ended(); null otherwise.
    std::exception_ptr FatalException() const;

private:
    friend class TThread;
    ThreadHandle() = default;
    bool Pause(std::chrono::milliseconds duration);
    void Finish(std::exception_ptr fatal);

    std::atomic<bool> terminated_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool ended_ = false;
    std::exception_ptr fatal_;
};

class TThread {
public:
    using HandOver = MainThreadDispatcher::HandOver;
    using OwnerId = MainThreadDispatcher::OwnerId;

    // Always created suspended: the body cannot start before the derived
    // object is complete, so it starts only with Start().
    TThread();
    // Deletes a thread never started or already ended. As a last resort it
    // terminates and joins a running one, but by then the derived part is
    // gone: stop it first (Terminate, WaitFor).
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the body on a new thread. Once only (std::logic_error after);
    // std::system_error if no thread can be made (the object stays unstarted).
    // With FreeOnTerminate the object may be gone as soon as this returns.
    void Start();

    // Sets the terminate request, read by the body through Terminated().
    void Terminate() { handle_->Terminate(); }
    bool Terminated() const { return handle_->Terminated(); }

    // Whether the thread deletes its object when it ends (default false).
    // Set before Start (std::logic_error after).
    bool FreeOnTerminate() const { return freeOnTerminate_; }
    void SetFreeOnTerminate(bool value);

    // The owner whose hand-overs Synchronize makes: by default a fresh id of
    // this thread's own; a manager sets its id so that its Cancel releases
    // this thread. Set before Start (std::logic_error after).
    OwnerId HandOverOwner() const { return owner_; }
    void SetHandOverOwner(OwnerId owner);

    // See ThreadHandle; take it before Start for a self-freeing thread.
    std::shared_ptr<ThreadHandle> Handle() const { return handle_; }

    // Waits for the end of a started, not self-freeing thread; returns at
    // once if never started. std::logic_error for a started self-freeing
    // thread (wait on its Handle()) and from the thread itself.
    void WaitFor();
    // The exception that ended Execute, once ended; null otherwise.
    std::exception_ptr FatalException() const { return handle_->FatalException(); }

protected:
    // The thread body. An exception it lets out ends the thread and is kept
    // as its fatal exception.
    virtual void Execute() = 0;

    // Runs `call` on the main thread (the installed dispatcher, see
    // MainThread.h) and waits until it has run; an exception the call raised
    // is re-raised here. Cancelled, without running it, when this thread's
    // owner is cancelled, the dispatcher is shut down or none is installed.
    HandOver Synchronize(std::function<void()> call);

    // Sleeps `duration`, cut short by Terminate(); returns !Terminated().
    bool Pause(std::chrono::milliseconds duration) { return handle_->Pause(duration); }

    // Whether the framework has called Execute (it is not when the thread is
    // never started or is terminated before its body starts).
    bool ExecuteCalled() const { return executeCalled_.load(std::memory_order_acquire); }

private:
    void Run() noexcept;

    const std::shared_ptr<ThreadHandle> handle_;
    std::thread thread_;  // joinable only when started and not self-freeing
    OwnerId owner_;
    bool freeOnTerminate_ = false;
    bool started_ = false;
    std::atomic<bool> executeCalled_{false};
};

}  // namespace pcsc
