#include "cli/ServiceSession.h"

#include "checks/safeModule.h"
#include "cli/Checks.h"
#include "pcsc/TextConversions.h"

namespace cli {

std::string VersionText(std::int32_t major, std::int32_t minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

std::optional<std::string> UndecodedNameBytes(std::u16string_view name) {
    if (!pcsc::kNamesAreBytes || !pcsc::HasUndecodedBytes(name)) return std::nullopt;
    return pcsc::NameToBytes(name);
}

ReaderDetails DetailsOf(const pcsc::TPCSCReader& reader) {
    ReaderDetails details;
    details.displayName = reader.DisplayName();
    details.vendor = reader.VendorName();
    details.serial = reader.Serial();
    if (reader.DriverVersionRead())
        details.driverVersion = VersionText(reader.DrvMajor(), reader.DrvMinor());
    if (reader.FirmwareVersionRead())
        details.firmwareVersion = VersionText(reader.FirmwareMajor(), reader.FirmwareMinor());
    return details;
}

ServiceSession::ServiceSession(pcsc::PlainMainLoop& loop, bool readDetails)
    : loop_(loop), readDetails_(readDetails), check_(pane_) {
    // Details nobody shows are not read: reading them connects to every
    // reader, more service calls than all the rest of a one-shot run.
    check_.SetReadReaderDetails(readDetails);
}

ServiceSession::~ServiceSession() = default;

bool ServiceSession::Press() {
    found_.clear();
    check_.btn_configClick();
    pcsc::TPCSC* manager = check_.Manager();
    if (!manager || !manager->Valid()) return false;
    // Its first events are dispatched only once the loop runs again.
    Hook(*manager);
    return true;
}

bool ServiceSession::Valid() const {
    const pcsc::TPCSC* manager = check_.Manager();
    return manager && manager->Valid();
}

void ServiceSession::Hook(pcsc::TPCSC& manager) {
    manager.SetOnReaderFound([this](pcsc::TPCSC* sender, const std::u16string& name) {
        check_.PCSCReaderFound(sender, name);
        std::optional<ReaderDetails> details;
        if (readDetails_) {
            if (const pcsc::TPCSCReader* reader = sender->GetPCSCReader(name))
                details = DetailsOf(*reader);
        }
        if (pane_.keep) {
            const std::size_t piece = pane_.Pieces().empty() ? 0 : pane_.Pieces().size() - 1;
            found_.push_back(FoundReader{name, piece, details, UndecodedNameBytes(name)});
        }
        Emit(EventKind::ReaderFound, name, {}, details);
    });
    manager.SetOnReaderRemoved(
        [this](pcsc::TPCSC*, const std::u16string& name) { Emit(EventKind::ReaderRemoved, name); });
    manager.SetOnCardInserted(
        [this](pcsc::TPCSC*, const std::u16string& name, const pcsc::Bytes& atr) {
            Emit(EventKind::CardInserted, name, atr);
        });
    manager.SetOnCardRemoved(
        [this](pcsc::TPCSC*, const std::u16string& name) { Emit(EventKind::CardRemoved, name); });
    manager.SetOnCardError(
        [this](pcsc::TPCSC*, const std::u16string& name) { Emit(EventKind::CardError, name); });
    // Inside the listing that met the change, before its reader events are
    // queued: what was queued earlier goes out first, so that the events
    // keep the order in which things happened.
    manager.SetOnServiceChanged([this](pcsc::TPCSC* sender, bool lost, pcsc::Status code) {
        DrainQueue();
        if (!onEvent_) return;
        ServiceEvent event{std::chrono::system_clock::now(),
                           lost ? EventKind::ServiceLost : EventKind::ServiceBack};
        if (lost) event.code = code;
        event.readersLeft = sender->ReaderList().size();
        onEvent_(event);
    });
}

void ServiceSession::DrainQueue() {
    bool done = true;
    for (const pcsc::TPCSC* manager = check_.Manager();
         manager && manager->Valid() && manager->PendingEvents() != 0; manager = check_.Manager()) {
        check_.AppIdle(done);
    }
}

void ServiceSession::Emit(EventKind kind, const std::u16string& reader, pcsc::Bytes atr,
                          std::optional<ReaderDetails> details) {
    if (!onEvent_) return;
    onEvent_(ServiceEvent{std::chrono::system_clock::now(), kind, reader, std::move(atr),
                          std::move(details), UndecodedNameBytes(reader)});
}

bool ServiceSession::RunUntilFirstListing(const StopRequest& stop) {
    const auto listingRan = [this] {
        const pcsc::TPCSC* manager = check_.Manager();
        return manager && manager->ListingsDone() >= 1;
    };
    if (!Valid()) return false;
    loop_.RunUntil([&] { return stop.Requested() || listingRan(); },
                   std::chrono::steady_clock::time_point::max());
    if (stop.Requested() || !listingRan()) return false;
    // Each card is read once now, as the watcher's tick would: a run without
    // --watch ends before that tick, and would know no card.
    if (pcsc::TPCSC* manager = check_.Manager()) {
        const pcsc::TReaderList& readers = manager->ReaderList();
        for (std::size_t i = 0; i < readers.size(); ++i) readers[i].second->CheckCardState();
    }
    // The listing's and the cards' events are queued. Left to the idle
    // handler they would go one per idle pass, and a pass comes once per
    // watcher cycle (100 ms): the run drains them here instead, through the
    // check's own idle handler, until nothing is left.
    DrainQueue();
    return !stop.Requested();
}

CheckOutcome ServiceSession::Outcome() const {
    CheckOutcome outcome;
    outcome.id = CheckId::Service;
    outcome.pieces = pane_.Pieces();
    outcome.readers = found_;
    outcome.serviceReached = Valid();
    const pcsc::TPCSC* manager = check_.Manager();
    if (manager) {
        for (FoundReader& found : outcome.readers) {
            if (const pcsc::TPCSCReader* reader = manager->GetPCSCReader(found.name))
                found.card = CardSeen{reader->CardState(), reader->ATR()};
        }
        outcome.establishCode = manager->EstablishStatus();
        if (const std::optional<pcsc::ListingResult> listing = manager->LastListing()) {
            outcome.listCode = listing->status;
            outcome.listMalformed = listing->malformed;
            if (listing->Failed()) {
                // The window's pane stops at its headings here: the terminal says why.
                checks::RecordingPane ending;
                if (listing->malformed) {
                    checks::AppendListingMalformed(ending);
                } else {
                    checks::AppendListingFailed(ending, listing->status);
                }
                outcome.pieces.insert(outcome.pieces.end(), ending.Pieces().begin(),
                                      ending.Pieces().end());
            }
        }
    }
    outcome.unreachable = Unreachable(outcome);
    return outcome;
}

void ServiceSession::Stop() {
    check_.Stop();
}

void ServiceSession::StopKeepingReport() {
    pane_.keep = false;
    pane_.Clear();
    found_.clear();
}

}  // namespace cli
