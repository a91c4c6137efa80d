// The thread class: suspended creation, Start, the terminate request, the body's
// hand-overs to the installed main thread, self-freeing objects whose end can
// still be awaited through their handle, and exceptions kept, not fatal.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Support.h"
#include "pcsc/MainThread.h"
#include "pcsc/Thread.h"

namespace {

using pcsc::MainThreadDispatcher;
using pcsc::PlainMainLoop;
using pcsc::TThread;
using pcsc_test::GuardDeadline;
using pcsc_test::kGuard;
using pcsc_test::ManualLoop;
using HandOver = MainThreadDispatcher::HandOver;
using namespace std::chrono_literals;

// What a test thread leaves behind for the test to read, even after the
// object has freed itself. Written by the thread, read by the test once the
// thread's handle reports its end.
struct Trace {
    bool executed = false;
    std::thread::id executedOn;
    bool destroyed = false;
    std::thread::id destroyedOn;
    bool executeCalledSeenByDestructor = true;
    std::vector<HandOver> handOvers;
};

// A thread whose body is given by the test; its destructor records itself the
// way a real thread releases what its body did not.
class ProbeThread : public TThread {
public:
    ProbeThread(std::shared_ptr<Trace> trace, std::function<void(ProbeThread&)> body)
        : trace_(std::move(trace)), body_(std::move(body)) {}
    ~ProbeThread() override {
        trace_->destroyed = true;
        trace_->destroyedOn = std::this_thread::get_id();
        trace_->executeCalledSeenByDestructor = ExecuteCalled();
    }

    // The body's tools, open to the test's lambdas.
    HandOver HandOverCall(std::function<void()> call) {
        const HandOver result = Synchronize(std::move(call));
        trace_->handOvers.push_back(result);
        return result;
    }
    bool PauseFor(std::chrono::milliseconds duration) { return Pause(duration); }

protected:
    void Execute() override {
        trace_->executed = true;
        trace_->executedOn = std::this_thread::get_id();
        if (body_) {
            body_(*this);
        }
    }

private:
    std::shared_ptr<Trace> trace_;
    std::function<void(ProbeThread&)> body_;
};

// Each test installs its own main thread and leaves none behind.
class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override { pcsc::SetMainThread(&loop_); }
    void TearDown() override { pcsc::SetMainThread(nullptr); }

    PlainMainLoop loop_;
};

// ---- Life cycle --------------------------------------------------------------

TEST_F(ThreadTest, CreatedSuspendedStartedByStartStoppedByTerminate) {
    auto trace = std::make_shared<Trace>();
    int cycles = 0;  // main thread only
    auto* thread = new ProbeThread(trace, [&](ProbeThread& self) {
        while (!self.Terminated()) {
            self.HandOverCall([&] { ++cycles; });
            self.PauseFor(1ms);
        }
    });
    auto handle = thread->Handle();
    EXPECT_FALSE(thread->FreeOnTerminate());
    EXPECT_FALSE(thread->Terminated());
    EXPECT_FALSE(handle->Ended());
    EXPECT_EQ(cycles, 0);  // suspended: nothing runs before Start

    thread->Start();
    EXPECT_TRUE(loop_.RunUntil([&] { return cycles > 2; }, GuardDeadline()));
    // Terminate, then cancel the hand-over the body may be blocked in.
    thread->Terminate();
    loop_.Cancel(thread->HandOverOwner());
    const pcsc_test::Watchdog watchdog(loop_);
    EXPECT_TRUE(thread->Terminated());
    EXPECT_TRUE(handle->Terminated());
    thread->WaitFor();
    EXPECT_TRUE(handle->Ended());
    EXPECT_TRUE(trace->executed);
    EXPECT_NE(trace->executedOn, std::this_thread::get_id());
    EXPECT_EQ(thread->FatalException(), nullptr);
    EXPECT_FALSE(trace->destroyed);  // not self-freeing: still ours

    delete thread;
    EXPECT_TRUE(trace->destroyed);
    EXPECT_TRUE(trace->executeCalledSeenByDestructor);
    EXPECT_EQ(trace->destroyedOn, std::this_thread::get_id());
}

