// The service check driven from a terminal: the button press, the main loop
// served until the manager's first listing has been dispatched (what the
// pane then holds is the check's report), and, for --watch, every reader and
// card event the manager gives from the start.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "checks/Report.h"
#include "checks/ServiceCheck.h"
#include "cli/Outcome.h"
#include "cli/StopRequest.h"
#include "pcsc/MainThread.h"
#include "pcsc/Manager.h"

namespace cli {

enum class EventKind {
    ReaderFound,
    ReaderRemoved,
    CardInserted,
    CardRemoved,
    CardError,
    ServiceLost,
    ServiceBack
};

struct ServiceEvent {
    std::chrono::system_clock::time_point time;  // when it was dispatched
    EventKind kind = EventKind::ReaderFound;
    std::u16string reader = {};
    pcsc::Bytes atr = {};                                   // CardInserted only
    std::optional<ReaderDetails> details = {};              // ReaderFound with details asked
    std::optional<std::string> readerBytes = std::nullopt;  // see UndecodedNameBytes
    std::optional<pcsc::Status> code = std::nullopt;        // ServiceLost: the answer that said so
    std::size_t readersLeft = 0;                            // ServiceLost: readers known until then
};

// "1.23": major and minor as decimal numbers.
std::string VersionText(std::int32_t major, std::int32_t minor);

// A reader name's bytes when the smart-card library gave some that are not
// UTF-8 (pcsc-lite passes a driver's bytes through; see the name codec in
// Platform.h); nullopt for any other name, and always on Windows.
std::optional<std::string> UndecodedNameBytes(std::u16string_view name);

// What the manager read from the reader at its discovery.
ReaderDetails DetailsOf(const pcsc::TPCSCReader& reader);

class ServiceSession {
public:
    using EventHandler = std::function<void(const ServiceEvent&)>;

    // loop: the main loop installed on this thread (SetMainThread), which
    // the watcher hands its work over to. readDetails: read each reader's
    // details at its discovery (otherwise the managers skip them) and keep
    // them as its found event is dispatched.
    ServiceSession(pcsc::PlainMainLoop& loop, bool readDetails);
    ~ServiceSession();
    ServiceSession(const ServiceSession&) = delete;
    ServiceSession& operator=(const ServiceSession&) = delete;

    // Every event of the current manager, as it is dispatched.
    void SetOnEvent(EventHandler handler) { onEvent_ = std::move(handler); }

    // The button press: a new manager in place of the last one. True when it
    // reached the service (and was started).
    bool Press();
    bool Valid() const;

    // Serves the loop until the manager's first listing has run, polls each
    // reader's card once (the run may end before the watcher's first tick),
    // then drains the queue through the idle handler until nothing is left
    // (its reader-found events dispatched), unless a stop is requested first.
    // True when the listing is out.
    bool RunUntilFirstListing(const StopRequest& stop);

    // What the pane holds now, and the readers its lines show with their
    // cards; the codes of the manager's context and of its last listing. A listing that failed or
    // gave a list that cannot be read (where the pane shows no more than for
    // "no reader") ends the report with its error lines.
    CheckOutcome Outcome() const;

    // Stops and frees the manager (its watcher's pause is cut short).
    void Stop();

    // Once the report is out (--watch), the pane and the readers found are
    // no longer kept: a session that runs for days does not grow.
    void StopKeepingReport();

private:
    // The pane the check writes to, kept only while the report is wanted.
    class ReportPane : public checks::RecordingPane {
    public:
        void Append(std::u16string_view text, checks::Style style, checks::Color color) override {
            if (keep) RecordingPane::Append(text, style, color);
        }
        bool keep = true;
    };

    void Hook(pcsc::TPCSC& manager);
    void DrainQueue();
    void Emit(EventKind kind, const std::u16string& reader, pcsc::Bytes atr = {},
              std::optional<ReaderDetails> details = std::nullopt);

    pcsc::PlainMainLoop& loop_;
    const bool readDetails_;
    ReportPane pane_;
    checks::ServiceCheck check_;
    std::vector<FoundReader> found_;
    EventHandler onEvent_;
};

}  // namespace cli
