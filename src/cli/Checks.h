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

// A PC/SC check (service or direct) could not reach the service or the
// library (no library or function, no context), or got no readable list
// from it (a listing that failed with any code but "no reader", or a list
// that could not be read): exit status 2.
bool Unreachable(const CheckOutcome& check);

}  // namespace cli
