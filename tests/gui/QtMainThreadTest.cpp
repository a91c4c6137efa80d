// The reader manager's main thread on Qt's event loop: hand-overs from
// another thread run on the GUI thread and their exceptions go back to it;
// a cancelled owner or a dispatcher going away releases a waiting thread;
// the idle hook runs when the loop is about to wait, with no input at all.
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "QtMainThread.h"

using HandOver = pcsc::MainThreadDispatcher::HandOver;
using namespace guitest;

namespace {

// A thread that hands calls over and records how each ended.
class Worker {
public:
    template <typename F>
    explicit Worker(F&& body)
        : thread_([this, body = std::forward<F>(body)] {
              body(*this);
              done_.store(true);
          }) {}
    ~Worker() { thread_.join(); }
    bool Done() const { return done_.load(); }

    std::vector<HandOver> results;
    std::string error;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

class QtMainThreadTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void handOversRunOnTheGuiThreadInOrder();
    void anExceptionOfTheCallReachesTheWorker();
    void cancellingAnOwnerReleasesItsWorker();
    void destroyingTheDispatcherReleasesAWaitingWorker();
    void idleHookRunsWhenTheLoopWaitsWithoutInput();

private:
    std::unique_ptr<gui::QtMainThread> mainThread_;
};

void QtMainThreadTest::init() {
    mainThread_ = std::make_unique<gui::QtMainThread>();
    pcsc::SetMainThread(mainThread_.get());
}

void QtMainThreadTest::cleanup() {
    mainThread_.reset();
    QCOMPARE(pcsc::MainThread(), nullptr);
}

void QtMainThreadTest::handOversRunOnTheGuiThreadInOrder() {
    const auto owner = pcsc::MainThreadDispatcher::NewOwner();
    std::vector<int> ran;
    bool allOnGuiThread = true;
    Worker worker([&](Worker& self) {
        for (int i = 0; i < 20; ++i) {
            self.results.push_back(pcsc::SynchronizeWithMainThread(owner, [&, i] {
                allOnGuiThread = allOnGuiThread && QThread::currentThread() == qApp->thread();
                ran.push_back(i);
            }));
        }
    });
    QVERIFY(Serve([&] { return worker.Done(); }));
    QCOMPARE(worker.results, std::vector<HandOver>(20, HandOver::Ran));
    std::vector<int> expected(20);
    for (int i = 0; i < 20; ++i) expected[i] = i;
    QCOMPARE(ran, expected);
    QVERIFY(allOnGuiThread);
}

void QtMainThreadTest::anExceptionOfTheCallReachesTheWorker() {
    const auto owner = pcsc::MainThreadDispatcher::NewOwner();
    Worker worker([&](Worker& self) {
        try {
            pcsc::SynchronizeWithMainThread(
                owner, [] { throw std::runtime_error("échec sur le fil principal"); });
        } catch (const std::runtime_error& e) {
            self.error = e.what();
        }
        // The loop goes on serving.
        self.results.push_back(pcsc::SynchronizeWithMainThread(owner, [] {}));
    });
    QVERIFY(Serve([&] { return worker.Done(); }));
    QCOMPARE(worker.error, std::string("échec sur le fil principal"));
    QCOMPARE(worker.results, std::vector<HandOver>{HandOver::Ran});
}

void QtMainThreadTest::cancellingAnOwnerReleasesItsWorker() {
    const auto owner = pcsc::MainThreadDispatcher::NewOwner();
    const auto other = pcsc::MainThreadDispatcher::NewOwner();
    std::atomic<bool> ran{false};
    std::atomic<bool> handing{false};
    {
        // The GUI thread does not serve the loop: the worker waits until its
        // owner is cancelled.
        Worker worker([&](Worker& self) {
            handing.store(true);
            self.results.push_back(
                pcsc::SynchronizeWithMainThread(owner, [&] { ran.store(true); }));
        });
        while (!handing.load()) QThread::yieldCurrentThread();
        mainThread_->Cancel(owner);
        while (!worker.Done()) QThread::yieldCurrentThread();
        QCOMPARE(worker.results, std::vector<HandOver>{HandOver::Cancelled});
    }
    QVERIFY(!ran.load());
    // Other owners are still served.
    Worker worker([&](Worker& self) {
        self.results.push_back(pcsc::SynchronizeWithMainThread(other, [] {}));
    });
    QVERIFY(Serve([&] { return worker.Done(); }));
    QCOMPARE(worker.results, std::vector<HandOver>{HandOver::Ran});
}

void QtMainThreadTest::destroyingTheDispatcherReleasesAWaitingWorker() {
    const auto owner = pcsc::MainThreadDispatcher::NewOwner();
    std::atomic<bool> handing{false};
    std::atomic<bool> ran{false};
    Worker worker([&](Worker& self) {
        handing.store(true);
        self.results.push_back(pcsc::SynchronizeWithMainThread(owner, [&] { ran.store(true); }));
    });
    while (!handing.load()) QThread::yieldCurrentThread();
    mainThread_.reset();
    while (!worker.Done()) QThread::yieldCurrentThread();
    QCOMPARE(worker.results, std::vector<HandOver>{HandOver::Cancelled});
    QVERIFY(!ran.load());
    // The event it posted, if any, went with it.
    QCoreApplication::processEvents();
    QVERIFY(!ran.load());
}

void QtMainThreadTest::idleHookRunsWhenTheLoopWaitsWithoutInput() {
    const auto owner = pcsc::MainThreadDispatcher::NewOwner();
    int idle = 0;
    bool idleOnGuiThread = true;
    mainThread_->SetIdleHook([&] {
        ++idle;
        idleOnGuiThread = idleOnGuiThread && QThread::currentThread() == qApp->thread();
    });
    // Each hand-over wakes the loop; it then runs dry and calls the hook.
    std::atomic<int> handedOver{0};
    Worker worker([&](Worker& self) {
        for (int i = 0; i < 5; ++i) {
            self.results.push_back(pcsc::SynchronizeWithMainThread(owner, [&] { ++handedOver; }));
        }
    });
    QVERIFY(Serve([&] { return worker.Done() && idle > 0; }));
    QCOMPARE(handedOver.load(), 5);
    QVERIFY(idleOnGuiThread);
    const int before = idle;
    QVERIFY(ServeIdlePasses(3));
    QVERIFY(idle >= before + 3);
    mainThread_->SetIdleHook(nullptr);
}

QTEST_MAIN(QtMainThreadTest)
#include "QtMainThreadTest.moc"
