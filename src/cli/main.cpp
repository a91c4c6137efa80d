// vardel-lecteurs-cli: the reader checks in a terminal.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "cli/Cli.h"
#include "cli/Watchdog.h"
#include "pcsc/InFlight.h"
#if defined(_WIN32)
#include "cli/ConsoleWin32.h"
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
    cli::UseUtf8Console();
#endif
    cli::FileOutput out(stdout);
    cli::FileOutput err(stderr);
    cli::Options options;
    try {
        options = cli::ParseArguments(std::vector<std::string_view>(argv + 1, argv + argc));
    } catch (const cli::UsageError& error) {
        err.Write(std::string("vardel-lecteurs-cli : ") + error.what() +
                  "\nEssayez « vardel-lecteurs-cli --help ».\n");
        return cli::kExitUsage;
    }

    cli::StopRequest stop;
    const bool limited = !options.watch && !options.help && !options.version && !options.explain;
    cli::Watchdog watchdog(stop, err, limited ? std::optional(options.timeout) : std::nullopt,
                           options.timeoutText);
    cli::Environment environment{out, err, stop, ::isatty(STDOUT_FILENO) == 1};
    int status;
    try {
        status = cli::RunCli(options, environment);
    } catch (const std::exception& error) {
        err.Write(std::string("vardel-lecteurs-cli : ") + error.what() + "\n");
        status = cli::kExitCheckError;
    }
    watchdog.Finish();
    // A thread still inside the service would run into the library's
    // teardown: leave without it.
    if (!pcsc::ServiceCallsInFlight().empty()) ::_exit(status);
    return status;
}
