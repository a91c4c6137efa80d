#include "cli/Checks.h"

#include <exception>

#include "checks/safeModule.h"
#include "pcsc/ServiceStatus.h"
#include "pcsc/TextConversions.h"

namespace cli {

CheckOutcome RunSerialOnce(const SerialCheckRunner& runner) {
    CheckOutcome outcome;
    outcome.id = CheckId::Serial;
    checks::RecordingPane pane;
    try {
        outcome.ports = runner(pane).ports;
    } catch (const std::exception& error) {
        outcome.error = error.what();
    }
    outcome.pieces = pane.Pieces();
    return outcome;
}

bool Unreachable(const CheckOutcome& check) {
    // A failed context is never followed by a listing.
    if (!check.establishCode || pcsc::IsServiceUnreachable(*check.establishCode)) return true;
    return !check.listCode || check.listMalformed || pcsc::IsServiceUnreachable(*check.listCode);
}

CheckOutcome RunDirectOnce() {
    CheckOutcome outcome;
    outcome.id = CheckId::Direct;
    checks::RecordingPane pane;
    // The window's hidden reader list; the terminal has no use for it after
    // the run.
    pcsc::StringList hidden;
    try {
        const checks::DirectCheckResult result = checks::RunDirectCheck(pane, hidden);
        outcome.establishCode = result.establish;
        outcome.listCode = result.list;
        outcome.listMalformed = result.splitFailed;
        outcome.listedBytes = result.nameBytes;
        outcome.pieces = pane.Pieces();
        // The reader lines are the last pieces, one per name.
        const std::size_t count = outcome.pieces.size();
        const std::size_t first = count >= result.names.size() ? count - result.names.size() : 0;
        for (std::size_t i = 0; i < result.names.size(); ++i) {
            FoundReader reader{result.names[i], first + i, std::nullopt, std::nullopt};
            // pcsc-lite's bytes pass through as they are; Windows' are the
            // ANSI code page's, always read.
            if (pcsc::kNamesAreBytes && i < result.nameBytes.size() &&
                pcsc::HasUndecodedBytes(pcsc::NameFromBytes(result.nameBytes[i])))
                reader.nameBytes = result.nameBytes[i];
            outcome.readers.push_back(std::move(reader));
        }
    } catch (const std::exception& error) {
        outcome.error = error.what();
        outcome.pieces = pane.Pieces();
    }
    outcome.unreachable = Unreachable(outcome);
    return outcome;
}

}  // namespace cli
