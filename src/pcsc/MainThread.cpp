#include "pcsc/MainThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>

namespace pcsc {

namespace {

using HandOver = MainThreadDispatcher::HandOver;
using OwnerId = MainThreadDispatcher::OwnerId;

// One hand-over. It lives on the stack of the worker that waits for it; the
// main thread touches it only while the worker is still waiting (under the
// dispatcher's lock, or while it is Running and out of every queue).
struct Request {
    enum class State { Queued, Running, Ran, Cancelled };

    Request(OwnerId o, std::function<void()> c) : owner(o), call(std::move(c)) {}

    OwnerId owner;
    std::function<void()> call;
    State state = State::Queued;
    std::exception_ptr error;
    std::condition_variable finished;
};

}  // namespace

struct MainThreadDispatcher::Core {
    explicit Core(MainThreadDispatcher* target) : wakeTarget(target) {}

    HandOver Synchronize(OwnerId owner, std::function<void()> call);
    // Called with `mutex` held.
    void Finish(Request& request, Request::State state) {
        request.state = state;
        request.finished.notify_one();
    }
    bool Refused(OwnerId owner) const { return shutDown || cancelled.count(owner) != 0; }

    const std::thread::id mainThread = std::this_thread::get_id();

    std::mutex mutex;
    MainThreadDispatcher* wakeTarget;  // null once shut down
    bool shutDown = false;
    std::deque<Request*> queue;
    // One entry per cancelled owner; ids are never reused, so this only grows
    // by one per destroyed owner.
    std::unordered_set<OwnerId> cancelled;
    std::function<void()> idleHook;
};

HandOver MainThreadDispatcher::Core::Synchronize(OwnerId owner, std::function<void()> call) {
    if (!call) {
        throw std::invalid_argument("Synchronize: empty call");
    }
    std::unique_lock lock(mutex);
    if (Refused(owner)) {
        return HandOver::Cancelled;
    }
    if (std::this_thread::get_id() == mainThread) {
        // Queuing it would wait for ourselves.
        lock.unlock();
        call();
        return HandOver::Ran;
    }

    Request request(owner, std::move(call));
    queue.push_back(&request);
    try {
        wakeTarget->Wake();
    } catch (...) {
        queue.pop_back();
        throw;
    }
    request.finished.wait(lock, [&] {
        return request.state == Request::State::Ran || request.state == Request::State::Cancelled;
    });
    if (request.state == Request::State::Cancelled) {
        return HandOver::Cancelled;
    }
    if (request.error) {
        std::rethrow_exception(request.error);
    }
    return HandOver::Ran;
}

namespace {

struct Installed {
    std::mutex mutex;
    MainThreadDispatcher* dispatcher = nullptr;
    std::shared_ptr<MainThreadDispatcher::Core> core;
};

// Never destroyed: workers may still look it up while statics are torn down.
Installed& TheInstalled() {
    static Installed* installed = new Installed;
    return *installed;
}

void RequireMainThread(const MainThreadDispatcher& dispatcher, const char* what) {
    if (!dispatcher.IsMainThread()) {
        throw std::logic_error(std::string(what) + " called outside the main thread");
    }
}

}  // namespace

MainThreadDispatcher::OwnerId MainThreadDispatcher::NewOwner() {
    static std::atomic<OwnerId> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

MainThreadDispatcher::MainThreadDispatcher() : core_(std::make_shared<Core>(this)) {}

MainThreadDispatcher::~MainThreadDispatcher() {
    Shutdown();
    Installed& installed = TheInstalled();
    std::lock_guard lock(installed.mutex);
    if (installed.dispatcher == this) {
        installed.dispatcher = nullptr;
        installed.core.reset();
    }
}

MainThreadDispatcher::HandOver MainThreadDispatcher::Synchronize(OwnerId owner,
                                                                 std::function<void()> call) {
    // A copy, so that a caller released by our destruction still has the lock.
    std::shared_ptr<Core> core = core_;
    return core->Synchronize(owner, std::move(call));
}

std::size_t MainThreadDispatcher::RunPending() {
    RequireMainThread(*this, "RunPending");
    Core& core = *core_;
    std::unique_lock lock(core.mutex);
    std::size_t due = core.queue.size();
    std::size_t ran = 0;
    while (due-- > 0 && !core.queue.empty()) {
        Request* request = core.queue.front();
        core.queue.pop_front();
        request->state = Request::State::Running;
        std::function<void()> call = std::move(request->call);
        lock.unlock();
        std::exception_ptr error;
        try {
            call();
        } catch (...) {
            error = std::current_exception();
        }
        // Its captures go while the worker still waits for it.
        call = nullptr;
        lock.lock();
        request->error = std::move(error);
        core.Finish(*request, Request::State::Ran);
        ++ran;
    }
    return ran;
}

void MainThreadDispatcher::SetIdleHook(std::function<void()> hook) {
    std::lock_guard lock(core_->mutex);
    core_->idleHook = std::move(hook);
}

void MainThreadDispatcher::RunIdle() {
    RequireMainThread(*this, "RunIdle");
    std::function<void()> hook;
    {
        std::lock_guard lock(core_->mutex);
        hook = core_->idleHook;
    }
    if (hook) {
        hook();
    }
}

void MainThreadDispatcher::Cancel(OwnerId owner) {
    Core& core = *core_;
    std::lock_guard lock(core.mutex);
    core.cancelled.insert(owner);
    for (auto it = core.queue.begin(); it != core.queue.end();) {
        if ((*it)->owner == owner) {
            core.Finish(**it, Request::State::Cancelled);
            it = core.queue.erase(it);
        } else {
            ++it;
        }
    }
}

void MainThreadDispatcher::Shutdown() {
    Core& core = *core_;
    std::lock_guard lock(core.mutex);
    core.shutDown = true;
    core.wakeTarget = nullptr;
    for (Request* request : core.queue) {
        core.Finish(*request, Request::State::Cancelled);
    }
    core.queue.clear();
}

bool MainThreadDispatcher::IsShutDown() const {
    std::lock_guard lock(core_->mutex);
    return core_->shutDown;
}

bool MainThreadDispatcher::IsMainThread() const {
    return std::this_thread::get_id() == core_->mainThread;
}

void SetMainThread(MainThreadDispatcher* dispatcher) {
    Installed& installed = TheInstalled();
    std::lock_guard lock(installed.mutex);
    installed.dispatcher = dispatcher;
    installed.core = dispatcher != nullptr ? dispatcher->core_ : nullptr;
}

MainThreadDispatcher* MainThread() {
    Installed& installed = TheInstalled();
    std::lock_guard lock(installed.mutex);
    return installed.dispatcher;
}

MainThreadDispatcher::HandOver SynchronizeWithMainThread(MainThreadDispatcher::OwnerId owner,
                                                         std::function<void()> call) {
    std::shared_ptr<MainThreadDispatcher::Core> core;
    {
        Installed& installed = TheInstalled();
        std::lock_guard lock(installed.mutex);
        core = installed.core;
    }
    if (!core) {
        if (!call) {
            throw std::invalid_argument("Synchronize: empty call");
        }
        return MainThreadDispatcher::HandOver::Cancelled;
    }
    return core->Synchronize(owner, std::move(call));
}

// ---- PlainMainLoop -----------------------------------------------------------

PlainMainLoop::~PlainMainLoop() {
    // Before our members go: no Wake() may reach them afterwards.
    Shutdown();
}

void PlainMainLoop::Wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    // Signalled after unlocking: a main thread woken while we still held the
    // lock would block on it at once and need a second wake-up, two more
    // context switches on every hand-over. We are still alive here: the
    // dispatcher calls Wake() under its own lock, and our destructor's
    // Shutdown() waits for that lock.
    wake_.notify_one();
}

void PlainMainLoop::Quit(int code) {
    std::lock_guard lock(mutex_);
    quit_ = true;
    quitCode_ = code;
    wake_.notify_one();
}

int PlainMainLoop::TakeQuitCode() {
    std::lock_guard lock(mutex_);
    quit_ = false;
    return quitCode_;
}

PlainMainLoop::PassEnd PlainMainLoop::Pass(const std::function<bool()>* done,
                                           std::chrono::steady_clock::time_point deadline) {
    {
        // A wake-up from now on calls for another pass.
        std::lock_guard lock(mutex_);
        woken_ = false;
        if (quit_) {
            return PassEnd::Quit;
        }
    }
    RunPending();
    if (done != nullptr && (*done)()) {
        return PassEnd::Done;
    }
    {
        std::lock_guard lock(mutex_);
        if (quit_) {
            return PassEnd::Quit;
        }
        if (woken_) {
            return PassEnd::Continue;  // not dry yet
        }
    }
    RunIdle();
    if (done != nullptr && (*done)()) {
        return PassEnd::Done;
    }
    std::unique_lock lock(mutex_);
    const auto woken = [this] { return woken_ || quit_; };
    if (deadline == std::chrono::steady_clock::time_point::max()) {
        wake_.wait(lock, woken);
    } else if (!wake_.wait_until(lock, deadline, woken)) {
        return PassEnd::TimedOut;
    }
    return quit_ ? PassEnd::Quit : PassEnd::Continue;
}

int PlainMainLoop::Run() {
    RequireMainThread(*this, "Run");
    while (Pass(nullptr, std::chrono::steady_clock::time_point::max()) != PassEnd::Quit) {
    }
    return TakeQuitCode();
}

bool PlainMainLoop::RunUntil(const std::function<bool()>& done,
                             std::chrono::steady_clock::time_point deadline) {
    RequireMainThread(*this, "RunUntil");
    for (;;) {
        switch (Pass(&done, deadline)) {
            case PassEnd::Done: return true;
            case PassEnd::Quit:
            case PassEnd::TimedOut: return done();
            case PassEnd::Continue:
                if (std::chrono::steady_clock::now() >= deadline) {
                    return done();
                }
                break;
        }
    }
}

}  // namespace pcsc
