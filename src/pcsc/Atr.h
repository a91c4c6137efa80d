// A card's answer-to-reset read by the rules of ISO/IEC 7816-3: how the card
// codes its bits, the protocols it offers, the rate factors of TA1, its
// historical bytes, and whether the bytes form an answer-to-reset at all.
// A pure function of the bytes: it trusts nothing in them and reads nothing
// past them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pcsc/PCSCDef.h"

namespace pcsc {

enum class AtrConvention : std::uint8_t {
    Unknown,  // TS is not one of the two conventions
    Direct,   // TS 3B
    Inverse,  // TS 3F
};

// Why the bytes are not a well-formed answer-to-reset; the first met, in
// reading order.
enum class AtrProblem : std::uint8_t {
    None,
    Empty,       // no byte at all
    InvalidTs,   // TS is neither 3B nor 3F
    Truncated,   // the bytes end before what T0 and the TD bytes announce
    WrongTck,    // the check byte does not make T0 to TCK exclusive-or to 0
    ExtraBytes,  // bytes past the end that T0 and the TD bytes announce
};

struct AtrInfo {
    AtrConvention convention = AtrConvention::Unknown;
    // The protocols offered (T=0 to T=14), in the order of the TD bytes,
    // each once; T=0 alone when no TD byte names another. T=15 only
    // announces global interface bytes: it is not a protocol.
    std::vector<std::uint8_t> protocols;
    // From TA1, when the answer has one: the clock rate conversion factor Fi
    // and the baud rate adjustment factor Di; absent for a reserved value.
    std::optional<std::uint16_t> fi;
    std::optional<std::uint8_t> di;
    // The historical bytes (as many as there are, when the answer is cut).
    Bytes historical;
    // The answer ends with a check byte: required unless T=0 alone is offered.
    bool tckRequired = false;
    AtrProblem problem = AtrProblem::None;

    bool Valid() const { return problem == AtrProblem::None; }
};

AtrInfo DecodeAtr(std::span<const std::uint8_t> atr);

}  // namespace pcsc
