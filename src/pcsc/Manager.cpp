#include "pcsc/Manager.h"

#include <unordered_set>

#include "pcsc/PCSCRaw.h"
#include "pcsc/ReaderListThread.h"
#include "pcsc/ServiceStatus.h"
#include "pcsc/Tools.h"

namespace pcsc {
namespace {

constexpr std::chrono::milliseconds kWatcherStopWait{1000};
// A second listing call that keeps failing (the list changing under it, a
// broken service) is retried this many times, then the list counts as empty.
constexpr int kListingAttempts = 3;

}  // namespace

bool ListingResult::Failed() const {
    return malformed || IsServiceUnreachable(status);
}

TPCSC::TPCSC() : TPCSC(TReaderListThread::kDefaultCycle) {}

TPCSC::TPCSC(std::chrono::milliseconds WatcherCycle)
    : FPCSCRaw(std::make_shared<TPCSCRaw>()),
      FOwner(MainThreadDispatcher::NewOwner()),
      FAlive(std::make_shared<bool>(true)) {
    FValid = InitContext() == SCARD_S_SUCCESS;

    FReaderListThread = std::make_unique<TReaderListThread>(FPCSCRaw, WatcherCycle);
    FReaderListThread->SetHandOverOwner(FOwner);
    FWatcher = FReaderListThread->Handle();
    // Both run on the main thread, inside the watcher's hand-over, which the
    // destructor cancels: they never run against a freed manager.
    // The watcher waits inside its hand-overs: it is there to be told what
    // the listing got.
    FReaderListThread->SetOnReaderListChanged([this, watcher = FReaderListThread.get()] {
        const auto alive = FAlive;
        FInHandOver = true;
        ReaderListChanged();
        if (!*alive) return;
        FInHandOver = false;
        watcher->SetListedReaders(std::move(FListedReaders));
    });
    FReaderListThread->SetOnTimer([this] {
        const auto alive = FAlive;
        FInHandOver = true;
        CheckAllCardStates();
        if (*alive) FInHandOver = false;
    });

    FPCSCEventList = std::make_shared<TPCSCEventList>();
    FPCSCEventList->SetOnCardInsert([this](const std::u16string& name, const std::u16string& atr) {
        DoCardInserted(name, atr);
    });
    FPCSCEventList->SetOnCardRemove([this](const std::u16string& name) { DoCardRemoved(name); });
    FPCSCEventList->SetOnCardError([this](const std::u16string& name) { DoCardError(name); });
    FPCSCEventList->SetOnReaderFound([this](const std::u16string& name) { DoReaderFound(name); });
    FPCSCEventList->SetOnReaderRemoved(
        [this](const std::u16string& name) { DoReaderRemoved(name); });

    TPCSCEventList* queue = FPCSCEventList.get();
    FOnReaderFoundAsync = [queue](TPCSC* sender, const std::u16string& name) {
        queue->ReaderFoundAsync(sender, name);
    };
    FOnReaderRemovedAsync = [queue](TPCSC* sender, const std::u16string& name) {
        queue->ReaderRemovedAsync(sender, name);
    };
    FOnCardInsertedAsync = [queue](TPCSC* sender, const std::u16string& name, const Bytes& atr) {
        queue->CardInsertedAsync(sender, name, atr);
    };
    FOnCardRemovedAsync = [queue](TPCSC* sender, const std::u16string& name) {
        queue->CardRemovedAsync(sender, name);
    };
    FOnCardErrorAsync = [queue](TPCSC* sender, const std::u16string& name) {
        queue->CardErrorAsync(sender, name);
    };
}

TPCSC::~TPCSC() {
    *FAlive = false;
    // Terminate first, so that a watcher released from its hand-over sees
    // the request at once. Then a hand-over queued or waiting is dropped and
    // the watcher told at once, so it never runs against this manager and
    // never waits for a main thread that is busy waiting for it.
    if (FWatcher) FWatcher->Terminate();
    if (MainThreadDispatcher* dispatcher = MainThread()) dispatcher->Cancel(FOwner);
    if (FReaderListThread) {
        FReaderListThread.reset();  // never started: it releases its context
    } else if (FWatcher) {
        // From inside one of the watcher's hand-overs the watcher is waiting
        // for us: it ends as soon as we return, there is nothing to wait for.
        if (!FInHandOver) FWatcher->WaitFor(kWatcherStopWait);
        // A watcher still inside a service call (a frozen service) keeps its
        // own reference to the binding: the library stays loaded under it.
    }
    FReaderIndex.clear();
    FReaderList.clear();
    FPCSCEventList.reset();
    if (FContextEstablished) {
        FPCSCRaw->SCardCancel(FPCSCDeviceContext);
        FPCSCRaw->SCardReleaseContext(FPCSCDeviceContext);
    }
    FPCSCRaw.reset();
}

void TPCSC::Start() {
    if (!FReaderListThread) return;  // started already
    FReaderListThread->Start();
    // From here on the watcher frees itself.
    (void)FReaderListThread.release();
}

void TPCSC::ProcessEvent() {
    if (const auto queue = FPCSCEventList) queue->ProcessEvent();
}

TPCSCReader* TPCSC::GetPCSCReader(const std::u16string& ReaderName) const {
    const auto found = FReaderIndex.find(ReaderName);
    return found == FReaderIndex.end() ? nullptr : found->second;
}

Status TPCSC::InitContext() {
    if (!FPCSCRaw->Initialize()) return SCARD_F_INTERNAL_ERROR;
    FEstablishStatus = EstablishContext();
    return *FEstablishStatus;
}

Status TPCSC::EstablishContext() {
    Status status =
        FPCSCRaw->SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, FPCSCDeviceContext);
    if (status != SCARD_S_SUCCESS) {
        status =
            FPCSCRaw->SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, FPCSCDeviceContext);
    }
    FContextEstablished = status == SCARD_S_SUCCESS;
    return status;
}

