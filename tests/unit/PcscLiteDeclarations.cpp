// pcsc-lite's own declarations, read in a unit of their own: its header
// defines the PC/SC names as macros, which would clash with the library's.
#include <winscard.h>
#include <reader.h>

#include <cstddef>

#include "PcscLiteDeclarations.h"

namespace pcsclite {

Declarations Read() {
    Declarations d{};
    d.protocolRaw = SCARD_PROTOCOL_RAW;
    d.unsupportedFeature = static_cast<unsigned long>(SCARD_E_UNSUPPORTED_FEATURE);
    d.ctlCode2049 = SCARD_CTL_CODE(2049);
    d.maxAtrSize = MAX_ATR_SIZE;
    d.readerStateSize = sizeof(SCARD_READERSTATE);
    d.readerStateAtrOffset = offsetof(SCARD_READERSTATE, rgbAtr);
    d.readerStateCbAtrOffset = offsetof(SCARD_READERSTATE, cbAtr);
    d.ioRequestSize = sizeof(SCARD_IO_REQUEST);
    d.dwordSize = sizeof(DWORD);
    d.handleSize = sizeof(SCARDHANDLE);
    d.stateFlags[0] = SCARD_STATE_UNAWARE;
    d.stateFlags[1] = SCARD_STATE_UNAVAILABLE;
    d.stateFlags[2] = SCARD_STATE_EMPTY;
    d.stateFlags[3] = SCARD_STATE_PRESENT;
    d.stateFlags[4] = SCARD_STATE_EXCLUSIVE;
    d.stateFlags[5] = SCARD_STATE_INUSE;
    d.stateFlags[6] = SCARD_STATE_MUTE;
    d.scopeUser = SCARD_SCOPE_USER;
    d.scopeSystem = SCARD_SCOPE_SYSTEM;
    d.shareDirect = SCARD_SHARE_DIRECT;
    d.unpowerCard = SCARD_UNPOWER_CARD;
    d.noService = static_cast<unsigned long>(SCARD_E_NO_SERVICE);
    d.serviceStopped = static_cast<unsigned long>(SCARD_E_SERVICE_STOPPED);
    d.noReadersAvailable = static_cast<unsigned long>(SCARD_E_NO_READERS_AVAILABLE);
    return d;
}

}  // namespace pcsclite
