#include "checks/Card.h"

#include "pcsc/Tools.h"

namespace checks {

std::u16string ProtocolsText(const std::vector<std::uint8_t>& protocols) {
    std::u16string text;
    for (const std::uint8_t protocol : protocols) {
        if (!text.empty()) text += u", ";
        text += u"T=";
        if (protocol >= 10) text += static_cast<char16_t>(u'0' + protocol / 10);
        text += static_cast<char16_t>(u'0' + protocol % 10);
    }
    return text;
}

std::u16string AtrProblemText(pcsc::AtrProblem problem) {
    switch (problem) {
        case pcsc::AtrProblem::None: return u"";
        case pcsc::AtrProblem::Empty: return u"ATR vide";
        case pcsc::AtrProblem::InvalidTs: return u"premier octet (TS) ni 3B ni 3F";
        case pcsc::AtrProblem::Truncated: return u"ATR tronqué";
        case pcsc::AtrProblem::WrongTck: return u"octet de contrôle (TCK) faux";
        case pcsc::AtrProblem::ExtraBytes: return u"octets en trop après la fin de l'ATR";
    }
    return u"";
}

std::u16string AtrText(const pcsc::Bytes& atr) {
    const pcsc::AtrInfo info = pcsc::DecodeAtr(atr);
    const std::u16string decoded = info.Valid()
                                       ? ProtocolsText(info.protocols)
                                       : u"ATR incorrect : " + AtrProblemText(info.problem);
    return atr.empty() ? decoded : u"ATR " + pcsc::BytesToHexString(atr) + u", " + decoded;
}

std::u16string CardText(pcsc::TCardState state, const pcsc::Bytes& atr) {
    switch (state) {
        case pcsc::TCardState::csNoCard: return u"absente";
        case pcsc::TCardState::csAvailable: return u"présente (" + AtrText(atr) + u")";
        case pcsc::TCardState::csExclusive:
            return u"utilisée en exclusivité par une autre application";
        case pcsc::TCardState::csShared: return u"partagée avec une autre application";
        case pcsc::TCardState::csBadCard: return u"muette";
        case pcsc::TCardState::csUnknown: break;
    }
    return u"état inconnu";
}

}  // namespace checks
