// The part of the watchdog that is the same on every platform: the step and
// the calls it names, and what it does when time is up.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

#include "cli/Bilan.h"
#include "cli/Options.h"
#include "cli/Watchdog.h"
#include "pcsc/InFlight.h"

namespace cli {
namespace {

std::atomic<const char*> g_step{nullptr};

std::string Step() {
    const char* step = CurrentStep();
    return step ? std::string(" (étape en cours : ") + step + ")" : std::string();
}

}  // namespace

void NoteStep(const char* step) {
    g_step.store(step, std::memory_order_release);
}

const char* CurrentStep() {
    return g_step.load(std::memory_order_acquire);
}

std::string BlockedCalls() {
    std::vector<std::string> seen;
    std::string names;
    for (const std::string& name : pcsc::ServiceCallsInFlight()) {
        // Two threads inside the same entry point: it is named once.
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        if (!names.empty()) names += ", ";
        names += name;
    }
    return names;
}

std::string NoAnswerText(const std::string& calls) {
    const bool several = calls.find(',') != std::string::npos;
    return calls + (several ? " n'ont pas répondu" : " n'a pas répondu");
}

bool Watchdog::Take(int event, Clock::time_point& graceEnd) {
    if (event == 0) return false;
    if (graceEnd == kNever) {
        graceEnd = Clock::now() + kStopGrace;
        stop_.Request(event);
    }
    return true;
}

void Watchdog::CheckExpiry(Clock::time_point deadline, Clock::time_point graceEnd) {
    const Clock::time_point now = Clock::now();
    // With a call named, the verdict's line for a service that does not
    // answer follows: the run ends without its Bilan.
    if (now >= graceEnd) {
        const std::string calls = BlockedCalls();
        Abandon(calls.empty()
                    ? "Arrêt impossible en 2 s" + Step()
                    : "Arrêt impossible en 2 s : " + NoAnswerText(calls) + "\n" + NoAnswerLines());
    }
    if (now >= deadline) {
        const std::string calls = BlockedCalls();
        Abandon(calls.empty() ? "Vérifications inachevées après " + limitText_ + " s" + Step()
                              : "Pas de réponse du service de cartes à puce après " + limitText_ +
                                    " s : " + NoAnswerText(calls) + "\n" + NoAnswerLines());
    }
}

void Watchdog::Abandon(const std::string& why) {
    err_.Write(why.ends_with('\n') ? why : why + "\n");
    // Nothing else can be trusted now: no destructor, no atexit handler.
    std::_Exit(kExitNoAnswer);
}

}  // namespace cli
