// A reader's card as the reports name it: its state, and its answer-to-reset
// decoded (pcsc/Atr.h) into what a technician can act on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pcsc/Atr.h"
#include "pcsc/PCSCDef.h"
#include "pcsc/Reader.h"

namespace checks {

// "T=1", "T=0, T=1".
std::u16string ProtocolsText(const std::vector<std::uint8_t>& protocols);

// Why the bytes are not an answer-to-reset: "ATR tronqué"...
std::u16string AtrProblemText(pcsc::AtrProblem problem);

// "ATR 3B 02 14 50, T=0", or, for bytes that are not an answer-to-reset,
// "ATR 3B 95 13, ATR incorrect : ATR tronqué".
std::u16string AtrText(const pcsc::Bytes& atr);

// What the line "Carte : …" under a reader says: "absente", "présente (ATR
// …, T=…)", "utilisée en exclusivité par une autre application", "partagée
// avec une autre application", "muette", "état inconnu".
std::u16string CardText(pcsc::TCardState state, const pcsc::Bytes& atr);

}  // namespace checks
