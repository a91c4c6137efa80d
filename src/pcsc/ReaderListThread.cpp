#include "pcsc/ReaderListThread.h"

#include "pcsc/PCSCRaw.h"
#include "pcsc/ServiceStatus.h"

namespace pcsc {
namespace {

constexpr std::chrono::seconds kContextRetry{1};
constexpr std::uint32_t kInitialListRoom = 256;  // characters; grows when the list does

}  // namespace

TReaderListThread::TReaderListThread(std::shared_ptr<TPCSCRaw> PCSCRaw,
                                     std::chrono::milliseconds Cycle)
    : FPCSCRaw(std::move(PCSCRaw)), FCycle(Cycle), FBuffer(kInitialListRoom, u'\0') {
    SetFreeOnTerminate(true);
    EstablishContext();
}

TReaderListThread::~TReaderListThread() {
    ReleaseContext();
}

Status TReaderListThread::EstablishContext() {
    FLastContextAttempt = std::chrono::steady_clock::now();
    const Status status =
        FPCSCRaw->SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, FPCSCDeviceContext);
    if (status != SCARD_S_SUCCESS) FPCSCDeviceContext = 0;
    return status;
}

void TReaderListThread::ReleaseContext() {
    if (FPCSCDeviceContext != 0) {
        // A dead service's context is freed all the same.
        FPCSCRaw->SCardReleaseContext(FPCSCDeviceContext);
        FPCSCDeviceContext = 0;
    }
}

TReaderListThread::ListCheck TReaderListThread::CheckReaderList() {
    std::uint32_t size = static_cast<std::uint32_t>(FBuffer.size());
    Status status = FPCSCRaw->SCardListReaders(FPCSCDeviceContext, nullptr, FBuffer.data(), size);
    if (status == SCARD_E_INSUFFICIENT_BUFFER && size > FBuffer.size()) {
        FBuffer.assign(size, u'\0');
        status = FPCSCRaw->SCardListReaders(FPCSCDeviceContext, nullptr, FBuffer.data(), size);
    }
    std::u16string readers;
    if (status == SCARD_S_SUCCESS) {
        readers.assign(FBuffer.data(), std::min<std::size_t>(size, FBuffer.size()));
    } else if (status == SCARD_E_CANCELLED) {
        return ListCheck::Cancelled;
    } else if (IsServiceLost(status)) {
        return ListCheck::ServiceLost;
    } else if (status != SCARD_E_NO_READERS_AVAILABLE) {
        // Any other answer (the list changing under the call, a time-out)
        // says nothing about the readers: look again next cycle.
        return ListCheck::Unchanged;
    }
    if (readers == FKnownReaders) return ListCheck::Unchanged;
    FKnownReaders = std::move(readers);
    return ListCheck::Changed;
}

void TReaderListThread::Execute() {
    // The first cycle always lists: every reader present at start is found.
    bool listChanged = true;
    while (!Terminated()) {
        if (FPCSCDeviceContext == 0) {
            if (std::chrono::steady_clock::now() - FLastContextAttempt >= kContextRetry &&
                EstablishContext() == SCARD_S_SUCCESS) {
                // Back after an outage: whatever the list says, the manager
                // must list again, with contexts of its own that work.
                FServiceLost = false;
                FKnownReaders.clear();
                listChanged = true;
            }
        }
        if (FPCSCDeviceContext != 0) {
            switch (CheckReaderList()) {
                case ListCheck::Changed: listChanged = true; break;
                case ListCheck::Unchanged: break;
                case ListCheck::Cancelled: return;
                case ListCheck::ServiceLost:
                    if (!FServiceLost) {
                        // Once: the manager's listing then fails and reports
                        // every known reader removed.
                        FServiceLost = true;
                        listChanged = true;
                    }
                    ReleaseContext();
                    FKnownReaders.clear();
                    // The next attempt comes a second later: a dead service
                    // is not hammered.
                    FLastContextAttempt = std::chrono::steady_clock::now();
                    break;
            }
        }
        if (listChanged) {
            listChanged = false;
            if (FOnReaderListChanged && Synchronize(FOnReaderListChanged) == HandOver::Cancelled)
                break;
        }
        if (Terminated()) break;
        if (FOnTimer && Synchronize(FOnTimer) == HandOver::Cancelled) break;
        // The cycle lasts at least its period even when every call returns
        // at once; a terminate request cuts the pause short.
        if (!Pause(FCycle)) break;
    }
}

}  // namespace pcsc