TEST_F(ThreadTest, FreeOnTerminateDeletesTheObjectBeforeItsEndIsSignalled) {
    auto trace = std::make_shared<Trace>();
    auto* thread = new ProbeThread(trace, nullptr);
    thread->SetFreeOnTerminate(true);
    auto handle = thread->Handle();  // the only thing kept once started
    thread->Start();
    thread = nullptr;

    ASSERT_TRUE(handle->WaitFor(kGuard));
    // Plain fields written by the ending thread: reading them here is only
    // race-free if the end is signalled after the delete.
    EXPECT_TRUE(trace->executed);
    EXPECT_TRUE(trace->destroyed);
    EXPECT_TRUE(trace->executeCalledSeenByDestructor);
    EXPECT_EQ(trace->destroyedOn, trace->executedOn);  // freed on its own thread
    EXPECT_TRUE(handle->Ended());
    EXPECT_EQ(handle->FatalException(), nullptr);
    // The handle stays usable after the object is gone.
    handle->Terminate();
    EXPECT_TRUE(handle->Terminated());
    EXPECT_TRUE(handle->WaitFor(0ms));
    handle->Wait();
}

TEST_F(ThreadTest, TerminatedBeforeStartTheBodyNeverRuns) {
    // Self-freeing, like a watcher stopped before it got going.
    auto freeing = std::make_shared<Trace>();
    auto* thread = new ProbeThread(freeing, [](ProbeThread&) { FAIL() << "body ran"; });
    thread->SetFreeOnTerminate(true);
    auto handle = thread->Handle();
    thread->Terminate();
    thread->Start();
    ASSERT_TRUE(handle->WaitFor(kGuard));
    EXPECT_FALSE(freeing->executed);
    EXPECT_TRUE(freeing->destroyed);
    EXPECT_FALSE(freeing->executeCalledSeenByDestructor);

    // Owned by the test.
    auto owned = std::make_shared<Trace>();
    auto* second = new ProbeThread(owned, [](ProbeThread&) { FAIL() << "body ran"; });
    second->Terminate();
    second->Start();
    second->WaitFor();
    EXPECT_TRUE(second->Handle()->Ended());
    EXPECT_FALSE(owned->executed);
    delete second;
    EXPECT_TRUE(owned->destroyed);
    EXPECT_FALSE(owned->executeCalledSeenByDestructor);
}

TEST_F(ThreadTest, NeverStartedThreadIsDeletedByItsOwner) {
    for (const bool freeOnTerminate : {false, true}) {
        auto trace = std::make_shared<Trace>();
        auto* thread = new ProbeThread(trace, [](ProbeThread&) { FAIL() << "body ran"; });
        thread->SetFreeOnTerminate(freeOnTerminate);
        auto handle = thread->Handle();
        EXPECT_NO_THROW(thread->WaitFor()) << "free=" << freeOnTerminate;  // nothing to wait for
        delete thread;
        EXPECT_FALSE(trace->executed);
        EXPECT_TRUE(trace->destroyed);
        EXPECT_FALSE(trace->executeCalledSeenByDestructor);
        // Whoever waits for it is released: it will never run.
        EXPECT_TRUE(handle->Ended());
        EXPECT_TRUE(handle->WaitFor(0ms));
        EXPECT_EQ(handle->FatalException(), nullptr);
    }
}

TEST_F(ThreadTest, MisuseIsReportedNotObeyed) {
    auto trace = std::make_shared<Trace>();
    auto* thread = new ProbeThread(trace, [](ProbeThread& self) {
        while (!self.Terminated()) {
            self.PauseFor(1h);
        }
    });
    thread->Start();
    EXPECT_THROW(thread->Start(), std::logic_error);
    EXPECT_THROW(thread->SetFreeOnTerminate(true), std::logic_error);
    EXPECT_THROW(thread->SetHandOverOwner(MainThreadDispatcher::NewOwner()), std::logic_error);
    EXPECT_FALSE(thread->FreeOnTerminate());
    thread->Terminate();  // also cuts the hour-long pause short
    thread->WaitFor();
    delete thread;

    // A started self-freeing thread is waited for through its handle only;
    // this one cannot end before it is told to, so the object is still there.
    auto freeing = std::make_shared<Trace>();
    auto* selfFreeing = new ProbeThread(freeing, [](ProbeThread& self) {
        while (!self.Terminated()) {
            self.PauseFor(1h);
        }
    });
    selfFreeing->SetFreeOnTerminate(true);
    auto handle = selfFreeing->Handle();
    selfFreeing->Start();
    EXPECT_THROW(selfFreeing->WaitFor(), std::logic_error);
    handle->Terminate();
    ASSERT_TRUE(handle->WaitFor(kGuard));
    EXPECT_TRUE(freeing->destroyed);
}

