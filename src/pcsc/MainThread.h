// The main thread's side of the hand-overs. A worker thread that must touch
// main-thread data hands a call over and blocks until the main thread's event
// loop has run it; an exception the call raises comes back to the worker.
//
// A host's event loop services one MainThreadDispatcher:
//   - the dispatcher calls Wake() (under its own lock: Wake must only post or
//     signal, never block nor call back into the dispatcher) whenever a
//     hand-over is queued;
//   - the loop then calls RunPending() on the main thread, and RunIdle() each
//     time it has handled everything and is about to wait.
// PlainMainLoop below is such a loop, for the terminal front end and the
// tests; a toolkit loop only supplies Wake() and those two calls.
//
// The process-wide main thread: the host creates its dispatcher on the main
// thread and installs it with SetMainThread(&loop) before any worker starts;
// TThread::Synchronize hands over to the installed one. A dispatcher
// uninstalls itself when destroyed. With none installed (or after Shutdown)
// a hand-over is not run and its caller is told HandOver::Cancelled.
//
// Owners: every hand-over carries the id of the object it calls into (a
// reader manager). Cancel(owner) drops that owner's queued hand-overs and
// refuses its future ones, so an owner being destroyed releases its blocked
// worker at once while the loop goes on serving the others. Ids come from
// NewOwner() and are never reused, unlike object addresses.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace pcsc {

class MainThreadDispatcher {
public:
    enum class HandOver {
        Ran,        // the call ran on the main thread (and returned or threw)
        Cancelled,  // the call was not run: owner cancelled or dispatcher shut down
    };
    using OwnerId = std::uint64_t;

    // A fresh owner id, unique for the life of the process (never 0).
    static OwnerId NewOwner();

    // The constructing thread becomes this dispatcher's main thread.
    MainThreadDispatcher();
    // Shuts down and uninstalls itself if installed. A derived class must call
    // Shutdown() first thing in its own destructor, so that Wake() is never
    // called on a half-destroyed object.
    virtual ~MainThreadDispatcher();
    MainThreadDispatcher(const MainThreadDispatcher&) = delete;
    MainThreadDispatcher& operator=(const MainThreadDispatcher&) = delete;

    // Runs `call` on the main thread and returns once it has run; an exception
    // it raised is re-raised here. From the main thread itself the call runs
    // at once, inline. Returns Cancelled at once, without running the call,
    // when `owner` is cancelled or the dispatcher is shut down, and releases a
    // caller already waiting when that happens. Any thread.
    // Throws std::invalid_argument for an empty call.
    HandOver Synchronize(OwnerId owner, std::function<void()> call);

    // Runs the hand-overs queued when it was called, oldest first, and returns
    // how many ran. Those queued meanwhile wait for the next call (their Wake()
    // has been sent), so a busy worker cannot keep the loop here.
    // Main thread only (std::logic_error otherwise).
    std::size_t RunPending();

    // The hook RunIdle() calls (an empty function removes it). Any thread.
    void SetIdleHook(std::function<void()> hook);
    // Calls the idle hook, if any; its exception goes to the caller.
    // Main thread only (std::logic_error otherwise).
    void RunIdle();

    // Drops the queued hand-overs of `owner` (their callers return Cancelled)
    // and refuses its future ones. A hand-over of that owner already running
    // completes. Any thread.
    void Cancel(OwnerId owner);
    // Drops every queued hand-over and refuses all future ones; Wake() is not
    // called any more. The idle hook is left alone. Idempotent; any thread.
    void Shutdown();
    bool IsShutDown() const;

    bool IsMainThread() const;

    struct Core;  // shared with the workers; outlives the dispatcher if need be

protected:
    // Makes the event loop call RunPending() soon. Called with the
    // dispatcher's lock held, from any thread, never after Shutdown().
    virtual void Wake() = 0;

private:
    friend void SetMainThread(MainThreadDispatcher* dispatcher);
    std::shared_ptr<Core> core_;
};

// Installs the process-wide main thread (nullptr uninstalls). The dispatcher
// must stay alive while installed (its destructor uninstalls it).
void SetMainThread(MainThreadDispatcher* dispatcher);
// The installed dispatcher, or nullptr.
MainThreadDispatcher* MainThread();

// Synchronize on the installed dispatcher; Cancelled when none is installed.
// Safe against the dispatcher being destroyed meanwhile: a caller blocked in
// it, or arriving afterwards, is told Cancelled.
MainThreadDispatcher::HandOver SynchronizeWithMainThread(MainThreadDispatcher::OwnerId owner,
                                                         std::function<void()> call);

// A plain event loop: a queue of hand-overs and a condition variable.
class PlainMainLoop : public MainThreadDispatcher {
public:
    PlainMainLoop() = default;
    ~PlainMainLoop() override;

    // Serves hand-overs and the idle hook until Quit(); returns Quit's code.
    // Each pass runs the pending hand-overs, then, if nothing new has arrived,
    // calls the idle hook once and waits for a wake-up. An idle hook's
    // exception leaves the loop (it can be run again). Main thread only.
    int Run();
    // Like Run, but also returns as soon as `done()` is true or `deadline`
    // has passed; returns done()'s last value. done() is checked on the main
    // thread after the hand-overs and after the idle hook of every pass, so
    // it should turn true through one of them: a change made elsewhere is
    // seen at the next wake-up. Quit() ends it too, and stays pending so that
    // an enclosing Run() ends as well. Main thread only.
    bool RunUntil(const std::function<bool()>& done,
                  std::chrono::steady_clock::time_point deadline);
    // Ends Run/RunUntil after the current pass. Any thread.
    void Quit(int code = 0);

protected:
    void Wake() override;

private:
    enum class PassEnd { Continue, Done, Quit, TimedOut };
    // One pass; `done` may be null, `deadline` may be time_point::max().
    PassEnd Pass(const std::function<bool()>* done, std::chrono::steady_clock::time_point deadline);
    int TakeQuitCode();

    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    bool quit_ = false;
    int quitCode_ = 0;
};

}  // namespace pcsc
