// TPCSC, the reader manager: the one object an application creates to follow
// the machine's smart-card readers. It owns the binding, a context, the reader
// objects (kept in step with the readers the service lists), a watcher thread
// and an event queue through which reader and card notifications reach the
// application's handlers when it asks for them (ProcessEvent, from its idle
// processing).
//
// All of the manager's work runs on the main thread: the watcher hands its
// two calls over and waits, and the application drains the queue. A main
// thread must therefore have a MainThreadDispatcher installed (MainThread.h)
// and service it, or the watcher ends at its first hand-over.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pcsc/Events.h"
#include "pcsc/MainThread.h"
#include "pcsc/Reader.h"

namespace pcsc {

class TPCSC;
class TPCSCRaw;
class TReaderListThread;
class ThreadHandle;
using TOnReaderEvent = std::function<void(TPCSC* Sender, const std::u16string& ReaderName)>;
using TOnCardInsertEvent =
    std::function<void(TPCSC* Sender, const std::u16string& ReaderName, const Bytes& ATR)>;
using TOnReaderListChangedEvent = std::function<void(TPCSC* Sender)>;
// The service lost (Lost true, Code the answer that said so) or reached
// again after a loss (Lost false, Code SCARD_S_SUCCESS).
using TOnServiceEvent = std::function<void(TPCSC* Sender, bool Lost, Status Code)>;

// Reader name -> owned reader object, in order of discovery.
using TReaderList = std::vector<std::pair<std::u16string, std::unique_ptr<TPCSCReader>>>;

// How one listing of the readers went. The manager raises no event for it
// (a list it cannot read counts as empty, and its readers are reported
// removed), but its owner may want to tell "no reader" from "no list".
struct ListingResult {
    // The code of the last listing call made: SCARD_S_SUCCESS, the failure
    // of the call that ended the listing, or SCARD_E_NO_READERS_AVAILABLE
    // when the service has no reader (not a failure).
    Status status = SCARD_S_SUCCESS;
    // The service answered, but with a list that cannot be read: not ended
    // by two NULs, longer than the buffer it was given, or still growing
    // after every attempt.
    bool malformed = false;

    bool Failed() const;
};

class TPCSC {
public:
    // Never fails: a manager whose service is unreachable is not Valid.
    TPCSC();
    // The watcher's cycle (100 ms by default), for tests that run many.
    explicit TPCSC(std::chrono::milliseconds WatcherCycle);
    // Stops the watcher (waiting for it at most 1000 ms) and releases
    // everything. Safe from inside one of the manager's own handlers.
    ~TPCSC();
    TPCSC(const TPCSC&) = delete;
    TPCSC& operator=(const TPCSC&) = delete;

    // Starts watching: every reader present is reported found, and every
    // reader attached later. Once.
    void Start();
    // Dispatches at most one queued event. Main thread.
    void ProcessEvent();
    // The reader whose name is exactly ReaderName, or nullptr.
    TPCSCReader* GetPCSCReader(const std::u16string& ReaderName) const;

    bool Valid() const { return FValid; }
    const TReaderList& ReaderList() const { return FReaderList; }
    bool MCardSupport() const { return FMCardSupport; }
    void SetMCardSupport(bool Value) { FMCardSupport = Value; }
    bool GetReaderDetails() const { return FGetReaderDetails; }
    void SetGetReaderDetails(bool Value) { FGetReaderDetails = Value; }

    void SetOnReaderFound(TOnReaderEvent Event) { FOnReaderFound = std::move(Event); }
    void SetOnReaderRemoved(TOnReaderEvent Event) { FOnReaderRemoved = std::move(Event); }
    void SetOnCardStateChanged(TOnReaderEvent Event) { FOnCardStateChanged = std::move(Event); }
    void SetOnCardInserted(TOnCardInsertEvent Event) { FOnCardInserted = std::move(Event); }
    void SetOnCardRemoved(TOnReaderEvent Event) { FOnCardRemoved = std::move(Event); }
    void SetOnCardError(TOnReaderEvent Event) { FOnCardError = std::move(Event); }
    // Called at the start of every reader-list change, on the main thread,
    // before the listing: a front end learns from it when a listing is under
    // way and, once the queue is drained afterwards, that its events are out.
    void SetOnReaderListChanged(TOnReaderListChangedEvent Event) {
        FOnReaderListChanged = std::move(Event);
    }
    // Called on the main thread once when a listing (the manager's own, or
    // the one its watcher asks for) first meets an answer that means the
    // service went away, and once when a listing reaches it again; never
    // again while an outage lasts. It comes before that listing's reader
    // events are queued: an owner that reports both in order dispatches
    // what is already queued first (ProcessEvent may be called from it).
    void SetOnServiceChanged(TOnServiceEvent Event) { FOnServiceChanged = std::move(Event); }

