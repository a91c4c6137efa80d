// A fake smart-card library exporting pcsc-lite's API, for what the real
// service cannot be made to produce. Its declarations come from pcsc-lite's
// own header, so the compiler holds every exported signature to pcsc-lite's.
//
// Built in variants: FAKE_PCSC_NO_STATUS leaves out SCardStatus,
// FAKE_PCSC_NO_GETSTATUSCHANGE leaves out SCardGetStatusChange and
// FAKE_PCSC_NO_LISTREADERS leaves out SCardListReaders.
//
// The state and what each call does with it are FakeCore's; this file keeps
// pcsc-lite's signatures and how it hands out names.
#include <winscard.h>
#include <strings.h>

#include <optional>
#include <string>

#include "FakeCore.h"

namespace core = fake::core;

namespace {

// pcsc-lite's names are UTF-8 already.
struct Names {
    static bool IsNotification(const char* name) {
        return name && strcasecmp(name, "\\\\?PnP?\\Notification") == 0;
    }
    static std::string Utf8(const char* name) { return name; }
};

}  // namespace

// ---- pcsc-lite's API -----------------------------------------------------------

FAKE_EXPORT LONG SCardEstablishContext(DWORD dwScope, LPCVOID, LPCVOID, LPSCARDCONTEXT phContext) {
    return core::EstablishContext(dwScope, phContext);
}

FAKE_EXPORT LONG SCardReleaseContext(SCARDCONTEXT hContext) {
    return core::ReleaseContext(hContext);
}

FAKE_EXPORT LONG SCardIsValidContext(SCARDCONTEXT hContext) {
    return core::IsValidContext(hContext);
}

FAKE_EXPORT LONG SCardConnect(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                              DWORD dwPreferredProtocols, LPSCARDHANDLE phCard,
                              LPDWORD pdwActiveProtocol) {
    std::optional<std::string> reader;
    if (szReader) reader = szReader;
    return core::Connect("SCardConnect", hContext, reader, dwShareMode, dwPreferredProtocols,
                         phCard, pdwActiveProtocol);
}

FAKE_EXPORT LONG SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode, DWORD dwPreferredProtocols,
                                DWORD dwInitialization, LPDWORD pdwActiveProtocol) {
    return core::Reconnect(hCard, dwShareMode, dwPreferredProtocols, dwInitialization,
                           pdwActiveProtocol);
}

FAKE_EXPORT LONG SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
    return core::Disconnect(hCard, dwDisposition);
}

FAKE_EXPORT LONG SCardBeginTransaction(SCARDHANDLE hCard) {
    return core::BeginTransaction(hCard);
}

FAKE_EXPORT LONG SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) {
    return core::EndTransaction(hCard, dwDisposition);
}

#ifndef FAKE_PCSC_NO_STATUS
// pcsc-lite hands out the reader's name with a single NUL.
FAKE_EXPORT LONG SCardStatus(SCARDHANDLE hCard, LPSTR szReaderName, LPDWORD pcchReaderLen,
                             LPDWORD pdwState, LPDWORD pdwProtocol, LPBYTE pbAtr,
                             LPDWORD pcbAtrLen) {
    return core::Status("SCardStatus", hCard, szReaderName, pcchReaderLen, pdwState, pdwProtocol,
                        pbAtr, pcbAtrLen,
                        [](const std::string& name) { return name + std::string(1, '\0'); });
}
#endif

#ifndef FAKE_PCSC_NO_GETSTATUSCHANGE
FAKE_EXPORT LONG SCardGetStatusChange(SCARDCONTEXT hContext, DWORD dwTimeout,
                                      SCARD_READERSTATE* rgReaderStates, DWORD cReaders) {
    return core::GetStatusChange("SCardGetStatusChange", hContext, dwTimeout, rgReaderStates,
                                 cReaders, Names());
}
#endif

FAKE_EXPORT LONG SCardCancel(SCARDCONTEXT hContext) {
    return core::Cancel(hContext);
}

#ifndef FAKE_PCSC_NO_LISTREADERS
FAKE_EXPORT LONG SCardListReaders(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                                  LPDWORD pcchReaders) {
    return core::ListReaders("SCardListReaders", hContext, mszGroups != nullptr, mszReaders,
                             pcchReaders, [](const std::string& list, bool) { return list; });
}
#endif

FAKE_EXPORT LONG SCardListReaderGroups(SCARDCONTEXT hContext, LPSTR mszGroups, LPDWORD pcchGroups) {
    return core::ListReaderGroups("SCardListReaderGroups", hContext,
                                  std::string("SCard$DefaultReaders\0\0", 22), mszGroups,
                                  pcchGroups);
}

FAKE_EXPORT LONG SCardFreeMemory(SCARDCONTEXT, LPCVOID) {
    return core::FreeMemory();
}

FAKE_EXPORT LONG SCardTransmit(SCARDHANDLE hCard, const SCARD_IO_REQUEST* pioSendPci,
                               LPCBYTE pbSendBuffer, DWORD cbSendLength,
                               SCARD_IO_REQUEST* pioRecvPci, LPBYTE pbRecvBuffer,
                               LPDWORD pcbRecvLength) {
    return core::Transmit(hCard, pioSendPci, pbSendBuffer, cbSendLength, pioRecvPci, pbRecvBuffer,
                          pcbRecvLength);
}

FAKE_EXPORT LONG SCardControl(SCARDHANDLE hCard, DWORD dwControlCode, LPCVOID, DWORD cbSendLength,
                              LPVOID pbRecvBuffer, DWORD cbRecvLength, LPDWORD lpBytesReturned) {
    return core::Control(hCard, dwControlCode, cbSendLength, pbRecvBuffer, cbRecvLength,
                         lpBytesReturned);
}

FAKE_EXPORT LONG SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr,
                                LPDWORD pcbAttrLen) {
    return core::GetAttrib(hCard, dwAttrId, pbAttr, pcbAttrLen);
}

FAKE_EXPORT LONG SCardSetAttrib(SCARDHANDLE hCard, DWORD, LPCBYTE, DWORD) {
    return core::SetAttrib(hCard);
}
