// Never hang without a word: a frozen smart-card service blocks its calls
// without limit, the main thread's included. A thread of its own therefore
// watches the run:
//   - SIGINT and SIGTERM only write their number into a pipe; the watchdog
//     reads it and asks the main thread to stop (StopRequest). If the run has
//     not finished 2 s later, it names the service calls still in flight on
//     stderr and ends the process with status 3;
//   - with a time limit (a run without --watch), when the run has not
//     finished by then, it does the same.
// Nothing else can be trusted at that point: the process ends with _exit.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "cli/Output.h"
#include "cli/StopRequest.h"

namespace cli {

// The step the main thread is in (a check's caption), named when no service
// call is: some calls are not recorded (the direct check's own). A static
// text; nullptr for none. Any thread.
void NoteStep(const char* step);
const char* CurrentStep();

// The service calls some thread is inside right now, "A, B" ("" for none).
std::string BlockedCalls();
// "A n'a pas répondu" / "A, B n'ont pas répondu".
std::string NoAnswerText(const std::string& calls);

class Watchdog {
public:
    static constexpr std::chrono::seconds kStopGrace{2};

    // Installs the SIGINT and SIGTERM handlers and starts the thread.
    // limit: the run's time limit (none for --watch); limitText: how the
    // user gave it, for the message.
    Watchdog(StopRequest& stop, Output& err, std::optional<std::chrono::milliseconds> limit,
             std::string limitText);
    // Finishes if not done yet.
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // The run is over: the thread ends and the signals get their default
    // handling back.
    void Finish();

private:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::time_point kNever = Clock::time_point::max();

    // The thread's loop, one per platform (Watchdog.cpp, WatchdogWin32.cpp).
    void Run();
    // What both loops do with what they are told: a stop request (a signal
    // number) starts the grace time; 0 means Finish, and gives false.
    bool Take(int event, Clock::time_point& graceEnd);
    // Ends the process, naming what did not answer, once the grace time or
    // the run's time limit has run out.
    void CheckExpiry(Clock::time_point deadline, Clock::time_point graceEnd);
    [[noreturn]] void Abandon(const std::string& why);

    StopRequest& stop_;
    Output& err_;
    const std::optional<std::chrono::milliseconds> limit_;
    const std::string limitText_;
    int pipe_[2] = {-1, -1};
    std::thread thread_;
    bool finished_ = false;
};

}  // namespace cli
