#include "cli/Watch.h"

#include <cstdio>
#include <ctime>

#include "checks/Card.h"
#include "checks/ShownText.h"
#include "checks/safeModule.h"
#include "cli/Bilan.h"
#include "cli/JsonReport.h"
#include "cli/Watchdog.h"
#include "pcsc/TextConversions.h"
#include "pcsc/Tools.h"

namespace cli {
namespace {

constexpr std::chrono::seconds kRetryPeriod{1};

std::u16string Widen(const std::string& ascii) {
    return pcsc::Utf8ToUtf16(ascii);
}

std::u16string ServiceLostText(const ServiceEvent& event) {
#if defined(_WIN32)
    // Since Windows 8 the service stops by itself when the last reader goes,
    // and starts again when one is plugged: nothing is lost.
    if (event.readersLeft == 0)
        return u"Service de cartes à puce arrêté par Windows : plus aucun lecteur n'est branché";
#endif
    const pcsc::Status code = event.code.value_or(pcsc::SCARD_S_SUCCESS);
    return u"Service de cartes à puce perdu : " + checks::SCardErrorText(code) + u" (" +
           Widen(std::to_string(static_cast<std::int32_t>(code))) + u")";
}

}  // namespace

std::string LocalTimestamp(std::chrono::system_clock::time_point time) {
    const auto since = time.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count();
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm local{};
    localtime_r(&whole, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

EventPrinter::EventPrinter(Output& out, bool json, bool color, bool details)
    : out_(out), text_(out, color), json_(json), details_(details) {}

void EventPrinter::operator()(const ServiceEvent& event) {
    if (live_) {
        Print(event, false);
    } else {
        kept_.push_back(event);
    }
}

void EventPrinter::GoLive() {
    if (!json_)
        text_.Line(u"Suivi des lecteurs et des cartes (Ctrl+C pour arrêter)", checks::kUnderline);
    live_ = true;
    std::vector<ServiceEvent> kept;
    kept.swap(kept_);
    for (const ServiceEvent& event : kept) Print(event, true);
}

void EventPrinter::Status(const std::u16string& text, Output& err) {
    const std::string stamp = LocalTimestamp(std::chrono::system_clock::now());
    if (json_) {
        err.Write(stamp + " " + pcsc::Utf16ToUtf8(text) + "\n");
    } else {
        text_.Line(Widen(stamp) + u"  " + text);
    }
}

std::u16string EventPrinter::Text(const ServiceEvent& event) {
    const bool known = stateKnown_.count(event.reader) != 0;
    const std::u16string reader = checks::ShownText(event.reader);
    switch (event.kind) {
        case EventKind::ReaderFound: return u"Lecteur trouvé : " + reader;
        case EventKind::ReaderRemoved:
            stateKnown_.erase(event.reader);
            return u"Lecteur retiré : " + reader;
        case EventKind::CardInserted: {
            stateKnown_.insert(event.reader);
            std::u16string line = (known ? u"Carte insérée : " : u"Carte présente : ") + reader;
            if (!event.atr.empty()) line += u" (" + checks::AtrText(event.atr) + u")";
            return line;
        }
        case EventKind::CardRemoved:
            stateKnown_.insert(event.reader);
            return (known ? u"Carte retirée : " : u"Aucune carte : ") + reader;
        case EventKind::CardError:
            stateKnown_.insert(event.reader);
            return u"Carte illisible : " + reader;
        case EventKind::ServiceLost: return ServiceLostText(event);
        case EventKind::ServiceBack: return u"Service de cartes à puce de nouveau joignable";
    }
    return reader;
}

void EventPrinter::Print(const ServiceEvent& event, bool inReport) {
    if (json_) {
        out_.Write(JsonEvent(event) + "\n");
        return;
    }
    // Kept readers found are the report's reader lines.
    if (inReport && event.kind == EventKind::ReaderFound) return;
    checks::Color color = checks::kBlack;
    if (event.kind == EventKind::CardInserted || event.kind == EventKind::ServiceBack)
        color = checks::kGreen;
    if (event.kind == EventKind::CardError) color = checks::kRed;
#if defined(_WIN32)
    if (event.kind == EventKind::ServiceLost && event.readersLeft != 0) color = checks::kRed;
#else
    if (event.kind == EventKind::ServiceLost) color = checks::kRed;
#endif
    text_.Line(Widen(LocalTimestamp(event.time)) + u"  " + Text(event), checks::kPlain, color);
    if (details_ && event.kind == EventKind::ReaderFound)
        text_.Details(event.details.value_or(ReaderDetails{}), event.readerBytes);
}

int FollowService(ServiceSession& session, pcsc::PlainMainLoop& loop, EventPrinter& printer,
                  const StopRequest& stop, Output& err) {
    const auto stopped = [&stop] { return stop.Requested(); };
    if (!session.Valid() && !stop.Requested())
        printer.Status(u"Service injoignable, nouvelle tentative dans 1 s", err);
    while (!stop.Requested()) {
        if (session.Valid()) {
            loop.RunUntil(stopped, std::chrono::steady_clock::time_point::max());
            continue;
        }
        loop.RunUntil(stopped, std::chrono::steady_clock::now() + kRetryPeriod);
        if (stop.Requested()) break;
        // Reached at last: said as when it comes back after an outage.
        if (session.Press())
            printer(ServiceEvent{std::chrono::system_clock::now(), EventKind::ServiceBack});
    }
    session.Stop();
    if (const std::string blocked = BlockedCalls(); !blocked.empty()) {
        err.Write("Arrêt incomplet : " + NoAnswerText(blocked) + "\n" + NoAnswerLines());
        return kExitNoAnswer;
    }
    return kExitStopped;
}

}  // namespace cli