// ---- Exceptions --------------------------------------------------------------

TEST_F(ThreadTest, AnExceptionOutOfExecuteIsKeptAsTheFatalException) {
    auto trace = std::make_shared<Trace>();
    auto* thread =
        new ProbeThread(trace, [](ProbeThread&) { throw std::runtime_error("contexte perdu"); });
    thread->Start();
    thread->WaitFor();
    ASSERT_NE(thread->FatalException(), nullptr);
    EXPECT_EQ(thread->FatalException(), thread->Handle()->FatalException());
    try {
        std::rethrow_exception(thread->FatalException());
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "contexte perdu");
    }
    delete thread;

    // Anything thrown, not only std::exception.
    auto other = std::make_shared<Trace>();
    auto* second = new ProbeThread(other, [](ProbeThread&) { throw 17; });
    second->SetFreeOnTerminate(true);
    auto handle = second->Handle();
    second->Start();
    ASSERT_TRUE(handle->WaitFor(kGuard));
    EXPECT_TRUE(other->destroyed);
    try {
        std::rethrow_exception(handle->FatalException());
        ADD_FAILURE() << "no fatal exception kept";
    } catch (int value) {
        EXPECT_EQ(value, 17);
    }
}

TEST_F(ThreadTest, AHandedOverCallThatThrowsEndsTheBodyAndItsThread) {
    auto trace = std::make_shared<Trace>();
    bool reachedAfterHandOver = false;
    std::thread::id callRanOn;
    auto* thread = new ProbeThread(trace, [&](ProbeThread& self) {
        self.HandOverCall([&] {
            callRanOn = std::this_thread::get_id();
            throw std::runtime_error("rappel en échec");
        });
        reachedAfterHandOver = true;
    });
    thread->SetFreeOnTerminate(true);
    auto handle = thread->Handle();
    thread->Start();

    EXPECT_TRUE(loop_.RunUntil([&] { return callRanOn != std::thread::id(); }, GuardDeadline()));
    ASSERT_TRUE(handle->WaitFor(kGuard));
    EXPECT_EQ(callRanOn, std::this_thread::get_id());
    EXPECT_FALSE(reachedAfterHandOver);
    EXPECT_TRUE(trace->destroyed);
    EXPECT_TRUE(trace->handOvers.empty());  // Synchronize raised instead of returning
    try {
        std::rethrow_exception(handle->FatalException());
        ADD_FAILURE() << "no fatal exception kept";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "rappel en échec");
    }
}

// ---- Hand-overs from a thread ------------------------------------------------

TEST_F(ThreadTest, SynchronizeRunsOnTheInstalledMainThread) {
    auto trace = std::make_shared<Trace>();
    std::vector<std::thread::id> ranOn;  // main thread only
    auto* thread = new ProbeThread(trace, [&](ProbeThread& self) {
        for (int i = 0; i < 3; ++i) {
            self.HandOverCall([&] { ranOn.push_back(std::this_thread::get_id()); });
        }
    });
    thread->SetFreeOnTerminate(true);
    auto handle = thread->Handle();
    thread->Start();
    EXPECT_TRUE(loop_.RunUntil([&] { return ranOn.size() == 3; }, GuardDeadline()));
    ASSERT_TRUE(handle->WaitFor(kGuard));
    ASSERT_EQ(ranOn.size(), 3u);
    for (const auto& id : ranOn) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
    EXPECT_NE(trace->executedOn, std::this_thread::get_id());
    EXPECT_EQ(trace->handOvers, std::vector<HandOver>(3, HandOver::Ran));
}

TEST_F(ThreadTest, WithoutAnInstalledMainThreadAHandOverIsCancelled) {
    pcsc::SetMainThread(nullptr);
    auto trace = std::make_shared<Trace>();
    bool ran = false;
    auto* thread =
        new ProbeThread(trace, [&](ProbeThread& self) { self.HandOverCall([&] { ran = true; }); });
    thread->Start();
    thread->WaitFor();
    EXPECT_FALSE(ran);
    EXPECT_EQ(trace->handOvers, std::vector<HandOver>{HandOver::Cancelled});
    EXPECT_EQ(thread->FatalException(), nullptr);
    delete thread;
}

