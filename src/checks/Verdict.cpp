#include "checks/Verdict.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <string_view>
#include <utility>

#include "checks/Card.h"
#include "checks/ShownText.h"
#include "pcsc/Atr.h"
#include "pcsc/ServiceStatus.h"
#include "pcsc/TextConversions.h"

namespace checks {
namespace {

enum class Situation : std::uint8_t {
    ServiceReadersListed,
    DirectReadersListed,
    SerialPortsFound,
    NoSerialPort,
    SerialPortUnreadable,
    ServiceUnreachable,
    ServiceNotInstalled,  // Linux: no pcscd at all
    ServiceDisabled,      // Windows: SCardSvr's start type is "disabled"
    LibraryMissing,
    NoReader,
    CcidDriverMissing,   // Linux, with no reader
    ReaderOnSerialPort,  // with no reader
    DirectListTooLong,
    ListingFailed,
    ListMalformed,
    CardExclusive,
    CardMute,
    AtrInvalid,
    OnlyInService,  // on the direct check
    OnlyInDirect,   // on the service check
    NoAnswer,
};

// Each situation's status, sentence and advice. Advice lines are separated by
// a line end; "" is nothing to do. Placeholders: {lecteurs} (a count and
// names), {lecteur}, {noms}, {ports}, {erreur} (an error text and its code),
// {raison}, {bibliotheque}.
struct Row {
    Situation situation;
    VerdictStatus status;
    std::u16string_view sentence;
    std::u16string_view onLinux;
    std::u16string_view onWindows;
};

constexpr std::u16string_view kRestartService =
    u"redémarrer le service de cartes à puce : « systemctl restart pcscd » (en root), puis relancer la "
    u"vérification";
constexpr std::u16string_view kRestartSCardSvr =
    u"redémarrer le service « Carte à puce » : services.msc, ou « sc stop SCardSvr » puis « sc start "
    u"SCardSvr » dans une console administrateur ; puis relancer la vérification";
constexpr std::u16string_view kReplug =
    u"débrancher et rebrancher l'adaptateur série USB, puis relancer la vérification";
constexpr std::u16string_view kCompareAgain =
    u"relancer les vérifications (un lecteur branché ou débranché entre les deux listes en est la cause la "
    u"plus courante) ; si le lecteur manque encore, le débrancher et le rebrancher ({noms})";

using enum Situation;
using enum VerdictStatus;

constexpr Row kSituations[] = {
    {ServiceReadersListed, Ok, u"le service de cartes à puce voit {lecteurs}", u"", u""},
    {DirectReadersListed, Ok, u"l'appel direct à la bibliothèque de cartes à puce liste {lecteurs}",
     u"", u""},
    {SerialPortsFound, Ok, u"le système déclare {ports}", u"", u""},
    {NoSerialPort, Ok, u"aucun port série USB", u"", u""},
    {SerialPortUnreadable, Warning, u"un port série n'a pas pu être lu : {raison}", kReplug,
     kReplug},
    {ServiceUnreachable, Error, u"le service de cartes à puce est injoignable : {erreur}",
     u"démarrer le service de cartes à puce : « systemctl start pcscd.socket » (en root)",
     u"brancher le lecteur : depuis Windows 8, le service « Carte à puce » (SCardSvr) s'arrête quand le "
     u"dernier lecteur est débranché et redémarre quand on en branche un\n"
     u"si un lecteur est déjà branché : démarrer le service « Carte à puce » (services.msc, ou « sc start "
     u"SCardSvr » dans une console administrateur)"},
    {ServiceNotInstalled, Error,
     u"le service de cartes à puce (pcscd) n'est pas installé : {erreur}",
     u"installer le service de cartes à puce et le pilote des lecteurs USB : « apt install pcscd libccid » "
     u"(en root)",
     u""},
    {ServiceDisabled, Error,
     u"le service de cartes à puce est injoignable : {erreur} ; le service « Carte à puce » (SCardSvr) est "
     u"désactivé",
     u"",
     u"remettre le service « Carte à puce » en démarrage manuel : services.msc, ou « sc config SCardSvr "
     u"start= demand » dans une console administrateur ; puis brancher le lecteur"},
    {LibraryMissing, Error,
     u"la bibliothèque de cartes à puce ne peut pas être chargée ou est incomplète : {bibliotheque}",
     u"installer la bibliothèque de cartes à puce : « apt install libpcsclite1 » (en root)",
     u"réparer les fichiers de Windows, winscard.dll compris : « sfc /scannow » dans une console "
     u"administrateur"},
    {NoReader, Warning, u"le service de cartes à puce répond mais ne liste aucun lecteur",
     u"brancher le lecteur (ou le rebrancher sur un autre port USB)",
     u"brancher le lecteur (ou le rebrancher sur un autre port USB) ; s'il n'apparaît toujours pas, "
     u"installer son pilote"},
    {CcidDriverMissing, Warning, u"le pilote des lecteurs USB (libccid) n'est pas installé",
     u"installer le pilote des lecteurs USB : « apt install libccid » (en root), puis rebrancher le lecteur",
     u""},
    {ReaderOnSerialPort, Warning, u"le système déclare {ports}",
     u"un lecteur branché sur un port série ({noms}) se joint par GALSS, pas par le service de cartes à "
     u"puce : le configurer dans GALSS",
     u"un lecteur branché sur un port série ({noms}) se joint par GALSS, pas par le service de cartes à "
     u"puce : le configurer dans GALSS"},
    {DirectListTooLong, Warning,
     u"la liste des lecteurs dépasse les 256 caractères que cet appel lui réserve : c'est une limite de "
     u"cette vérification, pas un défaut de la machine (le service, lui, liste les lecteurs)",
     u"", u""},
    {ListingFailed, Error, u"la liste des lecteurs n'a pas pu être lue : {erreur}", kRestartService,
     kRestartSCardSvr},
    {ListMalformed, Error, u"la liste des lecteurs renvoyée est illisible", kRestartService,
     kRestartSCardSvr},
    {CardExclusive, Warning,
     u"la carte de {lecteur} est utilisée en exclusivité par une autre application",
     u"fermer l'application qui tient la carte de {lecteur}, ou retirer la carte et la réinsérer",
     u"fermer l'application qui tient la carte de {lecteur}, ou retirer la carte et la réinsérer"},
    {CardMute, Warning, u"la carte de {lecteur} ne répond pas",
     u"retirer la carte de {lecteur} et la réinsérer dans le bon sens ; si elle reste muette, essayer une "
     u"autre carte",
     u"retirer la carte de {lecteur} et la réinsérer dans le bon sens ; si elle reste muette, essayer une "
     u"autre carte"},
    {AtrInvalid, Warning, u"la carte de {lecteur} a un ATR incorrect ({raison})",
     u"retirer la carte de {lecteur} et la réinsérer ; si l'ATR reste incorrect, essayer une autre carte ou "
     u"un autre lecteur",
     u"retirer la carte de {lecteur} et la réinsérer ; si l'ATR reste incorrect, essayer une autre carte ou "
     u"un autre lecteur"},
    {OnlyInService, Warning, u"vu par le service mais absent de cette liste : {noms}",
     kCompareAgain, kCompareAgain},
    {OnlyInDirect, Warning, u"listé par l'appel direct mais pas vu par le service : {noms}",
     kCompareAgain, kCompareAgain},
    {NoAnswer, Error, u"le service de cartes à puce ne répond pas", kRestartService,
     u"redémarrer le service « Carte à puce » (services.msc, ou « sc stop SCardSvr » puis « sc start "
     u"SCardSvr » dans une console administrateur), ou redémarrer l'ordinateur"},
};

const Row& RowOf(Situation situation) {
    for (const Row& row : kSituations) {
        if (row.situation == situation) return row;
    }
    return kSituations[0];  // every situation has its row
}

// Beyond this many, a list of names ends with how many more there are.
constexpr std::size_t kNamesShown = 5;

// One situation met, with the values of its placeholders.
struct Met {
    Situation situation;
    std::vector<std::pair<std::u16string_view, std::u16string>> values = {};
};

std::u16string Fill(std::u16string_view text, const Met& met) {
    std::u16string filled(text);
    for (const auto& [name, value] : met.values) {
        for (std::size_t at = filled.find(name); at != std::u16string::npos;
             at = filled.find(name, at + value.size()))
            filled.replace(at, name.size(), value);
    }
    return filled;
}

std::u16string Decimal(std::int64_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// "The Smart card resource manager is not running. (-2146435043)".
std::u16string ErrorText(pcsc::Status code) {
    return SCardErrorText(code) + u" (" + Decimal(static_cast<std::int32_t>(code)) + u")";
}

std::u16string NameList(const std::vector<std::u16string>& names) {
    std::u16string list;
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i) {
        if (i > 0) list += u", ";
        list += ShownText(names[i]);
    }
    if (names.size() > kNamesShown)
        list +=
            u" et " + Decimal(static_cast<std::int64_t>(names.size() - kNamesShown)) + u" autres";
    return list;
}

// "1 lecteur : A", "2 lecteurs : A, B".
std::u16string Counted(const std::vector<std::u16string>& names, std::u16string_view one,
                       std::u16string_view several) {
    return Decimal(static_cast<std::int64_t>(names.size())) + u" " +
           std::u16string(names.size() == 1 ? one : several) + u" : " + NameList(names);
}

Met WithReaders(Situation situation, const std::vector<std::u16string>& names) {
    return {
        situation,
        {{u"{lecteurs}", Counted(names, u"lecteur", u"lecteurs")}, {u"{noms}", NameList(names)}}};
}

Met WithPorts(Situation situation, const std::vector<std::u16string>& ports) {
    return {situation,
            {{u"{ports}", Counted(ports, u"port série USB", u"ports série USB")},
             {u"{noms}", NameList(ports)}}};
}

Met WithError(Situation situation, pcsc::Status code) {
    return {situation, {{u"{erreur}", ErrorText(code)}}};
}

Met WithReader(Situation situation, const std::u16string& name) {
    return {situation, {{u"{lecteur}", ShownText(name)}}};
}

Verdict Compose(CheckKind check, const std::vector<Met>& met) {
    Verdict verdict;
    verdict.check = check;
    for (const Met& m : met) {
        const Row& row = RowOf(m.situation);
        verdict.status = std::max(verdict.status, row.status);
        if (!verdict.summary.empty()) verdict.summary += u" ; ";
        verdict.summary += Fill(row.sentence, m);
#if defined(_WIN32)
        const std::u16string advice = Fill(row.onWindows, m);
#else
        const std::u16string advice = Fill(row.onLinux, m);
#endif
        for (std::size_t start = 0; start < advice.size();) {
            const std::size_t end = std::min(advice.find(u'\n', start), advice.size());
            verdict.advice.push_back(advice.substr(start, end - start));
            start = end + 1;
        }
    }
    return verdict;
}

// The service cannot be reached: the remedy depends on what is installed and
// how the service starts.
Met Unreachable(pcsc::Status code, const MachineFacts& facts) {
#if defined(_WIN32)
    if (facts.serviceStart == kServiceDisabled) return WithError(ServiceDisabled, code);
#else
    if (!facts.serviceInstalled) return WithError(ServiceNotInstalled, code);
#endif
    return WithError(ServiceUnreachable, code);
}

Met LibraryMissingMet(const MachineFacts& facts, std::u16string_view detail = {}) {
    return {LibraryMissing,
            {{u"{bibliotheque}",
              ShownText(pcsc::Utf8ToUtf16(facts.library)) + std::u16string(detail)}}};
}

// Nothing listed: what may explain it on this machine.
void NothingListed(std::vector<Met>& met, const Findings& findings,
                   [[maybe_unused]] const MachineFacts& facts) {
    met.push_back({NoReader});
#if !defined(_WIN32)
    if (!facts.ccidDriverInstalled) met.push_back({CcidDriverMissing});
#endif
    if (findings.serial) {
        std::vector<std::u16string> ports;
        for (const SerialPort& port : findings.serial->result.ports) {
            if (!port.error) ports.push_back(port.port);
        }
        if (!ports.empty()) met.push_back(WithPorts(ReaderOnSerialPort, ports));
    }
}

// The names each PC/SC check listed, compared as both got them: the bytes of
// the 8-bit listing. A name the service gives that has no 8-bit form cannot
// be compared and is left out (and, then, what the direct check lists
// beyond the service too, since it may be that name).
struct Listed {
    std::vector<std::u16string> names;
    std::vector<std::string> keys;
};

std::optional<Listed> ServiceListed(const Findings& findings, bool& uncomparable) {
    if (!findings.service || !findings.service->listing || findings.service->listing->Failed())
        return std::nullopt;
    Listed listed;
    for (const ServiceFindings::Reader& reader : findings.service->readers) {
        if (const std::optional<std::string> key = pcsc::NameToAnsiBytes(reader.name)) {
            listed.names.push_back(reader.name);
            listed.keys.push_back(*key);
        } else {
            uncomparable = true;
        }
    }
    return listed;
}

std::optional<Listed> DirectListed(const Findings& findings) {
    const auto& direct = findings.direct;
    if (!direct || !direct->list || direct->splitFailed) return std::nullopt;
    if (*direct->list != pcsc::SCARD_S_SUCCESS &&
        *direct->list != pcsc::SCARD_E_NO_READERS_AVAILABLE)
        return std::nullopt;
    return Listed{direct->names, direct->nameBytes};
}

std::vector<std::u16string> Missing(const Listed& from, const Listed& in) {
    const std::set<std::string> present(in.keys.begin(), in.keys.end());
    std::vector<std::u16string> missing;
    for (std::size_t i = 0; i < from.names.size() && i < from.keys.size(); ++i) {
        if (present.count(from.keys[i]) == 0) missing.push_back(from.names[i]);
    }
    return missing;
}

void CardProblems(std::vector<Met>& met, const ServiceFindings& service) {
    for (const ServiceFindings::Reader& reader : service.readers) {
        switch (reader.card) {
            case pcsc::TCardState::csExclusive:
                met.push_back(WithReader(CardExclusive, reader.name));
                break;
            case pcsc::TCardState::csBadCard:
                met.push_back(WithReader(CardMute, reader.name));
                break;
            case pcsc::TCardState::csAvailable: {
                const pcsc::AtrInfo atr = pcsc::DecodeAtr(reader.atr);
                if (atr.Valid()) break;
                Met invalid = WithReader(AtrInvalid, reader.name);
                invalid.values.emplace_back(u"{raison}", AtrProblemText(atr.problem));
                met.push_back(std::move(invalid));
                break;
            }
            default: break;
        }
    }
}

Verdict ServiceVerdict(const Findings& findings, const MachineFacts& facts) {
    const ServiceFindings& service = *findings.service;
    std::vector<Met> met;
    if (!service.establish) {
        met.push_back(LibraryMissingMet(facts));
    } else if (*service.establish != pcsc::SCARD_S_SUCCESS) {
        met.push_back(Unreachable(*service.establish, facts));
    } else if (service.listing && service.listing->malformed) {
        met.push_back({ListMalformed});
    } else if (service.listing && pcsc::IsServiceLost(service.listing->status)) {
        met.push_back(Unreachable(service.listing->status, facts));
    } else if (service.listing && service.listing->Failed()) {
        met.push_back(WithError(ListingFailed, service.listing->status));
    } else {
        bool uncomparable = false;
        const std::optional<Listed> mine = ServiceListed(findings, uncomparable);
        const std::optional<Listed> direct = DirectListed(findings);
        std::vector<std::u16string> names;
        for (const ServiceFindings::Reader& reader : service.readers) names.push_back(reader.name);
        std::vector<std::u16string> onlyInDirect;
        if (mine && direct && !uncomparable) onlyInDirect = Missing(*direct, *mine);
        if (!names.empty()) {
            met.push_back(WithReaders(ServiceReadersListed, names));
        } else if (onlyInDirect.empty()) {
            NothingListed(met, findings, facts);
        }
        if (!onlyInDirect.empty()) met.push_back(WithReaders(OnlyInDirect, onlyInDirect));
        CardProblems(met, service);
    }
    return Compose(CheckKind::Service, met);
}

Verdict SerialVerdict(const Findings& findings) {
    const SerialFindings& serial = *findings.serial;
    std::vector<Met> met;
    if (serial.error) {
        // The check stopped there: what it listed before is not all there is.
        met.push_back(
            {SerialPortUnreadable, {{u"{raison}", ShownText(pcsc::Utf8ToUtf16(*serial.error))}}});
        return Compose(CheckKind::Serial, met);
    }
    std::vector<std::u16string> ports;
    for (const SerialPort& port : serial.result.ports) {
        if (!port.error) ports.push_back(port.port);
    }
    met.push_back(ports.empty() ? Met{NoSerialPort} : WithPorts(SerialPortsFound, ports));
    for (const SerialPort& port : serial.result.ports) {
        if (!port.error) continue;
        met.push_back({SerialPortUnreadable,
                       {{u"{raison}", ShownText(port.port) + u" (" +
                                          ShownText(pcsc::Utf8ToUtf16(*port.error)) + u")"}}});
    }
    return Compose(CheckKind::Serial, met);
}

Verdict DirectVerdict(const Findings& findings, const MachineFacts& facts) {
    const DirectCheckResult& direct = *findings.direct;
    std::vector<Met> met;
    bool uncomparable = false;
    const std::optional<Listed> service = ServiceListed(findings, uncomparable);
    if (!direct.establish) {
        met.push_back(LibraryMissingMet(facts));
    } else if (*direct.establish != pcsc::SCARD_S_SUCCESS) {
        met.push_back(Unreachable(*direct.establish, facts));
    } else if (!direct.list) {
        met.push_back(LibraryMissingMet(facts, u" (SCardListReaders manque)"));
    } else if (*direct.list == pcsc::SCARD_E_INSUFFICIENT_BUFFER && service &&
               !findings.service->readers.empty()) {
        met.push_back({DirectListTooLong});
    } else if (pcsc::IsServiceLost(*direct.list)) {
        met.push_back(Unreachable(*direct.list, facts));
    } else if (direct.splitFailed) {
        met.push_back({ListMalformed});
    } else if (*direct.list != pcsc::SCARD_S_SUCCESS &&
               *direct.list != pcsc::SCARD_E_NO_READERS_AVAILABLE) {
        met.push_back(WithError(ListingFailed, *direct.list));
    } else {
        std::vector<std::u16string> onlyInService;
        if (service) onlyInService = Missing(*service, *DirectListed(findings));
        if (!direct.names.empty()) {
            met.push_back(WithReaders(DirectReadersListed, direct.names));
        } else if (onlyInService.empty()) {
            NothingListed(met, findings, facts);
        }
        if (!onlyInService.empty()) met.push_back(WithReaders(OnlyInService, onlyInService));
    }
    return Compose(CheckKind::Direct, met);
}

}  // namespace

std::vector<Verdict> Diagnose(const Findings& findings, const MachineFacts& facts) {
    std::vector<Verdict> verdicts;
    if (findings.service) verdicts.push_back(ServiceVerdict(findings, facts));
    if (findings.serial) verdicts.push_back(SerialVerdict(findings));
    if (findings.direct) verdicts.push_back(DirectVerdict(findings, facts));
    return verdicts;
}

Verdict NoAnswerVerdict() {
    return Compose(CheckKind::Service, {{NoAnswer}});
}

std::u16string_view VerdictWord(VerdictStatus status) {
    switch (status) {
        case VerdictStatus::Ok: return u"OK";
        case VerdictStatus::Warning: return u"ATTENTION";
        case VerdictStatus::Error: return u"ÉCHEC";
    }
    return u"";
}

}  // namespace checks