void TPCSC::ReaderListChanged() {
    const auto alive = FAlive;
    if (FOnReaderListChanged) {
        const auto handler = FOnReaderListChanged;
        handler(this);
        if (!*alive) return;
    }
    UpdateReaderList();
    if (*alive) ++FListingsDone;
}

void TPCSC::GetReaderNames(StringList& List) {
    List.clear();
    FListedReaders.clear();
    ListingResult& result = FLastListing.emplace();
    FListingLostCode = SCARD_S_SUCCESS;
    FListingReached = false;
    // Every answer says whether the service is there: the last one decides.
    const auto note = [this](Status status) {
        const bool lost = IsServiceLost(status);
        if (lost && FListingLostCode == SCARD_S_SUCCESS) FListingLostCode = status;
        FListingReached = !lost;
    };
    bool retried = false;
    for (int attempt = 0; attempt < kListingAttempts;) {
        std::uint32_t length = 0;
        const Status status =
            FPCSCRaw->SCardListReaders(FPCSCDeviceContext, nullptr, nullptr, length);
        result.status = status;
        note(status);
        if (status != SCARD_S_SUCCESS) {
            if (retried) return;
            retried = true;
            if (IsServiceLost(status)) {
                // The service went away or restarted: only a new context
                // can list. The old one is freed even if the service says no.
                if (FContextEstablished) FPCSCRaw->SCardReleaseContext(FPCSCDeviceContext);
                FPCSCDeviceContext = 0;
                EstablishContext();
            }
            continue;
        }
        std::u16string buffer(std::size_t{length} + 1, u'\0');
        std::uint32_t got = length;
        result.status = FPCSCRaw->SCardListReaders(FPCSCDeviceContext, nullptr, buffer.data(), got);
        note(result.status);
        if (result.status == SCARD_S_SUCCESS) {
            // A length beyond the buffer cannot be what the library wrote.
            result.malformed =
                got > buffer.size() ||
                !ReaderMultiStringToList(buffer.data(), static_cast<std::int32_t>(got), &List);
            if (got <= buffer.size()) buffer.resize(got);
            FListedReaders = std::move(buffer);
            return;
        }
        ++attempt;
    }
    // Every copy was refused: a list still growing after each new size is
    // one that cannot be read, any other refusal the call's own failure.
    result.malformed = result.status == SCARD_E_INSUFFICIENT_BUFFER;
}

