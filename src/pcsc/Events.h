// The reader and card event queue. The reader manager posts a notification
// the moment it sees a change; the application has it delivered later, one
// event per ProcessEvent call from its idle processing. Of several queued
// events of one kind for one reader only the newest is delivered, and no
// event but a card removal is delivered while another event's callback runs.
//
// Posting and dispatching both run on the main thread, so there is no lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "pcsc/PCSCDef.h"

namespace pcsc {

class TPCSC;

enum class TEventType : std::uint8_t {
    evNone = 0,           // never dispatched
    evCardInsert = 1,     // a card became available in a reader
    evCardRemove = 2,     // the card was taken out of a reader
    evCardError = 3,      // the card in a reader cannot be used
    evReaderFound = 4,    // a reader appeared
    evReaderRemoved = 5,  // a reader disappeared
};

// One queued notification. Dispatch looks only at EventType(), never at the
// class, so the subclasses add nothing but a constructor.
class TPCSCEvent {
public:
    TPCSCEvent() = default;
    virtual ~TPCSCEvent() = default;
    // The queue owns its events and hands out only their texts.
    TPCSCEvent(const TPCSCEvent&) = delete;
    TPCSCEvent& operator=(const TPCSCEvent&) = delete;

    TEventType EventType() const { return FEventType; }
    const std::u16string& ReaderName() const { return FReaderName; }
    // Hexadecimal text ("3B 6F 00"); empty in every event but a card insert.
    const std::u16string& ATR() const { return FATR; }

protected:
    TEventType FEventType = TEventType::evNone;
    std::u16string FReaderName;
    std::u16string FATR;
};

class TPCSCCardInsertEvent : public TPCSCEvent {
public:
    TPCSCCardInsertEvent(const std::u16string& AReaderName, const std::u16string& AATR);
};

class TPCSCCardRemoveEvent : public TPCSCEvent {
public:
    explicit TPCSCCardRemoveEvent(const std::u16string& AReaderName);
};

class TPCSCCardErrorEvent : public TPCSCEvent {
public:
    explicit TPCSCCardErrorEvent(const std::u16string& AReaderName);
};

class TPCSCReaderFoundEvent : public TPCSCEvent {
public:
    explicit TPCSCReaderFoundEvent(const std::u16string& AReaderName);
};

class TPCSCReaderRemovedEvent : public TPCSCEvent {
public:
    explicit TPCSCReaderRemovedEvent(const std::u16string& AReaderName);
};

// The queue's callbacks carry no Sender. An empty function is "unset".
using TPCSCCardInsertProc =
    std::function<void(const std::u16string& ReaderName, const std::u16string& ATR)>;
using TPCSCCardRemoveProc = std::function<void(const std::u16string& ReaderName)>;
using TPCSCCardErrorProc = std::function<void(const std::u16string& ReaderName)>;
using TPCSCReaderFoundProc = std::function<void(const std::u16string& ReaderName)>;
using TPCSCReaderRemovedProc = std::function<void(const std::u16string& ReaderName)>;

class TPCSCEventList {
public:
    TPCSCEventList() = default;
    // Pending events are freed, never delivered.
    virtual ~TPCSCEventList() = default;
    TPCSCEventList(const TPCSCEventList&) = delete;
    TPCSCEventList& operator=(const TPCSCEventList&) = delete;

    // Posting only appends: it never merges, drops or calls a callback.
    // Sender is unused; it is there so that the manager's posting pointers
    // can point straight at these operations.
    void CardInsertedAsync(TPCSC* Sender, const std::u16string& ReaderName, const Bytes& ATR);
    void CardRemovedAsync(TPCSC* Sender, const std::u16string& ReaderName);
    void CardErrorAsync(TPCSC* Sender, const std::u16string& ReaderName);
    void ReaderFoundAsync(TPCSC* Sender, const std::u16string& ReaderName);
    void ReaderRemovedAsync(TPCSC* Sender, const std::u16string& ReaderName);

    // Takes the oldest event out and delivers it unless a newer one of the
    // same kind for the same reader is queued, or (card removals excepted)
    // another callback is running. The event is freed in every case; an
    // exception from the callback propagates, with the rest still queued.
    void ProcessEvent();
    // Dispatches until the queue is empty, including events that the
    // callbacks post meanwhile.
    void ProcessAllEvents();

    // Number of queued entries.
    std::size_t Count() const { return FEventList.size(); }

    const TPCSCCardInsertProc& OnCardInsert() const { return FOnCardInsert; }
    void SetOnCardInsert(TPCSCCardInsertProc Proc) { FOnCardInsert = std::move(Proc); }
    const TPCSCCardRemoveProc& OnCardRemove() const { return FOnCardRemove; }
    void SetOnCardRemove(TPCSCCardRemoveProc Proc) { FOnCardRemove = std::move(Proc); }
    const TPCSCCardErrorProc& OnCardError() const { return FOnCardError; }
    void SetOnCardError(TPCSCCardErrorProc Proc) { FOnCardError = std::move(Proc); }
    const TPCSCReaderFoundProc& OnReaderFound() const { return FOnReaderFound; }
    void SetOnReaderFound(TPCSCReaderFoundProc Proc) { FOnReaderFound = std::move(Proc); }
    const TPCSCReaderRemovedProc& OnReaderRemoved() const { return FOnReaderRemoved; }
    void SetOnReaderRemoved(TPCSCReaderRemovedProc Proc) { FOnReaderRemoved = std::move(Proc); }

protected:
    // Appends at the end of the queue. A null entry is tolerated: dispatch
    // and the pending scans drop it silently.
    void Append(std::unique_ptr<TPCSCEvent> Event);

private:
    // Is a newer event of this kind for this reader still queued? The event
    // being dispatched is already out of the list.
    bool HasPending(TEventType Kind, const std::u16string& ReaderName);
    bool HasPendingCardInsert(const std::u16string& ReaderName);
    bool HasPendingCardRemove(const std::u16string& ReaderName);
    bool HasPendingCardError(const std::u16string& ReaderName);
    bool HasPendingReaderFound(const std::u16string& ReaderName);
    bool HasPendingReaderRemoved(const std::u16string& ReaderName);

    // Each calls its callback if set.
    void FireCardInsert(const std::u16string& ReaderName, const std::u16string& ATR);
    void FireCardRemove(const std::u16string& ReaderName);
    void FireCardError(const std::u16string& ReaderName);
    void FireReaderFound(const std::u16string& ReaderName);
    void FireReaderRemoved(const std::u16string& ReaderName);

    // Keeps FPending in step with what enters and leaves FEventList.
    void Tally(const TPCSCEvent* Event, int Change);

    // Oldest first. A deque: each dispatch takes the front, which a vector
    // would pay for by moving every entry behind it (quadratic in a burst).
    std::deque<std::unique_ptr<TPCSCEvent>> FEventList;
    // How many events of each kind every reader has queued, so that the scan
    // for a newer one costs the same whatever the queue's length. A scan
    // stops at the first empty entry, which only a subclass can queue: while
    // one is queued the scan walks the list as it stands.
    std::unordered_map<std::u16string, std::array<std::size_t, 6>> FPending;
    std::size_t FEmptyEntries = 0;
    TPCSCCardInsertProc FOnCardInsert;
    TPCSCCardRemoveProc FOnCardRemove;
    TPCSCCardErrorProc FOnCardError;
    TPCSCReaderFoundProc FOnReaderFound;
    TPCSCReaderRemovedProc FOnReaderRemoved;
    // True while the callback of any kind but a card removal runs.
    bool FProcessingEvent = false;
};

}  // namespace pcsc
