#include "cli/Bilan.h"

#include <set>

#include "pcsc/TextConversions.h"

namespace cli {
namespace {

checks::CheckKind KindOf(CheckId id) {
    switch (id) {
        case CheckId::Service: return checks::CheckKind::Service;
        case CheckId::Serial: return checks::CheckKind::Serial;
        case CheckId::Direct: return checks::CheckKind::Direct;
    }
    return checks::CheckKind::Service;
}

checks::Color ColorOf(checks::VerdictStatus status) {
    switch (status) {
        case checks::VerdictStatus::Ok: return checks::kGreen;
        case checks::VerdictStatus::Warning: return checks::kBlack;
        case checks::VerdictStatus::Error: return checks::kRed;
    }
    return checks::kBlack;
}

std::u16string StatusLine(const checks::Verdict& verdict) {
    return std::u16string(checks::VerdictWord(verdict.status)) + u" : " + verdict.summary;
}

constexpr std::u16string_view kAdvice = u"À faire : ";

}  // namespace

checks::Findings FindingsOf(const std::vector<CheckOutcome>& outcomes) {
    checks::Findings findings;
    for (const CheckOutcome& outcome : outcomes) {
        switch (KindOf(outcome.id)) {
            case checks::CheckKind::Service: {
                checks::ServiceFindings& service = findings.service.emplace();
                service.establish = outcome.establishCode;
                if (outcome.listCode)
                    service.listing = pcsc::ListingResult{*outcome.listCode, outcome.listMalformed};
                for (const FoundReader& reader : outcome.readers) {
                    const CardSeen card = reader.card.value_or(CardSeen{});
                    service.readers.push_back({reader.name, card.state, card.atr});
                }
                break;
            }
            case checks::CheckKind::Serial:
                findings.serial = checks::SerialFindings{{true, outcome.ports}, outcome.error};
                break;
            case checks::CheckKind::Direct: {
                checks::DirectCheckResult& direct = findings.direct.emplace();
                direct.establish = outcome.establishCode;
                direct.list = outcome.listCode;
                direct.splitFailed = outcome.listMalformed;
                for (const FoundReader& reader : outcome.readers)
                    direct.names.push_back(reader.name);
                direct.nameBytes = outcome.listedBytes;
                break;
            }
        }
    }
    return findings;
}

void PrintBilan(TextPrinter& printer, const std::vector<checks::Verdict>& verdicts) {
    printer.BlankLine();
    printer.Line(u"== Bilan ==", checks::kBold, checks::kBlack);
    // The same step for two checks (both PC/SC checks without a service)
    // is said once.
    std::set<std::u16string> given;
    for (const checks::Verdict& verdict : verdicts) {
        printer.Line(StatusLine(verdict), checks::kBold, ColorOf(verdict.status));
        for (const std::u16string& advice : verdict.advice) {
            if (given.insert(advice).second) printer.Line(std::u16string(kAdvice) + advice);
        }
    }
}

std::string NoAnswerLines() {
    const checks::Verdict verdict = checks::NoAnswerVerdict();
    std::string lines = pcsc::Utf16ToUtf8(StatusLine(verdict)) + "\n";
    for (const std::u16string& advice : verdict.advice)
        lines += pcsc::Utf16ToUtf8(std::u16string(kAdvice) + advice) + "\n";
    return lines;
}

CheckId IdOf(checks::CheckKind kind) {
    switch (kind) {
        case checks::CheckKind::Service: return CheckId::Service;
        case checks::CheckKind::Serial: return CheckId::Serial;
        case checks::CheckKind::Direct: return CheckId::Direct;
    }
    return CheckId::Service;
}

std::string_view StatusName(checks::VerdictStatus status) {
    switch (status) {
        case checks::VerdictStatus::Ok: return "ok";
        case checks::VerdictStatus::Warning: return "warning";
        case checks::VerdictStatus::Error: return "error";
    }
    return "";
}

}  // namespace cli
