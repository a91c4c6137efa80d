#include "cli/JsonReport.h"

#include <cstdio>
#include <ctime>

#include "checks/Card.h"
#include "cli/Bilan.h"
#include "cli/Json.h"
#include "pcsc/Atr.h"
#include "pcsc/Tools.h"

namespace cli {
namespace {

std::string TextOrNull(const std::u16string& text) {
    return text.empty() ? std::string(json::kNull) : json::String(text);
}

std::string VersionOrNull(const std::optional<std::string>& version) {
    return version ? json::String(*version) : std::string(json::kNull);
}

// Two upper-case hexadecimal digits per byte, no blanks: what a name that is
// not all UTF-8 was, byte for byte.
std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0F];
    }
    return hex;
}

std::optional<std::string> HexOf(const std::optional<std::string>& bytes) {
    if (!bytes) return std::nullopt;
    return json::String(Hex(*bytes));
}

std::string Piece(const checks::ReportPiece& piece) {
    json::Array style;
    if (piece.style.bold) style.Add(json::String("bold"));
    if (piece.style.italic) style.Add(json::String("italic"));
    if (piece.style.underline) style.Add(json::String("underline"));
    if (piece.style.strikeOut) style.Add(json::String("strikeout"));
    return json::Object()
        .Add("text", json::String(piece.text))
        .Add("style", style.Close())
        .Add("color", json::String(HtmlColor(piece.color)))
        .Close();
}

std::string_view CardStateName(pcsc::TCardState state) {
    switch (state) {
        case pcsc::TCardState::csNoCard: return "absent";
        case pcsc::TCardState::csAvailable: return "present";
        case pcsc::TCardState::csExclusive: return "exclusive";
        case pcsc::TCardState::csShared: return "shared";
        case pcsc::TCardState::csBadCard: return "mute";
        case pcsc::TCardState::csUnknown: break;
    }
    return "unknown";
}

std::string Card(const std::optional<CardSeen>& card) {
    const CardSeen seen = card.value_or(CardSeen{});
    json::Object object;
    object.Add("state", json::String(CardStateName(seen.state)));
    if (!seen.atr.empty()) AddAtr(object, seen.atr);
    return object.Close();
}

std::string Reader(const FoundReader& reader, bool details) {
    json::Object object;
    object.Add("name", json::String(reader.name));
    object.AddIf("nameHex", HexOf(reader.nameBytes));
    if (details) {
        const ReaderDetails d = reader.details.value_or(ReaderDetails{});
        object.Add("displayName", TextOrNull(d.displayName))
            .Add("vendor", TextOrNull(d.vendor))
            .Add("serial", TextOrNull(d.serial))
            .Add("driverVersion", VersionOrNull(d.driverVersion))
            .Add("firmwareVersion", VersionOrNull(d.firmwareVersion))
            .Add("card", Card(reader.card));
    }
    return object.Close();
}

std::string Code(pcsc::Status code) {
    return json::Integer(static_cast<std::int32_t>(code));
}

// The calls' codes, each absent when its call was not made, and whether the
// list the library answered could not be read.
void AddCodes(json::Object& object, const CheckOutcome& outcome) {
    json::Object codes;
    if (outcome.establishCode) codes.Add("establish", Code(*outcome.establishCode));
    if (outcome.listCode) codes.Add("list", Code(*outcome.listCode));
    object.Add("codes", codes.Close());
    if (outcome.listMalformed) object.Add("listMalformed", json::Boolean(true));
}

std::string Port(const checks::SerialPort& port) {
    json::Object object;
    object.Add("port", json::String(port.port));
    if (port.error) {
        object.Add("error", json::String(*port.error));
    } else {
        object.Add("device", json::String(port.device));
        object.AddIf("deviceHex", HexOf(port.deviceBytes));
    }
    return object.Close();
}

