#pragma once

#include <cstddef>

namespace pcsclite {

// Values and layouts as pcsc-lite's installed header declares them.
struct Declarations {
    unsigned long protocolRaw;
    unsigned long unsupportedFeature;
    unsigned long ctlCode2049;
    std::size_t maxAtrSize;
    std::size_t readerStateSize;
    std::size_t readerStateAtrOffset;
    std::size_t readerStateCbAtrOffset;
    std::size_t ioRequestSize;
    std::size_t dwordSize;
    std::size_t handleSize;
    unsigned long stateFlags[7];
    unsigned long scopeUser, scopeSystem, shareDirect, unpowerCard;
    unsigned long noService, serviceStopped, noReadersAvailable;
};

Declarations Read();

}  // namespace pcsclite
