// --watch: after the checks, the service is followed and every reader and
// card event is printed with its time, until a stop is requested.
#pragma once

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "cli/Output.h"
#include "cli/ServiceSession.h"
#include "cli/StopRequest.h"
#include "cli/TextPrinter.h"

namespace cli {

// Local time with milliseconds: 2024-05-02 11:15:00.123.
std::string LocalTimestamp(std::chrono::system_clock::time_point time);

// Prints the events of the watched service. Until GoLive they are kept: the
// report comes first. In JSON every event is printed, from the first
// listing's; in text the readers found before GoLive are in the report
// already and are not repeated.
class EventPrinter {
public:
    EventPrinter(Output& out, bool json, bool color, bool details);

    void operator()(const ServiceEvent& event);
    // Prints what was kept, then every event as it comes.
    void GoLive();
    // A line about the watching itself (service unreachable, reached again):
    // on stdout with its time in text, on stderr in JSON.
    void Status(const std::u16string& text, Output& err);

private:
    void Print(const ServiceEvent& event, bool inReport);
    std::u16string Text(const ServiceEvent& event);

    Output& out_;
    TextPrinter text_;
    const bool json_;
    const bool details_;
    bool live_ = false;
    std::vector<ServiceEvent> kept_;
    // Readers whose card state has been reported once: the first report
    // tells what the reader holds, the later ones what changed.
    std::set<std::u16string> stateKnown_;
};

// Follows the service with session until stop is requested, trying again
// every second with a new manager while the service cannot be reached.
// Returns the exit status: 0 once stopped cleanly, 3 when a service call is
// still blocked after the manager's stop (named on err).
int FollowService(ServiceSession& session, pcsc::PlainMainLoop& loop, EventPrinter& printer,
                  const StopRequest& stop, Output& err);

}  // namespace cli