std::string Check(const CheckOutcome& outcome, bool details) {
    json::Object object;
    object.Add("id", json::String(CheckName(outcome.id)));
    object.Add("title", json::String(CheckTitle(outcome.id)));
    json::Array pieces;
    for (const checks::ReportPiece& piece : outcome.pieces) pieces.Add(Piece(piece));
    object.Add("pieces", pieces.Close());
    switch (outcome.id) {
        case CheckId::Service: {
            object.Add("serviceReached", json::Boolean(outcome.serviceReached.value_or(false)));
            json::Array readers;
            for (const FoundReader& reader : outcome.readers) readers.Add(Reader(reader, details));
            object.Add("readers", readers.Close());
            AddCodes(object, outcome);
            break;
        }
        case CheckId::Serial: {
            json::Array ports;
            for (const checks::SerialPort& port : outcome.ports) ports.Add(Port(port));
            object.Add("ports", ports.Close());
            break;
        }
        case CheckId::Direct: {
            json::Array readers;
            for (const FoundReader& reader : outcome.readers) readers.Add(Reader(reader, false));
            object.Add("readers", readers.Close());
            AddCodes(object, outcome);
            break;
        }
    }
    if (outcome.error) object.Add("error", json::String(*outcome.error));
    return object.Close();
}

std::string Diagnosis(const checks::Verdict& verdict) {
    json::Object object;
    object.Add("check", json::String(CheckName(IdOf(verdict.check))))
        .Add("status", json::String(StatusName(verdict.status)))
        .Add("summary", json::String(verdict.summary));
    if (!verdict.advice.empty()) {
        json::Array advice;
        for (const std::u16string& line : verdict.advice) advice.Add(json::String(line));
        object.Add("advice", advice.Close());
    }
    return object.Close();
}

}  // namespace

void AddAtr(json::Object& object, const pcsc::Bytes& atr) {
    const pcsc::AtrInfo info = pcsc::DecodeAtr(atr);
    object.Add("atr", json::String(pcsc::BytesToHexString(atr)));
    if (info.convention != pcsc::AtrConvention::Unknown)
        object.Add(
            "convention",
            json::String(info.convention == pcsc::AtrConvention::Direct ? "direct" : "inverse"));
    json::Array protocols;
    for (const std::uint8_t protocol : info.protocols)
        protocols.Add(json::String(checks::ProtocolsText({protocol})));
    object.Add("protocols", protocols.Close());
    if (info.fi) object.Add("fi", json::Integer(*info.fi));
    if (info.di) object.Add("di", json::Integer(*info.di));
    object.Add("historical", json::String(pcsc::BytesToHexString(info.historical)))
        .Add("atrValid", json::Boolean(info.Valid()));
    if (!info.Valid()) object.Add("atrProblem", json::String(checks::AtrProblemText(info.problem)));
}

std::string HtmlColor(checks::Color color) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", static_cast<unsigned>(color & 0xFF),
                  static_cast<unsigned>((color >> 8) & 0xFF),
                  static_cast<unsigned>((color >> 16) & 0xFF));
    return text;
}

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
    const auto since = time.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count();
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string_view EventName(EventKind kind) {
    switch (kind) {
        case EventKind::ReaderFound: return "reader-found";
        case EventKind::ReaderRemoved: return "reader-removed";
        case EventKind::CardInserted: return "card-inserted";
        case EventKind::CardRemoved: return "card-removed";
        case EventKind::CardError: return "card-error";
        case EventKind::ServiceLost: return "service-lost";
        case EventKind::ServiceBack: return "service-back";
    }
    return "";
}

std::string JsonDocument(const std::vector<CheckOutcome>& outcomes, bool details,
                         const std::vector<checks::Verdict>& verdicts) {
    json::Array checks;
    for (const CheckOutcome& outcome : outcomes) checks.Add(Check(outcome, details));
    json::Array diagnosis;
    for (const checks::Verdict& verdict : verdicts) diagnosis.Add(Diagnosis(verdict));
    return json::Object().Add("checks", checks.Close()).Add("diagnosis", diagnosis.Close()).Close();
}

std::string JsonEvent(const ServiceEvent& event) {
    json::Object object;
    object.Add("time", json::String(UtcTimestamp(event.time)))
        .Add("event", json::String(EventName(event.kind)));
    if (event.kind == EventKind::ServiceLost || event.kind == EventKind::ServiceBack) {
        if (event.code) object.Add("code", Code(*event.code));
        return object.Close();
    }
    object.Add("reader", json::String(event.reader));
    object.AddIf("nameHex", HexOf(event.readerBytes));
    if (event.kind == EventKind::CardInserted) AddAtr(object, event.atr);
    return object.Close();
}

}  // namespace cli