    // Number of reader-list changes handled so far (listings done).
    unsigned ListingsDone() const { return FListingsDone; }
    // The code with which the context was established at creation (the
    // user scope's when the system scope was refused); nullopt when the
    // smart-card library could not be loaded and no call was made.
    std::optional<Status> EstablishStatus() const { return FEstablishStatus; }
    // How the last listing went; nullopt before the first.
    std::optional<ListingResult> LastListing() const { return FLastListing; }
    // Number of events queued and not yet dispatched.
    std::size_t PendingEvents() const { return FPCSCEventList ? FPCSCEventList->Count() : 0; }

private:
    Status InitContext();
    Status EstablishContext();
    void ReaderListChanged();
    void CheckAllCardStates();
    void UpdateReaderList();
    void GetReaderNames(StringList& List);
    // Tells the owner what the last listing learned of the service; false
    // when its handler freed the manager.
    bool NoteServiceState();
    void ReaderCardStateChanged(TPCSCReader* PCSCReader);
    void DoCardInserted(const std::u16string& ReaderName, const std::u16string& ATRText);
    void DoCardRemoved(const std::u16string& ReaderName);
    void DoCardError(const std::u16string& ReaderName);
    void DoReaderFound(const std::u16string& ReaderName);
    void DoReaderRemoved(const std::u16string& ReaderName);

    // The posting pointers: where the manager posts its events.
    std::function<void(TPCSC*, const std::u16string&)> FOnReaderFoundAsync;
    std::function<void(TPCSC*, const std::u16string&)> FOnReaderRemovedAsync;
    std::function<void(TPCSC*, const std::u16string&, const Bytes&)> FOnCardInsertedAsync;
    std::function<void(TPCSC*, const std::u16string&)> FOnCardRemovedAsync;
    std::function<void(TPCSC*, const std::u16string&)> FOnCardErrorAsync;
    TOnReaderListChangedEvent FOnReaderListChanged;
    TOnServiceEvent FOnServiceChanged;
    TOnReaderEvent FOnCardStateChanged;
    TOnReaderEvent FOnReaderFound;
    TOnReaderEvent FOnReaderRemoved;
    TOnCardInsertEvent FOnCardInserted;
    TOnReaderEvent FOnCardRemoved;
    TOnReaderEvent FOnCardError;
    bool FValid = false;
    TReaderList FReaderList;
    // FReaderList's readers by name: finding a reader costs the same with
    // ten thousand readers as with one.
    std::unordered_map<std::u16string, TPCSCReader*> FReaderIndex;
    Handle FPCSCDeviceContext = ~Handle{0};
    bool FContextEstablished = false;
    std::shared_ptr<TPCSCRaw> FPCSCRaw;
    // The watcher frees itself: the manager keeps only its handle, and the
    // object itself only until Start hands it over.
    std::unique_ptr<TReaderListThread> FReaderListThread;
    std::shared_ptr<ThreadHandle> FWatcher;
    bool FMCardSupport = true;
    bool FGetReaderDetails = true;
    // Shared so that a manager freed from inside a queue callback does not
    // free the queue under its running ProcessEvent.
    std::shared_ptr<TPCSCEventList> FPCSCEventList;

    MainThreadDispatcher::OwnerId FOwner;
    // Cleared when the manager is destroyed: code that called out to an
    // application handler checks it before touching the manager again.
    std::shared_ptr<bool> FAlive;
    bool FInHandOver = false;
    unsigned FListingsDone = 0;
    std::optional<Status> FEstablishStatus;
    std::optional<ListingResult> FLastListing;
    // From a loss until the service is reached again.
    bool FServiceLost = false;
    // What the last listing met: the first answer that meant a lost service
    // (SCARD_S_SUCCESS: none), and whether its last call reached the service.
    Status FListingLostCode = SCARD_S_SUCCESS;
    bool FListingReached = false;
    // The multi-string of the last listing, as the service gave it; empty
    // when it listed nothing. Handed to the watcher after each listing.
    std::u16string FListedReaders;
};

}  // namespace pcsc