// How a reader manager stops its watcher: from the main thread, without
// serving the loop while it waits, and without touching the thread object.
TEST_F(ThreadTest, AnOwnerStopsASelfFreeingThreadBlockedInAHandOver) {
    // A loop driven by hand, so that the thread is known to be blocked.
    pcsc::SetMainThread(nullptr);
    ManualLoop manual;
    pcsc::SetMainThread(&manual);
    auto trace = std::make_shared<Trace>();
    const auto owner = MainThreadDispatcher::NewOwner();
    const auto bystander = MainThreadDispatcher::NewOwner();
    int callbacks = 0;  // main thread only
    auto* thread = new ProbeThread(trace, [&](ProbeThread& self) {
        while (!self.Terminated()) {
            self.HandOverCall([&] { ++callbacks; });
            self.PauseFor(1ms);
        }
    });
    thread->SetFreeOnTerminate(true);
    thread->SetHandOverOwner(owner);
    EXPECT_EQ(thread->HandOverOwner(), owner);
    auto handle = thread->Handle();
    thread->Start();
    thread = nullptr;
    for (std::size_t served = 1; served <= 3; ++served) {
        ASSERT_TRUE(manual.WaitForWakes(served));
        EXPECT_EQ(manual.RunPending(), 1u);
    }
    // The fourth hand-over is queued: the thread waits in it, and the main
    // thread does not serve it any more.
    ASSERT_TRUE(manual.WaitForWakes(4));
    EXPECT_FALSE(handle->Ended());
    handle->Terminate();
    manual.Cancel(owner);
    ASSERT_TRUE(handle->WaitFor(kGuard));
    EXPECT_TRUE(trace->destroyed);
    EXPECT_EQ(handle->FatalException(), nullptr);
    EXPECT_EQ(manual.RunPending(), 0u);
    EXPECT_EQ(callbacks, 3);
    EXPECT_EQ(trace->handOvers, (std::vector<HandOver>{HandOver::Ran, HandOver::Ran, HandOver::Ran,
                                                       HandOver::Cancelled}));
    // Other owners are still served.
    HandOver other = HandOver::Cancelled;
    std::thread worker([&] { other = manual.Synchronize(bystander, [&] { ++callbacks; }); });
    ASSERT_TRUE(manual.WaitForWakes(5));
    EXPECT_EQ(manual.RunPending(), 1u);
    worker.join();
    EXPECT_EQ(other, HandOver::Ran);
    EXPECT_EQ(callbacks, 4);
}

TEST_F(ThreadTest, AManualLoopServesThreadsAsWell) {
    // A toolkit loop only supplies Wake and calls RunPending.
    pcsc::SetMainThread(nullptr);
    ManualLoop manual;
    pcsc::SetMainThread(&manual);
    auto trace = std::make_shared<Trace>();
    bool ran = false;
    auto* thread =
        new ProbeThread(trace, [&](ProbeThread& self) { self.HandOverCall([&] { ran = true; }); });
    thread->Start();
    ASSERT_TRUE(manual.WaitForWakes(1));
    EXPECT_FALSE(thread->Handle()->Ended());
    EXPECT_EQ(manual.RunPending(), 1u);
    thread->WaitFor();
    EXPECT_TRUE(ran);
    EXPECT_EQ(trace->handOvers, std::vector<HandOver>{HandOver::Ran});
    delete thread;
}

TEST_F(ThreadTest, EightSelfFreeingThreadsHandOverAThousandCallsEach) {
    constexpr int kThreads = 8;
    constexpr int kCalls = 1000;
    long total = 0;  // touched by hand-overs only
    std::vector<std::shared_ptr<pcsc::ThreadHandle>> handles;
    std::vector<std::shared_ptr<Trace>> traces;
    for (int t = 0; t < kThreads; ++t) {
        traces.push_back(std::make_shared<Trace>());
        auto* thread = new ProbeThread(traces.back(), [&](ProbeThread& self) {
            for (int i = 0; i < kCalls; ++i) {
                self.HandOverCall([&] { ++total; });
            }
        });
        thread->SetFreeOnTerminate(true);
        handles.push_back(thread->Handle());
        thread->Start();
    }
    EXPECT_TRUE(loop_.RunUntil([&] { return total == long{kThreads} * kCalls; }, GuardDeadline()));
    for (const auto& handle : handles) {
        ASSERT_TRUE(handle->WaitFor(kGuard));
    }
    EXPECT_EQ(total, long{kThreads} * kCalls);
    for (const auto& trace : traces) {
        EXPECT_TRUE(trace->destroyed);
        EXPECT_EQ(trace->handOvers, std::vector<HandOver>(kCalls, HandOver::Ran));
    }
}

}  // namespace