bool TPCSC::NoteServiceState() {
    const auto alive = FAlive;
    const auto tell = [this, &alive](bool lost, Status code) {
        FServiceLost = lost;
        if (const auto handler = FOnServiceChanged) handler(this, lost, code);
        return *alive;
    };
    // A service that restarted between two calls was lost, then reached.
    if (!FServiceLost && FListingLostCode != SCARD_S_SUCCESS && !tell(true, FListingLostCode))
        return false;
    if (FServiceLost && FListingReached && !tell(false, SCARD_S_SUCCESS)) return false;
    return true;
}

void TPCSC::UpdateReaderList() {
    StringList names;
    GetReaderNames(names);
    if (!NoteServiceState()) return;  // freed by the owner's handler

    // Removals in reverse list order, each reader freed as its removal is
    // posted; the list is then closed up in one pass.
    const std::unordered_set<std::u16string> listed(names.begin(), names.end());
    bool removed = false;
    for (std::size_t i = FReaderList.size(); i-- > 0;) {
        auto& [name, reader] = FReaderList[i];
        if (listed.count(name) != 0) continue;
        FOnReaderRemovedAsync(this, name);
        FReaderIndex.erase(name);
        reader.reset();
        removed = true;
    }
    if (removed) {
        std::erase_if(FReaderList, [](const auto& entry) { return entry.second == nullptr; });
    }

    for (const std::u16string& name : names) {
        if (GetPCSCReader(name)) continue;
        auto reader = std::make_unique<TPCSCReader>(name, FPCSCRaw);
        reader->SetOnCardStateChanged([this](TPCSCReader* r) { ReaderCardStateChanged(r); });
        TPCSCReader* added = reader.get();
        FReaderList.emplace_back(name, std::move(reader));
        FReaderIndex.emplace(name, added);
        if (FGetReaderDetails) added->ReadReaderDetails();
        FOnReaderFoundAsync(this, name);
    }
}

void TPCSC::CheckAllCardStates() {
    const auto alive = FAlive;
    for (std::size_t i = 0; i < FReaderList.size(); ++i) {
        FReaderList[i].second->CheckCardState();
        if (!*alive) return;  // freed by an application handler
    }
}

void TPCSC::ReaderCardStateChanged(TPCSCReader* PCSCReader) {
    const TCardState state = PCSCReader->CardState();
    const std::u16string name = PCSCReader->ReaderName();
    const Bytes atr = PCSCReader->ATR();
    if (FOnCardStateChanged) {
        const auto alive = FAlive;
        const auto handler = FOnCardStateChanged;
        handler(this, name);
        if (!*alive) return;
    }
    switch (state) {
        case TCardState::csAvailable: FOnCardInsertedAsync(this, name, atr); break;
        case TCardState::csNoCard: FOnCardRemovedAsync(this, name); break;
        case TCardState::csBadCard: FOnCardErrorAsync(this, name); break;
        default: break;
    }
}

void TPCSC::DoCardInserted(const std::u16string& ReaderName, const std::u16string& ATRText) {
    if (!FOnCardInserted) return;
    const auto handler = FOnCardInserted;
    handler(this, ReaderName, HexStringToBytes(ATRText));
}

void TPCSC::DoCardRemoved(const std::u16string& ReaderName) {
    if (const auto handler = FOnCardRemoved) handler(this, ReaderName);
}

void TPCSC::DoCardError(const std::u16string& ReaderName) {
    if (const auto handler = FOnCardError) handler(this, ReaderName);
}

void TPCSC::DoReaderFound(const std::u16string& ReaderName) {
    if (const auto handler = FOnReaderFound) handler(this, ReaderName);
}

void TPCSC::DoReaderRemoved(const std::u16string& ReaderName) {
    if (const auto handler = FOnReaderRemoved) handler(this, ReaderName);
}

}  // namespace pcsc
