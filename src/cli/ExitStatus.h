// The exit status of a run that went to its end, from what the checks found.
#pragma once

#include <vector>

#include "cli/Options.h"
#include "cli/Outcome.h"

namespace cli {

// First matching rule: 4 when a check stopped on an error; 0 when a selected
// PC/SC check (service or direct) found a reader, or, with only the serial
// check selected, when it found a USB serial port (one it could read); 2 when
// a check could not reach the smart-card service or library, or the service
// answered but its reader list could not be read; 1 otherwise.
int ExitStatus(const Options& options, const std::vector<CheckOutcome>& outcomes);

}  // namespace cli
