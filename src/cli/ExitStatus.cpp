#include "cli/ExitStatus.h"

namespace cli {

namespace {

// A port the check could not read is reported, not found.
bool PortFound(const CheckOutcome& outcome) {
    for (const checks::SerialPort& port : outcome.ports) {
        if (!port.error) return true;
    }
    return false;
}

}  // namespace

int ExitStatus(const Options& options, const std::vector<CheckOutcome>& outcomes) {
    for (const CheckOutcome& outcome : outcomes) {
        if (outcome.error) return kExitCheckError;
    }
    const bool onlySerial = options.checks.size() == 1 && options.checks.front() == CheckId::Serial;
    for (const CheckOutcome& outcome : outcomes) {
        if (outcome.id != CheckId::Serial && !outcome.readers.empty()) return kExitReaderFound;
        if (onlySerial && outcome.id == CheckId::Serial && PortFound(outcome))
            return kExitReaderFound;
    }
    for (const CheckOutcome& outcome : outcomes) {
        if (outcome.unreachable) return kExitUnreachable;
    }
    return kExitNothingFound;
}

}  // namespace cli
