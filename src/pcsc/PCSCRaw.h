// Run-time binding to the system's smart-card library. The library does not
// have to exist: when it is absent or incomplete the binding is not valid and
// every wrapper answers SCARD_E_UNSUPPORTED_FEATURE instead of calling.
//
// Wrappers forward their arguments to the entry point of the same name and
// hand back its 32-bit status code. Where the platform library has no UTF-16
// entry points (pcsc-lite) the wrappers convert texts, widths and records on
// the way, and nothing else.
#pragma once

#include <cstdint>

#include "pcsc/EntryPoints.h"
#include "pcsc/PCSCDef.h"

namespace pcsc {

class TPCSCRaw {
public:
    TPCSCRaw();
    ~TPCSCRaw();
    TPCSCRaw(const TPCSCRaw&) = delete;
    TPCSCRaw& operator=(const TPCSCRaw&) = delete;

    // Loads the library and binds the entry points; true when the binding
    // became valid. A library lacking a required entry point is released.
    bool Initialize();
    // Releases the library; true when there was something to release.
    bool Shutdown();

    bool Valid() const { return FValid; }
    platform::ModuleHandle hWinSCard() const { return FhWinSCard; }

    // The device-control code of a smart-card function number (2049 -> the
    // reader version query). Pure arithmetic, valid binding or not.
    std::uint32_t SCardCTLCode(std::uint32_t Code) const;

    Status SCardBeginTransaction(Handle hContext);
    Status SCardCancel(Handle hContext);
    Status SCardConnect(Handle hContext, const char16_t* pReader, std::uint32_t ShareMode,
                        std::uint32_t PreferredProtocols, Handle& CardHandle,
                        std::uint32_t& ActiveProtocol);
    Status SCardControl(Handle hContext, std::uint32_t IoCtl, const void* pInBuffer,
                        std::uint32_t SizeInBuffer, void* pOutBuffer, std::uint32_t SizeOutBuffer,
                        std::uint32_t& BytesRet);
    Status SCardDisconnect(Handle hContext, std::uint32_t Disposition);
    Status SCardEndTransaction(Handle hContext, std::uint32_t Disposition);
    Status SCardEstablishContext(std::uint32_t Scope, const void* pReserved1,
                                 const void* pReserved2, Handle& hContext);
    Status SCardFreeMemory(Handle hContext, const void* pMem);
    Status SCardGetAttrib(Handle hCard, std::uint32_t AttrId, std::uint8_t* pAttr,
                          std::uint32_t& SizeAttr);
    Status SCardGetProviderId(Handle hContext, const char16_t* pCard,
                              std::uint8_t (&GuidProviderId)[16]);
    Status SCardGetStatusChange(Handle hContext, std::uint32_t Timeout,
                                PSCardReaderStateA pReaderStates, std::uint32_t ReadersStatesCount);
    // SizeReaders counts UTF-16 characters, both final NULs included.
    Status SCardListReaders(Handle hContext, const char16_t* pGroups, char16_t* pReaders,
                            std::uint32_t& SizeReaders);
    Status SCardListCards(Handle hContext, const std::uint8_t* pAtr, const void* pGuidInterfaces,
                          std::uint32_t GuidInterfacesCount, char16_t* pCards,
                          std::uint32_t& SizeCards);
    Status SCardListInterfaces(Handle hContext, const char16_t* pCard, void* pGuidInterfaces,
                               std::uint32_t& GuidInterfacesCount);
    Status SCardListReaderGroups(Handle hContext, char16_t* pGroups, std::uint32_t& SizeGroups);
    Status SCardLocateCards(Handle hContext, const char16_t* pCards,
                            PSCardReaderStateA pReaderStates, std::uint32_t ReaderStatesCount);
    Status SCardReconnect(Handle hCard, std::uint32_t ShareMode, std::uint32_t PreferredProtocols,
                          std::uint32_t dwInitialization, std::uint32_t& ActiveProtocol);
    Status SCardReleaseContext(Handle hContext);
    Status SCardTransmit(Handle hCard, const TSCardIoRequest* PioSendPci,
                         const std::uint8_t* SendBuffer, std::uint32_t SizeSendBuffer,
                         TSCardIoRequest* PioRecvPci, std::uint8_t* RecvBuffer,
                         std::uint32_t& SizeRecvBuffer);
    Status SCardSetAttrib(Handle hCard, std::uint32_t AttrId, const std::uint8_t* pAttr,
                          std::uint32_t AttrLen);
    Status SCardStatus(Handle hCard, char16_t* pReaderNames, std::uint32_t& SizeReaderNames,
                       std::uint32_t& State, std::uint32_t& Protocol, std::uint8_t* pAtr,
                       std::uint32_t& AtrLen);
    // Never bound: always SCARD_E_UNSUPPORTED_FEATURE.
    Status SCardIsValidContext(Handle hContext);

private:
    static std::uint32_t CTLCode(std::uint32_t DeviceType, std::uint32_t Function,
                                 std::uint32_t Method, std::uint32_t Access);

    bool FValid = false;
    platform::ModuleHandle FhWinSCard = 0;
    TSCardBeginTransaction FSCardBeginTransaction = nullptr;
    TSCardCancel FSCardCancel = nullptr;
    TSCardConnect FSCardConnect = nullptr;
    TSCardControl FSCardControl = nullptr;
    TSCardDisconnect FSCardDisconnect = nullptr;
    TSCardEndTransaction FSCardEndTransaction = nullptr;
    TSCardEstablishContext FSCardEstablishContext = nullptr;
    TSCardFreeMemory FSCardFreeMemory = nullptr;
    TSCardGetAttrib FSCardGetAttrib = nullptr;
    TSCardGetProviderId FSCardGetProviderId = nullptr;
    TSCardGetStatusChange FSCardGetStatusChange = nullptr;
    TSCardListReaders FSCardListReaders = nullptr;
    TSCardListCards FSCardListCards = nullptr;
    TSCardListInterfaces FSCardListInterfaces = nullptr;
    TSCardListReaderGroups FSCardListReaderGroups = nullptr;
    TSCardLocateCards FSCardLocateCards = nullptr;
    TSCardReconnect FSCardReconnect = nullptr;
    TSCardReleaseContext FSCardReleaseContext = nullptr;
    TSCardTransmit FSCardTransmit = nullptr;
    TSCardSetAttrib FSCardSetAttrib = nullptr;
    TSCardStatus FSCardStatus = nullptr;
    TSCardIsValidContext FSCardIsValidContext = nullptr;
};

// Splits the service's reader multi-string (names each ended by NUL, the
// whole ended by a second NUL; Size counts both final NULs) into List.
// False, with List empty, for a buffer that does not end in two NULs; false
// and nothing touched for a null List.
bool ReaderMultiStringToList(const char16_t* Buffer, std::int32_t Size, StringList* List);

}  // namespace pcsc
