// The service reader check: lists the readers as a reader manager discovers
// them through the smart-card service. The press writes the heading lines
// and starts a manager; the reader lines come afterwards, one per reader-found
// event, each time the main loop goes idle (AppIdle), for as long as the
// manager runs, readers attached later included.
//
// The host installs a MainThreadDispatcher (pcsc/MainThread.h) on its main
// thread before the first press and services it: the manager's watcher hands
// its work over to that thread, and the press installs AppIdle as its idle
// hook.
#pragma once

#include <memory>
#include <string>

#include "checks/Report.h"
#include "pcsc/Manager.h"

namespace checks {

class ServiceCheck {
public:
    // pane: where the report goes (the first tab's pane).
    explicit ServiceCheck(ReportPane& pane);
    // Stops the current manager cleanly; uninstalls AppIdle.
    ~ServiceCheck();
    ServiceCheck(const ServiceCheck&) = delete;
    ServiceCheck& operator=(const ServiceCheck&) = delete;

    // The button press: clears the pane, installs AppIdle, replaces the
    // current manager with a new one (the previous one is stopped and freed:
    // its events were never to be shown), writes whether the service was
    // reached and, if so, starts the new manager.
    void btn_configClick();

    // The idle handler: gives the current manager, if it is valid, one
    // dispatch turn. Done is set to true: the loop may wait for the next
    // message.
    void AppIdle(bool& Done);

    // Reader found: its name as a line shows it (ShownText) and CR LF,
    // plain black.
    void PCSCReaderFound(pcsc::TPCSC* Sender, const std::u16string& ReaderName);

    // Whether the managers of the next presses read each new reader's
    // details (a direct connection to the reader, at its discovery). On by
    // default; a front end that never shows them turns it off.
    void SetReadReaderDetails(bool Value) { FReadReaderDetails = Value; }

    // The current manager (none before the first press). A front end may
    // hook more handlers on it right after the press: its first events are
    // dispatched only once the main loop runs again.
    pcsc::TPCSC* Manager() const { return FPCSC.get(); }
    // Stops and frees the current manager (program exit).
    void Stop();

private:
    ReportPane& lecteur1;
    std::unique_ptr<pcsc::TPCSC> FPCSC;
    bool FIdleInstalled = false;
    bool FReadReaderDetails = true;
};

}  // namespace checks
