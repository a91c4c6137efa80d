#include "pcsc/Events.h"

#include <tuple>
#include <utility>

#include "pcsc/Tools.h"

namespace pcsc {

TPCSCCardInsertEvent::TPCSCCardInsertEvent(const std::u16string& AReaderName,
                                           const std::u16string& AATR) {
    FEventType = TEventType::evCardInsert;
    FReaderName = AReaderName;
    FATR = AATR;
}

TPCSCCardRemoveEvent::TPCSCCardRemoveEvent(const std::u16string& AReaderName) {
    FEventType = TEventType::evCardRemove;
    FReaderName = AReaderName;
}

TPCSCCardErrorEvent::TPCSCCardErrorEvent(const std::u16string& AReaderName) {
    FEventType = TEventType::evCardError;
    FReaderName = AReaderName;
}

TPCSCReaderFoundEvent::TPCSCReaderFoundEvent(const std::u16string& AReaderName) {
    FEventType = TEventType::evReaderFound;
    FReaderName = AReaderName;
}

TPCSCReaderRemovedEvent::TPCSCReaderRemovedEvent(const std::u16string& AReaderName) {
    FEventType = TEventType::evReaderRemoved;
    FReaderName = AReaderName;
}

namespace {

// Marks a callback of a guarded kind as running, and clears the mark however
// the callback ends, so that a throwing callback does not block the queue.
class TProcessingGuard {
public:
    explicit TProcessingGuard(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TProcessingGuard() { FFlag = false; }
    TProcessingGuard(const TProcessingGuard&) = delete;
    TProcessingGuard& operator=(const TProcessingGuard&) = delete;

private:
    bool& FFlag;
};

}  // namespace

void TPCSCEventList::Tally(const TPCSCEvent* Event, int Change) {
    if (!Event) {
        FEmptyEntries = Change > 0 ? FEmptyEntries + 1 : FEmptyEntries - 1;
        return;
    }
    const auto kind = static_cast<std::size_t>(Event->EventType());
    // Kinds without a pending scan (evNone, unknown values) are not counted.
    if (kind == 0 || kind >= std::tuple_size_v<decltype(FPending)::mapped_type>) return;
    if (Change > 0) {
        ++FPending[Event->ReaderName()][kind];
        return;
    }
    const auto entry = FPending.find(Event->ReaderName());
    if (entry == FPending.end()) return;
    --entry->second[kind];
    for (const std::size_t count : entry->second) {
        if (count != 0) return;
    }
    FPending.erase(entry);  // a reader gone from the queue leaves nothing behind
}

void TPCSCEventList::Append(std::unique_ptr<TPCSCEvent> Event) {
    FEventList.push_back(std::move(Event));
    try {
        Tally(FEventList.back().get(), +1);
    } catch (...) {
        FEventList.pop_back();  // out of memory: nothing is appended
        throw;
    }
}

void TPCSCEventList::CardInsertedAsync(TPCSC* /*Sender*/, const std::u16string& ReaderName,
                                       const Bytes& ATR) {
    Append(std::make_unique<TPCSCCardInsertEvent>(ReaderName, BytesToHexString(ATR)));
}

void TPCSCEventList::CardRemovedAsync(TPCSC* /*Sender*/, const std::u16string& ReaderName) {
    Append(std::make_unique<TPCSCCardRemoveEvent>(ReaderName));
}

void TPCSCEventList::CardErrorAsync(TPCSC* /*Sender*/, const std::u16string& ReaderName) {
    Append(std::make_unique<TPCSCCardErrorEvent>(ReaderName));
}

void TPCSCEventList::ReaderFoundAsync(TPCSC* /*Sender*/, const std::u16string& ReaderName) {
    Append(std::make_unique<TPCSCReaderFoundEvent>(ReaderName));
}

void TPCSCEventList::ReaderRemovedAsync(TPCSC* /*Sender*/, const std::u16string& ReaderName) {
    Append(std::make_unique<TPCSCReaderRemovedEvent>(ReaderName));
}

void TPCSCEventList::ProcessEvent() {
    if (FEventList.empty()) return;
    // From here this call owns the event, so it is freed however dispatch
    // ends, and a nested ProcessEvent from a callback takes the next one.
    const std::unique_ptr<TPCSCEvent> Event = std::move(FEventList.front());
    FEventList.pop_front();
    Tally(Event.get(), -1);
    if (!Event) return;

    const std::u16string& Name = Event->ReaderName();
    // The pending scan runs first in every case: it also drops an empty entry.
    switch (Event->EventType()) {
        case TEventType::evCardInsert:
            if (!HasPendingCardInsert(Name) && !FProcessingEvent) {
                TProcessingGuard Guard(FProcessingEvent);
                FireCardInsert(Name, Event->ATR());
            }
            break;
        case TEventType::evCardRemove:
            // A removal must reach the application even from inside another
            // callback, so it neither checks nor sets the guard.
            if (!HasPendingCardRemove(Name)) FireCardRemove(Name);
            break;
        case TEventType::evCardError:
            if (!HasPendingCardError(Name) && !FProcessingEvent) {
                TProcessingGuard Guard(FProcessingEvent);
                FireCardError(Name);
            }
            break;
        case TEventType::evReaderFound:
            if (!HasPendingReaderFound(Name) && !FProcessingEvent) {
                TProcessingGuard Guard(FProcessingEvent);
                FireReaderFound(Name);
            }
            break;
        case TEventType::evReaderRemoved:
            if (!HasPendingReaderRemoved(Name) && !FProcessingEvent) {
                TProcessingGuard Guard(FProcessingEvent);
                FireReaderRemoved(Name);
            }
            break;
        default:  // evNone or an unknown kind: nothing to deliver
            break;
    }
}

void TPCSCEventList::ProcessAllEvents() {
    while (!FEventList.empty()) ProcessEvent();
}

bool TPCSCEventList::HasPending(TEventType Kind, const std::u16string& ReaderName) {
    if (FEmptyEntries == 0) {
        const auto entry = FPending.find(ReaderName);
        return entry != FPending.end() && entry->second[static_cast<std::size_t>(Kind)] != 0;
    }
    const std::size_t Size = FEventList.size();
    for (std::size_t i = 0; i < Size; ++i) {
        const TPCSCEvent* Entry = FEventList[i].get();
        if (!Entry) {
            FEventList.erase(FEventList.begin() + static_cast<std::ptrdiff_t>(i));
            --FEmptyEntries;
            return false;
        }
        if (Entry->EventType() == Kind && Entry->ReaderName() == ReaderName) return true;
    }
    return false;
}

bool TPCSCEventList::HasPendingCardInsert(const std::u16string& ReaderName) {
    return HasPending(TEventType::evCardInsert, ReaderName);
}

bool TPCSCEventList::HasPendingCardRemove(const std::u16string& ReaderName) {
    return HasPending(TEventType::evCardRemove, ReaderName);
}

bool TPCSCEventList::HasPendingCardError(const std::u16string& ReaderName) {
    return HasPending(TEventType::evCardError, ReaderName);
}

bool TPCSCEventList::HasPendingReaderFound(const std::u16string& ReaderName) {
    return HasPending(TEventType::evReaderFound, ReaderName);
}

bool TPCSCEventList::HasPendingReaderRemoved(const std::u16string& ReaderName) {
    return HasPending(TEventType::evReaderRemoved, ReaderName);
}

// Each Fire calls a copy of its callback: a callback that replaces itself
// would otherwise destroy the function object that is running.

void TPCSCEventList::FireCardInsert(const std::u16string& ReaderName, const std::u16string& ATR) {
    if (const TPCSCCardInsertProc Proc = FOnCardInsert) Proc(ReaderName, ATR);
}

void TPCSCEventList::FireCardRemove(const std::u16string& ReaderName) {
    if (const TPCSCCardRemoveProc Proc = FOnCardRemove) Proc(ReaderName);
}

void TPCSCEventList::FireCardError(const std::u16string& ReaderName) {
    if (const TPCSCCardErrorProc Proc = FOnCardError) Proc(ReaderName);
}

void TPCSCEventList::FireReaderFound(const std::u16string& ReaderName) {
    if (const TPCSCReaderFoundProc Proc = FOnReaderFound) Proc(ReaderName);
}

void TPCSCEventList::FireReaderRemoved(const std::u16string& ReaderName) {
    if (const TPCSCReaderRemovedProc Proc = FOnReaderRemoved) Proc(ReaderName);
}

}  // namespace pcsc
