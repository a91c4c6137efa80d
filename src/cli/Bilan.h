// The verdict that ends every report: what the checks learned (their
// outcomes) handed to the checks' verdict table, then shown as the text's
// "== Bilan ==" section or the JSON's "diagnosis".
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "checks/MachineFacts.h"
#include "checks/Verdict.h"
#include "cli/Outcome.h"
#include "cli/TextPrinter.h"

namespace cli {

// What the verdict needs of the machine; the real machine's, or a test's.
using MachineFactsReader = std::function<checks::MachineFacts()>;

// The findings of the checks that ran, from their outcomes.
checks::Findings FindingsOf(const std::vector<CheckOutcome>& outcomes);

// "== Bilan ==", then one line per check ("OK", "ATTENTION" or "ÉCHEC",
// " : ", the summary; bold, green, black and red) and, under it, one line
// "À faire : …" per advice not already given above.
void PrintBilan(TextPrinter& printer, const std::vector<checks::Verdict>& verdicts);

// The lines "ÉCHEC : …" and "À faire : …" of a run that a service call
// never answered, for stderr (UTF-8, each line ended).
std::string NoAnswerLines();

// The command line's name of a verdict's check.
CheckId IdOf(checks::CheckKind kind);

// "ok", "warning", "error".
std::string_view StatusName(checks::VerdictStatus status);

}  // namespace cli
