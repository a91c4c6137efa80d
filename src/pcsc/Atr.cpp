#include "pcsc/Atr.h"

#include <algorithm>

namespace pcsc {
namespace {

constexpr std::uint8_t kDirectTs = 0x3B;
constexpr std::uint8_t kInverseTs = 0x3F;
// T=15 in a TD byte announces global interface bytes.
constexpr std::uint8_t kGlobalBytes = 15;

// Fi and Di by the four bits of TA1 that select them; 0 for reserved values.
constexpr std::uint16_t kFi[16] = {372, 372, 558, 744,  1116, 1488, 1860, 0,
                                   0,   512, 768, 1024, 1536, 2048, 0,    0};
constexpr std::uint8_t kDi[16] = {0, 1, 2, 4, 8, 16, 32, 64, 12, 20, 0, 0, 0, 0, 0, 0};

}  // namespace

AtrInfo DecodeAtr(std::span<const std::uint8_t> atr) {
    AtrInfo info;
    if (atr.empty()) {
        info.problem = AtrProblem::Empty;
        return info;
    }
    if (atr[0] == kDirectTs) {
        info.convention = AtrConvention::Direct;
    } else if (atr[0] == kInverseTs) {
        info.convention = AtrConvention::Inverse;
    } else {
        // Without a convention no other byte can be read.
        info.problem = AtrProblem::InvalidTs;
        return info;
    }
    if (atr.size() < 2) {
        info.problem = AtrProblem::Truncated;
        return info;
    }

    // T0, then groups of interface bytes: the high four bits of T0 and of
    // each TD byte say which of TA, TB, TC, TD follow, in that order.
    const std::size_t historicalCount = atr[1] & 0x0F;
    unsigned present = atr[1] >> 4;
    std::size_t position = 2;
    for (int group = 1; present != 0; ++group) {
        const bool hasTd = (present & 0x8) != 0;
        for (unsigned bit = 0x1; bit <= 0x4; bit <<= 1) {
            if ((present & bit) == 0) continue;
            if (position >= atr.size()) {
                info.problem = AtrProblem::Truncated;
                return info;
            }
            if (group == 1 && bit == 0x1) {
                const std::uint8_t ta1 = atr[position];
                if (const std::uint16_t fi = kFi[ta1 >> 4]) info.fi = fi;
                if (const std::uint8_t di = kDi[ta1 & 0x0F]) info.di = di;
            }
            ++position;
        }
        if (!hasTd) break;
        if (position >= atr.size()) {
            info.problem = AtrProblem::Truncated;
            return info;
        }
        const std::uint8_t td = atr[position++];
        const std::uint8_t protocol = td & 0x0F;
        // Any protocol but T=0, T=15 included, calls for the check byte.
        if (protocol != 0) info.tckRequired = true;
        if (protocol != kGlobalBytes && std::find(info.protocols.begin(), info.protocols.end(),
                                                  protocol) == info.protocols.end())
            info.protocols.push_back(protocol);
        present = td >> 4;
    }
    if (info.protocols.empty()) info.protocols.push_back(0);

    const std::size_t historicalEnd = std::min(atr.size(), position + historicalCount);
    info.historical.assign(
        atr.begin() + static_cast<std::ptrdiff_t>(std::min(position, atr.size())),
        atr.begin() + static_cast<std::ptrdiff_t>(historicalEnd));
    position += historicalCount;
    if (info.tckRequired) ++position;
    if (position > atr.size()) {
        info.problem = AtrProblem::Truncated;
        return info;
    }
    if (info.tckRequired) {
        // T0 to TCK inclusive exclusive-or to 0.
        std::uint8_t sum = 0;
        for (std::size_t i = 1; i < position; ++i) sum ^= atr[i];
        if (sum != 0) {
            info.problem = AtrProblem::WrongTck;
            return info;
        }
    }
    if (position < atr.size()) info.problem = AtrProblem::ExtraBytes;
    return info;
}

}  // namespace pcsc
