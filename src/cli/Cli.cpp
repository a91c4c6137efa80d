#include "cli/Cli.h"

#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "checks/safeModule.h"
#include "cli/ExitStatus.h"
#include "cli/JsonReport.h"
#include "cli/ServiceSession.h"
#include "cli/TextPrinter.h"
#include "cli/Watch.h"
#include "cli/Watchdog.h"
#include "pcsc/MainThread.h"
#include "pcsc/TextConversions.h"

namespace cli {
namespace {

bool UseColor(ColorMode mode, bool outIsTerminal) {
    if (mode != ColorMode::Auto) return mode == ColorMode::Always;
    const char* noColor = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return outIsTerminal && !(noColor && *noColor) && !(term && std::string_view(term) == "dumb");
}

int Explain(pcsc::Status code, Output& out) {
    out.Write(pcsc::Utf16ToUtf8(checks::SCardErrorText(code)) + "\n");
    return kExitStopped;
}

// An interrupted run without --watch: 128 + the signal, as shells report it.
int Interrupted(const StopRequest& stop) {
    return 128 + (stop.Signal() > 0 ? stop.Signal() : 2);
}

// A stop was asked for: the manager goes, and nothing more is printed.
int StopNow(const Options& options, Environment& env, ServiceSession* session) {
    if (session) session->Stop();
    if (const std::string blocked = BlockedCalls(); !blocked.empty()) {
        env.err.Write("Arrêt incomplet : " + NoAnswerText(blocked) + "\n" + NoAnswerLines());
        return kExitNoAnswer;
    }
    return options.watch ? kExitStopped : Interrupted(env.stop);
}

// The service check in one run. With --watch the session stays in `kept`,
// its manager running and its events going to `events`; otherwise the
// manager is stopped once its first listing is out.
CheckOutcome ServiceCheckOnce(const Options& options, Environment& env, pcsc::PlainMainLoop& loop,
                              EventPrinter& events, std::unique_ptr<ServiceSession>& kept) {
    auto session = std::make_unique<ServiceSession>(loop, options.details);
    if (options.watch) session->SetOnEvent([&events](const ServiceEvent& e) { events(e); });
    if (session->Press()) session->RunUntilFirstListing(env.stop);
    CheckOutcome outcome = session->Outcome();
    if (options.watch) {
        kept = std::move(session);
    } else {
        session->Stop();
    }
    return outcome;
}

}  // namespace

int RunCli(const Options& options, Environment& env) {
    if (options.help) {
        env.out.Write(HelpText());
        return kExitStopped;
    }
    if (options.version) {
        env.out.Write(VersionText() + "\n");
        return kExitStopped;
    }
    if (options.explain) return Explain(*options.explain, env.out);

    const bool color = !options.json && UseColor(options.color, env.outIsTerminal);
    pcsc::PlainMainLoop loop;
    pcsc::SetMainThread(&loop);
    StopAttachment attachment(env.stop, loop);
    TextPrinter printer(env.out, color);
    EventPrinter events(env.out, options.json, color, options.details);
    std::unique_ptr<ServiceSession> session;  // --watch: the manager followed

    std::vector<CheckOutcome> outcomes;
    for (const CheckId id : options.checks) {
        if (env.stop.Requested()) break;
        NoteStep(CheckTitleUtf8(id));
        CheckOutcome outcome;
        switch (id) {
            case CheckId::Service:
                outcome = ServiceCheckOnce(options, env, loop, events, session);
                break;
            case CheckId::Serial: outcome = RunSerialOnce(env.serialCheck); break;
            case CheckId::Direct: outcome = RunDirectOnce(); break;
        }
        NoteStep(nullptr);
        if (env.stop.Requested()) break;  // a report cut short is not shown
        // A watcher that did not end after its manager's stop is blocked in
        // the service: the next calls would block as well.
        if (const std::string blocked = BlockedCalls(); !blocked.empty() && !session) {
            env.err.Write("Pas de réponse du service de cartes à puce : " + NoAnswerText(blocked) +
                          "\n" + NoAnswerLines());
            return kExitNoAnswer;
        }
        if (!options.json) printer.Check(outcome, options.details);
        if (outcome.error) env.err.Write(*outcome.error + "\n");
        outcomes.push_back(std::move(outcome));
    }
    if (env.stop.Requested()) return StopNow(options, env, session.get());
    const std::vector<checks::Verdict> verdicts =
        checks::Diagnose(FindingsOf(outcomes), env.machineFacts());
    if (options.json) {
        env.out.Write(JsonDocument(outcomes, options.details, verdicts) + "\n");
    } else {
        PrintBilan(printer, verdicts);
    }
    if (!options.watch) return ExitStatus(options, outcomes);

    NoteStep("suivi du service");
    if (!session) {
        session = std::make_unique<ServiceSession>(loop, options.details);
        session->SetOnEvent([&events](const ServiceEvent& e) { events(e); });
        session->Press();
    }
    session->StopKeepingReport();
    if (!options.json) printer.BlankLine();
    events.GoLive();
    const int status = FollowService(*session, loop, events, env.stop, env.err);
    NoteStep(nullptr);
    return status;
}

}  // namespace cli
