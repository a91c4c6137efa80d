// The binding's wrappers on Windows: winscard.dll's wide entry points take
// exactly the library's own records and UTF-16 texts, so every argument goes
// through the call seam (CallSeam.h) as it is and every result comes back as
// it came.
#include <cstddef>
#include <type_traits>

#include "pcsc/PCSCRaw.h"
#include "pcsc/platform/CallSeam.h"

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

namespace e = platform::entries;
using platform::Forward;

Status TPCSCRaw::SCardBeginTransaction(Handle hContext) {
    return Forward(FValid, FSCardBeginTransaction, e::kBeginTransaction, hContext);
}

Status TPCSCRaw::SCardCancel(Handle hContext) {
    return Forward(FValid, FSCardCancel, e::kCancel, hContext);
}

Status TPCSCRaw::SCardConnect(Handle hContext, const char16_t* pReader, std::uint32_t ShareMode,
                              std::uint32_t PreferredProtocols, Handle& CardHandle,
                              std::uint32_t& ActiveProtocol) {
    return Forward(FValid, FSCardConnect, e::kConnect, hContext, pReader, ShareMode,
                   PreferredProtocols, &CardHandle, &ActiveProtocol);
}

Status TPCSCRaw::SCardControl(Handle hContext, std::uint32_t IoCtl, const void* pInBuffer,
                              std::uint32_t SizeInBuffer, void* pOutBuffer,
                              std::uint32_t SizeOutBuffer, std::uint32_t& BytesRet) {
    return Forward(FValid, FSCardControl, e::kControl, hContext, IoCtl, pInBuffer, SizeInBuffer,
                   pOutBuffer, SizeOutBuffer, &BytesRet);
}

Status TPCSCRaw::SCardDisconnect(Handle hContext, std::uint32_t Disposition) {
    return Forward(FValid, FSCardDisconnect, e::kDisconnect, hContext, Disposition);
}

Status TPCSCRaw::SCardEndTransaction(Handle hContext, std::uint32_t Disposition) {
    return Forward(FValid, FSCardEndTransaction, e::kEndTransaction, hContext, Disposition);
}

Status TPCSCRaw::SCardEstablishContext(std::uint32_t Scope, const void* pReserved1,
                                       const void* pReserved2, Handle& hContext) {
    return Forward(FValid, FSCardEstablishContext, e::kEstablishContext, Scope, pReserved1,
                   pReserved2, &hContext);
}

Status TPCSCRaw::SCardFreeMemory(Handle hContext, const void* pMem) {
    return Forward(FValid, FSCardFreeMemory, e::kFreeMemory, hContext, pMem);
}

Status TPCSCRaw::SCardGetAttrib(Handle hCard, std::uint32_t AttrId, std::uint8_t* pAttr,
                                std::uint32_t& SizeAttr) {
    return Forward(FValid, FSCardGetAttrib, e::kGetAttrib, hCard, AttrId, pAttr, &SizeAttr);
}

Status TPCSCRaw::SCardGetProviderId(Handle hContext, const char16_t* pCard,
                                    std::uint8_t (&GuidProviderId)[16]) {
    return Forward(FValid, FSCardGetProviderId, e::kGetProviderId, hContext, pCard, GuidProviderId);
}

Status TPCSCRaw::SCardGetStatusChange(Handle hContext, std::uint32_t Timeout,
                                      PSCardReaderStateA pReaderStates,
                                      std::uint32_t ReadersStatesCount) {
    return Forward(FValid, FSCardGetStatusChange, e::kGetStatusChange, hContext, Timeout,
                   Native(pReaderStates), ReadersStatesCount);
}

Status TPCSCRaw::SCardListReaders(Handle hContext, const char16_t* pGroups, char16_t* pReaders,
                                  std::uint32_t& SizeReaders) {
    return Forward(FValid, FSCardListReaders, e::kListReaders, hContext, pGroups, pReaders,
                   &SizeReaders);
}

Status TPCSCRaw::SCardListCards(Handle hContext, const std::uint8_t* pAtr,
                                const void* pGuidInterfaces, std::uint32_t GuidInterfacesCount,
                                char16_t* pCards, std::uint32_t& SizeCards) {
    return Forward(FValid, FSCardListCards, e::kListCards, hContext, pAtr, pGuidInterfaces,
                   GuidInterfacesCount, pCards, &SizeCards);
}

Status TPCSCRaw::SCardListInterfaces(Handle hContext, const char16_t* pCard, void* pGuidInterfaces,
                                     std::uint32_t& GuidInterfacesCount) {
    return Forward(FValid, FSCardListInterfaces, e::kListInterfaces, hContext, pCard,
                   pGuidInterfaces, &GuidInterfacesCount);
}

Status TPCSCRaw::SCardListReaderGroups(Handle hContext, char16_t* pGroups,
                                       std::uint32_t& SizeGroups) {
    return Forward(FValid, FSCardListReaderGroups, e::kListReaderGroups, hContext, pGroups,
                   &SizeGroups);
}

Status TPCSCRaw::SCardLocateCards(Handle hContext, const char16_t* pCards,
                                  PSCardReaderStateA pReaderStates,
                                  std::uint32_t ReaderStatesCount) {
    return Forward(FValid, FSCardLocateCards, e::kLocateCards, hContext, pCards,
                   Native(pReaderStates), ReaderStatesCount);
}

Status TPCSCRaw::SCardReconnect(Handle hCard, std::uint32_t ShareMode,
                                std::uint32_t PreferredProtocols, std::uint32_t dwInitialization,
                                std::uint32_t& ActiveProtocol) {
    return Forward(FValid, FSCardReconnect, e::kReconnect, hCard, ShareMode, PreferredProtocols,
                   dwInitialization, &ActiveProtocol);
}

Status TPCSCRaw::SCardReleaseContext(Handle hContext) {
    return Forward(FValid, FSCardReleaseContext, e::kReleaseContext, hContext);
}

Status TPCSCRaw::SCardTransmit(Handle hCard, const TSCardIoRequest* PioSendPci,
                               const std::uint8_t* SendBuffer, std::uint32_t SizeSendBuffer,
                               TSCardIoRequest* PioRecvPci, std::uint8_t* RecvBuffer,
                               std::uint32_t& SizeRecvBuffer) {
    return Forward(FValid, FSCardTransmit, e::kTransmit, hCard, Native(PioSendPci), SendBuffer,
                   SizeSendBuffer, Native(PioRecvPci), RecvBuffer, &SizeRecvBuffer);
}

Status TPCSCRaw::SCardSetAttrib(Handle hCard, std::uint32_t AttrId, const std::uint8_t* pAttr,
                                std::uint32_t AttrLen) {
    return Forward(FValid, FSCardSetAttrib, e::kSetAttrib, hCard, AttrId, pAttr, AttrLen);
}

Status TPCSCRaw::SCardStatus(Handle hCard, char16_t* pReaderNames, std::uint32_t& SizeReaderNames,
                             std::uint32_t& State, std::uint32_t& Protocol, std::uint8_t* pAtr,
                             std::uint32_t& AtrLen) {
    return Forward(FValid, FSCardStatus, e::kStatus, hCard, pReaderNames, &SizeReaderNames, &State,
                   &Protocol, pAtr, &AtrLen);
}

}  // namespace pcsc
