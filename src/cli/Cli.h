// vardel-lecteurs-cli as a function: the selected checks in tab order, their
// reports as text or JSON, then, with --watch, the service followed until a
// stop is requested. main() adds the process's parts (signals, watchdog).
#pragma once

#include "cli/Bilan.h"
#include "cli/Checks.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopRequest.h"

namespace cli {

struct Environment {
    Output& out;
    Output& err;
    StopRequest& stop;
    // Whether out is a terminal (colours with --color=auto).
    bool outIsTerminal = false;
    SerialCheckRunner serialCheck = checks::RunPlatformSerialCheck;
    MachineFactsReader machineFacts = checks::ReadMachineFacts;
};

// Runs on the calling thread, which becomes the main thread (a main loop is
// installed on it for the run). Returns the exit status.
int RunCli(const Options& options, Environment& environment);

}  // namespace cli
