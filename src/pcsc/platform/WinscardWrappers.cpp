// The binding's wrappers on Windows: winscard.dll's wide entry points take
// exactly the library's own records and UTF-16 texts, so every argument goes
// through as it is and every result comes back as it came.
#include <cstddef>
#include <type_traits>

#include "pcsc/InFlight.h"
#include "pcsc/PCSCRaw.h"

namespace pcsc {
namespace {

using platform::NativeHandle;
using platform::NativeIoRequest;
using platform::NativeReaderState;

// The library's records are the platform's, field for field.
static_assert(sizeof(TSCardReaderStateA) == sizeof(NativeReaderState));
static_assert(alignof(TSCardReaderStateA) == alignof(NativeReaderState));
static_assert(offsetof(TSCardReaderStateA, szReader) == offsetof(NativeReaderState, szReader));
static_assert(offsetof(TSCardReaderStateA, pvUserData) == offsetof(NativeReaderState, pvUserData));
static_assert(offsetof(TSCardReaderStateA, dwCurrentState) ==
              offsetof(NativeReaderState, dwCurrentState));
static_assert(offsetof(TSCardReaderStateA, dwEventState) ==
              offsetof(NativeReaderState, dwEventState));
static_assert(offsetof(TSCardReaderStateA, cbAtr) == offsetof(NativeReaderState, cbAtr));
static_assert(offsetof(TSCardReaderStateA, rgbAtr) == offsetof(NativeReaderState, rgbAtr));
static_assert(sizeof(TSCardReaderStateA::rgbAtr) == platform::kMaxAtrSize);
static_assert(std::is_same_v<decltype(TSCardReaderStateA::szReader), platform::NativeText>);
static_assert(sizeof(TSCardIoRequest) == sizeof(NativeIoRequest));
static_assert(offsetof(TSCardIoRequest, Protocol) == offsetof(NativeIoRequest, dwProtocol));
static_assert(offsetof(TSCardIoRequest, Size) == offsetof(NativeIoRequest, cbPciLength));
static_assert(std::is_same_v<Handle, NativeHandle>);
static_assert(std::is_same_v<std::uint32_t, platform::NativeDword>);

Status Code(platform::NativeLong result) {
    return static_cast<Status>(result);
}

NativeReaderState* Native(PSCardReaderStateA states) {
    return reinterpret_cast<NativeReaderState*>(states);
}

const NativeIoRequest* Native(const TSCardIoRequest* request) {
    return reinterpret_cast<const NativeIoRequest*>(request);
}

NativeIoRequest* Native(TSCardIoRequest* request) {
    return reinterpret_cast<NativeIoRequest*>(request);
}

}  // namespace

#define VARDEL_REQUIRE_ENTRY(field) \
    if (!FValid || !(field)) return SCARD_E_UNSUPPORTED_FEATURE

Status TPCSCRaw::SCardBeginTransaction(Handle hContext) {
    VARDEL_REQUIRE_ENTRY(FSCardBeginTransaction);
    InFlightCall in("SCardBeginTransaction");
    return Code(FSCardBeginTransaction(hContext));
}

Status TPCSCRaw::SCardCancel(Handle hContext) {
    VARDEL_REQUIRE_ENTRY(FSCardCancel);
    InFlightCall in("SCardCancel");
    return Code(FSCardCancel(hContext));
}

Status TPCSCRaw::SCardConnect(Handle hContext, const char16_t* pReader, std::uint32_t ShareMode,
                              std::uint32_t PreferredProtocols, Handle& CardHandle,
                              std::uint32_t& ActiveProtocol) {
    VARDEL_REQUIRE_ENTRY(FSCardConnect);
    InFlightCall in("SCardConnect");
    return Code(FSCardConnect(hContext, pReader, ShareMode, PreferredProtocols, &CardHandle,
                              &ActiveProtocol));
}

Status TPCSCRaw::SCardControl(Handle hContext, std::uint32_t IoCtl, const void* pInBuffer,
                              std::uint32_t SizeInBuffer, void* pOutBuffer,
                              std::uint32_t SizeOutBuffer, std::uint32_t& BytesRet) {
    VARDEL_REQUIRE_ENTRY(FSCardControl);
    InFlightCall in("SCardControl");
    return Code(FSCardControl(hContext, IoCtl, pInBuffer, SizeInBuffer, pOutBuffer, SizeOutBuffer,
                              &BytesRet));
}

Status TPCSCRaw::SCardDisconnect(Handle hContext, std::uint32_t Disposition) {
    VARDEL_REQUIRE_ENTRY(FSCardDisconnect);
    InFlightCall in("SCardDisconnect");
    return Code(FSCardDisconnect(hContext, Disposition));
}

Status TPCSCRaw::SCardEndTransaction(Handle hContext, std::uint32_t Disposition) {
    VARDEL_REQUIRE_ENTRY(FSCardEndTransaction);
    InFlightCall in("SCardEndTransaction");
    return Code(FSCardEndTransaction(hContext, Disposition));
}

Status TPCSCRaw::SCardEstablishContext(std::uint32_t Scope, const void* pReserved1,
                                       const void* pReserved2, Handle& hContext) {
    VARDEL_REQUIRE_ENTRY(FSCardEstablishContext);
    InFlightCall in("SCardEstablishContext");
    return Code(FSCardEstablishContext(Scope, pReserved1, pReserved2, &hContext));
}

Status TPCSCRaw::SCardFreeMemory(Handle hContext, const void* pMem) {
    VARDEL_REQUIRE_ENTRY(FSCardFreeMemory);
    InFlightCall in("SCardFreeMemory");
    return Code(FSCardFreeMemory(hContext, pMem));
}

Status TPCSCRaw::SCardGetAttrib(Handle hCard, std::uint32_t AttrId, std::uint8_t* pAttr,
                                std::uint32_t& SizeAttr) {
    VARDEL_REQUIRE_ENTRY(FSCardGetAttrib);
    InFlightCall in("SCardGetAttrib");
    return Code(FSCardGetAttrib(hCard, AttrId, pAttr, &SizeAttr));
}

Status TPCSCRaw::SCardGetProviderId(Handle hContext, const char16_t* pCard,
                                    std::uint8_t (&GuidProviderId)[16]) {
    VARDEL_REQUIRE_ENTRY(FSCardGetProviderId);
    InFlightCall in("SCardGetProviderId");
    return Code(FSCardGetProviderId(hContext, pCard, GuidProviderId));
}

Status TPCSCRaw::SCardGetStatusChange(Handle hContext, std::uint32_t Timeout,
                                      PSCardReaderStateA pReaderStates,
                                      std::uint32_t ReadersStatesCount) {
    VARDEL_REQUIRE_ENTRY(FSCardGetStatusChange);
    InFlightCall in("SCardGetStatusChange");
    return Code(FSCardGetStatusChange(hContext, Timeout, Native(pReaderStates), ReadersStatesCount));
}

Status TPCSCRaw::SCardListReaders(Handle hContext, const char16_t* pGroups, char16_t* pReaders,
                                  std::uint32_t& SizeReaders) {
    VARDEL_REQUIRE_ENTRY(FSCardListReaders);
    InFlightCall in("SCardListReaders");
    return Code(FSCardListReaders(hContext, pGroups, pReaders, &SizeReaders));
}

Status TPCSCRaw::SCardListCards(Handle hContext, const std::uint8_t* pAtr,
                                const void* pGuidInterfaces, std::uint32_t GuidInterfacesCount,
                                char16_t* pCards, std::uint32_t& SizeCards) {
    VARDEL_REQUIRE_ENTRY(FSCardListCards);
    InFlightCall in("SCardListCards");
    return Code(FSCardListCards(hContext, pAtr, pGuidInterfaces, GuidInterfacesCount, pCards,
                                &SizeCards));
}

Status TPCSCRaw::SCardListInterfaces(Handle hContext, const char16_t* pCard, void* pGuidInterfaces,
                                     std::uint32_t& GuidInterfacesCount) {
    VARDEL_REQUIRE_ENTRY(FSCardListInterfaces);
    InFlightCall in("SCardListInterfaces");
    return Code(FSCardListInterfaces(hContext, pCard, pGuidInterfaces, &GuidInterfacesCount));
}

Status TPCSCRaw::SCardListReaderGroups(Handle hContext, char16_t* pGroups,
                                       std::uint32_t& SizeGroups) {
    VARDEL_REQUIRE_ENTRY(FSCardListReaderGroups);
    InFlightCall in("SCardListReaderGroups");
    return Code(FSCardListReaderGroups(hContext, pGroups, &SizeGroups));
}

Status TPCSCRaw::SCardLocateCards(Handle hContext, const char16_t* pCards,
                                  PSCardReaderStateA pReaderStates,
                                  std::uint32_t ReaderStatesCount) {
    VARDEL_REQUIRE_ENTRY(FSCardLocateCards);
    InFlightCall in("SCardLocateCards");
    return Code(FSCardLocateCards(hContext, pCards, Native(pReaderStates), ReaderStatesCount));
}

Status TPCSCRaw::SCardReconnect(Handle hCard, std::uint32_t ShareMode,
                                std::uint32_t PreferredProtocols, std::uint32_t dwInitialization,
                                std::uint32_t& ActiveProtocol) {
    VARDEL_REQUIRE_ENTRY(FSCardReconnect);
    InFlightCall in("SCardReconnect");
    return Code(FSCardReconnect(hCard, ShareMode, PreferredProtocols, dwInitialization,
                                &ActiveProtocol));
}

Status TPCSCRaw::SCardReleaseContext(Handle hContext) {
    VARDEL_REQUIRE_ENTRY(FSCardReleaseContext);
    InFlightCall in("SCardReleaseContext");
    return Code(FSCardReleaseContext(hContext));
}

Status TPCSCRaw::SCardTransmit(Handle hCard, const TSCardIoRequest* PioSendPci,
                               const std::uint8_t* SendBuffer, std::uint32_t SizeSendBuffer,
                               TSCardIoRequest* PioRecvPci, std::uint8_t* RecvBuffer,
                               std::uint32_t& SizeRecvBuffer) {
    VARDEL_REQUIRE_ENTRY(FSCardTransmit);
    InFlightCall in("SCardTransmit");
    return Code(FSCardTransmit(hCard, Native(PioSendPci), SendBuffer, SizeSendBuffer,
                               Native(PioRecvPci), RecvBuffer, &SizeRecvBuffer));
}

Status TPCSCRaw::SCardSetAttrib(Handle hCard, std::uint32_t AttrId, const std::uint8_t* pAttr,
                                std::uint32_t AttrLen) {
    VARDEL_REQUIRE_ENTRY(FSCardSetAttrib);
    InFlightCall in("SCardSetAttrib");
    return Code(FSCardSetAttrib(hCard, AttrId, pAttr, AttrLen));
}

Status TPCSCRaw::SCardStatus(Handle hCard, char16_t* pReaderNames, std::uint32_t& SizeReaderNames,
                             std::uint32_t& State, std::uint32_t& Protocol, std::uint8_t* pAtr,
                             std::uint32_t& AtrLen) {
    VARDEL_REQUIRE_ENTRY(FSCardStatus);
    InFlightCall in("SCardStatus");
    return Code(FSCardStatus(hCard, pReaderNames, &SizeReaderNames, &State, &Protocol, pAtr,
                             &AtrLen));
}

#undef VARDEL_REQUIRE_ENTRY

}  // namespace pcsc
