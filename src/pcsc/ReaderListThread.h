// The reader manager's one worker thread. About ten times a second it checks
// whether the set of readers has changed and gives a tick; it does no work on
// the manager's data itself: both are calls it hands over to the main thread
// and waits for.
//
// How it sees the reader list change: it lists the reader names on its own
// context every cycle and compares them with the last list. pcsc-lite 1.9.9
// never answers a 0 ms poll of the "\\?PNP?\Notification" pseudo-reader with
// a change (it reports one only when the count changes during a blocking
// call), and a blocking wait would miss a reader plugged while the watcher is
// in its hand-overs. Listing costs one service call, like the poll it
// replaces, and works the same on every platform and service version.
//
// When the service goes away (or restarts: an old context never works again)
// the watcher hands the reader-list callback over once: a listing made while
// the service is down fails, and the manager reports every known reader
// removed (a service already back by then is listed with a new context and
// keeps its readers). The watcher then establishes a new context, at most
// once a second, and hands the callback over again as soon as it has one, so
// the readers present are found again.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "pcsc/PCSCDef.h"
#include "pcsc/Thread.h"

namespace pcsc {

class TPCSCRaw;

using TOnReaderListChanged = std::function<void()>;
using TOnTimer = std::function<void()>;

class TReaderListThread : public TThread {
public:
    static constexpr std::chrono::milliseconds kDefaultCycle{100};

    // Created suspended, freeing itself when it ends; establishes its own
    // context (system scope) on the creating thread. The binding is shared:
    // a watcher still inside a service call keeps the library loaded.
    explicit TReaderListThread(std::shared_ptr<TPCSCRaw> PCSCRaw,
                               std::chrono::milliseconds Cycle = kDefaultCycle);
    // Releases the context if it is still held: also for a watcher never
    // started, or terminated before its body ran.
    ~TReaderListThread() override;

    // Set after creation and before Start, not changed afterwards.
    void SetOnReaderListChanged(TOnReaderListChanged Event) {
        FOnReaderListChanged = std::move(Event);
    }
    void SetOnTimer(TOnTimer Event) { FOnTimer = std::move(Event); }

    // Only from inside the reader-list hand-over, where this thread waits:
    // the multi-string the owner's own listing got ("" when it listed
    // nothing). The next cycles compare with it, not with what this thread
    // saw before the hand-over: a list that changed between the two looks
    // and then changed back would otherwise never be listed again.
    void SetListedReaders(std::u16string Readers) { FKnownReaders = std::move(Readers); }

protected:
    void Execute() override;

private:
    enum class ListCheck { Unchanged, Changed, ServiceLost, Cancelled };
    ListCheck CheckReaderList();
    Status EstablishContext();
    void ReleaseContext();

    std::shared_ptr<TPCSCRaw> FPCSCRaw;
    pcsc::Handle FPCSCDeviceContext = 0;  // TThread::Handle() hides the type name
    TOnTimer FOnTimer;
    TOnReaderListChanged FOnReaderListChanged;
    const std::chrono::milliseconds FCycle;

    std::u16string FKnownReaders;  // the last reader multi-string seen or listed
    std::u16string FBuffer;        // reused between cycles
    bool FServiceLost = false;
    std::chrono::steady_clock::time_point FLastContextAttempt{};
};

}  // namespace pcsc
