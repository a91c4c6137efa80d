// The main-thread dispatcher: hand-overs run on the main thread, block their
// caller, carry exceptions back, and can be cancelled per owner or all at
// once; the plain loop serves them and calls the idle hook when dry.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Support.h"
#include "pcsc/MainThread.h"

namespace {

using pcsc::MainThreadDispatcher;
using pcsc::PlainMainLoop;
using pcsc_test::Finishes;
using pcsc_test::GuardDeadline;
using pcsc_test::ManualLoop;
using HandOver = MainThreadDispatcher::HandOver;

// ---- Hand-over basics ----------------------------------------------------------

TEST(HandOverTest, RunsOnTheMainThreadAndBlocksItsCallerUntilItRan) {
    ManualLoop loop;
    const auto owner = MainThreadDispatcher::NewOwner();
    std::thread::id ranOn;
    bool ranBeforeReturn = false;
    std::atomic<bool> returned{false};
    HandOver result = HandOver::Cancelled;

    auto worker = std::async(std::launch::async, [&] {
        result = loop.Synchronize(owner, [&] { ranOn = std::this_thread::get_id(); });
        ranBeforeReturn = ranOn != std::thread::id();
        returned = true;
    });
    ASSERT_TRUE(loop.WaitForWakes(1));
    // Queued and woken, but not served: the caller must still be waiting.
    EXPECT_FALSE(returned);
    EXPECT_EQ(ranOn, std::thread::id());

    EXPECT_EQ(loop.RunPending(), 1u);
    ASSERT_TRUE(Finishes(worker, loop));
    EXPECT_EQ(result, HandOver::Ran);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(ranBeforeReturn);
    EXPECT_EQ(loop.RunPending(), 0u);
    EXPECT_EQ(loop.Wakes(), 1u);
}

TEST(HandOverTest, AnExceptionOfTheCallIsRaisedAgainInTheCallingThread) {
    ManualLoop loop;
    const auto owner = MainThreadDispatcher::NewOwner();
    std::string message;
    int thrownInt = 0;
    std::thread::id caughtOn;

    auto worker = std::async(std::launch::async, [&] {
        try {
            loop.Synchronize(owner, [] { throw std::runtime_error("lecteur débranché"); });
        } catch (const std::runtime_error& e) {
            message = e.what();
            caughtOn = std::this_thread::get_id();
        }
        try {
            loop.Synchronize(owner, [] { throw 42; });
        } catch (int value) {
            thrownInt = value;
        }
    });
    // The main thread's RunPending never lets the call's exception out.
    ASSERT_TRUE(loop.WaitForWakes(1));
    EXPECT_NO_THROW(EXPECT_EQ(loop.RunPending(), 1u));
    ASSERT_TRUE(loop.WaitForWakes(2));
    EXPECT_NO_THROW(EXPECT_EQ(loop.RunPending(), 1u));
    ASSERT_TRUE(Finishes(worker, loop));

    EXPECT_EQ(message, "lecteur débranché");
    EXPECT_NE(caughtOn, std::this_thread::get_id());
    EXPECT_NE(caughtOn, std::thread::id());
    EXPECT_EQ(thrownInt, 42);
}

TEST(HandOverTest, FromTheMainThreadItRunsAtOnceWithoutWakingTheLoop) {
    ManualLoop loop;
    const pcsc_test::Watchdog watchdog(loop);  // queuing it here would never return
    const auto owner = MainThreadDispatcher::NewOwner();
    int depth = 0;
    int innerDepth = 0;

    EXPECT_TRUE(loop.IsMainThread());
    EXPECT_EQ(loop.Synchronize(owner,
                               [&] {
                                   ++depth;
                                   // Nested as well: a hand-over running on
                                   // the main thread may hand over again.
                                   loop.Synchronize(owner, [&] { innerDepth = depth; });
                               }),
              HandOver::Ran);
    EXPECT_EQ(depth, 1);
    EXPECT_EQ(innerDepth, 1);
    EXPECT_EQ(loop.Wakes(), 0u);
    EXPECT_EQ(loop.RunPending(), 0u);
    EXPECT_THROW(loop.Synchronize(owner, [] { throw std::out_of_range("inline"); }),
                 std::out_of_range);
}

TEST(HandOverTest, MisuseIsReportedNotObeyed) {
    ManualLoop loop;
    const auto owner = MainThreadDispatcher::NewOwner();
    EXPECT_THROW(loop.Synchronize(owner, nullptr), std::invalid_argument);
    EXPECT_THROW(pcsc::SynchronizeWithMainThread(owner, nullptr), std::invalid_argument);

    bool runPendingRefused = false;
    bool runIdleRefused = false;
    bool isMain = true;
    std::thread other([&] {
        isMain = loop.IsMainThread();
        try {
            loop.RunPending();
        } catch (const std::logic_error&) {
            runPendingRefused = true;
        }
        try {
            loop.RunIdle();
        } catch (const std::logic_error&) {
            runIdleRefused = true;
        }
    });
    other.join();
    EXPECT_FALSE(isMain);
    EXPECT_TRUE(runPendingRefused);
    EXPECT_TRUE(runIdleRefused);
}

TEST(HandOverTest, OwnerIdsAreNeverReusedAcrossThreads) {
    std::vector<std::vector<MainThreadDispatcher::OwnerId>> perThread(8);
    std::vector<std::thread> threads;
    for (auto& ids : perThread) {
        threads.emplace_back([&ids] {
            for (int i = 0; i < 1000; ++i) {
                ids.push_back(MainThreadDispatcher::NewOwner());
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::set<MainThreadDispatcher::OwnerId> all;
    for (const auto& ids : perThread) {
        all.insert(ids.begin(), ids.end());
    }
    EXPECT_EQ(all.size(), 8000u);
    EXPECT_EQ(all.count(0), 0u);
}

// ---- Cancelling one owner, shutting everything down -----------------------------

TEST(CancelTest, ReleasesTheBlockedCallerOfThatOwnerOnlyAndRefusesItsFutureCalls) {
    ManualLoop loop;
    const pcsc_test::Watchdog watchdog(loop);
    const auto cancelled = MainThreadDispatcher::NewOwner();
    const auto other = MainThreadDispatcher::NewOwner();
    bool cancelledRan = false;
    bool otherRan = false;
    HandOver cancelledResult = HandOver::Ran;
    HandOver otherResult = HandOver::Cancelled;

    auto first = std::async(std::launch::async, [&] {
        cancelledResult = loop.Synchronize(cancelled, [&] { cancelledRan = true; });
    });
    ASSERT_TRUE(loop.WaitForWakes(1));
    auto second = std::async(std::launch::async, [&] {
        otherResult = loop.Synchronize(other, [&] { otherRan = true; });
    });
    ASSERT_TRUE(loop.WaitForWakes(2));

    // The main thread serves nothing: Cancel alone must release the caller,
    // as it does for a manager that waits for its watcher.
    loop.Cancel(cancelled);
    ASSERT_TRUE(Finishes(first, loop));
    EXPECT_EQ(cancelledResult, HandOver::Cancelled);

    // The other owner is still queued and is served normally.
    EXPECT_EQ(loop.RunPending(), 1u);
    ASSERT_TRUE(Finishes(second, loop));
    EXPECT_EQ(otherResult, HandOver::Ran);
    EXPECT_TRUE(otherRan);
    EXPECT_FALSE(cancelledRan);

    // Later calls of the cancelled owner: refused at once, not queued, not run.
    HandOver later = HandOver::Ran;
    auto third = std::async(std::launch::async, [&] {
        later = loop.Synchronize(cancelled, [&] { cancelledRan = true; });
    });
    ASSERT_TRUE(Finishes(third, loop));
    EXPECT_EQ(later, HandOver::Cancelled);
    EXPECT_EQ(loop.Synchronize(cancelled, [&] { cancelledRan = true; }), HandOver::Cancelled);
    EXPECT_FALSE(cancelledRan);
    EXPECT_EQ(loop.Wakes(), 2u);
    EXPECT_EQ(loop.RunPending(), 0u);

    // And the others go on being served.
    EXPECT_EQ(loop.Synchronize(other, [] {}), HandOver::Ran);
}

TEST(CancelTest, AHandOverAlreadyRunningCompletes) {
    ManualLoop loop;
    const auto owner = MainThreadDispatcher::NewOwner();
    HandOver result = HandOver::Cancelled;
    bool finishedBody = false;

    auto worker = std::async(std::launch::async, [&] {
        result = loop.Synchronize(owner, [&] {
            loop.Cancel(owner);  // its owner goes away from inside the call
            finishedBody = true;
        });
    });
    ASSERT_TRUE(loop.WaitForWakes(1));
    EXPECT_EQ(loop.RunPending(), 1u);
    ASSERT_TRUE(Finishes(worker, loop));
    EXPECT_EQ(result, HandOver::Ran);
    EXPECT_TRUE(finishedBody);
}

TEST(ShutdownTest, ReleasesBlockedCallersAndNothingRunsAfterwards) {
    ManualLoop loop;
    const auto a = MainThreadDispatcher::NewOwner();
    const auto b = MainThreadDispatcher::NewOwner();
    std::atomic<int> runs{0};
    HandOver resultA = HandOver::Ran;
    HandOver resultB = HandOver::Ran;

    auto workerA =
        std::async(std::launch::async, [&] { resultA = loop.Synchronize(a, [&] { ++runs; }); });
    auto workerB =
        std::async(std::launch::async, [&] { resultB = loop.Synchronize(b, [&] { ++runs; }); });
    ASSERT_TRUE(loop.WaitForWakes(2));

    EXPECT_FALSE(loop.IsShutDown());
    loop.Shutdown();
    EXPECT_TRUE(loop.IsShutDown());
    ASSERT_TRUE(Finishes(workerA, loop));
    ASSERT_TRUE(Finishes(workerB, loop));
    EXPECT_EQ(resultA, HandOver::Cancelled);
    EXPECT_EQ(resultB, HandOver::Cancelled);
    EXPECT_EQ(loop.RunPending(), 0u);

    HandOver late = HandOver::Ran;
    auto lateWorker =
        std::async(std::launch::async, [&] { late = loop.Synchronize(a, [&] { ++runs; }); });
    ASSERT_TRUE(Finishes(lateWorker, loop));
    EXPECT_EQ(late, HandOver::Cancelled);
    EXPECT_EQ(loop.Synchronize(b, [&] { ++runs; }), HandOver::Cancelled);  // main thread too
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(loop.Wakes(), 2u);

    loop.Shutdown();  // a second time changes nothing
    EXPECT_TRUE(loop.IsShutDown());
}

// ---- The installed main thread ---------------------------------------------------

TEST(InstalledMainThreadTest, HandOversGoToTheInstalledDispatcherUntilItIsGone) {
    const auto owner = MainThreadDispatcher::NewOwner();
    EXPECT_EQ(pcsc::MainThread(), nullptr);
    bool ran = false;
    EXPECT_EQ(pcsc::SynchronizeWithMainThread(owner, [&] { ran = true; }), HandOver::Cancelled);
    EXPECT_FALSE(ran);

    HandOver blockedResult = HandOver::Ran;
    std::future<void> blocked;
    {
        ManualLoop loop;
        pcsc::SetMainThread(&loop);
        EXPECT_EQ(pcsc::MainThread(), &loop);

        HandOver served = HandOver::Cancelled;
        auto worker = std::async(std::launch::async, [&] {
            served = pcsc::SynchronizeWithMainThread(owner, [&] { ran = true; });
        });
        ASSERT_TRUE(loop.WaitForWakes(1));
        EXPECT_EQ(loop.RunPending(), 1u);
        ASSERT_TRUE(Finishes(worker, loop));
        EXPECT_EQ(served, HandOver::Ran);
        EXPECT_TRUE(ran);

        // A caller still waiting when the dispatcher goes away is released.
        blocked = std::async(std::launch::async, [&] {
            blockedResult = pcsc::SynchronizeWithMainThread(
                owner, [] { FAIL() << "ran after its loop was gone"; });
        });
        ASSERT_TRUE(loop.WaitForWakes(2));
    }
    EXPECT_EQ(blocked.wait_for(pcsc_test::kGuard), std::future_status::ready);
    EXPECT_EQ(blockedResult, HandOver::Cancelled);
    EXPECT_EQ(pcsc::MainThread(), nullptr);
    EXPECT_EQ(pcsc::SynchronizeWithMainThread(owner, [&] { ran = false; }), HandOver::Cancelled);
    EXPECT_TRUE(ran);

    ManualLoop one;
    ManualLoop two;
    pcsc::SetMainThread(&one);
    pcsc::SetMainThread(&two);
    EXPECT_EQ(pcsc::MainThread(), &two);
    pcsc::SetMainThread(nullptr);
    EXPECT_EQ(pcsc::MainThread(), nullptr);
}

// ---- The plain loop ---------------------------------------------------------------

TEST(PlainMainLoopTest, CallsTheIdleHookOncePerPassAfterTheHandOversOfThatPass) {
    PlainMainLoop loop;
    const auto owner = MainThreadDispatcher::NewOwner();
    int idleCalls = 0;
    bool handOverRanBeforeSecondIdle = false;
    bool hookOnMainThread = true;
    std::atomic<bool> handOverRan{false};
    std::future<void> worker;

    loop.SetIdleHook([&] {
        ++idleCalls;
        hookOnMainThread = hookOnMainThread && loop.IsMainThread();
        if (idleCalls == 1) {
            // Dry for the first time: give the loop exactly one thing to do.
            worker = std::async(std::launch::async,
                                [&] { loop.Synchronize(owner, [&] { handOverRan = true; }); });
        } else {
            handOverRanBeforeSecondIdle = handOverRan;
            loop.Quit(7);
        }
    });
    EXPECT_EQ(loop.Run(), 7);
    // Woken once, so exactly two dry moments: before and after the hand-over.
    EXPECT_EQ(idleCalls, 2);
    EXPECT_TRUE(handOverRanBeforeSecondIdle);
    EXPECT_TRUE(hookOnMainThread);
    ASSERT_TRUE(Finishes(worker, loop));

    // The quit request was consumed: the loop runs again, here until dry once.
    idleCalls = 0;
    loop.SetIdleHook([&] {
        ++idleCalls;
        loop.Quit();
    });
    EXPECT_EQ(loop.Run(), 0);
    EXPECT_EQ(idleCalls, 1);

    // Without a hook, a dry loop simply waits.
    loop.SetIdleHook(nullptr);
    EXPECT_FALSE(loop.RunUntil([] { return false; }, std::chrono::steady_clock::now()));
}

TEST(PlainMainLoopTest, RunUntilServesWorkersUntilDoneAndLeavesQuitForTheOuterLoop) {
    PlainMainLoop loop;
    const auto owner = MainThreadDispatcher::NewOwner();
    int served = 0;  // main thread only
    auto worker = std::async(std::launch::async, [&] {
        for (int i = 0; i < 50; ++i) {
            loop.Synchronize(owner, [&] { ++served; });
        }
    });
    EXPECT_TRUE(loop.RunUntil([&] { return served == 50; }, GuardDeadline()));
    ASSERT_TRUE(Finishes(worker, loop));
    EXPECT_EQ(served, 50);

    // A Quit coming from a worker's hand-over ends the inner loop and is kept
    // for the outer one.
    auto quitter =
        std::async(std::launch::async, [&] { loop.Synchronize(owner, [&] { loop.Quit(3); }); });
    EXPECT_FALSE(loop.RunUntil([] { return false; }, GuardDeadline()));
    ASSERT_TRUE(Finishes(quitter, loop));
    EXPECT_EQ(loop.Run(), 3);
}

TEST(PlainMainLoopTest, AnIdleHookExceptionLeavesTheLoopWhichCanRunAgain) {
    PlainMainLoop loop;
    loop.SetIdleHook([] { throw std::runtime_error("idle"); });
    EXPECT_THROW(loop.Run(), std::runtime_error);
    int calls = 0;
    loop.SetIdleHook([&] {
        ++calls;
        loop.Quit();
    });
    EXPECT_EQ(loop.Run(), 0);
    EXPECT_EQ(calls, 1);

    bool refused = false;
    std::thread other([&] {
        try {
            loop.Run();
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    other.join();
    EXPECT_TRUE(refused);
}

// ---- Many workers at once -----------------------------------------------------------

TEST(HandOverStressTest, EightThreadsHandOverAThousandCallsEach) {
    PlainMainLoop loop;
    constexpr int kThreads = 8;
    constexpr int kCalls = 1000;
    // Touched by the hand-overs only: unsynchronised on purpose, so that a
    // call run off the main thread shows up under ThreadSanitizer.
    long total = 0;
    std::vector<int> perThread(kThreads, 0);
    bool allOnMain = true;
    int finished = 0;  // main thread only: each worker hands its end over
    std::vector<int> wrongResults(kThreads, 0);
    std::vector<int> exceptionsSeen(kThreads, 0);

    std::vector<std::future<void>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [&, t] {
            const auto owner = MainThreadDispatcher::NewOwner();
            for (int i = 0; i < kCalls; ++i) {
                try {
                    const HandOver result = loop.Synchronize(owner, [&, t, i] {
                        allOnMain = allOnMain && loop.IsMainThread();
                        ++total;
                        ++perThread[t];
                        if (i % 100 == 99) {
                            throw std::runtime_error(std::to_string(t));
                        }
                    });
                    if (result != HandOver::Ran) {
                        ++wrongResults[t];
                    }
                } catch (const std::runtime_error& e) {
                    if (e.what() == std::to_string(t)) {
                        ++exceptionsSeen[t];
                    }
                }
            }
            loop.Synchronize(owner, [&] { ++finished; });
        }));
    }
    EXPECT_TRUE(loop.RunUntil([&] { return finished == kThreads; }, GuardDeadline()));
    for (auto& w : workers) {
        ASSERT_TRUE(Finishes(w, loop));
    }
    EXPECT_EQ(total, long{kThreads} * kCalls);
    EXPECT_TRUE(allOnMain);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(perThread[t], kCalls) << "thread " << t;
        EXPECT_EQ(wrongResults[t], 0) << "thread " << t;
        EXPECT_EQ(exceptionsSeen[t], kCalls / 100) << "thread " << t;
    }
}

TEST(HandOverStressTest, CancellingOneOwnerUnderLoadStopsExactlyItsCalls) {
    PlainMainLoop loop;
    constexpr int kThreadsPerOwner = 4;
    constexpr int kCalls = 1000;
    const auto doomed = MainThreadDispatcher::NewOwner();
    const auto kept = MainThreadDispatcher::NewOwner();
    int doomedRuns = 0;  // main thread only
    int keptRuns = 0;
    bool doomedRanAfterCancel = false;
    bool cancelledOnce = false;
    std::atomic<int> doomedRan{0};  // results the callers saw
    std::atomic<int> doomedRefused{0};
    std::atomic<int> keptRefused{0};
    std::atomic<int> ranAfterRefusal{0};  // a refusal must be final
    int finished = 0;                     // main thread only: each worker hands its end over
    const auto reporter = MainThreadDispatcher::NewOwner();

    std::vector<std::future<void>> workers;
    for (int t = 0; t < 2 * kThreadsPerOwner; ++t) {
        const bool isDoomed = t % 2 == 0;
        workers.push_back(std::async(std::launch::async, [&, isDoomed] {
            bool refused = false;
            for (int i = 0; i < kCalls; ++i) {
                if (isDoomed) {
                    const HandOver r = loop.Synchronize(doomed, [&] {
                        ++doomedRuns;
                        doomedRanAfterCancel = doomedRanAfterCancel || cancelledOnce;
                        if (doomedRuns == 500) {
                            loop.Cancel(doomed);  // from the main thread, mid-stream
                            cancelledOnce = true;
                        }
                    });
                    if (r == HandOver::Ran) {
                        ++doomedRan;
                        if (refused) {
                            ++ranAfterRefusal;
                        }
                    } else {
                        ++doomedRefused;
                        refused = true;
                    }
                } else if (loop.Synchronize(kept, [&] { ++keptRuns; }) != HandOver::Ran) {
                    ++keptRefused;
                }
            }
            loop.Synchronize(reporter, [&] { ++finished; });
        }));
    }
    EXPECT_TRUE(loop.RunUntil([&] { return finished == 2 * kThreadsPerOwner; }, GuardDeadline()));
    for (auto& w : workers) {
        ASSERT_TRUE(Finishes(w, loop));
    }
    EXPECT_TRUE(cancelledOnce);
    EXPECT_FALSE(doomedRanAfterCancel);
    EXPECT_EQ(doomedRuns, 500);
    EXPECT_EQ(doomedRan, doomedRuns);  // Ran exactly when it ran
    EXPECT_EQ(doomedRan + doomedRefused, kThreadsPerOwner * kCalls);
    EXPECT_EQ(ranAfterRefusal, 0);
    EXPECT_EQ(keptRuns, kThreadsPerOwner * kCalls);
    EXPECT_EQ(keptRefused, 0);
}

}  // namespace
