// The serial-port and direct checks, each run once over a pane of its own.
#pragma once

#include <functional>

#include "checks/Report.h"
#include "checks/SerialCheck.h"
#include "cli/Outcome.h"

namespace cli {

// The serial-port check of this platform, or another source of ports.
using SerialCheckRunner = std::function<checks::SerialCheckResult(checks::ReportPane&)>;

// An error that stops the check (a port value that is not text) is kept in
// the outcome with the lines written before it.
CheckOutcome RunSerialOnce(const SerialCheckRunner& runner);

CheckOutcome RunDirectOnce();

// The direct check's codes that mean the service or the library could not be
// reached: no library or function, no context, or a service gone.
bool DirectUnreachable(const CheckOutcome& direct);

}  // namespace cli
